#include "ImageGraphicsView.h"

#include "DiagramEllipseItem.h"
#include "DiagramLineItem.h"
#include "DiagramPathItem.h"
#include "DiagramRectItem.h"
#include "DiagramScene.h"
#include "DiagramTextItem.h"
#include "Globals.h"
#include "ImMeasurer.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGraphicsPixmapItem>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kPixels = ImMeasurer::kFrameWidth * ImMeasurer::kFrameHeight;

// The keys of [Setting_MultiColor] with their defaults, read with one parse of the file.
std::vector<int> readNumbers(const std::vector<std::pair<const char *, const char *>> &keys)
{
    std::vector<PrivateProfileEntry> entries;
    for (const auto &key : keys)
        entries.push_back({"Setting_MultiColor", key.first, key.second});
    ReadPrivateProfileBatch(entries, Paths::configFile().toStdString());
    std::vector<int> numbers;
    for (size_t i = 0; i < keys.size(); ++i) {
        bool ok = false;
        const int number = QString::fromStdString(entries[i].value).trimmed().toInt(&ok);
        numbers.push_back(ok ? number : QString(keys[i].second).toInt());
    }
    return numbers;
}

// Scene coordinates to the nearest pixel, halves upwards.
cv::Point rounded(const QPointF &p)
{
    return cv::Point(int(std::floor(p.x() + 0.5)), int(std::floor(p.y() + 0.5)));
}

// The scene's drawing mode of a tool; 0 for the tools that leave the mode as it is.
int sceneMode(int tool)
{
    switch (tool) {
    case TOOL_LINE: return DiagramScene::InsertLine;
    case TOOL_ANGLE: return DiagramScene::InsertAngle;
    case TOOL_POLYGON: return DiagramScene::InsertPolygon;
    case TOOL_ELLIPSE: return DiagramScene::InsertEllipse;
    case TOOL_RECTANGLE: return DiagramScene::InsertRect;
    case TOOL_SEGMENT_LINE: return DiagramScene::InsertSegmentLine;
    case TOOL_FREE_HAND: return DiagramScene::InsertFreeHand;
    case TOOL_MULTI_COUNT: return DiagramScene::InsertMultiCount;
    case TOOL_TEXT: return DiagramScene::InsertText;
    case TOOL_CIRCLE_COUNT: return DiagramScene::InsertCircleCount;
    default: return 0;
    }
}

// Tools measured on every captured channel as well as on the shown image.
bool measuredOnChannels(TMeasurementTool tool)
{
    return tool == TOOL_LINE || tool == TOOL_POLYGON || tool == TOOL_ELLIPSE || tool == TOOL_RECTANGLE
           || tool == TOOL_WHOLE_IMAGE;
}

} // namespace

ImageGraphicsView::ImageGraphicsView(QWidget *parent)
    : LGraphicsView(parent)
    , m_pDisplayMeasurer(std::make_unique<ImMeasurer>())
{
    for (int channel = 0; channel < 4; ++channel) {
        m_pChannelMeasurer[channel] = std::make_unique<ImMeasurer>();
        m_pChannelData8[channel].assign(kPixels, 0);
        m_pChannelData16[channel].assign(kPixels, 0);
    }
}

ImageGraphicsView::~ImageGraphicsView() = default;

void ImageGraphicsView::readSetting()
{
    const std::vector<int> n =
        readNumbers({{"LineThickness", "0"}, {"LineColor", "1"}, {"FontThickness", "24"}, {"FontColor", "1"}});
    m_CurrentLineThickness = n[0] + 1;
    m_CurrentLineColor = colorTableEntry(n[1]);
    m_CurrentFontSize = n[2];
    m_CurrentFontColor = colorTableEntry(n[3]);
}

