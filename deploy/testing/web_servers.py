"""Throw-away web servers that run the q_lok CGI programs through the
snippets of deploy/web-servers/, for whole-program tests.

    from web_servers import WEB_SERVERS, Site

    with Site(cgi_dir, web_dir, site_home) as site:
        for make in WEB_SERVERS.values():
            with make(site) as base_url:
                ...  # base_url + "q/q_lok.cgi"

Each server listens on a free loopback port and keeps its configuration,
pid, logs and sockets in a temporary folder of its own. Started as root, it
runs the programs as the user "nobody" (the tests' stand-in for the web
server's user); else as whoever runs the tests. Nothing of the machine's
own configuration or services is used or touched. Each process it starts
leads a session of its own, and stopping a server ends every process of
those sessions (fcgiwrap's children, Apache's cgid daemon, the CGI
programs still running), not only the ones it started itself.
"""

import os
import pwd
import grp
import shutil
import signal
import socket
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SNIPPETS = os.path.join(os.path.dirname(HERE), "web-servers")
AS_ROOT = os.geteuid() == 0
USER, GROUP = "nobody", grp.getgrgid(pwd.getpwnam("nobody").pw_gid).gr_name


class WebServerError(RuntimeError):
    """A web server could not be started."""


class Site:
    """Where the servers find the programs, the web files and the site."""

    def __init__(self, cgi_dir, web_dir, site_home):
        self.cgi_dir = os.path.abspath(cgi_dir)
        self.web_dir = os.path.abspath(web_dir)
        self.site_home = os.path.abspath(site_home)

    def snippet(self, server, **more):
        """The snippet of `server` with this site's paths filled in."""
        with open(os.path.join(SNIPPETS, server + ".conf.in"),
                  encoding="utf-8") as template:
            text = template.read()
        values = {"QLOK_CGI_DIR": self.cgi_dir, "QLOK_WEB_DIR": self.web_dir,
                  "QLOK_SITE_HOME": self.site_home,
                  "QLOK_SNIPPET_DIR": SNIPPETS}
        values.update(more)
        for name, value in values.items():
            text = text.replace("@%s@" % name, value)
        if "@QLOK_" in text:
            raise WebServerError("a placeholder is left in the %s snippet"
                                 % server)
        return text


