#include "SimHand.h"

#include "BoardFault.h"
#include "BoardSimulator.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "VirtualInstrument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int KnobTurnMs = 300;  // one knob command turns for this long
constexpr int LineLimit = 4096;  // a longer command line is cut here
constexpr int ClientTimeoutMs = 2000;

const QString Usage = QStringLiteral(
    "commands: filter N|CUBE (0 Trans, 1-3 cubes, or a cube's name) | objective N, lens N (1-5) | knob coarse|fine STEPS"
    " | event TEXT | fault TEXT | state");

QString refusal(const QString &text)
{
    return QStringLiteral("error: ") + text;
}

// A filter position from its number or its cube's name; false when neither.
bool filterPosition(const QString &text, int *position)
{
    bool ok = false;
    *position = text.toInt(&ok);
    if (ok)
        return *position >= 0 && *position < VirtualInstrument::ChannelCount;
    for (*position = 0; *position < VirtualInstrument::ChannelCount; ++*position)
        if (SimHand::cubeName(*position).compare(text, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString describe(const VirtualInstrument::State &s)
{
    QStringList leds;
    for (int c = 0; c < VirtualInstrument::ChannelCount; ++c)
        leds << (s.ledOn[c] ? QString::number(s.ledPower[c]) + "%" : QStringLiteral("off"));
    return QStringLiteral("stage %1 (limits %2..%3)%4, filter %5%6, objective %7%8, LEDs %9")
        .arg(s.stagePosition).arg(s.stageLower).arg(s.stageUpper)
        .arg(s.stageMoving ? QStringLiteral(" moving") : QString())
        .arg(SimHand::cubeName(s.filterPosition).isEmpty() ? QString::number(s.filterPosition)
                                                  : QStringLiteral("%1 (%2)").arg(s.filterPosition).arg(SimHand::cubeName(s.filterPosition)))
        .arg(s.filterTurning ? QStringLiteral(" turning") : QString())
        .arg(s.objectivePosition).arg(s.objectiveTurning ? QStringLiteral(" turning") : QString())
        .arg(leds.join(' '));
}

// A whole number in [low, high] from text; false otherwise.
bool number(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= low && *value <= high;
}

bool address(const QString &path, sockaddr_un *out, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    std::memset(out, 0, sizeof *out);
    out->sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) >= sizeof out->sun_path) {
        if (error)
            *error = QStringLiteral("the socket path %1 is empty or longer than %2 bytes")
                         .arg(path).arg(sizeof out->sun_path - 1);
        return false;
    }
    std::memcpy(out->sun_path, name.constData(), size_t(name.size()));
    return true;
}

// Reads until a line feed (untilLine) or the end of the stream, at most LineLimit bytes, for up
// to timeoutMs in all; false on a time-out or a read error.
bool readFrom(int fd, bool untilLine, int timeoutMs, QByteArray *out)
{
    const int64_t end = MonotonicClock::nowMs() + timeoutMs;
    while (out->size() < LineLimit && !(untilLine && out->contains('\n'))) {
        const int64_t left = end - MonotonicClock::nowMs();
        pollfd p {fd, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, int(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(chunk, int(n));
    }
    return true;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (int done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

// A connected stream socket to path, or -1 with errno set.
int connectTo(const QString &path, QString *error)
{
    sockaddr_un where;
    if (!address(path, &where, error))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

SimHand::SimHand(VirtualInstrument &instrument, BoardSimulator *board) : m_instrument(instrument), m_board(board)
{
}

SimHand::~SimHand()
{
    stop();
}

QString SimHand::socketPath()
{
    return Paths::root() + QStringLiteral("/.sim/hand");
}

bool SimHand::start(QString *error, const QString &path)
{
    if (m_running)
        return true;
    sockaddr_un where;
    if (!address(path, &where, error))
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // A run that still listens keeps its socket; one that ended left a file nobody answers on.
    const int other = connectTo(path, nullptr);
    if (other >= 0) {
        ::close(other);
        if (error)
            *error = QStringLiteral("another simulated run listens on %1").arg(path);
        return false;
    }
    ::unlink(QFile::encodeName(path).constData());
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0
        || ::listen(m_listen, 4) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        if (error)
            *error = QStringLiteral("cannot listen on %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        stop();
        return false;
    }
    m_path = path;
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return true;
}

void SimHand::stop()
{
    if (m_thread.joinable()) {
        const char byte = 0;
        if (::write(m_wake[1], &byte, 1) < 0) {
            // The pipe is ours and empty: a failed write leaves the poll's time-out to end the thread.
        }
        m_running = false;
        m_thread.join();
    }
    m_running = false;
    for (int *fd : {&m_listen, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_path.isEmpty())
        ::unlink(QFile::encodeName(m_path).constData());
    m_path.clear();
}

void SimHand::run()
{
    while (m_running) {
        pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(p, 2, 500) <= 0)
            continue;
        if (p[1].revents)
            break;
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            serve(client);
            ::close(client);
        }
    }
}

void SimHand::serve(int client)
{
    QByteArray line;
    if (!readFrom(client, true, ClientTimeoutMs, &line))
        return;
    const int lf = line.indexOf('\n');
    if (lf >= 0)
        line.truncate(lf);
    const QString reply = execute(QString::fromUtf8(line), m_instrument, m_board);
    writeAll(client, reply.toUtf8() + '\n');
}

QString SimHand::cubeName(int position)
{
    // Turret slot k holds position (4 - k) % 4.
    std::string name;
    ReadPrivateProfileString("Filter", std::to_string((4 - position) % 4), "", name, Paths::configFile().toStdString());
    return QString::fromStdString(name).trimmed();
}

QString SimHand::execute(const QString &line, VirtualInstrument &instrument, BoardSimulator *board)
{
    const QString text = line.simplified();
    const QStringList w = text.split(' ', Qt::SkipEmptyParts);
    if (w.isEmpty())
        return refusal(Usage);
    const QString verb = w[0].toLower();
    const QString rest = text.section(' ', 1);
    int value = 0;
    if (verb == "filter") {
        if (w.size() != 2 || !filterPosition(w[1], &value))
            return refusal(QStringLiteral("filter takes a position from 0 (Trans) to %1 or a cube's name")
                               .arg(VirtualInstrument::ChannelCount - 1));
        instrument.turnFilter(value);
    } else if (verb == "objective" || verb == "lens") {
        if (w.size() != 2 || !number(w[1], 1, 5, &value))
            return refusal(QStringLiteral("%1 takes a position from 1 to 5").arg(verb));
        instrument.turnObjective(value);
    } else if (verb == "knob") {
        const QString which = w.value(1).toLower();
        if (w.size() != 3 || (which != "coarse" && which != "fine") || !number(w[2], -1000000, 1000000, &value))
            return refusal(QStringLiteral("knob takes coarse or fine and a number of steps"));
        instrument.turnKnob(which == "coarse", value, KnobTurnMs);
    } else if (verb == "event" || verb == "fault") {
        if (!board)
            return refusal(QStringLiteral("no board simulator runs here (VANTOR_SERIAL_DEVICE names another device)"));
        if (w.size() < 2)
            return refusal(QStringLiteral("%1 takes a text").arg(verb));
        if (verb == "event") {
            board->sendEvent(rest);
        } else {
            BoardFault fault;
            QString error;
            if (w.size() != 2 || !BoardFault::parse(rest, &fault, &error))
                return refusal(error.isEmpty() ? QStringLiteral("fault takes one NAME[=COUNT|always][@MATCH]") : error);
            board->injectFault(fault);
        }
    } else if (verb == "help") {
        return Usage;
    } else if (verb != "state") {
        return refusal(Usage);
    }
    return describe(instrument.state());
}

bool SimHand::send(const QString &line, QString *reply, const QString &path, int timeoutMs)
{
    QString error;
    const int fd = connectTo(path, &error);
    if (fd < 0) {
        *reply = !error.isEmpty() ? error
                                  : QStringLiteral("no simulated instrument listens on %1 (%2)")
                                        .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    QByteArray answer;
    const bool ok = writeAll(fd, line.simplified().toUtf8() + '\n') && readFrom(fd, false, timeoutMs, &answer)
                    && !answer.isEmpty();
    ::close(fd);
    *reply = ok ? QString::fromUtf8(answer).trimmed()
                : QStringLiteral("the simulated instrument on %1 did not answer").arg(path);
    return ok;
}
