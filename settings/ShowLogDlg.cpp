#include "ShowLogDlg.h"
#include "ui_ShowLogDlg.h"

#include "DialogRunner.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "Utilities.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

ShowLogDlg::ShowLogDlg(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ShowLogDlg)
{
    ui->setupUi(this);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().width() / 2 - width() / 2, screen->geometry().height() / 2 - height() / 2);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_GroupLeader);
}

ShowLogDlg::~ShowLogDlg()
{
    delete ui;
}

void ShowLogDlg::on_BUTTON_CLEAR_clicked()
{
    ui->EDIT_LOG->clear();
}

void ShowLogDlg::on_BUTTON_RELOAD_clicked()
{
    QFile file(Paths::path("/root/log"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    ui->EDIT_LOG->setPlainText(QString::fromUtf8(file.readAll()));
    ui->EDIT_LOG->verticalScrollBar()->setValue(ui->EDIT_LOG->verticalScrollBar()->maximum());
    ui->LABEL_TIMEOUT->setText(QString("Timeout Count : %1").arg(g_TimeoutCount));
}

void ShowLogDlg::on_BUTTON_COPY_clicked()
{
    // Our own touch-sized chooser rather than the platform's, so tests can play it.
    QFileDialog chooser(this, "Select Dialog", Paths::media());
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (DialogRunner::exec(&chooser) != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    const QString folder = chooser.selectedFiles().first();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const QString stamp = QDateTime::currentDateTime().toString("ddMMyyyy_hhmm");
    // QFile::copy never overwrites: a second copy in the same minute fails.
    const bool copied = QFile::copy(Paths::path("/root/log"), QString("%1/log_%2").arg(folder, stamp));
    clearDirtyMemory();
    MessageDlg message(nullptr);
    message.setButtonVisibility(MSG_BUTTON_OK);
    message.setMessage(copied ? QString("Copy completed. log_%1").arg(stamp) : QString("Copy failed."));
    message.exec();
    QApplication::restoreOverrideCursor();
}

void ShowLogDlg::on_BUTTON_CLOSE_clicked()
{
    close();
}

void ShowLogDlg::mousePressEvent(QMouseEvent *event)
{
    m_drag.press(this, event);
}

void ShowLogDlg::mouseReleaseEvent(QMouseEvent *)
{
    m_drag.release();
}

void ShowLogDlg::mouseMoveEvent(QMouseEvent *event)
{
    m_drag.move(this, event);
}
