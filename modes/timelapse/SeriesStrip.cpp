#include "SeriesStrip.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QSignalBlocker>
#include <QSlider>

SeriesStrip::SeriesStrip(QListWidget *list, QSlider *slider, QLabel *label, ShowButtons buttons)
    : m_List(list)
    , m_Slider(slider)
    , m_Label(label)
    , m_Buttons(buttons)
{
}

void SeriesStrip::clear()
{
    while (m_List->count() > 0)
        delete m_List->takeItem(m_List->count() - 1);
    m_List->clear();
}

void SeriesStrip::setCount(int count)
{
    const QSignalBlocker block(m_Slider);
    m_Slider->setRange(0, count - 1);
}

bool SeriesStrip::select(int index)
{
    const int count = m_List->count();
    if (index < 0 || index >= count)
        return false;
    m_List->scrollToItem(m_List->item(index), QAbstractItemView::EnsureVisible);
    m_List->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    {
        // The slider follows; its own handler would show the same image a second time.
        const QSignalBlocker block(m_Slider);
        m_Slider->setValue(index);
    }
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    m_Label->setText(english.toString(index + 1) + QLatin1Char('/') + english.toString(count));
    return true;
}

int SeriesStrip::previousRow() const
{
    const int row = m_List->currentRow();
    return row >= 1 ? row - 1 : -1;
}

int SeriesStrip::nextRow() const
{
    const int row = m_List->currentRow();
    return row < m_List->count() - 1 ? row + 1 : -1;
}

void SeriesStrip::setShowButtons(SlideShowState state)
{
    auto set = [this](bool start, bool pause, bool stop) {
        m_Buttons.start->setEnabled(start);
        m_Buttons.pause->setEnabled(pause);
        m_Buttons.stop->setEnabled(stop);
    };
    switch (state) {
    case SlideShowReady:
    case SlideShowStopped: set(true, false, false); break;
    case SlideShowPlaying: set(false, true, true); break;
    case SlideShowPaused: set(true, false, true); break;
    }
}
