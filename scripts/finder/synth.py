"""Graphics made from real fonts and pictures, arranged as programs and ROMs store them, and set
inside real bytes that hold none: the labelled positives of the finder's corpus."""
import numpy as np

import fonts


def cells(glyphs, count, rng):
    """`count` glyphs of one font in cells of one size (the font's largest), bottom-aligned."""
    picked = [glyphs[i] for i in sorted(rng.choice(len(glyphs), size=min(count, len(glyphs)),
                                                   replace=False))]
    height = max(g.shape[0] for g in picked)
    width = max(g.shape[1] for g in picked)
    out = []
    for g in picked:
        cell = np.zeros((height, width), dtype=np.uint8)
        cell[height - g.shape[0]:, :g.shape[1]] = g
        out.append(cell)
    return out


def font_bytes(cells_, rng, style):
    """A run of glyphs as bytes, and the row width in bytes. Styles: "plain" (rows of whole
    bytes), "padded" (rows padded to 2 or 4 bytes), "header" (a few bytes before each glyph: its
    width or character code), "sheet" (glyphs side by side in rows of a picture)."""
    height, width = cells_[0].shape
    row = (width + 7) // 8
    if style == "padded":
        pad = int(rng.choice([2, 4]))
        row = (row + pad - 1) // pad * pad
    if style in ("plain", "padded"):
        return b"".join(fonts.pack_rows(c, row) for c in cells_), row
    if style == "header":
        size = int(rng.choice([1, 1, 2, 4]))
        out = bytearray()
        for k, c in enumerate(cells_):
            head = [width, 32 + k % 96, height, 0][:size]
            out += bytes(head) + fonts.pack_rows(c, row)
        return bytes(out), row
    # A sheet: `across` glyphs side by side, packed pixel to pixel or one byte column each.
    across = int(rng.integers(4, 17))
    packed = rng.random() < 0.5
    lines = []
    for start in range(0, len(cells_) - across + 1, across):
        group = cells_[start:start + across]
        if packed:
            lines.append(np.hstack(group))
        else:
            lines.append(np.hstack([np.pad(c, ((0, 0), (0, row * 8 - width))) for c in group]))
    picture = np.vstack(lines)
    return fonts.pack_rows(picture), (picture.shape[1] + 7) // 8


def column_font_bytes(cells_, rng):
    """Glyphs as small screens store them: one byte per pixel column (K bytes a column for glyphs
    taller than 8 pixels, the top byte first), bit 0 or bit 7 the top pixel, sometimes a blank
    column after each glyph. The bytes, the bytes per glyph and the layout's name; None for
    glyphs wider than 16 or taller than 32 pixels."""
    height, width = cells_[0].shape
    k = (height + 7) // 8
    if width > 16 or k > 4:
        return None
    msb = rng.random() < 0.4
    spacing = int(rng.random() < 0.5)
    weights = (1 << (7 - np.arange(8))) if msb else (1 << np.arange(8))
    out = bytearray()
    for c in cells_:
        cell = np.zeros((8 * k, width + spacing), dtype=np.int64)
        cell[:height, :width] = c
        for x in range(width + spacing):
            for j in range(k):
                out.append(int((cell[8 * j:8 * j + 8, x] * weights).sum()))
    name = ("columns-msb" if msb else "columns") + (":%d" % k if k > 1 else "")
    return bytes(out), (width + spacing) * k, name


REVERSED = bytes(int("{:08b}".format(v)[::-1], 2) for v in range(256))


def bit_reversed(graphic):
    """The rows with bit 0 the leftmost pixel, as X11 bitmaps store them."""
    return graphic.translate(REVERSED)


def picture_bytes(pixels, rng):
    """A picture as bytes, rows of whole bytes or padded to 2 or 4, and the row width."""
    row = (pixels.shape[1] + 7) // 8
    if rng.random() < 0.25:
        pad = int(rng.choice([2, 4]))
        row = (row + pad - 1) // pad * pad
    return fonts.pack_rows(pixels, row), row


def sprite_bytes(picture, rng):
    """A few small sprites cut from a picture, stored one after the other (with a mask after each,
    sometimes), and their row width."""
    size = int(rng.choice([8, 16, 16, 24, 32]))
    count = int(rng.integers(2, 9))
    height, width = picture.shape
    row = (size + 7) // 8
    masked = rng.random() < 0.3
    out = bytearray()
    for _ in range(count):
        for _ in range(8):  # a piece with some ink, not all ink
            y = int(rng.integers(0, max(1, height - size)))
            x = int(rng.integers(0, max(1, width - size)))
            cut = np.zeros((size, size), dtype=np.uint8)
            piece = picture[y:y + size, x:x + size]
            cut[:piece.shape[0], :piece.shape[1]] = piece
            if 0.08 <= cut.mean() <= 0.92:
                break
        out += fonts.pack_rows(cut, row)
        if masked:
            mask = cut.copy()
            mask[1:, :] |= cut[:-1, :]
            mask[:-1, :] |= cut[1:, :]
            mask[:, 1:] |= cut[:, :-1]
            mask[:, :-1] |= cut[:, 1:]
            out += fonts.pack_rows(mask, row)
    return bytes(out), row


def dithered(gray, width, rng, dither=True):
    """A grey picture (PIL image) scaled to `width` pixels and made one-bit."""
    from PIL import Image
    height = max(8, int(gray.height * width / gray.width))
    small = gray.resize((width, height))
    if dither:
        bw = small.convert("1")
    else:
        cut = int(rng.integers(90, 170))
        bw = small.point(lambda v: 255 if v > cut else 0).convert("1", dither=Image.NONE)
    return (np.array(bw, dtype=np.uint8) == 0).astype(np.uint8)


def embed(graphic, host_before, host_after, rng):
    """The graphic between two pieces of host bytes; its first byte's offset."""
    if rng.random() < 0.2:
        graphic = bytes(b ^ 0xFF for b in graphic)  # inverted
    return host_before + graphic + host_after, len(host_before), graphic
