// The Time lapse page without the instrument: the plan and its start codes, the three periods, the
// space check, the series folder, the settings, the state table and the number-field editors.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "MessageCount.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"
#include "TimeLapse.h"
#include "TimeLapseWidget.h"
#include "Utilities.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

namespace {

template <class T>
T *child(QWidget *page, const char *name)
{
    T *w = page->findChild<T *>(name);
    if (!w)
        qFatal("no child %s", name);
    return w;
}

void setConfig(const char *section, const char *key, const char *value)
{
    WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
}

// The [Setting_Timelapse] section as Python's configparser reads the configuration file.
QJsonObject timeLapseSectionByPython()
{
    const char *script = "import configparser, json, sys\n"
                         "p = configparser.RawConfigParser()\n"
                         "p.optionxform = str\n"
                         "p.read(sys.argv[1], encoding='latin-1')\n"
                         "print(json.dumps(dict(p['Setting_Timelapse'])))\n";
    QProcess python;
    python.start(QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3", {"-c", script, Paths::configFile()});
    if (!python.waitForFinished(kHangBoundMs) || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// Answers the next on-screen keyboard with text (Enter).
void pushKeyboard(const QString &text)
{
    DialogScripts::pushAct([text](QDialog *keyboard) {
        keyboard->findChild<QLineEdit *>("EDIT_TEXT")->setText(text);
        DialogRunner::click(keyboard, "BUTTON_KEY_ENTER");
    });
}

quint64 g_freeMegabytes = 1000000;

} // namespace

class TestTimeLapse : public QObject
{
    Q_OBJECT

    // A page on the time-lapse screen with a sandbox holding the SSD volume.
    struct Page
    {
        TestRoot root;
        QString ssd = root.makeDir("/media/VANTOR SSD");
        std::unique_ptr<TimeLapseWidget> page;
        Page()
        {
            g_CurrentMenu = MENU_TIMELAPSE;
            page = std::make_unique<TimeLapseWidget>();
        }
        template <class T>
        T *w(const char *name) { return child<T>(page.get(), name); }
        // A plan as Run makes it, then the start check.
        bool check(int h, int m, int s, double interval, const QString &unit, int exposure)
        {
            w<QComboBox>("COMBOBOX_INTERVAL_TYPE")->setCurrentText(unit);
            page->changedExposure(exposure);
            const TTimeLapseIntervalType type = unit == "Minute" ? TIMELAPSE_INTERVAL_MINUTE
                                                : unit == "Second" ? TIMELAPSE_INTERVAL_SECOND
                                                                   : TIMELAPSE_INTERVAL_HOUR;
            page->plan().setTimelapseParameters(h, m, s, float(interval), type, exposure);
            if (unit != "Continuous" && page->plan().canRun(8, false) != 0)
                return false;
            return page->canStart();
        }
    };

private slots:
    void initTestCase()
    {
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *fragment, quint64 *blocks) {
            *fragment = 1000;
            *blocks = g_freeMegabytes * 1000;
            return true;
        });
    }
    void init()
    {
        DialogRunner::clearScripts();
        g_CurrentMenu = MENU_TIMELAPSE;
        g_ExecMode = EXEC_NORMAL;
        g_freeMegabytes = 1000000;
    }

    void planCodes_data()
    {
        QTest::addColumn<int>("seconds"); // total time
        QTest::addColumn<double>("interval");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("exposure");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("total");
        QTest::newRow("nothing to take") << 0 << 5.0 << 2 << 10 << false << 5 << 1;
        QTest::newRow("30 s by minutes") << 30 << 1.0 << 1 << 10 << false << 5 << 1;
        QTest::newRow("60 s by minutes") << 60 << 1.0 << 1 << 10 << false << 0 << 2;
        QTest::newRow("10,000 frames") << 9999 << 1.0 << 2 << 10 << false << 0 << 10000;
        QTest::newRow("10,001 frames") << 10000 << 1.0 << 2 << 10 << false << 7 << 10001;
        QTest::newRow("1 s, 100 ms") << 60 << 1.0 << 2 << 100 << false << 0 << 61;
        QTest::newRow("1 s, 100 ms, pseudo colour") << 60 << 1.0 << 2 << 100 << true << 3 << 0;
        QTest::newRow("exactly 1 s") << 10 << 1.0 << 2 << 10 << false << 0 << 11;
        QTest::newRow("below 1 s") << 10 << 0.5 << 2 << 10 << false << 1 << 0;
        QTest::newRow("zero") << 10 << 0.0 << 0 << 10 << false << 1 << 0;
        QTest::newRow("an hour of 2 h") << 7200 << 1.0 << 0 << 10 << false << 0 << 3;
        QTest::newRow("4 s by 1 s") << 4 << 1.0 << 2 << 100 << false << 0 << 5;
        // A still takes up to two exposures and the read-out.
        QTest::newRow("5 s exposure, 10 s") << 100 << 10.0 << 2 << 5000 << false << 3 << 0;
        QTest::newRow("5 s exposure, 11 s") << 110 << 11.0 << 2 << 5000 << false << 0 << 11;
        QTest::newRow("3 s exposure, 7 s") << 14 << 7.0 << 2 << 3000 << false << 0 << 3;
        QTest::newRow("3 s exposure, 6 s") << 14 << 6.0 << 2 << 3000 << false << 3 << 0;
    }
    void planCodes()
    {
        QFETCH(int, seconds);
        QFETCH(double, interval);
        QFETCH(int, type);
        QFETCH(int, exposure);
        QFETCH(bool, pseudo);
        QFETCH(int, code);
        QFETCH(int, total);
        TimeLapse plan;
        ThumbnailInfo old;
        old.path = "old";
        plan.pushThumbnail(old);
        plan.setTimelapseParameters(seconds / 3600, seconds / 60 % 60, seconds % 60, float(interval),
                                    TTimeLapseIntervalType(type), exposure);
        QCOMPARE(plan.totalTime(), seconds);
        QCOMPARE(plan.canRun(16, pseudo), code);
        QCOMPARE(plan.totalCount(), total);
        QCOMPARE(plan.count(), 0);
        // Only an accepted plan forgets the previous series.
        QCOMPARE(plan.thumbnails().size(), size_t(code == 0 ? 0 : 1));
    }

    void rawDataFolderIsEmptied()
    {
        TestRoot root;
        root.writeFile("/media/VANTOR SSD/.TimeLapse/frame_0001.tif", "x");
        TimeLapse plan;
        QCOMPARE(plan.deleteRawData(), 1);
        QVERIFY(QDir(Paths::path("/media/VANTOR SSD/.TimeLapse")).isEmpty());
    }

    void startCodes_data()
    {
        QTest::addColumn<QString>("path"); // below the sandbox, "" for none
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("interval");
        QTest::addColumn<int>("total"); // seconds
        QTest::addColumn<int>("exposure");
        QTest::addColumn<bool>("correction");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("lightDelay");
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<int>>("periods"); // capture, light, correction
        const QString ssd = "/media/VANTOR SSD/Data";
        QTest::newRow("no folder") << "" << "Second" << 10.0 << 60 << 100 << false << 5 << 200 << 9 << QList<int>();
        QTest::newRow("pulled drive") << "/media/USB9/Data" << "Second" << 10.0 << 60 << 100 << false << 5 << 200 << 8
                                      << QList<int>();
        QTest::newRow("volume root") << "/media/VANTOR SSD" << "Second" << 10.0 << 60 << 100 << false << 5 << 200 << 0
                                     << QList<int>{10000, 9700, 9700 - (1100 * 11 + 2000)};
        QTest::newRow("correction, 59 s") << ssd << "Second" << 59.0 << 600 << 100 << true << 5 << 200 << 2 << QList<int>();
        QTest::newRow("correction, 1 min, range 5") << ssd << "Minute" << 1.0 << 600 << 100 << true << 5 << 200 << 0
                                                    << QList<int>{60000, 59700, 45600};
        QTest::newRow("correction, 1 min, range 20") << ssd << "Minute" << 1.0 << 600 << 100 << true << 20 << 200 << 0
                                                     << QList<int>{60000, 59700, 12600};
        QTest::newRow("correction, 1 s exposure") << ssd << "Minute" << 1.0 << 600 << 1000 << true << 20 << 200 << 3
                                                  << QList<int>();
        QTest::newRow("light delay past the interval") << ssd << "Second" << 5.0 << 60 << 100 << false << 5 << 5000 << 3
                                                       << QList<int>();
        QTest::newRow("continuous, 10 ms, 6 min") << ssd << "Continuous" << 1.0 << 360 << 10 << false << 5 << 200 << 0
                                                  << QList<int>();
        QTest::newRow("continuous, 10 ms, 6 min 1 s") << ssd << "Continuous" << 1.0 << 361 << 10 << false << 5 << 200
                                                      << 10 << QList<int>();
    }
    void startCodes()
    {
        QFETCH(QString, path);
        QFETCH(QString, unit);
        QFETCH(double, interval);
        QFETCH(int, total);
        QFETCH(int, exposure);
        QFETCH(bool, correction);
        QFETCH(int, range);
        QFETCH(int, lightDelay);
        QFETCH(int, code);
        QFETCH(QList<int>, periods);
        Page p;
        p.root.makeDir("/media/VANTOR SSD/Data");
        p.page->setSaveTarget(path.isEmpty() ? QString() : Paths::path(path), "Cells", "tif");
        p.w<QComboBox>("COMBO_FOCUS_DRIFT")->setCurrentText(correction ? "On" : "Off");
        p.w<QComboBox>("COMBO_ZSCAN_RANGE")->setCurrentText(QString::number(range));
        p.w<QSpinBox>("SPINBOX_LIGHT_DELAY")->setValue(lightDelay);
        QCOMPARE(p.check(total / 3600, total / 60 % 60, total % 60, interval, unit, exposure), code == 0);
        if (code != 0)
            QCOMPARE(p.page->startCode(), code);
        if (code == 10)
            QCOMPARE(p.page->startCodeMessage(10),
                     QString("<p><b>Error!</b><br/><br/>Total time cannot exceed 00:06:00.<br/>Adjust the total time.</p>"));
        if (!periods.isEmpty())
            QCOMPARE((QList<int>{p.page->capturePeriod(), p.page->lightPeriod(), p.page->correctionPeriod()}), periods);
    }

    // A refused plan names the shortest interval that works, in whole units of the field: that
    // interval passes the start check and one unit less is refused.
    void refusalNamesTheShortestInterval_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("interval");
        QTest::addColumn<int>("exposure");
        QTest::addColumn<bool>("correction");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("lightDelay");
        QTest::addColumn<int>("shortest"); // in the unit
        QTest::addColumn<QString>("text");
        // Two frame periods of the sensor (exposure and read-out) and the saving.
        QTest::newRow("3 s exposure") << "Second" << 6.0 << 3000 << false << 5 << 200 << 7 << "7 seconds";
        QTest::newRow("15 s exposure") << "Second" << 20.0 << 15000 << false << 5 << 200 << 31 << "31 seconds";
        QTest::newRow("light delay past the interval") << "Second" << 5.0 << 100 << false << 5 << 5000 << 6 << "6 seconds";
        // The frame before, the autofocus's share and the light's lead, one after the other.
        QTest::newRow("correction, 1 s, range 20") << "Minute" << 1.0 << 1000 << true << 20 << 200 << 2 << "2 minutes";
        // 16,542 + 9,000 x 11 + 2,000 + 8,200 ms: a little over 2 minutes, less without either end.
        QTest::newRow("correction, 8 s, range 5") << "Minute" << 2.0 << 8000 << true << 5 << 200 << 3 << "3 minutes";
    }
    void refusalNamesTheShortestInterval()
    {
        QFETCH(QString, unit);
        QFETCH(double, interval);
        QFETCH(int, exposure);
        QFETCH(bool, correction);
        QFETCH(int, range);
        QFETCH(int, lightDelay);
        QFETCH(int, shortest);
        QFETCH(QString, text);
        Page p;
        p.page->setSaveTarget(p.ssd, "Cells", "tif");
        p.w<QComboBox>("COMBO_FOCUS_DRIFT")->setCurrentText(correction ? "On" : "Off");
        p.w<QComboBox>("COMBO_ZSCAN_RANGE")->setCurrentText(QString::number(range));
        p.w<QSpinBox>("SPINBOX_LIGHT_DELAY")->setValue(lightDelay);
        p.w<QComboBox>("COMBOBOX_INTERVAL_TYPE")->setCurrentText(unit);
        p.w<QSpinBox>("SPINBOX_HOUR")->setValue(1);
        p.page->changedExposure(exposure);
        // The check as Run makes it, from the form.
        const auto check = [&p](double value) {
            p.w<QDoubleSpinBox>("SPINBOX_INTERVAL")->setValue(value);
            p.page->slotCalculrateParameter();
            return p.page->startCode();
        };
        QCOMPARE(check(interval), 3);
        const QString message = p.page->startCodeMessage(3);
        QVERIFY2(message.endsWith("<br/><br/>The shortest interval that works is " + text + ".</p>"), qPrintable(message));
        QCOMPARE(check(shortest), 0);
        QCOMPARE(check(shortest - 1), 3);
    }

