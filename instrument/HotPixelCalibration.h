#pragma once
#include <QObject>
#include <QPointer>

#include <functional>

class HotPixelCorrectionDialog;
class VideoWidget;
class QWidget;

// The hot-pixel calibration as the main window runs it for the settings dialog: opens the
// calibration dialog, checks that a fluorescence cube is in place and the camera is in 8-bit
// mode, takes a dark frame (long exposure at 18 dB), lists its hot pixels in the live video's
// corrector and the list file, restores the filter's gain and exposure, and leaves live video as
// it found it.
//
// A dark frame that never comes (the camera gave up, or there is no camera) ends the calibration
// with a message; the previous list and file are kept.
class HotPixelCalibration : public QObject
{
    Q_OBJECT
public:
    // What the control panel says at the moment of the calibration.
    struct PanelState
    {
        int filterPosition = -1; // 0 to 3, -1 while the turret is out of position
        int cameraMode = 8;      // 8 or 16
        int gainRow = 0;         // GainLUT row of the current filter
        int exposureRow = 0;     // ExposureLUT8 row of the current filter
    };
    using PanelQuery = std::function<PanelState()>;

    static constexpr int kDefaultExposureRow = 31; // 3000 ms
    static constexpr int kDarkFrameGainRow = 18;   // 18 dB

    // Dialogs open over dialogParent (the main window).
    HotPixelCalibration(VideoWidget *video, PanelQuery panel, QWidget *dialogParent = nullptr,
                        QObject *parent = nullptr);
    ~HotPixelCalibration() override;

    // The dark frame and the new list. False when no dark frame came: the list and the file are
    // then left as they were. The filter's gain and exposure rows are restored and live video
    // started again either way.
    bool buildHotPixelMap(int gainRow, int exposureRow);

    // The dialog of the running calibration (null when none).
    HotPixelCorrectionDialog *dialog() const { return m_dialog; }

signals:
    void signalDoneHotPixelCorrection();
    // Each run has ended, whatever its outcome (for SetupDlg::completedHotPixelCorrection).
    void completedHotPixelCorrection();

public slots:
    // Runs the calibration dialog modally; returns when it has closed.
    void slotShowHotPixelCorrectionDlg();

private slots:
    void slotDoHotPixelCorrection();
    void slotHotPixelCorrection();

private:
    // A refusal: the message, then the dialog is rejected.
    void refuse(const QString &message);
    void showMessage(const QString &message);
    bool takeDarkFrame();

    VideoWidget *m_video;
    PanelQuery m_panel;
    QWidget *m_dialogParent;
    QPointer<HotPixelCorrectionDialog> m_dialog;
};
