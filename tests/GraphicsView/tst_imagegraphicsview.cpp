// The measuring view's channel store: what it accepts, what it shows, its styles from the
// configuration file, and the removal of every annotation.
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "Globals.h"
#include "ImageGraphicsView.h"
#include "TestRoot.h"
#include "Utilities.h"

#include <QtTest>
#include <QGraphicsPixmapItem>
#include <QMenu>
#include <memory>
#include <vector>

namespace {
constexpr int kPixels = 1280 * 1024;
}

class TestImageGraphicsView : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestRoot> m_Root;
    std::unique_ptr<ImageGraphicsView> m_View;
    std::vector<ushort> m_Words = std::vector<ushort>(kPixels, 0x1234);
    std::vector<uchar> m_Bytes = std::vector<uchar>(kPixels, 77);

private slots:
    void initTestCase() { initializePseudoColorTable(); }
    void init()
    {
        m_Root = std::make_unique<TestRoot>();
        m_View = std::make_unique<ImageGraphicsView>();
        m_View->resize(1280, 1024);
    }
    void cleanup()
    {
        m_View.reset();
        m_Root.reset();
    }

    // Refused: null frames, more than one sample, channels outside 0..3.
    void refusedFrames_data()
    {
        QTest::addColumn<bool>("data");
        QTest::addColumn<bool>("raw");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("channel");
        QTest::newRow("no frame") << false << true << 1 << 0;
        QTest::newRow("no raw frame") << true << false << 1 << 0;
        QTest::newRow("three samples") << true << true << 3 << 0;
        QTest::newRow("channel 4") << true << true << 1 << 4;
        QTest::newRow("channel -1") << true << true << 1 << -1;
    }
    void refusedFrames()
    {
        QFETCH(bool, data);
        QFETCH(bool, raw);
        QFETCH(int, samples);
        QFETCH(int, channel);
        m_View->setFilterImageData(7, data ? m_Bytes.data() : nullptr, 8, samples, false, channel, true,
                                   raw ? m_Bytes.data() : nullptr);
        QVERIFY(!m_View->pixmapItem());
        for (int c = 0; c < 4; ++c)
            QVERIFY(!m_View->channelHasImage(c));
        QCOMPARE(m_View->currentFilter(), 0);
    }

    // Each channel is stored with its depth; show makes it current, the overlay is position 4.
    void channelsAndOverlay()
    {
        m_View->setFilterImageData(7, m_Words.data(), 16, 1, true, 2, false, reinterpret_cast<uchar *>(m_Words.data()));
        QVERIFY(m_View->channelHasImage(2));
        QCOMPARE(m_View->channelBits(2), 16);
        QVERIFY(!m_View->pixmapItem());
        QCOMPARE(m_View->currentFilter(), 0);
        m_View->setFilterImageData(1, m_Bytes.data(), 8, 1, true, 3, true, m_Bytes.data());
        QVERIFY(m_View->pixmapItem());
        QCOMPARE(m_View->currentFilter(), 3);
        QCOMPARE(m_View->channelBits(3), 8);
        std::vector<uchar> rgb(kPixels * 3, 9);
        m_View->setOverlayImageData(rgb.data(), 8);
        QCOMPARE(m_View->currentFilter(), 4);
        QImage picture;
        m_View->getImageData(picture);
        QCOMPARE(picture.pixelColor(5, 5), QColor(9, 9, 9));
    }

    // Styles from [Setting_MultiColor], read again with every shown frame; colours outside the
    // table read as the defaults.
    void styles_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("thickness");
        QTest::addColumn<int>("lineColor");
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<int>("fontColor");
        QTest::newRow("defaults") << QByteArray() << 1 << 1 << 24 << 1;
        QTest::newRow("set") << QByteArray("[Setting_MultiColor]\nLineThickness=3\nLineColor=2\nFontThickness=24\nFontColor=6\n")
                             << 4 << 2 << 24 << 6;
        QTest::newRow("colours out of range") << QByteArray("[Setting_MultiColor]\nLineColor=9\nFontColor=-2\n") << 1 << 1 << 24 << 1;
    }
    void styles()
    {
        QFETCH(QByteArray, config);
        if (!config.isEmpty())
            m_Root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", config);
        m_View->setImageData(7, m_Bytes.data(), 8, 1, true);
        QTEST(m_View->currentLineThickness(), "thickness");
        QFETCH(int, lineColor);
        QCOMPARE(m_View->currentLineColor(), g_ColorTable[lineColor]);
        QTEST(m_View->currentFontSize(), "fontSize");
        QFETCH(int, fontColor);
        QCOMPARE(m_View->currentFontColor(), g_ColorTable[fontColor]);
    }

    // The view's own menu, away from items: "Show Navigation" toggles, "Paste" pastes the copied
    // items at the menu's point. Disabled, no menu opens.
    void viewMenu()
    {
        m_View->setImageData(7, m_Bytes.data(), 8, 1, true);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        DiagramScene *scene = m_View->diagramScene();
        auto *rect = new DiagramRectItem(QRectF(10, 10, 20, 20), nullptr);
        scene->addGraphicsItem(rect, false);
        QSignalSpy navigation(m_View.get(), &ImageGraphicsView::showNavigation);
        QStringList seen;
        auto open = [&](int action) {
            QTimer::singleShot(50, [&seen, action] {
                auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                if (!menu)
                    return;
                for (QAction *a : menu->actions())
                    seen << QString("%1:%2:%3").arg(a->text()).arg(a->isEnabled()).arg(a->isChecked());
                menu->actions().at(action)->trigger();
                menu->close();
            });
            const QPoint at(600, 500);
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_View->viewport()->mapToGlobal(at));
            QApplication::sendEvent(m_View->viewport(), &event);
            QTest::qWait(100);
        };
        open(0);
        QVERIFY(seen.isEmpty());
        m_View->m_bContextMenuEnabled = true;
        open(0);
        QCOMPARE(seen, QStringList({"Show Navigation:1:1", "Paste:0:0"}));
        QCOMPARE(navigation.count(), 1);
        QCOMPARE(navigation[0][0].toBool(), false);
        seen.clear();
        scene->setItemSelectableFlag(true);
        rect->setSelected(true);
        scene->slotCopyItem();
        open(1);
        QCOMPARE(seen, QStringList({"Show Navigation:1:0", "Paste:1:0"}));
        QList<QGraphicsItem *> items;
        QCOMPARE(scene->getDiagramItemList(items), 2);
        QVERIFY(std::any_of(items.begin(), items.end(), [](QGraphicsItem *i) {
            return i->sceneBoundingRect().contains(QPointF(600, 500));
        }));
    }

    // The annotated picture: its bytes, whether it is grey, whether a visible annotation is on it.
    void annotationPicture()
    {
        m_View->setImageData(7, m_Bytes.data(), 8, 1, true);
        QStringList got;
        connect(m_View.get(), &ImageGraphicsView::signalSendAnnotationImageData, this,
                [&got](bool before, uchar *data, int size, bool grey, bool annotated) {
                    got << QString("%1 %2 %3 %4 %5").arg(before).arg(data[0]).arg(size).arg(grey).arg(annotated);
                });
        m_View->slotMakeAnnotationImageData(true);
        auto *rect = new DiagramRectItem(QRectF(0, 0, 20, 20), nullptr);
        rect->setPen(QPen(Qt::red, 2));
        m_View->diagramScene()->addGraphicsItem(rect, false);
        m_View->slotMakeAnnotationImageData(false);
        rect->hide();
        m_View->slotMakeAnnotationImageData(false);
        QCOMPARE(got, QStringList({"1 77 3932160 1 0", "0 255 3932160 0 1", "0 77 3932160 1 0"}));
    }

    // Every annotation goes, silently; the frame, the bar and the view's text stay.
    void deleteAllAnnotation()
    {
        m_View->setImageData(7, m_Bytes.data(), 8, 1, true);
        TSScaleBar bar;
        bar.show = true;
        bar.corner = 2;
        bar.lengthPixels = 50;
        m_View->setScaleBar(bar);
        m_View->setAnnotationText("t");
        DiagramScene *scene = m_View->diagramScene();
        for (int i = 0; i < 3; ++i)
            scene->addGraphicsItem(new DiagramRectItem(QRectF(10 * i, 10, 5, 5), nullptr), false);
        QSignalSpy deleted(scene, &DiagramScene::itemDeleted);
        m_View->deleteAllAnnotation();
        QList<QGraphicsItem *> left;
        QCOMPARE(scene->getDiagramItemList(left), 1);
        QCOMPARE(left.first(), static_cast<QGraphicsItem *>(m_View->annotationTextItem()));
        QVERIFY(m_View->pixmapItem() && m_View->scaleBarGroup());
        QCOMPARE(deleted.count(), 0);
    }
};

QTEST_MAIN(TestImageGraphicsView)
#include "tst_imagegraphicsview.moc"
