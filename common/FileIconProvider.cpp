#include "FileIconProvider.h"

#include <QCache>
#include <QDateTime>
#include <QFileInfo>
#include <QIconEngine>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <exception>

struct FileIconProvider::Decodes
{
    QMutex lock;
    ThumbnailReader reader;
    QSet<QString> pending; // cache keys queued or being decoded
    QSet<QString> failed;  // decoded to nothing: tried again only when an icon is asked for
    quint64 generation = 0; // raised to drop the decodes queued before
    QPointer<QObject> receiver;
    std::function<void()> ready;
};

namespace {

// The cache and the threads that fill it; the threads end first, while the cache still stands.
struct Thumbnails
{
    QMutex lock;
    QCache<QString, QImage> cache{FileIconProvider::cacheLimitKB};
    QThreadPool pool;
    Thumbnails() { pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() / 2, 2, 4)); }
};

Thumbnails &thumbnails()
{
    static Thumbnails shared;
    return shared;
}

// A file replaced under the same name gets a new key.
QString cacheKey(const QFileInfo &info)
{
    return info.absoluteFilePath() + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|')
           + QString::number(info.lastModified().toMSecsSinceEpoch());
}

QImage cached(const QString &key)
{
    QMutexLocker hold(&thumbnails().lock);
    const QImage *image = thumbnails().cache.object(key);
    return image ? *image : QImage();
}

// Tells the owner that a decode has ended or was dropped: its view repaints, and an icon still
// shown without its thumbnail asks again.
void tell(FileIconProvider::Decodes &decodes)
{
    if (decodes.receiver && decodes.ready)
        QMetaObject::invokeMethod(decodes.receiver, decodes.ready, Qt::QueuedConnection);
}

void decode(const std::shared_ptr<FileIconProvider::Decodes> &decodes, const QString &key, const QString &path,
            quint64 generation)
{
    FileIconProvider::ThumbnailReader reader;
    {
        QMutexLocker hold(&decodes->lock);
        if (generation != decodes->generation) {
            decodes->pending.remove(key);
            tell(*decodes);
            return;
        }
        reader = decodes->reader;
    }
    QImage thumbnail;
    try {
        thumbnail = reader ? reader(path, FileIconProvider::thumbnailSize) : QImage();
        if (!thumbnail.isNull() && thumbnail.size() != FileIconProvider::thumbnailSize)
            thumbnail = thumbnail.scaled(FileIconProvider::thumbnailSize, Qt::IgnoreAspectRatio,
                                         Qt::SmoothTransformation);
    } catch (const std::exception &) {
        thumbnail = QImage();
    }
    if (!thumbnail.isNull()) {
        QMutexLocker hold(&thumbnails().lock);
        thumbnails().cache.insert(key, new QImage(thumbnail), std::max(1, int(thumbnail.sizeInBytes() / 1024)));
    }
    QMutexLocker hold(&decodes->lock);
    decodes->pending.remove(key);
    if (thumbnail.isNull())
        decodes->failed.insert(key);
    tell(*decodes);
}

// Queues the decode of path unless it is queued already, or found undecodable and not asked
// again.
void request(const std::shared_ptr<FileIconProvider::Decodes> &decodes, const QString &key, const QString &path,
             bool again)
{
    QMutexLocker hold(&decodes->lock);
    if (!decodes->reader || decodes->pending.contains(key) || (!again && decodes->failed.contains(key)))
        return;
    decodes->failed.remove(key);
    decodes->pending.insert(key);
    thumbnails().pool.start([decodes, key, path, generation = decodes->generation] {
        decode(decodes, key, path, generation);
    });
}

