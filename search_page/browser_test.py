"""The search page driven by a real browser (headless Chromium).

Usage: browser_test.py Q_LOK_CGI Q_LOK_ADMIN LIGHTTPD CHROMIUM [ARTIFACTS]

A driver page on the same web server posts a first search into a frame,
then fills the form of the answer page, the program's own form, the way a
visitor would and submits it with its own button. So the browser encodes
the fields (in Shift_JIS, as the page declares) and sends them in the
order of the program's form, and the program must read them back.

On a phone's width (390 CSS pixels) the demo's landing page and the
program's pages (a result, a result whose address was refused, a
confirmation, the manage page of a registration, the error page), with the
demo's style sheet, must not be wider than the window, every button must be
at least 44 CSS pixels tall, and the visitor may zoom; their screenshots
are kept in ARTIFACTS (default: a temporary folder that is removed). The
environment variable QLOK_MANAGE_CGI names q_lok-manage.cgi.
"""

import hashlib
import html
import json
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "frame", "testing"))
from cgi_server import CgiServer, request  # noqa: E402
from test_site import (JOBS_CSV, LOGIN, SITE_ADDRESS, form,  # noqa: E402
                       start_receiver)

CGI, ADMIN, LIGHTTPD, CHROMIUM, ARTIFACTS = None, None, None, None, None
MANAGE = None
DEMO = os.path.join(os.path.dirname(HERE), "demo")

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


def chromium(profile, *args):
    """What headless Chromium prints for `args`, on loopback only."""
    return subprocess.run(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
         "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile] + list(args),
        capture_output=True, text=True, timeout=120).stdout


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
        dom = chromium(profile, "--virtual-time-budget=15000", "--dump-dom",
                       base + "driver.html")
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


PHONE_WIDTH = 390
# The least height of a button a finger can hit (CSS pixels).
TOUCH_HEIGHT = 44

