#pragma once
#include "SetupDlg.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QJsonObject>
#include <QStringList>
#include <memory>

class QWidget;

// One settings dialog on a fresh configuration file, opened as the main window opens it
// (g_CurrentMenu 8), with simulated system actions that record the clock commands.
struct SetupDlgBench
{
    explicit SetupDlgBench(TExecMode mode = EXEC_NORMAL);
    ~SetupDlgBench();

    TestRoot root;
    SimulatedSystemActions actions;
    std::unique_ptr<SetupDlg> dialog;
    // "Class:message text" of every dialog answered by the standing OK.
    std::shared_ptr<QStringList> messages = std::make_shared<QStringList>();

    // Builds the dialog (its constructor reads the file); open() reloads it as each opening does.
    void build();
    void open(bool live = false, TCurrentMenu previous = MENU_MULTICOLOR);

    template <class T = QWidget> T *widget(const QString &name) const { return dialog->findChild<T *>(name); }
    // A widget as the user sees it: a check box or radio "1"/"0", a label, field or combo its text.
    QString shown(const QString &name) const;
    // Presses a field as a finger does: on a spin box, its text area.
    void press(const QString &name) const;
    void click(const QString &button) const;
};

// The configuration file's raw value of a key: "<missing>" when absent.
QString rawSetting(const QString &section, const QString &key);
void setSetting(const QString &section, const QString &key, const QString &value);
QByteArray configBytes();
// The configuration file (or another INI file) as Python's configparser (no interpolation) reads
// it: {"section": {"key": "value"}}, or an empty object when it refuses the file.
QJsonObject parsedByConfigparser(const QString &file = QString());

// Scripts the next keyboard: types text and presses Enter, then Exit when the keyboard refused
// (its message is answered by the standing OK).
void pushTyping(const QString &text);
