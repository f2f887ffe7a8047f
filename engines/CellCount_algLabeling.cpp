// Connected-component labelling with an area gate: a raster scan that fills each new component
// depth-first on an explicit coordinate stack (no recursion, so no component can exhaust it).
#include "CellCount_alg.h"

#include <cstdint>

namespace {

constexpr short kNoLeft = 9999; // what the caller presets in the left and top tables

// Box coordinates are 16-bit.
bool labellable(const unsigned char *mask, const int *labels, int width, int height)
{
    return mask && labels && width > 0 && height > 0 && width <= INT16_MAX && height <= INT16_MAX;
}

} // namespace

int CellCount_alg::IndexStack(int *columnStack, int *rowStack, int *poppedColumn, int *poppedRow, int column,
                              int row, bool push, bool pop, int depth)
{
    if (push) {
        columnStack[depth] = column;
        rowStack[depth] = row;
        ++depth;
    }
    if (pop) {
        --depth;
        *poppedColumn = columnStack[depth];
        *poppedRow = rowStack[depth];
        columnStack[depth] = 0;
        rowStack[depth] = 0;
    }
    return depth;
}

void CellCount_alg::ProgressDeleteLabel(const unsigned char *mask, int *labels, int label, int left, int top,
                                        int right, int bottom, int width)
{
    for (int y = top; y <= bottom; ++y) {
        const size_t row = size_t(y) * size_t(width);
        for (int x = left; x <= right; ++x)
            if (mask[row + x] == 255 && labels[row + x] == label)
                labels[row + x] = -1;
    }
}

// Every pixel is labelled as it is pushed, so each enters the stack once and the stack never holds
// more than the component. A pixel stays on the stack until its neighbourhood has been examined:
// a fill that let a revisited pixel go before finishing its neighbourhood would leave part of the
// component for a second label.
template <bool EightConnected>
void CellCount_alg::fill(const unsigned char *mask, int *labels, int width, int height, int seedColumn,
                         int seedRow, int label, int *columnStack, int *rowStack, int *lastColumn, int *lastRow,
                         int depth, short *left, short *top, short *right, short *bottom, int *area)
{
    int minX = left[label], minY = top[label], maxX = right[label], maxY = bottom[label], count = area[label];
    const int base = depth;
    auto take = [&](int x, int y) {
        labels[size_t(y) * width + x] = label;
        ++count;
        minX = x < minX ? x : minX;
        maxX = x > maxX ? x : maxX;
        minY = y < minY ? y : minY;
        maxY = y > maxY ? y : maxY;
        depth = IndexStack(columnStack, rowStack, nullptr, nullptr, x, y, true, false, depth);
    };
    auto visit = [&](int x, int y) {
        const size_t at = size_t(y) * width + x;
        if (mask[at] && labels[at] == 0)
            take(x, y);
    };
    take(seedColumn, seedRow);
    int x = seedColumn, y = seedRow;
    while (depth > base) {
        depth = IndexStack(columnStack, rowStack, &x, &y, 0, 0, false, true, depth);
        const bool inside = x > 0 && y > 0 && x < width - 1 && y < height - 1;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if ((dx == 0 && dy == 0) || (!EightConnected && dx != 0 && dy != 0))
                    continue;
                if (inside || (x + dx >= 0 && y + dy >= 0 && x + dx < width && y + dy < height))
                    visit(x + dx, y + dy);
            }
        }
    }
    *lastColumn = x;
    *lastRow = y;
    left[label] = short(minX);
    top[label] = short(minY);
    right[label] = short(maxX);
    bottom[label] = short(maxY);
    area[label] = count;
}

void CellCount_alg::NormalGrassfire_ver_2(const unsigned char *mask, int *labels, int width, int height,
                                          int seedColumn, int seedRow, int label, int *columnStack, int *rowStack,
                                          int *lastColumn, int *lastRow, int depth, short *left, short *top,
                                          short *right, short *bottom, int *area, bool eightConnected)
{
    if (eightConnected)
        fill<true>(mask, labels, width, height, seedColumn, seedRow, label, columnStack, rowStack, lastColumn,
                   lastRow, depth, left, top, right, bottom, area);
    else
        fill<false>(mask, labels, width, height, seedColumn, seedRow, label, columnStack, rowStack, lastColumn,
                    lastRow, depth, left, top, right, bottom, area);
}

template <bool EightConnected>
int CellCount_alg::label(const unsigned char *mask, int *labels, int width, int height, int minArea, int maxArea,
                         int labelLimit, int keepAtMost, short *left, short *top, short *right, short *bottom,
                         int *area, bool *tooMany)
{
    if (tooMany)
        *tooMany = false;
    if (minArea <= 0 || maxArea <= 0 || minArea > maxArea || !labellable(mask, labels, width, height))
        return 0;
    const size_t pixels = size_t(width) * size_t(height);
    if (m_ColumnStack.size() < pixels) {
        m_ColumnStack.assign(pixels, 0);
        m_RowStack.assign(pixels, 0);
    }
    int count = 0, lastColumn = 0, lastRow = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char *maskRow = mask + size_t(y) * width;
        const int *labelRow = labels + size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            if (!maskRow[x] || labelRow[x] != 0)
                continue;
            const int l = count + 1;
            fill<EightConnected>(mask, labels, width, height, x, y, l, m_ColumnStack.data(), m_RowStack.data(),
                                 &lastColumn, &lastRow, 0, left, top, right, bottom, area);
            if (area[l] < minArea || area[l] > maxArea) {
                ProgressDeleteLabel(mask, labels, l, left[l], top[l], right[l], bottom[l], width);
                left[l] = top[l] = kNoLeft;
                right[l] = bottom[l] = 0;
                area[l] = 0;
            } else {
                count = l;
            }
            if (keepAtMost > 0 && count >= keepAtMost)
                return count;
            if (count >= labelLimit) {
                if (tooMany)
                    *tooMany = true;
                return 0;
            }
        }
    }
    return count;
}

int CellCount_alg::NormalLabeling_ver_2(const unsigned char *mask, int *labels, int width, int height, int minArea,
                                        int maxArea, int labelLimit, short *left, short *top, short *right,
                                        short *bottom, int *area, bool eightConnected, bool *tooMany)
{
    return eightConnected ? label<true>(mask, labels, width, height, minArea, maxArea, labelLimit, 0, left, top,
                                        right, bottom, area, tooMany)
                          : label<false>(mask, labels, width, height, minArea, maxArea, labelLimit, 0, left, top,
                                         right, bottom, area, tooMany);
}

int CellCount_alg::NormalLabeling_ver_2(const unsigned char *mask, int *labels, int width, int height, int minArea,
                                        int maxArea, short *left, short *top, short *right, short *bottom, int *area,
                                        bool *tooMany, int keepAtMost)
{
    return label<true>(mask, labels, width, height, minArea, maxArea, kLabelLimit, keepAtMost, left, top, right,
                       bottom, area, tooMany);
}
