#include "ShowLogDlg.h"

#include <QGuiApplication>
#include <QScreen>

ShowLogDlg::ShowLogDlg(QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
{
    setObjectName("ShowLogDlg");
    resize(600, 400);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}
