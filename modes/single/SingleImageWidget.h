#pragma once
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>
#include <memory>
#include <vector>

class ImMeasurer;
class QPainter;

// The Single mode's image area (1272 x 1000): paints its image at the top-left corner and lets the
// user draw one measurement outline at a time with the mouse or a finger, painting it itself.
// Widget coordinates are image pixels (no zoom, no panning). Each finished outline is measured by
// the widget's own ImMeasurer and the result emitted. It also renders the image with the outline
// burnt in (and without the scale bar, which the save dialog draws) for saving.
class SingleImageWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1272;
    static constexpr int kHeight = 1000;
    static constexpr int kCloseZoneSize = 10;

    explicit SingleImageWidget(QWidget *parent = nullptr);
    ~SingleImageWidget() override;

    // [Setting_Single] LineThickness (+1), LineColor and FontColor (colour indexes).
    void readSetting();

    int currentMeasurementTool() const { return m_nCurrentTool; }
    const QVector<QPoint> &drawingPoints() const { return m_DrawingPoints; }
    QString annotationText() const { return m_Text; }
    QPoint annotationTextPosition() const { return m_TextPosition; }
    const QImage &annotationImage() const { return m_AnnotationImage; }

public slots:
    // The frame is not shown here: the page keeps it in its model.
    void setImageData(int pseudoColorIndex, uchar *data, bool bPseudoColor, int bits);
    void setCurrentMeasurementTool(int tool);
    void setCurrentLineColor(QColor color) { m_LineColor = color; }
    void setCurrentLineThickness(int thickness) { m_nLineThickness = thickness; }
    void setCurrentFontColor(QColor color) { m_FontColor = color; }
    void setCurrentFontThickness(int pointSize) { m_nFontSize = pointSize; }
    void setScaleBar(TSScaleBar scaleBar);
    // Renders the image and the outline (no scale bar) into the RGB888 annotation image, then
    // hands it over with the flag.
    void slotMakeAnnotationImageData(bool before);

signals:
    void measurementResultChanged(TSMeasurementItem &item);
    void currentImagePositionAndIntensity(QPoint point, int intensity);
    void signalSendAnnotationImageData(bool before, uchar *data);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The event's position rounded to whole pixels, and the same clamped to the image area.
    static QPoint eventPosition(const QMouseEvent *event);
    static QPoint clamped(QPoint point);
    void appendPoint(const QPoint &point);
    void removeLastPoint();
    void clearPoints();
    void pressTool(const QPoint &position);
    void runKeyboard(const QPoint &position);
    void measureReleased();
    // Region from the first two points (false: fewer than two).
    bool regionFromFirstTwo();
    void emitMeasurement();

    // What paintEvent and the annotation rendering share: image, then (optionally) the scale bar,
    // then the outline of the current tool.
    void paintContents(QPainter &painter, bool withScaleBar);
    void drawScaleBar(QPainter &painter) const;
    void drawTool(QPainter &painter);
    void drawPolyline(QPainter &painter) const;

    int m_nCurrentTool = 0;
    std::unique_ptr<ImMeasurer> m_pMeasurer;
    QPixmap m_DisplayImage;
    QImage m_Image8;
    std::vector<uchar> m_Image16;
    QImage m_AnnotationImage;
    QVector<QPoint> m_DrawingPoints;
    std::vector<cv::Point> m_MeasuringPoints;
    QPoint m_CurrentPoint;
    bool m_bButtonDown = false;
    bool m_bSegmentFinished = false;
    QRect m_CloseZone;
    QColor m_LineColor;
    int m_nLineThickness = 1;
    QColor m_FontColor;
    int m_nFontSize = 10;
    QPoint m_TextPosition{0, 0};
    QString m_Text;
    TSScaleBar m_ScaleBar;
};
