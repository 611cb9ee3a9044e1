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


def load(cache, seed, made):
    path = os.path.join(cache, "manifest-%d.json" % seed)
    if os.path.exists(path):
        with open(path) as f:
            return json.load(f)
    return corpus.build(cache, seed, made)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["train", "eval"])
    parser.add_argument("--cache", default=os.path.join(top, "build-finder", "corpus"))
    parser.add_argument("--build", default=os.path.join(top, "build-finder"))
    parser.add_argument("--split", default="eval")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--made", type=int, default=600)
    parser.add_argument("--quick", action="store_true", help="a few MB of each kind only")
    args = parser.parse_args()
    entries = load(args.cache, args.seed, args.made)
    batch, tool = build_tools(args.build)
    if args.command == "train":
        part = [e for e in entries if e["split"] == "train"]
        X, y, groups, kinds, names = train.dataset(
            part, tool, keep=os.path.join(args.cache, "dataset-train.pickle"))
        print("training on %d candidates, %d positive" % (len(y), int(y.sum())), flush=True)
        model = train.fit(X, y)
        train.report(model, X, y, kinds, "training part (seen)")
        held = [e for e in entries if e["split"] == "eval"]
        Xe, ye, _, kinds_e, _ = train.dataset(
            held, tool, keep=os.path.join(args.cache, "dataset-eval.pickle"))
        train.report(model, Xe, ye, kinds_e, "evaluation part (unseen)")
        summary = "%d candidates from %d files." % (len(y), len(part))
        train.write_cpp(model, names, os.path.join(top, "viewer", "finder_model.cpp"), summary)
        order = np.argsort(-model.feature_importances_)
        print("measures by importance:", ", ".join("%s %.3f" % (names[i],
              model.feature_importances_[i]) for i in order))
    else:
        part = [e for e in entries if e["split"] == args.split]
        if args.quick:
            part = part[::8]
        found, seconds = measure.regions(batch, [e["path"] for e in part])
        evaluate.evaluate(part, found, seconds)


if __name__ == "__main__":
    main()
