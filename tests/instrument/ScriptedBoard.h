#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// A board played by a script on the master side of a pseudo-terminal, for tests that need exact
// bytes and exact timing: every line the program sends is logged with its monotonic time and
// handed to the responder, whose chunks are written after their delays (from the line's arrival).
class ScriptedBoard
{
public:
    struct Chunk
    {
        int delayMs = 0;
        QByteArray bytes;
    };
    struct Line
    {
        int64_t timeMs = 0;
        QByteArray raw;  // with its line end
        QString text;    // without CR and LF
    };
    using Responder = std::function<QList<Chunk>(const QString &line)>;

    ScriptedBoard();
    ~ScriptedBoard();

    bool start();
    QString devicePath() const { return m_path; }

    void setResponder(Responder responder);
    // Unsolicited bytes after delayMs.
    void write(const QByteArray &bytes, int delayMs = 0);

    QVector<Line> lines() const;
    QStringList texts() const;
    QByteArray receivedBytes() const;
    void clearLog();
    // Index of the first line equal to text at index from or later, waiting up to timeoutMs; -1.
    int waitForLine(const QString &text, int timeoutMs, int from = 0) const;
    bool waitForCount(int count, int timeoutMs) const;

    // A new-dialect board in good health: version, status (filter slot, objective), position;
    // every other command is answered "$OK#A#<command>". Each reply ends in CR LF.
    struct Health
    {
        QString version = QStringLiteral("2.6");
        int filterSlot = 4;
        int objective = 1;
        int position = 1000;
    };
    static QList<Chunk> healthyReply(const QString &line, const Health &health);
    static QList<Chunk> reply(const QByteArray &bytes, int delayMs = 2) { return {{delayMs, bytes}}; }

private:
    void run();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Responder m_responder;
    std::multimap<int64_t, QByteArray> m_outbox;
    QVector<Line> m_lines;
    QByteArray m_received;
    QByteArray m_input;
    int m_master = -1;
    int m_slave = -1;
    int m_wake[2] = {-1, -1};
    QString m_path;
    bool m_running = false;
    std::thread m_thread;
};
