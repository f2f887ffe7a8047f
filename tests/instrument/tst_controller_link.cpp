// The serial link itself: framing, the synchronous exchange, events and their acknowledgement,
// dialect detection, the old dialect's one-command-in-flight scheme, stray and late replies, and
// the board's faults, over a real pseudo-terminal.
#include "ControllerTestSupport.h"
#include "Globals.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "SerialFramer.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(Pieces)

namespace {
// Old-dialect answers: FILTER, OBJLENS and every other command with a number.
std::optional<Pieces> oldAnswer(const QString &line, int filter, int lens)
{
    if (line == QLatin1String("FILTER"))
        return reply(QByteArray::number(filter) + "\r\n");
    if (line == QLatin1String("OBJLENS"))
        return reply(QByteArray::number(lens) + "\r\n");
    return reply("1234\r\n");
}
} // namespace

class TestControllerLink : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_ExecMode = EXEC_NORMAL; }
    void cleanup() { g_ExecMode = EXEC_NORMAL; }

    void framerCutsMessages_data()
    {
        QTest::addColumn<QList<QByteArray>>("deliveries");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("tail");
        QTest::newRow("split over three") << QList<QByteArray>{"$OK#A#ST", "AGE POS#12", "34\r\n"}
                                          << QStringList{"$OK#A#STAGE POS#1234"} << 0;
        QTest::newRow("incomplete tail kept") << QList<QByteArray>{"$A#KNOB FINE RUN\r\n$OK#A#FIL"}
                                              << QStringList{"$A#KNOB FINE RUN"} << 9;
        QTest::newRow("two messages on one line") << QList<QByteArray>{"$OK#A#OBJ 2$A#FILTER 3\n"}
                                                  << QStringList{"$OK#A#OBJ 2", "$A#FILTER 3"} << 0;
        QTest::newRow("noise before a message") << QList<QByteArray>{QByteArray("\x7f\x01~%?\xfe\x80$OK#A#OBJ 2\r\n")}
                                                << QStringList{"$OK#A#OBJ 2"} << 0;
        QTest::newRow("non-printable body") << QList<QByteArray>{QByteArray("$OK#A#STAGE POS#1\x01\x02" "3\r\n")}
                                            << QStringList{} << 0;
        QTest::newRow("old reply LF only") << QList<QByteArray>{"123\n"} << QStringList{"123"} << 0;
        QTest::newRow("old reply after noise") << QList<QByteArray>{QByteArray("~%?\xfe\x80" "42\r\n")}
                                               << QStringList{"42"} << 0;
        QTest::newRow("blank lines skipped") << QList<QByteArray>{"\r\n\r\n", "BUSY\r", "\n"} << QStringList{"BUSY"} << 0;
        QTest::newRow("endless line dropped")
            << QList<QByteArray>{QByteArray(SerialFramer::kMaxLineLength + 10, 'x'), "$OK#A#OBJ 1\n"}
            << QStringList{"$OK#A#OBJ 1"} << 0;
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

    // Answers to "$A#VER", one per question (the last repeats): a bad answer is asked again, up
    // to three times in all; only silence chooses the old dialect at once.
    void versionAnswerChoosesDialect_data()
    {
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<int>("asked");
        QTest::addColumn<bool>("framed"); // every answer ends its exchange: a late one is awaited
        const QByteArray ok = "$OK#A#VER#3.1\r\n";
        QTest::newRow("2.3.1") << QList<QByteArray>{"$OK#A#VER#2.3.1\r\n"} << "2.3.1" << 1 << true;
        QTest::newRow("BUSY first") << QList<QByteArray>{"$BUSY#A#VER\r\n", ok} << "3.1" << 2 << true;
        QTest::newRow("NG twice") << QList<QByteArray>{"$NG#A#VER\r\n", "$NG#A#VER\r\n", ok} << "3.1" << 3 << true;
        QTest::newRow("garbage first") << QList<QByteArray>{QByteArray("\x7f\x01~%?\xfe\r\n"), ok} << "3.1" << 2 << false;
        QTest::newRow("short first") << QList<QByteArray>{"$OK#A#VER#\r\n", ok} << "3.1" << 2 << true;
        QTest::newRow("merged BUSY and version") << QList<QByteArray>{"$BUSY#A#VER\r\n" + ok, ok} << "3.1" << 2 << true;
        QTest::newRow("five fields") << QList<QByteArray>{"$OK#A#VER#2.5#X\r\n"} << "" << 3 << true;
        QTest::newRow("old board says NG") << QList<QByteArray>{"NG\r\n"} << "" << 3 << false;
        QTest::newRow("silence") << QList<QByteArray>{QByteArray()} << "" << 1 << false;
    }

    void versionAnswerChoosesDialect()
    {
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QString, firmware);
        QFETCH(int, asked);
        QFETCH(bool, framed);
        BoardBench b;
        b.script([answers](const QString &line) mutable -> std::optional<Pieces> {
            if (line != QLatin1String("$A#VER"))
                return std::nullopt;
            return reply(answers.size() > 1 ? answers.takeFirst() : answers.first());
        });
        if (framed) // an answer that comes late on a loaded machine is still an answer
            b.controller.setExchangeTimeoutMs(10000);
        QVERIFY(b.board.start());
        QVERIFY(openController(b.controller, b.board.devicePath()));
        QCOMPARE(b.controller.getFirmwareText(), firmware);
        QCOMPARE(b.sent().mid(0, asked + 1).count("$A#VER"), asked);
    }

    // A board silent to the version question that answers it after the wait (a slow start)
    // speaks the new dialect: the link changes over, starting with the status exchange, instead
    // of sending it old-dialect commands it never answers. What the old dialect could not deliver
    // follows in the new one: the knob speeds, the light, the stage commands waiting.
    void lateVersionAnswerChangesTheDialectOver_data()
    {
        QTest::addColumn<bool>("commandsWaiting");
        QTest::newRow("right after the wait") << false;
        QTest::newRow("with commands waiting") << true;
    }

    void lateVersionAnswerChangesTheDialectOver()
    {
        QFETCH(bool, commandsWaiting);
        BoardBench b(QStringLiteral("3.1"));
        b.script([commandsWaiting](const QString &line) -> std::optional<Pieces> {
            if (line != QLatin1String("$A#VER"))
                return std::nullopt;
            if (commandsWaiting)
                return Pieces{}; // the test answers once the commands wait
            return reply("$OK#A#VER#3.1\r\n", Controller::kExchangeTimeoutMs + 300);
        });
        QVERIFY(b.board.start());
        QVERIFY(openController(b.controller, b.board.devicePath()));
        Controller &c = b.controller;
        QSignalSpy resumed(&c, &Controller::changeMotorSpeed);
        if (commandsWaiting) {
            QVERIFY(!c.existFirmwareVer());
            // The counter reset of the start is given up on; then nothing is until the answer.
            c.setReplyTimeoutMs(50);
            c.setZCommand("Z RESET");
            QVERIFY(pumpUntil([&] { return b.sent().contains("Z RESET") && c.isReadyToSend(); }, 30000));
            c.setReplyTimeoutMs(60000);
            pumpEvents(300); // a poll given the short wait ends it
            c.setCoarseKnobSpeed(30);
            c.setFineKnobSpeed(5);
            c.setLightOnOff(true);
            c.setLEDPower(40);
            c.setZCommand("Z SPEED 300");
            c.setZCommand("Z 100");
            b.board.writeRaw("$OK#A#VER#3.1\r\n");
        }
        QVERIFY(pumpUntil([&] { return c.getFilterPosition() >= 0 && c.getLensPosition() >= 1; }, 10000));
        QCOMPARE(c.getFirmwareText(), QStringLiteral("3.1"));
        QVERIFY(pumpUntil([] { return QSettings(Paths::configFile(), QSettings::IniFormat).value("NIMBO/Firmware") == "3.1"; },
                          10000));
        QVERIFY(c.getCurrentMotorPosition().has_value()); // a new-dialect query, answered
        if (!commandsWaiting)
            return;
        const QStringList expected{"$A#KNOB COARSE 30", "$A#KNOB FINE 5",
                                   QString("$A#LED BRT%1 400").arg(4 - c.getFilterPosition()), "$A#STAGE RESET", "$A#STAGE SPEED 300",
                                   "$A#STAGE 100"};
        QVERIFY(pumpUntil([&] { return !resumed.isEmpty(); }, 30000)); // the last step of the change
        const QStringList sent = b.sent();
        QCOMPARE(sent.mid(sent.indexOf("$A#STATUS")).filter(QRegularExpression("^\\$A#(KNOB|LED|STAGE (?!POS))")), expected);
    }

    void unopenablePortFails()
    {
        TestRoot root;
        Controller controller;
        QVERIFY(!openController(controller, root.path() + "/no-such-device"));
        QVERIFY(!controller.isPortOpen() && !controller.getCurrentMotorPosition()); // nothing hangs on a closed link
    }

    // Events split and merged are acknowledged in order; a garbled one is neither handled nor
    // acknowledged.
    void eventsAcknowledgedInOrder()
    {
        BoardBench b;
        QVERIFY(b.open());
        QSignalSpy speed(&b.controller, &Controller::changeMotorSpeed);
        b.board.writeRaw("$A#KNOB FI");
        pumpEvents(50);
        b.board.writeRaw(QByteArray("NE RUN\r\n$A#KNOB COARSE \x01RUN\r\n"));
        b.board.writeRaw("$A#KNOB COARSE RUN\r\n$A#KNOB COARSE STOP\r\n", 30);
        QVERIFY(pumpUntil([&] { return b.board.acknowledgements().size() >= 3; }, 5000));
        pumpEvents(50);
        QCOMPARE(b.board.acknowledgements(),
                 QStringList({"$OK#A#KNOB FINE RUN", "$OK#A#KNOB COARSE RUN", "$OK#A#KNOB COARSE STOP"}));
        QCOMPARE(speed.count(), 2);
    }

    void silentBoardExchangeEndsAtItsTimeOut()
    {
        BoardBench b;
        QVERIFY(b.open());
        b.script([](const QString &) { return std::optional<Pieces>(Pieces{}); });
        const int before = g_TimeoutCount;
        const int64_t t0 = MonotonicClock::nowMs();
        g_ExecMode = EXEC_SERIAL_LOG; // time-outs are counted only with serial logging
        QVERIFY(b.controller.sendToSerialPortFast("$A#STATUS\n", 1000).isEmpty());
        const int64_t took = MonotonicClock::nowMs() - t0;
        QVERIFY2(took >= 990 && took < 10000, qPrintable(QString::number(took))); // its full time-out, no hang
        QCOMPARE(g_TimeoutCount, before + 1);
        QVERIFY(b.controller.isReadyToSend());
    }

    // A position answered 1.3 s late: lost within the default wait of a second, read when the link
    // is given a longer wait; a wait of 0 gives the default back.
    void exchangeWaitsAsLongAsItIsGiven_data()
    {
        QTest::addColumn<QList<int>>("waits"); // set in this order
        QTest::addColumn<bool>("read");
        QTest::newRow("default") << QList<int>{} << false;
        QTest::newRow("three seconds") << QList<int>{3000} << true;
        QTest::newRow("back to the default") << QList<int>{3000, 0} << false;
    }
    void exchangeWaitsAsLongAsItIsGiven()
    {
        QFETCH(QList<int>, waits);
        QFETCH(bool, read);
        BoardBench b("3.1");
        QVERIFY(b.open());
        b.script([](const QString &line) -> std::optional<Pieces> {
            if (line != QLatin1String("$A#STAGE POS"))
                return std::nullopt;
            return reply("$OK#A#STAGE POS#4321\r\n", Controller::kExchangeTimeoutMs + 300);
        });
        for (int ms : waits)
            b.controller.setExchangeTimeoutMs(ms);
        QCOMPARE(b.controller.getCurrentMotorPosition(), read ? std::optional<int>(4321) : std::nullopt);
    }

    // New dialect: an exchange takes only the reply to its command; an event inside it is handled
    // once it is over; a reply to another command, or a late one after an exchange that timed out,
    // is dropped and never read as a report.
    void newDialectExchangeTakesOnlyItsReply()
    {
        BoardBench b("2.3");
        b.instrument.turnFilter(2, 0);
        QVERIFY(b.open());
        b.script([](const QString &line) -> std::optional<Pieces> {
            if (line == QLatin1String("$A#STAGE POS"))
                return Pieces{{2, "$A#KNOB FINE RUN\r\n$OK#A#FILTER 1\r\n$OK#A#STAGE 99\r\n"},
                              {40, "$OK#A#STAGE POS#4321\r\n"}};
            if (line == QLatin1String("$A#STAGE LIMIT TOP")) // reply and an event in one delivery
                return reply("$OK#A#STAGE LIMIT TOP#1\r\n$A#KNOB COARSE RUN\r\n");
            if (line == QLatin1String("$A#STAGE LIMIT BOTTOM"))
                return reply("$OK#A#OBJ#1\r\n");
            if (line == QLatin1String("$A#FILTER"))
                return reply("$OK#A#FILTER 1\r\n", 1500); // after the exchange gave up
            return std::nullopt;
        });
        QSignalSpy speed(&b.controller, &Controller::changeMotorSpeed);
        QSignalSpy filter(&b.controller, &Controller::changeFilterPosition);
        QSignalSpy stage(&b.controller, &Controller::changeStagePos);
        QCOMPARE(b.controller.getCurrentMotorPosition(), std::optional<int>(4321));
        QVERIFY(b.board.waitForLine("$OK#A#KNOB FINE RUN", 5000) >= 0);
        QCOMPARE(speed.count(), 0); // handled once the exchange is over
        QVERIFY(pumpUntil([&] { return speed.count() == 1; }, 5000));
        QVERIFY(b.controller.CheckMotorPosition(MOVE_LIMIT_TOP));
        QVERIFY(pumpUntil([&] { return speed.count() == 2; }, 5000)); // the surplus event stays for the reader
        QVERIFY(!b.controller.CheckMotorPosition(MOVE_LIMIT_BOTTOM));
        QVERIFY(b.controller.sendToSerialPort("FILTER"));
        pumpEvents(1000); // the late reply arrives and is dropped
        b.controller.sendToSerialPort("STAGE POS");
        QCOMPARE(filter.count(), 0);
        QCOMPARE(b.controller.getFilterPosition(), 2);
        QCOMPARE(stage.count(), 1);
        QCOMPARE(stage.at(0).at(0).toInt(), 4321);
    }

    // Each command takes only its own answer; an answer of the same topic to another command (a
    // late one, say) is dropped. "%1" stands for the command itself.
    void eachCommandTakesItsOwnAnswer_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("other");
        QTest::addColumn<QByteArray>("own");
        auto row = [](const char *command, const char *other, const char *own) {
            QTest::newRow(command) << command << QByteArray(other) << QByteArray(own);
        };
        row("STAGE SPEED 700", "$OK#A#STAGE 0", "$OK#A#%1");
        row("STAGE 3000", "$OK#A#STAGE SPEED 700", "$OK#A#STAGE 120");
        row("STAGE STOP", "$OK#A#STAGE POS#5", "$OK#A#STAGE 5");
        row("SLIDER TOP", "$OK#A#SLIDER SPEED 5", "$OK#A#STAGE 100");
        row("STAGE#MAX#123", "$OK#A#STAGE 5", "$OK#A#%1");
        row("KNOB COARSE 70", "$OK#A#KNOB FINE 70", "$OK#A#%1");
        row("LED BRT2 500", "$OK#A#LED OFF2", "$OK#A#%1");
        row("STAGE POS", "$OK#A#STAGE 12", "$OK#A#STAGE POS#12");
        row("STAGE LIMIT TOP", "$OK#A#STAGE LIMIT BOTTOM#1", "$OK#A#STAGE LIMIT TOP#0");
        row("FILTER", "$OK#A#STATUS#FILTER 1#OBJ 2", "$OK#A#FILTER 2");
        row("OBJ", "$OK#A#FILTER 2", "$OK#A#OBJ 3");
        row("STATUS", "$OK#A#STAGE POS#1", "$OK#A#STATUS#FILTER 1#OBJ 2");
        row("VER", "$OK#A#VERSION#1", "$OK#A#VER#3.1");
        row("STAGE 2000", "$BUSY#A#STAGE 3000", "$BUSY#A#%1");
    }

    void eachCommandTakesItsOwnAnswer()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, other);
        QFETCH(QByteArray, own);
        BoardBench b("3.1");
        QVERIFY(b.open());
        const QByteArray ownReply = QString::fromLatin1(own).arg(command).toLatin1();
        b.script([&](const QString &line) -> std::optional<Pieces> {
            if (line == "$A#" + command)
                return Pieces{{2, other + "\r\n"}, {20, ownReply + "\r\n"}};
            return std::nullopt;
        });
        QCOMPARE(b.controller.sendToSerialPortFast("$A#" + command + "\n", Controller::kExchangeTimeoutMs),
                 QStringList{QString::fromLatin1(ownReply)});
    }

    // The answer to a speed exchange that timed out comes during the next move's exchange: it is
    // dropped and logged, and the move's own answer is taken.
    void lateAnswerIsNeverTheNextOnes()
    {
        BoardBench b("3.1");
        QVERIFY(b.open());
        b.board.injectFault({BoardFault::Late, 1, "STAGE SPEED"});
        QVERIFY(b.controller.sendToSerialPortFast("$A#STAGE SPEED 700\n", Controller::kExchangeTimeoutMs).isEmpty());
        QTest::ignoreMessage(QtDebugMsg, "DROPPED : \"$OK#A#STAGE SPEED 700\"");
        const QStringList moved = b.controller.sendToSerialPortFast("$A#STAGE 3000\n", Controller::kExchangeTimeoutMs);
        QCOMPARE(moved.size(), 1);
        QVERIFY2(QRegularExpression("^\\$OK#A#STAGE -?[0-9]+$").match(moved.first()).hasMatch(), qPrintable(moved.first()));
    }

    // "NG" is answered by sending the command again, twice at most, and the third refusal is no
    // position; "BUSY" drops the command. Both dialects.
    void refusalsAndBusy_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("old") << "old";
        QTest::newRow("2.3") << "2.3";
    }

    void refusalsAndBusy()
    {
        QFETCH(QString, profile);
        BoardBench b(profile);
        b.instrument.turnFilter(1, 0);
        QVERIFY(b.open());
        Controller &c = b.controller;
        const QString filter = profile == "old" ? "FILTER" : "$A#FILTER";
        QSignalSpy changed(&c, &Controller::changeFilterPosition);
        auto ask = [&](const char *command, int lines) {
            b.board.clearLog();
            QVERIFY(c.sendToSerialPort(command));
            QVERIFY(pumpUntil([&] { return b.sent().count(filter) >= lines && c.isReadyToSend(); }, 30000));
            pumpEvents(50);
            QCOMPARE(b.sent().count(filter), lines);
        };
        b.board.injectFault({BoardFault::Ng, 1});
        b.instrument.turnFilter(2, 0);
        ask("FILTER", 2);
        QCOMPARE(c.getFilterPosition(), 2);
        b.board.injectFault({BoardFault::Ng, 3});
        b.instrument.turnFilter(3, 0);
        ask("FILTER", 3);
        b.board.injectFault({BoardFault::Busy, 1});
        ask("FILTER", 1);
        QCOMPARE(c.getFilterPosition(), 2);
        QCOMPARE(changed.count(), 1); // neither "NG" nor "BUSY" is read as a position
    }

    void oldDialectQueuesAndFreesTheLink()
    {
        BoardBench b("old");
        bool silent = false; // FILTER and Z STOP go unanswered
        b.script([&](const QString &line) {
            return silent && (line == "FILTER" || line == "Z STOP") ? std::optional<Pieces>(Pieces{}) : oldAnswer(line, 1, 2);
        });
        QVERIFY(b.open(true));
        QVERIFY(!b.controller.existFirmwareVer());
        QVERIFY(pumpUntil([&] { return b.controller.getLensPosition() == 2 && b.controller.getFilterPosition() == 1; }, 5000));
        QVERIFY(b.controller.checkLensAndFilterPosition());
        b.controller.StopPulling();
        pumpEvents(50);

        // On an idle link the light and its power go out as one command.
        b.board.clearLog();
        b.controller.setLightOnOff(true);
        b.controller.setLEDPower(30);
        QVERIFY(pumpUntil([&] { return b.controller.isReadyToSend() && !b.sent().isEmpty(); }, 5000));
        pumpEvents(100);
        QCOMPARE(b.sent(), QStringList({"LED 1 30"}));

        // A command in flight refuses the next; the LED queue sends only its newest command.
        b.board.clearLog();
        QVERIFY(b.controller.sendToSerialPort("FILTER"));
        QVERIFY(!b.controller.sendToSerialPort("OBJLENS"));
        b.controller.setLEDPower(40);
        b.controller.setLEDPower(45);
        QVERIFY(pumpUntil([&] { return b.sent().size() >= 2; }, 5000));
        pumpEvents(100);
        QCOMPARE(b.sent(), QStringList({"FILTER", "LED 1 45"}));
        QCOMPARE(b.board.receivedLines().at(1).raw, QByteArray("LED 1 45\n"));

        // Z STOP is never held back, and it empties the stage queue.
        pumpEvents(50);
        b.board.clearLog();
        silent = true;
        QVERIFY(b.controller.sendToSerialPort("FILTER"));
        b.controller.setZCommand("Z 100");
        b.controller.setZCommand("Z STOP");
        QVERIFY(b.board.waitForLine("Z STOP", 5000) >= 0);
        // The lost reply frees the link after its time-out; polling goes on.
        QVERIFY(pumpUntil([&] { return b.controller.isReadyToSend(); }, 10 * Controller::kReplyTimeoutMs));
        QCOMPARE(b.sent(), QStringList({"FILTER", "Z STOP"}));
        silent = false;
        b.controller.StartPulling();
        QVERIFY(pumpUntil([&] { return b.sent().contains("OBJLENS"); }, 5000));
    }

    // Old dialect: a write that fails frees the link at once, and the command queued behind it is
    // sent without waiting for a reply or a poll.
    void oldDialectFailedWriteFreesTheLink()
    {
        BoardBench b("old");
        b.script([](const QString &line) { return oldAnswer(line, 1, 2); });
        QVERIFY(b.open());
        QVERIFY(b.controller.sendToSerialPort("FILTER")); // in flight: the stage commands queue up
        b.controller.setWriteFailures(1);
        b.controller.setZCommand("Z SPEED 300"); // goes out after the reply, and fails
        b.controller.setZCommand("Z 100");
        QVERIFY2(pumpUntil([&] { return b.sent().contains("Z 100") && b.controller.isReadyToSend(); }, 5000),
                 qPrintable(b.sent().join('|')));
        QCOMPARE(b.sent(), QStringList({"FILTER", "Z 100"}));
    }

    // Old dialect: a move's reply is awaited as long as the move may last; a reply whose wait
    // ended, or that no command awaits, is dropped and never read as a later command's answer.
    void oldDialectLateRepliesAreDropped()
    {
        BoardBench b("old");
        b.script([](const QString &line) -> std::optional<Pieces> {
            if (line == QLatin1String("Z BOTTOM"))
                return Pieces{};
            if (line == QLatin1String("FILTER"))
                return reply("0\r\n", 1500); // after its wait of one second
            return oldAnswer(line, 3, 2);
        });
        QVERIFY(b.open());
        QSignalSpy filter(&b.controller, &Controller::changeFilterPosition);
        QSignalSpy lens(&b.controller, &Controller::changeLensPosition);
        QSignalSpy position(&b.controller, &Controller::signalCurrentMotorPosition);

        b.controller.setZCommand("Z BOTTOM");
        pumpEvents(2 * Controller::kReplyTimeoutMs);
        QVERIFY(b.controller.isAwaitingMoveReply());
        b.controller.StopPulling(); // gives the move up; the position is asked next
        b.controller.setZCommand("Z POS");
        b.board.writeRaw("0\r\n"); // the move's late answer
        QVERIFY(pumpUntil([&] { return position.count() == 1; }, 5000));
        b.board.writeRaw("7\r\n"); // no command awaits it
        pumpEvents(100);
        QCOMPARE(position.at(0).at(0).toInt(), 1234);

        QVERIFY(b.controller.sendToSerialPort("FILTER"));
        QVERIFY(pumpUntil([&] { return b.controller.isReadyToSend(); }, 10 * Controller::kReplyTimeoutMs));
        QVERIFY(b.controller.sendToSerialPort("OBJLENS")); // the late filter answer comes meanwhile
        QVERIFY(pumpUntil([&] { return lens.count() == 1; }, 5000));
        pumpEvents(100);
        QCOMPARE(lens.at(0).at(0).toInt(), 2);
        QCOMPARE(filter.count(), 0);
        QCOMPARE(position.count(), 1);
    }

    // Each fault of the board, through the polling and the stage queries: a reading is the true
    // one or none, the link ends free, and nothing hangs ("%1" stands for the command answered).
    void faultsNeitherHangNorMislead_data()
    {
        QTest::addColumn<Pieces>("answer");
        QTest::newRow("silence") << Pieces{};
        QTest::newRow("BUSY") << reply("$BUSY#A#%1\r\n");
        QTest::newRow("NG") << reply("$NG#A#%1\r\n");
        QTest::newRow("split") << Pieces{{2, "$OK#A#STAGE"}, {30, " POS#77"}, {60, "7\r\n"}};
        QTest::newRow("merged") << reply("$OK#A#STAGE POS#777\r\n$OK#A#STAGE POS#778\r\n");
        QTest::newRow("garbage") << reply("\x7f\x01~%?\xfe\x80\r\n");
        QTest::newRow("event inside") << Pieces{{2, "$A#KNOB FINE STOP\r\n"}, {20, "$OK#A#STAGE POS#777\r\n"}};
        QTest::newRow("800000") << reply("$OK#A#STAGE POS#800000\r\n");
        QTest::newRow("short") << reply("$OK#A#STAGE POS\r\n");
        QTest::newRow("never ends") << reply("$OK#A#STAGE POS#777");
    }

    void faultsNeitherHangNorMislead()
    {
        QFETCH(Pieces, answer);
        BoardBench b;
        bool faulty = false;
        b.script([&](const QString &line) -> std::optional<Pieces> {
            if (!faulty)
                return std::nullopt;
            Pieces out = answer;
            for (BoardSimulator::Piece &p : out)
                p.bytes.replace("%1", line.mid(3).toLatin1());
            return out;
        });
        QVERIFY(b.open(true));
        faulty = true;
        const int64_t t0 = MonotonicClock::nowMs();
        pumpEvents(700); // polling under the fault
        const std::optional<int> position = b.controller.getCurrentMotorPosition();
        pumpEvents(20);
        b.controller.setZCommand("Z 100");
        pumpEvents(100);
        if (position)
            QCOMPARE(*position, 777);
        QVERIFY(b.controller.isReadyToSend());
        QVERIFY(MonotonicClock::nowMs() - t0 < 20 * Controller::kExchangeTimeoutMs);
    }
};

QTEST_MAIN(TestControllerLink)
#include "tst_controller_link.moc"
