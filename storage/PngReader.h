#pragma once
#include <QByteArray>
#include <QString>
#include <opencv2/core.hpp>

// A PNG file's bytes decoded through libpng: grey (1, 2 and 4 bits widened to 8) or colour
// (palettes expanded, blue, green, red as OpenCV orders them), 8 or 16 bits, alpha dropped. The
// declared size is checked against the image readers' cap before anything is decoded, and a
// file that libpng finds damaged (an error, or a warning about the image data), cut before its
// end, or with a pixel past its palette is refused: libpng's messages are kept for the reason,
// never printed; an unknown critical chunk refuses the file wherever it stands. Ancillary chunks
// (texts, colour profile, ...) are skipped, never decoded. Safe on any thread.
class PngReader
{
public:
    // Ancillary chunks libpng may keep, and the largest allocation it makes for one chunk
    // (libpng's own default is 8 MB). Ancillary chunks are skipped unread whatever their size:
    // one over this limit is skipped as the others are, not refused.
    static constexpr int MaxKeptChunks = 32;
    static constexpr int MaxChunkBytes = 4 * 1024 * 1024;

    // The image; an empty matrix with why set on any failure.
    static cv::Mat decode(const QByteArray &bytes, QString *why);
};
