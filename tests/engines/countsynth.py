#!/usr/bin/python3
"""Seeded synthetic brightfield frames of a counting slide, each with its ground truth.

    countsynth.py OUTDIR [--set isolated|series|all] [--two-colour]

Writes NAME.tif (1280 x 1024, 8-bit grey) and NAME.csv (x,y,diameter_um,live,clump: centre in
pixels, equivalent diameter in micrometres, 1 for a live cell, the clump number or 0 for a cell on
its own) per frame. The frames stand for the 10X objective behind the 0.655 reduction lens on the
3.63 um camera pixels, with the light set for a mean grey near 150 as the cell-count page leaves it.
With --two-colour each NAME.tif is an 8-bit RGB image of the same cells: live cells stained in the
green plane, dead cells in the red plane, the brightfield frame in the blue plane.

The parameters below are fixed: they describe the specimen, never an engine, and are not tuned to
make any counter look better.
"""
import argparse
import csv
import os
import zlib

import cv2
import numpy as np
import tifffile

WIDTH, HEIGHT = 1280, 1024
CAMERA_PIXEL_UM = 3.63
OBJECTIVE = 10
REDUCTION_LENS = 0.655
UM_PER_PX = CAMERA_PIXEL_UM / (OBJECTIVE * REDUCTION_LENS)  # 0.5542

LIVE_DIAMETER_UM = (10.0, 16.0)   # dark ring round a centre brighter than the background
DEAD_DIAMETER_UM = (7.0, 12.0)    # dark discs
DEBRIS_DIAMETER_UM = (1.0, 3.0)   # small dark specks, not in the truth
CLUMP_CELLS = (2, 8)              # touching cells per clump
LIVE_FRACTION = 0.8
CLUMP_FRACTION = 0.2              # share of the cells of a series frame that sit in clumps
ELLIPTICITY = 0.08                # cells are drawn up to 8 % longer than wide, area kept
RING_WIDTH = (0.22, 0.32)         # fraction of the radius
RING_LEVEL = (0.30, 0.45)         # transmission of a live cell's ring
CENTRE_LEVEL = (1.12, 1.25)       # transmission of a live cell's centre
DEAD_LEVEL = (0.35, 0.55)         # transmission of a dead cell
DEBRIS_LEVEL = (0.45, 0.75)
DEBRIS_PER_FRAME = (20, 0.1)      # 20 plus a tenth of the cell count
VIGNETTING = 0.15                 # corners this much darker than the centre
DEFOCUS_PX = (0.0, 1.5)           # Gaussian blur sigma
MEAN_GREY = 150.0
ELECTRONS_PER_GREY = 20.0         # shot noise: Poisson electrons, this many per grey level
READ_NOISE_GREY = 1.5
ISOLATED_GAP_PX = 4               # least edge-to-edge distance of the isolated set
SERIES_GAP_PX = 0                 # cells of a series frame may touch by chance
SEED = 22
STAIN_LEVEL = (120.0, 200.0)      # two-colour sets: grey of a stained cell over the dark field
ELECTRONS_PER_STAIN_GREY = 5.0    # shot noise of the stain
STAIN_DARK_LEVEL = 12.0           # the dark field: the camera's black level and some autofluorescence,
STAIN_DARK_NOISE = 3.0            # with its read noise (grey levels)

SETS = {
    "isolated": [(100, k) for k in (1, 2, 3, 4)],
    "series": [(n, k) for n in (25, 50, 100, 200, 400, 800, 1600) for k in (1, 2)],
}


def frame_name(set_name, n, k):
    return "%s_%04d_%d" % (set_name, n, k)


def _seed(name):
    return zlib.crc32(("%d:%s" % (SEED, name)).encode())


class _Free:
    """Where a disc may still go: the distance of every pixel to the nearest occupied one (or to
    the frame edge), refreshed now and then; discs placed since are checked one by one."""

    def __init__(self):
        self.occupied = np.zeros((HEIGHT, WIDTH), np.uint8)
        self.occupied[[0, -1], :] = 1
        self.occupied[:, [0, -1]] = 1
        self.refresh()

    def refresh(self):
        self.distance = cv2.distanceTransform(1 - self.occupied, cv2.DIST_L2, cv2.DIST_MASK_5)
        self.recent = np.zeros((0, 3))
        self.cache = {}

    def candidates(self, clearance):
        """Pixels farther than clearance (rounded up) from everything but the recent discs."""
        key = int(np.ceil(clearance))
        if key not in self.cache:
            self.cache[key] = np.flatnonzero(self.distance > key + 1.0)
        return self.cache[key]

    def fits(self, x, y, r, gap):
        if self.distance[int(y), int(x)] <= r + gap + 1.0:
            return False
        p = self.recent
        return bool(np.all((p[:, 0] - x) ** 2 + (p[:, 1] - y) ** 2 >= (p[:, 2] + r + gap) ** 2))

    def take(self, x, y, r):
        cv2.circle(self.occupied, (int(round(x)), int(round(y))), int(np.ceil(r)), 1, -1)
        self.recent = np.vstack([self.recent, (x, y, r)])
        if len(self.recent) >= 160:
            self.refresh()