void ImageGraphicsView::setFilterImageData(int colorIndex, void *data, int bits, int samples, bool resetCounts,
                                           int channel, bool show, uchar *rawData)
{
    if (!data || !rawData || samples != 1 || channel < 0 || channel > 3)
        return;
    if (bits == 8 || bits == 16) {
        void *copy;
        if (bits == 8) {
            std::memcpy(m_pChannelData8[channel].data(), rawData, kPixels);
            copy = m_pChannelData8[channel].data();
        } else {
            std::memcpy(m_pChannelData16[channel].data(), rawData, kPixels * sizeof(ushort));
            copy = m_pChannelData16[channel].data();
        }
        m_pChannelMeasurer[channel]->setImageData(copy, ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight, bits);
    }
    m_ChannelBits[channel] = bits;
    m_bChannelImage[channel] = true;
    if (show) {
        m_nCurrentFilter = channel;
        setImageData(colorIndex, data, bits, 1, resetCounts);
    }
    // Shown 16-bit data in plain values: the raw frame, in the camera layout, is measured instead.
    if (!m_bHighByte)
        m_pDisplayMeasurer->setImageData(rawData, ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight, bits);
}

void ImageGraphicsView::setOverlayImageData(void *data, int bits)
{
    m_nCurrentFilter = 4;
    setImageData(7, data, bits, 3, false);
}

void ImageGraphicsView::setImageData(int colorIndex, void *data, int bits, int samples, bool resetCounts)
{
    if (data && samples == 1 && m_bHighByte)
        m_pDisplayMeasurer->setImageData(data, ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight, bits);
    prepareFrame(resetCounts);
    LGraphicsView::setImageData(colorIndex, data, bits, samples, resetCounts);
}

void ImageGraphicsView::setFrameImage(const QImage &frame, bool resetCounts)
{
    prepareFrame(resetCounts);
    LGraphicsView::setFrameImage(frame, resetCounts);
}

void ImageGraphicsView::prepareFrame(bool resetCounts)
{
    readSetting();
    if (resetCounts) {
        m_MultiCountPoints.clear();
        m_CircleCountPoints.clear();
    }
}

void ImageGraphicsView::deleteAllAnnotation()
{
    QList<QGraphicsItem *> items;
    diagramScene()->getDiagramItemList(items);
    for (QGraphicsItem *item : items) // the view's own text has no key: the scene keeps it
        diagramScene()->removeGraphicsItem(item, false, false);
}

void ImageGraphicsView::slotMakeAnnotationImageData(bool before)
{
    QImage picture;
    getImageData(picture);
    QList<QGraphicsItem *> items;
    diagramScene()->getDiagramItemList(items);
    const bool annotated = std::any_of(items.begin(), items.end(), [](QGraphicsItem *item) { return item->isVisible(); });
    // The receiver copies the bits during the emission.
    emit signalSendAnnotationImageData(before, picture.bits(), int(picture.sizeInBytes()), picture.allGray(), annotated);
}

void ImageGraphicsView::contextMenuEvent(QContextMenuEvent *event)
{
    QGraphicsItem *item = itemAt(event->pos());
    if (item && item != pixmapItem()) {
        LGraphicsView::contextMenuEvent(event); // the item's own menu
        return;
    }
    if (!m_bContextMenuEnabled || m_bSkipContextMenu) {
        m_bSkipContextMenu = false;
        return;
    }
    // A pop-up that goes when closed: the touch screen's other events keep running meanwhile.
    QList<QGraphicsItem *> copied;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setFont(m_Font8);
    QAction *navigation = menu->addAction("Show Navigation", this, &ImageGraphicsView::slotShowNavigation);
    navigation->setCheckable(true);
    navigation->setChecked(m_bShowNavigation);
    menu->addAction("Paste", this, &ImageGraphicsView::slotPasteItem)->setEnabled(diagramScene()->getCopiedItem(copied) > 0);
    m_PastePoint = mapToScene(event->pos()).toPoint();
    menu->popup(event->globalPos());
}

void ImageGraphicsView::slotShowNavigation()
{
    m_bShowNavigation = !m_bShowNavigation;
    emit showNavigation(m_bShowNavigation);
}

