#pragma once
#include "CSVReaderWriter.h"
#include "MultiColorAutoSave.h"
#include "TGraphMode.h"
#include "TMeasurementTool.h"
#include "TMultiState.h"
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"
#include "TUIMode.h"

#include <QColor>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPair>
#include <QPixmap>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSet>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class LSpinBox;
class MultiColorModel;
class QLabel;
class QPushButton;
class QSlider;
class QThreadPool;
class Ui_MultiColorWidget;

// The Multicolor page (the start screen): captures one channel per filter position from the
// live image, shows it full size, as 2 x 2 tiles or merged into one overlay, and adjusts,
// measures and saves the channels. Requests to the instrument leave as signals that the main
// window routes to the control panel and the live video.
class MultiColorWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kChannels = 4;
    // Waits of an auto-run series: capture to live start, live start to the next capture.
    static constexpr int kAutoRunStepMs = 3000;

    explicit MultiColorWidget(QWidget *parent = nullptr);
    ~MultiColorWidget() override;

    TMultiState currentState() const { return m_nCurrentState; }
    void setCurrentState(TMultiState state);
    // Discards every captured channel; the state stays.
    void clear();
    void readSetting();
    void changeMeasurementItem(bool bNewImage);
    void updateMeasurementResultTable(bool bNewImage);

    // The channel index (filter position) of button CHn given as n - 1: CH1 0, CH2 3, CH3 2,
    // CH4 1; 0 for anything else.
    static int convertChannelToFilter(int button);
    // Tests shorten the auto-run waits; 0 or less restores kAutoRunStepMs.
    static void setAutoRunStepMs(int ms);

    Ui_MultiColorWidget *form() const { return ui; }
    MultiColorModel *model() const { return m_pModel; }

    // How long (ms) a spin-box arrow apply blocks the next one: by the channel's depth and the
    // page state, longer for 16 bits and for the tile and overlay views.
    int getEnableApplyTime(int channel, bool bBrightness) const;
    bool applyBlocked() const { return m_bApplyBlocked; }
    // Waits for the auto-saves started so far (at most timeoutMs); true when none is left.
    bool waitForAutoSaves(int timeoutMs);
    // Before the page is left: waits for the auto-saves still being written (at most timeoutMs)
    // and takes their outcomes; when every capture held is then in a file and nothing changed
    // since, reports the page saved.
    void settleAutoSaves(int timeoutMs);
    // The graph export: histogram or line profile of the channels shown, one column each.
    CSVReaderWriter graphCsv() const;
    // The result table export: the model's rows under the header of the channel names.
    CSVReaderWriter resultCsv() const;

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
    void slotStillRefused() { m_bStillRefused = true; }
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

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *object, QEvent *event) override;

private slots:
    void on_BUTTON_LIVE_clicked();
    void on_BUTTON_CAPTURE_clicked();
    void on_BUTTON_TILE_ON_clicked();
    void on_BUTTON_OVERLAY_ON_clicked();
    void on_BUTTON_CLEAR_clicked();
    void on_BUTTON_AUTORUN_clicked();
    void on_BUTTON_AUTORUN_STOP_clicked();
    void on_BUTTON_MODE1_clicked();
    void on_BUTTON_MODE2_clicked();
    void on_BUTTON_MODE3_clicked();
    void on_CHKBOX_SCALEBAR_clicked();
    void on_BUTTON_MEASURE_SELECT_clicked();
    void on_BUTTON_MEASURE_LINE_clicked();
    void on_BUTTON_MEASURE_ANGLE_clicked();
    void on_BUTTON_MEASURE_POLYGON_clicked();
    void on_BUTTON_MEASURE_ELLIPSE_clicked();
    void on_BUTTON_MEASURE_RECT_clicked();
    void on_BUTTON_MEASURE_SEGMENT_clicked();
    void on_BUTTON_MEASURE_FREEHAND_clicked();
    void on_BUTTON_TEXT_ANNOTATION_clicked();
    void on_BUTTON_MEASURE_DELETE_clicked();
    void on_BUTTON_MEASURE_SCALEBAR_clicked();
    void on_BUTTON_TOOL_LEFT_clicked();
    void on_BUTTON_TOOL_RIGHT_clicked();
    void on_BUTTON_ANNOTATE_clicked();
    void on_COMB_LENGTH_UNIT_currentIndexChanged(int unit);
    void on_COMB_AREA_UNIT_currentIndexChanged(int unit);
    void hideMessage();
    void on_BUTTON_RESET_clicked();
    void on_BUTTON_SAVE_BEFORE_clicked();
    void on_BUTTON_SAVE_AFTER_clicked();
    void on_BUTTON_QUICK_SAVE_clicked();
    void on_BUTTON_CSV_EXPORT_clicked();
    void on_BUTTON_HISTOGRAM_EXPORT_clicked();
    void on_BUTTON_TABLE_CLEAR_clicked();
    void on_TABLEWIDGET_MEASUREMENT_RESULT_cellClicked(int row, int column);
    void tableContextMenu(QPoint point);
    void enableApply();
    void slotSPINBOX_MousePressed(int value, bool bUp);

