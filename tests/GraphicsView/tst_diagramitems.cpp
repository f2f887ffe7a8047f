// The annotation items on a scene of the image size: band, move limit, signals, menus, group.
#include "DiagramEllipseItem.h"
#include "DiagramItemGroup.h"
#include "DiagramLineItem.h"
#include "DiagramPathItem.h"
#include "DiagramRectItem.h"
#include "DiagramTextItem.h"

#include <QtTest>
#include <QGraphicsScene>
#include <QGraphicsSceneContextMenuEvent>
#include <QMenu>
#include <QTextBlock>

namespace {

void comparePolygon(const QPolygonF &actual, const QVector<QPointF> &expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(QLineF(actual[i], expected[i]).length() < 1e-4, qPrintable(QString("point %1").arg(i)));
}

// Closes the next popup menu once it is shown, optionally after looking at the scene.
void closeNextMenu(std::function<void()> look = {})
{
    QTimer::singleShot(0, [look] {
        QTRY_VERIFY(QApplication::activePopupWidget());
        if (look)
            look();
        QApplication::activePopupWidget()->close();
    });
}

} // namespace

class TestDiagramItems : public QObject
{
    Q_OBJECT
    QGraphicsScene *m_Scene = nullptr;

private slots:
    void initTestCase() { qRegisterMetaType<QGraphicsItem *>(); }
    void init()
    {
        m_Scene = new QGraphicsScene(0, 0, 1280, 1024);
    }
    void cleanup() { delete m_Scene; }

