#include "PrivateProfile.h"

#include "KeyRanges.h"
#include "Paths.h"
#include "SystemActions.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include <atomic>
#include <memory>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The files are read and written by QSettings in its INI format, as UTF-8 text (values beyond
// ASCII stand in the file as they are, not as escapes). A read parses the file as it
// stands. A write builds the new text in memory: QSettings sets the key on a scratch copy in a
// RAM folder (never on the disk holding the file), then the text goes to a hidden temporary file
// beside the target, which is flushed once, renamed over the target, and its folder flushed once.
// What QSettings cannot parse (a byte-order mark, a line of garbage, a torn tail of NULs) makes
// it refuse every write; such text is made readable first, and every line left out is logged.

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

// The folder for scratch copies: shared memory when there is some, else the temporary folder.
QString scratchFolder()
{
    static const QString folder = QFileInfo("/dev/shm").isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return folder;
}

// Scratch copies carry the writer's process id, so a sweep can tell a dead writer's from a live one.
const char kScratchPrefix[] = "vantor-profile-";

bool syncFd(int fd)
{
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

std::atomic<long long> g_readFaultAfter{-1}; // tests: reads break off after this many bytes

bool readAll(const QString &file, QByteArray &bytes)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const long long faultAfter = g_readFaultAfter;
    bytes = faultAfter >= 0 ? in.read(faultAfter) : in.readAll();
    if (faultAfter >= 0 || in.error() != QFileDevice::NoError) {
        qWarning() << "Cannot read" << file << in.errorString();
        return false;
    }
    return true;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// Replaces file with bytes: a hidden temporary file beside it (".NAME.XXXXXX"), one fsync of it,
// the rename, one fsync of the folder. A failure leaves the old file as it was.
bool replaceFile(const QString &file, const QByteArray &bytes)
{
    const QFileInfo info(file);
    QByteArray temp = QFile::encodeName(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        qWarning() << "Cannot write beside" << file << std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, bytes);
    // QSettings re-reads a file only when its size or time changed: a rewrite of the same size
    // within the same clock tick must still show as a change.
    struct stat before, after;
    if (ok && ::stat(QFile::encodeName(file).constData(), &before) == 0 && ::fstat(fd, &after) == 0
        && before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec
        && before.st_mtim.tv_nsec / 1000000 == after.st_mtim.tv_nsec / 1000000) {
        struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        times[1].tv_nsec = (times[1].tv_nsec / 1000000 + 1) * 1000000;
        if (times[1].tv_nsec >= 1000000000) {
            times[1].tv_sec += 1;
            times[1].tv_nsec -= 1000000000;
        }
        ok = ::futimens(fd, times) == 0;
    }
    ok = ok && syncFd(fd);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), QFile::encodeName(file).constData()) == 0;
    if (!ok) {
        qWarning() << "Cannot write" << file << std::strerror(errno);
        ::unlink(temp.constData());
        return false;
    }
    const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        if (!syncFd(folder))
            qWarning() << "Cannot flush folder" << info.absolutePath();
        ::close(folder);
    }
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

// A scratch copy of bytes in RAM, closed for QSettings to open; null (and logged) when it cannot
// be written.
std::unique_ptr<QTemporaryFile> scratchCopy(const QByteArray &bytes)
{
    auto scratch = std::make_unique<QTemporaryFile>(scratchFolder() + "/" + kScratchPrefix
                                                    + QString::number(::getpid()) + "-XXXXXX");
    if (!scratch->open() || scratch->write(bytes) != bytes.size() || !scratch->flush()) {
        qWarning() << "Cannot write" << scratch->fileName() << scratch->errorString();
        return nullptr;
    }
    scratch->close();
    return scratch;
}

