#pragma once
#include "TTimeLapseState.h"
#include "TAnnotationTextInfo.h"
#include "TFineAFErrTable.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QPointF>
#include <QString>
#include <QWidget>
#include <vector>

// The Time lapse page: takes images or a recording at intervals, with focus-drift correction, and
// turns a series into a video.
class TimeLapseWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TimeLapseWidget(QWidget *parent = nullptr);

    TTimeLapseState currentState() const { return m_nCurrentState; }
    void setCurrentState(TTimeLapseState state);
    // A fresh entry into the page.
    void setTheFirstTime(bool bFirstTime);
    void readSetting();

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void changedExposure(int exposure);
    void slotLEDState(bool on);
    void captureCompleted(uchar *frame, int bits);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotSetScaleBarPoint(QPointF point);
    void slotSetCurrentMotorPosition(int position);
    void slotCompleteTimeLapseAF(int position, bool success, TFineAFErrTable error);
    void slotsaveAFData(int index, int position, double value);
    void slotSetAnnotationTextInfo(TAnnotationTextInfo info);
    void slotDeleteThumbnail(int index);
    void slotGrabbed(uchar *frame, int bits);
    void slotSetEnableControlState(bool enable);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

signals:
    void changedState();
    void capture();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void lightOn();
    void lightOff();
    void completed(std::vector<ThumbnailInfo> &thumbnails, bool bVideo);
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalShowScaleBar(bool show);
    void getScaleBarPoint();
    void changeHotpixelEnabled(bool enable);
    void signalGetCurrentMotorPosition();
    void TimeLapseAF();
    void signalMoveMotorPosition(int steps, bool bCheckPos);
    void enableAnnotation(bool enable);
    void getAnnotationTextInfo();
    void saveVideo();
    void grabOne();
    void startRecording(bool start, QString path);
    void setVideoRunningState(bool run);
    void signalEnablePullingCommand(bool enable);

private:
    TTimeLapseState m_nCurrentState = TIMELAPSE_IDLE;
};
