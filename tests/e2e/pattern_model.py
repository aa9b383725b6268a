"""What the pattern window must show, computed independently of the program: the gamma table in the
precisions the tool uses, the seam grid, and the image of field and edges; and the seam file's bytes."""

import math
import struct


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def gamma_table(gamma):
    e = f32(1.0 / f32(gamma))
    if e == 1.0:
        return list(range(256))
    table = [0]
    for i in range(1, 256):
        base = f32(f32(i) / 255.0)
        p = math.pow(base, e)
        v = f32(f32(p) * 255.0)
        t = math.trunc(v)
        table.append(min(255, t + 1 if f32(v - t) > 0.5 else t))
    return table


def grid(width, height, mw, mh):
    """The seam grid: (x0, y0, x1, y1) per record, in grid order."""
    cols, rows = width // mw, height // mh
    top, bottom, left, right = [], [], [], []
    for r in range(rows):
        for c in range(cols):
            top.append((c * mw, r * mh, (c + 1) * mw - 1, r * mh))
            bottom.append((c * mw, (r + 1) * mh - 1, (c + 1) * mw - 1, (r + 1) * mh - 1))
            left.append((c * mw, r * mh, c * mw, (r + 1) * mh - 1))
            right.append(((c + 1) * mw - 1, r * mh, (c + 1) * mw - 1, (r + 1) * mh - 1))
    return top + bottom + left + right


def line_level(table, gray, gain):
    product = f32(f32(gray) * f32(gain))
    return table[0 if not product > 0 else min(255, math.trunc(product))]


def step_key(gain, up=True):
    """One "Z" (or "X") press: double precision, stored as float, no snapping."""
    if up:
        return f32(gain + 0.005) if 1.4 > gain else gain
    return f32(gain - 0.005) if gain > 0.7 else gain


def step_wheel(gain, up=True):
    if up:
        return f32(gain + f32(0.005)) if f32(1.4) > gain else f32(1.4)
    return f32(gain - f32(0.005)) if gain > f32(0.7) else f32(0.7)


def image(width, height, segments, gains, gray, table):
    """Levels of every client pixel: the field, then each line up to (not including) its end point."""
    field = table[min(gray, 255)]
    pixels = bytearray([field]) * (width * height)
    for (x0, y0, x1, y1), gain in zip(segments, gains):
        level = line_level(table, gray, gain)
        if y0 == y1:
            for x in range(x0, x1):
                pixels[y0 * width + x] = level
        else:
            for y in range(y0, y1):
                pixels[y * width + x0] = level
    return pixels


def seam_header(w, h, mw, mh, x=0, y=0, bw=0, bh=0, gray=128, gamma=2.2):
    """The 48-byte seam-file header: nine little-endian int32, four zero bytes, the gamma as a double."""
    return struct.pack("<9i4xd", w, h, x, y, bw, bh, mw, mh, gray, gamma)


def seam_record(x0, y0, x1, y1, selected, horizontal, gain):
    return struct.pack("<6if", x0, y0, x1, y1, selected, horizontal, gain)


def seam_records(segments, gains, selected=()):
    """Records of a grid in grid order; the first half (top and bottom edges) runs along rows."""
    half = len(segments) // 2
    return b"".join(seam_record(x0, y0, x1, y1, 1 if i in selected else 0, 1 if i < half else 0, g)
                    for i, ((x0, y0, x1, y1), g) in enumerate(zip(segments, gains)))


def read_seam_file(data):
    """(header fields, records) of a seam file, records as (x0, y0, x1, y1, selected, horizontal, gain)."""
    header = struct.unpack("<9i4xd", data[:48])
    records = [struct.unpack("<6if", data[48 + 28 * i:76 + 28 * i]) for i in range((len(data) - 48) // 28)]
    return header, records
