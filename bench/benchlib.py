"""What the benchmarks share: the searches as the browser posts them, the
site homes they run on, the helpers they build and time with, the throw-away
PostgreSQL server, the machine's load, and the figures section of
bench/README.md."""

import os
import re
import shutil
import statistics
import subprocess
import tempfile
import time
from urllib.parse import quote_plus

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
POSTGRES_SERVER = os.path.join(ROOT, "platform", "testing", "postgres_server.sh")
SMTP_RECEIVER = os.path.join(ROOT, "platform", "testing", "smtp_receiver.py")
README = os.path.join(HERE, "README.md")
PYTHON = "/usr/bin/python3"  # Debian's, which has aiosmtpd
MIB = 1024.0  # ru_maxrss is in KiB


def form(**fields):
    """A form body as the browser posts the search form: Shift_JIS,
    URL-encoded, in the form's order, the checked boxes between aai and
    asa."""
    parts = [("_su", "is1")]
    defaults = {"aa6": "1", "aa8": "100"}
    for name in ("aaa", "aa6", "aa8", "aab", "aac", "aad", "aae", "aaf", "aag",
                 "aah"):
        parts.append((name, fields.get(name, defaults.get(name, ""))))
    parts.append(("aai", "0"))
    parts += [(box, "1") for box in fields.get("boxes", [])]
    parts += [("asa", fields.get("asa", "2")), ("zzz", "end")]
    return "&".join(name + "=" + quote_plus(value, encoding="cp932")
                    for name, value in parts).encode("ascii")


# The five searches: (short name, what it asks, body).
SEARCHES = [
    ("whole", "the whole table (no condition)", form()),
    ("words", "job words 事務 or 販売, place 東京",
     form(aac="事務　販売", aah="東京")),
    ("hours", "8:00 to 18:00, days off 土日, general jobs",
     form(aaf="800", aag="1800", aae="土日", asa="0")),
    ("welfare", "insurance 雇 and 健, full-time or part-time",
     form(boxes=["aga", "agc", "ara", "ard"])),
    ("full", "a registration's conditions, no address",
     form(aab="40", aac="介護　看護", aae="日", aaf="700", aag="2000",
          aah="大阪　兵庫", boxes=["aga", "agb", "ara", "arb"], asa="0")),
    ("two", "the two-character job word 事務 alone",
     form(aac="事務")),
    ("content", "the two-character content word 介護 alone (seven columns)",
     form(aad="介護")),
]
SEARCH_NAMES = [name for name, _, _ in SEARCHES]

# A registration: an address, no condition, a daily maximum larger than
# any table, so that every row goes into the first match mail.
REGISTRATION = form(aaa="bench@example.jp", aa8="1000000")


def cgi_environment(home, cgi, body):
    """The environment a web server gives the program for a POST of
    `body` (lighttpd's CGI variables, and the site's own two)."""
    return {
        "GATEWAY_INTERFACE": "CGI/1.1",
        "SERVER_SOFTWARE": "lighttpd",
        "SERVER_NAME": "127.0.0.1",
        "SERVER_ADDR": "127.0.0.1",
        "SERVER_PORT": "8080",
        "SERVER_PROTOCOL": "HTTP/1.1",
        "REQUEST_METHOD": "POST",
        "REQUEST_URI": "/q/q_lok.cgi",
        "SCRIPT_NAME": "/q/q_lok.cgi",
        "SCRIPT_FILENAME": cgi,
        "DOCUMENT_ROOT": os.path.dirname(cgi),
        "REDIRECT_STATUS": "200",
        "REMOTE_ADDR": "127.0.0.1",
        "REMOTE_PORT": "50000",
        "QUERY_STRING": "",
        "CONTENT_TYPE": "application/x-www-form-urlencoded",
        "CONTENT_LENGTH": str(len(body)),
        "HTTP_HOST": "127.0.0.1:8080",
        "HTTP_USER_AGENT": "Mozilla/5.0 (X11; Linux x86_64)",
        "HTTP_ACCEPT": "text/html,application/xhtml+xml",
        "HTTP_REFERER": "http://127.0.0.1:8080/q/index.html",
        "Q_LOK_HOME": home,
        "TZ": "Asia/Tokyo",
    }


