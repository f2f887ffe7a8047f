#include "PrivateProfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include <fcntl.h>
#include <unistd.h>

// The files are read and written by QSettings in its INI format. A read parses the file as it
// stands; a write sets the key on a copy and puts the result in place with QSaveFile.

namespace {

QMutex &profileLock()
{
    static QMutex lock;
    return lock;
}

QString text(const std::string &bytes)
{
    return QString::fromUtf8(bytes.data(), int(bytes.size()));
}

// Makes the rename of a replaced file durable: the file itself was flushed by its writer.
void syncFolder(const QString &file)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::fsync(fd) != 0)
        qWarning() << "Cannot flush folder" << QFileInfo(file).absolutePath();
    ::close(fd);
}

bool writeKey(const std::string &section, const std::string &key, const std::string &value,
              const QString &file)
{
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(text(section));
    settings.setValue(text(key), text(value));
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qWarning() << "Cannot write" << text(section) << text(key) << "to" << file;
        return false;
    }
    return true;
}

bool readAll(const QString &file, QByteArray &bytes)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        qWarning() << "Cannot read" << file << in.errorString();
        return false;
    }
    return true;
}

// Replaces file with bytes atomically (temporary file in the same folder, flushed, renamed).
bool replaceFile(const QString &file, const QByteArray &bytes)
{
    const QFileInfo before(file);
    const QDateTime oldTime = before.exists() ? before.lastModified() : QDateTime();
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        qWarning() << "Cannot write" << file << out.errorString();
        return false;
    }
    // QSettings re-reads a file only when its size or time changed: a rewrite of the same size
    // within the same millisecond must still show as a change.
    const QFileInfo after(file);
    if (oldTime.isValid() && after.size() == before.size() && after.lastModified() == oldTime) {
        QFile touched(file);
        if (!touched.open(QIODevice::ReadWrite)
            || !touched.setFileTime(oldTime.addMSecs(1), QFileDevice::FileModificationTime))
            qWarning() << "Cannot mark" << file << "as changed";
    }
    syncFolder(file);
    return true;
}

// The text of the file with every "%20" turned into a space. The bytes are kept as they are apart
// from that: what QSettings writes is ASCII, and a file edited by hand keeps its own encoding.
QByteArray normalized(QByteArray bytes)
{
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes.replace("%20", " ");
}

bool normalize(const QString &file)
{
    QByteArray bytes;
    if (!readAll(file, bytes))
        return false;
    const QByteArray clean = normalized(bytes);
    if (clean == bytes) {
        syncFolder(file);
        return true;
    }
    return replaceFile(file, clean);
}

// Writes one key (and the clean-up when asked) as one replacement of the file: the key is set on a
// copy beside it, so the file on disk goes straight from its old text to the new one. QSettings
// never writes the file itself, so its cache of the file cannot outlive a change made here.
bool replaceKey(const std::string &section, const std::string &key, const std::string &value,
                const QString &file, bool clean)
{
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath())) {
        qWarning() << "Cannot make folder" << info.absolutePath();
        return false;
    }
    QByteArray bytes;
    if (info.exists() && !readAll(file, bytes))
        return false;
    QTemporaryFile copy(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        qWarning() << "Cannot write" << copy.fileName() << copy.errorString();
        return false;
    }
    copy.close();
    if (!writeKey(section, key, value, copy.fileName()) || !readAll(copy.fileName(), bytes))
        return false;
    return replaceFile(file, clean ? normalized(bytes) : bytes);
}

} // namespace

int ReadPrivateProfileString(std::string section, std::string key, std::string def, std::string &out,
                             std::string file)
{
    QString joined;
    {
        QMutexLocker lock(&profileLock());
        QSettings settings(text(file), QSettings::IniFormat);
        settings.beginGroup(text(section));
        joined = settings.value(text(key)).toStringList().join(", ");
        settings.endGroup();
    }
    if (joined.isEmpty()) {
        out = def;
        return 0;
    }
    out = joined.toStdString();
    return 1;
}

void WriteSetting(std::string section, std::string key, std::string value, std::string file)
{
    QMutexLocker lock(&profileLock());
    replaceKey(section, key, value, text(file), false);
}

void WritePrivateProfileString(std::string section, std::string key, std::string value, std::string file)
{
    QMutexLocker lock(&profileLock());
    replaceKey(section, key, value, text(file), true);
}

bool NormalizePrivateProfile(std::string file)
{
    QMutexLocker lock(&profileLock());
    return normalize(text(file));
}
