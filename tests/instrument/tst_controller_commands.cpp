// The controller's commands against the simulated board on a pseudo-terminal: dialect detection
// for every firmware profile, the start-up status and its fallbacks, polling cadence, turret
// reports, light commands, knob events and the parfocal correction after an objective change.
#include "CameraAccess.h"
#include "ControllerTestSupport.h"
#include "Globals.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(QList<BoardFault>)

namespace {
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
        BoardBench bench(profile);
        bench.instrument.turnFilter(2, 0);
        bench.instrument.turnObjective(3, 0);
        QVERIFY(bench.open(true));
        const bool isNew = profile != QLatin1String("old");
        QCOMPARE(bench.controller.existFirmwareVer(), isNew);
        QCOMPARE(QSettings(Paths::configFile(), QSettings::IniFormat).value("NIMBO/Firmware").toString(), isNew ? profile : QString());
        QCOMPARE(bench.controller.isStageSpeedByMaxAcc(), profile == "2.6" || profile == "2.8");

        // The start-up reads (new dialect) or the first polls (old) give both turrets.
        QVERIFY(pumpUntil([&] { return bench.controller.getLensPosition() == 3; }, 3000));
        QCOMPARE(bench.controller.getFilterPosition(), 2);
        QVERIFY(bench.controller.checkLensAndFilterPosition());
        const QStringList sent = bench.board.receivedTexts();
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

