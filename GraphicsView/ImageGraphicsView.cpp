#include "ImageGraphicsView.h"

ImageGraphicsView::ImageGraphicsView(QWidget *parent)
    : LGraphicsView(parent)
{
}

void ImageGraphicsView::setFilterImageData(int, void *, int, int, bool, int, bool, uchar *) {}
void ImageGraphicsView::setOverlayImageData(void *, int) {}
void ImageGraphicsView::setCurrentMeasurementTool(int) {}
void ImageGraphicsView::setCurrentLineColor(QColor) {}
void ImageGraphicsView::setCurrentLineThickness(int) {}
void ImageGraphicsView::setCurrentFontColor(QColor) {}
void ImageGraphicsView::setCurrentFontThickness(int) {}
void ImageGraphicsView::slotMakeAnnotationImageData(bool) {}
void ImageGraphicsView::slotClearCapturedImage() {}
void ImageGraphicsView::slotShowAnnotation(bool) {}
void ImageGraphicsView::slotSetCurrentSelectedItem(uint) {}
void ImageGraphicsView::slotDeleteItem(uint) {}
void ImageGraphicsView::slotCalcMeasurementItem(uint, TMeasurementTool) {}
void ImageGraphicsView::slotRecalcMeasurementItem(uint, TMeasurementTool) {}
void ImageGraphicsView::slotGetSelectedDiagramItemKeyList() {}
