#include "FrameRecorder.h"

#include "ExceptionTracer.h"
#include "CameraAccess.h"
#include "ImReaderWriter.h"
#include "MonotonicClock.h"
#include "Utilities.h"

#include <QDebug>
#include <QTime>
#include <QtConcurrent>
#include <opencv2/core.hpp>
#include <vector>

struct FrameRecorder::Shared
{
    std::atomic<int> pending{0};
    std::atomic<int> dropped{0};
    std::atomic<int> failed{0};
    std::atomic<int> written{0};
};

struct FrameRecorder::Frame
{
    std::vector<unsigned char> pixels; // upright, as the camera delivered the words
    int bits = 8;
    int index = 0;
    QString path;
    QByteArray text;
};

FrameRecorder::FrameRecorder()
    : m_shared(std::make_shared<Shared>())
{
}

FrameRecorder::~FrameRecorder()
{
    m_recording = false;
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

bool FrameRecorder::submit(const unsigned char *frame, int cameraMode)
{
    // The frame counts as pending before the recording flag is read: a stop() followed by
    // waitForPending() either waits for this frame's file or makes this frame see the stop, so no
    // file appears after the wait.
    ++m_shared->pending;
    if (!m_recording) {
        --m_shared->pending;
        return false;
    }
    if (m_shared->pending > kMaxPending) {
        --m_shared->pending;
        // Said once for each run of dropped frames.
        if (!m_dropping)
            qWarning() << "Recording: the disk is behind," << kMaxPending << "writes pending; dropping frames ("
                       << m_shared->dropped + 1 << "so far)";
        m_dropping = true;
        ++m_shared->dropped;
        return false;
    }
    m_dropping = false;

    auto record = std::make_shared<Frame>();
    qint64 elapsedMs = 0;
    {
        QMutexLocker lock(&m_lock);
        record->index = m_recordBufferIndex++;
        record->path = fileName(m_recordPath, record->index + 1);
        if (record->index == 0) {
            m_recordStartTime = QDateTime::currentDateTime();
            m_startMs = MonotonicClock::nowMs();
        } else {
            elapsedMs = MonotonicClock::nowMs() - m_startMs;
        }
    }
    const TCapturedImageMetaData meta = capturedImageMetaData();
    record->text = (meta.metaText() + ";Time: " + timeText(elapsedMs)).toUtf8();

    record->bits = cameraMode == 16 ? 16 : 8;
    const cv::Mat source(kFrameHeight, kFrameWidth, record->bits == 16 ? CV_16UC1 : CV_8UC1,
                         const_cast<unsigned char *>(frame));
    record->pixels.resize(source.total() * source.elemSize());
    cv::Mat upright(source.rows, source.cols, source.type(), record->pixels.data());
    cv::flip(source, upright, -1);

    QtConcurrent::run(&FrameRecorder::concurrentSaving, m_shared, record);
    return true;
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
