#include "NIMBODlg.h"

#include "CameraTables.h"
#include "DateTimer.h"
#include "DialogRunner.h"
#include "ErrorReportDlg.h"
#include "HotPixelCalibration.h"
#include "HotPixelCorrectionDialog.h"
#include "LicenseAgreementDlg.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ScaleBar.h"
#include "SetupDlg.h"
#include "SystemActions.h"
#include "Utilities.h"
#include "WelcomeDlg.h"
#include "ui_NIMBODlg.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QPixmapCache>
#include <QTimer>

namespace {

// The work folders on the SSD, made at start and emptied on the way out.
const char *const kWorkFolders[] = {"/media/VANTOR SSD/.CellCount/", "/media/VANTOR SSD/.Video/",
                                    "/media/VANTOR SSD/.FileManager/"};

// The longest wait for a Multicolor auto-save being written before its page is left.
constexpr int kAutoSaveSettleMs = 10000;

std::string configFile()
{
    return Paths::configFile().toStdString();
}

int readNumber(const char *section, const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, configFile());
    return QString::fromStdString(value).trimmed().toInt(); // not a number reads as 0
}

// Calls a page's state setter with the page's own state type.
template <class Page, class State>
void setPageState(Page *page, void (Page::*setter)(State), int state)
{
    (page->*setter)(static_cast<State>(state));
}

} // namespace

NIMBODlg::NIMBODlg(TCurrentMenu menu, TExecMode mode, QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint),
      m_pDateTimer(std::make_unique<DateTimer>()),
      m_pSetupDlg(std::make_unique<SetupDlg>(nullptr)),
      m_pMediaMonitor(std::make_unique<MediaMonitor>(nullptr)),
      m_pScaleBar(std::make_unique<ScaleBar>(nullptr)),
      ui(std::make_unique<Ui_NIMBODlg>())
{
    m_pDateTimer->setObjectName("DateTimer");
    m_pSetupDlg->setObjectName("SetupDlg");
    m_pMediaMonitor->setObjectName("MediaMonitor");
    m_pScaleBar->setObjectName("ScaleBar");

    // Qt keeps every icon it paints (the browsers' thumbnails of each series too) and every style
    // sheet picture in its pixmap cache: bounded here, least recently used dropped, and trimmed by
    // Qt while the cache is idle, so that a day of series does not grow the process.
    QPixmapCache::setCacheLimit(kPixmapCacheLimitKB);

    g_ExecMode = mode;
    if (isEnableSerialLog())
        qDebug() << "NIMBODlg::NIMBODlg(TCurrentMenu, TExecMode, QWidget*)" << int(mode);

    // Builds every page: the live video opens the camera and the control panel the serial link.
    ui->setupUi(this);
    // Pages painted from their style sheet's background picture.
    for (QWidget *page : {static_cast<QWidget *>(ui->m_ZStackWidget), static_cast<QWidget *>(ui->m_TimeLapseWidget),
                          static_cast<QWidget *>(ui->m_SingleWidget), static_cast<QWidget *>(ui->m_MultiColorWidget),
                          static_cast<QWidget *>(ui->m_CellCountWidget), static_cast<QWidget *>(ui->m_GrowthMonitorWidget),
                          static_cast<QWidget *>(ui->m_TimeLapseImageWidget), static_cast<QWidget *>(ui->m_ZStackImageWidget),
                          static_cast<QWidget *>(ui->m_GrowthMonitorImageWidget)})
        page->setAttribute(Qt::WA_StyledBackground, true);
    ui->BUTTON_MONITOR_MENU->hide();
    describePages();
    ControlWidget *panel = ui->m_ControlWidget;
    m_pHotPixelCalibration = std::make_unique<HotPixelCalibration>(
        ui->m_VideoWidget,
        [panel] {
            const TFilterSet set = panel->currentFilterSet();
            return HotPixelCalibration::PanelState{panel->currentFilterPositionForHotPixelCorrection(),
                                                   panel->currentCameraMode(), set.gain, set.exposure};
        },
        this);

    makeSignalSlotConnection();

    g_PreviouslySavedPath = "";
    g_bSaveWithMonochromeOrPseudoColor[0] = true;
    g_bSaveWithMonochromeOrPseudoColor[1] = false;
    g_bSaveAsFolder = false;
    m_bVideoStoppedHere = false;

    initialize(menu);
}

NIMBODlg::~NIMBODlg()
{
    ui.reset();
    m_pHotPixelCalibration.reset();
    // The members follow in reverse order of construction.
}

void NIMBODlg::releaseInstrument()
{
    ui->m_VideoWidget->releaseCamera();
    ui->m_ControlWidget->controller().PortClose();
}

QStringList NIMBODlg::failedConnections() const
{
    QStringList failed;
    for (const Connection &c : m_Connections)
        if (!c.ok)
            failed << QString("%1 %2 -> %3 %4").arg(c.sender, c.signal, c.receiver, c.method);
    return failed;
}

void NIMBODlg::describePages()
{
    auto *mc = ui->m_MultiColorWidget;
    auto *zs = ui->m_ZStackWidget;
    auto *tl = ui->m_TimeLapseWidget;
    auto *cc = ui->m_CellCountWidget;
    auto *gm = ui->m_GrowthMonitorWidget;

    m_Pages[MENU_MULTICOLOR] = {
        ui->BUTTON_MULTI_COLOR_MENU, mc, [mc] { return int(mc->currentState()); },
        [mc](int s) { setPageState(mc, &std::remove_pointer_t<decltype(mc)>::setCurrentState, s); },
        [this] {
            ui->m_MultiColorWidget->clear();
            ui->m_MultiColorImageWidget->clearImageData();
            ui->m_ImageGraphicsView->clearImageData();
        },
        [mc] { mc->slotWaitForVideoWidgetIsStarted(); }, [mc] { mc->slotWaitForVideoWidgetIsStopped(); },
        [mc] { mc->readSetting(); }};
    m_Pages[MENU_ZSTACK] = {
        ui->BUTTON_Z_STACK_MENU, zs, [zs] { return int(zs->currentState()); },
        [zs](int s) { setPageState(zs, &std::remove_pointer_t<decltype(zs)>::setCurrentState, s); },
        [zs] { zs->setTheFirstTime(true); }, [zs] { zs->slotWaitForVideoWidgetIsStarted(); },
        [zs] { zs->slotWaitForVideoWidgetIsStopped(); },
        [this, zs] {
            ui->m_ZStackImageWidget->readSetting();
            zs->readSetting();
        }};
    m_Pages[MENU_TIMELAPSE] = {
        ui->BUTTON_TIME_LAPSE_MENU, tl, [tl] { return int(tl->currentState()); },
        [tl](int s) { setPageState(tl, &std::remove_pointer_t<decltype(tl)>::setCurrentState, s); },
        [tl] { tl->setTheFirstTime(true); }, [tl] { tl->slotWaitForVideoWidgetIsStarted(); },
        [tl] { tl->slotWaitForVideoWidgetIsStopped(); },
        [this, tl] {
            ui->m_TimeLapseImageWidget->readSetting();
            tl->readSetting();
        }};
    m_Pages[MENU_CELLCOUNT] = {
        ui->BUTTON_COUNT_MENU, cc, [cc] { return int(cc->currentState()); },
        [cc](int s) { setPageState(cc, &std::remove_pointer_t<decltype(cc)>::setCurrentState, s); },
        [cc] { cc->setTheFirstTime(true); }, [cc] { cc->slotWaitForVideoWidgetIsStarted(); },
        [cc] { cc->slotWaitForVideoWidgetIsStopped(); },
        [this, cc] {
            ui->m_CellCountImageWidget->readSetting();
            cc->readSetting();
        }};
    m_Pages[MENU_GROWTH_MONITOR] = {
        ui->BUTTON_MONITOR_MENU, gm, [gm] { return int(gm->currentState()); },
        [gm](int s) { setPageState(gm, &std::remove_pointer_t<decltype(gm)>::setCurrentState, s); },
        [gm] { gm->setTheFirstTime(true); }, [gm] { gm->slotWaitForVideoWidgetIsStarted(); },
        [gm] { gm->slotWaitForVideoWidgetIsStopped(); },
        [this, gm] {
            ui->m_GrowthMonitorImageWidget->readSetting();
            gm->readSetting();
        }};
}

