#include "HangBound.h"
#include "HostileImages.h"
#include "ImReaderWriter.h"
#include "TestRoot.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <unistd.h>

namespace {

struct Run
{
    int status = -1;
    QString out, err;
};

// Runs a tool of the build through /bin/sh with shell set before it (limits, traps).
Run runTool(const QString &dir, const QString &tool, const QStringList &arguments, const QString &shell = {})
{
    QStringList quoted;
    for (const QString &a : arguments)
        quoted << "'" + a + "'";
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start("/bin/sh", {"-c", shell + " exec '" + qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/" + tool
                                        + "' " + quoted.join(' ')});
    Run run;
    if (!process.waitForFinished(kHangBoundMs)) { // a hang (a FIFO opened), not a speed bound
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

// The command-line tools on hostile files: each refuses with one line and status 2, never gives
// a result of an image read wrongly, never blocks, and the merge writes whole or not at all.
class TestImageTools : public QObject
{
    Q_OBJECT
    QString m_hostile;

private slots:
    void initTestCase()
    {
        m_hostile = HostileImages::folder();
        QVERIFY2(!m_hostile.isEmpty(), "no hostile files");
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // empty: read, status 0
        for (const char *tool : {"vantor-confluency", "vantor-count", "vantor-focus-merge"})
            for (const HostileImages::Expected &file : HostileImages::expected())
                QTest::addRow("%s %s", tool, qPrintable(file.name))
                    << file.name << (QString(tool) == "vantor-count" ? file.countReason : file.reason);
    }
    void hostileFiles()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString tool = QString(QTest::currentDataTag()).section(' ', 0, 0);
        const QString merged = "merged-" + QString(name).replace('.', '-') + ".tif";
        const QStringList arguments = tool == "vantor-focus-merge" ? QStringList{merged, name, name}
                                      : tool == "vantor-confluency" ? QStringList{"--background", "dark", name}
                                                                    : QStringList{name};
        const Run run = runTool(m_hostile, tool, arguments);
        QVERIFY2(run.status >= 0, "the tool blocked or crashed");
        QCOMPARE(run.status, reason.isEmpty() ? 0 : 2);
        if (reason.isEmpty()) {
            // 101 discs of radius 4 in 640 x 512, some touching: 1.49 %, a little more or less
            // where JPEG blurs their edges.
            const double confluency = run.out.section('=', 1, 1).section(' ', 0, 0).toDouble();
            if (tool == "vantor-confluency" && name.endsWith(".jpg"))
                QVERIFY2(confluency > 1.3 && confluency < 1.7, qPrintable(run.out));
            else if (tool == "vantor-confluency")
                QVERIFY2(run.out.startsWith("confluency=1.49"), qPrintable(run.out));
            QVERIFY2(run.err.isEmpty() || tool == "vantor-count", qPrintable(run.err));
            return;
        }
        QVERIFY2(run.err.startsWith(tool + ": ") && run.err.contains(reason), qPrintable(run.err));
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(m_hostile + "/" + merged));
    }

    // The merge's output: a name without a known format is refused before any work, and a write
    // that fails (the file-size limit, as on a full drive) keeps the older file and leaves nothing.
    void mergeOutput_data()
    {
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no extension") << "merged" << "" << "needs the extension";
        QTest::newRow("unknown extension") << "merged.gif" << "" << "needs the extension";
        QTest::newRow("write fails") << "merged.tif" << "trap '' XFSZ; ulimit -f 16;" << "cannot write merged.tif";
        QTest::newRow("PNG") << "merged.png" << "" << "";
        QTest::newRow("TIFF over an older one") << "merged.TIFF" << "" << "";
    }
    void mergeOutput()
    {
        QFETCH(QString, out);
        QFETCH(QString, shell);
        QFETCH(QString, reason);
        TestRoot root;
        QVERIFY(QFile::copy(m_hostile + "/good.tif", root.path() + "/good.tif"));
        const QString older = root.writeFile("/" + out, "older");
        const QStringList before = filesIn(root.path());
        const Run run = runTool(root.path(), "vantor-focus-merge", {out, "good.tif", "good.tif"}, shell);
        QCOMPARE(run.status, reason.isEmpty() ? 0 : 2);
        QCOMPARE(filesIn(root.path()), before);
        QFile file(older);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        if (!reason.isEmpty()) {
            QVERIFY2(run.err.startsWith("vantor-focus-merge: ") && run.err.contains(reason), qPrintable(run.err));
            QCOMPARE(written, QByteArray("older"));
            return;
        }
        ImReaderWriter tiff;
        const QSize merged = out.endsWith(".png") ? QImage(older).size()
                             : tiff.read(QFile::encodeName(older)) ? QSize(int(tiff.width), int(tiff.height))
                                                                   : QSize();
        QCOMPARE(merged, QSize(640, 512));
    }

    // The image writer behind the merge and the saves refuses a picture past what PNG or JPEG can
    // hold in a reason of its own, before any library sees it, and leaves nothing.
    void writerPastEncoderLimits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason"); // empty: written
        const QString tall = "the picture of 1 x 1000001 pixels is too large for ";
        QTest::newRow("PNG") << "tall.png" << tall + "PNG (at most 1000000 pixels a side)";
        QTest::newRow("JPEG") << "tall.jpg" << tall + "JPEG (at most 65500 pixels a side)";
        QTest::newRow("BMP") << "tall.bmp" << "";
    }
    void writerPastEncoderLimits()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        TestRoot root;
        const std::vector<uchar> column(1000001, 128);
        ImReaderWriter writer;
        QVERIFY(writer.load(column.data(), 1, quint32(column.size()), 8, 1, 1, 1, 1));
        QCOMPARE(writer.write(QFile::encodeName(root.path() + "/" + name), {}), reason.isEmpty());
        QCOMPARE(writer.errorString(), reason);
        QCOMPARE(filesIn(root.path()), reason.isEmpty() ? QStringList{name} : QStringList());
    }

    // The three tools' outputs, names and protocols: a failed write (a file-size limit as on a full
    // drive, a result name taken by a folder, standard output on a full drive) is said, with a
    // status other than 0, and leaves every older output byte for byte and nothing else; a name
    // that is not UTF-8 is read; a protocol's bad values are named with the defaults used.
    void toolEdges_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QStringList>("command"); // the tool and its arguments; '"$n"' is the shell's $n
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err"); // a pattern of the whole of standard error
        QTest::addColumn<QStringList>("replaced"); // older outputs a success replaces
        const QString limit = "ulimit -f 16;", full = "exec >/dev/full;", name = "n=$(printf 'caf\\351.tif');";
        const QString n = "'\"$n\"'", conf = "vantor-confluency", count = "vantor-count";
        const QString total = "total=\\d+ live=\\d+ dead=\\d+ viability=\\S+ concentration=\\S+\\n$";
        QTest::newRow("confluency results written")
            << "" << QStringList{conf, "--out", "res.tif", "good.tif"} << 0 << "^$"
            << QStringList{"res_count.tif", "res_result.tif"};
        QTest::newRow("confluency results past the size limit")
            << limit << QStringList{conf, "--out", "res.tif", "good.tif"} << 2
            << "^vantor-confluency: cannot write the result images: cannot write .*File too large\\n$" << QStringList();
        QTest::newRow("confluency segmentation name a folder")
            << "mkdir dir_result.tif;" << QStringList{conf, "--out", "dir.tif", "good.tif"} << 2
            << "^vantor-confluency: cannot write the result images: not a regular file.*\\n$" << QStringList();
        QTest::newRow("confluency on a full standard output")
            << full << QStringList{conf, "good.tif"} << 1
            << "^vantor-confluency: cannot write the result: No space left on device\\n$" << QStringList();
        QTest::newRow("merge past the size limit")
            << limit << QStringList{"vantor-focus-merge", "merged.tif", "good.tif", "good.tif"} << 2
            << "^vantor-focus-merge: cannot write merged.tif: .*File too large\\n$" << QStringList();
        QTest::newRow("confluency usage on a full standard output")
            << full << QStringList{conf, "--help"} << 1
            << "^vantor-confluency: cannot write the usage: No space left on device\\n$" << QStringList();
        // No summary line claims a count whose cells were lost.
        QTest::newRow("count on a full standard output")
            << full << QStringList{count, "good.tif"} << 1
            << "^vantor-count: cannot write the cells: No space left on device\\n$" << QStringList();
        QTest::newRow("two-colour count on a full standard output")
            << full << QStringList{count, "--engine", "twocolour", "rgb.tif"} << 1
            << "^vantor-count: cannot write the cells: No space left on device\\n$" << QStringList();
        // Pictures past what PNG and JPEG can hold are refused in a line of ours, no library's.
        const QString tall = "the picture of 1 x 1000001 pixels is too large for ";
        QTest::newRow("confluency results too large for PNG")
            << "" << QStringList{conf, "--out", "res.png", "tall.tif"} << 2
            << "^vantor-confluency: cannot write the result images: " + tall
                   + "PNG \\(at most 1000000 pixels a side\\)\\n$"
            << QStringList();
        QTest::newRow("confluency results too large for JPEG")
            << "" << QStringList{conf, "--out", "res.jpg", "tall.tif"} << 2
            << "^vantor-confluency: cannot write the result images: " + tall
                   + "JPEG \\(at most 65500 pixels a side\\)\\n$"
            << QStringList();
        QTest::newRow("merge too large for PNG")
            << "" << QStringList{"vantor-focus-merge", "merged.png", "tall.tif", "tall.tif"} << 2
            << "^vantor-focus-merge: cannot write merged.png: " + tall + "PNG \\(at most 1000000 pixels a side\\)\\n$"
            << QStringList();
        QTest::newRow("confluency of a name not UTF-8")
            << name << QStringList{conf, n} << 0 << "^$" << QStringList();
        QTest::newRow("count of a name not UTF-8")
            << name << QStringList{count, n} << 0 << "^" + total << QStringList();
        QTest::newRow("merge of names not UTF-8")
            << name << QStringList{"vantor-focus-merge", "merged.tif", n, n} << 0 << "^$" << QStringList{"merged.tif"};
        QTest::newRow("confluency results under a name not UTF-8")
            << name << QStringList{conf, "--out", n, "good.tif"} << 2
            << "^vantor-confluency: --out needs a file name in the system's encoding" << QStringList();
        QTest::newRow("count with a protocol of random bytes")
            << "" << QStringList{count, "--protocol", "random.ini", "good.tif"} << 0
            << "^vantor-count: random.ini holds none of the keys the count reads; the defaults are used: "
               "\\[Dilution Factor\\] Factor=2, \\[InSide_Detection\\] MustDetect_intensity=165, "
               "\\[Post_Filtering\\] Roundness=10, "
               "\\[Post_Filtering\\] min_size=5, \\[Post_Filtering\\] max_size=60\\n" + total
            << QStringList();
        QTest::newRow("finder with a protocol of random bytes")
            << "" << QStringList{count, "--engine", "finder4", "--protocol", "random.ini", "good.tif"} << 0
            << "^vantor-count: random.ini holds none of the keys the count reads; the defaults are used: "
               "\\[Dilution Factor\\] Factor=2, \\[Noise Reduction\\] Reduction=5, .*"
               "\\[Declustering Level\\] Level=0\\n"
                   + total
            << QStringList();
        // A name holding control characters is shown escaped: the reason stays one line. So is one
        // with DEL and a C1 control, the bidirectional marks, embeddings and isolates that reorder a
        // terminal's line, the line and paragraph separators that split it, and a backslash.
        const QString c = "'\"$c\"'";
        const struct
        {
            const char *kind;
            QString shell, shown;
        } names[] = {{"controls", "c=$(printf 'a\\nb\\033.tif');", "a\\\\nb\\\\x1b\\.tif"},
                     {"marks and separators",
                      "export LC_ALL=C.UTF-8; c=$(printf 'a\\177b\\302\\205c\\342\\200\\256d\\342\\200\\217"
                      "e\\342\\201\\246f\\342\\201\\251g\\342\\200\\250h\\342\\200\\251i\\\\j.tif');",
                      "a\\\\x7fb\\\\x85c\\\\u202ed\\\\u200fe\\\\u2066f\\\\u2069g\\\\u2028h\\\\u2029i\\\\\\\\j\\.tif"}};
        for (const auto &name : names) {
            QTest::addRow("confluency of a name with %s", name.kind)
                << name.shell << QStringList{conf, c} << 2
                << "^vantor-confluency: cannot read the image " + name.shown + ": [^\\n]*\\n$" << QStringList();
            QTest::addRow("count of a name with %s", name.kind)
                << name.shell << QStringList{count, c} << 2
                << "^vantor-count: cannot read " + name.shown + " as a TIFF image: [^\\n]*\\n$" << QStringList();
            QTest::addRow("merge of a name with %s", name.kind)
                << name.shell << QStringList{"vantor-focus-merge", "merged.tif", c, c} << 2
                << "^vantor-focus-merge: cannot read " + name.shown + ": [^\\n]*\\n$" << QStringList();
        }
        QTest::newRow("count with bad and empty values")
            << "" << QStringList{count, "--protocol", "bad.ini", "good.tif"} << 0
            << "^vantor-count: bad.ini: \\[Dilution Factor\\] Factor is empty; the default 2 is used\\n"
               "vantor-count: bad.ini: \\[InSide_Detection\\] MustDetect_intensity=300 is not a number from 0 to 255; "
               "the default 165 is used\\n"
               "vantor-count: bad.ini: \\[Post_Filtering\\] min_size=\\?\\?x is not a number from 0 to 99998; "
               "the default 5 is used\\n"
            + total << QStringList();
    }
    void toolEdges()
    {
        QFETCH(QString, shell);
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QString, err);
        QFETCH(QStringList, replaced);
        TestRoot root;
        QVERIFY(QFile::copy(m_hostile + "/good.tif", root.path() + "/good.tif"));
        const QByteArray raw = QFile::encodeName(root.path()) + "/caf\xe9.tif";
        QVERIFY(::link(QFile::encodeName(root.path() + "/good.tif").constData(), raw.constData()) == 0);
        const auto unlinkRaw = qScopeGuard([&] { ::unlink(raw.constData()); }); // a name QDir cannot remove
        QByteArray random(4096, '\0');
        QRandomGenerator(55).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        root.writeFile("/random.ini", random);
        root.writeFile("/bad.ini", "[Dilution Factor]\nFactor=\n[InSide_Detection]\nMustDetect_intensity=300\n"
                                   "[Post_Filtering]\nRoundness=20\nmin_size=\x01\x02x\n");
        // One pixel wide and a little over a million high: more than PNG takes, little to analyse.
        std::vector<uchar> column(1000001);
        for (size_t i = 0; i < column.size(); ++i)
            column[i] = uchar(i % 7 == 0 ? 220 : 30);
        ImReaderWriter tall;
        QVERIFY(tall.load(column.data(), 1, quint32(column.size()), 8, 1, 1, 1, 1)
                && tall.write(QFile::encodeName(root.path() + "/tall.tif"), {}));
        // A colour frame for the two-colour engine.
        const QImage rgb = QImage(m_hostile + "/good.png").convertToFormat(QImage::Format_RGB888);
        ImReaderWriter colour;
        QVERIFY(!rgb.isNull() && rgb.bytesPerLine() == rgb.width() * 3);
        QVERIFY(colour.load(rgb.constBits(), quint32(rgb.width()), quint32(rgb.height()), 8, 3, 1, 2, 1)
                && colour.write(QFile::encodeName(root.path() + "/rgb.tif"), {}));
        const QStringList outputs = {"res_count.tif", "res_result.tif", "dir_count.tif", "merged.tif"};
        for (const QString &output : outputs)
            root.writeFile("/" + output, "older " + output.toUtf8());
        const QStringList before = filesIn(root.path());
        const Run run = runTool(root.path(), command.front(), command.mid(1), shell);
        QVERIFY2(QRegularExpression(err).match(run.err).hasMatch(), qPrintable(run.err));
        QCOMPARE(run.status, status);
        QCOMPARE(filesIn(root.path()), before);
        for (const QString &output : outputs) {
            QFile file(root.path() + "/" + output);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const bool older = file.readAll() == "older " + output.toUtf8();
            QVERIFY2(older != replaced.contains(output), qPrintable(output));
        }
    }
};

QTEST_GUILESS_MAIN(TestImageTools)
#include "tst_image_tools.moc"