    void longestContinuousTime_data()
    {
        QTest::addColumn<int>("exposure");
        QTest::addColumn<QString>("limit");
        QTest::newRow("10 ms") << 10 << "00:06:00";
        QTest::newRow("100 ms") << 100 << "00:08:00";
        QTest::newRow("1,000 ms") << 1000 << "00:52:00";
    }
    void longestContinuousTime()
    {
        QFETCH(int, exposure);
        QFETCH(QString, limit);
        Page p;
        p.page->setSaveTarget(p.ssd, "Rec", "tif");
        QVERIFY(!p.check(99, 0, 0, 1.0, "Continuous", exposure));
        QCOMPARE(p.page->longestTotalTime(), limit);
    }

    // Frame bytes plus 4 KiB a file, in megabytes of 1,000,000 bytes rounded up.
    void spaceForTheFramesStillToTake_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("needed");
        QTest::newRow("1,000 of 16 bits") << 16 << 1000 << 2626; // 2,625,536,000 bytes
        QTest::newRow("999 of 8 bits") << 8 << 999 << 1314;      // 1,313,501,184 bytes
        QTest::newRow("none") << 8 << 0 << 0;
    }
    void spaceForTheFramesStillToTake()
    {
        QFETCH(int, depth);
        QFETCH(int, frames);
        QFETCH(int, needed);
        Page p;
        setConfig("Camera", "Mode", depth == 16 ? "16" : "8");
        p.page->readSetting();
        QCOMPARE(p.page->bitDepth(), depth);
        g_freeMegabytes = quint64(needed);
        QVERIFY(p.page->checkFreeDiskSpace(p.ssd, false, frames));
        if (needed > 0) {
            g_freeMegabytes = quint64(needed - 1);
            QVERIFY(!p.page->checkFreeDiskSpace(p.ssd, false, frames));
            QCOMPARE(p.page->startCode(), 4);
        }
        QCOMPARE(TimeLapseWidget::bytesPerImage(16, true), 1280ull * 1024 * 6 + 4096);
    }

    void seriesFolderGetsTheFirstFreeName()
    {
        Page p;
        p.root.makeDir("/media/VANTOR SSD/Cells");
        p.root.makeDir("/media/VANTOR SSD/Cells(1)");
        QString name = "Cells";
        QVERIFY(p.page->createFolder(p.ssd, name));
        QCOMPARE(name, QString("Cells(2)"));
        QVERIFY(QFileInfo(p.ssd + "/Cells(2)").isDir());
        name = "run %2 %1";
        QVERIFY(p.page->createFolder(p.ssd, name));
        QCOMPARE(name, QString("run %2 %1"));
        name = "x";
        QVERIFY(!p.page->createFolder(p.ssd + "/missing", name));
    }

    void timeTextCountsHoursPastADay_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "00:00:00";
        QTest::newRow("90") << 90 << "00:01:30";
        QTest::newRow("a day less a second") << 86399 << "23:59:59";
        QTest::newRow("25 h") << 90000 << "25:00:00";
        QTest::newRow("999 h") << 999 * 3600 + 59 * 60 + 59 << "999:59:59";
    }
    void timeTextCountsHoursPastADay()
    {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(TimeLapseWidget::timeText(seconds), text);
    }

    void settingsRoundTrip()
    {
        Page p;
        setConfig("Setting_Timelapse", "Correction", "1");
        setConfig("Setting_Timelapse", "CorrectionFreq", "7");
        setConfig("Setting_Timelapse", "ScanRange", "20");
        p.page->readSetting();
        QCOMPARE(p.w<QComboBox>("COMBO_FOCUS_DRIFT")->currentText(), QString("On"));
        QCOMPARE(p.w<QSpinBox>("SPINBOX_AF_INTERVAL")->value(), 7);
        QCOMPARE(p.w<QComboBox>("COMBO_ZSCAN_RANGE")->currentText(), QString("20"));
        p.page->writeSetting();
        QCOMPARE(timeLapseSectionByPython(),
                 QJsonObject({{"Correction", "1"}, {"CorrectionFreq", "7"}, {"ScanRange", "20"}}));

        setConfig("Setting_Timelapse", "Correction", "on"); // not a number: off
        setConfig("Setting_Timelapse", "CorrectionFreq", "x");
        p.page->readSetting();
        QCOMPARE(p.w<QComboBox>("COMBO_FOCUS_DRIFT")->currentText(), QString("Off"));
        QCOMPARE(p.w<QSpinBox>("SPINBOX_AF_INTERVAL")->value(), 1);
        p.w<QComboBox>("COMBO_ZSCAN_RANGE")->setCurrentText("10");
        p.page->writeSetting();
        QCOMPARE(timeLapseSectionByPython(),
                 QJsonObject({{"Correction", "0"}, {"CorrectionFreq", "1"}, {"ScanRange", "10"}}));
    }

    void exposureFollowsTheFilterRow_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<int>("exposure");
        QTest::newRow("7") << "7" << 80;
        QTest::newRow("10") << "10" << 150;
        QTest::newRow("55") << "55" << 15000;
        QTest::newRow("past the table") << "99" << 80; // no such row: the default 7
        QTest::newRow("negative") << "-3" << 80;
    }
    void exposureFollowsTheFilterRow()
    {
        QFETCH(QString, row);
        QFETCH(int, exposure);
        Page p;
        setConfig("Filter_2", "Exposure", row.toLatin1());
        p.page->setCurrentFilterPosition(2);
        QCOMPARE(p.page->exposure(), exposure);
        p.page->changedExposure(300);
        QCOMPARE(p.page->exposure(), 300);
        g_CurrentMenu = MENU_ZSTACK;
        p.page->changedExposure(40); // another screen's exposure
        QCOMPARE(p.page->exposure(), 300);
    }

    // The form at construction: what only QC test mode offers, the plus-minus sign, the items.
    void formAtConstruction_data()
    {
        QTest::addColumn<bool>("qc");
        QTest::newRow("normal") << false;
        QTest::newRow("QC test") << true;
    }
    void formAtConstruction()
    {
        QFETCH(bool, qc);
        g_ExecMode = qc ? EXEC_QC_TEST : EXEC_NORMAL;
        Page p;
        p.page->show();
        QCOMPARE(p.w<QSpinBox>("SPINBOX_LIGHT_DELAY")->isVisible(), qc);
        QCOMPARE(p.w<QLabel>("LABEL_LIGHT_DELAY")->isVisible(), qc);
        auto *interval = p.w<QDoubleSpinBox>("SPINBOX_INTERVAL");
        QCOMPARE(interval->decimals(), qc ? 1 : 0);
        QCOMPARE(interval->value(), 1.0);
        QCOMPARE(p.w<QLabel>("LABEL_PLUS_MINUS")->text(), QString::fromUtf8("\xC2\xB1"));
        auto *types = p.w<QComboBox>("COMBOBOX_INTERVAL_TYPE");
        QCOMPARE(types->count(), 4);
        QCOMPARE(types->itemText(0) + types->itemText(3), QString("SecondContinuous"));
        QCOMPARE(p.w<QComboBox>("COMBO_FOCUS_DRIFT")->currentText(), QString("Off"));
        QVERIFY(!p.w<QSpinBox>("SPINBOX_AF_INTERVAL")->isEnabled());
        for (const char *hidden : {"BUTTON_SAVE_AFTER", "BUTTON_SAVE_BEFORE", "LABEL_IMAGES", "BUTTON_START_RECORD"})
            QVERIFY2(!p.w<QWidget>(hidden)->isVisible(), hidden);
        g_ExecMode = EXEC_NORMAL;
    }

    // The light timer's line belongs to the serial log: no line in a normal start.
    void lightLineOnlyInTheSerialLog_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("lines");
        QTest::newRow("normal") << int(EXEC_NORMAL) << 0;
        QTest::newRow("serial log") << int(EXEC_SERIAL_LOG) << 1;
        QTest::newRow("QC test") << int(EXEC_QC_TEST) << 1;
    }
    void lightLineOnlyInTheSerialLog()
    {
        QFETCH(int, mode);
        QFETCH(int, lines);
        Page p;
        g_ExecMode = TExecMode(mode);
        MessageCount light("Light On time =");
        QVERIFY(QMetaObject::invokeMethod(p.page.get(), "enableLightON"));
        QCOMPARE(light.count(), lines);
    }

    // What each state shows; P is the paused flag.
    void stateTable_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("paused");
        // live shown/enabled, run shown/enabled, pause shown, stop enabled, progress shown,
        // spin boxes enabled, save-path enabled, mode buttons enabled, save-image enabled
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0 << false << "11 10 0 0 0 1 1 1 0";
        QTest::newRow("0 paused") << 0 << true << "11 10 0 1 0 0 0 1 0";
        QTest::newRow("1") << 1 << false << "10 11 0 0 0 1 1 1 0";
        QTest::newRow("1 paused") << 1 << true << "10 11 0 1 1 0 0 1 0";
        QTest::newRow("2") << 2 << false << "11 10 0 0 0 0 1 1 1";
        QTest::newRow("2 paused") << 2 << true << "11 11 0 1 0 0 0 1 1";
        QTest::newRow("3") << 3 << false << "10 0- 1 1 1 - 0 0 0";
    }
    void stateTable()
    {
        QFETCH(int, state);
        QFETCH(bool, paused);
        QFETCH(QString, expected);
        Page p;
        p.page->show();
        if (paused) { // a paused series: the page's Pause with nothing running
            p.page->setCurrentState(TIMELAPSE_ACQUIRING);
            QMetaObject::invokeMethod(p.page.get(), "on_BUTTON_TIMELAPSE_PAUSE_clicked");
            QVERIFY(p.page->isPaused());
        }
        p.page->setUIControlEnabled(true);
        QSignalSpy changed(p.page.get(), &TimeLapseWidget::changedState);
        p.page->setCurrentState(TTimeLapseState(state));
        QCOMPARE(changed.count(), 1);
        const auto bit = [](QWidget *w, bool enabledToo) {
            return QString(w->isVisible() ? "1" : "0") + (enabledToo ? (w->isVisible() ? (w->isEnabled() ? "1" : "0") : "-") : "");
        };
        const auto on = [](QWidget *w) { return QString(w->isEnabled() ? "1" : "0"); };
        QStringList got{bit(p.w<QWidget>("BUTTON_TIMELAPSE_LIVE"), true),
                        bit(p.w<QWidget>("BUTTON_TIMELAPSE_RUN"), true),
                        bit(p.w<QWidget>("BUTTON_TIMELAPSE_PAUSE"), false),
                        on(p.w<QWidget>("BUTTON_TIMELAPSE_STOP")),
                        bit(p.w<QWidget>("PROGRESSBAR_COUNT"), false),
                        state == 3 ? "-" : on(p.w<QWidget>("SPINBOX_HOUR")),
                        on(p.w<QWidget>("BUTTON_SAVE_PATH")),
                        on(p.w<QWidget>("BUTTON_MODE2")),
                        on(p.w<QWidget>("BUTTON_SAVE_IMAGE"))};
        QCOMPARE(got.join(' '), expected);
        // Annotation switches only while a series is shown.
        QCOMPARE(p.w<QPushButton>("CHKBOX_TIMESTAMP")->isCheckable(), state == 2);
    }

    // Interval type and correction switch which fields can be edited.
    void fieldsFollowTheChoices()
    {
        Page p;
        auto *types = p.w<QComboBox>("COMBOBOX_INTERVAL_TYPE");
        auto *drift = p.w<QComboBox>("COMBO_FOCUS_DRIFT");
        drift->setCurrentText("On");
        QVERIFY(p.w<QSpinBox>("SPINBOX_AF_INTERVAL")->isEnabled());
        QVERIFY(p.w<QComboBox>("COMBO_ZSCAN_RANGE")->isEnabled());
        types->setCurrentIndex(3);
        QVERIFY(!p.w<QDoubleSpinBox>("SPINBOX_INTERVAL")->isEnabled());
        QVERIFY(!drift->isEnabled());
        QVERIFY(!p.w<QSpinBox>("SPINBOX_AF_INTERVAL")->isEnabled());
        types->setCurrentIndex(1);
        QVERIFY(p.w<QDoubleSpinBox>("SPINBOX_INTERVAL")->isEnabled());
        QVERIFY(drift->isEnabled());
        drift->setCurrentText("Off");
        QVERIFY(!p.w<QComboBox>("COMBO_ZSCAN_RANGE")->isEnabled());
    }

    // A press on a field's line edit opens the keyboard; refused entries change nothing.
    void numberFieldEditors_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("refused");
        QTest::newRow("frequency 5") << "SPINBOX_AF_INTERVAL" << "5" << 5 << false;
        QTest::newRow("frequency 0") << "SPINBOX_AF_INTERVAL" << "0" << 1 << true;
        QTest::newRow("minute 75") << "SPINBOX_MINUTE" << "75" << 59 << false;
        QTest::newRow("hour 0") << "SPINBOX_HOUR" << " 0 " << 0 << false;
        QTest::newRow("hour -1") << "SPINBOX_HOUR" << "-1" << 0 << true;
        QTest::newRow("second letters") << "SPINBOX_SECOND" << "1a" << 0 << true;
        QTest::newRow("interval 30") << "SPINBOX_INTERVAL" << "30" << 30 << false;
        QTest::newRow("interval 2.5") << "SPINBOX_INTERVAL" << "2.5" << 1 << true;
    }
    void numberFieldEditors()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(int, value);
        QFETCH(bool, refused);
        Page p;
        p.page->show();
        p.w<QComboBox>("COMBO_FOCUS_DRIFT")->setCurrentText("On");
        auto *box = p.w<QAbstractSpinBox>(qPrintable(field));
        pushKeyboard(typed);
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        QTest::mouseClick(box->findChild<QLineEdit *>(), Qt::LeftButton);
        QCOMPARE(int(box->text().toDouble()), value);
        QCOMPARE(messages->size(), refused ? 1 : 0);
        if (refused)
            QCOMPARE(messages->first(), MessageDlg::presetText(MSG_NUMERALS_ONLY));
        DialogRunner::clearScripts();

        // On another screen the press is the spin box's own.
        g_CurrentMenu = MENU_ZSTACK;
        DialogRunner::clearLog();
        QTest::mouseClick(box->findChild<QLineEdit *>(), Qt::LeftButton);
        QVERIFY(DialogRunner::log().isEmpty());
    }

    // Frame i of a 30 s series: its file, its time stamp and the labels; a depth that is neither
    // 8 nor 16 bits is a failed save that ends the series, never an empty file.
    void framesAreNamedStampedAndCounted()
    {
        Page p;
        p.root.makeDir("/media/VANTOR SSD/Cells");
        p.page->setSaveTarget(p.ssd, "Cells", "tif");
        p.page->plan().setTimelapseParameters(10, 0, 0, 30.0f, TIMELAPSE_INTERVAL_SECOND, 10); // 1,201 frames
        QCOMPARE(p.page->plan().canRun(8, false), 0);
        QByteArray frame(1280 * 1024, char(200));
        for (int i = 0; i < 4; ++i)
            p.page->captureCompleted(reinterpret_cast<uchar *>(frame.data()), 8);
        const QString file = p.ssd + "/Cells/Cells_0003.tif";
        QCOMPARE(p.page->plan().thumbnails().back().path, file);
        QString meta;
        QVERIFY(getImageMetaInfo(file.toStdString(), meta));
        QVERIFY2(meta.endsWith(";Time: 00:01:30"), qPrintable(meta));
        QCOMPARE(meta.count(';'), 9);
        QCOMPARE(p.w<QLabel>("LABEL_CURRENT_LAPSE")->text(), QString("00:01:30 / 10:00:00")); // as the file says
        QCOMPARE(p.w<QLabel>("LABEL_IMAGES")->text(), QString("4/1,201"));
        QCOMPARE(p.w<QProgressBar>("PROGRESSBAR_COUNT")->value(), 4);
        QCOMPARE(p.page->plan().thumbnails().back().thumbnail.toImage().pixelColor(40, 30), QColor(200, 200, 200));
        QCOMPARE(p.page->frameImage().pixelIndex(640, 512), 200);

        // A 16-bit frame is written whole from the page's copy; its top bytes are the 8-bit picture.
        QByteArray words(2 * 1280 * 1024, char(0x50));
        for (int k = 0; k < words.size(); k += 2)
            words[k] = char(0x9C);
        p.page->captureCompleted(reinterpret_cast<uchar *>(words.data()), 16);
        ImReaderWriter saved;
        QVERIFY(saved.read(QFile::encodeName(p.ssd + "/Cells/Cells_0004.tif")));
        QCOMPARE(saved.bitsPerSample, quint16(16));
        QCOMPARE(p.page->frameImage().pixelIndex(1279, 1023), 0x9C);

        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        p.page->captureCompleted(reinterpret_cast<uchar *>(frame.data()), 12);
        QCOMPARE(*messages, QStringList{"<p><b>Save failed.</b></p>"});
        QVERIFY(!QFileInfo::exists(p.ssd + "/Cells/Cells_0005.tif"));
        QCOMPARE(p.page->plan().thumbnails().size(), size_t(5));
        QCOMPARE(p.page->currentState(), TIMELAPSE_SHOWN);

        // Another screen's frame is not the series'.
        g_CurrentMenu = MENU_FINE_AF;
        p.page->captureCompleted(reinterpret_cast<uchar *>(frame.data()), 8);
        QCOMPARE(p.page->plan().count(), 6);
    }

    // The save dialog's choice becomes the target; the label shows it without "/media".
    void saveFolderChoice()
    {
        Page p;
        p.root.makeDir("/media/VANTOR SSD/exp");
        g_PreviouslySavedPath = Paths::path("/media/VANTOR SSD/exp");
        QSignalSpy video(p.page.get(), &TimeLapseWidget::setVideoRunningState);
        DialogScripts::pushAct([](QDialog *dialog) {
            dialog->findChild<QLineEdit *>("EDIT_FILENAME")->setText("run1");
            DialogRunner::click(dialog, "BUTTON_APPLY");
        });
        QMetaObject::invokeMethod(p.page.get(), "on_BUTTON_SAVE_PATH_clicked");
        QCOMPARE(p.w<QLabel>("LABEL_SAVE_PATH")->text(), QString("/VANTOR SSD/exp/run1"));
        QCOMPARE(p.page->savePath(), Paths::path("/media/VANTOR SSD/exp"));
        QCOMPARE(p.page->seriesName(), QString("run1"));
        QCOMPARE(video.count(), 2); // stopped for the dialog and started again
        QCOMPARE(video[0][0].toBool(), false);

        // Cancel keeps the choice; a shown series keeps the video as it is.
        p.page->setCurrentState(TIMELAPSE_SHOWN);
        video.clear();
        DialogScripts::pushClick("BUTTON_CANCEL");
        QMetaObject::invokeMethod(p.page.get(), "on_BUTTON_SAVE_PATH_clicked");
        QCOMPARE(p.page->seriesName(), QString("run1"));
        QCOMPARE(video.count(), 0);
    }
};

QTEST_MAIN(TestTimeLapse)
#include "tst_timelapse.moc"
