#pragma once
#include <QByteArray>

#include <cstdio>
#include <unistd.h>

// The path an open descriptor names, as /proc/self/fd tells it; empty when it cannot be read.
// Safe inside a stand-in for a system call: it writes nothing.
inline QByteArray pathOfFd(int fd)
{
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    return n > 0 ? QByteArray(path, int(n)) : QByteArray();
}
