#include "SetupDlgBench.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "HangBound.h"
#include "Paths.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kWarning = "If you change the camera mode, the data will be lost.";

// Touches the minute field as a finger does, which hands the clock fields to the user.
void touchClock(SetupDlgBench &bench, int year, int month, int day, int hour, int minute)
{
    bench.press("MINU_SPINBOX");
    bench.widget<QSpinBox>("YEAR_SPINBOX")->setValue(year);
    bench.widget<QSpinBox>("MONTH_SPINBOX")->setValue(month);
    bench.widget<QSpinBox>("DAY_SPINBOX")->setValue(day);
    bench.widget<QSpinBox>("HOUR_SPINBOX")->setValue(hour);
    bench.widget<QSpinBox>("MINU_SPINBOX")->setValue(minute);
}

QStringList clockCalls(const SetupDlgBench &bench)
{
    QStringList calls = bench.actions.calls();
    calls.removeAll("sync");
    return calls;
}

} // namespace

// The dialog's buttons: OK with its warning and clock, Cancel, the reject guard, factory reset,
// the clear buttons and the maintenance buttons.
class TestSetupDlgActions : public QObject
{
    Q_OBJECT
private slots:
    // How the dialog ends, by live view, previous screen, bit depth and answer to the warning.
    void okCancelAndEscape_data()
    {
        QTest::addColumn<bool>("live");
        QTest::addColumn<int>("previous");
        QTest::addColumn<QString>("press"); // a button, or "escape"
        QTest::addColumn<int>("warning");   // answer to the camera-mode warning, -1: none shown
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("mode");     // [Camera] Mode afterwards
        QTest::addColumn<QString>("previousMode");
        QTest::newRow("live ok") << true << int(MENU_MULTICOLOR) << "BUTTON_OK" << -1 << true << false << "16" << "16";
        QTest::newRow("off, z-stack") << false << int(MENU_ZSTACK) << "BUTTON_OK" << -1 << true << false << "8" << "16";
        QTest::newRow("off, warning ok") << false << int(MENU_MULTICOLOR) << "BUTTON_OK" << 1 << true << true << "8" << "16";
        QTest::newRow("off, warning cancel") << false << int(MENU_MULTICOLOR) << "BUTTON_OK" << 0 << false << false << "8"
                                             << "<missing>";
        QTest::newRow("cancel") << true << int(MENU_MULTICOLOR) << "BUTTON_CANCEL" << -1 << false << false << "8" << "<missing>";
        QTest::newRow("escape") << true << int(MENU_MULTICOLOR) << "escape" << -1 << false << false << "8" << "<missing>";
    }

    void okCancelAndEscape()
    {
        QFETCH(bool, live);
        QFETCH(int, previous);
        QFETCH(QString, press);
        QFETCH(int, warning);
        QFETCH(bool, saved);
        QFETCH(bool, changed);
        QFETCH(QString, mode);
        QFETCH(QString, previousMode);
        SetupDlgBench bench;
        setSetting("Camera", "Mode", "8");
        bench.open(live, TCurrentMenu(previous));
        QCOMPARE(bench.widget("RADIO_16BIT")->isEnabled(), live);
        bench.widget<QRadioButton>("RADIO_16BIT")->setChecked(true);
        const bool staysOpen = press == "escape" || warning == 0;
        DialogScripts::pushAct(
            [press](QDialog *shown) {
                if (press == "escape")
                    QTest::keyClick(shown, Qt::Key_Escape);
                else
                    DialogRunner::click(shown, press);
            },
            staysOpen ? 300 : 5000);
        auto answers = std::make_shared<QStringList>();
        if (warning >= 0)
            DialogScripts::pushAnswer(warning, answers);
        bench.dialog->exec();
        QCOMPARE(bench.dialog->isVisible(), staysOpen);
        QCOMPARE(bench.dialog->isEnabled(), !(saved));
        QCOMPARE(answers->size(), warning >= 0 ? 1 : 0);
        QVERIFY(answers->isEmpty() || answers->first().contains(kWarning));
        QCOMPARE(bench.dialog->isSaved(), saved);
        QCOMPARE(bench.dialog->isChangedCameraMode(), changed);
        QCOMPARE(rawSetting("Camera", "Mode"), mode);
        QCOMPARE(rawSetting("Camera", "PreviousMode"), previousMode);
        QCOMPARE(*bench.messages, QStringList());
        QVERIFY(!QApplication::overrideCursor());
        if (staysOpen) // Cancel still closes it
            bench.click("BUTTON_CANCEL");
        QVERIFY(!bench.dialog->isVisible());
    }

