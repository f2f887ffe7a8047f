#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The image view over a rendered specimen frame with one annotation of each kind, a selected
// line showing its band, zoomed two steps with its navigator; the same with the scale bar in each
// corner and an annotation text; the scale-bar dialog; and the item settings dialog for a line and
// for a text (the annotation text's own dialog).
QStringList viewShotNames();
QWidget *viewShot(const QString &name);