def _cell(rng, live):
    d = rng.uniform(*(LIVE_DIAMETER_UM if live else DEAD_DIAMETER_UM))
    return {"r": d / UM_PER_PX / 2.0, "live": live}


def _clump(rng, cells):
    """Offsets of touching cells: each new one leans on a random earlier one."""
    offsets = [(0.0, 0.0)]
    for c in cells[1:]:
        for _ in range(200):
            j = rng.integers(len(offsets))
            a = rng.uniform(0, 2 * np.pi)
            dist = (cells[j]["r"] + c["r"]) * rng.uniform(0.85, 0.95)
            x, y = offsets[j][0] + dist * np.cos(a), offsets[j][1] + dist * np.sin(a)
            if all(np.hypot(x - ox, y - oy) >= 0.85 * (cells[i]["r"] + c["r"])
                   for i, (ox, oy) in enumerate(offsets) if i != j):
                offsets.append((x, y))
                break
        else:
            raise RuntimeError("clump cannot be built")
    return offsets


def _place(rng, free, cells, offsets, gap):
    """Puts a group of cells (a clump, or one cell) where it overlaps nothing placed before."""
    reach = max(np.hypot(ox, oy) + c["r"] for c, (ox, oy) in zip(cells, offsets))
    for _ in range(2):  # the second time with the distances brought up to date
        spots = free.candidates(reach + gap)
        for _ in range(400 if len(spots) else 0):
            at = spots[rng.integers(len(spots))]
            cx, cy = at % WIDTH + rng.uniform(-0.5, 0.5), at // WIDTH + rng.uniform(-0.5, 0.5)
            if all(free.fits(cx + ox, cy + oy, c["r"], gap) for c, (ox, oy) in zip(cells, offsets)):
                for c, (ox, oy) in zip(cells, offsets):
                    c["x"], c["y"] = cx + ox, cy + oy
                    free.take(c["x"], c["y"], c["r"])
                return
        free.refresh()
    raise RuntimeError("no room left for a cell; the frame is too crowded")


def _draw(transmission, x, y, r, rng, profile):
    """Multiplies an anti-aliased, slightly elliptical object into the transmission image."""
    e = 1.0 + rng.uniform(0.0, ELLIPTICITY)
    angle = rng.uniform(0, np.pi)
    half = int(np.ceil(r * e)) + 3
    x0, y0 = int(np.floor(x)) - half, int(np.floor(y)) - half
    x1, y1 = min(x0 + 2 * half + 2, WIDTH), min(y0 + 2 * half + 2, HEIGHT)
    x0, y0 = max(x0, 0), max(y0, 0)
    yy, xx = np.mgrid[y0:y1, x0:x1].astype(np.float32)
    dx, dy = xx - x, yy - y
    u = (dx * np.cos(angle) + dy * np.sin(angle)) / e
    v = (-dx * np.sin(angle) + dy * np.cos(angle)) * e
    rho = np.sqrt(u * u + v * v)
    coverage = np.clip(r + 0.5 - rho, 0.0, 1.0)
    transmission[y0:y1, x0:x1] *= 1.0 + coverage * (profile(rho) - 1.0)


def _live_profile(rng, r):
    inner = r * (1.0 - rng.uniform(*RING_WIDTH))
    ring, centre = rng.uniform(*RING_LEVEL), rng.uniform(*CENTRE_LEVEL)
    return lambda rho: centre + (ring - centre) * np.clip((rho - inner + 0.75) / 1.5, 0.0, 1.0)


def _dead_profile(rng, r):
    level = rng.uniform(*DEAD_LEVEL)
    return lambda rho: level


_VIGNETTE = []


def _vignette():
    if not _VIGNETTE:
        yy, xx = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
        corner2 = (WIDTH / 2.0) ** 2 + (HEIGHT / 2.0) ** 2
        _VIGNETTE.append(1.0 - VIGNETTING * ((xx - WIDTH / 2.0) ** 2 + (yy - HEIGHT / 2.0) ** 2) / corner2)
    return _VIGNETTE[0]


