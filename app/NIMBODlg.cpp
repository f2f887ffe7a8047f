#include "NIMBODlg.h"

#include <QLabel>
#include <QVBoxLayout>

NIMBODlg::NIMBODlg(TCurrentMenu menu, TExecMode mode, QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
{
    g_ExecMode = mode;
    g_CurrentMenu = MENU_MULTICOLOR;
    Q_UNUSED(menu);
    setFixedSize(1920, 1080);

    auto *label = new QLabel(this);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(m_Font25);
    label->setText(tr("VANTOR S\n\nMulticolor\nZ-stack\nTime lapse\nCell count\nFile manager\nSetting"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
}
