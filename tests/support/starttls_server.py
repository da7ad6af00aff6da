#!/usr/bin/env python3
"""A small POP3-style server on 127.0.0.1 for TLS tests; its commands and
modes are described with StartTLSServer in OpenSSLServer.h. It prints
"PORT <n>" on stdout once it listens and serves connections until killed.
"""
import argparse
import socket
import ssl
import threading


def serve(conn, ctx, args):
    f = None
    try:
        if args.implicit:
            conn = ctx.wrap_socket(conn, server_side=True)
        f = conn.makefile("rwb", buffering=0)

        def say(line):
            f.write(line.encode() + b"\r\n")

        say("+OK test server ready")
        while True:
            line = f.readline()
            if not line:
                return
            cmd = line.strip().decode(errors="replace")
            word = cmd.split(" ")[0].upper()
            tls = isinstance(conn, ssl.SSLSocket)
            if word == "CAPA":
                say("+OK")
                say("USER")
                if tls:
                    say("X-OVER-TLS")
                elif not args.no_stls:
                    say("STLS")
                say(".")
            elif word == "STLS":
                if args.no_stls or args.refuse_stls or tls:
                    say("-ERR not now")
                    continue
                if args.inject:
                    f.write(b"+OK Begin TLS negotiation\r\n+OK\r\nINJECTED\r\n.\r\n")
                else:
                    say("+OK Begin TLS negotiation")
                f.close()
                conn = ctx.wrap_socket(conn, server_side=True)
                f = conn.makefile("rwb", buffering=0)
            elif word == "NOOP":
                say("+OK tls" if tls else "+OK plain")
            elif word in ("USER", "PASS"):
                say("+OK")
            elif word == "STAT":
                say("+OK 0 0")
            elif word == "BIG":
                # n bytes of numbered lines, then a terminating dot line.
                n = int(cmd.split(" ")[1])
                say("+OK here it comes")
                chunk = bytearray()
                i = 0
                sent = 0
                while sent < n:
                    row = b"%09d " % i + b"x" * 88 + b"\r\n"
                    chunk += row
                    sent += len(row)
                    i += 1
                    if len(chunk) >= 65536:
                        f.write(bytes(chunk))
                        chunk.clear()
                chunk += b".\r\n"
                f.write(bytes(chunk))
            elif word == "STALL":
                # Stops reading: the client's writes pile up unread.
                say("+OK stalling")
                threading.Event().wait()
            elif word == "DROP":
                # Leaves without close_notify.
                conn.shutdown(socket.SHUT_RDWR)
                return
            elif word == "QUIT":
                say("+OK bye")
                return
            else:
                say("-ERR unknown command")
    except (OSError, ssl.SSLError, ValueError):
        pass
    finally:
        try:
            if f:
                f.close()
            conn.close()
        except OSError:
            pass


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--implicit", action="store_true")
    p.add_argument("--no-stls", action="store_true")
    p.add_argument("--refuse-stls", action="store_true")
    p.add_argument("--inject", action="store_true")
    args = p.parse_args()

    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn, ctx, args), daemon=True).start()


if __name__ == "__main__":
    main()
