// The pages, views and dialogs that the main window builds and wires: every signal and slot it
// connects exists with its exact signature, connections between them succeed, and the few
// behaviours the main window relies on (page state, video wait slots, saved flags) hold.
#include "CellCountImageWidget.h"
#include "CellCountWidget.h"
#include "DialogRunner.h"
#include "ErrorReportDlg.h"
#include "FileManagerWidget.h"
#include "Globals.h"
#include "GrowthMonitorImageWidget.h"
#include "GrowthMonitorWidget.h"
#include "ImageGraphicsView.h"
#include "LicenseAgreementDlg.h"
#include "MoreAppsWidget.h"
#include "MultiColorImageWidget.h"
#include "MultiColorWidget.h"
#include "NavigationDrawWidget.h"
#include "ScaleBar.h"
#include "SetupDlg.h"
#include "SingleImageWidget.h"
#include "SingleWidget.h"
#include "TestRoot.h"
#include "TimeLapseImageWidget.h"
#include "TimeLapseWidget.h"
#include "WelcomeDlg.h"
#include "ZStackImageWidget.h"
#include "ZStackWidget.h"

#include <QSignalSpy>
#include <QtTest>
#include <functional>
#include <memory>

namespace {

// One connection of the main window's wiring. An empty object name stands for a class that is
// not one of these shells (control panel, live video, main window): only the shell's end is
// checked then.
struct Link
{
    const char *sender;
    const char *signal;
    const char *receiver;
    const char *slot;
};

const char *const MC = "m_MultiColorWidget";
const char *const MCI = "m_MultiColorImageWidget";
const char *const IGV = "m_ImageGraphicsView";
const char *const ZS = "m_ZStackWidget";
const char *const ZSI = "m_ZStackImageWidget";
const char *const TL = "m_TimeLapseWidget";
const char *const TLI = "m_TimeLapseImageWidget";
const char *const CC = "m_CellCountWidget";
const char *const CCI = "m_CellCountImageWidget";
const char *const GM = "m_GrowthMonitorWidget";
const char *const GMI = "m_GrowthMonitorImageWidget";
const char *const FM = "m_FileManagerWidget";
const char *const SETUP = "SetupDlg";
const char *const SB = "ScaleBar";
const char *const OUT = "";

const char *const kPages[] = {MC, ZS, TL, CC, GM};

std::vector<Link> wiring()
{
    std::vector<Link> links = {
        // Storage, clock and settings dialog.
        {OUT, "signalRemovedDisk(QString)", FM, "slotRemovedDisk(QString)"},
        {FM, "umountDevice(QString)", OUT, "umountByLabel(QString)"},
        {FM, "signalEnableMainMenu(bool)", OUT, "setCheckedMainMenuButton(bool)"},
        {SETUP, "liveMode(bool)", OUT, "setLiveMode(bool)"},
        {SETUP, "lightOn()", OUT, "turnOnLight()"},
        {SETUP, "lightOff()", OUT, "turnOffLight()"},
        {SETUP, "signalShowHotPixelCorrectionDlg()", OUT, "slotShowHotPixelCorrectionDlg()"},
        {SETUP, "setVideoRunningState(bool)", OUT, "slotSetVideoRunningState(bool)"},
        {SETUP, "signalClosingSystem(int)", OUT, "slotCloseSystem(int)"},
        {OUT, "updateCurrentDateTime(QString,QString)", SETUP, "updateCurrentDateTime(QString,QString)"},
        // Control panel to the pages.
        {OUT, "changeLensPosition(int)", SB, "setCurrentObjectiveLensPosition(int)"},
        {OUT, "signalChangeExposure(int)", TL, "changedExposure(int)"},
        {OUT, "signalChangeExposure(int)", CC, "changedExposure(int)"},
        {OUT, "signalUpdatePos(int)", ZS, "slotUpdatePos(int)"},
        {OUT, "signalCurrentMotorPosition(int)", ZS, "slotSetCurrentMotorPosition(int)"},
        {OUT, "signalCurrentMotorPosition(int)", TL, "slotSetCurrentMotorPosition(int)"},
        {OUT, "signalMotorMovedStartPosition()", ZS, "slotMotorMovedStartPosition()"},
        {OUT, "signalMotorMoved()", ZS, "slotMotorMoved()"},
        {OUT, "signalMotorMoved()", CC, "slotMotorMoved()"},
        {OUT, "signalStartZPositioningCompleted()", ZS, "slotStartZPositioningCompleted()"},
        {OUT, "completeTimeLapseAF(int,bool,TFineAFErrTable)", TL, "slotCompleteTimeLapseAF(int,bool,TFineAFErrTable)"},
        {OUT, "sendAFData(int,int,double)", TL, "slotsaveAFData(int,int,double)"},
        {OUT, "completeCellCountAF(bool,TFineAFErrTable)", CC, "slotCompleteCellCountAF(bool,TFineAFErrTable)"},
        // Live video to the pages.
        {OUT, "grabbed(uchar*,int)", TL, "slotGrabbed(uchar*,int)"},
        {OUT, "signalCameraModeChanged(int)", MC, "slotChangeCameraMode(int)"},
        {OUT, "signalCameraModeChanged(int)", GM, "slotChangeCameraMode(int)"},
        {OUT, "signalCameraModeChanged(int)", CC, "slotChangeCameraMode(int)"},
        // Scale-bar model.
        {SB, "signalShowScaleBar(TSScaleBar)", MCI, "setScaleBar(TSScaleBar)"},
        {SB, "signalShowScaleBar(TSScaleBar)", ZSI, "setScaleBar(TSScaleBar)"},
        {SB, "signalShowScaleBar(TSScaleBar)", TLI, "setScaleBar(TSScaleBar)"},
        {SB, "signalShowScaleBar(TSScaleBar)", CCI, "setScaleBar(TSScaleBar)"},
        {SB, "signalShowScaleBar(TSScaleBar)", GMI, "setScaleBar(TSScaleBar)"},
        {SB, "signalPixelSizeChanged(float)", MC, "slotCurrentPixelSize(float)"},
        {IGV, "changeScaleBarSetting(bool,int)", OUT, "slotChangeScaleBarSetting(bool,int)"},
        {ZSI, "signalChangeScaleBarSetting(bool,int)", OUT, "slotChangeScaleBarSetting(bool,int)"},
        {TLI, "signalChangeScaleBarSetting(bool,int)", OUT, "slotChangeScaleBarSetting(bool,int)"},
        {CCI, "signalChangeScaleBarSetting(bool,int)", OUT, "slotChangeScaleBarSetting(bool,int)"},
        {GMI, "signalChangeScaleBarSetting(bool,int)", OUT, "slotChangeScaleBarSetting(bool,int)"},
        // Pages with some of the panel's requests.
        {ZS, "setVideoRunningState(bool)", OUT, "slotSetVideoRunningState(bool)"},
        {TL, "setVideoRunningState(bool)", OUT, "slotSetVideoRunningState(bool)"},
        {GM, "setVideoRunningState(bool)", OUT, "slotSetVideoRunningState(bool)"},
        {ZS, "changeHotpixelEnabled(bool)", OUT, "slotChangeHotpixelEnabled(bool)"},
        {TL, "changeHotpixelEnabled(bool)", OUT, "slotChangeHotpixelEnabled(bool)"},
        {ZS, "signalEnablePullingCommand(bool)", OUT, "enablePullingCommand(bool)"},
        {TL, "signalEnablePullingCommand(bool)", OUT, "enablePullingCommand(bool)"},
        {ZS, "signalGetCurrentMotorPosition()", OUT, "slotGetCurrentMotorPosition()"},
        {TL, "signalGetCurrentMotorPosition()", OUT, "slotGetCurrentMotorPosition()"},
        {ZS, "signalMoveMotorPosition(int,bool)", OUT, "slotMoveMotorPosition(int,bool)"},
        {TL, "signalMoveMotorPosition(int,bool)", OUT, "slotMoveMotorPosition(int,bool)"},
        {CC, "signalMoveMotorPosition(int,bool)", OUT, "slotMoveMotorPosition(int,bool)"},
        // The Multicolor page with its view and tile view.
        {MC, "updateCaptureImageMetaData()", OUT, "slotUpdateCaptureImageMetaData()"},
        {MC, "measurementToolChanged(int)", IGV, "setCurrentMeasurementTool(int)"},
        {MC, "currentLineColorChanged(QColor)", IGV, "setCurrentLineColor(QColor)"},
        {MC, "currentLineThicknessChanged(int)", IGV, "setCurrentLineThickness(int)"},
        {MC, "currentFontColorChanged(QColor)", IGV, "setCurrentFontColor(QColor)"},
        {MC, "currentFontThicknessChanged(int)", IGV, "setCurrentFontThickness(int)"},
        {MC, "signalMakeAnnotationImageData(bool)", IGV, "slotMakeAnnotationImageData(bool)"},
        {MC, "showAnnotation(bool)", IGV, "slotShowAnnotation(bool)"},
        {MC, "setCurrentSelectedItem(uint)", IGV, "slotSetCurrentSelectedItem(uint)"},
        {MC, "deleteItem(uint)", IGV, "slotDeleteItem(uint)"},
        {MC, "signalCalcMeasurementItem(uint,TMeasurementTool)", IGV, "slotCalcMeasurementItem(uint,TMeasurementTool)"},
        {MC, "recalcMeasurementItem(uint,TMeasurementTool)", IGV, "slotRecalcMeasurementItem(uint,TMeasurementTool)"},
        {MC, "getSelectedDiagramItemKeyList()", IGV, "slotGetSelectedDiagramItemKeyList()"},
        {MC, "signalClearCapturedImage()", MCI, "slotClearCapturedImage()"},
        {MC, "signalClearCapturedImage()", IGV, "slotClearCapturedImage()"},
        {MC, "imageCapturedTile(int,int,void*,bool,int,int)", MCI, "setImageData(int,int,void*,bool,int,int)"},
        {MC, "brightnessChangedTile(int,int,void*,bool,int,int)", MCI, "setImageData(int,int,void*,bool,int,int)"},
        {MC, "contrastChangedTile(int,int,void*,bool,int,int)", MCI, "setImageData(int,int,void*,bool,int,int)"},
        {MC, "signalResetImageTile(int,int,void*,bool,int)", MCI, "slotResetImage(int,int,void*,bool,int)"},
        {MC, "imageDisplayStateChanged(int)", MCI, "setImageDisplayState(int)"},
        {MC, "imageDisplayStateChanged(int)", OUT, "slotMultiColorImageDisplayState(int)"},
        {MC, "imageCaptured(int,int,void*,bool,int,uchar*)", OUT, "setMultiColorImageData(int,int,void*,bool,int,uchar*)"},
        {MC, "brightnessChanged(int,int,void*,bool,int,uchar*)", OUT, "changeFilterImageData(int,int,void*,bool,int,uchar*)"},
        {MC, "contrastChanged(int,int,void*,bool,int,uchar*)", OUT, "changeFilterImageData(int,int,void*,bool,int,uchar*)"},
        {MC, "overlayImageChanged(uchar*,int)", OUT, "slotSetOverlayImageData(uchar*,int)"},
        {MC, "getScaleBarPoint()", OUT, "slotGetScaleBarPoint()"},
        {MCI, "displayFullImageSelected(int,int)", MC, "setDisplayImageState(int,int)"},
        {IGV, "measurementResultChanged(TSMeasurementItem&,bool)", MC, "setMeasurementResult(TSMeasurementItem&,bool)"},
        {IGV, "overlayMeasurementResultChanged(TSMeasurementItem&,int)", MC, "setOverlayMeasurementResult(TSMeasurementItem&,int)"},
        {IGV, "currentImagePositionAndIntensity(QPoint,int,int)", MC, "setCurrentImagePositionAndIntensity(QPoint,int,int)"},
        {IGV, "unselectAll()", MC, "slotUpdateImageHistogram()"},
        {IGV, "signalSendAnnotationImageData(bool,uchar*,int,bool,bool)", MC, "slotSave(bool,uchar*,int,bool,bool)"},
        {IGV, "changeCurrentSelectedItem(uint,bool,bool)", MC, "slotChangeCurrentSelectedItem(uint,bool,bool)"},
        {IGV, "deletedItem(uint)", MC, "slotDeletedItem(uint)"},
        {IGV, "changeMeasurementResultTable(uint,std::vector<TSMeasurementItem>&)", MC,
         "slotChangeMeasurementResultTable(uint,std::vector<TSMeasurementItem>&)"},
        {IGV, "setSelectedDiagramItemKeyList(QVector<uint>&)", MC, "slotSetSelectedDiagramItemKeyList(QVector<uint>&)"},
        {IGV, "showNavigation(bool)", OUT, "slotShowHideNavigation(bool)"},
        {IGV, "signalMouseZoomEvent()", OUT, "slotMouseZoomEvent()"},
        // The Z-stack page with its slice browser and the panel.
        {ZS, "signalSetMotorSpeedAndStartZPosition(int,int)", OUT, "slotSetMotorSpeedAndStartZPosition(int,int)"},
        {ZS, "signalStartZStacking()", OUT, "slotStartZStacking()"},
        {ZS, "signalEndZStacking()", OUT, "slotEndZStacking()"},
        {ZS, "completed(std::vector<ThumbnailInfo>&)", ZSI, "loadThumbnail(std::vector<ThumbnailInfo>&)"},
        {ZS, "signalChangeCurrentThumbnailIndex(int)", ZSI, "changedCurrentIndex(int)"},
        {ZS, "completedFullFocus(bool,ThumbnailInfo&)", ZSI, "loadFullThumbnail(bool,ThumbnailInfo&)"},
        {ZS, "getScaleBarPoint()", ZSI, "slotGetScaleBarPoint()"},
        {ZS, "enableAnnotation(bool)", ZSI, "slotEnableAnnotation(bool)"},
        {ZS, "getAnnotationTextInfo()", ZSI, "slotGetAnnotationTextInfo()"},
        {ZS, "createFullFocusImage()", ZSI, "slotCreateFullFocusImage()"},
        {ZS, "saveVideo()", ZSI, "slotSaveVideo()"},
        {ZSI, "changeCurrentIndex(int)", ZS, "slotChangedCurrentThumbnailIndex(int)"},
        {ZSI, "setScaleBarPoint(QPointF)", ZS, "slotSetScaleBarPoint(QPointF)"},
        {ZSI, "setAnnotationTextInfo(TAnnotationTextInfo)", ZS, "slotSetAnnotationTextInfo(TAnnotationTextInfo)"},
        {ZSI, "deleteThumbnail(int)", ZS, "slotDeleteThumbnail(int)"},
        // The Time lapse page with its browser, the panel and the live video.
        {TL, "TimeLapseAF()", OUT, "slotTimeLapseAF()"},
        {TL, "grabOne()", OUT, "slotGrabOne()"},
        {TL, "startRecording(bool,QString)", OUT, "slotStartRecording(bool,QString)"},
        {TL, "completed(std::vector<ThumbnailInfo>&,bool)", TLI, "loadThumbnail(std::vector<ThumbnailInfo>&,bool)"},
        {TL, "getScaleBarPoint()", TLI, "slotGetScaleBarPoint()"},
        {TL, "enableAnnotation(bool)", TLI, "slotEnableAnnotation(bool)"},
        {TL, "getAnnotationTextInfo()", TLI, "slotGetAnnotationTextInfo()"},
        {TL, "saveVideo()", TLI, "slotSaveVideo()"},
        {TLI, "setScaleBarPoint(QPointF)", TL, "slotSetScaleBarPoint(QPointF)"},
        {TLI, "setAnnotationTextInfo(TAnnotationTextInfo)", TL, "slotSetAnnotationTextInfo(TAnnotationTextInfo)"},
        {TLI, "deleteThumbnail(int)", TL, "slotDeleteThumbnail(int)"},
        {TLI, "setEnableControlState(bool)", TL, "slotSetEnableControlState(bool)"},
        {TLI, "signalEnableMainMenu(bool)", OUT, "setCheckedMainMenuButton(bool)"},
        // The Cell count and Growth monitor pages with their viewers and the panel.
        {CC, "lightPower(int,int,int)", OUT, "changeLightPower(int,int,int)"},
        {CC, "setGainExposureControlEnabled(bool)", OUT, "slotSetGainExposureControlEnabled(bool)"},
        {CC, "cellCountAF()", OUT, "slotCellCountAF()"},
        {CC, "completed(std::vector<ThumbnailInfo>&)", CCI, "loadThumbnail(std::vector<ThumbnailInfo>&)"},
        {CC, "signalChangeCurrentThumbnailIndex(int)", CCI, "changedCurrentIndex(int)"},
        {CC, "measurementToolChanged(int)", CCI, "setCurrentMeasurementTool(int)"},
        {CC, "getCurrentImageData()", CCI, "slotGetCurrentImageData()"},
        {CC, "showTagImage(bool,bool)", CCI, "slotShowTagImage(bool,bool)"},
        {CCI, "changeCurrentIndex(int)", CC, "slotChangedCurrentThumbnailIndex(int)"},
        {CCI, "measurementResultChanged(TSMeasurementItem&)", CC, "setMeasurementResult(TSMeasurementItem&)"},
        {CCI, "generateImageData(QImage)", CC, "slotGenerateImageData(QImage)"},
        {GM, "completed(std::vector<ThumbnailInfo>&,int)", GMI, "loadThumbnail(std::vector<ThumbnailInfo>&,int)"},
        {GM, "signalChangeCurrentThumbnailIndex(int)", GMI, "changedCurrentIndex(int)"},
        {GMI, "changeCurrentIndex(int)", GM, "slotChangedCurrentThumbnailIndex(int)"},
    };

    // Rows every acquisition page has alike.
    for (const char *page : kPages) {
        for (const char *signal : {"changedState()", "capture()", "lightOn()", "lightOff()", "liveMode(bool)",
                                   "signalEnableMainMenu(bool)", "signalEnableControlWidgetUI(bool)", "captured(bool)",
                                   "saved(bool)"})
            links.push_back({page, signal, OUT, ""});
        links.push_back({page, "signalShowScaleBar(bool)", SB, "slotShowScaleBar(bool)"});
        links.push_back({SB, "signalShowScaleBar(TSScaleBar)", page, "slotScaleBarCheckBoxState(TSScaleBar)"});
        for (const char *slot : {"setCurrentFilterPosition(int)", "setCurrentObjectiveLensPosition(int)",
                                 "setPseudoColor(bool,int,int)", "slotLEDState(bool)", "captureCompleted(uchar*,int)",
                                 "slotWaitForVideoWidgetIsStarted()", "slotWaitForVideoWidgetIsStopped()"})
            links.push_back({OUT, "", page, slot});
    }
    for (const char *browser : {ZSI, CCI, GMI, TLI})
        links.push_back({OUT, "pseudoColorEnabled(bool,int,int)", browser, "setPseudoColor(bool,int,int)"});
    return links;
}

// A dialog script that presses one button.
DialogRunner::Script clickScript(const char *button)
{
    return [button](QDialog *d) { return DialogRunner::showAndRun(d, [button](QDialog *shown) { DialogRunner::click(shown, button); }); };
}

} // namespace

