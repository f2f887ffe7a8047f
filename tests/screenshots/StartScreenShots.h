#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The start-up and service screens over a dark backdrop: the agreement as shown at the first start
// and from the settings dialog, the welcome screen, and the log viewer after a reload.
QStringList startScreenShotNames();
QWidget *startScreenShot(const QString &name);
