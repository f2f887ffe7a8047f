#pragma once
#include <QList>
#include <QString>

// The system's mount table "/etc/mtab", one entry per mounted file system. The table holds the
// instrument's own paths (fixed paths, see Paths); fields are decoded as the kernel writes them
// ("\040" for a blank, "\011", "\012", "\134" for tab, newline and backslash).
class MountTable
{
public:
    struct Entry
    {
        QString device;     // "/dev/sda1"
        QString mountPoint; // "/media/VANTOR SSD"
        QString type;
    };

    // The entries in table order; false (and no entry) when the table cannot be read.
    static bool read(QList<Entry> *entries);
    // One field with its octal escapes decoded.
    static QString decodeField(const QByteArray &field);
};
