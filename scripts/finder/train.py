"""Trains the finder's model on the training part of the corpus and writes it as C++."""
import collections
import os

import numpy as np

import labels
import measure

WINDOW = 128  # bytes of a window of the scan's first step (finder_internal.h)


def dataset(entries, tool, jobs=2, keep=None):
    """Measures and labels of every candidate the finder judges in the entries' files; kept in
    the file `keep` for as long as the tool stays the same."""
    import hashlib
    import pickle
    stamp = hashlib.sha1(open(tool, "rb").read()).hexdigest()
    if keep and os.path.exists(keep):
        with open(keep, "rb") as f:
            kept = pickle.load(f)
        if kept[0] == stamp and kept[1] == len(entries):
            return kept[2]
    found, names = measure.candidates(tool, sorted({e["path"] for e in entries}), jobs)
    by_path = {e["path"]: e for e in entries}
    X, y, groups, kinds, layouts = [], [], [], [], []
    for path, cands in found.items():
        e = by_path[path]
        for first, last, width, group, layout, score, features in cands:
            lab = labels.label(e, first, last, width, layout)
            if lab is None:
                continue
            X.append(features)
            y.append(lab)
            groups.append(e["package"])
            layouts.append(layout)
            kinds.append(e["truth"][0]["kind"] if lab and e["truth"] else
                         (labels.negative_kind(e, first, last) or "wrong width"))
    result = (np.array(X, dtype=np.float32), np.array(y), groups, kinds, names,
              np.array(layouts))
    if keep:
        with open(keep, "wb") as f:
            pickle.dump((stamp, len(entries), result), f)
    return result


