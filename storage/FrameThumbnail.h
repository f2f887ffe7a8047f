#pragma once
#include <QPixmap>
#include <QRgb>
#include <QSize>
#include <QVector>
#include <opencv2/core/mat.hpp>
#include <vector>

// Thumbnails of the series pages, made from the 8-bit samples already in memory: the frame is
// area-averaged down by halvings, interpolated the last bit to the thumbnail size (aspect ratio
// ignored) and only then coloured through the grey or pseudo-colour table, so a frame costs one
// pass over its samples.
//
// An object makes one thumbnail from bands of rows given in order (a file writer's bands, still
// in cache): each band is halved once as it comes, the quarter-size rest at the end. All of it
// runs on the calling thread: a band or a quarter frame never wakes OpenCV's thread pool.
class FrameThumbnail
{
public:
    // A width x height frame of 8-bit samples (pixelBytes 1) or of 16-bit camera words in memory
    // (pixelBytes 2: the first byte of each word, its 8 most significant bits, is the sample), to
    // a thumbnail of size.
    FrameThumbnail(int width, int height, int pixelBytes, QSize size);
    // Bands are a multiple of this many rows, but the last.
    int rowUnit() const { return m_bHalve ? 2 : 1; }
    // The next rows of the frame from row, bytesPerLine apart; false on rows out of order or an
    // OpenCV error (the thumbnail is then null).
    bool addBand(int row, int rows, const uchar *samples, int bytesPerLine);
    // Once every row was added: the thumbnail through the table (an empty one gives grey); else null.
    QImage image(const QVector<QRgb> &colorTable) const;

    // samples: width x height pixels as above, rows bytesPerLine apart.
    static QImage makeImage(const uchar *samples, int width, int height, int bytesPerLine,
                            const QVector<QRgb> &colorTable, QSize size, int pixelBytes = 1);
    static QPixmap make(const uchar *samples, int width, int height, int bytesPerLine,
                        const QVector<QRgb> &colorTable, QSize size, int pixelBytes = 1);
    // The frame (any depth) halved by OpenCV's vectorised 2 x 2 averaging while both sides stay
    // even and at least twice the size; the frame itself when no halving fits. Throws cv::Exception.
    static cv::Mat halved(const cv::Mat &frame, QSize size);
    // A 16-bit frame (any number of channels) area-averaged down to size: each sample the mean of
    // the input it covers, with INTER_AREA's weights (within one 16-bit step of cv::resize); a
    // size larger on an axis goes to cv::resize. Throws cv::Exception.
    // OpenCV's own code for a ratio that is not whole costs more than all the halvings before it.
    static cv::Mat areaScaled(const cv::Mat &frame, QSize size);
    // How many such halvings a frame of that size takes on the way to size.
    static int halvings(QSize frame, QSize size);
    // A band of a frame (its rows a multiple of 2^halvings, in order) halved as halved does into
    // target, the band's rows of the halved frame; steps keeps the halvings between bands.
    // Throws cv::Exception.
    static void halveBand(const cv::Mat &band, int halvings, cv::Mat &target, std::vector<cv::Mat> &steps);

private:
    int m_nWidth, m_nHeight, m_nPixelBytes;
    QSize m_Size;
    bool m_bHalve = false; // at least one halving
    int m_nRowsDone = 0;   // -1 after a failure
    cv::Mat m_Half;        // the frame after its first halving (the frame's samples without one)
};
