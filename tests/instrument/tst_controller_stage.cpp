// Focus-stage moves: completion by two equal readings or the target, the cap of the wait, the
// maximum speed of a move, position and limit queries and their failures, and the replies that
// drive the focus controls.
#include "ControllerTestSupport.h"
#include "Globals.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QRegularExpression>

#include <QSignalSpy>
#include <QtTest>

namespace {

// A new-dialect board whose position readings come from a list (the last repeats); a move is
// answered "$OK#A#STAGE <first reading>"; commands in silent go unanswered.
struct ReadingBoard : BoardBench
{
    QList<int> readings{1000};
    QSet<QString> silent;
    int positionQueries = 0;

    explicit ReadingBoard(const QString &version = QStringLiteral("3.1"))
        : BoardBench(version)
    {
        script([this](const QString &line) -> std::optional<Pieces> {
            if (silent.contains(line))
                return Pieces{};
            if (line == QLatin1String("$A#STAGE POS")) {
                ++positionQueries;
                const int value = readings.size() > 1 ? readings.takeFirst() : readings.first();
                return reply(QStringLiteral("$OK#A#STAGE POS#%1\r\n").arg(value).toLatin1());
            }
            static const QRegularExpression move(QStringLiteral("^\\$A#(STAGE|SLIDER) -?\\d+$"));
            if (move.match(line).hasMatch())
                return reply(QStringLiteral("$OK#A#STAGE %1\r\n").arg(readings.first()).toLatin1());
            return std::nullopt;
        });
    }
    bool start()
    {
        const bool ok = open();
        positionQueries = 0;
        return ok;
    }
};

// A clock that runs stepMs ahead at every look and never sleeps.
void fastClock(Controller &controller, int stepMs)
{
    auto now = std::make_shared<int64_t>(0);
    controller.motorPositioning().setClock([now, stepMs] { return *now += stepMs; }, [](int) {});
}

} // namespace

