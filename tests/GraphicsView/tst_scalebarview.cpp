// The scale bar and the annotation text of the image view, and the scale-bar settings dialog
// that stores the bar's look in the configuration file.
#include "DiagramItemGroup.h"
#include "DiagramScene.h"
#include "DiagramTextItem.h"
#include "DialogCombos.h"
#include "DialogScripts.h"
#include "LGraphicsView.h"
#include "Paths.h"
#include "PythonIni.h"
#include "OfferedRange.h"
#include "ScaleBarDlg.h"
#include "TestRoot.h"
#include "Globals.h"
#include "Utilities.h"

#include <QtTest>
#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsLineItem>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <memory>
#include <opencv2/core.hpp>

namespace {

constexpr int W = 1280, H = 1024;

TSScaleBar record(int corner, float lengthPixels = 100)
{
    TSScaleBar r;
    r.show = true;
    r.corner = corner;
    r.lengthUm = 10;
    r.lengthPixels = lengthPixels;
    r.color = Qt::red;
    r.lineWidth = 4;
    return r;
}


const QByteArray kConfig = "[Lens]\n1=10X\n"
                           "[ScaleBar]\nScaleBarColor=4\nScaleBarSize=1\nScaleBarFont=14\nScaleBarPosition=3\n"
                           "[Setting_MultiColor]\nTitle=Z\xC3\xA9llkultur \xC2\xB5m\nPath=/media/VANTOR%20SSD\n";

QByteArray configBytes()
{
    QFile file(Paths::configFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The configuration file as Python's configparser reads it: "group/key=value" lines, sorted.
QStringList parsed()
{
    return pythonIniLines(Paths::configFile());
}

} // namespace

class TestScaleBarView : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestRoot> m_Root;
    std::unique_ptr<LGraphicsView> m_View;
    cv::Mat m_Black = cv::Mat::zeros(H, W, CV_8UC1);

    void showFrame() { m_View->setImageData(7, m_Black.data, 8, 1, true); }
    QLineF line(int index) { return m_View->scaleBarLine(index)->line(); }

private slots:
    void initTestCase() { initializePseudoColorTable(); }
    void init()
    {
        m_Root = std::make_unique<TestRoot>();
        m_View = std::make_unique<LGraphicsView>();
        m_View->resize(W, H);
    }
    void cleanup()
    {
        m_View.reset(); // with bar and text in the scene: AddressSanitizer watches the teardown
        m_Root.reset();
    }

    void nothingBeforeAFrame()
    {
        m_View->setScaleBar(record(2));
        QVERIFY(!m_View->scaleBarGroup());
        QPointF p(7, 7);
        m_View->getScaleBarPoint(p);
        QCOMPARE(p, QPointF(7, 7));
        // Nor without an objective, once a frame is there.
        showFrame();
        TSScaleBar none = record(2);
        none.noObjective = true;
        m_View->setScaleBar(none);
        QVERIFY(!m_View->scaleBarGroup());
    }

    void layoutPerCorner_data()
    {
        QTest::addColumn<int>("corner");
        QTest::addColumn<QPointF>("start");
        QTest::newRow("top left") << 0 << QPointF(120, 20);
        QTest::newRow("top right") << 1 << QPointF(1152, 20);
        QTest::newRow("bottom left") << 2 << QPointF(20, 940);
        QTest::newRow("bottom right") << 3 << QPointF(1152, 940);
    }
    void layoutPerCorner()
    {
        QFETCH(int, corner);
        QFETCH(QPointF, start);
        showFrame();
        m_View->setScaleBar(record(corner));
        DiagramItemGroup *group = m_View->scaleBarGroup();
        QVERIFY(group && group->isVisible());
        QCOMPARE(group->zValue(), 1000.0);
        QCOMPARE(group->childItems().size(), 7);
        QCOMPARE(line(0), QLineF(start, start + QPointF(100, 0)));
        QCOMPARE(m_View->scaleBarLine(0)->pen(), QPen(Qt::red, 4));
        const double x = start.x(), y = start.y();
        const double ticks[5] = {x - 1.5, x + 25, x + 50, x + 75, x + 101.5};
        for (int i = 1; i < 6; ++i) {
            QCOMPARE(line(i), QLineF(ticks[i - 1], y, ticks[i - 1], y - 10));
            QCOMPARE(m_View->scaleBarLine(i)->pen().width(), 1);
        }
        QCOMPARE(m_View->scaleBarText()->pos(), QPointF(x + 30, y + 5));
        QCOMPARE(m_View->scaleBarText()->toPlainText(), QString("10 \u00B5m"));
        QCOMPARE(m_View->scaleBarText()->font().pointSize(), 10);
        QVERIFY(m_View->scaleBarText()->isVisible());
        QPointF p;
        m_View->getScaleBarPoint(p);
        QCOMPARE(p, start);
    }

    void fontSizeZeroHidesTheLabelAndShowFalseTheBar()
    {
        showFrame();
        TSScaleBar r = record(2);
        r.fontSize = 0;
        m_View->setScaleBar(r);
        QVERIFY(!m_View->scaleBarText()->isVisible());
        QVERIFY(m_View->scaleBarLine(0)->isVisible());
        QCOMPARE(m_View->scaleBarText()->font().pointSize(), 1);
        r.show = false;
        m_View->setScaleBar(r);
        QVERIFY(!m_View->scaleBarGroup()->isVisible());
    }

    // After a drag a new length keeps the start for the left corners and the end for the right.
    void aDragKeepsTheFixedEnd_data()
    {
        QTest::addColumn<int>("corner");
        QTest::newRow("bottom left") << 2;
        QTest::newRow("top right") << 1;
    }
    void aDragKeepsTheFixedEnd()
    {
        QFETCH(int, corner);
        showFrame();
        m_View->setScaleBar(record(corner));
        DiagramItemGroup *group = m_View->scaleBarGroup();
        group->setPos(-10, 100);
        const QPointF fixed = corner == 2 ? group->mapToScene(line(0).p1()) : group->mapToScene(line(0).p2());
        TSScaleBar longer = record(corner, 200);
        longer.bottomLeft = longer.topRight = QPointF(600, 500); // other anchors count only at a reset
        m_View->setScaleBar(longer);
        QCOMPARE(m_View->scaleBarGroup(), group);
        QCOMPARE(group->mapToScene(corner == 2 ? line(0).p1() : line(0).p2()), fixed);
        QCOMPARE(line(0).length(), 200.0);
        QPointF p;
        m_View->getScaleBarPoint(p);
        QCOMPARE(p, group->mapToScene(line(0).p1()));
        // A drag is held inside the image and clears the selection.
        auto *rect = m_View->diagramScene()->addRect(0, 0, 10, 10);
        rect->setFlag(QGraphicsItem::ItemIsSelectable);
        rect->setSelected(true);
        group->setPos(-5000, 5000);
        QVERIFY(m_View->diagramScene()->sceneRect().contains(group->sceneBoundingRect()));
        QVERIFY(!rect->isSelected());
    }

    // A reset puts the bar on the default anchor of the corner, whatever anchors the record
    // holds, and reuses the group (the reset may come from the group's own menu).
    void resetPosition()
    {
        showFrame();
        m_View->setScaleBar(record(2));
        DiagramItemGroup *group = m_View->scaleBarGroup();
        group->setPos(300, -300);
        TSScaleBar r = record(3, 50);
        r.bottomRight = QPointF(600, 600);
        r.resetPosition = true;
        r.movable = false;
        m_View->setScaleBar(r);
        QCOMPARE(m_View->scaleBarGroup(), group);
        QCOMPARE(group->pos(), QPointF(0, 0));
        QCOMPARE(line(0), QLineF(1202, 940, 1252, 940));
        QVERIFY(!(group->flags() & QGraphicsItem::ItemIsMovable));
    }

    void viewPixelSize()
    {
        m_Root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[ScaleBar]\nCMOSPixelSize=5\nReductionLensMagnification=1\n");
        m_View->setObjectiveInfo("Quorva", 10);
        QCOMPARE(m_View->objectivePixelSize(), 0.5f);
        showFrame();
        TSScaleBar r = record(2, 33);
        r.lengthUm = 50;
        r.useViewPixelSize = true;
        m_View->setScaleBar(r);
        QCOMPARE(line(0).length(), 100.0);
    }

    void annotationText()
    {
        TAnnotationTextInfo info;
        info.text = "old";
        m_View->getAnnotationTextInfo(info);
        QCOMPARE(info.visible, false);
        QCOMPARE(info.pointSize, 10);
        QCOMPARE(info.color, QColor(Qt::yellow));
        QCOMPARE(QPointF(info.x, info.y), QPointF(1000, 900));
        QVERIFY(info.text.isEmpty());
        m_View->showAnnotationText(true); // nothing to show yet
        QVERIFY(!m_View->annotationTextItem());

        m_View->setDefalutTextItemPos(QPointF(640, 930));
        m_View->setAnnotationFont(24, Qt::cyan);
        m_View->setAnnotationText("t = 00:10:00");
        DiagramTextItem *item = m_View->annotationTextItem();
        QVERIFY(item && !(item->flags() & QGraphicsItem::ItemIsSelectable) && (item->flags() & QGraphicsItem::ItemIsMovable));
        m_View->getAnnotationTextInfo(info);
        QCOMPARE(info.visible, true);
        QCOMPARE(info.pointSize, 24);
        QCOMPARE(info.color, QColor(Qt::cyan));
        QCOMPARE(info.x, 640.0f);
        QCOMPARE(info.y, float(930 + item->boundingRect().height()));
        QCOMPARE(info.text, QString("t = 00:10:00"));
        m_View->showAnnotationText(false);
        m_View->getAnnotationTextInfo(info);
        QCOMPARE(info.visible, false);
        m_View->setAnnotationFont(12, Qt::white);
        QCOMPARE(item->font().pointSize(), 12);
        QCOMPARE(item->defaultTextColor(), QColor(Qt::white));

        // Every new text is right-aligned: its lines end at one edge.
        for (const QString text : {"a long first line\nshort", "x\nanother long line"}) {
            m_View->setAnnotationText(text);
            QTextDocument *document = item->document();
            document->adjustSize();
            const QTextBlock first = document->firstBlock(), last = document->lastBlock();
            QVERIFY(first != last);
            const auto right = [](const QTextBlock &b) { return b.layout()->lineAt(0).naturalTextRect().right(); };
            QCOMPARE(right(first), right(last));
            QCOMPARE(item->toPlainText(), text);
        }
        m_View->setAnnotationText("1 / 3");
        QCOMPARE(item->toPlainText(), QString("1 / 3"));
        QVERIFY(!item->document()->isUndoAvailable()); // a long show keeps no text it replaced
    }

    // "Settings..." of the text: colour and size through the item dialog, a size the dialog does
    // not list kept when only the colour changes; the font of a text made later stays the view's.
    void textItemSettings_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("chosen"); // empty: the size box left as the dialog opened
        QTest::addColumn<int>("after");
        QTest::newRow("listed size chosen") << 16 << "24" << 24;
        QTest::newRow("colour only, size not listed") << 13 << "" << 13;
        QTest::newRow("colour only, size listed") << 16 << "" << 16;
    }
    void textItemSettings()
    {
        QFETCH(int, before);
        QFETCH(QString, chosen);
        QFETCH(int, after);
        m_View->setAnnotationFont(before, Qt::green);
        m_View->setAnnotationText("x");
        DialogScripts::pushAct([chosen](QDialog *d) {
            combo(d, "COMB_ITEM_COLOR")->setCurrentIndex(3);
            if (!chosen.isEmpty())
                combo(d, "COMB_ITEM_SIZE")->setCurrentText(chosen);
            QTest::mouseClick(d->findChild<QPushButton *>("BUTTON_APPLY"), Qt::LeftButton);
        });
        QVERIFY(QMetaObject::invokeMethod(m_View.get(), "slotTextItemSetting"));
        QCOMPARE(m_View->annotationTextItem()->defaultTextColor(), QColor(Qt::yellow));
        QCOMPARE(m_View->annotationTextItem()->font().pointSize(), after);
        m_View->clearImageData();
        QVERIFY(!m_View->annotationTextItem());
        m_View->setAnnotationText("y");
        QCOMPARE(m_View->annotationTextItem()->font().pointSize(), before);
        QCOMPARE(m_View->annotationTextItem()->defaultTextColor(), QColor(Qt::green));
    }

