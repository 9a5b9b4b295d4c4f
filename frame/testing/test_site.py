"""What the whole-program tests share to set up a site: a site home made
by q_lok-admin with the first account's login, its job table, a mail
receiver with the relays of site.conf pointed at it, and the mails it saved.

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
