#pragma once
#include "SlideShowState.h"
#include "TImageType.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <set>
#include <vector>

class ImReaderWriter;
class QListWidgetItem;
class SeriesStrip;
class Ui_GrowthMonitorImageWidget;

// The Growth monitor browser beside the page: a strip of the analysed images with a slider and a
// position label, Left and Right, a slide show, and a zoomable view with its navigator that shows
// the chosen image as its segmentation image, its count image or the raw source (the three type
// buttons). The strip items carry the result base and source paths; every display reads the file
// again. The strip and the page's result table follow each other through changeCurrentIndex and
// changedCurrentIndex. GUI thread only.
class GrowthMonitorImageWidget : public QWidget
{
    Q_OBJECT
public:
    static const QString kShowIntervalDefault; // "1.0 s"

    explicit GrowthMonitorImageWidget(QWidget *parent = nullptr);
    ~GrowthMonitorImageWidget() override;

    // The slide-show interval from the configuration file.
    void readSetting();
    // The constructor's connections once more.
    void makeSignalSlotConnection();

    // The file a strip row shows for an image type; empty for a row that does not exist.
    QString filePath(int row, TImageType type) const;

    // For tests, screenshots and benchmarks.
    Ui_GrowthMonitorImageWidget *form() const { return ui; }
    SlideShowState slideShowState() const { return m_SlideShowState; }
    int slideIntervalMs() const { return m_SlideInterval; }
    TImageType imageType() const { return m_CurrentImageType; }
    TSScaleBar scaleBar() const { return m_ScaleBar; }
    QTimer &slideTimer() { return m_SlideTimer; }
    // Shows a strip row as the current type; false when its file is not a frame the view shows.
    bool loadImageByIndex(int index);

public slots:
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails, int listIndex);
    void changedCurrentIndex(int index);
    void updateSlide();
    void setScaleBar(TSScaleBar scaleBar);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void slotDeleteSelectedItem();

signals:
    void changeCurrentIndex(int index);
    void deletedItemIndex(std::set<int> rows);
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_IMAGE_LIST_LEFT_clicked();
    void on_BUTTON_IMAGE_LIST_RIGHT_clicked();
    void on_BUTTON_SLIDESHOW_START_clicked();
    void on_BUTTON_SLIDESHOW_PAUSE_clicked();
    void on_BUTTON_SLIDESHOW_STOP_clicked();
    void on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item);
    void on_SLIDER_IMAGE_INDICATOR_valueChanged(int value);
    void on_COMBOBOX_SLIDESHOW_INTERVAL_currentIndexChanged(const QString &text);
    void slotMouseZoomEvent();
    void on_BUTTON_DELETE_IMAGE_clicked();
    void on_BUTTON_IMAGE_COUNT_clicked();
    void on_BUTTON_IMAGE_SEGMENTATION_clicked();
    void on_BUTTON_IMAGE_RAW_clicked();

private:
    void changeImageType(TImageType type);
    void typeButtonClicked(TImageType type);
    void setSlideShowButtonState(SlideShowState state);
    void setDisplayRegionSize(int width, int height);

    QTimer m_SlideTimer;
    int m_SlideInterval = 1000;
    bool m_bPseudoColor = false;
    int m_PseudoColorIndex = 7;
    TSScaleBar m_ScaleBar;
    TImageType m_CurrentImageType = IMAGE_SEGMENTATION;
    bool m_bResetView = true;
    SlideShowState m_SlideShowState = SlideShowReady;
    std::unique_ptr<ImReaderWriter> m_pReader; // every display reads into the same buffers
    std::unique_ptr<SeriesStrip> m_pStrip;
    Ui_GrowthMonitorImageWidget *ui;
};
