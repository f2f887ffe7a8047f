#include "FramePixmapItem.h"

#include <QPaintEngine>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QWidget>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <vector>

namespace {

// The first device pixel whose centre lies at or past a frame edge.
int firstPixelFrom(double edge)
{
    return int(std::ceil(edge - 0.5));
}

// The frame pixel whose area holds a device pixel's centre, as a fast transformation samples it.
int sourceIndex(int devicePixel, double shift, double scale, int size)
{
    return qBound(0, int(std::floor((devicePixel + 0.5 - shift) / scale)), size - 1);
}

} // namespace

FramePixmapItem::FramePixmapItem(const QPixmap &pixmap)
    : QGraphicsPixmapItem(pixmap)
{
    setShapeMode(BoundingRectShape); // an opaque frame: no mask for hit tests
}

QRect FramePixmapItem::fastDeviceRect(const QTransform &t) const
{
    const QPixmap frame = pixmap();
    if (frame.isNull() || frame.hasAlphaChannel() || frame.devicePixelRatio() != 1.0 || !offset().isNull()
        || transformationMode() == Qt::SmoothTransformation || t.type() > QTransform::TxScale || t.m11() <= 0
        || t.m22() <= 0)
        return QRect();
    const QRectF area = t.mapRect(QRectF(QPointF(0, 0), QSizeF(frame.size())));
    return QRect(QPoint(firstPixelFrom(area.left()), firstPixelFrom(area.top())),
                 QPoint(firstPixelFrom(area.right()) - 1, firstPixelFrom(area.bottom()) - 1));
}

QRect FramePixmapItem::coveredDeviceRect(const QTransform &view) const
{
    if (!isVisible() || !scene() || effectiveOpacity() < 1.0 || graphicsEffect())
        return QRect();
    return fastDeviceRect(sceneTransform() * view);
}

void FramePixmapItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    const QPixmap frame = pixmap();
    const QTransform t = painter->combinedTransform();
    const QRect device = fastDeviceRect(t);
    if (device.isEmpty()) {
        QGraphicsPixmapItem::paint(painter, option, widget);
        return;
    }
    // What the widget shows of the frame (the paint system clips the blit to the region being
    // painted); for a picture rendered elsewhere, the exposed part.
    const bool onWidget = widget && painter->device() == widget;
    if (onWidget && paintIntoDevice(painter, frame))
        return;
    const QRect shown = device & (onWidget ? widget->rect() : t.mapRect(option->exposedRect).toAlignedRect());
    if (shown.isEmpty())
        return;
    if (m_DisplayKey != frame.cacheKey() || m_DisplayTransform != t || !m_DisplayRect.contains(shown)) {
        makeDisplay(frame.toImage(), t, shown);
        m_DisplayKey = frame.cacheKey();
        m_DisplayTransform = t;
    }
    painter->save();
    painter->setViewTransformEnabled(false);
    painter->setWorldTransform(QTransform());
    painter->drawImage(shown.topLeft(), m_Display, shown.translated(-m_DisplayRect.topLeft()));
    painter->restore();
}

bool FramePixmapItem::paintIntoDevice(QPainter *painter, const QPixmap &frame)
{
    // Only a raster engine's picture of opaque-capable 32-bit pixels (a widget's backing store),
    // with nothing between the item and the pixels: no clip of the painter's own, full opacity.
    QPaintEngine *engine = painter->paintEngine();
    QPaintDevice *device = engine ? engine->paintDevice() : nullptr;
    if (!device || engine->type() != QPaintEngine::Raster || device->devType() != QInternal::Image
        || painter->hasClipping() || painter->opacity() < 1.0
        || painter->compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    auto *target = static_cast<QImage *>(device);
    const QImage::Format format = target->format();
    if (target->devicePixelRatio() != 1.0
        || (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32
            && format != QImage::Format_ARGB32_Premultiplied))
        return false;
    // Item to device pixels, the widget's offset in the picture included; the region being
    // painted is the engine's system clip, in device pixels (none: the whole picture).
    const QTransform t = painter->deviceTransform();
    const QRect covered = fastDeviceRect(t) & target->rect();
    if (covered.isEmpty())
        return true;
    const QRegion clip = engine->systemClip();
    const QRegion shown = clip.isEmpty() ? QRegion(covered) : clip & covered;
    const QImage image = frame.toImage();
    for (const QRect &rect : shown)
        sample(image, t, rect, target->bits() + rect.top() * target->bytesPerLine() + rect.left() * 4,
               target->bytesPerLine());
    return true;
}

void FramePixmapItem::makeDisplay(const QImage &frame, const QTransform &t, const QRect &visible)
{
    if (m_Display.size() != visible.size())
        m_Display = QImage(visible.size(), QImage::Format_RGB32);
    m_DisplayRect = visible;
    sample(frame, t, visible, m_Display.bits(), m_Display.bytesPerLine());
}

void FramePixmapItem::sample(const QImage &frame, const QTransform &t, const QRect &visible, uchar *bits,
                             qsizetype stride)
{
    const bool indexed = frame.format() == QImage::Format_Indexed8;
    const bool rgb = frame.format() == QImage::Format_RGB888;
    const QImage source = indexed || rgb || frame.format() == QImage::Format_RGB32
                              ? frame
                              : frame.convertToFormat(QImage::Format_RGB32);
    QVector<QRgb> table = indexed ? frame.colorTable() : QVector<QRgb>();
    if (indexed)
        table.resize(256); // indexes past a short table show black, as the raster engine shows them
    for (QRgb &colour : table)
        colour |= 0xFF000000u;

    std::vector<int> columns(size_t(visible.width()));
    for (int x = 0; x < visible.width(); ++x)
        columns[size_t(x)] = sourceIndex(visible.left() + x, t.dx(), t.m11(), source.width());

    const QRgb *colours = table.constData();
    cv::parallel_for_(cv::Range(0, visible.height()), [&](const cv::Range &rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const uchar *in = source.constScanLine(sourceIndex(visible.top() + y, t.dy(), t.m22(), source.height()));
            auto *out = reinterpret_cast<QRgb *>(bits + y * stride);
            if (indexed) {
                for (size_t x = 0; x < columns.size(); ++x)
                    out[x] = colours[in[columns[x]]];
            } else if (rgb) {
                for (size_t x = 0; x < columns.size(); ++x) {
                    const uchar *p = in + 3 * columns[x];
                    out[x] = 0xFF000000u | quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
                }
            } else {
                const auto *pixels = reinterpret_cast<const QRgb *>(in);
                for (size_t x = 0; x < columns.size(); ++x)
                    out[x] = pixels[columns[x]];
            }
        }
    });
}
