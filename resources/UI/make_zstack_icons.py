#!/usr/bin/env python3
"""Draws the Z-stack page's picture buttons and switches (resources/UI/Z-Stack).

Same flat set and drawing helper as make_icons.py. Every button has a normal, a pressed (or
checked) and a disabled picture. Run it after changing a picture:
    python3 resources/UI/make_zstack_icons.py
"""
from make_icons import BLUE, FONT_BOLD, Canvas

FACE = 'rgb(62,67,75)'
FACE_D = 'rgb(44,48,54)'
INK = 'white'
INK_D = 'rgb(92,98,106)'
GREEN = 'rgb(30,160,90)'
RED = 'rgb(214,64,69)'


def button(name, w, h, caption, glyph, accent):
    """name.png (accent face), name_p.png (pressed: lighter), name_d.png (disabled: grey)."""
    for suffix, face, ink in (('', accent, INK), ('_p', 'rgb(120,180,255)', INK), ('_d', FACE_D, INK_D)):
        c = Canvas(w, h)
        c.rect(0, 0, w, h, radius=10, fill=face)
        glyph(c, ink, 34, h / 2)
        c.text(62, 0, caption, 14, ink, font=FONT_BOLD, gravity='West')
        c.save(f'Z-Stack/{name}{suffix}.png')


def tab(name, w, h, caption):
    for suffix, face, ink in (('', FACE, 'rgb(200,204,210)'), ('_p', BLUE, INK), ('_d', FACE_D, INK_D)):
        c = Canvas(w, h)
        c.rect(0, 0, w, h, radius=8, fill=face)
        c.text(0, 0, caption, 12, ink, font=FONT_BOLD, gravity='Center')
        c.save(f'Z-Stack/{name}{suffix}.png')


def tile(name, glyph):
    for suffix, face, ink in (('', FACE, INK), ('_p', BLUE, INK), ('_d', FACE_D, INK_D)):
        c = Canvas(150, 80)
        c.rect(0, 0, 150, 80, radius=10, fill=face)
        glyph(c, ink, 75, 40)
        c.save(f'Z-Stack/{name}{suffix}.png')


def play(c, ink, x, y):
    c.poly([(x - 9, y - 13), (x - 9, y + 13), (x + 13, y)], fill=ink)


def square(c, ink, x, y):
    c.rect(x - 11, y - 11, x + 11, y + 11, radius=3, fill=ink)


def dot(c, ink, x, y):
    c.circle(x, y, 13, stroke=ink, width=3)
    c.circle(x, y, 6, fill=ink)


def plus(c, ink, x, y):
    c.rect(x - 13, y - 2, x + 13, y + 2, radius=1.5, fill=ink)
    c.rect(x - 2, y - 13, x + 2, y + 13, radius=1.5, fill=ink)


def folder(c, ink, x, y):
    c.poly([(x - 24, y - 16), (x - 8, y - 16), (x - 3, y - 10), (x + 24, y - 10), (x + 24, y + 17), (x - 24, y + 17)],
           stroke=ink, width=3)


def disk(c, ink, x, y):
    c.rect(x - 20, y - 20, x + 20, y + 20, radius=4, stroke=ink, width=3)
    c.rect(x - 11, y - 20, x + 11, y - 7, stroke=ink, width=3)
    c.rect(x - 12, y + 4, x + 12, y + 20, fill=ink)


def layers(c, ink, x, y):
    for dy in (-12, 0, 12):
        c.poly([(x - 24, y + dy), (x, y + dy - 9), (x + 24, y + dy), (x, y + dy + 9)], stroke=ink, width=2.5)


def film(c, ink, x, y):
    c.rect(x - 26, y - 17, x + 26, y + 17, radius=4, stroke=ink, width=3)
    c.poly([(x - 6, y - 9), (x - 6, y + 9), (x + 10, y)], fill=ink)


def arrows():
    for name, pts in (('arrow_up', [(1, 9), (13, 9), (7, 1)]), ('arrow_down', [(1, 1), (13, 1), (7, 9)])):
        c = Canvas(14, 10)
        c.poly(pts, fill='rgb(200,204,210)')
        c.save(f'Z-Stack/{name}.png')


def switches():
    for name, track, knob, x in (('switch_on', BLUE, 'white', 41), ('switch_off', 'rgb(70,75,83)', 'white', 15),
                                 ('switch_d', FACE_D, INK_D, 15)):
        c = Canvas(56, 30)
        c.rect(1, 1, 55, 29, radius=14, fill=track)
        c.circle(x, 15, 11, fill=knob)
        c.save(f'Z-Stack/{name}.png')


def radios():
    for name, ring, dot in (('radio_on', BLUE, 'white'), ('radio_off', 'rgb(92,98,106)', None),
                            ('radio_on_d', 'rgb(30,62,104)', INK_D), ('radio_off_d', 'rgb(60,65,73)', None)):
        c = Canvas(24, 24)
        if dot:
            c.circle(12, 12, 11, fill=ring)
            c.circle(12, 12, 4.5, fill=dot)
        else:
            c.circle(12, 12, 10, fill='rgb(24,27,31)', stroke=ring, width=2)
        c.save(f'Z-Stack/{name}.png')


def stack():
    c = Canvas(100, 164)
    for i, y in enumerate(range(20, 150, 26)):
        shade = 70 + i * 22
        c.poly([(8, y + 12), (50, y), (92, y + 12), (50, y + 24)],
               fill=f'rgb({shade // 2},{shade // 2 + 30},{min(255, shade + 60)})', stroke='rgb(160,190,230)', width=1)
    c.save('Z-Stack/stack.png')


def merge_back():
    """The merge dialog's background (500 x 360): a dark panel with a blue top edge and a frame."""
    c = Canvas(500, 360, 'rgb(44,48,56)')
    c.rect(0, 0, 500, 4, fill=BLUE)
    c.rect(1, 1, 499, 359, stroke='rgb(90,96,110)', width=2)
    c.save('Z-Stack/merge focus_back.png')


if __name__ == '__main__':
    button('start_on', 164, 72, 'START', play, GREEN)
    # The names of the start pictures follow the form's style sheet.
    import os
    here = os.path.dirname(os.path.abspath(__file__))
    os.replace(os.path.join(here, 'Z-Stack/start_on_d.png'), os.path.join(here, 'Z-Stack/start_disable.png'))
    button('stop', 164, 72, 'STOP', square, RED)
    button('live', 164, 72, 'LIVE', dot, BLUE)
    button('next', 164, 72, 'NEW', plus, BLUE)
    tab('capture', 168, 46, 'CAPTURE')
    tab('process', 168, 46, 'PROCESSING')
    tile('load', folder)
    tile('save', disk)
    tile('merge', layers)
    tile('video', film)
    arrows()
    switches()
    radios()
    stack()
    merge_back()
