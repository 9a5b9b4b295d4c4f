#!/usr/bin/python3
"""Benchmarks the daily run, q_lok-admin notify: its time and its peak
memory for many registrations over a large job table.

For each engine it generates --jobs jobs, of which --new-jobs come after a
first run; --registrations registrations (varied
job types, places, boxes and daily maxima, as a site's visitors set them)
are written straight into the registration table with their marks at that
first run. Then notify runs twice against a local SMTP sink that accepts
and counts every mail: once with --small registrations and once with all of
them (the marks set back between the runs), and the time and peak resident
memory of each run are printed. Targets: the full run in under 10 minutes;
memory flat as registrations grow.

  bench/notify_bench.py --build build [--engine sqlite|postgresql|both]
"""

import argparse
import csv
import io
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
LOGIN = "q2481xr736k:5d9p1s7tvak"  # the first account's built-in login

JOB_TYPES = ["看護師", "介護職員", "製造スタッフ", "配送ドライバー", "販売スタッフ",
             "一般事務", "経理事務", "営業", "施工管理", "調理補助", "プログラマー",
             "清掃スタッフ", "倉庫作業員", "薬剤師", "警備員"]
PLACES = ["東京都", "大阪府", "愛知県", "福岡県", "北海道", "神奈川県", "", "", ""]
BOXES = ["aga", "agb", "agc", "age", "agea", "agf", "ara", "arb", "arc", "ard",
         "ari", "arj", "ark"]
MAXIMA = [100, 50, 30, 20, 10]


