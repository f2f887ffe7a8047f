#pragma once
#include "TTimeLapseState.h"
#include "TAnnotationTextInfo.h"
#include "TFineAFErrTable.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"
#include "StillRetakes.h"
#include "TimeLapse.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfoList>
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class ImMeasurer;
class ImReaderWriter;
class MessageDlg;
class SaveOptionsDlg;
class QAbstractSpinBox;
class TimeLapseProgressDlg;
class Ui_TimeLapseWidget;

// The Time lapse page: the user enters a total time and an interval, chooses focus-drift
// correction and presses Run; the page takes a frame every interval on three timers (light on
// shortly before each frame, the frame, the correction autofocus), writes each frame at once as a
// numbered TIFF with its elapsed time, and hands the series to the browser when it pauses or ends.
//
// The page never calls the instrument: light, frames, live mode, stage positions, moves and the
// autofocus are signals that the main window connects to the control panel and the live video.
// Those connections are direct, so a frame (captureCompleted) and an autofocus result
// (slotCompleteTimeLapseAF) arrive before their emit returns; only the focus move is queued.
//
// Start codes (startCode): 0 may start; 1 interval below 1 s; 2 correction with an interval below
// 1 minute; 3 interval too short for exposure, light or correction; 4 not enough space; 5 interval
// longer than the total time; 7 more than 10,000 frames; 8 no volume or no series folder; 9 no
// target folder; 10 continuous recording too long.
class TimeLapseWidget : public QWidget
{
    Q_OBJECT
public:
    // What one saved file costs besides its samples (TIFF header, tags, description, directory
    // entry), in bytes.
    static constexpr quint64 kFileOverheadBytes = 4096;
    static constexpr int kPositionAnswerTimeoutMs = 2000;
    // A correction ends at least this long before its frame, however long its autofocus took.
    static constexpr int kCorrectionMarginMs = 2000;
    static constexpr int kCorrectionMinIntervalMs = 60000;

    // Recordings go to the internal SSD only (a fixed path).
    static const QString kRecordVolume;
    static const QString kRecordVolumeText;
    static const QString kRecordLostText;
    static const QString kLoadingText;
    static constexpr int kRecordDrainTimeoutMs = 10000;

    // How the end of a continuous recording learns from the live video that every recorded frame
    // is on disk (wait, bounded in ms) and how many frames it could not record (lost).
    struct RecordingDrain
    {
        std::function<bool(int timeoutMs)> wait;
        std::function<int()> lost; // frames dropped or failed since the program started
    };
    // A frame of the grab buffer at its real size and depth.
    struct GrabbedFrame
    {
        QByteArray samples;
        int bits = 8;
    };

    explicit TimeLapseWidget(QWidget *parent = nullptr);
    ~TimeLapseWidget() override;

    TTimeLapseState currentState() const { return m_nCurrentState; }
    void setCurrentState(TTimeLapseState state);
    // A fresh entry into the page.
    void setTheFirstTime(bool bFirstTime);
    void readSetting();
    void writeSetting();

    // The controls of the current state (and changedState()).
    void changeState();
    void setUIControlEnabled(bool enable);
    void setSpinboxState(bool enable);
    void clearTimeLabel();
    // Ends (or pauses) the series: timers stopped, light off, thumbnails to the browser, state 2.
    void completedTimeLapse(bool bVideo);

    // The start checks. canStart sets the start code on false; it also fixes the three periods.
    bool canStart();
    // Whether images frames of the current depth (colour: three samples) fit on the volume of path.
    bool checkFreeDiskSpace(QString path, bool colour, int images);
    // Makes the series folder path/name, name turned into its first free variant "name(n)".
    bool createFolder(QString path, QString &name);
    // The folder of the current (or last) run: the chosen one until a run makes its own.
    QString runFolder() const;
    void setFocusCorrectionState(bool enable);
    void setUIZScanRangeComboBox();

