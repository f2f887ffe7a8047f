// The software update of a 50 MB package (program, ffmpeg, a library archive), against its floor: tar
// unpacking the package plus tar packing the application folder, the two archive passes any
// checked update with a backup needs.
//
// The writes of the settings dialog's OK (every key in one batch) over a full configuration file (every key OK writes, the simulated
// instrument's own groups, a few counting protocols' worth of other groups), against its floor:
// one atomic write of the same final file in the same folder (temporary file, fsync, rename,
// fsync of the folder).
#include "GuiBenchMain.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SetupDlg.h"
#include "SimSandbox.h"
#include "SoftwareUpdateThread.h"
#include "SystemActions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray fullConfiguration()
{
    QFile::remove(Paths::configFile());
    SimSandbox::seed();
    const std::string file = Paths::configFile().toStdString();
    std::vector<PrivateProfileEntry> extra;
    for (int g = 0; g < 12; ++g)
        for (int k = 0; k < 10; ++k)
            extra.push_back({"Protocol Group " + std::to_string(g), "Key " + std::to_string(k), "value " + std::to_string(k)});
    WritePrivateProfileBatch(extra, file);
    SetupDlg dialog;
    dialog.setLiveMode(true);
    dialog.findChild<QAbstractButton *>("BUTTON_OK")->click();
    QFile in(Paths::configFile());
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

void settings_ok(benchmark::State &state)
{
    fullConfiguration();
    g_CurrentMenu = MENU_SETTING;
    SetupDlg dialog;
    dialog.setLiveMode(true);
    auto *name = dialog.findChild<QLineEdit *>("EDIT_LENS_NAME_1");
    int i = 0;
    for (auto _ : state) {
        name->setText(QString("PLAN %1").arg(++i % 10));
        if (!dialog.writeSetting()) {
            state.SkipWithError("OK did not save");
            return;
        }
    }
}

void settings_ok_floor(benchmark::State &state)
{
    const QByteArray bytes = fullConfiguration();
    const QFileInfo info(Paths::configFile());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    for (auto _ : state) {
        QByteArray temp = folder + "/.NIMBO.ini.XXXXXX";
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        bool ok = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::fsync(fd) == 0;
        ok = fd >= 0 && ::close(fd) == 0 && ok && ::rename(temp.constData(), target.constData()) == 0;
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = dir >= 0 && ::fsync(dir) == 0 && ::close(dir) == 0 && ok;
        if (!ok) {
            state.SkipWithError("plain atomic write failed");
            return;
        }
    }
}

bool writeRandom(const QString &path, int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator gen(7);
    gen.fillRange(reinterpret_cast<quint32 *>(data.data()), bytes / 4);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == bytes;
}

bool tar(const QStringList &args)
{
    return SystemActions::instance().run("tar", args, 600000).ok();
}

// A sandbox with an installed application and a 50 MB package on the drive; returns the package.
QString updateSandbox(const QTemporaryDir &root)
{
    Paths::setRoot(root.path());
    SimSandbox::seed();
    const QString staging = root.path() + "/bench-staging";
    QDir().mkpath(staging + "/lib");
    QDir().mkpath(Paths::path("/usr/lib"));
    QDir().mkpath(Paths::path("/media/USB1"));
    const QString package = Paths::path("/media/USB1/vantors_2_1_0.vts");
    // The installed program as large as the new one, so the backup packs a real application folder.
    const bool ok = writeRandom(Paths::configDir() + "/vantors_1_0_0", 34 << 20) &&
                    writeRandom(staging + "/vantors_2_1_0", 34 << 20) && writeRandom(staging + "/ffmpeg", 8 << 20) &&
                    writeRandom(staging + "/lib/libvantorav.so.1", 8 << 20) &&
                    tar({"-czf", staging + "/ffmpeg_lib1.tar.gz", "-C", staging + "/lib", "libvantorav.so.1"}) &&
                    tar({"-czf", package, "-C", staging, "vantors_2_1_0", "ffmpeg", "ffmpeg_lib1.tar.gz"});
    return ok ? package : QString();
}

void update_install(benchmark::State &state)
{
    QTemporaryDir root;
    const QString previous = Paths::root();
    const QString package = updateSandbox(root);
    if (package.isEmpty()) {
        state.SkipWithError("no package");
        return;
    }
    const QString config = Paths::configFile();
    QFile::copy(config, root.path() + "/bench-config");
    for (auto _ : state) {
        state.PauseTiming();
        // The same installation before every run: the old program current, no new one yet.
        QFile::remove(Paths::path("/root/Microscope/NIMBO/vantors_2_1_0"));
        QFile::remove(config);
        QFile::copy(root.path() + "/bench-config", config);
        state.ResumeTiming();
        SoftwareUpdateThread thread;
        bool result = false;
        QObject::connect(&thread, &SoftwareUpdateThread::completeSoftwareUpdate, [&](bool ok) { result = ok; });
        thread.m_bSyncWhenDone = false;
        thread.setUpdateFileInfo(package, "2_1_0");
        thread.start();
        thread.wait();
        QCoreApplication::processEvents();
        if (!result) {
            state.SkipWithError("update failed");
            break;
        }
    }
    Paths::setRoot(previous);
}

void update_install_floor(benchmark::State &state)
{
    QTemporaryDir root;
    const QString previous = Paths::root();
    const QString package = updateSandbox(root);
    const QString out = root.path() + "/bench-out";
    for (auto _ : state) {
        state.PauseTiming();
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        state.ResumeTiming();
        if (!tar({"-xzf", package, "-C", out}) ||
            !tar({"-czf", out + "/backup.vts", "-C", root.path(), "root/Microscope/NIMBO"})) {
            state.SkipWithError("tar failed");
            break;
        }
    }
    Paths::setRoot(previous);
}

} // namespace

BENCHMARK(update_install)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(update_install_floor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(settings_ok)->Unit(benchmark::kMillisecond);
BENCHMARK(settings_ok_floor)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return runGuiBenchmarks(argc, argv);
}
