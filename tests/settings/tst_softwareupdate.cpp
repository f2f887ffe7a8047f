#include "Paths.h"
#include "SimulatedSystemActions.h"
#include "SoftwareUpdateThread.h"
#include "TestRoot.h"
#include "UpdatePackage.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace UpdatePackage;

class TestSoftwareUpdate : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<QTemporaryDir> m_outside;
    SimulatedSystemActions m_actions;

    QString real(const QString &fixed) const { return Paths::path(fixed); }
    QString nimbo(const QString &name) const { return real("/root/Microscope/NIMBO/" + name); }

    // A package written onto the simulated USB drive; returns its path.
    QString package(const QString &kind, const QString &fileName, const QString &program = QString())
    {
        const QString path = m_root->makeDir("/media/USB1") + "/" + fileName;
        if (!write(kind, path, m_outside->path(), program))
            qWarning() << "package writer failed for" << kind;
        return path;
    }

    bool update(const QString &path, const QString &version)
    {
        SoftwareUpdateThread thread;
        thread.setUpdateFileInfo(path, version);
        QSignalSpy done(&thread, &SoftwareUpdateThread::completeSoftwareUpdate);
        thread.start();
        if (!done.wait(120000))
            return false;
        thread.wait();
        QCoreApplication::processEvents();
        [&] { QCOMPARE(done.count(), 1); }();
        return done.value(0).value(0).toBool();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_outside = std::make_unique<QTemporaryDir>();
        SystemActions::setInstance(&m_actions);
        m_actions.setHandler({});
        m_actions.clearCalls();
        // The installation as the instrument has it, with an FFmpeg link to the machine's program.
        m_root->writeFile("/root/Microscope/NIMBO/vantors_1_0_0", "program 1.0.0");
        QFile::link("./vantors_1_0_0", nimbo("vantors"));
        m_root->writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[NIMBO]\nVersion=1.0.0\nCurrentSW=vantors_1_0_0\n");
        m_root->writeFile("/root/Microscope/NIMBO/Protocol_DEFAULT_NIMBO.ini", "[Protocol]\nName=default old\n");
        m_root->writeFile("/root/Microscope/NIMBO/Protocol_Mine_NIMBO.ini", "[Protocol]\nName=the user's\n");
        m_root->writeFile("/root/Microscope/restore/vantors_0_9_0.vts", "older backup");
        m_root->makeDir("/root/Microscope/FFmpeg");
        m_root->makeDir("/usr/lib");
        QFile ffmpeg(m_outside->path() + "/ffmpeg");
        ffmpeg.open(QIODevice::WriteOnly);
        ffmpeg.write("the machine's ffmpeg");
        ffmpeg.close();
        QFile::link(m_outside->path() + "/ffmpeg", real("/root/Microscope/FFmpeg/ffmpeg"));
        QFile victim(m_outside->path() + "/victim");
        victim.open(QIODevice::WriteOnly);
        victim.write("outside");
    }

    void cleanup()
    {
        SystemActions::setInstance(nullptr);
        m_root.reset();
        m_outside.reset();
    }

    void fullPackageUsesEveryRule()
    {
        const QString path = package("full", "vantors_2_1_0.vts");
        const QMap<QString, QByteArray> outside = snapshot(m_outside->path());
        QVERIFY(update(path, "2_1_0"));

        QCOMPARE(runTool("readlink", {nimbo("vantors")}).trimmed(), QByteArray("./vantors_2_1_0"));
        QCOMPARE(runTool("readlink", {real("/root/Microscope/microscope")}).trimmed(), QByteArray("./microscope_3_0_0"));
        QCOMPARE(runTool("stat", {"-c", "%a", nimbo("vantors_2_1_0")}).trimmed(), QByteArray("755"));
        QVERIFY(QFile::exists(nimbo("vantors_1_0_0")));
        auto content = [](const QString &file) {
            QFile f(file);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        };
        QVERIFY(content(nimbo("Protocol_DEFAULT_NIMBO.ini")).contains("default new"));
        QVERIFY(content(nimbo("Protocol_Mine_NIMBO.ini")).contains("the user's"));
        QVERIFY(QFileInfo::exists(real("/usr/lib/libvantorav.so.1")));
        QCOMPARE(content(real("/root/Microscope/License.txt")), QByteArray("license text"));
        QVERIFY(!QFileInfo::exists(real("/root/Microscope/sub")));
        QVERIFY(!QFileInfo::exists(real("/root/Microscope/nested.txt")));
        QVERIFY(!QFileInfo::exists(real("/root/Microscope/temp")));
        // The ffmpeg link is replaced by the package's program; the machine's program is untouched.
        QVERIFY(!QFileInfo(real("/root/Microscope/FFmpeg/ffmpeg")).isSymLink());
        QVERIFY(content(real("/root/Microscope/FFmpeg/ffmpeg")).startsWith("ffmpeg new"));
        QCOMPARE(snapshot(m_outside->path()), outside);

        QCOMPARE(versionKeys(), QStringList({"2.1.0", "vantors_2_1_0"}));
        const QString backup = real("/root/Microscope/restore/vantors_1_0_0.vts");
        int code = -1;
        runTool("gzip", {"-t", backup}, &code);
        QCOMPARE(code, 0);
        const QByteArray members = runTool("tar", {"-tzf", backup});
        QVERIFY(members.contains("root/Microscope/NIMBO/vantors_1_0_0\n"));
        QVERIFY(!members.contains("vantors_2_1_0"));
        QVERIFY(!QFileInfo::exists(real("/root/Microscope/restore/vantors_0_9_0.vts")));
        QCOMPARE(QDir(real("/root/Microscope/restore")).entryList(QDir::Files | QDir::Hidden).size(), 1);

        // Every tar line names paths inside the sandbox only.
        for (const QString &call : m_actions.calls()) {
            if (!call.startsWith("tar "))
                continue;
            for (const QString &arg : call.mid(4).split(' ')) {
                if (arg.startsWith('/'))
                    QVERIFY2(arg == Paths::root() || arg.startsWith(Paths::root() + "/"), qPrintable(call));
            }
        }
        QVERIFY(m_actions.calls().contains("sync"));
    }

    void refusedPackagesChangeNothing_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"dotdot", "abs", "inner-dotdot", "link-root", "link-up", "through-link", "device",
                                 "hardlink-out", "truncated", "flipped", "noprogram", "subprogram", "badlib"})
            QTest::newRow(kind) << kind;
    }

    void refusedPackagesChangeNothing()
    {
        QFETCH(QString, kind);
        const QString path = package(kind, "vantors_2_1_0.vts");
        const QMap<QString, QByteArray> before = snapshot(Paths::root());
        const QMap<QString, QByteArray> outside = snapshot(m_outside->path());
        QVERIFY(!update(path, "2_1_0"));
        QCOMPARE(snapshot(Paths::root()), before);
        QCOMPARE(snapshot(m_outside->path()), outside);
        QVERIFY(!QFileInfo::exists(QDir::tempPath() + "/i35-evil"));
    }

    void sameNamedProgram_data()
    {
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<bool>("result");
        QTest::newRow("identical") << QByteArray("program vantors_2_1_0") << true;
        QTest::newRow("different") << QByteArray("program 2.1.0 of another build") << false;
    }

    void sameNamedProgram()
    {
        QFETCH(QByteArray, installed);
        QFETCH(bool, result);
        m_root->writeFile("/root/Microscope/NIMBO/vantors_2_1_0", installed);
        const QString path = package("only", "vantors_2_1_0.vts");
        const QMap<QString, QByteArray> before = snapshot(Paths::root());
        QCOMPARE(update(path, "2_1_0"), result);
        if (result) {
            QCOMPARE(runTool("readlink", {nimbo("vantors")}).trimmed(), QByteArray("./vantors_2_1_0"));
            QCOMPARE(versionKeys(), QStringList({"2.1.0", "vantors_2_1_0"}));
        } else {
            QCOMPARE(snapshot(Paths::root()), before);
        }
    }

    void leftoversOfAnEarlierRunAreNotInstalled()
    {
        m_root->writeFile("/root/Microscope/temp/stale.txt", "left behind");
        m_root->writeFile("/root/Microscope/temp/package/stale.txt", "left behind");
        QVERIFY(update(package("only", "vantors_2_1_0.vts"), "2_1_0"));
        QVERIFY(!QFileInfo::exists(real("/root/Microscope/stale.txt")));
        QVERIFY(!QFileInfo::exists(real("/root/Microscope/temp")));
    }

    void capitalSuffix()
    {
        const QString path = package("only", "VANTORS_2_1_0.VTS");
        QVERIFY(update(path, "2_1_0"));
        QCOMPARE(runTool("readlink", {nimbo("vantors")}).trimmed(), QByteArray("./VANTORS_2_1_0"));
        QCOMPARE(versionKeys(), QStringList({"2.1.0", "vantors_2_1_0"}));
    }

    void failedBackupChangesNothing()
    {
        const QString path = package("full", "vantors_2_1_0.vts");
        m_actions.setHandler([](const QString &action, const QStringList &args) -> std::optional<ProcessResult> {
            if (action == "tar" && args.contains("-czf")) {
                // The disk filled up: tar leaves an archive behind and reports the failure.
                ProcessResult full = ProcessRunner::run("tar", args, 60000);
                full.exitCode = 2;
                return full;
            }
            return std::nullopt;
        });
        const QMap<QString, QByteArray> before = snapshot(Paths::root());
        QVERIFY(!update(path, "2_1_0"));
        QCOMPARE(snapshot(Paths::root()), before);
    }
};

QTEST_MAIN(TestSoftwareUpdate)
#include "tst_softwareupdate.moc"
