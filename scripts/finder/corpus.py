"""The finder's labelled corpus, built from Debian's packages.

Negatives: bytes that certainly hold no graphics, taken from the files themselves: the code,
unwind, relocation, symbol, string and pointer sections of ELF programs and libraries (from their
section headers), and whole data files (Unicode and locale tables, time zones, phonemes, class
archives, number arrays, compressed files). Positives: real fonts and pictures where they lie in
real files (font files, ROMs and programs, located by their headers or by searching for glyphs),
and glyphs of every bitmap font Debian ships and one-bit pictures, arranged as programs store them
and set inside negative bytes. Every source is split by package into a training and an evaluation
part; nothing of one part is seen by the other.

Everything is fetched with `apt-get download` into CACHE/debs and unpacked into CACHE/pkgs; the
manifest (CACHE/manifest-SEED.json) lists each file with what is known about its bytes."""
import glob
import gzip
import hashlib
import json
import os
import random
import subprocess

import numpy as np

import elf
import fonts
import synth

# Packages whose bytes hold no graphics where the section headers or the file kinds say so.
# (package, split, data files: glob patterns under the package and their kind; None = its ELF files)
NEGATIVES = [
    ("coreutils", "train", None), ("bash", "train", None), ("libc6", "train", None),
    ("libstdc++6", "train", None), ("libgtk-3-0", "train", None), ("git", "train", None),
    ("python3.11-minimal", "train", None), ("cpp-12", "train", None), ("ripgrep", "train", None),
    ("golang-1.19-go", "train", None), ("shellcheck", "train", None),
    ("fp-compiler-3.2.2", "train", None), ("openjdk-17-jre-headless", "train", None),
    ("libicu72", "train", [("usr/lib/*/libicudata.so.*", "unicode tables")]),
    ("tzdata", "train", [("usr/share/zoneinfo/**/*", "time zones")]),
    ("locales-all", "train", [("usr/lib/locale/[a-m]*/LC_*", "locale tables")]),
    ("python3-numpy", "train", [("**/*.npy", "number arrays")]),
    ("openjdk-17-jre-headless", "train", [("**/lib/modules", "class archive")]),
    ("git", "train", [("usr/share/**/*.gz", "compressed")]),
    ("python3-skimage", "train", [("**/*.npy", "number arrays")]),
    ("asterisk-core-sounds-en-wav", "train", [("**/*.wav", "audio")]),
    ("fonts-dejavu-core", "train", [("**/*.ttf", "outline fonts")]),
    ("ncurses-base", "train", [("usr/share/terminfo/**/*", "terminal tables")]),
    ("coreutils", "train", [("usr/share/locale/**/*.mo", "messages")]),
    ("colord-data", "train", [("**/*.icc", "colour profiles")]),
    ("libglib2.0-0", "eval", None), ("libsqlite3-0", "eval", None), ("vim-tiny", "eval", None),
    ("libxml2", "eval", None), ("libssl3", "eval", None), ("perl-base", "eval", None),
    ("libpython3.11", "eval", None), ("libqt5core5a", "eval", None),
    ("libqt5widgets5", "eval", None), ("libx11-6", "eval", None),
    ("binutils-x86-64-linux-gnu", "eval", None), ("gdb", "eval", None),
    ("fd-find", "eval", None), ("bat", "eval", None), ("hyperfine", "eval", None),
    ("restic", "eval", None), ("pandoc", "eval", None), ("xmonad", "eval", None),
    ("unison", "eval", None), ("gnat-12", "eval", None), ("libgnat-12", "eval", None),
    ("espeak-ng-data", "eval", [("usr/lib/*/espeak-ng-data/phon*", "phonemes"),
                                ("usr/lib/*/espeak-ng-data/*_dict", "phonemes")]),
    ("locales-all", "eval", [("usr/lib/locale/[n-z]*/LC_*", "locale tables")]),
    ("libc-bin", "eval", [("usr/lib/locale/C.utf8/LC_*", "locale tables")]),
    ("python3-scipy", "eval", [("**/*.npy", "number arrays")]),
    ("python3-joblib", "eval", [("**/*.npy", "number arrays"), ("**/*.xz", "compressed")]),
    ("libcommons-lang3-java", "eval", [("**/*.jar", "class archive")]),
    ("pandoc", "eval", [("usr/share/**/*.gz", "compressed")]),
    ("asterisk-core-sounds-fr-wav", "eval", [("**/*.wav", "audio")]),
    ("fonts-liberation", "eval", [("**/*.ttf", "outline fonts")]),
    ("ncurses-term", "eval", [("usr/share/terminfo/**/*", "terminal tables")]),
    ("tar", "eval", [("usr/share/locale/**/*.mo", "messages")]),
]

