#!/usr/bin/python3
"""How many of the X11 bitmaps compiled into Debian's programs and libraries the finder reports.

usage: x11programs.py PIXMOLE_BATCH [--cache DIR] [--out DIR] [--only PKG,...]

Fetches (into the cache, by default build-finder/x11programs) each binary package and its source
package, parses every bitmap in the sources written as X11 bitmaps are (`NAME_bits[] = {...}` with
`NAME_width` and `NAME_height`), finds their bytes as they are in the ELF files of the binary
package, joins neighbours of the same row width into one graphic and keeps those of 256 bytes or
more. A graphic is found when `--find` lists it among its first five regions as rows-lsb at its
width, sharing at least half of the shorter of the two. Writes truth.tsv, results.tsv and
REPORT.md into the output folder (the cache unless told). Needs the network; run by hand.
"""
import collections
import io
import os
import re
import subprocess
import sys
import tarfile

import labels

PKGDIR = os.path.join('build-finder', 'x11programs')  # the cache, set by --cache
MIRROR = 'http://deb.debian.org/debian/'
MIN_LEN = 256
MERGE_GAP = 16
TOP = 5

# Binary packages (bookworm, amd64). Source package comes from apt-cache.
PACKAGES = [
    'oneko', 'xscreensaver', 'xscreensaver-data', 'xscreensaver-data-extra',
    'xfishtank', 'xteddy', 'xpenguins', 'xbill', 'xboard', 'xfig', 'xpaint',
    'xcb', 'libtk8.6', 'libxm4', 'x11-apps', 'xtron', 'xblast-tnt', 'xbomb',
    'xbubble', 'xdemineur', 'xabacus', 'xmpuzzles', 'xgalaga', 'xsoldier',
    'xpat2', 'xmahjongg', 'xchain', 'xskat', 'xevil', 'xgammon', 'xsnow',
    'xshisen', 'xosview', 'xdaliclock', 'xjump', 'xdesktopwaves',
    'x11-xserver-utils', 'xterm', 'xmountains', 'xcolors',
    'ddd', 'x3270', 'grace', 'nethack-x11', 'libforms2', 'tk8.6-blt2.5',
    'xloadimage', 'xli', 'gv', 'libxmu6', 'xjdic', 'xdm', 'fvwm', 'xawtv',
    'gnuplot-x11', 'nedit', 'mgp',
]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kw).stdout


def nice(cmd):
    return ['nice', '-n', '10'] + cmd


# ---------------------------------------------------------------- fetching

def apt_info(pkg):
    out = run(['apt-cache', 'show', pkg]).decode()
    rec = out.split('\n\n')[0]
    fields = {}
    for line in rec.splitlines():
        m = re.match(r'^([A-Za-z-]+):\s*(.*)$', line)
        if m:
            fields[m.group(1)] = m.group(2)
    version = fields['Version']
    src = fields.get('Source', pkg)
    m = re.match(r'^(\S+)\s*\((.*)\)$', src)
    if m:
        src, srcver = m.group(1), m.group(2)
    else:
        srcver = re.sub(r'\+b\d+$', '', version)
    return version, src, srcver


def pool_dir(src):
    prefix = src[:4] if src.startswith('lib') else src[0]
    return '%spool/main/%s/%s/' % (MIRROR, prefix, src)


def fetch_binary(pkg, version):
    d = os.path.join(PKGDIR, pkg)
    os.makedirs(d, exist_ok=True)
    debs = [f for f in os.listdir(d) if f.endswith('.deb')]
    if not debs:
        run(['apt-get', 'download', '%s=%s' % (pkg, version)], cwd=d)
        debs = [f for f in os.listdir(d) if f.endswith('.deb')]
    root = os.path.join(d, 'root')
    if not os.path.isdir(root):
        run(['dpkg-deb', '-x', os.path.join(d, debs[0]), root])
    return root


def curl(url, dest):
    if not os.path.exists(dest):
        run(['curl', '-sfL', '-o', dest + '.part', url])
        os.rename(dest + '.part', dest)