// ---------------------------------------------------------------------------------------------
// Start-up

void NIMBODlg::initialize(TCurrentMenu menu)
{
    if (menu == MENU_SERIAL_FAILURE) {
        // No button and no key leaves this message: the instrument has to be switched off.
        MessageDlg message;
        message.setMsgType(MSG_SERIAL_DISRUPTED);
        message.exec();
    }
    m_pMediaMonitor->mountAll();
    for (const char *folder : kWorkFolders)
        createTemporaryPath(Paths::path(folder));
    m_bClosing = false;
    m_bCaptured = false;
    m_bSaved = false;
    initializePseudoColorTable();
    m_pDateTimer->updateDateTime();
    ui->m_ControlWidget->resetMotorPosition();

    ui->m_ImageGraphicsView->m_bContextMenuEnabled = true;
    ui->m_ImageGraphicsView->m_bHighByte = false;
    ui->m_ImageGraphicsView->m_bKeyEnabled = true;

    m_PreviousMenu = menu;
    if (menu != MENU_MULTICOLOR)
        return;
    g_CurrentMenu = MENU_MULTICOLOR;
    lockMainMenu();
    setWidgetVisibility();
    m_bCaptured = false;
    m_bSaved = false;
    QTimer::singleShot(1000, this, &NIMBODlg::initialStart);
}

void NIMBODlg::initialStart()
{
    ui->m_VideoWidget->readSetting();
    ControlWidget *panel = ui->m_ControlWidget;
    panel->updateLensPosition();
    panel->turnOffLight();
    panel->setControlWidgetState(CONTROL_STATE_OPENED);
    panel->setLiveMode(false);
    m_Pages[MENU_MULTICOLOR].setState(0);

    if (isQCTestMode()) {
        panel->setLiveMode(true);
        panel->changedFilterPosition(1);
    } else {
        if (!panel->checkLensAndFilterPosition()) {
            MessageDlg message;
            message.setMsgType(MSG_LENS_FILTER_NOT_IN_POSITION);
            message.exec();
        }
        panel->changedFilterPosition(panel->currentFilterPosition());
        if (readNumber("LicenseAgreement", "Accepted", "0") == 0) {
            LicenseAgreementDlg agreement(true, nullptr);
            if (agreement.exec() == QDialog::Accepted)
                WritePrivateProfileString("LicenseAgreement", "Accepted", "1", configFile());
        }
    }
    runStartUpDialogs();
}

// The error report and the welcome screen, shown in every start mode.
void NIMBODlg::runStartUpDialogs()
{
    {
        ErrorReportDlg report(nullptr);
        QList<QFileInfo> markers;
        if (report.checkErrorReport(markers, true)) {
            report.setState(ErrorReportDlg::STEP_QUESTION);
            report.exec();
            report.removeDetectionFiles();
        }
    }
    if (readNumber("Setting_Misc", "ShowStartDlg", "1") == 1) {
        WelcomeDlg welcome(nullptr);
        welcome.exec();
        WritePrivateProfileString("Setting_Misc", "ShowStartDlg", welcome.m_bDontShowAgain ? "0" : "1", configFile());
    }
}

// ---------------------------------------------------------------------------------------------
// Wiring

bool NIMBODlg::link(QObject *sender, const char *signal, QObject *receiver, const char *method,
                    Qt::ConnectionType type)
{
    Connection c;
    c.sender = sender ? sender->objectName() : QString();
    c.signal = QString::fromLatin1(QMetaObject::normalizedSignature(signal + 1));
    c.receiver = receiver ? receiver->objectName() : QString();
    c.method = QString::fromLatin1(QMetaObject::normalizedSignature(method + 1));
    c.type = type;
    c.ok = sender && receiver && QObject::connect(sender, signal, receiver, method, type);
    if (!c.ok)
        qWarning().noquote() << "Connection failed:" << c.sender << c.signal << "->" << c.receiver << c.method;
    m_Connections.append(c);
    return c.ok;
}

void NIMBODlg::linkAll(QObject *sender, const char *signal, std::initializer_list<QObject *> receivers,
                       const char *method, Qt::ConnectionType type)
{
    for (QObject *receiver : receivers)
        link(sender, signal, receiver, method, type);
}

