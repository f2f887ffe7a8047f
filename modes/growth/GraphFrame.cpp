#include "GraphFrame.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
// Set between beginAddSamples and endAddSamples; shared by every graph, so two graphs must not
// interleave their refreshes.
bool g_begin_add_samples = false;

const QColor kBar(255, 127, 0);
const QColor kGuide(0, 0, 255);
const QColor kDragged(0, 255, 255);
} // namespace

GraphFrame::GraphFrame(QWidget *parent)
    : QFrame(parent)
{
    setAttribute(Qt::WA_MouseTracking);
}

void GraphFrame::setYScale(const float &min, const float &max)
{
    m_bFixedY = true;
    m_fYMin = min;
    m_fYMax = max;
}

int GraphFrame::pixel(qreal value, int limit)
{
    // NaN ends at -1 too: qBound returns the lower bound for it.
    return int(qBound(qreal(-1), value, qreal(limit) + 1));
}

void GraphFrame::addGuideLine(graph::DirectionType direction)
{
    if (direction == graph::VERTICAL)
        m_VerticalLines.push_back(QLine(0, 0, 0, height()));
    else if (direction == graph::HORIZONTAL)
        m_HorizontalLines.push_back(QLine(0, 0, width(), 0));
}

void GraphFrame::setGuideLinePosition(graph::DirectionType direction, int lineIndex, int position)
{
    if (direction == graph::VERTICAL) {
        if (lineIndex >= 0 && size_t(lineIndex) < m_VerticalLines.size() && position >= 0
            && size_t(position) < m_XPositions.size()) {
            const int x = m_XPositions[size_t(position)];
            m_VerticalLines[size_t(lineIndex)] = QLine(x, 0, x, height());
        }
    } else if (direction == graph::HORIZONTAL) {
        if (lineIndex >= 0 && size_t(lineIndex) < m_HorizontalLines.size() && position >= 0
            && size_t(position) < m_YPositions.size()) {
            const int y = m_YPositions[size_t(position)];
            m_HorizontalLines[size_t(lineIndex)] = QLine(0, y, width(), y);
        }
    }
}

void GraphFrame::setSamples(std::vector<float> &values)
{
    const int w1 = width() - 1, h1 = height() - 1;
    std::vector<QPointF> points;
    m_XPositions.clear();
    if (!values.empty()) {
        const float step = m_bAutoScale ? float(w1) / float(values.size()) : float(m_nInterval);
        const auto range = std::minmax_element(values.begin(), values.end());
        const float min = m_bFixedY ? m_fYMin : *range.first;
        const float max = m_bFixedY ? m_fYMax : *range.second;
        for (size_t i = 0; i < values.size(); ++i) {
            const float x = float(i) * step;
            m_XPositions.push_back(pixel(qreal(x) + m_nThickness, width()));
            const float above = values[i] - min;
            // A zero range draws every bar empty rather than dividing by zero.
            const float y = above == 0.0f || max == min ? 0.0f : above * float(h1) / (max - min);
            points.emplace_back(x, y);
        }
    }
    m_Current.setSamples(points);
}

void GraphFrame::setSamples(std::vector<QPointF> &points)
{
    if (m_bAutoScale)
        calculateSamples(points);
    m_Current.setSamples(points);
    m_YPositions.clear();
    for (int y = 0; y < height() - 1; ++y)
        m_YPositions.push_back(y);
    m_XPositions.clear();
    for (int x = 0; x < width() - 1; ++x)
        m_XPositions.push_back(x);
}

void GraphFrame::calculateMinAndMaxValue(const std::vector<QPointF> &points, qreal &minX, qreal &minY, qreal &maxX,
                                         qreal &maxY) const
{
    minX = minY = maxX = maxY = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const QPointF &p = points[i];
        if (i == 0 || p.x() < minX)
            minX = p.x();
        if (i == 0 || p.y() < minY)
            minY = p.y();
        if (i == 0 || p.x() > maxX)
            maxX = p.x();
        if (i == 0 || p.y() > maxY)
            maxY = p.y();
    }
    if (m_bFixedY) {
        minY = qreal(m_fYMin);
        maxY = qreal(m_fYMax);
    }
}

