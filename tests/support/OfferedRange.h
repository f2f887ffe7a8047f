#pragma once
#include "KeyRanges.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QString>

#include <algorithm>
#include <cmath>

// What a combo box stores for its key: its row, its item's data or its item's text as a number.
enum class Stored
{
    Row,
    Data,
    Text
};

// The lowest and highest number a control offers for its key: a spin box's range, a combo box's
// lowest and highest stored value.
inline bool offeredRange(const QWidget *control, Stored stored, double &low, double &high)
{
    if (auto *spin = qobject_cast<const QSpinBox *>(control)) {
        low = spin->minimum();
        high = spin->maximum();
        return true;
    }
    if (auto *spin = qobject_cast<const QDoubleSpinBox *>(control)) {
        low = spin->minimum();
        high = spin->maximum();
        return true;
    }
    auto *combo = qobject_cast<const QComboBox *>(control);
    if (!combo || combo->count() == 0)
        return false;
    QList<double> values;
    for (int row = 0; row < combo->count(); ++row) {
        bool ok = true;
        values << (stored == Stored::Row    ? row
                   : stored == Stored::Data ? combo->itemData(row).toDouble(&ok)
                                            : combo->itemText(row).toDouble(&ok));
        if (!ok)
            return false;
    }
    low = *std::min_element(values.begin(), values.end());
    high = *std::max_element(values.begin(), values.end());
    return true;
}

// Empty when the configuration table's range of [section] key is what control offers; else why not.
inline QString rangeMismatch(const char *section, const char *key, const QWidget *control, Stored stored = Stored::Text)
{
    const KeyRanges::Range *range = KeyRanges::configuration().find(section, key);
    double low = 0, high = 0;
    if (!range)
        return QStringLiteral("[%1] %2 has no range").arg(section, key);
    if (!control || !offeredRange(control, stored, low, high))
        return QStringLiteral("no control offers numbers for [%1] %2").arg(section, key);
    if (std::fabs(range->min - low) > 1e-9 || std::fabs(range->max - high) > 1e-9)
        return QStringLiteral("[%1] %2: the table holds %3 to %4, %5 offers %6 to %7")
            .arg(section, key)
            .arg(range->min)
            .arg(range->max)
            .arg(control->objectName())
            .arg(low)
            .arg(high);
    return QString();
}