private:
    // The controls of one channel index.
    struct ChannelControls
    {
        QSlider *brightness = nullptr;
        QSlider *contrast = nullptr;
        LSpinBox *brightnessBox = nullptr;
        LSpinBox *contrastBox = nullptr;
        QPushButton *thumbnail = nullptr;
        QLabel *name = nullptr;      // LABEL_CHn
        QLabel *intensity = nullptr; // LABEL_INTENSITY_VALUE_n
    };

    void initialize();
    void allocatingMemory();
    void deallocatingMemory();
    void changeState();
    void setUIMode(TUIMode mode);
    void setUIControlEnabled(bool on);
    void setChannelControlsEnabled(int channel, bool on);
    // The channel's sliders and boxes at brightness 0 and contrast 10.
    void resetChannelValues(int channel);
    // Shows the save button m_bSavedBefore selects, enabled as given; hides the other.
    void showSaveButton(bool enabled);
    void scaleBarBlock(bool on);
    // Back to live view after a capture brought no usable frame.
    void returnToLive();
    // The next step of an auto-run, after the wait; ends the series off this menu.
    void scheduleAutoRunStep(void (MultiColorWidget::*step)());
    bool holdsChannel(int channel) const;
    void *capturedImageFromModel(int channel, int bits);
    void makeThumbnail(int channel);

    // Adjustment side: one implementation for the four channels (c = channel index).
    void sliderValueChanged(int c, bool brightness, int value);
    void spinBoxReleased(int c, bool brightness, int value);
    void keyboardEntry(int c, bool brightness);
    void applyBrightness(int c) { applyAdjustment(c, true); }
    void applyContrast(int c) { applyAdjustment(c, false); }
    void applyAdjustment(int c, bool brightness);
    void resetImageControl(int c);
    void thumbnailClicked(int c);
    bool isCaptured(int c) const;
    bool checkExistCapturedImage();
    // Save Before shown and usable again after a change of the images.
    void unsaved();
    // Starts the auto-save of the channel just captured; its outcome comes back to autoSaved.
    void startAutoSave(int channel, int bits);
    void autoSaved(const MultiColorAutoSave::Outcome &outcome);
    // Takes the outcomes of the auto-saves that have ended, in the order they were started.
    void collectAutoSaves();
    void markUnsaved(); // a change no file holds
    void showMessage(const QString &text);

    // Measurement side.
    void chooseMeasurementTool(QPushButton *button, int tool, bool clearReadout);
    void setMeasurementToolButtonFalse();
    void enableMeasurement();
    void resetMeasurementTool();
    void setMeasurementControlEnabled(bool enabled);
    void clearAnalysis();
    void clearMeasuredInformation(bool all);
    void setLengthUnitCombobox();
    void setAreaUnitCombobox();
    void setMeasurementResultTableHeader();
    void setTableHeaderLabels();
    void setUIHistogramEnabled(bool enabled);
    void setUILineProfileEnabled(bool enabled);
    void showhideHistogramCtrl(TGraphMode mode);
    void changeMeasurementResult(const TSMeasurementItem &item);
    void setMeasurementResultTable();
    // The channel record of a row: its statistics kept where the channel is shown, else zeroed.
    TSMeasurementItem rowRecord(int filter, const TSMeasurementItem &source, bool statistics,
                                std::array<QString, 4> &cells) const;
    // Writes row's CSV line (row + 1 in the model) from its own geometry and the records.
    void writeCsvRow(int row, uint key, std::array<TSMeasurementItem, kChannels> records);
    int rowOfKey(uint key) const;
    bool getSelectedItemData(int &row, uint &key) const;
    void removeResultRow(int row);
    void clearTableSelection();
    bool hasData(int filter) const;
    bool isShown(int filter) const;
    static bool hasStatistics(int tool);
    static int toolOfName(const QString &name);
    QString lengthText(float pixels, int unit) const;
    QString areaText(float pixels, int unit) const;
    QColor graphColor(int filter) const;
    // Switches the graph to mode (or off); false when nothing more is to be drawn.
    bool beginGraph(TGraphMode mode, bool show);
    // The results the graph draws with their colours: every channel included in the overlay,
    // else the current result.
    std::vector<std::pair<const TSMeasurementItem *, QColor>> graphCurves() const;
    void drawHistogram(bool show);
    void drawLineProfile(bool show);
    int shownBits() const;
    void runCsvSave(CSVReaderWriter &csv);

    Ui_MultiColorWidget *ui = nullptr;
    MultiColorModel *m_pModel = nullptr;
    std::array<ChannelControls, kChannels> m_Controls;

    TMultiState m_nCurrentState = MULTI_IDLE;
    int m_nCurrentFilterPosition = 0;
    int m_nObjectiveLensPosition = 0;
    int m_nSelectedIndex = 0;
    std::array<bool, kChannels> m_bChannelOn{};
    bool m_bImageCaptured = false;
    bool m_bSavedBefore = false;
    bool m_bLEDOn = false;
    std::array<int, kChannels> m_nChannelBits{8, 8, 8, 8};
    int m_nCurrentBits = 8;
    std::array<int, kChannels> m_nChannelColor{7, 2, 0, 1};
    bool m_bPseudoColor = false;
    QImage m_PreviewImage;
    std::array<QRect, kChannels> m_ThumbnailFrameRect;
    std::array<QColor, kChannels> m_ChannelFrameColor;
    int m_nAutosave = 0;
    QString m_AutosavePath;
    QString m_AutosaveFileName;
    bool m_bAutosaveFailed = false;
    bool m_bQuickSaving = false;
    bool m_bAutoRun = false;
    bool m_bAutoRunStop = false;
    bool m_bFrameArrived = false; // set by captureCompleted during a capture request
    bool m_bStillRefused = false; // set during a capture request whose still a turret move spoilt
    QTimer m_MessageTimer;

    std::array<int, kChannels> m_nBrightness{};
    std::array<int, kChannels> m_nContrast{10, 10, 10, 10};
    std::array<int, kChannels> m_nLastApplied{}; // 0 none, 1 brightness, 2 contrast
    bool m_bSpinBoxSync = true;
    bool m_bApplyBlocked = false;
    unsigned m_nHeldSpinBoxes = 0; // boxes released while an apply blocked: bit c, contrast c + 4

    std::array<QString, 8> m_ToolName;
    int m_nCurrentTool = 0;
    TSMeasurementItem m_CurrentResult;
    std::array<TSMeasurementItem, kChannels> m_OverlayResult;
    int m_nLengthUnit = 0;
    int m_nAreaUnit = 0;
    float m_fPixelSize = -1.0f;
    bool m_bShowAnnotation = true;
    QVector<uint> m_SelectedKeys;
    bool m_bTableIdle = true;
    bool m_bHistogramShown = true;
    bool m_bLineProfileShown = false;
    QPixmap m_GraphPixmap;
    QPointF m_ScaleBarPoint;
    // What a result row was written with; a re-measure rewrites only its statistics.
    struct RowGeometry
    {
        int tool = 0;
        float length = 0, area = 0, angle = 0; // converted; NaN when unknown
        int lengthUnit = 0, areaUnit = 0;
    };
    QHash<uint, RowGeometry> m_RowGeometry;
    std::unique_ptr<QThreadPool> m_pAutoSavePool;
    // What leaving the page would lose: captures held that no file holds yet (by serial), and
    // changes made since the last save; the auto-saves started whose outcome is not yet taken.
    int m_nCaptureSerial = 0;
    QSet<int> m_Unwritten;
    bool m_bChangedSinceSave = false;
    QList<QPair<int, QFuture<MultiColorAutoSave::Outcome>>> m_AutoSaves;

    int m_nLineThickness = 1;
    QColor m_LineColor;
    int m_nFontThickness = 5;
    QColor m_FontColor;
};
