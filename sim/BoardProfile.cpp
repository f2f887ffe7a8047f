#include "BoardProfile.h"

QStringList BoardProfile::names()
{
    return {QStringLiteral("old"), QStringLiteral("2.3"), QStringLiteral("2.4"),
            QStringLiteral("2.6"), QStringLiteral("2.8"), QStringLiteral("3.1")};
}

bool BoardProfile::fromName(const QString &name, BoardProfile *profile)
{
    const QString n = name.trimmed().toLower();
    if (!names().contains(n))
        return false;
    profile->newDialect = n != QLatin1String("old");
    profile->version = profile->newDialect ? n : QString();
    return true;
}

QString BoardProfile::name() const
{
    return newDialect ? version : QStringLiteral("old");
}

float BoardProfile::versionNumber() const
{
    return newDialect ? version.toFloat() : 0.0f;
}

bool BoardProfile::hasStatusQuery() const
{
    return newDialect && double(versionNumber()) > 2.3;
}

bool BoardProfile::takesMaxAndAcc() const
{
    const float v = versionNumber();
    return newDialect && v > 2.5f && v <= 3.0f;
}

bool BoardProfile::ledPowerInTenths() const
{
    return newDialect && versionNumber() > 2.5f;
}
