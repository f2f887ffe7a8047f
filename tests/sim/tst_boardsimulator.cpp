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

// The program's side of the line, kept plain: raw file descriptor reads and writes.
class PtyClient
{
public:
    explicit PtyClient(const QString &path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio {};
            ::tcgetattr(m_fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~PtyClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    void send(const QByteArray &bytes) { QCOMPARE(::write(m_fd, bytes.constData(), bytes.size()), ssize_t(bytes.size())); }

    // Collects bytes until pred holds on them or timeoutMs has passed; returns and keeps nothing.
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &pred, int timeoutMs)
    {
        const int64_t end = MonotonicClock::nowMs() + timeoutMs;
        while (!pred(m_buffer)) {
            const int64_t left = end - MonotonicClock::nowMs();
            if (left <= 0)
                break;
            pollfd p {m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) > 0) {
                char chunk[512];
                const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
                if (n > 0)
                    m_buffer.append(chunk, int(n));
            }
        }
        QByteArray all = m_buffer;
        m_buffer.clear();
        return all;
    }
    QByteArray readFor(int ms)
    {
        return readUntil([](const QByteArray &) { return false; }, ms);
    }
    // The next line, without its CR LF; empty on time-out.
    QByteArray readLine(int timeoutMs = 1000)
    {
        QByteArray all = readUntil([](const QByteArray &b) { return b.contains("\r\n"); }, timeoutMs);
        const int end = all.indexOf("\r\n");
        if (end < 0)
            return QByteArray();
        m_buffer = all.mid(end + 2);
        return all.left(end);
    }
    QByteArray exchange(const QByteArray &command, int timeoutMs = 1000)
    {
        send(command + '\n');
        return readLine(timeoutMs);
    }
    int position(bool newDialect)
    {
        if (!newDialect)
            return exchange("Z POS").toInt();
        return exchange("$A#STAGE POS").split('#').value(3).toInt();
    }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

void addProfileRows(const QStringList &profiles)
{
    QTest::addColumn<QString>("profile");
    for (const QString &p : profiles)
        QTest::newRow(qPrintable(p)) << p;
}

BoardProfile profileNamed(const QString &name)
{
    BoardProfile p;
    BoardProfile::fromName(name, &p);
    return p;
}

// One board on its pseudo-terminal and the program's side opened on it.
struct Bench
{
    // setup runs before the board starts, so what it changes raises no event.
    explicit Bench(const QString &profile = QStringLiteral("3.1"),
                   const std::function<void(VirtualInstrument &)> &setup = nullptr)
        : board(instrument, profileNamed(profile))
    {
        if (setup)
            setup(instrument);
        QString error;
        started = board.start(&error);
        if (started)
            client = std::make_unique<PtyClient>(board.devicePath());
    }
    bool ok() const { return started && client && client->isOpen(); }
    VirtualInstrument instrument;
    BoardSimulator board;
    bool started = false;
    std::unique_ptr<PtyClient> client;
};

} // namespace

