#include "ProtocolEditorSupport.h"

#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ProtocolFile.h"

#include <QFile>
#include <QFileInfo>
#include <QListWidget>

const QString ProtocolEditorSupport::msgSavedAndLoaded = QStringLiteral("The selected protocol has been saved and loaded.");
const QString ProtocolEditorSupport::msgLoaded = QStringLiteral("The selected protocol has been loaded.");
const QString ProtocolEditorSupport::msgDefaultRefused =
    QStringLiteral("The DEFAULT protocol cannot be edited or deleted.\nPlease select another protocol.");
const QString ProtocolEditorSupport::msgListFull =
    QStringLiteral("Your protocol list is full.\nDelete some protocols before creating a new one.");
const QString ProtocolEditorSupport::msgConfirmDelete = QStringLiteral("Are you sure you want to delete\nthe selected protocol?");
const QString ProtocolEditorSupport::msgNameTooLong = QStringLiteral("<p><b>Error!</b><br/><br/>The name is too long.</p>");
const QString ProtocolEditorSupport::msgNotSaved =
    QStringLiteral("<p><b>Error!</b><br/><br/>The protocol could not be saved.</p>");
const QString ProtocolEditorSupport::msgNotDeleted =
    QStringLiteral("<p><b>Error!</b><br/><br/>The protocol could not be deleted.</p>");

int ProtocolEditorSupport::showMessage(const QString &text, bool withCancel)
{
    MessageDlg box(!withCancel);
    box.setMessage(text);
    return box.exec();
}

void ProtocolEditorSupport::fillList(QListWidget *list, const QString &current)
{
    const QStringList names = ProtocolFile::listNames();
    {
        const QSignalBlocker quiet(list);
        list->clear();
        for (const QString &name : names) {
            auto *item = new QListWidgetItem(name, list);
            item->setSizeHint(QSize(199, 40));
        }
        list->setCurrentItem(nullptr);
    }
    const int row = names.indexOf(current);
    if (row >= 0)
        list->setCurrentRow(row);
}

bool ProtocolEditorSupport::askNewName(const QString &current, QString &name)
{
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setCheckUnacceptableNaming(true);
    keyboard.setText(current);
    if (keyboard.exec() != 1)
        return false;
    name = keyboard.text();
    if (name.trimmed().compare(ProtocolFile::defaultName, Qt::CaseInsensitive) == 0) {
        showMessage(msgDefaultRefused);
        return false;
    }
    if (ProtocolFile::isNameTooLong(name)) {
        showMessage(msgNameTooLong);
        return false;
    }
    if (!ProtocolFile::isUsableName(name)) {
        showMessage(MessageDlg::presetText(MSG_INVALID_NAME_CHARS));
        return false;
    }
    return true;
}

bool ProtocolEditorSupport::saveCopy(int listCount, const QString &current,
                                     const std::function<bool(const std::string &)> &write)
{
    if (listCount >= kMaxListItems) {
        showMessage(msgListFull);
        return false;
    }
    QString name;
    if (!askNewName(current, name))
        return false;
    if (!write(ProtocolFile::pathOf(name))) {
        showMessage(msgNotSaved);
        return false;
    }
    return true;
}

bool ProtocolEditorSupport::removeProtocolFile(const std::string &path)
{
    const QString file = QString::fromStdString(path);
    QFile::remove(file);
    if (QFileInfo::exists(file)) {
        showMessage(msgNotDeleted);
        return false;
    }
    return true;
}

void ProtocolEditorSupport::setCurrentProtocolName(const QString &name)
{
    WritePrivateProfileString("Protocol Name", "Name", name.toStdString(), Paths::configFile().toStdString());
}
