#pragma once
#include <QStringList>
#include <QtGlobal>
#include <functional>

class QDialog;
class SaveOptionsDlg;

// Plays the user of the save dialog for one test: the dialog itself is shown and act runs on it;
// the keyboard answers keyboardText; the "Saving in Progress ..." box runs until the saving run
// closes it; every other message box is answered with OK and its text kept in messages.
class SaveDlgUser
{
public:
    SaveDlgUser();
    ~SaveDlgUser();

    std::function<void(SaveOptionsDlg *)> act;
    QString keyboardText;
    QStringList messages;
    int progressBoxes = 0;
    int keyboards = 0;

    // Opens the keyboard on the name line as a touch does.
    static void touchName(SaveOptionsDlg *dialog);
    // The storage monitor answers this many free megabytes for every volume (until reset with
    // MediaMonitor::setSpaceQuery(nullptr)).
    static void setFreeMegabytes(quint64 megabytes);

private:
    int play(QDialog *dialog);
};
