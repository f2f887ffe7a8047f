#include "HotPixelCalibration.h"

#include "CameraAccess.h"
#include "CameraTables.h"
#include "CaptureThread.h"
#include "DialogRunner.h"
#include "HotPixelCorrectionDialog.h"
#include "MessageDlg.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"
#include "VideoWidget.h"

#include <QApplication>
#include <QDebug>
#include <QTimer>

namespace {
constexpr int kRepaintDelayMs = 100;
constexpr int kPollMs = 10;

const char *const kTransText = "<p><b>Error!</b><br/><br/>Hot pixel correction cannot be done with the Trans filter "
                               "cube.<br/>Select a fluorescence filter cube and try again.</p>";
const char *const kOutOfPositionText = "<p><b>Error!</b><br/><br/>Check that the filter cube is in position.</p>";
const char *const kEightBitText = "<p><b>Error!</b><br/><br/>Make sure the camera is in 8 bit mode.</p>";
const char *const kCompleteText = "<p><b>Hot Pixel Correction Complete.</b></p>";
const char *const kCompleteCountText = "<p><b>Hot Pixel Correction Complete.</b><br/><br/>Hot pixel number : %1</p>";
const char *const kFailedText = "<p><b>Hot Pixel Correction Failed.</b><br/><br/>The camera delivered no dark frame."
                                "<br/>The previous hot pixel list is kept.</p>";

int darkFrameExposureRow()
{
    std::string value;
    ReadPrivateProfileString("Camera", "HotPixelEx", "31", value, Paths::configFile().toStdString());
    bool ok = false;
    const int row = QString::fromStdString(value).trimmed().toInt(&ok);
    return ok && row >= 0 && row < kExposureRows ? row : HotPixelCalibration::kDefaultExposureRow;
}
} // namespace

HotPixelCalibration::HotPixelCalibration(VideoWidget *video, PanelQuery panel, QWidget *dialogParent, QObject *parent)
    : QObject(parent)
    , m_video(video)
    , m_panel(std::move(panel))
    , m_dialogParent(dialogParent)
{
}

HotPixelCalibration::~HotPixelCalibration()
{
    delete m_dialog.data();
}

void HotPixelCalibration::slotShowHotPixelCorrectionDlg()
{
    auto *dialog = new HotPixelCorrectionDialog(m_dialogParent);
    m_dialog = dialog;
    connect(dialog, &HotPixelCorrectionDialog::signalDoHotPixelCorrection, this,
            &HotPixelCalibration::slotDoHotPixelCorrection);
    connect(this, &HotPixelCalibration::signalDoneHotPixelCorrection, dialog,
            &HotPixelCorrectionDialog::slotDoneHotPixelCorrection);
    DialogRunner::exec(dialog);
    dialog->deleteLater();
    emit completedHotPixelCorrection();
}

void HotPixelCalibration::slotDoHotPixelCorrection()
{
    // Later, so that the dialog shows its started state first.
    QTimer::singleShot(kRepaintDelayMs, this, &HotPixelCalibration::slotHotPixelCorrection);
}

void HotPixelCalibration::showMessage(const QString &message)
{
    MessageDlg box(nullptr);
    box.setMessage(message);
    box.setButtonVisibility(MSG_BUTTON_OK);
    box.exec();
}

void HotPixelCalibration::refuse(const QString &message)
{
    showMessage(message);
    if (m_dialog)
        m_dialog->reject(); // deleted by slotShowHotPixelCorrectionDlg once its run has returned
}

void HotPixelCalibration::slotHotPixelCorrection()
{
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const PanelState panel = m_panel ? m_panel() : PanelState{};
    if (panel.filterPosition < 1 || panel.filterPosition > 3) {
        refuse(QString::fromLatin1(panel.filterPosition == 0 ? kTransText : kOutOfPositionText));
        QApplication::restoreOverrideCursor();
        return;
    }
    if (panel.cameraMode != 8) {
        refuse(QString::fromLatin1(kEightBitText));
        QApplication::restoreOverrideCursor();
        return;
    }

    const bool wasRunning = m_video->isRunning();
    const bool wasHidden = m_video->isHidden();
    if (!wasRunning) {
        m_video->start();
        if (wasHidden)
            m_video->show();
        delay(kRepaintDelayMs);
        if (m_dialog) {
            m_dialog->raise();
            m_dialog->activateWindow();
        }
        delay(kRepaintDelayMs);
    }

    const bool built = buildHotPixelMap(clampGainRow(panel.gainRow), clampExposureRow(panel.exposureRow));

    QApplication::restoreOverrideCursor();
    emit signalDoneHotPixelCorrection();
    if (!built)
        showMessage(QString::fromLatin1(kFailedText));
    else if (isEnableSerialLog())
        showMessage(QString::fromLatin1(kCompleteCountText).arg(m_video->hotPixelCorrector().count()));
    else
        showMessage(QString::fromLatin1(kCompleteText));
    delay(kRepaintDelayMs);

    if (!wasRunning && m_video->isRunning())
        m_video->stop();
    if (wasHidden)
        m_video->hide();
}

bool HotPixelCalibration::buildHotPixelMap(int gainRow, int exposureRow)
{
    m_video->stop();

    // Dark frame: the calibration exposure at 18 dB analog gain (registers 30 and 31 unchanged).
    const int *dark = ExposureLUT8[darkFrameExposureRow()];
    writeCameraRegister(kRegisterAnalogGain, GainLUT[kDarkFrameGainRow][1]);
    applyExposure(dark[0], dark[1], dark[2]);
    delay(2 * dark[0]);

    const bool taken = takeDarkFrame();
    if (taken) {
        cv::Mat frame = g_mat8.clone();
        m_video->findAndSaveHotPixelMap(frame);
    } else {
        qWarning() << "Hot pixels: no dark frame came; the previous list is kept";
    }

    const int *gain = GainLUT[clampGainRow(gainRow)];
    m_video->setCurrentGain(gain[1], gain[2]);
    const int *exposure = ExposureLUT8[clampExposureRow(exposureRow)];
    applyExposure(exposure[0], exposure[1], exposure[2]);
    m_video->start();
    return taken;
}

bool HotPixelCalibration::takeDarkFrame()
{
    if (g_no_camera)
        return false; // the capture thread would only make up frames
    // The capture thread alone: no display thread takes the frames after the still.
    CaptureThread capture;
    if (!capture.start())
        return false;
    delay(kRepaintDelayMs);
    request_still();
    // The capture thread gives up after the exposure plus a second without a valid frame; the
    // wait is bounded here as well, by the longest a still takes at the dark exposure.
    bool released = true;
    if (!g_out_of_grabbing_time)
        released = MonotonicClock::waitFor([] { return g_captured.load(); }, stillWaitLimitMs(), kPollMs);
    capture.stop();
    g_is_running = false;
    return released && !g_out_of_grabbing_time && g_captured;
}
