#!/usr/bin/env python3
"""A POP3 server on 127.0.0.1 whose answer to STLS carries extra plain-text
bytes after the "+OK" line, as a man in the middle would add them.

Usage: pop3_stls_peer.py --cert FILE --key FILE
Prints "PORT <n>" once it listens, then serves connections until killed.
Before TLS, CAPA offers STLS; after it, CAPA offers "X-OVER-TLS". The bytes
added after "+OK" form a complete fake CAPA answer holding "INJECTED", so a
client that reads them as if they came through TLS shows it at once.
USER, PASS, STAT ("+OK 0 0") and QUIT are answered.
"""
import argparse
import socket
import ssl
import threading

INJECTED = b"+OK\r\nINJECTED\r\n.\r\n"


def serve(conn, ctx):
    f = None
    tls = False
    try:
        f = conn.makefile("rwb", buffering=0)
        f.write(b"+OK ready\r\n")
        while True:
            line = f.readline()
            if not line:
                return
            word = line.strip().split(b" ")[0].upper()
            if word == b"CAPA":
                f.write(b"+OK\r\nUSER\r\n" + (b"X-OVER-TLS\r\n" if tls else b"STLS\r\n") + b".\r\n")
            elif word == b"STLS" and not tls:
                f.write(b"+OK begin TLS\r\n" + INJECTED)
                f.close()
                conn = ctx.wrap_socket(conn, server_side=True)
                f = conn.makefile("rwb", buffering=0)
                tls = True
            elif word in (b"USER", b"PASS"):
                f.write(b"+OK\r\n")
            elif word == b"STAT":
                f.write(b"+OK 0 0\r\n")
            elif word == b"QUIT":
                f.write(b"+OK bye\r\n")
                return
            else:
                f.write(b"-ERR unknown\r\n")
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
        threading.Thread(target=serve, args=(conn, ctx), daemon=True).start()


if __name__ == "__main__":
    main()
