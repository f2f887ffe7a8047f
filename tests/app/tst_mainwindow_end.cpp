// Every way a run ends, with the system actions it records, and the window's refusal to close by
// itself.
#include "AppBench.h"
#include "ControlWidget.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SetupDlg.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

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

private slots:
    // The power button: parked, cleaned up, the light changed just before it stored, then power-off,
    // or the exit to the shell when a USB drive (not the SSD) holds the marker; on the old dialect
    // or a silent board too. The restart the settings dialog asks for (after a software update)
    // cleans up, parks and reboots.
    void everyEndParksCleansUpAndEndsOnce_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("faults");
        QTest::addColumn<QString>("marker"); // where the marker file lies: nowhere, "usb" or "ssd"
        QTest::addColumn<QStringList>("end");
        QTest::addColumn<int>("closeCode");
        const QStringList off{"sync", "shutdown -h now"};
        const int powerOff = NIMBODlg::CLOSE_POWER_OFF;
        QTest::newRow("no marker") << "3.1" << "" << QString() << off << powerOff;
        QTest::newRow("marker on the USB drive") << "3.1" << "" << "usb" << QStringList{"sync", "exit 0"} << int(NIMBODlg::CLOSE_EXIT_TO_SHELL);
        QTest::newRow("marker on the SSD") << "3.1" << "" << "ssd" << off << powerOff;
        QTest::newRow("old dialect") << "old" << "" << QString() << off << powerOff;
        QTest::newRow("new dialect, board silent") << "3.1" << "silence=always" << QString() << off << powerOff;
        QTest::newRow("old dialect, board silent") << "old" << "silence=always" << QString() << off << powerOff;
        QTest::newRow("restart") << "3.1" << "" << QString() << QStringList{"sync", "reboot"} << int(NIMBODlg::CLOSE_RESTART);
    }
    void everyEndParksCleansUpAndEndsOnce()
    {
        QFETCH(QString, firmware);
        QFETCH(QString, faults);
        QFETCH(QString, marker);
        QFETCH(QStringList, end);
        QFETCH(int, closeCode);
        SimulatedInstrument::Options options = AppBench::defaultOptions();
        QVERIFY(BoardProfile::fromName(firmware, &options.profile));
        // A stage ten times as fast: the parking's travel of several seconds is not what is judged.
        options.profile.speedScale *= 10;
        options.profile.maxSpeedScale *= 10;
        AppBench bench(options);
        bench.quietStart();
        bench.start();
        QFile work(Paths::path("/media/VANTOR SSD/.Video/frame_0001.tif"));
        QVERIFY(work.open(QIODevice::WriteOnly) && work.write("x") == 1);
        work.close();
        if (!marker.isEmpty())
            QVERIFY(QFile(marker == "usb" ? SimStorage::contentsPath(SimStorage::usbName) + "/.NiMbO"
                                          : Paths::path("/media/VANTOR SSD/.nimbo"))
                            .open(QIODevice::WriteOnly));
        QList<BoardFault> list;
        QString error;
        QVERIFY2(faults.isEmpty() || BoardFault::parseList(faults, &list, &error), qPrintable(error));
        for (const BoardFault &fault : list)
            bench.sim->board()->injectFault(fault);
        const bool silent = !list.isEmpty();
        if (!silent)
            bench.sim->instrument().setStagePosition(20000);
        else
            bench.hastenStageWaits();
        ControlWidget *panel = bench.ui()->m_ControlWidget;
        auto *light = panel->findChild<QSlider *>("SLIDER_LIGHT");
        QVERIFY(light && panel->currentFilterPosition() >= 0);
        const QString group = QString("Filter_%1").arg(panel->currentFilterPosition());
        const int newLight = bench.config(qPrintable(group), "Light").toInt() == 37 ? 38 : 37;
        light->setValue(newLight);
        bench.actions.clearCalls();
        if (closeCode == NIMBODlg::CLOSE_RESTART) {
            bench.setAnswer([](QDialog *dialog) {
                if (auto *setup = qobject_cast<SetupDlg *>(dialog))
                    emit setup->signalClosingSystem(NIMBODlg::CLOSE_RESTART);
                return 0;
            });
            QTest::mouseClick(bench.ui()->BUTTON_SETTING_MENU, Qt::LeftButton);
        } else {
            answerPowerQuestion(bench, 1);
            QTest::mouseClick(bench.ui()->BUTTON_POWER, Qt::LeftButton);
            QVERIFY(bench.showedMessage(MSG_SHUT_DOWN));
            QCOMPARE(g_CurrentMenu, MENU_POWER);
        }
        QVERIFY(QTest::qWaitFor([&bench] { return !bench.exitCodes.isEmpty(); }, 60000)); // a hang bound
        QCOMPARE(bench.endActions(), end);
        QCOMPARE(bench.config(qPrintable(group), "Light"), QString::number(newLight));
        QCOMPARE(bench.window->closeCode(), closeCode);
        QVERIFY(closeCode == NIMBODlg::CLOSE_RESTART || !bench.menuUnlocked());
        if (!silent)
            QVERIFY(bench.sim->instrument().state().atLower()); // parked
        QVERIFY(QDir(Paths::path("/media/VANTOR SSD/.Video")).entryList(QDir::Files).isEmpty()
                || !QDir(Paths::path("/media/VANTOR SSD")).exists());
        QVERIFY(!bench.ui()->m_VideoWidget->isRunning());
        QVERIFY(bench.window->isClosing() && bench.window->mediaMonitor().m_bStopUpdate);
        QFile mtab(Paths::path("/etc/mtab"));
        QVERIFY(mtab.open(QIODevice::ReadOnly) && !mtab.readAll().contains("/media/")); // nothing mounted
        verifyUnmountedBeforeTheEnd(bench);
        verifyEndedOnce(bench);
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
        for (bool on : bench.sim->instrument().state().ledOn)
            QVERIFY(!on); // the light stays off
        QVERIFY(bench.endActions().isEmpty());
        QVERIFY(!bench.window->isClosing());
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
