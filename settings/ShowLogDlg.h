#pragma once
#include <QDialog>

// The serial-link log viewer of the serial-log start modes, opened from the control panel.
class ShowLogDlg : public QDialog
{
    Q_OBJECT
public:
    explicit ShowLogDlg(QWidget *parent = nullptr);
};
