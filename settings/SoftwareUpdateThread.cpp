#include "SoftwareUpdateThread.h"

#include "AlphanumLess.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SystemActions.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTarTimeoutMs = 10 * 60 * 1000;
const QStringList kExtractOptions{"--force-local", "--no-same-owner", "--no-same-permissions"};

QString microscopeDir() { return Paths::path("/root/Microscope"); }
QString tempDir() { return Paths::path("/root/Microscope/temp"); }

bool tar(const QStringList &args, QByteArray *output = nullptr)
{
    const ProcessResult result = SystemActions::instance().run("tar", args, kTarTimeoutMs);
    if (output)
        *output = result.output;
    return result.ok();
}

// True when path names anything, a dangling link included.
bool present(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool renameOver(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Removes a folder tree even where an archive left folders without write permission.
void removeTree(const QString &dir)
{
    if (!present(dir))
        return;
    QDirIterator it(dir, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileInfo().isSymLink())
            ::chmod(QFile::encodeName(path).constData(), 0700);
    }
    QDir(dir).removeRecursively();
}

} // namespace

SoftwareUpdateThread::SoftwareUpdateThread(QObject *parent)
    : QThread(parent)
{
}

void SoftwareUpdateThread::setUpdateFileInfo(const QString &path, const QString &version)
{
    m_UpdateFilePath = path;
    m_UpdateVersion = version;
}

bool SoftwareUpdateThread::isPackageName(const QString &fileName)
{
    static const QRegularExpression pattern("^vantors_.*_.*_.*\\.vts$", QRegularExpression::CaseInsensitiveOption);
    return pattern.match(fileName).hasMatch();
}

