// The Growth monitor browser on its own: which image a list shows first, Left and Right at the
// ends, slider and label in step, the slide show tick by tick, the three image types, the
// ShowInterval setting, the scale bar per screen, and frames the view shows or leaves out.
#include "Globals.h"
#include "GrowthMonitor.h"
#include "GrowthMonitorImageWidget.h"
#include "ImReaderWriter.h"
#include "LGraphicsView.h"
#include "DiagramItemGroup.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"
#include "ui_GrowthMonitorImageWidget.h"

#include <QGraphicsPixmapItem>
#include <QListWidget>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

// One grey or colour frame of a single value, written by our own writer.
bool writeFrame(const QString &path, int value, int samples = 1, int bits = 8, int width = 1280, int height = 1024)
{
    ImReaderWriter image;
    void *data = image.reserve(quint32(width), quint32(height), quint16(bits), quint16(samples), 1,
                               samples == 3 ? 2 : 1, 1);
    if (!data)
        return false;
    const size_t n = size_t(width) * size_t(height) * size_t(samples);
    if (bits == 16) {
        auto *words = static_cast<quint16 *>(data);
        std::fill(words, words + n, quint16(value));
        image.cameraLayout = false; // plain intensities
    } else {
        std::memset(data, value, n);
    }
    return image.write(QFile::encodeName(path), QByteArray());
}

} // namespace

