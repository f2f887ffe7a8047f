// The main window's wiring on the real classes: every connection takes, receivers of one signal
// come in their order, and the five queued connections deliver only from the event loop.
#include "AppBench.h"
#include "ControlWidget.h"
#include "NIMBODlg.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"

#include <QtTest>

class TestMainWindowWiring : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;

    // Receivers of one signal of one sender, in the order the connections were made.
    QStringList receivers(const QString &sender, const QString &signal) const
    {
        QStringList out;
        for (const NIMBODlg::Connection &c : m_bench->window->connections())
            if (c.sender == sender && c.signal == signal)
                out << c.receiver + "." + c.method.section('(', 0, 0);
        return out;
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
        const auto &all = m_bench->window->connections();
        QCOMPARE(all.size(), 235);
        QVERIFY2(m_bench->window->failedConnections().isEmpty(),
                 qPrintable(m_bench->window->failedConnections().join('\n')));
        for (const NIMBODlg::Connection &c : all) {
            // Nothing of the single page, its image widget or the application-switch page.
            for (const char *name : {"m_SingleWidget", "m_SingleImageWidget", "m_MoreAppsWidget"}) {
                QVERIFY(c.sender != name);
                QVERIFY(c.receiver != name);
            }
        }
    }

    void receiversComeInTheirOrder()
    {
        const QStringList pages = {"m_MultiColorWidget", "m_ZStackWidget", "m_TimeLapseWidget", "m_CellCountWidget",
                                   "m_GrowthMonitorWidget"};
        auto each = [](const QStringList &objects, const QString &method) {
            QStringList out;
            for (const QString &o : objects)
                out << o + "." + method;
            return out;
        };
        QCOMPARE(receivers("m_VideoWidget", "captured(uchar*,int)"),
                 each(pages, "captureCompleted") << "m_ControlWidget.captureCompleted");
        QCOMPARE(receivers("m_VideoWidget", "signalVideoWidgetIsStopped()"),
                 QStringList{"NIMBODlg.slotWaitForVideoWidgetIsStopped"} + each(pages, "slotWaitForVideoWidgetIsStopped"));
        QCOMPARE(receivers("m_VideoWidget", "signalVideoWidgetIsStarted()"), each(pages, "slotWaitForVideoWidgetIsStarted"));
        QCOMPARE(receivers("m_ControlWidget", "changeFilterPosition(int)"),
                 QStringList{"m_VideoWidget.setCurrentFilterPosition"} + each(pages, "setCurrentFilterPosition"));
        QCOMPARE(receivers("m_ControlWidget", "changeLensPosition(int)"),
                 QStringList{"ScaleBar.setCurrentObjectiveLensPosition"} + each(pages, "setCurrentObjectiveLensPosition"));
        QCOMPARE(receivers("m_ControlWidget", "pseudoColorEnabled(bool,int,int)"),
                 each({"m_VideoWidget", "m_MultiColorWidget", "m_ZStackWidget", "m_ZStackImageWidget", "m_CellCountWidget",
                       "m_CellCountImageWidget", "m_GrowthMonitorWidget", "m_GrowthMonitorImageWidget",
                       "m_TimeLapseWidget", "m_TimeLapseImageWidget"},
                      "setPseudoColor"));
        QCOMPARE(receivers("m_ControlWidget", "signalLEDState(bool)"),
                 each({"m_MultiColorWidget", "m_TimeLapseWidget", "m_ZStackWidget", "m_CellCountWidget",
                       "m_GrowthMonitorWidget"},
                      "slotLEDState"));
        QCOMPARE(receivers("m_VideoWidget", "signalCameraModeChanged(int)"),
                 (QStringList{"m_ControlWidget.slotCameraModeChanged", "m_MultiColorWidget.slotChangeCameraMode",
                              "m_GrowthMonitorWidget.slotChangeCameraMode", "m_CellCountWidget.slotChangeCameraMode"}));
        QCOMPARE(receivers("ScaleBar", "signalShowScaleBar(TSScaleBar)"),
                 (QStringList{"m_MultiColorImageWidget.setScaleBar", "NIMBODlg.slotSetScaleBar",
                              "m_MultiColorWidget.slotScaleBarCheckBoxState", "m_ZStackImageWidget.setScaleBar",
                              "m_ZStackWidget.slotScaleBarCheckBoxState", "m_TimeLapseImageWidget.setScaleBar",
                              "m_TimeLapseWidget.slotScaleBarCheckBoxState", "m_CellCountImageWidget.setScaleBar",
                              "m_CellCountWidget.slotScaleBarCheckBoxState", "m_GrowthMonitorImageWidget.setScaleBar",
                              "m_GrowthMonitorWidget.slotScaleBarCheckBoxState"}));
        QCOMPARE(receivers("m_MultiColorWidget", "imageDisplayStateChanged(int)"),
                 (QStringList{"m_MultiColorImageWidget.setImageDisplayState", "NIMBODlg.slotMultiColorImageDisplayState"}));
        QCOMPARE(receivers("m_MultiColorWidget", "signalClearCapturedImage()"),
                 (QStringList{"m_MultiColorImageWidget.slotClearCapturedImage", "m_ImageGraphicsView.slotClearCapturedImage"}));
        // The navigator's zoom events are the last connection made.
        const NIMBODlg::Connection &last = m_bench->window->connections().last();
        QCOMPARE(last.sender + "." + last.signal, QStringLiteral("m_ImageGraphicsView.signalMouseZoomEvent()"));
    }

    void fiveConnectionsAreQueued()
    {
        QStringList queued;
        for (const NIMBODlg::Connection &c : m_bench->window->connections()) {
            if (c.type == Qt::QueuedConnection)
                queued << c.sender + "." + c.signal;
            else
                QCOMPARE(c.type, Qt::AutoConnection);
        }
        QCOMPARE(queued, (QStringList{"m_ControlWidget.signalParkingCompleted()",
                                      "m_ZStackWidget.signalMoveMotorPosition(int,bool)",
                                      "m_TimeLapseWidget.signalMoveMotorPosition(int,bool)",
                                      "m_CellCountWidget.signalMoveMotorPosition(int,bool)",
                                      "m_ZStackWidget.signalSetMotorSpeedAndStartZPosition(int,int)"}));

        // A page's move request returns before the panel starts the move.
        Controller &controller = m_bench->ui()->m_ControlWidget->controller();
        const int target = controller.getTargetPosition();
        emit m_bench->ui()->m_ZStackWidget->signalMoveMotorPosition(512, false);
        QCOMPARE(controller.getTargetPosition(), target);
        QTRY_VERIFY(controller.getTargetPosition() != target);
    }

    void fanOutReachesEveryPageWhateverTheScreen()
    {
        // A filter change reaches the live video first: its pseudo-colour state follows at once.
        QSignalSpy spy(m_bench->ui()->m_ControlWidget, SIGNAL(changeFilterPosition(int)));
        m_bench->sim->instrument().turnFilter(2, 50);
        QTRY_VERIFY(!spy.isEmpty());
        QTRY_COMPARE(m_bench->ui()->m_ControlWidget->currentFilterPosition(), 2);
    }
};

QTEST_MAIN(TestMainWindowWiring)
#include "tst_mainwindow_wiring.moc"
