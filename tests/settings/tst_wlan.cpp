// The Wi-Fi adapter monitor of QC test mode, the default gateway and the settings' Wi-Fi test,
// answered with the captured outputs of ifconfig, route -n, wpa_cli and ping (tests/data/wlan).
#include "SetupDlgBench.h"
#include "Paths.h"
#include "WLANMonitor.h"

#include <QAbstractButton>
#include <QDir>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

namespace {

QByteArray capture(const QString &name)
{
    QFile file(TestRoot::dataDir() + "/wlan/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing " + name.toUtf8() + ">");
}

ProcessResult answer(const QByteArray &output, const QByteArray &errors = {}, bool timedOut = false)
{
    ProcessResult result;
    result.started = true;
    result.timedOut = timedOut;
    result.exitCode = timedOut ? -1 : 0;
    result.output = output;
    result.errors = errors;
    return result;
}

// The adapters the kernel lists now.
void setAdapters(const TestRoot &root, const QStringList &names)
{
    QDir net(root.makeDir("/sys/class/net"));
    for (const QString &entry : net.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        net.rmdir(entry);
    for (const QString &name : names)
        net.mkdir(name);
}

QStringList reports(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &report : spy)
        list << report[0].toString() + " " + report[1].toString();
    return list;
}

const QString kSupplicant = "wpa_supplicant -B -Dwext -iwlan0 -c/etc/wpa_supplicant/wpa_supplicant.conf "
                            "-f/tmp/wpa_supplicant.log";

} // namespace

class TestWlan : public QObject
{
    Q_OBJECT
private slots:
    // Polls one after the other over the adapters listed at each: the programs run and the reports.
    void polls_data()
    {
        QTest::addColumn<QList<QStringList>>("adapters"); // per poll
        QTest::addColumn<QString>("ifconfig");            // the capture ifconfig answers
        QTest::addColumn<bool>("supplicantRuns");         // wpa_cli reaches a wpa_supplicant
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("reported");
        const QStringList wlan0{"wlan0"}, none;
        QTest::newRow("appears, brought up") << QList<QStringList>{wlan0, wlan0} << "ifconfig.txt" << false
                                             << QStringList{"ifconfig", "ifconfig wlan0 up", "wpa_cli -i wlan0 status", kSupplicant}
                                             << QStringList{"1 wlan0"};
        QTest::newRow("appears, supplicant answers") << QList<QStringList>{wlan0} << "ifconfig.txt" << true
                                                     << QStringList{"ifconfig", "ifconfig wlan0 up", "wpa_cli -i wlan0 status"}
                                                     << QStringList{"1 wlan0"};
        QTest::newRow("already up") << QList<QStringList>{wlan0} << "ifconfig_wlan0.txt" << false
                                    << QStringList{"ifconfig"} << QStringList{"1 wlan0"};
        QTest::newRow("goes") << QList<QStringList>{wlan0, none, none} << "ifconfig_wlan0.txt" << false
                              << QStringList{"ifconfig", "pkill -9 wpa_supplicant"} << QStringList{"1 wlan0", "0 "};
        QTest::newRow("none at start kills nothing") << QList<QStringList>{none, {"eth0", "lo"}} << "ifconfig.txt" << false
                                                     << QStringList() << QStringList();
        QTest::newRow("comes back") << QList<QStringList>{wlan0, none, wlan0} << "ifconfig_wlan0.txt" << false
                                    << QStringList{"ifconfig", "pkill -9 wpa_supplicant", "ifconfig"}
                                    << QStringList{"1 wlan0", "0 ", "1 wlan0"};
    }

    void polls()
    {
        QFETCH(QList<QStringList>, adapters);
        QFETCH(QString, ifconfig);
        QFETCH(bool, supplicantRuns);
        SetupDlgBench bench;
        const QByteArray listing = capture(ifconfig), refusal = capture("wpa_cli_no_supplicant.err");
        bench.actions.setHandler([&](const QString &program, const QStringList &args) -> std::optional<ProcessResult> {
            if (program == "ifconfig" && args.isEmpty())
                return answer(listing);
            if (program == "wpa_cli")
                return supplicantRuns ? answer("wpa_state=COMPLETED\n") : answer({}, refusal, false);
            return std::nullopt;
        });
        WLANMonitor monitor;
        QSignalSpy spy(&monitor, &WLANMonitor::signalDetectDevice);
        for (const QStringList &present : adapters) {
            setAdapters(bench.root, present);
            monitor.start();
            QVERIFY(monitor.wait(20000));
        }
        QTEST(bench.actions.calls(), "calls");
        QTEST(reports(spy), "reported");
    }

