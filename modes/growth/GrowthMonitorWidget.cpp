// The Growth monitor page: construction, states, live and capture, the folder run and the
// captured-frame run up to their completion, saving and the scale-bar box.
#include "GrowthMonitorWidget.h"

#include "ConfigSetting.h"
#include "DirectoryDialog.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "ImageSeriesFiles.h"
#include "ImageThumbnail.h"
#include "MessageDlg.h"
#include "PageCursor.h"
#include "SaveOptionsDlg.h"
#include "ScaleBar.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "VideoWidget.h"
#include "ui_GrowthMonitorWidget.h"

#include <QDebug>
#include <QPainter>
#include <QStyleOption>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const QString kInitializing = QStringLiteral("<p><b>Initializing ...</b></p>");
const QString kCalculating = QStringLiteral("<p><b>Calculating ...</b></p>");
const QString kWriteFailedText =
    QStringLiteral("<p><b>Error!</b><br/><br/>The captured frame could not be written to the SSD drive.<br/>"
                   "Please try again.</p>");
const QSize kThumbnailSize(80, 60);

void showText(const QString &text)
{
    MessageDlg message;
    message.setMessage(text);
    message.setButtonVisibility(MSG_BUTTON_OK);
    message.exec();
}

void showPreset(TMessageType type)
{
    MessageDlg message;
    message.setMsgType(type);
    message.exec();
}

} // namespace

const QString GrowthMonitorWidget::kFormatText = QStringLiteral("Image file format is not 8-Bit grey scale.\nPlease try again.");
const QString GrowthMonitorWidget::kSizeText = QStringLiteral("Image size is not 1280 x 1024.\nPlease try again.");
const QString GrowthMonitorWidget::kObjectiveText = QStringLiteral("Cannot find objective Lens.\nPlease try again.");
const QString GrowthMonitorWidget::kSkippedText =
    QStringLiteral("<p><b>Warning!</b><br/><br/>%1 of %2 images could not be analysed.</p>");

GrowthMonitorWidget::GrowthMonitorWidget(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint)
    , ui(new Ui_GrowthMonitorWidget)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
    m_bBusy = false;
    m_fCMOSPixelSize = 3.63f;
    m_fReductionLensMagnification = 0.655f;
    ui->COMB_THRESHOLD->addItems({QStringLiteral("Auto"), QStringLiteral("Manual")});
    ui->COMB_THRESHOLD->setCurrentIndex(0);
    ui->SPINBOX_THRESHOLD->setReadOnly(true);
    ui->COMB_BACKGROUND->addItems({QStringLiteral("Dark"), QStringLiteral("White")});
    ui->COMB_BACKGROUND->setCurrentIndex(0);
    ui->LABEL_MIN_OBJ_SIZE->setText(QStringLiteral("Min object size (µm)"));
    ui->CHKBOX_SCALEBAR->setChecked(false);
    ui->CHKBOX_SCALEBAR->hide();
    initialize();
}

GrowthMonitorWidget::~GrowthMonitorWidget()
{
    delete ui;
}