class TestBoardSimulator : public QObject
{
    Q_OBJECT
private slots:
    void versionQueryPerProfile_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("old") << "old" << QByteArray();
        for (const char *v : {"2.3", "2.4", "2.6", "2.8", "3.1"})
            QTest::newRow(v) << v << QByteArray("$OK#A#VER#") + v;
    }
    void versionQueryPerProfile()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, reply);
        Bench b(profile);
        QVERIFY(b.ok());
        QVERIFY(b.board.devicePath().startsWith("/dev/"));
        b.client->send("$A#VER\n");
        if (reply.isEmpty()) {
            // The old board ignores the framed query and answers its own words.
            QCOMPARE(b.client->readFor(150), QByteArray());
            QCOMPARE(b.client->exchange("FILTER"), QByteArray("0"));
        } else {
            QCOMPARE(b.client->readLine(), reply);
        }
        QCOMPARE(b.board.receivedTexts().first(), QString("$A#VER"));
    }

    void newDialectCommands_data()
    {
        addProfileRows({"2.3", "2.4", "2.6", "2.8", "3.1"});
    }
    void newDialectCommands()
    {
        QFETCH(QString, profile);
        Bench b(profile, [](VirtualInstrument &vi) {
            vi.turnObjective(2, 0);
            vi.turnFilter(1, 0);
        });
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        const BoardProfile p = profileNamed(profile);

        QCOMPARE(c.exchange("$A#STATUS"),
                 p.hasStatusQuery() ? QByteArray("$OK#A#STATUS#FILTER 3#OBJ 2") : QByteArray("$NG#A#STATUS"));
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$OK#A#FILTER 3"));
        QCOMPARE(c.exchange("$A#OBJ"), QByteArray("$OK#A#OBJ 2"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#60000"));
        QCOMPARE(c.exchange("$A#STAGE LIMIT TOP"), QByteArray("$OK#A#STAGE LIMIT TOP#0"));
        QCOMPARE(c.exchange("$A#STAGE LIMIT BOTTOM"), QByteArray("$OK#A#STAGE LIMIT BOTTOM#0"));
        QCOMPARE(c.exchange("$A#STAGE SPEED 700"), QByteArray("$OK#A#STAGE SPEED 700"));
        QCOMPARE(c.exchange("$A#SLIDER SPEED 300"), QByteArray("$OK#A#SLIDER SPEED 300"));
        QCOMPARE(c.exchange("$A#KNOB COARSE 5"), QByteArray("$OK#A#KNOB COARSE 5"));
        QCOMPARE(c.exchange("$A#KNOB FINE 2"), QByteArray("$OK#A#KNOB FINE 2"));
        QCOMPARE(b.instrument.state().knobCoarseSpeed, 5);
        QCOMPARE(b.instrument.state().knobFineSpeed, 2);

        // Maximum speed and acceleration only between 2.5 and 3.0.
        const QByteArray max = c.exchange("$A#STAGE#MAX#90");
        const QByteArray acc = c.exchange("$A#STAGE#ACC#700");
        QCOMPARE(max, p.takesMaxAndAcc() ? QByteArray("$OK#A#STAGE#MAX#90") : QByteArray("$NG#A#STAGE#MAX#90"));
        QCOMPARE(acc, p.takesMaxAndAcc() ? QByteArray("$OK#A#STAGE#ACC#700") : QByteArray("$NG#A#STAGE#ACC#700"));

        // LED number 2 is filter position 2; power in tenths above 2.5.
        const QByteArray brt = p.ledPowerInTenths() ? "$A#LED BRT2 500" : "$A#LED BRT2 50";
        QCOMPARE(c.exchange(brt), "$OK#A#" + brt.mid(3));
        QVERIFY(b.instrument.state().ledOn[2]);
        QCOMPARE(b.instrument.state().ledPower[2], 50.0);
        QCOMPARE(c.exchange("$A#LED BRT4 1001"), QByteArray("$NG#A#LED BRT4 1001"));
        if (!p.ledPowerInTenths())
            QCOMPARE(c.exchange("$A#LED BRT4 500"), QByteArray("$NG#A#LED BRT4 500"));
        QCOMPARE(c.exchange("$A#LED OFF2"), QByteArray("$OK#A#LED OFF2"));
        QVERIFY(!b.instrument.state().ledOn[2]);

        QCOMPARE(c.exchange("$A#WHAT"), QByteArray("$NG#A#WHAT"));
        QCOMPARE(c.exchange("$A#STAGE 12x"), QByteArray("$NG#A#STAGE 12x"));
        // A line without the frame gets nothing; acknowledgements get nothing.
        c.send("FILTER\n$OK#A#KNOB FINE RUN\r\n");
        QCOMPARE(c.readFor(100), QByteArray());
    }

    void filterSlotsAreReversed()
    {
        Bench b("2.4");
        QVERIFY(b.ok());
        const int reported[] = {4, 3, 2, 1};
        for (int pos = 0; pos < 4; ++pos) {
            b.instrument.turnFilter(pos, 0);
            if (pos > 0) // the turret moved: the board says so
                QCOMPARE(b.client->readLine(), QByteArray("$A#FILTER ") + QByteArray::number(reported[pos]));
            QCOMPARE(b.client->exchange("$A#FILTER"), QByteArray("$OK#A#FILTER ") + QByteArray::number(reported[pos]));
        }
        b.instrument.turnFilter(2, 300);
        QCOMPARE(b.client->exchange("$A#STATUS"), QByteArray("$OK#A#STATUS#FILTER 0#OBJ 1"));
        b.instrument.turnObjective(4, 300);
        QCOMPARE(b.client->exchange("$A#OBJ"), QByteArray("$OK#A#OBJ 0"));
    }

    void oldDialectCommands()
    {
        Bench b("old");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.instrument.turnFilter(3, 0);
        b.instrument.turnObjective(5, 0);
        // Every reply ends in CR LF.
        c.send("FILTER\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.endsWith("\r\n"); }, 1000), QByteArray("3\r\n"));
        QCOMPARE(c.exchange("OBJLENS"), QByteArray("5"));
        QCOMPARE(c.exchange("Z POS"), QByteArray("60000"));
        QCOMPARE(c.exchange("LED 1 30"), QByteArray("30"));
        QVERIFY(b.instrument.state().ledOn[1]);
        QCOMPARE(b.instrument.state().ledPower[1], 30.0);
        QCOMPARE(c.exchange("LED 1 0"), QByteArray("0"));
        QVERIFY(!b.instrument.state().ledOn[1]);
        QCOMPARE(c.exchange("Z SPEED 700"), QByteArray("60000"));
        QCOMPARE(c.exchange("LED 7 30"), QByteArray("NG"));
        QCOMPARE(c.exchange("STAGE POS"), QByteArray("NG"));
        b.instrument.turnFilter(1, 300);
        QCOMPARE(c.exchange("FILTER"), QByteArray("-1"));
        b.instrument.turnObjective(1, 300);
        QCOMPARE(c.exchange("OBJLENS"), QByteArray("0"));
    }

    void stageMovesInRealTime_data()
    {
        addProfileRows({"old", "2.8"});
    }
    void stageMovesInRealTime()
    {
        QFETCH(QString, profile);
        Bench b(profile);
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        const bool isNew = profile != "old";
        // 100 x 30 = 3000 steps per second: 1500 steps take half a second.
        QVERIFY(!c.exchange(isNew ? "$A#STAGE SPEED 100" : "Z SPEED 100").isEmpty());
        const QByteArray reply = c.exchange(isNew ? "$A#STAGE 1500" : "Z 1500");
        QVERIFY(b.instrument.state().stageMoving); // already moving when the reply is read
        const int started = isNew ? reply.mid(QByteArray("$OK#A#STAGE ").size()).toInt() : reply.toInt();
        QVERIFY2(started >= 60000 && started < 60300, reply.constData());
        if (isNew)
            QVERIFY(reply.startsWith("$OK#A#STAGE "));
        const int first = c.position(isNew);
        QTest::qWait(100);
        const int second = c.position(isNew);
        QVERIFY2(second > first && first > 60000, qPrintable(QString("%1 %2").arg(first).arg(second)));
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), 61500, 2000);
        QVERIFY(!b.instrument.state().stageMoving);
        QCOMPARE(c.position(isNew), 61500);

        // Stop freezes the stage where it is.
        c.exchange(isNew ? "$A#STAGE -15000" : "Z -15000"); // five seconds' travel
        QTest::qWait(100);
        const QByteArray stop = isNew ? "$A#STAGE STOP" : "Z STOP";
        const QByteArray stopped = c.exchange(stop);
        const int at = c.position(isNew);
        QVERIFY(at > 46500 && at < 61500);
        QTest::qWait(60);
        QCOMPARE(c.position(isNew), at);
        QVERIFY(stopped.endsWith(QByteArray::number(at)));
    }

    void stageRespectsItsLimits()
    {
        Bench b("3.1");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.instrument.setStageLimits(0, 70000);
        c.exchange("$A#SLIDER SPEED 2000");
        c.exchange("$A#STAGE SPEED 2000");
        c.exchange("$A#STAGE 999999");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(true), 70000, 2000);
        QCOMPARE(c.exchange("$A#STAGE LIMIT TOP"), QByteArray("$OK#A#STAGE LIMIT TOP#1"));
        QCOMPARE(c.exchange("$A#STAGE LIMIT BOTTOM"), QByteArray("$OK#A#STAGE LIMIT BOTTOM#0"));
        c.exchange("$A#STAGE BOTTOM");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(true), 0, 2000);
        QCOMPARE(c.exchange("$A#STAGE LIMIT BOTTOM"), QByteArray("$OK#A#STAGE LIMIT BOTTOM#1"));
        c.exchange("$A#STAGE -5");
        QTest::qWait(20);
        QCOMPARE(c.position(true), 0);
        c.exchange("$A#SLIDER TOP");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(true), 70000, 2000);
        c.exchange("$A#SLIDER BOTTOM");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(true), 0, 2000);
    }

    void resetZeroesTheCounter_data()
    {
        addProfileRows({"old", "2.6"});
    }
    void resetZeroesTheCounter()
    {
        QFETCH(QString, profile);
        Bench b(profile);
        QVERIFY(b.ok());
        const bool isNew = profile != "old";
        PtyClient &c = *b.client;
        QCOMPARE(c.exchange(isNew ? "$A#STAGE RESET" : "Z RESET"), isNew ? QByteArray("$OK#A#STAGE 0") : QByteArray("0"));
        QCOMPARE(c.position(isNew), 0);
        const VirtualInstrument::State s = b.instrument.state();
        QCOMPARE(s.stagePhysical(), 60000);
        QCOMPARE(s.stageLower, -60000);
        // The bottom limit stays where it physically is.
        c.exchange(isNew ? "$A#STAGE SPEED 3000" : "Z SPEED 3000");
        c.exchange(isNew ? "$A#STAGE BOTTOM" : "Z BOTTOM");
        QTRY_COMPARE_WITH_TIMEOUT(c.position(isNew), -60000, 3000);
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
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#60000"));

        board.injectFault({BoardFault::Busy});
        QCOMPARE(c.exchange("$A#STAGE 100"), QByteArray("$BUSY#A#STAGE 100"));
        QTest::qWait(30);
        QCOMPARE(c.position(true), 60000); // not carried out

        board.injectFault({BoardFault::Ng});
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$NG#A#FILTER"));
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$OK#A#FILTER 4"));
        board.injectFault({BoardFault::Ng, 3});
        for (int i = 0; i < 3; ++i)
            QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$NG#A#FILTER"));
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$OK#A#FILTER 4"));

        // Split: the same reply, in several writes.
        board.clearLog();
        board.injectFault({BoardFault::Split});
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#60000"));
        QCOMPARE(board.writes().size(), 3);
        QVERIFY(board.writes().last().timeMs - board.writes().first().timeMs >= 20);

        // Merge: no reply now, both with the next reply in one write.
        board.clearLog();
        board.injectFault({BoardFault::Merge});
        c.send("$A#FILTER\n");
        QCOMPARE(c.readFor(100), QByteArray());
        c.send("$A#OBJ\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.count('\n') == 2; }, 1000),
                 QByteArray("$OK#A#FILTER 4\r\n$OK#A#OBJ 1\r\n"));
        QCOMPARE(board.writes().size(), 1);

        // An event between the command and its reply, which it must acknowledge.
        board.injectFault({BoardFault::EventInExchange});
        c.send("$A#STAGE POS\n");
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE STOP"));
        QCOMPARE(c.readLine(), QByteArray("$OK#A#STAGE POS#60000"));
        QCOMPARE(board.unacknowledgedEvents(), QStringList {"KNOB FINE STOP"});
        c.send("$OK#A#KNOB FINE STOP\r\n");
        QTRY_VERIFY(board.unacknowledgedEvents().isEmpty());
        QCOMPARE(board.acknowledgements(), QStringList {"$OK#A#KNOB FINE STOP"});

        // Reply and event in one delivery, the event last.
        board.clearLog();
        BoardFault withEvent {BoardFault::ReplyWithEvent};
        withEvent.eventText = "KNOB COARSE STOP";
        board.injectFault(withEvent);
        c.send("$A#STAGE POS\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.count('\n') == 2; }, 1000),
                 QByteArray("$OK#A#STAGE POS#60000\r\n$A#KNOB COARSE STOP\r\n"));
        QCOMPARE(board.writes().size(), 1);

        board.injectFault({BoardFault::Garbage});
        const QByteArray garbled = c.exchange("$A#OBJ");
        QVERIFY(garbled.endsWith("$OK#A#OBJ 1"));
        QVERIFY(garbled.indexOf('$') > 0);

        // 800000 only on a position reply, however many commands come first.
        board.injectFault({BoardFault::Position800000});
        QCOMPARE(c.exchange("$A#OBJ"), QByteArray("$OK#A#OBJ 1"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#800000"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#60000"));

        board.injectFault({BoardFault::ShortReply, 4});
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS"));
        QCOMPARE(c.exchange("$A#STATUS"), QByteArray("$OK#A#STATUS#FILTER 4"));
        QCOMPARE(c.exchange("$A#FILTER"), QByteArray("$OK#A#FILTER"));
        QCOMPARE(c.exchange("$A#VER"), QByteArray("$OK#A#VER"));

        // A rule with a match applies to matching commands only; "always" stays.
        board.injectFault({BoardFault::Busy, -1, "STAGE POS"});
        QCOMPARE(c.exchange("$A#OBJ"), QByteArray("$OK#A#OBJ 1"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$BUSY#A#STAGE POS"));
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$BUSY#A#STAGE POS"));
        QCOMPARE(board.pendingFaults().size(), 1);
        board.clearFaults();
        QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$OK#A#STAGE POS#60000"));
    }

    void faultsOfTheOldDialect()
    {
        Bench b("old");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.board.injectFault({BoardFault::Busy});
        QCOMPARE(c.exchange("Z 100"), QByteArray("BUSY"));
        b.board.injectFault({BoardFault::Ng, 3});
        for (int i = 0; i < 3; ++i)
            QCOMPARE(c.exchange("FILTER"), QByteArray("NG"));
        QCOMPARE(c.exchange("FILTER"), QByteArray("0"));
        b.board.injectFault({BoardFault::Position800000});
        QCOMPARE(c.exchange("Z POS"), QByteArray("800000"));
        b.board.injectFault({BoardFault::ShortReply});
        QCOMPARE(c.exchange("OBJLENS"), QByteArray(""));
        // Events do not exist in the old dialect.
        b.board.injectFault({BoardFault::EventInExchange});
        QCOMPARE(c.exchange("Z POS"), QByteArray("60000"));
        b.board.injectFault({BoardFault::Merge});
        c.send("FILTER\n");
        QCOMPARE(c.readFor(80), QByteArray());
        c.send("OBJLENS\n");
        QCOMPARE(c.readUntil([](const QByteArray &x) { return x.count('\n') == 2; }, 1000), QByteArray("0\r\n1\r\n"));
    }

    void eventsOfTurretsAndKnobs()
    {
        Bench b("2.3");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        b.instrument.turnFilter(2, 100);
        QCOMPARE(c.readFor(50), QByteArray()); // nothing while the turret turns
        QCOMPARE(c.readLine(), QByteArray("$A#FILTER 2"));
        b.instrument.turnObjective(3, 50);
        QCOMPARE(c.readLine(), QByteArray("$A#OBJ 3"));
        const int before = b.instrument.state().stagePosition;
        b.instrument.turnKnob(false, 500, 150);
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE RUN"));
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB FINE STOP"));
        QCOMPARE(b.instrument.state().stagePosition, before + 500);
        b.instrument.turnKnob(true, -200, 60);
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB COARSE RUN"));
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB COARSE STOP"));
        QCOMPARE(b.board.unacknowledgedEvents().size(), 6);
        c.send("$OK#A#FILTER 2\r\n$OK#A#KNOB FINE RUN\r\n");
        QTRY_COMPARE(b.board.unacknowledgedEvents(),
                     (QStringList {"OBJ 3", "KNOB FINE STOP", "KNOB COARSE RUN", "KNOB COARSE STOP"}));
        // Injected at any time, even inside an exchange.
        b.board.sendEvent("KNOB COARSE RUN");
        QCOMPARE(c.readLine(), QByteArray("$A#KNOB COARSE RUN"));
        b.board.writeRaw("$A#OBJ 9\r\n", 30);
        QCOMPARE(c.readFor(10), QByteArray());
        QCOMPARE(c.readLine(), QByteArray("$A#OBJ 9"));
    }

    void oldDialectSendsNoEvents()
    {
        Bench b("old");
        QVERIFY(b.ok());
        b.instrument.turnFilter(2, 20);
        b.instrument.turnKnob(true, 100, 50);
        QCOMPARE(b.client->readFor(200), QByteArray());
    }

    void logKeepsLinesWithTheirTimes()
    {
        Bench b("2.4");
        QVERIFY(b.ok());
        PtyClient &c = *b.client;
        c.send("$A#STAT");
        QTest::qWait(20);
        c.send("US\r\n"); // one line over two deliveries, CR dropped from the text
        QVERIFY(!c.readLine().isEmpty());
        QTest::qWait(200);
        c.exchange("$A#STAGE POS");
        const QVector<BoardSimulator::ReceivedLine> lines = b.board.receivedLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].text, QString("$A#STATUS"));
        QCOMPARE(lines[0].raw, QByteArray("$A#STATUS\r\n"));
        QCOMPARE(lines[1].text, QString("$A#STAGE POS"));
        const int64_t gap = lines[1].timeMs - lines[0].timeMs;
        QVERIFY2(gap >= 195 && gap < 1000, qPrintable(QString::number(gap)));
        QCOMPARE(b.board.waitForLine("$A#STAGE POS", 0), 1);
        QCOMPARE(b.board.waitForLine("$A#FILTER", 50), -1);
        c.send("$A#FILTER\n");
        QCOMPARE(b.board.waitForLine("$A#FILTER", 1000), 2);
        QVERIFY(b.board.waitForCount(3, 0));
        b.board.clearLog();
        QCOMPARE(b.board.receivedCount(), 0);

        // Without logging (a long simulated run) the board still answers and keeps nothing.
        b.board.setLogging(false);
        QVERIFY(!c.exchange("$A#STAGE POS").isEmpty());
        QCOMPARE(b.board.receivedCount(), 0);
        QVERIFY(b.board.writes().isEmpty());
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
            board.sendEvent("KNOB FINE RUN", 5000); // still waiting when we stop
            QVERIFY(board.waitForCount(2, 1000));
            const int64_t t0 = MonotonicClock::nowMs();
            board.stop();
            QVERIFY(MonotonicClock::nowMs() - t0 < 500);
            QVERIFY(!board.isRunning());
            board.stop(); // twice is harmless
        }
        // Nobody ever opens the line: the board still stops.
        BoardSimulator lonely(vi);
        QVERIFY(lonely.start());
        lonely.sendEvent("KNOB FINE RUN");
        QTest::qWait(30);
    }

    void faultSpecs()
    {
        BoardFault f;
        QVERIFY(BoardFault::parse("ng3", &f));
        QCOMPARE(int(f.kind), int(BoardFault::Ng));
        QCOMPARE(f.count, 3);
        QVERIFY(BoardFault::parse("split=always", &f));
        QCOMPARE(f.count, -1);
        QVERIFY(BoardFault::parse(" pos800000@STAGE POS", &f));
        QCOMPARE(int(f.kind), int(BoardFault::Position800000));
        QCOMPARE(f.match, QString("STAGE POS"));
        QString error;
        QVERIFY(!BoardFault::parse("sometimes", &f, &error));
        QVERIFY(error.contains("sometimes"));
        QVERIFY(!BoardFault::parse("busy=x", &f));
        QList<BoardFault> list;
        QVERIFY(BoardFault::parseList("silence,event,short=2", &list));
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[2].count, 2);
        for (const QString &name : BoardFault::names())
            QVERIFY(BoardFault::parse(name, &f) && BoardFault::name(f.kind) == name);
        BoardProfile p;
        QVERIFY(!BoardProfile::fromName("new", &p));
        QVERIFY(BoardProfile::fromName("2.3.1", &p));
        QCOMPARE(p.versionNumber(), 2.31f);
        // The board's version thresholds are the program's: its version reads as the program reads it.
        for (const char *text : {"2.3.1.4", "2.5.0.9", "3", "2.10"}) {
            QVERIFY(BoardProfile::fromName(text, &p));
            QCOMPARE(p.versionNumber(), firmwareVer(text));
        }
        QVERIFY(BoardProfile::fromName("2.3.1", &p));
        QVERIFY(p.hasStatusQuery());
        QVERIFY(BoardProfile::fromName("2.5", &p));
        QVERIFY(!p.ledPowerInTenths() && !p.takesMaxAndAcc());
        QVERIFY(BoardProfile::fromName("3.0", &p));
        QVERIFY(p.takesMaxAndAcc());
        QVERIFY(BoardProfile::fromName("old", &p));
        QVERIFY(!p.newDialect);
        QCOMPARE(p.name(), QString("old"));
    }

    void simulatedInstrumentFromTheEnvironment()
    {
        qputenv("VANTOR_SIM_FIRMWARE", "2.6");
        qputenv("VANTOR_SIM_FAULTS", "busy@STAGE POS");
        qunsetenv("VANTOR_SERIAL_DEVICE");
        {
            QStringList warnings;
            SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(&warnings));
            QVERIFY(warnings.isEmpty());
            QVERIFY(sim.start());
            QVERIFY(sim.board());
            QCOMPARE(SimulatedInstrument::current(), &sim);
            QCOMPARE(SimulatedInstrument::serialDevice(), sim.board()->devicePath());
            PtyClient c(SimulatedInstrument::serialDevice());
            QCOMPARE(c.exchange("$A#VER"), QByteArray("$OK#A#VER#2.6"));
            QCOMPARE(c.exchange("$A#STAGE POS"), QByteArray("$BUSY#A#STAGE POS"));
        }
        QCOMPARE(SimulatedInstrument::current(), nullptr);
        QCOMPARE(SimulatedInstrument::serialDevice(), QString());

        // An explicit device: the simulator stays off.
        qputenv("VANTOR_SERIAL_DEVICE", "/dev/ttyUSB7");
        qputenv("VANTOR_SIM_FIRMWARE", "newest");
        qputenv("VANTOR_SIM_FAULTS", "nonsense");
        QStringList warnings;
        SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(&warnings));
        QCOMPARE(warnings.size(), 2);
        QVERIFY(sim.start());
        QCOMPARE(sim.board(), nullptr);
        QCOMPARE(SimulatedInstrument::serialDevice(), QString("/dev/ttyUSB7"));
        QCOMPARE(sim.devicePath(), QString("/dev/ttyUSB7"));
        qunsetenv("VANTOR_SERIAL_DEVICE");
        qunsetenv("VANTOR_SIM_FIRMWARE");
        qunsetenv("VANTOR_SIM_FAULTS");
    }

    void cameraStateIsShared()
    {
        VirtualInstrument vi;
        vi.updateCamera([](SimCameraState &c) { c.bitDepth = 16; });
        QCOMPARE(vi.camera().bitDepth, 16);
        QCOMPARE(vi.state().camera.bitDepth, 16);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimulator)
#include "tst_boardsimulator.moc"
