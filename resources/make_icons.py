#!/usr/bin/env python3
"""Draws Pixmora's icons and writes them as .ico files (standard library only).

pixmora.ico: a small photo frame (wooden border, a landscape inside) at
16, 32 and 48 pixels.
hand_open.ico: the crop tool's open hand, 32 x 32, 256 colours.
hand_grab.cur: the crop tool's closed, grabbing hand, 32 x 32, 16 colours,
hot spot (16, 14).
Run from anywhere; the files land beside this script.
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


def capsule(px, py, ax, ay, bx, by, r):
    """True when (px, py) lies within r of the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = 0.0 if dx == dy == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def hand_mask(closed):
    """Shape of a right hand seen from the back, as a set of parts."""
    parts = []
    # palm
    parts.append(lambda x, y: 8 <= x <= 25 and 15 <= y <= 27 and not (
        (x, y) in ((8, 27), (25, 27), (8, 15), (25, 15))))
    if closed:
        # curled fingers: four knuckles over the palm
        for cx in (9.5, 14, 18.5, 23):
            parts.append(lambda x, y, cx=cx: capsule(x, y, cx, 12, cx, 16, 2.3))
        parts.append(lambda x, y: capsule(x, y, 9, 24, 6, 18, 2.2))  # thumb tucked in
        parts.append(lambda x, y: capsule(x, y, 12, 28, 22, 28, 2.0))  # wrist edge
    else:
        tips = ((9.5, 5), (14, 3), (18.5, 4), (23, 8))
        for cx, top in tips:
            parts.append(lambda x, y, cx=cx, top=top: capsule(x, y, cx, top + 2, cx, 16, 2.0))
        parts.append(lambda x, y: capsule(x, y, 8, 23, 3, 15, 2.2))  # thumb spread out
        parts.append(lambda x, y: capsule(x, y, 12, 28, 22, 28, 2.0))
    return parts


def draw_hand(closed):
    """pixels[y][x]: None (transparent), 0 (black outline) or 1 (white)."""
    parts = hand_mask(closed)
    inside = [[any(p(x, y) for p in parts) for x in range(32)] for y in range(32)]
    owner = [[next((i for i, p in enumerate(parts) if p(x, y)), -1) for x in range(32)]
             for y in range(32)]
    px = [[None] * 32 for _ in range(32)]
    for y in range(32):
        for x in range(32):
            if not inside[y][x]:
                continue
            edge = False
            for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
                if not (0 <= nx < 32 and 0 <= ny < 32) or not inside[ny][nx]:
                    edge = True
                # a line between neighbouring fingers, above the palm
                elif owner[ny][nx] != owner[y][x] and owner[y][x] > 0 and owner[ny][nx] > 0 \
                        and x < nx:
                    edge = True
            px[y][x] = 0 if edge else 1
    return px


def paletted_image(px, bits):
    """One 32 x 32 BMP-in-ICO image with a palette: black, white, rest black."""
    size = 32
    colours = 1 << bits
    palette = bytes((0, 0, 0, 0)) + bytes((255, 255, 255, 0)) + bytes(4 * (colours - 2))
    stride = ((size * bits + 31) // 32) * 4
    xor = b''
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            v = px[y][x] or 0
            if bits == 8:
                row[x] = v
            else:
                row[x // 2] |= v << (4 if x % 2 == 0 else 0)
        xor += bytes(row)
    mask_stride = 4
    andmask = b''
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        andmask += bytes(row)
    bih = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                      len(xor) + len(andmask), 0, 0, colours, 0)
    return bih + palette + xor + andmask


def icon_file(blob, bits, kind, hotspot=(0, 0)):
    """A one-image .ico (kind 1) or .cur (kind 2)."""
    colours = (1 << bits) % 256
    if kind == 1:
        planes, bitcount = 1, bits
    else:
        planes, bitcount = hotspot
    header = struct.pack('<HHH', 0, kind, 1)
    entry = struct.pack('<BBBBHHII', 32, 32, colours, 0, planes, bitcount, len(blob), 6 + 16)
    return header + entry + blob


def main():
    images = [(s, photo_frame(s)) for s in (16, 32, 48)]
    with open(os.path.join(HERE, 'pixmora.ico'), 'wb') as f:
        f.write(ico_bytes(images))
    with open(os.path.join(HERE, 'hand_open.ico'), 'wb') as f:
        f.write(icon_file(paletted_image(draw_hand(False), 8), 8, 1))
    with open(os.path.join(HERE, 'hand_grab.cur'), 'wb') as f:
        f.write(icon_file(paletted_image(draw_hand(True), 4), 4, 2, (16, 14)))
    for name, closed in (('open', False), ('grab', True)):
        print(name)
        for row in draw_hand(closed):
            print(''.join('.' if v is None else ('#' if v == 0 else 'o') for v in row))


if __name__ == '__main__':
    main()
