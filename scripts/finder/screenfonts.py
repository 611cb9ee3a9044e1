"""Fonts of small screens, stored as such screens store them: one byte per pixel column, bit 0 or
bit 7 on top, the glyphs in character order. Two measures of how many of them the finder reports
among its first five regions, in their layout and at their glyph's bytes:
- the console fonts of a split that are at most 8 pixels high (their printable ASCII characters,
  with or without a blank column after each), each set inside machine code of the same split;
- real fonts of small screens in Debian's programs and firmware, at the places found by hand."""
import collections
import os
import subprocess

import numpy as np

import corpus
import fonts
import labels

CONSOLE_FONTS = {"train": ["console-setup-linux"], "eval": ["console-data", "fonts-spleen"]}
# Package, version, file, where the font's first glyph starts, layout, bytes a glyph, glyphs.
REAL_FONTS = [
    ("nxt-firmware", "1.29.2-1", "usr/share/nxt-firmware/nxt_firmware.bin", 154344, "columns", 6,
     96),
    ("ktechlab", "0.50.0-2", "usr/bin/ktechlab", 2675072, "columns-msb", 5, 96),
    ("ktechlab", "0.50.0-2", "usr/bin/ktechlab", 2675712, "columns-msb", 5, 80),
    ("free42-nologo", "3.0.17+ds-1", "usr/bin/free42bin", 893430, "columns", 5, 130),
    ("mame", "0.251+dfsg.1-1", "usr/games/mame", 276435584, "columns", 5, 128),
    ("mame", "0.251+dfsg.1-1", "usr/games/mame", 277107168, "columns", 5, 96),
    # All eight rows drawn, a blank column before each glyph.
    ("lcdproc", "0.5.9-6+b2", "usr/lib/x86_64-linux-gnu/lcdproc/imonlcd.so", 13408, "columns-msb",
     6, 256),
    # Digits 24 pixels high, 3 bytes a column, in cells of 64 bytes.
    ("lcdproc", "0.5.9-6+b2", "usr/lib/x86_64-linux-gnu/lcdproc/sed1520.so", 12960, "columns:3",
     64, 10),
]


def column_bytes(glyphs, spacing, top_bit0):
    weights = (1 << np.arange(8)) if top_bit0 else (1 << (7 - np.arange(8)))
    out = bytearray()
    for g in glyphs:
        cell = np.zeros((8, g.shape[1] + spacing), dtype=np.int64)
        cell[:g.shape[0], :g.shape[1]] = g
        out += bytes(int((cell[:, x] * weights).sum()) for x in range(cell.shape[1]))
    return bytes(out)


def console_fonts(cache, split):
    """(name, glyphs) of the split's console fonts at most 8 pixels high: the printable ASCII
    characters."""
    out = []
    for package in CONSOLE_FONTS[split]:
        folder = corpus.fetch(cache, package)
        for path in corpus.files_under(folder, "**/*.psf*") if folder else []:
            try:
                glyphs = fonts.psf(path)
            except Exception:  # a font this reader does not understand is left out
                continue
            if len(glyphs) >= 127 and glyphs[0].shape[0] <= 8:
                out.append((os.path.basename(path), glyphs[32:127]))
    return out


def code_pieces(manifest, split):
    return [(e["path"], s[0], s[1]) for e in manifest if e["split"] == split and not e.get("made")
            for s in e["negative"] if s[2] == "code" and s[1] >= 65536]


def read_piece(pieces, rng, size):
    path, first, length = pieces[int(rng.integers(len(pieces)))]
    with open(path, "rb") as f:
        f.seek(first + int(rng.integers(0, length - size)))
        return f.read(size)


def found(batch, path, truth):
    """The finder's first five regions of the file, and whether one is the truth."""
    out = subprocess.run([batch, "--find", path], capture_output=True, text=True,
                         check=True).stdout.splitlines()[:5]
    fields = [r.split("\t") for r in out]
    return out, any(labels.matches(int(f[0]), int(f[0]) + int(f[1]), int(f[2]), truth, f[4])
                    for f in fields)


def run(cache, manifest, split, batch, workdir):
    rng = np.random.default_rng(24)
    pieces = code_pieces(manifest, split)
    counts = collections.Counter()
    missed = []
    os.makedirs(workdir, exist_ok=True)
    for name, glyphs in console_fonts(cache, split):
        for spacing in (0, 1):
            for top_bit0 in (True, False):
                graphic = column_bytes(glyphs, spacing, top_bit0)
                before = read_piece(pieces, rng, int(rng.integers(1, 32768)))
                path = os.path.join(workdir, "screen-font.bin")
                with open(path, "wb") as f:
                    f.write(before + graphic + read_piece(pieces, rng, 16384))
                truth = {"first": len(before), "length": len(graphic),
                         "width": glyphs[0].shape[1] + spacing,
                         "layout": "columns" if top_bit0 else "columns-msb"}
                out, hit = found(batch, path, truth)
                counts["tried"] += 1
                counts["found"] += hit
                if not hit:
                    missed.append("%s w%d %s: %s" % (name, truth["width"], truth["layout"],
                                                      "; ".join(out[:2]) or "nothing"))
    print("Fonts of small screens made from console fonts (%s part): %d of %d found in their "
          "layout and width" % (split, counts["found"], counts["tried"]))
    for m in missed[:10]:
        print("  missed:", m)
    if split != "eval":
        return
    real = 0
    for package, version, file, first, layout, width, glyphs in REAL_FONTS:
        folder = corpus.fetch(cache, package, version)
        if not folder:
            print("  %s %s cannot be fetched" % (package, version))
            continue
        truth = {"first": first, "length": width * glyphs, "width": width, "layout": layout}
        out, hit = found(batch, os.path.join(folder, file), truth)
        real += hit
        print("  %s %s @%d w%d %s: %s" % (package, file, first, width, layout,
                                          "found" if hit else "missed"))
    print("Real fonts of small screens: %d of %d found in their layout and width" %
          (real, len(REAL_FONTS)))
