#include "FdPath.h"
#include "FileCopier.h"
#include "FileOperationProgressDlg.h"
#include "FileOperationThread.h"
#include "Paths.h"
#include "SaveNaming.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Every syncfs of the process comes here: while a watcher is set it is told the folder flushed
// and answers in the kernel's place (0, or -1 with its errno); otherwise the call goes on.
namespace {
std::function<int(const QString &)> g_syncfsWatch;
} // namespace

extern "C" int syncfs(int fd) noexcept
{
    if (!g_syncfsWatch)
        return int(::syscall(SYS_syncfs, fd));
    const int error = g_syncfsWatch(QFile::decodeName(pathOfFd(fd)));
    if (error == 0)
        return int(::syscall(SYS_syncfs, fd));
    errno = error;
    return -1;
}

namespace {

const QString ssdTable = "/dev/sda1 /media/VANTOR\\040SSD ext4 rw 0 0\n";
const QString usbTable = "/dev/sdb1 /media/USB1 vfat rw 0 0\n";

// A sandbox with the SSD and one USB drive mounted, and a worker whose signals are recorded in
// the worker thread as they are sent ("code bytes source -> target").
struct Drives
{
    TestRoot root;
    SimulatedSystemActions actions;
    FileOperationThread worker;
    QStringList signalsSent;
    std::function<void(int)> afterSignal; // runs in the worker thread after each signal

    Drives()
    {
        SystemActions::setInstance(&actions);
        root.makeDir("/media/VANTOR SSD");
        root.makeDir("/media/USB1");
        mountTable(true);
        QObject::connect(&worker, &FileOperationThread::signalFileOperating, &worker,
                         [this](int code, qint64 bytes, const QString &source, const QString &target) {
                             signalsSent << QString("%1 %2 %3 -> %4").arg(code).arg(bytes).arg(source, target);
                             if (afterSignal)
                                 afterSignal(signalsSent.size());
                         },
                         Qt::DirectConnection);
    }
    ~Drives() { SystemActions::setInstance(nullptr); }

    void mountTable(bool withUsb) const { root.writeFile("/etc/mtab", (ssdTable + (withUsb ? usbTable : "")).toUtf8()); }
    QString ssd(const QString &rel = QString()) const { return Paths::path("/media/VANTOR SSD") + (rel.isEmpty() ? "" : "/" + rel); }
    QString usb(const QString &rel = QString()) const { return Paths::path("/media/USB1") + (rel.isEmpty() ? "" : "/" + rel); }
    QString file(const QString &path, int bytes, char seed = 'a') const
    {
        QByteArray content(bytes, Qt::Uninitialized);
        for (int i = 0; i < bytes; ++i)
            content[i] = char(seed + i % 23);
        return root.writeFile(Paths::fixedPath(path), content);
    }
    bool run(int mode, const QStringList &sources, const QString &destination = QString())
    {
        signalsSent.clear();
        worker.m_bStop = false;
        worker.setLocations(sources, destination);
        worker.m_Mode = mode;
        worker.start();
        return worker.wait(60000);
    }
    int syncs() const { return actions.calls().count("sync"); }
};

// Every file below folder, hidden ones included, as "relative path:md5" (links as "path@").
QStringList tree(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString rel = QDir(folder).relativeFilePath(path);
        if (info.isSymLink()) {
            out << rel + "@";
        } else if (info.isFile()) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            out << rel + ":" + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex().left(8);
        } else {
            out << rel + "/";
        }
    }
    out.sort();
    return out;
}

QStringList names(const QString &folder)
{
    QStringList out = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    out.sort();
    return out;
}

} // namespace

