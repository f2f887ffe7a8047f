#include "VideoWidget.h"

#include "CameraAccess.h"
#include "CaptureThread.h"
#include "DisplayThread.h"
#include "FrameRecorder.h"
#include "InputFence.h"
#include "MessageDlg.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ScopedBusyCursor.h"
#include "Utilities.h"

#include <QDebug>

namespace {
constexpr const char *kInstrumentWindowPos = "10,70";
constexpr int kPollMs = 10;
constexpr int kJudgeIntervalMs = 50;

std::string configFile()
{
    return Paths::configFile().toStdString();
}

int readInt(const std::string &section, const std::string &key, const std::string &def, bool *present)
{
    std::string value;
    *present = ReadPrivateProfileString(section, key, def, value, configFile()) != 0;
    bool ok = false;
    const int number = QString::fromStdString(value).trimmed().toInt(&ok);
    return ok ? number : QString::fromStdString(def).toInt();
}
}

const QString VideoWidget::kStillRefusedText = QStringLiteral(
    "<p><b>Warning!</b><br/><br/>The image was not kept: the filter cube or the objective moved while it "
    "was taken, or the controller did not confirm where they stand.<br/>Capture again once the turrets stand "
    "still.</p>");

VideoWidget::VideoWidget(QWidget *parent)
    : QWidget(parent)
    , m_recorder(std::make_unique<FrameRecorder>())
{
    InputFence::install(); // the controls that the still and its outcome bring never take a tap made before
    qputenv("SDL_VIDEO_WINDOW_POS", kInstrumentWindowPos);
    initializeSDLPseudoColorTable();
    g_is_running = false;

    m_pMessageDlg = new MessageDlg(nullptr);
    m_pMessageDlg->enableZOrderTimer(false);
    m_pMessageDlg->setMsgType(MSG_CAMERA_SYNC_DISRUPTED);

    m_judgeTimer.setInterval(kJudgeIntervalMs);
    connect(&m_judgeTimer, &QTimer::timeout, this, [this] { m_recorder->judge(); });

    m_displayThread = std::make_unique<DisplayThread>(m_recorder.get(), [this] {
        QMetaObject::invokeMethod(this, "slotVideoModeError", Qt::QueuedConnection);
    });
    m_captureThread = std::make_unique<CaptureThread>([this] {
        QMetaObject::invokeMethod(this, "slotCameraStalled", Qt::QueuedConnection);
    });

    if (camera_init() != 0) {
        g_no_camera = true;
        qWarning() << "Camera: not found or not claimable";
        if (!isQCTestMode())
            showCameraError(m_pMessageDlg);
    } else {
        g_no_camera = false;
    }
}

VideoWidget::~VideoWidget()
{
    releaseCamera();
    delete m_pMessageDlg;
}

void VideoWidget::releaseCamera()
{
    stopThreads();
    m_recorder->stop();
    m_recorder->judge(true);
    capture_stop();
}

void VideoWidget::readSetting()
{
    m_nPrevCameraMode = g_camera_mode;
    m_bHotPixelEnabledSaved = g_hotpixel_enabled;

    bool present = false;
    const int mode = readInt("Camera", "Mode", "8", &present);
    if (mode != sanitizedCameraMode(mode))
        qWarning() << "Camera: mode" << mode << "in the configuration is not 8 or 16; using 8";
    m_nCameraMode = sanitizedCameraMode(mode);
    g_camera_mode = m_nCameraMode;

    m_bSaturatedPixel = readCameraFlag("SaturatedPixel") > 0;
    g_set_saturated_pixel = m_bSaturatedPixel;
    if (!m_bSaturatedPixel)
        g_set_color = true;
    g_hotpixel_enabled = readCameraFlag("HotPixelEnable") > 0;

    if (m_bPseudoColor) {
        int index = 7;
        if (m_nFilterPosition >= 1 && m_nFilterPosition <= 3) {
            static const char *const keys[] = {"3", "2", "1"};
            static const int defaults[] = {2, 0, 1};
            index = ReadColorIndexSetting("FilterColor", keys[m_nFilterPosition - 1],
                                          defaults[m_nFilterPosition - 1], configFile());
        }
        g_pseudo_color_index = index;
        g_set_color = true;
    }

    if (m_nPrevCameraMode < 0) {
        applyCameraMode();
        writeCameraRegister(kRegisterGainControl, 17);
        emit signalCameraModeChanged(g_camera_mode);
    } else if (m_nPrevCameraMode != g_camera_mode) {
        if (g_is_running) {
            stop();
            changeCameraMode(true);
            start();
        } else {
            m_bCameraModeChanged = true;
            changeCameraMode(false);
        }
    }
    if (g_hotpixel_enabled)
        loadHotPixelMap();
}

