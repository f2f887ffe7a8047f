#include "ImageSeriesFiles.h"

#include "AlphanumLess.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "ImageThumbnail.h"
#include "ThumbnailInfo.h"

#include <QDir>
#include <algorithm>

QFileInfoList ImageSeriesFiles::tiffFiles(const QString &folder)
{
    return files(folder, {QStringLiteral("*.tif")});
}

QFileInfoList ImageSeriesFiles::files(const QString &folder, const QStringList &nameFilters)
{
    QFileInfoList files = QDir(folder).entryInfoList(nameFilters, QDir::Files, QDir::Unsorted);
    const alphanum_less less;
    std::stable_sort(files.begin(), files.end(),
                     [&less](const QFileInfo &a, const QFileInfo &b) { return less(a.fileName(), b.fileName()); });
    return files;
}

bool ImageSeriesFiles::loadFrame(const QFileInfo &file, ImReaderWriter &reader, QSize thumbnailSize, ThumbnailInfo &info)
{
    const QString path = file.absoluteFilePath();
    const QByteArray name = QFile::encodeName(path);
    // Halved band by band as the file is read, each band while it is in the cache; an 8-bit RGB
    // thumbnail is scaled from the whole image and read again whole.
    QSize fileSize;
    if (!reader.readHalved(name, thumbnailSize, nullptr, &fileSize) || fileSize != QSize(1280, 1024))
        return false;
    if (reader.bitsPerSample == 8 && reader.samplesPerPixel == 3 && !reader.read(name))
        return false;
    info.thumbnail = ImageThumbnail::make(reader, g_PseudoColorTable[7], thumbnailSize);
    if (info.thumbnail.isNull())
        return false;
    info.path = path;
    return true;
}
