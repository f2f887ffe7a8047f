// The serial link itself: framing, the synchronous exchange, events and their acknowledgement,
// the old dialect's one-command-in-flight scheme, and the board's faults, over a real
// pseudo-terminal played by a script.
#include "Controller.h"
#include "ControllerTestSupport.h"
#include "Globals.h"
#include "MonotonicClock.h"
#include "ScriptedBoard.h"
#include "SerialFramer.h"
#include "TestRoot.h"

#include <QSignalSpy>
#include <QtTest>

using Chunks = QList<ScriptedBoard::Chunk>;
Q_DECLARE_METATYPE(Chunks)

class TestControllerLink : public QObject
{
    Q_OBJECT

private:
    // A new-dialect board (version 2.6 unless said) whose answers a test may override by line.
    struct NewBoard
    {
        ScriptedBoard board;
        ScriptedBoard::Health health;
        std::function<std::optional<Chunks>(const QString &)> override;

        bool start()
        {
            board.setResponder([this](const QString &line) {
                if (override) {
                    if (auto chunks = override(line))
                        return *chunks;
                }
                return ScriptedBoard::healthyReply(line, health);
            });
            return board.start();
        }
    };

    // An old-dialect board: FILTER, OBJLENS and stage commands answered with numbers.
    static Chunks oldReply(const QString &line, int filter, int lens)
    {
        if (line == QLatin1String("FILTER"))
            return ScriptedBoard::reply(QByteArray::number(filter) + "\r\n");
        if (line == QLatin1String("OBJLENS"))
            return ScriptedBoard::reply(QByteArray::number(lens) + "\r\n");
        if (line.startsWith(QLatin1String("Z")) || line.startsWith(QLatin1String("LED")))
            return ScriptedBoard::reply("1234\r\n");
        return {};
    }

private slots:
    void init() { g_ExecMode = EXEC_NORMAL; }
    void cleanup() { g_ExecMode = EXEC_NORMAL; }

    void framerCutsMessages_data()
    {
        QTest::addColumn<QList<QByteArray>>("deliveries");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("tail");

        QTest::newRow("one reply") << QList<QByteArray>{"$OK#A#STAGE POS#1234\r\n"}
                                   << QStringList{"$OK#A#STAGE POS#1234"} << 0;
        QTest::newRow("split over three") << QList<QByteArray>{"$OK#A#ST", "AGE POS#12", "34\r\n"}
                                          << QStringList{"$OK#A#STAGE POS#1234"} << 0;
        QTest::newRow("merged, in order")
            << QList<QByteArray>{"$OK#A#STAGE POS#5\r\n$A#KNOB FINE STOP\r\n"}
            << QStringList{"$OK#A#STAGE POS#5", "$A#KNOB FINE STOP"} << 0;
        QTest::newRow("incomplete tail kept") << QList<QByteArray>{"$A#KNOB FINE RUN\r\n$OK#A#FIL"}
                                              << QStringList{"$A#KNOB FINE RUN"} << 9;
        QTest::newRow("two messages on one line") << QList<QByteArray>{"$OK#A#OBJ 2$A#FILTER 3\n"}
                                                  << QStringList{"$OK#A#OBJ 2", "$A#FILTER 3"} << 0;
        QTest::newRow("noise before a message") << QList<QByteArray>{QByteArray("\x7f\x01~%?\xfe\x80$OK#A#OBJ 2\r\n")}
                                                << QStringList{"$OK#A#OBJ 2"} << 0;
        QTest::newRow("noise only") << QList<QByteArray>{QByteArray("\x7f\x01~%?\xfe\x80\r\n")} << QStringList{} << 0;
        QTest::newRow("old reply CR LF") << QList<QByteArray>{"123\r\n"} << QStringList{"123"} << 0;
        QTest::newRow("old reply LF only keeps its digits") << QList<QByteArray>{"123\n"} << QStringList{"123"} << 0;
        QTest::newRow("old reply CR only") << QList<QByteArray>{"7\r"} << QStringList{"7"} << 0;
        QTest::newRow("old reply after noise") << QList<QByteArray>{QByteArray("~%?\xfe\x80" "42\r\n")}
                                               << QStringList{"42"} << 0;
        QTest::newRow("blank lines skipped") << QList<QByteArray>{"\r\n\r\n", "BUSY\r", "\n"} << QStringList{"BUSY"} << 0;
    }

