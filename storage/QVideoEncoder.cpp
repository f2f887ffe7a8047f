#include "QVideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

QVideoEncoder::QVideoEncoder()
{
    initVars();
    initCodec();
}

QVideoEncoder::~QVideoEncoder()
{
    close();
}

void QVideoEncoder::initVars()
{
    m_bOk = false;
    m_nWidth = m_nHeight = m_nBitrate = m_nGop = 0;
    m_nNextPts = 0;
    m_pFormatCtx = nullptr;
    m_pOutputFormat = nullptr;
    m_pVideoStream = nullptr;
    m_pCodecCtx = nullptr;
    m_pCodec = nullptr;
    m_pPicture = nullptr;
    m_pPictureBuf = nullptr;
    m_pOutBuf = nullptr;
    m_nOutBufSize = 0;
    m_pImgConvertCtx = nullptr;
}

void QVideoEncoder::initCodec()
{
    // Formats and codecs register themselves in current FFmpeg.
    std::fprintf(stderr, "License: %s\n", avformat_license());
    std::fprintf(stderr, "AVCodec version %d\n", avformat_version());
    std::fprintf(stderr, "AVFormat configuration: %s\n", avformat_configuration());
}

bool QVideoEncoder::fail(const char *message)
{
    std::fputs(message, stderr);
    close();
    return false;
}

bool QVideoEncoder::createFile(QString fileName, unsigned width, unsigned height, unsigned bitrate, unsigned gop,
                               unsigned fps)
{
    close();
    m_nWidth = width;
    m_nHeight = height;
    m_nBitrate = bitrate;
    m_nGop = gop;
    if (!isSizeValid() || width == 0 || height == 0 || fps == 0)
        return fail("Invalid size\n");

    const QByteArray name = fileName.toLocal8Bit();
    m_pOutputFormat = av_guess_format(nullptr, name.constData(), nullptr);
    if (!m_pOutputFormat) {
        std::fputs("Could not deduce output format from file extension: using MPEG.\n", stderr);
        m_pOutputFormat = av_guess_format("mpeg", nullptr, nullptr);
    }
    if (!m_pOutputFormat)
        return fail("Could not find a container format\n");
    m_pFormatCtx = avformat_alloc_context();
    if (!m_pFormatCtx)
        return fail("Error allocating format context\n");
    m_pFormatCtx->oformat = m_pOutputFormat;
    m_pFormatCtx->url = av_strdup(name.constData());

    m_pVideoStream = avformat_new_stream(m_pFormatCtx, nullptr);
    if (!m_pVideoStream)
        return fail("Could not allocate stream\n");
    m_pVideoStream->time_base = AVRational{1, int(fps)};

    m_pCodec = avcodec_find_encoder(m_pOutputFormat->video_codec);
    if (!m_pCodec)
        return fail("codec not found\n");
    m_pCodecCtx = avcodec_alloc_context3(m_pCodec);
    if (!m_pCodecCtx)
        return fail("could not open codec\n");
    m_pCodecCtx->codec_id = m_pOutputFormat->video_codec;
    m_pCodecCtx->codec_type = AVMEDIA_TYPE_VIDEO;
    m_pCodecCtx->bit_rate = bitrate;
    m_pCodecCtx->width = int(width);
    m_pCodecCtx->height = int(height);
    m_pCodecCtx->time_base = AVRational{1, int(fps)};
    m_pCodecCtx->framerate = AVRational{int(fps), 1};
    m_pCodecCtx->gop_size = int(gop);
    m_pCodecCtx->max_b_frames = 0; // frames leave in the order they came: one packet per image
    m_pCodecCtx->pix_fmt = AV_PIX_FMT_YUV420P;
    if (m_pOutputFormat->flags & AVFMT_GLOBALHEADER)
        m_pCodecCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_pCodecCtx, m_pCodec, nullptr) < 0)
        return fail("could not open codec\n");
    // Copied once the codec is open, so that the file's header holds size, pixel format and the
    // codec's extra data.
    if (avcodec_parameters_from_context(m_pVideoStream->codecpar, m_pCodecCtx) < 0)
        return fail("Could not copy the stream parameters\n");
    av_dump_format(m_pFormatCtx, 0, name.constData(), 1);

    if (!initOutputBuf())
        return fail("Can't allocate memory for output bitstream\n");
    if (!initFrame())
        return fail("Can't init frame\n");
    if (!(m_pOutputFormat->flags & AVFMT_NOFILE) && avio_open(&m_pFormatCtx->pb, name.constData(), AVIO_FLAG_WRITE) < 0) {
        std::fprintf(stderr, "Could not open '%s'\n", name.constData());
        close();
        return false;
    }
    if (avformat_write_header(m_pFormatCtx, nullptr) < 0)
        return fail("Could not write the file header\n");
    m_bOk = true;
    return true;
}

bool QVideoEncoder::initOutputBuf()
{
    m_nOutBufSize = int(m_nWidth * m_nHeight * 3);
    m_pOutBuf = static_cast<uint8_t *>(av_malloc(size_t(m_nOutBufSize)));
    return m_pOutBuf != nullptr;
}

void QVideoEncoder::freeOutputBuf()
{
    av_freep(&m_pOutBuf);
    m_nOutBufSize = 0;
}

