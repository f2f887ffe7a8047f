#pragma once
#include "CellCount.h"
#include "MainDeclusterCountInfo_NimboS.h"
#include "TCellCountErrTable.h"
#include "TCellCountState.h"
#include "TFineAFErrTable.h"
#include "ThumbnailInfo.h"
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"
#include "nimbo_protocol_t.h"
#include "protocol_t.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class CellCount_alg;
class CountThread;
class CountWorkFiles;
class CSVReaderWriter;
class ImReaderWriter;
class MessageDlg;
class QPainter;
class Ui_CellCountWidget;
namespace Quorvan {
class CellCounter;
}

// One step of the LED-power search: the mean grey of a frame and the power it was taken with.
struct IntensityResult
{
    double mean = 0;
    int power = 0;
};

// The Cell count page: counts live and dead cells of a counting slide under the transmitted
// light, or captures a frame for counting by hand, and shows the results.
//
// A count lives on the GUI thread: Count locks the UI under an "Initializing" box, checks that a
// count may start, sets up the engine, brings the LED to a mean grey of 150 over captured frames,
// optionally focuses and moves by the configured offset, then counts one frame with the
// program's own engine (CellCount_alg) or the second one (Quorvan::CellCounter, engine box index
// 1) under a "counting" box, writes the work files and shows the results. Every refusal is said
// and leaves the page live; a frame that does not come, or a focus move that is not reported,
// ends the run with code 9.
class CellCountWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;
    static constexpr int kPixels = kWidth * kHeight;
    static constexpr double kTargetMean = 150.0;
    // How long the run waits for the end of its focus move; tests may shorten it.
    static constexpr int kMoveTimeoutMs = 60000;
    static void setMoveTimeoutMs(int ms);
    // The light search lengthens the exposure (light at its top, frame still too dark) no further
    // than this. A lit transmitted field reaches the target grey at the light's top in well under
    // 100 ms; one still too dark at 200 ms has lost most of its light (lamp off, path covered), and
    // longer exposures blur moving cells (a pixel is 1.4 um at 4X) and slow the autofocus scan below
    // five frames a second.
    static constexpr int kLongestCountExposureMs = 200;
    // The light search takes no frame that could not be in by this time after Count (a still taking
    // up to two exposures and a second more), so its message shows within 30 s; tests may shorten it.
    static constexpr int kLightSearchMs = 25000;
    static void setLightSearchMs(int ms);
    // The wait of the auto-test between a count and the next, and between Next count and Count.
    static constexpr int kAutoTestDelayMs = 2000;

    static const QString kStartErrorTexts[10]; // by start error; empty where nothing is shown
    static const QString kTurretMovedText;     // a count's frame spoilt by a turret move
    static const QString kWriteFailedText;
    static const QString kTooManyObjectsText;
    static const QString kCountFailedText;

    explicit CellCountWidget(QWidget *parent = nullptr);
    ~CellCountWidget() override;

    void initialize();
    void readSetting();
    void writeSetting() {}

    TCellCountState currentState() const { return m_nCurrentState; }
    void setCurrentState(TCellCountState state);
    // A fresh entry into the page: clears the results.
    void setTheFirstTime(bool bFirstTime);
    // 0 automatic count, 1 manual capture.
    int currentMode() const { return m_nCountMode; }
    void setCurrentMode(int mode) { m_nCountMode = mode; }

    // Calibration and engine set-up of a count start; false when there is no usable objective
    // or pixel size (the counted volume would not be a positive number).
    bool initCellCounter();
    float convertPixelToSize(float pixels) const;
    float convertSizeToPixel(float size) const;

    // The count.
    void startCellCounting();
    void cellCount_NIMBO();
    void cellCount_VESK();
    void AfterCounting();
    void AfterSizeGating();
    void receiveCountingCompleted();
    void completedCellCounting();
    void updateResult();
    static float frexp10(double value, int &exponent);
    static void getTotalConcentration(float m1, int e1, float m2, int e2, float &m, int &e);

    // The count on a worker thread (not used by the run): started, finished and freed.
    void startCountThread();
    void Counting_Free();
    CountThread *countThread() const { return m_pCountThread; }

    // Results panel.
    void showResultFrame(bool show);
    void clearResult();
    void showGridLine(bool show);
    // The size histogram of the last count (bins, largest bin, gate markers), then a repaint.
    void updateHistogram();
    // Axis labels, unit label and button pictures of the current view choices.
    void HistogramButtonState();
    void changeState();
    void setUIControlEnabled(bool enable);
    void setCountUIControlEnabled();
    void LoadImages();

    // For the main window, the tests, benchmarks and screenshots.
    Ui_CellCountWidget *form() const { return ui; }
    CellCount &model() { return m_CellCount; }
    const nimbo_protocol_t &workingProtocol() const { return m_WorkingProtocol; }
    const protocol_t &secondEngineProtocol() const { return m_ProtocolVesk; }
    QString protocolName() const { return m_strProtocolName; }
    TCellCountErrTable startError() const { return m_nStartError; }
    int lightPowerValue() const { return m_nLightPower; }
    const QVector<IntensityResult> &intensitySteps() const { return m_IntensityResults; }
    float objectiveMagnification() const { return m_fObjectiveMagnification; }
    float totalMagnification() const { return m_fTotalMagnification; }
    float countedVolume() const { return m_fVolume; }
    float cameraPixelSize() const { return m_fCMOSPixelSize; }
    float reductionLens() const { return m_fReductionLens; }
    float cellSizeOffset() const { return m_fCellSizeOffset; }
    int cameraBits() const { return m_nCameraBits; }
    bool resultAvailable() const { return m_bResultAvailable; }
    bool savedFlag() const { return m_bSaved; }
    bool firstTime() const { return m_bFirstTime; }
    // The 8-bit frame last captured (or counted).
    unsigned char *frame8() const { return m_pImageData8; }
    // The array the next frame is captured into, which then becomes frame8(): the next count's
    // work-file frame, so that a count holds its frame without a copy.
    unsigned char *frameTarget8();
    const quint16 *frame16() const { return m_pImageData16.get(); }
    // The tagged image of the last count, red-green-blue (null before the first).
    const unsigned char *tagImage() const;
    const _MainDeclusterCountInfo_NimboS *blobs() const { return m_pBlobs.get(); }
    Quorvan::CellCounter *secondEngine() const { return m_pCellCounter; }
    int blobCount() const { return m_nBlobCount; }
    int totalNumber() const { return m_nTotalCellNum; }
    int liveNumber() const { return m_nLiveCellNum; }
    int deadNumber() const { return m_nDeadCellNum; }
    float totalMantissa() const { return m_fTotalMantissa; }
    int totalExponent() const { return m_nTotalExponent; }
    float liveMantissa() const { return m_fLiveMantissa; }
    int liveExponent() const { return m_nLiveExponent; }
    float deadMantissa() const { return m_fDeadMantissa; }
    int deadExponent() const { return m_nDeadExponent; }
    float viability() const { return m_fViability; }
    float averageSize() const { return m_fAvgSize; }
    int dilutionFactor() const { return m_nDilutionFactor; }
    int gateMinimum() const { return m_nGateMin; }
    int gateMaximum() const { return m_nGateMax; }
    int currentThumbnailIndex() const { return m_nCurrentThumbnailIndex; }
    const QVector<int> &liveBins() const { return m_LiveBins; }
    const QVector<int> &deadBins() const { return m_DeadBins; }
    const QVector<int> &totalBins() const { return m_TotalBins; }
    const int *clusterCounts() const { return m_ClusterCounts; }
    int largestBin() const { return m_nMaxBinCount; }
    float largestBinMantissa() const { return m_fMaxBinMantissa; }
    int largestBinExponent() const { return m_nMaxBinExponent; }
    // Micrometres a histogram bin stands for: the pixel pitch for the program's engine, 1 for
    // the second one, whose sizes are micrometres.
    float binSize() const { return m_fBinSize; }
    int cellType() const { return m_nCellType; }
    bool clusterMapShown() const { return m_bClusterMap; }
    int concentrationOrNumber() const { return m_nConcentrationOrNumber; }
    int selectedGate() const { return m_nSelectedGate; }
    QString gateMinimumText() const { return m_strGateMin; }
    QString gateMaximumText() const { return m_strGateMax; }
    // The plotting area of the histogram in page coordinates (bars rise from its bottom row - 1).
    QRect plotArea() const;
    // Sets what a count leaves for the histogram (tests and screenshots of the drawing).
    void setHistogramData(const QVector<int> &live, const QVector<int> &dead, const int clusters[9], float binSize,
                          float cellSizeOffset, int largestBin, float largestMantissa = 1.0f);
    void setWorkingProtocol(const nimbo_protocol_t &protocol) { m_WorkingProtocol = protocol; }
    // The program's engine's bin count for a maximum cell size: never fewer than 10.
    static int nimboBinCount(float maxSize, float cellSizeOffset, float umPerPixel);
    bool runActive() const { return m_bRunActive; }
    // Sets the counts and concentrations as a count would (tests of the result texts).
    void setResultValues(float liveMantissa, int liveExponent, float deadMantissa, int deadExponent);

    static QString workFilePath(const char *format, int number);
    // A count's work files are written when the page returns to the event loop after it; this
    // writes them at once (before anything reads them). A failed write is said.
    void flushWorkFiles();
    bool workFilesPending() const;
    // The RESULTS table of the last count: result panel, the settings the count used, size bins.
    void fillResultTable(CSVReaderWriter &csv) const;
    // A three-channel copy of a 1280 x 1024 grey frame of bits per sample in the colour of the
    // filter position and pseudo-colour index (grey for Trans); false when byteCount is no such
    // frame.
    bool makePseudoColorImage(int bits, const void *grey, int byteCount, unsigned char *out) const;
    // The 132 x 100 thumbnail of a frame: three channels as red-green-blue, one through colors.
    static constexpr int kThumbnailWidth = 132;
    static constexpr int kThumbnailHeight = 100;
    static QPixmap thumbnailOf(const unsigned char *pixels, int channels, const QVector<QRgb> &colors = {});

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void changedExposure(int exposure);
    void slotLEDState(bool on);
    void slotChangeCameraMode(int bits) { m_nCameraBits = bits; }
    void captureCompleted(uchar *frame, int bits);
    void slotStillRefused() { m_bStillRefused = true; }
    void slotChangedCurrentThumbnailIndex(int index);
    void setMeasurementResult(TSMeasurementItem &item);
    void slotGenerateImageData(QImage image);
    void slotSave(bool before);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotCompleteCellCountAF(bool success, TFineAFErrTable error);
    void slotMotorMoved();
    void slotMotorMoveUnconfirmed();
    // The panel's answer to signalGetCurrentMotorPosition.
    void slotSetCurrentMotorPosition(int position);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();
    void slotShowTooltip();
    void slotHideTooltip();
    void slot_NimboS_CountThread_Finish(int nOriginalTotalNum, int nFilteredTotalNum, int nLive, int nDead);

    // The run (public for the tests' direct calls).
    void on_BUTTON_COUNT_clicked();
    void on_BUTTON_NEXT_COUNT_clicked();
    void on_BUTTON_CAPTURE_clicked();
    void on_BUTTON_SAVE_BEFORE_clicked();
    void on_BUTTON_SAVE_AFTER_clicked();
    void slotCalculrateIntensity();
    void slotStopClicked();
    void runCounting();
    void slotCellCounting();
    void slotOKClicked();

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
    // Asks the panel for the focus position; the answer comes before the emit returns.
    void signalGetCurrentMotorPosition();

