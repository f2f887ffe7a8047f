#include "LGraphicsView.h"

#include "DiagramItemGroup.h"
#include "DiagramScene.h"
#include "DiagramTextItem.h"
#include "Globals.h"
#include "Graphics_view_zoom.h"
#include "ItemSettingDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ScaleBarDlg.h"
#include "Utilities.h"

#include <QDebug>
#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsTextItem>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QPen>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr double kScaleTo8Bits = 255.0 / 4094.0; // 12-bit values from 4094 up become 255

// Every 16-bit value scaled to 8 bits exactly as convertTo scales a frame.
const uchar *scaleTable()
{
    static const cv::Mat table = [] {
        cv::Mat values(1, 65536, CV_16UC1), scaled;
        for (int v = 0; v < 65536; ++v)
            values.at<ushort>(v) = ushort(v);
        values.convertTo(scaled, CV_8U, kScaleTo8Bits, 0);
        return scaled;
    }();
    return table.data;
}

float profileNumber(const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString("ScaleBar", key, def, value, Paths::configFile().toStdString());
    return float(QLocale::c().toDouble(QString::fromStdString(value).trimmed()));
}

// A context menu of one action, "Settings...".
QMenu *settingsMenu(LGraphicsView *view, void (LGraphicsView::*slot)())
{
    auto *menu = new QMenu;
    menu->setFont(m_Font8);
    QObject::connect(menu->addAction("Settings..."), &QAction::triggered, view, slot);
    return menu;
}

} // namespace

LGraphicsView::LGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
    , m_IndexedImage(kImageWidth, kImageHeight, QImage::Format_Indexed8)
    , m_ScaleBarMenu(settingsMenu(this, &LGraphicsView::slotScaleBarSetting))
    , m_TextItemMenu(settingsMenu(this, &LGraphicsView::slotTextItemSetting))
    , m_AnnotationFont(m_Font10)
{
    m_Navigation.setImageSize(kImageWidth, kImageHeight);
    m_Navigation.setNavigationColor(1, 122, 255);
    m_Navigation.setNavigationSize(100, 80);

    setMouseTracking(true);
    setDragMode(NoDrag);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    // Frame and background cover the viewport: nothing is filled under them, and no cached
    // background is blitted under the frame.
    setCacheMode(CacheNone);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setViewportUpdateMode(SmartViewportUpdate);
    setTransformationAnchor(AnchorUnderMouse);

    m_Scene = new DiagramScene(this);
    m_Scene->setBackgroundBrush(QBrush(Qt::black, Qt::SolidPattern));
    setScene(m_Scene);

    m_ZoomFilter = new Graphics_view_zoom(this);
    m_ZoomFilter->set_modifiers(Qt::NoModifier);
    m_ZoomFilter->set_zoom_step(0, 5);
    connect(m_ZoomFilter, &Graphics_view_zoom::zoomed, this, &LGraphicsView::slotZoomed);

    connect(m_Scene, &DiagramScene::itemInserted, this, &LGraphicsView::slotItemInserted);
    connect(m_Scene, &DiagramScene::itemSelected, this, &LGraphicsView::slotItemSelected);
    connect(m_Scene, &DiagramScene::itemMoved, this, &LGraphicsView::slotItemMoved);
    connect(m_Scene, &DiagramScene::itemDeleted, this, &LGraphicsView::slotItemDeleted);
    // Whoever clears the scene, the view never keeps a pointer to a freed item.
    connect(m_Scene, &DiagramScene::sceneCleared, this, [this] {
        m_PixmapItem = nullptr;
        forgetOverlays();
    });
    m_IndexedImage.fill(0);
}

LGraphicsView::~LGraphicsView()
{
    m_Scene->clearScene(); // frees every item, the frame's included (forgotten on sceneCleared)
    m_Scene->disconnect(this); // the scene, a child, outlives this part of the view
    delete m_ScaleBarMenu;
    delete m_TextItemMenu;
}

// ---------------------------------------------------------------------------------------------
// Frames

void LGraphicsView::setImageData(int colorIndex, void *data, int bits, int channels, bool reset)
{
    if (!data)
        return;
    beginFrame(reset);
    drawPixmap(clampColorIndex(colorIndex), data, bits, channels);
    endFrame(reset);
}

void LGraphicsView::setFrameImage(const QImage &frame, bool reset)
{
    if (frame.size() != QSize(kImageWidth, kImageHeight) || frame.format() != QImage::Format_RGB888)
        return;
    beginFrame(reset);
    m_Pixmap = QPixmap::fromImage(frame, Qt::NoFormatConversion);
    placePixmap();
    endFrame(reset);
}

