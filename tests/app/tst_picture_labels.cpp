// Every picture the application takes, writes or counts, judged by what the simulated instrument's
// light path held while the picture was exposed, as a hand turns the cube turret at random moments
// during every kind of run.
//
// The paths that take, label or open a picture, and where each is judged here:
//   - The still wait, VideoWidget::capture and slotGrabOne (waitForStill): every page's still and
//     every focus search's. Each still handed on (captured, grabbed) must show one cube that stood
//     lit for its whole exposure, and the stills of one focus search one and the same cube.
//   - Multicolor capture and Auto-run (MultiColorWidget::captureCompleted): the auto-saved file
//     (MultiColorAutoSave) carries the label taken at the capture; Save (SaveOptionsDlg) labels
//     each channel by its own filter position. Judged: the auto-saved files.
//   - Z-stack (ZStackWidget::captureCompleted, ZStackSliceWriter): a file a slice. Judged. Its
//     merged image is computed from the slices, not a camera picture.
//   - Time lapse at an interval (TimeLapseWidget::captureCompleted): a file a time point. Judged.
//     Its drift correction (TimeLapseAF -> FineAFSequence::runTimeLapse) takes stills like Fine AF.
//   - Continuous time lapse (DisplayThread -> FrameRecorder): a file a live frame, labelled by
//     frame. Judged.
//   - The time lapse's grab buffer (slotGrabbed, BUTTON_SAVE_RECORD): its controls are hidden, no
//     user reaches it.
//   - Cell count (CellCountWidget::captureCompleted): the counted frame (work file Temp_000000.tif)
//     and the count; its autofocus (cellCountAF -> FineAFSequence::runCellCount). Judged: the stills,
//     the counted frame and every count against the field's own count.
//   - Fine AF (the panel's button, FineAFSequence::runInteractive): stills only. Judged: its stills
//     and where it leaves the focus.
//   - Growth monitor and Single pages: built but not offered by the menu; their stills go through
//     the same still wait.
//   - The browsers and the File manager's viewer open written files and show their labels as
//     written.
#include "AppBench.h"
#include "CameraAccess.h"
#include "CameraTables.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "FrameLog.h"
#include "HangBound.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PythonLines.h"
#include "SampleRenderer.h"
#include "SimHand.h"
#include "TimeLapseWidget.h"
#include "TurretHand.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_MultiColorWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackWidget.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QtTest>

#include <cmath>
#include <cstdlib>

class TestPictureLabels : public QObject
{
    Q_OBJECT

    static constexpr int kTrans = 0;
    static constexpr int kGfp = 3;
    static constexpr double kMinAgreement = 0.9; // of the fingerprint's places, for the frame a picture shows

    enum Kind { Multicolor, ZStack, Interval, Continuous, Count, FineAF };

    struct Still
    {
        std::vector<int> values;
        int bits = 8;
        int search = 0; // the focus search it was taken for (numbered from 1), 0 for none
    };

    std::unique_ptr<AppBench> m_bench;
    std::unique_ptr<TurretHand> m_hand;
    FrameLog *m_log = nullptr;
    QList<Still> m_stills;
    uint32_t m_seed = 0;
    QStringList m_wrong; // every picture or count that disagrees, with why
    int m_searches = 0;    // focus searches seen taking stills

    Ui_NIMBODlg *ui() const { return m_bench->ui(); }
    ControlWidget *panel() const { return ui()->m_ControlWidget; }
    VideoWidget *video() const { return ui()->m_VideoWidget; }
    VirtualInstrument &scope() const { return m_bench->sim->instrument(); }

    // The turns' seed: VANTOR_TURN_SEED, or a fixed one.
    static uint32_t seedBase()
    {
        const char *given = std::getenv("VANTOR_TURN_SEED");
        return given ? uint32_t(std::strtoul(given, nullptr, 10)) : 6500u;
    }

