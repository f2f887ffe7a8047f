#include "ImageGraphicsView.h"

#include "DiagramScene.h"
#include "Globals.h"
#include "ImMeasurer.h"
#include "Paths.h"
#include "PrivateProfile.h"

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
void ImageGraphicsView::slotMakeAnnotationImageData(bool) {}
void ImageGraphicsView::slotClearCapturedImage() {}
void ImageGraphicsView::slotShowAnnotation(bool) {}
void ImageGraphicsView::slotSetCurrentSelectedItem(uint) {}
void ImageGraphicsView::slotDeleteItem(uint) {}
void ImageGraphicsView::slotCalcMeasurementItem(uint, TMeasurementTool) {}
void ImageGraphicsView::slotRecalcMeasurementItem(uint, TMeasurementTool) {}
void ImageGraphicsView::slotGetSelectedDiagramItemKeyList() {}
