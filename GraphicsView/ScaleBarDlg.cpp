#include "ScaleBarDlg.h"

#include "Globals.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"
#include "ui_ScaleBarDlg.h"

#include <algorithm>

namespace {

const char *const kGroup = "ScaleBar";

int readIndex(const char *key, const char *def, int highest)
{
    std::string value;
    ReadPrivateProfileString(kGroup, key, def, value, Paths::configFile().toStdString());
    bool ok = false;
    const int index = QString::fromStdString(value).trimmed().toInt(&ok);
    return std::clamp(ok ? index : QString(def).toInt(), 0, highest);
}

} // namespace

ScaleBarDlg::ScaleBarDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , ui(new Ui_ScaleBarDlg)
{
    ui->setupUi(this);
    ui->CHECK_SCALEBAR_POSITION->setEnabled(true);
    centreOnPrimaryScreen();
    initialize();
    readSetting();
}

ScaleBarDlg::~ScaleBarDlg()
{
    delete ui;
}

void ScaleBarDlg::initialize()
{
    addColorTableItems(ui->COMB_SCALEBAR_COLOR);
    for (const char *length : {"10 %1", "50 %1", "100 %1"})
        ui->COMB_SCALEBAR_SIZE->addItem(QString(length).arg(QStringLiteral("\u00B5m")));
    ui->COMB_SCALEBAR_FONT_SIZE->addItem("0");
    ui->COMB_SCALEBAR_FONT_SIZE->addItems(g_FontSizeList);
    ui->COMB_SCALEBAR_POSITION->addItems({"Top-left", "Top-right", "Bottom-left", "Bottom-right"});
    ui->CHECK_SCALEBAR_POSITION->setChecked(false);
    ui->COMB_SCALEBAR_POSITION->setEnabled(false);
}

// Stored values outside the lists show the defaults, so that Apply never stores an index the
// scale-bar model cannot use. Without a colour key the colour in effect is the model's red.
void ScaleBarDlg::readSetting()
{
    const std::string file = Paths::configFile().toStdString();
    ui->COMB_SCALEBAR_COLOR->setCurrentIndex(ReadColorIndexSetting(kGroup, "ScaleBarColor", 0, file));
    std::string font;
    ReadPrivateProfileString(kGroup, "ScaleBarFont", "10", font, file);
    const int fontIndex = ui->COMB_SCALEBAR_FONT_SIZE->findText(QString::fromStdString(font).trimmed(), Qt::MatchExactly);
    ui->COMB_SCALEBAR_FONT_SIZE->setCurrentIndex(fontIndex >= 0 ? fontIndex : ui->COMB_SCALEBAR_FONT_SIZE->findText("10"));
    ui->COMB_SCALEBAR_SIZE->setCurrentIndex(readIndex("ScaleBarSize", "0", 2));
    ui->COMB_SCALEBAR_POSITION->setCurrentIndex(readIndex("ScaleBarPosition", "2", 3));
}

// The four keys, then one "%20" clean-up of the whole file, which replaces it atomically and
// flushes.
void ScaleBarDlg::writeSetting()
{
    const std::string file = Paths::configFile().toStdString();
    auto number = [](int value) { return QString("%1").arg(value).toStdString(); };
    WriteSetting(kGroup, "ScaleBarColor", number(ui->COMB_SCALEBAR_COLOR->currentIndex()), file);
    WriteSetting(kGroup, "ScaleBarSize", number(ui->COMB_SCALEBAR_SIZE->currentIndex()), file);
    WriteSetting(kGroup, "ScaleBarPosition", number(ui->COMB_SCALEBAR_POSITION->currentIndex()), file);
    WriteSetting(kGroup, "ScaleBarFont", ui->COMB_SCALEBAR_FONT_SIZE->currentText().toStdString(), file);
    NormalizePrivateProfile(file);
}

void ScaleBarDlg::on_CHECK_SCALEBAR_POSITION_clicked()
{
    ui->COMB_SCALEBAR_POSITION->setEnabled(ui->CHECK_SCALEBAR_POSITION->isChecked());
}

void ScaleBarDlg::on_BUTTON_APPLY_clicked()
{
    writeSetting();
    m_bResetPosition = ui->CHECK_SCALEBAR_POSITION->isChecked() ? 1 : 0;
    m_nPosition = ui->COMB_SCALEBAR_POSITION->currentIndex();
    accept();
}

void ScaleBarDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}