void LGraphicsView::beginFrame(bool reset)
{
    m_Scene->deleteTempItem();
    if (reset) {
        m_ZoomValue = 100;
        setRegionSize(width(), height());
        setRegionOrigin(0, 0);
        m_PressPos = QPoint(0, 0);
    }
    removePixmapItem();
}

void LGraphicsView::endFrame(bool reset)
{
    if (reset) {
        sceneScaleChange(100.0, QPoint(0, 0));
        m_ZoomFilter->set_current_zoom_step(0);
        emit signalMouseZoomEvent();
    }
    viewport()->update();
}

void LGraphicsView::drawPixmap(int colorIndex, void *data, int bits, int channels)
{
    if (channels == 1) {
        if (g_PseudoColorTable[colorIndex].size() != 256)
            initializePseudoColorTable();
        // The frame's 8-bit values are written into the indexed image in place (the old pixmap,
        // which shares them, goes first), and the pixmap keeps that image with its colour table
        // as it is: no pass over the frame in the display's own format. A frame of another depth
        // shows the kept values again. The tables are made opaque.
        m_Pixmap = QPixmap();
        const bool inPlace = bits == 8 && !m_NextIndexedImage.isNull() && data == m_NextIndexedImage.constBits();
        if (inPlace)
            std::swap(m_IndexedImage, m_NextIndexedImage);
        cv::Mat indices(kImageHeight, kImageWidth, CV_8UC1, m_IndexedImage.bits(), size_t(m_IndexedImage.bytesPerLine()));
        if (bits == 8 && !inPlace) {
            cv::Mat(kImageHeight, kImageWidth, CV_8UC1, data).copyTo(indices);
        } else if (bits == 16 && m_bHighByte) {
            // The first byte of each word: bits 11 to 4 of a camera value.
            cv::extractChannel(cv::Mat(kImageHeight, kImageWidth, CV_8UC2, data), indices, 0);
        } else if (bits == 16) {
            const cv::Mat words(kImageHeight, kImageWidth, CV_16UC1, data);
            cv::parallel_for_(cv::Range(0, kImageHeight), [&](const cv::Range &rows) {
                cv::Mat band = indices.rowRange(rows.start, rows.end);
                words.rowRange(rows.start, rows.end).convertTo(band, CV_8U, kScaleTo8Bits, 0);
            }, 8);
        }
        QVector<QRgb> colours(256);
        for (int i = 0; i < 256; ++i)
            colours[i] = 0xFF000000u | g_PseudoColorTable[colorIndex][i];
        m_IndexedImage.setColorTable(colours);
        m_Pixmap = QPixmap::fromImage(m_IndexedImage, Qt::NoFormatConversion);
    } else {
        if (bits == 8) {
            // Kept as red-green-blue samples: the frame item samples them into the display's
            // format for the part it shows, so a whole-frame conversion here would be done twice.
            const QImage rgb(static_cast<const uchar *>(data), kImageWidth, kImageHeight, 3 * kImageWidth,
                             QImage::Format_RGB888);
            m_Pixmap = QPixmap::fromImage(rgb.copy(), Qt::NoFormatConversion);
            placePixmap();
            return;
        }
        // Straight into the display's own format, so that the pixmap adopts the image as it is.
        QImage rgb(kImageWidth, kImageHeight, QImage::Format_RGB32);
        if (bits == 16) {
            // One pass through the scale's table, in bands of rows on OpenCV's threads: the
            // input alone is 7.8 MB.
            const uchar *table = scaleTable();
            const auto *in = static_cast<const ushort *>(data);
            auto *out = reinterpret_cast<quint32 *>(rgb.bits());
            cv::parallel_for_(cv::Range(0, kImageHeight), [&](const cv::Range &rows) {
                for (int i = rows.start * kImageWidth; i < rows.end * kImageWidth; ++i) {
                    const ushort *p = in + 3 * i;
                    out[i] = 0xFF000000u | quint32(table[p[0]]) << 16 | quint32(table[p[1]]) << 8 | table[p[2]];
                }
            });
        } else {
            rgb.fill(Qt::black);
        }
        m_Pixmap = QPixmap::fromImage(std::move(rgb));
    }
    placePixmap();
}

void LGraphicsView::placePixmap()
{
    if (!m_PixmapMatrix.isIdentity())
        m_Pixmap = m_Pixmap.transformed(m_PixmapMatrix, Qt::FastTransformation);
    setSceneRect(0, 0, kImageWidth, kImageHeight);
    m_Scene->setSceneRect(0, 0, kImageWidth, kImageHeight);
    m_PixmapItem = new FramePixmapItem(m_Pixmap);
    m_Scene->addItem(m_PixmapItem);
    m_PixmapItem->setZValue(-1001);
    m_Scene->update();
}

