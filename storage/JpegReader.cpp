#include "JpegReader.h"

#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <csetjmp>
#include <cstdio>
#include <vector>
// clang-format off: jpeglib.h needs stdio first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace {

// libjpeg's error manager with a way back from a fatal error, and the first message that
// condemns the file.
struct Errors
{
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX] = {};

    static Errors &of(j_common_ptr info) { return *reinterpret_cast<Errors *>(info->err); }
    static void keep(j_common_ptr info)
    {
        Errors &errors = of(info);
        if (errors.message[0] == '\0')
            errors.manager.format_message(info, errors.message);
    }
    [[noreturn]] static void onError(j_common_ptr info)
    {
        keep(info);
        std::longjmp(of(info).back, 1);
    }
    // Warnings (level -1) condemn the file, but an unknown JFIF version, which says nothing of
    // the data; trace messages are dropped.
    static void onMessage(j_common_ptr info, int level)
    {
        if (level >= 0 || info->err->msg_code == JWRN_JFIF_MAJOR)
            return;
        ++info->err->num_warnings;
        keep(info);
    }
};

// Sets up the decompressor over bytes and reads the header; false after an error.
bool readHeader(jpeg_decompress_struct *info, Errors *errors, const QByteArray *bytes)
{
    if (setjmp(errors->back))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, reinterpret_cast<const unsigned char *>(bytes->constData()),
                 static_cast<unsigned long>(bytes->size()));
    jpeg_read_header(info, TRUE);
    return true;
}

// The image's rows into rows (each the width of the output); false after an error.
bool readRows(jpeg_decompress_struct *info, Errors *errors, unsigned char **rows)
{
    if (setjmp(errors->back))
        return false;
    jpeg_start_decompress(info);
    while (info->output_scanline < info->output_height)
        jpeg_read_scanlines(info, rows + info->output_scanline, info->output_height - info->output_scanline);
    jpeg_finish_decompress(info);
    return true;
}

} // namespace

cv::Mat JpegReader::decode(const QByteArray &bytes, QString *why)
{
    jpeg_decompress_struct info{}; // no memory manager until it is made: nothing to release
    Errors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = Errors::onError;
    errors.manager.emit_message = Errors::onMessage;
    struct Release
    {
        jpeg_decompress_struct &info;
        ~Release() { jpeg_destroy_decompress(&info); }
    } release{info};
    const auto damaged = [&] {
        return ImageFileReader::damaged(why, "JPEG", QString::fromLocal8Bit(errors.message));
    };
    if (!readHeader(&info, &errors, &bytes))
        return damaged();
    int channels = 3;
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        channels = 1;
        info.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        return ImageFileReader::refused(why, QStringLiteral("CMYK JPEG images are not supported"));
    default:
        return ImageFileReader::refused(
            why, QStringLiteral("JPEG colour space %1 is not supported").arg(int(info.jpeg_color_space)));
    }
    if (!ImReaderWriter::withinSizeCap(info.image_width, info.image_height, quint64(channels), 1))
        return ImageFileReader::refused(why, ImReaderWriter::tooLarge(info.image_width, info.image_height));
    cv::Mat image(int(info.image_height), int(info.image_width), CV_MAKETYPE(CV_8U, channels));
    std::vector<unsigned char *> rows(info.image_height);
    for (JDIMENSION y = 0; y < info.image_height; ++y)
        rows[y] = image.ptr(int(y));
    if (!readRows(&info, &errors, rows.data()) || errors.manager.num_warnings > 0)
        return damaged();
    return image;
}
