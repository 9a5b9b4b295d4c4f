"""The search page behind each web server the README's deployment guide
names, configured with the snippets the package installs: lighttpd, Apache
httpd with mod_cgid, and nginx with fcgiwrap.

Usage: web_servers_test.py Q_LOK_CGI Q_LOK_ADMIN

Each server gets the same site home and answers a search posted as the
page's form posts it, the page's script, and a failed request; once it is
stopped, no process it started is left.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "testing"))
sys.path.insert(0, os.path.join(ROOT, "frame", "testing"))
from web_servers import GROUP, USER, WEB_SERVERS, Site  # noqa: E402
from test_site import JOBS_CSV  # noqa: E402

CGI, ADMIN = None, None

SEARCH = [("_su", "is1"), ("aaa", ""), ("aa6", "1"), ("aa8", "100"),
          ("aab", ""), ("aac", "事務"), ("aad", ""), ("aae", ""), ("aaf", ""),
          ("aag", ""), ("aah", ""), ("aai", "0"), ("asa", "2"),
          ("zzz", "end")]


def fetch(url, body=None):
    """(status, body) of one request, whatever the status."""
    try:
        with urllib.request.urlopen(url, body, 30) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


class WebServersTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="qlok_web_servers_")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        os.chmod(cls.work, 0o755)
        home = os.path.join(cls.work, "home")
        subprocess.run([ADMIN, "site", home], check=True,
                       stdout=subprocess.DEVNULL)
        csv = os.path.join(cls.work, "jobs.csv")
        with open(csv, "w", encoding="utf-8") as out:
            out.write(JOBS_CSV)
        for command in (["init"], ["import", csv]):
            subprocess.run([ADMIN] + command + ["--home", home], check=True,
                           stdout=subprocess.DEVNULL)
        # The site home belongs to the user the web server runs the
        # programs as, as the deployment guide lays it out.
        if os.geteuid() == 0:
            subprocess.run([ADMIN, "site", home, "--owner",
                            "%s:%s" % (USER, GROUP)],
                           check=True, stdout=subprocess.DEVNULL)
        cgi_dir = os.path.join(cls.work, "cgi-bin")
        os.mkdir(cgi_dir)
        shutil.copy(CGI, os.path.join(cgi_dir, "q_lok.cgi"))
        cls.site = Site(cgi_dir, os.path.join(ROOT, "demo"), home)

    def check_server(self, name):
        server = WEB_SERVERS[name](self.site)
        with server as base:
            url = base + "q/q_lok.cgi"
            body = urllib.parse.urlencode(SEARCH, encoding="cp932").encode()
            status, page = fetch(url, body)
            text = page.decode("cp932", errors="replace")
            self.assertEqual(status, 200, text[:2000] + server.log())
            self.assertIn("検索すると3件の求人がヒットしました。", text)
            self.assertIn("【事業所名】第一商事", text)
            self.assertTrue(page.endswith(b"</HTML>\r\n\r\n\x00\x00"))

            status, script = fetch(base + "q/moji.js")
            self.assertEqual(status, 200)
            with open(os.path.join(ROOT, "demo", "moji.js"), "rb") as js:
                self.assertEqual(script, js.read())

            # The program is never handed out as a file, whatever follows
            # its name in the address.
            for tail in ("/", "/x", "/x.js"):
                status, answer = fetch(url + tail)
                self.assertFalse(answer.startswith(b"\x7fELF"), tail)

            # A failed request: the status passes through the server.
            status, page = fetch(url, b"aaa=1&zzz=%")
            self.assertEqual(status, 500, page[:500])
            self.assertIn("<H1>エラーが発生しました</H1>".encode("cp932"), page)
        # Every process the server started, and every one they started,
        # has ended with it.
        self.assertEqual(server.leftover_processes(), [], name)
        self.assertTrue(server.sessions)

    def test_lighttpd(self):
        self.check_server("lighttpd")

    def test_apache_httpd_with_mod_cgid(self):
        self.check_server("apache")

    def test_nginx_with_fcgiwrap(self):
        self.check_server("nginx")


if __name__ == "__main__":
    CGI, ADMIN = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=sys.argv[:1], verbosity=2)
