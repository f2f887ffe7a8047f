// Folders and frames the Growth monitor page refuses or skips, in the whole application on the
// simulated instrument: every refusal is told and leaves the main menu and the control panel
// free; stray files beside the frames are left out or skipped and said.
#include "AppBench.h"
#include "GrowthMonitorWidget.h"
#include "GrowthPageBench.h"
#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "PythonLines.h"
#include "VideoWidget.h"
#include "ui_GrowthMonitorWidget.h"

#include <QTableWidget>
#include <QtTest>
#include <cstring>

class TestGrowthRefusals : public GrowthPageBench
{
    Q_OBJECT

private slots:
    void init() { startCase(); }
    void cleanup() { endCase(); }

    // Files beside the frames: a hidden one (the "._" companion some computers write onto USB
    // drives) is not listed at all; a TIFF that cannot be read is skipped and said afterwards.
    void strayFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("told"); // empty: no warning
        QTest::newRow("hidden companion") << "._img1.tif" << QString();
        QTest::newRow("hidden tiff") << ".img0.tif" << QString();
        QTest::newRow("broken tiff") << "img4.tif" << GrowthMonitorWidget::kSkippedText.arg(1).arg(4);
    }
    void strayFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, told);
        QVERIFY(enter());
        const QString folder = makeSeries(3);
        QVERIFY(!folder.isEmpty());
        QFile stray(folder + '/' + name);
        QVERIFY(stray.open(QIODevice::WriteOnly) && stray.write(QByteArray("II*\0\x08\0\0\0", 8) + QByteArray(4000, '\x07')) > 0);
        stray.close();
        m_bench->clearDialogs();
        runFolder(folder);
        QCOMPARE(page()->currentState(), GROWTH_RESULT);
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(table()->rowCount(), 3);
        QCOMPARE(ours(), computed({folder + "/img1.tif", folder + "/img2.tif", folder + "/img3.tif"}));
        const QStringList warnings = m_bench->dialogs().filter("Warning!");
        QCOMPARE(warnings, told.isEmpty() ? QStringList() : QStringList{"MessageDlg:" + told});
    }

    // Every refusal is told and leaves the main menu and the control panel free.
    void refusals_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("told");
        QTest::newRow("empty folder") << "empty" << MessageDlg::presetText(MSG_NO_IMAGE_FILES);
        QTest::newRow("png") << "png" << GrowthMonitorWidget::kFormatText;
        QTest::newRow("16-bit tiff") << "16" << GrowthMonitorWidget::kFormatText;
        QTest::newRow("640 x 480") << "small" << GrowthMonitorWidget::kSizeText;
        QTest::newRow("no objective") << "N/A" << GrowthMonitorWidget::kObjectiveText;
        QTest::newRow("no space") << "space" << MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE);
    }
    void refusals()
    {
        QFETCH(QString, cause);
        QFETCH(QString, told);
        QVERIFY(enter());
        // Two plain frames: no run in this table gets as far as analysing them.
        const QString folder = usb() + "/day 1, plate A";
        QDir().mkpath(folder);
        for (const char *name : {"img1.tif", "img2.tif"}) {
            ImReaderWriter frame;
            std::memset(frame.reserve(1280, 1024, 8, 1, 1, 1, 1), 128, 1280 * 1024);
            QVERIFY(frame.write(QFile::encodeName(folder + '/' + name), QByteArray()));
        }
        auto write = [&folder](const char *python) {
            pythonLines({"-c", QString("import numpy as np, tifffile, cv2, sys\nf=sys.argv[1]\n") + python, folder});
        };
        if (cause == "empty") {
            for (const QString &name : QDir(folder).entryList(QDir::Files))
                QFile::remove(folder + '/' + name);
        } else if (cause == "png") {
            write("cv2.imwrite(f+'/img3.png', np.zeros((1024,1280),np.uint8))");
        } else if (cause == "16") {
            write("tifffile.imwrite(f+'/img3.tif', np.zeros((1024,1280),np.uint16))");
        } else if (cause == "small") {
            write("tifffile.imwrite(f+'/img3.tif', np.zeros((480,640),np.uint8))");
        } else if (cause == "N/A") {
            for (int lens = 1; lens <= 5; ++lens)
                m_bench->setConfig("Lens", qPrintable(QString::number(lens)), "N/A");
        } else if (cause == "space") {
            MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
                *size = 4096;
                *blocks = 0;
                return true;
            });
        }
        m_bench->clearDialogs();
        runFolder(folder);
        QVERIFY2(m_bench->dialogs().contains("MessageDlg:" + told), qPrintable(m_bench->dialogs().join('\n')));
        QCOMPARE(page()->currentState(), GROWTH_IDLE);
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(panelAndMenuFree());

        // The same refusal on a capture returns to the live image.
        if (cause != "N/A" && cause != "space")
            return;
        QVERIFY(live());
        m_bench->clearDialogs();
        capture();
        QVERIFY2(m_bench->dialogs().contains("MessageDlg:" + told), qPrintable(m_bench->dialogs().join('\n')));
        QCOMPARE(page()->currentState(), GROWTH_LIVE);
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(panelAndMenuFree());
        QVERIFY(form()->BUTTON_CAPTURE->isVisible() && form()->BUTTON_CAPTURE->isEnabled());
    }
};

QTEST_MAIN(TestGrowthRefusals)
#include "tst_growth_refusals.moc"
