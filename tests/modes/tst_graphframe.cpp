// The graph widget painted into an image: bars, series colours, scatter quadrants and markers,
// dragging a guide line, and the guards against empty, flat and out-of-range data.
#include "GraphFrame.h"

#include <QApplication>
#include <QMouseEvent>
#include <QtTest>

namespace {

const QColor kOrange(255, 127, 0);

QImage paint(GraphFrame &graph, const QColor &background = Qt::white)
{
    QImage image(graph.size(), QImage::Format_RGB32);
    image.fill(background);
    graph.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// Pixels of colour per column, and the lowest row holding it (-1 when none).
QVector<int> columnHeights(const QImage &image, const QColor &colour, int *bottom = nullptr)
{
    QVector<int> heights(image.width(), 0);
    if (bottom)
        *bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour) {
                ++heights[x];
                if (bottom)
                    *bottom = std::max(*bottom, y);
            }
    return heights;
}

// Bars of height heights[i] at x positions starts[i], thickness wide, nothing elsewhere.
QVector<int> expectedBars(int width, const QList<int> &starts, const QList<int> &heights, int thickness)
{
    QVector<int> expected(width, 0);
    for (int i = 0; i < starts.size(); ++i)
        for (int x = starts[i]; x < starts[i] + thickness; ++x)
            expected[x] = heights[i];
    return expected;
}

QRect extent(const QImage &image, const QColor &colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                box |= QRect(x, y, 1, 1);
    return box;
}

void send(QWidget &widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, widget.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

} // namespace

class TestGraphFrame : public QObject
{
    Q_OBJECT
private slots:
    void bars_data()
    {
        QTest::addColumn<QList<float>>("values");
        QTest::addColumn<bool>("autoScale");
        QTest::addColumn<bool>("fixedY");
        QTest::addColumn<QList<int>>("starts");
        QTest::addColumn<QList<int>>("heights");
        QTest::newRow("auto scale, fixed 0..100") << QList<float>{0, 50, 100} << true << true << QList<int>{0, 105, 210}
                                                   << QList<int>{0, 110, 220};
        QTest::newRow("interval 20") << QList<float>{0, 50, 100} << false << true << QList<int>{0, 20, 40}
                                     << QList<int>{0, 110, 220};
        QTest::newRow("data range") << QList<float>{5, 10, 15} << true << false << QList<int>{0, 105, 210}
                                    << QList<int>{0, 110, 220};
        QTest::newRow("zero range") << QList<float>{7, 7} << true << false << QList<int>{0} << QList<int>{0};
        QTest::newRow("beyond the fixed range") << QList<float>{-1e30f, 1e30f, 50} << true << true
                                                << QList<int>{0, 105, 210} << QList<int>{0, 220, 110};
        QTest::newRow("empty") << QList<float>{} << true << true << QList<int>{} << QList<int>{};
    }

    // Bars as the growth page draws them: 3 pixels wide in a 316 x 221 graph, standing on the
    // bottom row, as tall as the value's share of the height.
    void bars()
    {
        QFETCH(QList<float>, values);
        QFETCH(bool, autoScale);
        QFETCH(bool, fixedY);
        QFETCH(QList<int>, starts);
        QFETCH(QList<int>, heights);
        GraphFrame graph;
        graph.resize(316, 221);
        graph.setGraphType(graph::HISTOGRAM);
        graph.setAutoScale(autoScale);
        graph.setInterval(20);
        graph.setThickness(3);
        if (fixedY)
            graph.setYScale(0, 100);
        std::vector<float> v(values.begin(), values.end());
        graph.beginAddSamples();
        QVERIFY(graph.addSamples(v, Qt::blue));
        graph.endAddSamples();
        int bottom = -1;
        const QVector<int> drawn = columnHeights(paint(graph), kOrange, &bottom);
        const QVector<int> expected = expectedBars(316, starts, heights, 3);
        for (int x = 0; x < 316; ++x)
            QVERIFY2(drawn[x] == expected[x], qPrintable(QString("x %1: %2").arg(x).arg(drawn[x])));
        if (std::any_of(heights.begin(), heights.end(), [](int h) { return h > 0; }))
            QCOMPARE(bottom, 219);
    }

