#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

QString Paths::sandboxRefusal()
{
    const QString prefix = root();
    const QString head = QStringLiteral("The simulated instrument needs a sandbox folder of its own (VANTOR_ROOT): ");
    if (prefix.isEmpty())
        return head + QStringLiteral("it is empty or \"/\", so every path would be the host's own.");
    const QFileInfo info(prefix);
    if (info.exists() && !info.isDir())
        return head + QStringLiteral("\"%1\" is not a folder.").arg(prefix);
    const QString resolved = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    if (resolved == QLatin1String("/"))
        return head + QStringLiteral("\"%1\" is the host's \"/\".").arg(prefix);
    return QString();
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
