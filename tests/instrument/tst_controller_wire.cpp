// An independent check of the wire: a board played by a Python script on a pseudo-terminal sees
// the controller's exact bytes: the version query first, then the status query, then polling of
// the status and the stage position, one every 200 ms.
#include "BoardPeer.h"
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
        BoardPeer peer(logPath, 30);
        const QString device = peer.device();
        QVERIFY(!device.isEmpty());

        Controller controller;
        QVERIFY(openController(controller, device));
        QCOMPARE(controller.getFirmwareText(), QStringLiteral("2.6"));
        QCOMPARE(controller.getFilterPosition(), 1); // slot 3
        QCOMPARE(controller.getLensPosition(), 2);
        QVERIFY(pumpUntil([&] { return peer.lines().size() >= 7; }, 10000));
        controller.PortClose();
        peer.stop();

        QList<qint64> times;
        QList<QByteArray> lines;
        for (const auto &line : peer.lines()) {
            times << line.first;
            lines << line.second;
        }
        QCOMPARE(lines[0], QByteArray("$A#VER\n"));
        QCOMPARE(lines[1], QByteArray("$A#STATUS\n"));
        for (int i = 2; i < lines.size(); ++i) {
            QCOMPARE(lines[i], QByteArray(i % 2 ? "$A#STAGE POS\n" : "$A#STATUS\n"));
            if (i > 2) // the polling timer: never faster than every 200 ms
                QVERIFY2(times[i] - times[i - 1] >= 150, qPrintable(QString::number(times[i] - times[i - 1])));
        }
    }
};

QTEST_MAIN(TestControllerWire)
#include "tst_controller_wire.moc"