    // The application started with every cube exposed for exposureMs (and the stage
    // stageSpeedScale times as fast), the frames logged and every still noted.
    void start(int exposureMs, double stageSpeedScale = 1)
    {
        SimulatedInstrument::Options options = AppBench::defaultOptions();
        options.profile.speedScale *= stageSpeedScale;
        m_bench = std::make_unique<AppBench>(options);
        m_bench->quietStart();
        const int row = int(std::find_if(ExposureLUT8, ExposureLUT8 + kExposureRows,
                                         [&](const int *r) { return r[0] >= exposureMs; })
                            - ExposureLUT8);
        // Trans lit for pictures well inside the 8 bits (a white picture would look like any other).
        m_bench->setConfig("Filter_0", "Light", qPrintable(QString::number(std::max(1, 500 / exposureMs))));
        for (int p = 0; p < 4; ++p)
            m_bench->setConfig(qPrintable(QString("Filter_%1").arg(p)), "Exposure", qPrintable(QString::number(row)));
        m_bench->setConfig("Setting_MultiColor", "Autosave", "1");
        m_bench->setConfig("Setting_MultiColor", "AutosavePath", "/media/VANTOR SSD/Quicksave/");
        m_bench->setConfig("Setting_ZStack", "StableTimeInterval", "0.1");
        m_bench->start();
        // A run's own boxes stay up until the application closes them (Fine AF's offers Close at
        // its end); every other box is answered with OK.
        m_bench->setAnswer([](QDialog *dialog) {
            const QString text = DialogScripts::messageText(dialog);
            if (!text.contains("Initializing") && !text.contains("in progress") && !text.contains("Focusing"))
                return 1;
            return DialogRunner::showAndRun(dialog, [](QDialog *d) {
                QPointer<QDialog> box = d;
                QTest::qWaitFor([&] { return !box || !box->isVisible() || DialogScripts::messageText(box).contains("Fine AF"); },
                                kHangBoundMs);
                if (box && box->isVisible())
                    DialogRunner::click(box, "BUTTON_OK");
            }, kHangBoundMs + 10000);
        });
        m_log = &m_bench->sim->camera().logFrames();
        m_hand = std::make_unique<TurretHand>(*m_bench->sim);
        const auto note = [this](uchar *frame, int bits) { noteStill(frame, bits); };
        connect(video(), &VideoWidget::captured, this, note);
        connect(video(), &VideoWidget::grabbed, this, note);
    }

    void noteStill(const uchar *frame, int bits)
    {
        const bool searching = panel()->fineAF().isRunning();
        if (searching && (m_stills.isEmpty() || !m_stills.last().search))
            ++m_searches;
        Still still{{}, bits, searching ? m_searches : 0};
        for (const cv::Point &p : FrameLog::places()) {
            const int i = p.y * SampleRenderer::Width + p.x;
            still.values.push_back(bits == 16 ? reinterpret_cast<const uint16_t *>(frame)[i] : frame[i]);
        }
        m_stills << still;
    }

