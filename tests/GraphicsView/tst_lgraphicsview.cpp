// The image view: frames of every depth against OpenCV, orientations, zoom, fit, steps, pan,
// navigator, keys, the rendered picture, the pixel size; and its wheel-zoom filter.
#include "DiagramEllipseItem.h"
#include "DiagramItemGroup.h"
#include "DiagramLineItem.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "Graphics_view_zoom.h"
#include "LGraphicsView.h"
#include "Paths.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ViewEvents.h"

#include <QtTest>
#include <QGraphicsPixmapItem>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int W = 1280, H = 1024;

// Seeded frames: 8-bit grey, camera words (big-endian, value << 4), native 16-bit words, RGB.
struct Frames
{
    cv::Mat grey8, camera16, native16, rgb24, rgb48;
    Frames()
    {
        cv::RNG rng(11);
        grey8.create(H, W, CV_8UC1);
        rng.fill(grey8, cv::RNG::UNIFORM, 0, 256);
        cv::Mat values(H, W, CV_16UC1);
        rng.fill(values, cv::RNG::UNIFORM, 0, 4096);
        camera16.create(H, W, CV_8UC2); // bytes in wire order
        for (int i = 0; i < W * H; ++i) {
            const int v = values.at<ushort>(i) << 4 | (i & 15);
            camera16.at<cv::Vec2b>(i) = cv::Vec2b(uchar(v >> 8), uchar(v & 255));
        }
        native16.create(H, W, CV_16UC1);
        rng.fill(native16, cv::RNG::UNIFORM, 0, 65536);
        // The examples of the conversions in the first pixels.
        const ushort examples[] = {0, 1000, 4094, 4095, 65535};
        for (int i = 0; i < 5; ++i)
            native16.at<ushort>(i) = examples[i];
        rgb24.create(H, W, CV_8UC3);
        rng.fill(rgb24, cv::RNG::UNIFORM, 0, 256);
        rgb48.create(H, W, CV_16UC3);
        rng.fill(rgb48, cv::RNG::UNIFORM, 0, 4400);
    }
};

cv::Mat asMat(const QImage &rgb)
{
    return cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()), size_t(rgb.bytesPerLine())).clone();
}

QImage picture(LGraphicsView &view)
{
    QImage out;
    view.getImageData(out);
    return out;
}

// The scene rendered whole, as the picture was first made: transparent ARGB32, then RGB888.
QImage wholeScene(LGraphicsView &view)
{
    QImage whole(W, H, QImage::Format_ARGB32);
    whole.fill(Qt::transparent);
    QPainter painter(&whole);
    view.diagramScene()->render(&painter, QRectF(0, 0, W, H), QRectF(0, 0, W, H), Qt::KeepAspectRatio);
    painter.end();
    return whole.convertToFormat(QImage::Format_RGB888);
}

// The grey value shown for 16-bit words scaled by 255/4094, computed per pixel.
uchar scaled(int v)
{
    return uchar(std::min(255L, std::lround(v * 255.0 / 4094.0)));
}

// A view that leaves wheel events alone, so that acceptance tells what the filter consumed.
struct StillView : QGraphicsView
{
    using QGraphicsView::QGraphicsView;
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }
};

} // namespace

class TestLGraphicsView : public QObject
{
    Q_OBJECT
    Frames m_Frames;
    std::unique_ptr<LGraphicsView> m_View;
    std::unique_ptr<QSignalSpy> m_Zoomed;

    QWidget *viewport() { return m_View->viewport(); }
    void show(const cv::Mat &frame, int bits, int channels, bool reset = true, int colorIndex = 7)
    {
        m_View->setImageData(colorIndex, frame.data, bits, channels, reset);
    }
    Navigation navigation()
    {
        Navigation n;
        m_View->getNavigation(n);
        return n;
    }

private slots:
    void initTestCase()
    {
        initializePseudoColorTable();
    }
    void init()
    {
        m_View = std::make_unique<LGraphicsView>();
        m_View->resize(W, H);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        m_Zoomed = std::make_unique<QSignalSpy>(m_View.get(), &LGraphicsView::signalMouseZoomEvent);
    }
    void cleanup()
    {
        m_Zoomed.reset();
        m_View.reset();
    }

