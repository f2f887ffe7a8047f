#include "Paths.h"
#include "PrivateProfile.h"
#include "SimSandbox.h"
#include "TestRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

class TestSimSandbox : public QObject
{
    Q_OBJECT
private slots:
    void seedsWhatIsMissingAndNeverOverwrites()
    {
        TestRoot root;
        QVERIFY(SimSandbox::seed());
        QVERIFY(QFileInfo(Paths::ssd()).isDir());
        QVERIFY(QFileInfo(Paths::configDir()).isDir());
        for (const SimSandbox::Setting &setting : SimSandbox::defaultSettings()) {
            std::string value;
            QCOMPARE(ReadPrivateProfileString(setting.section.toStdString(), setting.key.toStdString(), "?", value,
                                              Paths::configFile().toStdString()),
                     1);
            QCOMPARE(QString::fromStdString(value), setting.value);
        }
        std::string os;
        ReadPrivateProfileString("OS", "Version", "", os, Paths::path("/root/Microscope/Microscope.ini").toStdString());
        QCOMPARE(os, std::string("2.2"));
        const QFileInfo encoder(Paths::path("/root/Microscope/FFmpeg/ffmpeg"));
        if (QFileInfo::exists("/usr/bin/ffmpeg"))
            QCOMPARE(encoder.symLinkTarget(), QString("/usr/bin/ffmpeg"));
        // The installation a software update replaces, and nothing left beside the configuration file.
        QCOMPARE(QDir(Paths::configDir()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"NIMBO.ini", "vantors", "vantors_1_0_0"}));
        QCOMPARE(QFile::symLinkTarget(Paths::configDir() + "/vantors"), Paths::configDir() + "/vantors_1_0_0");
        QVERIFY(QFileInfo(Paths::configDir() + "/vantors_1_0_0").isExecutable());
        // A second seed over a configuration of the user's own changes nothing.
        const QByteArray mine = "[LicenseAgreement]\nAccepted=1\n";
        root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", mine);
        QVERIFY(SimSandbox::seed());
        QFile file(Paths::configFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), mine);
    }
};

QTEST_GUILESS_MAIN(TestSimSandbox)
#include "tst_simsandbox.moc"
