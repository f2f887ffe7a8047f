// The start-up and service screens: the end-user agreement and the welcome screen, their
// configuration keys at start-up, the agreement text, the drag by the top strip, and the log viewer.
#include "AppBench.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "DragMove.h"
#include "LicenseAgreementDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SetupDlg.h"
#include "ShowLogDlg.h"
#include "WelcomeDlg.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QScrollBar>
#include <QTextEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QtTest>

class TestStartScreens : public QObject
{
    Q_OBJECT

private slots:
    void startUpKeys_data()
    {
        QTest::addColumn<bool>("qcMode");
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("showStart");
        QTest::addColumn<int>("boxClicks"); // clicks on the don't-show-again box
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("acceptedAfter");
        QTest::addColumn<QString>("showStartAfter");
        const QStringList both = {"LicenseAgreementDlg", "WelcomeDlg"};
        QTest::newRow("fresh") << false << "0" << "1" << 0 << both << "1" << "1";
        QTest::newRow("empty values read as defaults") << false << "" << "" << 0 << both << "1" << "1";
        QTest::newRow("accepted 2 is no flag") << false << "2" << "0" << 0 << QStringList{"LicenseAgreementDlg"} << "1" << "0";
        QTest::newRow("accepted text is 0") << false << "yes" << "0" << 0 << QStringList{"LicenseAgreementDlg"} << "1" << "0";
        QTest::newRow("QC mode skips agreement") << true << "0" << "1" << 0 << QStringList{"WelcomeDlg"} << "0" << "1";
        QTest::newRow("welcome 0") << false << "1" << "0" << 0 << QStringList() << "1" << "0";
        QTest::newRow("welcome 2 is no flag") << false << "1" << "2" << 0 << QStringList{"WelcomeDlg"} << "1" << "1";
        QTest::newRow("welcome text is no flag") << false << "1" << "on" << 0 << QStringList{"WelcomeDlg"} << "1" << "1";
        QTest::newRow("ticked") << false << "1" << "1" << 1 << QStringList{"WelcomeDlg"} << "1" << "0";
        QTest::newRow("ticked, unticked") << false << "1" << "1" << 2 << QStringList{"WelcomeDlg"} << "1" << "1";
    }

    void startUpKeys()
    {
        QFETCH(bool, qcMode);
        QFETCH(QString, accepted);
        QFETCH(QString, showStart);
        QFETCH(int, boxClicks);
        AppBench bench;
        bench.setConfig("LicenseAgreement", "Accepted", accepted.toUtf8());
        bench.setConfig("Setting_Misc", "ShowStartDlg", showStart.toUtf8());
        bench.setAnswer([boxClicks](QDialog *dialog) {
            if (auto *box = dialog->findChild<QAbstractButton *>("CEHCKBOX"))
                for (int i = 0; i < boxClicks; ++i)
                    box->click();
            return 1;
        });
        bench.start(qcMode ? EXEC_QC_TEST : EXEC_NORMAL);
        QStringList shown;
        for (const QString &entry : bench.dialogs())
            shown << entry.section(':', 0, 0);
        QTEST(shown, "shown");
        QTEST(bench.config("LicenseAgreement", "Accepted"), "acceptedAfter");
        QTEST(bench.config("Setting_Misc", "ShowStartDlg"), "showStartAfter");
    }

