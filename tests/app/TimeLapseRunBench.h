#pragma once
#include "AppBench.h"
#include "TimeLapseWidget.h"

#include <QObject>
#include <QStringList>
#include <memory>

// The whole application on the Time lapse page, as the series tests drive it: entered live, a
// plan typed into the page's fields, Run pressed and the series waited for.
class TimeLapseRunBench : public QObject
{
protected:
    std::unique_ptr<AppBench> m_bench;
    TimeLapseWidget *m_page = nullptr;

    Ui_NIMBODlg *ui() const { return m_bench->ui(); }
    template <class T>
    T *w(const char *name) const { return m_page->findChild<T *>(name); }
    QString seriesFolder() const { return m_page->runFolder(); }
    int count() const { return m_page->plan().count(); }

    // The application started on the Time lapse page, live, ready to run.
    bool enter(const SimulatedInstrument::Options &options = AppBench::defaultOptions(), const char *cameraMode = "8");
    // As enter(), on a quick focus stage: three times the seeded focus speed, and the panel reads
    // the stage's position every 20 ms while it waits for a move's end. An autofocus then spends
    // its time on its frames, and a frame still in flight at a still's request shows the stage
    // before its last move.
    bool enterQuickStage();
    // Live pressed: the page live and ready to run.
    bool goLive();
    // Total time, interval and its unit, correction on or off; the series goes to the SSD's "Data".
    void plan(int minutes, int seconds, int interval, const QString &unit, bool correction = false);
    void run();
    bool waitForCount(int n, int timeoutMs = 30000) const;
    bool waitEnded(int timeoutMs = 30000) const;
    bool polling() const;
    // Ends the case's application.
    void endCase();

    // What Python's tifffile reads from every frame of a series, in name order: one line per file,
    // "WIDTHxHEIGHT BITS MAX <last description item>".
    static QStringList framesByPython(const QString &folder);

private:
    bool enterPage(const SimulatedInstrument::Options &options, const char *cameraMode, bool quickStage);
};
