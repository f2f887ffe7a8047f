#include "JpegReader.h"

#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <QtGlobal>

#include <algorithm>
#include <bitset>
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
    // the data; trace messages are dropped. The decode stops at the first: the rest of a file
    // already refused is not worth its time.
    static void onMessage(j_common_ptr info, int level)
    {
        if (level < 0 && info->err->msg_code != JWRN_JFIF_MAJOR)
            onError(info);
    }
};

// The scans of one decode, checked as each begins, before its data are decoded: a progressive
// file may repeat scans that each pass over every block again, so that a small file takes
// minutes. A scan may code a coefficient from its start only once; libjpeg itself holds each
// refinement to the next bit of what came before (a warning, which condemns the file, or an
// error), and to at most 13 bits. So each coefficient is passed over at most 14 times, and the
// work of a file libjpeg reads is bounded by its own size; more scans than MaxScans, which no
// encoder writes, are not read, as each costs a pass over its blocks however little it codes.
struct Work
{
    jpeg_progress_mgr manager{};
    int scan = 0;
    bool tooManyScans = false;
    std::bitset<DCTSIZE2> coded[MAX_COMPONENTS]; // coefficients a scan has begun

    static void onProgress(j_common_ptr common)
    {
        auto *info = reinterpret_cast<j_decompress_ptr>(common);
        Work &work = *reinterpret_cast<Work *>(info->progress);
        if (info->input_scan_number == work.scan)
            return;
        work.scan = info->input_scan_number;
        if (work.scan > JpegReader::MaxScans) {
            work.tooManyScans = true;
            std::longjmp(Errors::of(common).back, 1);
        }
        if (info->Ah != 0)
            return;
        const int first = std::clamp(info->Ss, 0, DCTSIZE2 - 1), last = std::clamp(info->Se, first, DCTSIZE2 - 1);
        bool again = false;
        for (int i = 0; i < info->comps_in_scan; ++i) {
            std::bitset<DCTSIZE2> &coded = work.coded[info->cur_comp_info[i]->component_index];
            for (int k = first; k <= last; ++k) {
                again = again || coded[size_t(k)];
                coded.set(size_t(k));
            }
        }
        if (!again)
            return;
        Errors &errors = Errors::of(common);
        std::snprintf(errors.message, sizeof errors.message, "scan %d codes again coefficients already coded", work.scan);
        std::longjmp(errors.back, 1);
    }
};

// libjpeg's reduction (1/8, 1/4, 1/2) that still covers atLeast; 1 for the whole image.
unsigned int reductionFor(const jpeg_decompress_struct &info, QSize atLeast)
{
    if (!atLeast.isValid() || atLeast.isEmpty())
        return 1;
    for (unsigned int denominator : {8u, 4u, 2u})
        if ((info.image_width + denominator - 1) / denominator >= unsigned(atLeast.width())
            && (info.image_height + denominator - 1) / denominator >= unsigned(atLeast.height()))
            return denominator;
    return 1;
}

// Sets up the decompressor over bytes and reads the header; false after an error.
bool readHeader(jpeg_decompress_struct *info, Errors *errors, Work *work, const QByteArray *bytes)
{
    if (setjmp(errors->back))
        return false;
    jpeg_create_decompress(info); // which empties all but the error manager
    info->progress = &work->manager;
    jpeg_mem_src(info, reinterpret_cast<const unsigned char *>(bytes->constData()),
                 static_cast<unsigned long>(bytes->size()));
    jpeg_read_header(info, TRUE);
    return true;
}

// The output size at libjpeg's reduction; false after an error.
bool reduce(jpeg_decompress_struct *info, Errors *errors, unsigned int denominator)
{
    if (setjmp(errors->back))
        return false;
    info->scale_num = 1;
    info->scale_denom = denominator;
    jpeg_calc_output_dimensions(info);
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

cv::Mat JpegReader::decode(const QByteArray &bytes, QString *why, QSize atLeast)
{
    jpeg_decompress_struct info{}; // no memory manager until it is made: nothing to release
    Errors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = Errors::onError;
    errors.manager.emit_message = Errors::onMessage;
    Work work;
    work.manager.progress_monitor = Work::onProgress;
    struct Release
    {
        jpeg_decompress_struct &info;
        ~Release() { jpeg_destroy_decompress(&info); }
    } release{info};
    const auto damaged = [&] {
        return ImageFileReader::damaged(why, "JPEG", QString::fromLocal8Bit(errors.message));
    };
    if (!readHeader(&info, &errors, &work, &bytes))
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
    if (!reduce(&info, &errors, reductionFor(info, atLeast)))
        return damaged();
    cv::Mat image(int(info.output_height), int(info.output_width), CV_MAKETYPE(CV_8U, channels));
    std::vector<unsigned char *> rows(info.output_height);
    for (JDIMENSION y = 0; y < info.output_height; ++y)
        rows[y] = image.ptr(int(y));
    if (!readRows(&info, &errors, rows.data())) {
        if (work.tooManyScans)
            return ImageFileReader::refused(
                why, QStringLiteral("JPEG images of more than %1 scans are not supported").arg(MaxScans));
        return damaged();
    }
    return image;
}
