"""A small POP3 server over a mailbox folder, for the tests of the checking
cycle and the message reader.

    pop3_mailbox.py FOLDER PIPELINING UIDL [REFUSED CUT LATE [QUIT]]

FOLDER holds one file per message, named by its unique identifier, and the
file "order" with those identifiers one a line, in server order. Each
connection reads the order anew; QUIT removes what was deleted and writes it
back, so the test sees the server's deletions in "order" and can change the
mailbox between sessions as another client would. PIPELINING and UIDL ("1"
or "0") say what CAPA offers. Every command goes to FOLDER/commands.log as it
came, with " ahead" when more bytes had already arrived before it was
answered (a command sent ahead); a connection that ends without QUIT leaves
the line "(closed)".

REFUSED, CUT and LATE each name commands by their first words ("TOP 90"
stands for "TOP 90 0"; several split by commas, as "TOP 1,TOP 2"; "" for
none) that are answered otherwise every time they come: REFUSED with "-ERR
no such message", CUT not at all (the server closes the connection), LATE
only after 1.5 seconds. A server whose REFUSED is "TOP" gives no header at
all, and its CAPA does not list TOP.

QUIT says how the first session's deletions end (later ones carry them out
and answer "+OK"): "" (or none) as later; "cut" carries them out and closes
the connection with no answer; any other text carries out the first of them
alone and is the answer (as "-ERR some deleted messages not removed").
"""
import os
import socket
import sys
import time

folder, pipelining, uidl = sys.argv[1], sys.argv[2] == "1", sys.argv[3] == "1"
refused, cut, late, first_quit = (sys.argv[4:] + ["", "", "", ""])[:4]


def named(cmd, words):
    return any(w and (cmd.upper() + " ").startswith(w.upper() + " ") for w in words.split(","))


def read_order():
    with open(os.path.join(folder, "order")) as f:
        return [line.strip() for line in f if line.strip()]


def write_order(uids):
    tmp = os.path.join(folder, "order.tmp")
    with open(tmp, "w") as f:
        f.write("".join(u + "\n" for u in uids))
    os.replace(tmp, os.path.join(folder, "order"))


def text_of(uid):
    with open(os.path.join(folder, uid), "rb") as f:
        return f.read()


def header_of(text):
    end = text.find(b"\r\n\r\n")
    return text if end < 0 else text[: end + 4]


def dotted(text):
    lines = text.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


def commands(conn):
    """Each command, and whether more had arrived before it was answered."""
    pending = b""
    while True:
        while b"\n" not in pending:
            chunk = conn.recv(65536)
            if not chunk:
                return
            pending += chunk
        line, pending = pending.split(b"\n", 1)
        if not pending:
            conn.settimeout(0.0)
            try:
                pending = conn.recv(65536)
            except OSError:
                pass
            conn.settimeout(None)
        yield line.decode("latin-1").strip(), bool(pending)


def hang_up(conn):
    """Ends the connection with a FIN however much was sent ahead: bytes left
    unread at close would reset it instead, and the client would lose the
    answers it had not read yet."""
    conn.settimeout(5.0)
    try:
        conn.shutdown(socket.SHUT_WR)
        while conn.recv(65536):
            pass
    except OSError:
        pass


def answer(verb, arg, uids, marked):
    n = int(arg.split(" ")[0]) if arg.split(" ")[0].isdigit() else 0
    uid = uids[n - 1] if 1 <= n <= len(uids) and n not in marked else None
    live = [(i, u) for i, u in enumerate(uids, 1) if i not in marked]
    if verb == "CAPA":
        caps = ["USER"] + ([] if refused.upper() == "TOP" else ["TOP"])
        caps += (["PIPELINING"] if pipelining else []) + (["UIDL"] if uidl else [])
        return ("+OK\r\n" + "".join(c + "\r\n" for c in caps) + ".\r\n").encode()
    if verb in ("USER", "PASS", "NOOP"):
        return b"+OK\r\n"
    if verb == "RSET":
        marked.clear()
        return b"+OK\r\n"
    if verb == "STAT":
        return b"+OK %d %d\r\n" % (len(live), sum(len(text_of(u)) for _, u in live))
    if verb == "UIDL" and uidl and not arg:
        return b"+OK\r\n" + b"".join(b"%d %s\r\n" % (i, u.encode()) for i, u in live) + b".\r\n"
    if verb == "LIST" and not arg:
        return b"+OK\r\n" + b"".join(b"%d %d\r\n" % (i, len(text_of(u))) for i, u in live) + b".\r\n"
    if uid is None:
        return b"-ERR no such message\r\n"
    if verb == "UIDL" and uidl:
        return b"+OK %d %s\r\n" % (n, uid.encode())
    if verb == "LIST":
        return b"+OK %d %d\r\n" % (n, len(text_of(uid)))
    if verb == "TOP":
        return b"+OK\r\n" + dotted(header_of(text_of(uid)))
    if verb == "RETR":
        return b"+OK\r\n" + dotted(text_of(uid))
    if verb == "DELE":
        marked.add(n)
        return b"+OK\r\n"
    return b"-ERR unknown command\r\n"


def serve(conn, log):
    global first_quit
    uids = read_order()
    marked = set()
    conn.sendall(b"+OK ready\r\n")
    for cmd, ahead in commands(conn):
        log.write(cmd + (" ahead" if ahead else "") + "\n")
        if named(cmd, late):
            time.sleep(1.5)
        if named(cmd, cut):
            hang_up(conn)
            break
        if named(cmd, refused):
            conn.sendall(b"-ERR no such message\r\n")
            continue
        verb, _, arg = cmd.partition(" ")
        verb = verb.upper()
        if verb == "QUIT":
            how, first_quit = first_quit, ""
            removed = marked if how in ("", "cut") else set(sorted(marked)[:1])
            write_order([u for i, u in enumerate(uids, 1) if i not in removed])
            if how == "cut":
                hang_up(conn)
                break
            conn.sendall((how or "+OK bye").encode("latin-1") + b"\r\n")
            return
        conn.sendall(answer(verb, arg, uids, marked))
    log.write("(closed)\n")


listener = socket.create_server(("127.0.0.1", 0))
print(listener.getsockname()[1], flush=True)
with open(os.path.join(folder, "commands.log"), "a", buffering=1) as log:
    while True:
        conn, _ = listener.accept()
        with conn:
            try:
                serve(conn, log)
            except OSError:
                log.write("(closed)\n")
