#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"
#include "SimulatedSystemActions.h"
#include "Utilities.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <tiffio.h>

class TestUtilities : public QObject
{
    Q_OBJECT
private slots:
    void naturalOrder_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<int>("sign");
        QTest::newRow("9 < 10") << QByteArray("a9") << QByteArray("a10") << -1;
        QTest::newRow("10 > 9") << QByteArray("a10") << QByteArray("a9") << 1;
        QTest::newRow("leading zero") << QByteArray("a01") << QByteArray("a1") << 0;
        QTest::newRow("equal numbers, text decides") << QByteArray("007x") << QByteArray("7y") << -1;
        QTest::newRow("case") << QByteArray("B") << QByteArray("a") << -1;
        QTest::newRow("digit before letter") << QByteArray("1x") << QByteArray("x") << -1;
        QTest::newRow("letter after digit") << QByteArray("x") << QByteArray("1x") << 1;
        QTest::newRow("prefix") << QByteArray("img") << QByteArray("img1") << -1;
        QTest::newRow("empty") << QByteArray() << QByteArray() << 0;
        QTest::newRow("beyond 32 bits") << QByteArray("t4294967296") << QByteArray("t1") << 1;
        QTest::newRow("time stamps") << QByteArray("t20240101120000") << QByteArray("t20240101115959") << 1;
        QTest::newRow("bytes unsigned") << QByteArray("\xC3\xA9") << QByteArray("z") << 1;
    }
    void naturalOrder()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(int, sign);
        const int r = alphanum_impl(a.constData(), b.constData());
        QCOMPARE((r > 0) - (r < 0), sign);
        std::vector<std::string> files{"img10.tif", "img2.tif", "img1.tif", "Img3.tif", "img02b.tif"};
        std::sort(files.begin(), files.end(), alphanum_less());
        QCOMPARE(files, (std::vector<std::string>{"Img3.tif", "img1.tif", "img2.tif", "img02b.tif", "img10.tif"}));
        QStringList protocols{"P_12", "P_3", "P_1"};
        std::sort(protocols.begin(), protocols.end(), alphanum_less());
        QCOMPARE(protocols, QStringList({"P_1", "P_3", "P_12"}));
    }

    void firmwareVersions()
    {
        const QList<QPair<const char *, float>> cases{{"", 0.0f},        {"2.6", 2.6f},      {"2.3.1", 2.31f},
                                                      {"1.10.2", 1.102f}, {"3.0.12", 3.012f}, {"3.0.12.9", 3.012f},
                                                      {"abc", 0.0f},      {"a.b.c", 0.0f}};
        for (const auto &c : cases)
            QVERIFY2(firmwareVer(c.first) == c.second, c.first);
    }

    void metaInfoValues()
    {
        QString value;
        QVERIFY(getMetaInfoValue("Objective: 10X;Light: 50%", "Light", value) && value == "50%");
        QVERIFY(getMetaInfoValue("Objective: 10X;Light: 50%", "Objective ", value) && value == "10X");
        QVERIFY(getMetaInfoValue("Z Position = 12 um", "Z Position", value) && value == "12 um");
        QVERIFY(!getMetaInfoValue("Objective: 10X;Light: ;Gain: 1 dB", "Light", value));
        QVERIFY(value.isEmpty());
        for (const char *key : {"light", "", "  "}) // case-sensitive; no empty key
            QVERIFY(!getMetaInfoValue("Objective: 10X", key, value));
    }

    void imageMetaInfoFromTiff()
    {
        TestRoot root;
        const QString folder = root.makeDir("/media/VANTOR SSD");
        auto writeTiff = [&folder](const char *name, const char *description) {
            TIFF *tiff = TIFFOpen((folder + name).toUtf8().constData(), "w");
            TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 1);
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 1);
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
            if (description)
                TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description);
            unsigned char pixel = 7;
            TIFFWriteScanline(tiff, &pixel, 0, 0);
            TIFFClose(tiff);
            return (folder + name).toStdString();
        };
        QString text = "stale";
        QCOMPARE(getImageMetaInfo(writeTiff("/tagged.tif", "Gain: 1 dB;Unit: \xC2\xB5m"), text), 1);
        QCOMPARE(text, QString::fromUtf8("Gain: 1 dB;Unit: \xC2\xB5m"));
        QCOMPARE(getImageMetaInfo(writeTiff("/plain.tif", nullptr), text), 0);
        QVERIFY(text.isEmpty());
        text = "stale";
        root.writeFile("/media/VANTOR SSD/fake.tif", "just text");
        QCOMPARE(getImageMetaInfo((folder + "/fake.tif").toStdString(), text), 0);
        QVERIFY(text.isEmpty());
        QCOMPARE(getImageMetaInfo((folder + "/missing.tif").toStdString(), text), 0);
    }

    void focusPositionsAndColours()
    {
        QCOMPARE(convertPOStoUM(-512), -10);
        QCOMPARE(convertPOStoUM(5120), 100);
        QCOMPARE(convertPOStoUM(540), 11); // 10.55 rounds up

        for (int i = 0; i < kColorTableSize; ++i)
            QCOMPARE(GetNearestColorLabelIndex(g_ColorTable[i], g_ColorTable), i);
        QCOMPARE(GetNearestColorLabelIndex(QColor(250, 240, 10), g_ColorTable), 3);
        QCOMPARE(GetNearestColorLabelIndex(QColor(1, 2, 3), {}), 0);

        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        WritePrivateProfileString("ScaleBar", "Color", "99", file);
        WritePrivateProfileString("ScaleBar", "Bad", "red", file);
        WritePrivateProfileString("ScaleBar", "Ok", "2", file);
        QCOMPARE(ReadColorIndexSetting("ScaleBar", "Color", 3, file), 7);
        QCOMPARE(ReadColorIndexSetting("ScaleBar", "Bad", 3, file), 3);
        QCOMPARE(ReadColorIndexSetting("ScaleBar", "Ok", 3, file), 2);
        QCOMPARE(ReadColorIndexSetting("ScaleBar", "Missing", 12, file), 7);

    }

    void workFolders()
    {
        TestRoot root;
        const QString video = Paths::ssd() + "/.Video/";
        createTemporaryPath(video); // the volume is absent: nothing is made
        QVERIFY(!QFileInfo::exists(video));
        root.makeDir("/media/VANTOR SSD");
        createTemporaryPath(video);
        QVERIFY(QFileInfo(video).isDir());

        const QString raw = root.makeDir("/media/VANTOR SSD/.Raw");
        root.writeFile("/media/VANTOR SSD/.Raw/sub/a.tif", "x");
        root.writeFile("/media/VANTOR SSD/.Raw/.hidden", "x");
        deleteTemporaryPath(raw); // only a sub-folder with files and a hidden file: left alone
        QVERIFY(QFile::exists(raw + "/sub/a.tif") && QFile::exists(raw + "/.hidden"));
        root.writeFile("/media/VANTOR SSD/.Raw/b.tif", "x");
        deleteTemporaryPath(raw);
        QVERIFY(QFileInfo(raw).isDir());
        QVERIFY(QDir(raw).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

        // Nothing outside the sandbox is ever made or removed.
        QTemporaryDir outside;
        QFile(outside.path() + "/keep.txt").open(QIODevice::WriteOnly);
        deleteTemporaryPath(outside.path());
        QVERIFY(QFile::exists(outside.path() + "/keep.txt"));
        createTemporaryPath(outside.path() + "/new");
        QVERIFY(!QFileInfo::exists(outside.path() + "/new"));
    }

    void delayAndEventsWaitAsAsked()
    {
        QElapsedTimer timer;
        timer.start();
        delay(0);
        delay(-5);
        QVERIFY(timer.elapsed() < 5000); // returns at once: only a hang fails

        // Busy threads make processor time run faster than the wall clock; delay must not care.
        std::atomic<bool> stop{false};
        QList<QThread *> busy;
        for (int i = 0; i < 3; ++i) {
            busy << QThread::create([&stop] {
                volatile unsigned n = 0;
                while (!stop)
                    n = n + 1;
            });
            busy.last()->start();
        }
        timer.restart();
        delay(300);
        const qint64 elapsed = timer.elapsed();
        stop = true;
        for (QThread *thread : busy) {
            thread->wait();
            delete thread;
        }
        QVERIFY2(elapsed >= 300, QByteArray::number(elapsed));

        int calls = 0;
        QTimer::singleShot(0, this, [&calls] { ++calls; });
        qProcessEvents(QEventLoop::ExcludeUserInputEvents);
        QCOMPARE(calls, 0);
        qProcessEvents();
        QCOMPARE(calls, 1);
    }

    void ffmpegVersion()
    {
        TestRoot root;
        QCOMPARE(getFFmpegVersion(), QString());
        const QString program = root.writeFile("/root/Microscope/FFmpeg/ffmpeg",
                                               "#!/bin/sh\n[ \"$1\" = -version ] || exit 3\n"
                                               "echo '  ffmpeg version 9.9-test  '\necho 'built with gcc'\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(getFFmpegVersion(), QString("ffmpeg version 9.9-test"));
    }

    // The wait syncs through the platform seam and gives up on memory that stays dirty. The
    // simulated instrument's own report is clean after its sync: the development machine's page
    // cache, busy with every other program, is never waited for.
    void clearDirtyMemoryGivesUp_data()
    {
        QTest::addColumn<int>("cleanAfter"); // reads until Dirty and Writeback are 0; -1 never
        QTest::newRow("the simulated instrument's report") << 0;
        QTest::newRow("clean at once") << 1;
        QTest::newRow("clean at the third look") << 3;
        QTest::newRow("never clean") << -1;
    }
    void clearDirtyMemoryGivesUp()
    {
        QFETCH(int, cleanAfter);
        SimulatedSystemActions actions;
        SystemActions::setInstance(&actions);
        int reads = 0;
        const auto report = [&reads, cleanAfter] {
            ++reads;
            const bool clean = cleanAfter > 0 && reads >= cleanAfter;
            return QByteArray("MemTotal: 100 kB\nDirty:  ") + (clean ? "0" : "12") + " kB\nWriteback: 0 kB\n";
        };
        const bool result = cleanAfter == 0 ? clearDirtyMemory(300) : clearDirtyMemory(300, report);
        SystemActions::setInstance(nullptr);
        if (cleanAfter == 0) {
            QVERIFY(result);
            QCOMPARE(actions.calls(), QStringList{"sync"});
            return;
        }
        QCOMPARE(result, cleanAfter > 0);
        QCOMPARE(actions.calls().count("sync"), reads); // one sync before every look
        if (cleanAfter > 0)
            QCOMPARE(reads, cleanAfter);
        else
            QVERIFY(reads >= 2); // looked again until the time-out (20 ms apart, 300 ms)
    }
};

QTEST_MAIN(TestUtilities)
#include "tst_utilities.moc"
