#pragma once
#include "LGraphicsView.h"
#include "TMeasurementTool.h"
#include "TSMeasurementItem.h"

#include <QColor>
#include <QPoint>
#include <QVector>
#include <array>
#include <memory>
#include <opencv2/core/types.hpp>
#include <vector>

class ImMeasurer;
class QGraphicsItem;

// The zoomable, annotated view of the Multicolor page's captured channels and overlay, with its
// measurement items. Keeps a copy of each captured channel (0 to 3) for measuring, with one
// measurer per channel and one for the shown image.
class ImageGraphicsView : public LGraphicsView
{
    Q_OBJECT
public:
    explicit ImageGraphicsView(QWidget *parent = nullptr);
    ~ImageGraphicsView() override;

    // Stores a 1280 x 1024 single-sample channel (0 to 3) of 8 or 16 bits for measuring: rawData
    // (camera layout for 16 bits) is copied into the channel's buffer. With show set the channel
    // becomes current and data is shown through setImageData. A null frame or raw frame, another
    // sample count or a channel outside 0..3 is refused.
    void setFilterImageData(int colorIndex, void *data, int bits, int samples, bool resetCounts, int channel,
                            bool show, uchar *rawData);
    // The merged colour overlay, shown only; it becomes the current position (4).
    void setOverlayImageData(void *data, int bits);
    // Shows a frame; single-sample frames in the camera layout (m_bHighByte) are also measured as
    // shown. resetCounts empties the marker lists of the count tools.
    void setImageData(int colorIndex, void *data, int bits, int samples, bool resetCounts) override;
    void setFrameImage(const QImage &frame, bool resetCounts) override;
    // Takes every annotation item out of the scene, silently; the marker lists stay.
    void deleteAllAnnotation();
    // Line and text styles of new items from [Setting_MultiColor].
    void readSetting();

    int currentFilter() const { return m_nCurrentFilter; }
    bool channelHasImage(int channel) const { return channel >= 0 && channel < 4 && m_bChannelImage[channel]; }
    int channelBits(int channel) const { return m_ChannelBits[channel]; }
    QColor currentLineColor() const { return m_CurrentLineColor; }
    int currentLineThickness() const { return m_CurrentLineThickness; }
    QColor currentFontColor() const { return m_CurrentFontColor; }
    int currentFontSize() const { return m_CurrentFontSize; }
    const std::vector<QPoint> &multiCountPoints() const { return m_MultiCountPoints; }
    const std::vector<QPoint> &circleCountPoints() const { return m_CircleCountPoints; }
    TMeasurementTool currentMeasurementTool() const { return m_CurrentTool; }
    // The measuring tool of an annotation item: what it was drawn with, by its kind.
    static TMeasurementTool measurementTool(const QGraphicsItem *item);

    // Set once by the main window at start-up: the view's own menu ("Show Navigation", "Paste").
    bool m_bContextMenuEnabled = false;

public slots:
    void setCurrentMeasurementTool(int tool);
    void setCurrentLineColor(QColor color);
    void setCurrentLineThickness(int thickness);
    void setCurrentFontColor(QColor color);
    void setCurrentFontThickness(int thickness);
    void slotMakeAnnotationImageData(bool before);
    void slotClearCapturedImage();
    void slotShowAnnotation(bool show);
    void slotSetCurrentSelectedItem(uint key);
    void slotDeleteItem(uint key);
    void slotCalcMeasurementItem(uint key, TMeasurementTool tool);
    void slotRecalcMeasurementItem(uint key, TMeasurementTool tool);
    void slotGetSelectedDiagramItemKeyList();
    // The view's own menu: toggles the navigator; pastes the copied items at the menu's point.
    void slotShowNavigation();
    void slotPasteItem();

signals:
    void showNavigation(bool show);
    void measurementResultChanged(TSMeasurementItem &item, bool inserted);
    void overlayMeasurementResultChanged(TSMeasurementItem &item, int filterPosition);
    void currentImagePositionAndIntensity(QPoint point, int value, int filter);
    void unselectAll();
    void signalSendAnnotationImageData(bool before, uchar *data, int size, bool grey, bool annotated);
    void changeCurrentSelectedItem(uint key, bool selected, bool inserted);
    void deletedItem(uint key);
    void changeMeasurementResultTable(uint key, std::vector<TSMeasurementItem> &items);
    void setSelectedDiagramItemKeyList(QVector<uint> &keys);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void itemSelected(QGraphicsItem *item) override;
    void itemInserted(QGraphicsItem *item) override;
    void itemMoved(QGraphicsItem *item) override;
    void itemDeleted(uint key) override;

private:
    // Before any new frame: the item styles read again; resetCounts empties the marker lists.
    void prepareFrame(bool resetCounts);
    // m_ItemPoints from an item measured with tool; false (no points) when the item is not of
    // the tool's kind. The count tools take the markers of their kind in the scene.
    bool calcMeasurementItem(QGraphicsItem *item, TMeasurementTool tool);
    // The record of the shown image for tool, after the channels' records where they apply.
    void updateMeasurementResult(TMeasurementTool tool, uint key, bool inserted);
    void updateOverlayMeasurementResult(TMeasurementTool tool);
    // Measures m_ItemPoints (or the markers) with one measurer; false, record untouched, when
    // the points are too few or give no region.
    bool measureWith(ImMeasurer &measurer, TMeasurementTool tool, TSMeasurementItem &record);
    // The markers of a count tool (8 or 10) in the scene but without, by their centres in the
    // order they were placed, into that tool's list.
    std::vector<QPoint> &collectMarkers(TMeasurementTool tool, const QGraphicsItem *without = nullptr);
    // Whether the cursor lies over the view and the keys are for this view's items.
    bool acceptsKeys() const;

    std::unique_ptr<ImMeasurer> m_pDisplayMeasurer;
    std::array<std::unique_ptr<ImMeasurer>, 4> m_pChannelMeasurer;
    std::array<std::vector<uchar>, 4> m_pChannelData8;
    std::array<std::vector<ushort>, 4> m_pChannelData16;
    std::array<int, 4> m_ChannelBits{8, 8, 8, 8};
    std::array<bool, 4> m_bChannelImage{};
    int m_nCurrentFilter = 0;
    TMeasurementTool m_CurrentTool = TMeasurementTool(0);
    QColor m_CurrentLineColor;
    int m_CurrentLineThickness = 1;
    QColor m_CurrentFontColor;
    int m_CurrentFontSize = 5;
    std::vector<QPoint> m_MultiCountPoints;  // markers of the multi-count tool
    std::vector<QPoint> m_CircleCountPoints; // markers of the circle-count tool
    std::vector<cv::Point> m_ItemPoints;     // points of the item being measured
    bool m_bItemSignals = true;      // off while the page itself selects or deletes items
    bool m_bSkipContextMenu = false; // the right press that ended a polygon or segment line
    bool m_bShowNavigation = true;
    QPoint m_PastePoint;             // scene point on which pasted items are centred
};
