#include "CellCount.h"

#include "ImMeasurer.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "ProtocolFile.h"
#include "Utilities.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>

namespace {
constexpr int kFrameWidth = 1280, kFrameHeight = 1024;
// Megabytes of one frame's work files per byte of sample depth, and the margin kept free.
constexpr double kFrameMb = 1.25;
constexpr double kMargin = 2.0;
// An automatic count writes the raw frame and its tagged colour copy: 5.25 MB of 8-bit data.
constexpr double kAutoCountWorkFilesMb = 5.25;
} // namespace

CellCount::CellCount(QObject *parent)
    : QObject(parent)
    , m_pMeasurer(new ImMeasurer)
{
}

CellCount::~CellCount()
{
    delete m_pMeasurer;
}

QString CellCount::rawDataPath()
{
    return Paths::ssd() + "/.CellCount/";
}

TCellCountErrTable CellCount::canStart(int bits, const float &magnification, bool clean, TCountMode mode)
{
    QElapsedTimer timer;
    timer.start();
    if (mode == COUNT_MODE_AUTO) {
        if (bits != 8)
            return CELLCOUNT_ERR_CAMERA_MODE;
        if (magnification >= 5.0f)
            return CELLCOUNT_ERR_MAGNIFICATION;
    }
    // Twice the work files of two frames of this depth, and at least what an automatic count
    // really writes.
    double needMb = kMargin * (bits / 8.0 * kFrameMb) * 2.0;
    if (mode == COUNT_MODE_AUTO)
        needMb = std::max(needMb, kAutoCountWorkFilesMb);
    if (double(MediaMonitor::freeDiskSpace(Paths::ssd())) < needMb)
        return CELLCOUNT_ERR_DISK_SPACE;
    if (clean && deleteRawData() < 0)
        return CELLCOUNT_ERR_RAW_DATA;
    if (isEnableSerialLog())
        qDebug() << "TCellCountErrTable CellCount::canStart(int, const float&, bool, TCountMode)" << timer.elapsed();
    return CELLCOUNT_ERR_NONE;
}

int CellCount::deleteRawData()
{
    const QString path = rawDataPath();
    const bool removed = QDir(path).removeRecursively();
    if (removed)
        createTemporaryPath(path);
    m_Thumbnails.clear();
    const QFileInfo folder(path);
    return removed && folder.isDir() && QDir(path).isEmpty() ? 1 : -1;
}

double CellCount::getAvgIntensityValue(unsigned char *frame, int bits, int)
{
    m_pMeasurer->setImageData(frame, kFrameWidth, kFrameHeight, bits);
    return m_pMeasurer->GetAveIntensityValue();
}

void CellCount::LoadProtocol(const QString &name)
{
    const QString usable = ProtocolFile::isUsableName(name) ? name : ProtocolFile::defaultName;
    m_Protocol.Init();
    m_Protocol.path = ProtocolFile::pathOf(usable);
    m_Protocol.name = usable;
    ProtocolFile::read(m_Protocol.path, m_Protocol, ProtocolFile::Reader::Count);
}

QString CellCount::convertLiveCellSensitivity(int mustDetectIntensity)
{
    static const int levels[] = {171, 169, 167, 165, 163, 161, 159, 157, 155}; // "1" to "9"
    if (mustDetectIntensity == 220)
        return QStringLiteral("0");
    const int *found = std::find(std::begin(levels), std::end(levels), mustDetectIntensity);
    return found == std::end(levels) ? QStringLiteral("4") : QString::number(found - levels + 1);
}

QString CellCount::convertDigitalFilteringToString(int nrKernelSize)
{
    switch (nrKernelSize) {
    case 3: return QStringLiteral("Low");
    case 5: return QStringLiteral("Medium");
    case 7: return QStringLiteral("High");
    default: return QStringLiteral("None");
    }
}
