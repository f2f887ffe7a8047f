#include "MultiColorImageWidget.h"

#include "Globals.h"

#include <QMouseEvent>
#include <QPainter>
#include <cstring>
#include <opencv2/core.hpp>

namespace {
constexpr int kPixels = MultiColorImageWidget::kWidth * MultiColorImageWidget::kHeight;
// 12-bit values to 8 bits: 255 / 4094.
constexpr double k12To8 = 0.06228627259404006;
}

MultiColorImageWidget::MultiColorImageWidget(QWidget *parent)
    : QWidget(parent)
{
    for (QImage &image : m_ChannelImage) {
        image = QImage(kWidth, kHeight, QImage::Format_Indexed8);
        image.fill(0);
        image.setColorTable(g_PseudoColorTable[7]);
    }
    m_OverlayImage = QImage(kWidth, kHeight, QImage::Format_RGB888);
    m_OverlayImage.fill(0);
    m_ScaleBar.show = false;
}

MultiColorImageWidget::~MultiColorImageWidget() = default;

QRect MultiColorImageWidget::tileRect(int channel)
{
    switch (channel) {
    case 0: return QRect(QPoint(0, 0), QPoint(632, 497));
    case 1: return QRect(QPoint(639, 501), QPoint(1271, 998));
    case 2: return QRect(QPoint(0, 501), QPoint(632, 998));
    case 3: return QRect(QPoint(639, 0), QPoint(1271, 497));
    default: return {};
    }
}

void MultiColorImageWidget::clearImageData()
{
    for (int c = 0; c < 4; ++c) {
        m_ChannelImage[size_t(c)].fill(0);
        m_Tile[size_t(c)] = QImage();
        m_bChannelSet[size_t(c)] = false;
    }
}

void MultiColorImageWidget::setColorTable(int channel, int colorIndex, bool bPseudoColor)
{
    m_ChannelImage[size_t(channel)].setColorTable(g_PseudoColorTable[bPseudoColor ? clampColorIndex(colorIndex) : 7]);
}

void MultiColorImageWidget::makeTile(int channel)
{
    const QRect r = tileRect(channel);
    m_Tile[size_t(channel)] = m_ChannelImage[size_t(channel)]
                                  .scaled(r.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .convertToFormat(QImage::Format_RGB32);
}

void MultiColorImageWidget::setImageData(int channel, int colorIndex, void *data, bool bPseudoColor, int selectedIndex,
                                         int bits)
{
    if (g_CurrentMenu != MENU_MULTICOLOR || !validChannel(channel) || !data)
        return;
    QImage &image = m_ChannelImage[size_t(channel)];
    if (bits == 8) {
        std::memcpy(image.bits(), data, kPixels);
    } else if (bits == 16) {
        const cv::Mat source(kHeight, kWidth, CV_16UC1, data);
        cv::Mat target(kHeight, kWidth, CV_8UC1, image.bits(), size_t(image.bytesPerLine()));
        source.convertTo(target, CV_8U, k12To8, 0);
    }
    setColorTable(channel, colorIndex, bPseudoColor);
    makeTile(channel);
    m_nSelectedIndex = selectedIndex;
    m_bChannelSet[size_t(channel)] = true;
    update();
}

void MultiColorImageWidget::slotResetImage(int channel, int colorIndex, void *data, bool bPseudoColor, int bits)
{
    if (!validChannel(channel) || !data)
        return;
    QImage &image = m_ChannelImage[size_t(channel)];
    if (bits == 8) {
        std::memcpy(image.bits(), data, kPixels);
    } else if (bits == 16) {
        const auto *in = static_cast<const quint16 *>(data);
        uchar *out = image.bits();
        for (int i = 0; i < kPixels; ++i)
            out[i] = uchar(in[i] >> 4);
    }
    setColorTable(channel, colorIndex, bPseudoColor);
    makeTile(channel);
    update();
}

void MultiColorImageWidget::setOverlayImageData(void *data, int bits)
{
    m_OverlayImage.fill(0);
    if (data && bits == 8) {
        std::memcpy(m_OverlayImage.bits(), data, size_t(kPixels) * 3);
    } else if (data && bits == 16) {
        const cv::Mat source(kHeight, kWidth, CV_16UC3, data);
        cv::Mat target(kHeight, kWidth, CV_8UC3, m_OverlayImage.bits(), size_t(m_OverlayImage.bytesPerLine()));
        source.convertTo(target, CV_8U, k12To8, 0);
    }
    update();
}

void MultiColorImageWidget::setImageDisplayState(int state)
{
    m_nDisplayState = state;
    if (state == 3)
        raise(); // above the image view's background picture that shares its place
    update();
}

void MultiColorImageWidget::setScaleBar(TSScaleBar scaleBar)
{
    m_ScaleBar = scaleBar;
}

void MultiColorImageWidget::slotClearCapturedImage()
{
    clearImageData();
    m_OverlayImage.fill(0);
    update();
}

void MultiColorImageWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    switch (m_nDisplayState) {
    case 3:
        painter.setPen(QPen(Qt::white, 1));
        painter.drawLine(0, 500, 1272, 500);
        painter.drawLine(636, 0, 636, 1000);
        for (int c = 0; c < 4; ++c)
            if (m_bChannelSet[size_t(c)] && !m_Tile[size_t(c)].isNull())
                painter.drawImage(tileRect(c).topLeft(), m_Tile[size_t(c)]);
        break;
    case 4:
        painter.drawImage(0, 0, m_OverlayImage);
        drawScaleBar(painter);
        break;
    case 2:
        if (!isChannelSet(m_nSelectedIndex))
            break;
        painter.drawImage(0, 0, m_ChannelImage[size_t(m_nSelectedIndex)]);
        drawScaleBar(painter);
        break;
    default:
        break;
    }
}

void MultiColorImageWidget::drawScaleBar(QPainter &painter) const
{
    if (!m_ScaleBar.show || m_ScaleBar.noObjective)
        return;
    painter.setPen(QPen(m_ScaleBar.color, m_ScaleBar.lineWidth));
    QFont font("DejaVu Sans");
    font.setPointSize(std::max(1, m_ScaleBar.fontSize));
    painter.setFont(font);
    float length = m_ScaleBar.lengthPixels;
    QPointF start, end;
    switch (m_ScaleBar.corner) {
    case 0: start = m_ScaleBar.topLeft; end = start + QPointF(length, 0); break;
    case 2: start = m_ScaleBar.bottomLeft; end = start + QPointF(length, 0); break;
    case 1: end = m_ScaleBar.topRight; start = end - QPointF(length, 0); break;
    case 3: end = m_ScaleBar.bottomRight; start = end - QPointF(length, 0); break;
    default: length = 0; break;
    }
    painter.drawLine(start, end);
    painter.drawText(QPointF(start.x() + length / 2 - 20, start.y() + 20),
                     QString("%1 %2").arg(m_ScaleBar.lengthUm).arg(QString::fromUtf8("\u00b5m")));
}

void MultiColorImageWidget::mousePressEvent(QMouseEvent *event)
{
    if (m_nDisplayState != 3)
        return;
    const QPoint p = event->localPos().toPoint();
    for (int c = 0; c < 4; ++c) {
        if (!tileRect(c).contains(p))
            continue;
        m_nSelectedIndex = c;
        if (m_bChannelSet[size_t(c)]) {
            emit displayFullImageSelected(2, c);
            m_nDisplayState = 2;
            update();
        }
        return;
    }
}
