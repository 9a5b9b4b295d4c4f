"""Faults from outside: a full disk under the database during a
registration and during the daily run, a database locked past a request's
time, and a database that others can read.

Usage: fault_test.py Q_LOK_CGI Q_LOK_ADMIN

The full disk is a small tmpfs mounted below the site home, where the
SQLite database lives (sqlite:db/jobs.db); mounting needs root, so those
cases are skipped for other users. The programs run as the web server
runs them: the CGI variables set, the body on standard input.
"""

import collections
import csv
import io
import os
import shutil
import sqlite3
import stat
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from test_site import (LOGIN, SITE_ADDRESS, form,  # noqa: E402
                       received_mails, relay_conf, start_receiver)

CGI, ADMIN = None, None

NOT_KEPT = "ただいま登録を完了できませんでした"
CONFIRMED = "登録を受付ました"
DAILY_SUBJECT = "新着の求人がみつかりました"


def admin(*arguments, check=True):
    return subprocess.run([ADMIN] + list(arguments), capture_output=True,
                          text=True, check=check)


class FaultTest(unittest.TestCase):

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="qlok_fault_")
        self.addCleanup(shutil.rmtree, self.home, ignore_errors=True)
        self.mails = os.path.join(self.home, "mails")
        receiver, port = start_receiver(self.mails)
        self.addCleanup(receiver.wait)
        self.addCleanup(receiver.terminate)
        self.port = port

    def make_site(self, connection="sqlite:jobs.db", more_conf=""):
        admin("site", self.home, "--database", connection)
        with open(os.path.join(self.home, "pw", "mail.txt"), "w") as f:
            f.write(LOGIN + "\r\nx:y\r\nx:z\r\n")
        with open(os.path.join(self.home, "site.conf"), "w") as conf:
            # The daily run mails confirmed registrations only: these are
            # confirmed as they are made.
            conf.write(relay_conf(self.port) +
                       "[registration]\nconfirmation = none\n" + more_conf)
        admin("init", "--home", self.home)
        admin("generate", "30", "--home", self.home)

    def mount_small_disk(self, folder):
        """A 4 MiB tmpfs at `folder`, unmounted after the test."""
        if os.geteuid() != 0:
            self.skipTest("mounting a small disk needs root")
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m,mode=0750",
                        "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", folder])

    def fill(self, folder):
        """Fills the disk of `folder` to the last byte; returns the filler,
        whose removal frees it."""
        filler = os.path.join(folder, "filler")
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            while True:
                os.write(fd, b"\0" * 4096)
        except OSError:
            pass
        finally:
            os.close(fd)
        return filler

    def hold_open(self, database):
        """A connection that keeps the database open while the disk is
        full, as the site's other requests do: its write-ahead log and
        index stay, emptied, so that a write needs new room. (With no
        connection left, a full disk cannot even open the database: every
        request then gets the error page.)"""
        holder = sqlite3.connect(database, isolation_level=None)
        holder.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        self.addCleanup(holder.close)
        return holder

    def post(self, body):
        """q_lok.cgi as the web server starts it; (status, page, errors)."""
        environment = dict(REQUEST_METHOD="POST", CONTENT_LENGTH=str(len(body)),
                           CONTENT_TYPE="application/x-www-form-urlencoded",
                           Q_LOK_HOME=self.home, TZ="Asia/Tokyo",
                           PATH=os.environ.get("PATH", ""))
        done = subprocess.run([CGI], input=body, capture_output=True,
                              env=environment, timeout=120)
        head, _, page = done.stdout.partition(b"\r\n\r\n")
        status = 200
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"status:"):
                status = int(line.split()[1])
        return status, page.decode("cp932", "replace"), done.stderr.decode()

    def mails_now(self, settle=1.0):
        time.sleep(settle)
        return received_mails(self.mails, 0, timeout=0)

    def register(self, address):
        return self.post(form(aaa=address, aa6="1", aa8="100"))

    def assert_not_kept(self, answer, address):
        status, page, errors = answer
        self.assertEqual(status, 200, errors)
        self.assertIn(NOT_KEPT, page)
        self.assertNotIn(CONFIRMED, page)
        self.assertIn("value='%s'" % address, page)  # the form, filled
        lines = [line for line in errors.splitlines() if line]
        self.assertEqual(len(lines), 1, errors)
        self.assertIn("the registration of %s was not kept" % address,
                      lines[0])

    def stored(self):
        """The registrations in the database, as CSV rows."""
        out = admin("registrations", "--csv", "-", "--home", self.home).stdout
        return list(csv.reader(io.StringIO(out, newline="")))[1:]

    def test_a_registration_on_a_full_disk_is_refused_out_loud(self):
        self.mount_small_disk(os.path.join(self.home, "db"))
        self.make_site("sqlite:db/jobs.db")
        database = os.path.join(self.home, "db", "jobs.db")
        holder = self.hold_open(database)
        filler = self.fill(os.path.dirname(database))
        self.assert_not_kept(self.register("full@example.jp"),
                             "full@example.jp")
        # Whether or not another connection keeps it open, never a
        # confirmation while the disk is full.
        holder.close()
        status, page, errors = self.register("full@example.jp")
        self.assertNotIn(CONFIRMED, page, errors)
        self.assertEqual(self.mails_now(), [])
        self.assertEqual(self.stored(), [])
        # Room again: the same registration goes through.
        os.remove(filler)
        status, page, errors = self.register("full@example.jp")
        self.assertIn(CONFIRMED, page, errors)
        self.assertEqual(len(self.stored()), 1)
        self.assertEqual(len(received_mails(self.mails, 2)), 2)

    def test_a_database_locked_past_the_time_limit_refuses_out_loud(self):
        self.make_site(more_conf="[request]\ntime_limit = 3\n")
        holder = sqlite3.connect(os.path.join(self.home, "jobs.db"),
                                 isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")
        try:
            start = time.monotonic()
            answer = self.register("locked@example.jp")
            took = time.monotonic() - start
        finally:
            holder.execute("ROLLBACK")
            holder.close()
        self.assert_not_kept(answer, "locked@example.jp")
        self.assertIn("locked", answer[2])
        self.assertLess(took, 3 + 5)  # the budget, not a minute
        self.assertEqual(self.mails_now(), [])
        self.assertEqual(self.stored(), [])

    def test_the_daily_run_on_a_full_disk_sends_each_mail_at_most_once_more(
            self):
        self.mount_small_disk(os.path.join(self.home, "db"))
        self.make_site("sqlite:db/jobs.db")
        addresses = ["day%d@example.jp" % n for n in range(4)]
        for address in addresses:
            self.assertIn(CONFIRMED, self.register(address)[1])
        received_mails(self.mails, 2 * len(addresses))
        # New jobs for every registration, numbered by the import.
        admin("generate", "10", "--seed", "7", "--home", self.home)
        database = os.path.join(self.home, "db", "jobs.db")
        self.hold_open(database)
        filler = self.fill(os.path.dirname(database))
        first = admin("notify", "--home", self.home, check=False)
        self.assertEqual(first.returncode, 1, first.stdout + first.stderr)
        self.assertIn("left for the next run", first.stdout, first.stderr)
        os.remove(filler)
        second = admin("notify", "--home", self.home, check=False)
        self.assertEqual(second.returncode, 0, second.stdout + second.stderr)
        daily = collections.Counter(
            mail["envelope"].split("\n")[1] for mail in self.mails_now()
            if mail["subject"] == DAILY_SUBJECT)
        self.assertEqual(sorted(daily), addresses)
        # At most one mail went twice: the one whose mark could not be kept.
        self.assertLessEqual(sum(daily.values()), len(addresses) + 1, daily)

    def test_check_fails_a_database_others_can_read(self):
        self.make_site()
        database = os.path.join(self.home, "jobs.db")
        self.assertEqual(stat.S_IMODE(os.stat(database).st_mode) & 0o007, 0)
        self.assertEqual(stat.S_IMODE(os.stat(self.home).st_mode) & 0o007, 0)
        user = "root" if os.geteuid() == 0 else None
        arguments = ["check", "--home", self.home] + (
            ["--user", user] if user else [])
        os.chmod(database, 0o644)
        found = admin(*arguments, check=False)
        self.assertEqual(found.returncode, 1)
        self.assertIn(database + ": others may read it (0644)", found.stdout)


if __name__ == "__main__":
    CGI, ADMIN = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
