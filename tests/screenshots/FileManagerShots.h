#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The File manager page on the simulated instrument: an SSD folder of 16-bit cell images with
// thumbnails, a USB folder, the loading wait, the context menu of a file, the eject question and
// both its answers, and the image viewer with a 16-bit image, with its record panel, and on a
// damaged file.
QStringList fileManagerShotNames();
QWidget *fileManagerShot(const QString &name);
