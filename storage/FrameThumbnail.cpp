#include "FrameThumbnail.h"

#include <QImage>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// One input sample's share of one output sample along an axis.
struct AreaTap
{
    int from, to;
    float weight;
};

// The shares of an axis of `in` samples averaged down to `out`: an output covers in/out inputs,
// partly covered ones by their covered part (slivers under 1/1000 left out, as INTER_AREA does).
std::vector<AreaTap> areaTaps(int in, int out)
{
    std::vector<AreaTap> taps;
    const double scale = double(in) / out;
    for (int d = 0; d < out; ++d) {
        const double begin = d * scale, end = std::min(begin + scale, double(in));
        for (int s = int(begin); s < end; ++s) {
            const double covered = std::min(double(s + 1), end) - std::max(double(s), begin);
            if (covered > 1e-3)
                taps.push_back({s, d, float(covered / (end - begin))});
        }
    }
    return taps;
}

// Bytes of a frame halved at a time.
constexpr int kBandBytes = 64 * 1024;

} // namespace

int FrameThumbnail::halvings(QSize frame, QSize size)
{
    int count = 0;
    while (frame.width() >= 2 * size.width() && frame.height() >= 2 * size.height() && frame.width() % 2 == 0
           && frame.height() % 2 == 0 && !size.isEmpty()) {
        frame /= 2;
        ++count;
    }
    return count;
}

cv::Mat FrameThumbnail::halved(const cv::Mat &frame, QSize size)
{
    cv::Mat coarse = frame;
    for (int i = halvings(QSize(frame.cols, frame.rows), size); i > 0; --i) {
        cv::Mat half;
        cv::resize(coarse, half, cv::Size(coarse.cols / 2, coarse.rows / 2), 0, 0, cv::INTER_AREA);
        coarse = half;
    }
    return coarse;
}

void FrameThumbnail::halveBand(const cv::Mat &band, int halvings, cv::Mat &target, std::vector<cv::Mat> &steps)
{
    steps.resize(size_t(std::max(halvings - 1, 0)));
    cv::Mat in = band;
    for (int i = 0; i < halvings; ++i) {
        cv::Mat &half = i + 1 == halvings ? target : steps[size_t(i)];
        cv::resize(in, half, cv::Size(in.cols / 2, in.rows / 2), 0, 0, cv::INTER_AREA);
        in = half;
    }
    if (halvings == 0)
        in.copyTo(target);
}

cv::Mat FrameThumbnail::areaScaled(const cv::Mat &frame, QSize size)
{
    CV_Assert(frame.depth() == CV_16U && !size.isEmpty());
    if (size.width() > frame.cols || size.height() > frame.rows) {
        cv::Mat scaled; // enlarged on an axis: OpenCV interpolates
        cv::resize(frame, scaled, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_AREA);
        return scaled;
    }
    const int cn = frame.channels();
    const std::vector<AreaTap> across = areaTaps(frame.cols, size.width());
    const std::vector<AreaTap> down = areaTaps(frame.rows, size.height());
    // Rows first, into floats; then the rows of each output row added with their shares. The
    // row pass runs on the transposed samples, so that both passes add whole rows of floats:
    // each output sample still gets its shares added in their order, starting from zero.
    cv::Mat values, columns;
    frame.reshape(1).convertTo(values, CV_32F);
    cv::transpose(values, columns);
    cv::Mat acrossColumns(size.width() * cn, frame.rows, CV_32F, cv::Scalar(0));
    for (const AreaTap &tap : across)
        for (int c = 0; c < cn; ++c) {
            const float *in = columns.ptr<float>(tap.from * cn + c);
            float *out = acrossColumns.ptr<float>(tap.to * cn + c);
            for (int i = 0; i < frame.rows; ++i)
                out[i] += tap.weight * in[i];
        }
    cv::Mat rows;
    cv::transpose(acrossColumns, rows);
    cv::Mat sums(size.height(), size.width() * cn, CV_32F, cv::Scalar(0));
    for (const AreaTap &tap : down) {
        const float *in = rows.ptr<float>(tap.from);
        float *out = sums.ptr<float>(tap.to);
        for (int i = 0; i < sums.cols; ++i)
            out[i] += tap.weight * in[i];
    }
    cv::Mat scaled;
    sums.reshape(cn).convertTo(scaled, frame.type()); // rounded to nearest, saturated
    return scaled;
}

