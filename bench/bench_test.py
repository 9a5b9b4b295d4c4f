#!/usr/bin/python3
"""Tests of the benchmarks' own pieces: what they post, what they count and
compare, how they time, and where they write their figures."""

import os
import shutil
import sys
import tempfile
import unittest
from urllib.parse import unquote_to_bytes

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchlib  # noqa: E402
import http_bench  # noqa: E402

SELECT = ("SELECT * FROM 求人 WHERE (職種1 like '%事務%') "
          "ORDER BY rank DESC limit 1000;")


class FormTest(unittest.TestCase):
    def test_fields_in_the_browsers_order(self):
        body = benchlib.form(aac="事務", aah="東京", boxes=["aga", "ara"], asa="0")
        names = [part.split(b"=")[0] for part in body.split(b"&")]
        self.assertEqual(names, [b"_su", b"aaa", b"aa6", b"aa8", b"aab", b"aac",
                                 b"aad", b"aae", b"aaf", b"aag", b"aah", b"aai",
                                 b"aga", b"ara", b"asa", b"zzz"])
        fields = dict(part.split(b"=") for part in body.split(b"&"))
        self.assertEqual(unquote_to_bytes(fields[b"aac"]), "事務".encode("cp932"))
        self.assertEqual(fields[b"aai"], b"0")
        self.assertEqual(fields[b"asa"], b"0")

    def test_registration_has_an_address_and_a_huge_daily_maximum(self):
        fields = dict(p.split(b"=") for p in benchlib.REGISTRATION.split(b"&"))
        self.assertEqual(fields[b"aaa"], b"bench%40example.jp")
        self.assertGreater(int(fields[b"aa8"]), 200000)

    def test_searches_are_distinct_and_named(self):
        self.assertEqual(len(set(benchlib.SEARCH_NAMES)), len(benchlib.SEARCHES))
        self.assertEqual(len({body for _, _, body in benchlib.SEARCHES}),
                         len(benchlib.SEARCHES))


