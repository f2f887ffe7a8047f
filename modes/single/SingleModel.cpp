#include "SingleModel.h"

#include "ChannelColor.h"
#include "MultiColorModel.h"

#include <QDebug>
#include <cstring>
#include <opencv2/imgproc.hpp>

SingleModel::SingleModel(QObject *parent)
    : QObject(parent)
    , m_Image8(cv::Mat::zeros(kHeight, kWidth, CV_8UC1))
    , m_Image16(cv::Mat::zeros(kHeight, kWidth, CV_16UC1))
    , m_ImageRGB8(cv::Mat::zeros(kHeight, kWidth, CV_8UC3))
    , m_ImageRGB16(cv::Mat::zeros(kHeight, kWidth, CV_16UC3))
    , m_AnnotatedImage(cv::Mat::zeros(kHeight, kWidth, CV_8UC3))
    , m_Zero8(cv::Mat::zeros(kHeight, kWidth, CV_8UC1))
    , m_Zero16(cv::Mat::zeros(kHeight, kWidth, CV_16UC1))
    , m_ToolName{"None", "Line", "Angle", "Polygon", "Ellipse", "Rectangle", "Segment Line", "Freehand"}
{
}

SingleModel::~SingleModel() = default;

void SingleModel::setImageData(int pseudoColor, const uchar *data, int colorIndex, int bits)
{
    if (!data || (bits != 8 && bits != 16))
        return;
    cv::Mat &image = bits == 8 ? m_Image8 : m_Image16;
    cv::Mat &rgb = bits == 8 ? m_ImageRGB8 : m_ImageRGB16;
    std::memcpy(image.data, data, image.total() * image.elemSize());
    const ChannelColor colour = pseudoColor ? ChannelColor::ofIndex(colorIndex) : ChannelColor::grey();
    try {
        // Merged in R, G, B order straight into the display copy (no BGR pass); rgb keeps its memory.
        const std::array<cv::Mat, 3> planes = colour.planes(image, bits == 8 ? m_Zero8 : m_Zero16);
        cv::merge(planes.data(), planes.size(), rgb);
    } catch (const cv::Exception &e) {
        qWarning() << "SingleModel::setImageData failed:" << e.what();
    }
}

uchar *SingleModel::imageData(int bits)
{
    switch (bits) {
    case 8: return m_Image8.data;
    case 16: return m_Image16.data;
    case 24: return m_ImageRGB8.data;
    case 48: return m_ImageRGB16.data;
    default: return nullptr;
    }
}

void SingleModel::setAnnotatedImageData(const uchar *data)
{
    if (data && data != m_AnnotatedImage.data)
        std::memcpy(m_AnnotatedImage.data, data, m_AnnotatedImage.total() * m_AnnotatedImage.elemSize());
}

uchar *SingleModel::annotatedImageData()
{
    return m_AnnotatedImage.data;
}

const QString &SingleModel::toolName(int tool) const
{
    static const QString none;
    return tool >= 0 && tool < int(m_ToolName.size()) ? m_ToolName[size_t(tool)] : none;
}

void SingleModel::setMeasurementResult(const TSMeasurementItem &item, int lengthUnit, int areaUnit)
{
    m_CSVReaderWriter.fillDataField(toolName(item.tool).toUtf8(), item.length, lengthUnit, item.area, areaUnit,
                                    int(item.minIntensity), int(item.maxIntensity), item.meanIntensity,
                                    item.stdIntensity, item.angle);
}

void SingleModel::clearMeasurementResult()
{
    m_CSVReaderWriter.erase();
}

// One conversion for both measuring pages.
float SingleModel::length(float value, int unit, float pixelSize)
{
    return MultiColorModel::length(value, unit, pixelSize);
}

float SingleModel::area(float value, int unit, float pixelSize)
{
    return MultiColorModel::area(value, unit, pixelSize);
}
