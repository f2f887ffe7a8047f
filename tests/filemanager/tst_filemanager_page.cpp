#include "DialogRunner.h"
#include "DialogScripts.h"
#include "PageBench.h"
#include "FileManagerWidget.h"
#include "Globals.h"
#include "ImageViewerDlg.h"
#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QtTest>

namespace {

// The page bench with the taps and looks of these cases.
struct Bench : PageBench
{
    template <class T> T *child(const char *name) const { return page->findChild<T *>(name); }
    QString label(const char *name) const { return child<QLabel>(name)->text(); }

    // A tap on the folder tree entry of a fixed path; returns when the loading wait has ended.
    void tapTree(const QString &fixedPath)
    {
        auto *tree = child<QTreeView>("TREEVIEW_DIR");
        auto *model = qobject_cast<QFileSystemModel *>(tree->model());
        const QModelIndex index = model->index(Paths::path(fixedPath));
        QVERIFY(index.isValid());
        QVERIFY(QMetaObject::invokeMethod(page.get(), "on_TREEVIEW_DIR_clicked", Q_ARG(QModelIndex, index)));
        QTRY_VERIFY(page->isEnabled());
    }
    // Rename of the entry name with text typed into the box (boxed: what the box showed), once the
    // page is enabled again: what renaming returned and the errors shown.
    std::pair<bool, QStringList> renameTyping(const QString &name, const QString &text, QString *boxed = nullptr)
    {
        QStringList errors;
        DialogRunner::setStandingScript([&errors](QDialog *dialog) {
            if (DialogScripts::messageText(dialog).contains("Error!"))
                errors << DialogScripts::messageText(dialog);
            return 0;
        });
        const auto restore = qScopeGuard([] { DialogRunner::setStandingScript({}); });
        select({name});
        PageScripts::type(text, boxed);
        const bool returned = page->renaming();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(page->isEnabled(), 15000); }();
        return {returned, errors};
    }
    QString enabledButtons() const
    {
        QStringList on;
        for (const char *name : {"BUTTON_CD_UP", "BUTTON_NEW_FOLDER", "BUTTON_COPY", "BUTTON_CUT", "BUTTON_PASTE",
                                 "BUTTON_DELETE", "BUTTON_RENAME", "BUTTON_UNMOUNT"})
            if (button(name)->isEnabled())
                on << QString(name).mid(7);
        return on.join(' ');
    }
};

} // namespace

