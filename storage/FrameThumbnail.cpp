#include "FrameThumbnail.h"

#include <QImage>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
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

QImage FrameThumbnail::makeImage(const uchar *samples, int width, int height, int bytesPerLine,
                                 const QVector<QRgb> &colorTable, QSize size)
{
    if (!samples || width <= 0 || height <= 0 || size.isEmpty())
        return QImage();
    QImage thumbnail(size, QImage::Format_Indexed8);
    try {
        const cv::Mat frame(height, width, CV_8UC1, const_cast<uchar *>(samples), size_t(bytesPerLine));
        cv::Mat small(size.height(), size.width(), CV_8UC1, thumbnail.bits(), size_t(thumbnail.bytesPerLine()));
        // A rest of less than a halving is interpolated (its samples are averages already;
        // OpenCV's area scaling by such a fraction costs more than all the halvings together);
        // any other rest is area-averaged.
        const cv::Mat coarse = halved(frame, size);
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

QPixmap FrameThumbnail::make(const uchar *samples, int width, int height, int bytesPerLine,
                             const QVector<QRgb> &colorTable, QSize size)
{
    return QPixmap::fromImage(makeImage(samples, width, height, bytesPerLine, colorTable, size));
}