// Records, in order, the notices a page sends the main window.
class Recorder : public QObject
{
    Q_OBJECT
public:
    QStringList seen;
    std::function<int()> readState;

public slots:
    void ui(bool on) { seen << QString("ui %1").arg(on); }
    void menu(bool on) { seen << QString("menu %1").arg(on); }
    void state() { seen << QString("state %1").arg(readState()); }
};

class TestShells : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void wiring_data();
    void wiring();
    void pagesPaintTheirStyleSheetBackground();
    void pageStateIsReportedOnEverySet();
    void videoWaitSlotsActOnlyOnTheirOwnScreen_data();
    void videoWaitSlotsActOnlyOnTheirOwnScreen();
    void clearingTheMulticolorPageReportsNothingCapturedOrSaved();
    void navigationFollowsTheView();
    void settingsDialogIsSavedOnlyThroughOk();
    void welcomeScreenRemembersTheCheckBox();
    void agreementButtonAccepts();
    void errorReportFindsAndRemovesOnlyMarkers();

private:
    QObject *object(const char *name) const { return m_Objects.value(QString::fromLatin1(name)); }

    std::unique_ptr<TestRoot> m_Root;
    std::unique_ptr<QWidget> m_Window;
    std::unique_ptr<SetupDlg> m_Setup;
    std::unique_ptr<ScaleBar> m_ScaleBar;
    QHash<QString, QObject *> m_Objects;
};

