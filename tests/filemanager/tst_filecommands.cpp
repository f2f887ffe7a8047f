#include "DialogRunner.h"
#include "DialogScripts.h"
#include "FileOperationProgressDlg.h"
#include "FileOperationThread.h"
#include "HangBound.h"
#include "MessageDlg.h"
#include "PageBench.h"
#include "Paths.h"

#include <QDeadlineTimer>
#include <QFileSystemModel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextDocumentFragment>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

// Drives that refuse renameat2's no-replace flag (FUSE), and hard links as well (FAT): while set,
// every such call of the process answers as those drives do; otherwise it goes on to the kernel.
namespace {
std::atomic<bool> g_refuseNoReplace{false};
std::atomic<bool> g_refuseLinks{false};
// While set, a paste's second file is held at its publishing until the page stops the worker, as
// a slow drive would hold it: a Cancel pressed at the first file's progress then comes in time,
// however late a loaded machine shows that progress.
std::atomic<bool> g_holdSecondFile{false};
std::atomic<int> g_published{0};

void holdUntilStopped()
{
    auto *worker = qobject_cast<FileOperationThread *>(QThread::currentThread());
    if (!worker || g_published++ < 1)
        return;
    QDeadlineTimer deadline(kHangBoundMs);
    while (!worker->m_bStop && !deadline.hasExpired())
        QThread::msleep(5);
}
} // namespace

extern "C" int renameat2(int fromFd, const char *from, int toFd, const char *to, unsigned int flags) noexcept
{
    if (g_holdSecondFile && (flags & RENAME_NOREPLACE))
        holdUntilStopped();
    if (g_refuseNoReplace && (flags & RENAME_NOREPLACE)) {
        errno = EINVAL;
        return -1;
    }
    return int(::syscall(SYS_renameat2, fromFd, from, toFd, to, flags));
}

extern "C" int linkat(int fromFd, const char *from, int toFd, const char *to, int flags) noexcept
{
    if (g_refuseLinks) {
        errno = EPERM;
        return -1;
    }
    return int(::syscall(SYS_linkat, fromFd, from, toFd, to, flags));
}

namespace {
void writeFile(const QString &fixedPath, qint64 bytes)
{
    QDir().mkpath(QFileInfo(Paths::path(fixedPath)).absolutePath());
    QFile file(Paths::path(fixedPath));
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(int(bytes), 'v'));
}

// Free space as the storage monitor answers it: megabytes (of 1,000,000 bytes) free.
void setFreeMB(quint64 megabytes)
{
    MediaMonitor::setSpaceQuery([megabytes](const QString &, quint64 *fragment, quint64 *blocks) {
        *fragment = 1000000;
        *blocks = megabytes;
        return true;
    });
}

const QString notPreset = "-";
} // namespace

class TestFileCommands : public QObject
{
    Q_OBJECT
private slots:
    void init() { setFreeMB(100000); }

