// The pages, views and dialogs that the main window builds and wires: the few behaviours the main
// window relies on (page state, video wait slots, saved flags) hold. That every connection takes is
// the main window's own check (its failed-connection list, tst_mainwindow_wiring).
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
