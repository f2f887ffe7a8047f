#include "DialogRunner.h"
#include "DialogScripts.h"
#include "TimeLapseProgressDlg.h"

#include <QLabel>
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

    // The bar is painted to its width and never beyond the track; the count is grouped in the
    // C locale whatever the default locale is.
    void paintingDrawsTheBarAndTheCount_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("barEnd"); // the last x of the bar
        QTest::addColumn<QString>("count");
        QTest::newRow("1,234 of 10,000") << 1234 << 10000 << 50 + 49 << "1,234 / 10,000";
        QTest::newRow("beyond the total") << 30 << 10 << 449 << "30 / 10";
    }
    void paintingDrawsTheBarAndTheCount()
    {
        QFETCH(int, current);
        QFETCH(int, total);
        QFETCH(int, barEnd);
        QFETCH(QString, count);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TimeLapseProgressDlg dlg;
        dlg.setTotalCount(total);
        dlg.setCurrentCount(current);
        const QColor inside = trackColour(dlg, barEnd - 9);
        const QColor outside = trackColour(dlg, barEnd + 11);
        QCOMPARE(countLabel(dlg)->text(), count);
        QCOMPARE(QLocale().name(), QString("de_DE"));
        QVERIFY(inside.blue() > inside.red() + 40); // the blue bar
        QVERIFY(qAbs(outside.red() - outside.blue()) < 30); // the white track or the background
    }

    // Stop accepts, or in signal mode only reports and leaves the closing to the owner.
    void stopAcceptsOrReports()
    {
        DialogScripts::pushClick("BUTTON_STOP");
        TimeLapseProgressDlg plain;
        plain.setTotalCount(3);
        QCOMPARE(plain.exec(), 1);

        auto *dlg = new TimeLapseProgressDlg;
        dlg->setTotalCount(3);
        dlg->setSignalMode(true);
        QSignalSpy stop(dlg, &TimeLapseProgressDlg::signalOKClicked);
        bool openAfterStop = false;
        DialogScripts::pushAct([&](QDialog *dialog) {
            DialogRunner::click(dialog, "BUTTON_STOP");
            openAfterStop = dialog->isVisible();
            dialog->close();
        });
        dlg->exec();
        QVERIFY(openAfterStop);
        QCOMPARE(stop.count(), 1);
        delete dlg;
    }
};

QTEST_MAIN(TestTimeLapseProgressDlg)
#include "tst_timelapseprogressdlg.moc"
