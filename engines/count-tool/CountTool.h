#pragma once
#include "CellCountDefaults.h"
#include "protocol_t.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <vector>

// The counting tool: counts one TIFF as the cell-count page would and prints the cells.
//
//   vantor-count [--engine NAME] [--magnification M] [--protocol FILE] IMAGE.tif
//
// Engines: "pipeline" (the own counter, default) and the second engine's object finders "finder4",
// "finder3" (its colour-tag variant, the frame given as a colour frame) and "finder2" (without the
// centre-disc test), which count with the page's fall-back settings; --protocol sets the pipeline.
// Standard output: "x,y,diameter_um,live" and one row per counted cell; standard error: one line
// "total=N live=L dead=D viability=V concentration=C", only once the cells are written. A refused
// input prints its reason on standard error and gives status 2; cells that cannot be written,
// status 1.
class CountTool
{
public:
    static constexpr int kRefusedStatus = 2;

    // What a count takes from the user's counting protocol; the members start at the fall-backs.
    struct Protocol
    {
        int mustDetectIntensity = CellCountDefaults::kMustDetectIntensity;
        float roundness = CellCountDefaults::kRoundness;
        int minSizeUm = CellCountDefaults::kMinCellSizeUm;
        int maxSizeUm = CellCountDefaults::kMaxCellSizeUm;
        int dilutionFactor = CellCountDefaults::kDilutionFactor;
        protocol_t secondEngine = finderFallBacks(); // the second engine's settings, read from the same file
    };

    // The second engine's levels when no protocol file is given: the cell-count page's fall-backs.
    static protocol_t finderFallBacks();

    struct Cell
    {
        int x, y;
        float diameterUm;
        bool live;
    };

    struct Result
    {
        int total = 0, live = 0, dead = 0;
        float viability = 0.0f;
        double concentration = 0.0; // live plus dead, cells per mL
        std::vector<Cell> cells;
    };

    // Reads the protocol file with the cell-count page's readers (CountToolProtocol). False (with
    // why) when the file cannot be read.
    static bool readProtocol(const QString &path, Protocol &protocol, QString *why);

    // Counts an 8-bit frame with the own counter as the cell-count page does (zeroed records and
    // labels, fixed detection values, the protocol's values, the tag step, concentration and
    // viability), for the given objective magnification. Returns the counter's result: the blob
    // count, or CellCount_alg's kTooManyBlobs or kRefused.
    static int countPipeline(const unsigned char *grey, int width, int height, const Protocol &protocol,
                             float objectiveMagnification, Result &result);

    static bool isFinder(const QString &engine);
    // Counts an 8-bit frame with a finder of the second engine as the cell-count page does (mode 5
    // or, for finder3, mode 4; size calibration 1.0 and 0.0, circle thickness 2, the page's values
    // for its fixed values, the protocol's levels). The cells are the records the tally counted. Returns
    // the engine's result: seconds, or -1.0 when it found nothing, which leaves zero counts and no cells.
    static double countFinder(const QString &engine, const unsigned char *grey, int width, int height,
                              float objectiveMagnification, const protocol_t &levels, Result &result);

    // Writes the cells on out, "x,y,diameter_um,live" and a row each, and flushes them; false
    // (said on err) when they cannot be written. The summary line follows only a true answer.
    static bool writeCells(const std::vector<Cell> &cells, FILE *out, FILE *err);

    // The whole tool: arguments without the program name, as given (file names need not be
    // UTF-8); returns the exit status. With --protocol, the values the count took from elsewhere
    // than the file are said on err before the cells (CountToolProtocol::notes).
    static int run(const QList<QByteArray> &arguments, FILE *out, FILE *err);
};
