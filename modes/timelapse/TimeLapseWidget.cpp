#include "TimeLapseWidget.h"

#include "CameraTables.h"
#include "DirectoryDialog.h"
#include "FrameThumbnail.h"
#include "ImageSeriesFiles.h"
#include "ImageThumbnail.h"
#include "SaveImageComposer.h"
#include "ScaleBar.h"
#include "SeriesVideoExporter.h"
#include "Globals.h"
#include "ImMeasurer.h"
#include "ImReaderWriter.h"
#include "MediaMonitor.h"
#include "MediaPath.h"
#include "MessageDlg.h"
#include "NumberFieldEditor.h"
#include "Paths.h"
#include "PageCursor.h"
#include "PrivateProfile.h"
#include "SaveNaming.h"
#include "SaveOptionsDlg.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "ui_TimeLapseWidget.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOption>

#include <climits>
#include <cstring>
#include <opencv2/core.hpp>

namespace {

constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 1024;
constexpr int kFramePixels = kFrameWidth * kFrameHeight;
constexpr int kPauseBlinkMs = 500;
constexpr int kStartDelayMs = 1000;
constexpr int kContinuousMaxFrames = 3000;
const QSize kThumbnailSize(80, 60);

const char *const kInitializingText = "<p><b>Initializing ...</b></p>";
const char *const kInProgressText = "<p><b>Time lapse imaging in progress ...</b></p>";
const char *const kSaveFailedText = "<p><b>Save failed.</b></p>";
const QSize kLoadThumbnailSize(80, 60);
const char *const kTooLongText = "<p><b>Error!</b><br/><br/>Total time cannot exceed %1.<br/>Adjust the total time.</p>";
const char *const kShortestIntervalText = "<br/><br/>The shortest interval that works is %1.";
const char *const kZScanStyle = "QLineEdit {background-color: rgb(62,58, 57); border-width: 0px; color: white;}"
                                "QLineEdit::disabled {background-color: rgb(62,58, 57); border-width: 0px; color: rgb(98,98,98);}";

std::string configFile()
{
    return Paths::configFile().toStdString();
}

QString readSettingText(const char *section, const QString &key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key.toStdString(), def, value, configFile());
    return QString::fromStdString(value).trimmed();
}

int readSettingNumber(const char *section, const QString &key, const char *def)
{
    return readSettingText(section, key, def).toInt(); // not a number reads as 0
}

QString clockText()
{
    return QTime::currentTime().toString("mm:ss:zzz");
}

} // namespace

TimeLapseWidget::TimeLapseWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui_TimeLapseWidget)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
    m_bBusy = false;
    for (QWidget *hidden : {static_cast<QWidget *>(ui->BUTTON_SAVE_AFTER), static_cast<QWidget *>(ui->BUTTON_SAVE_BEFORE),
                            static_cast<QWidget *>(ui->LABEL_IMAGES_TITLE), static_cast<QWidget *>(ui->LABEL_IMAGES),
                            static_cast<QWidget *>(ui->LABEL_CATEGORY_1), static_cast<QWidget *>(ui->LABEL_CATEGORY_2),
                            static_cast<QWidget *>(ui->BUTTON_START_RECORD), static_cast<QWidget *>(ui->BUTTON_STOP_RECORD),
                            static_cast<QWidget *>(ui->BUTTON_SAVE_RECORD), static_cast<QWidget *>(ui->BUTTON_RECORDING)})
        hidden->hide();
    initialize();
}

TimeLapseWidget::~TimeLapseWidget()
{
    delete m_pProgressDlg.data();
    delete m_pInitializingDlg.data();
    delete ui;
}

void TimeLapseWidget::initialize()
{
    m_nCorrectionCounter = 0;
    m_TimeLapse.setTimelapseParameters(0, 0, 0, 0.0f, TIMELAPSE_INTERVAL_SECOND, m_nExposure);
    m_bStop = false;
    m_bPseudoColor = false;
    m_bLEDState = false;
    m_bPreSave = false;
    m_bFirstTime = true;
    m_FrameImage = QImage(kFrameWidth, kFrameHeight, QImage::Format_Indexed8);
    m_pFrameImageData = m_FrameImage.bits();
    const size_t bytesPerPixel[3] = {2, 3, 6}; // 16, 24 and 48 bits
    for (int i = 0; i < 3; ++i)
        m_pWorkBuffers[i].reset(new uchar[size_t(kFrameWidth) * kFrameHeight * bytesPerPixel[i]]);

    ui->SPINBOX_INTERVAL->setValue(1);
    if (!isQCTestMode()) {
        ui->SPINBOX_INTERVAL->setSingleStep(1.0);
        ui->SPINBOX_INTERVAL->setDecimals(0);
    }
    {
        const QSignalBlocker block(ui->COMBOBOX_INTERVAL_TYPE);
        ui->COMBOBOX_INTERVAL_TYPE->clear();
        ui->COMBOBOX_INTERVAL_TYPE->addItems({"Second", "Minute", "Hour", "Continuous"});
        ui->COMBOBOX_INTERVAL_TYPE->setCurrentIndex(0);
    }
    ui->COMBO_FOCUS_DRIFT->clear();
    ui->COMBO_FOCUS_DRIFT->addItems({"On", "Off"});
    ui->COMBO_FOCUS_DRIFT->setCurrentIndex(1);
    setUIZScanRangeComboBox();
    readSetting();

    ui->BUTTON_MODE1->setChecked(true);
    ui->BUTTON_MODE2->setChecked(false);
    ui->STACKEDWIDGET->setCurrentIndex(0);

    for (QTimer *timer : {&m_LightTimer, &m_CaptureTimer, &m_CorrectionTimer})
        timer->setTimerType(Qt::PreciseTimer);
    connect(&m_LightTimer, &QTimer::timeout, this, &TimeLapseWidget::enableLightON);
    connect(&m_CaptureTimer, &QTimer::timeout, this, &TimeLapseWidget::enableCapture);
    connect(&m_CorrectionTimer, &QTimer::timeout, this, &TimeLapseWidget::enableFineAF);
    m_StartTimer.setSingleShot(true);
    connect(&m_StartTimer, &QTimer::timeout, this, &TimeLapseWidget::slotCalculrateParameter);

    for (QAbstractSpinBox *field : {static_cast<QAbstractSpinBox *>(ui->SPINBOX_HOUR),
                                    static_cast<QAbstractSpinBox *>(ui->SPINBOX_MINUTE),
                                    static_cast<QAbstractSpinBox *>(ui->SPINBOX_SECOND),
                                    static_cast<QAbstractSpinBox *>(ui->SPINBOX_INTERVAL),
                                    static_cast<QAbstractSpinBox *>(ui->SPINBOX_AF_INTERVAL)})
        if (QLineEdit *edit = field->findChild<QLineEdit *>())
            edit->installEventFilter(this);

    for (QTimer *timer : {&m_RecordStopTimer, &m_RecordTimer, &m_RecordLabelTimer})
        timer->setTimerType(Qt::PreciseTimer);
    m_RecordTimer.setInterval(1000);
    m_RecordLabelTimer.setInterval(500);
    m_RecordStopTimer.setSingleShot(true); // still active at an early Stop, not after its time
    connect(&m_RecordStopTimer, &QTimer::timeout, this, &TimeLapseWidget::enableRecordStop);
    connect(&m_RecordTimer, &QTimer::timeout, this, &TimeLapseWidget::enableRecord);
    connect(&m_RecordLabelTimer, &QTimer::timeout, this, &TimeLapseWidget::enableRecordLabel);

    m_PauseEffectTimer.setInterval(kPauseBlinkMs);
    connect(&m_PauseEffectTimer, &QTimer::timeout, this, &TimeLapseWidget::showPauseEffect);
    m_nRemainCapture = m_nRemainLight = m_nRemainCorrection = 0;

    if (!isQCTestMode()) {
        ui->LABEL_LIGHT_DELAY->hide();
        ui->SPINBOX_LIGHT_DELAY->hide();
    }
    ui->LABEL_PLUS_MINUS->setText(QString(QChar(0x00B1)));
    on_COMBOBOX_INTERVAL_TYPE_currentIndexChanged(0);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    m_pMeasurer = std::make_unique<ImMeasurer>();
}

void TimeLapseWidget::clean_testUI()
{
    m_nTestCount = 0;
}

// ---------------------------------------------------------------------------------------------
// Settings

void TimeLapseWidget::readSetting()
{
    m_nCameraBits = readSettingNumber("Camera", "Mode", "8") == 16 ? 16 : 8;
    m_nBitDepth = m_nCameraBits;
    ui->COMBO_FOCUS_DRIFT->setCurrentIndex(readSettingNumber("Setting_Timelapse", "Correction", "0") == 0 ? 1 : 0);
    ui->SPINBOX_AF_INTERVAL->setValue(readSettingNumber("Setting_Timelapse", "CorrectionFreq", "1"));
    const QString range = readSettingText("Setting_Timelapse", "ScanRange", "5");
    const int index = ui->COMBO_ZSCAN_RANGE->findText(range);
    ui->COMBO_ZSCAN_RANGE->setCurrentIndex(index >= 0 ? index : 0);
}