# Where fonts and pictures come from, by package and split.
FONT_SOURCES = [
    ("console-setup-linux", "train", "usr/share/consolefonts/*.psf.gz", "psf"),
    ("xfonts-base", "train", "usr/share/fonts/X11/misc/*.pcf.gz", "pcf"),
    ("xfonts-75dpi", "train", "usr/share/fonts/X11/75dpi/*.pcf.gz", "pcf"),
    ("xfonts-terminus", "train", "usr/share/fonts/X11/misc/*.pcf.gz", "pcf"),
    ("emacs-intl-fonts", "train", "**/*.bdf*", "bdf"),
    ("kbd", "eval", "usr/share/consolefonts/*.psf*", "psf"),
    ("console-data", "eval", "usr/share/consolefonts/*.psf*", "psf"),
    ("fonts-spleen", "eval", "**/*.psf*", "psf"),
    ("xfonts-100dpi", "eval", "usr/share/fonts/X11/100dpi/*.pcf.gz", "pcf"),
    ("xfonts-efont-unicode", "eval", "**/*.pcf.gz", "pcf"),
    ("bf-utf-source", "eval", "**/*.bdf*", "bdf"),
]
PICTURE_SOURCES = [
    ("xbill", "train", "**/*.xbm", "xbm"),
    ("xblast-tnt-images", "train", "**/*.pbm", "pbm"),
    ("gnome-backgrounds", "train", "**/*.jpg", "photo"),
    ("adwaita-icon-theme", "train", "**/48x48/**/*.png", "icon"),
    ("xbitmaps", "eval", "usr/include/X11/bitmaps/*", "xbm"),
    ("openbox", "eval", "**/*.xbm", "xbm"),
    ("jbigkit-testdata", "eval", "**/*.pbm", "pbm"),
    ("mgetty-fax", "eval", "**/*.pbm", "pbm"),
    ("desktop-base", "eval", "**/*.png", "photo"),
]
# Real files with graphics inside, by package and split; where they lie is found by
# locate_real_graphics.
REAL_GRAPHICS = [
    ("seabios", "train"), ("qemu-system-data", "train"), ("dosbox", "train"),
    ("console-setup-linux", "train"), ("xfonts-base", "train"), ("xfonts-75dpi", "train"),
    ("xfonts-terminus", "train"),
    ("vgabios", "eval"), ("bochs", "eval"), ("bochsbios", "eval"), ("memtest86+", "eval"),
    ("u-boot-qemu", "eval"), ("libsdl2-gfx-1.0-0", "eval"), ("kbd", "eval"),
    ("console-data", "eval"), ("xfonts-100dpi", "eval"), ("xfonts-efont-unicode", "eval"),
    ("fonts-spleen", "eval"), ("xbill", "train"), ("jbigkit-testdata", "eval"),
]

# The smoke corpus the test suite evaluates on: a few small packages of the evaluation part.
SMOKE_NEGATIVES = [
    ("libx11-6", "eval", None),
    ("tar", "eval", [("usr/share/locale/**/*.mo", "messages")]),
    ("libc-bin", "eval", [("usr/lib/locale/C.utf8/LC_*", "locale tables")]),
]
SMOKE_FONT_SOURCES = [("fonts-spleen", "eval", "**/*.psf*", "psf")]
SMOKE_PICTURE_SOURCES = [("xbitmaps", "eval", "usr/include/X11/bitmaps/*", "xbm")]
SMOKE_REAL_GRAPHICS = [("vgabios", "eval"), ("fonts-spleen", "eval")]

ELF_BYTES_PER_PACKAGE = 48 << 20  # enough of the largest packages
DATA_BYTES_PER_KIND = 24 << 20
DATA_BLOB = 2 << 20  # small data files are joined into pieces of about this size


def run(cmd, cwd=None):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def fetch(cache, package, version=None):
    """The unpacked package's folder (at `version`, or the one apt offers); None when it cannot be
    fetched."""
    folder = os.path.join(cache, "pkgs", package)
    if os.path.exists(os.path.join(folder, ".done")):
        return folder
    debs = os.path.join(cache, "debs")
    os.makedirs(debs, exist_ok=True)
    try:
        found = glob.glob(os.path.join(debs, package + "_*.deb"))
        if not found:
            run(["apt-get", "download", "-qq", package + ("=" + version if version else "")],
                cwd=debs)
            found = glob.glob(os.path.join(debs, package + "_*.deb"))
        os.makedirs(folder, exist_ok=True)
        run(["dpkg-deb", "-x", found[0], folder])
    except (subprocess.CalledProcessError, IndexError):
        return None
    open(os.path.join(folder, ".done"), "w").close()
    return folder