void GraphFrame::calculateSamples(std::vector<QPointF> &points) const
{
    qreal minX, minY, maxX, maxY;
    calculateMinAndMaxValue(points, minX, minY, maxX, maxY);
    const qreal w1 = width() - 1, h1 = height() - 1;
    // Each axis runs from 0 to its maximum; an axis whose maximum is not above 0 collapses to 0.
    for (QPointF &p : points)
        p = QPointF(maxX > 0 ? p.x() * w1 / maxX : 0, maxY > 0 ? p.y() * h1 / maxY : 0);
}

void GraphFrame::beginAddSamples()
{
    g_begin_add_samples = true;
    m_Series.clear();
}

bool GraphFrame::addSamples(std::vector<float> &values, const QColor &color)
{
    if (!g_begin_add_samples)
        return false;
    setSamples(values);
    m_Current.setColor(color);
    m_Series.push_back(m_Current);
    return true;
}

void GraphFrame::endAddSamples()
{
    g_begin_add_samples = false;
}

void GraphFrame::setSamplesShow(unsigned int index, bool show)
{
    if (index < m_Series.size())
        m_Series[index].setShow(show);
}

void GraphFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int w = width(), h = height();
    painter.translate(w / 2, h / 2);
    painter.scale(1, -1);
    painter.translate(-(w / 2), -(h / 2));
    switch (m_GraphType) {
    case graph::HISTOGRAM:
        drawHistogram(painter);
        break;
    case graph::LINE_PLOTS:
        drawLinePlots(painter);
        break;
    case graph::SCATTER_PLOTS:
        drawScatterPlots(painter);
        break;
    }
}

void GraphFrame::drawHistogram(QPainter &painter)
{
    // With guide lines on, bars need the two vertical lines that bound the range.
    const bool ranged = m_bShowGuideLine;
    if (ranged && m_VerticalLines.size() != 2)
        return;
    for (const QPointF &p : m_Current.samples()) {
        const int x = pixel(p.x(), width()), y = pixel(p.y(), height());
        if (y <= 0)
            continue;
        QColor color = kBar;
        if (ranged && (x < m_VerticalLines[0].x1() || x > m_VerticalLines[1].x1()))
            color = m_OutOfRangeColor;
        painter.fillRect(QRect(QPoint(x, 0), QPoint(x + m_nThickness - 1, y - 1)), color);
    }
    if (ranged) {
        painter.setPen(kGuide);
        painter.drawLine(m_VerticalLines[0]);
        painter.drawLine(m_VerticalLines[1]);
    }
}

void GraphFrame::drawLinePlots(QPainter &painter)
{
    painter.save();
    for (const GraphData &series : m_Series) {
        if (!series.show())
            continue;
        const std::vector<QPointF> samples = series.samples();
        std::vector<QPoint> points;
        for (const QPointF &p : samples)
            points.emplace_back(pixel(p.x(), width()), pixel(p.y(), height()));
        painter.setPen(series.color());
        for (size_t i = 1; i < points.size(); ++i)
            painter.drawLine(points[i - 1], points[i]);
        for (size_t i = 0; i < points.size(); ++i) {
            painter.setPen(QPen(int(i) == m_nIndex ? Qt::red : Qt::black, 5));
            painter.drawPoint(points[i]);
        }
    }
    if (m_bShowGuideLine && m_VerticalLines.size() == 1) {
        painter.setPen(kGuide);
        painter.drawLine(m_VerticalLines[0]);
    }
    painter.restore();
}

