"""Concurrent searches, registrations and manage-page requests through a
real web server, on SQLite and on PostgreSQL.

Usage: load_test.py Q_LOK_CGI Q_LOK_ADMIN LIGHTTPD Q_LOK_MANAGE_CGI
                    [POSTGRES_URI_FILE]

Sixteen clients send 1,000 requests between them, searches, registrations
and the manage page's lookups (each of which writes the lookup count)
mixed, to lighttpd running the built q_lok.cgi and q_lok-manage.cgi on a
site of generated jobs; both relays point to the tests' mail receiver. The
load runs once per engine; the cases then check what it left: every
response a whole 200 page, every registration stored in the database (none
lost to a lock) and mailed, the registration log with exactly one whole
record per search-page request, and a turn number of its own for each.
"""

import collections
import concurrent.futures
import csv
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from cgi_server import SANITIZER_VARIABLES, CgiServer, request  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from test_site import LOGIN, form, postgres_schema, start_receiver  # noqa: E402

CGI, ADMIN, LIGHTTPD, MANAGE, POSTGRES_URI_FILE = None, None, None, None, None

CLIENTS = 16
REQUESTS = 1000
JOBS = 300
SITE_ADDRESS = "site@example.test"

HEAD = ('<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">'
        '<HTML lang="ja"><HEAD><meta http-equiv="Content-Type" '
        'content="text/html; charset=shift_jis">\r\n')
END = "</FORM>"
CLOSE = "</DIV>\r\n</BODY>\r\n</HTML>\r\n\r\n"

JOB_TYPES = ["事務", "営業", "看護", "介護", "警備", "調理", ""]
PLACES = ["", "東京", "大阪", "札幌", "福岡"]
HOURS = [("", ""), ("800", "1800"), ("2200", "0600"), ("0900", "1500")]
MAXIMA = ["100", "50", "30", "20", "10"]


def local_zone_at_noon():
    """A POSIX TZ under which it is now about noon, far from the last ten
    minutes of the day in which each request empties the log."""
    hours = (12 - time.gmtime().tm_hour) % 24
    if hours > 12:
        hours -= 24
    return "QLK%+d" % -hours  # POSIX counts the offset westward


def tag(number):
    """A word of request `number` that its query, and so its log record,
    carries: searches look for it among the content words."""
    return "z%03d" % number


def planned_request(number):
    """Request `number`: (address or "", form body, page) with page "q" for
    the search page, "lookup" and "form" for the manage page. Every fourth
    is a registration; all of them hit some job (the content word "の" is in
    nearly every job), so each registration sends its match mail. Every
    tenth is a lookup of an address without registrations (it counts the
    lookup in the database and mails nothing), and as many ask for the
    lookup form."""
    if number % 10 == 3:
        return "", ("aaa=nobody%03d%%40example.jp" % number).encode(), "lookup"
    if number % 10 == 7:
        return "", None, "form"
    job_type = JOB_TYPES[number % len(JOB_TYPES)]
    start, end = HOURS[number % len(HOURS)]
    fields = dict(aac=job_type, aad="の　" + tag(number),
                  aah=PLACES[number % len(PLACES)], aaf=start, aag=end,
                  asa=str(number % 3))
    address = ""
    if number % 4 == 0:
        address = "load%03d@example.jp" % number
        fields.update(aaa=address, aa8=MAXIMA[number % len(MAXIMA)],
                      aac="", aah="", aaf="", aag="", asa="2")
    if number % 5 == 1:
        fields["boxes"] = ["agc", "ara"]
    return address, form(**fields), "q"


