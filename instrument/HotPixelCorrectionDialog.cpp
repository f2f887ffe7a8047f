#include "HotPixelCorrectionDialog.h"

#include "ui_HotPixelCorrectionDialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace {
// The bar shows half at the first tick, creeps up to this while the calibration works, and only
// the end of the calibration fills it.
constexpr int kFirstTickValue = 50;
constexpr int kLastTickValue = 89;
} // namespace

HotPixelCorrectionDialog::HotPixelCorrectionDialog(QWidget *parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
    , ui(new Ui_HotPixelCorrectionDialog)
{
    ui->setupUi(this);
    setModal(true);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
    }
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->hide();
    m_progressTimer.setTimerType(Qt::PreciseTimer);
    m_progressTimer.setInterval(kProgressTickMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &HotPixelCorrectionDialog::slotMakeProgress);
}

HotPixelCorrectionDialog::~HotPixelCorrectionDialog()
{
    delete ui;
}

int HotPixelCorrectionDialog::progressValue() const
{
    return ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->value();
}

void HotPixelCorrectionDialog::keyPressEvent(QKeyEvent *event)
{
    event->ignore();
}

void HotPixelCorrectionDialog::on_BUTTON_OK_clicked()
{
    ui->BUTTON_OK->setEnabled(false);
    ui->BUTTON_CANCEL->setEnabled(false);
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->setRange(0, 100);
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->setValue(0);
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->show();
    m_progressTimer.start();
    emit signalDoHotPixelCorrection();
}

void HotPixelCorrectionDialog::on_BUTTON_CANCEL_clicked()
{
    reject();
}

void HotPixelCorrectionDialog::slotMakeProgress()
{
    const int next = ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->value() + 1;
    if (next > kLastTickValue)
        return;
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->setValue(std::max(next, kFirstTickValue));
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->repaint();
}

void HotPixelCorrectionDialog::slotDoneHotPixelCorrection()
{
    m_progressTimer.stop();
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->setValue(100);
    ui->PROGRESSBAR_HOT_PIXEL_CORRECTION->repaint();
    accept();
}