    // Loads every "*.tif" of folder (any letter case) in natural name order as the shown series;
    // false (after saying so) when the folder holds none.
    bool loadImages(const QString &folder);
    // One "time / last time  n / N" (or "n / N") line per image.
    void makeAnnotationList(const std::vector<ThumbnailInfo> &thumbnails, QStringList &lines);
    // The 1280 x 1024 grey frame of the page's depth as RGB in the pseudo colour (grey for the
    // grey colours 5..7 and for filter position 0); byteCount bytes of the result go to out.
    void makePseudoColorImage(const uchar *frame, int byteCount, uchar *out);
    // Whether a save path lies on the recording volume (it must begin with it).
    static bool isRecordingPath(const QString &path);
    void setRecordingDrain(RecordingDrain drain) { m_RecordingDrain = std::move(drain); }
    const std::vector<GrabbedFrame> &grabBuffer() const { return m_GrabBuffer; }
    int recordedSeconds() const { return m_nRecordSeconds; }
    QTimer &recordStopTimer() { return m_RecordStopTimer; }

    // The folder, series name and file extension a run writes to (the save dialog's choice).
    void setSaveTarget(const QString &folder, const QString &name, const QString &extension);

    // What a run reads and learns (for the browser, the tests and the benchmarks).
    TimeLapse &plan() { return m_TimeLapse; }
    int startCode() const { return m_nStartCode; }
    int capturePeriod() const { return m_nCapturePeriod; }
    int lightPeriod() const { return m_nLightPeriod; }
    int correctionPeriod() const { return m_nCorrectionPeriod; }
    // How far ahead of its frame a correction starts: the light's lead and the autofocus's share
    // (that of the start check, or the longest autofocus of this start with a margin).
    int correctionLeadMs() const;
    // How long the light is on before a frame: its settling and one exposure.
    int lightLeadMs() const;
    // The correction autofocus's share of an interval by the start check.
    int correctionShareMs() const;
    // How long a frame of the plan takes (TimeLapse::frameMs at the page's depth and colour).
    int planFrameMs() const;
    // The shortest interval the start check passes for the plan's exposure, the light's lead and
    // the correction as chosen, in ms; as a text in whole units of the interval field.
    int shortestIntervalMs() const;
    QString shortestIntervalText() const;
    int exposure() const { return m_nExposure; }
    int bitDepth() const { return m_nBitDepth; }
    int focusOffset() const { return m_nOffset; }
    int startPosition() const { return m_nStartPosition; }
    bool isPaused() const { return m_bPaused; }
    QString savePath() const { return m_SavePath; }
    QString seriesName() const { return m_SeriesName; }
    QString longestTotalTime() const { return m_LongestTotalTime; }

    // Seconds as "hh:mm:ss"; past a day the hours keep counting ("25:00:00").
    static QString timeText(qint64 seconds);
    // Bytes one saved frame takes: samples of the depth (8, else 16 bits; three samples for colour)
    // plus the file overhead.
    static quint64 bytesPerImage(int bitDepth, bool colour);
    // The text a start code shows (a preset's or its own); empty for 0.
    QString startCodeMessage(int code) const;
    // The last saved frame as an 8-bit picture (the most significant byte of a 16-bit frame).
    const QImage &frameImage() const { return m_FrameImage; }
    // Clears the test word that each run's start clears too.
    void clean_testUI();

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void changedExposure(int exposure);
    void slotLEDState(bool on);
    void captureCompleted(uchar *frame, int bits);
    void slotStillRefused() { m_bStillRefused = true; }
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotSetScaleBarPoint(QPointF point);
    void slotSetCurrentMotorPosition(int position);
    void slotCompleteTimeLapseAF(int position, bool success, TFineAFErrTable error);
    void slotsaveAFData(int index, int position, double value);
    void slotSetAnnotationTextInfo(TAnnotationTextInfo info);
    void slotDeleteThumbnail(int index);
    void slotGrabbed(uchar *frame, int bits);
    void slotLoadImages();
    void slotStopClicked();
    // Continuous recording: the 1 s tick, the 500 ms blink and the end.
    void enableRecord();
    void enableRecordLabel();
    void enableRecordStop();
    void slotSetEnableControlState(bool enable);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

