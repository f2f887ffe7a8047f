#include "SaveImageComposer.h"

#include "Utilities.h"

#include <QDebug>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QVector>
#include <cstring>
#include <opencv2/core.hpp>

namespace {

const QString kFontFamily = QStringLiteral("DejaVu Sans");
constexpr int kTickHeight = 10;
constexpr int kMargin = 4; // around the marks' outlines: antialiased edges, pen caps

// Black marks would vanish on the black canvas: they are drawn, and written, as rgb(0, 0, 2).
QColor visible(const QColor &color)
{
    return (color.rgb() & 0xFFFFFF) == 0 ? QColor(0, 0, 2) : QColor(color.red(), color.green(), color.blue());
}

// Every font measure is taken on a device of the canvas's resolution.
const QPaintDevice *metricsDevice()
{
    static const QImage device(1, 1, QImage::Format_RGB888);
    return &device;
}

QString barLabel(const TSScaleBar &bar)
{
    return QStringLiteral("%1 \u00B5m").arg(bar.lengthUm);
}

void debugLine(const char *what, int bits, int byteCount)
{
    if (isEnableSerialLog())
        qDebug().noquote() << what << bits << byteCount;
}

} // namespace

int SaveImageComposer::frameBytes(int bits, bool colour)
{
    return Pixels * (bits == 16 ? 2 : 1) * (colour ? 3 : 1);
}

void SaveImageComposer::toCameraLayout(quint16 *words, int count)
{
    for (int i = 0; i < count; ++i)
        words[i] = quint16((words[i] >> 4) | (words[i] << 12));
}

bool SaveImageComposer::drawsBar() const
{
    return barAllowed && scaleBar.show && !scaleBar.noObjective && scaleBar.lengthPixels > 0;
}

bool SaveImageComposer::drawsText() const
{
    return annotation.visible && !annotationLine.isEmpty();
}

QRect SaveImageComposer::markArea() const
{
    QRectF area;
    const qreal x = scaleBarPoint.x(), y = scaleBarPoint.y();
    if (drawsBar()) {
        const qreal length = scaleBar.lengthPixels;
        const qreal half = qMax(1, scaleBar.lineWidth);
        area |= QRectF(x - 2 - half, y - kTickHeight - half, length + 4 + 2 * half, kTickHeight + 2 * half);
        if (scaleBar.fontSize > 0) {
            const QFontMetricsF metrics(QFont(kFontFamily, scaleBar.fontSize), const_cast<QPaintDevice *>(metricsDevice()));
            const QPointF baseline(x + length * 0.5 - 20, y + int(metrics.height()) + 5);
            area |= metrics.boundingRect(barLabel(scaleBar)).translated(baseline);
        }
    }
    if (drawsText()) {
        const QFontMetricsF metrics(QFont(kFontFamily, annotation.pointSize), const_cast<QPaintDevice *>(metricsDevice()));
        const QPointF baseline(annotation.x + 4, annotation.y - metrics.height() / 3);
        area |= metrics.boundingRect(annotationLine).translated(baseline);
    }
    return area.adjusted(-kMargin, -kMargin, kMargin, kMargin).toAlignedRect() & QRect(0, 0, Width, Height);
}

void SaveImageComposer::paintMarks(QPainter &painter) const
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const qreal x = scaleBarPoint.x(), y = scaleBarPoint.y();
    if (drawsBar()) {
        const QColor color = visible(scaleBar.color);
        const qreal length = scaleBar.lengthPixels;
        painter.setPen(QPen(color, scaleBar.lineWidth));
        painter.drawLine(QLineF(x, y, x + length, y));
        painter.setPen(QPen(color, 1));
        for (qreal tick : {x - 1.5, x + length / 4, x + length / 2, x + length * 3 / 4, x + length + 1.5})
            painter.drawLine(QLineF(tick, y, tick, y - kTickHeight));
        if (scaleBar.fontSize > 0) {
            painter.setFont(QFont(kFontFamily, scaleBar.fontSize));
            const int h = int(painter.fontMetrics().height());
            painter.drawText(QPointF(x + length * 0.5 - 20, y + h + 5), barLabel(scaleBar));
        }
    }
    if (drawsText()) {
        painter.setPen(QPen(visible(annotation.color), 1));
        painter.setFont(QFont(kFontFamily, annotation.pointSize));
        const qreal h = QFontMetricsF(painter.font(), painter.device()).height();
        painter.drawText(QPointF(annotation.x + 4, annotation.y - h / 3), annotationLine);
    }
}

