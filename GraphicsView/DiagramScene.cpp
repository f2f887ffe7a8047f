#include "DiagramScene.h"

#include "DiagramEllipseItem.h"
#include "DiagramLineItem.h"
#include "DiagramPathItem.h"
#include "DiagramRectItem.h"
#include "DiagramTextItem.h"
#include "Globals.h"
#include "ItemSettingDlg.h"
#include "KeyboardDlg.h"
#include "TMeasurementTool.h"

#include <QGraphicsSceneMouseEvent>
#include <QMenu>
#include <QPointer>
#include <QTextCursor>
#include <algorithm>

namespace {

// Pen of the line and of the shape items (rectangle, ellipse, path).
QPen itemPen(QGraphicsItem *item)
{
    if (auto *line = qgraphicsitem_cast<DiagramLineItem *>(item))
        return line->pen();
    auto *shape = dynamic_cast<QAbstractGraphicsShapeItem *>(item);
    return shape ? shape->pen() : QPen();
}

void setItemPen(QGraphicsItem *item, const QPen &pen)
{
    if (auto *line = qgraphicsitem_cast<DiagramLineItem *>(item))
        line->setPen(pen);
    else if (auto *shape = dynamic_cast<QAbstractGraphicsShapeItem *>(item))
        shape->setPen(pen);
}

template <class Item>
void dropEntry(QVector<Item *> &entries, QGraphicsItem *item)
{
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [item](Item *entry) { return static_cast<QGraphicsItem *>(entry) == item; }),
                  entries.end());
}

} // namespace

bool DiagramScene::isDiagramType(int type)
{
    return type >= QGraphicsItem::UserType + 2 && type <= QGraphicsItem::UserType + 8;
}

DiagramScene::DiagramScene(QObject *parent)
    : QGraphicsScene(parent)
    , m_TextFont("DejaVu Sans", 10)
    , m_pItemMenu(new QMenu)
{
    for (const QPointF &tip : {QPointF(5, 0), QPointF(-5, 0), QPointF(0, 5), QPointF(0, -5)}) {
        m_CrossPath.moveTo(0, 0);
        m_CrossPath.lineTo(tip);
    }
    const auto addAction = [this](const char *text, const char *slot) {
        QAction *action = m_pItemMenu->addAction(text);
        action->setFont(m_Font8);
        connect(action, SIGNAL(triggered()), this, slot);
    };
    addAction("Settings...", SLOT(slotSettingItem()));
    m_pItemMenu->addSeparator();
    addAction("Copy", SLOT(slotCopyItem()));
    addAction("Cut", SLOT(slotCutItem()));
    m_pItemMenu->addSeparator();
    addAction("Delete", SLOT(slotDeleteItemFromMenu()));
}

DiagramScene::~DiagramScene()
{
    clearScene();
    delete m_pItemMenu;
}

// ---------------------------------------------------------------------------------------------
// Keys and the removal rule

bool DiagramScene::addGraphicsItem(QGraphicsItem *item, bool emitSignal)
{
    if (!item || m_ItemKeys.contains(m_nNextKey))
        return false;
    item->setData(0, QVariant::fromValue<uint>(m_nNextKey));
    m_ItemKeys.insert(m_nNextKey++);
    addItem(item);
    if (emitSignal)
        emit itemInserted(item);
    return true;
}

bool DiagramScene::removeGraphicsItem(QGraphicsItem *item, bool deferred, bool emitSignal)
{
    if (!item || item->scene() != this)
        return false;
    const uint key = getItemKey(item);
    if (!m_ItemKeys.remove(key))
        return false;
    forgetItem(item);
    removeItem(item);
    if (!deferred) {
        if (m_CopiedItems.contains(item))
            m_DetachedItems.insert(item);
        else
            delete item;
    } else if (!m_DetachedItems.contains(item)) {
        m_GarbageCollector.insert(item);
    }
    if (emitSignal)
        emit itemDeleted(key);
    return true;
}

void DiagramScene::forgetItem(QGraphicsItem *item)
{
    if (item == m_pLineItem)
        m_pLineItem = nullptr;
    if (item == m_pRectItem)
        m_pRectItem = nullptr;
    if (item == m_pEllipseItem)
        m_pEllipseItem = nullptr;
    if (item == m_pPathItem) {
        m_pPathItem = nullptr;
        m_pPath.reset();
        m_bFreeHandStarted = false;
    }
    dropEntry(m_MultiCountItems, item);
    dropEntry(m_CircleCountItems, item);
}

