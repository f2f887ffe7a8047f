// The Cell count page's saving: a count as its frame, its tagged image and the RESULTS table; a
// manually captured frame with its pseudo-colour copy and the image with the user's count marks.
#include "CellCountWidget.h"

#include "CSVReaderWriter.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "SaveImageComposer.h"
#include "SaveOptionsDlg.h"
#include "ui_CellCountWidget.h"

#include <QFileInfo>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The frame file of a count's tagged image: only the "_TAG" before ".tif" goes.
QString withoutTag(const QString &path)
{
    static const QString tagged = QStringLiteral("_TAG.tif");
    return path.endsWith(tagged) ? path.left(path.size() - tagged.size()) + ".tif" : path;
}

// A read frame of the camera's size with samples samples per pixel, else false. 16-bit samples
// come back in the camera layout, which the save dialog's writer expects.
bool readFrame(const QString &path, int samples, ImReaderWriter &image, Bytes &copy)
{
    if (!image.read(path.toUtf8()) || image.width != quint32(CellCountWidget::kWidth)
        || image.height != quint32(CellCountWidget::kHeight) || image.samplesPerPixel != samples)
        return false;
    const int bits = image.bitsPerSample;
    const size_t bytes = size_t(SaveImageComposer::frameBytes(bits, samples == 3));
    copy.resize(bytes);
    std::memcpy(copy.data(), image.data(bits), bytes);
    if (bits == 16 && QFileInfo(path).suffix() != "raw")
        SaveImageComposer::toCameraLayout(reinterpret_cast<quint16 *>(copy.data()), int(bytes / 2));
    return true;
}

QByteArray row(const QString &caption, const QString &value)
{
    return CSVReaderWriter::field(caption) + ',' + CSVReaderWriter::field(value);
}

} // namespace

void CellCountWidget::on_BUTTON_SAVE_BEFORE_clicked()
{
    m_bSaved = false;
    slotSave(true);
}

void CellCountWidget::on_BUTTON_SAVE_AFTER_clicked()
{
    slotSave(false);
}

void CellCountWidget::markSaved()
{
    m_bSaved = true;
    m_bFirstTime = false;
    emit saved(true);
    ui->BUTTON_SAVE_AFTER->show();
    ui->BUTTON_SAVE_BEFORE->hide();
}

void CellCountWidget::fillResultTable(CSVReaderWriter &csv) const
{
    csv.setHeader("RESULTS");
    QLabel *const captions[9] = {ui->LABEL_RESULT_TOTAL,     ui->LABEL_RESULT_LIVE,     ui->LABEL_RESULT_DEAD,
                                 ui->LABEL_RESULT_VIABILITY, ui->LABEL_RESULT_AVG,      ui->LABEL_RESULT_TOTAL_NUM,
                                 ui->LABEL_RESULT_LIVE_NUM,  ui->LABEL_RESULT_DEAD_NUM, ui->LABEL_RESULT_DILUTION};
    QLabel *const values[9] = {ui->LABEL_TOTAL,     ui->LABEL_LIVE,     ui->LABEL_DEAD,
                               ui->LABEL_VIABILITY, ui->LABEL_AVG,      ui->LABEL_TOTAL_NUM,
                               ui->LABEL_LIVE_NUM,  ui->LABEL_DEAD_NUM, ui->LABEL_DILUTION};
    for (int i = 0; i < 9; ++i)
        csv.fillCSVData(row(captions[i]->text(), i == 4 ? QString::asprintf("%.1f um", double(m_fAvgSize))
                                                        : values[i]->text()));
    csv.fillCSVData(" ");

    // The settings the count used, of the engine that counted.
    const nimbo_protocol_t &p = m_WorkingProtocol;
    const QString name = m_bSecondEngineCounted ? m_ProtocolVesk.name : p.name;
    const int dilution = m_bSecondEngineCounted ? m_nDilutionFactor : p.nDilutionFactor;
    const QString sensitivity = m_bSecondEngineCounted ? QString::number(m_nLiveCellDetectionLevel)
                                                       : CellCount::convertLiveCellSensitivity(p.nMustDetectIntensity);
    const double roundness = m_bSecondEngineCounted ? double(m_nRoundness) : double(p.fRoundness);
    const int minSize = m_bSecondEngineCounted ? m_nMinCellSize : p.nMinCellSize;
    const int maxSize = m_bSecondEngineCounted ? m_nMaxCellSize : p.nMaxCellSize;
    csv.fillCSVData(row("Protocol Name", name));
    csv.fillCSVData(row("Dilution Factor", QString::number(dilution)));
    csv.fillCSVData(row("Live Cell Sensitivity", sensitivity));
    csv.fillCSVData(row("Roundness", QString("%1 %").arg(roundness, 0, 'f', 0)));
    csv.fillCSVData(row("Min. Cell Size", QString("%1 um").arg(minSize)));
    csv.fillCSVData(row("Max. Cell Size", QString("%1 um").arg(maxSize)));
    csv.fillCSVData(" ");
    csv.fillCSVData("Cell Size(um),Live,Dead");

    bool firstPositive = true;
    for (int i = 1; i < m_LiveBins.size(); ++i) {
        float size = float(i) * m_fBinSize;
        if (m_fCellSizeOffset != 0.0f) {
            size -= m_fCellSizeOffset;
            if (size <= 0.0f)
                continue;
        }
        if (int(size) > maxSize)
            break;
        if (m_fCellSizeOffset != 0.0f && firstPositive) {
            firstPositive = false;
            csv.fillCSVData("0,0,0");
            continue;
        }
        csv.fillCSVData(QString("%1,%2,%3").arg(size, 0, 'f', 2).arg(m_LiveBins[i]).arg(m_DeadBins.value(i)).toUtf8());
    }
}

