#pragma once
#include <QColor>
#include <QFont>
#include <QGraphicsScene>
#include <QPainterPath>
#include <QSet>
#include <QVector>
#include <memory>

class DiagramEllipseItem;
class DiagramLineItem;
class DiagramPathItem;
class DiagramRectItem;
class DiagramTextItem;
class QMenu;

// The annotation scene under every image view: the drawing modes with their press, move and
// release logic, the style of new items, a key per item (its data with role 0, from 1, never
// reused until the scene is cleared), the shared item menu, copy, cut, paste and deletion.
//
// Ownership: no item is freed while something may still point at it. Removal takes an item out
// of the scene and its key out of m_ItemKeys, then either frees it at once (immediate form), or
// keeps it: an item in the copy buffer stays there (detached) until the buffer is cleared, and an
// item removed from inside its own event (deferred form) waits in the garbage store until
// clearScene. Removing the item a drawing member holds resets that member.
class DiagramScene : public QGraphicsScene
{
    Q_OBJECT
public:
    enum Mode {
        InsertText = 1,
        InsertLine,
        InsertAngle,
        InsertSegmentLine,
        InsertRect,
        InsertEllipse,
        InsertFreeHand,
        InsertPolygon,
        InsertMultiCount,
        InsertCircleCount,
        MoveItem
    };
    // Annotation items have type() numbers in this range; others are never keyed or listed.
    static bool isDiagramType(int type);

    explicit DiagramScene(QObject *parent = nullptr);
    ~DiagramScene() override;

    Mode mode() const { return m_Mode; }

    // Keys the item, adds it, and announces it with itemInserted when asked; false (item not
    // added) for a null item or a key already in use.
    bool addGraphicsItem(QGraphicsItem *item, bool emitSignal);
    // The removal rule; false for a null item or one whose key is not in the scene.
    bool removeGraphicsItem(QGraphicsItem *item, bool deferred, bool emitSignal);

    uint getItemKey(QGraphicsItem *item) const;
    QGraphicsItem *getItemByKey(uint key);
    QGraphicsItem *selectItemByKey(uint key);
    void resetSelectedItem();
    bool isItemChange(int type);
    int getDiagramItemList(QList<QGraphicsItem *> &list);
    int getSelectedDiagramItemKeyList(QVector<uint> &keys);
    void setItemSelectableFlag(bool on);

    // Style of new items; the text setters also restyle the first selected item when it is text.
    void setTextPointSize(int size);
    void setTextColor(const QColor &color);
    void setItemThickness(int width);
    void setItemColor(const QColor &color);

    // The marker a right press of the count tool (circles or crosses) removes next, if any.
    QGraphicsItem *lastMarker(bool circles) const;

    // Drops an unfinished angle, segment line or polygon, silently.
    void deleteTempItem();

    // Copies of the buffer's items centred on point (scene coordinates); true when any fitted.
    bool pasteItem(const QPointF &point);
    int getCopiedItem(QList<QGraphicsItem *> &list);
    // Removes, without signal, every item with the key; false when the key is not in the scene.
    bool removeItemByKey(uint key);
    void clearCopiedItemBuffer();
    void clearGarbageCollector();
    // Frees every item: those in the scene, the buffer's detached ones and the garbage store.
    // The next key is 1 again.
    void clearScene();

    QMenu *itemMenu() const { return m_pItemMenu; }

public slots:
    void setMode(int mode);
    void editorLostFocus(DiagramTextItem *item);
    void slotCopyItem();
    void slotCutItem();
    // Deletes the selected items at once (keys, the Delete key of a view).
    void slotDeleteItem();

signals:
    void itemInserted(QGraphicsItem *item);
    void itemSelected(QGraphicsItem *item);
    void itemMoved(QGraphicsItem *item);
    void itemDeleted(uint itemKey);
    // clearScene is about to free every item in the scene: owners forget their own items.
    void sceneCleared();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private slots:
    void slotSettingItem();
    // "Delete" of the item menu runs inside the item's own menu event: removal is deferred.
    void slotDeleteItemFromMenu();

private:
    bool contains(const QPointF &p) const;
    QPen standardPen() const;
    void connectShape(QObject *item, bool withPosition);
    void connectText(DiagramTextItem *item);
    void insertText(const QPointF &p);
    void pressVertex(QGraphicsSceneMouseEvent *event, const QPointF &p);
    void finishPath();
    void cancelPath();
    void removeLastMarker(bool circles);
    // Keeps a drawing member or marker entry from pointing at an item that leaves the scene.
    void forgetItem(QGraphicsItem *item);
    void deleteSelected(bool deferred);
    void discard(QGraphicsItem *item);
    void applyTextStyle(bool font);
    QGraphicsItem *pasteCopy(QGraphicsItem *source, const QPointF &t);

    Mode m_Mode = MoveItem;
    QFont m_TextFont;
    DiagramLineItem *m_pLineItem = nullptr;
    DiagramPathItem *m_pPathItem = nullptr;
    QColor m_TextColor = Qt::yellow;
    QColor m_LineColor = Qt::red;
    int m_LineWidth = 1;
    std::unique_ptr<QPainterPath> m_pPath;
    DiagramRectItem *m_pRectItem = nullptr;
    QPointF m_StartPoint;
    DiagramEllipseItem *m_pEllipseItem = nullptr;
    bool m_bFreeHandStarted = false;
    QPainterPath m_CrossPath;
    QVector<DiagramPathItem *> m_MultiCountItems;
    QVector<DiagramEllipseItem *> m_CircleCountItems;
    QMenu *m_pItemMenu;
    QSet<uint> m_ItemKeys;
    uint m_nNextKey = 1;
    QSet<QGraphicsItem *> m_CopiedItems;
    QSet<QGraphicsItem *> m_DetachedItems;
    QSet<QGraphicsItem *> m_GarbageCollector;
    bool m_bDiscarded = false;
};
