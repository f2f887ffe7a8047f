// The Growth monitor page in the whole application on the simulated instrument: frames captured
// from the live image, a folder of frames on the USB drive, stop, delete, CSV export and saving.
// Each result is measured again by our own numpy/OpenCV steps and every file the page writes is
// read by Python. The refusals and stray files are in tst_growth_refusals.
#include "AppBench.h"
#include "GrowthMonitorWidget.h"
#include "GrowthPageBench.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PythonIni.h"
#include "PythonLines.h"
#include "VideoWidget.h"
#include "ui_GrowthMonitorImageWidget.h"
#include "ui_GrowthMonitorWidget.h"
#include "ui_NIMBODlg.h"

#include <QListWidget>
#include <QTableWidget>
#include <QtTest>

class TestGrowthPage : public GrowthPageBench
{
    Q_OBJECT

private slots:
    void init() { startCase(); }
    void cleanup() { endCase(); }

    // Three captures, the third in 16-bit camera mode: three rows, the newest shown, each equal to
    // our own measure of its frame; then saved with the raw frames to the USB drive.
    void captureSeries()
    {
        QVERIFY(enter());
        QVERIFY(live());
        const QString work = Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
        for (int i = 0; i < 3; ++i) {
            if (i == 2) {
                m_bench->setConfig("Camera", "Mode", "16");
                video()->readSetting();
                QVERIFY(QTest::qWaitFor([this] { return page()->cameraBits() == 16 && video()->isRunning(); }, 15000));
            }
            QVERIFY(m_bench->waitUnlocked());
            QVERIFY(form()->BUTTON_CAPTURE->isVisible());
            capture();
            QCOMPARE(page()->currentState(), GROWTH_RESULT);
            QVERIFY(m_bench->waitUnlocked());
            QCOMPARE(table()->rowCount(), i + 1);
            QCOMPARE(browser()->LISTWIDGET_IMAGE->currentRow(), i); // the newest
            QCOMPARE(browser()->LABEL_IMAGE_NUMBER->text(), QString("%1/%1").arg(i + 1));
            if (i < 2)
                QVERIFY(live());
        }
        QStringList files;
        for (int i = 0; i < 3; ++i) {
            const QString file = work + QString::asprintf("Temp_%06d.tif", i);
            QCOMPARE(page()->model().thumbnails()[size_t(i)].path, file);
            QVERIFY(QFile::exists(GrowthMonitor::getResultFilePath(file, IMAGE_COUNT, "")));
            files << file;
        }
        QCOMPARE(ours(), computed(files));
        QCOMPARE(pythonLines({"-c", "import sys,tifffile\nfor f in sys.argv[1:]: print(tifffile.imread(f).dtype)", files[0],
                              files[2]}),
                 QStringList({"uint8", "uint16"}));
        QCOMPARE(page()->graphSeries().size(), size_t(4));

        // Saved with the raw frames: the dialog offers them after captures.
        QVERIFY(QTest::qWaitFor([this] { return QFileInfo(usb()).isDir(); }, 15000));
        g_PreviouslySavedPath = usb();
        QVERIFY(form()->BUTTON_SAVE_BEFORE->isVisible() && form()->BUTTON_SAVE_BEFORE->isEnabled());
        QTest::mouseClick(form()->BUTTON_SAVE_BEFORE, Qt::LeftButton);
        QVERIFY(page()->isSaved());
        QVERIFY(form()->BUTTON_SAVE_AFTER->isVisible());
        const QString saved = usb() + "/Growth";
        const QStringList written = QDir(saved).entryList({"*.tif"}, QDir::Files, QDir::Name);
        QCOMPARE(written.size(), 9);
        QStringList all;
        for (const QString &name : written)
            all << saved + '/' + name;
        const QStringList shapes = pythonLines(QStringList{"-c", "import sys,tifffile\nfor f in sys.argv[1:]:\n"
                                                                "  a=tifffile.imread(f); print(a.shape[1], a.shape[0])"} + all);
        QCOMPARE(shapes, QStringList(QVector<QString>(9, "1280 1024").toList()));

        // After a delete the next frame takes a new number: no listed frame is written over.
        table()->item(0, 0)->setCheckState(Qt::Checked);
        QTest::mouseClick(form()->BUTTON_TABLE_DELETE, Qt::LeftButton);
        QCOMPARE(table()->rowCount(), 2);
        QVERIFY(live());
        capture();
        QCOMPARE(page()->currentState(), GROWTH_RESULT);
        QCOMPARE(table()->rowCount(), 3);
        QCOMPARE(page()->model().thumbnails()[0].path, files[1]);
        QCOMPARE(page()->model().thumbnails()[2].path, work + "Temp_000003.tif");
        QVERIFY(m_bench->waitUnlocked());
    }

