// Series files of the Time lapse page: a folder loaded in natural order (foreign and broken files
// skipped, Stop part way), the save through the dialog's image-list option with its annotation
// lines, the grab buffer written at each frame's own depth (checked with tifffile), the SSD rule
// of recordings, and a continuous recording run from Run to the loaded series.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "HangBound.h"
#include "Utilities.h"
#include "MediaMonitor.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "SaveOptionsDlg.h"
#include "SliceFiles.h"
#include "TestRoot.h"
#include "TimeLapseImageWidget.h"
#include "TimeLapseProgressDlg.h"
#include "TimeLapseWidget.h"
#include "ui_TimeLapseImageWidget.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>
#include <memory>

class TestTimeLapseFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<TimeLapseWidget> m_page;
    QString m_folder;
    QStringList m_messages;
    int m_stopAfter = -1; // Stop in the loading box once this many images are in
    std::function<int(SaveOptionsDlg *)> m_save;
    QList<QPair<bool, QString>> m_recordings; // startRecording emissions

    template <class T> T *child(const char *name) const { return m_page->findChild<T *>(name); }

    QStringList loadedPaths() const
    {
        QStringList out;
        for (const ThumbnailInfo &image : m_page->plan().thumbnails())
            out << image.path;
        return out;
    }

    static QString python(const QString &script)
    {
        QProcess p;
        p.start("/usr/bin/python3", {"-c", script});
        p.waitForFinished(kHangBoundMs);
        return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_folder = m_root->makeDir("/media/USB1/series");
        m_root->makeDir("/media/VANTOR SSD");
        g_CurrentMenu = MENU_TIMELAPSE;
        initializePseudoColorTable();
        m_messages.clear();
        m_recordings.clear();
        m_stopAfter = -1;
        m_save = [](SaveOptionsDlg *) { return 0; };
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *d) {
            if (auto *progress = qobject_cast<TimeLapseProgressDlg *>(d)) {
                m_messages << DialogScripts::messageText(d);
                return DialogRunner::showAndRun(d, [this, progress](QDialog *) {
                    auto *watch = new QTimer(progress);
                    connect(watch, &QTimer::timeout, progress, [this, progress] {
                        if (m_stopAfter >= 0 && int(m_page->plan().thumbnails().size()) >= m_stopAfter)
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
        m_page = std::make_unique<TimeLapseWidget>();
        connect(m_page.get(), &TimeLapseWidget::startRecording, this,
                [this](bool on, const QString &path) { m_recordings << qMakePair(on, path); });
    }

    void cleanup()
    {
        m_page.reset();
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript({});
        MediaMonitor::setSpaceQuery({});
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // a_1, a_2, a_3 (upper-case extension), a_10; a corrupt file, a foreign size and a PNG skipped;
    // the series is shown as a completed run.
    void naturalOrder()
    {
        for (const char *name : {"a_10.tif", "a_2.tif", "a_1.tif", "a_3.TIF"})
            QVERIFY(SliceFiles::write(m_folder + "/" + name, QString(), 8, 1, 1));
        QVERIFY(SliceFiles::write(m_folder + "/a_4.tif", QString(), 8, 1, 1, SliceFiles::kObjective10X, 640, 480));
        m_root->writeFile("/media/USB1/series/a_5.tif", "II*\0garbage");
        m_root->writeFile("/media/USB1/series/a_6.png", "png");
        QSignalSpy completed(m_page.get(), &TimeLapseWidget::completed);
        m_page->loadImages(m_folder);
        QTRY_COMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QStringList expected;
        for (const char *name : {"a_1.tif", "a_2.tif", "a_3.TIF", "a_10.tif"})
            expected << QFileInfo(m_folder + "/" + name).absoluteFilePath();
        QCOMPARE(loadedPaths(), expected);
        QCOMPARE(completed.size(), 1);
        QCOMPARE(completed[0][1].toBool(), true);
        QCOMPARE(m_messages, QStringList{TimeLapseWidget::kLoadingText});
        QCOMPARE(m_page->plan().thumbnails()[0].thumbnail.size(), QSize(80, 60));

        // A folder without TIFF files leaves the series as it is.
        m_messages.clear();
        m_page->loadImages(m_root->makeDir("/media/USB1/empty"));
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_NO_IMAGE_FILES)});
        QCOMPARE(loadedPaths(), expected);
    }

    void stopPartWay()
    {
        for (int i = 1; i <= 10; ++i)
            QVERIFY(SliceFiles::write(m_folder + QString("/s_%1.tif").arg(i), QString(), 8, 1, i));
        m_stopAfter = 3;
        m_page->loadImages(m_folder);
        QTRY_COMPARE(m_page->currentState(), TIMELAPSE_SHOWN);
        QCOMPARE(m_page->plan().thumbnails().size(), size_t(3));
        QVERIFY(loadedPaths().last().endsWith("s_3.tif"));
    }

    // Option 8 with every path and its line; an empty series is refused.
    void saveSeries()
    {
        auto *save = child<QPushButton>("BUTTON_SAVE_IMAGE");
        save->setEnabled(true);
        save->click();
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_NO_SELECTED_IMAGE)});

        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            paths << m_folder + QString("/t_%1.tif").arg(i);
            QVERIFY(SliceFiles::write(paths.last(), QString(), 8, 1, i,
                                      SliceFiles::kObjective10X + QString(";Time: 00:%1:00").arg(i * 10, 2, 10, QChar('0'))));
        }
        for (ThumbnailInfo &image : SliceFiles::entries(paths))
            m_page->plan().pushThumbnail(image);
        QStringList seenPaths, seenLines;
        m_save = [&](SaveOptionsDlg *dialog) {
            seenPaths = dialog->loadImagePathList();
            seenLines = dialog->loadImageNameList();
            return 0;
        };
        QSignalSpy saved(m_page.get(), &TimeLapseWidget::saved);
        save->click();
        QCOMPARE(seenPaths, paths);
        QCOMPARE(seenLines, (QStringList{"00:00:00 / 00:20:00  1 / 3", "00:10:00 / 00:20:00  2 / 3",
                                         "00:20:00 / 00:20:00  3 / 3"}));
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved[0][0].toBool(), true);
    }

    // Two 8-bit frames and one 16-bit frame, each written at its own depth with its time.
    void grabBuffer()
    {
        const QString ssd = Paths::ssd();
        m_page->setSaveTarget(ssd, "cells", "tif");
        m_page->changedExposure(10);
        QByteArray f8a = SliceFiles::frame(8, 1, 1), f8b = SliceFiles::frame(8, 1, 2), f16 = SliceFiles::frame(16, 1, 3);
        m_page->slotGrabbed(reinterpret_cast<uchar *>(f8a.data()), 8);
        m_page->slotGrabbed(reinterpret_cast<uchar *>(f8b.data()), 8);
        m_page->slotGrabbed(reinterpret_cast<uchar *>(f16.data()), 16);
        g_CurrentMenu = MENU_ZSTACK;
        m_page->slotGrabbed(reinterpret_cast<uchar *>(f8a.data()), 8); // not on this screen
        g_CurrentMenu = MENU_TIMELAPSE;
        QCOMPARE(m_page->grabBuffer().size(), size_t(3));
        QCOMPARE(m_page->grabBuffer()[2].samples.size(), 1280 * 1024 * 2);

        child<QPushButton>("BUTTON_SAVE_RECORD")->click();
        const QString folder = ssd + "/cells";
        const QString out = python("folder = '" + folder + "'\n" + R"(
import tifffile, numpy as np
for i, bits, seed in ((0, 8, 1), (1, 8, 2), (2, 16, 3)):
    with tifffile.TiffFile('%s/cells_%06d.tif' % (folder, i)) as t:
        a = t.pages[0].asarray(); d = t.pages[0].description
    n = np.arange(1280 * 1024, dtype=np.uint64)
    v = (seed * 977 + n * 13) & (0xff if bits == 8 else 0xffff)
    if bits == 16:  # camera words, stored as plain intensities
        v = ((v << 4) | (v >> 12)) & 0xffff
    print(i, a.dtype, a.shape, bool((a.reshape(-1).astype(np.uint64) == v).all()), d.split(';')[-1])
)");
        QVERIFY2(out.contains("0 uint8 (1024, 1280) True Time: 00:00:00.210"), qPrintable(out));
        QVERIFY2(out.contains("1 uint8 (1024, 1280) True Time: 00:00:00.420"), qPrintable(out));
        QVERIFY2(out.contains("2 uint16 (1024, 1280) True Time: 00:00:00.630"), qPrintable(out));
    }

    // Only the SSD takes recordings: elsewhere the message; on it the folder and the prefix.
    void recordingVolume_data()
    {
        QTest::addColumn<QString>("fixed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("USB") << "/media/USB1" << false;
        QTest::newRow("SSD further on") << "/media/USB1/media/VANTOR SSD" << false;
        QTest::newRow("SSD") << "/media/VANTOR SSD" << true;
        QTest::newRow("below SSD") << "/media/VANTOR SSD/runs" << true;
    }

    void recordingVolume()
    {
        QFETCH(QString, fixed);
        QFETCH(bool, accepted);
        const QString path = m_root->makeDir(fixed);
        m_page->setSaveTarget(path, "rec", "tif");
        m_page->setCurrentState(TIMELAPSE_LIVE);
        QByteArray frame = SliceFiles::frame(8, 1, 1);
        m_page->slotGrabbed(reinterpret_cast<uchar *>(frame.data()), 8);
        child<QPushButton>("BUTTON_START_RECORD")->click();
        QVERIFY(m_page->grabBuffer().empty());
        if (accepted) {
            QVERIFY(m_messages.isEmpty());
            QVERIFY(QFileInfo(path + "/rec").isDir());
            QCOMPARE(m_recordings, (QList<QPair<bool, QString>>{{true, path + "/rec/rec"}}));
        } else {
            QCOMPARE(m_messages, QStringList{TimeLapseWidget::kRecordVolumeText});
            QVERIFY(m_recordings.isEmpty());
        }
    }

    // "Continuous" for 3 s: the page asks for the recording, a stand-in live video writes a frame
    // every 100 ms until told to stop; the stop timer ends it, the page waits for the writes and
    // shows every recorded file in order, state 2; lost frames are reported after the load.
    void continuousRecording()
    {
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
            *size = 4096;
            *blocks = 1u << 24;
            return true;
        });
        QTimer writer;
        QString prefix;
        int written = 0;
        connect(&writer, &QTimer::timeout, this, [&] {
            ++written;
            SliceFiles::write(prefix + QString("_%1.tif").arg(written, 4, 10, QChar('0')), QString(), 8, 1, written);
        });
        connect(m_page.get(), &TimeLapseWidget::startRecording, this, [&](bool on, const QString &path) {
            if (on) {
                prefix = path;
                writer.start(100);
            } else {
                writer.stop();
            }
        });
        int waits = 0;
        m_page->setRecordingDrain({[&](int ms) { ++waits; return ms > 0; }, [&] { return waits ? 2 : 0; }});

        TimeLapseImageWidget browser;
        connect(m_page.get(), &TimeLapseWidget::completed, &browser, &TimeLapseImageWidget::loadThumbnail);
        m_page->setSaveTarget(Paths::ssd(), "rec", "tif");
        m_page->changedExposure(10);
        child<QSpinBox>("SPINBOX_HOUR")->setValue(0);
        child<QSpinBox>("SPINBOX_MINUTE")->setValue(0);
        child<QSpinBox>("SPINBOX_SECOND")->setValue(3);
        child<QComboBox>("COMBOBOX_INTERVAL_TYPE")->setCurrentText("Continuous");
        m_page->setCurrentState(TIMELAPSE_LIVE);
        m_page->changeState();
        child<QPushButton>("BUTTON_TIMELAPSE_RUN")->click();
        QCOMPARE(m_page->startCode(), 0);
        QCOMPARE(m_page->currentState(), TIMELAPSE_ACQUIRING);
        QVERIFY(m_page->recordStopTimer().isActive());
        QCOMPARE(m_page->recordStopTimer().interval(), 3000);
        QCOMPARE(m_recordings.value(0), qMakePair(true, Paths::ssd() + "/rec/rec"));
        QTRY_COMPARE_WITH_TIMEOUT(m_page->currentState(), TIMELAPSE_SHOWN, 30000);
        QCOMPARE(m_recordings.value(1), qMakePair(false, QString()));
        QCOMPARE(waits, 1);
        QVERIFY(m_page->recordedSeconds() >= 2);
        QVERIFY(written > 0); // the stand-in recorder's 100 ms timer: fewer ticks on a busy machine
        QStringList expected;
        for (int i = 1; i <= written; ++i)
            expected << QFileInfo(Paths::ssd() + QString("/rec/rec_%1.tif").arg(i, 4, 10, QChar('0'))).absoluteFilePath();
        QCOMPARE(loadedPaths(), expected);
        QCOMPARE(browser.form()->LISTWIDGET_IMAGE->count(), written);
        QCOMPARE(m_messages.last(), TimeLapseWidget::kRecordLostText.arg(2));
    }

    // Three runs to one name, timed (stopped after its first frame) and continuous (stopped after
    // its first second): rec, rec(1), rec(2). The chosen name stays, the label shows the folder
    // each run went into, and a recording stopped early shows the time it recorded.
    void runsNumberFromTheChosenName_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::newRow("timed") << "Second";
        QTest::newRow("continuous") << "Continuous";
    }
    void runsNumberFromTheChosenName()
    {
        QFETCH(QString, unit);
        const bool continuous = unit == "Continuous";
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *size, quint64 *blocks) {
            *size = 4096;
            *blocks = 1u << 24;
            return true;
        });
        QByteArray frame = SliceFiles::frame(8, 1, 1);
        connect(m_page.get(), &TimeLapseWidget::capture, this,
                [&] { m_page->captureCompleted(reinterpret_cast<uchar *>(frame.data()), 8); });
        connect(m_page.get(), &TimeLapseWidget::startRecording, this, [](bool on, const QString &prefix) {
            if (on)
                SliceFiles::write(prefix + "_0001.tif", QString(), 8, 1, 1);
        });
        m_page->setSaveTarget(Paths::ssd(), "rec", "tif");
        m_page->changedExposure(10);
        child<QSpinBox>("SPINBOX_MINUTE")->setValue(0);
        child<QSpinBox>("SPINBOX_SECOND")->setValue(20);
        child<QComboBox>("COMBOBOX_INTERVAL_TYPE")->setCurrentText(unit);
        child<QDoubleSpinBox>("SPINBOX_INTERVAL")->setValue(1);
        for (const QString folder : {"rec", "rec(1)", "rec(2)"}) {
            m_page->setCurrentState(TIMELAPSE_LIVE);
            child<QPushButton>("BUTTON_TIMELAPSE_RUN")->click();
            QCOMPARE(m_page->startCode(), 0);
            QCOMPARE(child<QLabel>("LABEL_SAVE_PATH")->text(), "/VANTOR SSD/" + folder);
            if (continuous)
                QTRY_VERIFY_WITH_TIMEOUT(m_page->recordedSeconds() >= 1, kHangBoundMs);
            child<QPushButton>("BUTTON_TIMELAPSE_STOP")->click();
            QTRY_COMPARE_WITH_TIMEOUT(m_page->currentState(), TIMELAPSE_SHOWN, kHangBoundMs);
            QCOMPARE(m_page->runFolder(), Paths::ssd() + '/' + folder);
            QCOMPARE(loadedPaths().value(0), QFileInfo(m_page->runFolder() + '/' + folder + (continuous ? "_0001.tif" : "_0000.tif")).absoluteFilePath());
            QCOMPARE(m_page->seriesName(), QString("rec"));
            const QString lapse = child<QLabel>("LABEL_CURRENT_LAPSE")->text();
            if (continuous)
                QVERIFY2(QRegularExpression("^00:00:(0[1-9]|1[0-9]) / 00:00:20$").match(lapse).hasMatch(), qPrintable(lapse));
        }
    }
};

QTEST_MAIN(TestTimeLapseFiles)
#include "tst_timelapse_files.moc"
