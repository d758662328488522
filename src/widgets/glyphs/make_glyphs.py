#!/usr/bin/env python3
"""Writes the glyphs of the date edit and the calendar, and the two hand
cursors, as PNG files. Run from this folder.

Glyphs are drawn on magenta, which the buttons leave transparent; the cursors
have an alpha channel ('.' transparent).
"""
import struct
import zlib

PALETTE = {
    '.': (0xFF, 0x00, 0xFF, 0xFF),  # the buttons' transparent colour
    'k': (0x00, 0x00, 0x00, 0xFF),
    'd': (0x80, 0x80, 0x80, 0xFF),
    'g': (0xC0, 0xC0, 0xC0, 0xFF),
    'w': (0xFF, 0xFF, 0xFF, 0xFF),
    'r': (0xC0, 0x00, 0x00, 0xFF),
    'b': (0x00, 0x00, 0x80, 0xFF),
}
CURSOR_PALETTE = dict(PALETTE)
CURSOR_PALETTE['.'] = (0, 0, 0, 0)

# A calendar sheet, then the same in grey for the disabled button.
DATE = [
    'kkkkkkkkkkkk..',
    'krrrrrrrrrrk..',
    'kkkkkkkkkkkk..',
    'kwwwwwwwwwwk..',
    'kwkwkwkwkwwk..',
    'kwwwwwwwwwwk..',
    'kwkwkwkwkwwk..',
    'kwwwwwwwwwwk..',
    'kwkwkwkwkwwk..',
    'kwwwwwwwwwwk..',
    'kkkkkkkkkkkk..',
    '..............',
]
DATE_DISABLED = [row.replace('k', 'd').replace('r', 'd').replace('w', 'g') for row in DATE]

PREV1 = [
    '....k...',
    '...kk...',
    '..kkk...',
    '..kkk...',
    '...kk...',
    '....k...',
]
PREV2 = [
    '..k...k.',
    '.kk..kk.',
    'kkk.kkk.',
    'kkk.kkk.',
    '.kk..kk.',
    '..k...k.',
]

HAND = [
    '.....kk.........',
    '....kwwk........',
    '....kwwk........',
    '....kwwk........',
    '....kwwkkk......',
    '....kwwkwwkkk...',
    '.kk.kwwkwwkwwkk.',
    'kwwkkwwwwwwwwwwk',
    'kwwwkwwwwwwwwwwk',
    '.kwwwwwwwwwwwwwk',
    '..kwwwwwwwwwwwwk',
    '..kwwwwwwwwwwwk.',
    '...kwwwwwwwwwwk.',
    '....kwwwwwwwwk..',
    '....kwwwwwwwwk..',
    '....kkkkkkkkkk..',
]
DRAG = [
    '................',
    '................',
    '................',
    '................',
    '.....kk.kk.kk...',
    '....kwwkwwkwwkk.',
    '....kwwwwwwwwwwk',
    '..kkkwwwwwwwwwwk',
    '.kwwkwwwwwwwwwwk',
    '.kwwwwwwwwwwwwwk',
    '..kwwwwwwwwwwwwk',
    '..kwwwwwwwwwwwk.',
    '...kwwwwwwwwwwk.',
    '....kwwwwwwwwk..',
    '....kwwwwwwwwk..',
    '....kkkkkkkkkk..',
]


def mirror(rows):
    return [row[::-1] for row in rows]


def png(rows, palette):
    width, height = len(rows[0]), len(rows)
    assert all(len(r) == width for r in rows), rows
    raw = b''.join(b'\0' + bytes(v for ch in row for v in palette[ch]) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


GLYPHS = {
    'DEDITBMP': [a + b for a, b in zip(DATE, DATE_DISABLED)],
    'PREV1': PREV1,
    'PREV2': PREV2,
    'NEXT1': mirror(PREV1),
    'NEXT2': mirror(PREV2),
}
CURSORS = {'EX_HANDCUR': HAND, 'EX_DRAGCUR': DRAG}

for name, rows in GLYPHS.items():
    with open(name + '.png', 'wb') as f:
        f.write(png(rows, PALETTE))
for name, rows in CURSORS.items():
    with open(name + '.png', 'wb') as f:
        f.write(png(rows, CURSOR_PALETTE))
