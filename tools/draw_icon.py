#!/usr/bin/env python3
"""Draws the product icon, ui/product.ico: one 32 x 32 image in 16 colours.

The picture is a sheet of paper with a quill across it. Rerun after editing
PICTURE; the .ico is committed so the build needs no Python.
"""
import struct
import sys

# The standard 16-colour palette (index: B, G, R).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128),
    (128, 0, 0), (128, 0, 128), (128, 128, 0), (192, 192, 192),
    (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
# Characters of the picture and their palette index; '.' is transparent.
COLOURS = {'K': 0, 'g': 8, 's': 7, 'W': 15, 'B': 4, 'b': 12, 'Y': 11, 'y': 3}

PICTURE = [
    "................................",
    "..........................bb....",
    ".........................bBb....",
    "........................bBBb....",
    ".......................bBBb.....",
    "....KKKKKKKKKKKKKKKKKKbBBbK.....",
    "....KWWWWWWWWWWWWWWWWbBBbgK.....",
    "....KWWWWWWWWWWWWWWWbBBbWgK.....",
    "....KWggggggggggggWbBBbWWgK.....",
    "....KWWWWWWWWWWWWWbBBbWWWgK.....",
    "....KWggggggggggWbBBbWWWWgK.....",
    "....KWWWWWWWWWWWbBBbWWWWWgK.....",
    "....KWggggggggWbBBbgggWWWgK.....",
    "....KWWWWWWWWWbBBbWWWWWWWgK.....",
    "....KWggggggWbBBbgggggWWWgK.....",
    "....KWWWWWWWbBBbWWWWWWWWWgK.....",
    "....KWggggWbBBbgggggggWWWgK.....",
    "....KWWWWWbBBbWWWWWWWWWWWgK.....",
    "....KWggWbBBbgggggggggWWWgK.....",
    "....KWWWbBBbWWWWWWWWWWWWWgK.....",
    "....KWWWbBbWWWWWWWWWWWWWWgK.....",
    "....KWWWYbWWWWWWWWWWWWWWWgK.....",
    "....KWWYyWWWWWWWWWWWWWWWWgK.....",
    "....KWWyWWWWWWWWWWWWWWWWWgK.....",
    "....KWWWWWWWWWWWWWWWWWWWWgK.....",
    "....KWWWWWWWWWWWWWWWWWWWWgK.....",
    "....KWWWWWWWWWWWWWWWWWWWWgK.....",
    "....KggggggggggggggggggggggK....",
    "....KKKKKKKKKKKKKKKKKKKKKKKK....",
    "................................",
    "................................",
    "................................",
]


def build():
    assert len(PICTURE) == 32 and all(len(row) == 32 for row in PICTURE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(PICTURE):  # bitmaps are stored bottom-up
        indices = [COLOURS.get(c, 0) for c in row]
        for x in range(0, 32, 2):
            xor.append(indices[x] << 4 | indices[x + 1])
        bits = 0
        for c in row:
            bits = bits << 1 | (1 if c == '.' else 0)
        mask += struct.pack('>I', bits)
    header = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (b, g, r) in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else 'ui/product.ico'
    with open(out, 'wb') as f:
        f.write(build())
