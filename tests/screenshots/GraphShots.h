#pragma once
#include <QStringList>

class QWidget;

// The growth monitor's graph widget in its three drawing modes, on a light backdrop.
QStringList graphShotNames();
QWidget *graphShot(const QString &name);