uint DiagramScene::getItemKey(QGraphicsItem *item) const
{
    return item ? item->data(0).toUInt() : 0;
}

QGraphicsItem *DiagramScene::getItemByKey(uint key)
{
    if (!m_ItemKeys.contains(key))
        return nullptr;
    const QList<QGraphicsItem *> all = items();
    const auto found = std::find_if(all.begin(), all.end(), [&](QGraphicsItem *item) { return getItemKey(item) == key; });
    return found == all.end() ? nullptr : *found;
}

QGraphicsItem *DiagramScene::selectItemByKey(uint key)
{
    QGraphicsItem *item = getItemByKey(key);
    if (item)
        item->setSelected(true);
    return item;
}

void DiagramScene::resetSelectedItem()
{
    for (QGraphicsItem *item : items())
        item->setSelected(false);
}

bool DiagramScene::isItemChange(int type)
{
    const QList<QGraphicsItem *> selected = selectedItems();
    return std::any_of(selected.begin(), selected.end(), [type](QGraphicsItem *item) { return item->type() == type; });
}

int DiagramScene::getDiagramItemList(QList<QGraphicsItem *> &list)
{
    list.clear();
    for (QGraphicsItem *item : items())
        if (isDiagramType(item->type()))
            list.append(item);
    return list.size();
}

int DiagramScene::getSelectedDiagramItemKeyList(QVector<uint> &keys)
{
    keys.clear();
    for (QGraphicsItem *item : selectedItems())
        if (isDiagramType(item->type()))
            keys.append(getItemKey(item));
    return keys.size();
}

void DiagramScene::setItemSelectableFlag(bool on)
{
    for (QGraphicsItem *item : items())
        if (isDiagramType(item->type()))
            item->setFlag(QGraphicsItem::ItemIsSelectable, on);
}

// ---------------------------------------------------------------------------------------------
// Style

void DiagramScene::setMode(int mode)
{
    if (mode >= InsertText && mode <= MoveItem)
        m_Mode = Mode(mode);
}

void DiagramScene::applyTextStyle(bool font)
{
    if (!isItemChange(DiagramTextItem::Type))
        return;
    auto *text = qgraphicsitem_cast<DiagramTextItem *>(selectedItems().value(0));
    if (text && font)
        text->setFont(m_TextFont);
    else if (text)
        text->setDefaultTextColor(m_TextColor);
}

void DiagramScene::setTextPointSize(int size)
{
    if (size > 0)
        m_TextFont.setPointSize(size);
    applyTextStyle(true);
}

void DiagramScene::setTextColor(const QColor &color)
{
    m_TextColor = color;
    applyTextStyle(false);
}

void DiagramScene::setItemThickness(int width)
{
    m_LineWidth = width;
}

void DiagramScene::setItemColor(const QColor &color)
{
    m_LineColor = color;
}

