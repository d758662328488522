#!/usr/bin/env python3
"""Writes the five 16 x 13 drive pictures of the drive chooser as PNG files.

Each picture is drawn on the key colour (olive), which the chooser takes from
the bottom-left pixel and leaves transparent. Run from this folder.
"""
import struct
import zlib

PALETTE = {
    '.': (0x80, 0x80, 0x00),  # key colour, transparent when drawn
    'k': (0x00, 0x00, 0x00),
    'd': (0x80, 0x80, 0x80),
    'g': (0xC0, 0xC0, 0xC0),
    'w': (0xFF, 0xFF, 0xFF),
    'G': (0x00, 0xC0, 0x00),
    'c': (0xA0, 0xE0, 0xFF),
    'b': (0x00, 0x00, 0xC0),
    'y': (0xFF, 0xE0, 0x00),
}

PICTURES = {
    'floppy': [
        '................',
        '................',
        '..kkkkkkkkkkkk..',
        '.kwwwwwwwwwwwgk.',
        '.kwggggggggggdk.',
        '.kwgkkkkkkkkgdk.',
        '.kwggggggggggdk.',
        '.kwgggggggggGdk.',
        '.kwggggggggggdk.',
        '.kgdddddddddddk.',
        '..kkkkkkkkkkkk..',
        '................',
        '................',
    ],
    'hard': [
        '................',
        '................',
        '................',
        '..kkkkkkkkkkkk..',
        '.kwwwwwwwwwwwgk.',
        '.kwggggggggggdk.',
        '.kwggggggggggdk.',
        '.kwggggggggGGdk.',
        '.kwggggggggggdk.',
        '.kgdddddddddddk.',
        '..kkkkkkkkkkkk..',
        '................',
        '................',
    ],
    'network': [
        '................',
        '..kkkkkkkkkkkk..',
        '.kwwwwwwwwwwwgk.',
        '.kwggggggggggdk.',
        '.kwggggggggGGdk.',
        '.kgdddddddddddk.',
        '..kkkkkkkkkkkk..',
        '.......kk.......',
        '.......kk.......',
        '..kkkkkkkkkkkk..',
        '..bb........bb..',
        '..bb........bb..',
        '................',
    ],
    'cdrom': [
        '....kkkkkkkk....',
        '...kcwwwwwccck..',
        '..kkkkkkkkkkkkk.',
        '.kwwwwwwwwwwwgk.',
        '.kwggggggggggdk.',
        '.kwgkkkkkkkkgdk.',
        '.kwggggggggggdk.',
        '.kwgggggggggydk.',
        '.kwggggggggggdk.',
        '.kgdddddddddddk.',
        '..kkkkkkkkkkkk..',
        '................',
        '................',
    ],
    'ram': [
        '................',
        '................',
        '...k.k.k.k.k.k..',
        '..kkkkkkkkkkkkk.',
        '..kdddddddddddk.',
        '..kdyyyyyyyyydk.',
        '..kdyyyyyyyyydk.',
        '..kdddddddddddk.',
        '..kkkkkkkkkkkkk.',
        '...k.k.k.k.k.k..',
        '................',
        '................',
        '................',
    ],
}


def png(rows):
    assert len(rows) == 13 and all(len(r) == 16 for r in rows), rows
    raw = b''.join(b'\0' + bytes(v for ch in row for v in PALETTE[ch]) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack('>IIBBBBB', 16, 13, 8, 2, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


for name, rows in PICTURES.items():
    with open(name + '.png', 'wb') as f:
        f.write(png(rows))
