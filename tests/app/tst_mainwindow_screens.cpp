// The main window's screens on the simulated instrument: what each menu button shows, the
// question before an unsaved capture is left, the file manager's return, the Setting round trip
// and the live-video switch of the settings dialog.
#include "AppBench.h"
#include "CameraTables.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "MessageDlg.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "ScaleBar.h"
#include "SetupDlg.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"

#include <QtTest>

class TestMainWindowScreens : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    Ui_NIMBODlg *ui() const { return m_bench->ui(); }

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

private slots:
    void init()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->start();
    }
    void cleanup() { m_bench.reset(); }

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
