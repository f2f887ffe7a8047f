#include "FileManagerShots.h"

#include "DialogRunner.h"
#include "FileIconProvider.h"
#include "FileManagerWidget.h"
#include "ImReaderWriter.h"
#include "ImageViewerDlg.h"
#include "MainWindowShots.h"
#include "MessageDlg.h"
#include "NIMBODlg.h"
#include "Paths.h"
#include "SampleRenderer.h"
#include "ui_NIMBODlg.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileSystemModel>
#include <QListView>
#include <QMenu>
#include <opencv2/core.hpp>

namespace {

const QString kSsdFolder = "/media/VANTOR SSD/HeLa_GFP";
const QString kUsbFolder = "/media/USB1/Experiment 2024-05";

// Rendered cells as the camera takes them (16 bits, 0..4095) with the record the savers write,
// a little further from focus image by image.
void writeCellImages(const QString &fixedFolder, const QString &stem, int count)
{
    const QString folder = Paths::path(fixedFolder);
    QDir().mkpath(folder);
    SampleRenderer renderer;
    SampleView optics;
    const double focus = renderer.trueFocusSteps(optics.objective);
    for (int i = 0; i < count; ++i) {
        const QString path = QString("%1/%2_%3.tif").arg(folder, stem).arg(i + 1, 4, 10, QChar('0'));
        if (QFileInfo::exists(path))
            continue;
        optics.stageSteps = focus + i * 60;
        cv::Mat frame;
        renderer.render(optics, frame);
        ImReaderWriter image;
        image.load(frame.data, 1280, 1024, 16, 1, 1, 1, 1);
        image.cameraLayout = false; // plain intensities
        image.write(path.toUtf8(), QString("Instrument = VANTOR S;Serial Number = 1042;Camera Mode = 16 bit;Objective "
                                           "Lens = 10X;Filter Name = GFP;Exposure = 120 ms;Image %1 of %2")
                                       .arg(i + 1)
                                       .arg(count)
                                       .toUtf8());
    }
}

void writeFiles()
{
    writeCellImages(kSsdFolder, "HeLa_GFP", 8);
    writeCellImages(kUsbFolder, "well_A", 3);
    QFile table(Paths::path(kUsbFolder + "/cell counts.csv"));
    if (table.open(QIODevice::WriteOnly))
        table.write("Well,Count\nA1,1234\n");
    QFile damaged(Paths::path(kUsbFolder + "/well_B1 (damaged).tif"));
    if (damaged.open(QIODevice::WriteOnly))
        damaged.write(QByteArray("II*\0", 4) + QByteArray(2000, '\x5a'));
}

// Opens the folder at the fixed path as a double tap on its entry does, one level at a time
// from "/"; every loading wait runs until the page ends it.
void openFolder(FileManagerWidget *page, const QString &fixedPath)
{
    auto *list = page->findChild<QListView *>("LISTVIEW_FILE");
    auto *model = qobject_cast<QFileSystemModel *>(list->model());
    DialogRunner::setStandingScript([](QDialog *dialog) { return DialogRunner::showAndRun(dialog, [](QDialog *) {}, 60000); });
    const QStringList sections = fixedPath.split('/', Qt::SkipEmptyParts).mid(1);
    for (const QString &section : sections) {
        const QString path = page->currentPath() + '/' + section;
        pumpUntil([&] { return model->index(path).isValid(); }, 10000);
        QMetaObject::invokeMethod(page, "on_LISTVIEW_FILE_doubleClicked", Q_ARG(QModelIndex, model->index(path)));
        pumpUntil([page] { return page->isEnabled(); }, 30000);
    }
    DialogRunner::setStandingScript({});
}

void showThumbnails(FileManagerWidget *page)
{
    const QStringList images = QDir(page->currentPath()).entryList({"*.tif"}, QDir::Files);
    pumpUntil([&] {
        for (const QString &name : images)
            if (FileIconProvider::cachedThumbnail(QFileInfo(page->currentPath() + '/' + name)).isNull())
                return false;
        return true;
    }, 30000);
    pumpUntil([] { return false; }, 500);
}

MessageDlg *box(QWidget *over, const QString &text, TMessageButtonVisibility buttons)
{
    auto *dlg = new MessageDlg(over);
    dlg->setMessage(text);
    dlg->setButtonVisibility(buttons);
    dlg->show();
    return dlg;
}

QWidget *viewer(QWidget *over, const QString &name)
{
    const QString folder = Paths::path(name == "viewer-damaged" ? kUsbFolder : kSsdFolder);
    QList<QFileInfo> images;
    for (const QFileInfo &info : QDir(folder).entryInfoList({"*.tif"}, QDir::Files, QDir::Name))
        images << info;
    const QFileInfo shown = name == "viewer-damaged" ? QFileInfo(folder + "/well_B1 (damaged).tif") : images.value(2);
    auto *dlg = new ImageViewerDlg(over);
    dlg->setCurrentFileInfoList(images);
    dlg->setCurrentIndex(shown);
    dlg->load(shown.absoluteFilePath(), shown.fileName());
    dlg->show();
    pumpUntil([dlg] { return !dlg->isLoading(); }, 30000);
    if (name == "viewer-panel")
        dlg->findChild<QAbstractButton *>("BUTTON_DETAIL")->click();
    return over;
}

} // namespace

