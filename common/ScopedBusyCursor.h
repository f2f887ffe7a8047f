#pragma once
#include <QApplication>

// The busy cursor for the length of a scope (a copy, a saving run), stacked over any other and
// restored on every way out.
class ScopedBusyCursor
{
public:
    ScopedBusyCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~ScopedBusyCursor() { QApplication::restoreOverrideCursor(); }
    ScopedBusyCursor(const ScopedBusyCursor &) = delete;
    ScopedBusyCursor &operator=(const ScopedBusyCursor &) = delete;
};
