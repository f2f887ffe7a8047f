// The Cell count page's run up to the frame that is counted: start checks, engine set-up, the
// LED-power search, autofocus with its offset move, the manual capture and the counting box.
#include "CellCountWidget.h"
#include "CameraTables.h"

#include "CellCountDefaults.h"
#include "CellCount_alg.h"
#include "CellCounter.h"
#include "ConfigSetting.h"
#include "CountWorkFiles.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "PageCursor.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ScaleBar.h"
#include "TCapturedImageMetaData.h"
#include "Utilities.h"
#include "VideoWidget.h"
#include "ui_CellCountWidget.h"

#include <QDebug>
#include <cmath>
#include <cstring>

namespace {

const QString kInitializing = QStringLiteral("<p><b>Initializing ...</b></p>");
const QString kCheckingLight = QStringLiteral("<p><b>Checking the light intensity ...</b></p>");
const QString kCounting = QStringLiteral("<p><b>Cell counting in progress ...</b></p>");

int g_moveTimeoutMs = CellCountWidget::kMoveTimeoutMs;
int g_lightSearchMs = CellCountWidget::kLightSearchMs;
// What a still may take beyond its two exposures: the light command, a late frame, a busy machine.
constexpr int kStillSlackMs = 1000;

// The Trans exposure as the panel last wrote it into the metadata ("Exposure: 10 ms").
int transExposureMs()
{
    return capturedImageMetaData().exposure[0].section(':', -1).remove("ms").trimmed().toInt();
}

// Closes a box the page made and lets it go; from here on the box counts as gone.
void releaseBox(QPointer<MessageDlg> &box)
{
    MessageDlg *dialog = box;
    box = nullptr;
    if (dialog) {
        dialog->close();
        dialog->deleteLater();
    }
}

MessageDlg *newBox(const QString &text)
{
    auto *box = new MessageDlg;
    box->setMessage(text);
    box->setButtonVisibility(MSG_BUTTON_NONE);
    box->setSignalMode(false);
    return box;
}

} // namespace

const QString CellCountWidget::kStartErrorTexts[10] = {
    QString(),
    QStringLiteral("16-bit camera mode is not supported.\nPlease try again."),
    QStringLiteral("<p><b>Objective Not Compatible</b><br/><br/>Select a 4X objective and try again.</p>"),
    QString(), // preset: insufficient disk space
    QString(),
    QString(), // preset: SSD not detected
    QStringLiteral("Incorrect Filter Cube Selected.\nSelect the Trans filter cube and try again."),
    QStringLiteral("Cannot Find Objective Lens.\nPlease try again."),
    QStringLiteral("Image is too bright or too dark.\nCheck the brightness by adjusting settings."),
    QStringLiteral("Cell count operation is stopped."),
};

const QString CellCountWidget::kTurretMovedText = QStringLiteral(
    "<p><b>Warning!</b><br/><br/>The filter cube or the objective moved while the frame was taken.<br/>"
    "The cell count was stopped.</p>");

void CellCountWidget::setMoveTimeoutMs(int ms)
{
    g_moveTimeoutMs = ms > 0 ? ms : kMoveTimeoutMs;
}

void CellCountWidget::setLightSearchMs(int ms)
{
    g_lightSearchMs = ms > 0 ? ms : kLightSearchMs;
}

void CellCountWidget::showText(const QString &text)
{
    MessageDlg message;
    message.setMessage(text);
    message.setButtonVisibility(MSG_BUTTON_OK);
    message.exec();
}

// ---------------------------------------------------------------------------------------------
// Count button and start step

