#pragma once
#include "BoardFault.h"
#include "BoardFirmware.h"
#include "BoardProfile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

class VirtualInstrument;

// The simulated controller board on the master side of a pseudo-terminal. The program opens
// devicePath() (the slave side, raw mode) like the real serial device. A thread of its own reads
// the command lines (ending in LF; a CR before it is dropped), answers them through BoardFirmware
// as the firmware does, commits the injected faults, and in the new dialect sends the events
// on its own: "$A#FILTER <slot>" and "$A#OBJ <n>" when a turret comes to rest after a turn,
// "$A#KNOB COARSE RUN" / "... STOP" and "$A#KNOB FINE RUN" / "... STOP" around a knob turn.
//
// What the instrument shows when start() is called raises no event.
//
// Every line received is logged with its monotonic time, and every write with its bytes, so
// tests can assert exact commands and polling cadence. All members are thread-safe.
//
// Typical test:
//   VirtualInstrument vi;
//   BoardProfile profile;  BoardProfile::fromName("2.6", &profile);
//   BoardSimulator board(vi, profile);
//   QVERIFY(board.start());
//   ... open board.devicePath() with the code under test ...
//   board.injectFault({BoardFault::Ng, 3});
//   QVERIFY(board.waitForLine("$A#STAGE POS", 2000));
class BoardSimulator
{
public:
    struct ReceivedLine
    {
        int64_t timeMs = 0; // monotonic (MonotonicClock::nowMs) when the LF arrived
        QByteArray raw;     // as received, line end included
        QString text;       // without CR and LF
    };
    struct Write
    {
        int64_t timeMs = 0;
        QByteArray bytes;   // one write to the pseudo-terminal
    };

    BoardSimulator(VirtualInstrument &instrument, const BoardProfile &profile = BoardProfile());
    ~BoardSimulator(); // stops and joins the thread

    // Opens the pseudo-terminal and starts the thread; false with a reason in error.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const;
    QString devicePath() const; // the slave side, e.g. "/dev/pts/7"; empty before start()

    BoardProfile profile() const;
    void setProfile(const BoardProfile &profile); // takes effect with the next command

    // A scripted answer, for tests that need exact bytes and timing: each piece is written
    // delayMs after the line arrived. The script sees every command line (not the
    // acknowledgements); when it gives no value the firmware answers. It runs on the board's
    // thread with the board locked, so it must not call the board.
    struct Piece
    {
        int delayMs = 0;
        QByteArray bytes;
    };
    using Script = std::function<std::optional<QList<Piece>>(const QString &line)>;
    void setScript(Script script);

    // Faults for the next commands (see BoardFault).
    void injectFault(const BoardFault &fault);
    void clearFaults();
    QList<BoardFault> pendingFaults() const;

    // Unsolicited output: an event "$A#" + text + CR LF, or any bytes, after delayMs.
    void sendEvent(const QString &text, int delayMs = 0);
    void writeRaw(const QByteArray &bytes, int delayMs = 0);

    // What the program sent.
    QVector<ReceivedLine> receivedLines() const;
    QStringList receivedTexts() const;  // the texts alone
    int receivedCount() const;
    void clearLog();                    // received lines and writes
    // Whether lines, writes and acknowledgements are logged (the default). A long simulated run
    // turns it off, so that the log does not grow for as long as the application runs.
    void setLogging(bool on);
    // Waits until a line equal to text has been received at log index from or later; returns
    // its index, or -1 after timeoutMs.
    int waitForLine(const QString &text, int timeoutMs, int from = 0) const;
    // Waits until at least count lines have been received; true if so within timeoutMs.
    bool waitForCount(int count, int timeoutMs) const;

    // What the board wrote.
    QVector<Write> writes() const;
    QByteArray writtenBytes() const;

    // Events sent and not yet acknowledged ("$OK#A#<event>" received), oldest first, as the
    // event texts after "$A#".
    QStringList unacknowledgedEvents() const;
    QStringList acknowledgements() const; // the acknowledgement lines received, in order

private:
    void run();
    void handleLine(const QByteArray &raw, int64_t nowMs);
    void answer(const QString &text, int64_t nowMs);
    void watchInstrument(int64_t nowMs);
    void emitEvent(const QString &text, int64_t dueMs);
    void schedule(int64_t dueMs, const QByteArray &bytes); // with m_mutex held
    void flushDue(int64_t nowMs);
    void releaseLateReply(int64_t nowMs); // with m_mutex held
    int64_t nextDue(int64_t nowMs) const;
    void wake();
    // A copy of a member taken under the lock.
    template <class T>
    T locked(const T &member) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return member;
    }

    VirtualInstrument &m_instrument;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_logChanged;
    BoardFirmware m_firmware;
    QList<BoardFault> m_faults;
    Script m_script;
    std::multimap<int64_t, QByteArray> m_outbox; // due time -> one write, in order of scheduling
    QByteArray m_heldReply;                  // the merge fault's held reply
    QByteArray m_lateReply;                  // the late fault's held reply ...
    int64_t m_lateDueMs = 0;                 // ... and when it goes out if no command comes first
    QByteArray m_input;                      // bytes of an incomplete line
    bool m_logging = true;
    QVector<ReceivedLine> m_received;
    QVector<Write> m_writes;
    QStringList m_pendingAcks;
    QStringList m_acks;

    // What the instrument showed at the last look, for the events.
    int m_seenFilter = -100;
    int m_seenObjective = -100;
    bool m_seenKnob[2] = {};

    int m_master = -1;
    int m_slave = -1;
    int m_wakeFd = -1;
    QString m_devicePath;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};
