#include "NumberFieldEditor.h"

#include "KeyboardDlg.h"
#include "MessageDlg.h"

#include <QDoubleSpinBox>
#include <QSpinBox>

bool NumberFieldEditor::parse(const QString &text, int &value)
{
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok;
}

bool NumberFieldEditor::edit(QAbstractSpinBox *field, int lowest, QWidget *parent)
{
    if (!field || !field->isEnabled())
        return false;
    KeyboardDlg keyboard(parent, false, false);
    keyboard.setText(field->text());
    if (keyboard.exec() != 1)
        return false;
    int value = 0;
    if (!parse(keyboard.text(), value) || value < lowest) {
        MessageDlg message(parent);
        message.setMsgType(MSG_NUMERALS_ONLY);
        message.exec();
        return false;
    }
    if (auto *spin = qobject_cast<QSpinBox *>(field))
        spin->setValue(value);
    else if (auto *real = qobject_cast<QDoubleSpinBox *>(field))
        real->setValue(double(value));
    return true;
}
