"""Registrations through a real web server whose mail relays fail: the
request keeps to its time limit, the mails wait in the outbox with one line
each on standard error, and q_lok-admin outbox --send delivers them later.

Usage: outbox_server_test.py Q_LOK_CGI Q_LOK_ADMIN LIGHTTPD

lighttpd runs the built q_lok.cgi on a SQLite site home laid out by
q_lok-admin; the relays of site.conf point to mail receivers on loopback
that stay silent, refuse every mail, or accept it with the first sender
account's login.
"""

import glob
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest
from urllib.parse import quote_plus

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from cgi_server import CgiServer, request  # noqa: E402
from test_site import (SITE_ADDRESS, load_jobs, make_site,  # noqa: E402
                       received_mails, relay_conf, serve_mail)

CGI, ADMIN, LIGHTTPD = None, None, None

JOBS_CSV = """\
社名,職種1,就労場所1,rank,障専
第一商事,一般事務,東京都港区,90,0
第二物産,経理事務,大阪府大阪市,80,0
"""


def registration(address="taro@example.jp"):
    parts = [("_su", "is1"), ("aaa", address), ("aa6", "1"), ("aa8", "100"),
             ("aab", ""), ("aac", "事務"), ("aad", ""), ("aae", ""),
             ("aaf", ""), ("aag", ""), ("aah", ""), ("aai", "0"),
             ("asa", "2"), ("zzz", "end")]
    return "&".join(n + "=" + quote_plus(v, encoding="cp932")
                    for n, v in parts).encode("ascii")


SEARCH = registration(address="")