QStringList fileManagerShotNames()
{
    return {"ssd-thumbnails", "usb",       "loading",     "context-menu",  "eject-question",
            "eject-safe",     "eject-busy", "viewer-16bit", "viewer-panel", "viewer-damaged"};
}

QWidget *fileManagerShot(const QString &name)
{
    writeFiles();
    QWidget *shown = mainWindowShot("FileManager");
    auto *window = qobject_cast<NIMBODlg *>(shown);
    if (!window)
        return shown;
    FileManagerWidget *page = window->form()->m_FileManagerWidget;
    if (name.startsWith("viewer"))
        return viewer(window, name);
    if (name == "ssd-thumbnails" || name == "loading") {
        openFolder(page, kSsdFolder);
        if (name == "ssd-thumbnails")
            showThumbnails(page);
        else
            box(window, "<p><b>Loading images ...</b></p>", MSG_BUTTON_NONE);
        return window;
    }
    openFolder(page, kUsbFolder.section('/', 0, name == "usb" || name == "context-menu" ? -1 : 2));
    if (name == "usb") {
        showThumbnails(page);
    } else if (name == "context-menu") {
        // The menu of one file held down: the page's own menu with the entries it enables then.
        auto *list = page->findChild<QListView *>("LISTVIEW_FILE");
        auto *model = qobject_cast<QFileSystemModel *>(list->model());
        const QModelIndex file = model->index(page->currentPath() + "/well_A_0001.tif");
        pumpUntil([&] { return !list->visualRect(file).isEmpty(); }, 10000);
        list->selectionModel()->select(file, QItemSelectionModel::Select);
        auto *menu = page->findChild<QMenu *>();
        menu->clear();
        for (QAction *action : page->findChildren<QAction *>()) {
            if (action->text().isEmpty())
                continue;
            action->setEnabled(action->text() != "New Folder" && action->text() != "Paste");
            menu->addAction(action);
        }
        menu->popup(list->viewport()->mapToGlobal(list->visualRect(file).center()));
    } else if (name == "eject-question") {
        box(window, "Are you sure you want to eject the USB drive?", MSG_BUTTON_OK_CANCEL);
    } else if (name == "eject-safe") {
        box(window, "<p><b>Safe To Remove Hardware</b><br/><br/>'USB1' can now be safely removed from the VANTOR S.</p>",
            MSG_BUTTON_OK);
    } else if (name == "eject-busy") {
        box(window, "<p><b>Error!</b><br/><br/>'USB1' could not be ejected.<br/>Close any file on it and try again.</p>",
            MSG_BUTTON_OK);
    }
    return window;
}
