#include "WelcomeDlg.h"
#include "ui_WelcomeDlg.h"

WelcomeDlg::WelcomeDlg(QWidget *parent)
    : ScriptableDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , ui(new Ui::WelcomeDlg)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    setAttribute(Qt::WA_GroupLeader);
}

WelcomeDlg::~WelcomeDlg()
{
    delete ui;
}

void WelcomeDlg::on_CEHCKBOX_clicked(bool checked)
{
    m_bDontShowAgain = checked;
}

void WelcomeDlg::on_BUTTON_CLOSE_clicked()
{
    accept();
}