    // The schedule: the 1 s start timer, the light, capture and correction timers, the blink.
    void slotCalculrateParameter();
    void enableLightON();
    void enableCapture();
    void enableFineAF();
    void showPauseEffect();

signals:
    void changedState();
    void capture();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void lightOn();
    void lightOff();
    void completed(std::vector<ThumbnailInfo> &thumbnails, bool bVideo);
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalShowScaleBar(bool show);
    void getScaleBarPoint();
    void changeHotpixelEnabled(bool enable);
    void signalGetCurrentMotorPosition();
    void TimeLapseAF();
    void signalMoveMotorPosition(int steps, bool bCheckPos);
    void enableAnnotation(bool enable);
    void getAnnotationTextInfo();
    void saveVideo();
    void grabOne();
    void startRecording(bool start, QString path);
    void setVideoRunningState(bool run);
    void signalEnablePullingCommand(bool enable);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_TIMELAPSE_RUN_clicked();
    void on_BUTTON_TIMELAPSE_PAUSE_clicked();
    void on_BUTTON_TIMELAPSE_STOP_clicked();
    void on_BUTTON_TIMELAPSE_LIVE_clicked();
    void on_BUTTON_SAVE_PATH_clicked();
    void on_BUTTON_MODE1_clicked();
    void on_BUTTON_MODE2_clicked();
    void on_CHKBOX_TIMESTAMP_clicked();
    void on_CHKBOX_SCALEBAR_clicked();
    void on_COMBOBOX_INTERVAL_TYPE_currentIndexChanged(int index);
    void on_COMBO_FOCUS_DRIFT_currentIndexChanged(int index);
    void on_BUTTON_LOAD_IMAGE_clicked();
    void on_BUTTON_SAVE_IMAGE_clicked();
    void on_BUTTON_SAVE_BEFORE_clicked();
    void on_BUTTON_SAVE_AFTER_clicked();
    void on_BUTTON_SAVE_VIDEO_clicked();
    void on_BUTTON_START_RECORD_clicked();
    void on_BUTTON_STOP_RECORD_clicked();
    void on_BUTTON_SAVE_RECORD_clicked();

private:
    void initialize();
    // Keeps rows row.. of a saved frame of 8 or 16 bits in the page's own buffers.
    void keepBand(int bits, int row, int rows, const uchar *samples);
    // The keyboard editors of the five number fields.
    void on_SPINBOX_HOUR_clicked();
    void on_SPINBOX_MINUTE_clicked();
    void on_SPINBOX_SECOND_clicked();
    void on_SPINBOX_INTERVAL_clicked();
    void on_SPINBOX_AF_INTERVAL_clicked();
    void editNumberField(QAbstractSpinBox *field, int lowest);

    bool correctionOn() const;
    bool continuousSelected() const;
    void showStartCodeMessage(int code);
    void setSaveButtons();
    // Schedule pieces of Run.
    void startSchedule(bool immediateFrame);
    bool runFirstCorrection();
    void runAutofocus();
    // lateMs: how long after its slot on the series' grid the frame is taken.
    // Takes the frame due at dueMs on the schedule clock; a still a turret move spoilt is taken
    // again within the interval, or the frame is skipped.
    void takeFrame(qint64 dueMs);
    void frameRefused(qint64 dueMs);
    void skipFrame();
    // Counts the frame into the plan and shows it on the page's labels; the new count.
    int countFrame(qint64 stampS);
    // The end of a frame's turn, taken or skipped: the light off, the progress, the series' end.
    void endFrame(int count, bool ended);
    // The light of the coming frame: on now, its settling timed from now.
    void switchLightOnForFrame();
    // Asks the panel for the stage position and waits (events running) until it has answered.
    bool requestMotorPosition();
    void debugLine(const QString &text) const;
    // The save dialog of a time-lapse option filled with the page's depth, colour and marks.
    void prepareSaveDialog(SaveOptionsDlg &dialog, int option);
    int runTimeLapseSaveDialog();
    void startContinuousRecording();
    void endEmptyRecording();
    void removeEmptyRecordFolder();
    void showRunFolder(const QString &name);
    bool makeRunFolder();
    QString recordingPrefix() const;

    Ui_TimeLapseWidget *ui = nullptr;
    TimeLapse m_TimeLapse;
    TTimeLapseState m_nCurrentState = TIMELAPSE_IDLE;

