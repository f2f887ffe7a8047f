#pragma once
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QWidget>
#include <vector>

// The Growth monitor viewer: the result images of a run, one at a time or as a slide show.
class GrowthMonitorImageWidget : public QWidget
{
    Q_OBJECT
public:
    explicit GrowthMonitorImageWidget(QWidget *parent = nullptr);

    void readSetting();

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails, int listIndex);
    void changedCurrentIndex(int index);
    void setScaleBar(TSScaleBar scaleBar);

signals:
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void changeCurrentIndex(int index);
};
