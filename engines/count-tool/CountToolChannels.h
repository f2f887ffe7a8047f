#pragma once
#include "CountTool.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <vector>

class ImReaderWriter;

// The counting tool's three-channel engines, for an 8-bit RGB TIFF: the red plane is the red
// stain (channel 3), the green plane the green stain (channel 2), the blue plane the transmitted
// light (channels 1 and 5). Each plane is handed to a mode-1 engine, whose overlay mask is built
// with automatic levels and no shift.
//
//   "twocolour": the live/dead two-colour count (3 to 60 um, cluster factor 1.5, green and red
//                thresholds 20, clumps split with tolerance 50); the rows are its live and dead cells.
//   "quick":     the quick count of the green plane; no rows, and the summary leaves live, dead and
//                viability empty.
class CountToolChannels
{
public:
    using Cell = CountTool::Cell;
    struct Result
    {
        bool found = false; // false: the engine found nothing
        int total = 0, live = 0, dead = 0;
        float viability = 0.0f;
        double concentration = 0.0;
        std::vector<Cell> cells;
    };

    static bool isEngine(const QString &engine);
    // Counts an interleaved 8-bit RGB frame.
    static Result count(const QString &engine, const unsigned char *rgb, int width, int height,
                        float objectiveMagnification);
    // Checks the image, counts and prints as the tool does, the notes on err before the cells;
    // returns the exit status.
    static int run(const QString &engine, const ImReaderWriter &reader, const QString &image,
                   float objectiveMagnification, const QStringList &notes, FILE *out, FILE *err);
};
