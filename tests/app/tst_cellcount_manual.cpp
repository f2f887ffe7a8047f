// Cell counts by hand in the whole application on the simulated instrument, as a user takes
// them: a frame kept in either camera depth, and one counted by touch and saved. The automatic
// counts are in tst_cellcount_run.
#include "AppBench.h"
#include "CellCount.h"
#include "CellCountImageWidget.h"
#include "CellCountRunBench.h"
#include "CellCountWidget.h"
#include "DialogRunner.h"
#include "ImageGraphicsView.h"
#include "VideoWidget.h"
#include "ui_CellCountWidget.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QtTest>

class TestCellCountManual : public CellCountRunBench
{
    Q_OBJECT

private slots:
    void cleanup() { endCase(); }

    // A frame kept for counting by hand, in both camera depths.
    void manualCapture_data()
    {
        QTest::addColumn<int>("bits");
        QTest::newRow("8 bits") << 8;
        QTest::newRow("16 bits") << 16;
    }
    void manualCapture()
    {
        QFETCH(int, bits);
        startLive();
        if (bits == 16) {
            m_bench->setConfig("Camera", "Mode", "16");
            video()->readSetting();
            QVERIFY(QTest::qWaitFor([this] { return page()->cameraBits() == 16 && video()->isRunning(); }, 15000));
            QVERIFY(m_bench->waitUnlocked());
        }
        int tool = -1;
        connect(page(), &CellCountWidget::measurementToolChanged, this, [&tool](int t) { tool = t; });
        QTest::mouseClick(form()->BUTTON_MODE2, Qt::LeftButton);
        QCOMPARE(form()->STACKEDWIDGET->currentIndex(), 1);
        QTest::mouseClick(form()->BUTTON_CAPTURE, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return page()->currentState() == CELLCOUNT_RESULT && !page()->runActive(); }, 30000));
        QVERIFY(m_bench->waitUnlocked());
        const QFileInfo raw(CellCount::rawDataPath() + "Temp_000000.raw");
        QVERIFY(raw.exists());
        QCOMPARE(raw.size(), qint64(1280 * 1024 * bits / 8));
        QCOMPARE(page()->model().thumbnails().size(), size_t(1));
        QCOMPARE(page()->model().thumbnails()[0].kind, 1);
        QCOMPARE(page()->model().thumbnails()[0].path, raw.filePath());
        QVERIFY(!form()->BUTTON_DILUTION_CALC->isEnabled());
        page()->slotChangedCurrentThumbnailIndex(0);
        QCOMPARE(tool, 10);
    }

    // A manual frame counted by touch: three circles, "3", saved as the frame, its pseudo-colour
    // copy and the marked image.
    void manualCount()
    {
        startLive();
        QTest::mouseClick(form()->BUTTON_MODE2, Qt::LeftButton);
        QTest::mouseClick(form()->BUTTON_CAPTURE, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return page()->currentState() == CELLCOUNT_RESULT && !page()->runActive(); }, 30000));
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(viewer()->isVisible());
        QCOMPARE(view()->currentMeasurementTool(), TOOL_CIRCLE_COUNT);
        const QList<QPoint> touches{{300, 300}, {640, 420}, {900, 700}};
        for (const QPoint &p : touches)
            QTest::mouseClick(view()->viewport(), Qt::LeftButton, Qt::NoModifier, view()->mapFromScene(QPointF(p)));
        QCOMPARE(form()->LABEL_MANUAL_COUNT->text(), QString("3"));

        const QString usb = mountedUsb();
        QVERIFY(!usb.isEmpty());
        QSignalSpy saved(page(), &CellCountWidget::saved);
        m_saveName = "Manual1";
        QTest::mouseClick(form()->BUTTON_SAVE_BEFORE, Qt::LeftButton);
        QCOMPARE(saved.count(), 1);
        // Save after in pseudo colour: the colour copy of the frame (grey under Trans).
        m_saveName = "Manual2";
        DialogRunner::pushScript([](QDialog *dialog) {
            return DialogRunner::showAndRun(dialog, [](QDialog *d) {
                DialogRunner::click(d, "RADIO_COLOR_PSEUDO_COLOR");
                QTest::mouseClick(d->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
                DialogRunner::click(d, "BUTTON_APPLY");
            }, 60000);
        });
        QTest::mouseClick(form()->BUTTON_SAVE_AFTER, Qt::LeftButton);
        QCOMPARE(saved.count(), 1);
        QJsonArray points;
        for (const QPoint &p : touches)
            points << QJsonArray({p.x(), p.y()});
        QJsonObject expected;
        expected["touches"] = points;
        const char *script =
            "import sys, json, numpy as np, tifffile\n"
            "e = json.load(open(sys.argv[1])); usb, work = sys.argv[2:4]\n"
            "raw = np.fromfile(work + 'Temp_000000.raw', np.uint8).reshape(1024, 1280)\n"
            "frame = tifffile.imread(usb + '/Manual1.tif')\n"
            "assert frame.shape == (1024, 1280) and (frame == raw).all(), frame.shape\n"
            "colour = tifffile.imread(usb + '/Manual2.tif')\n"
            "assert colour.shape == (1024, 1280, 3) and all((colour[..., k] == raw).all() for k in range(3))\n"
            "marked = tifffile.imread(usb + '/Manual1_TAG.tif')\n"
            "assert marked.shape == (1024, 1280, 3), marked.shape\n"
            "diff = (marked != raw[..., None]).any(-1)\n"
            "near = np.zeros_like(diff)\n"
            "for x, y in e['touches']:\n"
            "    assert diff[y - 12:y + 13, x - 12:x + 13].sum() > 20, (x, y)\n"
            "    near[y - 12:y + 13, x - 12:x + 13] = True\n"
            "assert not (diff & ~near).any(), np.argwhere(diff & ~near)[:5]\n"
            "print(int(diff.sum()), 'marked pixels')\n";
        python(script, {usb, CellCount::rawDataPath()}, expected);
    }
};

QTEST_MAIN(TestCellCountManual)
#include "tst_cellcount_manual.moc"
