// An independent check of the wire: a board played by a Python script on a pseudo-terminal sees
// the controller's exact bytes: the version query first, then the status query, then polling of
// the status and the stage position, one every 200 ms.
#include "Controller.h"
#include "ControllerTestSupport.h"
#include "TestRoot.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

class TestControllerWire : public QObject
{
    Q_OBJECT

private slots:
    void newFirmwareStartAndPolling()
    {
        TestRoot root;
        const QString logPath = root.path() + "/wire.log";
        QProcess peer;
        peer.start("python3", {qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/instrument/board_peer.py", logPath, "6"});
        QVERIFY(peer.waitForStarted(5000));
        QVERIFY(peer.waitForReadyRead(5000));
        const QString device = QString::fromLocal8Bit(peer.readLine()).trimmed();
        QVERIFY(device.startsWith("/dev/"));

        Controller controller;
        QVERIFY(openController(controller, device));
        QCOMPARE(controller.getFirmwareText(), QStringLiteral("2.6"));
        QCOMPARE(controller.getFilterPosition(), 1); // slot 3
        QCOMPARE(controller.getLensPosition(), 2);
        pumpEvents(1300);
        controller.PortClose();
        peer.kill();
        peer.waitForFinished(5000);

        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QList<qint64> times;
        QList<QByteArray> lines;
        for (const QByteArray &entry : log.readAll().split('\n')) {
            if (entry.isEmpty())
                continue;
            const QList<QByteArray> parts = entry.split(' ');
            QCOMPARE(parts.size(), 2);
            times << parts[0].toLongLong();
            lines << QByteArray::fromHex(parts[1]);
        }
        QVERIFY2(lines.size() >= 7, qPrintable(QString::number(lines.size())));
        QCOMPARE(lines[0], QByteArray("$A#VER\n"));
        QCOMPARE(lines[1], QByteArray("$A#STATUS\n"));
        for (int i = 2; i < lines.size(); ++i) {
            QCOMPARE(lines[i], QByteArray(i % 2 ? "$A#STAGE POS\n" : "$A#STATUS\n"));
            if (i > 2)
                QVERIFY2(qAbs(times[i] - times[i - 1] - 200) <= 60, qPrintable(QString::number(times[i] - times[i - 1])));
        }
    }
};

QTEST_MAIN(TestControllerWire)
#include "tst_controller_wire.moc"
