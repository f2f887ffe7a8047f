#pragma once
#include "Globals.h"

#include <QDialog>

// The frameless full-screen main window of the application.
class NIMBODlg : public QDialog
{
    Q_OBJECT

public:
    NIMBODlg(TCurrentMenu menu, TExecMode mode, QWidget *parent = nullptr);
};
