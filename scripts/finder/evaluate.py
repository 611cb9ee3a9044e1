"""The finder judged as a classifier on one part of the corpus, from what pixmole-batch --find
reports."""
import collections

import labels


def evaluate(entries, found, seconds, out=print):
    figures = {}
    # Precision: regions in bytes that hold no graphics, per MB of such bytes, by kind.
    false_by_kind, mb_by_kind = collections.Counter(), collections.Counter()
    worst = []
    for e in entries:
        if e["truth"]:
            continue
        for s in e["negative"]:
            mb_by_kind[s[2]] += s[1] / 1e6
        for first, length, width, score, layout in found[e["path"]]:
            kind = labels.negative_kind(e, first, first + length)
            if labels.label(e, first, first + length, width, layout) == 0:
                false_by_kind[kind] += 1
                worst.append((score, e["path"], first, length, width))
    total_mb = sum(mb_by_kind.values())
    total_false = sum(false_by_kind.values())
    out("Precision: %d false regions in %.1f MB of bytes that hold no graphics: %.3f per MB" %
        (total_false, total_mb, total_false / max(total_mb, 1e-9)))
    for kind in sorted(mb_by_kind):
        out("  %-16s %7.1f MB %5d false  %.3f per MB" % (
            kind, mb_by_kind[kind], false_by_kind[kind],
            false_by_kind[kind] / max(mb_by_kind[kind], 1e-9)))
    figures["false_per_mb"] = total_false / max(total_mb, 1e-9)
    worst.sort(reverse=True)
    for score, path, first, length, width in worst[:5]:
        out("  highest false: %.3f %s @%d +%d w%d" % (score, path, first, length, width))

    # Recall: each graphic among the first five regions at its width.
    hits, totals, missed = collections.Counter(), collections.Counter(), []
    edges_ok, edges_all, stops, bad_stops = 0, 0, [], []
    true_scores, false_scores = [], []
    for e in entries:
        if not e["truth"]:
            continue
        regions = found[e["path"]]
        origin = "made" if e.get("made") else "real"
        for t in e["truth"]:
            key = (origin, t["kind"])
            totals[key] += 1
            match = next((r for r in regions[:5] if labels.matches(r[0], r[0] + r[1], r[2], t, r[4])),
                         None)
            if match is None:
                missed.append((e["path"], t))
                continue
            hits[key] += 1
            # Edges: at most 16 rows before the first row and after the last, unless the region
            # runs on into graphics.
            edges_all += 1
            w = t["width"]
            t_last = t["first"] + t["length"]
            runs_on = any(o is not t and o["first"] <= match[0] + match[1] and
                          o["first"] + o["length"] >= t_last for o in e["truth"])
            if match[0] >= t["first"] - 16 * w and (runs_on or match[0] + match[1] <= t_last + 16 * w):
                edges_ok += 1
        # The F3 stops from the start of the file: the first real graphics by the 3rd.
        ordered = sorted(regions)
        stop = next((i + 1 for i, r in enumerate(ordered)
                     if any(labels.matches(r[0], r[0] + r[1], r[2], t, r[4]) for t in e["truth"])), None)
        if origin == "real":
            stops.append(stop)
            if stop is None or stop > 3:
                bad_stops.append((e["path"], stop))
        for r in regions:
            lab = labels.label(e, r[0], r[0] + r[1], r[2], r[4])
            if lab == 1:
                true_scores.append(r[3])
            elif lab == 0:
                false_scores.append(r[3])
    all_hits, all_total = sum(hits.values()), sum(totals.values())
    out("Recall: %d of %d graphics among the first five regions at their width (%.3f)" %
        (all_hits, all_total, all_hits / max(all_total, 1)))
    for key in sorted(totals):
        out("  %-4s %-20s %4d of %4d  %.3f" % (key[0], key[1], hits[key], totals[key],
                                                hits[key] / totals[key]))
    figures["recall"] = all_hits / max(all_total, 1)
    real = [k for k in totals if k[0] == "real"]
    figures["real_recall"] = sum(hits[k] for k in real) / max(1, sum(totals[k] for k in real))
    for path, t in missed[:12]:
        out("  missed: %s @%d +%d w%d %s" % (path, t["first"], t["length"], t["width"], t["kind"]))
    out("Edges within 16 rows: %d of %d found" % (edges_ok, edges_all))
    figures["edges"] = edges_ok / max(edges_all, 1)
    reached = sum(1 for s in stops if s is not None and s <= 3)
    out("F3 from the start reaches the first real graphics by the 3rd stop: %d of %d real files"
        % (reached, len(stops)))
    for path, stop in bad_stops[:8]:
        out("  late: %s stop %s" % (path, stop))
    figures["f3"] = reached / max(len(stops), 1)
    high_true = sum(1 for s in true_scores if s >= 0.5)
    high_false = sum(1 for s in false_scores if s >= 0.5)
    out("Score >= 0.5: %d real graphics, %d false (%.3f real)" %
        (high_true, high_false, high_true / max(1, high_true + high_false)))
    figures["score_precision"] = high_true / max(1, high_true + high_false)
    total_s = sum(seconds.values())
    total_b = sum(e.get("size", 0) for e in entries)
    out("Time: %.1f s for %d files" % (total_s, len(seconds)))
    return figures
