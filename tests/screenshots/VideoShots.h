#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The video export over a browsed Z-stack: the video dialog, the progress box while frames are
// staged and while they are encoded, and "Save Complete".
QStringList videoShotNames();
QWidget *videoShot(const QString &name);
