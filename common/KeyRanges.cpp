#include "KeyRanges.h"

#include <QDebug>
#include <QLocale>
#include <QMutex>
#include <QSet>
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
    if (!(kind == KeyRanges::Number ? real : integer).match(trimmed).hasMatch())
        return false;
    bool ok = false;
    number = QLocale::c().toDouble(trimmed, &ok);
    return ok && std::isfinite(number);
}

QMutex &loggedLock()
{
    static QMutex lock;
    return lock;
}

QSet<QString> &loggedLines()
{
    static QSet<QString> lines;
    return lines;
}

// A page reads its keys at every visit: each bad value is worth one line per start, not one a visit.
void logOnce(const QString &line)
{
    {
        QMutexLocker lock(&loggedLock());
        if (loggedLines().contains(line))
            return;
        loggedLines().insert(line);
    }
    qWarning().noquote() << line;
}

bool within(double number, const KeyRanges::Range &range)
{
    // Reals are written with six significant digits: a limit may come back a hair beyond itself.
    const double slack =
        range.kind == KeyRanges::Number ? 1e-6 * std::max({1.0, std::fabs(range.min), std::fabs(range.max)}) : 0.0;
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

std::string KeyRanges::valueOf(const std::string &file, const std::string &section, const std::string &key,
                               const std::string *stored, const std::string &readerDef, bool &found) const
{
    const Range *range = find(section, key);
    const std::string def = range && range->def ? std::string(range->def) : readerDef;
    found = false;
    if (!stored)
        return def;
    if (!range) {
        found = !stored->empty();
        return found ? *stored : def;
    }
    const QString text = QString::fromStdString(*stored);
    double number = 0.0;
    const bool isNumber = numberOf(text, range->kind, number);
    if (isNumber && within(number, *range)) {
        found = true;
        return *stored;
    }
    if (text.trimmed().isEmpty() && range->defKey)
        return def; // an empty value that means "none": the other key's value
    QString why;
    if (text.trimmed().isEmpty())
        why = QStringLiteral("is empty");
    else
        why = QStringLiteral("%1 %2 to %3")
                  .arg(isNumber ? QStringLiteral("is outside") : QStringLiteral("is not a number in"))
                  .arg(range->min)
                  .arg(range->max);
    const QString shown = text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
    logOnce(QStringLiteral("%1: [%2] %3=%4 %5; the default %6 is used")
                .arg(QString::fromStdString(file), QString::fromStdString(section), QString::fromStdString(key), shown,
                     why, QString::fromStdString(def)));
    return def;
}

void KeyRanges::forgetLogged()
{
    QMutexLocker lock(&loggedLock());
    loggedLines().clear();
}

const KeyRanges &KeyRanges::configuration()
{
    // One default and the range its dialog offers for every number of the file. Where two readers
    // once fell back differently, the value a new instrument's file holds is the default; for keys
    // such a file lacks, the settings dialog's (what its factory reset writes).
    static const KeyRanges ranges({
        {"Camera", "Mode", Integer, 8, 16, "8"},
        {"Camera", "PreviousMode", Integer, 8, 16, nullptr, "Mode"}, // missing, empty or bad: the depth is Mode's
        {"Camera", "SaturatedPixel", Flag, 0, 1, "0"},
        {"Camera", "HotPixelEnable", Flag, 0, 1, "0"},
        {"Camera", "Threshold", Integer, 0, 255, "60"},
        {"Camera", "HotPixelEx", Integer, 0, 55, "31"}, // a row of the exposure table
        {"Filter_*", "Light", Integer, 1, 100, "50"},
        {"Filter_*", "Gain", Integer, 0, 21, "0"},
        {"Filter_*", "Exposure", Integer, 0, 55, "7"},
        {"FilterColor", "1", Integer, 0, 4, "1"}, // the settings dialog offers R, G, B, Y, CY
        {"FilterColor", "2", Integer, 0, 4, "0"},
        {"FilterColor", "3", Integer, 0, 4, "2"},
        {"LensNA", "1", Number, 0.01, 1.5, "0.13"},
        {"LensNA", "2", Number, 0.01, 1.5, "0.3"},
        {"LensNA", "3", Number, 0.01, 1.5, "0.4"},
        {"LensNA", "4", Number, 0.01, 1.5, "0.6"},
        {"LensNA", "5", Number, 0.01, 1.5, "1"},
        {"Focus", "Knob", Flag, 0, 1, "0"},
        {"Focus", "CoarseSpeed", Integer, 10, 1000, "350"},
        {"Focus", "FineSpeed", Integer, 5, 100, "5"},
        {"Focus", "CoarseStepSize", Integer, 1, 100, "1"},
        {"Focus", "FineStepSize", Number, 0.05, 1.0, "0.05"},
        {"Focus", "FineAFRange", Integer, 3, 20, "5"},
        {"Focus", "DOF_Factor", Number, 0.1, 10.0, "0.5"},
        // Heights above the lower stage limit, at most the 15000 um the read-out knows; -1 is empty.
        {"FocusMemory", "*", Integer, -1, 15000 * kStepsPerMicrometre, "-1"},
        {"LensPos", "Enable", Flag, 0, 1, "1"},
        {"LensPos", "Delay", Number, 0.1, 10.0, "0.5"},
        {"LensPos", "Speed", Integer, 10, 700, "700"},
        // Parfocal positions: stored only from 1 to 9999 um; 0 is none.
        {"LensPos", "1", Integer, 0, kLensPositionMax, "0"},
        {"LensPos", "2", Integer, 0, kLensPositionMax, "0"},
        {"LensPos", "3", Integer, 0, kLensPositionMax, "0"},
        {"LensPos", "4", Integer, 0, kLensPositionMax, "0"},
        {"LensPos", "5", Integer, 0, kLensPositionMax, "0"},
        {"Setting_MultiColor", "LineThickness", Integer, 0, 7, "0"}, // rows of the width list 1 to 8
        {"Setting_MultiColor", "LineColor", Integer, 0, 7, "1"},
        {"Setting_MultiColor", "FontThickness", Integer, 5, 60, "24"}, // the font-size list
        {"Setting_MultiColor", "FontColor", Integer, 0, 7, "1"},
        {"Setting_MultiColor", "Autosave", Flag, 0, 1, "0"},
        // The single page steps its own sizes: point size (value + 5) x 2.
        {"Setting_Single", "LineThickness", Integer, 0, 7, "0"},
        {"Setting_Single", "LineColor", Integer, 0, 7, "5"},
        {"Setting_Single", "FontThickness", Integer, 0, 60, "5"},
        {"Setting_Single", "FontColor", Integer, 0, 7, "3"},
        {"ScaleBar", "ReductionLensMagnification", Number, 0.1, 1.0, "0.655"},
        {"ScaleBar", "CMOSPixelSize", Number, 0.0, 50.0, "3.63"}, // 0: the count refuses with its message
        {"ScaleBar", "ScaleBarColor", Integer, 0, 7, "0"},
        {"ScaleBar", "ScaleBarSize", Integer, 0, 2, "0"},
        {"ScaleBar", "ScaleBarPosition", Integer, 0, 3, "2"},
        {"ScaleBar", "ScaleBarFont", Integer, 0, 60, "10"},
        {"Setting_ZStack", "Interval", Number, 0.05, 1000.0, "1.0"},
        {"Setting_ZStack", "ImageNumber", Integer, 1, 1000, "10"},
        {"Setting_ZStack", "Range_Plus", Integer, 0, 10000, "100"},
        {"Setting_ZStack", "Range_Minus", Integer, 0, 10000, "100"},
        {"Setting_ZStack", "StableTimeInterval", Number, 0.1, 5.0, "0.1"},
        {"Setting_ZStack", "StableZSpeed", Integer, 10, 700, "100"},
        {"Setting_ZStack", "MatchingSize", Integer, 3, 15, "11"},
        {"Setting_ZStack", "MergeColor", Integer, 0, 7, "7"},
        {"Setting_Timelapse", "Correction", Flag, 0, 1, "0"},
        {"Setting_Timelapse", "CorrectionFreq", Integer, 1, 10000, "1"},
        {"Setting_Timelapse", "ScanRange", Integer, 5, 20, "5"},
        {"Setting_Timelapse", "FrameRate", Integer, 1, 60, "1"},
        {"Setting_Timelapse", "VideoQuality", Integer, 2, 5, "2"},
        {"Setting_Timelapse", "VideoScale", Number, 0.25, 1.0, "1"},
        {"Setting_Growth", "Threshold_Type", Integer, 0, 1, "0"},
        {"Setting_Growth", "Threshold_Value", Integer, 0, 255, "0"},
        {"Setting_Growth", "Background", Integer, 0, 1, "0"},
        {"Setting_Growth", "Dilate", Flag, 0, 1, "0"},
        {"Setting_Growth", "MinObjSize", Integer, 0, 10000000, "5"},
        {"Setting_Growth", "Watershed", Number, 0.0, 0.9, "0.2"},
        {"Setting_Misc", "ShowStartDlg", Flag, 0, 1, "1"},
        {"Setting_Misc", "Accel", Integer, 0, 1000, "700"},
        {"Setting_Misc", "Reduction", Number, 0.0, 1.0, "1"},
        {"Setting_Misc", "AF_Offset", Integer, -1000, 1000, "20"},
        {"Setting_Misc", "CellSize_Offset", Number, 0.0, 255.0, "5"},
        {"Setting_Misc", "Stage_MAXSPEED", Integer, 1, 1000, "700"},
        {"Setting_Misc", "Stage_FOCUSSPEED", Integer, 100, 700, "100"},
        {"LicenseAgreement", "Accepted", Flag, 0, 1, "0"},
    });
    return ranges;
}
