#include "MultiColorWidget.h"

#include "Globals.h"

MultiColorWidget::MultiColorWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
}

void MultiColorWidget::setCurrentState(TMultiState state)
{
    m_nCurrentState = state;
    emit changedState();
}

void MultiColorWidget::clear()
{
    emit captured(false);
    emit saved(false);
}

void MultiColorWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void MultiColorWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    emit signalEnableMainMenu(true);
}

void MultiColorWidget::readSetting() {}
void MultiColorWidget::changeMeasurementItem(bool) {}
void MultiColorWidget::updateMeasurementResultTable(bool) {}
void MultiColorWidget::setCurrentFilterPosition(int) {}
void MultiColorWidget::setCurrentObjectiveLensPosition(int) {}
void MultiColorWidget::setPseudoColor(bool, int, int) {}
void MultiColorWidget::slotLEDState(bool) {}
void MultiColorWidget::slotChangeCameraMode(int) {}
void MultiColorWidget::slotCurrentPixelSize(float) {}
void MultiColorWidget::setMeasurementResult(TSMeasurementItem &, bool) {}
void MultiColorWidget::setOverlayMeasurementResult(TSMeasurementItem &, int) {}
void MultiColorWidget::setCurrentImagePositionAndIntensity(QPoint, int, int) {}
void MultiColorWidget::slotUpdateImageHistogram() {}
void MultiColorWidget::slotSave(bool, uchar *, int, bool, bool) {}
void MultiColorWidget::captureCompleted(uchar *, int) {}
void MultiColorWidget::setDisplayImageState(int, int) {}
void MultiColorWidget::slotScaleBarCheckBoxState(TSScaleBar) {}
void MultiColorWidget::slotChangeCurrentSelectedItem(uint, bool, bool) {}
void MultiColorWidget::slotDeletedItem(uint) {}
void MultiColorWidget::slotChangeMeasurementResultTable(uint, std::vector<TSMeasurementItem> &) {}
void MultiColorWidget::slotSetSelectedDiagramItemKeyList(QVector<uint> &) {}
void MultiColorWidget::slotSetScaleBarPoint(QPointF) {}
