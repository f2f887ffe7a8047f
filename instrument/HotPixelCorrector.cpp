#include "HotPixelCorrector.h"

#include "ExceptionTracer.h"
#include "FrameRecorder.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QDebug>
#include <QFile>
#include <QtConcurrent>
#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
// A decimal number as strtol reads it: leading blanks and a sign, up to the first other
// character; no digits give 0.
int leadingNumber(const QByteArray &text)
{
    const QByteArray terminated = text + '\0';
    return int(std::strtol(terminated.constData(), nullptr, 10));
}

// The three pixels p[-1], p[0], p[1] in lanes 0 to 2 (never reading past p[1]).
inline cv::v_uint8x16 threePixels(const uchar *p)
{
    uint16_t pair;
    std::memcpy(&pair, p - 1, sizeof pair);
    return cv::v_reinterpret_as_u8(cv::v_uint32x4(pair | unsigned(p[1]) << 16, 0, 0, 0));
}

// The median of a 3 x 3 block without branches: with each column sorted, it is the median of the
// largest column minimum, the median of the column medians and the smallest column maximum.
inline uchar median9(const uchar *above, const uchar *centre, const uchar *below)
{
    using cv::v_max;
    using cv::v_min;
    using cv::v_rotate_right;
    auto sort2 = [](cv::v_uint8x16 &a, cv::v_uint8x16 &b) {
        const cv::v_uint8x16 lo = v_min(a, b);
        b = v_max(a, b);
        a = lo;
    };
    auto median3 = [](const cv::v_uint8x16 &a, const cv::v_uint8x16 &b, const cv::v_uint8x16 &c) {
        return v_max(v_min(a, b), v_min(v_max(a, b), c));
    };
    cv::v_uint8x16 a = threePixels(above), b = threePixels(centre), c = threePixels(below);
    sort2(a, b);
    sort2(b, c);
    sort2(a, b);
    // Lane 0 against lanes 1 and 2.
    const cv::v_uint8x16 low = v_max(a, v_max(v_rotate_right<1>(a), v_rotate_right<2>(a)));
    const cv::v_uint8x16 high = v_min(c, v_min(v_rotate_right<1>(c), v_rotate_right<2>(c)));
    const cv::v_uint8x16 mid = median3(b, v_rotate_right<1>(b), v_rotate_right<2>(b));
    return uchar(cv::v_reinterpret_as_u32(median3(low, mid, high)).get0() & 0xFF);
}
} // namespace

QString HotPixelCorrector::listFile()
{
    return Paths::path(QStringLiteral("/root/Microscope/NIMBO/hot_pixels.csv"));
}

void HotPixelCorrector::find(const cv::Mat &frame8, int threshold)
{
    m_pixels.clear();
    CV_Assert(frame8.type() == CV_8UC1);
    if (threshold >= 255)
        return;
    cv::Mat hot;
    cv::compare(frame8, std::max(threshold, -1), hot, cv::CMP_GT);
    cv::findNonZero(hot, m_pixels); // raster order: rows from the top, columns from the left
}

bool HotPixelCorrector::save(const QString &path) const
{
    // Written in place line by line, as the list format has always been kept; a failed write is
    // reported and the file removed rather than left torn.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qWarning() << "Hot pixels: cannot write" << path << file.errorString();
        return false;
    }
    for (const cv::Point &p : m_pixels) {
        const QByteArray line = QByteArray::number(p.x) + ',' + QByteArray::number(p.y) + '\n';
        if (file.write(line) != line.size() || !file.flush()) {
            qWarning() << "Hot pixels: writing" << path << "failed:" << file.errorString();
            file.close();
            file.remove();
            return false;
        }
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        qWarning() << "Hot pixels: closing" << path << "failed:" << file.errorString();
        return false;
    }
    ::sync();
    return true;
}

void HotPixelCorrector::load(const QString &path)
{
    m_pixels.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        // x: from the first character that is not a comma to the first comma; y: from the first
        // non-comma character after that comma.
        int begin = 0;
        while (begin < line.size() && line[begin] == ',')
            ++begin;
        const int comma = line.indexOf(',', begin);
        if (comma < 0) { // not "x,y": nothing to take from it
            qWarning() << "Hot pixels: line without a comma skipped:" << line;
            continue;
        }
        int yBegin = comma + 1;
        while (yBegin < line.size() && line[yBegin] == ',')
            ++yBegin;
        if (yBegin >= line.size()) {
            qWarning() << "Hot pixels: line without a row skipped:" << line;
            continue;
        }
        m_pixels.emplace_back(leadingNumber(line.mid(begin, comma - begin)), leadingNumber(line.mid(yBegin)));
    }
}

bool HotPixelCorrector::findAndSave(const cv::Mat &dark8)
{
    if (isEnableSerialLog()) {
        const QString folder = Paths::ssd() + QStringLiteral("/HotPixel/");
        createTemporaryPath(folder);
        const QByteArray file = FrameRecorder::fileName(folder, 2).toUtf8();
        QtConcurrent::run([file, frame = dark8.clone()] {
            ExceptionTracer::useAlternateStack(); // a pool thread
            ImReaderWriter writer;
            if (!writer.load(frame.data, quint32(frame.cols), quint32(frame.rows), 8, 1, 1, 1, 1)
                || !writer.write(file, QByteArray()))
                qWarning() << "Hot pixels: the dark frame could not be written:" << writer.errorString();
        });
    }
    std::string value;
    ReadPrivateProfileString("Camera", "Threshold", "60", value, Paths::configFile().toStdString());
    bool ok = false;
    int threshold = QString::fromStdString(value).trimmed().toInt(&ok);
    if (!ok)
        threshold = 60;
    find(dark8, threshold);
    return save(listFile());
}

void HotPixelCorrector::correct(cv::Mat &frame8) const
{
    CV_Assert(frame8.type() == CV_8UC1);
    const int width = frame8.cols, height = frame8.rows;
    const size_t stride = frame8.step[0];
    for (const cv::Point &h : m_pixels) {
        if (h.x < 1 || h.y < 1 || h.x + 1 >= width || h.y + 1 >= height)
            continue;
        uchar *centre = frame8.ptr<uchar>(h.y) + h.x;
        *centre = median9(centre - stride, centre, centre + stride);
    }
}
