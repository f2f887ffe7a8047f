#include "PngReader.h"

#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <QtGlobal>
#include <png.h>

#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The file's bytes as libpng reads them, and the first message that condemns the file.
struct Source
{
    const QByteArray &bytes;
    size_t position = 0;
    char message[256] = {};

    void keep(png_const_charp text)
    {
        if (message[0] == '\0')
            std::snprintf(message, sizeof message, "%s", text);
    }
};

Source &sourceOf(png_structp png)
{
    return *static_cast<Source *>(png_get_error_ptr(png));
}

void onRead(png_structp png, png_bytep data, size_t length)
{
    Source &source = *static_cast<Source *>(png_get_io_ptr(png));
    if (length > size_t(source.bytes.size()) - source.position)
        png_error(png, "the file ends early");
    std::memcpy(data, source.bytes.constData() + source.position, length);
    source.position += length;
}

[[noreturn]] void onError(png_structp png, png_const_charp text)
{
    sourceOf(png).keep(text);
    png_longjmp(png, 1);
}

// libpng names the chunk a warning is about first ("tEXt: CRC error"); a chunk whose name
// begins in lower case is ancillary (text, colour profile, time), and a warning about it leaves
// the image data alone. Any other warning (extra or missing image data) condemns the file.
void onWarning(png_structp png, png_const_charp text)
{
    const bool ancillary = std::strlen(text) > 5 && std::islower(static_cast<unsigned char>(text[0])) && text[4] == ':';
    if (!ancillary)
        sourceOf(png).keep(text);
}

// The header, and the transformations to one or three channels of 8 or 16 bits in OpenCV's
// order; false after an error.
bool readHeader(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const int type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
    // Palette indices one a byte, expanded by expandPalette: libpng checks them against the
    // palette only when it does not expand them itself.
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_packing(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_alpha(png);
    if (type == PNG_COLOR_TYPE_RGB || type == PNG_COLOR_TYPE_RGB_ALPHA)
        png_set_bgr(png);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    if (depth == 16)
        png_set_swap(png);
#endif
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

// The image rows and the rest of the file up to its end; false after an error.
bool readRows(png_structp png, png_infop info, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    // With the info structure libpng checks every chunk behind the image data as it checks those
    // before it (an unknown critical chunk is an error); without, it would skip them all.
    png_read_end(png, info);
    return true;
}

// The colours of indices into bgr; false, with why, for an index past the palette (a picture
// libpng would show black there).
bool expandPalette(png_structp png, png_infop info, const cv::Mat &indices, cv::Mat &bgr, QString *why)
{
    png_colorp palette = nullptr;
    int colours = 0;
    png_get_PLTE(png, info, &palette, &colours);
    for (int y = 0; y < indices.rows; ++y) {
        const uchar *in = indices.ptr(y);
        uchar *out = bgr.ptr(y);
        for (int x = 0; x < indices.cols; ++x, out += 3) {
            if (in[x] >= colours) {
                ImageFileReader::damaged(
                    why, "PNG", QStringLiteral("a pixel indexes colour %1 of a palette of %2").arg(in[x]).arg(colours));
                return false;
            }
            const png_color &c = palette[in[x]];
            out[0] = c.blue;
            out[1] = c.green;
            out[2] = c.red;
        }
    }
    return true;
}

} // namespace

cv::Mat PngReader::decode(const QByteArray &bytes, QString *why)
{
    Source source{bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    struct Release
    {
        png_structp &png;
        png_infop &info;
        ~Release() { png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr); }
    } release{png, info};
    if (!info)
        return ImageFileReader::refused(why, QStringLiteral("out of memory"));
    png_set_read_fn(png, &source, onRead);
    // No text, colour profile or other ancillary chunk is used: libpng skips them all unread
    // (compressed texts of megabytes each would be inflated one after another), keeps at most a
    // few chunks of any kind and allocates none larger than a limit of our own.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(png, PngReader::MaxKeptChunks);
    png_set_chunk_malloc_max(png, PngReader::MaxChunkBytes);
    const auto damaged = [&] {
        return ImageFileReader::damaged(why, "PNG", QString::fromLocal8Bit(source.message));
    };
    if (!readHeader(png, info))
        return damaged();
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const bool indexed = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
    const int channels = indexed ? 3 : png_get_channels(png, info), depth = png_get_bit_depth(png, info);
    if (!ImReaderWriter::withinSizeCap(width, height, quint64(channels), quint64(depth / 8)))
        return ImageFileReader::refused(why, ImReaderWriter::tooLarge(width, height));
    if ((channels != 1 && channels != 3) || (depth != 8 && depth != 16))
        return ImageFileReader::refused(
            why, QStringLiteral("PNG images of %1 channels of %2 bits are not supported").arg(channels).arg(depth));
    cv::Mat image(int(height), int(width), CV_MAKETYPE(depth == 16 ? CV_16U : CV_8U, channels));
    const cv::Mat samples = indexed ? cv::Mat(image.size(), CV_8UC1) : image;
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(samples.ptr(int(y)));
    if (!readRows(png, info, rows.data()) || source.message[0] != '\0')
        return damaged();
    if (indexed && !expandPalette(png, info, samples, image, why))
        return cv::Mat();
    return image;
}
