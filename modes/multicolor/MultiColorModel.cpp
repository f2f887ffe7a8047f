#include "MultiColorModel.h"

#include "ChannelColor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <opencv2/imgproc.hpp>

namespace {

constexpr uint16_t kMax12 = 4095;

// calloc: zeroed pages that the system commits only when first written.
uchar *zeroedMemory(size_t bytes)
{
    auto *memory = static_cast<uchar *>(std::calloc(bytes, 1));
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

// Camera word (two bytes, most significant first, value << 4) to its 12-bit value: the bytes
// read as a little-endian word, rotated left by 4. A word beyond 12 bits (no camera sends one)
// is saturated at 4095, so a capture holds the values its files hold.
void decodeCameraWords(const uchar *bytes, uint16_t *out, size_t pixels)
{
    for (size_t i = 0; i < pixels; ++i) {
        const uint16_t w = uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        out[i] = std::min(uint16_t((w << 4) | (w >> 12)), kMax12);
    }
}

// Values back to the camera layout (rotated right by 4, little-endian words). A value above
// 4095 would not survive the rotation, so it is saturated first.
void encodeCameraWords(const uint16_t *in, uint16_t *out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = std::min(in[i], kMax12);
        out[i] = uint16_t((v >> 4) | (v << 12));
    }
}

// out = (a + b) / 2 rounded half to even, as addWeighted with the weights 0.5 and 0.5 gives
// it, in integers so that it vectorises.
template <typename T>
void halfSum(const cv::Mat &a, const cv::Mat &b, cv::Mat &out)
{
    const T *pa = a.ptr<T>(), *pb = b.ptr<T>();
    T *po = out.ptr<T>();
    for (size_t i = 0, n = a.total(); i < n; ++i) {
        const uint32_t sum = uint32_t(pa[i]) + pb[i];
        po[i] = T((sum + ((sum >> 1) & 1u)) >> 1);
    }
}

} // namespace

MultiColorModel::MultiColorModel(QObject *parent)
    : QObject(parent)
{
    for (Channel &c : m_Channel) {
        c.image8 = allocate(CV_8UC1);
        c.imageRGB8 = allocate(CV_8UC3);
        c.image16 = allocate(CV_16UC1);
        c.imageRGB16 = allocate(CV_16UC3);
        c.shifted16 = allocate(CV_16UC1);
        c.shiftedRGB16 = allocate(CV_16UC3);
        c.captured8 = allocateShared(CV_8UC1);
        c.capturedRGB8 = allocateShared(CV_8UC3);
        c.captured16 = allocateShared(CV_16UC1);
        c.capturedRGB16 = allocateShared(CV_16UC3);
        c.brightness8 = allocate(CV_8UC1);
        c.contrast8 = allocate(CV_8UC1);
        c.brightness16 = allocate(CV_16UC1);
        c.contrast16 = allocate(CV_16UC1);
    }
    m_Zero8 = allocate(CV_8UC1);
    m_Zero16 = allocate(CV_16UC1);
    for (size_t comp = 0; comp < 3; ++comp) {
        m_OverlayWork8[comp] = allocate(CV_8UC1);
        m_OverlayWork16[comp] = allocate(CV_16UC1);
    }
    m_OverlayImage8 = allocate(CV_8UC3);
    m_OverlayImage16 = allocate(CV_16UC3);
    m_ShiftedOverlayImage16 = allocate(CV_16UC3);
    m_AnnotatedImage = allocate(CV_8UC3);
    const char *names[] = {"None", "Line", "Angle", "Polygon", "Ellipse", "Rectangle", "Segment Line", "Freehand"};
    for (size_t i = 0; i < m_ToolName.size(); ++i)
        m_ToolName[i] = names[i];
}

MultiColorModel::~MultiColorModel() = default;

cv::Mat MultiColorModel::allocate(int type, int rows)
{
    uchar *memory = zeroedMemory(size_t(rows) * kWidth * CV_ELEM_SIZE(type));
    m_Memory.emplace_back(memory, &std::free);
    return cv::Mat(rows, kWidth, type, memory);
}

MultiColorModel::SharedImage MultiColorModel::allocateShared(int type)
{
    uchar *memory = zeroedMemory(size_t(kPixels) * CV_ELEM_SIZE(type));
    return {std::shared_ptr<uchar>(memory, &std::free), cv::Mat(kHeight, kWidth, type, memory)};
}

cv::Mat &MultiColorModel::writable(SharedImage &image)
{
    if (image.memory.use_count() > 1)
        image = allocateShared(image.mat.type()); // the holders keep the old memory
    else // the last holder's reads happen before its release
        std::atomic_thread_fence(std::memory_order_acquire);
    return image.mat;
}

