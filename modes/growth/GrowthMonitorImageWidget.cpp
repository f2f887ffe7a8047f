#include "GrowthMonitorImageWidget.h"

GrowthMonitorImageWidget::GrowthMonitorImageWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the viewer its background
}

void GrowthMonitorImageWidget::readSetting() {}
void GrowthMonitorImageWidget::setPseudoColor(bool, int, int) {}
void GrowthMonitorImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &, int) {}
void GrowthMonitorImageWidget::changedCurrentIndex(int) {}
void GrowthMonitorImageWidget::setScaleBar(TSScaleBar) {}