class TestControllerStage : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_ExecMode = EXEC_NORMAL; }

    void completionRule_data()
    {
        QTest::addColumn<QList<int>>("readings");
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("queries");
        QTest::newRow("target reached") << QList<int>{4800, 4990, 5000, 5100} << 5000 << 3;
        QTest::newRow("two equal readings") << QList<int>{4800, 4800} << 5000 << 2;
        QTest::newRow("first reading -1 is no agreement") << QList<int>{-1, 200, 300, 300} << 5000 << 4;
        QTest::newRow("no target") << QList<int>{10, 20, 20} << MotorPositioningThread::kNoTarget << 3;
    }

    void completionRule()
    {
        QFETCH(QList<int>, readings);
        QFETCH(int, target);
        QFETCH(int, queries);
        QList<int> left = readings;
        int taken = 0;
        MotorPositioningThread wait([&]() -> std::optional<int> {
            ++taken;
            return left.size() > 1 ? left.takeFirst() : left.first();
        });
        wait.setClock(nullptr, [](int) {});
        QVERIFY(wait.waitUntilStopped(target, 0));
        QCOMPARE(taken, queries);
    }

    void capEndsTheWait()
    {
        int taken = 0;
        int64_t now = 0;
        MotorPositioningThread wait([&]() -> std::optional<int> {
            ++taken;
            return taken % 3 ? std::optional<int>(taken) : std::nullopt; // moving, with failed readings
        });
        wait.setClock([&] { return now; }, [&](int ms) { now += ms; });
        QVERIFY(!wait.waitUntilStopped(MotorPositioningThread::kNoTarget, 0));
        QCOMPARE(now, int64_t(MotorPositioningThread::kDefaultTimeoutMs));
        QCOMPARE(taken, MotorPositioningThread::kDefaultTimeoutMs / MotorPositioningThread::kReadingIntervalMs + 1);
    }

    void moveCompletesOnTheSimulatedStage()
    {
        BoardBench b("2.8");
        QVERIFY(b.open());
        QSignalSpy completed(&b.controller, &Controller::signalMotorPositioningCompleted);
        const int start = b.instrument.state().stagePosition;
        b.controller.setMotorPositioningCheck(true);
        b.controller.setMotorMaxSpeed(20000);
        QCOMPARE(b.controller.getTargetPosition(), start + 20000);
        b.controller.setZCommand("Z 20000");
        QVERIFY(!b.controller.motorPositioningCheck());
        QCOMPARE(completed.count(), 1);
        QVERIFY(!b.instrument.state().stageMoving);
        QCOMPARE(b.instrument.state().stagePosition, start + 20000);
    }

    // A move whose reply is lost or refused still ends in a completion wait.
    void moveWithLostOrRefusedReplyStillCompletes()
    {
        ReadingBoard b;
        QVERIFY(b.start());
        b.silent.insert("$A#STAGE 500");
        b.readings = {1000, 1200, 1500, 1500};
        QSignalSpy completed(&b.controller, &Controller::signalMotorPositioningCompleted);
        b.controller.setMotorPositioningCheck(true);
        b.controller.setZCommand("Z 500");
        QVERIFY(!b.controller.motorPositioningCheck());
        QCOMPARE(b.positionQueries, 4);
        QVERIFY(pumpUntil([&] { return completed.count() == 1; }, 5000));
        b.board.injectFault({BoardFault::Busy, 1, QStringLiteral("BOTTOM")});
        b.controller.setMotorPositioningCheck(true);
        b.controller.setZCommand("Z BOTTOM");
        QVERIFY(pumpUntil([&] { return completed.count() == 2; }, 5000));
    }

    void capWithSilentBoardSignalsCompletion()
    {
        ReadingBoard b;
        QVERIFY(b.start());
        b.silent.insert("$A#STAGE POS");
        fastClock(b.controller, 1000); // every look at the clock: a second later
        QSignalSpy completed(&b.controller, &Controller::signalMotorPositioningCompleted);
        b.controller.setMotorPositioningCheck(true);
        QVERIFY(!b.controller.isMotorMovingFinished(2000));
        QVERIFY(!b.controller.motorPositioningCheck());
        QVERIFY(b.positionQueries <= 2); // the cap runs on the (fake) clock, not on the readings
        QVERIFY(pumpUntil([&] { return completed.count() == 1; }, 5000));
    }

    void maxSpeedPerMove_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("accel");
        QTest::addColumn<QString>("reduction");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("2.8") << "2.8" << "" << "" << QStringList{"$A#STAGE#MAX#90", "$A#STAGE#ACC#700"};
        QTest::newRow("2.6 accel 1000 reduction 0.5")
            << "2.6" << "1000" << "0.5" << QStringList{"$A#STAGE#MAX#54", "$A#STAGE#ACC#1000"};
        QTest::newRow("2.6 accel 1400") // beyond the dialog's 1000: the default
            << "2.6" << "1400" << "" << QStringList{"$A#STAGE#MAX#90", "$A#STAGE#ACC#700"};
        QTest::newRow("2.8 bad settings") << "2.8" << "x" << "-2" << QStringList{"$A#STAGE#MAX#90", "$A#STAGE#ACC#700"};
        QTest::newRow("3.1") << "3.1" << "" << "" << QStringList{};
        QTest::newRow("2.5") << "2.5" << "" << "" << QStringList{};
    }

    void maxSpeedPerMove()
    {
        QFETCH(QString, version);
        QFETCH(QString, accel);
        QFETCH(QString, reduction);
        QFETCH(QStringList, sent);
        ReadingBoard b(version);
        if (!accel.isEmpty()) {
            const std::string file = Paths::configFile().toStdString();
            WritePrivateProfileString("Setting_Misc", "Accel", accel.toStdString(), file);
            WritePrivateProfileString("Setting_Misc", "Reduction", reduction.toStdString(), file);
        }
        QVERIFY(b.start());
        Controller &controller = b.controller;
        controller.setMotorMaxSpeed(10000);
        QCOMPARE(controller.getTargetPosition(), 11000);
        QCOMPARE(b.sent(), QStringList{"$A#STAGE POS"} + sent);

        // The same distance again sends nothing more; a new speed command forces a resend.
        b.board.clearLog();
        controller.setMotorMaxSpeed(-10000);
        QCOMPARE(b.sent(), QStringList{"$A#STAGE POS"});
        b.board.clearLog();
        controller.setZCommandForSpeed(200);
        controller.setMotorMaxSpeed(-10000);
        QCOMPARE(b.sent().mid(1), QStringList({"$A#STAGE POS"}) + sent);
        if (!sent.isEmpty()) { // the stage's speed comes from MAX and ACC instead; the slider's stays
            b.board.clearLog();
            controller.setZCommand("Z SPEED 300");
            controller.setZCommand("SLIDER SPEED 300");
            QCOMPARE(b.sent(), QStringList({"$A#SLIDER SPEED 300"}));
        }
    }

    void positionReadings_data()
    {
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<int>("expected"); // -1: no position
        QTest::addColumn<int>("queries");
        QTest::newRow("good") << QList<QByteArray>{"$OK#A#STAGE POS#1234\r\n"} << 1234 << 1;
        QTest::newRow("800000 then good")
            << QList<QByteArray>{"$OK#A#STAGE POS#800000\r\n", "$OK#A#STAGE POS#4321\r\n"} << 4321 << 2;
        QTest::newRow("800000 twice") << QList<QByteArray>{"$OK#A#STAGE POS#800000\r\n"} << -1 << 2;
        QTest::newRow("not a number") << QList<QByteArray>{"$OK#A#STAGE POS#12x\r\n"} << -1 << 1;
        QTest::newRow("NG") << QList<QByteArray>{"$NG#A#STAGE POS\r\n"} << -1 << 1;
        QTest::newRow("silence") << QList<QByteArray>{QByteArray()} << -1 << 1;
        QTest::newRow("zero is a position") << QList<QByteArray>{"$OK#A#STAGE POS#0\r\n"} << 0 << 1;
    }

    void positionReadings()
    {
        QFETCH(QList<QByteArray>, answers);
        QFETCH(int, expected);
        QFETCH(int, queries);
        ReadingBoard b;
        QVERIFY(b.start());
        Controller &controller = b.controller;
        QList<QByteArray> left = answers;
        b.script([&](const QString &line) -> std::optional<Pieces> {
            if (line != QLatin1String("$A#STAGE POS"))
                return std::nullopt;
            return reply(left.size() > 1 ? left.takeFirst() : left.first());
        });
        const std::optional<int> position = controller.getCurrentMotorPosition();
        QCOMPARE(position.has_value(), expected >= 0);
        if (position)
            QCOMPARE(*position, expected);
        QCOMPARE(b.sent().size(), queries);

        // A move planned without a known position has no target.
        if (!position) {
            controller.setMotorMaxSpeed(100);
            QCOMPARE(controller.getTargetPosition(), MotorPositioningThread::kNoTarget);
        }
    }

    void limitSwitches()
    {
        BoardBench b("3.1");
        QVERIFY(b.open());
        b.instrument.setStagePosition(b.instrument.state().stageLower);
        QVERIFY(b.controller.CheckMotorPosition(MOVE_LIMIT_BOTTOM));
        QVERIFY(!b.controller.CheckMotorPosition(MOVE_LIMIT_TOP));
        QCOMPARE(b.sent(), QStringList({"$A#STAGE LIMIT BOTTOM", "$A#STAGE LIMIT TOP"}));
        b.board.injectFault({BoardFault::ShortReply, 1, QStringLiteral("LIMIT")});
        QVERIFY(!b.controller.CheckMotorPosition(MOVE_LIMIT_BOTTOM));
    }

    void stageRepliesDriveTheFocusControls()
    {
        ReadingBoard b;
        QVERIFY(b.start());
        Controller &controller = b.controller;
        QSignalSpy focusing(&controller, &Controller::signalFocusingEnable);
        QSignalSpy current(&controller, &Controller::signalCurrentMotorPosition);
        QSignalSpy startPos(&controller, &Controller::signalMovedStartPosition);
        QSignalSpy moved(&controller, &Controller::signalMovedMotorPosition);
        QSignalSpy stagePos(&controller, &Controller::changeStagePos);

        controller.setMotorMovingStep(-40);
        controller.setZCommand("SLIDER -40");
        QCOMPARE(focusing.count(), 1);
        controller.SetFocusMoveByStep(false);
        controller.setZCommand("SLIDER -40");
        QCOMPARE(focusing.count(), 1);

        b.readings = {2345};
        controller.setZCommand("Z POS");
        QCOMPARE(current.count(), 1);
        QCOMPARE(current.at(0).at(0).toInt(), 2345);
        QCOMPARE(stagePos.last().at(0).toInt(), 2345);
        b.readings = {99};
        controller.sendToSerialPort("STAGE POS");
        QCOMPARE(stagePos.last().at(0).toInt(), 0); // 99 and below read as 0
        QCOMPARE(current.count(), 1);               // a poll is no answer to the panel

        controller.setStartZStacking(true);
        controller.setZCommand("Z POS");
        controller.setZCommand("Z 77");
        QCOMPARE(startPos.count(), 1);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(b.sent().last(), QStringLiteral("$A#STAGE 77"));
    }

    // The old dialect: Z-stack and focus-memory answers; no synchronous queries (position, limit
    // and maximum-speed calls ask the board nothing); a speed sent while a command is in flight
    // waits its turn instead of being dropped.
    void oldDialectStage()
    {
        BoardBench b("old");
        b.script([](const QString &line) -> std::optional<Pieces> {
            if (line.startsWith(QLatin1String("Z")))
                return reply("5120\r\n", line == QLatin1String("Z BOTTOM") ? 300 : 2);
            return std::nullopt;
        });
        QVERIFY(b.open());
        Controller &controller = b.controller;
        QSignalSpy startPos(&controller, &Controller::signalMovedStartPosition);
        QSignalSpy moved(&controller, &Controller::signalMovedMotorPosition);
        QSignalSpy memory(&controller, &Controller::signalSetCurrentFocusMemoryPosition);
        controller.setStartZStacking(true);
        controller.setZCommand("Z 300");
        controller.setZCommand("Z POS");
        QVERIFY(pumpUntil([&] { return startPos.count() == 1; }, 5000));
        QCOMPARE(moved.count(), 0); // the reply to "Z 300" sent the queued "Z POS"
        controller.setStartZStacking(false);
        controller.setCurrentFocusMemoryPosition(-2000);
        controller.setZCommand("Z -2000");
        QVERIFY(pumpUntil([&] { return memory.count() == 1 && controller.isReadyToSend(); }, 5000));
        QCOMPARE(b.sent(), QStringList({"Z 300", "Z POS", "Z -2000"}));
        b.board.clearLog();
        QVERIFY(!controller.getCurrentMotorPosition());
        QVERIFY(!controller.CheckMotorPosition(MOVE_LIMIT_BOTTOM));
        controller.setMotorMaxSpeed(500);
        QCOMPARE(controller.getTargetPosition(), MotorPositioningThread::kNoTarget);
        controller.setZCommand("Z BOTTOM");
        controller.setZCommandForSpeed(200); // while "Z BOTTOM" is in flight
        QVERIFY(pumpUntil([&] { return b.sent().size() >= 2; }, 5000));
        QCOMPARE(b.sent(), QStringList({"Z BOTTOM", "Z SPEED 200"}));
    }
};

QTEST_MAIN(TestControllerStage)
#include "tst_controller_stage.moc"
