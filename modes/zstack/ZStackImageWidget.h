#pragma once
#include "TAnnotationTextInfo.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QByteArray>
#include <QPointF>
#include <QRect>
#include <QWidget>
#include <memory>
#include <vector>

class ImReaderWriter;
class SeriesVideoExporter;
class QListWidgetItem;
class Ui_ZStackImageWidget;

// The Z-stack slice browser beside the Z-stack page once a stack is held: a strip of the slices
// (thumbnails or a numbered list), a zoomable view that shows the chosen slice from its file (grey
// or pseudo colour, with the scale bar for the objective the file names and a "Z position / span
// n / N" text), the tile of the merged extended-focus image, and the deletion of a slice.
//
// The browser keeps no pixels: each strip item carries its slice file's path, and every display
// reads the file again. It talks to the page only through the main window's connections.
class ZStackImageWidget : public QWidget
{
    Q_OBJECT
public:
    enum ViewMode : int { LIST_MODE = 0, THUMBNAIL_MODE = 1 };
    static constexpr int kListStep = 1;        // scroll step of the list mode, in items
    static constexpr int kThumbnailStep = 120; // scroll step of the thumbnail mode: one grid row
    static const QString kDeleteFailedText;

    explicit ZStackImageWidget(QWidget *parent = nullptr);
    ~ZStackImageWidget() override;

    // Annotation font size and colour from [Setting_MultiColor]; the next slice reads its
    // objective's pixel size again.
    void readSetting();
    // Empties the strip; the view keeps its image.
    void clear();
    // Shows the slice of a strip row; annotate rebuilds the annotation text.
    void loadImageByIndex(int row, bool annotate);
    void loadImageByFullFocus();
    void changeViewMode(ViewMode mode);
    // The maker and magnification of the "Objective" value of a metadata text ("Olympus 10X NA
    // 0.25 ..."); empty and 0 when it has none or fewer than three words.
    static void objectiveOfMeta(const QString &meta, QString &brand, float &magnification);
    // The same of an "Objective" value itself.
    static void objectiveOf(const QString &objective, QString &brand, float &magnification);

    // For the page's tests and the screenshots.
    Ui_ZStackImageWidget *form() const { return ui; }
    bool fullFocusShown() const { return m_bFullFocusShown; }
    ViewMode viewMode() const { return m_ViewMode; }
    SeriesVideoExporter *videoExporter() const { return m_pVideoExporter; }

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails);
    void changedCurrentIndex(int index);
    void loadFullThumbnail(bool bFullFocus, ThumbnailInfo &image);
    void setScaleBar(TSScaleBar scaleBar);
    void slotGetScaleBarPoint();
    void slotEnableAnnotation(bool bShow);
    void slotGetAnnotationTextInfo();
    // The merge is started by the page; nothing to do here.
    void slotCreateFullFocusImage() {}
    // The MP4 export of the strip's slices as the view shows them.
    void slotSaveVideo();
    void slotMouseZoomEvent();

signals:
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void changeCurrentIndex(int index);
    void setScaleBarPoint(QPointF point);
    void setAnnotationTextInfo(TAnnotationTextInfo info);
    void deleteThumbnail(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_IMAGE_TYPE_THUMBNAIL_clicked();
    void on_BUTTON_IMAGE_TYPE_LIST_clicked();
    void on_BUTTON_IMAGE_LIST_UP_clicked();
    void on_BUTTON_IMAGE_LIST_DOWN_clicked();
    void on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item);
    void on_BUTTON_IMAGE_clicked();
    void on_BUTTON_DELETE_IMAGE_clicked();

private:
    void deleteItems();
    void scrollList(int direction);
    void setTileSelected(bool selected);
    void showMessage(int type);
    int confirm(int type);
    QString positionOfRow(int row);
    void setObjective(const QString &objective);

    static constexpr int kPositionRole = Qt::UserRole + 1; // a row's "Z Position", once read

    bool m_bPseudoColor = false;
    int m_nPseudoColorIndex = 7;
    TSScaleBar m_ScaleBar;
    QString m_Objective;         // the objective text the view's pixel size was set for
    bool m_bObjectiveSet = false;
    bool m_bResetView = true;
    QByteArray m_FullFocusImagePath;
    QRect m_ListUpButtonRect;
    QRect m_ListWidgetRect;
    bool m_bShowAnnotation = false;
    bool m_bFullFocusShown = false;
    ViewMode m_ViewMode = THUMBNAIL_MODE;
    std::unique_ptr<ImReaderWriter> m_pReader; // every display reads into the same buffers
    SeriesVideoExporter *m_pVideoExporter;
    Ui_ZStackImageWidget *ui;
};
