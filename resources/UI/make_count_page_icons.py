#!/usr/bin/env python3
"""Draws the Cell count page's picture buttons (resources/UI) and its histogram controls
(resources/UI/graph).

Same flat set and drawing helper as make_icons.py. Buttons have a normal, a pressed (or checked)
and a disabled picture under the names the page's form uses. Run it after changing a picture:
    python3 resources/UI/make_count_page_icons.py
"""
from make_icons import BLUE, FONT_BOLD, Canvas

FACE = 'rgb(62,67,75)'
FACE_D = 'rgb(44,48,54)'
INK = 'white'
INK_D = 'rgb(92,98,106)'
PRESSED = 'rgb(120,180,255)'
GREEN = 'rgb(30,160,90)'
RED = 'rgb(214,64,69)'


def face(name, w, h, caption, fill, ink, glyph=None, size=13):
    c = Canvas(w, h)
    c.rect(0, 0, w, h, radius=10, fill=fill)
    if glyph:
        glyph(c, ink, 30, h / 2)
        c.text(52, 0, caption, size, ink, font=FONT_BOLD, gravity='West')
    else:
        c.text(0, 0, caption, size, ink, font=FONT_BOLD, gravity='Center')
    c.save(name)


def three(names, w, h, caption, accent=FACE, glyph=None, size=13):
    """normal, pressed (or checked) and disabled pictures."""
    for name, fill, ink in zip(names, (accent, PRESSED, FACE_D), (INK, INK, INK_D)):
        if name:
            face(name, w, h, caption, fill, ink, glyph, size)


def switch(off, on, w, h, caption, glyph=None, disabled=None):
    """an unchecked and a checked picture (and a disabled one)."""
    face(off, w, h, caption, FACE, 'rgb(200,204,210)', glyph)
    face(on, w, h, caption, BLUE, INK, glyph)
    if disabled:
        face(disabled, w, h, caption, FACE_D, INK_D, glyph)


def cells(c, ink, x, y):
    c.circle(x - 7, y - 4, 7, stroke=ink, width=2.5)
    c.circle(x + 8, y + 5, 6, stroke=ink, width=2.5)


def play(c, ink, x, y):
    c.poly([(x - 8, y - 12), (x - 8, y + 12), (x + 12, y)], fill=ink)


def sun(c, ink, x, y):
    c.circle(x, y, 7, fill=ink)
    for dx, dy in ((0, -13), (0, 13), (-13, 0), (13, 0)):
        c.line(x + dx * 0.7, y + dy * 0.7, x + dx, y + dy, stroke=ink, width=2.5)


def focus(c, ink, x, y):
    for sx, sy in ((-1, -1), (1, -1), (-1, 1), (1, 1)):
        c.line(x + 12 * sx, y + 12 * sy, x + 12 * sx, y + 5 * sy, stroke=ink, width=2.5)
        c.line(x + 12 * sx, y + 12 * sy, x + 5 * sx, y + 12 * sy, stroke=ink, width=2.5)
    c.circle(x, y, 3, fill=ink)


def hand(c, ink, x, y):
    c.rect(x - 8, y - 6, x + 8, y + 12, radius=4, fill=ink)
    for i in range(4):
        c.rect(x - 8 + 4.5 * i, y - 14, x - 5 + 4.5 * i, y - 4, radius=1.5, fill=ink)