void ImageGraphicsView::slotPasteItem()
{
    if (!diagramScene()->pasteItem(m_PastePoint))
        return;
    if (m_CurrentTool == TOOL_NONE || m_CurrentTool == TOOL_WHOLE_IMAGE) {
        diagramScene()->setMode(DiagramScene::MoveItem);
        diagramScene()->clearSelection();
        diagramScene()->setItemSelectableFlag(true);
    }
}

// ---------------------------------------------------------------------------------------------
// Tools and styles

void ImageGraphicsView::setCurrentMeasurementTool(int tool)
{
    DiagramScene *scene = diagramScene();
    scene->deleteTempItem();
    scene->clearSelection();
    if (tool == TOOL_NONE || tool == TOOL_WHOLE_IMAGE) {
        scene->setMode(DiagramScene::MoveItem);
        scene->setItemSelectableFlag(true);
    } else {
        scene->setItemSelectableFlag(false);
        const int mode = sceneMode(tool);
        if (mode == DiagramScene::InsertText) {
            scene->setTextColor(m_CurrentFontColor);
            scene->setTextPointSize(m_CurrentFontSize);
        } else if (mode) {
            scene->setItemColor(m_CurrentLineColor);
            scene->setItemThickness(m_CurrentLineThickness);
        }
        if (mode)
            scene->setMode(mode);
    }
    m_CurrentTool = TMeasurementTool(tool);
    m_ItemPoints.clear();
    if (tool == TOOL_WHOLE_IMAGE)
        updateMeasurementResult(TOOL_WHOLE_IMAGE, 0, false);
}

void ImageGraphicsView::setCurrentLineColor(QColor color)
{
    m_CurrentLineColor = color;
    diagramScene()->setItemColor(color);
}

void ImageGraphicsView::setCurrentLineThickness(int thickness)
{
    m_CurrentLineThickness = thickness;
    diagramScene()->setItemThickness(thickness);
}

void ImageGraphicsView::setCurrentFontColor(QColor color)
{
    m_CurrentFontColor = color;
    diagramScene()->setTextColor(color);
}

void ImageGraphicsView::setCurrentFontThickness(int thickness)
{
    m_CurrentFontSize = thickness;
    diagramScene()->setTextPointSize(thickness);
}

// ---------------------------------------------------------------------------------------------
// Measuring

TMeasurementTool ImageGraphicsView::measurementTool(const QGraphicsItem *item)
{
    if (!item)
        return TOOL_NONE;
    switch (item->type()) {
    case DiagramPathItem::Type:
        return TMeasurementTool(qgraphicsitem_cast<const DiagramPathItem *>(item)->m_MeasurementTool);
    case DiagramEllipseItem::Type:
        return TMeasurementTool(qgraphicsitem_cast<const DiagramEllipseItem *>(item)->m_MeasurementTool);
    case DiagramRectItem::Type:
        return TOOL_RECTANGLE;
    case DiagramLineItem::Type:
        return TOOL_LINE;
    case DiagramTextItem::Type:
        return TOOL_TEXT;
    default:
        return TOOL_NONE;
    }
}

std::vector<QPoint> &ImageGraphicsView::collectMarkers(TMeasurementTool tool, const QGraphicsItem *without)
{
    std::vector<QPoint> &markers = tool == TOOL_CIRCLE_COUNT ? m_CircleCountPoints : m_MultiCountPoints;
    QList<QGraphicsItem *> items;
    diagramScene()->getDiagramItemList(items);
    std::vector<std::pair<uint, QPoint>> found;
    for (QGraphicsItem *item : items)
        if (item != without && measurementTool(item) == tool) {
            const cv::Point c = rounded(item->sceneBoundingRect().center());
            found.emplace_back(diagramScene()->getItemKey(item), QPoint(c.x, c.y));
        }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    markers.clear();
    for (const auto &entry : found)
        markers.push_back(entry.second);
    return markers;
}