def fetch_source(src, srcver):
    d = os.path.join(PKGDIR, 'src-' + src)
    os.makedirs(d, exist_ok=True)
    nover = srcver.split(':', 1)[-1]
    dsc = os.path.join(d, '%s_%s.dsc' % (src, nover))
    try:
        curl(pool_dir(src) + os.path.basename(dsc), dsc)
    except subprocess.CalledProcessError:
        raise RuntimeError('no .dsc on the mirror')
    text = open(dsc, errors='replace').read()
    files = []
    sect = re.search(r'^Files:\n((?: .*\n?)+)', text, re.M)
    if not sect:
        raise RuntimeError('no .dsc on the mirror')
    for line in sect.group(1).splitlines():
        parts = line.split()
        if len(parts) == 3 and not parts[2].endswith('.asc'):
            files.append(parts[2])
    tree = os.path.join(d, 'tree')
    if not os.path.isdir(tree):
        os.makedirs(tree + '.part', exist_ok=True)
        got = 0
        for name in files:
            path = os.path.join(d, name)
            try:
                curl(pool_dir(src) + name, path)
            except subprocess.CalledProcessError:
                # The mirror lacks some files; a missing debian tarball only
                # loses bitmaps added by packaging.
                print('  missing %s' % name, file=sys.stderr)
                continue
            got += '.debian.tar' not in name and not name.endswith('.diff.gz')
            if name.endswith('.diff.gz'):
                continue  # packaging diff: no compiled bitmaps worth parsing
            sub = 'debian-tar' if '.debian.tar' in name else os.path.basename(name)
            with tarfile.open(path) as tf:
                tf.extractall(os.path.join(tree + '.part', sub))
        if not got:
            raise RuntimeError('no upstream source on the mirror')
        os.rename(tree + '.part', tree)
    return tree


# ---------------------------------------------------------------- parsing

DEFINE_RE = re.compile(r'#\s*define\s+(\w+?)_(width|height)\s+(\d+)', re.I)
BITS_RE = re.compile(
    r'((?:\b(?:static|const|unsigned|signed|char|short|int|uint8_t|'
    r'u_char|u_short|Uchar|UChar|byte)\s+)+)'
    r'(\w*?)_?bits\s*\[\s*\w*\s*\]\s*=\s*\{([^}]*)\}', re.S)
NUM_RE = re.compile(r'0[xX][0-9a-fA-F]+|\d+')
COMMENT_RE = re.compile(r'/\*.*?\*/|//[^\n]*', re.S)


def to_int(tok):
    if tok[:2].lower() == '0x' or tok == '0' or not tok.startswith('0'):
        return int(tok, 0) if tok[:2].lower() == '0x' else int(tok)
    return int(tok, 8)


def parse_xbm_text(text):
    """Yields (name, width, height, bytes) for each XBM bitmap in a C text.

    The size comes from NAME_width / NAME_height; failing those, from the
    nearest width/height pair defined before the array whose size fits (some
    headers share one pair, or name the defines after the icon, not the
    array). X10 16-bit arrays (short) are skipped, and so is an array whose
    size fits no pair."""
    text = COMMENT_RE.sub(' ', text)
    defs = []  # (pos, prefix, kind, value)
    for m in DEFINE_RE.finditer(text):
        defs.append((m.start(), m.group(1), m.group(2).lower(), int(m.group(3))))
    for m in BITS_RE.finditer(text):
        types, name, body = m.group(1), m.group(2), m.group(3)
        if 'short' in types or re.search(r'\bint\b', types):
            continue
        try:
            vals = [to_int(t) for t in NUM_RE.findall(body)]
        except ValueError:
            continue
        if not vals or any(v > 255 for v in vals):
            continue
        pairs = {}
        for pos, prefix, kind, value in defs:
            if pos < m.start() or prefix == name:
                pairs.setdefault(prefix, {})[kind] = (value, pos)
        order = []
        if name in pairs:
            order.append(name)
        order += sorted((p for p in pairs if p != name),
                        key=lambda p: -max(v[1] for v in pairs[p].values()))
        for prefix in order:
            d = pairs[prefix]
            if 'width' not in d or 'height' not in d:
                continue
            w, h = d['width'][0], d['height'][0]
            if (w + 7) // 8 * h == len(vals) and w > 0:
                yield name, w, h, bytes(vals)
                break


def source_bitmaps(tree):
    out = []
    for dirpath, dirnames, filenames in os.walk(tree):
        for fn in filenames:
            path = os.path.join(dirpath, fn)
            try:
                if os.path.getsize(path) > 8 << 20 or os.path.islink(path):
                    continue
                text = open(path, 'rb').read().decode('latin-1')
            except OSError:
                continue
            if '_bits' not in text:
                continue
            for name, w, h, data in parse_xbm_text(text):
                out.append(dict(name=name, width=w, height=h, data=data,
                                srcfile=os.path.relpath(path, tree)))
    return out


# ---------------------------------------------------------------- locating

def elf_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        for fn in filenames:
            path = os.path.join(dirpath, fn)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            with open(path, 'rb') as f:
                if f.read(4) == b'\x7fELF':
                    yield path


def usable_anchor(data):
    # Tiny or near-uniform bitmaps match by chance; they may still join a run
    # through their neighbours but never start one on their own.
    return len(data) >= 16 and len(set(data)) >= 3


def find_all(hay, needle):
    i = hay.find(needle)
    while i >= 0:
        yield i
        i = hay.find(needle, i + 1)


