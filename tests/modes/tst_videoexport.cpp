// The MP4 export of an image series: the video dialog's roads, the encoder's argument lists and
// progress, Stop in staging and in encoding, every failure road with a fake encoder program at the
// encoder's path, and a Z-stack exported by the real ffmpeg and checked with ffprobe.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "MessageCount.h"
#include "MessageDlg.h"
#include "OfferedRange.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SeriesVideoExporter.h"
#include "SliceFiles.h"
#include "StoredSetting.h"
#include "TestRoot.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "VideoMakerDlg.h"
#include "ZStackImageWidget.h"
#include "ZStackWidget.h"
#include "ui_VideoMakerDlg.h"
#include "ui_ZStackImageWidget.h"
#include "ui_ZStackWidget.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QtTest>
#include <memory>

namespace {

// The fake encoder: records its arguments and the staged frames, then behaves as told.
QByteArray fakeEncoder(const QString &record, const QByteArray &behaviour)
{
    return "#!/bin/sh\n"
           "printf '%s\\n' \"$@\" > '" + record.toUtf8() + "/args'\n"
           "ls \"${7%\\*.tif}\" > '" + record.toUtf8() + "/staged'\n"
           "out=\"$(eval echo \\${$#})\"\n" + behaviour + "\n";
}

const QByteArray kWrites = "printf 'video' > \"$out\"\n";

// Pumps events until done answers true or ms pass (deferred deletions stay for the outer loops).
void pumpUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!(done && done()) && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
const QByteArray kProgress = "printf 'frame=   30 fps=1.0 q=2.0 size=1kB\\r'\nsleep 0.3\n";

} // namespace

