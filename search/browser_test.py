"""The search page driven by a real browser (headless Chromium).

Usage: browser_test.py Q_LOK_CGI Q_LOK_ADMIN LIGHTTPD CHROMIUM

A driver page on the same web server posts a first search into a frame,
then fills the form of the answer page, the program's own form, the way a
visitor would and submits it with its own button. So the browser encodes
the fields (in Shift_JIS, as the page declares) and sends them in the
order of the program's form, and the program must read them back.
"""

import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "frame", "testing"))
from cgi_server import CgiServer  # noqa: E402
from search_server_test import JOBS_CSV  # noqa: E402

CGI, ADMIN, LIGHTTPD, CHROMIUM = None, None, None, None

DRIVER = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>driver</title></head><body>
<iframe name="answer" id="answer"></iframe>
<form id="start" method="POST" action="q_lok.cgi" target="answer"
      accept-charset="Shift_JIS">
<input type="hidden" name="_su" value="is1"><input type="hidden" name="aaa">
<input type="hidden" name="aa6" value="1"><input type="hidden" name="aa8" value="100">
<input type="hidden" name="aab"><input type="hidden" name="aac" value="事務">
<input type="hidden" name="aad"><input type="hidden" name="aae">
<input type="hidden" name="aaf"><input type="hidden" name="aag">
<input type="hidden" name="aah"><input type="hidden" name="aai" value="0">
<input type="hidden" name="asa" value="2"><input type="hidden" name="zzz" value="end">
</form>
<pre id="first"></pre><pre id="second"></pre>
<script>
const frame = document.getElementById("answer");
let answers = 0;
frame.addEventListener("load", () => {
  const page = frame.contentDocument;
  if (!page || page.location.href === "about:blank") return;
  answers += 1;
  if (answers === 1) {
    document.getElementById("first").textContent = page.documentElement.outerHTML;
    const form = page.forms[0];
    form.elements["aab"].value = "35";
    form.elements["aac"].value = "事務　経理";
    form.elements["agc"].checked = true;
    form.elements["asa"].value = "0";
    form.querySelector("input[type=submit]").click();
  } else if (answers === 2) {
    document.getElementById("second").textContent = page.documentElement.outerHTML;
  }
});
document.getElementById("start").submit();
</script></body></html>
"""


class BrowserTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        if not CHROMIUM or not os.access(CHROMIUM, os.X_OK):
            raise unittest.SkipTest("no Chromium at %s" % CHROMIUM)
        cls.home = tempfile.mkdtemp(prefix="qlok_browser_home_")
        cls.addClassCleanup(shutil.rmtree, cls.home, ignore_errors=True)
        subprocess.run([ADMIN, "site", cls.home], check=True,
                       stdout=subprocess.DEVNULL)
        csv = os.path.join(cls.home, "jobs.csv")
        with open(csv, "w", encoding="utf-8") as out:
            out.write(JOBS_CSV)
        for command in (["init"], ["import", csv]):
            subprocess.run([ADMIN] + command + ["--home", cls.home],
                           check=True, stdout=subprocess.DEVNULL)
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"},
                               documents={"driver.html": DRIVER.encode()})
        base = cls.server.__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        profile = tempfile.mkdtemp(prefix="qlok_chromium_")
        cls.addClassCleanup(shutil.rmtree, profile, ignore_errors=True)
        dom = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile,
             "--virtual-time-budget=15000", "--dump-dom",
             base + "driver.html"],
            capture_output=True, text=True, timeout=120).stdout
        cls.first = cls.answer(dom, "first")
        cls.second = cls.answer(dom, "second")

    @staticmethod
    def answer(dom, name):
        match = re.search(r'<pre id="%s">(.*?)</pre>' % name, dom, re.S)
        return html.unescape(match.group(1)) if match else ""

    def test_first_search_answers_with_the_count_and_the_form(self):
        self.assertIn("検索すると3件の求人がヒットしました。", self.first,
                      self.server.cgi_errors())
        self.assertIn("【事業所名】第一商事", self.first)

    def test_the_programs_own_form_posts_back_what_was_filled_in(self):
        second = self.second
        self.assertIn("検索すると1件の求人がヒットしました。", second,
                      self.server.cgi_errors())
        self.assertIn("【事業所名】第二物産", second)
        # The browser's DOM writes attributes its own way.
        self.assertRegex(second, r'name="aab"[^>]*value="35"')
        self.assertRegex(second, r'name="aac"[^>]*value="事務　経理"')
        self.assertRegex(second, r'name="agc" value="1" checked=""')
        self.assertEqual(second.count('checked=""'), 1)
        self.assertRegex(second, r'<option selected="" value="0">')
        self.assertIn("(職種1 like '%事務%'", second)
        self.assertIn("職種1 like '%経理%'", second)
        self.assertIn("(パート=1 or バイト=1) AND (齢上 &gt;= 35 and 齢下 &lt;= 35)"
                      " AND 障専= 0 ORDER BY rank DESC limit 1000;", second)


if __name__ == "__main__":
    CGI, ADMIN, LIGHTTPD, CHROMIUM = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1], verbosity=2)
