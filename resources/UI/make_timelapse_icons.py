#!/usr/bin/env python3
"""Draws the Time lapse page's buttons, switches and tiles (resources/UI/TimeLapse).

Same flat set and drawing helper as make_icons.py. Each main button has a normal, a pressed
(_p) and a disabled picture. Run it after changing a picture:
    python3 resources/UI/make_timelapse_icons.py
"""
from make_icons import BLUE, CARD, EDGE, Canvas

FACES = {'on': (CARD, EDGE, 'white'), 'p': ('rgb(1,92,200)', BLUE, 'white'),
         'disabled': ('rgb(34,37,42)', 'rgb(44,48,54)', 'rgb(80,86,94)')}
ACCENT = {'live': 'rgb(46,190,104)', 'run': BLUE, 'pause': 'rgb(240,170,40)', 'stop': 'rgb(236,80,86)'}


def glyph(kind, c, ink, cx=50, cy=25):
    if kind == 'live':
        c.rect(cx - 14, cy - 9, cx + 6, cy + 9, radius=3, fill=ink)
        c.poly([(cx + 6, cy - 2), (cx + 15, cy - 8), (cx + 15, cy + 8), (cx + 6, cy + 2)], fill=ink)
    elif kind == 'run':
        c.poly([(cx - 9, cy - 12), (cx + 12, cy), (cx - 9, cy + 12)], fill=ink)
    elif kind == 'pause':
        c.rect(cx - 10, cy - 11, cx - 3, cy + 11, radius=1.5, fill=ink)
        c.rect(cx + 3, cy - 11, cx + 10, cy + 11, radius=1.5, fill=ink)
    else:
        c.rect(cx - 10, cy - 10, cx + 10, cy + 10, radius=2, fill=ink)


def main_button(kind):
    for state, (face, edge, ink) in FACES.items():
        c = Canvas(100, 64)
        c.rect(0.5, 0.5, 99.5, 63.5, radius=10, fill=face, stroke=edge, width=1)
        glyph(kind, c, ACCENT[kind] if state == 'on' else ink, 50, 27)
        c.text(0, 44, kind.capitalize(), 11, ink, gravity='North')
        c.save(f'TimeLapse/{kind}_{state}.png')


def switch():
    for state, (track, knob, x) in {'on': (BLUE, 'white', 38), 'off': ('rgb(70,76,84)', 'rgb(200,204,210)', 18),
                                    'disabled': ('rgb(44,48,54)', 'rgb(80,86,94)', 18)}.items():
        c = Canvas(56, 32)
        c.rect(2, 4, 54, 28, radius=12, fill=track)
        c.circle(x, 16, 10, fill=knob)
        c.save(f'TimeLapse/switch_{state}.png')


def tab():
    for state, (face, edge) in {'on': (BLUE, BLUE), 'off': (CARD, EDGE)}.items():
        c = Canvas(165, 40)
        c.rect(0.5, 0.5, 164.5, 39.5, radius=8, fill=face, stroke=edge, width=1)
        c.save(f'TimeLapse/tab_{state}.png')


def tile(name, draw):
    for state, (face, edge, ink) in FACES.items():
        c = Canvas(100, 100)
        c.rect(0.5, 0.5, 99.5, 99.5, radius=12, fill=face, stroke=edge, width=1)
        draw(c, BLUE if state == 'on' else ink)
        c.save(f'TimeLapse/{name}_{state}.png')


def save_glyph(c, ink):
    c.rect(30, 26, 70, 66, radius=4, stroke=ink, width=3)
    c.rect(38, 26, 62, 40, stroke=ink, width=3)
    c.rect(38, 50, 62, 66, fill=ink)


def load_glyph(c, ink):
    c.poly([(26, 34), (42, 34), (47, 40), (74, 40), (74, 68), (26, 68)], stroke=ink, width=3)


def video_glyph(c, ink):
    c.rect(24, 34, 62, 66, radius=5, stroke=ink, width=3)
    c.poly([(62, 44), (76, 36), (76, 64), (62, 56)], stroke=ink, width=3)


def progress_back():
    c = Canvas(338, 40)
    c.rect(0.5, 0.5, 337.5, 39.5, radius=8, fill='rgb(24,27,31)', stroke=EDGE, width=1)
    c.save('TimeLapse/progress_back.png')


def video_dialog_back():
    # The "create a video" dialog: a dark card with a title band.
    c = Canvas(520, 350, 'rgb(31,34,38)')
    c.rect(0.5, 0.5, 519.5, 349.5, stroke=EDGE, width=1)
    c.rect(0, 0, 520, 5, fill=BLUE)
    c.text(20, 10, 'Create a video', 11, 'rgb(200,204,212)')
    c.rect(20, 280, 500, 281, fill=EDGE)
    c.save('TimeLapse/create a video_back.png')


def main():
    for kind in ACCENT:
        main_button(kind)
    switch()
    tab()
    tile('save', save_glyph)
    tile('load', load_glyph)
    tile('video', video_glyph)
    progress_back()
    video_dialog_back()


if __name__ == '__main__':
    main()
