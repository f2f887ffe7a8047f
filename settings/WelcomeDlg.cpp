#include "WelcomeDlg.h"

#include <QCheckBox>
#include <QPushButton>

WelcomeDlg::WelcomeDlg(QWidget *parent)
    : ScriptableDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("WelcomeDlg");
    resize(550, 350);
    auto *box = new QCheckBox(tr("Don't show this message again."), this);
    box->setObjectName("CEHCKBOX");
    box->setGeometry(26, 311, 265, 26);
    auto *close = new QPushButton(tr("Close"), this);
    close->setObjectName("BUTTON_CLOSE");
    close->setGeometry(444, 312, 81, 24);
    QMetaObject::connectSlotsByName(this);
    centreOnPrimaryScreen();
}

void WelcomeDlg::on_CEHCKBOX_clicked(bool checked)
{
    m_bDontShowAgain = checked;
}

void WelcomeDlg::on_BUTTON_CLOSE_clicked()
{
    accept();
}
