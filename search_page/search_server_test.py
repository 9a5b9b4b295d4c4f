"""A search posted through a real web server, answered from SQLite and from
PostgreSQL; registrations mail through a real SMTP receiver.

Usage: search_server_test.py Q_LOK_CGI Q_LOK_ADMIN LIGHTTPD [POSTGRES_URI_FILE]

Each engine gets a site home laid out by q_lok-admin and a small table of
known jobs imported from CSV; lighttpd runs the built q_lok.cgi against it,
and both relays of site.conf point to a mail receiver on loopback that
requires the first sender account's login.
The PostgreSQL cases are skipped when no URI file is given or it is absent.
"""

import os
import socket
import time
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from cgi_server import CgiServer, request  # noqa: E402
from test_site import (JOBS_CSV, SITE_ADDRESS, form,  # noqa: E402
                       load_jobs, make_site, page_text, postgres_schema,
                       received_mails, relay_conf, serve_mail)

CGI, ADMIN, LIGHTTPD = None, None, None
POSTGRES_URI_FILE = None

class SearchThroughServer:
    """The cases, run once per engine by the subclasses below."""

    engine = None

    @classmethod
    def connection_string(cls):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.home = make_site(cls, ADMIN, "qlok_search_home_",
                             cls.connection_string())
        cls.mails = os.path.join(cls.home, "mails")
        port = serve_mail(cls, cls.mails)
        with open(os.path.join(cls.home, "site.conf"), "w") as conf:
            conf.write(relay_conf(port) +
                       "[database]\nconnect_timeout = 2\n")
        load_jobs(ADMIN, cls.home, JOBS_CSV)
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"})
        cls.url = cls.server.__enter__() + "q_lok.cgi"
        cls.addClassCleanup(cls.server.__exit__, None, None, None)

    def post(self, body):
        status, _, raw = request(self.url, body)
        self.assertEqual(status, 200, self.server.cgi_errors())
        return page_text(raw)

    def last_log_record(self):
        with open(os.path.join(self.home, "received", "worqlet.txt"),
                  "rb") as log:
            lines = log.read().decode("cp932").split("\r\n")
        return lines[-4:-1]

    def test_hit_count_stands_above_the_form(self):
        cases = [
            (form(aac="事務"), 3),
            (form(aac="事務", asa="0"), 2),
            (form(aac="事務", boxes=["agc"]), 2),
            (form(aab="35", boxes=["ara", "ard"]), 3),
            (form(aah="港区"), 2),
            (form(aaf="800", aag="1800"), 3),      # the three day shifts
            (form(aaf="2200", aag="0600"), 1),     # the night shift
            (form(aaf="760", aag="1760"), 3),      # sixty minutes: 8:00-18:00
            (form(aaf="2100", aag="2400"), 0),     # ends before 5:00 the next day
        ]
        for body, hits in cases:
            with self.subTest(body=body):
                page = self.post(body)
                if hits:
                    sentence = ("この検索条件で過去約２週間の求人を検索すると%d件の求人が"
                                "ヒットしました。" % hits)
                    self.assertIn(sentence + "<BR>下の方にサンプル", page)
                    self.assertLess(page.index(sentence), page.index("<form"))
                    self.assertIn("</FORM><HR>", page)
                else:
                    self.assertIn("ヒットする求人はありませんでした。", page)
                    self.assertNotIn("件の求人がヒットしました", page)
                record = self.last_log_record()
                self.assertEqual(record[1][:len("メルアドなし  along=")],
                                 "メルアドなし  along=")
                self.assertTrue(record[2].startswith("SELECT * FROM 求人 WHERE "))

    def test_bare_table_counts_every_job(self):
        page = self.post(form())
        self.assertIn("検索すると6件の求人がヒットしました。", page)
        self.assertEqual(self.last_log_record()[2], "求人")
        # The sample jobs are the table's rows in its own order.
        self.assertIn("【求人6】", page)
        self.assertLess(page.index("第一商事"), page.index("第二物産"))
        self.assertLess(page.index("看護の会"), page.index("ウェブ工房"))

    def test_letter_case_is_ignored_and_unranked_jobs_come_last(self):
        page = self.post(form(aac="web　警備"))
        self.assertIn("検索すると2件の求人がヒットしました。", page)
        self.assertLess(page.index("【事業所名】夜間警備"),
                        page.index("【事業所名】ウェブ工房"))
        self.assertIn("【この求人のお勧めポイント】0点／100点満点", page)

    def test_libpq_is_loaded_for_postgresql_only(self):
        body = form()
        environment = {"PATH": "/usr/bin:/bin", "Q_LOK_HOME": self.home,
                       "TZ": "Asia/Tokyo", "REQUEST_METHOD": "POST",
                       "CONTENT_LENGTH": str(len(body)),
                       "CONTENT_TYPE": "application/x-www-form-urlencoded",
                       "LD_DEBUG": "files"}
        run = subprocess.run([CGI], input=body, env=environment,
                             capture_output=True, check=True)
        self.assertIn("件の求人がヒットしました", page_text(run.stdout))
        loaded = "file=libpq.so.5" in run.stderr.decode(errors="replace")
        self.assertEqual(loaded, self.engine == "postgresql")

    def test_form_comes_back_as_it_was_sent(self):
        page = self.post(form(aab="35", aac="事務　経理", aad="パソコン",
                              aae="土日", aaf="0830", aag="1730", aah="東京",
                              boxes=["agc", "ark"], asa="1"))
        for piece in [
                "NAME='aab' SIZE=20 maxlength='2' value='35'",
                "NAME='aac' SIZE=50 maxlength='50' value='事務　経理'",
                "NAME='aad' SIZE=50 maxlength='99' value='パソコン'",
                "NAME='aae' SIZE=20 maxlength='7' value='土日'",
                "NAME='aaf' SIZE=4 maxlength='4' value='830'",
                "NAME='aag' SIZE=4 maxlength='4' value='1730'",
                "NAME='aah' SIZE=50 maxlength='99' value='東京'",
                "<input type=checkbox name='agc' value='1' checked>パート・バイト",
                "<input type=checkbox name='ark' value='1' checked>通勤用駐車場",
                "<option selected value='1'>障がい者対象求人のみ",
                "<option value='0'>", "<option value='2'>"]:
            self.assertIn(piece, page)
        self.assertEqual(page.count(" checked>"), 2)

    def test_visitor_markup_stays_inside_the_attribute(self):
        page = self.post(form(aac="<b>", aah="'x"))
        self.assertIn("value='&lt;b&gt;'", page)
        self.assertIn("value='&#39;x'", page)
        self.assertNotIn("'<b>'", page)

    def test_raw_shift_jis_bytes_become_full_stops(self):
        body = form(aac="X").replace(b"aac=X", b"aac=\x82\xa0")
        page = self.post(body)
        self.assertIn("NAME='aac' SIZE=50 maxlength='50' value='..'", page)

    def test_hostile_lengths_are_cut(self):
        # Words of 60,000 characters: the statement still runs on the engine,
        # the form shows each word cut to 200 characters, and the log record
        # stays small.
        log = os.path.join(self.home, "received", "worqlet.txt")
        huge = {"aac": "事" * 60000, "aad": "x" * 60000, "aah": "港" * 60000,
                "aae": "土" * 60000, "aaa": "a@b.jp" + "x" * 300}
        for fields in [{"aac": huge["aac"]}, {"aad": huge["aad"]},
                       {"aah": huge["aah"]}, huge]:
            with self.subTest(fields=sorted(fields)):
                size_before = os.path.getsize(log)
                page = self.post(form(**fields))
                self.assertIn("ヒットする求人はありませんでした。", page)
                for name, value in fields.items():
                    if name in ("aac", "aad", "aah"):
                        self.assertIn("NAME='%s' SIZE=50 maxlength='%s' "
                                      "value='%s'" % (
                                          name, "50" if name == "aac" else "99",
                                          value[:200]), page)
                record = self.last_log_record()
                self.assertTrue(record[1].startswith("メルアドなし  along="))
                self.assertLess(os.path.getsize(log) - size_before, 16000)

    def received(self, count, timeout=10):
        return received_mails(self.mails, count, timeout)

    def test_registration_mails_the_jobs_and_the_record(self):
        before = len(self.received(0))
        page = self.post(form(aaa="taro@example.jp", aac="事務", aa8="2"))
        self.assertIn("登録を受付ました<BR>過去約２週間の情報から求人情報メールを2件分送信しました。",
                      page)
        self.assertIn("<BR>" + SITE_ADDRESS + "<HR>", page)
        self.assertNotIn("<form", page)
        self.assertNotIn("件の求人がヒットしました", page)
        self.assertTrue(self.last_log_record()[1].startswith(
            "taro@example.jp  along="))

        match, record = self.received(before + 2)[before:]
        self.assertEqual(match["envelope"].split("\n")[:3],
                         [SITE_ADDRESS, "taro@example.jp", "q2481xr736k"])
        self.assertEqual(match["subject"], "求人がみつかりました")
        self.assertTrue(match["body"].startswith(
            "求人マッチメールの１回目の求人情報メールです。\r\n"))
        self.assertIn("＝＝＝＝＝＝＝＝【求人2】＝＝＝＝＝＝＝＝", match["body"])
        self.assertNotIn("【求人3】", match["body"])
        self.assertIn("【事業所名】第一商事", match["body"])

        self.assertEqual(record["envelope"].split("\n")[:2],
                         [SITE_ADDRESS, SITE_ADDRESS])
        self.assertEqual(record["subject"], "ss0")
        self.assertTrue(record["body"].startswith(
            "_su=ss0\r\naaa=taro@example.jp\r\naa6=1\r\naa8=2\r\n"))
        self.assertTrue(record["body"].endswith("asa=2\r\nzzz"))

    def test_registration_without_hits_mails_only_the_record(self):
        before = len(self.received(0))
        page = self.post(form(aaa="hanako@example.jp", aac="宇宙飛行士"))
        self.assertTrue(page.split("\r\n")[9].startswith(
            "登録を受付ました<BR>求人情報が見つかり次第通知いたします<HR>"), page)
        mails = self.received(before + 1)[before:]
        self.assertEqual([m["subject"] for m in mails], ["ss0"])

    def test_search_shows_the_sample_jobs_best_first(self):
        page = self.post(form(aac="事務"))
        self.assertLess(page.index("【求人1】"), page.index("【求人3】"))
        self.assertNotIn("【求人4】", page)
        self.assertLess(page.index("第一商事"), page.index("第二物産"))


