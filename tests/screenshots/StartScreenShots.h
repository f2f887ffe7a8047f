#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The start-up and service screens over a dark backdrop: the agreement as shown at the first start
// and from the settings dialog, the welcome screen, the log viewer after a reload, and
// the error report in its states (question, insert drive, no report, saved), and the
// application-switch page with two applications.
QStringList startScreenShotNames();
QWidget *startScreenShot(const QString &name);