void TestShells::initTestCase()
{
    m_Root = std::make_unique<TestRoot>();
    m_Window = std::make_unique<QWidget>();
    m_Window->resize(1920, 1080);
    auto add = [this](QWidget *widget, const char *name, const QRect &geometry) {
        widget->setObjectName(name);
        widget->setGeometry(geometry);
        m_Objects.insert(name, widget);
    };
    QWidget *w = m_Window.get();
    add(new ZStackWidget(w), ZS, {1542, 60, 378, 1020});
    add(new TimeLapseWidget(w), TL, {1542, 60, 378, 1020});
    add(new SingleWidget(w), "m_SingleWidget", {1542, 60, 378, 1020});
    add(new MultiColorWidget(w), MC, {1542, 60, 378, 1020});
    add(new FileManagerWidget(w), FM, {0, 60, 1920, 1020});
    add(new MoreAppsWidget(w), "m_MoreAppsWidget", {0, 60, 1920, 1020});
    add(new SingleImageWidget(w), "m_SingleImageWidget", {10, 70, 1272, 1000});
    add(new TimeLapseImageWidget(w), TLI, {0, 60, 1495, 1020});
    add(new MultiColorImageWidget(w), MCI, {10, 70, 1272, 1000});
    add(new ZStackImageWidget(w), ZSI, {0, 60, 1495, 1020});
    add(new ImageGraphicsView(w), IGV, {10, 70, 1272, 1000});
    add(new NavigationDrawWidget(w), "m_NavigationDraw", {10, 70, 100, 80});
    add(new CellCountImageWidget(w), CCI, {10, 70, 1272, 1000});
    add(new CellCountWidget(w), CC, {1542, 60, 378, 1020});
    add(new GrowthMonitorWidget(w), GM, {1542, 60, 378, 1020});
    add(new GrowthMonitorImageWidget(w), GMI, {0, 60, 1495, 1020});
    m_Setup = std::make_unique<SetupDlg>();
    m_ScaleBar = std::make_unique<ScaleBar>();
    m_Objects.insert(SETUP, m_Setup.get());
    m_Objects.insert(SB, m_ScaleBar.get());
}

