#pragma once
#include "TSScaleBar.h"

#include <QWidget>

// The Multicolor page's tile view: the four captured channels side by side, 2 x 2.
class MultiColorImageWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MultiColorImageWidget(QWidget *parent = nullptr);

    // Empties the four channel buffers.
    void clearImageData();

public slots:
    void setImageData(int channel, int pseudoColor, void *data, bool bPseudoColor, int selectedIndex, int bits);
    void setImageDisplayState(int state);
    void slotResetImage(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits);
    void setScaleBar(TSScaleBar scaleBar);
    void slotClearCapturedImage();

signals:
    void displayFullImageSelected(int state, int selectedIndex);
};
