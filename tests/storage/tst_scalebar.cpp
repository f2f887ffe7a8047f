#include "ScaleBar.h"
#include "TestRoot.h"

#include <QSignalSpy>
#include <QtTest>

// A sandbox with a configuration file, a ScaleBar built after it, and spies on both signals.
struct Rig
{
    explicit Rig(const QByteArray &ini) : written(config(ini)), sizes(&bar, &ScaleBar::signalPixelSizeChanged),
        records(&bar, &ScaleBar::signalShowScaleBar)
    {
    }
    bool config(const QByteArray &ini) const
    {
        return !root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", ini).isEmpty();
    }
    TSScaleBar last() const { return records.last().at(0).value<TSScaleBar>(); }
    float lastSize() const { return sizes.last().at(0).toFloat(); }

    TestRoot root;
    bool written;
    ScaleBar bar;
    QSignalSpy sizes;
    QSignalSpy records;
};

class TestScaleBar : public QObject
{
    Q_OBJECT
private slots:
    void aNewRecordHasItsDefaults()
    {
        TestRoot root;
        ScaleBar bar;
        const TSScaleBar &r = bar.m_ScaleBarInfo;
        QVERIFY(!r.show && r.corner == 0 && r.lengthUm == 0 && r.lengthPixels == 0 && r.lineWidth == 0);
        QCOMPARE(r.topLeft, QPointF(20, 20));
        QCOMPARE(r.topRight, QPointF(1252, 20));
        QCOMPARE(r.bottomLeft, QPointF(20, 940));
        QCOMPARE(r.bottomRight, QPointF(1252, 940));
        QCOMPARE(r.color, QColor(Qt::yellow));
        QVERIFY(!r.noObjective && !r.resetPosition && r.movable && !r.useViewPixelSize);
        QCOMPARE(r.fontSize, 10);
        QCOMPARE(bar.m_CMOSPixelSize, 3.63f);
        QCOMPARE(bar.m_ReductionLensMagnification, 0.655f);
        QVERIFY(bar.m_bReadLensSetting);
    }

    void pixelSizePerObjective_data()
    {
        QTest::addColumn<QByteArray>("lens");
        QTest::addColumn<QByteArray>("maker");
        QTest::addColumn<float>("pixelSize");
        QTest::newRow("10X") << QByteArray("10X") << QByteArray() << 0.5541985f;
        QTest::newRow("4X") << QByteArray("4X") << QByteArray() << 1.3854963f;
        QTest::newRow("20X") << QByteArray("20X") << QByteArray() << 0.27709925f;
        QTest::newRow("10X Olympus") << QByteArray("10X") << QByteArray("Olympus") << 0.49877867f;
        QTest::newRow("10X Zeiss") << QByteArray("10X") << QByteArray("Zeiss") << 0.45721379f;
        QTest::newRow("10X Quorva") << QByteArray("10X") << QByteArray("Quorva") << 0.5541985f;
        QTest::newRow("no unit letter") << QByteArray("10") << QByteArray() << float(3.63f / (1 * 0.655f));
        QTest::newRow("empty position") << QByteArray("N/A") << QByteArray() << -1.0f;
        QTest::newRow("reads as 0") << QByteArray("0X") << QByteArray() << -1.0f;
        QTest::newRow("no number") << QByteArray("abcX") << QByteArray() << -1.0f;
        QTest::newRow("negative") << QByteArray("-10X") << QByteArray() << -1.0f;
    }
    void pixelSizePerObjective()
    {
        QFETCH(QByteArray, lens);
        QFETCH(QByteArray, maker);
        QFETCH(float, pixelSize);
        QByteArray ini = "[Lens]\n1=10X\n3=" + lens + "\n";
        if (!maker.isEmpty())
            ini += "[LensType]\n3=" + maker + "\n";
        Rig rig(ini);
        rig.bar.setCurrentObjectiveLensPosition(1); // a working lens first
        rig.bar.setCurrentObjectiveLensPosition(3);
        QCOMPARE(rig.sizes.count(), 2);
        QCOMPARE(rig.lastSize(), pixelSize);
        QCOMPARE(rig.bar.m_PixelSize, pixelSize);
        QCOMPARE(rig.bar.m_CurrentObjectiveLensPosition, 3);
        QCOMPARE(rig.bar.m_ScaleBarInfo.noObjective, pixelSize < 0);
        QCOMPARE(rig.records.count(), 0);

        // The record of the scale bar: never a negative length, not drawable without objective.
        rig.bar.slotShowScaleBar(true);
        QCOMPARE(rig.records.count(), 1);
        const TSScaleBar r = rig.last();
        QVERIFY(r.show);
        QCOMPARE(r.noObjective, pixelSize < 0);
        QVERIFY(r.lengthPixels >= 0);
        if (pixelSize > 0)
            QCOMPARE(r.lengthPixels, 10.0f / pixelSize);
    }