    // New Folder: name, name(1), name(2); refused names change nothing.
    void newFolderNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("colon") << "a:b" << MessageDlg::presetText(MSG_INVALID_FILE_NAME_CHARS);
        QTest::newRow("dot dot") << ".." << "<p><b>Error!</b><br/><br/>This name cannot be used.</p>";
        QTest::newRow("control") << "a\tb" << "<p><b>Error!</b><br/><br/>This name cannot be used.</p>";
        QTest::newRow("256 bytes") << QString(256, 'x') << "<p><b>Error!</b><br/><br/>This name cannot be used.</p>";
    }
    void newFolderNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        PageBench bench;
        QVERIFY(bench.seeded);
        QVERIFY(bench.open("/media/USB1"));
        for (int i = 0; i < 3; ++i) {
            PageScripts::type("Data");
            QVERIFY(bench.page->creatingFolder());
            QVERIFY(bench.page->isEnabled());
        }
        QCOMPARE(bench.names("/media/USB1"), QStringList({"Data", "Data(1)", "Data(2)"}));
        QVERIFY(bench.actions.calls().contains("sync"));

        auto messages = std::make_shared<QStringList>();
        PageScripts::type(typed);
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(!bench.page->creatingFolder());
        QCOMPARE(messages->join('|'), message);
        QCOMPARE(bench.names("/media/USB1").size(), 3);
        QCOMPARE(DialogRunner::pendingScripts(), 0);
    }

    // No space on the drive: New Folder says so and opens no keyboard.
    void newFolderOnFullDrive()
    {
        PageBench bench;
        QVERIFY(bench.open("/media/USB1"));
        setFreeMB(0);
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(!bench.page->creatingFolder());
        QCOMPARE(*messages, QStringList({MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE)}));
        QCOMPARE(bench.names("/media/USB1"), QStringList());
    }

    // Rename: files keep their last suffix, folders are renamed whole, a taken name keeps both,
    // on drives with the no-replace flag or without it (and without hard links); a rename that
    // truly fails says why.
    void rename_data()
    {
        QTest::addColumn<bool>("refuseFlag");
        QTest::addColumn<bool>("refuseLinks");
        QTest::newRow("flag kept") << false << false;
        QTest::newRow("flag refused") << true << false;
        QTest::newRow("flag and links refused") << true << true;
    }
    void rename()
    {
        QFETCH(bool, refuseFlag);
        QFETCH(bool, refuseLinks);
        PageBench bench;
        g_refuseNoReplace = refuseFlag;
        g_refuseLinks = refuseLinks;
        // A message nobody expected answers at once, so that the comparisons below say what failed.
        DialogRunner::setStandingScript([](QDialog *) { return 0; });
        const auto restore = qScopeGuard([] {
            g_refuseNoReplace = g_refuseLinks = false;
            DialogRunner::setStandingScript({});
        });
        writeFile("/media/VANTOR SSD/Run/a.b.tif", 3);
        writeFile("/media/VANTOR SSD/Run/c.tif", 4);
        QDir().mkpath(Paths::path("/media/VANTOR SSD/Run/Set.v2"));
        QVERIFY(bench.open("/media/VANTOR SSD/Run"));

        QVERIFY(!bench.page->renaming()); // nothing selected: nothing happens
        QCOMPARE(DialogRunner::pendingScripts(), 0);

        QString shown;
        bench.select({"a.b.tif"});
        PageScripts::type("d", &shown);
        QVERIFY(bench.page->renaming());
        QCOMPARE(shown, QString("a.b"));
        bench.select({"Set.v2"});
        PageScripts::type("Set.v3", &shown);
        QVERIFY(bench.page->renaming());
        QCOMPARE(shown, QString("Set.v2"));
        QCOMPARE(bench.names("/media/VANTOR SSD/Run"), QStringList({"Set.v3", "c.tif", "d.tif"}));

        auto messages = std::make_shared<QStringList>();
        bench.select({"d.tif"});
        PageScripts::type("c");
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(bench.page->renaming());
        QCOMPARE(*messages, QStringList({MessageDlg::presetText(MSG_NAME_IN_USE)}));
        QCOMPARE(QFileInfo(Paths::path("/media/VANTOR SSD/Run/c.tif")).size(), 4);
        QCOMPARE(QFileInfo(Paths::path("/media/VANTOR SSD/Run/d.tif")).size(), 3);
        QVERIFY(bench.page->isEnabled());

        // Gone while the keyboard was open: nothing is made, and the reason is given.
        messages->clear();
        bench.select({"d.tif"});
        QVERIFY(QFile::remove(Paths::path("/media/VANTOR SSD/Run/d.tif")));
        PageScripts::type("e");
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(bench.page->renaming());
        QCOMPARE(*messages, QStringList({"<p><b>Error!</b><br/><br/>The name could not be changed.<br/>"
                                         + QString::fromLocal8Bit(std::strerror(ENOENT)) + "</p>"}));
        QCOMPARE(bench.names("/media/VANTOR SSD/Run"), QStringList({"Set.v3", "c.tif"}));
    }

    // Names are taken as typed: New Folder numbers a name holding "%1" without reading it, and
    // the progress dialog shows a path with "&", "<" or an invisible character as it is named.
    void namesTakenLiterally_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("percent one") << "run%1";
        QTest::newRow("percents") << "%2(%1) %3";
        QTest::newRow("ampersand") << "R&D %1";
    }
    void namesTakenLiterally()
    {
        QFETCH(QString, name);
        PageBench bench;
        QVERIFY(bench.open("/media/USB1"));
        for (int i = 0; i < 3; ++i) {
            PageScripts::type(name);
            QVERIFY(bench.page->creatingFolder());
        }
        QStringList expected{name, name + "(1)", name + "(2)"};
        expected.sort();
        QCOMPARE(bench.names("/media/USB1"), expected);

        const QString from = "/USB1/" + name + "/<b>a</b>.tif", to = "/VANTOR SSD/" + name;
        const auto shown = [](const QString &html) { return QTextDocumentFragment::fromHtml(html).toPlainText(); };
        QCOMPARE(shown(FileOperationProgressDlg::actionText(1, from, to)), "Copying from " + from + " to " + to);
        QCOMPARE(shown(FileOperationProgressDlg::actionText(2, from, to)), "Moving from " + from + " to " + to);
        QCOMPARE(shown(FileOperationProgressDlg::actionText(4, from, QString())), "Deleting from " + from);
        // ... and one holding a reordering mark or a line break as the list shows it.
        QCOMPARE(shown(FileOperationProgressDlg::actionText(4, from + QChar(0x202e) + '\n', QString())),
                 "Deleting from " + from + "\\u202e\\n");
    }

    // Paste: the space check compares bytes with bytes at its exact boundary, copies are
    // numbered, and the clipboard can be pasted again.
    void pasteSpaceAndNames_data()
    {
        QTest::addColumn<quint64>("freeMB");
        QTest::addColumn<QString>("message");
        QTest::newRow("exactly enough") << quint64(10) << notPreset;
        QTest::newRow("one MB short") << quint64(9) << MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE);
    }
    void pasteSpaceAndNames()
    {
        QFETCH(quint64, freeMB);
        QFETCH(QString, message);
        PageBench bench;
        writeFile("/media/USB1/cells.tif", 10000000);
        QVERIFY(bench.open("/media/USB1"));
        bench.select({"cells.tif"});
        QVERIFY(bench.page->copying());
        QCOMPARE(bench.page->clipboard(), QStringList({Paths::path("/media/USB1/cells.tif")}));
        bench.select({});
        setFreeMB(freeMB);
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        const bool pasted = bench.page->pasting();
        if (message != notPreset) {
            QVERIFY(!pasted);
            QCOMPARE(*messages, QStringList({message}));
            QCOMPARE(bench.names("/media/USB1"), QStringList({"cells.tif"}));
            return;
        }
        QVERIFY(pasted);
        QVERIFY(bench.page->pasting());
        QCOMPARE(bench.names("/media/USB1"), QStringList({"cells(1).tif", "cells(2).tif", "cells.tif"}));
        QVERIFY(messages->isEmpty()); // no failure to report
        DialogRunner::clearScripts();
        QVERIFY(bench.button("BUTTON_PASTE")->isEnabled());
    }

    // Into itself: refused with preset 7 for the folder and for its subfolder, allowed into a
    // sibling whose name starts alike.
    void pasteIntoItself_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("refused");
        QTest::newRow("the folder selected") << "A" << true;
        QTest::newRow("its subfolder") << "A/sub" << true;
        QTest::newRow("sibling AB") << "AB" << false;
    }
    void pasteIntoItself()
    {
        QFETCH(QString, destination);
        QFETCH(bool, refused);
        PageBench bench;
        writeFile("/media/VANTOR SSD/A/sub/x.tif", 5);
        QDir().mkpath(Paths::path("/media/VANTOR SSD/AB"));
        QVERIFY(bench.open("/media/VANTOR SSD"));
        bench.select({"A"});
        QVERIFY(bench.page->copying());
        if (destination.contains('/'))
            QVERIFY(bench.open("/media/VANTOR SSD/" + destination));
        else
            bench.select({destination}); // the selected folder is the destination
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(bench.page->pasting());
        if (refused) {
            QCOMPARE(*messages, QStringList({MessageDlg::presetText(MSG_COPY_FOLDER_INTO_ITSELF)}));
            QCOMPARE(bench.names("/media/VANTOR SSD/A/sub"), QStringList({"x.tif"}));
        } else {
            QVERIFY(messages->isEmpty());
            QCOMPARE(bench.names("/media/VANTOR SSD/AB/A/sub"), QStringList({"x.tif"}));
        }
        DialogRunner::clearScripts();
    }

    // Cut then Copy: the last one counts, so Paste copies. Cut then Paste moves and empties the
    // clipboard. An entry gone since it was taken is reported.
    void cutCopyAndGoneEntries()
    {
        PageBench bench;
        writeFile("/media/VANTOR SSD/a.tif", 5);
        writeFile("/media/VANTOR SSD/b.tif", 6);
        QDir().mkpath(Paths::path("/media/USB1/In"));
        QVERIFY(bench.open("/media/VANTOR SSD"));
        bench.select({"a.tif"});
        QVERIFY(bench.page->cutting());
        QVERIFY(bench.page->copying());
        QVERIFY(bench.open("/media/USB1/In"));
        QVERIFY(bench.page->pasting());
        QCOMPARE(bench.names("/media/VANTOR SSD"), QStringList({"a.tif", "b.tif"}));
        QCOMPARE(bench.names("/media/USB1/In"), QStringList({"a.tif"}));

        QVERIFY(bench.open("/media/VANTOR SSD"));
        bench.select({"a.tif", "b.tif"});
        QVERIFY(bench.page->cutting());
        QVERIFY(QFile::remove(Paths::path("/media/VANTOR SSD/b.tif")));
        QVERIFY(bench.open("/media/USB1/In"));
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(bench.page->pasting());
        QCOMPARE(*messages, QStringList({"<p><b>Error!</b><br/><br/>1 of 2 files could not be moved.</p>"}));
        QCOMPARE(bench.names("/media/VANTOR SSD"), QStringList());
        QCOMPARE(bench.names("/media/USB1/In"), QStringList({"a(1).tif", "a.tif"}));
        QVERIFY(bench.page->clipboard().isEmpty());
        QVERIFY(!bench.button("BUTTON_PASTE")->isEnabled());
    }

    // Delete asks first; Cancel keeps everything, OK removes the selection.
    void deleteAsks()
    {
        PageBench bench;
        writeFile("/media/USB1/a.tif", 5);
        writeFile("/media/USB1/F/b.tif", 6);
        QVERIFY(bench.open("/media/USB1"));
        bench.select({"a.tif", "F"});
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(0, messages);
        QVERIFY(bench.page->deleting());
        QCOMPARE(*messages, QStringList({MessageDlg::presetText(MSG_DELETE_FILES)}));
        QCOMPARE(bench.names("/media/USB1"), QStringList({"F", "a.tif"}));
        bench.select({"a.tif", "F"});
        DialogScripts::pushAnswer(1);
        bench.actions.clearCalls();
        QVERIFY(bench.page->deleting());
        QCOMPARE(bench.names("/media/USB1"), QStringList());
        QVERIFY(bench.actions.calls().contains("sync"));
    }

    // Cancel at the first file: the page stops the worker, the dialog completes; what was copied
    // is whole, nothing half-written or hidden stays, and no failure is reported.
    void cancelPaste()
    {
        PageBench bench;
        for (int i = 0; i < 50; ++i)
            writeFile(QString("/media/VANTOR SSD/Run/%1.tif").arg(i), 1000000);
        QVERIFY(bench.open("/media/VANTOR SSD"));
        bench.select({"Run"});
        QVERIFY(bench.page->copying());
        QVERIFY(bench.open("/media/USB1"));
        auto *dialog = bench.page->progressDialog();
        QObject::connect(bench.page->worker(), &FileOperationThread::signalFileOperating, dialog, [dialog] {
            if (dialog->isEnabled())
                DialogRunner::click(dialog, "BUTTON_CANCEL");
        });
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        g_published = 0;
        g_holdSecondFile = true;
        const bool pasted = bench.page->pasting();
        g_holdSecondFile = false;
        QVERIFY(pasted);
        QVERIFY(messages->isEmpty());
        DialogRunner::clearScripts();
        const QStringList copied = bench.names("/media/USB1/Run");
        QVERIFY(!copied.isEmpty() && copied.size() < 50);
        for (const QString &name : copied)
            QCOMPARE(QFileInfo(Paths::path("/media/USB1/Run/" + name)).size(), 1000000);
        QVERIFY(dialog->isEnabled() == false); // left as the completion left it
    }

    // The copy-speed test pastes the one copied file as often as the spin box says and removes
    // exactly the copies it made, never a file of the same name that was there before.
    void copySpeedTest()
    {
        PageBench bench;
        writeFile("/media/USB1/cells.tif", 1000);
        writeFile("/media/USB1/cells(1).tif", 7);
        QVERIFY(bench.open("/media/USB1"));
        bench.select({"cells.tif", "cells(1).tif"});
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_BUTTON_COPY_TEST_clicked"));
        QCOMPARE(*messages, QStringList({"Only 1 file copy supported."}));

        bench.select({"cells.tif"});
        auto *spin = bench.page->findChild<QSpinBox *>("SPINBOX_TEST");
        spin->setValue(3);
        bench.actions.clearCalls();
        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_BUTTON_COPY_TEST_clicked"));
        QCOMPARE(bench.names("/media/USB1"), QStringList({"cells(1).tif", "cells.tif"}));
        QCOMPARE(QFileInfo(Paths::path("/media/USB1/cells(1).tif")).size(), 7);
        QCOMPARE(spin->value(), 1);
        QVERIFY(bench.actions.calls().count("sync") >= 3);
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
