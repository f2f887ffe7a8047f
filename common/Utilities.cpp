#include "Utilities.h"

#include "MonotonicClock.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "RegularFile.h"
#include "SystemActions.h"
#include "TiffFile.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cmath>
#include <unistd.h>

namespace {

// The sandbox guard of the folder functions: outside the instrument nothing beyond the root
// prefix is ever made or removed.
bool isSafeFolder(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (clean.isEmpty() || clean == "/")
        return false;
    if (Paths::isInstrument())
        return true;
    const QString root = QDir::cleanPath(Paths::root());
    return !root.isEmpty() && clean.startsWith(root + '/');
}

qint64 meminfoKb(const QByteArray &meminfo, const QByteArray &field)
{
    for (const QByteArray &line : meminfo.split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).simplified().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

void createTemporaryPath(QString path)
{
    if (!isSafeFolder(path) || QFileInfo::exists(path))
        return;
    if (path.endsWith('/'))
        path.chop(1);
    const int slash = path.lastIndexOf('/');
    QDir parent(slash > 0 ? path.left(slash) : QStringLiteral("/"));
    if (parent.exists())
        parent.mkdir(path.mid(slash + 1));
}

void deleteTemporaryPath(QString path)
{
    if (!isSafeFolder(path))
        return;
    QDir folder(path);
    if (folder.entryList(QDir::Files).isEmpty())
        return;
    if (folder.removeRecursively())
        createTemporaryPath(path);
}

void delay(int ms)
{
    MonotonicClock::sleepMs(ms);
}

void qProcessEvents(QEventLoop::ProcessEventsFlags flags)
{
    if (flags == QEventLoop::AllEvents)
        QCoreApplication::processEvents();
}

bool isQCTestMode()
{
    return g_ExecMode == EXEC_QC_TEST;
}

bool isEnableSerialLog()
{
    return g_ExecMode == EXEC_SERIAL_LOG || g_ExecMode == EXEC_QC_TEST;
}

int convertPOStoUM(int position)
{
    return QString::number(double(float(position) / g_ConvertToStep), 'f', 0).toInt();
}

int getImageMetaInfo(const std::string &file, QString &text)
{
    text.clear();
    // Only a regular file: a FIFO or a device named .tif would block in open() or read(). A
    // damaged file has no description to trust.
    const QByteArray path = QByteArray::fromStdString(file);
    const int fd = RegularFile::openForReading(path);
    TiffFile tiff;
    QString why;
    if (fd < 0 || !tiff.open(fd, path, why) || !tiff.damage().isEmpty())
        return 0;
    const char *description = nullptr;
    if (TIFFGetField(tiff.tiff(), TIFFTAG_IMAGEDESCRIPTION, &description) != 1 || !description)
        return 0;
    text = QString::fromUtf8(description);
    return 1;
}

bool getMetaInfoValue(const QString &meta, QString key, QString &value)
{
    value.clear();
    key = key.trimmed();
    if (key.isEmpty())
        return false;
    QString pattern = key + ':';
    int at = meta.indexOf(pattern);
    if (at < 0) {
        pattern = key + " =";
        at = meta.indexOf(pattern);
    }
    if (at < 0)
        return false;
    const int start = at + pattern.size();
    const int end = meta.indexOf(';', at);
    value = meta.mid(start, end < 0 ? -1 : end - start).trimmed();
    return !value.isEmpty();
}

int GetNearestColorLabelIndex(const QColor &color, const QVector<QColor> &list)
{
    qreal h, s, v;
    color.getHsvF(&h, &s, &v);
    int best = 0;
    qreal bestDistance = 0;
    for (int i = 0; i < list.size(); ++i) {
        qreal lh, ls, lv;
        list[i].getHsvF(&lh, &ls, &lv);
        const qreal distance = std::sqrt(0.1 * (s - ls) * (s - ls) + 0.8 * (h - lh) * (h - lh)
                                         + 0.1 * (v - lv) * (v - lv));
        if (i == 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

int ReadColorIndexSetting(const std::string &section, const std::string &key, int defaultIndex,
                          const std::string &file)
{
    std::string text;
    ReadPrivateProfileString(section, key, std::to_string(defaultIndex), text, file);
    bool ok = false;
    const int index = QString::fromStdString(text).trimmed().toInt(&ok);
    return clampColorIndex(ok ? index : defaultIndex);
}

bool clearDirtyMemory(int timeoutMs, const std::function<QByteArray()> &meminfo)
{
    const qint64 deadline = MonotonicClock::nowMs() + qMax(0, timeoutMs);
    forever {
        SystemActions::instance().sync();
        const QByteArray text = meminfo ? meminfo() : SystemActions::instance().memoryReport();
        if (text.isEmpty())
            return true; // nothing to look at: the sync is all that can be done
        if (meminfoKb(text, "Dirty:") == 0 && meminfoKb(text, "Writeback:") == 0)
            return true;
        if (MonotonicClock::nowMs() >= deadline) {
            qDebug() << "Page cache still holds unwritten data; going on";
            return false;
        }
        MonotonicClock::sleepMs(20);
    }
}

QString getFFmpegVersion()
{
    const QString program = Paths::path("/root/Microscope/FFmpeg/ffmpeg");
    if (!QFileInfo::exists(program))
        return QString();
    const ProcessResult result = SystemActions::instance().run(program, {"-version"}, 30000);
    if (result.output.isEmpty())
        return QString();
    return QString::fromUtf8(result.output).split('\n').first().trimmed();
}

float firmwareVer(QString version)
{
    if (version.isEmpty())
        return 0.0f;
    const QStringList parts = version.split('.');
    if (parts.size() >= 3)
        version = parts[0] + '.' + parts[1] + parts[2];
    bool ok = false;
    const float value = version.toFloat(&ok);
    return ok ? value : 0.0f;
}

void initializePseudoColorTable()
{
    for (QVector<QRgb> &ramp : g_PseudoColorTable) {
        ramp.clear();
        ramp.reserve(256);
    }
    for (int i = 0; i < 256; ++i) {
        g_PseudoColorTable[0].append(qRgb(i, 0, 0));
        g_PseudoColorTable[1].append(qRgb(0, i, 0));
        g_PseudoColorTable[2].append(qRgb(0, 0, i));
        g_PseudoColorTable[3].append(qRgb(i, i, 0));
        g_PseudoColorTable[4].append(qRgb(0, i, i));
        g_PseudoColorTable[5].append(qRgb(0, 0, 0));
        g_PseudoColorTable[6].append(qRgb(255, 255, 255));
        g_PseudoColorTable[7].append(qRgb(i, i, i));
    }
}

void addColorTableItems(QComboBox *combo)
{
    for (int i = 0; i < kColorTableSize; ++i) {
        QPixmap swatch(40, 40);
        swatch.fill(g_ColorTable[i]);
        combo->addItem(QIcon(swatch), g_ColorNameList.value(i));
    }
}

float objectivePixelSize(const QString &maker, float magnification, float adapterMagnification, float cmosPixelSize)
{
    float m = magnification;
    if (maker == "Olympus")
        m = float(double(m) * (200.0 / 180.0));
    else if (maker == "Zeiss")
        m = float(double(m) * (200.0 / 165.0));
    m = m * adapterMagnification;
    return m > 0 ? cmosPixelSize / m : 0.0f;
}
