#!/usr/bin/env python3
"""Draws the program's icon and link cursor as pixel art and writes them as
Windows .ico and .cur files (standard library only).

    tools/make_art.py [--preview DIR]

writes shell/res/app.ico (32x32 and 16x16, 16 colours) and shell/res/hand.cur
(32x32 monochrome, hot spot at column 12, row 1); --preview also writes
enlarged PNGs to look at.
"""

import argparse
import pathlib
import struct
import zlib

# The 16-colour system palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Characters of the drawings: '.' transparent, the rest palette indexes.
ICON_KEYS = {
    'k': 0,   # black outline
    'r': 1,   # dark red: the chest's wood in shadow
    'o': 3,   # olive: the wood
    's': 7,   # silver: the sheet's shade
    'g': 8,   # grey: lines on the sheet
    'y': 11,  # yellow: bands and lock
    'w': 15,  # white: the sheet
}

# A chest with a table sheet sticking out of it: an items database turned
# into text tables.
ICON_32 = """
................................
................................
..........kkkkkkkkkkkkk.........
..........kwwwwwwwwwwwk.........
..........kwgggwgggggwk.........
..........kwwwwwwwwwwwk.........
..........kwgggwggggwwk.........
..........kwwwwwwwwwwwk.........
....kkkkkkkwgggwgggggwkkkkkkk...
...koooooookwwwwwwwwwwkoooooook.
..koooooooookwwwwwwwwwkooooooook
..kyyyyyyyyyykkkkkkkkkkyyyyyyyyk
..kooyoooooooooooooooooooooyoook
..krryrrrrrrrrrrrrrrrrrrrrryrrrk
..kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
..kooyoooooooookyyyykooooooyoook
..kooyoooooooookykkykooooooyoook
..kooyoooooooookykkykooooooyoook
..kooyoooooooookyykykooooooyoook
..kooyooooooooookyykoooooooyoook
..kooyoooooooooookkooooooooyoook
..kooyoooooooooooooooooooooyoook
..kooyoooooooooooooooooooooyoook
..kooyoooooooooooooooooooooyoook
..krryrrrrrrrrrrrrrrrrrrrrryrrrk
..krryrrrrrrrrrrrrrrrrrrrrryrrrk
..kyyyyyyyyyyyyyyyyyyyyyyyyyyyyk
..kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
...kk......................kk...
................................
................................
................................
"""

ICON_16 = """
................
.....kkkkkkk....
.....kwwwwwk....
.....kwggwwk....
..kkkkwwwwwkkkk.
.kooookwwwkoook.
.kyyyyykkkkyyyk.
.kkkkkkkkkkkkkk.
.koyooookyyoyok.
.koyooookkkoyok.
.koyoooooooooyk.
.krrrrrrrrrrrrk.
.kyyyyyyyyyyyyk.
.kkkkkkkkkkkkkk.
..k..........k..
................
"""

# A pointing hand, the tip of the forefinger on the hot spot (12, 1).
# 'B' black, 'W' white, '.' transparent.
HAND = """
................................
............BB..................
...........BWWB.................
...........BWWB.................
...........BWWB.................
...........BWWB.................
...........BWWBBB...............
...........BWWBWWBBB............
...........BWWBWWBWWBBB.........
...........BWWBWWBWWBWWB........
.......BB..BWWBWWBWWBWWB........
......BWWB.BWWWWWWWWWWWB........
......BWWWBBWWWWWWWWWWWB........
.......BWWWBWWWWWWWWWWWB........
........BWWWWWWWWWWWWWWB........
........BWWWWWWWWWWWWWWB........
.........BWWWWWWWWWWWWWB........
.........BWWWWWWWWWWWWB.........
..........BWWWWWWWWWWWB.........
..........BWWWWWWWWWWB..........
...........BWWWWWWWWWB..........
...........BWWWWWWWWWB..........
...........BBBBBBBBBBB..........
................................
................................
................................
................................
................................
................................
................................
................................
................................
"""
HOT_SPOT = (12, 1)


