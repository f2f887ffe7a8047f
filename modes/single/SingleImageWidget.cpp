#include "SingleImageWidget.h"

#include "Globals.h"
#include "ImMeasurer.h"
#include "KeyboardDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {

int readNumber(const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString("Setting_Single", key, def, value, Paths::configFile().toStdString());
    return QString::fromStdString(value).trimmed().toInt();
}

cv::Point toCv(const QPoint &p)
{
    return {p.x(), p.y()};
}

} // namespace

SingleImageWidget::SingleImageWidget(QWidget *parent)
    : QWidget(parent)
    , m_pMeasurer(std::make_unique<ImMeasurer>())
    , m_Image8(ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight, QImage::Format_Indexed8)
    , m_Image16(size_t(ImMeasurer::kFrameWidth) * ImMeasurer::kFrameHeight * 2, 0)
    , m_AnnotationImage(ImMeasurer::kFrameWidth, ImMeasurer::kFrameHeight, QImage::Format_RGB888)
{
    m_Image8.fill(0);
    m_AnnotationImage.fill(Qt::black);
    setMouseTracking(true);
}

SingleImageWidget::~SingleImageWidget() = default;

void SingleImageWidget::readSetting()
{
    m_nLineThickness = readNumber("LineThickness", "0") + 1;
    m_LineColor = colorTableEntry(readNumber("LineColor", "5"));
    m_FontColor = colorTableEntry(readNumber("FontColor", "3"));
}

void SingleImageWidget::setImageData(int, uchar *, bool, int)
{
}

void SingleImageWidget::setCurrentMeasurementTool(int tool)
{
    m_nCurrentTool = tool;
    m_pMeasurer->setCurrentMeasurementTool(TMeasurementTool(tool));
    m_bButtonDown = m_bSegmentFinished = false;
    clearPoints();
    m_Text.clear();
    if (tool != TOOL_WHOLE_IMAGE)
        return;
    m_pMeasurer->setROIImage(cv::Point(0, 0), cv::Point(kWidth, kHeight));
    TSMeasurementItem item = m_pMeasurer->measure({cv::Point(0, 0), cv::Point(kWidth, kHeight)});
    emit measurementResultChanged(item);
}

void SingleImageWidget::setScaleBar(TSScaleBar scaleBar)
{
    m_ScaleBar = scaleBar;
    update();
}

void SingleImageWidget::slotMakeAnnotationImageData(bool before)
{
    m_AnnotationImage.fill(Qt::black);
    {
        QPainter painter(&m_AnnotationImage);
        paintContents(painter, false);
    }
    emit signalSendAnnotationImageData(before, m_AnnotationImage.bits());
}

// --- points ----------------------------------------------------------------------------------

QPoint SingleImageWidget::eventPosition(const QMouseEvent *event)
{
    return {int(std::lround(event->localPos().x())), int(std::lround(event->localPos().y()))};
}

QPoint SingleImageWidget::clamped(QPoint point)
{
    point.setX(point.x() < 1 ? 0 : std::min(point.x(), kWidth - 1));
    point.setY(point.y() < 1 ? 0 : std::min(point.y(), kHeight - 1));
    return point;
}

void SingleImageWidget::appendPoint(const QPoint &point)
{
    m_DrawingPoints.append(point);
    m_MeasuringPoints.push_back(toCv(point));
}

void SingleImageWidget::removeLastPoint()
{
    if (m_DrawingPoints.isEmpty())
        return;
    m_DrawingPoints.removeLast();
    m_MeasuringPoints.pop_back();
}

void SingleImageWidget::clearPoints()
{
    m_DrawingPoints.clear();
    m_MeasuringPoints.clear();
}

// --- mouse -----------------------------------------------------------------------------------

void SingleImageWidget::mousePressEvent(QMouseEvent *event)
{
    const QPoint position = eventPosition(event);
    if (m_nCurrentTool == TOOL_NONE)
        return;
    if (m_nCurrentTool == TOOL_MULTI_COUNT) {
        m_bButtonDown = true;
        if (event->button() == Qt::LeftButton)
            appendPoint(position);
        else if (event->button() == Qt::RightButton)
            removeLastPoint();
        return;
    }
    if (event->button() == Qt::RightButton)
        return;
    m_bButtonDown = true;
    pressTool(position);
}

