#include "SaveNaming.h"

#include <QFileInfo>

namespace {
bool taken(const QString &path)
{
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}
}

QString SaveNaming::freeFolderName(const QString &parent, const QString &name)
{
    QString candidate = name;
    for (int n = 1; taken(parent + '/' + candidate); ++n)
        candidate = QString("%1(%2)").arg(name, QString::number(n));
    return candidate;
}

QString SaveNaming::freeFilePath(const QString &path)
{
    if (!taken(path))
        return path;
    const QString suffix = QFileInfo(path).suffix();
    const QString ext = suffix.isEmpty() ? QString() : '.' + suffix;
    const QString base = path.left(path.size() - ext.size());
    QString candidate;
    int n = 1;
    do
        candidate = QString("%1(%2)%3").arg(base, QString::number(n++), ext);
    while (taken(candidate));
    return candidate;
}

QString SaveNaming::baseName(const QString &name)
{
    return name.section('.', 0, 0);
}
