// The main window's screens and wiring on the simulated instrument: every connection takes, what
// each menu button shows, what each page state does to the screen, the question before an
// unsaved capture is left, the file manager's return, the Setting round trip and the settings
// dialog's live-video switch.
#include "AppBench.h"
#include "CameraTables.h"
#include "CellCountWidget.h"
#include "ControlWidget.h"
#include "DiagramItemGroup.h"
#include "DialogRunner.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "ScaleBar.h"
#include "ScaleBarDlg.h"
#include "SetupDlg.h"
#include "TimeLapseWidget.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"

#include <QtTest>
#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsLineItem>
#include <QScopeGuard>
#include <QSemaphore>
#include <chrono>
#include <thread>

class TestMainWindowScreens : public QObject
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

    void click(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
    }

    // The named direct children shown now, sorted.
    QStringList shown() const
    {
        QStringList names;
        for (QWidget *child : m_bench->window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (child->isVisible() && !child->objectName().isEmpty())
                names << child->objectName();
        names.sort();
        return names;
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

    // A captured channel shows the objective's bar; the bar's "Settings..." stores the keys, the
    // model re-reads them and the bar moves to the chosen corner; an empty turret position leaves it.
    void multicolourScaleBarRoundTrip()
    {
        show(MENU_MULTICOLOR);
        ScaleBar &model = m_bench->window->scaleBar();
        int tenX = 0;
        for (int position = 1; position <= 6 && !tenX; ++position)
            if (m_bench->config("Lens", QByteArray::number(position).constData()) == "10X")
                tenX = position;
        QVERIFY(tenX);
        model.setCurrentObjectiveLensPosition(tenX);
        std::vector<uchar> frame(1280 * 1024, 60);
        QVERIFY(QMetaObject::invokeMethod(m_bench->window.get(), "setMultiColorImageData", Q_ARG(int, 0), Q_ARG(int, 1),
                                          Q_ARG(void *, frame.data()), Q_ARG(bool, false), Q_ARG(int, 8),
                                          Q_ARG(uchar *, frame.data())));
        model.slotShowScaleBar(true);
        auto *view = ui()->m_ImageGraphicsView;
        QVERIFY(view->scaleBarGroup() && view->scaleBarGroup()->isVisible());
        QVERIFY(qAbs(view->scaleBarLine(0)->line().length() - 18.04) < 0.01);

        m_bench->setAnswer([](QDialog *dialog) {
            if (!qobject_cast<ScaleBarDlg *>(dialog))
                return 0;
            dialog->findChild<QComboBox *>("COMB_SCALEBAR_SIZE")->setCurrentIndex(2);
            dialog->findChild<QCheckBox *>("CHECK_SCALEBAR_POSITION")->click();
            dialog->findChild<QComboBox *>("COMB_SCALEBAR_POSITION")->setCurrentIndex(1);
            DialogRunner::click(dialog, "BUTTON_APPLY");
            return dialog->result();
        });
        QVERIFY(QMetaObject::invokeMethod(view, "slotScaleBarSetting"));
        QCOMPARE(m_bench->config("ScaleBar", "ScaleBarPosition"), QString("1"));
        QCOMPARE(m_bench->config("ScaleBar", "ScaleBarSize"), QString("2"));
        const QLineF bar = view->scaleBarLine(0)->line();
        QVERIFY2(qAbs(bar.length() - 180.44) < 0.01, qPrintable(QString::number(bar.length())));
        QCOMPARE(bar.p2(), QPointF(1252, 20));
        QCOMPARE(view->scaleBarGroup()->pos(), QPointF(0, 0));

        model.setCurrentObjectiveLensPosition(7); // no objective there
        model.slotShowScaleBar(true);
        QCOMPARE(view->scaleBarLine(0)->line(), bar);
        model.setCurrentObjectiveLensPosition(tenX);
    }

    // The multicolour view scales 16-bit channels and takes keys; its navigator follows its zoom
    // and goes with a cleared image.
    void multicolourViewAndNavigator()
    {
        auto *view = ui()->m_ImageGraphicsView;
        QVERIFY(!view->m_bHighByte);
        QVERIFY(view->m_bKeyEnabled);
        Navigation record;
        view->getNavigation(record);
        QCOMPARE(ui()->m_NavigationDraw->navigation().m_DisplayRect, record.m_DisplayRect);
        view->sceneScaleChange(400, QPoint(0, 0));
        emit view->signalMouseZoomEvent();
        view->getNavigation(record);
        QCOMPARE(ui()->m_NavigationDraw->navigation().m_DisplayRect, record.m_DisplayRect);
        QCOMPARE(record.m_NavigationRect, QRect(0, 0, 100, 80));
        // A captured channel shows the navigator; Clear takes it with the image.
        show(MENU_MULTICOLOR);
        setState(MENU_MULTICOLOR, MULTI_CHANNEL);
        QVERIFY(ui()->m_NavigationDraw->isVisible());
        ui()->m_MultiColorWidget->clear();
        QVERIFY(!ui()->m_NavigationDraw->isVisible());
    }

    // A page's move request is queued: it returns before the panel starts the move.
    void aPageMoveRequestReturnsFirst()
    {
        Controller &controller = ui()->m_ControlWidget->controller();
        const int target = controller.getTargetPosition();
        emit ui()->m_ZStackWidget->signalMoveMotorPosition(512, false);
        QCOMPARE(controller.getTargetPosition(), target);
        QTRY_VERIFY_WITH_TIMEOUT(controller.getTargetPosition() != target, 60000); // a hang, not a speed bound
    }

    // Each mode button shows its page with the panel and live video, checked alone; pressed
    // again it changes nothing. The file manager shows only itself and stops live video.
    void everyMenuButtonShowsItsScreen()
    {
        const QStringList menuBar = {"BUTTON_COUNT_MENU", "BUTTON_FILEMANAGER", "BUTTON_MULTI_COLOR_MENU",
                                     "BUTTON_POWER", "BUTTON_TIME_LAPSE_MENU", "BUTTON_Z_STACK_MENU",
                                     "LABEL_DATE", "LABEL_TIME"};
        const QStringList modeBar = {"BUTTON_SETTING_MENU", "LABEL_IMAGEVIEW_BG", "m_ControlWidget", "m_VideoWidget"};
        const struct
        {
            QAbstractButton *button;
            TCurrentMenu menu;
            const char *page;
        } screens[] = {{ui()->BUTTON_Z_STACK_MENU, MENU_ZSTACK, "m_ZStackWidget"},
                       {ui()->BUTTON_TIME_LAPSE_MENU, MENU_TIMELAPSE, "m_TimeLapseWidget"},
                       {ui()->BUTTON_COUNT_MENU, MENU_CELLCOUNT, "m_CellCountWidget"},
                       {ui()->BUTTON_MULTI_COLOR_MENU, MENU_MULTICOLOR, "m_MultiColorWidget"},
                       {ui()->BUTTON_FILEMANAGER, MENU_FILE_MANAGER, "m_FileManagerWidget"},
                       {ui()->BUTTON_Z_STACK_MENU, MENU_ZSTACK, "m_ZStackWidget"}};
        for (const auto &screen : screens) {
            click(screen.button);
            const bool mode = screen.menu != MENU_FILE_MANAGER;
            QCOMPARE(g_CurrentMenu, screen.menu);
            QStringList expected = menuBar + (mode ? modeBar : QStringList()) + QStringList{screen.page};
            expected.sort();
            QCOMPARE(shown(), expected);
            for (QAbstractButton *b : m_bench->window->findChildren<QAbstractButton *>(QString(), Qt::FindDirectChildrenOnly))
                QCOMPARE(b->isChecked(), b == screen.button);
            QCOMPARE(ui()->m_VideoWidget->isRunning(), mode);
            QTest::mouseClick(screen.button, Qt::LeftButton);
            QCOMPARE(g_CurrentMenu, screen.menu);
            QVERIFY(screen.button->isChecked());
            QVERIFY(m_bench->menuUnlocked());
        }
        QCOMPARE(m_bench->window->previousMenu(), MENU_MULTICOLOR);
    }

    void leavingAnUnsavedCaptureAsksFirst()
    {
        show(MENU_MULTICOLOR);
        emit ui()->m_MultiColorWidget->captured(true);
        QVERIFY(m_bench->window->isCaptured());

        // Cancel keeps the page.
        m_bench->setAnswer([](QDialog *) { return 0; });
        QTest::mouseClick(ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
        QVERIFY(m_bench->showedMessage(MSG_LEAVE_WITHOUT_SAVING));
        QCOMPARE(g_CurrentMenu, MENU_MULTICOLOR);
        QVERIFY(!ui()->BUTTON_Z_STACK_MENU->isChecked());
        QVERIFY(m_bench->window->isCaptured());
        QVERIFY(m_bench->menuUnlocked());

        // The file manager and back: no question, the capture is kept.
        m_bench->clearDialogs();
        click(ui()->BUTTON_FILEMANAGER);
        click(ui()->BUTTON_MULTI_COLOR_MENU);
        QVERIFY(m_bench->dialogs().isEmpty());
        QVERIFY(m_bench->window->isCaptured());

        // OK switches and clears the flags.
        m_bench->setAnswer([](QDialog *) { return 1; });
        click(ui()->BUTTON_Z_STACK_MENU);
        QVERIFY(m_bench->showedMessage(MSG_LEAVE_WITHOUT_SAVING));
        QCOMPARE(g_CurrentMenu, MENU_ZSTACK);
        QVERIFY(!m_bench->window->isCaptured());

        // A saved capture is left without a question.
        m_bench->clearDialogs();
        emit ui()->m_ZStackWidget->captured(true);
        emit ui()->m_ZStackWidget->saved(true);
        click(ui()->BUTTON_TIME_LAPSE_MENU);
        QVERIFY(m_bench->dialogs().isEmpty());
    }

    // Leaving Multicolor while its capture is still being auto-saved waits for the file: once
    // written, the page is left without the question, also by a tap let through while the
    // capture still ran; a file not written still asks.
    void leavingWaitsForTheAutoSave_data()
    {
        QTest::addColumn<quint64>("freeMB");
        QTest::addColumn<bool>("duringCapture");
        QTest::addColumn<bool>("asked");
        QTest::newRow("written") << quint64(1000) << false << false;
        QTest::newRow("tapped during the capture") << quint64(1000) << true << false;
        QTest::newRow("no space") << quint64(0) << false << true;
    }
    void leavingWaitsForTheAutoSave()
    {
        QFETCH(quint64, freeMB);
        QFETCH(bool, duringCapture);
        QFETCH(bool, asked);
        m_bench->setAnswer([](QDialog *) { return 1; });
        m_bench->setConfig("Setting_MultiColor", "Autosave", "1");
        show(MENU_MULTICOLOR);
        MultiColorWidget *page = ui()->m_MultiColorWidget;
        page->readSetting();
        QVERIFY(QMetaObject::invokeMethod(page, "on_BUTTON_LIVE_clicked"));
        QVERIFY(m_bench->waitUnlocked());
        auto gate = std::make_shared<QSemaphore>();
        const auto open = qScopeGuard([gate] {
            gate->release(100);
            MediaMonitor::setSpaceQuery(nullptr);
        });
        MediaMonitor::setSpaceQuery([gate, freeMB](const QString &, quint64 *fragment, quint64 *blocks) {
            gate->tryAcquire(1, 30000);
            *fragment = 1000000;
            *blocks = freeMB;
            return true;
        });
        std::thread writer;
        const auto joinWriter = qScopeGuard([&writer] {
            if (writer.joinable())
                writer.join();
        });
        const auto releaseSoon = [&] {
            writer = std::thread([gate] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                gate->release(1);
            });
        };
        const auto files = [] { return QDir(Paths::ssd() + "/Quicksave").entryList({"*.tif"}, QDir::Files).size(); };
        const int before = files();
        m_bench->clearDialogs();
        QMetaObject::Connection tap;
        if (duringCapture) {
            releaseSoon();
            tap = connect(page, &MultiColorWidget::changedState, this, [this, page] {
                if (page->currentState() == MULTI_CHANNEL && g_CurrentMenu == MENU_MULTICOLOR && m_bench->menuUnlocked())
                    QTest::mouseClick(ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
            });
        }
        QVERIFY(QMetaObject::invokeMethod(page, "on_BUTTON_CAPTURE_clicked"));
        disconnect(tap);
        if (!duringCapture) {
            QVERIFY(m_bench->window->isCaptured());
            releaseSoon();
            click(ui()->BUTTON_Z_STACK_MENU);
        }
        QVERIFY(m_bench->waitUnlocked());
        m_bench->setConfig("Setting_MultiColor", "Autosave", "0");
        page->readSetting();
        QCOMPARE(m_bench->showedMessage(MSG_LEAVE_WITHOUT_SAVING), asked);
        QCOMPARE(g_CurrentMenu, MENU_ZSTACK);
        QCOMPARE(files() - before, asked ? 0 : 1);
    }

    void settingRoundTripReReadsTheConfiguration()
    {
        click(ui()->BUTTON_Z_STACK_MENU);
        m_bench->setConfig("ScaleBar", "ScaleBarColor", "1");
        m_bench->setConfig("Camera", "Mode", "16");
        TCurrentMenu menuWhileOpen = MENU_MULTICOLOR;
        m_bench->setAnswer([&menuWhileOpen](QDialog *dialog) {
            if (qobject_cast<SetupDlg *>(dialog)) {
                menuWhileOpen = g_CurrentMenu;
                DialogRunner::click(dialog, "BUTTON_OK");
                return dialog->result();
            }
            return 1;
        });
        QSignalSpy cameraMode(ui()->m_VideoWidget, &VideoWidget::signalCameraModeChanged);
        QSignalSpy scaleBar(&m_bench->window->scaleBar(), &ScaleBar::signalShowScaleBar);
        QTest::mouseClick(ui()->BUTTON_SETTING_MENU, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(m_bench->window->setupDlg().isSaved());
        QCOMPARE(menuWhileOpen, MENU_SETTING);
        QCOMPARE(g_CurrentMenu, MENU_ZSTACK);
        QVERIFY(!cameraMode.isEmpty());
        QCOMPARE(cameraMode.last().at(0).toInt(), 16);
        QTRY_COMPARE(ui()->m_ControlWidget->currentCameraMode(), 16);
        QVERIFY(!scaleBar.isEmpty());
        QCOMPARE(m_bench->window->scaleBar().m_ScaleBarInfo.color, colorTableEntry(1));
        QVERIFY(ui()->m_ControlWidget->isEnabled());

        // The exposure goes to the camera from the new mode's table.
        const int row = qBound(0, ui()->m_ControlWidget->currentFilterSet().exposure, kExposureRows - 1);
        QVERIFY(ExposureLUT16[row][2] != ExposureLUT8[row][2]);
        const SimCameraState camera = m_bench->sim->instrument().camera();
        QCOMPARE(int(camera.registers[SimCameraState::RegFrameCount]), ExposureLUT16[row][1]);
        QCOMPARE(int(camera.registers[SimCameraState::RegLineCount]), ExposureLUT16[row][2]);
        m_bench->setAnswer([](QDialog *) { return 1; });
    }

    // The settings dialog stops and restarts live video (not one it did not stop) and runs the
    // hot-pixel calibration: Cancel before Start leaves the camera and live video alone.
    void settingsDialogDrivesLiveVideo()
    {
        SetupDlg &setup = m_bench->window->setupDlg();
        emit setup.setVideoRunningState(false);
        QVERIFY(!ui()->m_VideoWidget->isRunning());
        emit setup.setVideoRunningState(true);
        QVERIFY(ui()->m_VideoWidget->isRunning());
        m_bench->setAnswer([](QDialog *) { return 0; });
        emit setup.signalShowHotPixelCorrectionDlg();
        QVERIFY(m_bench->dialogs().contains("HotPixelCorrectionDialog"));
        QVERIFY(ui()->m_VideoWidget->isRunning());
        ui()->m_VideoWidget->stop();
        emit setup.setVideoRunningState(true);
        QVERIFY(!ui()->m_VideoWidget->isRunning());
    }
};

QTEST_MAIN(TestMainWindowScreens)
#include "tst_mainwindow_screens.moc"
