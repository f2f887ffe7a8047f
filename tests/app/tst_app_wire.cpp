// The application as a process, seen from the wire: a board played by a Python script on a
// pseudo-terminal (VANTOR_SERIAL_DEVICE) gets the version query first and, after a new-dialect
// answer, the start-up status read and then the status and stage-position polls every 200 ms.
// SIGTERM ends it cleanly: exit status 0 and the serial port's lock file removed.
#include "BoardPeer.h"
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

private slots:
    void newDialectStartReadsTheStatusAndPolls()
    {
        TestRoot root;
        const QString logPath = root.path() + "/wire.log";
        BoardPeer peer(logPath, 60);
        const QString device = peer.device();
        QVERIFY(!device.isEmpty());

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_SERIAL_DEVICE", device);
        env.insert("VANTOR_ROOT", root.path() + "/sandbox");
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor", QStringList());
        QVERIFY(app.waitForStarted(10000));

        // A few seconds of polling after the start.
        (void)QTest::qWaitFor([&] { return peer.lines().size() >= 40 || app.state() != QProcess::Running; }, 60000);
        const QString lock = lockFileOf(app.processId());
        QVERIFY2(!lock.isEmpty(), "the open serial port holds a lock file");
        app.terminate(); // SIGTERM
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(!QFile::exists(lock), qPrintable(lock));
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
};

QTEST_MAIN(TestAppWire)
#include "tst_app_wire.moc"
