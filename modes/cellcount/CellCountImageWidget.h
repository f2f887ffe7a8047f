#pragma once
#include "ThumbnailInfo.h"
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"

#include <QImage>
#include <QWidget>
#include <vector>

// The Cell count viewer: the counted images with their tags and a measuring tool.
class CellCountImageWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CellCountImageWidget(QWidget *parent = nullptr);

    // Empties the image list and the view.
    void clear();
    void readSetting();

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails);
    void changedCurrentIndex(int index);
    void setCurrentMeasurementTool(int tool);
    void slotGetCurrentImageData();
    void slotShowTagImage(bool tagged, bool show);
    void setScaleBar(TSScaleBar scaleBar);

signals:
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void changeCurrentIndex(int index);
    void measurementResultChanged(TSMeasurementItem &item);
    void generateImageData(QImage image);
};
