#!/usr/bin/python3
"""Accuracy of the counting engines against the synthetic truth, beside the classic counter.

    count_accuracy.py [--tool PATH] [--engines LIST] [--report-only LIST] [--keep DIR]
    count_accuracy.py --two-colour [--tool PATH] [--engines twocolour,quick] [--keep DIR]

Makes the isolated set and the dilution series (countsynth.py) in a temporary folder, checks the
frames and the scorer, counts every frame with the classic counter (countbaseline.py) and with
each engine named in LIST (comma-separated) through the counting tool, run as
"PATH --engine NAME IMAGE.tif" and printing x,y,diameter_um,live on standard output; then prints
one table. PATH defaults to vantor-count in the build's bin folder. Exits with status 1 when a
check fails or an engine misses its targets; the engines of --report-only have their misses printed
as MISSED without failing (a known miss, tracked elsewhere, must not hide the other checks). --keep DIR writes the sets to DIR and keeps them.

--two-colour scores the three-channel engines on the isolated set drawn as RGB images (green live,
red dead, blue brightfield): "twocolour" by F1 and viability against the truth, "quick", which prints
no cells, by its total against the live cells.
"""
import argparse
import csv
import math
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import tifffile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import countbaseline  # noqa: E402
import countscore  # noqa: E402
import countsynth  # noqa: E402

# Engines with targets: F1 on the isolated set, the count error at every N of the series (mean of
# its frames), the series' R2, viability error and diameter bias, and F1 over all frames ahead of
# the classic counter. Other engines are measured only.
TARGETS = {
    name: {"isolated_f1": 0.9, "count_error_sqrt_n": 2.0, "r2": 0.99, "viability_points": 5.0,
           "diameter_bias_um": 1.5}
    for name in ("pipeline", "finder4")
}


TWO_COLOUR_TARGETS = {"twocolour": {"isolated_f1": 0.9, "viability_points": 3.0},
                      "quick": {"live_count_error": 0.10}}


class Failures(list):
    def check(self, ok, what):
        if not ok:
            self.append(what)
        return ok


def truth_of(csv_path):
    with open(csv_path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], countscore.parse_cells("\n".join(",".join(r) for r in rows))


def check_sets(frames, failures):
    for set_name, n, tif, truth_csv in frames:
        image = tifffile.imread(tif)
        name = os.path.basename(tif)
        failures.check(image.dtype == np.uint8 and image.shape == (countsynth.HEIGHT, countsynth.WIDTH),
                       "%s: %s %s, not 8-bit 1280 x 1024" % (name, image.dtype, image.shape))
        failures.check(abs(float(image.mean()) - countsynth.MEAN_GREY) <= 10.0,
                       "%s: mean grey %.1f" % (name, image.mean()))
        header, truth = truth_of(truth_csv)
        failures.check(header == ["x", "y", "diameter_um", "live", "clump"] and len(truth) == n,
                       "%s: truth header %s, %d rows for %d cells" % (name, header, len(truth), n))
    set_name, n, tif, _ = min(frames, key=lambda f: f[1])
    again, _ = countsynth.make_frame(set_name, n, int(os.path.basename(tif)[:-4].rsplit("_", 1)[1]))
    failures.check(np.array_equal(again, tifffile.imread(tif)), "%s is not made the same again" % tif)


def check_scorer(frames, failures):
    """Truth against itself scores perfectly; moved by more than a radius it scores nothing."""
    rng = np.random.default_rng(1)
    for set_name, n, tif, truth_csv in frames:
        _, truth = truth_of(truth_csv)
        s = countscore.summarise([countscore.FrameScore(truth, truth)])
        failures.check(s["f1"] == 1.0 and s["count_error"] == 0.0 and s["viability_error"] == 0.0
                       and s["diameter_bias"] == 0.0, "%s scored against itself: %s" % (tif, s))
        if set_name != "isolated":  # only there is no other cell within a radius of a moved one
            continue
        angle = rng.uniform(0, 2 * np.pi, len(truth))
        radius = truth[:, 2] / countscore.UM_PER_PX / 2.0
        for factor, f1 in ((1.05, 0.0), (0.95, 1.0)):
            moved = truth.copy()
            moved[:, 0] += factor * radius * np.cos(angle)
            moved[:, 1] += factor * radius * np.sin(angle)
            got = countscore.summarise([countscore.FrameScore(moved, truth)])["f1"]
            failures.check(got == f1, "%s moved by %.2f radius: F1 %.3f, not %.1f" % (tif, factor, got, f1))


