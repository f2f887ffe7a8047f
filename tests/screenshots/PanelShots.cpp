#include "PanelShots.h"

#include "ControlWidget.h"
#include "Globals.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SimSandbox.h"
#include "SimulatedInstrument.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

namespace {

void setConfig(const char *section, const char *key, const char *value)
{
    WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
}

// One simulated instrument for every picture, started on first use.
SimulatedInstrument &instrument()
{
    static SimulatedInstrument *sim = [] {
        SimSandbox::seed(); // the simulated instrument's cubes and objectives
        setConfig("Filter_2", "Light", "65");
        setConfig("Filter_2", "Gain", "6");
        setConfig("Filter_2", "Exposure", "17");
        setConfig("FocusMemory", "1", "12400");
        setConfig("FocusMemoryDesc", "1", "Monolayer");
        setConfig("FocusMemory", "3", "20480");
        auto *s = new SimulatedInstrument;
        s->start();
        s->instrument().setStagePosition(124000);
        s->instrument().turnFilter(2, 0);
        s->instrument().turnObjective(2, 0);
        return s;
    }();
    return *sim;
}

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

QWidget *panelShot(PanelShotState state)
{
    ControlWidget::setSerialPortName(instrument().devicePath());
    g_CurrentMenu = MENU_MULTICOLOR;

    auto *backdrop = new QWidget;
    backdrop->setGeometry(0, 0, 1920, 1080);
    backdrop->setObjectName("Backdrop");
    backdrop->setStyleSheet("QWidget#Backdrop { background-color: rgb(18,20,23); }");
    auto *panel = new ControlWidget(backdrop);
    panel->setGeometry(1292, 60, 250, 1020);
    pump(500); // the first polls report turrets and stage

    panel->setControlWidgetState(CONTROL_STATE_OPENED);
    panel->setLiveMode(false);
    panel->setUIControlEnabled(false, true);
    if (state == PanelShotState::Opened)
        return backdrop;

    panel->setCurrentMenuState(-1, 0, -1, -1, -1, -1);
    panel->setLiveMode(true);
    panel->changedFilterPosition(panel->currentFilterPosition());
    panel->changedLensPosition(panel->currentObjectivePosition());
    panel->findChild<QAbstractButton *>("BUTTON_LIGHT_ON")->click();
    pump(300);
    switch (state) {
    case PanelShotState::Still:
        panel->setLiveMode(false);
        panel->setUIControlEnabled(false, true);
        panel->disableLightForOutOfFilterPositionOrPowerOffPopup();
        panel->setPseudoColorButtonEnabled(true);
        break;
    case PanelShotState::Disabled:
        panel->changedFilterPosition(-1); // the turret stands between two cubes
        break;
    default:
        break;
    }
    return backdrop;
}
