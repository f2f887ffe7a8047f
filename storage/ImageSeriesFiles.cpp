#include "ImageSeriesFiles.h"

#include "AlphanumLess.h"

#include <QDir>
#include <algorithm>

QFileInfoList ImageSeriesFiles::tiffFiles(const QString &folder)
{
    QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.tif")}, QDir::Files | QDir::Hidden, QDir::Unsorted);
    const alphanum_less less;
    std::stable_sort(files.begin(), files.end(),
                     [&less](const QFileInfo &a, const QFileInfo &b) { return less(a.fileName(), b.fileName()); });
    return files;
}
