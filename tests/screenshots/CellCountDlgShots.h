#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Cell count page's dialogs over a dark backdrop: the protocol dialog viewing a protocol,
// editing one and on DEFAULT, the full protocol editor, and the dilution calculator with a result
// and with a refused calculation.
QStringList cellCountDlgShotNames();
QWidget *cellCountDlgShot(const QString &name);
