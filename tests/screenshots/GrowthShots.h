#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Growth monitor page on the simulated instrument (entered through the main window's slot):
// live, the Initializing box and the Calculating dialog over the page, three captured frames as
// results with the count image and the table, the graph tab, the segmentation and raw images
// zoomed with the navigator, and the slide show.
QStringList growthShotNames();
QWidget *growthShot(const QString &name);
