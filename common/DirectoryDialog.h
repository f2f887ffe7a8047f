#pragma once
#include "ScriptableDialog.h"

#include <QModelIndex>
#include <QString>
#include <memory>

class FileIconProvider;
class QFileSystemModel;
class Ui_DirectoryDialog;

// Folder chooser over the mounted volumes, all of which live below "/media" (Paths::media()).
// It lists the sub-folders and image files of one folder, goes into a folder on a double tap and
// up with Cd-up, never above "/media". OK returns the folder shown (not "/media" itself).
//
// Usual use: construct, exec() (see ScriptableDialog for scripting), and on 1 getSelectedPath().
// It starts in g_PreviouslySavedPath when that is an existing folder below "/media".
class DirectoryDialog : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit DirectoryDialog(QWidget *parent = nullptr);
    ~DirectoryDialog() override;

    QString getSelectedPath() const { return m_SelectedPath; }
    void initialize();
    void makeSignalSlotConnection();

private slots:
    void on_BUTTON_APPLY_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_BUTTON_CD_UP_clicked();
    void on_LISTVIEW_BROWSER_doubleClicked(const QModelIndex &index);
    void slotDirectoryLoaded(QString path);

private:
    // Shows path: the model's root, the list, the path label and Cd-up follow it.
    void showFolder(const QString &path);
    void setButtonsEnabled(bool on);
    bool isMediaRoot(const QString &path) const;
    bool isBelowMedia(const QString &path) const;

    QString m_SelectedPath;
    QFileSystemModel *m_pModel = nullptr;
    std::unique_ptr<FileIconProvider> m_pIconProvider;
    Ui_DirectoryDialog *ui;
};
