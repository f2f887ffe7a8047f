#include "CrashExceptions.h"
#include "ExceptionHandler.h"
#include "Paths.h"
#include "SignalTranslator.h"
#include "StartOptions.h"
#include "TestRoot.h"
#include "Utilities.h"

#include <QtTest>

#include <fcntl.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TCurrentMenu)
Q_DECLARE_METATYPE(TExecMode)

// As in the program entry: a crash handler installed by a global object, before main runs and
// before the other files' globals exist.
SignalTranslator<TrapException> g_objTrapExceptionTranslator;

namespace {

struct ChildRun
{
    int status = 0;
    QByteArray output;
};

// Runs body in a forked child with its standard output captured. An exception thrown by body goes
// straight to the terminate handler (the test framework in the child must not catch it).
template <class Body>
ChildRun runChild(Body body)
{
    ChildRun run;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return run;
    const pid_t child = fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        [&body]() noexcept { body(); }();
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, int(n));
    ::close(pipeFds[0]);
    ::waitpid(child, &run.status, 0);
    return run;
}

// Recurses until the stack overflows; the frames cannot be folded into a loop.
volatile bool g_recurse = true;
int overflow(int depth)
{
    volatile char frame[1024];
    frame[depth % sizeof frame] = char(depth);
    return (g_recurse ? overflow(depth + 1) : 0) + frame[0];
}

// A thread as the program starts them: its alternate stack first, then its work (here, too deep).
// The sanitiser's own alternate stack is taken away first, as a plain build has none.
void *overflowingThread(void *)
{
    stack_t none = {};
    none.ss_flags = SS_DISABLE;
    ::sigaltstack(&none, nullptr);
    ExceptionTracer::useAlternateStack();
    overflow(0);
    return nullptr;
}

template <class TException>
void crashWith()
{
    SignalTranslator<TException> translator;
    ::raise(TException::kSignal);
}

