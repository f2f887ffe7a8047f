#include "GrowthShots.h"

#include "DialogRunner.h"
#include "GrowthMonitorImageWidget.h"
#include "GrowthMonitorWidget.h"
#include "LGraphicsView.h"
#include "MainWindowShots.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"
#include "ui_GrowthMonitorImageWidget.h"
#include "ui_GrowthMonitorWidget.h"
#include "ui_NIMBODlg.h"

#include <QComboBox>
#include <QLabel>
#include <QTabWidget>

namespace {

// Three frames captured from the live image and analysed, the boxes of each run running until
// the page closes them.
void captureThree(NIMBODlg *window, GrowthMonitorWidget *page)
{
    Ui_GrowthMonitorWidget *ui = page->form();
    ui->COMB_BACKGROUND->setCurrentIndex(1); // transmitted light: cells darker than the background
    DialogRunner::setStandingScript([](QDialog *dialog) {
        auto *label = dialog->findChild<QLabel *>("message_label");
        const QString text = label ? label->text() : QString();
        if (qobject_cast<TimeLapseProgressDlg *>(dialog) || text.contains("Initializing"))
            return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 120000);
        return 1;
    });
    for (int i = 0; i < 3; ++i) {
        ui->BUTTON_LIVE->click();
        pumpUntil([window, ui] { return window->form()->m_VideoWidget->isRunning() && ui->BUTTON_CAPTURE->isEnabled()
                                        && window->form()->BUTTON_POWER->isEnabled(); }, 15000);
        pumpUntil([] { return false; }, 300);
        ui->BUTTON_CAPTURE->click();
        pumpUntil([page] { return page->currentState() == GROWTH_RESULT; }, 60000);
    }
    DialogRunner::setStandingScript({});
    pumpUntil([window] { return window->form()->BUTTON_POWER->isEnabled(); }, 10000);
}

} // namespace

QStringList growthShotNames()
{
    return {"live", "initializing", "calculating", "result", "graph", "segmentation", "raw", "slideshow"};
}

QWidget *growthShot(const QString &name)
{
    QWidget *shown = mainWindowShot("Multicolor");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window)
        return shown;
    // The main menu has no button for the page: it is entered through the window's slot.
    QMetaObject::invokeMethod(window, "on_BUTTON_MONITOR_MENU_clicked");
    pumpUntil([window] { return window->form()->BUTTON_POWER->isEnabled(); }, 15000);
    GrowthMonitorWidget *page = window->form()->m_GrowthMonitorWidget;
    Ui_GrowthMonitorWidget *ui = page->form();
    GrowthMonitorImageWidget *browser = window->form()->m_GrowthMonitorImageWidget;
    if (name == "live" || name == "initializing" || name == "calculating") {
        ui->BUTTON_LIVE->click();
        pumpUntil([window] { return window->form()->m_VideoWidget->isRunning() && window->form()->BUTTON_POWER->isEnabled(); },
                  15000);
        if (name == "initializing") {
            auto *box = new MessageDlg(window);
            box->setMessage("<p><b>Initializing ...</b></p>");
            box->setButtonVisibility(MSG_BUTTON_NONE);
            box->show();
        } else if (name == "calculating") {
            auto *progress = new TimeLapseProgressDlg(window);
            progress->setMessage("<p><b>Calculating ...</b></p>");
            progress->setTotalCount(10);
            progress->setSignalMode(true);
            progress->setCurrentCount(4);
            progress->show();
        }
        pumpUntil([] { return false; }, 800);
        return shown;
    }
    captureThree(window, page);
    Ui_GrowthMonitorImageWidget *view = browser->form();
    if (name == "result") {
        view->BUTTON_IMAGE_COUNT->click();
    } else if (name == "graph") {
        ui->TABWIDGET_RESULT_HISTOGRAM->setCurrentIndex(0);
    } else if (name == "segmentation" || name == "raw") {
        if (name == "raw")
            view->BUTTON_IMAGE_RAW->click();
        LGraphicsView *graphics = view->m_LGraphicsView;
        graphics->sceneScaleChange(250.0, graphics->viewport()->rect().center());
    } else if (name == "slideshow") {
        view->COMBOBOX_SLIDESHOW_INTERVAL->setCurrentText("0.5 s");
        view->BUTTON_SLIDESHOW_START->click();
        pumpUntil([] { return false; }, 700);
    }
    pumpUntil([] { return false; }, 500);
    return shown;
}
