// The measuring view as the pages use it: items drawn with the mouse measured on every captured
// channel and on the shown image (checked against numpy), the tool table, the count tools, the
// pointer intensity, the page's selection and deletion, double click, menu and keys.
#include "DiagramLineItem.h"
#include "DiagramPathItem.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "Globals.h"
#include "HangBound.h"
#include "ImageGraphicsView.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ViewEvents.h"

#include <QtTest>
#include <QGraphicsPixmapItem>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QScopeGuard>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr int W = 1280, H = 1024, kPixels = W * H;

// One emission of the view: a channel's record (channel 0..3) or the shown image's (-1).
struct Emitted
{
    int channel;
    TSMeasurementItem record;
    bool inserted;
};

// A seeded channel: a gradient with noise, 8-bit values or 12-bit camera words (most
// significant byte first, value shifted left by four, the low nibble holding noise that the
// decoding must drop). plain holds the values as the multicolour view shows them.
struct Channel
{
    int bits;
    std::vector<uchar> raw;
    std::vector<ushort> plain;

    Channel(int depth, unsigned seed)
        : bits(depth)
        , raw(size_t(kPixels) * (depth / 8))
        , plain(kPixels)
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> noise(0, depth == 8 ? 60 : 900);
        const int top = depth == 8 ? 255 : 4095;
        for (int i = 0; i < kPixels; ++i) {
            const int x = i % W, y = i / W;
            const int v = std::min(top, (x + 2 * y) * top / (W + 2 * H) / 2 + noise(random));
            plain[i] = ushort(v);
            if (depth == 8) {
                raw[i] = uchar(v);
            } else {
                raw[2 * i] = uchar(v >> 4);
                raw[2 * i + 1] = uchar((v & 0xF) << 4 | (random() & 0xF));
            }
        }
    }
    void *shown(bool highByte) { return bits == 8 || highByte ? static_cast<void *>(raw.data()) : plain.data(); }
};

QJsonArray pointsJson(const std::vector<cv::Point> &points)
{
    QJsonArray list;
    for (const cv::Point &p : points)
        list.append(QJsonArray{p.x, p.y});
    return list;
}

} // namespace

