// vantor-board-sim: serves the simulated controller board on a pseudo-terminal until interrupted.
//
//   vantor-board-sim --firmware 2.6 --fault ng=3 --fault split=always
//   picocom -q --omap crlf /dev/pts/N     (or: echo '$A#VER' > /dev/pts/N; cat /dev/pts/N)
//
// Lines typed on standard input act on the instrument as a hand would (see SimHand): "filter N",
// "objective N", "knob coarse|fine STEPS", "event TEXT", "fault TEXT", "state".

#include "BoardFault.h"
#include "BoardProfile.h"
#include "BoardSimulator.h"
#include "SimHand.h"
#include "VirtualInstrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

void print(const QString &text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString visible(const QByteArray &bytes)
{
    QString out;
    for (const char ch : bytes) {
        if (ch == '\r')
            out += QStringLiteral("\\r");
        else if (ch == '\n')
            out += QStringLiteral("\\n");
        else if (ch >= 32 && ch < 127)
            out += QLatin1Char(ch);
        else
            out += QStringLiteral("\\x%1").arg(uchar(ch), 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantor-board-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the simulated controller board on a pseudo-terminal and prints its path.\n"
                       "Standard input takes: filter N, objective N, knob coarse|fine STEPS, event TEXT, "
                       "fault TEXT, state."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("firmware"),
                      QStringLiteral("Firmware profile: %1, or another version such as 2.5 (default 3.1).").arg(BoardProfile::names().join(", ")),
                      QStringLiteral("profile"), QStringLiteral("3.1")});
    parser.addOption({QStringLiteral("old-move-answer"),
                      QStringLiteral("When the old firmware answers a move: start or end (default start)."),
                      QStringLiteral("when"), QStringLiteral("start")});
    parser.addOption({QStringLiteral("fault"),
                      QStringLiteral("A fault, repeatable: NAME[=COUNT|always][@MATCH], NAME one of %1.")
                          .arg(BoardFault::names().join(", ")),
                      QStringLiteral("text")});
    parser.addOption({QStringLiteral("link"), QStringLiteral("Also make a symbolic link to the device here."),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("quiet"), QStringLiteral("Do not print the traffic.")});
    parser.process(app);

    BoardProfile profile;
    if (!BoardProfile::fromName(parser.value("firmware"), &profile)) {
        std::fprintf(stderr, "unknown firmware profile \"%s\"\n", qPrintable(parser.value("firmware")));
        return 2;
    }
    if (!profile.setOldMoveAnswer(parser.value("old-move-answer"))) {
        std::fprintf(stderr, "--old-move-answer takes start or end, not \"%s\"\n",
                     qPrintable(parser.value("old-move-answer")));
        return 2;
    }
    VirtualInstrument instrument;
    instrument.setDefaultSpeed(profile.defaultSpeed);
    BoardSimulator board(instrument, profile);
    for (const QString &text : parser.values("fault")) {
        BoardFault fault;
        QString error;
        if (!BoardFault::parse(text, &fault, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
        board.injectFault(fault);
    }
    QString error;
    if (!board.start(&error)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    const QString link = parser.value("link");
    if (!link.isEmpty()) {
        QFile::remove(link);
        if (!QFile::link(board.devicePath(), link))
            std::fprintf(stderr, "cannot make the link %s\n", qPrintable(link));
    }
    print(board.devicePath());
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    const bool quiet = parser.isSet("quiet");
    int seenLines = 0;
    int seenWrites = 0;
    QByteArray input;
    bool stdinOpen = true;
    while (!g_stop) {
        pollfd p {STDIN_FILENO, POLLIN, 0};
        if (stdinOpen && ::poll(&p, 1, 100) > 0) {
            char chunk[256];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0)
                stdinOpen = false;
            else
                input.append(chunk, int(n));
            int lf;
            while ((lf = input.indexOf('\n')) >= 0) {
                print(SimHand::execute(QString::fromLocal8Bit(input.left(lf)), instrument, &board));
                input.remove(0, lf + 1);
            }
        } else if (!stdinOpen) {
            ::usleep(100 * 1000);
        }
        if (quiet)
            continue;
        const QVector<BoardSimulator::ReceivedLine> lines = board.receivedLines();
        for (; seenLines < lines.size(); ++seenLines)
            print(QStringLiteral("%1 <- %2").arg(lines[seenLines].timeMs).arg(visible(lines[seenLines].raw)));
        const QVector<BoardSimulator::Write> writes = board.writes();
        for (; seenWrites < writes.size(); ++seenWrites)
            print(QStringLiteral("%1 -> %2").arg(writes[seenWrites].timeMs).arg(visible(writes[seenWrites].bytes)));
    }
    board.stop();
    if (!link.isEmpty())
        QFile::remove(link);
    return 0;
}
