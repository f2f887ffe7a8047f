#include "AppBench.h"
#include "FileManagerWidget.h"
#include "FileOperationThread.h"
#include "HangBound.h"
#include "ImReaderWriter.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "MountTable.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "PythonLines.h"
#include "ui_NIMBODlg.h"

#include <QFileSystemModel>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

namespace {

constexpr int kFiles = 300;

// Camera-sized series are slow to make in a test: 300 small 16-bit TIFFs, each different.
void writeSeries(const QString &folder)
{
    QDir().mkpath(folder);
    ImReaderWriter image;
    auto *samples = static_cast<quint16 *>(image.reserve(128, 96, 16, 1, 1, 1, 1));
    QVERIFY(samples);
    for (int n = 0; n < kFiles; ++n) {
        for (int i = 0; i < 128 * 96; ++i)
            samples[i] = quint16((i * 37 + n * 101) & 0x0fff) << 4;
        QVERIFY(image.write(QFile::encodeName(folder + QString("/cells_%1.tif").arg(n, 4, 10, QChar('0'))),
                            "Instrument: VANTOR S"));
    }
}

// Python's hashlib over folders: one "relative path sha256" line per file.
QStringList hashes(const QString &folder)
{
    return pythonLines({qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/app/tree_hashes.py", folder});
}

bool usbMounted()
{
    QList<MountTable::Entry> entries;
    MountTable::read(&entries);
    for (const auto &entry : entries)
        if (entry.mountPoint == "/media/USB1")
            return true;
    return false;
}

// The user at the file manager page of the running application.
class FileManagerUser
{
public:
    explicit FileManagerUser(AppBench &bench)
        : m_bench(bench)
        , page(bench.ui()->m_FileManagerWidget)
    {
    }

    AppBench &m_bench;
    FileManagerWidget *page;
    QString keyboardText; // what the user types at the next keyboard

    QListView *list() const { return page->findChild<QListView *>("LISTVIEW_FILE"); }
    QFileSystemModel *listModel() const { return qobject_cast<QFileSystemModel *>(list()->model()); }

    void press(const char *button) const
    {
        auto *b = page->findChild<QPushButton *>(button);
        QVERIFY2(b->isEnabled(), button);
        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([this] { return page->isEnabled(); }, 30000));
    }
    void tapDrive(const QString &drive) const
    {
        auto *tree = page->findChild<QTreeView *>("TREEVIEW_DIR");
        auto *model = qobject_cast<QFileSystemModel *>(tree->model());
        const QModelIndex index = model->index(Paths::path("/media/" + drive));
        QVERIFY(index.isValid());
        tree->scrollTo(index);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(index).center());
        QVERIFY(QTest::qWaitFor([this, drive] { return page->isEnabled() && page->currentPath().endsWith(drive); }, 30000));
    }
    // A tap on an entry of the list (an empty spot when name is empty).
    void tap(const QString &name) const
    {
        if (name.isEmpty()) {
            list()->selectionModel()->clearSelection();
            return;
        }
        const QString path = page->currentPath() + '/' + name;
        QVERIFY(QTest::qWaitFor([&] { return listModel()->index(path).isValid(); }, 10000));
        const QModelIndex index = listModel()->index(path);
        list()->scrollTo(index);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualRect(index).center());
        QVERIFY(list()->selectionModel()->isSelected(index));
    }
};

} // namespace

class TestFileCommandsUser : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<AppBench> m_bench;
    std::unique_ptr<FileManagerUser> m_user;
    QString m_keyboard;

    void startAtTheFileManager()
    {
        endRun(); // a run that failed is gone before the next bench sets its answers
        m_bench = std::make_unique<AppBench>();
        m_bench->quietStart();
        m_bench->start();
        QVERIFY(m_bench->menuUnlocked());
        m_bench->setAnswer([this](QDialog *dialog) {
            if (auto *keyboard = qobject_cast<KeyboardDlg *>(dialog))
                keyboard->setText(m_keyboard);
            return 1;
        });
        QTest::mouseClick(m_bench->ui()->BUTTON_FILEMANAGER, Qt::LeftButton);
        QVERIFY(m_bench->waitUnlocked());
        m_user = std::make_unique<FileManagerUser>(*m_bench);
    }
    QString usbContents(const QString &rel) const { return SimStorage::contentsPath(SimStorage::usbName) + '/' + rel; }

    // At the 100th file the drive is pulled, as a user in another terminal does with the USB
    // tool; the worker waits (in its own thread) until the storage monitor has unmounted it.
    void pullAtTheHundredth()
    {
        auto count = std::make_shared<int>(0);
        const QString root = m_bench->root.path();
        connect(m_user->page->worker(), &FileOperationThread::signalFileOperating, m_user->page->worker(),
                [count, root](int, qint64, QString, QString) {
                    if (++*count != 100)
                        return;
                    QProcess tool;
                    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                    env.insert("VANTOR_ROOT", root);
                    tool.setProcessEnvironment(env);
                    tool.start(qEnvironmentVariable("VANTOR_BINARY_DIR") + "/bin/vantor-sim-usb", {"pull", "USB1"});
                    tool.waitForFinished(kHangBoundMs);
                    QTest::qWaitFor([] { return !usbMounted(); }, 20000);
                },
                Qt::DirectConnection);
    }

    void endRun()
    {
        m_user.reset();
        m_bench.reset();
    }

