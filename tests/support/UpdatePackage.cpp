#include "UpdatePackage.h"

#include "HangBound.h"
#include "Paths.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace UpdatePackage {

QByteArray runTool(const QString &program, const QStringList &args, int *exitCode)
{
    QProcess process;
    process.start(program, args);
    const bool ended = process.waitForFinished(kHangBoundMs);
    if (exitCode)
        *exitCode = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

bool write(const QString &kind, const QString &path, const QString &outside, const QString &program)
{
    const QString script = qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/settings/update_package.py";
    QStringList args{script, kind, path, "--outside", outside};
    if (!program.isEmpty())
        args << "--program" << program;
    int code = -1;
    runTool("/usr/bin/python3", args, &code);
    return code == 0;
}

QStringList versionKeys()
{
    const QString read = "import configparser,sys\nc=configparser.ConfigParser(interpolation=None)\n"
                         "c.optionxform=str\nc.read(sys.argv[1])\n"
                         "print(c['NIMBO'].get('Version',''), c['NIMBO'].get('CurrentSW',''))";
    return QString::fromUtf8(runTool("/usr/bin/python3", {"-c", read, Paths::configFile()})).simplified().split(' ');
}

QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray value;
        if (info.isSymLink()) {
            value = "link " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            value = "dir";
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            value = "file " + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex() + " " +
                    QByteArray::number(int(info.permissions()), 16);
        }
        entries.insert(path.mid(dir.size()), value);
    }
    return entries;
}

} // namespace UpdatePackage
