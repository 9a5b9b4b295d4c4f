"""The manage page through a real web server, beside the search page, on
SQLite and on PostgreSQL, with a real mail receiver.

Usage: manage_server_test.py Q_LOK_MANAGE_CGI Q_LOK_CGI Q_LOK_ADMIN
                             REGISTRATION_TOOL LIGHTTPD [POSTGRES_URI_FILE]

Each engine gets a site home laid out by q_lok-admin with a few jobs;
lighttpd runs q_lok.cgi and q_lok-manage.cgi side by side, and both relays
point to a mail receiver on loopback. A registration is made through the
search page; the registration record it mails is what the store keeps
(REGISTRATION_TOOL saves it and reads registrations back). The PostgreSQL
cases are skipped when no URI file is given or it is absent.
"""

import os
import re
import secrets
import socket
import subprocess
import sys
import time
import unittest
from urllib.parse import quote_plus

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from cgi_server import CgiServer, request  # noqa: E402
from test_site import (SITE_ADDRESS, load_jobs, make_site,  # noqa: E402
                       page_text, postgres_schema, received_mails,
                       serve_mail)

MANAGE, CGI, ADMIN, TOOL, LIGHTTPD = None, None, None, None, None
POSTGRES_URI_FILE = None

JOBS_CSV = """\
社名,職種1,就労場所1,始時,終時,雇,ken,パート,rank,障専,齢下,齢上
第一商事,一般事務,東京都港区,8:30,17:30,1,1,0,90,0,18,60
第二物産,経理事務,大阪府大阪市,9:00,18:00,1,0,1,80,0,0,99
"""


def search_form(address, number, job_words):
    """The search form as the browser posts it, with an address."""
    parts = [("_su", "is1"), ("aaa", address), ("aa6", str(number)),
             ("aa8", "100"), ("aab", ""), ("aac", job_words)]
    parts += [(name, "") for name in ("aad", "aae", "aaf", "aag", "aah")]
    parts += [("aai", "0"), ("asa", "2"), ("zzz", "end")]
    return "&".join(n + "=" + quote_plus(v, encoding="cp932")
                    for n, v in parts).encode("ascii")


# What a mail client posts for a one-click unsubscription (RFC 8058):
# multipart/form-data, no cookies, nothing but the one field.
ONE_CLICK_MULTIPART = (
    "multipart/form-data; boundary=---FormBoundaryjWmhtjORrn",
    b"-----FormBoundaryjWmhtjORrn\r\n"
    b"Content-Disposition: form-data; name=\"List-Unsubscribe\"\r\n"
    b"\r\n"
    b"One-Click\r\n"
    b"-----FormBoundaryjWmhtjORrn--\r\n")
ONE_CLICK_URLENCODED = ("application/x-www-form-urlencoded",
                        b"List-Unsubscribe=One-Click")