    void construction()
    {
        QCOMPARE(m_View->m_bHighByte, true);
        QCOMPARE(m_View->m_bKeyEnabled, false);
        QCOMPARE(m_View->zoomValue(), 100.0);
        QCOMPARE(m_View->diagramScene()->backgroundBrush(), QBrush(Qt::black, Qt::SolidPattern));
        QCOMPARE(m_View->transformationAnchor(), QGraphicsView::AnchorUnderMouse);
        const Navigation n = navigation();
        QCOMPARE(n.m_Color, QColor(1, 122, 255));
        QCOMPARE(n.m_NavigationRect, QRect(0, 0, 100, 80));
        QCOMPARE(n.m_ImageWidth, W);
    }

    // Each depth against a conversion of its own, through the rendered picture.
    void depths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("highByte");
        QTest::newRow("8 bit") << "8" << true;
        QTest::newRow("16 bit high byte") << "16" << true;
        QTest::newRow("16 bit scaled") << "16" << false;
        QTest::newRow("24 bit") << "24" << true;
        QTest::newRow("48 bit") << "48" << false;
    }
    void depths()
    {
        QFETCH(QString, kind);
        QFETCH(bool, highByte);
        m_View->m_bHighByte = highByte;
        cv::Mat expected;
        if (kind == "8") {
            show(m_Frames.grey8, 8, 1);
            cv::cvtColor(m_Frames.grey8, expected, cv::COLOR_GRAY2RGB);
        } else if (kind == "16" && highByte) {
            show(m_Frames.camera16, 16, 1);
            cv::Mat first;
            cv::extractChannel(m_Frames.camera16, first, 0);
            cv::cvtColor(first, expected, cv::COLOR_GRAY2RGB);
        } else if (kind == "16") {
            show(m_Frames.native16, 16, 1);
            cv::Mat grey(H, W, CV_8UC1);
            for (int i = 0; i < W * H; ++i)
                grey.at<uchar>(i) = scaled(m_Frames.native16.at<ushort>(i));
            cv::cvtColor(grey, expected, cv::COLOR_GRAY2RGB);
            const uchar examples[] = {0, 62, 255, 255, 255};
            for (int i = 0; i < 5; ++i)
                QCOMPARE(grey.at<uchar>(i), examples[i]);
        } else if (kind == "24") {
            show(m_Frames.rgb24, 8, 3);
            expected = m_Frames.rgb24;
        } else {
            show(m_Frames.rgb48, 16, 3);
            expected.create(H, W, CV_8UC3);
            for (int i = 0; i < W * H * 3; ++i)
                expected.data[i] = scaled(reinterpret_cast<const ushort *>(m_Frames.rgb48.data)[i]);
        }
        QCOMPARE(m_Zoomed->count(), 1);
        const QImage out = picture(*m_View);
        QCOMPARE(out.size(), QSize(W, H));
        QCOMPARE(out.format(), QImage::Format_RGB888);
        QCOMPARE(cv::norm(asMat(out), expected, cv::NORM_INF), 0.0);
        QCOMPARE(m_View->pixmapItem()->zValue(), -1001.0);
    }

    // A held red-green-blue frame is shown without a copy; another format or size changes nothing.
    void sharedFrame()
    {
        const QImage frame(m_Frames.rgb24.data, W, H, W * 3, QImage::Format_RGB888);
        const QImage held = frame.copy();
        m_View->setFrameImage(held, true);
        QCOMPARE(m_Zoomed->count(), 1);
        QCOMPARE(m_View->pixmapItem()->pixmap().toImage().constBits(), held.constBits());
        QCOMPARE(cv::norm(asMat(picture(*m_View)), m_Frames.rgb24, cv::NORM_INF), 0.0);
        const QGraphicsPixmapItem *item = m_View->pixmapItem();
        m_View->setFrameImage(held.convertToFormat(QImage::Format_RGB32), true);
        m_View->setFrameImage(held.copy(0, 0, W / 2, H), true);
        QCOMPARE(m_View->pixmapItem(), item);
        QCOMPARE(m_Zoomed->count(), 1);
    }

    // Camera words: FF F0 is 255, 00 10 is 0, 80 00 is 128; other depths keep the old picture.
    void highByteExamplesAndOtherDepths()
    {
        QByteArray words(W * H * 2, 0);
        const char bytes[] = {'\xFF', '\xF0', '\x00', '\x10', '\x80', '\x00'};
        std::copy(bytes, bytes + 6, words.begin());
        m_View->setImageData(7, words.data(), 16, 1, true);
        QImage out = picture(*m_View);
        QCOMPARE(out.pixelColor(0, 0), QColor(255, 255, 255));
        QCOMPARE(out.pixelColor(1, 0), QColor(0, 0, 0));
        QCOMPARE(out.pixelColor(2, 0), QColor(128, 128, 128));
        m_View->setImageData(7, m_Frames.grey8.data, 12, 1, true); // unsupported: previous pixels
        QCOMPARE(picture(*m_View).pixelColor(0, 0), QColor(255, 255, 255));
        m_View->setImageData(7, m_Frames.rgb24.data, 12, 3, true); // several channels: black
        QCOMPARE(picture(*m_View).pixelColor(0, 0), QColor(0, 0, 0));
        m_View->setImageData(7, nullptr, 8, 1, true); // a null frame changes nothing
        QCOMPARE(picture(*m_View).pixelColor(0, 0), QColor(0, 0, 0));
    }

    void colourTableClamped_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("red") << 0 << QColor(200, 0, 0);
        QTest::newRow("below") << -3 << QColor(200, 0, 0);
        QTest::newRow("cyan") << 4 << QColor(0, 200, 200);
        QTest::newRow("above") << 12 << QColor(200, 200, 200);
    }
    void colourTableClamped()
    {
        QFETCH(int, index);
        QFETCH(QColor, colour);
        const cv::Mat flat(H, W, CV_8UC1, cv::Scalar(200));
        show(flat, 8, 1, true, index);
        QCOMPARE(picture(*m_View).pixelColor(10, 10), colour);
    }

    void orientations_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("flip"); // OpenCV flip code, or 2 for none
        for (int code : {0, 1, 5, 9})
            QTest::addRow("code %d", code) << code << 2;
        for (int code : {2, 6})
            QTest::addRow("code %d", code) << code << 1;
        for (int code : {3, 7})
            QTest::addRow("code %d", code) << code << -1;
        for (int code : {4, 8})
            QTest::addRow("code %d", code) << code << 0;
    }
    void orientations()
    {
        QFETCH(int, code);
        QFETCH(int, flip);
        m_View->setPixmapTransform(code);
        show(m_Frames.rgb24, 8, 3);
        cv::Mat expected = m_Frames.rgb24.clone();
        if (flip != 2)
            cv::flip(m_Frames.rgb24, expected, flip);
        QCOMPARE(cv::norm(asMat(picture(*m_View)), expected, cv::NORM_INF), 0.0);
    }

    // Without reset a frame replaces the picture and keeps zoom, scroll and navigator, silently.
    void frameWithoutReset()
    {
        show(m_Frames.grey8, 8, 1);
        QVERIFY(wheel(viewport(), QPoint(900, 700), QPoint(0, 120)));
        const double zoom = m_View->zoomValue();
        const QTransform transform = m_View->transform();
        const QPointF corner = m_View->mapToScene(0, 0);
        const QRect display = navigation().m_DisplayRect;
        m_Zoomed->clear();
        show(m_Frames.rgb24, 8, 3, false);
        QCOMPARE(m_Zoomed->count(), 0);
        QCOMPARE(m_View->zoomValue(), zoom);
        QCOMPARE(m_View->transform(), transform);
        QCOMPARE(m_View->mapToScene(0, 0), corner);
        QCOMPARE(navigation().m_DisplayRect, display);
        show(m_Frames.grey8, 8, 1, true);
        QCOMPARE(m_View->zoomValue(), 100.0);
        QCOMPARE(m_View->transform().m11(), 1.0);
        QCOMPARE(navigation().m_DisplayRect, QRect(0, 0, 100, 80));
    }

    // A grey frame read into nextFrame8 is shown as it is; the array is never the one on screen,
    // whatever depth came between.
    void framesInTheNextArray()
    {
        cv::Mat expected;
        show(m_Frames.grey8, 8, 1);
        const cv::Mat frames[] = {255 - m_Frames.grey8, m_Frames.grey8 / 2, m_Frames.grey8};
        for (int i = 0; i < 3; ++i) {
            if (i == 2)
                show(m_Frames.camera16, 16, 1);
            const QImage before = picture(*m_View);
            uchar *next = m_View->nextFrame8();
            QVERIFY(next != m_View->pixmapItem()->pixmap().toImage().constBits());
            frames[i].copyTo(cv::Mat(H, W, CV_8UC1, next));
            QVERIFY(picture(*m_View) == before);
            m_View->setImageData(7, next, 8, 1, false);
            cv::cvtColor(frames[i], expected, cv::COLOR_GRAY2RGB);
            QCOMPARE(cv::norm(asMat(picture(*m_View)), expected, cv::NORM_INF), 0.0);
        }
    }

    void fitAndSteps()
    {
        m_View->setEnableZoomFit(true);
        m_View->zoomFit(); // no frame: nothing to fit
        QCOMPARE(m_View->zoomValue(), 100.0);
        QCOMPARE(m_Zoomed->count(), 0);
        show(m_Frames.grey8, 8, 1);
        m_View->setEnableZoomFit(false);
        m_View->zoomFit(); // disabled
        QCOMPARE(m_Zoomed->count(), 1);
        // Steps up: zoom grows by 100 times the scale change.
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, 120)));
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, 120)));
        const double two = m_View->zoomValue();
        QVERIFY(std::abs(two - 100 * m_View->transform().m11()) < 1e-6);
        QVERIFY(std::abs(two - 161.53) < 0.05);
        QCOMPARE(m_View->zoomFilter()->get_current_zoom_step(), 2);
        QCOMPARE(m_Zoomed->count(), 3);
        // Fit by a step below 0 when enabled: the whole image, the navigator's whole frame.
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, -120)));
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, -120)));
        QVERIFY(!wheel(viewport(), QPoint(640, 512), QPoint(0, -120))); // fit not enabled yet
        m_View->setEnableZoomFit(true);
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, -120)));
        QCOMPARE(m_View->zoomValue(), 0.0);
        QCOMPARE(m_View->zoomFilter()->get_current_zoom_step(), -1);
        QCOMPARE(navigation().m_DisplayRect, navigation().m_NavigationRect);
        QCOMPARE(m_View->transform().m11(), double(m_View->width()) / W);
        const int emitted = m_Zoomed->count();
        m_View->zoomFit(); // already fitted
        QVERIFY(!wheel(viewport(), QPoint(640, 512), QPoint(0, -120)));
        QCOMPARE(m_Zoomed->count(), emitted);
        // A hand drag while fitted moves no region.
        mouse(viewport(), QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
        mouse(viewport(), QEvent::MouseMove, QPoint(300, 300));
        mouse(viewport(), QEvent::MouseButtonRelease, QPoint(300, 300), Qt::LeftButton);
        QCOMPARE(m_Zoomed->count(), emitted);
        // Leaving fit: the zoom held before, in the value, the view and the navigator alike.
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, 120)));
        QVERIFY(std::abs(m_View->zoomValue() - 100) < 1e-4);
        QCOMPARE(m_View->transform().m11(), m_View->zoomValue() / 100);
        QCOMPARE(navigation().m_DisplayRect.size(), QSize(100, 80));
    }

    // The navigator's example: a 320 x 256 region at (480, 384).
    void sceneScaleChangeAndNavigator()
    {
        show(m_Frames.grey8, 8, 1);
        m_View->sceneScaleChange(400, QPoint(2560, 2048));
        QCOMPARE(m_View->regionOrigin(), QPointF(480, 384));
        QCOMPARE(navigation().m_DisplayRect, QRect(QPoint(37, 30), QPoint(61, 49)));
        QCOMPARE(m_View->zoomValue(), 100.0); // the held zoom is not changed
        m_View->sceneScaleChange(400, QPoint(5000, 5000)); // clamped to the image
        QCOMPARE(m_View->regionOrigin(), QPointF(960, 768));
        m_View->initNavigation(0, 512);
        QCOMPARE(navigation().m_DisplayWidth, float(W));
        QCOMPARE(navigation().m_DisplayHeight, 512.0f);
        QCOMPARE(m_View->regionOrigin(), QPointF(0, 0));
    }

    // Left drag on the background in select mode, and middle drag in any mode, pan the region.
    void pan_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("button");
        QTest::newRow("left in select mode") << int(DiagramScene::MoveItem) << int(Qt::LeftButton);
        QTest::newRow("middle in line mode") << int(DiagramScene::InsertLine) << int(Qt::MiddleButton);
    }
    void pan()
    {
        QFETCH(int, mode);
        QFETCH(int, button);
        show(m_Frames.grey8, 8, 1);
        for (int i = 0; i < 5; ++i)
            QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, 120)));
        QVERIFY(!wheel(viewport(), QPoint(640, 512), QPoint(0, 120))); // highest step
        const double s = m_View->zoomValue() / 100;
        QVERIFY(std::abs(s - 3.3161) < 0.001);
        const QPointF origin = m_View->regionOrigin();
        const QPointF corner = m_View->mapToScene(0, 0);
        m_View->diagramScene()->setMode(mode);
        m_Zoomed->clear();
        mouse(viewport(), QEvent::MouseButtonPress, QPoint(600, 500), Qt::MouseButton(button));
        if (button == Qt::MiddleButton)
            QCOMPARE(m_View->diagramScene()->mode(), DiagramScene::MoveItem);
        mouse(viewport(), QEvent::MouseMove, QPoint(550, 480));
        mouse(viewport(), QEvent::MouseMove, QPoint(500, 450));
        mouse(viewport(), QEvent::MouseButtonRelease, QPoint(500, 450), Qt::MouseButton(button));
        QCOMPARE(m_Zoomed->count(), 2);
        const QPointF expected(int(int(origin.x() - int(-50 / s)) - int(-50 / s)), int(int(origin.y() - int(-20 / s)) - int(-30 / s)));
        QCOMPARE(m_View->regionOrigin(), expected);
        Navigation record;
        record.setNavigationSize(100, 80);
        record.setImageSize(W, H);
        record.setDisplaySize(W / s, H / s);
        record.setNavigationPosition(expected.x(), expected.y());
        QCOMPARE(navigation().m_DisplayRect, record.m_DisplayRect);
        QVERIFY(m_View->mapToScene(0, 0).x() > corner.x()); // the view scrolled with it
        QCOMPARE(int(m_View->diagramScene()->mode()), mode);
        QCOMPARE(m_View->dragMode(), QGraphicsView::NoDrag);
        QCOMPARE(m_View->diagramScene()->items().size(), 1); // the middle drag drew nothing
    }

    // Keys act only when enabled; Delete removes through the scene's rule, silently.
    void keys()
    {
        show(m_Frames.grey8, 8, 1);
        DiagramScene *scene = m_View->diagramScene();
        auto *line = new DiagramLineItem(QLineF(10, 10, 100, 10), scene->itemMenu());
        auto *rect = new DiagramRectItem(QRectF(200, 200, 50, 50), scene->itemMenu());
        scene->addGraphicsItem(line, true);
        scene->addGraphicsItem(rect, true);
        scene->setItemSelectableFlag(true);
        QSignalSpy deleted(scene, &DiagramScene::itemDeleted);
        line->setSelected(true);
        for (auto [key, modifiers] : {std::pair{Qt::Key_Escape, Qt::NoModifier}, {Qt::Key_Delete, Qt::NoModifier}, {Qt::Key_A, Qt::ControlModifier}})
            QTest::keyClick(m_View.get(), key, modifiers);
        QVERIFY(line->isSelected() && !rect->isSelected());
        m_View->m_bKeyEnabled = true;
        QTest::keyClick(m_View.get(), Qt::Key_A, Qt::ControlModifier);
        QVERIFY(line->isSelected() && rect->isSelected());
        QTest::keyClick(m_View.get(), Qt::Key_Escape);
        QVERIFY(scene->selectedItems().isEmpty());
        line->setSelected(true);
        scene->slotCopyItem();
        QTest::keyClick(m_View.get(), Qt::Key_Delete);
        QCOMPARE(deleted.count(), 0);
        QCOMPARE(scene->getItemByKey(1), nullptr);
        QVERIFY(scene->pasteItem(QPointF(640, 512))); // the copied line waited in the buffer
        QVERIFY(scene->getItemByKey(3));
        QVERIFY(scene->getItemByKey(2));
    }

    // No frame: black, with the visible items; zoom and pan do not matter.
    void pictureWithItems()
    {
        DiagramScene *scene = m_View->diagramScene();
        scene->setSceneRect(0, 0, W, H);
        auto *rect = new DiagramRectItem(QRectF(100, 100, 200, 100), nullptr);
        rect->setPen(QPen(Qt::red, 3));
        scene->addGraphicsItem(rect, false);
        auto *hidden = new DiagramRectItem(QRectF(500, 500, 50, 50), nullptr);
        hidden->setPen(QPen(Qt::green, 3));
        hidden->setVisible(false);
        scene->addGraphicsItem(hidden, false);
        m_View->sceneScaleChange(300, QPoint(900, 900));
        const QImage out = picture(*m_View);
        QCOMPARE(out.size(), QSize(W, H));
        QCOMPARE(out.pixelColor(100, 150), QColor(Qt::red));
        QCOMPARE(out.pixelColor(150, 150), QColor(Qt::black));
        QCOMPARE(out.pixelColor(500, 525), QColor(Qt::black));
    }

    // The viewport as painted shows what the raster engine draws of the frame's pixmap under the
    // view's transform (nearest samples), on the scene's black around it: at 100 %, fitted into a
    // view of another shape, zoomed in and panned, and zoomed out; for grey, pseudo-coloured,
    // mirrored and colour frames. A region repainted alone (an item moved) shows the same. The
    // frames are blocks of 16 x 16 pixels: where a sample falls on a block's edge, the engine's
    // fixed-point steps may take the pixel beside it, so a few pixels on block edges may differ
    // (the view's odd size keeps samples off the edges but for one row and one column).
    void paintedViewport_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("colorIndex");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("zoom");
        QTest::newRow("grey 100 %") << 1 << 7 << 1 << "100";
        QTest::newRow("green fitted") << 1 << 1 << 1 << "fit";
        QTest::newRow("grey mirrored zoomed in") << 1 << 7 << 2 << "in";
        QTest::newRow("grey turned zoomed out") << 1 << 7 << 3 << "out";
        QTest::newRow("rgb fitted") << 3 << 7 << 1 << "fit";
        QTest::newRow("rgb zoomed in") << 3 << 7 << 1 << "in";
    }
    void paintedViewport()
    {
        QFETCH(int, channels);
        QFETCH(int, colorIndex);
        QFETCH(int, orientation);
        QFETCH(QString, zoom);
        m_View->resize(901, 701);
        m_View->setPixmapTransform(orientation);
        cv::Mat blocks;
        cv::resize((channels == 1 ? m_Frames.grey8 : m_Frames.rgb24)(cv::Rect(0, 0, W / 16, H / 16)), blocks,
                   cv::Size(W, H), 0, 0, cv::INTER_NEAREST);
        show(blocks, 8, channels, true, colorIndex);
        if (zoom == "fit") {
            m_View->setEnableZoomFit(true);
            m_View->zoomFit();
        } else if (zoom == "in") {
            for (int i = 0; i < 3; ++i)
                QVERIFY(wheel(viewport(), QPoint(450, 350), QPoint(0, 120)));
            mouse(viewport(), QEvent::MouseButtonPress, QPoint(600, 500), Qt::LeftButton);
            mouse(viewport(), QEvent::MouseMove, QPoint(520, 430));
            mouse(viewport(), QEvent::MouseButtonRelease, QPoint(520, 430), Qt::LeftButton);
        } else if (zoom == "out") {
            m_View->sceneScaleChange(43.0, QPoint(0, 0));
        }
        QImage expected(viewport()->size(), QImage::Format_RGB32);
        expected.fill(Qt::black);
        {
            QPainter painter(&expected);
            painter.setTransform(m_View->viewportTransform());
            painter.drawPixmap(0, 0, m_View->pixmapItem()->pixmap());
        }
        auto differing = [&](const QImage &shown) {
            int n = 0;
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x)
                    n += (shown.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x, y) & 0xFFFFFF);
            return n;
        };
        const int exact = zoom == "100" || zoom == "in"; // whole-pixel steps
        // As rendered alone, and as painted into the window's backing store (where the viewport
        // lies at an offset).
        QCoreApplication::processEvents();
        const QPoint origin = viewport()->mapTo(m_View.get(), QPoint(0, 0));
        const QImage window = QGuiApplication::primaryScreen()->grabWindow(m_View->winId()).toImage();
        for (const QImage &shown : {viewport()->grab().toImage(), window.copy(QRect(origin, viewport()->size()))}) {
            const int shownDiffering = differing(shown.convertToFormat(QImage::Format_RGB32));
            QVERIFY2(exact ? shownDiffering == 0 : shownDiffering < expected.width() * expected.height() / 200,
                     qPrintable(QString::number(shownDiffering)));
        }
        // A small region again: nothing outside it is painted.
        auto *line = new DiagramLineItem(QLineF(10, 10, 12, 12), m_View->diagramScene()->itemMenu());
        m_View->diagramScene()->addGraphicsItem(line, false);
        line->hide();
        QImage region(viewport()->size(), QImage::Format_RGB32);
        region.fill(Qt::red);
        viewport()->render(&region, QPoint(100, 80), QRegion(100, 80, 40, 30));
        for (const QPoint p : {QPoint(100, 80), QPoint(139, 109), QPoint(120, 95)})
            QCOMPARE(region.pixel(p) & 0xFFFFFF, expected.pixel(p) & 0xFFFFFF);
        QCOMPARE(region.pixel(99, 80) & 0xFFFFFF, 0xFF0000u); // outside the region: untouched
    }


    // The picture drawn over the frame's own pixels equals the whole scene rendered, whatever
    // lies over the frame (antialiased lines, text, half-transparent fills, the scale bar and
    // the annotation text), for every kind of frame; an item below the frame stays hidden. The
    // view's scene is as it was afterwards, and a caller's image is drawn into in place.
    void pictureEqualsWholeScene_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QString>("over"); // what lies over the frame
        QTest::newRow("grey pseudo colour") << "8" << 1 << "all";
        QTest::newRow("grey mirrored") << "8" << 2 << "all";
        QTest::newRow("grey turned") << "8" << 3 << "all";
        QTest::newRow("16 bit scaled") << "16" << 1 << "all";
        QTest::newRow("rgb mirrored") << "24" << 4 << "all";
        QTest::newRow("item below the frame") << "8" << 1 << "below";
        QTest::newRow("annotation text only") << "8" << 1 << "text";
        QTest::newRow("nothing") << "8" << 1 << "none";
        QTest::newRow("rgb, nothing") << "24" << 1 << "none";
    }
    void pictureEqualsWholeScene()
    {
        QFETCH(QString, kind);
        QFETCH(int, orientation);
        QFETCH(QString, over);
        m_View->m_bHighByte = false;
        m_View->setPixmapTransform(orientation);
        if (kind == "8")
            show(m_Frames.grey8, 8, 1, true, 2);
        else if (kind == "16")
            show(m_Frames.native16, 16, 1);
        else
            show(m_Frames.rgb24, 8, 3);
        DiagramScene *scene = m_View->diagramScene();
        auto *line = new DiagramLineItem(QLineF(10.5, 20, 900, 700.25), nullptr);
        line->setPen(QPen(QColor(255, 0, 0, 140), 5));
        scene->addGraphicsItem(line, false);
        auto *ellipse = new DiagramEllipseItem(QRectF(300, 300, 211, 117), nullptr);
        ellipse->setPen(QPen(Qt::cyan, 2.5));
        ellipse->setBrush(QColor(0, 0, 255, 90));
        scene->addGraphicsItem(ellipse, false);
        ellipse->setSelected(true);
        auto *below = new DiagramRectItem(QRectF(600, 100, 80, 80), nullptr);
        below->setPen(QPen(Qt::green, 7));
        below->setZValue(-5000);
        below->setVisible(over == "below");
        scene->addGraphicsItem(below, false);
        TSScaleBar bar;
        bar.show = true;
        bar.corner = 3;
        bar.lengthUm = 50;
        bar.lengthPixels = 173.5;
        bar.color = Qt::yellow;
        bar.lineWidth = 3;
        bar.fontSize = 14;
        m_View->setScaleBar(bar);
        m_View->setAnnotationFont(18, Qt::magenta);
        m_View->setAnnotationText("Z 12.5 \u00B5m  3 / 40\nsecond line");
        line->setVisible(over == "all" || over == "below");
        ellipse->setVisible(line->isVisible());
        m_View->scaleBarGroup()->setVisible(line->isVisible());
        m_View->showAnnotationText(over != "none");

        const QBrush background = scene->backgroundBrush();
        std::vector<uchar> samples(size_t(W) * H * 3, 0x5A);
        QImage inPlace(samples.data(), W, H, W * 3, QImage::Format_RGB888);
        QVERIFY(m_View->renderImageData(inPlace));
        QCOMPARE(static_cast<const void *>(inPlace.constBits()), static_cast<const void *>(samples.data()));
        QVERIFY(!ellipse->isSelected());
        QVERIFY(m_View->pixmapItem()->isVisible());
        QCOMPARE(scene->backgroundBrush(), background);

        const QImage expected = wholeScene(*m_View);
        QCOMPARE(cv::norm(asMat(inPlace), asMat(expected), cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(asMat(picture(*m_View)), asMat(expected), cv::NORM_INF), 0.0);
        QVERIFY(expected.pixelColor(600, 140) != QColor(Qt::green));

        QImage wrong(W, H, QImage::Format_RGB32);
        wrong.fill(Qt::white);
        QVERIFY(!m_View->renderImageData(wrong));
        QCOMPARE(wrong.pixelColor(0, 0), QColor(Qt::white));
    }

    // The view and its own items after clears and at its end (under AddressSanitizer).
    void clearImageData()
    {
        show(m_Frames.grey8, 8, 1);
        QVERIFY(wheel(viewport(), QPoint(640, 512), QPoint(0, 120)));
        const Navigation before = navigation();
        auto *line = new DiagramLineItem(QLineF(10, 10, 100, 10), nullptr);
        m_View->diagramScene()->addGraphicsItem(line, true);
        m_View->clearImageData();
        QCOMPARE(m_View->zoomValue(), 100.0);
        QCOMPARE(m_View->pixmapItem(), nullptr);
        QCOMPARE(m_View->diagramScene()->items().size(), 0);
        QCOMPARE(navigation().m_DisplayRect, before.m_DisplayRect);
        show(m_Frames.grey8, 8, 1);
        m_View->diagramScene()->clearScene(); // cleared behind the view's back
        show(m_Frames.grey8, 8, 1);
        QVERIFY(m_View->pixmapItem());
    }

    void objectiveInfo_data()
    {
        QTest::addColumn<QString>("brand");
        QTest::addColumn<float>("magnification");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<double>("size");
        QTest::newRow("Olympus") << "Olympus" << 10.0f << QByteArray() << 0.49878;
        QTest::newRow("olympus is another brand") << "olympus" << 10.0f << QByteArray() << 0.55420;
        QTest::newRow("Zeiss") << "Zeiss" << 10.0f << QByteArray() << 3.63 / (10 * 200.0 / 165 * 0.655);
        QTest::newRow("blank brand") << "  " << 10.0f << QByteArray() << 0.0;
        QTest::newRow("no magnification") << "Olympus" << 0.0f << QByteArray() << 0.0;
        QTest::newRow("configured") << "Quorva" << 20.0f << QByteArray("[ScaleBar]\nCMOSPixelSize=5.2\nReductionLensMagnification=0.5\n") << 0.52;
    }
    void objectiveInfo()
    {
        QFETCH(QString, brand);
        QFETCH(float, magnification);
        QFETCH(QByteArray, config);
        QFETCH(double, size);
        TestRoot root;
        if (!config.isEmpty())
            root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", config);
        m_View->setObjectiveInfo(brand, magnification);
        QVERIFY2(std::abs(m_View->objectivePixelSize() - size) < 5e-5, qPrintable(QString::number(m_View->objectivePixelSize())));
    }

    // The filter alone on a plain view.
    void zoomFilterRules()
    {
        QGraphicsScene scene(0, 0, W, H);
        StillView view(&scene);
        view.resize(640, 512);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Graphics_view_zoom filter(&view);
        QSignalSpy zoomed(&filter, &Graphics_view_zoom::zoomed);
        QWidget *port = view.viewport();
        QVERIFY(!wheel(port, QPoint(100, 100), QPoint(0, 120))); // Control is required
        QVERIFY(!wheel(port, QPoint(100, 100), QPoint(120, 0), Qt::ControlModifier)); // horizontal
        filter.set_modifiers(Qt::NoModifier);
        filter.set_zoom_step(0, 5);
        QVERIFY(!wheel(port, QPoint(100, 100), QPoint(0, 120), Qt::ShiftModifier));
        QVERIFY(!wheel(port, QPoint(100, 100), QPoint(0, -120))); // fit disabled at step 0
        QCOMPARE(zoomed.count(), 0);
        filter.zoom_fit_enabled = true;
        QVERIFY(wheel(port, QPoint(100, 100), QPoint(0, -120)));
        QCOMPARE(zoomed.count(), 1);
        QCOMPARE(zoomed.last().at(0).toDouble(), 0.0);
        filter.set_current_zoom_step(-1); // the owner holds it while fitted
        QVERIFY(!wheel(port, QPoint(100, 100), QPoint(0, -120)));
        // Anchor: moves of up to 5 pixels keep it.
        mouse(port, QEvent::MouseMove, QPoint(300, 200));
        const QPointF anchor = view.mapToScene(300, 200);
        mouse(port, QEvent::MouseMove, QPoint(305, 195));
        QVERIFY(wheel(port, QPoint(305, 195), QPoint(0, 120)));
        QCOMPARE(filter.get_current_zoom_step(), 0);
        QVERIFY(std::abs(view.transform().m11() - 1.27094) < 1e-4);
        QVERIFY(std::abs(zoomed.last().at(0).toDouble() - 0.27094) < 1e-4);
        QCOMPARE(zoomed.last().at(1).toPointF(), anchor);
        QVERIFY(QLineF(view.mapToScene(300, 200), anchor).length() < 1.0); // the anchor stays under the mouse
        filter.set_current_zoom_step(5);
        QVERIFY(!wheel(port, QPoint(100, 100), QPoint(0, 120)));
        QVERIFY(wheel(port, QPoint(100, 100), QPoint(0, -120)));
        QVERIFY(std::abs(view.transform().m11() - 1.27094 * 0.78682) < 1e-3);
    }
};

QTEST_MAIN(TestLGraphicsView)
#include "tst_lgraphicsview.moc"
