#include "BoardSimulator.h"

#include "MonotonicClock.h"
#include "VirtualInstrument.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int WatchTickMs = 10;      // how often the instrument is looked at for events
constexpr int MaxLineBytes = 4096;   // an endless line without LF is dropped
constexpr int EventGapMs = 5;        // the event-in-exchange fault: event, then the reply this later
const QByteArray GarbageBytes = QByteArrayLiteral("\x7f\x01~%?\xfe\x80");
const QString DefaultFaultEvent = QStringLiteral("KNOB FINE STOP");

bool isPositionQuery(const QString &text)
{
    return text == QLatin1String("Z POS") || text == QLatin1String("$A#STAGE POS");
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
} // namespace

BoardSimulator::BoardSimulator(VirtualInstrument &instrument, const BoardProfile &profile)
    : m_instrument(instrument), m_firmware(instrument, profile)
{
}

BoardSimulator::~BoardSimulator()
{
    stop();
}

bool BoardSimulator::start(QString *error)
{
    if (m_running)
        return true;
    auto fail = [&](const char *what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
        closeFd(m_master);
        closeFd(m_slave);
        closeFd(m_wakeFd);
        return false;
    };
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
        return fail("openpty");
    termios tio {};
    if (::tcgetattr(m_slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        return fail("eventfd");
    const char *name = ::ttyname(m_slave);
    if (!name)
        return fail("ttyname");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devicePath = QString::fromLocal8Bit(name);
        // What the instrument shows now raises no event.
        const VirtualInstrument::State s = m_instrument.state();
        m_seenFilter = s.filterTurning ? -1 : s.filterPosition;
        m_seenObjective = s.objectiveTurning ? 0 : s.objectivePosition;
        m_seenKnob[0] = s.knobCoarseRunning;
        m_seenKnob[1] = s.knobFineRunning;
    }
    m_running = true;
    m_thread = std::thread(&BoardSimulator::run, this);
    return true;
}

void BoardSimulator::stop()
{
    if (!m_thread.joinable())
        return;
    m_running = false;
    wake();
    m_thread.join();
    closeFd(m_wakeFd);
    closeFd(m_master);
    closeFd(m_slave);
}

bool BoardSimulator::isRunning() const
{
    return m_running;
}

QString BoardSimulator::devicePath() const
{
    return locked(m_devicePath);
}

BoardProfile BoardSimulator::profile() const
{
    return locked(m_firmware.profile());
}

void BoardSimulator::setProfile(const BoardProfile &profile)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firmware.setProfile(profile);
}

void BoardSimulator::injectFault(const BoardFault &fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fault.count != 0)
        m_faults.append(fault);
}

void BoardSimulator::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
    m_heldReply.clear();
}

QList<BoardFault> BoardSimulator::pendingFaults() const
{
    return locked(m_faults);
}

void BoardSimulator::sendEvent(const QString &text, int delayMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        emitEvent(text, MonotonicClock::nowMs() + std::max(0, delayMs));
    }
    wake();
}

void BoardSimulator::writeRaw(const QByteArray &bytes, int delayMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        schedule(MonotonicClock::nowMs() + std::max(0, delayMs), bytes);
    }
    wake();
}

QVector<BoardSimulator::ReceivedLine> BoardSimulator::receivedLines() const
{
    return locked(m_received);
}

QStringList BoardSimulator::receivedTexts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList texts;
    for (const ReceivedLine &l : m_received)
        texts << l.text;
    return texts;
}

int BoardSimulator::receivedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
}

void BoardSimulator::setLogging(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logging = on;
}

void BoardSimulator::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_writes.clear();
    m_acks.clear();
}

