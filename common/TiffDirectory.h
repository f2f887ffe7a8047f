#pragma once
#include <QString>
#include <QtGlobal>
#include <vector>

// The first directory of a TIFF file as it lies in the file, read before libtiff reads it: where
// the directory and each tag's value lie. libtiff loads the value of every tag it meets, unknown
// ones too, so a small file whose tags all point at one block would make it allocate gigabytes;
// fault() refuses such a file before libtiff opens it, as it refuses what libtiff would read
// silently as something else, and lies() keeps a strip from being read out of the directory or a
// tag's value.
class TiffDirectory
{
public:
    // Bytes the values of one directory may take in all: a description of several MB and the
    // strip arrays of an image of millions of rows fit, and libtiff's copies of them stay small.
    static constexpr quint64 MaxValueBytes = 32ull * 1024 * 1024;

    // Reads the header and the first directory of the file of fileSize bytes open at fd; false
    // when there is none that libtiff would read (it then says why itself).
    bool read(int fd, quint64 fileSize);
    // Why the directory read must not be loaded: its values together take more bytes than the
    // file holds (tags share or overrun their bytes) or than MaxValueBytes; a tag stands in it
    // twice, but for two texts (libtiff keeps one of the two unsaid); or a colour-mapped image has
    // no colour map (libtiff reads its indexes as grey). Empty otherwise.
    QString fault() const;
    // Where the size bytes at offset meet the directory or a tag's value: "the file's directory"
    // or "the value of tag N"; empty when they meet neither.
    QString lies(quint64 offset, quint64 size) const;

    // Reads size bytes at offset of fd, on through short reads; false on an error or the end.
    static bool readAt(int fd, quint64 offset, void *data, quint64 size);

private:
    struct Value
    {
        quint64 begin, end;
        quint16 tag;
    };

    quint64 m_fileSize = 0;
    quint64 m_directory = 0, m_directoryEnd = 0;
    quint64 m_valueBytes = 0; // all values outside their entries, saturated at ~0
    int m_twice = -1;          // a tag that stands twice in the directory
    bool m_palette = false, m_colourMap = false;
    std::vector<Value> m_values; // sorted by begin
    std::vector<size_t> m_reach;  // m_reach[i]: the value of m_values[0..i] that ends last
};
