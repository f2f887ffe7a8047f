// The annotation scene driven by mouse events on a view's viewport: drawing modes, keys,
// signals, copy, cut, paste, deletion and the freeing of every item exactly once.
#include "DiagramEllipseItem.h"
#include "DiagramLineItem.h"
#include "DiagramPathItem.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "DiagramTextItem.h"
#include "DialogRunner.h"
#include "DialogScripts.h"
#include "Globals.h"
#include "LGraphicsView.h"
#include "TMeasurementTool.h"
#include "Utilities.h"
#include "ViewEvents.h"

#include <QtTest>
#include <QComboBox>
#include <QGraphicsSceneMouseEvent>
#include <QLineEdit>
#include <QMenu>
#include <memory>

class TestDiagramScene : public QObject
{
    Q_OBJECT

    std::unique_ptr<LGraphicsView> m_View;
    DiagramScene *m_Scene = nullptr;
    std::unique_ptr<QSignalSpy> m_Inserted, m_Deleted;
    QVector<uchar> m_Frame = QVector<uchar>(1280 * 1024, 40);
    // Every annotation item seen, and how often each was destroyed.
    QHash<QObject *, int> m_Destroyed;

    QWidget *viewport() { return m_View->viewport(); }
    void press(QPoint p, Qt::MouseButton b = Qt::LeftButton) { mouse(viewport(), QEvent::MouseButtonPress, p, b); }
    void release(QPoint p, Qt::MouseButton b = Qt::LeftButton) { mouse(viewport(), QEvent::MouseButtonRelease, p, b); }
    void moveTo(QPoint p) { mouse(viewport(), QEvent::MouseMove, p); }
    void drag(QPoint from, QPoint to)
    {
        press(from);
        moveTo((from + to) / 2);
        moveTo(to);
        release(to);
    }
    // A press, moves and release given to the scene directly, at fractional scene points.
    void sceneEvent(QEvent::Type type, QPointF p, Qt::MouseButton b = Qt::LeftButton)
    {
        QGraphicsSceneMouseEvent event(type);
        event.setScenePos(p);
        event.setButton(type == QEvent::GraphicsSceneMouseMove ? Qt::NoButton : b);
        event.setButtons(type == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : b);
        QApplication::sendEvent(m_Scene, &event);
    }
    QGraphicsItem *lastInserted() { return m_Inserted->isEmpty() ? nullptr : m_Inserted->last().at(0).value<QGraphicsItem *>(); }
    uint key(QGraphicsItem *item) { return m_Scene->getItemKey(item); }
    void track()
    {
        for (QGraphicsItem *item : m_Scene->items())
            if (auto *object = dynamic_cast<QObject *>(item); object && !m_Destroyed.contains(object)) {
                m_Destroyed.insert(object, 0);
                connect(object, &QObject::destroyed, this, [this, object] { ++m_Destroyed[object]; });
            }
    }
    int annotationCount()
    {
        QList<QGraphicsItem *> list;
        return m_Scene->getDiagramItemList(list);
    }
    void verifyAllFreedOnce()
    {
        for (auto it = m_Destroyed.begin(); it != m_Destroyed.end(); ++it)
            QCOMPARE(it.value(), 1);
    }
    QGraphicsItem *addLine(QLineF line)
    {
        m_Scene->setMode(DiagramScene::InsertLine);
        drag(line.p1().toPoint(), line.p2().toPoint());
        return lastInserted();
    }

private slots:
    void initTestCase()
    {
        initializePseudoColorTable();
        qRegisterMetaType<QGraphicsItem *>();
    }
    void init()
    {
        m_View = std::make_unique<LGraphicsView>();
        m_View->resize(800, 600);
        m_View->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_View.get()));
        m_View->setImageData(7, m_Frame.data(), 8, 1, true);
        m_Scene = m_View->diagramScene();
        m_Inserted = std::make_unique<QSignalSpy>(m_Scene, &DiagramScene::itemInserted);
        m_Deleted = std::make_unique<QSignalSpy>(m_Scene, &DiagramScene::itemDeleted);
        m_Destroyed.clear();
    }
    void cleanup()
    {
        m_Inserted.reset();
        m_Deleted.reset();
        m_View.reset();
        verifyAllFreedOnce();
        DialogRunner::clearScripts();
    }

    void startsInMoveMode()
    {
        QCOMPARE(m_Scene->mode(), DiagramScene::MoveItem);
        QGraphicsItem *line = addLine(QLineF(100, 100, 300, 100));
        m_Scene->setMode(DiagramScene::MoveItem);
        m_Scene->setItemSelectableFlag(true);
        press(QPoint(200, 110)); // within the band
        release(QPoint(200, 110));
        QVERIFY(line->isSelected());
        m_Scene->setMode(DiagramScene::InsertRect);
        m_Scene->resetSelectedItem();
        press(QPoint(200, 100)); // drawing modes never select
        QVERIFY(!line->isSelected());
        release(QPoint(200, 100));
    }

    // Drags of the two-point modes: what stays, with which geometry, tool and signals.
    void twoPointModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("tool");
        QTest::newRow("line") << int(DiagramScene::InsertLine) << int(DiagramLineItem::Type) << 0;
        QTest::newRow("rect") << int(DiagramScene::InsertRect) << int(DiagramRectItem::Type) << 0;
        QTest::newRow("ellipse") << int(DiagramScene::InsertEllipse) << int(DiagramEllipseItem::Type) << int(TOOL_ELLIPSE);
        QTest::newRow("free hand") << int(DiagramScene::InsertFreeHand) << int(DiagramPathItem::Type) << int(TOOL_FREE_HAND);
    }
    void twoPointModes()
    {
        QFETCH(int, mode);
        QFETCH(int, type);
        QFETCH(int, tool);
        m_Scene->setItemColor(Qt::green);
        m_Scene->setItemThickness(3);
        m_Scene->setMode(mode);
        press(QPoint(50, 60)); // a click without movement: nothing stays, one key used
        release(QPoint(50, 60));
        track();
        QCOMPARE(annotationCount(), 0);
        drag(QPoint(300, 200), QPoint(100, 100)); // dragged up and left
        QCOMPARE(m_Inserted->count(), 1);
        QCOMPARE(m_Deleted->count(), 0);
        QGraphicsItem *item = lastInserted();
        QCOMPARE(item->type(), type);
        QCOMPARE(key(item), 2u);
        QCOMPARE(item->data(0).toUInt(), 2u);
        const QPen standard(QBrush(Qt::green, Qt::SolidPattern), 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
        if (auto *line = qgraphicsitem_cast<DiagramLineItem *>(item)) {
            QCOMPARE(line->line(), QLineF(300, 200, 100, 100));
            QCOMPARE(line->pen(), standard);
            QCOMPARE(line->selectionPolygon().size(), 4);
        } else {
            auto *shape = dynamic_cast<QAbstractGraphicsShapeItem *>(item);
            QCOMPARE(shape->pen(), standard);
            if (type == DiagramPathItem::Type) {
                // The stroke starts at the first move, not at the press point.
                const QPainterPath path = static_cast<DiagramPathItem *>(item)->path();
                QCOMPARE(path.elementAt(path.elementCount() - 2).x, 200.0);
                QCOMPARE(QPointF(path.elementAt(path.elementCount() - 1)), QPointF(100, 100));
                QCOMPARE(static_cast<DiagramPathItem *>(item)->m_MeasurementTool, tool);
            } else {
                const QRectF rect = type == DiagramRectItem::Type ? static_cast<DiagramRectItem *>(item)->rect()
                                                                  : static_cast<DiagramEllipseItem *>(item)->rect();
                QCOMPARE(rect, QRectF(100, 100, 200, 100));
                if (type == DiagramEllipseItem::Type)
                    QCOMPARE(static_cast<DiagramEllipseItem *>(item)->m_MeasurementTool, tool);
            }
        }
        // A move outside the image keeps the last shape drawn inside.
        if (type != DiagramPathItem::Type) {
            press(QPoint(700, 500));
            moveTo(QPoint(750, 550));
            sceneEvent(QEvent::GraphicsSceneMouseMove, QPointF(1400, 900));
            release(QPoint(750, 550));
            QCOMPARE(lastInserted()->sceneBoundingRect().right() < 800, true);
        }
    }

    // 1.0 is thrown away, 1.01 stays (line length, rectangle and ellipse width).
    void sizeThreshold_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("kept");
        for (int mode : {int(DiagramScene::InsertLine), int(DiagramScene::InsertRect), int(DiagramScene::InsertEllipse)}) {
            QTest::addRow("mode %d 1.0", mode) << mode << 1.0 << false;
            QTest::addRow("mode %d 1.01", mode) << mode << 1.01 << true;
        }
    }
    void sizeThreshold()
    {
        QFETCH(int, mode);
        QFETCH(double, size);
        QFETCH(bool, kept);
        m_Scene->setMode(mode);
        const QPointF start(100, 100);
        const QPointF end = start + (mode == DiagramScene::InsertLine ? QPointF(size, 0) : QPointF(size, 50));
        sceneEvent(QEvent::GraphicsSceneMousePress, start);
        track();
        sceneEvent(QEvent::GraphicsSceneMouseMove, end);
        sceneEvent(QEvent::GraphicsSceneMouseRelease, end);
        QCOMPARE(m_Inserted->count(), int(kept));
        QCOMPARE(annotationCount(), int(kept));
        // Moves after a discard draw nothing until the next press.
        sceneEvent(QEvent::GraphicsSceneMouseMove, end + QPointF(30, 30));
        QCOMPARE(annotationCount(), int(kept));
    }

    void angleCompletesAtThirdPress()
    {
        m_Scene->setMode(DiagramScene::InsertAngle);
        press(QPoint(100, 100));
        release(QPoint(100, 100));
        press(QPoint(200, 100), Qt::RightButton); // never acts on an angle
        press(QPoint(200, 100));
        release(QPoint(200, 100));
        QCOMPARE(m_Inserted->count(), 0);
        moveTo(QPoint(250, 50));
        press(QPoint(200, 20));
        QCOMPARE(m_Inserted->count(), 1);
        auto *angle = static_cast<DiagramPathItem *>(lastInserted());
        QCOMPARE(angle->m_MeasurementTool, int(TOOL_ANGLE));
        QCOMPARE(angle->path().elementCount(), 3);
        QCOMPARE(QPointF(angle->path().elementAt(2)), QPointF(200, 20));
        QCOMPARE(key(angle), 1u);
    }

    void segmentLine()
    {
        m_Scene->setMode(DiagramScene::InsertSegmentLine);
        press(QPoint(100, 100));
        press(QPoint(120, 100), Qt::RightButton); // one point: cancelled, its key announced
        QCOMPARE(m_Deleted->count(), 1);
        QCOMPARE(m_Deleted->at(0).at(0).toUInt(), 1u);
        QCOMPARE(annotationCount(), 0);
        press(QPoint(100, 100));
        press(QPoint(200, 150));
        moveTo(QPoint(300, 300)); // rubber band to the pointer
        press(QPoint(300, 300), Qt::RightButton);
        QCOMPARE(m_Inserted->count(), 1);
        auto *path = static_cast<DiagramPathItem *>(lastInserted());
        QCOMPARE(path->path().elementCount(), 2);
        QCOMPARE(path->m_MeasurementTool, int(TOOL_SEGMENT_LINE));
        QCOMPARE(key(path), 2u);
    }

    void polygon_data()
    {
        QTest::addColumn<QVector<QPoint>>("vertices");
        QTest::addColumn<bool>("kept");
        QTest::newRow("triangle") << QVector<QPoint>{{100, 100}, {200, 100}, {150, 200}} << true;
        QTest::newRow("flat") << QVector<QPoint>{{100, 100}, {200, 100}, {300, 100}} << false;
        QTest::newRow("upright") << QVector<QPoint>{{100, 100}, {100, 200}, {100, 300}} << false;
        QTest::newRow("two points") << QVector<QPoint>{{100, 100}, {200, 300}} << false;
    }
    void polygon()
    {
        QFETCH(QVector<QPoint>, vertices);
        QFETCH(bool, kept);
        m_Scene->setMode(DiagramScene::InsertPolygon);
        for (QPoint p : vertices)
            press(p);
        press(vertices.last(), Qt::RightButton);
        QCOMPARE(m_Inserted->count(), int(kept));
        QCOMPARE(m_Deleted->count(), int(!kept));
        QCOMPARE(annotationCount(), int(kept));
        if (kept) {
            const QPainterPath path = static_cast<DiagramPathItem *>(lastInserted())->path();
            QCOMPARE(QPointF(path.elementAt(path.elementCount() - 1)), QPointF(vertices.first())); // closed
        }
    }

    void markers()
    {
        QSignalSpy inserted(m_Scene, &DiagramScene::itemInserted);
        m_Scene->setMode(DiagramScene::InsertCircleCount);
        press(QPoint(300, 200));
        auto *circle = static_cast<DiagramEllipseItem *>(lastInserted());
        QCOMPARE(circle->sceneBoundingRect().adjusted(0.5, 0.5, -0.5, -0.5), QRectF(290, 190, 20, 20));
        QCOMPARE(circle->m_MeasurementTool, int(TOOL_CIRCLE_COUNT));
        m_Scene->setMode(DiagramScene::InsertMultiCount);
        QPointF seenPos(-1, -1);
        auto c = connect(m_Scene, &DiagramScene::itemInserted, this, [&](QGraphicsItem *item) { seenPos = item->pos(); });
        for (QPoint p : {QPoint(100, 100), QPoint(150, 100), QPoint(2, 2)})
            press(p);
        disconnect(c);
        QCOMPARE(seenPos, QPointF(0, 0)); // announced before it is placed
        auto *cross = static_cast<DiagramPathItem *>(lastInserted());
        QCOMPARE(cross->m_MeasurementTool, int(TOOL_MULTI_COUNT));
        QCOMPARE(cross->path().boundingRect(), QRectF(-5, -5, 10, 10));
        QVERIFY(cross->sceneBoundingRect().left() >= 0); // pulled inside at the edge
        // The last cross leaves by the Delete key: a right press removes the one before it.
        m_View->m_bKeyEnabled = true;
        m_Scene->setItemSelectableFlag(true);
        cross->setSelected(true);
        QTest::keyClick(m_View.get(), Qt::Key_Delete);
        press(QPoint(400, 400), Qt::RightButton);
        QCOMPARE(m_Deleted->count(), 1);
        QCOMPARE(m_Deleted->last().at(0).toUInt(), 3u);
        m_View->clearImageData(); // every marker goes: right presses do nothing
        press(QPoint(400, 400), Qt::RightButton);
        m_Scene->setMode(DiagramScene::InsertCircleCount);
        press(QPoint(400, 400), Qt::RightButton);
        QCOMPARE(m_Deleted->count(), 1);
        // Keys start from 1 again.
        m_View->setImageData(7, m_Frame.data(), 8, 1, true);
        press(QPoint(50, 50));
        QCOMPARE(key(lastInserted()), 1u);
    }

    void textMode()
    {
        m_Scene->setMode(DiagramScene::InsertText);
        DialogScripts::pushAct([](QDialog *keyboard) {
            keyboard->findChild<QLineEdit *>("EDIT_TEXT")->setText("  HeLa day 3");
            keyboard->findChild<QComboBox *>("COMB_ITEM_SIZE")->setCurrentText("24");
            keyboard->findChild<QComboBox *>("COMB_ITEM_COLOR")->setCurrentIndex(4);
            DialogRunner::click(keyboard, "BUTTON_KEY_ENTER");
        });
        DialogScripts::pushClick("BUTTON_EXIT");
        press(QPoint(200, 150));
        QCOMPARE(m_Inserted->count(), 1);
        auto *text = static_cast<DiagramTextItem *>(lastInserted());
        QCOMPARE(text->toPlainText(), QString("  HeLa day 3"));
        QCOMPARE(text->font().pointSize(), 24);
        QCOMPARE(text->font().family(), QString("DejaVu Sans"));
        QCOMPARE(text->defaultTextColor(), QColor(Qt::cyan));
        QCOMPARE(text->pos(), QPointF(200, 150));
        press(QPoint(300, 300)); // cancelled keyboard: nothing
        QCOMPARE(m_Inserted->count(), 1);
        // The text style setters restyle the first selected text item.
        m_Scene->setItemSelectableFlag(true);
        text->setSelected(true);
        m_Scene->setTextPointSize(12);
        m_Scene->setTextColor(Qt::red);
        QCOMPARE(text->font().pointSize(), 12);
        QCOMPARE(text->defaultTextColor(), QColor(Qt::red));
        // An emptied text loses its item on focus loss, deferred.
        text->setPlainText("");
        m_Scene->editorLostFocus(text);
        QCOMPARE(annotationCount(), 0);
        QCOMPARE(m_Deleted->count(), 0);
        track();
    }

    // Copies land centred on the point when they fit in the image; text needs only its anchor.
    void pasteAtTheBorder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<bool>("pasted");
        QTest::newRow("line inside") << "line" << QPointF(1230, 500) << true;
        QTest::newRow("line over the edge") << "line" << QPointF(1231, 500) << false;
        QTest::newRow("rect inside") << "rect" << QPointF(1230, 1004) << true;
        QTest::newRow("rect over") << "rect" << QPointF(1230, 1005) << false;
        QTest::newRow("circle inside") << "circle" << QPointF(10, 10) << true;
        QTest::newRow("circle over") << "circle" << QPointF(9.5, 10) << false;
        QTest::newRow("text at the corner") << "text" << QPointF(1280, 1024) << true;
        QTest::newRow("text outside") << "text" << QPointF(1280.5, 10) << false;
        QTest::newRow("flat segment line") << "flat" << QPointF(640, 512) << false;
        QTest::newRow("cross") << "cross" << QPointF(640, 512) << true;
    }
    void pasteAtTheBorder()
    {
        QFETCH(QString, kind);
        QFETCH(QPointF, point);
        QFETCH(bool, pasted);
        QGraphicsItem *source = nullptr;
        if (kind == "line") {
            source = addLine(QLineF(100, 100, 200, 100));
        } else if (kind == "rect") {
            m_Scene->setMode(DiagramScene::InsertRect);
            drag(QPoint(100, 100), QPoint(200, 140));
            source = lastInserted();
        } else if (kind == "circle" || kind == "cross") {
            m_Scene->setMode(kind == "circle" ? DiagramScene::InsertCircleCount : DiagramScene::InsertMultiCount);
            press(QPoint(300, 300));
            source = lastInserted();
        } else if (kind == "flat") {
            m_Scene->setMode(DiagramScene::InsertSegmentLine);
            press(QPoint(100, 100));
            press(QPoint(200, 100));
            press(QPoint(200, 100), Qt::RightButton);
            source = lastInserted();
        } else {
            auto *text = new DiagramTextItem(m_Scene->itemMenu());
            text->setPlainText("A1");
            m_Scene->addGraphicsItem(text, true);
            source = text;
        }
        source->moveBy(30, 40); // where the source was dragged does not matter
        m_Scene->setItemSelectableFlag(true);
        source->setSelected(true);
        m_Scene->slotCopyItem();
        const int before = m_Inserted->count();
        QCOMPARE(m_Scene->pasteItem(point), pasted);
        QCOMPARE(m_Inserted->count(), before + int(pasted));
        if (!pasted)
            return;
        QGraphicsItem *copy = lastInserted();
        QCOMPARE(copy->type(), source->type());
        QVERIFY(key(copy) > key(source));
        QVERIFY(!copy->isSelected());
        if (kind == "text") {
            QCOMPARE(copy->pos(), point - QPointF(copy->boundingRect().width(), copy->boundingRect().height()));
        } else if (kind == "cross") {
            // The point at half the cross's drawn length is the tip of its left arm.
            QCOMPARE(static_cast<DiagramPathItem *>(copy)->path().boundingRect().center(), point + QPointF(5, 0));
            QCOMPARE(static_cast<DiagramPathItem *>(copy)->m_MeasurementTool, int(TOOL_MULTI_COUNT));
        } else if (kind == "circle") {
            QCOMPARE(static_cast<DiagramEllipseItem *>(copy)->rect(), QRectF(point - QPointF(10, 10), QSizeF(20, 20)));
            QCOMPARE(static_cast<DiagramEllipseItem *>(copy)->m_MeasurementTool, int(TOOL_CIRCLE_COUNT));
        } else {
            QCOMPARE(copy->boundingRect().center(), point);
        }
        track();
    }

    // Copy, delete the source, paste: the source waited in the buffer. Cut, paste twice.
    void copyCutPasteDelete()
    {
        QGraphicsItem *a = addLine(QLineF(100, 100, 200, 100));
        QGraphicsItem *b = addLine(QLineF(100, 300, 200, 300));
        QObject *aObject = dynamic_cast<QObject *>(a);
        track();
        m_Scene->setItemSelectableFlag(true);
        m_Scene->slotCopyItem(); // nothing selected: no buffer
        QVERIFY(!m_Scene->pasteItem(QPointF(500, 500)));
        a->setSelected(true);
        m_Scene->slotCopyItem();
        m_Scene->slotDeleteItem();
        QCOMPARE(m_Deleted->count(), 1);
        QCOMPARE(m_Destroyed.value(aObject), 0); // detached, not freed
        QVERIFY(m_Scene->pasteItem(QPointF(500, 500)));
        m_Scene->setItemSelectableFlag(true);
        m_Scene->resetSelectedItem();
        b->setSelected(true);
        lastInserted()->setSelected(true);
        m_Scene->slotCopyItem(); // clears the buffer: the detached source is freed now
        QCOMPARE(m_Destroyed.value(aObject), 1);
        m_Scene->slotCutItem();
        QCOMPARE(m_Deleted->count(), 3);
        QCOMPARE(annotationCount(), 0);
        QList<QGraphicsItem *> buffer;
        QCOMPARE(m_Scene->getCopiedItem(buffer), 2);
        QVERIFY(m_Scene->pasteItem(QPointF(600, 600)));
        QVERIFY(m_Scene->pasteItem(QPointF(600, 700)));
        QCOMPARE(annotationCount(), 4);
        QVector<uint> keys;
        m_Scene->resetSelectedItem();
        QCOMPARE(m_Scene->getSelectedDiagramItemKeyList(keys), 0);
        QVERIFY(m_Scene->removeItemByKey(key(lastInserted())));
        QVERIFY(!m_Scene->removeItemByKey(999));
        QCOMPARE(m_Deleted->count(), 3); // by key: no signal
        QCOMPARE(annotationCount(), 3);
        track();
        m_View->clearImageData();
        verifyAllFreedOnce();
    }

    // Items in the scene, copied, detached, garbage and an unfinished drawing: each freed once.
    void clearSceneFreesEverythingOnce()
    {
        QGraphicsItem *copied = addLine(QLineF(10, 10, 100, 10));
        QGraphicsItem *detached = addLine(QLineF(10, 50, 100, 50));
        m_Scene->setMode(DiagramScene::InsertLine);
        press(QPoint(300, 300)); // discarded at release: garbage
        track();
        release(QPoint(300, 300));
        m_Scene->setItemSelectableFlag(true);
        detached->setSelected(true);
        copied->setSelected(true);
        m_Scene->slotCopyItem();
        copied->setSelected(false);
        m_Scene->slotDeleteItem(); // copied, then deleted: detached
        m_Scene->setMode(DiagramScene::InsertPolygon);
        press(QPoint(400, 400));
        press(QPoint(500, 400)); // unfinished
        m_Scene->setMode(DiagramScene::InsertFreeHand);
        track();
        const int tracked = m_Destroyed.size();
        QCOMPARE(tracked, 4);
        m_Scene->clearScene();
        verifyAllFreedOnce();
        QCOMPARE(m_View->pixmapItem(), nullptr); // the view's frame went with the scene
        press(QPoint(10, 10)); // drawing again after a clear touches nothing freed
        moveTo(QPoint(30, 30));
        moveTo(QPoint(50, 50));
        release(QPoint(60, 60));
        QCOMPARE(key(lastInserted()), 1u);
    }

    // Removals of the item a drawing member holds reset the member.
    void removalResetsDrawingMembers_data()
    {
        QTest::addColumn<int>("road");
        QTest::newRow("by key") << 0;
        QTest::newRow("Delete key") << 1;
        QTest::newRow("cut") << 2;
        QTest::newRow("delete") << 3;
        QTest::newRow("temp item") << 4;
    }
    void removalResetsDrawingMembers()
    {
        QFETCH(int, road);
        m_Scene->setMode(DiagramScene::InsertPolygon);
        press(QPoint(100, 100));
        press(QPoint(200, 100));
        track();
        QGraphicsItem *drawing = m_Scene->getItemByKey(1);
        QVERIFY(drawing);
        m_Scene->setItemSelectableFlag(true);
        drawing->setSelected(true);
        m_View->m_bKeyEnabled = true;
        switch (road) {
        case 0: QVERIFY(m_Scene->removeItemByKey(1)); break;
        case 1: QTest::keyClick(m_View.get(), Qt::Key_Delete); break;
        case 2: m_Scene->slotCutItem(); break;
        case 3: m_Scene->slotDeleteItem(); break;
        case 4: m_Scene->deleteTempItem(); break;
        }
        QVERIFY(!m_Scene->getItemByKey(1));
        moveTo(QPoint(250, 250)); // no rubber band on a freed item
        press(QPoint(300, 300));
        press(QPoint(300, 400));
        press(QPoint(200, 400));
        press(QPoint(200, 400), Qt::RightButton);
        QCOMPARE(m_Inserted->count(), 1); // a new polygon of three points
        QCOMPARE(static_cast<DiagramPathItem *>(lastInserted())->path().elementCount(), 4);
    }

    // "Delete" of an item's own menu runs inside its event: the item leaves at once but lives on.
    void deleteFromTheItemMenuIsDeferred()
    {
        QGraphicsItem *line = addLine(QLineF(100, 100, 300, 100));
        track();
        QObject *object = dynamic_cast<QObject *>(line);
        int freedDuringMenu = -1;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activePopupWidget());
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QCOMPARE(menu->actions().size(), 6);
            menu->actions().last()->trigger();
            freedDuringMenu = m_Destroyed.value(object);
            menu->close();
        });
        QGraphicsSceneContextMenuEvent event(QEvent::GraphicsSceneContextMenu);
        event.setScenePos(QPointF(200, 105));
        QApplication::sendEvent(m_Scene, &event);
        QCOMPARE(freedDuringMenu, 0);
        QCOMPARE(m_Deleted->count(), 1);
        QCOMPARE(annotationCount(), 0);
        QCOMPARE(m_Destroyed.value(object), 0);
        m_Scene->clearScene();
        QCOMPARE(m_Destroyed.value(object), 1);
    }

    void lookups()
    {
        QGraphicsItem *a = addLine(QLineF(10, 10, 100, 10));
        QGraphicsItem *b = addLine(QLineF(10, 300, 100, 300));
        QCOMPARE(m_Scene->getItemByKey(2), b);
        QCOMPARE(m_Scene->getItemByKey(0), nullptr);
        m_Scene->setItemSelectableFlag(true);
        QCOMPARE(m_Scene->selectItemByKey(1), a);
        QVERIFY(a->isSelected() && !b->isSelected());
        QVERIFY(m_Scene->isItemChange(DiagramLineItem::Type));
        QVERIFY(!m_Scene->isItemChange(DiagramTextItem::Type));
        QVector<uint> keys;
        QCOMPARE(m_Scene->getSelectedDiagramItemKeyList(keys), 1);
        QCOMPARE(keys, QVector<uint>{1});
        QVERIFY(!m_Scene->addGraphicsItem(nullptr, true));
        QVERIFY(!m_Scene->removeGraphicsItem(nullptr, false, true));
        m_Scene->setItemSelectableFlag(false);
        QVERIFY(!a->isSelected());
    }
};

QTEST_MAIN(TestDiagramScene)
#include "tst_diagramscene.moc"
