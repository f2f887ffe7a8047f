#pragma once
#include "KeyRanges.h"
#include "Paths.h"
#include "PrivateProfile.h"

#include <QString>

// The text a key of the configuration file holds as stored, without the key table's default or
// range: empty when the key is missing or empty.
inline QString storedSetting(const char *section, const char *key)
{
    static const KeyRanges none({});
    std::vector<PrivateProfileEntry> entries{{section, key, ""}};
    ReadPrivateProfileBatch(entries, Paths::configFile().toStdString(), &none);
    return QString::fromStdString(entries.front().value);
}