class OutboxThroughServer(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.home = make_site(cls, ADMIN, "qlok_outbox_home_")
        load_jobs(ADMIN, cls.home, JOBS_CSV)
        cls.ports = {}
        for behave in ("silent", "refuse"):
            cls.ports[behave] = serve_mail(cls, os.path.join(cls.home, behave),
                                           "--behave", behave, login=None)
        cls.mails = os.path.join(cls.home, "mails")
        cls.ports["accept"] = serve_mail(cls, cls.mails)
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"})
        cls.url = cls.server.__enter__() + "q_lok.cgi"
        cls.addClassCleanup(cls.server.__exit__, None, None, None)

    def setUp(self):
        for name in glob.glob(os.path.join(self.home, "outbox", "*.mail")):
            os.remove(name)
        self.errors_before = len(self.server.cgi_errors())

    def relays(self, behave, time_limit=None):
        """site.conf with both relays at the receiver that behaves so."""
        port = self.ports[behave]
        with open(os.path.join(self.home, "site.conf"), "w") as conf:
            conf.write(relay_conf(port))
            if time_limit:
                conf.write("[request]\ntime_limit = %d\n" % time_limit)

    def post(self, body):
        start = time.monotonic()
        status, _, raw = request(self.url, body, timeout=120)
        took = time.monotonic() - start
        self.assertEqual(status, 200, self.server.cgi_errors())
        return raw[:-2].decode("cp932"), took

    def new_errors(self):
        return self.server.cgi_errors()[self.errors_before:].splitlines()

    def kept(self):
        return sorted(glob.glob(os.path.join(self.home, "outbox", "*.mail")))

    def admin(self, *args):
        return subprocess.run([ADMIN, "outbox", "--home", self.home] +
                              list(args), capture_output=True, text=True)

    def received(self, count, timeout=10):
        return received_mails(self.mails, count, timeout)

    def test_silent_relays_keep_the_request_to_its_time_limit(self):
        self.relays("silent", time_limit=4)
        page, took = self.post(registration())
        # A silent relay would otherwise hold each attempt 20 s.
        self.assertLess(took, 4 + 1.5)
        self.assertIn("登録を受付ました<BR>過去約２週間の情報から求人情報メールを"
                      "2件分送信しました。", page)
        kept = self.kept()
        self.assertEqual(len(kept), 2)
        for name in kept:
            self.assertEqual(stat.S_IMODE(os.stat(name).st_mode), 0o600)
            with open(name, "rb") as f:
                content = f.read()
            # No password is kept.
            self.assertNotIn(b"5d9p1s7tvak", content)
        errors = self.new_errors()
        self.assertEqual(len(errors), 2, errors)
        self.assertRegex(errors[0], r"^q_lok: match mail to taro@example\.jp "
                         r"not delivered, kept in the outbox as \S+\.mail; "
                         r"last answer: .+")
        self.assertRegex(errors[1], r"^q_lok: registration record to " +
                         re.escape(SITE_ADDRESS) + r" not delivered, kept in "
                         r"the outbox as \S+\.mail; last answer: .+")

        listing = self.admin()
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertIn("2 mails wait in", listing.stdout)
        self.assertIn("registration_record  " + SITE_ADDRESS, listing.stdout)
        self.assertIn("match_mail  taro@example.jp", listing.stdout)

        # The relay answers again: the operator sends what waits.
        before = len(self.received(0))
        self.relays("accept")
        sent = self.admin("--send")
        self.assertEqual(sent.returncode, 0, sent.stdout + sent.stderr)
        self.assertIn("[2/2]", sent.stdout)
        self.assertIn("delivered 2 of 2", sent.stdout)
        self.assertEqual(self.kept(), [])
        match, record = self.received(before + 2)[before:]
        self.assertEqual(record["subject"], "ss0")
        self.assertEqual(record["envelope"].split("\n")[:3],
                         [SITE_ADDRESS, SITE_ADDRESS, "q2481xr736k"])
        self.assertTrue(record["body"].startswith(
            "_su=ss0\r\naaa=taro@example.jp\r\n"))
        self.assertEqual(match["subject"], "求人がみつかりました")
        self.assertIn("【事業所名】第二物産", match["body"])
        self.assertEqual(self.admin("--send").returncode, 0)

    def test_refused_mails_wait_byte_for_byte(self):
        self.relays("refuse")
        page, _ = self.post(registration("hanako@example.jp"))
        self.assertIn("登録を受付ました", page)
        kept = self.kept()
        self.assertEqual(len(kept), 2)
        bodies = {}
        for name in kept:
            with open(name, "rb") as f:
                head, _, body = f.read().partition(b"\nbody: ")
            size, _, body = body.partition(b"\n")
            self.assertEqual(int(size), len(body))
            self.assertRegex(head, rb"\nanswer: [^\n]*550")
            bodies[b"subject: ss0" in head] = body
        errors = self.new_errors()
        self.assertEqual(len(errors), 2, errors)
        for line in errors:
            self.assertIn("550", line)

        # Still refused: nothing is lost, and the command says so.
        failed = self.admin("--send")
        self.assertEqual(failed.returncode, 1)
        self.assertIn("2 mails still wait", failed.stdout)
        self.assertEqual(len(self.kept()), 2)

        before = len(self.received(0))
        self.relays("accept")
        self.assertEqual(self.admin("--send").returncode, 0)
        mails = self.received(before + 2)[before:]
        received = {m["subject"] == "ss0": m["body"].encode() for m in mails}
        self.assertEqual(received, bodies)

    def test_libcurl_is_loaded_only_when_a_mail_is_sent(self):
        self.relays("refuse", time_limit=2)
        trace = tempfile.mkdtemp(prefix="qlok_ld_debug_")
        self.addCleanup(shutil.rmtree, trace, ignore_errors=True)

        def libraries(body):
            """The files the dynamic loader opened while serving `body`."""
            for name in os.listdir(trace):
                os.remove(os.path.join(trace, name))
            environment = {
                "Q_LOK_HOME": self.home, "TZ": "Asia/Tokyo",
                "REQUEST_METHOD": "POST", "CONTENT_LENGTH": str(len(body)),
                "CONTENT_TYPE": "application/x-www-form-urlencoded",
                "LD_DEBUG": "files",
                "LD_DEBUG_OUTPUT": os.path.join(trace, "ld"),
            }
            done = subprocess.run([CGI], input=body, env=environment,
                                  capture_output=True)
            self.assertIn(b"Content-type: text/html", done.stdout)
            text = ""
            for name in os.listdir(trace):
                with open(os.path.join(trace, name), errors="replace") as f:
                    text += f.read()
            self.assertIn("libc.so", text)  # the trace works
            return text

        self.assertNotIn("libcurl", libraries(SEARCH))
        self.assertIn("libcurl.so.4", libraries(registration()))


if __name__ == "__main__":
    CGI, ADMIN, LIGHTTPD = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