    void theRecordFollowsTheScaleBarKeys()
    {
        Rig rig("[Lens]\n1=10X\n3=20X\n[ScaleBar]\nScaleBarColor=4\nScaleBarFont=14\nScaleBarSize=2\n"
                "ScaleBarPosition=3\n");
        rig.bar.setCurrentObjectiveLensPosition(3);
        rig.bar.slotShowScaleBar(true);
        TSScaleBar r = rig.last();
        QCOMPARE(r.lengthUm, 100);
        QCOMPARE(r.lengthPixels, 360.88153f);
        QCOMPARE(r.color, QColor(Qt::cyan));
        QCOMPARE(r.fontSize, 14);
        QCOMPARE(r.corner, 3);
        QCOMPARE(r.lineWidth, 4);
        QVERIFY(!r.noObjective);

        rig.bar.setCurrentObjectiveLensPosition(1);
        rig.config("[Lens]\n1=10X\n[ScaleBar]\nScaleBarSize=1\n");
        rig.bar.slotShowScaleBar(false);
        r = rig.last();
        QVERIFY(!r.show);
        QCOMPARE(r.lengthUm, 50);
        QCOMPARE(r.lengthPixels, 90.22038f);
        QCOMPARE(r.color, QColor(Qt::red)); // defaults of the missing keys
        QCOMPARE(r.fontSize, 10);
        QCOMPARE(r.corner, 2);
        // An unknown size keeps the length; out-of-range colours and corners are brought into range.
        rig.config("[Lens]\n1=10X\n[ScaleBar]\nScaleBarSize=5\nScaleBarColor=12\nScaleBarPosition=9\n");
        rig.bar.slotShowScaleBar(true);
        r = rig.last();
        QCOMPARE(r.lengthUm, 50);
        QCOMPARE(r.color, QColor(Qt::gray));
        QCOMPARE(r.corner, 3);
        rig.config("[Lens]\n1=10X\n[ScaleBar]\nScaleBarColor=-3\nScaleBarPosition=-1\n");
        rig.bar.slotShowScaleBar(true);
        r = rig.last();
        QCOMPARE(r.color, QColor(Qt::red));
        QCOMPARE(r.corner, 0);
        QCOMPARE(r.lengthUm, 10);
    }

    void positionsBelowOneAreIgnored()
    {
        Rig rig("[Lens]\n1=10X\n");
        // Before any position the bar cannot be drawn.
        rig.bar.slotShowScaleBar(true);
        QVERIFY(rig.last().noObjective);
        QCOMPARE(rig.last().lengthPixels, 0.0f);
        rig.bar.setCurrentObjectiveLensPosition(1);
        rig.bar.setCurrentObjectiveLensPosition(0);
        rig.bar.setCurrentObjectiveLensPosition(-1);
        QCOMPARE(rig.sizes.count(), 1);
        QCOMPARE(rig.bar.m_CurrentObjectiveLensPosition, 1);
        QCOMPARE(rig.bar.m_PixelSize, 0.5541985f);
    }

    void readSettingTakesChangesAtOnce()
    {
        Rig rig("[Lens]\n2=10X\n");
        rig.bar.setCurrentObjectiveLensPosition(2);
        rig.bar.slotShowScaleBar(true);
        rig.sizes.clear();
        rig.records.clear();

        // A new maker and size take effect; show is left as it was.
        rig.config("[Lens]\n2=10X\n[LensType]\n2=Zeiss\n[ScaleBar]\nScaleBarSize=1\n");
        rig.bar.readSetting();
        QCOMPARE(rig.sizes.count(), 1);
        QCOMPARE(rig.lastSize(), 0.45721379f);
        QCOMPARE(rig.records.count(), 1);
        QVERIFY(rig.last().show);
        QCOMPARE(rig.last().lengthPixels, 50.0f / 0.45721379f);

        // A lens that now reads as 0: no objective, and not the old lens's pixel size.
        rig.config("[Lens]\n2=0X\n");
        rig.bar.readSetting();
        QCOMPARE(rig.lastSize(), -1.0f);
        QVERIFY(rig.last().noObjective);
        QVERIFY(rig.last().lengthPixels >= 0);
        rig.config("[Lens]\n2=N/A\n");
        rig.bar.readSetting();
        QCOMPARE(rig.bar.m_PixelSize, -1.0f);
        QVERIFY(rig.bar.m_ScaleBarInfo.noObjective);

        // The lens installed again.
        rig.config("[Lens]\n2=4X\n");
        rig.bar.readSetting();
        QCOMPARE(rig.bar.m_PixelSize, 1.3854963f);
        QVERIFY(!rig.bar.m_ScaleBarInfo.noObjective);

        // With lens reading switched off only the scale-bar keys are read and no size is sent.
        rig.bar.m_bReadLensSetting = false;
        rig.config("[Lens]\n2=10X\n[ScaleBar]\nScaleBarSize=2\n");
        const int before = rig.sizes.count();
        rig.bar.readSetting();
        QCOMPARE(rig.sizes.count(), before);
        QCOMPARE(rig.bar.m_PixelSize, 1.3854963f);
        QCOMPARE(rig.last().lengthUm, 100);
        QCOMPARE(rig.last().lengthPixels, 100.0f / 1.3854963f);
    }

    void cameraGeometryIsReadAtConstruction()
    {
        Rig rig("[Lens]\n1=10X\n[ScaleBar]\nCMOSPixelSize=5.2\nReductionLensMagnification=0.5\n");
        QCOMPARE(rig.bar.m_CMOSPixelSize, 5.2f);
        QCOMPARE(rig.bar.m_ReductionLensMagnification, 0.5f);
        rig.bar.setCurrentObjectiveLensPosition(1);
        QCOMPARE(rig.bar.m_PixelSize, 5.2f / (10.0f * 0.5f));
    }
};

QTEST_GUILESS_MAIN(TestScaleBar)
#include "tst_scalebar.moc"
