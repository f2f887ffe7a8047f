#include "MultiColorImageWidget.h"

MultiColorImageWidget::MultiColorImageWidget(QWidget *parent)
    : QWidget(parent)
{
}

void MultiColorImageWidget::clearImageData() {}
void MultiColorImageWidget::setImageData(int, int, void *, bool, int, int) {}
void MultiColorImageWidget::setImageDisplayState(int) {}
void MultiColorImageWidget::slotResetImage(int, int, void *, bool, int) {}
void MultiColorImageWidget::setScaleBar(TSScaleBar) {}
void MultiColorImageWidget::slotClearCapturedImage() {}
