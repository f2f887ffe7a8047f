#pragma once
#include "StillRetakes.h"
#include "TZStackState.h"
#include "TAnnotationTextInfo.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"
#include "ZStack.h"
#include "ZStackSliceWriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointF>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

class FullFocusThread;
class ImReaderWriter;
class MessageDlg;
class SaveOptionsDlg;
class TimeLapseProgressDlg;
class QAbstractSpinBox;
class Ui_ZStackWidget;

// The Z-stack page: takes a series of focal planes between two stage positions, or over a range
// around the current one, and writes each slice at once as a TIFF that carries its Z position.
//
// A run lives on the GUI thread as a chain of replies: START checks the parameters under an
// "Initializing" box, then a progress box runs while the page asks the panel for the stage
// position, moves to the start, and repeats lag, capture, write and step until the last slice;
// a range stack then returns the stage to where it was. Every reply the run waits for has a
// time-out that ends the run as Stop does.
class ZStackWidget : public QWidget
{
    Q_OBJECT
public:
    // Result codes of the checks at START besides those of ZStack::canStart.
    enum PageCode : int {
        NO_DISK_SPACE = 1,
        POSITION_NOT_SET = 2,
        NO_SAVE_VOLUME = 9, // the volume is missing, the folder name is unusable or was not made
        NO_SAVE_PATH = 10,
    };
    // What the run is waiting for from the control panel.
    enum PendingMove : int { MOVE_NONE, MOVE_TO_START, MOVE_START_ACK, MOVE_STEP, MOVE_RETURN };

    // How long the run waits for a position answer or a move's end: twice the panel's own limit
    // for a move. Tests may shorten it.
    static constexpr int kAnswerTimeoutMs = 60000;
    static int answerTimeoutMs();
    static void setAnswerTimeoutMs(int ms);
    static constexpr int kMaxDistanceMicrometres = 10100;
    static constexpr int kStageTopMicrometres = 10000;
    static const QString kStoppedAnsweringText;
    static const QString kTurretMovedText;

    explicit ZStackWidget(QWidget *parent = nullptr);
    ~ZStackWidget() override;

    TZStackState currentState() const { return m_nCurrentState; }
    void setCurrentState(TZStackState state);
    // A fresh entry into the page: the next live start clears the positions.
    void setTheFirstTime(bool bFirstTime) { m_bFirstTime = bFirstTime; }
    void readSetting();
    void writeSetting();
    void clearZStackParameters();

    // For the main window, the tests and the screenshots.
    Ui_ZStackWidget *form() const { return ui; }
    ZStack &zStack() { return m_ZStack; }
    int errorCode() const { return m_nErrorCode; }
    int motorRequest() const { return m_nMotorRequest; }
    int savedPosition() const { return m_nSavedPosition; }
    int startPosition() const { return m_nStartPosition; }
    int endPosition() const { return m_nEndPosition; }
    float stackHeight() const { return m_fDistance; }
    int failedSlices() const { return m_nFailedSlices; }
    // The folder of the last stack (the free name createFolder made from the chosen one).
    QString stackFolder() const;
    QString folderName() const { return m_FolderName; }
    // Sets the save place as the save dialog would (path, folder name, extension).
    void setSavePath(const QString &path, const QString &folder, const QString &extension = QStringLiteral("tif"));
    // Milliseconds of the last completed run from the first position request to its end.
    qint64 lastRunMs() const { return m_nLastRunMs; }

    // The checks of START (the page's own codes are set in errorCode).
    bool canStart();
    bool checkFreeDiskSpace(const QString &path, bool color, int count);
    bool checkRangeBeforeScan();
    bool createFolder(const QString &parentPath, QString &folderName);

    // The preset message of an error code; -1 for none.
    static int messageTypeOf(int code);

    // The held stack.
    // The page's stamp for the current slice: "z / span  n / N" from the slice files' positions,
    // "n / N" when a file lacks its position; nothing without slices.
    void updatePositionStamp();
    // One annotation text per slice, in slice order (out is cleared first).
    static void makeAnnotationList(const std::vector<ThumbnailInfo> &slices, QStringList &out);
    // Loads the "*.tif" files of a folder as the held stack (a "_merged.tif" file as its merged
    // image) under a progress box with Stop; the folder dialog of BUTTON_LOAD_IMAGE ends here.
    void loadStack(const QString &folder);
    QString mergedPath() const { return m_MergedPath; }
    // Largest side of a file that loading accepts: a camera frame.
    static constexpr int kFrameWidth = 1280;
    static constexpr int kFrameHeight = 1024;
    static const QString kLoadingText;
    static const QString kMergingText; // the merge's progress box

