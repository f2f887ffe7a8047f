#pragma once
#include "LGraphicsView.h"
#include "TMeasurementTool.h"
#include "TSMeasurementItem.h"

#include <QColor>
#include <QPoint>
#include <QVector>
#include <vector>

// The zoomable, annotated view of the Multicolor page's captured channels and overlay, with its
// measurement items.
class ImageGraphicsView : public LGraphicsView
{
    Q_OBJECT
public:
    explicit ImageGraphicsView(QWidget *parent = nullptr);

    // A 1280 x 1024 channel image of 8 or 16 bits for a filter position, shown with the colour
    // index (7 = grey) when display is true.
    void setFilterImageData(int colorIndex, void *data, int bits, int channels, bool bPseudo, int filterPosition,
                            bool display, uchar *shiftedData);
    // The merged colour overlay; it becomes the current position.
    void setOverlayImageData(void *data, int n);

    // Set once by the main window at start-up.
    bool m_bMarkAnnotatedOnInsert = false;      // inserting an annotation item marks the view annotated

public slots:
    void setCurrentMeasurementTool(int tool);
    void setCurrentLineColor(QColor color);
    void setCurrentLineThickness(int thickness);
    void setCurrentFontColor(QColor color);
    void setCurrentFontThickness(int thickness);
    void slotMakeAnnotationImageData(bool before);
    void slotClearCapturedImage();
    void slotShowAnnotation(bool show);
    void slotSetCurrentSelectedItem(uint key);
    void slotDeleteItem(uint key);
    void slotCalcMeasurementItem(uint key, TMeasurementTool tool);
    void slotRecalcMeasurementItem(uint key, TMeasurementTool tool);
    void slotGetSelectedDiagramItemKeyList();

signals:
    void showNavigation(bool show);
    void measurementResultChanged(TSMeasurementItem &item, bool inserted);
    void overlayMeasurementResultChanged(TSMeasurementItem &item, int filterPosition);
    void currentImagePositionAndIntensity(QPoint point, int value, int filter);
    void unselectAll();
    void signalSendAnnotationImageData(bool before, uchar *data, int size, bool grey, bool annotated);
    void changeCurrentSelectedItem(uint key, bool selected, bool inserted);
    void deletedItem(uint key);
    void changeMeasurementResultTable(uint key, std::vector<TSMeasurementItem> &items);
    void setSelectedDiagramItemKeyList(QVector<uint> &keys);
};
