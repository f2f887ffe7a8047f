#include "FileManagerWidget.h"
#include "ui_FileManagerWidget.h"

#include "FileCopier.h"
#include "FileIconProvider.h"
#include "FileOperationProgressDlg.h"
#include "FileOperationThread.h"
#include "Globals.h"
#include "KeyboardDlg.h"
#include "ImageThumbnailReader.h"
#include "ImageViewerDlg.h"
#include "MediaMonitor.h"
#include "MediaPath.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "ScopedBusyCursor.h"
#include "SystemActions.h"
#include "Utilities.h"
#include "VisibleNameDelegate.h"
#include "VisibleText.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSpinBox>
#include <QStyleOption>
#include <QToolTip>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
const QString loadingText = QStringLiteral("<p><b>Loading images ...</b></p>");

bool isTableOrVideo(const QFileInfo &info)
{
    const QString suffix = info.fileName().section('.', -1);
    return info.fileName().contains('.')
           && (suffix.compare("csv", Qt::CaseInsensitive) == 0 || suffix.compare("mp4", Qt::CaseInsensitive) == 0);
}
} // namespace

FileManagerWidget::FileManagerWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_FileManagerWidget)
{
    setAttribute(Qt::WA_StyledBackground);
    ui->setupUi(this);
    initialize();
    makeConnectionSignalAndSlot();
}

FileManagerWidget::~FileManagerWidget()
{
    m_FileOperationThread.reset(); // stops and waits for a run still going
    delete ui;
    // The models' threads ask the icon providers for icons: the models go first.
    delete m_ListModel;
    delete m_TreeModel;
}

QString FileManagerWidget::displayPathOf(const QString &path)
{
    return MediaPath::label(path);
}

QString FileManagerWidget::driveNameOf(const QString &path)
{
    return Paths::fixedPath(QDir::cleanPath(path)).section('/', 2, 2);
}

void FileManagerWidget::initialize()
{
    m_Operation = -1;
    m_bHasSelection = m_bCopied = m_bCut = false;
    m_ContextMenu = new QMenu(this);
    m_NewFolderAction = new QAction("New Folder", this);
    m_CopyAction = new QAction("Copy", this);
    m_CutAction = new QAction("Cut", this);
    m_PasteAction = new QAction("Paste", this);
    m_DeleteAction = new QAction("Delete", this);
    m_RenameAction = new QAction("Rename", this);

    m_CurrentPath = Paths::media();
    showDisplayPath();

    m_TreeIconProvider = std::make_unique<FileIconProvider>();
    m_TreeModel = new QFileSystemModel(this);
    m_TreeModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_TreeModel->setIconProvider(m_TreeIconProvider.get());
    m_TreeRootIndex = m_TreeModel->setRootPath(m_CurrentPath);
    m_TreeModel->sort(0, Qt::AscendingOrder);
    ui->TREEVIEW_DIR->setModel(m_TreeModel);
    ui->TREEVIEW_DIR->setItemDelegate(new VisibleNameDelegate(ui->TREEVIEW_DIR));
    for (int column = 1; column < m_TreeModel->columnCount(); ++column)
        ui->TREEVIEW_DIR->hideColumn(column);
    ui->TREEVIEW_DIR->header()->hide();
    ui->TREEVIEW_DIR->sortByColumn(0, Qt::AscendingOrder);
    ui->TREEVIEW_DIR->setExpandsOnDoubleClick(true);
    ui->TREEVIEW_DIR->setRootIndex(m_TreeRootIndex);

    m_ListIconProvider = std::make_unique<FileIconProvider>();
    m_ListIconProvider->setThumbnailReader(&ImageThumbnailReader::read);
    // Thumbnails are decoded beside the interface; each one in makes the list repaint.
    m_ListIconProvider->setThumbnailReady(this, [this] { ui->LISTVIEW_FILE->viewport()->update(); });
    // Images show as thumbnails from the first display; the toggle turns them off.
    m_bThumbnailOn = true;
    m_ListIconProvider->setThumbnailOn(true);
    ui->BUTTON_THUMBNAIL->setChecked(true);
    m_ListModel = new QFileSystemModel(this);
    m_ListModel->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    m_ListModel->setNameFilters({"*.tif", "*.tiff", "*.png", "*.jpg", "*.jpeg", "*.bmp", "*.csv", "*.mp4"});
    m_ListModel->setNameFilterDisables(false);
    m_ListModel->setReadOnly(false);
    m_ListModel->setIconProvider(m_ListIconProvider.get());
    m_ListRootIndex = m_ListModel->setRootPath(m_CurrentPath);
    m_ListModel->sort(0, Qt::AscendingOrder);
    ui->LISTVIEW_FILE->setModel(m_ListModel);
    ui->LISTVIEW_FILE->setItemDelegate(new VisibleNameDelegate(ui->LISTVIEW_FILE));
    ui->LISTVIEW_FILE->setRootIndex(m_ListRootIndex);
    m_SelectionModel = ui->LISTVIEW_FILE->selectionModel();

    m_ContextMenu->setFont(QFont("DejaVu Sans", 10));
    m_ContextMenu->installEventFilter(this);
    ui->LISTVIEW_FILE->installEventFilter(this);
    for (QPushButton *button : {ui->BUTTON_NEW_FOLDER, ui->BUTTON_COPY, ui->BUTTON_CUT, ui->BUTTON_PASTE,
                                ui->BUTTON_DELETE, ui->BUTTON_RENAME, ui->BUTTON_UNMOUNT, ui->BUTTON_THUMBNAIL})
        button->setEnabled(false);
    ui->BUTTON_CD_UP->setEnabled(false);
    updateDiskSpace(false);
    setAutoFillBackground(false);
    ui->BUTTON_COPY_TEST->setVisible(isQCTestMode());
    ui->SPINBOX_TEST->setVisible(isQCTestMode());

    m_LoadingDlg = std::make_unique<MessageDlg>();
    m_LoadingDlg->enableZOrderTimer(false);
    m_LoadingLimit.setSingleShot(true);
    m_LoadingLimit.setInterval(loadingLimitMs);
    connect(&m_LoadingLimit, &QTimer::timeout, this, &FileManagerWidget::slotHideMessageDlg);
    // One pending end of the wait at most, so that a late one never ends the next wait.
    m_HideTimer.setSingleShot(true);
    m_HideTimer.setInterval(10);
    connect(&m_HideTimer, &QTimer::timeout, this, &FileManagerWidget::slotHideMessageDlg);
    m_EntryPoll.setInterval(10);
    connect(&m_EntryPoll, &QTimer::timeout, this, &FileManagerWidget::slotEntryPoll);

    m_ProgressDlg = std::make_unique<FileOperationProgressDlg>();
    m_FileOperationThread = std::make_unique<FileOperationThread>();
}

