// The Cell count page's count: both engines, the result values and texts, the work files, the
// end of a run, Next count and the auto-test, and the counting roads no screen reaches.
#include "CellCountWidget.h"

#include "CellCountDefaults.h"
#include "CellCount_alg.h"
#include "CellCounter.h"
#include "CountThread.h"
#include "CountWorkFiles.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "PageCursor.h"
#include "Paths.h"
#include "ProtocolFile.h"
#include "Utilities.h"
#include "ui_CellCountWidget.h"

#include <QDebug>
#include <QFile>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

using namespace CellCountDefaults;

const QString CellCountWidget::kWriteFailedText =
    QStringLiteral("<p><b>Error!</b><br/><br/>The count images could not be written.</p>");
const QString CellCountWidget::kTooManyObjectsText =
    QStringLiteral("Too many objects in the image.\nDilute the sample and try again.");
const QString CellCountWidget::kCountFailedText = QStringLiteral("The count failed.\nPlease try again.");

QString CellCountWidget::workFilePath(const char *format, int number)
{
    return QString::asprintf(format, CellCount::rawDataPath().toUtf8().constData(), number);
}

void CellCountWidget::startCellCounting()
{
    m_bSaved = false;
    m_bFirstTime = false;
    emit saved(false);
    m_bResultAvailable = false;
    if (m_pCellCounter)
        cellCount_VESK();
    else if (m_pCellCountAlg)
        cellCount_NIMBO();
    else
        abortRun(kCountFailedText);
}

// ---------------------------------------------------------------------------------------------
// The program's own engine

