#pragma once
#include "TAnnotationTextInfo.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QPointF>
#include <QWidget>
#include <vector>

// The Time lapse series browser: the images of a series, a slide show and the video export.
class TimeLapseImageWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TimeLapseImageWidget(QWidget *parent = nullptr);

    void readSetting();

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails, bool bVideo);
    void setScaleBar(TSScaleBar scaleBar);
    void slotGetScaleBarPoint();
    void slotEnableAnnotation(bool enable);
    void slotGetAnnotationTextInfo();
    void slotSaveVideo();

signals:
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void setScaleBarPoint(QPointF point);
    void setAnnotationTextInfo(TAnnotationTextInfo info);
    void deleteThumbnail(int index);
    void setEnableControlState(bool enable);
    void signalEnableMainMenu(bool enable);
};
