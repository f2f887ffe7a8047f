#!/usr/bin/env python3
"""Draws the save dialog's background (saveDlg_back.png, 950 x 560) and the marks of its check
boxes and radio buttons (check.png, radio.png) in the style of make_icons.py:
    python3 resources/UI/SaveOptions/make_save_back.py
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from make_icons import BLUE, Canvas, FONT_BOLD  # noqa: E402


def save_dialog_back():
    c = Canvas(950, 560, 'rgb(43,46,51)')
    c.rect(0, 0, 950, 46, fill='rgb(55,59,66)')
    c.rect(0, 0, 950, 4, fill=BLUE)
    c.text(16, 14, 'Save', 14, 'white', FONT_BOLD)
    # the progress track along the bottom edge (the bar is painted over it while saving)
    c.rect(2, 540, 948, 560, fill='rgb(214,218,224)')
    c.rect(0.5, 0.5, 949.5, 559.5, stroke='rgb(85,90,98)', width=1)
    c.save('SaveOptions/saveDlg_back.png')


def check_mark():
    c = Canvas(14, 14)
    c.poly([(3, 7.5), (6, 10.5), (11.5, 4)], closed=False, stroke='white', width=2)
    c.save('SaveOptions/check.png')


def radio_dot():
    c = Canvas(14, 14)
    c.circle(7, 7, 3, fill='white')
    c.save('SaveOptions/radio.png')


if __name__ == '__main__':
    save_dialog_back()
    check_mark()
    radio_dot()
