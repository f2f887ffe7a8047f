#include "FileIconProvider.h"

#include <QFileInfo>
#include <QPixmap>
#include <QPixmapCache>

FileIconProvider::FileIconProvider()
    : m_FolderIcon(":/UI/FileManager/folder_128x102.png")
    , m_CsvIcon(":/UI/FileManager/csv.png")
    , m_VideoIcon(":/UI/FileManager/mp4.png")
    , m_FileIcon(":/UI/FileManager/file.png")
    , m_ImageSuffixes({"tif", "tiff", "jpg", "jpeg", "bmp", "png"})
{
}

FileIconProvider::~FileIconProvider() = default;

void FileIconProvider::setThumbnailOn(bool on)
{
    m_bThumbnailOn = on;
    if (on)
        QPixmapCache::setCacheLimit(512000);
}

QIcon FileIconProvider::icon(const QFileInfo &info) const
{
    if (info.isDir())
        return m_FolderIcon;
    const QString suffix = info.fileName().section('.', -1);
    const bool hasSuffix = info.fileName().contains('.');
    if (hasSuffix && suffix.compare("csv", Qt::CaseInsensitive) == 0)
        return m_CsvIcon;
    if (hasSuffix && suffix.compare("mp4", Qt::CaseInsensitive) == 0)
        return m_VideoIcon;
    if (!hasSuffix || !m_ImageSuffixes.contains(suffix, Qt::CaseInsensitive))
        return QFileIconProvider::icon(info);
    if (!m_bThumbnailOn)
        return m_FileIcon;

    const QString key = info.absoluteFilePath();
    QPixmap thumbnail;
    if (QPixmapCache::find(key, &thumbnail))
        return QIcon(thumbnail);
    QPixmap picture(key);
    if (picture.isNull())
        return m_FileIcon;
    thumbnail = picture.scaled(128, 102, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPixmapCache::insert(key, thumbnail);
    return QIcon(thumbnail);
}