QByteArray contents(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestStartAndCrash : public QObject
{
    Q_OBJECT
private slots:
    // The handler installed before main resolved the crash files under the root prefix, and the
    // prefix is still there once every global is built.
    void handlersInstalledBeforeMainKeepTheRoot()
    {
        const QString root = qEnvironmentVariable("VANTOR_ROOT");
        QVERIFY(!root.isEmpty());
        QCOMPARE(Paths::root(), root);
        QCOMPARE(Paths::configFile(), root + "/root/Microscope/NIMBO/NIMBO.ini");
    }

    // The start argument: 6 the serial-failure screen, 7 the serial log, 8 the QC test (with the
    // serial log); anything else a normal start. Only the first argument counts.
    void startModes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<TCurrentMenu>("menu");
        QTest::addColumn<TExecMode>("mode");
        QTest::addColumn<QStringList>("messages");
        const QString serial = "== SERIAL LOG ENABLED ==";
        QTest::newRow("none") << QStringList() << MENU_MULTICOLOR << EXEC_NORMAL << QStringList();
        QTest::newRow("6") << QStringList{"6"} << MENU_SERIAL_FAILURE << EXEC_NORMAL << QStringList{"6"};
        QTest::newRow("7") << QStringList{"7"} << MENU_MULTICOLOR << EXEC_SERIAL_LOG << QStringList{"7", serial};
        QTest::newRow("8") << QStringList{"8"} << MENU_MULTICOLOR << EXEC_QC_TEST
                           << QStringList{"8", serial, "== QT TEST MODE =="};
        QTest::newRow("abc") << QStringList{"abc"} << MENU_MULTICOLOR << EXEC_NORMAL << QStringList{"0"};
        QTest::newRow("-7") << QStringList{"-7"} << MENU_MULTICOLOR << EXEC_NORMAL << QStringList{"-7"};
        QTest::newRow("07 8") << QStringList{"07", "8"} << MENU_MULTICOLOR << EXEC_SERIAL_LOG << QStringList{"7", serial};
    }
    void startModes()
    {
        QFETCH(QStringList, args);
        QFETCH(TCurrentMenu, menu);
        QFETCH(TExecMode, mode);
        QFETCH(QStringList, messages);
        QList<QByteArray> bytes{"vantor"};
        std::vector<const char *> argv{bytes[0].constData()};
        for (const QString &arg : args) {
            bytes << arg.toUtf8();
            argv.push_back(bytes.last().constData());
        }
        argv.push_back(nullptr);
        const StartOptions options = StartOptions::fromArguments(int(bytes.size()), argv.data());
        QCOMPARE(options.menu, menu);
        QCOMPARE(options.mode, mode);
        QCOMPARE(options.messages, messages);
        const TExecMode saved = g_ExecMode;
        g_ExecMode = options.mode;
        QCOMPARE(isEnableSerialLog(), mode != EXEC_NORMAL);
        QCOMPARE(isQCTestMode(), mode == EXEC_QC_TEST);
        g_ExecMode = saved;
    }

    // Each crash signal, and a stack overflow (the handler runs on its own stack), replaces both
    // crash files and aborts; without the root's folder it still aborts. The terminate handler
    // names the exception (a crash exception by its class, anything else "Unknown Exception").
    void crashesLeaveBothFilesAndAbort_data()
    {
        QTest::addColumn<int>("signal"); // 0 a stack overflow (1 in a started thread), -1 and -2 thrown exceptions
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("folder");
        QTest::newRow("SIGSEGV") << int(SIGSEGV) << QByteArray("SegmentationFault") << true;
        QTest::newRow("SIGFPE") << int(SIGFPE) << QByteArray("FloatingPointException") << true;
        QTest::newRow("SIGILL") << int(SIGILL) << QByteArray("IllegalInstructionException") << true;
        QTest::newRow("SIGTRAP") << int(SIGTRAP) << QByteArray("TrapException") << true;
        QTest::newRow("stack overflow") << 0 << QByteArray("SegmentationFault") << true;
        QTest::newRow("stack overflow, thread") << 1 << QByteArray("SegmentationFault") << true;
        QTest::newRow("no folder") << int(SIGSEGV) << QByteArray("SegmentationFault") << false;
        QTest::newRow("thrown, unknown") << -1 << QByteArray("Unknown Exception") << false;
        QTest::newRow("thrown, named") << -2 << QByteArray("FloatingPointException") << false;
    }
    void crashesLeaveBothFilesAndAbort()
    {
        QFETCH(int, signal);
        QFETCH(QByteArray, name);
        QFETCH(bool, folder);
        TestRoot root;
        const QString error = root.path() + "/root/vantor.error", exist = root.path() + "/root/exist.error";
        if (folder) { // an earlier crash's files are replaced, not appended to
            root.writeFile("/root/vantor.error", "old crash\nframe\n");
            root.writeFile("/root/exist.error", "old crash\n");
        }
        ExceptionTracer::prepare();
        const ChildRun run = runChild([signal] {
            switch (signal) {
            case SIGSEGV: crashWith<SegmentationFault>(); break;
            case SIGFPE: crashWith<FloatingPointException>(); break;
            case SIGILL: crashWith<IllegalInstructionException>(); break;
            case SIGTRAP: crashWith<TrapException>(); break;
            case 0:
                SignalTranslator<SegmentationFault>();
                overflow(0);
                break;
            case 1: {
                SignalTranslator<SegmentationFault>();
                pthread_t thread;
                pthread_create(&thread, nullptr, overflowingThread, nullptr);
                pthread_join(thread, nullptr);
                break;
            }
            default:
                ExceptionHandler handler;
                if (signal == -1)
                    throw std::runtime_error("not a crash signal");
                throw FloatingPointException();
            }
        });
        QVERIFY(WIFSIGNALED(run.status));
        QCOMPARE(WTERMSIG(run.status), SIGABRT);
        QVERIFY2(run.output.endsWith(name + "\n"), run.output.constData());
        if (!folder) {
            QVERIFY(!QFile::exists(error));
            QVERIFY(signal < 0 || run.output.startsWith("nSize:"));
            QVERIFY(signal != -1 || run.output == name + "\n");
            return;
        }
        const QByteArray stamp = ExceptionTracer::buildStamp();
        QVERIFY(QRegularExpression("^[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}  [0-9]{2}:[0-9]{2}:[0-9]{2}\n$")
                    .match(QString::fromLatin1(stamp))
                    .hasMatch());
        QCOMPARE(contents(exist), stamp);
        const QByteArray log = contents(error);
        QVERIFY2(log.startsWith(stamp), log.constData());
        const QList<QByteArray> frames = log.mid(stamp.size()).split('\n');
        QCOMPARE(frames.last(), QByteArray()); // every frame line ends with a newline
        const int frameCount = frames.size() - 1;
        QVERIFY(frameCount >= 1 && frameCount <= 100);
        QVERIFY2(run.output.startsWith("nSize:" + QByteArray::number(frameCount) + "\n"), run.output.constData());
        QCOMPARE(run.output.count('\n'), frameCount + 2);
    }
};

QTEST_GUILESS_MAIN(TestStartAndCrash)
#include "tst_startandcrash.moc"
