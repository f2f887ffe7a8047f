#pragma once
#include "AppBench.h"

#include <QDialog>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class CellCountImageWidget;
class CellCountWidget;
class ControlWidget;
class ImageGraphicsView;
class QJsonObject;
class Ui_CellCountWidget;
class VideoWidget;
class VirtualInstrument;

// The whole application live on the Cell count page, as the count-run tests drive it: the run's
// own boxes stay open until the page closes them, what the page asked for is noted, and a count
// is pressed and waited for.
class CellCountRunBench : public QObject
{
protected:
    std::unique_ptr<AppBench> m_bench;
    QStringList m_boxTexts;       // texts of the run's own boxes, in the order they showed
    QList<int> m_powers;          // lightPower values the page sent
    int m_frames = 0;             // frames the live video delivered
    bool m_autofocused = false;   // the panel answered the page's autofocus
    int m_afRequests = 0;         // autofocus runs the page asked for
    QPointer<QDialog> m_startBox;
    QString m_saveName;           // the name the save dialog is given

    CellCountWidget *page() const;
    Ui_CellCountWidget *form() const;
    VideoWidget *video() const;
    ControlWidget *panel() const;
    VirtualInstrument &scope() const;
    CellCountImageWidget *viewer() const;
    ImageGraphicsView *view() const;

    void noteBoxText(QDialog *dialog);
    // The application live on the Cell count page. The run's own boxes stay open until the page
    // closes them; every other box is answered with OK.
    void startLive();
    // Mean grey of one still at an LED power.
    double meanAt(int power);
    // Live resets the exposure to its first row: the user lengthens it until half the LED power
    // gives about the target grey.
    void exposeForTarget();
    // The lowest LED power whose frame is at least as bright as the target.
    int targetPower();
    // Presses Count and waits for the run to end in the result or back in live.
    void count();
    // The USB drive once mounted, made the save folder; empty if it does not come.
    QString mountedUsb();
    // Runs a Python check with a JSON record of what is expected.
    void python(const char *script, const QStringList &args, const QJsonObject &expected);
    // Ends the case's application and undoes what a case may have changed.
    void endCase();
};