    // Ten frames in natural order, each equal to our own measure; the browser, the CSV export,
    // Stop, delete and the stored settings.
    void folderRun()
    {
        QVERIFY(enter());
        const QString folder = makeSeries();
        QVERIFY(!folder.isEmpty());
        form()->COMB_BACKGROUND->setCurrentIndex(1); // white: the cells are darker
        form()->CHKBOX_DILATE->setChecked(true);
        form()->SPINBOX_WATERSHED->setValue(0.5);
        runFolder(folder);
        QCOMPARE(page()->currentState(), GROWTH_RESULT);
        QVERIFY(m_bench->waitUnlocked());
        QStringList names, files;
        for (int i = 1; i <= 10; ++i) {
            names << QString("/USB1/day 1, plate A/img%1.tif").arg(i);
            files << folder + QString("/img%1.tif").arg(i);
        }
        QCOMPARE(tableColumn(1), names);
        QCOMPARE(ours(), computed(files));
        QVERIFY(!m_freeDuringRun);
        QCOMPARE(page()->graphSeries().size(), size_t(11));
        QCOMPARE(page()->graphSeries()[0], 0.0f);
        QCOMPARE(page()->graphSeries()[10], page()->model().thumbnails()[9].value);
        QCOMPARE(browser()->LABEL_IMAGE_NUMBER->text(), QString("1/10"));
        QTest::mouseClick(browser()->BUTTON_IMAGE_COUNT, Qt::LeftButton);
        QTest::mouseClick(browser()->BUTTON_IMAGE_RAW, Qt::LeftButton);
        QVERIFY(browser()->BUTTON_IMAGE_RAW->isChecked() && !browser()->BUTTON_IMAGE_COUNT->isChecked());

        // The CSV export, read by Python's csv: the header, then the table's rows.
        g_PreviouslySavedPath = usb();
        QTest::mouseClick(form()->BUTTON_CSV_EXPORT, Qt::LeftButton);
        const QStringList csvFiles = QDir(usb()).entryList({"*.csv"}, QDir::Files);
        QCOMPARE(csvFiles.size(), 1);
        const QStringList rows = pythonLines({"-c", "import csv,sys\nfor r in csv.reader(open(sys.argv[1], newline='')): print('|'.join(r))",
                                              usb() + '/' + csvFiles[0]});
        QStringList tableRows{"File|ConConfluency|Count|Threshold"};
        for (int row = 0; row < 10; ++row)
            tableRows << QString("%1|%2|%3|%4")
                             .arg(names[row])
                             .arg(QString::asprintf("%.2f", double(page()->model().thumbnails()[size_t(row)].value)),
                                  tableColumn(3)[row], tableColumn(4)[row]);
        QCOMPARE(rows, tableRows);

        // Stored settings, as configparser reads them.
        const QStringList ini = pythonIniLines(Paths::configFile()).filter("Setting_Growth/");
        QCOMPARE(ini, QStringList({"Setting_Growth/Background=1", "Setting_Growth/Dilate=1", "Setting_Growth/MinObjSize=5",
                                   "Setting_Growth/Threshold_Type=0", "Setting_Growth/Threshold_Value=0",
                                   "Setting_Growth/Watershed=0.5"}));

    }

