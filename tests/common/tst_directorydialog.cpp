#include "DialogRunner.h"
#include "DialogScripts.h"
#include "DirectoryDialog.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "TestRoot.h"

#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QtTest>

namespace {

QString label(DirectoryDialog &dlg) { return dlg.findChild<QLabel *>("LABEL_CURRENT_PATH")->text(); }
QPushButton *button(DirectoryDialog &dlg, const char *name) { return dlg.findChild<QPushButton *>(name); }
QListView *list(DirectoryDialog &dlg) { return dlg.findChild<QListView *>("LISTVIEW_BROWSER"); }
auto *model(DirectoryDialog &dlg) { return qobject_cast<QFileSystemModel *>(list(dlg)->model()); }

bool buttonsEnabled(DirectoryDialog &dlg)
{
    return button(dlg, "BUTTON_APPLY")->isEnabled() && button(dlg, "BUTTON_CANCEL")->isEnabled();
}

// The names listed now, sorted.
QStringList listed(DirectoryDialog &dlg)
{
    QStringList names;
    const QModelIndex root = list(dlg)->rootIndex();
    for (int row = 0; row < model(dlg)->rowCount(root); ++row)
        names << model(dlg)->fileName(model(dlg)->index(row, 0, root));
    names.sort();
    return names;
}

// Double taps the listed entry with this name once the folder is read.
void doubleTap(DirectoryDialog &dlg, const QString &name)
{
    QTRY_VERIFY(listed(dlg).contains(name));
    const QModelIndex root = list(dlg)->rootIndex();
    for (int row = 0; row < model(dlg)->rowCount(root); ++row) {
        const QModelIndex index = model(dlg)->index(row, 0, root);
        if (model(dlg)->fileName(index) == name) {
            emit list(dlg)->doubleClicked(index);
            return;
        }
    }
}

} // namespace

class TestDirectoryDialog : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TestRoot> m_root;

