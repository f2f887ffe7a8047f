#pragma once
#include "TGrowthMonitorState.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QWidget>
#include <vector>

// The Growth monitor page: measures confluency and object counts of cultures over time.
class GrowthMonitorWidget : public QWidget
{
    Q_OBJECT
public:
    explicit GrowthMonitorWidget(QWidget *parent = nullptr);

    TGrowthMonitorState currentState() const { return m_nCurrentState; }
    void setCurrentState(TGrowthMonitorState state);
    // A fresh entry into the page.
    void setTheFirstTime(bool bFirstTime);
    void readSetting();

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void slotLEDState(bool on);
    void slotChangeCameraMode(int bits);
    void captureCompleted(uchar *frame, int bits);
    void slotChangedCurrentThumbnailIndex(int index);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

signals:
    void changedState();
    void lightOff();
    void lightOn();
    void capture();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void completed(std::vector<ThumbnailInfo> &thumbnails, int listIndex);
    void signalChangeCurrentThumbnailIndex(int index);
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalShowScaleBar(bool show);
    void setVideoRunningState(bool run);

private:
    TGrowthMonitorState m_nCurrentState = GROWTH_IDLE;
};
