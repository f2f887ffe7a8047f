#pragma once
#include <QDialog>
#include <QTimer>

class QKeyEvent;
class Ui_HotPixelCorrectionDialog;

// The small modal dialog of the hot-pixel calibration: instructions, Start, Cancel and a progress
// bar. Start disables both buttons, shows the bar and emits signalDoHotPixelCorrection; the owner
// runs the calibration and calls slotDoneHotPixelCorrection, which fills the bar and accepts.
// Cancel rejects. No key closes it.
class HotPixelCorrectionDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kProgressTickMs = 100;

    explicit HotPixelCorrectionDialog(QWidget *parent = nullptr);
    ~HotPixelCorrectionDialog() override;

    int progressValue() const;

signals:
    void signalDoHotPixelCorrection();

public slots:
    void slotDoneHotPixelCorrection();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void on_BUTTON_OK_clicked();
    void on_BUTTON_CANCEL_clicked();
    void slotMakeProgress();

private:
    Ui_HotPixelCorrectionDialog *ui;
    QTimer m_progressTimer;
};
