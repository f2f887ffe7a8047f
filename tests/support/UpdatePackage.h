#pragma once
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Software-update packages for the tests, written by tests/settings/update_package.py (Python's
// tarfile), and the looks a test takes at an installation.
namespace UpdatePackage {

// Runs a program to its end (at most a minute); its standard output. exitCode: -1 when it crashed
// or did not end.
QByteArray runTool(const QString &program, const QStringList &args, int *exitCode = nullptr);

// Writes a package of this kind ("full", "only" or a hostile kind of the script) at path, its
// program named program (by default the file name without ".vts"); hostile links point into
// outside. True when written.
bool write(const QString &kind, const QString &path, const QString &outside, const QString &program = QString());

// [NIMBO] Version and CurrentSW as Python's configparser reads them from the configuration file.
QStringList versionKeys();

// Every entry under dir, links not followed: its kind, and a file's content hash and mode or a
// link's target, by path relative to dir.
QMap<QString, QByteArray> snapshot(const QString &dir);

} // namespace UpdatePackage
