#include "CellCount.h"
#include "DialogRunner.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ProtocolFile.h"
#include "ProtocolFixture.h"

#include <QtTest>

using Fields = QMap<QString, double>; // "group/key" -> value

namespace {

Fields fieldsOf(const nimbo_protocol_t &p)
{
    Fields f;
    for (const ProtocolFile::Key &k : ProtocolFile::keys())
        f[QString("%1/%2").arg(k.group, k.key)] = k.value(p);
    return f;
}

// The values a reader gives for a file without any key: each key's fall-back of that reader.
Fields fallBacks(ProtocolFile::Reader reader)
{
    Fields f;
    for (const ProtocolFile::Key &k : ProtocolFile::keys())
        f[QString("%1/%2").arg(k.group, k.key)] =
            QByteArray(reader == ProtocolFile::Reader::Count ? k.fallBack : k.editorFallBack).toDouble();
    return f;
}

void compareFields(const Fields &actual, const Fields &expected)
{
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QVERIFY2(qAbs(actual.value(it.key()) - it.value()) < 1e-6,
                 qPrintable(QString("%1: %2 instead of %3").arg(it.key()).arg(actual.value(it.key())).arg(it.value())));
}

} // namespace

class TestCellCountProtocol : public QObject
{
    Q_OBJECT
    std::unique_ptr<ProtocolFixture> m_Fix;

private slots:
    void init() { m_Fix = std::make_unique<ProtocolFixture>(); }
    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::clearLog();
        m_Fix.reset();
    }

    // The writer's file as another INI reader sees it: 22 keys, groups with spaces as spaces, the
    // stored precisions; both readers give the written values back at that precision.
    void writtenFileReadsBack()
    {
        const std::string path = ProtocolFile::pathOf("HeLa 2");
        QCOMPARE(QString::fromStdString(path), m_Fix->fileOf("HeLa 2"));
        const nimbo_protocol_t p = ProtocolFixture::distinctProtocol();
        QVERIFY(ProtocolFile::write(path, p));
        const QStringList expected{
            "Dilution Factor/Factor=7",          "InSide_Detection/MustDetect_intensity=159",
            "InSide_Detection/max_size=70",      "InSide_Detection/min_size=2",
            "InSide_Detection/threshold_offset=12", "Noise_Reduction/NR_kernel_size=5",
            "Noise_Reduction/OutSide_gain=3.46", "Noise_Reduction/OutSide_kernel_size=41",
            "OutSide_Detection/max_size=8888",   "OutSide_Detection/min_size=11",
            "OutSide_Detection/threshold_offset=-15", "Post_Filtering/Cluster_distance=8",
            "Post_Filtering/DeCluster_tolerance=0.4", "Post_Filtering/Roundness=40.0",
            "Post_Filtering/max_intensity=250",  "Post_Filtering/max_size=44",
            "Post_Filtering/min_intensity=9",    "Post_Filtering/min_size=6",
            "Viability/center_range=0.15",       "Viability/intensity_ratio=1.3",
            "Viability/min_intensity=95",        "Viability/whole_range=0.65"};
        QCOMPARE(ProtocolFixture::parsed(m_Fix->fileOf("HeLa 2")), expected);

        Fields stored = fieldsOf(p);
        stored["Noise_Reduction/OutSide_gain"] = 3.46;
        stored["Post_Filtering/Roundness"] = 40.0;
        stored["Post_Filtering/DeCluster_tolerance"] = 0.4;
        stored["Viability/intensity_ratio"] = 1.3;
        for (auto reader : {ProtocolFile::Reader::Count, ProtocolFile::Reader::Editor}) {
            nimbo_protocol_t back;
            back.name = "kept";
            ProtocolFile::read(path, back, reader);
            QCOMPARE(back.name, QString("kept")); // the name comes only from the file name
            compareFields(fieldsOf(back), stored);
        }
    }

    // Partial and odd files: a missing or empty key reads as the reader's fall-back, never as the
    // Init value; the page's reader caps MustDetect_intensity at 220, the full editor does not.
    void readersFallBacks_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("reader");
        QTest::addColumn<Fields>("changes"); // differences from the reader's fall-backs
        const int count = int(ProtocolFile::Reader::Count), editor = int(ProtocolFile::Reader::Editor);
        QTest::newRow("no file") << QByteArray() << count << Fields{};
        QTest::newRow("no file, editor") << QByteArray() << editor << Fields{};
        const QByteArray partial = "[Post_Filtering]\nmax_size=40\nmin_size=\n[InSide_Detection]\nMustDetect_intensity=250\n";
        QTest::newRow("partial, 250") << partial << count
                                       << Fields{{"Post_Filtering/max_size", 40}, {"InSide_Detection/MustDetect_intensity", 220}};
        QTest::newRow("partial, 250, editor") << partial << editor
                                               << Fields{{"Post_Filtering/max_size", 40}, {"InSide_Detection/MustDetect_intensity", 250}};
        QTest::newRow("12.7, text, 164") << QByteArray("[Dilution Factor]\nFactor=12.7\n[Post_Filtering]\nRoundness=abc\n"
                                                       "[InSide_Detection]\nMustDetect_intensity=164\n")
                                         << count
                                         << Fields{{"Dilution Factor/Factor", 12}, {"Post_Filtering/Roundness", 0},
                                                   {"InSide_Detection/MustDetect_intensity", 164}};
        QTest::newRow("spaced group") << QByteArray("[Dilution Factor]\nFactor=20\n[Viability]\nwhole_range=0.55\n") << count
                                      << Fields{{"Dilution Factor/Factor", 20}, {"Viability/whole_range", 0.55}};
    }

    void readersFallBacks()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, reader);
        QFETCH(Fields, changes);
        if (!text.isEmpty())
            m_Fix->writeProtocol("P", text);
        nimbo_protocol_t p; // Init values first: none may survive the reading
        ProtocolFile::read(ProtocolFile::pathOf("P"), p, ProtocolFile::Reader(reader));
        Fields expected = fallBacks(ProtocolFile::Reader(reader));
        for (auto it = changes.begin(); it != changes.end(); ++it)
            expected[it.key()] = it.value();
        compareFields(fieldsOf(p), expected);
    }

    // Init values and the two fall-back sets are three different sets.
    void initAndFallBackSets()
    {
        nimbo_protocol_t p;
        p.name = "x";
        p.path = "y";
        p.nDilutionFactor = 99;
        p.Init();
        QVERIFY(p.name.isEmpty() && p.path.empty());
        const Fields init = fieldsOf(p);
        QCOMPARE(init["OutSide_Detection/threshold_offset"], 10.0);
        QCOMPARE(init["InSide_Detection/MustDetect_intensity"], 220.0);
        QCOMPARE(init["Post_Filtering/DeCluster_tolerance"], 0.6);
        QCOMPARE(float(init["Viability/intensity_ratio"]), 1.0f);
        int differ = 0;
        const Fields count = fallBacks(ProtocolFile::Reader::Count);
        for (auto it = init.begin(); it != init.end(); ++it)
            differ += qAbs(it.value() - count[it.key()]) > 1e-6;
        QCOMPARE(differ, 12);
        QCOMPARE(fallBacks(ProtocolFile::Reader::Editor)["Post_Filtering/DeCluster_tolerance"], 0.5);
    }

    // The second engine's file: its own spaced groups, base-10 integers, Level absent, 0 or more.
    void secondEngineFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("values");
        QTest::newRow("no file") << QByteArray() << QList<int>{2, 5, 1, 60, 3, 60, 0};
        QTest::newRow("level 0") << QByteArray("[Declustering Level]\nLevel=0\n[Roundness]\nNumber=70.9\n")
                                 << QList<int>{2, 5, 1, 70, 3, 60, 0};
        QTest::newRow("level 2") << QByteArray("[Declustering Level]\nLevel=2\n[Noise Reduction]\nReduction=3\n"
                                               "[Live Cell Detection]\nValue=4\n[Min Cell Size]\nSize=5\n"
                                               "[Max Cell Size]\nSize=50\n[Dilution Factor]\nFactor=10\n")
                                 << QList<int>{10, 3, 4, 60, 5, 50, 2};
    }

    void secondEngineFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, values);
        const std::string path = ProtocolFile::secondEnginePathOf("Yeast");
        QCOMPARE(QString::fromStdString(path), m_Fix->dir() + "/Protocol_Yeast_BF.ini");
        if (!text.isEmpty()) {
            QFile file(QString::fromStdString(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }
        protocol_t p;
        ProtocolFile::readSecondEngine(path, p);
        QCOMPARE((QList<int>{p.nDilutionFactor, p.nNoiseReduction, p.nLiveCellDetection, p.nRoundness, p.nMinCellSize,
                             p.nMaxCellSize, p.nDeclusteringLevel}),
                 values);
    }

    // A write is checked: a folder in the protocol's place refuses it.
    void writeIsChecked()
    {
        QVERIFY(QDir().mkpath(m_Fix->fileOf("Taken")));
        QVERIFY(!ProtocolFile::write(ProtocolFile::pathOf("Taken"), ProtocolFixture::distinctProtocol()));
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "HeLa 2" << true;
        QTest::newRow("spaces kept") << " x " << true;
        QTest::newRow("dots") << ".." << true;
        QTest::newRow("parent") << "../x" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("colon") << "a:b" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("236 bytes") << QString(236, 'a') << true;
        QTest::newRow("237 bytes") << QString(237, 'a') << false;
        QTest::newRow("240 characters") << QString(240, 'a') << false;
        QTest::newRow("118 two-byte") << QString(118, QChar(0xe9)) << true;
        QTest::newRow("119 two-byte") << QString(119, QChar(0xe9)) << false;
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, usable);
        QCOMPARE(ProtocolFile::isUsableName(name), usable);
    }

    // The list: natural order, DEFAULT first whenever any file is there, files only, names that
    // cannot be stored left out.
    void listing()
    {
        QCOMPARE(ProtocolFile::listNames(), QStringList());
        m_Fix->writeProtocol("DEFAULT", "");
        QCOMPARE(ProtocolFile::listNames(), QStringList{"DEFAULT"});
        for (const char *name : {"cell10", "cell2", "Alpha", "cell1", "a:b"})
            m_Fix->writeProtocol(name, "");
        QVERIFY(QDir().mkpath(m_Fix->fileOf("folder")));
        QCOMPARE(ProtocolFile::listNames(), (QStringList{"DEFAULT", "Alpha", "cell1", "cell2", "cell10"}));
        QFile::remove(m_Fix->fileOf("DEFAULT"));
        QCOMPARE(ProtocolFile::listNames().value(0), QString("DEFAULT"));
    }

    void conversions()
    {
        const QList<QPair<int, QString>> digits{{155, "9"}, {157, "8"}, {159, "7"}, {161, "6"}, {163, "5"}, {165, "4"},
                                                {167, "3"}, {169, "2"}, {171, "1"}, {220, "0"}, {164, "4"}, {0, "4"}};
        for (const auto &d : digits)
            QCOMPARE(CellCount::convertLiveCellSensitivity(d.first), d.second);
        const QList<QPair<int, QString>> kernels{{1, "None"}, {3, "Low"}, {5, "Medium"}, {7, "High"}, {9, "None"}};
        for (const auto &k : kernels)
            QCOMPARE(CellCount::convertDigitalFilteringToString(k.first), k.second);
    }
};

QTEST_MAIN(TestCellCountProtocol)
#include "tst_cellcount_protocol.moc"
