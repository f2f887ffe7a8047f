#pragma once
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QStringList>
#include <functional>
#include <memory>

class MediaMonitor;
class QDialog;
class SaveOptionsDlg;

// One save-dialog test case and its user. A fresh root with the SSD and USB1 and the remembered
// choices at their start values; simulated, the drives are the simulated instrument's, mounted by a
// running storage monitor, every system action recorded. The dialog itself is shown and act runs
// on it; the keyboard answers keyboardText; the "Saving in Progress ..." box runs until the saving
// run closes it; every other message box is answered with OK and its text kept in messages.
class SaveDlgUser
{
public:
    explicit SaveDlgUser(bool simulated = false);
    ~SaveDlgUser();
    int syncs() const;
    // The storage monitor answers this many free megabytes for every volume.
    static void setFreeMegabytes(quint64 megabytes);

    TestRoot root;
    QString usb;
    std::function<void(SaveOptionsDlg *)> act;
    QString keyboardText;
    QStringList messages;
    int progressBoxes = 0;
    // Runs at every sync (the savers sync after each file): a test pulls a drive from here.
    std::function<void()> onSync;

private:
    int play(QDialog *dialog);
    SimulatedSystemActions m_actions;
    SimStorage m_storage;
    std::unique_ptr<MediaMonitor> m_monitor;
};
