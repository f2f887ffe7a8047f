// The Cell count page by direct calls, with a fake camera that answers capture() with synthetic
// frames: the LED-power search, the autofocus answers and the offset move, the page states, the
// result texts, the engines' refusals, the counting roads no screen reaches, the protocol button,
// the auto-test repetition and the count thread's end.
#include "CellCountWidget.h"
#include "CountThread.h"
#include "ImReaderWriter.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ProtocolFile.h"
#include "TCapturedImageMetaData.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ui_CellCountWidget.h"

#include <QtTest>
#include <functional>
#include <map>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// OpenCV's image memory, refused while installed: the next image the engine makes throws as an
// allocation failure would.
class RefusingAllocator : public cv::MatAllocator
{
public:
    RefusingAllocator() : m_previous(cv::Mat::getDefaultAllocator()) { cv::Mat::setDefaultAllocator(this); }
    ~RefusingAllocator() override { cv::Mat::setDefaultAllocator(m_previous); }
    cv::UMatData *allocate(int, const int *, int, void *, size_t *, cv::AccessFlag, cv::UMatUsageFlags) const override
    {
        throw std::bad_alloc();
    }
    bool allocate(cv::UMatData *, cv::AccessFlag, cv::UMatUsageFlags) const override { return false; }
    void deallocate(cv::UMatData *) const override {}

private:
    cv::MatAllocator *m_previous;
};

// Grey 150 with dark disks of radius 8 every 40 pixels, which both engines find as cells.
void paintDisks(std::vector<unsigned char> &frame)
{
    cv::Mat image(1024, 1280, CV_8UC1, frame.data());
    image.setTo(150);
    for (int y = 40; y < 1024 - 20; y += 40)
        for (int x = 40; x < 1280 - 20; x += 40)
            cv::circle(image, cv::Point(x, y), 8, cv::Scalar(40), cv::FILLED);
}

// Cells of both kinds in a checkerboard: dark disks, and disks with a bright centre in a dark ring.
void paintMixedCells(std::vector<unsigned char> &frame)
{
    cv::Mat image(1024, 1280, CV_8UC1, frame.data());
    image.setTo(150);
    for (int y = 40; y < 1024 - 20; y += 40)
        for (int x = 40; x < 1280 - 20; x += 40) {
            cv::circle(image, cv::Point(x, y), 8, cv::Scalar(40), cv::FILLED);
            if ((x / 40 + y / 40) % 3 == 0)
                cv::circle(image, cv::Point(x, y), 5, cv::Scalar(240), cv::FILLED);
        }
}

// Dark 5 x 5 dots every 10 pixels: more blobs than the own engine counts.
void paintDots(std::vector<unsigned char> &frame)
{
    cv::Mat image(1024, 1280, CV_8UC1, frame.data());
    image.setTo(200);
    for (int y = 2; y + 5 < 1024; y += 10)
        for (int x = 2; x + 5 < 1280; x += 10)
            image(cv::Rect(x, y, 5, 5)).setTo(20);
}

} // namespace

class TestCellCountPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<CellCountWidget> m_page;
    std::vector<unsigned char> m_frame = std::vector<unsigned char>(1280 * 1024);
    std::function<double(int)> m_meanAt; // mean grey of the fake camera's frame at an LED power
    int m_light = 0;                     // LED power the page last asked for
    QList<int> m_powers;
    QStringList m_messages;              // texts of the message boxes answered with OK
    QPointer<QDialog> m_startBox;
    std::function<void(int)> m_onFrame;  // called with the frame number before a frame is delivered
    std::function<void(std::vector<unsigned char> &)> m_paint; // draws the frame instead of a flat grey
    bool m_menuEnabled = false;          // the last lock or unlock of the main menu
    bool m_panelEnabled = false;         // and of the control panel
    int m_completed = 0;                 // completed() emitted
    int m_frames = 0;
    bool m_cameraDead = false;

    Ui_CellCountWidget *form() const { return m_page->form(); }

    void setConfig(const char *section, const char *key, const char *value)
    {
        WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
    }

    void setLight(int power)
    {
        QMutexLocker lock(&capturedImageMetaDataLock());
        g_CapturedImageMetaData.light[0] = QString("Light: %1 %").arg(power);
    }

    // A page on the Trans cube and the 4X objective, with a fake camera.
    void makePage()
    {
        m_page = std::make_unique<CellCountWidget>();
        m_page->setCurrentObjectiveLensPosition(1);
        m_page->setCurrentFilterPosition(0);
        m_page->setCurrentState(CELLCOUNT_LIVE);
        connect(m_page.get(), &CellCountWidget::lightPower, this, [this](int power, int, int) {
            m_powers << power;
            m_light = power;
        });
        connect(m_page.get(), &CellCountWidget::capture, this, [this] {
            if (m_cameraDead)
                return;
            if (m_onFrame)
                m_onFrame(m_frames);
            ++m_frames;
            if (m_paint)
                m_paint(m_frame);
            else
                std::fill(m_frame.begin(), m_frame.end(), (unsigned char)(std::lround(m_meanAt(m_light))));
            m_page->captureCompleted(m_frame.data(), 8);
        });
        connect(m_page.get(), &CellCountWidget::signalEnableMainMenu, this, [this](bool on) { m_menuEnabled = on; });
        connect(m_page.get(), &CellCountWidget::signalEnableControlWidgetUI, this, [this](bool on) { m_panelEnabled = on; });
        connect(m_page.get(), &CellCountWidget::completed, this, [this](std::vector<ThumbnailInfo> &) { ++m_completed; });
    }

    // A count of the painted frame as it comes, without light search or autofocus.
    void countPainted(const std::function<void(std::vector<unsigned char> &)> &paint, int engine)
    {
        m_paint = paint;
        form()->CHKBOX_INTENSITY->setChecked(false);
        form()->CHKBOX_AF->setChecked(false);
        form()->comboBox->setCurrentIndex(engine);
        count(50);
    }

    static QString workFile(const char *name) { return CellCount::rawDataPath() + name; }
    // A data table with one row for each engine.
    static void engineRows()
    {
        QTest::addColumn<int>("engine");
        QTest::newRow("own engine") << 0;
        QTest::newRow("second engine") << 1;
    }

    // The page as an ended run leaves it. Live, it unlocks the UI itself; with a result, the
    // stopped video's report does (the main window's part).
    void checkEnded(TCellCountState state)
    {
        QCOMPARE(m_page->currentState(), state);
        QVERIFY(!m_page->runActive());
        QVERIFY(form()->BUTTON_COUNT->isEnabled());
        if (state == CELLCOUNT_LIVE) {
            QVERIFY(m_menuEnabled);
            QVERIFY(m_panelEnabled);
        }
    }

    // Count pressed; returns when the button's handler has returned.
    void count(int light)
    {
        m_light = light;
        setLight(light);
        m_powers.clear();
        m_messages.clear();
        m_frames = 0;
        m_page->on_BUTTON_COUNT_clicked();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/media/VANTOR SSD");
        m_root->makeDir("/root/Microscope/NIMBO");
        setConfig("Lens", "1", "4X");
        setConfig("Lens", "2", "10X");
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
            *size = 4096;
            *blocks = 1u << 24;
            return true;
        });
        g_CurrentMenu = MENU_CELLCOUNT;
        initializePseudoColorTable();
        m_meanAt = [](int) { return 150.0; };
        m_light = 0;
        m_onFrame = nullptr;
        m_paint = nullptr;
        m_cameraDead = false;
        m_menuEnabled = m_panelEnabled = false;
        m_completed = 0;
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *dialog) {
            const QString text = DialogScripts::messageText(dialog);
            if (text.contains("Initializing"))
                m_startBox = dialog;
            if (text.contains("Initializing") || text.contains("Cell counting in progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 120000);
            m_messages << text;
            return 1;
        });
        makePage();
    }

    void cleanup()
    {
        m_page.reset();
        DialogRunner::clearScripts();
        MediaMonitor::setSpaceQuery({});
        CellCountWidget::setMoveTimeoutMs(0);
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // The LED-power search, one frame per percent: where it ends, the powers it sends and why it
    // gives up.
    void lightSearch_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("means");     // "power:mean,..." for the frames; others give 'other'
        QTest::addColumn<double>("other");
        QTest::addColumn<int>("error");
        QTest::addColumn<QList<int>>("powers"); // lightPower values sent
        QTest::newRow("150.0 first") << 40 << "" << 150.0 << 0 << QList<int>{};
        QTest::newRow("160 at 50, 140 at 49") << 50 << "50:160,49:140" << 0.0 << 0 << QList<int>{49, 49};
        QTest::newRow("closer above") << 50 << "50:151,49:147" << 0.0 << 0 << QList<int>{49, 50};
        QTest::newRow("down from 53") << 53 << "53:165,52:160,51:155,50:151,49:147" << 0.0 << 0
                                      << QList<int>{52, 51, 50, 49, 50};
        QTest::newRow("too bright at 1") << 2 << "" << 200.0 << 8 << QList<int>{1};
        // At the top the page asks once for a longer exposure (-1: the light unchanged); the stand-in
        // camera keeps its exposure, so the search ends instead of asking again.
        QTest::newRow("too dark at 100") << 99 << "" << 20.0 << 8 << QList<int>{100, -1};
        QTest::newRow("three equal means") << 30 << "" << 90.0 << 8 << QList<int>{31, 32};
    }
    void lightSearch()
    {
        QFETCH(int, start);
        QFETCH(QString, means);
        QFETCH(double, other);
        QFETCH(int, error);
        QFETCH(QList<int>, powers);
        std::map<int, double> table;
        for (const QString &pair : means.split(',', Qt::SkipEmptyParts))
            table[pair.section(':', 0, 0).toInt()] = pair.section(':', 1, 1).toDouble();
        m_meanAt = [table, other](int power) {
            const auto it = table.find(power);
            return it == table.end() ? other : it->second;
        };
        count(start);
        QCOMPARE(int(m_page->startError()), error);
        QCOMPARE(m_powers, powers);
        if (error == 0) {
            QCOMPARE(m_page->currentState(), CELLCOUNT_COUNTING); // on to the autofocus
            QVERIFY(m_messages.isEmpty());
        } else {
            QCOMPARE(m_messages, QStringList{CellCountWidget::kStartErrorTexts[8]});
            QCOMPARE(m_page->currentState(), CELLCOUNT_LIVE);
            QVERIFY(form()->BUTTON_COUNT->isEnabled());
        }
    }

    // Stop in the box during the search; a light entry of 0 takes no frame.
    void stopAndNoLight()
    {
        m_meanAt = [](int power) { return 100.0 + power; };
        m_onFrame = [this](int n) {
            if (n == 2 && m_startBox)
                QVERIFY(DialogRunner::click(m_startBox, "BUTTON_OK"));
        };
        count(10);
        QCOMPARE(m_page->startError(), CELLCOUNT_ERR_STOPPED);
        QCOMPARE(m_frames, 3);
        QCOMPARE(m_messages, QStringList{CellCountWidget::kStartErrorTexts[CELLCOUNT_ERR_STOPPED]});
        QCOMPARE(m_page->currentState(), CELLCOUNT_LIVE);
        m_onFrame = nullptr;
        count(0);
        QCOMPARE(m_page->startError(), CELLCOUNT_ERR_BRIGHTNESS);
        QCOMPARE(m_frames, 0);
        QCOMPARE(m_page->currentState(), CELLCOUNT_LIVE);
    }

    // The autofocus answers: an error shows its preset and goes live; success moves by AF_Offset
    // and counts the frame taken after the move; a move that is never reported ends with code 9.
    void autofocus_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("offset");
        QTest::addColumn<int>("moved");   // steps of the move, 0 for none
        QTest::addColumn<bool>("reported"); // the end of the move is reported
        QTest::addColumn<int>("preset");    // message shown, -1 none
        QTest::newRow("disk space") << 1 << "20" << 0 << true << int(MSG_INSUFFICIENT_DISK_SPACE);
        QTest::newRow("not supported") << 2 << "20" << 0 << true << int(MSG_FINEAF_NOT_SUPPORTED);
        QTest::newRow("DOF") << 3 << "20" << 0 << true << int(MSG_DOF_FAILED);
        QTest::newRow("no SSD") << 4 << "20" << 0 << true << int(MSG_SSD_NOT_DETECTED);
        QTest::newRow("offset 20") << 0 << "20" << 1024 << true << -1;
        QTest::newRow("offset 0") << 0 << "0" << 0 << true << -1;
        QTest::newRow("move not reported") << 0 << "20" << 1024 << false << -1;
    }
    void autofocus()
    {
        QFETCH(int, error);
        QFETCH(QString, offset);
        QFETCH(int, moved);
        QFETCH(bool, reported);
        QFETCH(int, preset);
        setConfig("Setting_Misc", "AF_Offset", offset.toUtf8().constData());
        CellCountWidget::setMoveTimeoutMs(300);
        QList<int> moves;
        connect(m_page.get(), &CellCountWidget::cellCountAF, this, [this, error] {
            QTimer::singleShot(0, this, [this, error] { m_page->slotCompleteCellCountAF(true, TFineAFErrTable(error)); });
        });
        connect(m_page.get(), &CellCountWidget::signalMoveMotorPosition, this, [this, &moves, reported](int steps, bool) {
            moves << steps;
            if (reported)
                QTimer::singleShot(0, m_page.get(), &CellCountWidget::slotMotorMoved);
        });
        count(50);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive(); }, 60000));
        QCOMPARE(moves, moved ? QList<int>{moved} : QList<int>{});
        if (preset >= 0) {
            QCOMPARE(m_messages, QStringList{MessageDlg::presetText(TMessageType(preset))});
            QCOMPARE(m_page->currentState(), CELLCOUNT_LIVE);
        } else if (!reported) {
            QCOMPARE(m_messages, QStringList{CellCountWidget::kStartErrorTexts[9]});
            QCOMPARE(m_page->currentState(), CELLCOUNT_LIVE);
        } else {
            QCOMPARE(m_frames, 2); // the search's frame and the one after the focus
            QCOMPARE(m_page->currentState(), CELLCOUNT_RESULT);
            QVERIFY(m_page->resultAvailable());
        }
    }

    // What each state shows and enables.
    void states_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("first");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("shown");   // buttons shown (L live, C count, N next, B save-before, A save-after)
        QTest::addColumn<QString>("enabled"); // of capture (P), dilution (D), tag (T), next (N), save-before (B)
        QTest::newRow("0 fresh") << 0 << true << 0 << "LB" << "";
        QTest::newRow("0 again") << 0 << false << 0 << "NB" << "N";
        QTest::newRow("1") << 1 << false << 0 << "CB" << "PN";
        QTest::newRow("2 counted") << 2 << false << 0 << "NB" << "DTNB";
        QTest::newRow("2 manual") << 2 << false << 1 << "NB" << "NB";
    }
    void states()
    {
        QFETCH(int, state);
        QFETCH(bool, first);
        QFETCH(int, mode);
        QFETCH(QString, shown);
        QFETCH(QString, enabled);
        m_page->setTheFirstTime(first);
        m_page->setCurrentMode(mode);
        m_page->setCurrentState(TCellCountState(state));
        const std::pair<QChar, QWidget *> visible[] = {{'L', form()->BUTTON_LIVE}, {'C', form()->BUTTON_COUNT},
                                                       {'N', form()->BUTTON_NEXT_COUNT}, {'B', form()->BUTTON_SAVE_BEFORE},
                                                       {'A', form()->BUTTON_SAVE_AFTER}};
        for (const auto &[key, widget] : visible)
            QVERIFY2(widget->isHidden() != shown.contains(key), qPrintable(widget->objectName()));
        const std::pair<QChar, QWidget *> usable[] = {{'P', form()->BUTTON_CAPTURE}, {'D', form()->BUTTON_DILUTION_CALC},
                                                      {'T', form()->BUTTON_TAG}, {'N', form()->BUTTON_NEXT_COUNT},
                                                      {'B', form()->BUTTON_SAVE_BEFORE}};
        for (const auto &[key, widget] : usable)
            QVERIFY2(widget->isEnabled() == enabled.contains(key), qPrintable(widget->objectName()));
        QCOMPARE(form()->BUTTON_TAG->isCheckable(), enabled.contains('T'));
    }

    // The result texts from the concentrations of a count.
    void resultTexts_data()
    {
        QTest::addColumn<double>("live");
        QTest::addColumn<double>("dead");
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("liveText");
        QTest::newRow("3.65x10e5") << 3.2e5 << 4.5e4 << "3.65x10e5 cells/mL" << "3.20x10e5 cells/mL";
        QTest::newRow("1.10x10e6") << 6.0e5 << 5.0e5 << "1.10x10e6 cells/mL" << "6.00x10e5 cells/mL";
        QTest::newRow("10.00x10e5") << 9.996e5 << 0.0 << "10.00x10e5 cells/mL" << "10.00x10e5 cells/mL";
        QTest::newRow("none") << 0.0 << 0.0 << "0.00x10e0 cells/mL" << "0.00x10e0 cells/mL";
    }
    void resultTexts()
    {
        QFETCH(double, live);
        QFETCH(double, dead);
        QFETCH(QString, total);
        QFETCH(QString, liveText);
        int liveExponent = 0, deadExponent = 0;
        const float liveMantissa = CellCountWidget::frexp10(live, liveExponent);
        const float deadMantissa = CellCountWidget::frexp10(dead, deadExponent);
        m_page->setResultValues(liveMantissa, liveExponent, deadMantissa, deadExponent);
        QCOMPARE(form()->LABEL_TOTAL->text(), total);
        QCOMPARE(form()->LABEL_LIVE->text(), liveText);
        m_page->clearResult();
        QVERIFY(form()->LABEL_TOTAL->text().isEmpty());
        QVERIFY(form()->FRAME_RESULT->isHidden());
    }

    // The own engine's refusals of a frame: too many objects (-1) and a failed count (-2, here
    // OpenCV's memory refused). The message is shown, nothing is written or listed, no result is
    // shown, and the page is live again and unlocked.
    void engineRefusals_data()
    {
        QTest::addColumn<bool>("tooMany");
        QTest::addColumn<QString>("message");
        QTest::newRow("-1 too many objects") << true << CellCountWidget::kTooManyObjectsText;
        QTest::newRow("-2 count failed") << false << CellCountWidget::kCountFailedText;
    }
    void engineRefusals()
    {
        QFETCH(bool, tooMany);
        QFETCH(QString, message);
        std::unique_ptr<RefusingAllocator> refusing;
        if (!tooMany)
            connect(m_page.get(), &CellCountWidget::changedState, this, [this, &refusing] {
                if (m_page->currentState() == CELLCOUNT_COUNTING)
                    refusing = std::make_unique<RefusingAllocator>();
            });
        bool live = false;
        connect(m_page.get(), &CellCountWidget::liveMode, this, [&live](bool on) { live = on; });
        const QString shown = form()->LABEL_TOTAL_NUM->text();
        countPainted(tooMany ? paintDots : paintDisks, 0);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive(); }, 60000));
        refusing.reset();
        QCOMPARE(m_messages, QStringList{message});
        checkEnded(CELLCOUNT_LIVE);
        QVERIFY(live);
        QVERIFY(!m_page->resultAvailable());
        QCOMPARE(form()->LABEL_TOTAL_NUM->text(), shown); // no count of 0 cells shown
        QCOMPARE(m_completed, 0);
        QVERIFY(m_page->model().thumbnails().empty());
        QVERIFY(!QFile::exists(workFile("Temp_000000_TAG.tif")));
        QVERIFY(!QFile::exists(workFile("Temp_000000.tif")));
    }

    // The recount with the size gate and the second engine's transmission check, called
    // directly after a count: with the second engine each ends the count again with the same
    // numbers (the gate spans the protocol's sizes) and fresh work files, the gated recount
    // writing its tag image as the frame file; after the own engine they do nothing. The files
    // are written when the page returns to the event loop, or when it is left.
    void countingRoads_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<bool>("gate"); // AfterSizeGating, else receiveCountingCompleted
        QTest::newRow("second engine, transmission check") << 1 << false;
        QTest::newRow("second engine, size gate") << 1 << true;
        QTest::newRow("own engine, transmission check") << 0 << false;
        QTest::newRow("own engine, size gate") << 0 << true;
    }
    void countingRoads()
    {
        QFETCH(int, engine);
        QFETCH(bool, gate);
        m_page->show();
        countPainted(paintDisks, engine);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive() && !m_page->workFilesPending(); }, 60000));
        checkEnded(CELLCOUNT_RESULT);
        const int live = m_page->liveNumber(), dead = m_page->deadNumber();
        QVERIFY(live + dead > 100);
        const QString total = form()->LABEL_TOTAL->text();
        ImReaderWriter counted;
        QVERIFY(counted.read(workFile("Temp_000000_TAG.tif").toUtf8()));
        QVERIFY(std::equal(counted.buffer8.get(), counted.buffer8.get() + counted.sampleCount, m_page->tagImage()));
        QVERIFY(QFile::remove(workFile("Temp_000000_TAG.tif")));
        QVERIFY(QFile::remove(workFile("Temp_000000.tif")));
        int captured = 0;
        connect(m_page.get(), &CellCountWidget::captured, this, [&captured](bool on) { captured += on; });
        m_completed = 0;

        if (gate)
            m_page->AfterSizeGating();
        else
            m_page->receiveCountingCompleted();

        const bool second = engine == 1;
        QCOMPARE(m_page->workFilesPending(), second);
        QVERIFY(!QFile::exists(workFile("Temp_000000_TAG.tif")));
        if (gate)
            m_page->hide();
        else
            QCoreApplication::processEvents();
        QVERIFY(!m_page->workFilesPending());
        QCOMPARE(m_completed, int(second));
        QCOMPARE(captured, int(second));
        QVERIFY(m_messages.isEmpty());
        checkEnded(CELLCOUNT_RESULT);
        QCOMPARE(m_page->liveNumber(), live);
        QCOMPARE(m_page->deadNumber(), dead);
        QCOMPARE(form()->LABEL_TOTAL->text(), total);
        QCOMPARE(m_page->model().thumbnails().size(), size_t(1));
        QCOMPARE(QFile::exists(workFile("Temp_000000_TAG.tif")), second);
        if (!second)
            return;
        ImReaderWriter tag, frame;
        QVERIFY(tag.read(workFile("Temp_000000_TAG.tif").toUtf8()));
        QVERIFY(frame.read(workFile("Temp_000000.tif").toUtf8()));
        QCOMPARE(int(tag.samplesPerPixel), 3);
        QVERIFY(std::equal(tag.buffer8.get(), tag.buffer8.get() + tag.sampleCount, m_page->tagImage()));
        QVERIFY(tag.buffer8[0] == m_frame[0] && tag.buffer8[1] == m_frame[0]); // grey where nothing is tagged
        QCOMPARE(int(frame.samplesPerPixel), gate ? 3 : 1);
        const size_t bytes = size_t(frame.sampleCount);
        const unsigned char *expected = gate ? tag.buffer8.get() : m_frame.data();
        QVERIFY(std::equal(expected, expected + bytes, frame.buffer8.get()));
    }

    // The viability shown is the share of live cells among all counted, to its first decimal.
    void viabilityShown_data() { engineRows(); }
    void viabilityShown()
    {
        QFETCH(int, engine);
        countPainted(paintMixedCells, engine);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive(); }, 60000));
        checkEnded(CELLCOUNT_RESULT);
        const int live = m_page->liveNumber(), dead = m_page->deadNumber();
        qInfo("%d live, %d dead", live, dead);
        QVERIFY(live > 0 && dead > 0);
        const QString shown = form()->LABEL_VIABILITY->text();
        QVERIFY2(shown.endsWith(" %"), qPrintable(shown));
        const double share = 100.0 * live / (live + dead);
        QVERIFY2(std::abs(shown.chopped(2).toDouble() - share) <= 0.051, qPrintable(QString("%1 for %2").arg(shown).arg(share)));
    }

    // A frame that arrives after a count, before its work files are written, changes neither
    // them nor the images the page holds of the count.
    void frameArrivingBeforeTheWrite_data() { engineRows(); }
    void frameArrivingBeforeTheWrite()
    {
        QFETCH(int, engine);
        m_page->show();
        std::vector<unsigned char> later(m_frame.size(), 3);
        connect(m_page.get(), &CellCountWidget::completed, this, [&] { m_page->captureCompleted(later.data(), 8); });
        countPainted(paintDisks, engine);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive() && !m_page->workFilesPending(); }, 60000));
        ImReaderWriter frame, tag;
        QVERIFY(frame.read(workFile("Temp_000000.tif").toUtf8()));
        QVERIFY(tag.read(workFile("Temp_000000_TAG.tif").toUtf8()));
        QVERIFY(std::equal(m_frame.begin(), m_frame.end(), frame.buffer8.get()));
        const ThumbnailInfo &held = m_page->model().thumbnails().front();
        QVERIFY(std::equal(m_frame.begin(), m_frame.end(), held.frameImage.constBits()));
        QVERIFY(std::equal(tag.buffer8.get(), tag.buffer8.get() + tag.sampleCount, held.image.constBits()));
        QCOMPARE(int(tag.buffer8[0]), int(m_frame[0])); // grey where nothing is tagged
    }

    // The protocol button takes the dialog's protocol; with the second engine the name stays,
    // as that engine reads its own file of the name at each count.
    void protocolButton_data() { engineRows(); }
    void protocolButton()
    {
        QFETCH(int, engine);
        QVERIFY(ProtocolFile::write(ProtocolFile::pathOf("HeLa"), [] {
            nimbo_protocol_t p;
            p.nDilutionFactor = 5;
            return p;
        }()));
        setConfig("Protocol Name", "Name", "HeLa");
        m_page->readSetting();
        form()->comboBox->setCurrentIndex(engine);
        form()->BUTTON_PROTOCOL->click();
        QCOMPARE(m_page->protocolName(), QString("HeLa"));
        QCOMPARE(form()->LABEL_PROTOCOL->text(), QString("HeLa"));
        if (engine == 1)
            QCOMPARE(m_page->secondEngineProtocol().name, QString("HeLa"));
        else
            QCOMPARE(m_page->model().protocol().nDilutionFactor, 5);
    }

    // A protocol value that its editor does not offer (huge, negative, not a number) reads as the
    // fall-back, with a word in the log, and the count goes on as with the fall-back.
    void hostileProtocolValuesCountWithTheFallBack_data()
    {
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("fallBack");
        const struct
        {
            int engine;
            const char *group, *key;
            int fallBack;
        } keys[] = {{0, "Post_Filtering", "min_size", 5}, {0, "Post_Filtering", "max_size", 60},
                    {0, "Dilution Factor", "Factor", 2},  {1, "Min Cell Size", "Size", 3},
                    {1, "Max Cell Size", "Size", 60},     {1, "Dilution Factor", "Factor", 2}};
        for (const auto &k : keys) {
            for (const char *value : {"2147483647", "-2147483648", "many", "1e10"})
                QTest::addRow("%s, %s %s=%s", k.engine ? "second engine" : "own engine", k.group, k.key, value) << k.engine << k.group << k.key << value << k.fallBack;
        }
    }

    void hostileProtocolValuesCountWithTheFallBack()
    {
        QFETCH(int, engine);
        QFETCH(QString, group);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(int, fallBack);
        const QString path = QString::fromStdString(engine == 0 ? ProtocolFile::pathOf("Hostile")
                                                                : ProtocolFile::secondEnginePathOf("Hostile"));
        m_root->writeFile(Paths::fixedPath(path), QString("[%1]\n%2=%3\n").arg(group, key, value).toUtf8());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(QString("[%1] %2=").arg(group, key))
                                                              + ".*the default " + QString::number(fallBack) + " is used"));
        setConfig("Protocol Name", "Name", "Hostile");
        m_page->readSetting();
        m_page->show();
        countPainted(paintDisks, engine);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive() && !m_page->workFilesPending(); }, 60000));
        checkEnded(CELLCOUNT_RESULT);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(m_page->liveNumber() + m_page->deadNumber() > 100);
        const int read = engine == 0 ? (key == "Factor" ? m_page->model().protocol().nDilutionFactor
                                        : key == "min_size" ? m_page->model().protocol().nMinCellSize
                                                            : m_page->model().protocol().nMaxCellSize)
                                     : (key == "Factor" ? m_page->secondEngineProtocol().nDilutionFactor
                                        : group == "Min Cell Size" ? m_page->secondEngineProtocol().nMinCellSize
                                                                   : m_page->secondEngineProtocol().nMaxCellSize);
        QCOMPARE(read, fallBack);
    }

    // The name in the configuration file is taken as it stands; one that cannot be used (edited by
    // hand) gives DEFAULT on the label and to both engines.
    void protocolNameTakenLiterally_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("plain") << "HeLa" << "HeLa";
        QTest::newRow("percent") << "run%1 %2" << "run%1 %2";
        QTest::newRow("not usable") << "a:b/c" << "DEFAULT";
        QTest::newRow("empty") << "" << "DEFAULT";
    }
    void protocolNameTakenLiterally()
    {
        QFETCH(QString, written);
        QFETCH(QString, loaded);
        setConfig("Protocol Name", "Name", qPrintable(written));
        m_page->readSetting();
        QCOMPARE(form()->LABEL_PROTOCOL->text(), loaded);
        QCOMPARE(m_page->protocolName(), loaded);
        QCOMPARE(m_page->model().protocol().name, loaded);
        countPainted(paintDisks, 1);
        QVERIFY(QTest::qWaitFor([this] { return !m_page->runActive(); }, 60000));
        QCOMPARE(m_page->secondEngineProtocol().name, loaded);
        QCOMPARE(QString::fromStdString(m_page->secondEngineProtocol().path), QString::fromStdString(ProtocolFile::secondEnginePathOf(loaded)));
        QVERIFY(QString::fromStdString(m_page->secondEngineProtocol().path).endsWith("Protocol_" + loaded + "_BF.ini"));
    }

    // Three auto-test counts: each starts from the event loop, at the same stack depth.
    void autoTestDepth()
    {
        form()->CHKBOX_AF->setChecked(false);
        form()->CHECK_AUTO_TEST->setChecked(true);
        QList<quintptr> depths;
        connect(m_page.get(), &CellCountWidget::completed, this, [&depths, this](std::vector<ThumbnailInfo> &) {
            int here = 0;
            depths << quintptr(&here);
            if (depths.size() == 3)
                form()->CHECK_AUTO_TEST->setChecked(false);
        });
        setLight(50);
        QTimer::singleShot(0, m_page.get(), &CellCountWidget::on_BUTTON_COUNT_clicked);
        QVERIFY(QTest::qWaitFor([&depths] { return depths.size() == 3; }, 60000));
        // A count nested in the previous one would sit tens of kilobytes deeper.
        QVERIFY(qAbs(qint64(depths[1]) - qint64(depths[0])) < 2048);
        QVERIFY(qAbs(qint64(depths[2]) - qint64(depths[0])) < 2048);
        QCOMPARE(m_page->model().thumbnails().size(), size_t(1));
    }

    // A work file that cannot be written is said when the page writes it after the count; the
    // count still ends with its results. Without its tagged image the image leaves the viewer's
    // list; without the counted frame it stays, shown from memory.
    void workFileRefused_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<int>("listed");
        QTest::newRow("tagged image") << "Temp_000000_TAG.tif" << 0;
        QTest::newRow("counted frame") << "Temp_000000.tif" << 1;
    }
    void workFileRefused()
    {
        QFETCH(QString, blocked);
        QFETCH(int, listed);
        form()->CHKBOX_AF->setChecked(false);
        connect(m_page.get(), &CellCountWidget::changedState, this, [this, blocked] {
            if (m_page->currentState() == CELLCOUNT_COUNTING)
                QDir().mkpath(CellCount::rawDataPath() + blocked);
        });
        int shown = -1;
        connect(m_page.get(), &CellCountWidget::completed, this,
                [&shown](std::vector<ThumbnailInfo> &images) { shown = int(images.size()); });
        count(50);
        QCOMPARE(m_page->currentState(), CELLCOUNT_RESULT);
        QTRY_COMPARE(m_messages, QStringList{CellCountWidget::kWriteFailedText});
        QCOMPARE(int(m_page->model().thumbnails().size()), listed);
        QCOMPARE(shown, listed);
    }

    // The count thread: finished and freed by its own signal, or waited for by the destructor
    // while it still runs (AddressSanitizer sees any write into freed buffers).
    void countThread()
    {
        m_page->startCountThread();
        QVERIFY(m_page->countThread());
        QVERIFY(QTest::qWaitFor([this] { return !m_page->countThread(); }, 60000));
        m_page->startCountThread();
        QVERIFY(m_page->countThread()->isRunning() || m_page->countThread()->isFinished());
        m_page.reset();
    }
};

QTEST_MAIN(TestCellCountPage)
#include "tst_cellcount_page.moc"
