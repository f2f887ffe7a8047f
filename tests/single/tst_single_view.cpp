// The Single image area driven by mouse events through every tool: rounding and clamping, the
// outline rules of each tool, each emitted result carrying the points drawn with sound figures,
// the text kept inside the image, and the annotation rendering without the scale bar.
#include "DialogRunner.h"
#include "KeyboardDlg.h"
#include "SingleImageWidget.h"
#include "TestRoot.h"

#include <QMouseEvent>
#include <QtTest>
#include <cmath>

Q_DECLARE_METATYPE(TSMeasurementItem)

class TestSingleView : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<SingleImageWidget> m_view;
    QList<TSMeasurementItem> m_results;
    QList<QPoint> m_positions;

    void send(QEvent::Type type, QPointF at, Qt::MouseButton button)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, at, at, at, button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view.get(), &event);
    }
    void press(QPointF at, Qt::MouseButton b = Qt::LeftButton) { send(QEvent::MouseButtonPress, at, b); }
    void release(QPointF at, Qt::MouseButton b = Qt::LeftButton) { send(QEvent::MouseButtonRelease, at, b); }
    void move(QPointF at, Qt::MouseButton b = Qt::NoButton) { send(QEvent::MouseMove, at, b); }
    void click(QPoint at, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mousePress(m_view.get(), b, {}, at);
        QTest::mouseRelease(m_view.get(), b, {}, at);
    }

    // The points of a result as the view drew them.
    static QVector<QPoint> points(const TSMeasurementItem &item)
    {
        QVector<QPoint> out;
        for (const cv::Point &p : item.points)
            out << QPoint(p.x, p.y);
        return out;
    }
    const TSMeasurementItem &last() const { return m_results.last(); }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_view = std::make_unique<SingleImageWidget>();
        m_view->resize(SingleImageWidget::kWidth, SingleImageWidget::kHeight);
        m_view->setCurrentLineColor(Qt::green);
        m_view->setCurrentLineThickness(3);
        m_view->setCurrentFontColor(Qt::yellow);
        m_view->setCurrentFontThickness(20);
        m_view->show();
        m_results.clear();
        m_positions.clear();
        connect(m_view.get(), &SingleImageWidget::measurementResultChanged, this,
                [this](TSMeasurementItem &item) { m_results << item; });
        connect(m_view.get(), &SingleImageWidget::currentImagePositionAndIntensity, this,
                [this](QPoint p, int) { m_positions << p; });
    }
    void cleanup()
    {
        m_view.reset();
        DialogRunner::clearScripts();
        m_root.reset();
    }

    void moveIsRoundedAndClamped_data()
    {
        QTest::addColumn<QPointF>("at");
        QTest::addColumn<QPoint>("reported");
        QTest::newRow("far outside") << QPointF(-3, 1500) << QPoint(0, 999);
        QTest::newRow("rounds up") << QPointF(250.5, 300.6) << QPoint(251, 301);
        QTest::newRow("just inside") << QPointF(0.7, 0.4) << QPoint(1, 0);
        QTest::newRow("right edge") << QPointF(1271.6, 999.4) << QPoint(1271, 999);
    }
    void moveIsRoundedAndClamped()
    {
        QFETCH(QPointF, at);
        QFETCH(QPoint, reported);
        for (int tool : {0, 1, 9})
        {
            m_view->setCurrentMeasurementTool(tool);
            move(at);
        }
        QCOMPARE(m_positions, QList<QPoint>({reported, reported, reported}));
    }

    // A line 300 across and 400 down measures 500, its profile sampled at every pixel.
    void lineMeasures()
    {
        m_view->setCurrentMeasurementTool(TOOL_LINE);
        press(QPointF(100.4, 100.2));
        move(QPointF(250, 300), Qt::LeftButton);
        release(QPointF(400, 500));
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(last().tool, TOOL_LINE);
        QCOMPARE(points(last()), QVector<QPoint>({{100, 100}, {400, 500}}));
        QCOMPARE(points(last()), m_view->drawingPoints());
        QCOMPARE(last().length, 500.0f);
        QCOMPARE(int(last().profile.size()), 501);
        // The next press starts a new line.
        press(QPointF(10, 10));
        QCOMPARE(m_view->drawingPoints(), QVector<QPoint>({{10, 10}}));
    }

    // The press is kept as it came (off the image), the release clamped; the measurer copes.
    void unclampedPressMeasuredSafely()
    {
        for (int tool : {TOOL_LINE, TOOL_RECTANGLE, TOOL_ELLIPSE}) {
            m_view->setCurrentMeasurementTool(tool);
            press(QPointF(-3, 1500));
            QCOMPARE(m_view->drawingPoints(), QVector<QPoint>({{-3, 1500}}));
            release(QPointF(2000, -50));
            QCOMPARE(points(last()), QVector<QPoint>({{-3, 1500}, {1271, 0}}));
            QVERIFY(std::isfinite(last().length) && last().length > 0);
        }
        QCOMPARE(m_results.size(), 3);
        QCOMPARE(last().tool, TOOL_ELLIPSE);
    }

    void rectangleAndEllipse()
    {
        m_view->setCurrentMeasurementTool(TOOL_RECTANGLE);
        press(QPointF(500, 400));
        release(QPointF(300, 300)); // dragged up and left
        QCOMPARE(last().area, 200.0f * 100.0f);
        QCOMPARE(last().roi, cv::Rect(300, 300, 200, 100));
        m_view->setCurrentMeasurementTool(TOOL_ELLIPSE);
        press(QPointF(300, 300));
        release(QPointF(500, 500));
        QVERIFY(std::fabs(last().area - float(M_PI * 100 * 100)) < 400);
    }

    void angleOfThreeClicks()
    {
        m_view->setCurrentMeasurementTool(TOOL_ANGLE);
        click({300, 100});
        click({100, 100});
        QVERIFY(m_results.isEmpty());
        click({100, 300});
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(points(last()), QVector<QPoint>({{300, 100}, {100, 100}, {100, 300}}));
        QVERIFY(std::fabs(last().angle - 90.0f) < 0.01f);
        click({50, 50}); // a fourth click starts again
        QCOMPARE(m_view->drawingPoints(), QVector<QPoint>({{50, 50}}));
    }

    void polygonCloses_data()
    {
        QTest::addColumn<QPoint>("fourth");
        QTest::addColumn<bool>("closes");
        QTest::newRow("4 px right of the first: inside the zone") << QPoint(204, 200) << true;
        QTest::newRow("on the zone's corner") << QPoint(204, 204) << true;
        QTest::newRow("6 px right: outside") << QPoint(206, 200) << false;
        QTest::newRow("6 px left: outside") << QPoint(194, 200) << false;
    }
    void polygonCloses()
    {
        QFETCH(QPoint, fourth);
        QFETCH(bool, closes);
        m_view->setCurrentMeasurementTool(TOOL_POLYGON);
        for (QPoint p : {QPoint(200, 200), QPoint(400, 200), QPoint(300, 400), fourth})
            click(p);
        if (!closes) {
            QVERIFY(m_results.isEmpty());
            QCOMPARE(m_view->drawingPoints().last(), fourth);
            return;
        }
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(points(last()), QVector<QPoint>({{200, 200}, {400, 200}, {300, 400}, {200, 200}}));
        QVERIFY(std::fabs(last().area - 200 * 200 / 2.0f) < 500);
        click({600, 600}); // a closed polygon: the next click starts a new one
        QCOMPARE(m_view->drawingPoints(), QVector<QPoint>({{600, 600}}));
    }

    // Left clicks add points, a right press does nothing, the right release finishes and measures.
    void segmentLine()
    {
        m_view->setCurrentMeasurementTool(TOOL_SEGMENT_LINE);
        for (QPoint p : {QPoint(100, 100), QPoint(130, 140), QPoint(130, 240)})
            click(p);
        press(QPointF(700, 700), Qt::RightButton);
        QCOMPARE(m_view->drawingPoints().size(), 3);
        QVERIFY(m_results.isEmpty());
        release(QPointF(700, 700), Qt::RightButton);
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(points(last()), QVector<QPoint>({{100, 100}, {130, 140}, {130, 240}}));
        QVERIFY(std::fabs(last().length - 150.0f) < 0.01f);
        click({5, 5});
        QCOMPARE(m_view->drawingPoints(), QVector<QPoint>({{5, 5}}));
    }

    void freeHand()
    {
        m_view->setCurrentMeasurementTool(TOOL_FREE_HAND);
        move(QPointF(40, 40)); // no button: nothing drawn
        press(QPointF(10, 10));
        for (int x = 20; x <= 50; x += 10)
            move(QPointF(x, 10), Qt::LeftButton);
        release(QPointF(50, 10));
        QCOMPARE(points(last()), QVector<QPoint>({{10, 10}, {20, 10}, {30, 10}, {40, 10}, {50, 10}}));
        QVERIFY(std::fabs(last().length - 40.0f) < 0.01f);
    }

    // Right click undoes the last point (none with an empty list); every release reports.
    void multiCount()
    {
        m_view->setCurrentMeasurementTool(TOOL_MULTI_COUNT);
        click({50, 50}, Qt::RightButton);
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(last().count, 0);
        for (QPoint p : {QPoint(10, 10), QPoint(20, 20), QPoint(30, 30)})
            click(p);
        QCOMPARE(last().count, 3);
        click({99, 99}, Qt::RightButton);
        QCOMPARE(m_results.size(), 5);
        QCOMPARE(last().count, 2);
        QCOMPARE(points(last()), QVector<QPoint>({{10, 10}, {20, 20}}));
    }

    // The keyboard's text is placed at the press; one that would pass x 1272 or y 0 is moved in.
    void textStaysInside()
    {
        m_view->setCurrentMeasurementTool(TOOL_TEXT);
        DialogRunner::pushScript([](QDialog *dialog) {
            static_cast<KeyboardDlg *>(dialog)->setText("Nucleus of cell 12");
            return 1;
        });
        click({1260, 3});
        QCOMPARE(DialogRunner::pendingScripts(), 0);
        QVERIFY(m_results.isEmpty());
        QCOMPARE(m_view->annotationText(), QString("Nucleus of cell 12"));
        m_view->slotMakeAnnotationImageData(true);
        QFont font("DejaVu Sans");
        font.setPointSize(20);
        const QFontMetrics metrics(font);
        QCOMPARE(m_view->annotationTextPosition(),
                 QPoint(1272 - metrics.horizontalAdvance("Nucleus of cell 12"), metrics.height()));
        // A cancelled keyboard changes nothing.
        DialogRunner::pushScript([](QDialog *) { return 0; });
        click({100, 500});
        QCOMPARE(m_view->annotationText(), QString("Nucleus of cell 12"));
        // Qt's parentless clear-button fades of the keyboard's line edit end and are deleted
        // while the event loop runs.
        QTest::qWait(500);
    }

    void wholeImageAtOnce()
    {
        m_view->setCurrentMeasurementTool(TOOL_WHOLE_IMAGE);
        QCOMPARE(m_results.size(), 1);
        QCOMPARE(last().tool, TOOL_WHOLE_IMAGE);
        QCOMPARE(last().roi, cv::Rect(0, 0, 1272, 1000));
        QCOMPARE(last().histogramMaxCount, 1272 * 1000); // the empty frame: every pixel 0
        click({300, 300});
        QCOMPARE(m_results.size(), 1);
        QVERIFY(m_view->drawingPoints().isEmpty());
        QImage rendered;
        connect(m_view.get(), &SingleImageWidget::signalSendAnnotationImageData, this,
                [&](bool, uchar *) { rendered = m_view->annotationImage().copy(); });
        m_view->slotMakeAnnotationImageData(false);
        QImage black(rendered.size(), QImage::Format_RGB888);
        black.fill(Qt::black);
        QCOMPARE(rendered, black);
    }

    // The rendering holds the outline but not the bar, which the save dialog draws; the screen
    // shows both.
    void annotationWithoutScaleBar()
    {
        TSScaleBar bar;
        bar.show = true;
        bar.corner = 2;
        bar.bottomLeft = QPointF(100, 940);
        bar.lengthPixels = 300;
        bar.lengthUm = 100;
        bar.color = Qt::red;
        bar.lineWidth = 6;
        m_view->setScaleBar(bar);
        m_view->setCurrentMeasurementTool(TOOL_LINE);
        press(QPointF(200, 100));
        release(QPointF(600, 100));
        bool before = false;
        uchar *bits = nullptr;
        connect(m_view.get(), &SingleImageWidget::signalSendAnnotationImageData, this, [&](bool b, uchar *data) {
            before = b;
            bits = data;
        });
        m_view->slotMakeAnnotationImageData(true);
        QVERIFY(before);
        QCOMPARE(bits, m_view->annotationImage().constBits());
        const QImage &rendered = m_view->annotationImage();
        QCOMPARE(rendered.format(), QImage::Format_RGB888);
        QCOMPARE(rendered.size(), QSize(1280, 1024));
        QCOMPARE(rendered.pixelColor(400, 100), QColor(Qt::green));
        QCOMPARE(rendered.pixelColor(250, 940), QColor(Qt::black));
        const QImage screen = m_view->grab().toImage();
        QCOMPARE(screen.pixelColor(250, 940), QColor(Qt::red));
        QCOMPARE(screen.pixelColor(400, 100), QColor(Qt::green));
    }
};

QTEST_MAIN(TestSingleView)
#include "tst_single_view.moc"
