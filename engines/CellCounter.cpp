// Construction, calibration, tag colours and image lookup of the counting engine.
#include "CellCounter.h"

#include <cmath>
#include <exception>

namespace Quorvan {

namespace {

// A zeroed image of the given size and type, reusing the buffer when it already fits.
void zeroed(cv::Mat &image, int rows, int cols, int type)
{
    image.create(rows, cols, type);
    image.setTo(cv::Scalar::all(0));
}

} // namespace

CellCounter::CellCounter()
    : m_Mode(0), m_Height(1944), m_Width(2592), m_Volume(0.000495f), m_MicronsPerPixel(0.99290782f)
{
    init();
}

CellCounter::CellCounter(int mode, int height, int width, float volume, float magnification, float pixelSize)
    : m_Mode(mode), m_Height(height), m_Width(width), m_Volume(volume)
{
    const bool valid = std::isfinite(magnification) && magnification > 0 && std::isfinite(pixelSize) && pixelSize > 0;
    const float um = valid ? pixelSize / magnification : 0.0f;
    m_MicronsPerPixel = std::isfinite(um) ? um : 0.0f;
    init();
}

CellCounter::~CellCounter() = default;

void CellCounter::init()
{
    m_CircleThickness = 1;
    if (m_Mode == 3) {
        m_LiveColor = cv::Scalar(0, 255, 0, 0);
        m_DeadColor = cv::Scalar(255, 0, 0, 0);
        m_ThirdColor = cv::Scalar(255, 127, 0, 0);
    } else {
        m_LiveColor = cv::Scalar(0, 255, 0, 0);
        m_DeadColor = cv::Scalar(0, 0, 255, 0);
        m_ThirdColor = cv::Scalar(0, 127, 255, 0);
    }
    m_SizeGain = 0.923f;
    m_SizeOffset = -3.0183f;
    m_ShiftX2 = m_ShiftY2 = m_ShiftX3 = m_ShiftY3 = 0;

    // A frame size that cannot be allocated leaves an engine without images, which every
    // operation refuses.
    if (m_Height <= 0 || m_Width <= 0)
        return;
    const int h = m_Height, w = m_Width;
    try {
        switch (m_Mode) {
        case 5:
            for (cv::Mat *m : {&m_Image, &m_Mask, &m_GrayInput})
                zeroed(*m, h, w, CV_8UC1);
            for (cv::Mat *m : {&m_Work7, &m_TagImage})
                zeroed(*m, h, w, CV_8UC3);
            return;
        case 0:
            for (cv::Mat *m : {&m_Image, &m_Corrected, &m_Mask})
                zeroed(*m, h, w, CV_8UC1);
            break;
        case 1:
        case 2:
            zeroed(m_ShiftMatrix, 2, 3, CV_32FC1);
            for (cv::Mat *m : {&m_Channel1, &m_Channel2, &m_Channel3, &m_Corrected1, &m_Work2, &m_Shifted2,
                               &m_Shifted3, &m_Work3, &m_ShiftedMask3, &m_Mask1, &m_Mask2, &m_Mask3, &m_OverlayMask})
                zeroed(*m, h, w, CV_8UC1);
            break;
        case 3:
        case 4:
            for (cv::Mat *m : {&m_Image, &m_Corrected, &m_Mask})
                zeroed(*m, h, w, CV_8UC1);
            zeroed(m_ColorSource, h, w, CV_8UC3);
            break;
        default:
            break;
        }
        zeroed(m_TagImage, h, w, CV_8UC3);
        zeroed(m_Work1, h, w, CV_8UC1);
        zeroed(m_FlatField, h, w, CV_8UC1);
        zeroed(m_ColorInput, h, w, CV_8UC3);
        zeroed(m_Display640, 480, 640, CV_8UC3);
        zeroed(m_Display1280, 960, 1280, CV_8UC3);
    } catch (const std::exception &) {
        for (cv::Mat *m : {&m_ShiftMatrix, &m_ColorSource, &m_Image, &m_Channel1, &m_Channel2, &m_Channel3,
                           &m_FlatField, &m_Corrected, &m_Corrected1, &m_Work1, &m_Work2, &m_Shifted2, &m_Shifted3,
                           &m_Work3, &m_ShiftedMask3, &m_Mask, &m_Mask1, &m_Mask2, &m_Mask3, &m_OverlayMask,
                           &m_ColorInput, &m_Display640, &m_Display1280, &m_TagImage, &m_GrayInput, &m_Work7})
            m->release();
    }
}

void CellCounter::setSizeCalibration(float gain, float offset)
{
    m_SizeGain = gain;
    m_SizeOffset = offset;
}

void CellCounter::setCircleThickness(int thickness)
{
    m_CircleThickness = thickness;
}

void CellCounter::setTagColor(int which, unsigned char a, unsigned char b, unsigned char c)
{
    cv::Scalar *target = which == 1 ? &m_DeadColor : which == 2 ? &m_LiveColor : which == 3 ? &m_ThirdColor : nullptr;
    if (!target)
        return;
    *target = m_Mode == 3 || m_Mode == 5 ? cv::Scalar(a, b, c, 0) : cv::Scalar(c, b, a, 0);
}

void CellCounter::setTagImageTarget(unsigned char *target)
{
    if (target && m_Height > 0 && m_Width > 0) {
        if (!m_bTagTarget)
            m_OwnTagImage = m_TagImage;
        m_TagImage = cv::Mat(m_Height, m_Width, CV_8UC3, target);
        m_bTagTarget = true;
    } else if (!target && m_bTagTarget) {
        m_TagImage = m_OwnTagImage;
        m_OwnTagImage.release();
        m_bTagTarget = false;
    }
}

int CellCounter::getImageSize(int which)
{
    switch (which) {
    case 0: return 640 * 480 * 3;
    case 1: return 1280 * 960 * 3;
    case 2: return 2592 * 1944 * 3;
    default: return 0;
    }
}

cv::Mat &CellCounter::getImage(int index)
{
    switch (m_Mode) {
    case 0:
    case 3:
    case 4:
        if (index == 4)
            return m_Corrected;
        if (index == 6)
            return m_FlatField;
        if (index == 19 && m_Mode != 0)
            return m_ColorSource;
        break;
    case 1:
    case 2:
        switch (index) {
        case 1: return m_Channel1;
        case 2: return m_Channel2;
        case 3: return m_Channel3;
        case 5: return m_Corrected1;
        case 6: return m_FlatField;
        default: break;
        }
        break;
    default:
        break;
    }
    return m_Image;
}

} // namespace Quorvan
