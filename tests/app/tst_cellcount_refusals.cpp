// Cell counts the whole application refuses or gives up on the simulated instrument: every start
// check that fails, a dark field, a stalled camera, and a board that falls silent at the offset
// move. Each leaves the page live and unlocked, with its message said.
#include "AppBench.h"
#include "CellCountRunBench.h"
#include "CellCount.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "BoardSimulator.h"
#include "CameraTables.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "TCapturedImageMetaData.h"
#include "VideoWidget.h"
#include "VirtualInstrument.h"
#include "ui_CellCountWidget.h"
#include "ui_NIMBODlg.h"

#include <QtTest>
#include <algorithm>
#include <atomic>
#include <memory>

class TestCellCountRefusals : public CellCountRunBench
{
    Q_OBJECT

private slots:
    void cleanup() { endCase(); }

    // The board falls silent as the offset move after the autofocus arrives: the panel gives the
    // move up, and the run ends with the stopped text instead of counting a frame at the wrong focus.
    void silentBoardAtTheOffsetMove()
    {
        startLive();
        exposeForTarget();
        auto silent = std::make_shared<std::atomic<bool>>(false);
        m_bench->sim->board()->setScript([silent](const QString &line) -> std::optional<QList<BoardSimulator::Piece>> {
            if (line.contains("STAGE 1024"))
                *silent = true;
            if (*silent)
                return QList<BoardSimulator::Piece>();
            return std::nullopt;
        });
        m_bench->hastenStageWaits();
        count();
        m_bench->sim->board()->setScript({});
        QVERIFY(*silent);
        QVERIFY(m_autofocused);
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
        QVERIFY2(m_bench->dialogs().contains("MessageDlg:" + CellCountWidget::kStartErrorTexts[CELLCOUNT_ERR_STOPPED]),
                 qPrintable(m_bench->dialogs().join('\n')));
        QCOMPARE(page()->model().thumbnails().size(), size_t(0));
    }

    // No light reaches the camera: the search climbs the light, then the exposure no further than
    // a count can use, and says the field is too dark well within 30 s of Count.
    void darkField_data()
    {
        QTest::addColumn<int>("start");    // the light at Count
        QTest::addColumn<int>("searchMs"); // the search's time; 0 for the page's own
        // Time enough for the rows on a busy machine: the longest exposure ends it.
        QTest::newRow("light near its top") << 95 << 60000;
        QTest::newRow("light at its bottom") << 1 << 0; // ends by the time
        QTest::newRow("short search time") << 1 << 3000; // ends before the light's top
    }
    void darkField()
    {
        QFETCH(int, start);
        QFETCH(int, searchMs);
        startLive();
        panel()->changeLightPower(start, -1, -1);
        QVERIFY(QTest::qWaitFor([start] { return capturedImageMetaData().light[0] == QString("Light: %1 %").arg(start); }, 15000));
        scope().setLightPathCovered(true);
        CellCountWidget::setLightSearchMs(searchMs);
        QList<int> rows; // exposure rows the page asked for
        const auto noted = connect(page(), &CellCountWidget::lightPower, this, [&rows](int, int, int row) {
            if (row >= 0)
                rows << row;
        });
        QElapsedTimer clock;
        clock.start();
        count();
        const qint64 ms = clock.elapsed();
        disconnect(noted);
        CellCountWidget::setLightSearchMs(0);
        scope().setLightPathCovered(false);
        const QString exposure = capturedImageMetaData().exposure[0];
        QString asked;
        for (int row : rows)
            asked += QString(" %1").arg(row);
        qInfo("dark field from light %d %%: the message within %lld ms, %d frames, exposure rows asked:%s; %s", start, ms,
              m_frames, qPrintable(asked), qPrintable(exposure));

        QCOMPARE(page()->startError(), CELLCOUNT_ERR_BRIGHTNESS);
        QVERIFY2(m_bench->dialogs().contains("MessageDlg:" + CellCountWidget::kStartErrorTexts[CELLCOUNT_ERR_BRIGHTNESS]),
                 qPrintable(m_bench->dialogs().join('\n')));
        QVERIFY2(ms < 120000, "a hang"); // the page's own bound is 30 s
        int longest = 0; // the row of the longest exposure a count may use
        while (longest + 1 < kExposureRows && ExposureLUT8[longest + 1][0] <= CellCountWidget::kLongestCountExposureMs)
            ++longest;
        QVERIFY2(std::all_of(rows.begin(), rows.end(), [longest](int row) { return row <= longest; }), qPrintable(asked));
        if (start == 95) { // row by row up to the longest exposure, then back to Live's row
            QList<int> expected;
            for (int row = 1; row <= longest; ++row)
                expected << row;
            QCOMPARE(rows, expected << 0);
        } else if (searchMs) { // the time ran out before the light reached its top
            QVERIFY(!m_powers.contains(100));
            QVERIFY(rows.isEmpty());
        }
        QCOMPARE(exposure, QString("Exposure: 10 ms")); // as Live left it
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(form()->BUTTON_COUNT->isEnabled());
    }

