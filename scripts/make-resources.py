#!/usr/bin/env python3
"""Draws the plug-in's images into resources/ (PNG, animated GIF, ICO) with the standard library only.

Run again after changing a drawing: python3 scripts/make-resources.py
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
SUPERSAMPLE = 4


def render(width, height, shade):
    """RGBA rows; shade(x, y) gives (r, g, b, a) with a in 0..1 at a sub-pixel position."""
    rows = []
    n = SUPERSAMPLE
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = shade(x + (sx + 0.5) / n, y + (sy + 0.5) / n)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] > 0:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(alpha * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png_bytes(rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def lzw(indices, min_code_size):
    """GIF flavoured LZW: variable code width, little-endian bit packing, clear code when full."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    table = {(i,): i for i in range(clear)}
    next_code, width = end + 1, min_code_size + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    emit(clear)
    prefix = ()
    for value in indices:
        candidate = prefix + (value,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix])
        if next_code < 4096:
            table[candidate] = next_code
            if next_code == (1 << width) and width < 12:
                width += 1
            next_code += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code, width = end + 1, min_code_size + 1
        prefix = (value,)
    if prefix:
        emit(table[prefix])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def gif_bytes(frames, palette, delay_cs):
    """frames: rows of palette indices; index 0 is transparent. Loops forever."""
    height, width = len(frames[0]), len(frames[0][0])
    size_bits = max(1, math.ceil(math.log2(len(palette))))
    table = b"".join(bytes(c) for c in palette) + b"\x00\x00\x00" * ((1 << size_bits) - len(palette))
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | (size_bits - 1), 0, 0) + table
    data += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    min_code = max(2, size_bits)
    for frame in frames:
        data += b"\x21\xf9\x04" + struct.pack("<BHBB", 0x09, delay_cs, 0, 0)  # restore background, transparent 0
        data += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        encoded = lzw([v for row in frame for v in row], min_code)
        data += bytes([min_code])
        for i in range(0, len(encoded), 255):
            block = encoded[i:i + 255]
            data += bytes([len(block)]) + block
        data += b"\x00"
    return data + b"\x3b"


def ico_bytes(pngs):
    """An ICO file holding PNG images (each a (size, bytes) pair)."""
    header = struct.pack("<HHH", 0, 1, len(pngs))
    offset = 6 + 16 * len(pngs)
    entries, blobs = b"", b""
    for size, blob in pngs:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return header + entries + blobs


def clamp01(v):
    return max(0.0, min(1.0, v))


ACCENT = (38, 120, 190)
GREY = (120, 128, 136)


def plus_icon(size):
    def shade(x, y):
        c, half, arm = size / 2, size * 0.09, size * 0.36
        inside = (abs(x - c) <= half and abs(y - c) <= arm) or (abs(y - c) <= half and abs(x - c) <= arm)
        return (*ACCENT, 1.0) if inside else (0, 0, 0, 0.0)
    return render(size, size, shade)


def failed_image(size):
    """A framed picture with a diagonal stroke: nothing could be shown."""
    def shade(x, y):
        c = size / 2
        frame_half, stroke = size * 0.30, size * 0.025
        d = max(abs(x - c), abs(y - c) * 1.25)
        on_frame = abs(d - frame_half) <= stroke
        inside = d < frame_half
        on_mountain = inside and y > c + size * 0.12 - 0.6 * abs(x - c + size * 0.05) + size * 0.02
        on_slash = abs((x - c) + (y - c)) / math.sqrt(2) <= stroke and abs(x - c) <= size * 0.36
        if on_slash:
            return (190, 60, 50, 1.0)
        if on_frame:
            return (*GREY, 1.0)
        if on_mountain and y < c + frame_half / 1.25:
            return (170, 176, 182, 1.0)
        if inside:
            return (236, 238, 240, 1.0)
        return (0, 0, 0, 0.0)
    return render(size, size, shade)


def spinner_frames(size, count):
    """Eight dots on a ring; the bright one walks round. Palette: 0 transparent, 1..4 shades."""
    palette = [(255, 255, 255), (216, 222, 228), (168, 186, 204), (104, 146, 190), ACCENT]
    frames = []
    dots = 8
    for step in range(count):
        def index(x, y):
            c, ring, radius = size / 2, size * 0.34, size * 0.09
            for k in range(dots):
                angle = 2 * math.pi * k / dots - math.pi / 2
                if math.hypot(x - (c + ring * math.cos(angle)), y - (c + ring * math.sin(angle))) <= radius:
                    age = (step - k) % dots
                    return max(1, 4 - age)
            return 0
        frames.append([[index(x + 0.5, y + 0.5) for x in range(size)] for y in range(size)])
    return frames, palette


def logo(size):
    """A ring with a bar through it: the plug-in's mark."""
    def shade(x, y):
        c = size / 2
        r = math.hypot(x - c, y - c)
        if abs(r - size * 0.34) <= size * 0.09:
            return (*ACCENT, 1.0)
        if abs(y - c) <= size * 0.07 and abs(x - c) <= size * 0.2:
            return (230, 140, 40, 1.0)
        return (0, 0, 0, 0.0)
    return render(size, size, shade)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    write("PlusIcon.png", png_bytes(plus_icon(16)))
    write("PreviewFailed.png", png_bytes(failed_image(200)))
    for name, size in (("PreviewLoading.gif", 64), ("PreviewLoadingTiny.gif", 24)):
        frames, palette = spinner_frames(size, 8)
        write(name, gif_bytes(frames, palette, 10))
    write("Logo.ico", ico_bytes([(16, png_bytes(logo(16))), (32, png_bytes(logo(32))), (48, png_bytes(logo(48)))]))


if __name__ == "__main__":
    main()
