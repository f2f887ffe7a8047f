#pragma once
#include "DragMove.h"

#include <QDialog>

namespace Ui {
class ShowLogDlg;
}

// The log viewer of the serial-log start modes: shows "/root/log" with the serial link's time-out
// count and copies the log to a folder the user picks. Modeless, on top, dragged by its top strip.
// It only reads the log file, never writes it.
class ShowLogDlg : public QDialog
{
    Q_OBJECT
public:
    explicit ShowLogDlg(QWidget *parent = nullptr);
    ~ShowLogDlg() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private slots:
    // Empties the text box only; the log file stays as it is.
    void on_BUTTON_CLEAR_clicked();
    void on_BUTTON_RELOAD_clicked();
    void on_BUTTON_COPY_clicked();
    void on_BUTTON_CLOSE_clicked();

private:
    DragMove m_drag;
    Ui::ShowLogDlg *ui;
};
