#pragma once
#include <QDateTime>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>

// Live recording: every frame the display thread shows is written as a numbered TIFF file
// "<stem>_0001.tif", "<stem>_0002.tif", ... with the metadata text of the current channel and the
// time since the first frame ("Time: hh:mm:ss.zzz").
//
// The display thread hands each frame to submit(), which copies it (turned upright) together
// with its metadata and time before a pool task writes it, so the ring slot may be reused at
// once. At most kMaxPending writes wait at a time; a frame that finds the backlog full is
// dropped and counted (and logged), so a slow disk never makes memory grow.
class FrameRecorder
{
public:
    static constexpr int kMaxPending = 8;

    FrameRecorder();
    ~FrameRecorder(); // waits (bounded) for the writes still pending
    FrameRecorder(const FrameRecorder &) = delete;
    FrameRecorder &operator=(const FrameRecorder &) = delete;

    // pathStem: folder and file-name stem of the files. Numbering starts again at the first file.
    void start(const QString &pathStem);
    // Stops taking frames; writes already handed to the pool finish on their own.
    void stop();
    bool isRecording() const { return m_recording; }

    // Display thread: copies one frame of the camera mode (8 or 16) and schedules its write.
    // False when the frame was dropped because the backlog is full.
    bool submit(const unsigned char *frame, int cameraMode);

    // Waits until no write is pending; false on the time-out.
    bool waitForPending(int timeoutMs) const;

    int framesDropped() const;
    int writesFailed() const;
    int filesWritten() const;
    QDateTime startTime() const; // wall-clock time of frame 0 of the current recording

    // "<stem>_%04d.tif" for file number `number` (1 for the first frame).
    static QString fileName(const QString &stem, int number);
    // Milliseconds since frame 0 as "hh:mm:ss.zzz".
    static QString timeText(qint64 ms);

private:
    struct Shared;
    struct Frame;
    static void concurrentSaving(std::shared_ptr<Shared> shared, std::shared_ptr<Frame> frame);

    std::shared_ptr<Shared> m_shared;
    std::atomic<bool> m_recording{false};
    bool m_dropping = false; // display thread only
    // Written by the GUI thread at start, read by the display thread: guarded by m_lock.
    mutable QMutex m_lock;
    QString m_recordPath;
    int m_recordBufferIndex = 0;
    QDateTime m_recordStartTime;
    qint64 m_startMs = 0;
};