void NIMBODlg::makeSignalSlotConnection()
{
    VideoWidget *video = ui->m_VideoWidget;
    ControlWidget *panel = ui->m_ControlWidget;
    auto *mc = ui->m_MultiColorWidget;
    auto *mcTiles = ui->m_MultiColorImageWidget;
    auto *view = ui->m_ImageGraphicsView;
    auto *zs = ui->m_ZStackWidget;
    auto *zsImage = ui->m_ZStackImageWidget;
    auto *tl = ui->m_TimeLapseWidget;
    auto *tlImage = ui->m_TimeLapseImageWidget;
    auto *cc = ui->m_CellCountWidget;
    auto *ccImage = ui->m_CellCountImageWidget;
    auto *gm = ui->m_GrowthMonitorWidget;
    auto *gmImage = ui->m_GrowthMonitorImageWidget;
    auto *files = ui->m_FileManagerWidget;
    SetupDlg *setup = m_pSetupDlg.get();
    ScaleBar *scale = m_pScaleBar.get();
    const auto pages = {static_cast<QObject *>(mc), static_cast<QObject *>(zs), static_cast<QObject *>(tl),
                        static_cast<QObject *>(cc), static_cast<QObject *>(gm)};

    // Storage, clock and settings dialog.
    link(m_pMediaMonitor.get(), SIGNAL(signalRemovedDisk(QString)), files, SLOT(slotRemovedDisk(QString)));
    link(files, SIGNAL(umountDevice(QString)), m_pMediaMonitor.get(), SLOT(umountByLabel(QString)));
    link(files, SIGNAL(signalEnableMainMenu(bool)), this, SLOT(setCheckedMainMenuButton(bool)));
    link(m_pDateTimer.get(), SIGNAL(updateCurrentDateTime(QString,QString)), this, SLOT(updateCurrentDateTime(QString,QString)));
    link(setup, SIGNAL(signalShowHotPixelCorrectionDlg()), this, SLOT(slotShowHotPixelCorrectionDlg()));
    link(setup, SIGNAL(setVideoRunningState(bool)), this, SLOT(slotSetVideoRunningState(bool)));

    // Control panel to live video, scale-bar model and pages.
    link(panel, SIGNAL(changeFilterPosition(int)), video, SLOT(setCurrentFilterPosition(int)));
    linkAll(panel, SIGNAL(changeFilterPosition(int)), pages, SLOT(setCurrentFilterPosition(int)));
    link(panel, SIGNAL(changeLensPosition(int)), scale, SLOT(setCurrentObjectiveLensPosition(int)));
    linkAll(panel, SIGNAL(changeLensPosition(int)), pages, SLOT(setCurrentObjectiveLensPosition(int)));
    linkAll(panel, SIGNAL(pseudoColorEnabled(bool,int,int)),
            {video, mc, zs, zsImage, cc, ccImage, gm, gmImage, tl, tlImage}, SLOT(setPseudoColor(bool,int,int)));
    link(panel, SIGNAL(pseudoColorForVideoWidget(bool,int)), video, SLOT(setPseudoColor(bool,int)));
    link(panel, SIGNAL(signalChangeExposure(int,int,int)), video, SLOT(slotSetCurrentExposure(int,int,int)));
    linkAll(panel, SIGNAL(signalChangeExposure(int)), {tl, cc}, SLOT(changedExposure(int)));
    link(panel, SIGNAL(changeGain(int,int)), video, SLOT(setCurrentGain(int,int)));
    linkAll(panel, SIGNAL(signalLEDState(bool)), {mc, tl, zs, cc, gm}, SLOT(slotLEDState(bool)));
    link(panel, SIGNAL(changeHotpixelEnabled(bool)), video, SLOT(slotChangeHotpixelEnabled(bool)));
    link(panel, SIGNAL(signalUpdatePos(int)), zs, SLOT(slotUpdatePos(int)));
    linkAll(panel, SIGNAL(signalCurrentMotorPosition(int)), {zs, tl, cc}, SLOT(slotSetCurrentMotorPosition(int)));
    link(panel, SIGNAL(signalMotorMovedStartPosition()), zs, SLOT(slotMotorMovedStartPosition()));
    linkAll(panel, SIGNAL(signalMotorMoved()), {zs, cc}, SLOT(slotMotorMoved()));
    linkAll(panel, SIGNAL(signalMotorMoveUnconfirmed()), {zs, cc}, SLOT(slotMotorMoveUnconfirmed()));
    link(panel, SIGNAL(signalStartZPositioningCompleted()), zs, SLOT(slotStartZPositioningCompleted()));
    link(panel, SIGNAL(completeTimeLapseAF(int,bool,TFineAFErrTable)), tl,
         SLOT(slotCompleteTimeLapseAF(int,bool,TFineAFErrTable)));
    link(panel, SIGNAL(sendAFData(int,int,double)), tl, SLOT(slotsaveAFData(int,int,double)));
    link(panel, SIGNAL(completeCellCountAF(bool,TFineAFErrTable)), cc, SLOT(slotCompleteCellCountAF(bool,TFineAFErrTable)));
    link(panel, SIGNAL(capture()), video, SLOT(capture()));
    video->setSceneCheck([panel] { return panel->controller().refreshTurretPositions(); });
    link(panel, SIGNAL(signalParkingCompleted()), this, SLOT(slotParkingCompleted()), Qt::QueuedConnection);

    // Live video to panel, pages and main window.
    linkAll(video, SIGNAL(captured(uchar*,int)), pages, SLOT(captureCompleted(uchar*,int)));
    link(video, SIGNAL(captured(uchar*,int)), panel, SLOT(captureCompleted(uchar*,int)));
    // A refused still: each requester decides what the user learns of it.
    linkAll(video, SIGNAL(stillRefused()), pages, SLOT(slotStillRefused()));
    link(video, SIGNAL(stillRefused()), panel, SLOT(slotStillRefused()));
    link(video, SIGNAL(grabbed(uchar*,int)), tl, SLOT(slotGrabbed(uchar*,int)));
    link(video, SIGNAL(signalCameraModeChanged(int)), panel, SLOT(slotCameraModeChanged(int)));
    linkAll(video, SIGNAL(signalCameraModeChanged(int)), {mc, gm, cc}, SLOT(slotChangeCameraMode(int)));
    linkAll(video, SIGNAL(signalVideoWidgetIsStarted()), pages, SLOT(slotWaitForVideoWidgetIsStarted()));
    link(video, SIGNAL(signalVideoWidgetIsStopped()), this, SLOT(slotWaitForVideoWidgetIsStopped()));
    linkAll(video, SIGNAL(signalVideoWidgetIsStopped()), pages, SLOT(slotWaitForVideoWidgetIsStopped()));

    // Scale-bar model.
    link(scale, SIGNAL(signalShowScaleBar(TSScaleBar)), mcTiles, SLOT(setScaleBar(TSScaleBar)));
    link(scale, SIGNAL(signalShowScaleBar(TSScaleBar)), this, SLOT(slotSetScaleBar(TSScaleBar)));
    link(scale, SIGNAL(signalShowScaleBar(TSScaleBar)), mc, SLOT(slotScaleBarCheckBoxState(TSScaleBar)));
    for (const auto &[image, page] : {std::pair<QObject *, QObject *>{zsImage, zs}, {tlImage, tl}, {ccImage, cc}, {gmImage, gm}}) {
        link(scale, SIGNAL(signalShowScaleBar(TSScaleBar)), image, SLOT(setScaleBar(TSScaleBar)));
        link(scale, SIGNAL(signalShowScaleBar(TSScaleBar)), page, SLOT(slotScaleBarCheckBoxState(TSScaleBar)));
    }
    link(scale, SIGNAL(signalPixelSizeChanged(float)), mc, SLOT(slotCurrentPixelSize(float)));
    for (QObject *page : pages)
        link(page, SIGNAL(signalShowScaleBar(bool)), scale, SLOT(slotShowScaleBar(bool)));
    link(view, SIGNAL(changeScaleBarSetting(bool,int)), this, SLOT(slotChangeScaleBarSetting(bool,int)));
    for (QObject *image : {static_cast<QObject *>(zsImage), static_cast<QObject *>(tlImage),
                           static_cast<QObject *>(ccImage), static_cast<QObject *>(gmImage)})
        link(image, SIGNAL(signalChangeScaleBarSetting(bool,int)), this, SLOT(slotChangeScaleBarSetting(bool,int)));

    // Signals every acquisition page sends the same way.
    for (QObject *page : pages) {
        link(page, SIGNAL(changedState()), this, SLOT(setSubWidgetState()));
        link(page, SIGNAL(capture()), video, SLOT(capture()));
        link(page, SIGNAL(lightOn()), panel, SLOT(turnOnLight()));
        link(page, SIGNAL(lightOff()), panel, SLOT(turnOffLight()));
        link(page, SIGNAL(liveMode(bool)), panel, SLOT(setLiveMode(bool)));
        link(page, SIGNAL(signalEnableMainMenu(bool)), this, SLOT(setCheckedMainMenuButton(bool)));
        link(page, SIGNAL(signalEnableControlWidgetUI(bool)), this, SLOT(slotEnableControlWidgetUI(bool)));
        link(page, SIGNAL(captured(bool)), this, SLOT(setCaptured(bool)));
        link(page, SIGNAL(saved(bool)), this, SLOT(setSaved(bool)));
    }
    for (QObject *page : {static_cast<QObject *>(zs), static_cast<QObject *>(tl), static_cast<QObject *>(gm)})
        link(page, SIGNAL(setVideoRunningState(bool)), this, SLOT(slotSetVideoRunningState(bool)));
    for (QObject *page : {static_cast<QObject *>(zs), static_cast<QObject *>(tl)}) {
        link(page, SIGNAL(changeHotpixelEnabled(bool)), video, SLOT(slotChangeHotpixelEnabled(bool)));
        link(page, SIGNAL(signalEnablePullingCommand(bool)), panel, SLOT(enablePullingCommand(bool)));
        link(page, SIGNAL(signalGetCurrentMotorPosition()), panel, SLOT(slotGetCurrentMotorPosition()));
    }
    for (QObject *page : {static_cast<QObject *>(zs), static_cast<QObject *>(tl), static_cast<QObject *>(cc)})
        link(page, SIGNAL(signalMoveMotorPosition(int,bool)), panel, SLOT(slotMoveMotorPosition(int,bool)),
             Qt::QueuedConnection);
    link(cc, SIGNAL(signalGetCurrentMotorPosition()), panel, SLOT(slotGetCurrentMotorPosition()));

    // The Multicolor page with its image view, tile view and the main window.
    link(mc, SIGNAL(updateCaptureImageMetaData()), panel, SLOT(slotUpdateCaptureImageMetaData()));
    link(mc, SIGNAL(measurementToolChanged(int)), view, SLOT(setCurrentMeasurementTool(int)));
    link(mc, SIGNAL(currentLineColorChanged(QColor)), view, SLOT(setCurrentLineColor(QColor)));
    link(mc, SIGNAL(currentLineThicknessChanged(int)), view, SLOT(setCurrentLineThickness(int)));
    link(mc, SIGNAL(currentFontColorChanged(QColor)), view, SLOT(setCurrentFontColor(QColor)));
    link(mc, SIGNAL(currentFontThicknessChanged(int)), view, SLOT(setCurrentFontThickness(int)));
    link(mc, SIGNAL(signalMakeAnnotationImageData(bool)), view, SLOT(slotMakeAnnotationImageData(bool)));
    link(mc, SIGNAL(showAnnotation(bool)), view, SLOT(slotShowAnnotation(bool)));
    link(mc, SIGNAL(setCurrentSelectedItem(uint)), view, SLOT(slotSetCurrentSelectedItem(uint)));
    link(mc, SIGNAL(deleteItem(uint)), view, SLOT(slotDeleteItem(uint)));
    link(mc, SIGNAL(signalCalcMeasurementItem(uint,TMeasurementTool)), view,
         SLOT(slotCalcMeasurementItem(uint,TMeasurementTool)));
    link(mc, SIGNAL(recalcMeasurementItem(uint,TMeasurementTool)), view,
         SLOT(slotRecalcMeasurementItem(uint,TMeasurementTool)));
    link(mc, SIGNAL(getSelectedDiagramItemKeyList()), view, SLOT(slotGetSelectedDiagramItemKeyList()));
    link(mc, SIGNAL(signalClearCapturedImage()), mcTiles, SLOT(slotClearCapturedImage()));
    link(mc, SIGNAL(signalClearCapturedImage()), view, SLOT(slotClearCapturedImage()));
    link(mc, SIGNAL(signalClearCapturedImage()), ui->m_NavigationDraw, SLOT(hide())); // no image, nothing to navigate
    link(mc, SIGNAL(imageCapturedTile(int,int,void*,bool,int,int)), mcTiles, SLOT(setImageData(int,int,void*,bool,int,int)));
    link(mc, SIGNAL(brightnessChangedTile(int,int,void*,bool,int,int)), mcTiles, SLOT(setImageData(int,int,void*,bool,int,int)));
    link(mc, SIGNAL(contrastChangedTile(int,int,void*,bool,int,int)), mcTiles, SLOT(setImageData(int,int,void*,bool,int,int)));
    link(mc, SIGNAL(signalResetImageTile(int,int,void*,bool,int)), mcTiles, SLOT(slotResetImage(int,int,void*,bool,int)));
    link(mc, SIGNAL(imageDisplayStateChanged(int)), mcTiles, SLOT(setImageDisplayState(int)));
    link(mc, SIGNAL(imageDisplayStateChanged(int)), this, SLOT(slotMultiColorImageDisplayState(int)));
    link(mc, SIGNAL(imageCaptured(int,int,void*,bool,int,uchar*)), this,
         SLOT(setMultiColorImageData(int,int,void*,bool,int,uchar*)));
    link(mc, SIGNAL(brightnessChanged(int,int,void*,bool,int,uchar*)), this,
         SLOT(changeFilterImageData(int,int,void*,bool,int,uchar*)));
    link(mc, SIGNAL(contrastChanged(int,int,void*,bool,int,uchar*)), this,
         SLOT(changeFilterImageData(int,int,void*,bool,int,uchar*)));
    link(mc, SIGNAL(overlayImageChanged(uchar*,int)), this, SLOT(slotSetOverlayImageData(uchar*,int)));
    link(mc, SIGNAL(getScaleBarPoint()), this, SLOT(slotGetScaleBarPoint()));
    link(mcTiles, SIGNAL(displayFullImageSelected(int,int)), mc, SLOT(setDisplayImageState(int,int)));
    link(view, SIGNAL(measurementResultChanged(TSMeasurementItem&,bool)), mc, SLOT(setMeasurementResult(TSMeasurementItem&,bool)));
    link(view, SIGNAL(overlayMeasurementResultChanged(TSMeasurementItem&,int)), mc,
         SLOT(setOverlayMeasurementResult(TSMeasurementItem&,int)));
    link(view, SIGNAL(currentImagePositionAndIntensity(QPoint,int,int)), mc,
         SLOT(setCurrentImagePositionAndIntensity(QPoint,int,int)));
    link(view, SIGNAL(unselectAll()), mc, SLOT(slotUpdateImageHistogram()));
    link(view, SIGNAL(signalSendAnnotationImageData(bool,uchar*,int,bool,bool)), mc, SLOT(slotSave(bool,uchar*,int,bool,bool)));
    link(view, SIGNAL(changeCurrentSelectedItem(uint,bool,bool)), mc, SLOT(slotChangeCurrentSelectedItem(uint,bool,bool)));
    link(view, SIGNAL(deletedItem(uint)), mc, SLOT(slotDeletedItem(uint)));
    link(view, SIGNAL(changeMeasurementResultTable(uint,std::vector<TSMeasurementItem>&)), mc,
         SLOT(slotChangeMeasurementResultTable(uint,std::vector<TSMeasurementItem>&)));
    link(view, SIGNAL(setSelectedDiagramItemKeyList(QVector<uint>&)), mc, SLOT(slotSetSelectedDiagramItemKeyList(QVector<uint>&)));
    link(view, SIGNAL(showNavigation(bool)), this, SLOT(slotShowHideNavigation(bool)));

    // The Z-stack page with its slice browser and the control panel.
    link(zs, SIGNAL(signalSetMotorSpeedAndStartZPosition(int,int)), panel, SLOT(slotSetMotorSpeedAndStartZPosition(int,int)),
         Qt::QueuedConnection);
    link(zs, SIGNAL(signalStartZStacking()), panel, SLOT(slotStartZStacking()));
    link(zs, SIGNAL(signalEndZStacking()), panel, SLOT(slotEndZStacking()));
    link(zs, SIGNAL(completed(std::vector<ThumbnailInfo>&)), zsImage, SLOT(loadThumbnail(std::vector<ThumbnailInfo>&)));
    link(zs, SIGNAL(signalChangeCurrentThumbnailIndex(int)), zsImage, SLOT(changedCurrentIndex(int)));
    link(zs, SIGNAL(completedFullFocus(bool,ThumbnailInfo&)), zsImage, SLOT(loadFullThumbnail(bool,ThumbnailInfo&)));
    link(zs, SIGNAL(getScaleBarPoint()), zsImage, SLOT(slotGetScaleBarPoint()));
    link(zs, SIGNAL(enableAnnotation(bool)), zsImage, SLOT(slotEnableAnnotation(bool)));
    link(zs, SIGNAL(getAnnotationTextInfo()), zsImage, SLOT(slotGetAnnotationTextInfo()));
    link(zs, SIGNAL(createFullFocusImage()), zsImage, SLOT(slotCreateFullFocusImage()));
    link(zs, SIGNAL(saveVideo()), zsImage, SLOT(slotSaveVideo()));
    link(zsImage, SIGNAL(changeCurrentIndex(int)), zs, SLOT(slotChangedCurrentThumbnailIndex(int)));
    link(zsImage, SIGNAL(setScaleBarPoint(QPointF)), zs, SLOT(slotSetScaleBarPoint(QPointF)));
    link(zsImage, SIGNAL(setAnnotationTextInfo(TAnnotationTextInfo)), zs, SLOT(slotSetAnnotationTextInfo(TAnnotationTextInfo)));
    link(zsImage, SIGNAL(deleteThumbnail(int)), zs, SLOT(slotDeleteThumbnail(int)));

    // The Time lapse page with its browser, the control panel and the live video.
    link(tl, SIGNAL(TimeLapseAF()), panel, SLOT(slotTimeLapseAF()));
    link(tl, SIGNAL(grabOne()), video, SLOT(slotGrabOne()));
    link(tl, SIGNAL(startRecording(bool,QString)), video, SLOT(slotStartRecording(bool,QString)));
    tl->setRecordingDrain({[video](int timeoutMs) { return video->waitForRecordedFrames(timeoutMs); },
                           [video] { return video->recordingFramesDropped() + video->recordingWritesFailed(); }});
    link(tl, SIGNAL(completed(std::vector<ThumbnailInfo>&,bool)), tlImage, SLOT(loadThumbnail(std::vector<ThumbnailInfo>&,bool)));
    link(tl, SIGNAL(getScaleBarPoint()), tlImage, SLOT(slotGetScaleBarPoint()));
    link(tl, SIGNAL(enableAnnotation(bool)), tlImage, SLOT(slotEnableAnnotation(bool)));
    link(tl, SIGNAL(getAnnotationTextInfo()), tlImage, SLOT(slotGetAnnotationTextInfo()));
    link(tl, SIGNAL(saveVideo()), tlImage, SLOT(slotSaveVideo()));
    link(tlImage, SIGNAL(setScaleBarPoint(QPointF)), tl, SLOT(slotSetScaleBarPoint(QPointF)));
    link(tlImage, SIGNAL(setAnnotationTextInfo(TAnnotationTextInfo)), tl, SLOT(slotSetAnnotationTextInfo(TAnnotationTextInfo)));
    link(tlImage, SIGNAL(deleteThumbnail(int)), tl, SLOT(slotDeleteThumbnail(int)));
    link(tlImage, SIGNAL(setEnableControlState(bool)), tl, SLOT(slotSetEnableControlState(bool)));
    link(tlImage, SIGNAL(signalEnableMainMenu(bool)), this, SLOT(setCheckedMainMenuButton(bool)));

    // The Cell count and Growth monitor pages with their viewers and the control panel.
    link(cc, SIGNAL(lightPower(int,int,int)), panel, SLOT(changeLightPower(int,int,int)));
    link(cc, SIGNAL(setGainExposureControlEnabled(bool)), panel, SLOT(slotSetGainExposureControlEnabled(bool)));
    link(cc, SIGNAL(cellCountAF()), panel, SLOT(slotCellCountAF()));
    link(cc, SIGNAL(completed(std::vector<ThumbnailInfo>&)), ccImage, SLOT(loadThumbnail(std::vector<ThumbnailInfo>&)));
    link(cc, SIGNAL(signalChangeCurrentThumbnailIndex(int)), ccImage, SLOT(changedCurrentIndex(int)));
    link(cc, SIGNAL(measurementToolChanged(int)), ccImage, SLOT(setCurrentMeasurementTool(int)));
    link(cc, SIGNAL(getCurrentImageData()), ccImage, SLOT(slotGetCurrentImageData()));
    link(cc, SIGNAL(showTagImage(bool,bool)), ccImage, SLOT(slotShowTagImage(bool,bool)));
    link(ccImage, SIGNAL(changeCurrentIndex(int)), cc, SLOT(slotChangedCurrentThumbnailIndex(int)));
    link(ccImage, SIGNAL(measurementResultChanged(TSMeasurementItem&)), cc, SLOT(setMeasurementResult(TSMeasurementItem&)));
    link(ccImage, SIGNAL(generateImageData(QImage)), cc, SLOT(slotGenerateImageData(QImage)));
    link(gm, SIGNAL(completed(std::vector<ThumbnailInfo>&,int)), gmImage, SLOT(loadThumbnail(std::vector<ThumbnailInfo>&,int)));
    link(gm, SIGNAL(signalChangeCurrentThumbnailIndex(int)), gmImage, SLOT(changedCurrentIndex(int)));
    link(gmImage, SIGNAL(changeCurrentIndex(int)), gm, SLOT(slotChangedCurrentThumbnailIndex(int)));

    // The navigator follows the image view; its zoom events come last.
    view->initNavigation(view->width(), view->height());
    ui->m_NavigationDraw->setGeometry(ui->m_NavigationDraw->geometry().adjusted(0, 0, 1, 1));
    Navigation navigation;
    view->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
    link(view, SIGNAL(signalMouseZoomEvent()), this, SLOT(slotMouseZoomEvent()));
}

