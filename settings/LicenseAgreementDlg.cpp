#include "LicenseAgreementDlg.h"

#include <QPushButton>

LicenseAgreementDlg::LicenseAgreementDlg(bool firstRun, QWidget *parent)
    : ScriptableDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("LicenseAgreementDlg");
    resize(550, 350);
    auto *accept = new QPushButton(firstRun ? tr("Accept") : tr("Close"), this);
    accept->setObjectName("BUTTON_ACCEPT");
    accept->setGeometry(235, 306, 81, 24);
    QMetaObject::connectSlotsByName(this);
    centreOnPrimaryScreen();
}

void LicenseAgreementDlg::on_BUTTON_ACCEPT_clicked()
{
    accept();
}
