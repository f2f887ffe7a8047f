#pragma once
#include "MotorPositioningThread.h"
#include "SerialFramer.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

// Which limit switch of the focus stage CheckMotorPosition asks.
enum TMoveLimit : int {
    MOVE_LIMIT_BOTTOM = 0,
    MOVE_LIMIT_TOP = 1,
};

// The program's link to the instrument's controller board (LEDs, filter and objective turrets,
// focus stage, focus knobs) over one serial line, in the firmware's old dialect (bare commands,
// one in flight, replies read as they arrive) or its new one ("$A#..." messages, synchronous
// request and reply). It polls the turret positions and the stage every 200 ms, answers the
// board's events and waits for the end of stage moves. Everything runs on the GUI thread; a
// synchronous exchange blocks it for at most its time-out.
class Controller : public QObject
{
    Q_OBJECT

public:
    static constexpr int kExchangeTimeoutMs = 1000; // every synchronous exchange
    static constexpr int kReplyTimeoutMs = 1000;    // old dialect: a reply that does not come frees the link
    static constexpr int kMoveReplyTimeoutMs = MotorPositioningThread::kDefaultTimeoutMs; // ... a move's reply
    static constexpr int kVersionAttempts = 3;      // "$A#VER" asked again after an answer that is no version
    static constexpr int kPollingIntervalMs = 200;
    static constexpr int kLensSendAttempts = 3;     // a focus-correction command answered "BUSY" is sent again
    static constexpr int kLensBusyPauseMs = 100;    // ... after this pause
    static constexpr int kLensRetries = 3;          // a correction the board stayed busy for is tried again
    static constexpr int kLensRetryDelayMs = 1000;  // ... this much later

    explicit Controller(QObject *parent = nullptr);
    ~Controller() override;

    // Port and dialect.
    bool PortOpen(const QString &portName, int baudRate, QSerialPort::Parity parity,
                  QSerialPort::StopBits stopBits, QSerialPort::DataBits dataBits,
                  QSerialPort::FlowControl flowControl);
    bool PortClose();
    bool isPortOpen() const { return portOpen; }
    void StartPulling();
    void StopPulling();
    bool isPulling() const { return pollingTimer.isActive(); }
    bool existFirmwareVer() const { return !firmwareText.isEmpty(); }
    float getFirmwareVer() const { return firmwareVersion; }
    QString getFirmwareText() const { return firmwareText; }
    bool isStageSpeedByMaxAcc() const;

    // Sending. command is in the old wording; it goes out in the dialect in use.
    bool sendToSerialPort(QString command);
    // One synchronous exchange: message is in new-dialect form ending in LF. Events met while
    // waiting are handled and acknowledged; the wait goes on for the reply until timeoutMs after
    // the write. Returns the reply (normally one message, without line end), or nothing.
    QStringList sendToSerialPortFast(const QString &message, unsigned int timeoutMs);
    static void ConvertProtocol(QString &command);
    void setUsingSignalAndSlotMechanism(bool use);

    // Replies and events.
    bool readResult(const QString &reply);
    bool readResultNew(const QString &message);
    void CheckFirmwareVer();
    void InitFirmware();
    bool checkLensAndFilterPosition();

    // Light, stage and knobs.
    void setLEDPower(int power);
    void setLightOnOff(bool on);
    // Old dialect: the queued light command goes out now (after the reply to the command in
    // flight) and its reply is awaited, at most the reply time-out, so that the light is on when
    // this returns, as a new-dialect exchange leaves it. False when the board did not answer in
    // that time: what is still queued goes out from the event loop, as before.
    bool sendLightNow();
    // Old dialect: a light command that changes the light (on, off or another power) is queued
    // or in flight and its reply has not come yet; signalLightConfirmed follows the reply (or the
    // reply's time-out). The new dialect's light command has its reply when it returns. Every
    // change of the light is a change of scene from the moment its command goes out.
    bool isLightAwaited() const { return lightAwaited; }
    // Asks the board where both turrets stand and takes the answer as a poll's (old dialect: at
    // most the reply time-out, after what is in flight or queued). True when an answer came and
    // both stand in position; true without an open port, where nothing can be learned. Called
    // while a reply is handled, it cannot ask: it says what the link knows. Either way every
    // turret event the board sent before is read first (noteTurretReport), so that a still is
    // judged by every report of its exposure, also a move that ended where it began.
    bool refreshTurretPositions();
    void setZCommand(const QString &command);
    void setZCommandForSpeed(int speed);
    // Kept, and sent whenever the board speaks the new dialect (also from a late version answer on).
    void setCoarseKnobSpeed(int speed);
    void setFineKnobSpeed(int speed);

