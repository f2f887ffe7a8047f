#include "CSVReaderWriter.h"
#include "TestRoot.h"

#include <QProcess>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Rows and the set of column counts as Python's csv module reads the file.
QString pythonReadBack(const QString &path)
{
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c", "import csv,sys\nrows=list(csv.reader(open(sys.argv[1],newline='')))\n"
                        "print(len(rows), sorted(set(map(len,rows))))",
                  path});
    python.waitForFinished(30000);
    return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}

const int kMin[4] = {1, 2, 3, 4};
const int kMax[4] = {10, 20, 30, 40};
const float kMean[4] = {5.25f, 6.5f, 7.0f, 8.04f};
const float kStd[4] = {0.5f, 1.0f, 1.5f, 2.0f};

} // namespace

class TestCSVReaderWriter : public QObject
{
    Q_OBJECT
private slots:
    void rowsAndFile_data()
    {
        QTest::addColumn<int>("dataRows");
        QTest::addColumn<bool>("erased");
        QTest::addColumn<int>("lineFeeds");
        QTest::addColumn<QString>("python");
        QTest::newRow("new table") << 0 << false << 0 << "1 [19]";
        QTest::newRow("two rows") << 2 << false << 2 << "3 [19]";
        QTest::newRow("after erase") << 2 << true << 0 << "1 [19]";
        QTest::newRow("1000 rows") << 1000 << false << 1000 << "1001 [19]";
    }
    void rowsAndFile()
    {
        QFETCH(int, dataRows);
        QFETCH(bool, erased);
        TestRoot root;
        CSVReaderWriter csv;
        for (int i = 0; i < dataRows; ++i)
            csv.fillDataFieldNew(-1, "Line", 12.34f, 0, 0, 0, kMin, kMax, kMean, kStd, 0);
        if (erased)
            csv.erase();
        const QString path = root.path() + "/table.csv";
        QVERIFY(csv.write(path.toUtf8().constData()));
        const QByteArray bytes = readAll(path);
        QTEST(int(bytes.count('\n')), "lineFeeds");
        QVERIFY(!bytes.endsWith('\n'));
        QVERIFY(!bytes.contains('\r'));
        QVERIFY(bytes.startsWith(CSVReaderWriter::defaultHeader));
        QTEST(pythonReadBack(path), "python");
        QCOMPARE(csv.fileSize(), float((dataRows * !erased + 1) * 0.000126));
    }

    void fileSizeOfAThousandRows()
    {
        CSVReaderWriter csv;
        for (int i = 0; i < 1000; ++i)
            csv.fillCSVData("x");
        QCOMPARE(QString::number(double(csv.fileSize()), 'f', 6), QString("0.126126"));
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("tool");
        QTest::addColumn<int>("lengthUnit");
        QTest::addColumn<int>("areaUnit");
        QTest::addColumn<QByteArray>("row");
        QTest::newRow("line um") << QByteArray("Line") << 0 << 0 << QByteArray("Line,12.3 um,45.7 um^2,3,250,17.1,2.0");
        QTest::newRow("mm") << QByteArray("Rectangle") << 1 << 1 << QByteArray("Rectangle,12.3 mm,45.7 mm^2,3,250,17.1,2.0");
        QTest::newRow("pixel") << QByteArray("Ellipse") << 2 << 2 << QByteArray("Ellipse,12.3 pixel,45.7 pixel^2,3,250,17.1,2.0");
        QTest::newRow("angle has no unit") << QByteArray("Angle") << 0 << 0 << QByteArray("Angle,12.3 um,90.5,3,250,17.1,2.0");
    }
    void fields()
    {
        QFETCH(QByteArray, tool);
        QFETCH(int, lengthUnit);
        QFETCH(int, areaUnit);
        CSVReaderWriter csv;
        csv.fillDataField(tool, 12.34f, lengthUnit, 45.67f, areaUnit, 3, 250, 17.06f, 2.0f, 90.5f);
        QTEST(csv.lastRow, "row");
        QCOMPARE(csv.row(1), csv.lastRow);
    }

    void editing()
    {
        CSVReaderWriter csv;
        csv.fillCSVData("a");
        csv.fillCSVData("b");
        csv.fillDataFieldNew(1, "Polygon", 1, 2, 3, 2, kMin, kMax, kMean, kStd, 0); // replaces "a"
        QCOMPARE(csv.row(1), QByteArray("Polygon,1.0 pixel,3.0 pixel^2,1,10,5.2,0.5,2,20,6.5,1.0,3,30,7.0,1.5,4,40,8.0,2.0"));
        csv.removeCSVData(3); // past the last: nothing
        csv.removeCSVData(-1);
        QCOMPARE(csv.rowCount(), 3);
        csv.removeCSVData(1);
        QCOMPARE(csv.row(1), QByteArray("b"));
        csv.setHeader("File,ConConfluency,Count,Threshold");
        QCOMPARE(csv.row(0), QByteArray("File,ConConfluency,Count,Threshold"));
        CSVReaderWriter copy(csv);
        copy.erase();
        QCOMPARE(copy.rowCount(), 1);
        QCOMPARE(copy.row(0), QByteArray("File,ConConfluency,Count,Threshold"));
        QCOMPARE(csv.rowCount(), 2);
    }

    // A write that cannot complete returns false and leaves nothing (an older file stays whole).
    void failedWriteLeavesNothing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("missing folder") << "/gone/table.csv";
        QTest::newRow("target is a folder") << "/folder";
    }
    void failedWriteLeavesNothing()
    {
        QFETCH(QString, target);
        TestRoot root;
        root.makeDir("/folder");
        CSVReaderWriter csv;
        csv.fillCSVData("row");
        QVERIFY(!csv.write((root.path() + target).toUtf8().constData()));
        QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"folder"});
        QVERIFY(QDir(root.path() + "/folder").isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
};

QTEST_GUILESS_MAIN(TestCSVReaderWriter)
#include "tst_csvreaderwriter.moc"
