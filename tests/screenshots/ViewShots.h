#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The image view over a rendered specimen frame with one annotation of each kind, a selected
// line showing its band, zoomed two steps with its navigator; and the item settings dialog for a
// line and for a text.
QStringList viewShotNames();
QWidget *viewShot(const QString &name);
