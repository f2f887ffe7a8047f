#pragma once
#include <QModelIndex>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

class FileIconProvider;
class MessageDlg;
class QAction;
class QFileSystemModel;
class QItemSelection;
class QItemSelectionModel;
class QMenu;
class Ui_FileManagerWidget;

// The File manager page: browses the SSD volume and the USB drives mounted under "/media" in a
// folder tree and an icon list (thumbnails on request), shows the free space of the drive shown,
// ejects USB drives and opens files. Every change of folder runs under a modal "Loading images"
// wait that ends when the list has loaded the folder (or the folder vanished, or after
// loadingLimitMs). Paths held are real paths; what the user sees is their fixed form, so the
// sandbox prefix of the simulated run never shows. GUI thread only.
class FileManagerWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int loadingLimitMs = 30000;

    explicit FileManagerWidget(QWidget *parent = nullptr);
    ~FileManagerWidget() override;

    // Empties the clipboard and the selection; called each time the page is shown.
    void clear();
    // Shows the free space of the current folder's drive; measured again when the drive changed,
    // a command runs or force is set.
    void updateDiskSpace(bool force);

    QString currentPath() const { return m_CurrentPath; }
    QString displayPath() const { return m_DisplayPath; }
    // "/" followed by the fixed path's sections from the third on ("/" for "/media").
    static QString displayPathOf(const QString &path);
    // The drive name of a path below "/media" (its third fixed section), empty at "/media".
    static QString driveNameOf(const QString &path);

public slots:
    void slotRemovedDisk(QString label);

signals:
    void umountDevice(QString label);
    void signalEnableMainMenu(bool enable);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_TREEVIEW_DIR_clicked(const QModelIndex &index);
    void on_LISTVIEW_FILE_clicked(const QModelIndex &index);
    void on_LISTVIEW_FILE_doubleClicked(const QModelIndex &index);
    void on_LISTVIEW_FILE_customContextMenuRequested(const QPoint &pos);
    void on_BUTTON_CD_UP_clicked();
    void on_BUTTON_UNMOUNT_clicked();
    void on_BUTTON_THUMBNAIL_clicked(bool checked);

    void slotTreeViewClicked();
    void slotListViewDoubleClicked();
    void slotThumbnailViewChanged();
    void slotDirectoryLoaded(const QString &path);
    void slotRootPathChanged(const QString &path);
    void slotHideMessageDlg();
    void slotShowTooltip(const QModelIndex &index);
    void slotChangeSelection(const QItemSelection &selected, const QItemSelection &deselected);

private:
    void initialize();
    void makeConnectionSignalAndSlot();
    void runLoadingWait(const char *deferredSlot);
    // Shows folder m_CurrentPath in both views; false (and back at "/media") when it has gone.
    bool showCurrentFolder(bool fromTree);
    void returnToMediaRoot();
    void setEjectUSBButtonState();
    void setFileOperationButtonState(bool hasSelection);
    void resetClipboard();
    bool atRoot() const;
    void showContextMenu(const QPoint &pos, bool onItem);
    void openFile(const QModelIndex &index);
    int showMessage(const QString &text, bool withCancel);

    Ui_FileManagerWidget *ui;
    QString m_CurrentPath;
    QString m_DisplayPath;
    QString m_LastDiskPath;
    QFileSystemModel *m_TreeModel = nullptr;
    QFileSystemModel *m_ListModel = nullptr;
    std::unique_ptr<FileIconProvider> m_TreeIconProvider;
    std::unique_ptr<FileIconProvider> m_ListIconProvider;
    QItemSelectionModel *m_SelectionModel = nullptr;
    QModelIndex m_TreeRootIndex;
    QModelIndex m_ListRootIndex;
    QMenu *m_ContextMenu = nullptr;
    QAction *m_NewFolderAction = nullptr;
    QAction *m_CopyAction = nullptr;
    QAction *m_CutAction = nullptr;
    QAction *m_PasteAction = nullptr;
    QAction *m_DeleteAction = nullptr;
    QAction *m_RenameAction = nullptr;
    int m_Operation = -1;
    bool m_bHasSelection = false;
    bool m_bCopied = false;
    bool m_bCut = false;
    QModelIndexList m_ClipboardList;
    QModelIndexList m_DeleteList;
    float m_TotalSizeMiB = 0;
    quint32 m_TotalFileCount = 0;
    qint64 m_TotalBytes = 0;
    std::unique_ptr<MessageDlg> m_LoadingDlg;
    QTimer m_LoadingLimit;
    QTimer m_HideTimer;
    bool m_bLoading = false;      // the loading wait is up
    bool m_bAwaitingLoad = false; // the deferred navigation ran: the list's load report ends the wait
    bool m_bThumbnailOn = false;
    bool m_bTooltipArmed = true;
    QPointer<MessageDlg> m_CopyTestDlg;
};
