#!/usr/bin/python3
"""Serves one search through lighttpd under load and compares q_lok.cgi with
a shell CGI that only runs the same statement through the sqlite3 shell.

It generates --jobs jobs into a SQLite site home, starts lighttpd on a free
loopback port (frame/testing/cgi_server.py) with two CGI programs,
q_lok.cgi and shell.cgi, and lets wrk post the search to each in turn with
--connections connections for --seconds seconds, --rounds times (the one that
leads alternates). It prints the requests per second of both (medians) and
the median of the per-round ratios; target: q_lok.cgi at least 0.9 of the
shell CGI. lighttpd is stopped at the end.

  bench/http_bench.py --build build-release
  bench/http_bench.py --search full --seconds 5 --rounds 1
"""

import argparse
import os
import re
import shlex
import statistics
import subprocess
import sys

import benchlib

sys.path.insert(0, os.path.join(benchlib.ROOT, "frame", "testing"))
from cgi_server import CgiServer, request  # noqa: E402

TARGET = 0.9  # q_lok.cgi's requests per second over the shell CGI's

SHELL_CGI = """#!/bin/sh
# The yardstick: the statement of the search through the sqlite3 shell,
# its count as the page.
printf 'Content-type: text/plain\\r\\n\\r\\n'
exec sqlite3 -batch -init /dev/null -cmd {load} {database} {statement}
"""

WRK_SCRIPT = """wrk.method = "POST"
wrk.body = "{body}"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
"""


def shell_cgi(extension, database, statement):
    return SHELL_CGI.format(load=shlex.quote(".load " + extension),
                            database=shlex.quote(database),
                            statement=shlex.quote(
                                benchlib.count_statement(statement)))


def requests_per_second(wrk_output):
    """The requests per second wrk reports; fails on errors and on answers
    other than 2xx."""
    bad = re.search(r"Non-2xx or 3xx responses: (\d+)", wrk_output)
    if bad:
        raise RuntimeError("%s answers were not 200" % bad.group(1))
    errors = re.search(r"Socket errors: .*", wrk_output)
    if errors:
        raise RuntimeError("wrk: " + errors.group(0))
    found = re.search(r"Requests/sec:\s+([\d.]+)", wrk_output)
    if not found or float(found.group(1)) == 0:
        raise RuntimeError("no request was answered:\n" + wrk_output)
    return float(found.group(1))


def parse_args():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(benchlib.ROOT, "build"))
    parser.add_argument("--jobs", type=int, default=10000)
    parser.add_argument("--search", choices=benchlib.SEARCH_NAMES,
                        default="words", help="the search to serve "
                        "(default: words, a typical search)")
    parser.add_argument("--connections", type=int, default=8)
    parser.add_argument("--threads", type=int, default=2,
                        help="wrk's threads (default: 2)")
    parser.add_argument("--seconds", type=int, default=10,
                        help="length of each wrk run (default: 10)")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--lighttpd", default="/usr/sbin/lighttpd")
    parser.add_argument("--readme", action="store_true",
                        help="also write the figures into bench/README.md")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    return args


def main():
    args = parse_args()
    cgi = os.path.join(args.build, "search_page", "q_lok.cgi")
    admin = os.path.join(args.build, "tools", "q_lok-admin")
    extension = os.path.join(args.build, "platform", "qlok_time")
    body = next(b for n, _, b in benchlib.SEARCHES if n == args.search)
    what = next(w for n, w, _ in benchlib.SEARCHES if n == args.search)
    header = "Build %s; %s; load average before %s." % (
        benchlib.describe_build(args.build), benchlib.machine(),
        benchlib.load_average())
    print(header)
    work = benchlib.work_folder("qlok_http_bench_")
    try:
        home = os.path.join(work, "home")
        benchlib.make_home(admin, home, "sqlite:jobs.db", args.jobs)
        database = os.path.join(home, "jobs.db")
        script = os.path.join(work, "post.lua")
        with open(script, "w") as f:
            f.write(WRK_SCRIPT.format(body=body.decode("ascii")))
        server = CgiServer(cgi, home, lighttpd=args.lighttpd,
                           environment={"TZ": "Asia/Tokyo"})
        with server as base:
            # One search first: its logged statement is what the shell runs.
            status, _, page = request(base + "q_lok.cgi", body)
            if status != 200:
                raise SystemExit("q_lok.cgi answered %d: %s" %
                                 (status, server.cgi_errors()))
            statement = benchlib.logged_statement(home)
            # The shell CGI goes beside the server's copy of q_lok.cgi; the
            # server takes only plain documents, so it is made executable
            # here.
            shell = os.path.join(server._docroot, "shell.cgi")
            with open(shell, "w") as f:
                f.write(shell_cgi(extension, database, statement))
            os.chmod(shell, 0o755)
            # Both must give the same answer, or they do not do the same work.
            _, _, answer = request(base + "shell.cgi", body)
            if answer.split() != [str(benchlib.page_hit_count(page)).encode()]:
                raise SystemExit("shell.cgi answered %r where q_lok.cgi counted "
                                 "%d: %s" % (answer, benchlib.page_hit_count(page),
                                             server.cgi_errors()))
            urls = [("q_lok.cgi", base + "q_lok.cgi"),
                    ("shell.cgi", base + "shell.cgi")]
            rates = {label: [] for label, _ in urls}
            for round_number in range(args.rounds):
                for label, url in benchlib.rotated(urls, round_number):
                    out = subprocess.run(
                        ["wrk", "-t%d" % args.threads, "-c%d" % args.connections,
                         "-d%ds" % args.seconds, "--timeout", "60s", "-s",
                         script, url],
                        check=True, capture_output=True, text=True).stdout
                    rates[label].append(requests_per_second(out))
                    print("round %d %-9s %7.1f requests/s" % (
                        round_number + 1, label, rates[label][-1]))
                    sys.stdout.flush()
    finally:
        benchlib.remove(work)
    ratio = benchlib.median_ratio(rates["q_lok.cgi"], rates["shell.cgi"])
    result = ("Search \"%s\" (%s) on %s jobs, lighttpd, wrk with %d connections, "
              "%d rounds of %d s each: q_lok.cgi %.1f requests/s, shell CGI "
              "%.1f requests/s (medians); ratio %.2f (target at least %.1f) "
              "%s." % (args.search, what, format(args.jobs, ","),
                       args.connections, args.rounds, args.seconds,
                       statistics.median(rates["q_lok.cgi"]),
                       statistics.median(rates["shell.cgi"]), ratio, TARGET,
                       "ok" if ratio >= TARGET else "MISSED"))
    footer = "Load average after %s." % benchlib.load_average()
    print(result)
    print(footer)
    if args.readme:
        benchlib.write_readme_section("http figures",
                                      "\n".join([header, "", result, "", footer]))


if __name__ == "__main__":
    main()