    // Several adapters: the first of the listing is brought up and reported, once.
    void severalAdapters()
    {
        SetupDlgBench bench;
        setAdapters(bench.root, {"wlan1", "wlan0", "eth0"});
        const QStringList listed = QDir(Paths::path("/sys/class/net")).entryList({"wlan*"}, QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted);
        WLANMonitor monitor;
        QSignalSpy spy(&monitor, &WLANMonitor::signalDetectDevice);
        monitor.start();
        QVERIFY(monitor.wait(20000));
        QCOMPARE(reports(spy), QStringList{"1 " + listed.first()});
        QCOMPARE(bench.actions.calls().value(1), "ifconfig " + listed.first() + " up");
    }

    // Ticks while a poll runs start nothing; the timer polls by itself; stop waits for the poll.
    void ticksNeverOverlapAndStopWaits()
    {
        SetupDlgBench bench;
        setAdapters(bench.root, {"wlan0"});
        QSemaphore entered, release;
        bench.actions.setHandler([&](const QString &program, const QStringList &args) -> std::optional<ProcessResult> {
            if (program == "ifconfig" && args.isEmpty()) {
                entered.release();
                release.acquire();
            }
            return std::nullopt;
        });
        WLANMonitor monitor;
        QSignalSpy spy(&monitor, &WLANMonitor::signalDetectDevice);
        monitor.slotPullingTimer();
        QVERIFY(entered.tryAcquire(1, 20000));
        for (int i = 0; i < 3; ++i)
            monitor.slotPullingTimer();
        release.release();
        QVERIFY(monitor.wait(20000));
        QCOMPARE(bench.actions.calls().count("ifconfig"), 1);

        // The poll timer runs every 2 s: the adapter's removal is noticed without a call.
        release.release(10);
        setAdapters(bench.root, {});
        monitor.setMonitoring(true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 20000);
        QCOMPARE(reports(spy).last(), QString("0 "));
        monitor.stop();
        QVERIFY(!monitor.isRunning());
    }

    void gateway_data()
    {
        QTest::addColumn<QByteArray>("routes");
        QTest::addColumn<QString>("gateway");
        const QByteArray head = "Kernel IP routing table\n"
                                "Destination     Gateway         Genmask         Flags Metric Ref    Use Iface\n";
        QTest::newRow("captured") << capture("route.txt") << "192.0.2.1";
        QTest::newRow("no output") << QByteArray() << "";
        QTest::newRow("headings only") << head << "";
        QTest::newRow("no default route")
            << head + "192.0.2.0       0.0.0.0         255.255.255.0   U     0      0        0 wlan0\n" << "";
        QTest::newRow("UG in a heading is not a route") << QByteArray("x 10.0.0.1 0.0.0.0 UG 0 wlan0\n\n") << "";
        QTest::newRow("short line skipped") << head + "0.0.0.0 10.0.0.1 UG\n"
                                                      "0.0.0.0         10.1.1.1        0.0.0.0         UG    600    0        0 wlan0\n"
                                            << "10.1.1.1";
        QTest::newRow("host route UGH") << head + "10.8.0.0        10.0.0.254      255.255.0.0     UGH   0      0        0 wlan0"
                                        << "10.0.0.254";
        QTest::newRow("fields end at the last blank") << head + "0.0.0.0 10.2.2.2 UG" << "";
    }

    void gateway()
    {
        QFETCH(QByteArray, routes);
        SetupDlgBench bench;
        bench.actions.setHandler([&](const QString &program, const QStringList &) -> std::optional<ProcessResult> {
            if (program == "route")
                return answer(routes);
            return std::nullopt;
        });
        bench.build();
        QTEST(bench.dialog->gateway(), "gateway");
        QCOMPARE(bench.actions.calls(), QStringList{"route -n"});
    }

