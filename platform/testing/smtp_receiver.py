#!/usr/bin/python3
"""A mail receiver for tests: an SMTP server on a free loopback port that
saves every mail it accepts into a folder.

    smtp_receiver.py FOLDER [--login USER:PASSWORD] [--refuse-from ADDRESS]
                            [--tls CERT KEY] [--behave accept|refuse|close|silent]

It prints "PORT <number>" on a line of its own once it listens, and runs
until it is terminated or interrupted (quietly either way). Each accepted
mail N (1, 2, ... in an empty folder; in a folder that holds mails already,
the numbers go on after the highest one, so no mail is overwritten) leaves,
written whole before N.done appears:

    N.eml      the message as received (bytes)
    N.envelope lines: MAIL FROM, RCPT TO (blank-separated), the user that
               authenticated (empty if none), the mechanism used
    N.subject  the Subject header decoded (UTF-8)
    N.from     the From header decoded (UTF-8)
    N.body     the body decoded by its transfer encoding and charset (UTF-8)
    N.done     empty

With --login, the server offers AUTH LOGIN only and requires it (over plain
text too, so that a client that sends it in clear can be caught). Every AUTH
the server is given leaves a line in FOLDER/auth.log: the mechanism, the
user, and "tls" or "plain" for the connection it came over. With --tls it
offers STARTTLS with that certificate and key (PEM). With --refuse-from,
MAIL FROM that address is refused.

--behave says how the server treats a client: accept (the default) as
above; refuse answers every MAIL FROM with "550 5.7.1 relaying denied";
close closes each connection as soon as it is accepted; silent accepts the
connection and never says a word.
"""
import argparse
import asyncio
import email
import email.header
import email.policy
import logging
import os
import re
import signal
import socket
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(value)))


class Saver:
    def __init__(self, folder, refuse_from, refuse_all):
        self.folder = folder
        self.refuse_from = refuse_from
        self.refuse_all = refuse_all
        # The highest number taken by an earlier run in this folder.
        numbers = [int(m.group(1)) for m in
                   (re.fullmatch(r"(\d+)\.\w+", name)
                    for name in os.listdir(folder)) if m]
        self.count = max(numbers, default=0)

    async def handle_MAIL(self, server, session, envelope, address, options):
        if self.refuse_all:
            return "550 5.7.1 relaying denied"
        if self.refuse_from and address == self.refuse_from:
            return "550 sender refused"
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        raw = envelope.original_content or envelope.content
        message = email.message_from_bytes(raw, policy=email.policy.compat32)
        payload = message.get_payload(decode=True) or b""
        charset = message.get_content_charset() or "us-ascii"
        user, mechanism = getattr(session, "qlok_login", ("", ""))
        files = {
            ".eml": raw,
            ".envelope": "\n".join([
                envelope.mail_from or "", " ".join(envelope.rcpt_tos), user,
                mechanism
            ]).encode() + b"\n",
            ".subject": decoded(message.get("Subject", "")).encode(),
            ".from": decoded(message.get("From", "")).encode(),
            ".body": payload.decode(charset).encode(),
            ".done": b"",
        }
        for suffix, content in files.items():
            with open(base + suffix, "wb") as f:
                f.write(content)
        return "250 OK saved"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--login")
    parser.add_argument("--refuse-from")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--behave", default="accept",
                        choices=["accept", "refuse", "close", "silent"])
    args = parser.parse_args()
    # Plain-text AUTH is what the tests mean; keep stderr for real trouble.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)

    handler = Saver(args.folder, args.refuse_from, args.behave == "refuse")
    options = {}
    if args.login:
        user, password = args.login.encode().split(b":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            login = data.login if isinstance(data, LoginPassword) else b""
            with open(os.path.join(args.folder, "auth.log"), "a") as log:
                log.write("%s %s %s\n" % (mechanism, login.decode(
                    errors="replace"), "tls" if session.ssl else "plain"))
            ok = (isinstance(data, LoginPassword) and data.login == user
                  and data.password == password)
            if ok:
                session.qlok_login = (data.login.decode(), mechanism)
            return AuthResult(success=ok, handled=False)

        options = dict(authenticator=authenticator,
                       auth_required=True,
                       auth_require_tls=False,
                       auth_exclude_mechanism=["PLAIN"])
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(*args.tls)
        options["tls_context"] = context

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    if args.behave in ("close", "silent"):
        held = []

        async def client(reader, writer):
            if args.behave == "close":
                writer.close()
            else:
                held.append(writer)  # open, and never a word

        server = loop.run_until_complete(
            asyncio.start_server(client, sock=listener))
    else:
        server = loop.run_until_complete(
            loop.create_server(
                lambda: SMTP(handler, hostname="receiver.test", loop=loop,
                             **options),
                sock=listener))
    # Interrupted or terminated, it stops without a word.
    for signal_number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(signal_number, loop.stop)
    print("PORT", listener.getsockname()[1], flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    sys.exit(main())
