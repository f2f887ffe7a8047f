#pragma once
#include <QModelIndex>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

class FileIconProvider;
class FileOperationProgressDlg;
class FileOperationThread;
class MessageDlg;
class QAction;
class QFileSystemModel;
class QItemSelection;
class QItemSelectionModel;
class QMenu;
class Ui_FileManagerWidget;

// The File manager page: browses the SSD volume and the USB drives mounted under "/media" in a
// folder tree and an icon list (thumbnails unless switched off), shows the free space of the drive shown,
// ejects USB drives and opens files. Every change of folder runs under a modal "Loading images"
// wait that ends when the list has loaded the folder (or the folder vanished, or after
// loadingLimitMs); thumbnails are decoded beside the interface and fill the list as they come,
// never on this thread. Paths held are real paths; what the user sees is their fixed form, so the
// sandbox prefix of the simulated run never shows. GUI thread only.
//
// The file commands New Folder, Rename, Copy, Cut, Paste and Delete run from the buttons and the
// list's context menu. Copy, Cut and Delete take the absolute paths of the selection; Paste and
// Delete hand them to the worker (FileOperationThread) under the modal progress dialog, and
// afterwards say in one message what could not be done. Nothing is ever overwritten.
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

    // The commands; false where they were refused before doing anything.
    bool creatingFolder();
    bool renaming();
    bool copying();
    bool cutting();
    bool pasting();
    bool deleting();
    // Adds the size (MiB and bytes) and the number of the files at or below path to the totals.
    static void fileSizeAndCount(const QString &path, float &sizeMiB, long long &bytes, unsigned int &count);
    // The message for a name the file system cannot take (empty when the name is fine): the nine
    // characters, ".", "..", control characters, more than 255 bytes.
    static QString nameProblem(const QString &name);
    QStringList clipboard() const { return m_ClipboardList; }
    FileOperationThread *worker() const { return m_FileOperationThread.get(); }
    FileOperationProgressDlg *progressDialog() const { return m_ProgressDlg.get(); }

public slots:
    void slotRemovedDisk(QString label);

signals:
    void umountDevice(QString label);
    void signalFileOperating(int method, qint64 fileSize, QString srcPath, QString dstDirPath);
    void signalCompltedFileOperation(int state);
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
    void on_BUTTON_NEW_FOLDER_clicked();
    void on_BUTTON_COPY_clicked();
    void on_BUTTON_CUT_clicked();
    void on_BUTTON_PASTE_clicked();
    void on_BUTTON_DELETE_clicked();
    void on_BUTTON_RENAME_clicked();
    void on_BUTTON_COPY_TEST_clicked();
    void slotFileOperationCompleted();
    void slotStoppedFileOperation(bool stopped);
    void slotTest();
    void slotOKClicked();

    void slotTreeViewClicked();
    void slotListViewDoubleClicked();
    void slotThumbnailViewChanged();
    void slotDirectoryLoaded(const QString &path);
    void slotRootPathChanged(const QString &path);
    void slotHideMessageDlg();
    void slotEntryPoll();
    void slotShowTooltip(const QModelIndex &index);
    void slotChangeSelection(const QItemSelection &selected, const QItemSelection &deselected);

private:
    void initialize();
    bool isListed(const QString &path) const; // an entry of the folder shown
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
    int showPreset(int type);
    // The loading wait of a New Folder or Rename: ends when the list model knows path.
    void runEntryWait(const QString &path);
    bool takeSelection(int operation, bool cut);
    QStringList selectedPaths() const;
    void rereadCurrentFolder();
    void showDisplayPath();
    QString pasteDestination() const;
    void measure(const QStringList &paths);
    void prepareProgress();
    // Hands the sources to the worker, starts it and runs the progress dialog until the data
    // is on the drives; nothing starts for an empty list.
    void startWorker(int mode, const QStringList &sources, const QString &destination);
    void concurrentPasting(const QStringList &sources, const QString &destination);
    void concurrentDeleting(const QStringList &sources);
    void reportFailures(int mode, int goneEntries, int measuredFiles);
    // Asks for a name on the keyboard; false when the user left it or the name was refused.
    bool askName(QString &name);

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
    QStringList m_ClipboardList; // absolute paths taken at Copy or Cut
    QStringList m_DeleteList;
    float m_TotalSizeMiB = 0;
    quint32 m_TotalFileCount = 0;
    qint64 m_TotalBytes = 0;
    std::unique_ptr<MessageDlg> m_LoadingDlg;
    QTimer m_LoadingLimit;
    QTimer m_HideTimer;
    QTimer m_EntryPoll;     // the loading wait of New Folder and Rename looks for its entry
    QString m_AwaitedEntry;
    bool m_bLoading = false;      // the loading wait is up
    bool m_bAwaitingLoad = false; // the deferred navigation ran: the list's load report ends the wait
    bool m_bThumbnailOn = false;
    bool m_bTooltipArmed = true;
    QPointer<MessageDlg> m_CopyTestDlg;
    std::unique_ptr<FileOperationProgressDlg> m_ProgressDlg;
    std::unique_ptr<FileOperationThread> m_FileOperationThread;
};
