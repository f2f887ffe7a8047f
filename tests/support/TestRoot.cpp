#include "TestRoot.h"

#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TestRoot::TestRoot()
    : m_previous(Paths::root())
{
    Paths::setRoot(m_dir.path());
}

TestRoot::~TestRoot()
{
    Paths::setRoot(m_previous);
}

QString TestRoot::makeDir(const QString &fixedPath) const
{
    const QString real = m_dir.path() + fixedPath;
    QDir().mkpath(real);
    return real;
}

QString TestRoot::writeFile(const QString &fixedPath, const QByteArray &content) const
{
    const QString real = m_dir.path() + fixedPath;
    QDir().mkpath(QFileInfo(real).absolutePath());
    // A link in the sandbox (the seeded ffmpeg) is replaced, never written through to its target.
    if (QFileInfo(real).isSymLink())
        QFile::remove(real);
    QFile file(real);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return real;
}

QString TestRoot::dataDir()
{
    return qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/data";
}