uchar *LGraphicsView::nextFrame8()
{
    if (m_NextIndexedImage.isNull())
        m_NextIndexedImage = QImage(kImageWidth, kImageHeight, QImage::Format_Indexed8);
    return m_NextIndexedImage.bits(); // no pixmap shares it: the frame's pixmap holds the other
}

void LGraphicsView::drawBackground(QPainter *painter, const QRectF &rect)
{
    const QTransform device = painter->combinedTransform();
    const QRect covered = m_PixmapItem ? m_PixmapItem->coveredDeviceRect(device) : QRect();
    if (covered.isEmpty() || device.type() > QTransform::TxScale) {
        QGraphicsView::drawBackground(painter, rect);
        return;
    }
    const QRegion around = QRegion(device.mapRect(rect).toAlignedRect()) - covered;
    if (around.isEmpty())
        return;
    painter->save();
    const QTransform world = painter->worldTransform();
    const bool view = painter->viewTransformEnabled();
    painter->setViewTransformEnabled(false);
    painter->setWorldTransform(QTransform());
    painter->setClipRegion(around, Qt::IntersectClip); // in device pixels
    painter->setViewTransformEnabled(view);
    painter->setWorldTransform(world);
    QGraphicsView::drawBackground(painter, rect);
    painter->restore();
}

void LGraphicsView::removePixmapItem()
{
    if (!m_PixmapItem)
        return;
    m_Scene->removeItem(m_PixmapItem);
    delete m_PixmapItem;
    m_PixmapItem = nullptr;
}

void LGraphicsView::setPixmapTransform(int orientation)
{
    switch (orientation) {
    case 2:
    case 6:
        m_PixmapMatrix = QTransform::fromScale(-1, 1);
        break;
    case 3:
    case 7:
        m_PixmapMatrix = QTransform::fromScale(-1, -1);
        break;
    case 4:
    case 8:
        m_PixmapMatrix = QTransform::fromScale(1, -1);
        break;
    default:
        m_PixmapMatrix.reset();
    }
}

void LGraphicsView::clearImageData()
{
    if (isEnableSerialLog())
        qDebug() << "void LGraphicsView::clearImageData()" << "== Clear start";
    m_ZoomValue = 100;
    removePixmapItem();
    m_Scene->clearScene();
    if (isEnableSerialLog())
        qDebug() << "void LGraphicsView::clearImageData()" << "== Clear end";
}

bool LGraphicsView::getImageData(QImage &image)
{
    image = QImage(kImageWidth, kImageHeight, QImage::Format_RGB888);
    const bool rendered = renderImageData(image);
    if (isEnableSerialLog())
        qDebug() << "bool LGraphicsView::getImageData(QImage&)"
                 << " depth = " << m_RenderBuffer.depth() << " colorcount = " << m_RenderBuffer.colorCount()
                 << " bitPlaneCount = " << m_RenderBuffer.bitPlaneCount();
    return rendered;
}

bool LGraphicsView::renderImageData(QImage &target)
{
    if (target.size() != QSize(kImageWidth, kImageHeight) || target.format() != QImage::Format_RGB888)
        return false;
    m_Scene->clearSelection();
    m_Scene->setSceneRect(0, 0, kImageWidth, kImageHeight);
    const QRectF source = m_Scene->sceneRect();
    // The scene is drawn on transparent ARGB32, whose blending every picture has been made with.
    if (m_RenderBuffer.size() != QSize(kImageWidth, kImageHeight))
        m_RenderBuffer = QImage(kImageWidth, kImageHeight, QImage::Format_ARGB32);
    const cv::Mat argb(kImageHeight, kImageWidth, CV_8UC4, m_RenderBuffer.bits(), size_t(m_RenderBuffer.bytesPerLine()));
    cv::Mat rgb(kImageHeight, kImageWidth, CV_8UC3, target.bits(), size_t(target.bytesPerLine()));

    QImage frame;
    if (frameBelowItems(frame)) {
        // The frame covers the whole picture opaquely and every other item lies above it: the
        // frame's pixels go straight into the picture, and the rows the items cover are drawn
        // again as the scene draws them over its pixmap (without the background and the pixmap).
        writeFrameRows(frame, target, 0, kImageHeight);
        const std::pair<int, int> rows = itemRows();
        if (rows.first >= rows.second)
            return true;
        writeFrameRows(frame, m_RenderBuffer, rows.first, rows.second);
        const QBrush background = m_Scene->backgroundBrush();
        m_Scene->setBackgroundBrush(Qt::NoBrush);
        m_PixmapItem->hide();
        {
            QPainter painter(&m_RenderBuffer);
            m_Scene->render(&painter, QRectF(m_RenderBuffer.rect()), source, Qt::KeepAspectRatio);
        }
        m_PixmapItem->show();
        m_Scene->setBackgroundBrush(background);
        cv::Mat band = rgb.rowRange(rows.first, rows.second);
        cv::cvtColor(argb.rowRange(rows.first, rows.second), band, cv::COLOR_BGRA2RGB);
        return true;
    }
    m_RenderBuffer.fill(Qt::transparent);
    {
        QPainter painter(&m_RenderBuffer);
        m_Scene->render(&painter, QRectF(m_RenderBuffer.rect()), source, Qt::KeepAspectRatio);
    }
    cv::cvtColor(argb, rgb, cv::COLOR_BGRA2RGB); // alpha dropped, as QImage's conversion drops it
    return true;
}

