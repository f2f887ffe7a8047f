#include "ErrorReportDlg.h"
#include "ScopedBusyCursor.h"
#include "ui_ErrorReportDlg.h"

#include "MediaMonitor.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SystemActions.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

// Copies source to target, never over an existing file, and writes the copy through to the drive.
bool copyAndFlush(const QString &source, const QString &target)
{
    if (!QFile::copy(source, target))
        return false;
    QFile copy(target);
    if (copy.open(QIODevice::ReadWrite) && ::fsync(copy.handle()) == 0)
        return true;
    QFile::remove(target); // a copy that may not be on the drive is no copy
    return false;
}

} // namespace

ErrorReportDlg::ErrorReportDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , m_InsertDrive("<p>Insert a USB drive to store error the report and press Start.</p>")
    , m_NoReport("<p>Error Report file not detected.</p>")
    , m_Saved("<p><b>Error Report Saved</b><br/><br/>The error report has been saved to your USB drive.<br/>"
              "Send the error report to your local<br/>distributor or support@example.com.")
    , m_NoDrive("<p><b>USB Drive Not Detected</b><br/><br/>Insert a USB drive and try again.</p>")
    , m_Question("<p><b>Abnormal Program Termination</b><br/><br/>Do you want to create an error report?</p>")
    , ui(new Ui::ErrorReportDlg)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    showStep(m_InsertDrive, tr("Start"));
    // At start-up the dialog is often built only to look for reports and never shown. Unpolished,
    // it would leave style-sheet state behind under its address, and the next dialog built there
    // (the welcome screen) would come up without its background picture.
    ensurePolished();
}

ErrorReportDlg::~ErrorReportDlg()
{
    delete ui;
}

void ErrorReportDlg::setState(ErrorReportStep step)
{
    m_nStep = step;
    ui->LABEL_MESSAGE->setText(step == STEP_COPY ? m_InsertDrive : m_Question);
    ui->BUTTON_START->setText(step == STEP_COPY ? tr("Start") : tr("OK"));
}

void ErrorReportDlg::showStep(const QString &message, const QString &start)
{
    ui->LABEL_MESSAGE->setText(message);
    ui->BUTTON_START->setText(start);
    ui->BUTTON_EXIT->hide();
    ui->BUTTON_START->show();
    ui->BUTTON_CANCEL->show();
}

void ErrorReportDlg::showEnd(const QString &message)
{
    ui->LABEL_MESSAGE->setText(message);
    ui->BUTTON_EXIT->show();
    ui->BUTTON_START->hide();
    ui->BUTTON_CANCEL->hide();
}

bool ErrorReportDlg::checkErrorReport(QList<QFileInfo> &list, bool markers)
{
    const QDir root(Paths::path("/root"));
    list = root.entryInfoList({markers ? "exist.error*" : "vantor.error*"}, QDir::Files, QDir::Unsorted);
    return !list.isEmpty();
}

void ErrorReportDlg::removeDetectionFiles()
{
    QList<QFileInfo> markers;
    checkErrorReport(markers, true);
    for (const QFileInfo &marker : markers)
        QFile::remove(marker.absoluteFilePath());
}

bool ErrorReportDlg::copyErrorReportFile(QList<QFileInfo> &list)
{
    ScopedBusyCursor busy;
    const QList<MediaMonitor::DeviceEntry> devices = MediaMonitor::deviceList();
    std::string version;
    ReadPrivateProfileString("NIMBO", "Version", "", version, Paths::configFile().toStdString());
    const QString versionText = QString::fromStdString(version).replace('.', '_');
    const QString stamp = QDateTime::currentDateTime().toString("ddMMyyyy_hhmm");
    QString label;
    for (const MediaMonitor::DeviceEntry &device : devices) {
        if (device.second != MediaMonitor::ssdLabel) {
            label = device.second;
            break;
        }
    }
    if (label.isEmpty() || list.isEmpty()) {
        SystemActions::instance().sync();
        return false;
    }
    bool all = true;
    for (const QFileInfo &report : list) {
        const QString target = Paths::path(QString("/media/%1/%2_%3_%4").arg(label, report.fileName(), versionText, stamp));
        if (copyAndFlush(report.absoluteFilePath(), target))
            QFile::remove(report.absoluteFilePath());
        else
            all = false;
    }
    SystemActions::instance().sync();
    if (all)
        removeDetectionFiles();
    return all;
}

void ErrorReportDlg::on_BUTTON_START_clicked()
{
    if (m_nStep != STEP_COPY) {
        m_nStep = STEP_COPY;
        showStep(m_InsertDrive, tr("Start"));
        return;
    }
    QList<QFileInfo> reports;
    if (!checkErrorReport(reports, false))
        showEnd(m_NoReport);
    else if (copyErrorReportFile(reports))
        showEnd(m_Saved);
    else
        showStep(m_NoDrive, tr("OK")); // "OK" runs the copy again, from the listing
}

void ErrorReportDlg::on_BUTTON_EXIT_clicked()
{
    reject();
}

void ErrorReportDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}
