#!/usr/bin/env python3
"""Draws the application's icons and backgrounds into this folder (resources/UI).

Flat, consistent set: blue accent rgb(1,122,255), dark key caps rgb(75,75,75), light popups.
Each picture is drawn with ImageMagick's vector primitives at four times its size and scaled
down, which gives smooth edges without an SVG renderer. Run it after changing a picture:
    python3 resources/UI/make_icons.py
"""
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
S = 4  # supersampling factor

BLUE = '#017aff'
BLUE_LIGHT = '#4da3ff'
KEY = 'rgb(75,75,75)'
KEY_PRESSED = 'rgb(201,201,201)'
KEY_TEXT = 'rgb(221,221,221)'
KEY_TEXT_PRESSED = 'rgb(40,40,40)'
# The dark surfaces of the main window and the control panel.
BACK = 'rgb(31,34,38)'
CARD = 'rgb(40,44,50)'
EDGE = 'rgb(52,57,64)'
FONT = 'DejaVu-Sans'
FONT_BOLD = 'DejaVu-Sans-Bold'


def s(v):
    return v * S


class Canvas:
    """A list of ImageMagick drawing arguments in unscaled coordinates."""

    def __init__(self, w, h, background='none'):
        self.w, self.h = w, h
        self.args = ['-size', f'{s(w)}x{s(h)}', f'xc:{background}']

    def style(self, fill='none', stroke='none', width=0):
        self.args += ['-fill', fill, '-stroke', stroke, '-strokewidth', str(s(width))]
        return self

    def draw(self, primitive, *points):
        coords = ' '.join(f'{s(x):g},{s(y):g}' for x, y in points)
        self.args += ['-draw', f'{primitive} {coords}']
        return self

    def rect(self, x0, y0, x1, y1, radius=0, **st):
        self.style(**st)
        if radius:
            return self.draw('roundrectangle', (x0, y0), (x1, y1), (radius, radius))
        return self.draw('rectangle', (x0, y0), (x1, y1))

    def circle(self, cx, cy, r, **st):
        self.style(**st)
        return self.draw('circle', (cx, cy), (cx + r, cy))

    def poly(self, points, closed=True, **st):
        self.style(**st)
        return self.draw('polygon' if closed else 'polyline', *points)

    def line(self, x0, y0, x1, y1, **st):
        self.style(**st)
        return self.draw('line', (x0, y0), (x1, y1))

    def text(self, x, y, text, size, color, font=FONT, gravity='NorthWest'):
        self.args += ['-stroke', 'none', '-fill', color, '-font', font, '-pointsize', str(s(size)),
                      '-gravity', gravity, '-annotate', f'+{s(x)}+{s(y)}', text, '-gravity', 'NorthWest']
        return self

    def save(self, relpath):
        out = os.path.join(HERE, relpath)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        subprocess.run(['convert', *self.args, '-resize', f'{self.w}x{self.h}!',
                        '-define', 'png:exclude-chunks=date,time', '-strip', f'PNG32:{out}'], check=True)


# --- popups -------------------------------------------------------------------------------------

def popup_back():
    c = Canvas(500, 300, '#f5f8fc')
    c.rect(0.5, 0.5, 499.5, 299.5, stroke='#b9c6d8', width=1)
    c.rect(0, 0, 500, 5, fill=BLUE)
    c.save('Common/popup_back.png')


def camera_error():
    # Drawn off the canvas centre so that it sits in the middle of the 500-pixel message box.
    c = Canvas(190, 107)
    cx, cy = 80, 50
    c.rect(cx - 40, cy - 22, cx + 40, cy + 30, radius=9, fill='#5b6573')
    c.rect(cx - 16, cy - 31, cx + 12, cy - 20, radius=4, fill='#5b6573')
    c.circle(cx - 2, cy + 4, 18, fill='#f5f8fc')
    c.circle(cx - 2, cy + 4, 12, fill='#5b6573')
    c.circle(cx + 29, cy - 12, 3, fill='#f5f8fc')
    # red badge
    c.circle(cx + 38, cy + 30, 16, fill='#e5484d', stroke='#f5f8fc', width=3)
    c.rect(cx + 36, cy + 20, cx + 40, cy + 33, radius=2, fill='white')
    c.circle(cx + 38, cy + 38.5, 2.3, fill='white')
    c.save('Common/camera_error.png')


def progress_bar():
    out = os.path.join(HERE, 'SaveOptions', 'progress bar2.png')
    os.makedirs(os.path.dirname(out), exist_ok=True)
    subprocess.run(['convert', '-size', '400x20', f'gradient:#8cc4ff-{BLUE_LIGHT}', '-strip', f'PNG32:{out}'],
                   check=True)


def progress_track():
    # The empty bar under progress bar2.png, of the same size; its edge shows on the light popups.
    c = Canvas(400, 20, 'white')
    c.rect(0.5, 0.5, 399.5, 19.5, stroke='#b9c6d8', width=1)
    c.save('SaveOptions/progress bar1.png')


# --- keyboard -----------------------------------------------------------------------------------

def keyboard_back():
    c = Canvas(650, 380, 'rgb(31,34,38)')
    c.rect(0, 0, 650, 35, fill='rgb(44,48,54)')
    for dy in (13, 17.5, 22):
        c.line(305, dy, 345, dy, stroke='rgb(110,116,124)', width=2)
    c.rect(0.5, 0.5, 649.5, 379.5, stroke='rgb(70,74,80)', width=1)
    # frame around the edit line (the line itself is painted white by its style)
    c.rect(11, 51, 523, 88, radius=6, fill='white', stroke=BLUE, width=1.5)
    c.save('keyboard/back.png')


