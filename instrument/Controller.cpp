#include "Controller.h"

#include "CameraAccess.h"

#include "Globals.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include "MonotonicClock.h"
#include "TurretLog.h"

#include <QDebug>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdlib>

namespace {

constexpr int kPositionMisreading = 700000; // no stage reaches this; a reading above is a misread
constexpr int kMaxLensSpeed = 700;
constexpr double kMaxSpeedDivisor = 853.333;

QString chomp(const QString &text)
{
    QString out = text;
    while (out.endsWith(QLatin1Char('\n')) || out.endsWith(QLatin1Char('\r')))
        out.chop(1);
    return out;
}

// The number after prefix in a reply field ("FILTER 2" gives 2); 0 when there is none.
int numberAfter(const QString &field, const QString &prefix)
{
    QString value = field;
    if (value.startsWith(prefix))
        value.remove(0, prefix.size());
    return value.trimmed().toInt();
}

// "OK" stands in the first field after the "$".
bool isOkStatus(const QString &field)
{
    return field.indexOf(QLatin1String("OK"), 1) >= 1;
}

} // namespace

Controller::Controller(QObject *parent)
    : QObject(parent)
    , positioning([this] { return readStagePosition(); })
{
    pollingTimer.setInterval(kPollingIntervalMs);
    g_turretLog.clear(); // what an earlier link learnt says nothing of this one
    lensTimer.setTimerType(Qt::PreciseTimer);
    replyTimer.setSingleShot(true);
    replyTimer.setInterval(kReplyTimeoutMs);
    setUsingSignalAndSlotMechanism(true);
    connect(&lensTimer, &QTimer::timeout, this, &Controller::lensPositioning);
    connect(&pollingTimer, &QTimer::timeout, this, &Controller::pullingCommand);
    connect(&replyTimer, &QTimer::timeout, this, &Controller::replyTimedOut);
    positioning.setReadingLog([](int position) {
        if (isEnableSerialLog())
            qDebug().noquote() << "=== motor  position :" << position;
    });
}

Controller::~Controller()
{
    pollingTimer.stop();
    lensTimer.stop();
    replyTimer.stop();
}

// ---------------------------------------------------------------------------------------------
// Port and dialect

bool Controller::PortOpen(const QString &portName, int baudRate, QSerialPort::Parity parity,
                          QSerialPort::StopBits stopBits, QSerialPort::DataBits dataBits,
                          QSerialPort::FlowControl flowControl)
{
    if (serialPort.isOpen())
        serialPort.close();
    serialPort.setPortName(portName);
    lensInPosition = false;
    filterInPosition = false;
    startupCheck = true;
    portOpen = false;
    replyTimer.stop();
    readyToSend = 1;
    draining = false;
    boardAnswering = true;
    resetUnanswered = false;
    receiveBuffer.clear();
    deferredEvents.clear();
    litCommand.clear();

    if (serialPort.open(QIODevice::ReadWrite) && serialPort.setBaudRate(baudRate)
        && serialPort.setParity(parity) && serialPort.setStopBits(stopBits)
        && serialPort.setDataBits(dataBits) && serialPort.setFlowControl(flowControl)) {
        portOpen = true;
        resendCount = 0;
        serialPort.clear();
        serialPort.setReadBufferSize(1024);
    } else {
        qWarning().noquote() << "Serial port" << portName << "could not be opened:" << serialPort.errorString();
        if (serialPort.isOpen())
            serialPort.close();
    }

    CheckFirmwareVer();

    if (!portOpen)
        return false;
    serialPort.waitForReadyRead(kExchangeTimeoutMs);
    if (serialPort.bytesToWrite() > 0)
        serialPort.waitForBytesWritten(kExchangeTimeoutMs);
    serialPort.clearError();
    readyToSend = 1;
    StartPulling();
    return true;
}

bool Controller::PortClose()
{
    if (!serialPort.isOpen())
        return false;
    pollingTimer.stop();
    replyTimer.stop();
    readyToSend = 1;
    draining = false;
    serialPort.close();
    portOpen = false;
    receiveBuffer.clear();
    deferredEvents.clear();
    litCommand.clear();
    return true;
}

void Controller::StartPulling()
{
    if (!pollingTimer.isActive())
        pollingTimer.start(kPollingIntervalMs);
}

void Controller::StopPulling()
{
    if (pollingTimer.isActive())
        pollingTimer.stop();
    if (!readyToSend && !draining)
        drainLateReply();
}

// Old dialect: the wait for the reply in flight is given up. That reply may still come: for as
// long again the link sends nothing, and a reply that comes is dropped, so that it is never read
// as the answer to a later command. Then the link is free.
void Controller::drainLateReply()
{
    draining = true;
    replyTimer.start(replyWaitMs);
}

bool Controller::isNewFirmwareAbove(double version) const
{
    return static_cast<double>(firmwareVersion) > version;
}

bool Controller::isStageSpeedByMaxAcc() const
{
    return firmwareVersion > 2.5f && firmwareVersion <= 3.0f;
}

void Controller::CheckFirmwareVer()
{
    if (!portOpen)
        return;
    // A busy, refused, cut or garbled answer is asked again; only silence means the old board.
    std::optional<QString> text;
    for (int attempt = 1; attempt <= kVersionAttempts && !text; ++attempt) {
        const QStringList reply = sendToSerialPortFast(QStringLiteral("$A#VER\n"), exchangeTimeoutMs);
        if (isEnableSerialLog() && !reply.isEmpty())
            qDebug().noquote() << reply.first();
        text = versionFrom(reply);
        if (!text && !lastExchangeHeard)
            return;
    }
    if (text)
        useFirmware(*text);
}

// The board speaks the new dialect of this version from now on.
void Controller::useFirmware(const QString &text)
{
    firmwareText = text;
    firmwareVersion = firmwareVer(firmwareText);
    WritePrivateProfileString("NIMBO", "Firmware", firmwareText.toStdString(), configFile().toStdString());

    InitFirmware();
    sendKnobSpeed("COARSE", coarseKnobSpeed);
    sendKnobSpeed("FINE", fineKnobSpeed);

    if (isQCTestMode()) {
        if (reportedFilter != 1) {
            filterPosition = 1;
            reportedFilter = 1;
            filterInPosition = true;
            emit changeFilterPosition(1);
        }
        if (reportedLens != 0) {
            reportedLens = 0;
            lensInPosition = true;
            emit changeLensPosition(0);
        }
    }
}

