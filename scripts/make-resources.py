#!/usr/bin/env python3
"""Draws the plug-in's images into resources/ and the host's icons into host/ui/resources/icons/SIZE/
(PNG, animated GIF, ICO) with the standard library only.

Run again after changing a drawing: python3 scripts/make-resources.py
"""
import math
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
OUT = os.path.join(ROOT, "resources")
HOST_ICONS = os.path.join(ROOT, "host", "ui", "resources", "icons")
HOST_ICON_SIZES = (16, 24, 32, 48, 64)
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


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def warning_icon(size):
    """A rounded amber triangle with a dark exclamation mark."""
    def shade(x, y):
        u, v = x / size, y / size
        top, left, right = (0.5, 0.08), (0.04, 0.9), (0.96, 0.9)
        # inside the triangle: between the slanted edges and above the base
        inside = top[1] <= v <= left[1] and abs(u - 0.5) <= (v - top[1]) / (left[1] - top[1]) * 0.46
        border = min(segment_distance(u, v, *top, *left), segment_distance(u, v, *top, *right),
                     segment_distance(u, v, *left, *right))
        if not inside and border > 0.035:
            return (0, 0, 0, 0.0)
        bar = abs(u - 0.5) <= 0.055 and 0.33 <= v <= 0.64
        dot = math.hypot(u - 0.5, v - 0.76) <= 0.065
        if inside and (bar or dot):
            return (40, 36, 30, 1.0)
        return (230, 165, 20, 1.0)
    return render(size, size, shade)


def options_icon(size):
    """A grey gear: eight teeth round a ring."""
    def shade(x, y):
        u, v = x / size - 0.5, y / size - 0.5
        r = math.hypot(u, v)
        angle = math.atan2(v, u)
        tooth = 0.5 + 0.5 * math.cos(8 * angle)
        outer = 0.36 + 0.1 * (1 if tooth > 0.45 else 0)
        if r <= outer and r >= 0.14:
            return (*GREY, 1.0)
        return (0, 0, 0, 0.0)
    return render(size, size, shade)


def clear_icon(size):
    """A grey disc with a white cross: clears a field."""
    def shade(x, y):
        u, v = x / size - 0.5, y / size - 0.5
        if math.hypot(u, v) > 0.44:
            return (0, 0, 0, 0.0)
        on_cross = min(segment_distance(u, v, -0.18, -0.18, 0.18, 0.18),
                       segment_distance(u, v, -0.18, 0.18, 0.18, -0.18)) <= 0.06
        return (255, 255, 255, 1.0) if on_cross else (*GREY, 1.0)
    return render(size, size, shade)


def arrow_icon(size, down):
    """A small filled triangle pointing right (closed) or down (open)."""
    def shade(x, y):
        u, v = x / size - 0.5, y / size - 0.5
        if down:
            u, v = v, u
        inside = -0.2 <= u <= 0.22 and abs(v) <= (0.22 - u) * 0.75
        return (*GREY, 1.0) if inside else (0, 0, 0, 0.0)
    return render(size, size, shade)


HOST_ICONS_DRAWN = {
    "Warning.png": warning_icon,
    "IconOptions.png": options_icon,
    "ButtonClear.png": clear_icon,
    "ExpandClosed.png": lambda size: arrow_icon(size, False),
    "ExpandOpen.png": lambda size: arrow_icon(size, True),
}


def write(name, data, folder=None):
    folder = folder or OUT
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def write_host_icons():
    files = []
    for name, draw in HOST_ICONS_DRAWN.items():
        for size in HOST_ICON_SIZES:
            write(name, png_bytes(draw(size)), os.path.join(HOST_ICONS, str(size)))
            files.append(f"icons/{size}/{name}")
    entries = "\n".join(f"    <file>{f}</file>" for f in sorted(files))
    qrc = f"""<!DOCTYPE RCC>
<RCC version="1.0">
  <qresource prefix="/host">
{entries}
  </qresource>
</RCC>
"""
    with open(os.path.join(HOST_ICONS, "..", "host_icons.qrc"), "w") as f:
        f.write(qrc)


def main():
    os.makedirs(OUT, exist_ok=True)
    write("PlusIcon.png", png_bytes(plus_icon(16)))
    write("PreviewFailed.png", png_bytes(failed_image(200)))
    for name, size in (("PreviewLoading.gif", 64), ("PreviewLoadingTiny.gif", 24)):
        frames, palette = spinner_frames(size, 8)
        write(name, gif_bytes(frames, palette, 10))
    write("Logo.ico", ico_bytes([(16, png_bytes(logo(16))), (32, png_bytes(logo(32))), (48, png_bytes(logo(48)))]))
    write_host_icons()


if __name__ == "__main__":
    main()
