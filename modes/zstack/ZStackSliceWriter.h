#pragma once
#include "ImReaderWriter.h"

#include <QPixmap>
#include <QString>
#include <QVector>
#include <vector>

// The slice-saving step of a Z-stack: holds the last camera frame (8-bit, or 16-bit as plain
// intensities together with its 8-bit view), writes it as one TIFF with the slice's metadata text,
// and makes its thumbnail from the 8-bit samples in memory. The frame is taken in bands of rows,
// each copied (16-bit words turned into intensities), reduced to 8 bits and halved twice while it is in
// the cache: neither the write nor the thumbnail has to pass over the whole frame again.
class ZStackSliceWriter
{
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;
    static constexpr int kThumbnailWidth = 132;
    static constexpr int kThumbnailHeight = 100;

    ZStackSliceWriter();

    // Copies a 1280 x 1024 frame: 8 bits a pixel, or 16-bit words of a 12-bit value shifted
    // left by four, most significant byte first. False for any other depth.
    bool setFrame(const uchar *frame, int bits);
    int bits() const { return m_nBits; }
    // The 8-bit view of the last frame (the high byte of each 16-bit sample).
    const uchar *frame8() const;

    // Writes the last frame as a TIFF carrying text as its description; a failed write leaves no
    // file behind.
    bool write(const QString &path, const QString &text);
    QString errorString() const { return m_Image.errorString(); }
    // The 132 x 100 thumbnail of the last frame through colorTable (grey when empty).
    QPixmap thumbnail(const QVector<QRgb> &colorTable) const;

    // "<savePath>/<folder>/<folder>_0000.<extension>": four digits up to 9999, then as many as needed.
    static QString slicePath(const QString &savePath, const QString &folder, int index, const QString &extension);
    // The base metadata text followed by "Z Position: <z with one decimal> µm".
    static QString metaText(const QString &base, float z);

private:
    static constexpr int kBandRows = 128; // 320 KiB of 16-bit samples: within the core's cache

    ImReaderWriter m_Image;
    std::vector<uchar> m_Frame8; // the 8-bit view of a 16-bit frame
    std::vector<uchar> m_HalfBand; // a band of the 8-bit view averaged over 2 x 2 pixels
    std::vector<uchar> m_Quarter;  // the 8-bit view averaged over 4 x 4 pixels
    int m_nBits = 0;
};