QPen DiagramScene::standardPen() const
{
    return QPen(QBrush(m_LineColor, Qt::SolidPattern), m_LineWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

void DiagramScene::connectShape(QObject *item, bool withPosition)
{
    connect(item, SIGNAL(selectedChange(QGraphicsItem*)), this, SIGNAL(itemSelected(QGraphicsItem*)));
    if (withPosition)
        connect(item, SIGNAL(positionChange(QGraphicsItem*)), this, SIGNAL(itemMoved(QGraphicsItem*)));
}

void DiagramScene::connectText(DiagramTextItem *item)
{
    connect(item, &DiagramTextItem::lostFocus, this, &DiagramScene::editorLostFocus);
    connect(item, &DiagramTextItem::selectedChange, this, &DiagramScene::itemSelected);
}

// ---------------------------------------------------------------------------------------------
// Drawing

bool DiagramScene::contains(const QPointF &p) const
{
    return sceneRect().toRect().contains(p.toPoint());
}

void DiagramScene::deleteTempItem()
{
    if (m_pPathItem)
        removeGraphicsItem(m_pPathItem, true, false);
    m_pPathItem = nullptr;
    m_pPath.reset();
}

void DiagramScene::editorLostFocus(DiagramTextItem *item)
{
    QTextCursor cursor = item->textCursor();
    cursor.clearSelection();
    item->setTextCursor(cursor);
    if (item->toPlainText().isEmpty())
        removeGraphicsItem(item, true, false);
}

void DiagramScene::insertText(const QPointF &p)
{
    KeyboardDlg keyboard(nullptr, true, false);
    if (keyboard.exec() != 1 || keyboard.text().trimmed().isEmpty())
        return;
    int size = 10;
    QColor color;
    keyboard.getFontSizeColor(size, color);
    setTextPointSize(size);
    setTextColor(color);
    auto *item = new DiagramTextItem(m_pItemMenu);
    item->setFont(m_TextFont);
    item->setPlainText(keyboard.text());
    connectText(item);
    QPointer<DiagramTextItem> alive(item);
    if (!addGraphicsItem(item, true)) {
        delete item;
        return;
    }
    if (!alive) // a receiver of itemInserted removed it
        return;
    item->setDefaultTextColor(m_TextColor);
    item->setPos(p);
}

void DiagramScene::pressVertex(QGraphicsSceneMouseEvent *event, const QPointF &p)
{
    if (event->button() == Qt::LeftButton) {
        if (!m_pPath)
            m_pPath = std::make_unique<QPainterPath>(p);
        if (!m_pPathItem) {
            auto *item = new DiagramPathItem(*m_pPath, m_pItemMenu);
            item->setPen(standardPen());
            item->m_MeasurementTool = m_Mode == InsertAngle ? TOOL_ANGLE : m_Mode == InsertSegmentLine ? TOOL_SEGMENT_LINE : TOOL_POLYGON;
            connectShape(item, m_Mode == InsertPolygon);
            if (addGraphicsItem(item, false))
                m_pPathItem = item;
            else
                delete item;
        } else {
            m_pPath->lineTo(p);
            m_pPathItem->setPath(*m_pPath);
        }
    }
    if (!m_pPath)
        return;
    const int count = m_pPath->elementCount();
    if (m_Mode == InsertAngle) {
        if (count > 2)
            finishPath();
        return;
    }
    if (event->button() != Qt::RightButton)
        return;
    if (m_Mode == InsertSegmentLine) {
        if (count < 2)
            return cancelPath();
    } else {
        const QRectF bounds = m_pPath->boundingRect();
        if (count < 3 || bounds.width() == 0 || bounds.height() == 0)
            return cancelPath();
        m_pPath->closeSubpath();
    }
    if (m_pPathItem)
        m_pPathItem->setPath(*m_pPath); // drops the rubber band to the pointer
    finishPath();
}

void DiagramScene::finishPath()
{
    DiagramPathItem *item = m_pPathItem;
    m_pPathItem = nullptr;
    m_pPath.reset();
    if (item)
        emit itemInserted(item);
}

void DiagramScene::cancelPath()
{
    DiagramPathItem *item = m_pPathItem;
    m_pPathItem = nullptr;
    m_pPath.reset();
    removeGraphicsItem(item, false, true);
}

void DiagramScene::removeLastMarker(bool circles)
{
    // Entries leave the vectors with their markers; a stale one is skipped all the same.
    while (circles ? !m_CircleCountItems.isEmpty() : !m_MultiCountItems.isEmpty()) {
        QGraphicsItem *last = circles ? static_cast<QGraphicsItem *>(m_CircleCountItems.takeLast())
                                      : static_cast<QGraphicsItem *>(m_MultiCountItems.takeLast());
        if (removeGraphicsItem(last, false, true))
            return;
    }
}

QGraphicsItem *DiagramScene::lastMarker(bool circles) const
{
    if (circles)
        return m_CircleCountItems.isEmpty() ? nullptr : m_CircleCountItems.last();
    return m_MultiCountItems.isEmpty() ? nullptr : m_MultiCountItems.last();
}

void DiagramScene::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const QPointF p = event->scenePos();
    const bool left = event->button() == Qt::LeftButton;
    if (left && !contains(p))
        return;
    if (m_Mode == MoveItem)
        return QGraphicsScene::mousePressEvent(event);
    const bool right = event->button() == Qt::RightButton;
    if (!left && !right)
        return;
    event->accept();
    switch (m_Mode) {
    case InsertText:
        if (left)
            insertText(p);
        break;
    case InsertLine:
        if (left) {
            m_bDiscarded = false;
            auto *line = new DiagramLineItem(QLineF(p, p), m_pItemMenu);
            line->setPen(standardPen());
            connectShape(line, true);
            m_pLineItem = addGraphicsItem(line, false) ? line : (delete line, nullptr);
        }
        break;
    case InsertRect:
    case InsertEllipse:
        if (left) {
            m_bDiscarded = false;
            m_StartPoint = p;
            const QRectF start(p, QSizeF(1, 1));
            QAbstractGraphicsShapeItem *shape;
            QObject *object;
            if (m_Mode == InsertRect) {
                auto *rect = new DiagramRectItem(start, m_pItemMenu);
                shape = rect, object = rect, m_pRectItem = rect;
            } else {
                auto *ellipse = new DiagramEllipseItem(start, m_pItemMenu);
                ellipse->m_MeasurementTool = TOOL_ELLIPSE;
                shape = ellipse, object = ellipse, m_pEllipseItem = ellipse;
            }
            shape->setPen(standardPen());
            connectShape(object, true);
            if (!addGraphicsItem(shape, false)) {
                m_pRectItem = nullptr, m_pEllipseItem = nullptr;
                delete shape;
            }
        }
        break;
    case InsertFreeHand:
        if (left) {
            m_bDiscarded = false;
            auto *path = new DiagramPathItem(QPainterPath(p), m_pItemMenu);
            path->setPen(standardPen());
            path->m_MeasurementTool = TOOL_FREE_HAND;
            connectShape(path, false);
            m_pPathItem = addGraphicsItem(path, false) ? path : (delete path, nullptr);
        }
        break;
    case InsertAngle:
    case InsertSegmentLine:
    case InsertPolygon:
        pressVertex(event, p);
        break;
    case InsertMultiCount:
    case InsertCircleCount: {
        const bool circles = m_Mode == InsertCircleCount;
        if (!left)
            return removeLastMarker(circles);
        QAbstractGraphicsShapeItem *shape;
        if (circles) {
            auto *circle = new DiagramEllipseItem(float(p.x() - 10), float(p.y() - 10), 20.0f, 20.0f, m_pItemMenu);
            circle->m_MeasurementTool = TOOL_CIRCLE_COUNT;
            shape = circle;
        } else {
            auto *cross = new DiagramPathItem(m_CrossPath, m_pItemMenu);
            cross->m_MeasurementTool = TOOL_MULTI_COUNT;
            shape = cross;
        }
        shape->setPen(standardPen());
        QPointer<QObject> alive(dynamic_cast<QObject *>(shape));
        if (!addGraphicsItem(shape, true)) {
            delete shape;
            return;
        }
        if (!alive || shape->scene() != this) // a receiver of itemInserted removed it
            return;
        if (circles) {
            m_CircleCountItems.append(static_cast<DiagramEllipseItem *>(shape));
        } else {
            shape->setPos(p);
            m_MultiCountItems.append(static_cast<DiagramPathItem *>(shape));
        }
        break;
    }
    case MoveItem:
        break;
    }
}

void DiagramScene::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    const QPointF p = event->scenePos();
    if (m_Mode == MoveItem)
        return QGraphicsScene::mouseMoveEvent(event);
    if (!contains(p))
        return;
    switch (m_Mode) {
    case InsertLine:
        if (m_pLineItem && !m_bDiscarded)
            m_pLineItem->setLine(QLineF(m_pLineItem->line().p1(), p));
        break;
    case InsertRect:
    case InsertEllipse:
        if (!m_bDiscarded) {
            const QRectF rect = QRectF(m_StartPoint, p).normalized();
            if (m_Mode == InsertRect && m_pRectItem)
                m_pRectItem->setRect(rect);
            else if (m_Mode == InsertEllipse && m_pEllipseItem)
                m_pEllipseItem->setRect(rect);
        }
        break;
    case InsertAngle:
    case InsertSegmentLine:
    case InsertPolygon:
        if (m_pPathItem && m_pPath) {
            QPainterPath rubberBand = *m_pPath;
            rubberBand.lineTo(p);
            m_pPathItem->setPath(rubberBand);
        }
        break;
    case InsertFreeHand:
        if (m_pPathItem && !m_bDiscarded) {
            QPainterPath path = m_pPathItem->path();
            if (!m_bFreeHandStarted) {
                m_bFreeHandStarted = true;
                path.moveTo(p); // the stroke begins at the first move, not at the press
            } else {
                path.lineTo(p);
            }
            m_pPathItem->setPath(path);
        }
        break;
    default:
        break;
    }
}

