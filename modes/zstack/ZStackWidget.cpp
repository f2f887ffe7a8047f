#include "ZStackWidget.h"

#include "Globals.h"

ZStackWidget::ZStackWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
}

void ZStackWidget::setCurrentState(TZStackState state)
{
    m_nCurrentState = state;
    emit changedState();
}

void ZStackWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_ZSTACK)
        return;
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void ZStackWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_ZSTACK)
        return;
    emit signalEnableMainMenu(true);
}

void ZStackWidget::setTheFirstTime(bool) {}
void ZStackWidget::readSetting() {}
void ZStackWidget::setCurrentFilterPosition(int) {}
void ZStackWidget::setCurrentObjectiveLensPosition(int) {}
void ZStackWidget::setPseudoColor(bool, int, int) {}
void ZStackWidget::slotLEDState(bool) {}
void ZStackWidget::captureCompleted(uchar *, int) {}
void ZStackWidget::slotUpdatePos(int) {}
void ZStackWidget::slotSetCurrentMotorPosition(int) {}
void ZStackWidget::slotMotorMovedStartPosition() {}
void ZStackWidget::slotMotorMoved() {}
void ZStackWidget::slotStartZPositioningCompleted() {}
void ZStackWidget::slotChangedCurrentThumbnailIndex(int) {}
void ZStackWidget::slotScaleBarCheckBoxState(TSScaleBar) {}
void ZStackWidget::slotSetScaleBarPoint(QPointF) {}
void ZStackWidget::slotSetAnnotationTextInfo(TAnnotationTextInfo) {}
void ZStackWidget::slotDeleteThumbnail(int) {}
