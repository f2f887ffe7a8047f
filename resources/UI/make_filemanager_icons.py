#!/usr/bin/env python3
"""Draws the pictures of the File manager page (resources/UI/FileManager).

Run it after changing a picture:
    python3 resources/UI/make_filemanager_icons.py
"""
from make_icons import BLUE, Canvas

FACE = 'rgb(90,95,102)'
FACE_D = 'rgb(60,63,68)'
INK_D = 'rgb(105,110,116)'


def top_bar():
    c = Canvas(1919, 48, background='rgb(205,205,205)')
    c.rect(0, 44, 1919, 48, fill='rgb(150,150,150)')
    c.save('FileManager/back.png')


def thumbnail_button():
    """A grid of four small pictures: normal, pressed or checked, disabled."""
    for name, face, ink in (('thumbnail1', FACE, 'white'), ('thumbnail2', BLUE, 'white'),
                            ('thumbnail_d', FACE_D, INK_D)):
        c = Canvas(50, 40)
        c.rect(0, 0, 50, 40, radius=6, fill=face)
        for x in (13, 27):
            for y in (8, 21):
                c.rect(x, y, x + 10, y + 10, radius=1.5, fill=ink)
        c.save(f'FileManager/{name}.png')


def usb_symbol():
    c = Canvas(50, 50)
    ink = 'rgb(40,40,40)'
    c.line(25, 8, 25, 42, stroke=ink, width=3)
    c.poly([(19, 14), (25, 5), (31, 14)], fill=ink)
    c.line(25, 30, 14, 22, stroke=ink, width=3)
    c.line(14, 22, 14, 17, stroke=ink, width=3)
    c.circle(14, 15, 3.5, fill=ink)
    c.line(25, 26, 36, 19, stroke=ink, width=3)
    c.rect(33, 12, 39, 18, fill=ink)
    c.circle(25, 42, 4, fill=ink)
    c.save('FileManager/USB.PNG')


def viewer_buttons():
    """The image viewer's Detail (118 x 41) and step arrows (36 x 34); 1 normal, 2 pressed."""
    for n, face in (('1', FACE), ('2', BLUE)):
        c = Canvas(118, 41)
        c.rect(0, 0, 118, 41, radius=6, fill=face)
        c.text(0, 0, 'Detail', 13, 'white', gravity='Center')
        c.save(f'ImageViewer/details {n}.png')
        for name, points in (('left', [(23, 8), (12, 17), (23, 26)]), ('right', [(13, 8), (24, 17), (13, 26)])):
            c = Canvas(36, 34)
            c.rect(0, 0, 36, 34, radius=6, fill=face)
            c.poly(points, closed=False, stroke='white', width=3)
            c.save(f'ImageViewer/{name}{n}.png')


if __name__ == '__main__':
    viewer_buttons()
    top_bar()
    thumbnail_button()
    usb_symbol()