void FileManagerWidget::makeConnectionSignalAndSlot()
{
    connect(m_ListModel, &QFileSystemModel::directoryLoaded, this, &FileManagerWidget::slotDirectoryLoaded);
    connect(m_ListModel, &QFileSystemModel::rootPathChanged, this, &FileManagerWidget::slotRootPathChanged);
    connect(ui->LISTVIEW_FILE, &QListView::entered, this, &FileManagerWidget::slotShowTooltip);
    connect(m_SelectionModel, &QItemSelectionModel::selectionChanged, this, &FileManagerWidget::slotChangeSelection);
    connect(this, &FileManagerWidget::signalFileOperating, m_ProgressDlg.get(),
            &FileOperationProgressDlg::slotFileOperating);
    connect(this, &FileManagerWidget::signalCompltedFileOperation, m_ProgressDlg.get(),
            &FileOperationProgressDlg::slotCompletedFileOperation);
    connect(m_ProgressDlg.get(), &FileOperationProgressDlg::signalFileOperationIsStopped, this,
            &FileManagerWidget::slotStoppedFileOperation);
    connect(m_FileOperationThread.get(), &FileOperationThread::signalFileOperating, m_ProgressDlg.get(),
            &FileOperationProgressDlg::slotFileOperating);
    connect(m_FileOperationThread.get(), &QThread::finished, this, &FileManagerWidget::slotFileOperationCompleted);
}

// The folder shown, above the tree and in the top bar's path line.
void FileManagerWidget::showDisplayPath()
{
    m_DisplayPath = displayPathOf(m_CurrentPath);
    const QString shown = VisibleText::escaped(m_DisplayPath);
    ui->LABEL_CURRENT_PATH->setText(shown);
    ui->LABEL_PATH->setText(QStringLiteral("Path : ") + shown);
}

bool FileManagerWidget::atRoot() const
{
    return MediaPath::isMediaRoot(m_CurrentPath);
}

// Busy cursor, page disabled, the deferred navigation started, and the modal wait run; the
// timer fires inside the wait's loop.
void FileManagerWidget::runLoadingWait(const char *deferredSlot)
{
    if (!m_bLoading)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bLoading = true;
    m_HideTimer.stop();
    setEnabled(false);
    // The thumbnails of the folder left wait no longer for their turn.
    m_ListIconProvider->dropWaitingThumbnails();
    QTimer::singleShot(50, this, deferredSlot);
    m_LoadingLimit.start();
    m_LoadingDlg->setMessage(loadingText);
    m_LoadingDlg->setButtonVisibility(MSG_BUTTON_NONE);
    m_LoadingDlg->exec();
}

void FileManagerWidget::slotHideMessageDlg()
{
    m_bAwaitingLoad = false;
    m_HideTimer.stop();
    m_LoadingLimit.stop();
    m_EntryPoll.stop();
    m_LoadingDlg->accept();
    if (m_bLoading)
        QApplication::restoreOverrideCursor();
    m_bLoading = false;
    updateDiskSpace(false);
    setEnabled(true);
}

