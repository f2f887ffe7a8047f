#include "CountToolProtocol.h"

#include "ProtocolFile.h"

#include <QFileInfo>

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
