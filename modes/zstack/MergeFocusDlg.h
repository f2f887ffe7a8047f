#pragma once

#include "ScriptableDialog.h"

class QComboBox;
class Ui_MergeFocusDlg;

// The two choices of a focus merge: the edge-detection kernel and grey or one pseudo colour,
// with an estimate of the merge time for the number of slices.
class MergeFocusDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    static constexpr int kMonochrome = 7;

    explicit MergeFocusDlg(QWidget* parent = nullptr);
    ~MergeFocusDlg() override;

    void setDefaultParam(int kernelSize, int colour, int sliceCount);
    void getParam(int& kernelSize, int& colour) const;
    // Seconds a merge takes per slice with this kernel: the estimate and the progress ticks.
    static int secondsPerSlice(int kernelSize);
    QString estimatedTime() const;

private slots:
    void on_BUTTON_APPLY_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_RADIO_COLOR_MONOCHROME_clicked();
    void on_RADIO_COLOR_PSEUDO_COLOR_clicked();
    void on_COMBO_MATCH_KERNEL_currentIndexChanged(int index);

private:
    void initialize();
    static void setUIFilterColorComboBox(QComboBox*& combo);
    void updateEstimatedTime();

    Ui_MergeFocusDlg* ui;
    int m_nKernelSize = 11;
    int m_nColor = kMonochrome;
    int m_nSliceCount = 0;
};