void TestShells::cleanupTestCase()
{
    m_Objects.clear();
    m_Window.reset();
    m_Setup.reset();
    m_ScaleBar.reset();
    m_Root.reset();
}

void TestShells::init()
{
    DialogRunner::clearScripts();
    g_CurrentMenu = MENU_MULTICOLOR;
}

void TestShells::wiring_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("receiver");
    QTest::addColumn<QString>("slot");
    for (const Link &link : ::wiring()) {
        const QByteArray name = QByteArray(*link.sender ? link.sender : "*") + "::" + link.signal + " -> " +
                                (*link.receiver ? link.receiver : "*") + "::" + link.slot;
        QTest::newRow(name.constData()) << link.sender << link.signal << link.receiver << link.slot;
    }
}

// Each end that is one of these classes has the signature exactly; where both are, the
// connection is made.
void TestShells::wiring()
{
    QFETCH(QString, sender);
    QFETCH(QString, signal);
    QFETCH(QString, receiver);
    QFETCH(QString, slot);
    QObject *from = sender.isEmpty() ? nullptr : m_Objects.value(sender);
    QObject *to = receiver.isEmpty() ? nullptr : m_Objects.value(receiver);
    QVERIFY2(sender.isEmpty() || from, qPrintable(sender));
    QVERIFY2(receiver.isEmpty() || to, qPrintable(receiver));

    const QByteArray signalSig = QMetaObject::normalizedSignature(signal.toLatin1().constData());
    const QByteArray slotSig = QMetaObject::normalizedSignature(slot.toLatin1().constData());
    QCOMPARE(signalSig, signal.toLatin1()); // the table is written as the toolkit normalises it
    QCOMPARE(slotSig, slot.toLatin1());
    if (from)
        QVERIFY2(from->metaObject()->indexOfSignal(signalSig) >= 0, signalSig.constData());
    if (to)
        QVERIFY2(to->metaObject()->indexOfSlot(slotSig) >= 0 || to->metaObject()->indexOfSignal(slotSig) >= 0,
                 slotSig.constData());
    if (from && to) {
        const QMetaObject::Connection c =
                QObject::connect(from, ("2" + signalSig).constData(), to, ("1" + slotSig).constData());
        QVERIFY(c);
        QObject::disconnect(c);
    }
}