class ManageThroughServer:
    """The cases, run once per engine by the subclasses below."""

    @classmethod
    def connection_string(cls):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.home = make_site(cls, ADMIN, "qlok_manage_home_",
                             cls.connection_string())
        cls.mails = os.path.join(cls.home, "mails")
        cls.smtp_port = serve_mail(cls, cls.mails)
        load_jobs(ADMIN, cls.home, JOBS_CSV)
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"},
                               programs={"q_lok-manage.cgi": MANAGE})
        base = cls.server.__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        cls.search_url = base + "q_lok.cgi"
        cls.url = base + "q_lok-manage.cgi"
        # The links of the mails lead to this server; one list mail a day.
        with open(os.path.join(cls.home, "site.conf"), "w") as conf:
            conf.write("[smtp]\nfirst_relay = 127.0.0.1\n"
                       "second_relay = 127.0.0.1\n"
                       "submission_port = %d\nrelay_port = %d\n"
                       "[senders]\naccount1 = %s\n"
                       "[manage]\npage_url = %s\nlookups_per_day = 1\n"
                       % (cls.smtp_port, cls.smtp_port, SITE_ADDRESS, cls.url))

    # -- helpers ---------------------------------------------------------

    def received(self, count, timeout=10):
        """The mails received so far, once there are `count` of them."""
        return received_mails(self.mails, count, timeout)

    def tool(self, *arguments, stdin=None):
        done = subprocess.run([TOOL, self.home] + list(arguments),
                              input=stdin, capture_output=True, check=True)
        return done.stdout.decode().strip()

    def register(self, address, number=1, job_words="事務"):
        """Registers through the search page; returns the token."""
        before = len(self.received(0))
        status, _, body = request(self.search_url,
                                  search_form(address, number, job_words))
        self.assertEqual(status, 200, self.server.cgi_errors())
        self.assertIn("登録を受付ました", page_text(body))
        # The match mail and the registration record, whose text is the
        # registration's settings.
        mails = self.received(before + 2)[before:]
        records = [m for m in mails if m["subject"] == "ss0"]
        self.assertEqual(len(records), 1, mails)
        return self.tool("save", address, str(number),
                         stdin=records[0]["body"].encode("utf-8"))

    def state(self, token):
        return self.tool("state", token)

    def ask(self, method="GET", query="", body=None, content_type=None):
        headers = {"Content-Type": content_type} if content_type else {}
        url = self.url + ("?" + query if query else "")
        status, headers, raw = request(url, body, headers=headers,
                                       method=method)
        return status, headers, page_text(raw)

    # -- cases -----------------------------------------------------------

    def test_opening_the_link_shows_the_registration_and_changes_nothing(self):
        token = self.register("ichiro@example.jp", 1, "事務　経理")
        for _ in range(2):  # a mail scanner, then the visitor
            status, headers, page = self.ask(query="t=" + token)
            self.assertEqual(status, 200, self.server.cgi_errors())
            self.assertIn("【メールアドレス】ic***@example.jp<BR>", page)
            self.assertNotIn("ichiro@", page)
            self.assertIn("【配信状況】配信中", page)
            self.assertIn("職種に「事務」「経理」のいずれかを含む求人", page)
            self.assertIn("NAME='t' value='%s'" % token, page)
            self.assertIn("お試し求人検索＆求人マッチメール登録", page)  # the shell
            # The advertisements of the page must not learn the token.
            self.assertEqual(headers.get("referrer-policy"), "no-referrer")
        self.assertEqual(self.state(token), "active")

    def test_the_button_stops_the_registration_once(self):
        token = self.register("jiro@example.jp", 2)
        other = self.register("jiro@example.jp", 3)
        status, _, page = self.ask("POST", body=b"t=%s&stop=1" % token.encode(),
                                   content_type="application/x-www-form-"
                                                "urlencoded")
        self.assertEqual(status, 200, self.server.cgi_errors())
        self.assertIn("登録を抹消しました。", page)
        self.assertEqual(self.state(token), "stopped")
        self.assertEqual(self.state(other), "active")
        status, _, page = self.ask("POST", body=b"t=%s&stop=1" % token.encode())
        self.assertEqual(status, 200)
        self.assertIn("この登録はすでに抹消されています。", page)
        status, _, page = self.ask(query="t=" + token)
        self.assertIn("【配信状況】停止中", page)
        self.assertNotIn("NAME='stop'", page)

    def test_a_mail_clients_one_click_post_stops_the_registration(self):
        for number, (content_type, body) in enumerate(
                [ONE_CLICK_MULTIPART, ONE_CLICK_URLENCODED], start=1):
            with self.subTest(content_type=content_type):
                token = self.register("saburo@example.jp", number)
                status, _, page = self.ask("POST", "t=" + token, body,
                                           content_type)
                self.assertEqual(status, 200, self.server.cgi_errors())
                self.assertIn("登録を抹消しました。", page)
                self.assertEqual(self.state(token), "stopped")

    def test_unknown_malformed_and_other_requests_change_nothing(self):
        token = self.register("shiro@example.jp")
        unknown = secrets.token_hex(16)
        cases = [
            ("GET", "t=" + unknown, None, None, 404),
            ("POST", "t=" + unknown, ONE_CLICK_URLENCODED[1],
             ONE_CLICK_URLENCODED[0], 404),
            ("POST", "", b"t=%s&stop=1" % unknown.encode(), None, 404),
            ("GET", "t=" + token[:-1], None, None, 400),
            ("GET", "t=" + token + "0", None, None, 400),
            ("POST", "t=nothex", ONE_CLICK_MULTIPART[1],
             ONE_CLICK_MULTIPART[0], 400),
            ("POST", "t=" + token, b"List-Unsubscribe=Maybe", None, 400),
            ("PUT", "t=" + token, b"x", None, 405),
            ("DELETE", "t=" + token, None, None, 405),
        ]
        for method, query, body, content_type, expected in cases:
            with self.subTest(method=method, query=query, body=body):
                status, headers, page = self.ask(method, query, body,
                                                 content_type)
                self.assertEqual(status, expected, self.server.cgi_errors())
                self.assertIn("ご登録の一覧をメールで受け取る", page)
                if expected == 405:
                    self.assertEqual(headers.get("allow"), "GET, HEAD, POST")
        self.assertEqual(self.state(token), "active")

    def test_the_lookup_mails_the_list_once_a_day_and_tells_nothing(self):
        token1 = self.register("goro@example.jp", 1)
        token2 = self.register("goro@example.jp", 4, "経理")
        status, _, form = self.ask()
        self.assertEqual(status, 200)
        self.assertIn("NAME='aaa'", form)
        self.assertIn("前回と同じメールアドレスと登録番号", form)

        before = len(self.received(0))
        status, _, answer = self.ask("POST", body=b"aaa=goro%40example.jp")
        self.assertEqual(status, 200, self.server.cgi_errors())
        # Delivery is over once the page is there.
        mails = self.received(before + 1)[before:]
        self.assertEqual(len(mails), 1)
        mail = mails[0]
        self.assertEqual(mail["envelope"].split("\n")[:2],
                         [SITE_ADDRESS, "goro@example.jp"])
        self.assertEqual(mail["subject"], "求人マッチメールのご登録内容")
        self.assertIn(b"\r\nAuto-Submitted: auto-generated\r\n", mail["eml"])
        links = re.findall(r"^(http\S+\?t=\S+)\r$", mail["body"], re.M)
        self.assertEqual(links, [self.url + "?t=" + token1,
                                 self.url + "?t=" + token2])
        # The link of the mail leads to the registration.
        status, _, raw = request(links[1])
        self.assertEqual(status, 200)
        self.assertIn("【登録番号】4", page_text(raw))

        # Past the day's limit, and for an address without registrations:
        # the same page, no mail.
        for body in (b"aaa=goro%40example.jp", b"aaa=nobody%40example.jp",
                     b"aaa=+goro@example.jp+"):
            with self.subTest(body=body):
                status, _, again = self.ask("POST", body=body)
                self.assertEqual(status, 200)
                self.assertEqual(again, answer)
        time.sleep(0.3)
        self.assertEqual(len(self.received(0)), before + 1)
        self.assertEqual(self.state(token1), "active")


    def test_the_lookup_page_leaves_before_the_relays_answer(self):
        self.register("saburo@example.jp")
        # A relay that takes the connection and never greets.
        silent = socket.socket()
        self.addCleanup(silent.close)
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        port = silent.getsockname()[1]
        conf_path = os.path.join(self.home, "site.conf")
        with open(conf_path) as conf:
            conf_text = conf.read()

        def restore():
            with open(conf_path, "w") as conf:
                conf.write(conf_text)
        self.addCleanup(restore)
        with open(conf_path, "w") as conf:
            conf.write(re.sub(r"_port = \d+", "_port = %d" % port, conf_text)
                       + "[request]\ntime_limit = 3\n")
        kept_before = set(os.listdir(os.path.join(self.home, "outbox")))

        began = time.monotonic()
        status, _, page = self.ask("POST", body=b"aaa=saburo%40example.jp")
        took = time.monotonic() - began
        self.assertEqual(status, 200)
        self.assertIn("メールアドレス", page)
        # The page does not wait for the relay, which would tell that the
        # address has registrations; the list waits in the outbox once the
        # request's time has run out.
        self.assertLess(took, 1.5)
        deadline = time.monotonic() + 10
        kept = set()
        while not kept and time.monotonic() < deadline:
            time.sleep(0.2)
            kept = {n for n in os.listdir(os.path.join(self.home, "outbox"))
                    if n.endswith(".mail")} - kept_before
        self.assertEqual(len(kept), 1, self.server.cgi_errors())
        self.assertIn("list of registrations to saburo@example.jp not "
                      "delivered", self.server.cgi_errors())


class SqliteManageTest(ManageThroughServer, unittest.TestCase):

    @classmethod
    def connection_string(cls):
        return "sqlite:jobs.db"


class PostgresManageTest(ManageThroughServer, unittest.TestCase):

    @classmethod
    def connection_string(cls):
        return postgres_schema(POSTGRES_URI_FILE, "manage_")


if __name__ == "__main__":
    MANAGE, CGI, ADMIN, TOOL, LIGHTTPD = sys.argv[1:6]
    if len(sys.argv) > 6:
        POSTGRES_URI_FILE = sys.argv[6]
    unittest.main(argv=sys.argv[:1], verbosity=2)
