#pragma once
#include "FrameRing.h"

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>

class TurretLog;

// Live recording: every frame the display thread shows is written as a numbered TIFF file
// "<stem>_0001.tif", "<stem>_0002.tif", ... with the metadata text of what stood in the light path
// while it was exposed and its time after the first file's frame ("Time: hh:mm:ss.zzz").
//
// The display thread hands each frame to submit() with when it was exposed; the frame is copied
// (turned upright), so the ring slot may be reused at once, and waits until the turrets' readings
// have covered its exposure (judge(), also called on the owner's thread as readings come). A frame
// exposed while a turret moved is not kept; every other one is labelled from the turret log as of
// its exposure and gets the next file number, so the files stay numbered without gaps. Without any
// turret reading (no board) frames are judged at once; a board silent for kSilentBoardMs after a
// frame's end lets it be judged with what is known.
//
// At most kMaxPending frames are held at a time, awaiting their judgement or their write (half a
// second of frames at the camera's fastest); a frame that finds them all held is dropped and
// counted (and logged), so a slow disk or a late board never makes memory grow.
class FrameRecorder
{
public:
    static constexpr int kMaxPending = 48;
    static constexpr int kSilentBoardMs = 3000;

    explicit FrameRecorder(const TurretLog *turrets = nullptr); // default: the board's log
    ~FrameRecorder(); // waits (bounded) for the writes still pending
    FrameRecorder(const FrameRecorder &) = delete;
    FrameRecorder &operator=(const FrameRecorder &) = delete;

    // pathStem: folder and file-name stem of the files. Numbering starts again at the first file.
    void start(const QString &pathStem);
    // Stops taking frames; frames taken are still judged (a final judge() settles them) and
    // written on their own.
    void stop();
    bool isRecording() const { return m_recording; }

    // Display thread: copies one frame of the camera mode (8 or 16) exposed over span (not known:
    // now) and judges what can be judged. False when the frame was dropped.
    bool submit(const unsigned char *frame, int cameraMode, FrameSpan span = {});
    // Judges the frames whose exposure the turret readings now cover; final: every frame taken,
    // with what is known (after the recording stopped).
    void judge(bool final = false);
    // Frames taken and not yet judged.
    int framesAwaiting() const;

    // Waits until every frame taken is judged and, when kept, written; false on the time-out.
    bool waitForPending(int timeoutMs) const;

    int framesDropped() const;
    int framesRefused() const; // exposed while a turret moved: not kept
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
    // With m_lock held: numbers and labels a kept frame.
    void name(Frame &frame, const QString &fallbackLabel);

    const TurretLog *m_turrets;
    std::shared_ptr<Shared> m_shared;
    std::atomic<bool> m_recording{false};
    // Guarded by m_lock: what start() sets and the frames awaiting judgement.
    mutable QMutex m_lock;
    QString m_recordPath;
    int m_recordBufferIndex = 0;
    QDateTime m_recordStartTime;
    int64_t m_firstEndedUs = 0;
    std::deque<std::shared_ptr<Frame>> m_awaiting;
    bool m_dropping = false;
    bool m_refusing = false;
    bool m_judgedUnread = false;
};