bool LGraphicsView::frameBelowItems(QImage &frame) const
{
    if (!m_PixmapItem || !m_PixmapItem->isVisible() || m_PixmapItem->effectiveOpacity() < 1.0
        || m_PixmapItem->graphicsEffect() || !m_PixmapItem->sceneTransform().isIdentity()
        || !m_PixmapItem->offset().isNull())
        return false;
    const QPixmap pixmap = m_PixmapItem->pixmap();
    if (pixmap.size() != QSize(kImageWidth, kImageHeight) || pixmap.devicePixelRatio() != 1.0 || pixmap.hasAlphaChannel())
        return false;
    // An item at or below the frame's level would be hidden (or partly covered) by it.
    const qreal level = m_PixmapItem->zValue();
    for (const QGraphicsItem *item : m_Scene->items())
        if (item != m_PixmapItem && !item->parentItem() && item->isVisible() && item->zValue() <= level)
            return false;
    frame = pixmap.toImage();
    if ((frame.format() != QImage::Format_Indexed8 || frame.colorCount() != 256)
        && frame.format() != QImage::Format_RGB888)
        frame = frame.convertToFormat(QImage::Format_RGB32);
    return true;
}

std::pair<int, int> LGraphicsView::itemRows() const
{
    // Items paint inside their bounding rectangles; the margin takes the antialiased edges.
    constexpr int kMargin = 8;
    QRectF covered;
    for (const QGraphicsItem *item : m_Scene->items())
        if (item != m_PixmapItem && item->isVisible())
            covered |= item->sceneBoundingRect();
    if (covered.isEmpty())
        return {0, 0};
    const int top = qBound(0, int(std::floor(covered.top())) - kMargin, kImageHeight);
    const int bottom = qBound(0, int(std::ceil(covered.bottom())) + kMargin, kImageHeight);
    return {top, bottom};
}

void LGraphicsView::writeFrameRows(const QImage &frame, QImage &target, int top, int bottom)
{
    const bool wide = target.depth() == 32;
    if (frame.format() == QImage::Format_Indexed8) {
        // One pass through the (opaque) colour table, in bands of rows on OpenCV's threads.
        const QVector<QRgb> table = frame.colorTable();
        uchar rgb[256][3];
        for (int i = 0; i < 256; ++i) {
            rgb[i][0] = uchar(qRed(table[i]));
            rgb[i][1] = uchar(qGreen(table[i]));
            rgb[i][2] = uchar(qBlue(table[i]));
        }
        cv::parallel_for_(cv::Range(top, bottom), [&](const cv::Range &rows) {
            for (int y = rows.start; y < rows.end; ++y) {
                const uchar *in = frame.constScanLine(y);
                if (wide) {
                    auto *line = reinterpret_cast<quint32 *>(target.scanLine(y));
                    for (int x = 0; x < kImageWidth; ++x)
                        line[x] = table[in[x]];
                } else {
                    uchar *line = target.scanLine(y);
                    for (int x = 0; x < kImageWidth; ++x, line += 3)
                        std::memcpy(line, rgb[in[x]], 3);
                }
            }
        }, 8);
        return;
    }
    const bool rgb = frame.format() == QImage::Format_RGB888;
    const cv::Mat in(kImageHeight, kImageWidth, rgb ? CV_8UC3 : CV_8UC4, const_cast<uchar *>(frame.constBits()),
                     size_t(frame.bytesPerLine()));
    cv::Mat out(kImageHeight, kImageWidth, wide ? CV_8UC4 : CV_8UC3, target.bits(), size_t(target.bytesPerLine()));
    cv::Mat band = out.rowRange(top, bottom);
    if (wide == !rgb)
        in.rowRange(top, bottom).copyTo(band);
    else
        cv::cvtColor(in.rowRange(top, bottom), band, rgb ? cv::COLOR_RGB2BGRA : cv::COLOR_BGRA2RGB);
}

