// Shows each screen and dialog the way a user sees it and writes one PNG each, named after it.
#include "CellCountDlgShots.h"
#include "CellCountShots.h"
#include "GrowthShots.h"
#include "DialogRunner.h"
#include "DirectoryDialog.h"
#include "FileCommandShots.h"
#include "FileManagerShots.h"
#include "Globals.h"
#include "GraphShots.h"
#include "KeyboardDlg.h"
#include "MainWindowShots.h"
#include "MessageDlg.h"
#include "MulticolorShots.h"
#include "PanelShots.h"
#include "Paths.h"
#include "QtParallelBackend.h"
#include "SaveDlgShots.h"
#include "SetupDlgShots.h"
#include "SingleShots.h"
#include "SoftwareUpdateShots.h"
#include "StartScreenShots.h"
#include "TimeLapseProgressDlg.h"
#include "VideoShots.h"
#include "ViewShots.h"
#include "TimeLapseShots.h"
#include "ZStackShots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>
#include <QElapsedTimer>
#include <functional>

namespace {

struct Shot
{
    QString name;                         // file name without ".png"
    std::function<QWidget *()> make;      // builds the widget (not yet shown)
};

// --- makers of the shared dialogs ---

QWidget *messageBox(int type)
{
    auto *box = new MessageDlg;
    box->setMsgType(TMessageType(type));
    return box;
}

QWidget *keyboard(bool shift)
{
    auto *kb = new KeyboardDlg;
    kb->setText(shift ? "Day3_HeLa" : "Day3 hela");
    if (shift)
        kb->findChild<QAbstractButton *>("BUTTON_KEY_SHIFT_L")->click();
    return kb;
}

QWidget *progress()
{
    auto *dlg = new TimeLapseProgressDlg;
    dlg->setMessage("Loading images ...");
    dlg->setTotalCount(1500);
    dlg->setCurrentCount(1234);
    return dlg;
}

QWidget *directoryDialog()
{
    for (const char *folder : {"/media/VANTOR SSD/Multicolor", "/media/VANTOR SSD/Timelapse/Run_01",
                               "/media/USB1/Experiment 2024-05", "/media/USB1/Cell count"})
        QDir().mkpath(Paths::path(folder));
    for (const char *file : {"/media/USB1/well_A1.tif", "/media/USB1/well_A2.tif", "/media/USB1/overview.png",
                             "/media/USB1/notes.txt"}) {
        QFile out(Paths::path(file));
        if (out.open(QIODevice::WriteOnly))
            out.write("x");
    }
    g_PreviouslySavedPath = Paths::path("/media/USB1");
    return new DirectoryDialog;
}

// Every screen and dialog, in menu order, one line each.
QList<Shot> shots()
{
    QList<Shot> list;
    for (int type = 0; type < MSG_TYPE_COUNT; ++type)
        list << Shot{QString("MessageDlg-%1").arg(type), [type] { return messageBox(type); }};
    list << Shot{"KeyboardDlg", [] { return keyboard(false); }};
    list << Shot{"KeyboardDlg-shift", [] { return keyboard(true); }};
    list << Shot{"TimeLapseProgressDlg", [] { return progress(); }};
    list << Shot{"DirectoryDialog", [] { return directoryDialog(); }};
    for (const QString &name : fileCommandShotNames())
        list << Shot{name.startsWith("Keyboard") || name.startsWith("error") ? "FileCommand-" + name
                                                                            : "FileOperationProgressDlg-" + name,
                     [name] { return fileCommandShot(name); }};
    for (const QString &name : saveDialogShotNames())
        list << Shot{"SaveOptionsDlg-" + name, [name] { return saveDialogShot(name); }};
    list << Shot{"ControlWidget-live", [] { return panelShot(PanelShotState::Live); }};
    list << Shot{"ControlWidget-still", [] { return panelShot(PanelShotState::Still); }};
    list << Shot{"ControlWidget-opened", [] { return panelShot(PanelShotState::Opened); }};
    list << Shot{"ControlWidget-disabled", [] { return panelShot(PanelShotState::Disabled); }};
    for (const QString &name : graphShotNames())
        list << Shot{"GraphFrame-" + name, [name] { return graphShot(name); }};
    for (const QString &name : viewShotNames())
        list << Shot{name, [name] { return viewShot(name); }};
    for (const QString &screen : mainWindowScreens())
        list << Shot{"NIMBODlg-" + screen, [screen] { return mainWindowShot(screen); }};
    for (const QString &name : multicolorShotNames())
        list << Shot{"NIMBODlg-Multicolor-" + name, [name] { return multicolorShot(name); }};
    for (const QString &name : singleShotNames())
        list << Shot{name, [name] { return singleShot(name); }};
    for (const QString &name : zStackShotNames())
        list << Shot{"NIMBODlg-ZStack-" + name, [name] { return zStackShot(name); }};
    for (const QString &name : timeLapseShotNames())
        list << Shot{"NIMBODlg-TimeLapse-" + name, [name] { return timeLapseShot(name); }};
    for (const QString &name : videoShotNames())
        list << Shot{"VideoMakerDlg-" + name, [name] { return videoShot(name); }};
    for (const QString &name : fileManagerShotNames())
        list << Shot{"NIMBODlg-FileManager-" + name, [name] { return fileManagerShot(name); }};
    for (const QString &name : cellCountShotNames())
        list << Shot{"NIMBODlg-CellCount-" + name, [name] { return cellCountShot(name); }};
    for (const QString &name : growthShotNames())
        list << Shot{"NIMBODlg-Growth-" + name, [name] { return growthShot(name); }};
    for (const QString &name : setupDlgShotNames())
        list << Shot{"SetupDlg-" + name, [name] { return setupDlgShot(name); }};
    for (const QString &name : startScreenShotNames())
        list << Shot{name, [name] { return startScreenShot(name); }};
    for (const QString &name : cellCountDlgShotNames())
        list << Shot{name, [name] { return cellCountDlgShot(name); }};
    for (const QString &name : softwareUpdateShotNames())
        list << Shot{"SoftwareUpdateDlg-" + name, [name] { return softwareUpdateShot(name); }};
    return list;
}

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QtParallelBackend::install();
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    // An optional second argument keeps the shots whose names it matches (a regular expression).
    const QRegularExpression only(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    QDir().mkpath(outDir);
    int failures = 0;
    for (const Shot &shot : shots()) {
        if (!shot.name.contains(only))
            continue;
        QWidget *widget = shot.make();
        if (!widget) {
            ++failures;
            continue;
        }
        widget->show();
        settle(300);
        QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0);
        if (!picture.save(outDir + "/" + shot.name + ".png"))
            ++failures;
        widget->close();
        delete widget;
        // Pop-ups that went with the widget (deleteLater) must not stand in the next shot.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return failures ? 1 : 0;
}
