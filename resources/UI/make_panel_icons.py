#!/usr/bin/env python3
"""Draws the control panel's background, filter-cube buttons and glyphs (resources/UI/ControlWidget).

Same flat set and drawing helper as make_icons.py: dark panel rgb(31,34,38), cards rgb(40,44,50),
blue accent rgb(1,122,255), white glyphs (Qt greys them out on disabled buttons). Run it after
changing a picture:
    python3 resources/UI/make_panel_icons.py
"""
from make_icons import BACK, CARD, EDGE, Canvas, s

GLYPH = 'white'
GLYPH_DISABLED = 'rgb(92,98,106)'

# Cards of the panel (top, bottom), matching forms/ControlWidget.ui.
CARDS = ((4, 318), (324, 410), (416, 512), (518, 1016))

# Filter-cube colours by button (color1 Trans, then the three fluorescence slots).
FILTERS = {
    1: ('rgb(108,114,124)', 'rgb(150,156,166)'),
    2: ('rgb(28,132,72)', 'rgb(46,190,104)'),
    3: ('rgb(176,44,52)', 'rgb(236,80,86)'),
    4: ('rgb(40,82,196)', 'rgb(86,130,246)'),
}


def background():
    c = Canvas(250, 1020, BACK)
    for top, bottom in CARDS:
        c.rect(3, top, 247, bottom, radius=10, fill=CARD, stroke=EDGE, width=1)
    c.save('ControlWidget/back.png')


def filter_button(index):
    face, bright = FILTERS[index]
    on = Canvas(56, 48)
    on.rect(0, 0, 56, 48, radius=8, fill=face)
    on.rect(0, 40, 56, 48, radius=4, fill=bright)
    on.rect(0, 38, 56, 44, fill=bright)
    on.save(f'ControlWidget/Filter/color{index}-on.png')
    off = Canvas(56, 48)
    off.rect(0, 0, 56, 48, radius=8, fill='rgb(46,50,57)', stroke='rgb(60,65,73)', width=1)
    off.rect(10, 41, 46, 44, radius=1.5, fill=face)
    off.save(f'ControlWidget/Filter/color{index}-off.png')


def glyph(name, draw, size=32):
    """The glyph in white, and greyed for disabled buttons (name-d.png)."""
    global GLYPH
    for ink, suffix in (('white', ''), (GLYPH_DISABLED, '-d')):
        GLYPH = ink
        c = Canvas(size, size)
        draw(c)
        c.save(f'ControlWidget/{name}{suffix}.png')
    GLYPH = 'white'


def minus(c):
    c.rect(7, 14.5, 25, 17.5, radius=1.5, fill=GLYPH)


def plus(c):
    minus(c)
    c.rect(14.5, 7, 17.5, 25, radius=1.5, fill=GLYPH)


def chevrons(up, count):
    def draw(c):
        step = 8
        first = 16 - (count - 1) * step / 2
        for i in range(count):
            y = first + i * step
            tip, base = (y - 5, y + 4) if up else (y + 5, y - 4)
            c.poly([(7, base), (16, tip), (25, base)], closed=False, stroke=GLYPH, width=3)
    return draw


def power(c):
    c.style(stroke=GLYPH, width=2.6)
    # arc angles must not be scaled like coordinates
    c.args += ['-draw', f'arc {s(7)},{s(8)} {s(25)},{s(26)} 300,600']
    c.line(16, 4.5, 16, 15, stroke=GLYPH, width=2.6)


def target(c):
    c.circle(16, 16, 10, stroke=GLYPH, width=2.2)
    c.circle(16, 16, 3, fill=GLYPH)
    for x0, y0, x1, y1 in ((16, 1.5, 16, 8), (16, 24, 16, 30.5), (1.5, 16, 8, 16), (24, 16, 30.5, 16)):
        c.line(x0, y0, x1, y1, stroke=GLYPH, width=2.2)


def main():
    background()
    for index in FILTERS:
        filter_button(index)
    glyph('minus', minus)
    glyph('plus', plus)
    glyph('up1', chevrons(True, 1))
    glyph('up2', chevrons(True, 2))
    glyph('down1', chevrons(False, 1))
    glyph('down2', chevrons(False, 2))
    glyph('power', power)
    glyph('af', target)


if __name__ == '__main__':
    main()
