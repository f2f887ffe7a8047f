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
    // QSettings reads a file again only when its size or time stamp changed: a rewrite of the same
    // size within the millisecond of the last one gets a later time stamp, as a later edit would.
    bool config(const QByteArray &ini)
    {
        QFile file(root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", ini));
        return file.open(QIODevice::ReadWrite)
               && file.setFileTime(QDateTime::currentDateTime().addSecs(++writes), QFileDevice::FileModificationTime);
    }
    TSScaleBar last() const { return records.last().at(0).value<TSScaleBar>(); }

    TestRoot root;
    int writes = 0;
    bool written;
    ScaleBar bar;
    QSignalSpy sizes;
    QSignalSpy records;
};

class TestScaleBar : public QObject
{
    Q_OBJECT
private slots:
    void pixelSizePerObjective_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<float>("pixelSize");
        QTest::newRow("10X") << QByteArray("3=10X\n") << 0.5541985f;
        QTest::newRow("10X Olympus") << QByteArray("3=10X\n[LensType]\n3=Olympus\n") << 0.49877867f;
        QTest::newRow("10X Zeiss") << QByteArray("3=10X\n[LensType]\n3=Zeiss\n") << 0.45721379f;
        QTest::newRow("camera keys") << QByteArray("3=10X\n[ScaleBar]\nCMOSPixelSize=5.2\nReductionLensMagnification=0.5\n") << 1.04f;
        QTest::newRow("no unit letter") << QByteArray("3=10\n") << float(3.63f / 0.655f);
        QTest::newRow("empty position") << QByteArray("3=N/A\n") << -1.0f;
        QTest::newRow("reads as 0") << QByteArray("3=0X\n") << -1.0f;
        QTest::newRow("no number") << QByteArray("3=abcX\n") << -1.0f;
        QTest::newRow("negative") << QByteArray("3=-10X\n") << -1.0f;
    }
    void pixelSizePerObjective()
    {
        QFETCH(QByteArray, ini);
        QFETCH(float, pixelSize);
        Rig rig("[Lens]\n1=10X\n" + ini);
        rig.bar.setCurrentObjectiveLensPosition(1); // a working lens first
        rig.bar.setCurrentObjectiveLensPosition(3);
        QCOMPARE(rig.sizes.count(), 2);
        QCOMPARE(rig.sizes.last().at(0).toFloat(), pixelSize);
        // The record of the scale bar: never a negative length, not drawable without objective.
        rig.bar.slotShowScaleBar(true);
        const TSScaleBar r = rig.last();
        QCOMPARE(r.noObjective, pixelSize < 0);
        QCOMPARE(r.lengthPixels, pixelSize > 0 ? 10.0f / pixelSize : 0.0f);
        // Positions below one change nothing.
        rig.bar.setCurrentObjectiveLensPosition(0);
        QCOMPARE(rig.sizes.count(), 2);
    }

    void theRecordFollowsTheScaleBarKeys_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<int>("lengthUm");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("font");
        QTest::addColumn<int>("corner");
        QTest::newRow("set") << QByteArray("ScaleBarColor=4\nScaleBarFont=14\nScaleBarSize=2\nScaleBarPosition=3\n") << 100
                             << QColor(Qt::cyan) << 14 << 3;
        // Sizes, colours, corners and fonts outside their lists read as the defaults.
        QTest::newRow("too high") << QByteArray("ScaleBarSize=5\nScaleBarColor=12\nScaleBarPosition=9\n") << 10
                                  << QColor(Qt::red) << 10 << 2;
        QTest::newRow("too low") << QByteArray("ScaleBarColor=-3\nScaleBarPosition=-1\nScaleBarFont=-2\n") << 10
                                 << QColor(Qt::red) << 10 << 2;
        // Font size 0: the bar without its length text.
        QTest::newRow("no label") << QByteArray("ScaleBarFont=0\n") << 10 << QColor(Qt::red) << 0 << 2;
        QTest::newRow("not a number") << QByteArray("ScaleBarFont=big\n") << 10 << QColor(Qt::red) << 10 << 2;
    }
    void theRecordFollowsTheScaleBarKeys()
    {
        QFETCH(QByteArray, keys);
        QFETCH(int, lengthUm);
        Rig rig("[Lens]\n1=20X\n[ScaleBar]\nScaleBarSize=1\n");
        rig.bar.setCurrentObjectiveLensPosition(1);
        rig.bar.slotShowScaleBar(true);
        rig.config("[Lens]\n1=20X\n[ScaleBar]\n" + keys);
        rig.bar.slotShowScaleBar(false);
        const TSScaleBar r = rig.last();
        QVERIFY(!r.show && !r.noObjective);
        QCOMPARE(r.lengthUm, lengthUm);
        QCOMPARE(r.lengthPixels, float(lengthUm) / 0.27709925f);
        QTEST(r.color, "color");
        QTEST(r.fontSize, "font");
        QTEST(r.corner, "corner");
        QCOMPARE(r.lineWidth, 4);
    }

    void readSettingTakesChangesAtOnce()
    {
        Rig rig("[Lens]\n2=10X\n");
        rig.bar.slotShowScaleBar(true); // before any position the bar cannot be drawn
        QVERIFY(rig.last().noObjective && rig.last().lengthPixels == 0.0f);
        rig.bar.setCurrentObjectiveLensPosition(2);
        // A new maker and size take effect; show is left as it was.
        rig.config("[Lens]\n2=10X\n[LensType]\n2=Zeiss\n[ScaleBar]\nScaleBarSize=1\n");
        rig.bar.readSetting();
        QCOMPARE(rig.sizes.last().at(0).toFloat(), 0.45721379f);
        QVERIFY(rig.last().show);
        QCOMPARE(rig.last().lengthPixels, 50.0f / 0.45721379f);
        // With lens reading switched off only the scale-bar keys are read and no size is sent.
        rig.bar.m_bReadLensSetting = false;
        rig.config("[Lens]\n2=4X\n[ScaleBar]\nScaleBarSize=2\n");
        rig.bar.readSetting();
        QCOMPARE(rig.sizes.count(), 2);
        QCOMPARE(rig.last().lengthPixels, 100.0f / 0.45721379f);
    }
};

QTEST_GUILESS_MAIN(TestScaleBar)
#include "tst_scalebar.moc"