// A board that was silent to the version question but answers it afterwards (a slow start) speaks
// the new dialect: it would never answer the old one's commands, so the link changes over.
bool Controller::adoptLateVersion(const QString &message)
{
    const std::optional<QString> text = versionFrom({message});
    if (!text)
        return false;
    qWarning().noquote() << "The board answered the version question late (" + *text
                                + "); its new dialect is used from now on";
    // Nothing said in the old dialect reached this board: the stage commands waiting, and the last
    // one sent if no answer or stop followed it, go out again in the new one, after the counter
    // reset of the start if it went unanswered.
    QStringList backlog = commandQueue;
    if (!readyToSend && commandKind == 3 && !inFlightStopped)
        backlog.prepend(lastCommand);
    if (resetUnanswered && !backlog.contains(QLatin1String("Z RESET")))
        backlog.prepend(QStringLiteral("Z RESET"));
    resetUnanswered = false;
    replyTimer.stop();
    draining = false;
    boardAnswering = true;
    readyToSend = 1;
    commandQueue.clear();
    ledQueue.clear();
    firmwareText = *text; // what arrives and goes from now on is in the new dialect
    firmwareVersion = firmwareVer(firmwareText);
    // Its start-up exchanges go out once the delivery under way is over.
    QTimer::singleShot(0, this, [this, version = *text, backlog] { finishLateSwitch(version, backlog); });
    return true;
}

// The board gets what a start in the new dialect sends (status, knob speeds), the light as last
// set, then the stage commands the old dialect could not deliver.
void Controller::finishLateSwitch(const QString &version, const QStringList &backlog)
{
    if (!portOpen) {
        if (!backlog.isEmpty())
            qWarning().noquote() << "The port closed before these commands went out again:" << backlog.join(QLatin1String(", "));
        return;
    }
    useFirmware(version);
    setLightOnOff(lightOn);
    if (lightOn)
        setLEDPower(ledPower);
    if (!backlog.isEmpty())
        qWarning().noquote() << "Sent again in the new dialect:" << backlog.join(QLatin1String(", "));
    for (const QString &command : backlog)
        setZCommand(command);
    // The panel's last speed went out in the old words: it sends one again with its next move.
    emit changeMotorSpeed();
}

