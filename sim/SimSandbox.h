#pragma once
#include <QList>
#include <QString>

// The folder of the simulated instrument (the root prefix of every fixed path), seeded on the
// first start: the configuration file that describes the simulated instrument (its filter cubes,
// objectives with their parfocal positions, camera, focus and stage settings), the operating-system
// identity file, the SSD volume, the video encoder and the end-user agreement text.
// Seeding is idempotent and never overwrites an existing file.
class SimSandbox
{
public:
    struct Setting
    {
        QString section;
        QString key;
        QString value;
    };

    // The content of a new configuration file "/root/Microscope/NIMBO/NIMBO.ini".
    static QList<Setting> defaultSettings();

    // Creates what is missing under Paths::root(); false when something could not be made.
    static bool seed();
};
