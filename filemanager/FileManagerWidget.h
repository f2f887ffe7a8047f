#pragma once
#include <QString>
#include <QWidget>

// The File manager page: browses, copies, moves, renames and deletes images on the SSD and the
// USB drives, and ejects drives.
class FileManagerWidget : public QWidget
{
    Q_OBJECT
public:
    explicit FileManagerWidget(QWidget *parent = nullptr);

    // Empties the clipboard and the selection.
    void clear();
    // Shows the free space of the current folder's drive.
    void updateDiskSpace(bool bOpened);

public slots:
    void slotRemovedDisk(QString label);

signals:
    void umountDevice(QString label);
    void signalEnableMainMenu(bool enable);
};
