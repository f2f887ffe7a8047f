#!/usr/bin/env python3
"""Draws the main window's pictures: the menu bar and its buttons, the camera-view background,
the panel indicator strip and the backgrounds of the mode pages and image browsers.

Same flat set and drawing helper as make_icons.py and make_panel_icons.py: dark surfaces
rgb(31,34,38), cards rgb(40,44,50), blue accent rgb(1,122,255). A mode button is one tile of
the menu bar's row (193 x 33): a glyph and the mode's name, blue when checked. Run it after
changing a picture:
    python3 resources/UI/make_frame_icons.py
"""
import math

from make_icons import BACK, BLUE, CARD, EDGE, FONT_BOLD, Canvas, s

BAR = 'rgb(24,26,30)'
VIEW = 'rgb(14,15,18)'

# Button faces and inks: normal, checked or pressed, disabled.
NORMAL = ('rgb(46,50,57)', 'rgb(214,218,224)')
CHECKED = (BLUE, 'white')
DISABLED = ('rgb(34,37,42)', 'rgb(92,97,105)')
SETTING_INK = {'normal': 'rgb(181,181,181)', 'pressed': BLUE, 'disabled': 'rgb(80,84,90)'}


# --- glyphs, each in a 20 x 20 box at (x, y) ----------------------------------------------------

def glyph_multicolor(c, x, y, ink):
    for cx, cy in ((7, 7.5), (13, 7.5), (10, 12.5)):
        c.circle(x + cx, y + cy, 5.5, stroke=ink, width=1.5)


def glyph_zstack(c, x, y, ink):
    for dy in (0, 4, 8):
        c.poly([(x + 10, y + 2 + dy), (x + 19, y + 6 + dy), (x + 10, y + 10 + dy), (x + 1, y + 6 + dy)],
               stroke=ink, width=1.5)


def glyph_timelapse(c, x, y, ink):
    c.circle(x + 10, y + 10, 8.5, stroke=ink, width=1.8)
    c.line(x + 10, y + 10, x + 10, y + 4.5, stroke=ink, width=1.8)
    c.line(x + 10, y + 10, x + 14, y + 12, stroke=ink, width=1.8)


def glyph_cellcount(c, x, y, ink):
    c.circle(x + 10, y + 10, 8.5, stroke=ink, width=1.5)
    for cx, cy in ((7, 7), (13, 8), (8, 13), (13.5, 13.5)):
        c.circle(x + cx, y + cy, 1.8, fill=ink)


def glyph_growth(c, x, y, ink):
    for i, h in enumerate((6, 10, 15)):
        c.rect(x + 2 + i * 6, y + 18 - h, x + 6 + i * 6, y + 18, fill=ink)


def glyph_filemanager(c, x, y, ink):
    c.poly([(x + 1, y + 4), (x + 7, y + 4), (x + 9, y + 6.5), (x + 19, y + 6.5), (x + 19, y + 17), (x + 1, y + 17)],
           stroke=ink, width=1.6)


MODES = (
    # picture names: normal, checked, disabled
    (('capture1', 'capture3', 'capture2'), 'Multicolor', glyph_multicolor),
    (('z-stack', 'z-stack_p', 'z-stack_d'), 'Z-Stack', glyph_zstack),
    (('time lapse', 'time lapse_p', 'time lapse_d'), 'Time Lapse', glyph_timelapse),
    (('cell counter 1', 'cell counter 3', 'cell counter 2'), 'Cell Count', glyph_cellcount),
    (('growth monitor', 'growth monitor_p', 'growth monitor_d'), 'Growth Monitor', glyph_growth),
    (('file_manager', 'file_manager_p', 'file_manager_d'), 'File Manager', glyph_filemanager),
)


# --- menu bar -----------------------------------------------------------------------------------

def menu_bar():
    c = Canvas(1920, 60, BAR)
    c.rect(0, 58, 1920, 60, fill=EDGE)
    # the row of mode buttons sits in a recessed track
    c.rect(160, 14, 1133, 53, radius=6, fill='rgb(18,20,23)')
    c.line(70, 14, 70, 46, stroke=EDGE, width=1)
    c.save('MainMenu/menu.png')


