#pragma once
#include "GrowthMonitor.h"
#include "TGrowthMonitorState.h"
#include "ThumbnailInfo.h"
#include "TSScaleBar.h"

#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <set>
#include <vector>

class MessageDlg;
class TimeLapseProgressDlg;
class Ui_GrowthMonitorWidget;

// The Growth monitor page: measures the confluency, object count and threshold of every image of
// a folder chosen on a drive, or of frames captured one by one from the live image (each capture
// adds one image to the list), with the analysis settings on the page. Results go to the table,
// the bar graph and the browser (GrowthMonitorImageWidget, through completed()).
//
// Everything runs on the GUI thread: a run is an "Initializing" box (start checks) and then a
// "Calculating" dialog inside whose modal loop the images are analysed one after the other; the
// dialog's Stop ends a folder run after the image in hand. Every refusal is said and leaves the
// main menu and the control panel free; a refused capture returns to the live image.
class GrowthMonitorWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;
    static constexpr int kPixels = kWidth * kHeight;
    static const QString kFormatText;    // start code 4: not 8-bit grey
    static const QString kSizeText;      // start code 4: not a whole camera frame
    static const QString kObjectiveText; // start code 5
    static const QString kSkippedText;   // "%1 of %2 images could not be analysed"

    // Start codes of a run.
    enum StartCode {
        START_OK = 0,
        START_NO_SPACE = 1,
        START_NO_WORK_FOLDER = 3,
        START_BAD_IMAGE = 4,
        START_NO_OBJECTIVE = 5,
        START_NO_FILES = 6,
    };

    explicit GrowthMonitorWidget(QWidget *parent = nullptr);
    ~GrowthMonitorWidget() override;

    void initialize();
    TGrowthMonitorState currentState() const { return m_nCurrentState; }
    void setCurrentState(TGrowthMonitorState state);
    // A fresh entry into the page: every result is cleared.
    void setTheFirstTime(bool bFirstTime);
    void readSetting();
    void writeSetting();

    // The minimum object area in pixels of a size in micrometres taken as a radius, for a total
    // magnification: in double, held to 0 .. one frame, then made an int.
    static int minimumArea(int sizeUm, float magnification, float cmosPixelSize);

    // For tests, screenshots and benchmarks.
    Ui_GrowthMonitorWidget *form() const { return ui; }
    GrowthMonitor &model() { return m_GrowthMonitor; }
    int startCode() const { return m_nStartCode; }
    bool isSaved() const { return m_bSaved; }
    int analysisSource() const { return m_nAnalysisSource; }
    int cameraBits() const { return m_nCameraBits; }
    // The values last handed to the graph.
    const std::vector<float> &graphSeries() const { return m_GraphSeries; }
    // One image of a folder run: analysed into the work folder and recorded; false when skipped.
    bool analyseFolderImage(const QFileInfo &file);

public slots:
    void setCurrentFilterPosition(int position);
    void setCurrentObjectiveLensPosition(int position);
    void setPseudoColor(bool on, int filterPosition, int colorIndex);
    void slotLEDState(bool on);
    void slotChangeCameraMode(int bits);
    void captureCompleted(uchar *frame, int bits);
    void slotStillRefused() { m_bStillRefused = true; }
    void slotChangedCurrentThumbnailIndex(int index);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();
    void completedGrowthMonitoring();
    void slotOKClicked();
    void slotDeletedItemIndex(std::set<int> rows);

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

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_LIVE_clicked();
    void on_BUTTON_CAPTURE_clicked();
    void on_BUTTON_LOAD_IMAGE_clicked();
    void on_BUTTON_SAVE_BEFORE_clicked();
    void on_BUTTON_SAVE_AFTER_clicked();
    void on_CHKBOX_SCALEBAR_clicked();
    void on_BUTTON_CSV_EXPORT_clicked();
    void on_BUTTON_TABLE_DELETE_clicked();
    void on_TABLEWIDGET_RESULT_cellDoubleClicked(int row, int column);
    void on_COMB_THRESHOLD_currentIndexChanged(int index);
    void slotInitCalculrate();
    void slotGrowthMonitoring();
    void slotQuickConfluency();

private:
    void changeState();
    void setUIControlEnabled(bool enable);
    void setMonitorUIControlEnabled();
    void showSaveButton(bool saved);
    void startGrowthMonitoring();
    // The folder's images in natural order; the start code of their check (0 when all fit).
    int checkFolder(const QString &folder);
    void reportStartCode(bool capture);
    void unlockAfterRefusal();
    void returnToLive();
    void runInitializingBox();
    void runCalculatingDialog(int total);
    // Analyses source into the results at base and records it (kind 1 a folder's image, 0 a
    // captured frame); false, and nothing recorded, when it cannot be analysed.
    bool analyseImage(const QString &source, const QString &base, int kind);
    void releaseDialogs();
    void reportSkipped();
    int save();
    void setResultTableHeader();
    void updateTable();
    void updateGraph();
    void updateResult();
    void clearResult(bool all);
    void clearGrowthMonitorParameters();
    void showGraph(std::vector<float> series);
    static QPixmap thumbnailOf(const QString &path);

    TGrowthMonitorState m_nCurrentState = GROWTH_IDLE;
    GrowthMonitor m_GrowthMonitor;
    int m_nStartCode = START_OK;
    QString m_StartText; // the text of a start code 4
    int m_nFilterPosition = 0;
    int m_nObjectiveLensPosition = 1;
    bool m_bSaved = false;
    bool m_bLEDState = false;
    int m_nCameraBits = 8;
    bool m_bPseudoColor = false;
    int m_PseudoColorIndex = 7;
    QImage m_FrameImage;
    uchar *m_pFrame8 = nullptr;
    std::unique_ptr<uchar[]> m_pFrame16;
    bool m_bFirstTime = true;
    bool m_bCleanBeforeRun = true;
    QPointer<MessageDlg> m_pMessageDlg;
    QPointer<TimeLapseProgressDlg> m_pProgressDlg;
    QList<QFileInfo> m_FileList;
    bool m_bStopRequested = false;
    float m_fCMOSPixelSize = 3.63f;
    float m_fReductionLensMagnification = 0.655f;
    bool m_bBusy = false;
    int m_bPreviousRunWasFolder = 0;
    int m_nAnalysisSource = 0; // 1 a folder, 0 captured frames
    int m_nNextFrameNumber = 0;  // the next captured frame's file number; never reused in a list
    bool m_bCapturePending = false; // the page's capture waits for its frame
    bool m_bStillRefused = false;   // set during the capture when a turret move spoilt the still
    bool m_bWriteFailed = false;    // the captured frame could not be written
    int m_nFilesTried = 0;          // images a run set out to analyse
    int m_nFilesAnalysed = 0;       // of which analysed
    std::vector<float> m_GraphSeries;
    Ui_GrowthMonitorWidget *ui;
};
