#include "SaveDlgUser.h"

#include "DialogRunner.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "SaveOptionsDlg.h"

#include <QDebug>
#include <QLabel>
#include <QRegularExpression>

SaveDlgUser::SaveDlgUser(bool simulated)
{
    g_PreviouslySavedPath.clear();
    g_bSaveAsFolder = false;
    g_bSaveWithMonochromeOrPseudoColor[0] = true;
    g_bSaveWithMonochromeOrPseudoColor[1] = false;
    if (simulated) {
        QString error;
        if (!SimStorage::seed(&error))
            qWarning() << error;
        m_storage.attach(m_actions);
        m_actions.setHandler([this, storage = m_storage.handler()](const QString &action, const QStringList &args) {
            if (action == "sync" && onSync)
                onSync();
            return storage(action, args);
        });
        SystemActions::setInstance(&m_actions);
        m_monitor = std::make_unique<MediaMonitor>();
        m_monitor->mountAll();
    } else {
        for (const char *folder : {"/root/Microscope/NIMBO", "/media/VANTOR SSD", "/media/USB1"})
            root.makeDir(folder);
    }
    usb = Paths::path("/media/USB1");
    DialogRunner::clearScripts();
    DialogRunner::setStandingScript([this](QDialog *dialog) { return play(dialog); });
}

SaveDlgUser::~SaveDlgUser()
{
    DialogRunner::clearScripts();
    m_monitor.reset();
    SystemActions::setInstance(nullptr);
    MediaMonitor::setSpaceQuery(nullptr);
}

int SaveDlgUser::syncs() const
{
    return m_actions.calls().filter(QRegularExpression("^sync")).size();
}

int SaveDlgUser::play(QDialog *dialog)
{
    if (auto *keyboard = qobject_cast<KeyboardDlg *>(dialog)) {
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

void SaveDlgUser::setFreeMegabytes(quint64 megabytes)
{
    MediaMonitor::setSpaceQuery([megabytes](const QString &, quint64 *fragment, quint64 *blocks) {
        *fragment = 1000000;
        *blocks = megabytes;
        return true;
    });
}
