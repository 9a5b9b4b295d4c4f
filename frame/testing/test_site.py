"""What the whole-program tests share to set up a site: a site home made
by q_lok-admin with the first account's login, its job table (and a small
one of known jobs), a mail receiver with the relays of site.conf pointed at
it, and the mails it saved; and the search form as a browser posts it, and
a page as text.

The helpers that take a test class register their clean-up on it, so the
site and the receiver go when the class's tests are over."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
from urllib.parse import quote_plus

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
RECEIVER = os.path.join(ROOT, "platform", "testing", "smtp_receiver.py")

SITE_ADDRESS = "site@example.test"
LOGIN = "q2481xr736k:5d9p1s7tvak"  # the first account's built-in login


def start_receiver(folder, *options, login=LOGIN):
    """The mail receiver on a free loopback port, saving into `folder`,
    requiring `login` (None: any) and given `options` (for example
    "--behave", "refuse"); returns (process, port)."""
    os.makedirs(folder, exist_ok=True)
    receiver = subprocess.Popen(
        [sys.executable, RECEIVER, folder] +
        (["--login", login] if login else []) + list(options),
        stdout=subprocess.PIPE, text=True)
    line = receiver.stdout.readline().split()
    receiver.stdout.close()  # it says nothing more
    if line[:1] != ["PORT"]:
        receiver.kill()
        raise RuntimeError("the mail receiver did not start")
    return receiver, int(line[1])


def serve_mail(cls, folder, *options, login=LOGIN):
    """start_receiver for the tests of `cls`, stopped after them; returns
    its port."""
    receiver, port = start_receiver(folder, *options, login=login)
    cls.addClassCleanup(receiver.wait)
    cls.addClassCleanup(receiver.terminate)
    return port


def relay_conf(port):
    """The site.conf lines that send every mail to the receiver on `port`,
    from the site's own address."""
    return ("[smtp]\nfirst_relay = 127.0.0.1\nsecond_relay = 127.0.0.1\n"
            "submission_port = %d\nrelay_port = %d\n"
            "[senders]\naccount1 = %s\n" % (port, port, SITE_ADDRESS))


def make_site(cls, admin, prefix, connection=None):
    """A site home for the tests of `cls`, removed after them: laid out by
    `q_lok-admin site` (on `connection`, else the default database), with
    the first account's built-in login in pw/mail.txt. Returns its path."""
    home = tempfile.mkdtemp(prefix=prefix)
    cls.addClassCleanup(shutil.rmtree, home, ignore_errors=True)
    subprocess.run([admin, "site", home] +
                   (["--database", connection] if connection else []),
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(home, "pw", "mail.txt"), "w") as accounts:
        accounts.write(LOGIN + "\r\nx:y\r\nx:z\r\n")
    return home


def load_jobs(admin, home, jobs_csv):
    """Makes the site's tables and imports the jobs of the CSV text."""
    csv = os.path.join(home, "jobs.csv")
    with open(csv, "w", encoding="utf-8") as out:
        out.write(jobs_csv)
    for command in (["init"], ["import", csv]):
        subprocess.run([admin] + command + ["--home", home], check=True,
                       stdout=subprocess.DEVNULL)


def postgres_schema(uri_file, prefix):
    """A connection string to a fresh schema named `prefix` and a random
    part on the test server whose URI `uri_file` holds, with public (where
    the server keeps the extension citext) after it on the search path.
    Skips the tests when there is no such server."""
    if not uri_file or not os.path.exists(uri_file):
        raise unittest.SkipTest("no PostgreSQL server for the tests")
    with open(uri_file) as f:
        uri = f.read().strip()
    schema = prefix + uuid.uuid4().hex[:12]
    subprocess.run(["psql", "-X", "-q", uri, "-c", "CREATE SCHEMA " + schema],
                   check=True)
    separator = "&" if "?" in uri else "?"
    return (uri + separator + "options=-csearch_path%3D" + schema +
            "%2Cpublic")


def received_mails(folder, count, timeout=10):
    """The mails the receiver saved in `folder`, in the order they came,
    once there are `count` of them (or `timeout` seconds have passed): each
    a dict of its envelope, subject, body and whole message ("eml")."""
    deadline = time.monotonic() + timeout
    while True:
        done = sorted(int(n[:-5]) for n in os.listdir(folder)
                      if n.endswith(".done"))
        if len(done) >= count or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    mails = []
    for n in done:
        mail = {}
        for part in ("envelope", "subject", "body"):
            with open(os.path.join(folder, "%d.%s" % (n, part)),
                      encoding="utf-8", newline="") as f:
                mail[part] = f.read()
        with open(os.path.join(folder, "%d.eml" % n), "rb") as f:
            mail["eml"] = f.read()
        mails.append(mail)
    return mails


# Three office jobs (two general, one for people with disabilities), a
# night shift, a nurse without shifts and a job without a rank.
JOBS_CSV = """\
社名,職種1,就労場所1,始時,終時,雇,ken,パート,rank,障専,齢下,齢上
第一商事,一般事務,東京都港区,8:30,17:30,1,1,0,90,0,18,60
第二物産,経理事務,大阪府大阪市,9:00,18:00,1,0,1,80,0,0,99
第三工業,事務補助,東京都港区,10:00,15:00,0,0,1,70,1,0,99
夜間警備,警備,東京都新宿区,22:00,2000/01/02 5:00:00,1,1,0,60,0,18,65
看護の会,看護師,神奈川県横浜市,,,1,1,0,50,0,20,59
ウェブ工房,WEBデザイナー,福岡県福岡市,,,0,0,0,,0,0,99
"""


def form(**fields):
    """A form body as the browser sends the search form: Shift_JIS,
    URL-encoded, in the form's order, checked boxes between aai and asa."""
    parts = [("_su", "is1")]
    for name in ("aaa", "aa6", "aa8", "aab", "aac", "aad", "aae", "aaf",
                 "aag", "aah"):
        parts.append((name, fields.get(name, {"aa6": "1", "aa8": "100"}
                                       .get(name, ""))))
    parts.append(("aai", "0"))
    parts += [(box, "1") for box in fields.get("boxes", [])]
    parts += [("asa", fields.get("asa", "2")), ("zzz", "end")]
    return "&".join(n + "=" + quote_plus(v, encoding="cp932")
                    for n, v in parts).encode("ascii")


def page_text(body):
    """The page as text; the response ends in two zero bytes."""
    assert body.endswith(b"\r\n\x00\x00"), body[-20:]
    return body[:-2].decode("cp932")