# --- the statement and the answers ----------------------------------------

def logged_statement(home):
    """The statement of the last record of the registration log."""
    with open(os.path.join(home, "received", "worqlet.txt"), "rb") as f:
        lines = f.read().decode("cp932").split("\r\n")
    if len(lines) < 4 or lines[-1] != "":
        raise RuntimeError("the registration log holds no whole record")
    return lines[-2]


# A table name that needs no quoting: what the program opens as a whole
# table when the search has no condition.
BARE_NAME = re.compile(r"[A-Za-z_\u0080-\U0010ffff][A-Za-z0-9_\u0080-\U0010ffff]*")


def is_bare_name(statement):
    """True for a statement that is a bare table name: the whole table."""
    return bool(BARE_NAME.fullmatch(re.sub(r"[\s;]+$", "", statement.strip())))


def count_statement(statement):
    """The statement a shell runs to print the count of `statement`: a
    bare table name is counted as it stands, a SELECT inside a subquery (so
    that its order and limit still apply)."""
    text = re.sub(r"[\s;]+$", "", statement.strip())
    if BARE_NAME.fullmatch(text):
        return "SELECT count(*) FROM %s;" % text
    return "SELECT count(*) FROM (%s) AS hits;" % text


def page_hit_count(page):
    """The hit count a page states: the number in the hit-count sentence,
    0 for a page without one (the no-hit notice)."""
    text = page.decode("cp932", errors="replace")
    found = re.search(r"検索すると(\d+)件", text)
    return int(found.group(1)) if found else 0


# --- statistics -------------------------------------------------------------

def median_ratio(numerators, denominators):
    """The median of the ratios of paired runs."""
    if not numerators or len(numerators) != len(denominators):
        raise ValueError("ratios need pairs")
    return statistics.median(a / b for a, b in zip(numerators, denominators))


def rotated(items, round_number):
    """`items` rotated left by `round_number`: each program leads in turn."""
    k = round_number % len(items)
    return items[k:] + items[:k]


def verdict(value, target):
    """"ok" when `value` is within `target`, else "MISSED"."""
    return "ok" if value <= target else "MISSED"


# --- the machine -------------------------------------------------------------

def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def machine():
    cores = os.cpu_count()
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d cores%s" % (cores, ", " + model if model else "")


