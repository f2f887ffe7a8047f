#pragma once
#include <QColor>
#include <QPointF>
#include <vector>

// One series of GraphFrame: its points in widget pixels (y up), its colour and whether it shows.
class GraphData
{
public:
    void setColor(const QColor &color) { m_Color = color; }
    QColor color() const { return m_Color; }
    void setShow(bool show) { m_bShow = show; }
    bool show() const { return m_bShow; }
    std::vector<QPointF> samples() const { return m_Samples; }
    void setSamples(const std::vector<QPointF> &samples) { m_Samples = samples; }
    void clear() { m_Samples.clear(); }

private:
    std::vector<QPointF> m_Samples;
    QColor m_Color;
    bool m_bShow = true;
};
