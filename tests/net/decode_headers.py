"""Prints header values of a stored message as Python's email package decodes them.

Usage: decode_headers.py EML NAME... : EML holds envelope lines, a blank line and
the message. One line per NAME (UTF-8): the decoded value, or for an address
header "display name|address" per address, joined by "; ". Exits non-zero when
the header section holds a byte outside ASCII.
"""
import email
import email.policy
import sys


def main():
    raw = open(sys.argv[1], "rb").read().split(b"\n\n", 1)[1]
    head = raw.split(b"\r\n\r\n", 1)[0]
    if any(b > 127 for b in head):
        print("header holds bytes outside ASCII", file=sys.stderr)
        sys.exit(1)
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    out = []
    for name in sys.argv[2:]:
        value = msg[name]
        if value is None:
            out.append("")
        elif getattr(value, "addresses", None):
            out.append("; ".join("%s|%s" % (a.display_name, a.addr_spec) for a in value.addresses))
        else:
            out.append(str(value))
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


if __name__ == "__main__":
    main()