private slots:
    void init()
    {
        m_root = std::make_unique<TestRoot>();
        m_root->makeDir("/media/USB1/data");
        m_root->makeDir("/media/USB1/run1");
        m_root->makeDir("/media/VANTOR SSD");
        m_root->writeFile("/media/USB1/a.TIF", "x");
        m_root->writeFile("/media/USB1/b.png", "x");
        m_root->writeFile("/media/USB1/c.Jpg", "x");
        m_root->writeFile("/media/USB1/d.bmp", "x");
        m_root->writeFile("/media/USB1/notes.txt", "x");
        m_root->writeFile("/media/USB1/.hidden.png", "x");
        g_PreviouslySavedPath.clear();
    }

    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::clearLog();
        m_root.reset();
    }

    void opensAtMediaWhichCannotBeChosen()
    {
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushClickOrClose("BUTTON_APPLY", "BUTTON_CANCEL");
        DialogScripts::pushAnswer(1, messages);
        DirectoryDialog dlg;
        QCOMPARE(dlg.size(), QSize(600, 400));
        QVERIFY(dlg.windowFlags() & Qt::X11BypassWindowManagerHint);
        QCOMPARE(label(dlg), QString("/"));
        QVERIFY(!button(dlg, "BUTTON_CD_UP")->isEnabled());
        QCOMPARE(g_PreviouslySavedPath, Paths::media());
        QCOMPARE(dlg.exec(), 0);
        QCOMPARE(*messages, QStringList({MessageDlg::presetText(MSG_CURRENT_PATH_EMPTY)}));
        QTRY_COMPARE(listed(dlg), QStringList({"USB1", "VANTOR SSD"}));
    }

    void opensAtTheRememberedFolder()
    {
        g_PreviouslySavedPath = Paths::path("/media/USB1/data");
        DialogScripts::pushClick("BUTTON_APPLY");
        DirectoryDialog dlg;
        QCOMPARE(label(dlg), QString("/USB1/data"));
        QVERIFY(button(dlg, "BUTTON_CD_UP")->isEnabled());
        QCOMPARE(dlg.exec(), 1);
        QCOMPARE(dlg.getSelectedPath(), Paths::path("/media/USB1/data"));
    }

    void aRememberedFolderThatIsGoneOrOutsideMediaIsForgotten_data()
    {
        QTest::addColumn<QString>("remembered");
        QTest::newRow("removed drive") << "/media/USB2/data";
        QTest::newRow("outside media") << "/root";
        QTest::newRow("climbing out") << "/media/USB1/../..";
        QTest::newRow("media look-alike") << "/mediaX";
    }

    void aRememberedFolderThatIsGoneOrOutsideMediaIsForgotten()
    {
        QFETCH(QString, remembered);
        m_root->makeDir("/root");
        m_root->makeDir("/mediaX");
        g_PreviouslySavedPath = Paths::path(remembered);
        DirectoryDialog dlg;
        QCOMPARE(dlg.getSelectedPath(), Paths::media());
        QCOMPARE(label(dlg), QString("/"));
        QCOMPARE(g_PreviouslySavedPath, Paths::media());
        QVERIFY(!button(dlg, "BUTTON_CD_UP")->isEnabled());
    }

    void listsFoldersAndImagesOnly()
    {
        g_PreviouslySavedPath = Paths::path("/media/USB1");
        DirectoryDialog dlg;
        QTRY_COMPARE(listed(dlg), QStringList({"a.TIF", "b.png", "c.Jpg", "d.bmp", "data", "run1"}));
        // folders and images each get an icon of their own
        const QModelIndex root = list(dlg)->rootIndex();
        for (int row = 0; row < model(dlg)->rowCount(root); ++row)
            QVERIFY(!model(dlg)->fileIcon(model(dlg)->index(row, 0, root)).isNull());
    }

    void navigationNeverLeavesMedia()
    {
        g_PreviouslySavedPath = Paths::path("/media/USB1");
        DirectoryDialog dlg;
        dlg.show();
        doubleTap(dlg, "run1");
        QCOMPARE(label(dlg), QString("/USB1/run1"));
        QCOMPARE(dlg.getSelectedPath(), Paths::path("/media/USB1/run1"));
        QTRY_VERIFY(buttonsEnabled(dlg));
        button(dlg, "BUTTON_CD_UP")->click();
        QCOMPARE(label(dlg), QString("/USB1"));
        button(dlg, "BUTTON_CD_UP")->click();
        QCOMPARE(label(dlg), QString("/"));
        QCOMPARE(dlg.getSelectedPath(), Paths::media());
        QVERIFY(!button(dlg, "BUTTON_CD_UP")->isEnabled());
        button(dlg, "BUTTON_CD_UP")->click(); // even if pressed, it stays
        QCOMPARE(dlg.getSelectedPath(), Paths::media());
        QVERIFY(Paths::fixedPath(dlg.getSelectedPath()) == "/media");
        // a file entry is not a destination
        g_PreviouslySavedPath.clear();
        doubleTap(dlg, "USB1");
        doubleTap(dlg, "a.TIF");
        QCOMPARE(label(dlg), QString("/USB1"));
    }

    void okAndCancelComeBackWhenAFolderIsVisitedAgain()
    {
        g_PreviouslySavedPath = Paths::path("/media/USB1");
        DirectoryDialog dlg;
        dlg.show();
        doubleTap(dlg, "run1");
        QTRY_VERIFY(buttonsEnabled(dlg));
        button(dlg, "BUTTON_CD_UP")->click();
        doubleTap(dlg, "run1");
        QVERIFY(buttonsEnabled(dlg)); // at once: no wait for the safety time-out
    }

    void cancelLeavesTheRememberedFolder()
    {
        g_PreviouslySavedPath = Paths::path("/media/USB1/data");
        DialogScripts::pushClick("BUTTON_CANCEL");
        DirectoryDialog dlg;
        QCOMPARE(dlg.exec(), 0);
        QCOMPARE(g_PreviouslySavedPath, Paths::path("/media/USB1/data"));
    }
};

QTEST_MAIN(TestDirectoryDialog)
#include "tst_directorydialog.moc"
