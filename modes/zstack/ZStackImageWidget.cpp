#include "ZStackImageWidget.h"

ZStackImageWidget::ZStackImageWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the browser its background
}

void ZStackImageWidget::clear() {}
void ZStackImageWidget::readSetting() {}
void ZStackImageWidget::setPseudoColor(bool, int, int) {}
void ZStackImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &) {}
void ZStackImageWidget::changedCurrentIndex(int) {}
void ZStackImageWidget::loadFullThumbnail(bool, ThumbnailInfo &) {}
void ZStackImageWidget::setScaleBar(TSScaleBar) {}
void ZStackImageWidget::slotGetScaleBarPoint() {}
void ZStackImageWidget::slotEnableAnnotation(bool) {}
void ZStackImageWidget::slotGetAnnotationTextInfo() {}
void ZStackImageWidget::slotCreateFullFocusImage() {}
void ZStackImageWidget::slotSaveVideo() {}