class UnderLoad:
    """The cases, run once per engine by the subclasses below."""

    @classmethod
    def connection_string(cls):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="qlok_load_home_")
        cls.addClassCleanup(shutil.rmtree, cls.home, ignore_errors=True)
        subprocess.run([ADMIN, "site", cls.home, "--database",
                        cls.connection_string()],
                       check=True, stdout=subprocess.DEVNULL)
        for command in (["init"], ["generate", str(JOBS)]):
            subprocess.run([ADMIN] + command + ["--home", cls.home],
                           check=True, stdout=subprocess.DEVNULL)
        cls.mails = os.path.join(cls.home, "mails")
        os.mkdir(cls.mails)
        receiver, port = start_receiver(cls.mails)
        cls.addClassCleanup(receiver.stdout.close)
        cls.addClassCleanup(receiver.wait)
        cls.addClassCleanup(receiver.terminate)
        with open(os.path.join(cls.home, "site.conf"), "w") as conf:
            conf.write("[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
                       "submission_port = %d\nrelay_port = %d\n"
                       "[senders]\naccount1 = %s\n"
                       # Many registrations from one client at once: the
                       # sending limits are not what this test measures.
                       "[registration]\nmails_per_address_per_day = 1000\n"
                       "per_client_per_hour = 100000\n"
                       % (port, port, SITE_ADDRESS))
        with open(os.path.join(cls.home, "pw", "mail.txt"), "w") as accounts:
            accounts.write(LOGIN + "\r\nx:y\r\nx:z\r\n")

        cls.plan = [planned_request(n) for n in range(REQUESTS)]
        zone = local_zone_at_noon()
        server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                           environment={"TZ": zone},
                           programs={"q_lok-manage.cgi": MANAGE})
        base = server.__enter__()
        urls = {"q": base + "q_lok.cgi", "lookup": base + "q_lok-manage.cgi",
                "form": base + "q_lok-manage.cgi"}
        holder = None
        try:
            holder = cls.hold_another_instance(server.program_path, zone)
            with concurrent.futures.ThreadPoolExecutor(CLIENTS) as clients:
                cls.responses = list(clients.map(
                    lambda planned: request(urls[planned[2]], planned[1],
                                            timeout=120),
                    cls.plan))
            cls.cgi_errors = server.cgi_errors()
        finally:
            if holder:
                holder.kill()
                holder.wait()
                holder.stdin.close()
            server.__exit__(None, None, None)
        with open(os.path.join(cls.home, "received", "worqlet.txt"),
                  "rb") as log:
            cls.log = log.read()
        stored = subprocess.run(
            [ADMIN, "registrations", "--csv", "-", "--home", cls.home],
            check=True, capture_output=True).stdout.decode("utf-8")
        cls.stored = stored

    @classmethod
    def hold_another_instance(cls, program, zone):
        """Starts the server's copy of the program waiting for a body that
        never comes, and returns the process (to be killed, so that it
        writes nothing). A request counts its turn on from the last one
        only while another instance runs, and starts again at 100 when it
        runs alone; with this one waiting, no request of the load runs
        alone, and each must get a number of its own."""
        environment = {name: value for name, value in os.environ.items()
                       if name in SANITIZER_VARIABLES}
        environment.update(Q_LOK_HOME=cls.home, TZ=zone, CONTENT_LENGTH="10")
        return subprocess.Popen([program], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=environment)

    def test_every_response_is_whole(self):
        for number, ((address, _, page_kind), (status, headers, body)) in \
                enumerate(zip(self.plan, self.responses)):
            with self.subTest(request=number):
                self.assertEqual(status, 200, self.cgi_errors[-2000:])
                self.assertTrue(headers.get("content-type", "")
                                .startswith("text/html"), headers)
                if "content-length" in headers:
                    self.assertEqual(int(headers["content-length"]), len(body))
                self.assertTrue(body.endswith(b"\x00\x00"), body[-40:])
                if page_kind != "q":
                    continue
                page = body[:-2].decode("cp932")  # strict: every byte whole
                self.assertTrue(page.startswith(HEAD), page[:200])
                self.assertTrue(page.endswith(CLOSE), page[-200:])
                if address:
                    self.assertIn("登録を受付ました<BR>過去約２週間の情報から"
                                  "求人情報メールを", page)
                else:
                    self.assertIn(END, page)
                    self.assertIn(tag(number), page)
        self.assertEqual(self.cgi_errors, "")

    def records(self):
        """The log's records as lists of three lines."""
        text = self.log.decode("cp932")
        self.assertTrue(text.endswith("\r\n"))
        lines = text[:-2].split("\r\n")
        self.assertEqual(len(lines) % 3, 0, "a record is not whole")
        return [lines[i:i + 3] for i in range(0, len(lines), 3)]

    def searches(self):
        """The numbers of the search page's requests."""
        return [n for n, (_, _, page) in enumerate(self.plan) if page == "q"]

    def test_log_holds_one_whole_record_per_request(self):
        records = self.records()
        self.assertEqual(len(records), len(self.searches()))
        seen = collections.Counter()
        for clock, who, query in records:
            self.assertRegex(clock, r"\A\d{1,2}:\d\d:\d\d\Z")
            self.assertRegex(who, r"\A(メルアドなし|load\d{3}@example\.jp)  "
                             r"along=\d+\Z")
            self.assertTrue(query.startswith("SELECT * FROM 求人 WHERE "),
                            query)
            self.assertTrue(query.endswith(" ORDER BY rank DESC limit 1000;"),
                            query)
            number = int(re.search(r"'%z(\d{3})%'", query).group(1))
            address = self.plan[number][0]
            self.assertEqual(who.split("  ")[0], address or "メルアドなし")
            seen[number] += 1
        self.assertEqual(seen, collections.Counter(self.searches()))

    def received(self):
        mails = []
        for name in os.listdir(self.mails):
            if not name.endswith(".done"):
                continue
            base = os.path.join(self.mails, name[:-5])
            with open(base + ".envelope", encoding="utf-8") as f:
                envelope = f.read().split("\n")
            with open(base + ".subject", encoding="utf-8") as f:
                subject = f.read()
            with open(base + ".body", encoding="utf-8", newline="") as f:
                body = f.read()
            mails.append((envelope[1], subject, body))
        return mails

    def test_every_registration_mails_its_jobs_and_its_record(self):
        addresses = sorted(a for a, _, _ in self.plan if a)
        mails = self.received()
        matches = sorted(to for to, subject, _ in mails
                         if subject == "求人がみつかりました")
        self.assertEqual(matches, addresses)
        records = [body for to, subject, body in mails if subject == "ss0"]
        self.assertTrue(all(to == SITE_ADDRESS for to, subject, _ in mails
                            if subject == "ss0"))
        recorded = sorted(re.search(r"\r\naaa=(\S+)\r\n", body).group(1)
                          for body in records)
        self.assertEqual(recorded, addresses)
        self.assertEqual(len(mails), 2 * len(addresses))

    def test_no_registration_is_lost(self):
        addresses = sorted(a for a, _, _ in self.plan if a)
        rows = list(csv.reader(io.StringIO(self.stored, newline="")))
        column = rows[0].index("address")
        self.assertEqual(sorted(row[column] for row in rows[1:]), addresses)

    def test_every_request_has_a_turn_number_of_its_own(self):
        turns = collections.Counter(
            int(who.rsplit("along=", 1)[1]) for _, who, _ in self.records())
        shared = sorted(turn for turn, count in turns.items() if count > 1)
        self.assertEqual(shared, [], "%d turn numbers were given to more "
                         "than one request" % len(shared))


class SqliteUnderLoad(UnderLoad, unittest.TestCase):

    @classmethod
    def connection_string(cls):
        return "sqlite:jobs.db"


class PostgresUnderLoad(UnderLoad, unittest.TestCase):

    @classmethod
    def connection_string(cls):
        return postgres_schema(POSTGRES_URI_FILE, "load_")


if __name__ == "__main__":
    CGI, ADMIN, LIGHTTPD, MANAGE = sys.argv[1:5]
    if len(sys.argv) > 5:
        POSTGRES_URI_FILE = sys.argv[5]
    unittest.main(argv=sys.argv[:1], verbosity=2)
