#pragma once
#include "MultiColorWidget.h"
#include "TestRoot.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QDialog;
class MultiColorImageWidget;

// The Multicolor page off the instrument, for the result tests: a fresh root with the SSD's
// Quicksave folder and a configuration, the page shown, its tile view connected as the main
// window connects it, and captures answered with seeded frames. Message boxes are answered with
// `answer` and their texts kept; `onDialog`, when set, plays any dialog first (a result >= 0
// ends it).
class MultiColorFixture
{
public:
    static constexpr int kPixels = 1280 * 1024;

    // config: the configuration file's text (filter names, auto-save ...).
    explicit MultiColorFixture(const QByteArray &config = {});
    ~MultiColorFixture();

    // A frame under filter position filter: seeded values 0..255 or 0..4095 (camera words for 16).
    void capture(int filter, int bits, unsigned seed = 1);
    // The plain values of the last frame given (one byte or one native word per pixel).
    const std::vector<quint16> &lastValues() const { return m_values; }

    MultiColorWidget &page() { return *m_page; }
    // The page goes as at the end of a run (its auto-saves finished first).
    void destroyPage() { m_page.reset(); }
    Ui_MultiColorWidget *ui() const { return m_page->form(); }
    MultiColorImageWidget &tiles() { return *m_tiles; }
    QString quicksave() const;
    // The user saves the next time the save dialog opens: names the file on the keyboard and
    // presses OK in the folder the dialog opens at (the USB drive).
    void saveAs(const QString &name);
    QString usb() const;

    TestRoot root;
    QStringList messages;
    int answer = 1;
    std::function<int(QDialog *)> onDialog;

private:
    std::unique_ptr<MultiColorImageWidget> m_tiles;
    std::unique_ptr<MultiColorWidget> m_page;
    std::vector<uchar> m_frame;
    std::vector<quint16> m_values;
};
