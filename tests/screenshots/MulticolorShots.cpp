#include "MulticolorShots.h"

#include "ControlWidget.h"
#include "ImageGraphicsView.h"
#include "Paths.h"
#include "PrivateProfile.h"
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
#include <QMouseEvent>

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

// Draws with the page's tool button: a drag across the image between two points given as
// fractions of the view.
void drawOnView(NIMBODlg *window, QPushButton *tool, QPointF from, QPointF to)
{
    tool->click();
    QWidget *port = window->form()->m_ImageGraphicsView->viewport();
    const auto at = [port](QPointF f) { return QPoint(int(f.x() * port->width()), int(f.y() * port->height())); };
    const auto send = [port](QEvent::Type type, QPoint p, Qt::MouseButtons held) {
        QMouseEvent event(type, p, port->mapToGlobal(p), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(port, &event);
    };
    send(QEvent::MouseButtonPress, at(from), Qt::LeftButton);
    send(QEvent::MouseMove, at((from + to) / 2), Qt::LeftButton);
    send(QEvent::MouseMove, at(to), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, at(to), Qt::NoButton);
    QElapsedTimer settle;
    settle.start();
    pumpUntil([&settle] { return settle.elapsed() > 300; }, 1000);
}

} // namespace

QStringList multicolorShotNames()
{
    return {"channel", "overlay", "mode2", "mode3", "tiles", "measure", "lineprofile", "autosave"};
}

QWidget *multicolorShot(const QString &name)
{
    QWidget *shown = mainWindowShot("Multicolor");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window)
        return shown;
    MultiColorWidget *page = window->form()->m_MultiColorWidget;
    if (name == "autosave") {
        WritePrivateProfileString("Setting_MultiColor", "Autosave", "1", Paths::configFile().toStdString());
        page->readSetting();
    }
    for (int filter : {0, 1, 2})
        captureUnder(window, filter);
    Ui_MultiColorWidget *ui = page->form();
    if (name == "autosave") {
        pumpUntil([page] { return page->waitForAutoSaves(0) && page->form()->LABEL_AUTOSAVE->isVisible(); }, 10000);
        return window;
    }
    if (name == "tiles") {
        ui->BUTTON_TILE_ON->click();
        ui->SLIDER_CH4_BRIGHTNESS->setValue(60); // CH4 brighter: its tile follows
        emit ui->SLIDER_CH4_BRIGHTNESS->sliderReleased();
    } else if (name == "measure") {
        ui->BUTTON_OVERLAY_ON->click();
        ui->BUTTON_MODE3->click();
        drawOnView(window, ui->BUTTON_MEASURE_RECT, {0.2, 0.2}, {0.45, 0.5});
        drawOnView(window, ui->BUTTON_MEASURE_ELLIPSE, {0.55, 0.45}, {0.8, 0.8});
    } else if (name == "lineprofile") {
        ui->BUTTON_MODE3->click();
        drawOnView(window, ui->BUTTON_MEASURE_LINE, {0.15, 0.3}, {0.85, 0.6});
    }
    if (name == "overlay")
        ui->BUTTON_OVERLAY_ON->click();
    else if (name == "mode2")
        ui->BUTTON_MODE2->click();
    else if (name == "mode3")
        ui->BUTTON_MODE3->click();
    pumpUntil([window] { return window->form()->BUTTON_POWER->isEnabled(); }, 5000);
    return window;
}
