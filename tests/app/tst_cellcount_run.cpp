// Cell counts taken by the whole application on the simulated instrument, as a user takes them:
// Live, then Count with the light adjustment and the autofocus, with either engine; a manual
// capture in both camera depths; and every refusal, each of which leaves the page live and
// unlocked.
#include "AppBench.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SampleRenderer.h"
#include "VideoWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_NIMBODlg.h"

#include <QtTest>
#include <cmath>

class TestCellCountRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    QStringList m_boxTexts;       // texts of the run's own boxes, in the order they showed
    QList<int> m_powers;          // lightPower values the page sent
    int m_frames = 0;             // frames the live video delivered
    bool m_autofocused = false;   // the panel answered the page's autofocus
    int m_afRequests = 0;         // autofocus runs the page asked for
    QPointer<QDialog> m_startBox;

    CellCountWidget *page() const { return m_bench->ui()->m_CellCountWidget; }
    Ui_CellCountWidget *form() const { return page()->form(); }
    VideoWidget *video() const { return m_bench->ui()->m_VideoWidget; }
    ControlWidget *panel() const { return m_bench->ui()->m_ControlWidget; }
    VirtualInstrument &scope() const { return m_bench->sim->instrument(); }

    void noteBoxText(QDialog *dialog)
    {
        const QString text = DialogScripts::messageText(dialog);
        if (m_boxTexts.isEmpty() || m_boxTexts.last() != text)
            m_boxTexts << text;
    }

    // The application live on the Cell count page. The run's own boxes stay open until the page
    // closes them; every other box is answered with OK.
    void startLive()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->start();
        m_bench->setAnswer([this](QDialog *dialog) {
            const QString text = DialogScripts::messageText(dialog);
            if (!text.contains("Initializing") && !text.contains("Cell counting in progress"))
                return 1;
            noteBoxText(dialog);
            if (text.contains("Initializing"))
                m_startBox = dialog;
            return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 300000);
        });
        QTest::mouseClick(m_bench->ui()->BUTTON_COUNT_MENU, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(page()->currentState(), CELLCOUNT_IDLE);
        QVERIFY(!form()->BUTTON_LIVE->isHidden());
        QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
        connect(video(), &VideoWidget::captured, this, [this](uchar *, int) { ++m_frames; });
        connect(page(), &CellCountWidget::lightPower, this, [this](int power, int, int) {
            m_powers << power;
            if (m_startBox)
                noteBoxText(m_startBox);
        });
        connect(page(), &CellCountWidget::cellCountAF, this, [this] { ++m_afRequests; });
        connect(panel(), &ControlWidget::completeCellCountAF, this, [this](bool ok, TFineAFErrTable error) {
            m_autofocused = ok && error == FINEAF_NO_ERROR;
        });
    }

    // Mean grey of one still at an LED power.
    double meanAt(int power)
    {
        panel()->changeLightPower(power, -1, -1);
        QTest::qWait(400);
        double mean = -1;
        const auto c = connect(video(), &VideoWidget::captured, this, [&mean](uchar *frame, int bits) {
            if (bits == 8)
                mean = cv::mean(cv::Mat(1024, 1280, CV_8UC1, frame))[0];
        });
        video()->capture();
        disconnect(c);
        return mean;
    }

    // Live resets the exposure to its first row: the user lengthens it until half the LED power
    // gives about the target grey.
    void exposeForTarget()
    {
        for (int row = 1; row < 100 && meanAt(50) < 120.0; ++row)
            panel()->changeLightPower(-1, -1, row);
        QVERIFY(meanAt(50) >= 120.0);
    }

    // The lowest LED power whose frame is at least as bright as the target.
    int targetPower()
    {
        int lo = 1, hi = 100;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (meanAt(mid) >= 150.0)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

    // Presses Count and waits for the run to end in the result or back in live.
    void count()
    {
        m_boxTexts.clear();
        m_powers.clear();
        m_frames = 0;
        m_afRequests = 0;
        m_autofocused = false;
        m_bench->clearDialogs();
        m_bench->sim->board()->clearLog();
        QTest::mouseClick(form()->BUTTON_COUNT, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return !page()->runActive(); }, 300000)); // a hang bound
        QVERIFY(m_bench->waitUnlocked());
    }

    // Live and dead cells of the simulated specimen whose centre lies in the 4X field.
    int cellsInField() const
    {
        const double um = SampleRenderer::micrometresPerPixel(1);
        const double halfW = 640 * um, halfH = 512 * um;
        int n = 0;
        for (const SampleObject &o : m_bench->sim->camera().renderer().scene().objects())
            if (o.kind != SampleObject::Debris && std::abs(o.centre.x) < halfW && std::abs(o.centre.y) < halfH)
                ++n;
        return n;
    }

    static QString concentrationText(int cells, int dilution)
    {
        // The counted volume from the configured calibration, in the engine's single precision.
        const float p = 3.63f, r = 0.655f, m = 4.0f;
        const float M = m * r;
        const float a = p / 1000.0f;
        const float x = a * 1280.0f / M * 1024.0f * a / M;
        const float volume = float(double(x) * 0.1 / 1000.0);
        const double value = double(float(cells) / volume * float(dilution));
        const int exponent = value == 0 ? 0 : int(std::log10(value));
        return QString::asprintf("%.2fx10e%d cells/mL", double(float(value * std::pow(10.0, -exponent))), exponent);
    }

    // The counted frame and the tag image of the work folder against the page's buffer, read by
    // Python's tifffile.
    void checkWorkFiles()
    {
        const QString folder = CellCount::rawDataPath();
        const QString raw = QDir::temp().filePath("counted_frame.bin");
        QFile out(raw);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(reinterpret_cast<const char *>(page()->frame8()), 1280 * 1024);
        out.close();
        const char *script =
            "import sys, numpy as np, tifffile\n"
            "folder, raw = sys.argv[1], sys.argv[2]\n"
            "frame = tifffile.imread(folder + 'Temp_000000.tif')\n"
            "tag = tifffile.imread(folder + 'Temp_000000_TAG.tif')\n"
            "counted = np.fromfile(raw, np.uint8).reshape(1024, 1280)\n"
            "assert frame.shape == (1024, 1280) and frame.dtype == np.uint8, frame.shape\n"
            "assert (frame == counted).all(), 'frame differs'\n"
            "assert tag.shape == (1024, 1280, 3), tag.shape\n"
            "grey = (tag[..., 0] == counted) & (tag[..., 1] == counted) & (tag[..., 2] == counted)\n"
            "r, g, b = tag[..., 0], tag[..., 1], tag[..., 2]\n"
            "pure = ((r > 0) & (g == 0) & (b == 0)) | ((g > 0) & (r == 0) & (b == 0))\n"
            "assert (grey | pure).all(), 'tag pixels neither grey nor pure'\n"
            "print(int((~grey).sum()))\n";
        QProcess python;
        python.start("/usr/bin/python3", {"-c", script, folder, raw});
        QVERIFY(python.waitForFinished(60000));
        const QString err = QString::fromUtf8(python.readAllStandardError());
        QVERIFY2(python.exitCode() == 0, qPrintable(err));
        QVERIFY2(QString::fromUtf8(python.readAllStandardOutput()).trimmed().toInt() > 0, "no circle drawn");
    }

    void checkResult()
    {
        QCOMPARE(page()->currentState(), CELLCOUNT_RESULT);
        const int live = page()->liveNumber(), dead = page()->deadNumber();
        const int dilution = page()->dilutionFactor();
        QCOMPARE(form()->LABEL_LIVE->text(), concentrationText(live, dilution));
        QCOMPARE(form()->LABEL_DEAD->text(), concentrationText(dead, dilution));
        QCOMPARE(form()->LABEL_VIABILITY->text(),
                 QString::asprintf("%.1f %%", live + dead ? double(float(live) / float(live + dead) * 100.0f) : 0.0));
        QCOMPARE(form()->LABEL_TOTAL_NUM->text(), QString("%1 cells").arg(live + dead));
        QCOMPARE(form()->LABEL_DILUTION->text(), QString::number(dilution));
        const int placed = cellsInField();
        qInfo("counted %d live, %d dead; the scene places %d cells in the field", live, dead, placed);
        QVERIFY(live + dead >= placed / 2 && live + dead <= placed * 2);
        QVERIFY(!form()->FRAME_RESULT->isHidden());
        QCOMPARE(page()->model().thumbnails().size(), size_t(1));
        QCOMPARE(page()->model().thumbnails()[0].kind, 0);
        checkWorkFiles();
    }

    void checkLightSearch(int start)
    {
        QVERIFY(!m_powers.isEmpty());
        int expected = start;
        for (int i = 0; i + 1 < m_powers.size(); ++i) {
            QCOMPARE(std::abs(m_powers[i] - expected), 1); // steps of one percent
            expected = m_powers[i];
        }
    }

