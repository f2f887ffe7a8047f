#pragma once
#include "Controller.h"
#include "FineAFSequence.h"
#include "Globals.h"
#include "StageSettleWatch.h"
#include "TControlWidgetState.h"
#include "TFilterSet.h"
#include "TFineAFErrTable.h"

#include <QDialog>
#include <QFont>
#include <QFrame>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>

class MessageDlg;
class QAbstractButton;
class QSlider;
class Ui_ControlWidget;

// The control panel beside every acquisition page: LED light and power, camera gain and
// exposure, camera mode, filter cube and objective read-outs, pseudo colour, the focus drive
// (step buttons, jog sliders, wheel), five focus memories, the origin move, parfocal lens
// positions, parking and the stage read-out. It owns the serial link to the controller board and
// follows what the board reports; pages reach it only through the main window's connections.
// Everything runs on the GUI thread.
class ControlWidget : public QFrame
{
    Q_OBJECT

public:
    // A held focus button sends its step again at most once a period.
    static constexpr int kFocusRepeatMs = 100;

    explicit ControlWidget(QWidget *parent = nullptr);
    ~ControlWidget() override;

    // The serial device the panel opens: "ttyS4" on the instrument; elsewhere VANTOR_SERIAL_DEVICE
    // or what the simulated run set here before the panel was built.
    static QString serialPortName();
    static void setSerialPortName(const QString &name);
    // The log viewer of the serial-log start modes comes from the settings library, which builds
    // on this one: the application registers how to make it before the panel is built.
    static void setLogViewerFactory(std::function<QDialog *()> factory);

    void setControlWidgetState(TControlWidgetState state) { m_nState = state; }
    TControlWidgetState controlWidgetState() const { return m_nState; }
    void setCurrentMenuState(int single, int multiColor, int zStack, int timeLapse, int cellCount, int growth);
    void setUIControlEnabled(bool enable, bool turnOnLight);
    void disableLightForOutOfFilterPositionOrPowerOffPopup();
    bool checkLensAndFilterPosition();
    int currentFilterPosition() const { return m_nFilterPosition; }
    int currentFilterPositionForHotPixelCorrection() const;
    int currentCameraMode() const { return m_nCameraMode; }
    int currentObjectivePosition() const { return m_nObjectivePosition; }
    // The current position's light, gain row and exposure row (light in whole percent).
    TFilterSet currentFilterSet() const;
    void readSetting();
    void writeFilterSet();
    void setKnobSpeed();
    void updateLensPosition();
    void setFocusMemorySetButtonChecked(bool checked);
    void stopZMotor();
    void resetMotorPosition();
    void moveZBottomForParking();
    void runBackgroundAF();

    // Read access for tests and the screenshots.
    Controller &controller() { return m_Controller; }
    FineAFSequence &fineAF() { return m_FineAF; }
    bool isLightOn() const { return m_bLightOn; }
    int focusMemoryPosition(int memory) const;
    int lensPosition(int objective) const;

signals:
    void changeFilterPosition(int position);
    void changeLensPosition(int position);
    void signalChangeExposure(int exposure, int frame, int line);
    void signalChangeExposure(int exposure);
    void changeGain(int analogGain, int digitalGain);
    void pseudoColorEnabled(bool on, int filterPosition, int colorIndex);
    void pseudoColorForVideoWidget(bool on, int colorIndex);
    void signalLEDState(bool on);
    void signalCurrentMotorPosition(int position);
    void signalMotorMoved();
    // Comes just before the end of a checked move whose end could not be seen: the board stopped
    // answering or the stage never stood still.
    void signalMotorMoveUnconfirmed();
    void capture();
    void signalMotorMovedStartPosition();
    void signalStartZPositioningCompleted();
    void signalUpdatePos(int micrometres);
    void signalParkingCompleted();
    void completeCellCountAF(bool success, TFineAFErrTable error);
    void completeTimeLapseAF(int position, bool success, TFineAFErrTable error);
    void sendAFData(int index, int position, double value);
    void changeHotpixelEnabled(bool suspend);
    void currnetObjectivePosition(int lens, int position);

public slots:
    void turnOnLight();
    void turnOffLight();
    void setLiveMode(bool on);
    void changedFilterPosition(int position);
    void changedLensPosition(int position);
    void slotCameraModeChanged(int mode);
    void changeLightPower(int nLight, int nGain, int nExposure);
    void slotSetGainExposureControlEnabled(bool enable);
    void setPseudoColorButtonEnabled(bool enable);
    void slotUpdateCaptureImageMetaData();
    void captureCompleted(uchar *frame, int bits);
    void slotStillRefused();
    void enablePullingCommand(bool bEnable);
    void slotGetCurrentMotorPosition();
    void slotSetMotorSpeedAndStartZPosition(int motorSpeed, int startZPosition);
    void slotMovedStartPosition();
    void slotMoveMotorPosition(int step, bool bCheckPos);
    void slotStartZStacking();
    void slotEndZStacking();
    void slotTimeLapseAF();
    void slotCellCountAF();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    // The board confirmed a change of the light (a cube that came into place among them): the
    // sensor starts over.
    void slotLightConfirmed();
    // Light, gain, exposure, pseudo colour, log.
    void on_SLIDER_LIGHT_valueChanged(int value);
    void on_SLIDER_LIGHT_sliderReleased();
    void on_BUTTON_LIGHT_INCREASE_clicked();
    void on_BUTTON_LIGHT_DECREASE_clicked();
    void on_BUTTON_LIGHT_ON_clicked();
    void on_SLIDER_GAIN_valueChanged(int row);
    void on_SLIDER_GAIN_sliderReleased();
    void on_BUTTON_GAIN_INCREASE_clicked();
    void on_BUTTON_GAIN_DECREASE_clicked();
    void on_SLIDER_EXPOSURE_valueChanged(int row);
    void on_SLIDER_EXPOSURE_sliderReleased();
    void on_BUTTON_EXPOSURE_INCREASE_clicked();
    void on_BUTTON_EXPOSURE_DECREASE_clicked();
    void on_BUTTON_PSEUDO_COLOR_clicked(bool checked);
    void on_BUTTON_SHOW_LOG_clicked();

