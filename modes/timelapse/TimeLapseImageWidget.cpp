#include "TimeLapseImageWidget.h"

TimeLapseImageWidget::TimeLapseImageWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the browser its background
}

void TimeLapseImageWidget::readSetting() {}
void TimeLapseImageWidget::setPseudoColor(bool, int, int) {}
void TimeLapseImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &, bool) {}
void TimeLapseImageWidget::setScaleBar(TSScaleBar) {}
void TimeLapseImageWidget::slotGetScaleBarPoint() {}
void TimeLapseImageWidget::slotEnableAnnotation(bool) {}
void TimeLapseImageWidget::slotGetAnnotationTextInfo() {}
void TimeLapseImageWidget::slotSaveVideo() {}
