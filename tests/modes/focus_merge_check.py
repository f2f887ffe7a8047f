#!/usr/bin/python3
"""Independent check of vantor-focus-merge on a synthetic stack with a known depth map.

A seeded textured scene is blurred per slice by its distance to a tilted depth plane (21 slices,
1280 x 1024). The merged image must, in at least 90 % of the textured 32 x 32 blocks, reach 90 %
of the best slice's variance of Laplacian, and its RMS error against the sharp scene must be
below half that of the best single slice.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import cv2
import numpy as np
import tifffile

W, H, N = 1280, 1024, 21


def scene(rng):
    base = rng.integers(0, 256, (H // 4, W // 4)).astype(np.float32)
    base = cv2.resize(base, (W, H), interpolation=cv2.INTER_CUBIC)
    fine = rng.normal(0, 25, (H, W)).astype(np.float32)
    img = cv2.GaussianBlur(base, (0, 0), 2.0) + cv2.GaussianBlur(fine, (0, 0), 0.8)
    return np.clip(img, 0, 255).astype(np.float32)


def stack(sharp):
    yy, xx = np.mgrid[0:H, 0:W].astype(np.float32)
    depth = (N - 1) * (0.1 + 0.8 * (xx / W * 0.7 + yy / H * 0.3))  # tilted plane, in slices
    levels = [sharp] + [cv2.GaussianBlur(sharp, (0, 0), 0.6 * d) for d in range(1, N)]
    slices = []
    for i in range(N):
        dist = np.abs(depth - i)
        lo = np.floor(dist).astype(int).clip(0, N - 1)
        hi = (lo + 1).clip(0, N - 1)
        t = dist - np.floor(dist)
        out = np.zeros_like(sharp)
        for d in range(N):
            m = lo == d
            if m.any():
                out[m] += (1 - t[m]) * levels[d][m]
            m = hi == d
            if m.any():
                out[m] += t[m] * levels[d][m]
        slices.append(np.clip(np.rint(out), 0, 255).astype(np.uint8))
    return slices


def vol(img):
    return cv2.Laplacian(img.astype(np.float64), cv2.CV_64F).var()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--sr", action="store_true")
    args = ap.parse_args()
    rng = np.random.default_rng(20261207)
    sharp = scene(rng)
    slices = stack(sharp)
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for i, s in enumerate(slices):
            p = os.path.join(tmp, "cells_%04d.tif" % i)
            tifffile.imwrite(p, s)
            paths.append(p)
        out = os.path.join(tmp, "cells_merged.tif")
        cmd = [args.tool] + (["--sr"] if args.sr else []) + [out] + paths
        subprocess.run(cmd, check=True)
        merged = tifffile.imread(out)
    assert merged.shape == (H, W) and merged.dtype == np.uint8, merged.shape

    good = textured = 0
    for y in range(0, H, 32):
        for x in range(0, W, 32):
            if sharp[y:y + 32, x:x + 32].std() < 5:
                continue
            textured += 1
            best = max(vol(s[y:y + 32, x:x + 32]) for s in slices)
            if vol(merged[y:y + 32, x:x + 32]) >= 0.9 * best:
                good += 1
    ref = np.clip(np.rint(sharp), 0, 255)
    rms = lambda a: float(np.sqrt(np.mean((a.astype(np.float64) - ref) ** 2)))
    best_rms = min(rms(s) for s in slices)
    merged_rms = rms(merged)
    share = good / max(textured, 1)
    print("textured blocks %d, sharp enough %.1f %%, RMS merged %.2f, best slice %.2f"
          % (textured, 100 * share, merged_rms, best_rms))
    ok = share >= 0.9 and merged_rms < 0.5 * best_rms
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
