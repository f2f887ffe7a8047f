#include "HotPixelCorrector.h"

#include "FrameRecorder.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QDebug>
#include <QFile>
#include <QtConcurrent>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
// A decimal number as strtol reads it: leading blanks and a sign, up to the first other
// character; no digits give 0.
int leadingNumber(const QByteArray &text)
{
    const QByteArray terminated = text + '\0';
    return int(std::strtol(terminated.constData(), nullptr, 10));
}

// The median of nine values by a fixed exchange network (19 compare-and-swaps).
inline uchar median9(uchar p[9])
{
    auto sort2 = [](uchar &a, uchar &b) {
        const uchar lo = std::min(a, b);
        b = std::max(a, b);
        a = lo;
    };
    sort2(p[1], p[2]); sort2(p[4], p[5]); sort2(p[7], p[8]);
    sort2(p[0], p[1]); sort2(p[3], p[4]); sort2(p[6], p[7]);
    sort2(p[1], p[2]); sort2(p[4], p[5]); sort2(p[7], p[8]);
    sort2(p[0], p[3]); sort2(p[5], p[8]); sort2(p[4], p[7]);
    sort2(p[3], p[6]); sort2(p[1], p[4]); sort2(p[2], p[5]);
    sort2(p[4], p[7]); sort2(p[4], p[2]); sort2(p[6], p[4]);
    sort2(p[4], p[2]);
    return p[4];
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
    uchar p[9];
    for (const cv::Point &h : m_pixels) {
        if (h.x < 1 || h.y < 1 || h.x + 1 >= width || h.y + 1 >= height)
            continue;
        uchar *centre = frame8.ptr<uchar>(h.y) + h.x;
        const uchar *above = centre - stride;
        const uchar *below = centre + stride;
        p[0] = above[-1]; p[1] = above[0]; p[2] = above[1];
        p[3] = centre[-1]; p[4] = centre[0]; p[5] = centre[1];
        p[6] = below[-1]; p[7] = below[0]; p[8] = below[1];
        *centre = median9(p);
    }
}
