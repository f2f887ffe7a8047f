#include "CellCountShots.h"

#include "CellCountWidget.h"
#include "DialogRunner.h"
#include "MainWindowShots.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "VideoWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_NIMBODlg.h"

#include <QLabel>

namespace {

// A box of the run shown over the page as the run shows it.
void showBox(NIMBODlg *window, const QString &text, bool stop)
{
    auto *box = new MessageDlg(window);
    box->setMessage(text);
    if (stop) {
        box->setButtonVisibility(MSG_BUTTON_OK);
        box->setButtonText("Stop", "Cancel");
    } else {
        box->setButtonVisibility(MSG_BUTTON_NONE);
    }
    box->show();
}

} // namespace

QStringList cellCountShotNames()
{
    return {"idle", "live", "lightsearch", "counting", "result", "manual"};
}

QWidget *cellCountShot(const QString &name)
{
    QWidget *shown = mainWindowShot("CellCount");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window || name == "idle")
        return shown;
    CellCountWidget *page = window->form()->m_CellCountWidget;
    Ui_CellCountWidget *ui = page->form();
    ui->BUTTON_LIVE->click();
    pumpUntil([window] { return window->form()->m_VideoWidget->isRunning() && window->form()->BUTTON_POWER->isEnabled(); },
              15000);
    if (name == "lightsearch") {
        ui->BUTTON_COUNT->setEnabled(false);
        showBox(window, "<p><b>Checking the light intensity ...</b></p>", true);
    } else if (name == "counting") {
        page->setCurrentState(CELLCOUNT_COUNTING);
        ui->BUTTON_COUNT->setEnabled(false);
        showBox(window, "<p><b>Cell counting in progress ...</b></p>", false);
    } else if (name == "result" || name == "manual") {
        // The run's own boxes stay until the page closes them; any other box is answered with OK.
        DialogRunner::setStandingScript([](QDialog *dialog) {
            auto *label = dialog->findChild<QLabel *>("message_label");
            const QString text = label ? label->text() : QString();
            if (text.contains("Initializing") || text.contains("in progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 180000);
            return 1;
        });
        if (name == "result") {
            ui->CHKBOX_AF->setChecked(false);
            ui->BUTTON_COUNT->click();
        } else {
            ui->BUTTON_MODE2->click();
            ui->BUTTON_CAPTURE->click();
        }
        pumpUntil([page] { return page->currentState() == CELLCOUNT_RESULT && !page->runActive(); }, 180000);
        DialogRunner::setStandingScript({});
        pumpUntil([window] { return window->form()->BUTTON_POWER->isEnabled(); }, 10000);
    }
    pumpUntil([] { return false; }, 500);
    return window;
}
