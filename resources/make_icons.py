#!/usr/bin/env python3
"""Draws Pixmora's icons and writes them as .ico files (standard library only).

pixmora.ico: a small photo frame (wooden border, a landscape inside) at
16, 32 and 48 pixels. Run from anywhere; the files land beside this script.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def ico_bytes(images):
    """images: list of (size, pixels) with pixels[y][x] = (r, g, b, a), top row first."""
    header = struct.pack('<HHH', 0, 1, len(images))
    entries = b''
    blobs = b''
    offset = 6 + 16 * len(images)
    for size, px in images:
        xor = b''
        for y in range(size - 1, -1, -1):  # bottom row first
            for x in range(size):
                r, g, b, a = px[y][x]
                xor += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        andmask = b''
        for y in range(size - 1, -1, -1):
            row = bytearray(mask_stride)
            for x in range(size):
                if px[y][x][3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            andmask += bytes(row)
        bih = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                          len(xor) + len(andmask), 0, 0, 0, 0)
        blob = bih + xor + andmask
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32,
                               len(blob), offset)
        offset += len(blob)
        blobs += blob
    return header + entries + blobs


def photo_frame(size):
    wood_dark = (92, 54, 24, 255)
    wood = (160, 102, 48, 255)
    sky = (110, 170, 235, 255)
    hill = (60, 150, 70, 255)
    hill2 = (40, 115, 55, 255)
    sun = (250, 210, 60, 255)
    border = max(2, size // 8)
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            edge = min(x, y, size - 1 - x, size - 1 - y)
            if edge == 0:
                c = wood_dark
            elif edge < border - 1:
                c = wood
            elif edge == border - 1:
                c = wood_dark
            else:
                # inside: sky, a sun at upper right, two hills
                u = (x - border) / (size - 2 * border)
                v = (y - border) / (size - 2 * border)
                c = sky
                if (u - 0.72) ** 2 + (v - 0.28) ** 2 < 0.025:
                    c = sun
                if v > 0.62 + 0.18 * (u - 0.35) ** 2 * 4 - 0.1:
                    c = hill
                if v > 0.80 - 0.25 * u:
                    c = hill2
            px[y][x] = c
    return px


def main():
    images = [(s, photo_frame(s)) for s in (16, 32, 48)]
    with open(os.path.join(HERE, 'pixmora.ico'), 'wb') as f:
        f.write(ico_bytes(images))


if __name__ == '__main__':
    main()
