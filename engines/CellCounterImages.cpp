// Frames into the counting engine and result pictures out. Copies, conversions and resizes write
// into the engine's existing buffers, so a count allocates no image memory here.
#include "CellCounter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace Quorvan {

namespace {

// Adds plane + brightness (saturated) to bytes firstByte..lastByte of every pixel of bgr,
// saturating at 255.
void addToBytes(const cv::Mat &plane, int brightness, cv::Mat &bgr, int firstByte, int lastByte)
{
    const int b = std::clamp(brightness, -255, 255);
    uchar lut[256];
    for (int v = 0; v < 256; ++v)
        lut[v] = cv::saturate_cast<uchar>(v + b);
    for (int y = 0; y < plane.rows; ++y) {
        const uchar *s = plane.ptr<uchar>(y);
        uchar *d = bgr.ptr<uchar>(y);
        for (int x = 0; x < plane.cols; ++x, d += 3) {
            const int add = lut[s[x]];
            for (int k = firstByte; k <= lastByte; ++k)
                d[k] = uchar(std::min(255, d[k] + add));
        }
    }
}

bool sameGrid(const cv::Mat &a, const cv::Mat &b)
{
    return !a.empty() && a.size() == b.size();
}

} // namespace

void CellCounter::setImageData(unsigned char *data, int index, bool flip)
{
    if (!data)
        return;
    try {
        if (m_Mode == 5) {
            if (m_GrayInput.empty() || !sameGrid(m_Image, m_GrayInput))
                return;
            std::memcpy(m_GrayInput.data, data, m_GrayInput.total());
            if (flip)
                cv::flip(m_GrayInput, m_GrayInput, 0);
            m_GrayInput.copyTo(m_Image);
            return;
        }
        if (m_ColorInput.empty())
            return;
        std::memcpy(m_ColorInput.data, data, m_ColorInput.total() * 3);
        if (flip)
            cv::flip(m_ColorInput, m_ColorInput, 0);

        const bool grey = m_Mode == 0 || m_Mode == 3 || m_Mode == 4, channels = m_Mode == 1 || m_Mode == 2;
        if (index == 19 && (m_Mode == 3 || m_Mode == 4)) {
            m_ColorInput.copyTo(m_ColorSource);
            return;
        }
        cv::Mat *target = nullptr;
        int plane = 1;
        if (grey && index == 0)
            target = &m_Image;
        else if (grey && index == 4)
            target = &m_Corrected;
        else if (m_Mode >= 0 && m_Mode <= 4 && index == 6)
            target = &m_FlatField;
        else if (channels && index >= 1 && index <= 3)
            target = index == 1 ? &m_Channel1 : index == 2 ? &m_Channel2 : &m_Channel3;
        else if (channels && index == 5)
            target = &m_Corrected1;
        if (index == 3)
            plane = 0;
        if (target && sameGrid(*target, m_ColorInput))
            cv::extractChannel(m_ColorInput, *target, plane);
    } catch (const std::exception &) {
    }
}

unsigned char *CellCounter::resultPicture(cv::Mat &picture, bool flip, int outputSize)
{
    cv::Mat *out = &picture;
    if (outputSize == 0 || outputSize == 1) {
        out = outputSize == 0 ? &m_Display640 : &m_Display1280;
        cv::resize(picture, *out, outputSize == 0 ? cv::Size(640, 480) : cv::Size(1280, 960), 0, 0, cv::INTER_LINEAR);
    }
    if (flip)
        cv::flip(*out, *out, 0);
    return out->data;
}

