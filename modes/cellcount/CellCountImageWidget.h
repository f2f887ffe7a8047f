#pragma once
#include "ThumbnailInfo.h"
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

class QListWidgetItem;
class Ui_CellCountImageWidget;

// The Cell count viewer: one image of the current count, full size and zoomable, read from the
// count folder: the tagged overlay or the counted frame of a count, or the raw frame of a manual
// capture, which is counted by hand with the point-count tool. The count's images are the rows of
// a hidden list (row n is the work file "Temp_%06d" n); all traffic with the page goes through the
// main window's connections.
class CellCountImageWidget : public QWidget
{
    Q_OBJECT
public:
    enum ViewMode : int { LIST_MODE = 0, THUMBNAIL_MODE = 1 };

    explicit CellCountImageWidget(QWidget *parent = nullptr);
    ~CellCountImageWidget() override;

    // Empties the image list; the view keeps its image.
    void clear();
    // The measurement line style from [Setting_MultiColor].
    void readSetting();
    // Shows row index from its work file; reset clears the annotations and returns to 100 %.
    void loadImageByIndex(int index, bool reset);
    // The work file of a row: the suffix by the row's kind and the tag flag.
    QString imagePathOf(int index) const;

    // For the tests, the benchmarks and the screenshots.
    Ui_CellCountImageWidget *form() const { return ui; }
    bool tagShown() const { return m_bTagImage; }
    bool pseudoColor() const { return m_bPseudoColor; }
    int pseudoColorIndex() const { return m_nPseudoColorIndex; }
    ViewMode viewMode() const { return m_ViewMode; }

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails);
    void changedCurrentIndex(int index);
    void setCurrentMeasurementTool(int tool);
    void slotGetCurrentImageData();
    void slotShowTagImage(bool tagged, bool show);
    void setScaleBar(TSScaleBar scaleBar);
    void slotMouseZoomEvent();
    void setMeasurementResult(TSMeasurementItem &item, bool inserted);

signals:
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void changeCurrentIndex(int index);
    void measurementResultChanged(TSMeasurementItem &item);
    void generateImageData(QImage image);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_IMAGE_TYPE_THUMBNAIL_clicked();
    void on_BUTTON_IMAGE_TYPE_LIST_clicked();
    void on_BUTTON_IMAGE_LIST_UP_clicked();
    void on_BUTTON_IMAGE_LIST_DOWN_clicked();
    void on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item);

private:
    void changeViewMode(ViewMode mode);
    // The image a row shows when the page still holds it in memory (null otherwise).
    QImage heldImage(int index) const;

    bool m_bPseudoColor = false;
    int m_nPseudoColorIndex = 7;
    TSScaleBar m_ScaleBar;
    bool m_bTagImage = true;
    ViewMode m_ViewMode = THUMBNAIL_MODE;
    std::vector<ThumbnailInfo> m_Images; // the rows' images
    Ui_CellCountImageWidget *ui;
};
