#include "PageCursor.h"

#include <QGuiApplication>

void PageCursor::busy()
{
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
}

void PageCursor::normal()
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}
