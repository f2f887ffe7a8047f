// Brightness and contrast of the Multicolor channels: the arrow-release throttle that holds no tap, keyboard entry,
// the re-apply order, Reset, the overlay's channel switches, and the tile view that follows them.
#include "Globals.h"
#include "KeyboardDlg.h"
#include "LSpinBox.h"
#include "MessageDlg.h"
#include "MultiColorFixture.h"
#include "MultiColorImageWidget.h"
#include "MultiColorModel.h"
#include "ui_MultiColorWidget.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QtTest>
#include <opencv2/core.hpp>

Q_DECLARE_METATYPE(uchar *)

namespace {
constexpr int kPixels = MultiColorFixture::kPixels;

// Expected adjustments, written out from their definitions: brightness adds, contrast spreads
// around the mean by value / 10, both saturated.
cv::Mat brightened(const cv::Mat &src, int offset)
{
    cv::Mat out;
    src.convertTo(out, src.type(), 1.0, offset);
    return out;
}
cv::Mat contrasted(const cv::Mat &src, int value)
{
    const double mean = cv::mean(src)[0], alpha = value / 10.0;
    cv::Mat out;
    src.convertTo(out, src.type(), alpha, mean - mean * alpha);
    return out;
}
int differing(const cv::Mat &a, const uchar *b)
{
    return cv::countNonZero(a != cv::Mat(a.rows, a.cols, a.type(), const_cast<uchar *>(b)));
}
} // namespace

class TestMultiColorAdjust : public QObject
{
    Q_OBJECT

    std::unique_ptr<MultiColorFixture> m_fx;
    Ui_MultiColorWidget *ui() const { return m_fx->ui(); }
    MultiColorWidget &page() const { return m_fx->page(); }
    cv::Mat captured8() const
    {
        cv::Mat m(1024, 1280, CV_8UC1);
        for (int i = 0; i < kPixels; ++i)
            m.data[i] = uchar(m_fx->lastValues()[size_t(i)]);
        return m;
    }

    // Types text on the keyboard that a touch on the spin box's field opens (OK, or Exit).
    void typeInto(LSpinBox *box, const QString &text, bool ok = true)
    {
        m_fx->onDialog = [text, ok](QDialog *d) {
            auto *keyboard = qobject_cast<KeyboardDlg *>(d);
            if (!keyboard)
                return -1;
            keyboard->setText(text);
            return ok ? 1 : 0;
        };
        QTest::mousePress(box->findChild<QLineEdit *>(), Qt::LeftButton);
        m_fx->onDialog = nullptr;
    }

private slots:
    void initTestCase() { qRegisterMetaType<uchar *>("uchar*"); }
    void init() { m_fx = std::make_unique<MultiColorFixture>(); }
    void cleanup() { m_fx.reset(); }