class TestFileOperation : public QObject
{
    Q_OBJECT
private slots:
    void countedNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("counted");
        QTest::newRow("first") << "/d/cells.tif" << 0 << "/d/cells.tif";
        QTest::newRow("last suffix") << "/d/a.b.tif" << 1 << "/d/a.b(1).tif";
        QTest::newRow("no suffix, no dot") << "/d/notes" << 2 << "/d/notes(2)";
    }
    void countedNames()
    {
        QFETCH(QString, path);
        QFETCH(int, n);
        QFETCH(QString, counted);
        QCOMPARE(SaveNaming::countedFilePath(path, n), counted);
    }

    // Names never replace: files get "(n)" before their last suffix, folders grow "(n)" on the
    // last attempt; a move into the folder it lies in does nothing.
    void namesNeverReplace()
    {
        Drives d;
        const QString a = d.file(d.ssd("Data/a.b.tif"), 10);
        const QString notes = d.file(d.ssd("Data/notes"), 3);
        for (int i = 0; i < 2; ++i)
            QVERIFY(d.run(FileOperationThread::Copy, {a, notes}, d.ssd("Data")));
        QCOMPARE(names(d.ssd("Data")), QStringList({"a.b(1).tif", "a.b(2).tif", "a.b.tif", "notes", "notes(1)", "notes(2)"}));
        QCOMPARE(d.signalsSent.value(0), QString("1 10 /VANTOR SSD/Data/a.b.tif -> /VANTOR SSD/Data/a.b(2).tif"));

        for (int i = 0; i < 2; ++i)
            QVERIFY(d.run(FileOperationThread::Copy, {d.ssd("Data")}, d.ssd()));
        QCOMPARE(names(d.ssd()), QStringList({"Data", "Data(1)", "Data(1)(2)"}));
        QCOMPARE(tree(d.ssd("Data(1)(2)")), tree(d.ssd("Data")));

        const QStringList before = tree(d.ssd());
        QVERIFY(d.run(FileOperationThread::Move, {a}, d.ssd("Data")));
        QVERIFY(d.run(FileOperationThread::Move, {d.ssd("Data(1)")}, d.ssd()));
        QCOMPARE(tree(d.ssd()), before);
        QVERIFY(d.signalsSent.isEmpty());

        // A moved file meeting its name keeps both; the source goes.
        const QString other = d.file(d.usb("a.b.tif"), 7, 'x');
        QVERIFY(d.run(FileOperationThread::Move, {other}, d.ssd("Data")));
        QVERIFY(!QFile::exists(other));
        QCOMPARE(QFileInfo(d.ssd("Data/a.b(3).tif")).size(), 7);
        QCOMPARE(d.signalsSent, QStringList({"2 7 /USB1/a.b.tif -> /VANTOR SSD/Data/a.b(3).tif"}));
        QVERIFY(d.worker.failures().isEmpty());
    }

    // A folder: its files before its subfolders, depth first; hidden files and links stay behind
    // (a link to its own folder is no loop); a move removes what it copied and keeps the rest.
    void folderWalkHiddenAndLinks()
    {
        Drives d;
        d.file(d.ssd("Data/one.tif"), 100);
        d.file(d.ssd("Data/Sub/two.tif"), 200);
        d.file(d.ssd("Data/.hidden"), 5);
        QVERIFY(QFile::link(d.ssd("Data"), d.ssd("Data/Sub/loop")));
        const QStringList source = tree(d.ssd("Data"));
        QVERIFY(d.run(FileOperationThread::Copy, {d.ssd("Data")}, d.usb()));
        QCOMPARE(d.signalsSent, QStringList({"1 100 /VANTOR SSD/Data/one.tif -> /USB1/Data/one.tif",
                                              "1 200 /VANTOR SSD/Data/Sub/two.tif -> /USB1/Data/Sub/two.tif"}));
        QStringList visible = source;
        visible.removeOne(source.filter(".hidden").first());
        visible.removeOne("Sub/loop@");
        QCOMPARE(tree(d.usb("Data")), visible);
        QCOMPARE(d.worker.writtenTargets(), QStringList({d.usb("Data/one.tif"), d.usb("Data/Sub/two.tif")}));

        QVERIFY(d.run(FileOperationThread::Move, {d.ssd("Data")}, d.usb()));
        QCOMPARE(tree(d.ssd("Data")), QStringList({source.filter(".hidden").first(), "Sub/", "Sub/loop@"}));
        QCOMPARE(names(d.usb()), QStringList({"Data", "Data(1)"}));
        QCOMPARE(tree(d.usb("Data(1)")), visible);
        QCOMPARE(d.syncs(), 0); // copies and moves leave the system's sync alone

        // Delete: a link goes without its target being touched.
        QVERIFY(QFile::link(d.usb("Data"), d.ssd("Data/Sub/away")));
        QVERIFY(d.run(FileOperationThread::Delete, {d.ssd("Data")}));
        QVERIFY(!QFileInfo::exists(d.ssd("Data")));
        QCOMPARE(names(d.usb("Data")), QStringList({"Sub", "one.tif"}));
    }

    // Delete: one signal per chosen item (a folder with its entry's own size); USB files are
    // synced one by one, SSD files and folders never.
    void deleteSignalsAndSyncs()
    {
        Drives d;
        const QString ssdFile = d.file(d.ssd("a.tif"), 11);
        const QString usbFile = d.file(d.usb("b.tif"), 12);
        const QString usbFile2 = d.file(d.usb("c.tif"), 13);
        d.file(d.usb("Folder/x.tif"), 14);
        const qint64 folderSize = QFileInfo(d.usb("Folder")).size();
        QVERIFY(d.run(FileOperationThread::Delete, {ssdFile, usbFile, usbFile2, d.usb("Folder"), d.usb("gone.tif")}));
        QCOMPARE(d.signalsSent, QStringList({"4 11 /VANTOR SSD/a.tif -> ", "4 12 /USB1/b.tif -> ",
                                              "4 13 /USB1/c.tif -> ", QString("4 %1 /USB1/Folder -> ").arg(folderSize)}));
        QCOMPARE(d.syncs(), 2);
        QCOMPARE(names(d.usb()), QStringList());
        QCOMPARE(d.worker.doneFileCount(), 4);
        QCOMPARE(d.worker.failures().size(), 1);
        QCOMPARE(d.worker.failures().first().path, QString("/USB1/gone.tif"));
        QCOMPARE(d.worker.failures().first().reason, QString("It no longer exists."));
    }

    // A copy stopped between chunks leaves nothing in the target folder, not even its
    // temporary file; a finished one is whole.
    void stopMidFileLeavesNothing()
    {
        Drives d;
        const QString big = d.file(d.ssd("big.tif"), 20 * 1024 * 1024);
        const int folder = ::open(QFile::encodeName(d.usb()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(folder >= 0);
        int asked = 0;
        {
            FileCopier copier([&asked] { return ++asked > 1; }); // stop after the first chunk
            QCOMPARE(copier.copyToTemporary(big, folder, false), FileCopier::Stopped);
        }
        QVERIFY(asked >= 2);
        QCOMPARE(names(d.usb()), QStringList());
        {
            FileCopier copier(nullptr);
            QCOMPARE(copier.copyToTemporary(big, folder, true), FileCopier::Copied);
            QCOMPARE(names(d.usb()).size(), 1); // only the hidden temporary so far
            QVERIFY(copier.publish("big.tif"));
            QVERIFY(!copier.publish("again.tif"));
        }
        ::close(folder);
        QCOMPARE(tree(d.usb()), tree(d.ssd()));
        // Cancelled through the worker after its first file: that file stays, nothing else.
        d.file(d.ssd("Many/1.tif"), 10);
        d.file(d.ssd("Many/2.tif"), 10);
        d.file(d.ssd("Many/3.tif"), 10);
        d.afterSignal = [&d](int) { d.worker.m_bStop = true; };
        QVERIFY(d.run(FileOperationThread::Copy, {d.ssd("Many")}, d.usb()));
        QCOMPARE(names(d.usb("Many")).size(), 1);
        QCOMPARE(d.signalsSent.size(), 1);
    }

    // A write failing in the middle of a move (the file-size limit stands in for a full drive):
    // that file's source stays with its reason, the others are moved whole.
    void writeFailureKeepsTheSource()
    {
        Drives d;
        for (int i = 1; i <= 5; ++i)
            d.file(d.ssd(QString("Run/%1.tif").arg(i)), i == 3 ? 200 * 1024 : 1024, char('a' + i));
        const QStringList before = tree(d.ssd("Run"));
        struct rlimit old {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = old;
        limit.rlim_cur = 100 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool ran = d.run(FileOperationThread::Move, {d.ssd("Run")}, d.usb());
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(ran);
        QCOMPARE(names(d.ssd("Run")), QStringList({"3.tif"}));
        QCOMPARE(d.worker.failedFileCount(), 1);
        QCOMPARE(d.worker.failures().first().path, QString("/VANTOR SSD/Run/3.tif"));
        QCOMPARE(d.worker.failures().first().reason, QString("File too large"));
        QCOMPARE(d.worker.doneFileCount(), 4);
        // Every file whole on one side or the other.
        QStringList both = tree(d.usb("Run")) + tree(d.ssd("Run"));
        both.sort();
        QCOMPARE(both, before);
    }

    // A move removes its originals only after the copies are flushed to the drive; a flush that
    // fails keeps every original and counts it as failed, leaving no copy behind.
    void moveFlushesBeforeRemoving_data()
    {
        QTest::addColumn<int>("flushError");
        QTest::newRow("flushed") << 0;
        QTest::newRow("flush fails") << EIO;
    }
    void moveFlushesBeforeRemoving()
    {
        QFETCH(int, flushError);
        Drives d;
        const int files = 40;
        for (int i = 1; i <= files; ++i)
            d.file(d.ssd(QString("Run/%1.tif").arg(i)), 100, char('a' + i % 20));
        const QStringList before = tree(d.ssd("Run"));
        QStringList flushes; // "folder: originals still there"
        g_syncfsWatch = [&](const QString &folder) {
            flushes << QString("%1: %2").arg(folder).arg(names(d.ssd("Run")).size());
            return flushError;
        };
        const bool ran = d.run(FileOperationThread::Move, {d.ssd("Run")}, d.usb());
        g_syncfsWatch = nullptr;
        QVERIFY(ran);
        QVERIFY(!flushes.isEmpty());
        QCOMPARE(flushes.first(), QString("%1: %2").arg(d.usb()).arg(files)); // the drive, nothing removed before
        if (flushError == 0) {
            QCOMPARE(d.worker.doneFileCount(), files);
            QCOMPARE(d.worker.failedFileCount(), 0);
            QCOMPARE(names(d.ssd("Run")), QStringList());
            QCOMPARE(tree(d.usb("Run")), before);
        } else {
            QCOMPARE(d.worker.doneFileCount(), 0);
            QCOMPARE(d.worker.failedFileCount(), files);
            QCOMPARE(d.worker.failures().first().reason, QString::fromLocal8Bit(std::strerror(EIO)));
            QCOMPARE(tree(d.ssd("Run")), before);
            QCOMPARE(names(d.usb("Run")), QStringList());
        }
    }

    // Names that cannot be made end with their reason instead of trying further counters.
    void unusableNameEnds()
    {
        Drives d;
        const QString longName = QString(250, 'n') + ".tif";
        const QString source = d.file(d.ssd(longName), 4);
        QVERIFY(d.run(FileOperationThread::Copy, {source}, d.ssd()));
        QCOMPARE(d.worker.failures().size(), 1);
        QCOMPARE(d.worker.failures().first().reason, QString("File name too long"));
        QCOMPARE(names(d.ssd()), QStringList({longName}));
    }

    // A drive that has left the mount table: nothing is made in its empty mount folder; gone
    // in the middle, the worker stops at the next file.
    void driveRemoved()
    {
        Drives d;
        for (int i = 1; i <= 4; ++i)
            d.file(d.ssd(QString("Data/%1.tif").arg(i)), 10);
        d.mountTable(false);
        QVERIFY(d.run(FileOperationThread::Copy, {d.ssd("Data")}, d.usb()));
        QVERIFY(d.worker.driveRemoved());
        QCOMPARE(names(d.usb()), QStringList());

        d.mountTable(true);
        d.afterSignal = [&d](int sent) {
            if (sent == 2)
                d.mountTable(false);
        };
        QVERIFY(d.run(FileOperationThread::Copy, {d.ssd("Data")}, d.usb()));
        QVERIFY(d.worker.driveRemoved());
        QCOMPARE(names(d.usb("Data")).size(), 2);

        // A move: sources go once their batch is on the drive, and only while the drive is
        // there; the copies of the others stay beside their originals.
        for (int i = 5; i <= 40; ++i)
            d.file(d.ssd(QString("Data/%1.tif").arg(i)), 10);
        d.mountTable(true);
        QVERIFY(d.run(FileOperationThread::Move, {d.ssd("Data")}, d.usb()));
        QVERIFY(d.worker.driveRemoved());
        QCOMPARE(d.worker.doneFileCount(), 2);
        QCOMPARE(names(d.ssd("Data")).size(), 38);
        QCOMPARE(names(d.usb("Data(1)")).size(), 32);
    }

    // The progress figures as the dialog shows them, one row per moment of a run.
    void progressFigures_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("doneItems");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("bar");
        QTest::newRow("first second") << qint64(10000000) << qint64(5000000) << 4 << 2 << qint64(999) << QStringList({"", "", ""}) << 50;
        QTest::newRow("1 s left") << qint64(2000000) << qint64(1000000) << 2 << 1 << qint64(1000) << QStringList({"< 1 sec.", "1 (1 MB)", "1.0 MB/sec."}) << 50;
        QTest::newRow("59 s") << qint64(60000000) << qint64(1000000) << 60 << 1 << qint64(1000) << QStringList({"59 sec.", "59 (59 MB)", "1.0 MB/sec."}) << 1;
        QTest::newRow("60 s") << qint64(61000000) << qint64(1000000) << 61 << 1 << qint64(1000) << QStringList({"1 min 0 sec.", "60 (60 MB)", "1.0 MB/sec."}) << 1;
        QTest::newRow("more than counted") << qint64(1000000) << qint64(3000000) << 1 << 3 << qint64(2500) << QStringList({"< 1 sec.", "0 (0 MB)", "1.5 MB/sec."}) << -1;
        QTest::newRow("total 0") << qint64(0) << qint64(0) << 3 << 1 << qint64(5000) << QStringList({"< 1 sec.", "2 (0 MB)", "0.0 MB/sec."}) << -1;
    }
    void progressFigures()
    {
        QFETCH(qint64, total);
        QFETCH(qint64, done);
        QFETCH(int, items);
        QFETCH(int, doneItems);
        QFETCH(qint64, elapsedMs);
        QFETCH(QStringList, texts);
        QFETCH(int, bar);
        const auto figures = FileOperationProgressDlg::figures(total, done, items, doneItems, elapsedMs);
        QCOMPARE(QStringList({figures.remainingTime, figures.remainingItems, figures.speed}), texts);
        QCOMPARE(figures.bar, bar);
    }

    // The dialog's road: reset, a signal, Cancel (later signals ignored), completion.
    void progressDialogRoad()
    {
        TestRoot root;
        SimulatedSystemActions actions;
        SystemActions::setInstance(&actions);
        FileOperationProgressDlg dialog;
        QSignalSpy stopped(&dialog, &FileOperationProgressDlg::signalFileOperationIsStopped);
        const auto text = [&dialog](const char *name) { return dialog.findChild<QLabel *>(name)->text(); };
        dialog.initialize();
        dialog.setNumboerOfFiles(2);
        dialog.setTotalFileSize(0);
        dialog.setState(PROGRESS_STARTED);
        dialog.slotFileOperating(1, 0, "/VANTOR SSD/a.tif", "/USB1/a.tif");
        QCOMPARE(text("LABEL_PASTE_INFO"), QString("<p><b>Copying from</b> /VANTOR SSD/a.tif <b>to</b> /USB1/a.tif</p>"));
        QCOMPARE(dialog.findChild<QProgressBar *>("PROGRESSBAR")->value(), 0);
        QVERIFY(QMetaObject::invokeMethod(&dialog, "on_BUTTON_CANCEL_clicked"));
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(text("LABEL_PASTE_INFO"), QString("<p><b>Cancelling ...</b></p>"));
        QVERIFY(!dialog.isEnabled());
        dialog.slotFileOperating(4, 10, "/USB1/b.tif", "");
        QCOMPARE(text("LABEL_PASTE_INFO"), QString("<p><b>Cancelling ...</b></p>"));
        dialog.slotCompletedFileOperation(PROGRESS_ENDED);
        QCOMPARE(text("LABEL_PASTE_INFO"), QString("<p><b>Synchronizing ...</b></p>"));
        QCOMPARE(dialog.findChild<QProgressBar *>("PROGRESSBAR")->value(), 100);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(actions.calls().contains("sync"));
        dialog.initialize();
        QVERIFY(dialog.isEnabled());
        QCOMPARE(text("LABEL_PASTE_INFO"), QString());
        SystemActions::setInstance(nullptr);
    }
};

QTEST_MAIN(TestFileOperation)
#include "tst_fileoperation.moc"
