#pragma once
#include "TAnnotationTextInfo.h"
#include "TSScaleBar.h"

#include <QPointF>
#include <QRect>
#include <QString>

class QPainter;

// Burns the scale bar and an annotation line into a copy of a saved 1280 x 1024 frame, and turns a
// grey frame into one colour ramp. Frames are 8-bit grey, 16-bit grey in the camera layout, 24-bit
// or 48-bit RGB; the frame's depth follows from its byte count. The save dialog fills the public
// settings before each call; tests and benchmarks use the class without a dialog.
//
// Marks are painted in the frame's own colours: on grey frames every marked pixel becomes 255 (the
// native 16-bit word 255, which the TIFF writer turns into 4080), on colour frames the bar or text
// colour (black is written as rgb(0, 0, 2)). Only the area holding the marks is painted and scanned.
class SaveImageComposer
{
public:
    static constexpr int Width = 1280;
    static constexpr int Height = 1024;
    static constexpr int Pixels = Width * Height;

    // The byte count of a frame of bits per sample, grey or RGB.
    static int frameBytes(int bits, bool colour);
    // Plain intensities (as a 16-bit TIFF holds them) back to the camera layout: each word rotated
    // right by four bits, so that the TIFF writer's rotation gives the same intensities again.
    static void toCameraLayout(quint16 *words, int count);

    TSScaleBar scaleBar;          // show, lengthUm, lengthPixels, color, lineWidth, fontSize, noObjective
    QPointF scaleBarPoint;        // where the bar starts, in image pixels
    bool barAllowed = false;      // the save option is one that carries a scale bar
    TAnnotationTextInfo annotation; // visible, pointSize, color and position (x, y); its text is not drawn
    QString annotationLine;       // the text drawn
    int pseudoColorIndex = 7;     // 0 red, 1 green, 2 blue, 3 yellow, 4 cyan, 7 gray; others gray
    bool colorImage = false;      // every pseudo colour is gray

    bool drawsBar() const;
    bool drawsText() const;

    // Copies byteCount bytes of source to destination (distinct buffers) and burns in the bar and
    // the annotation line. A byte count that is no frame size is copied without marks.
    void drawScaleBar(const void *source, bool colour, int byteCount, void *destination) const;
    // An RGB frame (byteCount 3,932,160 for 8 bits, 7,864,320 for 16) of the grey frame source, with
    // the same bits per sample and each word copied as it is.
    void makePseudoColorImage(const void *source, int byteCount, unsigned char *destination) const;
    // Burns the marks into a frame of byteCount bytes in place.
    void burnIn(void *frame, bool colour, int byteCount) const;
    // One frame of a z-stack or time-lapse series: the grey work frame of bits per sample into
    // target as grey, or in pseudo colour, with the marks burnt in (target holds frameBytes(bits,
    // pseudo) bytes).
    void composeSeriesFrame(const void *grey, int bits, bool pseudo, void *target) const;

private:
    QRect markArea() const;
    void paintMarks(QPainter &painter) const;
};