    // Bar and text are burnt into the picture; clearImageData takes both, and the next record
    // builds the bar again.
    void pictureAndClear()
    {
        showFrame();
        m_View->setScaleBar(record(2));
        m_View->setAnnotationFont(20, Qt::green);
        m_View->setAnnotationText("ABC");
        QImage picture;
        QVERIFY(m_View->getImageData(picture));
        QCOMPARE(picture.pixelColor(70, 940), QColor(Qt::red));
        QCOMPARE(picture.pixelColor(70, 900), QColor(Qt::black));
        int green = 0;
        for (int y = 930; y < 1024; ++y)
            for (int x = 780; x < 900; ++x)
                green += picture.pixelColor(x, y).green() > 128 && picture.pixelColor(x, y).red() < 64;
        QVERIFY2(green > 20, qPrintable(QString::number(green)));

        m_View->clearImageData();
        QVERIFY(!m_View->scaleBarGroup() && !m_View->annotationTextItem());
        showFrame();
        m_View->setScaleBar(record(2, 50));
        QCOMPARE(line(0), QLineF(20, 940, 70, 940));
        m_View->setAnnotationText("again"); // the destructor frees both
    }

    // "Settings..." of the bar: Apply sends the reset choice and the corner on.
    void barSettingsSendTheChoice()
    {
        m_Root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", kConfig);
        QSignalSpy changed(m_View.get(), &LGraphicsView::changeScaleBarSetting);
        DialogScripts::pushClick("BUTTON_CANCEL");
        QVERIFY(QMetaObject::invokeMethod(m_View.get(), "slotScaleBarSetting"));
        QCOMPARE(changed.count(), 0);
        DialogScripts::pushAct([](QDialog *d) {
            QTest::mouseClick(d->findChild<QCheckBox *>("CHECK_SCALEBAR_POSITION"), Qt::LeftButton);
            combo(d, "COMB_SCALEBAR_POSITION")->setCurrentIndex(1);
            QTest::mouseClick(d->findChild<QPushButton *>("BUTTON_APPLY"), Qt::LeftButton);
        });
        QVERIFY(QMetaObject::invokeMethod(m_View.get(), "slotScaleBarSetting"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0], QVariantList({true, 1}));
    }