# Loads each page into a frame of a phone's width and writes, as JSON, how
# wide each document is laid out and what sticks out past the window.
PHONE_DRIVER = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>phone</title></head><body>
%(frames)s
<pre id="widths"></pre>
<script>
const frames = [...document.querySelectorAll("iframe")];
function measure() {
  const widths = {};
  for (const frame of frames) {
    const page = frame.contentDocument;
    const window_width = frame.contentWindow.innerWidth;
    const wide = [];
    for (const element of page.querySelectorAll("body *")) {
      const right = element.getBoundingClientRect().right;
      if (right > window_width + 0.5) {
        wide.push(element.tagName + (element.name ? "[" + element.name + "]"
                  : "") + " to " + Math.round(right));
      }
    }
    const buttons = [...page.querySelectorAll(
        "input[type=submit], input[type=button], input[type=reset], button")];
    const viewport = page.querySelector("meta[name=viewport]");
    widths[frame.id] = {document: page.documentElement.scrollWidth,
                        window: window_width, wide: wide.slice(0, 8),
                        buttons: buttons.map(b => ({
                            text: b.value || b.textContent,
                            height: b.getBoundingClientRect().height})),
                        viewport: viewport ? viewport.content : null};
  }
  document.getElementById("widths").textContent = JSON.stringify(widths);
}
// The window's load waits for every frame's (a frame's own load event may
// come before this script runs).
window.addEventListener("load", measure);
</script></body></html>
"""


class PhoneLayoutTest(unittest.TestCase):
    """The demo's pages on a phone: no sideways scrolling, buttons a finger
    can hit, zoom allowed."""

    PAGES = ("landing", "result", "refused", "confirmation", "manage",
             "error")
    # The pages with buttons, and how many each has at least.
    BUTTONS = {"result": 2, "refused": 2, "manage": 1}

    @classmethod
    def setUpClass(cls):
        if not CHROMIUM or not os.access(CHROMIUM, os.X_OK):
            raise unittest.SkipTest("no Chromium at %s" % CHROMIUM)
        cls.home = tempfile.mkdtemp(prefix="qlok_phone_home_")
        cls.addClassCleanup(shutil.rmtree, cls.home, ignore_errors=True)
        subprocess.run([ADMIN, "site", cls.home], check=True,
                       stdout=subprocess.DEVNULL)
        # Generated jobs: head offices with long map links, long texts.
        for command in (["init"], ["generate", "300"]):
            subprocess.run([ADMIN] + command + ["--home", cls.home],
                           check=True, stdout=subprocess.DEVNULL)
        mails = os.path.join(cls.home, "mails")
        os.mkdir(mails)
        receiver, port = start_receiver(mails)
        cls.addClassCleanup(receiver.wait)
        cls.addClassCleanup(receiver.terminate)
        with open(os.path.join(cls.home, "pw", "mail.txt"), "w") as accounts:
            accounts.write(LOGIN + "\r\nx:y\r\nx:z\r\n")
        documents = {}
        banners = ("banner468x60.svg", "banner728x90.svg", "banner320x50.svg")
        for name in ("index.html", "style2.css", "moji.js") + banners:
            with open(os.path.join(DEMO, name), "rb") as demo_file:
                documents[name] = demo_file.read()
        cls.server = CgiServer(CGI, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"},
                               documents=documents,
                               programs={"q_lok-manage.cgi": MANAGE})
        base = cls.server.__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        # Both relays at the receiver; the demo's banners in the feet.
        with open(os.path.join(cls.home, "site.conf"), "w") as conf:
            conf.write("[smtp]\nfirst_relay = 127.0.0.1\n"
                       "second_relay = 127.0.0.1\nsubmission_port = %d\n"
                       "relay_port = %d\n[senders]\naccount1 = %s\n"
                       % (port, port, SITE_ADDRESS))
            for number, banner in enumerate(banners, 1):
                conf.write("[ad%d]\nbanner_image = %s%s\n"
                           % (number, base, banner))
        # The program's pages, kept as they came (Shift_JIS), beside the
        # style sheet they link as ../style2.css.
        pages = {"result": (form(aac="事務"), 200),
                 "refused": (form(aaa="taro.example.jp", aac="事務"), 200),
                 "confirmation": (form(aaa="visitor@example.test",
                                       aac="事務"), 200),
                 "error": (b"aaa=1&zzz=%", 500)}
        cls.pages = {"landing": base + "index.html"}
        cls.answers = {}
        for name, (body, expected) in pages.items():
            status, _, page = request(base + "q_lok.cgi", body)
            assert status == expected, cls.server.cgi_errors()
            cls.answers[name] = page.rstrip(b"\x00").decode("cp932")
            cls.server.add_document(name + ".htm", page.rstrip(b"\x00"))
            cls.pages[name] = base + name + ".htm"
        # The manage page of the registration just made, with its button.
        # Tokens are kept only as their SHA-256: the test gives the
        # registration a token it knows.
        token = "0123456789abcdef0123456789abcdef"
        with sqlite3.connect(os.path.join(cls.home, "jobs.db")) as db:
            db.execute("UPDATE registrations SET token = ?",
                       (hashlib.sha256(token.encode()).hexdigest(),))
        status, _, page = request(base + "q_lok-manage.cgi?t=" + token)
        assert status == 200, cls.server.cgi_errors()
        cls.server.add_document("manage.htm", page.rstrip(b"\x00"))
        cls.pages["manage"] = base + "manage.htm"
        frames = "".join(
            '<iframe id="%s" src="%s" width="%d" height="844"></iframe>'
            % (name, cls.pages[name], PHONE_WIDTH) for name in cls.PAGES)
        cls.server.add_document(
            "phone.html", (PHONE_DRIVER % {"frames": frames}).encode())
        cls.profile = tempfile.mkdtemp(prefix="qlok_chromium_")
        cls.addClassCleanup(shutil.rmtree, cls.profile, ignore_errors=True)
        # The measures appear once every frame has loaded; on a busy
        # machine the browser's time may run out before, so it is asked
        # again.
        cls.widths = {}
        for _ in range(3):
            dom = chromium(cls.profile, "--virtual-time-budget=30000",
                           "--dump-dom", base + "phone.html")
            match = re.search(r'<pre id="widths">(.+?)</pre>', dom, re.S)
            if match:
                cls.widths = json.loads(html.unescape(match.group(1)))
                break

    def test_pages_are_no_wider_than_the_phone(self):
        self.assertEqual(sorted(self.widths), sorted(self.PAGES),
                         self.server.cgi_errors())
        for name in self.PAGES:
            width = self.widths[name]
            self.assertLessEqual(width["document"], width["window"],
                                 "%s: %s" % (name, width["wide"]))

    def test_every_button_is_tall_enough_for_a_finger(self):
        for name in self.PAGES:
            buttons = self.widths.get(name, {}).get("buttons", [])
            self.assertGreaterEqual(len(buttons), self.BUTTONS.get(name, 0),
                                    name)
            for button in buttons:
                self.assertGreaterEqual(button["height"], TOUCH_HEIGHT,
                                        "%s: %s" % (name, button))

    def test_every_page_lets_the_visitor_zoom(self):
        for name in self.PAGES:
            viewport = self.widths.get(name, {}).get("viewport")
            self.assertIsNotNone(viewport, name)
            self.assertIn("width=device-width", viewport, name)
            self.assertNotIn("user-scalable", viewport, name)
            self.assertNotIn("maximum-scale", viewport, name)

    def test_a_refused_address_is_said_and_kept(self):
        refused = self.answers["refused"]
        self.assertIn("メールアドレスの形式が正しくないため、登録は行わず"
                      "検索のみ行いました。", refused)
        self.assertIn("value='taro.example.jp'", refused)
        self.assertIn("件の求人がヒットしました", refused)

    def test_the_error_page_is_japanese_and_tells_no_cause(self):
        error = self.answers["error"]
        self.assertIn("<H1>エラーが発生しました</H1>", error)
        self.assertNotIn("position", error)

    def test_landing_page_declares_the_phones_width(self):
        with open(os.path.join(DEMO, "index.html"), encoding="utf-8") as page:
            self.assertRegex(page.read(), r'<meta name="viewport" '
                             r'content="width=device-width[^"]*">')

    def test_screenshots_are_kept(self):
        folder = ARTIFACTS or tempfile.mkdtemp(prefix="qlok_artifacts_")
        if not ARTIFACTS:
            self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        os.makedirs(folder, exist_ok=True)
        for name in self.PAGES:
            shot = os.path.join(folder, "phone-%s.png" % name)
            if os.path.exists(shot):
                os.remove(shot)
            chromium(self.profile, "--hide-scrollbars",
                     "--window-size=%d,1600" % PHONE_WIDTH,
                     "--virtual-time-budget=5000", "--screenshot=" + shot,
                     self.pages[name])
            self.assertTrue(os.path.getsize(shot) > 1000, shot)


if __name__ == "__main__":
    CGI, ADMIN, LIGHTTPD, CHROMIUM = sys.argv[1:5]
    MANAGE = os.environ.get("QLOK_MANAGE_CGI",
                            os.path.join(os.path.dirname(os.path.dirname(
                                os.path.abspath(CGI))), "manage",
                                "q_lok-manage.cgi"))
    ARTIFACTS = sys.argv[5] if len(sys.argv) > 5 else None
    unittest.main(argv=sys.argv[:1], verbosity=2)
