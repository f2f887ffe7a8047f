#include "VideoShots.h"

#include "MessageDlg.h"
#include "Paths.h"
#include "SeriesVideoExporter.h"
#include "TimeLapseProgressDlg.h"
#include "VideoMakerDlg.h"
#include "ZStackShots.h"

#include <QWidget>

QStringList videoShotNames()
{
    return {"dialog", "staging", "encoding", "complete"};
}

QWidget *videoShot(const QString &name)
{
    QWidget *window = zStackShot("browser-thumbnails");
    if (!window)
        return nullptr;
    const QString folder = Paths::ssd() + "/HeLa_stack_stored";
    if (name == "dialog") {
        auto *dialog = new VideoMakerDlg(window);
        dialog->setDefaultParam(folder, {5, 3, 0.5});
        dialog->show();
    } else if (name == "complete") {
        auto *message = new MessageDlg(window);
        message->setButtonVisibility(MSG_BUTTON_OK);
        message->setMessage(SeriesVideoExporter::kSaveCompleteText.arg(
            SeriesVideoExporter::displayPath(folder + "/HeLa_stack_stored.mp4")));
        message->show();
    } else {
        // Frame 4 of 7 staged, or the encoder at its fifth image.
        const bool staging = name == "staging";
        auto *progress = new TimeLapseProgressDlg(window);
        progress->setMessage(staging ? SeriesVideoExporter::kStagingText : SeriesVideoExporter::kEncodingText);
        progress->setSignalMode(true);
        progress->setTotalCount(7);
        progress->setCurrentCount(staging ? 4 : 5);
        progress->show();
    }
    return window;
}