    // ---- the dialog on its own

    void dialogLists()
    {
        ScaleBarDlg dlg;
        QCOMPARE(dlg.size(), QSize(300, 240));
        QVERIFY(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(texts(combo(&dlg, "COMB_SCALEBAR_COLOR")), QStringList({"R", "G", "B", "Y", "CY", "BK", "WH", "GR"}));
        QVERIFY(!combo(&dlg, "COMB_SCALEBAR_COLOR")->itemIcon(0).isNull());
        QCOMPARE(texts(combo(&dlg, "COMB_SCALEBAR_SIZE")), QStringList({"10 \u00B5m", "50 \u00B5m", "100 \u00B5m"}));
        QCOMPARE(texts(combo(&dlg, "COMB_SCALEBAR_FONT_SIZE")), QStringList("0") + g_FontSizeList);
        QCOMPARE(texts(combo(&dlg, "COMB_SCALEBAR_POSITION")),
                 QStringList({"Top-left", "Top-right", "Bottom-left", "Bottom-right"}));
        for (const QString &why : {rangeMismatch("ScaleBar", "ScaleBarColor", combo(&dlg, "COMB_SCALEBAR_COLOR"), Stored::Row),
                                   rangeMismatch("ScaleBar", "ScaleBarSize", combo(&dlg, "COMB_SCALEBAR_SIZE"), Stored::Row),
                                   rangeMismatch("ScaleBar", "ScaleBarFont", combo(&dlg, "COMB_SCALEBAR_FONT_SIZE")),
                                   rangeMismatch("ScaleBar", "ScaleBarPosition", combo(&dlg, "COMB_SCALEBAR_POSITION"), Stored::Row)})
            QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(dlg.m_bResetPosition, 0);
        QCOMPARE(dlg.m_nPosition, 0);
        auto *box = dlg.findChild<QCheckBox *>("CHECK_SCALEBAR_POSITION");
        QVERIFY(box->isEnabled() && !box->isChecked());
        QVERIFY(!combo(&dlg, "COMB_SCALEBAR_POSITION")->isEnabled());
        dlg.show();
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(combo(&dlg, "COMB_SCALEBAR_POSITION")->isEnabled());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!combo(&dlg, "COMB_SCALEBAR_POSITION")->isEnabled());
    }

