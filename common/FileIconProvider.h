#pragma once
#include <QFileIconProvider>
#include <QIcon>
#include <QStringList>

// Icons of the file views (file manager, save dialog, folder chooser): folders, CSV tables,
// videos and image files get our own pictures; with thumbnails on, an image file is shown by a
// 128 x 102 picture of itself (cached process-wide by absolute path).
class FileIconProvider : public QFileIconProvider
{
public:
    FileIconProvider();
    ~FileIconProvider() override;

    QIcon icon(const QFileInfo &info) const override;
    using QFileIconProvider::icon;

    void setThumbnailOn(bool on);

private:
    QIcon m_FolderIcon;
    QIcon m_CsvIcon;
    QIcon m_VideoIcon;
    QIcon m_FileIcon;
    QStringList m_ImageSuffixes;
    bool m_bThumbnailOn = false;
};
