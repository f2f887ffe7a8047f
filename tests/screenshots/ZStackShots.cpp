#include "ZStackShots.h"

#include "DialogRunner.h"
#include "MainWindowShots.h"
#include "MergeFocusDlg.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SimulatedInstrument.h"
#include "ImReaderWriter.h"
#include "SampleRenderer.h"
#include "TimeLapseProgressDlg.h"
#include "VideoWidget.h"
#include "ZStackImageWidget.h"
#include "ZStackWidget.h"
#include "ui_NIMBODlg.h"
#include "ui_ZStackImageWidget.h"
#include "ui_ZStackWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <opencv2/core.hpp>

namespace {

void pump(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// Sets a position with the stage placed steps away from where it stands.
void setPosition(ZStackWidget *page, QAbstractButton *set, int offsetSteps)
{
    VirtualInstrument &vi = SimulatedInstrument::current()->instrument();
    vi.setStagePosition(vi.state().stagePosition + offsetSteps);
    set->click();
    pumpUntil([page] { return page->motorRequest() < 0; }, 5000);
}

// A stored stack of rendered slices, 16-bit with a 10X objective and their Z positions (2 um
// apart around focus), loaded back through the page; the browser then shows the third slice with
// its position text and a 100 um scale bar, in thumbnails or the numbered list; or the stack is
// merged (its tile shown), or Merge was pressed (the dialog, the merge under way).
void browseStack(NIMBODlg *window, const QString &name)
{
    ZStackWidget *page = window->form()->m_ZStackWidget;
    ZStackImageWidget *browser = window->form()->m_ZStackImageWidget;
    Ui_ZStackImageWidget *strip = browser->form();
    const QString folder = Paths::ssd() + "/HeLa_stack_stored";
    QDir().mkpath(folder);
    SampleRenderer renderer;
    SampleView optics;
    const double focus = renderer.trueFocusSteps(optics.objective);
    const int slices = 7;
    for (int i = 0; i < slices; ++i) {
        optics.stageSteps = focus + (i - 3) * 2 * 51.2;
        cv::Mat frame;
        renderer.render(optics, frame);
        cv::Mat words = frame.clone(); // the writer takes camera words
        words.forEach<ushort>([](ushort &v, const int *) { v = ushort((v >> 4) | (v << 12)); });
        ImReaderWriter image;
        const QString text = QString::fromUtf8("Instrument: VANTOR S;Objective: Olympus 10X NA 0.25 UPlanFL;Z Position: %1 µm")
                                 .arg(QString::number(2.0 * i, 'f', 1));
        image.load(words.data, 1280, 1024, 16, 1, 1, 1, 1);
        image.write(QString("%1/HeLa_stack_stored_%2.tif").arg(folder).arg(i, 4, 10, QChar('0')).toUtf8(), text.toUtf8());
    }
    DialogRunner::setStandingScript([](QDialog *dialog) { return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 60000); });
    page->loadStack(folder);
    DialogRunner::setStandingScript({});
    pumpUntil([page] { return page->currentState() == ZSTACK_COMPLETED; }, 20000);
    page->form()->CHKBOX_ZPOSITION->click();
    TSScaleBar bar;
    bar.show = true;
    bar.corner = 3;
    bar.lengthUm = 100;
    bar.color = Qt::yellow;
    bar.lineWidth = 4;
    browser->setScaleBar(bar);
    if (name == "browser-merged") {
        // Merged by the page as a user merges: the dialog's defaults, the progress box to its end.
        DialogRunner::setStandingScript([](QDialog *dialog) {
            if (qobject_cast<MergeFocusDlg *>(dialog)) {
                DialogRunner::click(dialog, "BUTTON_APPLY");
                return dialog->result();
            }
            return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 300000);
        });
        page->form()->BUTTON_FULL_FOCUS->click();
        DialogRunner::setStandingScript({});
    } else if (name.startsWith("merge-")) {
        // Merge pressed: the dialog (grey, or the green of the cube) or the merge under way.
        if (name == "merge-progress") {
            auto *progress = new TimeLapseProgressDlg(window);
            progress->setMessage(ZStackWidget::kMergingText);
            progress->setSignalMode(true);
            progress->setTotalCount(slices);
            progress->setCurrentCount(3);
            progress->show();
        } else {
            auto *dialog = new MergeFocusDlg(window);
            dialog->setDefaultParam(11, name == "merge-dialog" ? MergeFocusDlg::kMonochrome : 1, slices);
            dialog->show();
        }
    } else {
        if (name == "browser-list")
            strip->BUTTON_IMAGE_TYPE_LIST->click();
        QListWidget *list = strip->LISTWIDGET_IMAGE;
        if (list->count() > 2)
            emit list->itemClicked(list->item(2)); // a tap on the third slice
    }
    pump(500);
}

} // namespace

QStringList zStackShotNames()
{
    return {"live", "range", "stacking", "completed", "browser-thumbnails", "browser-list", "loading", "merge-dialog",
            "merge-dialog-pseudo", "merge-progress", "browser-merged"};
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
    } else if (name == "loading") {
        // Loading a stored stack: its progress box with Stop.
        auto *progress = new TimeLapseProgressDlg(window);
        progress->setMessage(ZStackWidget::kLoadingText);
        progress->setSignalMode(true);
        progress->setTotalCount(12);
        progress->setCurrentCount(5);
        progress->show();
    } else if (name == "completed" || name.startsWith("browser") || name.startsWith("merge-")) {
        // The whole stack runs in its progress box; any other box is answered with OK.
        DialogRunner::setStandingScript([](QDialog *dialog) {
            auto *label = dialog->findChild<QLabel *>("message_label");
            const QString text = label ? label->text() : QString();
            if (text.contains("Initializing") || text.contains("in progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 120000);
            return 1;
        });
        if (name.startsWith("browser") || name.startsWith("merge-")) {
            browseStack(window, name);
            return window;
        }
        ui->BUTTON_Z_STACK_START->click();
        DialogRunner::setStandingScript({});
        pump(500);
    }
    return window;
}
