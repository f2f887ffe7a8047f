#include "BoardFault.h"
#include "BoardProfile.h"
#include "BoardSimulator.h"
#include "MonotonicClock.h"
#include "SimulatedInstrument.h"
#include "Utilities.h"
#include "VirtualInstrument.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

namespace {

BoardProfile profileNamed(const QString &name)
{
    BoardProfile p;
    BoardProfile::fromName(name, &p);
    return p;
}

// The program's side of the line, kept plain: raw file descriptor reads and writes.
class PtyClient
{
public:
    explicit PtyClient(const QString &path) : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio {};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~PtyClient() { ::close(m_fd); }
    bool isOpen() const { return m_fd >= 0; }
    void send(const QByteArray &bytes) { QCOMPARE(::write(m_fd, bytes.constData(), bytes.size()), ssize_t(bytes.size())); }

    // Collects bytes until pred holds on them or timeoutMs has passed; returns and keeps nothing.
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &pred, int timeoutMs)
    {
        const int64_t end = MonotonicClock::nowMs() + timeoutMs;
        for (int64_t left = timeoutMs; !pred(m_buffer) && left > 0; left = end - MonotonicClock::nowMs()) {
            pollfd p {m_fd, POLLIN, 0};
            char chunk[512];
            const ssize_t n = ::poll(&p, 1, int(left)) > 0 ? ::read(m_fd, chunk, sizeof chunk) : 0;
            if (n > 0)
                m_buffer.append(chunk, int(n));
        }
        return std::exchange(m_buffer, QByteArray());
    }
    QByteArray readFor(int ms) { return readUntil([](const QByteArray &) { return false; }, ms); }
    // The next line, without its CR LF; empty on time-out.
    QByteArray readLine(int timeoutMs = 5000)
    {
        const QByteArray all = readUntil([](const QByteArray &b) { return b.contains("\r\n"); }, timeoutMs);
        const int end = all.indexOf("\r\n");
        m_buffer = end < 0 ? QByteArray() : all.mid(end + 2);
        return end < 0 ? QByteArray() : all.left(end);
    }
    QByteArray exchange(const QByteArray &command, int timeoutMs = 5000)
    {
        send(command + '\n');
        return readLine(timeoutMs);
    }
    int position(bool newDialect)
    {
        return newDialect ? exchange("$A#STAGE POS").split('#').value(3).toInt() : exchange("Z POS").toInt();
    }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

// One board on its pseudo-terminal and the program's side opened on it; setup runs before the
// board starts, so what it changes raises no event.
struct Bench
{
    explicit Bench(const QString &profile, const std::function<void(VirtualInstrument &)> &setup = nullptr)
        : board(instrument, profileNamed(profile))
    {
        if (setup)
            setup(instrument);
        if (board.start())
            client = std::make_unique<PtyClient>(board.devicePath());
    }
    bool ok() const { return client && client->isOpen(); }
    VirtualInstrument instrument;
    BoardSimulator board;
    std::unique_ptr<PtyClient> client;
};

} // namespace

