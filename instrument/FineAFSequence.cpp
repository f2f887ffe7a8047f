#include "FineAFSequence.h"

#include "CameraAccess.h"
#include "Controller.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QApplication>
#include <QDebug>
#include <QEventLoop>

namespace {
const char *const kInitializingText = "<p><b>Initializing ...</b></p>";
const char *const kFocusingText = "<p><b>Focusing ...</b><br/><br/>Do not touch the focus knobs.</p>";
const char *const kCompletedText = "Fine AF Completed.";
const char *const kFailedText = "Fine AF Failed.";
// A step's end of move comes after the Controller's completion wait at the latest; a still after
// the camera's stall limit. Past these margins the run ends as failed.
constexpr int kMoveMarginMs = 5000;
constexpr int kFrameMarginMs = 3000;

QString readSetting(const char *section, const QString &key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key.toStdString(), def, value, Paths::configFile().toStdString());
    return QString::fromStdString(value).trimmed();
}

MessageDlg *progressBox(const char *text)
{
    auto *box = new MessageDlg(nullptr);
    box->setMessage(QString::fromLatin1(text));
    box->setButtonVisibility(MSG_BUTTON_NONE);
    return box;
}
} // namespace

FineAFSequence::FineAFSequence(Controller *controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
    qRegisterMetaType<TFineAFErrTable>("TFineAFErrTable");
    m_phaseTimer.setSingleShot(true);
    m_stepTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &FineAFSequence::slotStepTimedOut);
    m_turretTimer.setSingleShot(true);
    connect(&m_turretTimer, &QTimer::timeout, this, &FineAFSequence::slotTurretPauseEnded);
    if (controller) {
        connect(controller, &Controller::changeFilterPosition, this, &FineAFSequence::slotTurretReported);
        connect(controller, &Controller::changeLensPosition, this, &FineAFSequence::slotTurretReported);
    }
}

FineAFSequence::~FineAFSequence()
{
    delete m_initializingBox.data();
    delete m_focusingBox.data();
}

void FineAFSequence::runInteractive(const Setup &setup)
{
    run(Kind::Interactive, setup);
}

void FineAFSequence::runBackground(const Setup &setup)
{
    run(Kind::Background, setup);
}

void FineAFSequence::runTimeLapse(const Setup &setup)
{
    m_bestIndex = 0;
    m_bestPosition = 0;
    m_bestValue = 0.0;
    const bool started = !m_running;
    run(Kind::TimeLapse, setup);
    if (!started)
        m_succeeded = false;
    emit sendAFData(m_bestIndex, m_bestPosition, m_bestValue);
    emit completeTimeLapseAF(m_controller->getCurrentMotorPosition().value_or(0), m_succeeded, m_error);
}

void FineAFSequence::runCellCount(const Setup &setup)
{
    const bool started = !m_running;
    run(Kind::CellCount, setup);
    if (!started)
        m_succeeded = false;
    emit completeCellCountAF(m_succeeded, m_error);
}

void FineAFSequence::run(Kind kind, const Setup &setup)
{
    if (m_running) {
        qWarning() << "FineAF: a run is already in progress";
        return;
    }
    m_kind = kind;
    m_setup = setup;
    runAutoFocus();
    m_kind = Kind::Interactive;
}

void FineAFSequence::runAutoFocus()
{
    m_running = true;
    m_planned = false;
    m_scanFinished = false;
    m_returnMovePending = false;
    m_awaitingFrame = false;
    m_awaitingMove = false;
    m_succeeded = false;
    m_error = FINEAF_NO_ERROR;
    m_scanMs = 0;
    m_turretMoved = false;
    m_endedByTurretMove = false;
    m_turretPauses.reset();
    m_restarts = 0;
    const bool interactive = m_kind == Kind::Interactive;

    if (!interactive) {
        slotCalculrateInterval();
    } else {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_phaseTimer.disconnect();
        connect(&m_phaseTimer, &QTimer::timeout, this, &FineAFSequence::slotCalculrateInterval);
        m_phaseTimer.start(kPhaseDelayMs);
        m_initializingBox = progressBox(kInitializingText);
        m_initializingBox->exec();
        delete m_initializingBox.data();
        if (!m_planned) { // the box was closed before its time
            m_phaseTimer.stop();
            slotCalculrateInterval();
        }
        QApplication::changeOverrideCursor(Qt::ArrowCursor);
    }

    if (m_error != FINEAF_NO_ERROR) {
        m_running = false;
        if (interactive) {
            QApplication::restoreOverrideCursor();
            MessageDlg box(nullptr);
            box.setMsgType(fineAFErrorMessage(m_error));
            box.exec();
        }
        return;
    }

    if (interactive)
        QApplication::changeOverrideCursor(Qt::WaitCursor);
    m_phaseTimer.disconnect();
    connect(&m_phaseTimer, &QTimer::timeout, this, &FineAFSequence::slotStartFineAF);
    m_phaseTimer.start(kPhaseDelayMs);
    m_focusingBox = progressBox(kFocusingText);
    m_focusingBox->exec();
    if (m_running) {
        // The box went away while the scan goes on (it cannot be closed by hand): the run still
        // ends before this returns; its step time-outs bound the wait.
        QEventLoop loop;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!m_running)
                loop.quit();
        });
        poll.start(10);
        loop.exec();
    }
    delete m_focusingBox.data();
    if (interactive)
        QApplication::restoreOverrideCursor();
}

