#pragma once
#include "FFmpegTypes.h"

#include <QImage>
#include <QString>

// Reads the frames of a video file's first video stream into RGB888 QImages through the FFmpeg
// libraries, one after the other or from a frame number or a time. Frame numbers count the
// stream's frames from 0 at its frame rate; times are milliseconds. Failures are a false or -1
// result and a line on standard output. Not thread-safe.
class QVideoDecoder
{
public:
    QVideoDecoder();
    explicit QVideoDecoder(QString fileName);
    virtual ~QVideoDecoder();

    virtual bool openFile(QString fileName);
    virtual void close();

    // The last decoded frame and its number and time, and the number and time asked for; false
    // when no decoded frame is held.
    virtual bool getFrame(QImage &image, int *effectiveFrameNumber = nullptr, int *effectiveFrameTime = nullptr,
                          int *desiredFrameNumber = nullptr, int *desiredFrameTime = nullptr);
    virtual bool seekNextFrame();
    virtual bool seekMs(int ms);
    virtual bool seekFrame(qint64 frameNumber);
    // The container's duration in milliseconds; -1 when no file is open.
    virtual int getVideoLengthMs();
    virtual bool isOk() const { return m_bOk; }

    // Writes frame (RGB24) as "frame<index>.ppm" in the working directory.
    virtual void saveFramePPM(AVFrame *frame, int width, int height, int frameIndex);
    // The RGB frame of the last decoded picture (for the PPM dump).
    AVFrame *rgbFrame() const { return m_pFrameRGB; }

protected:
    virtual void initCodec();
    virtual void InitVars();
    virtual void dumpFormat(AVFormatContext *ic, int index, const char *url, int isOutput);
    // Decodes up to frame n (-1: the next picture); false at the end or on an error.
    virtual bool decodeSeekFrame(int n);

private:
    qint64 frameNumberOf(qint64 timestamp) const;
    qint64 timestampOf(qint64 frameNumber) const;
    int msOf(qint64 timestamp) const;
    bool receivePicture();
    bool toImage();

    bool m_bOk = false;
    AVFormatContext *m_pFormatCtx = nullptr;
    int m_nVideoStream = -1;
    AVCodecContext *m_pCodecCtx = nullptr;
    const AVCodec *m_pCodec = nullptr;
    AVFrame *m_pFrame = nullptr;
    AVFrame *m_pFrameRGB = nullptr;
    uint8_t *m_pBuffer = nullptr;
    SwsContext *m_pImgConvertCtx = nullptr;
    bool m_bEndOfInput = false;

    QImage m_LastFrame;
    int m_nLastFrameTime = -1, m_nLastLastFrameTime = -1;
    qint64 m_nLastFrameNumber = -1, m_nLastLastFrameNumber = -1;
    qint64 m_nDesiredFrameNumber = -1;
    int m_nDesiredFrameTime = -1;
    bool m_bLastFrameOk = false;
};
