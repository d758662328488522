"""Checks a stored message with Python's email package.

Usage: check_mail.py EML TEXT ATTACHMENT... : the text part must equal TEXT
(line ends normalised) and the attachments must decode to the given files,
in order. Prints what differs and exits non-zero on a mismatch.
"""
import email
import email.policy
import sys


def main():
    eml, text, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    raw = open(eml, "rb").read()
    raw = raw.split(b"\n\n", 1)[1]  # envelope lines written by the test server
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    parts = [p for p in msg.walk() if not p.is_multipart()]
    body = parts[0].get_payload(decode=True).decode("latin-1").replace("\r\n", "\n").rstrip("\n")
    want = open(text, "rb").read().decode("latin-1").replace("\r\n", "\n").rstrip("\n")
    ok = True
    if body != want:
        print("text differs:", repr(body[:200]), repr(want[:200]))
        ok = False
    attachments = parts[1:]
    if len(attachments) != len(files):
        print("attachments:", len(attachments), "expected", len(files))
        ok = False
    for part, path in zip(attachments, files):
        if part.get_payload(decode=True) != open(path, "rb").read():
            print("attachment differs:", path)
            ok = False
        if part.get_filename() != path.rsplit("/", 1)[-1]:
            print("file name differs:", part.get_filename())
            ok = False
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
