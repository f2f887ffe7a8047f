#!/usr/bin/python3
"""Writes small hostile image files into OUT, one per kind, and prints each name.

Each but the JPEG files of many scans holds the same seeded picture: 101 bright discs on a dark field (1.97 % covered), so that a
reader that takes a file for something it is not gives a wrong count or confluency rather than
an error. good.tif, good.png, good.jpg and good.bmp are sound files; long-description.tif is sound
too, with a 6 MB description.
"""
import io
import os
import re
import struct
import sys
import zlib

import cv2
import numpy as np
import tifffile
from PIL import Image

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


def plain_tiff(path, width, height, bits, strips, rows=None, compression=1, counts=None, offsets=None):
    """A little-endian grey TIFF of width x height samples of bits bits in strips of rows rows,
    stored one after another behind the header. counts and offsets, when given, are what the
    directory declares instead of the strips' own (data that is not there, or lies elsewhere)."""
    rows = rows or height
    offsets = offsets or [8 + sum(len(s) for s in strips[:i]) for i in range(len(strips))]
    counts = counts or [len(s) for s in strips]
    data = b''.join(strips)
    arrays = b''
    if len(strips) == 1:
        offset_value, count_value = offsets[0], counts[0]
    else:  # the two arrays lie behind the strips
        offset_value = 8 + len(data)
        count_value = offset_value + 4 * len(strips)
        arrays = struct.pack('<%dI' % len(strips), *offsets) + struct.pack('<%dI' % len(strips), *counts)
    n = len(strips)
    tags = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, bits), (259, 3, 1, compression), (262, 3, 1, 1),
            (273, 4, n, offset_value), (277, 3, 1, 1), (278, 4, 1, rows), (279, 4, n, min(count_value, 0xffffffff))]
    ifd = struct.pack('<H', len(tags))
    for tag, kind, count, value in tags:
        ifd += struct.pack('<HHI', tag, kind, count) + (struct.pack('<HH', value, 0) if kind == 3 else struct.pack('<I', value))
    with open(path, 'wb') as f:
        f.write(b'II*\x00' + struct.pack('<I', 8 + len(data) + len(arrays)) + data + arrays + ifd + struct.pack('<I', 0))