class TestFileManagerPage : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { MediaMonitor::setSpaceQuery(nullptr); }

    void displayPathAndDriveName_data()
    {
        QTest::addColumn<QString>("fixedPath");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("drive");
        QTest::newRow("root") << "/media" << "/" << "";
        QTest::newRow("ssd") << "/media/VANTOR SSD" << "/VANTOR SSD" << "VANTOR SSD";
        QTest::newRow("ssd folder") << "/media/VANTOR SSD/Data" << "/VANTOR SSD/Data" << "VANTOR SSD";
        QTest::newRow("usb deep") << "/media/USB1/a/b" << "/USB1/a/b" << "USB1";
    }
    void displayPathAndDriveName()
    {
        QFETCH(QString, fixedPath);
        QFETCH(QString, display);
        QFETCH(QString, drive);
        TestRoot root;
        QVERIFY(Paths::path(fixedPath).startsWith(root.path())); // the sandbox prefix is there ...
        QCOMPARE(FileManagerWidget::displayPathOf(Paths::path(fixedPath)), display); // ... and never shows
        QCOMPARE(FileManagerWidget::driveNameOf(Paths::path(fixedPath)), drive);
    }

    // Browsing: the drives at "/", the SSD with its free space, a USB drive with Eject, and the
    // command buttons as the selection changes.
    void browseDrivesAndButtonTable()
    {
        Bench bench;
        QVERIFY(bench.seeded);
        MediaMonitor::setSpaceQuery([](const QString &, quint64 *fragment, quint64 *blocks) {
            *fragment = 1000;
            *blocks = 12345000;
            return true;
        });
        QCOMPARE(bench.label("LABEL_CURRENT_PATH"), QString("/"));
        bench.listEntry("VANTOR SSD");
        bench.listEntry("USB1");
        QCOMPARE(bench.enabledButtons(), QString());

        const QString ssd = Paths::ssd();
        QVERIFY(QDir(ssd).mkpath("Data/Sub"));
        for (const char *name : {"a.tif", "b.tif", "notes.CSV", "skip.txt"}) {
            QFile file(ssd + "/Data/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        bench.tapTree("/media/VANTOR SSD");
        QCOMPARE(bench.label("LABEL_CURRENT_PATH"), QString("/VANTOR SSD"));
        QCOMPARE(bench.label("LABEL_DISK_SPACE"), QString("( VANTOR SSD ) Available disk space: 12,345 MB"));
        QCOMPARE(QLocale().name(), QLocale::system().name()); // the process default is left alone
        QCOMPARE(bench.enabledButtons(), QString("CD_UP NEW_FOLDER"));

        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_LISTVIEW_FILE_doubleClicked",
                                          Q_ARG(QModelIndex, bench.listEntry("Data"))));
        QTRY_VERIFY(bench.page->isEnabled());
        QCOMPARE(bench.page->displayPath(), QString("/VANTOR SSD/Data"));
        bench.listEntry("a.tif");
        // Sub, a.tif, b.tif and notes.CSV; skip.txt is hidden.
        QTRY_COMPARE(bench.listModel()->rowCount(bench.listModel()->index(bench.page->currentPath())), 4);

        bench.select({});
        QCOMPARE(bench.enabledButtons(), QString("CD_UP NEW_FOLDER"));
        bench.select({"a.tif"});
        QCOMPARE(bench.enabledButtons(), QString("CD_UP COPY CUT DELETE RENAME"));
        bench.select({"a.tif", "b.tif"});
        QCOMPARE(bench.enabledButtons(), QString("CD_UP COPY CUT DELETE"));

        // No preview of a table; the page stays.
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_LISTVIEW_FILE_doubleClicked",
                                          Q_ARG(QModelIndex, bench.listEntry("notes.CSV"))));
        QCOMPARE(messages->join('|'), QString("A preview is not available for this file type."));

        bench.tapTree("/media/USB1");
        QCOMPARE(bench.label("LABEL_CURRENT_PATH"), QString("/USB1"));
        QCOMPARE(bench.label("LABEL_DISK_SPACE"), QString("( USB1 ) Available disk space: 12,345 MB"));
        QCOMPARE(bench.enabledButtons(), QString("CD_UP NEW_FOLDER UNMOUNT"));

        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_BUTTON_CD_UP_clicked"));
        QTRY_VERIFY(bench.page->isEnabled());
        QCOMPARE(bench.label("LABEL_CURRENT_PATH"), QString("/"));
        QVERIFY(!bench.button("BUTTON_CD_UP")->isEnabled());
        QVERIFY(!bench.button("BUTTON_UNMOUNT")->isEnabled());
    }

    // Eject: done only when the drive has left the monitor's list.
    void eject_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("ejected") << false;
        QTest::newRow("busy") << true;
    }
    void eject()
    {
        QFETCH(bool, busy);
        Bench bench;
        QVERIFY(bench.seeded);
        if (busy)
            QVERIFY(SimStorage::setFault(SimStorage::usbName, SimStorage::Fault::BusyUnmount, nullptr));
        bench.tapTree("/media/USB1");
        QVERIFY(bench.button("BUTTON_UNMOUNT")->isEnabled());

        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushAnswer(1, messages);
        DialogScripts::pushAnswer(1, messages);
        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_BUTTON_UNMOUNT_clicked"));
        QTRY_VERIFY(bench.page->isEnabled());
        QCOMPARE(messages->value(0), QString("Are you sure you want to eject the USB drive?"));
        QVERIFY(bench.actions.calls().join('|').contains("umount " + Paths::path("/dev/")));
        if (busy) {
            QCOMPARE(messages->value(1), QString("<p><b>Error!</b><br/><br/>'USB1' could not be ejected.<br/>Close any "
                                                 "file on it and try again.</p>"));
            QCOMPARE(bench.page->displayPath(), QString("/USB1"));
        } else {
            QCOMPARE(messages->value(1), QString("<p><b>Safe To Remove Hardware</b><br/><br/>'USB1' can now be safely "
                                                 "removed from the VANTOR S.</p>"));
            QCOMPARE(bench.page->displayPath(), QString("/VANTOR SSD"));
            QVERIFY(!bench.button("BUTTON_UNMOUNT")->isEnabled());
        }
    }

    // A pulled drive: the page returns to "/" at once; another drive's removal changes nothing.
    void removedDisk()
    {
        Bench bench;
        QVERIFY(bench.seeded);
        bench.tapTree("/media/USB1");
        bench.page->slotRemovedDisk("OTHER");
        QCOMPARE(bench.page->displayPath(), QString("/USB1"));
        bench.page->slotRemovedDisk("USB1");
        QCOMPARE(bench.page->displayPath(), QString("/"));
        QCOMPARE(bench.label("LABEL_CURRENT_PATH"), QString("/"));
        QCOMPARE(bench.enabledButtons(), QString());
        QVERIFY(!bench.button("BUTTON_THUMBNAIL")->isEnabled());
    }

    // A drive pulled out takes its free space off the line, wherever the page stands, and is
    // measured afresh when it comes back; another drive's line stays.
    void pulledDriveLeavesTheFreeSpaceLine_data()
    {
        QTest::addColumn<QString>("shown"); // the folder shown when the drive goes
        QTest::addColumn<QString>("line");  // the free-space line after it went
        QTest::newRow("its folder shown") << "/media/USB1" << "";
        QTest::newRow("gone up to /") << "/media" << "";
        QTest::newRow("SSD shown") << "/media/VANTOR SSD" << "( VANTOR SSD ) Available disk space: 12,345 MB";
    }
    void pulledDriveLeavesTheFreeSpaceLine()
    {
        QFETCH(QString, shown);
        QFETCH(QString, line);
        Bench bench;
        QVERIFY(bench.seeded);
        auto freeMB = std::make_shared<quint64>(12345);
        MediaMonitor::setSpaceQuery([freeMB](const QString &, quint64 *fragment, quint64 *blocks) {
            *fragment = 1000000;
            *blocks = *freeMB;
            return true;
        });
        const auto listed = [] {
            for (const auto &device : MediaMonitor::deviceList())
                if (device.second == "USB1")
                    return true;
            return false;
        };
        bench.tapTree("/media/USB1");
        QCOMPARE(bench.label("LABEL_DISK_SPACE"), QString("( USB1 ) Available disk space: 12,345 MB"));
        if (shown == "/media")
            QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_BUTTON_CD_UP_clicked"));
        else if (shown != "/media/USB1")
            bench.tapTree(shown);
        QTRY_VERIFY(bench.page->isEnabled());

        QString error;
        QVERIFY2(SimStorage::pull(SimStorage::usbName, &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(!listed(), 20000);
        QCOMPARE(bench.label("LABEL_DISK_SPACE"), line);

        *freeMB = 777;
        QVERIFY2(SimStorage::plug(SimStorage::usbName, QString(), &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(listed(), 20000);
        bench.tapTree("/media/USB1");
        QCOMPARE(bench.label("LABEL_DISK_SPACE"), QString("( USB1 ) Available disk space: 777 MB"));
    }

    // Images show as pictures of themselves from the first display; the thumbnail toggle can be
    // tapped (nothing lies over it) and turns them into file icons, drawn at once.
    void thumbnailToggle()
    {
        Bench bench;
        QVERIFY(bench.seeded);
        const QString folder = Paths::ssd() + "/Shots";
        QVERIFY(QDir().mkpath(folder));
        ImReaderWriter image;
        auto *samples = static_cast<quint16 *>(image.reserve(256, 204, 16, 1, 1, 1, 1));
        QVERIFY(samples);
        std::fill(samples, samples + 256 * 204, quint16(4095));
        image.cameraLayout = false;
        QVERIFY(image.write(QFile::encodeName(folder + "/white.tif"), "Objective Lens = 10X"));
        bench.tapTree("/media/VANTOR SSD/Shots");
        QPushButton *toggle = bench.button("BUTTON_THUMBNAIL");
        QVERIFY(toggle->isEnabled());
        QCOMPARE(bench.page->childAt(toggle->geometry().center()), toggle);

        struct PaintCount : QObject
        {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                paints += event->type() == QEvent::Paint;
                return false;
            }
        } counter;
        auto *list = bench.child<QListView>("LISTVIEW_FILE");
        const QModelIndex entry = bench.listEntry("white.tif");
        QTRY_VERIFY(!list->visualRect(entry).isEmpty());
        QVERIFY(toggle->isChecked());
        const auto icon = [&] { return bench.listModel()->data(entry, Qt::DecorationRole).value<QIcon>().pixmap(128, 102).toImage(); };
        QTRY_COMPARE(qGray(icon().pixel(64, 51)), 255); // the white image, not the file icon
        QCOMPARE(icon().size(), QSize(128, 102));
        const QImage thumbnail = icon();
        QTest::qWait(200);
        list->viewport()->installEventFilter(&counter);
        DialogScripts::pushAnswer(1); // the loading wait
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!toggle->isChecked());
        QTRY_VERIFY(icon() != thumbnail);
        QTRY_VERIFY(counter.paints > 0);
        list->viewport()->removeEventFilter(&counter);
    }

    // A name is shown as it is, never rewritten by its control and format characters: in the list
    // and the folder tree, its tooltip, the path line, the rename box (given back unchanged, the
    // name stays) and the viewer's name bar; two names alike but for an invisible character differ.
    // Edited in the rename box, its whole escapes stand for the characters they show (hex digits
    // in either case), so a letter added keeps them: renamed, or refused where the name holds a
    // character no name may; an escape broken by the edit is text, and refused.
    void visibleNames_data()
    {
        const QChar zeroWidth(0x200b);
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("edited");
        QTest::addColumn<QString>("renamed"); // empty: refused
        QTest::newRow("carriage return") << "ok\rFAKE.jpg" << "ok\\rFAKE.jpg" << "ok\\rFAKE2" << "";
        QTest::newRow("zero-width space") << QString("a%1b.jpg").arg(zeroWidth) << "a\\u200bb.jpg" << "a\\u200Bb2"
                                          << QString("a%1b2.jpg").arg(zeroWidth);
        QTest::newRow("zero-width space, its escape broken") << QString("a%1b.jpg").arg(zeroWidth) << "a\\u200bb.jpg"
                                                             << "a\\u20bb2" << "";
        QTest::newRow("its twin") << "ab.jpg" << "ab.jpg" << "ab2" << "ab2.jpg";
        QTest::newRow("right-to-left override") << QString("x%1gpj.tif").arg(QChar(0x202e)) << "x\\u202egpj.tif"
                                                << "x\\u202egpj2" << QString("x%1gpj2.tif").arg(QChar(0x202e));
        QTest::newRow("DEL, a C1 control, a tag") << "d\x7f" + QString(QChar(0x85)) + QString::fromUcs4(U"\U000E0001.png")
                                                << "d\\x7f\\x85\\U000e0001.png" << "d\\x7f\\x85\\U000e00012" << "";
        QTest::newRow("backslash") << "a\\rb.bmp" << "a\\\\rb.bmp" << "a\\\\rb2" << "";
        QTest::newRow("folder with a line separator") << QString("f%1g").arg(QChar(0x2028)) << "f\\u2028g" << "f\\u2028g2"
                                                      << QString("f%1g2").arg(QChar(0x2028));
    }
    void visibleNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(QString, edited);
        QFETCH(QString, renamed);
        Bench bench;
        QVERIFY(bench.seeded);
        const QString folder = Paths::ssd() + "/Names", path = folder + "/" + name;
        const bool isFolder = !name.contains('.');
        QVERIFY(isFolder ? QDir().mkpath(path) : QDir().mkpath(folder) && QFile(path).open(QIODevice::WriteOnly));
        QVERIFY(bench.open("/media/VANTOR SSD/Names"));
        const QModelIndex entry = bench.listEntry(name);
        QVERIFY(entry.isValid());
        auto *list = bench.child<QListView>("LISTVIEW_FILE");
        auto *delegate = qobject_cast<QStyledItemDelegate *>(list->itemDelegate(entry));
        QVERIFY(delegate);
        QCOMPARE(delegate->displayText(entry.data(), QLocale()), shown);
        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "slotShowTooltip", Q_ARG(QModelIndex, entry)));
        QCOMPARE(list->toolTip(), shown);

        // The rename box shows the name as the list does, without a file's suffix.
        const QString base = isFolder ? shown : shown.left(shown.lastIndexOf('.'));
        QString boxed;
        QCOMPARE(bench.renameTyping(name, base, &boxed), std::make_pair(true, QStringList()));
        QCOMPARE(boxed, base);
        QCOMPARE(bench.names("/media/VANTOR SSD/Names"), QStringList{name});

        if (isFolder) {
            auto *tree = bench.child<QTreeView>("TREEVIEW_DIR");
            const QModelIndex branch = qobject_cast<QFileSystemModel *>(tree->model())->index(path);
            QCOMPARE(qobject_cast<QStyledItemDelegate *>(tree->itemDelegate(branch))->displayText(branch.data(), QLocale()),
                     shown);
            QVERIFY(bench.open("/media/VANTOR SSD/Names/" + name));
            QCOMPARE(bench.label("LABEL_CURRENT_PATH"), "/VANTOR SSD/Names/" + shown);
            QVERIFY(bench.open("/media/VANTOR SSD/Names"));
        } else {
            ImageViewerDlg viewer;
            viewer.load(path, name);
            QCOMPARE(viewer.findChild<QLabel *>("LABEL_FILENAME")->text(), shown);
        }
        const auto [returned, errors] = bench.renameTyping(name, edited);
        QCOMPARE(bench.names("/media/VANTOR SSD/Names"), QStringList{renamed.isEmpty() ? name : renamed});
        QCOMPARE(returned, !renamed.isEmpty());
        QCOMPARE(errors.size(), renamed.isEmpty() ? 1 : 0);
    }

    // The loading wait ends when the folder to show has gone, back at "/".
    void loadingWaitEndsOnVanishedFolder()
    {
        Bench bench;
        QVERIFY(bench.seeded);
        QVERIFY(QDir(Paths::ssd()).mkpath("Gone"));
        bench.tapTree("/media/VANTOR SSD");
        const QModelIndex gone = bench.listEntry("Gone");
        QVERIFY(QDir(Paths::ssd()).rmdir("Gone"));
        QVERIFY(QMetaObject::invokeMethod(bench.page.get(), "on_LISTVIEW_FILE_doubleClicked", Q_ARG(QModelIndex, gone)));
        QTRY_VERIFY(bench.page->isEnabled());
        QCOMPARE(bench.page->displayPath(), QString("/"));
    }
};

QTEST_MAIN(TestFileManagerPage)
#include "tst_filemanager_page.moc"
