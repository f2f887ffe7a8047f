#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Multicolor page on the simulated instrument after three real captures (Trans and two
// fluorescence cubes): one channel full size, the overlay, and the side panels in their second
// and third layouts.
QStringList multicolorShotNames();
QWidget *multicolorShot(const QString &name);