void LGraphicsView::setObjectiveInfo(QString brand, float magnification)
{
    m_ObjectivePixelSize = 0;
    if (brand.trimmed().isEmpty() || magnification == 0)
        return;
    m_ObjectivePixelSize = ::objectivePixelSize(brand, magnification, profileNumber("ReductionLensMagnification", "0.655"),
                                                profileNumber("CMOSPixelSize", "3.63"));
}

// ---------------------------------------------------------------------------------------------
// Zoom, fit, navigator

void LGraphicsView::setRegionSize(double width, double height)
{
    m_RegionWidth = width;
    m_RegionHeight = height;
    m_Navigation.setDisplaySize(width, height);
}

void LGraphicsView::setRegionOrigin(double x, double y)
{
    m_RegionOrigin = QPointF(x, y);
    m_Navigation.setNavigationPosition(x, y);
}

void LGraphicsView::initNavigation(int width, int height)
{
    setRegionSize(width > 0 ? width : this->width(), height > 0 ? height : this->height());
    setRegionOrigin(0, 0);
    m_PressPos = QPoint(0, 0);
}

void LGraphicsView::getNavigation(Navigation &navigation)
{
    navigation = m_Navigation;
}

void LGraphicsView::setEnableZoomFit(bool enable)
{
    m_ZoomFilter->zoom_fit_enabled = enable;
}

void LGraphicsView::zoomFit()
{
    if (m_ZoomFilter->zoom_fit_enabled)
        slotZoomed(0.0, QPointF(0, 0));
}

void LGraphicsView::sceneScaleChange(const double &zoom, QPoint viewPoint)
{
    const double s = zoom / 100.0;
    const QTransform current = transform();
    setTransform(QTransform::fromTranslate(current.dx(), current.dy()).scale(s, s));
    setRegionSize(width() / s, height() / s);
    const QPointF p = mapToScene(viewPoint).toPoint();
    double x = p.x() - m_RegionWidth / 2;
    double y = p.y() - m_RegionHeight / 2;
    x = qMax(0.0, qMin(x, kImageWidth - m_RegionWidth));
    y = qMax(0.0, qMin(y, kImageHeight - m_RegionHeight));
    setRegionOrigin(x, y);
}

void LGraphicsView::slotZoomed(double delta, QPointF scenePoint)
{
    if (delta == 0.0) {
        if (m_ZoomValue <= 0 || !m_PixmapItem)
            return; // already fitted, or nothing to fit
        const QRectF scene = sceneRect();
        setTransform(QTransform::fromScale(width() / scene.width(), height() / scene.height()));
        m_ZoomFilter->set_current_zoom_step(-1);
        setRegionSize(kImageWidth, kImageHeight);
        m_PrevZoomValue = m_ZoomValue;
        m_ZoomValue = 0;
        setRegionOrigin(0, 0);
        emit signalMouseZoomEvent();
        return;
    }
    const bool leavingFit = m_ZoomValue == 0;
    const double zoom = leavingFit ? m_PrevZoomValue : m_ZoomValue + 100 * delta;
    const double s = zoom / 100;
    if (leavingFit) {
        // The filter scaled the fitted view; the view takes the held zoom instead.
        setTransform(QTransform::fromScale(s, s));
        centerOn(scenePoint);
    }
    m_ZoomValue = zoom;
    setRegionSize(width() / s, height() / s);
    const double px = scenePoint.x(), py = scenePoint.y();
    double x = px - m_RegionWidth / 2;
    double y = py - m_RegionHeight / 2;
    const double maxX = kImageWidth - m_RegionWidth;
    const double maxY = kImageHeight - m_RegionHeight;
    if (zoom == 100) {
        x = x > maxX ? maxX : qMax(x, 0.0);
        y = y > maxY ? maxY : qMax(y, 0.0);
    } else {
        x = x > maxX ? maxX - (kImageWidth - px) / s : x < 0 ? std::trunc(px / s) : x;
        y = y > maxY ? maxY - (kImageHeight - py) / s : y < 0 ? std::trunc(py / s) : y;
    }
    setRegionOrigin(x, y);
    emit signalMouseZoomEvent();
}