    // Focus-stage positioning.
    void setMotorMovingStep(int step) { motorMovingStep = step; }
    void SetFocusMoveByStep(bool byStep) { focusMoveByStep = byStep; }
    void setStartZStacking(bool on) { zStacking = on; }
    void setMotorPositioningCheck(bool on) { positioningCheck = on; }
    bool motorPositioningCheck() const { return positioningCheck; }
    // False when the last completion wait ended by its time-out (no reply, or a stage that never
    // stood still): the move's end was reported but not seen.
    bool lastPositioningConfirmed() const { return positioningConfirmed; }
    void setFocusMemoryIsStarted(bool on) { focusMemoryStarted = on; }
    void setFocusMemoryIsMoving(bool on) { focusMemoryMoving = on; }
    void setCurrentFocusMemoryPosition(int position) { focusMemoryPosition = position; }
    void setMotorMaxSpeed(int distance);
    // The stage position in motor steps; no value when the board gave no usable reading or
    // speaks the old dialect, which has no synchronous query.
    std::optional<int> getCurrentMotorPosition();
    // Whether the stage stands at the limit; false on the old dialect (not known).
    bool CheckMotorPosition(TMoveLimit limit);
    bool isMotorMovingFinished(int timeoutMs);
    void setMotorPosition(int position);
    int getTargetPosition() const { return targetPosition; }

    // State for the control panel and the tests.
    int getFilterPosition() const { return filterPosition; }
    int getReportedFilter() const { return reportedFilter; }
    int getLensPosition() const { return lensPosition; }
    int getReportedLens() const { return reportedLens; }
    bool isFilterInPosition() const { return filterInPosition; }
    bool isLensInPosition() const { return lensInPosition; }
    // A focus correction for an objective change is waiting for its delay.
    bool lensCorrectionPending() const { return lensTimerRunning; }
    bool isReadyToSend() const { return readyToSend != 0; }
    // Old dialect: a stage move waits for its reply (which may come only when the move ends) from
    // a board that answered its last command.
    bool isAwaitingMoveReply() const
    {
        return !readyToSend && !draining && boardAnswering && replyWaitMs == moveReplyTimeoutMs;
    }
    int getLedPower() const { return ledPower; }
    bool isLightOn() const { return lightOn; }

    // The move-completion wait (its clock can be replaced in tests).
    MotorPositioningThread &motorPositioning() { return positioning; }

    // For tests: the next count writes to the port fail, as on a broken line.
    void setWriteFailures(int count) { writeFailures = count; }
    // For tests: how long the old dialect waits for a move's reply (0 or less: kMoveReplyTimeoutMs).
    void setMoveReplyTimeoutMs(int ms) { moveReplyTimeoutMs = ms > 0 ? ms : kMoveReplyTimeoutMs; }
    // For tests: how long the old dialect waits for any other reply (0 or less: kReplyTimeoutMs).
    void setReplyTimeoutMs(int ms) { replyTimeoutMs = ms > 0 ? ms : kReplyTimeoutMs; }
    // For tests: how long a synchronous exchange waits for its reply (0 or less: kExchangeTimeoutMs).
    void setExchangeTimeoutMs(int ms) { exchangeTimeoutMs = ms > 0 ? ms : kExchangeTimeoutMs; }

    // Written by the control panel's hot-pixel light routine: the LED power goes out unscaled.
    bool unscaledLedPower = false;

signals:
    void changeFilterPosition(int position);
    void changeLensPosition(int position);
    void changeMotorSpeed();
    void signalFocusingEnable();
    void signalCurrentMotorPosition(int motorPosition);
    void signalMovedStartPosition();
    void signalMovedMotorPosition();
    void signalSetCurrentFocusMemoryPosition();
    void signalFocusMemoryIsBottom();
    void signalMotorPositioningCompleted();
    void changeStagePos(int nPos);
    // The board answered a light command that changed the light (or gave no answer in time):
    // the LED gives the new light.
    void signalLightConfirmed();

public slots:
    void readFromSerialPort();

private slots:
    void pullingCommand();
    void lensPositioning();
    void replyTimedOut();

private:
    bool isNewFirmwareAbove(double version) const;
    bool writeLine(const QByteArray &bytes);
    void logLine(const char *prefix, const QString &text) const;
    void drainPort();
    // Old dialect: sends what is queued and reads the replies until nothing is in flight or
    // queued; false at the deadline or when the board left its last command unanswered.
    bool drainOldDialect(int64_t deadlineMs);
    // Old dialect: one turret query answered by the deadline.
    bool askOldDialect(const QString &query, int64_t deadlineMs);
    void scheduleReceivedMessages();
    bool isEvent(const QString &message) const;
    // A turret's event read from the link is noted for the still under way (noteTurretReport).
    void noteIfTurretEvent(const QString &message);
    bool sendNextQueued();
    bool resendAfterRefusal();
    void acknowledgeEvent(const QString &message);
    void handleEvent(const QString &message, bool acknowledge);
    bool eventNeedsAcknowledge(const QString &message) const;
    bool isReply(const QString &message) const;
    void deliverReceived();
    void sendIfIdle();
    void scheduleQueuedSend();
    void switchOffLightOf(int filter);
    // Old dialect: the light command goes out with the next free link; its reply is awaited when
    // it changes the light.
    void queueLight(const QString &command);
    // New dialect: one light command and its exchange; lit is what the board gives after it
    // (empty: dark). signalLightConfirmed follows when it changed the light.
    void sendLight(const QString &command, const QString &lit);
    // The light becomes lit (empty: dark): false when it already was; otherwise the scene
    // changes now.
    bool changeLight(const QString &lit);
    // What an old-dialect light command lights: itself, or empty for power 0.
    static QString oldDialectLight(const QString &command);
    // The reply to the last light command that changed the light came (or its wait ended):
    // signalLightConfirmed.
    void confirmLight();
    void drainLateReply();
    bool dropUnexpectedReply(const QString &reply);
    std::optional<QString> versionFrom(const QStringList &reply) const;
    void useFirmware(const QString &text);
    bool adoptLateVersion(const QString &message);
    void finishLateSwitch(const QString &version, const QStringList &backlog);
    void sendKnobSpeed(const char *knob, std::optional<int> speed);
    static bool isOldDialectMove(const QString &command);
    static bool isStageMove(const QString &command);
    static bool answers(const QString &message, const QString &reply);
    bool handleStageReply(const QStringList &fields);
    void handleStatusReply(const QStringList &fields);
    void handleFilterValue(int value);
    void handleReportedFilterSlot(int slot);
    void updateLensPosition(int lens);
    void handleStatusLens(int lens);
    void handleLensEvent(int lens);
    void startLensTimer();
    enum class LensAnswer { Taken, Busy, Refused, None };
    LensAnswer sendLensCommand(const QString &message);
    bool lensCorrectionEnabled() const;
    void finishPositioning();
    std::optional<int> readStagePosition();
    std::optional<int> askNumber(const QString &message, int fields, int field, const QString &prefix);
    static int filterFromSlot(int slot);
    static int ledNumber(int filter);
    static QString configFile();
    static QString readSetting(const char *section, const QString &key, const char *def);

