// Cell counts taken by the whole application on the simulated instrument, as a user takes them:
// Live, then Count with the light adjustment and the autofocus, with either engine. The refusals
// are in tst_cellcount_refusals, the counts by hand in tst_cellcount_manual.
#include "AppBench.h"
#include "CellCountRunBench.h"
#include "CellCountImageWidget.h"
#include "CellCountWidget.h"
#include "CellCount_alg.h"
#include "CellCounter.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "ImageGraphicsView.h"
#include "ControlWidget.h"
#include "Controller.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SampleRenderer.h"
#include "BoardSimulator.h"
#include "VideoWidget.h"
#include "ui_CellCountImageWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_NIMBODlg.h"

#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <memory>

class TestCellCountRun : public CellCountRunBench
{
    Q_OBJECT

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
        const QString raw = m_bench->root.path() + "/counted_frame.bin"; // this case's own folder
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
        QVERIFY(python.waitForFinished(kHangBoundMs));
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


    // The image the viewer shows and a work file, both as RGB.
    QImage shownImage() const
    {
        QGraphicsPixmapItem *item = view()->pixmapItem();
        return item ? item->pixmap().toImage().convertToFormat(QImage::Format_RGB888) : QImage();
    }
    static QImage fileImage(const QString &path)
    {
        ImReaderWriter file;
        if (!file.read(path.toUtf8()) || file.bitsPerSample != 8)
            return QImage();
        const bool colour = file.samplesPerPixel == 3;
        return QImage(file.buffer8.get(), int(file.width), int(file.height), int(file.width * file.samplesPerPixel),
                      colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8)
            .copy()
            .convertToFormat(QImage::Format_RGB888);
    }

    // The page's bins against the histograms of the engine that counted.
    void checkBins(bool second)
    {
        QVector<int> live, dead;
        if (second) {
            Quorvan::CellCounter *engine = page()->secondEngine();
            QVERIFY(engine);
            live = QVector<int>(engine->getHistogram(0), engine->getHistogram(0) + Quorvan::CellCounter::SizeClasses);
            dead = QVector<int>(engine->getHistogram(1), engine->getHistogram(1) + Quorvan::CellCounter::SizeClasses);
            QCOMPARE(page()->binSize(), 1.0f);
        } else {
            const float umPerPixel = page()->cameraPixelSize() / page()->totalMagnification();
            const int n = CellCountWidget::nimboBinCount(float(page()->workingProtocol().nMaxCellSize),
                                                         page()->cellSizeOffset(), umPerPixel);
            live.fill(0, n);
            dead.fill(0, n);
            QVector<int> clusters(n, 0);
            CellCount_alg::getHistogram(page()->blobCount(), page()->blobs(), live.data(), dead.data(), clusters.data(), n);
            QCOMPARE(page()->binSize(), umPerPixel);
            QCOMPARE(QVector<int>(page()->clusterCounts(), page()->clusterCounts() + 9), clusters.mid(0, 9));
        }
        QCOMPARE(page()->liveBins(), live);
        QCOMPARE(page()->deadBins(), dead);
        int largest = 0, cells = 0;
        for (int i = 0; i < live.size(); ++i) {
            largest = std::max(largest, live[i] + dead[i]);
            cells += live[i] + dead[i];
        }
        QVERIFY(cells > 0);
        QCOMPARE(page()->largestBin(), largest);
        QCOMPARE(form()->LABEL_MAX->text(), QString::number(largest));
    }

