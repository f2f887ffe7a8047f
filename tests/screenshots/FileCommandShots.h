#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The file manager's commands: the progress dialog copying, cancelling and synchronising, the
// keyboard of New Folder, and each error box the commands show.
QStringList fileCommandShotNames();
QWidget *fileCommandShot(const QString &name);
