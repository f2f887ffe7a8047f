#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Time lapse page on the simulated instrument with a stored series loaded into the browser
// (time stamp and scale bar on), the slide show playing, and a continuous recording under way.
QStringList timeLapseShotNames();
QWidget *timeLapseShot(const QString &name);
