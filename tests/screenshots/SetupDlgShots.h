#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The settings dialog over a dark backdrop, one shot per page ("filter", "objectives", "focus",
// "camera", "timedate", "misc", "zstack"), in the serial-log start mode with its service controls
// ("service"), and with the pop-ups its fields and buttons open ("keypad", "camera-warning",
// "reset-question", "invalid-date").
QStringList setupDlgShotNames();
QWidget *setupDlgShot(const QString &name);
