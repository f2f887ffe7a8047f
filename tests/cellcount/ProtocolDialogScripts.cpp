#include "ProtocolDialogScripts.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "KeyboardDlg.h"

#include <QPushButton>

namespace ProtocolDialogScripts {

std::shared_ptr<QStringList> answerMessagesWithOk()
{
    auto messages = std::make_shared<QStringList>();
    DialogRunner::setStandingScript([messages](QDialog *dialog) {
        messages->append(DialogScripts::messageText(dialog));
        return 1;
    });
    return messages;
}

void pushKeyboardEntry(const QString &text)
{
    DialogScripts::pushAct([text](QDialog *dialog) {
        static_cast<KeyboardDlg *>(dialog)->setText(text);
        DialogRunner::click(dialog, "BUTTON_KEY_ENTER");
        if (dialog->isVisible())
            DialogRunner::click(dialog, "BUTTON_EXIT");
    });
}

void click(QDialog *dialog, const QString &button)
{
    auto *b = dialog->findChild<QPushButton *>(button);
    if (!b)
        qFatal("no button %s", qPrintable(button));
    b->click();
}

} // namespace ProtocolDialogScripts