void CellCountWidget::cellCount_NIMBO()
{
    m_bSaved = false;
    m_bFirstTime = false;
    emit saved(false);
    m_bResultAvailable = false;

    m_WorkingProtocol = m_CellCount.protocol();
    std::memset(static_cast<void *>(m_pBlobs.get()), 0, sizeof(_MainDeclusterCountInfo_NimboS) * (CellCount_alg::kLabelLimit + 1));
    std::memset(m_pLabelImage.get(), 0, sizeof(int) * size_t(kPixels));

    const float umPerPixel = m_fCMOSPixelSize / m_fTotalMagnification;
    const int minPixels = sizeToPixels(float(m_WorkingProtocol.nMinCellSize), m_fCellSizeOffset, m_fCMOSPixelSize,
                                       m_fTotalMagnification);
    const int maxPixels = sizeToPixels(float(m_WorkingProtocol.nMaxCellSize), m_fCellSizeOffset, m_fCMOSPixelSize,
                                       m_fTotalMagnification);
    if (isEnableSerialLog()) {
        qDebug() << "min : " << (float(m_WorkingProtocol.nMinCellSize) + m_fCellSizeOffset) / umPerPixel << minPixels;
        qDebug() << "max : " << (float(m_WorkingProtocol.nMaxCellSize) + m_fCellSizeOffset) / umPerPixel << maxPixels;
    }

    nimbo_protocol_t &p = m_WorkingProtocol;
    p.nOutsideThresholdOffset = kOutsideThresholdOffset;
    p.nOutsideMinSize = kOutsideMinSize;
    p.nOutsideMaxSize = kOutsideMaxSize;
    p.nNRKernelSize = kNrKernelSize;
    p.nOutsideKernelSize = kOutsideKernelSize;
    p.dOutsideGain = kOutsideGain;
    p.nInsideThresholdOffset = kInsideThresholdOffset;
    p.nInsideMinSize = kInsideMinSize;
    p.nInsideMaxSize = kInsideMaxSize;
    p.nPostMinIntensity = kPostMinIntensity;
    p.nPostMaxIntensity = kPostMaxIntensity;
    p.dDeclusterTolerance = kDeclusterTolerance;
    p.nClusterDistance = kClusterDistance;
    p.fCenterRange = kCenterRange;
    p.fWholeRange = kWholeRange;
    p.fIntensityRatio = kIntensityRatio;
    p.nLiveMinIntensity = kLiveMinIntensity;

    const int n = m_pCellCountAlg->CellCounting_NimboS(
        m_pImageData8, m_pImageData8Plane.get(), m_pColorImage.get(), m_pLabelImage.get(), kWidth, kHeight,
        m_pBlobs.get(), kOutsideMinSize, kOutsideMaxSize, kOutsideThresholdOffset, kOutsideKernelSize, kOutsideGain,
        kInsideMinSize, kInsideMaxSize, kInsideThresholdOffset, p.nMustDetectIntensity, kNrKernelSize,
        kPostMinIntensity, kPostMaxIntensity, p.fRoundness, minPixels, maxPixels, kDeclusterTolerance,
        kClusterDistance, kIntensityRatio, kCenterRange, kWholeRange, kLiveMinIntensity);
    if (n < 0) {
        // Nothing is shown or written for a frame the engine refused.
        abortRun(n == CellCount_alg::kTooManyBlobs ? kTooManyObjectsText : kCountFailedText);
        return;
    }
    m_nBlobCount = n;
    CellCount_alg::ProcessTag_Filtering_NimboS(m_pColorImage.get(), m_pBlobs.get(), kWidth, kHeight, n,
                                               &m_nTotalCellNum, &m_nLiveCellNum, &m_nDeadCellNum, false);
    m_nDilutionFactor = p.nDilutionFactor;
    const float factor = float(m_nDilutionFactor);
    m_fLiveMantissa = frexp10(CellCount_alg::getConcentration(m_nLiveCellNum, factor, m_fVolume), m_nLiveExponent);
    m_fDeadMantissa = frexp10(CellCount_alg::getConcentration(m_nDeadCellNum, factor, m_fVolume), m_nDeadExponent);
    getTotalConcentration(m_fLiveMantissa, m_nLiveExponent, m_fDeadMantissa, m_nDeadExponent, m_fTotalMantissa,
                          m_nTotalExponent);
    m_fViability = CellCount_alg::getViability(m_nLiveCellNum, m_nDeadCellNum);
    m_fAvgSize = CellCount_alg::getAvgCellSize(n, m_pBlobs.get()) * umPerPixel - m_fCellSizeOffset;
    if (m_fAvgSize <= 0.0f)
        m_fAvgSize = 0.0f;
    m_nGateMin = p.nMinCellSize;
    m_nGateMax = p.nMaxCellSize;
    m_bResultAvailable = true;

    updateResult();
    updateHistogram();
    showResultFrame(true);
    ui->BUTTON_TAG->setCheckable(true);
    ui->BUTTON_TAG->setChecked(true);
    emit showTagImage(true, false);
    m_CellCount.clearThumbnails();
    emit captured(true);
    writeWorkFiles(m_pColorImage.get(), m_pImageData8);
    completedCellCounting();
}

// ---------------------------------------------------------------------------------------------
// The second engine

void CellCountWidget::cellCount_VESK()
{
    protocol_t &levels = m_ProtocolVesk;
    levels.name = m_strProtocolName;
    levels.path = ProtocolFile::secondEnginePathOf(m_strProtocolName);
    ProtocolFile::readSecondEngine(levels.path, levels);
    m_nDilutionFactor = levels.nDilutionFactor;
    m_nNoiseReductionLevel = levels.nNoiseReduction;
    m_nNoiseReductionValue = noiseReductionValue(m_nNoiseReductionLevel);
    m_nLiveCellDetectionLevel = levels.nLiveCellDetection;
    const float *live = liveCellDetection(m_nLiveCellDetectionLevel);
    m_fLiveCellDetection[0] = live[0];
    m_fLiveCellDetection[1] = live[1];
    m_nRoundness = levels.nRoundness;
    m_nMinCellSize = levels.nMinCellSize;
    m_nMaxCellSize = levels.nMaxCellSize;
    m_nDeclusteringLevel = levels.nDeclusteringLevel;
    m_bDeclustering = m_nDeclusteringLevel > 0;
    m_nBrightThreshold = kFinderBrightThreshold;
    m_fConcaveAreaLimit = kFinderConcaveAreaLimit;
    m_fClusterFactor = kFinderClusterFactor;
    m_fReserved = float(kFinderReserved);
    m_fPeakTolerance = float(m_nDeclusteringLevel);

    m_pCellCounter->setImageData(m_pImageData8, 0, false);
    findObjectsWithStoredSettings();
    AfterCounting();
}

