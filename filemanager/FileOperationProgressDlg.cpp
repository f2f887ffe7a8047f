#include "FileOperationProgressDlg.h"
#include "ui_FileOperationProgressDlg.h"

#include "Utilities.h"
#include "VisibleText.h"

#include <QGuiApplication>
#include <QScreen>

FileOperationProgressDlg::FileOperationProgressDlg(QWidget *parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
    , ui(new Ui_FileOperationProgressDlg)
{
    ui->setupUi(this);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.width() / 2 - width() / 2, area.height() / 2 - height() / 2);
    }
}

FileOperationProgressDlg::~FileOperationProgressDlg()
{
    delete ui;
}

void FileOperationProgressDlg::clearFigures()
{
    ui->LABEL_REMAINING_TIME_INFO->clear();
    ui->LABEL_REMAINING_ITEM_INFO->clear();
    ui->LABEL_SPEED_INFO->clear();
}

void FileOperationProgressDlg::initialize()
{
    m_NumberOfFiles = m_ProcessedFileCount = 0;
    m_TotalFileSize = m_ProcessedFileSize = 0;
    m_bCancelled = false;
    ui->LABEL_PASTE_INFO->clear();
    clearFigures();
    ui->PROGRESSBAR->setValue(0);
    setEnabled(true);
}

void FileOperationProgressDlg::setNumboerOfFiles(int count)
{
    m_NumberOfFiles = count;
}

void FileOperationProgressDlg::setTotalFileSize(qint64 bytes)
{
    m_TotalFileSize = bytes;
}

void FileOperationProgressDlg::setState(TProgressState state)
{
    if (state == PROGRESS_STARTED) {
        m_StartTime.start();
    } else if (state == PROGRESS_ENDED) {
        ui->PROGRESSBAR->setValue(100);
        setEnabled(false);
        ui->LABEL_PASTE_INFO->setText("<p><b>Synchronizing ...</b></p>");
        clearFigures();
        qProcessEvents(QEventLoop::ExcludeUserInputEvents);
        repaint();
        clearDirtyMemory();
        accept();
    }
}

QString FileOperationProgressDlg::actionText(int method, const QString &srcPath, const QString &dstPath)
{
    // The paths are shown as they are named: "&" or "<" in a name is no markup, and a control or
    // format character is shown as the list shows it.
    const QString from = VisibleText::escaped(srcPath).toHtmlEscaped(), to = VisibleText::escaped(dstPath).toHtmlEscaped();
    switch (method) {
    case 1:
        return QString("<p><b>Copying from</b> %1 <b>to</b> %2</p>").arg(from, to);
    case 2:
        return QString("<p><b>Moving from</b> %1 <b>to</b> %2</p>").arg(from, to);
    case 4:
        return QString("<p><b>Deleting from</b> %1").arg(from);
    default:
        return QString();
    }
}

FileOperationProgressDlg::Figures FileOperationProgressDlg::figures(qint64 totalBytes, qint64 processedBytes,
                                                                   int totalItems, int processedItems,
                                                                   qint64 elapsedMs)
{
    Figures out;
    // No total (empty files only): the bar waits at 0 for the completion.
    if (totalBytes > 0) {
        const int percent = int(float(processedBytes) / float(totalBytes) * 100.0f);
        out.bar = percent <= 100 ? percent : -1;
    }
    const qint64 seconds = elapsedMs / 1000;
    if (seconds <= 0)
        return out;
    const qint64 bytesPerSecond = processedBytes / seconds;
    // Nothing measurable moved yet: no finite time, so none is promised.
    const qint64 remaining =
        bytesPerSecond > 0 ? qint64(float(totalBytes - processedBytes) / float(bytesPerSecond)) : 0;
    if (remaining < 2)
        out.remainingTime = "< 1 sec.";
    else if (remaining < 60)
        out.remainingTime = QString("%1 sec.").arg(remaining);
    else
        out.remainingTime = QString("%1 min %2 sec.").arg(remaining / 60).arg(remaining % 60);
    const int items = qMax(0, totalItems - processedItems);
    const qint64 megabytes = qMax<qint64>(0, qint64(double(totalBytes - processedBytes) / 1000000.0));
    out.remainingItems = QString("%1 (%2 MB)").arg(items).arg(megabytes);
    out.speed = QString("%1 MB/sec.").arg(double(float(bytesPerSecond) / 1000000.0f), 0, 'f', 1);
    return out;
}

void FileOperationProgressDlg::slotFileOperating(int method, qlonglong fileSize, QString srcPath, QString dstDirPath)
{
    if (m_bCancelled)
        return;
    m_ProcessedFileSize += fileSize;
    ++m_ProcessedFileCount;
    const Figures now = figures(m_TotalFileSize, m_ProcessedFileSize, m_NumberOfFiles, m_ProcessedFileCount,
                                m_StartTime.isValid() ? m_StartTime.elapsed() : 0);
    if (now.bar >= 0)
        ui->PROGRESSBAR->setValue(now.bar);
    ui->LABEL_PASTE_INFO->setText(actionText(method, srcPath, dstDirPath));
    if (!now.remainingTime.isEmpty()) {
        ui->LABEL_REMAINING_TIME_INFO->setText(now.remainingTime);
        ui->LABEL_REMAINING_ITEM_INFO->setText(now.remainingItems);
        ui->LABEL_SPEED_INFO->setText(now.speed);
    }
    repaint();
}

void FileOperationProgressDlg::slotCompletedFileOperation(int state)
{
    setState(TProgressState(state));
}

void FileOperationProgressDlg::on_BUTTON_CANCEL_clicked()
{
    m_bCancelled = true;
    setEnabled(false);
    ui->LABEL_PASTE_INFO->setText("<p><b>Cancelling ...</b></p>");
    clearFigures();
    // Painted now: the page blocks in its wait for the worker next.
    repaint();
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit signalFileOperationIsStopped(true);
}