    // Stop after three of ten keeps three; rows deleted with their result images.
    void folderStopAndDelete()
    {
        QVERIFY(enter());
        const QString folder = makeSeries();
        QVERIFY(!folder.isEmpty());
        m_stopAfter = 3;
        runFolder(folder);
        QCOMPARE(page()->currentState(), GROWTH_RESULT);
        QCOMPARE(table()->rowCount(), 3);
        QCOMPARE(ours(), computed({folder + "/img1.tif", folder + "/img2.tif", folder + "/img3.tif"}));
        QVERIFY(m_bench->waitUnlocked());
        const QString second = "/USB1/day 1, plate A/img2.tif";

        // Rows 0 and 2 deleted with their result images; the sources stay.
        const std::vector<ThumbnailInfo> before = page()->model().thumbnails();
        table()->item(0, 0)->setCheckState(Qt::Checked);
        table()->item(2, 0)->setCheckState(Qt::Checked);
        QTest::mouseClick(form()->BUTTON_TABLE_DELETE, Qt::LeftButton);
        QCOMPARE(tableColumn(1), QStringList({second}));
        QCOMPARE(browser()->LISTWIDGET_IMAGE->count(), 1);
        for (int gone : {0, 2}) {
            QVERIFY(!QFile::exists(GrowthMonitor::getResultFilePath(before[size_t(gone)].path, IMAGE_COUNT, "")));
            QVERIFY(!QFile::exists(GrowthMonitor::getResultFilePath(before[size_t(gone)].path, IMAGE_SEGMENTATION, "")));
            QVERIFY(QFile::exists(before[size_t(gone)].sourcePath));
        }
        QVERIFY(QFile::exists(GrowthMonitor::getResultFilePath(before[1].path, IMAGE_COUNT, "")));

        // Nothing checked: told, nothing deleted; the one row left, checked, goes too.
        m_bench->clearDialogs();
        QTest::mouseClick(form()->BUTTON_TABLE_DELETE, Qt::LeftButton);
        QVERIFY(m_bench->showedMessage(MSG_NO_SELECTED_IMAGE));
        QCOMPARE(table()->rowCount(), 1);
        table()->item(0, 0)->setCheckState(Qt::Checked);
        QTest::mouseClick(form()->BUTTON_TABLE_DELETE, Qt::LeftButton);
        QCOMPARE(table()->rowCount(), 0);
        QCOMPARE(browser()->LABEL_IMAGE_NUMBER->text(), QString("0/0"));
    }

    // The minimum object size is a radius in micrometres; the area is held to one frame.
    void minimumArea_data()
    {
        QTest::addColumn<int>("sizeUm");
        QTest::addColumn<float>("magnification");
        QTest::addColumn<float>("pixelSize");
        QTest::addColumn<int>("area");
        QTest::newRow("5 um, 10X") << 5 << 10.0f * 0.655f << 3.63f << 255;
        QTest::newRow("none") << 0 << 6.55f << 3.63f << 0;
        QTest::newRow("no objective") << 5 << 0.0f << 3.63f << 0;
        QTest::newRow("no pixel size") << 5 << 6.55f << 0.0f << 0;
        QTest::newRow("10,000,000 um") << 10000000 << 6.55f << 3.63f << 1310720;
    }
    void minimumArea()
    {
        QFETCH(int, sizeUm);
        QFETCH(float, magnification);
        QFETCH(float, pixelSize);
        QFETCH(int, area);
        QCOMPARE(GrowthMonitorWidget::minimumArea(sizeUm, magnification, pixelSize), area);
    }

    // A capture whose frame never comes returns to the live image too.
    void captureWithoutFrame()
    {
        QVERIFY(enter());
        QVERIFY(live());
        // The frame goes nowhere: the page's connection from the camera is cut.
        QVERIFY(QObject::disconnect(video(), SIGNAL(captured(uchar*,int)), page(), SLOT(captureCompleted(uchar*,int))));
        capture();
        QCOMPARE(page()->currentState(), GROWTH_LIVE);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(panelAndMenuFree());
        QVERIFY(form()->BUTTON_CAPTURE->isEnabled());
        QCOMPARE(table()->rowCount(), 0);
    }
};

QTEST_MAIN(TestGrowthPage)
#include "tst_growth_page.moc"
