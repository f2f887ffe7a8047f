#include "FileCommandShots.h"

#include "FileOperationProgressDlg.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QThread>

namespace {

// Half-way through a copy of 300 images to the USB drive, more than a second after the start.
FileOperationProgressDlg *copying()
{
    auto *dialog = new FileOperationProgressDlg;
    dialog->initialize();
    dialog->setNumboerOfFiles(300);
    dialog->setTotalFileSize(300ll * 2621440);
    dialog->setState(PROGRESS_STARTED);
    QThread::msleep(1100);
    for (int i = 0; i < 120; ++i)
        dialog->slotFileOperating(1, 2621440, QString("/VANTOR SSD/Run/cells_%1.tif").arg(i, 4, 10, QChar('0')),
                                  QString("/USB1/Run/cells_%1.tif").arg(i, 4, 10, QChar('0')));
    return dialog;
}

QWidget *message(const QString &text)
{
    auto *box = new MessageDlg;
    box->setMessage(text);
    box->setButtonVisibility(MSG_BUTTON_OK);
    return box;
}

} // namespace

QStringList fileCommandShotNames()
{
    return {"copying", "cancelling", "synchronizing", "KeyboardDlg-NewFolder", "error-copied", "error-moved",
            "error-deleted", "error-drive-removed", "error-name", "error-rename", "error-folder"};
}

QWidget *fileCommandShot(const QString &name)
{
    if (name == "copying")
        return copying();
    if (name == "cancelling") {
        auto *dialog = copying();
        QMetaObject::invokeMethod(dialog, "on_BUTTON_CANCEL_clicked");
        return dialog;
    }
    if (name == "synchronizing") {
        // The completed state as setState(PROGRESS_ENDED) paints it before the flush; the real
        // call would flush and close the dialog before the picture is taken.
        auto *dialog = copying();
        dialog->findChild<QProgressBar *>("PROGRESSBAR")->setValue(100);
        dialog->setEnabled(false);
        dialog->findChild<QLabel *>("LABEL_PASTE_INFO")->setText("<p><b>Synchronizing ...</b></p>");
        for (const char *label : {"LABEL_REMAINING_TIME_INFO", "LABEL_REMAINING_ITEM_INFO", "LABEL_SPEED_INFO"})
            dialog->findChild<QLabel *>(label)->clear();
        return dialog;
    }
    if (name == "KeyboardDlg-NewFolder") {
        auto *keyboard = new KeyboardDlg(nullptr, false, false);
        keyboard->setDateTimeConvertFormatOn(true);
        keyboard->setText("HeLa_20240512_101530");
        return keyboard;
    }
    if (QStringList({"error-copied", "error-moved", "error-deleted"}).contains(name))
        return message(QString("<p><b>Error!</b><br/><br/>3 of 300 files could not be %1.</p>").arg(name.mid(6)));
    if (name == "error-drive-removed")
        return message("<p><b>Error!</b><br/><br/>The drive was removed.<br/>200 of 300 files were not copied.</p>");
    if (name == "error-name")
        return message("<p><b>Error!</b><br/><br/>This name cannot be used.</p>");
    if (name == "error-rename")
        return message("<p><b>Error!</b><br/><br/>The name could not be changed.<br/>Read-only file system</p>");
    if (name == "error-folder")
        return message("<p><b>Error!</b><br/><br/>The folder could not be made.<br/>Read-only file system</p>");
    return nullptr;
}
