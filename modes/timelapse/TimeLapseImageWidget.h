#pragma once
#include "SlideShowState.h"
#include "TAnnotationTextInfo.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

class ImReaderWriter;
class QListWidgetItem;
class QPainter;
class SeriesStrip;
class SeriesVideoExporter;
class Ui_TimeLapseImageWidget;

// The time-lapse series browser beside the Time lapse page: a strip of thumbnails with a slider,
// a zoomable view that shows the chosen image from its file (grey or pseudo colour, scale bar for
// the objective the file names, "time / last time  n / N" annotation), Left and Right, deletion of
// one image file, a slide show and the MP4 export of the series.
//
// The browser keeps no pixels: each strip item carries its file's path and every display reads
// the file again. GUI thread only.
class TimeLapseImageWidget : public QWidget
{
    Q_OBJECT
public:
    static const QString kShowIntervalDefault; // "1.0 s"
    static constexpr int kFallbackSlideInterval = 1000;

    explicit TimeLapseImageWidget(QWidget *parent = nullptr);
    ~TimeLapseImageWidget() override;

    // Slide-show interval, annotation font size and colour from the configuration file.
    void readSetting();
    // Shows strip row index; annotate rebuilds the annotation text.
    void loadImageByIndex(int index, bool annotate);
    void setDisplayRegionSize(int width, int height);
    // The interval an item text such as "2.5 s" gives, in ms; not a positive number: the fallback.
    static int slideInterval(const QString &text);
    // The annotation text of image number (1-based) of count.
    static QString annotationText(const QString &time, const QString &lastTime, int number, int count);
    // A painter version of the view's scale bar (the view draws the bar itself).
    void drawScaleBar(QPainter &painter);
    // The constructor's connections once more.
    void makeSignalSlotConnection();

    // For the page's tests, the screenshots and the benchmarks.
    Ui_TimeLapseImageWidget *form() const { return ui; }
    SeriesVideoExporter *videoExporter() const { return m_pVideoExporter; }
    SlideShowState slideShowState() const { return m_SlideShowState; }
    int slideIntervalMs() const { return m_SlideInterval; }
    bool annotationShown() const { return m_bShowAnnotation; }
    TSScaleBar scaleBar() const { return m_ScaleBar; }
    QTimer &slideTimer() { return m_SlideTimer; }

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails, bool bLoad);
    void setScaleBar(TSScaleBar scaleBar);
    void slotGetScaleBarPoint();
    void slotEnableAnnotation(bool bShow);
    void slotGetAnnotationTextInfo();
    void slotSaveVideo();
    void updateSlide();

signals:
    void changeCurrentIndex(int index);
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void setScaleBarPoint(QPointF point);
    void setAnnotationTextInfo(TAnnotationTextInfo info);
    void deleteThumbnail(int index);
    void signalEnableMainMenu(bool enable);
    void setEnableControlState(bool enable);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void changedCurrentIndex(int index);
    void on_BUTTON_IMAGE_LIST_LEFT_clicked();
    void on_BUTTON_IMAGE_LIST_RIGHT_clicked();
    void on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item);
    void on_SLIDER_IMAGE_INDICATOR_valueChanged(int value);
    void on_BUTTON_DELETE_IMAGE_clicked();
    void slotMouseZoomEvent();
    void on_BUTTON_SLIDESHOW_START_clicked();
    void on_BUTTON_SLIDESHOW_PAUSE_clicked();
    void on_BUTTON_SLIDESHOW_STOP_clicked();
    void on_COMBOBOX_SLIDESHOW_INTERVAL_currentIndexChanged(const QString &text);
    void on_BUTTON_VIDEO_clicked();

private:
    void setSlideShowButtonState(SlideShowState state);
    QString itemPath(int row) const;
    // The view's objective, and the last file's time: while a show plays (settings and series
    // locked) each is read again only when the objective or the last file changes.
    void setObjective(const QString &objective);
    QString lastTime(const QString &path);

    bool m_bDragging = false;
    QPoint m_RegionPos;
    QPoint m_PressPos;
    QPoint m_MovePos;
    QSize m_RegionSize;
    QRect m_RegionRect;
    QTimer m_SlideTimer;
    int m_SlideInterval = kFallbackSlideInterval;
    bool m_bPseudoColor = false;
    int m_PseudoColorIndex = 7;
    TSScaleBar m_ScaleBar;
    bool m_bResetView = true;
    QElapsedTimer m_SlideElapsed;
    SlideShowState m_SlideShowState = SlideShowReady;
    bool m_bShowAnnotation = false;
    QString m_Objective;      // as last given to the view while playing
    QString m_LastTimePath;   // the last file whose time m_LastTime holds, while playing
    QString m_LastTime;
    std::unique_ptr<ImReaderWriter> m_pReader; // every display reads into the same buffers
    std::unique_ptr<SeriesStrip> m_pStrip;
    SeriesVideoExporter *m_pVideoExporter;
    Ui_TimeLapseImageWidget *ui;
};
