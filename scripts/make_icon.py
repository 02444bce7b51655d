#!/usr/bin/env python3
"""Renders the icon drawn by packaging/icon.py into a Windows .ico with 16, 32 and 48 pixel
images. Usage: make_icon.py OUT.ico [--preview OUT.png]

The icon is drawn at 192 pixels and scaled down to each size (smooth edges), then mapped onto the
icon's own 16-colour palette with a 1-bit transparency mask. The 16 and 32 pixel images are
4-bit bitmaps, which every Windows reads (2000 and XP read no PNG icon image); the 48 pixel one
is stored as PNG, which Windows reads from Vista on (XP scales the 32 pixel image instead). Both
choices keep the icon under 2 KB: slotward.exe, resources included, must stay within 17 KiB.
"""

import argparse
import os
import struct
import sys
import zlib

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packaging"))
import icon  # noqa: E402

SIZES = (16, 32, 48)
PNG_FROM = 48  # sizes from here on are stored as PNG
DRAWN_SCALE = 4  # the 48 x 48 grid drawn at 192 pixels


def render(size):
    """The icon at size pixels: (palette, palette index of each pixel row by row, opaque flag
    of each pixel)."""
    big = Image.new("RGBA", (48 * DRAWN_SCALE,) * 2, (0, 0, 0, 0))
    icon.draw(big, DRAWN_SCALE)
    small = big.resize((size, size), Image.LANCZOS)
    # Entry 0 stands for "transparent": it is black, so that a bitmap's colour pixel under a
    # set mask bit leaves the screen as it is, and a PNG marks it so with a one-byte tRNS.
    palette = [(0, 0, 0)] + list(icon.PALETTE)
    indices, opaque = [], []
    for r, g, b, a in small.getdata():
        opaque.append(a >= 128)
        nearest = min(range(1, len(palette)), key=lambda i: sum(
            (c - p) ** 2 for c, p in zip((r, g, b), palette[i])))
        indices.append(nearest if a >= 128 else 0)
    return palette, indices, opaque


def bitmap_entry(size, palette, indices, opaque):
    """A 4-bit icon bitmap: header (height doubled for the mask), palette, colour rows and mask
    rows, both bottom-up and padded to 4 bytes."""
    colour_row, mask_row = (size // 2 + 3) // 4 * 4, (size // 8 + 3) // 4 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         (colour_row + mask_row) * size, 0, 0, 0, 0)
    palette = palette + [(0, 0, 0)] * (16 - len(palette))
    colours = b"".join(struct.pack("<BBBx", b, g, r) for r, g, b in palette)
    pixels, mask = b"", b""
    for y in reversed(range(size)):
        row = indices[y * size:(y + 1) * size]
        pixels += bytes(row[x] << 4 | row[x + 1] for x in range(0, size, 2)).ljust(colour_row, b"\0")
        bits = 0
        for x in range(size):
            bits = bits << 1 | (0 if opaque[y * size + x] else 1)
        mask += bits.to_bytes(size // 8, "big").ljust(mask_row, b"\0")
    return header + colours + pixels + mask


def png_entry(size, palette, indices, opaque):
    """A 4-bit palette PNG with only the chunks Windows needs: a written-out palette of the
    colours the icon has and a one-entry transparency table."""

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data))

    rows = b"".join(b"\0" + bytes(indices[y * size + x] << 4 | indices[y * size + x + 1]
                                   for x in range(0, size, 2)) for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
            + chunk(b"PLTE", bytes(c for rgb in palette for c in rgb)) + chunk(b"tRNS", b"\0")
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def write_ico(path, entries):
    data = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(data) + 16 * len(entries)
    for size, blob in entries:
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, blob in entries)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--preview", help="also write the 48 pixel image, enlarged, as PNG")
    args = parser.parse_args()
    entries = []
    for size in SIZES:
        rendered = render(size)
        encode = png_entry if size >= PNG_FROM else bitmap_entry
        entries.append((size, encode(size, *rendered)))
    write_ico(args.out, entries)
    if args.preview:
        sheet = Image.new("RGBA", (16 + 32 + 48 + 40, 48), (255, 255, 255, 255))
        x = 10
        for size in SIZES:
            image = Image.open(args.out, formats=["ICO"]).ico.getimage((size, size))
            sheet.alpha_composite(image.convert("RGBA"), (x, 0))
            x += size + 10
        sheet.resize((sheet.width * 4, sheet.height * 4), Image.NEAREST).save(args.preview)
    return 0


if __name__ == "__main__":
    sys.exit(main())
