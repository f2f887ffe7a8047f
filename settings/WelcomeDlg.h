#pragma once
#include "ScriptableDialog.h"

namespace Ui {
class WelcomeDlg;
}

// The welcome screen shown at each start until the user ticks "Don't show this message again.".
// It reminds the user that the focus stage is parked at every shutdown.
class WelcomeDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit WelcomeDlg(QWidget *parent = nullptr);
    ~WelcomeDlg() override;

    // The check box's state after the last click; the caller reads it once exec() has returned.
    bool m_bDontShowAgain = false;

private slots:
    void on_CEHCKBOX_clicked(bool checked);
    void on_BUTTON_CLOSE_clicked();

private:
    Ui::WelcomeDlg *ui;
};
