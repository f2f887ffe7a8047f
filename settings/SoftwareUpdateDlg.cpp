#include "SoftwareUpdateDlg.h"
#include "ui_SoftwareUpdateDlg.h"

#include "AlphanumLess.h"
#include "MediaMonitor.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SoftwareUpdateThread.h"
#include "Utilities.h"

#include <QApplication>
#include <QDir>
#include <QPainter>

#include <algorithm>
#include <sys/stat.h>

namespace {

const QRect kBar(60, 234, 380, 24);
constexpr int kRepaintMs = 100;
constexpr int kStepPixels = 2;

// The update packages among the regular files of a drive's top folder, in natural name order.
QStringList packagesOn(const QString &dir)
{
    QStringList packages;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        struct stat st;
        // A link on the drive is no package, whatever it points to.
        if (SoftwareUpdateThread::isPackageName(name) &&
            ::lstat(QFile::encodeName(dir + "/" + name).constData(), &st) == 0 && S_ISREG(st.st_mode))
            packages << name;
    }
    std::sort(packages.begin(), packages.end(), alphanum_less());
    return packages;
}

} // namespace

SoftwareUpdateDlg::SoftwareUpdateDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , m_StartMessage("<p>Insert a USB drive with the latest version of software<br/>and press Start.</p>")
    , m_NotDetectedMessage("<p><b>Software Update Not Detected</b><br/><br/>Insert a USB drive with a software update "
                           "file with a version number<br/>that is higher than the currently installed version and "
                           "press Start.</p>")
    , m_DetectedMessage("<p><b>Software Update Detected</b><br/><br/>Do you want to proceed?<p/>")
    , m_UpdatingMessage("<p><b>Updating Software</b><br/><br/>Do not turn off the system or remove the USB drive "
                        "during the update.</p>")
    , m_CompleteMessage("<p><b>Software Update Complete</b><br/><br/>Restart the instrument.</p>")
    , m_FailedMessage("<p><b>Software Update Failed</b><br/><br/>The software update failed due to a damaged "
                      "file.<br/>Download the file again into the root directory of the USB drive and try again.</p>")
    , m_ProgressFill(":/UI/SaveOptions/progress bar2.png")
    , m_ProgressTrack(":/UI/SaveOptions/progress bar1.png")
    , ui(new Ui::SoftwareUpdateDlg)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    ui->LABEL_MESSAGE->setText(m_StartMessage);
    showOnly({ui->BUTTON_START, ui->BUTTON_CANCEL});
    ui->BUTTON_START->setText(tr("Start"));
    connect(&m_Timer, &QTimer::timeout, this, QOverload<>::of(&QWidget::repaint));
}

SoftwareUpdateDlg::~SoftwareUpdateDlg()
{
    if (m_pUpdateThread) {
        // The result is the run's last act: once it has come, this wait is short.
        m_pUpdateThread->wait();
        delete m_pUpdateThread;
    }
    if (m_State == STATE_UPDATING) // gone before the result came
        QApplication::restoreOverrideCursor();
    delete ui;
}

QString SoftwareUpdateDlg::versionOf(const QString &fileName)
{
    const QString stem = fileName.left(fileName.size() - 4);
    return stem.mid(stem.indexOf('_') + 1);
}

bool SoftwareUpdateDlg::checkNewSoftware()
{
    QString label, package;
    for (const MediaMonitor::DeviceEntry &device : MediaMonitor::deviceList()) {
        if (device.second == MediaMonitor::ssdLabel)
            continue;
        const QStringList packages = packagesOn(Paths::path("/media/" + device.second));
        if (!packages.isEmpty()) {
            label = device.second;
            package = packages.first();
            break;
        }
    }
    if (package.isEmpty())
        return false;
    m_UpdateVersion = versionOf(package);
    std::string installed;
    ReadPrivateProfileString("NIMBO", "Version", "", installed, Paths::configFile().toStdString());
    if (QString::fromStdString(installed).replace('.', '_') == m_UpdateVersion)
        return false;
    m_UpdateFilePath = Paths::path(QString("/media/%1/%2").arg(label, package));
    return true;
}