def page_buttons():
    three(('count2.png', 'count3.png', 'count_d.png'), 172, 64, 'Count', GREEN, play)
    three(('next count2.png', 'next count3.png', 'next count_d.png'), 172, 64, 'Next count', FACE, play)
    switch('automated 2.png', 'automated 1.png', 172, 56, 'Automated', cells)
    switch('manual 2.png', 'manual 1.png', 172, 56, 'Manual', hand)
    three(('protocol1.png', 'protocol2.png', 'protocol_d.png'), 172, 56, 'Protocol')
    switch('Auto exposure 1.png', 'Auto exposure 2.png', 172, 56, 'Auto light', sun, 'Auto exposure_d.png')
    switch('Autofocused counting 1.png', 'Autofocused counting 2.png', 172, 56, 'Autofocus', focus,
           'Autofocused counting_d.png')
    three(('Dilution Calculator1.png', 'Dilution Calculator2.png', 'Dilution Calculator_d.png'), 172, 48,
          'Dilution calc.', size=12)
    switch('tag1.png', 'tag2.png', 172, 48, 'Tags', cells, 'tag_d.png')
    three(('capture1.png', 'capture2.png', 'capture_d.png'), 350, 64, 'Capture', BLUE)
    for name, caption in (('Requirements.png', 'Requirements'), ('Requirements_Far right.png', 'Requirements')):
        c = Canvas(172, 56)
        c.rect(0, 0, 172, 56, radius=10, stroke='rgb(120,126,134)', width=1.5)
        c.circle(26, 28, 11, stroke=INK, width=2)
        c.text(22, 17, '?' if name == 'Requirements.png' else '!', 13, INK, font=FONT_BOLD)
        c.text(44, 0, caption, 12, INK, font=FONT_BOLD, gravity='West')
        c.save(name)
    c = Canvas(172, 30)
    c.text(0, 0, 'Trans cube, 4X objective', 10, 'rgb(200,204,210)', gravity='Center')
    c.save('requirements.png')
    c = Canvas(360, 120, 'rgb(245,248,252)')
    c.rect(0.5, 0.5, 359.5, 119.5, stroke='#b9c6d8', width=1)
    for i, line in enumerate(('Counting needs:', 'the Trans filter cube,', 'an objective below 5X,',
                              'the camera in 8-bit mode.')):
        c.text(12, 10 + 25 * i, line, 12, 'rgb(40,44,50)')
    c.save('RequirementsToolTip.png')


def graph_button(name, glyph):
    for suffix, fill, ink in (('1', FACE, INK), ('2', PRESSED, INK), ('3', FACE_D, INK_D)):
        c = Canvas(52, 44)
        c.rect(0, 0, 52, 44, radius=8, fill=fill)
        glyph(c, ink)
        c.save(f'graph/{name}{suffix}.png')


def bars(colours):
    def draw(c, ink):
        for i, (h, colour) in enumerate(zip((14, 24, 18), colours)):
            c.rect(12 + 10 * i, 34 - h, 19 + 10 * i, 34, fill=colour or ink)
    return draw


def text_glyph(text):
    def draw(c, ink):
        c.text(0, 0, text, 11, ink, font=FONT_BOLD, gravity='Center')
    return draw


def graph_pictures():
    for state, colours in (('total', (RED, GREEN, GREEN)), ('live', (GREEN, GREEN, GREEN)), ('dead', (RED, RED, RED))):
        graph_button(f'{state} on ', bars(colours))
        graph_button(f'{state} off ', bars((None, None, None)))
    graph_button('clustermap off ', text_glyph('1 2 3'))
    graph_button('clustermap on ', bars(('rgb(0,0,255)',) * 3))
    graph_button('apply', text_glyph('OK'))
    graph_button('minus', text_glyph('-'))
    graph_button('plus', text_glyph('+'))
    for name, text in (('cell number', '#'), ('cell concentration', '/mL'), ('cell cluster', '%')):
        graph_button(name, text_glyph(text))
    for name, colour in (('red', RED), ('gray', 'rgb(140,140,140)')):
        c = Canvas(12, 16)
        c.poly([(0, 0), (12, 0), (12, 10), (6, 16), (0, 10)], fill=colour)
        c.save(f'graph/{name}.png')
    # The page's eight graph pixmaps.
    for name, w, h in (('graph_background', 378, 220), ('graph', 262, 150), ('cell size', 140, 16),
                       ('bar', 262, 8), ('cellsize_um', 140, 16), ('cell size - clustermap', 140, 16),
                       ('min.max', 240, 18)):
        c = Canvas(w, h)
        c.rect(0, 0, w, h, fill='rgb(38,41,46)' if h > 20 else 'rgb(60,60,60)')
        c.save(f'graph/{name}.png')


if __name__ == '__main__':
    page_buttons()
    graph_pictures()
