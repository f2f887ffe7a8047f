#pragma once
#include "MainDeclusterCountInfo_NimboS.h"

#include <opencv2/core.hpp>
#include <vector>

// The program's own brightfield cell counter and its building blocks. Conventions: per-label and
// per-cell arrays are indexed from 1 (entry 0 belongs to nothing); label images hold one int32 per
// pixel (0 unvisited, -1 dropped, L >= 1 a label); masks hold 0 and 255. Results come back as
// return values and out-pointers; nothing here throws on bad input.
//
// One object serves one call at a time: the labelling keeps its coordinate stacks between calls.
class CellCount_alg
{
public:
    // The labelling gives up (no labels at all) once this many labels are counted; per-label
    // tables therefore need kLabelLimit + 1 entries.
    static constexpr int kLabelLimit = 9999;
    // Results of CellCounting_NimboS besides the blob count.
    static constexpr int kTooManyBlobs = -1; // the frame holds kLabelLimit blobs or more
    static constexpr int kRefused = -2;      // bad arguments or an OpenCV or memory failure

    // The own counter: one 8-bit frame (width x height, rows packed) into blobs, each split into
    // cells that are measured, gated and judged live or dead in records[1..N]. thresholdOut
    // (width x height) receives the whole-frame threshold, tagOut (width x height x 3) the frame
    // as three equal channels, labels (width x height int32, zeroed by the caller) the blob labels,
    // records (zeroed by the caller, one per blob label) the results. Returns N, 0 when the frame
    // stage finds nothing to count (thresholdOut and tagOut written, labels and records not),
    // kTooManyBlobs (likewise) or kRefused, which leaves every output untouched.
    int CellCounting_NimboS(const unsigned char *grey, unsigned char *thresholdOut, unsigned char *tagOut,
                            int *labels, int width, int height, _MainDeclusterCountInfo_NimboS *records,
                            int outsideMinSize, int outsideMaxSize, int outsideThresholdOffset,
                            int outsideKernelSize, double outsideGain, int insideMinSize, int insideMaxSize,
                            int insideThresholdOffset, int mustDetectIntensity, int nrKernelSize,
                            int postMinIntensity, int postMaxIntensity, float roundness, int minCellSize,
                            int maxCellSize, double declusterTolerance, int clusterDistance, float intensityRatio,
                            float centerRange, float wholeRange, int liveMinIntensity);

    // Counts the valid cells of records[1..n] into total, live and dead and circles each on the
    // three-channel tag image (width x height, rows packed): green (0, 200, 0) live, (200, 0, 0)
    // dead, in the buffer's channel order; with numbers, each circle is numbered 1, 2, ...
    static void ProcessTag_Filtering_NimboS(unsigned char *tag, const _MainDeclusterCountInfo_NimboS *records,
                                            int width, int height, int n, int *total, int *live, int *dead,
                                            bool numbers);

    // Marker pixels of the declustering's distance image: 255 where the 8-bit distance p is not
    // 0, above peakFloor, and no larger than any value at row offsets -ry..ry-1 and column offsets
    // -rx..rx (all of them with ry 0), else 0.
    static cv::Mat DistancePeaks(const cv::Mat &distance, int peakFloor, int rx, int ry);
    // Clears the markers within d pixels (both directions) of a spot pixel, then scans the
    // markers row after row, clearing each that still has another within d: of two close
    // markers the later one stays. Nothing happens for d <= 0.
    static void SuppressMarkers(cv::Mat &markers, const cv::Mat &spots, int d);

    // Count statistics over the blob records 1..n.
    // Cells per millilitre: count / volume x factor; 0 when the volume is not a positive number.
    static float getConcentration(int count, float factor, float volume);
    // Percent live; 0 when there is no cell.
    static float getViability(int live, int dead);
    // Mean long axis of the counted cells, in pixels; each size adds its integer part.
    static float getAvgCellSize(int n, const _MainDeclusterCountInfo_NimboS *records);
    // Adds the counted cells to the live and dead size histograms (index = integer part of the
    // long axis; sizes outside 0..bins-1 are not counted) and each blob holding a counted cell
    // to the cluster histogram at its cell number (bins - 1 and more in the last bin).
    static void getHistogram(int n, const _MainDeclusterCountInfo_NimboS *records, int *liveHistogram,
                             int *deadHistogram, int *clusterHistogram, int bins);

    // Maximum-entropy grey threshold of an unpadded 8-bit image, never below its mean grey level
    // plus offset; limited to 0..255. An image without pixels gives 0.
    int Get_MaxEntropy_Threshold(const unsigned char *image, int width, int height, int offset);
    // dst = 255 where src >= min(threshold, 255), else 0. Returns 2 for a threshold below 1, no
    // rows or fewer than 4 foreground pixels, 1 for fewer than 4 background pixels, else 0.
    int ProcessBinary(const unsigned char *src, unsigned char *dst, int width, int height, int stride,
                      int threshold);

