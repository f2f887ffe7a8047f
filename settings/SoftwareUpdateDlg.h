#pragma once
#include "ScriptableDialog.h"

#include <QPixmap>
#include <QString>
#include <QTimer>

class SoftwareUpdateThread;
namespace Ui {
class SoftwareUpdateDlg;
}

// Updates the software from a package "vantors_*_*_*.vts" on a USB drive in one pass: Start looks
// for a package whose version differs from the installed one, OK installs it on a worker thread
// while a bar grows with time, and after a success Restart tells the opener to restart the
// instrument. The dialog itself writes nothing; the worker does.
class SoftwareUpdateDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    enum State : int {
        STATE_START = 0,
        STATE_NOT_DETECTED = 1,
        STATE_DETECTED = 2,
        STATE_UPDATING = 3,
        STATE_COMPLETE = 4,
        STATE_FAILED = 5,
    };

    explicit SoftwareUpdateDlg(QWidget *parent = nullptr);
    // Waits for a running worker to end, then deletes it.
    ~SoftwareUpdateDlg() override;

    // Finds the first package on the first USB drive holding any (the SSD is never searched) and
    // keeps its path and version; true when its version differs from [NIMBO] Version.
    bool checkNewSoftware();
    // Starts the worker on the chosen package and the progress bar.
    void updateSoftware();
    // Restart was pressed after a completed update.
    bool softwareUpdated() const { return m_bUpdated; }

    int state() const { return m_State; }
    QString updateFilePath() const { return m_UpdateFilePath; }
    QString updateVersion() const { return m_UpdateVersion; }
    int progressWidth() const { return m_ProgressWidth; }

    // The package's version string: the file name less ".vts", after the first "_".
    static QString versionOf(const QString &fileName);

public slots:
    void completedSoftwareUpdate(bool result);
    // Only Cancel, Exit and Restart close the dialog; never while the update runs.
    void reject() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_START_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_BUTTON_EXIT_clicked();
    void on_BUTTON_RESTART_clicked();

private:
    // Shows these buttons and hides the others.
    void showOnly(std::initializer_list<QWidget *> buttons);

    SoftwareUpdateThread *m_pUpdateThread = nullptr;
    int m_State = STATE_START;
    int m_ProgressWidth = 0;
    bool m_bProgressRunning = false;
    bool m_bProgressFull = false;
    const QString m_StartMessage;
    const QString m_NotDetectedMessage;
    const QString m_DetectedMessage;
    const QString m_UpdatingMessage;
    const QString m_CompleteMessage;
    const QString m_FailedMessage;
    QTimer m_Timer;
    QString m_UpdateFilePath;
    QString m_UpdateVersion;
    QPixmap m_ProgressFill;
    QPixmap m_ProgressTrack;
    bool m_bUpdated = false;
    Ui::SoftwareUpdateDlg *ui;
};
