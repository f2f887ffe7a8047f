// The main window's construction and start-up on the simulated instrument: the first screen,
// the start-up dialogs as their configuration keys say, and the start modes.
#include "AppBench.h"
#include "ControlWidget.h"
#include "DialogRunner.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "Utilities.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"

#include <QAbstractButton>
#include <QtTest>

class TestMainWindowStart : public QObject
{
    Q_OBJECT

    static QStringList dialogClasses(const AppBench &bench)
    {
        QStringList classes;
        for (const QString &entry : bench.dialogs())
            classes << entry.section(':', 0, 0);
        return classes;
    }

private slots:
    void firstStartRunsTheStartUpDialogsInOrder()
    {
        AppBench bench;
        bench.root.writeFile("/root/exist.error", "build 1\n");
        bench.build();

        // Right after construction: Multicolor screen, menu locked, volumes mounted, work folders made.
        QCOMPARE(g_CurrentMenu, MENU_MULTICOLOR);
        QVERIFY(!bench.menuUnlocked());
        QVERIFY(bench.ui()->m_MultiColorWidget->isVisible() && !bench.ui()->m_ZStackWidget->isVisible());
        QVERIFY(!bench.ui()->LABEL_DATE->text().isEmpty());
        QVERIFY(bench.actions.calls().filter(QRegularExpression("^mount ")).size() >= 2);
        for (const char *folder : {"/media/VANTOR SSD/.CellCount", "/media/VANTOR SSD/.Video", "/media/VANTOR SSD/.FileManager"})
            QVERIFY2(QDir(Paths::path(folder)).exists(), folder);
        QVERIFY(bench.dialogs().isEmpty()); // the start-up sequence waits one second

        QVERIFY(bench.waitUnlocked());
        QVERIFY(bench.ui()->m_VideoWidget->isRunning());
        QVERIFY(bench.ui()->BUTTON_MULTI_COLOR_MENU->isChecked());
        QCOMPARE(dialogClasses(bench), (QStringList{"LicenseAgreementDlg", "ErrorReportDlg", "WelcomeDlg"}));
        QCOMPARE(bench.config("LicenseAgreement", "Accepted"), QStringLiteral("1"));
        QCOMPARE(bench.config("Setting_Misc", "ShowStartDlg"), QStringLiteral("1"));
        QVERIFY(!QFile::exists(Paths::path("/root/exist.error")));
    }

    void lensOrFilterOutOfPositionIsReportedFirst()
    {
        AppBench bench;
        bench.sim->instrument().turnFilter(2, 60000); // between positions for a minute
        bench.build();
        QVERIFY(bench.waitUnlocked());
        const QStringList classes = dialogClasses(bench);
        QVERIFY2(!classes.isEmpty() && bench.dialogs().first().startsWith("MessageDlg:"), qPrintable(classes.join(',')));
        QVERIFY(bench.showedMessage(MSG_LENS_FILTER_NOT_IN_POSITION));
        QCOMPARE(classes.mid(1), (QStringList{"LicenseAgreementDlg", "WelcomeDlg"}));
    }

    void keysDecideWhatIsShown()
    {
        {
            AppBench bench;
            bench.quietStart();
            bench.start();
            QVERIFY2(bench.dialogs().isEmpty(), qPrintable(bench.dialogs().join('\n')));
        }
        {
            // A rejected agreement is not written; a ticked welcome box turns the screen off.
            AppBench bench;
            bench.setAnswer([](QDialog *dialog) {
                if (QString(dialog->metaObject()->className()) == "LicenseAgreementDlg")
                    return 0;
                if (auto *box = dialog->findChild<QAbstractButton *>("CEHCKBOX"))
                    box->click();
                return 1;
            });
            bench.start();
            QCOMPARE(dialogClasses(bench), (QStringList{"LicenseAgreementDlg", "WelcomeDlg"}));
            QCOMPARE(bench.config("LicenseAgreement", "Accepted"), QStringLiteral("0"));
            QCOMPARE(bench.config("Setting_Misc", "ShowStartDlg"), QStringLiteral("0"));
        }
        {
            // Values that are not flags read as the defaults: the agreement and the welcome screen are shown.
            AppBench bench;
            bench.setConfig("LicenseAgreement", "Accepted", "yes");
            bench.setConfig("Setting_Misc", "ShowStartDlg", "on");
            bench.start();
            QCOMPARE(dialogClasses(bench), (QStringList{"LicenseAgreementDlg", "WelcomeDlg"}));
        }
    }

    void qcTestModeSkipsTheAgreementAndUsesTheFirstCube()
    {
        AppBench bench;
        bench.sim->instrument().turnFilter(2, 60000);
        bench.root.writeFile("/root/exist.error", "build 1\n");
        bench.start(EXEC_QC_TEST);
        QVERIFY(isQCTestMode());
        QCOMPARE(dialogClasses(bench), (QStringList{"ErrorReportDlg", "WelcomeDlg"}));
        QCOMPARE(bench.ui()->m_ControlWidget->currentFilterPosition(), 1);
    }

    void serialFailureStartStaysOnItsMessage()
    {
        AppBench bench;
        bench.setAnswer([](QDialog *) { return 0; });
        NIMBODlg *window = bench.build(MENU_SERIAL_FAILURE);
        QVERIFY(bench.showedMessage(MSG_SERIAL_DISRUPTED));
        QCOMPARE(window->previousMenu(), MENU_SERIAL_FAILURE);
        QCOMPARE(g_CurrentMenu, MENU_MULTICOLOR);
        QTest::qWait(1500);
        QCOMPARE(bench.dialogs().size(), 1); // no start-up sequence
        QVERIFY(!bench.ui()->m_VideoWidget->isRunning());
    }
};

QTEST_MAIN(TestMainWindowStart)
#include "tst_mainwindow_start.moc"
