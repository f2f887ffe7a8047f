#include "MainWindowShots.h"

#include "ControlWidget.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SetupDlg.h"
#include "SimSandbox.h"
#include "SimStorage.h"
#include "SimulatedInstrument.h"
#include "TimeLapseWidget.h"
#include "ui_NIMBODlg.h"

#include <QApplication>
#include <QDebug>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>

#include <memory>

namespace {

SimulatedInstrument *simulation()
{
    static std::unique_ptr<SimulatedInstrument> sim;
    if (!sim) {
        SimSandbox::seed();
        QString error;
        if (!SimStorage::install(&error))
            qWarning().noquote() << error;
        const std::string config = Paths::configFile().toStdString();
        WritePrivateProfileString("LicenseAgreement", "Accepted", "1", config);
        WritePrivateProfileString("Setting_Misc", "ShowStartDlg", "0", config);
        sim = std::make_unique<SimulatedInstrument>();
        if (!sim->start(&error))
            qWarning().noquote() << error;
        ControlWidget::setSerialPortName(sim->devicePath());
    }
    return sim.get();
}

bool waitUnlocked(NIMBODlg *window)
{
    QElapsedTimer timer;
    timer.start();
    while (!window->form()->BUTTON_POWER->isEnabled() && timer.elapsed() < 15000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return window->form()->BUTTON_POWER->isEnabled();
}

void pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The Time lapse page live, acquiring (2 s interval, correction off), paused, or paused on its
// processing sub-page.
void timeLapseStep(NIMBODlg *window, const QString &screen)
{
    TimeLapseWidget *page = window->form()->m_TimeLapseWidget;
    page->findChild<QPushButton *>("BUTTON_TIMELAPSE_LIVE")->click();
    waitUnlocked(window);
    if (screen == "TimeLapse-live")
        return;
    page->findChild<QSpinBox *>("SPINBOX_MINUTE")->setValue(1);
    page->findChild<QComboBox *>("COMBOBOX_INTERVAL_TYPE")->setCurrentText("Second");
    page->findChild<QDoubleSpinBox *>("SPINBOX_INTERVAL")->setValue(2);
    QDir().mkpath(Paths::path("/media/VANTOR SSD/Timelapse"));
    page->setSaveTarget(Paths::path("/media/VANTOR SSD/Timelapse"), "HeLa_day3", "tif");
    page->findChild<QPushButton *>("BUTTON_TIMELAPSE_RUN")->click();
    pump(4500);
    if (screen == "TimeLapse-acquiring")
        return;
    page->findChild<QPushButton *>("BUTTON_TIMELAPSE_PAUSE")->click();
    waitUnlocked(window);
    if (screen == "TimeLapse-processing")
        page->findChild<QPushButton *>("BUTTON_MODE2")->click();
}

} // namespace

QStringList mainWindowScreens()
{
    return {"Multicolor", "ZStack", "TimeLapse", "TimeLapse-live", "TimeLapse-acquiring", "TimeLapse-paused",
            "TimeLapse-processing", "CellCount", "FileManager", "Setting", "PowerQuestion"};
}

QWidget *mainWindowShot(const QString &screen)
{
    simulation();
    auto *window = new NIMBODlg(MENU_MULTICOLOR, EXEC_NORMAL);
    window->show();
    Ui_NIMBODlg *ui = window->form();
    if (!waitUnlocked(window)) {
        delete window;
        return nullptr;
    }
    // The specimen in focus under the objective in place (the start-up reset moved the counter).
    const VirtualInstrument::State stage = simulation()->instrument().state();
    const double focus = simulation()->camera().renderer().trueFocusSteps(stage.objectivePosition);
    simulation()->instrument().setStagePosition(int(focus) - stage.stageCounterOffset);
    ui->m_ControlWidget->turnOnLight();
    const QMap<QString, QAbstractButton *> buttons = {{"ZStack", ui->BUTTON_Z_STACK_MENU},
                                                      {"TimeLapse", ui->BUTTON_TIME_LAPSE_MENU},
                                                      {"TimeLapse-live", ui->BUTTON_TIME_LAPSE_MENU},
                                                      {"TimeLapse-acquiring", ui->BUTTON_TIME_LAPSE_MENU},
                                                      {"TimeLapse-paused", ui->BUTTON_TIME_LAPSE_MENU},
                                                      {"TimeLapse-processing", ui->BUTTON_TIME_LAPSE_MENU},
                                                      {"CellCount", ui->BUTTON_COUNT_MENU},
                                                      {"FileManager", ui->BUTTON_FILEMANAGER}};
    if (QAbstractButton *button = buttons.value(screen)) {
        button->click();
        if (!waitUnlocked(window)) {
            delete window;
            return nullptr;
        }
        if (screen != "FileManager")
            ui->m_ControlWidget->turnOnLight();
        if (screen.startsWith("TimeLapse-"))
            timeLapseStep(window, screen);
    } else if (screen == "Setting") {
        window->setupDlg().show();
    } else if (screen == "PowerQuestion") {
        auto *question = new MessageDlg(window);
        question->setMsgType(MSG_SHUT_DOWN);
        question->show();
    }
    // Let the live image follow the light and the stage.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return window;
}
