#include "MultiColorAutoSave.h"

#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "SaveNaming.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace {
constexpr quint32 kWidth = 1280, kHeight = 1024;
}

const QString MultiColorAutoSave::defaultFolder = "/media/VANTOR SSD/Quicksave/";

MultiColorAutoSave::MultiColorAutoSave(std::shared_ptr<const uchar> pixels, int bits, bool colour,
                                       const QString &folder, const QString &label, const QString &metaText)
    : m_Pixels(std::move(pixels))
    , m_nBits(bits == 16 ? 16 : 8)
    , m_bColour(colour)
    , m_Folder(folder.endsWith('/') ? folder : folder + '/')
    , m_FileName(QString("%1_%2.tif").arg(QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss"),
                                          SaveNaming::fileNameOf(label)))
    , m_MetaText(metaText)
{
}

quint64 MultiColorAutoSave::requiredMegabytes(int bits, bool colour)
{
    const double bytes = double(kWidth) * kHeight * (colour ? 3 : 1) * (bits == 16 ? 2 : 1);
    return quint64(std::ceil(bytes * 1.25 / 1e6));
}

MultiColorAutoSave::Outcome MultiColorAutoSave::run()
{
    Outcome outcome;
    if (!QFileInfo(Paths::path(m_Folder)).isDir()) {
        // Back to the default folder, made inside the SSD only (never on a missing mount).
        m_Folder = defaultFolder;
        if (QFileInfo(Paths::ssd()).isDir())
            QDir(Paths::ssd()).mkdir("Quicksave");
        outcome.folderChanged = true;
    }
    outcome.folder = m_Folder;
    const QString folder = Paths::path(m_Folder);
    if (MediaMonitor::freeDiskSpace(folder) < requiredMegabytes(m_nBits, m_bColour)) {
        outcome.noSpace = true;
        return outcome;
    }
    if (!m_Pixels)
        return outcome;
    const QString path = SaveNaming::freeFilePath(QDir(folder).filePath(m_FileName));
    // The file is written straight from the shared frame: no copy of it is made.
    ImReaderWriter writer;
    if (!writer.writeTiff(path.toUtf8(), m_MetaText.toUtf8(), m_Pixels.get(), kWidth, kHeight, quint16(m_nBits),
                          m_bColour ? 3 : 1)) {
        qWarning().noquote() << "auto-save:" << writer.errorString();
        return outcome;
    }
    outcome.written = true;
    outcome.fileName = QFileInfo(path).fileName();
    return outcome;
}
