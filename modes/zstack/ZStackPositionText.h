#pragma once
#include <QString>

// The focus-position texts of a held stack, read from the "Z Position" value that every slice
// file carries in its metadata text ("Z Position: 12.5 µm"). Shared by the page's stamp and save
// list and by the browser's annotation.
class ZStackPositionText
{
public:
    static const QString kUnit; // "µm"
    // The browser's index while it shows the merged image instead of a slice, and the stamp then.
    static constexpr int kMergedIndex = -1;
    static const QString kMerged; // "Merged focus"

    // The "Z Position" value of a slice file as stored (with its unit); empty when the file cannot
    // be read or has none.
    static QString ofFile(const QString &path);
    // The same from a metadata text already read.
    static QString ofMetaText(const QString &meta);
    // A value in micrometres: "µm" removed, read as a float; 0 for empty or unreadable text.
    static float micrometres(QString value);
    // |last - first| with one decimal.
    static QString span(const QString &first, const QString &last);
    // "12.5 µm / 45.0 µm  3 / 10" or, without a position, "3 / 10"; number is 1-based.
    static QString text(const QString &position, const QString &span, int number, int count);
};