void SoftwareUpdateDlg::updateSoftware()
{
    if (!m_pUpdateThread) {
        m_pUpdateThread = new SoftwareUpdateThread(nullptr);
        connect(m_pUpdateThread, &SoftwareUpdateThread::completeSoftwareUpdate, this,
                &SoftwareUpdateDlg::completedSoftwareUpdate);
    }
    // The dialog flushes the disk itself, under its synchronizing text.
    m_pUpdateThread->m_bSyncWhenDone = false;
    m_pUpdateThread->setUpdateFileInfo(m_UpdateFilePath, m_UpdateVersion);
    m_bProgressFull = false;
    m_bProgressRunning = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_Timer.start(kRepaintMs);
    m_pUpdateThread->start(QThread::InheritPriority);
}

void SoftwareUpdateDlg::completedSoftwareUpdate(bool result)
{
    m_Timer.stop();
    m_bProgressRunning = false;
    m_bProgressFull = true;
    repaint();
    delay(100);
    m_bProgressFull = false;
    repaint();
    delay(100);
    if (result) {
        ui->LABEL_MESSAGE->setText("<p><b>Updating Software</b><br/><br/>Synchronizing ...</p>");
        repaint();
        clearDirtyMemory();
        m_State = STATE_COMPLETE;
        ui->LABEL_MESSAGE->setText(m_CompleteMessage);
        showOnly({ui->BUTTON_RESTART});
    } else {
        m_State = STATE_FAILED;
        ui->LABEL_MESSAGE->setText(m_FailedMessage);
        showOnly({ui->BUTTON_EXIT});
    }
    QApplication::restoreOverrideCursor();
}

void SoftwareUpdateDlg::reject()
{
    if (m_State != STATE_UPDATING)
        ScriptableDialog::reject();
}

void SoftwareUpdateDlg::paintEvent(QPaintEvent *event)
{
    ScriptableDialog::paintEvent(event);
    if (m_bProgressFull == m_bProgressRunning)
        return;
    QPainter painter(this);
    painter.drawPixmap(kBar, m_ProgressTrack);
    if (m_bProgressRunning) // the bar measures time, not progress
        m_ProgressWidth = std::min(m_ProgressWidth + kStepPixels, kBar.width());
    painter.drawPixmap(QRect(kBar.topLeft(), QSize(m_bProgressFull ? kBar.width() : m_ProgressWidth, kBar.height())),
                       m_ProgressFill);
}

void SoftwareUpdateDlg::on_BUTTON_START_clicked()
{
    ui->BUTTON_START->setText(tr("OK"));
    if (m_State == STATE_START) {
        if (checkNewSoftware()) {
            m_State = STATE_DETECTED;
            ui->LABEL_MESSAGE->setText(m_DetectedMessage);
        } else {
            m_State = STATE_NOT_DETECTED;
            ui->LABEL_MESSAGE->setText(m_NotDetectedMessage);
            showOnly({ui->BUTTON_EXIT});
        }
    } else if (m_State == STATE_DETECTED) {
        m_State = STATE_UPDATING;
        ui->LABEL_MESSAGE->setText(m_UpdatingMessage);
        showOnly({});
        updateSoftware();
    }
}

void SoftwareUpdateDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}

void SoftwareUpdateDlg::on_BUTTON_EXIT_clicked()
{
    reject();
}

void SoftwareUpdateDlg::on_BUTTON_RESTART_clicked()
{
    m_bUpdated = true;
    accept();
}

void SoftwareUpdateDlg::showOnly(std::initializer_list<QWidget *> buttons)
{
    for (QWidget *button : {ui->BUTTON_START, ui->BUTTON_CANCEL, ui->BUTTON_EXIT, ui->BUTTON_RESTART})
        button->setVisible(std::find(buttons.begin(), buttons.end(), button) != buttons.end());
}
