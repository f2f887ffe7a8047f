// vantor-focus-merge: merges slice files into one extended-focus image with the Z-stack page's
// default parameters and writes it as an 8-bit grey image.
//   vantor-focus-merge [--sr] OUT.tif SLICE.tif...
// Colour slices are merged by their grey value, 16-bit slices scaled by 255/4094 as the page
// does. Slices are read as the application reads them (a damaged file or a sample format it does
// not read is refused) and the output is written as it writes images: whole under its name or
// not at all, an older file of that name kept until then. Exit 0 on success, 2 on a refused
// input or a failed write (one line on standard error says why).
#include "CommandLineTool.h"
#include "DeconvFocus_alg.h"
#include "EncoderLimits.h"
#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

namespace {

const char kUsage[] = "usage: vantor-focus-merge [--sr] OUT.tif SLICE.tif...";

int refuse(const QString &why)
{
    return CommandLineTool::refuse(stderr, "vantor-focus-merge", why);
}

// The output formats, by the name's extension as the image writer takes it: .tif or .tiff in
// any case, .png, .jpg or .bmp.
bool knownOutput(const QByteArray &path)
{
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    if (dot <= 0)
        return false;
    const QByteArray extension = name.mid(dot + 1);
    const QByteArray lower = extension.toLower();
    return lower == "tif" || lower == "tiff" || extension == "png" || extension == "jpg" || extension == "bmp";
}

int merge(bool sr, const std::vector<QByteArray> &paths)
{
    const QByteArray &out = paths[0];
    if (!knownOutput(out))
        return refuse(QStringLiteral("%1 needs the extension .tif, .tiff, .png, .jpg or .bmp").arg(QString::fromLocal8Bit(out)));
    DeconvFocus_alg engine;
    cv::Mat image;
    for (size_t i = 1; i < paths.size(); ++i) {
        QString why;
        image = ImageFileReader::read(paths[i], &why);
        if (image.empty())
            return refuse(QStringLiteral("cannot read %1: %2").arg(QString::fromLocal8Bit(paths[i]), why));
        // The merged picture has the slices' size: one that its format cannot hold is refused
        // before any work.
        const QString tooLarge = EncoderLimits::refusal(QString::fromLocal8Bit(out.mid(out.lastIndexOf('.') + 1)),
                                                        quint64(image.cols), quint64(image.rows));
        if (!tooLarge.isEmpty())
            return refuse(QStringLiteral("cannot write %1: %2").arg(QString::fromLocal8Bit(out), tooLarge));
        if (image.channels() == 3)
            cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
        else if (image.channels() != 1)
            return refuse(QStringLiteral("not a grey or RGB image: %1").arg(QString::fromLocal8Bit(paths[i])));
        if (image.depth() == CV_16U)
            image.convertTo(image, CV_8U, 255.0 / 4094.0);
        else if (image.depth() != CV_8U)
            return refuse(QStringLiteral("not an 8- or 16-bit image: %1").arg(QString::fromLocal8Bit(paths[i])));
        if (!image.isContinuous())
            image = image.clone();
        engine.set_load_image(image.data, image.cols, image.rows);
    }
    // The page's defaults: edge kernel 11, noise filters and Sobel 3, scale 0.25, patches 1 x 1.
    if (!engine.run(11, 3, 3, 3, sr, 0.25f, 1, 1, 2.5))
        return refuse(QStringLiteral("merge failed (slices of unequal size?)"));
    cv::Mat result(image.rows, image.cols, CV_8UC1);
    ImReaderWriter writer;
    if (!engine.get_result_image(result.data)
        || !writer.load(result.data, quint32(result.cols), quint32(result.rows), 8, 1, 1, 1, 1)
        || !writer.write(out, {}))
        return refuse(QStringLiteral("cannot write %1: %2").arg(QString::fromLocal8Bit(out), writer.errorString()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Standard error carries only the one line of a refusal.
    CommandLineTool::quiet();
    bool sr = false;
    std::vector<QByteArray> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sr") == 0)
            sr = true;
        else
            paths.emplace_back(argv[i]);
    }
    if (paths.size() < 2)
        return refuse(kUsage);
    try {
        return merge(sr, paths);
    } catch (const std::exception &e) {
        // Memory or OpenCV failing on an image within the reader's limits.
        return refuse(QStringLiteral("merge failed: %1").arg(QString::fromLocal8Bit(e.what()).trimmed()));
    }
}
