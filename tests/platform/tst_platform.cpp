#include "DialogRunner.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "ProcessRunner.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QDialog>
#include <QPushButton>
#include <QtTest>

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void pathsArePrefixedWithTheRoot()
    {
        QVERIFY(!Paths::root().isEmpty() && Paths::root() != "/"); // the test runner's root
        TestRoot root;
        QCOMPARE(Paths::configFile(), root.path() + "/root/Microscope/NIMBO/NIMBO.ini");
        QCOMPARE(Paths::fixedPath(Paths::ssd() + "/a.tif"), QString("/media/VANTOR SSD/a.tif"));
        QCOMPARE(Paths::fixedPath("/elsewhere/a.tif"), QString("/elsewhere/a.tif"));
        QVERIFY(!Paths::isInstrument());
    }

    // The simulated actions record and never leave in tests; a handler answers for a program.
    void simulatedActionsRecordAndNeverLeave()
    {
        SimulatedSystemActions actions;
        QList<int> exits;
        actions.setExitHook([&](int code) { exits << code; });
        actions.powerOff();
        actions.reboot();
        actions.exitProcess(1);
        QCOMPARE(actions.calls(), QStringList({"shutdown -h now", "reboot", "exit 1"}));
        QCOMPARE(exits, QList<int>({0, 0, 1}));

        actions.setHandler([](const QString &action, const QStringList &) -> std::optional<ProcessResult> {
            if (action != "umount")
                return std::nullopt;
            ProcessResult busy;
            busy.started = true;
            busy.exitCode = 16;
            busy.errors = "Device or resource busy";
            return busy;
        });
        QString error;
        QVERIFY(actions.mount("/dev/sdb1", "/media/USB", "vfat", "", &error));
        QVERIFY(!actions.unmount("/media/USB", &error));
        QCOMPARE(error, QString("Device or resource busy"));
    }

    void processesRunFromArgumentListsWithTimeOuts()
    {
        ProcessResult echo = ProcessRunner::run("/bin/echo", {"a b", "$HOME"}, 5000);
        QVERIFY(echo.ok());
        QCOMPARE(echo.output, QByteArray("a b $HOME\n"));

        const int64_t start = MonotonicClock::nowMs();
        ProcessResult slow = ProcessRunner::run("/bin/sleep", {"10"}, 200);
        QVERIFY(slow.started);
        QVERIFY(slow.timedOut);
        QVERIFY(!slow.ok());
        QVERIFY(MonotonicClock::nowMs() - start < 5000);

        ProcessResult missing = ProcessRunner::run("/nonexistent/program", {}, 1000);
        QVERIFY(!missing.started);
    }

    void waitsEndOnTheirTimeOut()
    {
        const int64_t start = MonotonicClock::nowMs();
        QVERIFY(!MonotonicClock::waitFor([] { return false; }, 50));
        QVERIFY(MonotonicClock::nowMs() - start >= 50);
        QVERIFY(MonotonicClock::waitFor([] { return true; }, 0));
    }

    void dialogScriptsPlayTheUser()
    {
        QDialog dialog;
        dialog.setObjectName("probe");
        auto *ok = new QPushButton("OK", &dialog);
        ok->setObjectName("BUTTON_OK");
        connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);

        DialogRunner::clearLog();
        DialogRunner::pushScript([](QDialog *d) {
            return DialogRunner::showAndRun(d, [](QDialog *shown) { QVERIFY(DialogRunner::click(shown, "BUTTON_OK")); });
        });
        DialogRunner::setStandingScript([](QDialog *) { return 7; });
        QCOMPARE(DialogRunner::exec(&dialog), 1);
        QCOMPARE(DialogRunner::exec(&dialog), 7);
        QCOMPARE(DialogRunner::log(), QStringList({"QDialog:probe", "QDialog:probe"}));

        // A dialog nobody closes ends at the time-out, rejected.
        DialogRunner::clearScripts();
        QCOMPARE(DialogRunner::showAndRun(&dialog, nullptr, 50), -1);
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
