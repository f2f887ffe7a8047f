#pragma once
#include "BoardSimulator.h"
#include "CameraTestBench.h"

#include <QDialog>
#include <QWidget>
#include <QStringList>
#include <functional>
#include <memory>

class ControlWidget;
class VideoWidget;
class QAbstractButton;

// The control panel on the simulated instrument: a board simulator of one firmware profile on a
// pseudo-terminal, the simulated camera behind the camera transport, the live video widget, and
// the panel built for real and wired to the video as the main window wires them.
//
// Dialogs are played by a standing script: progress boxes run until the sequence closes them,
// the keyboard answers keyboardText, every other box is answered with OK (messages are recorded).
class PanelBench
{
public:
    // profile: "old", "2.3", "2.6", "3.1" ...; the stage stands at stagePosition (counter).
    explicit PanelBench(const QString &profile = QStringLiteral("3.1"), int stagePosition = 6000);
    ~PanelBench();

    CameraTestBench cam;
    VirtualInstrument &vi = cam.instrument;
    std::unique_ptr<BoardSimulator> board;
    std::unique_ptr<VideoWidget> video;
    std::unique_ptr<ControlWidget> panel;

    void setConfig(const char *section, const char *key, const QString &value);
    QString config(const char *section, const char *key) const;
    // Starts the board and builds the video widget and the panel (call once, after setConfig).
    bool build();
    // As the main window after start-up: a live page (Multicolor) with the panel enabled.
    void goLive();

    QAbstractButton *button(const char *name) const;
    QWidget *panelWidget() const;
    template <class T>
    T *child(const char *name) const { return panelWidget()->findChild<T *>(name); }

    // Board lines received since the last clear, without the status polls (unless showPolls)
    // and the acknowledgements of events.
    bool showPolls = false;
    QStringList commands() const;
    // Waits until the commands hold at least count lines (then a short settle).
    QStringList waitForCommands(int count, int timeoutMs = 10000) const;
    void clearLog();
    // Camera register writes since the last clear, as "value:register".
    QStringList registerWrites() const { return cam.registerWrites(); }

    // What the dialog script met, in order: "progress:<text>", "keyboard", "message:<text>".
    QStringList dialogs;
    QString keyboardText = QStringLiteral("Nucleus");
    // Called for each progress box once it shows (e.g. to press Cancel); return false to let it run.
    std::function<bool(QDialog *)> onProgress;
    // Answer to OK/Cancel questions ("Overwrite ...?"): 1 OK, 0 Cancel.
    int questionAnswer = 1;

    int physicalHeight() const { return vi.state().stagePhysical(); }
    bool waitForStageStill(int timeoutMs = 15000) const;
};

