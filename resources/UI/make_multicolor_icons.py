#!/usr/bin/env python3
"""Draws the Multicolor page's pictures (resources/UI/Multicolor, Common, Single).

Same flat set and drawing helper as make_icons.py and make_zstack_icons.py: dark faces, the blue
accent, a normal, a pressed (or checked) and a disabled picture per button. Run it after
changing a picture:
    python3 resources/UI/make_multicolor_icons.py
"""
from make_icons import BLUE, FONT_BOLD, Canvas

FACE = 'rgb(62,67,75)'
FACE_P = 'rgb(120,180,255)'
FACE_D = 'rgb(44,48,54)'
INK = 'white'
INK_D = 'rgb(92,98,106)'
GREEN = 'rgb(30,160,90)'
ORANGE = 'rgb(230,140,30)'
STATES = (('', None, INK), ('_p', FACE_P, INK), ('_d', FACE_D, INK_D))


def bottom_button(paths, caption, glyph, accent, rise=0):
    """The 177 x 60 buttons under the panels: normal (accent face), pressed (lighter) and
    disabled (grey) pictures at the given paths; None skips a state. rise lifts the caption
    (the save pictures leave room for the quick-save button's own text under it)."""
    for path, (_, face, ink) in zip(paths, STATES):
        if path is None:
            continue
        c = Canvas(177, 60)
        c.rect(0, 0, 177, 60, radius=10, fill=face or accent)
        glyph(c, ink, 34, 30)
        c.text(60, -rise, caption, 14, ink, font=FONT_BOLD, gravity='West')
        c.save(path)


def dot(c, ink, x, y):
    c.circle(x, y, 12, stroke=ink, width=3)
    c.circle(x, y, 5, fill=ink)


def camera(c, ink, x, y):
    c.rect(x - 16, y - 9, x + 16, y + 12, radius=3, stroke=ink, width=2.5)
    c.rect(x - 6, y - 14, x + 6, y - 9, fill=ink)
    c.circle(x, y + 1, 6, stroke=ink, width=2.5)


def camera_disk(c, ink, x, y):
    camera(c, ink, x - 4, y - 2)
    c.rect(x + 8, y + 6, x + 20, y + 18, radius=2, fill=ink)


def disk(c, ink, x, y):
    c.rect(x - 14, y - 14, x + 14, y + 14, radius=3, stroke=ink, width=2.5)
    c.rect(x - 8, y - 14, x + 8, y - 5, stroke=ink, width=2.5)
    c.rect(x - 9, y + 3, x + 9, y + 14, fill=ink)


def pen(c, ink, x, y):
    c.poly([(x - 12, y + 12), (x - 10, y + 4), (x + 6, y - 12), (x + 12, y - 6), (x - 4, y + 10)], stroke=ink, width=2.5)


def disk_pen(c, ink, x, y):
    disk(c, ink, x - 4, y)
    pen(c, ink, x + 10, y - 4)


def mode_buttons():
    """Header pair pictures: which two of IMAGES, ANALYSIS and DATA show; 1 checked, 2 normal."""
    glyphs = {'image': lambda c, ink, x: (c.rect(x - 7, y - 6, x + 7, y + 6, stroke=ink, width=1.5),
                                          c.poly([(x - 6, y + 5), (x - 1, y - 1), (x + 6, y + 5)], fill=ink)),
              'analysis': lambda c, ink, x: c.poly([(x - 7, y + 6), (x - 3, y - 2), (x + 1, y + 2), (x + 7, y - 6)],
                                                   closed=False, stroke=ink, width=1.8),
              'data': lambda c, ink, x: [c.line(x - 7, y + dy, x + 7, y + dy, stroke=ink, width=1.6)
                                         for dy in (-5, 0, 5)]}
    y = 16
    for first, second in (('image', 'analysis'), ('image', 'data'), ('analysis', 'data')):
        for number, face, ink in (('1', BLUE, INK), ('2', FACE, 'rgb(200,204,210)')):
            c = Canvas(44, 32)
            c.rect(0, 0, 44, 32, radius=6, fill=face)
            glyphs[first](c, ink, 13)
            glyphs[second](c, ink, 31)
            # The form names them "<first>,<second> <n>.png": resources.qrc gives that name as an
            # alias, since build tools split file names at blanks.
            c.save(f'Multicolor/{first}_{second}_{number}.png')


