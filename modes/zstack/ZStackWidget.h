#pragma once
#include "TZStackState.h"
#include "TAnnotationTextInfo.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QPointF>
#include <QWidget>
#include <vector>

// The Z-stack page: takes a series of focal planes, merges them into one extended-focus image
// and saves the stack.
class ZStackWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZStackWidget(QWidget *parent = nullptr);

    TZStackState currentState() const { return m_nCurrentState; }
    void setCurrentState(TZStackState state);
    // A fresh entry into the page.
    void setTheFirstTime(bool bFirstTime);
    void readSetting();

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void slotLEDState(bool on);
    void captureCompleted(uchar *frame, int bits);
    void slotUpdatePos(int micrometres);
    void slotSetCurrentMotorPosition(int position);
    void slotMotorMovedStartPosition();
    void slotMotorMoved();
    void slotStartZPositioningCompleted();
    void slotChangedCurrentThumbnailIndex(int index);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotSetScaleBarPoint(QPointF point);
    void slotSetAnnotationTextInfo(TAnnotationTextInfo info);
    void slotDeleteThumbnail(int index);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

signals:
    void changedState();
    void lightOff();
    void lightOn();
    void capture();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void signalGetCurrentMotorPosition();
    void signalSetMotorSpeedAndStartZPosition(int motorSpeed, int startPosition);
    void signalMoveMotorPosition(int steps, bool bCheckPos);
    void signalStartZStacking();
    void signalEndZStacking();
    void completed(std::vector<ThumbnailInfo> &thumbnails);
    void signalChangeCurrentThumbnailIndex(int index);
    void completedFullFocus(bool ok, ThumbnailInfo &thumbnail);
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalShowScaleBar(bool show);
    void getScaleBarPoint();
    void changeHotpixelEnabled(bool enable);
    void enableAnnotation(bool enable);
    void getAnnotationTextInfo();
    void createFullFocusImage();
    void saveVideo();
    void setVideoRunningState(bool run);
    void signalEnablePullingCommand(bool enable);

private:
    TZStackState m_nCurrentState = ZSTACK_IDLE;
};