    // The extended-focus merge.
    static constexpr int kMaxMergeSlices = 100;
    int mergeKernel() const { return m_nMergeKernel; }
    int mergeColor() const { return m_nMergeColor; }
    FullFocusThread *fullFocusThread() const;
    TimeLapseProgressDlg *mergeProgress() const;
    // A grey 1280 x 1024 frame of bits per sample as RGB in one pseudo colour (grey with
    // colourOn 0 or a colour index outside 0..4); -1 takes the page's own value.
    void makePseudoColorImage(const void *source, int byteCount, uchar *destination, int bits,
                              int colourOn, int colourIndex) const;

public slots:
    void setCurrentFilterPosition(int position) { m_nFilterPosition = position; }
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void slotLEDState(bool on);
    void captureCompleted(uchar *frame, int bits);
    void slotStillRefused() { m_bStillRefused = true; }
    void slotUpdatePos(int micrometres) { m_nPolledPosition = micrometres; }
    void slotSetCurrentMotorPosition(int position);
    void slotMotorMovedStartPosition();
    void slotMotorMoved();
    void slotMotorMoveUnconfirmed();
    void slotStartZPositioningCompleted();
    void slotChangedCurrentThumbnailIndex(int index);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotSetScaleBarPoint(QPointF point) { m_ScaleBarPoint = point; }
    void slotSetAnnotationTextInfo(TAnnotationTextInfo info) { m_AnnotationTextInfo = info; }
    void slotDeleteThumbnail(int index);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();
    // Iteration of the auto-run feature; nothing is connected to it.
    void slotAutoSave();

signals:
    void changedState();
    void lightOff();
    void lightOn();
    void capture();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void signalGetCurrentMotorPosition();
    void signalSetMotorSpeedAndStartZPosition(int motorSpeed, int startPosition);
    void signalMoveMotorPosition(int steps, bool bCheckPos);
    void signalStartZStacking();
    void signalEndZStacking();
    void completed(std::vector<ThumbnailInfo> &thumbnails);
    void signalChangeCurrentThumbnailIndex(int index);
    void completedFullFocus(bool ok, ThumbnailInfo &thumbnail);
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalShowScaleBar(bool show);
    void getScaleBarPoint();
    void changeHotpixelEnabled(bool enable);
    void enableAnnotation(bool enable);
    void getAnnotationTextInfo();
    void createFullFocusImage();
    void saveVideo();
    void setVideoRunningState(bool run);
    void signalEnablePullingCommand(bool enable);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    // Acquisition.
    void on_BUTTON_Z_STACK_START_clicked();
    void on_BUTTON_Z_STACK_STOP_clicked();
    void slotCalculrateIntervalOrImageNumber();
    void slotZStacking();
    void slotOKClicked();
    void slotAnswerTimedOut();
    void on_BUTTON_SET_START_POSITION_clicked();
    void on_BUTTON_SET_END_POSITION_clicked();

    // Form.
    void on_BUTTON_LIVE_clicked();
    void on_BUTTON_NEXT_Z_STACK_clicked();
    void on_BUTTON_MODE1_clicked();
    void on_BUTTON_MODE2_clicked();
    void on_BUTTON_SAVE_PATH_clicked();
    void on_RADIO_START_TO_END_clicked();
    void on_RADIO_RANGE_clicked();
    void on_RADIOBUTTON_INTERVAL_clicked();
    void on_RADIOBUTTON_IMAGE_NUMBER_clicked();
    void on_SPINBOX_RANGE_PLUS_valueChanged(int value);
    void on_SPINBOX_RANGE_MINUS_valueChanged(int value);
    void on_CHKBOX_SCALEBAR_clicked();
    void on_CHKBOX_ZPOSITION_clicked();
    void on_SLIDER_Z_STACK_actionTriggered(int action);
    void on_SLIDER_Z_STACK_valueChanged(int value);
    void slotSPINBOX_INTERVAL_mouseButtonPressed(double value, bool up);

    // Saving and loading the held stack.
    void on_BUTTON_SAVE_IMAGE_clicked();
    void on_BUTTON_SAVE_VIDEO_clicked();
    void on_BUTTON_LOAD_IMAGE_clicked();
    void slotLoadImages();
    void slotStopClicked();

    // The extended-focus merge.
    void on_BUTTON_FULL_FOCUS_clicked();
    void slotRunFullFocus();
    void slotUpdateProgressbar();
    void slotStopMergingClicked();
    void slot_FinishFullFocus(bool bSuccess);
    void on_BUTTON_SAVE_BEFORE_clicked();
    void on_BUTTON_SAVE_AFTER_clicked();

private:
    void initialize();
    void changeState();
    void setUIControlEnabled(bool on);
    void setSpinboxState(bool on);
    void setRadioButtonState(bool on);
    void setStackingRange();
    void setImageAcquisition();
    void calcDistByInputRange();
    void enableStartByLED();
    void showDistanceError();
    void showStackFolder(const QString &name);
    void showMessage(int type);
    void showText(const QString &text);
    void editSpinBox(QAbstractSpinBox *box);