// The icon of an image file: its thumbnail once cached, the generic file icon until then. Painted
// without it, it asks for the decode again where a change of folder dropped it. The pixmap is made
// where Qt paints, on the GUI thread.
class ThumbnailIconEngine : public QIconEngine
{
public:
    ThumbnailIconEngine(QString key, QString path, QIcon fileIcon, QImage image,
                        std::weak_ptr<FileIconProvider::Decodes> decodes)
        : m_Key(std::move(key))
        , m_Path(std::move(path))
        , m_FileIcon(std::move(fileIcon))
        , m_Image(std::move(image))
        , m_Decodes(std::move(decodes))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        if (find())
            painter->drawImage(rect, m_Image);
        else
            m_FileIcon.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (!find())
            return m_FileIcon.pixmap(size, mode, state);
        const QSize target = m_Image.size().scaled(size, Qt::KeepAspectRatio);
        return QPixmap::fromImage(target == m_Image.size()
                                      ? m_Image
                                      : m_Image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return find() ? m_Image.size().scaled(size, Qt::KeepAspectRatio) : m_FileIcon.actualSize(size, mode, state);
    }
    QIconEngine *clone() const override { return new ThumbnailIconEngine(*this); }

private:
    bool find()
    {
        if (!m_Image.isNull())
            return true;
        m_Image = cached(m_Key);
        if (m_Image.isNull())
            if (const auto decodes = m_Decodes.lock())
                request(decodes, m_Key, m_Path, false);
        return !m_Image.isNull();
    }

    QString m_Key;
    QString m_Path;
    QIcon m_FileIcon;
    QImage m_Image;
    std::weak_ptr<FileIconProvider::Decodes> m_Decodes;
};

} // namespace

const QSize FileIconProvider::thumbnailSize(128, 102);

FileIconProvider::FileIconProvider()
    : m_FolderIcon(":/UI/FileManager/folder_128x102.png")
    , m_CsvIcon(":/UI/FileManager/csv.png")
    , m_VideoIcon(":/UI/FileManager/mp4.png")
    , m_FileIcon(":/UI/FileManager/file.png")
    , m_ImageSuffixes({"tif", "tiff", "jpg", "jpeg", "bmp", "png"})
    , m_Decodes(std::make_shared<Decodes>())
{
}

FileIconProvider::~FileIconProvider()
{
    QMutexLocker hold(&m_Decodes->lock);
    ++m_Decodes->generation;
    m_Decodes->receiver = nullptr;
}

void FileIconProvider::setThumbnailOn(bool on)
{
    m_bThumbnailOn = on;
}

void FileIconProvider::setThumbnailReader(ThumbnailReader reader)
{
    QMutexLocker hold(&m_Decodes->lock);
    m_Decodes->reader = std::move(reader);
}

void FileIconProvider::setThumbnailReady(QObject *receiver, std::function<void()> ready)
{
    QMutexLocker hold(&m_Decodes->lock);
    m_Decodes->receiver = receiver;
    m_Decodes->ready = std::move(ready);
}

void FileIconProvider::dropWaitingThumbnails()
{
    QMutexLocker hold(&m_Decodes->lock);
    ++m_Decodes->generation;
}

int FileIconProvider::pendingThumbnails() const
{
    QMutexLocker hold(&m_Decodes->lock);
    return m_Decodes->pending.size();
}

int FileIconProvider::decodingThreads()
{
    return thumbnails().pool.maxThreadCount();
}

QImage FileIconProvider::cachedThumbnail(const QFileInfo &info)
{
    return cached(cacheKey(info));
}

void FileIconProvider::clearThumbnailCache()
{
    QMutexLocker hold(&thumbnails().lock);
    thumbnails().cache.clear();
}

void FileIconProvider::forgetThumbnails(const QStringList &paths)
{
    QMutexLocker hold(&thumbnails().lock);
    QCache<QString, QImage> &cache = thumbnails().cache;
    for (const QString &key : cache.keys()) {
        const QString file = key.section(QLatin1Char('|'), 0, -3);
        for (const QString &path : paths)
            if (file == path || file.startsWith(path + QLatin1Char('/'))) {
                cache.remove(key);
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
    if (!m_bThumbnailOn)
        return m_FileIcon;
    {
        QMutexLocker hold(&m_Decodes->lock);
        if (!m_Decodes->reader)
            return m_FileIcon;
    }
    const QString key = cacheKey(info), path = info.absoluteFilePath();
    const QImage thumbnail = cached(key);
    if (thumbnail.isNull())
        request(m_Decodes, key, path, true);
    return QIcon(new ThumbnailIconEngine(key, path, m_FileIcon, thumbnail, m_Decodes));
}