void GrowthMonitorWidget::initialize()
{
    m_bStopRequested = false;
    m_bCleanBeforeRun = true;
    GraphFrame *graph = ui->GRAPH;
    graph->setGraphType(graph::HISTOGRAM);
    graph->setAutoScale(true);
    graph->setThickness(3);
    graph->setYScale(0.0f, 100.0f);
    setResultTableHeader();
    m_nAnalysisSource = 0;
    m_bPreviousRunWasFolder = 0;
    m_pMessageDlg = nullptr;
    m_pProgressDlg = nullptr;
    m_FrameImage = QImage(kWidth, kHeight, QImage::Format_Indexed8);
    m_FrameImage.setColorTable(g_PseudoColorTable[7]);
    m_pFrame8 = m_FrameImage.bits();
    m_pFrame16 = std::make_unique<uchar[]>(size_t(kPixels) * 2);
    m_bFirstTime = true;
    m_bPseudoColor = false;
    m_bSaved = false;
    m_bLEDState = false;
    m_FileList.clear();
    readSetting();
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void GrowthMonitorWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

// ---------------------------------------------------------------------------------------------
// States

void GrowthMonitorWidget::setCurrentState(TGrowthMonitorState state)
{
    m_nCurrentState = state;
    changeState();
}

void GrowthMonitorWidget::setTheFirstTime(bool bFirstTime)
{
    clearResult(true);
    m_bFirstTime = bFirstTime;
}

void GrowthMonitorWidget::setUIControlEnabled(bool enable)
{
    ui->BUTTON_SAVE_BEFORE->setEnabled(enable);
    ui->BUTTON_SAVE_AFTER->setEnabled(enable);
}

void GrowthMonitorWidget::showSaveButton(bool saved)
{
    ui->BUTTON_SAVE_AFTER->setVisible(saved);
    ui->BUTTON_SAVE_BEFORE->setVisible(!saved);
}

void GrowthMonitorWidget::setMonitorUIControlEnabled()
{
    ui->BUTTON_CAPTURE->setEnabled(m_nCurrentState == GROWTH_LIVE);
}

void GrowthMonitorWidget::changeState()
{
    switch (m_nCurrentState) {
    case GROWTH_IDLE:
    case GROWTH_LIVE: {
        const bool live = m_nCurrentState == GROWTH_LIVE;
        setUIControlEnabled(live);
        if (m_bFirstTime) {
            setUIControlEnabled(false);
            showSaveButton(false);
        } else {
            showSaveButton(m_bSaved);
        }
        ui->BUTTON_LIVE->setEnabled(true);
        ui->BUTTON_LIVE->setVisible(!live);
        ui->BUTTON_CAPTURE->setVisible(live);
        ui->BUTTON_CAPTURE->setEnabled(live);
        ui->CHKBOX_SCALEBAR->hide();
        setMonitorUIControlEnabled();
        break;
    }
    case GROWTH_RESULT:
        setUIControlEnabled(true);
        ui->BUTTON_LIVE->show();
        ui->BUTTON_CAPTURE->hide();
        showSaveButton(false);
        if (g_CurrentMenu == MENU_GROWTH_MONITOR)
            emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
        break;
    case GROWTH_LOCKED:
        setUIControlEnabled(true);
        setUIControlEnabled(false);
        break;
    }
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit changedState();
}

void GrowthMonitorWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_GROWTH_MONITOR || m_bBusy)
        return;
    PageCursor::normal();
    // Menu and panel are free before the panel's unlock hands out the taps made meanwhile.
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
}

void GrowthMonitorWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_GROWTH_MONITOR || m_bBusy)
        return;
    PageCursor::normal();
    showSaveButton(m_bSaved);
    (m_bSaved ? ui->BUTTON_SAVE_AFTER : ui->BUTTON_SAVE_BEFORE)->setEnabled(true);
    emit signalEnableMainMenu(true);
}

// ---------------------------------------------------------------------------------------------
// Values from the panel and the camera

void GrowthMonitorWidget::setCurrentFilterPosition(int position)
{
    m_nFilterPosition = position;
}

void GrowthMonitorWidget::setCurrentObjectiveLensPosition(int position)
{
    m_nObjectiveLensPosition = position;
}

void GrowthMonitorWidget::setPseudoColor(bool on, int filterPosition, int colorIndex)
{
    m_bPseudoColor = on;
    m_nFilterPosition = filterPosition;
    m_PseudoColorIndex = clampColorIndex(colorIndex);
}

void GrowthMonitorWidget::slotLEDState(bool on)
{
    if (g_CurrentMenu == MENU_GROWTH_MONITOR)
        m_bLEDState = on;
}

void GrowthMonitorWidget::slotChangeCameraMode(int bits)
{
    m_nCameraBits = bits;
}

// ---------------------------------------------------------------------------------------------
// Live and capture

