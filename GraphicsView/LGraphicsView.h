#pragma once
#include "DiagramTextItem.h"
#include "FramePixmapItem.h"
#include "Navigation.h"
#include "TAnnotationTextInfo.h"
#include "TSScaleBar.h"

#include <QColor>
#include <QFont>
#include <QPointer>

#include <QGraphicsView>
#include <QImage>
#include <QPixmap>
#include <QTransform>
#include <utility>

class DiagramItemGroup;
class DiagramScene;
class Graphics_view_zoom;
class QGraphicsLineItem;
class QGraphicsPixmapItem;
class QGraphicsTextItem;
class QMenu;

// The zoomable view in which the pages show a 1280 x 1024 frame: the frame becomes a pixmap at
// the bottom of the view's annotation scene, so annotation items lie over it in image pixels.
// Zooms by wheel steps (Graphics_view_zoom), fits, pans by a hand drag (left button on the
// background in select mode, or middle button), keeps a Navigation record of the displayed
// region, and renders image and items into one picture for saving. Above the annotation items
// it carries a draggable scale bar (six lines and a label in one group) and one annotation text,
// each with a "Settings..." context menu. GUI thread only.
class LGraphicsView : public QGraphicsView
{
    Q_OBJECT
public:
    static constexpr int kImageWidth = 1280;
    static constexpr int kImageHeight = 1024;

    explicit LGraphicsView(QWidget *parent = nullptr);
    ~LGraphicsView() override;

    // Shows a frame of 8 or 16 bits with 1 channel (through the colour table at colorIndex) or
    // 3 channels (RGB). reset puts zoom, region and navigator back to 100 % at the top left.
    // The data is read during the call only; a null frame changes nothing.
    virtual void setImageData(int colorIndex, void *data, int bits, int channels, bool reset);
    // Shows a red-green-blue frame the caller holds (RGB888 of the image size; anything else
    // changes nothing), sharing it instead of copying it.
    virtual void setFrameImage(const QImage &frame, bool reset);
    // An array for the next 8-bit grey frame (kImageWidth x kImageHeight bytes, rows kImageWidth
    // apart), apart from the one on screen: a frame read into it and given to setImageData is
    // shown without a copy.
    uchar *nextFrame8();
    // Empties the view: no frame, no items, zoom 100 %; the navigator stays as it was.
    void clearImageData();
    // Mirror of the frames shown afterwards, by orientation code: 2, 6 left-right; 3, 7 turned
    // by 180 degrees; 4, 8 top-bottom; others none.
    void setPixmapTransform(int orientation);
    // Navigator region size (the view's where a value is not positive); position back to 0, 0.
    void initNavigation(int width, int height);
    void getNavigation(Navigation &navigation);
    void setEnableZoomFit(bool enable);
    // Fits the image into the view when fit is enabled.
    void zoomFit();
    // Image and visible items rendered into one RGB picture of the image size.
    bool getImageData(QImage &image);
    // The same picture drawn into target, an RGB888 image of the image size (which may lie over
    // the caller's buffer); false, target untouched, for any other image.
    bool renderImageData(QImage &target);
    // Micrometres per image pixel for an objective (maker, magnification); 0 for none.
    void setObjectiveInfo(QString brand, float magnification);
    float objectivePixelSize() const { return m_ObjectivePixelSize; }

    // An absolute zoom (100 = one image pixel per view pixel) about a view point; the held zoom
    // value is not changed.
    virtual void sceneScaleChange(const double &zoom, QPoint viewPoint);
    double zoomValue() const { return m_ZoomValue; }
    QPointF regionOrigin() const { return m_RegionOrigin; }
    DiagramScene *diagramScene() const { return m_Scene; }
    Graphics_view_zoom *zoomFilter() const { return m_ZoomFilter; }
    QGraphicsPixmapItem *pixmapItem() const { return m_PixmapItem; }

    // Lays the scale bar out from a record, shows or hides it. Nothing happens before a frame is
    // shown or when the record has no objective. Once placed, a new record keeps the end the user
    // dragged (the start for the left corners, the end for the right ones) unless it asks for a
    // reset to its corner's anchor.
    void setScaleBar(TSScaleBar scaleBar);
    // The scale bar's scene position (start of the bar); left as it is while no bar exists.
    void getScaleBarPoint(QPointF &point);

