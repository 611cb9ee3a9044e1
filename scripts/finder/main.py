"""scripts/finder-train and scripts/finder-eval."""
import argparse
import json
import os
import subprocess
import sys

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
top = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, here)

import corpus  # noqa: E402
import evaluate  # noqa: E402
import measure  # noqa: E402
import screenfonts  # noqa: E402
import train  # noqa: E402


def build_tools(build):
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "-S", top, "-B", build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DPIXMOLE_TESTS=OFF",
                        "-DPIXMOLE_BENCH=OFF", "-DPIXMOLE_GTK=OFF"], check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "pixmole-batch", "finder-features"],
                   check=True, stdout=subprocess.DEVNULL)
    return (os.path.join(build, "tools", "pixmole-batch"),
            os.path.join(build, "tools", "finder-features"))


def finder_models(region_model, window_model):
    return [("Region", region_model, "ModelScore", "Features"),
            ("Window", window_model, "WindowScore", "WindowFeatures")]


def train_columns(part, held, tool):
    """The model that tells fonts stored in pixel columns from graphics in rows, among the regions
    found 1 to 4 bytes wide: trained on the training part, reported on both, written as C++."""
    X, y, names, _ = train.column_dataset(part, tool)
    model = train.fit(X, y, trees=60, depth=3)
    train.report_columns(model, X, y, "columns, training part")
    Xe, ye, _, where = train.column_dataset(held, tool)
    train.report_columns(model, Xe, ye, "columns, evaluation part", where)
    summary = "%d regions of %d files." % (len(y), len(part))
    train.write_cpp([("Column", model, "ColumnScore", "ColumnFeatures")],
                    os.path.join(top, "viewer", "finder_columns_model.cpp"), summary,
                    "columns model")
    order = np.argsort(-model.feature_importances_)
    print("column measures by importance:", ", ".join("%s %.3f" % (names[i],
          model.feature_importances_[i]) for i in order))


def load(cache, seed, made, smoke=False):
    path = os.path.join(cache, "manifest-%s%d.json" % ("smoke-" if smoke else "", seed))
    if os.path.exists(path):
        with open(path) as f:
            return json.load(f)
    return corpus.build(cache, seed, made, smoke)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["train", "eval"])
    parser.add_argument("--cache", default=os.path.join(top, "build-finder", "corpus"))
    parser.add_argument("--build", default=os.path.join(top, "build-finder"))
    parser.add_argument("--split", default="eval")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--made", type=int, default=600)
    parser.add_argument("--quick", action="store_true", help="an eighth of the files only")
    parser.add_argument("--positive-weight", type=float, default=5.0,
                        help="what a real graphic's candidate counts for against a negative's")
    parser.add_argument("--smoke", action="store_true",
                        help="a small corpus of a few packages of the evaluation part (the test)")
    parser.add_argument("--batch", help="the pixmole-batch to evaluate, instead of building one")
    parser.add_argument("--columns-only", action="store_true",
                        help="train the columns model only, with the other models as they are")
    parser.add_argument("--require", default="",
                        help="figures to reach, as name=value,...: false_per_mb at most, the "
                        "others at least; exit 1 when one is missed")
    args = parser.parse_args()
    entries = load(args.cache, args.seed, 40 if args.smoke else args.made, args.smoke)
    if entries is None:
        print("the corpus cannot be fetched (no network?)")
        sys.exit(77)
    if args.batch:
        batch, tool = args.batch, None
    else:
        batch, tool = build_tools(args.build)
    if args.command == "train":
        part = [e for e in entries if e["split"] == "train"]
        held = [e for e in entries if e["split"] == "eval"]
        if args.columns_only:
            train_columns(part, held, tool)
            build_tools(args.build)
            return
        model_path = os.path.join(top, "viewer", "finder_model.cpp")
        # First the windows' model: which windows the scan reads further. The candidates the
        # regions' model learns from are those the scan finds with it in place.
        Xw, yw, kw, names_w, _ = train.window_dataset(part, tool)
        window_model = train.fit(Xw, yw, trees=60, depth=3)
        train.report_windows(window_model, Xw, yw, kw, "windows, training part")
        Xwe, ywe, kwe, _, _ = train.window_dataset(held, tool)
        train.report_windows(window_model, Xwe, ywe, kwe, "windows, evaluation part")
        train.write_cpp(finder_models(None, window_model), model_path, "", "models")
        batch, tool = build_tools(args.build)
        X, y, groups, kinds, names, _ = train.dataset(part, tool)
        print("training on %d candidates, %d positive" % (len(y), int(y.sum())), flush=True)
        # Real graphics are rare among the candidates: each counts as this many, so that the model
        # does not learn to say "no" to everything small.
        model = train.fit(X, y, positive_weight=args.positive_weight)
        train.report(model, X, y, kinds, "training part (seen)")
        Xe, ye, _, kinds_e, _, _ = train.dataset(held, tool)
        train.report(model, Xe, ye, kinds_e, "evaluation part (unseen)")
        summary = "%d candidates and %d windows of %d files." % (len(y), len(yw), len(part))
        train.write_cpp(finder_models(model, window_model), model_path, summary, "models")
        batch, tool = build_tools(args.build)
        train_columns(part, held, tool)
        build_tools(args.build)
        order = np.argsort(-model.feature_importances_)
        print("measures by importance:", ", ".join("%s %.3f" % (names[i],
              model.feature_importances_[i]) for i in order))
    else:
        part = [e for e in entries if e["split"] == args.split]
        if args.quick:
            part = part[::8]
        found, seconds = measure.regions(batch, [e["path"] for e in part])
        figures = evaluate.evaluate(part, found, seconds)
        if not args.smoke:
            screenfonts.run(args.cache, entries, args.split, batch,
                            os.path.join(args.build, "screen-fonts"))
        missed = []
        for item in filter(None, args.require.split(",")):
            name, value = item.split("=")
            got = figures[name]
            if (got > float(value)) if name == "false_per_mb" else (got < float(value)):
                missed.append("%s %.3f (wanted %s)" % (name, got, value))
        if missed:
            print("missed: " + "; ".join(missed))
            sys.exit(1)


if __name__ == "__main__":
    main()
