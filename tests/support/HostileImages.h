#pragma once
#include "PythonLines.h"
#include "TestRoot.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

// The hostile image files that tests/support/hostile_images.py writes (a corrupt deflate stream,
// 12-bit, signed, white-is-zero, tiled, planar and float samples, a header declaring
// 100000 x 100000 pixels, a FIFO, a 6 MB description, and a sound file for comparison).
namespace HostileImages {

// Writes them into dir: their names, or one line "python failed: ..." on failure.
inline QStringList write(const QString &dir)
{
    return pythonLines({TestRoot::dataDir() + "/../support/hostile_images.py", dir});
}

// A folder holding them, written once for the whole test program; empty when Python failed.
inline QString folder()
{
    static QTemporaryDir dir;
    static const bool written = !write(dir.path()).join(QString()).contains("python failed");
    return written ? dir.path() : QString();
}

// Runs call here (widgets included); true when it returns within ms. A call still blocked then
// (in open() or read() of the FIFO fifo) is set free by a writer that opens and closes the FIFO,
// and the result is false. Only a hang: give minutes.
inline bool returnsWithin(const std::function<void()> &call, const QString &fifo, int ms)
{
    std::mutex lock;
    std::condition_variable changed;
    bool done = false, freed = false;
    std::thread watch([&] {
        std::unique_lock<std::mutex> hold(lock);
        if (changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return done; }))
            return;
        freed = true;
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    });
    call();
    {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
    }
    changed.notify_all();
    watch.join();
    return !freed;
}

} // namespace HostileImages
