#pragma once
#include "PythonLines.h"
#include "TestRoot.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

// The hostile image files that tests/support/hostile_images.py writes (a corrupt deflate stream,
// 12-bit, signed, white-is-zero, tiled, planar and float samples, a header declaring 100000 x
// 100000 pixels, a FIFO, a 6 MB description; strips in the header or the directory or repaired by
// libtiff, cut and corrupt PNG, JPEG and BMP files, a CMYK JPEG, files that are not what their
// names say, float samples, a small PNG declaring 20000 x 20000 pixels, JPEG files of too many
// scans (one of 20,000 repeated scans) or of scans that code every coefficient again, a PNG
// indexing past its palette or at its size, BMP files whose pixel data begin in their header,
// colour masks or palette or whose palette is absurd, colour masks that are empty, overlap, have
// gaps or are in another order, short BMP palettes indexed at their size, TIFF tags that ask for
// gigabytes of one shared block (one with a description) or for more than an image needs, a strip
// read from the description (also in a BigTIFF), a colour-mapped TIFF without its colour map, TIFF
// tags that stand twice, an unknown critical PNG chunk before or behind the image data, sound TIFF
// files named neither .tif nor .tiff; and sound TIFF, PNG, JPEG and BMP files for comparison, JPEG
// files of 300 scans and of 17 scans or 4 or 14 passes over every coefficient of 8192 x 8192
// pixels, a big-endian BigTIFF, a TIFF whose description ends in two zero bytes and PNG files of
// 140 compressed texts of 7.9 MB among them).
namespace HostileImages {

// What the image readers say of a file: reason is part of the refusal of the shared reader and
// of the tools that read any format, countReason that of the counting tool, which reads TIFF
// only; empty where the file is read.
struct Expected
{
    QString name, reason, countReason;
};

inline QList<Expected> expected()
{
    const QString notTiff = "the count reads TIFF images";
    return {{"good.tif", "", ""},
            {"long-description.tif", "", ""},
            {"deflate-corrupt.tif", "ZIPDecode: Decoding error", "ZIPDecode: Decoding error"},
            {"12bit.tif", "12-bit samples are not supported", "12-bit samples are not supported"},
            {"int16.tif", "signed samples are not supported", "signed samples are not supported"},
            {"miniswhite.tif", "white-is-zero grey images are not supported", "white-is-zero grey images are not supported"},
            {"tiled.tif", "tiled TIFF images are not supported", "tiled TIFF images are not supported"},
            {"planar.tif", "separate colour planes are not supported", "separate colour planes are not supported"},
            {"float.tif", "32-bit samples are not supported", "32-bit samples are not supported"},
            {"huge.tif", "image too large (100000 x 100000)", "image too large (100000 x 100000)"},
            {"fifo.tif", "not a regular file", "not a regular file"},
            {"strip-offset-zero.tif", "strip 0 lies outside the file's data (offset 0", "strip 0 lies outside the file's data (offset 0"},
            {"packbits-overrun.tif", "PackBitsDecode: Discarding 100 bytes to avoid buffer overrun",
             "PackBitsDecode: Discarding 100 bytes to avoid buffer overrun"},
            {"one-pixel-no-data.tif", "strip 0 lies in the file's directory (offset 8)", "strip 0 lies in the file's directory (offset 8)"},
            {"good.png", "", notTiff},
            {"good.jpg", "", notTiff},
            {"good.bmp", "", notTiff},
            {"cut-half.png", "damaged PNG data: the file ends early", notTiff},
            {"cut-half.jpg", "damaged JPEG data: Premature end of JPEG file", notTiff},
            {"cut-half.bmp", "damaged BMP data: the file ends before its last row", notTiff},
            {"corrupt-segment.jpg", "damaged JPEG data: Corrupt JPEG data: premature end of data segment", notTiff},
            {"cut-cmyk.jpg", "CMYK JPEG images are not supported", notTiff},
            {"sun-raster.png", "not a PNG image, as its name says", notTiff},
            {"float.pfm", "not a name of an image read", notTiff},
            {"float-pfm.png", "not a PNG image, as its name says", notTiff},
            {"huge.png", "image too large (20000 x 20000)", notTiff},
            {"scan-bomb.jpg", "damaged JPEG data: ", notTiff},
            {"scans-301.jpg", "JPEG images of more than 300 scans are not supported", notTiff},
            {"recoded-scans.jpg", "damaged JPEG data: scan 3 codes again coefficients already coded", notTiff},
            {"palette-past-end.png", "damaged PNG data: IDAT: Read palette index exceeding num_palette", notTiff},
            {"offset-zero.bmp", "damaged BMP data: the pixel data begin at byte 0, inside the header", notTiff},
            {"offset-14.bmp", "damaged BMP data: the pixel data begin at byte 14, inside the header", notTiff},
            {"offset-palette.bmp", "damaged BMP data: the pixel data begin at byte 54, inside the header", notTiff},
            {"palette-2147483647.bmp", "damaged BMP data: a palette of 2147483647 colours", notTiff},
            {"tags-4m-shared.tif", "its tags ask for 4000000000 bytes of values, more than the file holds",
             "its tags ask for 4000000000 bytes of values, more than the file holds"},
            {"tags-ascii-apart.tif", "its tags ask for 41943040 bytes of values, more than an image read needs",
             "its tags ask for 41943040 bytes of values, more than an image read needs"},
            {"strip-in-description.tif", "strip 0 lies in the value of tag 270 (offset 8)",
             "strip 0 lies in the value of tag 270 (offset 8)"},
            {"nul-ended-description.tif", "", ""},
            {"big-endian-bigtiff.tif", "", ""},
            {"bigtiff-strip-in-description.tif", "strip 0 lies in the value of tag ", "strip 0 lies in the value of tag "},
            {"palette-no-colormap.tif", "a colour-mapped image without its colour map",
             "a colour-mapped image without its colour map"},
            {"twice-samples.tif", "tag 277 stands twice in its directory", "tag 277 stands twice in its directory"},
            {"twice-width.tif", "tag 256 stands twice in its directory", "tag 256 stands twice in its directory"},
            {"critical-after-data.png", "damaged PNG data: CRIT: unhandled critical chunk", notTiff},
            {"critical-before-data.png", "damaged PNG data: CRIT: unhandled critical chunk", notTiff},
            {"sound.gif", "not a name of an image read", notTiff},
            {"sound", "not a name of an image read", notTiff},
            {"tags-1m-shared.tif", "its tags ask for 4194304011 bytes of values, more than the file holds",
             "its tags ask for 4194304011 bytes of values, more than the file holds"},
            {"text-5mb-chunk.png", "", notTiff},
            {"ztxt-bomb.png", "", notTiff},
            {"itxt-bomb.png", "", notTiff},
            {"palette-index-10.png", "damaged PNG data: a pixel indexes colour 10 of a palette of 10", notTiff},
            {"bitfields-offset-masks.bmp", "damaged BMP data: the pixel data begin at byte 58, inside the header and colour masks", notTiff},
            {"bitfields-empty.bmp", "damaged BMP data: an empty colour mask", notTiff},
            {"bitfields-overlap.bmp", "damaged BMP data: overlapping colour masks (0x00ffff00, 0x0000ff00", notTiff},
            {"bitfields-gaps.bmp", "damaged BMP data: a colour mask with gaps (0xff0f0000)", notTiff},
            {"bitfields-rgb-order.bmp",
             "BMP images of 32 bits with colour masks red 0x000000ff, green 0x0000ff00, blue 0x00ff0000 are not supported",
             notTiff},
            {"short-palette-8bit.bmp", "damaged BMP data: a pixel indexes colour 2 of a palette of 2", notTiff},
            {"short-palette-4bit.bmp", "damaged BMP data: a pixel indexes colour 3 of a palette of 3", notTiff}};
}

// Writes them into dir: their names, or one line "python failed: ..." on failure.
inline QStringList write(const QString &dir)
{
    return pythonLines({TestRoot::dataDir() + "/../support/hostile_images.py", dir});
}

// A folder holding them, written once for the whole test program; empty when Python failed.
inline QString folder()
{
    static QTemporaryDir dir;
    static const bool written = !write(dir.path()).join(QString()).contains("python failed");
    return written ? dir.path() : QString();
}

// Runs call here (widgets included); true when it returns within ms. A call still blocked then
// (in open() or read() of the FIFO fifo) is set free by a writer that opens and closes the FIFO,
// and the result is false. Only a hang: give minutes.
inline bool returnsWithin(const std::function<void()> &call, const QString &fifo, int ms)
{
    std::mutex lock;
    std::condition_variable changed;
    bool done = false, freed = false;
    std::thread watch([&] {
        std::unique_lock<std::mutex> hold(lock);
        if (changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return done; }))
            return;
        freed = true;
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    });
    call();
    {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
    }
    changed.notify_all();
    watch.join();
    return !freed;
}

} // namespace HostileImages
