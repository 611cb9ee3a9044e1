"""Runs the project's tools over the corpus: the finder's candidates and their measures
(finder-features), and the regions it reports (pixmole-batch --find)."""
import concurrent.futures
import os
import subprocess


def candidates(tool, paths, jobs=2, windows=False, columns=False):
    """{path: [(first, last, width, group, layout, score, [measures])]}, and the measures' names; with
    `windows`, {path: [(first, [measures])]} of the scan's windows; with `columns`, {path: [(first,
    last, width, layout, period, phase, score, [measures])]} of the regions found as rows 1 to 4
    bytes wide, measured as pixel columns."""
    chunks = [paths[i::jobs * 8] for i in range(jobs * 8)]
    keys = 2 if windows else 8 if columns else 7

    def key_of(f):
        if windows:
            return (int(f[1]),)
        if columns:
            return (int(f[1]), int(f[2]), int(f[3]), f[4], int(f[5]), int(f[6]), float(f[7]))
        return (int(f[1]), int(f[2]), int(f[3]), int(f[4]), f[5], float(f[6]))

    def run(chunk):
        if not chunk:
            return None, {}
        option = ["--windows"] if windows else ["--columns"] if columns else []
        out = subprocess.run([tool] + option + chunk, check=True, capture_output=True,
                             text=True).stdout
        lines = out.splitlines()
        names = lines[0].split("\t")[keys:]
        found = {p: [] for p in chunk}
        for line in lines[1:]:
            f = line.split("\t")
            found[chunk[int(f[0])]].append(key_of(f) + ([float(x) for x in f[keys:]],))
        return names, found

    result, names = {}, None
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for n, found in pool.map(run, chunks):
            names = names or n
            result.update(found)
    return result, names


def regions(batch, paths, jobs=2):
    """{path: [(first, length, width, score, layout)] best first} as pixmole-batch --find prints them,
    and the seconds each file took."""
    import time

    def run(path):
        start = time.perf_counter()
        out = subprocess.run([batch, "--find", path], check=True, capture_output=True,
                             text=True).stdout
        took = time.perf_counter() - start
        found = []
        for line in out.splitlines():
            f = line.split("\t")
            found.append((int(f[0]), int(f[1]), int(f[2]), float(f[3]), f[4]))
        return path, found, took

    result, seconds = {}, {}
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for path, found, took in pool.map(run, paths):
            result[path] = found
            seconds[path] = took
    return result, seconds
