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
        for (const char *folder : {"/media/USB1/data", "/media/USB1/run1", "/media/VANTOR SSD", "/root", "/mediaX"})
            m_root->makeDir(folder);
        for (const char *file : {"a.TIF", "b.png", "c.Jpg", "d.bmp", "notes.txt", ".hidden.png"})
            m_root->writeFile(QString("/media/USB1/") + file, "x");
        g_PreviouslySavedPath.clear();
    }

    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::clearLog();
        m_root.reset();
    }

    // At /media nothing can be chosen (OK says so); a remembered folder opens again, unless it is
    // gone or outside /media; Cancel leaves the remembered folder as it was.
    void opensAtTheRememberedFolderInsideMedia_data()
    {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << "" << "BUTTON_APPLY" << "/";
        QTest::newRow("a folder") << "/media/USB1/data" << "BUTTON_APPLY" << "/USB1/data";
        QTest::newRow("cancelled") << "/media/USB1/data" << "BUTTON_CANCEL" << "/USB1/data";
        QTest::newRow("removed drive") << "/media/USB2/data" << "BUTTON_APPLY" << "/";
        QTest::newRow("outside media") << "/root" << "BUTTON_APPLY" << "/";
        QTest::newRow("climbing out") << "/media/USB1/../.." << "BUTTON_APPLY" << "/";
        QTest::newRow("media look-alike") << "/mediaX" << "BUTTON_APPLY" << "/";
    }
    void opensAtTheRememberedFolderInsideMedia()
    {
        QFETCH(QString, remembered);
        QFETCH(QString, press);
        QFETCH(QString, shown);
        if (!remembered.isEmpty())
            g_PreviouslySavedPath = Paths::path(remembered);
        auto messages = std::make_shared<QStringList>();
        DialogScripts::pushClickOrClose(press, "BUTTON_CANCEL");
        DialogScripts::pushAnswer(1, messages);
        DirectoryDialog dlg;
        const QString chosen = Paths::path("/media" + (shown == "/" ? QString() : shown));
        QCOMPARE(label(dlg), shown);
        QCOMPARE(button(dlg, "BUTTON_CD_UP")->isEnabled(), shown != "/");
        QCOMPARE(g_PreviouslySavedPath, chosen);
        const bool ok = press == "BUTTON_APPLY" && shown != "/";
        QCOMPARE(dlg.exec(), ok ? 1 : 0);
        QCOMPARE(dlg.getSelectedPath(), chosen);
        QCOMPARE(g_PreviouslySavedPath, chosen);
        const bool refused = press == "BUTTON_APPLY" && shown == "/";
        QCOMPARE(*messages, refused ? QStringList{MessageDlg::presetText(MSG_CURRENT_PATH_EMPTY)} : QStringList());
    }

    // Folders and images only, each with an icon; navigation never leaves /media; a file entry is
    // no destination; OK and Cancel come back at once when a folder is visited again.
    void listsAndNavigatesInsideMedia()
    {
        g_PreviouslySavedPath = Paths::path("/media/USB1");
        DirectoryDialog dlg;
        dlg.show();
        QTRY_COMPARE(listed(dlg), QStringList({"a.TIF", "b.png", "c.Jpg", "d.bmp", "data", "run1"}));
        const QModelIndex root = list(dlg)->rootIndex();
        for (int row = 0; row < model(dlg)->rowCount(root); ++row)
            QVERIFY(!model(dlg)->fileIcon(model(dlg)->index(row, 0, root)).isNull());
        doubleTap(dlg, "run1");
        QCOMPARE(label(dlg), QString("/USB1/run1"));
        QCOMPARE(dlg.getSelectedPath(), Paths::path("/media/USB1/run1"));
        QTRY_VERIFY(buttonsEnabled(dlg));
        button(dlg, "BUTTON_CD_UP")->click();
        doubleTap(dlg, "run1");
        QVERIFY(buttonsEnabled(dlg)); // at once: no wait for the safety time-out
        button(dlg, "BUTTON_CD_UP")->click();
        button(dlg, "BUTTON_CD_UP")->click();
        QCOMPARE(label(dlg), QString("/"));
        QVERIFY(!button(dlg, "BUTTON_CD_UP")->isEnabled());
        button(dlg, "BUTTON_CD_UP")->click(); // even if pressed, it stays
        QCOMPARE(dlg.getSelectedPath(), Paths::media());
        g_PreviouslySavedPath.clear();
        doubleTap(dlg, "USB1");
        doubleTap(dlg, "a.TIF");
        QCOMPARE(label(dlg), QString("/USB1"));
    }
};

QTEST_MAIN(TestDirectoryDialog)
#include "tst_directorydialog.moc"
