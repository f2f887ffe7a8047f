#pragma once
#include "TAnnotationTextInfo.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QPointF>
#include <QWidget>
#include <vector>

// The Z-stack slice browser: the planes of a stack and its extended-focus image.
class ZStackImageWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZStackImageWidget(QWidget *parent = nullptr);

    // Empties the slice list.
    void clear();
    void readSetting();

public slots:
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void loadThumbnail(std::vector<ThumbnailInfo> &thumbnails);
    void changedCurrentIndex(int index);
    void loadFullThumbnail(bool ok, ThumbnailInfo &thumbnail);
    void setScaleBar(TSScaleBar scaleBar);
    void slotGetScaleBarPoint();
    void slotEnableAnnotation(bool enable);
    void slotGetAnnotationTextInfo();
    void slotCreateFullFocusImage();
    void slotSaveVideo();

signals:
    void signalChangeScaleBarSetting(bool resetPosition, int positionIndex);
    void changeCurrentIndex(int index);
    void setScaleBarPoint(QPointF point);
    void setAnnotationTextInfo(TAnnotationTextInfo info);
    void deleteThumbnail(int index);
};
