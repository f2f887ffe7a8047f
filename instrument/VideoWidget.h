#pragma once
#include "HotPixelCorrector.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class CaptureThread;
class DisplayThread;
class FrameRecorder;
class MessageDlg;

// The live video: opens the camera, applies its mode, gain and exposure, starts and stops the
// capture and display threads (the live picture is their SDL window over this widget's area),
// takes still frames and grabs, records live frames and switches the display palettes.
//
// A still or grab is the first frame exposed wholly after the request; the wait for it is bounded
// by the longest such a frame takes (two frame periods, the read-out and the transfer). Before it
// is handed on, the scene check brings the turret positions up to date and reads every turret
// report the board made meanwhile: a still whose exposure a turret move (also one that ended where
// it began), a change of the light or an exposure change overlapped is refused, never passed on under
// the name of the cube before the move: stillRefused tells the requester, who says so to the user
// or, in a run, takes the still again or ends the run. A request while live video is not running
// fails at once. The interface answers nothing while it waits for a still or the first frame: the
// busy cursor shows, and a tap made meanwhile is never handed to a control shown or enabled at its
// place afterwards.
// A camera that stops delivering ends live video with preset message 33.
class VideoWidget : public QWidget
{
    Q_OBJECT
public:
    // What an interactive capture tells the user of a refused still.
    static const QString kStillRefusedText;

    explicit VideoWidget(QWidget *parent = nullptr);
    ~VideoWidget() override;

    void start();
    void stop();
    // Stops both threads and the recording and closes the camera, as at the end of the run.
    void releaseCamera();
    bool isRunning() const;
    void readSetting();
    void changeCameraMode(bool emitSignal);

    // Live recording: frames dropped because the disk fell behind, frames not kept because a
    // turret moved while they were exposed, and failed writes.
    int recordingFramesDropped() const;
    int recordingFramesRefused() const;
    int recordingWritesFailed() const;
    // Waits until every recorded frame handed over so far is written; false on the time-out.
    bool waitForRecordedFrames(int timeoutMs) const;

    // Hot pixels (the calibration that takes the dark frame is HotPixelCalibration): the list
    // from a dark frame, also written to its file; the list from the file; the correction of an
    // 8-bit still in place.
    void findAndSaveHotPixelMap(cv::Mat &frame);
    void loadHotPixelMap();
    void correctHotPixel(cv::Mat &frame);
    const HotPixelCorrector &hotPixelCorrector() const { return m_hotPixelCorrector; }

    // Asked once a still is taken: learns where the turrets stand (through the serial link, whose
    // reports wait while a still is taken, and are read now) and says whether both stand in
    // position. Without it nothing is learned and only the changes noted meanwhile count.
    void setSceneCheck(std::function<bool()> check) { m_sceneCheck = std::move(check); }

    // The capture thread of the current run (for diagnostics and tests); null before the first start.
    const CaptureThread *captureThread() const { return m_captureThread.get(); }

signals:
    void captured(uchar *frame, int bits);
    void grabbed(uchar *frame, int bits);
    // A still or grab was refused because the scene changed while it was exposed; emitted inside
    // capture() or slotGrabOne(), which then return false.
    void stillRefused();
    void signalCameraModeChanged(int mode);
    void signalVideoWidgetIsStarted();
    void signalVideoWidgetIsStopped();

public slots:
    void setCurrentFilterPosition(int nFilterPosition);
    void slotSetCurrentExposure(int exposure, int frame, int line);
    void setCurrentGain(int again, int dgain);
    // False when no still was taken (live video not running, or the camera stalled).
    bool capture();
    void setPseudoColor(bool on, int filterPosition, int pseudoColorIndex);
    void setPseudoColor(bool on, int pseudoColorIndex);
    bool slotGrabOne();
    // true suspends the hot-pixel correction of stills, false restores the switch as it was.
    void slotChangeHotpixelEnabled(bool bSet);
    void slotStartRecording(bool bStart, QString strPath);

private slots:
    void slotCameraStalled();
    void slotVideoModeError();

private:
    bool waitForStill();
    // Waits on the interface thread for the first frame or a still, with the busy cursor; input
    // made until it ends reaches only the controls that could take it when it began.
    bool waitAnsweringNoInput(const std::function<bool()> &done, int timeoutMs);
    bool stillShowsOneScene();
    void stopThreads();
    void endLiveVideoForStall();
    void showCameraError(MessageDlg *dialog);
    void placeVideoWindow();
    int readCameraFlag(const char *key);

    MessageDlg *m_pMessageDlg = nullptr;
    int m_nFilterPosition = -1;
    bool m_bPseudoColor = false;
    int m_nCameraMode = 8;
    int m_nPrevCameraMode = -1;
    bool m_bSaturatedPixel = false;
    bool m_bCameraModeChanged = false;
    bool m_bHotPixelEnabledSaved = false;
    bool m_bShowingCameraError = false;

    HotPixelCorrector m_hotPixelCorrector;
    std::unique_ptr<FrameRecorder> m_recorder;
    QTimer m_judgeTimer; // recorded frames are judged as the turret readings come
    std::unique_ptr<DisplayThread> m_displayThread;
    std::unique_ptr<CaptureThread> m_captureThread;
    std::function<bool()> m_sceneCheck;
};