def empty_tiff(path, width, height, bits):
    """A directory that declares one strip of width x height samples that the file does not hold:
    its offset is the directory's own."""
    plain_tiff(path, width, height, bits, [b''], counts=[(width * bits + 7) // 8 * height])


def packbits_overrun(path, img):
    """PackBits strips of 64 rows; the fourth begins with a run of 100 extra bright samples, so
    that its rows are shifted and libtiff discards the 100 samples too many at its end."""
    strips = []
    for top in range(0, H, 64):
        runs = b''.join(bytes([127]) + row[i:i + 128].tobytes() for row in img[top:top + 64] for i in range(0, W, 128))
        strips.append((b'\x9d\xe6' if top == 192 else b'') + runs)
    plain_tiff(path, W, H, 8, strips, rows=64, compression=32773)


def jpeg(img, mode=None):
    out = io.BytesIO()
    Image.fromarray(img, mode).save(out, 'JPEG', quality=95)
    return out.getvalue()


def corrupt_jpeg_segment(img):
    """A marker in the middle of the entropy-coded data: libjpeg meets the end of the segment
    early and fills the rest of the picture."""
    data = bytearray(jpeg(img))
    middle = len(data) // 2
    data[middle:middle + 2] = b'\xff\xd0'
    return bytes(data)


def zero_png(width, height):
    """A grey PNG of width x height zeros (its data compresses about a thousand times)."""
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    pack = zlib.compressobj(9)
    row = bytes(width + 1)
    idat = b''.join(pack.compress(row * 100) for _ in range(height // 100)) + pack.flush()
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 0, 0, 0, 0))
            + chunk(b'IDAT', idat) + chunk(b'IEND', b''))


def entropy_end(data, start):
    """Where the entropy-coded data that begins at start ends: the next marker that is neither a
    stuffed 0xFF nor a restart."""
    i = start
    while not (data[i] == 0xFF and data[i + 1] not in (0x00, 0xFF) and not 0xD0 <= data[i + 1] <= 0xD7):
        i += 1
    return i


def scan_bomb(img, repeats):
    """A progressive JPEG whose last scan (with the table before it) is repeated: each repetition
    is a few bytes that make the decoder pass over every block again."""
    out = io.BytesIO()
    Image.fromarray(img).save(out, 'JPEG', quality=95, progressive=True)
    data = out.getvalue()
    scans = [m.start() for m in re.finditer(b'\xff\xda', data)]
    previous = scans[-2]
    tail = entropy_end(data, previous + 2 + struct.unpack('>H', data[previous + 2:previous + 4])[0])
    return data[:tail] + data[tail:-2] * repeats + data[-2:]


def progressive(width, height, scans, dense=()):
    """A grey progressive JPEG by hand: a DC scan of zeros, then one scan for each (Ss, Se, Ah, Al)
    of scans, each sound on its own. A scan holds nothing but runs of empty blocks, or where its
    index is in dense, a coefficient of 1 in every place of its band in every block."""
    def segment(marker, body):
        return bytes([0xFF, marker]) + struct.pack('>H', len(body) + 2) + body
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    runs = [min(32767, blocks - done) for done in range(0, blocks, 32767)]
    # Symbol 0x01 (run 0, one bit: the coefficient 1) gets code 0; EOBn (2^n blocks + n bits) 10, 110.
    symbols = [0x01] + sorted({(run.bit_length() - 1) << 4 for run in runs})
    codes = {symbol: '1' * i + '0' for i, symbol in enumerate(symbols)}

    def entropy(bits):
        return int(bits + '1' * (-len(bits) % 8), 2).to_bytes((len(bits) + 7) // 8, 'big').replace(b'\xff', b'\xff\x00')
    empty = entropy(''.join(codes[(run.bit_length() - 1) << 4] + format(run, 'b')[1:] for run in runs))
    dc = bytes((blocks + 7) // 8)  # one '0' a block: difference category 0
    out = (b'\xff\xd8' + segment(0xDB, b'\x00' + bytes([1] * 64))
           + segment(0xC2, struct.pack('>BHHB', 8, height, width, 1) + b'\x01\x11\x00')
           + segment(0xC4, b'\x00' + bytes([1] + [0] * 15) + b'\x00')
           + segment(0xC4, b'\x10' + bytes([1] * len(symbols) + [0] * (16 - len(symbols))) + bytes(symbols))
           + segment(0xDA, b'\x01\x01\x00\x00\x00\x00') + dc)
    for i, (ss, se, ah, al) in enumerate(scans):
        if i in dense:
            bits = (se - ss + 1) * blocks * 2
            data = b'\x55' * (bits // 8) + (entropy('01' * (bits % 8 // 2)) if bits % 8 else b'')
        else:
            data = empty
        out += segment(0xDA, b'\x01\x01\x00' + bytes([ss, se, (ah << 4) | al])) + data
    return out + b'\xff\xd9'


def scan_flood(width, height, scans):
    """A progressive JPEG of scans scans in all, a sound progression: after DC, each coefficient
    first at 1/16 of its value, then refined bit by bit, one coefficient a scan."""
    bands = [(k, k, 0, 4) for k in range(1, 64)] + [(k, k, ah, ah - 1) for ah in (4, 3, 2, 1) for k in range(1, 64)]
    return progressive(width, height, bands[:scans - 1])


def passes(count, bits):
    """AC scans over every coefficient: the first at 1/2^bits of the value, then its refinements."""
    return ([(1, 63, 0, bits)] + [(1, 63, ah, ah - 1) for ah in range(bits, 0, -1)])[:count]


def palette_past_end(img):
    """A palette PNG of 10 colours whose pixels index up to 255."""
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    rows = b''.join(b'\x00' + row.tobytes() for row in img)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, 3, 0, 0, 0))
            + chunk(b'PLTE', bytes(range(30))) + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))


def bmp_with(data, offset=None, colours=None):
    """A BMP whose pixel-data offset or palette size (biClrUsed) says something else."""
    data = bytearray(data)
    if offset is not None:
        data[10:14] = struct.pack('<I', offset)
    if colours is not None:
        data[46:50] = struct.pack('<I', colours)
    return bytes(data)


def encoded(img, extension):
    ok, data = cv2.imencode(extension, img)
    assert ok
    return data.tobytes()