def view_buttons():
    """Tile (2 x 2) and overlay (stacked colours): 1 normal, 2 checked or pressed, 3 disabled."""
    for name, draw in (('tile', tile_glyph), ('overlay', overlay_glyph)):
        for number, face, ink in (('1', FACE, INK), ('2', BLUE, INK), ('3', FACE_D, INK_D)):
            c = Canvas(80, 44)
            c.rect(0, 0, 80, 44, radius=8, fill=face)
            draw(c, ink, number == '3')
            c.save(f'Multicolor/{name}{number}.png')


def tile_glyph(c, ink, _):
    for dx in (0, 14):
        for dy in (0, 14):
            c.rect(27 + dx, 8 + dy, 39 + dx, 20 + dy, radius=2, fill=ink)


def overlay_glyph(c, ink, disabled):
    colours = (INK_D,) * 3 if disabled else ('rgb(230,60,60)', 'rgb(60,200,90)', 'rgb(70,130,255)')
    for (x, y), col in zip(((34, 18), (46, 18), (40, 28)), colours):
        c.circle(x, y, 9, stroke=col, width=2.5)


def slider_parts():
    c = Canvas(110, 19)
    c.rect(0, 0, 110, 19, radius=9, fill='rgb(31,34,38)')
    c.save('Multicolor/bar_back.png')
    for name, fill in (('bar2', 'rgb(120,126,134)'), ('bar_d', 'rgb(60,65,73)')):
        c = Canvas(100, 5)
        c.rect(0, 0, 100, 5, radius=2.5, fill=fill)
        c.save(f'Multicolor/{name}.png')
    for name, fill, ring in (('handle', 'white', BLUE), ('handle_p', FACE_P, BLUE), ('handle_d', INK_D, FACE_D)):
        c = Canvas(15, 15)
        c.circle(7.5, 7.5, 6.5, fill=fill, stroke=ring, width=1.5)
        c.save(f'Multicolor/{name}.png')


def channel_heading():
    c = Canvas(350, 22)
    for x, text in ((0, 'CH'), (120, 'Brightness'), (244, 'Contrast')):
        c.text(x, 0, text, 9, 'rgb(130,130,130)', font=FONT_BOLD, gravity='West')
    c.save('Multicolor/multicolor_2.png')


def thumbnail():
    c = Canvas(34, 34)
    c.rect(0, 0, 34, 34, radius=3, fill='rgb(24,27,31)', stroke='rgb(70,75,83)', width=1)
    c.rect(9, 11, 25, 24, radius=2, stroke='rgb(70,75,83)', width=1.5)
    c.circle(17, 17.5, 3.5, stroke='rgb(70,75,83)', width=1.5)
    c.save('Multicolor/thumbnail.png')


def annotate():
    for name, face, ink in (('annotate1', FACE, INK), ('annotate2', BLUE, INK), ('annotate_d', FACE_D, INK_D)):
        c = Canvas(60, 34)
        c.rect(0, 0, 60, 34, radius=6, fill=face)
        c.text(0, 0, 'A', 14, ink, font=FONT_BOLD, gravity='Center')
        c.line(18, 27, 42, 27, stroke=ink, width=2)
        c.save(f'Multicolor/{name}.png')


def category_bar():
    c = Canvas(377, 23)
    c.rect(0, 0, 377, 23, fill='rgb(40,44,50)')
    c.rect(0, 0, 4, 23, fill=BLUE)
    c.save('Common/bar.png')