    bool lensInPosition = false;
    bool filterInPosition = false;
    bool startupCheck = false;
    QSerialPort serialPort;
    int readyToSend = 1;
    bool portOpen = false;
    SerialFramer receiveBuffer;
    int commandKind = 0;
    int resendCount = 0;
    QString lastCommand;
    QStringList commandQueue;
    QStringList ledQueue;
    bool zStacking = false;
    QTimer pollingTimer;
    int pollingPhase = 1;
    int filterPosition = -10;
    int reportedFilter = -10;
    int lensPosition = -10;
    int reportedLens = -10;
    int ledPower = 50;
    bool lightOn = false;
    bool lightAwaited = false;
    QString litCommand;           // the light command the board last took that lights; empty: dark
    int motorMovingStep = 0;
    bool focusMemoryStarted = false;
    bool focusMemoryMoving = false;
    int focusMemoryPosition = 0;
    QString firmwareText;
    bool positioningCheck = false;
    bool positioningConfirmed = true;
    bool focusMoveByStep = true;
    bool lensChangeArmed = true;
    bool lensTimerRunning = false;
    int previousLens = 0;
    QTimer lensTimer;
    bool lensPositioningActive = false;
    int lensRetries = 0;          // busy rounds of the current focus correction
    int lastMoveDistance = 0;
    uint64_t turretReadings = 0;  // turret positions read from the board, changed or not
    int64_t lastWriteUs = 0;      // the last command or question written (not acknowledgements)
    int targetPosition = MotorPositioningThread::kNoTarget;
    float firmwareVersion = 0.0f;

    QTimer replyTimer;            // old dialect: the reply in flight
    int replyWaitMs = kReplyTimeoutMs; // ... and how long it may take
    bool draining = false;        // old dialect: the wait ended; a late reply is dropped before the next command
    bool boardAnswering = true;   // old dialect: no reply wait has ended without its reply since the last reply
    bool inFlightStopped = false; // old dialect: a "Z STOP" went out after the command in flight
    bool resetUnanswered = false; // old dialect: a "Z RESET" went out and no answer to it came
    std::optional<int> coarseKnobSpeed; // the knob speeds last given
    std::optional<int> fineKnobSpeed;
    bool queuedSendScheduled = false;
    int writeFailures = 0;        // tests: writes still to fail
    int moveReplyTimeoutMs = kMoveReplyTimeoutMs;
    int replyTimeoutMs = kReplyTimeoutMs;
    int exchangeTimeoutMs = kExchangeTimeoutMs;
    bool lastExchangeHeard = false; // the last synchronous exchange received any byte
    bool exchangeActive = false;  // inside sendToSerialPortFast
    bool inDelivery = false;      // readFromSerialPort is handing messages on
    bool evaluatingRefusal = false; // a command refused three times is being evaluated
    QStringList deferredEvents;   // events acknowledged during an exchange, handled after it
    bool readerConnected = false; // readyRead() goes to readFromSerialPort()
    bool deliveryScheduled = false;
    MotorPositioningThread positioning;
};
