#include "CellCountImageWidget.h"

CellCountImageWidget::CellCountImageWidget(QWidget *parent)
    : QWidget(parent)
{
}

void CellCountImageWidget::clear() {}
void CellCountImageWidget::readSetting() {}
void CellCountImageWidget::setPseudoColor(bool, int, int) {}
void CellCountImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &) {}
void CellCountImageWidget::changedCurrentIndex(int) {}
void CellCountImageWidget::setCurrentMeasurementTool(int) {}
void CellCountImageWidget::slotGetCurrentImageData() {}
void CellCountImageWidget::slotShowTagImage(bool, bool) {}
void CellCountImageWidget::setScaleBar(TSScaleBar) {}
