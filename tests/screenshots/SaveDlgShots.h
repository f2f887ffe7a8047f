#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The save dialog as the pages open it: one picture per option shown, the keyboard over it and
// its "Saving in Progress ..." box, over folders of the sandbox's SSD and USB drive.
QStringList saveDialogShotNames();
QWidget *saveDialogShot(const QString &name);