def files_under(folder, pattern):
    return sorted(p for p in glob.glob(os.path.join(folder, pattern), recursive=True)
                  if os.path.isfile(p) and not os.path.islink(p))


def elf_negatives(folder, package, split, budget):
    entries = []
    for path in files_under(folder, "**/*"):
        if budget <= 0:
            break
        if not elf.is_elf(path) or os.path.getsize(path) < 4096:
            continue
        with open(path, "rb") as f:
            data = f.read()
        spans = [[off, size, elf.kind_of(name)] for name, off, size, _ in elf.sections(data)
                 if elf.kind_of(name) and size >= 64]
        if not spans:
            continue
        entries.append({"path": path, "package": package, "split": split, "truth": [],
                        "negative": spans})
        budget -= len(data)
    return entries


def data_negatives(cache, folder, package, split, patterns):
    entries = []
    for pattern, kind in patterns:
        budget = DATA_BYTES_PER_KIND
        blob, names = bytearray(), []

        def flush():
            if not blob:
                return
            name = hashlib.sha1(("".join(names)).encode()).hexdigest()[:16]
            path = os.path.join(cache, "blobs", name + ".bin")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(blob)
            entries.append({"path": path, "package": package, "split": split, "truth": [],
                            "negative": [[0, len(blob), kind]]})
            blob.clear()
            names.clear()

        for path in files_under(folder, pattern):
            if budget <= 0:
                break
            size = os.path.getsize(path)
            if size < 64:
                continue
            if size >= DATA_BLOB:
                entries.append({"path": path, "package": package, "split": split, "truth": [],
                                "negative": [[0, min(size, budget), kind]]})
                budget -= size
                continue
            with open(path, "rb") as f:
                blob += f.read()
            names.append(path)
            budget -= size
            if len(blob) >= DATA_BLOB:
                flush()
        flush()
    return entries


def load_glyph_sets(folder, pattern, kind, limit=40):
    reader = {"psf": fonts.psf, "pcf": fonts.pcf, "bdf": fonts.bdf}[kind]
    sets = []
    for path in files_under(folder, pattern)[:400]:
        try:
            glyphs = reader(path)
        except Exception:  # a font this reader does not understand is left out
            continue
        glyphs = [g for g in glyphs if g.any()]
        if len(glyphs) >= 32 and max(g.shape[1] for g in glyphs) <= 64:
            sets.append((path, glyphs))
    random.Random(len(sets)).shuffle(sets)
    return sets[:limit]


def load_pictures(folder, pattern, kind, rng, limit=60):
    pictures = []
    paths = files_under(folder, pattern)
    rng.shuffle(paths)
    for path in paths[:limit * 3]:
        try:
            if kind == "xbm":
                p = fonts.xbm(path)
            elif kind == "pbm":
                p = fonts.pbm(path)
            else:
                from PIL import Image
                gray = Image.open(path).convert("L")
                width = int(rng.integers(48, 400)) if kind == "photo" else int(rng.integers(32, 97))
                p = synth.dithered(gray, width, rng, dither=kind == "photo" and rng.random() < 0.6)
        except Exception:  # not a picture this reader understands
            continue
        if p is None or p.shape[0] < 16 or p.shape[1] < 8 or not 0.03 <= p.mean() <= 0.97:
            continue
        if p.shape[1] > 512 or p.shape[0] > 600:  # a large scan: a piece of it
            y = int(rng.integers(0, max(1, p.shape[0] - 400)))
            x = int(rng.integers(0, max(1, p.shape[1] - 400))) // 8 * 8
            p = p[y:y + 400, x:x + 400]
        pictures.append((path, kind, p))
        if len(pictures) >= limit:
            break
    return pictures


# ---- Real graphics in real files ----------------------------------------------------------------

def vga_patterns(cache):
    """Glyphs "A" and "B" of the console fonts that copy the VGA ROM fonts, by height."""
    folder = fetch(cache, "console-setup-linux")
    patterns = []
    for height in (8, 14, 16):
        for name in ("Lat15-VGA%d", "Lat2-VGA%d", "Lat7-VGA%d", "Uni1-VGA%d"):
            path = os.path.join(folder, "usr/share/consolefonts", (name % height) + ".psf.gz")
            if os.path.exists(path):
                g = fonts.psf(path)
                patterns.append((height, fonts.pack_rows(g[65]), fonts.pack_rows(g[66])))
    return patterns


