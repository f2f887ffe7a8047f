// Configuration reads and writes through ReadPrivateProfileString, WritePrivateProfileString and
// WriteSetting on a configuration file of realistic size, each against plain I/O of the same
// file's bytes: a QFile read, and a QFile write made durable with fsync (as every configuration
// write is).
#include "PrivateProfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

// A configuration file of 40 groups of 8 keys, some with spaces in their names.
struct ConfigFile
{
    QTemporaryDir dir{qEnvironmentVariable("VANTOR_ROOT", QDir::tempPath()) + "/bench-XXXXXX"};
    std::string path = (dir.path() + "/NIMBO.ini").toStdString();
    QByteArray bytes;

    ConfigFile()
    {
        for (int g = 0; g < 40; ++g)
            for (int k = 0; k < 8; ++k)
                WriteSetting("Group_" + std::to_string(g), (k % 2 ? "Key " : "Key_") + std::to_string(k),
                             "value " + std::to_string(g * 8 + k), path);
        NormalizePrivateProfile(path);
        QFile file(QString::fromStdString(path));
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
    }
};

void config_read(benchmark::State &state)
{
    ConfigFile config;
    std::string out;
    for (auto _ : state) {
        ReadPrivateProfileString("Group_20", "Key 3", "", out, config.path);
        benchmark::DoNotOptimize(out);
    }
}

void config_read_floor(benchmark::State &state)
{
    ConfigFile config;
    for (auto _ : state) {
        QFile file(QString::fromStdString(config.path));
        file.open(QIODevice::ReadOnly);
        QByteArray bytes = file.readAll();
        benchmark::DoNotOptimize(bytes);
    }
}

void config_write(benchmark::State &state)
{
    ConfigFile config;
    int i = 0;
    for (auto _ : state)
        WritePrivateProfileString("Group_20", "Key 3", std::to_string(++i), config.path);
}

void config_write_setting(benchmark::State &state)
{
    ConfigFile config;
    int i = 0;
    for (auto _ : state)
        WriteSetting("Group_20", "Key 3", std::to_string(++i), config.path);
}

void config_write_floor(benchmark::State &state)
{
    ConfigFile config;
    for (auto _ : state) {
        QFile file(QString::fromStdString(config.path));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(config.bytes);
        file.flush();
        ::fsync(file.handle());
    }
}

} // namespace

BENCHMARK(config_read);
BENCHMARK(config_read_floor);
BENCHMARK(config_write);
BENCHMARK(config_write_floor);
BENCHMARK(config_write_setting);
BENCHMARK(config_write_floor)->Name("config_write_setting_floor");
BENCHMARK_MAIN();
