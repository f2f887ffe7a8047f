#pragma once
#include <QColor>

// What the item settings dialog edits: the item's type() number, its pen or text colour, and its
// pen width or text point size.
struct TItemSettingData
{
    int itemType = 0;
    QColor color;
    int size = 0;
};