    void applyTimes_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("brightness");
        QTest::addColumn<int>("contrast");
        QTest::newRow("8, channel") << 8 << 2 << 1200 << 1300;
        QTest::newRow("8, tile") << 8 << 3 << 1600 << 1700;
        QTest::newRow("8, overlay") << 8 << 4 << 2000 << 2100;
        QTest::newRow("16, channel") << 16 << 2 << 2500 << 2700;
        QTest::newRow("16, tile") << 16 << 3 << 3300 << 3500;
        QTest::newRow("16, overlay") << 16 << 4 << 3500 << 3700;
    }
    void applyTimes()
    {
        QFETCH(int, bits);
        QFETCH(int, state);
        QFETCH(int, brightness);
        QFETCH(int, contrast);
        m_fx->capture(2, bits);
        page().setCurrentState(TMultiState(state));
        QCOMPARE(page().getEnableApplyTime(2, true), brightness);
        QCOMPARE(page().getEnableApplyTime(2, false), contrast);
    }

    // Quick taps on an arrow: each steps the box; the first release applies at once, the later
    // ones wait for the block to end and then apply the box's latest value, so no step is lost. A
    // release of another box meanwhile is held too and applied after.
    void arrowReleaseThrottle()
    {
        m_fx->capture(2, 8); // CH3
        QSignalSpy changed(&page(), &MultiColorWidget::brightnessChanged);
        QSignalSpy contrast(&page(), &MultiColorWidget::contrastChanged);
        LSpinBox *box = ui()->SPINBOX_CH3_BRIGHTNESS;
        QStyleOptionSpinBox option;
        option.initFrom(box);
        option.subControls = QStyle::SC_SpinBoxUp;
        const QPoint up = box->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, box).center();
        for (int tap = 0; tap < 5; ++tap)
            QTest::mouseClick(box, Qt::LeftButton, {}, up, 20);
        QCOMPARE(box->value(), 5);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(ui()->SLIDER_CH3_BRIGHTNESS->value(), 1);
        QVERIFY(page().applyBlocked());

        ui()->SPINBOX_CH3_CONTRAST->setValue(15);
        emit ui()->SPINBOX_CH3_CONTRAST->mouseButtonReleased(15, true);
        QCOMPARE(contrast.size(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(ui()->SLIDER_CH3_BRIGHTNESS->value(), 5, 20000);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(differing(brightened(captured8(), 5), page().model()->imageData(2, 8)), 0);
        QTRY_COMPARE_WITH_TIMEOUT(ui()->SLIDER_CH3_CONTRAST->value(), 15, 20000);
        QCOMPARE(contrast.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!page().applyBlocked(), 20000);
        QCOMPARE(changed.size(), 2);
        // The slider again writes into its box.
        ui()->SLIDER_CH3_BRIGHTNESS->setValue(9);
        QCOMPARE(box->value(), 9);
    }

    void keyboardEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");   // of the slider afterwards
        QTest::addColumn<int>("applies"); // brightnessChanged emitted
        QTest::addColumn<bool>("message");
        QTest::newRow("in range") << "-42" << true << -42 << 1 << false;
        QTest::newRow("the range's end") << "255" << true << 255 << 1 << false;
        QTest::newRow("out of range") << "300" << true << 0 << 0 << true;
        QTest::newRow("the current value") << "0" << true << 0 << 0 << false;
        QTest::newRow("no number counts as 0") << "abc" << true << 0 << 0 << false;
        QTest::newRow("exit") << "12" << false << 0 << 0 << false;
    }
    void keyboardEntry()
    {
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(int, value);
        QFETCH(int, applies);
        QFETCH(bool, message);
        m_fx->capture(1, 8); // CH4
        QSignalSpy changed(&page(), &MultiColorWidget::brightnessChanged);
        typeInto(ui()->SPINBOX_CH4_BRIGHTNESS, typed, ok);
        QCOMPARE(ui()->SLIDER_CH4_BRIGHTNESS->value(), value);
        QCOMPARE(ui()->SPINBOX_CH4_BRIGHTNESS->value(), value);
        QCOMPARE(changed.size(), applies);
        QCOMPARE(m_fx->messages, message ? QStringList{MessageDlg::presetText(MSG_INPUT_RANGE_EXCEEDED)} : QStringList());
        // A channel not held keeps its boxes shut: no keyboard.
        bool opened = false;
        m_fx->onDialog = [&opened](QDialog *) { opened = true; return 0; };
        QTest::mousePress(ui()->SPINBOX_CH2_BRIGHTNESS->findChild<QLineEdit *>(), Qt::LeftButton);
        QVERIFY(!opened);
    }

    void wheelLeavesTheValues()
    {
        m_fx->capture(0, 8);
        for (QWidget *w : std::initializer_list<QWidget *>{ui()->SLIDER_CH1_BRIGHTNESS, ui()->SPINBOX_CH1_CONTRAST}) {
            const int before = w == ui()->SLIDER_CH1_BRIGHTNESS ? ui()->SLIDER_CH1_BRIGHTNESS->value()
                                                                 : ui()->SPINBOX_CH1_CONTRAST->value();
            QWheelEvent wheel(QPointF(5, 5), w->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w, &wheel);
            const int after = w == ui()->SLIDER_CH1_BRIGHTNESS ? ui()->SLIDER_CH1_BRIGHTNESS->value()
                                                                : ui()->SPINBOX_CH1_CONTRAST->value();
            QCOMPARE(after, before);
        }
    }

    // Each apply builds on the other adjustment, the one applied last computed afresh first.
    void adjustmentsChain()
    {
        m_fx->capture(3, 8); // CH2
        const cv::Mat source = captured8();
        typeInto(ui()->SPINBOX_CH2_CONTRAST, "20");
        QCOMPARE(differing(contrasted(source, 20), page().model()->imageData(3, 8)), 0);
        typeInto(ui()->SPINBOX_CH2_BRIGHTNESS, "30");
        QCOMPARE(differing(brightened(contrasted(source, 20), 30), page().model()->imageData(3, 8)), 0);
        typeInto(ui()->SPINBOX_CH2_CONTRAST, "5");
        QCOMPARE(differing(contrasted(brightened(source, 30), 5), page().model()->imageData(3, 8)), 0);
        // Save After gives way to Save Before after every apply.
        QVERIFY(!ui()->BUTTON_SAVE_BEFORE->isHidden());
        QVERIFY(ui()->BUTTON_SAVE_AFTER->isHidden());
        QVERIFY(ui()->BUTTON_RESET->isEnabled());

        QSignalSpy reset(&page(), &MultiColorWidget::signalResetImageTile);
        ui()->BUTTON_RESET->click();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(differing(source, page().model()->imageData(3, 8)), 0);
        QCOMPARE(ui()->SLIDER_CH2_BRIGHTNESS->value(), 0);
        QCOMPARE(ui()->SPINBOX_CH2_CONTRAST->value(), 10);
        QCOMPARE(differing(source, m_fx->tiles().channelImage(3).constBits()), 0);
    }

    // A 16-bit channel: the view gets the new values, the tiles their 8-bit reduction.
    void sixteenBitTilesFollow()
    {
        m_fx->capture(2, 16);
        QSignalSpy changed(&page(), &MultiColorWidget::brightnessChanged);
        typeInto(ui()->SPINBOX_CH3_BRIGHTNESS, "-1000");
        QCOMPARE(changed.size(), 1);
        const auto *shown = static_cast<const quint16 *>(changed.first().at(2).value<void *>());
        const QImage &tile = m_fx->tiles().channelImage(2);
        for (int i : {0, 9, 5000, kPixels - 1}) {
            const int v = std::max(0, int(m_fx->lastValues()[size_t(i)]) - 1000);
            QCOMPARE(int(shown[i]), v);
            QCOMPARE(int(tile.constBits()[i]), std::min(255, int(std::lround(v * 255.0 / 4094))));
        }
    }

    // Overlay: a thumbnail takes its channel out and back; the last one stays in.
    void overlaySwitches()
    {
        m_fx->capture(0, 8);
        m_fx->capture(2, 8);
        ui()->BUTTON_OVERLAY_ON->click();
        QSignalSpy overlay(&page(), &MultiColorWidget::overlayImageChanged);
        ui()->BUTTON_THUMBNAIL_CH3->click();
        QCOMPARE(overlay.size(), 1);
        QVERIFY(!page().model()->isSelectedImage(2));
        QVERIFY(!ui()->SLIDER_CH3_BRIGHTNESS->isEnabled());
        ui()->BUTTON_THUMBNAIL_CH1->click();
        QCOMPARE(m_fx->messages, QStringList{"<p><b>Error!</b><br/><br/>At least one image must be selected.</p>"});
        QVERIFY(page().model()->isSelectedImage(0));
        QVERIFY(ui()->SLIDER_CH1_BRIGHTNESS->isEnabled());
        QCOMPARE(overlay.size(), 1);
        ui()->BUTTON_THUMBNAIL_CH3->click();
        QVERIFY(page().model()->isSelectedImage(2));
        QVERIFY(ui()->SPINBOX_CH3_CONTRAST->isEnabled());
        QCOMPARE(overlay.size(), 2);
    }

    // The tile view on its own: reductions, presses, guards.
    void tileView()
    {
        MultiColorImageWidget tiles;
        QSignalSpy selected(&tiles, &MultiColorImageWidget::displayFullImageSelected);
        std::vector<quint16> words(size_t(kPixels), 4000);
        words[0] = 4095;
        tiles.setImageData(2, 99, words.data(), true, 0, 16); // a colour index past the table
        QCOMPARE(int(tiles.channelImage(2).constBits()[0]), 255);
        QCOMPARE(int(tiles.channelImage(2).constBits()[1]), 249);
        QCOMPARE(tiles.channelImage(2).colorTable().size(), 256);
        tiles.slotResetImage(2, 1, words.data(), true, 16);
        QCOMPARE(int(tiles.channelImage(2).constBits()[0]), 255);
        QCOMPARE(int(tiles.channelImage(2).constBits()[1]), 250);
        tiles.setImageData(7, 1, words.data(), true, 0, 16); // no such channel
        tiles.setImageData(1, 1, nullptr, true, 0, 8);         // no data
        QVERIFY(!tiles.isChannelSet(1));
        g_CurrentMenu = MENU_ZSTACK;
        tiles.setImageData(0, 1, words.data(), true, 0, 8);
        QVERIFY(!tiles.isChannelSet(0));
        g_CurrentMenu = MENU_MULTICOLOR;

        tiles.resize(1272, 1000);
        tiles.setImageDisplayState(3);
        QTest::mouseClick(&tiles, Qt::LeftButton, {}, QPoint(635, 200)); // on the divider
        QTest::mouseClick(&tiles, Qt::LeftButton, {}, QPoint(100, 600)); // CH3's tile: held
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first(), QList<QVariant>({2, 2}));
        QCOMPARE(tiles.displayState(), 2);
        tiles.setImageDisplayState(3);
        QTest::mouseClick(&tiles, Qt::LeftButton, {}, QPoint(700, 100)); // CH2's tile: empty
        QCOMPARE(selected.size(), 1);
        QCOMPARE(tiles.selectedIndex(), 3);
        tiles.slotClearCapturedImage();
        QVERIFY(!tiles.isChannelSet(2));
        QImage shot(tiles.size(), QImage::Format_RGB32);
        tiles.render(&shot); // paints every state without data
    }
};

QTEST_MAIN(TestMultiColorAdjust)
#include "tst_multicolor_adjust.moc"
