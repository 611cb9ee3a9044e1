"""Bitmap fonts and one-bit pictures read into arrays of pixels (numpy, uint8 0/1, rows x
columns): console fonts (PSF 1 and 2), X11 fonts (PCF), BDF fonts, PBM pictures and X11
bitmaps (XBM)."""
import gzip
import re
import struct

import numpy as np


def read_bytes(path):
    with open(path, "rb") as f:
        data = f.read()
    return gzip.decompress(data) if data[:2] == b"\x1f\x8b" else data


def unpack_rows(data, width, height, row_bytes, lsb_first=False):
    """A glyph of `height` rows of `row_bytes` bytes each, `width` pixels used, as an array."""
    raw = np.frombuffer(data, dtype=np.uint8, count=height * row_bytes).reshape(height, row_bytes)
    bits = np.unpackbits(raw, axis=1, bitorder="little" if lsb_first else "big")
    return bits[:, :width].copy()


def psf(path):
    """The glyphs of a console font."""
    d = read_bytes(path)
    if d[:2] == b"\x36\x04":
        height, count = d[3], (512 if d[2] & 1 else 256)
        return [unpack_rows(d[4 + i * height:], 8, height, 1) for i in range(count)]
    if d[:4] == b"\x72\xb5\x4a\x86":
        _, header, _, count, size, height, width = struct.unpack_from("<7I", d, 4)
        row = (width + 7) // 8
        return [unpack_rows(d[header + i * size:], width, height, row) for i in range(count)]
    return []


def pcf(path):
    """The glyphs of an X11 font, each as tall as its own ink box."""
    d = read_bytes(path)
    if d[:4] != b"\x01fcp":
        return []
    count, = struct.unpack_from("<I", d, 4)
    tables = {}
    for i in range(count):
        kind, fmt, size, offset = struct.unpack_from("<4I", d, 8 + 16 * i)
        tables[kind] = (fmt, offset)
    if 4 not in tables or 8 not in tables:
        return []
    fmt, at = tables[4]
    fmt, = struct.unpack_from("<I", d, at)
    e = ">" if fmt & 4 else "<"
    metrics = []
    if fmt & 0x100:
        n, = struct.unpack_from(e + "H", d, at + 4)
        for k in range(n):
            l, r, w, a, de = (x - 0x80 for x in d[at + 6 + 5 * k:at + 11 + 5 * k])
            metrics.append((r - l, a + de))
    else:
        n, = struct.unpack_from(e + "I", d, at + 4)
        for k in range(n):
            l, r, w, a, de, _ = struct.unpack_from(e + "6h", d, at + 8 + 12 * k)
            metrics.append((r - l, a + de))
    fmt, at = tables[8]
    fmt, = struct.unpack_from("<I", d, at)
    e = ">" if fmt & 4 else "<"
    n, = struct.unpack_from(e + "I", d, at + 4)
    offsets = struct.unpack_from(e + "%dI" % n, d, at + 8)
    sizes = struct.unpack_from(e + "4I", d, at + 8 + 4 * n)
    pad = 1 << (fmt & 3)
    unit = 1 << ((fmt >> 4) & 3)
    msb_bytes, msb_bits = bool(fmt & 4), bool(fmt & 8)
    data = d[at + 24 + 4 * n:at + 24 + 4 * n + sizes[fmt & 3]]
    glyphs = []
    for k in range(min(n, len(metrics))):
        width, height = metrics[k]
        if width <= 0 or height <= 0:
            continue
        row = (width + 7) // 8
        row = (row + pad - 1) // pad * pad
        raw = bytearray(data[offsets[k]:offsets[k] + row * height])
        if len(raw) < row * height:
            continue
        if not msb_bytes and unit > 1:
            for s in range(0, len(raw), unit):
                raw[s:s + unit] = raw[s:s + unit][::-1]
        glyphs.append(unpack_rows(bytes(raw), width, height, row, lsb_first=not msb_bits))
    return glyphs


def bdf(path):
    """The glyphs of a BDF font, each as tall as its own box."""
    text = read_bytes(path).decode("latin-1")
    glyphs = []
    for m in re.finditer(r"BBX\s+(\d+)\s+(\d+)[^\n]*\n(?:.*\n)*?BITMAP\s*\n(.*?)ENDCHAR", text, re.S):
        width, height = int(m.group(1)), int(m.group(2))
        rows = m.group(3).split()
        if width == 0 or height == 0 or len(rows) < height:
            continue
        try:
            raw = b"".join(bytes.fromhex(r) for r in rows[:height])
        except ValueError:
            continue
        row = len(raw) // height
        if row * 8 < width:
            continue
        glyphs.append(unpack_rows(raw, width, height, row))
    return glyphs


def pbm(path):
    """A PBM picture (plain or raw), 1 for black."""
    d = read_bytes(path)
    tokens = re.findall(rb"(?:#[^\n]*\n)|(\S+)", d[:200])
    words = [t for t in tokens if t][:3]
    if len(words) < 3 or words[0] not in (b"P1", b"P4"):
        return None
    width, height = int(words[1]), int(words[2])
    if words[0] == b"P4":
        header = re.match(rb"P4(?:\s|#[^\n]*\n)+\d+(?:\s|#[^\n]*\n)+\d+\s", d).end()
        return unpack_rows(d[header:], width, height, (width + 7) // 8)
    body = re.sub(rb"#[^\n]*\n", b"", d)
    digits = re.findall(rb"[01]", body.split(None, 3)[3])
    return np.array([int(x) for x in digits[:width * height]], dtype=np.uint8).reshape(height, width)


def xbm(path):
    """An X11 bitmap (C text): bit 0 of each byte is its leftmost pixel."""
    text = read_bytes(path).decode("latin-1")
    w = re.search(r"_width\s+(\d+)", text)
    h = re.search(r"_height\s+(\d+)", text)
    if not w or not h:
        return None
    width, height = int(w.group(1)), int(h.group(1))
    body = text[text.find("{"):]
    values = [int(v, 16) for v in re.findall(r"0[xX]([0-9a-fA-F]+)", body)]
    row = (width + 7) // 8
    if "short" in text[:text.find("{")]:  # 16-bit words, low byte first
        values = [b for v in values for b in (v & 0xFF, v >> 8)]
        row = (width + 15) // 16 * 2
    if len(values) < row * height:
        return None
    return unpack_rows(bytes(values[:row * height]), width, height, row, lsb_first=True)


def pack_rows(pixels, row_bytes=None, lsb_first=False):
    """Pixels back into bytes, rows padded to row_bytes (default: whole bytes)."""
    height, width = pixels.shape
    row_bytes = row_bytes or (width + 7) // 8
    padded = np.zeros((height, row_bytes * 8), dtype=np.uint8)
    padded[:, :width] = pixels
    return np.packbits(padded, axis=1, bitorder="little" if lsb_first else "big").tobytes()
