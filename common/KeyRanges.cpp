#include "KeyRanges.h"

#include <QDebug>
#include <QLocale>
#include <QRegularExpression>
#include <QString>

#include <cmath>

namespace {

constexpr double kStepsPerMicrometre = 51.2;
const double kLensPositionMax = std::ceil(9999 * kStepsPerMicrometre);

bool matches(const char *pattern, const std::string &name)
{
    const std::string p(pattern);
    if (p == "*")
        return true;
    if (!p.empty() && p.back() == '*')
        return name.compare(0, p.size() - 1, p, 0, p.size() - 1) == 0;
    return p == name;
}

// The number a text holds as a whole (blanks around it allowed), or false.
bool numberOf(const QString &text, KeyRanges::Kind kind, double &number)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    static const QRegularExpression real(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QString trimmed = text.trimmed();
    if (!(kind == KeyRanges::Integer ? integer : real).match(trimmed).hasMatch())
        return false;
    bool ok = false;
    number = QLocale::c().toDouble(trimmed, &ok);
    return ok && std::isfinite(number);
}

bool within(double number, const KeyRanges::Range &range)
{
    // Reals are written with six significant digits: a limit may come back a hair beyond itself.
    const double slack = 1e-6 * std::max({1.0, std::fabs(range.min), std::fabs(range.max)});
    return number >= range.min - slack && number <= range.max + slack;
}

} // namespace

KeyRanges::KeyRanges(std::vector<Range> ranges)
    : m_Ranges(std::move(ranges))
{
}

const KeyRanges::Range *KeyRanges::find(const std::string &section, const std::string &key) const
{
    for (const Range &range : m_Ranges) {
        if (matches(range.section, section) && matches(range.key, key))
            return &range;
    }
    return nullptr;
}

bool KeyRanges::holds(const std::string &file, const std::string &section, const std::string &key,
                      const std::string &value, const std::string &def) const
{
    const Range *range = find(section, key);
    if (!range)
        return true;
    const QString text = QString::fromStdString(value);
    double number = 0.0;
    const bool isNumber = numberOf(text, range->kind, number);
    if (isNumber && within(number, *range))
        return true;
    const QString shown = text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
    qWarning().noquote() << QStringLiteral("%1: [%2] %3=%4 %5 %6 to %7; the default %8 is used")
                                .arg(QString::fromStdString(file), QString::fromStdString(section),
                                     QString::fromStdString(key), shown,
                                     isNumber ? QStringLiteral("is outside") : QStringLiteral("is not a number in"))
                                .arg(range->min)
                                .arg(range->max)
                                .arg(QString::fromStdString(def));
    return false;
}

const KeyRanges &KeyRanges::configuration()
{
    // The ranges of the settings dialog and of the page controls that store each key; keys that
    // no dialog offers hold what their readers can use. Flags (Camera SaturatedPixel and
    // HotPixelEnable, Focus Knob, LensPos Enable, Autosave, Correction, Dilate, ShowStartDlg,
    // LicenseAgreement Accepted) are not listed: their readers take any text, a number other than
    // 0 as set.
    static const KeyRanges ranges({
        {"Camera", "Mode", Integer, 8, 16},
        {"Camera", "PreviousMode", Integer, 8, 16},
        {"Camera", "Threshold", Integer, 0, 255},
        {"Camera", "HotPixelEx", Integer, 0, 55}, // a row of the exposure table
        {"Filter_*", "Light", Integer, 1, 100},
        {"Filter_*", "Gain", Integer, 0, 21},
        {"Filter_*", "Exposure", Integer, 0, 55},
        {"FilterColor", "*", Integer, 0, 7},
        {"LensNA", "*", Number, 0.01, 1.5},
        {"Focus", "CoarseSpeed", Integer, 10, 1000},
        {"Focus", "FineSpeed", Integer, 5, 100},
        {"Focus", "CoarseStepSize", Integer, 1, 100},
        {"Focus", "FineStepSize", Number, 0.05, 1.0},
        {"Focus", "FineAFRange", Integer, 3, 20},
        {"Focus", "DOF_Factor", Number, 0.1, 10.0},
        // Heights above the lower stage limit, at most the 15000 um the read-out knows; -1 is empty.
        {"FocusMemory", "*", Integer, -1, 15000 * kStepsPerMicrometre},
        {"LensPos", "Delay", Number, 0.1, 10.0},
        {"LensPos", "Speed", Integer, 10, 700},
        // Parfocal positions: stored only from 1 to 9999 um; 0 is none.
        {"LensPos", "1", Integer, 0, kLensPositionMax},
        {"LensPos", "2", Integer, 0, kLensPositionMax},
        {"LensPos", "3", Integer, 0, kLensPositionMax},
        {"LensPos", "4", Integer, 0, kLensPositionMax},
        {"LensPos", "5", Integer, 0, kLensPositionMax},
        {"Setting_*", "LineThickness", Integer, 0, 7},
        {"Setting_*", "LineColor", Integer, 0, 7},
        {"Setting_*", "FontColor", Integer, 0, 7},
        // A font size of the settings dialog's list (5 to 60), or a size step of the pages' own.
        {"Setting_*", "FontThickness", Integer, 0, 60},
        {"ScaleBar", "ReductionLensMagnification", Number, 0.1, 1.0},
        {"ScaleBar", "CMOSPixelSize", Number, 0.0, 50.0}, // 0: the count refuses with its message
        {"ScaleBar", "ScaleBarColor", Integer, 0, 7},
        {"ScaleBar", "ScaleBarSize", Integer, 0, 2},
        {"ScaleBar", "ScaleBarPosition", Integer, 0, 3},
        {"ScaleBar", "ScaleBarFont", Integer, 0, 60},
        {"Setting_ZStack", "Interval", Number, 0.05, 1000.0},
        {"Setting_ZStack", "ImageNumber", Integer, 1, 1000},
        {"Setting_ZStack", "Range_Plus", Integer, 0, 10000},
        {"Setting_ZStack", "Range_Minus", Integer, 0, 10000},
        {"Setting_ZStack", "StableTimeInterval", Number, 0.1, 5.0},
        {"Setting_ZStack", "StableZSpeed", Integer, 10, 700},
        {"Setting_ZStack", "MatchingSize", Integer, 3, 15},
        {"Setting_ZStack", "MergeColor", Integer, 0, 7},
        {"Setting_Timelapse", "CorrectionFreq", Integer, 1, 10000},
        {"Setting_Timelapse", "ScanRange", Integer, 5, 20},
        {"Setting_Timelapse", "FrameRate", Integer, 1, 60},
        {"Setting_Timelapse", "VideoQuality", Integer, 2, 5},
        {"Setting_Timelapse", "VideoScale", Number, 0.25, 1.0},
        {"Setting_Growth", "Threshold_Type", Integer, 0, 1},
        {"Setting_Growth", "Threshold_Value", Integer, 0, 255},
        {"Setting_Growth", "Background", Integer, 0, 1},
        {"Setting_Growth", "MinObjSize", Integer, 0, 10000000},
        {"Setting_Growth", "Watershed", Number, 0.0, 0.9},
        {"Setting_Misc", "Accel", Integer, 0, 1000},
        {"Setting_Misc", "Reduction", Number, 0.0, 1.0},
        {"Setting_Misc", "AF_Offset", Integer, -1000, 1000},
        {"Setting_Misc", "CellSize_Offset", Number, 0.0, 255.0},
        {"Setting_Misc", "Stage_MAXSPEED", Integer, 1, 1000},
        {"Setting_Misc", "Stage_FOCUSSPEED", Integer, 100, 700},
    });
    return ranges;
}