void SingleImageWidget::pressTool(const QPoint &position)
{
    const int n = m_DrawingPoints.size();
    switch (m_nCurrentTool) {
    case TOOL_LINE:
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
        if (n >= 2)
            clearPoints();
        appendPoint(position);
        break;
    case TOOL_ANGLE:
        if (n == 3)
            clearPoints();
        appendPoint(position);
        break;
    case TOOL_POLYGON: {
        if (n > 2 && m_DrawingPoints.first() == m_DrawingPoints.last())
            clearPoints(); // a closed polygon: this press starts the next one
        if (!m_CloseZone.isValid() || m_DrawingPoints.isEmpty())
            m_CloseZone = QRect(position.x() - kCloseZoneSize / 2, position.y() - kCloseZoneSize / 2,
                                kCloseZoneSize, kCloseZoneSize);
        if (m_DrawingPoints.size() < 3)
            appendPoint(position);
        else
            appendPoint(m_CloseZone.contains(position) ? m_DrawingPoints.first() : position);
        break;
    }
    case TOOL_SEGMENT_LINE:
        if (m_bSegmentFinished) {
            clearPoints();
            m_bSegmentFinished = false;
        }
        appendPoint(position);
        break;
    case TOOL_FREE_HAND:
        clearPoints();
        appendPoint(position);
        break;
    case TOOL_TEXT:
        runKeyboard(position);
        break;
    default:
        break;
    }
}

void SingleImageWidget::runKeyboard(const QPoint &position)
{
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setText(m_Text);
    if (keyboard.exec() != 1)
        return;
    m_Text = keyboard.text();
    m_TextPosition = position;
    update();
}

void SingleImageWidget::mouseMoveEvent(QMouseEvent *event)
{
    m_CurrentPoint = clamped(eventPosition(event));
    emit currentImagePositionAndIntensity(m_CurrentPoint, m_pMeasurer->intensity(toCv(m_CurrentPoint)));
    switch (m_nCurrentTool) {
    case TOOL_TEXT:
    case TOOL_ANGLE:
    case TOOL_POLYGON:
    case TOOL_SEGMENT_LINE:
        update(); // the rubber band follows the pointer, pressed or not
        break;
    default:
        if (!m_bButtonDown)
            break;
        if (m_nCurrentTool == TOOL_FREE_HAND)
            appendPoint(m_CurrentPoint);
        update();
        break;
    }
}

void SingleImageWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_nCurrentTool == TOOL_NONE)
        return;
    const bool right = event->button() == Qt::RightButton;
    if (right && m_nCurrentTool != TOOL_SEGMENT_LINE && m_nCurrentTool != TOOL_MULTI_COUNT)
        return;
    const QPoint position = clamped(eventPosition(event));
    if (m_nCurrentTool == TOOL_LINE || m_nCurrentTool == TOOL_ELLIPSE || m_nCurrentTool == TOOL_RECTANGLE)
        appendPoint(position);
    else if (m_nCurrentTool == TOOL_SEGMENT_LINE && right)
        m_bSegmentFinished = true;
    m_bButtonDown = false;
    measureReleased();
    update();
}

bool SingleImageWidget::regionFromFirstTwo()
{
    if (m_MeasuringPoints.size() < 2)
        return false;
    m_pMeasurer->setROIImage(m_MeasuringPoints[0], m_MeasuringPoints[1]);
    return true;
}

void SingleImageWidget::measureReleased()
{
    const size_t n = m_MeasuringPoints.size();
    switch (m_nCurrentTool) {
    case TOOL_LINE:
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
        // A release that follows no press of this outline has nothing to measure.
        if (regionFromFirstTwo())
            emitMeasurement();
        break;
    case TOOL_ANGLE:
        if (n >= 3)
            emitMeasurement();
        break;
    case TOOL_POLYGON:
        if (n >= 3 && m_MeasuringPoints.front() == m_MeasuringPoints.back()) {
            m_pMeasurer->setROIImage(m_MeasuringPoints);
            emitMeasurement();
        }
        break;
    case TOOL_SEGMENT_LINE:
        if (m_bSegmentFinished && n > 0) {
            m_pMeasurer->setROIImage(m_MeasuringPoints);
            emitMeasurement();
        }
        break;
    case TOOL_FREE_HAND:
        if (n > 0)
            emitMeasurement();
        break;
    case TOOL_MULTI_COUNT:
        emitMeasurement();
        break;
    default:
        break;
    }
}

void SingleImageWidget::emitMeasurement()
{
    TSMeasurementItem item = m_pMeasurer->measure(m_MeasuringPoints);
    emit measurementResultChanged(item);
}

// --- painting --------------------------------------------------------------------------------

void SingleImageWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintContents(painter, true);
}