def tool_glyphs():
    """Measurement tools m<n>: 0 select, 1 rectangle, 2 ellipse, 3 polygon, 4 free hand, 5 line,
    6 angle, 7 text, 8 segment line, 13 scale bar."""
    def select(c, ink):
        c.poly([(15, 10), (15, 32), (20, 27), (24, 35), (28, 33), (24, 25), (31, 25)], fill=ink)

    def rect(c, ink):
        c.rect(11, 14, 33, 30, stroke=ink, width=2.2)

    def ellipse(c, ink):
        c.style(stroke=ink, width=2.2).draw('ellipse', (22, 22), (12, 8), (0, 360))

    def polygon(c, ink):
        c.poly([(12, 28), (16, 12), (30, 14), (33, 26), (22, 33)], stroke=ink, width=2.2)

    def freehand(c, ink):
        c.style(stroke=ink, width=2.2).draw('bezier', (10, 28), (16, 8), (24, 36), (34, 14))

    def line(c, ink):
        c.line(11, 31, 33, 13, stroke=ink, width=2.4)

    def angle(c, ink):
        c.poly([(33, 12), (12, 31), (34, 31)], closed=False, stroke=ink, width=2.2)

    def text(c, ink):
        c.text(0, 0, 'T', 18, ink, font=FONT_BOLD, gravity='Center')

    def segment(c, ink):
        c.poly([(10, 30), (18, 16), (26, 26), (34, 12)], closed=False, stroke=ink, width=2.2)

    def scalebar(c, ink):
        c.rect(10, 26, 34, 30, fill=ink)
        c.line(10, 18, 10, 26, stroke=ink, width=2)
        c.line(34, 18, 34, 26, stroke=ink, width=2)

    for number, draw in ((0, select), (1, rect), (2, ellipse), (3, polygon), (4, freehand), (5, line), (6, angle),
                         (7, text), (8, segment), (13, scalebar)):
        for suffix, face, ink in (('-1', FACE, INK), ('-2', BLUE, INK), ('-d', FACE_D, INK_D)):
            c = Canvas(44, 44)
            c.rect(1, 1, 43, 43, radius=7, fill=face)
            draw(c, ink)
            c.save(f'Single/m{number}{suffix}.png')


def strip_arrows():
    for name, pts in (('left', [(16, 10), (16, 34), (7, 22)]), ('right', [(8, 10), (8, 34), (17, 22)])):
        for suffix, ink in (('1', 'rgb(200,204,210)'), ('2', BLUE), ('_d', 'rgb(60,65,73)')):
            c = Canvas(24, 44)
            c.poly(pts, fill=ink)
            c.save(f'Single/{name}{suffix}.png')


def indicator():
    c = Canvas(303, 10)
    for i in range(303):
        v = round(255 * i / 302)
        c.rect(i, 0, i + 1, 10, fill=f'rgb({v},{v},{v})')
    c.save('Single/indicator.png')


if __name__ == '__main__':
    for name, caption, glyph, accent in (('live', 'LIVE', dot, BLUE), ('capture', 'CAPTURE', camera, BLUE),
                                         ('capture_save', 'CAPTURE', camera_disk, GREEN)):
        bottom_button([f'Common/{name}{s}.png' for s in ('', '_p', '_d')], caption, glyph, accent)
    # Save before and after annotating share their pressed and disabled pictures.
    bottom_button(('Common/save_before.png', 'Common/save_p.png', 'Common/save_d.png'), 'SAVE', disk, BLUE, rise=8)
    bottom_button(('Common/save_after.png', None, None), 'SAVE', disk_pen, ORANGE, rise=8)
    mode_buttons()
    view_buttons()
    slider_parts()
    channel_heading()
    thumbnail()
    annotate()
    category_bar()
    tool_glyphs()
    strip_arrows()
    indicator()
