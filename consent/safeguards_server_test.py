"""The safeguards of a public site from outside, through lighttpd and a real
mail receiver, on SQLite and on PostgreSQL: the limits per address and per
client, the confirmation before any daily mail, its expiry, the list limit
across letter case, and bounces read back by q_lok-admin bounce.

Usage: safeguards_server_test.py Q_LOK_CGI Q_LOK_MANAGE_CGI Q_LOK_ADMIN
                                 LIGHTTPD [POSTGRES_URI_FILE]
"""

import hashlib
import http.client
import os
import re
import subprocess
import sys
import unittest
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from cgi_server import CgiServer  # noqa: E402
from test_site import (form, load_jobs, make_site,  # noqa: E402
                       page_text, postgres_schema, received_mails,
                       relay_conf, serve_mail)

CGI, MANAGE, ADMIN, LIGHTTPD = None, None, None, None
POSTGRES_URI_FILE = None

JOBS_CSV = """\
社名,職種1,就労場所1,rank,障専
第一商事,一般事務,東京都港区,90,0
第二物産,経理事務,大阪府大阪市,80,0
"""
MATCH_SUBJECT = "求人がみつかりました"
DAILY_SUBJECT = "新着の求人がみつかりました"


def post(url, body, client="127.0.0.1", method="POST"):
    """One request from the loopback address `client`; returns (status,
    headers with lower-case names, page text)."""
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port,
                                            timeout=30,
                                            source_address=(client, 0))
    try:
        path = parts.path + ("?" + parts.query if parts.query else "")
        headers = {"Content-Type": "application/x-www-form-urlencoded"}
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        raw = response.read()
        return (response.status,
                {k.lower(): v for k, v in response.getheaders()},
                page_text(raw) if raw else "")
    finally:
        connection.close()


def bounce(verp, status, action="failed"):
    """A delivery status notification to `verp` with `status`."""
    return ("From: MAILER-DAEMON@mx.example.test\r\n"
            "To: " + verp + "\r\n"
            "Subject: Undelivered Mail Returned to Sender\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/report; report-type=delivery-status; "
            "boundary=\"B\"\r\n\r\n"
            "--B\r\nContent-Type: text/plain\r\n\r\nnot delivered\r\n"
            "--B\r\nContent-Type: message/delivery-status\r\n\r\n"
            "Reporting-MTA: dns; mx.example.test\r\n\r\n"
            "Final-Recipient: rfc822; gone@example.test\r\n"
            "Action: " + action + "\r\nStatus: " + status + "\r\n\r\n"
            "--B--\r\n").encode()