// Whether QSettings takes line as one line of its own: it parses without a format error and does
// not run on into the next line (an open quote, a trailing backslash). Judged on a scratch file,
// once per start for a line that is taken: it stays in the file and comes back at every write.
// Called under the profile lock.
bool takenByQSettings(const QByteArray &line)
{
    static QSet<QByteArray> taken;
    if (taken.contains(line))
        return true;
    const std::unique_ptr<QTemporaryFile> probe = scratchCopy("[probe]\n" + line + "\n[probe-end]\nend=1\n");
    if (!probe)
        return true; // no scratch space: leave the line to the write, which reports what fails
    QSettings settings(probe->fileName(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    // QSettings parses a group when one of its keys is asked for: allKeys parses them all.
    if (!settings.allKeys().contains(QLatin1String("probe-end/end")) || settings.status() != QSettings::NoError)
        return false;
    if (taken.size() < 256)
        taken.insert(line);
    return true;
}

// A line QSettings reads the plain way: blank, a ";" comment, a group header or a key line, with
// none of the characters that change how it splits the text into lines and keys.
bool plainLine(const QByteArray &line)
{
    const QByteArray body = line.endsWith('\r') ? line.left(line.size() - 1) : line;
    const QByteArray trimmed = body.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';'))
        return !body.contains('\r');
    for (const char c : body) {
        if (c == '"' || c == '\\' || c == ';' || (uchar(c) < 0x20 && c != '\t'))
            return false;
    }
    return trimmed.startsWith('[') ? trimmed.contains(']') : trimmed.contains('=');
}

// The file's text as QSettings reads it without a format error and without one line running into
// the next: no UTF-8 byte-order mark, a group header without its "]" closed, and every line
// QSettings cannot take as a line of its own (or that holds a NUL) left out and logged. Every key
// QSettings reads from the other lines stays.
QByteArray readableText(const QByteArray &bytes, const QString &file)
{
    const QByteArray bom("\xEF\xBB\xBF");
    const QList<QByteArray> lines = (bytes.startsWith(bom) ? bytes.mid(bom.size()) : bytes).split('\n');
    QByteArray text;
    text.reserve(bytes.size());
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[') && !trimmed.contains(']') && plainLine(trimmed + ']'))
            line = trimmed + ']';
        if (line.contains('\0') || (!plainLine(line) && !takenByQSettings(line))) {
            qWarning().noquote() << QStringLiteral("%1: line %2 cannot be read and is left out: %3")
                                        .arg(file)
                                        .arg(i + 1)
                                        .arg(QString::fromUtf8(line.left(60).replace('\0', ' ')));
            continue;
        }
        text += line;
        if (i + 1 < lines.size())
            text += '\n';
    }
    return text;
}

bool normalize(const QString &file)
{
    QByteArray bytes;
    if (!readAll(file, bytes))
        return false;
    const QByteArray clean = normalized(readableText(bytes, file));
    return clean == bytes || replaceFile(file, clean);
}

// The file's text with the keys set in order, made by QSettings on a scratch copy in RAM.
bool editedText(const QByteArray &bytes, const std::vector<PrivateProfileEntry> &entries, QByteArray &edited)
{
    const std::unique_ptr<QTemporaryFile> scratch = scratchCopy(bytes);
    if (!scratch)
        return false;
    {
        QSettings settings(scratch->fileName(), QSettings::IniFormat);
        settings.setIniCodec("UTF-8");
        for (const PrivateProfileEntry &entry : entries)
            settings.setValue(text(entry.section) + "/" + text(entry.key), text(entry.value));
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            qWarning() << "Cannot set" << entries.size() << "keys of" << scratch->fileName();
            return false;
        }
    }
    return readAll(scratch->fileName(), edited);
}

// Writes the keys (and the clean-up when asked) as one replacement of the file, so the file on
// disk goes straight from its old text to the new one.
bool replaceKeys(const std::vector<PrivateProfileEntry> &entries, const QString &file, bool clean)
{
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath())) {
        qWarning() << "Cannot make folder" << info.absolutePath();
        return false;
    }
    QByteArray bytes;
    if (info.exists() && !readAll(file, bytes))
        return false;
    QByteArray edited;
    if (!editedText(readableText(bytes, file), entries, edited))
        return false;
    return replaceFile(file, clean ? normalized(edited) : edited);
}

