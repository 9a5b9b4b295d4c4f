"""The daily mail as a site runs it: registrations through lighttpd,
imports and the daily run with q_lok-admin, mails through a real SMTP
receiver, on SQLite and on PostgreSQL (where the search page connects as a
role that may only read the job table).

Usage: notify_server_test.py Q_LOK_CGI Q_LOK_ADMIN LIGHTTPD [POSTGRES_URI_FILE]
"""

import email
import email.policy
import os
import subprocess
import sys
import threading
import time
import unittest
import uuid
from urllib.parse import parse_qs, urlsplit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from cgi_server import CgiServer, request  # noqa: E402
from test_site import (SITE_ADDRESS, form, make_site,  # noqa: E402
                       page_text, relay_conf, serve_mail)

CGI, ADMIN, LIGHTTPD = None, None, None
POSTGRES_URI_FILE = None
MANAGE_URL = "https://jobs.example.test/q/q_lok-manage.cgi"

HEADER = "社名,職種1,就労場所1,rank,障専\n"


def jobs_csv(*jobs):
    """CSV of (company, job type, rank) jobs."""
    return HEADER + "".join("%s,%s,東京都港区,%d,0\n" % job for job in jobs)


class DailyMailThroughServer:
    """The cases, run once per engine by the subclasses below."""

    @classmethod
    def admin_database(cls):
        """The connection string of the operator's commands."""
        raise NotImplementedError

    @classmethod
    def site_database(cls):
        """The connection string of the search page (pw/qevo.txt)."""
        return cls.admin_database()

    @classmethod
    def setUpClass(cls):
        cls.prepare_database()
        cls.home = make_site(cls, ADMIN, "qlok_notify_home_",
                             cls.site_database())
        cls.mails = os.path.join(cls.home, "mails")
        port = serve_mail(cls, cls.mails)
        with open(os.path.join(cls.home, "site.conf"), "w") as conf:
            # Registrations confirmed as they are made, and no limits in
            # the way: the daily run is what these cases are about.
            conf.write(relay_conf(port) + "[manage]\npage_url = %s\n"
                       "[registration]\nconfirmation = none\n"
                       "per_client_per_hour = 100000\n"
                       "mails_per_address_per_day = 1000\n" % MANAGE_URL)
        cls.admin("init")
        cls.after_init()
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"})
        cls.url = cls.server.__enter__() + "q_lok.cgi"
        cls.addClassCleanup(cls.server.__exit__, None, None, None)

    @classmethod
    def prepare_database(cls):
        pass

    @classmethod
    def after_init(cls):
        pass

    @classmethod
    def admin(cls, *args, check=True):
        result = subprocess.run(
            [ADMIN] + list(args) + ["--home", cls.home, "--database",
                                    cls.admin_database()],
            capture_output=True, text=True)
        if check and result.returncode != 0:
            raise AssertionError("q_lok-admin %s: %s%s" % (
                " ".join(args), result.stdout, result.stderr))
        return result

    def load(self, *jobs, replace=False):
        path = os.path.join(self.home, "jobs.csv")
        with open(path, "w", encoding="utf-8") as out:
            out.write(jobs_csv(*jobs))
        self.admin("import", path, *(["--replace"] if replace else []))

    def register(self, address, job_type, number="1", maximum="100"):
        status, _, raw = request(self.url, form(aaa=address, aac=job_type,
                                                aa6=number, aa8=maximum))
        self.assertEqual(status, 200, self.server.cgi_errors())
        self.assertIn("登録を受付ました", page_text(raw))

    def mails_so_far(self):
        return len([n for n in os.listdir(self.mails) if n.endswith(".done")])

    def new_mails(self, before, count, timeout=10):
        """The mails after the first `before`, once there are `count`."""
        deadline = time.monotonic() + timeout
        while self.mails_so_far() < before + count:
            if time.monotonic() > deadline:
                break
            time.sleep(0.05)
        time.sleep(0.2)  # a mail too many would show by now
        mails = []
        for n in range(before + 1, self.mails_so_far() + 1):
            with open(os.path.join(self.mails, "%d.eml" % n), "rb") as f:
                message = email.message_from_bytes(f.read(),
                                                   policy=email.policy.default)
            mails.append(message)
        return mails

    @staticmethod
    def companies(message):
        body = message.get_content()
        return [line[len("【事業所名】"):] for line in body.split("\r\n")
                if line.startswith("【事業所名】")]

    def notify(self, *args):
        result = self.admin("notify", *args, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout

    def token_of(self, message):
        """The token of the List-Unsubscribe link, checked on the way."""
        field = message["List-Unsubscribe"]
        link, mailto = [part.strip() for part in field.split(",")]
        self.assertEqual(mailto, "<mailto:%s>" % SITE_ADDRESS)
        self.assertTrue(link.startswith("<" + MANAGE_URL + "?t="), link)
        self.assertEqual(message["List-Unsubscribe-Post"],
                         "List-Unsubscribe=One-Click")
        self.assertEqual(message["Auto-Submitted"], "auto-generated")
        token = parse_qs(urlsplit(link[1:-1]).query)["t"][0]
        self.assertRegex(token, "^[0-9a-f]{32}$")
        return token

    def test_the_daily_mail_brings_each_new_job_once(self):
        self.load(("古い事務", "事務", 50), ("古い営業", "営業", 60))
        self.notify()  # numbers the jobs the table has
        before = self.mails_so_far()
        self.register("taro@example.jp", "事務")
        first, record = self.new_mails(before, 2)
        self.assertEqual(record["Subject"], "ss0")
        self.assertEqual(self.companies(first), ["古い事務"])
        self.assertTrue(first.get_content().startswith(
            "求人マッチメールの１回目の求人情報メールです。\r\n"))
        token = self.token_of(first)

        self.load(("新しい事務1", "一般事務", 70), ("新しい営業", "営業", 90),
                  ("新しい事務2", "経理事務", 80))
        before = self.mails_so_far()
        output = self.notify()
        self.assertIn("notify: 1 registrations, 1 mails, 2 jobs, 0 failures",
                      output)
        [daily] = self.new_mails(before, 1)
        self.assertEqual(daily["To"], "taro@example.jp")
        self.assertEqual(self.companies(daily), ["新しい事務2", "新しい事務1"])
        self.assertEqual(self.token_of(daily), token)
        self.assertIn(MANAGE_URL + "?t=" + token, daily.get_content())

        # Again, and after a reload of the same jobs: nothing new.
        before = self.mails_so_far()
        self.assertIn("0 mails", self.notify())
        self.load(("古い事務", "事務", 50), ("古い営業", "営業", 60),
                  ("新しい事務1", "一般事務", 75), ("新しい営業", "営業", 90),
                  ("新しい事務2", "経理事務", 80), replace=True)
        self.assertIn("0 mails", self.notify())
        self.assertEqual(self.new_mails(before, 0), [])

        self.load(("もっと新しい事務", "事務", 10))
        self.notify()
        [newer] = self.new_mails(before, 1)
        self.assertEqual(self.companies(newer), ["もっと新しい事務"])

        # Registered again under the same number: one registration, the new
        # conditions.
        self.register("taro@example.jp", "警備")
        listed = self.admin("registrations", "taro@example.jp").stdout
        self.assertEqual(listed.count("taro@example.jp number"), 1, listed)
        self.assertIn("警備", listed)
        self.assertNotIn("事務", listed)

        # Stopped: nothing more.
        self.assertIn("stopped 1 registration",
                      self.admin("registrations", "stop",
                                 "taro@example.jp").stdout)
        self.load(("夜の警備", "警備", 40))
        before = self.mails_so_far()
        self.assertIn("notify: 0 registrations", self.notify())
        self.assertEqual(self.new_mails(before, 0), [])

    def test_two_runs_at_once_send_each_mail_once(self):
        self.notify()
        for n in range(3):
            self.register("hanako%d@example.jp" % n, "保育")
        self.load(("保育園A", "保育士", 30), ("保育園B", "保育補助", 20))
        before = self.mails_so_far()
        results = []

        def run():
            results.append(self.admin("notify", check=False))

        runs = [threading.Thread(target=run) for _ in range(2)]
        for thread in runs:
            thread.start()
        for thread in runs:
            thread.join()
        self.assertEqual([r.returncode for r in results], [0, 0],
                         [r.stderr for r in results])
        mails = self.new_mails(before, 3)
        self.assertEqual(sorted(m["To"] for m in mails),
                         ["hanako%d@example.jp" % n for n in range(3)])
        self.assertEqual(sum(" 3 mails," in r.stdout for r in results), 1,
                         [r.stdout for r in results])


class SqliteDailyMailTest(DailyMailThroughServer, unittest.TestCase):

    @classmethod
    def admin_database(cls):
        return "sqlite:jobs.db"


class PostgresDailyMailTest(DailyMailThroughServer, unittest.TestCase):
    """The search page connects as qlok_web, which may only read 求人."""

    @classmethod
    def prepare_database(cls):
        if not POSTGRES_URI_FILE or not os.path.exists(POSTGRES_URI_FILE):
            raise unittest.SkipTest("no PostgreSQL server for the tests")
        with open(POSTGRES_URI_FILE) as f:
            cls.uri = f.read().strip()
        cls.schema = "notify_" + uuid.uuid4().hex[:12]
        cls.role = "qlok_web_" + uuid.uuid4().hex[:8]
        cls.psql("CREATE SCHEMA %s; CREATE ROLE %s LOGIN"
                 % (cls.schema, cls.role))

    @classmethod
    def psql(cls, sql, user=None, check=True):
        uri = cls.uri if user is None else cls.uri.replace(
            "user=postgres", "user=" + user)
        return subprocess.run(
            ["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", uri, "-c",
             "SET search_path TO %s, public; %s" % (cls.schema, sql)],
            check=check, capture_output=True, text=True)

    @classmethod
    def with_schema(cls, uri):
        return uri + "&options=-csearch_path%3D" + cls.schema + "%2Cpublic"

    @classmethod
    def admin_database(cls):
        return cls.with_schema(cls.uri)

    @classmethod
    def site_database(cls):
        return cls.with_schema(cls.uri.replace("user=postgres",
                                               "user=" + cls.role))

    @classmethod
    def after_init(cls):
        # The grants the README gives the search page's role.
        cls.psql(
            "GRANT USAGE ON SCHEMA {s} TO {r};"
            "GRANT SELECT ON 求人, seen_jobs, qlok_grams, qlok_gram_bands, "
            "qlok_gram_state TO {r};"
            "GRANT SELECT, INSERT, UPDATE ON registrations TO {r};"
            "GRANT SELECT, INSERT, UPDATE, DELETE ON address_lookups TO {r};"
            "GRANT SELECT, INSERT, UPDATE ON registration_consent TO {r};"
            "GRANT SELECT, INSERT, DELETE ON send_counts TO {r};"
            .format(s=cls.schema, r=cls.role))

    def test_ties_of_rank_come_in_row_order(self):
        # A row changed by hand moves to the end of the table's storage,
        # which the sweep reads in storage order; the mail still lists jobs
        # of equal rank in the order of their rows, as the search page does.
        self.load(("前からの同順", "同順の仕事", 90))
        before = self.mails_so_far()
        self.register("jiro@example.jp", "同順")
        self.new_mails(before, 2)  # the first match mail and the record
        self.load(*[("同順%d" % n, "同順の仕事", 30) for n in range(1, 5)])
        self.psql("UPDATE 求人 SET 職種2 = 職種2 WHERE 社名 = '同順1'")
        before = self.mails_so_far()
        self.notify()
        [daily] = self.new_mails(before, 1)
        self.assertEqual(daily["To"], "jiro@example.jp")
        self.assertEqual(self.companies(daily),
                         ["同順1", "同順2", "同順3", "同順4"])

    def test_the_search_page_role_cannot_change_the_job_table(self):
        for sql in ["INSERT INTO 求人 (社名) VALUES ('x')",
                    "UPDATE 求人 SET rank = 1", "DELETE FROM 求人",
                    "DROP TABLE 求人"]:
            result = self.psql(sql, user=self.role, check=False)
            self.assertNotEqual(result.returncode, 0, sql)
            self.assertRegex(result.stderr, "permission denied|must be owner")
        self.assertEqual(self.psql("SELECT count(*) FROM 求人",
                                   user=self.role).returncode, 0)


if __name__ == "__main__":
    CGI, ADMIN, LIGHTTPD = sys.argv[1:4]
    if len(sys.argv) > 4:
        POSTGRES_URI_FILE = sys.argv[4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
