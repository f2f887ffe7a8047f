#pragma once
#include "ScriptableDialog.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QList>
#include <QPixmap>

#include <memory>

class ImageAttributeDialog;
class ImReaderWriter;
class ScopedBusyCursor;
class Ui_ImageViewerDlg;
template <typename T> class QFutureWatcher;

// The full-screen image viewer of the file manager: one image stretched over 1280 x 1024 under
// its file-name bar, stepped through its folder's images with wrap-around, a metadata panel on
// Detail, and left only through X (Escape does nothing). A file that cannot be decoded shows the
// damaged-file text instead; a sound one of a kind not shown (tiled, float, ...) says so.
// Files are decoded beside the interface under the busy cursor, one at a time: the viewer answers
// while a heavy file decodes, and a file stepped past before its turn is not decoded at all.
class ImageViewerDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit ImageViewerDlg(QWidget *parent = nullptr);
    ~ImageViewerDlg() override;

    void setCurrentFileInfoList(const QList<QFileInfo> &list);
    void setCurrentIndex(const QFileInfo &info);
    void load(const QString &path, const QString &fileName);

    int currentIndex() const { return m_CurrentIndex; }
    // Whether the file last loaded is still being decoded (nothing is drawn meanwhile).
    bool isLoading() const { return m_Busy != nullptr; }
    bool isValidImage() const { return m_bValidImage; }
    const QPixmap &pixmap() const { return m_Pixmap; }
    // The text drawn where the last load gave no image.
    QString failureText() const;
    ImageAttributeDialog *attributeDialog() const { return m_ImageAttributeDialog; }

public slots:
    void reject() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_EXIT_clicked();
    void on_BUTTON_SHOW_PREVIOUS_IMAGE_clicked();
    void on_BUTTON_SHOW_NEXT_IMAGE_clicked();
    void on_BUTTON_DETAIL_clicked();

private:
    // What a decode gives: the picture, or why a sound file is not shown.
    struct Decoded
    {
        QImage image;
        QString unshown;
    };

    void loadCurrent();
    void startDecode();
    void slotDecoded();

    QPixmap m_Pixmap;
    std::shared_ptr<ImReaderWriter> m_Samples; // kept from image to image, used by one decode at a time
    QFutureWatcher<Decoded> *m_Decode = nullptr;
    QString m_DecodedPath; // the file being decoded
    std::unique_ptr<ScopedBusyCursor> m_Busy; // while the file last loaded decodes
    const QFontMetrics m_NameMetrics;          // the file-name bar's font
    QString m_Path;
    QString m_Unshown; // why the last file, sound but of a kind not shown, is not shown
    bool m_bExit = false;
    QList<QFileInfo> m_FileInfoList;
    int m_CurrentIndex = 0;
    bool m_bValidImage = true;
    ImageAttributeDialog *m_ImageAttributeDialog = nullptr;
    Ui_ImageViewerDlg *ui;
};
