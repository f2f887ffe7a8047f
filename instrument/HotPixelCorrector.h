#pragma once
#include <QString>
#include <opencv2/core.hpp>

#include <vector>

// The camera's hot pixels: sensor pixels that read bright in the dark. The list is found in a
// dark 8-bit frame, kept in the file "/root/Microscope/NIMBO/hot_pixels.csv" (one "x,y" line per
// pixel in list order, no header) and used to correct 8-bit still frames: each listed pixel is
// replaced by the median of its 3 x 3 neighbourhood. Coordinates are those of the upright still.
class HotPixelCorrector
{
public:
    // The list file under the path prefix.
    static QString listFile();

    const std::vector<cv::Point> &pixels() const { return m_pixels; }
    int count() const { return int(m_pixels.size()); }
    void setPixels(std::vector<cv::Point> pixels) { m_pixels = std::move(pixels); }

    // Replaces the list by the pixels of an 8-bit frame strictly above threshold, in raster order.
    void find(const cv::Mat &frame8, int threshold);
    // Writes the list to path (truncating it), every line flushed, then syncs the file systems.
    // False (file untouched) when it cannot be opened, or when a write fails.
    bool save(const QString &path) const;
    // Replaces the list by the file's lines; a missing or unreadable file gives an empty list.
    // Empty lines are skipped; so are lines outside the format (no comma, nothing after it).
    void load(const QString &path);

    // The calibration's result: the list from a dark 8-bit frame at "Camera"/"Threshold" (default
    // 60), written to listFile(). The new list is kept even when the file cannot be written
    // (false then). In the serial-logging start modes the dark frame is also written to
    // "/media/VANTOR SSD/HotPixel/" in the background.
    bool findAndSave(const cv::Mat &dark8);

    // Corrects an 8-bit frame in place, in list order (pixels corrected earlier count with their
    // new values). Pixels on the outermost rows and columns, or outside the frame, are skipped.
    void correct(cv::Mat &frame8) const;

private:
    std::vector<cv::Point> m_pixels;
};
