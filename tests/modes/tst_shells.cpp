// The pages, views and dialogs that the main window builds and wires: the few behaviours the main
// window relies on (page state, video wait slots, saved flags, dialog outcomes) hold.
#include "CellCountWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "ErrorReportDlg.h"
#include "Globals.h"
#include "GrowthMonitorImageWidget.h"
#include "GrowthMonitorWidget.h"
#include "LicenseAgreementDlg.h"
#include "MultiColorWidget.h"
#include "SetupDlg.h"
#include "SingleWidget.h"
#include "TestRoot.h"
#include "TimeLapseImageWidget.h"
#include "TimeLapseWidget.h"
#include "WelcomeDlg.h"
#include "ZStackImageWidget.h"
#include "ZStackWidget.h"

#include <QtTest>
#include <functional>
#include <memory>

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

    TestRoot m_root;
    MultiColorWidget m_mc;
    ZStackWidget m_zs;
    TimeLapseWidget m_tl;
    CellCountWidget m_cc;
    GrowthMonitorWidget m_gm;

    // The five mode pages by menu, with their state setter and getter.
    struct Page
    {
        QObject *page;
        std::function<void(int)> set;
        std::function<int()> get;
    };
    template <class W>
    static Page pageOf(W &w)
    {
        using State = decltype(w.currentState());
        return {&w, [&w](int s) { w.setCurrentState(State(s)); }, [&w] { return int(w.currentState()); }};
    }
    Page page(int menu)
    {
        const Page pages[] = {pageOf(m_mc), pageOf(m_zs), pageOf(m_tl), pageOf(m_cc), pageOf(m_gm)};
        return pages[menu];
    }

    static void addPages()
    {
        QTest::addColumn<int>("menu");
        QTest::addColumn<bool>("uiOnStop"); // whether a page re-enables the panel on a stop too
        QTest::newRow("Multicolor") << 0 << false;
        QTest::newRow("Z-stack") << 1 << false;
        QTest::newRow("Time lapse") << 2 << false;
        QTest::newRow("Cell count") << 3 << false;
        QTest::newRow("Growth monitor") << 4 << false;
    }

