#include "Paths.h"
#include "PrivateProfile.h"
#include "TestRoot.h"
#include "SimulatedSystemActions.h"
#include "Utilities.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <tiffio.h>

namespace {

// A one-pixel TIFF, with an ImageDescription when description is given.
bool writeTiff(const QString &path, const char *description)
{
    TIFF *tiff = TIFFOpen(path.toUtf8().constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 1);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    if (description)
        TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description);
    unsigned char pixel = 7;
    const bool ok = TIFFWriteScanline(tiff, &pixel, 0, 0) == 1;
    TIFFClose(tiff);
    return ok;
}

} // namespace

class TestUtilities : public QObject
{
    Q_OBJECT
private slots:
    void naturalOrder()
    {
        QVERIFY(alphanum_impl("a9", "a10") < 0);
        QVERIFY(alphanum_impl("a10", "a9") > 0);
        QCOMPARE(alphanum_impl("a01", "a1"), 0);
        QVERIFY(alphanum_impl("007x", "7y") < 0); // equal numbers, the text after them decides
        QVERIFY(alphanum_impl("B", "a") < 0);
        QVERIFY(alphanum_impl("1x", "x") < 0);
        QVERIFY(alphanum_impl("x", "1x") > 0);
        QVERIFY(alphanum_impl("img", "img1") < 0);
        QCOMPARE(alphanum_impl("", ""), 0);
        // Long digit runs (time stamps) compare by value, not wrapped to 32 bits.
        QVERIFY(alphanum_impl("t4294967296", "t1") > 0);
        QVERIFY(alphanum_impl("t20240101120000", "t20240101115959") > 0);
        QVERIFY(alphanum_impl("\xC3\xA9", "z") > 0); // bytes compare unsigned

        std::vector<std::string> files{"img10.tif", "img2.tif", "img1.tif", "Img3.tif", "img02b.tif"};
        std::sort(files.begin(), files.end(), alphanum_less());
        QCOMPARE(files, (std::vector<std::string>{"Img3.tif", "img1.tif", "img2.tif", "img02b.tif", "img10.tif"}));
        QStringList protocols{"P_12", "P_3", "P_1"};
        std::sort(protocols.begin(), protocols.end(), alphanum_less());
        QCOMPARE(protocols, QStringList({"P_1", "P_3", "P_12"}));
    }

    void firmwareVersions()
    {
        QCOMPARE(firmwareVer(""), 0.0f);
        QCOMPARE(firmwareVer("2.6"), 2.6f);
        QCOMPARE(firmwareVer("2.5"), 2.5f);
        QCOMPARE(firmwareVer("2.3.1"), 2.31f);
        QCOMPARE(firmwareVer("1.10.2"), 1.102f);
        QCOMPARE(firmwareVer("3.0.12"), 3.012f);
        QCOMPARE(firmwareVer("3.0.12.9"), 3.012f);
        QCOMPARE(firmwareVer("abc"), 0.0f);
        QCOMPARE(firmwareVer("a.b.c"), 0.0f);
        QVERIFY(firmwareVer("2.6") > 2.5f && firmwareVer("2.3.1") < 2.5f);
    }

    void metaInfoValues()
    {
        QString value;
        QVERIFY(getMetaInfoValue("Objective: 10X;Light: 50%", "Light", value));
        QCOMPARE(value, QString("50%"));
        QVERIFY(getMetaInfoValue("Objective: 10X;Light: 50%", "Objective ", value));
        QCOMPARE(value, QString("10X"));
        QVERIFY(getMetaInfoValue("Z Position = 12 um", "Z Position", value));
        QCOMPARE(value, QString("12 um"));
        QVERIFY(!getMetaInfoValue("Objective: 10X;Light: ;Gain: 1 dB", "Light", value));
        QVERIFY(value.isEmpty());
        QVERIFY(!getMetaInfoValue("Objective: 10X", "light", value)); // case-sensitive
        QVERIFY(!getMetaInfoValue("Objective: 10X", "", value));
        QVERIFY(!getMetaInfoValue("Objective: 10X", "  ", value));
        QVERIFY(getMetaInfoValue(g_CapturedImageMetaData.metaText(), "Time", value) == false);

        TCapturedImageMetaData meta;
        meta.instrument = "Instrument: VANTOR S";
        meta.exposure[2] = "Exposure: 20 ms";
        meta.channel = 2;
        QVERIFY(getMetaInfoValue(meta.metaText(), "Exposure", value));
        QCOMPARE(value, QString("20 ms"));
        QCOMPARE(meta.metaText(0), QString("Instrument: VANTOR S;VTS-00-00000;v0.0.0;8 bit;Trans;4X;50;10 ms;1 dB"));
    }

