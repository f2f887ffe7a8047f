#pragma once
#include "ScriptableDialog.h"

// The welcome screen shown at each start until the user ticks "Don't show this message again.".
class WelcomeDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit WelcomeDlg(QWidget *parent = nullptr);

    // The check box's state, updated at each click.
    bool m_bDontShowAgain = false;

private slots:
    void on_CEHCKBOX_clicked(bool checked);
    void on_BUTTON_CLOSE_clicked();
};
