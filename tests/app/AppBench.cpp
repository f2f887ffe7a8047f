#include "AppBench.h"

#include "CameraAccess.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ParallelLoops.h"
#include "SaveOptionsDlg.h"
#include "SimSandbox.h"
#include "StoredSetting.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

SimulatedInstrument::Options AppBench::defaultOptions()
{
    SimulatedInstrument::Options options;
    options.startBoard = true;
    return options;
}

AppBench::AppBench(const SimulatedInstrument::Options &options)
{
    g_ExecMode = EXEC_NORMAL;
    g_CurrentMenu = MENU_MULTICOLOR;
    camera_reset_state();
    QString error;
    if (!SimSandbox::seed())
        qWarning() << "sandbox not seeded";
    if (!SimStorage::seed(&error))
        qWarning() << "storage not seeded:" << error;
    storage.attach(actions);
    actions.setExitHook([this](int code) { exitCodes << code; });
    SystemActions::setInstance(&actions);

    sim = std::make_unique<SimulatedInstrument>(options);
    if (!sim->start(&error))
        qWarning() << "board not started:" << error;
    ControlWidget::setSerialPortName(sim->devicePath());

    m_answer = std::make_shared<std::function<int(QDialog *)>>([](QDialog *) { return 1; });
    auto dialogs = m_dialogs;
    auto answer = m_answer;
    DialogRunner::clearScripts();
    DialogRunner::clearLog();
    DialogRunner::setStandingScript([dialogs, answer](QDialog *dialog) {
        QString entry = dialog->metaObject()->className();
        if (auto *label = dialog->findChild<QLabel *>("message_label"))
            entry += ":" + label->text();
        dialogs->append(entry);
        return (*answer)(dialog);
    });
}

AppBench::~AppBench()
{
    // Qt's own parentless animations (the line edits' clear-button fades) end and are deleted
    // while the event loop still runs; one cut off by the teardown would outlive the application.
    QTest::qWait(500);
    window.reset();
    DialogRunner::clearScripts();
    sim.reset();
    ControlWidget::setSerialPortName(QString());
    SystemActions::setInstance(nullptr);
    g_ExecMode = EXEC_NORMAL;
    g_CurrentMenu = MENU_MULTICOLOR;
}

void AppBench::setConfig(const char *section, const char *key, const char *value)
{
    WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
}

QString AppBench::config(const char *section, const char *key)
{
    return storedSetting(section, key);
}

void AppBench::quietStart()
{
    setConfig("LicenseAgreement", "Accepted", "1");
    setConfig("Setting_Misc", "ShowStartDlg", "0");
}

NIMBODlg *AppBench::build(TCurrentMenu menu, TExecMode mode)
{
    window = std::make_unique<NIMBODlg>(menu, mode);
    // The simulated board answers from a thread of this process: on a loaded machine a reply can
    // take longer than the real board's second.
    ui()->m_ControlWidget->controller().setExchangeTimeoutMs(kExchangeTimeoutMs);
    window->show();
    return window.get();
}

NIMBODlg *AppBench::start(TExecMode mode)
{
    build(MENU_MULTICOLOR, mode);
    if (!waitUnlocked())
        qWarning() << "the main menu was not unlocked";
    return window.get();
}

Ui_NIMBODlg *AppBench::ui() const
{
    return window->form();
}

bool AppBench::menuUnlocked() const
{
    return window && ui()->BUTTON_POWER->isEnabled() && ui()->BUTTON_Z_STACK_MENU->isEnabled();
}

bool AppBench::waitUnlocked(int timeoutMs) const
{
    return QTest::qWaitFor([this] { return menuUnlocked(); }, timeoutMs);
}

QList<int> AppBench::stageMoves() const
{
    static const QRegularExpression move("^(\\$A#STAGE|Z) (-?\\d+)$");
    QList<int> out;
    for (const QString &line : sim->board()->receivedTexts()) {
        const auto m = move.match(line);
        if (m.hasMatch())
            out << m.captured(2).toInt();
    }
    return out;
}

void AppBench::setAnswer(std::function<int(QDialog *)> answer)
{
    *m_answer = std::move(answer);
}

bool AppBench::showedMessage(int type) const
{
    return m_dialogs->contains("MessageDlg:" + MessageDlg::presetText(TMessageType(type)));
}

int AppBench::saveAs(QDialog *dialog, const QString &name)
{
    if (auto *keyboard = qobject_cast<KeyboardDlg *>(dialog)) {
        keyboard->setText(name);
        return 1;
    }
    if (qobject_cast<SaveOptionsDlg *>(dialog))
        return DialogRunner::showAndRun(dialog, [](QDialog *d) {
            QTest::mouseClick(d->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
            DialogRunner::click(d, "BUTTON_APPLY");
        }, 60000);
    return -1;
}

QStringList AppBench::endActions() const
{
    return actions.calls().filter(QRegularExpression("^(sync|shutdown|reboot|exit)( |$)"));
}

void AppBench::refuseStillsWhile(std::function<bool()> refuse)
{
    Controller *link = &ui()->m_ControlWidget->controller();
    ui()->m_VideoWidget->setSceneCheck([link, refuse] { return link->refreshTurretPositions() && !refuse(); });
}

void AppBench::hastenStageWaits()
{
    Controller &link = ui()->m_ControlWidget->controller();
    link.setExchangeTimeoutMs(Controller::kExchangeTimeoutMs); // the real board's wait: a silent board uses it up
    link.setMoveReplyTimeoutMs(Controller::kMoveReplyTimeoutMs / 5);
    link.motorPositioning().setClock(
        [clock = std::make_shared<QElapsedTimer>()] {
            if (!clock->isValid())
                clock->start();
            return 5 * clock->elapsed();
        },
        nullptr);
}

QStringList AppBench::listed(const QAbstractItemView *list)
{
    QStringList names;
    const QModelIndex root = list->rootIndex();
    for (int row = 0; row < list->model()->rowCount(root); ++row)
        names << list->model()->index(row, 0, root).data().toString();
    return names;
}