    // The button and the monitor by start mode and operating-system version.
    void buttonAndMonitor_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("os");
        QTest::addColumn<bool>("shown");
        QTest::newRow("QC, 2.1") << int(EXEC_QC_TEST) << "2.1" << true;
        QTest::newRow("QC, 2.1.0") << int(EXEC_QC_TEST) << "2.1.0" << true;
        QTest::newRow("QC, 2.0.9") << int(EXEC_QC_TEST) << "2.0.9" << false;
        QTest::newRow("QC, 3") << int(EXEC_QC_TEST) << "3" << true;
        QTest::newRow("QC, none") << int(EXEC_QC_TEST) << "" << false;
        QTest::newRow("serial log, 2.2") << int(EXEC_SERIAL_LOG) << "2.2" << false;
        QTest::newRow("normal, 2.2") << int(EXEC_NORMAL) << "2.2" << false;
    }

    void buttonAndMonitor()
    {
        QFETCH(int, mode);
        QFETCH(QString, os);
        QFETCH(bool, shown);
        SetupDlgBench bench{TExecMode(mode)};
        bench.root.writeFile("/root/Microscope/Microscope.ini", "[OS]\nVersion=" + os.toUtf8() + "\n");
        setAdapters(bench.root, {"wlan0"});
        bench.build();
        QCOMPARE(!bench.widget<QAbstractButton>("BUTTON_WIFI_TEST")->isHidden(), shown);
        // The first poll runs as the dialog is built; none at all without the button.
        if (shown)
            QTRY_COMPARE_WITH_TIMEOUT(bench.actions.calls().value(0), QString("ifconfig"), 20000);
        else
            QTest::qWait(100);
        QCOMPARE(bench.actions.calls().isEmpty(), !shown);
        bench.open(); // a second opening starts no second poll while the first reported
        bench.dialog.reset(); // waits for a running poll
        QCOMPARE(bench.actions.calls().count("ifconfig"), shown ? 1 : 0);
    }

    // The test's outcomes: with the adapter reported, dhclient, route -n and ping decide.
    void wifiTest_data()
    {
        QTest::addColumn<bool>("adapter");
        QTest::addColumn<bool>("dhcpTimesOut");
        QTest::addColumn<QByteArray>("routes");
        QTest::addColumn<QByteArray>("ping");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("calls");
        const QStringList all{"dhclient wlan0", "route -n", "ping 192.0.2.1"};
        QTest::newRow("connected") << true << false << capture("route.txt") << capture("ping_reply.txt") << "WiFi connected" << all;
        // ping writes its heading and "Destination Host Unreachable": no reply, no connection.
        QTest::newRow("gateway unreachable") << true << false << capture("route.txt") << capture("ping_unreachable.txt")
                                             << "WiFi was not connected" << all;
        QTest::newRow("no default route") << true << false << QByteArray("Kernel IP routing table\n") << capture("ping_reply.txt")
                                          << "WiFi was not connected" << QStringList{"dhclient wlan0", "route -n"};
        QTest::newRow("dhclient times out") << true << true << capture("route.txt") << capture("ping_reply.txt")
                                            << "WiFi was not connected" << QStringList{"dhclient wlan0"};
        QTest::newRow("no adapter") << false << false << capture("route.txt") << capture("ping_reply.txt")
                                    << "WiFi was not connected" << QStringList();
    }

    void wifiTest()
    {
        QFETCH(bool, adapter);
        QFETCH(bool, dhcpTimesOut);
        QFETCH(QByteArray, routes);
        QFETCH(QByteArray, ping);
        SetupDlgBench bench(EXEC_QC_TEST);
        bench.root.writeFile("/root/Microscope/Microscope.ini", "[OS]\nVersion=2.1.0\n");
        setAdapters(bench.root, adapter ? QStringList{"wlan0"} : QStringList{});
        const QByteArray listing = capture("ifconfig_wlan0.txt");
        bench.actions.setHandler([&](const QString &program, const QStringList &args) -> std::optional<ProcessResult> {
            if (program == "ifconfig" && args.isEmpty())
                return answer(listing);
            if (program == "dhclient")
                return answer({}, {}, dhcpTimesOut);
            if (program == "route")
                return answer(routes);
            if (program == "ping")
                return answer(ping);
            return std::nullopt;
        });
        bench.build();
        if (adapter)
            QTRY_VERIFY_WITH_TIMEOUT(bench.actions.calls().contains("ifconfig"), 20000);
        QTest::qWait(50); // the report reaches the dialog
        bench.actions.clearCalls();
        bench.click("BUTTON_WIFI_TEST");
        QTEST(bench.actions.calls(), "calls");
        QFETCH(QString, message);
        QCOMPARE(*bench.messages, QStringList{"MessageDlg:" + message});
    }
};

QTEST_MAIN(TestWlan)
#include "tst_wlan.moc"
