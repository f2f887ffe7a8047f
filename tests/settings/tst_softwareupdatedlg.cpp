// The software update dialog: which package Start finds on which drive, the roads from OK to
// Restart or Exit, the bar, closing, and the settings dialog's update button.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "SetupDlgBench.h"
#include "SimSandbox.h"
#include "SimStorage.h"
#include "SoftwareUpdateDlg.h"
#include "UpdatePackage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace UpdatePackage;

namespace {

const QString kNotDetected = "<p><b>Software Update Not Detected</b><br/><br/>Insert a USB drive with a software "
                             "update file with a version number<br/>that is higher than the currently installed "
                             "version and press Start.</p>";
const QString kDetected = "<p><b>Software Update Detected</b><br/><br/>Do you want to proceed?<p/>";
const QString kComplete = "<p><b>Software Update Complete</b><br/><br/>Restart the instrument.</p>";
const QString kFailed = "<p><b>Software Update Failed</b><br/><br/>The software update failed due to a damaged "
                        "file.<br/>Download the file again into the root directory of the USB drive and try again.</p>";

// The simulated instrument's storage with a second USB drive, mounted, and its installation
// (program vantors_1_0_0, [NIMBO] Version 1.0.0), in a fresh root.
struct Drives
{
    TestRoot root;
    SimulatedSystemActions actions;
    SimStorage storage;
    QTemporaryDir outside;
    std::unique_ptr<MediaMonitor> monitor;
    QString first, second; // the USB drives' labels in the monitor's order

    explicit Drives(bool plugged = true)
    {
        SystemActions::setInstance(&actions);
        storage.attach(actions);
        QVERIFY(SimSandbox::seed() && SimStorage::seed());
        QVERIFY(SimStorage::plug("USB2", QString(), nullptr));
        if (!plugged)
            QVERIFY(SimStorage::pull(SimStorage::usbName, nullptr) && SimStorage::pull("USB2", nullptr));
        monitor = std::make_unique<MediaMonitor>();
        monitor->mountAll();
        for (const MediaMonitor::DeviceEntry &device : MediaMonitor::deviceList()) {
            if (device.second != MediaMonitor::ssdLabel)
                (first.isEmpty() ? first : second) = device.second;
        }
    }
    ~Drives()
    {
        monitor.reset();
        SystemActions::setInstance(nullptr);
    }

    // "first", "second" or "ssd" as the folder of that volume.
    QString folder(const QString &drive) const
    {
        const QString label = drive == "first" ? first : drive == "second" ? second : MediaMonitor::ssdLabel;
        return Paths::path("/media/" + label);
    }
    // Puts a package ("drive:name"; "drive:name>link" for a link to a package outside, "drive:name/" for
    // a folder) of this kind on a drive; returns its path.
    QString put(const QString &where, const QString &kind = "only")
    {
        const QString drive = where.section(':', 0, 0);
        QString name = where.section(':', 1);
        const QString path = folder(drive) + "/" + name.remove('>').remove('/');
        if (where.endsWith('/'))
            QDir().mkpath(path);
        else if (where.endsWith('>'))
            QFile::link(write(kind, outside.path() + "/" + name, outside.path()) ? outside.path() + "/" + name : "", path);
        else if (!write(kind, path, outside.path()))
            qWarning() << "no package" << where;
        return path;
    }
    void setVersion(const QString &version) const
    {
        root.writeFile("/root/Microscope/NIMBO/NIMBO.ini",
                       QString("[NIMBO]\nVersion=%1\nCurrentSW=vantors_1_0_0\n").arg(version).toUtf8());
    }
};

QString message(SoftwareUpdateDlg &dialog)
{
    return dialog.findChild<QLabel *>("LABEL_MESSAGE")->text();
}

// The buttons the user sees, by their texts.
QStringList buttons(SoftwareUpdateDlg &dialog)
{
    QStringList shown;
    for (const char *name : {"BUTTON_START", "BUTTON_CANCEL", "BUTTON_EXIT", "BUTTON_RESTART"}) {
        auto *button = dialog.findChild<QAbstractButton *>(name);
        if (!button->isHidden())
            shown << button->text();
    }
    return shown;
}

void click(QDialog &dialog, const char *button)
{
    QVERIFY(DialogRunner::click(&dialog, button));
}

// Start, OK, and the wait for the worker's result (a hang bound only).
void runUpdate(SoftwareUpdateDlg &dialog)
{
    click(dialog, "BUTTON_START");
    QCOMPARE(dialog.state(), int(SoftwareUpdateDlg::STATE_DETECTED));
    click(dialog, "BUTTON_START");
    QTRY_VERIFY_WITH_TIMEOUT(dialog.state() >= SoftwareUpdateDlg::STATE_COMPLETE, 120000);
}

} // namespace

