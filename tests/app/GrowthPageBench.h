#pragma once
#include "AppBench.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class GrowthMonitorWidget;
class QTableWidget;
class Ui_GrowthMonitorImageWidget;
class Ui_GrowthMonitorWidget;
class VideoWidget;

// The whole application on the Growth monitor page, as the growth tests drive it: the page
// entered through the main window, the boxes of a run running until the page closes them (Stop
// pressed at a chosen image), frames captured or a folder run, and each result measured again by
// our own numpy/OpenCV steps (confluency_check.py --compute).
class GrowthPageBench : public QObject
{
protected:
    std::unique_ptr<AppBench> m_bench;
    int m_stopAfter = 0;          // the Calculating dialog's Stop is pressed at this many images
    bool m_freeDuringRun = false; // the main menu or the panel was free while a run worked

    GrowthMonitorWidget *page() const;
    Ui_GrowthMonitorWidget *form() const;
    Ui_GrowthMonitorImageWidget *browser() const;
    QTableWidget *table() const;
    VideoWidget *video() const;
    static QString usb();

    bool panelAndMenuFree() const;
    // The application on the Growth monitor page (entered through the main window's slot).
    bool enter();
    bool live();
    void capture();
    // Our own measure of each file with the settings of the page's last run: the lines
    // "confluency_check.py --compute" prints, made in one Python process.
    QStringList computed(const QStringList &files) const;
    // Each record as the same line.
    QStringList ours() const;
    // Frames of a growing culture, named img1.tif .. imgN.tif, in a folder on the USB drive; empty
    // when they could not be made.
    QString makeSeries(int frames = 10);
    void runFolder(const QString &folder);
    QStringList tableColumn(int column) const;

    void startCase(); // before each case
    void endCase();   // after each case: the application ended, the space query back
};
