// Counts from the defaults repeated on one field with nothing changed, as a user repeats them
// (Count, Next count, Count, ...): each autofocus scans around the height the count before left,
// and the user may have focused anywhere first. The counts must agree with one another and with
// what the same engine counts on that field in focus.
#include "CellCountRunBench.h"
#include "CellCountWidget.h"
#include "SampleRenderer.h"
#include "SimulatedInstrument.h"
#include "VideoWidget.h"
#include "VirtualInstrument.h"
#include "ui_CellCountWidget.h"

#include <QtTest>
#include <algorithm>

class TestCellCountRepeat : public CellCountRunBench
{
    Q_OBJECT

    struct Count
    {
        double heightUm; // above the specimen's focus
        int total;
        double viability;
    };

    double trueFocus() const { return m_bench->sim->camera().renderer().trueFocusSteps(1); }
    // Places the stage at once, as the focus knob would, heightUm above the focus.
    void focusAt(double heightUm)
    {
        const double physical = trueFocus() + heightUm * SampleRenderer::StepsPerUm;
        scope().setStagePosition(int(std::lround(physical)) - scope().state().stageCounterOffset);
    }

    // From the live view: Count, and back to live with Next count.
    Count countHere()
    {
        Count c{0, 0, 0};
        count();
        if (page()->currentState() != CELLCOUNT_RESULT)
            return c;
        const int live = page()->liveNumber(), dead = page()->deadNumber();
        c = {(scope().state().stagePhysical() - trueFocus()) / SampleRenderer::StepsPerUm, live + dead,
             live + dead ? 100.0 * live / (live + dead) : 0.0};
        qInfo("count at %+.1f um: %d cells, viability %.1f %%", c.heightUm, c.total, c.viability);
        QTest::mouseClick(form()->BUTTON_NEXT_COUNT, Qt::LeftButton);
        if (!QTest::qWaitFor([this] { return video()->isRunning(); }, 15000) || !m_bench->waitUnlocked())
            c.total = 0;
        return c;
    }

private slots:
    void cleanup() { endCase(); }

    void repeatedCountsAgree()
    {
        startLive();
        QVector<Count> counts;
        for (double startUm : {-60.0, 10.0, 90.0}) { // where the user left the focus before Count
            focusAt(startUm);
            for (int i = 0; i < 2; ++i) {
                counts << countHere();
                QVERIFY(counts.last().total > 0);
                QVERIFY(m_autofocused);
            }
        }

        // The same field in focus, counted without the autofocus.
        form()->CHKBOX_AF->setChecked(false);
        focusAt(0);
        const Count inFocus = countHere();
        QVERIFY(inFocus.total > 0);

        auto span = [&](auto member) {
            const auto [lo, hi] = std::minmax_element(counts.begin(), counts.end(),
                                                      [&](const Count &a, const Count &b) { return a.*member < b.*member; });
            return std::make_pair(double((*lo).*member), double((*hi).*member));
        };
        const auto heights = span(&Count::heightUm), totals = span(&Count::total), viability = span(&Count::viability);
        const QString seen = QString("heights %1..%2 um, totals %3..%4, viability %5..%6 %, in focus %7")
                                 .arg(heights.first).arg(heights.second).arg(totals.first).arg(totals.second)
                                 .arg(viability.first).arg(viability.second).arg(inFocus.total);
        qInfo("%s", qPrintable(seen));
        QVERIFY2(heights.second - heights.first <= 2.0, qPrintable(seen));
        QVERIFY2(std::abs((heights.first + heights.second) / 2 - 20.0) <= 3.0, qPrintable(seen)); // AF_Offset above focus
        QVERIFY2(totals.second - totals.first <= 0.03 * totals.first, qPrintable(seen));
        QVERIFY2(viability.second - viability.first <= 2.0, qPrintable(seen));
        QVERIFY2(std::abs(totals.first - inFocus.total) <= 0.05 * inFocus.total
                     && std::abs(totals.second - inFocus.total) <= 0.05 * inFocus.total,
                 qPrintable(seen));
    }
};

QTEST_MAIN(TestCellCountRepeat)
#include "tst_cellcount_repeat.moc"
