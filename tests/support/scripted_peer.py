#!/usr/bin/env python3
"""A TCP peer on loopback that plays a fixed script against one client.

Usage: scripted_peer.py LOGFILE STEP...
Prints the port it listens on (127.0.0.1, ephemeral) as the first line of
stdout, accepts one connection and runs the steps:
  send:HEX        send the bytes
  sendrep:N:HEX   send the bytes N times (large volumes)
  sleep:MS        pause
  readline        read up to and including LF
  read:N          read exactly N bytes
  close           close the connection (and stop)
  reset           abort the connection with a reset (and stop)
  wait_close      read until the client closes
  accept          accept the next connection
Everything received is appended to LOGFILE.
"""
import socket
import struct
import sys
import time


def main():
    log_path = sys.argv[1]
    steps = sys.argv[2:]
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(4)
    print(srv.getsockname()[1], flush=True)
    conn, _ = srv.accept()
    log = open(log_path, "ab", buffering=0)
    pending = b""

    def read_some():
        data = conn.recv(65536)
        if data:
            log.write(data)
        return data

    try:
        for step in steps:
            kind, _, arg = step.partition(":")
            if kind == "send":
                conn.sendall(bytes.fromhex(arg))
            elif kind == "sendrep":
                n, _, hx = arg.partition(":")
                chunk = bytes.fromhex(hx)
                block = chunk * max(1, 65536 // max(1, len(chunk)))
                total = int(n) * len(chunk)
                while total > 0:
                    part = block[: min(len(block), total)]
                    conn.sendall(part)
                    total -= len(part)
            elif kind == "sleep":
                time.sleep(int(arg) / 1000.0)
            elif kind == "readline":
                while b"\n" not in pending:
                    data = read_some()
                    if not data:
                        break
                    pending += data
                _, _, pending = pending.partition(b"\n")
            elif kind == "read":
                want = int(arg)
                while len(pending) < want:
                    data = read_some()
                    if not data:
                        break
                    pending += data
                pending = pending[want:]
            elif kind == "wait_close":
                while read_some():
                    pass
            elif kind == "close":
                conn.close()
                break
            elif kind == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                conn.close()
                break
            elif kind == "accept":
                conn.close()
                conn, _ = srv.accept()
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass
        srv.close()


if __name__ == "__main__":
    main()
