"""What the corpus says about a stretch of a file: real graphics at the right width, graphics at
a wrong width, bytes that hold no graphics, or unknown."""


def overlap(a_first, a_last, b_first, b_last):
    return max(0, min(a_last, b_last) - max(a_first, b_first))


def matches(first, last, width, truth, layout="rows"):
    """Whether a region found at [first, last) with `width` in `layout` is the true graphic: the
    width and the layout are right and they share at least half of the shorter of the two."""
    t_last = truth["first"] + truth["length"]
    shared = overlap(first, last, truth["first"], t_last)
    return (width == truth["width"] and layout == truth.get("layout", "rows") and
            shared >= 0.5 * min(last - first, truth["length"]))


def label(entry, first, last, width, layout="rows"):
    """1 for real graphics at their width and layout, 0 for no graphics (or graphics at a wrong
    width), None when the corpus cannot tell. Graphics in another layout than theirs are None: a
    picture read in another layout may be a picture too (a mirror image, a font's glyphs turned a
    quarter), so the model is not taught that it is none."""
    for t in entry["truth"]:
        if matches(first, last, width, t, layout):
            return 1
    for t in entry["truth"]:
        if layout != t.get("layout", "rows") and overlap(
                first, last, t["first"], t["first"] + t["length"]) >= 0.5 * (last - first):
            return None
    for t in entry["truth"]:
        if overlap(first, last, t["first"], t["first"] + t["length"]) >= 0.5 * (last - first):
            return 0  # the graphic at a wrong width, or mostly the bytes around it
    negative = sum(overlap(first, last, s[0], s[0] + s[1]) for s in entry["negative"])
    if negative >= 0.5 * (last - first):
        return 0
    return None


def negative_kind(entry, first, last):
    best, kind = 0, None
    for s in entry["negative"]:
        o = overlap(first, last, s[0], s[0] + s[1])
        if o > best:
            best, kind = o, s[2]
    return kind