class SafeguardsThroughServer:
    """The cases, run once per engine by the subclasses below."""

    @classmethod
    def connection_string(cls):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.home = make_site(cls, ADMIN, "qlok_safeguards_home_",
                             cls.connection_string())
        cls.mails = os.path.join(cls.home, "mails")
        port = serve_mail(cls, cls.mails)
        load_jobs(ADMIN, cls.home, JOBS_CSV)
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"},
                               programs={"q_lok-manage.cgi": MANAGE})
        base = cls.server.__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        cls.search_url = base + "q_lok.cgi"
        cls.manage_url = base + "q_lok-manage.cgi"
        with open(os.path.join(cls.home, "site.conf"), "w") as conf:
            conf.write(relay_conf(port) +
                       "[manage]\npage_url = %s\nlookups_per_day = 3\n"
                       "[mail]\nbounce_address = bounces@jobs.test\n"
                       "[site]\noperator_name = 株式会社テスト\n"
                       "[registration]\nper_client_per_hour = 300\n"
                       % cls.manage_url)

    def admin(self, *args, stdin=None):
        return subprocess.run([ADMIN] + list(args) + ["--home", self.home],
                              input=stdin, capture_output=True)

    def mails_to(self, address, subject=None, wait=0.5):
        return [m for m in received_mails(self.mails, 10**6, timeout=wait)
                if m["envelope"].split("\n")[1] == address and
                (subject is None or m["subject"] == subject)]

    def register(self, address, client="127.0.0.1", number="1"):
        return post(self.search_url, form(aaa=address, aac="事務", aa6=number),
                    client)

    def token_of(self, address):
        match_mails = self.mails_to(address, MATCH_SUBJECT, wait=5)
        self.assertTrue(match_mails, self.server.cgi_errors())
        return re.search(r"\?t=([0-9a-f]{32})",
                         match_mails[-1]["body"]).group(1)

    # -- cases -----------------------------------------------------------

    def test_200_posts_for_one_address_give_three_mails(self):
        statuses = [self.register("victim@example.test")[0]
                    for _ in range(200)]
        self.assertEqual(statuses[:3], [200] * 3, self.server.cgi_errors())
        self.assertEqual(set(statuses[3:]), {429})
        status, headers, page = self.register("VICTIM@Example.Test")
        self.assertEqual(status, 429)
        self.assertGreater(int(headers["retry-after"]), 80000)
        self.assertIn("ご登録は行われておらず", page)
        self.assertEqual(len(self.mails_to("victim@example.test",
                                           MATCH_SUBJECT, wait=5)), 3)
        # Another client and another address are not held back.
        self.assertEqual(self.register("other@example.test",
                                       client="127.0.0.2")[0], 200)
        self.assertEqual(self.register("victim@example.test",
                                       client="127.0.0.2")[0], 429)

    def test_a_client_is_limited_per_hour(self):
        statuses = [self.register("c%d@example.test" % i,
                                  client="127.0.0.3")[0] for i in range(302)]
        self.assertEqual(statuses.count(200), 300)
        self.assertEqual(statuses[-2:], [429, 429])
        self.assertEqual(self.register("c0@example.test",
                                       client="127.0.0.4")[0], 200)

    def test_only_a_confirmed_registration_gets_the_daily_mail(self):
        status, _, _ = self.register("owner@example.test")
        self.assertEqual(status, 200, self.server.cgi_errors())
        token = self.token_of("owner@example.test")
        first = self.mails_to("owner@example.test", MATCH_SUBJECT)[-1]
        self.assertIn(self.manage_url + "?t=" + token, first["body"])
        self.assertIn("配信を確認する", first["body"])
        self.assertEqual(first["envelope"].split("\n")[0],
                         "bounces+%s@jobs.test" % token)

        def daily_mails():
            self.admin("import", os.path.join(self.home, "jobs.csv"))
            with open(os.path.join(self.home, "more.csv"), "w") as f:
                f.write(JOBS_CSV.splitlines()[0] + "\n" +
                        "新商事%d,営業事務,東京都港区,70,0\n" % len(
                            os.listdir(self.mails)))
            self.admin("import", os.path.join(self.home, "more.csv"))
            result = self.admin("notify", "--only", "owner@example.test")
            self.assertEqual(result.returncode, 0, result.stderr)
            return self.mails_to("owner@example.test", DAILY_SUBJECT)

        self.assertEqual(daily_mails(), [])
        # Opening the link, as a mail scanner does, confirms nothing.
        for query in ("t=" + token, "t=%s&confirm=1" % token):
            status, _, page = post(self.manage_url + "?" + query, None,
                                   method="GET")
            self.assertEqual(status, 200)
            self.assertIn("配信を確認する", page)
        self.assertEqual(daily_mails(), [])
        status, _, page = post(self.manage_url,
                               ("t=%s&confirm=1" % token).encode())
        self.assertIn("ご登録を確認しました", page)
        self.assertIn("運営者：株式会社テスト", page)
        mails = daily_mails()
        self.assertEqual(len(mails), 1)
        self.assertIn("運営者：株式会社テスト", mails[0]["body"])
        shown = self.admin("registrations", "owner@example.test").stdout
        self.assertIn(b"confirmed", shown)
        self.assertIn(b"from 127.0.0.1", shown)

    def test_expiry_deletes_what_was_never_confirmed(self):
        self.register("late@example.test", client="127.0.0.5")
        token = self.token_of("late@example.test")
        # Asked for eight days ago.
        self.sql("UPDATE registration_consent SET made = made - %s "
                 "WHERE registration_id = (SELECT id FROM registrations "
                 "WHERE token = '%s')"  # tokens are kept as their SHA-256
                 % (self.eight_days, hashlib.sha256(token.encode()).hexdigest()))
        result = self.admin("notify")
        self.assertIn(b"deleted 1 registrations never confirmed", result.stdout)
        status, _, _ = post(self.manage_url + "?t=" + token, None,
                            method="GET")
        self.assertEqual(status, 404)

    def test_list_mails_are_limited_across_letter_case(self):
        self.register("case@example.test", client="127.0.0.6")
        spellings = ["case@example.test", "Case@example.test",
                     "CASE@EXAMPLE.TEST", "case@Example.Test", "cAsE@example.test"]
        for spelling in spellings * 4:
            post(self.manage_url,
                 ("aaa=" + urllib.parse.quote(spelling)).encode())
        self.assertLessEqual(len(self.mails_to(
            "case@example.test", "求人マッチメールのご登録内容", wait=3)), 3)

    def test_bounces_of_each_kind_and_three_hard_ones_stop(self):
        self.register("gone@example.test", client="127.0.0.7")
        token = self.token_of("gone@example.test")
        verp = "bounces+%s@jobs.test" % token
        cases = [
            (bounce(verp, "4.2.2"), b"a soft bounce"),
            (b"From: a@example.test\r\nTo: " + verp.encode() +
             b"\r\nSubject: hi\r\n\r\nhello\r\n", b"not a bounce"),
            (bounce(verp, "").replace(b"Action: failed\r\nStatus: \r\n", b""),
             b"not a readable bounce"),
            (b"\x00\x01garbage", b"not a readable bounce"),
            (bounce(verp, "5.1.1"), b"hard bounce 1 of 3"),
            (bounce(verp, "5.1.1"), b"hard bounce 2 of 3"),
            (bounce(verp, "5.1.1"), b"hard bounce 3 of 3"),
        ]
        for message, said in cases:
            result = self.admin("bounce", stdin=message)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn(said, result.stdout)
        self.assertIn(b"the registration is stopped", result.stdout)
        shown = self.admin("registrations", "gone@example.test").stdout
        self.assertIn(b"stopped by the site after its hard bounces", shown)

    def test_a_maildir_of_bounces_is_read_once(self):
        self.register("box@example.test", client="127.0.0.8")
        verp = "bounces+%s@jobs.test" % self.token_of("box@example.test")
        maildir = os.path.join(self.home, "Maildir")
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(maildir, sub), exist_ok=True)
        for n in range(3):
            with open(os.path.join(maildir, "new", "%d.mx" % n), "wb") as f:
                f.write(bounce(verp, "5.1.1"))
        result = self.admin("bounce", "--maildir", maildir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"the registration is stopped", result.stdout)
        self.assertEqual(len(os.listdir(os.path.join(maildir, "cur"))), 3)
        result = self.admin("bounce", "--maildir", maildir)
        self.assertIn(b"0 messages read", result.stdout)


class SqliteSafeguardsTest(SafeguardsThroughServer, unittest.TestCase):
    eight_days = "0"  # replaced by the SQLite form below

    @classmethod
    def connection_string(cls):
        return None

    def sql(self, statement):
        statement = statement.replace(
            "made - 0", "datetime(made, '-8 days')")
        subprocess.run(["sqlite3", os.path.join(self.home, "jobs.db"),
                        statement], check=True)


class PostgresSafeguardsTest(SafeguardsThroughServer, unittest.TestCase):
    eight_days = "interval '8 days'"

    @classmethod
    def connection_string(cls):
        cls.uri = postgres_schema(POSTGRES_URI_FILE, "safeguards_")
        return cls.uri

    def sql(self, statement):
        subprocess.run(["psql", "-X", "-q", self.uri, "-c", statement],
                       check=True)


if __name__ == "__main__":
    CGI, MANAGE, ADMIN, LIGHTTPD = sys.argv[1:5]
    if len(sys.argv) > 5:
        POSTGRES_URI_FILE = sys.argv[5]
    unittest.main(argv=sys.argv[:1], verbosity=2)