// ---------------------------------------------------------------------------------------------
// Mouse and keys

void LGraphicsView::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->localPos().toPoint();
    if (event->buttons() & Qt::MiddleButton) {
        m_bMiddlePan = true;
        m_SavedSceneMode = m_Scene->mode();
        m_Scene->setMode(DiagramScene::MoveItem);
        setDragMode(ScrollHandDrag);
        m_PressPos = pos;
        QMouseEvent press(QEvent::MouseButtonPress, event->localPos(), event->windowPos(), event->screenPos(), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QGraphicsView::mousePressEvent(&press);
        return;
    }
    const bool candidate = m_Scene->mode() == DiagramScene::MoveItem && event->button() == Qt::LeftButton;
    const QGraphicsItem *item = itemAt(pos);
    const auto grabbing = QGraphicsItem::ItemIsMovable | QGraphicsItem::ItemIsSelectable | QGraphicsItem::ItemUsesExtendedStyleOption;
    if (item && (item->flags() & grabbing))
        return QGraphicsView::mousePressEvent(event);
    if (candidate) {
        setDragMode(ScrollHandDrag);
        m_PressPos = pos;
    }
    QGraphicsView::mousePressEvent(event);
}

void LGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_bMiddlePan)
        m_Scene->setMode(m_SavedSceneMode);
    m_bMiddlePan = false;
    setDragMode(NoDrag);
    QGraphicsView::mouseReleaseEvent(event);
}

void LGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (dragMode() == ScrollHandDrag && m_ZoomValue != 0) {
        m_MovePos = event->localPos().toPoint();
        const double s = m_ZoomValue / 100;
        const int nx = int(m_RegionOrigin.x() - int((m_MovePos.x() - m_PressPos.x()) / s));
        const int ny = int(m_RegionOrigin.y() - int((m_MovePos.y() - m_PressPos.y()) / s));
        const int x = nx < 0 ? 0 : qMax(0, qMin(nx, int(kImageWidth - width() / s)));
        const int y = ny < 0 ? 0 : qMax(0, qMin(ny, int(kImageHeight - height() / s)));
        setRegionOrigin(x, y);
        m_PressPos = m_MovePos;
        emit signalMouseZoomEvent();
    }
    QGraphicsView::mouseMoveEvent(event);
}

void LGraphicsView::wheelEvent(QWheelEvent *event)
{
    event->ignore(); // zoom steps come from the filter on the viewport
}

void LGraphicsView::keyPressEvent(QKeyEvent *event)
{
    if (!m_bKeyEnabled)
        return;
    if (event->key() == Qt::Key_Escape) {
        m_Scene->clearSelection();
    } else if (event->key() == Qt::Key_Delete) {
        deleteItem();
        return;
    } else if (event->key() == Qt::Key_A && event->modifiers() == Qt::ControlModifier) {
        selectAllItem();
    }
    QGraphicsView::keyPressEvent(event);
}

void LGraphicsView::deleteItem()
{
    const QList<QGraphicsItem *> selected = m_Scene->selectedItems();
    for (QGraphicsItem *item : selected)
        m_Scene->removeGraphicsItem(item, false, false);
}

void LGraphicsView::selectAllItem()
{
    for (QGraphicsItem *item : m_Scene->items())
        item->setSelected(true);
}

// ---------------------------------------------------------------------------------------------
// Item hooks

void LGraphicsView::slotItemInserted(QGraphicsItem *item) { itemInserted(item); }
void LGraphicsView::slotItemSelected(QGraphicsItem *item) { itemSelected(item); }
void LGraphicsView::slotItemMoved(QGraphicsItem *item) { itemMoved(item); }
void LGraphicsView::slotItemDeleted(uint key) { itemDeleted(key); }
void LGraphicsView::itemSelected(QGraphicsItem *) {}
void LGraphicsView::itemInserted(QGraphicsItem *) {}
void LGraphicsView::itemMoved(QGraphicsItem *) {}
void LGraphicsView::itemDeleted(uint) {}

// ---------------------------------------------------------------------------------------------
// Scale bar

void LGraphicsView::forgetOverlays()
{
    m_ScaleBarGroup = nullptr;
    m_ScaleBarText = nullptr;
    std::fill(std::begin(m_ScaleBarLine), std::end(m_ScaleBarLine), nullptr);
    m_bScaleBarPlaced = false;
}

