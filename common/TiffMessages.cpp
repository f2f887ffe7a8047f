#include "TiffMessages.h"

#include <cstdarg>
#include <cstdio>

namespace {

QString text(const char *module, const char *fmt, va_list ap)
{
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    return QString::fromLocal8Bit(module ? module : "libtiff") + QLatin1String(": ") + QString::fromLocal8Bit(text);
}

} // namespace

TiffMessages::TiffMessages(quint64 maxAllocation) : m_options(TIFFOpenOptionsAlloc())
{
    TIFFOpenOptionsSetErrorHandlerExtR(m_options, &TiffMessages::onError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(m_options, &TiffMessages::onWarning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(m_options, tmsize_t(maxAllocation));
}

TiffMessages::~TiffMessages()
{
    TIFFOpenOptionsFree(m_options);
}

int TiffMessages::onError(TIFF *, void *self, const char *module, const char *fmt, va_list ap)
{
    auto *m = static_cast<TiffMessages *>(self);
    if (!m->errors.isEmpty())
        m->errors += QLatin1String("; ");
    m->errors += text(module, fmt, ap);
    return 1;
}

int TiffMessages::onWarning(TIFF *, void *self, const char *module, const char *fmt, va_list ap)
{
    static_cast<TiffMessages *>(self)->warnings << text(module, fmt, ap);
    return 1;
}

bool TiffMessages::harmless(const QString &warning, bool uncompressed)
{
    static const char *const remarks[] = {"Unknown field with tag", "tags are not sorted in ascending order",
                                          "does not end in null byte", "contains null byte in value"};
    for (const char *remark : remarks)
        if (warning.contains(QLatin1String(remark)))
            return true;
    return uncompressed && warning.contains(QLatin1String("StripByteCounts"))
           && warning.contains(QLatin1String("calculating from imagelength"));
}

QString TiffMessages::damage(bool uncompressed) const
{
    QStringList found;
    if (!errors.isEmpty())
        found << errors;
    for (const QString &warning : warnings)
        if (!harmless(warning, uncompressed))
            found << warning;
    return found.join(QLatin1String("; "));
}
