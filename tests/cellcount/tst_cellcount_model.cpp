#include "CellCount.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "ProtocolFile.h"
#include "ProtocolFixture.h"

#include <QtTest>
#include <vector>

namespace {

// Free space on the SSD as the monitor will report it; a negative value fails the query.
void setFreeMegabytes(qint64 megabytes)
{
    MediaMonitor::setSpaceQuery([megabytes](const QString &, quint64 *fragment, quint64 *blocks) {
        if (megabytes < 0)
            return false;
        *fragment = 1000000;
        *blocks = quint64(megabytes);
        return true;
    });
}

ThumbnailInfo thumbnail(int kind)
{
    ThumbnailInfo info;
    info.number = kind;
    info.path = "/media/VANTOR SSD/.CellCount/x.tif";
    return info;
}

} // namespace

class TestCellCountModel : public QObject
{
    Q_OBJECT
    std::unique_ptr<ProtocolFixture> m_Fix;

    QString rawFile() const { return CellCount::rawDataPath() + "frame.raw"; }
    void fillRawData(CellCount &model)
    {
        QDir().mkpath(CellCount::rawDataPath());
        QFile file(rawFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        ThumbnailInfo info = thumbnail(0);
        model.pushThumbnail(info);
    }

private slots:
    void init() { m_Fix = std::make_unique<ProtocolFixture>(); }
    void cleanup()
    {
        MediaMonitor::setSpaceQuery(nullptr);
        m_Fix.reset();
    }

    // The checks in their order; a refusal deletes nothing, a start with clean empties the work
    // folder and the thumbnails.
    void canStart_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<float>("magnification");
        QTest::addColumn<int>("freeMb");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("code");
        const int autoCount = COUNT_MODE_AUTO, manual = COUNT_MODE_MANUAL;
        QTest::newRow("16-bit automatic") << 16 << 10.0f << -1 << autoCount << 1;
        QTest::newRow("5X") << 8 << 5.0f << 100 << autoCount << 2;
        QTest::newRow("16-bit before 5X") << 16 << 5.0f << 100 << autoCount << 1;
        QTest::newRow("4X") << 8 << 4.0f << 100 << autoCount << 0;
        QTest::newRow("5 MB") << 8 << 4.0f << 5 << autoCount << 3;
        QTest::newRow("6 MB") << 8 << 4.0f << 6 << autoCount << 0;
        QTest::newRow("query fails") << 8 << 4.0f << -1 << autoCount << 3;
        QTest::newRow("manual 16-bit 9 MB") << 16 << 20.0f << 9 << manual << 3;
        QTest::newRow("manual 16-bit 10 MB") << 16 << 20.0f << 10 << manual << 0;
        QTest::newRow("manual 8-bit 4 MB") << 8 << 20.0f << 4 << manual << 3;
        QTest::newRow("manual 8-bit 5 MB") << 8 << 20.0f << 5 << manual << 0;
    }

    void canStart()
    {
        QFETCH(int, bits);
        QFETCH(float, magnification);
        QFETCH(int, freeMb);
        QFETCH(int, mode);
        QFETCH(int, code);
        setFreeMegabytes(freeMb);
        for (bool clean : {false, true}) {
            CellCount model;
            fillRawData(model);
            QCOMPARE(int(model.canStart(bits, magnification, clean, TCountMode(mode))), code);
            const bool emptied = clean && code == 0;
            QCOMPARE(QFile::exists(rawFile()), !emptied);
            QCOMPARE(model.thumbnails().size(), size_t(emptied ? 0 : 1));
            QVERIFY(QFileInfo(CellCount::rawDataPath()).isDir());
        }
    }

