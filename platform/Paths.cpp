#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QStandardPaths>

namespace {
// Built on first use: the crash handlers ask for paths while the globals of other files may not
// be built yet, and a later construction must not wipe a prefix already chosen.
struct RootState
{
    QMutex lock;
    QString root;
    bool set = false;
};

RootState &state()
{
    static RootState s;
    return s;
}

void store(RootState &s, QString root)
{
    while (root.endsWith('/'))
        root.chop(1);
    s.root = root;
    s.set = true;
}
} // namespace

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
    RootState &s = state();
    QMutexLocker lock(&s.lock);
    if (!s.set) {
        if (qEnvironmentVariableIsSet("VANTOR_ROOT"))
            store(s, qEnvironmentVariable("VANTOR_ROOT"));
        else
            store(s, isInstrument() ? QString() : defaultSandbox());
    }
    return s.root;
}

void Paths::setRoot(const QString &root)
{
    RootState &s = state();
    QMutexLocker lock(&s.lock);
    store(s, root);
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

QString Paths::programDir()
{
    return isInstrument() ? QCoreApplication::applicationDirPath() : configDir();
}
