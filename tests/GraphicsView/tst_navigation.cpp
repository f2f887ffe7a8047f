// The navigator record and its two widgets.
#include "Navigation.h"
#include "NavigationDrawWidget.h"
#include "NavigationWidget.h"

#include <QtTest>

class TestNavigation : public QObject
{
    Q_OBJECT

    static Navigation viewRecord(double displayW, double displayH, double x, double y)
    {
        Navigation n;
        n.setNavigationColor(1, 122, 255);
        n.setNavigationSize(100, 80);
        n.setImageSize(1280, 1024);
        n.setDisplaySize(displayW, displayH);
        n.setNavigationPosition(x, y);
        return n;
    }

private slots:
    void emptyRecord()
    {
        Navigation n;
        QVERIFY(!n.m_Color.isValid());
        QVERIFY(n.m_NavigationRect.isNull() && n.m_DisplayRect.isNull());
        QCOMPARE(n.m_ImageWidth, -1);
        QCOMPARE(n.m_DisplayHeight, -1.0f);
        n.setNavigationPosition(10, 10); // no image size: nothing to scale
        QVERIFY(n.m_DisplayRect.isNull());
        n.setNavigationSize(100, 80);
        QCOMPARE(n.m_NavigationRect, QRect(QPoint(0, 0), QPoint(99, 79)));
    }

    void displayRect_data()
    {
        QTest::addColumn<QRectF>("region");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("example") << QRectF(480, 384, 320, 256) << QRect(QPoint(37, 30), QPoint(61, 49));
        QTest::newRow("fitted") << QRectF(0, 0, 1280, 1024) << QRect(0, 0, 100, 80);
        QTest::newRow("larger than the image") << QRectF(0, 0, 2560, 2048) << QRect(0, 0, 200, 160);
        QTest::newRow("bottom right") << QRectF(960, 768, 320, 256) << QRect(QPoint(75, 60), QPoint(99, 79));
    }
    void displayRect()
    {
        QFETCH(QRectF, region);
        QFETCH(QRect, expected);
        QCOMPARE(viewRecord(region.width(), region.height(), region.x(), region.y()).m_DisplayRect, expected);
    }

    // The draw widget lets the mouse through and paints at once.
    void drawWidget()
    {
        QWidget parent;
        parent.resize(200, 200);
        auto *nav = new NavigationDrawWidget(&parent);
        nav->setGeometry(0, 0, 101, 81);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QVERIFY(nav->testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(!nav->autoFillBackground());
        nav->setNavigation(viewRecord(320, 256, 480, 384));
        QCOMPARE(nav->navigation().m_DisplayRect, QRect(QPoint(37, 30), QPoint(61, 49)));
        const QImage shown = nav->grab().toImage();
        QCOMPARE(shown.pixelColor(0, 40), QColor(1, 122, 255));
        QCOMPARE(shown.pixelColor(37, 40), QColor(1, 122, 255));
        QCOMPARE(shown.pixelColor(62, 40), QColor(1, 122, 255)); // a rectangle's outline lies one past its right
        QVERIFY(shown.pixelColor(50, 40) != QColor(1, 122, 255));
    }

    void widgetImageSize_data()
    {
        QTest::addColumn<int>("startWidth");
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("fixed");
        QTest::newRow("5 x 4") << 150 << QSize(1280, 1024) << QSize(150, 120);
        QTest::newRow("23 is not tried") << 150 << QSize(46, 69) << QSize(138, 207);
        QTest::newRow("narrow") << 13 << QSize(1280, 1024) << QSize(10, 8);
    }
    void widgetImageSize()
    {
        QFETCH(int, startWidth);
        QFETCH(QSize, image);
        QFETCH(QSize, fixed);
        NavigationWidget w;
        w.resize(startWidth, 100);
        w.setImageSize(image.width(), image.height());
        QCOMPARE(w.size(), fixed);
        QCOMPARE(w.outlineRect(), QRect(QPoint(0, 0), QPoint(fixed.width() - 2, fixed.height() - 2)));
    }

    void widgetRegion()
    {
        NavigationWidget w;
        w.resize(150, 120);
        const QImage outlineOnly = w.grab().toImage(); // no image size yet: the outline alone
        QCOMPARE(outlineOnly.pixelColor(0, 50), QColor(1, 122, 255));
        QVERIFY(w.regionRect().isNull());
        w.setImageSize(1280, 1024);
        w.setDisplaySize(320, 256);
        w.setCurrentPosition(480, 384);
        w.grab();
        QCOMPARE(w.regionRect(), QRect(QPoint(56, 45), QPoint(56 + 150 - 112 - 1, 45 + 120 - 90 - 1)));
    }
};

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
