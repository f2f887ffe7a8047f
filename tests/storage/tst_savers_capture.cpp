#include "SaverBench.h"

// The captures of the Multicolor, single and cell-count pages, and the failure roads.
class TestSaversCapture : public QObject
{
    Q_OBJECT
private slots:
    // Four channels, the overlay and the annotated image of the Multicolor page: one file each,
    // named after the filter cubes, with the bar where the page put it.
    void multicolor_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("formatRow");
        QTest::newRow("8-bit monochrome tif") << 8 << false << 0;
        QTest::newRow("8-bit pseudo colour tif") << 8 << true << 0;
        QTest::newRow("16-bit monochrome") << 16 << false << 0;
        QTest::newRow("16-bit pseudo colour") << 16 << true << 0;
        QTest::newRow("8-bit monochrome png") << 8 << false << 1;
        QTest::newRow("8-bit pseudo colour jpg") << 8 << true << 2;
        QTest::newRow("8-bit monochrome bmp") << 8 << false << 3;
    }
    void multicolor()
    {
        QFETCH(int, bits);
        QFETCH(bool, pseudo);
        QFETCH(int, formatRow);
        Bench bench;
        const QString extension = QStringList{"tif", "png", "jpg", "bmp"}[formatRow];
        QList<Frame> grey, colour;
        for (int c = 0; c < 4; ++c) {
            grey << Frame::make(bits, 1, c);
            colour << Frame::make(bits, 3, c);
        }
        Frame overlay = Frame::make(bits, 3, 7), annotated = Frame::make(8, 3, 8);
        bench.choose("Cells", formatRow, pseudo);
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_MULTICOLOR, bits);
            for (int c = 0; c < 4; ++c) {
                if (bits == 8) {
                    dialog.setImageData8(c, grey[c].data());
                    dialog.setImageData24(c, colour[c].data());
                } else {
                    dialog.setImageData16(c, grey[c].data());
                    dialog.setImageData48(c, colour[c].data());
                }
            }
            if (bits == 8)
                dialog.setOverlayImageData24(overlay.data());
            else
                dialog.setOverlayImageData48(overlay.data());
            dialog.setAnnotationImageData(annotated.data());
            const bool all[4] = {true, true, true, true};
            dialog.generateOverlayImageMetaData(all);
            QCOMPARE(dialog.exec(), 1);
            QCOMPARE(dialog.savedCount(), 6);
        }
        QCOMPARE(bench.user.messages, QStringList{kComplete});
        QCOMPARE(bench.user.syncs(), 6);
        // Channel c is named by [Filter] key 0, 3, 2, 1.
        const QString base = bench.user.usb + "/Cells_";
        const char *names[4] = {"Trans", "DAPI", "RFP", "G_FP"};
        const TCapturedImageMetaData meta = capturedImageMetaData();
        QList<Expected> expected;
        for (int c = 0; c < 4; ++c)
            expected << Expected{base + names[c] + "." + extension, pseudo ? &colour[c] : &grey[c], meta.metaText(c), true};
        SaveOptionsDlg texts; // the overlay text as the page builds it
        const bool all[4] = {true, true, true, true};
        texts.generateOverlayImageMetaData(all);
        expected << Expected{base + "Overlay." + extension, &overlay, texts.overlayImageMetaData(), true}
                 << Expected{base + "Overlay_Annotation." + extension, &annotated, texts.overlayImageMetaData()};
        QStringList names8;
        for (const Expected &e : expected)
            names8 << QFileInfo(e.path).fileName();
        names8.sort();
        QCOMPARE(bench.files(bench.user.usb), names8);
        verifyFiles(expected, bench.user.root.path());
    }

    // The single page: the monochrome frame, then the annotated image under the same name.
    void singleImage()
    {
        Bench bench;
        Frame grey = Frame::make(16, 1, 1), annotated = Frame::make(8, 3, 2);
        bench.choose("One");
        for (bool withAnnotation : {false, true}) {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_SINGLE, withAnnotation ? 8 : 16);
            dialog.setImageData16(0, grey.data());
            dialog.setAnnotationImageData(annotated.data());
            if (withAnnotation)
                dialog.findChild<QAbstractButton *>("CHKBOX_SAVE_WITH_ANNOTATION")->setChecked(true);
            QCOMPARE(dialog.exec(), 1);
        }
        // No bar on single images; the second save of the name gets "(1)".
        QCOMPARE(bench.files(bench.user.usb), (QStringList{"One(1).tif", "One.tif"}));
        const QString text = capturedImageMetaData().metaText(0);
        verifyFiles({{bench.user.usb + "/One.tif", &grey, text}, {bench.user.usb + "/One(1).tif", &annotated, text}},
                    bench.user.root.path());
    }

    void cellCount()
    {
        Bench bench;
        Frame grey = Frame::make(8, 1, 1), tagged = Frame::make(8, 3, 2);
        CSVReaderWriter csv;
        csv.setHeader("Index,Area,Intensity");
        csv.fillCSVData("1,120.5,88");
        bench.choose("Count1");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_CELLCOUNT, 8, false, SUB_OPTION_CELLCOUNT_RESULT);
            dialog.setImageData8(0, grey.data());
            dialog.setOverlayImageData24(tagged.data());
            dialog.setCSVReaderWriter(csv);
            QCOMPARE(dialog.exec(), 1);
            QCOMPARE(dialog.savedCount(), 3);
        }
        QCOMPARE(bench.files(bench.user.usb), (QStringList{"Count1.csv", "Count1.tif", "Count1_TAG.tif"}));
        const QString text = capturedImageMetaData().metaText(0);
        verifyFiles({{bench.user.usb + "/Count1.tif", &grey, text}, {bench.user.usb + "/Count1_TAG.tif", &tagged, text}},
                    bench.user.root.path());
        QFile table(bench.user.usb + "/Count1.csv");
        QVERIFY(table.open(QIODevice::ReadOnly));
        QCOMPARE(table.readAll(), QByteArray("Index,Area,Intensity\n1,120.5,88"));
    }

    // The drive pulled after the first file: the first file stays, "USB Drive Not Detected" then
    // "Save Failed", nothing more is written. A quick save says only the first.
    void pulledAfterFirstFile_data()
    {
        QTest::addColumn<bool>("quick");
        QTest::newRow("normal") << false;
        QTest::newRow("quick save") << true;
    }
    void pulledAfterFirstFile()
    {
        QFETCH(bool, quick);
        Bench bench;
        QList<Frame> grey;
        for (int c = 0; c < 4; ++c)
            grey << Frame::make(8, 1, c);
        const QString volume = quick ? Paths::path("/media/VANTOR SSD") : bench.user.usb;
        const QString contents = quick ? SimStorage::contentsPath(SimStorage::ssdName) + "/Quicksave"
                                       : SimStorage::contentsPath(SimStorage::usbName);
        bool pulled = false;
        bench.user.onSync = [&] {
            if (std::exchange(pulled, true))
                return;
            QVERIFY(SimStorage::pull(quick ? SimStorage::ssdName : SimStorage::usbName, nullptr));
            QVERIFY(QFile::remove(volume)); // its mount point goes with it
        };
        bench.choose("Cells");
        if (quick)
            bench.user.act = nullptr; // a quick save presses OK by itself
        int result = -1;
        {
            SaveOptionsDlg dialog(nullptr, quick);
            Bench::prepare(dialog, SAVE_OPTION_MULTICOLOR, 8);
            for (int c = 0; c < 4; ++c)
                dialog.setImageData8(c, grey[c].data());
            result = dialog.exec();
        }
        QCOMPARE(result, 0);
        const QStringList shown = quick ? QStringList{kNotDetected} : QStringList{kNotDetected, kFailed};
        QCOMPARE(bench.user.messages, shown);
        const QStringList kept = QDir(contents).entryList(QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY(kept[0].endsWith("_Trans.tif"));
    }

    // Frames a saver needs but was not handed, and names too long for the file system: found
    // before the first file, nothing written, "Save Failed".
    void refusedBeforeTheFirstFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("pseudo colour without colour frames") << "pseudo";
        QTest::newRow("tagged image without overlay") << "tagged";
        QTest::newRow("results without table") << "table";
        QTest::newRow("rendered image on a plain save") << "rendered";
        QTest::newRow("numbered name too long") << "long";
    }
    void refusedBeforeTheFirstFile()
    {
        QFETCH(QString, what);
        Bench bench;
        Frame grey = Frame::make(8, 1, 0), colour = Frame::make(8, 3, 1);
        CSVReaderWriter csv;
        QString name = "Bad";
        if (what == "long") {
            name = QString(248, 'n');
            writeWorkFiles("/media/VANTOR SSD/.TimeLapse/", 1, 8);
        }
        bench.choose(name, 0, what == "pseudo");
        {
            SaveOptionsDlg dialog;
            if (what == "pseudo") {
                Bench::prepare(dialog, SAVE_OPTION_MULTICOLOR, 8);
                dialog.setImageData8(0, grey.data());
                dialog.setImageData8(1, grey.data());
            } else if (what == "long") {
                Bench::prepare(dialog, SAVE_OPTION_TIMELAPSE, 8);
            } else {
                Bench::prepare(dialog, SAVE_OPTION_CELLCOUNT, 8, false, SUB_OPTION_CELLCOUNT_RESULT);
                dialog.setImageData8(0, grey.data());
                if (what != "tagged")
                    dialog.setOverlayImageData24(colour.data());
                if (what == "rendered")
                    dialog.setAnnotationImageData(colour.data());
                if (what != "table")
                    dialog.setCSVReaderWriter(csv);
            }
            QCOMPARE(dialog.exec(), 0);
        }
        QCOMPARE(bench.user.messages, QStringList{kFailed});
        QCOMPARE(bench.user.syncs(), 0);
        QStringList left = QDir(bench.user.usb).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        if (what == "long") { // the run's folder is made before its files
            QCOMPARE(left, QStringList{name});
            left = QDir(bench.user.usb + "/" + name).entryList(QDir::Files);
        }
        QCOMPARE(left, QStringList());
    }
};

QTEST_MAIN(TestSaversCapture)
#include "tst_savers_capture.moc"
