#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Single page and its image area, which the main window keeps hidden, shown on their own:
// the page captured with result rows and a histogram (both tabs side by side), and the image
// area's outlines of the measuring tools, one tile each.
QStringList singleShotNames();
QWidget *singleShot(const QString &name);
