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
    QByteArray readLine()
    {
        const QByteArray all = readUntil([](const QByteArray &b) { return b.contains("\r\n"); }, 5000);
        const int end = all.indexOf("\r\n");
        m_buffer = end < 0 ? QByteArray() : all.mid(end + 2);
        return all.left(end < 0 ? 0 : end);
    }
    QByteArray exchange(const QByteArray &command)
    {
        send(command + '\n');
        return readLine();
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
    bool ok() const { return bool(client); }
    VirtualInstrument instrument;
    BoardSimulator board;
    std::unique_ptr<PtyClient> client;
};

} // namespace

class TestBoardSimulator : public QObject
{
    Q_OBJECT
private slots:
    // The two dialects and the version thresholds the program reads, with the filter at position 1
    // and objective 2; the old board ignores framed lines, the new one bare lines. Faults answer in
    // the dialect of the board.
    void commands_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply"); // empty: no reply
        auto row = [](const char *profile, const QByteArray &command, const QByteArray &reply, const char *fault = "") {
            QTest::addRow("%s %s %s", profile, command.constData(), fault) << QString(profile) << QString(fault) << command << reply;
        };
        row("2.3", "$A#STATUS", "$NG#A#STATUS");
        row("2.4", "$A#STATUS", "$OK#A#STATUS#FILTER 3#OBJ 2");
        row("2.6", "$A#STAGE#MAX#90", "$OK#A#STAGE#MAX#90");
        row("3.1", "$A#VER", "$OK#A#VER#3.1");
        row("3.1", "$A#STAGE#MAX#90", "$NG#A#STAGE#MAX#90");
        row("3.1", "$A#STAGE POS", "$OK#A#STAGE POS#60000");
        row("3.1", "$A#STAGE POS", "", "silence");
        row("3.1", "$A#STAGE 100", "$BUSY#A#STAGE 100", "busy");
        row("3.1", "$A#FILTER", "$NG#A#FILTER", "ng");
        row("3.1", "$A#STAGE POS", "$OK#A#STAGE POS", "short");
        row("old", "$A#VER", "");
        row("old", "FILTER", "1");
        row("old", "Z POS", "60000");
        row("old", "LED 1 30", "30");
        row("old", "Z 100", "BUSY", "busy");
        row("old", "FILTER", "NG", "ng");
    }

    void commands()
    {
        QFETCH(QString, profile);
        QFETCH(QString, fault);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        Bench b(profile, [](VirtualInstrument &vi) {
            vi.turnObjective(2, 0);
            vi.turnFilter(1, 0);
        });
        QVERIFY(b.ok());
        BoardFault f;
        QVERIFY(fault.isEmpty() || BoardFault::parse(fault, &f));
        if (!fault.isEmpty())
            b.board.injectFault(f);
        b.client->send(command + '\n');
        if (reply.isEmpty())
            QCOMPARE(b.client->readFor(150), QByteArray());
        else // every reply ends in CR LF
            QCOMPARE(b.client->readUntil([](const QByteArray &x) { return x.endsWith("\r\n"); }, 5000), reply + "\r\n");
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
        const QByteArray reply = c.exchange(isNew ? "$A#STAGE 1500" : "Z 1500");
        QCOMPARE(b.instrument.state().stageMoving, !answerAtEnd);
        if (answerAtEnd)
            QVERIFY(reply.endsWith("61500"));
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), 61500, 5000);
        c.send(isNew ? "$A#STAGE -15000\n" : "Z -15000\n"); // five seconds' travel
        QTest::qWait(100);
        if (!answerAtEnd)
            c.readLine();
        c.exchange(isNew ? "$A#STAGE STOP" : "Z STOP");
        const int at = c.position(isNew);
        QVERIFY(at > 46500 && at < 61500);
    }

    // Turret and knob events, each kept until acknowledged.
    void events()
    {
        Bench b("2.3");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.instrument.turnObjective(3, 50);
        QCOMPARE(c.readLine(), QByteArray("$A#OBJ 3")); // once the turret stands
        b.instrument.turnKnob(false, 500, 150);
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE RUN"));
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE STOP"));
        c.send("$OK#A#OBJ 3\r\n");
        QTRY_COMPARE(b.board.unacknowledgedEvents(), (QStringList{"KNOB FINE RUN", "KNOB FINE STOP"}));
    }

    void versionsReadAsTheProgramReadsThem()
    {
        BoardProfile p;
        // The board's version thresholds are the program's: its version reads as the program reads it.
        for (const char *text : {"2.3.1.4", "2.5.0.9", "2.10"}) {
            QVERIFY(BoardProfile::fromName(text, &p));
            QCOMPARE(p.versionNumber(), firmwareVer(text));
        }
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
            QVERIFY(sim.board()->profile().oldMoveAnswerAtEnd);
            PtyClient c(SimulatedInstrument::serialDevice());
            QCOMPARE(c.exchange("Z POS"), QByteArray("BUSY"));
        }
        // An explicit device: the simulator stays off.
        qputenv("VANTOR_SERIAL_DEVICE", "/dev/ttyUSB7");
        SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(nullptr));
        QVERIFY(sim.start() && !sim.board());
        for (const char *name : {"VANTOR_SERIAL_DEVICE", "VANTOR_SIM_FIRMWARE", "VANTOR_SIM_OLD_MOVE_ANSWER", "VANTOR_SIM_FAULTS"})
            qunsetenv(name);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimulator)
#include "tst_boardsimulator.moc"