def session_processes(session):
    """The pids of the processes, zombies aside, of `session`."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, encoding="utf-8",
                      errors="replace") as stat:
                # pid (comm) state ppid pgrp session ...; comm may hold blanks
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z" and int(fields[3]) == session:
            pids.append(int(entry))
    return pids


def _signal_session(session, signum):
    for pid in session_processes(session):
        try:
            os.kill(pid, signum)
        except ProcessLookupError:
            pass


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class _Server:
    """Starts in __enter__, returns the base URL; stops in __exit__."""

    name = None

    def __init__(self, site, program):
        self.site = site
        self.program = program
        self.dir = None
        self.port = None
        self._processes = []
        self.sessions = []  # one per process started, led by it

    def path(self, name):
        return os.path.join(self.dir, name)

    def log(self):
        """The server's error log, where the programs' standard error goes."""
        try:
            with open(self.path("error.log"), encoding="utf-8",
                      errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def _write(self, name, text):
        with open(self.path(name), "w", encoding="utf-8") as out:
            out.write(text)

    def _spawn(self, args, as_user=False):
        kwargs = {}
        if as_user and AS_ROOT:
            kwargs = {"user": USER, "group": GROUP, "extra_groups": []}
        with open(self.path("stderr.log"), "ab") as stderr:
            process = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL,
                                       stderr=stderr, start_new_session=True,
                                       **kwargs)
        self._processes.append(process)
        self.sessions.append(process.pid)
        return process

    def _wait_for(self, connect, what, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(p.poll() is not None for p in self._processes):
                break
            try:
                connect().close()
                return
            except OSError:
                time.sleep(0.05)
        with open(self.path("stderr.log"), errors="replace") as stderr:
            raise WebServerError("%s did not start:\n%s%s" % (
                what, self.log(), stderr.read()))

    def __enter__(self):
        if not os.access(self.program, os.X_OK):
            raise WebServerError("no %s at %s" % (self.name, self.program))
        self.dir = tempfile.mkdtemp(prefix="qlok_%s_" % self.name)
        os.chmod(self.dir, 0o755)
        if AS_ROOT:  # the programs' user writes its logs and sockets here
            os.chown(self.dir, pwd.getpwnam(USER).pw_uid, -1)
        os.mkdir(self.path("htdocs"))
        open(self.path("stderr.log"), "w").close()
        try:
            self.port = _free_port()
            self._start()
            self._wait_for(lambda: socket.create_connection(
                ("127.0.0.1", self.port), 0.2), self.name)
            return "http://127.0.0.1:%d/" % self.port
        except BaseException:
            self.__exit__(None, None, None)
            raise

    def leftover_processes(self):
        """The processes of the server's sessions that still run."""
        return [pid for session in self.sessions
                for pid in session_processes(session)]

    def __exit__(self, *exc):
        # The leaders first (a server ends its own children as it stops),
        # then whatever of their sessions is left: fcgiwrap's parent, for
        # one, leaves its children running.
        for process in reversed(self._processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        for signum in (signal.SIGTERM, signal.SIGKILL):
            deadline = time.monotonic() + 10
            for session in self.sessions:
                _signal_session(session, signum)
            while self.leftover_processes() and time.monotonic() < deadline:
                time.sleep(0.05)
            if not self.leftover_processes():
                break
        self._processes = []
        if self.dir and not os.environ.get("QLOK_KEEP_SERVER_DIR"):
            shutil.rmtree(self.dir, ignore_errors=True)
        return False


class Lighttpd(_Server):
    name = "lighttpd"

    def __init__(self, site, program="/usr/sbin/lighttpd"):
        super().__init__(site, program)

    def _start(self):
        user = ('server.username = "%s"\nserver.groupname = "%s"\n'
                % (USER, GROUP)) if AS_ROOT else ""
        self._write("lighttpd.conf", (
            'server.document-root = "{d}/htdocs"\n'
            'server.bind = "127.0.0.1"\n'
            "server.port = {port}\n"
            'server.pid-file = "{d}/lighttpd.pid"\n'
            'server.errorlog = "{d}/error.log"\n'
            'server.breakagelog = "{d}/error.log"\n'
            'mimetype.assign = (".js" => "text/javascript")\n'
            "{user}"
            'include "{d}/q_lok.conf"\n').format(d=self.dir, port=self.port,
                                                 user=user))
        self._write("q_lok.conf", self.site.snippet("lighttpd"))
        self._spawn([self.program, "-D", "-f", self.path("lighttpd.conf")])


class Apache(_Server):
    """Debian's Apache httpd with mod_cgid, from its own configuration."""

    name = "apache"
    MODULES = "/usr/lib/apache2/modules"

    def __init__(self, site, program="/usr/sbin/apache2"):
        super().__init__(site, program)

    def _start(self):
        modules = "".join(
            "LoadModule %s_module %s/mod_%s.so\n" % (m, self.MODULES, m)
            for m in ("mpm_event", "authz_core", "alias", "cgid", "env",
                      "mime"))
        user = "User %s\nGroup %s\n" % (USER, GROUP) if AS_ROOT else ""
        self._write("apache2.conf", (
            'ServerRoot "{d}"\n'
            'DefaultRuntimeDir "{d}"\n'
            'PidFile "{d}/apache2.pid"\n'
            "Mutex file:{d} default\n"
            "Listen 127.0.0.1:{port}\n"
            "ServerName 127.0.0.1\n"
            "{modules}{user}"
            'ErrorLog "{d}/error.log"\n'
            'ScriptSock "{d}/cgid.sock"\n'
            'TypesConfig /dev/null\n'
            "AddType text/javascript .js\n"
            'DocumentRoot "{d}/htdocs"\n'
            'Include "{d}/q_lok.conf"\n').format(
                d=self.dir, port=self.port, modules=modules, user=user))
        self._write("q_lok.conf", self.site.snippet("apache"))
        self._spawn([self.program, "-f", self.path("apache2.conf"),
                     "-DFOREGROUND"])


class Nginx(_Server):
    """nginx with fcgiwrap on a Unix socket, both started here."""

    name = "nginx"

    def __init__(self, site, program="/usr/sbin/nginx",
                 fcgiwrap="/usr/sbin/fcgiwrap"):
        super().__init__(site, program)
        self.fcgiwrap = fcgiwrap

    def _start(self):
        if not os.access(self.fcgiwrap, os.X_OK):
            raise WebServerError("no fcgiwrap at " + self.fcgiwrap)
        socket_path = self.path("fcgiwrap.sock")
        self._spawn([self.fcgiwrap, "-c", "2", "-s", "unix:" + socket_path],
                    as_user=True)

        def connect():
            unix = socket.socket(socket.AF_UNIX)
            try:
                unix.connect(socket_path)
            except OSError:
                unix.close()
                raise
            return unix
        self._wait_for(connect, "fcgiwrap")
        # The snippet includes fastcgi_params from the configuration's
        # folder, as it does from /etc/nginx.
        os.symlink("/etc/nginx/fastcgi_params", self.path("fastcgi_params"))
        user = "user %s %s;\n" % (USER, GROUP) if AS_ROOT else ""
        temp = "".join("%s_temp_path %s/%s;\n" % (kind, self.dir, kind)
                       for kind in ("client_body", "proxy", "fastcgi",
                                    "uwsgi", "scgi"))
        self._write("nginx.conf", (
            "daemon off;\n"
            "worker_processes 1;\n"
            "pid {d}/nginx.pid;\n"
            "error_log {d}/error.log;\n"
            "{user}"
            "events {{ worker_connections 64; }}\n"
            "http {{\n"
            "access_log off;\n"
            "{temp}"
            "types {{ text/javascript js; }}\n"
            "server {{\n"
            "listen 127.0.0.1:{port};\n"
            "root {d}/htdocs;\n"
            "include {d}/q_lok.conf;\n"
            "}}\n"
            "}}\n").format(d=self.dir, port=self.port, user=user, temp=temp))
        self._write("q_lok.conf", self.site.snippet(
            "nginx", QLOK_FCGIWRAP_SOCKET=socket_path))
        self._spawn([self.program, "-p", self.dir, "-e",
                     self.path("error.log"), "-c", self.path("nginx.conf")])


WEB_SERVERS = {"lighttpd": Lighttpd, "apache": Apache, "nginx": Nginx}
