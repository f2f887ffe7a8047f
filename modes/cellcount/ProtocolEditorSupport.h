#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QListWidget;

// What the two protocol editors (ProtocolDlg, NewProtocolDlg) share: their messages, the list of
// protocol files and the naming of a copy.
class ProtocolEditorSupport
{
public:
    static const QString msgSavedAndLoaded;
    static const QString msgLoaded;
    static const QString msgDefaultRefused;
    static const QString msgListFull;
    static const QString msgConfirmDelete;
    static const QString msgNameTooLong;
    static const QString msgNotSaved;
    static const QString msgNotDeleted;

    static constexpr int kMaxListItems = 300;

    // A message box with OK alone (with Cancel too when asked); 1 after OK.
    static int showMessage(const QString &text, bool withCancel = false);

    // Refills the list with the protocol names (ProtocolFile::listNames), 199 x 40 pixels each;
    // emptying it is not a selection. Then makes the item of current the current item, which is
    // a selection (currentTextChanged).
    static void fillList(QListWidget *list, const QString &current);

    // Asks the on-screen keyboard for the name of a copy, starting from current. False when the
    // user left the keyboard, or gave DEFAULT in any letter case or a name too long for a file
    // (each with its message); the keyboard itself refuses empty names and forbidden characters.
    static bool askNewName(const QString &current, QString &name);

    // Save as of both editors: refuses a full list (listCount items), asks the name and writes
    // the copy through write, saying so when that fails. True when the copy was written.
    static bool saveCopy(int listCount, const QString &current, const std::function<bool(const std::string &)> &write);

    // Removes a protocol file: false (with its message) when it is still there afterwards.
    static bool removeProtocolFile(const std::string &path);

    // Records the protocol the cell-count page uses from its next reading of the settings.
    static void setCurrentProtocolName(const QString &name);
};
