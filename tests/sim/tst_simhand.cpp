// The hand at the simulated instrument, driven through vantor-sim-hand as a person at the
// simulated run would: each command's effect on the instrument, its refusals, and the board
// reporting the turn on the serial line; the socket's life (no run, a stale socket, a second run,
// a client that says nothing).
#include "HangBound.h"
#include "SimHand.h"
#include "SimSandbox.h"
#include "SimulatedInstrument.h"
#include "TestRoot.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>

class TestSimHand : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<SimulatedInstrument> m_sim;

    struct Run
    {
        int status = -1; // -1: the tool did not end
        QString out;
        QString err;
    };

    Run tool(const QStringList &args) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VANTOR_ROOT", m_root->path());
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-hand", args);
        Run run;
        if (process.waitForFinished(kHangBoundMs) && process.exitStatus() == QProcess::NormalExit)
            run.status = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        run.err = QString::fromUtf8(process.readAllStandardError()).trimmed();
        return run;
    }

    VirtualInstrument &vi() { return m_sim->instrument(); }

    static sockaddr_un handAddress()
    {
        sockaddr_un where {};
        where.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(SimHand::socketPath());
        std::memcpy(where.sun_path, path.constData(), size_t(path.size()));
        return where;
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        QVERIFY(SimSandbox::seed()); // the configuration names the cubes
        m_sim = std::make_unique<SimulatedInstrument>(SimulatedInstrument::Options());
        QVERIFY(m_sim->start());
        QString error;
        QVERIFY2(m_sim->startHand(&error), qPrintable(error));
    }

    void cleanup()
    {
        m_sim.reset();
        m_root.reset();
    }

    // Each command and what it leaves: the tool's status, a text of its reply, and the instrument
    // afterwards (filter, objective, stage moved by, faults pending). Refusals change nothing.
    void commands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("objective");
        QTest::addColumn<int>("stageMoved");
        QTest::addColumn<int>("faults");
        QTest::newRow("filter 2") << "filter 2" << 0 << "filter 2 (RFP) turning" << 2 << 1 << 0 << 0;
        QTest::newRow("filter Trans") << "FILTER 0" << 0 << "filter 0 (Trans)" << 0 << 1 << 0 << 0;
        QTest::newRow("filter 3") << "filter 3" << 0 << "filter 3 (GFP)" << 3 << 1 << 0 << 0;
        QTest::newRow("by name") << "filter gfp" << 0 << "filter 3 (GFP)" << 3 << 1 << 0 << 0;
        QTest::newRow("by name, slot 3") << "filter DAPI" << 0 << "filter 1 (DAPI)" << 1 << 1 << 0 << 0;
        QTest::newRow("no such cube") << "filter YFP" << 2 << "error: filter takes" << 0 << 1 << 0 << 0;
        QTest::newRow("no cube 4") << "filter 4" << 2 << "error: filter takes" << 0 << 1 << 0 << 0;
        QTest::newRow("no cube -1") << "filter -1" << 2 << "error: filter takes" << 0 << 1 << 0 << 0;
        QTest::newRow("lens 3") << "lens 3" << 0 << "objective 3 turning" << 0 << 3 << 0 << 0;
        QTest::newRow("objective 5") << "objective 5" << 0 << "objective 5" << 0 << 5 << 0 << 0;
        QTest::newRow("no objective 0") << "objective 0" << 2 << "error: objective takes" << 0 << 1 << 0 << 0;
        QTest::newRow("fine knob up") << "knob fine 200" << 0 << "stage" << 0 << 1 << 200 << 0;
        QTest::newRow("coarse knob down") << "knob coarse -5000" << 0 << "stage" << 0 << 1 << -5000 << 0;
        QTest::newRow("no such knob") << "knob middle 5" << 2 << "error: knob takes" << 0 << 1 << 0 << 0;
        QTest::newRow("fault") << "fault silence=2" << 0 << "stage" << 0 << 1 << 0 << 1;
        QTest::newRow("bad fault") << "fault nonsense" << 2 << "error:" << 0 << 1 << 0 << 0;
        QTest::newRow("state") << "state" << 0 << "stage 60000 (limits 0..520000), filter 0 (Trans), objective 1, LEDs off off off off" << 0 << 1 << 0 << 0;
        QTest::newRow("unknown") << "dance" << 2 << "error: commands: filter N" << 0 << 1 << 0 << 0;
    }

    void commands()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, reply);
        QFETCH(int, filter);
        QFETCH(int, objective);
        QFETCH(int, stageMoved);
        QFETCH(int, faults);
        const int before = vi().state().stagePosition;
        const Run run = tool(line.split(' '));
        QCOMPARE(run.status, status);
        const QString text = status == 0 ? run.out : run.err;
        QVERIFY2(text.contains(reply), qPrintable(text));
        QVERIFY(QTest::qWaitFor([this] { const auto s = vi().state(); return !s.stageMoving && !s.filterTurning && !s.objectiveTurning; }, 30000));
        const VirtualInstrument::State s = vi().state();
        QCOMPARE(s.filterPosition, filter);
        QCOMPARE(s.objectivePosition, objective);
        QCOMPARE(s.stagePosition - before, stageMoved);
        QCOMPARE(m_sim->board()->pendingFaults().size(), faults);
    }

    // The application learns of the turn only from the board: once the turret stands, the board
    // sends its event on the serial line, as the real one does; so does an event asked for.
    void boardReportsTheTurn()
    {
        QCOMPARE(tool({"filter", "2"}).status, 0);
        QVERIFY2(QTest::qWaitFor([this] { return m_sim->board()->writtenBytes().contains("$A#FILTER "); }, 30000),
                 m_sim->board()->writtenBytes().constData());
        QCOMPARE(tool({"event", "KNOB", "FINE", "RUN"}).status, 0);
        QVERIFY(QTest::qWaitFor([this] { return m_sim->board()->writtenBytes().contains("$A#KNOB FINE RUN\r\n"); }, 30000));
    }

    // Without a run the tool says so; the socket is gone when the run ends.
    void noRunListening()
    {
        m_sim.reset();
        QVERIFY(!QFile::exists(SimHand::socketPath()));
        const Run run = tool({"filter", "1"});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("no simulated instrument listens on"), qPrintable(run.err));
    }

    // A run that ended without removing its socket leaves a file nobody answers on: the next run
    // takes its place. While a run listens, a second one on the same sandbox is refused.
    void staleAndSecondRun()
    {
        VirtualInstrument other;
        SimHand second(other, nullptr);
        QString error;
        QVERIFY(!second.start(&error));
        QVERIFY2(error.contains("another simulated run listens"), qPrintable(error));
        QVERIFY(QFile::exists(SimHand::socketPath())); // the first run's socket stays

        m_sim.reset();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0); // bound, never listening: a crashed run
        sockaddr_un where = handAddress();
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
        ::close(fd);
        QVERIFY(QFile::exists(SimHand::socketPath()));
        QVERIFY2(second.start(&error), qPrintable(error));
        QCOMPARE(tool({"filter", "3"}).status, 0);
        QCOMPARE(other.state().filterPosition, 3);
        QCOMPARE(tool({"event", "X"}).status, 2); // no board behind this hand
    }

    // A client that connects and says nothing holds the hand for a moment only.
    void silentClientLetsGo()
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un where = handAddress();
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
        const Run run = tool({"lens", "2"});
        ::close(fd);
        QCOMPARE(run.status, 0);
        QCOMPARE(vi().state().objectivePosition, 2);
    }
};

QTEST_MAIN(TestSimHand)
#include "tst_simhand.moc"
