#include "FrameRecorder.h"

#include "ExceptionTracer.h"
#include "CameraAccess.h"
#include "ImReaderWriter.h"
#include "MonotonicClock.h"
#include "TurretLog.h"
#include "Utilities.h"

#include <QDebug>
#include <QTime>
#include <QtConcurrent>
#include <opencv2/core.hpp>
#include <vector>

struct FrameRecorder::Shared
{
    std::atomic<int> pending{0}; // held: taken and not yet judged, or kept and not yet written
    std::atomic<int> dropped{0};
    std::atomic<int> refused{0};
    std::atomic<int> failed{0};
    std::atomic<int> written{0};
};

struct FrameRecorder::Frame
{
    std::vector<unsigned char> pixels; // upright, as the camera delivered the words
    int bits = 8;
    FrameSpan span;
    int index = 0;
    QString path;
    QByteArray text;
};

FrameRecorder::FrameRecorder(const TurretLog *turrets)
    : m_turrets(turrets ? turrets : &g_turretLog)
    , m_shared(std::make_shared<Shared>())
{
}

FrameRecorder::~FrameRecorder()
{
    m_recording = false;
    {
        QMutexLocker lock(&m_lock);
        m_shared->pending -= int(m_awaiting.size());
        m_awaiting.clear();
    }
    if (!waitForPending(10000))
        qWarning() << "Recording: writes still pending at shutdown";
}

void FrameRecorder::start(const QString &pathStem)
{
    QMutexLocker lock(&m_lock);
    m_recordPath = pathStem;
    m_recordBufferIndex = 0;
    m_recordStartTime = QDateTime();
    m_recording = true;
}

void FrameRecorder::stop()
{
    m_recording = false;
}

QString FrameRecorder::fileName(const QString &stem, int number)
{
    // One pass over the pattern: a "%" in the stem stays as it is.
    return QStringLiteral("%1_%2.tif").arg(stem, QString::number(number).rightJustified(4, QChar('0')));
}

QString FrameRecorder::timeText(qint64 ms)
{
    return QTime(0, 0).addMSecs(int(ms % (24 * 3600 * 1000))).toString("hh:mm:ss.zzz");
}

bool FrameRecorder::submit(const unsigned char *frame, int cameraMode, FrameSpan span)
{
    // The frame counts as pending before the recording flag is read: a stop() followed by
    // waitForPending() either waits for this frame or makes this frame see the stop, so no file
    // appears after the wait.
    ++m_shared->pending;
    if (!m_recording) {
        --m_shared->pending;
        return false;
    }
    if (m_shared->pending > kMaxPending) {
        --m_shared->pending;
        QMutexLocker lock(&m_lock);
        // Said once for each run of dropped frames.
        if (!m_dropping)
            qWarning() << "Recording: the disk or the turret readings are behind," << kMaxPending
                       << "frames held; dropping frames (" << m_shared->dropped + 1 << "so far)";
        m_dropping = true;
        ++m_shared->dropped;
        return false;
    }
    if (span.endedUs == 0) {
        const int64_t now = MonotonicClock::nowUs();
        span = {now, now};
    }
    auto record = std::make_shared<Frame>();
    record->span = span;
    record->bits = cameraMode == 16 ? 16 : 8;
    const cv::Mat source(kFrameHeight, kFrameWidth, record->bits == 16 ? CV_16UC1 : CV_8UC1,
                         const_cast<unsigned char *>(frame));
    record->pixels.resize(source.total() * source.elemSize());
    cv::Mat upright(source.rows, source.cols, source.type(), record->pixels.data());
    cv::flip(source, upright, -1);
    {
        // Only the display thread submits: frames wait in the order they were exposed.
        QMutexLocker lock(&m_lock);
        m_dropping = false;
        m_awaiting.push_back(record);
    }
    // A stop that came meanwhile may have judged for the last time: this frame is judged now.
    judge(!m_recording);
    return true;
}