// What a reader of one key gets from the parsed file: the stored value, or def when it is missing
// or empty; with ranges, held to the key's range, and a key whose default is another key's value
// falls back to that value.
std::string storedValue(const QSettings &settings, const std::string &file, const KeyRanges *ranges,
                        const std::string &section, const std::string &key, const std::string &def, bool &taken)
{
    const QString name = text(section) + '/' + text(key);
    const std::string stored = settings.value(name).toStringList().join(", ").toStdString();
    taken = !stored.empty();
    if (!ranges)
        return taken ? stored : def;
    std::string fallback = def;
    const KeyRanges::Range *range = ranges->find(section, key);
    if (range && range->defKey) {
        bool unused = false;
        fallback = storedValue(settings, file, ranges, section, range->defKey, def, unused);
    }
    return ranges->valueOf(file, section, key, settings.contains(name) ? &stored : nullptr, fallback, taken);
}

bool processAlive(const QString &pid)
{
    bool ok = false;
    const int id = pid.toInt(&ok);
    return ok && id > 0 && (::kill(id, 0) == 0 || errno == EPERM);
}

} // namespace

int ReadPrivateProfileString(std::string section, std::string key, std::string def, std::string &out,
                             std::string file)
{
    std::vector<PrivateProfileEntry> entries{{std::move(section), std::move(key), std::move(def)}};
    const int found = ReadPrivateProfileBatch(entries, file);
    out = std::move(entries.front().value);
    return found;
}

int ReadPrivateProfileBatch(std::vector<PrivateProfileEntry> &entries, std::string file, const KeyRanges *ranges)
{
    if (!ranges && QDir::cleanPath(text(file)) == QDir::cleanPath(Paths::configFile()))
        ranges = &KeyRanges::configuration();
    QMutexLocker lock(&profileLock());
    QSettings settings(text(file), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    int found = 0;
    for (PrivateProfileEntry &entry : entries) {
        bool taken = false;
        entry.value = storedValue(settings, file, ranges, entry.section, entry.key, entry.value, taken);
        found += taken ? 1 : 0;
    }
    return found;
}

void WriteSetting(std::string section, std::string key, std::string value, std::string file)
{
    QMutexLocker lock(&profileLock());
    replaceKeys({{section, key, value}}, text(file), false);
}

void WritePrivateProfileString(std::string section, std::string key, std::string value, std::string file)
{
    QMutexLocker lock(&profileLock());
    replaceKeys({{section, key, value}}, text(file), true);
}

bool WritePrivateProfileBatch(const std::vector<PrivateProfileEntry> &entries, std::string file)
{
    bool ok;
    {
        QMutexLocker lock(&profileLock());
        ok = replaceKeys(entries, text(file), true);
    }
    if (ok)
        SystemActions::instance().sync();
    return ok;
}

void SweepPrivateProfileLeftovers(std::string file)
{
    QMutexLocker lock(&profileLock());
    const QFileInfo info(text(file));
    QDir folder(info.absolutePath());
    const QStringList left =
        folder.entryList({"." + info.fileName() + ".*", info.fileName() + ".lock"}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : left) {
        if (!folder.remove(name))
            qWarning() << "Cannot remove" << folder.filePath(name);
    }
    QDir scratch(scratchFolder());
    for (const QString &name : scratch.entryList({QString(kScratchPrefix) + "*"}, QDir::Files | QDir::Hidden)) {
        if (!processAlive(name.mid(int(sizeof kScratchPrefix) - 1).section('-', 0, 0)))
            scratch.remove(name);
    }
}

void SetPrivateProfileReadFault(long long failAfterBytes)
{
    g_readFaultAfter = failAfterBytes;
}

bool NormalizePrivateProfile(std::string file)
{
    QMutexLocker lock(&profileLock());
    return normalize(text(file));
}