def half(data):
    return data[:len(data) // 2]


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def twelve_bits(img):
    """Samples v * 16 packed two in three bytes, most significant bits first."""
    v = img.astype(np.uint16) * 16
    a, b = v[:, 0::2], v[:, 1::2]
    packed = np.stack([a >> 4, ((a & 15) << 4) | (b >> 8), b & 255], axis=-1).astype(np.uint8)
    return packed.tobytes()


def main():
    out = sys.argv[1]
    img = picture()
    floats = (0.18 + (img.astype(np.float32) - 20) * (0.63 / 210)).astype(np.float32)
    files = {
        'good.tif': lambda p: tifffile.imwrite(p, img),
        'deflate-corrupt.tif': lambda p: corrupt_deflate(p, img),
        '12bit.tif': lambda p: plain_tiff(p, W, H, 12, [twelve_bits(img)]),
        'int16.tif': lambda p: tifffile.imwrite(p, img.astype(np.int16) * 16 - 2048),
        'miniswhite.tif': lambda p: tifffile.imwrite(p, 255 - img, photometric='miniswhite'),
        'tiled.tif': lambda p: tifffile.imwrite(p, img, tile=(64, 64)),
        'planar.tif': lambda p: tifffile.imwrite(p, np.stack([img] * 3), photometric='rgb', planarconfig='separate'),
        'float.tif': lambda p: tifffile.imwrite(p, img.astype(np.float32)),
        'huge.tif': lambda p: empty_tiff(p, 100000, 100000, 8),
        'fifo.tif': os.mkfifo,
        'long-description.tif': lambda p: tifffile.imwrite(p, img, description='Gain = 1;' + 'x' * (6 << 20)),
        # Damaged, or not what the name says: libraries that decode them on with at most a warning.
        'strip-offset-zero.tif': lambda p: plain_tiff(p, W, H, 8, [img.tobytes()], offsets=[0]),
        'packbits-overrun.tif': lambda p: packbits_overrun(p, img),
        'one-pixel-no-data.tif': lambda p: empty_tiff(p, 1, 1, 8),
        'good.png': lambda p: write(p, encoded(img, '.png')),
        'good.jpg': lambda p: write(p, jpeg(img)),
        'good.bmp': lambda p: write(p, encoded(img, '.bmp')),
        'cut-half.png': lambda p: write(p, half(encoded(img, '.png'))),
        'cut-half.jpg': lambda p: write(p, half(jpeg(img))),
        'cut-half.bmp': lambda p: write(p, half(encoded(img, '.bmp'))),
        'corrupt-segment.jpg': lambda p: write(p, corrupt_jpeg_segment(img)),
        'cut-cmyk.jpg': lambda p: write(p, half(jpeg(np.stack([255 - img] * 4, axis=-1), 'CMYK'))),
        'sun-raster.png': lambda p: write(p, encoded(img, '.ras')),
        'float.pfm': lambda p: write(p, encoded(floats, '.pfm')),
        'float-pfm.png': lambda p: write(p, encoded(floats, '.pfm')),
        'huge.png': lambda p: write(p, zero_png(20000, 20000)),
        'scan-bomb.jpg': lambda p: write(p, scan_bomb(np.full((1024, 1280), 20, np.uint8), 20000)),
        'scans-300.jpg': lambda p: write(p, scan_flood(W, H, 300)),
        'scans-301.jpg': lambda p: write(p, scan_flood(W, H, 301)),
        'scanned-blocks-over.jpg': lambda p: write(p, scan_flood(8192, 8192, 17)),
        'scanned-blocks-16m.jpg': lambda p: write(p, scan_flood(8192, 8192, 16)),
        # Every coefficient coded in the first of 15 AC scans over them all, again in the others.
        'recoded-scans.jpg': lambda p: write(p, progressive(8192, 8192, [(1, 63, 0, 0)] * 15, dense={0})),
        'coefficients-3-passes.jpg': lambda p: write(p, progressive(8192, 8192, passes(3, 2))),
        'coefficients-over.jpg': lambda p: write(p, progressive(8192, 8192, passes(4, 3))),
        'palette-past-end.png': lambda p: write(p, palette_past_end(img)),
        'offset-zero.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), offset=0)),
        'offset-14.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), offset=14)),
        'offset-palette.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), offset=54)),
        'palette-2147483647.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), colours=0x7FFFFFFF)),
    }
    for name, make in files.items():
        make(os.path.join(out, name))
        print(name)


if __name__ == '__main__':
    main()
