// The Z-stack page off the instrument: the model's result codes and derived values, the slice
// files, the page's states, keyboard entry, settings, and every refusal at START (with a panel
// that answers position requests and records moves).
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ZStack.h"
#include "ZStackSliceWriter.h"
#include "ZStackWidget.h"
#include "ui_ZStackWidget.h"

#include <QLineEdit>
#include <QtTest>
#include <memory>

class TestZStack : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZStackWidget> m_page;
    int m_position = 0;    // what the fake panel answers, in motor steps
    QStringList m_moves;   // moves the page asked for
    QStringList m_dialogs; // "MessageDlg:<text>" of every box answered by the standing script

    Ui_ZStackWidget *ui() const { return m_page->form(); }

    // A page in live on the Z-stack screen, its panel played by the test.
    void makePage()
    {
        m_page = std::make_unique<ZStackWidget>();
        m_page->show();
        ZStackWidget *p = m_page.get();
        connect(p, &ZStackWidget::signalGetCurrentMotorPosition, p, [this, p] { p->slotSetCurrentMotorPosition(m_position); });
        connect(p, &ZStackWidget::signalSetMotorSpeedAndStartZPosition, this,
                [this](int speed, int steps) { m_moves << QString("start %1 %2").arg(speed).arg(steps); });
        connect(p, &ZStackWidget::signalMoveMotorPosition, this, [this](int steps, bool) { m_moves << QString("move %1").arg(steps); });
        m_position = int(1000 * 51.2f);
        p->setCurrentState(ZSTACK_LIVE);
        p->slotLEDState(true);
    }

    void setPositions(int start, int end)
    {
        m_position = start;
        ui()->BUTTON_SET_START_POSITION->click();
        m_position = end;
        ui()->BUTTON_SET_END_POSITION->click();
    }

    // Presses START, lets the "Initializing" box run until the check closes it, and answers the
    // refusal (if any); returns the error code.
    int pressStart()
    {
        DialogScripts::pushAct([](QDialog *) {}, 5000);
        ui()->BUTTON_Z_STACK_START->click();
        return m_page->errorCode();
    }

    static int pythonConfig(const QString &file, const QString &section, const QString &key, QString *value)
    {
        QProcess python;
        python.start("/usr/bin/python3", {"-c", "import configparser,sys\nc=configparser.ConfigParser(interpolation=None)\n"
                                                "c.optionxform=str\nc.read(sys.argv[1],encoding='utf-8')\n"
                                                "print(c[sys.argv[2]][sys.argv[3]])",
                                          file, section, key});
        python.waitForFinished(kHangBoundMs);
        *value = QString::fromUtf8(python.readAllStandardOutput()).trimmed();
        return python.exitCode();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_root->makeDir("/media/VANTOR SSD");
        g_CurrentMenu = MENU_ZSTACK;
        initializePseudoColorTable();
        DialogRunner::clearScripts();
        m_dialogs.clear();
        m_moves.clear();
        DialogRunner::setStandingScript([this](QDialog *d) {
            m_dialogs << QString(d->metaObject()->className()) + ":" + DialogScripts::messageText(d);
            return 1;
        });
    }

    void cleanup()
    {
        m_page.reset();
        DialogRunner::clearScripts();
        MediaMonitor::setSpaceQuery({});
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    void modelResults_data()
    {
        QTest::addColumn<float>("start");
        QTest::addColumn<float>("end");
        QTest::addColumn<float>("interval");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("numberOn"); // else the interval is chosen
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("images");
        QTest::addColumn<int>("step");
        QTest::addColumn<float>("derivedInterval");
        QTest::newRow("interval, number truncated") << 0.f << 10.f << 3.f << 0 << false << 0 << 4 << 154 << 3.f;
        QTest::newRow("number, downward") << 10.f << 0.f << 0.f << 11 << true << 0 << 11 << -51 << 1.f;
        QTest::newRow("interval equals distance") << 0.f << 10.f << 10.f << 0 << false << 0 << 2 << 512 << 10.f;
        QTest::newRow("1000 slices allowed") << 0.f << 999.f << 1.f << 0 << false << 0 << 1000 << 51 << 1.f;
        QTest::newRow("1001 slices refused") << 0.f << 60.f << 0.05f << 0 << false << 8 << 0 << 0 << 0.f;
        QTest::newRow("interval zero first") << 5.f << 5.f << 0.f << 0 << false << 3 << 0 << 0 << 0.f;
        QTest::newRow("number zero") << 5.f << 5.f << 1.f << 0 << true << 4 << 0 << 0 << 0.f;
        QTest::newRow("equal ends") << 5.f << 5.f << 1.f << 3 << true << 5 << 0 << 0 << 0.f;
        QTest::newRow("one image") << 0.f << 10.f << 1.f << 1 << true << 6 << 0 << 0 << 0.f;
        QTest::newRow("interval beyond distance") << 0.f << 10.f << 11.f << 0 << false << 5 << 0 << 0 << 0.f;
        QTest::newRow("negative interval") << 0.f << 10.f << -1.f << 0 << false << 5 << 0 << 0 << 0.f;
        // 0.1 micrometre in 20 slices: steps round to 0, every slice would be at one place.
        QTest::newRow("no motor step") << 0.f << 0.1f << 1.f << 20 << true << 5 << 0 << 0 << 0.f;
    }
    void modelResults()
    {
        QFETCH(float, start);
        QFETCH(float, end);
        QFETCH(float, interval);
        QFETCH(int, number);
        QFETCH(bool, numberOn);
        QFETCH(int, result);
        ZStack stack;
        stack.pushThumbnail(ThumbnailInfo());
        stack.increaseCount();
        stack.setZStackParameter(start, end, interval, !numberOn, number, numberOn);
        QCOMPARE(stack.sign(), start > end ? -1 : 1);
        QCOMPARE(stack.canStart(8), result);
        if (result != 0) {
            QCOMPARE(stack.thumbnails().size(), size_t(1)); // a refusal keeps the last stack
            return;
        }
        QTEST(stack.imageNumber(), "images");
        QTEST(stack.step(), "step");
        QTEST(stack.interval(), "derivedInterval");
        QCOMPARE(stack.count(), 0);
        QVERIFY(stack.thumbnails().empty());
    }

    void rawDataFolderIsEmptiedAndMadeAgain()
    {
        m_root->writeFile("/media/VANTOR SSD/.ZStack/a/b.tif", "x");
        QCOMPARE(ZStack::deleteRawData(), 1);
        const QDir folder(Paths::path("/media/VANTOR SSD/.ZStack"));
        QVERIFY(folder.exists());
        QVERIFY(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    // Names, metadata text and samples of slice files, 8 and 16 bits.
    void sliceFiles()
    {
        QCOMPARE(ZStackSliceWriter::slicePath("/m/run", "cells", 7, "tif"), QString("/m/run/cells/cells_0007.tif"));
        QCOMPARE(ZStackSliceWriter::slicePath("/m/run", "cells", 10000, "tif"), QString("/m/run/cells/cells_10000.tif"));
        QCOMPARE(ZStackSliceWriter::metaText("A: 1;B: 2", -0.02f), QString::fromUtf8("A: 1;B: 2;Z Position: 0.0 µm"));
        QCOMPARE(ZStackSliceWriter::metaText("A", -4.96f), QString::fromUtf8("A;Z Position: -5.0 µm"));

        const QString folder = m_root->makeDir("/media/VANTOR SSD/s");
        ZStackSliceWriter writer;
        const int n = ZStackSliceWriter::kWidth * ZStackSliceWriter::kHeight;
        auto value = [](int i) { return i % 1280 + i / 1280 * 2; }; // 12-bit value of pixel i: x + 2y
        for (int bits : {8, 16}) {
            // One byte more in front, so that the frame can also be handed over at an odd address.
            QByteArray frame(1 + n * bits / 8, '\0');
            for (int i = 0; i < n; ++i) {
                const int v = value(i);
                if (bits == 8) {
                    frame[1 + i] = char(v >> 4);
                } else { // big-endian word, shifted left by four
                    frame[1 + 2 * i] = char((v << 4) >> 8);
                    frame[1 + 2 * i + 1] = char((v << 4) & 0xff);
                }
            }
            const QString path = folder + QString("/s_%1.tif").arg(bits);
            const QString text = ZStackSliceWriter::metaText("Instrument: VANTOR S", 2.5f);
            QByteArray file;
            for (int offset : {1, 0}) {
                if (offset == 0) // the same samples at an aligned address
                    frame.remove(0, 1);
                QVERIFY(writer.setFrame(reinterpret_cast<const uchar *>(frame.constData()) + offset, bits));
                // Written twice, the same file.
                for (int twice = 0; twice < 2; ++twice) {
                    QVERIFY(writer.write(path, text));
                    QFile written(path);
                    QVERIFY(written.open(QIODevice::ReadOnly));
                    if (file.isEmpty())
                        file = written.readAll();
                    else
                        QVERIFY(written.readAll() == file);
                }
            }
            ImReaderWriter back;
            QVERIFY(back.read(QFile::encodeName(path)));
            QCOMPARE(int(back.bitsPerSample), bits);
            QCOMPARE(QString::fromUtf8(back.description), text);
            int wrong = 0;
            for (int i = 0; i < n; ++i) {
                const int v = value(i);
                wrong += (bits == 8 ? back.buffer8[i] : back.buffer16[i] >> 4) != v >> 4
                         || (bits == 16 && back.buffer16[i] != v) || writer.frame8()[i] != v >> 4;
            }
            QCOMPARE(wrong, 0);
            // The thumbnail (green table) is the frame averaged over boxes of about 10 x 10 pixels.
            const QImage thumb = writer.thumbnail(g_PseudoColorTable[1]).toImage();
            QCOMPARE(thumb.size(), QSize(132, 100));
            double difference = 0;
            int worst = 0;
            for (int ty = 0; ty < 100; ++ty)
                for (int tx = 0; tx < 132; ++tx) {
                    double sum = 0;
                    int count = 0;
                    for (int y = ty * 1024 / 100; y < (ty + 1) * 1024 / 100; ++y)
                        for (int x = tx * 1280 / 132; x < (tx + 1) * 1280 / 132; ++x, ++count)
                            sum += value(y * 1280 + x) >> 4;
                    const double d = std::abs(qGreen(thumb.pixel(tx, ty)) - sum / count);
                    difference += d;
                    worst = std::max(worst, int(std::lround(d)));
                }
            QVERIFY2(difference / (132 * 100) < 1.0 && worst <= 4,
                     qPrintable(QString("mean %1 worst %2").arg(difference / (132 * 100)).arg(worst)));
        }
        QVERIFY(!writer.write(folder + "/missing/s.tif", "x"));
        QVERIFY(!QFileInfo::exists(folder + "/missing"));
    }

    void stateTable_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("enabled"); // START LIVE SAVE_PATH LOAD SAVE_IMAGE MODE1 SET_START INTERVAL_RADIO
        QTest::addColumn<bool>("sliderShown");
        QTest::newRow("idle") << 0 << "01110101" << false;
        QTest::newRow("live") << 1 << "10110111" << false;
        QTest::newRow("completed") << 2 << "01111100" << true;
        QTest::newRow("stacking") << 3 << "00000001" << true;
    }
    void stateTable()
    {
        QFETCH(int, state);
        QFETCH(QString, enabled);
        QFETCH(bool, sliderShown);
        makePage();
        QSignalSpy changed(m_page.get(), &ZStackWidget::changedState);
        m_page->setCurrentState(TZStackState(state));
        QCOMPARE(changed.count(), 1);
        const QWidget *controls[] = {ui()->BUTTON_Z_STACK_START, ui()->BUTTON_LIVE, ui()->BUTTON_SAVE_PATH,
                                     ui()->BUTTON_LOAD_IMAGE, ui()->BUTTON_SAVE_IMAGE, ui()->BUTTON_MODE1,
                                     ui()->BUTTON_SET_START_POSITION, ui()->RADIOBUTTON_INTERVAL};
        QString seen;
        for (const QWidget *w : controls)
            seen += w->isEnabled() ? '1' : '0';
        QCOMPARE(seen, enabled);
        QCOMPARE(ui()->SLIDER_Z_STACK->isVisible(), sliderShown);
        QVERIFY(!ui()->BUTTON_Z_STACK_STOP->isVisible());
        QCOMPARE(ui()->CHKBOX_SCALEBAR->isCheckable(), state == 2);
        // The light alone never enables START outside live.
        m_page->slotLEDState(true);
        QCOMPARE(ui()->BUTTON_Z_STACK_START->isEnabled(), state == 1);
    }

    // Range mode forgets the set positions; the pairs stay exclusive.
    void radioPairsAndPositions()
    {
        makePage();
        setPositions(0, 5120);
        QCOMPARE(ui()->LABEL_ESTIMATED_DISTANCE->text(), QString("100.00"));
        QVERIFY(ui()->BUTTON_SET_START_POSITION->isChecked());
        ui()->RADIO_RANGE->click();
        QVERIFY(!ui()->RADIO_START_TO_END->isChecked());
        QVERIFY(!ui()->BUTTON_SET_START_POSITION->isEnabled());
        ui()->RADIO_START_TO_END->click();
        QCOMPARE(pressStart(), int(ZStackWidget::POSITION_NOT_SET));
        ui()->RADIOBUTTON_IMAGE_NUMBER->click();
        QVERIFY(!ui()->RADIOBUTTON_INTERVAL->isChecked());
        QVERIFY(ui()->SPINBOX_IMAGE_NUMBER->isEnabled() && !ui()->SPINBOX_INTERVAL->isEnabled());
        // A position answer nobody asked for (the panel's own, the time-lapse page's) changes nothing.
        const int saved = m_page->savedPosition(), start = m_page->startPosition(), end = m_page->endPosition();
        m_page->slotSetCurrentMotorPosition(999);
        QCOMPARE(m_page->savedPosition(), saved);
        QCOMPARE(m_page->startPosition(), start);
        QCOMPARE(m_page->endPosition(), end);
        QCOMPARE(m_dialogs.filter("cannot exceed").size(), 0);
    }

    void distanceLimit_data()
    {
        QTest::addColumn<int>("micrometres");
        QTest::addColumn<bool>("refused");
        QTest::newRow("10100 accepted") << 10100 << false;
        QTest::newRow("10101 refused") << 10101 << true;
    }
    void distanceLimit()
    {
        QFETCH(int, micrometres);
        QFETCH(bool, refused);
        makePage();
        setPositions(0, int(std::ceil(micrometres * 51.2)));
        QCOMPARE(m_dialogs.filter("cannot exceed 10mm").size(), refused ? 1 : 0);
        QCOMPARE(ui()->BUTTON_SET_END_POSITION->isChecked(), !refused);
        QCOMPARE(m_page->stackHeight(), refused ? 0.f : float(micrometres));
    }

    // A range is checked whole at START, never while it is typed: "+" on the keypad, then "-"
    // key by key to more than lies below the stage, shows no box and keeps what was typed.
    void rangeLimits()
    {
        makePage();
        m_position = int(50 * 51.2f); // 50 micrometres above the bottom
        ui()->RADIO_RANGE->click();
        ui()->SPINBOX_RANGE_MINUS->setValue(40);
        DialogRunner::pushScript([](QDialog *d) {
            qobject_cast<KeyboardDlg *>(d)->setText("30");
            return 1;
        });
        QTest::mouseClick(ui()->SPINBOX_RANGE_PLUS->findChild<QLineEdit *>(), Qt::LeftButton);
        QCOMPARE(m_page->stackHeight(), 70.f);
        ui()->SPINBOX_RANGE_MINUS->selectAll();
        QTest::keyClicks(ui()->SPINBOX_RANGE_MINUS, "60");
        QCOMPARE(ui()->SPINBOX_RANGE_MINUS->value(), 60);
        QCOMPARE(m_page->stackHeight(), 90.f);
        QCOMPARE(ui()->LABEL_ESTIMATED_DISTANCE->text(), QString("90.00"));
        QCOMPARE(m_page->savedPosition(), m_position);
        QCOMPARE(m_dialogs, QStringList());
        // At START the polled position decides.
        m_page->slotUpdatePos(20);
        ui()->BUTTON_Z_STACK_START->click();
        QCOMPARE(m_dialogs.filter("Invalid value(s)").size(), 1);
        QVERIFY(m_moves.isEmpty());
        QCOMPARE(m_page->errorCode(), 0); // no check ran
    }

    // A range around the stage's position at either end of its travel, and the widest range the
    // boxes offer: one that leaves the travel is refused at START (not when chosen) with the
    // heights it would take, never as a distance above 10 mm.
    void rangeAtTravelEnds_data()
    {
        QTest::addColumn<int>("at"); // micrometres
        QTest::addColumn<int>("minus");
        QTest::addColumn<int>("plus");
        QTest::addColumn<QString>("refusal"); // empty when the range fits
        QTest::newRow("bottom, both sides") << 0 << 100 << 100 << QString("The range -100.00 to 100.00 µm leaves");
        QTest::newRow("bottom, above only") << 0 << 0 << 100 << QString();
        QTest::newRow("top, 1 above") << 10000 << 0 << 1 << QString("The range 10000.00 to 10001.00 µm leaves");
        QTest::newRow("top, below only") << 10000 << 100 << 0 << QString();
        QTest::newRow("widest offered") << 5000 << 10000 << 10000 << QString("The range -5000.00 to 15000.00 µm leaves");
        QTest::newRow("whole travel") << 5000 << 5000 << 5000 << QString();
    }
    void rangeAtTravelEnds()
    {
        QFETCH(int, at);
        QFETCH(int, minus);
        QFETCH(int, plus);
        QFETCH(QString, refusal);
        makePage();
        m_position = int(float(at) * 51.2f);
        auto setRange = [&] {
            const QSignalBlocker blockMinus(ui()->SPINBOX_RANGE_MINUS), blockPlus(ui()->SPINBOX_RANGE_PLUS);
            ui()->SPINBOX_RANGE_MINUS->setValue(minus);
            ui()->SPINBOX_RANGE_PLUS->setValue(plus);
        };
        setRange();
        ui()->RADIO_RANGE->click();
        QCOMPARE(m_dialogs.size(), 0);
        QCOMPARE(m_page->stackHeight(), float(minus + plus));
        if (refusal.isEmpty())
            return;
        m_page->slotUpdatePos(at);
        setRange();
        ui()->BUTTON_Z_STACK_START->click();
        QCOMPARE(m_dialogs.filter("Invalid value(s)").filter(refusal).size(), 1);
        QVERIFY(m_moves.isEmpty());
    }

    // Every refusal at START shows its preset, moves nothing and leaves the menu free.
    void refusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("message");
        QTest::newRow("no positions") << "positions:none" << 2 << int(MSG_POSITION_NOT_SET);
        QTest::newRow("equal positions") << "positions:same" << 5 << int(MSG_ZSTACK_DISTANCE_TOO_SHORT);
        QTest::newRow("one image") << "number:1" << 6 << int(MSG_ZSTACK_COUNT_TOO_SMALL);
        QTest::newRow("too many") << "interval:0.05" << 8 << int(MSG_ZSTACK_TOO_MANY_IMAGES);
        QTest::newRow("no save path") << "path:" << 10 << int(MSG_TARGET_FOLDER_NOT_SELECTED);
        QTest::newRow("volume missing") << "path:/media/USB DRIVE/run" << 9 << int(MSG_USB_REINSERT);
        QTest::newRow("folder name with slash") << "folder:a/b" << 9 << int(MSG_USB_REINSERT);
        QTest::newRow("folder name dot-dot") << "folder:.." << 9 << int(MSG_USB_REINSERT);
        QTest::newRow("disk full") << "space:2" << 1 << int(MSG_INSUFFICIENT_DISK_SPACE);
    }
    void refusals()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        QFETCH(int, message);
        makePage();
        const QString what = setup.section(':', 0, 0), value = setup.section(':', 1);
        if (what != "positions")
            setPositions(0, int(100 * 51.2f)); // 100 micrometres
        else if (value == "same")
            setPositions(512, 512);
        m_page->setSavePath(what == "path" && !value.isEmpty() ? Paths::path(value) : what == "path" ? QString() : Paths::ssd(),
                            what == "folder" ? value : "cells");
        if (what == "interval")
            ui()->SPINBOX_INTERVAL->setValue(value.toDouble());
        if (what == "number") {
            ui()->RADIOBUTTON_IMAGE_NUMBER->click();
            ui()->SPINBOX_IMAGE_NUMBER->setValue(value.toInt());
        }
        if (what == "space") // 2 MB free: less than 101 slices of 1.3 MB
            MediaMonitor::setSpaceQuery([](const QString &, quint64 *f, quint64 *b) { *f = 1000000; *b = 2; return true; });
        QSignalSpy menu(m_page.get(), &ZStackWidget::signalEnableMainMenu);
        QCOMPARE(pressStart(), code);
        QCOMPARE(m_dialogs.filter("MessageDlg:" + MessageDlg::presetText(TMessageType(message))).size(), 1);
        QVERIFY(m_moves.isEmpty());
        QCOMPARE(menu.last().at(0).toBool(), true);
        QCOMPARE(m_page->currentState(), ZSTACK_LIVE);
        QVERIFY(ui()->BUTTON_Z_STACK_START->isEnabled());
        QCOMPARE(QDir(Paths::ssd()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    }

    // A taken folder name gets the next free "(k)" name.
    void folderNamesNeverReuse()
    {
        makePage();
        const QString ssd = Paths::ssd();
        for (QString expected : {"cells", "cells(1)", "cells(2)"}) {
            QString name = "cells";
            QVERIFY(m_page->createFolder(ssd, name));
            QCOMPARE(name, expected);
        }
        m_page->setSavePath(Paths::path("/media/VANTOR SSD/cells"), "run");
        QCOMPARE(ui()->LABEL_SAVE_PATH->text(), QString("/VANTOR SSD/cells/run"));
    }

    // The folder choice holds the live video stopped while it is open, whatever its outcome.
    void savePathChoice()
    {
        makePage();
        QSignalSpy video(m_page.get(), &ZStackWidget::setVideoRunningState);
        g_PreviouslySavedPath = Paths::ssd(); // the dialog opens there
        for (bool accept : {false, true}) {
            DialogScripts::pushAct([accept](QDialog *d) {
                d->findChild<QLineEdit *>("EDIT_FILENAME")->setText("run1");
                DialogRunner::click(d, accept ? "BUTTON_APPLY" : "BUTTON_CANCEL");
            });
            ui()->BUTTON_SAVE_PATH->click();
            QCOMPARE(ui()->LABEL_SAVE_PATH->text().isEmpty(), !accept);
        }
        QCOMPARE(video.count(), 4);
        QCOMPARE(video.at(0).at(0).toBool(), false);
        QCOMPARE(video.at(1).at(0).toBool(), true);
        QCOMPARE(ui()->LABEL_SAVE_PATH->text(), QString("/VANTOR SSD/run1"));
    }

    void keyboardEntry_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("refused");
        QTest::newRow("interval") << "SPINBOX_INTERVAL" << "12.5" << 12.5 << false;
        QTest::newRow("interval clamped") << "SPINBOX_INTERVAL" << "5000" << 1000.0 << false;
        QTest::newRow("negative") << "SPINBOX_INTERVAL" << "-3" << 1.0 << true;
        QTest::newRow("image number") << "SPINBOX_IMAGE_NUMBER" << "25" << 25.0 << false;
        QTest::newRow("range plus") << "SPINBOX_RANGE_PLUS" << "250" << 250.0 << false;
    }
    void keyboardEntry()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(bool, refused);
        makePage();
        if (box == "SPINBOX_IMAGE_NUMBER")
            ui()->RADIOBUTTON_IMAGE_NUMBER->click();
        if (box == "SPINBOX_RANGE_PLUS")
            ui()->RADIO_RANGE->click();
        ui()->SPINBOX_INTERVAL->setValue(1.0);
        auto *spin = m_page->findChild<QAbstractSpinBox *>(box);
        DialogRunner::pushScript([typed](QDialog *d) {
            auto *keyboard = qobject_cast<KeyboardDlg *>(d);
            keyboard->setText(typed);
            return 1;
        });
        QTest::mouseClick(spin->findChild<QLineEdit *>(), Qt::LeftButton);
        QTest::qWait(300); // the keyboard's line-edit animation ends and is deleted
        QFETCH(double, value);
        QCOMPARE(spin->property("value").toDouble(), value);
        QCOMPARE(m_dialogs.filter(MessageDlg::presetText(MSG_NUMERALS_ONLY)).size(), refused ? 1 : 0);
        // A disabled box opens nothing; another screen opens nothing.
        DialogRunner::clearLog();
        g_CurrentMenu = MENU_MULTICOLOR;
        QTest::mouseClick(spin->findChild<QLineEdit *>(), Qt::LeftButton);
        QVERIFY(DialogRunner::log().isEmpty());
    }

    void arrowOnIntervalDropsTheFraction()
    {
        makePage();
        QMetaObject::invokeMethod(m_page.get(), "slotSPINBOX_INTERVAL_mouseButtonPressed", Q_ARG(double, 2.75), Q_ARG(bool, true));
        QCOMPARE(ui()->SPINBOX_INTERVAL->value(), 2.0);
    }

    // The settings keys as Python's configparser reads them, and back into a new page.
    void settingsRoundTrip()
    {
        const std::string file = Paths::configFile().toStdString();
        WritePrivateProfileString("Camera", "Mode", "16", file);
        makePage();
        ui()->SPINBOX_INTERVAL->setValue(2.25);
        ui()->SPINBOX_IMAGE_NUMBER->setValue(33);
        ui()->SPINBOX_RANGE_PLUS->setValue(120);
        ui()->SPINBOX_RANGE_MINUS->setValue(80);
        m_page->writeSetting();
        const QPair<const char *, const char *> expected[] = {
            {"Interval", "2.25"}, {"ImageNumber", "33"}, {"Range_Plus", "120"}, {"Range_Minus", "80"}};
        for (const auto &[key, value] : expected) {
            QString read;
            QCOMPARE(pythonConfig(Paths::configFile(), "Setting_ZStack", key, &read), 0);
            QCOMPARE(read, QString(value));
        }
        ZStackWidget second;
        QCOMPARE(second.form()->SPINBOX_INTERVAL->value(), 2.25);
        QCOMPARE(second.form()->SPINBOX_IMAGE_NUMBER->value(), 33);
        QCOMPARE(second.form()->SPINBOX_RANGE_MINUS->value(), 80);
        QCOMPARE(second.form()->SPINBOX_STABLE_TIME_INTERVAL->value(), 0.1); // default lag
        QVERIFY(!second.form()->CHKBOX_FULL_FOCUS->isVisibleTo(&second)); // outside the QC test mode
    }
};

QTEST_MAIN(TestZStack)
#include "tst_zstack.moc"
