#pragma once
#include <QString>

// Names that never overwrite: a taken name gets a number in brackets counting from 1, folders as
// "%1(%2)" and files as "%1(%2)%3" with the number before the suffix. Used by the save dialog and
// by the pages' own saves. A name that already ends in a number in brackets counts on from it
// (a taken tla(1) is followed by tla(2), never tla(1)(1)). Callers keep the name the user chose
// and number from it each time; they never feed a numbered result back in.
class SaveNaming
{
public:
    // The first free folder name in parent: name, name(1), name(2) ... (the first gap: beside
    // name and name(2) it is name(1)); a file or link holding a name takes it too.
    static QString freeFolderName(const QString &parent, const QString &name);
    // The first free variant of a file path: a.csv, a(1).csv, a(2).csv ...; a(1) without suffix;
    // a taken a(1).csv is followed by a(2).csv.
    static QString freeFilePath(const QString &path);
    // The path with the number n before its last suffix: a.b.tif gives a.b(n).tif, notes
    // notes(n); n 0 gives the path itself.
    static QString countedFilePath(const QString &path, int n);
    // The part of an entry's name before its first "." (img.01.tif gives img).
    static QString baseName(const QString &name);

    // A label (a filter-cube name) made fit for a file name: \ / : * ? " < > | and control
    // characters become "_".
    static QString fileNameOf(const QString &label);
    // A numbered series file: base_0001.ext up to base_9999.ext, then base_10000.ext; suffix goes
    // between the number and the extension (base_0001_count.tif).
    static QString numberedPath(const QString &base, int number, const QString &extension,
                                const QString &suffix = QString());
    // Whether the last part of a path fits the file system's 255 bytes for one name.
    static bool nameFits(const QString &path);
};
