#pragma once
#include <QString>

// One key of the configuration file "/root/Microscope/NIMBO/NIMBO.ini" as text; def when the
// key is missing or empty.
QString readConfigSetting(const char *section, const char *key, const char *def);
