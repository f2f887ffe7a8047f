#include "SetupDlg.h"

#include <QPushButton>

SetupDlg::SetupDlg(QWidget *parent)
    : ScriptableDialog(parent, Qt::FramelessWindowHint)
{
    setObjectName("SetupDlg");
    resize(400, 120);
    auto *ok = new QPushButton(tr("OK"), this);
    ok->setObjectName("BUTTON_OK");
    ok->setGeometry(110, 80, 81, 24);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName("BUTTON_CANCEL");
    cancel->setGeometry(210, 80, 81, 24);
    QMetaObject::connectSlotsByName(this);
    centreOnPrimaryScreen();
}

void SetupDlg::readSetting()
{
    m_bSaved = false;
    m_bChangedCameraMode = false;
}

void SetupDlg::on_BUTTON_OK_clicked()
{
    writeSetting();
    m_bSaved = true;
    accept();
}

void SetupDlg::on_BUTTON_CANCEL_clicked()
{
    m_bSaved = false;
    m_bChangedCameraMode = false;
    reject();
}

void SetupDlg::setLiveMode(bool bLive)
{
    m_bLiveMode = bLive;
}

void SetupDlg::setCurrentMenu(TCurrentMenu menu)
{
    m_nCurrentMenu = menu;
}

void SetupDlg::writeSetting() {}
void SetupDlg::completedHotPixelCorrection() {}
void SetupDlg::updateCurrentDateTime(QString, QString) {}
