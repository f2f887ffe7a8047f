#include "ExceptionTracer.h"

#include "Paths.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <execinfo.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kMaxFrames = 100;
constexpr size_t kPathSize = 4096;

// Resolved once by prepare(): the signal handler may not allocate.
char s_errorFile[kPathSize];
char s_existFile[kPathSize];

const char kBuildStamp[] = __DATE__ "  " __TIME__ "\n";

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        size -= size_t(n);
    }
}

void writeText(int fd, const char *text)
{
    writeAll(fd, text, std::strlen(text));
}

void writeNumber(int fd, int value)
{
    char digits[16];
    int i = sizeof digits;
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[--i] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude && i > 1);
    if (value < 0)
        digits[--i] = '-';
    writeAll(fd, digits + i, sizeof digits - size_t(i));
}

int openTruncated(const char *path)
{
    if (!path[0])
        return -1;
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void storePath(char *buffer, const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (size_t(bytes.size()) >= kPathSize) {
        buffer[0] = '\0';
        return;
    }
    std::memcpy(buffer, bytes.constData(), size_t(bytes.size()) + 1);
}

} // namespace

ExceptionTracer::ExceptionTracer()
{
    void *frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);

    writeText(STDOUT_FILENO, "nSize:");
    writeNumber(STDOUT_FILENO, count);
    writeText(STDOUT_FILENO, "\n");
    backtrace_symbols_fd(frames, count, STDOUT_FILENO);

    const int error = openTruncated(s_errorFile);
    if (error >= 0) {
        writeText(error, kBuildStamp);
        backtrace_symbols_fd(frames, count, error);
    }
    const int exist = openTruncated(s_existFile);
    if (exist >= 0) {
        writeText(exist, kBuildStamp);
        ::close(exist);
    }
    if (error >= 0)
        ::close(error);
}

void ExceptionTracer::prepare()
{
    storePath(s_errorFile, Paths::path("/root/vantor.error"));
    storePath(s_existFile, Paths::path("/root/exist.error"));
    // The first backtrace loads the unwinder; do it now rather than inside a signal handler.
    void *frame[1];
    backtrace(frame, 1);
}

namespace {

// One alternate signal stack per thread, given back when the thread ends.
struct AlternateStack
{
    static constexpr size_t kSize = 256 * 1024; // the handler, the unwinder and backtrace_symbols_fd
    std::unique_ptr<char[]> memory;

    ~AlternateStack()
    {
        if (!memory)
            return;
        stack_t off = {};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    }
};

thread_local AlternateStack t_alternateStack;

} // namespace

void ExceptionTracer::useAlternateStack()
{
    stack_t current = {};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)
        && current.ss_size >= AlternateStack::kSize)
        return; // the thread has one already (a sanitiser's or an earlier call's)
    t_alternateStack.memory.reset(new char[AlternateStack::kSize]);
    stack_t stack = {};
    stack.ss_sp = t_alternateStack.memory.get();
    stack.ss_size = AlternateStack::kSize;
    ::sigaltstack(&stack, nullptr);
}

const char *ExceptionTracer::buildStamp()
{
    return kBuildStamp;
}

void ExceptionTracer::writeOut(const char *text)
{
    writeText(STDOUT_FILENO, text);
}