int MultiColorModel::setImageData(int channel, const uchar *data, int colorIndex, int bits)
{
    if (!validChannel(channel))
        return 0;
    Channel &c = m_Channel[channel];
    if (bits == 0)
        bits = c.bits;
    if (bits != 8 && bits != 16)
        return 0;
    for (int other = 0; other < kChannels; ++other)
        if (other != channel && m_Channel[other].bits != 0 && m_Channel[other].bits != bits)
            return 0;

    c.bits = bits;
    c.captured = c.selected = true;
    c.colorIndex = colorIndex;
    if (bits == 8) {
        if (data) {
            std::memcpy(c.image8.data, data, kPixels);
            std::memcpy(writable(c.captured8).data, data, kPixels);
        }
        render(channel, c.image8, c.imageRGB8);
        std::memcpy(writable(c.capturedRGB8).data, c.imageRGB8.data, c.imageRGB8.total() * c.imageRGB8.elemSize());
    } else {
        if (data) {
            decodeCameraWords(data, c.image16.ptr<uint16_t>(), kPixels);
            std::memcpy(writable(c.captured16).data, c.image16.data, size_t(kPixels) * 2);
        }
        render(channel, c.image16, c.imageRGB16);
        std::memcpy(writable(c.capturedRGB16).data, c.imageRGB16.data, c.imageRGB16.total() * c.imageRGB16.elemSize());
    }
    return 1;
}

void MultiColorModel::render(int channel, const cv::Mat &grey, cv::Mat &rgb) const
{
    const ChannelColor color = channel == 0 ? ChannelColor::grey() : ChannelColor::ofIndex(m_Channel[channel].colorIndex);
    const cv::Mat &zero = grey.depth() == CV_16U ? m_Zero16 : m_Zero8;
    const auto planes = color.planes(grey, zero);
    cv::merge(planes.data(), planes.size(), rgb); // rgb keeps its buffer: same size and type
}

uchar *MultiColorModel::imageData(int channel, int bits)
{
    if (!validChannel(channel))
        return nullptr;
    Channel &c = m_Channel[channel];
    switch (bits) {
    case 8: return c.image8.data;
    case 16: return c.image16.data;
    case 24: return c.imageRGB8.data;
    case 48: return c.imageRGB16.data;
    default: return nullptr;
    }
}

uchar *MultiColorModel::imageShiftedData(int channel, int bits)
{
    if (!validChannel(channel))
        return nullptr;
    Channel &c = m_Channel[channel];
    switch (bits) {
    case 8: return c.image8.data;
    case 16:
        encodeCameraWords(c.image16.ptr<uint16_t>(), c.shifted16.ptr<uint16_t>(), kPixels);
        return c.shifted16.data;
    case 48:
        encodeCameraWords(c.imageRGB16.ptr<uint16_t>(), c.shiftedRGB16.ptr<uint16_t>(), size_t(kPixels) * 3);
        return c.shiftedRGB16.data;
    default: return nullptr;
    }
}

std::shared_ptr<const uchar> MultiColorModel::capturedImage(int channel, int bits) const
{
    if (!validChannel(channel))
        return nullptr;
    const Channel &c = m_Channel[channel];
    switch (bits) {
    case 8: return c.captured8.memory;
    case 16: return c.captured16.memory;
    case 24: return c.capturedRGB8.memory;
    case 48: return c.capturedRGB16.memory;
    default: return nullptr;
    }
}

uchar *MultiColorModel::overlayImageData(int bits)
{
    return bits == 8 ? m_OverlayImage8.data : bits == 16 ? m_OverlayImage16.data : nullptr;
}

uchar *MultiColorModel::overlayImageShiftedData(int bits)
{
    if (bits != 16)
        return nullptr;
    encodeCameraWords(m_OverlayImage16.ptr<uint16_t>(), m_ShiftedOverlayImage16.ptr<uint16_t>(), size_t(kPixels) * 3);
    return m_ShiftedOverlayImage16.data;
}

void MultiColorModel::reset(int channel)
{
    if (!validChannel(channel))
        return;
    Channel &c = m_Channel[channel];
    c.brightnessApplied = c.contrastApplied = false;
    if (c.bits == 8) {
        c.captured8.mat.copyTo(c.image8);
        c.capturedRGB8.mat.copyTo(c.imageRGB8);
    } else if (c.bits == 16) {
        c.captured16.mat.copyTo(c.image16);
        c.capturedRGB16.mat.copyTo(c.imageRGB16);
    }
}

void MultiColorModel::clear()
{
    for (Channel &c : m_Channel) {
        c.captured = c.selected = c.brightnessApplied = c.contrastApplied = false;
        c.bits = 0;
    }
}

int MultiColorModel::numberOfCapturedImage() const
{
    return int(std::count_if(m_Channel.begin(), m_Channel.end(), [](const Channel &c) { return c.captured; }));
}

