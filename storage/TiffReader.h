#pragma once
#include "ImReaderWriter.h"
#include "TiffFile.h"

#include <QByteArray>
#include <QSize>

// Reads a TIFF file into an ImReaderWriter (geometry, description and samples) as its read
// operations describe, whatever the file's name: stripped, contiguous, 8- or 16-bit unsigned grey
// or RGB within the size cap. The file is opened by TiffFile (regular files only, the first
// directory looked at before libtiff reads it), every strip must lie in the file outside the
// header, the directory and the tags' values, and any error or warning that data was skipped,
// repaired or assumed fails the read. Failures go to the image's errorString and unsupported.
class TiffReader
{
public:
    static bool read(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Destination &where,
                     void *&samples);
    static bool readBands(const QByteArray &path, ImReaderWriter &image, const ImReaderWriter::Band &band, int passes,
                          quint32 rowUnit);
    static bool readHalved(const QByteArray &path, ImReaderWriter &image, QSize size, quint16 *maximum,
                           QSize *fileSize);

private:
    TiffReader(const QByteArray &path, ImReaderWriter &image) : m_path(path), m_image(image) {}
    ~TiffReader();
    TiffReader(const TiffReader &) = delete;
    TiffReader &operator=(const TiffReader &) = delete;

    // Opens the file and sets the image's geometry and description; false after the image's
    // fail or refuse.
    bool open();
    // Why a strip cannot hold the image's samples; empty when every strip lies where data can be.
    QString misplacedStrip() const;
    // Whole strips straight into the image's rows at into.
    bool readStrips(char *into);
    // into: the image's array, whose rows the bands are read into; else a buffer of one band.
    bool readBands(const ImReaderWriter::Band &band, int passes, quint32 rowUnit, char *into);
    // The damage libtiff reported: true when there is none, else false after the image's fail.
    bool undamaged();

    const QByteArray &m_path;
    ImReaderWriter &m_image;
    TiffFile m_file;
    TIFF *m_tif = nullptr; // m_file's, once open
    quint32 m_rowsPerStrip = 0;
    quint32 m_strips = 0;
    quint64 m_rowBytes = 0;
};
