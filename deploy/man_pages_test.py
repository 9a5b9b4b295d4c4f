"""The manual pages as the package installs them.

Usage: man_pages_test.py Q_LOK_ADMIN MAN_DIR

MAN_DIR holds the built pages (NAME.8.gz, turned into roff from
deploy/man/NAME.8.md). The page of q_lok-admin must name every command that
"q_lok-admin --help" lists, each as a subsection of COMMANDS, and every
option of each command's own help; each page must have its NAME line as
whatis reads it, and man(1), where it is installed, must render it without
a warning.
"""

import gzip
import os
import re
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ADMIN, MAN_DIR = None, None
PAGES = ("q_lok-admin.8", "q_lok.cgi.8", "q_lok-manage.cgi.8")


def run(*args):
    return subprocess.run(args, capture_output=True, text=True,
                          check=True).stdout


def roff(page):
    with gzip.open(os.path.join(MAN_DIR, page + ".gz"), "rt",
                   encoding="utf-8") as f:
        return f.read()


class ManPagesTest(unittest.TestCase):

    def test_admin_page_names_every_command_and_option(self):
        usage = run(ADMIN, "--help")
        commands = re.findall(r"^  ([a-z]+)(?: |$)",
                              usage.split("commands:")[1].split("\n\n")[0],
                              re.M)
        self.assertGreaterEqual(len(commands), 8, usage)
        page = roff("q_lok-admin.8")
        # The subsections of COMMANDS, in roff: .SS name [arguments]
        documented = re.findall(r"^\.SS ([a-z]+)", page, re.M)
        self.assertEqual(documented, commands)
        for command in commands:
            section = page.split(".SS " + command, 1)[1].split("\n.S", 1)[0]
            options = set(re.findall(r"--[a-z-]+", run(ADMIN, command,
                                                        "--help")))
            common = {"--home", "--database", "--help"}
            for option in sorted(options - common):
                self.assertIn(option.replace("-", r"\-"),
                              section.replace("-", r"\-"),
                              "q_lok-admin %s %s" % (command, option))
            for option in common:
                self.assertIn(option, page)

    def test_every_page_has_its_name_line(self):
        for page in PAGES:
            text = roff(page)
            name = page[:-2]
            self.assertRegex(text, r'(?m)^\.TH "?%s"? "?8"?' % re.escape(name))
            self.assertRegex(
                text, r"(?m)^\.SH NAME\n(?:\.PP\n)?%s \\?- \S" %
                re.escape(name), page)

    def test_man_renders_every_page_without_a_warning(self):
        man = shutil.which("man")
        if not man:
            self.skipTest("no man(1) on this machine")
        for page in PAGES:
            done = subprocess.run(
                [man, "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                 os.path.join(MAN_DIR, page + ".gz")],
                capture_output=True, text=True,
                env=dict(os.environ, MANROFFSEQ="", MANWIDTH="80",
                         LC_ALL="C.UTF-8"))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "", page)


if __name__ == "__main__":
    ADMIN, MAN_DIR = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
