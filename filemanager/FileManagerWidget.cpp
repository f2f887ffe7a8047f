#include "FileManagerWidget.h"
#include "ui_FileManagerWidget.h"

#include "FileIconProvider.h"
#include "Globals.h"
#include "ImageThumbnailReader.h"
#include "ImageViewerDlg.h"
#include "MediaMonitor.h"
#include "MediaPath.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "Utilities.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QToolTip>

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
    delete ui;
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
    m_DisplayPath = displayPathOf(m_CurrentPath);
    ui->LABEL_CURRENT_PATH->setText(m_DisplayPath);

    m_TreeIconProvider = std::make_unique<FileIconProvider>();
    m_TreeModel = new QFileSystemModel(this);
    m_TreeModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_TreeModel->setIconProvider(m_TreeIconProvider.get());
    m_TreeRootIndex = m_TreeModel->setRootPath(m_CurrentPath);
    m_TreeModel->sort(0, Qt::AscendingOrder);
    ui->TREEVIEW_DIR->setModel(m_TreeModel);
    for (int column = 1; column < m_TreeModel->columnCount(); ++column)
        ui->TREEVIEW_DIR->hideColumn(column);
    ui->TREEVIEW_DIR->header()->hide();
    ui->TREEVIEW_DIR->sortByColumn(0, Qt::AscendingOrder);
    ui->TREEVIEW_DIR->setExpandsOnDoubleClick(true);
    ui->TREEVIEW_DIR->setRootIndex(m_TreeRootIndex);

    m_ListIconProvider = std::make_unique<FileIconProvider>();
    m_ListIconProvider->setThumbnailReader(&ImageThumbnailReader::read);
    m_ListModel = new QFileSystemModel(this);
    m_ListModel->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    m_ListModel->setNameFilters({"*.tif", "*.tiff", "*.png", "*.jpg", "*.jpeg", "*.bmp", "*.csv", "*.mp4"});
    m_ListModel->setNameFilterDisables(false);
    m_ListModel->setReadOnly(false);
    m_ListModel->setIconProvider(m_ListIconProvider.get());
    m_ListRootIndex = m_ListModel->setRootPath(m_CurrentPath);
    m_ListModel->sort(0, Qt::AscendingOrder);
    ui->LISTVIEW_FILE->setModel(m_ListModel);
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
}

void FileManagerWidget::makeConnectionSignalAndSlot()
{
    connect(m_ListModel, &QFileSystemModel::directoryLoaded, this, &FileManagerWidget::slotDirectoryLoaded);
    connect(m_ListModel, &QFileSystemModel::rootPathChanged, this, &FileManagerWidget::slotRootPathChanged);
    connect(ui->LISTVIEW_FILE, &QListView::entered, this, &FileManagerWidget::slotShowTooltip);
    connect(m_SelectionModel, &QItemSelectionModel::selectionChanged, this, &FileManagerWidget::slotChangeSelection);
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
    m_DisplayPath = displayPathOf(m_CurrentPath);
    ui->LABEL_CURRENT_PATH->setText(m_DisplayPath);
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
    m_DisplayPath = displayPathOf(m_CurrentPath);
    ui->LABEL_CURRENT_PATH->setText(m_DisplayPath);
    for (QPushButton *button : {ui->BUTTON_NEW_FOLDER, ui->BUTTON_COPY, ui->BUTTON_CUT, ui->BUTTON_PASTE,
                                ui->BUTTON_DELETE, ui->BUTTON_RENAME, ui->BUTTON_UNMOUNT, ui->BUTTON_THUMBNAIL})
        button->setEnabled(false);
    ui->BUTTON_CD_UP->setEnabled(false);
}

void FileManagerWidget::slotRemovedDisk(QString label)
{
    if (driveNameOf(m_CurrentPath) == label && !label.isEmpty())
        returnToMediaRoot();
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
    m_ContextMenu->exec(ui->LISTVIEW_FILE->mapToGlobal(pos));
}

void FileManagerWidget::slotShowTooltip(const QModelIndex &index)
{
    m_bTooltipArmed = true;
    ui->LISTVIEW_FILE->setToolTipDuration(-1);
    ui->LISTVIEW_FILE->setToolTip(m_ListModel->fileName(index));
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
