#include "ZStackShots.h"

#include "DialogRunner.h"
#include "MainWindowShots.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SimulatedInstrument.h"
#include "VideoWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

namespace {

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

template <class Done>
bool pumpUntil(Done done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Sets a position with the stage placed steps away from where it stands.
void setPosition(ZStackWidget *page, QAbstractButton *set, int offsetSteps)
{
    VirtualInstrument &vi = SimulatedInstrument::current()->instrument();
    vi.setStagePosition(vi.state().stagePosition + offsetSteps);
    set->click();
    pumpUntil([page] { return page->motorRequest() < 0; }, 5000);
}

} // namespace

QStringList zStackShotNames()
{
    return {"live", "range", "stacking", "completed"};
}

QWidget *zStackShot(const QString &name)
{
    QWidget *shown = mainWindowShot("ZStack");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window)
        return shown;
    ZStackWidget *page = window->form()->m_ZStackWidget;
    Ui_ZStackWidget *ui = page->form();
    ui->BUTTON_LIVE->click();
    pumpUntil([window] { return window->form()->m_VideoWidget->isRunning() && window->form()->BUTTON_POWER->isEnabled(); },
              15000);
    page->setSavePath(Paths::ssd(), "HeLa_stack");
    if (name == "range") {
        // Room below the stage for the range.
        VirtualInstrument &vi = SimulatedInstrument::current()->instrument();
        if (vi.state().stagePosition < 6000)
            vi.setStagePosition(vi.state().stagePosition + 6000);
        ui->RADIO_RANGE->click();
        ui->SPINBOX_RANGE_PLUS->setValue(5);
        ui->SPINBOX_RANGE_MINUS->setValue(5);
        pump(500);
        return window;
    }
    setPosition(page, ui->BUTTON_SET_START_POSITION, -256);
    setPosition(page, ui->BUTTON_SET_END_POSITION, 512);
    ui->RADIOBUTTON_IMAGE_NUMBER->click();
    ui->SPINBOX_IMAGE_NUMBER->setValue(5);
    if (name == "stacking") {
        // The page as it stands on the third of five slices, its progress box over the live image.
        page->setCurrentState(ZSTACK_STACKING);
        ui->SLIDER_Z_STACK->setRange(0, 4);
        ui->SLIDER_Z_STACK->setValue(3);
        ui->LABEL_POS_STAMP->setText(QString::fromUtf8("5.0 µm / 10.0 µm  3 / 5"));
        auto *progress = new MessageDlg(window);
        progress->setButtonText("Stop", "Cancel");
        progress->setMsgType(MSG_ZSTACK_IN_PROGRESS);
        progress->show();
    } else if (name == "completed") {
        // The whole stack runs in its progress box; any other box is answered with OK.
        DialogRunner::setStandingScript([](QDialog *dialog) {
            auto *label = dialog->findChild<QLabel *>("message_label");
            const QString text = label ? label->text() : QString();
            if (text.contains("Initializing") || text.contains("in progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 120000);
            return 1;
        });
        ui->BUTTON_Z_STACK_START->click();
        DialogRunner::setStandingScript({});
        pump(500);
    }
    return window;
}
