#include "HangBound.h"
#include "HostileImages.h"
#include "ImReaderWriter.h"
#include "TestRoot.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestImageTools)
#include "tst_image_tools.moc"