class AnswersTest(unittest.TestCase):
    def test_count_statement(self):
        cases = [
            ("求人", "SELECT count(*) FROM 求人;"),
            (" 求人 ", "SELECT count(*) FROM 求人;"),
            (SELECT, "SELECT count(*) FROM (" + SELECT[:-1] + ") AS hits;"),
            (SELECT + " ; ", "SELECT count(*) FROM (" + SELECT[:-1] + ") AS hits;"),
            ("select 1", "SELECT count(*) FROM (select 1) AS hits;"),
        ]
        for statement, expected in cases:
            with self.subTest(statement=statement):
                self.assertEqual(benchlib.count_statement(statement), expected)

    def test_page_hit_count(self):
        cases = [
            ("この検索条件で過去約２週間の求人を検索すると123件の求人がヒットしました。", 123),
            ("この検索条件で過去約２週間の求人を検索すると1000件以上の求人がヒットしました。",
             1000),
            ("この検索条件で過去約２週間の求人を検索すると200000件の求人がヒットしました。",
             200000),
            ("条件に合う求人はありませんでした。", 0),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                page = ("Content-type: text/html\r\n\r\n<p>" + text).encode("cp932")
                self.assertEqual(benchlib.page_hit_count(page + b"\0\0"), expected)

    def test_logged_statement_is_the_last_records_third_line(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        os.mkdir(os.path.join(folder, "received"))
        log = os.path.join(folder, "received", "worqlet.txt")
        cases = [
            ("12:00:00\r\nメルアドなし  along=100\r\n求人\r\n"
             "12:00:01\r\nメルアドなし  along=101\r\n" + SELECT + "\r\n", SELECT),
            ("12:00:00\r\nメルアドなし  along=100\r\n求人\r\n", "求人"),
            ("12:00:00\r\nメルアドなし  along=100\r\n求人", None),  # cut short
            ("", None),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                with open(log, "wb") as f:
                    f.write(text.encode("cp932"))
                if expected is None:
                    self.assertRaises(RuntimeError, benchlib.logged_statement,
                                      folder)
                else:
                    self.assertEqual(benchlib.logged_statement(folder), expected)

    def test_requests_per_second(self):
        report = ("Running 1s test @ http://127.0.0.1:1/q_lok.cgi\n"
                  "  10 requests in 1.00s, 1.2MB read\n"
                  "Requests/sec:     10.05\nTransfer/sec:      1.2MB\n")
        self.assertEqual(http_bench.requests_per_second(report), 10.05)
        for bad in ["  Non-2xx or 3xx responses: 10\n",
                    "  Socket errors: connect 0, read 2, write 0, timeout 0\n"]:
            with self.subTest(bad=bad):
                self.assertRaises(RuntimeError, http_bench.requests_per_second,
                                  report + bad)
        for nothing in ["", report.replace("10.05", "0.00")]:
            with self.subTest(nothing=nothing):
                self.assertRaises(RuntimeError, http_bench.requests_per_second,
                                  nothing)


class FiguresTest(unittest.TestCase):
    def test_median_ratio_is_taken_per_pair(self):
        # Each run is divided by its own partner: the ratio of the medians,
        # or of the sorted lists, would be 1.33 here.
        self.assertEqual(benchlib.median_ratio([20, 10, 30], [10, 20, 15]), 2)
        self.assertEqual(benchlib.median_ratio([3], [2]), 1.5)
        for a, b in [([], []), ([1, 2], [1])]:
            with self.subTest(a=a, b=b):
                self.assertRaises(ValueError, benchlib.median_ratio, a, b)

    def test_rotated_lets_each_lead_in_turn(self):
        leaders = [benchlib.rotated(["a", "b", "c"], r)[0] for r in range(6)]
        self.assertEqual(leaders, ["a", "b", "c", "a", "b", "c"])

    def test_database_uri(self):
        cases = [
            ("postgresql:///qlok_test?host=/tmp/s&user=postgres",
             "postgresql:///b?host=/tmp/s&user=postgres"),
            ("postgres://qlok@db.example.jp:5432/jobs", "postgres://qlok@db.example.jp:5432/b"),
            ("postgresql://db.example.jp", "postgresql://db.example.jp/b"),
            ("postgresql://db.example.jp?sslmode=require",
             "postgresql://db.example.jp/b?sslmode=require"),
        ]
        for uri, expected in cases:
            with self.subTest(uri=uri):
                self.assertEqual(benchlib.database_uri(uri, "b"), expected)
        self.assertRaises(ValueError, benchlib.database_uri, "sqlite:jobs.db", "b")

    def test_replace_section(self):
        begin, end = "<!-- x: begin -->", "<!-- x: end -->"
        cases = [
            ("# T\n\n%s\nold\n%s\n\nafter\n" % (begin, end), "new \\1 \\g<0>",
             "# T\n\n%s\nnew \\1 \\g<0>\n%s\n\nafter\n" % (begin, end)),
            ("# T\n", "new", "# T\n\n%s\nnew\n%s\n" % (begin, end)),
        ]
        for text, body, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(benchlib.replace_section(text, "x", body),
                                 expected)
        # A second section of another name is left as it is.
        twice = benchlib.replace_section(cases[0][2], "y", "other")
        self.assertEqual(benchlib.replace_section(twice, "x", "z").count("other"), 1)


class RunTimedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.runner = benchlib.compile_helpers(cls.folder, [])["runner"]
        cls.out = os.path.join(cls.folder, "out")
        cls.err = os.path.join(cls.folder, "err")
        cls.body = os.path.join(cls.folder, "body")
        with open(cls.body, "wb") as f:
            f.write(b"a=1")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def run_timed(self, argv, **options):
        return benchlib.run_timed(self.runner, argv, {"PATH": "/usr/bin:/bin"},
                                  self.body, self.out, self.err, **options)

    def test_status_and_streams(self):
        cases = [
            (["sh", "-c", "cat; echo oops >&2"], {}, 0, "a=1", "oops\n"),
            (["sh", "-c", "exit 3"], {}, 3, "", ""),
            (["sleep", "5"], {"timeout": 1}, 128 + 9, "", ""),
        ]
        for argv, options, status, out, err in cases:
            with self.subTest(argv=argv):
                run = self.run_timed(argv, **options)
                self.assertEqual(run.status, status)
                with open(self.out) as f:
                    self.assertEqual(f.read(), out)
                with open(self.err) as f:
                    self.assertEqual(f.read(), err)
        self.assertLess(self.run_timed(["sleep", "5"], timeout=1).wall, 4)

    def test_peak_memory_is_the_childs_own(self):
        # The runner is small, so a small child reports little; a child that
        # touches 64 MiB reports at least that.
        small = self.run_timed(["true"])
        big = self.run_timed(["/usr/bin/python3", "-c",
                              "b = bytearray(64 << 20)"])
        self.assertLess(small.max_rss, 4096)
        self.assertGreater(big.max_rss, 64 * 1024)

    def test_memory_limit_stops_a_growing_child(self):
        run = self.run_timed(["/usr/bin/python3", "-c", "b = bytearray(256 << 20)"],
                             memory_limit_mib=128)
        self.assertNotEqual(run.status, 0)
        self.assertLess(run.max_rss, 128 * 1024)
        failure = benchlib.failure_of(run, self.out, self.err)
        self.assertIn("MemoryError", failure)

    def test_failure_of_an_error_page(self):
        with open(self.out, "wb") as f:
            f.write(b"Status: 500 Internal Server Error\r\n\r\n<html>")
        with open(self.err, "w") as f:
            f.write("q_lok: first\nq_lok: SQLite: cannot open\n")
        run = benchlib.Run("1000 2000 0 10 10")
        self.assertEqual(benchlib.failure_of(run, self.out, self.err),
                         "q_lok: SQLite: cannot open")
        with open(self.out, "wb") as f:
            f.write(b"Content-type: text/html\r\n\r\n<html>")
        self.assertIsNone(benchlib.failure_of(run, self.out, self.err))


if __name__ == "__main__":
    unittest.main()
