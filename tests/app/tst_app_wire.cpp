// The application as a process, seen from the wire: a board played by a Python script on a
// pseudo-terminal (VANTOR_SERIAL_DEVICE) gets the version query first and, after a new-dialect
// answer, the start-up status read and then the status and stage-position polls every 200 ms.
// SIGTERM ends it cleanly: exit status 0 and the serial port's lock file removed. So does a lost
// display, with status 1.
#include "BoardPeer.h"
#include "HangBound.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SimSandbox.h"
#include "TestRoot.h"

#include <QtTest>

class TestAppWire : public QObject
{
    Q_OBJECT

    // The serial lock file ("LCK..NAME" in the system's lock folder) that names process pid.
    static QString lockFileOf(qint64 pid)
    {
        for (const char *folder : {"/var/lock", "/run/lock", "/tmp"}) {
            for (const QFileInfo &info : QDir(folder).entryInfoList({"LCK..*"}, QDir::Files)) {
                QFile file(info.filePath());
                if (file.open(QIODevice::ReadOnly) && file.readLine().trimmed().toLongLong() == pid)
                    return info.filePath();
            }
        }
        return QString();
    }

    // A free X display number: neither its socket nor its lock file exists.
    static int freeDisplay()
    {
        for (int n = 180; n < 400; ++n)
            if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)) && !QFile::exists(QString("/tmp/.X%1-lock").arg(n)))
                return n;
        return -1;
    }

