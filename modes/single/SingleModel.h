#pragma once
#include "CSVReaderWriter.h"
#include "TSMeasurementItem.h"

#include <QObject>
#include <QString>
#include <array>
#include <opencv2/core.hpp>

// The Single page's data: one captured 1280 x 1024 frame in its depth (8 bits, or 16-bit words
// exactly as the camera delivered them), its RGB display copy (grey or in a channel colour), the
// annotated picture kept for saving and the measurement table for CSV export. Every buffer is
// allocated, zeroed, once at construction; the pointers handed out live as long as the model.
// GUI thread only.
class SingleModel : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;
    static constexpr int kPixels = kWidth * kHeight;

    explicit SingleModel(QObject *parent = nullptr);
    ~SingleModel() override;

    // Stores a frame of bits 8 or 16 and makes its display copy: grey when pseudoColor is 0 or
    // the colour index has no composition (5 black, 6 white, 7 gray, out of range), else the frame
    // in the colour's components. Another depth or a null frame changes nothing.
    void setImageData(int pseudoColor, const uchar *data, int colorIndex, int bits);
    // 8 and 16 the frame, 24 and 48 the RGB display copy of that depth; null for any other value.
    uchar *imageData(int bits);

    // Copies one RGB888 frame (the page's image with its drawings).
    void setAnnotatedImageData(const uchar *data);
    uchar *annotatedImageData();

    // One seven-column row; length and area come already converted to the units given.
    void setMeasurementResult(const TSMeasurementItem &item, int lengthUnit, int areaUnit);
    CSVReaderWriter &csvReaderWriter() { return m_CSVReaderWriter; }
    // Back to the header row alone.
    void clearMeasurementResult();
    // "None", "Line", ..., "Freehand" for tools 0..7; empty for any other.
    const QString &toolName(int tool) const;

    // Unit conversions of a measured figure (pixels, or a pixel count): unit 0 micrometres (or
    // square micrometres), 1 millimetres (square millimetres), 2 pixels; 0 for any other unit.
    // pixelSize is in micrometres per pixel.
    static float length(float value, int unit, float pixelSize);
    static float area(float value, int unit, float pixelSize);

private:
    cv::Mat m_Image8, m_Image16, m_ImageRGB8, m_ImageRGB16, m_AnnotatedImage;
    cv::Mat m_Zero8, m_Zero16; // never written
    CSVReaderWriter m_CSVReaderWriter;
    std::array<QString, 8> m_ToolName;
};
