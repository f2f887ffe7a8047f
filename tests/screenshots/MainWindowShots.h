#pragma once
#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

class QWidget;

// The main window on the simulated instrument, one screen per shot: "Multicolor", "ZStack",
// "TimeLapse", "CellCount", "FileManager", "Setting" (the settings dialog over it) and
// "PowerQuestion". The simulated instrument is made at the first shot and kept.
QStringList mainWindowScreens();
QWidget *mainWindowShot(const QString &screen);

// Runs the event loop until done() holds or ms milliseconds pass; returns done().
template <class Done>
bool pumpUntil(Done done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}