class SqliteSearchTest(SearchThroughServer, unittest.TestCase):

    engine = "sqlite"

    @classmethod
    def connection_string(cls):
        return "sqlite:jobs.db"


class PostgresSearchTest(SearchThroughServer, unittest.TestCase):

    engine = "postgresql"

    @classmethod
    def connection_string(cls):
        return postgres_schema(POSTGRES_URI_FILE, "search_")

    def use_connection_string(self, connection):
        """pw/qevo.txt names `connection` until the test ends."""
        qevo = os.path.join(self.home, "pw", "qevo.txt")
        with open(qevo, "rb") as f:
            kept = f.read()

        def restore():
            with open(qevo, "wb") as f:
                f.write(kept)
        self.addCleanup(restore)
        with open(qevo, "wb") as f:
            f.write(b"-\r\n-\r\n" + connection + b"\r\n-\r\n")

    def test_unreachable_server_gives_the_error_page(self):
        self.use_connection_string(b"postgresql:///qlok_test?host=/nonexistent"
                                   b"&connect_timeout=2")
        status, headers, body = request(self.url, form(aac="事務"))
        self.assertEqual(status, 500)
        self.assertIn("エラーが発生しました".encode("cp932"), body)
        self.assertNotIn(b"nonexistent", body)
        self.assertIn("q_lok:", self.server.cgi_errors())

    def test_silent_server_times_out_with_the_error_page(self):
        # A port whose connections the kernel accepts and nobody answers.
        silent = socket.socket()
        self.addCleanup(silent.close)
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        self.use_connection_string(b"postgresql://qlok@127.0.0.1:%d/jobs"
                                   % silent.getsockname()[1])
        started = time.monotonic()
        status, headers, body = request(self.url, form(aac="事務"))
        self.assertEqual(status, 500)
        self.assertIn("エラーが発生しました".encode("cp932"), body)
        self.assertIn("timeout expired", self.server.cgi_errors())
        # Two opens of two seconds each, not the web server's own limit.
        self.assertLess(time.monotonic() - started, 60)


if __name__ == "__main__":
    CGI, ADMIN, LIGHTTPD = sys.argv[1:4]
    if len(sys.argv) > 4:
        POSTGRES_URI_FILE = sys.argv[4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
