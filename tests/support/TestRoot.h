#pragma once
#include <QString>
#include <QTemporaryDir>

// A fresh, empty sandbox root for one test case: Paths point into it while the object lives.
class TestRoot
{
public:
    TestRoot();
    ~TestRoot();
    QString path() const { return m_dir.path(); }
    // Creates a folder (and its parents) at a fixed path inside the root; returns the real path.
    QString makeDir(const QString &fixedPath) const;
    // Writes a file at a fixed path inside the root; returns the real path.
    QString writeFile(const QString &fixedPath, const QByteArray &content) const;

    // The source tree's tests/data folder.
    static QString dataDir();

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