bool ImageGraphicsView::calcMeasurementItem(QGraphicsItem *item, TMeasurementTool tool)
{
    m_ItemPoints.clear();
    switch (tool) {
    case TOOL_LINE: {
        auto *line = qgraphicsitem_cast<DiagramLineItem *>(item);
        if (!line)
            return false;
        m_ItemPoints = {rounded(line->mapToScene(line->line().p1())), rounded(line->mapToScene(line->line().p2()))};
        return true;
    }
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE: {
        QRectF rect;
        if (auto *ellipse = qgraphicsitem_cast<DiagramEllipseItem *>(item); ellipse && tool == TOOL_ELLIPSE)
            rect = ellipse->rect();
        else if (auto *box = qgraphicsitem_cast<DiagramRectItem *>(item); box && tool == TOOL_RECTANGLE)
            rect = box->rect();
        else
            return false;
        m_ItemPoints = {rounded(item->mapToScene(rect.topLeft())), rounded(item->mapToScene(rect.bottomRight()))};
        return true;
    }
    case TOOL_ANGLE:
    case TOOL_POLYGON:
    case TOOL_SEGMENT_LINE:
    case TOOL_FREE_HAND: {
        auto *path = qgraphicsitem_cast<DiagramPathItem *>(item);
        if (!path)
            return false;
        // Lengths and angles do not depend on where the item lies; the polygon's region does.
        const QPainterPath &shape = path->path();
        for (int i = 0; i < shape.elementCount(); ++i) {
            QPointF p = shape.elementAt(i);
            if (tool == TOOL_POLYGON)
                p = path->mapToScene(p);
            m_ItemPoints.emplace_back(int(p.x()), int(p.y()));
        }
        return true;
    }
    case TOOL_MULTI_COUNT:
    case TOOL_CIRCLE_COUNT: {
        const bool kind = tool == TOOL_MULTI_COUNT ? item && item->type() == DiagramPathItem::Type
                                                   : item && item->type() == DiagramEllipseItem::Type;
        if (!kind)
            return false;
        collectMarkers(tool);
        return true;
    }
    default:
        return false;
    }
}

bool ImageGraphicsView::measureWith(ImMeasurer &measurer, TMeasurementTool tool, TSMeasurementItem &record)
{
    measurer.setCurrentMeasurementTool(tool);
    std::vector<cv::Point> points = m_ItemPoints;
    const size_t n = points.size();
    switch (tool) {
    case TOOL_LINE:
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
        if (n < 2 || !measurer.setROIImage(points[0], points[1]))
            return false;
        break;
    case TOOL_ANGLE:
        if (n < 3)
            return false;
        break;
    case TOOL_POLYGON:
    case TOOL_SEGMENT_LINE:
        if (n < (tool == TOOL_POLYGON ? 4u : 2u) || !measurer.setROIImage(points))
            return false;
        break;
    case TOOL_FREE_HAND:
        if (n < 1)
            return false;
        break;
    case TOOL_MULTI_COUNT:
    case TOOL_CIRCLE_COUNT: {
        const std::vector<QPoint> &markers = tool == TOOL_MULTI_COUNT ? m_MultiCountPoints : m_CircleCountPoints;
        points.clear();
        for (const QPoint &p : markers)
            points.emplace_back(p.x(), p.y());
        break;
    }
    case TOOL_WHOLE_IMAGE:
        points = {cv::Point(0, 0), cv::Point(ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight)};
        if (!measurer.setROIImage(points[0], points[1]))
            return false;
        break;
    default:
        return false;
    }
    record = measurer.measure(std::move(points));
    return true;
}

void ImageGraphicsView::updateOverlayMeasurementResult(TMeasurementTool tool)
{
    if (!measuredOnChannels(tool))
        return;
    for (int channel = 0; channel < 4; ++channel) {
        TSMeasurementItem record;
        if (m_bChannelImage[channel] && measureWith(*m_pChannelMeasurer[channel], tool, record))
            emit overlayMeasurementResultChanged(record, channel);
    }
}