bool MultiColorModel::isImageCaptured(int channel) const
{
    return validChannel(channel) && m_Channel[channel].captured;
}

bool MultiColorModel::isSelectedImage(int channel) const
{
    return validChannel(channel) && m_Channel[channel].selected;
}

void MultiColorModel::setSelectedImage(int channel, bool selected)
{
    if (validChannel(channel))
        m_Channel[channel].selected = selected;
}

int MultiColorModel::bits(int channel) const
{
    return validChannel(channel) ? m_Channel[channel].bits : 0;
}

void MultiColorModel::setAnnotatedImageData(const uchar *data)
{
    if (data)
        std::memcpy(m_AnnotatedImage.data, data, size_t(kPixels) * 3);
}

uchar *MultiColorModel::annotatedImageData()
{
    return m_AnnotatedImage.data;
}

void MultiColorModel::makePseudoColorImage(int channel, const uchar *image)
{
    if (!validChannel(channel) || !image)
        return;
    Channel &c = m_Channel[channel];
    if (c.bits == 8)
        render(channel, cv::Mat(kHeight, kWidth, CV_8UC1, const_cast<uchar *>(image)), c.imageRGB8);
    else if (c.bits == 16)
        render(channel, cv::Mat(kHeight, kWidth, CV_16UC1, const_cast<uchar *>(image)), c.imageRGB16);
}

void MultiColorModel::setBrightness(int channel, int value, bool fromCaptured)
{
    if (!validChannel(channel))
        return;
    Channel &c = m_Channel[channel];
    c.brightnessApplied = true;
    const bool chained = c.contrastApplied && !fromCaptured;
    if (c.bits == 8) {
        cv::add(chained ? c.contrast8 : c.captured8.mat, cv::Scalar(double(value)), c.brightness8);
        c.brightness8.copyTo(c.image8);
        makePseudoColorImage(channel, c.brightness8.data);
    } else if (c.bits == 16) {
        brightness16(chained ? c.contrast16 : c.captured16.mat, value, c.brightness16);
        c.brightness16.copyTo(c.image16);
        makePseudoColorImage(channel, c.brightness16.data);
    }
}

void MultiColorModel::setContrast(int channel, int value, bool fromCaptured)
{
    if (!validChannel(channel))
        return;
    Channel &c = m_Channel[channel];
    c.contrastApplied = true;
    const float alpha = float(value) / 10.0f;
    const bool chained = c.brightnessApplied && !fromCaptured;
    if (c.bits == 8) {
        const cv::Mat &src = chained ? c.brightness8 : c.captured8.mat;
        const float mean = float(cv::mean(src)[0]);
        // One saturating conversion: src x alpha + (mean - mean x alpha).
        c.contrast8 = (src - cv::Scalar(double(mean))) * double(alpha) + cv::Scalar(double(mean));
        c.contrast8.copyTo(c.image8);
        makePseudoColorImage(channel, c.contrast8.data);
    } else if (c.bits == 16) {
        const cv::Mat &src = chained ? c.brightness16 : c.captured16.mat;
        contrast16(src, alpha, float(cv::mean(src)[0]), c.contrast16);
        c.contrast16.copyTo(c.image16);
        makePseudoColorImage(channel, c.contrast16.data);
    }
}

void MultiColorModel::brightness16(const cv::Mat &src, int offset, cv::Mat &dst)
{
    for (int y = 0; y < src.rows; ++y) {
        const uint16_t *s = src.ptr<uint16_t>(y);
        uint16_t *d = dst.ptr<uint16_t>(y);
        for (int x = 0; x < src.cols; ++x)
            d[x] = uint16_t(std::clamp(int(s[x]) + offset, 0, 65535));
    }
}

void MultiColorModel::contrast16(const cv::Mat &src, float factor, float mean, cv::Mat &dst)
{
    // The result depends on the source value alone: one table of the 65536 words, then a
    // look-up per pixel.
    std::vector<uint16_t> table(65536);
    for (int v = 0; v < 65536; ++v) {
        const float product = (float(v) - mean) * factor;
        table[size_t(v)] = uint16_t(std::clamp(std::lrint(mean + product), 0L, 65535L));
    }
    for (int y = 0; y < src.rows; ++y) {
        const uint16_t *s = src.ptr<uint16_t>(y);
        uint16_t *d = dst.ptr<uint16_t>(y);
        for (int x = 0; x < src.cols; ++x)
            d[x] = table[s[x]];
    }
}

void MultiColorModel::makeOverlayImage(int bits)
{
    if (bits == 8)
        mergeOverlay(CV_8U, m_OverlayImage8);
    else if (bits == 16)
        mergeOverlay(CV_16U, m_OverlayImage16);
}