class TestSoftwareUpdateDlg : public QObject
{
    Q_OBJECT
private slots:
    void detection_data()
    {
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QStringList>("packages");
        QTest::addColumn<QString>("found"); // the package chosen ("drive:name"), empty for none
        QTest::addColumn<QString>("version");
        QTest::newRow("no drive") << false << "1.0.0" << QStringList() << "" << "";
        QTest::newRow("no package") << true << "1.0.0" << QStringList() << "" << "";
        QTest::newRow("installed version, another on the next drive")
            << true << "2.1.0" << QStringList{"first:vantors_2_1_0.vts", "second:vantors_3_0_0.vts"} << "" << "";
        QTest::newRow("on the SSD only") << true << "1.0.0" << QStringList{"ssd:vantors_3_0_0.vts"} << "" << "";
        QTest::newRow("a link is no package") << true << "1.0.0" << QStringList{"first:vantors_3_0_0.vts>"} << ""
                                              << "";
        QTest::newRow("a folder is no package") << true << "1.0.0" << QStringList{"first:vantors_3_0_0.vts/"}
                                                << "" << "";
        QTest::newRow("lower version") << true << "1.0.0" << QStringList{"first:vantors_0_9_0.vts"}
                                       << "first:vantors_0_9_0.vts" << "0_9_0";
        QTest::newRow("no version installed") << true << "" << QStringList{"first:vantors_1_0_0.vts"}
                                              << "first:vantors_1_0_0.vts" << "1_0_0";
        QTest::newRow("letter case differs") << true << "2.1.0B" << QStringList{"first:vantors_2_1_0b.vts"}
                                             << "first:vantors_2_1_0b.vts" << "2_1_0b";
        QTest::newRow("capitals") << true << "1.0.0" << QStringList{"first:VANTORS_2_1_0.VTS"}
                                  << "first:VANTORS_2_1_0.VTS" << "2_1_0";
        QTest::newRow("second drive") << true << "1.0.0" << QStringList{"second:vantors_3_0_0.vts"}
                                      << "second:vantors_3_0_0.vts" << "3_0_0";
        QTest::newRow("first drive only")
            << true << "1.0.0" << QStringList{"second:vantors_4_0_0.vts", "first:vantors_3_0_0.vts"}
            << "first:vantors_3_0_0.vts" << "3_0_0";
        QTest::newRow("natural order") << true << "1.0.0"
                                       << QStringList{"first:vantors_2_10_0.vts", "first:vantors_2_9_0.vts"}
                                       << "first:vantors_2_9_0.vts" << "2_9_0";
    }

    void detection()
    {
        QFETCH(bool, plugged);
        QFETCH(QString, installed);
        QFETCH(QStringList, packages);
        QFETCH(QString, found);
        QFETCH(QString, version);
        Drives drives(plugged);
        QCOMPARE(drives.first.isEmpty(), !plugged);
        drives.setVersion(installed);
        for (const QString &package : packages)
            drives.put(package);
        SoftwareUpdateDlg dialog;
        QCOMPARE(buttons(dialog), (QStringList{"Start", "Cancel"}));
        click(dialog, "BUTTON_START");
        QCOMPARE(dialog.findChild<QAbstractButton *>("BUTTON_START")->text(), QString("OK"));
        if (found.isEmpty()) {
            QCOMPARE(dialog.state(), int(SoftwareUpdateDlg::STATE_NOT_DETECTED));
            QCOMPARE(message(dialog), kNotDetected);
            QCOMPARE(buttons(dialog), QStringList{"Exit"});
            return;
        }
        QCOMPARE(dialog.state(), int(SoftwareUpdateDlg::STATE_DETECTED));
        QCOMPARE(message(dialog), kDetected);
        QCOMPARE(buttons(dialog), (QStringList{"OK", "Cancel"}));
        QCOMPARE(dialog.updateFilePath(), drives.folder(found.section(':', 0, 0)) + "/" + found.section(':', 1));
        QCOMPARE(dialog.updateVersion(), version);
    }

