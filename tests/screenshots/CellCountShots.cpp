#include "CellCountShots.h"

#include "CellCountImageWidget.h"
#include "CellCountWidget.h"
#include "DialogRunner.h"
#include "MainWindowShots.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "ControlWidget.h"
#include "SimulatedInstrument.h"
#include "VideoWidget.h"
#include "ImageGraphicsView.h"
#include "Paths.h"
#include "SaveOptionsDlg.h"
#include "ui_CellCountImageWidget.h"
#include "ui_CellCountWidget.h"
#include "ui_NIMBODlg.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <opencv2/core.hpp>

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

// Lengthens the exposure (Live resets it to its first row) until half the LED power gives a bright
// enough frame for the light search.
void exposeForCounting(NIMBODlg *window)
{
    ControlWidget *panel = window->form()->m_ControlWidget;
    VideoWidget *video = window->form()->m_VideoWidget;
    double mean = 0;
    const auto c = QObject::connect(video, &VideoWidget::captured, [&mean](uchar *frame, int bits) {
        if (bits == 8)
            mean = cv::mean(cv::Mat(1024, 1280, CV_8UC1, frame))[0];
    });
    panel->changeLightPower(50, -1, -1);
    for (int row = 1; row < 100 && mean < 130.0; ++row) {
        panel->changeLightPower(-1, -1, row);
        pumpUntil([] { return false; }, 300);
        video->capture();
    }
    QObject::disconnect(c);
}

// Three touches of the point-count tool on the viewer's frame.
void touchMarks(NIMBODlg *window)
{
    ImageGraphicsView *view = window->form()->m_CellCountImageWidget->form()->m_LGraphicsView;
    for (const QPoint p : {QPoint(300, 300), QPoint(640, 420), QPoint(900, 700)}) {
        const QPoint at = view->mapFromScene(QPointF(p));
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &event);
        }
    }
}

// The save dialog of a count as it opens over the page: the screen is taken while it shows and
// the dialog is cancelled; the shot is that picture.
QWidget *saveDialogOver(CellCountWidget *page)
{
    static QPixmap picture;
    QDir().mkpath(Paths::path("/media/USB1"));
    g_PreviouslySavedPath = Paths::path("/media/USB1");
    DialogRunner::setStandingScript([](QDialog *dialog) {
        dialog->show();
        pumpUntil([] { return false; }, 800);
        picture = QGuiApplication::primaryScreen()->grabWindow(0);
        return 0;
    });
    page->form()->BUTTON_SAVE_BEFORE->click();
    DialogRunner::setStandingScript({});
    auto *label = new QLabel;
    label->setWindowFlags(Qt::FramelessWindowHint);
    label->setPixmap(picture);
    label->setGeometry(QGuiApplication::primaryScreen()->geometry());
    return label;
}

} // namespace

QStringList cellCountShotNames()
{
    return {"idle", "live", "lightsearch", "counting", "result", "manual", "histogram", "histogram-live",
            "histogram-dead", "concentration", "clustermap", "viewer-tag", "viewer-frame", "manual-marks", "save"};
}

QWidget *cellCountShot(const QString &name)
{
    QWidget *shown = mainWindowShot("CellCount");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window || name == "idle")
        return shown;
    CellCountWidget *page = window->form()->m_CellCountWidget;
    Ui_CellCountWidget *ui = page->form();
    // Counting takes the Trans cube and the 4X objective (earlier shots may have turned them).
    VirtualInstrument &vi = SimulatedInstrument::current()->instrument();
    vi.turnFilter(0);
    vi.turnObjective(1);
    ControlWidget *panel = window->form()->m_ControlWidget;
    pumpUntil([panel, page] { return panel->currentFilterPosition() == 0 && page->objectiveMagnification() == 4.0f; }, 15000);
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
    } else if (name != "live") {
        // The run's own boxes stay until the page closes them; any other box is answered with OK.
        DialogRunner::setStandingScript([](QDialog *dialog) {
            auto *label = dialog->findChild<QLabel *>("message_label");
            const QString text = label ? label->text() : QString();
            if (text.contains("Initializing") || text.contains("in progress"))
                return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 180000);
            return 1;
        });
        const bool manual = name.startsWith("manual");
        if (name != "manual")
            exposeForCounting(window); // marks are set on a frame one can see
        if (!manual) {
            ui->BUTTON_COUNT->click();
        } else {
            ui->BUTTON_MODE2->click();
            ui->BUTTON_CAPTURE->click();
        }
        pumpUntil([page] { return page->currentState() == CELLCOUNT_RESULT && !page->runActive(); }, 180000);
        DialogRunner::setStandingScript({});
        pumpUntil([window] { return window->form()->BUTTON_POWER->isEnabled(); }, 10000);
        if (name == "histogram-live" || name == "histogram-dead")
            ui->BUTTON_CELL_TYPE->click();
        if (name == "histogram-dead")
            ui->BUTTON_CELL_TYPE->click();
        if (name == "concentration")
            ui->BUTTON_CELL_CONCENTRATION_OR_NUMBER->click();
        if (name == "clustermap")
            ui->BUTTON_CLUSTERMAP->click();
        if (name == "viewer-frame")
            ui->BUTTON_TAG->click();
        if (name == "manual-marks")
            touchMarks(window);
        if (name == "save") {
            QWidget *shot = saveDialogOver(page);
            window->close();
            delete window;
            return shot;
        }
    }
    pumpUntil([] { return false; }, 500);
    return window;
}