void TestShells::pagesPaintTheirStyleSheetBackground()
{
    // The main window sets the page backgrounds by style sheet: the pages paint them.
    for (const char *page : {MC, ZS, TL, CC, GM, "m_SingleWidget", ZSI, TLI, GMI})
        QVERIFY2(static_cast<QWidget *>(object(page))->testAttribute(Qt::WA_StyledBackground), page);
}

void TestShells::pageStateIsReportedOnEverySet()
{
    auto *mc = static_cast<MultiColorWidget *>(object(MC));
    auto *zs = static_cast<ZStackWidget *>(object(ZS));
    auto *tl = static_cast<TimeLapseWidget *>(object(TL));
    auto *cc = static_cast<CellCountWidget *>(object(CC));
    auto *gm = static_cast<GrowthMonitorWidget *>(object(GM));
    QCOMPARE(int(mc->currentState()), 0);
    QCOMPARE(int(zs->currentState()), 0);
    QCOMPARE(int(tl->currentState()), 0);
    QCOMPARE(int(cc->currentState()), 0);
    QCOMPARE(int(gm->currentState()), 0);

    // The main window switches live video on the report, so even an unchanged state is reported,
    // and the new state is readable when the report arrives.
    auto check = [](QObject *page, auto set, auto get) {
        Recorder recorder;
        recorder.readState = get;
        QVERIFY(QObject::connect(page, SIGNAL(changedState()), &recorder, SLOT(state())));
        for (int state : {3, 2, 2, 0})
            set(state);
        QCOMPARE(recorder.seen, QStringList({"state 3", "state 2", "state 2", "state 0"}));
    };
    check(mc, [&](int s) { mc->setCurrentState(TMultiState(s)); }, [&] { return int(mc->currentState()); });
    check(zs, [&](int s) { zs->setCurrentState(TZStackState(s)); }, [&] { return int(zs->currentState()); });
    check(tl, [&](int s) { tl->setCurrentState(TTimeLapseState(s)); }, [&] { return int(tl->currentState()); });
    check(cc, [&](int s) { cc->setCurrentState(TCellCountState(s)); }, [&] { return int(cc->currentState()); });
    check(gm, [&](int s) { gm->setCurrentState(TGrowthMonitorState(s)); }, [&] { return int(gm->currentState()); });
}

