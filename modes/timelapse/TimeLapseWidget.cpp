#include "TimeLapseWidget.h"

#include "Globals.h"

TimeLapseWidget::TimeLapseWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
}

void TimeLapseWidget::setCurrentState(TTimeLapseState state)
{
    m_nCurrentState = state;
    emit changedState();
}

void TimeLapseWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_TIMELAPSE)
        return;
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void TimeLapseWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_TIMELAPSE)
        return;
    emit signalEnableMainMenu(true);
}

void TimeLapseWidget::setTheFirstTime(bool) {}
void TimeLapseWidget::readSetting() {}
void TimeLapseWidget::setCurrentFilterPosition(int) {}
void TimeLapseWidget::setCurrentObjectiveLensPosition(int) {}
void TimeLapseWidget::setPseudoColor(bool, int, int) {}
void TimeLapseWidget::changedExposure(int) {}
void TimeLapseWidget::slotLEDState(bool) {}
void TimeLapseWidget::captureCompleted(uchar *, int) {}
void TimeLapseWidget::slotScaleBarCheckBoxState(TSScaleBar) {}
void TimeLapseWidget::slotSetScaleBarPoint(QPointF) {}
void TimeLapseWidget::slotSetCurrentMotorPosition(int) {}
void TimeLapseWidget::slotCompleteTimeLapseAF(int, bool, TFineAFErrTable) {}
void TimeLapseWidget::slotsaveAFData(int, int, double) {}
void TimeLapseWidget::slotSetAnnotationTextInfo(TAnnotationTextInfo) {}
void TimeLapseWidget::slotDeleteThumbnail(int) {}
void TimeLapseWidget::slotGrabbed(uchar *, int) {}
void TimeLapseWidget::slotSetEnableControlState(bool) {}
