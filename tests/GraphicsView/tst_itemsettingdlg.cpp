// The item settings dialog: its lists and selections, Apply and Cancel, and the scene's
// "Settings..." that restyles the first selected item with it.
#include "DiagramLineItem.h"
#include "DiagramScene.h"
#include "DiagramTextItem.h"
#include "DialogRunner.h"
#include "DialogCombos.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "ItemSettingDlg.h"

#include <QtTest>
#include <QComboBox>
#include <QLabel>
#include <QMenu>

class TestItemSettingDlg : public QObject
{
    Q_OBJECT

private slots:
    void listsAndSelections_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("colorIndex");
        QTest::addColumn<QString>("sizeShown");
        QTest::newRow("line") << 65542 << QColor(Qt::blue) << 3 << "Width" << 2 << "3";
        QTest::newRow("line too wide") << 65542 << QColor(Qt::gray) << 10 << "Width" << 7 << "";
        QTest::newRow("path, other colour") << 65538 << QColor(1, 2, 3) << 8 << "Width" << 0 << "8";
        QTest::newRow("text") << 65544 << QColor(Qt::yellow) << 24 << "Size" << 3 << "24";
        QTest::newRow("text of 13") << 65544 << QColor(Qt::white) << 13 << "Size" << 6 << "";
    }
    void listsAndSelections()
    {
        QFETCH(int, type);
        QFETCH(QColor, color);
        QFETCH(int, size);
        QFETCH(QString, label);
        QFETCH(int, colorIndex);
        QFETCH(QString, sizeShown);
        ItemSettingDlg dlg({type, color, size});
        QCOMPARE(dlg.size(), QSize(300, 170));
        for (const char *picture : {":/UI/Setting/bar.png", ":/UI/Common/dropdown_14x24.png", ":/UI/Common/dropdown_14x24_d.png"})
            QVERIFY(!QImage(picture).isNull());
        QVERIFY(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(texts(combo(&dlg, "COMB_ITEM_COLOR")), QStringList({"R", "G", "B", "Y", "CY", "BK", "WH", "GR"}));
        QCOMPARE(texts(combo(&dlg, "COMB_ITEM_SIZE")), type == 65544 ? g_FontSizeList : g_LineWidthList);
        QCOMPARE(dlg.findChild<QLabel *>("LABEL_WIDTH")->text(), label);
        QCOMPARE(combo(&dlg, "COMB_ITEM_COLOR")->currentIndex(), colorIndex);
        QCOMPARE(combo(&dlg, "COMB_ITEM_SIZE")->currentText(), sizeShown);
        // Apply: the shown choices, 0 when no size was chosen; the type never changes.
        DialogScripts::pushClick("BUTTON_APPLY");
        QCOMPARE(dlg.exec(), 1);
        QCOMPARE(dlg.m_ItemSettingData.itemType, type);
        QCOMPARE(dlg.m_ItemSettingData.color, g_ColorTable[colorIndex]);
        QCOMPARE(dlg.m_ItemSettingData.size, sizeShown.toInt());
    }

    void cancelKeepsTheRecord()
    {
        ItemSettingDlg dlg({65542, QColor(Qt::red), 2});
        DialogScripts::pushAct([](QDialog *d) {
            combo(d, "COMB_ITEM_COLOR")->setCurrentIndex(4);
            combo(d, "COMB_ITEM_SIZE")->setCurrentIndex(6);
            DialogRunner::click(d, "BUTTON_CANCEL");
        });
        QCOMPARE(dlg.exec(), 0);
        QCOMPARE(dlg.m_ItemSettingData.color, QColor(Qt::red));
        QCOMPARE(dlg.m_ItemSettingData.size, 2);
    }

    // "Settings..." restyles the first selected item; a size left unchosen keeps the item's.
    void sceneSettings()
    {
        DiagramScene scene;
        scene.setSceneRect(0, 0, 1280, 1024);
        auto *line = new DiagramLineItem(QLineF(10, 10, 100, 10), scene.itemMenu());
        line->setPen(QPen(QBrush(Qt::red), 10, Qt::DashLine));
        auto *text = new DiagramTextItem(scene.itemMenu());
        text->setPlainText("A1");
        text->setFont(QFont("DejaVu Sans", 13));
        scene.addGraphicsItem(line, false);
        scene.addGraphicsItem(text, false);
        scene.setItemSelectableFlag(true);
        QAction *settings = scene.itemMenu()->actions().first();
        QCOMPARE(settings->text(), QString("Settings..."));
        const int opened = DialogRunner::log().size();
        settings->trigger(); // nothing selected: no dialog
        QCOMPARE(DialogRunner::log().size(), opened);

        line->setSelected(true);
        DialogScripts::pushAct([](QDialog *d) {
            combo(d, "COMB_ITEM_COLOR")->setCurrentIndex(1);
            DialogRunner::click(d, "BUTTON_APPLY");
        });
        settings->trigger();
        QCOMPARE(line->pen().color(), QColor(Qt::green));
        QCOMPARE(line->pen().width(), 10); // 10 is not offered: kept
        QCOMPARE(line->pen().style(), Qt::DashLine);

        line->setSelected(false);
        text->setSelected(true);
        DialogScripts::pushAct([](QDialog *d) {
            combo(d, "COMB_ITEM_SIZE")->setCurrentText("36");
            combo(d, "COMB_ITEM_COLOR")->setCurrentIndex(6);
            DialogRunner::click(d, "BUTTON_APPLY");
        });
        settings->trigger();
        QCOMPARE(text->font().pointSize(), 36);
        QCOMPARE(text->font().family(), QString("DejaVu Sans"));
        QCOMPARE(text->defaultTextColor(), QColor(Qt::white));
        DialogScripts::pushClick("BUTTON_CANCEL");
        settings->trigger();
        QCOMPARE(text->font().pointSize(), 36);
    }
};

QTEST_MAIN(TestItemSettingDlg)
#include "tst_itemsettingdlg.moc"