void FileManagerWidget::slotDirectoryLoaded(const QString &path)
{
    // Only the folder being shown ends the wait: a late report of the previous one would end it
    // before the deferred navigation has run.
    if (m_Operation == -1 && m_bLoading && m_bAwaitingLoad && QDir::cleanPath(path) == QDir::cleanPath(m_CurrentPath))
        m_HideTimer.start();
}

bool FileManagerWidget::showCurrentFolder(bool fromTree)
{
    if (!QFileInfo(m_CurrentPath).isDir()) {
        // The drive was pulled (or the folder removed) before the wait began.
        returnToMediaRoot();
        m_HideTimer.start();
        return false;
    }
    if (fromTree)
        m_SelectionModel->clearSelection();
    m_ListRootIndex = m_ListModel->setRootPath(m_CurrentPath);
    m_TreeRootIndex = m_TreeModel->setRootPath(m_CurrentPath);
    if (fromTree)
        ui->TREEVIEW_DIR->expand(m_TreeRootIndex);
    else
        ui->TREEVIEW_DIR->setCurrentIndex(m_TreeRootIndex);
    ui->LISTVIEW_FILE->setRootIndex(m_ListRootIndex);
    showDisplayPath();
    if (fromTree)
        ui->TREEVIEW_DIR->setCurrentIndex(m_TreeRootIndex);
    setEjectUSBButtonState();
    m_bAwaitingLoad = true;
    // A folder the model has read before reports no new load.
    if (!m_ListModel->canFetchMore(m_ListRootIndex))
        m_HideTimer.start();
    return true;
}

void FileManagerWidget::slotTreeViewClicked()
{
    showCurrentFolder(true);
}

void FileManagerWidget::slotListViewDoubleClicked()
{
    showCurrentFolder(false);
}

void FileManagerWidget::on_TREEVIEW_DIR_clicked(const QModelIndex &index)
{
    const QString path = m_TreeModel->filePath(index);
    if (path.isEmpty() || path == m_CurrentPath)
        return;
    ui->BUTTON_UNMOUNT->setEnabled(false);
    ui->BUTTON_THUMBNAIL->setEnabled(true);
    m_CurrentPath = path;
    runLoadingWait(SLOT(slotTreeViewClicked()));
}

void FileManagerWidget::on_BUTTON_CD_UP_clicked()
{
    if (atRoot())
        return;
    m_CurrentPath = m_CurrentPath.left(m_CurrentPath.lastIndexOf('/'));
    runLoadingWait(SLOT(slotTreeViewClicked()));
}

void FileManagerWidget::on_LISTVIEW_FILE_clicked(const QModelIndex &)
{
    if (atRoot())
        return;
    setFileOperationButtonState(true);
    ui->BUTTON_THUMBNAIL->setEnabled(true);
}

void FileManagerWidget::on_LISTVIEW_FILE_doubleClicked(const QModelIndex &index)
{
    const QFileInfo info = m_ListModel->fileInfo(index);
    if (info.isDir()) {
        m_CurrentPath = info.absoluteFilePath();
        ui->BUTTON_THUMBNAIL->setEnabled(true);
        runLoadingWait(SLOT(slotListViewDoubleClicked()));
        return;
    }
    openFile(index);
}

void FileManagerWidget::openFile(const QModelIndex &index)
{
    const QFileInfo info = m_ListModel->fileInfo(index);
    if (isTableOrVideo(info)) {
        showMessage("A preview is not available for this file type.", false);
        return;
    }
    QList<QFileInfo> images;
    const QModelIndex parent = index.parent();
    for (int row = 0; row < m_ListModel->rowCount(parent); ++row) {
        const QFileInfo entry = m_ListModel->fileInfo(m_ListModel->index(row, 0, parent));
        if (entry.isFile() && !isTableOrVideo(entry))
            images << entry;
    }
    ImageViewerDlg viewer;
    viewer.setCurrentFileInfoList(images);
    viewer.setCurrentIndex(info);
    viewer.load(info.absoluteFilePath(), info.fileName());
    viewer.exec();
}

void FileManagerWidget::slotRootPathChanged(const QString &)
{
    setFileOperationButtonState(false);
    updateDiskSpace(false);
}

void FileManagerWidget::slotChangeSelection(const QItemSelection &, const QItemSelection &)
{
    if (atRoot())
        return;
    m_bHasSelection = m_SelectionModel->hasSelection();
    setFileOperationButtonState(m_bHasSelection);
}

void FileManagerWidget::setEjectUSBButtonState()
{
    const QString fixed = Paths::fixedPath(m_CurrentPath);
    ui->BUTTON_UNMOUNT->setEnabled(!fixed.startsWith(QLatin1String("/media/VANTOR SSD")) && !atRoot());
}

