#pragma once
#include "GraphData.h"
#include "GraphTypes.h"

#include <QColor>
#include <QFrame>
#include <QLine>
#include <QPoint>
#include <vector>

class QPainter;

// A small self-drawn chart: the series as vertical bars, joined points or point markers, scaled
// automatically or to a fixed vertical range, with guide lines that can be dragged in scatter
// mode. Draws only data and guide lines, in widget pixels with the origin at the bottom left.
// No operation repaints: the owner calls update() after changing data. GUI thread only.
class GraphFrame : public QFrame
{
    Q_OBJECT
public:
    explicit GraphFrame(QWidget *parent = nullptr);

    void setGraphType(graph::GraphType type) { m_GraphType = type; }
    void setAutoScale(bool on) { m_bAutoScale = on; }
    // Fixes the vertical range; there is no way back to the data's own range.
    void setYScale(const float &min, const float &max);
    void setThickness(int thickness) { m_nThickness = thickness; }
    void setInterval(int interval) { m_nInterval = interval; }
    void setIndex(int index) { m_nIndex = index; }
    void setScatterPlotsStyle(graph::ScatterPlotsStyle style) { m_ScatterStyle = style; }
    void setColorForOutofRange(const QColor &color) { m_OutOfRangeColor = color; }
    void setShowGuideLine(bool show) { m_bShowGuideLine = show; }
    void addGuideLine(graph::DirectionType direction);
    // Moves line lineIndex to the pixel of sample position position; invalid indexes do nothing.
    void setGuideLinePosition(graph::DirectionType direction, int lineIndex, int position);

    // Values as bars or points: spaced by width / count (auto scale) or the interval, scaled to
    // the height between the minimum and maximum (or the fixed range).
    void setSamples(std::vector<float> &values);
    // Points; with auto scale they are first mapped to pixels, in the caller's vector.
    void setSamples(std::vector<QPointF> &points);

    // One refresh of several series: begin, addSamples per series, end. addSamples outside the
    // bracket returns false and changes nothing.
    void beginAddSamples();
    bool addSamples(std::vector<float> &values, const QColor &color);
    void endAddSamples();
    void setSamplesShow(unsigned int index, bool show);

    // For tests and owners that inspect the data.
    const GraphData &currentSeries() const { return m_Current; }
    const std::vector<QLine> &verticalLines() const { return m_VerticalLines; }
    const std::vector<QLine> &horizontalLines() const { return m_HorizontalLines; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void calculateMinAndMaxValue(const std::vector<QPointF> &points, qreal &minX, qreal &minY, qreal &maxX,
                                 qreal &maxY) const;
    void calculateSamples(std::vector<QPointF> &points) const;
    void drawHistogram(QPainter &painter);
    void drawLinePlots(QPainter &painter);
    void drawScatterPlots(QPainter &painter);
    bool hitsVerticalLine(const QPoint &at) const;
    bool hitsHorizontalLine(const QPoint &at) const;
    void moveVerticalLine(int dx);
    void moveHorizontalLine(int dy);
    // A coordinate as a pixel, held near the widget so that it always fits an int.
    static int pixel(qreal value, int limit);

    bool m_bAutoScale = true;
    graph::GraphType m_GraphType = graph::HISTOGRAM;
    GraphData m_Current;
    std::vector<GraphData> m_Series;
    int m_nThickness = 1;
    int m_nInterval = 1;
    bool m_bShowGuideLine = false;
    std::vector<QLine> m_VerticalLines;
    std::vector<QLine> m_HorizontalLines;
    std::vector<int> m_XPositions;
    std::vector<int> m_YPositions;
    QColor m_OutOfRangeColor;
    QColor m_UpperRight{255, 0, 0};
    QColor m_UpperLeft{255, 255, 255};
    QColor m_LowerLeft{0, 255, 0};
    QColor m_LowerRight{255, 255, 0};
    graph::ScatterPlotsStyle m_ScatterStyle = graph::STYLE_POINT;
    bool m_bDragHorizontal = false;
    bool m_bDragVertical = false;
    QPoint m_LastMouse;
    bool m_bFixedY = false;
    float m_fYMin = 0;
    float m_fYMax = 100;
    int m_nIndex = 0;
};