def rows(drawing, size):
    lines = [line for line in drawing.strip('\n').split('\n')]
    if len(lines) != size or any(len(line) != size for line in lines):
        raise ValueError(f'a {size}x{size} drawing has lines of lengths {[len(l) for l in lines]}')
    return lines


def padded(data, unit=4):
    return data + b'\0' * (-len(data) % unit)


def bitmap_header(size, bits):
    # Height counts the colour bitmap and the mask together.
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)


def and_mask(lines, size):
    """1 where the picture is transparent; rows bottom-up, each padded to 4 bytes."""
    out = b''
    for line in reversed(lines):
        row = bytearray(size // 8)
        for x, ch in enumerate(line):
            if ch == '.':
                row[x // 8] |= 0x80 >> (x % 8)
        out += padded(bytes(row))
    return out


def icon_image(drawing, size):
    lines = rows(drawing, size)
    pixels = b''
    for line in reversed(lines):
        row = bytearray(size // 2)
        for x, ch in enumerate(line):
            index = 0 if ch == '.' else ICON_KEYS[ch]
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += padded(bytes(row))
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return bitmap_header(size, 4) + palette + pixels + and_mask(lines, size)


def cursor_image(drawing, size):
    lines = rows(drawing, size)
    pixels = b''
    for line in reversed(lines):
        row = bytearray(size // 8)
        for x, ch in enumerate(line):
            if ch == 'W':
                row[x // 8] |= 0x80 >> (x % 8)
        pixels += padded(bytes(row))
    palette = struct.pack('<BBBBBBBB', 0, 0, 0, 0, 255, 255, 255, 0)
    return bitmap_header(size, 1) + palette + pixels + and_mask(lines, size)


def directory(kind, entries):
    """kind 1 icon, 2 cursor; entries are (size, colours, field1, field2, image)."""
    head = struct.pack('<HHH', 0, kind, len(entries))
    offset = len(head) + 16 * len(entries)
    table, images = b'', b''
    for size, colours, field1, field2, image in entries:
        table += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, field1, field2, len(image),
                             offset + len(images))
        images += image
    return head + table + images


def make_icon():
    # For icons the two fields are planes and bits per pixel.
    return directory(1, [(32, 16, 1, 4, icon_image(ICON_32, 32)), (16, 16, 1, 4, icon_image(ICON_16, 16))])


def make_cursor():
    # For cursors they are the hot spot.
    return directory(2, [(32, 2, HOT_SPOT[0], HOT_SPOT[1], cursor_image(HAND, 32))])


def write_png(path, lines, colour_of, scale):
    height, width = len(lines) * scale, len(lines[0]) * scale
    raw = b''
    for line in lines:
        row = b'\0' + b''.join(bytes(colour_of(ch)) * scale for ch in line)
        raw += row * scale
    chunk = lambda tag, data: (struct.pack('>I', len(data)) + tag + data +
                               struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
    path.write_bytes(png)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--preview', type=pathlib.Path, help='also write enlarged PNGs to this folder')
    args = parser.parse_args()
    out = pathlib.Path(__file__).resolve().parent.parent / 'shell' / 'res'
    out.mkdir(parents=True, exist_ok=True)
    (out / 'app.ico').write_bytes(make_icon())
    (out / 'hand.cur').write_bytes(make_cursor())
    if args.preview:
        args.preview.mkdir(parents=True, exist_ok=True)
        backdrop = (0x40, 0x80, 0x80)
        icon_colour = lambda ch: backdrop if ch == '.' else PALETTE[ICON_KEYS[ch]]
        hand_colour = lambda ch: {'.': backdrop, 'B': (0, 0, 0), 'W': (255, 255, 255)}[ch]
        write_png(args.preview / 'app32.png', rows(ICON_32, 32), icon_colour, 8)
        write_png(args.preview / 'app16.png', rows(ICON_16, 16), icon_colour, 16)
        write_png(args.preview / 'hand.png', rows(HAND, 32), hand_colour, 8)


if __name__ == '__main__':
    main()