    // addSamples outside its bracket changes nothing; histogram mode draws the last series, line
    // mode every shown series in its colour with the index point red and the others black.
    void seriesAndColours()
    {
        GraphFrame graph;
        graph.resize(200, 101);
        graph.setYScale(0, 100);
        std::vector<float> first{20, 40, 60, 80}, second{90, 10};
        graph.beginAddSamples();
        graph.addSamples(first, Qt::blue);
        graph.addSamples(second, Qt::green);
        graph.endAddSamples();
        QVERIFY(!graph.addSamples(first, Qt::blue));
        QCOMPARE(graph.currentSeries().samples().size(), size_t(2));
        const QVector<int> histogram = columnHeights(paint(graph), kOrange);
        QCOMPARE(histogram[0], 90);
        QCOMPARE(histogram[99], 10); // 199 / 2 apart
        QCOMPARE(std::count_if(histogram.begin(), histogram.end(), [](int h) { return h > 0; }), 2L);

        graph.setGraphType(graph::LINE_PLOTS);
        graph.setIndex(1);
        const QImage lines = paint(graph);
        QVERIFY(columnHeights(lines, Qt::blue)[75] > 0);  // between the first series' points
        QVERIFY(columnHeights(lines, Qt::green)[50] > 0); // between the second's
        // Point 1 of both series is red, the other four are black: 5 or 6 pixels square each, the
        // two at x 0 cut to 3 columns.
        const QVector<int> red = columnHeights(lines, Qt::red), black = columnHeights(lines, Qt::black);
        const int redPixels = std::accumulate(red.begin(), red.end(), 0);
        const int blackPixels = std::accumulate(black.begin(), black.end(), 0);
        QVERIFY2(redPixels >= 2 * 25 && redPixels <= 2 * 36, qPrintable(QString::number(redPixels)));
        QVERIFY2(blackPixels >= 2 * 15 + 2 * 25 && blackPixels <= 4 * 36, qPrintable(QString::number(blackPixels)));
        QVERIFY(red[49] > 0 && red[99] > 0 && black[0] > 0 && black[149] > 0);
        graph.setSamplesShow(1, false);
        graph.setSamplesShow(7, false); // ignored
        QCOMPARE(columnHeights(paint(graph), Qt::green)[50], 0);
    }

    // Quadrants around the guide lines (a point on a line counts above and right of it), the
    // marker shapes, and a missing line standing at 0.
    void scatter()
    {
        const QList<QPair<QPointF, QColor>> points = {
            {{100, 50}, Qt::red}, {{99, 49}, Qt::green}, {{150, 20}, Qt::yellow}, {{20, 80}, Qt::white}};
        for (const auto &point : points) {
            GraphFrame graph;
            graph.resize(201, 101);
            graph.setGraphType(graph::SCATTER_PLOTS);
            graph.setAutoScale(false);
            graph.setScatterPlotsStyle(graph::STYLE_CIRCLE);
            graph.setThickness(3);
            std::vector<QPointF> one{point.first};
            graph.setSamples(one);
            graph.setShowGuideLine(true);
            graph.addGuideLine(graph::VERTICAL);
            graph.addGuideLine(graph::HORIZONTAL);
            graph.setGuideLinePosition(graph::VERTICAL, 0, 100);
            graph.setGuideLinePosition(graph::HORIZONTAL, 0, 50);
            graph.setGuideLinePosition(graph::VERTICAL, 3, 10);    // ignored
            graph.setGuideLinePosition(graph::HORIZONTAL, 0, 500); // ignored
            QCOMPARE(graph.verticalLines()[0], QLine(100, 0, 100, 101));
            QCOMPARE(graph.horizontalLines()[0], QLine(0, 50, 201, 50));
            const QImage image = paint(graph, Qt::gray);
            // y up: the circle around (x, y) lies around the pixel (x, 100 - y).
            const QRect circle = extent(image, point.second);
            QVERIFY2(circle.isValid() && circle.center().x() - int(point.first.x()) <= 1
                         && std::abs(circle.center().y() - (100 - int(point.first.y()))) <= 1,
                     qPrintable(point.second.name()));
            QVERIFY(extent(image, Qt::blue).isValid());
        }
        // Without a horizontal line the vertical one alone splits left from right at height 0.
        GraphFrame half;
        half.resize(201, 101);
        half.setGraphType(graph::SCATTER_PLOTS);
        half.setAutoScale(false);
        half.setThickness(3);
        std::vector<QPointF> two{{150, 20}, {20, 20}};
        half.setSamples(two);
        half.setShowGuideLine(true);
        half.addGuideLine(graph::VERTICAL);
        half.setGuideLinePosition(graph::VERTICAL, 0, 100);
        const QImage image = paint(half, Qt::gray);
        QVERIFY(extent(image, Qt::red).contains(150, 80));
        QVERIFY(extent(image, Qt::white).contains(20, 80));

        // A diagonal cross reaches 3 pixels to the left and below, 2 to the right and above.
        GraphFrame cross;
        cross.resize(101, 101);
        cross.setGraphType(graph::SCATTER_PLOTS);
        cross.setAutoScale(false);
        cross.setScatterPlotsStyle(graph::STYLE_CROSS);
        std::vector<QPointF> one{{50, 50}};
        cross.setSamples(one);
        QCOMPARE(extent(paint(cross), Qt::black), QRect(QPoint(47, 100 - 53), QPoint(52, 100 - 47)));
        cross.setScatterPlotsStyle(graph::STYLE_PLUS);
        QCOMPARE(extent(paint(cross), Qt::black), QRect(QPoint(48, 48), QPoint(52, 52)));
    }