def mode_button(name, label, glyph, face, ink):
    c = Canvas(193, 33)
    c.rect(1, 1, 192, 32, radius=4, fill=face)
    glyph(c, 14, 6.5, ink)
    c.text(42, 0, label, 12, ink, FONT_BOLD, gravity='West')
    c.save(f'MainMenu/{name}.png')


def gear(name, ink):
    c = Canvas(24, 23)
    cx, cy, teeth = 12, 11.5, 8
    points = []
    for i in range(teeth * 4):
        angle = 2 * math.pi * i / (teeth * 4)
        r = 10.5 if (i % 4) in (1, 2) else 8
        points.append((cx + r * math.cos(angle), cy + r * math.sin(angle)))
    c.poly(points, fill=ink)
    c.circle(cx, cy, 3.5, fill=BAR)
    c.save(f'MainMenu/{name}.png')


def power(name, ink):
    c = Canvas(54, 60)
    cx, cy, r = 27, 31, 12
    c.style(stroke=ink, width=3.2)
    c.args += ['-draw', f'arc {s(cx - r)},{s(cy - r)} {s(cx + r)},{s(cy + r)} -55,235']
    c.line(cx, cy - 16, cx, cy - 3, stroke=ink, width=3.2)
    c.save(f'MainMenu/{name}.png')


# --- screen backgrounds -------------------------------------------------------------------------

def camera_view():
    # The live image sits 10 pixels in from the left and top of this background.
    c = Canvas(1292, 1020, BACK)
    c.rect(9, 9, 1283, 1011, radius=4, fill=VIEW, stroke=EDGE, width=1)
    c.save('Common/camera_view.png')


def panel_indicator():
    c = Canvas(47, 1020, BACK)
    c.line(0.5, 0, 0.5, 1020, stroke=EDGE, width=1)
    c.rect(6, 440, 41, 580, radius=8, fill=CARD, stroke=EDGE, width=1)
    c.poly([(28, 496), (19, 510), (28, 524)], closed=False, stroke='rgb(150,156,166)', width=3)
    c.save('Common/controlpanel_shrink.png')


def page(relpath, title):
    c = Canvas(378, 1020, BACK)
    c.line(0.5, 0, 0.5, 1020, stroke=EDGE, width=1)
    c.rect(8, 4, 370, 48, radius=8, fill=CARD, stroke=EDGE, width=1)
    c.rect(20, 44, 120, 47, radius=1.5, fill=BLUE)
    c.text(20, 11, title, 16, 'white', FONT_BOLD)
    c.rect(8, 56, 370, 1016, radius=10, fill=CARD, stroke=EDGE, width=1)
    c.save(relpath)


def browser(relpath):
    # Image browsers take the camera view and the panel's room: image left, strip of controls right.
    c = Canvas(1495, 1020, BACK)
    c.rect(9, 9, 1283, 1011, radius=4, fill=VIEW, stroke=EDGE, width=1)
    c.rect(1293, 4, 1489, 1016, radius=10, fill=CARD, stroke=EDGE, width=1)
    c.save(relpath)


def main():
    menu_bar()
    for names, label, glyph in MODES:
        for name, (face, ink) in zip(names, (NORMAL, CHECKED, DISABLED)):
            mode_button(name, label, glyph, face, ink)
    gear('setting', SETTING_INK['normal'])
    gear('setting_p', SETTING_INK['pressed'])
    gear('setting_d', SETTING_INK['disabled'])
    power('power', 'rgb(236,80,86)')
    power('power_d', 'rgb(80,84,90)')
    camera_view()
    panel_indicator()
    page('Multicolor/multicolor_1.png', 'Multicolor')
    page('Single/single.png', 'Single')
    page('Z-Stack/z-stack.png', 'Z-Stack')
    page('TimeLapse/time lapse.png', 'Time Lapse')
    page('cellcount.png', 'Cell Count')
    page('growthmonitor.png', 'Growth Monitor')
    browser('TimeLapse/TimeLapseImageWidget.png')
    browser('Z-Stack/ZStackImageWidget_bg.png')


if __name__ == '__main__':
    main()
