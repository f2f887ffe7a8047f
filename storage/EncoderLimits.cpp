#include "EncoderLimits.h"

#include <cstdio>
#include <jpeglib.h>
#include <png.h>

QString EncoderLimits::refusal(const QString &format, quint64 width, quint64 height)
{
    const QString lower = format.toLower();
    const bool png = lower == "png", jpeg = lower == "jpg" || lower == "jpeg" || lower == "jpe";
    const quint64 side = png ? quint64(qMin(PNG_USER_WIDTH_MAX, PNG_USER_HEIGHT_MAX))
                         : jpeg ? quint64(JPEG_MAX_DIMENSION)
                                : 0;
    if (side == 0 || (width <= side && height <= side))
        return QString();
    return QStringLiteral("the picture of %1 x %2 pixels is too large for %3 (at most %4 pixels a side)")
        .arg(width)
        .arg(height)
        .arg(png ? QStringLiteral("PNG") : QStringLiteral("JPEG"))
        .arg(side);
}
