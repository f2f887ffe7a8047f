#include "CellCountWidget.h"

#include "Globals.h"

CellCountWidget::CellCountWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
}

void CellCountWidget::setCurrentState(TCellCountState state)
{
    m_nCurrentState = state;
    emit changedState();
}

void CellCountWidget::slotWaitForVideoWidgetIsStarted()
{
    slotWaitForVideoWidgetIsStopped();
}

// Started or stopped, the page is ready for the user again.
void CellCountWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_CELLCOUNT)
        return;
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void CellCountWidget::setTheFirstTime(bool) {}
void CellCountWidget::readSetting() {}
void CellCountWidget::setCurrentFilterPosition(int) {}
void CellCountWidget::setCurrentObjectiveLensPosition(int) {}
void CellCountWidget::setPseudoColor(bool, int, int) {}
void CellCountWidget::changedExposure(int) {}
void CellCountWidget::slotLEDState(bool) {}
void CellCountWidget::slotChangeCameraMode(int) {}
void CellCountWidget::captureCompleted(uchar *, int) {}
void CellCountWidget::slotChangedCurrentThumbnailIndex(int) {}
void CellCountWidget::setMeasurementResult(TSMeasurementItem &) {}
void CellCountWidget::slotGenerateImageData(QImage) {}
void CellCountWidget::slotScaleBarCheckBoxState(TSScaleBar) {}
void CellCountWidget::slotCompleteCellCountAF(bool, TFineAFErrTable) {}
void CellCountWidget::slotMotorMoved() {}
