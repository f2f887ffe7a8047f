#include "ScriptedBoard.h"

#include "MonotonicClock.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

ScriptedBoard::ScriptedBoard() = default;

ScriptedBoard::~ScriptedBoard()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    if (m_wake[1] >= 0) {
        const char c = 'q';
        (void)::write(m_wake[1], &c, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_master, m_slave, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool ScriptedBoard::start()
{
    char name[128] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        return false;
    termios tio {};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (::pipe(m_wake) != 0)
        return false;
    m_path = QString::fromLocal8Bit(name);
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return true;
}

void ScriptedBoard::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void ScriptedBoard::write(const QByteArray &bytes, int delayMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outbox.emplace(MonotonicClock::nowMs() + delayMs, bytes);
    }
    const char c = 'w';
    (void)::write(m_wake[1], &c, 1);
}

QVector<ScriptedBoard::Line> ScriptedBoard::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

QStringList ScriptedBoard::texts() const
{
    QStringList out;
    for (const Line &line : lines())
        out << line.text;
    return out;
}

QByteArray ScriptedBoard::receivedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void ScriptedBoard::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
    m_received.clear();
}

int ScriptedBoard::waitForLine(const QString &text, int timeoutMs, int from) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    int found = -1;
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (int i = from; i < m_lines.size(); ++i) {
            if (m_lines[i].text == text) {
                found = i;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool ScriptedBoard::waitForCount(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_lines.size() >= count; });
}

QList<ScriptedBoard::Chunk> ScriptedBoard::healthyReply(const QString &line, const Health &health)
{
    if (line == QLatin1String("$A#VER"))
        return reply("$OK#A#VER#" + health.version.toLatin1() + "\r\n");
    if (line == QLatin1String("$A#STATUS"))
        return reply(QStringLiteral("$OK#A#STATUS#FILTER %1#OBJ %2\r\n").arg(health.filterSlot).arg(health.objective).toLatin1());
    if (line == QLatin1String("$A#STAGE POS"))
        return reply(QStringLiteral("$OK#A#STAGE POS#%1\r\n").arg(health.position).toLatin1());
    if (line.startsWith(QLatin1String("$OK#")))
        return {};
    if (line.startsWith(QLatin1String("$A#")))
        return reply("$OK#" + line.mid(1).toLatin1() + "\r\n");
    return {};
}

void ScriptedBoard::run()
{
    for (;;) {
        int timeout = 50;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_running)
                return;
            const int64_t now = MonotonicClock::nowMs();
            while (!m_outbox.empty() && m_outbox.begin()->first <= now) {
                const QByteArray bytes = m_outbox.begin()->second;
                m_outbox.erase(m_outbox.begin());
                (void)::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size()));
            }
            if (!m_outbox.empty())
                timeout = static_cast<int>(std::max<int64_t>(0, m_outbox.begin()->first - now));
        }
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(fds, 2, std::min(timeout, 50));
        if (fds[1].revents & POLLIN) {
            char buf[64];
            (void)::read(m_wake[0], buf, sizeof buf);
        }
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            continue;
        const int64_t now = MonotonicClock::nowMs();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(buf, static_cast<int>(n));
        m_input.append(buf, static_cast<int>(n));
        int end;
        while ((end = m_input.indexOf('\n')) >= 0) {
            Line line;
            line.timeMs = now;
            line.raw = m_input.left(end + 1);
            m_input.remove(0, end + 1);
            QByteArray text = line.raw;
            while (text.endsWith('\n') || text.endsWith('\r'))
                text.chop(1);
            line.text = QString::fromLatin1(text);
            m_lines.append(line);
            if (m_responder) {
                for (const Chunk &chunk : m_responder(line.text))
                    m_outbox.emplace(now + chunk.delayMs, chunk.bytes);
            }
        }
        m_changed.notify_all();
    }
}