void FileManagerWidget::setFileOperationButtonState(bool hasSelection)
{
    const bool root = atRoot();
    const bool clipboard = m_bCopied || m_bCut;
    const int selected = m_SelectionModel->selectedIndexes().size();
    ui->BUTTON_CD_UP->setEnabled(!root);
    ui->BUTTON_NEW_FOLDER->setEnabled(!hasSelection && !root);
    ui->BUTTON_COPY->setEnabled(hasSelection);
    ui->BUTTON_CUT->setEnabled(hasSelection);
    ui->BUTTON_PASTE->setEnabled(hasSelection ? selected < 2 && clipboard : clipboard && !root);
    ui->BUTTON_DELETE->setEnabled(hasSelection);
    ui->BUTTON_RENAME->setEnabled(hasSelection && selected < 2);
    update();
}

void FileManagerWidget::resetClipboard()
{
    m_ClipboardList.clear();
    m_DeleteList.clear();
    m_bCopied = m_bCut = m_bHasSelection = false;
    m_TotalSizeMiB = 0;
    m_TotalFileCount = 0;
    m_TotalBytes = 0;
    m_Operation = -1;
    m_SelectionModel->clearSelection();
}

void FileManagerWidget::clear()
{
    resetClipboard();
    if (atRoot()) {
        ui->BUTTON_CD_UP->setEnabled(false);
        return;
    }
    setFileOperationButtonState(false);
    ui->BUTTON_THUMBNAIL->setEnabled(true);
}

void FileManagerWidget::updateDiskSpace(bool force)
{
    if (atRoot())
        return;
    const QString drive = MediaPath::volumeOf(m_CurrentPath);
    if (drive == m_LastDiskPath && m_Operation == -1 && !force)
        return;
    m_LastDiskPath = drive;
    const quint64 freeMB = MediaMonitor::freeDiskSpace(drive);
    // A local English (United States) locale: "," as thousands separator, the process default untouched.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    ui->LABEL_DISK_SPACE->setText("( " + driveNameOf(m_CurrentPath) + " ) Available disk space: "
                                  + english.toString(freeMB) + " MB");
}

int FileManagerWidget::showMessage(const QString &text, bool withCancel)
{
    MessageDlg box;
    box.setMessage(text);
    box.setButtonVisibility(withCancel ? MSG_BUTTON_OK_CANCEL : MSG_BUTTON_OK);
    return box.exec();
}

void FileManagerWidget::on_BUTTON_UNMOUNT_clicked()
{
    const QString fixed = Paths::fixedPath(m_CurrentPath);
    if (fixed.startsWith(QLatin1String("/media/VANTOR SSD")) || atRoot()) {
        ui->BUTTON_UNMOUNT->setEnabled(false);
        return;
    }
    if (showMessage("Are you sure you want to eject the USB drive?", true) != 1)
        return;
    clearDirtyMemory();
    QString label = fixed.mid(QStringLiteral("/media/").size());
    const int slash = label.indexOf('/');
    if (slash > 0)
        label = label.left(slash);
    if (label.isEmpty()) {
        showMessage("<p><b>Error!</b><br/><br/>Cannot find USB drive.</p>", false);
        ui->BUTTON_UNMOUNT->setEnabled(false);
        return;
    }
    emit umountDevice(label);
    bool stillThere = false;
    for (const auto &device : MediaMonitor::deviceList())
        stillThere = stillThere || device.second == label;
    if (stillThere) {
        showMessage(QString("<p><b>Error!</b><br/><br/>'%1' could not be ejected.<br/>Close any file on it and try again.</p>")
                        .arg(label),
                    false);
        return;
    }
    showMessage(QString("<p><b>Safe To Remove Hardware</b><br/><br/>'%1' can now be safely removed from the VANTOR S.</p>")
                    .arg(label),
                false);
    m_CurrentPath = Paths::ssd();
    runLoadingWait(SLOT(slotTreeViewClicked()));
}

void FileManagerWidget::returnToMediaRoot()
{
    m_CurrentPath = Paths::media();
    resetClipboard();
    m_ListRootIndex = m_ListModel->setRootPath(m_CurrentPath);
    m_TreeRootIndex = m_TreeModel->setRootPath(m_CurrentPath);
    ui->TREEVIEW_DIR->expand(m_TreeRootIndex);
    ui->LISTVIEW_FILE->setRootIndex(m_ListRootIndex);
    showDisplayPath();
    for (QPushButton *button : {ui->BUTTON_NEW_FOLDER, ui->BUTTON_COPY, ui->BUTTON_CUT, ui->BUTTON_PASTE,
                                ui->BUTTON_DELETE, ui->BUTTON_RENAME, ui->BUTTON_UNMOUNT, ui->BUTTON_THUMBNAIL})
        button->setEnabled(false);
    ui->BUTTON_CD_UP->setEnabled(false);
}

void FileManagerWidget::slotRemovedDisk(QString label)
{
    if (label.isEmpty())
        return;
    if (driveNameOf(m_CurrentPath) == label)
        returnToMediaRoot();
    // The free-space line never speaks of a drive that is gone, and a drive plugged in under the
    // same name is measured afresh.
    if (driveNameOf(m_LastDiskPath) == label) {
        m_LastDiskPath.clear();
        ui->LABEL_DISK_SPACE->clear();
    }
}

