#include "BoardProfile.h"

#include "Utilities.h"

#include <QRegularExpression>

QStringList BoardProfile::names()
{
    return {QStringLiteral("old"), QStringLiteral("2.3"), QStringLiteral("2.4"),
            QStringLiteral("2.6"), QStringLiteral("2.8"), QStringLiteral("3.1")};
}

bool BoardProfile::fromName(const QString &name, BoardProfile *profile)
{
    static const QRegularExpression version(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    const QString n = name.trimmed().toLower();
    if (n != QLatin1String("old") && !version.match(n).hasMatch())
        return false;
    profile->newDialect = n != QLatin1String("old");
    profile->version = profile->newDialect ? n : QString();
    return true;
}

QString BoardProfile::name() const
{
    return newDialect ? version : QStringLiteral("old");
}

bool BoardProfile::setOldMoveAnswer(const QString &when)
{
    const QString w = when.trimmed().toLower();
    if (w != QLatin1String("start") && w != QLatin1String("end"))
        return false;
    oldMoveAnswerAtEnd = w == QLatin1String("end");
    return true;
}

float BoardProfile::versionNumber() const
{
    // Read as the program reads the version text, so that the thresholds agree with its own.
    return newDialect ? firmwareVer(version) : 0.0f;
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
