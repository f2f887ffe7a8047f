#include "QVideoDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

QVideoDecoder::QVideoDecoder()
{
    InitVars();
    initCodec();
}

QVideoDecoder::QVideoDecoder(QString fileName)
    : QVideoDecoder()
{
    openFile(fileName);
}

QVideoDecoder::~QVideoDecoder()
{
    close();
}

void QVideoDecoder::InitVars()
{
    m_bOk = false;
    m_pFormatCtx = nullptr;
    m_nVideoStream = -1;
    m_pCodecCtx = nullptr;
    m_pCodec = nullptr;
    m_pFrame = m_pFrameRGB = nullptr;
    m_pBuffer = nullptr;
    m_pImgConvertCtx = nullptr;
    m_bEndOfInput = false;
    m_LastFrame = QImage();
    m_nLastFrameTime = m_nLastLastFrameTime = -1;
    m_nLastFrameNumber = m_nLastLastFrameNumber = -1;
    m_nDesiredFrameNumber = -1;
    m_nDesiredFrameTime = -1;
    m_bLastFrameOk = false;
}

void QVideoDecoder::initCodec()
{
    std::printf("License: %s\n", avformat_license());
    std::printf("AVCodec version %d\n", avformat_version());
    std::printf("AVFormat configuration: %s\n", avformat_configuration());
}

bool QVideoDecoder::openFile(QString fileName)
{
    close();
    const QByteArray name = fileName.toLocal8Bit();
    if (avformat_open_input(&m_pFormatCtx, name.constData(), nullptr, nullptr) != 0) {
        std::printf("Could not open '%s'\n", name.constData());
        return false;
    }
    if (avformat_find_stream_info(m_pFormatCtx, nullptr) < 0) {
        close();
        return false;
    }
    av_dump_format(m_pFormatCtx, 0, name.constData(), 0);
    for (unsigned i = 0; i < m_pFormatCtx->nb_streams; ++i) {
        if (m_pFormatCtx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            m_nVideoStream = int(i);
            break;
        }
    }
    if (m_nVideoStream < 0) {
        std::printf("No video stream\n");
        close();
        return false;
    }
    AVStream *stream = m_pFormatCtx->streams[m_nVideoStream];
    m_pCodec = avcodec_find_decoder(stream->codecpar->codec_id);
    m_pCodecCtx = m_pCodec ? avcodec_alloc_context3(m_pCodec) : nullptr;
    if (!m_pCodecCtx || avcodec_parameters_to_context(m_pCodecCtx, stream->codecpar) < 0
        || avcodec_open2(m_pCodecCtx, m_pCodec, nullptr) < 0) {
        std::printf("Could not open the decoder\n");
        close();
        return false;
    }
    if (m_pCodecCtx->time_base.num > 1000 && m_pCodecCtx->time_base.den == 1)
        m_pCodecCtx->time_base.den = 1000;

    m_pFrame = av_frame_alloc();
    m_pFrameRGB = av_frame_alloc();
    const int size = av_image_get_buffer_size(AV_PIX_FMT_RGB24, m_pCodecCtx->width, m_pCodecCtx->height, 1);
    m_pBuffer = size > 0 ? static_cast<uint8_t *>(av_malloc(size_t(size))) : nullptr;
    if (!m_pFrame || !m_pFrameRGB || !m_pBuffer) {
        close();
        return false;
    }
    av_image_fill_arrays(m_pFrameRGB->data, m_pFrameRGB->linesize, m_pBuffer, AV_PIX_FMT_RGB24, m_pCodecCtx->width,
                         m_pCodecCtx->height, 1);
    m_bOk = true;
    return true;
}

void QVideoDecoder::close()
{
    av_freep(&m_pBuffer);
    av_frame_free(&m_pFrame);
    av_frame_free(&m_pFrameRGB);
    avcodec_free_context(&m_pCodecCtx);
    if (m_pFormatCtx)
        avformat_close_input(&m_pFormatCtx);
    sws_freeContext(m_pImgConvertCtx);
    InitVars();
}

// Frame numbers and times from the stream's time stamps, counted from the stream's start. The
// rate is the stream's base rate, which every time stamp of a constant-rate stream fits.
static AVRational frameRate(const AVStream *stream)
{
    for (const AVRational rate : {stream->r_frame_rate, stream->avg_frame_rate})
        if (rate.num > 0 && rate.den > 0)
            return rate;
    return AVRational{25, 1};
}

