#pragma once
#include "Globals.h"
#include "SimStorage.h"
#include "SimulatedInstrument.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QStringList>
#include <functional>
#include <memory>

class NIMBODlg;
class Ui_NIMBODlg;
class QAbstractItemView;
class QDialog;

// The whole application on the simulated instrument, off-screen: a fresh root with the seeded
// configuration and storage (SSD and one USB drive), the board simulator on a pseudo-terminal,
// the simulated camera, and simulated system actions whose exits only record their code.
// Every dialog is answered by a script: by default 1 (OK, Accept), logged with its preset text.
class AppBench
{
public:
    // How long a synchronous exchange with the simulated board may take (the real board's wait is
    // a second): hastenStageWaits gives the default back.
    static constexpr int kExchangeTimeoutMs = 10000;

    explicit AppBench(const SimulatedInstrument::Options &options = defaultOptions());
    ~AppBench();

    static SimulatedInstrument::Options defaultOptions();

    TestRoot root;
    SimulatedSystemActions actions;
    SimStorage storage;
    std::unique_ptr<SimulatedInstrument> sim;
    std::unique_ptr<NIMBODlg> window;
    QList<int> exitCodes; // codes the process would have ended with

    void setConfig(const char *section, const char *key, const char *value);
    QString config(const char *section, const char *key);
    void quietStart(); // agreement accepted, welcome screen off: a start shows no dialog

    // Builds the window; start() also waits until the start-up has unlocked the main menu.
    NIMBODlg *build(TCurrentMenu menu = MENU_MULTICOLOR, TExecMode mode = EXEC_NORMAL);
    NIMBODlg *start(TExecMode mode = EXEC_NORMAL);
    Ui_NIMBODlg *ui() const;
    bool menuUnlocked() const;
    bool waitUnlocked(int timeoutMs = 15000) const;

    // The standing answer to every dialog (class name and, for a message box, its text are logged).
    void setAnswer(std::function<int(QDialog *)> answer);
    QStringList dialogs() const { return *m_dialogs; }
    bool showedMessage(int type) const;
    // The user's part in the save dialog: name typed on its keyboard, OK pressed (the save then
    // runs); the dialog's result, or -1 for a dialog that is neither.
    static int saveAs(QDialog *dialog, const QString &name);
    void clearDialogs() { m_dialogs->clear(); }
    QStringList endActions() const; // the recorded sync, shutdown, reboot and exit
    // The relative focus moves the board received since its log was cleared, in both dialects.
    QList<int> stageMoves() const;
    // The names a list shows in its folder, in its order: the model's rows, read without asking
    // a file-system model for a path (which would add it).
    static QStringList listed(const QAbstractItemView *list);
    // The panel's waits for the focus stage give up five times as soon: the new dialect's position
    // readings run on a clock five times as fast, the old dialect waits a fifth as long for a move's
    // reply; a synchronous exchange waits its default second. For a silent board, whose waits
    // would otherwise last their full caps.
    void hastenStageWaits();
    // Each still taken while refuse() says so is refused as one a turret move overlapped (asked
    // once the still is taken); otherwise the turrets are asked as the application asks them.
    void refuseStillsWhile(std::function<bool()> refuse);

private:
    std::shared_ptr<QStringList> m_dialogs = std::make_shared<QStringList>();
    std::shared_ptr<std::function<int(QDialog *)>> m_answer;
};