    // Connected components of the non-zero mask pixels, numbered 1.. in the raster order of their
    // first pixel, with their boxes and areas in the per-label tables (the caller sets left and
    // top to 9999, right, bottom and area to 0). A component whose area lies outside
    // minArea..maxArea is written -1 in the label image, its table entries are reset and its number
    // goes to the next component. Returns the label count; 0 for bad area limits, and 0 with
    // *tooMany set once labelLimit labels are reached.
    int NormalLabeling_ver_2(const unsigned char *mask, int *labels, int width, int height, int minArea,
                             int maxArea, int labelLimit, short *left, short *top, short *right, short *bottom,
                             int *area, bool eightConnected, bool *tooMany = nullptr);
    // The form the counter uses: 8-connected, limit kLabelLimit. With keepAtMost > 0 the labelling
    // stops once it holds that many labels and keeps them, further components staying 0: for
    // tables of keepAtMost + 1 entries (a blob's cells).
    int NormalLabeling_ver_2(const unsigned char *mask, int *labels, int width, int height, int minArea,
                             int maxArea, short *left, short *top, short *right, short *bottom, int *area,
                             bool *tooMany = nullptr, int keepAtMost = 0);
    // Labels the component of the seed, which must be a non-zero, unvisited mask pixel, using the
    // stacks from depth on (each as large as the image); the last popped pixel comes back through
    // lastColumn and lastRow.
    void NormalGrassfire_ver_2(const unsigned char *mask, int *labels, int width, int height, int seedColumn,
                               int seedRow, int label, int *columnStack, int *rowStack, int *lastColumn,
                               int *lastRow, int depth, short *left, short *top, short *right, short *bottom,
                               int *area, bool eightConnected);
    // Push (column, row) and/or pop into the out-parameters (the popped entries are cleared);
    // returns the new depth.
    int IndexStack(int *columnStack, int *rowStack, int *poppedColumn, int *poppedRow, int column, int row,
                   bool push, bool pop, int depth);
    // Writes -1 over the pixels of label inside its box whose mask value is 255.
    void ProgressDeleteLabel(const unsigned char *mask, int *labels, int label, int left, int top, int right,
                             int bottom, int width);

    // Long and short axis (sides of the fitted ellipse's box, or of the minimum-area rectangle,
    // plus 1) of the largest outline of an 8-bit mask, and that box clipped to the mask. A mask
    // without outline, or one OpenCV refuses, gives 0 and 0 and leaves the box untouched.
    void NimboS_Declustering_Partial_LongShort(const cv::Mat &mask, float *longAxis, float *shortAxis, int *left,
                                               int *top, int *right, int *bottom, bool fitEllipse);
    void NimboS_Declustering_Partial_LongShort(const cv::Mat &mask, float *longAxis, float *shortAxis, int *left,
                                               int *top, int *right, int *bottom);

    // Live/dead test of one cell: the mean grey of its mask pixels in a central box against the
    // scaled mean in a larger box, both centred on (centerX, centerY), sized as fractions of the
    // cell box and clipped to the images. Returns -1 when the scaled mean lies outside
    // minIntensity..maxIntensity (not a cell), 1 live, 0 dead.
    int NimboS_Decluster_is_Live(const cv::Mat &grey, const cv::Mat &mask, int left, int right, int top,
                                 int bottom, int centerX, int centerY, int minIntensity, int maxIntensity,
                                 int liveMinIntensity, float intensityRatio, float centerRange, float wholeRange);

private:
    struct CountParameters;
    void countBlob(int i, const CountParameters &p, const cv::Mat &smoothed, const cv::Mat &threshold,
                   const int *labels, int width, int height, _MainDeclusterCountInfo_NimboS &record);
    // Measures and gates cell j; false when it is rejected before its entries are written.
    bool measureCell(int j, const cv::Mat &cellMask, int area, bool singleCell, const CountParameters &p,
                     const cv::Mat &framedSmoothed, int x0, int y0, int x1, int y1,
                     _MainDeclusterCountInfo_NimboS &record);

    template <bool EightConnected>
    int label(const unsigned char *mask, int *labels, int width, int height, int minArea, int maxArea,
              int labelLimit, int keepAtMost, short *left, short *top, short *right, short *bottom, int *area,
              bool *tooMany);
    template <bool EightConnected>
    void fill(const unsigned char *mask, int *labels, int width, int height, int seedColumn, int seedRow,
              int label, int *columnStack, int *rowStack, int *lastColumn, int *lastRow, int depth, short *left,
              short *top, short *right, short *bottom, int *area);

    // Boxes and areas of the whole-frame blobs, by label.
    int16_t m_BlobMinX[kLabelLimit + 1];
    int16_t m_BlobMinY[kLabelLimit + 1];
    int16_t m_BlobMaxX[kLabelLimit + 1];
    int16_t m_BlobMaxY[kLabelLimit + 1];
    int32_t m_BlobArea[kLabelLimit + 1];

    std::vector<int> m_ColumnStack;
    std::vector<int> m_RowStack;
};

// value rounded to the given number of decimals, halves upward (also for negative values).
double CustomRound(double value, int decimals);
// Bytes of a 4-byte-aligned row of 8-bit grey (grey true) or 24-bit colour pixels.
int ImageWidthArrange(int width, bool grey);