    // Every refusal is said, takes no count and leaves the page live and unlocked.
    void refusals_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<int>("code");
        QTest::newRow("filter") << "filter" << 6;
        QTest::newRow("16-bit") << "16-bit" << 1;
        QTest::newRow("10X") << "10X" << 2;
        QTest::newRow("space") << "space" << 3;
        QTest::newRow("SSD folder missing") << "ssd" << 5;
        QTest::newRow("zero calibration") << "calibration" << 7;
        QTest::newRow("stalled camera") << "stall" << 9;
    }
    void refusals()
    {
        QFETCH(QString, cause);
        QFETCH(int, code);
        startLive();
        const QString marker = CellCount::rawDataPath() + "marker";
        QVERIFY(QFile(marker).open(QIODevice::WriteOnly));
        const QString ssd = Paths::ssd();
        if (cause == "filter") {
            scope().turnFilter(1);
            QVERIFY(QTest::qWaitFor([this] { return panel()->currentFilterPosition() == 1; }, 15000));
            QTest::qWait(500);
        } else if (cause == "16-bit") {
            m_bench->setConfig("Camera", "Mode", "16");
            video()->readSetting();
            QVERIFY(QTest::qWaitFor([this] { return page()->cameraBits() == 16 && video()->isRunning(); }, 15000));
        } else if (cause == "10X") {
            scope().turnObjective(2);
            QVERIFY(QTest::qWaitFor([this] { return std::abs(page()->objectiveMagnification() - 10.0f) < 1e-6f; }, 15000));
        } else if (cause == "space") {
            MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
                *size = 4096;
                *blocks = 100; // 0.4 MB
                return true;
            });
        } else if (cause == "ssd") {
            MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
                *size = 4096;
                *blocks = 1u << 24;
                return true;
            });
            QVERIFY(QDir().rename(ssd, ssd + ".away"));
        } else if (cause == "calibration") {
            m_bench->setConfig("ScaleBar", "CMOSPixelSize", "0");
            page()->readSetting();
        }
        QVERIFY(m_bench->waitUnlocked());
        if (cause == "stall")
            m_bench->sim->camera().setFault(SimCameraFault::Stall);
        count();
        if (cause == "ssd")
            QVERIFY(QDir().rename(ssd + ".away", ssd));
        if (cause == "stall")
            m_bench->sim->camera().setFault(SimCameraFault::None);
        QCOMPARE(int(page()->startError()), code);
        const QString shown = m_bench->dialogs().join("\n");
        if (code == 3)
            QVERIFY2(m_bench->showedMessage(MSG_INSUFFICIENT_DISK_SPACE), qPrintable(shown));
        else if (code == 5)
            QVERIFY2(m_bench->showedMessage(MSG_SSD_NOT_DETECTED), qPrintable(shown));
        else
            QVERIFY2(shown.contains(CellCountWidget::kStartErrorTexts[code]), qPrintable(shown));
        if (code == 6) {
            QCOMPARE(m_frames, 0);
            QVERIFY(QFile::exists(marker)); // the start checks did not run
        }
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(form()->BUTTON_COUNT->isEnabled() || cause == "stall");
        QVERIFY(page()->model().thumbnails().empty());
    }
};

QTEST_MAIN(TestCellCountRefusals)
#include "tst_cellcount_refusals.moc"
