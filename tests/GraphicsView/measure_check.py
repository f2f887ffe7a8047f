"""Expected measurement records of drawn items, computed with numpy on the raw channel files.

Input (JSON file, argv[1]): {"images": [{"path": P, "bits": 8 or 16}],
                             "items": [{"tool": T, "points": [[x, y], ...]}]}
8-bit files hold 1280 x 1024 bytes; 16-bit files hold camera words (most significant byte
first, a 12-bit value shifted left by four). Prints one JSON list per image, one record per item.
OpenCV only rasterises the masks (ellipse, convex polygon); every figure comes from numpy.
"""
import json
import math
import sys

import cv2
import numpy as np

W, H = 1280, 1024


def load(image):
    raw = np.fromfile(image["path"], dtype=np.uint8)
    if image["bits"] == 8:
        return raw.reshape(H, W)
    words = raw.reshape(-1, 2).astype(np.uint32)
    return (((words[:, 0] << 8) | (words[:, 1] & 0xF0)) >> 4).reshape(H, W).astype(np.uint16)


def clamp(p):
    return [min(max(p[0], 0), W), min(max(p[1], 0), H)]


def path_length(points):
    return sum(math.dist(points[i], points[i + 1]) for i in range(len(points) - 1))


def region_figures(img, x, y, w, h, bins):
    roi = img[y:y + h, x:x + w].astype(np.float64)
    hist = np.bincount(img[y:y + h, x:x + w].ravel(), minlength=bins)
    return {"min": roi.min(), "max": roi.max(), "mean": roi.mean(), "std": roi.std(),
            "histMin": int(hist.min()), "histMax": int(hist.max()), "histSum": int(hist.sum()),
            "histBins": len(hist)}


def expected(img, tool, points):
    bins = 256 if img.dtype == np.uint8 else 4096
    r = {"tool": tool, "points": points}
    if tool in (1, 4, 5, 12):
        p1, p2 = clamp(points[0]), clamp(points[1])
        x, y = min(p1[0], p2[0]), min(p1[1], p2[1])
        w, h = max(abs(p1[0] - p2[0]), 1), max(abs(p1[1] - p2[1]), 1)
        r["roi"] = [x, y, w, h]
        if tool == 1:
            length = path_length(points)
            n = round(length)
            dx, dy = (p2[0] - p1[0]) / n, (p2[1] - p1[1]) / n
            profile, x, y = [], float(p1[0]), float(p1[1])
            for _ in range(n + 1):  # the position advances by the step, as the sampler walks
                profile.append(int(img[min(int(y), H - 1), min(int(x), W - 1)]))
                x, y = x + dx, y + dy
            v = np.array(profile, dtype=np.float64)
            r.update(length=length, profile=profile, min=v.min(), max=v.max(), mean=v.mean(), std=v.std())
            return r
        r.update(region_figures(img, x, y, w, h, bins))
        if tool == 5:
            r.update(area=w * h, length=2 * (w + h))
        elif tool == 4:
            mask = np.zeros((h, w), np.uint8)
            cv2.ellipse(mask, (w // 2, h // 2), (w // 2, h // 2), 0, 0, 360, 255, -1, cv2.LINE_8)
            area = int(np.count_nonzero(mask))
            r.update(area=area, length=2 * math.pi * math.sqrt(((w / 2) ** 2 + (h / 2) ** 2) / 2),
                     circularity=area * 4 * math.pi / (2 * math.dist(points[0], points[1])) ** 2)
        return r
    if tool == 3:
        pts = np.array(points, dtype=np.int32)
        x, y = pts[:, 0].min(), pts[:, 1].min()
        w, h = pts[:, 0].max() - x + 1, pts[:, 1].max() - y + 1
        mask = np.zeros((h, w), np.uint8)
        cv2.fillConvexPoly(mask, pts - [x, y], 255, cv2.LINE_8)
        area = int(np.count_nonzero(mask))
        closed = path_length(points + [points[0]])
        r.update(roi=[int(x), int(y), int(w), int(h)], area=area, length=path_length(points),
                 circularity=area * 4 * math.pi / closed ** 2)
        r.update(region_figures(img, int(x), int(y), int(w), int(h), bins))
        return r
    raise ValueError("tool %d" % tool)


def main():
    with open(sys.argv[1]) as f:
        job = json.load(f)
    out = []
    for image in job["images"]:
        img = load(image)
        out.append([expected(img, item["tool"], item["points"]) for item in job["items"]])
    json.dump(out, sys.stdout, default=float)


if __name__ == "__main__":
    main()