void CellCountWidget::on_BUTTON_COUNT_clicked()
{
    ui->BUTTON_COUNT->setEnabled(false);
    emit signalEnableMainMenu(false);
    emit signalEnableControlWidgetUI(false);

    m_bRunActive = true;
    m_bStillRefused = false;
    m_bTurretMoved = false;
    m_nCountLens = m_nObjectiveLensPosition;
    m_StartStagePosition.reset();
    m_CountClock.start();
    // Whatever closes the box before the start step has run stops the count.
    m_nStartError = CELLCOUNT_ERR_STOPPED;
    QTimer::singleShot(1000, this, &CellCountWidget::slotCalculrateIntensity);
    m_pStartDlg = newBox(kInitializing);
    m_pStartDlg->exec();
    releaseBox(m_pStartDlg);

    const TCellCountErrTable error = m_nStartError;
    if (error == CELLCOUNT_ERR_NONE) {
        m_nCurrentState = CELLCOUNT_COUNTING;
        changeState();
        if (ui->CHKBOX_AF->isChecked()) {
            m_StartStagePosition = askStagePosition();
            m_bAFPending = true;
            emit cellCountAF();
        } else {
            runCounting();
        }
    } else if (error == CELLCOUNT_ERR_DISK_SPACE || error == CELLCOUNT_ERR_RAW_DATA) {
        MessageDlg message;
        message.setMsgType(error == CELLCOUNT_ERR_DISK_SPACE ? MSG_INSUFFICIENT_DISK_SPACE : MSG_SSD_NOT_DETECTED);
        message.exec();
    } else if (error == CELLCOUNT_ERR_STOPPED && m_bStillRefused) {
        showText(kTurretMovedText);
    } else if (error >= 0 && error <= CELLCOUNT_ERR_STOPPED && !kStartErrorTexts[error].isEmpty()) {
        showText(kStartErrorTexts[error]);
    }

    if (m_nStartError != CELLCOUNT_ERR_NONE) {
        PageCursor::normal();
        if (m_nStartError == CELLCOUNT_ERR_STOPPED) {
            // Stopped, or the camera failed: live again, which restarts the video.
            m_nCurrentState = CELLCOUNT_LIVE;
            changeState();
        }
        unlockAfterRefusal();
    }
}