    // Plan inputs and the start check.
    int m_nStartCode = 0;
    QString m_SavePath;
    QString m_SeriesName; // as chosen: every run numbers from it
    QString m_RunName;    // the folder of the current (or last) run, the stem of its files
    QString m_FileExtension = QStringLiteral("tif");
    int m_nExposure = 100;
    int m_nBitDepth = 8;
    int m_nCameraBits = 8;
    bool m_bPseudoColor = false;
    int m_nFilterPosition = 0;
    int m_nColorIndex = 7;
    int m_nObjectivePosition = 0;
    int m_nCapturePeriod = 0;
    int m_nLightPeriod = 0;
    int m_nCorrectionPeriod = 0;
    int m_nCorrectionCounter = 0;
    int m_nTestCount = 0; // cleared at each run's start and by clean_testUI
    QString m_LongestTotalTime;

    // A frame is saved from the page's own copy: 8 bits in the frame image, 16 bits in the first
    // work buffer (one frame at 16, 24 and 48 bits per pixel), its top byte in the frame image.
    QImage m_FrameImage;
    uchar *m_pFrameImageData = nullptr;
    std::unique_ptr<uchar[]> m_pWorkBuffers[3];
    std::unique_ptr<ImMeasurer> m_pMeasurer;

    // Run state.
    bool m_bPaused = false;
    bool m_bStop = false;
    bool m_bCompleted = false;
    bool m_bFirstTime = true;
    bool m_bSaved = false;
    bool m_bLEDState = false;
    bool m_bPreSave = false;
    bool m_bBusy = false;
    bool m_bParametersCalculated = false;
    bool m_bRunStarting = false; // inside Run: a Stop waits until the run is going
    bool m_bStopAsked = false;
    QTimer m_LightTimer;
    QTimer m_CaptureTimer;
    QTimer m_CorrectionTimer;
    QTimer m_PauseEffectTimer;
    QTimer m_StartTimer;
    int m_nRemainCapture = 0;
    int m_nRemainLight = 0;
    int m_nRemainCorrection = 0;
    QPointer<TimeLapseProgressDlg> m_pProgressDlg;
    QPointer<MessageDlg> m_pInitializingDlg;

    // Focus-drift correction.
    int m_nMotorRequest = -1;
    bool m_bPositionAnswered = false;
    bool m_bStartPositionKnown = false;
    int m_nStartPosition = 0;
    int m_nOffset = 0;
    bool m_bCorrectionEnabled = false;
    bool m_bAFError = false;
    bool m_bAFRunning = false;
    bool m_bCapturePending = false;
    bool m_bLightTickDone = false;
    QElapsedTimer m_LightOnClock; // since the light of the coming frame went on
    bool m_bLightKept = false;    // the light stayed on after a frame that ended past the next one's light
    QElapsedTimer m_ScheduleClock; // since the timers of this start began
    qint64 m_nFrameDueMs = 0;     // the coming timed frame's slot on that clock
    int m_nFrameLateMs = 0;       // how late the frame being taken is
    qint64 m_nLastStampS = 0;     // the time stamp of the last frame counted
    bool m_bStillRefused = false; // set inside capture() when the live video refused the still
    StillRetakes m_Retakes;
    int m_nLongestAFMs = 0;       // the longest correction autofocus of this start
    int m_nAFIndex = 0;
    int m_nAFPosition = 0;
    double m_dAFMaxValue = 0.0;

    // Loading a folder.
    QFileInfoList m_FileList;
    bool m_bLoadStop = false;
    QPointer<TimeLapseProgressDlg> m_pLoadingDlg;

    // Continuous recording and the grab buffer.
    QTimer m_RecordStopTimer;
    QTimer m_RecordTimer;
    QTimer m_RecordLabelTimer;
    int m_nRecordSeconds = 0;
    int m_nLostAtStart = 0; // the live video's lost-frame count when the recording began
    QString m_RecordFolder; // the folder the current recording made (empty: none)
    QElapsedTimer m_RecordClock; // since the recording began
    RecordingDrain m_RecordingDrain;
    std::vector<GrabbedFrame> m_GrabBuffer;

    // Browser annotations.
    QPointF m_ScaleBarPoint;
    TAnnotationTextInfo m_AnnotationTextInfo;
};