void ImageGraphicsView::updateMeasurementResult(TMeasurementTool tool, uint key, bool inserted)
{
    m_pDisplayMeasurer->setCurrentMeasurementTool(tool);
    if (tool == TOOL_NONE || tool == TOOL_DELETE || tool < TOOL_NONE || tool > TOOL_WHOLE_IMAGE)
        return;
    updateOverlayMeasurementResult(tool);
    TSMeasurementItem record;
    if (tool == TOOL_TEXT)
        record.tool = TOOL_TEXT;
    else
        measureWith(*m_pDisplayMeasurer, tool, record);
    record.key = key;
    emit measurementResultChanged(record, inserted);
}

void ImageGraphicsView::slotCalcMeasurementItem(uint key, TMeasurementTool tool)
{
    QGraphicsItem *item = diagramScene()->getItemByKey(key);
    if (!item)
        return;
    calcMeasurementItem(item, tool);
    updateMeasurementResult(tool, key, false);
}

void ImageGraphicsView::slotRecalcMeasurementItem(uint key, TMeasurementTool tool)
{
    if (tool != TOOL_LINE && tool != TOOL_POLYGON && tool != TOOL_ELLIPSE && tool != TOOL_RECTANGLE)
        return;
    QGraphicsItem *item = diagramScene()->getItemByKey(key);
    if (!item)
        return;
    calcMeasurementItem(item, tool);
    std::vector<TSMeasurementItem> records(4);
    for (int channel = 0; channel < 4; ++channel) // a zero record where nothing was measured
        if (m_bChannelImage[channel])
            measureWith(*m_pChannelMeasurer[channel], tool, records[channel]);
    emit changeMeasurementResultTable(key, records);
}

// ---------------------------------------------------------------------------------------------
// The scene's items

void ImageGraphicsView::itemInserted(QGraphicsItem *item)
{
    const TMeasurementTool tool = measurementTool(item);
    const uint key = diagramScene()->getItemKey(item);
    calcMeasurementItem(item, tool);
    updateMeasurementResult(tool, key, true);
    emit changeCurrentSelectedItem(key, true, true);
    // The right press that ended the polygon or segment line opens no menu.
    if ((tool == TOOL_POLYGON || tool == TOOL_SEGMENT_LINE) && m_bContextMenuEnabled)
        m_bSkipContextMenu = true;
    LGraphicsView::itemInserted(item);
}

void ImageGraphicsView::itemSelected(QGraphicsItem *item)
{
    if (m_bItemSignals)
        emit changeCurrentSelectedItem(diagramScene()->getItemKey(item), item->isSelected(), false);
    LGraphicsView::itemSelected(item);
}

void ImageGraphicsView::itemMoved(QGraphicsItem *item)
{
    emit changeCurrentSelectedItem(diagramScene()->getItemKey(item), item->isSelected(), false);
    LGraphicsView::itemMoved(item);
}

void ImageGraphicsView::itemDeleted(uint key)
{
    if (key != 0 && m_bItemSignals)
        emit deletedItem(key);
    LGraphicsView::itemDeleted(key);
}

void ImageGraphicsView::slotSetCurrentSelectedItem(uint key)
{
    m_bItemSignals = false;
    diagramScene()->resetSelectedItem();
    if (key != 0)
        diagramScene()->selectItemByKey(key);
    m_bItemSignals = true;
}

void ImageGraphicsView::slotDeleteItem(uint key)
{
    m_bItemSignals = false;
    if (key != 0)
        diagramScene()->removeItemByKey(key);
    else
        deleteAllAnnotation();
    m_bItemSignals = true;
}

void ImageGraphicsView::slotShowAnnotation(bool show)
{
    QList<QGraphicsItem *> items;
    diagramScene()->getDiagramItemList(items);
    for (QGraphicsItem *item : items)
        if (diagramScene()->getItemKey(item) != 0) // the view's own text has its own switch
            item->setVisible(show);
}

