#pragma once
#include "ScriptableDialog.h"

class Ui_ScaleBarDlg;

// Colour, length and label size of the scale bar, and the corner it is put back to when "Reset
// position" is ticked. Apply stores the four [ScaleBar] keys of the configuration file; the
// caller reads the reset choice and the corner after exec() returned Accepted.
class ScaleBarDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit ScaleBarDlg(QWidget *parent = nullptr);
    ~ScaleBarDlg() override;

    int m_bResetPosition = 0; // "Reset position" was ticked at Apply
    int m_nPosition = 0;      // corner chosen at Apply: 0 top left, 1 top right, 2 bottom left, 3 bottom right

private slots:
    void on_CHECK_SCALEBAR_POSITION_clicked();
    void on_BUTTON_APPLY_clicked();
    void on_BUTTON_CANCEL_clicked();

private:
    void initialize();
    void readSetting();
    void writeSetting();

    Ui_ScaleBarDlg *ui;
};
