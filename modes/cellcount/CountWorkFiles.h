#pragma once
#include <QImage>
#include <QString>
#include <memory>

class ImReaderWriter;

// The two work files of a count, its tagged image and its counted frame, kept in memory when the
// count ends and written by write(): the page shows its results first and writes them when it
// returns to the event loop, or at once where something is about to read the files. The images
// stay shared with whoever shows them (no copy); the next count fills the other pair.
class CountWorkFiles
{
public:
    CountWorkFiles();
    ~CountWorkFiles();
    CountWorkFiles(const CountWorkFiles &) = delete;
    CountWorkFiles &operator=(const CountWorkFiles &) = delete;

    // The array of the next hold's tagged image, width x height red-green-blue (rows of a
    // multiple of 4 bytes, as a camera frame's), for a caller that makes the image in place.
    unsigned char *nextTag(int width, int height);
    // The same for the next hold's grey frame (rows of width bytes, a multiple of 4).
    unsigned char *nextFrame(int width, int height);
    // Holds a count's images, red-green-blue tagged image (copied unless it is nextTag's array)
    // and grey frame (copied unless it is nextFrame's) of width x height, to be written to the two paths; a null frame
    // writes the tagged image as the frame file too.
    void hold(const unsigned char *tagRgb, const unsigned char *frame, int width, int height, const QString &tagPath,
              const QString &framePath);
    bool pending() const { return m_bPending; }
    // The images of the last hold: red-green-blue, and grey or (with a null frame) the tagged one.
    const QImage &tagImage() const { return m_Tag[m_nCurrent]; }
    const QImage &frameImage() const { return m_Frame[m_nCurrent]; }

    // Writes the held images, replacing the files of the two paths; nothing when none is
    // pending. tagWritten tells whether the tagged image's file was written; error, why not.
    bool write(bool &tagWritten, QString &error);

private:
    QImage m_Tag[2], m_Frame[2];
    int m_nCurrent = 0;
    bool m_bPending = false;
    QString m_TagPath, m_FramePath;
    // Kept from count to count, so that each write fills arrays already allocated.
    std::unique_ptr<ImReaderWriter> m_pTagFile, m_pFrameFile;
};