def locate_vga_fonts(data, patterns):
    """[(first, length)] of the VGA-like fonts in the bytes, 256 glyphs from glyph 0."""
    found = {}
    for height, a, b in patterns:
        at = data.find(a)
        while at >= 0:
            if data[at + height:at + 2 * height] == b:
                first = max(0, at - 65 * height)
                found.setdefault(first, (first, min(256 * height, len(data) - first)))
            at = data.find(a, at + 1)
    return sorted(found.values())


def header_truth(path, data):
    """Where a font file's glyphs lie, from its header: [(first, length, width)]."""
    if path.endswith((".psf", ".psf.gz", ".psfu", ".psfu.gz")):
        if data[:2] == b"\x36\x04":
            return [(4, data[3] * (512 if data[2] & 1 else 256), 1)]
        if data[:4] == b"\x72\xb5\x4a\x86":
            h = np.frombuffer(data[:32], dtype="<u4")
            return [(int(h[2]), int(h[4] * h[5]), int((h[7] + 7) // 8))]
    if path.endswith((".pcf", ".pcf.gz")) and data[:4] == b"\x01fcp":
        count = int.from_bytes(data[4:8], "little")
        for i in range(count):
            kind, _, size, at = np.frombuffer(data[8 + 16 * i:24 + 16 * i], dtype="<u4")
            if kind != 8:
                continue
            fmt = int.from_bytes(data[at:at + 4], "little")
            n = int.from_bytes(data[at + 4:at + 8], "big" if fmt & 4 else "little")
            first = int(at) + 8 + 4 * n + 16
            return [(first, int(size) - (first - int(at)), 1 << (fmt & 3))]
    return []


def real_graphics(cache, package, split, patterns, workdir):
    folder = fetch(cache, package)
    if folder is None:
        return []
    entries = []
    for path in files_under(folder, "**/*"):
        size = os.path.getsize(path)
        if size < 1024 or size > (64 << 20) or "/doc/" in path:
            continue
        with open(path, "rb") as f:
            data = f.read()
        truth = []
        if path.endswith(".gz") and (".psf" in path or ".pcf" in path):
            data = gzip.decompress(data)
            truth = [(a, b, w, "font") for a, b, w in header_truth(path[:-3], data)]
            name = hashlib.sha1(path.encode()).hexdigest()[:16]
            path = os.path.join(workdir, "real", name + ".bin")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        elif path.endswith((".psf", ".psfu", ".pcf")):
            truth = [(a, b, w, "font") for a, b, w in header_truth(path, data)]
        else:
            truth = [(a, b, 1, "rom font") for a, b in locate_vga_fonts(data, patterns)]
        truth = [t for t in truth if t[1] >= 256 and 1 <= t[2] <= 64]
        if truth:
            entries.append({"path": path, "package": package, "split": split,
                            "truth": [{"first": a, "length": b, "width": w, "kind": k}
                                      for a, b, w, k in truth], "negative": []})
    # Fonts of one package are much alike: a few of each kind are enough.
    random.Random(package).shuffle(entries)
    return entries[:40]


# ---- Made positives -----------------------------------------------------------------------------

class Hosts:
    """Pieces of negative bytes of one split, to set graphics into."""

    def __init__(self, entries, rng):
        self.spans = [(e["path"], s[0], s[1], s[2]) for e in entries for s in e["negative"]
                      if s[1] >= 4096]
        self.rng = rng

    def piece(self, size):
        if not self.spans or self.rng.random() < 0.1:
            return bytes(size) if self.rng.random() < 0.5 else bytes(
                self.rng.integers(0, 256, size, dtype=np.uint8))
        path, first, length, _ = self.spans[int(self.rng.integers(len(self.spans)))]
        start = first + int(self.rng.integers(0, max(1, length - size)))
        with open(path, "rb") as f:
            f.seek(start)
            return f.read(min(size, length))


def made_positives(cache, split, hosts, rng, workdir, count, smoke=False):
    glyph_sets, pictures = [], []
    for package, s, pattern, kind in SMOKE_FONT_SOURCES if smoke else FONT_SOURCES:
        folder = fetch(cache, package) if s == split else None
        if folder:
            glyph_sets += [(package, kind, g) for _, g in load_glyph_sets(folder, pattern, kind)]
    for package, s, pattern, kind in SMOKE_PICTURE_SOURCES if smoke else PICTURE_SOURCES:
        folder = fetch(cache, package) if s == split else None
        if folder:
            pictures += [(package, k, p) for _, k, p in load_pictures(folder, pattern, kind, rng)]
    entries = []
    for n in range(count):
        layout = "rows"
        drawn = [p for p in pictures if p[1] != "photo"]  # crops of dithered photos are noise
        if drawn and n % 5 == 4:
            package, source, picture = drawn[int(rng.integers(len(drawn)))]
            graphic, width = synth.sprite_bytes(picture, rng)
            kind = "sprites"
        elif glyph_sets and (not pictures or n % 5 < 3):
            package, source, glyphs = glyph_sets[int(rng.integers(len(glyph_sets)))]
            style = str(rng.choice(["plain", "plain", "padded", "header", "sheet"]))
            cells = synth.cells(glyphs, int(rng.integers(48, 257)), rng)
            columns = synth.column_font_bytes(cells, rng) if rng.random() < 0.25 else None
            if columns:
                graphic, width, layout = columns
                kind = "font in columns"
            else:
                graphic, width = synth.font_bytes(cells, rng, style)
                kind = "font" if style != "sheet" else "sprite sheet"
            if style == "header" and not columns:
                kind = "font with headers"
        else:
            package, source, picture = pictures[int(rng.integers(len(pictures)))]
            graphic, width = synth.picture_bytes(picture, rng)
            kind = {"photo": "dithered picture", "icon": "icon", "xbm": "bitmap",
                    "pbm": "bitmap"}[source]
        if width > 64 or len(graphic) < (64 if kind == "sprites" else 256):
            continue
        if layout == "rows" and kind != "font with headers" and rng.random() < 0.12:
            graphic, layout = synth.bit_reversed(graphic), "rows-lsb"
            kind += ", bit 0 left"
        before = hosts.piece(int(rng.integers(1, 32768)))
        after = hosts.piece(int(rng.integers(1024, 32768)))
        data, first, graphic = synth.embed(graphic, before, after, rng)
        path = os.path.join(workdir, "made", "%s-%05d.bin" % (split, n))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        entries.append({"path": path, "package": package, "split": split, "made": True,
                        "truth": [{"first": first, "length": len(graphic), "width": width,
                                   "kind": kind, "layout": layout}],
                        "negative": [[0, first, "host"],
                                     [first + len(graphic), len(after), "host"]]})
    return entries


def project_sample():
    """The project's own sample (samples/README.md): its font, the page drawn in it, and three
    sprites between stretches of noise."""
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    return {"path": os.path.join(top, "samples", "sprites.bin"), "package": "pixmole",
            "split": "train",
            "truth": [{"first": 0, "length": 472, "width": 1, "kind": "font"},
                      {"first": 0x1E1, "length": 0x9650 - 0x1E1, "width": 1, "kind": "font"},
                      {"first": 0x9800, "length": 96, "width": 2, "kind": "sprites"}],
            "negative": [[0x9650, 0x9800 - 0x9650, "host"], [0x9860, 416, "host"]]}


def build(cache, seed=1, made=1500, smoke=False):
    """The manifest: every labelled file of both splits (the smoke corpus: a small part of the
    evaluation part only)."""
    rng = np.random.default_rng(seed)
    name = "smoke-%d" % seed if smoke else "%d" % seed
    workdir = os.path.join(cache, "corpus-" + name)
    entries = []
    for package, split, patterns in SMOKE_NEGATIVES if smoke else NEGATIVES:
        folder = fetch(cache, package)
        if folder is None:
            print("cannot fetch", package)
            continue
        if patterns is None:
            entries += elf_negatives(folder, package, split, ELF_BYTES_PER_PACKAGE)
        else:
            entries += data_negatives(cache, folder, package, split, patterns)
    patterns = vga_patterns(cache)
    for package, split in SMOKE_REAL_GRAPHICS if smoke else REAL_GRAPHICS:
        entries += real_graphics(cache, package, split, patterns, workdir)
    if not smoke:
        entries.append(project_sample())
    for split in ("eval",) if smoke else ("train", "eval"):
        hosts = Hosts([e for e in entries if e["split"] == split and not e["truth"]], rng)
        entries += made_positives(cache, split, hosts, rng, workdir, made, smoke)
    if not entries or not any(e["truth"] for e in entries):
        return None  # nothing could be fetched
    path = os.path.join(cache, "manifest-%s.json" % name)
    with open(path, "w") as f:
        json.dump(entries, f)
    return entries
