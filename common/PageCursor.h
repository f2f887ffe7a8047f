#pragma once
#include <Qt>

// The application's one override cursor while a page works: busy() shows the busy (or wait)
// cursor, changing the current override rather than stacking another; normal() takes every
// override away so the plain arrow shows again.
class PageCursor
{
public:
    static void busy(Qt::CursorShape shape = Qt::BusyCursor);
    static void normal();
};
