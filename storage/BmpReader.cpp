#include "BmpReader.h"

#include "ImReaderWriter.h"
#include "ImageFileReader.h"

#include <QtEndian>
#include <opencv2/imgcodecs.hpp>

#include <cstdlib>

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
// layout OpenCV decodes. False, why untouched, for a standard layout.
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

// The first palette index of rows (each rowBytes long, width pixels of bits bits) that is not
// below colours; -1 when there is none.
qint64 indexPast(const uchar *rows, quint64 rowBytes, quint64 width, quint64 height, quint64 bits, quint64 colours)
{
    const unsigned perByte = unsigned(8 / bits), mask = (1u << bits) - 1;
    for (quint64 y = 0; y < height; ++y, rows += rowBytes)
        for (quint64 x = 0; x < width; ++x) {
            const unsigned shift = unsigned(8 - bits * (x % perByte + 1));
            const unsigned index = (rows[x / perByte] >> shift) & mask;
            if (index >= colours)
                return index;
        }
    return -1;
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
    const qint64 height =
        old ? qFromLittleEndian<quint16>(header + 20) : std::abs(qint64(qFromLittleEndian<qint32>(header + 22)));
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
    if (bitFields) {
        if (bits != 16 && bits != 32)
            return ImageFileReader::damaged(why, "BMP", QStringLiteral("colour masks for %1 bits a pixel").arg(bits));
        if (bytes.size() < 66)
            return ImageFileReader::damaged(why, "BMP", QStringLiteral("the header is cut"));
        const quint32 masks[3] = {qFromLittleEndian<quint32>(header + 54), qFromLittleEndian<quint32>(header + 58),
                                  qFromLittleEndian<quint32>(header + 62)};
        if (masksRefused(masks, bits, why))
            return cv::Mat();
    }
    // Behind the header: three colour masks (BI_BITFIELDS with the 40-byte header), then for up
    // to 8 bits a pixel the palette (all 2^bits colours when the header gives no number).
    const quint64 fullPalette = bits <= 8 ? quint64(1) << bits : 0;
    const quint64 paletteColours = bits > 8 ? 0 : colours != 0 ? colours : fullPalette;
    const quint64 dataStart = 14 + quint64(infoSize) + (bitFields && infoSize == 40 ? 12 : 0) + paletteColours * (old ? 3 : 4);
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
    // OpenCV draws a pixel past a short palette black.
    if ((bits == 1 || bits == 2 || bits == 4 || bits == 8) && paletteColours < fullPalette) {
        const qint64 index = indexPast(header + offset, rowBytes, quint64(width), quint64(height), bits, paletteColours);
        if (index >= 0)
            return ImageFileReader::damaged(
                why, "BMP", QStringLiteral("a pixel indexes colour %1 of a palette of %2").arg(index).arg(paletteColours));
    }
    const cv::Mat image = cv::imdecode(cv::Mat(1, bytes.size(), CV_8UC1, const_cast<char *>(bytes.constData())),
                                       cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    if (image.empty())
        return ImageFileReader::damaged(why, "BMP", QString());
    return image;
}
