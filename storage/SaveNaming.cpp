#include "SaveNaming.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <climits>

namespace {
bool taken(const QString &path)
{
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

// "." and the last suffix of a path, or nothing when it has none.
QString extensionOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? QString() : '.' + suffix;
}

// A name that already ends in a number in brackets ("tla(1)") is the numbered form of its stem
// ("tla"): the stem and that number. Any other name is its own stem, number 0.
int splitNumbered(const QString &name, QString *stem)
{
    static const QRegularExpression numbered(QStringLiteral("^(.*)\\((\\d{1,9})\\)$"),
                                             QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = numbered.match(name);
    *stem = match.hasMatch() ? match.captured(1) : name;
    return match.hasMatch() ? match.captured(2).toInt() : 0;
}

// The first name from name on that is free in folder (which ends in "/") with ext after it:
// name itself, else stem(n + 1), stem(n + 2) ...
QString firstFree(const QString &folder, const QString &name, const QString &ext)
{
    QString stem;
    int n = splitNumbered(name, &stem);
    QString candidate = name;
    while (taken(folder + candidate + ext))
        candidate = QString("%1(%2)").arg(stem, QString::number(++n));
    return candidate;
}
}

QString SaveNaming::freeFolderName(const QString &parent, const QString &name)
{
    return firstFree(parent + '/', name, QString());
}

QString SaveNaming::freeFilePath(const QString &path)
{
    const QString ext = extensionOf(path);
    const QString base = path.left(path.size() - ext.size());
    const QString folder = base.left(base.lastIndexOf('/') + 1);
    return folder + firstFree(folder, base.mid(folder.size()), ext) + ext;
}

QString SaveNaming::countedFilePath(const QString &path, int n)
{
    if (n == 0)
        return path;
    const QString ext = extensionOf(path);
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