qint64 QVideoDecoder::frameNumberOf(qint64 timestamp) const
{
    const AVStream *stream = m_pFormatCtx->streams[m_nVideoStream];
    const qint64 start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const AVRational rate = frameRate(stream);
    return av_rescale_q_rnd(timestamp - start, stream->time_base, av_inv_q(rate),
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

qint64 QVideoDecoder::timestampOf(qint64 frameNumber) const
{
    const AVStream *stream = m_pFormatCtx->streams[m_nVideoStream];
    const qint64 start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const AVRational rate = frameRate(stream);
    return start + av_rescale_q(frameNumber, av_inv_q(rate), stream->time_base);
}

int QVideoDecoder::msOf(qint64 timestamp) const
{
    const AVStream *stream = m_pFormatCtx->streams[m_nVideoStream];
    const qint64 start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return int(av_rescale_q(timestamp - start, stream->time_base, AVRational{1, 1000}));
}

// The next decoded picture of the video stream into m_pFrame; false at the end or on an error.
bool QVideoDecoder::receivePicture()
{
    forever {
        const int result = avcodec_receive_frame(m_pCodecCtx, m_pFrame);
        if (result == 0)
            return true;
        if (result != AVERROR(EAGAIN) || m_bEndOfInput)
            return false;
        AVPacket *packet = av_packet_alloc();
        if (!packet)
            return false;
        if (av_read_frame(m_pFormatCtx, packet) < 0) {
            m_bEndOfInput = true;
            avcodec_send_packet(m_pCodecCtx, nullptr); // drain the pictures held back
        } else if (packet->stream_index == m_nVideoStream) {
            avcodec_send_packet(m_pCodecCtx, packet);
        }
        av_packet_free(&packet);
    }
}

bool QVideoDecoder::toImage()
{
    const int w = m_pCodecCtx->width, h = m_pCodecCtx->height;
    m_pImgConvertCtx = sws_getCachedContext(m_pImgConvertCtx, w, h, AVPixelFormat(m_pFrame->format), w, h,
                                            AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!m_pImgConvertCtx) {
        std::printf("Cannot initialize the conversion context!\n");
        return false;
    }
    sws_scale(m_pImgConvertCtx, m_pFrame->data, m_pFrame->linesize, 0, h, m_pFrameRGB->data, m_pFrameRGB->linesize);
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        memcpy(image.scanLine(y), m_pFrameRGB->data[0] + y * m_pFrameRGB->linesize[0], size_t(w) * 3);
    m_LastFrame = image;
    return true;
}

bool QVideoDecoder::decodeSeekFrame(int n)
{
    if (!m_bOk)
        return false;
    if (n != -1 && m_bLastFrameOk && n > m_nLastLastFrameNumber && n <= m_nLastFrameNumber) {
        m_nDesiredFrameTime = msOf(timestampOf(n));
        return true;
    }
    while (receivePicture()) {
        const qint64 timestamp = m_pFrame->best_effort_timestamp != AV_NOPTS_VALUE ? m_pFrame->best_effort_timestamp
                                                                                  : m_pFrame->pts;
        const qint64 number = frameNumberOf(timestamp);
        const int ms = msOf(timestamp);
        if (m_nLastFrameNumber < 0) {
            m_nLastLastFrameNumber = number;
            m_nLastLastFrameTime = ms;
        } else {
            m_nLastLastFrameNumber = m_nLastFrameNumber;
            m_nLastLastFrameTime = m_nLastFrameTime;
        }
        m_nLastFrameNumber = number;
        m_nLastFrameTime = ms;
        if (n == -1 || n <= number) {
            if (!toImage())
                return false;
            m_nDesiredFrameTime = n == -1 ? ms : msOf(timestampOf(n));
            m_bLastFrameOk = true;
            return true;
        }
    }
    return false;
}

bool QVideoDecoder::getFrame(QImage &image, int *effectiveFrameNumber, int *effectiveFrameTime,
                             int *desiredFrameNumber, int *desiredFrameTime)
{
    image = m_LastFrame;
    if (effectiveFrameNumber)
        *effectiveFrameNumber = int(m_nLastFrameNumber);
    if (effectiveFrameTime)
        *effectiveFrameTime = m_nLastFrameTime;
    if (desiredFrameNumber)
        *desiredFrameNumber = int(m_nDesiredFrameNumber);
    if (desiredFrameTime)
        *desiredFrameTime = m_nDesiredFrameTime;
    return m_bLastFrameOk;
}

bool QVideoDecoder::seekNextFrame()
{
    const bool ok = decodeSeekFrame(int(m_nDesiredFrameNumber + 1));
    if (ok)
        ++m_nDesiredFrameNumber;
    else
        m_bLastFrameOk = false;
    return ok;
}

bool QVideoDecoder::seekMs(int ms)
{
    if (!m_bOk)
        return false;
    const AVStream *stream = m_pFormatCtx->streams[m_nVideoStream];
    const qint64 start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const qint64 timestamp = start + av_rescale_q(ms, AVRational{1, 1000}, stream->time_base);
    return seekFrame(frameNumberOf(timestamp));
}

bool QVideoDecoder::seekFrame(qint64 frameNumber)
{
    if (!m_bOk)
        return false;
    if (!m_bLastFrameOk || frameNumber <= m_nLastLastFrameNumber || frameNumber > m_nLastFrameNumber) {
        // Back to the key frame at or before the number; decoding goes forward from there.
        if (av_seek_frame(m_pFormatCtx, m_nVideoStream, timestampOf(frameNumber), AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        avcodec_flush_buffers(m_pCodecCtx);
        m_bEndOfInput = false;
        m_nDesiredFrameNumber = frameNumber;
        m_bLastFrameOk = false;
        m_nLastFrameNumber = m_nLastLastFrameNumber = -1;
    }
    m_nDesiredFrameNumber = frameNumber;
    return decodeSeekFrame(int(frameNumber));
}

int QVideoDecoder::getVideoLengthMs()
{
    if (!m_bOk)
        return -1;
    dumpFormat(m_pFormatCtx, 0, "test video", 0);
    const qint64 duration = m_pFormatCtx->duration;
    const qint64 seconds = duration / AV_TIME_BASE;
    return int(seconds * 1000 + (duration % AV_TIME_BASE) / 1000);
}

void QVideoDecoder::dumpFormat(AVFormatContext *ic, int index, const char *url, int isOutput)
{
    std::printf("AV_TIME_BASE: %d\n", AV_TIME_BASE);
    const char *name = isOutput ? (ic->oformat ? ic->oformat->name : "") : (ic->iformat ? ic->iformat->name : "");
    std::printf("%s #%d, %s,\n %s '%s':\n", isOutput ? "Output" : "Input", index, name, isOutput ? "to" : "from", url);
    if (!isOutput) {
        std::printf("  Duration: ");
        if (ic->duration != AV_NOPTS_VALUE) {
            qint64 secs = ic->duration / AV_TIME_BASE;
            const qint64 us = ic->duration % AV_TIME_BASE;
            const qint64 mins = secs / 60;
            secs %= 60;
            std::printf("%02d:%02d:%02d.%02d\n", int(mins / 60), int(mins % 60), int(secs), int((100 * us) / AV_TIME_BASE));
        } else {
            std::printf("N/A\n");
        }
        if (ic->start_time != AV_NOPTS_VALUE)
            std::printf(", start: %d.%06d\n", int(ic->start_time / AV_TIME_BASE), int(llabs(ic->start_time % AV_TIME_BASE)));
        std::printf(", bitrate: ");
        if (ic->bit_rate)
            std::printf("%d kb/s\n", int(ic->bit_rate / 1000));
        else
            std::printf("N/A");
        std::printf("\n");
        unsigned listed = 0;
        for (unsigned j = 0; j < ic->nb_programs; ++j) {
            const AVDictionaryEntry *entry = av_dict_get(ic->programs[j]->metadata, "name", nullptr, 0);
            std::printf("  Program %d %s\n", ic->programs[j]->id, entry ? entry->value : "");
            listed += ic->programs[j]->nb_stream_indexes;
        }
        if (listed < ic->nb_streams)
            std::printf("  No Program\n");
    }
    if (ic->metadata && av_dict_count(ic->metadata) > 0) {
        std::printf("  Metadata\n");
        const AVDictionaryEntry *tag = nullptr;
        while ((tag = av_dict_get(ic->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
            std::printf("    %-16s: %s\n", tag->key, tag->value);
    }
}

void QVideoDecoder::saveFramePPM(AVFrame *frame, int width, int height, int frameIndex)
{
    if (!frame)
        return;
    const QByteArray name = QByteArray("frame") + QByteArray::number(frameIndex) + ".ppm";
    FILE *file = std::fopen(name.constData(), "wb");
    if (!file)
        return;
    bool ok = std::fprintf(file, "P6\n%d %d\n255\n", width, height) > 0;
    for (int y = 0; ok && y < height; ++y)
        ok = std::fwrite(frame->data[0] + y * frame->linesize[0], 1, size_t(width) * 3, file) == size_t(width) * 3;
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        std::remove(name.constData()); // no partial dump
}
