#include "CountToolProtocol.h"

#include "CommandLineTool.h"
#include "KeyRanges.h"
#include "PrivateProfile.h"
#include "ProtocolFile.h"

#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <iterator>

namespace {

// A key a count reads, with its default and range.
struct Checked
{
    const char *group, *key, *fallBack;
    double min, max;
};

std::vector<Checked> checkedKeys(bool secondEngine)
{
    std::vector<Checked> list;
    if (secondEngine) {
        for (const ProtocolFile::SecondEngineKey &k : ProtocolFile::secondEngineKeys())
            list.push_back({k.group, k.key, k.fallBack, k.min, k.max});
        return list;
    }
    // The own counter takes five keys from the file; fixed values stand for the rest.
    using P = nimbo_protocol_t;
    const ProtocolFile::Field taken[] = {&P::nDilutionFactor, &P::nMustDetectIntensity, &P::fRoundness,
                                         &P::nMinCellSize, &P::nMaxCellSize};
    for (const ProtocolFile::Key &k : ProtocolFile::keys()) {
        if (std::find(std::begin(taken), std::end(taken), k.field) != std::end(taken))
            list.push_back({k.group, k.key, k.fallBack, k.min, k.max});
    }
    return list;
}

// A value as a line can show it: printable, at most 40 characters.
QString shown(const std::string &value)
{
    QString text = QString::fromStdString(value);
    for (QChar &c : text) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
}

} // namespace

bool CountToolProtocol::read(const QString &path, CountTool::Protocol &protocol, QString *why)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        if (why)
            *why = QStringLiteral("cannot read the protocol file %1").arg(path);
        return false;
    }
    const std::string file = path.toStdString();
    nimbo_protocol_t own;
    ProtocolFile::read(file, own, ProtocolFile::Reader::Count);
    protocol.mustDetectIntensity = own.nMustDetectIntensity;
    protocol.roundness = own.fRoundness;
    protocol.minSizeUm = own.nMinCellSize;
    protocol.maxSizeUm = own.nMaxCellSize;
    protocol.dilutionFactor = own.nDilutionFactor;
    ProtocolFile::readSecondEngine(file, protocol.secondEngine);
    return true;
}

QStringList CountToolProtocol::notes(const QString &path, bool secondEngine)
{
    const std::vector<Checked> keys = checkedKeys(secondEngine);
    const std::string file = path.toStdString();
    std::vector<PrivateProfileEntry> written; // the values as the file holds them
    std::vector<KeyRanges::Range> list;
    for (const Checked &k : keys) {
        written.push_back({k.group, k.key, std::string()});
        list.push_back({k.group, k.key, KeyRanges::Number, k.min, k.max});
    }
    ReadPrivateProfileBatch(written, file);
    const KeyRanges ranges(std::move(list));
    const QSettings settings(path, QSettings::IniFormat); // only whether a key is there at all
    QStringList notes, defaults;
    bool anyKey = false;
    for (size_t i = 0; i < keys.size(); ++i) {
        const Checked &k = keys[i];
        const QString name = QStringLiteral("[%1] %2").arg(QLatin1String(k.group), QLatin1String(k.key));
        defaults << name + '=' + QLatin1String(k.fallBack);
        if (!settings.contains(QLatin1String(k.group) + '/' + QLatin1String(k.key)))
            continue;
        anyKey = true;
        const std::string &value = written[i].value;
        bool stands = false;
        if (!value.empty())
            ranges.valueOf(file, k.group, k.key, &value, k.fallBack, stands);
        if (value.empty())
            notes << QStringLiteral("%1: %2 is empty; the default %3 is used")
                         .arg(path, name, QLatin1String(k.fallBack));
        else if (!stands)
            notes << QStringLiteral("%1: %2=%3 is not a number from %4 to %5; the default %6 is used")
                         .arg(path, name, shown(value))
                         .arg(k.min)
                         .arg(k.max)
                         .arg(QLatin1String(k.fallBack));
    }
    if (!anyKey)
        return {QStringLiteral("%1 holds none of the keys the count reads; the defaults are used: %2")
                    .arg(path, defaults.join(QStringLiteral(", ")))};
    return notes;
}

void CountToolProtocol::print(FILE *err, const QStringList &notes)
{
    for (const QString &note : notes)
        std::fprintf(err, "vantor-count: %s\n", CommandLineTool::oneLine(note).constData());
}
