#include "DialogScripts.h"

#include "DialogRunner.h"

#include <QDialog>
#include <QLabel>

namespace DialogScripts {

void pushAct(std::function<void(QDialog *)> act, int timeoutMs)
{
    DialogRunner::pushScript([act, timeoutMs](QDialog *dialog) {
        return DialogRunner::showAndRun(dialog, act, timeoutMs);
    });
}

void pushClick(const QString &button)
{
    pushAct([button](QDialog *dialog) { DialogRunner::click(dialog, button); });
}

void pushClickOrClose(const QString &button, const QString &closer)
{
    pushAct([button, closer](QDialog *dialog) {
        DialogRunner::click(dialog, button);
        if (dialog->isVisible())
            DialogRunner::click(dialog, closer);
    });
}

void pushAnswer(int result, std::shared_ptr<QStringList> messages)
{
    DialogRunner::pushScript([result, messages](QDialog *dialog) {
        if (messages)
            messages->append(messageText(dialog));
        return result;
    });
}

QString messageText(QDialog *dialog)
{
    auto *label = dialog->findChild<QLabel *>("message_label");
    return label ? label->text() : QString();
}

} // namespace DialogScripts