    // A fixed range of zero height draws every bar empty instead of dividing by zero.
    void flatFixedRange()
    {
        GraphFrame graph;
        graph.resize(100, 50);
        graph.setYScale(50, 50);
        std::vector<float> values{10, 60};
        graph.setSamples(values);
        const QVector<int> drawn = columnHeights(paint(graph), kOrange);
        QCOMPARE(std::accumulate(drawn.begin(), drawn.end(), 0), 0);
    }

    // Point series scale from 0 to their maximum on both axes; an axis without a positive maximum
    // collapses to 0.
    void pointScaling()
    {
        GraphFrame graph;
        graph.resize(101, 51);
        std::vector<QPointF> points{{5, 2}, {10, 4}};
        graph.setSamples(points);
        QCOMPARE(points, (std::vector<QPointF>{{50, 25}, {100, 50}}));
        std::vector<QPointF> flat{{-3, 0}, {-1, 0}};
        graph.setSamples(flat);
        QCOMPARE(flat, (std::vector<QPointF>{{0, 0}, {0, 0}}));
        std::vector<QPointF> none;
        graph.setSamples(none);
        graph.setGraphType(graph::SCATTER_PLOTS);
        QVERIFY(!extent(paint(graph), Qt::black).isValid());
    }

    // In scatter mode a press up to 4 pixels left or 5 right of the vertical line grabs it and a
    // move drags it; 5 pixels left misses.
    void dragVerticalLine_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("moved");
        QTest::newRow("4 left") << -4 << 10;
        QTest::newRow("5 left") << -5 << 0;
        QTest::newRow("5 right") << 5 << 10;
        QTest::newRow("6 right") << 6 << 0;
    }

    void dragVerticalLine()
    {
        QFETCH(int, offset);
        QFETCH(int, moved);
        GraphFrame graph;
        graph.resize(201, 101);
        graph.setGraphType(graph::SCATTER_PLOTS);
        std::vector<QPointF> points{{10, 10}};
        graph.setSamples(points);
        graph.setShowGuideLine(true);
        graph.addGuideLine(graph::VERTICAL);
        graph.setGuideLinePosition(graph::VERTICAL, 0, 100);
        const QPoint at(100 + offset, 50);
        send(graph, QEvent::MouseButtonPress, at, Qt::LeftButton);
        QCOMPARE(graph.cursor().shape(), moved ? Qt::ClosedHandCursor : Qt::ArrowCursor);
        send(graph, QEvent::MouseMove, at + QPoint(10, 0), Qt::LeftButton);
        send(graph, QEvent::MouseButtonRelease, at + QPoint(10, 0), Qt::NoButton);
        QCOMPARE(graph.verticalLines()[0].x1(), 100 + moved);
        QCOMPARE(graph.cursor().shape(), Qt::ArrowCursor);
        send(graph, QEvent::MouseMove, QPoint(100 + moved, 50), Qt::NoButton);
        QCOMPARE(graph.cursor().shape(), Qt::OpenHandCursor);

        // Histogram mode never drags.
        graph.setGraphType(graph::HISTOGRAM);
        send(graph, QEvent::MouseButtonPress, QPoint(100 + moved, 50), Qt::LeftButton);
        send(graph, QEvent::MouseMove, QPoint(150, 50), Qt::LeftButton);
        QCOMPARE(graph.verticalLines()[0].x1(), 100 + moved);
    }
};

QTEST_MAIN(TestGraphFrame)
#include "tst_graphframe.moc"