bool QVideoEncoder::initFrame()
{
    m_pPicture = av_frame_alloc();
    if (!m_pPicture)
        return false;
    const int size = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, int(m_nWidth), int(m_nHeight), 1);
    if (size <= 0)
        return false;
    m_pPictureBuf = static_cast<uint8_t *>(av_malloc(size_t(size)));
    if (!m_pPictureBuf)
        return false;
    av_image_fill_arrays(m_pPicture->data, m_pPicture->linesize, m_pPictureBuf, AV_PIX_FMT_YUV420P, int(m_nWidth),
                         int(m_nHeight), 1);
    m_pPicture->format = AV_PIX_FMT_YUV420P;
    m_pPicture->width = int(m_nWidth);
    m_pPicture->height = int(m_nHeight);
    return true;
}

void QVideoEncoder::freeFrame()
{
    av_freep(&m_pPictureBuf);
    av_frame_free(&m_pPicture);
}

bool QVideoEncoder::close()
{
    if (m_bOk) {
        writePackets(nullptr); // the frames the encoder still holds
        av_write_trailer(m_pFormatCtx);
    }
    avcodec_free_context(&m_pCodecCtx);
    freeFrame();
    freeOutputBuf();
    if (m_pFormatCtx) {
        if (m_pFormatCtx->pb && !(m_pFormatCtx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&m_pFormatCtx->pb);
        avformat_free_context(m_pFormatCtx);
    }
    sws_freeContext(m_pImgConvertCtx);
    initVars();
    return true;
}

int QVideoEncoder::encodeImage(const QImage &image)
{
    return encodeImage_p(image, false, 0);
}

int QVideoEncoder::encodeImagePts(const QImage &image, unsigned pts)
{
    return encodeImage_p(image, true, pts);
}

int QVideoEncoder::encodeImage_p(const QImage &image, bool custompts, unsigned pts)
{
    if (!isOk())
        return -1;
    if (!convertImage_sws(image))
        return -1;
    m_pPicture->pts = custompts ? qint64(pts) : m_nNextPts;
    m_nNextPts = m_pPicture->pts + 1;
    return writePackets(m_pPicture);
}

int QVideoEncoder::writePackets(AVFrame *frame)
{
    int result = avcodec_send_frame(m_pCodecCtx, frame);
    if (result < 0 && !(frame == nullptr && result == AVERROR_EOF))
        return result;
    AVPacket *packet = av_packet_alloc();
    if (!packet)
        return -1;
    int written = 0;
    while ((result = avcodec_receive_packet(m_pCodecCtx, packet)) >= 0) {
        std::fprintf(stderr, "Frame size: %d\n", packet->size);
        written += packet->size;
        if (packet->duration <= 0)
            packet->duration = 1; // one frame: the container's length then holds the last one whole
        av_packet_rescale_ts(packet, m_pCodecCtx->time_base, m_pVideoStream->time_base);
        packet->stream_index = m_pVideoStream->index;
        if (av_interleaved_write_frame(m_pFormatCtx, packet) < 0) {
            av_packet_free(&packet);
            return -1;
        }
    }
    av_packet_free(&packet);
    return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? written : result;
}

bool QVideoEncoder::checkImage(const QImage &image) const
{
    if (unsigned(image.width()) != m_nWidth || unsigned(image.height()) != m_nHeight) {
        std::fputs("Wrong image size!\n", stderr);
        return false;
    }
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32) {
        std::fputs("Wrong image format\n", stderr);
        return false;
    }
    return m_pPicture != nullptr;
}

bool QVideoEncoder::convertImage(const QImage &image)
{
    if (!checkImage(image))
        return false;
    const int w = int(m_nWidth), h = int(m_nHeight);
    uint8_t *yPlane = m_pPicture->data[0];
    uint8_t *uPlane = m_pPicture->data[1];
    uint8_t *vPlane = m_pPicture->data[2];
    for (int y = 0; y < h; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uint8_t *out = yPlane + y * m_pPicture->linesize[0];
        for (int x = 0; x < w; ++x)
            out[x] = uint8_t((2104 * qRed(line[x]) + 4130 * qGreen(line[x]) + 802 * qBlue(line[x]) + 135168) >> 13);
    }
    for (int y = 0; y < h; y += 2) {
        const auto *top = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        const auto *bottom = reinterpret_cast<const QRgb *>(image.constScanLine(y + 1));
        uint8_t *u = uPlane + (y / 2) * m_pPicture->linesize[1];
        uint8_t *v = vPlane + (y / 2) * m_pPicture->linesize[2];
        for (int x = 0; x < w; x += 2) {
            const QRgb p[4] = {top[x], top[x + 1], bottom[x], bottom[x + 1]};
            const int r = (qRed(p[0]) + qRed(p[1]) + qRed(p[2]) + qRed(p[3]) + 2) >> 2;
            const int g = (qGreen(p[0]) + qGreen(p[1]) + qGreen(p[2]) + qGreen(p[3]) + 2) >> 2;
            const int b = (qBlue(p[0]) + qBlue(p[1]) + qBlue(p[2]) + qBlue(p[3]) + 2) >> 2;
            u[x / 2] = uint8_t((-1214 * r - 2384 * g + 3598 * b + 1052672) >> 13);
            v[x / 2] = uint8_t((3598 * r - 3013 * g - 585 * b + 1052672) >> 13);
        }
    }
    return true;
}

bool QVideoEncoder::convertImage_sws(const QImage &image)
{
    if (!checkImage(image))
        return false;
    const int w = int(m_nWidth), h = int(m_nHeight);
    m_pImgConvertCtx = sws_getCachedContext(m_pImgConvertCtx, w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P,
                                            SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!m_pImgConvertCtx) {
        std::fputs("Cannot initialize the conversion context\n", stderr);
        return false;
    }
    const uint8_t *source[4] = {image.constBits(), nullptr, nullptr, nullptr};
    const int stride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(m_pImgConvertCtx, source, stride, 0, h, m_pPicture->data, m_pPicture->linesize);
    return true;
}
