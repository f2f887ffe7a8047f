// Every way a run ends, with the system actions it records: the power button (power-off, or exit
// to the shell when a USB drive holds the marker), the restart after a software update, and the
// window's refusal to close by itself. The board may speak either dialect or stop answering.
#include "AppBench.h"
#include "ControlWidget.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SetupDlg.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

#include <QDir>
#include <QFile>
#include <QSlider>
#include <QtTest>

class TestMainWindowEnd : public QObject
{
    Q_OBJECT

    // Answers the power question with answer; everything else with OK.
    static void answerPowerQuestion(AppBench &bench, int answer)
    {
        const QString question = MessageDlg::presetText(MSG_SHUT_DOWN);
        bench.setAnswer([question, answer](QDialog *dialog) {
            auto *label = dialog->findChild<QLabel *>("message_label");
            return label && label->text() == question ? answer : 1;
        });
    }

    static void putWorkFile(AppBench &bench)
    {
        QFile file(Paths::path("/media/VANTOR SSD/.Video/frame_0001.tif"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("x") == 1);
    }

    // The power road up to its end; returns the recorded end actions.
    static QStringList pressPower(AppBench &bench)
    {
        answerPowerQuestion(bench, 1);
        QTest::mouseClick(bench.ui()->BUTTON_POWER, Qt::LeftButton);
        if (!QTest::qWaitFor([&bench] { return !bench.exitCodes.isEmpty(); }, 60000))
            qWarning() << "the power road did not end";
        return bench.endActions();
    }

    // Every volume was unmounted before the final step (power-off, exit or reboot).
    static void verifyUnmountedBeforeTheEnd(AppBench &bench)
    {
        const QStringList calls = bench.actions.calls();
        const int end = calls.indexOf(QRegularExpression("^(shutdown|exit|reboot)( .*)?$"));
        QVERIFY2(end >= 0, qPrintable(calls.join(" | ")));
        QVERIFY(calls.indexOf(QRegularExpression("umount .*")) >= 0);
        QCOMPARE(calls.lastIndexOf(QRegularExpression("umount .*"), -1) < end, true);
    }

    // A parking completion or a restart request after the end does nothing more, and the panel's
    // parking flag was cleared when its completion fired.
    static void verifyEndedOnce(AppBench &bench)
    {
        const QStringList before = bench.actions.calls();
        ControlWidget *panel = bench.ui()->m_ControlWidget;
        QSignalSpy parked(panel, SIGNAL(signalParkingCompleted()));
        QVERIFY(QMetaObject::invokeMethod(panel, "slotMotorPositioningCompleted"));
        QCOMPARE(parked.count(), 0);
        QVERIFY(QMetaObject::invokeMethod(bench.window.get(), "slotParkingCompleted"));
        QVERIFY(QMetaObject::invokeMethod(bench.window.get(), "slotCloseSystem", Q_ARG(int, NIMBODlg::CLOSE_RESTART)));
        QVERIFY(QMetaObject::invokeMethod(bench.window.get(), "slotWaitForVideoWidgetIsStopped"));
        QTest::qWait(200);
        QCOMPARE(bench.actions.calls(), before);
        QCOMPARE(bench.exitCodes.size(), 1);
    }

    static void verifyCleanedUp(AppBench &bench)
    {
        QVERIFY(QDir(Paths::path("/media/VANTOR SSD/.Video")).entryList(QDir::Files).isEmpty()
                || !QDir(Paths::path("/media/VANTOR SSD")).exists());
        QVERIFY(!bench.ui()->m_VideoWidget->isRunning());
        QVERIFY(bench.window->isClosing());
        QVERIFY(bench.window->mediaMonitor().m_bStopUpdate);
        verifyUnmountedBeforeTheEnd(bench);
        verifyEndedOnce(bench);
        // Nothing is mounted any more.
        QFile mtab(Paths::path("/etc/mtab"));
        QVERIFY(mtab.open(QIODevice::ReadOnly));
        QVERIFY(!mtab.readAll().contains("/media/"));
    }

private slots:
    // The power button: parked, cleaned up, the light changed just before it stored, then power-off,
    // or the exit to the shell when a USB drive (not the SSD) holds the marker.
    void powerButtonParksCleansUpAndEnds_data()
    {
        QTest::addColumn<QString>("marker"); // where the marker file lies: nowhere, "usb" or "ssd"
        QTest::addColumn<QStringList>("end");
        QTest::addColumn<int>("closeCode");
        const QStringList off{"sync", "shutdown -h now"};
        QTest::newRow("no marker") << QString() << off << NIMBODlg::CLOSE_POWER_OFF;
        QTest::newRow("marker on the USB drive") << "usb" << QStringList{"sync", "exit 0"} << NIMBODlg::CLOSE_EXIT_TO_SHELL;
        QTest::newRow("marker on the SSD") << "ssd" << off << NIMBODlg::CLOSE_POWER_OFF;
    }
    void powerButtonParksCleansUpAndEnds()
    {
        QFETCH(QString, marker);
        QFETCH(QStringList, end);
        QFETCH(int, closeCode);
        AppBench bench;
        bench.quietStart();
        bench.start();
        putWorkFile(bench);
        if (!marker.isEmpty())
            QVERIFY(QFile(marker == "usb" ? SimStorage::contentsPath(SimStorage::usbName) + "/.NiMbO"
                                          : Paths::path("/media/VANTOR SSD/.nimbo"))
                            .open(QIODevice::WriteOnly));
        ControlWidget *panel = bench.ui()->m_ControlWidget;
        auto *light = panel->findChild<QSlider *>("SLIDER_LIGHT");
        QVERIFY(light && panel->currentFilterPosition() >= 0);
        const QString group = QString("Filter_%1").arg(panel->currentFilterPosition());
        const int newLight = bench.config(qPrintable(group), "Light").toInt() == 37 ? 38 : 37;
        light->setValue(newLight);
        bench.actions.clearCalls();
        QCOMPARE(pressPower(bench), end);
        QCOMPARE(bench.config(qPrintable(group), "Light"), QString::number(newLight));
        QVERIFY(bench.showedMessage(MSG_SHUT_DOWN));
        QCOMPARE(bench.window->closeCode(), closeCode);
        QCOMPARE(g_CurrentMenu, MENU_POWER);
        QVERIFY(!bench.menuUnlocked());
        QVERIFY(bench.sim->instrument().state().atLower()); // parked
        verifyCleanedUp(bench);
    }

    void cancelKeepsTheScreenWithTheLightOff()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        QTest::mouseClick(bench.ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
        QVERIFY(bench.waitUnlocked());
        bench.ui()->m_ControlWidget->turnOnLight();
        answerPowerQuestion(bench, 0);
        bench.actions.clearCalls();
        QTest::mouseClick(bench.ui()->BUTTON_POWER, Qt::LeftButton);
        QVERIFY(bench.showedMessage(MSG_SHUT_DOWN));
        QCOMPARE(g_CurrentMenu, MENU_ZSTACK);
        QVERIFY(bench.menuUnlocked());
        QVERIFY(bench.ui()->BUTTON_Z_STACK_MENU->isChecked());
        QVERIFY(bench.ui()->m_ControlWidget->isEnabled());
        QTest::qWait(300);
        const VirtualInstrument::State board = bench.sim->instrument().state();
        for (bool on : board.ledOn)
            QVERIFY(!on); // the light stays off
        QVERIFY(bench.endActions().isEmpty());
        QVERIFY(!bench.window->isClosing());
    }

    void restartCleansUpThenParksAndReboots()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        putWorkFile(bench);
        bench.sim->instrument().setStagePosition(20000);
        // The settings dialog asks for the restart from its own run, as after a software update.
        bench.setAnswer([](QDialog *dialog) {
            if (auto *setup = qobject_cast<SetupDlg *>(dialog))
                emit setup->signalClosingSystem(NIMBODlg::CLOSE_RESTART);
            return 0;
        });
        bench.actions.clearCalls();
        QTest::mouseClick(bench.ui()->BUTTON_SETTING_MENU, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!bench.exitCodes.isEmpty(), 30000);
        QCOMPARE(bench.endActions(), (QStringList{"sync", "reboot"}));
        QCOMPARE(bench.window->closeCode(), NIMBODlg::CLOSE_RESTART);
        QVERIFY(bench.sim->instrument().state().atLower());
        verifyCleanedUp(bench);
    }

