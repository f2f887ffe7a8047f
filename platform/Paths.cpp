#include "Paths.h"

#include <QDir>
#include <QMutex>
#include <QStandardPaths>

namespace {
QMutex g_rootLock;
QString g_root;
bool g_rootSet = false;
}

bool Paths::isInstrument()
{
    return qEnvironmentVariable("VANTOR_TARGET") == QLatin1String("instrument");
}

QString Paths::defaultSandbox()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.local/share";
    return base + "/vantor-sim";
}

QString Paths::root()
{
    QMutexLocker lock(&g_rootLock);
    if (!g_rootSet) {
        if (qEnvironmentVariableIsSet("VANTOR_ROOT"))
            g_root = qEnvironmentVariable("VANTOR_ROOT");
        else if (!isInstrument())
            g_root = defaultSandbox();
        while (g_root.endsWith('/'))
            g_root.chop(1);
        g_rootSet = true;
    }
    return g_root;
}

void Paths::setRoot(const QString &root)
{
    QMutexLocker lock(&g_rootLock);
    g_root = root;
    while (g_root.endsWith('/'))
        g_root.chop(1);
    g_rootSet = true;
}

QString Paths::path(const QString &fixedPath)
{
    return root() + fixedPath;
}

QString Paths::fixedPath(const QString &realPath)
{
    const QString prefix = root();
    if (!prefix.isEmpty() && realPath.startsWith(prefix + '/'))
        return realPath.mid(prefix.size());
    return realPath;
}
