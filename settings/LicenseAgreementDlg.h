#pragma once
#include "ScriptableDialog.h"

// The end-user license agreement: accepted once at the first start, readable again from the
// settings dialog.
class LicenseAgreementDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    // firstRun: the start-up showing, whose button reads "Accept"; otherwise it reads "Close".
    LicenseAgreementDlg(bool firstRun, QWidget *parent = nullptr);

private slots:
    void on_BUTTON_ACCEPT_clicked();
};