private slots:
    void cleanup()
    {
        MediaMonitor::setSpaceQuery({});
        CellCountWidget::setMoveTimeoutMs(0);
        m_bench.reset();
    }

    // Live, Count: the box texts in order, the search down to the closer side of 150, the fine
    // autofocus, the offset move of 1024 steps, the result and its files.
    void automaticCount()
    {
        startLive();
        exposeForTarget();
        const int target = targetPower();
        QVERIFY(target > 4 && target < 97);
        panel()->changeLightPower(target + 3, -1, -1);
        QTest::qWait(400);
        count();
        QCOMPARE(page()->startError(), CELLCOUNT_ERR_NONE);
        QCOMPARE(m_boxTexts, QStringList({"<p><b>Initializing ...</b></p>", "<p><b>Checking the light intensity ...</b></p>",
                                          "<p><b>Cell counting in progress ...</b></p>"}));
        checkLightSearch(target + 3);
        // The search ends on the power whose mean lay closer to 150.
        const int chosen = m_powers.last();
        QVERIFY(std::abs(chosen - target) <= 1);
        QCOMPARE(m_afRequests, 1);
        QVERIFY(m_autofocused);
        QVERIFY(m_bench->stageMoves().contains(1024));
        QCOMPARE(m_bench->stageMoves().last(), 1024);
        checkResult();
        QVERIFY(form()->BUTTON_TAG->isChecked());
        QVERIFY(!video()->isRunning());
        // Next count goes live again.
        QTest::mouseClick(form()->BUTTON_NEXT_COUNT, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
    }

    // The hidden second engine with its own protocol file: the same checks.
    void secondEngine()
    {
        startLive();
        QFile file(Paths::programDir() + "/Protocol_DEFAULT_BF.ini");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Dilution Factor]\nFactor=3\n[Noise Reduction]\nReduction=1\n[Live Cell Detection]\nValue=6\n"
                   "[Roundness]\nNumber=40\n[Min Cell Size]\nSize=3\n[Max Cell Size]\nSize=60\n[Declustering Level]\nLevel=0\n");
        file.close();
        form()->comboBox->setCurrentIndex(1);
        exposeForTarget();
        panel()->changeLightPower(targetPower(), -1, -1);
        QTest::qWait(400);
        count();
        QCOMPARE(page()->startError(), CELLCOUNT_ERR_NONE);
        QCOMPARE(page()->dilutionFactor(), 3);
        QCOMPARE(m_afRequests, 1);
        QCOMPARE(form()->LABEL_TOTAL_NUM->text(), QString("%1 cells").arg(page()->liveNumber() + page()->deadNumber()));
        const int live = page()->liveNumber(), dead = page()->deadNumber();
        const int placed = cellsInField();
        qInfo("second engine: %d live, %d dead of %d placed", live, dead, placed);
        QVERIFY(live + dead > 0);
        // Known: this object finder takes the simulated live cells (bright centre, dark ring) at
        // 4X for background and finds about the dead ones only.
        QEXPECT_FAIL("", "the second engine misses the simulated live cells at 4X", Continue);
        QVERIFY(live + dead >= placed / 2 && live + dead <= placed * 2);
        QCOMPARE(page()->model().thumbnails().size(), size_t(1));
        checkWorkFiles();
    }

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

QTEST_MAIN(TestCellCountRun)
#include "tst_cellcount_run.moc"
