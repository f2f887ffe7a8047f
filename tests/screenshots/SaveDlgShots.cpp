#include "SaveDlgShots.h"

#include "CSVReaderWriter.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveOptionsDlg.h"
#include "SimSandbox.h"
#include "SimulatedSystemActions.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

namespace {

// Folders and files to browse, and channel names for the image boxes (only where none are set).
void prepareSandbox()
{
    for (const char *folder : {"/media/VANTOR SSD/Quicksave", "/media/USB1/Experiment 2024-05", "/media/USB1/HeLa day 3"})
        QDir().mkpath(Paths::path(folder));
    for (const char *file : {"/media/USB1/well_A1.tif", "/media/USB1/well_A2.tif", "/media/USB1/overview.png",
                             "/media/USB1/measurements.csv"}) {
        QFile out(Paths::path(file));
        if (out.open(QIODevice::WriteOnly))
            out.write("x");
    }
    // The simulated instrument's settings first: a configuration file made here would keep the
    // seed from writing its cubes and objectives for the shots after these.
    SimSandbox::seed();
    const std::string config = Paths::configFile().toStdString();
    const char *filters[4] = {"Trans", "DAPI", "RFP", "GFP"};
    QDir().mkpath(Paths::configDir());
    for (int i = 0; i < 4; ++i) {
        std::string name;
        if (!ReadPrivateProfileString("Filter", std::to_string(i), "", name, config))
            WritePrivateProfileString("Filter", std::to_string(i), filters[i], config);
    }
    g_PreviouslySavedPath = Paths::path("/media/USB1");
}

// Shows a popup over the dialog once the dialog is on the screen.
void showOver(QWidget *popup)
{
    QTimer::singleShot(100, popup, [popup] {
        popup->show();
        popup->raise();
    });
}

unsigned char *frame()
{
    static unsigned char pixels[1280 * 1024 * 3] = {};
    return pixels;
}

// A multicolour save of four channels, the overlay and the annotated image into USB1, pictured
// from inside the run after its third file (the screen as the user sees it then); shown as a
// picture of the whole screen.
QWidget *multicolorSaveInProgress()
{
    static std::vector<unsigned char> grey(1280 * 1024), colour(1280 * 1024 * 3);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = (unsigned char)((i % 1280 + i / 1280) / 10);
    QPixmap picture;
    int syncs = 0;
    SimulatedSystemActions actions;
    actions.setHandler([&](const QString &action, const QStringList &) -> std::optional<ProcessResult> {
        if (action == "sync" && ++syncs == 3)
            picture = QGuiApplication::primaryScreen()->grabWindow(0);
        return std::nullopt;
    });
    SystemActions::setInstance(&actions);
    DialogRunner::setStandingScript([](QDialog *dialog) {
        if (qobject_cast<SaveOptionsDlg *>(dialog))
            return DialogRunner::showAndRun(dialog, [](QDialog *d) { DialogRunner::click(d, "BUTTON_APPLY"); }, 60000);
        auto *label = dialog->findChild<QLabel *>("message_label");
        if (label && label->text().contains("Saving in Progress"))
            return DialogRunner::showAndRun(dialog, nullptr, 60000);
        return int(QDialog::Accepted);
    });
    {
        SaveOptionsDlg dialog;
        dialog.setCurrentSaveOption(SAVE_OPTION_MULTICOLOR, false);
        dialog.setImageBits(8);
        dialog.setDrawingScaleBar(true, 1);
        dialog.m_ScaleBarPoint = QPointF(20, 940);
        for (int channel = 0; channel < 4; ++channel)
            dialog.setImageData8(channel, grey.data());
        dialog.setOverlayImageData24(colour.data());
        dialog.setAnnotationImageData(colour.data());
        dialog.findChild<QLineEdit *>("EDIT_FILENAME")->setText("Day3_HeLa");
        dialog.exec();
    }
    DialogRunner::clearScripts();
    SystemActions::setInstance(nullptr);
    auto *shot = new QLabel;
    shot->setWindowFlags(Qt::FramelessWindowHint);
    shot->setPixmap(picture);
    shot->setGeometry(QGuiApplication::primaryScreen()->geometry());
    return shot;
}

} // namespace

QStringList saveDialogShotNames()
{
    return {"0", "3", "4", "5", "6", "8", "9", "keyboard", "saving", "saving-multicolor"};
}

QWidget *saveDialogShot(const QString &name)
{
    prepareSandbox();
    if (name == "saving-multicolor")
        return multicolorSaveInProgress();
    static CSVReaderWriter csv;
    const int option = name == "keyboard" || name == "saving" ? SAVE_OPTION_CSV : name.toInt();
    auto *dialog = new SaveOptionsDlg;
    dialog->setCurrentSaveOption(TSaveOption(option), option != SAVE_OPTION_CELLCOUNT,
                                 option == SAVE_OPTION_CELLCOUNT ? SUB_OPTION_CELLCOUNT_RESULT : SUB_OPTION_NONE);
    dialog->setImageBits(8);
    dialog->setFilterColorIndex(1);
    if (option == SAVE_OPTION_MULTICOLOR) {
        for (int channel : {0, 1, 3})
            dialog->setImageData8(channel, frame());
        dialog->setOverlayImageData24(frame());
        dialog->setAnnotationImageData(frame());
    } else if (option == SAVE_OPTION_SINGLE || option == SAVE_OPTION_CELLCOUNT) {
        dialog->setImageData8(0, frame());
        dialog->setAnnotationImageData(frame());
        dialog->setCSVReaderWriter(csv);
    } else if (option == SAVE_OPTION_CSV) {
        dialog->setCSVReaderWriter(csv);
    }
    dialog->findChild<QLineEdit *>("EDIT_FILENAME")->setText(option == SAVE_OPTION_CSV ? "Results" : "Day3_HeLa");
    if (name == "keyboard") {
        auto *keyboard = new KeyboardDlg(dialog);
        keyboard->setDateTimeConvertFormatOn(true);
        keyboard->setText("Results");
        showOver(keyboard);
    } else if (name == "saving") {
        auto *box = new MessageDlg(dialog);
        box->setMessage("<p><b>Saving in Progress ...</b></p>");
        box->setButtonVisibility(MSG_BUTTON_NONE);
        showOver(box);
    }
    return dialog;
}
