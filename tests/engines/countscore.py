#!/usr/bin/python3
"""Scores found cells against the synthetic truth.

    countscore.py TRUTH.csv FOUND.csv

A found centre and a true centre pair up by Hungarian matching of the distances between them
(scipy.optimize.linear_sum_assignment); a pair counts when the centres lie closer than the true
cell's radius. Found-cell files have the columns x,y,diameter_um,live (pixels, micrometres, 0/1);
truth files add a clump column.
"""
import csv
import sys

import numpy as np
from scipy.optimize import linear_sum_assignment
from scipy.stats import linregress

from countsynth import UM_PER_PX
_FAR = 1.0e9


def read_cells(path):
    """Rows of x, y, diameter_um, live as an (n, 4) float array."""
    with open(path, newline="") as f:
        return parse_cells(f.read())


def parse_cells(text):
    rows = list(csv.DictReader(text.splitlines()))
    cells = [(float(r["x"]), float(r["y"]), float(r["diameter_um"]), float(r["live"])) for r in rows]
    return np.array(cells, dtype=np.float64).reshape(-1, 4)


def match(found, truth, um_per_px=UM_PER_PX):
    """Pairs (found index, true index) closer than the true radius."""
    if len(found) == 0 or len(truth) == 0:
        return np.zeros((0, 2), dtype=int)
    distance = np.hypot(found[:, None, 0] - truth[None, :, 0], found[:, None, 1] - truth[None, :, 1])
    radius = truth[:, 2] / um_per_px / 2.0
    cost = np.where(distance < radius[None, :], distance, _FAR)
    rows, cols = linear_sum_assignment(cost)
    keep = cost[rows, cols] < _FAR
    return np.stack([rows[keep], cols[keep]], axis=1)


class FrameScore:
    """What one frame contributes to the figures."""

    def __init__(self, found, truth, seconds=0.0, um_per_px=UM_PER_PX):
        pairs = match(found, truth, um_per_px)
        self.true_count, self.found_count, self.matched = len(truth), len(found), len(pairs)
        self.true_live, self.found_live = int(truth[:, 3].sum()), int(found[:, 3].sum())
        self.diameter_errors = found[pairs[:, 0], 2] - truth[pairs[:, 1], 2] if len(pairs) else np.zeros(0)
        self.seconds = seconds


def summarise(frames):
    """Figures over a group of frames:
    precision, recall, F1 from the summed matches; count_error, the mean over frames of
    (found - true) / true; r2, the squared correlation of found with true counts (None for fewer
    than 3 frames or one true count); viability_error, found minus true percent live over all the
    group's cells, in percentage points; diameter_bias, the mean found minus true diameter of the
    matched cells, in micrometres; seconds per frame."""
    tp = sum(f.matched for f in frames)
    found = sum(f.found_count for f in frames)
    true = sum(f.true_count for f in frames)
    precision = tp / found if found else 0.0
    recall = tp / true if true else 0.0
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    count_error = float(np.mean([(f.found_count - f.true_count) / f.true_count for f in frames]))
    r2 = None
    true_counts = [f.true_count for f in frames]
    if len(frames) >= 3 and len(set(true_counts)) > 1:
        fit = linregress(true_counts, [f.found_count for f in frames])
        r2 = float(fit.rvalue ** 2) if np.isfinite(fit.rvalue) else 0.0
    found_viability = 100.0 * sum(f.found_live for f in frames) / found if found else 0.0
    true_viability = 100.0 * sum(f.true_live for f in frames) / true if true else 0.0
    errors = np.concatenate([f.diameter_errors for f in frames])
    return {
        "frames": len(frames), "true": true, "found": found, "precision": precision, "recall": recall, "f1": f1,
        "count_error": count_error, "r2": r2, "viability_error": found_viability - true_viability,
        "diameter_bias": float(errors.mean()) if len(errors) else float("nan"),
        "seconds": sum(f.seconds for f in frames) / len(frames),
    }


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    s = summarise([FrameScore(read_cells(sys.argv[2]), read_cells(sys.argv[1]))])
    print(" ".join("%s=%s" % (k, "%.4g" % v if isinstance(v, float) else v) for k, v in s.items()))


if __name__ == "__main__":
    main()
