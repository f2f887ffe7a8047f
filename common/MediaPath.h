#pragma once
#include <QString>

// The rules of folders on the storage volumes, which all live below "/media" (Paths::media()).
// Paths are real paths; every rule is applied to the fixed path (Paths::fixedPath), so the
// sandbox prefix of the simulated run never shows and never shifts a position.
class MediaPath
{
public:
    static bool isMediaRoot(const QString &path);  // "/media" itself
    static bool isBelowMedia(const QString &path); // strictly inside "/media"
    // The text a path label shows: "/" for "/media", else the fixed path without a leading "/media".
    static QString label(const QString &path);
    // The volume of a folder: its fixed path up to the first "/" at or after position 7 (the
    // whole path when there is none), as a real path. /media/USB DISK/a/b gives /media/USB DISK.
    static QString volumeOf(const QString &path);
};
