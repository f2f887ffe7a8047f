#pragma once
#include "DragMove.h"
#include "ScriptableDialog.h"

namespace Ui {
class LicenseAgreementDlg;
}

// The end-user license agreement: accepted once at the first start, readable again from the
// settings dialog. It only shows the text and reports its button; the callers decide what to store.
// Dragged by its top strip.
class LicenseAgreementDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    // firstRun: the start-up showing, whose button reads "Accept"; otherwise it reads "Close".
    LicenseAgreementDlg(bool firstRun, QWidget *parent = nullptr);
    ~LicenseAgreementDlg() override;

    // Shows "/root/Microscope/Copyright.txt" as plain text; a missing file leaves the box empty.
    void readCopyright();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private slots:
    void on_BUTTON_ACCEPT_clicked();

private:
    DragMove m_drag;
    Ui::LicenseAgreementDlg *ui;
};
