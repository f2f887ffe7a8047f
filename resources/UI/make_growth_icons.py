#!/usr/bin/env python3
"""Draws the Growth monitor page's and browser's pictures (resources/UI/GrowthMonitor).

Same flat set and drawing helper as make_icons.py: the live, capture, save and load buttons with
their pressed (_p) and disabled (_d) pictures, the check box, the graph and table tabs and the
image-type buttons of the browser. Run it after changing a picture:
    python3 resources/UI/make_growth_icons.py
"""
from make_icons import BLUE, CARD, EDGE, Canvas
from make_timelapse_icons import ACCENT, FACES, glyph

GREEN = 'rgb(46,190,104)'
STATES = {'': 'on', '_p': 'p', '_d': 'disabled'}


def button(name, label, draw, accent):
    for suffix, state in STATES.items():
        face, edge, ink = FACES[state]
        c = Canvas(100, 64)
        c.rect(0.5, 0.5, 99.5, 63.5, radius=10, fill=face, stroke=edge, width=1)
        draw(c, accent if state == 'on' else ink)
        c.text(0, 44, label, 11, ink, gravity='North')
        c.save(f'GrowthMonitor/{name}{suffix}.png')


def capture_glyph(c, ink):
    c.rect(36, 14, 64, 38, radius=4, stroke=ink, width=3)
    c.circle(50, 26, 6, stroke=ink, width=3)


def save_glyph(c, ink):
    c.rect(38, 10, 62, 34, radius=3, stroke=ink, width=3)
    c.rect(43, 10, 57, 18, stroke=ink, width=2)
    c.rect(43, 25, 57, 34, fill=ink)


def load_glyph(c, ink):
    c.poly([(36, 14), (46, 14), (49, 18), (64, 18), (64, 36), (36, 36)], stroke=ink, width=3)


def check():
    for state, (face, edge) in {'on': (BLUE, BLUE), 'off': ('rgb(24,27,31)', 'rgb(110,116,124)')}.items():
        c = Canvas(28, 28)
        c.rect(1.5, 1.5, 26.5, 26.5, radius=5, fill=face, stroke=edge, width=2)
        if state == 'on':
            c.poly([(7, 14), (12, 19), (21, 9)], closed=False, stroke='white', width=3)
        c.save(f'GrowthMonitor/check_{state}.png')


def tabs():
    for selected in (False, True):
        face, edge, ink = (BLUE, BLUE, 'white') if selected else (CARD, EDGE, 'rgb(190,196,204)')
        suffix = '_on' if selected else ''
        c = Canvas(176, 40)
        c.rect(0.5, 0.5, 175.5, 39.5, radius=8, fill=face, stroke=edge, width=1)
        for i, h in enumerate((8, 14, 20, 26)):
            c.rect(60 + i * 8, 32 - h, 65 + i * 8, 32, fill=ink)
        c.text(96, 11, 'Graph', 11, ink)
        c.save(f'GrowthMonitor/tab_graph{suffix}.png')
        c = Canvas(176, 40)
        c.rect(0.5, 0.5, 175.5, 39.5, radius=8, fill=face, stroke=edge, width=1)
        c.rect(54, 9, 84, 31, stroke=ink, width=2)
        for y in (16, 23):
            c.line(54, y, 84, y, stroke=ink, width=2)
        c.line(66, 9, 66, 31, stroke=ink, width=2)
        c.text(94, 11, 'Table', 11, ink)
        c.save(f'GrowthMonitor/tab_table{suffix}.png')


def type_buttons():
    for state, (face, edge) in {'on': (BLUE, BLUE), 'off': (CARD, EDGE)}.items():
        c = Canvas(180, 52)
        c.rect(0.5, 0.5, 179.5, 51.5, radius=8, fill=face, stroke=edge, width=1)
        c.save(f'GrowthMonitor/type_{state}.png')


def main():
    button('live', 'Live', lambda c, ink: glyph('live', c, ink, 50, 27), ACCENT['live'])
    button('capture', 'Capture', capture_glyph, BLUE)
    button('load', 'Folder', load_glyph, BLUE)
    for name in ('save', 'saved'):
        button(name, 'Save' if name == 'save' else 'Saved', save_glyph, BLUE if name == 'save' else GREEN)
    check()
    tabs()
    type_buttons()


if __name__ == '__main__':
    main()
