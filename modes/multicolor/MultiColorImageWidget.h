#pragma once
#include "TSScaleBar.h"

#include <QImage>
#include <QRect>
#include <QWidget>
#include <array>

// The Multicolor page's tile view: the four captured channels side by side, 2 x 2 (CH1 top
// left, CH2 top right, CH3 bottom left, CH4 bottom right), each an 8-bit image coloured by its
// colour table. A touch on a filled tile opens that channel full size. It can also paint one
// channel or the overlay full size with the scale bar. GUI thread only.
class MultiColorImageWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;

    explicit MultiColorImageWidget(QWidget *parent = nullptr);
    ~MultiColorImageWidget() override;

    // Empties the four channel buffers.
    void clearImageData();

    int displayState() const { return m_nDisplayState; }
    int selectedIndex() const { return m_nSelectedIndex; }
    bool isChannelSet(int channel) const { return validChannel(channel) && m_bChannelSet[size_t(channel)]; }
    const QImage &channelImage(int channel) const { return m_ChannelImage[size_t(qBound(0, channel, 3))]; }
    const QImage &overlayImage() const { return m_OverlayImage; }
    static QRect tileRect(int channel);

public slots:
    void setImageData(int channel, int colorIndex, void *data, bool bPseudoColor, int selectedIndex, int bits);
    void setImageDisplayState(int state);
    void slotResetImage(int channel, int colorIndex, void *data, bool bPseudoColor, int bits);
    void setScaleBar(TSScaleBar scaleBar);
    void slotClearCapturedImage();
    void setOverlayImageData(void *data, int bits);

signals:
    void displayFullImageSelected(int state, int selectedIndex);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    static bool validChannel(int channel) { return channel >= 0 && channel < 4; }
    void setColorTable(int channel, int colorIndex, bool bPseudoColor);
    // The tile of a channel as it is painted, made once per change rather than at every paint.
    void makeTile(int channel);
    void drawScaleBar(QPainter &painter) const;

    int m_nDisplayState = 2;
    std::array<QImage, 4> m_ChannelImage;
    std::array<QImage, 4> m_Tile; // scaled to the tile, in the screen's pixel format
    std::array<bool, 4> m_bChannelSet{};
    QImage m_OverlayImage;
    int m_nSelectedIndex = 0;
    TSScaleBar m_ScaleBar;
};