        const QStringList all{"$A#STATUS", "$A#FILTER", "$A#OBJ"};
        auto row = [](const char *name, const char *status, const char *filter, const char *objective, const QStringList &asked,
                      int filterPosition, int lens) {
            QTest::newRow(name) << QByteArray(status) << QByteArray(filter) << QByteArray(objective) << asked << filterPosition << lens;
        };
        row("status", "$OK#A#STATUS#FILTER 4#OBJ 2\r\n", "", "", {"$A#STATUS"}, 0, 2);
        row("turrets between positions", "$OK#A#STATUS#FILTER 0#OBJ 0\r\n", "$OK#A#FILTER 1\r\n", "$OK#A#OBJ 3\r\n", all, 3, 3);
        row("status silent", "", "$OK#A#FILTER 2\r\n", "$OK#A#OBJ 5\r\n", all, 2, 5);
        row("status short", "$OK#A#STATUS#FILTER 4\r\n", "$OK#A#FILTER 3\r\n", "$OK#A#OBJ 1\r\n", all, 1, 1);
        row("everything fails", "$NG#A#STATUS\r\n", "", "$OK#A#OBJ\r\n", all, -1, 0);
    }

    void startupFallbacks()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, filter);
        QFETCH(QByteArray, objective);
        QFETCH(QStringList, asked);
        QFETCH(int, filterPosition);
        QFETCH(int, lens);
        BoardBench b;
        b.script([&](const QString &line) -> std::optional<Pieces> {
            if (line == QLatin1String("$A#STATUS"))
                return reply(status);
            if (line == QLatin1String("$A#FILTER"))
                return reply(filter);
            if (line == QLatin1String("$A#OBJ"))
                return reply(objective);
            return std::nullopt;
        });
        Controller &controller = b.controller;
        QSignalSpy filterSpy(&controller, &Controller::changeFilterPosition);
        QSignalSpy lensSpy(&controller, &Controller::changeLensPosition);
        QVERIFY(b.board.start() && openController(controller, b.board.devicePath()));
        controller.StopPulling();
        QCOMPARE(b.sent().mid(1, asked.size()), asked);
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
        QTest::newRow("3.1") << "3.1" << "$A#STATUS" << "$A#STAGE POS";
    }

    void pollingCadence()
    {
        QFETCH(QString, profile);
        QFETCH(QString, first);
        QFETCH(QString, second);
        BoardBench bench(profile);
        QVERIFY(bench.open(true));
        bench.board.clearLog();
        QVERIFY(pumpUntil([&] { return bench.board.receivedCount() >= 7; }, 10000));
        const QVector<BoardSimulator::ReceivedLine> lines = bench.board.receivedLines();
        for (int i = 1; i < lines.size(); ++i)
            QCOMPARE(lines[i].text, lines[0].text == first ? (i % 2 ? second : first) : (i % 2 ? first : second));
        // Paced by the timer, not sent back to back (a loose bound: the board's clock jitters).
        QVERIFY(lines.last().timeMs - lines.first().timeMs >= (lines.size() - 1) * 100);
    }

    void ledCommandsPerVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("menu");
        QTest::addColumn<QString>("expected");
        QTest::newRow("2.6 position 2") << "2.6" << 2 << int(MENU_MULTICOLOR) << "$A#LED BRT2 500";
        QTest::newRow("2.6 cell count Trans") << "2.6" << 0 << int(MENU_CELLCOUNT) << "$A#LED BRT4 50";
        QTest::newRow("2.6 cell count position 1") << "2.6" << 1 << int(MENU_CELLCOUNT) << "$A#LED BRT3 500";
        QTest::newRow("2.5 unscaled") << "2.5" << 2 << int(MENU_MULTICOLOR) << "$A#LED BRT2 50";
        QTest::newRow("3.1 position 3") << "3.1" << 3 << int(MENU_MULTICOLOR) << "$A#LED BRT1 500";
    }

    void ledCommandsPerVersion()
    {
        QFETCH(QString, version);
        QFETCH(int, filter);
        QFETCH(int, menu);
        QFETCH(QString, expected);
        BoardBench b(version);
        b.instrument.turnFilter(filter, 0);
        QVERIFY(b.open());
        g_CurrentMenu = static_cast<TCurrentMenu>(menu);
        b.controller.setLEDPower(50); // light off: nothing goes out
        b.controller.setLightOnOff(true);
        QCOMPARE(b.sent(), QStringList());
        b.controller.setLEDPower(50);
        QCOMPARE(b.sent(), QStringList({expected}));
        b.controller.unscaledLedPower = true;
        b.controller.setLEDPower(7);
        b.controller.setLightOnOff(false);
        QCOMPARE(b.sent().mid(1), QStringList({expected.section(' ', 0, 1) + " 7", "$A#LED OFF" + QString::number(4 - filter)}));
    }

    // A report from one lit cube straight to another (no turn seen between, as after a still)
    // puts the old cube's light out: only the new cube's light stays on.
    void aSkippedTurnPutsTheOldLightOut_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("query");
        QTest::newRow("3.1") << "3.1" << "STATUS";
        QTest::newRow("old") << "old" << "FILTER";
    }

    void aSkippedTurnPutsTheOldLightOut()
    {
        QFETCH(QString, version);
        QFETCH(QString, query);
        BoardBench b(version);
        b.instrument.turnFilter(0, 0);
        QVERIFY(b.open());
        b.controller.sendToSerialPort(query); // the old dialect learns the cube from its polls
        QVERIFY(pumpUntil([&] { return b.controller.getReportedFilter() == 0; }, 5000));
        b.controller.setLightOnOff(true);
        b.controller.setLEDPower(50);
        b.controller.sendLightNow(); // the old dialect's light waits for a reply otherwise
        QVERIFY(pumpUntil([&] { return b.instrument.state().ledOn[0]; }, 5000));
        b.instrument.turnFilter(3, 0);
        b.controller.sendToSerialPort(query);
        b.controller.sendLightNow();
        QVERIFY(pumpUntil([&] { return !b.instrument.state().ledOn[0]; }, 5000));
        QCOMPARE(b.controller.getFilterPosition(), 3);
    }

    // A FILTER event marks a change of scene, except one naming the cube that a poll already
    // reported in place: it comes late, after that report noted the change and the sensor may
    // have started over for the cube, whose first frame must then not be dropped.
    void aLateFilterEventForTheReportedCubeChangesNothing_data()
    {
        QTest::addColumn<int>("eventSlot");
        QTest::addColumn<bool>("changed");
        QTest::newRow("the cube reported (GFP, slot 1)") << 1 << false;
        QTest::newRow("another cube (Trans, slot 4)") << 4 << true;
    }
    void aLateFilterEventForTheReportedCubeChangesNothing()
    {
        QFETCH(int, eventSlot);
        QFETCH(bool, changed);
        BoardBench b("3.1");
        b.instrument.turnFilter(3, 0);
        QVERIFY(b.open());
        b.controller.sendToSerialPort("STATUS");
        QCOMPARE(b.controller.getReportedFilter(), 3);
        pumpEvents(200); // the board's own event for the stand, if any
        g_scene_changed_us = 1;
        const QString event = QStringLiteral("FILTER %1").arg(eventSlot);
        const auto acknowledged = [&] { return b.board.acknowledgements().filter(event).size(); };
        const int before = acknowledged();
        b.board.sendEvent(event);
        QVERIFY(pumpUntil([&] { return acknowledged() > before; }, 5000));
        pumpEvents(50); // an event waiting for an exchange's end is handled after its acknowledgement
        const bool noted = g_scene_changed_us != 1;
        g_scene_changed_us = 0;
        QCOMPARE(noted, changed);
    }

    // Reported slots 1 to 4 are filter positions 3 to 0; between positions (0) gives -1 once, and
    // in QC test mode nothing.
    void statusReportsReversedSlots()
    {
        BoardBench b("2.4");
        QVERIFY(b.open());
        QSignalSpy filter(&b.controller, &Controller::changeFilterPosition);
        for (int position : {3, 2, 1, 0}) {
            b.instrument.turnFilter(position, 0);
            b.controller.sendToSerialPort("STATUS");
            QCOMPARE(b.controller.getFilterPosition(), position);
            QVERIFY(b.controller.isFilterInPosition());
        }
        QCOMPARE(filter.count(), 4);
        b.instrument.turnFilter(2, 5000);
        b.controller.sendToSerialPort("STATUS");
        b.controller.sendToSerialPort("STATUS");
        QCOMPARE(filter.count(), 5);
        QCOMPARE(filter.last().at(0).toInt(), -1);
        QVERIFY(!b.controller.isFilterInPosition());
        QCOMPARE(b.controller.getFilterPosition(), 0); // the last valid position stays
        b.instrument.turnFilter(1, 0);
        b.controller.sendToSerialPort("STATUS");
        g_ExecMode = EXEC_QC_TEST;
        b.instrument.turnFilter(2, 5000);
        b.controller.sendToSerialPort("STATUS");
        g_ExecMode = EXEC_NORMAL;
        QCOMPARE(filter.count(), 6);
        QVERIFY(b.controller.isFilterInPosition());
    }

    void objectiveChangeCorrectsFocus()
    {
        BoardBench bench("2.4");
        writeConfig("LensPos", "1", "20000");
        writeConfig("LensPos", "2", "23000");
        writeConfig("LensPos", "Speed", "900");
        QVERIFY(bench.open(true));
        QCOMPARE(bench.controller.getLensPosition(), 1);
        QSignalSpy speed(&bench.controller, &Controller::changeMotorSpeed);
        bench.board.clearLog();
        bench.instrument.turnObjective(2, 100);
        QVERIFY(pumpUntil([&] { return bench.sent().contains("$A#STAGE 3000"); }, 5000));
        QCOMPARE(bench.sent().value(bench.sent().indexOf("$A#STAGE 3000") - 1), QStringLiteral("$A#STAGE SPEED 700"));
        QVERIFY(speed.count() >= 1);
        bench.instrument.turnObjective(1, 100);
        QVERIFY(pumpUntil([&] { return bench.sent().contains("$A#STAGE -3000"); }, 5000));
        // Without a stored position for the objective nothing moves.
        bench.board.clearLog();
        bench.instrument.turnObjective(4, 100);
        pumpEvents(1500);
        QCOMPARE(bench.sent().filter("$A#STAGE SPEED"), QStringList());
    }

    // The correction counts only once the board took the move: "BUSY" is answered by sending it
    // again, also when the speed's answer came late (and must not be read as the move's); a board
    // that refuses the move gets it once, and nothing hangs.
    void lensCorrectionIsNeverLostSilently_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QList<BoardFault>>("faults");
        QTest::addColumn<int>("moved");
        QTest::addColumn<int>("moveCommands");
        const BoardFault busy(BoardFault::Busy, 1, "STAGE 3000");
        const BoardFault late(BoardFault::Late, 1, "STAGE SPEED");
        const BoardFault refused(BoardFault::Ng, -1, "STAGE 3000");
        for (const char *profile : {"3.1", "2.3"}) {
            QTest::addRow("%s, busy move", profile) << profile << QList<BoardFault>{busy} << 3000 << 2;
            QTest::addRow("%s, late speed, busy move", profile) << profile << QList<BoardFault>{late, busy} << 3000 << 2;
            QTest::addRow("%s, refused move", profile) << profile << QList<BoardFault>{refused} << 0 << 1;
        }
    }

    void lensCorrectionIsNeverLostSilently()
    {
        QFETCH(QString, profile);
        QFETCH(QList<BoardFault>, faults);
        QFETCH(int, moved);
        QFETCH(int, moveCommands);
        BoardBench bench(profile);
        writeConfig("LensPos", "1", "20000");
        writeConfig("LensPos", "2", "23000");
        QVERIFY(bench.open(true));
        QCOMPARE(bench.controller.getLensPosition(), 1);
        const int start = bench.instrument.state().stagePosition;
        for (const BoardFault &fault : faults)
            bench.board.injectFault(fault);
        bench.board.clearLog();
        bench.instrument.turnObjective(2, 100);
        QVERIFY(pumpUntil([&] { return bench.sent().count("$A#STAGE 3000") >= moveCommands; }, 15000));
        pumpEvents(2 * Controller::kLensRetryDelayMs); // no further attempt
        QVERIFY(pumpUntil([&] { return !bench.instrument.state().stageMoving; }, 15000));
        QCOMPARE(bench.sent().count("$A#STAGE 3000"), moveCommands);
        QCOMPARE(bench.instrument.state().stagePosition - start, moved);
        // The objective is taken as corrected: turning back corrects from objective 2.
        bench.board.clearFaults();
        bench.instrument.turnObjective(1, 100);
        QVERIFY(pumpUntil([&] { return bench.sent().contains("$A#STAGE -3000"); }, 15000));
    }
};

QTEST_MAIN(TestControllerCommands)
#include "tst_controller_commands.moc"
