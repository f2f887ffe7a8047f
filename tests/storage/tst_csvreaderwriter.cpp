#include "CSVReaderWriter.h"
#include "HangBound.h"
#include "PythonCsv.h"
#include "TestRoot.h"

#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {
const int kMin[4] = {1, 2, 3, 4}, kMax[4] = {10, 20, 30, 40};
const float kMean[4] = {5.25f, 6.5f, 7.0f, 8.04f}, kStd[4] = {0.5f, 1.0f, 1.5f, 2.0f};
}

class TestCSVReaderWriter : public QObject
{
    Q_OBJECT
private slots:
    // Rows joined by LF, none after the last; Python's csv reads every example as 19 columns.
    void examplesReadBack()
    {
        TestRoot root;
        // Measurement rows (negative: that many, then erased) and the size in MB.
        const QList<QPair<int, QString>> examples = {{0, "0.000126"}, {2, "0.000378"}, {-2, "0.000126"}, {1000, "0.126126"}};
        QStringList paths, shapes;
        for (const auto &example : examples) {
            CSVReaderWriter csv;
            for (int i = 0; i < std::abs(example.first); ++i)
                csv.fillDataFieldNew(-1, "Line", 12.34f, 0, 0, 0, kMin, kMax, kMean, kStd, 0);
            if (example.first < 0)
                csv.erase();
            paths << root.path() + QString("/%1.csv").arg(paths.size());
            QVERIFY(csv.write(paths.last().toUtf8().constData()));
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QCOMPARE(int(bytes.count('\n')), csv.rowCount() - 1);
            QVERIFY(!bytes.endsWith('\n') && !bytes.contains('\r'));
            QCOMPARE(QString::number(double(csv.fileSize()), 'f', 6), example.second);
            shapes << QString("%1 [19]").arg(csv.rowCount());
        }
        QCOMPARE(pythonCsvShapes(paths), shapes);
    }

    // Header cells quoted where a name needs it, as Python's csv reads them back; an unknown
    // length or area (no objective) written "N/A".
    void quotedFieldsAndUnknownValues()
    {
        TestRoot root;
        const QStringList names{"GFP", "DA,PI", "say \"hi\"", "two\nlines"};
        CSVReaderWriter csv;
        QByteArray header;
        for (const QString &name : names)
            header += (header.isEmpty() ? "" : ",") + CSVReaderWriter::field(name);
        csv.setHeader(header);
        csv.fillDataField("Ellipse", std::nanf(""), 0, std::nanf(""), 1, 3, 250, 17.06f, 2.0f, 0);
        QCOMPARE(csv.row(1), QByteArray("Ellipse,N/A,N/A,3,250,17.1,2.0"));
        const QString path = root.path() + "/names.csv";
        QVERIFY(csv.write(path.toUtf8().constData()));
        QProcess python;
        python.start("/usr/bin/python3", {"-c", "import csv,sys\nprint(repr(next(csv.reader(open(sys.argv[1],newline='')))))", path});
        QVERIFY(python.waitForFinished(kHangBoundMs));
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
                 QString("['GFP', 'DA,PI', 'say \"hi\"', 'two\\nlines']"));
    }

    // Fields with their units (an angle has no unit), replacing, removing (out-of-range indexes do
    // nothing), a new header, copies.
    void editing()
    {
        CSVReaderWriter csv;
        csv.fillDataField("Line", 12.34f, 1, 45.67f, 1, 3, 250, 17.06f, 2.0f, 90.5f);
        csv.fillDataField("Angle", 12.34f, 0, 45.67f, 0, 3, 250, 17.06f, 2.0f, 90.5f);
        const QByteArray angle = "Angle,12.3 um,90.5,3,250,17.1,2.0";
        QCOMPARE(csv.rows.mid(1), QVector<QByteArray>({"Line,12.3 mm,45.7 mm^2,3,250,17.1,2.0", angle}));
        csv.fillDataFieldNew(1, "Polygon", 1, 2, 3, 2, kMin, kMax, kMean, kStd, 0);
        QCOMPARE(csv.row(1), QByteArray("Polygon,1.0 pixel,3.0 pixel^2,1,10,5.2,0.5,2,20,6.5,1.0,3,30,7.0,1.5,4,40,8.0,2.0"));
        for (int index : {3, -1, 1})
            csv.removeCSVData(index);
        QCOMPARE(csv.rows, QVector<QByteArray>({CSVReaderWriter::defaultHeader, angle}));
        csv.setHeader("File,ConConfluency,Count,Threshold");
        CSVReaderWriter copy(csv);
        copy.erase();
        QCOMPARE(copy.rows, QVector<QByteArray>({"File,ConConfluency,Count,Threshold"}));
        QCOMPARE(csv.rowCount(), 2);
    }

    // A write that cannot complete returns false and leaves nothing behind: a missing folder, a
    // folder in the way, a disk that fills up (a file-size limit stands in for it).
    void failedWriteLeavesNothing()
    {
        TestRoot root;
        root.makeDir("/folder");
        CSVReaderWriter csv;
        for (int i = 0; i < 100; ++i)
            csv.fillCSVData(QByteArray(100, 'x'));
        rlimit limit, saved;
        getrlimit(RLIMIT_FSIZE, &saved);
        limit = {4096, saved.rlim_max};
        signal(SIGXFSZ, SIG_IGN);
        for (const char *target : {"/gone/table.csv", "/folder", "/full.csv"}) {
            setrlimit(RLIMIT_FSIZE, &limit);
            const bool written = csv.write((root.path() + target).toUtf8().constData());
            setrlimit(RLIMIT_FSIZE, &saved);
            QVERIFY2(!written, target);
        }
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(root.path()).entryList(all), QStringList{"folder"});
        QVERIFY(QDir(root.path() + "/folder").isEmpty(all));
    }
};

QTEST_GUILESS_MAIN(TestCSVReaderWriter)
#include "tst_csvreaderwriter.moc"