int FineAFSequence::scanRange() const
{
    switch (m_kind) {
    case Kind::TimeLapse:
        return readSetting("Setting_Timelapse", QStringLiteral("ScanRange"), "5").toInt();
    case Kind::CellCount:
        return kCellCountRange;
    default:
        return readSetting("Focus", QStringLiteral("FineAFRange"), "5").toInt();
    }
}

void FineAFSequence::slotCalculrateInterval()
{
    m_planned = true;
    const int range = scanRange();
    const float na = readSetting("LensNA", QString::number(m_setup.objectivePosition), "1").toFloat();
    const float pixelSize = readSetting("ScaleBar", QStringLiteral("CMOSPixelSize"), "3.63").toFloat();

    // The old dialect's stage cannot report its position, so no scan can be followed there. A
    // new board that gives no position now fails the run once it starts.
    const bool newBoard = m_controller->isPortOpen() && m_controller->existFirmwareVer();
    const std::optional<int> centre = newBoard ? m_controller->getCurrentMotorPosition() : std::nullopt;
    m_centreKnown = centre.has_value();
    if (!newBoard) {
        m_error = FINEAF_ERR_NOT_SUPPORTED;
    } else {
        m_fineAF.setFineAFParameter(m_setup.magnification, m_setup.lensName, centre.value_or(0), na, pixelSize);
        m_error = m_fineAF.canStart(m_setup.cameraBits, range);
    }
    closeBox(m_initializingBox);
}

void FineAFSequence::slotStartFineAF()
{
    m_scanClock.start();
    emit changeHotpixelEnabled(true);
    m_controller->StopPulling();
    m_savedMenu = g_CurrentMenu;
    g_CurrentMenu = MENU_FINE_AF;
    m_ownFilter = m_controller->getFilterPosition();
    m_ownLens = m_controller->getLensPosition();
    m_turretMoved = false;
    if (!m_centreKnown) {
        qWarning() << "FineAF: the stage did not report its position; no scan";
        m_scanFinished = true;
        finishScan();
        return;
    }
    emit stageSpeedSent();
    m_controller->setZCommand(QStringLiteral("Z SPEED %1").arg(m_setup.focusSpeed));
    moveBy(m_fineAF.startPos() - m_fineAF.curPos(), true);
}

void FineAFSequence::moveBy(int distance, bool checkPosition)
{
    if (checkPosition)
        m_controller->setMotorPositioningCheck(true);
    m_controller->setMotorMaxSpeed(distance);
    waitForStep(MotorPositioningThread::kDefaultTimeoutMs + kMoveMarginMs);
    m_awaitingMove = true;
    m_controller->setZCommand(QStringLiteral("Z %1").arg(distance));
}

void FineAFSequence::waitForStep(int timeoutMs)
{
    m_stepTimer.start(timeoutMs);
}

void FineAFSequence::slotMotorPositioningCompleted()
{
    if (!m_running || !m_awaitingMove || g_CurrentMenu != MENU_FINE_AF)
        return;
    m_awaitingMove = false;
    m_stepTimer.stop();

    if (!m_scanFinished) {
        takeFirstStill();
        return;
    }
    if (m_returnMovePending) {
        m_returnMovePending = false;
        // A count must repeat: its height is found between the scan's steps.
        m_succeeded = m_kind == Kind::CellCount
            ? m_fineAF.GetAFMotorPositionBetweenSteps(m_bestPosition, m_bestIndex, m_bestValue)
            : m_fineAF.GetAFMotorPosion2(m_bestPosition, m_bestIndex, m_bestValue);
        const std::optional<int> current = m_controller->getCurrentMotorPosition();
        if (m_succeeded && current && *current != m_bestPosition) {
            moveBy(m_bestPosition - *current, true);
            return;
        }
    }
    finishScan();
}

void FineAFSequence::takeFirstStill()
{
    delay(kSettleMs);
    m_retakes.reset();
    takeStill();
}

void FineAFSequence::takeStill()
{
    m_awaitingFrame = true;
    m_stillRefused = false;
    waitForStep(stillWaitLimitMs() + kFrameMarginMs);
    emit capture(); // the still comes back through captureCompleted
    if (!m_stillRefused || !m_awaitingFrame)
        return;
    // The camera answered, but the scene changed while the still was exposed.
    m_stepTimer.stop();
    if (m_turretMoved) {
        meetTurretMove();
        return;
    }
    if (!m_retakes.take()) {
        qWarning() << "FineAF: a turret kept moving while the stills were taken; the scan ends";
        failScan();
        return;
    }
    QTimer::singleShot(StillRetakes::kPauseMs, this, [this] {
        if (m_running && m_awaitingFrame && !m_scanFinished)
            takeStill();
    });
}