    // Stored values outside the lists, like missing keys, show the defaults in effect.
    void dialogReadsClamped_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("color");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("font");
        QTest::addColumn<int>("corner");
        QTest::newRow("missing") << QByteArray() << 0 << 0 << "10" << 2;
        QTest::newRow("set") << kConfig << 4 << 1 << "14" << 3;
        QTest::newRow("too high") << QByteArray("[ScaleBar]\nScaleBarColor=12\nScaleBarSize=7\nScaleBarFont=13\nScaleBarPosition=9\n")
                                  << 0 << 0 << "10" << 2;
        QTest::newRow("too low") << QByteArray("[ScaleBar]\nScaleBarColor=-1\nScaleBarSize=-1\nScaleBarFont=0\nScaleBarPosition=-4\n")
                                 << 0 << 0 << "0" << 2;
    }
    void dialogReadsClamped()
    {
        QFETCH(QByteArray, config);
        if (!config.isEmpty())
            m_Root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", config);
        ScaleBarDlg dlg;
        QTEST(combo(&dlg, "COMB_SCALEBAR_COLOR")->currentIndex(), "color");
        QTEST(combo(&dlg, "COMB_SCALEBAR_SIZE")->currentIndex(), "size");
        QTEST(combo(&dlg, "COMB_SCALEBAR_FONT_SIZE")->currentText(), "font");
        QTEST(combo(&dlg, "COMB_SCALEBAR_POSITION")->currentIndex(), "corner");
    }

    // Apply stores the four keys and keeps every other byte's meaning: other groups, the
    // non-ASCII value; "%20" becomes a space. Cancel changes no byte.
    void dialogApplyAndCancel()
    {
        m_Root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", kConfig);
        const QStringList before = parsed();
        {
            ScaleBarDlg dlg;
            DialogScripts::pushAct([](QDialog *d) {
                combo(d, "COMB_SCALEBAR_COLOR")->setCurrentIndex(6);
                combo(d, "COMB_SCALEBAR_SIZE")->setCurrentIndex(2);
                combo(d, "COMB_SCALEBAR_FONT_SIZE")->setCurrentText("22");
                QTest::mouseClick(d->findChild<QPushButton *>("BUTTON_CANCEL"), Qt::LeftButton);
            });
            QCOMPARE(dlg.exec(), 0);
            QCOMPARE(configBytes(), kConfig);
        }
        ScaleBarDlg dlg;
        DialogScripts::pushAct([](QDialog *d) {
            combo(d, "COMB_SCALEBAR_COLOR")->setCurrentIndex(6);
            combo(d, "COMB_SCALEBAR_FONT_SIZE")->setCurrentText("0");
            QTest::mouseClick(d->findChild<QCheckBox *>("CHECK_SCALEBAR_POSITION"), Qt::LeftButton);
            combo(d, "COMB_SCALEBAR_POSITION")->setCurrentIndex(1);
            QTest::mouseClick(d->findChild<QPushButton *>("BUTTON_APPLY"), Qt::LeftButton);
        });
        QCOMPARE(dlg.exec(), 1);
        QCOMPARE(dlg.m_bResetPosition, 1);
        QCOMPARE(dlg.m_nPosition, 1);
        QStringList expected = before;
        expected.replaceInStrings("ScaleBarColor=4", "ScaleBarColor=6");
        expected.replaceInStrings("ScaleBarFont=14", "ScaleBarFont=0");
        expected.replaceInStrings("ScaleBarPosition=3", "ScaleBarPosition=1");
        expected.replaceInStrings("VANTOR%20SSD", "VANTOR SSD");
        const QStringList after = parsed();
        QCOMPARE(after.filter("ScaleBar/"), expected.filter("ScaleBar/"));
        QCOMPARE(after.filter("Path="), expected.filter("Path="));
        QVERIFY(configBytes().startsWith("[Lens]\n1=10X\n"));
        // Other keys' non-ASCII text stays as it was written (UTF-8, no escapes).
        QVERIFY(configBytes().contains("Title=Z\xC3\xA9llkultur \xC2\xB5m\n"));
    }
};

QTEST_MAIN(TestScaleBarView)
#include "tst_scalebarview.moc"
