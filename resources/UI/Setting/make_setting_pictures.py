#!/usr/bin/env python3
"""Draws the settings dialogs' pictures: the tool-box tab bar (UI/Setting/bar.png) and the
drop-down arrows of their combo boxes (UI/Common/dropdown_14x24.png and its disabled form _d).
Drawn with ImageMagick at four times their size and scaled down. Run after changing a picture:
    python3 resources/UI/Setting/make_setting_pictures.py
"""
import os
import subprocess

UI = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
S = 4


def arrow(path, colour):
    w, h = 14 * S, 24 * S
    tri = f'{3 * S},{10 * S} {11 * S},{10 * S} {7 * S},{15 * S}'
    subprocess.run(['convert', '-size', f'{w}x{h}', 'xc:none', '-fill', colour, '-stroke', 'none',
                    '-draw', f'polygon {tri}', '-resize', '14x24', path], check=True)


def bar(path):
    # A dark band with a lighter top line and the blue accent underneath.
    subprocess.run(['convert', '-size', '300x23', 'gradient:rgb(84,84,84)-rgb(52,52,52)',
                    '-fill', 'rgb(110,110,110)', '-draw', 'line 0,0 299,0',
                    '-fill', '#017aff', '-draw', 'rectangle 0,21 299,22', path], check=True)


if __name__ == '__main__':
    bar(os.path.join(UI, 'Setting', 'bar.png'))
    arrow(os.path.join(UI, 'Common', 'dropdown_14x24.png'), 'rgb(235,235,235)')
    arrow(os.path.join(UI, 'Common', 'dropdown_14x24_d.png'), 'rgb(98,98,98)')