private slots:
    void init()
    {
        DialogRunner::clearScripts();
        g_CurrentMenu = MENU_MULTICOLOR;
    }

    void pagesPaintTheirStyleSheetBackground()
    {
        // The main window sets the page backgrounds by style sheet: the pages paint them.
        SingleWidget single;
        ZStackImageWidget zsi;
        TimeLapseImageWidget tli;
        GrowthMonitorImageWidget gmi;
        for (QWidget *w : std::initializer_list<QWidget *>{&m_mc, &m_zs, &m_tl, &m_cc, &m_gm, &single, &zsi, &tli, &gmi})
            QVERIFY2(w->testAttribute(Qt::WA_StyledBackground), w->metaObject()->className());
    }

    // The main window switches live video on the report, so even an unchanged state is reported,
    // and the new state is readable when the report arrives.
    void pageStateIsReportedOnEverySet_data() { addPages(); }
    void pageStateIsReportedOnEverySet()
    {
        QFETCH(int, menu);
        Page p = page(menu);
        QCOMPARE(p.get(), menu == 0 ? 2 : 0); // the Multicolor page shows a channel until it is set
        Recorder recorder;
        recorder.readState = p.get;
        QVERIFY(QObject::connect(p.page, SIGNAL(changedState()), &recorder, SLOT(state())));
        for (int state : {3, 2, 2, 0})
            p.set(state);
        QCOMPARE(recorder.seen, QStringList({"state 3", "state 2", "state 2", "state 0"}));
    }

    // The video wait slots act only on their own screen: at a start the main menu first, then the
    // panel, whose unlock hands out the taps made while the start waited.
    void videoWaitSlotsActOnlyOnTheirOwnScreen_data() { addPages(); }
    void videoWaitSlotsActOnlyOnTheirOwnScreen()
    {
        QFETCH(int, menu);
        QFETCH(bool, uiOnStop);
        QObject *p = page(menu).page;
        Recorder recorder;
        QVERIFY(QObject::connect(p, SIGNAL(signalEnableControlWidgetUI(bool)), &recorder, SLOT(ui(bool))));
        QVERIFY(QObject::connect(p, SIGNAL(signalEnableMainMenu(bool)), &recorder, SLOT(menu(bool))));
        // Another screen, the power question, the settings dialog, the autofocus: nothing.
        for (int other : {0, 1, 2, 3, 4, 5, 7, 8, 9}) {
            g_CurrentMenu = TCurrentMenu(other);
            if (other != menu) {
                QVERIFY(QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStarted"));
                QVERIFY(QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStopped"));
            }
        }
        QVERIFY(recorder.seen.isEmpty());
        g_CurrentMenu = TCurrentMenu(menu);
        QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStarted");
        QCOMPARE(recorder.seen, QStringList({"menu 1", "ui 1"}));
        recorder.seen.clear();
        QMetaObject::invokeMethod(p, "slotWaitForVideoWidgetIsStopped");
        QCOMPARE(recorder.seen, uiOnStop ? QStringList({"ui 1", "menu 1"}) : QStringList({"menu 1"}));
    }

    void clearingTheMulticolorPageReportsNothingCapturedOrSaved()
    {
        QStringList order;
        auto a = connect(&m_mc, &MultiColorWidget::captured, this, [&](bool v) { order << QString("captured %1").arg(v); });
        auto b = connect(&m_mc, &MultiColorWidget::saved, this, [&](bool v) { order << QString("saved %1").arg(v); });
        m_mc.clear();
        disconnect(a);
        disconnect(b);
        QCOMPARE(order, QStringList({"captured 0", "saved 0"}));
    }

    // Only OK saves the settings; each opening forgets the last outcome.
    void settingsDialogIsSavedOnlyThroughOk()
    {
        SetupDlg dialog;
        for (const char *button : {"BUTTON_OK", "BUTTON_CANCEL", "", "BUTTON_OK"}) {
            dialog.readSetting();
            dialog.setEnabled(true); // as the main window does at each opening
            QVERIFY(!dialog.isSaved());
            DialogScripts::pushAct([button](QDialog *shown) {
                if (*button) {
                    DialogRunner::click(shown, button);
                } else {
                    shown->reject(); // Escape leaves it open; Cancel closes it
                    DialogRunner::click(shown, "BUTTON_CANCEL");
                }
            });
            dialog.exec();
            QCOMPARE(dialog.isSaved(), QByteArray(button) == "BUTTON_OK");
            QVERIFY(!dialog.isChangedCameraMode());
        }
    }

    // The welcome screen keeps the box's last tick; the agreement's one button accepts.
    void startUpDialogsAnswer()
    {
        for (int ticks : {3, 0}) {
            WelcomeDlg dialog;
            DialogScripts::pushAct([ticks](QDialog *shown) {
                for (int click = 0; click < ticks; ++click)
                    DialogRunner::click(shown, "CEHCKBOX");
                DialogRunner::click(shown, "BUTTON_CLOSE");
            });
            QCOMPARE(dialog.exec(), int(QDialog::Accepted));
            QCOMPARE(dialog.m_bDontShowAgain, ticks % 2 == 1);
        }
        for (bool firstRun : {true, false}) {
            LicenseAgreementDlg dialog(firstRun);
            DialogScripts::pushClick("BUTTON_ACCEPT");
            QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        }
    }

    void errorReportFindsAndRemovesOnlyMarkers()
    {
        TestRoot root;
        ErrorReportDlg dialog;
        QList<QFileInfo> list{QFileInfo("stale")};
        QVERIFY(!dialog.checkErrorReport(list, true));
        QVERIFY(list.isEmpty());

        for (const char *name : {"exist.error", "exist.error.1", "vantor.error", "my.exist.error"})
            root.writeFile(QString("/root/") + name, "stamp\n");
        root.makeDir("/root/exist.error.d"); // a folder is never a marker
        QVERIFY(dialog.checkErrorReport(list, true));
        QStringList names;
        for (const QFileInfo &info : list)
            names << info.fileName();
        names.sort();
        QCOMPARE(names, QStringList({"exist.error", "exist.error.1"}));
        QVERIFY(dialog.checkErrorReport(list, false));
        QCOMPARE(list.size(), 1);

        dialog.removeDetectionFiles();
        QVERIFY(!dialog.checkErrorReport(list, true));
        QCOMPARE(QDir(root.path() + "/root").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"exist.error.d", "my.exist.error", "vantor.error"})); // reports stay for the copy

        DialogScripts::pushClick("BUTTON_CANCEL");
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestShells)
#include "tst_shells.moc"
