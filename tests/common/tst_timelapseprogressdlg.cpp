#include "DialogRunner.h"
#include "DialogScripts.h"
#include "TimeLapseProgressDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

QLabel *countLabel(TimeLapseProgressDlg &dlg) { return dlg.findChild<QLabel *>("LABEL_PROGRESS"); }

// The colour on the track's middle row at x (dialog coordinates).
QColor trackColour(TimeLapseProgressDlg &dlg, int x)
{
    return dlg.grab().toImage().pixelColor(x, 190);
}

} // namespace

class TestTimeLapseProgressDlg : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::clearLog();
        QLocale::setDefault(QLocale::c());
    }

    void barWidthIsTruncatedAndKeptOnTheTrack_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("width");
        QTest::newRow("3 of 10") << 3 << 10 << 120;
        QTest::newRow("1 of 3") << 1 << 3 << 133;
        QTest::newRow("2 of 3") << 2 << 3 << 266; // truncated, not rounded
        QTest::newRow("done") << 7 << 7 << 400;
        QTest::newRow("beyond the total") << 25 << 10 << 400;
        QTest::newRow("nothing yet") << 0 << 10 << 0;
        QTest::newRow("negative") << -4 << 10 << 0;
        QTest::newRow("no total") << 3 << 0 << 0;
    }

    void barWidthIsTruncatedAndKeptOnTheTrack()
    {
        QFETCH(int, current);
        QFETCH(int, total);
        QFETCH(int, width);
        QCOMPARE(TimeLapseProgressDlg::barWidth(current, total), width);
    }

    void paintingDrawsTheBarAndTheCountWithoutTouchingTheDefaultLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TimeLapseProgressDlg dlg;
        dlg.setTotalCount(10000);
        dlg.setCurrentCount(1234);
        const QColor inside = trackColour(dlg, 50 + 40);
        const QColor outside = trackColour(dlg, 50 + 60);
        QCOMPARE(countLabel(dlg)->text(), QString("1,234 / 10,000"));
        QCOMPARE(QLocale().name(), QString("de_DE"));
        QCOMPARE(outside, QColor(Qt::white));
        QVERIFY(inside.blue() > inside.red() + 40); // the blue bar
    }

    void aCountBeyondTheTotalStaysOnTheTrack()
    {
        TimeLapseProgressDlg dlg;
        dlg.setTotalCount(10);
        dlg.setCurrentCount(30);
        const QColor end = trackColour(dlg, 449);
        const QColor beyond = trackColour(dlg, 460);
        QVERIFY(end.blue() > end.red() + 40);
        QVERIFY(qAbs(beyond.red() - beyond.blue()) < 30); // the background, not the bar
        QCOMPARE(countLabel(dlg)->text(), QString("30 / 10"));
    }

    void countedAndBusyModes()
    {
        TimeLapseProgressDlg dlg;
        QCOMPARE(dlg.size(), QSize(500, 300));
        auto *stop = dlg.findChild<QPushButton *>("BUTTON_STOP");
        auto *busy = dlg.findChild<QProgressBar *>("PROGRESSBAR");
        QVERIFY(stop->isHidden());
        QVERIFY(!busy->isHidden());
        QCOMPARE(busy->maximum(), 0);
        dlg.setTotalCount(5);
        QCOMPARE(dlg.getTotalCount(), 5); // owners count up to the total they gave
        QVERIFY(!stop->isHidden());
        QVERIFY(!countLabel(dlg)->isHidden());
        QVERIFY(busy->isHidden());
        dlg.setEnableStop(false);
        QVERIFY(stop->isHidden());
        dlg.setTotalCount(0);
        QVERIFY(!busy->isHidden());
        QVERIFY(countLabel(dlg)->isHidden());
        dlg.setMessage("Loading ...");
        QCOMPARE(DialogScripts::messageText(&dlg), QString("Loading ..."));
        QVERIFY(!QPixmap(":/UI/SaveOptions/progress bar2.png").isNull());
    }

    void stopInSignalModeLeavesClosingToTheOwner()
    {
        auto *dlg = new TimeLapseProgressDlg;
        dlg->setTotalCount(3);
        dlg->setSignalMode(true);
        QSignalSpy stop(dlg, &TimeLapseProgressDlg::signalOKClicked);
        bool openAfterStop = false;
        DialogScripts::pushAct([&](QDialog *dialog) {
            for (int i = 1; i <= 3; ++i)
                dlg->setCurrentCount(i);
            DialogRunner::click(dialog, "BUTTON_STOP");
            openAfterStop = dialog->isVisible();
            dialog->close();
        });
        dlg->exec();
        QVERIFY(openAfterStop);
        QCOMPARE(stop.count(), 1);
        delete dlg;
    }

    void stopOutsideSignalModeAccepts()
    {
        DialogScripts::pushClick("BUTTON_STOP");
        TimeLapseProgressDlg dlg;
        dlg.setTotalCount(3);
        QCOMPARE(dlg.exec(), 1);
    }
};

QTEST_MAIN(TestTimeLapseProgressDlg)
#include "tst_timelapseprogressdlg.moc"