void GrowthMonitorWidget::on_BUTTON_LIVE_clicked()
{
    PageCursor::busy();
    emit signalEnableMainMenu(false);
    setUIControlEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit liveMode(true);
    emit lightOn();
    m_nCurrentState = GROWTH_LIVE;
    m_FileList.clear();
    changeState();
}

void GrowthMonitorWidget::on_BUTTON_CAPTURE_clicked()
{
    PageCursor::busy();
    ui->BUTTON_CAPTURE->setEnabled(false);
    emit signalEnableMainMenu(false);
    emit signalEnableControlWidgetUI(false);
    m_bPreviousRunWasFolder = m_nAnalysisSource != 0;
    m_nAnalysisSource = 0;
    m_bCapturePending = true;
    m_bStillRefused = false;
    emit liveMode(false);
    emit capture(); // the frame and its whole run come back inside this emit
    if (m_bCapturePending) {
        m_bCapturePending = false;
        qWarning() << "Growth monitor: the camera delivered no frame";
        returnToLive();
        if (m_bStillRefused)
            showText(VideoWidget::kStillRefusedText);
    }
}

// A capture that cannot go on: the live image again, ready for the next capture.
void GrowthMonitorWidget::returnToLive()
{
    PageCursor::normal();
    emit liveMode(true);
    emit lightOn();
    m_nCurrentState = GROWTH_LIVE;
    changeState();
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void GrowthMonitorWidget::captureCompleted(uchar *frame, int bits)
{
    if (g_CurrentMenu != MENU_GROWTH_MONITOR || m_nAnalysisSource != 0 || !m_bCapturePending || !frame)
        return; // not the answer to this page's capture
    m_bCapturePending = false;
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    m_nCameraBits = bits;
    m_bCleanBeforeRun = m_bPreviousRunWasFolder || m_bFirstTime;

    runInitializingBox();
    PageCursor::normal();
    if (m_nStartCode != START_OK) {
        reportStartCode(true);
        returnToLive();
        return;
    }

    if (bits == 8) {
        std::memcpy(m_pFrame8, frame, size_t(kPixels));
    } else if (bits == 16) {
        std::memcpy(m_pFrame16.get(), frame, size_t(kPixels) * 2);
        const uchar *words = m_pFrame16.get();
        for (int i = 0; i < kPixels; ++i)
            m_pFrame8[i] = words[2 * i];
    }
    m_nFilesTried = 1;
    m_nFilesAnalysed = 0;
    m_bWriteFailed = false;
    QTimer::singleShot(500, this, &GrowthMonitorWidget::slotQuickConfluency);
    runCalculatingDialog(0);
    if (m_bWriteFailed) {
        showText(kWriteFailedText);
        returnToLive();
        return;
    }
    reportSkipped();
}

void GrowthMonitorWidget::slotQuickConfluency()
{
    clearResult(m_bCleanBeforeRun);
    m_bSaved = false;
    m_bFirstTime = false;
    emit saved(false);

    ImReaderWriter image;
    const bool loaded = (m_nCameraBits == 8 || m_nCameraBits == 16)
                        && image.load(m_nCameraBits == 16 ? static_cast<const void *>(m_pFrame16.get()) : m_pFrame8,
                                      kWidth, kHeight, quint16(m_nCameraBits), 1, 1, 1, 1);
    emit captured(true);
    const QString path = GrowthMonitor::rawFolder() + QString::asprintf("Temp_%06d.tif", m_nNextFrameNumber);
    if (!loaded || !image.write(QFile::encodeName(path), QByteArray())) {
        qWarning().noquote() << "Growth monitor: cannot write" << path << image.errorString();
        m_bWriteFailed = true;
        releaseDialogs();
        return;
    }
    ++m_nNextFrameNumber;
    // The frame's file is its own result base: its results are written beside it.
    if (analyseImage(path, path, 0) && m_pProgressDlg) {
        m_pProgressDlg->setCurrentCount(1);
        m_pProgressDlg->repaint();
        delay(1000);
    }
    completedGrowthMonitoring();
}

// ---------------------------------------------------------------------------------------------
// Folder run

void GrowthMonitorWidget::on_BUTTON_LOAD_IMAGE_clicked()
{
    ui->BUTTON_LOAD_IMAGE->setChecked(false);
    m_FileList.clear();
    const bool videoStopped = m_nCurrentState != GROWTH_RESULT;
    if (videoStopped) {
        m_bBusy = true;
        emit setVideoRunningState(false);
    }
    DirectoryDialog chooser;
    const bool accepted = chooser.exec() == 1;
    if (videoStopped) {
        // The video's answer to its restart must not free the menu while the run is prepared:
        // busy lasts until the run is refused or completed.
        emit setVideoRunningState(true);
        m_bBusy = accepted;
    }
    if (!accepted)
        return;

    PageCursor::busy(Qt::WaitCursor);
    m_nStartCode = checkFolder(chooser.getSelectedPath());
    if (m_nStartCode == START_OK) {
        m_bPreviousRunWasFolder = m_nAnalysisSource == 1;
        m_nAnalysisSource = 1;
        emit signalEnableMainMenu(false);
        emit signalEnableControlWidgetUI(false);
        m_bCleanBeforeRun = true;
        runInitializingBox();
    }
    PageCursor::normal();
    if (m_nStartCode != START_OK) {
        m_bBusy = false;
        reportStartCode(false);
        unlockAfterRefusal();
        return;
    }
    m_bStopRequested = false;
    m_nFilesTried = 0;
    m_nFilesAnalysed = 0;
    QTimer::singleShot(500, this, &GrowthMonitorWidget::slotGrowthMonitoring);
    runCalculatingDialog(m_FileList.size());
    reportSkipped();
}

int GrowthMonitorWidget::checkFolder(const QString &folder)
{
    m_FileList = ImageSeriesFiles::files(folder, {QStringLiteral("*.tif"), QStringLiteral("*.png"),
                                                  QStringLiteral("*.jpg"), QStringLiteral("*.bmp")});
    if (m_FileList.isEmpty())
        return START_NO_FILES;
    ImReaderWriter image;
    for (const QFileInfo &file : m_FileList) {
        // The reader takes TIFF only, so a PNG, JPG or BMP among them refuses the folder; a TIFF
        // that cannot be read is left to the run, which skips it and says so afterwards.
        const bool read = image.read(QFile::encodeName(file.absoluteFilePath()));
        if (!read && file.suffix().compare(QLatin1String("tif"), Qt::CaseInsensitive) == 0)
            continue;
        if (!read || image.bitsPerSample != 8 || image.samplesPerPixel != 1) {
            m_StartText = kFormatText;
            return START_BAD_IMAGE;
        }
        // The view and the savers read whole camera frames.
        if (image.width != quint32(kWidth) || image.height != quint32(kHeight)) {
            m_StartText = kSizeText;
            return START_BAD_IMAGE;
        }
    }
    return START_OK;
}

void GrowthMonitorWidget::runInitializingBox()
{
    // Whatever closes the box before the start step has run refuses the run.
    m_nStartCode = START_NO_WORK_FOLDER;
    QTimer::singleShot(1000, this, &GrowthMonitorWidget::slotInitCalculrate);
    m_pMessageDlg = new MessageDlg;
    m_pMessageDlg->setMessage(kInitializing);
    m_pMessageDlg->setButtonVisibility(MSG_BUTTON_NONE);
    m_pMessageDlg->exec();
    releaseDialogs();
}

void GrowthMonitorWidget::runCalculatingDialog(int total)
{
    m_pProgressDlg = new TimeLapseProgressDlg;
    m_pProgressDlg->setMessage(kCalculating);
    m_pProgressDlg->setTotalCount(total);
    if (total > 0) {
        m_pProgressDlg->setSignalMode(true);
        connect(m_pProgressDlg.data(), &TimeLapseProgressDlg::signalOKClicked, this, &GrowthMonitorWidget::slotOKClicked);
    }
    m_pProgressDlg->exec();
    releaseDialogs();
}

// Closes the boxes the page made and lets them go; from here on they count as gone.
void GrowthMonitorWidget::releaseDialogs()
{
    for (QDialog *dialog : {static_cast<QDialog *>(m_pMessageDlg.data()), static_cast<QDialog *>(m_pProgressDlg.data())}) {
        if (dialog) {
            dialog->close();
            dialog->deleteLater();
        }
    }
    m_pMessageDlg = nullptr;
    m_pProgressDlg = nullptr;
}

void GrowthMonitorWidget::slotInitCalculrate()
{
    const std::string key = QString::number(m_nObjectiveLensPosition).toStdString();
    if (readConfigSetting("Lens", key.c_str(), "") == QLatin1String("N/A")) {
        m_nStartCode = START_NO_OBJECTIVE;
    } else {
        const float magnification = ScaleBar::objectiveMagnification(m_nObjectiveLensPosition) * m_fReductionLensMagnification;
        GrowthMonitorParameter parameter;
        parameter.thresholdType = ui->COMB_THRESHOLD->currentIndex();
        parameter.thresholdValue = parameter.thresholdType == 1 ? ui->SPINBOX_THRESHOLD->value() : 0;
        parameter.background = ui->COMB_BACKGROUND->currentIndex();
        parameter.dilate = ui->CHKBOX_DILATE->isChecked() ? 1 : 0;
        parameter.watershed = ui->SPINBOX_WATERSHED->value();
        // A captured frame is one image of room on the drive too.
        parameter.imageCount = m_nAnalysisSource == 1 ? m_FileList.size() : 1;
        parameter.minArea = minimumArea(ui->SPINBOX_MIN_OBJ_SIZE->value(), magnification, m_fCMOSPixelSize);
        m_GrowthMonitor.setGrowthMonitorParameter(parameter);
        m_nStartCode = m_GrowthMonitor.canStart(m_nCameraBits, m_bCleanBeforeRun);
    }
    if (m_pMessageDlg) {
        m_pMessageDlg->close();
        m_pMessageDlg->deleteLater();
        m_pMessageDlg = nullptr;
    }
}

int GrowthMonitorWidget::minimumArea(int sizeUm, float magnification, float cmosPixelSize)
{
    if (!(cmosPixelSize > 0.0f))
        return 0;
    const double d = double(sizeUm) * double(magnification) / double(cmosPixelSize);
    const double area = M_PI * d * d;
    if (!(area > 0.0))
        return 0;
    return int(std::min(area, double(kPixels)));
}

void GrowthMonitorWidget::reportStartCode(bool capture)
{
    switch (m_nStartCode) {
    case START_OK:
        break;
    case START_NO_SPACE:
        showPreset(MSG_INSUFFICIENT_DISK_SPACE);
        break;
    case START_NO_WORK_FOLDER:
        showPreset(MSG_SSD_NOT_DETECTED);
        break;
    case START_BAD_IMAGE:
        if (!capture)
            showText(m_StartText);
        break;
    case START_NO_OBJECTIVE:
        showText(kObjectiveText);
        break;
    case START_NO_FILES:
        showPreset(MSG_NO_IMAGE_FILES);
        break;
    }
}

void GrowthMonitorWidget::unlockAfterRefusal()
{
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void GrowthMonitorWidget::slotGrowthMonitoring()
{
    startGrowthMonitoring();
}

void GrowthMonitorWidget::startGrowthMonitoring()
{
    clearResult(true);
    m_bSaved = false;
    m_bFirstTime = false;
    emit saved(false);
    const int n = m_FileList.size();
    for (int i = 0; i < n && !m_bStopRequested; ++i) {
        ++m_nFilesTried;
        if (analyseFolderImage(m_FileList[i]) && m_pProgressDlg) {
            m_pProgressDlg->setCurrentCount(int(m_GrowthMonitor.thumbnails().size()));
            qProcessEvents(); // user input too: Stop is seen here
        }
        if (i == n - 1 && !m_bStopRequested)
            delay(500);
    }
    completedGrowthMonitoring();
}

bool GrowthMonitorWidget::analyseFolderImage(const QFileInfo &file)
{
    return analyseImage(file.absoluteFilePath(), GrowthMonitor::rawFolder() + file.fileName(), 1);
}

bool GrowthMonitorWidget::analyseImage(const QString &source, const QString &base, int kind)
{
    float confluency = 0;
    int count = 0;
    int threshold = 0;
    if (!m_GrowthMonitor.getConfluencyValue(QFile::encodeName(source).toStdString(), base, confluency, count, threshold)) {
        qWarning().noquote() << "Growth monitor: skipped" << source << m_GrowthMonitor.errorString();
        return false;
    }
    ThumbnailInfo info;
    info.thumbnail = thumbnailOf(source);
    info.kind = kind;
    info.value = confluency;
    info.count = count;
    info.threshold = threshold;
    info.path = base;
    info.sourcePath = source;
    m_GrowthMonitor.pushThumbnail(info);
    ++m_nFilesAnalysed;
    return true;
}

QPixmap GrowthMonitorWidget::thumbnailOf(const QString &path)
{
    ImReaderWriter image;
    if (!image.readHalved(QFile::encodeName(path), kThumbnailSize, nullptr))
        return QPixmap();
    return ImageThumbnail::make(image, g_PseudoColorTable[7], kThumbnailSize);
}

void GrowthMonitorWidget::slotOKClicked()
{
    if (!m_pProgressDlg)
        return;
    disconnect(m_pProgressDlg.data(), &TimeLapseProgressDlg::signalOKClicked, this, &GrowthMonitorWidget::slotOKClicked);
    m_bStopRequested = true;
}

void GrowthMonitorWidget::completedGrowthMonitoring()
{
    m_bBusy = false;
    releaseDialogs();
    updateGraph();
    updateTable();
    emit lightOff();
    emit liveMode(false);
    std::vector<ThumbnailInfo> &records = m_GrowthMonitor.thumbnails();
    const int index = m_nAnalysisSource == 1 ? 0 : int(records.size()) - 1;
    emit completed(records, index);
    m_nCurrentState = GROWTH_RESULT;
    changeState();
    writeSetting();
    slotChangedCurrentThumbnailIndex(index);
}

void GrowthMonitorWidget::reportSkipped()
{
    const int skipped = m_nFilesTried - m_nFilesAnalysed;
    if (skipped > 0)
        showText(kSkippedText.arg(skipped).arg(m_nFilesTried));
}

// ---------------------------------------------------------------------------------------------
// Saving and the scale-bar box

int GrowthMonitorWidget::save()
{
    SaveOptionsDlg dialog(nullptr, false);
    // Raw frames exist for captures only: a folder's images stay where they are.
    dialog.setCurrentSaveOption(SAVE_OPTION_GROWTH_MONITOR, m_nAnalysisSource != 1, SUB_OPTION_NONE);
    dialog.setImageBits(8);
    dialog.setFilterColorIndex(m_PseudoColorIndex);
    dialog.generateCapturedImageMetaData();
    return dialog.exec();
}

void GrowthMonitorWidget::on_BUTTON_SAVE_BEFORE_clicked()
{
    if (save() != 1)
        return;
    m_bSaved = true;
    m_bFirstTime = false;
    emit saved(true);
    showSaveButton(true);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void GrowthMonitorWidget::on_BUTTON_SAVE_AFTER_clicked()
{
    save();
}

void GrowthMonitorWidget::on_CHKBOX_SCALEBAR_clicked()
{
    if (g_CurrentMenu == MENU_GROWTH_MONITOR)
        emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
}

void GrowthMonitorWidget::slotScaleBarCheckBoxState(TSScaleBar scaleBar)
{
    ScaleBar::uncheckWithoutObjective(ui->CHKBOX_SCALEBAR, scaleBar);
}
