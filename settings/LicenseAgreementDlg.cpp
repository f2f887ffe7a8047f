#include "LicenseAgreementDlg.h"
#include "ui_LicenseAgreementDlg.h"

#include "Paths.h"

#include <QFile>
#include <QMouseEvent>

LicenseAgreementDlg::LicenseAgreementDlg(bool firstRun, QWidget *parent)
    : ScriptableDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , ui(new Ui::LicenseAgreementDlg)
{
    ui->setupUi(this);
    if (!firstRun)
        ui->BUTTON_ACCEPT->setText(tr("Close"));
    centreOnPrimaryScreen();
    setAttribute(Qt::WA_GroupLeader);
    readCopyright();
}

LicenseAgreementDlg::~LicenseAgreementDlg()
{
    delete ui;
}

void LicenseAgreementDlg::readCopyright()
{
    QFile file(Paths::path("/root/Microscope/Copyright.txt"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        ui->EDIT_TEXT->setPlainText(QString::fromUtf8(file.readAll()));
}

void LicenseAgreementDlg::on_BUTTON_ACCEPT_clicked()
{
    accept();
}

void LicenseAgreementDlg::mousePressEvent(QMouseEvent *event)
{
    m_drag.press(this, event);
}

void LicenseAgreementDlg::mouseReleaseEvent(QMouseEvent *)
{
    m_drag.release();
}

void LicenseAgreementDlg::mouseMoveEvent(QMouseEvent *event)
{
    m_drag.move(this, event);
}
