#pragma once
#include <QStringList>

class QComboBox;
class QDialog;

// A dialog's combo box by object name, and the texts of its items in order.
QComboBox *combo(QDialog *dialog, const char *name);
QStringList texts(QComboBox *box);
