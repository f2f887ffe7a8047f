// Extended-focus merges of stacks that the whole application takes on the simulated instrument:
// a stack through focus of the tilted specimen merged from the page's Merge button, and one fed
// to the merge slice by slice while it is taken (QC test mode) and merged at its end. Either way
// "<name>_merged.tif" lies beside the slices, becomes the browser's merged tile, and is sharper
// (variance of the Laplacian) than every slice. A video export, ended, stopped or cancelled,
// leaves the browser showing what it showed before.
#include "AppBench.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "FullFocusThread.h"
#include "ImageFileReader.h"
#include "LGraphicsView.h"
#include "MergeFocusDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SampleRenderer.h"
#include "SeriesVideoExporter.h"
#include "TimeLapseProgressDlg.h"
#include "VideoMakerDlg.h"
#include "VideoWidget.h"
#include "ZStackImageWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackImageWidget.h"
#include "ui_ZStackWidget.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

// Variance of the Laplacian, taken on 2 x 2 means: at full size the sensor noise outweighs the
// specimen's detail.
double sharpness(const cv::Mat &grey)
{
    cv::Mat half, lap;
    cv::resize(grey, half, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
    cv::Laplacian(half, lap, CV_64F);
    cv::Scalar mean, sd;
    cv::meanStdDev(lap, mean, sd);
    return sd[0] * sd[0];
}

// A slice or merged file in the 8 bits the merge works in.
cv::Mat grey8(const QString &path)
{
    cv::Mat image = ImageFileReader::read(QFile::encodeName(path), nullptr);
    if (image.channels() == 3)
        cv::cvtColor(image, image, cv::COLOR_BGR2GRAY);
    if (image.depth() == CV_16U)
        image.convertTo(image, CV_8U, 255.0 / 4094.0);
    return image;
}

// The encoder: its version for the page's gate; otherwise a video, at once or (while the hold
// file exists) after a long while.
QByteArray fakeEncoder(const QString &hold)
{
    return "#!/bin/sh\n"
           "[ \"$1\" = -version ] && { echo 'ffmpeg version test'; exit 0; }\n"
           "for out; do :; done\n"
           "printf 'video' > \"$out\"\n"
           "[ -e '" + hold.toUtf8() + "' ] && exec sleep 60\n"
           "exit 0\n";
}

} // namespace