void CellCountWidget::findObjectsWithStoredSettings()
{
    // The engine draws its tagged image straight into the array of the next work files, which
    // nothing shows or writes yet, and gets its own image back at once.
    unsigned char *tag = m_pWorkFiles->nextTag(kWidth, kHeight);
    m_pCellCounter->setTagImageTarget(tag);
    const double elapsed = m_pCellCounter->findObjects4(
        m_nMinCellSize, m_nMaxCellSize, m_nRoundness, m_fClusterFactor, m_nNoiseReductionValue, m_nBrightThreshold,
        m_fConcaveAreaLimit, m_fPeakTolerance, int(m_fReserved), m_fLiveCellDetection[0], m_fLiveCellDetection[1],
        m_nLiveCellNum, m_nDeadCellNum, m_fAvgSizeOut, m_fMeanIntensityOut, m_bDeclustering, false, 0);
    m_pCellCounter->setTagImageTarget(nullptr);
    m_pTaggedInPlace = tag;
    if (elapsed < 0.0) {
        bareTagImage(tag); // nothing counted, whatever the finder left in the array
        m_nLiveCellNum = m_nDeadCellNum = 0;
        m_fAvgSizeOut = m_fMeanIntensityOut = 0.0f;
    }
}

void CellCountWidget::bareTagImage(unsigned char *tagRgb) const
{
    cv::Mat rgb(kHeight, kWidth, CV_8UC3, tagRgb);
    cv::cvtColor(cv::Mat(kHeight, kWidth, CV_8UC1, m_pImageData8), rgb, cv::COLOR_GRAY2RGB);
}

void CellCountWidget::secondEngineResults(bool frameFileIsTag)
{
    m_pCellCounter->getConcentration(m_nLiveCellNum, float(m_nDilutionFactor), m_fLiveMantissa, m_nLiveExponent);
    m_pCellCounter->getConcentration(m_nDeadCellNum, float(m_nDilutionFactor), m_fDeadMantissa, m_nDeadExponent);
    getTotalConcentration(m_fLiveMantissa, m_nLiveExponent, m_fDeadMantissa, m_nDeadExponent, m_fTotalMantissa,
                          m_nTotalExponent);
    m_pCellCounter->getViability(m_nLiveCellNum, m_nDeadCellNum, m_fViability);
    m_fAvgSize = m_pCellCounter->getAvgCellSize(m_nMinCellSize, m_nMaxCellSize);
    m_nGateMin = m_nMinCellSize;
    m_nGateMax = m_nMaxCellSize;
    m_nTotalCellNum = m_nLiveCellNum + m_nDeadCellNum;
    m_bResultAvailable = true;

    updateResult();
    updateHistogram();
    showResultFrame(true);
    m_CellCount.clearThumbnails();

    // The engine draws its circles in red-green-blue order over the grey frame (initCellCounter),
    // straight into the work files' next array (findObjectsWithStoredSettings). A road that finds
    // nothing anew takes the last find's image, which the work files hold, or the bare frame.
    flushWorkFiles();
    unsigned char *tagRgb = m_pWorkFiles->nextTag(kWidth, kHeight);
    if (tagRgb != m_pTaggedInPlace) {
        const QImage &last = m_pWorkFiles->tagImage();
        if (last.width() == kWidth && last.height() == kHeight && last.format() == QImage::Format_RGB888)
            cv::Mat(kHeight, kWidth, CV_8UC3, const_cast<uchar *>(last.constBits()))
                .copyTo(cv::Mat(kHeight, kWidth, CV_8UC3, tagRgb));
        else
            bareTagImage(tagRgb);
    }
    m_pTaggedInPlace = nullptr;
    writeWorkFiles(tagRgb, frameFileIsTag ? nullptr : m_pImageData8);
}