void FineAFSequence::captureCompleted(uchar *frame, int bits)
{
    if (!m_running || !m_awaitingFrame || m_scanFinished || g_CurrentMenu != MENU_FINE_AF)
        return;
    m_awaitingFrame = false;
    m_stepTimer.stop();
    if (m_turretMoved || m_controller->getFilterPosition() != m_ownFilter || !m_controller->isFilterInPosition()
        || m_controller->getLensPosition() != m_ownLens || !m_controller->isLensInPosition()) {
        meetTurretMove(); // the frame shows another cube, or one that was turning
        return;
    }

    const std::optional<int> position = m_controller->getCurrentMotorPosition();
    if (!position) {
        qWarning() << "FineAF: the stage position could not be read; the scan ends";
        failScan();
        return;
    }
    m_fineAF.increaseCount();
    if (m_fineAF.count() >= m_fineAF.imageNumber()) {
        m_scanFinished = true;
        if (!m_fineAF.focusCurve().empty()) {
            m_returnMovePending = true;
            moveBy(m_fineAF.focusCurve().front().motorPosition - *position, false);
        }
    } else {
        moveBy(m_fineAF.step(), false);
    }
    // Scored while the stage travels to the next height.
    m_fineAF.setFocusValueAtMotorPosition(frame, bits, *position, m_kind == Kind::CellCount);
    m_controller->setMotorPositioningCheck(true);
    m_awaitingMove = true;
    m_controller->isMotorMovingFinished(-1);
}

void FineAFSequence::slotStepTimedOut()
{
    if (!m_running)
        return;
    qWarning() << "FineAF:" << (m_awaitingFrame ? "no still came" : "the stage move did not end") << "in time; the scan ends";
    failScan();
}

void FineAFSequence::slotTurretReported()
{
    if (m_running && !m_scanFinished && g_CurrentMenu == MENU_FINE_AF)
        m_turretMoved = true;
}

void FineAFSequence::meetTurretMove()
{
    m_awaitingFrame = false;
    m_stepTimer.stop();
    if (!m_turretPauses.take()) {
        qWarning() << "FineAF: the filter cube or the objective did not come back; the scan ends";
        returnToCentre();
        return;
    }
    m_turretTimer.start(StillRetakes::kPauseMs);
}

void FineAFSequence::slotTurretPauseEnded()
{
    if (!m_running || m_scanFinished)
        return;
    if (ownTurretsInPlace())
        restartScan();
    else
        meetTurretMove();
}

bool FineAFSequence::ownTurretsInPlace()
{
    const bool standing = m_controller->refreshTurretPositions(); // the polling is stopped
    return standing && m_controller->getFilterPosition() == m_ownFilter && m_controller->getLensPosition() == m_ownLens;
}

void FineAFSequence::restartScan()
{
    const std::optional<int> current = m_controller->getCurrentMotorPosition();
    if (!current) {
        failScan();
        return;
    }
    qInfo() << "FineAF: the filter cube and the objective are back; the scan starts over";
    ++m_restarts;
    m_turretMoved = false;
    m_fineAF.restartScan();
    if (*current == m_fineAF.startPos())
        takeFirstStill();
    else
        moveBy(m_fineAF.startPos() - *current, true);
}

void FineAFSequence::returnToCentre()
{
    m_endedByTurretMove = true;
    m_scanFinished = true;
    m_returnMovePending = false;
    m_succeeded = false;
    const std::optional<int> current = m_controller->getCurrentMotorPosition();
    if (!current) {
        failScan();
        return;
    }
    if (*current == m_fineAF.curPos())
        finishScan();
    else
        moveBy(m_fineAF.curPos() - *current, true); // its completion ends the run
}

void FineAFSequence::failScan()
{
    m_awaitingFrame = false;
    m_awaitingMove = false;
    m_returnMovePending = false;
    m_scanFinished = true;
    m_succeeded = false;
    m_controller->setMotorPositioningCheck(false);
    m_controller->setZCommand(QStringLiteral("Z STOP"));
    finishScan();
}

void FineAFSequence::finishScan()
{
    m_stepTimer.stop();
    m_turretTimer.stop();
    m_scanMs = m_scanClock.isValid() ? m_scanClock.elapsed() : 0;
    g_CurrentMenu = TCurrentMenu(m_savedMenu);
    completedFineAF();
}

void FineAFSequence::completedFineAF()
{
    m_running = false;
    if (m_kind != Kind::TimeLapse) {
        emit changeHotpixelEnabled(false);
        m_controller->StartPulling();
    }
    if (m_kind != Kind::Interactive) {
        closeBox(m_focusingBox);
        return;
    }
    QApplication::changeOverrideCursor(Qt::ArrowCursor);
    if (!m_focusingBox)
        return;
    m_focusingBox->setSignalMode(false);
    m_focusingBox->setButtonVisibility(MSG_BUTTON_OK);
    m_focusingBox->setButtonText(QStringLiteral("Close"), QStringLiteral("Cancel"));
    m_focusingBox->setMessage(QString::fromLatin1(m_succeeded ? kCompletedText : kFailedText));
}

void FineAFSequence::closeBox(QPointer<MessageDlg> &box)
{
    if (box)
        box->close();
}
