#pragma once
#include "ScriptableDialog.h"
#include "TItemSettingData.h"

class Ui_ItemSettingDlg;

// Colour and line width of one annotation item, or colour and point size of a text item. The
// caller reads m_ItemSettingData after exec() returned Accepted and applies it to the item itself.
class ItemSettingDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit ItemSettingDlg(TItemSettingData data, QWidget *parent = nullptr);
    ~ItemSettingDlg() override;

    TItemSettingData m_ItemSettingData; // Apply overwrites colour and size, never the type

private slots:
    void on_BUTTON_APPLY_clicked();
    void on_BUTTON_CANCEL_clicked();

private:
    Ui_ItemSettingDlg *ui;
};
