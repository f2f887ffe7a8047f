#include "MediaPath.h"

#include "Paths.h"

#include <QDir>

namespace {
QString fixedClean(const QString &path)
{
    return Paths::fixedPath(QDir::cleanPath(path));
}
}

bool MediaPath::isMediaRoot(const QString &path)
{
    return fixedClean(path) == QLatin1String("/media");
}

bool MediaPath::isBelowMedia(const QString &path)
{
    return fixedClean(path).startsWith(QLatin1String("/media/"));
}

QString MediaPath::label(const QString &path)
{
    if (isMediaRoot(path))
        return QStringLiteral("/");
    const QString fixed = fixedClean(path);
    return isBelowMedia(path) ? fixed.mid(6) : fixed; // only a leading "/media" goes
}

QString MediaPath::volumeOf(const QString &path)
{
    const QString fixed = Paths::fixedPath(path);
    const int slash = fixed.indexOf('/', 7);
    return Paths::path(slash < 0 ? fixed : fixed.left(slash));
}