void DiagramScene::discard(QGraphicsItem *item)
{
    m_bDiscarded = true;
    removeGraphicsItem(item, true, false);
}

void DiagramScene::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_pLineItem && m_Mode == InsertLine) {
        DiagramLineItem *line = m_pLineItem;
        m_pLineItem = nullptr;
        if (line->line().length() > 1.0) {
            QPointer<DiagramLineItem> alive(line);
            emit itemInserted(line);
            if (alive)
                line->createSelectionPolygon();
        } else {
            discard(line);
        }
    } else if ((m_pRectItem && m_Mode == InsertRect) || (m_pEllipseItem && m_Mode == InsertEllipse)) {
        QAbstractGraphicsShapeItem *shape = m_Mode == InsertRect ? static_cast<QAbstractGraphicsShapeItem *>(m_pRectItem)
                                                                 : static_cast<QAbstractGraphicsShapeItem *>(m_pEllipseItem);
        const QRectF rect = m_Mode == InsertRect ? m_pRectItem->rect() : m_pEllipseItem->rect();
        m_pRectItem = nullptr;
        m_pEllipseItem = nullptr;
        if (rect.width() > 1.0 && rect.height() > 1.0)
            emit itemInserted(shape);
        else
            discard(shape);
    } else if (m_pPathItem && m_Mode == InsertFreeHand) {
        DiagramPathItem *path = m_pPathItem;
        m_pPathItem = nullptr;
        m_bFreeHandStarted = false;
        if (path->path().length() <= 1.0)
            discard(path);
        else
            emit itemInserted(path);
    }
    QGraphicsScene::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Copy, cut, paste, deletion

