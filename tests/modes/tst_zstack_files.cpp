// A held Z-stack and its files: loading a folder of slices back (natural order, the merged image,
// unreadable and foreign files skipped, Stop, the slider's direction, no stage move), 16-bit
// slices brought to 8 bits as numpy does, the position stamp and annotation texts, and the save
// of a held stack handed to the save dialog.
#include "DialogRunner.h"
#include "FrameThumbnail.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "ImageSeriesFiles.h"
#include "ImageThumbnail.h"
#include "SaveOptionsDlg.h"
#include "SliceFiles.h"
#include "TestRoot.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "ZStackWidget.h"
#include "ui_ZStackWidget.h"

#include <QtTest>
#include <memory>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <random>

class TestZStackFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZStackWidget> m_page;
    QString m_folder;
    QStringList m_messages;
    QStringList m_stageRequests; // position requests and moves the page sent
    int m_stopAfter = -1;        // slices loaded when the progress box's Stop is pressed
    std::function<int(SaveOptionsDlg *)> m_save; // plays the save dialog

    void makePage()
    {
        m_page = std::make_unique<ZStackWidget>();
        ZStackWidget *p = m_page.get();
        connect(p, &ZStackWidget::signalGetCurrentMotorPosition, this, [this] { m_stageRequests << "position"; });
        connect(p, &ZStackWidget::signalMoveMotorPosition, this, [this](int steps, bool) { m_stageRequests << QString::number(steps); });
        connect(p, &ZStackWidget::signalSetMotorSpeedAndStartZPosition, this, [this] { m_stageRequests << "start"; });
    }

    QStringList heldPaths() const
    {
        QStringList out;
        for (const ThumbnailInfo &slice : m_page->zStack().thumbnails())
            out << slice.path;
        return out;
    }

    QStringList sortV(const QStringList &names)
    {
        QProcess sort;
        sort.start("sort", {"-V"});
        sort.write(names.join('\n').toUtf8() + '\n');
        sort.closeWriteChannel();
        sort.waitForFinished(kHangBoundMs);
        return QString::fromUtf8(sort.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    static QString um(double z) { return QString::number(z, 'f', 1) + QString::fromUtf8(" µm"); }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_folder = m_root->makeDir("/media/USB1/stack");
        g_CurrentMenu = MENU_ZSTACK;
        initializePseudoColorTable();
        m_messages.clear();
        m_stageRequests.clear();
        m_stopAfter = -1;
        m_save = [](SaveOptionsDlg *) { return 0; };
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *d) {
            if (auto *progress = qobject_cast<TimeLapseProgressDlg *>(d)) {
                m_messages << DialogScripts::messageText(d);
                return DialogRunner::showAndRun(d, [this, progress](QDialog *) {
                    auto *watch = new QTimer(progress);
                    connect(watch, &QTimer::timeout, progress, [this, progress] {
                        if (m_stopAfter >= 0 && int(m_page->zStack().thumbnails().size()) >= m_stopAfter)
                            DialogRunner::click(progress, "BUTTON_STOP");
                    });
                    watch->start(0);
                }, 60000);
            }
            if (auto *save = qobject_cast<SaveOptionsDlg *>(d))
                return m_save(save);
            m_messages << DialogScripts::messageText(d);
            return 1;
        });
        makePage();
    }

    void cleanup()
    {
        m_page.reset();
        DialogRunner::clearScripts();
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // Shuffled names in natural order (as GNU sort -V orders them), the merged image apart, a
    // corrupt file and a foreign-sized one skipped; a range-mode page moves no stage for a load.
    void loadFolder()
    {
        QStringList names;
        for (int i : {1, 2, 3, 9, 10, 11, 12, 100})
            names << QString("cells_%1.tif").arg(i);
        names << "cells_0004.tif" << "cells_merged.tif" << "cells_7.tif" << "cells_8.tif";
        std::shuffle(names.begin(), names.end(), std::mt19937(17));
        for (const QString &name : names) {
            const QString path = m_folder + "/" + name;
            if (name == "cells_7.tif")
                m_root->writeFile("/media/USB1/stack/" + name, "II*\0garbage");
            else if (name == "cells_8.tif")
                QVERIFY(SliceFiles::write(path, um(8), 8, 1, 8, SliceFiles::kObjective10X, 640, 480));
            else
                QVERIFY(SliceFiles::write(path, um(names.indexOf(name)), name.contains("100") ? 16 : 8));
        }
        m_root->writeFile("/media/USB1/stack/notes.txt", "not a slice");
        QStringList expected;
        for (const QString &name : sortV(names))
            if (name != "cells_merged.tif" && name != "cells_7.tif" && name != "cells_8.tif")
                expected << QFileInfo(m_folder + "/" + name).absoluteFilePath();
        QSignalSpy merged(m_page.get(), &ZStackWidget::completedFullFocus);
        QSignalSpy completed(m_page.get(), &ZStackWidget::completed);
        m_page->form()->RADIO_RANGE->setChecked(true);
        m_stageRequests.clear();

        m_page->loadStack(m_folder);
        QTRY_COMPARE(m_page->currentState(), ZSTACK_COMPLETED);
        QCOMPARE(heldPaths(), expected);
        QCOMPARE(m_page->mergedPath(), QFileInfo(m_folder + "/cells_merged.tif").absoluteFilePath());
        QCOMPARE(completed.count(), 1);
        QCOMPARE(merged.count(), 1);
        QVERIFY(merged.at(0).at(0).toBool());
        QCOMPARE(m_stageRequests, QStringList());
        QCOMPARE(m_messages, QStringList{ZStackWidget::kLoadingText});
        QCOMPARE(m_page->zStack().thumbnails().front().thumbnail.size(), QSize(132, 100));
        QCOMPARE(m_page->form()->SLIDER_Z_STACK->maximum(), expected.size() - 1);
        QCOMPARE(ImageSeriesFiles::tiffFiles(m_folder).size(), names.size());
    }

    // The slider runs with the stack: inverted when the first file lies higher; one file, or
    // files without positions, leave it upright. A folder without TIFF files says so.
    void sliderDirection_data()
    {
        QTest::addColumn<QStringList>("positions");
        QTest::addColumn<bool>("inverted");
        QTest::newRow("upward") << QStringList{"0.0", "5.0", "10.0"} << false;
        QTest::newRow("downward") << QStringList{"10.0", "5.0", "0.0"} << true;
        QTest::newRow("one file") << QStringList{"10.0"} << false;
        QTest::newRow("second without position") << QStringList{"10.0", "", "0.0"} << false;
    }
    void sliderDirection()
    {
        QFETCH(QStringList, positions);
        m_page->form()->SLIDER_Z_STACK->setInvertedAppearance(true);
        for (int i = 0; i < positions.size(); ++i)
            QVERIFY(SliceFiles::write(m_folder + QString("/s_%1.tif").arg(i), positions[i].isEmpty() ? QString() : positions[i] + QString::fromUtf8(" µm")));
        m_page->loadStack(m_folder);
        QTRY_COMPARE(m_page->currentState(), ZSTACK_COMPLETED);
        QTEST(m_page->form()->SLIDER_Z_STACK->invertedAppearance(), "inverted");
        QTEST(m_page->form()->SLIDER_Z_STACK->invertedControls(), "inverted");
        QCOMPARE(int(m_page->zStack().thumbnails().size()), positions.size());
    }

    void emptyFolder()
    {
        m_root->writeFile("/media/USB1/stack/a.png", "x");
        m_page->setCurrentState(ZSTACK_LIVE);
        m_page->loadStack(m_folder);
        QCOMPARE(m_messages, QStringList{"<p><b>Error!</b><br/><br/>Cannot find image files.<br/>Please try again.</p>"});
        QCOMPARE(m_page->currentState(), ZSTACK_LIVE);
    }

    // Stop during a load: the slices loaded so far form the held stack; no file is touched.
    void stopDuringLoad()
    {
        for (int i = 0; i < 8; ++i)
            QVERIFY(SliceFiles::write(m_folder + QString("/s_%1.tif").arg(i), um(i)));
        m_stopAfter = 2;
        m_page->loadStack(m_folder);
        QTRY_COMPARE(m_page->currentState(), ZSTACK_COMPLETED);
        const int held = int(m_page->zStack().thumbnails().size());
        QVERIFY2(held >= 2 && held < 8, qPrintable(QString::number(held)));
        QCOMPARE(heldPaths().last(), QFileInfo(m_folder + QString("/s_%1.tif").arg(held - 1)).absoluteFilePath());
        QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 8);
    }

    // 16-bit grey and RGB slices in 8 bits: numpy's round(v x 255 / 4094), saturated, for every
    // 16-bit value; the loaded thumbnail is made from them.
    void sixteenBitScaling_data()
    {
        QTest::addColumn<int>("samples");
        QTest::newRow("grey") << 1;
        QTest::newRow("RGB") << 3;
    }
    void sixteenBitScaling()
    {
        QFETCH(int, samples);
        const QString path = m_folder + "/wide.tif";
        QVERIFY(SliceFiles::write(path, um(0), 16, samples, 3));
        ImReaderWriter image;
        QVERIFY(image.read(path.toUtf8()));
        const QImage ours = ImageThumbnail::eightBit(image);
        QCOMPARE(ours.format(), samples == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);

        const QString out = m_folder + "/numpy.raw";
        QProcess python;
        python.start("/usr/bin/python3", {"-c", "import sys,numpy as np,tifffile\n"
                                                "a=tifffile.imread(sys.argv[1]).astype(np.float64)\n"
                                                "np.clip(np.round(a*255/4094),0,255).astype(np.uint8).tofile(sys.argv[2])",
                                          path, out});
        QVERIFY(python.waitForFinished(kHangBoundMs));
        QCOMPARE(python.exitCode(), 0);
        QFile numpy(out);
        QVERIFY(numpy.open(QIODevice::ReadOnly));
        const QByteArray expected = numpy.readAll();
        QCOMPARE(expected.size(), SliceFiles::kWidth * SliceFiles::kHeight * samples);
        const int row = SliceFiles::kWidth * samples;
        int differ = 0;
        for (int y = 0; y < SliceFiles::kHeight; ++y)
            differ += std::memcmp(ours.constScanLine(y), expected.constData() + y * row, size_t(row)) != 0;
        QCOMPARE(differ, 0);
        QCOMPARE(int(ImageThumbnail::scaled(2047)), 128); // 127.5: a tie, to even
        QCOMPARE(int(ImageThumbnail::scaled(4095)), 255);

        m_page->loadStack(m_folder);
        QTRY_COMPARE(m_page->currentState(), ZSTACK_COMPLETED);
        QCOMPARE(int(m_page->zStack().thumbnails().size()), 1);
        QVERIFY(!m_page->zStack().thumbnails().front().thumbnail.isNull());
    }

    // A loaded slice's thumbnail: the halvings, then the rest area-averaged with OpenCV's weights
    // (the own averaging within one 16-bit step of cv::resize's INTER_AREA, smaller and larger
    // sizes), then the 8-bit scale: within one level of that chain made of OpenCV's calls.
    void sixteenBitThumbnail_data()
    {
        QTest::addColumn<int>("samples");
        QTest::newRow("grey") << 1;
        QTest::newRow("RGB") << 3;
    }
    void sixteenBitThumbnail()
    {
        QFETCH(int, samples);
        cv::RNG rng(samples);
        const QSize sizes[] = {{132, 100}, {97, 61}, {160, 128}, {200, 90}};
        for (const QSize &size : sizes) {
            cv::Mat frame(128, 160, CV_16UC(samples));
            rng.fill(frame, cv::RNG::UNIFORM, 0, 65536);
            cv::Mat ours = FrameThumbnail::areaScaled(frame, size), theirs;
            cv::resize(frame, theirs, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_AREA);
            QCOMPARE(ours.type(), theirs.type());
            QVERIFY2(cv::norm(ours, theirs, cv::NORM_INF) <= 1.0, qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));
        }

        const QString path = m_folder + "/thumb.tif";
        QVERIFY(SliceFiles::write(path, um(0), 16, samples, 5));
        ImReaderWriter image;
        QVERIFY(image.read(path.toUtf8()));
        const QImage thumbnail = ImageThumbnail::makeImage(image, g_PseudoColorTable[7], QSize(132, 100))
                                     .convertToFormat(samples == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        cv::Mat coarse(int(image.height), int(image.width), CV_16UC(samples), image.buffer16.get()), small;
        for (int i = 0; i < 3; ++i)
            cv::resize(coarse.clone(), coarse, cv::Size(coarse.cols / 2, coarse.rows / 2), 0, 0, cv::INTER_AREA);
        cv::resize(coarse, small, cv::Size(132, 100), 0, 0, cv::INTER_AREA);
        int worst = 0;
        for (int y = 0; y < 100; ++y)
            for (int i = 0; i < 132 * samples; ++i)
                worst = std::max(worst, std::abs(int(thumbnail.constScanLine(y)[i]) - int(ImageThumbnail::scaled(small.ptr<ushort>(y)[i]))));
        QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));
    }

    // A folder's file becomes the thumbnail of its whole image, whatever the depth, though it is
    // halved band by band as it is read; only a whole camera frame is taken, also where another
    // size halves to the same picture.
    void loadedThumbnailIsTheWholeImages_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("samples");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("taken");
        QTest::newRow("8 bit grey") << 8 << 1 << QSize(1280, 1024) << true;
        QTest::newRow("8 bit RGB") << 8 << 3 << QSize(1280, 1024) << true;
        QTest::newRow("16 bit grey") << 16 << 1 << QSize(1280, 1024) << true;
        QTest::newRow("16 bit RGB") << 16 << 3 << QSize(1280, 1024) << true;
        QTest::newRow("twice the frame") << 16 << 1 << QSize(2560, 2048) << false;
        QTest::newRow("half the frame") << 8 << 1 << QSize(640, 512) << false;
    }
    void loadedThumbnailIsTheWholeImages()
    {
        QFETCH(int, bits);
        QFETCH(int, samples);
        QFETCH(QSize, size);
        QFETCH(bool, taken);
        const QString path = m_folder + "/slice.tif";
        QVERIFY(SliceFiles::write(path, um(0), bits, samples, 9, SliceFiles::kObjective10X, size.width(), size.height()));
        ImReaderWriter whole, reader;
        QVERIFY(whole.read(path.toUtf8()));
        const QImage expected = ImageThumbnail::makeImage(whole, g_PseudoColorTable[7], QSize(132, 100));
        ThumbnailInfo info;
        QCOMPARE(ImageSeriesFiles::loadFrame(QFileInfo(path), reader, QSize(132, 100), info), taken);
        if (!taken)
            return;
        QCOMPARE(info.path, path);
        QCOMPARE(info.thumbnail.toImage(), QPixmap::fromImage(expected).toImage());
    }

    // Stamps and texts fall back to the counter for a slice without its position; a stack stored
    // downward gives the same span; no slices, no text.
    void stampsAndAnnotations()
    {
        QStringList paths;
        for (int i = 0; i < 5; ++i) {
            paths << m_folder + QString("/s_%1.tif").arg(i);
            QVERIFY(SliceFiles::write(paths.last(), i == 1 ? QString() : um(45.0 - 5 * i)));
        }
        QStringList texts;
        ZStackWidget::makeAnnotationList({}, texts);
        QVERIFY(texts.isEmpty());
        ZStackWidget::makeAnnotationList(SliceFiles::entries(paths), texts);
        QCOMPARE(texts, QStringList({QString::fromUtf8("45.0 µm / 20.0 µm  1 / 5"), "2 / 5",
                                     QString::fromUtf8("35.0 µm / 20.0 µm  3 / 5"), QString::fromUtf8("30.0 µm / 20.0 µm  4 / 5"),
                                     QString::fromUtf8("25.0 µm / 20.0 µm  5 / 5")}));

        m_page->loadStack(m_folder);
        QTRY_COMPARE(m_page->currentState(), ZSTACK_COMPLETED);
        QLabel *stamp = m_page->form()->LABEL_POS_STAMP;
        QCOMPARE(stamp->text(), QString::fromUtf8("45.0 µm / 20.0 µm  1 / 5"));
        m_page->slotChangedCurrentThumbnailIndex(1);
        QCOMPARE(stamp->text(), QString("2 / 5"));
        m_page->slotChangedCurrentThumbnailIndex(4);
        m_page->slotDeleteThumbnail(5); // out of range: nothing
        QCOMPARE(stamp->text(), QString::fromUtf8("25.0 µm / 20.0 µm  5 / 5"));
        m_page->slotDeleteThumbnail(4);
        QCOMPARE(m_page->form()->SLIDER_Z_STACK->maximum(), 3);
        QCOMPARE(stamp->text(), QString::fromUtf8("30.0 µm / 15.0 µm  4 / 4"));

        // The first file without its position: the span counts it as 0.
        QVERIFY(SliceFiles::write(paths[0], QString()));
        ZStackWidget::makeAnnotationList(SliceFiles::entries({paths[0], paths[2]}), texts);
        QCOMPARE(texts, QStringList({"1 / 2", QString::fromUtf8("35.0 µm / 35.0 µm  2 / 2")}));
    }

    // The held stack goes to the save dialog as its image list with one text per slice, in slice
    // order; a cancelled dialog still counts the stack as saved; nothing held, nothing to save.
    void saveHeldStack()
    {
        QSignalSpy saved(m_page.get(), &ZStackWidget::saved);
        QMetaObject::invokeMethod(m_page->form()->BUTTON_SAVE_IMAGE, "click");
        QCOMPARE(m_messages, QStringList{"<p><b>Error!</b><br/><br/>There is no selected image.</p>"});
        QCOMPARE(saved.count(), 0);

        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            paths << QFileInfo(m_folder + QString("/s_%1.tif").arg(i)).absoluteFilePath();
            QVERIFY(SliceFiles::write(paths.last(), um(2.5 * i)));
        }
        m_page->loadStack(m_folder);
        QTRY_COMPARE(m_page->currentState(), ZSTACK_COMPLETED);
        m_page->form()->BUTTON_SAVE_IMAGE->setEnabled(true);
        QStringList handed, texts;
        m_save = [&](SaveOptionsDlg *dialog) {
            handed = dialog->loadImagePathList();
            texts = dialog->loadImageNameList();
            return 0;
        };
        saved.clear();
        m_page->form()->BUTTON_SAVE_IMAGE->click();
        QCOMPARE(handed, paths);
        QCOMPARE(texts, QStringList({QString::fromUtf8("0.0 µm / 5.0 µm  1 / 3"), QString::fromUtf8("2.5 µm / 5.0 µm  2 / 3"),
                                     QString::fromUtf8("5.0 µm / 5.0 µm  3 / 3")}));
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved.at(0).at(0).toBool(), true);
    }
};

QTEST_MAIN(TestZStackFiles)
#include "tst_zstack_files.moc"