    void openPage(QPushButton *menu, QWidget *page, const char *live)
    {
        QTest::mouseClick(menu, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QMetaObject::invokeMethod(page, live));
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, kHangBoundMs));
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(QTest::qWaitFor([this] { return scope().state().ledLit[kTrans]; }, kHangBoundMs));
    }

    QString context() const
    {
        return QString("VANTOR_TURN_SEED=%1; the hand: %2").arg(seedBase()).arg(m_hand->done().join(", "));
    }

    // The frame a picture was found to show, judged: one cube stood lit all its exposure, the cube
    // named.
    void judge(const FrameLog::Frame *frame, double agreement, int cube, const QString &what)
    {
        if (!frame) {
            m_wrong << QString("%1: no frame the camera delivered shows it (best agreement %2)").arg(what).arg(agreement);
            return;
        }
        const auto &o = frame->optics;
        const QString exposure = QString("frame %1 exposed %2..%3 ms").arg(frame->number).arg(frame->beganUs / 1000).arg(frame->endedUs / 1000);
        if (!o.steady)
            m_wrong << QString("%1 (%2) was exposed across a turn, in the dark or under a changing light").arg(what, exposure);
        else if (o.filter != cube)
            m_wrong << QString("%1 (%2) names cube %3 but shows cube %4").arg(what, exposure).arg(cube).arg(o.filter);
    }

    // Every still judged by its frame; the stills of one focus search all show one cube.
    void checkStills()
    {
        const std::vector<FrameLog::Frame> frames = m_log->frames();
        QMap<int, int> searchCube; // by search: the cube of its first still
        for (int i = 0; i < m_stills.size(); ++i) {
            const Still &still = m_stills[i];
            double agreement = 0;
            const FrameLog::Frame *f = FrameLog::match(frames, still.values, still.bits, kMinAgreement, &agreement);
            const QString what = QString("still %1 handed on").arg(i + 1);
            judge(f, agreement, f ? f->optics.filter : -1, what); // a still carries no label of its own
            if (!f || !still.search)
                continue;
            const int cube = searchCube.value(still.search, f->optics.filter);
            searchCube[still.search] = cube;
            if (f->optics.filter != cube)
                m_wrong << QString("%1 shows cube %2 in focus search %3, whose first still showed cube %4")
                               .arg(what).arg(f->optics.filter).arg(still.search).arg(cube);
        }
    }

    // Every grey TIFF written under the root since the start (hidden work folders too), as
    // Python's tifffile reads it, judged by its frame and its labels; returns how many were judged.
    int checkFiles()
    {
        const QString placesFile = m_bench->root.path() + "/places.txt";
        {
            QFile out(placesFile);
            if (!out.open(QIODevice::WriteOnly))
                return -1;
            for (const cv::Point &p : FrameLog::places())
                out.write(QByteArray::number(p.x) + ' ' + QByteArray::number(p.y) + '\n');
        }
        const char *script = "import os, sys, tifffile\n"
                             "xy = [tuple(map(int, l.split())) for l in open(sys.argv[2])]\n"
                             "files = [os.path.join(d, n) for d, _, ns in os.walk(sys.argv[1]) for n in ns if n.endswith('.tif')]\n"
                             "for f in sorted(files):\n"
                             "    with tifffile.TiffFile(f) as t:\n"
                             "        p = t.pages[0]\n"
                             "        a = p.asarray()\n"
                             "        if a.ndim != 2: continue\n"
                             "        v = ' '.join(str(int(a[y, x])) for x, y in xy)\n"
                             "        print('%s\\t%d\\t%s\\t%s' % (f, a.dtype.itemsize * 8, (p.description or '').replace('\\t', ' ').replace('\\n', ' '), v))\n";
        const QStringList lines = pythonLines({"-c", script, m_bench->root.path(), placesFile});
        const std::vector<FrameLog::Frame> frames = m_log->frames();
        int judged = 0;
        for (const QString &line : lines) {
            if (line.startsWith("python failed"))
                m_wrong << line;
            const QStringList f = line.split('\t');
            if (f.size() != 4)
                continue;
            std::vector<int> values;
            for (const QString &v : f[3].split(' '))
                values.push_back(v.toInt());
            const QString name = QFileInfo(f[0]).fileName();
            const QStringList labels = f[2].split(';');
            double agreement = 0;
            const FrameLog::Frame *frame = FrameLog::match(frames, values, f[1].toInt(), kMinAgreement, &agreement);
            ++judged;
            const QStringList cubeLabel = labels.filter("Filter cube: ");
            if (cubeLabel.isEmpty()) { // a work file: the frame alone
                judge(frame, agreement, frame ? frame->optics.filter : -1, name);
                continue;
            }
            int cube = -1;
            for (int p = 0; p < 4; ++p)
                if (cubeLabel.first() == "Filter cube: " + SimHand::cubeName(p))
                    cube = p;
            judge(frame, agreement, cube, QString("%1 labelled \"%2\"").arg(name, cubeLabel.first()));
            if (!frame || !frame->optics.steady)
                continue;
            const QString lens = QString(" %1X ").arg(SampleRenderer::magnification(frame->optics.objective));
            const QStringList objective = labels.filter("Objective: ");
            if (objective.isEmpty() || !objective.first().contains(lens))
                m_wrong << QString("%1: \"%2\" under objective %3 (%4)").arg(name, objective.value(0)).arg(frame->optics.objective).arg(f[2]);
            const QStringList light = labels.filter("Light: ");
            const QString lit = QString("Light: %1 %").arg(std::lround(frame->optics.light * 100));
            if (light.isEmpty() || light.first() != lit)
                m_wrong << QString("%1: \"%2\" lit as \"%3\"").arg(name, light.value(0), lit);
        }
        return judged;
    }

    void verdict(int pictures)
    {
        qInfo("%d stills and %d files judged against %zu frames; %s", m_stills.size(), pictures,
              m_log->frames().size(), qPrintable(context()));
        for (const QString &wrong : m_wrong)
            qWarning("%s", qPrintable(wrong));
        QVERIFY2(m_wrong.isEmpty(), qPrintable(QString("%1 pictures or counts disagree with the instrument; %2")
                                                   .arg(m_wrong.size()).arg(context())));
    }

    // --- the runs ---------------------------------------------------------------------------

    // Captures one after another, each from live (a refused one ends an Auto-run series).
    void multicolor()
    {
        start(600);
        MultiColorWidget *page = ui()->m_MultiColorWidget;
        openPage(ui()->BUTTON_MULTI_COLOR_MENU, page, "on_BUTTON_LIVE_clicked");
        m_hand->start(TurretHand::plan(m_seed, 3, 300, 6000, kTrans, kGfp, 0));
        for (int i = 0; i < 4; ++i) {
            QVERIFY(QMetaObject::invokeMethod(page, "on_BUTTON_CAPTURE_clicked"));
            QVERIFY(m_bench->waitUnlocked());
            if (page->currentState() != MULTI_LIVE)
                QVERIFY(QMetaObject::invokeMethod(page, "on_BUTTON_LIVE_clicked"));
            QVERIFY(QTest::qWaitFor([&] { return video()->isRunning() && m_bench->menuUnlocked(); }, kHangBoundMs));
        }
        QVERIFY(QTest::qWaitFor([&] { return m_hand->finished(); }, kHangBoundMs));
        QVERIFY(page->waitForAutoSaves(kHangBoundMs));
    }

    void zstack()
    {
        start(600);
        ZStackWidget *page = ui()->m_ZStackWidget;
        scope().setStagePosition(200000);
        openPage(ui()->BUTTON_Z_STACK_MENU, page, "on_BUTTON_LIVE_clicked");
        page->setSavePath(Paths::ssd(), "cells");
        page->form()->RADIO_RANGE->click();
        page->form()->SPINBOX_RANGE_PLUS->setValue(2);
        page->form()->SPINBOX_RANGE_MINUS->setValue(2);
        page->form()->SPINBOX_INTERVAL->setValue(1.0);
        QVERIFY(QTest::qWaitFor([&] { return page->motorRequest() < 0; }, kHangBoundMs));
        QTest::qWait(600);
        m_hand->start(TurretHand::plan(m_seed, 3, 500, 9000, kTrans, kGfp, 0));
        QTest::mouseClick(page->form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return page->currentState() == ZSTACK_COMPLETED && m_bench->menuUnlocked(); }, kHangBoundMs));
    }

    void timeLapse(bool continuous)
    {
        start(continuous ? 100 : 600);
        auto *page = ui()->m_TimeLapseWidget;
        openPage(ui()->BUTTON_TIME_LAPSE_MENU, page, "on_BUTTON_TIMELAPSE_LIVE_clicked");
        page->findChild<QSpinBox *>("SPINBOX_HOUR")->setValue(0);
        page->findChild<QSpinBox *>("SPINBOX_MINUTE")->setValue(0);
        page->findChild<QSpinBox *>("SPINBOX_SECOND")->setValue(continuous ? 4 : 12);
        page->findChild<QComboBox *>("COMBOBOX_INTERVAL_TYPE")->setCurrentText(continuous ? "Continuous" : "Second");
        page->findChild<QDoubleSpinBox *>("SPINBOX_INTERVAL")->setValue(continuous ? 1 : 4);
        page->findChild<QComboBox *>("COMBO_FOCUS_DRIFT")->setCurrentText("Off");
        QDir(Paths::ssd()).mkpath("Data");
        page->setSaveTarget(Paths::path("/media/VANTOR SSD/Data"), "Cells", "tif");
        m_hand->start(continuous ? TurretHand::plan(m_seed, 3, 500, 3500, kTrans, kGfp)
                                 : TurretHand::plan(m_seed, 2, 300, 11000, kTrans, kGfp, 0));
        QTest::mouseClick(page->findChild<QPushButton *>("BUTTON_TIMELAPSE_RUN"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return page->currentState() == TIMELAPSE_SHOWN && m_bench->menuUnlocked(); },
                                kHangBoundMs));
    }

    enum class CountTurn { None, AfterCount, InSearch };

    // Count pressed and waited for, with a turn away and back 8 s later (which the count does not
    // wait for), at a random moment from 2 to 5 s after Count or from 0.1 to 1.5 s into its
    // autofocus. The count's total, -1 when it ended without one: then with its message and the
    // focus back where it began.
    int countOnce(CountTurn turn, int index)
    {
        CellCountWidget *page = ui()->m_CellCountWidget;
        const int before = scope().state().stagePosition;
        m_bench->clearDialogs();
        const QList<TurretHand::Turn> away = turn == CountTurn::InSearch
            ? TurretHand::plan(m_seed + uint32_t(index), 1, 100, 1500, kTrans, kGfp)
            : TurretHand::plan(m_seed + uint32_t(index), 1, 2000, 5000, kTrans, kGfp);
        const QList<TurretHand::Turn> turns{away[0], {away[0].atMs + 8000, kTrans, false}};
        m_hand->start(turn == CountTurn::AfterCount ? turns : QList<TurretHand::Turn>());
        bool searched = false; // the autofocus asked for (once)
        const auto searching = connect(page, &CellCountWidget::cellCountAF, this, [&] {
            if (turn == CountTurn::InSearch && !searched)
                m_hand->start(turns);
            searched = true;
        });
        QTest::mouseClick(page->form()->BUTTON_COUNT, Qt::LeftButton);
        const bool ended = QTest::qWaitFor([&] { return !page->runActive() && m_bench->menuUnlocked(); }, kHangBoundMs);
        disconnect(searching);
        m_hand->stop();
        const QString hand = m_hand->done().join(", ");
        if (!ended)
            return -2;
        if (scope().state().filterPosition != kTrans) {
            scope().turnFilter(kTrans);
            QTest::qWaitFor([&] { return panel()->currentFilterPosition() == kTrans; }, kHangBoundMs);
        }
        if (page->currentState() == CELLCOUNT_RESULT) {
            const int total = page->liveNumber() + page->deadNumber();
            qInfo("count %d: %d cells (%s)", index, total, qPrintable(hand));
            QTest::mouseClick(page->form()->BUTTON_NEXT_COUNT, Qt::LeftButton);
            QTest::qWaitFor([&] { return video()->isRunning() && m_bench->menuUnlocked(); }, kHangBoundMs);
            return total;
        }
        const QStringList told = m_bench->dialogs().filter(QRegularExpression("^(?!.*(Initializing|in progress))"));
        qInfo("count %d ended: %s (%s)", index, qPrintable(told.join(" | ")), qPrintable(hand));
        if (told.isEmpty())
            m_wrong << QString("count %1 ended without a message (%2)").arg(index).arg(hand);
        QTest::qWaitFor([&] { return !scope().state().stageMoving; }, kHangBoundMs);
        const int off = scope().state().stagePosition - before;
        if (std::abs(off) > 26)
            m_wrong << QString("count %1 ended %2 steps from where it began (%3)").arg(index).arg(off).arg(hand);
        if (page->currentState() != CELLCOUNT_LIVE)
            QMetaObject::invokeMethod(page, "on_BUTTON_LIVE_clicked");
        QTest::qWaitFor([&] { return video()->isRunning() && m_bench->menuUnlocked(); }, kHangBoundMs);
        return -1;
    }

    // Counts of one field: one as the user leaves it, one with a turn after Count, one with a turn
    // inside its autofocus, one more. Each gives the field's count (within 5 % of the first) or
    // ends with its message and the focus where it began; the last gives it.
    void count()
    {
        start(10, 10);
        openPage(ui()->BUTTON_COUNT_MENU, ui()->m_CellCountWidget, "on_BUTTON_LIVE_clicked");
        const int field = countOnce(CountTurn::None, 0);
        QVERIFY2(field > 0, "the field was not counted");
        const CountTurn turns[] = {CountTurn::AfterCount, CountTurn::InSearch, CountTurn::None};
        for (int i = 1; i <= 3; ++i) {
            const int n = countOnce(turns[i - 1], i);
            if (n >= 0 && std::abs(n - field) > 0.05 * field)
                m_wrong << QString("count %1 gave %2 cells on a field of %3").arg(i).arg(n).arg(field);
            if (turns[i - 1] == CountTurn::None && n < 0)
                m_wrong << QString("count %1, with no turn, gave no count").arg(i);
        }
    }

    // Fine AF from 60 micrometres below the focus with the cube turned away and back meanwhile:
    // it ends at the focus or where it began.
    void fineAF()
    {
        start(10, 10);
        MultiColorWidget *page = ui()->m_MultiColorWidget;
        openPage(ui()->BUTTON_MULTI_COLOR_MENU, page, "on_BUTTON_LIVE_clicked");
        const double focus = m_bench->sim->camera().renderer().trueFocusSteps(1);
        scope().setStagePosition(int(focus - 60 * SampleRenderer::StepsPerUm) - scope().state().stageCounterOffset);
        QTest::qWait(500);
        const int before = scope().state().stagePhysical();
        // Away while the scan runs (it begins a second after the button), back when a retake at the
        // height of a refused still would long have been taken.
        const QList<TurretHand::Turn> away = TurretHand::plan(m_seed, 1, 1100, 2200, kTrans, kGfp);
        m_hand->start({away[0], {away[0].atMs + 4000, kTrans, false}});
        QVERIFY(QMetaObject::invokeMethod(panel(), "on_BUTTON_FINE_AF_clicked"));
        QVERIFY(QTest::qWaitFor([&] { return !panel()->fineAF().isRunning() && m_bench->menuUnlocked(); }, kHangBoundMs));
        QTest::qWaitFor([&] { return !scope().state().stageMoving; }, kHangBoundMs);
        const int at = scope().state().stagePhysical();
        const FineAFSequence &af = panel()->fineAF();
        qInfo("Fine AF %s, %d frames, ended %+.1f um from the focus", af.succeeded() ? "succeeded" : "failed",
              af.framesScored(), (at - focus) / SampleRenderer::StepsPerUm);
        if (af.succeeded() && std::abs(at - focus) > panel()->fineAF().fineAF().interval())
            m_wrong << QString("Fine AF ended %1 um from the focus").arg((at - focus) / SampleRenderer::StepsPerUm);
        if (!af.succeeded() && std::abs(at - before) > 26)
            m_wrong << QString("Fine AF failed %1 steps from where it began").arg(at - before);
    }

