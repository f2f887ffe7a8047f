// The results of a count on the Cell count page and in its viewer, by direct calls: the histogram
// drawn at its pixel columns, its labels, the cluster map and the size gate; the viewer's choice of
// work file, pseudo colour, tag view and refusals; the RESULTS table and the save flags.
#include "CSVReaderWriter.h"
#include "CellCountImageWidget.h"
#include "CellCountWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "ImageGraphicsView.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"
#include "Utilities.h"
#include "ui_CellCountImageWidget.h"
#include "ui_CellCountWidget.h"

#include <QGraphicsPixmapItem>
#include <QtTest>

namespace {

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255);

QVector<int> bins(int size, std::initializer_list<std::pair<int, int>> set)
{
    QVector<int> v(size, 0);
    for (const auto &[bin, count] : set)
        v[bin] = count;
    return v;
}

// Writes a work file of the count folder.
void writeWork(const QString &name, int width, int height, int samples, int value)
{
    std::vector<unsigned char> pixels(size_t(width) * height * samples);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (unsigned char)(samples == 3 ? value + int(i % 3) * 50 : value);
    ImReaderWriter writer;
    QVERIFY(writer.load(pixels.data(), width, height, 8, samples, 1, samples == 3 ? 2 : 1, 1));
    QVERIFY(writer.write((CellCount::rawDataPath() + name).toUtf8(), QByteArray()));
}

} // namespace

