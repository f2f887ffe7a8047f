#pragma once
#include "TCellCountState.h"
#include "TFineAFErrTable.h"
#include "ThumbnailInfo.h"
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"

#include <QImage>
#include <QWidget>
#include <vector>

// The Cell count page: counts live and dead cells by protocol, or captures images for a manual
// count, and saves the results.
class CellCountWidget : public QWidget
{
    Q_OBJECT
public:
    explicit CellCountWidget(QWidget *parent = nullptr);

    TCellCountState currentState() const { return m_nCurrentState; }
    void setCurrentState(TCellCountState state);
    // A fresh entry into the page.
    void setTheFirstTime(bool bFirstTime);
    void readSetting();
    // 0 automatic count, 1 manual capture.
    int currentMode() const { return m_nCountMode; }
    void setCurrentMode(int mode) { m_nCountMode = mode; } // 0 counting, 1 bright field

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void changedExposure(int exposure);
    void slotLEDState(bool on);
    void slotChangeCameraMode(int bits);
    void captureCompleted(uchar *frame, int bits);
    void slotChangedCurrentThumbnailIndex(int index);
    void setMeasurementResult(TSMeasurementItem &item);
    void slotGenerateImageData(QImage image);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotCompleteCellCountAF(bool success, TFineAFErrTable error);
    void slotMotorMoved();
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

signals:
    void changedState();
    void lightOff();
    void lightOn();
    void lightPower(int light, int gain, int exposure);
    void setGainExposureControlEnabled(bool enable);
    void capture();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void completed(std::vector<ThumbnailInfo> &thumbnails);
    void signalChangeCurrentThumbnailIndex(int index);
    void measurementToolChanged(int tool);
    void getCurrentImageData();
    void showTagImage(bool tagged, bool show);
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalShowScaleBar(bool show);
    void cellCountAF();
    void signalMoveMotorPosition(int steps, bool bCheckPos);

private:
    TCellCountState m_nCurrentState = CELLCOUNT_IDLE;
    int m_nCountMode = 1;
};