class TestBoardSimulator : public QObject
{
    Q_OBJECT
private slots:
    // One command and its reply line, with the filter at position 1 and objective 2; the old
    // board ignores framed lines and the new one bare lines.
    void commands_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply"); // empty: no reply
        auto row = [](const char *profile, const QByteArray &command, const QByteArray &reply) {
            QTest::addRow("%s %s", profile, command.constData()) << QString(profile) << command << reply;
        };
        for (const char *v : {"2.3", "2.4", "2.6", "2.8", "3.1"}) {
            const BoardProfile p = profileNamed(v);
            row(v, "$A#VER", QByteArray("$OK#A#VER#") + v);
            row(v, "$A#STATUS", p.hasStatusQuery() ? "$OK#A#STATUS#FILTER 3#OBJ 2" : "$NG#A#STATUS");
            row(v, "$A#STAGE#MAX#90", p.takesMaxAndAcc() ? "$OK#A#STAGE#MAX#90" : "$NG#A#STAGE#MAX#90");
            row(v, "$A#LED BRT4 500", p.ledPowerInTenths() ? "$OK#A#LED BRT4 500" : "$NG#A#LED BRT4 500");
        }
        row("3.1", "$A#FILTER", "$OK#A#FILTER 3");
        row("3.1", "$A#OBJ", "$OK#A#OBJ 2");
        row("3.1", "$A#STAGE POS", "$OK#A#STAGE POS#60000");
        row("3.1", "$A#STAGE LIMIT TOP", "$OK#A#STAGE LIMIT TOP#0");
        row("3.1", "$A#STAGE SPEED 700", "$OK#A#STAGE SPEED 700");
        row("3.1", "$A#KNOB FINE 2", "$OK#A#KNOB FINE 2");
        row("3.1", "$A#LED BRT4 1001", "$NG#A#LED BRT4 1001");
        row("3.1", "$A#LED OFF2", "$OK#A#LED OFF2");
        row("3.1", "$A#STAGE RESET", "$OK#A#STAGE 0");
        row("3.1", "$A#STAGE 12x", "$NG#A#STAGE 12x");
        row("3.1", "$A#WHAT", "$NG#A#WHAT");
        row("3.1", "FILTER", "");
        row("3.1", "$OK#A#KNOB FINE RUN", "");
        row("old", "$A#VER", "");
        row("old", "FILTER", "1");
        row("old", "OBJLENS", "2");
        row("old", "Z POS", "60000");
        row("old", "Z SPEED 700", "60000");
        row("old", "Z RESET", "0");
        row("old", "LED 1 30", "30");
        row("old", "LED 7 30", "NG");
        row("old", "STAGE POS", "NG");
    }

    void commands()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        Bench b(profile, [](VirtualInstrument &vi) {
            vi.turnObjective(2, 0);
            vi.turnFilter(1, 0);
        });
        QVERIFY(b.ok());
        b.client->send(command + '\n');
        if (reply.isEmpty())
            QCOMPARE(b.client->readFor(100), QByteArray());
        else // every reply ends in CR LF
            QCOMPARE(b.client->readUntil([](const QByteArray &x) { return x.endsWith("\r\n"); }, 5000), reply + "\r\n");
    }

    // What the commands do to the instrument, and turrets reported between positions.
    void commandsActOnTheInstrument()
    {
        Bench b("2.6");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        c.exchange("$A#KNOB COARSE 5");
        QCOMPARE(b.instrument.state().knobCoarseSpeed, 5);
        c.exchange("$A#LED BRT2 500");
        QVERIFY(b.instrument.state().ledOn[2]);
        QCOMPARE(b.instrument.state().ledPower[2], 50.0);
        c.exchange("$A#LED OFF2");
        QVERIFY(!b.instrument.state().ledOn[2]);
        b.instrument.turnFilter(2, 300);
        QCOMPARE(c.exchange("$A#STATUS"), QByteArray("$OK#A#STATUS#FILTER 0#OBJ 1"));
        b.instrument.turnObjective(4, 300);
        QCOMPARE(c.exchange("$A#OBJ"), QByteArray("$OK#A#OBJ 0"));
        Bench old("old");
        QVERIFY(old.ok());
        QCOMPARE(old.client->exchange("LED 1 30"), QByteArray("30"));
        QCOMPARE(old.instrument.state().ledPower[1], 30.0);
        old.instrument.turnFilter(1, 300);
        QCOMPARE(old.client->exchange("FILTER"), QByteArray("-1"));
    }

    // A move is answered as it starts, or (old board, "end") once the stage stands at its end;
    // a stop freezes the stage where it is.
    void stageMovesInRealTime_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("answerAtEnd");
        QTest::newRow("old") << "old" << false;
        QTest::newRow("old, answer at the end") << "old" << true;
        QTest::newRow("2.8") << "2.8" << false;
    }

    void stageMovesInRealTime()
    {
        QFETCH(QString, profile);
        QFETCH(bool, answerAtEnd);
        Bench b(profile);
        QVERIFY(b.ok());
        BoardProfile p = b.board.profile();
        p.oldMoveAnswerAtEnd = answerAtEnd;
        b.board.setProfile(p);
        PtyClient &c = *b.client;
        const bool isNew = profile != "old";
        // 100 x 30 = 3000 steps per second: 1500 steps take half a second.
        QVERIFY(!c.exchange(isNew ? "$A#STAGE SPEED 100" : "Z SPEED 100").isEmpty());
        const QByteArray reply = c.exchange(isNew ? "$A#STAGE 1500" : "Z 1500", 5000);
        const int answered = reply.mid(reply.lastIndexOf(' ') + 1).toInt();
        QCOMPARE(b.instrument.state().stageMoving, !answerAtEnd);
        if (answerAtEnd)
            QCOMPARE(answered, 61500);
        else
            QVERIFY2(answered >= 60000 && answered < 61500, reply.constData());
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), 61500, 5000);
        c.send(isNew ? "$A#STAGE -15000\n" : "Z -15000\n"); // five seconds' travel
        QTest::qWait(100);
        if (!answerAtEnd)
            c.readLine();
        const QByteArray stopped = c.exchange(isNew ? "$A#STAGE STOP" : "Z STOP");
        const int at = c.position(isNew);
        QVERIFY(at > 46500 && at < 61500);
        QTest::qWait(60);
        QCOMPARE(c.position(isNew), at);
        QVERIFY(stopped.endsWith(QByteArray::number(at)));
    }

    // Limits hold the stage; a reset zeroes the counter where the stage stands and the limits
    // stay where they physically are.
    void limitsAndReset_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("old") << "old";
        QTest::newRow("3.1") << "3.1";
    }

    void limitsAndReset()
    {
        QFETCH(QString, profile);
        const bool isNew = profile != "old";
        Bench b(profile);
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.instrument.setStageLimits(0, 70000);
        c.exchange(isNew ? "$A#STAGE SPEED 2000" : "Z SPEED 2000");
        c.exchange(isNew ? "$A#STAGE 999999" : "Z 999999");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), 70000, 5000);
        c.exchange(isNew ? "$A#STAGE -60000" : "Z -60000");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), 10000, 5000);
        QCOMPARE(c.exchange(isNew ? "$A#STAGE RESET" : "Z RESET"), isNew ? QByteArray("$OK#A#STAGE 0") : QByteArray("0"));
        QCOMPARE(b.instrument.state().stagePhysical(), 10000);
        c.exchange(isNew ? "$A#STAGE BOTTOM" : "Z BOTTOM");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), -10000, 5000);
        if (!isNew)
            return;
        QCOMPARE(c.exchange("$A#STAGE LIMIT BOTTOM"), QByteArray("$OK#A#STAGE LIMIT BOTTOM#1"));
        c.exchange("$A#SLIDER SPEED 2000");
        c.exchange("$A#SLIDER TOP");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(true), 60000, 5000);
        QCOMPARE(c.exchange("$A#STAGE LIMIT TOP"), QByteArray("$OK#A#STAGE LIMIT TOP#1"));
    }

    void faultsOfTheNewDialect()
    {
        Bench b("2.6");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        BoardSimulator &board = b.board;
        board.injectFault({BoardFault::Silence});
        c.send("$A#STAGE POS\n");
        QCOMPARE(c.readFor(150), QByteArray());
        board.injectFault({BoardFault::Busy});
        QCOMPARE(c.exchange("$A#STAGE 100"), QByteArray("$BUSY#A#STAGE 100"));
        QTest::qWait(30);
        QCOMPARE(c.position(true), 60000); // not carried out
        board.injectFault({BoardFault::Ng, 2});
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$NG#A#FILTER"));
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$NG#A#FILTER"));
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$OK#A#FILTER 4"));
        board.clearLog(); // split: the same reply, in several writes
        board.injectFault({BoardFault::Split});
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#60000"));
        QCOMPARE(board.writes().size(), 3);
        board.clearLog(); // merge: no reply now, both with the next reply in one write
        board.injectFault({BoardFault::Merge});
        c.send("$A#FILTER\n");
        QCOMPARE(c.readFor(100), QByteArray());
        c.send("$A#OBJ\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.count('\n') == 2; }, 5000),
                 QByteArray("$OK#A#FILTER 4\r\n$OK#A#OBJ 1\r\n"));
        QCOMPARE(board.writes().size(), 1);
        board.injectFault({BoardFault::EventInExchange}); // an event between command and reply
        c.send("$A#STAGE POS\n");
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE STOP"));
        QCOMPARE(c.readLine(), QByteArray("$OK#A#STAGE POS#60000"));
        QCOMPARE(board.unacknowledgedEvents(), QStringList{"KNOB FINE STOP"});
        c.send("$OK#A#KNOB FINE STOP\r\n");
        QTRY_VERIFY(board.unacknowledgedEvents().isEmpty());
        BoardFault withEvent {BoardFault::ReplyWithEvent}; // reply and event in one delivery
        withEvent.eventText = "KNOB COARSE STOP";
        board.injectFault(withEvent);
        c.send("$A#STAGE POS\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.count('\n') == 2; }, 5000),
                 QByteArray("$OK#A#STAGE POS#60000\r\n$A#KNOB COARSE STOP\r\n"));
        board.injectFault({BoardFault::Position800000, -1}); // only on a position reply; "always" stays
        QCOMPARE(c.exchange("$A#OBJ"), QByteArray("$OK#A#OBJ 1"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#800000"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#800000"));
        board.clearFaults();
        board.injectFault({BoardFault::ShortReply});
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS"));
    }

    void faultsOfTheOldDialect()
    {
        Bench b("old");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.board.injectFault({BoardFault::Busy});
        QCOMPARE(c.exchange("Z 100"), QByteArray("BUSY"));
        b.board.injectFault({BoardFault::Ng});
        QCOMPARE(c.exchange("FILTER"), QByteArray("NG"));
        b.board.injectFault({BoardFault::EventInExchange}); // no events in the old dialect
        QCOMPARE(c.exchange("Z POS"), QByteArray("60000"));
        b.board.injectFault({BoardFault::Merge});
        c.send("FILTER\n");
        QCOMPARE(c.readFor(80), QByteArray());
        c.send("OBJLENS\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.count('\n') == 2; }, 5000), QByteArray("0\r\n1\r\n"));
        b.instrument.turnFilter(2, 20);
        b.instrument.turnKnob(true, 100, 50);
        QCOMPARE(c.readFor(200), QByteArray());
    }

    void eventsOfTurretsAndKnobs()
    {
        Bench b("2.3");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.instrument.turnFilter(2, 100);
        QCOMPARE(c.readLine(), QByteArray("$A#FILTER 2")); // once the turret stands
        b.instrument.turnObjective(3, 50);
        QCOMPARE(c.readLine(), QByteArray("$A#OBJ 3"));
        const int before = b.instrument.state().stagePosition;
        b.instrument.turnKnob(false, 500, 150);
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE RUN"));
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE STOP"));
        QCOMPARE(b.instrument.state().stagePosition, before + 500);
        QCOMPARE(b.board.unacknowledgedEvents().size(), 4);
        c.send("$OK#A#FILTER 2\r\n$OK#A#KNOB FINE RUN\r\n");
        QTRY_COMPARE(b.board.unacknowledgedEvents(), (QStringList{"OBJ 3", "KNOB FINE STOP"}));
        b.board.writeRaw("$A#OBJ 9\r\n", 30);
        QCOMPARE(c.readLine(), QByteArray("$A#OBJ 9"));
    }

    void stopsCleanlyWhateverIsPending()
    {
        VirtualInstrument vi;
        for (int round = 0; round < 3; ++round) {
            BoardSimulator board(vi, profileNamed("3.1"));
            QVERIFY(board.start());
            PtyClient c(board.devicePath());
            board.injectFault({BoardFault::Split, -1});
            c.send("$A#STAGE POS\n$A#STAGE POS\n");
            board.sendEvent("KNOB FINE RUN", 60000); // still waiting when we stop
            QVERIFY(board.waitForCount(2, 5000));
            const int64_t t0 = MonotonicClock::nowMs();
            board.stop();
            QVERIFY(MonotonicClock::nowMs() - t0 < 10000); // not the pending minute
            QVERIFY(!board.isRunning());
            board.stop(); // twice is harmless
        }
    }

    void faultAndProfileNames()
    {
        BoardFault f;
        QVERIFY(BoardFault::parse(" pos800000@STAGE POS", &f));
        QCOMPARE(int(f.kind), int(BoardFault::Position800000));
        QCOMPARE(f.match, QString("STAGE POS"));
        QVERIFY(BoardFault::parse("split=always", &f) && f.count == -1);
        QVERIFY(!BoardFault::parse("sometimes", &f) && !BoardFault::parse("busy=x", &f));
        for (const QString &name : BoardFault::names())
            QVERIFY(BoardFault::parse(name, &f) && BoardFault::name(f.kind) == name);
        BoardProfile p;
        QVERIFY(!BoardProfile::fromName("new", &p));
        // The board's version thresholds are the program's: its version reads as the program reads it.
        for (const char *text : {"2.3.1.4", "2.5.0.9", "3", "2.10"}) {
            QVERIFY(BoardProfile::fromName(text, &p));
            QCOMPARE(p.versionNumber(), firmwareVer(text));
        }
        QVERIFY(BoardProfile::fromName("2.5", &p) && !p.ledPowerInTenths() && !p.takesMaxAndAcc());
        QVERIFY(BoardProfile::fromName("3.0", &p) && p.takesMaxAndAcc());
        QVERIFY(p.setOldMoveAnswer("end") && p.oldMoveAnswerAtEnd);
        QVERIFY(!p.setOldMoveAnswer("middle") && p.oldMoveAnswerAtEnd);
    }

    void simulatedInstrumentFromTheEnvironment()
    {
        qputenv("VANTOR_SIM_FIRMWARE", "old");
        qputenv("VANTOR_SIM_OLD_MOVE_ANSWER", "end");
        qputenv("VANTOR_SIM_FAULTS", "busy@Z POS");
        qunsetenv("VANTOR_SERIAL_DEVICE");
        {
            QStringList warnings;
            SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(&warnings));
            QVERIFY(warnings.isEmpty());
            QVERIFY(sim.start());
            QCOMPARE(SimulatedInstrument::current(), &sim);
            QVERIFY(sim.board()->profile().oldMoveAnswerAtEnd);
            PtyClient c(SimulatedInstrument::serialDevice());
            QCOMPARE(c.exchange("Z POS"), QByteArray("BUSY"));
        }
        QCOMPARE(SimulatedInstrument::current(), nullptr);
        QCOMPARE(SimulatedInstrument::serialDevice(), QString());
        // An explicit device: the simulator stays off; bad settings are reported.
        qputenv("VANTOR_SERIAL_DEVICE", "/dev/ttyUSB7");
        qputenv("VANTOR_SIM_FIRMWARE", "newest");
        qputenv("VANTOR_SIM_OLD_MOVE_ANSWER", "later");
        qputenv("VANTOR_SIM_FAULTS", "nonsense");
        QStringList warnings;
        SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(&warnings));
        QCOMPARE(warnings.size(), 3);
        QVERIFY(sim.start());
        QCOMPARE(sim.board(), nullptr);
        QCOMPARE(SimulatedInstrument::serialDevice(), QString("/dev/ttyUSB7"));
        for (const char *name : {"VANTOR_SERIAL_DEVICE", "VANTOR_SIM_FIRMWARE", "VANTOR_SIM_OLD_MOVE_ANSWER", "VANTOR_SIM_FAULTS"})
            qunsetenv(name);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimulator)
#include "tst_boardsimulator.moc"
