#include "FileIconProvider.h"

#include <QCache>
#include <QDateTime>
#include <QFileInfo>
#include <QIconEngine>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPixmap>

namespace {

// An icon of one picture: the pixmap is made where Qt paints, on the GUI thread.
class ImageIconEngine : public QIconEngine
{
public:
    explicit ImageIconEngine(QImage image) : m_Image(std::move(image)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        painter->drawImage(rect, m_Image);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const QSize target = m_Image.size().scaled(size, Qt::KeepAspectRatio);
        return QPixmap::fromImage(target == m_Image.size()
                                      ? m_Image
                                      : m_Image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return m_Image.size().scaled(size, Qt::KeepAspectRatio);
    }
    QIconEngine *clone() const override { return new ImageIconEngine(m_Image); }

private:
    QImage m_Image;
};

QMutex cacheLock;
QCache<QString, QImage> &cache()
{
    static QCache<QString, QImage> thumbnails(FileIconProvider::cacheLimitKB);
    return thumbnails;
}

// A file replaced under the same name gets a new key.
QString cacheKey(const QFileInfo &info)
{
    return info.absoluteFilePath() + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|')
           + QString::number(info.lastModified().toMSecsSinceEpoch());
}

} // namespace

const QSize FileIconProvider::thumbnailSize(128, 102);

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
}

void FileIconProvider::setThumbnailReader(ThumbnailReader reader)
{
    m_Reader = std::move(reader);
}

QImage FileIconProvider::cachedThumbnail(const QFileInfo &info)
{
    QMutexLocker lock(&cacheLock);
    const QImage *image = cache().object(cacheKey(info));
    return image ? *image : QImage();
}

void FileIconProvider::clearThumbnailCache()
{
    QMutexLocker lock(&cacheLock);
    cache().clear();
}

void FileIconProvider::forgetThumbnails(const QStringList &paths)
{
    QMutexLocker lock(&cacheLock);
    for (const QString &key : cache().keys()) {
        const QString file = key.section(QLatin1Char('|'), 0, -3);
        for (const QString &path : paths)
            if (file == path || file.startsWith(path + QLatin1Char('/'))) {
                cache().remove(key);
                break;
            }
    }
}

QIcon FileIconProvider::icon(const QFileInfo &info) const
{
    if (info.isDir())
        return m_FolderIcon;
    const QString name = info.fileName();
    const bool hasSuffix = name.contains('.');
    const QString suffix = name.section('.', -1);
    if (hasSuffix && suffix.compare("csv", Qt::CaseInsensitive) == 0)
        return m_CsvIcon;
    if (hasSuffix && suffix.compare("mp4", Qt::CaseInsensitive) == 0)
        return m_VideoIcon;
    if (!hasSuffix || !m_ImageSuffixes.contains(suffix, Qt::CaseInsensitive))
        return QFileIconProvider::icon(info);
    if (!m_bThumbnailOn || !m_Reader)
        return m_FileIcon;

    QImage thumbnail = cachedThumbnail(info);
    if (thumbnail.isNull()) {
        // Decoded outside the lock: two views asking at once at worst decode twice.
        thumbnail = m_Reader(info.absoluteFilePath(), thumbnailSize);
        if (thumbnail.isNull())
            return m_FileIcon;
        if (thumbnail.size() != thumbnailSize)
            thumbnail = thumbnail.scaled(thumbnailSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QMutexLocker lock(&cacheLock);
        cache().insert(cacheKey(info), new QImage(thumbnail), std::max(1, int(thumbnail.sizeInBytes() / 1024)));
    }
    return QIcon(new ImageIconEngine(thumbnail));
}