    void imageMetaInfoFromTiff()
    {
        TestRoot root;
        const QString folder = root.makeDir("/media/VANTOR SSD");
        QString text = "stale";
        const QString tagged = folder + "/tagged.tif";
        QVERIFY(writeTiff(tagged, "Instrument: VANTOR S;Gain: 1 dB;Unit: \xC2\xB5m"));
        QCOMPARE(getImageMetaInfo(tagged.toStdString(), text), 1);
        QCOMPARE(text, QString::fromUtf8("Instrument: VANTOR S;Gain: 1 dB;Unit: \xC2\xB5m"));

        const QString plain = folder + "/plain.tif";
        QVERIFY(writeTiff(plain, nullptr));
        QCOMPARE(getImageMetaInfo(plain.toStdString(), text), 0);
        QVERIFY(text.isEmpty());

        const QString notTiff = root.writeFile("/media/VANTOR SSD/fake.tif", "PNG? no, just text");
        text = "stale";
        QCOMPARE(getImageMetaInfo(notTiff.toStdString(), text), 0);
        QVERIFY(text.isEmpty());
        QCOMPARE(getImageMetaInfo((folder + "/missing.tif").toStdString(), text), 0);
    }

    void focusPositionsInMicrometres()
    {
        QCOMPARE(convertPOStoUM(512), 10);
        QCOMPARE(convertPOStoUM(0), 0);
        QCOMPARE(convertPOStoUM(-512), -10);
        QCOMPARE(convertPOStoUM(5120), 100);
        QCOMPARE(convertPOStoUM(540), 11); // 10.55 rounds up
    }

    void colours()
    {
        QCOMPARE(g_ColorTable.size(), kColorTableSize);
        for (int i = 0; i < kColorTableSize; ++i)
            QCOMPARE(GetNearestColorLabelIndex(g_ColorTable[i], g_ColorTable), i);
        QCOMPARE(GetNearestColorLabelIndex(QColor(255, 0, 0), g_ColorTable), 0);
        QCOMPARE(GetNearestColorLabelIndex(QColor(250, 240, 10), g_ColorTable), 3);
        QCOMPARE(GetNearestColorLabelIndex(QColor(1, 2, 3), {}), 0);

        QCOMPARE(clampColorIndex(-3), 0);
        QCOMPARE(clampColorIndex(99), 7);
        QCOMPARE(clampColorIndex(4), 4);
        QCOMPARE(colorTableEntry(42), QColor(160, 160, 164));

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

    void pseudoColourRamps()
    {
        initializePseudoColorTable();
        initializePseudoColorTable();
        for (const QVector<QRgb> &ramp : g_PseudoColorTable)
            QCOMPARE(ramp.size(), 256);
        QCOMPARE(g_PseudoColorTable[0][200], qRgb(200, 0, 0));
        QCOMPARE(g_PseudoColorTable[4][9], qRgb(0, 9, 9));
        QCOMPARE(g_PseudoColorTable[5][255], qRgb(0, 0, 0));
        QCOMPARE(g_PseudoColorTable[6][0], qRgb(255, 255, 255));
        QCOMPARE(qAlpha(g_PseudoColorTable[7][17]), 255);
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

    void delayWaitsWallClockTime()
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
    }

    void processEventsOnlyWithoutFlags()
    {
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

    // The wait syncs through the platform seam and gives up on memory that stays dirty.
    void clearDirtyMemoryGivesUp_data()
    {
        QTest::addColumn<int>("cleanAfter"); // reads until Dirty and Writeback are 0; -1 never
        QTest::addColumn<bool>("cleared");
        QTest::newRow("clean at once") << 1 << true;
        QTest::newRow("clean at the third look") << 3 << true;
        QTest::newRow("never clean") << -1 << false;
    }
    void clearDirtyMemoryGivesUp()
    {
        QFETCH(int, cleanAfter);
        QFETCH(bool, cleared);
        SimulatedSystemActions actions;
        SystemActions::setInstance(&actions);
        int reads = 0;
        const bool result = clearDirtyMemory(300, [&reads, cleanAfter] {
            ++reads;
            const bool clean = cleanAfter > 0 && reads >= cleanAfter;
            return QByteArray("MemTotal: 100 kB\nDirty:  ") + (clean ? "0" : "12") + " kB\nWriteback: 0 kB\n";
        });
        SystemActions::setInstance(nullptr);
        QCOMPARE(result, cleared);
        QCOMPARE(actions.calls().count("sync"), reads); // one sync before every look
        if (cleared)
            QCOMPARE(reads, cleanAfter);
        else
            QVERIFY(reads >= 2); // looked again until the time-out (20 ms apart, 300 ms)
    }
};

QTEST_MAIN(TestUtilities)
#include "tst_utilities.moc"
