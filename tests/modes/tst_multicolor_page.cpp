// The Multicolor page off the instrument: the live video and the panel are played by the test
// (a capture request answers with a frame of the depth and filter the test chose, or with none).
// Controls per state, the capture chain's signal order, refused, frameless and out-of-range
// captures, auto-run, settings and a silent destructor.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "LSpinBox.h"
#include "MessageDlg.h"
#include "MultiColorModel.h"
#include "MultiColorWidget.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ui_MultiColorWidget.h"

#include <QMetaMethod>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(uchar *)
Q_DECLARE_METATYPE(TMeasurementTool)

class TestMultiColorPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<MultiColorWidget> m_page;
    QStringList m_log;     // page signals in order, with their first bool or int argument
    QStringList m_dialogs; // texts of the message boxes, answered with m_answer
    int m_answer = 1;
    int m_bits = 8;        // depth of the next frame
    bool m_noFrame = false;
    std::vector<uchar> m_frame = std::vector<uchar>(size_t(1280) * 1024 * 2, 0x40);

    Ui_MultiColorWidget *ui() const { return m_page->form(); }

    void writeConfig(const QByteArray &text) { m_root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", text); }

    // Records every signal of the page by name (and its first argument when it is a bool or an
    // int): a spy per signal keeps the arguments, one slot keeps the order.
    std::map<int, std::unique_ptr<QSignalSpy>> m_spies;
    void recordSignals(QObject *page)
    {
        const QMetaObject *meta = page->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("onPageSignal()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod m = meta->method(i);
            if (m.methodType() != QMetaMethod::Signal)
                continue;
            m_spies[i] = std::make_unique<QSignalSpy>(page, (QByteArray("2") + m.methodSignature()).constData());
            connect(page, m, this, slot);
        }
    }

    void makePage()
    {
        m_page = std::make_unique<MultiColorWidget>();
        m_page->show();
        recordSignals(m_page.get());
        connect(m_page.get(), &MultiColorWidget::capture, this, [this] {
            if (!m_noFrame)
                m_page->captureCompleted(m_frame.data(), m_bits);
        });
        m_page->setCurrentState(MULTI_LIVE);
        m_page->slotLEDState(true);
        m_log.clear();
    }

    // A frame captured under filter position filter, returning to live first.
    void captureUnder(int filter, int bits)
    {
        m_bits = bits;
        m_page->setCurrentFilterPosition(filter);
        if (m_page->currentState() != MULTI_LIVE)
            ui()->BUTTON_LIVE->click();
        m_page->slotWaitForVideoWidgetIsStarted();
        ui()->BUTTON_CAPTURE->click();
    }

    QString lastOf(const QString &name) const
    {
        for (int i = m_log.size() - 1; i >= 0; --i)
            if (m_log[i].startsWith(name + "("))
                return m_log[i];
        return {};
    }
    int countOf(const QString &name) const
    {
        return int(std::count_if(m_log.begin(), m_log.end(), [&](const QString &s) { return s.startsWith(name + "("); }));
    }

public slots:
    void onPageSignal()
    {
        const int index = senderSignalIndex();
        QString arg;
        QSignalSpy &spy = *m_spies.at(index);
        if (spy.isValid() && !spy.isEmpty()) {
            const QVariant v = spy.takeLast().value(0);
            if (v.type() == QVariant::Bool || v.type() == QVariant::Int)
                arg = v.toString();
        }
        m_log << QString("%1(%2)").arg(QString::fromLatin1(sender()->metaObject()->method(index).name()), arg);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uchar *>("uchar*");
        qRegisterMetaType<TMeasurementTool>("TMeasurementTool");
    }

    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        g_CurrentMenu = MENU_MULTICOLOR;
        initializePseudoColorTable();
        MultiColorWidget::setAutoRunStepMs(20);
        DialogRunner::clearScripts();
        m_dialogs.clear();
        m_answer = 1;
        m_bits = 8;
        m_noFrame = false;
        DialogRunner::setStandingScript([this](QDialog *d) {
            m_dialogs << DialogScripts::messageText(d);
            return m_answer;
        });
    }

    void cleanup()
    {
        m_page.reset();
        m_spies.clear();
        DialogRunner::clearScripts();
        MultiColorWidget::setAutoRunStepMs(0);
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // What each state shows and enables, with and without a held channel (channel 2, CH3).
    void controlsPerState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("expected"); // flags, in the order of the checks below
        // Live usable (shown and enabled), capture shown, tile, overlay, clear and annotate
        // enabled, scale-bar box shown, tile and overlay checked, CH3 controls enabled, save usable.
        QTest::newRow("idle, nothing held") << 0 << false << "10000000000";
        QTest::newRow("idle, held") << 0 << true << "10111000000";
        QTest::newRow("live, nothing held") << 1 << false << "01000000000";
        QTest::newRow("live, held") << 1 << true << "01111000000";
        QTest::newRow("channel") << 2 << true << "00111110010"; // live and save wait for the video stop
        QTest::newRow("tile") << 3 << true << "10111001011";
        QTest::newRow("overlay") << 4 << true << "10111110111";
    }
    void controlsPerState()
    {
        QFETCH(int, state);
        QFETCH(bool, held);
        QFETCH(QString, expected);
        makePage();
        if (held)
            captureUnder(2, 8);
        m_page->slotWaitForVideoWidgetIsStopped();
        m_page->setCurrentState(TMultiState(state));
        const auto usable = [](QWidget *w) { return w->isVisible() && w->isEnabled(); };
        const bool flags[] = {usable(ui()->BUTTON_LIVE), ui()->BUTTON_CAPTURE->isVisible(),
                              ui()->BUTTON_TILE_ON->isEnabled(), ui()->BUTTON_OVERLAY_ON->isEnabled(),
                              ui()->BUTTON_CLEAR->isEnabled(), ui()->BUTTON_ANNOTATE->isEnabled(),
                              ui()->CHKBOX_SCALEBAR->isVisible(), ui()->BUTTON_TILE_ON->isChecked(),
                              ui()->BUTTON_OVERLAY_ON->isChecked(),
                              ui()->SLIDER_CH3_BRIGHTNESS->isEnabled() && ui()->SPINBOX_CH3_CONTRAST->isEnabled(),
                              usable(ui()->BUTTON_SAVE_BEFORE)};
        QString got;
        for (bool f : flags)
            got += f ? '1' : '0';
        QCOMPARE(got, expected);
        QVERIFY(!ui()->SLIDER_CH2_BRIGHTNESS->isEnabled()); // a channel not held stays off
    }

    void captureChainInOrder()
    {
        makePage();
        captureUnder(2, 8);
        const QStringList expected{"signalEnableControlWidgetUI(false)", "signalEnableMainMenu(false)", "liveMode(false)",
                                   "capture()", "captured(true)", "lightOff()", "imageCapturedTile(2)",
                                   "imageCaptured(2)", "imageDisplayStateChanged(2)"};
        QStringList chain;
        for (const QString &s : m_log)
            if (expected.contains(s))
                chain << s;
        QCOMPARE(chain, expected);
        QCOMPARE(m_log.last(), QString("changedState()"));
        QCOMPARE(lastOf("measurementToolChanged"), QString("measurementToolChanged(12)"));
        QCOMPARE(m_page->currentState(), MULTI_CHANNEL);
        // One busy override until the video stop gives the plain cursor back.
        QVERIFY(QGuiApplication::overrideCursor());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        m_page->slotWaitForVideoWidgetIsStopped();
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(m_page->model()->isImageCaptured(2));
        QVERIFY(ui()->SLIDER_CH3_BRIGHTNESS->isEnabled());
        QCOMPARE(ui()->SLIDER_CH3_BRIGHTNESS->value(), 0);
        QCOMPARE(ui()->SPINBOX_CH3_CONTRAST->value(), 10);
        QCOMPARE(ui()->SLIDER_CH3_BRIGHTNESS->minimum(), -255);
        QVERIFY(!ui()->BUTTON_THUMBNAIL_CH3->icon().isNull());
        // A 16-bit frame widens the brightness range.
        m_page->clear();
        captureUnder(1, 16);
        QCOMPARE(ui()->SPINBOX_CH4_BRIGHTNESS->maximum(), 4094);
        QCOMPARE(m_page->model()->bits(1), 16);
    }

    // Refused: a 16-bit frame while 8-bit channels are held; an unknown filter position; no frame.
    void refusedCapturesReturnToLive_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("noFrame");
        QTest::addColumn<int>("message");
        QTest::newRow("mixed depths") << 2 << 16 << false << int(MSG_MIXED_CAMERA_MODES);
        QTest::newRow("filter outside 0..3") << 4 << 8 << false << int(MSG_LENS_FILTER_NOT_IN_POSITION);
        QTest::newRow("no frame") << 2 << 8 << true << -1;
    }
    void refusedCapturesReturnToLive()
    {
        QFETCH(int, filter);
        QFETCH(int, bits);
        QFETCH(bool, noFrame);
        QFETCH(int, message);
        makePage();
        captureUnder(0, 8);
        m_log.clear();
        m_noFrame = noFrame;
        captureUnder(filter, bits);
        QCOMPARE(m_dialogs, message < 0 ? QStringList() : QStringList{MessageDlg::presetText(TMessageType(message))});
        QCOMPARE(m_page->currentState(), MULTI_LIVE);
        QCOMPARE(lastOf("signalEnableControlWidgetUI"), QString("signalEnableControlWidgetUI(true)"));
        QCOMPARE(lastOf("signalEnableMainMenu"), QString("signalEnableMainMenu(true)"));
        QCOMPARE(lastOf("liveMode"), QString("liveMode(true)"));
        QCOMPARE(countOf("captured"), 0);
        QCOMPARE(m_page->model()->numberOfCapturedImage(), 1);
        // The page's depths are still those of the 8-bit channel held.
        QSignalSpy overlay(m_page.get(), &MultiColorWidget::overlayImageChanged);
        ui()->BUTTON_OVERLAY_ON->click();
        QCOMPARE(overlay.size(), 1);
        QCOMPARE(overlay.first().at(1).toInt(), 8);
        QCOMPARE(m_page->model()->bits(0), 8);
    }

    // A 16-bit capture is accepted again after Clear, and re-capturing the only channel held
    // at another depth is accepted; Clear asks first.
    void clearAsksAndFreesTheDepth()
    {
        makePage();
        captureUnder(0, 8);
        captureUnder(0, 16);
        QCOMPARE(m_page->model()->bits(0), 16);
        captureUnder(2, 8);
        QCOMPARE(m_dialogs.size(), 1);
        m_answer = 0;
        ui()->BUTTON_CLEAR->setEnabled(true);
        ui()->BUTTON_CLEAR->click();
        QCOMPARE(m_page->model()->numberOfCapturedImage(), 1);
        m_answer = 1;
        ui()->BUTTON_CLEAR->click();
        QCOMPARE(m_dialogs.last(), MessageDlg::presetText(MSG_DELETE_DATA));
        QCOMPARE(m_page->model()->numberOfCapturedImage(), 0);
        QCOMPARE(lastOf("measurementToolChanged"), QString("measurementToolChanged(0)"));
        captureUnder(2, 8);
        QVERIFY(m_page->model()->isImageCaptured(2));
    }

    void cameraModeNeverChangesAHeldChannel()
    {
        makePage();
        captureUnder(1, 8);
        m_page->slotChangeCameraMode(16);
        QCOMPARE(ui()->LABEL_HIST_MAX_INTENSITY->text(), QString("4095"));
        QSignalSpy tiles(m_page.get(), &MultiColorWidget::imageCapturedTile);
        m_page->setPseudoColor(true, 0, 0);
        QCOMPARE(tiles.size(), 1);
        QCOMPARE(tiles.first().at(5).toInt(), 8);
    }

    void autoRun_data()
    {
        QTest::addColumn<int>("count");
        // "", Stop in the wait after a live start or after a capture, another menu after a capture
        QTest::addColumn<QString>("interrupt");
        QTest::addColumn<int>("captures");
        QTest::addColumn<int>("endState");
        QTest::newRow("two") << 2 << "" << 3 << int(MULTI_CHANNEL);
        QTest::newRow("stop while live") << 5 << "stop live" << 2 << int(MULTI_CHANNEL);
        QTest::newRow("stop after capture") << 5 << "stop capture" << 1 << int(MULTI_LIVE);
        QTest::newRow("another menu") << 5 << "menu" << 1 << int(MULTI_CHANNEL);
    }
    void autoRun()
    {
        QFETCH(int, count);
        QFETCH(QString, interrupt);
        QFETCH(int, captures);
        QFETCH(int, endState);
        makePage();
        ui()->SPINBOX_AUTORUN->setValue(count);
        int taken = 0;
        const auto stop = [this] { QTimer::singleShot(0, ui()->BUTTON_AUTORUN_STOP, &QPushButton::click); };
        connect(m_page.get(), &MultiColorWidget::capture, this, [&] { ++taken; });
        connect(m_page.get(), &MultiColorWidget::lightOn, this, [&] {
            if (interrupt == "stop live" && taken == 1)
                stop();
        });
        connect(m_page.get(), &MultiColorWidget::captured, this, [&](bool held) {
            if (held && interrupt == "stop capture")
                stop();
            if (held && interrupt == "menu")
                g_CurrentMenu = MENU_ZSTACK;
        });
        ui()->BUTTON_AUTORUN->click();
        // Hang bounds only: a capture under the sanitiser on a busy machine takes its time.
        QTRY_COMPARE_WITH_TIMEOUT(taken, captures, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(int(m_page->currentState()), endState, 60000);
        QTest::qWait(400); // twenty wait steps more: the series has ended
        QCOMPARE(taken, captures);
        g_CurrentMenu = MENU_MULTICOLOR;
        QCOMPARE(m_dialogs, QStringList());
    }

    void settingsDefaultsAndClamps()
    {
        makePage();
        QCOMPARE(ui()->BUTTON_QUICK_SAVE->isVisible(), false);
        QVERIFY(ui()->BUTTON_CAPTURE->styleSheet().contains("capture.png"));
        QCOMPARE(ui()->LABEL_CH1->text(), QString());
        QCOMPARE(ui()->LABEL_HIST_MAX_INTENSITY->text(), QString("255"));
        QSignalSpy line(m_page.get(), &MultiColorWidget::currentLineThicknessChanged);
        QSignalSpy lineColor(m_page.get(), &MultiColorWidget::currentLineColorChanged);
        QSignalSpy font(m_page.get(), &MultiColorWidget::currentFontThicknessChanged);
        QSignalSpy fontColor(m_page.get(), &MultiColorWidget::currentFontColorChanged);
        m_page->readSetting();
        QCOMPARE(line.first().first().toInt(), 1);
        QCOMPARE(lineColor.first().first().value<QColor>(), g_ColorTable[1]);
        QCOMPARE(font.first().first().toInt(), 24);
        QCOMPARE(fontColor.first().first().value<QColor>(), g_ColorTable[1]);

        writeConfig("[Setting_MultiColor]\nLineThickness=3\nFontThickness=3\nLineColor=12\nFontColor=-4\nAutosave=1\n"
                    "[Filter]\n0=Transmitted\n1=ABCDEFGHI\n2=RFP\n3=DAPI\n[FilterColor]\n1=9\n2=3\n3=-1\n[Camera]\nMode=12\n");
        m_page->readSetting();
        QCOMPARE(line.last().first().toInt(), 4);
        QCOMPARE(font.last().first().toInt(), 24); // 3: no font size the settings offer
        QCOMPARE(lineColor.last().first().value<QColor>(), g_ColorTable[1]); // 12 and -4: the defaults
        QCOMPARE(fontColor.last().first().value<QColor>(), g_ColorTable[1]);
        QVERIFY(ui()->BUTTON_CAPTURE->styleSheet().contains("capture_save.png"));
        QCOMPARE(ui()->LABEL_CH1->text(), QString("Trans"));
        QCOMPARE(ui()->LABEL_CH2->text(), QString("ABCDE"));
        QCOMPARE(ui()->LABEL_INTENSITY_CH_2->text(), QString("ABCDE"));
        QCOMPARE(ui()->TABLEWIDGET_MEASUREMENT_RESULT->horizontalHeaderItem(7)->text(), QString("Min.(ABCDE)"));
        QCOMPARE(ui()->LABEL_HIST_MAX_INTENSITY->text(), QString("255")); // mode 12 is the 8-bit mode

        // Colours outside the table read as the defaults and paint the frames: CH2 (index 3) green,
        // CH4 (index 1) blue.
        captureUnder(3, 8);
        captureUnder(1, 8);
        const QImage shot = m_page->grab().toImage();
        const QPoint ch2 = ui()->FRAME_CATEGORY_1->pos() + ui()->BUTTON_THUMBNAIL_CH2->geometry().topLeft();
        const QPoint ch4 = ui()->FRAME_CATEGORY_1->pos() + ui()->BUTTON_THUMBNAIL_CH4->geometry().topLeft();
        QCOMPARE(QColor(shot.pixel(ch2 + QPoint(17, -1))), g_ColorTable[1]);
        QCOMPARE(QColor(shot.pixel(ch4 + QPoint(17, -1))), g_ColorTable[2]);

        writeConfig("[Camera]\nMode=16\n");
        m_page->readSetting();
        QCOMPARE(ui()->LABEL_HIST_MAX_INTENSITY->text(), QString("4095"));
        QCOMPARE(ui()->LABEL_LINE_MAX_INTENSITY->text(), QString("4095"));
    }

    void uiModesMoveThePanels_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("frames"); // which of frames 1, 2, 3 show
        QTest::addColumn<int>("frame2y");
        QTest::addColumn<QString>("lower");
        QTest::newRow("images, analysis") << "BUTTON_MODE1" << "110" << 529 << "      ANALYSIS";
        QTest::newRow("images, data") << "BUTTON_MODE2" << "101" << -1 << "      DATA"; // frame 2 hidden
        QTest::newRow("analysis, data") << "BUTTON_MODE3" << "011" << 96 << "      DATA";
    }
    void uiModesMoveThePanels()
    {
        QFETCH(QString, button);
        QFETCH(QString, frames);
        QFETCH(int, frame2y);
        QFETCH(QString, lower);
        makePage();
        ui()->BUTTON_MODE3->click();
        m_page->findChild<QPushButton *>(button)->click();
        const QString got = QString("%1%2%3").arg(int(ui()->FRAME_CATEGORY_1->isVisible()))
                                .arg(int(ui()->FRAME_CATEGORY_2->isVisible())).arg(int(ui()->FRAME_CATEGORY_3->isVisible()));
        QCOMPARE(got, frames);
        if (frame2y >= 0)
            QCOMPARE(ui()->FRAME_CATEGORY_2->y(), frame2y);
        QCOMPARE(ui()->LABEL_CATEGORY_2->text(), lower);
        QVERIFY(m_page->findChild<QPushButton *>(button)->isChecked());
    }

    void toolButtons()
    {
        makePage();
        captureUnder(0, 8);
        m_log.clear();
        ui()->BUTTON_MEASURE_LINE->click();
        ui()->BUTTON_MEASURE_LINE->click(); // the current tool again: nothing
        ui()->BUTTON_MEASURE_SCALEBAR->click();
        QCOMPARE(m_log, (QStringList{"measurementToolChanged(1)", "signalShowScaleBar(true)", "measurementToolChanged(0)"}));
        QVERIFY(ui()->BUTTON_MEASURE_SELECT->isChecked() && !ui()->BUTTON_MEASURE_LINE->isChecked());
        QVERIFY(ui()->CHKBOX_SCALEBAR->isChecked());
        ui()->BUTTON_TOOL_RIGHT->click();
        ui()->BUTTON_TOOL_RIGHT->click();
        QCOMPARE(ui()->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex(), 1);
    }

    void scaleBarWithoutObjective()
    {
        makePage();
        captureUnder(0, 8);
        ui()->CHKBOX_SCALEBAR->click();
        TSScaleBar bar;
        bar.noObjective = true;
        m_page->slotScaleBarCheckBoxState(bar);
        QVERIFY(!ui()->CHKBOX_SCALEBAR->isChecked());
        QCOMPARE(m_dialogs, QStringList{MessageDlg::presetText(MSG_NO_OBJECTIVE_LENS)});
    }

    // A page being destroyed with channels held reaches nobody.
    void silentDestructor()
    {
        makePage();
        captureUnder(2, 8);
        m_log.clear();
        m_page.reset();
        QCOMPARE(m_log, QStringList());
    }

    void channelButtonsMap()
    {
        for (const auto &[button, channel] : std::vector<std::pair<int, int>>{{0, 0}, {1, 3}, {2, 2}, {3, 1}, {4, 0}, {-1, 0}})
            QCOMPARE(MultiColorWidget::convertChannelToFilter(button), channel);
    }
};

QTEST_MAIN(TestMultiColorPage)
#include "tst_multicolor_page.moc"
