#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The main window on the simulated instrument, one screen per shot: "Multicolor", "ZStack",
// "TimeLapse", "CellCount", "FileManager", "Setting" (the settings dialog over it) and
// "PowerQuestion". The simulated instrument is made at the first shot and kept.
QStringList mainWindowScreens();
QWidget *mainWindowShot(const QString &screen);