int BoardSimulator::waitForLine(const QString &text, int timeoutMs, int from) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    int found = -1;
    m_logChanged.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [&] {
        for (int i = std::max(0, from); i < m_received.size(); ++i) {
            if (m_received[i].text == text) {
                found = i;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool BoardSimulator::waitForCount(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_logChanged.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                 [&] { return m_received.size() >= count; });
}

QVector<BoardSimulator::Write> BoardSimulator::writes() const
{
    return locked(m_writes);
}

QByteArray BoardSimulator::writtenBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QByteArray all;
    for (const Write &w : m_writes)
        all += w.bytes;
    return all;
}

QStringList BoardSimulator::unacknowledgedEvents() const
{
    return locked(m_pendingAcks);
}

QStringList BoardSimulator::acknowledgements() const
{
    return locked(m_acks);
}

void BoardSimulator::wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void BoardSimulator::schedule(int64_t dueMs, const QByteArray &bytes)
{
    m_outbox.emplace(dueMs, bytes);
}

void BoardSimulator::emitEvent(const QString &text, int64_t dueMs)
{
    schedule(dueMs, BoardFirmware::event(text));
    m_pendingAcks << text;
}

int64_t BoardSimulator::nextDue(int64_t nowMs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t due = m_outbox.empty() ? nowMs + WatchTickMs : m_outbox.begin()->first;
    if (!m_lateReply.isEmpty())
        due = std::min(due, m_lateDueMs);
    return due;
}

// With m_mutex held: the late fault's reply goes out now.
void BoardSimulator::releaseLateReply(int64_t nowMs)
{
    if (m_lateReply.isEmpty())
        return;
    schedule(nowMs, m_lateReply);
    m_lateReply.clear();
}

void BoardSimulator::flushDue(int64_t nowMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_lateReply.isEmpty() && m_lateDueMs <= nowMs)
        releaseLateReply(nowMs);
    while (!m_outbox.empty() && m_outbox.begin()->first <= nowMs) {
        const QByteArray bytes = m_outbox.begin()->second;
        m_outbox.erase(m_outbox.begin());
        // Nobody reading the line: what does not fit into the terminal's buffer is lost, as on a
        // real line; the board never blocks.
        const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
        if (m_logging)
            m_writes.append({nowMs, n > 0 ? bytes.left(int(n)) : QByteArray()});
    }
}

void BoardSimulator::run()
{
    QByteArray chunk(1024, Qt::Uninitialized);
    while (m_running) {
        int64_t now = MonotonicClock::nowMs();
        watchInstrument(now);
        flushDue(now);
        now = MonotonicClock::nowMs();
        const int timeout = int(std::clamp<int64_t>(nextDue(now) - now, 0, WatchTickMs));
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::read(m_master, chunk.data(), size_t(chunk.size()));
        if (n <= 0) {
            // No slave side open at the moment (EIO) or nothing after all: wait a little.
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                MonotonicClock::sleepMs(WatchTickMs);
            continue;
        }
        now = MonotonicClock::nowMs();
        m_input.append(chunk.constData(), int(n));
        int lf;
        while ((lf = m_input.indexOf('\n')) >= 0) {
            const QByteArray raw = m_input.left(lf + 1);
            m_input.remove(0, lf + 1);
            handleLine(raw, now);
        }
        if (m_input.size() > MaxLineBytes)
            m_input.clear();
    }
}

void BoardSimulator::handleLine(const QByteArray &raw, int64_t nowMs)
{
    QByteArray bare = raw;
    while (!bare.isEmpty() && (bare.endsWith('\n') || bare.endsWith('\r')))
        bare.chop(1);
    const QString text = QString::fromLatin1(bare);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_logging)
        m_received.append({nowMs, raw, text});
    m_logChanged.notify_all();
    static const QString ackPrefix = QStringLiteral("$OK#A#");
    if (text.startsWith(QLatin1String("$OK#"))) {
        if (m_logging)
            m_acks << text;
        if (text.startsWith(ackPrefix))
            m_pendingAcks.removeOne(text.mid(ackPrefix.size()));
        return;
    }
    if (m_script) {
        if (const std::optional<QList<Piece>> pieces = m_script(text)) {
            for (const Piece &piece : *pieces)
                schedule(nowMs + piece.delayMs, piece.bytes);
            return;
        }
    }
    answer(text, nowMs);
}

void BoardSimulator::setScript(Script script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = std::move(script);
}

