#pragma once
#include <QDialog>

// Base of the shared modal dialogs (MessageDlg, KeyboardDlg, TimeLapseProgressDlg,
// DirectoryDialog).
//
// Convention: callers run these dialogs with their own exec(), exactly as a QDialog. exec() goes
// through DialogRunner::exec, so tests can script every dialog (DialogRunner::pushScript) without
// the caller knowing. Do not wrap them in DialogRunner::exec yourself: that would log the dialog
// twice. Without a script exec() shows and raises the dialog, then runs QDialog's modal loop.
class ScriptableDialog : public QDialog
{
    Q_OBJECT
public:
    // The window flags of the shared popups: above every other window, no window-manager frame.
    static constexpr Qt::WindowFlags kPopupFlags = Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint;

    explicit ScriptableDialog(QWidget *parent = nullptr, Qt::WindowFlags flags = {});

public slots:
    int exec() override;

protected:
    // Places the dialog in the middle of the primary screen, size unchanged.
    void centreOnPrimaryScreen();

private:
    bool m_inRunner = false;
};
