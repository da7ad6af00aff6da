#!/usr/bin/env python3
"""The demo mail server of scripts/run.sh: a private Dovecot on free loopback
ports with a certificate authority of its own, three mailboxes seeded with a
few dozen varied messages, and Tarnwick's "demo" profile pointing at them and
at the web-mail test site (tests/support/webmail_site.py, which run.sh
starts on the port of host_data.dat's [webmail.demo]).

    demo_server.py setup WORK PROGRAM_DIR
        Writes into WORK: the CA and server certificate, dovecot.conf, the
        users and their Maildirs, ca-bundle.pem (the system's authorities
        plus the demo CA, for SSL_CERT_FILE) and "env" (shell lines naming
        the ports). Writes into PROGRAM_DIR: demo.ini (the "-user _demo"
        profile, with a web-mail account beside the three mail-server ones)
        and rules/tarnwick-demo.rul (deletes one sender's mail, in the demo's
        plain POP3 account only).
    demo_server.py serve WORK
        Runs that Dovecot in the foreground, as this process.
    demo_server.py wait WORK
        Waits until all four listeners accept.
    demo_server.py report WORK PROGRAM_DIR [WEBMAIL_STATE]
        Prints what the first check found and what is left on the server
        (and what the web-mail site was asked, from its state file).

Nothing here touches the system's Dovecot or its configuration.
"""
import datetime
import email
import email.policy
import email.utils
import grp
import json
import os
import poplib
import pwd
import random
import shutil
import socket
import subprocess
import sys
import time
from email.message import EmailMessage

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATE = os.path.join(HERE, "..", "tests", "support", "dovecot.conf.in")

USERS = {"alice": "demo-alice", "bob": "demo-bob", "carol": "demo-carol"}
RULE_SENDER = "offers@bargain.example"
RULE_FILE = "tarnwick-demo.rul"
PLAIN_ACCOUNT = "Demo plain POP3"
WEB_ACCOUNT = "Demo web mail"
# The web-mail test site's user; the account's Host names the section of
# host_data.dat that scripts the site.
WEB_HOST, WEB_USER, WEB_PASSWORD = "webmail.demo", "bob", "s3cret"


# ---- stored passwords, as the settings file keeps them ----------------------

FILLER = (b"ABCDEFGHIJKLMNOPQRSTUVWXYZ\xc5\xc4\xd61234567890qwertyuiop\xe5"
          b"asdfghjkl\xf6\xe4zxcvbnm")


def scramble(plain):
    """The settings file's scrambled form of a password."""
    data = plain.encode()
    if not data:
        return ""
    n = len(data)
    rnd = random.Random()
    filled = bytes(rnd.choice(FILLER) for _ in range(n)) + data + \
        bytes(rnd.choice(FILLER) for _ in range(n))
    key = (3 * n) & 0xFFFF
    out = bytearray(filled)
    for i in range(len(filled) % 256):
        o = filled[i] ^ (key >> 8)
        out[i] = o
        key = ((key + o) * 8627 + 31847) & 0xFFFF
    return "0_" + "".join(str(b) + "_" for b in out)


# ---- certificates ------------------------------------------------------------

