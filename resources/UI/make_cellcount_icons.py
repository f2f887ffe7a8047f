#!/usr/bin/env python3
"""Draws the pictures of the counting-protocol dialogs (resources/UI/protocol) and the dilution
calculator (resources/UI/dilution).

Same flat set and drawing helper as make_icons.py. The calculator's form has no caption labels of
its own: its background carries every printed caption. Run it after changing a picture:
    python3 resources/UI/make_cellcount_icons.py
"""
from make_icons import BLUE, BLUE_LIGHT, FONT, FONT_BOLD, KEY, KEY_PRESSED, KEY_TEXT, KEY_TEXT_PRESSED, Canvas

BACK = 'rgb(31,34,38)'
BAR = 'rgb(44,48,54)'
FRAME = 'rgb(70,74,80)'
CAPTION = 'rgb(215,218,222)'

# Rows of the protocol dialog's value captions (form: label_5 at 250,50, 180 x 250; rows of 50).
PROTOCOL_ROWS = ['Dilution Factor', 'Live Cell Detection', 'Roundness (%%)', 'Min Cell Size (\u00b5m)',
                 'Max Cell Size (\u00b5m)']


def dialog_back(title):
    c = Canvas(650, 380, BACK)
    c.rect(0, 0, 650, 40, fill=BAR)
    c.rect(0.5, 0.5, 649.5, 379.5, stroke=FRAME, width=1)
    c.rect(0, 0, 4, 40, fill=BLUE)
    c.text(16, 10, title, 14, 'white', FONT_BOLD)
    return c


def protocol_back():
    c = dialog_back('Counting Protocol')
    c.rect(240, 48, 640, 304, radius=6, fill='rgb(38,41,46)')
    c.save('protocol/back.png')


def protocol_menu():
    c = Canvas(180, 250)
    for i, caption in enumerate(PROTOCOL_ROWS):
        c.text(6, 50 * i + 18, caption, 11.5, CAPTION, FONT)
    c.save('protocol/protocol menu.png')


def protocol_list_back():
    c = Canvas(221, 320, 'rgb(24,26,29)')
    for i in range(1, 8):
        c.line(0, 40 * i - 0.5, 221, 40 * i - 0.5, stroke='rgb(44,47,52)', width=1)
    c.save('protocol/layer1.png')


def step_button(name, up, face, ink):
    c = Canvas(40, 40)
    c.rect(0, 0, 40, 40, radius=5, fill=face)
    if up:
        c.poly([(20, 12), (30, 26), (10, 26)], fill=ink)
    else:
        c.poly([(10, 14), (30, 14), (20, 28)], fill=ink)
    c.save(f'protocol/{name}.png')


def dilution_back():
    c = dialog_back('Dilution Calculator')
    # captions, the "x 10e" marks and the units beside the entry fields (form geometry)
    c.text(16, 56, 'Current Concentration', 12, CAPTION, FONT)
    c.text(16, 148, 'Final Concentration', 12, CAPTION, FONT)
    c.text(16, 238, 'Final Volume', 12, CAPTION, FONT)
    for y in (95, 180):
        c.rect(190, y, 260, y + 40, radius=4, fill='rgb(45,48,53)')
        c.text(265, y + 10, 'x 10e', 13, CAPTION, FONT)
        c.rect(318, y, 348, y + 40, radius=4, fill='rgb(45,48,53)')
        c.text(354, y + 10, '/mL', 13, CAPTION, FONT)
    c.rect(190, 265, 290, 305, radius=4, fill='rgb(45,48,53)')
    c.text(296, 275, 'mL', 13, CAPTION, FONT)
    # the result panel behind the painted sentence (LABEL_RESULT: 10,321, 421 x 54)
    c.rect(10, 321, 431, 375, radius=4, fill='rgb(58,58,58)')
    c.save('dilution/back.png')


def delete_key(name, pressed):
    face, ink = (KEY_PRESSED, KEY_TEXT_PRESSED) if pressed else (KEY, KEY_TEXT)
    c = Canvas(60, 50)
    c.rect(0, 0, 60, 50, radius=5, fill=face)
    c.poly([(18, 25), (26, 16), (44, 16), (44, 34), (26, 34)], stroke=ink, width=2)
    c.line(30, 21, 38, 29, stroke=ink, width=2)
    c.line(38, 21, 30, 29, stroke=ink, width=2)
    c.save(f'dilution/{name}.png')


def main():
    protocol_back()
    protocol_menu()
    protocol_list_back()
    for suffix, face, ink in (('1', KEY, KEY_TEXT), ('2', KEY_PRESSED, KEY_TEXT_PRESSED), ('3', 'rgb(50,52,56)', 'rgb(95,98,104)')):
        step_button(f'up1-{suffix}', True, face, ink)
        step_button(f'down1-{suffix}', False, face, ink)
    dilution_back()
    delete_key('delete1', False)
    delete_key('delete2', True)


if __name__ == '__main__':
    main()
