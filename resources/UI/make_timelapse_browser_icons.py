#!/usr/bin/env python3
"""Draws the picture buttons of the time-lapse series browser (resources/UI/TimeLapse).

Slide-show buttons, strip arrows, slider groove and handle, delete. The pressed and disabled
pause and stop pictures are the page's own (make_timelapse_icons.py). Run it after a change:
    python3 resources/UI/make_timelapse_browser_icons.py
"""
from make_icons import BLUE, CARD, EDGE, Canvas
from make_timelapse_icons import FACES, glyph

RED = 'rgb(236,80,86)'


def show_button(name, kind, states):
    for suffix, state in states.items():
        face, edge, ink = FACES[state]
        c = Canvas(56, 56)
        c.rect(0.5, 0.5, 55.5, 55.5, radius=10, fill=face, stroke=edge, width=1)
        glyph(kind, c, ink, 28, 28)
        c.save(f'TimeLapse/{name}{suffix}.png')


def arrow(name, left):
    for suffix, state in (('1', 'on'), ('2', 'p')):
        face, edge, ink = FACES[state]
        c = Canvas(44, 68)
        c.rect(0.5, 0.5, 43.5, 67.5, radius=8, fill=face, stroke=edge, width=1)
        x0, x1 = (27, 17) if left else (17, 27)
        c.poly([(x0, 22), (x1, 34), (x0, 46)], closed=False, stroke=ink, width=3)
        c.save(f'TimeLapse/{name}{suffix}.png')


def slider():
    c = Canvas(400, 12)
    c.rect(0, 2, 400, 10, radius=4, fill=EDGE)
    c.save('TimeLapse/control bar.png')
    c = Canvas(36, 36)
    c.circle(18, 18, 14, fill=BLUE, stroke='white', width=2)
    c.save('TimeLapse/handle.png')


def delete_button():
    for suffix, face, ink in (('1', RED, 'white'), ('2', 'rgb(240,130,134)', 'white'),
                              ('_d', 'rgb(34,37,42)', 'rgb(80,86,94)')):
        c = Canvas(180, 68)
        c.rect(0, 0, 180, 68, radius=10, fill=face)
        c.text(0, 22, 'Delete', 14, ink, gravity='North')
        c.save(f'TimeLapse/delete{suffix}.png')


if __name__ == '__main__':
    show_button('play', 'run', {'': 'on', '_p': 'p', '_disabled': 'disabled'})
    show_button('pause', 'pause', {'': 'on'})
    show_button('stop', 'stop', {'': 'on', '_slide_disabled': 'disabled'})
    arrow('left', True)
    arrow('right', False)
    slider()
    delete_button()
