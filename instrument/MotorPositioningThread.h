#pragma once
#include <cstdint>
#include <functional>
#include <optional>

// Waits for the end of a focus-stage move by reading the stage position until two readings in a
// row agree (the stage stands) or a reading equals the move's target, giving up after a cap.
// It runs on the thread that owns the serial link (the GUI thread), between synchronous
// exchanges; the clock and the pause between readings can be replaced so that the cap is testable.
class MotorPositioningThread
{
public:
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr int kReadingIntervalMs = 100;
    static constexpr int kNoTarget = -2147483647;

    // One position reading; no value when the board gave no usable answer.
    using PositionReader = std::function<std::optional<int>()>;
    // A reading, for the serial log.
    using ReadingLog = std::function<void(int position)>;

    explicit MotorPositioningThread(PositionReader reader);

    // Replaces the monotonic clock (milliseconds) and the pause between readings.
    void setClock(std::function<int64_t()> nowMs, std::function<void(int ms)> sleepMs);
    void setReadingLog(ReadingLog log) { m_log = std::move(log); }

    // True when the stage stopped or reached target (kNoTarget: none) within timeoutMs (0 or
    // less: kDefaultTimeoutMs); false on time-out. Readings that fail count for nothing, but the
    // cap runs on. The readings that ended the wait are in lastReadings().
    bool waitUntilStopped(int target, int timeoutMs);

    std::optional<int> previousReading() const { return m_previous; }
    std::optional<int> lastReading() const { return m_last; }
    int readingsTaken() const { return m_readings; }

private:
    PositionReader m_reader;
    ReadingLog m_log;
    std::function<int64_t()> m_nowMs;
    std::function<void(int)> m_sleepMs;
    std::optional<int> m_previous;
    std::optional<int> m_last;
    int m_readings = 0;
};
