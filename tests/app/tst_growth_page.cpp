// The Growth monitor page in the whole application on the simulated instrument: frames captured
// from the live image, a folder of frames on the USB drive, stop, delete, CSV export and saving,
// and every refusal. Each result is measured again by our own numpy/OpenCV steps
// (confluency_check.py --compute) and every file the page writes is read by Python.
#include "AppBench.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "GraphFrame.h"
#include "GrowthMonitorImageWidget.h"
#include "GrowthMonitorWidget.h"
#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PythonIni.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"
#include "ui_GrowthMonitorImageWidget.h"
#include "ui_GrowthMonitorWidget.h"
#include "ui_NIMBODlg.h"

#include <QListWidget>
#include <QTableWidget>
#include <QtTest>
#include <cstring>

namespace {

QString python() { return QStringLiteral("/usr/bin/python3"); }

QStringList runPython(const QStringList &args)
{
    QProcess process;
    process.start(python(), args);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return {"python failed: " + QString::fromUtf8(process.readAllStandardError())};
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QString checkScript() { return qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/modes/confluency_check.py"; }

} // namespace

class TestGrowthPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    int m_stopAfter = 0;    // the Calculating dialog's Stop is pressed at this many images
    bool m_freeDuringRun = false; // the main menu or the panel was free while a run worked

    GrowthMonitorWidget *page() const { return m_bench->ui()->m_GrowthMonitorWidget; }
    Ui_GrowthMonitorWidget *form() const { return page()->form(); }
    Ui_GrowthMonitorImageWidget *browser() const { return m_bench->ui()->m_GrowthMonitorImageWidget->form(); }
    QTableWidget *table() const { return form()->TABLEWIDGET_RESULT; }
    VideoWidget *video() const { return m_bench->ui()->m_VideoWidget; }
    QString usb() const { return Paths::path("/media/USB1"); }

    bool panelAndMenuFree() const
    {
        return m_bench->menuUnlocked() && m_bench->ui()->m_ControlWidget->isEnabled();
    }

    // The application on the Growth monitor page (entered through the main window's slot), the
    // boxes of a run running until the page closes them.
    bool enter()
    {
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->start();
        m_bench->setAnswer([this](QDialog *dialog) {
            const QString text = DialogScripts::messageText(dialog);
            const int saved = AppBench::saveAs(dialog, "Growth");
            if (saved >= 0)
                return saved;
            if (dialog->inherits("DirectoryDialog"))
                return DialogRunner::showAndRun(dialog, [](QDialog *d) { DialogRunner::click(d, "BUTTON_APPLY"); }, 30000);
            if (auto *progress = qobject_cast<TimeLapseProgressDlg *>(dialog)) {
                const int stopAfter = m_stopAfter;
                return DialogRunner::showAndRun(dialog, [this, stopAfter, progress](QDialog *) {
                    auto *watch = new QTimer(progress);
                    QObject::connect(watch, &QTimer::timeout, progress, [this, progress, stopAfter] {
                        // Until the page closes the dialog at the run's end.
                        if (progress->isVisible())
                            m_freeDuringRun = m_freeDuringRun || panelAndMenuFree();
                        if (stopAfter > 0 && progress->getCurrentCount() >= stopAfter)
                            DialogRunner::click(progress, "BUTTON_STOP");
                    });
                    watch->start(0);
                }, 300000);
            }
            if (text.contains("Initializing"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 60000);
            return 1;
        });
        if (!m_bench->menuUnlocked())
            return false;
        QMetaObject::invokeMethod(m_bench->window.get(), "on_BUTTON_MONITOR_MENU_clicked");
        return m_bench->waitUnlocked() && g_CurrentMenu == MENU_GROWTH_MONITOR && page()->currentState() == GROWTH_IDLE;
    }

    bool live()
    {
        QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
        return QTest::qWaitFor([this] { return video()->isRunning(); }, 15000) && m_bench->waitUnlocked()
               && page()->currentState() == GROWTH_LIVE && form()->BUTTON_CAPTURE->isEnabled();
    }

    void capture() { QTest::mouseClick(form()->BUTTON_CAPTURE, Qt::LeftButton); }

    // Our own measure of each file with the settings of the page's last run: the lines
    // "confluency_check.py --compute" prints, made in one Python process.
    QStringList computed(const QStringList &files) const
    {
        const GrowthMonitorParameter p = page()->model().growthMonitorParameter();
        QStringList options;
        if (p.thresholdType == 1)
            options << "--threshold" << QString::number(p.thresholdValue);
        options << "--background" << (p.background == 1 ? "white" : "dark");
        if (p.dilate == 1)
            options << "--dilate";
        options << "--min-area" << QString::number(p.minArea) << "--watershed" << QString::number(p.watershed);
        const char *script = "import os, sys\n"
                             "sys.path.insert(0, os.path.dirname(sys.argv[1]))\n"
                             "import confluency_check as c\n"
                             "options = sys.argv[2].split('|')\n"
                             "for f in sys.argv[3:]:\n"
                             "    o = c.option_parser().parse_args(options + [f])\n"
                             "    n, t, p, _, _ = c.compute(c.read_grey(f), o)\n"
                             "    print(c.line(n, t, p))\n";
        return runPython(QStringList{"-c", script, checkScript(), options.join('|')} + files);
    }

    // Each record as the same line.
    QStringList ours() const
    {
        QStringList out;
        for (const ThumbnailInfo &r : page()->model().thumbnails())
            out << QString::asprintf("confluency=%.3f count=%d threshold=%d", double(r.value), r.count, r.threshold);
        return out;
    }

    // Ten frames of a growing culture, named img1.tif .. img10.tif, in a folder on the USB drive.
    QString makeSeries(int frames = 10)
    {
        const QString folder = usb() + "/day 1, plate A";
        const QString tmp = m_bench->root.path() + "/series";
        const QStringList made = runPython({qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/modes/growth_series.py", tmp,
                                            "--frames", QString::number(frames), "--seed", "11"});
        if (!made.isEmpty() && made[0].startsWith("python failed"))
            qWarning() << made;
        QDir().mkpath(folder);
        for (int i = 0; i < frames; ++i)
            QFile::rename(QString("%1/frame_%2.tif").arg(tmp).arg(i, 2, 10, QChar('0')), QString("%1/img%2.tif").arg(folder).arg(i + 1));
        return folder;
    }

    void runFolder(const QString &folder)
    {
        g_PreviouslySavedPath = folder;
        QTest::mouseClick(form()->BUTTON_LOAD_IMAGE, Qt::LeftButton);
    }

    QStringList tableColumn(int column) const
    {
        QStringList out;
        for (int row = 0; row < table()->rowCount(); ++row)
            out << table()->item(row, column)->text();
        return out;
    }

private slots:
    void init()
    {
        g_CurrentMenu = MENU_MULTICOLOR;
        m_stopAfter = 0;
        m_freeDuringRun = false;
    }
    void cleanup()
    {
        MediaMonitor::setSpaceQuery({});
        m_bench.reset();
    }

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
        QCOMPARE(runPython({"-c", "import sys,tifffile\nfor f in sys.argv[1:]: print(tifffile.imread(f).dtype)", files[0],
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
        const QStringList shapes = runPython(QStringList{"-c", "import sys,tifffile\nfor f in sys.argv[1:]:\n"
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
        const QStringList rows = runPython({"-c", "import csv,sys\nfor r in csv.reader(open(sys.argv[1], newline='')): print('|'.join(r))",
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

    // Files beside the frames: a hidden one (the "._" companion some computers write onto USB
    // drives) is not listed at all; a TIFF that cannot be read is skipped and said afterwards.
    void strayFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("told"); // empty: no warning
        QTest::newRow("hidden companion") << "._img1.tif" << QString();
        QTest::newRow("hidden tiff") << ".img0.tif" << QString();
        QTest::newRow("broken tiff") << "img4.tif" << GrowthMonitorWidget::kSkippedText.arg(1).arg(4);
    }
    void strayFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, told);
        QVERIFY(enter());
        const QString folder = makeSeries(3);
        QFile stray(folder + '/' + name);
        QVERIFY(stray.open(QIODevice::WriteOnly) && stray.write(QByteArray("II*\0\x08\0\0\0", 8) + QByteArray(4000, '\x07')) > 0);
        stray.close();
        m_bench->clearDialogs();
        runFolder(folder);
        QCOMPARE(page()->currentState(), GROWTH_RESULT);
        QVERIFY(m_bench->waitUnlocked());
        QCOMPARE(table()->rowCount(), 3);
        QCOMPARE(ours(), computed({folder + "/img1.tif", folder + "/img2.tif", folder + "/img3.tif"}));
        const QStringList warnings = m_bench->dialogs().filter("Warning!");
        QCOMPARE(warnings, told.isEmpty() ? QStringList() : QStringList{"MessageDlg:" + told});
    }

    // Every refusal is told and leaves the main menu and the control panel free.
    void refusals_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("told");
        QTest::newRow("empty folder") << "empty" << MessageDlg::presetText(MSG_NO_IMAGE_FILES);
        QTest::newRow("png") << "png" << GrowthMonitorWidget::kFormatText;
        QTest::newRow("16-bit tiff") << "16" << GrowthMonitorWidget::kFormatText;
        QTest::newRow("640 x 480") << "small" << GrowthMonitorWidget::kSizeText;
        QTest::newRow("no objective") << "N/A" << GrowthMonitorWidget::kObjectiveText;
        QTest::newRow("no space") << "space" << MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE);
    }
    void refusals()
    {
        QFETCH(QString, cause);
        QFETCH(QString, told);
        QVERIFY(enter());
        // Two plain frames: no run in this table gets as far as analysing them.
        const QString folder = usb() + "/day 1, plate A";
        QDir().mkpath(folder);
        for (const char *name : {"img1.tif", "img2.tif"}) {
            ImReaderWriter frame;
            std::memset(frame.reserve(1280, 1024, 8, 1, 1, 1, 1), 128, 1280 * 1024);
            QVERIFY(frame.write(QFile::encodeName(folder + '/' + name), QByteArray()));
        }
        auto write = [&folder](const char *python) {
            runPython({"-c", QString("import numpy as np, tifffile, cv2, sys\nf=sys.argv[1]\n") + python, folder});
        };
        if (cause == "empty") {
            for (const QString &name : QDir(folder).entryList(QDir::Files))
                QFile::remove(folder + '/' + name);
        } else if (cause == "png") {
            write("cv2.imwrite(f+'/img3.png', np.zeros((1024,1280),np.uint8))");
        } else if (cause == "16") {
            write("tifffile.imwrite(f+'/img3.tif', np.zeros((1024,1280),np.uint16))");
        } else if (cause == "small") {
            write("tifffile.imwrite(f+'/img3.tif', np.zeros((480,640),np.uint8))");
        } else if (cause == "N/A") {
            for (int lens = 1; lens <= 5; ++lens)
                m_bench->setConfig("Lens", qPrintable(QString::number(lens)), "N/A");
        } else if (cause == "space") {
            MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
                *size = 4096;
                *blocks = 0;
                return true;
            });
        }
        m_bench->clearDialogs();
        runFolder(folder);
        QVERIFY2(m_bench->dialogs().contains("MessageDlg:" + told), qPrintable(m_bench->dialogs().join('\n')));
        QCOMPARE(page()->currentState(), GROWTH_IDLE);
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(panelAndMenuFree());

        // The same refusal on a capture returns to the live image.
        if (cause != "N/A" && cause != "space")
            return;
        QVERIFY(live());
        m_bench->clearDialogs();
        capture();
        QVERIFY2(m_bench->dialogs().contains("MessageDlg:" + told), qPrintable(m_bench->dialogs().join('\n')));
        QCOMPARE(page()->currentState(), GROWTH_LIVE);
        QVERIFY(QTest::qWaitFor([this] { return video()->isRunning(); }, 15000));
        QVERIFY(m_bench->waitUnlocked());
        QVERIFY(panelAndMenuFree());
        QVERIFY(form()->BUTTON_CAPTURE->isVisible() && form()->BUTTON_CAPTURE->isEnabled());
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
