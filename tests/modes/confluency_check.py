#!/usr/bin/python3
"""Checks vantor-confluency against our own numpy/OpenCV steps.

    confluency_check.py --tool PATH      runs the tool on a generated growth series with five
                                         option sets and compares count, threshold, confluency,
                                         segmentation and count image; checks the refusals.
    confluency_check.py --compute [OPTIONS] IMAGE
                                         prints "confluency=P count=N threshold=T" from our own
                                         steps (OPTIONS as the tool takes them).
"""
import argparse
import os
import subprocess
import sys
import tempfile

import cv2
import numpy as np
import scipy.ndimage as ndi
import tifffile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import growth_series  # noqa: E402

OPTION_SETS = [
    [],
    ["--threshold", "120", "--background", "dark"],
    ["--dilate", "--min-area", "255"],
    ["--watershed", "0.2"],
    ["--watershed", "0.5", "--min-area", "100"],
]

# The option sets whose confluency must rise along the series.
RISING = (0, 2)


def option_parser():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--threshold", default="auto")
    parser.add_argument("--background", default="white", choices=["white", "dark"])
    parser.add_argument("--dilate", action="store_true")
    parser.add_argument("--min-area", type=int, default=0)
    parser.add_argument("--watershed", type=float, default=0.0)
    parser.add_argument("image")
    return parser


