#pragma once
#include <QString>

class QAbstractSpinBox;
class QWidget;

// Number fields of the touch pages are edited on the on-screen keyboard: it opens with the field's
// text (no font controls, no empty entry); an accepted whole number not below the field's lowest
// accepted value is set, limited by the field's range; any other entry shows "Use numerals only."
// and leaves the field as it was. A disabled field does not open the keyboard.
class NumberFieldEditor
{
public:
    // True when the field took the entry.
    static bool edit(QAbstractSpinBox *field, int lowest, QWidget *parent = nullptr);
    // The whole decimal number of an entry; false for anything else (blanks around it allowed).
    static bool parse(const QString &text, int &value);
};