void ImageGraphicsView::slotGetSelectedDiagramItemKeyList()
{
    QVector<uint> keys;
    diagramScene()->getSelectedDiagramItemKeyList(keys);
    emit setSelectedDiagramItemKeyList(keys);
}

void ImageGraphicsView::slotClearCapturedImage()
{
    clearImageData();
}

// ---------------------------------------------------------------------------------------------
// Mouse and keys

void ImageGraphicsView::mousePressEvent(QMouseEvent *event)
{
    const bool counting = m_CurrentTool == TOOL_MULTI_COUNT || m_CurrentTool == TOOL_CIRCLE_COUNT;
    if (event->button() == Qt::RightButton && counting) {
        // The scene removes its last marker next: the count goes without it.
        if (const QGraphicsItem *last = diagramScene()->lastMarker(m_CurrentTool == TOOL_CIRCLE_COUNT)) {
            collectMarkers(m_CurrentTool, last);
            updateMeasurementResult(m_CurrentTool, 0, true);
        }
    } else {
        const size_t limit = m_CurrentTool == TOOL_ANGLE ? 3 : 2;
        const bool twoPointTool = m_CurrentTool == TOOL_LINE || m_CurrentTool == TOOL_ELLIPSE
                                  || m_CurrentTool == TOOL_RECTANGLE || m_CurrentTool == TOOL_FREE_HAND;
        if ((twoPointTool || m_CurrentTool == TOOL_ANGLE) && m_ItemPoints.size() >= limit)
            m_ItemPoints.clear();
    }
    LGraphicsView::mousePressEvent(event);
}

void ImageGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (pixmapItem()) {
        const cv::Point s = rounded(mapToScene(event->pos()));
        const cv::Point p(std::clamp(s.x, 0, ImMeasurer::kFrameWidth - 1), std::clamp(s.y, 0, ImMeasurer::kFrameHeight - 1));
        if (m_nCurrentFilter == 4) {
            for (int channel = 0; channel < 4; ++channel)
                if (m_bChannelImage[channel])
                    emit currentImagePositionAndIntensity(QPoint(p.x, p.y), m_pChannelMeasurer[channel]->intensity(p), channel);
        } else {
            emit currentImagePositionAndIntensity(QPoint(p.x, p.y), m_pDisplayMeasurer->intensity(p), m_nCurrentFilter);
        }
    }
    LGraphicsView::mouseMoveEvent(event);
}

void ImageGraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    DiagramScene *scene = diagramScene();
    if (event->button() == Qt::LeftButton
        && (!scene->selectedItems().isEmpty() || scene->mode() == DiagramScene::MoveItem))
        emit unselectAll();
    QGraphicsView::mouseDoubleClickEvent(event);
}

bool ImageGraphicsView::acceptsKeys() const
{
    return m_bKeyEnabled && diagramScene()->hasFocus() && isVisible() && isActiveWindow()
           && rect().contains(mapFromGlobal(QCursor::pos()));
}

void ImageGraphicsView::keyPressEvent(QKeyEvent *event)
{
    if (!acceptsKeys() || m_CurrentTool != TOOL_NONE)
        return;
    DiagramScene *scene = diagramScene();
    const bool control = event->modifiers() == Qt::ControlModifier;
    const int key = event->key();
    if (control && key == Qt::Key_V) {
        const cv::Point p = rounded(mapToScene(viewport()->mapFromGlobal(QCursor::pos())));
        m_PastePoint = QPoint(p.x, p.y);
        slotPasteItem();
    } else if (key == Qt::Key_Escape) {
        scene->clearSelection();
    } else if (key == Qt::Key_Delete) {
        scene->slotDeleteItem();
    } else if (control && key == Qt::Key_X) {
        scene->slotCutItem();
    } else if (control && key == Qt::Key_C) {
        scene->slotCopyItem();
    } else if (control && key == Qt::Key_A) {
        selectAllItem();
    } else {
        QGraphicsView::keyPressEvent(event);
    }
}