    // Where the annotation text is created (it is anchored at its bottom right).
    void setDefalutTextItemPos(QPointF point);
    // Creates the annotation text when needed and sets its text.
    void setAnnotationText(QString text);
    // Point size and colour of the annotation text, and of the one created later.
    void setAnnotationFont(int pointSize, QColor color);
    // The series browsers' stamp: the annotation font from [Setting_MultiColor] FontThickness and
    // FontColor. It is drawn at image scale, so it is never smaller than kMinStampPointSize.
    static constexpr int kMinStampPointSize = 16;
    void readStampFont();
    void showAnnotationText(bool show);
    // The annotation text as it stands; defaults (not visible, 10, yellow, (1000, 900), no text)
    // when there is none. y is the bottom edge of the text.
    void getAnnotationTextInfo(TAnnotationTextInfo &info);
    DiagramItemGroup *scaleBarGroup() const { return m_ScaleBarGroup; }
    QGraphicsLineItem *scaleBarLine(int index) const { return m_ScaleBarLine[index]; }
    QGraphicsTextItem *scaleBarText() const { return m_ScaleBarText; }
    DiagramTextItem *annotationTextItem() const { return m_AnnotationTextItem; }
    QMenu *scaleBarMenu() const { return m_ScaleBarMenu; }

    bool m_bHighByte = true;    // 16-bit single-channel frames: first byte of each word, else scaled
    bool m_bKeyEnabled = false; // Escape, Delete and Control+A act on the items

public slots:
    void slotItemInserted(QGraphicsItem *item);
    void slotItemSelected(QGraphicsItem *item);
    void slotItemMoved(QGraphicsItem *item);
    void slotItemDeleted(uint key);

signals:
    // After every reset, zoom, fit and pan step: the navigator record changed.
    void signalMouseZoomEvent();
    void changeScaleBarSetting(bool resetPosition, int positionIndex);

protected:
    // Removes the selected annotation items through the scene's removal rule, silently.
    virtual void deleteItem();
    virtual void selectAllItem();
    // Hooks for the measuring view; nothing here.
    virtual void itemSelected(QGraphicsItem *item);
    virtual void itemInserted(QGraphicsItem *item);
    virtual void itemMoved(QGraphicsItem *item);
    virtual void itemDeleted(uint key);

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // The background around the frame only: the opaque frame paints every pixel of its own.
    void drawBackground(QPainter *painter, const QRectF &rect) override;

private slots:
    void slotZoomed(double delta, QPointF scenePoint);
    // "Settings..." of the bar: the scale-bar dialog, then changeScaleBarSetting when applied.
    void slotScaleBarSetting();
    // "Settings..." of the annotation text: colour and point size through the item dialog.
    void slotTextItemSetting();

private:
    // The steps around a new frame's pixmap: before it (zoom and region reset, old frame
    // removed) and after it (zoom signal, repaint).
    void beginFrame(bool reset);
    void endFrame(bool reset);
    void drawPixmap(int colorIndex, void *data, int bits, int channels);
    // m_Pixmap, mirrored as set, into the scene as the frame item.
    void placePixmap();
    // The frame's picture (Indexed8 with its 256 opaque colours, RGB888, else RGB32) when the frame's
    // pixmap covers the whole picture opaquely and every other item lies above it.
    bool frameBelowItems(QImage &frame) const;
    // The rows [first, second) the visible items other than the frame may paint on.
    std::pair<int, int> itemRows() const;
    // Rows [top, bottom) of such a frame picture into an RGB888 or ARGB32 image of the image size.
    static void writeFrameRows(const QImage &frame, QImage &target, int top, int bottom);
    void setRegionSize(double width, double height);
    void setRegionOrigin(double x, double y);
    void removePixmapItem();
    void CreateScaleBarItem();
    void CreateAnnotationTextItem();
    void forgetOverlays();

    Graphics_view_zoom *m_ZoomFilter;
    DiagramScene *m_Scene;
    bool m_bMiddlePan = false;
    int m_SavedSceneMode = 11;
    QImage m_IndexedImage;
    QImage m_NextIndexedImage; // nextFrame8's, made on its first call
    QImage m_RenderBuffer; // the picture of getImageData before its alpha is dropped
    QPixmap m_Pixmap;
    FramePixmapItem *m_PixmapItem = nullptr;
    QTransform m_PixmapMatrix;
    double m_ZoomValue = 100;
    double m_PrevZoomValue = 100;
    Navigation m_Navigation;
    QPointF m_RegionOrigin;
    double m_RegionWidth = 0;
    double m_RegionHeight = 0;
    QPoint m_PressPos;
    QPoint m_MovePos;
    float m_ObjectivePixelSize = 0;

    bool m_bScaleBarMovable = true;
    bool m_bScaleBarPlaced = false;
    DiagramItemGroup *m_ScaleBarGroup = nullptr; // owned by the scene
    QGraphicsTextItem *m_ScaleBarText = nullptr;
    QGraphicsLineItem *m_ScaleBarLine[6] = {}; // 0 the bar, 1 to 5 the ticks
    QMenu *m_ScaleBarMenu;
    QMenu *m_TextItemMenu;
    QPointer<DiagramTextItem> m_AnnotationTextItem;
    QFont m_AnnotationFont;
    QColor m_AnnotationColor = QColor(0, 255, 0);
    QPointF m_DefaultTextPos = QPointF(780, 930);
};