    // Without the SSD folder the work folder cannot be made again: code 5, thumbnails emptied.
    void missingSsd()
    {
        setFreeMegabytes(100);
        CellCount model;
        fillRawData(model);
        QVERIFY(QDir(Paths::ssd()).removeRecursively());
        QCOMPARE(model.canStart(8, 4.0f, true, COUNT_MODE_AUTO), CELLCOUNT_ERR_RAW_DATA);
        QVERIFY(model.thumbnails().empty());
        QCOMPARE(model.deleteRawData(), -1);

        QVERIFY(QDir().mkpath(Paths::ssd()));
        QCOMPARE(model.deleteRawData(), 1); // a missing work folder counts as removed
        QVERIFY(QDir(CellCount::rawDataPath()).isEmpty());
    }

    void thumbnails()
    {
        CellCount model;
        ThumbnailInfo a = thumbnail(1), b = thumbnail(0);
        model.pushThumbnail(a);
        model.pushThumbnail(b);
        a.number = 7;
        QCOMPARE(model.thumbnails().size(), size_t(2));
        QCOMPARE(model.thumbnails()[0].number, 1); // a copy
        QCOMPARE(model.thumbnails()[1].number, 0);
        model.clearThumbnails();
        QVERIFY(model.thumbnails().empty());
    }

    void meanIntensity()
    {
        CellCount model;
        std::vector<unsigned char> frame8(1280 * 1024, 255);
        QCOMPARE(model.getAvgIntensityValue(frame8.data(), 8, 0), 255.0);
        std::vector<unsigned char> frame16(1280 * 1024 * 2);
        for (size_t i = 0; i < frame16.size(); i += 2) { // 4095 << 4, most significant byte first
            frame16[i] = 0xff;
            frame16[i + 1] = 0xf0;
        }
        QCOMPARE(model.getAvgIntensityValue(frame16.data(), 16, 0), 4095.0);
        QCOMPARE(model.getAvgIntensityValue(frame16.data(), 16, 99), 4095.0);
        frame8[0] = 0;
        QCOMPARE(model.getAvgIntensityValue(frame8.data(), 8, 0), 255.0 - 255.0 / (1280 * 1024));
    }

    // A name reads its file; without a file the fall-backs; a name that cannot be stored is
    // taken as DEFAULT.
    void loadProtocol_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<int>("dilution");
        QTest::addColumn<int>("mustDetect");
        QTest::newRow("file") << "HeLa" << "HeLa" << 5 << 220;
        QTest::newRow("no file") << "Other" << "Other" << 2 << 165;
        QTest::newRow("parent folder") << "../x" << "DEFAULT" << 9 << 165;
        QTest::newRow("too long") << QString(240, 'a') << "DEFAULT" << 9 << 165;
        QTest::newRow("empty") << "" << "DEFAULT" << 9 << 165;
    }

    void loadProtocol()
    {
        QFETCH(QString, name);
        QFETCH(QString, loaded);
        QFETCH(int, dilution);
        QFETCH(int, mustDetect);
        m_Fix->writeProtocol("HeLa", "[Dilution Factor]\nFactor=5\n[InSide_Detection]\nMustDetect_intensity=240\n");
        m_Fix->writeProtocol("DEFAULT", "[Dilution Factor]\nFactor=9\n");
        QDir().mkpath(m_Fix->dir() + "/Protocol_.."); // where "../x" would lead
        m_Fix->writeProtocol("../x", "[Dilution Factor]\nFactor=77\n");
        CellCount model;
        QCOMPARE(model.protocol().nMustDetectIntensity, 220); // Init values before any reading
        QCOMPARE(model.protocol().nOutsideKernelSize, 45);
        model.LoadProtocol(name);
        QCOMPARE(model.protocol().name, loaded);
        QCOMPARE(QString::fromStdString(model.protocol().path), m_Fix->fileOf(loaded));
        QCOMPARE(model.protocol().nDilutionFactor, dilution);
        QCOMPARE(model.protocol().nMustDetectIntensity, mustDetect);
        QCOMPARE(model.protocol().nOutsideKernelSize, 53);
    }
};

QTEST_MAIN(TestCellCountModel)
#include "tst_cellcount_model.moc"