    void framerCutsMessages()
    {
        QFETCH(QList<QByteArray>, deliveries);
        QFETCH(QStringList, messages);
        QFETCH(int, tail);
        SerialFramer framer;
        for (const QByteArray &d : deliveries)
            framer.append(d);
        QStringList got;
        while (framer.hasMessage())
            got << framer.takeMessage();
        QCOMPARE(got, messages);
        QCOMPARE(framer.pendingBytes(), tail);
    }

    void framerDropsEndlessLine()
    {
        SerialFramer framer;
        framer.append(QByteArray(SerialFramer::kMaxLineLength + 10, 'x'));
        QCOMPARE(framer.pendingBytes(), 0);
        framer.append("$OK#A#OBJ 1\n");
        QCOMPARE(framer.takeMessage(), QStringLiteral("$OK#A#OBJ 1"));
    }

    void conversion_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("converted");
        QTest::newRow("position") << "Z POS" << "$A#STAGE POS";
        QTest::newRow("already stage") << "STAGE POS" << "$A#STAGE POS";
        QTest::newRow("move") << "Z 1234" << "$A#STAGE 1234";
        QTest::newRow("negative move") << "Z -30" << "$A#STAGE -30";
        QTest::newRow("slider") << "SLIDER 40" << "$A#SLIDER 40";
        QTest::newRow("led") << "LED BRT4 50" << "$A#LED BRT4 50";
    }

    void conversion()
    {
        QFETCH(QString, command);
        QFETCH(QString, converted);
        Controller::ConvertProtocol(command);
        QCOMPARE(command, converted);
    }

    void versionAnswerChoosesDialect_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("firmware");
        QTest::newRow("2.5") << QByteArray("$OK#A#VER#2.5\r\n") << "2.5";
        QTest::newRow("2.3.1") << QByteArray("$OK#A#VER#2.3.1\n") << "2.3.1";
        QTest::newRow("three fields") << QByteArray("$OK#A#VER\r\n") << "";
        QTest::newRow("five fields") << QByteArray("$OK#A#VER#2.5#X\r\n") << "";
        QTest::newRow("no OK") << QByteArray("$NG#A#VER#2.5\r\n") << "";
        QTest::newRow("not VER") << QByteArray("$OK#A#VERSION#2.5\r\n") << "";
        QTest::newRow("old board says NG") << QByteArray("NG\r\n") << "";
        QTest::newRow("silence") << QByteArray() << "";
    }

    void versionAnswerChoosesDialect()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, firmware);
        TestRoot root;
        ScriptedBoard board;
        board.setResponder([&](const QString &line) {
            if (line == QLatin1String("$A#VER"))
                return answer.isEmpty() ? Chunks{} : ScriptedBoard::reply(answer);
            return ScriptedBoard::healthyReply(line, {});
        });
        QVERIFY(board.start());
        Controller controller;
        QVERIFY(openController(controller, board.devicePath()));
        QCOMPARE(controller.existFirmwareVer(), !firmware.isEmpty());
        QCOMPARE(controller.getFirmwareText(), firmware);
        QCOMPARE(readConfigWithPython("NIMBO", "Firmware"), firmware);
        if (firmware == QLatin1String("2.3.1"))
            QCOMPARE(controller.getFirmwareVer(), 2.31f);
        QCOMPARE(board.texts().value(0), QStringLiteral("$A#VER"));
    }

    void unopenablePortFails()
    {
        TestRoot root;
        Controller controller;
        QVERIFY(!openController(controller, root.path() + "/no-such-device"));
        QVERIFY(!controller.isPortOpen());
        QVERIFY(!controller.isPulling());
        QVERIFY(!controller.existFirmwareVer());
        QVERIFY(!controller.PortClose());
        QVERIFY(!controller.getCurrentMotorPosition()); // nothing hangs on a closed link
    }

    void eventsAcknowledgedInOrder()
    {
        TestRoot root;
        NewBoard b;
        QVERIFY(b.start());
        Controller controller;
        QVERIFY(openController(controller, b.board.devicePath()));
        controller.StopPulling();
        QSignalSpy speed(&controller, &Controller::changeMotorSpeed);
        b.board.clearLog();

        // One event split over two deliveries, then two events merged in one.
        b.board.write("$A#KNOB FI");
        pumpEvents(50);
        b.board.write("NE RUN\r\n");
        b.board.write("$A#KNOB COARSE RUN\r\n$A#KNOB COARSE STOP\r\n", 30);
        QVERIFY(pumpUntil([&] { return b.board.lines().size() >= 3; }, 2000));
        QCOMPARE(b.board.receivedBytes(),
                 QByteArray("$OK#A#KNOB FINE RUN\r\n$OK#A#KNOB COARSE RUN\r\n$OK#A#KNOB COARSE STOP\r\n"));
        QCOMPARE(speed.count(), 2);
    }

    void exchangeHandlesEventAndWaitsForReply()
    {
        TestRoot root;
        NewBoard b;
        b.override = [](const QString &line) -> std::optional<Chunks> {
            if (line == QLatin1String("$A#STAGE POS")) // event first, the reply 40 ms later
                return Chunks{{2, "$A#KNOB FINE RUN\r\n"}, {40, "$OK#A#STAGE POS#4321\r\n"}};
            if (line == QLatin1String("$A#STAGE LIMIT TOP")) // reply and an event in one delivery
                return Chunks{{2, "$OK#A#STAGE LIMIT TOP#1\r\n$A#KNOB COARSE RUN\r\n"}};
            return std::nullopt;
        };
        QVERIFY(b.start());
        Controller controller;
        QVERIFY(openController(controller, b.board.devicePath()));
        controller.StopPulling();
        QSignalSpy speed(&controller, &Controller::changeMotorSpeed);

        QCOMPARE(controller.getCurrentMotorPosition(), std::optional<int>(4321));
        QVERIFY(b.board.waitForLine("$OK#A#KNOB FINE RUN", 1000) >= 0);
        QCOMPARE(speed.count(), 0); // handled once the exchange is over
        QVERIFY(pumpUntil([&] { return speed.count() == 1; }, 1000));

        // The surplus event stays for the asynchronous reader.
        QVERIFY(controller.CheckMotorPosition(MOVE_LIMIT_TOP));
        QVERIFY(pumpUntil([&] { return speed.count() == 2; }, 1000));
        QVERIFY(b.board.waitForLine("$OK#A#KNOB COARSE RUN", 1000) >= 0);
    }

    void silentBoardExchangeEndsAtItsTimeOut()
    {
        TestRoot root;
        NewBoard b;
        bool silent = false;
        b.override = [&](const QString &) -> std::optional<Chunks> {
            if (silent)
                return Chunks{};
            return std::nullopt;
        };
        QVERIFY(b.start());
        Controller controller;
        QVERIFY(openController(controller, b.board.devicePath()));
        controller.StopPulling();
        silent = true;

        const int before = g_TimeoutCount;
        int64_t t0 = MonotonicClock::nowMs();
        QVERIFY(controller.sendToSerialPortFast("$A#STATUS\n", 1000).isEmpty());
        const int64_t took = MonotonicClock::nowMs() - t0;
        QVERIFY2(took >= 990 && took < 1150, qPrintable(QString::number(took)));
        QCOMPARE(g_TimeoutCount, before); // counted only with serial logging

        g_ExecMode = EXEC_SERIAL_LOG;
        QVERIFY(controller.sendToSerialPortFast("$A#STATUS\n", 300).isEmpty());
        QCOMPARE(g_TimeoutCount, before + 1);
        QVERIFY(controller.isReadyToSend());
    }

    void newDialectRefusalsAndBusy()
    {
        TestRoot root;
        NewBoard b;
        b.health.version = QStringLiteral("2.3");
        b.health.filterSlot = 3;
        int refusals = 0;
        b.override = [&](const QString &line) -> std::optional<Chunks> {
            if (line == QLatin1String("$A#FILTER") && refusals > 0) {
                --refusals;
                return ScriptedBoard::reply("$NG#A#FILTER\r\n");
            }
            if (line == QLatin1String("$A#FILTER"))
                return ScriptedBoard::reply("$OK#A#FILTER 3\r\n");
            if (line == QLatin1String("$A#OBJ"))
                return ScriptedBoard::reply("$OK#A#OBJ 2\r\n");
            if (line == QLatin1String("$A#LED OFF3"))
                return ScriptedBoard::reply("$BUSY#A#LED OFF4\r\n");
            return std::nullopt;
        };
        QVERIFY(b.start());
        Controller controller;
        QVERIFY(openController(controller, b.board.devicePath()));
        controller.StopPulling();
        QCOMPARE(controller.getFilterPosition(), 1); // slot 3

        // NG once: sent again, the second answer counts.
        refusals = 1;
        b.board.clearLog();
        QVERIFY(controller.sendToSerialPort("FILTER"));
        QCOMPARE(b.board.texts(), QStringList({"$A#FILTER", "$A#FILTER"}));
        QCOMPARE(controller.getFilterPosition(), 1);

        // NG three times: two resends, and the refusal is no position.
        refusals = 3;
        b.board.clearLog();
        QSignalSpy filter(&controller, &Controller::changeFilterPosition);
        QVERIFY(controller.sendToSerialPort("FILTER"));
        QCOMPARE(b.board.texts(), QStringList({"$A#FILTER", "$A#FILTER", "$A#FILTER"}));
        QCOMPARE(filter.count(), 0);
        QCOMPARE(controller.getReportedFilter(), 1);

        // BUSY: dropped without a retry.
        b.board.clearLog();
        controller.setLightOnOff(false);
        pumpEvents(100);
        QCOMPARE(b.board.texts(), QStringList({"$A#LED OFF3"}));
    }

    void oldDialectQueuesAndFreesTheLink()
    {
        TestRoot root;
        ScriptedBoard board;
        bool silentFilter = false;
        board.setResponder([&](const QString &line) {
            if (silentFilter && line == QLatin1String("FILTER"))
                return Chunks{};
            return oldReply(line, 1, 2);
        });
        QVERIFY(board.start());
        Controller controller;
        QVERIFY(openController(controller, board.devicePath()));
        QVERIFY(!controller.existFirmwareVer());
        QVERIFY(pumpUntil([&] { return controller.getLensPosition() == 2 && controller.getFilterPosition() == 1; }, 2000));
        QVERIFY(controller.checkLensAndFilterPosition());

        // A command in flight refuses the next; the LED queue sends only its newest command.
        controller.StopPulling();
        pumpEvents(50);
        board.clearLog();
        controller.setLEDPower(30);
        QVERIFY(controller.sendToSerialPort("FILTER"));
        QVERIFY(!controller.sendToSerialPort("OBJLENS"));
        controller.setLightOnOff(true);
        controller.setLEDPower(40);
        controller.setLEDPower(45);
        QVERIFY(pumpUntil([&] { return board.lines().size() >= 2; }, 2000));
        pumpEvents(100);
        QCOMPARE(board.texts(), QStringList({"FILTER", "LED 1 45"}));
        QCOMPARE(board.lines().at(1).raw, QByteArray("LED 1 45\n"));

        // Z STOP is never held back, and it empties the stage queue.
        board.clearLog();
        silentFilter = true;
        QVERIFY(controller.sendToSerialPort("FILTER"));
        controller.setZCommand("Z 100");
        controller.setZCommand("Z STOP");
        QVERIFY(board.waitForLine("Z STOP", 1000) >= 0);

        // The lost reply frees the link after its time-out; polling goes on.
        QVERIFY(!controller.isReadyToSend());
        int64_t t0 = MonotonicClock::nowMs();
        QVERIFY(pumpUntil([&] { return controller.isReadyToSend(); }, 3000));
        QVERIFY(MonotonicClock::nowMs() - t0 <= Controller::kReplyTimeoutMs + 200);
        QCOMPARE(board.texts(), QStringList({"FILTER", "Z STOP"}));
        silentFilter = false;
        board.clearLog();
        controller.StartPulling();
        QVERIFY(pumpUntil([&] { return board.texts().contains("OBJLENS"); }, 3000));
    }

    void oldDialectRefusalsAndBusy()
    {
        TestRoot root;
        ScriptedBoard board;
        int refusals = 0;
        bool busy = false;
        board.setResponder([&](const QString &line) {
            if (line == QLatin1String("FILTER") && refusals > 0) {
                --refusals;
                return ScriptedBoard::reply("NG\r\n");
            }
            if (busy)
                return ScriptedBoard::reply("BUSY\r\n");
            return oldReply(line, 3, 4);
        });
        QVERIFY(board.start());
        Controller controller;
        QVERIFY(openController(controller, board.devicePath()));
        controller.StopPulling();
        pumpEvents(100);
        QSignalSpy filter(&controller, &Controller::changeFilterPosition);

        refusals = 1;
        board.clearLog();
        QVERIFY(controller.sendToSerialPort("FILTER"));
        QVERIFY(pumpUntil([&] { return filter.count() == 1; }, 2000));
        QCOMPARE(board.texts(), QStringList({"FILTER", "FILTER"}));
        QCOMPARE(filter.at(0).at(0).toInt(), 3);

        refusals = 3;
        board.clearLog();
        QVERIFY(controller.sendToSerialPort("FILTER"));
        QVERIFY(pumpUntil([&] { return board.lines().size() >= 3; }, 2000));
        QVERIFY(pumpUntil([&] { return controller.isReadyToSend(); }, 2000));
        pumpEvents(50);
        QCOMPARE(board.texts().size(), 3);
        QCOMPARE(filter.count(), 1); // "NG" is not read as filter 0

        busy = true;
        board.clearLog();
        QVERIFY(controller.sendToSerialPort("OBJLENS"));
        QVERIFY(pumpUntil([&] { return controller.isReadyToSend(); }, 2000));
        pumpEvents(50);
        QCOMPARE(board.texts(), QStringList({"OBJLENS"}));
    }

    void oldDialectStageQueueAndBottom()
    {
        TestRoot root;
        ScriptedBoard board;
        board.setResponder([&](const QString &line) { return oldReply(line, 0, 1); });
        QVERIFY(board.start());
        Controller controller;
        QVERIFY(openController(controller, board.devicePath()));
        controller.StopPulling();
        pumpEvents(50);
        QSignalSpy bottom(&controller, &Controller::signalFocusMemoryIsBottom);
        QSignalSpy position(&controller, &Controller::signalCurrentMotorPosition);

        board.clearLog();
        controller.setFocusMemoryIsMoving(true);
        controller.setZCommand("Z BOTTOM");
        controller.setZCommand("Z POS");
        QVERIFY(pumpUntil([&] { return position.count() == 1; }, 2000));
        QCOMPARE(board.texts(), QStringList({"Z BOTTOM", "Z POS"}));
        QCOMPARE(bottom.count(), 0); // the Z BOTTOM reply sent the queued command instead
        QCOMPARE(position.at(0).at(0).toInt(), 1234);

        board.clearLog();
        controller.setZCommand("Z BOTTOM");
        QVERIFY(pumpUntil([&] { return bottom.count() == 1; }, 2000));
    }

    // Each fault of the board, through the polling and the stage queries, while a 10 ms timer
    // measures how long the GUI thread is kept from its event loop.
    void faultsNeitherHangNorStall_data()
    {
        QTest::addColumn<Chunks>("answer");
        QTest::newRow("silence") << Chunks{};
        QTest::newRow("BUSY") << ScriptedBoard::reply("$BUSY#A#X\r\n");
        QTest::newRow("NG") << ScriptedBoard::reply("$NG#A#X\r\n");
        QTest::newRow("split") << Chunks{{2, "$OK#A#STAGE"}, {30, " POS#77"}, {60, "7\r\n"}};
        QTest::newRow("merged") << ScriptedBoard::reply("$OK#A#STAGE POS#777\r\n$OK#A#STAGE POS#778\r\n");
        QTest::newRow("garbage") << ScriptedBoard::reply("\x7f\x01~%?\xfe\x80\r\n");
        QTest::newRow("event inside") << Chunks{{2, "$A#KNOB FINE STOP\r\n"}, {20, "$OK#A#STAGE POS#777\r\n"}};
        QTest::newRow("800000") << ScriptedBoard::reply("$OK#A#STAGE POS#800000\r\n");
        QTest::newRow("short") << ScriptedBoard::reply("$OK#A#STAGE POS\r\n");
        QTest::newRow("never ends") << ScriptedBoard::reply("$OK#A#STAGE POS#777");
    }

    void faultsNeitherHangNorStall()
    {
        QFETCH(Chunks, answer);
        TestRoot root;
        NewBoard b;
        bool faulty = false;
        b.override = [&](const QString &line) -> std::optional<Chunks> {
            if (!faulty || line.startsWith(QLatin1String("$OK#")))
                return std::nullopt;
            return answer;
        };
        QVERIFY(b.start());
        Controller controller;
        QVERIFY(openController(controller, b.board.devicePath()));
        faulty = true;

        StallMeter meter;
        const int64_t t0 = MonotonicClock::nowMs();
        pumpEvents(700); // polling under the fault
        // Each call below is one road from the event loop into the link, as a button press is.
        pumpEvents(20);
        const std::optional<int> position = controller.getCurrentMotorPosition();
        pumpEvents(20);
        controller.setZCommand("Z 100");
        pumpEvents(100);
        const int64_t took = MonotonicClock::nowMs() - t0;

        // A reading is the true one or none at all.
        if (position)
            QCOMPARE(*position, 777);
        QVERIFY(controller.isReadyToSend());
        const int stall = meter.longestGapMs();
        qInfo("fault %s: longest GUI-thread stall %d ms (exchange time-out %d ms), run %lld ms",
              QTest::currentDataTag(), stall, Controller::kExchangeTimeoutMs, static_cast<long long>(took));
        QVERIFY2(stall <= Controller::kExchangeTimeoutMs + 60, qPrintable(QString::number(stall)));
    }
};

QTEST_MAIN(TestControllerLink)
#include "tst_controller_link.moc"