class TestMeasurementView : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestRoot> m_Root;
    std::unique_ptr<ImageGraphicsView> m_View;
    std::vector<Emitted> m_Emitted;
    std::vector<uint> m_Deleted;
    std::vector<QVariantList> m_Selected;

    QWidget *port() const { return m_View->viewport(); }
    DiagramScene *scene() const { return m_View->diagramScene(); }
    QPoint at(QPointF scenePoint) const { return m_View->mapFromScene(scenePoint); }
    void press(QPointF p, Qt::MouseButton b = Qt::LeftButton) { mouse(port(), QEvent::MouseButtonPress, at(p), b); }
    void release(QPointF p, Qt::MouseButton b = Qt::LeftButton) { mouse(port(), QEvent::MouseButtonRelease, at(p), b); }
    void move(QPointF p) { mouse(port(), QEvent::MouseMove, at(p)); }
    void click(QPointF p, Qt::MouseButton b = Qt::LeftButton) { press(p, b), release(p, b); }
    void drag(QPointF from, QPointF to) { press(from), move((from + to) / 2), move(to), release(to); }

    // Draws an item of tool with the mouse through the given corners or vertices.
    void draw(int tool, const std::vector<QPoint> &points)
    {
        m_View->setCurrentMeasurementTool(tool);
        if (tool == TOOL_POLYGON || tool == TOOL_SEGMENT_LINE) {
            for (const QPoint &p : points)
                click(p);
            press(points.back(), Qt::RightButton);
            release(points.back(), Qt::RightButton);
        } else {
            drag(points[0], points[1]);
        }
    }

    void showChannels(std::vector<Channel> &channels, bool highByte)
    {
        m_View->m_bHighByte = highByte;
        for (int c = 0; c < int(channels.size()); ++c)
            m_View->setFilterImageData(7, channels[c].shown(highByte), channels[c].bits, 1, false, c, true,
                                       channels[c].raw.data());
    }

    // What numpy makes of every item on every channel (measure_check.py), one list per channel.
    QJsonArray numpyRecords(std::vector<Channel> &channels, const QJsonArray &items)
    {
        QJsonArray images;
        for (int c = 0; c < int(channels.size()); ++c) {
            const QString path = QString("%1/channel%2.raw").arg(m_Root->path()).arg(c);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(channels[c].raw.data()),
                                                               qint64(channels[c].raw.size())) != qint64(channels[c].raw.size()))
                return {};
            images.append(QJsonObject{{"path", path}, {"bits", channels[c].bits}});
        }
        const QString job = m_Root->path() + "/job.json";
        QFile jobFile(job);
        if (!jobFile.open(QIODevice::WriteOnly))
            return {};
        jobFile.write(QJsonDocument(QJsonObject{{"images", images}, {"items", items}}).toJson());
        jobFile.close();
        QProcess python;
        python.start("/usr/bin/python3", {qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/GraphicsView/measure_check.py", job});
        if (!python.waitForFinished(kHangBoundMs) || python.exitCode() != 0) {
            qWarning() << python.readAllStandardError();
            return {};
        }
        return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    }

    static bool near(double got, double want, double tolerance = 1e-4)
    {
        return std::abs(got - want) <= tolerance * std::max(1.0, std::abs(want));
    }

    // One record against numpy's figures; an empty string when they agree.
    static QString disagreement(const TSMeasurementItem &r, const QJsonObject &e)
    {
        QStringList bad;
        const auto check = [&](const char *name, double got) {
            if (e.contains(name) && !near(got, e[name].toDouble()))
                bad << QString("%1 %2 != %3").arg(name).arg(got, 0, 'g', 9).arg(e[name].toDouble(), 0, 'g', 9);
        };
        if (int(r.tool) != e["tool"].toInt())
            bad << QString("tool %1").arg(int(r.tool));
        if (pointsJson(r.points) != e["points"].toArray())
            bad << "points";
        const QJsonArray roi = e["roi"].toArray();
        if (QJsonArray{r.roi.x, r.roi.y, r.roi.width, r.roi.height} != roi)
            bad << QString("roi %1 %2 %3 %4").arg(r.roi.x).arg(r.roi.y).arg(r.roi.width).arg(r.roi.height);
        check("area", r.area);
        check("length", r.length);
        check("circularity", r.circularity);
        check("min", r.minIntensity);
        check("max", r.maxIntensity);
        check("mean", r.meanIntensity);
        check("std", r.stdIntensity);
        check("histMin", r.histogramMinCount);
        check("histMax", r.histogramMaxCount);
        if (e.contains("histSum")) {
            long long sum = 0;
            for (int n : r.histogram)
                sum += n;
            check("histSum", double(sum));
            check("histBins", double(r.histogram.size()));
        }
        if (e.contains("profile")) {
            QJsonArray profile;
            for (int v : r.profile)
                profile.append(v);
            if (profile != e["profile"].toArray())
                bad << "profile";
        }
        return bad.join(", ");
    }

    int markerCount(int tool)
    {
        QList<QGraphicsItem *> items;
        scene()->getDiagramItemList(items);
        return int(std::count_if(items.begin(), items.end(),
                                 [tool](QGraphicsItem *i) { return ImageGraphicsView::measurementTool(i) == tool; }));
    }

private slots:
    void initTestCase() { initializePseudoColorTable(); }
    void init()
    {
        m_Root = std::make_unique<TestRoot>();
        m_View = std::make_unique<ImageGraphicsView>();
        m_View->resize(1400, 1100);
        m_Emitted.clear();
        m_Deleted.clear();
        m_Selected.clear();
        connect(m_View.get(), &ImageGraphicsView::overlayMeasurementResultChanged, this,
                [this](TSMeasurementItem &r, int channel) { m_Emitted.push_back({channel, r, false}); });
        connect(m_View.get(), &ImageGraphicsView::measurementResultChanged, this,
                [this](TSMeasurementItem &r, bool inserted) { m_Emitted.push_back({-1, r, inserted}); });
        connect(m_View.get(), &ImageGraphicsView::deletedItem, this, [this](uint key) { m_Deleted.push_back(key); });
        connect(m_View.get(), &ImageGraphicsView::changeCurrentSelectedItem, this,
                [this](uint key, bool selected, bool inserted) { m_Selected.push_back({key, selected, inserted}); });
    }
    void cleanup()
    {
        m_View.reset();
        m_Root.reset();
    }

    // Lines, rectangles, ellipses and polygons drawn with the mouse: one record per captured
    // channel, in channel order, then the shown image's record with the item's key, each
    // agreeing with numpy on the item's points.
    void drawnItemsAgreeWithNumpy_data()
    {
        QTest::addColumn<QVector<int>>("depths");
        QTest::addColumn<bool>("highByte");
        QTest::newRow("8-bit channels") << QVector<int>{8, 8, 8, 8} << false;
        QTest::newRow("16-bit channels, plain values shown") << QVector<int>{16, 16, 16, 16} << false;
        QTest::newRow("mixed, camera words shown") << QVector<int>{8, 16, 8, 16} << true;
    }
    void drawnItemsAgreeWithNumpy()
    {
        QFETCH(QVector<int>, depths);
        QFETCH(bool, highByte);
        std::vector<Channel> channels;
        for (int c = 0; c < depths.size(); ++c)
            channels.emplace_back(depths[c], 11u + unsigned(c));
        showChannels(channels, highByte);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        QCOMPARE(m_View->currentFilter(), 3);

        struct Shape
        {
            int tool;
            std::vector<QPoint> drawn;
            std::vector<cv::Point> points; // what the item gives to the measurers
        };
        const std::vector<Shape> shapes = {
            {TOOL_LINE, {{100, 120}, {400, 333}}, {{100, 120}, {400, 333}}},
            {TOOL_LINE, {{700, 40}, {710, 40}}, {{700, 40}, {710, 40}}},
            {TOOL_RECTANGLE, {{300, 200}, {50, 60}}, {{50, 60}, {300, 200}}},
            {TOOL_ELLIPSE, {{500, 400}, {731, 650}}, {{500, 400}, {731, 650}}},
            {TOOL_POLYGON, {{800, 100}, {1000, 150}, {900, 300}}, {{800, 100}, {1000, 150}, {900, 300}, {800, 100}}},
            {TOOL_POLYGON, {{1100, 700}, {1270, 720}, {1200, 1010}, {1120, 900}},
             {{1100, 700}, {1270, 720}, {1200, 1010}, {1120, 900}, {1100, 700}}},
        };
        QJsonArray items;
        for (const Shape &s : shapes)
            items.append(QJsonObject{{"tool", s.tool}, {"points", pointsJson(s.points)}});
        const QJsonArray expected = numpyRecords(channels, items);
        QCOMPARE(expected.size(), 4);

        for (int i = 0; i < int(shapes.size()); ++i) {
            m_Emitted.clear();
            draw(shapes[i].tool, shapes[i].drawn);
            QCOMPARE(int(m_Emitted.size()), 5);
            QList<QGraphicsItem *> all;
            scene()->getDiagramItemList(all);
            const uint key = uint(i + 1);
            QVERIFY(scene()->getItemByKey(key));
            for (int c = 0; c < 5; ++c) {
                const Emitted &e = m_Emitted[c];
                const int channel = c < 4 ? c : 3; // the shown image is the last channel shown
                QCOMPARE(e.channel, c < 4 ? c : -1);
                QCOMPARE(e.record.key, c < 4 ? 0u : key);
                const QString why = disagreement(e.record, expected[channel].toArray()[i].toObject());
                QVERIFY2(why.isEmpty(), qPrintable(QString("shape %1, emission %2: %3").arg(i).arg(c).arg(why)));
            }
            QVERIFY(m_Emitted[4].inserted);
            QCOMPARE(m_Selected.back(), (QVariantList{key, true, true}));
        }
    }

    // Each tool sets the scene's mode and selectability; the drawing tools hand over the styles.
    void toolTable_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("selectable");
        const int modes[] = {11, 2, 3, 8, 6, 5, 4, 7, 9, 1, 10, 2, 11};
        for (int tool = 0; tool <= 12; ++tool)
            QTest::newRow(qPrintable(QString("tool %1").arg(tool))) << tool << modes[tool] << (tool == 0 || tool == 12);
    }
    void toolTable()
    {
        QFETCH(int, tool);
        std::vector<uchar> black(kPixels, 0);
        m_View->setImageData(7, black.data(), 8, 1, true);
        auto *rect = new DiagramRectItem(QRectF(10, 10, 30, 30), nullptr);
        scene()->addGraphicsItem(rect, false);
        m_View->setCurrentMeasurementTool(TOOL_LINE); // the mode tool 11 keeps
        m_View->setCurrentLineColor(Qt::green);
        m_View->setCurrentLineThickness(3);
        m_View->setCurrentMeasurementTool(tool);
        QTEST(int(scene()->mode()), "mode");
        QTEST(bool(rect->flags() & QGraphicsItem::ItemIsSelectable), "selectable");
        QCOMPARE(int(m_View->currentMeasurementTool()), tool);
        if (tool == TOOL_RECTANGLE) {
            m_View->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
            drag(QPointF(200, 200), QPointF(260, 250));
            auto *drawn = dynamic_cast<DiagramRectItem *>(scene()->getItemByKey(2));
            QVERIFY(drawn);
            QCOMPARE(drawn->pen().color(), QColor(Qt::green));
            QCOMPARE(drawn->pen().width(), 3);
        }
    }

    // The whole-image tool: one record per captured channel, then the shown image's with key 0.
    void wholeImage()
    {
        std::vector<Channel> channels{Channel(8, 1), Channel(16, 2)};
        showChannels(channels, false);
        m_View->setCurrentMeasurementTool(TOOL_WHOLE_IMAGE);
        QCOMPARE(int(m_Emitted.size()), 3);
        const int bins[] = {256, 4096, 4096};
        for (int i = 0; i < 3; ++i) {
            const TSMeasurementItem &r = m_Emitted[i].record;
            QCOMPARE(m_Emitted[i].channel, i < 2 ? i : -1);
            QCOMPARE(r.key, 0u);
            QCOMPARE(r.roi, cv::Rect(0, 0, W, H));
            QCOMPARE(int(r.histogram.size()), bins[i]);
            QCOMPARE(std::accumulate(r.histogram.begin(), r.histogram.end(), 0), kPixels);
        }
        QVERIFY(!m_Emitted[2].inserted);
    }

    // Count tools: one record per marker with its key and the count of markers; a right press
    // counts without the marker it removes (key 0), then the deletion follows. However markers
    // leave (Delete key, the page, cut, all at once), the next count is the markers in the scene.
    void countTools_data()
    {
        QTest::addColumn<int>("tool");
        QTest::newRow("multi count") << int(TOOL_MULTI_COUNT);
        QTest::newRow("circle count") << int(TOOL_CIRCLE_COUNT);
    }
    void countTools()
    {
        QFETCH(int, tool);
        std::vector<Channel> channels{Channel(8, 3)};
        showChannels(channels, false);
        m_View->m_bKeyEnabled = true;
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        m_View->setCurrentMeasurementTool(tool);
        const auto lastCount = [this] { return m_Emitted.empty() ? -1 : m_Emitted.back().record.count; };
        for (int i = 1; i <= 3; ++i) {
            click(QPointF(100 * i, 100));
            QCOMPARE(int(m_Emitted.size()), i); // no channel records for the count tools
            QCOMPARE(m_Emitted.back().record.key, uint(i));
            QCOMPARE(lastCount(), i);
            QVERIFY(m_Emitted.back().inserted);
        }
        press(QPointF(600, 600), Qt::RightButton);
        release(QPointF(600, 600), Qt::RightButton);
        QCOMPARE(lastCount(), 2);
        QCOMPARE(m_Emitted.back().record.key, 0u);
        QCOMPARE(m_Deleted, std::vector<uint>{3});
        QCOMPARE(markerCount(tool), 2);

        // The page deletes marker 1, then the key deletes marker 2: the next marker counts 1.
        m_View->slotDeleteItem(1);
        QCOMPARE(m_Deleted, std::vector<uint>{3});
        m_View->setCurrentMeasurementTool(TOOL_NONE);
        scene()->getItemByKey(2)->setSelected(true);
        QCursor::setPos(m_View->mapToGlobal(QPoint(50, 50)));
        m_View->activateWindow();
        m_View->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(m_View.get()));
        QTest::keyClick(m_View.get(), Qt::Key_Delete);
        QCOMPARE(m_Deleted, (std::vector<uint>{3, 2}));
        m_View->setCurrentMeasurementTool(tool);
        click(QPointF(700, 700));
        QCOMPARE(lastCount(), 1);
        click(QPointF(800, 700));
        QCOMPARE(lastCount(), 2);

        // Cut takes one away, all at once the rest.
        m_View->setCurrentMeasurementTool(TOOL_NONE);
        scene()->getItemByKey(5)->setSelected(true);
        scene()->slotCutItem();
        m_View->setCurrentMeasurementTool(tool);
        click(QPointF(900, 700));
        QCOMPARE(lastCount(), 2);
        m_View->deleteAllAnnotation();
        click(QPointF(900, 800));
        QCOMPARE(lastCount(), 1);

        // A right press with nothing to remove sends nothing.
        m_View->deleteAllAnnotation();
        const size_t before = m_Emitted.size();
        press(QPointF(600, 600), Qt::RightButton);
        release(QPointF(600, 600), Qt::RightButton);
        QCOMPARE(m_Emitted.size(), before);
    }

    // The pointer's pixel, clamped to the frame, and its value: the shown image's, or each
    // captured channel's over the overlay.
    void pointerIntensity()
    {
        std::vector<Channel> channels{Channel(8, 5), Channel(16, 6)};
        showChannels(channels, false);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        QSignalSpy spy(m_View.get(), &ImageGraphicsView::currentImagePositionAndIntensity);
        move(QPointF(-5, 2000));
        move(QPointF(321, 17));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[0], (QVariantList{QPoint(0, 1023), int(channels[1].plain[1023 * W]), 1}));
        QCOMPARE(spy[1], (QVariantList{QPoint(321, 17), int(channels[1].plain[17 * W + 321]), 1}));
        std::vector<uchar> rgb(size_t(kPixels) * 3, 0);
        m_View->setOverlayImageData(rgb.data(), 8);
        spy.clear();
        move(QPointF(400, 300));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[0], (QVariantList{QPoint(400, 300), int(channels[0].plain[300 * W + 400]), 0}));
        QCOMPARE(spy[1], (QVariantList{QPoint(400, 300), int(channels[1].plain[300 * W + 400]), 1}));
    }

    // The page's own selection and deletion pass nothing back; the scene's do. A moved item is
    // reported; the page asks for its figures again, on the shown image or on every channel.
    void pageRequests()
    {
        std::vector<Channel> channels{Channel(8, 7), Channel(8, 8)};
        showChannels(channels, false);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        draw(TOOL_RECTANGLE, {{100, 100}, {200, 180}});
        draw(TOOL_LINE, {{300, 300}, {400, 300}});
        m_View->setCurrentMeasurementTool(TOOL_NONE);
        m_Selected.clear();
        m_View->slotSetCurrentSelectedItem(1);
        QVERIFY(scene()->getItemByKey(1)->isSelected());
        QVERIFY(m_Selected.empty());
        QVector<uint> keys;
        connect(m_View.get(), &ImageGraphicsView::setSelectedDiagramItemKeyList, this, [&keys](QVector<uint> &k) { keys = k; });
        m_View->slotGetSelectedDiagramItemKeyList();
        QCOMPARE(keys, QVector<uint>{1});

        // Moved items are measured where they lie: corners rounded, polygon vertices truncated.
        scene()->getItemByKey(1)->moveBy(10.5, 19.6);
        QCOMPARE(m_Selected.front(), (QVariantList{1u, true, false}));
        m_Emitted.clear();
        m_View->slotCalcMeasurementItem(1, TOOL_RECTANGLE);
        QCOMPARE(int(m_Emitted.size()), 3);
        QCOMPARE(m_Emitted.back().record.points, (std::vector<cv::Point>{{111, 120}, {211, 200}}));
        QCOMPARE(m_Emitted.back().record.key, 1u);
        QVERIFY(!m_Emitted.back().inserted);
        draw(TOOL_POLYGON, {{500, 500}, {600, 520}, {550, 600}});
        m_View->setCurrentMeasurementTool(TOOL_NONE);
        scene()->getItemByKey(3)->moveBy(10.7, -20.2);
        m_Emitted.clear();
        m_View->slotCalcMeasurementItem(3, TOOL_POLYGON);
        QCOMPARE(m_Emitted.back().record.points,
                 (std::vector<cv::Point>{{510, 479}, {610, 499}, {560, 579}, {510, 479}}));
        QCOMPARE(m_Emitted.back().record.roi, cv::Rect(510, 479, 101, 101));

        std::vector<TSMeasurementItem> table;
        uint tableKey = 0;
        connect(m_View.get(), &ImageGraphicsView::changeMeasurementResultTable, this,
                [&](uint key, std::vector<TSMeasurementItem> &records) { tableKey = key, table = records; });
        m_View->slotRecalcMeasurementItem(2, TOOL_LINE);
        QCOMPARE(tableKey, 2u);
        QCOMPARE(int(table.size()), 4);
        QCOMPARE(table[0].length, 100.0f);
        QCOMPARE(int(table[1].profile.size()), 101);
        QCOMPARE(int(table[1].profile[7]), int(channels[1].plain[300 * W + 307]));
        QCOMPARE(table[2].length, 0.0f); // no image on channels 2 and 3: zero records
        QCOMPARE(table[3].maxIntensity, -1.0);
        table.clear();
        m_View->slotRecalcMeasurementItem(2, TOOL_ANGLE);
        m_View->slotRecalcMeasurementItem(9, TOOL_LINE);
        m_Emitted.clear();
        m_View->slotCalcMeasurementItem(9, TOOL_LINE);
        QVERIFY(table.empty() && m_Emitted.empty());

        m_View->slotShowAnnotation(false);
        QVERIFY(!scene()->getItemByKey(1)->isVisible() && !scene()->getItemByKey(2)->isVisible());
        m_View->slotShowAnnotation(true);
        m_View->slotDeleteItem(1);
        QVERIFY(!scene()->getItemByKey(1) && m_Deleted.empty());
        m_View->slotDeleteItem(0);
        QList<QGraphicsItem *> left;
        QCOMPARE(scene()->getDiagramItemList(left), 0);
        QVERIFY(m_Deleted.empty());
    }

    // Double click: unselectAll with items selected, or in select mode; not while drawing.
    void doubleClick()
    {
        std::vector<uchar> black(kPixels, 0);
        m_View->setImageData(7, black.data(), 8, 1, true);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        QSignalSpy spy(m_View.get(), &ImageGraphicsView::unselectAll);
        m_View->setCurrentMeasurementTool(TOOL_LINE);
        QTest::mouseDClick(port(), Qt::LeftButton, Qt::NoModifier, QPoint(500, 500));
        QCOMPARE(spy.count(), 0);
        m_View->setCurrentMeasurementTool(TOOL_NONE);
        QTest::mouseDClick(port(), Qt::LeftButton, Qt::NoModifier, QPoint(500, 500));
        QCOMPARE(spy.count(), 1);
        QTest::mouseDClick(port(), Qt::RightButton, Qt::NoModifier, QPoint(500, 500));
        QCOMPARE(spy.count(), 1);
    }

    // Keys act only with the select tool and the cursor over the view, wherever the window is.
    void keys()
    {
        std::vector<uchar> black(kPixels, 0);
        m_View->setImageData(7, black.data(), 8, 1, true);
        m_View->m_bKeyEnabled = true;
        QWidget window; // the view inside a window that does not sit at the screen's origin
        window.setGeometry(300, 200, 1000, 800);
        m_View->setParent(&window);
        const auto giveBack = qScopeGuard([this] { m_View->setParent(nullptr); }); // before the window goes
        m_View->setGeometry(150, 100, 800, 600);
        window.show();
        window.activateWindow();
        m_View->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *rect = new DiagramRectItem(QRectF(10, 10, 40, 40), nullptr);
        scene()->addGraphicsItem(rect, false);
        const auto count = [this] {
            QList<QGraphicsItem *> items;
            return scene()->getDiagramItemList(items);
        };
        QList<QGraphicsItem *> copied;

        QCursor::setPos(m_View->mapToGlobal(QPoint(-20, 100))); // beside the view
        m_View->setCurrentMeasurementTool(TOOL_NONE);
        rect->setSelected(true);
        QTest::keyClick(m_View.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(scene()->getCopiedItem(copied), 0);

        QCursor::setPos(m_View->viewport()->mapToGlobal(at(QPointF(300, 250))));
        m_View->setCurrentMeasurementTool(TOOL_LINE);
        rect->setSelected(true); // not selectable while a drawing tool is current
        QTest::keyClick(m_View.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(scene()->getCopiedItem(copied), 0);

        m_View->setCurrentMeasurementTool(TOOL_NONE);
        rect->setSelected(true);
        QTest::keyClick(m_View.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(scene()->getCopiedItem(copied), 1);
        QTest::keyClick(m_View.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(count(), 2);
        QVERIFY(scene()->getItemByKey(2));
        QCOMPARE(scene()->getItemByKey(2)->sceneBoundingRect().center(), QPointF(300, 250));
        QTest::keyClick(m_View.get(), Qt::Key_Escape);
        QVERIFY(scene()->selectedItems().isEmpty());
        QTest::keyClick(m_View.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(scene()->selectedItems().size(), 2);
        QTest::keyClick(m_View.get(), Qt::Key_Delete);
        QCOMPARE(count(), 0);
        QCOMPARE(m_Deleted.size(), size_t(2));
    }

    // The right press that ends a polygon or segment line opens no menu, the next one does; the
    // cell-count instance never opens one on the image.
    void contextMenuAfterPath()
    {
        std::vector<uchar> black(kPixels, 0);
        m_View->setImageData(7, black.data(), 8, 1, true);
        m_View->m_bContextMenuEnabled = true;
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        int menus = 0;
        const auto rightClick = [&](QPoint p) {
            QTimer::singleShot(50, [&menus] {
                if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                    ++menus;
                    menu->close();
                }
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, p, port()->mapToGlobal(p));
            QApplication::sendEvent(port(), &event);
            QTest::qWait(100);
        };
        draw(TOOL_SEGMENT_LINE, {{100, 100}, {200, 150}, {300, 100}});
        rightClick(QPoint(600, 600));
        QCOMPARE(menus, 0);
        rightClick(QPoint(600, 600));
        QCOMPARE(menus, 1);
        m_View->m_bContextMenuEnabled = false;
        draw(TOOL_POLYGON, {{400, 400}, {500, 450}, {450, 500}});
        rightClick(QPoint(600, 600));
        rightClick(QPoint(600, 600));
        QCOMPARE(menus, 1);
    }
};

QTEST_MAIN(TestMeasurementView)
#include "tst_measurementview.moc"