def openssl(work, *args):
    subprocess.run(["openssl", *args], cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(work):
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl(work, "req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "7", "-subj", "/CN=Tarnwick demo CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl(work, "req", *ec, "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=localhost")
    with open(os.path.join(work, "server.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                "extendedKeyUsage=serverAuth\n"
                "basicConstraints=CA:FALSE\n")
    openssl(work, "x509", "-req", "-in", "server.csr", "-CA", "ca.pem",
            "-CAkey", "ca.key", "-CAcreateserial", "-out", "server.pem",
            "-days", "7", "-extfile", "server.ext")
    # Trusted for this run only: the system's authorities plus this one.
    with open(os.path.join(work, "ca-bundle.pem"), "wb") as out:
        system = "/etc/ssl/certs/ca-certificates.crt"
        if os.path.exists(system):
            with open(system, "rb") as f:
                out.write(f.read())
        with open(os.path.join(work, "ca.pem"), "rb") as f:
            out.write(f.read())


# ---- the mail ----------------------------------------------------------------

PEOPLE = [
    ("Anna Lindqvist", "anna.lindqvist@example.org"),
    ("Jürgen Übel", "juergen@example.de"),
    ("Mika Häkkinen", "mika@example.fi"),
    ("Build Robot", "ci@builds.example.net"),
    ("", "noreply@shop.example.com"),
    ("Zoë Øster", "zoe@example.dk"),
    ("Team Calendar", "calendar@example.org"),
]
SUBJECTS = [
    "Minutes of Tuesday's meeting",
    "Grüße aus Köln",
    "Re: Lunch on Friday?",
    "Build #1274 passed",
    "Your order has shipped",
    "Kesämökin avaimet",
    "Invitation: quarterly review",
    "Photos from the trip",
    "Re: Re: the budget spreadsheet",
    "A rather long subject line that keeps going well past what fits on one line of the window",
    "Påminnelse: möte i morgon",
    "Quick question",
]
OFFERS = ["Only today: 70% off everything!", "Last chance: your coupon expires",
          "We miss you - here is 10 euros"]


def message(n, sender, subject, when, rnd, attachment=False, html=False):
    msg = EmailMessage()
    msg["From"] = email.utils.formataddr(sender)
    msg["To"] = "You <you@localhost>"
    msg["Subject"] = subject
    msg["Date"] = email.utils.format_datetime(when)
    msg["Message-ID"] = f"<demo{n}.{rnd.randrange(10**6)}@tarnwick.demo>"
    text = f"Hello,\n\nthis is demo message {n}.\n\nBest regards,\n{sender[0] or sender[1]}\n"
    msg.set_content(text)
    if html:
        msg.add_alternative(f"<p>Hello,</p><p>this is <b>demo message {n}</b>.</p>",
                            subtype="html")
    if attachment:
        msg.add_attachment(bytes(range(256)) * 4, maintype="application",
                           subtype="octet-stream", filename=f"report-{n}.bin")
    return msg.as_bytes(policy=email.policy.SMTP)


def seed(maildir, messages, uid, gid):
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)
    for i, (data, seen) in enumerate(messages):
        name = f"{1700000000 + i}.M{i:06d}P1.demo:2,{'S' if seen else ''}"
        path = os.path.join(maildir, "cur", name)
        with open(path, "wb") as f:
            f.write(data)
    for root, dirs, files in os.walk(os.path.dirname(maildir.rstrip("/"))):
        for name in dirs + files:
            os.chown(os.path.join(root, name), uid, gid)
    os.chown(os.path.dirname(maildir.rstrip("/")), uid, gid)


def mailboxes():
    rnd = random.Random(20261208)
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    serial = iter(range(1, 1000))

    def batch(count, offers=0, seen=0):
        out = []
        for i in range(count):
            sender = PEOPLE[rnd.randrange(len(PEOPLE))]
            subject = SUBJECTS[rnd.randrange(len(SUBJECTS))]
            when = now - datetime.timedelta(minutes=rnd.randrange(5, 60 * 48))
            out.append((message(next(serial), sender, subject, when, rnd,
                                attachment=rnd.random() < 0.25, html=rnd.random() < 0.3),
                        i < seen))
        for i in range(offers):
            when = now - datetime.timedelta(minutes=rnd.randrange(5, 600))
            out.insert(rnd.randrange(len(out) + 1),
                       (message(next(serial), ("Bargain Bazaar", RULE_SENDER),
                                OFFERS[i % len(OFFERS)], when, rnd, html=True), False))
        # The oldest first, as mail arrives.
        out.sort(key=lambda m: email.utils.parsedate_to_datetime(
            email.message_from_bytes(m[0])["Date"]))
        return out

    return {"alice": batch(12), "bob": batch(10, seen=2), "carol": batch(7, offers=3)}


# ---- Dovecot -----------------------------------------------------------------

def free_ports(count):
    ports, socks = [], []
    while len(ports) < count:
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        socks.append(s)
        ports.append(s.getsockname()[1])
    for s in socks:
        s.close()
    return ports


def setup(work, program):
    work = os.path.abspath(work) + "/"
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    root = os.geteuid() == 0
    if root:
        pw = pwd.getpwnam("dovecot")
        uid, gid = pw.pw_uid, pw.pw_gid
        login_user, internal_user, internal_group, chroot = "dovenull", "dovecot", "dovecot", ""
    else:
        uid, gid = os.geteuid(), os.getegid()
        login_user = internal_user = pwd.getpwuid(uid).pw_name
        internal_group = grp.getgrgid(gid).gr_name
        chroot = "chroot ="
    make_certificates(work)
    pop3, pop3s, imap, imaps = free_ports(4)
    with open(TEMPLATE) as f:
        conf = f.read()
    for key, value in {
        "@LISTEN@": "127.0.0.1", "@BASE_DIR@": work + "run", "@STATE_DIR@": work + "state",
        "@INSTANCE@": f"twdemo{os.getpid()}", "@FOLDER@": work,
        "@LOGIN_USER@": login_user, "@INTERNAL_USER@": internal_user,
        "@INTERNAL_GROUP@": internal_group, "@LOGIN_CHROOT@": chroot,
        "@GREETING@": "Tarnwick demo server ready.",
        "@POP3_PORT@": str(pop3), "@POP3S_PORT@": str(pop3s),
        "@IMAP_PORT@": str(imap), "@IMAPS_PORT@": str(imaps),
    }.items():
        conf = conf.replace(key, value)
    with open(work + "dovecot.conf", "w") as f:
        f.write(conf)
    os.makedirs(work + "state", exist_ok=True)
    lines = []
    for user, password in USERS.items():
        home = f"{work}home/{user}"
        lines.append(f"{user}:{{PLAIN}}{password}:{uid}:{gid}::{home}::\n")
    with open(work + "users", "w") as f:
        f.writelines(lines)
    os.chmod(work + "users", 0o640)
    os.chown(work + "users", uid, gid)
    for user, msgs in mailboxes().items():
        seed(f"{work}home/{user}/Maildir/", msgs, uid, gid)
    with open(work + "env", "w") as f:
        f.write(f"DEMO_POP3={pop3}\nDEMO_POP3S={pop3s}\nDEMO_IMAP={imap}\nDEMO_IMAPS={imaps}\n")
    write_profile(program, pop3, pop3s, imaps)


def write_profile(program, pop3, pop3s, imaps):
    accounts = [
        ("Demo POP3 over TLS", "POP3", pop3s, "alice", True),
        ("Demo IMAP4 over TLS", "IMAP4", imaps, "bob", True),
        (PLAIN_ACCOUNT, "POP3", pop3, "carol", False),
        (WEB_ACCOUNT, "HTTP", 80, WEB_USER, False),
    ]
    ini = [f"[Accounts]\nNum={len(accounts) - 1}\n"]
    for i, (name, kind, port, user, tls) in enumerate(accounts):
        host = WEB_HOST if kind == "HTTP" else "127.0.0.1"
        password = WEB_PASSWORD if kind == "HTTP" else USERS[user]
        ini.append(f"[{i}]\nName={name}\nEnabled=True\nHost={host}\nPort={port}\n"
                   f"UserName={user}\nPW={scramble(password)}\nSSL={tls}\n"
                   f"Connection={kind}\nInbox=INBOX\nOwnColor=clGreen\nProtected=False\n")
    ini.append("[Options]\nLanguage=english.lng\nSkin=Default\nCheckOnStart=True\n"
               "DelayTime=1\nCheckTime=2\nBrowseSpeed=4000\nShowBallTip=True\nDefBTip=True\n"
               "BTipSTime=10\nPlaySound=True\nTurnMonOn=False\nUseExeSkins=True\n"
               "UsedSkin=demo\nLogValue=200\n")
    path = os.path.join(program, "demo.ini")
    with open(path, "w") as f:
        f.write("".join(ini))
    os.chmod(path, 0o600)
    rules = os.path.join(program, "rules")
    os.makedirs(rules, exist_ok=True)
    with open(os.path.join(rules, RULE_FILE), "w") as f:
        f.write("[Rule]\nEnabled=True\nRule1=1\nAllAccounts=False\nEMailRule=0\n"
                f"AllEMails=False\nWordsRule=6\n[Accounts]\n0={PLAIN_ACCOUNT}\n"
                f"[EMails]\n0={RULE_SENDER}\n")


def read_env(work):
    env = {}
    with open(os.path.join(work, "env")) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            env[key] = int(value)
    return env


def wait(work):
    ports = read_env(work).values()
    deadline = time.time() + 30
    while time.time() < deadline:
        ready = 0
        for port in ports:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                ready += 1
            except OSError:
                pass
        if ready == len(ports):
            return
        time.sleep(0.1)
    sys.exit("demo server: Dovecot did not open its ports; see " +
             os.path.join(work, "dovecot.log"))


def ini_sections(path):
    sections, current = {}, None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("[") and line.endswith("]"):
                current = sections.setdefault(line[1:-1], {})
            elif current is not None and "=" in line:
                key, _, value = line.partition("=")
                current[key] = value
    return sections


def report(work, program, webmail_state=None):
    names = ["Demo POP3 over TLS", "Demo IMAP4 over TLS", PLAIN_ACCOUNT, WEB_ACCOUNT]
    mails = ini_sections(os.path.join(program, "temp", "mails.dat"))
    found = ", ".join(f"{name}: {mails.get(str(i), {}).get('M', '?')}" for i, name in enumerate(names))
    print(f"run: the first check found new mail: {found}")
    env = read_env(work)
    p = poplib.POP3("127.0.0.1", env["DEMO_POP3"], timeout=20)
    p.user("carol")
    p.pass_(USERS["carol"])
    count = p.stat()[0]
    offers = 0
    for n in range(1, count + 1):
        head = email.message_from_bytes(b"\r\n".join(p.top(n, 0)[1]))
        offers += RULE_SENDER in (head["From"] or "")
    p.quit()
    print(f"run: on the server, carol's mailbox holds {count} messages, {offers} of them from "
          f"{RULE_SENDER} (the demo rule deleted the others)")
    if webmail_state and os.path.exists(webmail_state):
        with open(webmail_state) as f:
            state = json.load(f)
        logins = sum(1 for login in state.get("logins", []) if login.get("ok"))
        print(f"run: the web-mail site saw {logins} log-in(s) and {state.get('logouts', 0)} log-out(s)")


def serve(work):
    conf = os.path.join(work, "dovecot.conf")
    os.execv("/usr/sbin/dovecot", ["dovecot", "-F", "-c", conf])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    cmd = sys.argv[1]
    if cmd == "setup" and len(sys.argv) == 4:
        setup(sys.argv[2], sys.argv[3])
    elif cmd == "wait":
        wait(sys.argv[2])
    elif cmd == "report" and len(sys.argv) in (4, 5):
        report(sys.argv[2], sys.argv[3], sys.argv[4] if len(sys.argv) == 5 else None)
    elif cmd == "serve":
        serve(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
