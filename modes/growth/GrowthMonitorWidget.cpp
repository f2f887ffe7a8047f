#include "GrowthMonitorWidget.h"

#include "Globals.h"

GrowthMonitorWidget::GrowthMonitorWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
}

void GrowthMonitorWidget::setCurrentState(TGrowthMonitorState state)
{
    m_nCurrentState = state;
    emit changedState();
}

void GrowthMonitorWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_GROWTH_MONITOR)
        return;
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void GrowthMonitorWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_GROWTH_MONITOR)
        return;
    emit signalEnableMainMenu(true);
}

void GrowthMonitorWidget::setTheFirstTime(bool) {}
void GrowthMonitorWidget::readSetting() {}
void GrowthMonitorWidget::setCurrentFilterPosition(int) {}
void GrowthMonitorWidget::setCurrentObjectiveLensPosition(int) {}
void GrowthMonitorWidget::setPseudoColor(bool, int, int) {}
void GrowthMonitorWidget::slotLEDState(bool) {}
void GrowthMonitorWidget::slotChangeCameraMode(int) {}
void GrowthMonitorWidget::captureCompleted(uchar *, int) {}
void GrowthMonitorWidget::slotChangedCurrentThumbnailIndex(int) {}
void GrowthMonitorWidget::slotScaleBarCheckBoxState(TSScaleBar) {}
