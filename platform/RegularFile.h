#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Opens files that are read as images or records only when they are regular files. A FIFO, a
// socket or a device named like an image would block in open() or in the first read, or never
// end: the open here does not wait, and anything but a regular file is refused.
class RegularFile
{
public:
    // A read-only descriptor (close-on-exec, reads blocking as usual) of the regular file at
    // path, which the caller closes; -1 with why set otherwise, and notRegular set where the file
    // is there but is not a regular file.
    static int openForReading(const QByteArray &path, QString *why = nullptr, bool *notRegular = nullptr);
    // The whole file when it is a regular file of at most maxBytes; false with why otherwise.
    static bool readAll(const QByteArray &path, qint64 maxBytes, QByteArray &bytes, QString *why = nullptr);
};
