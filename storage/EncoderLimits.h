#pragma once
#include <QString>

// The largest pictures the image encoders take: libpng's limit of 1,000,000 pixels a side for
// PNG and libjpeg's 65,500 for JPEG. Asked before encoding, so that a picture beyond them is
// refused with a reason of ours and no library prints its own error.
namespace EncoderLimits {

// Why a picture of width x height pixels cannot be written in format (its extension: "png",
// "jpg", "jpeg", ... in any case), empty when it can.
QString refusal(const QString &format, quint64 width, quint64 height);

} // namespace EncoderLimits
