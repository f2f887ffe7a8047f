#include "SetupDlgBench.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "HangBound.h"
#include "KeyboardDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QtTest>

SetupDlgBench::SetupDlgBench(TExecMode mode)
{
    g_ExecMode = mode;
    g_CurrentMenu = MENU_MULTICOLOR;
    SystemActions::setInstance(&actions);
    DialogRunner::clearScripts();
    DialogRunner::clearLog();
    // Dialogs no script waits for (messages, confirmations) are answered OK and logged.
    auto log = messages;
    DialogRunner::setStandingScript([log](QDialog *shown) {
        log->append(QString(shown->metaObject()->className()) + ":" + DialogScripts::messageText(shown));
        return 1;
    });
    root.makeDir("/root/Microscope/NIMBO");
}

SetupDlgBench::~SetupDlgBench()
{
    dialog.reset();
    DialogRunner::clearScripts();
    SystemActions::setInstance(nullptr);
    g_ExecMode = EXEC_NORMAL;
    g_CurrentMenu = MENU_MULTICOLOR;
}

void SetupDlgBench::build()
{
    dialog = std::make_unique<SetupDlg>(nullptr);
}

void SetupDlgBench::open(bool live, TCurrentMenu previous)
{
    if (!dialog)
        build();
    g_CurrentMenu = MENU_SETTING;
    dialog->readSetting();
    dialog->setLiveMode(live);
    dialog->setCurrentMenu(previous);
    dialog->setEnabled(true);
}

QString SetupDlgBench::shown(const QString &name) const
{
    QWidget *w = widget(name);
    if (auto *button = qobject_cast<QAbstractButton *>(w); button && button->isCheckable())
        return button->isChecked() ? "1" : "0";
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(w))
        return spin->text();
    return "<no widget " + name + ">";
}

void SetupDlgBench::press(const QString &name) const
{
    QWidget *w = widget(name);
    if (qobject_cast<QAbstractSpinBox *>(w) && !name.endsWith("_SPINBOX"))
        w = w->findChild<QLineEdit *>();
    QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(5, 5));
}

void SetupDlgBench::click(const QString &button) const
{
    QVERIFY2(DialogRunner::click(dialog.get(), button), qPrintable(button));
}

QString rawSetting(const QString &section, const QString &key)
{
    QSettings settings(Paths::configFile(), QSettings::IniFormat);
    return settings.value(section + "/" + key, "<missing>").toString();
}

void setSetting(const QString &section, const QString &key, const QString &value)
{
    WriteSetting(section.toStdString(), key.toStdString(), value.toStdString(), Paths::configFile().toStdString());
}

QByteArray configBytes()
{
    QFile file(Paths::configFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject parsedByConfigparser(const QString &file)
{
    const char *script = "import configparser, json, sys\n"
                         "p = configparser.ConfigParser(interpolation=None)\n"
                         "p.optionxform = str\n"
                         "p.read(sys.argv[1], encoding='utf-8')\n"
                         "print(json.dumps({s: dict(p[s]) for s in p.sections()}))\n";
    QProcess python;
    python.start("/usr/bin/python3", {"-c", script, file.isEmpty() ? Paths::configFile() : file});
    if (!python.waitForFinished(kHangBoundMs) || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

void pushTyping(const QString &text)
{
    DialogScripts::pushAct([text](QDialog *keyboard) {
        qobject_cast<KeyboardDlg *>(keyboard)->setText(text);
        DialogRunner::click(keyboard, "BUTTON_KEY_ENTER");
        if (keyboard->isVisible())
            DialogRunner::click(keyboard, "BUTTON_EXIT");
    });
}