void FileManagerWidget::on_BUTTON_THUMBNAIL_clicked(bool checked)
{
    if (!m_bLoading)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bLoading = true;
    m_bThumbnailOn = checked;
    QTimer::singleShot(500, this, &FileManagerWidget::slotThumbnailViewChanged);
    m_LoadingLimit.start();
    m_LoadingDlg->setMessage(loadingText);
    m_LoadingDlg->setButtonVisibility(MSG_BUTTON_NONE);
    m_LoadingDlg->exec();
}

void FileManagerWidget::slotThumbnailViewChanged()
{
    m_ListIconProvider->setThumbnailOn(m_bThumbnailOn);
    m_ListModel->setIconProvider(m_ListIconProvider.get());
    m_ListModel->setRootPath(m_CurrentPath);
    // The model renews its icons without telling the view: the list is drawn again.
    ui->LISTVIEW_FILE->viewport()->update();
    slotHideMessageDlg();
}

void FileManagerWidget::on_LISTVIEW_FILE_customContextMenuRequested(const QPoint &pos)
{
    showContextMenu(pos, ui->LISTVIEW_FILE->indexAt(pos).isValid());
}

void FileManagerWidget::showContextMenu(const QPoint &pos, bool onItem)
{
    if (atRoot())
        return;
    const bool clipboard = m_bCopied || m_bCut;
    const bool few = m_SelectionModel->selectedIndexes().size() < 2;
    m_NewFolderAction->setEnabled(!onItem);
    m_CopyAction->setEnabled(onItem);
    m_CutAction->setEnabled(onItem);
    m_PasteAction->setEnabled(onItem ? few && clipboard : clipboard);
    m_DeleteAction->setEnabled(onItem);
    m_RenameAction->setEnabled(onItem && few);
    m_ContextMenu->clear();
    m_ContextMenu->addActions({m_NewFolderAction, m_CopyAction, m_CutAction, m_PasteAction, m_DeleteAction, m_RenameAction});
    QAction *chosen = m_ContextMenu->exec(ui->LISTVIEW_FILE->mapToGlobal(pos));
    if (!chosen)
        return;
    const std::pair<QAction *, bool (FileManagerWidget::*)()> commands[] = {
        {m_NewFolderAction, &FileManagerWidget::creatingFolder}, {m_CopyAction, &FileManagerWidget::copying},
        {m_CutAction, &FileManagerWidget::cutting},              {m_PasteAction, &FileManagerWidget::pasting},
        {m_DeleteAction, &FileManagerWidget::deleting},          {m_RenameAction, &FileManagerWidget::renaming}};
    for (const auto &command : commands)
        if (command.first == chosen && !(this->*command.second)() && isEnableSerialLog())
            qDebug().noquote() << "[" + chosen->text() + "] operation has an error";
}

void FileManagerWidget::slotShowTooltip(const QModelIndex &index)
{
    m_bTooltipArmed = true;
    ui->LISTVIEW_FILE->setToolTipDuration(-1);
    ui->LISTVIEW_FILE->setToolTip(VisibleText::escaped(m_ListModel->fileName(index)));
}

bool FileManagerWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (g_CurrentMenu != MENU_FILE_MANAGER)
        return QWidget::eventFilter(watched, event);
    if (watched == ui->LISTVIEW_FILE) {
        if (event->type() == QEvent::Leave || event->type() == QEvent::ChildRemoved) {
            m_bTooltipArmed = false;
            return true;
        }
        if (event->type() == QEvent::ToolTip && !m_bTooltipArmed) {
            ui->LISTVIEW_FILE->setToolTipDuration(0);
            ui->LISTVIEW_FILE->setToolTip(QString());
            QToolTip::hideText();
        }
        return false;
    }
    if (qobject_cast<QMenu *>(watched)
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseButtonDblClick)
        && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FileManagerWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

// ---- File commands ------------------------------------------------------------------------

namespace {
const QString cannotUseName = QStringLiteral("<p><b>Error!</b><br/><br/>This name cannot be used.</p>");
const QString cannotRename = QStringLiteral("<p><b>Error!</b><br/><br/>The name could not be changed.<br/>%1</p>");

// The verb of a paste or delete in the failure message.
QString pastVerb(int mode)
{
    return mode == FileOperationThread::Move ? "moved" : mode == FileOperationThread::Delete ? "deleted" : "copied";
}
} // namespace

int FileManagerWidget::showPreset(int type)
{
    MessageDlg box;
    box.setMsgType(TMessageType(type));
    return box.exec();
}

QString FileManagerWidget::nameProblem(const QString &name)
{
    if (KeyboardDlg::containsUnacceptableCharacter(name))
        return MessageDlg::presetText(MSG_INVALID_FILE_NAME_CHARS);
    bool control = false;
    for (const QChar c : name)
        control = control || c.category() == QChar::Other_Control;
    if (name == "." || name == ".." || control || name.toUtf8().size() > NAME_MAX)
        return cannotUseName;
    return QString();
}

