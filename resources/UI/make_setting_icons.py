#!/usr/bin/env python3
"""Draws the settings dialog's pictures (resources/UI/Setting) and the shared combo and spin-box
arrows (resources/UI/Common).

Same flat set and drawing helper as make_icons.py. Run it after changing a picture:
    python3 resources/UI/make_setting_icons.py
"""
from make_icons import BLUE, FONT_BOLD, Canvas

HEADER = 'rgb(226,230,235)'
BODY = 'rgb(58,60,64)'
BAR_OPEN = 'rgb(44,46,50)'
BAR_CLOSED = 'rgb(86,88,92)'


def background():
    c = Canvas(378, 1020, BODY)
    c.rect(0, 0, 378, 130, fill=HEADER)
    c.rect(0, 126, 378, 130, fill=BLUE)
    c.rect(0.5, 0.5, 377.5, 1019.5, stroke='rgb(30,32,35)', width=1)
    c.save('Setting/back.png')


def bar(name, face, sign):
    c = Canvas(370, 28, face)
    c.rect(0, 27, 370, 28, fill='rgb(30,32,35)')
    c.rect(350, 13, 360, 15, fill='rgb(202,202,202)')
    if sign == '+':
        c.rect(354, 9, 356, 19, fill='rgb(202,202,202)')
    c.save(f'Setting/{name}.png')


def image_button(name, label, face, ink, w=160, h=56, size=15):
    c = Canvas(w, h)
    c.rect(0, 0, w, h, radius=6, fill=face)
    c.text(0, h / 2 - size * 0.72, label, size, ink, FONT_BOLD, gravity='North')
    c.save(name)


def dropdown(name, ink):
    c = Canvas(14, 24)
    c.poly([(3, 9), (11, 9), (7, 15)], fill=ink)
    c.save(name)


def arrow(name, up, face, ink):
    c = Canvas(11, 12)
    c.rect(0, 0, 11, 12, fill=face)
    tip, base = (3.5, 8.5) if up else (8.5, 3.5)
    c.poly([(2, base), (9, base), (5.5, tip)], fill=ink)
    c.save(name)


def main():
    background()
    bar('bar-', BAR_OPEN, '-')
    bar('bar+', BAR_CLOSED, '+')
    for base, label in (('apply', 'OK'), ('cancel', 'Cancel')):
        image_button(f'Setting/{base}2.png', label, BLUE, 'white')
        image_button(f'Setting/{base}3.png', label, 'rgb(77,163,255)', 'white')
        image_button(f'Setting/{base}_d.png', label, 'rgb(80,82,86)', 'rgb(130,132,136)')
    image_button('Setting/SW Update2.png', 'SW Update', 'rgb(62,58,57)', 'white', 112, 26, 10)
    image_button('Setting/SW Update1.png', 'SW Update', 'rgb(110,106,105)', 'white', 112, 26, 10)
    dropdown('Common/dropdown_14x24.png', 'white')
    dropdown('Common/dropdown_14x24_d.png', 'rgb(98,98,98)')
    for up, name in ((True, 'up'), (False, 'down')):
        arrow(f'Common/{name}1.png', up, 'rgb(82,78,77)', 'white')
        arrow(f'Common/{name}2.png', up, BLUE, 'white')
        arrow(f'Common/{name}_d.png', up, 'rgb(62,58,57)', 'rgb(98,98,98)')


if __name__ == '__main__':
    main()