class TestGrowthBrowser : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<GrowthMonitorImageWidget> m_browser;
    std::vector<ThumbnailInfo> m_list;
    QList<int> m_told; // changeCurrentIndex emissions

    Ui_GrowthMonitorImageWidget *ui() const { return m_browser->form(); }
    QListWidget *strip() const { return ui()->LISTWIDGET_IMAGE; }
    LGraphicsView *view() const { return ui()->m_LGraphicsView; }
    int row() const { return strip()->currentRow(); }
    QString label() const { return ui()->LABEL_IMAGE_NUMBER->text(); }
    int shownGrey() const
    {
        return view()->pixmapItem() ? qGray(view()->pixmapItem()->pixmap().toImage().pixel(5, 5)) : -1;
    }
    bool enabled(QWidget *w) const { return w->isEnabled(); }
    QList<bool> showButtons() const
    {
        return {ui()->BUTTON_SLIDESHOW_START->isEnabled(), ui()->BUTTON_SLIDESHOW_PAUSE->isEnabled(),
                ui()->BUTTON_SLIDESHOW_STOP->isEnabled()};
    }

    // n analysed images: image i's segmentation is grey 10 + i, its count image 3-sample grey
    // 60 + i, its source grey 110 + i.
    void hold(int n, int index = 0, bool files = true)
    {
        m_list.clear();
        const QString folder = Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
        QDir().mkpath(folder);
        for (int i = 0; i < n; ++i) {
            ThumbnailInfo info;
            info.kind = 1;
            info.sourcePath = Paths::path("/media/USB1/") + QString("img%1.tif").arg(i);
            info.path = folder + QString("img%1.tif").arg(i);
            if (files) {
                QDir().mkpath(Paths::path("/media/USB1"));
                QVERIFY(writeFrame(GrowthMonitor::getResultFilePath(info.path, IMAGE_SEGMENTATION, ""), 10 + i));
                QVERIFY(writeFrame(GrowthMonitor::getResultFilePath(info.path, IMAGE_COUNT, ""), 60 + i, 3));
                QVERIFY(writeFrame(info.sourcePath, 110 + i));
            }
            m_list.push_back(info);
        }
        m_browser->loadThumbnail(m_list, index);
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        g_CurrentMenu = MENU_GROWTH_MONITOR;
        m_browser = std::make_unique<GrowthMonitorImageWidget>();
        m_browser->resize(1495, 1020);
        m_told.clear();
        connect(m_browser.get(), &GrowthMonitorImageWidget::changeCurrentIndex, this, [this](int i) { m_told << i; });
    }
    void cleanup()
    {
        m_browser.reset();
        m_root.reset();
        g_CurrentMenu = MENU_MULTICOLOR;
    }

    // The construction: segmentation checked, the hidden delete button, the form's label.
    void constructed()
    {
        QCOMPARE(m_browser->imageType(), IMAGE_SEGMENTATION);
        QVERIFY(ui()->BUTTON_IMAGE_SEGMENTATION->isChecked());
        QVERIFY(ui()->BUTTON_DELETE_IMAGE->isHidden());
        QCOMPARE(label(), QString("99999/99999"));
        QVERIFY(!view()->m_bHighByte);
        QCOMPARE(ui()->COMBOBOX_SLIDESHOW_INTERVAL->count(), 10);
        QCOMPARE(m_browser->slideIntervalMs(), 1000);
    }

    // A new list shows image index + 1 for 1 <= index < count, else the first.
    void indexRules_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("shown");
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("negative") << -1 << 0;
        QTest::newRow("count") << 10 << 0;
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("last") << 9 << 9;
    }
    void indexRules()
    {
        QFETCH(int, index);
        QFETCH(int, shown);
        hold(10, index);
        QCOMPARE(row(), shown);
        QCOMPARE(label(), QString("%1/10").arg(shown + 1));
        QCOMPARE(ui()->SLIDER_IMAGE_INDICATOR->value(), shown);
        QCOMPARE(ui()->SLIDER_IMAGE_INDICATOR->maximum(), 9);
        QCOMPARE(shownGrey(), 10 + shown);
        QCOMPARE(strip()->item(0)->data(Qt::UserRole + 10).toString(), m_list[0].sourcePath);
    }

    void emptyList()
    {
        hold(3);
        std::vector<ThumbnailInfo> none;
        m_browser->loadThumbnail(none, 0);
        QCOMPARE(label(), QString("0/0"));
        QCOMPARE(strip()->count(), 0);
        QVERIFY(!view()->pixmapItem() || view()->pixmapItem()->pixmap().isNull() || !view()->pixmapItem()->scene());
        QCOMPARE(showButtons(), QList<bool>({true, false, false}));
    }

    // Left on the first and Right on the last do nothing; the slider moves the image; the
    // label groups thousands in English whatever the process locale.
    void arrowsSliderLabel()
    {
        hold(3);
        m_told.clear();
        QTest::mouseClick(ui()->BUTTON_IMAGE_LIST_LEFT, Qt::LeftButton);
        QCOMPARE(row(), 0);
        QVERIFY(m_told.isEmpty());
        QTest::mouseClick(ui()->BUTTON_IMAGE_LIST_RIGHT, Qt::LeftButton);
        QTest::mouseClick(ui()->BUTTON_IMAGE_LIST_RIGHT, Qt::LeftButton);
        QCOMPARE(row(), 2);
        QTest::mouseClick(ui()->BUTTON_IMAGE_LIST_RIGHT, Qt::LeftButton);
        QCOMPARE(row(), 2);
        QCOMPARE(m_told, QList<int>({1, 2}));
        ui()->SLIDER_IMAGE_INDICATOR->setValue(1);
        QCOMPARE(row(), 1);
        QCOMPARE(label(), QString("2/3"));
        QCOMPARE(shownGrey(), 11);

        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        hold(1500, 1499, false);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(label(), QString("1,500/1,500"));
    }

    // Count, then raw: the count image, then the source of the same row; a tap on the checked
    // button keeps it checked and loads nothing.
    void typeButtons()
    {
        hold(3, 2);
        QCOMPARE(shownGrey(), 12);
        QTest::mouseClick(ui()->BUTTON_IMAGE_COUNT, Qt::LeftButton);
        QCOMPARE(m_browser->imageType(), IMAGE_COUNT);
        QCOMPARE(shownGrey(), 62);
        QTest::mouseClick(ui()->BUTTON_IMAGE_RAW, Qt::LeftButton);
        QCOMPARE(shownGrey(), 112);
        QVERIFY(ui()->BUTTON_IMAGE_RAW->isChecked());
        QVERIFY(!ui()->BUTTON_IMAGE_COUNT->isChecked() && !ui()->BUTTON_IMAGE_SEGMENTATION->isChecked());
        QTest::mouseClick(ui()->BUTTON_IMAGE_RAW, Qt::LeftButton);
        QVERIFY(ui()->BUTTON_IMAGE_RAW->isChecked());
        QCOMPARE(m_browser->filePath(1, IMAGE_COUNT), GrowthMonitor::getResultFilePath(m_list[1].path, IMAGE_COUNT, ""));
        // The type stays for the next list.
        hold(2);
        QCOMPARE(shownGrey(), 110);
    }

    // A 16-bit source is shown scaled by 255/4094; a file that is not a whole camera frame is not
    // shown and the view keeps what it had.
    void framesShown()
    {
        hold(2);
        QTest::mouseClick(ui()->BUTTON_IMAGE_RAW, Qt::LeftButton);
        QVERIFY(writeFrame(m_list[1].sourcePath, 2000, 1, 16));
        QVERIFY(m_browser->loadImageByIndex(1));
        QVERIFY(qAbs(shownGrey() - qRound(2000 * 255.0 / 4094.0)) <= 1);
        QVERIFY(writeFrame(m_list[0].sourcePath, 40, 1, 8, 640, 480));
        QVERIFY(!m_browser->loadImageByIndex(0));
        QVERIFY(qAbs(shownGrey() - 125) <= 1);
        QVERIFY(!m_browser->loadImageByIndex(5));
    }

    // From image 8 of 10: 9, 10, then back to 1 and ready. Pause keeps the image; Stop from a
    // paused show goes to image 1 with only Start enabled. A new list stops a running show.
    void slideShow()
    {
        hold(10, 7);
        ui()->COMBOBOX_SLIDESHOW_INTERVAL->setCurrentText("2.5 s");
        QTest::mouseClick(ui()->BUTTON_SLIDESHOW_START, Qt::LeftButton);
        QCOMPARE(m_browser->slideShowState(), SlideShowPlaying);
        QVERIFY(m_browser->slideTimer().isActive());
        QCOMPARE(m_browser->slideTimer().interval(), 2500);
        QCOMPARE(showButtons(), QList<bool>({false, true, true}));
        std::string stored;
        ReadPrivateProfileString("Setting_Growthmonitor", "ShowInterval", "", stored, Paths::configFile().toStdString());
        QCOMPARE(QString::fromStdString(stored), QString("2.5 s"));
        m_browser->updateSlide();
        QCOMPARE(row(), 8);
        m_browser->updateSlide();
        QCOMPARE(row(), 9);
        QCOMPARE(label(), QString("10/10"));
        m_browser->updateSlide();
        QCOMPARE(row(), 0);
        QCOMPARE(m_browser->slideShowState(), SlideShowReady);
        QVERIFY(!m_browser->slideTimer().isActive());

        QTest::mouseClick(ui()->BUTTON_SLIDESHOW_START, Qt::LeftButton);
        m_browser->updateSlide();
        QTest::mouseClick(ui()->BUTTON_SLIDESHOW_PAUSE, Qt::LeftButton);
        QCOMPARE(row(), 1);
        QCOMPARE(showButtons(), QList<bool>({true, false, true}));
        QVERIFY(!m_browser->slideTimer().isActive());
        QTest::mouseClick(ui()->BUTTON_SLIDESHOW_STOP, Qt::LeftButton);
        QCOMPARE(row(), 0);
        QCOMPARE(showButtons(), QList<bool>({true, false, false}));

        QTest::mouseClick(ui()->BUTTON_SLIDESHOW_START, Qt::LeftButton);
        hold(3);
        QVERIFY(!m_browser->slideTimer().isActive());
        QCOMPARE(m_browser->slideShowState(), SlideShowReady);
    }

    // The stored interval, in the short or the long form; no positive number plays at 1 s.
    void intervalTexts_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("ms");
        QTest::newRow("short") << "0.15 s" << "0.15 s" << 150;
        QTest::newRow("long") << "0.5 sec." << "0.5 s" << 500;
        QTest::newRow("no item") << "7 s" << "0.15 s" << 7000;
        QTest::newRow("zero") << "0 s" << "0.15 s" << 1000;
        QTest::newRow("no number") << "fast" << "0.15 s" << 1000;
    }
    void intervalTexts()
    {
        QFETCH(QString, stored);
        QFETCH(QString, item);
        QFETCH(int, ms);
        WritePrivateProfileString("Setting_Growthmonitor", "ShowInterval", stored.toStdString(),
                                  Paths::configFile().toStdString());
        m_browser = std::make_unique<GrowthMonitorImageWidget>();
        QCOMPARE(ui()->COMBOBOX_SLIDESHOW_INTERVAL->currentText(), item);
        QCOMPARE(m_browser->slideIntervalMs(), ms);
        hold(2);
        QTest::mouseClick(ui()->BUTTON_SLIDESHOW_START, Qt::LeftButton);
        QCOMPARE(m_browser->slideTimer().interval(), ms);
    }

    // The bar goes to the view on the growth monitor's screen only.
    void scaleBarGate()
    {
        hold(2);
        auto shown = [this] { return view()->scaleBarGroup() && view()->scaleBarGroup()->isVisible(); };
        TSScaleBar bar;
        bar.show = true;
        bar.lengthUm = 100;
        bar.lengthPixels = 50;
        g_CurrentMenu = MENU_CELLCOUNT;
        m_browser->setScaleBar(bar);
        QCOMPARE(m_browser->scaleBar().lengthUm, 100);
        QVERIFY(!shown());
        g_CurrentMenu = MENU_GROWTH_MONITOR;
        m_browser->setScaleBar(bar);
        QVERIFY(shown());
    }
};

QTEST_MAIN(TestGrowthBrowser)
#include "tst_growth_browser.moc"
