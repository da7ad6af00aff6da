#!/usr/bin/env python3
"""Writes test messages into one Maildir folder (its cur/).

The messages are built with Python's email package, so the bytes a server
hands out come from a second, independent implementation of RFC 5322 and
MIME. Everything is derived from the message number: the same arguments
give the same bytes, and a test can rebuild any message it wants to compare.

    make_messages.py MAILDIR --count N [--first K] [--seen]
                     [--body-lines L] [--uid U --gid G]

Message K is named so that plain file-name order is message order, which is
the order in which Dovecot numbers new files.
"""

import argparse
import datetime
import email.policy
import email.utils
import functools
import multiprocessing
import os
from email.message import EmailMessage

BASE_TIME = datetime.datetime(2024, 3, 1, 8, 0, 0,
                              tzinfo=datetime.timezone(datetime.timedelta(hours=2)))


def build(n, body_lines):
    msg = EmailMessage()
    if n % 3 == 0:
        msg["From"] = email.utils.formataddr(("Jürgen Übel", f"juergen{n}@example.org"))
    else:
        msg["From"] = email.utils.formataddr((f"Sender {n}", f"sender{n}@example.org"))
    msg["To"] = "Tester <tester@localhost>"
    if n % 4 == 0:
        msg["Subject"] = f"Grüße aus Köln, Nachricht {n}"
    else:
        msg["Subject"] = f"Test message {n}"
    msg["Date"] = email.utils.format_datetime(BASE_TIME + datetime.timedelta(minutes=n))
    msg["Message-ID"] = f"<msg{n}@tarnwick.test>"
    lines = [f"Line {i} of message {n}." for i in range(1, body_lines + 1)]
    msg.set_content("\n".join(lines) + "\n")
    if n % 5 == 0:
        # Every fifth message carries a small attachment, so the mailbox holds
        # multipart bodies with base64 parts as well as plain texts.
        msg.add_attachment(bytes(range(256)) * 2, maintype="application",
                           subtype="octet-stream", filename=f"data{n}.bin")
        msg.set_boundary(f"=_tarnwick_part_{n}")
    return msg.as_bytes(policy=email.policy.default)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("maildir")
    ap.add_argument("--count", type=int, required=True)
    ap.add_argument("--first", type=int, default=1)
    ap.add_argument("--seen", action="store_true")
    ap.add_argument("--body-lines", type=int, default=5)
    ap.add_argument("--uid", type=int, default=-1)
    ap.add_argument("--gid", type=int, default=-1)
    args = ap.parse_args()

    for sub in ("cur", "new", "tmp"):
        path = os.path.join(args.maildir, sub)
        os.makedirs(path, mode=0o700, exist_ok=True)
        if args.uid >= 0:
            os.chown(path, args.uid, args.gid)
    if args.uid >= 0:
        os.chown(args.maildir, args.uid, args.gid)

    numbers = range(args.first, args.first + args.count)
    if args.count >= 400:
        # The email package needs about a millisecond per message; large
        # mailboxes for the speed comparisons are spread over the cores.
        jobs = min(os.cpu_count() or 1, 8)
        with multiprocessing.Pool(jobs) as pool:
            pool.map(functools.partial(write_range, args),
                     [numbers[i::jobs] for i in range(jobs)])
    else:
        write_range(args, numbers)


def write_range(args, numbers):
    suffix = ":2,S" if args.seen else ":2,"
    for n in numbers:
        data = build(n, args.body_lines)
        name = f"1700000000.M{n:07d}P1.tarnwick"
        tmp = os.path.join(args.maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
        if args.uid >= 0:
            os.chown(tmp, args.uid, args.gid)
        # Into place by rename, as every Maildir writer does: a running
        # server never sees half a message.
        os.rename(tmp, os.path.join(args.maildir, "cur", name + suffix))


if __name__ == "__main__":
    main()
