#pragma once
#include "SlideShowState.h"

class QAbstractButton;
class QLabel;
class QListWidget;
class QSlider;

// The strip of a series browser: its thumbnail list, the slider and the "n/N" label kept in step,
// the rows Left, Right and the slide show go to next, and the slide-show buttons' states. The
// browser owns the widgets (its form's); GUI thread only.
class SeriesStrip
{
public:
    struct ShowButtons
    {
        QAbstractButton *start;
        QAbstractButton *pause;
        QAbstractButton *stop;
    };

    SeriesStrip(QListWidget *list, QSlider *slider, QLabel *label, ShowButtons buttons);

    // Deletes every item.
    void clear();
    // The slider's range for count items, without a signal of the slider.
    void setCount(int count);
    // Shows row index as current in the list, slider (no signal) and label (English digit groups,
    // "1,500/1,500", whatever the process locale). False for a row that does not exist.
    bool select(int index);
    // The row Left, Right and a slide-show step go to; -1 where there is none.
    int previousRow() const;
    int nextRow() const;
    // Enables the show buttons as the state wants: ready and stopped Start only, playing Pause and
    // Stop, paused Start and Stop.
    void setShowButtons(SlideShowState state);

private:
    QListWidget *m_List;
    QSlider *m_Slider;
    QLabel *m_Label;
    ShowButtons m_Buttons;
};
