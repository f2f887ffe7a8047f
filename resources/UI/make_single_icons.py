#!/usr/bin/env python3
"""Draws the Single page's own pictures (resources/UI/Single) beside the tool set that
make_multicolor_icons.py draws there: the multi-count tool m9 and the two image tabs.
Run it after changing a picture:
    python3 resources/UI/make_single_icons.py
"""
from make_icons import BLUE, Canvas

FACE = 'rgb(62,67,75)'
FACE_D = 'rgb(44,48,54)'
INK = 'white'
INK_D = 'rgb(92,98,106)'


def multi_count():
    """Three count crosses, as the image widget marks each counted point."""
    for suffix, face, ink in (('-1', FACE, INK), ('-2', BLUE, INK), ('-d', FACE_D, INK_D)):
        c = Canvas(44, 44)
        c.rect(1, 1, 43, 43, radius=7, fill=face)
        for x, y in ((14, 15), (30, 19), (19, 31)):
            c.line(x - 5, y, x + 5, y, stroke=ink, width=2.2)
            c.line(x, y - 5, x, y + 5, stroke=ink, width=2.2)
        c.save(f'Single/m9{suffix}.png')


def tabs():
    """The histogram tab (bars) and the result-table tab (grid), plain and selected."""
    for suffix, face, ink in (('1', FACE, 'rgb(170,176,184)'), ('2', BLUE, INK)):
        c = Canvas(60, 32)
        c.rect(0, 0, 60, 32, radius=6, fill=face)
        for i, h in enumerate((6, 12, 18, 13, 8, 4)):
            c.rect(15 + 5 * i, 25 - h, 18 + 5 * i, 25, fill=ink)
        c.save(f'Single/tab_histogram{suffix}.png')
        c = Canvas(60, 32)
        c.rect(0, 0, 60, 32, radius=6, fill=face)
        c.rect(16, 7, 44, 25, stroke=ink, width=1.6)
        for y in (13, 19):
            c.line(16, y, 44, y, stroke=ink, width=1.2)
        c.line(26, 7, 26, 25, stroke=ink, width=1.2)
        c.save(f'Single/tab_table{suffix}.png')


if __name__ == '__main__':
    multi_count()
    tabs()
