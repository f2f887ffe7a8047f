// The time-lapse series browser beside the page, wired as the main window wires them: the label,
// slider and strip in step, Left and Right at the ends, every road through deleting an image, the
// "time / last time  n / N" annotation, the scale bar per screen, the slide show driven tick by
// tick, the ShowInterval setting, and a series exported by the real ffmpeg.
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "HangBound.h"
#include "Utilities.h"
#include "LGraphicsView.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SeriesVideoExporter.h"
#include "SliceFiles.h"
#include "TestRoot.h"
#include "TimeLapseImageWidget.h"
#include "TimeLapseWidget.h"
#include "VideoMakerDlg.h"
#include "ZStackImageWidget.h"
#include "DiagramItemGroup.h"
#include "ui_TimeLapseImageWidget.h"
#include "ui_VideoMakerDlg.h"

#include <QComboBox>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <memory>

class TestTimeLapseBrowser : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<TimeLapseWidget> m_page;
    std::unique_ptr<TimeLapseImageWidget> m_browser;
    QString m_folder;
    QStringList m_paths;
    QStringList m_messages;
    int m_answer = 1;
    QList<bool> m_menuStates; // signalEnableMainMenu emissions

    Ui_TimeLapseImageWidget *ui() const { return m_browser->form(); }
    QListWidget *strip() const { return ui()->LISTWIDGET_IMAGE; }
    LGraphicsView *view() const { return ui()->m_LGraphicsView; }
    int row() const { return strip()->currentRow(); }
    QString label() const { return ui()->LABEL_IMAGE_NUMBER->text(); }

    QString annotationText() const
    {
        TAnnotationTextInfo info;
        view()->getAnnotationTextInfo(info);
        return info.text;
    }

    // n frames, image i taken at i x 10 minutes (none for the images in noTime), held by the
    // page and shown by the browser.
    void hold(int n, const QList<int> &noTime = {})
    {
        m_page = std::make_unique<TimeLapseWidget>();
        m_browser = std::make_unique<TimeLapseImageWidget>();
        m_browser->resize(1495, 1020);
        m_browser->show();
        TimeLapseWidget *p = m_page.get();
        TimeLapseImageWidget *b = m_browser.get();
        connect(p, &TimeLapseWidget::completed, b, &TimeLapseImageWidget::loadThumbnail);
        connect(p, &TimeLapseWidget::enableAnnotation, b, &TimeLapseImageWidget::slotEnableAnnotation);
        connect(p, &TimeLapseWidget::saveVideo, b, &TimeLapseImageWidget::slotSaveVideo);
        connect(b, &TimeLapseImageWidget::deleteThumbnail, p, &TimeLapseWidget::slotDeleteThumbnail);
        connect(b, &TimeLapseImageWidget::setEnableControlState, p, &TimeLapseWidget::slotSetEnableControlState);
        connect(b, &TimeLapseImageWidget::signalEnableMainMenu, this, [this](bool on) { m_menuStates << on; });
        m_paths.clear();
        for (int i = 0; i < n; ++i) {
            m_paths << m_folder + QString("/cells_%1.tif").arg(i, 4, 10, QChar('0'));
            const QString time = noTime.contains(i) ? QString() : QString(";Time: 00:%1:00").arg(i * 10, 2, 10, QChar('0'));
            QVERIFY(SliceFiles::write(m_paths.last(), QString(), 8, 1, i, SliceFiles::kObjective10X + time));
        }
        for (ThumbnailInfo &image : SliceFiles::entries(m_paths))
            p->plan().pushThumbnail(image);
        b->loadThumbnail(p->plan().thumbnails(), false);
        m_menuStates.clear();
    }

    QString setting(const char *key) const
    {
        std::string value;
        ReadPrivateProfileString("Setting_Timelapse", key, "-", value, Paths::configFile().toStdString());
        return QString::fromStdString(value);
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/root/Microscope/NIMBO");
        m_folder = m_root->makeDir("/media/VANTOR SSD/cells");
        g_CurrentMenu = MENU_TIMELAPSE;
        initializePseudoColorTable();
        m_messages.clear();
        m_answer = 1;
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript([this](QDialog *d) {
            m_messages << DialogScripts::messageText(d);
            return m_answer;
        });
    }

    void cleanup()
    {
        m_browser.reset();
        m_page.reset();
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript({});
        g_CurrentMenu = MENU_MULTICOLOR;
        m_root.reset();
    }

    // Label, slider and strip move together from every control; Left and Right stop at the ends;
    // a counter past a thousand has its separator.
    void stepping()
    {
        hold(3);
        QCOMPARE(label(), QString("1/3"));
        QCOMPARE(ui()->SLIDER_IMAGE_INDICATOR->maximum(), 2);
        QCOMPARE(row(), 0);
        QVERIFY(!view()->pixmapItem()->pixmap().isNull());
        ui()->BUTTON_IMAGE_LIST_LEFT->click();
        QCOMPARE(row(), 0);
        ui()->BUTTON_IMAGE_LIST_RIGHT->click();
        QCOMPARE(label(), QString("2/3"));
        QCOMPARE(ui()->SLIDER_IMAGE_INDICATOR->value(), 1);
        ui()->SLIDER_IMAGE_INDICATOR->setValue(2);
        QCOMPARE(row(), 2);
        QCOMPARE(label(), QString("3/3"));
        ui()->BUTTON_IMAGE_LIST_RIGHT->click();
        QCOMPARE(row(), 2);
        emit strip()->itemClicked(strip()->item(0));
        QCOMPARE(ui()->SLIDER_IMAGE_INDICATOR->value(), 0);
        QCOMPARE(label(), QString("1/3"));

        std::vector<ThumbnailInfo> none;
        m_browser->loadThumbnail(none, false);
        QCOMPARE(label(), QString("0/0"));
        QCOMPARE(strip()->count(), 0);
        QCOMPARE(m_menuStates, QList<bool>{true});
    }

    // A series longer than the strip stays one row, scrolled so the current image is in sight.
    void oneRowStrip()
    {
        hold(14);
        QCoreApplication::processEvents();
        const QRect shown = strip()->viewport()->rect();
        const auto inSight = [&](int row) { // Qt leaves the edge item one pixel short
            const QRect item = strip()->visualItemRect(strip()->item(row));
            return shown.intersected(item).width() >= item.width() - 1;
        };
        const int top = strip()->visualItemRect(strip()->item(0)).top();
        for (int i = 1; i < 14; ++i)
            QCOMPARE(strip()->visualItemRect(strip()->item(i)).top(), top);
        QVERIFY(inSight(0));
        QVERIFY(!inSight(13));
        ui()->SLIDER_IMAGE_INDICATOR->setValue(13);
        QVERIFY(inSight(13));
        QVERIFY(!inSight(0));
    }

    // Each image is shown from its own file: 8-bit grey as read, 16-bit scaled by 255 / 4094; a
    // file that is no longer a whole frame leaves the view as it was.
    void framesFromFiles()
    {
        hold(3);
        QVERIFY(SliceFiles::write(m_paths[1], QString(), 16, 1, 1));
        QVERIFY(SliceFiles::write(m_paths[2], QString(), 8, 1, 2, SliceFiles::kObjective10X, 640, 512));
        const auto shown = [this] {
            const QImage frame = view()->pixmapItem()->pixmap().toImage();
            return QByteArray(reinterpret_cast<const char *>(frame.constBits()), int(frame.sizeInBytes()));
        };
        const QByteArray words = SliceFiles::frame(16, 1, 1);
        QByteArray scaled(words.size() / 2, Qt::Uninitialized);
        for (int i = 0; i < scaled.size(); ++i)
            scaled[i] = char(qMin(255, qRound(reinterpret_cast<const quint16 *>(words.constData())[i] * 255.0 / 4094.0)));
        QVERIFY(shown() == SliceFiles::frame(8, 1, 0));
        ui()->SLIDER_IMAGE_INDICATOR->setValue(1);
        QVERIFY(shown() == scaled);
        ui()->SLIDER_IMAGE_INDICATOR->setValue(2);
        QCOMPARE(label(), QString("3/3"));
        QVERIFY(shown() == scaled);
        ui()->SLIDER_IMAGE_INDICATOR->setValue(0);
        QVERIFY(shown() == SliceFiles::frame(8, 1, 0));
    }

    void annotation_data()
    {
        QTest::addColumn<QList<int>>("noTime");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("times") << QList<int>{}
                               << QStringList{"00:00:00 / 00:20:00  1 / 3", "00:10:00 / 00:20:00  2 / 3",
                                              "00:20:00 / 00:20:00  3 / 3"};
        QTest::newRow("one without") << QList<int>{1} << QStringList{"00:00:00 / 00:20:00  1 / 3", "2 / 3",
                                                                      "00:20:00 / 00:20:00  3 / 3"};
        QTest::newRow("last without") << QList<int>{2} << QStringList{"1 / 3", "2 / 3", "3 / 3"};
    }

    // The browser's text and the page's save lines agree.
    void annotation()
    {
        QFETCH(QList<int>, noTime);
        QFETCH(QStringList, texts);
        hold(3, noTime);
        QStringList shown;
        for (int i = 0; i < 3; ++i) {
            ui()->SLIDER_IMAGE_INDICATOR->setValue(i);
            shown << annotationText();
        }
        QCOMPARE(shown, texts);
        QStringList lines;
        m_page->makeAnnotationList(m_page->plan().thumbnails(), lines);
        QCOMPARE(lines, texts);
    }

    // No selection, the only image, Cancel, a file that stays, the last row and a middle row.
    void deleting()
    {
        hold(1);
        ui()->BUTTON_DELETE_IMAGE->click();
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_LAST_IMAGE_NOT_DELETABLE)});
        std::vector<ThumbnailInfo> none;
        m_browser->loadThumbnail(none, false);
        m_messages.clear();
        ui()->BUTTON_DELETE_IMAGE->click();
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_NO_SELECTED_IMAGE)});

        hold(5);
        m_answer = 0; // Cancel
        ui()->SLIDER_IMAGE_INDICATOR->setValue(1);
        ui()->BUTTON_DELETE_IMAGE->click();
        QCOMPARE(strip()->count(), 5);
        QVERIFY(QFileInfo::exists(m_paths[1]));
        QCOMPARE(m_page->plan().thumbnails().size(), size_t(5));

        m_answer = 1;
        m_messages.clear();
        ui()->BUTTON_DELETE_IMAGE->click();
        QCOMPARE(m_messages, QStringList{MessageDlg::presetText(MSG_DELETE_DATA)});
        QVERIFY(!QFileInfo::exists(m_paths[1]));
        QCOMPARE(label(), QString("2/4"));
        QCOMPARE(strip()->item(1)->data(Qt::UserRole).toString(), m_paths[2]);
        QCOMPARE(m_page->plan().thumbnails().size(), size_t(4));
        QCOMPARE(m_page->plan().thumbnails()[1].path, m_paths[2]);

        ui()->SLIDER_IMAGE_INDICATOR->setValue(3);
        ui()->BUTTON_DELETE_IMAGE->click();
        QCOMPARE(label(), QString("3/3"));
        QCOMPARE(ui()->SLIDER_IMAGE_INDICATOR->maximum(), 2);

        // A path that cannot be removed (a folder with a file in it) stays in the strip and series.
        QVERIFY(QFile::remove(m_paths[0]));
        QVERIFY(QDir().mkpath(m_paths[0] + "/keep"));
        ui()->SLIDER_IMAGE_INDICATOR->setValue(0);
        m_messages.clear();
        ui()->BUTTON_DELETE_IMAGE->click();
        QCOMPARE(m_messages.last(), ZStackImageWidget::kDeleteFailedText);
        QCOMPARE(strip()->count(), 3);
        QCOMPARE(m_page->plan().thumbnails().size(), size_t(3));
    }

    // The bar goes to the view at once on the time-lapse screen only; elsewhere it waits for the
    // next image.
    void scaleBarScreen()
    {
        hold(2);
        auto shown = [this] { return view()->scaleBarGroup() && view()->scaleBarGroup()->isVisible(); };
        TSScaleBar bar;
        bar.show = true;
        bar.lengthUm = 100;
        bar.lengthPixels = 1;
        g_CurrentMenu = MENU_ZSTACK;
        m_browser->setScaleBar(bar);
        QVERIFY(!m_browser->scaleBar().useViewPixelSize);
        QVERIFY(!shown());
        g_CurrentMenu = MENU_TIMELAPSE;
        m_browser->setScaleBar(bar);
        QVERIFY(m_browser->scaleBar().useViewPixelSize);
        QVERIFY(shown());
        QVERIFY(view()->objectivePixelSize() > 0); // from the file's 10X objective
    }

    // From image 3 of 5: 4, 5, then back to 1 and ready; the page and menu locked while playing;
    // Pause keeps the image, Stop shows image 1.
    void slideShow()
    {
        hold(5);
        ui()->SLIDER_IMAGE_INDICATOR->setValue(2);
        ui()->COMBOBOX_SLIDESHOW_INTERVAL->setCurrentText("0.15 s");
        QCOMPARE(m_browser->slideIntervalMs(), 150);
        QCOMPARE(setting("ShowInterval"), QString("-"));
        ui()->BUTTON_SLIDESHOW_START->click();
        QCOMPARE(setting("ShowInterval"), QString("0.15 s"));
        QCOMPARE(m_browser->slideShowState(), SlideShowPlaying);
        QVERIFY(m_browser->slideTimer().isActive());
        QCOMPARE(m_browser->slideTimer().interval(), 150);
        QCOMPARE(m_browser->slideTimer().timerType(), Qt::PreciseTimer);
        QVERIFY(!m_page->isEnabled());
        QVERIFY(!ui()->BUTTON_DELETE_IMAGE->isEnabled());
        QVERIFY(!ui()->BUTTON_SLIDESHOW_START->isEnabled());
        QVERIFY(ui()->BUTTON_SLIDESHOW_PAUSE->isEnabled() && ui()->BUTTON_SLIDESHOW_STOP->isEnabled());
        m_browser->slideTimer().stop(); // the ticks are driven by hand
        QList<int> rows;
        for (int tick = 0; tick < 3; ++tick) {
            m_browser->updateSlide();
            rows << row();
        }
        QCOMPARE(rows, (QList<int>{3, 4, 0}));
        QCOMPARE(m_browser->slideShowState(), SlideShowReady);
        QVERIFY(m_page->isEnabled());
        QCOMPARE(m_menuStates, (QList<bool>{false, true}));

        ui()->BUTTON_SLIDESHOW_START->click();
        m_browser->updateSlide();
        ui()->BUTTON_SLIDESHOW_PAUSE->click();
        QCOMPARE(m_browser->slideShowState(), SlideShowPaused);
        QVERIFY(!m_browser->slideTimer().isActive());
        QCOMPARE(row(), 1);
        QVERIFY(ui()->BUTTON_SLIDESHOW_START->isEnabled() && ui()->BUTTON_SLIDESHOW_STOP->isEnabled());
        QVERIFY(m_page->isEnabled());
        ui()->BUTTON_SLIDESHOW_STOP->click();
        QCOMPARE(m_browser->slideShowState(), SlideShowStopped);
        QCOMPARE(row(), 0);
        QVERIFY(!ui()->BUTTON_SLIDESHOW_STOP->isEnabled() && !ui()->BUTTON_SLIDESHOW_PAUSE->isEnabled());

        // The last image current: the first tick shows image 1 and ends the show.
        ui()->SLIDER_IMAGE_INDICATOR->setValue(4);
        ui()->BUTTON_SLIDESHOW_START->click();
        m_browser->updateSlide();
        QCOMPARE(row(), 0);
        QCOMPARE(m_browser->slideShowState(), SlideShowReady);
    }

    // While a show plays, each image's objective sets the view's pixel size and the annotation
    // ends with the last file's time; a setting or a last file changed during a pause holds from
    // the next Start.
    void slideShowObjectiveAndLastTime()
    {
        hold(4);
        QVERIFY(SliceFiles::write(m_paths[1], QString(), 8, 1, 1, "Objective: Olympus 20X NA 0.40 UPlanSApo;Time: 00:10:00"));
        ui()->BUTTON_SLIDESHOW_START->click();
        m_browser->slideTimer().stop();
        QList<float> sizes;
        for (int tick = 0; tick < 2; ++tick) {
            m_browser->updateSlide();
            sizes << view()->objectivePixelSize();
        }
        QVERIFY(sizes[1] > 0);
        QVERIFY(qAbs(sizes[0] - sizes[1] / 2) < 1e-6f);
        QCOMPARE(annotationText(), QString("00:20:00 / 00:30:00  3 / 4"));
        ui()->BUTTON_SLIDESHOW_PAUSE->click();
        WritePrivateProfileString("ScaleBar", "CMOSPixelSize", "7.26", Paths::configFile().toStdString());
        QVERIFY(SliceFiles::write(m_paths[3], QString(), 8, 1, 3, SliceFiles::kObjective10X + ";Time: 00:45:00"));
        ui()->BUTTON_SLIDESHOW_START->click();
        m_browser->slideTimer().stop();
        m_browser->updateSlide();
        QVERIFY(qAbs(view()->objectivePixelSize() - 2 * sizes[1]) < 1e-6f);
        QCOMPARE(annotationText(), QString("00:45:00 / 00:45:00  4 / 4"));
    }

    void showInterval_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("ms");
        QTest::newRow("default") << QString() << "1.0 s" << 1000;
        QTest::newRow("sec.") << "2.5 sec." << "2.5 s" << 2500;
        QTest::newRow("no item") << "1.25 s" << "0.15 s" << 1250;
        QTest::newRow("not a number") << "fast" << "0.15 s" << 1000;
        QTest::newRow("zero") << "0 s" << "0.15 s" << 1000;
    }

    // ShowInterval: "sec." read as "s"; an unknown text leaves the combo; nothing positive plays
    // at one second.
    void showInterval()
    {
        QFETCH(QString, stored);
        QFETCH(QString, item);
        QFETCH(int, ms);
        if (!stored.isEmpty())
            WritePrivateProfileString("Setting_Timelapse", "ShowInterval", stored.toStdString(),
                                      Paths::configFile().toStdString());
        TimeLapseImageWidget browser;
        QCOMPARE(browser.form()->COMBOBOX_SLIDESHOW_INTERVAL->currentText(), item);
        QCOMPARE(browser.slideIntervalMs(), ms);
        QCOMPARE(browser.form()->COMBOBOX_SLIDESHOW_INTERVAL->count(), 10);
        QVERIFY(browser.form()->BUTTON_VIDEO->isHidden());
        QVERIFY(browser.form()->m_NavigationWidget->isHidden());
    }

    // Six images through the page's video button and the browser, encoded by the real ffmpeg at
    // two images a second: an MPEG-4 video of 6 frames in 3 s at full size.
    void timelapseVideo()
    {
        if (!QFileInfo::exists("/usr/bin/ffmpeg") || !QFileInfo::exists("/usr/bin/ffprobe"))
            QSKIP("ffmpeg and ffprobe are not installed");
        SeriesVideoExporter::setStartDelayMs(50);
        SeriesVideoExporter::setFlushTimeoutMs(0);
        m_root->makeDir("/root/Microscope/FFmpeg");
        QVERIFY(QFile::link("/usr/bin/ffmpeg", Paths::path(SeriesVideoExporter::kEncoderPath)));
        hold(6);
        m_page->setSaveTarget(m_folder, "cells", "tif");
        DialogScripts::pushAct([](QDialog *d) {
            auto *dialog = static_cast<VideoMakerDlg *>(d);
            dialog->form()->SPINBOX_FR->setValue(2);
            dialog->form()->COMBOBOX_SIZE->setCurrentIndex(0);
            DialogRunner::click(d, "BUTTON_APPLY");
        });
        DialogScripts::pushAct([](QDialog *) {}, 60000);
        auto *button = m_page->findChild<QPushButton *>("BUTTON_SAVE_VIDEO");
        button->setEnabled(true);
        button->click();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains("Save Complete") || m_messages[0].contains("cells.mp4"),
                 qPrintable(m_messages[0]));
        const QString video = m_folder + "/cells.mp4";
        QVERIFY(QFileInfo::exists(video));
        QProcess probe;
        probe.start("/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                         "stream=codec_name,width,height,nb_read_frames:format=duration", "-of",
                                         "default=noprint_wrappers=1", video});
        QVERIFY(probe.waitForFinished(kHangBoundMs));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        for (const char *line : {"codec_name=mpeg4", "width=1280", "height=1024", "nb_read_frames=6"})
            QVERIFY2(out.contains(line), qPrintable(out));
        const double seconds = QRegularExpression("duration=([0-9.]+)").match(out).captured(1).toDouble();
        QVERIFY2(qAbs(seconds - 3.0) < 0.05, qPrintable(out));
    }
};

QTEST_MAIN(TestTimeLapseBrowser)
#include "tst_timelapse_browser.moc"
