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
#include <cstring>

namespace {
constexpr quint32 kWidth = 1280, kHeight = 1024;
}

const QString MultiColorAutoSave::defaultFolder = "/media/VANTOR SSD/Quicksave/";

MultiColorAutoSave::MultiColorAutoSave(const void *pixels, int bits, bool colour, const QString &folder,
                                       const QString &label, const QString &metaText)
    : m_pWriter(std::make_unique<ImReaderWriter>())
    , m_nBits(bits == 16 ? 16 : 8)
    , m_bColour(colour)
    , m_Folder(folder.endsWith('/') ? folder : folder + '/')
    , m_FileName(QString("%1_%2.tif").arg(QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss"),
                                          SaveNaming::fileNameOf(label)))
    , m_MetaText(metaText)
{
    const quint16 samples = colour ? 3 : 1;
    // The snapshot goes straight into the writer's array: one pass, taken now, that also turns
    // camera words into the plain intensities the file holds, so the write sends the array as it is.
    void *array = m_pWriter->reserve(kWidth, kHeight, quint16(m_nBits), samples, 1, colour ? 2 : 1, 1);
    const quint64 count = quint64(kWidth) * kHeight * samples;
    if (!array || !pixels) {
        m_pWriter.reset();
    } else if (m_nBits == 16) {
        ImReaderWriter::toPlainIntensities(static_cast<const quint16 *>(pixels), static_cast<quint16 *>(array), count);
        m_pWriter->cameraLayout = false;
    } else {
        std::memcpy(array, pixels, size_t(count));
    }
}

MultiColorAutoSave::~MultiColorAutoSave() = default;
MultiColorAutoSave::MultiColorAutoSave(MultiColorAutoSave &&) noexcept = default;

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
    if (!m_pWriter)
        return outcome;
    const QString path = SaveNaming::freeFilePath(QDir(folder).filePath(m_FileName));
    if (!m_pWriter->write(path.toUtf8(), m_MetaText.toUtf8())) {
        qWarning().noquote() << "auto-save:" << m_pWriter->errorString();
        return outcome;
    }
    outcome.written = true;
    outcome.fileName = QFileInfo(path).fileName();
    return outcome;
}