def read_grey(path):
    """The 8-bit grey image the analysis works on: 16-bit camera values v become v x 255 / 4094,
    rounded half up and saturated."""
    image = tifffile.imread(path)
    if image.ndim != 2:
        raise SystemExit("grey images only: %s" % path)
    if image.dtype == np.uint16:
        return np.minimum(255, (image.astype(np.int64) * 510 + 4094) // 8188).astype(np.uint8)
    return image.astype(np.uint8)


def compute(grey, opts):
    """Our own steps: (count, threshold, confluency text, object labels, segmentation image)."""
    h, w = grey.shape
    white = opts.background == "white"
    if opts.threshold == "auto":
        t, binary = cv2.threshold(grey, 0, 255, cv2.THRESH_BINARY | cv2.THRESH_OTSU)
        threshold = int(t)
        mask = binary == 0 if white else binary > 0
    else:
        threshold = int(opts.threshold)
        mask = grey < threshold if white else grey >= threshold
    mask = mask.astype(np.uint8) * 255
    if opts.dilate:
        mask = cv2.dilate(mask, cv2.getStructuringElement(cv2.MORPH_CROSS, (3, 3)))
    if opts.min_area > 0:
        mask[0, :] = 0
        mask[:, 0] = 0
        _, labels, stats, _ = cv2.connectedComponentsWithStats(mask, connectivity=4)
        keep = stats[:, cv2.CC_STAT_AREA] >= opts.min_area
        keep[0] = False
        mask = keep[labels].astype(np.uint8) * 255
    if opts.watershed > 0:
        kernel = np.ones((3, 3), np.uint8)
        opened = cv2.morphologyEx(mask, cv2.MORPH_OPEN, kernel, iterations=2)
        ring = cv2.subtract(cv2.dilate(opened, kernel, iterations=3), mask)
        distance = cv2.distanceTransform(mask, cv2.DIST_L2, 3)
        distance = cv2.normalize(distance, None, 0, 1.0, cv2.NORM_MINMAX)
        _, distance = cv2.threshold(distance, opts.watershed, 1.0, cv2.THRESH_BINARY)
        contours, _ = cv2.findContours(distance.astype(np.uint8), cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_SIMPLE)
        k = len(contours)
        markers = np.zeros((h, w), np.int32)
        for i in range(k):
            cv2.drawContours(markers, contours, i, i + 1, -1)
        markers[ring > 0] += k + 1
        if k:
            cv2.watershed(cv2.cvtColor(grey, cv2.COLOR_GRAY2BGR), markers)
        objects = (markers >= 1) & (markers <= k)
        probe = markers[1, 1] if objects[1, 1] else 0
        objects &= markers != probe
        labels = np.where(objects, markers, 0)
        count = k - 1 if probe else k
    else:
        cv2.rectangle(mask, (0, 0), (w, h), 0, 2, cv2.LINE_8, 0)
        mask[0, :] = 0
        mask[:, 0] = 0
        n, labels = cv2.connectedComponents(mask, connectivity=4)
        count = n - 1
    covered = labels > 0
    confluency = np.float32(np.count_nonzero(covered)) / np.float32(w * h) * np.float32(100)
    segmentation = np.where(covered, grey, 0).astype(np.uint8)
    return count, threshold, "%.3f" % confluency, labels, segmentation


def line(count, threshold, confluency):
    return "confluency=%s count=%d threshold=%d" % (confluency, count, threshold)


def run_tool(tool, args):
    return subprocess.run([tool] + args, capture_output=True, text=True, timeout=300)


def check_images(grey, labels, segmentation, base, where):
    """The tool's segmentation image equals ours; its count image is the source off the objects
    and one colour on each object."""
    stem, ext = os.path.splitext(base)
    # OpenCV writes LZW-compressed TIFFs, which tifffile reads only with imagecodecs.
    seg = cv2.imread(stem + "_result" + ext, cv2.IMREAD_UNCHANGED)
    if not np.array_equal(seg, segmentation):
        return ["%s: segmentation differs in %d pixels" % (where, np.count_nonzero(seg != segmentation))]
    counted = cv2.imread(stem + "_count" + ext, cv2.IMREAD_UNCHANGED).astype(np.int64)
    problems = []
    off = labels == 0
    source = np.repeat(grey[..., None], 3, axis=2)
    if not np.array_equal(counted[off], source[off]):
        problems.append("%s: count image differs from the source off the objects" % where)
    code = (counted[..., 0] << 16) | (counted[..., 1] << 8) | counted[..., 2]
    index = np.unique(labels[labels > 0])
    if index.size:
        low = np.asarray(ndi.minimum(code, labels, index))
        high = np.asarray(ndi.maximum(code, labels, index))
        if np.any(low != high):
            problems.append("%s: %d objects are not one colour" % (where, np.count_nonzero(low != high)))
    return problems


def check_refusals(tool, folder, image):
    unreadable = os.path.join(folder, "broken.tif")
    with open(unreadable, "wb") as f:
        f.write(b"II*\0not a tiff")
    refused = [
        ["--threshold", "256", image], ["--threshold", "-1", image], ["--threshold", "abc", image],
        ["--background", "grey", image], ["--min-area", "-1", image], ["--watershed", "x", image],
        ["--watershed", "-0.5", image], ["--out", os.path.join(folder, "noext"), image],
        ["--bogus", image], [], [image, image], [unreadable], [os.path.join(folder, "missing.tif")],
        ["--out", os.path.join(folder, "no", "such", "folder.tif"), image], ["--min-area"],
    ]
    problems = []
    for args in refused:
        result = run_tool(tool, args)
        lines = result.stderr.strip().split("\n")
        if result.returncode != 2 or len(lines) != 1 or not lines[0] or result.stdout:
            problems.append("not refused cleanly: %s (exit %d, stderr %r)" % (args, result.returncode, result.stderr))
    return problems


def check_tool(tool):
    problems = []
    with tempfile.TemporaryDirectory() as folder:
        series = growth_series.generate(os.path.join(folder, "series"), frames=8, seed=7, sixteen={5})
        errors, rising = [], []
        for options in OPTION_SETS:
            previous = -1.0
            for i, (path, cover) in enumerate(series):
                where = "%s %s" % (os.path.basename(path), " ".join(options) or "(defaults)")
                base = os.path.join(folder, "out", "r%d_%d.tif" % (OPTION_SETS.index(options), i))
                os.makedirs(os.path.dirname(base), exist_ok=True)
                result = run_tool(tool, options + ["--out", base, path])
                if result.returncode != 0:
                    problems.append("%s: exit %d: %s" % (where, result.returncode, result.stderr.strip()))
                    continue
                grey = read_grey(path)
                count, threshold, confluency, labels, segmentation = compute(
                    grey, option_parser().parse_args(options + [path]))
                expected = line(count, threshold, confluency)
                if result.stdout.strip() != expected:
                    problems.append("%s: tool %r, ours %r" % (where, result.stdout.strip(), expected))
                problems += check_images(grey, labels, segmentation, base, where)
                value = float(confluency)
                # Only a white background measures the cells of these frames; the watershed road
                # drops the region under its probe at row 1, column 1 as background.
                if OPTION_SETS.index(options) in RISING and value <= previous:
                    rising.append("%s: confluency %.3f not above %.3f" % (where, value, previous))
                previous = value
                errors.append(abs(value - cover))
                if not options:
                    print("%s true %.3f tool %s" % (os.path.basename(path), cover, result.stdout.strip()))
            print("%s: mean error to the true cover %.3f %%" % (" ".join(options) or "defaults",
                                                                  np.mean(errors[-len(series):])))
        problems += rising
        # Without --out the images go to a temporary folder and nothing is left beside the source.
        before = sorted(os.listdir(os.path.dirname(series[0][0])))
        if run_tool(tool, [series[0][0]]).returncode != 0 or sorted(os.listdir(os.path.dirname(series[0][0]))) != before:
            problems.append("a run without --out failed or wrote beside the source")
        problems += check_refusals(tool, folder, series[0][0])
    for p in problems:
        print("FAIL", p)
    print("%d problems" % len(problems))
    return 1 if problems else 0


def main():
    if "--compute" in sys.argv[1:]:
        args = [a for a in sys.argv[1:] if a != "--compute"]
        opts = option_parser().parse_args(args)
        count, threshold, confluency, _, _ = compute(read_grey(opts.image), opts)
        print(line(count, threshold, confluency))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", required=True)
    return check_tool(parser.parse_args().tool)


if __name__ == "__main__":
    sys.exit(main())