    // Emptied filter names come back as their defaults; blanks stay.
    void okFillsEmptyFilterNames()
    {
        SetupDlgBench bench;
        setSetting("Filter", "2", "mCherry");
        bench.open(true);
        bench.widget<QLineEdit>("EDIT_FILTER_POSITION_1")->setText(" ");
        bench.click("BUTTON_OK");
        const QStringList names = {rawSetting("Filter", "0"), rawSetting("Filter", "1"), rawSetting("Filter", "2"),
                                   rawSetting("Filter", "3")};
        QCOMPARE(names, QStringList({"Trans", " ", "mCherry", "DAPI"}));
    }

    // The clock is set only when the user touched it, with the recorded command lines, and the
    // date they carry is one that date(1) reads.
    void okSetsTheClockOnlyWhenTouched()
    {
        SetupDlgBench bench;
        bench.open(true);
        bench.dialog->updateCurrentDateTime("2026/12/25", "09:05");
        bench.click("BUTTON_OK");
        QCOMPARE(clockCalls(bench), QStringList());
        QCOMPARE(bench.actions.calls(), QStringList({"sync"}));

        bench.actions.clearCalls();
        bench.open(true);
        touchClock(bench, 2026, 12, 25, 9, 5);
        bench.dialog->updateCurrentDateTime("2027/01/01", "00:00"); // the ticker no longer moves them
        bench.click("BUTTON_OK");
        QCOMPARE(bench.actions.calls(), QStringList({"date --set=12/25/2026 9:5:00", "hwclock --systohc", "sync"}));
        QVERIFY(bench.dialog->isSaved());

        const auto commands = SetupDlg::clockCommands(2026, 12, 25, 9, 5);
        QProcess date;
        date.start("date", {"-d", commands[0].second[0].mid(QString("--set=").size()), "+%Y-%m-%d %H:%M:%S"});
        QVERIFY(date.waitForFinished(kHangBoundMs));
        QCOMPARE(QString::fromUtf8(date.readAllStandardOutput()).trimmed(), QString("2026-12-25 09:05:00"));
    }

    // 31 February is refused before anything is written; a clock that cannot be set is told after
    // the settings were written.
    void clockFailures()
    {
        SetupDlgBench bench;
        setSetting("Focus", "CoarseSpeed", "300");
        bench.open(true);
        bench.widget<QSpinBox>("SPINBOX_FOCUS_COARSE_SPEED")->setValue(400);
        touchClock(bench, 2026, 2, 31, 12, 0);
        const QByteArray before = configBytes();
        bench.click("BUTTON_OK");
        QCOMPARE(*bench.messages, QStringList({"MessageDlg:<p><b>Error!</b><br/><br/>The date is not valid.</p>"}));
        QCOMPARE(configBytes(), before);
        QVERIFY(bench.actions.calls().isEmpty());
        QVERIFY(!bench.dialog->isSaved());
        QVERIFY(bench.dialog->isEnabled());

        bench.messages->clear();
        bench.actions.setHandler([](const QString &action, const QStringList &) -> std::optional<ProcessResult> {
            if (action != "date")
                return std::nullopt;
            ProcessResult timedOut;
            timedOut.started = true;
            timedOut.timedOut = true;
            return timedOut;
        });
        bench.widget<QSpinBox>("DAY_SPINBOX")->setValue(28);
        bench.click("BUTTON_OK");
        QCOMPARE(*bench.messages, QStringList({"MessageDlg:<p><b>Error!</b><br/><br/>The system clock could not be set.</p>"}));
        QVERIFY(bench.dialog->isSaved());
        QCOMPARE(rawSetting("Focus", "CoarseSpeed"), QString("400"));
    }