private slots:
    // Off the instrument a root that is the host's own, or no folder, ends the start at once with
    // the reason, before anything is made or run.
    void hostRootsAreRefused_data()
    {
        QTest::addColumn<QString>("root"); // "@" stands for the test's own folder
        QTest::addColumn<QString>("why");
        QTest::newRow("empty") << "" << "it is empty";
        QTest::newRow("slash") << "/" << "it is empty";
        QTest::newRow("slash dot") << "/." << "the host's";
        QTest::newRow("up to slash") << "@/../../../../../../../../../.." << "the host's";
        QTest::newRow("link to slash") << "@/host" << "the host's";
        QTest::newRow("a file") << "@/file" << "is not a folder";
    }
    void hostRootsAreRefused()
    {
        QFETCH(QString, root);
        QFETCH(QString, why);
        TestRoot own;
        QVERIFY(QFile::link("/", own.path() + "/host"));
        own.writeFile("/file", "x");
        const QStringList before = QDir(own.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("VANTOR_TARGET");
        env.insert("VANTOR_ROOT", root.replace('@', own.path()));
        app.setProcessEnvironment(env);
        app.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor", QStringList());
        QVERIFY(app.waitForFinished(kHangBoundMs)); // a hang, not a speed bound
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 1);
        const QString error = QString::fromLocal8Bit(app.readAllStandardError());
        QVERIFY2(error.contains("sandbox folder of its own") && error.contains(why), qPrintable(error));
        QCOMPARE(QDir(own.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    }

    void newDialectStartReadsTheStatusAndPolls()
    {
        TestRoot root;
        const QString logPath = root.path() + "/wire.log";
        BoardPeer peer(logPath, kHangBoundMs / 1000);
        const QString device = peer.device();
        QVERIFY(!device.isEmpty());

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_SERIAL_DEVICE", device);
        env.insert("VANTOR_ROOT", root.path() + "/sandbox");
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor", QStringList());
        QVERIFY(app.waitForStarted(kHangBoundMs));

        // A few seconds of polling after the start.
        (void)QTest::qWaitFor([&] { return peer.lines().size() >= 40 || app.state() != QProcess::Running; }, kHangBoundMs);
        const QString lock = lockFileOf(app.processId());
        QVERIFY2(!lock.isEmpty(), "the open serial port holds a lock file");
        app.terminate(); // SIGTERM
        QVERIFY(app.waitForFinished(kHangBoundMs));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(lockFileOf(app.processId()).isEmpty(), qPrintable(lock));
        peer.stop();

        const auto wire = peer.lines();
        QVERIFY2(wire.size() >= 40, qPrintable(QString::number(wire.size())));
        QCOMPARE(wire[0].second, QByteArray("$A#VER\n"));
        QCOMPARE(wire[1].second, QByteArray("$A#STATUS\n"));
        // Polling: status and stage position alternate, each every 400 ms (one poll per 200 ms).
        QList<qint64> statusTimes;
        QByteArray previousPoll;
        for (int i = 2; i < wire.size(); ++i) {
            const QByteArray &line = wire[i].second;
            if (line != "$A#STATUS\n" && line != "$A#STAGE POS\n")
                continue;
            QVERIFY2(line != previousPoll, qPrintable(QString("poll repeated at line %1").arg(i)));
            previousPoll = line;
            if (line == "$A#STATUS\n")
                statusTimes << wire[i].first;
        }
        QVERIFY(statusTimes.size() >= 8);
        QList<qint64> gaps;
        for (int i = 1; i < statusTimes.size(); ++i)
            gaps << statusTimes[i] - statusTimes[i - 1];
        std::sort(gaps.begin(), gaps.end());
        // Polls never come faster than their period; slower only on a busy machine (a hang bound).
        QVERIFY2(gaps[gaps.size() / 2] >= 300 && gaps[gaps.size() / 2] <= 4000, qPrintable(QString::number(gaps[gaps.size() / 2])));
    }

    // A hand at the simulated instrument of a running application (vantor-sim-hand): the cube
    // turret turned to 2 reaches the application through the board, whose panel then sets that
    // cube's light; the hand's socket lives as long as the run.
    void handTurnsTheTurretOfARun()
    {
        TestRoot root;
        QVERIFY(SimSandbox::seed());
        WritePrivateProfileString("LicenseAgreement", "Accepted", "1", Paths::configFile().toStdString());
        WritePrivateProfileString("Setting_Misc", "ShowStartDlg", "0", Paths::configFile().toStdString());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_ROOT", root.path());
        const auto hand = [&env](const QStringList &args) {
            QProcess tool;
            tool.setProcessEnvironment(env);
            tool.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-hand", args);
            return tool.waitForFinished(kHangBoundMs) && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
        };
        QProcess app;
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor", {"7"}); // serial log on
        QVERIFY(app.waitForStarted(kHangBoundMs));
        QByteArray output;
        QVERIFY(QTest::qWaitFor([&] { return hand({"state"}) == 0 || app.state() != QProcess::Running; }, kHangBoundMs));
        // Past the start-up's own light commands.
        QVERIFY(QTest::qWaitFor([&] { return (output += app.readAll()).contains("$OK#A#KNOB FINE"); }, kHangBoundMs));
        QTest::qWait(2000);
        output += app.readAll();
        QVERIFY(!output.contains("LED OFF2"));
        QCOMPARE(hand({"filter", "2"}), 0);
        QVERIFY2(QTest::qWaitFor([&] { return (output += app.readAll()).contains("$A#LED OFF2"); }, kHangBoundMs), output.right(2000).constData());
        app.terminate();
        QVERIFY(app.waitForFinished(kHangBoundMs));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(!QFile::exists(root.path() + "/.sim/hand"));
        QCOMPARE(hand({"filter", "1"}), 1);
    }

    // The display server stops while the application runs on it with live video: the camera and
    // the serial port are released (no lock file left), the run ends with a non-zero status and
    // no crash is logged.
    void lostDisplayEndsCleanly()
    {
        TestRoot root; // the sandbox, seeded here with the start-up boxes already answered
        QVERIFY(SimSandbox::seed());
        WritePrivateProfileString("LicenseAgreement", "Accepted", "1", Paths::configFile().toStdString());
        WritePrivateProfileString("Setting_Misc", "ShowStartDlg", "0", Paths::configFile().toStdString());

        const int display = freeDisplay();
        QVERIFY(display > 0);
        QProcess server;
        server.start("Xvfb", {QString(":%1").arg(display), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"});
        QVERIFY(server.waitForStarted(kHangBoundMs));
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)); }, kHangBoundMs));

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", QString(":%1").arg(display));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("SDL_VIDEODRIVER");
        env.insert("VANTOR_ROOT", root.path());
        // The keyboard library of the X platform reads its strings with strndup, which the strict
        // string check of the sanitiser takes for an overflow.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":strict_string_checks=0");
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor", {"8"}); // QC start: live at once
        QVERIFY(app.waitForStarted(kHangBoundMs));
        QString lock;
        QVERIFY2(QTest::qWaitFor([&] { return !(lock = lockFileOf(app.processId())).isEmpty(); }, kHangBoundMs),
                 app.readAll().constData());
        QTest::qWait(8000); // past the start-up, live video running (ample on a busy machine)

        server.terminate();
        QVERIFY(server.waitForFinished(kHangBoundMs));
        QVERIFY(app.waitForFinished(kHangBoundMs));
        const QByteArray output = app.readAll();
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(app.exitCode() != 0, output.constData());
        QVERIFY2(output.contains("The connection to the display was lost"), output.constData());
        for (const char *crash : {"SegmentationFault", "AddressSanitizer", "Aborted"})
            QVERIFY2(!output.contains(crash), output.constData());
        QVERIFY(!QFile::exists(root.path() + "/root/vantor.error"));
        QVERIFY(!QFile::exists(root.path() + "/root/exist.error"));
        // The app's lock is gone; another program may since have locked a terminal of the same name.
        QVERIFY2(lockFileOf(app.processId()).isEmpty(), qPrintable(lock));
    }
};

QTEST_MAIN(TestAppWire)
#include "tst_app_wire.moc"
