#pragma once
#include <QFileIconProvider>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QObject;

// Icons of the file views (file manager, save dialog, folder chooser): folders, CSV tables,
// videos and image files get our own pictures; with thumbnails on, an image file is shown by a
// 128 x 102 picture of itself.
//
// The file-system model asks for icons on its own thread and, when it resolves a path, on the
// caller's (the GUI thread): icon never decodes. It answers from the thumbnail cache or hands the
// file to a pool of decoding threads and gives an icon that paints the generic file icon until
// the thumbnail is in the cache, then the thumbnail; the owner hears of each finished decode
// (setThumbnailReady) and repaints. Thumbnails are QImages in a process-wide cache (least
// recently used dropped, keyed by path, size and modification time) behind a lock, turned into
// pixmaps only when painted on the GUI thread. The owner supplies the reader that makes a
// thumbnail (setThumbnailReader); without one, image files keep the generic file icon.
class FileIconProvider : public QFileIconProvider
{
public:
    // The picture of the file at path brought to size (aspect ratio ignored); a null image when
    // the file cannot be decoded. Called on the decoding threads.
    using ThumbnailReader = std::function<QImage(const QString &path, const QSize &size)>;

    static const QSize thumbnailSize; // 128 x 102
    // The cache's bound: about 600 thumbnails of 52 KB, some twenty screens of a folder. What a
    // day's browsing adds beyond it pushes out the oldest, so memory does not grow with use.
    static constexpr int cacheLimitKB = 32768;

    FileIconProvider();
    ~FileIconProvider() override;

    QIcon icon(const QFileInfo &info) const override;
    using QFileIconProvider::icon;

    void setThumbnailOn(bool on);
    bool thumbnailOn() const { return m_bThumbnailOn; }
    void setThumbnailReader(ThumbnailReader reader);
    // ready runs on receiver's thread after each decode has ended (thumbnail made or file found
    // undecodable), until this provider is destroyed.
    void setThumbnailReady(QObject *receiver, std::function<void()> ready);
    // Decodes not yet begun are dropped (the folder they were asked for was left); an icon
    // still waiting for one asks again when it is painted.
    void dropWaitingThumbnails();
    // Decodes asked for and not ended.
    int pendingThumbnails() const;
    // Threads that decode thumbnails, shared by all providers.
    static int decodingThreads();

    // The cached thumbnail of a file as it is now (null when not cached), and emptying the cache.
    static QImage cachedThumbnail(const QFileInfo &info);
    static void clearThumbnailCache();
    // Drops the thumbnails of these files and of every file below these folders (deleted ones).
    static void forgetThumbnails(const QStringList &paths);

    struct Decodes; // the decodes asked for, shared with the decoding threads and the icons

private:
    QIcon m_FolderIcon;
    QIcon m_CsvIcon;
    QIcon m_VideoIcon;
    QIcon m_FileIcon;
    QStringList m_ImageSuffixes;
    std::atomic<bool> m_bThumbnailOn{false};
    std::shared_ptr<Decodes> m_Decodes;
};
