#!/usr/bin/env python3
"""Draws the application-switch page's pictures (resources/UI/MoreApps): its top bar and the
add-application button in its normal, pressed and disabled looks.

Same flat set and drawing helper as make_icons.py. Run it after changing a picture:
    python3 resources/UI/make_moreapps_icons.py
"""
from make_icons import BLUE, FONT_BOLD, Canvas


def top_bar():
    c = Canvas(1920, 49, 'rgb(45,48,53)')
    c.rect(0, 46, 1920, 49, fill=BLUE)
    c.text(24, 13, 'Applications', 17, 'white', FONT_BOLD)
    c.save('MoreApps/back.png')


def add_button(name, face, ink):
    c = Canvas(213, 65)
    c.rect(0.5, 0.5, 212.5, 64.5, radius=8, fill=face, stroke=ink, width=1.5)
    # a plus sign, then the caption
    c.rect(22, 30.5, 44, 34.5, fill=ink)
    c.rect(31, 21.5, 35, 43.5, fill=ink)
    c.text(58, 21, 'Add new app', 16, ink, FONT_BOLD)
    c.save(f'MoreApps/{name}.png')


def main():
    top_bar()
    add_button('add new app 1', 'rgb(62,58,57)', 'white')
    add_button('add new app 2', 'rgb(201,202,202)', 'rgb(39,137,245)')
    add_button('add new app 4', 'rgb(62,58,57)', 'rgb(110,110,110)')


if __name__ == '__main__':
    main()