def window_dataset(entries, tool, jobs=2):
    """Measures and labels of the scan's windows: inside a graphic (any width), or in bytes that
    hold none."""
    found, names = measure.candidates(tool, sorted({e["path"] for e in entries}), jobs, True)
    by_path = {e["path"]: e for e in entries}
    X, y, kinds, where = [], [], [], []
    for path, windows in found.items():
        e = by_path[path]
        for first, features in windows:
            last = first + WINDOW
            inside = any(labels.overlap(first, last, t["first"], t["first"] + t["length"]) >=
                         WINDOW // 2 for t in e["truth"])
            negative = sum(labels.overlap(first, last, s[0], s[0] + s[1]) for s in e["negative"])
            if inside:
                X.append(features); y.append(1); kinds.append(e["truth"][0]["kind"])
            elif negative >= WINDOW // 2:
                X.append(features); y.append(0); kinds.append(labels.negative_kind(e, first, last))
            else:
                continue
            where.append((path, first))
    return np.array(X, dtype=np.float32), np.array(y), kinds, names, where


def column_dataset(entries, tool, jobs=2):
    """Regions found as rows 1 to 4 bytes wide, measured as pixel columns, and whether they are a
    font in a column layout with K the width found (1) or graphics in rows (0); regions the corpus
    cannot tell, or columns found at another width than their K, are left out."""
    found, names = measure.candidates(tool, sorted({e["path"] for e in entries}), jobs,
                                      columns=True)
    by_path = {e["path"]: e for e in entries}
    X, y, where = [], [], []
    for path, regions in found.items():
        e = by_path[path]
        for first, last, width, layout, period, phase, score, features in regions:
            truth = next((t for t in e["truth"] if labels.overlap(
                first, last, t["first"], t["first"] + t["length"]) >=
                0.5 * min(last - first, t["length"])), None)
            if truth is None:
                continue
            kind, _, k = truth.get("layout", "rows").partition(":")
            if kind.startswith("columns"):
                if int(k or 1) != width:
                    continue
                y.append(1)
            else:
                y.append(0)
            X.append(features)
            where.append((path, first, truth["kind"], "made" if e.get("made") else "real"))
    return np.array(X, dtype=np.float32), np.array(y), names, where


def fit(X, y, seed=1, trees=160, depth=3, positive_weight=1.0):
    from sklearn.ensemble import GradientBoostingClassifier
    # Negatives far outnumber positives and are much alike: a sample of them teaches as much.
    rng = np.random.default_rng(seed)
    keep = (y == 1) | (rng.random(len(y)) < min(1.0, 20.0 * (y == 1).sum() / max(1, (y == 0).sum())))
    weight = np.where(y[keep] == 1, positive_weight,
                      (y == 0).sum() / max(1, (y[keep] == 0).sum()))
    model = GradientBoostingClassifier(n_estimators=trees, max_depth=depth, learning_rate=0.1,
                                       subsample=0.8, min_samples_leaf=20, random_state=seed)
    model.fit(X[keep], y[keep], sample_weight=weight)
    return model


def tree_tables(model, prefix):
    """The model's trees as C++ tables (Nodes and Roots named with the prefix) and its start."""
    lr = model.learning_rate
    x0 = np.zeros((1, model.n_features_in_), dtype=np.float32)
    start = float(model.decision_function(x0)[0]) - lr * sum(
        float(t[0].predict(x0)[0]) for t in model.estimators_)
    nodes, roots = [], []
    for t in model.estimators_:
        tree = t[0].tree_
        base = len(nodes)
        roots.append(base)
        for i in range(tree.node_count):
            leaf = tree.children_left[i] < 0
            nodes.append((-1 if leaf else int(tree.feature[i]),
                          0.0 if leaf else float(tree.threshold[i]),
                          0 if leaf else base + int(tree.children_left[i]),
                          0 if leaf else base + int(tree.children_right[i]),
                          float(tree.value[i][0][0]) * lr if leaf else 0.0))

    def real(v):
        text = "%.9g" % v
        return text + ("f" if any(c in text for c in ".e") else ".0f")

    cells = ["{%d, %s, %d, %d, %s}" % (n[0], real(n[1]), n[2], n[3], real(n[4])) for n in nodes]
    lines = ["constexpr double %sStart = %r;" % (prefix, start),
             "constexpr TreeNode %sNodes[] = {" % prefix]
    for i in range(0, len(cells), 4):
        lines.append("    " + ", ".join(cells[i:i + 4]) + ",")
    lines.append("};")
    lines.append("constexpr uint16_t %sRoots[] = {" % prefix)
    for i in range(0, len(roots), 16):
        lines.append("    " + ", ".join(str(r) for r in roots[i:i + 16]) + ",")
    lines += ["};", ""]
    return lines


def write_cpp(models, path, summary, what):
    """Models as C++: each one's trees in tables, summed by TreeScore (finder_internal.h) as
    GradientBoostingClassifier sums them. `models` holds (prefix, model or None, function,
    measures type) for each."""
    lines = ["// The graphics finder's %s: gradient-boosted trees. Made by" % what,
             "// scripts/finder-train from the corpus it fetches; do not edit."]
    lines += (["// " + summary] if summary else []) + [
        '#include "viewer/finder_internal.h"', "", "namespace viewer::finder {", "",
        "namespace {", ""]
    for prefix, model, _, _ in models:
        lines += tree_tables(model, prefix) if model else [
            "constexpr double %sStart = 0;" % prefix,
            "constexpr TreeNode %sNodes[] = {{-1, 0.0f, 0, 0, 0.0f}};" % prefix,
            "constexpr uint16_t %sRoots[] = {0};" % prefix, ""]
    lines += ["} // namespace", ""]
    for prefix, _, function, measures in models:
        lines += ["double %s(const %s& f) {" % (function, measures),
                  "    return TreeScore(f, %sStart, %sNodes, %sRoots);" % (prefix, prefix, prefix),
                  "}", ""]
    lines += ["} // namespace viewer::finder", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def report_windows(model, X, y, kinds, title):
    p = model.predict_proba(X)[:, 1]
    print("%s: %d windows, %d inside graphics" % (title, len(y), int(y.sum())))
    for cut in (0.02, 0.05, 0.1):
        keep = p >= cut
        print("  score >= %.2f: %.3f of graphics' windows kept, %.4f of the others" %
              (cut, keep[y == 1].mean(), keep[y == 0].mean()))
    kinds = np.array(kinds)
    for k in sorted(set(kinds)):
        m = kinds == k
        print("    %-20s %7d windows, %.4f kept at 0.05" % (k, m.sum(), (p[m] >= 0.05).mean()))


def report(model, X, y, kinds, title):
    p = model.predict_proba(X)[:, 1]
    print("%s: %d candidates, %d positive" % (title, len(y), int(y.sum())))
    for cut in (0.3, 0.5, 0.7):
        tp = int(((p >= cut) & (y == 1)).sum())
        fp = int(((p >= cut) & (y == 0)).sum())
        print("  score >= %.1f: %d true, %d false, recall of candidates %.3f" %
              (cut, tp, fp, tp / max(1, int(y.sum()))))
    by = collections.defaultdict(lambda: [0, 0])
    for pi, yi, k in zip(p, y, kinds):
        by[(yi, k)][0] += 1
        by[(yi, k)][1] += int((pi >= 0.5) == (yi == 1))
    for (yi, k), (n, right) in sorted(by.items()):
        print("    %s %-20s %6d candidates, %5.1f%% right" % ("+" if yi else "-", k, n,
                                                             100.0 * right / n))


FOUND_COLUMN_BYTES = (2, 3)  # MinFoundColumnBytes, MaxFoundColumnBytes (finder_internal.h)
MIN_COLUMN_SCORE = 0.9  # MinColumnScore (finder_internal.h)


def report_columns(model, X, y, title, where=None):
    """Fonts in columns told as such, and graphics in rows taken for columns, at several cuts, where
    the finder asks (rows FOUND_COLUMN_BYTES wide; the model learns from the others too);
    with `where`, the graphics in rows taken for columns at the finder's cut."""
    asked = (X[:, 0] >= FOUND_COLUMN_BYTES[0]) & (X[:, 0] <= FOUND_COLUMN_BYTES[1])
    p = np.where(asked, model.predict_proba(X)[:, 1], 0)
    print("%s: %d regions, %d fonts in columns" % (title, len(y), int(y.sum())))
    for cut in (0.5, 0.8, 0.9, 0.95):
        print("  score >= %.2f: %d of the fonts in columns, %d of %d graphics in rows" % (
            cut, int(((p >= cut) & (y == 1)).sum()), int(((p >= cut) & (y == 0)).sum()),
            int((y == 0).sum())))
    for i in np.flatnonzero((y == 0) & (p >= MIN_COLUMN_SCORE)) if where else []:
        print("    rows taken for columns: %s @%d %s (%s) %.3f" % (where[i] + (p[i],)))