class TestCellCountResults : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<CellCountWidget> m_page;
    std::unique_ptr<CellCountImageWidget> m_viewer;
    QStringList m_dialogs; // class and message text of every dialog opened
    int m_answer = 1;

    Ui_CellCountWidget *form() const { return m_page->form(); }
    ImageGraphicsView *view() const { return m_viewer->form()->m_LGraphicsView; }

    // The page's own drawing, without its children.
    QImage drawing() const
    {
        QImage image(m_page->size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        m_page->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }

    // Rows of colour in column x rising from the bottom row - 1 of the plot, from row `from` up.
    int run(const QImage &image, int x, int from, QRgb colour) const
    {
        int n = 0;
        while (from - n >= 0 && image.pixel(x, from - n) == colour)
            ++n;
        return n;
    }

    QRgb shownPixel() const
    {
        QGraphicsPixmapItem *item = view()->pixmapItem();
        return item ? item->pixmap().toImage().pixel(10, 10) : 0;
    }

    int annotationCount() const
    {
        QList<QGraphicsItem *> items;
        return view()->diagramScene()->getDiagramItemList(items);
    }

    void clickTimes(QPushButton *button, int times)
    {
        for (int i = 0; i < times; ++i)
            QMetaObject::invokeMethod(m_page.get(), QString("on_%1_clicked").arg(button->objectName()).toUtf8());
    }

    // Five work files of a count; row 2 a manual capture. Row n: frame grey 10 + n, tag (20n, 20n + 50, 20n + 100).
    std::vector<ThumbnailInfo> fiveImages()
    {
        std::vector<ThumbnailInfo> images;
        for (int n = 0; n < 5; ++n) {
            ThumbnailInfo info;
            info.kind = n == 2 ? 1 : 0;
            if (info.kind == 1) {
                QFile raw(CellCount::rawDataPath() + "Temp_000002.raw");
                raw.open(QIODevice::WriteOnly);
                raw.write(QByteArray(1280 * 1024, char(99)));
                info.path = raw.fileName();
            } else {
                writeWork(QString::asprintf("Temp_%06d.tif", n), 1280, 1024, 1, 10 + n);
                writeWork(QString::asprintf("Temp_%06d_TAG.tif", n), 1280, 1024, 3, 20 * n);
                info.path = CellCount::rawDataPath() + QString::asprintf("Temp_%06d_TAG.tif", n);
            }
            images.push_back(info);
        }
        return images;
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/media/VANTOR SSD/.CellCount");
        m_root->makeDir("/root/Microscope/NIMBO");
        initializePseudoColorTable();
        g_CurrentMenu = MENU_CELLCOUNT;
        m_page = std::make_unique<CellCountWidget>();
        m_page->resize(378, 1020);
        m_page->show();
        m_viewer = std::make_unique<CellCountImageWidget>();
        m_viewer->show();
        m_dialogs.clear();
        m_answer = 1;
        DialogRunner::setStandingScript([this](QDialog *dialog) {
            m_dialogs << QString("%1:%2").arg(dialog->metaObject()->className(), DialogScripts::messageText(dialog));
            return m_answer;
        });
    }

    void cleanup()
    {
        DialogRunner::setStandingScript({});
        m_viewer.reset();
        m_page.reset();
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // Bars at their columns: x = left - 2 + 6 k, 4 pixels wide, rising from the bottom row - 1.
    // Expected "x:red:green" per checked column (red from the bottom, green on top of it).
    void histogramBars_data()
    {
        QTest::addColumn<QVector<int>>("live");
        QTest::addColumn<QVector<int>>("dead");
        QTest::addColumn<float>("binSize");
        QTest::addColumn<float>("offset");
        QTest::addColumn<int>("largest");
        QTest::addColumn<int>("typeClicks"); // 0 total, 1 live, 2 dead
        QTest::addColumn<QString>("expected");
        QTest::newRow("no offset: bin 1 in column 1, bin 0 never")
            << bins(10, {{0, 2}, {1, 2}}) << bins(10, {}) << 1.0f << 0.0f << 2 << 0 << "46:0:0 52:0:148 55:0:148 56:0:0";
        QTest::newRow("offset 5: bin 7 in column 1")
            << bins(12, {{6, 1}, {7, 1}}) << bins(12, {}) << 1.0f << 5.0f << 1 << 0 << "52:0:148 82:0:0 88:0:0";
        QTest::newRow("59.7 um still drawn")
            << bins(32, {{30, 1}, {31, 1}}) << bins(32, {}) << 1.99f << 0.0f << 1 << 0 << "226:0:148 232:0:0";
        QTest::newRow("60 um ends the drawing")
            << bins(32, {{29, 1}, {30, 1}}) << bins(32, {}) << 2.0f << 0.0f << 1 << 0 << "220:0:148 226:0:0";
        // s = 148 / 3: the bin of the largest total floors its dead part, the others ceil it.
        const QVector<int> live = bins(10, {{1, 2}}), dead = bins(10, {{1, 1}, {2, 1}});
        QTest::newRow("total: floor and ceil") << live << dead << 1.0f << 0.0f << 3 << 0 << "52:49:99 58:50:0";
        QTest::newRow("live") << live << dead << 1.0f << 0.0f << 3 << 1 << "52:0:99 58:0:0";
        QTest::newRow("dead") << live << dead << 1.0f << 0.0f << 3 << 2 << "52:49:0 58:50:0";
    }
    void histogramBars()
    {
        QFETCH(QVector<int>, live);
        QFETCH(QVector<int>, dead);
        QFETCH(float, binSize);
        QFETCH(float, offset);
        QFETCH(int, largest);
        QFETCH(int, typeClicks);
        QFETCH(QString, expected);
        const int clusters[9] = {};
        clickTimes(form()->BUTTON_CELL_TYPE, typeClicks);
        QCOMPARE(m_page->cellType(), typeClicks);
        m_page->setHistogramData(live, dead, clusters, binSize, offset, largest);
        m_page->showResultFrame(true);
        const QRect plot = m_page->plotArea();
        QCOMPARE(plot, QRect(48, 810, 262, 150));
        const QImage image = drawing();
        const int bottom = plot.bottom() - 1;
        for (const QString &check : expected.split(' ')) {
            const QStringList f = check.split(':');
            const int x = f[0].toInt(), red = run(image, x, bottom, kRed);
            QCOMPARE(QString("%1:%2:%3").arg(x).arg(red).arg(run(image, x, bottom - red, kGreen)), check);
        }
        // Nothing at all while the manual page is shown.
        form()->STACKEDWIDGET->setCurrentIndex(1);
        const QImage manual = drawing();
        QCOMPARE(run(manual, 52, bottom, kGreen) + run(manual, 52, bottom, kRed), 0);
    }

    void axisLabels_data()
    {
        QTest::addColumn<int>("largest");
        QTest::addColumn<float>("mantissa");
        QTest::addColumn<bool>("concentration");
        QTest::addColumn<QStringList>("labels"); // max, mid, mid 1, mid 2
        QTest::newRow("6") << 6 << 1.0f << false << QStringList({"6", "3", "", ""});
        QTest::newRow("9") << 9 << 1.0f << false << QStringList({"9", "", "3", "6"});
        QTest::newRow("7") << 7 << 1.0f << false << QStringList({"7", "", "", ""});
        QTest::newRow("1") << 1 << 1.0f << false << QStringList({"1", "", "", ""});
        QTest::newRow("mantissa 1.0") << 6 << 1.0f << true << QStringList({"1.0", "", "", ""});
        QTest::newRow("mantissa 3.0") << 6 << 3.0f << true << QStringList({"3.0", "1.5", "", ""});
    }
    void axisLabels()
    {
        QFETCH(int, largest);
        QFETCH(float, mantissa);
        QFETCH(bool, concentration);
        QFETCH(QStringList, labels);
        const int clusters[9] = {};
        if (concentration)
            clickTimes(form()->BUTTON_CELL_CONCENTRATION_OR_NUMBER, 1);
        m_page->setHistogramData(bins(10, {}), bins(10, {}), clusters, 1.0f, 0.0f, largest, mantissa);
        QCOMPARE(QStringList({form()->LABEL_MAX->text(), form()->LABEL_MID->text(), form()->LABEL_MID_1->text(),
                              form()->LABEL_MID_2->text()}),
                 labels);
        QCOMPARE(form()->LABEL_UNITINFO->isHidden(), !concentration);
        QVERIFY(form()->BUTTON_CELL_CONCENTRATION_OR_NUMBER->styleSheet().contains(concentration ? "cell concentration1.png"
                                                                                                 : "cell number1.png"));
        QCOMPARE(form()->LABEL_GRAPH_X_6->text(), QString("60"));
    }

    // Shares 0.3 and 0.7 % draw 1 and 2 pixels, 97 % (int)(148 / 100 x 97); ">5" sums 5 to 8.
    void clusterMap()
    {
        const int clusters[9] = {0, 3, 7, 970, 0, 10, 5, 3, 2};
        m_page->setHistogramData(bins(10, {{1, 1}}), bins(10, {}), clusters, 1.0f, 0.0f, 1);
        m_page->showResultFrame(true);
        clickTimes(form()->BUTTON_CLUSTERMAP, 2); // the second press changes nothing
        QVERIFY(m_page->clusterMapShown());
        QCOMPARE(form()->LABEL_GRAPH_X_5->text(), QString(">5"));
        QCOMPARE(QStringList({form()->LABEL_MAX->text(), form()->LABEL_MID->text()}), QStringList({"100", "50"}));
        QVERIFY(form()->line_1->isHidden() && form()->LABEL_GRAPH_X_6->isHidden() && !form()->BUTTON_APPLY->isEnabled());
        QVERIFY(form()->BUTTON_CLUSTERMAP->styleSheet().contains("clustermap on 1.png"));
        QVERIFY(form()->BUTTON_CELL_TYPE->styleSheet().contains("total off 1.png"));
        clickTimes(form()->BUTTON_CELL_CONCENTRATION_OR_NUMBER, 1);
        QCOMPARE(m_page->concentrationOrNumber(), 0); // ignored under the map

        const QImage image = drawing();
        const double w = form()->LABEL_GRAPH_X_2->x() - form()->LABEL_GRAPH_X_1->x();
        const int base = int((48 - 3) - 0.25 * w + 1.0), bottom = m_page->plotArea().bottom() - 1;
        const int heights[5] = {1, 2, 143, 0, 2};
        for (int j = 1; j <= 5; ++j) {
            const int x = int(base + j * w);
            QCOMPARE(run(image, x, bottom, kBlue), heights[j - 1]);
            QCOMPARE(run(image, x + int(0.5 * w + 1.0) - 1, bottom, kBlue), heights[j - 1]);
        }
        QCOMPARE(run(image, 52, bottom, kGreen), 0); // no size bars under the map

        // The cell-type button leaves the map and keeps the type.
        clickTimes(form()->BUTTON_CELL_TYPE, 1);
        QVERIFY(!m_page->clusterMapShown());
        QCOMPARE(m_page->cellType(), 0);
        QVERIFY(form()->BUTTON_CELL_TYPE->styleSheet().contains("total on 1.png"));
        QVERIFY(!form()->line_1->isHidden());
        QCOMPARE(run(drawing(), 52, bottom, kGreen), 148);
        clickTimes(form()->BUTTON_CELL_TYPE, 1);
        QVERIFY(form()->BUTTON_CELL_TYPE->styleSheet().contains("live on 1.png"));
    }

    // 1 <= minimum < maximum <= 90, markers at 4 x minimum + 282 and 4 x maximum + 286.
    void sizeGate()
    {
        clickTimes(form()->BUTTON_MAX_CELL_SIZE_CONTROL, 1);
        QCOMPARE(m_page->selectedGate(), 1);
        QVERIFY(form()->BUTTON_MAX_CELL_SIZE_CONTROL->styleSheet().contains("red.png"));
        clickTimes(form()->BUTTON_PLUS, 95);
        QCOMPARE(m_page->gateMaximum(), 90);
        clickTimes(form()->BUTTON_MIN_CELL_SIZE_CONTROL, 1);
        clickTimes(form()->BUTTON_MINUS, 1);
        QCOMPARE(m_page->gateMinimum(), 0);
        clickTimes(form()->BUTTON_PLUS, 100);
        QCOMPARE(m_page->gateMinimum(), 89);
        clickTimes(form()->BUTTON_MAX_CELL_SIZE_CONTROL, 1);
        clickTimes(form()->BUTTON_MINUS, 1);
        QCOMPARE(m_page->gateMaximum(), 90);
        QCOMPARE(form()->BUTTON_MIN_CELL_SIZE_CONTROL->pos(), QPoint(4 * 89 + 282, 406));
        QCOMPARE(form()->BUTTON_MAX_CELL_SIZE_CONTROL->pos(), QPoint(4 * 90 + 286, 406));
        QCOMPARE(m_page->gateMaximumText(), QString("90"));
        QVERIFY(form()->BUTTON_PLUS->isHidden() && form()->FRAME_BAR->isHidden());
    }

    void binCount_data()
    {
        QTest::addColumn<float>("maxSize");
        QTest::addColumn<float>("offset");
        QTest::addColumn<int>("bins");
        QTest::newRow("60 um, offset 5") << 60.0f << 5.0f << 62; // 65 / 1.247 = 52.1
        QTest::newRow("negative maximum") << -100.0f << 5.0f << 10;
        QTest::newRow("zero") << 0.0f << 0.0f << 10;
        QTest::newRow("not a number") << std::nanf("") << 0.0f << 10;
        QTest::newRow("huge") << 1e30f << 0.0f << 100010;
    }
    void binCount()
    {
        QFETCH(float, maxSize);
        QFETCH(float, offset);
        QFETCH(int, bins);
        QCOMPARE(CellCountWidget::nimboBinCount(maxSize, offset, 3.63f / (4.0f * 1.1111112f * 0.655f)), bins);
    }

    // The RESULTS table row for row; fields with a comma are quoted.
    void resultTable_data()
    {
        QTest::addColumn<float>("offset");
        QTest::addColumn<QStringList>("histogram"); // first and last rows
        QTest::newRow("no offset") << 0.0f << QStringList({"1.00,1,0", "60.00,60,0"});
        QTest::newRow("offset 5") << 5.0f << QStringList({"0,0,0", "2.00,7,0", "60.00,65,0"});
    }
    void resultTable()
    {
        QFETCH(float, offset);
        QFETCH(QStringList, histogram);
        nimbo_protocol_t p;
        p.name = "Cells, 2x";
        p.nDilutionFactor = 2;
        p.nMustDetectIntensity = 163;
        p.fRoundness = 40.4f;
        p.nMinCellSize = 3;
        p.nMaxCellSize = 60;
        m_page->setWorkingProtocol(p);
        m_page->setResultValues(1.5f, 5, 0.5f, 5);
        QVector<int> live(80);
        for (int i = 0; i < live.size(); ++i)
            live[i] = i;
        const int clusters[9] = {};
        m_page->setHistogramData(live, QVector<int>(80, 0), clusters, 1.0f, offset, 79);
        CSVReaderWriter csv;
        m_page->fillResultTable(csv);
        QCOMPARE(csv.row(0), QByteArray("RESULTS"));
        QCOMPARE(csv.row(1), QByteArray("Total cell concentration,2.00x10e5 cells/mL"));
        QCOMPARE(csv.row(5), QByteArray("Average size,0.0 um"));
        const QList<QByteArray> settings = {" ", "Protocol Name,\"Cells, 2x\"", "Dilution Factor,2",
                                            "Live Cell Sensitivity,5", "Roundness,40 %", "Min. Cell Size,3 um",
                                            "Max. Cell Size,60 um", " ", "Cell Size(um),Live,Dead"};
        for (int i = 0; i < settings.size(); ++i)
            QCOMPARE(csv.row(10 + i), settings[i]);
        QCOMPARE(QString(csv.row(19)), histogram.first());
        if (histogram.size() > 2)
            QCOMPARE(QString(csv.row(20)), histogram[1]);
        QCOMPARE(QString(csv.row(csv.rowCount() - 1)), histogram.last());
    }

    void selectImageFirst()
    {
        QSignalSpy getData(m_page.get(), &CellCountWidget::getCurrentImageData);
        m_page->slotSave(true);
        QCOMPARE(m_dialogs, QStringList({"MessageDlg:[ERROR] Select Image."}));
        QCOMPARE(getData.count(), 0);
    }

    // Save before marks the count saved on an accepted dialog only; save after never does.
    void saveFlags()
    {
        std::vector<ThumbnailInfo> images = fiveImages();
        for (ThumbnailInfo &info : images)
            m_page->model().pushThumbnail(info);
        m_page->slotChangedCurrentThumbnailIndex(4);
        QSignalSpy saved(m_page.get(), &CellCountWidget::saved);
        m_answer = 0;
        m_page->on_BUTTON_SAVE_BEFORE_clicked();
        QCOMPARE(saved.count(), 0);
        QVERIFY(!m_page->savedFlag());
        m_answer = 1;
        m_page->on_BUTTON_SAVE_BEFORE_clicked();
        QCOMPARE(saved.count(), 1);
        QVERIFY(m_page->savedFlag());
        QVERIFY(!form()->BUTTON_SAVE_AFTER->isHidden() && form()->BUTTON_SAVE_BEFORE->isHidden());
        m_page->on_BUTTON_SAVE_AFTER_clicked();
        QCOMPARE(saved.count(), 1);
        QCOMPARE(m_dialogs.size(), 3);
        QVERIFY(m_dialogs.last().startsWith("SaveOptionsDlg"));

        // A manual frame goes through the viewer's rendered image.
        QSignalSpy getData(m_page.get(), &CellCountWidget::getCurrentImageData);
        m_page->slotChangedCurrentThumbnailIndex(2);
        m_page->slotSave(true);
        QCOMPARE(getData.count(), 1);
        m_page->slotGenerateImageData(QImage());
        QCOMPARE(m_dialogs.size(), 3); // a null image opens nothing
        QImage rendered(1280, 1024, QImage::Format_RGB888);
        rendered.fill(Qt::red);
        m_page->slotGenerateImageData(rendered);
        QCOMPARE(m_dialogs.size(), 4);
        QCOMPARE(saved.count(), 1); // already saved: exec only
    }

    // Work files of another size are left out of the dialog and the viewer (ASan sees any overrun).
    void oddSizedFiles()
    {
        writeWork("Temp_000000.tif", 640, 512, 1, 30);
        writeWork("Temp_000000_TAG.tif", 1280, 1024, 1, 7); // one channel where three belong
        ThumbnailInfo info;
        info.kind = 0;
        info.path = CellCount::rawDataPath() + "Temp_000000_TAG.tif";
        m_page->model().pushThumbnail(info);
        m_page->slotChangedCurrentThumbnailIndex(0);
        m_page->slotSave(true);
        QCOMPARE(m_dialogs.size(), 1);
        std::vector<ThumbnailInfo> one{info};
        m_viewer->loadThumbnail(one);
        QCOMPARE(shownPixel(), qRgb(7, 7, 7));
        m_viewer->slotShowTagImage(false, true); // the frame file is refused: the view keeps its image
        QCOMPARE(shownPixel(), qRgb(7, 7, 7));
        QFile raw(CellCount::rawDataPath() + "Temp_000000.raw");
        QVERIFY(raw.open(QIODevice::WriteOnly));
        raw.write(QByteArray(1000, 'x'));
        raw.close();
        m_page->model().clearThumbnails();
        info.kind = 1;
        info.path = raw.fileName();
        m_page->model().pushThumbnail(info);
        m_page->slotGenerateImageData(QImage(1280, 1024, QImage::Format_RGB888));
        QCOMPARE(m_dialogs.size(), 1); // an unreadable raw frame ends the save silently
    }

    // A count's images still held in memory are shown without their files (written after the
    // count); a held image of another size is left out like an odd file.
    void viewerHeldImages()
    {
        ThumbnailInfo info;
        info.kind = 0;
        info.path = CellCount::rawDataPath() + "Temp_000000_TAG.tif"; // not written yet
        info.image = QImage(1280, 1024, QImage::Format_RGB888);
        info.image.fill(qRgb(10, 20, 30));
        info.frameImage = QImage(1280, 1024, QImage::Format_Grayscale8);
        info.frameImage.fill(40);
        std::vector<ThumbnailInfo> one{info};
        m_viewer->loadThumbnail(one);
        QCOMPARE(shownPixel(), qRgb(10, 20, 30));
        m_viewer->slotShowTagImage(false, true);
        QCOMPARE(shownPixel(), qRgb(40, 40, 40));
        one[0].frameImage = QImage(640, 512, QImage::Format_Grayscale8);
        one[0].frameImage.fill(90);
        m_viewer->loadThumbnail(one);
        QCOMPARE(shownPixel(), QRgb(0));
    }

    // The work file of each row by its kind and the tag flag; the newest of five is shown.
    void viewerFiles()
    {
        std::vector<ThumbnailInfo> images = fiveImages();
        QSignalSpy rows(m_viewer.get(), &CellCountImageWidget::changeCurrentIndex);
        m_viewer->loadThumbnail(images);
        QCOMPARE(rows.count(), 1);
        QCOMPARE(rows[0][0].toInt(), 4);
        QCOMPARE(m_viewer->form()->LISTWIDGET_IMAGE->currentRow(), 4);
        QCOMPARE(m_viewer->form()->LISTWIDGET_IMAGE->item(2)->type(), 1);
        QCOMPARE(shownPixel(), qRgb(80, 130, 180));
        const QString dir = CellCount::rawDataPath();
        QCOMPARE(m_viewer->imagePathOf(2), dir + "Temp_000002.raw");
        QCOMPARE(m_viewer->imagePathOf(3), dir + "Temp_000003_TAG.tif");
        m_viewer->slotShowTagImage(false, true);
        QCOMPARE(m_viewer->imagePathOf(2), dir + "Temp_000002.raw");
        QCOMPARE(m_viewer->imagePathOf(3), dir + "Temp_000003.tif");
        QCOMPARE(shownPixel(), qRgb(14, 14, 14));
        m_viewer->changedCurrentIndex(2);
        QCOMPARE(shownPixel(), qRgb(99, 99, 99));
        m_viewer->changedCurrentIndex(5); // outside the list: nothing changes
        m_viewer->changedCurrentIndex(-1);
        QCOMPARE(m_viewer->form()->LISTWIDGET_IMAGE->currentRow(), 2);
        QCOMPARE(shownPixel(), qRgb(99, 99, 99));
        // List mode numbers the rows.
        QMetaObject::invokeMethod(m_viewer.get(), "on_BUTTON_IMAGE_TYPE_LIST_clicked");
        QCOMPARE(m_viewer->form()->LISTWIDGET_IMAGE->item(4)->text(), QString("5"));
        QVERIFY(!m_viewer->form()->BUTTON_IMAGE_TYPE_THUMBNAIL->isChecked());
        // clear keeps the image; pseudo colour then reloads nothing.
        m_viewer->clear();
        m_viewer->setPseudoColor(true, 1, 0);
        QCOMPARE(shownPixel(), qRgb(99, 99, 99));
    }

    // Pseudo colour keeps zoom and marks; the tag view resets both. The overlay keeps its colours.
    void viewerColourAndTag()
    {
        std::vector<ThumbnailInfo> images = fiveImages();
        m_viewer->slotShowTagImage(false, false);
        m_viewer->loadThumbnail(images);
        QCOMPARE(shownPixel(), qRgb(14, 14, 14));
        QWheelEvent wheel(QPointF(600, 500), view()->viewport()->mapToGlobal(QPoint(600, 500)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view()->viewport(), &wheel);
        const double zoom = view()->zoomValue();
        QVERIFY(zoom > 100);
        view()->diagramScene()->addGraphicsItem(new DiagramRectItem(QRectF(10, 10, 20, 20), nullptr), false);
        QCOMPARE(annotationCount(), 1);

        g_CurrentMenu = MENU_MULTICOLOR; // another menu: stored only
        m_viewer->setPseudoColor(true, 1, 0);
        QCOMPARE(shownPixel(), qRgb(14, 14, 14));
        g_CurrentMenu = MENU_CELLCOUNT;
        m_viewer->setPseudoColor(true, 1, 1);
        QCOMPARE(shownPixel(), qRgb(0, 14, 0));
        QCOMPARE(view()->zoomValue(), zoom);
        QCOMPARE(annotationCount(), 1);

        m_viewer->slotShowTagImage(true, true);
        QCOMPARE(shownPixel(), qRgb(80, 130, 180));
        QCOMPARE(view()->zoomValue(), 100.0);
        QCOMPARE(annotationCount(), 0);
    }

    // The point count reaches the page's manual readout; other tools do not.
    void measurementRelay()
    {
        connect(m_viewer.get(), &CellCountImageWidget::measurementResultChanged, m_page.get(),
                &CellCountWidget::setMeasurementResult);
        TSMeasurementItem item;
        item.tool = TMeasurementTool(10);
        item.count = 3;
        emit view()->measurementResultChanged(item, true);
        QCOMPARE(form()->LABEL_MANUAL_COUNT->text(), QString("3"));
        item.tool = TMeasurementTool(1);
        item.count = 7;
        emit view()->measurementResultChanged(item, false);
        QCOMPARE(form()->LABEL_MANUAL_COUNT->text(), QString("3"));

        std::vector<ThumbnailInfo> images = fiveImages();
        m_viewer->loadThumbnail(images);
        QSignalSpy rendered(m_viewer.get(), &CellCountImageWidget::generateImageData);
        m_viewer->slotGetCurrentImageData();
        QCOMPARE(rendered.count(), 1);
        QCOMPARE(rendered[0][0].value<QImage>().size(), QSize(1280, 1024));
    }
};

QTEST_MAIN(TestCellCountResults)
#include "tst_cellcount_results.moc"
