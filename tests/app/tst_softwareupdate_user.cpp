// A software update on the simulated instrument, as a new user tries it: a package on the USB
// drive, Setting, the update button, Start, OK, Restart; and a hostile package that is refused.
#include "AppBench.h"
#include "DialogRunner.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SetupDlg.h"
#include "SoftwareUpdateDlg.h"
#include "UpdatePackage.h"
#include "ui_NIMBODlg.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

class TestSoftwareUpdateUser : public QObject
{
    Q_OBJECT

    struct Seen
    {
        QStringList messages; // the update dialog's texts, Start to the result
        int state = -1;
    };

    // Setting, then the update button, then Start, OK and, at the result, Restart or Exit.
    static Seen updateFromTheSettings(AppBench &bench)
    {
        Seen seen;
        bench.setAnswer([&](QDialog *dialog) {
            if (auto *setup = qobject_cast<SetupDlg *>(dialog)) {
                if (g_CurrentMenu == MENU_SETTING && setup->isEnabled())
                    DialogRunner::click(setup, "BUTTON_SW_UPDATE");
                return 0;
            }
            auto *update = qobject_cast<SoftwareUpdateDlg *>(dialog);
            if (!update)
                return 1;
            auto *message = update->findChild<QLabel *>("LABEL_MESSAGE");
            return DialogRunner::showAndRun(
                dialog,
                [&](QDialog *) {
                    DialogRunner::click(update, "BUTTON_START");
                    seen.messages << message->text();
                    DialogRunner::click(update, "BUTTON_START");
                    seen.messages << message->text();
                    // A hang bound only: the state is compared below.
                    (void)QTest::qWaitFor([update] { return update->state() >= SoftwareUpdateDlg::STATE_COMPLETE; },
                                          120000);
                    seen.messages << message->text();
                    seen.state = update->state();
                    bench.actions.clearCalls();
                    DialogRunner::click(update, seen.state == SoftwareUpdateDlg::STATE_COMPLETE ? "BUTTON_RESTART"
                                                                                                 : "BUTTON_EXIT");
                },
                180000);
        });
        QTest::mouseClick(bench.ui()->BUTTON_SETTING_MENU, Qt::LeftButton);
        return seen;
    }

private slots:
    void aPackageOnTheDriveIsInstalledAndTheInstrumentRestarts()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        QTemporaryDir outside;
        QVERIFY(UpdatePackage::write("full", SimStorage::contentsPath(SimStorage::usbName) + "/vantors_2_1_0.vts",
                                     outside.path()));
        const Seen seen = updateFromTheSettings(bench);
        QCOMPARE(seen.state, int(SoftwareUpdateDlg::STATE_COMPLETE));
        QVERIFY(seen.messages.value(0).contains("Software Update Detected"));
        QVERIFY(seen.messages.value(1).contains("Do not turn off the system"));
        QVERIFY(seen.messages.value(2).contains("Software Update Complete"));
        QVERIFY(QTest::qWaitFor([&bench] { return !bench.exitCodes.isEmpty(); }, 60000)); // a hang bound
        QCOMPARE(bench.endActions(), (QStringList{"sync", "reboot"}));
        QCOMPARE(bench.window->closeCode(), int(NIMBODlg::CLOSE_RESTART));
        QCOMPARE(UpdatePackage::versionKeys(), (QStringList{"2.1.0", "vantors_2_1_0"}));
        QCOMPARE(QFile::symLinkTarget(Paths::path("/root/Microscope/NIMBO/vantors")),
                 Paths::path("/root/Microscope/NIMBO/vantors_2_1_0"));
        SetupDlg &settings = bench.window->setupDlg();
        settings.readSetting();
        QVERIFY(settings.findChild<QLabel *>("SW_VERSION_LABEL")->text().startsWith("2.1.0 / "));
    }

    void aHostilePackageIsRefused()
    {
        AppBench bench;
        bench.quietStart();
        bench.start();
        QTemporaryDir outside;
        QVERIFY(UpdatePackage::write("link-root", SimStorage::contentsPath(SimStorage::usbName) + "/vantors_2_1_0.vts",
                                     outside.path()));
        const QMap<QString, QByteArray> before = UpdatePackage::snapshot(Paths::path("/root/Microscope"));
        const Seen seen = updateFromTheSettings(bench);
        QCOMPARE(seen.state, int(SoftwareUpdateDlg::STATE_FAILED));
        QVERIFY(seen.messages.value(2).contains("Software Update Failed"));
        QVERIFY(bench.waitUnlocked());
        QCOMPARE(UpdatePackage::snapshot(Paths::path("/root/Microscope")), before);
        QVERIFY(!bench.window->isClosing());
        QVERIFY(bench.exitCodes.isEmpty());
        QVERIFY(!bench.endActions().contains("reboot"));
    }
};

QTEST_MAIN(TestSoftwareUpdateUser)
#include "tst_softwareupdate_user.moc"