    // The saved frame and tagged image equal the work files; the RESULTS table read with Python's csv.
    void checkSavedCount(const QString &usb, const QString &name, const QJsonArray &protocol)
    {
        QJsonObject expected;
        QJsonArray captions, values, live, dead;
        QLabel *const c[9] = {form()->LABEL_RESULT_TOTAL,     form()->LABEL_RESULT_LIVE,     form()->LABEL_RESULT_DEAD,
                              form()->LABEL_RESULT_VIABILITY, form()->LABEL_RESULT_AVG,      form()->LABEL_RESULT_TOTAL_NUM,
                              form()->LABEL_RESULT_LIVE_NUM,  form()->LABEL_RESULT_DEAD_NUM, form()->LABEL_RESULT_DILUTION};
        QLabel *const v[9] = {form()->LABEL_TOTAL,     form()->LABEL_LIVE,     form()->LABEL_DEAD,
                              form()->LABEL_VIABILITY, form()->LABEL_AVG,      form()->LABEL_TOTAL_NUM,
                              form()->LABEL_LIVE_NUM,  form()->LABEL_DEAD_NUM, form()->LABEL_DILUTION};
        for (int i = 0; i < 9; ++i) {
            captions << c[i]->text();
            values << (i == 4 ? QString::asprintf("%.1f um", double(page()->averageSize())) : v[i]->text());
        }
        for (int i = 0; i < page()->liveBins().size(); ++i) {
            live << page()->liveBins()[i];
            dead << page()->deadBins()[i];
        }
        expected["captions"] = captions;
        expected["values"] = values;
        expected["protocol"] = protocol;
        expected["live"] = live;
        expected["dead"] = dead;
        expected["binSize"] = double(page()->binSize());
        expected["offset"] = double(page()->cellSizeOffset());
        expected["maxSize"] = protocol[5].toArray()[1].toString().split(' ').first().toInt();
        const char *script =
            "import sys, json, csv, numpy as np, tifffile\n"
            "e = json.load(open(sys.argv[1])); usb, name, work = sys.argv[2:5]\n"
            "for saved, source in ((name + '.tif', 'Temp_000000.tif'), (name + '_TAG.tif', 'Temp_000000_TAG.tif')):\n"
            "    a, b = tifffile.imread(usb + '/' + saved), tifffile.imread(work + source)\n"
            "    assert a.shape == b.shape and a.dtype == b.dtype and (a == b).all(), saved\n"
            "rows = list(csv.reader(open(usb + '/' + name + '.csv', newline='')))\n"
            "assert rows[0] == ['RESULTS'], rows[0]\n"
            "for i in range(9):\n"
            "    assert rows[1 + i] == [e['captions'][i], e['values'][i]], (rows[1 + i], e['values'][i])\n"
            "assert rows[10] == [' '] and rows[17] == [' '], (rows[10], rows[17])\n"
            "assert rows[11:17] == e['protocol'], rows[11:17]\n"
            "assert rows[18] == ['Cell Size(um)', 'Live', 'Dead'], rows[18]\n"
            "hist, live, dead = rows[19:], e['live'], e['dead']\n"
            "step, offset, top = e['binSize'], e['offset'], e['maxSize']\n"
            "if offset != 0:\n"
            "    assert hist[0] == ['0', '0', '0'], hist[0]\n"
            "    hist = hist[1:]\n"
            "assert len(hist) > 5\n"
            "for r in hist:\n"
            "    size = float(r[0]); i = round((size + offset) / step)\n"
            "    assert abs(i * step - offset - size) < 0.006 and [int(r[1]), int(r[2])] == [live[i], dead[i]], (r, i)\n"
            "after = round((float(hist[-1][0]) + offset) / step) + 1\n"
            "assert int(float(hist[-1][0])) <= top and (after >= len(live) or int(after * step - offset) > top)\n"
            "print(len(hist), 'histogram rows')\n";
        python(script, {usb, name, CellCount::rawDataPath()}, expected);
    }

    // The hidden second engine with its own protocol file.
    void useSecondEngine()
    {
        QFile file(Paths::programDir() + "/Protocol_DEFAULT_BF.ini");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Dilution Factor]\nFactor=3\n[Noise Reduction]\nReduction=1\n[Live Cell Detection]\nValue=6\n"
                   "[Roundness]\nNumber=40\n[Min Cell Size]\nSize=3\n[Max Cell Size]\nSize=60\n[Declustering Level]\nLevel=0\n");
        file.close();
        form()->comboBox->setCurrentIndex(1);
    }

