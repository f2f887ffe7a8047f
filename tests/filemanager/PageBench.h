#pragma once
#include "FileManagerWidget.h"
#include "MediaMonitor.h"
#include "SimStorage.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QModelIndex>
#include <QStringList>
#include <memory>

class QFileSystemModel;
class QPushButton;

// The file manager page in a fresh sandbox: the SSD and USB1 mounted by the storage monitor,
// every system action recorded, and the page wired to the monitor as the main window wires it.
struct PageBench
{
    TestRoot root;
    SimulatedSystemActions actions;
    SimStorage storage;
    bool seeded = SimStorage::seed();
    std::unique_ptr<MediaMonitor> monitor;
    std::unique_ptr<FileManagerWidget> page;

    PageBench();
    ~PageBench();

    QPushButton *button(const char *name) const;
    QFileSystemModel *listModel() const;
    // Goes to the folder at a fixed path below a drive (tree tap on the drive, then double-clicks);
    // returns when the loading waits have ended.
    bool open(const QString &fixedPath);
    // The list entry of a name in the folder shown, once the list knows it.
    QModelIndex listEntry(const QString &name);
    // Selects the named entries of the folder shown; the last becomes the current entry.
    void select(const QStringList &names);
    // The names in a folder (fixed path), sorted.
    QStringList names(const QString &fixedPath) const;
};

namespace PageScripts {
// The next keyboard: records the text it opened with, types text and presses Enter.
void type(const QString &text, QString *shown = nullptr);
} // namespace PageScripts
