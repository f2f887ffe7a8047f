#pragma once
#include <QStringList>
#include <functional>

class QDialog;

// Every modal dialog of the application opens through DialogRunner::exec. In normal runs it is
// QDialog::exec. Tests install scripts that play the user: each opened dialog is handed to the
// next script (or to the standing script), which may type, click and return the dialog's result,
// so every road through a dialog can be tested off-screen.
class DialogRunner
{
public:
    using Script = std::function<int(QDialog *)>;

    static int exec(QDialog *dialog);

    // Scripts for the next dialogs, first in first out.
    static void pushScript(Script script);
    // Used when no queued script is left (an empty function restores QDialog::exec).
    static void setStandingScript(Script script);
    static void clearScripts();
    static int pendingScripts();

    // Class name and object name ("MessageDlg:name") of every dialog opened since the last clear,
    // the latest thousand.
    static QStringList log();
    static void clearLog();

    // Script helpers. showAndRun shows the dialog modelessly, runs act on it, then pumps events
    // until the dialog is closed (by act or by the dialog's owner) or timeoutMs passes; returns
    // the dialog's result, or -1 on the time-out (the dialog is then rejected).
    static int showAndRun(QDialog *dialog, const std::function<void(QDialog *)> &act, int timeoutMs = 5000);
    // Clicks the child button with this object name; false when there is none.
    static bool click(QDialog *dialog, const QString &buttonName);
};