FrameThumbnail::FrameThumbnail(int width, int height, int pixelBytes, QSize size)
    : m_nWidth(width), m_nHeight(height), m_nPixelBytes(pixelBytes), m_Size(size)
{
    if (width <= 0 || height <= 0 || size.isEmpty() || (pixelBytes != 1 && pixelBytes != 2)) {
        m_nRowsDone = -1;
        return;
    }
    m_bHalve = halvings(QSize(width, height), size) > 0;
    m_Half.create(m_bHalve ? height / 2 : height, m_bHalve ? width / 2 : width, CV_8UC1);
}

bool FrameThumbnail::addBand(int row, int rows, const uchar *samples, int bytesPerLine)
{
    if (m_nRowsDone < 0 || row != m_nRowsDone || rows <= 0 || row + rows > m_nHeight || !samples
        || (row + rows < m_nHeight && rows % rowUnit() != 0)) {
        m_nRowsDone = -1;
        return false;
    }
    const int unit = rowUnit();
    cv::Mat target = m_Half.rowRange(row / unit, (row + rows) / unit);
    if (m_nPixelBytes == 2) {
        // The first byte of each word, averaged over 2 x 2 as OpenCV halves, (sum + 2) / 4, or
        // taken as it is: one pass over the words, no plane of bytes in between. Two words are
        // read as one 32-bit value (bytes 0 and 2 are their samples) so that the loop vectorises.
        const int cols = target.cols; // a local bound: the byte stores may not change it
        for (int y = 0; y < target.rows; ++y) {
            const uchar *a = samples + qint64(y) * unit * bytesPerLine;
            const uchar *b = a + (unit - 1) * bytesPerLine;
            uchar *out = target.ptr(y);
            if (unit == 1) {
                for (int x = 0; x < cols; ++x)
                    out[x] = a[2 * x];
                continue;
            }
            for (int x = 0; x < cols; ++x) {
                quint32 p, q;
                std::memcpy(&p, a + 4 * x, 4);
                std::memcpy(&q, b + 4 * x, 4);
                const quint32 sum = (p & 0xFF) + ((p >> 16) & 0xFF) + (q & 0xFF) + ((q >> 16) & 0xFF);
                out[x] = uchar((sum + 2) >> 2);
            }
        }
    } else {
        try {
            const cv::Mat band(rows, m_nWidth, CV_8UC1, const_cast<uchar *>(samples), size_t(bytesPerLine));
            if (m_bHalve)
                cv::resize(band, target, target.size(), 0, 0, cv::INTER_AREA);
            else
                band.copyTo(target);
        } catch (const cv::Exception &) {
            m_nRowsDone = -1;
            return false;
        }
    }
    m_nRowsDone += rows;
    return true;
}

QImage FrameThumbnail::image(const QVector<QRgb> &colorTable) const
{
    if (m_nRowsDone != m_nHeight)
        return QImage();
    QImage thumbnail(m_Size, QImage::Format_Indexed8);
    try {
        cv::Mat small(m_Size.height(), m_Size.width(), CV_8UC1, thumbnail.bits(), size_t(thumbnail.bytesPerLine()));
        const cv::Mat coarse = halved(m_Half, m_Size);
        // A rest of less than a halving is interpolated (its samples are averages already;
        // OpenCV's area scaling by such a fraction costs more than all the halvings together);
        // any other rest is area-averaged.
        const bool lessThanHalving = coarse.cols < 2 * small.cols && coarse.rows < 2 * small.rows;
        cv::resize(coarse, small, small.size(), 0, 0, lessThanHalving ? cv::INTER_LINEAR : cv::INTER_AREA);
    } catch (const cv::Exception &) {
        return QImage();
    }
    if (colorTable.size() == 256) {
        thumbnail.setColorTable(colorTable);
    } else {
        QVector<QRgb> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i] = qRgb(i, i, i);
        thumbnail.setColorTable(grey);
    }
    return thumbnail;
}

QImage FrameThumbnail::makeImage(const uchar *samples, int width, int height, int bytesPerLine,
                                 const QVector<QRgb> &colorTable, QSize size, int pixelBytes)
{
    FrameThumbnail thumbnail(width, height, pixelBytes, size);
    const int unit = thumbnail.rowUnit();
    const int bandRows = std::max(unit, kBandBytes / std::max(width * pixelBytes, 1) / unit * unit);
    for (int row = 0; row < height; row += bandRows)
        if (!thumbnail.addBand(row, std::min(bandRows, height - row), samples + qint64(row) * bytesPerLine, bytesPerLine))
            return QImage();
    return thumbnail.image(colorTable);
}

QPixmap FrameThumbnail::make(const uchar *samples, int width, int height, int bytesPerLine,
                             const QVector<QRgb> &colorTable, QSize size, int pixelBytes)
{
    return QPixmap::fromImage(makeImage(samples, width, height, bytesPerLine, colorTable, size, pixelBytes));
}
