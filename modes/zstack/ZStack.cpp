#include "ZStack.h"

#include "Globals.h"
#include "Paths.h"
#include "Utilities.h"

#include <QDir>
#include <cmath>

ZStack::ZStack(QObject *parent)
    : QObject(parent)
{
}

ZStack::~ZStack() = default;

void ZStack::setZStackParameter(float start, float end, float interval, bool intervalOn, int imageNumber,
                                bool imageNumberOn)
{
    m_fStart = start;
    m_fEnd = end;
    m_fInterval = interval;
    m_bIntervalOn = intervalOn;
    m_nImageNumber = imageNumber;
    m_bImageNumberOn = imageNumberOn;
    m_nSign = start > end ? -1 : 1;
}

int ZStack::canStart(int bits)
{
    Q_UNUSED(bits)
    if (m_bIntervalOn && m_fInterval == 0.0f)
        return NO_INTERVAL;
    if (m_bImageNumberOn && m_nImageNumber == 0)
        return NO_IMAGE_NUMBER;
    if (m_fStart == m_fEnd)
        return BAD_DISTANCE;

    m_nCount = 0;
    const float distance = std::fabs(m_fStart - m_fEnd);
    float interval = m_fInterval;
    int imageNumber = m_nImageNumber;
    if (m_bImageNumberOn) {
        if (imageNumber < 2)
            return TOO_FEW_IMAGES;
        interval = distance / float(imageNumber - 1);
    } else {
        if (interval > distance || interval <= 0.0f)
            return BAD_DISTANCE;
        imageNumber = int(distance / interval + 1.0f);
        if (imageNumber < 2)
            return BAD_DISTANCE;
    }
    if (imageNumber > kMaxImages)
        return TOO_MANY_IMAGES;
    // Rounded to the nearest motor step. A step of 0 would take every slice at one place under
    // different positions: refused like an interval that does not fit.
    const int step = int(std::lround(interval * g_ConvertToStep));
    if (step == 0)
        return BAD_DISTANCE;

    m_fInterval = interval;
    m_nImageNumber = imageNumber;
    m_nStep = m_fStart > m_fEnd ? -step : step;
    clearThumbnails();
    return OK;
}

float ZStack::stepMicrometres() const
{
    return float(std::abs(m_nStep)) / g_ConvertToStep;
}

void ZStack::pushThumbnail(const ThumbnailInfo &info)
{
    m_Thumbnails.push_back(info);
}

void ZStack::clearThumbnails()
{
    m_Thumbnails.clear();
}

int ZStack::deleteRawData()
{
    const QString folder = Paths::path("/media/VANTOR SSD/.ZStack/");
    if (!QDir(folder).removeRecursively())
        return -1;
    createTemporaryPath(folder);
    return 1;
}
