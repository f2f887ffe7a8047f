#include "DateTimer.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "LBLabel.h"
#include "LDoubleSpinBox.h"
#include "LSpinBox.h"
#include "TimeLapseProgressDlg.h"

#include <QLabel>
#include <QStyleOptionSpinBox>
#include <QtTest>

namespace {

// A spin box that shows where its arrows are.
template <class Box>
class Probe : public Box
{
public:
    QPoint arrow(QStyle::SubControl control)
    {
        QStyleOptionSpinBox option;
        this->initStyleOption(&option);
        return this->style()->subControlRect(QStyle::CC_SpinBox, &option, control, this).center();
    }
};

// The colour on the progress track's middle row at x (dialog coordinates).
QColor trackColour(TimeLapseProgressDlg &dlg, int x)
{
    return dlg.grab().toImage().pixelColor(x, 190);
}

} // namespace

class TestSmallWidgets : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        DialogRunner::clearScripts();
        QLocale::setDefault(QLocale::c());
    }

    void dateTimerSendsOnlyWhenAsked()
    {
        DateTimer timer;
        QSignalSpy spy(&timer, &DateTimer::updateCurrentDateTime);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 0);
        const QDateTime before = QDateTime::currentDateTime();
        timer.updateDateTime();
        const QDateTime after = QDateTime::currentDateTime();
        QCOMPARE(spy.count(), 1);
        const QString date = spy.at(0).at(0).toString();
        const QString time = spy.at(0).at(1).toString();
        QVERIFY(date == before.toString("yyyy/MM/dd") || date == after.toString("yyyy/MM/dd"));
        QVERIFY(time == before.toString("HH:mm") || time == after.toString("HH:mm"));
    }

    // A press on an arrow reports the new value and the direction, a release the same; the text
    // part reports nothing; a locked box neither reports nor steps.
    void spinBoxesReportTheirArrows()
    {
        checkArrows<LSpinBox>(1, 10, 11);
        checkArrows<LDoubleSpinBox>(0.5, 2.0, 2.5);
    }

private:
    template <class Box, class Value>
    void checkArrows(Value step, Value start, Value up)
    {
        Probe<Box> box;
        box.setRange(0, 100);
        box.setSingleStep(step);
        box.setValue(start);
        box.resize(120, 30);
        box.show();
        QSignalSpy pressed(&box, &Box::mouseButtonPressed);
        QSignalSpy released(&box, &Box::mouseButtonReleased);
        auto click = [&box](QPoint at) {
            QTest::mousePress(&box, Qt::LeftButton, {}, at);
            QTest::mouseRelease(&box, Qt::LeftButton, {}, at);
        };
        click(box.arrow(QStyle::SC_SpinBoxUp));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).value<Value>(), up);
        QCOMPARE(pressed.at(0).at(1).toBool(), true);
        QCOMPARE(released.count(), 1);
        QCOMPARE(released.at(0).at(1).toBool(), true);
        click(box.arrow(QStyle::SC_SpinBoxDown));
        QCOMPARE(pressed.at(1).at(0).value<Value>(), start);
        QCOMPARE(pressed.at(1).at(1).toBool(), false);
        click(QPoint(10, 15)); // the text part
        box.m_bMouseLocked = true;
        click(box.arrow(QStyle::SC_SpinBoxUp));
        QCOMPARE(pressed.count(), 2);
        QCOMPARE(box.value(), start);
    }

private slots:
    void labelReportsEnterAndLeave()
    {
        LBLabel label;
        QSignalSpy entered(&label, &LBLabel::entered);
        QSignalSpy left(&label, &LBLabel::leaved);
        QEvent enter(QEvent::Enter);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&label, &enter);
        QCoreApplication::sendEvent(&label, &leave);
        QCOMPARE(entered.count(), 1);
        QCOMPARE(left.count(), 1);
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
        QCOMPARE(dlg.findChild<QLabel *>("LABEL_PROGRESS")->text(), count);
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

QTEST_MAIN(TestSmallWidgets)
#include "tst_smallwidgets.moc"
