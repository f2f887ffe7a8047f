#!/usr/bin/python3
"""The classic counter every counting engine must beat.

    countbaseline.py IMAGE.tif > cells.csv

Gaussian 3 x 3, inverted Otsu threshold (cells are darker than the background), holes filled,
opening with a 3 x 3 ellipse, Euclidean distance transform, markers at its regional maxima (pixels
equal to the dilation of the map by a disc of radius 5 pixels, at least 2 pixels from the
background), marker-driven watershed. Regions of at least pi (2.5 um)^2 are cells, given by their
centroid and equivalent diameter; a cell is live when the disc of half its radius round its centre
is brighter than the whole region. Prints x,y,diameter_um,live like the counting tool.
"""
import sys

import cv2
import numpy as np
import tifffile
from scipy import ndimage

from countscore import UM_PER_PX

MARKER_DISC_RADIUS_PX = 5
MARKER_LEAST_DISTANCE_PX = 2.0
LEAST_CELL_RADIUS_UM = 2.5


def count(grey, um_per_px=UM_PER_PX):
    """Cells of an 8-bit grey frame as an (n, 4) array of x, y, diameter_um, live."""
    smooth = cv2.GaussianBlur(grey, (3, 3), 0)
    _, mask = cv2.threshold(smooth, 0, 1, cv2.THRESH_BINARY_INV | cv2.THRESH_OTSU)
    mask = ndimage.binary_fill_holes(mask).astype(np.uint8)
    mask = cv2.morphologyEx(mask, cv2.MORPH_OPEN, cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (3, 3)))
    distance = cv2.distanceTransform(mask, cv2.DIST_L2, cv2.DIST_MASK_PRECISE)  # exact Euclidean
    disc = cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (2 * MARKER_DISC_RADIUS_PX + 1,) * 2)
    peaks = (distance == cv2.dilate(distance, disc)) & (distance >= MARKER_LEAST_DISTANCE_PX)
    n_markers, markers = cv2.connectedComponents(peaks.astype(np.uint8), connectivity=8)
    # The background is one more basin, so the cells' basins stop at its edge.
    markers = np.where(mask == 0, n_markers, markers).astype(np.int32)
    relief = cv2.normalize(-distance, None, 0, 255, cv2.NORM_MINMAX).astype(np.uint8)
    cv2.watershed(cv2.cvtColor(relief, cv2.COLOR_GRAY2BGR), markers)

    # Region measures from the region pixels alone (watershed lines are -1, the background n_markers).
    ys, xs = np.nonzero((markers > 0) & (markers < n_markers) & (mask > 0))
    label = markers[ys, xs]
    area = np.bincount(label, minlength=n_markers).astype(float)
    cells = np.flatnonzero(area >= np.pi * (LEAST_CELL_RADIUS_UM / um_per_px) ** 2)
    if len(cells) == 0:
        return np.zeros((0, 4))
    safe = np.maximum(area, 1.0)
    cx = np.bincount(label, weights=xs, minlength=n_markers) / safe
    cy = np.bincount(label, weights=ys, minlength=n_markers) / safe
    values = grey[ys, xs].astype(float)
    mean = np.bincount(label, weights=values, minlength=n_markers) / safe
    radius = np.sqrt(area / np.pi)
    central = (ys - cy[label]) ** 2 + (xs - cx[label]) ** 2 <= (radius[label] / 2.0) ** 2
    sums = np.bincount(label[central], weights=values[central], minlength=n_markers)
    counts = np.bincount(label[central], minlength=n_markers)
    live = (counts > 0) & (sums > mean * counts)  # central mean brighter than the region's
    return np.stack([cx[cells], cy[cells], 2.0 * radius[cells] * um_per_px, live[cells].astype(float)], axis=1)


def write_csv(cells, out):
    out.write("x,y,diameter_um,live\n")
    for x, y, d, live in cells:
        out.write("%.2f,%.2f,%.3f,%d\n" % (x, y, d, live))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write_csv(count(tifffile.imread(sys.argv[1])), sys.stdout)


if __name__ == "__main__":
    main()