def describe_build(build):
    """The build folder, its build type and the commit of the sources it was
    built from."""
    settings = {}
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                name, _, value = line.partition("=")
                settings[name.split(":")[0]] = value.strip()
    except OSError:
        pass
    kind = settings.get("CMAKE_BUILD_TYPE", "build type unknown")
    source = settings.get("CMAKE_HOME_DIRECTORY", ROOT)
    commit = subprocess.run(["git", "-C", source, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True)
    if commit.returncode == 0:
        kind += ", commit " + commit.stdout.strip()
        # The figures this benchmark writes into the README do not count as
        # a change of what is measured.
        changes = subprocess.run(["git", "-C", source, "status", "--porcelain",
                                  "--untracked-files=no", "--", ".",
                                  ":(exclude)bench/README.md"],
                                 capture_output=True, text=True).stdout
        if changes.strip():
            kind += " with uncommitted changes"
    else:
        kind += ", sources in " + source
    if build.startswith(ROOT + os.sep):
        build = os.path.relpath(build, ROOT)
    return "%s (%s)" % (build, kind)


# --- helpers built by the benchmark -----------------------------------------

def pkg_config(package):
    return subprocess.run(["pkg-config", "--cflags", "--libs", package],
                          check=True, capture_output=True,
                          text=True).stdout.split()


def compile_helpers(folder, engines):
    """Builds run_timed and the floors of `engines` into `folder`; returns
    a dictionary of their paths."""
    cc = os.environ.get("CC", "cc")
    cxx = os.environ.get("CXX", "c++")
    flags = ["-O2", "-Wall", "-Wextra", "-I", ROOT]
    tools = {"runner": os.path.join(folder, "run_timed")}
    subprocess.run([cc] + flags + ["-o", tools["runner"],
                                   os.path.join(HERE, "run_timed.c")],
                   check=True)
    if "sqlite" in engines:
        # The program's own time collation, built without the C++ runtime
        # (it uses only the C library), so the floor loads no more than
        # SQLite and the C library.
        collation = os.path.join(folder, "time_collation.o")
        subprocess.run([cxx] + flags + ["-fno-exceptions", "-fno-rtti", "-c",
                                        "-o", collation,
                                        os.path.join(ROOT, "platform",
                                                     "time_collation.cc")],
                       check=True)
        tools["sqlite"] = os.path.join(folder, "floor_sqlite")
        subprocess.run([cc] + flags + ["-o", tools["sqlite"],
                                       os.path.join(HERE, "floor_sqlite.c"),
                                       collation] + pkg_config("sqlite3"),
                       check=True)
    if "postgresql" in engines:
        tools["postgresql"] = os.path.join(folder, "floor_pq")
        subprocess.run([cc] + flags + ["-o", tools["postgresql"],
                                       os.path.join(HERE, "floor_pq.c")] +
                       pkg_config("libpq"), check=True)
    return tools


class Run:
    """One timed run: wall seconds, peak memory (KiB), exit status, CPU
    seconds (user and system)."""

    def __init__(self, line):
        fields = line.split()
        self.wall = int(fields[0]) / 1e9
        self.max_rss = int(fields[1])
        self.status = int(fields[2])
        self.cpu = (int(fields[3]) + int(fields[4])) / 1e6


def run_timed(runner, argv, env, stdin_path, stdout_path, stderr_path,
              timeout=0, memory_limit_mib=0):
    """Runs `argv` through run_timed; returns its Run."""
    options = []
    if timeout:
        options += ["-t", str(timeout)]
    if memory_limit_mib:
        options += ["-m", str(memory_limit_mib)]
    out = subprocess.run([runner] + options +
                         [stdin_path, stdout_path, stderr_path] + argv,
                         env=env, check=True, capture_output=True,
                         text=True).stdout
    return Run(out)


def failure_of(run, page_path, stderr_path):
    """None when the run answered with a page; else why it did not: the
    last line it wrote to standard error, or its exit status."""
    with open(page_path, "rb") as f:
        error_page = b"500 Internal Server Error" in f.read(200)
    if run.status == 0 and not error_page:
        return None
    with open(stderr_path, errors="replace") as f:
        lines = f.read().strip().splitlines()
    return lines[-1] if lines else "exit status %d" % run.status


# --- site homes ---------------------------------------------------------------

def make_home(admin, home, connection, jobs):
    """A site home on `connection` with a fresh table of `jobs` generated
    jobs."""
    subprocess.run([admin, "site", home, "--database", connection],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run([admin, "init", "--home", home], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([admin, "generate", str(jobs), "--home", home], check=True,
                   stdout=subprocess.DEVNULL)


def make_home_from_csv(runner, admin, home, connection, csv, index=True):
    """A site home on `connection` whose job table is loaded from `csv` by
    `import`, with the word index that init makes, or without it
    (`reindex --remove` before the import). Returns the import's Run."""
    subprocess.run([admin, "site", home, "--database", connection],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run([admin, "init", "--home", home], check=True,
                   stdout=subprocess.DEVNULL)
    if not index:
        subprocess.run([admin, "reindex", "--remove", "--home", home],
                       check=True, stdout=subprocess.DEVNULL)
    return admin_run(runner, admin, ["import", csv, "--home", home])


def admin_run(runner, admin, arguments):
    """Runs q_lok-admin with `arguments`, timed; returns its Run."""
    folder = tempfile.mkdtemp(prefix="qlok_admin_")
    try:
        run = run_timed(runner, [admin] + arguments,
                        dict(os.environ), os.devnull,
                        os.path.join(folder, "out"), os.path.join(folder, "err"))
        if run.status != 0:
            with open(os.path.join(folder, "err"), errors="replace") as f:
                raise RuntimeError("q_lok-admin %s failed: %s" %
                                   (arguments[0], f.read().strip()))
        return run
    finally:
        shutil.rmtree(folder, ignore_errors=True)



def write_relays(home, port):
    """Points both relays of the site at a receiver on loopback `port`."""
    with open(os.path.join(home, "site.conf"), "a") as conf:
        conf.write("\n[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
                   "submission_port = %d\nrelay_port = %d\n" % (port, port))


class MailReceiver:
    """The test mail receiver on a free loopback port, saving into
    `folder`."""

    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.folder = folder
        self.process = subprocess.Popen([PYTHON, SMTP_RECEIVER, folder],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        if len(line) != 2 or line[0] != "PORT":
            self.stop()
            raise RuntimeError("the mail receiver did not start")
        self.port = int(line[1])

    def wait_for(self, count, seconds):
        """Waits up to `seconds` for `count` saved mails; returns how many
        there are and their total size in bytes."""
        deadline = time.monotonic() + seconds
        while True:
            done = [n for n in range(1, count + 1)
                    if os.path.exists(os.path.join(self.folder, "%d.done" % n))]
            if len(done) == count or time.monotonic() > deadline:
                return len(done), sum(
                    os.path.getsize(os.path.join(self.folder, "%d.eml" % n))
                    for n in done)
            time.sleep(0.1)

    def stop(self):
        self.process.terminate()
        self.process.wait()


class PostgresServer:
    """A throw-away PostgreSQL server (or the one of `uri`, on which the
    benchmark's databases are made and dropped)."""

    def __init__(self, folder, uri=None):
        self.folder = None
        self.databases = []
        if uri is None:
            self.folder = folder
            uri = subprocess.run([POSTGRES_SERVER, "start", folder], check=True,
                                 capture_output=True,
                                 text=True).stdout.strip().splitlines()[-1]
        self.uri = uri

    def database(self, name):
        """A new, empty database `name`; returns its URI."""
        self.sql(self.uri, 'DROP DATABASE IF EXISTS "%s"' % name)
        self.sql(self.uri, 'CREATE DATABASE "%s"' % name)
        self.databases.append(name)
        return database_uri(self.uri, name)

    @staticmethod
    def sql(uri, statement):
        return subprocess.run(["psql", "-X", "-q", "-A", "-t", "-v",
                               "ON_ERROR_STOP=1", "-d", uri, "-c", statement],
                              check=True, capture_output=True,
                              text=True).stdout

    def drop(self, uri):
        """Drops the database of `uri`, one that database() made."""
        name = re.sub(r"\?.*$", "", uri).rsplit("/", 1)[-1]
        self.sql(self.uri, 'DROP DATABASE IF EXISTS "%s"' % name)
        self.databases.remove(name)

    def stop(self):
        if self.folder:
            subprocess.run([POSTGRES_SERVER, "stop", self.folder],
                           stdout=subprocess.DEVNULL)
            return
        for name in self.databases:
            subprocess.run(["psql", "-X", "-q", "-d", self.uri, "-c",
                            'DROP DATABASE IF EXISTS "%s"' % name],
                           stdout=subprocess.DEVNULL)


def database_uri(uri, name):
    """`uri` with its database replaced by `name`."""
    match = re.match(r"^(postgres(?:ql)?://[^/?]*)(/[^?]*)?(\?.*)?$", uri)
    if not match:
        raise ValueError("not a PostgreSQL URI: " + uri)
    return match.group(1) + "/" + name + (match.group(3) or "")


# --- the figures section of bench/README.md -----------------------------------

def replace_section(text, name, body):
    """`text` with what stands between the markers of section `name`
    replaced by `body`; the markers are added at the end when missing."""
    begin = "<!-- %s: begin -->" % name
    end = "<!-- %s: end -->" % name
    block = begin + "\n" + body.rstrip("\n") + "\n" + end
    pattern = re.compile(re.escape(begin) + r".*?" + re.escape(end), re.S)
    if pattern.search(text):
        return pattern.sub(lambda _: block, text, count=1)
    return text.rstrip("\n") + "\n\n" + block + "\n"


def write_readme_section(name, body):
    with open(README, encoding="utf-8") as f:
        text = f.read()
    with open(README, "w", encoding="utf-8") as f:
        f.write(replace_section(text, name, body))


def work_folder(prefix):
    return tempfile.mkdtemp(prefix=prefix)


def remove(folder):
    shutil.rmtree(folder, ignore_errors=True)