QString SoftwareUpdateThread::baseName(const QString &packagePath)
{
    QString name = QFileInfo(packagePath).fileName();
    if (name.endsWith(".vts", Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

void SoftwareUpdateThread::run()
{
    const bool installed = install();
    removeTree(tempDir());
    if (installed && m_bSyncWhenDone)
        SystemActions::instance().sync();
    emit completeSoftwareUpdate(installed);
}

bool SoftwareUpdateThread::install()
{
    if (m_UpdateVersion.isEmpty() || !QFileInfo(m_UpdateFilePath).isFile())
        return false;
    // Leftovers of an earlier run are never installed.
    removeTree(tempDir());
    m_Staging = tempDir() + "/package";
    m_Libraries = tempDir() + "/libraries";
    if (!QDir().mkpath(m_Staging) || !QDir().mkpath(m_Libraries))
        return false;

    if (!unpackChecked(m_UpdateFilePath, m_Staging))
        return false;
    const QStringList files = topLevelFiles(m_Staging);
    const QString base = baseName(m_UpdateFilePath);
    if (std::none_of(files.begin(), files.end(),
                     [&](const QString &f) { return f.compare(base, Qt::CaseInsensitive) == 0; }))
        return false;
    int libraries = 0;
    for (const QString &file : files) {
        if (!file.startsWith("ffmpeg_lib"))
            continue;
        const QString dir = m_Libraries + "/" + QString::number(libraries++);
        if (!QDir().mkpath(dir) || !unpackChecked(m_Staging + "/" + file, dir))
            return false;
    }
    if (!checkInstalledPrograms(files) || !backup())
        return false;
    for (const QString &file : files) {
        if (!place(file))
            return false;
    }
    const std::string version = m_UpdateVersion.toStdString();
    const std::string dotted = QString(m_UpdateVersion).replace('_', '.').toStdString();
    return WritePrivateProfileBatch({{"NIMBO", "Version", dotted}, {"NIMBO", "CurrentSW", "vantors_" + version}},
                                    Paths::configFile().toStdString());
}

bool SoftwareUpdateThread::unpackChecked(const QString &archive, const QString &dir)
{
    QByteArray listing;
    // A truncated or damaged archive fails here already; names are listed as stored.
    if (!tar({"--force-local", "--absolute-names", "-tzf", archive}, &listing))
        return false;
    for (const QByteArray &name : listing.split('\n')) {
        if (name.startsWith('/') || name.split('/').contains(QByteArray("..")))
            return false;
    }
    if (!tar(QStringList{"-xzf", archive, "-C", dir} + kExtractOptions))
        return false;
    return entriesInside(dir);
}

bool SoftwareUpdateThread::entriesInside(const QString &dir)
{
    const QString inside = QFileInfo(dir).canonicalFilePath() + "/";
    QHash<quint64, int> hardLinks; // inode -> links seen inside dir
    QHash<quint64, int> linkCounts;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        if (S_ISDIR(st.st_mode))
            continue;
        if (S_ISLNK(st.st_mode)) {
            const QString target = QFileInfo(path).canonicalFilePath();
            if (target.isEmpty() || !(target + "/").startsWith(inside))
                return false;
            continue;
        }
        if (!S_ISREG(st.st_mode))
            return false; // device nodes, pipes, sockets
        if (st.st_nlink > 1) {
            ++hardLinks[st.st_ino];
            linkCounts[st.st_ino] = int(st.st_nlink);
        }
    }
    // A regular file with more names than the folder holds is a hard link to something outside.
    for (auto i = hardLinks.cbegin(); i != hardLinks.cend(); ++i) {
        if (i.value() != linkCounts.value(i.key()))
            return false;
    }
    return true;
}

QStringList SoftwareUpdateThread::topLevelFiles(const QString &dir)
{
    QStringList files;
    for (const QString &name : QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        struct stat st;
        if (::lstat(QFile::encodeName(dir + "/" + name).constData(), &st) == 0 && S_ISREG(st.st_mode))
            files << name;
    }
    std::sort(files.begin(), files.end(), alphanum_less());
    return files;
}

bool SoftwareUpdateThread::checkInstalledPrograms(const QStringList &files) const
{
    const QString base = baseName(m_UpdateFilePath);
    for (const QString &file : files) {
        QString target;
        if (file.startsWith("microscope_"))
            target = microscopeDir() + "/" + file;
        else if (file.compare(base, Qt::CaseInsensitive) == 0)
            target = Paths::configDir() + "/" + file;
        if (target.isEmpty() || !present(target))
            continue;
        // A program already installed under this name must be this very program.
        QFile installed(target), staged(m_Staging + "/" + file);
        if (QFileInfo(target).isSymLink() || !installed.open(QIODevice::ReadOnly) ||
            !staged.open(QIODevice::ReadOnly) || installed.size() != staged.size())
            return false;
        while (!installed.atEnd()) {
            if (installed.read(1 << 20) != staged.read(1 << 20))
                return false;
        }
    }
    return true;
}

bool SoftwareUpdateThread::backup()
{
    std::string current;
    ReadPrivateProfileString("NIMBO", "CurrentSW", "", current, Paths::configFile().toStdString());
    const QString old = QString::fromStdString(current);
    const QString restore = microscopeDir() + "/restore";
    if (!QDir().mkpath(restore))
        return false;
    const QString part = restore + "/." + old + ".vts.part";
    const QString archive = restore + "/" + old + ".vts";
    const QString rootDir = Paths::root().isEmpty() ? QStringLiteral("/") : Paths::root();
    // Member names as on the instrument: root/Microscope/NIMBO/...
    if (!tar({"--force-local", "-czf", part, "-C", rootDir, "root/Microscope/NIMBO"}) ||
        !renameOver(part, archive)) {
        QFile::remove(part);
        return false;
    }
    // Only now that the new backup exists do the older ones go.
    for (const QString &name : QDir(restore).entryList(QDir::Files | QDir::System)) {
        if (isPackageName(name) && restore + "/" + name != archive)
            QFile::remove(restore + "/" + name);
    }
    return true;
}

bool SoftwareUpdateThread::place(const QString &file)
{
    const QString source = m_Staging + "/" + file;
    const QString micro = microscopeDir();
    const QString nimbo = Paths::configDir();
    if (!QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther))
        return false;
    if (file.startsWith("microscope_")) {
        // An installed program of this name was found identical before anything was placed.
        if (!present(micro + "/" + file) && !plainCopy(source, micro + "/" + file))
            return false;
        return makeLink(micro + "/microscope", "./" + file);
    }
    if (file.compare(baseName(m_UpdateFilePath), Qt::CaseInsensitive) == 0) {
        if (!present(nimbo + "/" + file) && !plainCopy(source, nimbo + "/" + file))
            return false;
        return makeLink(nimbo + "/vantors", "./" + file);
    }
    if (file.startsWith("Protocol_")) {
        const QString target = nimbo + "/" + file;
        if (!file.startsWith("Protocol_DEFAULT_NIMBO") && present(target))
            return true; // the user's own protocols stay
        return replacingCopy(source, target);
    }
    if (file == "ffmpeg") {
        const QString dir = micro + "/FFmpeg";
        return QDir().mkpath(dir) && replacingCopy(source, dir + "/" + file);
    }
    if (file.startsWith("ffmpeg_lib"))
        return tar(QStringList{"-xzf", source, "-C", Paths::path("/usr/lib")} + kExtractOptions);
    return replacingCopy(source, micro + "/" + file);
}

bool SoftwareUpdateThread::plainCopy(const QString &source, const QString &target)
{
    return !present(target) && replacingCopy(source, target);
}

bool SoftwareUpdateThread::replacingCopy(const QString &source, const QString &target)
{
    const QFileInfo info(target);
    const QString part = info.absolutePath() + "/." + info.fileName() + ".update-part";
    QFile::remove(part);
    // The copy is complete before it takes the target's name; a link there is replaced, never
    // written through.
    if (!QFile::copy(source, part) || !renameOver(part, target)) {
        QFile::remove(part);
        return false;
    }
    return true;
}

bool SoftwareUpdateThread::makeLink(const QString &link, const QString &target)
{
    const QFileInfo info(link);
    const QString part = info.absolutePath() + "/." + info.fileName() + ".update-part";
    QFile::remove(part);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(part).constData()) != 0 ||
        !renameOver(part, link)) {
        QFile::remove(part);
        return false;
    }
    return true;
}
