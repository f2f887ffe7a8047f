#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The software update dialog over a dark backdrop in each of its states: "0-start",
// "1-notdetected", "2-detected", "3-updating" (the bar half way), "4-complete", "5-failed".
QStringList softwareUpdateShotNames();
QWidget *softwareUpdateShot(const QString &name);
