#include "MergeFocusDlg.h"

#include "Globals.h"
#include "ui_MergeFocusDlg.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTime>

MergeFocusDlg::MergeFocusDlg(QWidget* parent)
    : ScriptableDialog(parent, Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint),
      ui(new Ui_MergeFocusDlg)
{
    ui->setupUi(this);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    initialize();
}

MergeFocusDlg::~MergeFocusDlg()
{
    delete ui;
}

void MergeFocusDlg::initialize()
{
    m_nKernelSize = 11;
    setUIFilterColorComboBox(ui->COMB_FILTER_COLOR);
    const QSignalBlocker blocker(ui->COMBO_MATCH_KERNEL);
    for (int k = 3; k <= 15; k += 2)
        ui->COMBO_MATCH_KERNEL->addItem(QStringLiteral("%1x%1").arg(k), k);
    ui->COMBO_MATCH_KERNEL->setCurrentText(QStringLiteral("11x11"));
}

void MergeFocusDlg::setUIFilterColorComboBox(QComboBox*& combo)
{
    static const char* const names[] = {"R", "G", "B", "Y", "CY"};
    for (int i = 0; i < 5; ++i) {
        QPixmap swatch(40, 40);
        swatch.fill(g_ColorTable.value(i));
        combo->insertItem(i, QIcon(swatch), QString::fromLatin1(names[i]));
    }
}

void MergeFocusDlg::setDefaultParam(int kernelSize, int colour, int sliceCount)
{
    m_nKernelSize = kernelSize;
    m_nColor = colour;
    m_nSliceCount = sliceCount;
    const int item = ui->COMBO_MATCH_KERNEL->findText(QStringLiteral("%1x%1").arg(kernelSize));
    if (item >= 0) {
        const QSignalBlocker blocker(ui->COMBO_MATCH_KERNEL);
        ui->COMBO_MATCH_KERNEL->setCurrentIndex(item);
    }
    const bool pseudo = colour >= 0 && colour <= 4;
    ui->RADIO_COLOR_PSEUDO_COLOR->setChecked(pseudo);
    ui->RADIO_COLOR_MONOCHROME->setChecked(!pseudo);
    ui->COMB_FILTER_COLOR->setCurrentIndex(pseudo ? colour : 0);
    ui->COMB_FILTER_COLOR->setEnabled(pseudo);
    updateEstimatedTime();
}

void MergeFocusDlg::getParam(int& kernelSize, int& colour) const
{
    kernelSize = m_nKernelSize;
    colour = m_nColor;
}

int MergeFocusDlg::secondsPerSlice(int kernelSize)
{
    switch (kernelSize) {
    case 3: return 3;
    case 5: return 4;
    case 7: return 5;
    case 9: return 7;
    case 11: return 8;
    case 13: return 10;
    case 15: return 12;
    default: return 8;
    }
}

QString MergeFocusDlg::estimatedTime() const
{
    return ui->LABEL_ESTIMATED_TIME->text();
}

void MergeFocusDlg::updateEstimatedTime()
{
    const int seconds = m_nSliceCount * secondsPerSlice(m_nKernelSize);
    ui->LABEL_ESTIMATED_TIME->setText(QTime(0, 0).addSecs(seconds).toString(QStringLiteral("hh:mm:ss")));
}

void MergeFocusDlg::on_COMBO_MATCH_KERNEL_currentIndexChanged(int index)
{
    m_nKernelSize = ui->COMBO_MATCH_KERNEL->itemData(index).toInt();
    updateEstimatedTime();
}

void MergeFocusDlg::on_RADIO_COLOR_MONOCHROME_clicked()
{
    ui->COMB_FILTER_COLOR->setEnabled(false);
}

void MergeFocusDlg::on_RADIO_COLOR_PSEUDO_COLOR_clicked()
{
    ui->COMB_FILTER_COLOR->setEnabled(true);
}

void MergeFocusDlg::on_BUTTON_APPLY_clicked()
{
    m_nKernelSize = ui->COMBO_MATCH_KERNEL->currentData().toInt();
    m_nColor = ui->RADIO_COLOR_MONOCHROME->isChecked() ? kMonochrome
                                                       : ui->COMB_FILTER_COLOR->currentIndex();
    accept();
}

void MergeFocusDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}