void MultiColorModel::mergeOverlay(int depth, cv::Mat &out)
{
    const bool wide = depth == CV_16U;
    const auto planeOf = [this, wide](int channel) -> const cv::Mat & {
        return wide ? m_Channel[channel].image16 : m_Channel[channel].image8;
    };
    const auto included = [this](int channel) { return m_Channel[channel].captured && m_Channel[channel].selected; };
    const cv::Mat &zero = wide ? m_Zero16 : m_Zero8;

    // The sources of each output component, and the count that chooses the weights: 1 for the
    // grey background, 2 for every colour channel (also one without a composition, which
    // paints nothing).
    int k = included(0) ? 1 : 0;
    std::array<std::vector<const cv::Mat *>, 3> sources; // R, G, B
    for (int channel : {1, 3, 2}) {
        if (!included(channel))
            continue;
        k += 2;
        const ChannelColor color = ChannelColor::ofIndex(m_Channel[channel].colorIndex);
        if (!color.composed)
            continue;
        const auto planes = color.planes<const cv::Mat *>(&planeOf(channel), nullptr);
        for (size_t comp = 0; comp < 3; ++comp)
            if (planes[comp])
                sources[comp].push_back(planes[comp]);
    }

    // Per component the saturated sum of its colour channels, then the weights: background
    // alone (k 1), colours alone (even k), or half of each (odd k above 1), rounded as
    // addWeighted rounds. A single source is used in place.
    std::array<cv::Mat, 3> planes;
    for (size_t comp = 0; comp < 3; ++comp) {
        cv::Mat &work = wide ? m_OverlayWork16[comp] : m_OverlayWork8[comp];
        const std::vector<const cv::Mat *> &src = sources[comp];
        cv::Mat sum = zero;
        if (src.size() == 1) {
            sum = *src[0];
        } else if (src.size() > 1) {
            cv::add(*src[0], *src[1], work);
            for (size_t i = 2; i < src.size(); ++i)
                cv::add(work, *src[i], work);
            sum = work;
        }
        if (k == 0) {
            planes[comp] = zero;
        } else if (k == 1) {
            planes[comp] = planeOf(0);
        } else if (k % 2 == 0) {
            planes[comp] = sum;
        } else {
            if (wide)
                halfSum<uint16_t>(planeOf(0), sum, work);
            else
                halfSum<uint8_t>(planeOf(0), sum, work);
            planes[comp] = work;
        }
    }
    cv::merge(planes.data(), planes.size(), out);
}

float MultiColorModel::length(float pixels, int unit, float pixelSize)
{
    if ((unit == 0 || unit == 1) && !(pixelSize > 0))
        return std::nanf("");
    switch (unit) {
    case 0: return pixels * pixelSize;
    case 1: return pixels * pixelSize / 1000.0f;
    case 2: return pixels;
    default: return 0.0f;
    }
}

float MultiColorModel::area(float pixels, int unit, float pixelSize)
{
    if ((unit == 0 || unit == 1) && !(pixelSize > 0))
        return std::nanf("");
    switch (unit) {
    case 0: return pixels * pixelSize * pixelSize;
    case 1: return pixels * pixelSize * pixelSize / 1000000.0f;
    case 2: return pixels;
    default: return 0.0f;
    }
}

const QString &MultiColorModel::toolName(int tool) const
{
    static const QString none;
    return tool >= 0 && tool < int(m_ToolName.size()) ? m_ToolName[size_t(tool)] : none;
}

void MultiColorModel::setOverlayMeasurementResult(int row, const TSMeasurementItem items[4], int lengthUnit,
                                                  int areaUnit, unsigned ch)
{
    if (ch >= 4 || items[ch].tool < 0 || items[ch].tool >= 8)
        return;
    int minimum[4], maximum[4];
    float mean[4], deviation[4];
    for (int i = 0; i < 4; ++i) {
        minimum[i] = int(items[i].minIntensity);
        maximum[i] = int(items[i].maxIntensity);
        mean[i] = items[i].meanIntensity;
        deviation[i] = items[i].stdIntensity;
    }
    const TSMeasurementItem &item = items[ch];
    m_CSVReaderWriter.fillDataFieldNew(row, toolName(item.tool).toUtf8(), item.length, lengthUnit, item.area,
                                       areaUnit, minimum, maximum, mean, deviation, item.angle);
}

void MultiColorModel::setMeasurementResult(const TSMeasurementItem &item, int lengthUnit, int areaUnit)
{
    m_CSVReaderWriter.fillDataField(toolName(item.tool).toUtf8(), item.length, lengthUnit, item.area, areaUnit,
                                    int(item.minIntensity), int(item.maxIntensity), item.meanIntensity,
                                    item.stdIntensity, item.angle);
}

void MultiColorModel::clearMeasurementResult()
{
    m_CSVReaderWriter.erase();
}
