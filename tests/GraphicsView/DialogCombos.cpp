#include "DialogCombos.h"

#include <QComboBox>
#include <QDialog>

QComboBox *combo(QDialog *dialog, const char *name)
{
    return dialog->findChild<QComboBox *>(name);
}

QStringList texts(QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}