bool FileManagerWidget::askName(QString &name)
{
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setDateTimeConvertFormatOn(true);
    // Shown as the list shows it; given back as shown, the name stays as it is. Edited, its
    // escapes, while whole, still stand for the characters they show; a broken one is text.
    const QString shown = VisibleText::escaped(name);
    keyboard.setText(shown);
    if (keyboard.exec() != 1)
        return false;
    if (keyboard.text() == shown)
        return true;
    if (!VisibleText::unescaped(keyboard.text(), &name))
        name = keyboard.text();
    const QString problem = nameProblem(name);
    if (problem.isEmpty())
        return true;
    if (problem == MessageDlg::presetText(MSG_INVALID_FILE_NAME_CHARS))
        showPreset(MSG_INVALID_FILE_NAME_CHARS);
    else
        showMessage(problem, false);
    return false;
}

void FileManagerWidget::runEntryWait(const QString &path)
{
    if (!m_bLoading)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    m_bLoading = true;
    setEnabled(false);
    m_AwaitedEntry = path;
    m_EntryPoll.start();
    m_LoadingLimit.start();
    m_LoadingDlg->setMessage(loadingText);
    m_LoadingDlg->setButtonVisibility(MSG_BUTTON_NONE);
    m_LoadingDlg->exec();
}

void FileManagerWidget::slotEntryPoll()
{
    if (!m_bLoading)
        m_EntryPoll.stop();
    else if (isListed(m_AwaitedEntry))
        slotHideMessageDlg();
}

// Looked for among the rows the list holds: asking the model for the index of a path it has not
// met yet reads the file's details on this thread.
bool FileManagerWidget::isListed(const QString &path) const
{
    const QString name = path.section('/', -1);
    for (int row = m_ListModel->rowCount(m_ListRootIndex) - 1; row >= 0; --row)
        if (m_ListModel->index(row, 0, m_ListRootIndex).data(QFileSystemModel::FileNameRole).toString() == name)
            return true;
    return false;
}

bool FileManagerWidget::creatingFolder()
{
    if (MediaMonitor::freeDiskSpace(m_CurrentPath) == 0) {
        showPreset(MSG_INSUFFICIENT_DISK_SPACE);
        return false;
    }
    QString name;
    if (!askName(name))
        return false;
    m_Operation = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
    // Another counter only while the name is taken; any other refusal ends here.
    QString made = name;
    int error = 0;
    for (qint64 n = 1; ::mkdir(QFile::encodeName(m_CurrentPath + '/' + made).constData(), 0777) != 0; ++n) {
        if ((error = errno) != EEXIST)
            break;
        made = QString("%1(%2)").arg(name, QString::number(n));
        error = 0;
    }
    m_Operation = -1;
    QApplication::restoreOverrideCursor();
    if (error != 0) {
        setEnabled(true);
        showMessage(QString("<p><b>Error!</b><br/><br/>The folder could not be made.<br/>%1</p>")
                        .arg(FileCopier::reason(error)),
                    false);
        return false;
    }
    runEntryWait(m_CurrentPath + '/' + made);
    SystemActions::instance().sync();
    return true;
}

bool FileManagerWidget::renaming()
{
    const QStringList selected = selectedPaths();
    if (selected.isEmpty())
        return false;
    const QFileInfo info(selected.first());
    // Folders are renamed whole; files keep their last suffix.
    const QString suffix = info.isDir() ? QString() : info.suffix();
    QString name = info.isDir() ? info.fileName() : info.completeBaseName();
    if (!askName(name))
        return false;
    const QString target = info.absolutePath() + '/' + name + (suffix.isEmpty() ? QString() : '.' + suffix);
    if (target == info.absoluteFilePath())
        return true;
    m_Operation = 5;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
    const int error = FileCopier::renameWithoutReplacing(AT_FDCWD, QFile::encodeName(info.absoluteFilePath()),
                                                         AT_FDCWD, QFile::encodeName(target));
    const bool renamed = error == 0;
    m_Operation = -1;
    QApplication::restoreOverrideCursor();
    if (renamed) {
        runEntryWait(target);
        SystemActions::instance().sync();
        return true;
    }
    setEnabled(true);
    if (error == EEXIST || error == ENOTEMPTY)
        showPreset(MSG_NAME_IN_USE);
    else
        showMessage(cannotRename.arg(FileCopier::reason(error)), false);
    return true;
}

QStringList FileManagerWidget::selectedPaths() const
{
    QStringList paths;
    for (const QModelIndex &index : m_SelectionModel->selectedIndexes())
        if (index.column() == 0)
            paths << m_ListModel->fileInfo(index).absoluteFilePath();
    return paths;
}

void FileManagerWidget::fileSizeAndCount(const QString &path, float &sizeMiB, long long &bytes, unsigned int &count)
{
    qint64 added = 0;
    quint32 files = 0;
    FileOperationThread::measure(path, &added, &files);
    sizeMiB += float(double(added) / 1048576.0);
    bytes += added;
    count += files;
}