    // The run.
    void requestPosition(int request);
    void askPositionAgainIfUnanswered(int request);
    static constexpr int kPositionReaskMs = 2000;
    void armAnswerTimer(int ms);
    void captureSlice();
    void takeSlice();
    void sliceRefused();
    void writeSlice();
    float slicePosition(int index) const;
    void updateLiveStamp(float z);
    bool stoppedAfterMove();
    void endStack();
    void completedZStacking();
    bool movePending() const { return m_nPendingMove != MOVE_NONE && m_nPendingMove != MOVE_RETURN; }
    // The save dialog of the hidden save-before/after and auto-run roads (option 1); its result.
    int runStackSaveDialog(bool quickSave);
    void prepareSaveDialog(SaveOptionsDlg &dialog, int option);
    bool loadImagesforFullFocus();
    void createFullFocusThread();
    void startFullFocusThread();
    void FullFocus_Free();
    void runMergeProgress(int total);

    Ui_ZStackWidget *ui;
    ZStack m_ZStack;
    ZStackSliceWriter m_SliceWriter;
    TZStackState m_nCurrentState = ZSTACK_IDLE;

    // Parameters and positions (motor steps unless named otherwise).
    int m_nErrorCode = 0;
    int m_nMotorRequest = -1; // 0 set start, 1 set end, 2 move to start, 3 range, 4 return
    int m_nStartPosition = 0;
    int m_nEndPosition = 0;
    bool m_bStartSet = false;
    bool m_bEndSet = false;
    int m_nSavedPosition = 0;
    int m_nPolledPosition = 0; // micrometres
    float m_fDistance = 0.0f;  // micrometres
    int m_nImageBits = 8;

    // Run state.
    PendingMove m_nPendingMove = MOVE_NONE;
    bool m_bMovingToStart = false;
    bool m_bReturning = false;
    bool m_bReturnStarted = false;
    bool m_bStackStartPending = false; // START accepted, the stack's first request not yet made
    bool m_bEndAfterMove = false; // stopped while a move was under way: end when it has ended
    bool m_bAwaitingFrame = false;
    bool m_bStop = false;
    bool m_bTimedOut = false;
    bool m_bStillRefused = false; // set inside capture() when the live video refused the still
    bool m_bTurretMoved = false;  // the run ended because a turret kept moving
    StillRetakes m_Retakes;
    bool m_bAutoRun = false;
    bool m_bFirstSlicePending = true;
    bool m_bStackHeld = false;
    int m_nFailedSlices = 0;
    QTimer m_AnswerTimer;
    QElapsedTimer m_RunClock;
    qint64 m_nLastRunMs = 0;
    QPointer<MessageDlg> m_pInitializingDlg;
    QPointer<MessageDlg> m_pProgressDlg;

    // Page facts.
    bool m_bFirstTime = true;
    bool m_bSaved = false;
    bool m_bLEDOn = false;
    int m_nFilterPosition = 0;
    int m_nObjectivePosition = 0;
    bool m_bPseudoColor = false;
    int m_nFilterColorIndex = 7;
    QPointF m_ScaleBarPoint;
    TAnnotationTextInfo m_AnnotationTextInfo;
    QString m_SavePath;
    QString m_FolderName; // as chosen: every stack numbers from it
    QString m_StackName;  // the folder of the last stack, the stem of its slice files
    QString m_FileExtension;
    QString m_MergedPath;
    int m_nMergeKernel = 11;
    int m_nMergeColor = 7;
    bool m_bSliderMovedByUser = false;
    bool m_bPathDialogOpen = false;

    // Loading a stack.
    QList<QFileInfo> m_LoadList;
    bool m_bLoadAbort = false;
    bool m_bLoading = false; // the end of a load is under way
    std::unique_ptr<ImReaderWriter> m_pLoadReader;
    QPointer<TimeLapseProgressDlg> m_pLoadingDlg;

    // The merge: at most one thread, deleted exactly once (the guard clears on its deletion).
    QPointer<FullFocusThread> m_pFullFocusThread;
    QPointer<TimeLapseProgressDlg> m_pMergeProgressDlg;
    QTimer m_ProgressTimer;
    int m_nProgressTick = 0;
    bool m_bMergeFed = false; // a thread fed during the acquisition
    bool m_bMergeWritten = false; // the last merge wrote its file
};
