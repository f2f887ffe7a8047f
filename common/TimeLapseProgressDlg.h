#pragma once
#include "ScriptableDialog.h"

#include <QPixmap>

class Ui_TimeLapseProgressDlg;

// The progress box of long operations. With a total of 1 or more it shows a bar, a count text
// ("1,234 / 10,000") and a Stop button; with no total, a busy indicator alone.
//
// Usual use: the owner creates it on the heap, sets message and total, switches signal mode on,
// connects signalOKClicked to its stop slot and runs exec(); its work advances the box with
// setCurrentCount and closes the box when done or stopped, which ends exec().
class TimeLapseProgressDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit TimeLapseProgressDlg(QWidget *parent = nullptr);
    ~TimeLapseProgressDlg() override;

    void setTotalCount(int total);
    int getTotalCount() const { return m_nTotalCount; }
    int getCurrentCount() const { return m_nCurrentCount; }
    // Stores the count and repaints at once, also while the owner keeps the event loop busy.
    void setCurrentCount(int current);
    void setMessage(QString message);
    // In signal mode Stop only emits signalOKClicked; otherwise it accepts the box.
    void setSignalMode(bool on);
    void setEnableStop(bool on);

    // The bar's width in pixels on its 400-pixel track for the counts, kept within the track.
    static int barWidth(int current, int total);
    // The count text, "current / total" with thousands separators.
    static QString countText(int current, int total);

signals:
    void signalOKClicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_STOP_clicked();

private:
    int m_nTotalCount = 0;
    int m_nCurrentCount = 0;
    QPixmap m_BarImage;
    Ui_TimeLapseProgressDlg *ui;
    bool m_bSignalMode = false;
};
