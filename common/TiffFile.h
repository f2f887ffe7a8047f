#pragma once
#include "TiffDirectory.h"
#include "TiffMessages.h"

#include <QByteArray>
#include <QString>
#include <tiffio.h>

// A TIFF file opened for reading within bounds, the only way any part of the program opens one:
// the first directory is looked at before libtiff reads it (TiffDirectory::fault refuses what
// libtiff would load or read wrongly), libtiff's messages are collected (TiffMessages), no
// single allocation passes MaxAllocationBytes, and the file is read without memory mapping, so
// that a drive pulled while reading gives a read error, not SIGBUS. Used by one thread at a time.
class TiffFile
{
public:
    // The largest allocation libtiff may make for one file: one strip of the largest image read.
    static constexpr quint64 MaxAllocationBytes = 256ull * 1024 * 1024;

    TiffFile();
    ~TiffFile();
    TiffFile(const TiffFile &) = delete;
    TiffFile &operator=(const TiffFile &) = delete;

    // Opens the file of path whose descriptor fd (of a regular file, from RegularFile) this object
    // takes over and closes; false with why set when its directory is refused, the file cannot
    // be read or libtiff does not open it. flags are libtiff's open flags besides "r" and "m".
    bool open(int fd, const QByteArray &path, QString &why, const char *flags = "");

    TIFF *tiff() const { return m_tif; }
    int fd() const { return m_fd; }
    const TiffDirectory &directory() const { return m_directory; }
    const TiffMessages &messages() const { return m_messages; }
    // The errors and warnings so far that mark the file as damaged (TiffMessages::damage); empty
    // when there are none. Only after a successful open.
    QString damage() const;

private:
    TiffMessages m_messages;
    TiffDirectory m_directory;
    int m_fd = -1;
    TIFF *m_tif = nullptr;
};