void CellCountWidget::AfterCounting()
{
    secondEngineResults(false);
    completedCellCounting();
    emit captured(true);
}

// ---------------------------------------------------------------------------------------------
// Results

float CellCountWidget::frexp10(double value, int &exponent)
{
    if (value == 0.0) {
        exponent = 0;
        return 0.0f;
    }
    exponent = int(std::log10(std::fabs(value)));
    return float(value * std::pow(10.0, -exponent));
}

void CellCountWidget::getTotalConcentration(float m1, int e1, float m2, int e2, float &m, int &e)
{
    if (e1 > e2) {
        e = e1;
        m2 = m2 * float(std::pow(0.1, e1 - e2));
    } else if (e2 > e1) {
        e = e2;
        m1 = m1 * float(std::pow(0.1, e2 - e1));
    } else {
        e = e2;
    }
    m = m1 + m2;
    while (int(m) > 9) {
        m = m * 0.1f;
        ++e;
    }
}

void CellCountWidget::setResultValues(float liveMantissa, int liveExponent, float deadMantissa, int deadExponent)
{
    m_fLiveMantissa = liveMantissa;
    m_nLiveExponent = liveExponent;
    m_fDeadMantissa = deadMantissa;
    m_nDeadExponent = deadExponent;
    getTotalConcentration(liveMantissa, liveExponent, deadMantissa, deadExponent, m_fTotalMantissa, m_nTotalExponent);
    updateResult();
}

void CellCountWidget::updateResult()
{
    const char *concentration = "%.2fx10e%d cells/mL";
    m_strResults[0] = QString::asprintf(concentration, double(m_fTotalMantissa), m_nTotalExponent);
    m_strResults[1] = QString::asprintf(concentration, double(m_fLiveMantissa), m_nLiveExponent);
    m_strResults[2] = QString::asprintf(concentration, double(m_fDeadMantissa), m_nDeadExponent);
    m_strResults[3] = QString::asprintf("%.1f %%", double(m_fViability));
    m_strResults[4] = QString::asprintf("%.1f \xC2\xB5m", double(m_fAvgSize));
    m_strResults[5] = QString::asprintf("%d cells", m_nTotalCellNum);
    m_strResults[6] = QString::asprintf("%d cells", m_nLiveCellNum);
    m_strResults[7] = QString::asprintf("%d cells", m_nDeadCellNum);
    m_strResults[8] = QString::asprintf("%d", m_nDilutionFactor);
    QLabel *const labels[9] = {ui->LABEL_TOTAL,     ui->LABEL_LIVE,     ui->LABEL_DEAD,
                               ui->LABEL_VIABILITY, ui->LABEL_AVG,      ui->LABEL_TOTAL_NUM,
                               ui->LABEL_LIVE_NUM,  ui->LABEL_DEAD_NUM, ui->LABEL_DILUTION};
    for (int i = 0; i < 9; ++i)
        labels[i]->setText(m_strResults[i]);
}

QPixmap CellCountWidget::thumbnailOf(const unsigned char *pixels, int channels, const QVector<QRgb> &colors)
{
    // Every few pixels of the frame picked at twice the thumbnail's size, then averaged 2 x 2:
    // an average over the whole frame cost about a millisecond, as much as the rest of the
    // page's share of a count.
    const cv::Mat frame(kHeight, kWidth, CV_8UC(channels), const_cast<unsigned char *>(pixels));
    cv::Mat picked, small;
    cv::resize(frame, picked, cv::Size(2 * kThumbnailWidth, 2 * kThumbnailHeight), 0, 0, cv::INTER_NEAREST);
    cv::resize(picked, small, cv::Size(kThumbnailWidth, kThumbnailHeight), 0, 0, cv::INTER_AREA);
    QImage image(small.data, small.cols, small.rows, int(small.step),
                 channels == 3 ? QImage::Format_RGB888 : QImage::Format_Indexed8);
    if (channels == 1)
        image.setColorTable(colors);
    return QPixmap::fromImage(image.copy());
}

