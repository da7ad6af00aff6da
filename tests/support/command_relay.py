"""A relay on 127.0.0.1 between a mail client and its server that stands in
for the server at one command, for the tests of what a client does when that
command fails.

    command_relay.py UPSTREAM_PORT PATTERN ANSWER [EXPUNGER]

What the server sends reaches the client unchanged, and so does every line
the client sends, except a line matching the regular expression PATTERN: that
one never reaches the server. With ANSWER empty the relay ends both
connections there; otherwise it answers ANSWER itself ("{tag}" stands for
the line's first word, an IMAP4 tag) and goes on. ANSWER "{lost}" passes the
line on instead, waits for the server's tagged answer to it and ends both
connections before any of that answer reaches the client: the command was
carried out, the client never hears so. With EXPUNGER ("USER:PASSWORD")
another IMAP4 client logs in as USER and expunges the INBOX at that line,
before the relay acts on it. One connection at a time, each to a new
connection to 127.0.0.1:UPSTREAM_PORT.
"""
import imaplib
import re
import select
import socket
import sys

upstream, pattern, answer = int(sys.argv[1]), re.compile(sys.argv[2].encode()), sys.argv[3]
expunger = sys.argv[4] if len(sys.argv) > 4 else ""


def expunge_as_another_client():
    user, password = expunger.split(":", 1)
    other = imaplib.IMAP4("127.0.0.1", upstream, timeout=20)
    other.login(user, password)
    other.select("INBOX")
    other.expunge()
    other.logout()


def swallow_answer(server, tag):
    """Reads what the server sends, through its line tagged tag."""
    rest = b""
    while True:
        data = server.recv(65536)
        if not data:
            return
        *lines, rest = (rest + data).split(b"\n")
        if any(l.startswith(tag + b" ") for l in lines):
            return


def relay(client):
    server = socket.create_connection(("127.0.0.1", upstream))
    pending = b""
    try:
        while True:
            ready, _, _ = select.select([client, server], [], [])
            if server in ready:
                data = server.recv(65536)
                if not data:
                    return
                client.sendall(data)
            if client in ready:
                data = client.recv(65536)
                if not data:
                    return
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    if not pattern.search(line.rstrip(b"\r")):
                        server.sendall(line + b"\n")
                        continue
                    if expunger:
                        expunge_as_another_client()
                    if not answer:
                        return
                    if answer == "{lost}":
                        server.sendall(line + b"\n")
                        swallow_answer(server, line.split(b" ", 1)[0])
                        return
                    tag = line.split(b" ", 1)[0].decode("latin-1")
                    client.sendall(answer.replace("{tag}", tag).encode("latin-1") + b"\r\n")
    finally:
        server.close()


listener = socket.create_server(("127.0.0.1", 0))
print(listener.getsockname()[1], flush=True)
while True:
    conn, _ = listener.accept()
    with conn:
        try:
            relay(conn)
        except OSError:
            pass