unsigned char *CellCounter::getImageData(int imageId, bool flip, int outputSize)
{
    try {
        if (m_Mode == 5) {
            if (m_Work7.empty())
                return nullptr;
            if (imageId == 0 || imageId == 7)
                cv::cvtColor(imageId == 0 ? m_Image : m_Mask, m_Work7, cv::COLOR_GRAY2BGR);
            else if (imageId == 11)
                m_TagImage.copyTo(m_Work7);
            if (flip)
                cv::flip(m_Work7, m_Work7, 0);
            return m_Work7.data;
        }
        if (m_ColorInput.empty())
            return nullptr;

        const cv::Mat *grey = nullptr;   // shown in grey
        const cv::Mat *colour = nullptr; // copied whole
        const cv::Mat *single = nullptr; // shown in one byte of black pixels
        int singleByte = 1;
        if (m_Mode == 0 || m_Mode == 3 || m_Mode == 4) {
            grey = imageId == 0 ? &m_Image : imageId == 4 ? &m_Corrected : imageId == 7 ? &m_Mask : nullptr;
            colour = imageId == 11 ? &m_TagImage : imageId == 19 && m_Mode != 0 ? &m_ColorSource : nullptr;
        } else if (m_Mode == 1 || m_Mode == 2) {
            switch (imageId) {
            case 1: grey = &m_Channel1; break;
            case 2: grey = &m_Channel2; break;
            case 3: grey = &m_Channel3; break;
            case 5: grey = &m_Corrected1; break;
            case 8: grey = &m_Mask1; break;
            case 9: grey = &m_Mask2; break;
            case 10: grey = &m_Mask3; break;
            case 12: grey = &m_OverlayMask; break;
            case 13: single = &m_Shifted2; break;
            case 14: single = &m_Shifted3; singleByte = 2; break;
            case 15: single = &m_Channel2; break;
            case 16: single = &m_Channel3; singleByte = 2; break;
            default: break;
            }
        }
        const cv::Mat *source = grey ? grey : colour ? colour : single;
        if (source && !sameGrid(*source, m_ColorInput))
            return nullptr;
        if (grey)
            cv::cvtColor(*grey, m_ColorInput, cv::COLOR_GRAY2BGR);
        else if (colour)
            colour->copyTo(m_ColorInput);
        else if (single) {
            m_ColorInput.setTo(cv::Scalar::all(0));
            cv::insertChannel(*single, m_ColorInput, singleByte);
        }
        return resultPicture(m_ColorInput, flip, outputSize);
    } catch (const std::exception &) {
        return nullptr;
    }
}

unsigned char *CellCounter::getTaggedImageAfterSizeGating(bool drawTags, int minSize, int maxSize, int outputSize,
                                                          bool showChannel1, bool showChannel2, bool showChannel3)
{
    try {
        if (m_TagImage.empty() || m_CircleThickness > 32767)
            return nullptr;
        const bool greyModes = m_Mode == 0 || m_Mode == 3;
        if (greyModes) {
            if (!sameGrid(m_Image, m_TagImage))
                return nullptr;
            cv::cvtColor(m_Image, m_TagImage, cv::COLOR_GRAY2BGR);
        } else if ((m_Mode == 1 || m_Mode == 2) && showChannel1 && !showChannel2 && !showChannel3) {
            if (!sameGrid(m_Channel1, m_ColorInput))
                return nullptr;
            cv::cvtColor(m_Channel1, m_ColorInput, cv::COLOR_GRAY2BGR);
        }
        if (drawTags && greyModes) {
            const float lo = float(minSize), hi = float(maxSize);
            for (const TObj &o : m_FoundCells) {
                // A circle that cannot be drawn (radius not a number, negative or absurd) is left out.
                if (!(o.fSize >= lo && o.fSize <= hi) || !(o.fRadius > -6.0f && o.fRadius < float(1 << 20)))
                    continue;
                const cv::Scalar colour = o.fGreen == 1.0f ? cv::Scalar(0, 255, 0) : cv::Scalar(0, 0, 255);
                cv::circle(m_TagImage, cv::Point(o.nX, o.nY), int(o.fRadius) + 5, colour, m_CircleThickness, cv::LINE_8);
            }
        }
        return resultPicture(m_TagImage, false, outputSize);
    } catch (const std::exception &) {
        return nullptr;
    }
}

unsigned char *CellCounter::getOverlayImageData(bool drawTags, int outputSize, bool showChannel1, bool showChannel2,
                                                bool showChannel3, bool flip, bool useShiftedChannel2,
                                                bool useShiftedChannel3, int brightness1, int brightness2,
                                                int brightness3)
{
    if (m_Mode != 1 && m_Mode != 2)
        return nullptr;
    const cv::Mat &second = useShiftedChannel2 ? m_Shifted2 : m_Channel2;
    const cv::Mat &third = useShiftedChannel3 ? m_Shifted3 : m_Channel3;
    for (const cv::Mat *m : std::initializer_list<const cv::Mat *>{&m_Channel1, &second, &third, &m_TagImage})
        if (!sameGrid(*m, m_ColorInput))
            return nullptr;
    try {
        m_ColorInput.setTo(cv::Scalar::all(0));
        if (showChannel1)
            addToBytes(m_Channel1, brightness1, m_ColorInput, 0, 2);
        if (showChannel2)
            addToBytes(second, brightness2, m_ColorInput, 1, 1);
        if (showChannel3)
            addToBytes(third, brightness3, m_ColorInput, 2, 2);
        if (drawTags)
            cv::bitwise_or(m_ColorInput, m_TagImage, m_ColorInput);
        if (flip)
            cv::flip(m_ColorInput, m_ColorInput, 0);
        return resultPicture(m_ColorInput, false, outputSize);
    } catch (const std::exception &) {
        return nullptr;
    }
}

} // namespace Quorvan