    // A file that cannot be written is told by every button that writes it; after OK the dialog
    // stays open with nothing saved, and the hot-pixel correction does not open on old values.
    void writesReportAFileThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("asks"); // a question comes before the write
        QTest::newRow("OK") << "BUTTON_OK" << int(EXEC_NORMAL) << false;
        QTest::newRow("clear focus memories") << "BUTTON_CLEAR" << int(EXEC_QC_TEST) << true;
        QTest::newRow("clear parfocality") << "BUTTON_POS_CLEAR" << int(EXEC_QC_TEST) << true;
        QTest::newRow("hot-pixel correction") << "BUTTON_HOTPIXEL_CORRECTION" << int(EXEC_SERIAL_LOG) << false;
        QTest::newRow("QC factory reset") << "BUTTON_RESET_ALL" << int(EXEC_QC_TEST) << true;
    }
    void writesReportAFileThatCannotBeWritten()
    {
        QFETCH(QString, button);
        QFETCH(int, mode);
        QFETCH(bool, asks);
        SetupDlgBench bench{TExecMode(mode)};
        bench.open(true);
        QSignalSpy hotPixel(bench.dialog.get(), &SetupDlg::signalShowHotPixelCorrectionDlg);
        QVERIFY(QDir().mkpath(Paths::configFile())); // a folder where the file should be
        bench.click(button);
        QCOMPARE(bench.messages->filter("Error!"),
                 QStringList({"MessageDlg:<p><b>Error!</b><br/><br/>The settings could not be saved.</p>"}));
        QCOMPARE(bench.messages->size(), int(asks) + 1); // nothing else is shown
        QCOMPARE(hotPixel.size(), 0);
        QVERIFY(!bench.dialog->isSaved());
        QVERIFY(bench.dialog->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    // Factory reset then Cancel leaves the file byte for byte and the next opening shows it again;
    // reset then OK writes the reset-only keys, at that OK only; a reset abandoned with Cancel
    // reaches no later OK.
    void factoryReset()
    {
        SetupDlgBench bench(EXEC_SERIAL_LOG);
        setSetting("Filter", "1", "mCherry");
        setSetting("Setting_ZStack", "ImageNumber", "33");
        setSetting("Lens", "1", "60X");
        bench.open(true);
        const QByteArray before = configBytes();
        bench.click("BUTTON_RESET_ALL");
        QCOMPARE(bench.messages->size(), 1);
        QVERIFY(bench.messages->first().contains("This will restore the VANTOR S to its factory settings."));
        QCOMPARE(bench.shown("EDIT_FILTER_POSITION_1"), QString("GFP"));
        QCOMPARE(bench.shown("COMBO_LENS_POSITION_0"), QString("4X"));
        QCOMPARE(bench.shown("LABEL_SAVE_PATH"), QString("/VANTOR SSD/Quicksave/"));
        bench.click("BUTTON_CANCEL");
        QCOMPARE(configBytes(), before);
        bench.open(true);
        QCOMPARE(bench.shown("EDIT_FILTER_POSITION_1"), QString("mCherry"));
        bench.click("BUTTON_OK"); // the abandoned reset does not reach this OK
        QCOMPARE(rawSetting("Setting_ZStack", "ImageNumber"), QString("33"));

        bench.open(true);
        bench.click("BUTTON_RESET_ALL");
        bench.click("BUTTON_OK");
        QCOMPARE(rawSetting("Filter", "1"), QString("GFP"));
        QCOMPARE(rawSetting("Setting_ZStack", "ImageNumber"), QString("10"));
        QCOMPARE(rawSetting("ScaleBar", "ScaleBarPosition"), QString("2"));
        QCOMPARE(rawSetting("ScaleBar", "ScaleBarFont"), QString("24"));
        QCOMPARE(rawSetting("LicenseAgreement", "Accepted"), QString("<missing>"));

        setSetting("Setting_ZStack", "ImageNumber", "33");
        bench.open(true);
        bench.click("BUTTON_OK");
        QCOMPARE(rawSetting("Setting_ZStack", "ImageNumber"), QString("33"));
    }

    // In QC test mode the reset also clears the agreement and the focus memories at once, in one
    // write, whatever the dialog's outcome.
    void factoryResetInQcTestMode()
    {
        SetupDlgBench bench(EXEC_QC_TEST);
        setSetting("LicenseAgreement", "Accepted", "1");
        setSetting("FocusMemory", "3", "12345");
        bench.open(true);
        bench.actions.clearCalls();
        bench.click("BUTTON_RESET_ALL");
        bench.click("BUTTON_CANCEL");
        QCOMPARE(rawSetting("LicenseAgreement", "Accepted"), QString("0"));
        QCOMPARE(rawSetting("FocusMemory", "3"), QString("-1"));
        QCOMPARE(rawSetting("FocusMemoryDesc", "5"), QString("Position 5"));
        QCOMPARE(bench.actions.calls(), QStringList({"sync"}));
    }

    // The clear buttons ask first, then write their keys in one go; the focus page's Reset
    // writes nothing.
    void clearButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("focus memories") << "BUTTON_CLEAR" << 1 << "FocusMemoryDesc" << "2" << "Position 2";
        QTest::newRow("focus memories kept") << "BUTTON_CLEAR" << 0 << "FocusMemoryDesc" << "2" << "Mark";
        QTest::newRow("memory values") << "BUTTON_CLEAR" << 1 << "FocusMemory" << "4" << "-1";
        QTest::newRow("parfocality") << "BUTTON_POS_CLEAR" << 1 << "LensPos" << "5" << "0";
        QTest::newRow("parfocality kept") << "BUTTON_POS_CLEAR" << 0 << "LensPos" << "5" << "77";
    }

    void clearButtons()
    {
        QFETCH(QString, button);
        QFETCH(int, answer);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        SetupDlgBench bench(EXEC_QC_TEST);
        setSetting("FocusMemoryDesc", "2", "Mark");
        setSetting("FocusMemory", "4", "500");
        setSetting("LensPos", "5", "77");
        bench.open(true);
        bench.actions.clearCalls();
        DialogScripts::pushAnswer(answer);
        bench.click(button);
        QCOMPARE(rawSetting(section, key), value);
        QCOMPARE(bench.actions.calls(), answer ? QStringList({"sync"}) : QStringList());
    }

    void focusResetAndHotPixelButton()
    {
        SetupDlgBench bench(EXEC_SERIAL_LOG);
        setSetting("Focus", "Knob", "1");
        setSetting("Focus", "FineAFRange", "20");
        setSetting("Focus", "DOF_Factor", "2");
        bench.open(true);
        const QByteArray before = configBytes();
        bench.click("BUTTON_FOCUS_RESET");
        QCOMPARE(configBytes(), before);
        QCOMPARE(bench.shown("RADIO_KNOB_MODE_1") + bench.shown("COMBO_FOCUS_FINE_AF_RANGE") + bench.shown("SPINBOX_DOF_FACTOR"),
                 QString("152.00"));

        QSignalSpy request(bench.dialog.get(), &SetupDlg::signalShowHotPixelCorrectionDlg);
        bench.widget<QSpinBox>("SPINBOX_HOTPIXEL")->setValue(42);
        bench.click("BUTTON_HOTPIXEL_CORRECTION");
        QCOMPARE(request.size(), 1);
        QCOMPARE(rawSetting("Camera", "Threshold") + " " + rawSetting("Camera", "HotPixelEx"), QString("42 31"));
    }

    // The quick-save folder is chosen with the live view stopped, and kept only when chosen.
    void quickSaveFolder()
    {
        SetupDlgBench bench;
        bench.open(true);
        bench.widget<QCheckBox>("CHKBOX_AUTO_SAVE")->click();
        QVERIFY(bench.widget("BUTTON_SAVE_PATH")->isEnabled());
        QSignalSpy video(bench.dialog.get(), &SetupDlg::setVideoRunningState);
        g_PreviouslySavedPath = bench.root.makeDir("/media/USB1/Run 3");
        DialogScripts::pushAnswer(0);
        bench.click("BUTTON_SAVE_PATH");
        QCOMPARE(bench.shown("LABEL_SAVE_PATH"), QString("/VANTOR SSD/Quicksave/"));
        DialogScripts::pushAnswer(1);
        bench.click("BUTTON_SAVE_PATH");
        QCOMPARE(bench.shown("LABEL_SAVE_PATH"), QString("/USB1/Run 3/"));
        QCOMPARE(video.size(), 4);
        QCOMPARE(video[0][0].toBool(), false);
        QCOMPARE(video[1][0].toBool(), true);
        bench.click("BUTTON_OK");
        QCOMPARE(rawSetting("Setting_MultiColor", "AutosavePath"), QString("/media/USB1/Run 3/"));
        QCOMPARE(rawSetting("Setting_MultiColor", "Autosave"), QString("1"));
        g_PreviouslySavedPath.clear();
    }

    void maintenanceDialogs()
    {
        SetupDlgBench bench;
        bench.open(true);
        bench.click("BUTTON_ERROR_REPORT");
        bench.click("BUTTON_EULA");
        const QStringList log = DialogRunner::log();
        QCOMPARE(log.size(), 2);
        QVERIFY(log[0].startsWith("ErrorReportDlg") && log[1].startsWith("LicenseAgreementDlg"));
    }

    // A power cut during OK: a child writing two sets of settings in turn is killed at 20 random
    // moments; configparser then reads either the one set or the other, never a mix.
    void aKilledOkLeavesOldOrNewSettings()
    {
        SetupDlgBench bench;
        bench.open(true);
        auto fill = [&bench](const QString &tag, int number) {
            for (const char *name : {"EDIT_FILTER_POSITION_0", "EDIT_FILTER_POSITION_3", "EDIT_LENS_NAME_1", "EDIT_LENS_NAME_5"})
                bench.widget<QLineEdit>(name)->setText(tag + name);
            for (const char *name : {"SPINBOX_FOCUS_COARSE_SPEED", "SPINBOX_LENS_POS_SPEED", "SPINBOX_STAGE_FOCUS_SPEED"})
                bench.widget<QSpinBox>(name)->setValue(number);
        };
        fill("old", 200);
        bench.click("BUTTON_OK");
        auto signature = [] {
            const QJsonObject ini = parsedByConfigparser();
            return ini["Filter"].toObject()["0"].toString().left(3) + ini["Filter"].toObject()["3"].toString().left(3)
                   + ini["LensName"].toObject()["1"].toString().left(3) + ini["LensName"].toObject()["5"].toString().left(3)
                   + ini["Focus"].toObject()["CoarseSpeed"].toString() + ini["LensPos"].toObject()["Speed"].toString()
                   + ini["Setting_Misc"].toObject()["Stage_FOCUSSPEED"].toString();
        };
        const QStringList whole = {"oldoldoldold200200200", "newnewnewnew300300300"};
        QCOMPARE(signature(), whole[0]);

        std::mt19937 random(34);
        QSet<QString> seen;
        for (int round = 0; round < 20; ++round) {
            int written[2];
            QCOMPARE(::pipe(written), 0);
            const pid_t child = fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                ::close(written[0]);
                for (int i = 1;; ++i) {
                    fill(i % 2 ? "new" : "old", i % 2 ? 300 : 200);
                    bench.dialog->setEnabled(true);
                    DialogRunner::click(bench.dialog.get(), "BUTTON_OK");
                    if (i == 1 && ::write(written[1], "1", 1) != 1)
                        ::_exit(1);
                }
            }
            ::close(written[1]);
            char first = 0;
            const bool started = ::read(written[0], &first, 1) == 1; // the child is at its OKs
            ::close(written[0]);
            QThread::msleep(std::uniform_int_distribution<int>(0, 60)(random));
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(started);
            const QString found = signature();
            QVERIFY2(whole.contains(found), qPrintable(found));
            seen << found;
        }
        QVERIFY(seen.contains(whole[1])); // the child was killed while it was writing
    }
};

QTEST_MAIN(TestSetupDlgActions)
#include "tst_setupdlg_actions.moc"