void TimeLapseWidget::writeSetting()
{
    const std::string file = configFile();
    WritePrivateProfileString("Setting_Timelapse", "Correction", correctionOn() ? "1" : "0", file);
    WritePrivateProfileString("Setting_Timelapse", "CorrectionFreq",
                              QString::number(ui->SPINBOX_AF_INTERVAL->value()).toStdString(), file);
    WritePrivateProfileString("Setting_Timelapse", "ScanRange", ui->COMBO_ZSCAN_RANGE->currentText().toStdString(), file);
}

// ---------------------------------------------------------------------------------------------
// Number fields

bool TimeLapseWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (g_CurrentMenu == MENU_TIMELAPSE && event->type() == QEvent::MouseButtonPress) {
        QObject *field = watched->parent();
        if (field == ui->SPINBOX_HOUR)
            on_SPINBOX_HOUR_clicked();
        else if (field == ui->SPINBOX_MINUTE)
            on_SPINBOX_MINUTE_clicked();
        else if (field == ui->SPINBOX_SECOND)
            on_SPINBOX_SECOND_clicked();
        else if (field == ui->SPINBOX_INTERVAL)
            on_SPINBOX_INTERVAL_clicked();
        else if (field == ui->SPINBOX_AF_INTERVAL)
            on_SPINBOX_AF_INTERVAL_clicked();
        else
            return QWidget::eventFilter(watched, event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TimeLapseWidget::editNumberField(QAbstractSpinBox *field, int lowest)
{
    NumberFieldEditor::edit(field, lowest, this);
}

void TimeLapseWidget::on_SPINBOX_HOUR_clicked() { editNumberField(ui->SPINBOX_HOUR, 0); }
void TimeLapseWidget::on_SPINBOX_MINUTE_clicked() { editNumberField(ui->SPINBOX_MINUTE, 0); }
void TimeLapseWidget::on_SPINBOX_SECOND_clicked() { editNumberField(ui->SPINBOX_SECOND, 0); }
void TimeLapseWidget::on_SPINBOX_INTERVAL_clicked() { editNumberField(ui->SPINBOX_INTERVAL, 0); }
void TimeLapseWidget::on_SPINBOX_AF_INTERVAL_clicked() { editNumberField(ui->SPINBOX_AF_INTERVAL, 1); }

// ---------------------------------------------------------------------------------------------
// Save folder

void TimeLapseWidget::setSaveTarget(const QString &folder, const QString &name, const QString &extension)
{
    m_SavePath = folder;
    m_SeriesName = name;
    m_FileExtension = extension.isEmpty() ? QStringLiteral("tif") : extension;
    showRunFolder(name);
}

// The label names the folder the next run numbers from, and once a run has made its own folder,
// that one. Joined in one pass, so that a "%" in a name stays as typed.
void TimeLapseWidget::showRunFolder(const QString &name)
{
    m_RunName = name;
    ui->LABEL_SAVE_PATH->setText(MediaPath::label(QDir::cleanPath(m_SavePath + '/' + name)));
}

QString TimeLapseWidget::runFolder() const
{
    return m_SavePath + '/' + m_RunName;
}

// Every run numbers from the chosen name (Cells, Cells(1), Cells(2) ...); the chosen name stays.
bool TimeLapseWidget::makeRunFolder()
{
    QString made = m_SeriesName;
    if (!createFolder(m_SavePath, made))
        return false;
    showRunFolder(made);
    return true;
}

void TimeLapseWidget::on_BUTTON_SAVE_PATH_clicked()
{
    const bool stopVideo = m_nCurrentState != TIMELAPSE_SHOWN;
    if (stopVideo) {
        m_bBusy = true;
        emit setVideoRunningState(false);
    }
    {
        SaveOptionsDlg dialog(this);
        dialog.setCurrentSaveOption(SAVE_OPTION_TIMELAPSE_PATH, true, SUB_OPTION_NONE);
        dialog.setImageBits(m_nCameraBits);
        if (dialog.exec() == 1) {
            QString folder, name, extension;
            dialog.getSaveFilePathInfo(folder, name, extension);
            setSaveTarget(folder, name, extension);
        }
    }
    if (stopVideo) {
        emit setVideoRunningState(true);
        m_bBusy = false;
    }
}

// ---------------------------------------------------------------------------------------------
// Start checks

bool TimeLapseWidget::correctionOn() const
{
    return ui->COMBO_FOCUS_DRIFT->currentText() == QLatin1String("On");
}

bool TimeLapseWidget::continuousSelected() const
{
    return ui->COMBOBOX_INTERVAL_TYPE->currentText() == QLatin1String("Continuous");
}

void TimeLapseWidget::slotCalculrateParameter()
{
    m_StartTimer.stop();
    m_bParametersCalculated = true;
    const QString typeText = ui->COMBOBOX_INTERVAL_TYPE->currentText();
    const TTimeLapseIntervalType type = typeText == "Minute" ? TIMELAPSE_INTERVAL_MINUTE
                                        : typeText == "Second" ? TIMELAPSE_INTERVAL_SECOND
                                                               : TIMELAPSE_INTERVAL_HOUR;
    m_TimeLapse.setTimelapseParameters(ui->SPINBOX_HOUR->value(), ui->SPINBOX_MINUTE->value(), ui->SPINBOX_SECOND->value(),
                                       float(ui->SPINBOX_INTERVAL->value()), type, m_nExposure);
    if (continuousSelected()) {
        m_TimeLapse.clearThumbnails();
        m_nStartCode = 0;
    } else {
        m_nStartCode = m_TimeLapse.canRun(m_nBitDepth, m_bPseudoColor);
    }
    m_RecordFolder.clear();
    if (m_nStartCode == 0 && canStart()) {
        if (!makeRunFolder())
            m_nStartCode = 8;
        else if (continuousSelected())
            m_RecordFolder = runFolder();
    }
    if (m_pInitializingDlg) {
        m_pInitializingDlg->close();
        m_pInitializingDlg->deleteLater();
    }
}

bool TimeLapseWidget::canStart()
{
    const QString root = MediaPath::volumeOf(m_SavePath);
    if (m_SavePath.trimmed().isEmpty() || Paths::fixedPath(root).trimmed().isEmpty()) {
        m_nStartCode = 9;
        return false;
    }
    if (!QFileInfo(root).isDir()) {
        m_nStartCode = 8;
        return false;
    }
    int frames = 0;
    if (continuousSelected()) {
        const int period = m_nExposure < 71 ? 120 : m_nExposure <= 150 ? 160 : m_nExposure + 40;
        frames = int(qint64(m_TimeLapse.totalTime()) * 1000 / period);
        if (frames > kContinuousMaxFrames) {
            m_nStartCode = 10;
            m_LongestTotalTime = timeText(qint64(period) * kContinuousMaxFrames / 1000);
            return false;
        }
    } else {
        frames = m_TimeLapse.totalCount() - m_TimeLapse.count();
    }
    if (!checkFreeDiskSpace(root, false, frames))
        return false;
    if (continuousSelected())
        return true;

    m_nCorrectionCounter = 0;
    m_nTestCount = 0;
    m_nCapturePeriod = int(m_TimeLapse.interval() * 1000.0f);
    m_nLightPeriod = m_nCapturePeriod - lightLeadMs();
    m_nCorrectionPeriod = m_nLightPeriod - correctionShareMs();
    // Without room for the light lead the light would never come on before a frame.
    if (m_nLightPeriod <= 0) {
        m_nStartCode = 3;
        return false;
    }
    if (correctionOn()) {
        if (m_nCapturePeriod < kCorrectionMinIntervalMs) {
            m_nStartCode = 2;
            return false;
        }
        // The correction begins once the frame before it is saved.
        if (m_nCorrectionPeriod < planFrameMs()) {
            m_nStartCode = 3;
            return false;
        }
    }
    return true;
}

int TimeLapseWidget::lightLeadMs() const
{
    return ui->SPINBOX_LIGHT_DELAY->value() + m_TimeLapse.exposure();
}

int TimeLapseWidget::correctionShareMs() const
{
    const int range = ui->COMBO_ZSCAN_RANGE->currentText().toInt();
    return (m_TimeLapse.exposure() + 1000) * (2 * range + 1) + 2000;
}

int TimeLapseWidget::planFrameMs() const
{
    return TimeLapse::frameMs(m_TimeLapse.exposure(), m_nBitDepth, m_bPseudoColor);
}

int TimeLapseWidget::shortestIntervalMs() const
{
    // A frame, and the light's lead (which the frame before may overlap); with the correction,
    // the frame before, the autofocus and the lead one after the other.
    int shortest = qMax(1000, qMax(planFrameMs(), lightLeadMs() + 1));
    if (correctionOn())
        shortest = qMax(shortest, qMax(kCorrectionMinIntervalMs, planFrameMs() + correctionShareMs() + lightLeadMs()));
    return shortest;
}

QString TimeLapseWidget::shortestIntervalText() const
{
    // Whole units of the interval field: its own unit, or a larger one past the field's maximum.
    static const struct
    {
        int ms;
        const char *name;
    } units[] = {{1000, "second"}, {60000, "minute"}, {3600000, "hour"}};
    const QString typed = ui->COMBOBOX_INTERVAL_TYPE->currentText();
    int unit = typed == QLatin1String("Hour") ? 2 : typed == QLatin1String("Minute") ? 1 : 0;
    int count = 0;
    for (;; ++unit) {
        count = (shortestIntervalMs() + units[unit].ms - 1) / units[unit].ms;
        if (count <= int(ui->SPINBOX_INTERVAL->maximum()) || unit == 2)
            break;
    }
    return QString("%1 %2%3").arg(count).arg(units[unit].name, count == 1 ? "" : "s");
}

quint64 TimeLapseWidget::bytesPerImage(int bitDepth, bool colour)
{
    const quint64 bytesPerSample = bitDepth == 8 ? 1 : 2;
    return quint64(kFramePixels) * bytesPerSample * (colour ? 3 : 1) + kFileOverheadBytes;
}

bool TimeLapseWidget::checkFreeDiskSpace(QString path, bool colour, int images)
{
    // Megabytes of 1,000,000 bytes, as the storage monitor answers them; rounded up.
    const quint64 bytes = quint64(qMax(0, images)) * bytesPerImage(m_nBitDepth, colour);
    const quint64 needed = (bytes + 999999) / 1000000;
    if (MediaMonitor::freeDiskSpace(path) < needed) {
        m_nStartCode = 4;
        return false;
    }
    return true;
}

bool TimeLapseWidget::createFolder(QString path, QString &name)
{
    name = SaveNaming::freeFolderName(path, name);
    if (name.isEmpty() || !QDir(path).mkdir(name))
        return false;
    clearDirtyMemory();
    return true;
}

// The preset of each start code that has one (code 10 has its own text).
static const QMap<int, TMessageType> &startCodePresets()
{
    static const QMap<int, TMessageType> presets = {
        {1, MSG_INTERVAL_BELOW_10S},      {2, MSG_INTERVAL_BELOW_1MIN_WITH_AF},
        {4, MSG_INSUFFICIENT_DISK_SPACE}, {5, MSG_TOTAL_TIME_TOO_SHORT},        {7, MSG_TIMELAPSE_TOO_MANY_IMAGES},
        {8, MSG_USB_REINSERT},            {9, MSG_TARGET_FOLDER_NOT_SELECTED}};
    return presets;
}

QString TimeLapseWidget::startCodeMessage(int code) const
{
    if (startCodePresets().contains(code))
        return MessageDlg::presetText(startCodePresets().value(code));
    if (code == 3) { // the preset's text, and the interval that would run
        QString text = MessageDlg::presetText(MSG_EXPOSURE_EXCEEDS_INTERVAL);
        return text.insert(text.lastIndexOf("</p>"), QString(kShortestIntervalText).arg(shortestIntervalText()));
    }
    return code == 10 ? QString(kTooLongText).arg(m_LongestTotalTime) : QString();
}

void TimeLapseWidget::showStartCodeMessage(int code)
{
    MessageDlg message(this);
    if (startCodePresets().contains(code)) {
        message.setMsgType(startCodePresets().value(code));
    } else {
        message.setMessage(startCodeMessage(code));
        message.setButtonVisibility(MSG_BUTTON_OK);
    }
    message.exec();
}

QString TimeLapseWidget::timeText(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    return QString("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg((seconds / 60) % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

// ---------------------------------------------------------------------------------------------
// Run, Pause, Stop, Live

void TimeLapseWidget::on_BUTTON_TIMELAPSE_RUN_clicked()
{
    // A Stop tapped while the run starts (the main window lets events through as it locks the menu
    // and the panel) is kept and acted on once the run is going. A recording takes Stop from the
    // Run tap on.
    m_bRunStarting = true;
    m_bStopAsked = false;
    const bool recording = continuousSelected();
    setUIControlEnabled(false);
    if (recording) {
        // The page's other controls locked as while recording: the page itself stays enabled.
        for (QWidget *control : {ui->BUTTON_MODE1, ui->BUTTON_MODE2, ui->BUTTON_SAVE_PATH, ui->BUTTON_LOAD_IMAGE})
            control->setEnabled(false);
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(true);
    }
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit signalEnableMainMenu(false);
    if (recording)
        setEnabled(true); // the main window locks the whole page with its menu
    emit signalEnableControlWidgetUI(false);

    bool immediateFrame = true;
    if (!m_bPaused) {
        ui->PROGRESSBAR_COUNT->setValue(0);
        m_nRemainCapture = m_nRemainLight = m_nRemainCorrection = 0;
        PageCursor::busy(Qt::WaitCursor);
        m_bParametersCalculated = false;
        // A recording has nothing to wait for: it is checked at once and starts at the tap. The
        // modal "Initializing" box would swallow a Stop tapped in its second.
        if (!recording) {
            m_StartTimer.start(kStartDelayMs);
            m_pInitializingDlg = new MessageDlg;
            m_pInitializingDlg->setMessage(kInitializingText);
            m_pInitializingDlg->setButtonVisibility(MSG_BUTTON_NONE);
            m_pInitializingDlg->exec();
            if (m_pInitializingDlg)
                m_pInitializingDlg->deleteLater();
        }
        if (!m_bParametersCalculated) // no box, or it went away before its time: check now
            slotCalculrateParameter();
        PageCursor::normal();
    } else if (canStart()) {
        m_nStartCode = 0;
        if (m_nCurrentState == TIMELAPSE_SHOWN) {
            PageCursor::busy(Qt::WaitCursor);
            on_BUTTON_TIMELAPSE_LIVE_clicked();
            repaint();
            delay((m_nExposure + 1000) * 2);
            PageCursor::normal();
            // Going live unlocked the menu and the panel: the run keeps them locked.
            emit signalEnableMainMenu(false);
            emit signalEnableControlWidgetUI(false);
        }
        immediateFrame = false;
    }
    debugLine(QString("Run: start code %1").arg(m_nStartCode));

    if (m_nStartCode != 0) {
        m_bRunStarting = false;
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(false);
        showStartCodeMessage(m_nStartCode);
        m_nCurrentState = TIMELAPSE_LIVE;
        setUIControlEnabled(false);
        qProcessEvents(QEventLoop::ExcludeUserInputEvents);
        changeState();
        return;
    }

    writeSetting();
    m_PauseEffectTimer.stop();
    ui->PROGRESSBAR_COUNT->setTextVisible(true);
    // A recording keeps the turret readings coming: its frames are judged and labelled by them,
    // and the light follows the cube.
    if (!recording)
        emit signalEnablePullingCommand(false);
    ui->PROGRESSBAR_COUNT->setMaximum(qMax(1, m_TimeLapse.totalCount()));
    ui->BUTTON_MODE1->setChecked(true);
    on_BUTTON_MODE1_clicked();
    m_bSaved = false;
    m_bFirstTime = false;
    m_bStop = false;
    emit saved(false);
    m_nCurrentState = TIMELAPSE_ACQUIRING;
    changeState();
    if (continuousSelected())
        startContinuousRecording();
    else
        startSchedule(immediateFrame);
    m_bRunStarting = false;
    if (m_bStopAsked && m_nCurrentState == TIMELAPSE_ACQUIRING)
        on_BUTTON_TIMELAPSE_STOP_clicked();
}

void TimeLapseWidget::startSchedule(bool immediateFrame)
{
    m_bLightKept = false;
    bool startCorrection = true;
    int reserved = 0;
    if (m_nRemainCorrection <= 1000 && m_nRemainLight <= 1000) {
        m_CorrectionTimer.setInterval(m_nCorrectionPeriod);
        m_LightTimer.setInterval(m_nLightPeriod);
        m_CaptureTimer.setInterval(m_nCapturePeriod);
        immediateFrame = true;
        reserved = 1;
    } else if (m_nRemainCorrection <= 1000) {
        m_CorrectionTimer.setInterval(m_nCorrectionPeriod);
        m_LightTimer.setInterval(m_nRemainLight);
        m_CaptureTimer.setInterval(qMax(1, m_nRemainCapture));
        startCorrection = false;
        reserved = 1;
    } else {
        m_CorrectionTimer.setInterval(m_nRemainCorrection);
        m_LightTimer.setInterval(qMax(1, m_nRemainLight));
        m_CaptureTimer.setInterval(qMax(1, m_nRemainCapture));
    }
    debugLine(QString("Remaining capture %1 light %2 correction %3 ms; periods %4 %5 %6 ms")
                  .arg(m_nRemainCapture).arg(m_nRemainLight).arg(m_nRemainCorrection)
                  .arg(m_nCapturePeriod).arg(m_nLightPeriod).arg(m_nCorrectionPeriod));

    const bool moreFrames = m_TimeLapse.count() < m_TimeLapse.totalCount() - reserved;
    if (moreFrames && correctionOn() && m_nCorrectionCounter == 0) {
        if (!runFirstCorrection())
            return;
        // The first correction timed the autofocus: the periodic ones start that far ahead.
        if (m_nRemainCorrection <= 1000)
            m_CorrectionTimer.setInterval(qMax(0, m_nCapturePeriod - correctionLeadMs()));
    }
    if (!immediateFrame) {
        emit lightOff();
        delay(200);
    }
    const bool timers = !(!moreFrames && immediateFrame);
    if (timers) {
        if (startCorrection && correctionOn())
            m_CorrectionTimer.start();
        m_LightTimer.start();
        m_CaptureTimer.start();
    }
    // The frames' own grid: the coming timed frame is due when the capture timer first ticks.
    m_ScheduleClock.start();
    m_nFrameDueMs = m_CaptureTimer.interval();
    m_bCompleted = false;
    m_bLightTickDone = false;
    m_pProgressDlg = new TimeLapseProgressDlg(nullptr);
    m_pProgressDlg->setTotalCount(0);
    m_pProgressDlg->setMessage(kInProgressText);
    m_bStop = false;
    if (immediateFrame) {
        m_Retakes.reset();
        takeFrame(0);
    }
    ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(true);
    ui->BUTTON_TIMELAPSE_STOP->setEnabled(true);
    if (timers && m_pProgressDlg && !m_bCompleted)
        m_pProgressDlg->show();
    // A single frame that never came would leave the series running without a timer.
    if (!timers && !m_bCompleted && m_nCurrentState == TIMELAPSE_ACQUIRING)
        completedTimeLapse(false);
}

void TimeLapseWidget::takeFrame(qint64 dueMs)
{
    const int before = m_TimeLapse.count();
    m_nFrameLateMs = int(qBound<qint64>(0, m_ScheduleClock.elapsed() - dueMs, INT_MAX));
    m_bStillRefused = false;
    emit capture();
    m_nFrameLateMs = 0;
    if (m_TimeLapse.count() != before)
        return;
    if (m_bStillRefused)
        frameRefused(dueMs);
    else
        debugLine("Capture: no frame came from the camera");
}

// A turret moved while the frame was exposed. With the light left on, the frame is taken again
// once the turret had time to stand, as long as the still surely ends before the next frame's
// light; otherwise its place in the plan stays empty (logged), so that every later frame keeps
// its time.
void TimeLapseWidget::frameRefused(qint64 dueMs)
{
    // Free time before the next frame's light or correction, whichever comes first.
    int freeMs = m_CaptureTimer.isActive() ? m_CaptureTimer.remainingTime() - (m_nCapturePeriod - m_nLightPeriod) : -1;
    if (m_CorrectionTimer.isActive())
        freeMs = qMin(freeMs, m_CorrectionTimer.remainingTime());
    if (freeMs > StillRetakes::retakeMs() && m_Retakes.take()) {
        qInfo() << "Time lapse: frame" << m_TimeLapse.count() << "refused, a turret moved; taken again";
        QTimer::singleShot(StillRetakes::kPauseMs, this, [this, dueMs] {
            if (m_bCompleted || !m_pProgressDlg || m_bStop)
                return;
            if (m_bAFRunning)
                skipFrame();
            else
                takeFrame(dueMs);
        });
        return;
    }
    skipFrame();
}

void TimeLapseWidget::skipFrame()
{
    const int index = m_TimeLapse.count();
    qWarning() << "Time lapse: frame" << index << "skipped: a turret moved while it was taken and no retake fits its interval";
    const int count = countFrame(qint64(m_TimeLapse.interval() * index));
    endFrame(count, count == m_TimeLapse.totalCount() || m_bStop);
}

int TimeLapseWidget::correctionLeadMs() const
{
    const int budget = m_nLightPeriod - m_nCorrectionPeriod; // the autofocus's share by the start check
    return (m_nCapturePeriod - m_nLightPeriod) + qMax(budget, m_nLongestAFMs + kCorrectionMarginMs);
}

void TimeLapseWidget::on_BUTTON_TIMELAPSE_PAUSE_clicked()
{
    m_PauseEffectTimer.start();
    m_bPaused = true;
    setUIControlEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    m_bStop = true;
    completedTimeLapse(false);
}

void TimeLapseWidget::on_BUTTON_TIMELAPSE_STOP_clicked()
{
    if (m_bRunStarting) {
        m_bStopAsked = true;
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(false);
        return;
    }
    m_bPaused = false;
    setUIControlEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    if (continuousSelected()) {
        enableRecordStop();
        return;
    }
    m_PauseEffectTimer.stop();
    ui->PROGRESSBAR_COUNT->setTextVisible(true);
    ui->PROGRESSBAR_COUNT->repaint();
    m_bStop = true;
    completedTimeLapse(false);
}

void TimeLapseWidget::completedTimeLapse(bool bVideo)
{
    emit signalEnablePullingCommand(true);
    // A timed series that took its last frame shows its whole time; a recording has no frame
    // count of its own and keeps the time it recorded.
    if (m_TimeLapse.totalCount() > 0 && m_TimeLapse.count() == m_TimeLapse.totalCount())
        ui->LABEL_CURRENT_LAPSE->setText(QString("%1 / %2").arg(timeText(m_nLastStampS), timeText(m_TimeLapse.totalTime())));
    m_bCompleted = true;
    if (m_pProgressDlg) {
        m_pProgressDlg->close();
        m_pProgressDlg->deleteLater();
        m_pProgressDlg = nullptr;
    }
    if (m_bPaused) {
        m_nRemainCapture = m_CaptureTimer.remainingTime();
        m_nRemainLight = m_LightTimer.remainingTime();
        m_nRemainCorrection = m_CorrectionTimer.remainingTime();
    }
    for (QTimer *timer : {&m_CaptureTimer, &m_LightTimer, &m_CorrectionTimer})
        if (timer->isActive())
            timer->stop();
    m_bCapturePending = false;
    emit lightOff();
    emit liveMode(false);
    emit completed(m_TimeLapse.thumbnails(), bVideo);
    emit captured(true);
    emit saved(false);
    m_nCurrentState = TIMELAPSE_SHOWN;
    changeState();
    repaint();
    clearDirtyMemory();
}

void TimeLapseWidget::on_BUTTON_TIMELAPSE_LIVE_clicked()
{
    PageCursor::busy();
    emit signalEnableMainMenu(false);
    setUIControlEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit liveMode(true);
    emit lightOn();
    m_bCompleted = false;
    m_nCurrentState = TIMELAPSE_LIVE;
    changeState();
    ui->BUTTON_MODE1->setChecked(true);
    if (ui->STACKEDWIDGET->currentIndex() != 0)
        on_BUTTON_MODE1_clicked();
    if (!m_bPaused)
        clearTimeLabel();
}

void TimeLapseWidget::showPauseEffect()
{
    ui->PROGRESSBAR_COUNT->setTextVisible(!ui->PROGRESSBAR_COUNT->isTextVisible());
    ui->PROGRESSBAR_COUNT->repaint();
}

// ---------------------------------------------------------------------------------------------
// Timers

void TimeLapseWidget::enableLightON()
{
    ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(false);
    m_CorrectionTimer.stop();
    m_LightTimer.stop();
    debugLine("Light On time = " + clockText());
    if (!m_bCompleted && m_pProgressDlg)
        switchLightOnForFrame();
}

void TimeLapseWidget::switchLightOnForFrame()
{
    m_bLightTickDone = true;
    if (m_bLightKept)
        return; // on since the frame before: settled
    emit lightOn();
    m_LightOnClock.start(); // the board has taken the command: the light settles from now
}

void TimeLapseWidget::enableCapture()
{
    if (m_bCompleted || !m_pProgressDlg)
        return;
    // A tick inside a correction's autofocus waits for it: the autofocus owns the frames then.
    if (m_bAFRunning) {
        m_bCapturePending = true;
        return;
    }
    if (m_nRemainCapture > 1000) {
        m_CaptureTimer.stop();
        m_CaptureTimer.start(m_nCapturePeriod);
        m_nRemainCapture = 0;
    }
    // This frame's slot on the series' grid, which a late frame does not move.
    const qint64 due = m_nFrameDueMs;
    m_nFrameDueMs += m_nCapturePeriod;
    // The next correction and light keep their leads before the next capture tick, on the capture
    // timer's own grid: a tick handled late must not push them past the next frame.
    const int next = m_CaptureTimer.remainingTime();
    if (correctionOn())
        m_CorrectionTimer.start(qMax(0, next - correctionLeadMs()));
    const int lead = m_nCapturePeriod - m_nLightPeriod;
    m_LightTimer.start(qMax(0, next - lead));
    ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(true);
    // This tick's frame is taken only with this tick's light on and settled for its lead, however
    // late the light tick came or whether it came at all.
    if (!m_bLightTickDone)
        switchLightOnForFrame();
    const qint64 settle = m_bLightKept ? 0 : lead - m_LightOnClock.elapsed();
    if (settle > 0)
        delay(int(settle));
    if (isEnableSerialLog())
        debugLine("Capture Time = " + clockText());
    m_bLightTickDone = false;
    m_Retakes.reset();
    takeFrame(due);
}

void TimeLapseWidget::enableFineAF()
{
    m_CorrectionTimer.stop();
    ++m_nCorrectionCounter;
    const bool due = m_nCorrectionCounter >= ui->SPINBOX_AF_INTERVAL->value() && m_bCorrectionEnabled;
    if (!due)
        return;
    m_nCorrectionCounter = 0;
    if (!m_pProgressDlg || m_bCompleted)
        return;
    ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(false);
    ui->BUTTON_TIMELAPSE_STOP->setEnabled(false);
    // The scan is centred where the last autofocus left the stage, the best guess of the focus.
    // Moving by the start's offset first would centre it on the height before the first autofocus,
    // up to a whole scan range away: the focus, once it drifted, fell outside the scan and every
    // run began from a worse place. The offset stays learnt and logged.
    m_nMotorRequest = -1;
    emit lightOn();
    delay(m_nExposure + ui->SPINBOX_LIGHT_DELAY->value());
    runAutofocus();
}

// ---------------------------------------------------------------------------------------------
// Focus-drift correction

bool TimeLapseWidget::runFirstCorrection()
{
    ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(false);
    ui->BUTTON_TIMELAPSE_STOP->setEnabled(false);
    m_nOffset = 0;
    m_nLongestAFMs = 0;
    m_nMotorRequest = 0;
    m_bStartPositionKnown = requestMotorPosition();
    m_nMotorRequest = 1;
    emit lightOff();
    delay(200);
    emit lightOn();
    delay(m_nExposure + ui->SPINBOX_LIGHT_DELAY->value());
    runAutofocus();
    if (m_bAFError)
        return false;
    delay(m_nExposure + 2000);
    return true;
}

void TimeLapseWidget::runAutofocus()
{
    if (isEnableSerialLog())
        debugLine("FineAF Start Time = " + clockText());
    m_bAFRunning = true;
    QElapsedTimer clock;
    clock.start();
    emit TimeLapseAF();
    m_nLongestAFMs = int(qMax<qint64>(m_nLongestAFMs, clock.elapsed()));
    m_bAFRunning = false;
    if (isEnableSerialLog())
        debugLine("FineAF End Time = " + clockText());
    if (m_bCapturePending && !m_bCompleted && m_pProgressDlg) {
        m_bCapturePending = false;
        enableCapture(); // turns the light on again when it went off with the autofocus
    }
    m_bCapturePending = false;
}

bool TimeLapseWidget::requestMotorPosition()
{
    m_bPositionAnswered = false;
    emit signalGetCurrentMotorPosition();
    if (!m_bPositionAnswered) {
        // A board of the old dialect answers from the serial port later: wait for it.
        QElapsedTimer clock;
        clock.start();
        while (!m_bPositionAnswered && clock.elapsed() < kPositionAnswerTimeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (!m_bPositionAnswered)
        debugLine("Position: no answer from the stage; the focus offset stays 0");
    return m_bPositionAnswered;
}

void TimeLapseWidget::slotSetCurrentMotorPosition(int position)
{
    switch (m_nMotorRequest) {
    case 0:
        m_nStartPosition = position;
        debugLine(QString("Star Position = %1").arg(position));
        break;
    case 1:
        m_nOffset = m_bStartPositionKnown ? m_nStartPosition - position : 0;
        debugLine(QString("Position Offset = %1").arg(m_nOffset));
        break;
    case 2:
        debugLine(QString("AF Position = %1").arg(position));
        break;
    default:
        return;
    }
    m_bPositionAnswered = true;
}

void TimeLapseWidget::slotsaveAFData(int index, int position, double value)
{
    m_nAFIndex = index;
    m_nAFPosition = position;
    m_dAFMaxValue = value;
}

void TimeLapseWidget::slotCompleteTimeLapseAF(int position, bool success, TFineAFErrTable error)
{
    Q_UNUSED(position)
    m_bAFError = false;
    if (m_nMotorRequest == 1) {
        if (!requestMotorPosition())
            m_nOffset = 0;
        m_bCorrectionEnabled = success;
        m_nMotorRequest = -1;
        if (error != FINEAF_NO_ERROR) {
            for (QTimer *timer : {&m_LightTimer, &m_CaptureTimer, &m_CorrectionTimer})
                timer->stop();
            m_bAFError = true;
            emit signalEnablePullingCommand(true);
            MessageDlg message(this);
            message.setMsgType(fineAFErrorMessage(error));
            message.exec();
            m_nCurrentState = TIMELAPSE_LIVE;
            changeState();
            return;
        }
    } else if (!m_bLightTickDone) {
        m_bLightKept = false;
        emit lightOff();
    }
    if (m_nMotorRequest == -1) {
        ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(true);
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(true);
    }
}

void TimeLapseWidget::setFocusCorrectionState(bool enable)
{
    ui->COMBO_FOCUS_DRIFT->setEnabled(enable);
    const bool details = enable && correctionOn();
    ui->SPINBOX_AF_INTERVAL->setEnabled(details);
    ui->COMBO_ZSCAN_RANGE->setEnabled(details);
}

void TimeLapseWidget::on_COMBO_FOCUS_DRIFT_currentIndexChanged(int index)
{
    ui->SPINBOX_AF_INTERVAL->setEnabled(index != 1);
    ui->COMBO_ZSCAN_RANGE->setEnabled(index != 1);
}

void TimeLapseWidget::setUIZScanRangeComboBox()
{
    QComboBox *combo = ui->COMBO_ZSCAN_RANGE;
    combo->setEditable(true);
    QLineEdit *edit = combo->lineEdit();
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignRight);
    edit->setFont(combo->font());
    edit->setStyleSheet(kZScanStyle);
    combo->clear();
    combo->addItems({"5", "10", "20"});
    for (int i = 0; i < combo->count(); ++i)
        combo->setItemData(i, int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
}

// ---------------------------------------------------------------------------------------------
// Frames

void TimeLapseWidget::captureCompleted(uchar *frame, int bits)
{
    if (g_CurrentMenu != MENU_TIMELAPSE || !frame)
        return;
    QElapsedTimer stopwatch;
    stopwatch.start();
    const int index = m_TimeLapse.count();
    m_nBitDepth = bits;
    // The frame's time on the series' grid; a frame taken late says when it was taken.
    const qint64 stampS = qint64(m_TimeLapse.interval() * index + m_nFrameLateMs / 1000.0);
    const int count = countFrame(stampS);
    emit captured(true);

    // Four digits up to 9,999 frames, all digits beyond. One pass: a "%" in a name stays.
    const QString number = count > 9999 ? QString::number(index) : QString("%1").arg(index, 4, 10, QChar('0'));
    const QString fileName = QString("%1/%2/%3_%4.%5").arg(m_SavePath, m_RunName, m_RunName, number, m_FileExtension);
    const QString metaData = capturedImageMetaData().metaText() + ";Time: " + timeText(stampS);
    // Written a band at a time; on disk, whole, before the slot returns. Each band, still in
    // cache, is kept in the page's frame image (8 bits) or first work buffer (16 bits, its top
    // bytes in the frame image) and goes on into the thumbnail: its 8 most significant bits (the
    // first byte of a 16-bit camera word). Any depth but 8 or 16 is no frame: a failed save, never
    // an empty file.
    ImReaderWriter writer;
    FrameThumbnail thumbnail(kFrameWidth, kFrameHeight, bits / 8, kThumbnailSize);
    const int rowBytes = kFrameWidth * (bits / 8);
    const ImReaderWriter::Band toThumbnail = [&](int, quint32 row, quint32 rows, const void *samples) {
        keepBand(bits, int(row), int(rows), static_cast<const uchar *>(samples));
        thumbnail.addBand(int(row), int(rows), static_cast<const uchar *>(samples), rowBytes);
        return true; // a thumbnail that fails never fails the frame
    };
    const bool ok = (bits == 8 || bits == 16) && writer.describe(kFrameWidth, kFrameHeight, quint16(bits), 1, 1, 1, 1)
                    && writer.writeSamples(frame, QFile::encodeName(fileName), metaData.toUtf8(), toThumbnail,
                                           quint32(thumbnail.rowUnit()));
    if (!ok)
        qWarning().noquote() << "Time lapse: frame not saved:" << fileName << writer.errorString();

    if (ok) {
        const QVector<QRgb> &table = g_PseudoColorTable[m_bPseudoColor ? clampColorIndex(m_nColorIndex) : 7];
        ThumbnailInfo info;
        info.thumbnail = QPixmap::fromImage(thumbnail.image(table));
        info.path = fileName;
        m_TimeLapse.pushThumbnail(info);
    }
    endFrame(count, count == m_TimeLapse.totalCount() || m_bStop || !ok);
    if (!ok) {
        MessageDlg message(this);
        message.setMessage(kSaveFailedText);
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
    }
    if (isEnableSerialLog())
        debugLine(QString("save elapsed time : %1 ms").arg(stopwatch.elapsed()));
}

int TimeLapseWidget::countFrame(qint64 stampS)
{
    const int index = m_TimeLapse.count();
    m_TimeLapse.increaseCount();
    const int count = m_TimeLapse.count();
    const int total = m_TimeLapse.totalCount();
    m_nLastStampS = stampS;
    if (count == total) {
        m_bCompleted = true;
        m_bPaused = false;
    }
    if (index == 0)
        ui->LABEL_START_LAPSE->setText(QDateTime::currentDateTime().toString("yyyy/MM/dd hh:mm:ss"));
    // The time of the frame just taken, as its file says (the last frame's is shown at the end).
    if (count != total)
        ui->LABEL_CURRENT_LAPSE->setText(QString("%1 / %2").arg(timeText(stampS), timeText(m_TimeLapse.totalTime())));
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    ui->LABEL_IMAGES->setText(english.toString(count) + '/' + english.toString(total));
    return count;
}

void TimeLapseWidget::endFrame(int count, bool ended)
{
    // A frame that ended once the next frame's light was due leaves the light on: lit since this
    // frame, it has settled for longer than its lead, and the next frame keeps its time.
    m_bLightKept = !ended && !m_bStop && m_LightTimer.isActive() && m_LightTimer.remainingTime() == 0;
    if (!m_bLightKept)
        emit lightOff();
    ui->PROGRESSBAR_COUNT->setValue(count);
    ui->PROGRESSBAR_COUNT->repaint();
    if (ended)
        completedTimeLapse(false);
}

void TimeLapseWidget::keepBand(int bits, int row, int rows, const uchar *samples)
{
    const size_t first = size_t(row) * kFrameWidth, pixels = size_t(rows) * kFrameWidth;
    if (bits == 8) {
        std::memcpy(m_pFrameImageData + first, samples, pixels);
        return;
    }
    std::memcpy(m_pWorkBuffers[0].get() + 2 * first, samples, 2 * pixels);
    // The first byte of each big-endian camera word is its most significant one.
    cv::extractChannel(cv::Mat(rows, kFrameWidth, CV_8UC2, const_cast<uchar *>(samples)),
                       cv::Mat(rows, kFrameWidth, CV_8UC1, m_pFrameImageData + first), 0);
}

// ---------------------------------------------------------------------------------------------
// States and controls

void TimeLapseWidget::setCurrentState(TTimeLapseState state)
{
    m_nCurrentState = state;
    changeState();
}

void TimeLapseWidget::setTheFirstTime(bool bFirstTime)
{
    m_bFirstTime = bFirstTime;
    m_bPaused = false;
    ui->LABEL_CURRENT_LAPSE->clear();
    ui->LABEL_IMAGES->clear();
    ui->LABEL_START_LAPSE->clear();
}

void TimeLapseWidget::setUIControlEnabled(bool enable)
{
    for (QWidget *control : {ui->BUTTON_SAVE_BEFORE, ui->BUTTON_SAVE_AFTER, ui->BUTTON_TIMELAPSE_RUN,
                             ui->BUTTON_TIMELAPSE_LIVE, ui->BUTTON_TIMELAPSE_STOP})
        control->setEnabled(enable);
    setSpinboxState(enable);
}

void TimeLapseWidget::setSpinboxState(bool enable)
{
    for (QWidget *control : {static_cast<QWidget *>(ui->SPINBOX_HOUR), static_cast<QWidget *>(ui->SPINBOX_MINUTE),
                             static_cast<QWidget *>(ui->SPINBOX_SECOND), static_cast<QWidget *>(ui->SPINBOX_INTERVAL),
                             static_cast<QWidget *>(ui->COMBOBOX_INTERVAL_TYPE)})
        control->setEnabled(enable);
}

void TimeLapseWidget::clearTimeLabel()
{
    ui->LABEL_CURRENT_LAPSE->clear();
    ui->LABEL_IMAGES->clear();
    ui->LABEL_START_LAPSE->clear();
}

void TimeLapseWidget::setSaveButtons()
{
    if (m_bFirstTime) {
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->hide();
    } else if (m_bSaved) {
        ui->BUTTON_SAVE_AFTER->setEnabled(true);
        ui->BUTTON_SAVE_BEFORE->hide();
    } else {
        ui->BUTTON_SAVE_BEFORE->setEnabled(true);
        ui->BUTTON_SAVE_AFTER->hide();
    }
}

void TimeLapseWidget::changeState()
{
    const bool P = m_bPaused;
    const int state = m_nCurrentState;
    auto annotations = [this](bool on) {
        for (QPushButton *box : {ui->CHKBOX_SCALEBAR, ui->CHKBOX_TIMESTAMP}) {
            box->setCheckable(on);
            box->setEnabled(on);
        }
    };
    switch (state) {
    case TIMELAPSE_IDLE:
    case TIMELAPSE_LIVE: {
        const bool live = state == TIMELAPSE_LIVE;
        setSpinboxState(!P);
        ui->BUTTON_TIMELAPSE_LIVE->show();
        ui->BUTTON_TIMELAPSE_LIVE->setEnabled(!live);
        ui->BUTTON_TIMELAPSE_RUN->show();
        ui->BUTTON_TIMELAPSE_RUN->setEnabled(live);
        ui->BUTTON_TIMELAPSE_PAUSE->hide();
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(P);
        setSaveButtons();
        annotations(false);
        ui->PROGRESSBAR_COUNT->setVisible(live && P);
        ui->LABEL_PROGRESSBAR_BG->setVisible(live && P);
        ui->BUTTON_SAVE_PATH->setEnabled(!P);
        ui->BUTTON_LOAD_IMAGE->setEnabled(!P);
        ui->BUTTON_SAVE_IMAGE->setEnabled(false);
        ui->BUTTON_SAVE_VIDEO->setEnabled(false);
        ui->BUTTON_MODE1->setEnabled(true);
        ui->BUTTON_MODE2->setEnabled(true);
        on_COMBOBOX_INTERVAL_TYPE_currentIndexChanged(ui->COMBOBOX_INTERVAL_TYPE->currentIndex());
        break;
    }
    case TIMELAPSE_SHOWN:
        setSpinboxState(false);
        ui->BUTTON_TIMELAPSE_LIVE->show();
        ui->BUTTON_TIMELAPSE_LIVE->setEnabled(true);
        ui->BUTTON_TIMELAPSE_RUN->show();
        ui->BUTTON_TIMELAPSE_RUN->setEnabled(P);
        ui->BUTTON_TIMELAPSE_PAUSE->hide();
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(P);
        ui->BUTTON_SAVE_AFTER->hide();
        annotations(true);
        ui->PROGRESSBAR_COUNT->hide();
        ui->LABEL_PROGRESSBAR_BG->hide();
        ui->BUTTON_SAVE_PATH->setEnabled(!P);
        ui->BUTTON_LOAD_IMAGE->setEnabled(!P);
        ui->BUTTON_SAVE_IMAGE->setEnabled(true);
        ui->BUTTON_SAVE_VIDEO->setEnabled(true);
        ui->BUTTON_MODE1->setEnabled(true);
        ui->BUTTON_MODE2->setEnabled(true);
        setFocusCorrectionState(P);
        if (g_CurrentMenu == MENU_TIMELAPSE)
            on_CHKBOX_SCALEBAR_clicked();
        on_CHKBOX_TIMESTAMP_clicked();
        break;
    case TIMELAPSE_ACQUIRING:
        ui->BUTTON_TIMELAPSE_LIVE->setEnabled(false);
        ui->BUTTON_TIMELAPSE_RUN->hide();
        ui->BUTTON_TIMELAPSE_PAUSE->show();
        ui->BUTTON_TIMELAPSE_STOP->setEnabled(true);
        annotations(false);
        ui->PROGRESSBAR_COUNT->show();
        ui->LABEL_PROGRESSBAR_BG->show();
        ui->BUTTON_SAVE_PATH->setEnabled(false);
        ui->BUTTON_LOAD_IMAGE->setEnabled(false);
        ui->BUTTON_SAVE_IMAGE->setEnabled(false);
        ui->BUTTON_SAVE_VIDEO->setEnabled(false);
        ui->BUTTON_MODE1->setEnabled(false);
        ui->BUTTON_MODE2->setEnabled(false);
        setFocusCorrectionState(false);
        break;
    }
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit changedState();
}

void TimeLapseWidget::on_COMBOBOX_INTERVAL_TYPE_currentIndexChanged(int index)
{
    // Follows the other number fields as the page set them, whatever a disabled parent shows now.
    ui->SPINBOX_INTERVAL->setEnabled(index != 3 && ui->SPINBOX_HOUR->isEnabledTo(this));
    setFocusCorrectionState(index != 3);
    if (!isQCTestMode())
        return;
    if (index == 0) {
        ui->SPINBOX_INTERVAL->setSingleStep(0.1);
        ui->SPINBOX_INTERVAL->setDecimals(1);
    } else if (index == 1 || index == 2) {
        ui->SPINBOX_INTERVAL->setSingleStep(1.0);
        ui->SPINBOX_INTERVAL->setDecimals(0);
        ui->SPINBOX_INTERVAL->setValue(double(int(ui->SPINBOX_INTERVAL->value())));
    }
}

void TimeLapseWidget::on_BUTTON_MODE1_clicked()
{
    ui->BUTTON_MODE1->setChecked(true);
    ui->BUTTON_MODE2->setChecked(false);
    ui->STACKEDWIDGET->setCurrentIndex(0);
}

void TimeLapseWidget::on_BUTTON_MODE2_clicked()
{
    ui->BUTTON_MODE1->setChecked(false);
    ui->BUTTON_MODE2->setChecked(true);
    ui->STACKEDWIDGET->setCurrentIndex(1);
}

void TimeLapseWidget::on_CHKBOX_TIMESTAMP_clicked()
{
    emit enableAnnotation(ui->CHKBOX_TIMESTAMP->isChecked());
}

void TimeLapseWidget::on_CHKBOX_SCALEBAR_clicked()
{
    emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
}

// ---------------------------------------------------------------------------------------------
// Live video, control panel

void TimeLapseWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_TIMELAPSE || m_bBusy)
        return;
    PageCursor::normal();
    if (m_bLEDState)
        ui->BUTTON_TIMELAPSE_RUN->setEnabled(true);
    // Menu and panel are free before the panel's unlock hands out the taps made meanwhile.
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
}

void TimeLapseWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_TIMELAPSE || m_bBusy)
        return;
    PageCursor::normal();
    ui->BUTTON_TIMELAPSE_LIVE->setEnabled(true);
    if (m_bPreSave) {
        ui->BUTTON_SAVE_AFTER->setEnabled(true);
        ui->BUTTON_SAVE_BEFORE->hide();
    } else {
        ui->BUTTON_SAVE_BEFORE->setEnabled(true);
        ui->BUTTON_SAVE_AFTER->hide();
    }
    emit signalEnableMainMenu(true);
}

void TimeLapseWidget::setCurrentFilterPosition(int position)
{
    m_nFilterPosition = position;
    const int row = clampExposureRow(readSettingNumber(qPrintable(QString("Filter_%1").arg(position)), "Exposure", "7"));
    if (m_nBitDepth == 8 || m_nBitDepth == 16)
        m_nExposure = exposureTable(m_nBitDepth)[row][0];
}

void TimeLapseWidget::setCurrentObjectiveLensPosition(int position)
{
    if (!m_bCompleted)
        m_nObjectivePosition = position;
}

void TimeLapseWidget::setPseudoColor(bool on, int filterPosition, int colorIndex)
{
    m_bPseudoColor = on;
    m_nFilterPosition = filterPosition;
    m_nColorIndex = colorIndex;
}

void TimeLapseWidget::changedExposure(int exposure)
{
    if (g_CurrentMenu == MENU_TIMELAPSE)
        m_nExposure = exposure;
}

void TimeLapseWidget::slotLEDState(bool on)
{
    if (g_CurrentMenu != MENU_TIMELAPSE)
        return;
    m_bLEDState = on;
    if (m_nCurrentState != TIMELAPSE_ACQUIRING)
        ui->BUTTON_TIMELAPSE_RUN->setEnabled(on);
}

void TimeLapseWidget::slotSetEnableControlState(bool enable)
{
    setEnabled(enable);
}

void TimeLapseWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

void TimeLapseWidget::debugLine(const QString &text) const
{
    if (isEnableSerialLog())
        qDebug().noquote() << "TimeLapse:" << text;
}


// ---------------------------------------------------------------------------------------------
// Loading a folder

const QString TimeLapseWidget::kLoadingText = QStringLiteral("<p><b>Loading ...</b></p>");

bool TimeLapseWidget::loadImages(const QString &folder)
{
    const QFileInfoList files = ImageSeriesFiles::tiffFiles(folder);
    if (files.isEmpty()) {
        MessageDlg message(this);
        message.setMsgType(MSG_NO_IMAGE_FILES);
        message.exec();
        return false;
    }
    PageCursor::busy(Qt::WaitCursor);
    emit lightOff();
    m_FileList = files;
    PageCursor::normal();
    m_bLoadStop = false;
    QTimer::singleShot(500, this, &TimeLapseWidget::slotLoadImages);
    m_pLoadingDlg = new TimeLapseProgressDlg;
    m_pLoadingDlg->setMessage(kLoadingText);
    m_pLoadingDlg->setSignalMode(true);
    m_pLoadingDlg->setTotalCount(m_FileList.size());
    connect(m_pLoadingDlg, &TimeLapseProgressDlg::signalOKClicked, this, &TimeLapseWidget::slotStopClicked);
    m_pLoadingDlg->exec();
    if (m_pLoadingDlg)
        m_pLoadingDlg->deleteLater();
    return true;
}

void TimeLapseWidget::slotLoadImages()
{
    m_TimeLapse.clearThumbnails();
    ImReaderWriter image; // one buffer for the whole folder
    for (int i = 0; i < m_FileList.size() && !m_bLoadStop; ++i) {
        if (ThumbnailInfo info; ImageSeriesFiles::loadFrame(m_FileList[i], image, kLoadThumbnailSize, info))
            m_TimeLapse.pushThumbnail(info);
        if (m_pLoadingDlg) {
            m_pLoadingDlg->setCurrentCount(i + 1);
            qProcessEvents(); // lets Stop through
        }
    }
    if (m_pLoadingDlg) {
        m_pLoadingDlg->close();
        m_pLoadingDlg->deleteLater();
    }
    completedTimeLapse(true);
    ui->PROGRESSBAR_COUNT->setValue(0);
    ui->PROGRESSBAR_COUNT->hide();
    ui->LABEL_PROGRESSBAR_BG->hide();
}

void TimeLapseWidget::slotStopClicked()
{
    if (m_pLoadingDlg)
        disconnect(m_pLoadingDlg, &TimeLapseProgressDlg::signalOKClicked, this, &TimeLapseWidget::slotStopClicked);
    m_bLoadStop = true;
}

void TimeLapseWidget::on_BUTTON_LOAD_IMAGE_clicked()
{
    ui->BUTTON_LOAD_IMAGE->setChecked(false);
    const bool stopVideo = m_nCurrentState != TIMELAPSE_SHOWN;
    if (stopVideo) {
        m_bBusy = true;
        emit setVideoRunningState(false);
    }
    QString folder;
    bool accepted = false;
    {
        DirectoryDialog dialog(nullptr);
        accepted = dialog.exec() == 1;
        folder = dialog.getSelectedPath();
    }
    if (stopVideo) {
        emit setVideoRunningState(true);
        m_bBusy = false;
    }
    if (accepted)
        loadImages(folder);
}

// ---------------------------------------------------------------------------------------------
// Saving the series

void TimeLapseWidget::makeAnnotationList(const std::vector<ThumbnailInfo> &thumbnails, QStringList &lines)
{
    lines.clear();
    const int n = int(thumbnails.size());
    if (n < 1)
        return;
    auto timeOf = [](const QString &path) {
        QString meta, value;
        if (getImageMetaInfo(path.toStdString(), meta) == 1)
            getMetaInfoValue(meta, QStringLiteral("Time"), value);
        return value;
    };
    const QString last = timeOf(thumbnails.back().path);
    for (int i = 1; i <= n; ++i) {
        const QString time = timeOf(thumbnails[size_t(i - 1)].path);
        if (!time.isEmpty() && !last.isEmpty())
            lines << QStringLiteral("%1 / %2  %3 / %4").arg(time, last).arg(i).arg(n);
        else
            lines << QStringLiteral("%1 / %2").arg(i).arg(n);
    }
}

void TimeLapseWidget::prepareSaveDialog(SaveOptionsDlg &dialog, int option)
{
    dialog.setCurrentSaveOption(TSaveOption(option), true, SUB_OPTION_NONE);
    dialog.setImageBits(m_nBitDepth);
    dialog.setFilterColorIndex(m_nColorIndex);
    dialog.setDrawingScaleBar(ui->CHKBOX_SCALEBAR->isChecked(), m_nObjectivePosition);
    dialog.m_ScaleBarPoint = m_ScaleBarPoint;
    dialog.m_AnnotationTextInfo = m_AnnotationTextInfo;
}

void TimeLapseWidget::on_BUTTON_SAVE_IMAGE_clicked()
{
    ui->BUTTON_SAVE_IMAGE->setChecked(false);
    const std::vector<ThumbnailInfo> &images = m_TimeLapse.thumbnails();
    QStringList paths;
    for (const ThumbnailInfo &image : images)
        paths << image.path;
    if (paths.isEmpty()) {
        MessageDlg message(this);
        message.setMsgType(MSG_NO_SELECTED_IMAGE);
        message.exec();
        return;
    }
    QStringList lines;
    makeAnnotationList(images, lines);
    // The browser answers at once: the copies below are its current bar and text.
    emit getScaleBarPoint();
    emit getAnnotationTextInfo();
    {
        SaveOptionsDlg dialog(nullptr, false);
        prepareSaveDialog(dialog, SAVE_OPTION_TIMELAPSE_IMAGES);
        dialog.setLoadImagePathList(paths, lines);
        dialog.exec();
    }
    emit saved(true);
}

int TimeLapseWidget::runTimeLapseSaveDialog()
{
    emit getScaleBarPoint();
    emit getAnnotationTextInfo();
    SaveOptionsDlg dialog(nullptr, false);
    prepareSaveDialog(dialog, SAVE_OPTION_TIMELAPSE);
    dialog.generateCapturedImageMetaData();
    return dialog.exec();
}

void TimeLapseWidget::on_BUTTON_SAVE_BEFORE_clicked()
{
    if (runTimeLapseSaveDialog() != 1)
        return;
    m_bPreSave = true;
    m_bFirstTime = false;
    emit saved(true);
    ui->BUTTON_SAVE_AFTER->setEnabled(true);
    ui->BUTTON_SAVE_BEFORE->hide();
    qProcessEvents();
}

void TimeLapseWidget::on_BUTTON_SAVE_AFTER_clicked()
{
    runTimeLapseSaveDialog();
}

void TimeLapseWidget::slotDeleteThumbnail(int index)
{
    std::vector<ThumbnailInfo> &images = m_TimeLapse.thumbnails();
    if (index >= 0 && index < int(images.size()))
        images.erase(images.begin() + index);
}

void TimeLapseWidget::makePseudoColorImage(const uchar *frame, int byteCount, uchar *out)
{
    SaveImageComposer composer;
    // Filter position 0 is transmitted light; the grey colours have no plane of their own.
    composer.pseudoColorIndex = m_nFilterPosition == 0 || m_nColorIndex > 4 ? 7 : clampColorIndex(m_nColorIndex);
    composer.colorImage = false;
    const int bytes = SaveImageComposer::frameBytes(m_nBitDepth, true);
    std::vector<uchar> rgb(size_t(bytes), 0);
    composer.makePseudoColorImage(frame, bytes, rgb.data());
    std::memcpy(out, rgb.data(), size_t(qBound(0, byteCount, bytes)));
}

// ---------------------------------------------------------------------------------------------
// Scale bar and time stamp

void TimeLapseWidget::slotScaleBarCheckBoxState(TSScaleBar scaleBar)
{
    ScaleBar::uncheckWithoutObjective(ui->CHKBOX_SCALEBAR, scaleBar);
}

void TimeLapseWidget::slotSetScaleBarPoint(QPointF point)
{
    m_ScaleBarPoint = point;
}

void TimeLapseWidget::slotSetAnnotationTextInfo(TAnnotationTextInfo info)
{
    m_AnnotationTextInfo = info;
}

// ---------------------------------------------------------------------------------------------
// The video button

void TimeLapseWidget::on_BUTTON_SAVE_VIDEO_clicked()
{
    ui->BUTTON_SAVE_VIDEO->setChecked(false);
    // The staged frames are always RGB: the space is checked whatever the display.
    if (SeriesVideoExporter::checkEncoderAndSpace(int(m_TimeLapse.thumbnails().size())))
        emit saveVideo();
}

// ---------------------------------------------------------------------------------------------
// Continuous recording

const QString TimeLapseWidget::kRecordVolume = QStringLiteral("/media/VANTOR SSD");
const QString TimeLapseWidget::kRecordVolumeText =
    QStringLiteral("<p><b>Error!</b><br/><br/>Recordings must be stored in VANTOR SSD.</p>");
const QString TimeLapseWidget::kRecordLostText =
    QStringLiteral("<p><b>Warning!</b><br/><br/>%1 frames could not be recorded.</p>");

// Where the run's frames go: the run's folder and its name again as the stem of every file.
QString TimeLapseWidget::recordingPrefix() const
{
    return QString("%1/%2/%3").arg(m_SavePath, m_RunName, m_RunName);
}

bool TimeLapseWidget::isRecordingPath(const QString &path)
{
    return Paths::fixedPath(path).startsWith(kRecordVolume);
}

void TimeLapseWidget::startContinuousRecording()
{
    ui->PROGRESSBAR_COUNT->hide();
    ui->LABEL_PROGRESSBAR_BG->hide();
    ui->BUTTON_TIMELAPSE_PAUSE->setEnabled(false);
    ui->BUTTON_TIMELAPSE_STOP->setEnabled(true);
    ui->LABEL_START_LAPSE->setText(QDateTime::currentDateTime().toString("yyyy/MM/dd hh:mm:ss"));
    ui->LABEL_CURRENT_LAPSE->setText(QString("00:00:00 / %1").arg(timeText(m_TimeLapse.totalTime())));
    m_nLostAtStart = m_RecordingDrain.lost ? m_RecordingDrain.lost() : 0;
    m_RecordClock.start();
    emit startRecording(true, recordingPrefix());
    m_RecordStopTimer.start(m_TimeLapse.totalTime() * 1000);
    m_nRecordSeconds = 0;
    m_RecordTimer.start();
    m_RecordLabelTimer.start();
}

void TimeLapseWidget::enableRecord()
{
    ++m_nRecordSeconds;
    ui->LABEL_CURRENT_LAPSE->setText(
        QString("%1 / %2").arg(timeText(m_nRecordSeconds), timeText(m_TimeLapse.totalTime())));
}

void TimeLapseWidget::enableRecordLabel()
{
    ui->BUTTON_RECORDING->setVisible(!ui->BUTTON_RECORDING->isVisible());
}

void TimeLapseWidget::enableRecordStop()
{
    // A recording stopped early shows the whole seconds it recorded; one that ran its course, the
    // whole time.
    const int total = m_TimeLapse.totalTime();
    const bool early = m_RecordStopTimer.isActive();
    const qint64 recorded = early ? qMin<qint64>(total, m_RecordClock.elapsed() / 1000) : total;
    ui->LABEL_CURRENT_LAPSE->setText(QString("%1 / %2").arg(timeText(recorded), timeText(total)));
    for (QTimer *timer : {&m_RecordTimer, &m_RecordStopTimer, &m_RecordLabelTimer})
        timer->stop();
    ui->BUTTON_RECORDING->hide();
    emit startRecording(false, QString());
    if (m_pProgressDlg) {
        m_pProgressDlg->close();
        m_pProgressDlg->deleteLater();
    }
    // The live video writes on its own pool: every frame it took must be on disk before the load.
    PageCursor::busy(Qt::WaitCursor);
    if (m_RecordingDrain.wait && !m_RecordingDrain.wait(kRecordDrainTimeoutMs))
        qWarning() << "Time lapse: recorded frames still being written after" << kRecordDrainTimeoutMs << "ms";
    clearDirtyMemory();
    PageCursor::normal();
    const QString folder = runFolder() + '/';
    if (ImageSeriesFiles::tiffFiles(folder).isEmpty())
        removeEmptyRecordFolder();
    if (!loadImages(folder))
        endEmptyRecording();
    const int lost = (m_RecordingDrain.lost ? m_RecordingDrain.lost() : 0) - m_nLostAtStart;
    if (lost > 0) {
        MessageDlg message(this);
        message.setMessage(kRecordLostText.arg(lost));
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
    }
}

// The folder this recording made goes again when it holds nothing at all (rmdir takes only an
// empty folder); the label names the chosen folder again.
void TimeLapseWidget::removeEmptyRecordFolder()
{
    if (m_RecordFolder.isEmpty())
        return;
    if (QDir().rmdir(m_RecordFolder)) {
        qInfo().noquote() << "Time lapse: empty recording folder removed:" << m_RecordFolder;
        showRunFolder(m_SeriesName);
    }
    m_RecordFolder.clear();
}

// A recording shorter than one frame leaves nothing to show: the page goes back to the live
// view it recorded from (still running), with the menu, the panel and polling given back.
void TimeLapseWidget::endEmptyRecording()
{
    emit signalEnablePullingCommand(true);
    m_nCurrentState = TIMELAPSE_LIVE;
    changeState();
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void TimeLapseWidget::on_BUTTON_START_RECORD_clicked()
{
    if (m_nCurrentState != TIMELAPSE_LIVE) {
        on_BUTTON_TIMELAPSE_LIVE_clicked();
        repaint();
        delay((m_nExposure + 1000) * 2);
    }
    m_GrabBuffer.clear();
    m_TimeLapse.clearThumbnails();
    if (!isRecordingPath(m_SavePath)) {
        MessageDlg message(this);
        message.setMessage(kRecordVolumeText);
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
        return;
    }
    if (!makeRunFolder())
        return;
    emit startRecording(true, recordingPrefix());
}

void TimeLapseWidget::on_BUTTON_STOP_RECORD_clicked()
{
    m_RecordStopTimer.stop();
    emit startRecording(false, QString());
    emit lightOff();
    m_nCurrentState = TIMELAPSE_IDLE;
    changeState();
}

void TimeLapseWidget::slotGrabbed(uchar *frame, int bits)
{
    if (g_CurrentMenu != MENU_TIMELAPSE || !frame)
        return;
    QElapsedTimer clock;
    clock.start();
    // Each frame keeps its own size and depth, and is saved with that depth.
    const int depth = bits == 16 ? 16 : 8;
    GrabbedFrame grabbed;
    grabbed.bits = depth;
    grabbed.samples = QByteArray(reinterpret_cast<const char *>(frame), kFramePixels * (depth / 8));
    m_GrabBuffer.push_back(std::move(grabbed));
    if (isEnableSerialLog())
        debugLine(QString("Push time / Vector size : %1 ms / %2").arg(clock.elapsed()).arg(m_GrabBuffer.size()));
}

void TimeLapseWidget::on_BUTTON_SAVE_RECORD_clicked()
{
    if (!makeRunFolder())
        return;
    ImReaderWriter image;
    const QString prefix = recordingPrefix();
    const QString meta = capturedImageMetaData().metaText();
    for (size_t i = 0; i < m_GrabBuffer.size(); ++i) {
        const GrabbedFrame &frame = m_GrabBuffer[i];
        const QString name = QString::asprintf("%s_%06d.%s", prefix.toUtf8().constData(), int(i),
                                               m_FileExtension.toUtf8().constData());
        const QString time = QTime(0, 0).addMSecs(int(i + 1) * (m_nExposure + 200)).toString("hh:mm:ss.zzz");
        if (isEnableSerialLog())
            debugLine(QString("\"Time: %1\"").arg(time));
        const bool ok = image.load(frame.samples.constData(), kFrameWidth, kFrameHeight, quint16(frame.bits), 1, 1, 1, 1)
                        && image.write(QFile::encodeName(name), (meta + ";Time: " + time).toUtf8());
        if (!ok)
            qWarning().noquote() << "Time lapse: write error" << name;
    }
}