// The tagged image and the counted frame of this count, held for their work files; counted null
// writes the tagged image as the counted frame too. The viewer shows them from memory: the files
// are written when the page returns to the event loop, after the results are drawn.
void CellCountWidget::writeWorkFiles(const unsigned char *tagRgb, const unsigned char *counted)
{
    flushWorkFiles();
    const int number = int(m_CellCount.thumbnails().size());
    const QString tagPath = workFilePath("%sTemp_%06d_TAG.tif", number);
    m_pWorkFiles->hold(tagRgb, counted, kWidth, kHeight, tagPath, workFilePath("%sTemp_%06d.tif", number));
    ThumbnailInfo thumbnail;
    thumbnail.thumbnail = thumbnailOf(tagRgb, 3);
    thumbnail.kind = 0;
    thumbnail.path = tagPath;
    thumbnail.image = m_pWorkFiles->tagImage();
    thumbnail.frameImage = m_pWorkFiles->frameImage();
    m_CellCount.pushThumbnail(thumbnail);
    QTimer::singleShot(0, this, &CellCountWidget::flushWorkFiles);
}

bool CellCountWidget::workFilesPending() const
{
    return m_pWorkFiles->pending();
}

const unsigned char *CellCountWidget::tagImage() const
{
    return m_pWorkFiles->tagImage().isNull() ? nullptr : m_pWorkFiles->tagImage().constBits();
}

void CellCountWidget::flushWorkFiles()
{
    bool tagWritten = true;
    QString error;
    if (m_pWorkFiles->write(tagWritten, error))
        return;
    qWarning() << "Cell count: work files not written:" << error;
    if (!tagWritten && !m_CellCount.thumbnails().empty()) {
        // An image whose file is missing cannot be saved or shown again: it leaves the list.
        m_CellCount.clearThumbnails();
        emit completed(m_CellCount.thumbnails());
    }
    showText(kWriteFailedText);
}

// ---------------------------------------------------------------------------------------------
// End of a run, Next count and the auto-test

void CellCountWidget::completedCellCounting()
{
    closeCountingBox();
    m_bRunActive = false;
    emit lightOff();
    emit liveMode(false);
    emit completed(m_CellCount.thumbnails());
    m_nCurrentState = CELLCOUNT_RESULT;
    changeState();
    if (ui->BUTTON_MODE1->isChecked())
        ui->BUTTON_COUNT->setEnabled(true);
    PageCursor::normal();
    // Each step of the auto-test starts from the event loop, so repeats never deepen the stack.
    if (ui->CHECK_AUTO_TEST->isChecked())
        QTimer::singleShot(kAutoTestDelayMs, this, [this] {
            if (ui->CHECK_AUTO_TEST->isChecked() && m_nCurrentState == CELLCOUNT_RESULT && !m_bRunActive)
                on_BUTTON_NEXT_COUNT_clicked();
        });
}

void CellCountWidget::on_BUTTON_NEXT_COUNT_clicked()
{
    PageCursor::busy();
    emit signalEnableMainMenu(false);
    setUIControlEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    ui->LABEL_MANUAL_COUNT->clear();
    emit liveMode(true);
    emit lightOn();
    m_nCurrentState = CELLCOUNT_LIVE;
    changeState();
    if (ui->CHECK_AUTO_TEST->isChecked())
        QTimer::singleShot(kAutoTestDelayMs, this, [this] {
            if (ui->CHECK_AUTO_TEST->isChecked() && m_nCurrentState == CELLCOUNT_LIVE && !m_bRunActive)
                on_BUTTON_COUNT_clicked();
        });
}

// ---------------------------------------------------------------------------------------------
// Roads no screen reaches: the recount with the size gate, the transmission check of the second
// engine's image, and the count on a worker thread.

