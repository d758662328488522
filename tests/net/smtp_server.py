"""SMTP server for the client tests: PLAIN, LOGIN and CRAM-MD5 without TLS.

Usage: smtp_server.py PORT OUTDIR. Each message is written to OUTDIR/N.eml
behind a few envelope lines and a blank line. Runs until terminated.
"""
import base64
import hashlib
import hmac
import os
import signal
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword

USER = b"tim"
PASSWORD = b"tanstaaftanstaaf"
CHALLENGE = b"<1896.697170952@postoffice.reston.mci.net>"


class Handler:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.outdir, "%d.eml" % self.count)
        with open(path + ".tmp", "wb") as f:
            f.write(b"MAILFROM " + envelope.mail_from.encode() + b"\n")
            for rcpt in envelope.rcpt_tos:
                f.write(b"RCPTTO " + rcpt.encode() + b"\n")
            f.write(b"AUTH " + str(session.authenticated).encode() + b"\n\n")
            f.write(envelope.original_content)
        os.rename(path + ".tmp", path)
        return "250 OK"

    async def auth_CRAM__MD5(self, server, args):
        response = await server.challenge_auth(CHALLENGE)
        if response is MISSING:
            return AuthResult(success=False, handled=False)
        user, _, digest = response.partition(b" ")
        expect = hmac.new(PASSWORD, CHALLENGE, hashlib.md5).hexdigest().encode()
        return AuthResult(success=(user == USER and digest == expect), handled=False, auth_data=user)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == USER and auth_data.password == PASSWORD
    return AuthResult(success=ok, handled=False)


def main():
    port, outdir = int(sys.argv[1]), sys.argv[2]
    controller = Controller(Handler(outdir), hostname="127.0.0.1", port=port, authenticator=authenticator,
                            auth_require_tls=False)
    controller.start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
