#include "SaveNaming.h"

#include <QFileInfo>

#include <climits>

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
    int n = 0;
    while (taken(countedFilePath(path, n)))
        ++n;
    return countedFilePath(path, n);
}

QString SaveNaming::countedFilePath(const QString &path, int n)
{
    if (n == 0)
        return path;
    const QString suffix = QFileInfo(path).suffix();
    const QString ext = suffix.isEmpty() ? QString() : '.' + suffix;
    return QString("%1(%2)%3").arg(path.left(path.size() - ext.size()), QString::number(n), ext);
}

QString SaveNaming::baseName(const QString &name)
{
    return name.section('.', 0, 0);
}

QString SaveNaming::fileNameOf(const QString &label)
{
    QString out = label;
    for (QChar &c : out)
        if (c.category() == QChar::Other_Control || QStringLiteral("\\/:*?\"<>|").contains(c))
            c = '_';
    return out;
}

QString SaveNaming::numberedPath(const QString &base, int number, const QString &extension, const QString &suffix)
{
    const QString digits = number < 10000 ? QString("%1").arg(number, 4, 10, QChar('0')) : QString::number(number);
    return QString("%1_%2%3.%4").arg(base, digits, suffix, extension);
}

bool SaveNaming::nameFits(const QString &path)
{
    return QFileInfo(path).fileName().toUtf8().size() <= NAME_MAX;
}
