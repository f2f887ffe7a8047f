#include "SaverBench.h"

// Growth-monitor results, z-stack and time-lapse work files, stored image lists.
class TestSaversSeries : public QObject
{
    Q_OBJECT
private slots:
    // Two analysed frames (16-bit raw, 8-bit segmentation, 8-bit RGB count) and one whose raw
    // frame is unreadable: written in the order segmentation, count, raw per result; the raw
    // frame keeps its intensities; the unreadable one is reported, never hidden.
    void growthMonitor_data()
    {
        QTest::addColumn<QString>("ticked"); // R raw, C count, S segmentation
        QTest::addColumn<QStringList>("written");
        QTest::newRow("all") << "RCS" << QStringList{"G_0001_segmentation.tif", "G_0001_count.tif", "G_0001.tif",
                                                      "G_0002_segmentation.tif", "G_0002_count.tif", "G_0002.tif"};
        QTest::newRow("raw only") << "R" << QStringList{"G_0001.tif", "G_0002.tif"};
        QTest::newRow("raw only, counts only") << "R-" << QStringList{"G_0001.tif", "G_0002.tif"};
        QTest::newRow("unreadable raw frame") << "RCSx" << QStringList{"G_0001_segmentation.tif", "G_0001_count.tif",
                                                                      "G_0001.tif", "G_0002_segmentation.tif", "G_0002_count.tif"};
    }
    void growthMonitor()
    {
        QFETCH(QString, ticked);
        QFETCH(QStringList, written);
        Bench bench;
        const QString work = Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
        QDir().mkpath(work);
        QList<Frame> raw, segmentation, count;
        for (int i = 0; i < 2; ++i) {
            const QString stem = work + QString("R_count%1").arg(i + 1); // only the last "_count" goes
            raw << Frame::make(16, 1, i);
            segmentation << Frame::make(8, 1, 10 + i);
            count << Frame::make(8, 3, 20 + i);
            writeTiff(stem + ".tif", raw[i], "raw");
            if (!ticked.contains('-'))
                writeTiff(stem + "_result.tif", segmentation[i], "result");
            writeTiff(stem + "_count.tif", count[i], "count");
        }
        if (ticked.contains('x'))
            QFile::resize(work + "R_count2.tif", 5000);
        QStringList order;
        const QString folder = bench.user.usb + "/G";
        bench.user.onSync = [&] {
            for (const QString &file : QDir(folder).entryList(QDir::Files))
                if (!order.contains(file))
                    order << file;
        };
        bench.choose("G");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_GROWTH_MONITOR, 8, true);
            dialog.findChild<QAbstractButton *>("CHKBOX_RESULT")->setChecked(ticked.contains('C'));
            dialog.findChild<QAbstractButton *>("CHKBOX_SEGMENTATION")->setChecked(ticked.contains('S'));
            QCOMPARE(dialog.exec(), ticked.contains('x') ? 0 : 1);
        }
        QCOMPARE(order, written);
        QCOMPARE(bench.user.messages, QStringList{ticked.contains('x')
            ? "<p><b>Save Incomplete</b><br/><br/>1 of 6 images could not be read.</p>" : kComplete});
        const QString text = capturedImageMetaData().metaText(0);
        QList<Expected> expected;
        for (const QString &name : written) {
            const int i = name.mid(2, 4).toInt() - 1;
            const Frame *frame = name.contains("segm") ? &segmentation[i] : name.contains("count") ? &count[i] : &raw[i];
            expected << Expected{folder + "/" + name, frame, text};
        }
        verifyFiles(expected, bench.user.root.path());
    }

    // Work files of a run turned into a numbered series in a folder of the run's name: grey with
    // the bar, or pseudo colour; a work file that cannot be read is passed over and reported.
    void series_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("broken"); // index of a truncated work file, or -1
        QTest::newRow("time lapse, 8-bit grey") << int(SAVE_OPTION_TIMELAPSE) << 8 << false << -1;
        QTest::newRow("time lapse, 8-bit green") << int(SAVE_OPTION_TIMELAPSE) << 8 << true << -1;
        QTest::newRow("z-stack, 16-bit grey") << int(SAVE_OPTION_ZSTACK) << 16 << false << -1;
        QTest::newRow("z-stack, 16-bit green") << int(SAVE_OPTION_ZSTACK) << 16 << true << -1;
        QTest::newRow("time lapse, second unreadable") << int(SAVE_OPTION_TIMELAPSE) << 8 << false << 1;
    }
    void series()
    {
        QFETCH(int, option);
        QFETCH(int, bits);
        QFETCH(bool, pseudo);
        QFETCH(int, broken);
        Bench bench;
        const QString work = option == SAVE_OPTION_ZSTACK ? "/media/VANTOR SSD/.ZStack/" : "/media/VANTOR SSD/.TimeLapse/";
        const QList<Frame> frames = writeWorkFiles(work, 3, bits);
        if (broken >= 0)
            QFile::resize(Paths::path(work) + QString("Temp_%1.raw").arg(broken, 6, 10, QChar('0')), 1000);
        bench.choose("Run", 0, pseudo);
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, TSaveOption(option), bits, pseudo);
            dialog.setFilterColorIndex(1);
            QCOMPARE(dialog.exec(), broken < 0 ? 1 : 0);
        }
        QCOMPARE(bench.user.messages, QStringList{broken < 0 ? kComplete
            : "<p><b>Save Incomplete</b><br/><br/>1 of 3 images could not be read.</p>"});
        QList<Frame> green;
        QList<Expected> expected;
        QStringList names;
        for (int i = 0; i < 3; ++i) {
            Frame g = Frame::make(bits, 3, 0);
            const auto *words = reinterpret_cast<const quint16 *>(frames[i].file.constData());
            for (int p = 0; p < W * H * 3; ++p) {
                const int v = bits == 8 ? quint8(frames[i].file[p / 3]) : words[p / 3];
                if (bits == 8)
                    g.file[p] = char(p % 3 == 1 ? v : 0);
                else
                    reinterpret_cast<quint16 *>(g.file.data())[p] = quint16(p % 3 == 1 ? v : 0);
            }
            green << g;
        }
        for (int i = 0; i < 3; ++i) {
            if (i == broken)
                continue;
            names << QString("Run_%1.tif").arg(i + 1, 4, 10, QChar('0'));
            expected << Expected{bench.user.usb + "/Run/" + names.last(), pseudo ? &green[i] : &frames[i],
                                 capturedImageMetaData().metaText(0), true};
        }
        QCOMPARE(bench.files(bench.user.usb + "/Run"), names);
        verifyFiles(expected, bench.user.root.path());
    }

    // Stored images of a run written again: 16-bit files keep their intensities and orientation,
    // each gets the bar and its own annotation line (none past the last line), its own text.
    void imageList_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("samples");
        QTest::newRow("16-bit grey") << 16 << 1;
        QTest::newRow("8-bit grey") << 8 << 1;
        QTest::newRow("8-bit colour") << 8 << 3;
    }
    void imageList()
    {
        QFETCH(int, bits);
        QFETCH(int, samples);
        Bench bench;
        const QString stored = bench.user.usb + "/stored";
        QDir().mkpath(stored);
        QList<Frame> frames;
        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            frames << Frame::make(bits, samples, i);
            paths << stored + QString("/Z_%1.tif").arg(i + 1, 4, 10, QChar('0'));
            writeTiff(paths[i], frames[i], "Stored " + QByteArray::number(i), 3);
        }
        bench.choose("List");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_ZSTACK_IMAGES, bits);
            dialog.m_AnnotationTextInfo.visible = true;
            dialog.m_AnnotationTextInfo.x = 600;
            dialog.m_AnnotationTextInfo.y = 300;
            dialog.m_AnnotationTextInfo.color = Qt::red;
            dialog.setLoadImagePathList(paths, {"Z 0 um", "Z 5 um"});
            QCOMPARE(dialog.exec(), 1);
        }
        QList<Expected> expected;
        for (int i = 0; i < 3; ++i)
            expected << Expected{bench.user.usb + QString("/List/List_%1.tif").arg(i + 1, 4, 10, QChar('0')), &frames[i],
                                 "Stored " + QString::number(i), true, i < 2, 3};
        verifyFiles(expected, bench.user.root.path());
    }

    // A listed image that is no 1280 x 1024 frame is never copied: the images before it are
    // saved, the run stops there and says "Save Failed".
    void imageListWithAStranger()
    {
        Bench bench;
        const QString stored = bench.user.root.makeDir("/media/USB1/stored");
        const Frame frame = Frame::make(8, 1, 0);
        writeTiff(stored + "/a.tif", frame, "A");
        ImReaderWriter small;
        QVERIFY(small.load(frame.handed.constData(), 640, 480, 8, 1, 1, 1, 1));
        QVERIFY(small.write(QFile::encodeName(stored + "/b.tif"), "B"));
        writeTiff(stored + "/c.tif", frame, "C");
        bench.choose("List");
        {
            SaveOptionsDlg dialog;
            Bench::prepare(dialog, SAVE_OPTION_TIMELAPSE_IMAGES, 8);
            dialog.setLoadImagePathList({stored + "/a.tif", stored + "/b.tif", stored + "/c.tif"}, {});
            QCOMPARE(dialog.exec(), 0);
        }
        QCOMPARE(bench.user.messages, QStringList{kFailed});
        QCOMPARE(bench.files(bench.user.usb + "/List"), QStringList{"List_0001.tif"});
    }

    // The work-file lister: real names in name order, or names rebuilt from the count by index.
    void workFileLists()
    {
        Bench bench;
        const QString folder = bench.user.root.makeDir("/work") + "/";
        for (const char *name : {"Temp_000002.raw", "Temp_000000.raw", "a.tif", "Temp_000001.tif"})
            QFile(folder + name).open(QIODevice::WriteOnly);
        SaveOptionsDlg dialog;
        dialog.loadRAWFiles(folder, {"Temp_*.raw", "*.tif"}, QDir::Files, false);
        const QStringList real{folder + "Temp_000000.raw", folder + "Temp_000002.raw", folder + "Temp_000001.tif",
                               folder + "a.tif"};
        QCOMPARE(dialog.rawFileList(), real);
        dialog.loadRAWFiles(folder, {"Temp_*.raw", "*.tif", "*"}, QDir::Files, true);
        const QStringList rebuilt{folder + "Temp_000000.raw", folder + "Temp_000001.raw", folder + "Temp_000000.tif",
                                  folder + "Temp_000001.tif"};
        QCOMPARE(dialog.rawFileList(), rebuilt);
    }
};

QTEST_MAIN(TestSaversSeries)
#include "tst_savers_series.moc"
