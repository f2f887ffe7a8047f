#!/usr/bin/python3
"""Writes small hostile image files into OUT, one per kind, and prints each name.

Each but the JPEG files of many scans or passes holds the same seeded picture: 101 bright discs on a dark field (1.97 % covered), so that a
reader that takes a file for something it is not gives a wrong count or confluency rather than
an error. good.tif, good.png, good.jpg and good.bmp are sound files; long-description.tif is sound
too, with a 6 MB description, as are nul-ended-description.tif (a description ending in two zero
bytes), big-endian-bigtiff.tif, ztxt-bomb.png and itxt-bomb.png (140 compressed texts of 7.9 MB each),
text-5mb-chunk.png and bitfields-standard.bmp (32 bits in colour masks); sound.gif and sound are
sound TIFF files under names that are not an image's.
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


def chunk(kind, body):
    """A PNG chunk of kind holding body."""
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))


def zero_png(width, height):
    """A grey PNG of width x height zeros (its data compresses about a thousand times)."""
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


def palette_png(indices):
    """A palette PNG of 10 colours of the palette indices given (W x H)."""
    rows = b''.join(b'\x00' + row.tobytes() for row in indices)
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


def tagged_tiff(path, img, extra, block=b'', at=0, strip_offset=None, inline=(), photometric=1):
    """A grey TIFF of img in one strip whose directory also holds the entries extra, each
    (tag, type, count, offset) with its offset counted from the start of block, and the entries
    inline (tag, type, count, value) as they are. The block lies at byte 8 + at (a hole before
    it), the strip behind it, the directory last; strip_offset, when given, is where the
    directory says the strip begins instead."""
    height, width = img.shape
    start = 8 + at
    data = start + len(block)
    tags = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, photometric),
            (273, 4, 1, data if strip_offset is None else strip_offset), (277, 3, 1, 1), (278, 4, 1, height),
            (279, 4, 1, width * height)] + [(tag, kind, count, start + offset) for tag, kind, count, offset in extra]
    tags += list(inline)
    ifd = struct.pack('<H', len(tags))
    for tag, kind, count, value in sorted(tags):
        ifd += struct.pack('<HHI', tag, kind, count) + (struct.pack('<HH', value, 0) if kind == 3 else struct.pack('<I', value))
    with open(path, 'wb') as f:
        f.write(b'II*\x00' + struct.pack('<I', data + width * height))
        f.seek(start)
        f.write(block + img.tobytes() + ifd + struct.pack('<I', 0))


# Ten ASCII tags libtiff knows (document name, description, make, model, page name, software,
# date and time, artist, host computer, copyright).
ASCII_TAGS = [269, 270, 271, 272, 285, 305, 306, 315, 316, 33432]


def bigtiff_strip_in_description(path, img):
    """A big-endian BigTIFF whose one strip is said to begin at its description text."""
    tifffile.imwrite(path, img, bigtiff=True, byteorder='>', description='Z Position: 5 um' + ' ' * 200)
    with tifffile.TiffFile(path) as t:
        tags = t.pages[0].tags
        text, strips = tags['ImageDescription'].valueoffset, tags['StripOffsets'].valueoffset
    with open(path, 'r+b') as f:
        f.seek(strips)
        f.write(struct.pack('>Q', text))


def tag_bomb(path, img, tags, count, kind=7, description=b''):
    """tags unknown tags of type kind (7: undefined bytes) and count values each, all pointing at
    one block that holds count values: a file of that size asks libtiff for tags x count. A
    description, when given, begins the block."""
    described = [(270, 2, len(description), 0)] if description else []
    tagged_tiff(path, img, [(60000 + i, kind, count, 0) for i in range(tags)] + described,
                description + bytes(count - len(description)))


def ascii_bomb(path, img, count, shared):
    """The ten known ASCII tags of count characters each, in one shared block or one after
    another in a hole of the file (no disk blocks spent on them)."""
    if shared:
        tagged_tiff(path, img, [(tag, 2, count, 0) for tag in ASCII_TAGS], bytes(count))
    else:
        hole = len(ASCII_TAGS) * count
        tagged_tiff(path, img, [(tag, 2, count, i * count - hole) for i, tag in enumerate(ASCII_TAGS)], at=hole)


def text_bomb(img, kind, chunks, inflated=7_900_000):
    """A sound PNG with chunks compressed zTXt or iTXt chunks of inflated zero bytes each before
    its image data."""
    text = zlib.compress(bytes(inflated), 9)
    body = b'Comment\x00' + (b'\x00' if kind == b'zTXt' else b'\x01\x00\x00\x00') + text
    png = encoded(img, '.png')
    return png[:33] + chunk(kind, body) * chunks + png[33:]  # behind the signature and IHDR


def text_chunk(img, size):
    """A sound PNG with a text chunk of size characters before its image data."""
    png = encoded(img, '.png')
    return png[:33] + chunk(b'tEXt', b'Comment\x00' + b'x' * size) + png[33:]


def critical_chunk(img, after):
    """A sound PNG with an unknown critical chunk (its name begins in upper case) just after its
    header, or just before its end."""
    png = encoded(img, '.png')
    at = len(png) - 12 if after else 33  # before IEND, or behind the signature and IHDR
    return png[:at] + chunk(b'CRIT', b'\x00' * 16) + png[at:]


def bmp_bitfields(img, masks, offset=None):
    """A 32-bit BITFIELDS BMP of the grey picture (blue, green, red, a zero byte) with the colour
    masks (red, green, blue) behind its 40-byte header; offset, when given, is where it says its
    pixel data begin."""
    height, width = img.shape
    pixels = np.stack([img, img, img, np.zeros_like(img)], axis=-1)[::-1].tobytes()
    start = 14 + 40 + 12
    return (b'BM' + struct.pack('<IHHI', start + len(pixels), 0, 0, start if offset is None else offset)
            + struct.pack('<IiiHHIIiiII', 40, width, height, 1, 32, 3, len(pixels), 2835, 2835, 0, 0)
            + struct.pack('<3I', *masks) + pixels)


def bmp_indexed(indices, bits, colours):
    """A BMP of palette indices (4 or 8 bits a pixel) with a grey palette of colours entries
    (biClrUsed), whatever the indices."""
    height, width = indices.shape
    rows = indices[::-1].astype(np.uint8)
    if bits == 4:
        rows = (rows[:, 0::2] << 4) | rows[:, 1::2]
    pad = -rows.shape[1] % 4
    pixels = np.pad(rows, ((0, 0), (0, pad))).tobytes()
    palette = b''.join(bytes([v, v, v, 0]) for v in (i * 255 // max(colours - 1, 1) for i in range(colours)))
    start = 14 + 40 + len(palette)
    return (b'BM' + struct.pack('<IHHI', start + len(pixels), 0, 0, start)
            + struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, len(pixels), 2835, 2835, colours, colours)
            + palette + pixels)


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
        # Progressions of many scans (one more than read), or of many passes over every coefficient.
        'scans-300.jpg': lambda p: write(p, scan_flood(W, H, 300)),
        'scans-301.jpg': lambda p: write(p, scan_flood(W, H, 301)),
        'scans-17-of-8192.jpg': lambda p: write(p, scan_flood(8192, 8192, 17)),
        'coefficients-4-passes.jpg': lambda p: write(p, progressive(8192, 8192, passes(4, 3))),
        'coefficients-14-passes.jpg': lambda p: write(p, progressive(8192, 8192, passes(14, 13))),
        # Every coefficient coded in the first of 15 AC scans over them all, again in the others.
        'recoded-scans.jpg': lambda p: write(p, progressive(8192, 8192, [(1, 63, 0, 0)] * 15, dense={0})),
        'palette-past-end.png': lambda p: write(p, palette_png(img)),  # indices up to 230
        'offset-zero.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), offset=0)),
        'offset-14.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), offset=14)),
        'offset-palette.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), offset=54)),
        'palette-2147483647.bmp': lambda p: write(p, bmp_with(encoded(img, '.bmp'), colours=0x7FFFFFFF)),
        # Tags that ask libtiff for far more memory than the file holds or an image needs, a strip
        # read from a tag's value, and a sound file whose description ends in two zeros.
        'tags-4m-shared.tif': lambda p: tag_bomb(p, img, 1000, 4_000_000),
        'tags-ascii-apart.tif': lambda p: ascii_bomb(p, img, 4 << 20, shared=False),
        'strip-in-description.tif': lambda p: tagged_tiff(p, img, [(270, 2, 200, 0)], b'Z Position: 0 um'.ljust(200, b'\x00'),
                                                           strip_offset=8),
        'nul-ended-description.tif': lambda p: tagged_tiff(p, img, [(270, 2, 18, 0)], b'Z Position: 0 um\x00\x00'),
        'big-endian-bigtiff.tif': lambda p: tifffile.imwrite(p, img, bigtiff=True, byteorder='>', rowsperstrip=64,
                                                             description='Z Position: 5 um'),
        'bigtiff-strip-in-description.tif': lambda p: bigtiff_strip_in_description(p, img),
        # Compressed texts of 7.9 MB each (sound files otherwise), and an index equal to the palette's size.
        'ztxt-bomb.png': lambda p: write(p, text_bomb(img, b'zTXt', 140)),
        'itxt-bomb.png': lambda p: write(p, text_bomb(img, b'iTXt', 140)),
        'palette-index-10.png': lambda p: write(p, palette_png(np.where(img > 128, 10, 0).astype(np.uint8))),
        # Damaged files libtiff and libpng would read as pictures: a colour-mapped TIFF without its
        # colour map, tags that stand twice, an unknown critical PNG chunk behind the image data (and
        # before it); sound TIFF files under names that are not an image's; the Detail panel's file
        # of 4000 tags sharing 1 MiB behind a description.
        'palette-no-colormap.tif': lambda p: tagged_tiff(p, img, [], photometric=3),
        'twice-samples.tif': lambda p: tagged_tiff(p, img, [], inline=[(277, 3, 1, 3)]),
        'twice-width.tif': lambda p: tagged_tiff(p, img, [], inline=[(256, 4, 1, 100000)]),
        'critical-after-data.png': lambda p: write(p, critical_chunk(img, after=True)),
        'critical-before-data.png': lambda p: write(p, critical_chunk(img, after=False)),
        'sound.gif': lambda p: tifffile.imwrite(p, img),
        'sound': lambda p: tifffile.imwrite(p, img),
        'tags-1m-shared.tif': lambda p: tag_bomb(p, img, 4000, 1 << 20, description=b'Gain: 1 dB\x00'),
        # Sound: a text chunk of 5 MB, over the largest chunk libpng allocates, is skipped.
        'text-5mb-chunk.png': lambda p: write(p, text_chunk(img, 5 << 20)),
        # Colour masks: standard, pixel data that begin inside them, empty, overlapping, with
        # gaps, sound but in another order; short palettes indexed at their size.
        'bitfields-standard.bmp': lambda p: write(p, bmp_bitfields(img, (0xFF0000, 0xFF00, 0xFF))),
        'bitfields-offset-masks.bmp': lambda p: write(p, bmp_bitfields(img, (0xFF0000, 0xFF00, 0xFF), offset=58)),
        'bitfields-empty.bmp': lambda p: write(p, bmp_bitfields(img, (0xFF0000, 0, 0xFF))),
        'bitfields-overlap.bmp': lambda p: write(p, bmp_bitfields(img, (0xFFFF00, 0xFF00, 0xFF))),
        'bitfields-gaps.bmp': lambda p: write(p, bmp_bitfields(img, (0xFF0F0000, 0xFF00, 0xFF))),
        'bitfields-rgb-order.bmp': lambda p: write(p, bmp_bitfields(img, (0xFF, 0xFF00, 0xFF0000))),
        'short-palette-8bit.bmp': lambda p: write(p, bmp_indexed(np.where(img > 128, 2, 0), 8, 2)),
        'short-palette-4bit.bmp': lambda p: write(p, bmp_indexed(np.where(img > 128, 3, 1), 4, 3)),
    }
    for name, make in files.items():
        make(os.path.join(out, name))
        print(name)


if __name__ == '__main__':
    main()
