#include "SimSandbox.h"

#include "Paths.h"
#include "PrivateProfile.h"
#include "SampleRenderer.h"
#include "VirtualInstrument.h"

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

// Writes the settings to a side file and moves it into place only when the file does not exist,
// so an interrupted seed leaves no half-filled file and an existing one is kept.
bool seedIniFile(const QString &file, const QList<SimSandbox::Setting> &settings)
{
    if (QFileInfo::exists(file))
        return true;
    const QString seed = file + ".seed";
    QFile::remove(seed);
    for (const SimSandbox::Setting &setting : settings)
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
// The end-user agreement that the software installs beside itself, in plain words.
const char kAgreement[] = R"(VANTOR S SOFTWARE - END USER LICENSE AGREEMENT

Please read this agreement before you use the instrument. By pressing Accept you agree to it.

1. Licence. You may use this software only to run the VANTOR S instrument it came with. You may not copy, change, decompile or pass on the software, except as the law allows.

2. Ownership. The software stays the property of its maker. You own the images and data you record with it.

3. Research use. The instrument and its software are for research only. They are not for diagnosis or treatment of people or animals.

4. Your data. Keep copies of important images on other drives. The software saves what you ask it to save, but no storage is free of faults.

5. Updates. Software updates may change how the instrument works. Install only updates made for this instrument.

6. No warranty. The software is provided as it is. As far as the law allows, its maker gives no warranty and is not liable for lost data, lost profit or other indirect damage.

7. End. This licence ends when you break its terms. You must then stop using the software.

For questions, write to support@example.com.
)";

// The agreement file, written only when missing: an installed or updated text is kept.
bool seedAgreement()
{
    QFile file(Paths::path("/root/Microscope/Copyright.txt"));
    if (file.exists())
        return true;
    if (file.open(QIODevice::WriteOnly) && file.write(kAgreement) == qint64(sizeof kAgreement - 1))
        return true;
    qWarning() << "Cannot write" << file.fileName();
    return false;
}

bool seedVideoEncoder()
{
    const QString link = Paths::path("/root/Microscope/FFmpeg/ffmpeg");
    const QString system = "/usr/bin/ffmpeg";
    if (QFileInfo(link).exists() || QFileInfo(link).isSymLink() || !QFileInfo::exists(system))
        return true;
    return makeFolder("/root/Microscope/FFmpeg") && QFile::link(system, link);
}

// The installed application: a placeholder program and the start link to it, as a software
// update finds them, and the system's library folder that takes the package's FFmpeg libraries.
bool seedInstallation()
{
    if (!makeFolder("/usr/lib"))
        return false;
    const QString program = Paths::path("/root/Microscope/NIMBO/vantors_1_0_0");
    if (!QFileInfo::exists(program)) {
        QFile file(program);
        if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n# Installed application (placeholder).\nexit 0\n") < 0)
            return false;
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    }
    const QFileInfo link(Paths::path("/root/Microscope/NIMBO/vantors"));
    return link.exists() || link.isSymLink() || QFile::link("./vantors_1_0_0", link.filePath());
}

} // namespace

QList<SimSandbox::Setting> SimSandbox::defaultSettings()
{
    QList<Setting> list = {
        {"LicenseAgreement", "Accepted", "0"},
        {"Setting_Misc", "ShowStartDlg", "1"},
        {"Setting_Misc", "Stage_MAXSPEED", "700"},
        {"Setting_Misc", "Stage_FOCUSSPEED", "100"},
        {"NIMBO", "Serial", "VTS-00-00000"},
        {"NIMBO", "Version", "1.0.0"},
        {"NIMBO", "CurrentSW", "vantors_1_0_0"},
        {"Camera", "Mode", "8"},
        {"Camera", "SaturatedPixel", "0"},
        {"Camera", "HotPixelEnable", "0"},
        {"Camera", "Threshold", "60"},
        {"Camera", "HotPixelEx", "31"},
        {"ScaleBar", "CMOSPixelSize", QString::number(SampleRenderer::CameraPixelUm)},
        {"Focus", "CoarseSpeed", "350"},
        {"Focus", "FineSpeed", "5"},
        {"Focus", "CoarseStepSize", "1"},
        {"Focus", "FineStepSize", "0.05"},
        {"Focus", "Knob", "0"},
        {"Focus", "FineAFRange", "5"},
        {"Focus", "DOF_Factor", "0.5"},
        {"Setting_Timelapse", "ScanRange", "5"},
        {"LensPos", "Enable", "1"},
        {"LensPos", "Speed", "700"},
        {"LensPos", "Delay", "0.5"},
    };
    // Cubes by turret slot (slot 1 holds filter position 3) and their pseudo colours (0 red,
    // 1 green, 2 blue), as the specimen's stains show them: 1 nuclei, 2 cytoplasm, 3 a tagged subset.
    const char *cubes[4] = {"Trans", "GFP", "RFP", "DAPI"};
    const char *colours[4] = {"7", "1", "0", "2"};
    for (int slot = 0; slot < 4; ++slot) {
        list.append({"Filter", QString::number(slot), cubes[slot]});
        if (slot > 0)
            list.append({"FilterColor", QString::number(slot), colours[slot]});
    }
    // Light, gain row and exposure row per filter position: the bright field needs the shortest
    // exposure (10 ms), the stains 80 ms.
    for (int position = 0; position < 4; ++position)
        list << Setting{QString("Filter_%1").arg(position), "Light", "50"}
             << Setting{QString("Filter_%1").arg(position), "Gain", "0"}
             << Setting{QString("Filter_%1").arg(position), "Exposure", position == 0 ? "0" : "7"};
    // The simulated objectives. Parfocal positions are counter readings: the application zeroes
    // the counter where the stage stands at power-on.
    const char *names[SampleRenderer::ObjectiveCount] = {"PLAN", "PLAN", "PLAN", "FLUOR", "FLUOR"};
    for (int lens = 1; lens <= SampleRenderer::ObjectiveCount; ++lens) {
        const QString key = QString::number(lens);
        const double focus = SampleRenderer::DefaultFocusBase + SampleRenderer::parfocalSteps(lens);
        list << Setting{"Lens", key, QString("%1X").arg(SampleRenderer::magnification(lens))}
             << Setting{"LensNA", key, QString::number(SampleRenderer::numericalAperture(lens), 'f', 2)}
             << Setting{"LensName", key, names[lens - 1]}
             << Setting{"LensType", key, "Quorva"}
             << Setting{"LensPos", key, QString::number(qRound(focus) - VirtualInstrument::StartPosition)};
    }
    return list;
}

bool SimSandbox::seed()
{
    if (Paths::root().isEmpty())
        return false; // on the instrument the paths are the real ones: nothing to seed
    bool ok = makeFolder("/root/Microscope/NIMBO");
    ok = makeFolder("/media/VANTOR SSD") && ok;
    ok = seedIniFile(Paths::configFile(), defaultSettings()) && ok;
    // The operating-system image's identity, which the settings dialog shows.
    ok = seedIniFile(Paths::path("/root/Microscope/Microscope.ini"), {{"OS", "Version", "2.2"}}) && ok;
    ok = seedVideoEncoder() && ok;
    ok = seedAgreement() && ok;
    ok = seedInstallation() && ok;
    return ok;
}
