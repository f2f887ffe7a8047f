#pragma once
#include <QRect>
#include <QWidget>

// A self-contained navigator: an outline of the image's aspect ratio and the displayed region in
// it, computed from the sizes and the position its page gives.
class NavigationWidget : public QWidget
{
    Q_OBJECT
public:
    explicit NavigationWidget(QWidget *parent = nullptr);

    // Stores the image size and fixes the widget to the image's reduced aspect ratio.
    void setImageSize(int width, int height);
    // Size of the displayed region in image pixels; no repaint.
    void setDisplaySize(int width, int height);
    // Left-top of the displayed region in image pixels; schedules a repaint.
    void setCurrentPosition(int x, int y);

    QRect outlineRect() const { return m_OutlineRect; }
    QRect regionRect() const { return m_RegionRect; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect m_OutlineRect;
    QRect m_RegionRect;
    int m_NavImageWidth = 0;
    int m_NavImageHeight = 0;
    int m_NavDisplayWidth = 0;
    int m_NavDisplayHeight = 0;
    int m_NavPosX = 0;
    int m_NavPosY = 0;
};
