#include "DirectoryDialog.h"

#include "FileIconProvider.h"
#include "Globals.h"
#include "MediaPath.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "ui_DirectoryDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QTimer>

namespace {
// OK and Cancel wait for the model to read a folder, but never longer than this.
constexpr int kLoadTimeoutMs = 3000;
}

DirectoryDialog::DirectoryDialog(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , ui(new Ui_DirectoryDialog)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    initialize();
}

DirectoryDialog::~DirectoryDialog()
{
    // The model refers to the icon provider: let it go first.
    delete m_pModel;
    delete ui;
}

bool DirectoryDialog::isMediaRoot(const QString &path) const
{
    return MediaPath::isMediaRoot(path);
}

bool DirectoryDialog::isBelowMedia(const QString &path) const
{
    return MediaPath::isBelowMedia(path);
}

void DirectoryDialog::initialize()
{
    m_pModel = new QFileSystemModel(this);
    const QString remembered = QDir::cleanPath(g_PreviouslySavedPath);
    // Only folders on the volumes are offered: anything else starts the chooser at "/media".
    if (!g_PreviouslySavedPath.isEmpty() && QFileInfo(remembered).isDir()
        && (isMediaRoot(remembered) || isBelowMedia(remembered))) {
        m_SelectedPath = remembered;
    } else {
        m_SelectedPath = QDir::cleanPath(Paths::media());
        g_PreviouslySavedPath = m_SelectedPath;
    }
    m_pModel->setFilter(QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot);
    m_pModel->setNameFilters({"*.tif", "*.png", "*.jpg", "*.bmp"});
    m_pModel->setNameFilterDisables(false);
    m_pModel->setReadOnly(false);
    m_pIconProvider = std::make_unique<FileIconProvider>();
    m_pModel->setIconProvider(m_pIconProvider.get());
    ui->LISTVIEW_BROWSER->setModel(m_pModel);
    makeSignalSlotConnection();
    showFolder(m_SelectedPath);
}

void DirectoryDialog::makeSignalSlotConnection()
{
    connect(m_pModel, &QFileSystemModel::directoryLoaded, this, &DirectoryDialog::slotDirectoryLoaded,
            Qt::UniqueConnection);
}

void DirectoryDialog::showFolder(const QString &path)
{
    m_SelectedPath = path;
    const QModelIndex root = m_pModel->setRootPath(path);
    ui->LISTVIEW_BROWSER->setRootIndex(root);
    const bool atMedia = isMediaRoot(path);
    ui->LABEL_CURRENT_PATH->setText(MediaPath::label(path));
    ui->BUTTON_CD_UP->setEnabled(!atMedia);
}

void DirectoryDialog::setButtonsEnabled(bool on)
{
    ui->BUTTON_APPLY->setEnabled(on);
    ui->BUTTON_CANCEL->setEnabled(on);
}

void DirectoryDialog::on_LISTVIEW_BROWSER_doubleClicked(const QModelIndex &index)
{
    const QString path = m_pModel->filePath(index);
    if (path == m_SelectedPath || !m_pModel->isDir(index))
        return;
    setCursor(Qt::BusyCursor);
    // OK and Cancel come back when the model has read the folder (at once when it had already).
    setButtonsEnabled(false);
    showFolder(path);
    if (!m_pModel->canFetchMore(m_pModel->index(path)))
        slotDirectoryLoaded(path);
    QTimer::singleShot(kLoadTimeoutMs, this, [this] { slotDirectoryLoaded(m_SelectedPath); });
    setCursor(Qt::ArrowCursor);
}

void DirectoryDialog::slotDirectoryLoaded(QString)
{
    setButtonsEnabled(true);
    setCursor(Qt::ArrowCursor);
}

void DirectoryDialog::on_BUTTON_CD_UP_clicked()
{
    if (isMediaRoot(m_SelectedPath))
        return;
    const QString parent = QFileInfo(m_SelectedPath).path();
    // Never above the volumes.
    showFolder(isBelowMedia(parent) ? parent : QDir::cleanPath(Paths::media()));
}

void DirectoryDialog::on_BUTTON_APPLY_clicked()
{
    if (ui->LABEL_CURRENT_PATH->text() == "/") {
        MessageDlg message(this);
        message.setMsgType(MSG_CURRENT_PATH_EMPTY);
        message.exec();
        return;
    }
    accept();
}

void DirectoryDialog::on_BUTTON_CANCEL_clicked()
{
    reject();
}
