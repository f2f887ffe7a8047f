#!/usr/bin/env python3
"""Draws the start-up screens' pictures: the agreement panel (resources/UI/Common/EULA_back.png)
and the welcome screen with its close button (resources/UI/Welcome).

Same flat set and drawing helper as make_icons.py. Run it after changing a picture:
    python3 resources/UI/make_start_icons.py
"""
from make_icons import BLUE, BLUE_LIGHT, FONT, FONT_BOLD, Canvas

PANEL = 'rgb(52,54,58)'
TEXT_AREA = 'rgb(37,37,37)'
WELCOME_TOP = 'rgb(0,88,196)'


def logo(c, x, y, ink):
    """Our mark: an objective's ring with a cell in it, and the product name beside it."""
    c.circle(x + 14, y + 14, 13, stroke=ink, width=2.5)
    c.circle(x + 14, y + 14, 5, fill=ink)
    c.text(x + 34, y + 2, 'VANTOR S', 18, ink, FONT_BOLD)


def eula_back():
    c = Canvas(550, 350, PANEL)
    c.rect(0.5, 0.5, 549.5, 349.5, stroke='rgb(30,32,35)', width=1)
    c.rect(0, 0, 550, 4, fill=BLUE)
    # the grip strip, 20 pixels high, by which the dialog is dragged
    for x in (263, 271, 279):
        c.circle(x, 11, 1.6, fill='rgb(120,122,126)')
    c.text(24, 30, 'End User License Agreement', 17, BLUE_LIGHT, FONT_BOLD)
    c.rect(22, 71, 528, 291, fill=TEXT_AREA, stroke='rgb(28,28,28)', width=1)
    c.save('Common/EULA_back.png')


def welcome_back():
    c = Canvas(550, 350, BLUE)
    c.rect(0, 0, 550, 120, fill=WELCOME_TOP)
    logo(c, 24, 20, 'white')
    c.text(24, 66, 'Welcome', 26, 'white', FONT_BOLD)
    lines = ['For its safety the focus stage is parked whenever',
             'the instrument shuts down.',
             '',
             'After each start, find the focus on your sample',
             'again before you take images.']
    for i, line in enumerate(lines):
        c.text(24, 140 + i * 22, line, 12.5, 'white', FONT)
    c.rect(0, 300, 550, 350, fill='rgb(0,70,160)')
    c.save('Welcome/welcome_back.png')


def close_button(name, face, ink):
    c = Canvas(81, 24)
    c.rect(0, 0, 81, 24, radius=4, fill=face)
    c.text(0, 4.5, 'Close', 10.5, ink, FONT_BOLD, gravity='North')
    c.save(f'Welcome/{name}.png')


def main():
    eula_back()
    welcome_back()
    close_button('close1', 'white', BLUE)
    close_button('close2', 'rgb(201,202,202)', 'rgb(39,137,245)')


if __name__ == '__main__':
    main()
