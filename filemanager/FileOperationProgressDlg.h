#pragma once
#include <QDialog>
#include <QElapsedTimer>

class Ui_FileOperationProgressDlg;

// The state given to FileOperationProgressDlg::setState.
enum TProgressState : int {
    PROGRESS_STARTED = 0,
    PROGRESS_ENDED = 1, // also after a cancel
};

// The modal progress window of the file manager's paste and delete: what is done with which file,
// the time left, the items and megabytes left, the speed, a percentage bar and Cancel. The page
// resets it (initialize, the totals, setState(PROGRESS_STARTED)), starts the worker, whose
// signals reach slotFileOperating, and runs exec(); the end (slotCompletedFileOperation)
// shows "Synchronizing ...", waits until the kernel has written every dirty buffer out
// (clearDirtyMemory) and accepts. Cancel only tells the page (signalFileOperationIsStopped);
// later progress signals are ignored. Sizes shown are megabytes of 1,000,000 bytes.
class FileOperationProgressDlg : public QDialog
{
    Q_OBJECT
public:
    explicit FileOperationProgressDlg(QWidget *parent = nullptr);
    ~FileOperationProgressDlg() override;

    void initialize();
    void setNumboerOfFiles(int count);
    void setTotalFileSize(qint64 bytes);
    void setState(TProgressState state);

    // The three figure texts for a moment of the run; empty texts while less than one whole
    // second has passed. bar is the percentage to show, or -1 to leave the bar as it is.
    struct Figures
    {
        QString remainingTime;
        QString remainingItems;
        QString speed;
        int bar = -1;
    };
    static Figures figures(qint64 totalBytes, qint64 processedBytes, int totalItems, int processedItems,
                           qint64 elapsedMs);
    // The action text of a progress signal.
    static QString actionText(int method, const QString &srcPath, const QString &dstPath);

signals:
    void signalFileOperationIsStopped(bool stopped);

public slots:
    void slotFileOperating(int method, qlonglong fileSize, QString srcPath, QString dstDirPath);
    void slotCompletedFileOperation(int state);

private slots:
    void on_BUTTON_CANCEL_clicked();

private:
    void clearFigures();

    qint64 m_TotalFileSize = 0;
    int m_NumberOfFiles = 0;
    qint64 m_ProcessedFileSize = 0;
    int m_ProcessedFileCount = 0;
    bool m_bCancelled = false;
    QElapsedTimer m_StartTime;
    Ui_FileOperationProgressDlg *ui;
};