void FileManagerWidget::measure(const QStringList &paths)
{
    m_TotalSizeMiB = 0;
    m_TotalFileCount = 0;
    long long bytes = 0;
    for (const QString &path : paths)
        fileSizeAndCount(path, m_TotalSizeMiB, bytes, m_TotalFileCount);
    m_TotalBytes = bytes;
}

bool FileManagerWidget::takeSelection(int operation, bool cut)
{
    m_Operation = operation;
    ScopedBusyCursor busy;
    setFileOperationButtonState(false);
    m_ClipboardList = selectedPaths();
    measure(m_ClipboardList);
    // The last of Copy and Cut decides what Paste does.
    m_bCut = cut;
    m_bCopied = !cut;
    setFileOperationButtonState(true);
    m_Operation = -1;
    return true;
}

bool FileManagerWidget::copying()
{
    return takeSelection(1, false);
}

bool FileManagerWidget::cutting()
{
    return takeSelection(2, true);
}

QString FileManagerWidget::pasteDestination() const
{
    if (!m_bHasSelection)
        return m_CurrentPath;
    const QModelIndex current = m_SelectionModel->currentIndex();
    if (!current.isValid())
        return m_CurrentPath;
    const QFileInfo info = m_ListModel->fileInfo(current);
    return info.isDir() ? info.absoluteFilePath() : info.absolutePath();
}

void FileManagerWidget::prepareProgress()
{
    m_ProgressDlg->initialize();
    m_ProgressDlg->setNumboerOfFiles(int(m_TotalFileCount));
    m_ProgressDlg->setTotalFileSize(m_TotalBytes);
    m_ProgressDlg->setState(PROGRESS_STARTED);
}

void FileManagerWidget::startWorker(int mode, const QStringList &sources, const QString &destination)
{
    m_FileOperationThread->m_bStop = false;
    m_FileOperationThread->setLocations(sources, destination);
    m_FileOperationThread->m_Mode = mode;
    if (sources.isEmpty())
        return;
    m_FileOperationThread->start(QThread::InheritPriority);
    m_FileOperationThread->setPriority(QThread::HighestPriority);
    m_ProgressDlg->exec();
}

void FileManagerWidget::concurrentPasting(const QStringList &sources, const QString &destination)
{
    startWorker(m_bCut ? FileOperationThread::Move : FileOperationThread::Copy, sources, destination);
}

void FileManagerWidget::concurrentDeleting(const QStringList &sources)
{
    startWorker(FileOperationThread::Delete, sources, QString());
}

void FileManagerWidget::reportFailures(int mode, int goneEntries, int measuredFiles)
{
    const auto failures = m_FileOperationThread->failures();
    for (const auto &failure : failures)
        qWarning().noquote() << "File manager:" << failure.path << "-" << failure.reason;
    const int total = measuredFiles + goneEntries;
    if (m_FileOperationThread->driveRemoved()) {
        const int notDone = qMax(0, total - m_FileOperationThread->doneFileCount());
        showMessage(QString("<p><b>Error!</b><br/><br/>The drive was removed.<br/>%1 of %2 files were not %3.</p>")
                        .arg(notDone)
                        .arg(total)
                        .arg(pastVerb(mode)),
                    false);
        return;
    }
    const int failed = m_FileOperationThread->failedFileCount() + goneEntries;
    if (failed > 0)
        showMessage(QString("<p><b>Error!</b><br/><br/>%1 of %2 files could not be %3.</p>")
                        .arg(failed)
                        .arg(qMax(failed, total))
                        .arg(pastVerb(mode)),
                    false);
}

bool FileManagerWidget::pasting()
{
    // Megabytes of 1,000,000 bytes against bytes.
    if (MediaMonitor::freeDiskSpace(m_CurrentPath) * 1000000ull < quint64(qMax<qint64>(0, m_TotalBytes))) {
        showPreset(MSG_INSUFFICIENT_DISK_SPACE);
        return false;
    }
    QElapsedTimer timer;
    {
        ScopedBusyCursor busy;
        m_Operation = 3;
        const QString destination = pasteDestination();
        // Entries gone since Copy or Cut are passed over and reported.
        QStringList sources;
        int gone = 0;
        for (const QString &path : m_ClipboardList) {
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                sources << path;
            else
                ++gone;
        }
        measure(sources);
        const QString target = QDir::cleanPath(destination);
        bool intoItself = false;
        for (const QString &source : sources)
            intoItself = intoItself || target == source || target.startsWith(source + '/');
        if (intoItself) {
            showPreset(MSG_COPY_FOLDER_INTO_ITSELF);
        } else {
            const int mode = m_bCut ? FileOperationThread::Move : FileOperationThread::Copy;
            const int files = int(m_TotalFileCount); // the removal of a drive clears the page's totals
            prepareProgress();
            timer.start();
            concurrentPasting(sources, destination);
            rereadCurrentFolder();
            updateDiskSpace(false);
            if (isEnableSerialLog())
                qDebug().noquote() << "Copy time : " + QString::number(timer.elapsed());
            reportFailures(mode, gone, files);
        }
    }
    m_Operation = -1;
    return true;
}