// With m_mutex held.
void BoardSimulator::answer(const QString &text, int64_t nowMs)
{
    if (!m_firmware.isCommand(text))
        return;
    releaseLateReply(nowMs);
    // The faults of this command; each rule counts down.
    bool has[BoardFault::Late + 1] = {};
    QString faultEvent = DefaultFaultEvent;
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        const bool applies = (it->match.isEmpty() || text.contains(it->match))
                             && (it->kind != BoardFault::Position800000 || isPositionQuery(text));
        if (applies) {
            has[it->kind] = true;
            if ((it->kind == BoardFault::EventInExchange || it->kind == BoardFault::ReplyWithEvent)
                && !it->eventText.isEmpty())
                faultEvent = it->eventText;
            if (it->count > 0 && --it->count == 0) {
                it = m_faults.erase(it);
                continue;
            }
        }
        ++it;
    }
    if (has[BoardFault::Silence])
        return;

    const BoardProfile &profile = m_firmware.profile();
    int64_t due = nowMs + profile.replyDelayMs;
    QByteArray bytes;
    if (has[BoardFault::Busy]) {
        bytes = m_firmware.busyReply(text);
    } else if (has[BoardFault::Ng]) {
        bytes = m_firmware.ngReply(text);
    } else {
        BoardFirmware::Reply reply = m_firmware.handle(text);
        if (!reply.answered)
            return;
        due += reply.delayMs;
        if (has[BoardFault::Position800000] && reply.isPosition)
            reply.text = m_firmware.positionReply(800000);
        bytes = has[BoardFault::ShortReply] ? m_firmware.shortReply(reply) : reply.text;
    }

    const bool events = profile.newDialect;
    if (has[BoardFault::EventInExchange] && events) {
        emitEvent(faultEvent, due);
        due += EventGapMs;
    }
    if (has[BoardFault::Garbage])
        bytes.prepend(GarbageBytes);
    if (has[BoardFault::ReplyWithEvent] && events) {
        bytes += BoardFirmware::event(faultEvent);
        m_pendingAcks << faultEvent;
    }
    if (has[BoardFault::Late]) {
        m_lateReply = bytes;
        m_lateDueMs = due + BoardFault::LateReplyMs;
        return;
    }
    if (has[BoardFault::Merge]) {
        m_heldReply += bytes;
        return;
    }
    bytes.prepend(m_heldReply);
    m_heldReply.clear();
    if (has[BoardFault::Split] && bytes.size() > 1) {
        const int pieces = std::clamp(profile.splitPieces, 2, bytes.size());
        const int size = (bytes.size() + pieces - 1) / pieces;
        for (int i = 0, at = 0; at < bytes.size(); ++i, at += size)
            schedule(due + int64_t(i) * profile.splitGapMs, bytes.mid(at, size));
        return;
    }
    schedule(due, bytes);
}

void BoardSimulator::watchInstrument(int64_t nowMs)
{
    const VirtualInstrument::State s = m_instrument.state();
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool events = m_firmware.profile().newDialect;
    const int filter = s.filterTurning ? -1 : s.filterPosition;
    if (filter != m_seenFilter && filter >= 0 && events)
        emitEvent(QStringLiteral("FILTER %1").arg(BoardFirmware::filterSlot(filter, false)), nowMs);
    m_seenFilter = filter;
    const int objective = s.objectiveTurning ? 0 : s.objectivePosition;
    if (objective != m_seenObjective && objective > 0 && events)
        emitEvent(QStringLiteral("OBJ %1").arg(objective), nowMs);
    m_seenObjective = objective;
    const bool running[2] = {s.knobCoarseRunning, s.knobFineRunning};
    for (int k = 0; k < 2; ++k) {
        if (running[k] != m_seenKnob[k] && events)
            emitEvent(QStringLiteral("KNOB %1 %2").arg(k == 0 ? "COARSE" : "FINE", running[k] ? "RUN" : "STOP"),
                      nowMs);
        m_seenKnob[k] = running[k];
    }
}
