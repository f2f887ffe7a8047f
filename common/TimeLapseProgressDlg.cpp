#include "TimeLapseProgressDlg.h"

#include "ui_TimeLapseProgressDlg.h"

#include <QLocale>
#include <QPainter>

namespace {
const QRect kTrack(50, 180, 400, 20);
}

TimeLapseProgressDlg::TimeLapseProgressDlg(QWidget *parent)
    : ScriptableDialog(parent)
    , m_BarImage(":/UI/SaveOptions/progress bar2.png")
    , ui(new Ui_TimeLapseProgressDlg)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    setTotalCount(0); // busy until the owner gives a total
}

TimeLapseProgressDlg::~TimeLapseProgressDlg()
{
    delete ui;
}

void TimeLapseProgressDlg::setTotalCount(int total)
{
    m_nTotalCount = total;
    const bool counted = total >= 1;
    ui->LABEL_PROGRESS->setVisible(counted);
    ui->BUTTON_STOP->setVisible(counted);
    ui->PROGRESSBAR->setVisible(!counted);
}

void TimeLapseProgressDlg::setCurrentCount(int current)
{
    m_nCurrentCount = current;
    repaint();
}

void TimeLapseProgressDlg::setMessage(QString message)
{
    ui->message_label->setText(message);
    ui->message_label->repaint();
}

void TimeLapseProgressDlg::setSignalMode(bool on)
{
    m_bSignalMode = on;
}

void TimeLapseProgressDlg::setEnableStop(bool on)
{
    ui->BUTTON_STOP->setVisible(on);
}

int TimeLapseProgressDlg::barWidth(int current, int total)
{
    if (total <= 0)
        return 0;
    const float width = float(current) / float(total) * float(kTrack.width());
    return qBound(0, int(width), kTrack.width());
}

QString TimeLapseProgressDlg::countText(int current, int total)
{
    // A locale of its own: the application's default locale is left alone.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(current) + " / " + english.toString(total);
}

void TimeLapseProgressDlg::paintEvent(QPaintEvent *event)
{
    ScriptableDialog::paintEvent(event);
    if (m_nTotalCount <= 0)
        return;
    QPainter painter(this);
    painter.fillRect(kTrack, Qt::white);
    const int width = barWidth(m_nCurrentCount, m_nTotalCount);
    if (width > 0)
        painter.drawPixmap(QRect(kTrack.x(), kTrack.y(), width, kTrack.height()), m_BarImage);
    const QString text = countText(m_nCurrentCount, m_nTotalCount);
    if (ui->LABEL_PROGRESS->text() != text)
        ui->LABEL_PROGRESS->setText(text);
}

void TimeLapseProgressDlg::on_BUTTON_STOP_clicked()
{
    if (m_bSignalMode)
        emit signalOKClicked();
    else
        accept();
}
