#!/usr/bin/env python3
"""Draws the item dialog's tool-box tab bar (UI/Setting/bar.png); the drop-down arrows of the
combo boxes come from make_setting_icons.py.
Drawn with ImageMagick. Run after changing the picture:
    python3 resources/UI/Setting/make_setting_pictures.py
"""
import os
import subprocess

UI = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

def bar(path):
    # A dark band with a lighter top line and the blue accent underneath.
    subprocess.run(['convert', '-size', '300x23', 'gradient:rgb(84,84,84)-rgb(52,52,52)',
                    '-fill', 'rgb(110,110,110)', '-draw', 'line 0,0 299,0',
                    '-fill', '#017aff', '-draw', 'rectangle 0,21 299,22', path], check=True)


if __name__ == '__main__':
    bar(os.path.join(UI, 'Setting', 'bar.png'))