class TestVideoExport : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    QString m_series;               // folder of the series
    QString m_record;               // where the fake encoder records
    QStringList m_messages;         // texts of the boxes answered by the standing script
    QString m_textAtOpen;           // the progress box's text when it opened
    QList<QPair<int, bool>> m_shown; // rows shown by the frame source, with their annotate flag
    int m_failRow = -1;              // the frame source cannot render this row
    int m_stopRow = -1;              // the user presses Stop while this row is shown
    std::unique_ptr<SeriesVideoExporter> m_exporter;

    QString ssd(const QString &rest = QString()) const { return Paths::ssd() + rest; }
    QString staging() const { return Paths::path(SeriesVideoExporter::kStagingFolder); }

    void installEncoder(const QByteArray &behaviour, bool executable = true)
    {
        const QString path = m_root->writeFile(SeriesVideoExporter::kEncoderPath, fakeEncoder(m_record, behaviour));
        QFile::setPermissions(path, executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                               : QFile::ReadOwner | QFile::WriteOwner);
    }

    QStringList recorded(const QString &name) const
    {
        QFile file(m_record + "/" + name);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QString setting(const char *key) const
    {
        const QString stored = storedSetting("Setting_Timelapse", key);
        return stored.isEmpty() ? QString("-") : stored;
    }

    // A frame source of plain frames, one grey level per row.
    SeriesVideoExporter::FrameSource source()
    {
        return {[this](int row, bool annotate) {
                    m_shown << qMakePair(row, annotate);
                    if (row == m_stopRow && m_exporter->progressDialog())
                        DialogRunner::click(m_exporter->progressDialog(), "BUTTON_STOP");
                },
                [this](QImage &frame) {
                    if (!m_shown.isEmpty() && m_shown.last().first == m_failRow)
                        return false;
                    frame = QImage(1280, 1024, QImage::Format_RGB888);
                    frame.fill(QColor(m_shown.size() * 10 % 256, 80, 160));
                    return true;
                }};
    }

    // The video dialog answered with OK after setting frame rate and size (and the overwrite
    // question with OK); the progress box runs until it closes, after act (when given) has played
    // the user.
    void scriptExport(int frameRate, int sizeIndex, std::function<void(QDialog *)> act = {}, bool overwrite = false)
    {
        DialogScripts::pushAct([frameRate, sizeIndex](QDialog *d) {
            auto *dialog = static_cast<VideoMakerDlg *>(d);
            dialog->form()->SPINBOX_FR->setValue(frameRate);
            dialog->form()->COMBOBOX_SIZE->setCurrentIndex(sizeIndex);
            DialogRunner::click(d, "BUTTON_APPLY");
        });
        if (overwrite)
            DialogScripts::pushAnswer(1);
        // The progress box's text as it opens, read before any event runs: on a busy machine the
        // staging may be over by the time the box has shown.
        DialogRunner::pushScript([this, act](QDialog *d) {
            m_textAtOpen = DialogScripts::messageText(d);
            return DialogRunner::showAndRun(d, act, 60000);
        });
    }

    QString video() const { return m_series + "/series.mp4"; }

    void runExport(int images, bool annotate = false)
    {
        QStringList paths;
        for (int i = 0; i < images; ++i)
            paths << m_series + QString("/img_%1.tif").arg(i);
        m_exporter->exportSeries(paths, 1, annotate);
        QVERIFY(!m_exporter->running());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!QFileInfo::exists(staging()));
        QCOMPARE(m_shown.last(), qMakePair(1, true)); // the row current before is shown again
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_series = m_root->makeDir("/media/VANTOR SSD/series");
        m_record = m_root->makeDir("/record");
        g_CurrentMenu = MENU_ZSTACK;
        g_PreviouslySavedPath.clear();
        initializePseudoColorTable();
        m_messages.clear();
        m_shown.clear();
        m_failRow = m_stopRow = -1;
        SeriesVideoExporter::setStartDelayMs(50);
        SeriesVideoExporter::setStopGraceMs(5000);
        SeriesVideoExporter::setSilenceTimeoutMs(120000);
        SeriesVideoExporter::setFlushTimeoutMs(0); // one sync: the shared machine is never clean
        m_exporter = std::make_unique<SeriesVideoExporter>(source());
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *d) {
            m_messages << DialogScripts::messageText(d);
            return 1;
        });
    }

    void cleanup()
    {
        m_exporter.reset();
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript({});
        MediaMonitor::setSpaceQuery({});
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // ---------------------------------------------------------------------------------------------
    // The dialog

    void dialogPresets()
    {
        VideoMakerDlg dialog;
        Ui_VideoMakerDlg *ui = dialog.form();
        QCOMPARE(ui->COMBOBOX_QUALITY->count(), 4);
        QCOMPARE(ui->COMBOBOX_QUALITY->itemData(3).toInt(), 5);
        QCOMPARE(ui->COMBOBOX_SIZE->itemText(2), QString("640p"));
        QCOMPARE(ui->COMBOBOX_SIZE->itemData(1).toDouble(), 0.75);
        QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);

        dialog.setDefaultParam(ssd("/TL/Run1"), {7, 4, 0.5});
        QCOMPARE(ui->LABEL_SAVE_PATH->text(), QString("/VANTOR SSD/TL/Run1"));
        QCOMPARE(ui->EDIT_FILENAME->text(), QString("Run1"));
        QCOMPARE(ui->SPINBOX_FR->value(), 7);
        QCOMPARE(ui->COMBOBOX_QUALITY->currentText(), QString("Medium"));
        QCOMPARE(ui->COMBOBOX_SIZE->currentText(), QString("640p"));
        dialog.setDefaultParam("/home/user/media/Run2", {1, 7, 0.6}); // outside /media: unchanged
        QCOMPARE(ui->LABEL_SAVE_PATH->text(), QString("/home/user/media/Run2"));
        QCOMPARE(ui->COMBOBOX_QUALITY->currentText(), QString("Highest"));
        QCOMPARE(ui->COMBOBOX_SIZE->currentText(), QString("1280p"));
        // The configuration table holds the numbers the dialog offers.
        for (const QString &why : {rangeMismatch("Setting_Timelapse", "FrameRate", ui->SPINBOX_FR),
                                   rangeMismatch("Setting_Timelapse", "VideoQuality", ui->COMBOBOX_QUALITY, Stored::Data),
                                   rangeMismatch("Setting_Timelapse", "VideoScale", ui->COMBOBOX_SIZE, Stored::Data)})
            QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // Frame rate typed on the keyboard: clamped to 1..60, "abc" reads as 0, a negative number
    // is refused with "Use numerals only."
    void dialogFrameRateEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("refused");
        QTest::newRow("in range") << "25" << 25 << false;
        QTest::newRow("above") << "75" << 60 << false;
        QTest::newRow("zero") << "0" << 1 << false;
        QTest::newRow("not a number") << "abc" << 1 << false;
        QTest::newRow("negative") << "-3" << 12 << true;
    }
    void dialogFrameRateEntry()
    {
        QFETCH(QString, typed);
        QFETCH(int, value);
        QFETCH(bool, refused);
        VideoMakerDlg dialog;
        dialog.setDefaultParam(ssd("/series"), {12, 2, 1.0});
        dialog.show();
        DialogScripts::pushAct([typed](QDialog *d) {
            static_cast<KeyboardDlg *>(d)->setText(typed);
            DialogRunner::click(d, "BUTTON_KEY_ENTER");
        });
        QLineEdit *edit = dialog.form()->SPINBOX_FR->findChild<QLineEdit *>();
        QTest::mousePress(edit, Qt::LeftButton);
        QCOMPARE(dialog.form()->SPINBOX_FR->value(), value);
        QCOMPARE(m_messages, refused ? QStringList{MessageDlg::presetText(MSG_NUMERALS_ONLY)} : QStringList());
        QCOMPARE(DialogRunner::pendingScripts(), 0);
    }

    // The name: typed with the date key in file-name form; a forbidden character is refused.
    void dialogFileName()
    {
        VideoMakerDlg dialog;
        dialog.setDefaultParam(ssd("/series"), {});
        dialog.show();
        DialogScripts::pushAct([](QDialog *d) {
            static_cast<KeyboardDlg *>(d)->setText("a:b");
            DialogRunner::click(d, "BUTTON_KEY_ENTER"); // refused: the keyboard stays open
            DialogRunner::click(d, "BUTTON_KEY_ENTER");
            static_cast<KeyboardDlg *>(d)->setText("");
            DialogRunner::click(d, "BUTTON_ADD_DATETIME");
            DialogRunner::click(d, "BUTTON_KEY_ENTER");
        });
        QTest::mousePress(dialog.form()->EDIT_FILENAME, Qt::LeftButton);
        QCOMPARE(m_messages.size(), 2);
        QCOMPARE(m_messages[0], MessageDlg::presetText(MSG_INVALID_NAME_CHARS));
        QString folder, name;
        EncodingParam param;
        dialog.getParam(folder, name, param);
        QVERIFY2(QRegularExpression("^\\d{8}_\\d{6}$").match(name).hasMatch(), qPrintable(name));
        QCOMPARE(dialog.form()->EDIT_FILENAME->text(), name);
    }

    // OK: refused on an empty path; an existing video is overwritten only after OK; a chosen
    // folder gets its "/" and the existence check still sees the file behind the double slash.
    void dialogOk()
    {
        VideoMakerDlg top;
        top.setDefaultParam(Paths::media(), {});
        QCOMPARE(top.form()->LABEL_SAVE_PATH->text(), QString("/"));
        DialogRunner::click(&top, "BUTTON_APPLY");
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_CURRENT_PATH_EMPTY)});
        QCOMPARE(top.result(), 0);

        VideoMakerDlg dialog;
        dialog.setDefaultParam(m_series, {3, 3, 0.25});
        m_root->makeDir("/media/VANTOR SSD/Data");
        m_root->writeFile("/media/VANTOR SSD/Data/series.mp4", "old");
        g_PreviouslySavedPath = ssd("/Data");
        DialogScripts::pushClick("BUTTON_APPLY");
        dialog.form()->BUTTON_SAVE_PATH->click();
        QCOMPARE(dialog.form()->LABEL_SAVE_PATH->text(), QString("/VANTOR SSD/Data/"));
        dialog.form()->SPINBOX_FR->setValue(9);

        auto texts = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(0, texts);
        DialogRunner::click(&dialog, "BUTTON_APPLY");
        QCOMPARE(*texts, QStringList{VideoMakerDlg::kOverwriteText.arg("series.mp4")});
        QString folder, name;
        EncodingParam param;
        dialog.getParam(folder, name, param);
        QCOMPARE(param.frameRate, 3); // nothing stored
        QCOMPARE(dialog.form()->SPINBOX_FR->value(), 9);

        DialogScripts::pushAnswer(1, texts);
        DialogRunner::click(&dialog, "BUTTON_APPLY");
        QCOMPARE(dialog.result(), 1);
        dialog.getParam(folder, name, param);
        QCOMPARE(folder + "/" + name, ssd("/Data//series"));
        QCOMPARE(param.frameRate, 9);
        QCOMPARE(param.qscale, 3);
        QCOMPARE(param.scale, 0.25);
        QCOMPARE(QFile(ssd("/Data/series.mp4")).size(), 3); // the dialog deletes nothing
    }

    // ---------------------------------------------------------------------------------------------
    // Names, arguments, progress

    void names()
    {
        QCOMPARE(SeriesVideoExporter::stagedFrameName(0, 12), QString("Image_00001.tif"));
        QCOMPARE(SeriesVideoExporter::stagedFrameName(11, 12), QString("Image_00012.tif"));
        QCOMPARE(SeriesVideoExporter::stagedFrameName(9999, 12000), QString("Image_10000.tif"));
        QCOMPARE(SeriesVideoExporter::stagedFrameName(5, 123456), QString("Image_000006.tif"));
        QCOMPARE(SeriesVideoExporter::displayPath(ssd("/run1/run1.mp4")), QString("/VANTOR SSD/run1/run1.mp4"));
        QCOMPARE(SeriesVideoExporter::displayPath(m_root->path() + "/home/media/v.mp4"), QString("/home/media/v.mp4"));
    }

    void progress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("multiplier");
        QTest::addColumn<int>("count");
        QTest::newRow("thirds") << "frame=   30 fps=2.5 q=2.0" << 3 << 10;
        QTest::newRow("rounded down") << "frame=   31 fps=2.5" << 3 << 10;
        QTest::newRow("as it comes") << "frame=  7 fps=0.0" << 1 << 7;
        QTest::newRow("fps first") << "fps=2.5 frame= 30" << 1 << -1;
        QTest::newRow("no fps") << "Input #0, image2" << 1 << -1;
        QTest::newRow("other text") << "Stream #0 frame=  3 fps=" << 1 << 0;
    }
    void progress()
    {
        QFETCH(QString, text);
        QFETCH(int, multiplier);
        QFETCH(int, count);
        QCOMPARE(SeriesVideoExporter::progressCount(text, multiplier), count);
    }

    // The whole road with a fake encoder: the settings written, the arguments in their order, the
    // staged RGB frames, the progress of both phases and "Save Complete".
    void argumentsAndProgress_data()
    {
        QTest::addColumn<int>("frameRate");
        QTest::addColumn<int>("sizeIndex");
        QTest::addColumn<QStringList>("middle");
        QTest::addColumn<QString>("scale");
        QTest::newRow("1 fps, 1280p") << 1 << 0 << QStringList{"-r", "3"} << "1";
        QTest::newRow("5 fps, 640p") << 5 << 2 << QStringList{"-vf", "scale=iw*0.5:ih*0.5"} << "0.5";
        QTest::newRow("1 fps, 960p") << 1 << 1 << QStringList{"-r", "3", "-vf", "scale=iw*0.75:ih*0.75,fps=3"} << "0.75";
    }
    void argumentsAndProgress()
    {
        QFETCH(int, frameRate);
        QFETCH(int, sizeIndex);
        QFETCH(QStringList, middle);
        QFETCH(QString, scale);
        installEncoder(kProgress + kWrites);
        const MessageCount commandLines("-pix_fmt");
        QList<int> counts;
        QStringList phases;
        scriptExport(frameRate, sizeIndex, [&](QDialog *d) {
            auto *progress = static_cast<TimeLapseProgressDlg *>(d);
            phases << m_textAtOpen;
            QVERIFY(progress->getTotalCount() == 3);
            pumpUntil([&] { return m_exporter->encoder()->state() == QProcess::Running || !d->isVisible(); }, 20000);
            phases << DialogScripts::messageText(d);
            pumpUntil([&] { return progress->getCurrentCount() > 0 || !d->isVisible(); }, 20000);
            counts << progress->getCurrentCount();
        });
        runExport(3);

        QCOMPARE(phases, (QStringList{SeriesVideoExporter::kStagingText, SeriesVideoExporter::kEncodingText}));
        QCOMPARE(counts, QList<int>{30 / (frameRate == 1 ? 3 : 1)});
        QStringList expected{"-y", "-framerate", QString::number(frameRate), "-pattern_type", "glob", "-i",
                             staging() + "*.tif", "-c:v", "mpeg4", "-qscale:v", "2"};
        expected << middle << "-pix_fmt" << "yuv420p" << video();
        QCOMPARE(recorded("args"), expected);
        QCOMPARE(commandLines.count(), 1); // the encoder's command line is logged once
        QCOMPARE(recorded("staged"), (QStringList{"Image_00001.tif", "Image_00002.tif", "Image_00003.tif"}));
        QCOMPARE(m_messages, QStringList{SeriesVideoExporter::kSaveCompleteText.arg("/VANTOR SSD/series/series.mp4")});
        QVERIFY(QFileInfo::exists(video()));
        QCOMPARE(setting("FrameRate"), QString::number(frameRate));
        QCOMPARE(setting("VideoQuality"), QString("2"));
        QCOMPARE(setting("VideoScale"), scale);
        // Rows 0..2 staged without annotation, then the current row again with it.
        QCOMPARE(m_shown, (QList<QPair<int, bool>>{{0, false}, {1, false}, {2, false}, {1, true}}));
    }

    // A staged frame is the rendered picture as a 1280 x 1024 RGB TIFF.
    void stagedFrame()
    {
        m_root->makeDir("/media/VANTOR SSD/.Video");
        const QString path = staging() + "Image_00001.tif";
        QVERIFY(m_exporter->stageFrame(0, path));
        ImReaderWriter image;
        QVERIFY(image.read(path.toUtf8()));
        QCOMPARE(int(image.width), 1280);
        QCOMPARE(int(image.samplesPerPixel), 3);
        QCOMPARE(int(image.photometric), 2);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(image.buffer8.get()), 3), QByteArray("\x0a\x50\xa0"));
        QProcess info;
        info.start("tiffinfo", {path});
        QVERIFY(info.waitForFinished(kHangBoundMs));
        QVERIFY(info.readAllStandardOutput().contains("Samples/Pixel: 3"));
    }

    // Nothing starts with fewer than two images or a cancelled dialog; the settings stay.
    void nothingStarted()
    {
        installEncoder(kWrites);
        m_exporter->exportSeries({m_series + "/a.tif"}, 0, false);
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_NO_SELECTED_IMAGE)});
        DialogScripts::pushClick("BUTTON_CANCEL");
        m_exporter->exportSeries({m_series + "/a.tif", m_series + "/b.tif"}, 0, false);
        QCOMPARE(setting("FrameRate"), QString("-"));
        QVERIFY(m_shown.isEmpty());
        QVERIFY(recorded("args").isEmpty());
        QVERIFY(!QApplication::overrideCursor());
    }

    // Every way an export can fail ends with the progress closed, no staging folder, the message
    // (none for Stop while staging or a missing program) and no partial video.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("behaviour"); // empty: no encoder program
        QTest::addColumn<bool>("executable");
        QTest::addColumn<int>("failRow");
        QTest::addColumn<int>("stopRow");
        QTest::addColumn<bool>("stopEncoding");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("frames"); // rows staged
        const QString failed = SeriesVideoExporter::kSaveFailedText;
        QTest::newRow("exit 0, no file") << QByteArray("rm -f \"$out\"\nexit 0") << true << -1 << -1 << false << failed << 4;
        QTest::newRow("exit 1") << kWrites + "exit 1" << true << -1 << -1 << false << failed << 4;
        QTest::newRow("crash") << kWrites + "kill -SEGV $$" << true << -1 << -1 << false << failed << 4;
        QTest::newRow("not executable") << kWrites << false << -1 << -1 << false << failed << 4;
        QTest::newRow("no program") << QByteArray() << true << -1 << -1 << false << QString() << 4;
        QTest::newRow("frame not written") << kWrites << true << 2 << -1 << false << failed << 3;
        QTest::newRow("stop staging") << kWrites << true << -1 << 1 << false << QString() << 2;
        QTest::newRow("stop encoding") << kWrites + kProgress + "exec sleep 30" << true << -1 << -1 << true << failed << 4;
        QTest::newRow("stop, term ignored") << kWrites + kProgress + "trap '' TERM\nsleep 30" << true << -1 << -1
                                            << true << failed << 4;
    }
    void failures()
    {
        QFETCH(QByteArray, behaviour);
        QFETCH(bool, executable);
        QFETCH(int, failRow);
        QFETCH(int, stopRow);
        QFETCH(bool, stopEncoding);
        QFETCH(QString, message);
        QFETCH(int, frames);
        if (!behaviour.isEmpty())
            installEncoder(behaviour, executable);
        SeriesVideoExporter::setStopGraceMs(300);
        m_failRow = failRow;
        m_stopRow = stopRow;
        m_root->writeFile("/media/VANTOR SSD/series/series.mp4", "old video"); // overwritten when encoded
        scriptExport(5, 0, [&](QDialog *d) {
            if (!stopEncoding)
                return;
            pumpUntil([&] { return m_exporter->encoder()->state() == QProcess::Running; }, 20000);
            pumpUntil({}, 100);
            DialogRunner::click(d, "BUTTON_STOP");
            DialogRunner::click(d, "BUTTON_STOP"); // a second Stop does nothing more
        }, true);
        QElapsedTimer clock;
        clock.start();
        runExport(4);
        QVERIFY(clock.elapsed() < 20000);
        QCOMPARE(m_messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(m_shown.size(), frames + 1);
        const bool encoderRan = !behaviour.isEmpty() && executable && failRow < 0 && stopRow < 0;
        QCOMPARE(!recorded("args").isEmpty(), encoderRan);
        // The old video goes only when an encoder that ran failed on it.
        QCOMPARE(QFileInfo::exists(video()), !encoderRan);
        QCOMPARE(m_exporter->encoder()->state(), QProcess::NotRunning);
    }

    // An encoder that stays silent counts as hung: it is stopped and the save fails.
    void silentEncoder()
    {
        installEncoder(kWrites + "exec sleep 30");
        SeriesVideoExporter::setSilenceTimeoutMs(300);
        scriptExport(5, 0);
        runExport(2);
        QCOMPARE(m_messages, QStringList{SeriesVideoExporter::kSaveFailedText});
        QVERIFY(!QFileInfo::exists(video()));
    }

    // ---------------------------------------------------------------------------------------------
    // From the Z-stack page

    // The page's gate: the encoder must answer its version and the SSD hold the RGB frames
    // (3,932,160 bytes and 4 KiB each) whatever the display.
    void pageGate_data()
    {
        QTest::addColumn<bool>("encoder");
        QTest::addColumn<quint64>("freeBytes");
        QTest::addColumn<QString>("message");
        // Free space is counted in whole megabytes: 250 frames need 984,064,000 bytes.
        const quint64 needed = 250 * (3932160ull + 4096);
        const quint64 megabyte = 1000000;
        QTest::newRow("no encoder") << false << needed * 2 << SeriesVideoExporter::kNoEncoderText;
        QTest::newRow("short") << true << needed / megabyte * megabyte << MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE);
        QTest::newRow("just enough") << true << (needed / megabyte + 1) * megabyte << QString();
    }
    void pageGate()
    {
        QFETCH(bool, encoder);
        QFETCH(quint64, freeBytes);
        QFETCH(QString, message);
        if (encoder)
            installEncoder("echo 'ffmpeg version test'");
        MediaMonitor::setSpaceQuery([freeBytes](const QString &, quint64 *fragment, quint64 *blocks) {
            *fragment = 1;
            *blocks = freeBytes;
            return true;
        });
        ZStackWidget page;
        std::vector<ThumbnailInfo> slices(250);
        for (const ThumbnailInfo &slice : slices)
            page.zStack().pushThumbnail(slice);
        QSignalSpy asked(&page, &ZStackWidget::saveVideo);
        page.form()->BUTTON_SAVE_VIDEO->setEnabled(true);
        page.form()->BUTTON_SAVE_VIDEO->click();
        QCOMPARE(asked.count(), message.isEmpty() ? 1 : 0);
        QCOMPARE(m_messages, message.isEmpty() ? QStringList() : QStringList{message});
    }

    // A 12-slice stack through the page and the browser, encoded by the real ffmpeg at one image
    // a second and half size: an MPEG-4 video of 36 frames in 12 s, 640 x 512, yuv420p.
    void zstackVideo()
    {
        if (!QFileInfo::exists("/usr/bin/ffmpeg") || !QFileInfo::exists("/usr/bin/ffprobe"))
            QSKIP("ffmpeg and ffprobe are not installed");
        m_root->makeDir("/root/Microscope/FFmpeg");
        QVERIFY(QFile::link("/usr/bin/ffmpeg", Paths::path(SeriesVideoExporter::kEncoderPath)));
        ZStackWidget page;
        ZStackImageWidget browser;
        browser.resize(1495, 1020);
        browser.show();
        connect(&page, &ZStackWidget::completed, &browser, &ZStackImageWidget::loadThumbnail);
        connect(&page, &ZStackWidget::saveVideo, &browser, &ZStackImageWidget::slotSaveVideo);
        QStringList paths;
        for (int i = 0; i < 12; ++i) {
            paths << m_series + QString("/slice_%1.tif").arg(i, 4, 10, QChar('0'));
            QVERIFY(SliceFiles::write(paths.last(), QString::number(5 * i) + QString::fromUtf8(".0 µm"), 8, 1, i));
        }
        for (const ThumbnailInfo &slice : SliceFiles::entries(paths))
            page.zStack().pushThumbnail(slice);
        browser.loadThumbnail(page.zStack().thumbnails());
        browser.changedCurrentIndex(4);

        scriptExport(1, 2);
        page.form()->BUTTON_SAVE_VIDEO->setEnabled(true);
        page.form()->BUTTON_SAVE_VIDEO->click();
        QCOMPARE(m_messages, QStringList{SeriesVideoExporter::kSaveCompleteText.arg("/VANTOR SSD/series/series.mp4")});
        QCOMPARE(browser.form()->LISTWIDGET_IMAGE->currentRow(), 4);
        QVERIFY(!QFileInfo::exists(staging()));

        QProcess probe;
        probe.start("/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                         "stream=codec_name,pix_fmt,width,height,nb_read_frames:format=duration",
                                         "-of", "default=noprint_wrappers=1", video()});
        QVERIFY(probe.waitForFinished(kHangBoundMs));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        for (const char *line : {"codec_name=mpeg4", "width=640", "height=512", "pix_fmt=yuv420p", "nb_read_frames=36"})
            QVERIFY2(out.contains(line), qPrintable(out));
        const double seconds = QRegularExpression("duration=([0-9.]+)").match(out).captured(1).toDouble();
        QVERIFY2(qAbs(seconds - 12.0) < 0.05, qPrintable(out));
    }
};

QTEST_MAIN(TestVideoExport)
#include "tst_videoexport.moc"
