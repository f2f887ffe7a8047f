// The application-switch page: which folders beside ours count as installed applications, and a
// tap that names the chosen one in Shell.ini and ends with exit status 2.
#include "SetupDlgBench.h"

#include "DialogRunner.h"
#include "MoreAppsWidget.h"
#include "Paths.h"

#include <QJsonObject>
#include <QListWidget>
#include <QtTest>

namespace {

QStringList listed(const MoreAppsWidget &page)
{
    QStringList names;
    auto *list = page.findChild<QListWidget *>("LISTWIDGET_EXIST_APPLICATION");
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

// Taps the named item as a finger does.
void tap(MoreAppsWidget &page, const QString &name)
{
    auto *list = page.findChild<QListWidget *>("LISTWIDGET_EXIST_APPLICATION");
    const QList<QListWidgetItem *> items = list->findItems(name, Qt::MatchExactly);
    QVERIFY(!items.isEmpty());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items.first()).center());
}

} // namespace

class TestMoreApps : public QObject
{
    Q_OBJECT
private slots:
    void scan_data()
    {
        QTest::addColumn<QStringList>("entries"); // under /root/Microscope; a trailing "/" makes a folder
        QTest::addColumn<QStringList>("apps");
        QTest::newRow("named after its folder") << QStringList{"Foo/foo_1_2_3"} << QStringList{"Foo"};
        QTest::newRow("case ignored") << QStringList{"Foo/FOO_1_2_3"} << QStringList{"Foo"};
        QTest::newRow("an installed folder") << QStringList{"Bar/bar_2_0_0/"} << QStringList{"Bar"};
        QTest::newRow("two parts are too few") << QStringList{"Foo/foo_1_2"} << QStringList();
        QTest::newRow("four parts match") << QStringList{"Foo/foo_1_2_3_4"} << QStringList{"Foo"};
        QTest::newRow("another's name") << QStringList{"Foo/bar_1_2_3"} << QStringList();
        QTest::newRow("hidden entry") << QStringList{"Foo/.foo_1_2_3"} << QStringList();
        QTest::newRow("hidden folder") << QStringList{".foo/.foo_1_2_3", ".foo/foo_1_2_3"} << QStringList();
        QTest::newRow("our own folder") << QStringList{"NIMBO/nimbo_1_0_5", "NIMBO/NIMBO.ini"} << QStringList();
        QTest::newRow("nimbo in lower case") << QStringList{"nimbo/nimbo_1_0_5"} << QStringList{"nimbo"};
        QTest::newRow("a file is no folder") << QStringList{"zed_1_2_3", "Zed"} << QStringList();
        QTest::newRow("sorted ignoring case")
            << QStringList{"beta/beta_1_0_0", "Alpha/alpha_1_0_0", "gamma/Gamma_1_1_1", "Delta/readme.txt"}
            << QStringList{"Alpha", "beta", "gamma"};
        QTest::newRow("nothing installed") << QStringList() << QStringList();
    }

    void scan()
    {
        QFETCH(QStringList, entries);
        TestRoot root;
        root.makeDir("/root/Microscope/NIMBO");
        for (const QString &entry : entries) {
            if (entry.endsWith('/'))
                root.makeDir("/root/Microscope/" + entry);
            else
                root.writeFile("/root/Microscope/" + entry, "x");
        }
        MoreAppsWidget page;
        QTEST(listed(page), "apps");
    }

    // A tap writes [CurrentApp] Name, keeps the file's other groups, and ends with status 2.
    void tapSwitches()
    {
        SetupDlgBench bench;
        QList<int> exits;
        bench.actions.setExitHook([&exits](int code) { exits << code; });
        bench.root.writeFile("/root/Microscope/Foo/foo_1_0_2", "x");
        bench.root.makeDir("/root/Microscope/Bar/bar_1_0_0");
        const QString shell = bench.root.writeFile("/root/Microscope/Shell.ini",
                                                   "[Launcher]\nDelay=3\n\n[CurrentApp]\nName=NIMBO\n");
        MoreAppsWidget page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(listed(page), QStringList({"Bar", "Foo"}));
        tap(page, "Foo");
        QCOMPARE(exits, QList<int>{2});
        QCOMPARE(bench.actions.calls().filter("exit"), QStringList{"exit 2"});
        const QJsonObject ini = parsedByConfigparser(shell);
        QCOMPARE(ini.value("CurrentApp").toObject().value("Name").toString(), QString("Foo"));
        QCOMPARE(ini.value("Launcher").toObject().value("Delay").toString(), QString("3"));
        QVERIFY(bench.messages->isEmpty());
    }

    // A choice that cannot be written ends nothing: the launcher would start the wrong application.
    void unwritableChoiceStays()
    {
        SetupDlgBench bench;
        QList<int> exits;
        bench.actions.setExitHook([&exits](int code) { exits << code; });
        bench.root.writeFile("/root/Microscope/Foo/foo_1_0_2", "x");
        bench.root.makeDir("/root/Microscope/Shell.ini"); // a folder where the file should be
        MoreAppsWidget page;
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        tap(page, "Foo");
        QVERIFY(exits.isEmpty());
        QCOMPARE(bench.messages->size(), 1);
        QVERIFY(bench.messages->first().contains("not switched"));
    }
};

QTEST_MAIN(TestMoreApps)
#include "tst_moreapps.moc"
