#!/usr/bin/python3
"""Seeded frames of a culture growing from about 5 % to 90 % cover, as the camera sees it under
transmitted light: dark cells with a light halo on an uneven bright background, with noise.

    growth_series.py OUT [--frames N] [--seed S] [--sixteen I,J,...]

writes OUT/frame_00.tif ... (1280 x 1024, 8-bit grey; the frames listed by --sixteen as 16-bit
camera values 0..4095) and OUT/truth.csv ("file,cover" with the true cover in percent).
"""
import argparse
import csv
import os

import cv2
import numpy as np
import tifffile

WIDTH, HEIGHT = 1280, 1024


def covers(frames):
    """The target cover of each frame, rising evenly from 5 % to 90 %."""
    if frames == 1:
        return [0.5]
    return [0.05 + 0.85 * i / (frames - 1) for i in range(frames)]


def background(rng):
    """Bright, uneven illumination: a tilt and a soft vignette."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    tilt = rng.uniform(-12, 12) * (x / WIDTH - 0.5) + rng.uniform(-8, 8) * (y / HEIGHT - 0.5)
    r2 = ((x - WIDTH / 2) / WIDTH) ** 2 + ((y - HEIGHT / 2) / HEIGHT) ** 2
    return 195.0 + tilt - 40.0 * r2


def grow(rng, mask, cells, target):
    """Adds cells (ellipses, half of them beside an existing cell) until mask covers target."""
    total = mask.size
    while np.count_nonzero(mask) < target * total:
        if cells and rng.random() < 0.5:
            px, py = cells[int(rng.integers(len(cells)))][:2]
            cx = int(np.clip(px + rng.normal(0, 25), 0, WIDTH - 1))
            cy = int(np.clip(py + rng.normal(0, 25), 0, HEIGHT - 1))
        else:
            cx, cy = int(rng.integers(WIDTH)), int(rng.integers(HEIGHT))
        axes = (int(rng.integers(9, 26)), int(rng.integers(6, 15)))
        cell = (cx, cy, axes, float(rng.uniform(0, 180)), float(rng.uniform(0.45, 0.65)))
        cells.append(cell)
        cv2.ellipse(mask, (cx, cy), axes, cell[3], 0, 360, 255, -1)


def render(rng, base, mask, cells):
    """The frame in grey values 0..255 (float): cells darker, a bright halo outside them, noise."""
    shade = np.ones((HEIGHT, WIDTH), np.float32)
    for cx, cy, axes, angle, depth in cells:
        cv2.ellipse(shade, (cx, cy), axes, angle, 0, 360, depth, -1)
    inside = mask > 0
    halo = (cv2.dilate(mask, cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (7, 7))) > 0) & ~inside
    image = base * shade
    image[halo] = base[halo] * 1.12
    image = cv2.GaussianBlur(image, (0, 0), 1.0)
    image += rng.normal(0, 4.0, image.shape).astype(np.float32)
    return image


def generate(out, frames=8, seed=1, sixteen=()):
    """Writes the series and truth.csv into out; returns [(path, true cover in percent)]."""
    os.makedirs(out, exist_ok=True)
    rng = np.random.default_rng(seed)
    base = background(rng)
    mask = np.zeros((HEIGHT, WIDTH), np.uint8)
    cells = []
    series = []
    for i, target in enumerate(covers(frames)):
        grow(rng, mask, cells, target)
        image = render(rng, base, mask, cells)
        path = os.path.join(out, "frame_%02d.tif" % i)
        if i in sixteen:
            tifffile.imwrite(path, np.clip(np.rint(image * 4094.0 / 255.0), 0, 4095).astype(np.uint16))
        else:
            tifffile.imwrite(path, np.clip(np.rint(image), 0, 255).astype(np.uint8))
        series.append((path, 100.0 * np.count_nonzero(mask) / mask.size))
    with open(os.path.join(out, "truth.csv"), "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["file", "cover"])
        for path, cover in series:
            writer.writerow([os.path.basename(path), "%.3f" % cover])
    return series


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("out")
    parser.add_argument("--frames", type=int, default=8)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--sixteen", default="", help="indexes of the frames written as 16-bit camera values")
    args = parser.parse_args()
    sixteen = {int(s) for s in args.sixteen.split(",") if s}
    for path, cover in generate(args.out, args.frames, args.seed, sixteen):
        print("%s %.3f" % (path, cover))


if __name__ == "__main__":
    main()