int VideoWidget::readCameraFlag(const char *key)
{
    bool present = false;
    const int value = readInt("Camera", key, "0", &present);
    if (!present)
        WritePrivateProfileString("Camera", key, "0", configFile());
    return present ? value : 0;
}

void VideoWidget::changeCameraMode(bool emitSignal)
{
    applyCameraMode();
    if (emitSignal)
        emit signalCameraModeChanged(g_camera_mode);
}

void VideoWidget::placeVideoWindow()
{
    // On the instrument the widget stands at (10, 70) of the full-screen main window; elsewhere
    // the SDL window is laid over wherever the widget is shown.
    if (Paths::isInstrument() || !isVisible())
        return;
    const QPoint at = mapToGlobal(QPoint(0, 0));
    qputenv("SDL_VIDEO_WINDOW_POS", QByteArray::number(at.x()) + "," + QByteArray::number(at.y()));
}

void VideoWidget::start()
{
    stopThreads(); // threads that ended on their own (a stalled camera) are joined first
    g_is_running = false;
    g_out_of_grabbing_time = false;
    placeVideoWindow();

    g_set_color = true;
    m_displayThread->start();
    if (m_captureThread->start()) {
        // The interface waits for the first frame the camera delivers, or for the capture thread
        // to give up at its stall limit; frames dropped after an exposure change follow while it
        // is free again.
        if (!waitAnsweringNoInput([] { return g_is_running || g_out_of_grabbing_time; }, firstFrameWaitLimitMs()))
            endLiveVideoForStall();
    } else {
        endLiveVideoForStall();
    }
    emit signalVideoWidgetIsStarted();

    if (m_bCameraModeChanged) {
        WritePrivateProfileString("Camera", "Mode", std::to_string(g_camera_mode.load()), configFile());
        m_bCameraModeChanged = false;
        emit signalCameraModeChanged(g_camera_mode);
    }
}

void VideoWidget::stopThreads()
{
    m_displayThread->stop();
    m_captureThread->stop();
}

void VideoWidget::stop()
{
    stopThreads();
    g_is_running = false;
    emit signalVideoWidgetIsStopped();
}

bool VideoWidget::isRunning() const
{
    return g_is_running;
}

void VideoWidget::endLiveVideoForStall()
{
    g_out_of_grabbing_time = true;
    g_is_running = true; // as when the capture thread gives up: the next stop ends live video
    g_captured = true;
    stopThreads();
    slotCameraStalled();
}

void VideoWidget::slotCameraStalled()
{
    showCameraError(m_pMessageDlg);
}

void VideoWidget::slotVideoModeError()
{
    auto *dialog = new MessageDlg(nullptr);
    dialog->setMsgType(MSG_VIDEO_MODE_ERROR);
    dialog->exec();
    delete dialog;
}

void VideoWidget::showCameraError(MessageDlg *dialog)
{
    // The box has no button and stays up; one at a time.
    if (m_bShowingCameraError)
        return;
    m_bShowingCameraError = true;
    dialog->exec();
    m_bShowingCameraError = false;
}

void VideoWidget::setCurrentFilterPosition(int nFilterPosition)
{
    m_nFilterPosition = nFilterPosition;
}

void VideoWidget::slotSetCurrentExposure(int exposure, int frame, int line)
{
    applyExposure(exposure, frame, line);
}

void VideoWidget::setCurrentGain(int again, int dgain)
{
    applyGain(again, dgain);
}

bool VideoWidget::waitForStill()
{
    if (g_out_of_grabbing_time) {
        MessageDlg dialog(nullptr);
        dialog.setMsgType(MSG_CAMERA_SYNC_DISRUPTED);
        showCameraError(&dialog);
        return false;
    }
    if (!m_captureThread->isStarted() || !g_capture)
        return false; // nobody would answer: live video is not running

    request_still();
    const bool taken = waitAnsweringNoInput([] { return g_captured.load(); }, stillWaitLimitMs());
    if (!taken) {
        endLiveVideoForStall();
        return false;
    }
    // Released by a capture thread that gave up: the still buffer holds an old frame.
    if (g_out_of_grabbing_time)
        return false;
    if (stillShowsOneScene())
        return true;
    qWarning() << "Camera: still refused, the scene changed while it was exposed";
    emit stillRefused();
    return false;
}