void CellCountWidget::AfterSizeGating()
{
    m_MinusTimer.stop();
    if (!m_pCellCounter)
        return;
    findObjectsWithStoredSettings();
    const int *liveBins = m_pCellCounter->getHistogram(0);
    const int *deadBins = m_pCellCounter->getHistogram(1);
    const int first = std::max(m_nGateMin, 0);
    const int last = std::min(m_nGateMax, Quorvan::CellCounter::SizeClasses - 1);
    m_nLiveCellNum = m_nDeadCellNum = 0;
    for (int i = first; i <= last && liveBins && deadBins; ++i) {
        m_nLiveCellNum += liveBins[i];
        m_nDeadCellNum += deadBins[i];
    }
    secondEngineResults(true);
    completedCellCounting();
    emit captured(true);
}

void CellCountWidget::receiveCountingCompleted()
{
    if (!m_pCellCounter)
        return;
    const unsigned char *image = m_pCellCounter->getImageData(7, false, 2);
    if (image) {
        std::memcpy(m_pColorImage.get(), image, size_t(kPixels) * 3);
        const cv::Scalar means = cv::mean(cv::Mat(kHeight, kWidth, CV_8UC3, m_pColorImage.get()));
        if (means[1] > 100.0 && means[0] == 0.0 && means[2] == 0.0) {
            MessageDlg message;
            message.setMessage("An unexpected image data transmission error has occurred.\nPlease try the count again.");
            message.setButtonVisibility(MSG_BUTTON_OK);
            if (message.exec() == 1)
                m_bResultAvailable = true;
            return;
        }
    }
    AfterCounting();
}

void CellCountWidget::startCountThread()
{
    Counting_Free();
    if (!m_pCellCountAlg && !initCellCounter())
        return;
    m_pCountThread = new CountThread;
    connect(m_pCountThread, &CountThread::NimboS_FinishCount, this, &CellCountWidget::slot_NimboS_CountThread_Finish);
    std::memset(static_cast<void *>(m_pBlobs.get()), 0, sizeof(_MainDeclusterCountInfo_NimboS) * (CellCount_alg::kLabelLimit + 1));
    std::memset(m_pLabelImage.get(), 0, sizeof(int) * size_t(kPixels));
    const nimbo_protocol_t &p = m_CellCount.protocol();
    const int minPixels = sizeToPixels(float(p.nMinCellSize), m_fCellSizeOffset, m_fCMOSPixelSize, m_fTotalMagnification);
    const int maxPixels = sizeToPixels(float(p.nMaxCellSize), m_fCellSizeOffset, m_fCMOSPixelSize, m_fTotalMagnification);
    m_pCountThread->Init_NimboS_Counting(
        m_pImageData8, m_pImageData8Plane.get(), m_pColorImage.get(), m_pLabelImage.get(), kWidth, kHeight,
        m_pBlobs.get(), p.nOutsideMinSize, p.nOutsideMaxSize, p.nOutsideThresholdOffset, p.nOutsideKernelSize,
        p.dOutsideGain, p.nInsideMinSize, p.nInsideMaxSize, p.nInsideThresholdOffset, p.nMustDetectIntensity,
        p.nNRKernelSize, p.nPostMinIntensity, p.nPostMaxIntensity, p.fRoundness, minPixels, maxPixels,
        p.dDeclusterTolerance, p.nClusterDistance, p.fIntensityRatio, p.fCenterRange, p.fWholeRange,
        p.nLiveMinIntensity, false);
    m_pCountThread->start(QThread::InheritPriority);
    m_pCountThread->setPriority(QThread::HighestPriority);
}

void CellCountWidget::slot_NimboS_CountThread_Finish(int, int, int, int)
{
    Counting_Free();
}

// The only place the count thread is deleted: it is asked to end and waited for first.
void CellCountWidget::Counting_Free()
{
    if (!m_pCountThread)
        return;
    m_pCountThread->quit();
    m_pCountThread->wait();
    delete m_pCountThread;
    m_pCountThread = nullptr;
}
