#pragma once
#include "ScriptableDialog.h"

#include <QFileInfo>
#include <QList>

namespace Ui {
class ErrorReportDlg;
}

// Carries the crash reports left in /root ("vantor.error*") to the first USB drive; at start-up it
// first asks about the abnormal termination that left a crash marker ("exist.error*").
class ErrorReportDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    enum ErrorReportStep : int {
        STEP_COPY = 0,     // asks for a USB drive
        STEP_QUESTION = 1, // the start-up question after an abnormal termination
    };

    explicit ErrorReportDlg(QWidget *parent = nullptr);
    ~ErrorReportDlg() override;

    void setState(ErrorReportStep step);
    ErrorReportStep state() const { return m_nStep; }
    // Replaces list with the crash markers (markers true: "exist.error*") or the reports
    // ("vantor.error*") in /root, regular files only; true when there is at least one.
    bool checkErrorReport(QList<QFileInfo> &list, bool markers);
    // Deletes every crash marker; failures are ignored.
    void removeDetectionFiles();
    // Copies the reports to the first drive other than the SSD as
    // "/media/<label>/<name>_<version>_<ddMMyyyy_hhmm>", never overwriting; each report is flushed
    // to the drive before its source is deleted. True only when every report was copied; the
    // markers are deleted then. False with no drive or no report.
    bool copyErrorReportFile(QList<QFileInfo> &list);

private slots:
    void on_BUTTON_START_clicked();
    void on_BUTTON_EXIT_clicked();
    void on_BUTTON_CANCEL_clicked();

private:
    // Shows message with the first button (labelled start) and Cancel, or with Exit alone.
    void showStep(const QString &message, const QString &start);
    void showEnd(const QString &message);

    ErrorReportStep m_nStep = STEP_COPY;
    const QString m_InsertDrive;
    const QString m_NoReport;
    const QString m_Saved;
    const QString m_NoDrive;
    const QString m_Question;
    Ui::ErrorReportDlg *ui;
};
