#include "TimeLapseShots.h"

#include "DialogRunner.h"
#include "ImReaderWriter.h"
#include "MainWindowShots.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SampleRenderer.h"
#include "TimeLapseImageWidget.h"
#include "TimeLapseWidget.h"
#include "VideoWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_TimeLapseImageWidget.h"

#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <opencv2/core.hpp>

namespace {

// Twelve rendered frames ten minutes apart, stored as a run stores them and loaded back.
void loadSeries(NIMBODlg *window)
{
    TimeLapseWidget *page = window->form()->m_TimeLapseWidget;
    const QString folder = Paths::ssd() + "/HeLa_day3_stored";
    QDir().mkpath(folder);
    SampleRenderer renderer;
    SampleView optics;
    optics.stageSteps = renderer.trueFocusSteps(optics.objective);
    for (int i = 0; i < 12; ++i) {
        optics.stageSteps += (i % 3 - 1) * 20;
        cv::Mat frame;
        renderer.render(optics, frame);
        cv::Mat words = frame.clone(); // the writer takes camera words
        words.forEach<ushort>([](ushort &v, const int *) { v = ushort((v >> 4) | (v << 12)); });
        ImReaderWriter image;
        image.load(words.data, 1280, 1024, 16, 1, 1, 1, 1);
        const QString text = QString("Instrument: VANTOR S;Objective: Olympus 10X NA 0.25 UPlanFL;Time: %1:%2:00")
                                 .arg(i / 6, 2, 10, QChar('0'))
                                 .arg(i % 6 * 10, 2, 10, QChar('0'));
        image.write(QString("%1/HeLa_day3_%2.tif").arg(folder).arg(i, 4, 10, QChar('0')).toUtf8(), text.toUtf8());
    }
    DialogRunner::setStandingScript([](QDialog *dialog) { return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 60000); });
    page->loadImages(folder);
    DialogRunner::setStandingScript({});
    pumpUntil([page] { return page->currentState() == TIMELAPSE_SHOWN; }, 20000);
    page->findChild<QPushButton *>("CHKBOX_TIMESTAMP")->click();
    TSScaleBar bar;
    bar.show = true;
    bar.corner = 3;
    bar.lengthUm = 100;
    bar.color = Qt::yellow;
    bar.lineWidth = 4;
    window->form()->m_TimeLapseImageWidget->setScaleBar(bar);
    emit window->form()->m_TimeLapseImageWidget->form()->LISTWIDGET_IMAGE->itemClicked(
        window->form()->m_TimeLapseImageWidget->form()->LISTWIDGET_IMAGE->item(4));
}

} // namespace

QStringList timeLapseShotNames()
{
    return {"browser", "slideshow", "recording"};
}

QWidget *timeLapseShot(const QString &name)
{
    QWidget *shown = mainWindowShot("TimeLapse-live");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window)
        return shown;
    TimeLapseWidget *page = window->form()->m_TimeLapseWidget;
    if (name == "recording") {
        page->findChild<QSpinBox *>("SPINBOX_MINUTE")->setValue(1);
        page->findChild<QComboBox *>("COMBOBOX_INTERVAL_TYPE")->setCurrentText("Continuous");
        QDir().mkpath(Paths::ssd() + "/Timelapse");
        page->setSaveTarget(Paths::ssd() + "/Timelapse", "HeLa_record", "tif");
        page->findChild<QPushButton *>("BUTTON_TIMELAPSE_RUN")->click();
        pumpUntil([] { return false; }, 3300);
        return shown;
    }
    loadSeries(window);
    if (name == "slideshow") {
        TimeLapseImageWidget *browser = window->form()->m_TimeLapseImageWidget;
        browser->form()->COMBOBOX_SLIDESHOW_INTERVAL->setCurrentText("0.5 s");
        browser->form()->BUTTON_SLIDESHOW_START->click();
        pumpUntil([] { return false; }, 1200);
        browser->form()->BUTTON_SLIDESHOW_PAUSE->click();
        browser->form()->BUTTON_SLIDESHOW_START->click(); // playing again, the timer not yet due
    }
    pumpUntil([] { return false; }, 500);
    return shown;
}
