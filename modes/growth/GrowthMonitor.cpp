#include "GrowthMonitor.h"

#include "ConfluencyAnalysis.h"
#include "EncoderLimits.h"
#include "ImageFileReader.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "SafeFileWriter.h"
#include "Utilities.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <exception>

namespace {

const char kSignature[] = "bool GrowthMonitor::getConfluencyValue(const string&, const QString&, float&, int&, int&)";

// A CSV field as RFC 4180 wants it: quoted, with doubled quotes, when it holds a comma, a quote or
// a line break.
QByteArray csvField(const QByteArray &text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    QByteArray quoted = text;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

// Encodes image in the format of its file's extension into the file's temporary copy, finished
// but not yet in place.
bool stageImage(SafeFileWriter &file, const QString &path, const cv::Mat &image, QString *why)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf('.');
    std::vector<uchar> bytes;
    if (dot < 0 || !cv::haveImageWriter(path.toStdString()) || !cv::imencode(name.mid(dot).toStdString(), image, bytes)) {
        *why = QStringLiteral("no image format for %1").arg(path);
        return false;
    }
    if (file.open() && file.write(bytes.data(), qint64(bytes.size())) && file.finish())
        return true;
    *why = file.errorString();
    return false;
}

} // namespace

const QByteArray GrowthMonitor::csvHeader = "File,ConConfluency,Count,Threshold";

GrowthMonitor::GrowthMonitor(QObject *parent)
    : QObject(parent)
{
    m_CSV.setHeader(csvHeader);
}

GrowthMonitor::~GrowthMonitor() = default;

QString GrowthMonitor::rawFolder()
{
    return Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
}

int GrowthMonitor::canStart(int bitsPerPixel, bool clean)
{
    const double freeMB = double(MediaMonitor::freeDiskSpace(Paths::ssd()));
    const float needed = float(bitsPerPixel) / 8.0f * 1.25f * float(m_Parameter.imageCount) * 3.0f;
    if (freeMB * 0.5 < double(needed))
        return 1;
    if (!clean)
        return 0;
    return deleteRawData() < 0 ? 3 : 0;
}

int GrowthMonitor::deleteRawData()
{
    const QString folder = rawFolder();
    const bool removed = QDir(folder).removeRecursively();
    if (removed)
        createTemporaryPath(folder);
    clearThumbnails();
    return removed && QFileInfo(folder).isDir() ? 1 : -1;
}

QString GrowthMonitor::getResultFilePath(const QString &basePath, TImageType type, QString suffix)
{
    const QString insert = type == IMAGE_COUNT ? QStringLiteral("_count")
                           : type == IMAGE_SEGMENTATION ? QStringLiteral("_result")
                                                        : suffix;
    const int dot = basePath.lastIndexOf('.');
    if (dot <= basePath.lastIndexOf('/'))
        return basePath + insert;
    return QString(basePath).insert(dot, insert);
}

bool GrowthMonitor::fail(const QString &why, float &confluency, int &count)
{
    m_Error = why;
    confluency = 0;
    count = 0;
    if (isEnableSerialLog())
        qDebug().noquote() << kSignature << "==Failed." << why;
    return false;
}

bool GrowthMonitor::getConfluencyValue(const std::string &imagePath, const QString &resultBasePath,
                                       float &confluency, int &count, int &threshold)
{
    if (isEnableSerialLog())
        qDebug().noquote() << kSignature << "==Start Calc." << QString::fromStdString(imagePath);
    const QString countPath = getResultFilePath(resultBasePath, IMAGE_COUNT, QString());
    const QString segmentationPath = getResultFilePath(resultBasePath, IMAGE_SEGMENTATION, QString());
    confluency = 0;
    count = 0;
    m_Error.clear();
    ConfluencyAnalysis::Result result;
    cv::Mat grey, colour;
    try {
        QString why = QStringLiteral("not a grey or colour image");
        const cv::Mat decoded = ImageFileReader::read(QByteArray::fromStdString(imagePath), &why);
        // The result pictures have the image's size: one that their format cannot hold is
        // refused before any work.
        const QString tooLarge =
            EncoderLimits::refusal(QFileInfo(countPath).suffix(), quint64(decoded.cols), quint64(decoded.rows));
        if (!tooLarge.isEmpty())
            return fail(QStringLiteral("cannot write the result images: %1").arg(tooLarge), confluency, count);
        if (!ConfluencyAnalysis::toAnalysisImages(decoded, grey, colour))
            return fail(QStringLiteral("cannot read the image %1: %2").arg(QString::fromStdString(imagePath), why),
                        confluency, count);
        ConfluencyAnalysis::run(grey, colour, m_Parameter, result);
        // Both images are written whole before either takes its name: a failed write (a full
        // drive) leaves the older pair as it was.
        SafeFileWriter countFile(QFile::encodeName(countPath)), segmentationFile(QFile::encodeName(segmentationPath));
        bool written = stageImage(countFile, countPath, result.countImage, &why)
                       && stageImage(segmentationFile, segmentationPath, result.segmentation, &why);
        for (SafeFileWriter *file : {&countFile, &segmentationFile}) {
            if (written && !file->commit()) {
                why = file->errorString();
                written = false;
            }
        }
        if (!written)
            return fail(QStringLiteral("cannot write the result images: %1").arg(why), confluency, count);
    } catch (const std::exception &e) {
        return fail(QStringLiteral("analysis failed: %1").arg(QString::fromLocal8Bit(e.what()).trimmed()), confluency,
                    count);
    }
    confluency = float(result.covered) / float(qint64(grey.cols) * grey.rows) * 100.0f;
    count = result.count;
    threshold = m_Parameter.thresholdValue;
    if (isEnableSerialLog())
        qDebug().noquote() << kSignature << "==End Calc." << ('"' + resultBasePath + '"') << confluency << count;
    return true;
}

int GrowthMonitor::_labeling(const cv::Mat &image, int threshold, cv::Mat &labels, int *labelCount)
{
    const int count = ConfluencyAnalysis::label(image, threshold, labels);
    if (labelCount)
        *labelCount = count;
    return count;
}

QString GrowthMonitor::displayPath(const QString &sourcePath)
{
    QString file = Paths::fixedPath(sourcePath);
    if (file.startsWith("/media/") || file == "/media")
        file.remove(0, 6);
    return file;
}

void GrowthMonitor::setConfluencyResult(const ThumbnailInfo &info)
{
    const QString file = displayPath(info.sourcePath);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, ",%.2f,%d,%d", double(info.value), info.count, info.threshold);
    m_CSV.fillCSVData(csvField(file.toUtf8()) + QByteArray(numbers));
}

void GrowthMonitor::clearThumbnails()
{
    m_Thumbnails.clear();
    m_CSV.erase();
}
