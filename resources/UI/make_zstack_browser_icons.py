#!/usr/bin/env python3
"""Draws the picture buttons of the Z-stack slice browser (resources/UI/Z-Stack).

Same flat set as make_zstack_icons.py: a normal, a pressed (or checked) and a disabled picture.
Run it after changing a picture:
    python3 resources/UI/make_zstack_browser_icons.py
"""
from make_icons import BLUE, FONT_BOLD, Canvas
from make_zstack_icons import FACE, FACE_D, INK, INK_D, RED

PRESSED = 'rgb(120,180,255)'


def arrow_bar(name, up):
    """A full-width scroll bar button with a chevron: name.png, name_p.png, name_d.png."""
    w, h = 170, 30
    for suffix, face, ink in (('', FACE, INK), ('_p', PRESSED, INK), ('_d', FACE_D, INK_D)):
        c = Canvas(w, h)
        c.rect(0, 0, w, h, radius=6, fill=face)
        y0, y1 = (20, 10) if up else (10, 20)
        c.poly([(w / 2 - 14, y0), (w / 2, y1), (w / 2 + 14, y0)], closed=False, stroke=ink, width=3)
        c.save(f'Z-Stack/{name}{suffix}.png')


def mode_button(name, glyph):
    """name_off.png (dark) and name_on.png (blue, pressed or checked)."""
    for suffix, face in (('_off', FACE), ('_on', BLUE)):
        c = Canvas(80, 40)
        c.rect(0, 0, 80, 40, radius=8, fill=face)
        glyph(c, INK, 40, 20)
        c.save(f'Z-Stack/{name}{suffix}.png')


def grid(c, ink, x, y):
    for dx in (-9, 3):
        for dy in (-11, 1):
            c.rect(x + dx - 2, y + dy, x + dx + 8, y + dy + 9, radius=1.5, fill=ink)


def rows(c, ink, x, y):
    for dy in (-10, -1, 8):
        c.rect(x - 13, y + dy, x - 9, y + dy + 3, fill=ink)
        c.rect(x - 5, y + dy, x + 13, y + dy + 3, radius=1, fill=ink)


def delete_button():
    w, h = 170, 60
    for suffix, face, ink in (('1', RED, INK), ('2', 'rgb(240,130,134)', INK), ('_d', FACE_D, INK_D)):
        c = Canvas(w, h)
        c.rect(0, 0, w, h, radius=10, fill=face)
        x, y = 40, h / 2
        c.rect(x - 11, y - 8, x + 11, y + 14, radius=2, stroke=ink, width=2.5)
        c.line(x - 15, y - 12, x + 15, y - 12, stroke=ink, width=2.5)
        c.rect(x - 5, y - 17, x + 5, y - 12, stroke=ink, width=2)
        c.text(62, 0, 'DELETE', 14, ink, font=FONT_BOLD, gravity='West')
        c.save(f'Z-Stack/delete{suffix}.png')


if __name__ == '__main__':
    arrow_bar('up', True)
    arrow_bar('down', False)
    mode_button('thumbnail', grid)
    mode_button('list', rows)
    delete_button()
