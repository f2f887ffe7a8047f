#include "GraphShots.h"

#include "GraphFrame.h"

#include <QWidget>
#include <cmath>

QStringList graphShotNames()
{
    return {"bars", "lines", "scatter"};
}

QWidget *graphShot(const QString &name)
{
    auto *backdrop = new QWidget;
    backdrop->setStyleSheet("background: rgb(214, 218, 224);");
    backdrop->resize(680, 380);
    auto *graph = new GraphFrame(backdrop);
    graph->setGeometry(40, 40, 600, 300);
    graph->setThickness(3);
    graph->setYScale(0, 100);
    if (name == "bars" || name == "lines") {
        // A 0, then the confluency of each image, as the growth page refreshes it.
        std::vector<float> growth{0, 4.9f, 16.6f, 28.5f, 40.5f, 52.6f, 64.6f, 76.9f, 89.2f};
        std::vector<float> other{0, 3.1f, 9.8f, 21.4f, 30.2f, 47.9f, 55.0f, 70.3f, 81.5f};
        graph->setGraphType(name == "bars" ? graph::HISTOGRAM : graph::LINE_PLOTS);
        graph->setIndex(4);
        graph->beginAddSamples();
        if (name == "lines")
            graph->addSamples(other, QColor(0, 160, 0));
        graph->addSamples(growth, QColor(0, 0, 255));
        graph->endAddSamples();
    } else {
        graph->setGraphType(graph::SCATTER_PLOTS);
        graph->setAutoScale(false);
        graph->setScatterPlotsStyle(graph::STYLE_CIRCLE);
        std::vector<QPointF> points;
        for (int i = 0; i < 160; ++i)
            points.emplace_back(30 + std::fmod(i * 97.31, 540.0), 20 + std::fmod(i * 53.17 + (i % 7) * 11.0, 260.0));
        graph->setSamples(points);
        graph->setShowGuideLine(true);
        graph->addGuideLine(graph::VERTICAL);
        graph->addGuideLine(graph::HORIZONTAL);
        graph->setGuideLinePosition(graph::VERTICAL, 0, 320);
        graph->setGuideLinePosition(graph::HORIZONTAL, 0, 140);
    }
    return backdrop;
}