    void powerOffFinishesWithTheOldDialectOrASilentBoard_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("faults");
        QTest::newRow("old dialect") << "old" << "";
        QTest::newRow("new dialect, board silent") << "3.1" << "silence=always";
        QTest::newRow("old dialect, board silent") << "old" << "silence=always";
    }
    void powerOffFinishesWithTheOldDialectOrASilentBoard()
    {
        QFETCH(QString, firmware);
        QFETCH(QString, faults);
        SimulatedInstrument::Options options = AppBench::defaultOptions();
        QVERIFY(BoardProfile::fromName(firmware, &options.profile));
        AppBench bench(options);
        bench.quietStart();
        bench.start();
        if (!faults.isEmpty()) {
            QList<BoardFault> list;
            QString error;
            QVERIFY2(BoardFault::parseList(faults, &list, &error), qPrintable(error));
            for (const BoardFault &fault : list)
                bench.sim->board()->injectFault(fault);
        }
        QCOMPARE(pressPower(bench), (QStringList{"sync", "shutdown -h now"}));
        verifyUnmountedBeforeTheEnd(bench);
    }

    void escapeNeverClosesTheWindow()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        bench.window->reject();
        QTest::keyClick(bench.window.get(), Qt::Key_Escape);
        QTest::qWait(50);
        QVERIFY(bench.window->isVisible());
        QCOMPARE(bench.window->result(), 0);
    }
};

QTEST_MAIN(TestMainWindowEnd)
#include "tst_mainwindow_end.moc"
