#include "ProtocolFile.h"

#include "DecimalText.h"
#include "KeyRanges.h"
#include "KeyboardDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QDir>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QString kPrefix = QStringLiteral("Protocol_");
const QString kSuffix = QStringLiteral("_NIMBO.ini");
const QString kSecondEngineSuffix = QStringLiteral("_BF.ini");

using P = nimbo_protocol_t;
using DecimalText::leadingDouble;
using DecimalText::leadingInt;

// The own counter's keys with the ranges of the full editor.
const KeyRanges &ownRanges()
{
    static const KeyRanges ranges = [] {
        std::vector<KeyRanges::Range> list;
        for (const ProtocolFile::Key &k : ProtocolFile::keys())
            list.push_back({k.group, k.key, KeyRanges::Number, k.min, k.max});
        return KeyRanges(std::move(list));
    }();
    return ranges;
}

std::string fileIn(const QString &name, const QString &suffix)
{
    return (Paths::programDir() + '/' + kPrefix + name + suffix).toStdString();
}

} // namespace

const QString ProtocolFile::defaultName = QStringLiteral("DEFAULT");

const std::vector<ProtocolFile::Key> &ProtocolFile::keys()
{
    static const std::vector<Key> table = {
        // The protocol dialog's Up steps by 10 above 9 and stops past 99, so it writes up to 109.
        {"Dilution Factor", "Factor", -1, "2", 2, "2", 1, 109, &P::nDilutionFactor},
        {"OutSide_Detection", "threshold_offset", -1, "30", 10, "10", -100, 100, &P::nOutsideThresholdOffset},
        {"OutSide_Detection", "min_size", -1, "10", 30, "30", 0, 99998, &P::nOutsideMinSize},
        {"OutSide_Detection", "max_size", -1, "9999", 9999, "9999", 1, 99999, &P::nOutsideMaxSize},
        {"Noise_Reduction", "NR_kernel_size", -1, "3", 1, "1", 1, 101, &P::nNRKernelSize},
        {"Noise_Reduction", "OutSide_kernel_size", -1, "53", 45, "53", 3, 101, &P::nOutsideKernelSize},
        {"Noise_Reduction", "OutSide_gain", 2, "4", 2.0, "2.0", 1.0, 20.0, &P::dOutsideGain},
        {"InSide_Detection", "threshold_offset", -1, "10", 10, "10", -100, 100, &P::nInsideThresholdOffset},
        {"InSide_Detection", "min_size", -1, "1", 10, "10", 0, 99998, &P::nInsideMinSize},
        {"InSide_Detection", "max_size", -1, "80", 80, "80", 1, 99999, &P::nInsideMaxSize},
        {"InSide_Detection", "MustDetect_intensity", -1, "165", 220, "220", 0, 255, &P::nMustDetectIntensity},
        {"Post_Filtering", "min_intensity", -1, "10", 1, "1", 1, 255, &P::nPostMinIntensity},
        {"Post_Filtering", "max_intensity", -1, "251", 255, "255", 1, 255, &P::nPostMaxIntensity},
        {"Post_Filtering", "Roundness", 1, "10", 10.0, "10.0", 0.0, 100.0, &P::fRoundness},
        {"Post_Filtering", "min_size", -1, "5", 5, "5", 0, 99998, &P::nMinCellSize},
        {"Post_Filtering", "max_size", -1, "60", 60, "60", 1, 99999, &P::nMaxCellSize},
        {"Post_Filtering", "DeCluster_tolerance", 1, "0.1", 0.6, "0.5", 0.0, 1.0, &P::dDeclusterTolerance},
        {"Post_Filtering", "Cluster_distance", -1, "10", 5, "5", 0, 10, &P::nClusterDistance},
        {"Viability", "center_range", 2, "0.1", 0.1, "0.1", 0.1, 1.0, &P::fCenterRange},
        {"Viability", "whole_range", 2, "0.7", 0.7, "0.7", 0.1, 1.0, &P::fWholeRange},
        {"Viability", "intensity_ratio", 1, "1.1", 1.0, "1.0", 1.0, 10.0, &P::fIntensityRatio},
        {"Viability", "min_intensity", -1, "90", 90, "90", 1, 255, &P::nLiveMinIntensity},
    };
    return table;
}

double ProtocolFile::Key::value(const nimbo_protocol_t &protocol) const
{
    return std::visit([&](auto member) { return double(protocol.*member); }, field);
}

void ProtocolFile::Key::setValue(nimbo_protocol_t &protocol, double value) const
{
    std::visit([&](auto member) {
        using T = std::remove_reference_t<decltype(protocol.*member)>;
        if constexpr (std::is_integral_v<T>)
            protocol.*member = T(std::clamp<double>(std::trunc(value), INT32_MIN, INT32_MAX));
        else
            protocol.*member = T(value);
    }, field);
}

