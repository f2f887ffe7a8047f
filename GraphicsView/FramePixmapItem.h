#pragma once
#include <QGraphicsPixmapItem>
#include <QImage>
#include <QRect>
#include <QTransform>

// The frame at the bottom of the image view. Under a plain scale and shift (every zoom of the
// view) it paints like a fast-transformed pixmap item, but in one pass of nearest samples on
// OpenCV's threads (through the colour table of an indexed frame, straight from red-green-blue
// or RGB32 ones): on a widget, straight into the backing store's pixels of the region being
// painted; elsewhere, into a picture of the visible part in the display's own format, made once
// a frame and then only blitted. The raster engine's own way scales an indexed pixmap through a
// per-pixel generic fetch on every paint. Any other transform, a smooth transformation mode or a
// frame with alpha paints as the base item does.
class FramePixmapItem : public QGraphicsPixmapItem
{
public:
    explicit FramePixmapItem(const QPixmap &pixmap);

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    // The device pixels the frame paints opaquely under view (scene to device) when shown: empty
    // when it is hidden, translucent or paints as the base item.
    QRect coveredDeviceRect(const QTransform &view) const;

    // The part of the display picture painted last, in device pixels (empty before any paint
    // that went through the fast path); for tests.
    QRect displayRect() const { return m_DisplayRect; }

private:
    // The device pixels of the frame under t (item to device) through the fast path; empty when
    // it paints as the base item.
    QRect fastDeviceRect(const QTransform &t) const;
    // The frame's pixels in device pixels visible under t, into m_Display over m_DisplayRect.
    void makeDisplay(const QImage &frame, const QTransform &t, const QRect &visible);
    // On a widget whose paint engine draws into a picture of 32-bit pixels (the backing store),
    // the region being painted sampled straight into that picture, with no picture of its own and
    // no blit; false, nothing painted, where the painter does not allow it.
    bool paintIntoDevice(QPainter *painter, const QPixmap &frame);
    // The pixels of visible (device pixels under t) into rows of 32-bit pixels from bits, stride
    // bytes apart, in one pass of nearest samples on OpenCV's threads.
    static void sample(const QImage &frame, const QTransform &t, const QRect &visible, uchar *bits, qsizetype stride);

    QImage m_Display;
    QRect m_DisplayRect;
    QTransform m_DisplayTransform;
    qint64 m_DisplayKey = 0;
};