void DiagramScene::slotCopyItem()
{
    const QList<QGraphicsItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    clearCopiedItemBuffer();
    for (QGraphicsItem *item : selected)
        m_CopiedItems.insert(item);
}

void DiagramScene::slotCutItem()
{
    const QList<QGraphicsItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    clearCopiedItemBuffer();
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
        QGraphicsItem *item = *it;
        if (!m_ItemKeys.contains(getItemKey(item)))
            continue; // not an annotation of this scene: it stays where it is
        m_CopiedItems.insert(item);
        m_DetachedItems.insert(item);
        removeGraphicsItem(item, true, true);
    }
}

void DiagramScene::deleteSelected(bool deferred)
{
    const QList<QGraphicsItem *> selected = selectedItems();
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        removeGraphicsItem(*it, deferred, true);
}

void DiagramScene::slotDeleteItem()
{
    deleteSelected(false);
}

void DiagramScene::slotDeleteItemFromMenu()
{
    deleteSelected(true);
}

bool DiagramScene::removeItemByKey(uint key)
{
    if (!m_ItemKeys.contains(key))
        return false;
    bool removed = false;
    const QList<QGraphicsItem *> all = items();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (getItemKey(*it) == key)
            removed = removeGraphicsItem(*it, false, false) || removed;
    return removed;
}

int DiagramScene::getCopiedItem(QList<QGraphicsItem *> &list)
{
    list = m_CopiedItems.values();
    return list.size();
}

QGraphicsItem *DiagramScene::pasteCopy(QGraphicsItem *source, const QPointF &t)
{
    const QRectF s = sceneRect();
    switch (source->type()) {
    case DiagramLineItem::Type: {
        auto *from = static_cast<DiagramLineItem *>(source);
        const QLineF line = from->line();
        const QLineF moved = line.translated(t - (line.p1() + (line.p2() - line.p1()) * 0.5));
        if (!s.contains(moved.p1()) || !s.contains(moved.p2()))
            return nullptr;
        auto *copy = new DiagramLineItem(moved, m_pItemMenu);
        copy->setPen(from->pen());
        connectShape(copy, true);
        return copy;
    }
    case DiagramEllipseItem::Type:
    case DiagramRectItem::Type: {
        const bool ellipse = source->type() == DiagramEllipseItem::Type;
        QRectF rect = ellipse ? static_cast<DiagramEllipseItem *>(source)->rect() : static_cast<DiagramRectItem *>(source)->rect();
        rect.moveCenter(t);
        if (!s.contains(rect))
            return nullptr;
        QAbstractGraphicsShapeItem *copy;
        QObject *object;
        if (ellipse) {
            auto *e = new DiagramEllipseItem(rect, m_pItemMenu);
            e->m_MeasurementTool = static_cast<DiagramEllipseItem *>(source)->m_MeasurementTool;
            copy = e, object = e;
        } else {
            auto *r = new DiagramRectItem(rect, m_pItemMenu);
            copy = r, object = r;
        }
        copy->setPen(itemPen(source));
        connectShape(object, true);
        return copy;
    }
    case DiagramPathItem::Type: {
        auto *from = static_cast<DiagramPathItem *>(source);
        const QPainterPath path = from->path().translated(t - from->path().pointAtPercent(0.5));
        if (!s.contains(path.boundingRect()))
            return nullptr;
        auto *copy = new DiagramPathItem(path, m_pItemMenu);
        copy->setPen(from->pen());
        copy->m_MeasurementTool = from->m_MeasurementTool;
        connectShape(copy, true);
        return copy;
    }
    case DiagramTextItem::Type: {
        if (!s.contains(t))
            return nullptr;
        auto *from = static_cast<DiagramTextItem *>(source);
        auto *copy = new DiagramTextItem(m_pItemMenu);
        copy->setPlainText(from->toPlainText());
        copy->setFont(from->font());
        copy->setDefaultTextColor(from->defaultTextColor());
        connectText(copy);
        return copy;
    }
    default:
        return nullptr;
    }
}

