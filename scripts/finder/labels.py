"""What the corpus says about a stretch of a file: real graphics at the right width, graphics at
a wrong width, bytes that hold no graphics, or unknown."""


def overlap(a_first, a_last, b_first, b_last):
    return max(0, min(a_last, b_last) - max(a_first, b_first))


def matches(first, last, width, truth):
    """Whether a region found at [first, last) with `width` is the true graphic: the width is
    right and they share at least half of the shorter of the two."""
    t_last = truth["first"] + truth["length"]
    shared = overlap(first, last, truth["first"], t_last)
    return width == truth["width"] and shared >= 0.5 * min(last - first, truth["length"])


def label(entry, first, last, width):
    """1 for real graphics at their width, 0 for no graphics (or graphics at a wrong width),
    None when the corpus cannot tell."""
    for t in entry["truth"]:
        if matches(first, last, width, t):
            return 1
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
