"""A throw-away lighttpd that runs q_lok.cgi, for whole-program tests.

    from cgi_server import CgiServer, request

    server = CgiServer(cgi_path, site_home, lighttpd="/usr/sbin/lighttpd")
    with server as base_url:
        status, headers, body = request(base_url + "q_lok.cgi", b"a=1")
        print(server.cgi_errors())   # what the program wrote to stderr

The server listens on a free loopback port, serves a temporary document
root that holds the program (as q_lok.cgi), any other `programs` given
(name -> path, for example {"q_lok-manage.cgi": path}) and any `documents`
given (name -> bytes), and passes Q_LOK_HOME (and
any `environment` given) to it. The web server hands the program none of
its own environment, so the sanitizer settings of a sanitizer build
(ASAN_OPTIONS and the like, see scripts/sanitize.sh) are passed on too.
It needs no root rights and runs as root
too (no server.username is set). It is stopped when the block ends; its
folder is removed unless the environment variable QLOK_KEEP_SERVER_DIR is
set.
"""

import http.client
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.parse

__all__ = ["CgiServer", "CgiServerError", "request"]


# Where a sanitizer build's program sends its reports, and how it acts on
# them.
SANITIZER_VARIABLES = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                       "ASAN_SYMBOLIZER_PATH")


class CgiServerError(RuntimeError):
    """The web server could not be started."""


def _free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _quote(value):
    """A string in lighttpd's configuration syntax."""
    return '"' + str(value).replace("\\", "\\\\").replace('"', '\\"') + '"'


class CgiServer:
    """Runs `cgi_path` as q_lok.cgi behind lighttpd while the block runs."""

    def __init__(self, cgi_path, site_home, lighttpd="/usr/sbin/lighttpd",
                 environment=None, start_timeout=10.0, documents=None,
                 programs=None):
        self.cgi_path = os.path.abspath(cgi_path)
        # More CGI programs of the document root: name -> path.
        self.programs = {name: os.path.abspath(path)
                         for name, path in (programs or {}).items()}
        # More files of the document root: name -> bytes.
        self.documents = dict(documents or {})
        self.site_home = os.path.abspath(site_home)
        self.lighttpd = lighttpd
        self.environment = dict(environment or {})
        self.start_timeout = start_timeout
        self.port = None
        # The copy of the program the server runs, while the block runs.
        self.program_path = None
        self.base_url = None
        self._dir = None
        self._process = None

    # -- the files of the server -----------------------------------------

    def _config(self, port):
        environment = {"Q_LOK_HOME": self.site_home}
        environment.update((name, value) for name, value in os.environ.items()
                           if name in SANITIZER_VARIABLES)
        environment.update(self.environment)
        pairs = ", ".join(_quote(k) + " => " + _quote(v)
                          for k, v in environment.items())
        return "\n".join([
            'server.modules = ("mod_setenv", "mod_cgi")',
            "server.document-root = " + _quote(self._docroot),
            'server.bind = "127.0.0.1"',
            "server.port = %d" % port,
            "server.errorlog = " + _quote(self._path("error.log")),
            # The program's standard error: the web server's error log.
            "server.breakagelog = " + _quote(self._path("cgi-stderr.log")),
            "server.max-request-size = 4096",  # KiB, above the 1 MiB limit
            'cgi.assign = (".cgi" => "")',
            # .htm: pages that say their own character set.
            'mimetype.assign = (".html" => "text/html; charset=utf-8", '
            '".htm" => "text/html", ".css" => "text/css", '
            '".js" => "text/javascript", ".svg" => "image/svg+xml")',
            "setenv.add-environment = (" + pairs + ")",
            "",
        ])

    def _path(self, name):
        return os.path.join(self._dir, name)

    def add_document(self, name, content):
        """One more file (bytes) of the document root, while it runs."""
        with open(os.path.join(self._docroot, name), "wb") as out:
            out.write(content)

    def cgi_errors(self):
        """What the program has written to standard error so far."""
        try:
            with open(self._path("cgi-stderr.log"), encoding="utf-8",
                      errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def server_log(self):
        try:
            with open(self._path("error.log"), encoding="utf-8",
                      errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    # -- start and stop --------------------------------------------------

    def __enter__(self):
        for path in [self.cgi_path] + list(self.programs.values()):
            if not os.access(path, os.X_OK):
                raise CgiServerError("not an executable: " + path)
        if not os.access(self.lighttpd, os.X_OK):
            raise CgiServerError("no web server at " + self.lighttpd)
        self._dir = tempfile.mkdtemp(prefix="qlok_cgi_server_")
        self._docroot = self._path("htdocs")
        os.mkdir(self._docroot)
        self.program_path = os.path.join(self._docroot, "q_lok.cgi")
        shutil.copy(self.cgi_path, self.program_path)
        for name, path in self.programs.items():
            shutil.copy(path, os.path.join(self._docroot, name))
        for name, content in self.documents.items():
            with open(os.path.join(self._docroot, name), "wb") as out:
                out.write(content)
        try:
            last_error = ""
            for _ in range(5):  # another process may take the port first
                port = _free_port()
                if self._start(port):
                    self.port = port
                    self.base_url = "http://127.0.0.1:%d/" % port
                    return self.base_url
                last_error = self.server_log()
            raise CgiServerError("lighttpd did not start:\n" + last_error)
        except BaseException:
            self._cleanup()
            raise

    def _start(self, port):
        config = self._path("lighttpd.conf")
        with open(config, "w", encoding="utf-8") as out:
            out.write(self._config(port))
        check = subprocess.run([self.lighttpd, "-tt", "-f", config],
                               capture_output=True, text=True)
        if check.returncode != 0:
            raise CgiServerError("lighttpd refuses its configuration:\n" +
                                 check.stdout + check.stderr)
        with open(self._path("lighttpd.stderr"), "ab") as stderr:
            self._process = subprocess.Popen(
                [self.lighttpd, "-D", "-f", config],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=stderr)
        deadline = time.monotonic() + self.start_timeout
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                self._process = None
                return False
            try:
                with socket.create_connection(("127.0.0.1", port), 0.2):
                    return True
            except OSError:
                time.sleep(0.05)
        self._stop()
        return False

    def _stop(self):
        if self._process is None:
            return
        self._process.terminate()
        try:
            self._process.wait(5)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
        self._process = None

    def _cleanup(self):
        self._stop()
        if self._dir and not os.environ.get("QLOK_KEEP_SERVER_DIR"):
            shutil.rmtree(self._dir, ignore_errors=True)

    def __exit__(self, *exc):
        self._cleanup()
        return False


def request(url, body=None, headers=None, method=None, timeout=30):
    """One HTTP request; POST when `body` (bytes) is given, else GET.

    Returns (status, headers as a dict with lower-case names, body bytes),
    whatever the status.
    """
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port,
                                            timeout=timeout)
    try:
        path = parts.path or "/"
        if parts.query:
            path += "?" + parts.query
        all_headers = {}
        if body is not None:
            all_headers["Content-Type"] = "application/x-www-form-urlencoded"
        all_headers.update(headers or {})
        connection.request(method or ("POST" if body is not None else "GET"),
                           path, body=body, headers=all_headers)
        response = connection.getresponse()
        data = response.read()
        return (response.status,
                {k.lower(): v for k, v in response.getheaders()}, data)
    finally:
        connection.close()