void TestShells::videoWaitSlotsActOnlyOnTheirOwnScreen_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("menu");
    QTest::addColumn<bool>("uiOnStop"); // the cell count page re-enables the panel on a stop too
    QTest::newRow("Multicolor") << MC << 0 << false;
    QTest::newRow("Z-stack") << ZS << 1 << false;
    QTest::newRow("Time lapse") << TL << 2 << false;
    QTest::newRow("Cell count") << CC << 3 << true;
    QTest::newRow("Growth monitor") << GM << 4 << false;
}

void TestShells::videoWaitSlotsActOnlyOnTheirOwnScreen()
{
    QFETCH(QString, page);
    QFETCH(int, menu);
    QFETCH(bool, uiOnStop);
    QObject *p = m_Objects.value(page);
    Recorder recorder;
    QVERIFY(QObject::connect(p, SIGNAL(signalEnableControlWidgetUI(bool)), &recorder, SLOT(ui(bool))));
    QVERIFY(QObject::connect(p, SIGNAL(signalEnableMainMenu(bool)), &recorder, SLOT(menu(bool))));

    // Another screen, the power question, the settings dialog, the autofocus: nothing.
    for (int other : {0, 1, 2, 3, 4, 5, 7, 8, 9}) {
        if (other == menu)
            continue;
        g_CurrentMenu = TCurrentMenu(other);
        QVERIFY(QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStarted"));
        QVERIFY(QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStopped"));
    }
    QVERIFY(recorder.seen.isEmpty());

    g_CurrentMenu = TCurrentMenu(menu);
    QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStarted");
    QCOMPARE(recorder.seen, QStringList({"ui 1", "menu 1"})); // the panel first, then the main menu
    recorder.seen.clear();
    QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStopped");
    QCOMPARE(recorder.seen, uiOnStop ? QStringList({"ui 1", "menu 1"}) : QStringList({"menu 1"}));
}

void TestShells::clearingTheMulticolorPageReportsNothingCapturedOrSaved()
{
    auto *mc = static_cast<MultiColorWidget *>(object(MC));
    QStringList order;
    auto a = connect(mc, &MultiColorWidget::captured, this, [&](bool v) { order << QString("captured %1").arg(v); });
    auto b = connect(mc, &MultiColorWidget::saved, this, [&](bool v) { order << QString("saved %1").arg(v); });
    mc->clear();
    disconnect(a);
    disconnect(b);
    QCOMPARE(order, QStringList({"captured 0", "saved 0"}));
}

void TestShells::navigationFollowsTheView()
{
    auto *view = static_cast<ImageGraphicsView *>(object(IGV));
    auto *navigator = static_cast<NavigationDrawWidget *>(object("m_NavigationDraw"));
    view->initNavigation(view->width(), view->height());
    Navigation record;
    view->getNavigation(record);
    QCOMPARE(record.displaySize, QSize(1272, 1000));
    QCOMPARE(record.position, QPointF(0, 0));
    navigator->setNavigation(record);
    QCOMPARE(navigator->navigation().displaySize, record.displaySize);

    // A size that is not positive takes the viewport's.
    view->initNavigation(0, -1);
    view->getNavigation(record);
    QCOMPARE(record.displaySize, view->viewport()->size());
}

void TestShells::settingsDialogIsSavedOnlyThroughOk()
{
    SetupDlg dialog;
    DialogRunner::pushScript(clickScript("BUTTON_OK"));
    dialog.readSetting();
    dialog.exec();
    QVERIFY(dialog.isSaved());
    QVERIFY(!dialog.isChangedCameraMode());

    // Each opening reloads and so forgets the last outcome; Cancel saves nothing.
    dialog.readSetting();
    QVERIFY(!dialog.isSaved());
    DialogRunner::pushScript(clickScript("BUTTON_CANCEL"));
    dialog.exec();
    QVERIFY(!dialog.isSaved());

    // Escape or a scripted reject is no OK either.
    dialog.readSetting();
    DialogRunner::pushScript([](QDialog *d) { return DialogRunner::showAndRun(d, [](QDialog *shown) { shown->reject(); }); });
    dialog.exec();
    QVERIFY(!dialog.isSaved());
}

void TestShells::welcomeScreenRemembersTheCheckBox()
{
    WelcomeDlg dialog;
    QVERIFY(!dialog.m_bDontShowAgain);
    DialogRunner::pushScript([](QDialog *d) {
        return DialogRunner::showAndRun(d, [](QDialog *shown) {
            for (int click = 0; click < 3; ++click)
                DialogRunner::click(shown, "CEHCKBOX");
            DialogRunner::click(shown, "BUTTON_CLOSE");
        });
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(dialog.m_bDontShowAgain);

    WelcomeDlg unticked;
    DialogRunner::pushScript(clickScript("BUTTON_CLOSE"));
    unticked.exec();
    QVERIFY(!unticked.m_bDontShowAgain);
}

void TestShells::agreementButtonAccepts()
{
    for (bool firstRun : {true, false}) {
        LicenseAgreementDlg dialog(firstRun);
        auto *button = dialog.findChild<QPushButton *>("BUTTON_ACCEPT");
        QVERIFY(button);
        QCOMPARE(button->text(), firstRun ? QString("Accept") : QString("Close"));
        DialogRunner::pushScript(clickScript("BUTTON_ACCEPT"));
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    }
}

void TestShells::errorReportFindsAndRemovesOnlyMarkers()
{
    TestRoot root;
    ErrorReportDlg dialog;
    QList<QFileInfo> list{QFileInfo("stale")};
    QVERIFY(!dialog.checkErrorReport(list, true));
    QVERIFY(list.isEmpty());

    root.writeFile("/root/exist.error", "stamp\n");
    root.writeFile("/root/exist.error.1", "stamp\n");
    root.writeFile("/root/vantor.error", "stamp\nframe\n");
    root.writeFile("/root/my.exist.error", "not a marker\n");
    root.makeDir("/root/exist.error.d"); // a folder is never a marker
    QVERIFY(dialog.checkErrorReport(list, true));
    QStringList names;
    for (const QFileInfo &info : list)
        names << info.fileName();
    names.sort();
    QCOMPARE(names, QStringList({"exist.error", "exist.error.1"}));
    QVERIFY(dialog.checkErrorReport(list, false));
    QCOMPARE(list.size(), 1);

    dialog.setState(ErrorReportDlg::STEP_QUESTION);
    QCOMPARE(dialog.state(), ErrorReportDlg::STEP_QUESTION);
    dialog.removeDetectionFiles();
    QVERIFY(!dialog.checkErrorReport(list, true));
    QVERIFY(QFile::exists(root.path() + "/root/vantor.error")); // reports stay for the copy
    QVERIFY(QFile::exists(root.path() + "/root/my.exist.error"));
    QVERIFY(QDir(root.path() + "/root/exist.error.d").exists());

    // Cancel closes the dialog.
    DialogRunner::pushScript(clickScript("BUTTON_CANCEL"));
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

QTEST_MAIN(TestShells)
#include "tst_shells.moc"