bool DiagramScene::pasteItem(const QPointF &point)
{
    if (m_CopiedItems.isEmpty())
        return false;
    bool pasted = false;
    const QList<QGraphicsItem *> sources = m_CopiedItems.values();
    for (QGraphicsItem *source : sources) {
        if (!source)
            continue;
        QGraphicsItem *copy = pasteCopy(source, point);
        if (!copy)
            continue;
        QPointer<QObject> alive(dynamic_cast<QObject *>(copy));
        if (!addGraphicsItem(copy, true)) {
            delete copy;
            continue;
        }
        pasted = true;
        if (!alive || copy->scene() != this) // a receiver of itemInserted removed it
            continue;
        if (auto *line = qgraphicsitem_cast<DiagramLineItem *>(copy))
            line->createSelectionPolygon();
        else if (copy->type() == DiagramTextItem::Type)
            copy->setPos(point);
    }
    return pasted;
}

void DiagramScene::clearCopiedItemBuffer()
{
    m_CopiedItems.clear();
    qDeleteAll(m_DetachedItems);
    m_DetachedItems.clear();
}

void DiagramScene::clearGarbageCollector()
{
    qDeleteAll(m_GarbageCollector);
    m_GarbageCollector.clear();
}

void DiagramScene::clearScene()
{
    m_ItemKeys.clear();
    m_nNextKey = 1;
    clearCopiedItemBuffer();
    if (m_pPathItem && m_pPathItem->scene() == this) {
        // An unfinished drawing goes with the garbage.
        removeItem(m_pPathItem);
        m_GarbageCollector.insert(m_pPathItem);
    }
    clearGarbageCollector();
    m_pLineItem = nullptr;
    m_pPathItem = nullptr;
    m_pPath.reset();
    m_pRectItem = nullptr;
    m_pEllipseItem = nullptr;
    m_bFreeHandStarted = false;
    m_MultiCountItems.clear(); // every marker goes with the scene
    m_CircleCountItems.clear();
    emit sceneCleared();
    clear();
}

// ---------------------------------------------------------------------------------------------
// Item settings

void DiagramScene::slotSettingItem()
{
    QGraphicsItem *item = selectedItems().value(0);
    if (!item)
        return;
    TItemSettingData data;
    data.itemType = item->type();
    auto *text = qgraphicsitem_cast<DiagramTextItem *>(item);
    if (text) {
        data.color = text->defaultTextColor();
        data.size = text->font().pointSize();
    } else if (data.itemType >= DiagramPathItem::Type && (data.itemType <= DiagramEllipseItem::Type || data.itemType == DiagramLineItem::Type)) {
        const QPen pen = itemPen(item);
        data.color = pen.color();
        data.size = pen.width();
    } else {
        return;
    }
    QPointer<QObject> alive(dynamic_cast<QObject *>(item));
    ItemSettingDlg dialog(data, nullptr);
    if (dialog.exec() != 1 || !alive)
        return;
    const TItemSettingData &result = dialog.m_ItemSettingData;
    const int size = result.size >= 1 ? result.size : data.size; // no size chosen: keep the item's
    if (text) {
        text->setDefaultTextColor(result.color);
        QFont font = text->font();
        font.setPointSize(size);
        text->setFont(font);
    } else {
        QPen pen = itemPen(item);
        pen.setColor(result.color);
        pen.setWidth(size);
        setItemPen(item, pen);
    }
}