void SaveImageComposer::drawScaleBar(const void *source, bool colour, int byteCount, void *destination) const
{
    const int bits = byteCount == frameBytes(16, colour) ? 16 : 8;
    const bool marks = drawsBar() || drawsText();
    debugLine(marks ? "copyTo 1" : "memcpy 1", bits, byteCount);
    std::memcpy(destination, source, size_t(qMax(0, byteCount)));
    debugLine(marks ? "copyTo 2" : "memcpy 2", bits, byteCount);
    burnIn(destination, colour, byteCount);
}

void SaveImageComposer::composeSeriesFrame(const void *grey, int bits, bool pseudo, void *target) const
{
    const int bytes = frameBytes(bits, pseudo);
    if (!pseudo) {
        drawScaleBar(grey, false, bytes, target);
        return;
    }
    makePseudoColorImage(grey, bytes, static_cast<unsigned char *>(target));
    burnIn(target, true, bytes);
}

void SaveImageComposer::burnIn(void *destination, bool colour, int byteCount) const
{
    const int bits = byteCount == frameBytes(16, colour) ? 16 : 8;
    if (byteCount != frameBytes(bits, colour)) {
        qWarning() << "Scale bar: not a frame size:" << byteCount;
        return;
    }
    if (!drawsBar() && !drawsText())
        return;
    const QRect area = markArea();
    if (area.isEmpty())
        return;

    QImage canvas(area.size(), QImage::Format_RGB888);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        painter.translate(-area.topLeft());
        paintMarks(painter);
    }

    // Colour frames take the nearest of the exact mark colours, so antialiased text edges too.
    QVector<QColor> colors;
    if (drawsBar())
        colors << visible(scaleBar.color);
    if (drawsText())
        colors << visible(annotation.color);
    QRgb lastSeen = 0;
    QColor lastColor;
    const int samples = colour ? 3 : 1;
    for (int row = 0; row < area.height(); ++row) {
        const uchar *in = canvas.constScanLine(row);
        const int first = ((area.top() + row) * Width + area.left()) * samples;
        for (int column = 0; column < area.width(); ++column, in += 3) {
            if ((in[0] | in[1] | in[2]) == 0)
                continue;
            const int at = first + column * samples;
            if (!colour) {
                if (bits == 16)
                    static_cast<quint16 *>(destination)[at] = 255;
                else
                    static_cast<uchar *>(destination)[at] = 255;
                continue;
            }
            const QRgb seen = qRgb(in[0], in[1], in[2]);
            if (seen != lastSeen || !lastColor.isValid()) {
                lastSeen = seen;
                lastColor = colors.at(GetNearestColorLabelIndex(QColor(seen), colors));
            }
            const int rgb[3] = {lastColor.red(), lastColor.green(), lastColor.blue()};
            for (int k = 0; k < 3; ++k) {
                if (bits == 16)
                    static_cast<quint16 *>(destination)[at + k] = quint16(rgb[k]);
                else
                    static_cast<uchar *>(destination)[at + k] = uchar(rgb[k]);
            }
        }
    }
}

void SaveImageComposer::makePseudoColorImage(const void *source, int byteCount, unsigned char *destination) const
{
    const bool sixteen = byteCount == frameBytes(16, true);
    if (!sixteen && byteCount != frameBytes(8, true)) {
        qWarning() << "makePseudoColorImage: not a colour frame size:" << byteCount;
        return;
    }
    const int depth = sixteen ? CV_16U : CV_8U;
    const cv::Mat grey(Height, Width, CV_MAKETYPE(depth, 1), const_cast<void *>(source));
    const cv::Mat zero = cv::Mat::zeros(Height, Width, CV_MAKETYPE(depth, 1));
    // Which of red, green and blue carry the grey value; any index without a ramp of its own is gray.
    const int index = colorImage ? 7 : pseudoColorIndex;
    bool red = true, green = true, blue = true;
    switch (index) {
    case 0: green = blue = false; break;
    case 1: red = blue = false; break;
    case 2: red = green = false; break;
    case 3: blue = false; break;
    case 4: red = false; break;
    default: break;
    }
    const cv::Mat planes[3] = {red ? grey : zero, green ? grey : zero, blue ? grey : zero};
    cv::Mat out(Height, Width, CV_MAKETYPE(depth, 3), destination);
    cv::merge(planes, 3, out);
}
