#include "BmpReader.h"

#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr quint32 kRgb = 0, kBitFields = 3; // biCompression

QString hex(quint32 mask)
{
    return QStringLiteral("0x%1").arg(mask, 8, 16, QLatin1Char('0'));
}

// One run of set bits (none for zero).
bool contiguous(quint32 mask)
{
    const quint32 shifted = mask != 0 ? mask >> qCountTrailingZeroBits(mask) : 0;
    return shifted != 0 && (shifted & (shifted + 1)) == 0;
}

// Whether the red, green and blue masks of a BITFIELDS image are refused, with why: as damaged
// when one is empty, has gaps or overlaps another; as not read when they are sound but not a
// layout read. False, why untouched, for a standard layout.
bool masksRefused(const quint32 (&masks)[3], quint64 bits, QString *why)
{
    const quint32 red = masks[0], green = masks[1], blue = masks[2];
    for (quint32 mask : masks) {
        if (mask == 0 || (bits < 32 && (mask >> bits) != 0)) {
            ImageFileReader::damaged(why, "BMP", QStringLiteral("an empty colour mask or one past %1 bits").arg(bits));
            return true;
        }
        if (!contiguous(mask)) {
            ImageFileReader::damaged(why, "BMP", QStringLiteral("a colour mask with gaps (%1)").arg(hex(mask)));
            return true;
        }
    }
    if ((red & green) || (red & blue) || (green & blue)) {
        ImageFileReader::damaged(why, "BMP",
                                 QStringLiteral("overlapping colour masks (%1, %2, %3)").arg(hex(red), hex(green), hex(blue)));
        return true;
    }
    const bool standard = bits == 32 ? red == 0xFF0000 && green == 0xFF00 && blue == 0xFF
                                     : blue == 0x1F && ((green == 0x3E0 && red == 0x7C00) || (green == 0x7E0 && red == 0xF800));
    if (!standard)
        ImageFileReader::refused(why, QStringLiteral("BMP images of %1 bits with colour masks red %2, green %3, blue %4 "
                                                     "are not supported")
                                          .arg(bits)
                                          .arg(hex(red), hex(green), hex(blue)));
    return !standard;
}

// Where the rows of pixels lie and how they are stored.
struct Layout
{
    quint64 width, height;
    bool topDown; // rows from the top (a negative height), else from the bottom
    quint64 bits;
    quint64 rowBytes;

    const uchar *row(const uchar *pixels, quint64 y) const { return pixels + (topDown ? y : height - 1 - y) * rowBytes; }
};

// A palette image: grey where every colour of the palette is grey, else blue, green, red. Empty,
// with past set, at the first index that is not below colours.
cv::Mat indexed(const uchar *pixels, const Layout &layout, const uchar *palette, int entryBytes, quint64 colours,
                unsigned *past)
{
    bool grey = true;
    for (quint64 i = 0; i < colours; ++i) {
        const uchar *entry = palette + i * quint64(entryBytes);
        grey = grey && entry[0] == entry[1] && entry[1] == entry[2];
    }
    cv::Mat image(int(layout.height), int(layout.width), grey ? CV_8UC1 : CV_8UC3);
    const unsigned perByte = unsigned(8 / layout.bits), mask = (1u << layout.bits) - 1;
    for (quint64 y = 0; y < layout.height; ++y) {
        const uchar *in = layout.row(pixels, y);
        uchar *out = image.ptr(int(y));
        for (quint64 x = 0; x < layout.width; ++x) {
            const unsigned shift = unsigned(8 - layout.bits * (x % perByte + 1));
            const unsigned index = (in[x / perByte] >> shift) & mask;
            if (index >= colours) {
                *past = index;
                return cv::Mat();
            }
            const uchar *entry = palette + index * unsigned(entryBytes);
            if (grey)
                *out++ = entry[0];
            else
                out = std::copy(entry, entry + 3, out);
        }
    }
    return image;
}

// The 8-bit values of a colour mask's field: its bits repeated down to the last of the byte, so
// that 0 stays 0 and the largest value becomes 255, as the writers of such files read them.
std::vector<uchar> fieldValues(quint32 mask)
{
    const int width = qPopulationCount(mask);
    std::vector<uchar> values(size_t(1) << std::min(width, 8));
    for (unsigned v = 0; v < values.size(); ++v) {
        unsigned value = 0;
        for (int shift = 8 - width; shift > -width; shift -= width)
            value |= shift >= 0 ? v << shift : v >> -shift;
        values[v] = uchar(value);
    }
    return values;
}