std::optional<QString> Controller::versionFrom(const QStringList &reply) const
{
    if (reply.size() != 1)
        return std::nullopt;
    const QStringList fields = reply.first().split(QLatin1Char('#'));
    if (fields.size() != 4 || !isOkStatus(fields[0]) || fields[2] != QLatin1String("VER"))
        return std::nullopt;
    const QString text = fields[3].trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

void Controller::ConvertProtocol(QString &command)
{
    if (command.startsWith(QLatin1Char('Z'))) {
        command.remove(0, 1);
        command.prepend(QLatin1String("STAGE"));
    }
    command.prepend(QLatin1String("$A#"));
}

void Controller::setUsingSignalAndSlotMechanism(bool use)
{
    if (use == readerConnected)
        return;
    if (use)
        connect(&serialPort, &QSerialPort::readyRead, this, &Controller::readFromSerialPort);
    else
        disconnect(&serialPort, &QSerialPort::readyRead, this, &Controller::readFromSerialPort);
    readerConnected = use;
}

// ---------------------------------------------------------------------------------------------
// Sending

void Controller::logLine(const char *prefix, const QString &text) const
{
    qDebug().noquote() << prefix + (QLatin1Char('"') + text + QLatin1Char('"'));
}

bool Controller::writeLine(const QByteArray &bytes)
{
    if (!serialPort.isOpen())
        return false;
    if (writeFailures > 0) {
        --writeFailures;
        return false;
    }
    if (!bytes.startsWith("$OK"))
        lastWriteUs = MonotonicClock::nowUs(); // the reply handled next answers this question
    const qint64 written = serialPort.write(bytes);
    if (written <= 0)
        return false;
    // QSerialPort writes from its event notifier; push the bytes out now, the GUI thread may
    // not return to the event loop before the board must have them.
    serialPort.flush();
    return true;
}

bool Controller::sendToSerialPort(QString command)
{
    if (command == QLatin1String("Z STOP")) {
        if (existFirmwareVer())
            ConvertProtocol(command);
        writeLine(command.toLatin1() + '\n');
        commandQueue.clear();
        inFlightStopped = true;
        if (isEnableSerialLog())
            logLine("SEND : ", command);
        return true;
    }

    const bool newDialect = existFirmwareVer();
    if (!newDialect) {
        if (!readyToSend)
            return false;
        readyToSend = 0;
        inFlightStopped = false;
    }

    if (command.startsWith(QLatin1String("OBJLENS")))
        commandKind = 1;
    else if (command.startsWith(QLatin1String("FILTER"))) {
        if (!newDialect)
            commandKind = 0;
    } else if (command.startsWith(QLatin1String("LED")))
        commandKind = 2;
    else if (command.startsWith(QLatin1Char('Z')) || command.startsWith(QLatin1String("SLIDER")))
        commandKind = 3;
    lastCommand = command;
    const bool stageCommand = commandKind == 3
                              && (command.startsWith(QLatin1Char('Z')) || command.startsWith(QLatin1String("SLIDER")));

    if (!newDialect) {
        const bool poll = command == QLatin1String("FILTER") || command == QLatin1String("OBJLENS");
        if (isEnableSerialLog() && !poll)
            logLine("SEND : ", command);
        if (!writeLine(command.toLatin1() + '\n')) {
            qWarning().noquote() << "SEND FAILED :" << command;
            readyToSend = 1;
            scheduleQueuedSend();
            return false;
        }
        if (command == QLatin1String("Z RESET"))
            resetUnanswered = true;
        replyWaitMs = isOldDialectMove(command) ? moveReplyTimeoutMs : replyTimeoutMs;
        replyTimer.start(replyWaitMs);
        return true;
    }

    ConvertProtocol(command);
    const QStringList replies = sendToSerialPortFast(command + QLatin1Char('\n'), exchangeTimeoutMs);
    for (const QString &reply : replies)
        readResult(reply);
    // A move whose reply was lost or refused still ends in a completion wait, so that whoever
    // waits for the end of the move (a progress box) is released.
    if (stageCommand && positioningCheck)
        isMotorMovingFinished(0);
    return true;
}

// A command that moves the stage: its reply may come only when the move ends.
bool Controller::isOldDialectMove(const QString &command)
{
    if (command.startsWith(QLatin1String("SLIDER")))
        return !command.startsWith(QLatin1String("SLIDER SPEED"));
    return command == QLatin1String("Z BOTTOM")
           || (command.startsWith(QLatin1String("Z ")) && command.mid(2).trimmed().toInt() != 0);
}

// Whether reply (a "$" reply) answers message ("$A#..." with its line end). Each command has
// its own answer: an echo of the command (speeds, maximum and acceleration, knobs, LEDs, and
// every "BUSY" or "NG", which name the command whole), "STAGE" and the position for a move, stop, reset or bottom command of
// the stage or the slider, and the query's own word with its values ("STAGE POS#...",
// "STAGE LIMIT TOP#...", "FILTER n", "OBJ n", "STATUS#...", "VER#..."). A late answer to an
// earlier command of the same topic is therefore never taken for this one's.
bool Controller::answers(const QString &message, const QString &reply)
{
    const QString sent = chomp(message).mid(3); // after "$A#"
    const QString answer = reply.section(QLatin1Char('#'), 2);
    if (answer == sent)
        return true;
    const QString status = reply.section(QLatin1Char('#'), 0, 0).mid(1);
    if (status == QLatin1String("BUSY") || status == QLatin1String("NG"))
        return false; // a refusal names its command whole
    const QString topic = reply.section(QLatin1Char('#'), 2, 2);
    const int fields = reply.count(QLatin1Char('#')) + 1;
    if (isStageMove(sent)) {
        static const QRegularExpression position(QStringLiteral("^STAGE( -?[0-9]+)?$"));
        return fields == 3 && position.match(topic.trimmed()).hasMatch();
    }
    if (sent == QLatin1String("STAGE POS") || sent.startsWith(QLatin1String("STAGE LIMIT ")))
        return topic == sent;
    if (sent == QLatin1String("STATUS") || sent == QLatin1String("VER"))
        return topic == sent;
    if (sent == QLatin1String("FILTER") || sent == QLatin1String("OBJ"))
        return fields == 3 && topic.startsWith(sent + QLatin1Char(' '));
    return false;
}

// A new-dialect command that moves, stops or resets the stage; its answer is the position.
bool Controller::isStageMove(const QString &command)
{
    static const QRegularExpression move(
        QStringLiteral("^(STAGE (-?[0-9]+|STOP|RESET|BOTTOM)|SLIDER (-?[0-9]+|TOP|BOTTOM))$"));
    return move.match(command).hasMatch();
}

bool Controller::isReply(const QString &message) const
{
    if (!message.startsWith(QLatin1Char('$')))
        return false;
    const int end = message.indexOf(QLatin1Char('#'));
    const QString status = message.mid(1, end < 0 ? -1 : end - 1);
    if (status.isEmpty())
        return false;
    for (const QChar c : status) {
        if (c < QLatin1Char('A') || c > QLatin1Char('Z'))
            return false;
    }
    return true;
}

bool Controller::isEvent(const QString &message) const
{
    return message == QLatin1String("$A") || message.startsWith(QLatin1String("$A#"));
}

void Controller::noteIfTurretEvent(const QString &message)
{
    if (isEvent(message) && (message.midRef(3).startsWith(QLatin1String("FILTER"))
                             || message.midRef(3).startsWith(QLatin1String("OBJ"))))
        noteTurretReport();
}

void Controller::drainPort()
{
    while (serialPort.waitForReadyRead(0)) {
    }
    serialPort.clearError();
    receiveBuffer.append(serialPort.readAll());
}

QStringList Controller::sendToSerialPortFast(const QString &message, unsigned int timeoutMs)
{
    const bool quiet = message.contains(QLatin1String("POS"))
                       || (!isQCTestMode() && message.contains(QLatin1String("STATUS")));
    const bool log = isEnableSerialLog() && !quiet;
    if (log)
        logLine("SEND FAST : ", chomp(message));
    if (!serialPort.isOpen()) {
        readyToSend = 1;
        return {};
    }

    exchangeActive = true;
    setUsingSignalAndSlotMechanism(false);

    QByteArray logCopy;
    QString reply;
    // Takes the complete messages received so far: events are acknowledged at once and handled
    // after the exchange; before the write, any other message is a late answer to an earlier
    // command; after it, the first reply is ours and the rest stays for the asynchronous reader.
    auto takeMessages = [&](bool replyExpected) {
        while (receiveBuffer.hasMessage()) {
            const QString msg = receiveBuffer.takeMessage();
            if (isEvent(msg)) {
                noteIfTurretEvent(msg);
                if (eventNeedsAcknowledge(msg))
                    acknowledgeEvent(msg);
                deferredEvents.append(msg);
            } else if (replyExpected && isReply(msg) && answers(message, msg)) {
                reply = msg;
                return true;
            } else {
                logLine("DROPPED : ", msg); // noise, or a reply to another (earlier) command
            }
        }
        return false;
    };

    drainPort();
    takeMessages(false);

    const int64_t start = MonotonicClock::nowMs();
    const int64_t deadline = start + timeoutMs;
    bool written = writeLine(message.toLatin1());
    if (written && serialPort.bytesToWrite() > 0)
        written = serialPort.waitForBytesWritten(static_cast<int>(timeoutMs));

    bool gotReply = false;
    lastExchangeHeard = false;
    while (written) {
        if (takeMessages(true)) {
            gotReply = true;
            break;
        }
        const int64_t remaining = deadline - MonotonicClock::nowMs();
        if (remaining <= 0)
            break;
        if (serialPort.waitForReadyRead(static_cast<int>(remaining))) {
            const QByteArray bytes = serialPort.readAll();
            lastExchangeHeard = lastExchangeHeard || !bytes.isEmpty();
            logCopy.append(bytes);
            receiveBuffer.append(bytes);
        } else if (serialPort.error() != QSerialPort::TimeoutError && serialPort.error() != QSerialPort::NoError) {
            break; // the device went away
        }
    }
    serialPort.clearError();

    if (!gotReply && isEnableSerialLog()) {
        qDebug().noquote() << "/n=== timeout warning ===";
        qDebug().noquote() << "Message : " + QString::fromLatin1(logCopy) + QLatin1Char('\n');
        ++g_TimeoutCount;
    }

    exchangeActive = false;
    setUsingSignalAndSlotMechanism(true);
    // After a long exchange the next poll waits a full interval, so the GUI thread gets its
    // turn between two slow exchanges.
    if (pollingTimer.isActive() && MonotonicClock::nowMs() - start > kPollingIntervalMs)
        pollingTimer.start(kPollingIntervalMs);
    scheduleReceivedMessages();
    readyToSend = 1;

    if (!gotReply)
        return {};
    if (log)
        logLine("RECV FAST : ", reply);
    return {reply};
}

// ---------------------------------------------------------------------------------------------
// Receiving

void Controller::scheduleReceivedMessages()
{
    if (deliveryScheduled)
        return;
    if (deferredEvents.isEmpty() && !receiveBuffer.hasMessage() && serialPort.bytesAvailable() <= 0)
        return;
    deliveryScheduled = true;
    QTimer::singleShot(0, this, [this] {
        deliveryScheduled = false;
        readFromSerialPort();
    });
}

void Controller::readFromSerialPort()
{
    if (exchangeActive)
        return; // the exchange reads the port itself
    if (serialPort.isOpen())
        receiveBuffer.append(serialPort.readAll());
    if (inDelivery)
        return; // the delivery under way takes these too
    deliverReceived();
}

void Controller::deliverReceived()
{
    inDelivery = true;
    for (;;) {
        if (!deferredEvents.isEmpty()) {
            handleEvent(deferredEvents.takeFirst(), false);
            continue;
        }
        if (!receiveBuffer.hasMessage())
            break;
        const QString msg = receiveBuffer.takeMessage();
        noteIfTurretEvent(msg);
        // New dialect: every reply is taken by its exchange; one that comes afterwards is late.
        if (existFirmwareVer() && !isEvent(msg)) {
            logLine("DROPPED : ", msg);
            continue;
        }
        if (adoptLateVersion(msg))
            continue;
        readResult(msg);
    }
    inDelivery = false;
}

void Controller::replyTimedOut()
{
    if (readyToSend)
        return;
    if (!draining) {
        boardAnswering = false;
        confirmLight(); // not waited for longer: whoever waits for the light goes on
        if (isEnableSerialLog()) {
            qDebug().noquote() << "=== timeout warning ===" << lastCommand;
            ++g_TimeoutCount;
        }
        drainLateReply();
        return;
    }
    draining = false;
    readyToSend = 1;
    sendNextQueued();
}

bool Controller::sendNextQueued()
{
    if (!commandQueue.isEmpty()) {
        sendToSerialPort(commandQueue.takeFirst());
        return true;
    }
    if (!ledQueue.isEmpty()) {
        const QString led = ledQueue.last();
        ledQueue.clear();
        changeLight(oldDialectLight(led)); // as it goes out: it changes the light from its reply on
        sendToSerialPort(led);
        return true;
    }
    return false;
}

// Old dialect: a command queued while the link is idle goes out at once; waiting for the next
// reply would hold it for ever while polling is stopped (acquisitions, autofocus).
void Controller::sendIfIdle()
{
    if (!existFirmwareVer() && readyToSend && portOpen)
        sendNextQueued();
}

// What is queued goes out once the GUI thread is back in its event loop: the light and its power,
// given one after the other, as one LED command; the commands behind one whose write failed.
void Controller::scheduleQueuedSend()
{
    if (queuedSendScheduled)
        return;
    queuedSendScheduled = true;
    QTimer::singleShot(0, this, [this] {
        queuedSendScheduled = false;
        sendIfIdle();
    });
}

// Old dialect: a reply that no command waits for (its wait ended, or none was sent) is dropped.
bool Controller::dropUnexpectedReply(const QString &reply)
{
    if (!readyToSend && !draining)
        return false;
    qDebug().noquote() << "LATE REPLY DROPPED :" << reply << "(last command" << lastCommand + ")";
    if (draining) {
        draining = false;
        replyTimer.stop();
        readyToSend = 1;
        sendNextQueued();
    }
    return true;
}

bool Controller::resendAfterRefusal()
{
    if (resendCount++ < 2) {
        sendToSerialPort(lastCommand);
        return true;
    }
    resendCount = 0;
    return false;
}

bool Controller::readResult(const QString &reply)
{
    if (reply.contains(QLatin1Char('$')))
        return readResultNew(reply);

    const QString value = reply.trimmed();
    bool isNumber = false;
    const int number = value.toInt(&isNumber);
    const bool busy = value == QLatin1String("BUSY");
    const bool refused = value == QLatin1String("NG");
    if (!isNumber && !busy && !refused) {
        if (isEnableSerialLog())
            logLine("DROPPED : ", value);
        return false; // line noise; the reply time-out frees the link if no reply follows
    }
    boardAnswering = true;
    if (dropUnexpectedReply(value))
        return false;

    replyTimer.stop();
    readyToSend = 1;
    confirmLight();
    if (lastCommand == QLatin1String("Z RESET"))
        resetUnanswered = false;
    if (startupCheck && isNumber) {
        if (lastCommand == QLatin1String("FILTER"))
            filterInPosition = number >= 0 && number <= 3;
        else if (lastCommand == QLatin1String("OBJLENS"))
            lensInPosition = number >= 1 && number <= 5;
    }
    if (!refused)
        resendCount = 0; // a refusal is resent at most twice in a row
    if (busy)
        return false;
    if (refused && resendAfterRefusal())
        return true;
    // A reply that finds a command waiting is not evaluated; it only lets that command go: a move
    // followed by "Z POS" gives one answer, the position's, not a move's end before it. A caller
    // whose query may find a command queued behind it asks again when no answer comes.
    if (sendNextQueued())
        return true;

    switch (commandKind) {
    case 0:
        if (isNumber)
            handleFilterValue(number);
        break;
    case 1:
        if (isNumber)
            updateLensPosition(number);
        break;
    case 3:
        if (focusMemoryStarted && lastCommand == QLatin1String("Z BOTTOM")) {
            focusMemoryStarted = false;
            focusMemoryMoving = false;
            sendToSerialPort(QStringLiteral("Z POS"));
        } else if (focusMemoryMoving && lastCommand == QLatin1String("Z BOTTOM")) {
            focusMemoryStarted = false;
            focusMemoryMoving = false;
            emit signalFocusMemoryIsBottom();
        } else {
            evaluatingRefusal = refused;
            setMotorPosition(number);
            evaluatingRefusal = false;
        }
        break;
    default:
        break;
    }
    return true;
}

bool Controller::readResultNew(const QString &message)
{
    QStringList fields = message.split(QLatin1Char('#'));
    if (fields.size() < 2)
        return false;
    fields[0].remove(0, 1);
    const QString &status = fields[0];
    if (status != QLatin1String("NG") && status != QLatin1String("A"))
        resendCount = 0;
    if (status == QLatin1String("BUSY"))
        return false;

    bool refused = false;
    if (status == QLatin1String("NG")) {
        if (resendAfterRefusal())
            return true;
        refused = true;
    } else if (status == QLatin1String("A")) {
        handleEvent(message, true);
        return true;
    }

    // A refusal that outlived its resends carries no turret value.
    if (isNewFirmwareAbove(2.3) && fields.size() > 2 && fields[2] == QLatin1String("STATUS")) {
        if (!refused)
            handleStatusReply(fields);
        return true;
    }
    if (!isNewFirmwareAbove(2.3) && fields.size() == 3 && fields[2].startsWith(QLatin1String("FILTER"))) {
        if (!refused) {
            const int slot = numberAfter(fields[2], QStringLiteral("FILTER "));
            handleFilterValue(slot >= 0 && slot <= 4 ? filterFromSlot(slot) : slot);
        }
        return true;
    }
    if (fields.size() == 4 && fields[2].startsWith(QLatin1String("STAGE POS"))) {
        const int position = fields[3].trimmed().toInt();
        emit changeStagePos(position <= 99 ? 0 : position);
    }
    if (commandKind == 3) {
        evaluatingRefusal = refused;
        const bool result = handleStageReply(fields);
        evaluatingRefusal = false;
        return result;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Events

bool Controller::eventNeedsAcknowledge(const QString &message) const
{
    return !message.contains(QLatin1String("OBJ")) || !isNewFirmwareAbove(2.3);
}

void Controller::acknowledgeEvent(const QString &message)
{
    writeLine("$OK#" + message.mid(1).toLatin1() + "\r\n");
}

void Controller::handleEvent(const QString &message, bool acknowledge)
{
    if (isEnableSerialLog() && !message.contains(QLatin1String("FILTER")))
        qDebug().noquote() << "SW RECV : " + chomp(message);
    const QString text = message.mid(3); // after "$A#"
    if (text.contains(QLatin1String("OBJ"))) {
        if (isNewFirmwareAbove(2.3))
            return;
        if (acknowledge)
            acknowledgeEvent(message);
        handleLensEvent(numberAfter(text, QStringLiteral("OBJ ")));
        return;
    }
    // The cube turret came to a stand, maybe where it stood before: what the camera saw changed.
    // An event for the cube a poll already reported in place comes late (events wait for the end
    // of an exchange): that report noted the change, and the sensor may since have started over
    // for the new cube, whose first frame must not be dropped.
    if (text.startsWith(QLatin1String("FILTER"))
        && !(filterInPosition && filterFromSlot(numberAfter(text, QStringLiteral("FILTER "))) == reportedFilter)) {
        noteSceneChange();
        g_turretLog.noteEvent(TurretLog::Filter);
    }
    if (text.contains(QLatin1String("KNOB FINE RUN")) || text.contains(QLatin1String("KNOB COARSE RUN")))
        emit changeMotorSpeed();
    if (acknowledge)
        acknowledgeEvent(message);
}

// ---------------------------------------------------------------------------------------------
// Turrets

int Controller::filterFromSlot(int slot)
{
    return slot >= 1 && slot <= 4 ? 4 - slot : -1;
}

int Controller::ledNumber(int filter)
{
    return filter >= 0 && filter <= 3 ? 4 - filter : 0;
}

void Controller::handleFilterValue(int value)
{
    ++turretReadings;
    // A turret between positions moves, except in QC test mode, where it counts as standing.
    const bool inPlace = value >= 0 && value <= 3;
    g_turretLog.noteReading(TurretLog::Filter, lastWriteUs, inPlace ? value != reportedFilter : !isQCTestMode());
    if (value == reportedFilter)
        return;
    noteSceneChange(); // the camera sees another cube, or none while the turret turns
    if (value >= 0 && value <= 3) {
        // A report from one cube straight to another (the link was not read while the turret
        // turned, as during a still) never passed the turn that puts the old cube's light out.
        if (lightOn && reportedFilter >= 0 && reportedFilter <= 3)
            switchOffLightOf(reportedFilter);
        filterPosition = value;
        filterInPosition = true;
    } else if (isQCTestMode()) {
        filterInPosition = true;
        return;
    } else {
        filterInPosition = false;
    }
    reportedFilter = value;
    emit changeFilterPosition(value);
}

void Controller::handleReportedFilterSlot(int slot)
{
    if (slot >= 1 && slot <= 4) {
        handleFilterValue(filterFromSlot(slot));
        return;
    }
    ++turretReadings;
    g_turretLog.noteReading(TurretLog::Filter, lastWriteUs, !isQCTestMode());
    if (reportedFilter == -1)
        return;
    noteSceneChange();
    if (isQCTestMode()) {
        filterInPosition = true;
        return;
    }
    filterInPosition = false;
    reportedFilter = -1;
    emit changeFilterPosition(-1);
}

void Controller::handleStatusReply(const QStringList &fields)
{
    if (fields.size() != 5)
        return;
    handleReportedFilterSlot(numberAfter(fields[3], QStringLiteral("FILTER ")));
    handleStatusLens(numberAfter(fields[4], QStringLiteral("OBJ ")));
}

void Controller::updateLensPosition(int lens)
{
    ++turretReadings;
    const bool valid = lens >= 1 && lens <= 5;
    g_turretLog.noteReading(TurretLog::Objective, lastWriteUs, valid ? lens != reportedLens : !isQCTestMode());
    if (lens == reportedLens)
        return;
    noteSceneChange();
    if (lens >= 1 && lens <= 5) {
        lensPosition = lens;
        lensInPosition = true;
    } else {
        lensInPosition = isQCTestMode();
    }
    reportedLens = lens;
    emit changeLensPosition(lens);
}

bool Controller::lensCorrectionEnabled() const
{
    return readSetting("LensPos", QStringLiteral("Enable"), "1").toInt() == 1;
}

void Controller::handleStatusLens(int lens)
{
    const bool enabled = lensCorrectionEnabled();
    const bool valid = lens >= 1 && lens <= 5;
    if (!valid) {
        if (enabled) {
            if (isEnableSerialLog() && lensTimerRunning)
                qDebug().noquote() << "==STOP";
            lensTimer.stop();
            lensTimerRunning = false;
        }
        lensChangeArmed = false;
    }
    if (enabled && lensChangeArmed && valid)
        previousLens = lensPosition;
    const bool changed = lens != reportedLens;
    // Disarmed before the change is announced: a report that comes while the panel handles it
    // must not take the new objective for the one the focus belongs to.
    if (changed && valid && enabled)
        lensChangeArmed = false;
    updateLensPosition(lens);
    if (changed && valid) {
        if (enabled)
            startLensTimer();
        else
            previousLens = lens;
    }
}

void Controller::handleLensEvent(int lens)
{
    const bool enabled = lensCorrectionEnabled();
    const bool valid = lens >= 1 && lens <= 5;
    if (enabled && lensTimerRunning) {
        lensTimer.stop();
        lensTimerRunning = false;
        lensChangeArmed = false;
        if (isEnableSerialLog())
            qDebug().noquote() << "==STOP";
    }
    if (enabled && lensChangeArmed && valid) {
        previousLens = lensPosition;
        if (isEnableSerialLog())
            qDebug().noquote() << "Save Lens Pos = " << previousLens;
    }
    if (enabled && valid)
        lensChangeArmed = false;
    updateLensPosition(lens);
    if (valid) {
        if (enabled)
            startLensTimer();
        else
            previousLens = lens;
    }
}

void Controller::startLensTimer()
{
    int delayMs = 500;
    if (isQCTestMode())
        delayMs = static_cast<int>(readSetting("LensPos", QStringLiteral("Delay"), "0.5").toDouble() * 1000);
    lensChangeArmed = false;
    lensTimerRunning = true;
    if (isEnableSerialLog())
        qDebug().noquote() << "==START";
    lensTimer.start(std::max(0, delayMs));
}

// One command of the focus correction: a "BUSY" answer is sent again (the board takes it once
// its move is over), up to kLensSendAttempts times.
Controller::LensAnswer Controller::sendLensCommand(const QString &message)
{
    for (int attempt = 1; attempt <= kLensSendAttempts; ++attempt) {
        const QStringList reply = sendToSerialPortFast(message, exchangeTimeoutMs);
        if (isEnableSerialLog() && !reply.isEmpty())
            qDebug().noquote() << reply.first();
        if (reply.isEmpty())
            return LensAnswer::None;
        const QString status = reply.first().section(QLatin1Char('#'), 0, 0).mid(1);
        if (status == QLatin1String("NG"))
            return LensAnswer::Refused;
        if (status != QLatin1String("BUSY"))
            return LensAnswer::Taken;
        if (attempt < kLensSendAttempts)
            MonotonicClock::sleepMs(kLensBusyPauseMs);
    }
    return LensAnswer::Busy;
}

void Controller::lensPositioning()
{
    lensChangeArmed = true;
    lensTimerRunning = false;
    lensTimer.stop();

    const int from = readSetting("LensPos", QString::number(previousLens), "0").toInt();
    const int to = readSetting("LensPos", QString::number(lensPosition), "0").toInt();
    if (isEnableSerialLog())
        qDebug().noquote() << "Lens" << previousLens << "->" << lensPosition << ":" << from << "->" << to;
    if (from <= 0 || to <= 0 || from == to) {
        previousLens = lensPosition;
        lensRetries = 0;
        return;
    }

    lensPositioningActive = true;
    const bool oldPolling = !isNewFirmwareAbove(2.3);
    const bool wasPolling = pollingTimer.isActive();
    if (oldPolling) {
        pollingTimer.stop();
        readyToSend = 1;
    }
    int speed = readSetting("LensPos", QStringLiteral("Speed"), "700").toInt();
    if (speed < 1 || speed > kMaxLensSpeed)
        speed = kMaxLensSpeed;
    emit changeMotorSpeed();
    // The speed is only how fast: the move goes on without its answer.
    sendLensCommand(QStringLiteral("$A#STAGE SPEED %1\n").arg(speed));
    const LensAnswer moved = sendLensCommand(QStringLiteral("$A#STAGE %1\n").arg(to - from));
    lensPositioningActive = false;
    if (oldPolling) {
        pollingPhase = 2;
        if (wasPolling)
            StartPulling();
    }

    // The correction is done once the board took the move. A board still busy gets it again a
    // little later; a refusal, or a move left unanswered (it may have been made), is not sent a
    // second time.
    if (moved == LensAnswer::Busy && ++lensRetries <= kLensRetries) {
        qDebug().noquote() << "LENS CORRECTION BUSY, again in" << kLensRetryDelayMs << "ms";
        lensChangeArmed = false;
        lensTimerRunning = true;
        lensTimer.start(kLensRetryDelayMs);
        return;
    }
    if (moved == LensAnswer::Refused)
        qDebug().noquote() << "LENS CORRECTION REFUSED :" << to - from;
    else if (moved == LensAnswer::None)
        qDebug().noquote() << "LENS CORRECTION UNANSWERED :" << to - from;
    else if (moved == LensAnswer::Busy)
        qDebug().noquote() << "LENS CORRECTION GIVEN UP, the board stayed busy :" << to - from;
    previousLens = lensPosition;
    lensRetries = 0;
}

bool Controller::checkLensAndFilterPosition()
{
    startupCheck = false;
    return filterInPosition && lensInPosition;
}

std::optional<int> Controller::askNumber(const QString &message, int fields, int field, const QString &prefix)
{
    const QStringList reply = sendToSerialPortFast(message, exchangeTimeoutMs);
    if (reply.size() != 1)
        return std::nullopt;
    const QStringList parts = reply.first().split(QLatin1Char('#'));
    if (parts.size() != fields)
        return std::nullopt;
    return numberAfter(parts[field], prefix);
}

void Controller::InitFirmware()
{
    if (!portOpen || !existFirmwareVer())
        return;
    int filter = -1;
    int lens = 0;
    bool statusRead = false;
    const QStringList reply = sendToSerialPortFast(QStringLiteral("$A#STATUS\n"), exchangeTimeoutMs);
    if (reply.size() == 1) {
        const QStringList fields = reply.first().split(QLatin1Char('#'));
        if (fields.size() == 5 && isOkStatus(fields[0]) && fields[2] == QLatin1String("STATUS")) {
            statusRead = true;
            filter = filterFromSlot(numberAfter(fields[3], QStringLiteral("FILTER ")));
            lens = numberAfter(fields[4], QStringLiteral("OBJ "));
        }
    }
    // Without a usable status the turrets are asked one by one.
    if (!statusRead || filter == -1)
        filter = filterFromSlot(askNumber(QStringLiteral("$A#FILTER\n"), 3, 2, QStringLiteral("FILTER ")).value_or(0));
    if (lens < 1)
        lens = askNumber(QStringLiteral("$A#OBJ\n"), 3, 2, QStringLiteral("OBJ ")).value_or(0);

    previousLens = lens;
    updateLensPosition(lens);
    handleFilterValue(filter);
}

// ---------------------------------------------------------------------------------------------
// Polling

void Controller::pullingCommand()
{
    if (!readyToSend || exchangeActive)
        return;
    if (pollingPhase == 1) {
        pollingPhase = 2;
        sendToSerialPort(isNewFirmwareAbove(2.3) ? QStringLiteral("STATUS") : QStringLiteral("FILTER"));
        return;
    }
    pollingPhase = 1;
    if (!existFirmwareVer())
        sendToSerialPort(QStringLiteral("OBJLENS"));
    else if (!lensPositioningActive)
        sendToSerialPort(QStringLiteral("STAGE POS"));
}

// ---------------------------------------------------------------------------------------------
// Light

void Controller::setLEDPower(int power)
{
    ledPower = power;
    if (!lightOn)
        return;
    if (!existFirmwareVer()) {
        queueLight(QStringLiteral("LED %1 %2").arg(filterPosition).arg(power));
        return;
    }
    int sent = power;
    const bool fineScale = g_CurrentMenu == MENU_CELLCOUNT && filterPosition == 0;
    if (firmwareVersion > 2.5f && !fineScale && !unscaledLedPower)
        sent = power * 10;
    const QString command = QStringLiteral("LED BRT%1 %2").arg(ledNumber(filterPosition)).arg(sent);
    sendLight(command, sent > 0 ? command : QString());
}

void Controller::setLightOnOff(bool on)
{
    lightOn = on;
    if (existFirmwareVer()) {
        if (!on)
            sendLight(QStringLiteral("LED OFF%1").arg(ledNumber(filterPosition)), QString());
        return;
    }
    queueLight(on ? QStringLiteral("LED %1 %2").arg(filterPosition).arg(ledPower)
                  : QStringLiteral("LED %1 0").arg(filterPosition));
}

void Controller::sendLight(const QString &command, const QString &lit)
{
    const bool changes = changeLight(lit);
    sendToSerialPort(command);
    if (changes)
        emit signalLightConfirmed(); // the exchange had its reply, or its time-out
}

bool Controller::changeLight(const QString &lit)
{
    if (lit == litCommand)
        return false;
    noteSceneChange(); // the frame under way saw the light before
    litCommand = lit;
    return true;
}

QString Controller::oldDialectLight(const QString &command)
{
    return command.section(QLatin1Char(' '), 2).toInt() > 0 ? command : QString();
}

void Controller::queueLight(const QString &command)
{
    ledQueue.append(command);
    lightAwaited = oldDialectLight(command) != litCommand;
    scheduleQueuedSend();
}

void Controller::confirmLight()
{
    if (!lightAwaited || !ledQueue.isEmpty() || !lastCommand.startsWith(QLatin1String("LED ")))
        return;
    lightAwaited = false;
    emit signalLightConfirmed();
}

void Controller::switchOffLightOf(int filter)
{
    litCommand.clear(); // part of the turn, which is a change of scene of its own
    if (existFirmwareVer()) {
        sendToSerialPort(QStringLiteral("LED OFF%1").arg(ledNumber(filter)));
        return;
    }
    // Not the light queue, which keeps only its newest command: the new cube's light would replace it.
    commandQueue.append(QStringLiteral("LED %1 0").arg(filter));
    scheduleQueuedSend();
}

bool Controller::sendLightNow()
{
    if (existFirmwareVer() || !portOpen)
        return true;
    if (exchangeActive || inDelivery)
        return false; // a reader is under way: the queued command follows its reply
    return drainOldDialect(MonotonicClock::nowMs() + replyTimeoutMs);
}

bool Controller::refreshTurretPositions()
{
    if (!portOpen)
        return true; // no link: nothing to learn, as before
    if (exchangeActive || inDelivery) {
        // Asked from a reply's handling: what it knows, and the reports that wait behind that reply.
        if (serialPort.isOpen())
            receiveBuffer.append(serialPort.readAll());
        for (const QString &message : receiveBuffer.messages())
            noteIfTurretEvent(message);
        return filterInPosition && lensInPosition;
    }
    const uint64_t before = turretReadings;
    bool answered = false;
    if (existFirmwareVer()) {
        // The new dialect reports the objective of older firmware by events, read on the way.
        sendToSerialPort(isNewFirmwareAbove(2.3) ? QStringLiteral("STATUS") : QStringLiteral("FILTER"));
        answered = turretReadings > before;
    } else {
        const int64_t deadline = MonotonicClock::nowMs() + replyTimeoutMs;
        answered = askOldDialect(QStringLiteral("FILTER"), deadline) && askOldDialect(QStringLiteral("OBJLENS"), deadline);
    }
    return answered && filterInPosition && lensInPosition;
}

bool Controller::askOldDialect(const QString &query, int64_t deadlineMs)
{
    if (!drainOldDialect(deadlineMs))
        return false;
    const uint64_t before = turretReadings;
    return sendToSerialPort(query) && drainOldDialect(deadlineMs) && turretReadings > before;
}

bool Controller::drainOldDialect(int64_t deadline)
{
    for (;;) {
        if (readyToSend && !sendNextQueued())
            return true; // nothing in flight, nothing queued
        const int64_t remaining = deadline - MonotonicClock::nowMs();
        if (remaining <= 0 || !boardAnswering)
            break; // a board that left its last command unanswered is not waited for again
        if (serialPort.bytesAvailable() <= 0 && !serialPort.waitForReadyRead(int(remaining)))
            break;
        readFromSerialPort(); // the reply frees the link and sends what is queued
    }
    serialPort.clearError();
    return false;
}

// ---------------------------------------------------------------------------------------------
// Stage and knobs

void Controller::setZCommand(const QString &command)
{
    if (!existFirmwareVer()) {
        if (command == QLatin1String("Z STOP")) {
            sendToSerialPort(command);
        } else {
            commandQueue.append(command);
            sendIfIdle();
        }
        return;
    }
    if (isStageSpeedByMaxAcc() && command.startsWith(QLatin1String("Z SPEED"))) {
        commandKind = 3;
        lastCommand = QStringLiteral("Z SPEED 100");
        setMotorPosition(0);
        return;
    }
    sendToSerialPort(command);
}

void Controller::setZCommandForSpeed(int speed)
{
    lastMoveDistance = 0;
    const QString command = QStringLiteral("Z SPEED %1").arg(speed);
    // The old link takes one command at a time: the speed waits its turn instead of being lost.
    if (!existFirmwareVer())
        setZCommand(command);
    else
        sendToSerialPort(command);
}

// The speeds are kept: the old board has no knob speeds (it would leave them unanswered), and a
// board whose version answer comes late gets them then.
void Controller::setCoarseKnobSpeed(int speed)
{
    coarseKnobSpeed = speed;
    sendKnobSpeed("COARSE", coarseKnobSpeed);
}

void Controller::setFineKnobSpeed(int speed)
{
    fineKnobSpeed = speed;
    sendKnobSpeed("FINE", fineKnobSpeed);
}

void Controller::sendKnobSpeed(const char *knob, std::optional<int> speed)
{
    if (speed && portOpen && existFirmwareVer())
        sendToSerialPortFast(QStringLiteral("$A#KNOB %1 %2\n").arg(QLatin1String(knob)).arg(*speed), exchangeTimeoutMs);
}

bool Controller::handleStageReply(const QStringList &fields)
{
    if (positioningCheck)
        return isMotorMovingFinished(0);
    if (fields.size() < 3)
        return false;
    if (fields[2].startsWith(QLatin1String("STAGE POS"))) {
        if (fields.size() < 4)
            return false;
        setMotorPosition(fields[3].trimmed().toInt());
        return true;
    }
    if (fields[2].startsWith(QLatin1String("STAGE"))) {
        setMotorPosition(numberAfter(fields[2], QStringLiteral("STAGE")));
        return true;
    }
    return false;
}

void Controller::setMotorPosition(int position)
{
    if (zStacking) {
        if (existFirmwareVer())
            qDebug().noquote() << "=== Motor Position Error!!!!!!!!!!!!!!";
        if (lastCommand.startsWith(QLatin1String("Z POS")))
            emit signalMovedStartPosition();
        else
            emit signalMovedMotorPosition();
        return;
    }
    if (lastCommand == QStringLiteral("Z %1").arg(motorMovingStep)
        || lastCommand == QStringLiteral("SLIDER %1").arg(motorMovingStep)) {
        if (focusMoveByStep)
            emit signalFocusingEnable();
        return;
    }
    if (lastCommand == QLatin1String("Z POS")) {
        if (!evaluatingRefusal) // a refused query has no position to report
            emit signalCurrentMotorPosition(position);
        return;
    }
    if (lastCommand == QStringLiteral("Z %1").arg(focusMemoryPosition) && !existFirmwareVer())
        emit signalSetCurrentFocusMemoryPosition();
}

std::optional<int> Controller::readStagePosition()
{
    const QStringList reply = sendToSerialPortFast(QStringLiteral("$A#STAGE POS\n"), exchangeTimeoutMs);
    if (reply.size() != 1)
        return std::nullopt;
    const QStringList fields = reply.first().split(QLatin1Char('#'));
    if (fields.size() != 4 || !fields[2].startsWith(QLatin1String("STAGE POS")))
        return std::nullopt;
    bool ok = false;
    const int position = fields[3].trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return position;
}

std::optional<int> Controller::getCurrentMotorPosition()
{
    // Only the new dialect answers a position query at once; asking an old board would block
    // and swallow its replies.
    if (!existFirmwareVer())
        return std::nullopt;
    std::optional<int> position = readStagePosition();
    if (!position || *position <= kPositionMisreading)
        return position;
    if (isEnableSerialLog())
        qDebug().noquote() << "== pos error == nCurPos : " << *position;
    delay(100);
    position = readStagePosition();
    qDebug().noquote() << "== pos requery == nCurPos : " << (position ? QString::number(*position) : QStringLiteral("none"));
    if (position && *position > kPositionMisreading)
        return std::nullopt; // misread twice: no position is better than a wrong one
    return position;
}

bool Controller::CheckMotorPosition(TMoveLimit limit)
{
    if (!existFirmwareVer())
        return false; // the old dialect has no limit query: the stage is driven to the limit
    const QString message = limit == MOVE_LIMIT_TOP ? QStringLiteral("$A#STAGE LIMIT TOP\n")
                                                    : QStringLiteral("$A#STAGE LIMIT BOTTOM\n");
    const QStringList reply = sendToSerialPortFast(message, exchangeTimeoutMs);
    if (reply.size() != 1)
        return false;
    const QStringList fields = reply.first().split(QLatin1Char('#'));
    return fields.size() == 4 && fields[2].startsWith(QLatin1String("STAGE"))
           && fields[3].trimmed() == QLatin1String("1");
}

bool Controller::isMotorMovingFinished(int timeoutMs)
{
    if (isEnableSerialLog())
        qDebug().noquote() << "=== target position :" << targetPosition;
    const bool finished = positioning.waitUntilStopped(targetPosition, timeoutMs);
    positioningConfirmed = finished;
    if (finished) {
        targetPosition = MotorPositioningThread::kNoTarget;
        if (isEnableSerialLog())
            qDebug().noquote() << "=== motor moving finished" << positioning.previousReading().value_or(0)
                               << positioning.lastReading().value_or(0);
    } else if (isEnableSerialLog()) {
        qDebug().noquote() << "=== timeout warning ===";
    }
    finishPositioning();
    return finished;
}

void Controller::finishPositioning()
{
    if (!positioningCheck)
        return;
    positioningCheck = false;
    emit signalMotorPositioningCompleted();
}

void Controller::setMotorMaxSpeed(int distance)
{
    const std::optional<int> position = getCurrentMotorPosition();
    targetPosition = position ? static_cast<int>(std::clamp<int64_t>(int64_t(*position) + distance, -2147483646, 2147483647))
                              : MotorPositioningThread::kNoTarget;
    const int length = distance == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : std::abs(distance);
    if (length == lastMoveDistance)
        return;
    lastMoveDistance = length;
    if (!isStageSpeedByMaxAcc())
        return;

    bool ok = false;
    int acc = readSetting("Setting_Misc", QStringLiteral("Accel"), "700").toInt(&ok);
    if (!ok || acc <= 0)
        acc = 700;
    float reduction = readSetting("Setting_Misc", QStringLiteral("Reduction"), "1").toFloat(&ok);
    if (!ok || !(reduction > 0.0f))
        reduction = 1.0f;
    const double product = static_cast<double>(int64_t(length) * acc);
    const int maxSpeed = static_cast<int>(std::sqrt(product / kMaxSpeedDivisor) * reduction);
    sendToSerialPortFast(QStringLiteral("$A#STAGE#MAX#%1\n").arg(maxSpeed), exchangeTimeoutMs);
    sendToSerialPortFast(QStringLiteral("$A#STAGE#ACC#%1\n").arg(acc), exchangeTimeoutMs);
}

// ---------------------------------------------------------------------------------------------
// Configuration

QString Controller::configFile()
{
    return Paths::configFile();
}

QString Controller::readSetting(const char *section, const QString &key, const char *def)
{
    std::string out;
    ReadPrivateProfileString(section, key.toStdString(), def, out, configFile().toStdString());
    return QString::fromStdString(out);
}