// The list learns of new entries from the file-system watcher, which reports seconds late: the
// folder shown is read again at once. Leaving it for its parent and coming back makes the model
// list it anew; the selection and the command buttons stay as they were.
void FileManagerWidget::rereadCurrentFolder()
{
    const bool hadSelection = m_SelectionModel->hasSelection();
    m_ListModel->setRootPath(QFileInfo(m_CurrentPath).absolutePath());
    m_ListRootIndex = m_ListModel->setRootPath(m_CurrentPath);
    ui->LISTVIEW_FILE->setRootIndex(m_ListRootIndex);
    setFileOperationButtonState(hadSelection);
}

bool FileManagerWidget::deleting()
{
    m_Operation = 4;
    if (showPreset(MSG_DELETE_FILES) == 1) {
        ScopedBusyCursor busy;
        setFileOperationButtonState(false);
        m_DeleteList.clear();
        int gone = 0;
        for (const QString &path : selectedPaths()) {
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                m_DeleteList << path;
            else
                ++gone;
        }
        measure(m_DeleteList);
        const int files = int(m_TotalFileCount);
        prepareProgress();
        concurrentDeleting(m_DeleteList);
        FileIconProvider::forgetThumbnails(m_DeleteList);
        updateDiskSpace(false);
        setFileOperationButtonState(true);
        reportFailures(FileOperationThread::Delete, gone, files);
    }
    m_Operation = -1;
    return true;
}

void FileManagerWidget::slotFileOperationCompleted()
{
    if (m_bCut) {
        // A moved clipboard cannot be pasted again.
        m_bCopied = m_bCut = false;
        m_ClipboardList.clear();
        setFileOperationButtonState(false);
    }
    emit signalCompltedFileOperation(PROGRESS_ENDED);
}

void FileManagerWidget::slotStoppedFileOperation(bool)
{
    m_FileOperationThread->m_bStop = true;
    m_FileOperationThread->requestInterruption();
    m_FileOperationThread->wait();
    m_FileOperationThread->quit();
    m_FileOperationThread->wait();
}

void FileManagerWidget::on_BUTTON_NEW_FOLDER_clicked()
{
    creatingFolder();
}

void FileManagerWidget::on_BUTTON_COPY_clicked()
{
    copying();
}

void FileManagerWidget::on_BUTTON_CUT_clicked()
{
    cutting();
}

void FileManagerWidget::on_BUTTON_PASTE_clicked()
{
    QElapsedTimer timer;
    timer.start();
    pasting();
    qDebug().noquote() << QString("pasting = %1sec.").arg(double(timer.nsecsElapsed()) / 1e9);
}

void FileManagerWidget::on_BUTTON_DELETE_clicked()
{
    deleting();
}

void FileManagerWidget::on_BUTTON_RENAME_clicked()
{
    renaming();
}

void FileManagerWidget::on_BUTTON_COPY_TEST_clicked()
{
    copying();
    if (m_ClipboardList.size() != 1) {
        showMessage("Only 1 file copy supported.", false);
        return;
    }
    QTimer::singleShot(500, this, &FileManagerWidget::slotTest);
    m_CopyTestDlg = new MessageDlg;
    m_CopyTestDlg->setMessage("Test pasting ...");
    m_CopyTestDlg->setButtonVisibility(MSG_BUTTON_OK);
    m_CopyTestDlg->setButtonText("Stop", "Cancel");
    m_CopyTestDlg->setSignalMode(true);
    connect(m_CopyTestDlg, &MessageDlg::signalOKClicked, this, &FileManagerWidget::slotOKClicked);
    m_CopyTestDlg->exec();
    if (m_CopyTestDlg)
        m_CopyTestDlg->deleteLater();
}

void FileManagerWidget::slotTest()
{
    for (int left = ui->SPINBOX_TEST->value(); left > 0 && m_CopyTestDlg; --left) {
        pasting();
        // Exactly the file this paste wrote goes again, whatever name it was given.
        for (const QString &written : m_FileOperationThread->writtenTargets())
            QFile::remove(written);
        SystemActions::instance().sync();
        ui->SPINBOX_TEST->setValue(left - 1);
        qProcessEvents(QEventLoop::AllEvents);
    }
    if (m_CopyTestDlg) {
        m_CopyTestDlg->close();
        m_CopyTestDlg->deleteLater();
    }
}

void FileManagerWidget::slotOKClicked()
{
    if (!m_CopyTestDlg)
        return;
    disconnect(m_CopyTestDlg, &MessageDlg::signalOKClicked, this, &FileManagerWidget::slotOKClicked);
    m_CopyTestDlg->close();
    m_CopyTestDlg->deleteLater();
}