    // Focus drive.
    void on_BUTTON_FOCUS_COARSE_UP_pressed();
    void on_BUTTON_FOCUS_COARSE_DOWN_pressed();
    void on_BUTTON_FOCUS_FINE_UP_pressed();
    void on_BUTTON_FOCUS_FINE_DOWN_pressed();
    void on_BUTTON_FOCUS_COARSE_UP_released();
    void on_BUTTON_FOCUS_COARSE_DOWN_released();
    void on_BUTTON_FOCUS_FINE_UP_released();
    void on_BUTTON_FOCUS_FINE_DOWN_released();
    void slotPressedFocusingButton();
    void slotFocusingEnabled();
    void slotFocusingWheel();
    void changedMotorSpeed();
    void on_SLIDER_FOCUS_COARSE_sliderPressed();
    void on_SLIDER_FOCUS_COARSE_sliderMoved(int value);
    void on_SLIDER_FOCUS_COARSE_sliderReleased();
    void on_SLIDER_FOCUS_FINE_sliderPressed();
    void on_SLIDER_FOCUS_FINE_sliderMoved(int value);
    void on_SLIDER_FOCUS_FINE_sliderReleased();

    // Focus memories and origin.
    void on_BUTTON_FOCUS_MEMORY_ON_clicked();
    void on_BUTTON_SET_1_clicked();
    void on_BUTTON_SET_2_clicked();
    void on_BUTTON_SET_3_clicked();
    void on_BUTTON_SET_4_clicked();
    void on_BUTTON_SET_5_clicked();
    void setFocusMemorySpeedAndStepSize(int speed);
    void movingFocusMemorySetPosition();
    void slotStartFocusMemory();
    void slotMoveFocusMemory();
    void slotCheckCurrentFocusPosition(int position);
    void slotFocusMemoryIsBottom();
    void slotMovedFocusMemoryPosition();
    void slotOKClicked();
    void slotCANCELClicked();
    void on_BUTTON_FOCUS_ORIGIN_clicked();
    void slotMoveFocusOrigin();
    void slotMotorPositioningCompleted();

    // Parfocal lens positions, read-out.
    void on_BUTTON_LENS_SET_POS_clicked();
    void setCurrnetObjectivePosition(int lens, int position);
    void checkSetLensPositionState();
    void on_BUTTON_LENS_POS_ENABLE_clicked();
    void slotChangeStagePos(int nPos);

    // Fine autofocus.
    void on_BUTTON_FINE_AF_clicked();

private:
    // The exposure table row {ms, frame, line} of the camera mode, the row limited to the table.
    const int *exposureRow(int row) const;
    void initialize();
    void makeSignalSlotConnection();
    void resetFocusState();
    void turnOnLight_Sub(bool apply);
    void applyFineLightScale();
    void switchLightOff(bool lockControls);
    void setLightControls(bool on);
    void setUIFilterControlEnabled(bool enable);
    void setUILightAndCameraWidgetEnabled(bool enable);
    void showObjective(int position);
    void applyPseudoColor(int position);
    FineAFSequence::Setup autoFocusSetup() const;

