// The main window's wiring on the real classes: every connection takes, each page state drives the
// screen as it should, and a page's move request is delivered from the event loop.
#include "AppBench.h"
#include "ControlWidget.h"
#include "NIMBODlg.h"
#include "ScaleBar.h"
#include "CellCountWidget.h"
#include "MultiColorWidget.h"
#include "TimeLapseWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"

#include <QtTest>

class TestMainWindowWiring : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;

    Ui_NIMBODlg *ui() const { return m_bench->ui(); }

    // Sets a page's state as the page itself does (the state setter reports the change).
    void setState(int menu, int state)
    {
        switch (menu) {
        case MENU_MULTICOLOR: ui()->m_MultiColorWidget->setCurrentState(TMultiState(state)); break;
        case MENU_ZSTACK: ui()->m_ZStackWidget->setCurrentState(TZStackState(state)); break;
        case MENU_TIMELAPSE: ui()->m_TimeLapseWidget->setCurrentState(TTimeLapseState(state)); break;
        case MENU_CELLCOUNT: ui()->m_CellCountWidget->setCurrentState(TCellCountState(state)); break;
        }
    }

    void show(int menu)
    {
        QAbstractButton *buttons[] = {ui()->BUTTON_MULTI_COLOR_MENU, ui()->BUTTON_Z_STACK_MENU,
                                      ui()->BUTTON_TIME_LAPSE_MENU, ui()->BUTTON_COUNT_MENU};
        if (g_CurrentMenu != menu)
            QTest::mouseClick(buttons[menu], Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(int(g_CurrentMenu), menu);
    }

    QAbstractButton *pseudoColorButton() const
    {
        return ui()->m_ControlWidget->findChild<QAbstractButton *>("BUTTON_PSEUDO_COLOR");
    }

private slots:
    void initTestCase()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->start();
    }
    void cleanupTestCase() { m_bench.reset(); }

    void everyConnectionTakes()
    {
        QVERIFY2(m_bench->window->failedConnections().isEmpty(),
                 qPrintable(m_bench->window->failedConnections().join('\n')));
    }

    // What the window does for each page and state: live video below 2, the page's images at 2,
    // the busy state 3 leaves the screen and turns the pseudo-colour button off.
    void pageStatesDriveTheScreen_data()
    {
        QTest::addColumn<int>("menu");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("live");
        QTest::addColumn<QString>("imageWidget"); // visible at the end; empty for none
        QTest::addColumn<bool>("pseudoColor");    // the panel's pseudo-colour button enabled
        QTest::addColumn<int>("countMode");       // the cell-count page's mode
        const char *names[] = {"Multicolor", "Z-stack", "Time lapse", "Cell count"};
        const char *images[] = {"m_ImageGraphicsView", "m_ZStackImageWidget", "m_TimeLapseImageWidget",
                                "m_CellCountImageWidget"};
        for (int menu = 0; menu < 4; ++menu) {
            for (int state = 0; state <= 4; ++state) {
                if (state == 4 && menu != MENU_MULTICOLOR)
                    continue; // only the Multicolor page has a state 4
                const bool live = state < 2 || (state >= 3 && menu != MENU_MULTICOLOR);
                QString image = state == 2 || (menu == MENU_MULTICOLOR && state == 4) ? images[menu] : "";
                if (menu == MENU_MULTICOLOR && state == 3)
                    image = "m_MultiColorImageWidget";
                // Busy pages and the cell-count page's counting images (mode 0) take the button away.
                const bool busy = menu != MENU_MULTICOLOR && state == 3;
                QTest::addRow("%s %d", names[menu], state) << menu << state << live << image << !busy << 1;
                if (menu == MENU_CELLCOUNT && state == 2)
                    QTest::addRow("%s %d counting", names[menu], state) << menu << state << live << image << false << 0;
            }
        }
    }
    void pageStatesDriveTheScreen()
    {
        QFETCH(int, menu);
        QFETCH(int, state);
        QFETCH(bool, live);
        QFETCH(QString, imageWidget);
        QFETCH(bool, pseudoColor);
        QFETCH(int, countMode);
        ui()->m_CellCountWidget->setCurrentMode(countMode);
        show(menu);
        setState(menu, 0);
        pseudoColorButton()->setEnabled(true);
        setState(menu, state);
        QCOMPARE(ui()->m_VideoWidget->isRunning(), live);
        for (const char *name : {"m_ImageGraphicsView", "m_MultiColorImageWidget", "m_ZStackImageWidget",
                                 "m_TimeLapseImageWidget", "m_CellCountImageWidget"}) {
            if (state != 3 || menu == MENU_MULTICOLOR) // a busy page leaves the screen as it was
                QCOMPARE(m_bench->window->findChild<QWidget *>(name)->isVisible(), imageWidget == name);
        }
        QCOMPARE(pseudoColorButton()->isEnabled(), pseudoColor);
        setState(menu, 0);
        ui()->m_CellCountWidget->setCurrentMode(1);
        QVERIFY(ui()->m_VideoWidget->isRunning());
    }

    // The Multicolor image display states 0 to 4: only 4 (the merged image) takes the pseudo-colour
    // button away; 3 shows the tiles instead of the view.
    void multicolorDisplayStates()
    {
        show(MENU_MULTICOLOR);
        for (int state = 0; state <= 4; ++state) {
            emit ui()->m_MultiColorWidget->imageDisplayStateChanged(state);
            QCOMPARE(pseudoColorButton()->isEnabled(), state != 4);
            QCOMPARE(ui()->m_MultiColorImageWidget->isVisible(), state == 3);
            QCOMPARE(ui()->m_ImageGraphicsView->isVisible(), state != 3);
        }
        emit ui()->m_MultiColorWidget->imageDisplayStateChanged(0);
    }

    // Back from the file manager a page finds its state again, except state 1 (it starts at 0).
    void theFileManagerReturnKeepsThePageState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("after");
        QTest::newRow("1 becomes 0") << 1 << 0;
        QTest::newRow("2 stays") << 2 << 2;
    }
    void theFileManagerReturnKeepsThePageState()
    {
        QFETCH(int, state);
        QFETCH(int, after);
        show(MENU_ZSTACK);
        setState(MENU_ZSTACK, state);
        QTest::mouseClick(ui()->BUTTON_FILEMANAGER, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        show(MENU_ZSTACK);
        QCOMPARE(int(ui()->m_ZStackWidget->currentState()), after);
        setState(MENU_ZSTACK, 0);
    }

    // A change of the scale-bar setting in the view re-reads the bar's keys but not the lens (no
    // new pixel size), moves the bar to the chosen corner once, and leaves the model as it was.
    void scaleBarSettingChangeKeepsTheLens()
    {
        ScaleBar &model = m_bench->window->scaleBar();
        QSignalSpy pixelSize(&model, &ScaleBar::signalPixelSizeChanged);
        QList<TSScaleBar> shown;
        const auto c = connect(&model, &ScaleBar::signalShowScaleBar, this, [&shown](TSScaleBar bar) { shown << bar; });
        emit ui()->m_ImageGraphicsView->changeScaleBarSetting(true, 2);
        disconnect(c);
        QCOMPARE(pixelSize.count(), 0);
        QVERIFY(!shown.isEmpty());
        QVERIFY(shown.last().resetPosition);
        QCOMPARE(shown.last().corner, 2);
        QVERIFY(model.m_bReadLensSetting);
        QVERIFY(!model.m_ScaleBarInfo.resetPosition);
    }

    // A page's move request is queued: it returns before the panel starts the move.
    void aPageMoveRequestReturnsFirst()
    {
        Controller &controller = ui()->m_ControlWidget->controller();
        const int target = controller.getTargetPosition();
        emit ui()->m_ZStackWidget->signalMoveMotorPosition(512, false);
        QCOMPARE(controller.getTargetPosition(), target);
        QTRY_VERIFY(controller.getTargetPosition() != target);
    }
};

QTEST_MAIN(TestMainWindowWiring)
#include "tst_mainwindow_wiring.moc"
