#include "PanelBench.h"

#include "ControlWidget.h"
#include "ControllerTestSupport.h"
#include "DialogRunner.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "MonotonicClock.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "StoredSetting.h"
#include "VideoWidget.h"

#include <QAbstractButton>
#include <QLabel>

namespace {

bool isPoll(const QString &line)
{
    static const QStringList polls = {"$A#STATUS", "$A#FILTER", "$A#OBJ", "$A#STAGE POS", "FILTER", "OBJLENS"};
    return polls.contains(line) || line.startsWith(QLatin1String("$OK#A#"));
}

} // namespace

PanelBench::PanelBench(const QString &profile, int stagePosition)
{
    BoardProfile p;
    BoardProfile::fromName(profile, &p);
    board = std::make_unique<BoardSimulator>(vi, p);
    vi.setStagePosition(stagePosition);
    g_CurrentMenu = MENU_MULTICOLOR;

    DialogRunner::clearScripts();
    DialogRunner::setStandingScript([this](QDialog *dialog) -> int {
        if (auto *keyboard = qobject_cast<KeyboardDlg *>(dialog)) {
            dialogs << QStringLiteral("keyboard");
            keyboard->setText(keyboardText);
            return 1;
        }
        const auto *label = dialog->findChild<QLabel *>("message_label");
        const QString text = label ? label->text() : QString();
        if (dialog->objectName() == QLatin1String("FocusProgress")) {
            auto *ok = dialog->findChild<QAbstractButton *>("BUTTON_OK");
            dialogs << QStringLiteral("progress:") + text;
            return DialogRunner::showAndRun(dialog, [this, ok](QDialog *d) {
                if (onProgress && onProgress(d))
                    return;
                if (ok && ok->isVisible())
                    ok->click(); // "Focus Position Saved": the user reads it and presses OK
            }, 40000);
        }
        dialogs << QStringLiteral("message:") + text;
        return questionAnswer;
    });
}

PanelBench::~PanelBench()
{
    panel.reset();
    video.reset();
    board.reset();
    DialogRunner::clearScripts();
    ControlWidget::setSerialPortName(QString());
    g_CurrentMenu = MENU_MULTICOLOR;
}

void PanelBench::setConfig(const char *section, const char *key, const QString &value)
{
    WritePrivateProfileString(section, key, value.toStdString(), Paths::configFile().toStdString());
}

QString PanelBench::config(const char *section, const char *key) const
{
    return storedSetting(section, key);
}

bool PanelBench::build()
{
    if (!board->start())
        return false;
    ControlWidget::setSerialPortName(board->devicePath());
    video = cam.makeWidget();
    panel = std::make_unique<ControlWidget>();
    ControlWidget *p = panel.get();
    // The simulated board answers from a thread of this process: on a loaded machine an old-dialect
    // reply can come later than the real board's second, and would be dropped as late: five are given.
    p->controller().setReplyTimeoutMs(5000);
    VideoWidget *v = video.get();
    QObject::connect(p, &ControlWidget::changeFilterPosition, v, &VideoWidget::setCurrentFilterPosition);
    QObject::connect(p, qOverload<int, int, int>(&ControlWidget::signalChangeExposure), v,
                     &VideoWidget::slotSetCurrentExposure);
    QObject::connect(p, &ControlWidget::changeGain, v, &VideoWidget::setCurrentGain);
    QObject::connect(p, &ControlWidget::capture, v, &VideoWidget::capture);
    QObject::connect(v, &VideoWidget::captured, p, &ControlWidget::captureCompleted);
    QObject::connect(v, &VideoWidget::signalCameraModeChanged, p, &ControlWidget::slotCameraModeChanged);
    // The old dialect learns the turrets from its first polls.
    pumpUntil([p] { return p->currentFilterPosition() >= 0 && p->currentObjectivePosition() >= 1; }, 10000);
    return p->controller().isPortOpen();
}

void PanelBench::goLive()
{
    panel->setControlWidgetState(CONTROL_STATE_OPENED);
    panel->setLiveMode(false);
    panel->setCurrentMenuState(-1, 0, -1, -1, -1, -1);
    panel->setLiveMode(true);
    panel->changedFilterPosition(panel->currentFilterPosition());
    panel->updateLensPosition();
    panel->changedLensPosition(panel->currentObjectivePosition());
}

QAbstractButton *PanelBench::button(const char *name) const
{
    return panel->findChild<QAbstractButton *>(name);
}

QWidget *PanelBench::panelWidget() const
{
    return panel.get();
}

QStringList PanelBench::commands() const
{
    QStringList out;
    for (const QString &line : board->receivedTexts())
        if (showPolls ? !line.startsWith(QLatin1String("$OK#A#")) : !isPoll(line))
            out << line;
    return out;
}

QStringList PanelBench::waitForCommands(int count, int timeoutMs) const
{
    pumpUntil([&] { return commands().size() >= count; }, timeoutMs);
    pumpEvents(150);
    return commands();
}

void PanelBench::clearLog()
{
    board->clearLog();
    cam.camera.clearControlLog();
}

bool PanelBench::waitForStageStill(int timeoutMs) const
{
    return pumpUntil([this] { return !vi.state().stageMoving; }, timeoutMs);
}
