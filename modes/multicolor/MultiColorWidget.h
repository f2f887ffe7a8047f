#pragma once
#include "TMultiState.h"
#include "TMeasurementTool.h"
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"

#include <QColor>
#include <QPoint>
#include <QPointF>
#include <QVector>
#include <QWidget>
#include <vector>

// The Multicolor page: captures up to four fluorescence channels, shows, measures, merges and
// saves them.
class MultiColorWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MultiColorWidget(QWidget *parent = nullptr);

    TMultiState currentState() const { return m_nCurrentState; }
    void setCurrentState(TMultiState state);
    // Discards every captured channel.
    void clear();
    void readSetting();
    void changeMeasurementItem(bool bNewImage);
    void updateMeasurementResultTable(bool bNewImage);

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void slotLEDState(bool on);
    void slotChangeCameraMode(int bits);
    void slotCurrentPixelSize(float pixelSize);
    void setMeasurementResult(TSMeasurementItem &item, bool inserted);
    void setOverlayMeasurementResult(TSMeasurementItem &item, int filterPosition);
    void setCurrentImagePositionAndIntensity(QPoint point, int value, int filter);
    void slotUpdateImageHistogram();
    void slotSave(bool before, uchar *data, int size, bool grey, bool annotated);
    void captureCompleted(uchar *frame, int bits);
    void setDisplayImageState(int state, int selectedIndex);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotChangeCurrentSelectedItem(uint key, bool selected, bool inserted);
    void slotDeletedItem(uint key);
    void slotChangeMeasurementResultTable(uint key, std::vector<TSMeasurementItem> &items);
    void slotSetSelectedDiagramItemKeyList(QVector<uint> &keys);
    void slotSetScaleBarPoint(QPointF point);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

signals:
    void measurementToolChanged(int tool);
    void currentLineColorChanged(QColor color);
    void currentLineThicknessChanged(int thickness);
    void currentFontColorChanged(QColor color);
    void currentFontThicknessChanged(int thickness);
    void signalMakeAnnotationImageData(bool before);
    void changedState();
    void capture();
    void updateCaptureImageMetaData();
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void imageCapturedTile(int channel, int pseudoColor, void *data, bool bPseudoColor, int selectedIndex, int bits);
    void imageCaptured(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits, uchar *shiftedData);
    void brightnessChangedTile(int channel, int pseudoColor, void *data, bool bPseudoColor, int selectedIndex, int bits);
    void brightnessChanged(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits, uchar *shiftedData);
    void contrastChangedTile(int channel, int pseudoColor, void *data, bool bPseudoColor, int selectedIndex, int bits);
    void contrastChanged(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits, uchar *shiftedData);
    void imageDisplayStateChanged(int state);
    void overlayImageChanged(uchar *data, int bits);
    void lightOn();
    void lightOff();
    void captured(bool captured);
    void saved(bool saved);
    void liveMode(bool on);
    void signalResetImageTile(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits);
    void signalShowScaleBar(bool show);
    void signalClearCapturedImage();
    void showAnnotation(bool show);
    void setCurrentSelectedItem(uint key);
    void deleteItem(uint key);
    void signalCalcMeasurementItem(uint key, TMeasurementTool tool);
    void recalcMeasurementItem(uint key, TMeasurementTool tool);
    void getSelectedDiagramItemKeyList();
    void getScaleBarPoint();

private:
    TMultiState m_nCurrentState = MULTI_IDLE;
};