    // Helpers shared by the handlers.
    bool acquisitionRunning() const; // the Z-stack, time-lapse or cell-count word is 3
    void labelRunScene();
    bool anyPageWord(int value) const;
    bool hasFilterPosition() const { return m_nFilterPosition >= 0 && m_nFilterPosition <= 3; }
    bool newFirmware() const { return m_Controller.existFirmwareVer(); }
    void sendZ(const QString &command) { m_Controller.setZCommand(command); }
    void sendSpeed(int speed);
    // Emits end, preceded by signalMotorMoveUnconfirmed when the move's end was not seen.
    void reportMoveEnd(bool seen, void (ControlWidget::*end)());
    void setSliderValue(QSlider *slider, int value, void (ControlWidget::*handler)(int));
    void stepSlider(QSlider *slider, int delta, void (ControlWidget::*released)());
    void setMetaText(QString (TCapturedImageMetaData::*field)[4], int position, const QString &text);
    TFilterSet readFilterSet(int position) const;
    void pressFocusButton(int step, int speed);
    void focusSliderPressed(QSlider *slider, int speed);
    void focusSliderMoved(QSlider *slider, int value);
    void focusSliderReleased(QSlider *slider);
    void focusMemoryClicked(int memory);
    void nameFocusMemory(int memory);
    void writeFocusMemoryName(int memory, const QString &name);
    QString focusMemoryName(int memory) const;
    QAbstractButton *memoryButton(int memory) const;
    MessageDlg *newProgressDialog(const QString &text, int buttons);
    void runProgressDialog(bool setMode);
    void closeProgressDialog();
    void finishFocusMemoryRun(int memory);
    void clearSequenceMarks();
    void completeStoreAtBottom(std::optional<int> bottom);
    void moveUpToFocusMemory(int height);
    bool driveToLowerLimit();
    void refuseFocusMemoryStore();
    void finishOrigin();
    void closeMoveDialog();
    void showMessage(const QString &text);
    bool askOverwrite();

    // Panel state, light and camera.
    TControlWidgetState m_nState = CONTROL_STATE_OPENED;
    bool m_bLiveMode = true;
    Controller m_Controller;
    TFilterSet m_FilterSet[4];
    int m_nFilterPosition = -1;
    bool m_bFilterOutOfPosition = false;
    int m_nStillImageFilterPosition = -1;
    int m_nObjectivePosition = 0;
    bool m_bObjectiveOutOfPosition = false;
    QString m_strMagnification[5];
    QString m_strLensName[5];
    bool m_bLightOn = false;
    // The LED as the panel and the pages last asked for it (a turret between positions puts it
    // out without changing this): during a run, a cube that comes into place is lit by it.
    bool m_bLightWanted = false;
    // A cube came into place and its light is not confirmed yet: its gain and exposure are
    // written (the sensor starts over) once it is, so that the first frame exposed after the turn
    // is lit; and whether that was done.
    bool m_bRestartOnLight = false;
    bool m_bRestartedOnLight = false;
    bool m_bPseudoColor = false;
    int m_nColorIndex[4] = {7, 2, 0, 1};
    int m_nCameraMode = 8;
    int m_nPageState[6] = {-1, -1, -1, -1, -1, -1};
    int m_nCurrentGain[3] = {0, 0, 0};     // dB, analog register, digital register
    int m_nCurrentExposure[3] = {0, 0, 0}; // frame register, line register, milliseconds
    QFont m_BoldFont;
    QFont m_NormalFont;

    // Focus drive.
    int m_nCoarseSpeed = 70;
    int m_nFineSpeed = 1;
    int m_nCoarseStep = 51;
    int m_nFineStep = 3;
    int m_nLastSpeed = -1;
    int m_nCurrentStep = 0;
    bool m_bFocusingEnabled = true;
    QTimer m_FocusButtonTimer;
    QTimer m_KnobTimer;
    int m_nSliderPressValue = 0;
    bool m_bJogStarted = false;
    int m_nJogState = 2; // 0 moving up, 1 moving down, 2 stopped

    // Focus memories and sequences.
    int m_nCurrentMemory = -1;
    int m_nMemoryPosition[5] = {-1, -1, -1, -1, -1};
    bool m_bMemoryStored[5] = {};
    int m_nSavedPosition = 0;
    bool m_bSetBottomPending = false;
    bool m_bMoveBottomPending = false;
    bool m_bOriginPending = false;
    bool m_bFinalMovePending = false;
    bool m_bSetDialogOpen = false;
    bool m_bMoveDialogOpen = false;
    bool m_bMoveFinished = false;
    bool m_bStartPositioningPending = false;
    bool m_bCheckedMovePending = false;
    bool m_bParking = false;
    int m_nLensPosition[5] = {};
    QPointer<MessageDlg> m_pMessageDlg;
    StageSettleWatch m_SettleWatch{m_Controller};

    // Fine autofocus: the calculator and the run.
    FineAFSequence m_FineAF{&m_Controller};

    QPointer<QDialog> m_pLogDlg;
    std::string m_strToolTipFormat;
    int m_nStageMaxSpeed = 700;
    int m_nStageFocusSpeed = 100;
    bool m_bScaled = false;
    bool m_bToBeScaled = true;

    Ui_ControlWidget *ui;
};
