#include "SoftwareUpdateShots.h"

#include "MediaMonitor.h"
#include "Paths.h"
#include "SimSandbox.h"
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "SoftwareUpdateDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {

// The top folder of the first USB drive, listed by a storage monitor (made here when the shots
// before left none).
QString usbFolder()
{
    const auto firstUsb = [] {
        for (const MediaMonitor::DeviceEntry &device : MediaMonitor::deviceList())
            if (device.second != MediaMonitor::ssdLabel)
                return Paths::path("/media/" + device.second);
        return QString();
    };
    if (firstUsb().isEmpty()) {
        QString error;
        if (!SimStorage::install(&error))
            qWarning().noquote() << error;
        static MediaMonitor monitor;
        monitor.mountAll();
    }
    return firstUsb();
}

// Leaves on the drive one package, name, holding the members named (each "member content"); none
// with an empty name.
void putPackage(const QString &name, const QStringList &members)
{
    const QString drive = usbFolder();
    for (const QString &old : QDir(drive).entryList({"vantors_*.vts"}, QDir::Files))
        QFile::remove(drive + "/" + old);
    if (name.isEmpty())
        return;
    QTemporaryDir content;
    for (const QString &member : members) {
        QFile file(content.path() + "/" + member);
        if (file.open(QIODevice::WriteOnly))
            file.write("#!/bin/sh\nexit 0\n");
    }
    QProcess::execute("tar", QStringList{"-czf", drive + "/" + name, "-C", content.path()} + members);
}

// While the worker unpacks, tar waits until released, then fails: nothing gets installed.
SimulatedSystemActions &heldActions(std::atomic<bool> *&released)
{
    static SimulatedSystemActions actions;
    static std::atomic<bool> flag{false};
    flag = false;
    released = &flag;
    actions.setHandler([](const QString &action, const QStringList &) -> std::optional<ProcessResult> {
        if (action != "tar")
            return std::nullopt;
        while (!flag)
            QThread::msleep(10);
        return ProcessResult{};
    });
    return actions;
}

} // namespace

QStringList softwareUpdateShotNames()
{
    return {"0-start", "1-notdetected", "2-detected", "3-updating", "4-complete", "5-failed"};
}

QWidget *softwareUpdateShot(const QString &name)
{
    SimSandbox::seed(); // the installation and its version
    auto *holder = new QWidget(nullptr, Qt::FramelessWindowHint);
    holder->setGeometry(0, 0, 1920, 1080);
    holder->setObjectName("backdrop");
    holder->setStyleSheet("QWidget#backdrop { background-color: rgb(31, 34, 38); }");

    const int state = name.left(1).toInt();
    if (state == 4)
        putPackage("vantors_2_1_0.vts", {"vantors_2_1_0"});
    else if (state == 5)
        putPackage("vantors_3_0_0.vts", {"readme.txt"}); // no program: a damaged package
    else
        putPackage(state >= 2 ? "vantors_9_0_0.vts" : "", {"vantors_9_0_0"});
    if (state == 3) {
        std::atomic<bool> *released = nullptr;
        SystemActions::setInstance(&heldActions(released));
        QObject::connect(holder, &QObject::destroyed, [released] { *released = true; });
    }

    auto *dialog = new SoftwareUpdateDlg;
    auto *start = dialog->findChild<QAbstractButton *>("BUTTON_START");
    if (state >= 1)
        start->click();
    if (state >= 3)
        start->click();
    QElapsedTimer waited;
    waited.start();
    while (state >= 4 && dialog->state() < SoftwareUpdateDlg::STATE_COMPLETE && waited.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QObject::connect(holder, &QObject::destroyed, [dialog, state] {
        delete dialog; // waits for a held worker, released just before
        if (state == 3)
            SystemActions::setInstance(nullptr);
    });
    QTimer::singleShot(0, dialog, [dialog] {
        dialog->show();
        dialog->raise();
    });
    if (state == 3) {
        // Each paint lengthens the bar by 2 pixels: half way, once the dialog is on the screen.
        QTimer::singleShot(100, dialog, [dialog] {
            for (int i = 0; i < 1000 && dialog->progressWidth() < 184; ++i) {
                dialog->repaint();
                QCoreApplication::processEvents();
            }
        });
    }
    return holder;
}
