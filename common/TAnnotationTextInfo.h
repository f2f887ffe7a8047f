#pragma once
#include <QColor>
#include <QString>

// The annotation text item of an image view, as the browsers send it to their pages.
struct TAnnotationTextInfo
{
    bool visible = false;
    int pointSize = 10;
    QColor color = QColor(255, 255, 0);
    float x = 1000.0f; // position on the image, in the view's scene coordinates
    float y = 900.0f;
    QString text;
};