    void typesAndFlags()
    {
        QMenu menu;
        const QList<QGraphicsItem *> items = {new DiagramPathItem(QPainterPath(), &menu), new DiagramRectItem(QRectF(), &menu),
                                              new DiagramEllipseItem(QRectF(), &menu), new DiagramLineItem(QLineF(), &menu),
                                              new DiagramTextItem(&menu), new DiagramItemGroup(&menu)};
        const QVector<int> types = {65538, 65539, 65540, 65542, 65544, 65546};
        for (int i = 0; i < items.size(); ++i) {
            QCOMPARE(items[i]->type(), types[i]);
            QVERIFY(items[i]->flags() & QGraphicsItem::ItemIsMovable);
            QVERIFY(items[i]->flags() & QGraphicsItem::ItemSendsGeometryChanges);
            QVERIFY(!(items[i]->flags() & QGraphicsItem::ItemIsSelectable));
            QCOMPARE(items[i]->zValue(), 0.0);
        }
        auto *line = static_cast<DiagramLineItem *>(items[3]);
        QCOMPARE(line->pen(), QPen(QBrush(Qt::red, Qt::SolidPattern), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QCOMPARE(DiagramEllipseItem(1, 2, 3, 4, nullptr).rect(), QRectF(1, 2, 3, 4));
        qDeleteAll(items);
    }

    void selectionBand_data()
    {
        QTest::addColumn<QLineF>("line");
        QTest::addColumn<QVector<QPointF>>("band");
        QTest::newRow("horizontal") << QLineF(0, 0, 100, 0) << QVector<QPointF>{{0, 20}, {0, -20}, {100, -20}, {100, 20}};
        QTest::newRow("vertical") << QLineF(0, 0, 0, 100) << QVector<QPointF>{{-20, 0}, {20, 0}, {20, 100}, {-20, 100}};
        QTest::newRow("zero length") << QLineF(5, 5, 5, 5) << QVector<QPointF>{{5, 25}, {5, -15}, {5, -15}, {5, 25}};
    }
    void selectionBand()
    {
        QFETCH(QLineF, line);
        QFETCH(QVector<QPointF>, band);
        DiagramLineItem item(line, nullptr);
        item.createSelectionPolygon();
        comparePolygon(item.selectionPolygon(), band);
    }

    // Without band the line's own geometry; with it, hits within 20 of the line.
    void bandIsHitAreaAndBounds()
    {
        auto *line = new DiagramLineItem(QLineF(100, 100, 300, 100), nullptr);
        m_Scene->addItem(line);
        const QRectF plain = line->boundingRect();
        QVERIFY(plain.height() < 3);
        QVERIFY(!line->contains(QPointF(200, 115)));
        line->createSelectionPolygon();
        QCOMPARE(line->boundingRect(), QRectF(100, 80, 200, 40));
        QVERIFY(line->contains(QPointF(200, 115)));
        QVERIFY(!line->contains(QPointF(200, 125)));
        QVERIFY(!line->contains(QPointF(90, 100))); // the band stops at the end points
        QCOMPARE(m_Scene->items(QPointF(200, 85)).value(0), line); // the scene's index knows the band
    }

    // Drags towards the edges: the bounding rectangle (the line's plain one) stops at the image.
    void moveLimit_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QPointF>("proposed");
        QTest::addColumn<QPointF>("expected");
        // A rectangle (10, 10, 100, 50) with pen 4: bounds 8..112 x 8..62.
        QTest::newRow("rect right") << "rect" << QPointF(2000, 0) << QPointF(1280 - 112, 0);
        QTest::newRow("rect left top") << "rect" << QPointF(-50, -50) << QPointF(-8, -8);
        QTest::newRow("rect bottom") << "rect" << QPointF(10, 5000) << QPointF(10, 1024 - 62);
        QTest::newRow("rect inside") << "rect" << QPointF(300, 400) << QPointF(300, 400);
        // A banded line (0, 500)-(200, 500) with pen 2: its plain bounds are 0..200 wide.
        QTest::newRow("line right") << "line" << QPointF(5000, 0) << QPointF(1280 - 201, 0);
        QTest::newRow("line up") << "line" << QPointF(0, -900) << QPointF(1, -499);
        // Wider than the image: held at the upper limit.
        QTest::newRow("huge") << "huge" << QPointF(100, 0) << QPointF(1280 - 2001, 0);
        QTest::newRow("ellipse") << "ellipse" << QPointF(2000, 2000) << QPointF(1280 - 112, 1024 - 62);
        QTest::newRow("path") << "path" << QPointF(-100, 0) << QPointF(); // left edge of its stroke at 0
        QTest::newRow("text") << "text" << QPointF(5000, 5000) << QPointF();
    }
    void moveLimit()
    {
        QFETCH(QString, kind);
        QFETCH(QPointF, proposed);
        QFETCH(QPointF, expected);
        QGraphicsItem *item = nullptr;
        if (kind == "rect" || kind == "ellipse") {
            QAbstractGraphicsShapeItem *shape = kind == "rect" ? static_cast<QAbstractGraphicsShapeItem *>(new DiagramRectItem(QRectF(10, 10, 100, 50), nullptr))
                                                               : new DiagramEllipseItem(QRectF(10, 10, 100, 50), nullptr);
            shape->setPen(QPen(Qt::red, 4));
            item = shape;
        } else if (kind == "line" || kind == "huge") {
            auto *line = new DiagramLineItem(kind == "line" ? QLineF(0, 500, 200, 500) : QLineF(0, 10, 2000, 10), nullptr);
            line->setPen(QPen(Qt::red, 2));
            line->createSelectionPolygon();
            item = line;
        } else if (kind == "path") {
            QPainterPath path(QPointF(10, 10));
            path.lineTo(60, 80);
            auto *p = new DiagramPathItem(path, nullptr);
            p->setPen(QPen(Qt::red, 2));
            item = p;
        } else {
            auto *text = new DiagramTextItem(nullptr);
            text->setPlainText("HeLa");
            item = text;
        }
        m_Scene->addItem(item);
        item->setPos(proposed);
        if (kind == "path")
            expected = QPointF(-item->boundingRect().left(), 0);
        if (kind == "text")
            expected = QPointF(1280, 1024) - QPointF(item->boundingRect().width(), item->boundingRect().height());
        QCOMPARE(item->pos(), expected);
        QVERIFY(kind == "huge" || kind == "line" || m_Scene->sceneRect().contains(item->sceneBoundingRect()));
    }

    void limitOutsideSceneOrWithoutScene()
    {
        DiagramRectItem loose(QRectF(0, 0, 10, 10), nullptr);
        loose.setPos(-5000, 7000); // no scene: any position
        QCOMPARE(loose.pos(), QPointF(-5000, 7000));
        auto *far = new DiagramRectItem(QRectF(0, 0, 10, 10), nullptr);
        far->setPos(3000, 3000);
        m_Scene->addItem(far);
        far->setPos(4000, 100); // wholly outside: unchanged
        QCOMPARE(far->pos(), QPointF(4000, 100));
    }

    // positionChange comes once per proposed move, before the move, limited or not.
    void signalsOfShapes()
    {
        auto *rect = new DiagramRectItem(QRectF(0, 0, 10, 10), nullptr);
        m_Scene->addItem(rect);
        QSignalSpy moved(rect, &DiagramRectItem::positionChange);
        QSignalSpy selected(rect, &DiagramRectItem::selectedChange);
        QPointF seen;
        connect(rect, &DiagramRectItem::positionChange, this, [&](QGraphicsItem *item) { seen = item->pos(); });
        rect->setPos(20, 20);
        rect->setPos(5000, 20);
        QCOMPARE(moved.count(), 2);
        QCOMPARE(seen, QPointF(20, 20));
        QCOMPARE(moved.at(0).at(0).value<QGraphicsItem *>(), rect);
        rect->setFlag(QGraphicsItem::ItemIsSelectable);
        rect->setSelected(true);
        QCOMPARE(selected.count(), 1);

        auto *text = new DiagramTextItem(nullptr);
        m_Scene->addItem(text);
        QSignalSpy textSelected(text, &DiagramTextItem::selectedChange);
        text->setPos(30, 30); // a text item announces no move
        text->setFlag(QGraphicsItem::ItemIsSelectable);
        text->setSelected(true);
        QCOMPARE(textSelected.count(), 1);
    }

    void textNeverEditable()
    {
        auto *text = new DiagramTextItem(nullptr);
        text->setPlainText("one\ntwo");
        m_Scene->addItem(text);
        QVERIFY(!(text->flags() & QGraphicsItem::ItemIsFocusable));
        QGraphicsSceneMouseEvent click(QEvent::GraphicsSceneMouseDoubleClick);
        click.setButton(Qt::LeftButton);
        click.setScenePos(text->sceneBoundingRect().center());
        QApplication::sendEvent(m_Scene, &click);
        QCOMPARE(text->textInteractionFlags(), Qt::NoTextInteraction);
        QSignalSpy lost(text, &DiagramTextItem::lostFocus);
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(m_Scene, &out); // nothing focused: no signal
        text->setAlignment(Qt::AlignRight | Qt::AlignBottom);
        for (QTextBlock b = text->document()->begin(); b.isValid(); b = b.next())
            QCOMPARE(b.blockFormat().alignment(), Qt::AlignRight | Qt::AlignBottom);
    }

    // A right click selects the item alone for the menu; an unselectable item ends deselected.
    void contextMenu_data()
    {
        QTest::addColumn<bool>("selectable");
        QTest::newRow("selectable") << true;
        QTest::newRow("not selectable") << false;
    }
    void contextMenu()
    {
        QFETCH(bool, selectable);
        QMenu menu;
        menu.addAction("Settings...");
        auto *other = new DiagramRectItem(QRectF(500, 500, 10, 10), &menu);
        auto *line = new DiagramLineItem(QLineF(10, 10, 100, 10), &menu);
        for (QGraphicsItem *item : {static_cast<QGraphicsItem *>(other), static_cast<QGraphicsItem *>(line)}) {
            m_Scene->addItem(item);
            item->setFlag(QGraphicsItem::ItemIsSelectable, true);
        }
        other->setSelected(true);
        line->setFlag(QGraphicsItem::ItemIsSelectable, selectable);
        bool selectedDuringMenu = false;
        closeNextMenu([&] { selectedDuringMenu = line->isSelected() && !other->isSelected(); });
        QGraphicsSceneContextMenuEvent event(QEvent::GraphicsSceneContextMenu);
        event.setScenePos(QPointF(50, 10));
        QApplication::sendEvent(m_Scene, &event);
        QVERIFY(selectedDuringMenu);
        QCOMPARE(line->isSelected(), selectable);
        QCOMPARE(bool(line->flags() & QGraphicsItem::ItemIsSelectable), selectable);
        QVERIFY(!other->isSelected());
        QVERIFY(event.isAccepted());
    }

    void groupAddsOnceAndStaysInside()
    {
        auto *group = new DiagramItemGroup(nullptr);
        auto *a = new QGraphicsLineItem(20, 940, 120, 940);
        auto *b = new QGraphicsSimpleTextItem("10 µm");
        b->setPos(50, 945);
        m_Scene->addItem(group);
        group->addItemListToGroup({a, b, a});
        group->addItemListToGroup({b});
        QCOMPARE(group->childItems().size(), 2);
        auto *selected = new DiagramRectItem(QRectF(0, 0, 5, 5), nullptr);
        m_Scene->addItem(selected);
        selected->setFlag(QGraphicsItem::ItemIsSelectable);
        selected->setSelected(true);
        group->setPos(0, 500); // dragged down: held inside, selection cleared
        QVERIFY(m_Scene->selectedItems().isEmpty());
        QVERIFY(m_Scene->sceneRect().contains(group->sceneBoundingRect()));
        QCOMPARE(group->sceneBoundingRect().bottom(), 1024.0);
    }
};

QTEST_MAIN(TestDiagramItems)
#include "tst_diagramitems.moc"