    // OK installs; the result shows with the buttons of its state; Restart or Exit closes.
    void updateRoads_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("installed");
        QTest::newRow("complete") << "full" << true;
        QTest::newRow("hostile") << "dotdot" << false;
        QTest::newRow("damaged") << "truncated" << false;
    }

    void updateRoads()
    {
        QFETCH(QString, kind);
        QFETCH(bool, installed);
        Drives drives;
        drives.put("first:vantors_2_1_0.vts", kind);
        const QMap<QString, QByteArray> before = snapshot(Paths::path("/root"));
        SoftwareUpdateDlg dialog;
        QSignalSpy finished(&dialog, &QDialog::finished);
        runUpdate(dialog);
        QVERIFY(!QApplication::overrideCursor());
        const QStringList expectedKeys = installed ? QStringList{"2.1.0", "vantors_2_1_0"}
                                                   : QStringList{"1.0.0", "vantors_1_0_0"};
        QCOMPARE(versionKeys(), expectedKeys);
        if (installed) {
            QCOMPARE(dialog.state(), int(SoftwareUpdateDlg::STATE_COMPLETE));
            QCOMPARE(message(dialog), kComplete);
            QCOMPARE(buttons(dialog), QStringList{"Restart"});
            QVERIFY(drives.actions.calls().contains("sync")); // the disk was flushed
            QVERIFY(!dialog.softwareUpdated());
            click(dialog, "BUTTON_RESTART");
            QVERIFY(dialog.softwareUpdated());
        } else {
            QCOMPARE(dialog.state(), int(SoftwareUpdateDlg::STATE_FAILED));
            QCOMPARE(message(dialog), kFailed);
            QCOMPARE(buttons(dialog), QStringList{"Exit"});
            QCOMPARE(snapshot(Paths::path("/root")), before);
            click(dialog, "BUTTON_EXIT");
            QVERIFY(!dialog.softwareUpdated());
        }
        QCOMPARE(finished.count(), 1);
    }

    // While the worker runs: no button, no way to close, the bar grows by 2 pixels a paint up to
    // 380; leaving the dialog then waits for the worker.
    void whileUpdating()
    {
        Drives drives;
        drives.put("first:vantors_2_1_0.vts", "full");
        std::atomic<bool> release{false};
        drives.actions.setHandler([&release](const QString &action, const QStringList &) -> std::optional<ProcessResult> {
            while (action == "tar" && !release)
                QThread::msleep(10);
            return std::nullopt;
        });
        auto dialog = std::make_unique<SoftwareUpdateDlg>();
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        click(*dialog, "BUTTON_START");
        click(*dialog, "BUTTON_START");
        QCOMPARE(dialog->state(), int(SoftwareUpdateDlg::STATE_UPDATING));
        QVERIFY(buttons(*dialog).isEmpty());
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        dialog->reject();
        QCOMPARE(finished.count(), 0);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        const int start = dialog->progressWidth();
        dialog->repaint();
        QCOMPARE(dialog->progressWidth(), start + 2);
        for (int i = 0; i < 200; ++i)
            dialog->repaint();
        QCOMPARE(dialog->progressWidth(), 380);
        const QImage shown = dialog->grab().toImage();
        QCOMPARE(shown.pixelColor(60 + 370, 246).blue() > 200 && shown.pixelColor(60 + 370, 246).red() < 200, true);

        // The result arrives only after the dialog has gone: the worker is waited for, then freed.
        release = true;
        dialog.reset();
        QCoreApplication::processEvents();
        QVERIFY(!QFileInfo::exists(Paths::path("/root/Microscope/temp")));
        QVERIFY(!QApplication::overrideCursor());
    }

    void cancelLeavesEverythingAsItWas()
    {
        Drives drives;
        drives.put("first:vantors_2_1_0.vts", "full");
        for (int presses = 0; presses < 2; ++presses) {
            SoftwareUpdateDlg dialog;
            for (int i = 0; i < presses; ++i)
                click(dialog, "BUTTON_START");
            QSignalSpy finished(&dialog, &QDialog::finished);
            click(dialog, "BUTTON_CANCEL");
            QCOMPARE(finished.count(), 1);
            QVERIFY(!dialog.softwareUpdated());
        }
        QCOMPARE(versionKeys(), (QStringList{"1.0.0", "vantors_1_0_0"}));
        QVERIFY(!QFileInfo::exists(Paths::path("/root/Microscope/restore")));
    }

    // The settings dialog's button: disabled while the update dialog runs; only Restart after a
    // completed update restarts, once.
    void settingsButton_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("closer");
        QTest::addColumn<int>("restarts");
        QTest::newRow("restart") << "full" << "BUTTON_RESTART" << 1;
        QTest::newRow("failed") << "link-root" << "BUTTON_EXIT" << 0;
        QTest::newRow("cancelled") << "full" << "BUTTON_CANCEL" << 0;
    }

    void settingsButton()
    {
        QFETCH(QString, kind);
        QFETCH(QString, closer);
        QFETCH(int, restarts);
        SetupDlgBench bench;
        Drives drives; // its root and actions stand in for the bench's from here on
        drives.put("first:vantors_2_1_0.vts", kind);
        bench.open();
        bool enabledDuring = true;
        QString stateAtClose;
        DialogScripts::pushAct(
            [&](QDialog *shown) {
                auto *update = qobject_cast<SoftwareUpdateDlg *>(shown);
                QVERIFY(update);
                enabledDuring = bench.dialog->isEnabled();
                if (closer != "BUTTON_CANCEL")
                    runUpdate(*update);
                stateAtClose = QString::number(update->state());
                DialogRunner::click(shown, closer);
            },
            180000);
        QSignalSpy closing(bench.dialog.get(), &SetupDlg::signalClosingSystem);
        bench.click("BUTTON_SW_UPDATE");
        QCOMPARE(DialogRunner::log().filter("SoftwareUpdateDlg").size(), 1);
        QVERIFY(!enabledDuring);
        QVERIFY(bench.dialog->isEnabled());
        QCOMPARE(stateAtClose, QString::number(closer == "BUTTON_RESTART"  ? SoftwareUpdateDlg::STATE_COMPLETE
                                               : closer == "BUTTON_EXIT" ? SoftwareUpdateDlg::STATE_FAILED
                                                                         : SoftwareUpdateDlg::STATE_START));
        QCOMPARE(closing.count(), restarts);
        if (restarts)
            QCOMPARE(closing.value(0).value(0).toInt(), 19088743);
    }
};

QTEST_MAIN(TestSoftwareUpdateDlg)
#include "tst_softwareupdatedlg.moc"