bool VideoWidget::waitAnsweringNoInput(const std::function<bool()> &done, int timeoutMs)
{
    // Nothing is answered meanwhile, nor shown: a tap made now reaches afterwards only a control
    // that could take it when the wait began, never one that the wait's outcome brings to its place.
    ScopedBusyCursor busy;
    InputFence::hold();
    const bool ended = MonotonicClock::waitFor(done, timeoutMs, kPollMs);
    InputFence::release();
    return ended;
}

bool VideoWidget::stillShowsOneScene()
{
    // The turrets' reports learnt now may change the scene (and the exposure, written again for a
    // new cube) after the still began: it is then not the picture of the cube the pages know.
    const bool standing = !m_sceneCheck || m_sceneCheck();
    return standing && stillExposedAfterSceneChange();
}

bool VideoWidget::capture()
{
    if (!waitForStill())
        return false;
    const bool deep = g_camera_mode == 16;
    // Only 8-bit stills under a fluorescence filter are corrected (never grabs).
    if (!deep && g_hotpixel_enabled && m_nFilterPosition >= 1)
        correctHotPixel(g_mat8);
    if (deep)
        emit captured(g_mat16.data, g_camera_mode);
    else
        emit captured(g_mat8.data, 8);
    return true;
}

bool VideoWidget::slotGrabOne()
{
    if (!waitForStill())
        return false;
    if (g_camera_mode == 8)
        emit grabbed(g_mat8.data, g_camera_mode);
    else
        emit grabbed(g_mat16.data, g_camera_mode);
    return true;
}

void VideoWidget::setPseudoColor(bool on, int filterPosition, int pseudoColorIndex)
{
    Q_UNUSED(filterPosition)
    m_bPseudoColor = on;
    g_set_color = true;
    if (on) {
        g_pseudo_color_index = clampColorIndex(pseudoColorIndex);
        g_set_saturated_pixel = false;
    } else {
        g_pseudo_color_index = 7;
        if (m_bSaturatedPixel) {
            g_set_color = false;
            g_set_saturated_pixel = true;
        }
    }
}

void VideoWidget::setPseudoColor(bool on, int pseudoColorIndex)
{
    m_bPseudoColor = on;
    g_set_color = true;
    g_pseudo_color_index = on ? clampColorIndex(pseudoColorIndex) : 7;
}

void VideoWidget::slotStartRecording(bool bStart, QString strPath)
{
    if (bStart) {
        m_recorder->start(strPath);
        m_judgeTimer.start();
        return;
    }
    m_recorder->stop();
    m_judgeTimer.stop();
    // The last frames are judged once a reading asked after them tells where the turrets stand.
    if (m_recorder->framesAwaiting() > 0 && m_sceneCheck)
        m_sceneCheck();
    m_recorder->judge(true);
}

int VideoWidget::recordingFramesDropped() const
{
    return m_recorder->framesDropped();
}

int VideoWidget::recordingFramesRefused() const
{
    return m_recorder->framesRefused();
}

int VideoWidget::recordingWritesFailed() const
{
    return m_recorder->writesFailed();
}

bool VideoWidget::waitForRecordedFrames(int timeoutMs) const
{
    return m_recorder->waitForPending(timeoutMs);
}

// ---------------------------------------------------------------------------------------------
// Hot pixels

void VideoWidget::findAndSaveHotPixelMap(cv::Mat &frame)
{
    m_hotPixelCorrector.findAndSave(frame);
}

void VideoWidget::loadHotPixelMap()
{
    m_hotPixelCorrector.load(HotPixelCorrector::listFile());
}

void VideoWidget::correctHotPixel(cv::Mat &frame)
{
    const int64_t began = MonotonicClock::nowUs();
    m_hotPixelCorrector.correct(frame);
    if (isEnableSerialLog())
        qDebug().noquote() << "void VideoWidget::correctHotPixel(cv::Mat&)" << (MonotonicClock::nowUs() - began) / 1000.0 << "ms";
}

void VideoWidget::slotChangeHotpixelEnabled(bool bSet)
{
    if (bSet) {
        m_bHotPixelEnabledSaved = g_hotpixel_enabled;
        g_hotpixel_enabled = false;
    } else {
        g_hotpixel_enabled = m_bHotPixelEnabledSaved;
    }
}
