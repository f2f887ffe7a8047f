// The writes of the settings dialog's OK (every key in one batch) over a full configuration file (every key OK writes, the simulated
// instrument's own groups, a few counting protocols' worth of other groups), against its floor:
// one atomic write of the same final file in the same folder (temporary file, fsync, rename,
// fsync of the folder).
#include "Paths.h"
#include "PrivateProfile.h"
#include "SetupDlg.h"
#include "SimSandbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
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

} // namespace

BENCHMARK(settings_ok)->Unit(benchmark::kMillisecond);
BENCHMARK(settings_ok_floor)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