private slots:
    // A folder of 300 TIFFs copied from the SSD to the USB drive (checked with hashlib), moved
    // back, renamed and deleted, by the page's buttons.
    void copyMoveRenameDelete()
    {
        startAtTheFileManager();
        FileManagerUser &user = *m_user;
        const QString ssdRun = Paths::path("/media/VANTOR SSD/Run");
        writeSeries(ssdRun);
        const QStringList original = hashes(ssdRun);
        QCOMPARE(original.size(), kFiles);

        user.tapDrive("VANTOR SSD");
        user.tap("Run");
        user.press("BUTTON_COPY");
        user.tapDrive("USB1");
        user.tap("");
        m_bench->clearDialogs();
        // The list shows the pasted folder without waiting for the file-system watcher, which
        // may report late or not at all (Qt falls back to polling when inotify runs out).
        user.listModel()->setOption(QFileSystemModel::DontWatchForChanges);
        user.press("BUTTON_PASTE");
        QCOMPARE(hashes(Paths::path("/media/USB1/Run")), original);
        QCOMPARE(m_bench->dialogs(), QStringList()); // nothing to report
        QVERIFY(QTest::qWaitFor([&] { return AppBench::listed(user.list()).contains("Run"); }, 30000));
        user.listModel()->setOption(QFileSystemModel::DontWatchForChanges, false);

        user.tap("Run");
        user.press("BUTTON_CUT");
        user.tapDrive("VANTOR SSD");
        user.tap("");
        user.press("BUTTON_PASTE");
        QVERIFY(!QFileInfo::exists(Paths::path("/media/USB1/Run")));
        QCOMPARE(hashes(Paths::path("/media/VANTOR SSD/Run(1)")), original);
        QVERIFY(!user.page->findChild<QPushButton *>("BUTTON_PASTE")->isEnabled());

        user.tap("Run(1)");
        m_keyboard = "Moved";
        user.press("BUTTON_RENAME");
        QCOMPARE(hashes(Paths::path("/media/VANTOR SSD/Moved")), original);

        user.tap("Moved");
        user.press("BUTTON_DELETE");
        QVERIFY(m_bench->showedMessage(MSG_DELETE_FILES));
        QVERIFY(!QFileInfo::exists(Paths::path("/media/VANTOR SSD/Moved")));
        QCOMPARE(hashes(ssdRun), original);

        // Files deleted on the USB drive are synced one by one.
        QVERIFY(QFile::copy(ssdRun + "/cells_0000.tif", Paths::path("/media/USB1/a.tif")));
        QVERIFY(QFile::copy(ssdRun + "/cells_0001.tif", Paths::path("/media/USB1/b.tif")));
        user.tapDrive("USB1");
        user.tap("a.tif");
        list_selectAlso(user, "b.tif");
        m_bench->actions.clearCalls();
        user.press("BUTTON_DELETE");
        QVERIFY(m_bench->actions.calls().count("sync") >= 2);
        QCOMPARE(hashes(Paths::path("/media/USB1")), QStringList());
        endRun();
    }

    // The drive pulled at the 100th file of a copy from it and of a move to it: every file
    // whole on one side, none half-written under its name, the drive-removed message, and
    // nothing made in the empty mount folder.
    void pulledDrive_data()
    {
        QTest::addColumn<bool>("move");
        QTest::newRow("copy from the drive") << false;
        QTest::newRow("move to the drive") << true;
    }
    void pulledDrive()
    {
        QFETCH(bool, move);
        startAtTheFileManager();
        FileManagerUser &user = *m_user;
        const QString from = move ? Paths::path("/media/VANTOR SSD/Run") : usbContents("Run");
        writeSeries(from);
        const QStringList original = hashes(from);

        user.tapDrive(move ? "VANTOR SSD" : "USB1");
        user.tap("Run");
        user.press(move ? "BUTTON_CUT" : "BUTTON_COPY");
        user.tapDrive(move ? "USB1" : "VANTOR SSD");
        user.tap("");
        pullAtTheHundredth();
        m_bench->clearDialogs();
        QTest::mouseClick(user.page->findChild<QPushButton *>("BUTTON_PASTE"), Qt::LeftButton);

        const QStringList copied = hashes(move ? usbContents("Run") : Paths::path("/media/VANTOR SSD/Run"));
        const QStringList left = move ? hashes(from) : original;
        QVERIFY(copied.size() >= 100 && copied.size() < kFiles);
        for (const QString &file : copied)
            QVERIFY2(original.contains(file), qPrintable(file)); // whole under its name
        QStringList union_ = copied + left;
        union_.removeDuplicates();
        union_.sort();
        QCOMPARE(union_, original);
        QStringList hidden = QDir(move ? usbContents("Run") : Paths::path("/media/VANTOR SSD/Run"))
                                 .entryList(QDir::Hidden | QDir::Files | QDir::NoDotAndDotDot);
        QCOMPARE(hidden.filter(QRegularExpression("^\\.")), QStringList()); // no temporary left
        const QString message = QString("MessageDlg:<p><b>Error!</b><br/><br/>The drive was removed.<br/>%1 of %2 "
                                        "files were not %3.</p>")
                                    .arg(kFiles - (move ? kFiles - left.size() : copied.size()))
                                    .arg(kFiles)
                                    .arg(move ? "moved" : "copied");
        QCOMPARE(m_bench->dialogs(), QStringList({message}));
        const QString mountFolder = Paths::path("/media/USB1");
        QVERIFY(!QFileInfo::exists(mountFolder) || QDir(mountFolder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        endRun();
    }

private:
    static void list_selectAlso(FileManagerUser &user, const QString &name)
    {
        const QModelIndex index = user.listModel()->index(user.page->currentPath() + '/' + name);
        user.list()->selectionModel()->select(index, QItemSelectionModel::Select);
    }
};

QTEST_MAIN(TestFileCommandsUser)
#include "tst_filecommands_user.moc"