// A 16-, 24- or 32-bit image in blue, green, red, by its red, green and blue masks (sound, of at
// most 8 bits each: checked before; 24 bits are the bytes blue, green, red).
cv::Mat direct(const uchar *pixels, const Layout &layout, const quint32 (&masks)[3])
{
    cv::Mat image(int(layout.height), int(layout.width), CV_8UC3);
    const quint64 bytes = layout.bits / 8;
    int shifts[3];
    std::vector<uchar> values[3];
    for (int c = 0; c < 3; ++c) {
        shifts[c] = qCountTrailingZeroBits(masks[c]);
        values[c] = fieldValues(masks[c]);
    }
    for (quint64 y = 0; y < layout.height; ++y) {
        const uchar *in = layout.row(pixels, y);
        uchar *out = image.ptr(int(y));
        if (bytes == 3) {
            std::copy(in, in + layout.width * 3, out);
            continue;
        }
        for (quint64 x = 0; x < layout.width; ++x, in += bytes) {
            const quint32 pixel = bytes == 2 ? qFromLittleEndian<quint16>(in) : qFromLittleEndian<quint32>(in);
            for (int c = 2; c >= 0; --c) // red, green, blue masks; blue, green, red out
                *out++ = values[c][(pixel & masks[c]) >> shifts[c]];
        }
    }
    return image;
}

} // namespace

cv::Mat BmpReader::decode(const QByteArray &bytes, QString *why)
{
    const auto *header = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 infoSize = bytes.size() >= 18 ? qFromLittleEndian<quint32>(header + 14) : 0;
    if (bytes.size() < 26 || (infoSize != 12 && (infoSize < 40 || bytes.size() < 50)))
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the header is cut"));
    // The old 12-byte header holds 16-bit sizes and no compression; the others signed 32-bit
    // sizes (a negative height: rows from the top), the compression and the palette's size.
    const bool old = infoSize == 12;
    const qint64 width = old ? qFromLittleEndian<quint16>(header + 18) : qFromLittleEndian<qint32>(header + 18);
    const qint64 signedHeight = old ? qFromLittleEndian<quint16>(header + 20) : qFromLittleEndian<qint32>(header + 22);
    const qint64 height = std::abs(signedHeight);
    const quint64 bits = qFromLittleEndian<quint16>(header + (old ? 24 : 28));
    const quint32 compression = old ? kRgb : qFromLittleEndian<quint32>(header + 30);
    const quint64 colours = old ? 0 : qFromLittleEndian<quint32>(header + 46);
    if (width < 0)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("a negative width"));
    if (!ImReaderWriter::withinSizeCap(quint64(width), quint64(height), 3, 1))
        return ImageFileReader::refused(why, ImReaderWriter::tooLarge(quint64(width), quint64(height)));
    // The colour masks follow the 40-byte header, or are its continuation in the longer ones.
    const bool bitFields = compression == kBitFields && (infoSize == 40 || infoSize >= 52);
    if (compression != kRgb && !bitFields)
        return ImageFileReader::refused(why, QStringLiteral("compressed BMP images are not supported"));
    if (bits <= 8 && colours > 256)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("a palette of %1 colours").arg(colours));
    if (width == 0 || height == 0)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("no pixels"));
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("%1 bits a pixel").arg(bits));
    // Without colour masks, 16 bits hold 5-5-5 and 32 bits blue, green, red and a spare byte.
    quint32 masks[3] = {bits == 16 ? 0x7C00u : 0xFF0000u, bits == 16 ? 0x3E0u : 0xFF00u, bits == 16 ? 0x1Fu : 0xFFu};
    if (bitFields) {
        if (bits != 16 && bits != 32)
            return ImageFileReader::damaged(why, "BMP", QStringLiteral("colour masks for %1 bits a pixel").arg(bits));
        if (bytes.size() < 66)
            return ImageFileReader::damaged(why, "BMP", QStringLiteral("the header is cut"));
        for (int i = 0; i < 3; ++i)
            masks[i] = qFromLittleEndian<quint32>(header + 54 + 4 * i);
        if (masksRefused(masks, bits, why))
            return cv::Mat();
    }
    // Behind the header: three colour masks (BI_BITFIELDS with the 40-byte header), then for up
    // to 8 bits a pixel the palette (all 2^bits colours when the header gives no number), of
    // blue, green, red and, but in the old header, a spare byte.
    const quint64 paletteColours = bits > 8 ? 0 : colours != 0 ? colours : quint64(1) << bits;
    const int entryBytes = old ? 3 : 4;
    const quint64 paletteStart = 14 + quint64(infoSize) + (bitFields && infoSize == 40 ? 12 : 0);
    const quint64 dataStart = paletteStart + paletteColours * quint64(entryBytes);
    const quint64 offset = qFromLittleEndian<quint32>(header + 10);
    if (quint64(bytes.size()) < dataStart)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the header is cut"));
    if (offset < dataStart)
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the pixel data begin at byte %1, inside the header and %2")
                                                        .arg(offset)
                                                        .arg(bitFields ? "colour masks" : "palette"));
    const quint64 rowBytes = (quint64(width) * bits + 31) / 32 * 4;
    if (quint64(bytes.size()) < offset + rowBytes * quint64(height))
        return ImageFileReader::damaged(why, "BMP", QStringLiteral("the file ends before its last row"));
    const Layout layout{quint64(width), quint64(height), signedHeight < 0, bits, rowBytes};
    if (bits > 8)
        return direct(header + offset, layout, masks);
    unsigned past = 0;
    const cv::Mat image = indexed(header + offset, layout, header + paletteStart, entryBytes, paletteColours, &past);
    if (image.empty())
        return ImageFileReader::damaged(
            why, "BMP", QStringLiteral("a pixel indexes colour %1 of a palette of %2").arg(past).arg(paletteColours));
    return image;
}
