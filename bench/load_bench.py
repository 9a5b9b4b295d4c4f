#!/usr/bin/python3
"""The site under load from outside: 32 clients send 3,000 mixed requests
(searches, registrations, the manage page's lookups and form) through
lighttpd to q_lok.cgi and q_lok-manage.cgi, on SQLite and on PostgreSQL,
and count what went wrong.

For each engine and each build given (--build, and --before for a build of
an earlier version, run interleaved with it, the leader alternating by
round) it makes a site of --jobs generated jobs with a mail receiver as both
relays, sends the load, and reports:

  non-200    answers whose status was not 200
  lost       registrations the page confirmed ("登録を受付ました") that the
             database does not hold
  repeated   turn numbers that more than one request of the log carries
  p50, p99   the latency of one request, in milliseconds

and the load average of the machine before each run. Targets: 0 non-200,
0 lost and 0 repeated on both engines. --readme writes the figures into
bench/README.md (section "load").

  bench/load_bench.py --build build --before ../before/build --readme
  bench/load_bench.py --build build --requests 300 --clients 8 --no-postgresql

Without --pg-uri-file it starts a throw-away PostgreSQL server of its own
(platform/testing/postgres_server.sh).
"""

import argparse
import collections
import concurrent.futures
import os
import re
import statistics
import subprocess
import sys
import time

import benchlib

sys.path.insert(0, os.path.join(benchlib.ROOT, "frame", "testing"))
sys.path.insert(0, os.path.join(benchlib.ROOT, "search_page"))
from cgi_server import CgiServer, request  # noqa: E402
from load_test import local_zone_at_noon, planned_request  # noqa: E402
from test_site import LOGIN, start_receiver  # noqa: E402

SITE_ADDRESS = "site@example.test"
CONFIRMED = "登録を受付ました".encode("cp932")


def programs(build):
    return {name: os.path.join(build, folder, name)
            for name, folder in (("q_lok.cgi", "search_page"),
                                 ("q_lok-manage.cgi", "manage"),
                                 ("q_lok-admin", "tools"))}


def make_site(build, connection, jobs, folder):
    home = os.path.join(folder, "home")
    admin = programs(build)["q_lok-admin"]
    benchlib.make_home(admin, home, connection, jobs)
    mails = os.path.join(folder, "mails")
    os.mkdir(mails)
    receiver, port = start_receiver(mails)
    with open(os.path.join(home, "site.conf"), "w") as conf:
        conf.write("[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
                   "submission_port = %d\nrelay_port = %d\n"
                   "[senders]\naccount1 = %s\n" % (port, port, SITE_ADDRESS))
    with open(os.path.join(home, "pw", "mail.txt"), "w") as accounts:
        accounts.write(LOGIN + "\r\nx:y\r\nx:z\r\n")
    return home, receiver


def timed_request(url, body):
    start = time.monotonic()
    try:
        status, _, page = request(url, body, timeout=120)
    except OSError as error:
        status, page = "error: %s" % error, b""
    return status, page, (time.monotonic() - start) * 1000


def stored_addresses(build, home):
    out = subprocess.run([programs(build)["q_lok-admin"], "registrations",
                          "--csv", "-", "--home", home],
                         check=True, capture_output=True).stdout
    return set(re.findall(r"load\d+@example\.jp", out.decode("utf-8")))


def repeated_turns(home):
    with open(os.path.join(home, "received", "worqlet.txt"), "rb") as log:
        text = log.read().decode("cp932", "replace")
    turns = collections.Counter(re.findall(r"along=(\d+)", text))
    return sum(1 for count in turns.values() if count > 1)


def run_once(build, connection, args):
    """One load on a fresh site; returns its figures."""
    folder = benchlib.work_folder("qlok_load_bench_")
    receiver = None
    try:
        home, receiver = make_site(build, connection, args.jobs, folder)
        plan = [planned_request(n) for n in range(args.requests)]
        found = programs(build)
        server = CgiServer(found["q_lok.cgi"], home,
                           environment={"TZ": local_zone_at_noon()},
                           programs={"q_lok-manage.cgi":
                                     found["q_lok-manage.cgi"]})
        load = benchlib.load_average()
        with server as base:
            urls = {"q": base + "q_lok.cgi", "lookup": base + "q_lok-manage.cgi",
                    "form": base + "q_lok-manage.cgi"}
            with concurrent.futures.ThreadPoolExecutor(args.clients) as pool:
                answers = list(pool.map(
                    lambda planned: timed_request(urls[planned[2]],
                                                  planned[1]), plan))
            errors = server.cgi_errors()
        confirmed = {address for (address, _, _), (status, page, _)
                     in zip(plan, answers)
                     if address and status == 200 and CONFIRMED in page}
        latencies = sorted(ms for _, _, ms in answers)
        return {
            "load": load,
            "non200": sum(1 for status, _, _ in answers if status != 200),
            "lost": len(confirmed - stored_addresses(build, home)),
            "repeated": repeated_turns(home),
            "p50": statistics.median(latencies),
            "p99": latencies[min(len(latencies) - 1,
                                 int(len(latencies) * 0.99))],
            "errors": errors.count("\n"),
        }
    finally:
        if receiver:
            receiver.terminate()
            receiver.wait()
            receiver.stdout.close()
        benchlib.remove(folder)


def connection_for(engine, postgres, round_number, label):
    if engine == "sqlite":
        return "sqlite:jobs.db"
    uri = postgres.database("qlok_load_%s_%d" % (label, round_number))
    postgres.sql(uri, "CREATE EXTENSION IF NOT EXISTS citext")
    return uri


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--before", help="a build of an earlier version")
    parser.add_argument("--pg-uri-file",
                        help="a running PostgreSQL server's URI, in a file")
    parser.add_argument("--no-postgresql", action="store_true")
    parser.add_argument("--clients", type=int, default=32)
    parser.add_argument("--requests", type=int, default=3000)
    parser.add_argument("--jobs", type=int, default=5000)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--readme", action="store_true")
    args = parser.parse_args()
    builds = [("after", os.path.abspath(args.build))]
    if args.before:
        builds.append(("before", os.path.abspath(args.before)))
    engines = ["sqlite"] + ([] if args.no_postgresql else ["postgresql"])
    postgres = None
    if not args.no_postgresql:
        uri = None
        if args.pg_uri_file:
            with open(args.pg_uri_file) as f:
                uri = f.read().strip()
        postgres = benchlib.PostgresServer(
            benchlib.work_folder("qlok_load_pg_"), uri)

    lines = ["%d clients, %d requests (55%% searches, 25%% registrations, "
             "20%% manage page), %d jobs; %s" % (
                 args.clients, args.requests, args.jobs, benchlib.machine()),
             "",
             "| engine | build | round | load before | non-200 | lost "
             "registrations | repeated turn numbers | p50 ms | p99 ms |",
             "|---|---|---|---|---|---|---|---|---|"]
    try:
        for engine in engines:
            for round_number in range(args.rounds):
                for label, build in benchlib.rotated(builds, round_number):
                    connection = connection_for(engine, postgres,
                                                round_number, label)
                    figures = run_once(build, connection, args)
                    line = ("| %s | %s | %d | %s | %d | %d | %d | %.0f | %.0f |"
                            % (engine, label, round_number + 1,
                               figures["load"], figures["non200"],
                               figures["lost"], figures["repeated"],
                               figures["p50"], figures["p99"]))
                    print(line, flush=True)
                    lines.append(line)
    finally:
        if postgres:
            postgres.stop()
    if args.readme:
        benchlib.write_readme_section("load", "\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
