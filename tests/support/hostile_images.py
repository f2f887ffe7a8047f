#!/usr/bin/python3
"""Writes small hostile image files into OUT, one per kind, and prints each name.

Each holds the same seeded picture: 101 bright discs on a dark field (1.97 % covered), so that a
reader that takes a file for something it is not gives a wrong count or confluency rather than
an error. good.tif is the sound file; long-description.tif is sound too, with a 6 MB description.
"""
import os
import struct
import sys
import zlib

import numpy as np
import tifffile

W, H = 640, 512


def picture():
    rng = np.random.default_rng(52)
    yy, xx = np.mgrid[0:H, 0:W]
    img = np.full((H, W), 20, np.uint8)
    for _ in range(101):
        cx, cy = rng.integers(20, W - 20), rng.integers(20, H - 20)
        img[(xx - cx) ** 2 + (yy - cy) ** 2 <= 16] = 230
    return img


def corrupt_deflate(path, img):
    """One deflate strip whose middle is overwritten: libtiff meets an invalid code."""
    tifffile.imwrite(path, img, compression='zlib', rowsperstrip=H)
    with tifffile.TiffFile(path) as t:
        page = t.pages[0]
        offset, count = page.dataoffsets[0], page.databytecounts[0]
    raw = bytearray(open(path, 'rb').read())
    zlib.decompress(bytes(raw[offset:offset + count]))  # sound before
    start = offset + count // 2
    raw[start:start + 64] = b'\xff' * 64
    open(path, 'wb').write(raw)


def plain_tiff(path, width, height, bits, strip=b''):
    """A little-endian grey TIFF of width x height samples of bits bits in one strip (strip, which
    may be missing: the directory then declares what is not there)."""
    count = (width * bits + 7) // 8 * height
    tags = [(256, 4, width), (257, 4, height), (258, 3, bits), (259, 3, 1), (262, 3, 1),
            (273, 4, 8), (277, 3, 1), (278, 4, height), (279, 4, min(count, 0xffffffff))]
    ifd = struct.pack('<H', len(tags))
    for tag, kind, value in tags:
        ifd += struct.pack('<HHI', tag, kind, 1) + (struct.pack('<HH', value, 0) if kind == 3 else struct.pack('<I', value))
    with open(path, 'wb') as f:
        f.write(b'II*\x00' + struct.pack('<I', 8 + len(strip)) + strip + ifd + struct.pack('<I', 0))


def twelve_bits(img):
    """Samples v * 16 packed two in three bytes, most significant bits first."""
    v = img.astype(np.uint16) * 16
    a, b = v[:, 0::2], v[:, 1::2]
    packed = np.stack([a >> 4, ((a & 15) << 4) | (b >> 8), b & 255], axis=-1).astype(np.uint8)
    return packed.tobytes()


def main():
    out = sys.argv[1]
    img = picture()
    files = {
        'good.tif': lambda p: tifffile.imwrite(p, img),
        'deflate-corrupt.tif': lambda p: corrupt_deflate(p, img),
        '12bit.tif': lambda p: plain_tiff(p, W, H, 12, twelve_bits(img)),
        'int16.tif': lambda p: tifffile.imwrite(p, img.astype(np.int16) * 16 - 2048),
        'miniswhite.tif': lambda p: tifffile.imwrite(p, 255 - img, photometric='miniswhite'),
        'tiled.tif': lambda p: tifffile.imwrite(p, img, tile=(64, 64)),
        'planar.tif': lambda p: tifffile.imwrite(p, np.stack([img] * 3), photometric='rgb', planarconfig='separate'),
        'float.tif': lambda p: tifffile.imwrite(p, img.astype(np.float32)),
        'huge.tif': lambda p: plain_tiff(p, 100000, 100000, 8),
        'fifo.tif': os.mkfifo,
        'long-description.tif': lambda p: tifffile.imwrite(p, img, description='Gain = 1;' + 'x' * (6 << 20)),
    }
    for name, make in files.items():
        make(os.path.join(out, name))
        print(name)


if __name__ == '__main__':
    main()
