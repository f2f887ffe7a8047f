#pragma once
#include <QString>
#include <QStringList>
#include <QThread>

// Installs a software package "vantors_*_*_*.vts" (a gzip-compressed tar archive) from a USB drive.
// The package is unpacked into "/root/Microscope/temp" and checked before anything is changed:
// tar must read it whole, no member may leave the folder (absolute names, "..", links or hard
// links pointing out, device nodes), and the program named like the package must be at its top
// level. Then the application folder is backed up into "/root/Microscope/restore", the files are
// placed by their names, each one atomically, and the version keys are written last, only when
// every file was placed. One result is reported, as the run's last act.
class SoftwareUpdateThread : public QThread
{
    Q_OBJECT
public:
    explicit SoftwareUpdateThread(QObject *parent = nullptr);

    // path: the package file; version: its version string ("2_1_0" for vantors_2_1_0.vts).
    void setUpdateFileInfo(const QString &path, const QString &version);

    // Whether a file name matches "vantors_*_*_*.vts" in any letter case.
    static bool isPackageName(const QString &fileName);

    // The package's program name: the file name without ".vts" in any letter case.
    static QString baseName(const QString &packagePath);

    bool m_bSyncWhenDone = true;

signals:
    void completeSoftwareUpdate(bool result);

protected:
    void run() override;

private:
    bool install();
    // Unpacks archive into the empty folder dir and checks every entry; false when refused.
    static bool unpackChecked(const QString &archive, const QString &dir);
    static bool entriesInside(const QString &dir);
    // The top-level regular files of the unpacked package, hidden ones left out, in name order.
    static QStringList topLevelFiles(const QString &dir);
    bool checkInstalledPrograms(const QStringList &files) const;
    bool backup();
    bool place(const QString &file);
    // Copies source to target through a temporary file beside it, then renames it over the target.
    static bool replacingCopy(const QString &source, const QString &target);
    static bool plainCopy(const QString &source, const QString &target);
    static bool makeLink(const QString &link, const QString &target);

    QString m_UpdateFilePath;
    QString m_UpdateVersion;
    QString m_Staging;  // the unpacked package inside the temp folder
    QString m_Libraries; // the checked library archives, one folder each
};
