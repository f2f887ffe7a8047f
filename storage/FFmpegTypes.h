#pragma once

// The FFmpeg types the video wrappers name in their interfaces, declared without the C headers.
extern "C" {
struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVOutputFormat;
struct AVStream;
struct SwsContext;
}