def sink():
    """An SMTP server on a free loopback port that accepts every mail after
    the first account's login and counts them; prints "PORT n", and the
    count when it is terminated."""
    import asyncio
    import logging
    import socket
    import warnings
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    count = [0]

    class Counter:
        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            return "250 OK"

    user, password = LOGIN.encode().split(b":")

    def authenticator(server, session, envelope, mechanism, data):
        return AuthResult(success=isinstance(data, LoginPassword)
                          and data.login == user and data.password == password)

    class NoDelaySMTP(SMTP):
        # The reply lines leave at once: without it the multi-line EHLO
        # reply waits for a delayed acknowledgement, 40 ms every mail.
        def connection_made(self, transport):
            transport.get_extra_info("socket").setsockopt(
                socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            super().connection_made(transport)

    loop = asyncio.new_event_loop()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    server = loop.run_until_complete(loop.create_server(
        lambda: NoDelaySMTP(Counter(), hostname="sink.test", loop=loop,
                     authenticator=authenticator, auth_required=True,
                     auth_require_tls=False),
        sock=listener))
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    print("PORT", listener.getsockname()[1], flush=True)
    loop.run_forever()
    server.close()
    print("MAILS", count[0], flush=True)


def start_sink():
    # Debian's interpreter, which carries aiosmtpd.
    process = subprocess.Popen(["/usr/bin/python3", __file__, "--sink"],
                               stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline().split()
    if line[:1] != ["PORT"]:
        raise SystemExit("the SMTP sink did not start")
    return process, int(line[1])


def stop_sink(process):
    process.terminate()
    out = process.communicate()[0].split()
    return int(out[out.index("MAILS") + 1])


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def settings(rng, address, number):
    """A registration record as the search page stores it."""
    fields = {"aaa": address, "aa6": str(number),
              "aa8": str(rng.choice(MAXIMA)), "aab": "0",
              "aac": "　".join(rng.sample(JOB_TYPES, rng.choice([1, 1, 2]))),
              "aad": "", "aae": rng.choice(["", "", "土日"]), "aaf": "",
              "aag": "", "aah": rng.choice(PLACES)}
    lines = ["_su=ss0"] + ["%s=%s" % item for item in fields.items()]
    checked = set(rng.sample(BOXES, rng.choice([0, 0, 1, 2])))
    lines += ["%s=%d" % (box, box in checked) for box in BOXES]
    lines += ["asa=" + rng.choice(["0", "2", "2"]), "zzz"]
    return "\r\n".join(lines), int(fields["aa8"])


def registration_rows(first, count, mark):
    rng = random.Random(first)
    for i in range(first, first + count):
        address = "visitor%05d@example.jp" % i
        text, maximum = settings(rng, address, 1)
        yield (address, 1, text, maximum, "2026-12-08 12:00:00",
               "2026-12-08 12:00:00", 1, "%032x" % rng.getrandbits(128), mark)


COLUMNS = ("address, number, settings, daily_maximum, created, changed, "
           "active, token, mark")


class Sqlite:
    name = "SQLite"

    def __init__(self, home):
        self.path = os.path.join(home, "jobs.db")
        self.connection = "sqlite:jobs.db"

    def query(self, sql):
        with sqlite3.connect(self.path) as db:
            return db.execute(sql).fetchall()

    def add_registrations(self, rows):
        with sqlite3.connect(self.path) as db:
            db.executemany("INSERT INTO registrations (%s) VALUES "
                           "(?, ?, ?, ?, ?, ?, ?, ?, ?)" % COLUMNS, rows)


class Postgres:
    name = "PostgreSQL"

    def __init__(self, uri):
        self.connection = uri

    def query(self, sql):
        out = run(["psql", "-X", "-q", "-A", "-t", "-F", "\t", self.connection,
                   "-c", sql], capture_output=True, text=True).stdout
        return [tuple(line.split("\t")) for line in out.splitlines() if line]

    def add_registrations(self, rows):
        data = io.StringIO()
        csv.writer(data).writerows(rows)
        run(["psql", "-X", "-q", self.connection, "-c",
             "COPY registrations (%s) FROM STDIN (FORMAT csv)" % COLUMNS],
            input=data.getvalue(), text=True)


def peak_notify(admin, home):
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        out = os.open(os.path.join(home, "notify.out"),
                      os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
        os.dup2(out, 1)
        os.dup2(devnull, 2)
        os.execv(admin, [admin, "notify", "--home", home])
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit("notify failed with status %d" % status)
    with open(os.path.join(home, "notify.out")) as f:
        summary = f.read().strip().splitlines()[-1]
    return elapsed, usage.ru_maxrss / 1024, summary


def bench_engine(args, admin, home, db):
    print("\n%s: %d jobs (%d new), %d registrations" % (
        db.name, args.jobs, args.new_jobs, args.registrations))
    run([admin, "site", home, "--database", db.connection],
        stdout=subprocess.DEVNULL)
    sink_process, port = start_sink()
    try:
        with open(os.path.join(home, "site.conf"), "w") as conf:
            conf.write("[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
                       "submission_port = %d\nrelay_port = %d\n"
                       "[senders]\naccount1 = bench@example.jp\n" % (port, port))
        run([admin, "init", "--home", home], stdout=subprocess.DEVNULL)
        run([admin, "generate", str(args.jobs - args.new_jobs), "--seed", "1",
             "--home", home], stdout=subprocess.DEVNULL)
        seconds, _, summary = peak_notify(admin, home)
        print("first run (%d jobs, no registrations): %.1f s" % (
            args.jobs - args.new_jobs, seconds))
        mark = int(db.query("SELECT max(serial) FROM seen_jobs")[0][0])
        db.add_registrations(registration_rows(0, args.small, mark))
        run([admin, "generate", str(args.new_jobs), "--seed", "2",
             "--home", home], stdout=subprocess.DEVNULL)
        results = []
        for count in (args.small, args.registrations):
            if count > args.small:
                db.add_registrations(registration_rows(
                    args.small, count - args.small, mark))
            db.query("UPDATE registrations SET mark = %d, last_mailed = NULL "
                     "RETURNING id" % mark)
            seconds, peak, summary = peak_notify(admin, home)
            results.append((count, seconds, peak))
            print("%6d registrations: %7.1f s, peak resident memory %6.1f MiB"
                  "\n       %s" % (count, seconds, peak, summary))
    finally:
        mails = stop_sink(sink_process)
    print("mails accepted by the sink: %d" % mails)
    count, seconds, peak = results[-1]
    print("target: %d registrations in under 600 s: %s; memory %.1f MiB at %d "
          "against %.1f MiB at %d" % (
              count, "met" if seconds < 600 else "MISSED", peak, count,
              results[0][2], results[0][0]))


def main():
    if sys.argv[1:] == ["--sink"]:
        return sink()
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--engine", choices=["sqlite", "postgresql", "both"],
                        default="both")
    parser.add_argument("--jobs", type=int, default=100000)
    parser.add_argument("--new-jobs", type=int, default=10000)
    parser.add_argument("--registrations", type=int, default=10000)
    parser.add_argument("--small", type=int, default=1000)
    parser.add_argument("--pg-uri", help="an existing, empty PostgreSQL "
                        "database (default: a throw-away server)")
    args = parser.parse_args()
    admin = os.path.join(args.build, "tools", "q_lok-admin")
    server_script = os.path.join(ROOT, "platform", "testing",
                                 "postgres_server.sh")
    work = tempfile.mkdtemp(prefix="qlok_notify_bench_")
    pg_dir = None
    try:
        if args.engine in ("sqlite", "both"):
            home = os.path.join(work, "sqlite")
            bench_engine(args, admin, home, Sqlite(home))
        if args.engine in ("postgresql", "both"):
            uri = args.pg_uri
            if not uri:
                pg_dir = os.path.join(work, "pg")
                uri = run([server_script, "start", pg_dir], capture_output=True,
                          text=True).stdout.strip().splitlines()[-1]
            bench_engine(args, admin, os.path.join(work, "postgresql"),
                         Postgres(uri))
    finally:
        if pg_dir:
            subprocess.run([server_script, "stop", pg_dir],
                           stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
