#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Cell count page on the simulated instrument: idle, live, the light search and the counting
// boxes, a counted result and a manually captured frame.
QStringList cellCountShotNames();
QWidget *cellCountShot(const QString &name);
