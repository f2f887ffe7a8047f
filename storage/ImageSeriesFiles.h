#pragma once
#include <QFileInfoList>
#include <QString>

// The image files of a series folder as the series pages load them back.
class ImageSeriesFiles
{
public:
    // The plain files of folder matching "*.tif", sorted by name in natural order (alphanum_less:
    // digit runs by value), so that name_2 comes before name_10. Empty for a missing folder.
    static QFileInfoList tiffFiles(const QString &folder);
};
