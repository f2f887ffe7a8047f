#include "BoardFault.h"
#include "BoardProfile.h"
#include "BoardSimulator.h"
#include "MonotonicClock.h"
#include "SimulatedInstrument.h"
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
    explicit PtyClient(const QString &path) : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio {};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~PtyClient() { ::close(m_fd); }
    void send(const QByteArray &bytes) { QCOMPARE(::write(m_fd, bytes.constData(), bytes.size()), ssize_t(bytes.size())); }

    // The bytes read until pred holds on them or timeoutMs has passed.
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &pred, int timeoutMs)
    {
        QByteArray got;
        const int64_t end = MonotonicClock::nowMs() + timeoutMs;
        for (int64_t left = timeoutMs; !pred(got) && left > 0; left = end - MonotonicClock::nowMs()) {
            pollfd p {m_fd, POLLIN, 0};
            char chunk[512];
            const ssize_t n = ::poll(&p, 1, int(left)) > 0 ? ::read(m_fd, chunk, sizeof chunk) : 0;
            got.append(chunk, int(std::max<ssize_t>(n, 0)));
        }
        return got;
    }
    // The reply line to command, without its CR LF.
    QByteArray exchange(const QByteArray &command)
    {
        send(command + '\n');
        return readUntil([](const QByteArray &b) { return b.endsWith("\r\n"); }, 5000).chopped(2);
    }

private:
    int m_fd = -1;
};

// One board on its pseudo-terminal and the program's side opened on it; setup runs before the
// board starts, so what it changes raises no event.
struct Bench
{
    explicit Bench(const QString &profile, const std::function<void(VirtualInstrument &)> &setup = nullptr)
        : board(instrument, [&] { BoardProfile p; BoardProfile::fromName(profile, &p); return p; }())
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
            QCOMPARE(b.client->readUntil([](const QByteArray &) { return false; }, 150), QByteArray());
        else // every reply ends in CR LF
            QCOMPARE(b.client->readUntil([](const QByteArray &x) { return x.endsWith("\r\n"); }, 5000), reply + "\r\n");
    }

    // The old board answers a move with where the stage stands as it starts, or (answer at the
    // end) with its target once it stands there.
    void oldBoardAnswersAMoveAtItsStartOrEnd()
    {
        for (const bool atEnd : {false, true}) {
            Bench b("old");
            QVERIFY(b.ok());
            BoardProfile p = b.board.profile();
            QVERIFY(p.setOldMoveAnswer(atEnd ? "end" : "start"));
            b.board.setProfile(p);
            QVERIFY(!b.client->exchange("Z SPEED 100").isEmpty()); // 3000 steps/s
            QCOMPARE(b.client->exchange("Z 1500"), QByteArray(atEnd ? "61500" : "60000"));
            QCOMPARE(b.instrument.state().stageMoving, !atEnd);
        }
    }

    // The simulated run's options; an explicit device keeps the simulator off.
    void simulatedInstrumentFromTheEnvironment()
    {
        const QList<QPair<const char *, QByteArray>> env = {
            {"VANTOR_SIM_FIRMWARE", "old"}, {"VANTOR_SIM_OLD_MOVE_ANSWER", "end"}, {"VANTOR_SIM_FAULTS", "busy@Z POS"}};
        for (const auto &e : env)
            qputenv(e.first, e.second);
        {
            QStringList warnings;
            SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(&warnings));
            QVERIFY(warnings.isEmpty() && sim.start() && sim.board()->profile().oldMoveAnswerAtEnd);
            QCOMPARE(PtyClient(SimulatedInstrument::serialDevice()).exchange("Z POS"), QByteArray("BUSY"));
        }
        qputenv("VANTOR_SERIAL_DEVICE", "/dev/ttyUSB7");
        SimulatedInstrument sim(SimulatedInstrument::Options::fromEnvironment(nullptr));
        QVERIFY(sim.start() && !sim.board());
        qunsetenv("VANTOR_SERIAL_DEVICE");
        for (const auto &e : env)
            qunsetenv(e.first);
    }
};

QTEST_GUILESS_MAIN(TestBoardSimulator)
#include "tst_boardsimulator.moc"