QString ProtocolFile::Key::text(const nimbo_protocol_t &protocol) const
{
    if (decimals < 0)
        return QString::number(qint64(value(protocol)));
    return QString::number(value(protocol), 'f', decimals);
}

void ProtocolFile::Key::setFromText(nimbo_protocol_t &protocol, const std::string &text) const
{
    if (decimals < 0)
        setValue(protocol, leadingInt(text));
    else
        setValue(protocol, leadingDouble(text));
}

std::string ProtocolFile::pathOf(const QString &name)
{
    return fileIn(name, kSuffix);
}

std::string ProtocolFile::secondEnginePathOf(const QString &name)
{
    return fileIn(name, kSecondEngineSuffix);
}

void ProtocolFile::read(const std::string &path, nimbo_protocol_t &protocol, Reader reader)
{
    std::vector<PrivateProfileEntry> entries;
    for (const Key &k : keys())
        entries.push_back({k.group, k.key, reader == Reader::Count ? k.fallBack : k.editorFallBack});
    ReadPrivateProfileBatch(entries, path, &ownRanges());
    for (size_t i = 0; i < entries.size(); ++i)
        keys()[i].setFromText(protocol, entries[i].value);
    if (reader == Reader::Count)
        protocol.nMustDetectIntensity = std::min(protocol.nMustDetectIntensity, int32_t(kMustDetectIntensityCap));
}

bool ProtocolFile::write(const std::string &path, const nimbo_protocol_t &protocol)
{
    std::vector<PrivateProfileEntry> entries;
    for (const Key &k : keys())
        entries.push_back({k.group, k.key, k.text(protocol).toStdString()});
    if (!WritePrivateProfileBatch(entries, path))
        return false;
    return std::all_of(entries.begin(), entries.end(), [&](const PrivateProfileEntry &e) {
        std::string stored;
        return ReadPrivateProfileString(e.section, e.key, "", stored, path) == 1 && stored == e.value;
    });
}

const std::vector<ProtocolFile::SecondEngineKey> &ProtocolFile::secondEngineKeys()
{
    // No dialog writes this file: the ranges are those of the engine's tables and of the own
    // counter's editor.
    static const std::vector<SecondEngineKey> table = {
        {"Dilution Factor", "Factor", "2", 1, 100, &protocol_t::nDilutionFactor},
        {"Noise Reduction", "Reduction", "5", 1, 10, &protocol_t::nNoiseReduction},
        {"Live Cell Detection", "Value", "1", 1, 9, &protocol_t::nLiveCellDetection},
        {"Roundness", "Number", "60", 0, 100, &protocol_t::nRoundness},
        {"Min Cell Size", "Size", "3", 0, 99998, &protocol_t::nMinCellSize},
        {"Max Cell Size", "Size", "60", 1, 99999, &protocol_t::nMaxCellSize},
        {"Declustering Level", "Level", "0", 0, 255, &protocol_t::nDeclusteringLevel},
    };
    return table;
}

void ProtocolFile::readSecondEngine(const std::string &path, protocol_t &protocol)
{
    static const KeyRanges ranges = [] {
        std::vector<KeyRanges::Range> list;
        for (const SecondEngineKey &k : secondEngineKeys())
            list.push_back({k.group, k.key, KeyRanges::Number, k.min, k.max});
        return KeyRanges(std::move(list));
    }();
    std::vector<PrivateProfileEntry> entries;
    for (const SecondEngineKey &k : secondEngineKeys())
        entries.push_back({k.group, k.key, k.fallBack});
    ReadPrivateProfileBatch(entries, path, &ranges);
    for (size_t i = 0; i < entries.size(); ++i)
        protocol.*(secondEngineKeys()[i].field) = leadingInt(entries[i].value);
}

bool ProtocolFile::isNameTooLong(const QString &name)
{
    return (kPrefix + name + kSuffix).toUtf8().size() > kMaxFileNameBytes;
}

bool ProtocolFile::isUsableName(const QString &name)
{
    return !name.isEmpty() && !KeyboardDlg::containsUnacceptableCharacter(name) && !isNameTooLong(name);
}

QStringList ProtocolFile::listNames()
{
    QStringList files = QDir(Paths::programDir()).entryList({kPrefix + '*' + kSuffix}, QDir::Files);
    std::sort(files.begin(), files.end(), alphanum_less());
    // DEFAULT is always there: without its file it reads as the fall-back values.
    QStringList names{defaultName};
    for (const QString &file : files) {
        const QString name = file.mid(kPrefix.size(), file.size() - kPrefix.size() - kSuffix.size());
        if (name != defaultName && isUsableName(name))
            names << name;
    }
    return names;
}
