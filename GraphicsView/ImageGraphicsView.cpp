#include "ImageGraphicsView.h"

#include "DiagramScene.h"
#include "Globals.h"
#include "ImMeasurer.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QContextMenuEvent>
#include <QGraphicsPixmapItem>
#include <QMenu>
#include <cstring>

namespace {

constexpr int kPixels = ImMeasurer::kFrameWidth * ImMeasurer::kFrameHeight;

int readNumber(const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString("Setting_MultiColor", key, def, value, Paths::configFile().toStdString());
    bool ok = false;
    const int number = QString::fromStdString(value).trimmed().toInt(&ok);
    return ok ? number : QString(def).toInt();
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
    m_CurrentLineThickness = readNumber("LineThickness", "0") + 1;
    m_CurrentLineColor = colorTableEntry(readNumber("LineColor", "0"));
    m_CurrentFontSize = readNumber("FontThickness", "5");
    m_CurrentFontColor = colorTableEntry(readNumber("FontColor", "0"));
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
    readSetting();
    if (resetCounts) {
        m_MultiCountPoints.clear();
        m_CircleCountPoints.clear();
    }
    LGraphicsView::setImageData(colorIndex, data, bits, samples, resetCounts);
}

void ImageGraphicsView::deleteAllAnnotation()
{
    QList<QGraphicsItem *> items;
    diagramScene()->getDiagramItemList(items);
    for (QGraphicsItem *item : items) // the view's own text has no key: the scene keeps it
        diagramScene()->removeGraphicsItem(item, false, false);
}

void ImageGraphicsView::setCurrentMeasurementTool(int) {}
void ImageGraphicsView::setCurrentLineColor(QColor) {}
void ImageGraphicsView::setCurrentLineThickness(int) {}
void ImageGraphicsView::setCurrentFontColor(QColor) {}
void ImageGraphicsView::setCurrentFontThickness(int) {}
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
    QList<QGraphicsItem *> copied;
    QMenu menu;
    menu.setFont(m_Font8);
    QAction *navigation = menu.addAction("Show Navigation", this, &ImageGraphicsView::slotShowNavigation);
    navigation->setCheckable(true);
    navigation->setChecked(m_bShowNavigation);
    menu.addAction("Paste", this, &ImageGraphicsView::slotPasteItem)->setEnabled(diagramScene()->getCopiedItem(copied) > 0);
    m_PastePoint = mapToScene(event->pos()).toPoint();
    menu.exec(event->globalPos());
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
void ImageGraphicsView::slotClearCapturedImage() {}
void ImageGraphicsView::slotShowAnnotation(bool) {}
void ImageGraphicsView::slotSetCurrentSelectedItem(uint) {}
void ImageGraphicsView::slotDeleteItem(uint) {}
void ImageGraphicsView::slotCalcMeasurementItem(uint, TMeasurementTool) {}
void ImageGraphicsView::slotRecalcMeasurementItem(uint, TMeasurementTool) {}
void ImageGraphicsView::slotGetSelectedDiagramItemKeyList() {}
