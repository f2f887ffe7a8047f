#include "ProtocolFixture.h"

#include "Paths.h"
#include "PythonIni.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

ProtocolFixture::ProtocolFixture()
    : root(std::make_unique<TestRoot>())
{
    root->makeDir("/root/Microscope/NIMBO");
    root->makeDir("/media/VANTOR SSD");
}

QString ProtocolFixture::dir() const
{
    return Paths::programDir();
}

QString ProtocolFixture::fileOf(const QString &name) const
{
    return dir() + "/Protocol_" + name + "_NIMBO.ini";
}

void ProtocolFixture::writeProtocol(const QString &name, const QByteArray &text) const
{
    QFile file(fileOf(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

QStringList ProtocolFixture::files() const
{
    return QDir(dir()).entryList({"Protocol_*"}, QDir::Files, QDir::Name);
}

QStringList ProtocolFixture::allFiles() const
{
    QStringList list;
    QDirIterator it(root->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        list << it.next().mid(root->path().size());
    list.sort();
    return list;
}

QStringList ProtocolFixture::parsed(const QString &file)
{
    return pythonIniLines(file);
}

nimbo_protocol_t ProtocolFixture::distinctProtocol()
{
    nimbo_protocol_t p;
    p.nDilutionFactor = 7;
    p.nOutsideThresholdOffset = -15;
    p.nOutsideMinSize = 11;
    p.nOutsideMaxSize = 8888;
    p.nNRKernelSize = 5;
    p.nOutsideKernelSize = 41;
    p.dOutsideGain = 3.456;
    p.nInsideThresholdOffset = 12;
    p.nInsideMinSize = 2;
    p.nInsideMaxSize = 70;
    p.nMustDetectIntensity = 159;
    p.nPostMinIntensity = 9;
    p.nPostMaxIntensity = 250;
    p.fRoundness = 40.04f;
    p.nMinCellSize = 6;
    p.nMaxCellSize = 44;
    p.dDeclusterTolerance = 0.36;
    p.nClusterDistance = 8;
    p.fCenterRange = 0.15f;
    p.fWholeRange = 0.65f;
    p.fIntensityRatio = 1.26f;
    p.nLiveMinIntensity = 95;
    return p;
}
