#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDialog;

// Scripts that play the user on the next dialog opened through DialogRunner.
namespace DialogScripts {

// Shows the next dialog, runs act on it (clicks, typing), then waits until the dialog closes and
// answers its result (-1 when it stayed open past the time-out).
void pushAct(std::function<void(QDialog *)> act, int timeoutMs = 5000);
// Shows the next dialog and clicks the named button.
void pushClick(const QString &button);
// Shows the next dialog and clicks button; if the dialog is still open then (it refused), clicks
// closer.
void pushClickOrClose(const QString &button, const QString &closer);
// Answers the next dialog with result without showing it, keeping its message text.
void pushAnswer(int result, std::shared_ptr<QStringList> messages = {});

// The text of a dialog's "message_label" (empty when it has none).
QString messageText(QDialog *dialog);

} // namespace DialogScripts