void LGraphicsView::CreateScaleBarItem()
{
    if (m_ScaleBarGroup)
        return;
    m_ScaleBarGroup = new DiagramItemGroup(m_ScaleBarMenu);
    m_ScaleBarLine[0] = new QGraphicsLineItem;
    m_ScaleBarText = new QGraphicsTextItem;
    m_ScaleBarText->setFont(m_Font10);
    QList<QGraphicsItem *> children{m_ScaleBarLine[0], m_ScaleBarText};
    for (int i = 1; i < 6; ++i)
        children << (m_ScaleBarLine[i] = new QGraphicsLineItem);
    m_ScaleBarGroup->addItemListToGroup(children);
    m_Scene->addItem(m_ScaleBarGroup);
    m_ScaleBarGroup->setFlag(QGraphicsItem::ItemIsMovable, m_bScaleBarMovable);
    m_ScaleBarGroup->hide();
}

void LGraphicsView::setScaleBar(TSScaleBar r)
{
    if (r.noObjective || !m_PixmapItem)
        return;
    m_bScaleBarMovable = r.movable;
    if (r.resetPosition) {
        m_bScaleBarPlaced = false;
        r.topLeft = TSScaleBar::DefaultTopLeft;
        r.topRight = TSScaleBar::DefaultTopRight;
        r.bottomLeft = TSScaleBar::DefaultBottomLeft;
        r.bottomRight = TSScaleBar::DefaultBottomRight;
        // The group is reused, not rebuilt: a reset may come from its own menu, whose event is
        // still running on it.
        if (m_ScaleBarGroup) {
            m_ScaleBarGroup->setPos(0, 0);
            m_ScaleBarGroup->setFlag(QGraphicsItem::ItemIsMovable, m_bScaleBarMovable);
        }
    }
    CreateScaleBarItem();
    if (!r.show) {
        m_ScaleBarGroup->hide();
        return;
    }
    const float length = r.useViewPixelSize && m_ObjectivePixelSize != 0 ? float(r.lengthUm) / m_ObjectivePixelSize
                                                                          : r.lengthPixels;
    const QLineF placed = m_ScaleBarLine[0]->line();
    const bool leftCorner = r.corner == 0 || r.corner == 2;
    QPointF start, end;
    switch (r.corner) {
    case 0:
        start = m_bScaleBarPlaced ? placed.p1() : r.topLeft + QPointF(100, 0);
        break;
    case 1:
        end = m_bScaleBarPlaced ? placed.p2() : r.topRight;
        break;
    case 2:
        start = m_bScaleBarPlaced ? placed.p1() : r.bottomLeft;
        break;
    case 3:
        end = m_bScaleBarPlaced ? placed.p2() : r.bottomRight;
        break;
    default:
        break;
    }
    if (r.corner >= 0 && r.corner <= 3) {
        if (leftCorner)
            end = QPointF(float(start.x()) + length, start.y());
        else
            start = QPointF(float(end.x()) - length, end.y());
    }

    m_ScaleBarText->setDefaultTextColor(r.color);
    m_ScaleBarText->setFont(QFont("DejaVu Sans", qMax(1, r.fontSize)));
    m_ScaleBarText->setPlainText(QString("%1 %2").arg(r.lengthUm).arg(QStringLiteral("\u00B5m")));
    m_ScaleBarText->setPos(float(start.x()) + length / 2 - 20, float(start.y()) + 5);
    m_ScaleBarText->setVisible(r.fontSize >= 1);
    m_ScaleBarText->update();

    m_ScaleBarLine[0]->setPen(QPen(r.color, r.lineWidth));
    m_ScaleBarLine[0]->setLine(QLineF(start, end));
    const float sx = float(start.x()), sy = float(start.y());
    const float ticks[5] = {sx - 1.5f, sx + length / 4, sx + length / 2, sx + 3 * length / 4, float(end.x()) + 1.5f};
    for (int i = 1; i < 6; ++i) {
        const float y = i < 5 ? sy : float(end.y());
        m_ScaleBarLine[i]->setPen(QPen(r.color, 1));
        m_ScaleBarLine[i]->setLine(QLineF(ticks[i - 1], y, ticks[i - 1], y - 10));
    }
    for (QGraphicsLineItem *line : m_ScaleBarLine)
        line->update();

    m_ScaleBarGroup->setZValue(1000);
    m_ScaleBarGroup->update();
    m_ScaleBarGroup->show();
    m_bScaleBarPlaced = true;
}

void LGraphicsView::getScaleBarPoint(QPointF &point)
{
    if (m_ScaleBarGroup)
        point = m_ScaleBarLine[0]->mapToScene(m_ScaleBarLine[0]->line().p1());
}

