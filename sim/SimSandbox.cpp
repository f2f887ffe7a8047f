#include "SimSandbox.h"

#include "Paths.h"
#include "PrivateProfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool makeFolder(const QString &fixedPath)
{
    const QString path = Paths::path(fixedPath);
    if (QDir().mkpath(path))
        return true;
    qWarning() << "Cannot make" << path;
    return false;
}

// Writes the defaults to a side file and moves it into place only when no configuration file
// exists, so an interrupted seed leaves no half-filled configuration and an existing one is kept.
bool seedConfiguration()
{
    const QString file = Paths::configFile();
    if (QFileInfo::exists(file))
        return true;
    const QString seed = file + ".seed";
    QFile::remove(seed);
    for (const SimSandbox::Setting &setting : SimSandbox::defaultSettings())
        WriteSetting(setting.section.toStdString(), setting.key.toStdString(), setting.value.toStdString(),
                     seed.toStdString());
    if (!NormalizePrivateProfile(seed.toStdString()))
        return false;
    // QFile::rename refuses to replace an existing file.
    if (!QFile::rename(seed, file)) {
        QFile::remove(seed);
        return QFileInfo::exists(file);
    }
    return true;
}

// The instrument's video encoder: the system's ffmpeg where there is one.
bool seedVideoEncoder()
{
    const QString link = Paths::path("/root/Microscope/FFmpeg/ffmpeg");
    const QString system = "/usr/bin/ffmpeg";
    if (QFileInfo(link).exists() || QFileInfo(link).isSymLink() || !QFileInfo::exists(system))
        return true;
    return makeFolder("/root/Microscope/FFmpeg") && QFile::link(system, link);
}

} // namespace

QList<SimSandbox::Setting> SimSandbox::defaultSettings()
{
    return {
        {"LicenseAgreement", "Accepted", "0"},
        {"Setting_Misc", "ShowStartDlg", "1"},
    };
}

bool SimSandbox::seed()
{
    if (Paths::root().isEmpty())
        return false; // on the instrument the paths are the real ones: nothing to seed
    bool ok = makeFolder("/root/Microscope/NIMBO");
    ok = makeFolder("/media/VANTOR SSD") && ok;
    ok = seedConfiguration() && ok;
    ok = seedVideoEncoder() && ok;
    return ok;
}
