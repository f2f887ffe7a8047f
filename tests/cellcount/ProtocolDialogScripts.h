#pragma once
#include <QString>
#include <QStringList>
#include <memory>

class QDialog;

// The user of the protocol editors: answers every message box (recording its text) and types
// names into the keyboard.
namespace ProtocolDialogScripts {

// From now on every dialog without a queued script is a message box answered with OK; its text
// is appended to the returned list.
std::shared_ptr<QStringList> answerMessagesWithOk();
// The next dialog is the keyboard: text, Enter, and Exit when the keyboard refused the entry
// (its own message box then takes the next queued script or the standing one).
void pushKeyboardEntry(const QString &text);
// Clicks a button of a dialog by object name; fails the test when there is none or it is disabled.
void click(QDialog *dialog, const QString &button);

} // namespace ProtocolDialogScripts
