#include "SaveDlgShots.h"

#include "CSVReaderWriter.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveOptionsDlg.h"

#include <QDir>
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

} // namespace

QStringList saveDialogShotNames()
{
    return {"0", "3", "4", "5", "6", "8", "9", "keyboard", "saving"};
}

QWidget *saveDialogShot(const QString &name)
{
    prepareSandbox();
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
