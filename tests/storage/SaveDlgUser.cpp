#include "SaveDlgUser.h"

#include "DialogRunner.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "SaveOptionsDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

SaveDlgUser::SaveDlgUser()
{
    DialogRunner::clearScripts();
    DialogRunner::setStandingScript([this](QDialog *dialog) { return play(dialog); });
}

SaveDlgUser::~SaveDlgUser()
{
    DialogRunner::clearScripts();
}

int SaveDlgUser::play(QDialog *dialog)
{
    if (auto *keyboard = qobject_cast<KeyboardDlg *>(dialog)) {
        ++keyboards;
        keyboard->setText(keyboardText);
        return QDialog::Accepted;
    }
    if (auto *save = qobject_cast<SaveOptionsDlg *>(dialog))
        return DialogRunner::showAndRun(dialog, [this, save](QDialog *) { if (act) act(save); }, 20000);
    auto *label = dialog->findChild<QLabel *>("message_label");
    const QString text = label ? label->text() : QString();
    if (text.contains("Saving in Progress")) {
        ++progressBoxes;
        return DialogRunner::showAndRun(dialog, nullptr, 20000);
    }
    messages << text;
    return QDialog::Accepted;
}

void SaveDlgUser::touchName(SaveOptionsDlg *dialog)
{
    QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
}

void SaveDlgUser::setFreeMegabytes(quint64 megabytes)
{
    MediaMonitor::setSpaceQuery([megabytes](const QString &, quint64 *fragment, quint64 *blocks) {
        *fragment = 1000000;
        *blocks = megabytes;
        return true;
    });
}