def run_engine(name, tool, frames, failures):
    scores = []
    for set_name, n, tif, truth_csv in frames:
        _, truth = truth_of(truth_csv)
        start = time.monotonic()
        if name == "classic":
            found = countbaseline.count(tifffile.imread(tif))
        else:
            done = subprocess.run([tool, "--engine", name, tif], capture_output=True, text=True, timeout=120)
            if not failures.check(done.returncode == 0, "%s on %s: status %d: %s"
                                  % (name, tif, done.returncode, done.stderr.strip())):
                return None
            found = countscore.parse_cells(done.stdout)
        scores.append((set_name, n, countscore.FrameScore(found, truth, time.monotonic() - start)))
    return scores


def groups(scores):
    """(row name, summary) for the isolated set, each N of the series, the series, all frames."""
    rows = [("isolated", [f for s, _, f in scores if s == "isolated"])]
    for n in sorted({n for s, n, _ in scores if s == "series"}):
        rows.append(("N=%d" % n, [f for s, m, f in scores if s == "series" and m == n]))
    rows.append(("series", [f for s, _, f in scores if s == "series"]))
    rows.append(("all", [f for _, _, f in scores]))
    return [(name, countscore.summarise(frames)) for name, frames in rows if frames]


def print_table(results):
    head = "%-9s %-9s %6s %6s %6s %6s %6s %6s %8s %6s %7s %7s %7s" % (
        "engine", "frames", "n", "true", "found", "prec", "recall", "F1", "count%", "R2", "viab", "diam", "s/fr")
    print(head)
    print("-" * len(head))
    for engine, rows in results.items():
        for name, s in rows:
            print("%-9s %-9s %6d %6d %6d %6.3f %6.3f %6.3f %+8.1f %6s %+7.1f %+7.2f %7.3f" % (
                engine, name, s["frames"], s["true"], s["found"], s["precision"], s["recall"], s["f1"],
                100.0 * s["count_error"], "%.4f" % s["r2"] if s["r2"] is not None else "-",
                s["viability_error"], s["diameter_bias"], s["seconds"]))


def check_targets(engine, rows, classic_f1, failures):
    t = TARGETS.get(engine)
    if not t:
        return
    by = dict(rows)
    failures.check(by["isolated"]["f1"] >= t["isolated_f1"],
                   "%s: isolated F1 %.3f below %.2f" % (engine, by["isolated"]["f1"], t["isolated_f1"]))
    for name, s in rows:
        if name.startswith("N="):
            bound = t["count_error_sqrt_n"] / math.sqrt(int(name[2:]))
            failures.check(abs(s["count_error"]) <= bound, "%s: count error %.1f %% at %s, beyond %.1f %%"
                           % (engine, 100 * s["count_error"], name, 100 * bound))
    series = by["series"]
    failures.check(series["r2"] is not None and series["r2"] >= t["r2"], "%s: R2 %s below %.2f" % (engine, series["r2"], t["r2"]))
    failures.check(abs(series["viability_error"]) <= t["viability_points"],
                   "%s: viability error %.1f points" % (engine, series["viability_error"]))
    failures.check(abs(series["diameter_bias"]) <= t["diameter_bias_um"],
                   "%s: diameter bias %.2f um" % (engine, series["diameter_bias"]))
    failures.check(by["all"]["f1"] > classic_f1, "%s: F1 %.3f not ahead of the classic counter's %.3f"
                   % (engine, by["all"]["f1"], classic_f1))


def total_of(summary):
    """The total of the tool's summary line "total=N live=... ..."."""
    fields = dict(f.split("=", 1) for f in summary.split() if "=" in f)
    return int(fields["total"])