class TestZStackMerge : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppBench> m_bench;
    int m_fedWhenShown = -1;       // slices the merge held when its progress box opened
    bool m_runningWhenShown = false;
    const char *m_videoButton = "BUTTON_APPLY"; // the user's answer to the video dialog
    bool m_stopVideo = false;                   // Stop while the encoder runs
    QString m_shownAtEnd;                       // shown() while the export's closing message is up

    ZStackWidget *page() const { return m_bench->ui()->m_ZStackWidget; }
    Ui_ZStackWidget *form() const { return page()->form(); }
    ZStackImageWidget *browser() const { return m_bench->ui()->m_ZStackImageWidget; }

    // The file whose picture the view shows ("merged", "slice 2"), by the closest grey levels.
    QString viewedFile() const
    {
        QImage picture = browser()->form()->m_LGraphicsView->pixmapItem()->pixmap().toImage();
        picture = picture.convertToFormat(QImage::Format_Grayscale8);
        const cv::Mat shown(picture.height(), picture.width(), CV_8U, picture.bits(), size_t(picture.bytesPerLine()));
        QStringList names{"merged"};
        QStringList files{page()->stackFolder() + "/cells_merged.tif"};
        for (const ThumbnailInfo &slice : page()->zStack().thumbnails()) {
            names << QString("slice %1").arg(names.size());
            files << slice.path;
        }
        QString closest = "nothing";
        double best = 1.0; // mean grey-level difference
        for (int i = 0; i < files.size(); ++i) {
            const cv::Mat file = grey8(files[i]);
            const double difference = file.size() == shown.size() ? cv::norm(file, shown, cv::NORM_L1) / file.total() : 255;
            if (difference < best) {
                best = difference;
                closest = names[i];
            }
        }
        return closest;
    }

    // What the view shows, the strip's selection, the page's stamp, the merged tile's highlight
    // and whether DELETE is offered: "merged -1 focus tile -" or "slice 2 1 2 / 9 - delete".
    QString shown() const
    {
        auto *list = browser()->form()->LISTWIDGET_IMAGE;
        const bool tile = browser()->form()->LABEL_IMAGE_BOX->styleSheet().contains("1,122,255");
        return QString("%1 %2 %3 %4 %5")
            .arg(viewedFile())
            .arg(list->selectedItems().isEmpty() ? -1 : list->row(list->selectedItems().first()))
            .arg(form()->LABEL_POS_STAMP->text().right(5), tile ? "tile" : "-",
                 browser()->form()->BUTTON_DELETE_IMAGE->isEnabled() ? "delete" : "-");
    }

    // The strip's selection and the page's stamp follow the image shown: a slice, or the merged tile.
    void checkBrowserSaysWhatIsShown()
    {
        auto *list = browser()->form()->LISTWIDGET_IMAGE;
        QCOMPARE(shown(), QString("merged -1 focus tile -"));
        QListWidgetItem *second = list->item(1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(second).center());
        QCOMPARE(shown(), QString("slice 2 1 2 / 9 - delete"));
        QVERIFY(!browser()->fullFocusShown());
        browser()->form()->BUTTON_IMAGE->click();
        QCOMPARE(shown(), QString("merged -1 focus tile -"));
        QVERIFY(browser()->fullFocusShown());
    }

    // Every slice passes through the view while a video is made; by the closing message the view,
    // the strip, the stamp and DELETE agree again on what was shown before.
    void checkShownAfterVideo()
    {
        SeriesVideoExporter::setStartDelayMs(50);
        SeriesVideoExporter::setStopGraceMs(300);
        const QString hold = m_bench->root.path() + "/hold-encoder";
        // The sandbox links the system's encoder there: the link goes, the system's program stays.
        const QString encoder = Paths::path(SeriesVideoExporter::kEncoderPath);
        QFile::remove(encoder);
        QVERIFY(!QFileInfo(encoder).isSymLink() && !QFileInfo::exists(encoder));
        m_bench->root.writeFile(SeriesVideoExporter::kEncoderPath, fakeEncoder(hold));
        QFile::setPermissions(encoder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto *list = browser()->form()->LISTWIDGET_IMAGE;
        const struct
        {
            const char *name;
            bool merged;
            const char *button;
            bool stop;
            const char *end; // the export's closing message
        } cases[] = {
            {"merged, saved", true, "BUTTON_APPLY", false, "Save Complete"},
            {"merged, stopped", true, "BUTTON_APPLY", true, "Save Failed"},
            {"merged, dialog cancelled", true, "BUTTON_CANCEL", false, ""},
            {"slice, saved", false, "BUTTON_APPLY", false, "Save Complete"},
            {"slice, stopped", false, "BUTTON_APPLY", true, "Save Failed"},
        };
        for (const auto &c : cases) {
            if (c.merged)
                browser()->form()->BUTTON_IMAGE->click();
            else
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
            const QString before = shown();
            QCOMPARE(before, QString(c.merged ? "merged -1 focus tile -" : "slice 2 1 2 / 9 - delete"));
            m_videoButton = c.button;
            m_stopVideo = c.stop;
            QFile flag(hold);
            QVERIFY(c.stop ? flag.open(QIODevice::WriteOnly) : (!flag.exists() || flag.remove()));
            flag.close();
            m_bench->clearDialogs();
            m_shownAtEnd.clear();
            form()->BUTTON_SAVE_VIDEO->click();
            QVERIFY(!browser()->videoExporter()->running());
            const QStringList ends = m_bench->dialogs().filter(QRegularExpression("Save (Complete|Failed)"));
            QVERIFY2(*c.end ? ends.size() == 1 && ends[0].contains(c.end) : ends.isEmpty(), qPrintable(ends.join('|')));
            QVERIFY2(shown() == before, qPrintable(QString("%1: %2").arg(c.name, shown())));
            if (*c.end)
                QVERIFY2(m_shownAtEnd == before, qPrintable(QString("%1, message up: %2").arg(c.name, m_shownAtEnd)));
        }
    }

private slots:
    void cleanup() { m_bench.reset(); }

    void mergeOfATakenStack_data()
    {
        QTest::addColumn<bool>("qc");
        QTest::newRow("Merge button") << false;
        QTest::newRow("QC, merged while taken") << true;
    }

    void mergeOfATakenStack()
    {
        QFETCH(bool, qc);
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->setConfig("Setting_ZStack", "StableTimeInterval", "0.1");
        m_bench->start(qc ? EXEC_QC_TEST : EXEC_NORMAL);
        m_bench->setAnswer([this](QDialog *dialog) {
            if (qobject_cast<MergeFocusDlg *>(dialog)) {
                DialogRunner::click(dialog, "BUTTON_APPLY");
                return dialog->result();
            }
            if (qobject_cast<VideoMakerDlg *>(dialog)) {
                DialogRunner::click(dialog, m_videoButton);
                return dialog->result();
            }
            if (qobject_cast<TimeLapseProgressDlg *>(dialog)) {
                if (FullFocusThread *thread = page()->fullFocusThread()) {
                    m_fedWhenShown = thread->loadedCount();
                    m_runningWhenShown = thread->isRunning();
                }
                SeriesVideoExporter *video = browser()->videoExporter();
                const bool stop = m_stopVideo && video->running();
                return DialogRunner::showAndRun(dialog, [video, stop](QDialog *d) {
                    if (stop && QTest::qWaitFor([video] { return video->encoder()->state() == QProcess::Running; }, 120000))
                        DialogRunner::click(d, "BUTTON_STOP");
                }, 600000);
            }
            const QString text = DialogScripts::messageText(dialog);
            if (text.contains(QRegularExpression("Save (Complete|Failed)")))
                m_shownAtEnd = shown();
            if (text.contains("Initializing") || text.contains("progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 240000);
            return 1;
        });
        // Under the 40X objective in transmitted light, as the panel reports them (the QC start
        // names cube 1 until the turret is turned).
        VirtualInstrument &vi = m_bench->sim->instrument();
        ControlWidget *panel = m_bench->ui()->m_ControlWidget;
        for (auto [filter, objective] : {std::pair{1, 4}, {0, 4}}) {
            vi.turnFilter(filter, 0);
            vi.turnObjective(objective, 0);
            QVERIFY(QTest::qWaitFor([=] {
                return panel->currentFilterPosition() == filter && panel->currentObjectivePosition() == objective;
            }, 30000));
        }
        QTest::mouseClick(m_bench->ui()->BUTTON_Z_STACK_MENU, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        if (page()->currentState() != ZSTACK_LIVE) {
            QTest::mouseClick(form()->BUTTON_LIVE, Qt::LeftButton);
            QVERIFY(m_bench->waitUnlocked());
        }
        QVERIFY(QTest::qWaitFor([this] { return m_bench->ui()->m_VideoWidget->isRunning(); }, 15000));
        page()->setSavePath(Paths::ssd(), "cells");

        // Nine slices 1 um apart through the specimen's focus, which lies between two of them: across
        // the tilted field each of the two is sharp on one side.
        const int focus = int(SampleRenderer().trueFocusSteps(4)) - vi.state().stageCounterOffset;
        const int step = int(SampleRenderer::StepsPerUm);
        for (auto [button, steps] : {std::pair{form()->BUTTON_SET_START_POSITION, focus - 4 * step - step / 2},
                                     {form()->BUTTON_SET_END_POSITION, focus + 4 * step - step / 2}}) {
            vi.setStagePosition(steps);
            button->click();
            QVERIFY(QTest::qWaitFor([this, b = button] { return b->isChecked() && page()->motorRequest() < 0; }, 20000));
        }
        form()->RADIOBUTTON_IMAGE_NUMBER->click();
        form()->SPINBOX_IMAGE_NUMBER->setValue(9);
        QCOMPARE(form()->CHKBOX_FULL_FOCUS->isVisibleTo(page()), qc);
        if (qc)
            form()->CHKBOX_FULL_FOCUS->setChecked(true);

        QSignalSpy merged(page(), &ZStackWidget::completedFullFocus);
        QTest::mouseClick(form()->BUTTON_Z_STACK_START, Qt::LeftButton);
        QCOMPARE(page()->currentState(), ZSTACK_COMPLETED);
        QCOMPARE(int(page()->zStack().thumbnails().size()), 9);
        if (!qc) {
            QCOMPARE(merged.count(), 1); // the stack's end: no merged image yet
            QVERIFY(!merged.at(0).at(0).toBool());
            merged.clear();
            QTest::mouseClick(form()->BUTTON_FULL_FOCUS, Qt::LeftButton);
        }
        QVERIFY(QTest::qWaitFor([&merged] { return merged.count() > 0; }, 600000));
        QCOMPARE(merged.count(), 1);
        QVERIFY(merged.at(0).at(0).toBool());
        // Fed while taken, the merge runs as its box opens; from the button it reads the files.
        if (qc) {
            QCOMPARE(m_fedWhenShown, 9);
            QVERIFY(m_runningWhenShown);
        }
        const QString file = page()->stackFolder() + "/cells_merged.tif";
        QVERIFY2(QFile::exists(file), qPrintable(file));
        QVERIFY(QTest::qWaitFor([this] { return page()->isEnabled() && !page()->fullFocusThread(); }, 30000));
        QVERIFY(browser()->fullFocusShown());
        checkBrowserSaysWhatIsShown();
        if (!qc)
            checkShownAfterVideo();

        const cv::Mat result = grey8(file);
        QCOMPARE(result.cols, 1280);
        QCOMPARE(result.rows, 1024);
        const double mergedSharpness = sharpness(result);
        QStringList slices;
        for (const ThumbnailInfo &slice : page()->zStack().thumbnails()) {
            const double s = sharpness(grey8(slice.path));
            slices << QString::number(s, 'f', 1);
            QVERIFY2(mergedSharpness > s, qPrintable(QString("merged %1, slices %2").arg(mergedSharpness).arg(slices.join(' '))));
        }
        qInfo().noquote() << "variance of the Laplacian: merged" << QString::number(mergedSharpness, 'f', 1) << "slices"
                          << slices.join(' ');
    }
};

QTEST_MAIN(TestZStackMerge)
#include "tst_zstack_merge.moc"
