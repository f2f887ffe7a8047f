#include "DateTimer.h"
#include "LBLabel.h"
#include "LDoubleSpinBox.h"
#include "LSpinBox.h"
#include "QElideLabel.h"

#include <QSignalSpy>
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

} // namespace

class TestSmallWidgets : public QObject
{
    Q_OBJECT
private slots:
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
        QVERIFY(QRegularExpression("^\\d{4}/\\d{2}/\\d{2}$").match(date).hasMatch());
        QVERIFY(QRegularExpression("^\\d{2}:\\d{2}$").match(time).hasMatch());
    }

    void spinBoxReportsItsArrows()
    {
        Probe<LSpinBox> box;
        box.setRange(0, 100);
        box.setValue(10);
        box.resize(120, 30);
        box.show();
        QSignalSpy pressed(&box, &LSpinBox::mouseButtonPressed);
        QSignalSpy released(&box, &LSpinBox::mouseButtonReleased);
        QTest::mousePress(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxUp));
        QTest::mouseRelease(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxUp));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0), QVariantList({11, true}));
        QCOMPARE(released.count(), 1);
        QCOMPARE(released.at(0).at(1).toBool(), true);

        QTest::mousePress(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxDown));
        QTest::mouseRelease(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxDown));
        QCOMPARE(pressed.at(1), QVariantList({10, false}));

        QTest::mousePress(&box, Qt::LeftButton, {}, QPoint(10, 15)); // the text part
        QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(10, 15));
        QCOMPARE(pressed.count(), 2);

        box.m_bMouseLocked = true;
        QTest::mousePress(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxUp));
        QTest::mouseRelease(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxUp));
        QCOMPARE(pressed.count(), 2);
        QCOMPARE(box.value(), 10);
    }

    void doubleSpinBoxReportsItsArrows()
    {
        Probe<LDoubleSpinBox> box;
        box.setRange(0, 10);
        box.setSingleStep(0.5);
        box.setValue(2.0);
        box.resize(120, 30);
        box.show();
        QSignalSpy pressed(&box, &LDoubleSpinBox::mouseButtonPressed);
        QTest::mousePress(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxUp));
        QTest::mouseRelease(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxUp));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).toDouble(), 2.5);
        QCOMPARE(pressed.at(0).at(1).toBool(), true);
        box.m_bMouseLocked = true;
        QTest::mousePress(&box, Qt::LeftButton, {}, box.arrow(QStyle::SC_SpinBoxDown));
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(box.value(), 2.5);
    }

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

    void elideLabelShortensToItsWidth()
    {
        const QString text = "A rather long name of a time-lapse image folder";
        QElideLabel label(text);
        label.resize(80, 20);
        label.show();
        QVERIFY(label.elidedText().endsWith(QChar(0x2026)));
        QVERIFY(label.elidedText().size() < text.size());
        label.resize(1000, 20);
        QCOMPARE(label.elidedText(), text);
        label.setText("Short");
        QCOMPARE(label.elidedText(), QString("Short"));

        QElideLabel left(text, Qt::ElideLeft);
        left.resize(80, 20);
        left.show();
        QVERIFY(left.elidedText().startsWith(QChar(0x2026)));
        QVERIFY(!left.grab().isNull());
    }
};

QTEST_MAIN(TestSmallWidgets)
#include "tst_smallwidgets.moc"
