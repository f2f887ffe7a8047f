#include "TimeLapse.h"

#include "CameraProtocol.h"
#include "Paths.h"
#include "Utilities.h"

#include <QDir>
#include <cmath>

namespace {
const char *const kRawDataFolder = "/media/VANTOR SSD/.TimeLapse/";
}

TimeLapse::TimeLapse(QObject *parent)
    : QObject(parent)
{
}

TimeLapse::~TimeLapse() = default;

void TimeLapse::setTimelapseParameters(int hours, int minutes, int seconds, float interval,
                                       TTimeLapseIntervalType type, int exposure)
{
    m_nHours = hours;
    m_nMinutes = minutes;
    m_nSeconds = seconds;
    m_nTotalTime = hours * 3600 + minutes * 60 + seconds;
    m_IntervalType = type;
    m_fInterval = interval * (type == TIMELAPSE_INTERVAL_HOUR ? 3600.0f : type == TIMELAPSE_INTERVAL_MINUTE ? 60.0f : 1.0f);
    m_nExposure = exposure;
    m_nCount = 0;
    m_nTotalCount = 0;
}

int TimeLapse::canRun(int bitDepth, bool pseudoColor)
{
    if (m_fInterval < 1.0f || m_fInterval == 0.0f)
        return 1;
    if (m_fInterval * 1000.0f < float(frameMs(m_nExposure, bitDepth, pseudoColor)))
        return 3;
    m_nCount = 0;
    m_nTotalCount = int(float(m_nTotalTime) / m_fInterval) + 1; // frames at 0, interval, ... up to the total
    if (m_nTotalCount > kMaxFrames)
        return 7;
    if (m_fInterval > float(m_nTotalTime))
        return 5;
    clearThumbnails();
    return 0;
}

int TimeLapse::frameMs(int exposure, int bitDepth, bool pseudoColor)
{
    const int readoutMs = int(std::ceil(sensorReadoutUs(bitDepth == 16 ? kReadoutMode16 : kReadoutMode8) / 1000.0));
    return 2 * (exposure + readoutMs) + (pseudoColor ? 780 : 400);
}

int TimeLapse::deleteRawData()
{
    const QString folder = Paths::path(kRawDataFolder);
    if (!QDir(folder).removeRecursively())
        return -1;
    createTemporaryPath(folder);
    return 1;
}