// ---------------------------------------------------------------------------------------------
// Screens and main menu

void NIMBODlg::setCheckedMainMenuButton(bool enabled)
{
    const std::array<QAbstractButton *, 6> checkable = {ui->BUTTON_MULTI_COLOR_MENU, ui->BUTTON_Z_STACK_MENU,
                                                        ui->BUTTON_TIME_LAPSE_MENU,  ui->BUTTON_COUNT_MENU,
                                                        ui->BUTTON_MONITOR_MENU,     ui->BUTTON_FILEMANAGER};
    ui->BUTTON_POWER->setEnabled(enabled);
    ui->BUTTON_SETTING_MENU->setEnabled(enabled);
    for (QAbstractButton *button : checkable)
        button->setEnabled(enabled);
    if (enabled) {
        if (g_CurrentMenu >= MENU_MULTICOLOR && g_CurrentMenu <= MENU_FILE_MANAGER)
            checkable[g_CurrentMenu]->setChecked(true);
    } else {
        for (QAbstractButton *button : checkable)
            button->setChecked(false);
    }
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    setWidgetEnabled(enabled);
}

void NIMBODlg::setWidgetEnabled(bool enabled)
{
    ui->m_ControlWidget->setEnabled(enabled);
    if (isModeMenu(g_CurrentMenu))
        m_Pages[g_CurrentMenu].page->setEnabled(enabled);
    else if (g_CurrentMenu == MENU_FILE_MANAGER)
        ui->m_FileManagerWidget->setEnabled(enabled);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void NIMBODlg::setWidgetVisibility()
{
    const int menu = g_CurrentMenu;
    if (!isModeMenu(menu) && menu != MENU_FILE_MANAGER)
        return;
    const QList<QWidget *> images = {ui->m_SingleImageWidget,     ui->m_ImageGraphicsView,    ui->m_NavigationDraw,
                                     ui->m_MultiColorImageWidget, ui->m_ZStackImageWidget,    ui->m_TimeLapseImageWidget,
                                     ui->m_CellCountImageWidget,  ui->m_GrowthMonitorImageWidget};
    for (QWidget *widget : images)
        widget->hide();
    ui->m_SingleWidget->hide();
    ui->m_MoreAppsWidget->hide();
    ui->m_ControlIndicatorWidget->hide();
    for (int m = MENU_MULTICOLOR; m <= MENU_GROWTH_MONITOR; ++m)
        if (m != menu)
            m_Pages[m].page->hide();

    if (menu == MENU_FILE_MANAGER) {
        for (QWidget *widget : {static_cast<QWidget *>(ui->LABEL_IMAGEVIEW_BG), static_cast<QWidget *>(ui->m_VideoWidget),
                                static_cast<QWidget *>(ui->m_ControlWidget), static_cast<QWidget *>(ui->BUTTON_SETTING_MENU)})
            widget->hide();
        ui->m_FileManagerWidget->show();
    } else {
        ui->m_FileManagerWidget->hide();
        ui->LABEL_IMAGEVIEW_BG->show();
        m_Pages[menu].page->show();
        ui->m_ControlWidget->show();
        ui->BUTTON_SETTING_MENU->show();
    }
    qProcessEvents();
}

void NIMBODlg::on_BUTTON_MULTI_COLOR_MENU_clicked() { switchToMode(MENU_MULTICOLOR); }
void NIMBODlg::on_BUTTON_Z_STACK_MENU_clicked() { switchToMode(MENU_ZSTACK); }
void NIMBODlg::on_BUTTON_TIME_LAPSE_MENU_clicked() { switchToMode(MENU_TIMELAPSE); }
void NIMBODlg::on_BUTTON_COUNT_MENU_clicked() { switchToMode(MENU_CELLCOUNT); }
void NIMBODlg::on_BUTTON_MONITOR_MENU_clicked() { switchToMode(MENU_GROWTH_MONITOR); }

void NIMBODlg::switchToMode(TCurrentMenu menu)
{
    ModePage &page = m_Pages[menu];
    if (g_CurrentMenu == menu) {
        page.button->setChecked(true);
        return;
    }
    const bool returning = g_CurrentMenu == MENU_FILE_MANAGER && m_PreviousMenu == menu;
    // Multicolor captures still being auto-saved: their outcome decides whether anything is lost.
    const int holder = isModeMenu(g_CurrentMenu) ? int(g_CurrentMenu) : int(m_PreviousMenu);
    if (m_bCaptured && !m_bSaved && !returning && holder == MENU_MULTICOLOR)
        ui->m_MultiColorWidget->settleAutoSaves(kAutoSaveSettleMs);
    if (m_bCaptured && !m_bSaved && !returning) {
        page.button->setChecked(false);
        MessageDlg question;
        question.setMsgType(MSG_LEAVE_WITHOUT_SAVING);
        if (question.exec() == 0)
            return;
    }
    if (g_CurrentMenu == menu) {
        page.button->setChecked(true);
        return;
    }
    g_CurrentMenu = menu;
    lockMainMenu();
    int &remembered = m_nRememberedState[menu];
    // The Multicolor page is reset before it is shown, the others after.
    if (menu != MENU_MULTICOLOR)
        setWidgetVisibility();
    if (!returning) {
        page.firstTimeReset();
        m_bCaptured = false;
        m_bSaved = false;
        remembered = 0;
    } else if (remembered == 1) {
        remembered = 0;
    }
    if (menu == MENU_MULTICOLOR)
        setWidgetVisibility();

    ControlWidget *panel = ui->m_ControlWidget;
    panel->turnOffLight();
    panel->setControlWidgetState(CONTROL_STATE_OPENED);
    panel->setLiveMode(false);
    page.setState(remembered);
    panel->setFocusMemorySetButtonChecked(false);
}

void NIMBODlg::on_BUTTON_FILEMANAGER_clicked()
{
    if (g_CurrentMenu == MENU_FILE_MANAGER) {
        ui->BUTTON_FILEMANAGER->setChecked(true);
        return;
    }
    m_PreviousMenu = g_CurrentMenu;
    if (isModeMenu(g_CurrentMenu))
        m_nRememberedState[g_CurrentMenu] = m_Pages[g_CurrentMenu].state();
    g_CurrentMenu = MENU_FILE_MANAGER;
    lockMainMenu();
    ui->m_ControlWidget->turnOffLight();
    stopVideoThenContinue();
    ui->m_ControlWidget->setFocusMemorySetButtonChecked(false);
    ui->m_FileManagerWidget->updateDiskSpace(true);
}

// Stops live video; its stop notice (or a direct call when it was not running) carries on in
// slotWaitForVideoWidgetIsStopped.
void NIMBODlg::stopVideoThenContinue()
{
    if (ui->m_VideoWidget->isRunning())
        ui->m_VideoWidget->stop();
    else
        slotWaitForVideoWidgetIsStopped();
}

void NIMBODlg::startVideoFor(const ModePage &page)
{
    if (ui->m_VideoWidget->isRunning())
        page.videoStarted();
    else
        ui->m_VideoWidget->start();
}

void NIMBODlg::stopVideoFor(const ModePage &page)
{
    if (ui->m_VideoWidget->isRunning())
        ui->m_VideoWidget->stop();
    else
        page.videoStopped();
}

void NIMBODlg::setSubWidgetState()
{
    const int menu = g_CurrentMenu;
    if (!isModeMenu(menu))
        return;
    const ModePage &page = m_Pages[menu];
    const int state = page.state();
    int words[6] = {-1, -1, -1, -1, -1, -1};
    words[menu + 1] = state;
    ControlWidget *panel = ui->m_ControlWidget;
    panel->setCurrentMenuState(words[0], words[1], words[2], words[3], words[4], words[5]);

    if (menu == MENU_MULTICOLOR) {
        const bool live = state < 2;
        if (live)
            startVideoFor(page);
        else
            stopVideoFor(page);
        ui->m_VideoWidget->setVisible(live);
        ui->m_ImageGraphicsView->setVisible(!live && state != 3);
        ui->m_NavigationDraw->setVisible(!live && state != 3);
        ui->m_MultiColorImageWidget->setVisible(state == 3);
    } else if (state == 3) {
        panel->setPseudoColorButtonEnabled(false);
        page.page->setEnabled(true);
    } else if (menu == MENU_CELLCOUNT) {
        if (state < 2) {
            ui->m_CellCountImageWidget->clear();
            ui->m_CellCountImageWidget->hide();
            startVideoFor(page);
            ui->m_VideoWidget->show();
        } else if (state == 2) {
            stopVideoFor(page);
            ui->m_VideoWidget->hide();
            ui->m_CellCountImageWidget->show();
            if (ui->m_CellCountWidget->currentMode() == 0)
                panel->setPseudoColorButtonEnabled(false);
        }
    } else {
        QWidget *browser = menu == MENU_ZSTACK     ? static_cast<QWidget *>(ui->m_ZStackImageWidget)
                           : menu == MENU_TIMELAPSE ? static_cast<QWidget *>(ui->m_TimeLapseImageWidget)
                                                    : static_cast<QWidget *>(ui->m_GrowthMonitorImageWidget);
        if (state < 2) {
            ui->LABEL_IMAGEVIEW_BG->show();
            ui->m_ControlWidget->show();
            if (menu == MENU_ZSTACK)
                ui->m_ZStackImageWidget->clear();
            browser->hide();
            ui->m_ControlIndicatorWidget->hide();
            startVideoFor(page);
            ui->m_VideoWidget->show();
        } else if (state == 2) {
            stopVideoFor(page);
            ui->m_VideoWidget->hide();
            ui->LABEL_IMAGEVIEW_BG->hide();
            ui->m_ControlWidget->hide();
            browser->show();
            ui->m_ControlIndicatorWidget->show();
        }
    }
    qProcessEvents();
}

void NIMBODlg::slotEnableControlWidgetUI(bool enable)
{
    ui->m_ControlWidget->setUIControlEnabled(enable, false);
    qProcessEvents();
}

void NIMBODlg::setCaptured(bool captured)
{
    m_bCaptured = captured;
    if (captured)
        ui->m_ControlWidget->slotUpdateCaptureImageMetaData();
}

void NIMBODlg::setSaved(bool saved)
{
    m_bSaved = saved;
}

void NIMBODlg::updateCurrentDateTime(QString date, QString time)
{
    ui->LABEL_DATE->setText(date);
    ui->LABEL_TIME->setText(time);
}

void NIMBODlg::slotSetVideoRunningState(bool run)
{
    VideoWidget *video = ui->m_VideoWidget;
    if (!run) {
        m_bVideoStoppedHere = video->isRunning();
        if (m_bVideoStoppedHere)
            video->stop();
        return;
    }
    if (m_bVideoStoppedHere && !video->isRunning())
        video->start();
    m_bVideoStoppedHere = false;
}

void NIMBODlg::on_BUTTON_SETTING_MENU_clicked()
{
    const TCurrentMenu kept = g_CurrentMenu;
    g_CurrentMenu = MENU_SETTING;
    lockMainMenu();
    setWidgetEnabled(false);

    ControlWidget *panel = ui->m_ControlWidget;
    panel->writeFilterSet();
    panel->setUIControlEnabled(false, true);
    panel->disableLightForOutOfFilterPositionOrPowerOffPopup();
    qProcessEvents();

    SetupDlg *setup = m_pSetupDlg.get();
    setup->readSetting();
    setup->setLiveMode(ui->m_VideoWidget->isRunning());
    setup->setCurrentMenu(kept);
    setup->setEnabled(true);
    if (!m_bSetupDlgConnected) {
        // Made at the first opening only: each date tick and each close request arrives once.
        link(m_pDateTimer.get(), SIGNAL(updateCurrentDateTime(QString,QString)), setup,
             SLOT(updateCurrentDateTime(QString,QString)));
        link(setup, SIGNAL(signalClosingSystem(int)), this, SLOT(slotCloseSystem(int)));
        m_bSetupDlgConnected = true;
    }

    const int cameraMode = panel->currentCameraMode();
    m_pDateTimer->updateDateTime();
    setup->exec();
    const bool cameraModeChanged = setup->isChangedCameraMode();

    if (setup->isSaved()) {
        m_pDateTimer->updateDateTime();
        panel->readSetting();
        panel->setKnobSpeed();
        ui->m_VideoWidget->readSetting();
        m_pScaleBar->readSetting();
        ui->m_MultiColorWidget->readSetting();
        if (panel->currentCameraMode() != cameraMode) {
            const TFilterSet set = panel->currentFilterSet();
            const int(*table)[3] = panel->currentCameraMode() == 8 ? ExposureLUT8 : ExposureLUT16;
            const int row = qBound(0, set.exposure, kExposureRows - 1);
            ui->m_VideoWidget->slotSetCurrentExposure(table[row][0], table[row][1], table[row][2]);
        }
        if (kept == MENU_MULTICOLOR) {
            if (cameraModeChanged) {
                m_Pages[MENU_MULTICOLOR].firstTimeReset();
                m_bCaptured = false;
                m_bSaved = false;
            }
        } else if (isModeMenu(kept)) {
            m_Pages[kept].readSetting();
        }
    }

    const bool live = isModeMenu(kept) && m_Pages[kept].state() < 2;
    g_CurrentMenu = kept;
    panel->setUIControlEnabled(live, true);
    panel->setFocusMemorySetButtonChecked(false);
    setWidgetEnabled(true);
    unlockMainMenu();
}

// ---------------------------------------------------------------------------------------------
// Multicolor image display, scale bar and navigator

void NIMBODlg::setMultiColorImageData(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits,
                                      uchar *shiftedData)
{
    ui->m_ImageGraphicsView->setFilterImageData(bPseudoColor ? pseudoColor : 7, data, bits, 1, false, channel, true,
                                                shiftedData);
    ui->m_MultiColorWidget->changeMeasurementItem(true);
    ui->m_MultiColorWidget->updateMeasurementResultTable(true);
}

void NIMBODlg::changeFilterImageData(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits,
                                     uchar *shiftedData)
{
    ui->m_ImageGraphicsView->setFilterImageData(bPseudoColor ? pseudoColor : 7, data, bits, 1, false, channel, false,
                                                shiftedData);
}

void NIMBODlg::slotMultiColorImageDisplayState(int state)
{
    ui->m_ControlWidget->setPseudoColorButtonEnabled(state != 4);
    const bool tiles = state == 3;
    ui->m_ImageGraphicsView->setVisible(!tiles);
    ui->m_NavigationDraw->setVisible(!tiles);
    ui->m_MultiColorImageWidget->setVisible(tiles);
}

void NIMBODlg::slotSetOverlayImageData(uchar *data, int bits)
{
    ui->m_ImageGraphicsView->setOverlayImageData(data, bits);
    ui->m_MultiColorWidget->changeMeasurementItem(true);
    ui->m_MultiColorWidget->updateMeasurementResultTable(true);
}

void NIMBODlg::slotMouseZoomEvent()
{
    Navigation navigation;
    ui->m_ImageGraphicsView->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
}

void NIMBODlg::slotShowHideNavigation(bool bShow)
{
    ui->m_NavigationDraw->setVisible(bShow);
}

void NIMBODlg::slotSetScaleBar(TSScaleBar scaleBar)
{
    if (g_CurrentMenu == MENU_MULTICOLOR)
        ui->m_ImageGraphicsView->setScaleBar(scaleBar);
}

void NIMBODlg::slotChangeScaleBarSetting(bool resetPosition, int nPostionIndex)
{
    ScaleBar &model = *m_pScaleBar;
    model.m_bReadLensSetting = false;
    model.readSetting();
    model.m_ScaleBarInfo.resetPosition = resetPosition;
    if (resetPosition)
        model.m_ScaleBarInfo.corner = nPostionIndex;
    model.slotShowScaleBar(true);
    model.m_ScaleBarInfo.resetPosition = false;
    model.m_bReadLensSetting = true;
}

void NIMBODlg::slotGetScaleBarPoint()
{
    QPointF point(0, 0);
    ui->m_ImageGraphicsView->getScaleBarPoint(point);
    ui->m_MultiColorWidget->slotSetScaleBarPoint(point);
}

// ---------------------------------------------------------------------------------------------
// The end of a run

void NIMBODlg::on_BUTTON_POWER_clicked()
{
    MessageDlg question;
    question.setMsgType(MSG_SHUT_DOWN);
    lockMainMenu();
    const TCurrentMenu kept = g_CurrentMenu;
    g_CurrentMenu = MENU_POWER;
    ControlWidget *panel = ui->m_ControlWidget;
    panel->setUIControlEnabled(false, true);
    panel->disableLightForOutOfFilterPositionOrPowerOffPopup();
    qProcessEvents();

    if (question.exec() == 1) {
        // No way back: the road goes on when the stage reports it is parked.
        panel->moveZBottomForParking();
        return;
    }
    g_CurrentMenu = kept;
    unlockMainMenu();
    setWidgetEnabled(true);
    panel->setUIControlEnabled(true, true);
    qProcessEvents();
}

// Runs once per run: a second completion (while closing or after the end) does nothing more.
void NIMBODlg::slotParkingCompleted()
{
    if (m_bEnded)
        return;
    if (m_nCloseCode == CLOSE_RESTART) {
        // The clean-up ran before the stage was parked.
        if (!m_bCleanedUp)
            return;
        m_bEnded = true;
        SystemActions::instance().reboot();
        return;
    }
    if (m_bClosing)
        return;
    const QString marker = MediaMonitor::findShellExitMarker();
    beginClose(marker.isEmpty() ? CLOSE_POWER_OFF : CLOSE_EXIT_TO_SHELL);
}

void NIMBODlg::slotCloseSystem(int howto)
{
    if (!m_bClosing)
        beginClose(howto);
}

void NIMBODlg::beginClose(int howto)
{
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_nCloseCode = howto;
    m_bClosing = true;
    stopVideoThenContinue();
}

void NIMBODlg::slotWaitForVideoWidgetIsStopped()
{
    if (m_bClosing) {
        closeRun();
        return;
    }
    if (g_CurrentMenu != MENU_FILE_MANAGER)
        return;
    ui->m_VideoWidget->hide();
    setWidgetEnabled(true);
    setWidgetVisibility();
    ui->m_FileManagerWidget->clear();
    unlockMainMenu();
}

// Live video has stopped on the way out: clean up, then leave as the close code says.
void NIMBODlg::closeRun()
{
    if (m_bCleanedUp)
        return;
    m_bCleanedUp = true;
    for (const char *folder : kWorkFolders)
        deleteTemporaryPath(Paths::path(folder));
    ui->m_ControlWidget->writeFilterSet();
    SystemActions &system = SystemActions::instance();
    system.sync();
    m_pMediaMonitor->m_bStopUpdate = true;
    m_pMediaMonitor->umountAll();

    switch (m_nCloseCode) {
    case CLOSE_EXIT_TO_SHELL:
        m_bEnded = true;
        system.exitProcess(0);
        break;
    case CLOSE_RESTART:
        ui->m_ControlWidget->moveZBottomForParking();
        break;
    case CLOSE_POWER_OFF:
        m_bEnded = true;
        system.powerOff();
        break;
    default:
        break;
    }
}

void NIMBODlg::reject()
{
    if (m_bClosing)
        QDialog::reject();
}

// ---------------------------------------------------------------------------------------------
// Hot-pixel calibration

void NIMBODlg::slotShowHotPixelCorrectionDlg()
{
    m_pHotPixelCalibration->slotShowHotPixelCorrectionDlg();
    m_pSetupDlg->completedHotPixelCorrection();
}
