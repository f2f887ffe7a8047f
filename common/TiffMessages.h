#pragma once
#include <QString>
#include <QStringList>
#include <tiffio.h>

// libtiff's messages of one open file, collected through its per-file handlers and never
// printed, so that several threads may read and write files at the same time; options() carries
// the handlers and the largest single allocation libtiff may make for the file to
// TIFFClientOpenExt or TIFFFdOpenExt.
class TiffMessages
{
public:
    explicit TiffMessages(quint64 maxAllocation);
    ~TiffMessages();
    TiffMessages(const TiffMessages &) = delete;
    TiffMessages &operator=(const TiffMessages &) = delete;

    TIFFOpenOptions *options() const { return m_options; }

    // Whether a warning leaves the samples as the file holds them: a remark on the directory (an
    // unknown tag, tags out of order, a text without its closing zero or cut at a zero inside
    // it) or a byte count libtiff computes exactly from the geometry (uncompressed strips). Any
    // other warning says that data was skipped, repaired or assumed.
    static bool harmless(const QString &warning, bool uncompressed);
    // The errors and the warnings that mark the file as damaged; empty when there are none.
    QString damage(bool uncompressed) const;

    QString errors;
    QStringList warnings;

private:
    static int onError(TIFF *, void *self, const char *module, const char *fmt, va_list ap);
    static int onWarning(TIFF *, void *self, const char *module, const char *fmt, va_list ap);

    TIFFOpenOptions *m_options;
};