void SingleImageWidget::paintContents(QPainter &painter, bool withScaleBar)
{
    painter.drawPixmap(0, 0, m_DisplayImage);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (withScaleBar)
        drawScaleBar(painter);
    painter.setPen(QPen(m_LineColor, m_nLineThickness));
    drawTool(painter);
}

void SingleImageWidget::drawScaleBar(QPainter &painter) const
{
    if (!m_ScaleBar.show || m_ScaleBar.noObjective)
        return;
    const QPointF anchors[4] = {m_ScaleBar.topLeft, m_ScaleBar.topRight, m_ScaleBar.bottomLeft,
                                m_ScaleBar.bottomRight};
    const int corner = std::clamp(m_ScaleBar.corner, 0, 3);
    const QPointF anchor = anchors[corner];
    const qreal length = m_ScaleBar.lengthPixels;
    const QPointF start = corner == 0 || corner == 2 ? anchor : anchor - QPointF(length, 0);
    painter.save();
    painter.setPen(QPen(m_ScaleBar.color, m_ScaleBar.lineWidth));
    painter.setFont(QFont("DejaVu Sans", 10));
    painter.drawLine(start, start + QPointF(length, 0));
    painter.drawText(QPointF(start.x() + length / 2 - 20, start.y() + 20),
                     QString("%1 %2").arg(m_ScaleBar.lengthUm).arg(QString::fromUtf8("µm")));
    painter.restore();
}

void SingleImageWidget::drawPolyline(QPainter &painter) const
{
    if (m_DrawingPoints.size() > 1)
        painter.drawPolyline(m_DrawingPoints.constData(), m_DrawingPoints.size());
}

void SingleImageWidget::drawTool(QPainter &painter)
{
    const int n = m_DrawingPoints.size();
    const QPoint current = m_CurrentPoint;
    switch (m_nCurrentTool) {
    case TOOL_LINE:
        if (n == 1)
            painter.drawLine(m_DrawingPoints[0], current);
        else if (n >= 2)
            painter.drawLine(m_DrawingPoints.first(), m_DrawingPoints.last());
        break;
    case TOOL_ANGLE:
        if (n >= 1)
            painter.drawLine(m_DrawingPoints[0], n == 1 ? current : m_DrawingPoints[1]);
        if (n >= 2)
            painter.drawLine(m_DrawingPoints[1], n == 2 ? current : m_DrawingPoints[2]);
        break;
    case TOOL_POLYGON:
        if (n > 2 && m_DrawingPoints.first() == m_DrawingPoints.last()) {
            drawPolyline(painter);
        } else if (n > 0) {
            const QPen pen = painter.pen();
            painter.setPen(QPen(m_CloseZone.contains(current) ? Qt::green : Qt::red, m_nLineThickness));
            painter.drawRect(m_CloseZone);
            painter.setPen(pen);
            drawPolyline(painter);
            painter.drawLine(m_DrawingPoints.last(), current);
        }
        break;
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
        if (n > 0) {
            const QRect box = QRect(m_DrawingPoints.first(), n == 1 ? current : m_DrawingPoints.last()).normalized();
            if (m_nCurrentTool == TOOL_ELLIPSE)
                painter.drawEllipse(box);
            else
                painter.drawRect(box);
        }
        break;
    case TOOL_SEGMENT_LINE:
        drawPolyline(painter);
        if (n > 0 && !m_bSegmentFinished)
            painter.drawLine(m_DrawingPoints.last(), current);
        break;
    case TOOL_FREE_HAND:
        drawPolyline(painter);
        break;
    case TOOL_MULTI_COUNT:
        for (const QPoint &p : m_DrawingPoints) {
            painter.drawLine(p.x() - 5, p.y(), p.x() + 5, p.y());
            painter.drawLine(p.x(), p.y() + 5, p.x(), p.y() - 5);
        }
        break;
    case TOOL_TEXT: {
        if (m_Text.isEmpty())
            break;
        QFont font("DejaVu Sans");
        font.setPointSize(std::max(1, m_nFontSize));
        const QFontMetrics metrics(font);
        const int width = metrics.horizontalAdvance(m_Text);
        const int height = metrics.height();
        // Kept inside the image: the text ends at x 1272 at most and its top below y 0.
        if (m_TextPosition.x() + width > kWidth)
            m_TextPosition.setX(kWidth - width);
        if (m_TextPosition.y() - height < 0)
            m_TextPosition.setY(height);
        painter.setFont(font);
        painter.setPen(m_FontColor);
        painter.drawText(m_TextPosition, m_Text);
        break;
    }
    default:
        break;
    }
}