public slots:
    // The histogram's buttons and the size gate.
    void on_BUTTON_CELL_TYPE_clicked();
    void on_BUTTON_CLUSTERMAP_clicked();
    void on_BUTTON_CELL_CONCENTRATION_OR_NUMBER_clicked();
    void on_BUTTON_MIN_CELL_SIZE_CONTROL_clicked();
    void on_BUTTON_MAX_CELL_SIZE_CONTROL_clicked();
    void on_BUTTON_MINUS_clicked();
    void on_BUTTON_PLUS_clicked();
    void on_BUTTON_MINUS_pressed();
    void on_BUTTON_MINUS_released();
    void on_BUTTON_PLUS_pressed();
    void on_BUTTON_PLUS_released();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_BUTTON_LIVE_clicked();
    void on_BUTTON_MODE1_clicked();
    void on_BUTTON_MODE2_clicked();
    void on_BUTTON_TAG_clicked();
    void on_BUTTON_PROTOCOL_clicked();
    void on_BUTTON_DILUTION_CALC_clicked();
    void on_CHKBOX_SCALEBAR_clicked();
    void on_BUTTON_REQUIREMENTS_clicked() {}
    void on_BUTTON_APPLY_clicked() {}
    void slotMoveTimedOut();

private:
    bool isCurrentMenu() const;
    // Emits capture(); false (and the run ended with code 9) when no usable frame came back.
    bool captureFrame();
    void intensityStep();
    void lengthenExposure();
    // Waits for the light to settle and takes the search's next frame at exposureMs, or ends the
    // search when that frame could not be in within the search's time.
    void takeSearchFrame(int exposureMs);
    void endIntensitySearch(TCellCountErrTable error);
    void finishManualCapture();
    void closeCountingBox();
    // Ends a started run without a result: the box closed, the message, live again, UI unlocked.
    void abortRun(const QString &message);
    // Ends a run a turret move spoilt, with the focus back where it stood before the autofocus.
    void abortForTurretMove();
    std::optional<int> askStagePosition();
    void unlockAfterRefusal();
    void showText(const QString &text);
    void writeWorkFiles(const unsigned char *tagRgb, const unsigned char *counted);
    void findObjectsWithStoredSettings();
    void secondEngineResults(bool frameFileIsTag);
    // The counted frame without circles, as a red-green-blue tagged image into tagRgb.
    void bareTagImage(unsigned char *tagRgb) const;
    void clearCellCountParameters() {}
    void fillBinsFromEngine();
    void markSaved();
    void moveGateMarkers();
    void setCellTypePicture(bool on);
    void paintSizeBars(QPainter &painter, const QRect &plot);
    void paintClusterMap(QPainter &painter, const QRect &plot);

    Ui_CellCountWidget *ui;
    CellCount m_CellCount;

    // Page state.
    TCellCountState m_nCurrentState = CELLCOUNT_IDLE;
    TCellCountErrTable m_nStartError = CELLCOUNT_ERR_NONE;
    int m_nCountMode = 1;
    bool m_bFirstTime = true;
    bool m_bSaved = false;
    bool m_bLEDOn = false;
    bool m_bResultAvailable = false;
    bool m_bAFDone = false;
    bool m_bRunActive = false;  // from Count to the end of the run or its refusal
    bool m_bAFPending = false;  // the run waits for the panel's autofocus answer
    bool m_bMovePending = false; // the run waits for the end of its own focus move
    int m_nFramesTaken = 0;     // usable frames received, to see a capture that delivered none
    bool m_bStillRefused = false; // the last capture's still was refused: a turret moved
    bool m_bTurretMoved = false;  // a turret reported a move during the run (since the autofocus)
    std::optional<int> m_StartStagePosition; // where the focus stood before the run's autofocus
    std::optional<int> m_AnsweredStagePosition;
    bool m_bStagePositionAsked = false;
    int m_nCountLens = 0;         // the objective when Count was pressed

    // Instrument view.
    int m_nFilterPosition = 0;
    int m_nObjectiveLensPosition = 0;
    int m_nCameraBits = 8;
    bool m_bPseudoColor = false;
    int m_nPseudoColorIndex = 7;
    int m_nExposure = 0;
    float m_fCMOSPixelSize = 3.63f;
    float m_fReductionLens = 0.655f;
    float m_fObjectiveMagnification = 0;
    float m_fTotalMagnification = 0;
    float m_fVolume = 0;
    float m_fCellSizeOffset = 0;

    // Light search.
    int m_nLightPower = 0;
    int m_nExposureRowTried = -1; // the last row the search lengthened the exposure to
    int m_nExposureMsAtStart = 0;  // the exposure the search started from
    QElapsedTimer m_CountClock;   // from the press of Count
    bool m_bAbove = false, m_bBelow = false, m_bFound = false;
    QVector<IntensityResult> m_IntensityResults;
    QPointer<MessageDlg> m_pStartDlg;
    QPointer<MessageDlg> m_pCountingDlg;
    QTimer m_MoveWatch;

    // Protocols.
    nimbo_protocol_t m_WorkingProtocol;
    protocol_t m_ProtocolVesk;
    QString m_strProtocolName;

    // Buffers, allocated once.
    std::unique_ptr<quint16[]> m_pImageData16;
    std::unique_ptr<unsigned char[]> m_pImageData8Plane;
    std::unique_ptr<unsigned char[]> m_pColorImage;
    std::unique_ptr<int[]> m_pLabelImage;
    std::unique_ptr<_MainDeclusterCountInfo_NimboS[]> m_pBlobs;
    QImage m_DisplayImage;
    unsigned char *m_pImageData8 = nullptr;
    // The last count's work files, until written.
    std::unique_ptr<CountWorkFiles> m_pWorkFiles;
    // The work files' next tagged-image array when the last finder run drew into it.
    unsigned char *m_pTaggedInPlace = nullptr;

    // Engines.
    Quorvan::CellCounter *m_pCellCounter = nullptr;
    CellCount_alg *m_pCellCountAlg = nullptr;
    CountThread *m_pCountThread = nullptr;

    // Results.
    float m_fTotalMantissa = 0, m_fLiveMantissa = 0, m_fDeadMantissa = 0;
    int m_nTotalExponent = 0, m_nLiveExponent = 0, m_nDeadExponent = 0;
    int m_nTotalCellNum = 0, m_nLiveCellNum = 0, m_nDeadCellNum = 0;
    float m_fViability = 0, m_fAvgSize = 0;
    int m_nDilutionFactor = 0;
    int m_nBlobCount = 0;
    bool m_bLiveDead = true;
    QString m_strResults[9];

    // Second engine's settings of the last count.
    int m_nNoiseReductionLevel = 0, m_nNoiseReductionValue = 0;
    int m_nLiveCellDetectionLevel = 0;
    float m_fLiveCellDetection[2] = {0, 0};
    int m_nRoundness = 0, m_nMinCellSize = 0, m_nMaxCellSize = 0;
    int m_nDeclusteringLevel = 0;
    bool m_bDeclustering = false;
    int m_nBrightThreshold = 0;
    float m_fConcaveAreaLimit = 0, m_fClusterFactor = 0, m_fReserved = 0, m_fPeakTolerance = 0;
    float m_fAvgSizeOut = 0, m_fMeanIntensityOut = 0;

    // Histogram state (drawn by the results part of the page).
    int m_nGateMin = 0, m_nGateMax = 0;
    QString m_strGateMin, m_strGateMax;
    int m_nSelectedGate = 0;
    int m_nMaxBinCount = 1;
    int m_nConcentrationOrNumber = 0;
    bool m_bClusterMap = false;
    float m_fMaxBinMantissa = 1.0f;
    int m_nMaxBinExponent = 0;
    int m_nCellType = 0;
    QVector<int> m_LiveBins, m_DeadBins, m_TotalBins;
    int m_ClusterCounts[9] = {};
    float m_ClusterPercent[8] = {};
    int m_nBinCount = 0;
    float m_fBinSize = 1.0f;
    bool m_bSecondEngineCounted = false; // the histogram and the table's settings are the second engine's
    QTimer m_MinusTimer, m_PlusTimer;

    int m_nCurrentThumbnailIndex = -1;
    QPoint m_TooltipAnchor;
    QPixmap m_GraphPixmaps[8];
};