void LGraphicsView::slotScaleBarSetting()
{
    ScaleBarDlg dlg;
    if (dlg.exec() == QDialog::Accepted)
        emit changeScaleBarSetting(dlg.m_bResetPosition != 0, dlg.m_nPosition);
}

// ---------------------------------------------------------------------------------------------
// Annotation text

void LGraphicsView::CreateAnnotationTextItem()
{
    if (m_AnnotationTextItem)
        return;
    m_AnnotationTextItem = new DiagramTextItem(m_TextItemMenu);
    // Right-aligned through the document's default, which outlives setPlainText: the text is laid
    // out once a change, not again for a block format after it.
    QTextDocument *document = m_AnnotationTextItem->document();
    QTextOption option = document->defaultTextOption();
    option.setAlignment(Qt::AlignRight | Qt::AlignBottom);
    document->setDefaultTextOption(option);
    document->setUndoRedoEnabled(false);
    m_AnnotationTextItem->setFont(m_AnnotationFont);
    m_AnnotationTextItem->setDefaultTextColor(m_AnnotationColor);
    m_AnnotationTextItem->setFlag(QGraphicsItem::ItemIsMovable, true);
    m_AnnotationTextItem->setFlag(QGraphicsItem::ItemIsSelectable, false);
    m_AnnotationTextItem->setZValue(1000); // above the annotation items, like the bar
    m_AnnotationTextItem->setPos(m_DefaultTextPos); // placed before the scene's drag limit applies
    m_Scene->addItem(m_AnnotationTextItem);
}

void LGraphicsView::setDefalutTextItemPos(QPointF point)
{
    m_DefaultTextPos = point;
}

void LGraphicsView::setAnnotationText(QString text)
{
    CreateAnnotationTextItem();
    // The document's text replaced in one edit block: laid out once, at its end, without clearing
    // the document (and laying it out empty) or placing a cursor; no undo step is kept.
    QTextDocument *document = m_AnnotationTextItem->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.setPosition(document->characterCount() - 1, QTextCursor::KeepAnchor);
    cursor.insertText(text);
    cursor.endEditBlock();
    m_AnnotationTextItem->update();
}

void LGraphicsView::setAnnotationFont(int pointSize, QColor color)
{
    m_AnnotationFont.setPointSize(qMax(1, pointSize));
    m_AnnotationColor = color;
    if (!m_AnnotationTextItem)
        return;
    m_AnnotationTextItem->setFont(m_AnnotationFont);
    m_AnnotationTextItem->setDefaultTextColor(m_AnnotationColor);
    m_AnnotationTextItem->update();
}

void LGraphicsView::readStampFont()
{
    const char *const section = "Setting_MultiColor";
    const std::string file = Paths::configFile().toStdString();
    std::string size;
    ReadPrivateProfileString(section, "FontThickness", "24", size, file);
    const int color = ReadColorIndexSetting(section, "FontColor", 1, file);
    setAnnotationFont(qMax(QString::fromStdString(size).trimmed().toInt(), kMinStampPointSize), g_ColorTable[color]);
}

void LGraphicsView::showAnnotationText(bool show)
{
    if (!m_AnnotationTextItem)
        return;
    m_AnnotationTextItem->setVisible(show);
    m_AnnotationTextItem->update();
}

void LGraphicsView::getAnnotationTextInfo(TAnnotationTextInfo &info)
{
    info = TAnnotationTextInfo();
    if (!m_AnnotationTextItem)
        return;
    info.visible = m_AnnotationTextItem->isVisible();
    info.pointSize = m_AnnotationTextItem->font().pointSize();
    info.color = m_AnnotationTextItem->defaultTextColor();
    info.x = float(m_AnnotationTextItem->pos().x());
    info.y = float(m_AnnotationTextItem->pos().y() + m_AnnotationTextItem->boundingRect().height());
    info.text = m_AnnotationTextItem->toPlainText();
}

void LGraphicsView::slotTextItemSetting()
{
    if (!m_AnnotationTextItem)
        return;
    ItemSettingDlg dlg({DiagramTextItem::Type, m_AnnotationTextItem->defaultTextColor(),
                        m_AnnotationTextItem->font().pointSize()});
    if (dlg.exec() != QDialog::Accepted || !m_AnnotationTextItem)
        return;
    m_AnnotationTextItem->setDefaultTextColor(dlg.m_ItemSettingData.color);
    QFont font = m_AnnotationTextItem->font();
    if (dlg.m_ItemSettingData.size >= 1) // no size chosen (one the dialog does not list): keep the item's
        font.setPointSize(dlg.m_ItemSettingData.size);
    m_AnnotationTextItem->setFont(font);
    m_AnnotationTextItem->update();
}
