#include "ItemSettingDlg.h"

#include "DiagramTextItem.h"
#include "Globals.h"
#include "Utilities.h"
#include "ui_ItemSettingDlg.h"

ItemSettingDlg::ItemSettingDlg(TItemSettingData data, QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , m_ItemSettingData(data)
    , ui(new Ui_ItemSettingDlg)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    addColorTableItems(ui->COMB_ITEM_COLOR);
    ui->COMB_ITEM_COLOR->setCurrentIndex(qMax(0, g_ColorTable.indexOf(data.color)));
    ui->COMB_ITEM_SIZE->clear();
    if (data.itemType == DiagramTextItem::Type) {
        ui->COMB_ITEM_SIZE->addItems(g_FontSizeList);
        ui->LABEL_WIDTH->setText("Size");
    } else {
        ui->COMB_ITEM_SIZE->addItems(g_LineWidthList);
    }
    ui->COMB_ITEM_SIZE->setCurrentIndex(ui->COMB_ITEM_SIZE->findText(QString("%1").arg(data.size), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

ItemSettingDlg::~ItemSettingDlg()
{
    delete ui;
}

void ItemSettingDlg::on_BUTTON_APPLY_clicked()
{
    m_ItemSettingData.color = colorTableEntry(ui->COMB_ITEM_COLOR->currentIndex());
    m_ItemSettingData.size = ui->COMB_ITEM_SIZE->currentText().toInt();
    accept();
}

void ItemSettingDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}
