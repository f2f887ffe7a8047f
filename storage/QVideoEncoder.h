#pragma once
#include "FFmpegTypes.h"

#include <QImage>
#include <QString>

// Writes QImage frames into a video file through the FFmpeg libraries: the container follows the
// file name ("mpeg" when the name tells none), its default video codec in YUV 4:2:0. Frames are
// converted by swscale; convertImage is the same conversion in BT.601 fixed point without it.
// Failures are a false or -1 result and a line on standard error. Not thread-safe.
class QVideoEncoder
{
public:
    QVideoEncoder();
    virtual ~QVideoEncoder();

    // Opens fileName for frames of width x height (multiples of 8) at fps frames a second.
    bool createFile(QString fileName, unsigned width, unsigned height, unsigned bitrate, unsigned gop,
                    unsigned fps = 25);
    // Flushes the encoder, writes the trailer and frees everything; true.
    virtual bool close();

    // Encodes one RGB32 or ARGB32 frame of the file's size: the bytes of the packets written
    // (0 while the encoder holds frames back), or -1.
    virtual int encodeImage(const QImage &image);
    // The same with the frame's presentation time in frames.
    virtual int encodeImagePts(const QImage &image, unsigned pts);
    virtual bool isOk() const { return m_bOk; }

    bool isSizeValid() const { return m_nWidth % 8 == 0 && m_nHeight % 8 == 0; }
    unsigned getWidth() const { return m_nWidth; }
    unsigned getHeight() const { return m_nHeight; }

    // The image as YUV 4:2:0 in the picture frame: own BT.601 studio-range conversion, or swscale.
    bool convertImage(const QImage &image);
    bool convertImage_sws(const QImage &image);
    // The picture frame the conversions fill (for tests).
    const AVFrame *picture() const { return m_pPicture; }

protected:
    virtual int encodeImage_p(const QImage &image, bool custompts, unsigned pts);

private:
    void initVars();
    void initCodec();
    bool initFrame();
    void freeFrame();
    bool initOutputBuf();
    void freeOutputBuf();
    bool checkImage(const QImage &image) const;
    // Sends a frame (nullptr: the end) and writes every packet that comes out; -1 on failure.
    int writePackets(AVFrame *frame);
    bool fail(const char *message);

    bool m_bOk = false;
    unsigned m_nWidth = 0;
    unsigned m_nHeight = 0;
    unsigned m_nBitrate = 0;
    unsigned m_nGop = 0;
    qint64 m_nNextPts = 0;
    AVFormatContext *m_pFormatCtx = nullptr;
    const AVOutputFormat *m_pOutputFormat = nullptr;
    AVStream *m_pVideoStream = nullptr;
    AVCodecContext *m_pCodecCtx = nullptr;
    const AVCodec *m_pCodec = nullptr;
    AVFrame *m_pPicture = nullptr;
    uint8_t *m_pPictureBuf = nullptr;
    uint8_t *m_pOutBuf = nullptr;
    int m_nOutBufSize = 0;
    SwsContext *m_pImgConvertCtx = nullptr;
};
