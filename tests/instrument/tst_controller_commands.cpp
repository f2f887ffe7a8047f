// The controller's commands against the simulated board on a pseudo-terminal: dialect detection
// for every firmware profile, the start-up status and its fallbacks, polling cadence, turret
// reports, light commands, knob events and the parfocal correction after an objective change.
#include "BoardSimulator.h"
#include "Controller.h"
#include "ControllerTestSupport.h"
#include "Globals.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ScriptedBoard.h"
#include "TestRoot.h"
#include "VirtualInstrument.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// A simulated board of one profile with the controller opened on it.
struct SimBench
{
    TestRoot root;
    VirtualInstrument instrument;
    BoardProfile profile;
    std::unique_ptr<BoardSimulator> board;
    Controller controller;

    bool open(const QString &profileName)
    {
        if (!BoardProfile::fromName(profileName, &profile))
            return false;
        board = std::make_unique<BoardSimulator>(instrument, profile);
        return board->start() && openController(controller, board->devicePath());
    }
};

void writeConfig(const char *section, const char *key, const char *value)
{
    WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
}

} // namespace

class TestControllerCommands : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        g_ExecMode = EXEC_NORMAL;
        g_CurrentMenu = MENU_MULTICOLOR;
    }

    void detectsEveryProfile_data()
    {
        QTest::addColumn<QString>("profile");
        for (const QString &name : BoardProfile::names())
            QTest::newRow(qPrintable(name)) << name;
    }

    void detectsEveryProfile()
    {
        QFETCH(QString, profile);
        SimBench bench;
        bench.instrument.turnFilter(2, 0);
        bench.instrument.turnObjective(3, 0);
        QVERIFY(bench.open(profile));
        const bool isNew = profile != QLatin1String("old");
        QCOMPARE(bench.controller.existFirmwareVer(), isNew);
        QCOMPARE(bench.controller.getFirmwareText(), isNew ? profile : QString());
        QCOMPARE(readConfigWithPython("NIMBO", "Firmware"), isNew ? profile : QString());
        QCOMPARE(bench.controller.isStageSpeedByMaxAcc(), profile == "2.6" || profile == "2.8");

        // The start-up reads (new dialect) or the first polls (old) give both turrets.
        QVERIFY(pumpUntil([&] { return bench.controller.getLensPosition() == 3; }, 3000));
        QCOMPARE(bench.controller.getFilterPosition(), 2);
        QVERIFY(bench.controller.checkLensAndFilterPosition());
        const QStringList sent = bench.board->receivedTexts();
        QCOMPARE(sent.value(0), QStringLiteral("$A#VER"));
        if (profile == QLatin1String("2.3")) // no status query: refused, then asked one by one
            QCOMPARE(sent.mid(1, 3), QStringList({"$A#STATUS", "$A#FILTER", "$A#OBJ"}));
        else if (isNew)
            QCOMPARE(sent.value(1), QStringLiteral("$A#STATUS"));
    }

    void startupFallbacks_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("filter");
        QTest::addColumn<QByteArray>("objective");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<int>("filterPosition");
        QTest::addColumn<int>("lens");

        QTest::newRow("status") << QByteArray("$OK#A#STATUS#FILTER 4#OBJ 2\r\n") << QByteArray() << QByteArray()
                                << QStringList{"$A#STATUS"} << 0 << 2;
        QTest::newRow("turret between positions")
            << QByteArray("$OK#A#STATUS#FILTER 0#OBJ 2\r\n") << QByteArray("$OK#A#FILTER 1\r\n") << QByteArray()
            << QStringList{"$A#STATUS", "$A#FILTER"} << 3 << 2;
        QTest::newRow("status silent") << QByteArray() << QByteArray("$OK#A#FILTER 2\r\n")
                                       << QByteArray("$OK#A#OBJ 5\r\n")
                                       << QStringList{"$A#STATUS", "$A#FILTER", "$A#OBJ"} << 2 << 5;
        QTest::newRow("status short") << QByteArray("$OK#A#STATUS#FILTER 4\r\n") << QByteArray("$OK#A#FILTER 3\r\n")
                                      << QByteArray("$OK#A#OBJ 1\r\n")
                                      << QStringList{"$A#STATUS", "$A#FILTER", "$A#OBJ"} << 1 << 1;
        QTest::newRow("everything fails") << QByteArray("$NG#A#STATUS\r\n") << QByteArray() << QByteArray("$OK#A#OBJ\r\n")
                                          << QStringList{"$A#STATUS", "$A#FILTER", "$A#OBJ"} << -1 << 0;
    }

    void startupFallbacks()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, filter);
        QFETCH(QByteArray, objective);
        QFETCH(QStringList, asked);
        QFETCH(int, filterPosition);
        QFETCH(int, lens);
        TestRoot root;
        ScriptedBoard board;
        board.setResponder([&](const QString &line) -> QList<ScriptedBoard::Chunk> {
            auto answer = [](const QByteArray &bytes) {
                return bytes.isEmpty() ? QList<ScriptedBoard::Chunk>{} : ScriptedBoard::reply(bytes);
            };
            if (line == QLatin1String("$A#VER"))
                return ScriptedBoard::reply("$OK#A#VER#2.6\r\n");
            if (line == QLatin1String("$A#STATUS"))
                return answer(status);
            if (line == QLatin1String("$A#FILTER"))
                return answer(filter);
            if (line == QLatin1String("$A#OBJ"))
                return answer(objective);
            return {};
        });
        QVERIFY(board.start());
        Controller controller;
        QSignalSpy filterSpy(&controller, &Controller::changeFilterPosition);
        QSignalSpy lensSpy(&controller, &Controller::changeLensPosition);
        QVERIFY(openController(controller, board.devicePath()));
        controller.StopPulling();
        QCOMPARE(board.texts().mid(1, asked.size()), asked);
        QCOMPARE(controller.getReportedFilter(), filterPosition);
        QCOMPARE(controller.getReportedLens(), lens);
        QCOMPARE(filterSpy.count(), 1);
        QCOMPARE(lensSpy.count(), 1);
        QCOMPARE(controller.checkLensAndFilterPosition(), filterPosition >= 0 && lens >= 1);
    }

    void pollingCadence_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("old") << "old" << "FILTER" << "OBJLENS";
        QTest::newRow("2.3") << "2.3" << "$A#FILTER" << "$A#STAGE POS";
        QTest::newRow("2.4") << "2.4" << "$A#STATUS" << "$A#STAGE POS";
        QTest::newRow("3.1") << "3.1" << "$A#STATUS" << "$A#STAGE POS";
    }

    void pollingCadence()
    {
        QFETCH(QString, profile);
        QFETCH(QString, first);
        QFETCH(QString, second);
        SimBench bench;
        QVERIFY(bench.open(profile));
        bench.board->clearLog();
        pumpEvents(2100);
        const QVector<BoardSimulator::ReceivedLine> lines = bench.board->receivedLines();
        QVERIFY2(lines.size() >= 9 && lines.size() <= 11, qPrintable(QString::number(lines.size())));
        for (int i = 0; i < lines.size(); ++i) {
            QCOMPARE(lines[i].text, lines[0].text == first ? (i % 2 ? second : first) : (i % 2 ? first : second));
            QCOMPARE(lines[i].raw, lines[i].text.toLatin1() + '\n');
            if (i > 0) {
                const int64_t gap = lines[i].timeMs - lines[i - 1].timeMs;
                QVERIFY2(gap >= 150 && gap <= 280, qPrintable(QString::number(gap)));
            }
        }
    }

    void ledCommandsPerVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("filterSlot");
        QTest::addColumn<int>("menu");
        QTest::addColumn<QString>("expected");
        QTest::newRow("2.6 position 2") << "2.6" << 2 << int(MENU_MULTICOLOR) << "$A#LED BRT2 500";
        QTest::newRow("2.6 cell count Trans") << "2.6" << 4 << int(MENU_CELLCOUNT) << "$A#LED BRT4 50";
        QTest::newRow("2.6 cell count position 1") << "2.6" << 3 << int(MENU_CELLCOUNT) << "$A#LED BRT3 500";
        QTest::newRow("2.5 unscaled") << "2.5" << 2 << int(MENU_MULTICOLOR) << "$A#LED BRT2 50";
        QTest::newRow("3.1 position 3") << "3.1" << 1 << int(MENU_MULTICOLOR) << "$A#LED BRT1 500";
    }

    void ledCommandsPerVersion()
    {
        QFETCH(QString, version);
        QFETCH(int, filterSlot);
        QFETCH(int, menu);
        QFETCH(QString, expected);
        TestRoot root;
        ScriptedBoard board;
        ScriptedBoard::Health health;
        health.version = version;
        health.filterSlot = filterSlot;
        board.setResponder([&](const QString &line) { return ScriptedBoard::healthyReply(line, health); });
        QVERIFY(board.start());
        Controller controller;
        QVERIFY(openController(controller, board.devicePath()));
        controller.StopPulling();
        g_CurrentMenu = static_cast<TCurrentMenu>(menu);
        board.clearLog();

        controller.setLEDPower(50); // light off: nothing goes out
        controller.setLightOnOff(true);
        QCOMPARE(board.texts(), QStringList());
        controller.setLEDPower(50);
        QCOMPARE(board.texts(), QStringList({expected}));
        QCOMPARE(board.lines().at(0).raw, expected.toLatin1() + '\n');

        controller.unscaledLedPower = true;
        controller.setLEDPower(7);
        controller.setLightOnOff(false);
        QCOMPARE(board.texts().mid(1), QStringList({QString(expected).section(' ', 0, 1) + " 7",
                                                    "$A#LED OFF" + QString::number(filterSlot)}));
    }

    void statusReportsReversedSlots()
    {
        TestRoot root;
        ScriptedBoard board;
        ScriptedBoard::Health health;
        health.version = QStringLiteral("2.4");
        board.setResponder([&](const QString &line) { return ScriptedBoard::healthyReply(line, health); });
        QVERIFY(board.start());
        Controller controller;
        QVERIFY(openController(controller, board.devicePath()));
        controller.StopPulling();
        QCOMPARE(controller.getFilterPosition(), 0);
        QSignalSpy filter(&controller, &Controller::changeFilterPosition);

        const QList<QPair<int, int>> steps = {{1, 3}, {2, 2}, {3, 1}, {4, 0}};
        for (const auto &step : steps) {
            health.filterSlot = step.first;
            controller.sendToSerialPort("STATUS");
            QCOMPARE(controller.getFilterPosition(), step.second);
            QVERIFY(controller.isFilterInPosition());
        }
        QCOMPARE(filter.count(), 4);

        // Between positions: -1 once, the same report again emits nothing.
        health.filterSlot = 0;
        controller.sendToSerialPort("STATUS");
        controller.sendToSerialPort("STATUS");
        QCOMPARE(filter.count(), 5);
        QCOMPARE(filter.last().at(0).toInt(), -1);
        QVERIFY(!controller.isFilterInPosition());
        QCOMPARE(controller.getFilterPosition(), 0); // the last valid position stays

        // Same in QC test mode: the flag stays set and nothing is signalled.
        health.filterSlot = 2;
        controller.sendToSerialPort("STATUS");
        g_ExecMode = EXEC_QC_TEST;
        health.filterSlot = 0;
        controller.sendToSerialPort("STATUS");
        QCOMPARE(filter.count(), 6);
        QVERIFY(controller.isFilterInPosition());
        g_ExecMode = EXEC_NORMAL;
    }

    void turretTurnedByHand()
    {
        SimBench bench;
        QVERIFY(bench.open("2.3"));
        QSignalSpy filter(&bench.controller, &Controller::changeFilterPosition);
        bench.instrument.turnFilter(3, 1000);
        QVERIFY(pumpUntil([&] { return bench.controller.getFilterPosition() == 3; }, 3000));
        QVERIFY(bench.controller.isFilterInPosition());
        // The poll caught the turret between positions first.
        QVERIFY(filter.count() >= 2);
        QCOMPARE(filter.at(0).at(0).toInt(), -1);
        // The board's filter event was acknowledged.
        QVERIFY(pumpUntil([&] { return bench.board->unacknowledgedEvents().isEmpty()
                                       && !bench.board->acknowledgements().isEmpty(); }, 2000));
    }

    void knobEventsAcknowledged()
    {
        SimBench bench;
        QVERIFY(bench.open("3.1"));
        QSignalSpy speed(&bench.controller, &Controller::changeMotorSpeed);
        bench.instrument.turnKnob(false, 500, 200);
        QVERIFY(pumpUntil([&] { return bench.board->acknowledgements().size() >= 2; }, 3000));
        QCOMPARE(bench.board->acknowledgements().mid(0, 2),
                 QStringList({"$OK#A#KNOB FINE RUN", "$OK#A#KNOB FINE STOP"}));
        for (const BoardSimulator::ReceivedLine &line : bench.board->receivedLines()) {
            if (line.text.startsWith("$OK#"))
                QCOMPARE(line.raw, line.text.toLatin1() + "\r\n");
        }
        QCOMPARE(speed.count(), 1);
        QVERIFY(bench.board->unacknowledgedEvents().isEmpty());
    }

    void objectiveChangeCorrectsFocus()
    {
        SimBench bench;
        writeConfig("LensPos", "1", "20000");
        writeConfig("LensPos", "2", "23000");
        writeConfig("LensPos", "Speed", "900");
        QVERIFY(bench.open("2.4"));
        QCOMPARE(bench.controller.getLensPosition(), 1);
        QSignalSpy speed(&bench.controller, &Controller::changeMotorSpeed);

        bench.board->clearLog();
        bench.instrument.turnObjective(2, 100);
        QVERIFY(pumpUntil([&] { return bench.board->receivedTexts().contains("$A#STAGE 3000"); }, 3000));
        const QStringList sent = bench.board->receivedTexts();
        const int move = sent.indexOf("$A#STAGE 3000");
        QCOMPARE(sent.value(move - 1), QStringLiteral("$A#STAGE SPEED 700"));
        QVERIFY(speed.count() >= 1);

        bench.board->clearLog();
        bench.instrument.turnObjective(1, 100);
        QVERIFY(pumpUntil([&] { return bench.board->receivedTexts().contains("$A#STAGE -3000"); }, 3000));

        // Without a stored position for the objective nothing moves.
        bench.board->clearLog();
        bench.instrument.turnObjective(4, 100);
        pumpEvents(1500);
        for (const QString &line : bench.board->receivedTexts())
            QVERIFY2(!line.startsWith("$A#STAGE SPEED"), qPrintable(line));
    }
};

QTEST_MAIN(TestControllerCommands)
#include "tst_controller_commands.moc"
