#pragma once
#include <QString>
#include <QStringList>

class QWidget;

// The Z-stack page on the simulated instrument: idle, live with both positions set, live in range
// mode, a stack under way with its progress box, and a completed stack; a stored stack browsed, and
// merged (its merge dialog in grey and in a pseudo colour, the merge under way, the merged tile).
QStringList zStackShotNames();
QWidget *zStackShot(const QString &name);
