// Shared by the file-writing benchmarks: the folder they write in, the removal of a written file
// outside the timed part, and the floor every file write is measured against: one plain write(2)
// of the same bytes to a new file in the same folder.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

inline QString benchFolder()
{
    return qEnvironmentVariable("VANTOR_ROOT", QDir::tempPath());
}

inline void removeUntimed(benchmark::State &state, const QByteArray &path)
{
    state.PauseTiming();
    ::unlink(path.constData());
    state.ResumeTiming();
}

inline void plainWriteFloor(benchmark::State &state, const QString &fileName, const QByteArray &bytes)
{
    QTemporaryDir dir(benchFolder() + "/bench-XXXXXX");
    const QByteArray path = QFile::encodeName(dir.path() + "/" + fileName);
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const bool ok = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
        if (fd < 0 || ::close(fd) != 0 || !ok) {
            state.SkipWithError("plain write failed");
            return;
        }
        removeUntimed(state, path);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
