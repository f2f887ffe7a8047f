#pragma once
#include <QImage>
#include <QPixmap>
#include <QString>

// One image of a series, kept in vectors by the acquisition pages and passed to their browsers.
struct ThumbnailInfo
{
    QPixmap thumbnail;
    int number = 0;
    int kind = 0;       // the cell count's image: 1 a manual capture, 0 a counted image
    float value = 0.0f; // the growth monitor's confluency in percent
    int count = 0;      // the growth monitor's object count
    int threshold = 0;  // the growth monitor's threshold
    QString path;       // the saved image, or the growth monitor's result base path
    QString sourcePath; // the growth monitor's source image
    // A cell count's tagged image and counted frame as its work files hold them, shown without
    // reading the files (which are written after the count).
    QImage image, frameImage;
};