def locate(bitmaps, root):
    """Returns {elf path: [graphic]} with graphics of at least MIN_LEN bytes."""
    result = {}
    for path in elf_files(root):
        hay = open(path, 'rb').read()
        hits = {}  # (offset, length, bpr) -> names
        for bm in bitmaps:
            if not usable_anchor(bm['data']):
                continue
            bpr = (bm['width'] + 7) // 8
            for off in find_all(hay, bm['data']):
                key = (off, len(bm['data']), bpr)
                hits.setdefault(key, [])
                label = '%s(%dx%d)' % (bm['name'], bm['width'], bm['height'])
                if label not in hits[key]:
                    hits[key].append(label)
        # Small bitmaps, not usable alone, join when they sit right next to
        # an anchored one with the same row width (one hop, no chaining: a
        # run of zero bytes would otherwise swallow the whole section).
        small = [bm for bm in bitmaps if not usable_anchor(bm['data'])
                 and len(bm['data']) >= 8 and any(bm['data'])]
        for (off, ln, bpr) in list(hits):
            for bm in small:
                if (bm['width'] + 7) // 8 != bpr:
                    continue
                n = len(bm['data'])
                label = '%s(%dx%d)' % (bm['name'], bm['width'], bm['height'])
                after = hay.find(bm['data'], off + ln, off + ln + MERGE_GAP + n)
                before = hay.find(bm['data'], max(0, off - MERGE_GAP - n), off)
                for cand in (after, before):
                    if cand >= 0:
                        hits.setdefault((cand, n, bpr), [label])
        graphics = []
        cur = None
        for (off, ln, bpr) in sorted(hits):
            names = hits[(off, ln, bpr)]
            if cur and cur['width'] == bpr and \
                    off <= cur['first'] + cur['length'] + MERGE_GAP:
                end = max(cur['first'] + cur['length'], off + ln)
                cur['length'] = end - cur['first']
                cur['names'] += [n for n in names if n not in cur['names']]
                cur['parts'] += 1
                continue
            if cur:
                graphics.append(cur)
            cur = dict(first=off, length=ln, width=bpr, names=list(names), parts=1)
        if cur:
            graphics.append(cur)
        graphics = [g for g in graphics if g['length'] >= MIN_LEN]
        if graphics:
            result[path] = graphics
    return result


# ---------------------------------------------------------------- judging

def run_finder(batch, path):
    out = run(nice([batch, '--find', path])).decode()
    regions = []
    for rank, line in enumerate(out.splitlines(), 1):
        f = line.split('\t')
        if len(f) < 5:
            continue
        regions.append(dict(rank=rank, first=int(f[0]), length=int(f[1]),
                            width=int(f[2]), score=f[3], layout=f[4]))
    return regions


def judge(g, regions):
    truth = dict(g, layout='rows-lsb')
    good = [r for r in regions if labels.matches(r['first'], r['first'] + r['length'],
                                                 r['width'], truth, r['layout'])]
    rank = good[0]['rank'] if good else None
    near = [r for r in regions if labels.overlap(g['first'], g['first'] + g['length'],
                                                 r['first'], r['first'] + r['length']) > 0]
    if not near and regions:
        # Nothing over it: give the closest region instead, marked with its gap.
        def gap(r):
            return max(r['first'] - (g['first'] + g['length']),
                       g['first'] - (r['first'] + r['length']))
        r = dict(min(regions, key=gap))
        r['gap'] = gap(r)
        near = [r]
    return rank, near


def isolated_rank(batch, path, g):
    """Rank of the graphic when the finder sees its bytes alone ('-' if not
    reported): tells a graphic the finder cannot see from one that its
    surroundings hide."""
    data = open(path, 'rb').read()[g['first']:g['first'] + g['length']]
    tmp = os.path.join(PKGDIR, 'isolated.bin')
    with open(tmp, 'wb') as f:
        f.write(data)
    alone = dict(g, first=0)
    rank, near = judge(alone, run_finder(batch, tmp))
    os.remove(tmp)
    if rank:
        return str(rank)
    return 'not found' + ('; got ' + fmt_region(near[0]) if near else '')


def fmt_region(r):
    text = '#%d %d+%d w%d %s s%s' % (r['rank'], r['first'], r['length'],
                                      r['width'], r['layout'], r['score'])
    if 'gap' in r:
        text = 'none over it; nearest %s, %d bytes away' % (text, r['gap'])
    return text


# ---------------------------------------------------------------- main

