#include "ZStackSliceWriter.h"

#include "FrameThumbnail.h"

#include <QFile>
#include <cmath>

ZStackSliceWriter::ZStackSliceWriter()
    : m_Frame8(size_t(kWidth) * kHeight)
{
}

bool ZStackSliceWriter::setFrame(const uchar *frame, int bits)
{
    if (!frame || (bits != 8 && bits != 16))
        return false;
    if (!m_Image.load(frame, kWidth, kHeight, quint16(bits), 1, 1, 1, 1))
        return false;
    m_nBits = bits;
    if (bits == 16) {
        const size_t n = m_Frame8.size();
        uchar *out = m_Frame8.data();
        for (size_t i = 0; i < n; ++i)
            out[i] = frame[2 * i];
    }
    return true;
}

const uchar *ZStackSliceWriter::frame8() const
{
    return m_nBits == 16 ? m_Frame8.data() : m_Image.buffer8.get();
}

bool ZStackSliceWriter::write(const QString &path, const QString &text)
{
    return m_nBits != 0 && m_Image.write(QFile::encodeName(path), text.toUtf8());
}

QPixmap ZStackSliceWriter::thumbnail(const QVector<QRgb> &colorTable) const
{
    return FrameThumbnail::make(frame8(), kWidth, kHeight, kWidth, colorTable, QSize(kThumbnailWidth, kThumbnailHeight));
}

QString ZStackSliceWriter::slicePath(const QString &savePath, const QString &folder, int index, const QString &extension)
{
    const QString number = index < 10000 ? QString("%1").arg(index, 4, 10, QChar('0')) : QString::number(index);
    return QString("%1/%2/%2_%3.%4").arg(savePath, folder, number, extension);
}

QString ZStackSliceWriter::metaText(const QString &base, float z)
{
    // Rounded first, so that a position just below zero reads 0.0 rather than -0.0.
    double shown = std::round(double(z) * 10.0) / 10.0;
    if (shown == 0.0)
        shown = 0.0;
    return QString("%1;Z Position: %2 %3").arg(base, QString::number(shown, 'f', 1), QString::fromUtf8("µm"));
}
