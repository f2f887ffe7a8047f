#pragma once
#include "FineAF.h"
#include "StillRetakes.h"
#include "TFineAFErrTable.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class Controller;
class MessageDlg;

// Runs the fine autofocus on the instrument for the control panel: plans the scan (FineAF),
// moves the focus stage to each height, asks the live video for a still there, scores it, returns
// to the first height and moves to the sharpest one. Everything runs on the GUI thread inside the
// modal run of a "Focusing" box, so every run* call returns only when the autofocus has ended.
//
// While the scan runs g_CurrentMenu is 9 (MENU_FINE_AF), the Controller's status polling is
// stopped and the hot-pixel correction of stills is suspended.
//
// Wiring (the control panel makes it):
//   capture()                          -> VideoWidget::capture (direct)
//   VideoWidget::captured              -> captureCompleted (through the panel)
//   VideoWidget::stillRefused          -> stillRefused (through the panel)
//   Controller::signalMotorPositioningCompleted (queued) -> slotMotorPositioningCompleted, which the
//                                         panel calls while g_CurrentMenu is 9
//   changeHotpixelEnabled(bool)        -> VideoWidget::slotChangeHotpixelEnabled
//   stageSpeedSent()                   -> the panel forgets its last sent button speed
//   sendAFData, completeTimeLapseAF, completeCellCountAF -> the panel's signals of the same name
//
// A run never stays up: the old dialect of the board (whose stage cannot report its position) is
// refused with FINEAF_ERR_NOT_SUPPORTED, and a step that gets no frame or no end of move in time
// ends the run as failed. A still refused while no turret reported a move (an exposure change)
// is taken again at the same height. A curve is never built from two cubes: once the filter cube
// or the objective reports a move during the scan, no frame is scored until the run's own cube
// and objective stand in place again, when the scan starts over from its first height; if they
// are not back within the pauses allowed (StillRetakes), the run fails and the stage returns to
// the height where the run began.
class FineAFSequence : public QObject
{
    Q_OBJECT
public:
    // What the panel knows at the start of a run.
    struct Setup
    {
        QString magnification;     // magnification text of the current objective, "10X"
        QString lensName;          // name text of the current objective
        int objectivePosition = 1; // 1 to 5: the key of "LensNA"
        int cameraBits = 8;        // 8 or 16
        int focusSpeed = 100;      // "Setting_Misc"/"Stage_FOCUSSPEED", 1 to 700
    };

    static constexpr int kPhaseDelayMs = 500;   // before planning and before the scan
    static constexpr int kSettleMs = 100;       // after a move, before the still
    static constexpr int kCellCountRange = 5;

    explicit FineAFSequence(Controller *controller, QObject *parent = nullptr);
    ~FineAFSequence() override;

    // The Fine AF button: with the "Initializing" box, error messages and the closing box.
    void runInteractive(const Setup &setup);
    // Without messages (a failed plan returns at once).
    void runBackground(const Setup &setup);
    // Before a time point: range "Setting_Timelapse"/"ScanRange"; emits sendAFData and
    // completeTimeLapseAF. Polling and hot-pixel correction stay suspended afterwards (the page
    // restores them).
    void runTimeLapse(const Setup &setup);
    // Before a count: range 5, the best height found between the steps; emits completeCellCountAF.
    void runCellCount(const Setup &setup);

    bool isRunning() const { return m_running; }
    // The menu current when the scan started (g_CurrentMenu is 9 while it runs).
    int savedMenu() const { return m_savedMenu; }

    // Outcome of the last run.
    TFineAFErrTable errorCode() const { return m_error; }
    bool succeeded() const { return m_succeeded; }
    int bestIndex() const { return m_bestIndex; }
    int bestPosition() const { return m_bestPosition; }
    double bestValue() const { return m_bestValue; }
    int framesScored() const { return int(m_fineAF.focusCurve().size()); }
    qint64 scanMs() const { return m_scanMs; } // from the scan's start to its end
    // The last run ended because a turret moved (the stage went back to where it began).
    bool endedByTurretMove() const { return m_endedByTurretMove; }
    int restarts() const { return m_restarts; } // scans started over in the last run

    FineAF &fineAF() { return m_fineAF; }

public slots:
    // A still from the live video; ignored unless the scan waits for one.
    void captureCompleted(uchar *frame, int bits);
    // The live video refused the still asked for (a turret moved while it was exposed).
    void stillRefused() { m_stillRefused = true; }
    // The end of a stage move; ignored unless a run waits for one.
    void slotMotorPositioningCompleted();

signals:
    void capture();
    void changeHotpixelEnabled(bool suspend);
    void stageSpeedSent();
    void sendAFData(int index, int position, double value);
    void completeTimeLapseAF(int position, bool ok, TFineAFErrTable error);
    void completeCellCountAF(bool ok, TFineAFErrTable error);

private slots:
    void slotCalculrateInterval();
    void slotStartFineAF();
    void slotStepTimedOut();
    void slotTurretReported();
    void slotTurretPauseEnded();

private:
    enum class Kind { Interactive, Background, TimeLapse, CellCount };

    void run(Kind kind, const Setup &setup);
    void runAutoFocus();
    int scanRange() const;
    // A relative stage move of distance steps towards target (positioning check as given).
    void moveBy(int distance, bool checkPosition);
    void waitForStep(int timeoutMs);
    void takeFirstStill(); // a still at a height just reached
    void takeStill();
    // A turret moved during the scan: nothing is scored until the run's own cube is back.
    void meetTurretMove();
    bool ownTurretsInPlace();
    void restartScan();
    void returnToCentre();
    void finishScan();
    void failScan();
    void completedFineAF();
    void closeBox(QPointer<MessageDlg> &box);

    Controller *m_controller;
    FineAF m_fineAF;
    Setup m_setup;
    Kind m_kind = Kind::Interactive;

    bool m_running = false;
    bool m_planned = false;
    bool m_centreKnown = false; // the board reported the stage position when the scan was planned
    bool m_scanFinished = false;
    bool m_returnMovePending = false;
    bool m_awaitingFrame = false;
    bool m_stillRefused = false;
    StillRetakes m_retakes;
    bool m_turretMoved = false;        // a turret reported a move since the scan (re)started
    bool m_endedByTurretMove = false;
    int m_ownFilter = -1;              // the cube and objective in place when the scan started
    int m_ownLens = -1;
    StillRetakes m_turretPauses;       // pauses a run waits for its own cube, over the whole run
    int m_restarts = 0;
    bool m_awaitingMove = false;
    bool m_succeeded = false;
    TFineAFErrTable m_error = FINEAF_NO_ERROR;
    int m_savedMenu = 0;
    int m_bestIndex = 0;
    int m_bestPosition = 0;
    double m_bestValue = 0.0;
    qint64 m_scanMs = 0;
    QElapsedTimer m_scanClock;

    QTimer m_phaseTimer; // single shot: planning, then the scan's start
    QTimer m_stepTimer;  // single shot: a step that takes too long ends the run
    QTimer m_turretTimer; // single shot: the pause after a turret move
    QPointer<MessageDlg> m_initializingBox;
    QPointer<MessageDlg> m_focusingBox;
};