    void agreementShowsTheTextAndItsButton()
    {
        TestRoot root;
        // Shown as it stands, markup included; the seeded text of a fresh sandbox otherwise.
        const QByteArray text = "Terms <b>1</b>\nsecond line\n";
        root.writeFile("/root/Microscope/Copyright.txt", text);
        for (bool firstRun : {true, false}) {
            LicenseAgreementDlg dialog(firstRun);
            auto *edit = dialog.findChild<QPlainTextEdit *>("EDIT_TEXT");
            auto *button = dialog.findChild<QAbstractButton *>("BUTTON_ACCEPT");
            QCOMPARE(edit->toPlainText(), QString::fromUtf8(text));
            QVERIFY(edit->isReadOnly());
            QCOMPARE(button->text(), firstRun ? QStringLiteral("Accept") : QStringLiteral("Close"));
            QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
            QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
            QVERIFY(dialog.testAttribute(Qt::WA_GroupLeader));
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            QCOMPARE(dialog.pos(), QPoint(screen.width() / 2 - 275, screen.height() / 2 - 175));
            button->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QFile::remove(Paths::path("/root/Microscope/Copyright.txt"));
        LicenseAgreementDlg missing(true);
        QVERIFY(missing.findChild<QPlainTextEdit *>("EDIT_TEXT")->toPlainText().isEmpty());
    }

    void settingsShowingWritesNothing()
    {
        AppBench bench;
        bench.setConfig("LicenseAgreement", "Accepted", "0");
        QString buttonText;
        bench.setAnswer([&buttonText](QDialog *dialog) {
            if (auto *button = dialog->findChild<QAbstractButton *>("BUTTON_ACCEPT")) {
                buttonText = button->text();
                button->click();
            }
            return 1;
        });
        SetupDlg setup(nullptr);
        const QString before = bench.config("LicenseAgreement", "Accepted");
        QVERIFY(QMetaObject::invokeMethod(&setup, "on_BUTTON_EULA_clicked"));
        QCOMPARE(buttonText, QStringLiteral("Close"));
        QCOMPARE(bench.config("LicenseAgreement", "Accepted"), before);
        // The fresh sandbox carries our agreement text.
        LicenseAgreementDlg dialog(false);
        QVERIFY(dialog.findChild<QPlainTextEdit *>("EDIT_TEXT")->toPlainText().contains("END USER LICENSE AGREEMENT"));
    }

    void welcomeScreen()
    {
        WelcomeDlg dialog;
        auto *box = dialog.findChild<QAbstractButton *>("CEHCKBOX");
        auto *close = dialog.findChild<QAbstractButton *>("BUTTON_CLOSE");
        QVERIFY(!box->isChecked() && !dialog.m_bDontShowAgain);
        QVERIFY(close->text().isEmpty());
        dialog.show();
        // The caption lies under the box, so where the two overlap the box takes the tap.
        QCOMPARE(dialog.childAt(55, 324), box);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(10, 13));
        QVERIFY(box->isChecked() && dialog.m_bDontShowAgain);
        QTest::mouseClick(close, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void drag_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QPoint>("expected"); // window position, from (100, 100)
        QTest::newRow("strip, y 19") << QPoint(200, 19) << QPoint(230, 59) << QPoint(130, 140);
        QTest::newRow("strip, y 0, left edge") << QPoint(0, 0) << QPoint(-5, 3) << QPoint(95, 103);
        QTest::newRow("y 20 is below the strip") << QPoint(200, 20) << QPoint(230, 60) << QPoint(100, 100);
        QTest::newRow("clamped left and top") << QPoint(10, 10) << QPoint(-500, -500) << QPoint(0, 0);
        // (-1, -1): the screen's bottom right corner less the window's size
        QTest::newRow("clamped right and bottom") << QPoint(10, 10) << QPoint(5000, 5000) << QPoint(-1, -1);
    }

    void drag()
    {
        QFETCH(QPoint, press);
        QFETCH(QPoint, to);
        QFETCH(QPoint, expected);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        if (expected == QPoint(-1, -1))
            expected = QPoint(screen.width() - 550, screen.height() - 350);
        LicenseAgreementDlg dialog(true);
        dialog.move(100, 100);
        const auto send = [&dialog](QEvent::Type type, QPoint local) {
            QMouseEvent event(type, local, dialog.mapToGlobal(local), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
            QApplication::sendEvent(&dialog, &event);
        };
        send(QEvent::MouseButtonPress, press);
        send(QEvent::MouseMove, to);
        QCOMPARE(dialog.pos(), expected);
        send(QEvent::MouseButtonRelease, to);
        send(QEvent::MouseMove, to + QPoint(40, 40)); // released: no more moving
        QCOMPARE(dialog.pos(), expected);
    }

    void logViewerReloadClearClose()
    {
        TestRoot root;
        ShowLogDlg viewer;
        auto *edit = viewer.findChild<QTextEdit *>("EDIT_LOG");
        auto *label = viewer.findChild<QLabel *>("LABEL_TIMEOUT");
        const auto click = [&viewer](const char *name) { viewer.findChild<QAbstractButton *>(name)->click(); };
        QVERIFY(viewer.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(edit->toPlainText().isEmpty());
        QCOMPARE(label->text(), QStringLiteral("Timeout Count :"));
        click("BUTTON_RELOAD"); // no log yet: nothing changes
        QCOMPARE(label->text(), QStringLiteral("Timeout Count :"));

        QByteArray log;
        for (int i = 0; i < 400; ++i)
            log += "TX <b>F" + QByteArray::number(i) + "</b> RX OK\n";
        root.writeFile("/root/log", log);
        g_TimeoutCount = 7;
        viewer.show();
        click("BUTTON_RELOAD");
        QCOMPARE(edit->toPlainText(), QString::fromUtf8(log));
        QCOMPARE(label->text(), QStringLiteral("Timeout Count : 7"));
        QVERIFY(edit->verticalScrollBar()->maximum() > 0);
        QCOMPARE(edit->verticalScrollBar()->value(), edit->verticalScrollBar()->maximum());

        click("BUTTON_CLOSE"); // hides; a new show keeps the last reload's text
        QVERIFY(!viewer.isVisible());
        root.writeFile("/root/log", "newer\n");
        viewer.show();
        QCOMPARE(edit->toPlainText(), QString::fromUtf8(log));
        click("BUTTON_CLEAR"); // the text box only
        QVERIFY(edit->toPlainText().isEmpty());
        QFile file(Paths::path("/root/log"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("newer\n"));
        g_TimeoutCount = 0;
    }

    void logViewerCopy()
    {
        TestRoot root;
        root.writeFile("/root/log", "line 1\nline 2\n");
        const QString folder = root.makeDir("/media/USB1");
        ShowLogDlg viewer;
        const auto copyInto = [&viewer](const QString &target) {
            QString caption, start;
            bool native = true;
            DialogRunner::pushScript([&, target](QDialog *dialog) {
                auto *chooser = qobject_cast<QFileDialog *>(dialog);
                if (!chooser)
                    return 0;
                caption = chooser->windowTitle();
                start = chooser->directory().absolutePath();
                native = !chooser->testOption(QFileDialog::DontUseNativeDialog);
                if (target.isEmpty())
                    return 0;
                chooser->selectFile(target);
                return 1;
            });
            auto messages = std::make_shared<QStringList>();
            DialogScripts::pushAnswer(1, messages);
            viewer.findChild<QAbstractButton *>("BUTTON_COPY")->click();
            DialogRunner::clearScripts();
            if (caption != "Select Dialog" || start != Paths::media() || native)
                return QStringLiteral("wrong chooser: %1 %2").arg(caption, start);
            return messages->join('|');
        };
        QCOMPARE(copyInto(QString()), QString()); // cancelled: no message
        const QString stamp = QDateTime::currentDateTime().toString("ddMMyyyy_hhmm");
        const QString result = copyInto(folder);
        QVERIFY2(result.contains("Copy completed. log_"), qPrintable(result));
        const QString name = result.mid(result.indexOf("log_"));
        QVERIFY2(name.startsWith("log_" + stamp.left(8)), qPrintable(name));
        QFile copy(folder + "/" + name);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("line 1\nline 2\n"));
        // A name that is taken is never overwritten (the next minute's too, in case it turns now).
        const QString next = QDateTime::currentDateTime().addSecs(60).toString("ddMMyyyy_hhmm");
        root.writeFile("/media/USB1/log_" + QDateTime::currentDateTime().toString("ddMMyyyy_hhmm"), "kept");
        root.writeFile("/media/USB1/log_" + next, "kept");
        QCOMPARE(copyInto(folder), QStringLiteral("Copy failed."));
    }
};

QTEST_MAIN(TestStartScreens)
#include "tst_startscreens.moc"
