#!/usr/bin/python3
"""Benchmarks the whole q_lok.cgi process against the database engine's own
shell running the same statement, and measures peak memory.

For five typical searches over a generated table of --jobs jobs, it runs the
CGI program (as the web server would: the form body on standard input) and
the engine's shell (sqlite3 with the time collation loaded, or psql) with
the statement the program logged, --runs times each, and prints the median
times and their ratio. Target: a ratio of 1.2 or less.

Then it runs a search over the bare table (no condition) on --memory-jobs
jobs and prints the program's peak resident memory. Target: under 64 MiB.

  bench/search_bench.py --build build [--engine sqlite|postgresql|both]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

def body(**fields):
    """A form body as the browser sends the search form, in Shift_JIS."""
    order = ["aaa", "aa6", "aa8", "aab", "aac", "aad", "aae", "aaf", "aag",
             "aah", "aai"]
    from urllib.parse import quote_plus
    parts = ["_su=is1"]
    for name in order:
        value = fields.get(name, {"aa6": "1", "aa8": "100", "aai": "0"}.get(name, ""))
        parts.append(name + "=" + quote_plus(value, encoding="cp932"))
    for box in fields.get("boxes", []):
        parts.append(box + "=1")
    parts.append("asa=" + fields.get("asa", "2"))
    parts.append("zzz=end")
    return "&".join(parts).encode("ascii")


SEARCHES = [
    ("job type 事務", body(aac="事務")),
    ("content 看護 or 介護", body(aad="看護　介護")),
    ("place 大阪 and part-time", body(aah="大阪", boxes=["agc"])),
    ("9:00-18:00, off 土日, general jobs", body(aaf="900", aag="1800", aae="土日", asa="0")),
    ("age 35, insurance, 販売 or 製造", body(aab="35", aac="販売　製造", boxes=["ara", "ard"])),
]
BARE_TABLE = body()


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def make_site(admin, home, connection):
    run([admin, "site", home], stdout=subprocess.DEVNULL)
    with open(os.path.join(home, "pw", "qevo.txt"), "w") as f:
        f.write("-\r\n-\r\n%s\r\n-\r\n" % connection)


def fill(admin, home, jobs):
    run([admin, "init", "--home", home], stdout=subprocess.DEVNULL)
    run([admin, "generate", str(jobs), "--home", home], stdout=subprocess.DEVNULL)


def run_cgi(cgi, home, form):
    env = {"PATH": "/usr/bin:/bin", "Q_LOK_HOME": home, "TZ": "Asia/Tokyo",
           "REQUEST_METHOD": "POST", "CONTENT_LENGTH": str(len(form)),
           "CONTENT_TYPE": "application/x-www-form-urlencoded"}
    start = time.perf_counter()
    proc = subprocess.Popen([cgi], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env)
    _, err = proc.communicate(form)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        raise SystemExit("q_lok.cgi failed: " + err.decode(errors="replace"))
    return elapsed


def peak_memory_kib(cgi, home, form):
    env = {"PATH": "/usr/bin:/bin", "Q_LOK_HOME": home, "TZ": "Asia/Tokyo",
           "CONTENT_LENGTH": str(len(form))}
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.dup2(read_end, 0)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.close(write_end)
        os.execve(cgi, [cgi], env)
    os.close(read_end)
    os.write(write_end, form)
    os.close(write_end)
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        raise SystemExit("q_lok.cgi failed on the bare table")
    return usage.ru_maxrss


def logged_query(home):
    with open(os.path.join(home, "received", "worqlet.txt"), "rb") as f:
        lines = f.read().decode("cp932").split("\r\n")
    return lines[-2]  # the last record's third line


def median_time(fn, runs):
    fn()  # warm the page cache
    return statistics.median(fn() for _ in range(runs))


def timed(cmd, env=None):
    def go():
        start = time.perf_counter()
        run(cmd, stdout=subprocess.DEVNULL, env=env)
        return time.perf_counter() - start
    return go


def bench_engine(args, engine, home, shell_cmd):
    print("\n%s, %d jobs, median of %d runs" % (engine, args.jobs, args.runs))
    print("%-40s %10s %10s %7s" % ("search", "q_lok.cgi", "shell", "ratio"))
    worst = 0
    for name, form in SEARCHES:
        cgi_time = median_time(lambda: run_cgi(args.cgi, home, form), args.runs)
        statement = logged_query(home)
        shell_time = median_time(timed(shell_cmd(statement)), args.runs)
        ratio = cgi_time / shell_time
        worst = max(worst, ratio)
        print("%-40s %9.1fms %9.1fms %7.2f" % (name, cgi_time * 1000, shell_time * 1000, ratio))
    print("worst ratio %.2f (target 1.2 or less)" % worst)
    return worst


def bench_memory(args, engine, admin, home):
    run([admin, "generate", str(args.memory_jobs), "--replace", "--home", home],
        stdout=subprocess.DEVNULL)
    kib = peak_memory_kib(args.cgi, home, BARE_TABLE)
    print("%s: bare-table search over %d jobs: peak resident memory %.1f MiB "
          "(target under 64 MiB)" % (engine, args.memory_jobs, kib / 1024))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--engine", choices=["sqlite", "postgresql", "both"], default="both")
    parser.add_argument("--jobs", type=int, default=100000)
    parser.add_argument("--memory-jobs", type=int, default=200000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--pg-uri", help="an existing, empty PostgreSQL database to fill "
                        "(default: a throw-away server)")
    args = parser.parse_args()
    args.cgi = os.path.join(args.build, "frame", "q_lok.cgi")
    admin = os.path.join(args.build, "tools", "q_lok-admin")
    extension = os.path.join(args.build, "platform", "qlok_time")
    server_script = os.path.join(ROOT, "platform", "testing", "postgres_server.sh")
    work = tempfile.mkdtemp(prefix="qlok_bench_")
    pg_dir = None
    try:
        if args.engine in ("sqlite", "both"):
            home = os.path.join(work, "sqlite")
            make_site(admin, home, "sqlite:jobs.db")
            fill(admin, home, args.jobs)
            db = os.path.join(home, "jobs.db")
            bench_engine(args, "SQLite", home,
                         lambda s: ["sqlite3", "-cmd", ".load " + extension, db, s])
            bench_memory(args, "SQLite", admin, home)

        if args.engine in ("postgresql", "both"):
            uri = args.pg_uri
            if not uri:
                pg_dir = os.path.join(work, "pg")
                uri = run([server_script, "start", pg_dir], capture_output=True,
                          text=True).stdout.strip().splitlines()[-1]
            home = os.path.join(work, "postgresql")
            make_site(admin, home, uri)
            fill(admin, home, args.jobs)
            bench_engine(args, "PostgreSQL", home,
                         lambda s: ["psql", "-X", "-q", uri, "-c", s])
            bench_memory(args, "PostgreSQL", admin, home)
    finally:
        if pg_dir:
            subprocess.run([server_script, "stop", pg_dir], stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
