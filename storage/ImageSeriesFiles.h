#pragma once
#include <QFileInfoList>
#include <QSize>
#include <QString>
#include <QStringList>

class ImReaderWriter;
struct ThumbnailInfo;

// The image files of a series folder as the series pages load them back.
class ImageSeriesFiles
{
public:
    // The visible plain files of folder matching "*.tif" (never the "._" companions some computers
    // leave on USB drives), sorted by name in natural order (alphanum_less:
    // digit runs by value), so that name_2 comes before name_10. Empty for a missing folder.
    static QFileInfoList tiffFiles(const QString &folder);
    // The same for any name filters ("*.tif", "*.png", ...).
    static QFileInfoList files(const QString &folder, const QStringList &nameFilters);
    // One file of a folder that may come from anywhere: only a whole camera frame (1280 x 1024)
    // that the reader accepts gives a thumbnail (grey, thumbnailSize) and its path in info.
    // reader is the caller's buffer, kept from file to file.
    static bool loadFrame(const QFileInfo &file, ImReaderWriter &reader, QSize thumbnailSize, ThumbnailInfo &info);
};
