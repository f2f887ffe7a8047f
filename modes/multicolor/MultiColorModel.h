#pragma once
#include "CSVReaderWriter.h"
#include "TSMeasurementItem.h"

#include <QObject>
#include <QString>
#include <array>
#include <memory>
#include <opencv2/core.hpp>
#include <vector>

// The Multicolor page's channel store: per channel index (= filter position 0..3) the frame in
// 8 or 16 bits as captured and as displayed (brightness and contrast applied), its RGB rendering
// in the channel colour, the merged overlay, the annotated picture and the measurement table.
// Every buffer is allocated, zeroed, once at construction: a capture allocates only when an
// auto-save still holds the channel's previous capture. GUI thread only; an auto-save holds a
// captured image (capturedImage) on a pool thread.
class MultiColorModel : public QObject
{
    Q_OBJECT
public:
    static constexpr int kChannels = 4;
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;
    static constexpr int kPixels = kWidth * kHeight;

    explicit MultiColorModel(QObject *parent = nullptr);
    ~MultiColorModel() override;

    // Stores a frame (8 bits, or 16-bit camera words: MSB first, 12 bits shifted left by 4) as
    // channel; bits 0 means the channel's held depth, a null frame re-renders the held image
    // in colorIndex. Returns 1, or 0 when refused (another channel holds another depth, no
    // depth, channel outside 0..3); a refused frame changes nothing.
    int setImageData(int channel, const uchar *data, int colorIndex, int bits);
    // Displayed buffers: 8 grey, 16 grey (12-bit values in native words), 24 RGB8, 48 RGB16.
    // Null for another depth or a channel outside 0..3.
    uchar *imageData(int channel, int bits);
    // The displayed image in the camera word layout, converted now: 8 the grey buffer as it is,
    // 16 grey words, 48 RGB words; values above 4095 are saturated first.
    uchar *imageShiftedData(int channel, int bits);
    // The captured image as the auto-save writes it (8 grey, 16 grey, 24 RGB8, 48 RGB16; 16-bit
    // samples as native words 0..4095), shared, not copied: while it is held, the next capture of
    // the channel goes into new memory. Null for another depth or a channel outside 0..3.
    std::shared_ptr<const uchar> capturedImage(int channel, int bits) const;
    // The overlay of 8 or 16 bits (RGB), null for another depth.
    uchar *overlayImageData(int bits);
    // The 16-bit overlay in the camera word layout (saturated at 4095), null for another depth.
    uchar *overlayImageShiftedData(int bits);

    // The displayed images back to the captured copies; adjustments forgotten.
    void reset(int channel);
    // Every channel empty; buffers keep their contents until the next capture.
    void clear();

    int numberOfCapturedImage() const;
    bool isImageCaptured(int channel) const;
    bool isSelectedImage(int channel) const;
    void setSelectedImage(int channel, bool selected);
    // Depth of the held frame: 0 none, 8 or 16.
    int bits(int channel) const;
    void setOverlayMode(bool on) { m_bOverlayMode = on; }
    bool overlayMode() const { return m_bOverlayMode; }

    void setAnnotatedImageData(const uchar *data);
    uchar *annotatedImageData();

    // Renders a single-sample image of the channel (its depth, read in place) into its RGB
    // buffer in its colour; channel 0 is grey.
    void makePseudoColorImage(int channel, const uchar *image);
    // Brightness offset / contrast (value / 10) of a channel, computed afresh from the captured
    // image or, unless fromCaptured, from the other adjustment's result.
    void setBrightness(int channel, int value, bool fromCaptured);
    bool brightnessApplied(int channel) const { return validChannel(channel) && m_Channel[channel].brightnessApplied; }
    bool contrastApplied(int channel) const { return validChannel(channel) && m_Channel[channel].contrastApplied; }
    void setContrast(int channel, int value, bool fromCaptured);
    // 16-bit kernels: dst = src + offset, dst = lrint(mean + (src - mean) x factor), saturated
    // to 0..65535.
    static void brightness16(const cv::Mat &src, int offset, cv::Mat &dst);
    static void contrast16(const cv::Mat &src, float factor, float mean, cv::Mat &dst);
    // Merges the included (captured and selected) channels of that depth: channel 0 grey
    // background, channels 1..3 in their colours, weights by how many take part.
    void makeOverlayImage(int bits);

    // Measurement table: unit conversions (length 0 um, 1 mm, 2 pixel; area likewise squared).
    // Without an objective (pixel size 0 or less) micrometres and millimetres are unknown: NaN.
    static float length(float pixels, int unit, float pixelSize);
    static float area(float pixels, int unit, float pixelSize);
    // One 19-column row from the records of CH1..CH4 (items), replaced at row or appended;
    // the record of CH index ch decides tool, length, area and angle.
    void setOverlayMeasurementResult(int row, const TSMeasurementItem items[4], int lengthUnit, int areaUnit,
                                     unsigned ch);
    void setMeasurementResult(const TSMeasurementItem &item, int lengthUnit, int areaUnit);
    void clearMeasurementResult();
    CSVReaderWriter &csvReaderWriter() { return m_CSVReaderWriter; }
    const QString &toolName(int tool) const;

private:
    // A captured image that auto-saves may share: never written while shared.
    struct SharedImage
    {
        std::shared_ptr<uchar> memory;
        cv::Mat mat;
    };

    struct Channel
    {
        bool captured = false;
        bool selected = false;
        bool brightnessApplied = false;
        bool contrastApplied = false;
        int colorIndex = 0;
        int bits = 0;
        cv::Mat image8, imageRGB8, image16, imageRGB16; // displayed
        cv::Mat shifted16, shiftedRGB16;                 // camera layout, made on request
        SharedImage captured8, capturedRGB8, captured16, capturedRGB16;
        cv::Mat brightness8, contrast8, brightness16, contrast16; // adjustment results
    };

    static bool validChannel(int channel) { return channel >= 0 && channel < kChannels; }
    // A zeroed matrix of the frame size on memory the model owns.
    cv::Mat allocate(int type, int rows = kHeight);
    static SharedImage allocateShared(int type);
    // The image's matrix to overwrite: new memory when an auto-save holds the current one.
    static cv::Mat &writable(SharedImage &image);
    // The RGB rendering of channel from its single-sample image.
    void render(int channel, const cv::Mat &grey, cv::Mat &rgb) const;
    void mergeOverlay(int depth, cv::Mat &out);

    std::vector<std::unique_ptr<uchar, void (*)(void *)>> m_Memory;
    std::array<Channel, kChannels> m_Channel;
    cv::Mat m_Zero8, m_Zero16; // never written
    std::array<cv::Mat, 3> m_OverlayWork8, m_OverlayWork16;
    cv::Mat m_OverlayImage8, m_OverlayImage16, m_ShiftedOverlayImage16;
    cv::Mat m_AnnotatedImage;
    bool m_bOverlayMode = false;
    CSVReaderWriter m_CSVReaderWriter;
    std::array<QString, 8> m_ToolName;
};
