"""q_lok.cgi behind a real web server (lighttpd with mod_cgi).

Usage: cgi_server_test.py PATH_OF_Q_LOK_CGI PATH_OF_LIGHTTPD

The cases hold whatever the request handler answers: where a form is
posted, only the head, the foot and the closing lines are compared.
"""

import datetime
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "testing"))
from cgi_server import CgiServer, request  # noqa: E402

CGI_PATH = None
LIGHTTPD = None

TOP_URL = "https://site.test/"

SITE_CONF = """\
[site]
top_url = %s
[ad1]
link = https://ads.test/1
text = 一番の広告
tracking_image = https://ads.test/1/t.gif
banner_image = https://ads.test/1/b.png
banner_tracking = https://ads.test/1/bt.gif
[ad2]
link = https://ads.test/2
text = 二番
tracking_image = https://ads.test/2/t.gif
banner_image = https://ads.test/2/b.png
banner_tracking = https://ads.test/2/bt.gif
[ad3]
link = https://ads.test/3
text = 三番
tracking_image = https://ads.test/3/t.gif
banner_image = https://ads.test/3/b.png
banner_tracking = https://ads.test/3/bt.gif
""" % TOP_URL

HEAD = (
    '<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">'
    '<HTML lang="ja"><HEAD><meta http-equiv="Content-Type" '
    'content="text/html; charset=shift_jis">\r\n'
    '<META http-equiv="Content-Script-Type" content="text/javascript">'
    '<meta name="viewport" content="width=device-width, initial-scale=1">'
    '\r\n'
    '<LINK rel="stylesheet" type="text/css" href="../style2.css">\r\n'
    '<TITLE>お試し求人検索と登録</TITLE></HEAD><BODY>\r\n'
    '<DIV ALIGN="LEFT">\r\n'
    '<H1><a name="top">お試し求人検索＆求人マッチメール登録</a></H1>|'
    '<A href="' + TOP_URL + '">サイトTOPへ</A>|'
    '<script type="text/JavaScript" src="moji.js">\r\n'
    '</script><noscript><b><small>\r\n'
    '<BR></small></b></noscript><HR>\r\n').encode("cp932")

CLOSE = b"</DIV>\r\n</BODY>\r\n</HTML>\r\n"
END = b"\r\n\x00\x00"


def advertisement_foot():
    lines = ['<HR><A href="' + TOP_URL + '">サイトトップページへ</A>']
    texts = {1: "一番の広告", 2: "二番", 3: "三番"}
    sizes = {1: (468, 60), 2: (728, 90), 3: (320, 50)}
    for n in (1, 2, 3):
        ad = "https://ads.test/%d" % n
        attributes = ' target="_blank"' + (' rel="nofollow"' if n == 3 else "")
        lines.append(("<HR><HR>" if n == 1 else "<HR><BR>") +
                     "【広告 人気%d位】<BR>" % n)
        lines.append('<a href="%s"%s>%s</a>' % (ad, attributes, texts[n]))
        tracking = ('<img border="0" width="1" height="1" src="%s/t.gif" '
                    'alt="">' % ad)
        if n == 3:
            lines.append(tracking + "<BR>")
            lines.append('<a href="%s"%s>' % (ad, attributes))
        else:
            lines.append(tracking)
            lines.append('<BR><a href="%s"%s>' % (ad, attributes))
        lines.append('<img border="0" width="%d" height="%d" alt="" '
                     'src="%s/b.png"></a>' % (sizes[n] + (ad,)))
        lines.append('<img border="0" width="1" height="1" src="%s/bt.gif" '
                     'alt="">' % ad)
    lines.append("<HR>")
    return "".join(line + "\r\n" for line in lines).encode("cp932")


ERROR_PAGE = re.compile(
    re.escape((
        '<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">'
        '<HTML lang="ja"><HEAD><meta http-equiv="Content-Type" '
        'content="text/html; charset=shift_jis">\r\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">'
        '\r\n'
        '<LINK rel="stylesheet" type="text/css" href="../style2.css">\r\n'
        "<TITLE>エラーが発生しました</TITLE></HEAD><BODY>\r\n"
        '<DIV ALIGN="LEFT">\r\n'
        "<H1>エラーが発生しました</H1><HR>\r\n"
        "申し訳ございません。ただいまこのページを表示できません。<BR>"
        "しばらく時間をおいてから、もう一度お試しください。<BR><BR>\r\n"
    ).encode("cp932"))
    + rb"<small>(?P<date>[A-Z][a-z]{2} \d\d [A-Z][a-z]{2} "
    rb"\d{4} \d\d:\d\d:\d\d) GMT</small><BR><BR>\r\n"
    + rb'<A HREF="(?P<link>[^"]*)">'
    + re.escape("前のページへ戻る</A><BR>\r\n".encode("cp932"))
    + rb"</DIV>\r\n"
    rb"</BODY>\r\n"
    rb"</HTML>\r\n"
    rb"\r\n\x00\x00\Z")


class CgiServerTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="qlok_site_home_")
        with open(os.path.join(cls.home, "site.conf"), "w",
                  encoding="utf-8") as conf:
            conf.write(SITE_CONF)
        # The local clock runs on Japan time, as on the site's own server.
        cls.server = CgiServer(CGI_PATH, cls.home, lighttpd=LIGHTTPD,
                               environment={"TZ": "Asia/Tokyo"})
        cls.base = cls.server.__enter__()
        cls.url = cls.base + "q_lok.cgi"

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.home, ignore_errors=True)

    def assert_error_page(self, status, headers, body):
        self.assertEqual(status, 500, body[:200])
        self.assertTrue(headers["content-type"].startswith("text/html"))
        match = ERROR_PAGE.match(body)
        self.assertIsNotNone(match, body)
        return match

    def test_request_without_body_gets_head_and_closing_only(self):
        for url in (self.url, self.url + "?aaa=%ZZ&b=1"):
            status, headers, body = request(url)
            self.assertEqual(status, 200)
            self.assertTrue(headers["content-type"].startswith("text/html"))
            self.assertEqual(body, HEAD + CLOSE + END)

    def test_empty_post_gets_head_and_closing_only(self):
        status, _, body = request(self.url, b"")
        self.assertEqual(status, 200)
        self.assertEqual(body, HEAD + CLOSE + END)

    def test_posted_form_stands_between_head_and_advertisements(self):
        # The request handler runs here on a site home without job data, so
        # it may answer a page or fail; the frame's part is checked either
        # way: page head and foot around the handler's output, or the whole
        # error page with the handler's reason in the log.
        before = self.server.cgi_errors()
        status, headers, body = request(self.url, b"aaa=%82%A0&zzz=1")
        logged = self.server.cgi_errors()[len(before):]
        if status == 500:
            self.assert_error_page(status, headers, body)
            self.assertRegex(logged, r"\Aq_lok: [^\n]+\n\Z")
            self.assertNotIn("form data", logged)
            return
        self.assertEqual(status, 200)
        self.assertEqual(logged, "")
        self.assertTrue(body.startswith(HEAD + b"\r\n"), body[:400])
        tail = advertisement_foot() + CLOSE + END
        short = (('<HR><A href="%s">サイトTOPへ</A>｜<a href="#top">'
                  'このページの先頭へ</a>\r\n' % TOP_URL).encode("cp932") +
                 CLOSE + END)
        self.assertTrue(body.endswith(tail) or body.endswith(short),
                        body[-600:])

    def test_body_ending_in_percent_gives_the_error_page(self):
        before = self.server.cgi_errors()
        status, headers, body = request(self.url, b"aaa=1&zzz=%")
        match = self.assert_error_page(status, headers, body)
        self.assertEqual(match.group("link"), b"")
        # The page stamp is the local (Japan) time less nine hours.
        shown = datetime.datetime.strptime(match.group("date").decode(),
                                           "%a %d %b %Y %H:%M:%S")
        now = datetime.datetime.now(datetime.timezone.utc).replace(
            tzinfo=None)
        self.assertLess(abs((now - shown).total_seconds()), 120)
        # The cause is in the error log, one line, and not on the page.
        logged = self.server.cgi_errors()[len(before):]
        self.assertRegex(logged, r"\Aq_lok: [^\n]*position 11[^\n]*\n\Z")
        self.assertNotIn(b"position", body)

    def test_raw_high_bytes_become_full_stops(self):
        # An escape made of the raw bytes 0x82 0xA0 cannot be decoded: the
        # error log shows the two characters they became.
        before = self.server.cgi_errors()
        status, headers, body = request(self.url, b"a=%\x82\xa0")
        self.assert_error_page(status, headers, body)
        logged = self.server.cgi_errors()[len(before):]
        self.assertIn('"%.."', logged)

    def test_go_back_link_is_escaped(self):
        referer = 'https://x.test/?a=1&b="><script>'
        status, headers, body = request(self.url, b"%",
                                        headers={"Referer": referer})
        match = self.assert_error_page(status, headers, body)
        self.assertEqual(match.group("link"),
                         b"https://x.test/?a=1&amp;b=&quot;&gt;&lt;script&gt;")

    def test_oversized_body_is_refused(self):
        before = self.server.cgi_errors()
        status, headers, body = request(self.url, b"a" * (1024 * 1024 + 1))
        self.assert_error_page(status, headers, body)
        self.assertIn("CONTENT_LENGTH", self.server.cgi_errors()[len(before):])


def main():
    global CGI_PATH, LIGHTTPD
    if len(sys.argv) < 3:
        sys.exit("usage: cgi_server_test.py Q_LOK_CGI LIGHTTPD [unittest args]")
    CGI_PATH, LIGHTTPD = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)


if __name__ == "__main__":
    main()