void CellCountWidget::unlockAfterRefusal()
{
    m_bRunActive = false;
    ui->BUTTON_COUNT->setEnabled(ui->BUTTON_MODE1->isChecked());
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void CellCountWidget::slotCalculrateIntensity()
{
    if (!m_pStartDlg)
        return;
    if (m_nFilterPosition != 0) {
        m_nStartError = CELLCOUNT_ERR_FILTER;
    } else {
        flushWorkFiles(); // before the start check may empty the folder
        m_nStartError = m_CellCount.canStart(m_nCameraBits, m_fObjectiveMagnification, m_bFirstTime, COUNT_MODE_AUTO);
        if (m_nStartError == CELLCOUNT_ERR_NONE && !initCellCounter())
            m_nStartError = CELLCOUNT_ERR_NO_OBJECTIVE;
        int power = 0;
        if (m_nStartError == CELLCOUNT_ERR_NONE) {
            const QString light = capturedImageMetaData().light[0];
            const QStringList parts = light.split(':');
            bool ok = false;
            if (parts.size() == 2)
                power = QString(parts[1]).remove('%').trimmed().toInt(&ok, 10);
            if (!ok || power == 0)
                m_nStartError = CELLCOUNT_ERR_BRIGHTNESS;
        }
        if (m_nStartError == CELLCOUNT_ERR_NONE) {
            m_bAbove = m_bBelow = m_bFound = false;
            m_IntensityResults.clear();
            m_nExposureRowTried = -1;
            m_nExposureMsAtStart = transExposureMs();
            m_nCountMode = 0;
            m_nLightPower = power;
            captureFrame(); // the frame goes on in captureCompleted; a missing one stops here
            return;
        }
    }
    releaseBox(m_pStartDlg);
}

// ---------------------------------------------------------------------------------------------
// Calibration

bool CellCountWidget::initCellCounter()
{
    m_fTotalMagnification = m_fObjectiveMagnification * m_fReductionLens;
    // No objective (or a calibration that is not positive) has no field: nothing can be counted.
    if (!(m_fObjectiveMagnification > 0.0f) || !(m_fReductionLens > 0.0f) || !(m_fCMOSPixelSize > 0.0f))
        return false;
    m_fVolume = CellCountDefaults::countedVolumeMl(m_fCMOSPixelSize, m_fTotalMagnification, kWidth, kHeight);
    if (!(m_fVolume > 0.0f) || !std::isfinite(m_fVolume))
        return false;

    delete m_pCellCountAlg;
    m_pCellCountAlg = nullptr;
    delete m_pCellCounter;
    m_pCellCounter = nullptr;
    if (ui->comboBox->currentIndex() == 1) {
        m_pCellCounter = new Quorvan::CellCounter(5, kHeight, kWidth, m_fVolume, m_fTotalMagnification, m_fCMOSPixelSize);
        m_pCellCounter->setSizeCalibration(1.0f, 0.0f);
        m_pCellCounter->setCircleThickness(2);
        // Its circles in red-green-blue order (dead red, live green, merged orange, as its own
        // colours show them): the tagged grey frame is then already the work file's layout.
        m_pCellCounter->setTagColor(1, 255, 0, 0);
        m_pCellCounter->setTagColor(2, 0, 255, 0);
        m_pCellCounter->setTagColor(3, 255, 127, 0);
    } else {
        m_pCellCountAlg = new CellCount_alg;
    }
    return true;
}

float CellCountWidget::convertPixelToSize(float pixels) const
{
    return pixels * (m_fCMOSPixelSize / m_fTotalMagnification);
}

float CellCountWidget::convertSizeToPixel(float size) const
{
    return size <= 0.0f ? 0.0f : size / (m_fCMOSPixelSize / m_fTotalMagnification);
}

// The panel may announce again a turret that stands where it stood (a run's start does): only a
// new position is a move.
void CellCountWidget::setCurrentFilterPosition(int position)
{
    m_bTurretMoved = m_bTurretMoved || (m_bRunActive && position != m_nFilterPosition);
    m_nFilterPosition = position;
}

void CellCountWidget::setCurrentObjectiveLensPosition(int position)
{
    m_bTurretMoved = m_bTurretMoved || (m_bRunActive && position != m_nObjectiveLensPosition);
    m_nObjectiveLensPosition = position;
    m_fObjectiveMagnification = ScaleBar::objectiveMagnification(position);
}

// ---------------------------------------------------------------------------------------------
// Frames

bool CellCountWidget::captureFrame()
{
    const int before = m_nFramesTaken;
    m_bStillRefused = false;
    emit capture();
    if (m_nFramesTaken != before)
        return true;
    // A turret moved while the frame was exposed (the camera is well): the run ends saying so.
    if (m_bStillRefused)
        qWarning() << "Cell count: a turret moved while the frame was taken";
    else
        qWarning() << "Cell count: the camera delivered no usable frame";
    if (m_pStartDlg) {
        m_nStartError = CELLCOUNT_ERR_STOPPED;
        releaseBox(m_pStartDlg);
    } else if (m_bStillRefused && m_nCountMode == 1) {
        abortRun(VideoWidget::kStillRefusedText);
    } else if (m_bStillRefused) {
        abortForTurretMove();
    } else {
        abortRun(kStartErrorTexts[CELLCOUNT_ERR_STOPPED]);
    }
    return false;
}

unsigned char *CellCountWidget::frameTarget8()
{
    m_pImageData8 = m_pWorkFiles->nextFrame(kWidth, kHeight);
    return m_pImageData8;
}

void CellCountWidget::captureCompleted(uchar *frame, int bits)
{
    if (!isCurrentMenu())
        return;
    if (m_bRunActive && m_nCountMode == 0 && m_bTurretMoved) {
        // A frame of another cube, or of one that was turning: refused as one a move overlapped.
        m_bStillRefused = true;
        return;
    }
    m_nCameraBits = bits;
    ui->LABEL_MANUAL_COUNT->clear();
    if (bits == 8) {
        std::memcpy(frameTarget8(), frame, kPixels);
    } else if (bits == 16) {
        std::memcpy(m_pImageData16.get(), frame, size_t(kPixels) * 2);
        unsigned char *target = frameTarget8();
        for (int i = 0; i < kPixels; ++i)
            target[i] = frame[2 * i]; // the high byte of each most-significant-first word
    }
    if (!m_bRunActive)
        return;
    // A count takes 8-bit frames only; a manual capture keeps either depth.
    if (m_nCountMode == 1 ? bits != 8 && bits != 16 : bits != 8)
        return;
    ++m_nFramesTaken;

    if (m_bAFDone) {
        m_bAFDone = false;
        runCounting();
    } else if (m_nCountMode == 1) {
        finishManualCapture();
    } else if (ui->CHKBOX_INTENSITY->isChecked()) {
        intensityStep();
    } else {
        releaseBox(m_pStartDlg);
    }
}

// ---------------------------------------------------------------------------------------------
// LED-power search: one step per frame, one percent at a time, until the mean grey is 150.

void CellCountWidget::intensityStep()
{
    qProcessEvents(); // a press of Stop is handled here
    if (!m_pStartDlg)
        return;
    if (m_IntensityResults.isEmpty()) {
        PageCursor::normal();
        m_pStartDlg->setMessage(kCheckingLight);
        m_pStartDlg->setButtonVisibility(MSG_BUTTON_OK);
        m_pStartDlg->setButtonText("Stop", "Cancel");
        m_pStartDlg->setSignalMode(true);
        m_pStartDlg->repaint();
        connect(m_pStartDlg, &MessageDlg::signalOKClicked, this, &CellCountWidget::slotStopClicked,
                Qt::UniqueConnection);
    }

    const double mean = m_CellCount.getAvgIntensityValue(m_pImageData8, 8, m_nLightPower);
    const bool inWindow = ui->SPINBOX_INTENSITY_MIN->value() < mean && mean < ui->SPINBOX_INTENSITY_MAX->value();
    // The frame at the power the search chose is counted whatever its mean.
    if (inWindow || mean == kTargetMean || m_bFound)
        return endIntensitySearch(CELLCOUNT_ERR_NONE);

    m_IntensityResults.append({mean, m_nLightPower});
    if (mean > kTargetMean) {
        m_bAbove = true;
        if (m_nLightPower <= 1)
            return endIntensitySearch(CELLCOUNT_ERR_BRIGHTNESS);
        --m_nLightPower;
    } else {
        m_bBelow = true;
        if (m_nLightPower > 99)
            return lengthenExposure();
        ++m_nLightPower;
    }

    const int n = m_IntensityResults.size();
    if (n >= 2 && m_bAbove && m_bBelow) {
        const IntensityResult &last = m_IntensityResults[n - 1];
        const IntensityResult &previous = m_IntensityResults[n - 2];
        m_bFound = true;
        m_nLightPower = std::abs(last.mean - kTargetMean) <= std::abs(previous.mean - kTargetMean) ? last.power
                                                                                                     : previous.power;
    } else if (n >= 3 && std::abs(m_IntensityResults[n - 1].mean - m_IntensityResults[n - 2].mean) < 1e-5
               && std::abs(m_IntensityResults[n - 1].mean - m_IntensityResults[n - 3].mean) < 1e-5) {
        // The light does not change the frame.
        return endIntensitySearch(CELLCOUNT_ERR_BRIGHTNESS);
    }
    emit lightPower(m_nLightPower, -1, -1);
    takeSearchFrame(transExposureMs());
}

// The light is at the top of its range and the frame still too dark: the next exposure row, and
// the search starts again from there (means of another exposure do not compare).
void CellCountWidget::lengthenExposure()
{
    const int exposureMs = transExposureMs();
    const int(*table)[3] = exposureTable(8);
    int row = 0;
    while (row < kExposureRows && table[row][0] <= exposureMs)
        ++row;
    if (row >= kExposureRows || table[row][0] > kLongestCountExposureMs) {
        qInfo() << "Cell count: the frame is too dark at the light's top and" << exposureMs << "ms";
        return endIntensitySearch(CELLCOUNT_ERR_BRIGHTNESS);
    }
    // A frame whose exposure did not grow since the last try ends the search: the camera did
    // not take the longer exposure, and trying again would never end.
    if (row <= m_nExposureRowTried)
        return endIntensitySearch(CELLCOUNT_ERR_BRIGHTNESS);
    m_nExposureRowTried = row;
    m_IntensityResults.clear();
    m_bAbove = m_bBelow = false;
    emit lightPower(-1, -1, row);
    takeSearchFrame(table[row][0]);
}

void CellCountWidget::takeSearchFrame(int exposureMs)
{
    delay(200);
    if (m_CountClock.elapsed() + 2 * qMax(exposureMs, 0) + kStillSlackMs > g_lightSearchMs) {
        qInfo() << "Cell count: the light search found no brightness in" << m_CountClock.elapsed() << "ms";
        return endIntensitySearch(CELLCOUNT_ERR_BRIGHTNESS);
    }
    captureFrame();
}

void CellCountWidget::endIntensitySearch(TCellCountErrTable error)
{
    m_nStartError = error;
    // A refused count leaves the exposure as the user had it, not as the search lengthened it.
    if (error != CELLCOUNT_ERR_NONE && transExposureMs() != m_nExposureMsAtStart) {
        const int(*table)[3] = exposureTable(8);
        for (int row = 0; row < kExposureRows; ++row)
            if (table[row][0] == m_nExposureMsAtStart)
                emit lightPower(-1, -1, row);
    }
    releaseBox(m_pStartDlg);
}

void CellCountWidget::slotStopClicked()
{
    if (!m_pStartDlg)
        return;
    disconnect(m_pStartDlg, &MessageDlg::signalOKClicked, this, &CellCountWidget::slotStopClicked);
    endIntensitySearch(CELLCOUNT_ERR_STOPPED);
}

// ---------------------------------------------------------------------------------------------
// Autofocus and the offset move

void CellCountWidget::slotCompleteCellCountAF(bool success, TFineAFErrTable error)
{
    if (!m_bAFPending)
        return;
    m_bAFPending = false;
    if (error != FINEAF_NO_ERROR) {
        MessageDlg message;
        message.setMsgType(fineAFErrorMessage(error));
        message.exec();
        m_bRunActive = false;
        m_nCurrentState = CELLCOUNT_LIVE;
        changeState();
        return;
    }
    // The autofocus starts over by itself when its cube comes back; a search that ended for a
    // move, or that began under another cube than the count's, spoils the count.
    if (m_bTurretMoved && (!success || m_nFilterPosition != 0 || m_nObjectiveLensPosition != m_nCountLens)) {
        abortForTurretMove();
        return;
    }
    m_bTurretMoved = false;
    m_bAFDone = true;
    if (success) {
        const std::string offset = readConfigSetting("Setting_Misc", "AF_Offset", "20").toStdString();
        const float steps = float(std::strtol(offset.c_str(), nullptr, 10)) * g_ConvertToStep;
        if (steps != 0.0f) {
            m_bMovePending = true;
            m_MoveWatch.start(g_moveTimeoutMs);
            emit signalMoveMotorPosition(QString::number(double(steps), 'f', 0).toInt(), true);
            return;
        }
    }
    delay(100);
    captureFrame();
}

void CellCountWidget::slotMotorMoved()
{
    if (!isCurrentMenu() || !m_bMovePending)
        return;
    m_bMovePending = false;
    m_MoveWatch.stop();
    delay(100);
    captureFrame();
}

// The panel could not see the offset move end (a silent board): the frame would be taken at the
// wrong focus, so the run ends as when the move is not answered at all.
void CellCountWidget::slotMotorMoveUnconfirmed()
{
    if (isCurrentMenu())
        slotMoveTimedOut();
}

void CellCountWidget::slotMoveTimedOut()
{
    if (!m_bMovePending)
        return;
    m_bMovePending = false;
    abortRun(kStartErrorTexts[CELLCOUNT_ERR_STOPPED]);
}

std::optional<int> CellCountWidget::askStagePosition()
{
    m_AnsweredStagePosition.reset();
    m_bStagePositionAsked = true;
    emit signalGetCurrentMotorPosition();
    m_bStagePositionAsked = false;
    return m_AnsweredStagePosition;
}

void CellCountWidget::slotSetCurrentMotorPosition(int position)
{
    if (m_bStagePositionAsked)
        m_AnsweredStagePosition = position;
}

void CellCountWidget::abortForTurretMove()
{
    if (m_StartStagePosition) {
        const std::optional<int> now = askStagePosition();
        if (now && *now != *m_StartStagePosition)
            emit signalMoveMotorPosition(*m_StartStagePosition - *now, true); // done while the message shows
        m_StartStagePosition.reset();
    }
    abortRun(kTurretMovedText);
}

void CellCountWidget::abortRun(const QString &message)
{
    releaseBox(m_pStartDlg);
    releaseBox(m_pCountingDlg);
    m_MoveWatch.stop();
    m_bAFDone = m_bAFPending = m_bMovePending = false;
    PageCursor::normal();
    showText(message);
    emit liveMode(true);
    emit lightOn();
    m_nCurrentState = CELLCOUNT_LIVE;
    changeState();
    unlockAfterRefusal();
}

// ---------------------------------------------------------------------------------------------
// Manual capture

void CellCountWidget::on_BUTTON_CAPTURE_clicked()
{
    PageCursor::busy();
    ui->BUTTON_CAPTURE->setEnabled(false);
    emit signalEnableMainMenu(false);
    emit signalEnableControlWidgetUI(false);
    m_nCurrentState = CELLCOUNT_RESULT;
    m_nCountMode = 1;
    showResultFrame(false);
    emit liveMode(false);
    m_bRunActive = true;
    captureFrame();
}

void CellCountWidget::finishManualCapture()
{
    m_bRunActive = false;
    flushWorkFiles(); // before the start check may empty the folder
    m_nStartError = m_CellCount.canStart(m_nCameraBits, m_fObjectiveMagnification, m_bFirstTime, COUNT_MODE_MANUAL);
    if (m_nStartError != CELLCOUNT_ERR_NONE) {
        if (m_nStartError == CELLCOUNT_ERR_DISK_SPACE || m_nStartError == CELLCOUNT_ERR_RAW_DATA) {
            MessageDlg message;
            message.setMsgType(m_nStartError == CELLCOUNT_ERR_DISK_SPACE ? MSG_INSUFFICIENT_DISK_SPACE
                                                                         : MSG_SSD_NOT_DETECTED);
            message.exec();
        }
        // Back to the live view with Capture enabled.
        PageCursor::normal();
        emit liveMode(true);
        m_nCurrentState = CELLCOUNT_LIVE;
        changeState();
        ui->BUTTON_CAPTURE->setEnabled(true);
        unlockAfterRefusal();
        return;
    }
    m_CellCount.clearThumbnails();
    m_bSaved = false;
    m_bFirstTime = false;
    emit saved(false);
    emit captured(true);

    const QString path = workFilePath("%sTemp_%06d.raw", int(m_CellCount.thumbnails().size()));
    ImReaderWriter writer;
    const void *samples = m_nCameraBits == 16 ? static_cast<const void *>(m_pImageData16.get()) : m_pImageData8;
    const bool written = writer.load(samples, kWidth, kHeight, quint16(m_nCameraBits), 1, 1, 1, 1)
                         && writer.write(path.toUtf8(), QByteArray());
    if (written) {
        const QVector<QRgb> &table = g_PseudoColorTable[m_bPseudoColor ? m_nPseudoColorIndex : 7];
        if (!table.isEmpty())
            m_DisplayImage.setColorTable(table);
        ThumbnailInfo thumbnail;
        thumbnail.thumbnail = thumbnailOf(m_pImageData8, 1, m_DisplayImage.colorTable());
        thumbnail.kind = 1;
        thumbnail.path = path;
        m_CellCount.pushThumbnail(thumbnail);
    } else {
        qWarning() << "Cell count: the captured frame was not written:" << writer.errorString();
        showText(kWriteFailedText);
    }
    completedCellCounting();
}

// ---------------------------------------------------------------------------------------------
// Counting box

void CellCountWidget::runCounting()
{
    PageCursor::busy(Qt::WaitCursor);
    QTimer::singleShot(500, this, &CellCountWidget::slotCellCounting);
    m_pCountingDlg = newBox(kCounting);
    m_pCountingDlg->exec();
    releaseBox(m_pCountingDlg);
}

void CellCountWidget::slotCellCounting()
{
    if (m_pCountingDlg)
        startCellCounting();
}

void CellCountWidget::slotOKClicked()
{
    if (!m_pCountingDlg)
        return;
    disconnect(m_pCountingDlg, &MessageDlg::signalOKClicked, this, &CellCountWidget::slotOKClicked);
    completedCellCounting();
}

void CellCountWidget::closeCountingBox()
{
    releaseBox(m_pCountingDlg);
}