void GraphFrame::drawScatterPlots(QPainter &painter)
{
    painter.save();
    QPen pen;
    if (m_ScatterStyle == graph::STYLE_POINT)
        pen.setWidth(m_nThickness);
    // Quadrants around the first vertical and the first horizontal line; a missing line stands at 0.
    const bool quadrants = m_bShowGuideLine && (!m_VerticalLines.empty() || !m_HorizontalLines.empty());
    const int vx = m_VerticalLines.empty() ? 0 : m_VerticalLines[0].x1();
    const int hy = m_HorizontalLines.empty() ? 0 : m_HorizontalLines[0].y1();
    const int w = width(), h = height();
    for (const QPointF &p : m_Current.samples()) {
        const qreal x = p.x(), y = p.y();
        if (quadrants) {
            pen.setColor(x >= vx ? (y >= hy ? m_UpperRight : m_LowerRight) : (y >= hy ? m_UpperLeft : m_LowerLeft));
        }
        painter.setPen(pen);
        switch (m_ScatterStyle) {
        case graph::STYLE_POINT:
            painter.drawPoint(QPoint(pixel(x, w), pixel(y, h)));
            break;
        case graph::STYLE_PLUS:
            painter.drawLine(pixel(x - 2, w), pixel(y, h), pixel(x + 2, w), pixel(y, h));
            painter.drawLine(pixel(x, w), pixel(y - 2, h), pixel(x, w), pixel(y + 2, h));
            break;
        case graph::STYLE_CROSS:
            painter.drawLine(pixel(x - 3, w), pixel(y - 3, h), pixel(x + 2, w), pixel(y + 2, h));
            painter.drawLine(pixel(x - 3, w), pixel(y + 3, h), pixel(x + 2, w), pixel(y - 2, h));
            break;
        case graph::STYLE_CIRCLE: {
            const int r = m_nThickness;
            painter.drawEllipse(QRectF(pixel(x - r, w), pixel(y - r, h), 2 * r, 2 * r));
            break;
        }
        }
    }
    if (m_bShowGuideLine) {
        if (m_VerticalLines.size() == 1) {
            painter.setPen(m_bDragVertical ? kDragged : kGuide);
            painter.drawLine(m_VerticalLines[0]);
        }
        if (m_HorizontalLines.size() == 1) {
            painter.setPen(m_bDragHorizontal ? kDragged : kGuide);
            painter.drawLine(m_HorizontalLines[0]);
        }
    }
    painter.restore();
}

bool GraphFrame::hitsVerticalLine(const QPoint &at) const
{
    if (m_VerticalLines.empty())
        return false;
    const QLine &l = m_VerticalLines[0];
    return at.x() >= l.x1() - 4 && at.x() <= l.x2() + 5 && at.y() > l.y1() && at.y() <= l.y2();
}

bool GraphFrame::hitsHorizontalLine(const QPoint &at) const
{
    if (m_HorizontalLines.empty())
        return false;
    const QLine &l = m_HorizontalLines[0];
    const int up = height() - 1 - at.y();
    return at.x() >= l.x1() && at.x() <= l.x2() && up >= l.y1() - 5 && up <= l.y2() + 5;
}

void GraphFrame::moveVerticalLine(int dx)
{
    m_VerticalLines[0].translate(dx, 0);
}

void GraphFrame::moveHorizontalLine(int dy)
{
    m_HorizontalLines[0].translate(0, dy);
}

void GraphFrame::mousePressEvent(QMouseEvent *event)
{
    const QPoint at = event->localPos().toPoint();
    if (m_GraphType == graph::SCATTER_PLOTS && m_bShowGuideLine) {
        m_bDragVertical = hitsVerticalLine(at);
        m_bDragHorizontal = hitsHorizontalLine(at);
        if (m_bDragVertical || m_bDragHorizontal)
            setCursor(Qt::ClosedHandCursor);
    }
    m_LastMouse = at;
}

void GraphFrame::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->localPos().toPoint();
    if (m_GraphType == graph::SCATTER_PLOTS) {
        if (m_bDragVertical)
            moveVerticalLine(at.x() - m_LastMouse.x());
        if (m_bDragHorizontal)
            moveHorizontalLine(m_LastMouse.y() - at.y());
        if (!m_bDragVertical && !m_bDragHorizontal && m_bShowGuideLine) {
            const Qt::CursorShape overVertical = hitsVerticalLine(at) ? Qt::OpenHandCursor : Qt::ArrowCursor;
            if (overVertical != cursor().shape())
                setCursor(overVertical);
            else
                setCursor(hitsHorizontalLine(at) ? Qt::OpenHandCursor : Qt::ArrowCursor);
        }
    }
    m_LastMouse = at;
    update();
}

void GraphFrame::mouseReleaseEvent(QMouseEvent *)
{
    if (m_GraphType != graph::SCATTER_PLOTS)
        return;
    m_bDragVertical = false;
    m_bDragHorizontal = false;
    setCursor(Qt::ArrowCursor);
    update();
}