def main(argv):
    global PKGDIR
    batch, out, only = None, None, None
    args = list(argv)
    while args:
        a = args.pop(0)
        if a == '--out':
            out = args.pop(0)
        elif a == '--cache':
            PKGDIR = os.path.abspath(args.pop(0))
        elif a == '--only':
            only = set(args.pop(0).split(','))
        else:
            batch = os.path.abspath(a)
    if batch is None:
        sys.exit(__doc__)
    PKGDIR = os.path.abspath(PKGDIR)
    out = os.path.abspath(out or PKGDIR)
    os.makedirs(out, exist_ok=True)
    truth, results, tried = [], [], []
    src_cache = {}
    for pkg in PACKAGES:
        if only and pkg not in only:
            continue
        try:
            version, src, srcver = apt_info(pkg)
            root = fetch_binary(pkg, version)
            if src not in src_cache:
                tree = fetch_source(src, srcver)
                src_cache[src] = source_bitmaps(tree)
            bitmaps = src_cache[src]
        except Exception as e:  # keep going: one bad package must not stop the run
            print('%s: %s' % (pkg, e), file=sys.stderr)
            tried.append((pkg, '?', '?', 0, 0, 'error: %s' % e))
            continue
        located = locate(bitmaps, root)
        n = sum(len(v) for v in located.values())
        big = sum(1 for b in bitmaps if len(b['data']) >= MIN_LEN)
        tried.append((pkg, version, src, len(bitmaps), big, '%d graphics' % n))
        print('%s %s: %d source bitmaps, %d graphics' % (pkg, version, len(bitmaps), n),
              file=sys.stderr)
        for path in sorted(located):
            regions = run_finder(batch, path)
            rel = '/' + os.path.relpath(path, root)
            for g in located[path]:
                rank, near = judge(g, regions)
                alone = None
                if rank is None or rank > TOP:
                    alone = isolated_rank(batch, path, g)
                name = ', '.join(g['names'])
                truth.append((pkg, version, rel, g['first'], g['length'],
                              g['width'], name))
                results.append(dict(pkg=pkg, path=rel, g=g, rank=rank, near=near,
                                    name=name, nregions=len(regions),
                                    alone=alone))
    write_outputs(out, batch, tried, truth, results)


def write_outputs(out, batch, tried, truth, results):
    with open(os.path.join(out, 'truth.tsv'), 'w') as f:
        f.write('package\tversion\tpath\tfirst\tlength\twidth\tname\n')
        for t in truth:
            f.write('\t'.join(str(x) for x in t) + '\n')
    found = [r for r in results if r['rank'] is not None and r['rank'] <= TOP]
    with open(os.path.join(out, 'results.tsv'), 'w') as f:
        f.write('package\tpath\tfirst\tlength\twidth\trows\tfound\trank\t'
                'overlapping\tregions_in_file\talone\tname\n')
        for r in results:
            g = r['g']
            f.write('\t'.join(str(x) for x in (
                r['pkg'], r['path'], g['first'], g['length'], g['width'],
                g['length'] // g['width'],
                'yes' if r in found else 'no', r['rank'] or '',
                '; '.join(fmt_region(x) for x in r['near']), r['nregions'],
                r['alone'] or '', r['name'])) + '\n')
    lines = []
    lines.append('Finder: `%s`\n' % batch)
    lines.append('Recall (top %d, rows-lsb, right width, overlap >= half): '
                 '**%d / %d** = %.1f%%\n' % (
                     TOP, len(found), len(results),
                     100.0 * len(found) / max(1, len(results))))
    lines.append('## Packages\n')
    lines.append('| package | version | source | XBM bitmaps parsed | of them >= 256 B | in binaries |')
    lines.append('|---|---|---|---|---|---|')
    for t in tried:
        lines.append('| %s |' % ' | '.join(str(x) for x in t))
    lines.append('\n## Graphics\n')
    lines.append('| package | file | first | length | width | rows | found | rank | what the finder reported over it | bytes alone | bitmaps |')
    lines.append('|---|---|---|---|---|---|---|---|---|---|---|')
    for r in results:
        g = r['g']
        name = r['name']
        if len(name) > 160:
            name = name[:157] + '...'
        lines.append('| %s | %s | %d | %d | %d | %d | %s | %s | %s | %s | %s |' % (
            r['pkg'], r['path'], g['first'], g['length'], g['width'],
            g['length'] // g['width'], 'yes' if r in found else '**no**',
            r['rank'] or '-',
            ('; '.join(fmt_region(x) for x in r['near'][:4]) or 'nothing') +
            ' (%d regions in file)' % r['nregions'],
            r['alone'] or '', name))
    path = os.path.join(out, 'REPORT.md')
    head = ''
    if os.path.exists(path):
        text = open(path).read()
        marker = '<!-- generated below -->'
        if marker in text:
            head = text.split(marker)[0]
    if not head:
        head = '# Finder recall on X11 bitmaps compiled into Debian binaries\n\n'
    with open(path, 'w') as f:
        f.write(head + '<!-- generated below -->\n\n' + '\n'.join(lines) + '\n')


if __name__ == '__main__':
    main(sys.argv[1:])
