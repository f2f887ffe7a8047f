#include "CountWorkFiles.h"

#include "ImReaderWriter.h"

#include <QFile>
#include <cstring>

namespace {

// image as a width x height image of format whose array nobody else holds, so that it can be
// filled without a copy first: images shown elsewhere are left to their holders.
void makeOwn(QImage &image, int width, int height, QImage::Format format)
{
    if (image.width() != width || image.height() != height || image.format() != format || !image.isDetached())
        image = QImage(width, height, format);
}

void fill(QImage &image, const unsigned char *pixels, int rowBytes)
{
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), pixels + size_t(y) * size_t(rowBytes), size_t(rowBytes));
}

} // namespace

CountWorkFiles::CountWorkFiles()
    : m_pTagFile(std::make_unique<ImReaderWriter>())
    , m_pFrameFile(std::make_unique<ImReaderWriter>())
{
}

CountWorkFiles::~CountWorkFiles() = default;

unsigned char *CountWorkFiles::nextTag(int width, int height)
{
    // The pair the last count did not fill: its images are the ones least likely still shown.
    QImage &tag = m_Tag[1 - m_nCurrent];
    makeOwn(tag, width, height, QImage::Format_RGB888);
    return tag.bits();
}

unsigned char *CountWorkFiles::nextFrame(int width, int height)
{
    QImage &frame = m_Frame[1 - m_nCurrent];
    makeOwn(frame, width, height, QImage::Format_Grayscale8);
    return frame.bits();
}

void CountWorkFiles::hold(const unsigned char *tagRgb, const unsigned char *frame, int width, int height,
                          const QString &tagPath, const QString &framePath)
{
    unsigned char *next = nextTag(width, height);
    // A frame in an array another holder shares is copied into one of the pair's own.
    const unsigned char *nextGrey = frame ? nextFrame(width, height) : nullptr;
    m_nCurrent = 1 - m_nCurrent;
    QImage &tag = m_Tag[m_nCurrent];
    if (tagRgb != next)
        fill(tag, tagRgb, 3 * width);
    QImage &counted = m_Frame[m_nCurrent];
    if (!frame)
        counted = tag;
    else if (frame != nextGrey)
        fill(counted, frame, width);
    m_TagPath = tagPath;
    m_FramePath = framePath;
    m_bPending = true;
}

bool CountWorkFiles::write(bool &tagWritten, QString &error)
{
    tagWritten = true;
    if (!m_bPending)
        return true;
    m_bPending = false;
    const QImage &tag = m_Tag[m_nCurrent], &frame = m_Frame[m_nCurrent];
    // The previous count's files go first: a file renamed onto an existing one is flushed to the
    // disk at once by the file system (ext4), which held the page for several milliseconds. Each
    // new file still appears only whole, and nothing lists the old ones any more.
    QFile::remove(m_TagPath);
    QFile::remove(m_FramePath);
    const quint32 width = quint32(tag.width()), height = quint32(tag.height());
    ImReaderWriter &tagFile = *m_pTagFile, &frameFile = *m_pFrameFile;
    tagWritten = tagFile.load(tag.constBits(), width, height, 8, 3, 1, 2, 1)
                 && tagFile.write(m_TagPath.toUtf8(), QByteArray());
    // The frame of a null hold is the tagged image: its writer writes it again.
    const bool ownFrame = frame.format() == QImage::Format_Grayscale8;
    ImReaderWriter &frameWriter = ownFrame ? frameFile : tagFile;
    const bool frameWritten = (!ownFrame || frameFile.load(frame.constBits(), width, height, 8, 1, 1, 1, 1))
                              && frameWriter.write(m_FramePath.toUtf8(), QByteArray());
    error = tagWritten ? frameWriter.errorString() : tagFile.errorString();
    return tagWritten && frameWritten;
}