def make_frame(set_name, n, k):
    """Returns (8-bit frame, truth rows) of one frame; the same arguments give the same frame."""
    rng = np.random.default_rng(_seed(frame_name(set_name, n, k)))
    cells = [_cell(rng, rng.random() < LIVE_FRACTION) for _ in range(n)]
    groups = []
    if set_name == "series":
        in_clumps = int(round(n * CLUMP_FRACTION))
        start = 0
        while in_clumps - start >= CLUMP_CELLS[0]:
            size = int(rng.integers(CLUMP_CELLS[0], CLUMP_CELLS[1] + 1))
            size = min(size, in_clumps - start)
            if in_clumps - start - size == 1:  # no clump of one left over
                size = size + 1 if size < CLUMP_CELLS[1] else size - 1
            groups.append(cells[start:start + size])
            start += size
        singles = cells[start:]
    else:
        singles = cells
    gap = ISOLATED_GAP_PX if set_name == "isolated" else SERIES_GAP_PX
    free = _Free()
    for number, group in enumerate(groups, 1):
        for c in group:
            c["clump"] = number
        _place(rng, free, group, _clump(rng, group), gap)
    for c in sorted(singles, key=lambda c: -c["r"]):  # the large first pack best
        c["clump"] = 0
        _place(rng, free, [c], [(0.0, 0.0)], gap)

    transmission = np.ones((HEIGHT, WIDTH), np.float32)
    for c in cells:
        profile = (_live_profile if c["live"] else _dead_profile)(rng, c["r"])
        _draw(transmission, c["x"], c["y"], c["r"], rng, profile)
    free.refresh()
    spots = free.candidates(DEBRIS_DIAMETER_UM[1] / UM_PER_PX / 2.0 + 2.0)  # debris stays off the cells
    for _ in range(int(DEBRIS_PER_FRAME[0] + DEBRIS_PER_FRAME[1] * n)):
        r = rng.uniform(*DEBRIS_DIAMETER_UM) / UM_PER_PX / 2.0
        at = spots[rng.integers(len(spots))]
        level = rng.uniform(*DEBRIS_LEVEL)
        _draw(transmission, at % WIDTH, at // WIDTH, r, rng, lambda rho, level=level: level)

    sigma = rng.uniform(*DEFOCUS_PX)
    if sigma > 0.2:
        transmission = cv2.GaussianBlur(transmission, (0, 0), sigma)
    light = transmission * _vignette()
    light *= MEAN_GREY / light.mean()  # the page's light search
    # Shot noise (thousands of electrons per pixel: Gaussian with the Poisson variance) and read noise.
    sigma = np.sqrt(light / ELECTRONS_PER_GREY + READ_NOISE_GREY ** 2)
    grey = light + sigma * rng.standard_normal(light.shape, dtype=np.float32)
    frame = np.clip(np.rint(grey), 0, 255).astype(np.uint8)
    truth = [(c["x"], c["y"], 2.0 * c["r"] * UM_PER_PX, int(c["live"]), c["clump"]) for c in cells]
    return frame, truth


def stain_planes(set_name, n, k, truth):
    """(green, red) planes of a two-colour set: each cell a soft disc in its stain's plane."""
    rng = np.random.default_rng(_seed("stain:" + frame_name(set_name, n, k)))
    planes = [np.zeros((HEIGHT, WIDTH), np.float32) for _ in range(2)]
    yy, xx = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float32)
    for x, y, d, live, _ in truth:
        r = d / UM_PER_PX / 2.0
        half = int(np.ceil(r)) + 2
        x0, y0 = max(int(x) - half, 0), max(int(y) - half, 0)
        x1, y1 = min(int(x) + half + 2, WIDTH), min(int(y) + half + 2, HEIGHT)
        rho = np.hypot(xx[y0:y1, x0:x1] - x, yy[y0:y1, x0:x1] - y)
        coverage = np.clip(r + 0.5 - rho, 0.0, 1.0)
        plane = planes[0 if live else 1][y0:y1, x0:x1]
        np.maximum(plane, coverage * rng.uniform(*STAIN_LEVEL), out=plane)
    noise = [np.sqrt(p / ELECTRONS_PER_STAIN_GREY + STAIN_DARK_NOISE ** 2) * rng.standard_normal(p.shape, dtype=np.float32)
             for p in planes]
    return [np.clip(np.rint(p + STAIN_DARK_LEVEL + n), 0, 255).astype(np.uint8) for p, n in zip(planes, noise)]


def make_two_colour(set_name, n, k):
    """Returns (RGB frame, truth rows): the brightfield frame of make_frame with its stains."""
    frame, truth = make_frame(set_name, n, k)
    green, red = stain_planes(set_name, n, k, truth)
    return np.dstack([red, green, frame]), truth


def write_truth(path, rows):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["x", "y", "diameter_um", "live", "clump"])
        for x, y, d, live, clump in rows:
            w.writerow(["%.2f" % x, "%.2f" % y, "%.3f" % d, live, clump])


def write_sets(outdir, sets=("isolated", "series"), two_colour=False):
    """Writes the frames of the named sets; returns (set, n, tif path, csv path) per frame."""
    os.makedirs(outdir, exist_ok=True)
    written = []
    for set_name in sets:
        for n, k in SETS[set_name]:
            frame, truth = (make_two_colour if two_colour else make_frame)(set_name, n, k)
            stem = os.path.join(outdir, frame_name(set_name, n, k))
            tifffile.imwrite(stem + ".tif", frame, photometric="rgb" if two_colour else None)
            write_truth(stem + ".csv", truth)
            written.append((set_name, n, stem + ".tif", stem + ".csv"))
    return written


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--set", choices=("isolated", "series", "all"), default="all")
    parser.add_argument("--two-colour", action="store_true", help="RGB sets: green live, red dead, blue brightfield")
    args = parser.parse_args()
    sets = ("isolated", "series") if args.set == "all" else (args.set,)
    for set_name, n, tif, _ in write_sets(args.outdir, sets, args.two_colour):
        print(tif)


if __name__ == "__main__":
    main()