void FrameRecorder::name(Frame &frame, const QString &fallbackLabel)
{
    frame.index = m_recordBufferIndex++;
    frame.path = fileName(m_recordPath, frame.index + 1);
    if (frame.index == 0) {
        m_recordStartTime = QDateTime::currentDateTime();
        m_firstEndedUs = frame.span.endedUs;
    }
    QString label = m_turrets->labelAt(frame.span.beganUs);
    if (label.isEmpty())
        label = fallbackLabel;
    const qint64 elapsedMs = std::max<int64_t>(0, frame.span.endedUs - m_firstEndedUs) / 1000;
    frame.text = (label + ";Time: " + timeText(elapsedMs)).toUtf8();
}

void FrameRecorder::judge(bool final)
{
    // Taken before the lock: the metadata's lock is never waited for while frames are judged.
    const QString fallbackLabel = capturedImageMetaData().metaText();
    std::vector<std::shared_ptr<Frame>> kept;
    {
        QMutexLocker lock(&m_lock);
        const bool read = m_turrets->hasReadings();
        const int64_t knownUntil = m_turrets->knownUntilUs();
        const int64_t now = MonotonicClock::nowUs();
        while (!m_awaiting.empty()) {
            const std::shared_ptr<Frame> frame = m_awaiting.front();
            const bool learnt = !read || frame->span.endedUs <= knownUntil;
            const bool silent = now - frame->span.endedUs > int64_t(kSilentBoardMs) * 1000;
            if (!learnt && !final && !silent)
                break; // frames come in the order they were exposed
            m_awaiting.pop_front();
            if (!learnt && !m_judgedUnread) {
                qWarning() << "Recording: no turret reading came after a frame; it is kept as the turrets stood before";
                m_judgedUnread = true;
            } else if (learnt) {
                m_judgedUnread = false;
            }
            if (read && m_turrets->movedWithin(frame->span.beganUs, frame->span.endedUs)) {
                if (!m_refusing)
                    qInfo() << "Recording: frames exposed while a turret moved are not kept";
                m_refusing = true;
                ++m_shared->refused;
                --m_shared->pending;
                continue;
            }
            m_refusing = false;
            name(*frame, fallbackLabel);
            kept.push_back(frame);
        }
    }
    for (const std::shared_ptr<Frame> &frame : kept)
        QtConcurrent::run(&FrameRecorder::concurrentSaving, m_shared, frame);
}

int FrameRecorder::framesAwaiting() const
{
    QMutexLocker lock(&m_lock);
    return int(m_awaiting.size());
}

void FrameRecorder::concurrentSaving(std::shared_ptr<Shared> shared, std::shared_ptr<Frame> frame)
{
    ExceptionTracer::useAlternateStack(); // a pool thread
    const int64_t began = MonotonicClock::nowMs();
    bool ok = false;
    {
        ImReaderWriter writer;
        ok = writer.load(frame->pixels.data(), kFrameWidth, kFrameHeight, quint16(frame->bits), 1, 1, 1, 1)
             && writer.write(frame->path.toUtf8(), frame->text);
        if (!ok)
            qWarning() << "Recording: could not write" << frame->path << writer.errorString();
    }
    frame->pixels = {};
    ++(ok ? shared->written : shared->failed);
    if (isEnableSerialLog()) {
        const QByteArray text = frame->text;
        qDebug() << frame->index << text.mid(text.lastIndexOf(';') + 1) << (ok ? "true" : "false")
                 << MonotonicClock::nowMs() - began;
    }
    --shared->pending;
}

bool FrameRecorder::waitForPending(int timeoutMs) const
{
    const auto shared = m_shared;
    return MonotonicClock::waitFor([shared] { return shared->pending == 0; }, timeoutMs, 5);
}

int FrameRecorder::framesDropped() const
{
    return m_shared->dropped;
}

int FrameRecorder::framesRefused() const
{
    return m_shared->refused;
}

int FrameRecorder::writesFailed() const
{
    return m_shared->failed;
}

int FrameRecorder::filesWritten() const
{
    return m_shared->written;
}

QDateTime FrameRecorder::startTime() const
{
    QMutexLocker lock(&m_lock);
    return m_recordStartTime;
}