void CellCountWidget::slotSave(bool before)
{
    flushWorkFiles(); // the count's files are read below
    const std::vector<ThumbnailInfo> &thumbnails = m_CellCount.thumbnails();
    if (m_nCurrentThumbnailIndex < 0 || size_t(m_nCurrentThumbnailIndex) >= thumbnails.size()) {
        MessageDlg message;
        message.setMessage("[ERROR] Select Image.");
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
        return;
    }
    const ThumbnailInfo current = thumbnails[size_t(m_nCurrentThumbnailIndex)];
    if (current.kind == 1) {
        emit getCurrentImageData(); // answered by slotGenerateImageData
        return;
    }

    CSVReaderWriter csv;
    fillResultTable(csv);
    SaveOptionsDlg dialog(nullptr, false);
    dialog.setCurrentSaveOption(SAVE_OPTION_CELLCOUNT, false, SUB_OPTION_CELLCOUNT_RESULT);
    dialog.setCSVReaderWriter(csv);
    dialog.setFilterColorIndex(7);
    dialog.generateCapturedImageMetaData();

    // The copies live until the dialog has closed. Files of another size are left out.
    int bits = 0;
    Bytes frame, overlay;
    ImReaderWriter frameFile, overlayFile;
    if (readFrame(withoutTag(current.path), 1, frameFile, frame)) {
        bits = frameFile.bitsPerSample;
        if (bits == 16)
            dialog.setImageData16(0, frame.data());
        else
            dialog.setImageData8(0, frame.data());
    }
    if (readFrame(current.path, 3, overlayFile, overlay)) {
        const bool sixteen = overlayFile.bitsPerSample == 16;
        dialog.setOverlayImageData24(sixteen ? nullptr : overlay.data());
        dialog.setOverlayImageData48(sixteen ? overlay.data() : nullptr);
        if (bits == 0)
            bits = overlayFile.bitsPerSample;
    }
    dialog.setImageBits(bits == 0 ? 8 : bits);
    dialog.setAnnotationImageData(nullptr);

    if (dialog.exec() == 1 && before)
        markSaved();
}

void CellCountWidget::slotGenerateImageData(QImage image)
{
    flushWorkFiles();
    const std::vector<ThumbnailInfo> &thumbnails = m_CellCount.thumbnails();
    if (image.isNull() || m_nCurrentThumbnailIndex < 0 || size_t(m_nCurrentThumbnailIndex) >= thumbnails.size())
        return;
    const QString path = withoutTag(thumbnails[size_t(m_nCurrentThumbnailIndex)].path);

    SaveOptionsDlg dialog(nullptr, false);
    dialog.setCurrentSaveOption(SAVE_OPTION_CELLCOUNT, m_bPseudoColor, SUB_OPTION_CELLCOUNT_RENDERED);
    dialog.setFilterColorIndex(m_nPseudoColorIndex);
    dialog.generateCapturedImageMetaData();

    Bytes frame, colour, marked;
    ImReaderWriter file;
    if (!readFrame(path, 1, file, frame))
        return;
    const int bits = file.bitsPerSample;
    colour.resize(size_t(SaveImageComposer::frameBytes(bits, true)));
    makePseudoColorImage(bits, frame.data(), int(colour.size()), colour.data());
    if (bits == 16) {
        dialog.setImageData16(0, frame.data());
        dialog.setImageData48(0, colour.data());
    } else {
        dialog.setImageData8(0, frame.data());
        dialog.setImageData24(0, colour.data());
    }
    dialog.setImageBits(bits);
    // The marked image only as the rendered camera frame.
    if (image.width() == kWidth && image.height() == kHeight && image.format() == QImage::Format_RGB888) {
        marked.resize(size_t(kPixels) * 3);
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(marked.data() + size_t(y) * kWidth * 3, image.constScanLine(y), size_t(kWidth) * 3);
        dialog.setAnnotationImageData(marked.data());
    } else {
        dialog.setAnnotationImageData(nullptr);
    }

    const bool first = !m_bSaved;
    if (dialog.exec() == 1 && first)
        markSaved();
}

bool CellCountWidget::makePseudoColorImage(int bits, const void *grey, int byteCount, unsigned char *out) const
{
    if (byteCount != SaveImageComposer::frameBytes(bits, true))
        return false;
    SaveImageComposer composer;
    // Trans is grey; black, white and gray have no channel layout and are grey too.
    composer.pseudoColorIndex = m_nFilterPosition == 0 || m_nPseudoColorIndex < 0 || m_nPseudoColorIndex > 4
                                    ? 7
                                    : m_nPseudoColorIndex;
    composer.makePseudoColorImage(grey, byteCount, out);
    return true;
}