def key(relpath, glyph, pressed=False, checked=False):
    c = Canvas(50, 49)
    if checked:
        face, ink = ('#66adff' if pressed else BLUE), 'white'
    else:
        face, ink = (KEY_PRESSED, KEY_TEXT_PRESSED) if pressed else (KEY, KEY_TEXT)
    c.rect(0, 0, 50, 49, radius=5, fill=face)
    glyph(c, ink, checked)
    c.save(relpath)


def glyph_delete(c, ink, _):
    c.poly([(13, 24.5), (21, 16), (37, 16), (37, 33), (21, 33)], stroke=ink, width=2)
    c.line(24.5, 20.5, 32, 28.5, stroke=ink, width=2)
    c.line(32, 20.5, 24.5, 28.5, stroke=ink, width=2)


def glyph_shift(c, ink, filled):
    arrow = [(25, 12), (37, 25), (30.5, 25), (30.5, 36), (19.5, 36), (19.5, 25), (13, 25)]
    if filled:
        c.poly(arrow, fill=ink, stroke=ink, width=1)
    else:
        c.poly(arrow, stroke=ink, width=2)


def glyph_bar(c, ink, _):
    c.rect(17, 23, 33, 26.5, radius=1.5, fill=ink)


def glyph_underbar(c, ink, _):
    c.rect(15, 33, 35, 36.5, radius=1.5, fill=ink)


def exit_key(relpath, pressed):
    c = Canvas(18, 17)
    if pressed:
        c.circle(9, 8.5, 8.5, fill=BLUE)
    ink = 'white' if pressed else 'rgb(200,204,210)'
    c.line(4.5, 4, 13.5, 13, stroke=ink, width=2)
    c.line(13.5, 4, 4.5, 13, stroke=ink, width=2)
    c.save(relpath)


# --- folder chooser -----------------------------------------------------------------------------

def select_directory():
    c = Canvas(600, 400, 'rgb(43,46,51)')
    c.rect(0, 0, 600, 38, fill='rgb(55,59,66)')
    c.rect(0, 0, 600, 4, fill=BLUE)
    c.rect(0.5, 0.5, 599.5, 399.5, stroke='rgb(85,90,98)', width=1)
    c.text(14, 11, 'Select Folder', 13, 'white', FONT_BOLD)
    c.save('Select Directory.png')


def up_button(relpath, face, ink):
    c = Canvas(21, 23)
    c.rect(0, 0, 21, 23, radius=3, fill=face)
    c.poly([(10.5, 4.5), (17, 11), (13, 11), (13, 18), (8, 18), (8, 11), (4, 11)], fill=ink)
    c.save(relpath)


# --- file icons ---------------------------------------------------------------------------------

def folder_icon():
    c = Canvas(128, 102)
    c.poly([(10, 14), (46, 14), (54, 22), (118, 22), (118, 90), (10, 90)], fill='#e09a1f')
    c.rect(10, 30, 118, 92, radius=6, fill='#f6b93b')
    c.rect(10, 30, 118, 36, fill='#f9c95e')
    c.save('FileManager/folder_128x102.png')


def page(c, fill='white'):
    c.poly([(34, 6), (80, 6), (96, 22), (96, 96), (34, 96)], fill=fill, stroke='#9aa3ad', width=2)
    c.poly([(80, 6), (80, 22), (96, 22)], fill='#d7dde4', stroke='#9aa3ad', width=2)


def file_icon():
    c = Canvas(128, 102)
    page(c)
    c.rect(44, 40, 86, 80, radius=3, fill='#dbeafe')
    c.poly([(46, 78), (60, 58), (70, 70), (76, 63), (84, 78)], fill='#4da3ff')
    c.circle(74, 50, 5, fill='#f6b93b')
    c.save('FileManager/file.png')


def labelled_icon(relpath, label, color, symbol=None):
    c = Canvas(128, 102)
    page(c)
    c.rect(28, 54, 100, 78, radius=4, fill=color)
    c.text(0, 56, label, 13, 'white', FONT_BOLD, gravity='North')
    if symbol:
        symbol(c)
    c.save(relpath)


def play_symbol(c):
    c.poly([(57, 26), (57, 46), (73, 36)], fill='#8e44ad')


def csv_symbol(c):
    for y in (26, 34, 42):
        c.line(44, y, 86, y, stroke='#9aa3ad', width=2)
    c.line(65, 22, 65, 46, stroke='#9aa3ad', width=2)


def main():
    popup_back()
    camera_error()
    progress_bar()
    progress_track()
    keyboard_back()
    for name, glyph in (('delete', glyph_delete), ('bar', glyph_bar), ('underbar', glyph_underbar)):
        key(f'keyboard/{name}-1.png', glyph)
        key(f'keyboard/{name}-2.png', glyph, pressed=True)
    key('keyboard/shift-1.png', glyph_shift)
    key('keyboard/shift-2.png', glyph_shift, pressed=True)
    key('keyboard/shift-3.png', glyph_shift, checked=True)
    key('keyboard/shift-4.png', glyph_shift, pressed=True, checked=True)
    exit_key('keyboard/exit-1.png', False)
    exit_key('keyboard/exit-2.png', True)
    select_directory()
    up_button('SaveOptions/up1.png', 'rgb(90,95,102)', 'white')
    up_button('SaveOptions/up2.png', BLUE, 'white')
    up_button('SaveOptions/up_d.png', 'rgb(60,63,68)', 'rgb(105,110,116)')
    folder_icon()
    file_icon()
    labelled_icon('FileManager/csv.png', 'CSV', '#2e9e5b', csv_symbol)
    labelled_icon('FileManager/mp4.png', 'MP4', '#8e44ad', play_symbol)


if __name__ == '__main__':
    main()
