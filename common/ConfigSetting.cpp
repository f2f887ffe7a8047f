#include "ConfigSetting.h"

#include "Paths.h"
#include "PrivateProfile.h"

#include <string>

QString readConfigSetting(const char *section, const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, Paths::configFile().toStdString());
    return QString::fromStdString(value);
}