private slots:
    void cleanup() { endCase(); }

    // A count from what Live leaves (the exposure's first row, the light at the top of the page's
    // range when another page left it bright): the light search lengthens the exposure until the
    // frame can reach the target grey, then counts.
    void countFromTheDefaults()
    {
        startLive();
        QCOMPARE(capturedImageMetaData().exposure[0], QString("Exposure: 10 ms"));
        count();
        QCOMPARE(page()->startError(), CELLCOUNT_ERR_NONE);
        QCOMPARE(page()->currentState(), CELLCOUNT_RESULT);
        QVERIFY(page()->liveNumber() + page()->deadNumber() > 0);
        QVERIFY(capturedImageMetaData().exposure[0] != "Exposure: 10 ms");
    }

    // A turret move spoils a still of the count. In the light search the count ends at once with
    // one message that names the turn, never the camera's failure, and the page is live and free
    // again; in the autofocus the still is taken again and the count goes on. No box waits inside
    // the still.
    void aTurnDuringTheCount_data()
    {
        QTest::addColumn<bool>("inAutofocus");
        QTest::newRow("light search") << false;
        QTest::newRow("autofocus") << true;
    }
    void aTurnDuringTheCount()
    {
        QFETCH(bool, inAutofocus);
        startLive();
        int stills = 0; // of the phase the refusal is meant for
        QElapsedTimer sinceRefusal;
        m_bench->refuseStillsWhile([&] {
            if ((g_CurrentMenu == MENU_FINE_AF) != inAutofocus || ++stills != 2)
                return false;
            sinceRefusal.start();
            return true;
        });
        count();
        QVERIFY(sinceRefusal.isValid());
        qInfo("the count was over %lld ms after the refusal", sinceRefusal.elapsed());
        const QStringList boxes = m_bench->dialogs();
        QVERIFY2(boxes.filter("moved while it was taken").isEmpty(), qPrintable(boxes.join('\n')));
        if (inAutofocus) {
            QCOMPARE(page()->startError(), CELLCOUNT_ERR_NONE);
            QCOMPARE(page()->currentState(), CELLCOUNT_RESULT);
            QVERIFY(panel()->fineAF().succeeded()); // the spoilt height taken again
            QCOMPARE(panel()->fineAF().framesScored(), panel()->fineAF().fineAF().imageNumber());
            return;
        }
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
        QCOMPARE(boxes.filter("MessageDlg:").filter(QRegularExpression("<b>Warning!|Error|stopped")).size(), 1);
        QVERIFY2(boxes.contains("MessageDlg:" + CellCountWidget::kTurretMovedText), qPrintable(boxes.join('\n')));
        QVERIFY(video()->isRunning());
        QVERIFY(form()->BUTTON_COUNT->isEnabled());
    }

    // Counts one after another with the cube turned by hand. A turn the autofocus cannot wait out,
    // or one after it, ends the count with one message and the focus back where it stood; a turn
    // and back inside the autofocus starts its scan over and the count goes on. Every count made
    // counts the field as the first one did (within 5 %), the next one after an ended count too.
    void turnsDuringCounts()
    {
        startLive();
        Controller &link = panel()->controller();
        QString turn;
        int afStills = 0;
        m_bench->refuseStillsWhile([&] { // asked once a still is taken: the moment to turn
            if (g_CurrentMenu == MENU_FINE_AF && turn.startsWith("autofocus") && ++afStills == 3)
                scope().turnFilter(1, 0);
            return false;
        });
        connect(&link, &Controller::changeFilterPosition, this, [&](int position) {
            if (position == 1 && turn == "autofocus and back")
                scope().turnFilter(0, 0);
        });
        connect(panel(), &ControlWidget::completeCellCountAF, this, [&] {
            if (turn != "after the autofocus")
                return;
            scope().turnFilter(1, 0);
            link.refreshTurretPositions(); // learnt before the count's frame is taken
        });
        const struct
        {
            const char *turn;
            bool ends;
        } steps[] = {{"none", false}, {"autofocus", true}, {"none", false}, {"after the autofocus", true},
                     {"autofocus and back", false}};
        int field = 0;
        for (const auto &step : steps) {
            turn = step.turn;
            afStills = 0;
            const int stage = scope().state().stagePosition;
            count();
            const QStringList shown = m_bench->dialogs().filter("MessageDlg:").filter(QRegularExpression("Warning!|Error|stopped|too bright"));
            const QString at = QString("turn: %1; shown: %2").arg(turn, shown.join('\n'));
            if (step.ends) {
                QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
                QVERIFY2(shown == QStringList{"MessageDlg:" + CellCountWidget::kTurretMovedText}, qPrintable(at));
                QVERIFY2(QTest::qWaitFor([&] { return scope().state().stagePosition == stage; }, 15000), qPrintable(at));
                QVERIFY(form()->BUTTON_COUNT->isEnabled());
                turn = "none";
                scope().turnFilter(0, 0);
                QVERIFY(QTest::qWaitFor([&] { return panel()->currentFilterPosition() == 0; }, 15000));
                continue;
            }
            QVERIFY2(shown.isEmpty(), qPrintable(at));
            QCOMPARE(page()->currentState(), CELLCOUNT_RESULT);
            QCOMPARE(panel()->fineAF().restarts(), turn == "autofocus and back" ? 1 : 0);
            const int cells = page()->liveNumber() + page()->deadNumber();
            qInfo("turn: %s; %d cells", step.turn, cells);
            if (field == 0)
                field = cells;
            QVERIFY2(std::abs(cells - field) * 20 <= field, qPrintable(QString("%1 cells against %2").arg(cells).arg(field)));
            QTest::mouseClick(form()->BUTTON_NEXT_COUNT, Qt::LeftButton);
            QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
            QVERIFY(m_bench->waitUnlocked());
        }
    }

    // A count end to end with either engine (the second one hidden, with its own protocol file):
    // live, light search, autofocus, capture, count; the result and its work files, the page's
    // bins, the viewer's tagged image and counted frame, Save before, Save after, Next count.
    void wholeCount_data()
    {
        QTest::addColumn<bool>("second");
        QTest::newRow("program's engine") << false;
        QTest::newRow("second engine") << true;
    }
    void wholeCount()
    {
        QFETCH(bool, second);
        startLive();
        QJsonArray protocol;
        if (second) {
            useSecondEngine();
        } else {
            m_bench->setConfig("Protocol Name", "Name", "Cells, 2x");
            page()->readSetting();
            QCOMPARE(page()->protocolName(), QString("Cells, 2x"));
        }
        exposeForTarget();
        const int target = targetPower();
        QVERIFY(target > 4 && target < 97);
        panel()->changeLightPower(second ? target : target + 3, -1, -1);
        QTest::qWait(400);
        count();
        QCOMPARE(page()->startError(), CELLCOUNT_ERR_NONE);
        QCOMPARE(page()->currentState(), CELLCOUNT_RESULT);
        QCOMPARE(m_afRequests, 1);
        QCOMPARE(page()->model().thumbnails().size(), size_t(1));
        if (second) {
            QCOMPARE(page()->dilutionFactor(), 3);
            QCOMPARE(form()->LABEL_TOTAL_NUM->text(), QString("%1 cells").arg(page()->liveNumber() + page()->deadNumber()));
            const int live = page()->liveNumber(), dead = page()->deadNumber();
            const int placed = cellsInField();
            qInfo("second engine: %d live, %d dead of %d placed", live, dead, placed);
            QVERIFY(live + dead > 0);
            // Known: this object finder takes the simulated live cells (bright centre, dark ring) at
            // 4X for background and finds about the dead ones only.
            QEXPECT_FAIL("second engine", "the second engine misses the simulated live cells at 4X", Continue);
            QVERIFY(live + dead >= placed / 2 && live + dead <= placed * 2);
            checkWorkFiles();
        } else {
            // The box texts in order, the search down to the closer side of 150, the fine
            // autofocus, the offset move of 1024 steps, the result and its files.
            QCOMPARE(m_boxTexts, QStringList({"<p><b>Initializing ...</b></p>", "<p><b>Checking the light intensity ...</b></p>",
                                              "<p><b>Cell counting in progress ...</b></p>"}));
            checkLightSearch(target + 3);
            QVERIFY(std::abs(m_powers.last() - target) <= 1); // the power whose mean lay closer to 150
            QVERIFY(m_autofocused);
            QCOMPARE(m_bench->stageMoves().last(), 1024);
            checkResult();
            QVERIFY(form()->BUTTON_TAG->isChecked());
            QVERIFY(!video()->isRunning());
        }
        checkBins(second);
        if (second) {
            protocol = QJsonArray({QJsonArray({"Protocol Name", "DEFAULT"}), QJsonArray({"Dilution Factor", "3"}),
                                   QJsonArray({"Live Cell Sensitivity", "6"}), QJsonArray({"Roundness", "40 %"}),
                                   QJsonArray({"Min. Cell Size", "3 um"}), QJsonArray({"Max. Cell Size", "60 um"})});
        } else {
            const nimbo_protocol_t &p = page()->workingProtocol();
            protocol = QJsonArray({QJsonArray({"Protocol Name", "Cells, 2x"}),
                                   QJsonArray({"Dilution Factor", QString::number(p.nDilutionFactor)}),
                                   QJsonArray({"Live Cell Sensitivity", CellCount::convertLiveCellSensitivity(p.nMustDetectIntensity)}),
                                   QJsonArray({"Roundness", QString::number(double(p.fRoundness), 'f', 0) + " %"}),
                                   QJsonArray({"Min. Cell Size", QString("%1 um").arg(p.nMinCellSize)}),
                                   QJsonArray({"Max. Cell Size", QString("%1 um").arg(p.nMaxCellSize)})});
        }

        // The viewer: the tagged image, the counted frame with the tag button up, the tag again.
        const QString work = CellCount::rawDataPath();
        QVERIFY(viewer()->isVisible());
        const QImage tag = fileImage(work + "Temp_000000_TAG.tif"), frame = fileImage(work + "Temp_000000.tif");
        QVERIFY(!tag.isNull() && !frame.isNull() && tag != frame);
        QVERIFY(shownImage() == tag);
        if (second) { // that run leaves the tag button as it was: up
            QVERIFY(!form()->BUTTON_TAG->isChecked());
            QTest::mouseClick(form()->BUTTON_TAG, Qt::LeftButton);
            QVERIFY(shownImage() == tag);
        }
        QTest::mouseClick(form()->BUTTON_TAG, Qt::LeftButton);
        QVERIFY(!form()->BUTTON_TAG->isChecked());
        QVERIFY(shownImage() == frame);
        QTest::mouseClick(form()->BUTTON_TAG, Qt::LeftButton);
        QVERIFY(shownImage() == tag);

        // Save before onto the USB drive, then Save after: a second set of files, no second signal.
        const QString usb = mountedUsb();
        QVERIFY(!usb.isEmpty());
        QSignalSpy saved(page(), &CellCountWidget::saved);
        m_saveName = "Count1";
        QVERIFY(!form()->BUTTON_SAVE_BEFORE->isHidden());
        QTest::mouseClick(form()->BUTTON_SAVE_BEFORE, Qt::LeftButton);
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved[0][0].toBool(), true);
        QVERIFY(page()->savedFlag());
        checkSavedCount(usb, "Count1", protocol);
        QVERIFY(!form()->BUTTON_SAVE_AFTER->isHidden());
        QTest::mouseClick(form()->BUTTON_SAVE_AFTER, Qt::LeftButton);
        QCOMPARE(saved.count(), 1);
        QVERIFY2(QFile::exists(usb + "/Count1(1).csv"), qPrintable(QDir(usb).entryList().join(' ')));
        QVERIFY(QFile::exists(usb + "/Count1(1).tif"));

        // Next count goes live again.
        QTest::mouseClick(form()->BUTTON_NEXT_COUNT, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(page()->currentState(), CELLCOUNT_LIVE);
    }

};

QTEST_MAIN(TestCellCountRun)
#include "tst_cellcount_run.moc"
