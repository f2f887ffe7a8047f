#pragma once
#include "ScriptableDialog.h"

#include <QFileInfo>
#include <QList>

// Carries the crash reports left in /root to a USB drive; at start-up it first asks about the
// abnormal termination that left a crash marker.
class ErrorReportDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    enum ErrorReportStep : int {
        STEP_COPY = 0,     // asks for a USB drive
        STEP_QUESTION = 1, // the start-up question after an abnormal termination
    };

    explicit ErrorReportDlg(QWidget *parent = nullptr);

    void setState(ErrorReportStep step);
    ErrorReportStep state() const { return m_nStep; }
    // Replaces list with the crash markers (markers true: "exist.error*") or the reports
    // ("vantor.error*") in /root, regular files only; true when there is at least one.
    bool checkErrorReport(QList<QFileInfo> &list, bool markers);
    // Deletes every crash marker; failures are ignored.
    void removeDetectionFiles();

private slots:
    void on_BUTTON_CANCEL_clicked();

private:
    ErrorReportStep m_nStep = STEP_COPY;
};
