#include "MultiColorFixture.h"

#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "SaveOptionsDlg.h"
#include "MediaMonitor.h"
#include "MultiColorImageWidget.h"
#include "Utilities.h"

#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QTest>
#include <QPushButton>
#include <random>

MultiColorFixture::MultiColorFixture(const QByteArray &config)
{
    root.makeDir("/root/Microscope/NIMBO");
    root.makeDir("/media/VANTOR SSD/Quicksave");
    root.makeDir("/media/USB1");
    root.writeFile("/root/Microscope/NIMBO/NIMBO.ini",
                   config.isEmpty() ? QByteArray("[Filter]\n0=Trans\n1=DAPI\n2=GFP\n3=RFP\n") : config);
    g_CurrentMenu = MENU_MULTICOLOR;
    initializePseudoColorTable();
    MediaMonitor::setSpaceQuery([](const QString &, quint64 *fragment, quint64 *blocks) {
        *fragment = 4096;
        *blocks = 1u << 20; // 4 GB
        return true;
    });
    DialogRunner::clearScripts();
    DialogRunner::setStandingScript([this](QDialog *d) {
        if (onDialog) {
            const int result = onDialog(d);
            if (result >= 0)
                return result;
        }
        messages << DialogScripts::messageText(d);
        return answer;
    });
    m_tiles = std::make_unique<MultiColorImageWidget>();
    m_page = std::make_unique<MultiColorWidget>();
    m_page->show();
    MultiColorWidget *page = m_page.get();
    MultiColorImageWidget *tiles = m_tiles.get();
    QObject::connect(page, &MultiColorWidget::imageCapturedTile, tiles, &MultiColorImageWidget::setImageData);
    QObject::connect(page, &MultiColorWidget::brightnessChangedTile, tiles, &MultiColorImageWidget::setImageData);
    QObject::connect(page, &MultiColorWidget::contrastChangedTile, tiles, &MultiColorImageWidget::setImageData);
    QObject::connect(page, &MultiColorWidget::signalResetImageTile, tiles, &MultiColorImageWidget::slotResetImage);
    QObject::connect(page, &MultiColorWidget::imageDisplayStateChanged, tiles, &MultiColorImageWidget::setImageDisplayState);
    QObject::connect(page, &MultiColorWidget::capture, page, [this] { m_page->captureCompleted(m_frame.data(), m_frame.size() == size_t(kPixels) ? 8 : 16); });
    m_page->setCurrentState(MULTI_LIVE);
    m_page->slotLEDState(true);
}

MultiColorFixture::~MultiColorFixture()
{
    // Qt's parentless fades (the keyboard's line edit) end while the event loop still runs.
    QTest::qWait(500);
    m_page.reset();
    m_tiles.reset();
    DialogRunner::clearScripts();
    MediaMonitor::setSpaceQuery({});
    g_CurrentMenu = MENU_MULTICOLOR;
}

QString MultiColorFixture::usb() const
{
    return root.path() + "/media/USB1";
}

void MultiColorFixture::saveAs(const QString &name)
{
    g_PreviouslySavedPath = usb();
    onDialog = [name](QDialog *d) {
        if (auto *keyboard = qobject_cast<KeyboardDlg *>(d)) {
            keyboard->setText(name);
            return 1;
        }
        if (qobject_cast<SaveOptionsDlg *>(d))
            return DialogRunner::showAndRun(d, [](QDialog *dialog) {
                QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
                DialogRunner::click(dialog, "BUTTON_APPLY");
                QTimer::singleShot(3000, dialog, [dialog] {
                    if (dialog->isVisible())
                        DialogRunner::click(dialog, "BUTTON_CANCEL");
                });
            }, 20000);
        if (DialogScripts::messageText(d).contains("Saving in Progress"))
            return DialogRunner::showAndRun(d, nullptr, 20000);
        return -1;
    };
}

QString MultiColorFixture::quicksave() const
{
    return root.path() + "/media/VANTOR SSD/Quicksave";
}

void MultiColorFixture::capture(int filter, int bits, unsigned seed)
{
    std::mt19937 random(seed);
    const int top = bits == 16 ? 4095 : 255;
    std::uniform_int_distribution<int> value(0, top);
    m_values.resize(kPixels);
    m_frame.resize(size_t(kPixels) * (bits == 16 ? 2 : 1));
    for (int i = 0; i < kPixels; ++i) {
        const int v = (i % 1280 < 8) ? top : value(random); // a saturated margin
        m_values[size_t(i)] = quint16(v);
        if (bits == 16) {
            const quint16 word = quint16(v << 4); // the camera's word, most significant byte first
            m_frame[size_t(2 * i)] = uchar(word >> 8);
            m_frame[size_t(2 * i + 1)] = uchar(word & 0xff);
        } else {
            m_frame[size_t(i)] = uchar(v);
        }
    }
    m_page->setCurrentFilterPosition(filter);
    if (m_page->currentState() != MULTI_LIVE)
        m_page->findChild<QPushButton *>("BUTTON_LIVE")->click();
    m_page->slotWaitForVideoWidgetIsStarted();
    m_page->findChild<QPushButton *>("BUTTON_CAPTURE")->click();
    m_page->slotWaitForVideoWidgetIsStopped();
}
