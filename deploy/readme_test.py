"""README.md as a reader sees it, and the installed files it quotes.

Usage: readme_test.py BUILD_DIR            the test
       readme_test.py BUILD_DIR --write    write the quoted files into README.md

The README is rendered with a Markdown parser (Debian's python3-markdown):
every code fence must be closed, the section headings must come out as
headings and in order, and no heading may end up inside a code block. The
blocks after a line "<!-- installed: PATH -->" quote the file PATH as
"cmake --install" with the prefix /usr (the Debian package's) puts it; the
test installs the build into a temporary folder and compares.
"""

import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import markdown

HERE = os.path.dirname(os.path.abspath(__file__))
README = os.path.join(os.path.dirname(HERE), "README.md")
BUILD = None

# The sections a reader looks for, in their order (level, title).
SECTIONS = [
    (1, "q_lok"),
    (2, "The two commands"),
    (2, "How a web server runs it"),
    (3, "What a request does"),
    (3, "The time limit and the outbox"),
    (2, "Installing and deploying"),
    (3, "Installing"),
    (3, "The Debian package"),
    (4, "The timers"),
    (4, "Removing and purging"),
    (4, "Lintian"),
    (3, "How the programs are linked"),
    (3, "Web servers"),
    (2, "The site home"),
    (3, "The database"),
    (4, "The word index"),
    (3, "site.conf"),
    (2, "The operator tool"),
    (2, "The daily job-match mail"),
    (3, "The links of the mails"),
    (2, "Safe to send: confirmation, limits, consent, bounces"),
    (2, "The manage page: q_lok-manage.cgi"),
    (2, "Tests and benchmarks"),
    (3, "Sanitizers and fuzzing"),
    (2, "Layout"),
]

MARKER = re.compile(r"^<!-- installed: (\S+) -->\n```[a-z]*\n(.*?)^```\n",
                    re.M | re.S)
FENCE = re.compile(r"^(\s*)(```+|~~~+)(.*)$")


def install(destination):
    """The build installed below `destination` with the prefix /usr."""
    subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"],
                   env=dict(os.environ, DESTDIR=destination), check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(destination, "usr")


def quoted(text, root):
    """README text with every marked block holding its installed file."""
    def block(match):
        with open(os.path.join(root, match.group(1)), encoding="utf-8") as f:
            content = f.read()
        opening = match.group(0).split("\n", 2)[:2]
        return "\n".join(opening) + "\n" + content.rstrip("\n") + "\n```\n"
    return MARKER.sub(block, text)


class ReadmeTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        with open(README, encoding="utf-8") as f:
            cls.text = f.read()
        cls.html = markdown.markdown(
            cls.text, extensions=["fenced_code", "tables"])

    def test_every_code_fence_is_closed(self):
        # CommonMark's rule: a fence closes only with a line of the same
        # fence character, at least as long, and nothing else.
        opened = None
        for number, line in enumerate(self.text.split("\n"), 1):
            match = FENCE.match(line)
            if not match:
                continue
            if opened is None:
                opened = (number, match.group(2))
            elif (match.group(2)[0] == opened[1][0]
                  and len(match.group(2)) >= len(opened[1])):
                self.assertEqual(match.group(3).strip(), "",
                                 "line %d: text after a closing fence"
                                 % number)
                opened = None
        self.assertIsNone(opened, "the fence opened at line %s is never "
                          "closed" % (opened and opened[0]))

    def test_sections_are_headings_in_order(self):
        headings = [(int(level), html.unescape(re.sub("<[^>]+>", "", title)))
                    for level, title in re.findall(
                        r"<h([1-4])[^>]*>(.*?)</h\1>", self.html)]
        self.assertEqual(headings, SECTIONS)

    def test_no_heading_is_shown_as_code(self):
        for block in re.findall(r"<pre><code[^>]*>(.*?)</code></pre>",
                                self.html, re.S):
            for level, title in SECTIONS:
                self.assertNotIn("\n%s %s\n" % ("#" * level, title),
                                 "\n" + html.unescape(block) + "\n")

    def test_quoted_files_are_the_installed_ones(self):
        marked = MARKER.findall(self.text)
        self.assertGreaterEqual(len(marked), 7)
        work = tempfile.mkdtemp(prefix="qlok_readme_")
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        root = install(work)
        for path, _ in marked:
            self.assertTrue(os.path.isfile(os.path.join(root, path)), path)
        expected = quoted(self.text, root)
        for (path, shown), (_, installed) in zip(
                marked, MARKER.findall(expected)):
            self.assertEqual(shown, installed,
                             "README.md does not quote %s as installed "
                             "(deploy/readme_test.py BUILD --write)" % path)


def write():
    work = tempfile.mkdtemp(prefix="qlok_readme_")
    try:
        with open(README, encoding="utf-8") as f:
            text = f.read()
        with open(README, "w", encoding="utf-8") as f:
            f.write(quoted(text, install(work)))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    if sys.argv[2:] == ["--write"]:
        write()
    else:
        unittest.main(argv=sys.argv[:1], verbosity=2)