private slots:
    void init()
    {
        m_stills.clear();
        m_wrong.clear();
        m_searches = 0;
        m_log = nullptr;
    }

    void cleanup()
    {
        if (m_hand)
            m_hand->stop();
        m_hand.reset();
        m_bench.reset();
    }

    // Each kind of run with the turret turned by hand at random moments (one of them a turn away
    // and back inside one still's exposure where the run takes stills that long): every still it
    // handed on and every picture it wrote shows the one cube its label names, lit for its whole
    // exposure, under the objective and light its label names; every count is the field's.
    void everyPictureShowsItsLabel_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("Multicolor capture") << int(Multicolor);
        QTest::newRow("Z-stack") << int(ZStack);
        QTest::newRow("time lapse, interval") << int(Interval);
        QTest::newRow("time lapse, continuous") << int(Continuous);
        QTest::newRow("cell count") << int(Count);
        QTest::newRow("Fine AF") << int(FineAF);
    }
    void everyPictureShowsItsLabel()
    {
        QFETCH(int, kind);
        m_seed = seedBase() + uint32_t(kind);
        switch (Kind(kind)) {
        case Multicolor: multicolor(); break;
        case ZStack: zstack(); break;
        case Interval: timeLapse(false); break;
        case Continuous: timeLapse(true); break;
        case Count: count(); break;
        case FineAF: fineAF(); break;
        }
        if (QTest::currentTestFailed())
            return;
        m_hand->stop();
        QVERIFY(video()->waitForRecordedFrames(kHangBoundMs));
        checkStills();
        const int files = checkFiles();
        if (kind != Count && kind != FineAF)
            QVERIFY2(files > 0, "no picture was written");
        verdict(files);
    }
};

QTEST_MAIN(TestPictureLabels)
#include "tst_picture_labels.moc"
