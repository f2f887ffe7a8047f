#include "ZStackPositionText.h"

#include "Utilities.h"

#include <cmath>

const QString ZStackPositionText::kUnit = QString::fromUtf8("µm");
const QString ZStackPositionText::kMerged = QStringLiteral("Merged focus");

QString ZStackPositionText::ofFile(const QString &path)
{
    QString meta;
    if (path.isEmpty() || getImageMetaInfo(path.toUtf8().toStdString(), meta) == 0)
        return QString();
    return ofMetaText(meta);
}

QString ZStackPositionText::ofMetaText(const QString &meta)
{
    QString value;
    getMetaInfoValue(meta, QStringLiteral("Z Position"), value);
    return value;
}

float ZStackPositionText::micrometres(QString value)
{
    bool ok = false;
    const float v = value.remove(kUnit).trimmed().toFloat(&ok);
    return ok && std::isfinite(v) ? v : 0.0f;
}

QString ZStackPositionText::span(const QString &first, const QString &last)
{
    return QString::number(double(std::fabs(micrometres(last) - micrometres(first))), 'f', 1);
}

QString ZStackPositionText::text(const QString &position, const QString &span, int number, int count)
{
    if (position.isEmpty())
        return QString("%1 / %2").arg(number).arg(count);
    return QString("%1 / %2 %3  %4 / %5").arg(position, span, kUnit).arg(number).arg(count);
}
