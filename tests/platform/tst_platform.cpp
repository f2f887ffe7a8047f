#include "DialogRunner.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "ProcessRunner.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

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

    // The logs a run keeps of its dialogs and of its simulated system actions hold their latest
    // entries only, however long the run.
    void logsKeepTheirLatestEntries_data()
    {
        QTest::addColumn<bool>("dialogs");
        QTest::newRow("dialogs") << true;
        QTest::newRow("system actions") << false;
    }
    void logsKeepTheirLatestEntries()
    {
        QFETCH(bool, dialogs);
        SimulatedSystemActions actions;
        QDialog dialog;
        DialogRunner::clearLog();
        DialogRunner::setStandingScript([](QDialog *) { return 1; });
        const int limit = dialogs ? 1000 : SimulatedSystemActions::kCallLimit;
        for (int i = 0; i < limit + 5; ++i) {
            if (dialogs) {
                dialog.setObjectName(QString::number(i));
                DialogRunner::exec(&dialog);
            } else {
                actions.run("date", {QString::number(i)}, 0);
            }
        }
        DialogRunner::clearScripts();
        const QStringList log = dialogs ? DialogRunner::log() : actions.calls();
        QCOMPARE(log.size(), limit);
        QVERIFY2(log.first().endsWith(" 5") || log.first().endsWith(":5"), qPrintable(log.first()));
        QVERIFY2(log.last().endsWith(QString::number(limit + 4)), qPrintable(log.last()));
    }

    // Programs run from argument lists (no shell) and end at their time-out; waits end at theirs.
    void processesAndWaitsEndOnTheirTimeOut()
    {
        ProcessResult echo = ProcessRunner::run("/bin/echo", {"a b", "$HOME"}, 5000);
        QVERIFY(echo.ok());
        QCOMPARE(echo.output, QByteArray("a b $HOME\n"));
        QVERIFY(!ProcessRunner::run("/nonexistent/program", {}, 1000).started);

        const int64_t start = MonotonicClock::nowMs();
        ProcessResult slow = ProcessRunner::run("/bin/sleep", {"10"}, 200);
        QVERIFY(slow.started && slow.timedOut && !slow.ok());
        QVERIFY(MonotonicClock::nowMs() - start < 5000); // a hang bound
        const int64_t wait = MonotonicClock::nowMs();
        QVERIFY(!MonotonicClock::waitFor([] { return false; }, 50));
        QVERIFY(MonotonicClock::nowMs() - wait >= 50);
        QVERIFY(MonotonicClock::waitFor([] { return true; }, 0));
    }

    // A program that never ends by itself is ended once the awaited output came, or at the time-out.
    void runUntilOutputEndsTheProgram_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("until");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("timedOut");
        QTest::newRow("any output") << "echo first; sleep 30" << QByteArray() << QByteArray("first\n") << false;
        QTest::newRow("awaited line") << "echo head; sleep 0.2; echo '64 bytes from gw'; sleep 30"
                                      << QByteArray("bytes from") << QByteArray("head\n64 bytes from gw\n") << false;
        QTest::newRow("never comes") << "echo head; sleep 30" << QByteArray("bytes from") << QByteArray("head\n") << true;
        QTest::newRow("ends silent") << "exit 3" << QByteArray() << QByteArray() << true;
    }

    void runUntilOutputEndsTheProgram()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, until);
        const int64_t start = MonotonicClock::nowMs();
        const ProcessResult result = ProcessRunner::runUntilOutput("/bin/sh", {"-c", script}, 1500, until);
        QVERIFY(result.started);
        QTEST(result.output, "output");
        QTEST(result.timedOut, "timedOut");
        QVERIFY(MonotonicClock::nowMs() - start < 10000); // a hang bound: sleep 30 was ended
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