def two_colour(engines, tool, keep):
    """Counts the two-colour isolated set with each engine; returns the failures."""
    failures = Failures()
    with tempfile.TemporaryDirectory(prefix="count_accuracy_") as temp:
        frames = countsynth.write_sets(keep or temp, ("isolated",), two_colour=True)
        for set_name, n, tif, truth_csv in frames:
            image = tifffile.imread(tif)
            failures.check(image.dtype == np.uint8 and image.shape == (countsynth.HEIGHT, countsynth.WIDTH, 3),
                           "%s: %s %s, not 8-bit RGB" % (tif, image.dtype, image.shape))
        print("%-10s %6s %6s %6s %7s %7s" % ("engine", "true", "found", "F1", "viab", "live%"))
        for engine in engines:
            scores, live, counted = [], 0, 0
            for set_name, n, tif, truth_csv in frames:
                _, truth = truth_of(truth_csv)
                done = subprocess.run([tool, "--engine", engine, tif], capture_output=True, text=True, timeout=120)
                if not failures.check(done.returncode == 0, "%s on %s: status %d: %s"
                                      % (engine, tif, done.returncode, done.stderr.strip())):
                    break
                scores.append(countscore.FrameScore(countscore.parse_cells(done.stdout), truth))
                live += int(truth[:, 3].sum())
                counted += total_of(done.stderr)
            else:
                s = countscore.summarise(scores)
                error = (counted - live) / live
                t = TWO_COLOUR_TARGETS.get(engine, {})
                cells = "live_count_error" not in t  # the quick count prints no cells, only its total
                print("%-10s %6d %6d %6s %7s %+7.1f" % (
                    engine, s["true"], s["found"] if cells else counted, "%.3f" % s["f1"] if cells else "-",
                    "%+.1f" % s["viability_error"] if cells else "-", 100.0 * error))
                if "isolated_f1" in t:
                    failures.check(s["f1"] >= t["isolated_f1"], "%s: F1 %.3f below %.2f"
                                   % (engine, s["f1"], t["isolated_f1"]))
                    failures.check(abs(s["viability_error"]) <= t["viability_points"], "%s: viability error %.1f"
                                   % (engine, s["viability_error"]))
                if "live_count_error" in t:
                    failures.check(abs(error) <= t["live_count_error"], "%s: %d counted for %d live cells"
                                   % (engine, counted, live))
    return failures


def default_tool():
    build = os.environ.get("VANTOR_BINARY_DIR") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build")
    return os.path.join(build, "bin", "vantor-count")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default=None, help="the counting tool (default: the build's vantor-count)")
    parser.add_argument("--engines", default="", help="comma-separated engine names of the tool")
    parser.add_argument("--report-only", default="", help="engines whose target misses do not fail")
    parser.add_argument("--keep", default=None, help="write the sets to this folder and keep them")
    parser.add_argument("--two-colour", action="store_true", help="score the three-channel engines")
    args = parser.parse_args()
    engines = [e for e in args.engines.split(",") if e]
    tool = args.tool or default_tool()
    if engines and not os.access(tool, os.X_OK):
        sys.exit("no counting tool at %s" % tool)
    if args.two_colour:
        failures = two_colour(engines, tool, args.keep)
        for f in failures:
            print("FAILED:", f)
        sys.exit(1 if failures else 0)

    failures = Failures()
    with tempfile.TemporaryDirectory(prefix="count_accuracy_") as temp:
        frames = countsynth.write_sets(args.keep or temp)
        check_sets(frames, failures)
        check_scorer(frames, failures)
        results = {}
        for engine in ["classic"] + engines:
            scores = run_engine(engine, tool, frames, failures)
            if scores:
                results[engine] = groups(scores)
    print_table(results)
    classic_f1 = dict(results["classic"])["all"]["f1"]
    misses = Failures()
    report_only = set(e for e in args.report_only.split(",") if e)
    for engine in engines:
        if engine in results:
            check_targets(engine, results[engine], classic_f1, misses if engine in report_only else failures)
    for f in misses:
        print("MISSED:", f)
    for f in failures:
        print("FAILED:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
