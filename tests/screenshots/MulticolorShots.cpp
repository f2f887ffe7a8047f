#include "MulticolorShots.h"

#include "ControlWidget.h"
#include "MainWindowShots.h"
#include "MultiColorModel.h"
#include "MultiColorWidget.h"
#include "NIMBODlg.h"
#include "SimulatedInstrument.h"
#include "VideoWidget.h"
#include "ui_MultiColorWidget.h"
#include "ui_NIMBODlg.h"

#include <QApplication>
#include <QElapsedTimer>

namespace {

// Turns the filter cube, waits for the panel to report it and the live image to run lit, and
// captures.
bool captureUnder(NIMBODlg *window, int filter)
{
    Ui_NIMBODlg *ui = window->form();
    MultiColorWidget *page = ui->m_MultiColorWidget;
    if (page->currentState() != MULTI_LIVE)
        page->form()->BUTTON_LIVE->click();
    SimulatedInstrument::current()->instrument().turnFilter(filter);
    pumpUntil([ui, filter] { return ui->m_ControlWidget->currentFilterPosition() == filter; }, 5000);
    ui->m_ControlWidget->turnOnLight();
    pumpUntil([ui, page] { return ui->m_VideoWidget->isRunning() && page->form()->BUTTON_CAPTURE->isEnabled(); }, 15000);
    QElapsedTimer settle; // a few frames under the new light
    settle.start();
    pumpUntil([&settle] { return settle.elapsed() > 1200; }, 2000);
    page->form()->BUTTON_CAPTURE->click();
    return pumpUntil([page, filter] { return page->model()->isImageCaptured(filter); }, 5000);
}

} // namespace

QStringList multicolorShotNames()
{
    return {"channel", "overlay", "mode2", "mode3"};
}

QWidget *multicolorShot(const QString &name)
{
    QWidget *shown = mainWindowShot("Multicolor");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window)
        return shown;
    MultiColorWidget *page = window->form()->m_MultiColorWidget;
    for (int filter : {0, 1, 2})
        captureUnder(window, filter);
    Ui_MultiColorWidget *ui = page->form();
    if (name == "overlay")
        ui->BUTTON_OVERLAY_ON->click();
    else if (name == "mode2")
        ui->BUTTON_MODE2->click();
    else if (name == "mode3")
        ui->BUTTON_MODE3->click();
    pumpUntil([window] { return window->form()->BUTTON_POWER->isEnabled(); }, 5000);
    return window;
}
