#include "ControlWidget.h"
#include "ui_ControlWidget.h"

#include "CameraTables.h"
#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "TurretLog.h"
#include "Utilities.h"

#include <QApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The page whose light rules hold: during a fine autofocus, the page that started it.
bool onCellCountPage(const FineAFSequence &af)
{
    return (g_CurrentMenu == MENU_FINE_AF ? af.savedMenu() : g_CurrentMenu) == MENU_CELLCOUNT;
}

// Filter position p is shown on button kFilterButton[p]; the configuration names cubes by the
// same turret slots (the mapping is its own inverse).
constexpr int kFilterButton[4] = {0, 3, 2, 1};
constexpr int kSlotPosition[4] = {0, 3, 2, 1};

// Default colour index of filter positions 1 to 3 (FilterColor keys 3, 2, 1).
constexpr int kDefaultColor[4] = {7, 2, 0, 1};

constexpr int kMemorySpeed = 200;      // speed of the drives to the lower limit
constexpr int kParkingSpeed = 200;
constexpr int kJogThreshold = 10;      // a jog starts this far from the press value
constexpr int kOldDialectTop = 500000; // the old dialect's "up until stopped"

QString configFile()
{
    return Paths::configFile();
}

QString readConfig(const QString &section, const QString &key, const QString &def)
{
    std::string out;
    ReadPrivateProfileString(section.toStdString(), key.toStdString(), def.toStdString(), out,
                             configFile().toStdString());
    return QString::fromStdString(out);
}

int readConfigInt(const QString &section, const QString &key, const QString &def)
{
    return readConfig(section, key, def).trimmed().toInt(); // text that is not a number reads 0
}

void writeConfig(const QString &section, const QString &key, const QString &value)
{
    WritePrivateProfileString(section.toStdString(), key.toStdString(), value.toStdString(),
                              configFile().toStdString());
}

QString filterStyle(int button, bool withEnabled, const char *disabledColor)
{
    const QString image = QStringLiteral(":/UI/ControlWidget/Filter/color%1").arg(button + 1);
    QString style;
    if (withEnabled)
        style = QStringLiteral("QPushButton { border-image: url(%1-on.png); color:#E0E0E0;}").arg(image);
    return style
           + QStringLiteral("QPushButton:disabled { border-image: url(%1-off.png); color: %2;}").arg(image, disabledColor);
}

QString g_serialPortName;
std::function<QDialog *()> g_logViewerFactory;

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

ControlWidget::ControlWidget(QWidget *parent)
    : QFrame(parent)
    , m_BoldFont(m_Font10)
    , m_NormalFont(m_Font10)
    , ui(new Ui_ControlWidget)
{
    qRegisterMetaType<TFineAFErrTable>("TFineAFErrTable");
    ui->setupUi(this);
    m_FocusButtonTimer.setInterval(kFocusRepeatMs);
    m_KnobTimer.setInterval(200);

    m_nStageMaxSpeed = 700;
    m_nStageFocusSpeed = 100;
    m_bScaled = false;
    m_bToBeScaled = true;

    if (isEnableSerialLog() && g_logViewerFactory) {
        m_pLogDlg = g_logViewerFactory();
    } else if (!isEnableSerialLog()) {
        ui->BUTTON_FOCUS_ORIGIN->hide();
        ui->BUTTON_SHOW_LOG->hide();
    }

    m_strToolTipFormat = "<span style=\" font-family:'DejaVu Sans'; font-size:9pt;\">%1</span>";
    initialize();
}

ControlWidget::~ControlWidget()
{
    m_KnobTimer.stop();
    m_FocusButtonTimer.stop();
    m_SettleWatch.cancel();
    if (m_pLogDlg) {
        m_pLogDlg->close();
        m_pLogDlg->deleteLater();
    }
    delete ui;
}

QString ControlWidget::serialPortName()
{
    if (Paths::isInstrument())
        return qEnvironmentVariableIsEmpty("VANTOR_SERIAL_DEVICE") ? QStringLiteral("ttyS4")
                                                                   : qEnvironmentVariable("VANTOR_SERIAL_DEVICE");
    if (!g_serialPortName.isEmpty())
        return g_serialPortName;
    return qEnvironmentVariable("VANTOR_SERIAL_DEVICE");
}

void ControlWidget::setSerialPortName(const QString &name)
{
    g_serialPortName = name;
}

void ControlWidget::setLogViewerFactory(std::function<QDialog *()> factory)
{
    g_logViewerFactory = std::move(factory);
}

void ControlWidget::initialize()
{
    makeSignalSlotConnection();

    m_nFilterPosition = -1;
    std::fill(std::begin(m_nPageState), std::end(m_nPageState), -1);
    m_nState = CONTROL_STATE_OPENED;
    std::fill(std::begin(m_FilterSet), std::end(m_FilterSet), TFilterSet{50, 0, 0});
    m_bFilterOutOfPosition = false;
    m_bObjectiveOutOfPosition = false;
    m_nObjectivePosition = 0;
    m_bLiveMode = true;
    m_bLightOn = false;
    m_bPseudoColor = false;
    resetFocusState();
    ui->BUTTON_FOCUS_MEMORY_ON->setChecked(false);

    readSetting();

    m_NormalFont = m_Font10;
    m_NormalFont.setWeight(QFont::Normal);
    m_BoldFont = m_Font10;
    m_BoldFont.setWeight(QFont::Bold);

    for (QWidget *w : std::initializer_list<QWidget *>{ui->SLIDER_FOCUS_COARSE, ui->SLIDER_FOCUS_FINE, ui->SLIDER_LIGHT,
                                                       ui->SLIDER_GAIN, ui->SLIDER_EXPOSURE})
        w->installEventFilter(this);
    for (int memory = 1; memory <= 5; ++memory)
        memoryButton(memory)->installEventFilter(this);

    m_Controller.PortOpen(serialPortName(), 115200, QSerialPort::NoParity, QSerialPort::OneStop,
                          QSerialPort::Data8, QSerialPort::NoFlowControl);
    setKnobSpeed();

    m_KnobTimer.start();
    ui->PROGRESSBAR_FOCUS->setMaximum(int(g_ConvertToStep * 10000));
}

void ControlWidget::resetFocusState()
{
    m_nLastSpeed = -1;
    m_nCurrentStep = 0;
    m_bFocusingEnabled = true;
    m_nJogState = 2;
    m_bJogStarted = false;
    m_nCurrentMemory = -1;
    clearSequenceMarks();
    m_bSetDialogOpen = m_bMoveDialogOpen = m_bMoveFinished = false;
    m_bStartPositioningPending = m_bCheckedMovePending = m_bParking = false;
}

void ControlWidget::makeSignalSlotConnection()
{
    Controller *c = &m_Controller;
    connect(c, &Controller::changeFilterPosition, this, &ControlWidget::changedFilterPosition);
    connect(c, &Controller::changeLensPosition, this, &ControlWidget::changedLensPosition);
    connect(c, &Controller::changeMotorSpeed, this, &ControlWidget::changedMotorSpeed);
    connect(c, &Controller::signalFocusingEnable, this, &ControlWidget::slotFocusingEnabled);
    connect(&m_FocusButtonTimer, &QTimer::timeout, this, &ControlWidget::slotPressedFocusingButton);
    connect(c, &Controller::signalCurrentMotorPosition, this, &ControlWidget::signalCurrentMotorPosition);
    connect(c, &Controller::signalMovedStartPosition, this, &ControlWidget::slotMovedStartPosition);
    connect(c, &Controller::signalMovedMotorPosition, this, &ControlWidget::signalMotorMoved);
    connect(c, &Controller::signalSetCurrentFocusMemoryPosition, this, &ControlWidget::slotMovedFocusMemoryPosition);
    connect(c, &Controller::signalFocusMemoryIsBottom, this, &ControlWidget::slotFocusMemoryIsBottom);
    connect(c, &Controller::signalMotorPositioningCompleted, this, &ControlWidget::slotMotorPositioningCompleted,
            Qt::QueuedConnection);
    connect(c, &Controller::changeStagePos, this, &ControlWidget::slotChangeStagePos);
    connect(c, &Controller::signalLightConfirmed, this, &ControlWidget::slotLightConfirmed);
    connect(&m_KnobTimer, &QTimer::timeout, this, &ControlWidget::slotFocusingWheel);

    connect(&m_FineAF, &FineAFSequence::capture, this, &ControlWidget::capture);
    connect(&m_FineAF, &FineAFSequence::changeHotpixelEnabled, this, &ControlWidget::changeHotpixelEnabled);
    connect(&m_FineAF, &FineAFSequence::stageSpeedSent, this, &ControlWidget::changedMotorSpeed);
    connect(&m_FineAF, &FineAFSequence::sendAFData, this, &ControlWidget::sendAFData);
    connect(&m_FineAF, &FineAFSequence::completeTimeLapseAF, this, &ControlWidget::completeTimeLapseAF);
    connect(&m_FineAF, &FineAFSequence::completeCellCountAF, this, &ControlWidget::completeCellCountAF);
}

// ---------------------------------------------------------------------------------------------
// Configuration and metadata

void ControlWidget::setMetaText(QString (TCapturedImageMetaData::*field)[4], int position, const QString &text)
{
    if (position < 0 || position > 3)
        return;
    QMutexLocker lock(&capturedImageMetaDataLock());
    (g_CapturedImageMetaData.*field)[position] = text;
}

TFilterSet ControlWidget::readFilterSet(int position) const
{
    const QString group = QStringLiteral("Filter_%1").arg(position);
    TFilterSet set;
    set.light = std::clamp(readConfigInt(group, "Light", "50"), 1, 100);
    set.gain = clampGainRow(readConfigInt(group, "Gain", "0"));
    set.exposure = clampExposureRow(readConfigInt(group, "Exposure", "7"));
    // While the cell-count page counts Trans light in tenths, the set in use is held that way.
    if (position == 0 && m_bScaled)
        set.light = std::min(set.light * 10, 100);
    return set;
}

void ControlWidget::readSetting()
{
    {
        QMutexLocker lock(&capturedImageMetaDataLock());
        TCapturedImageMetaData &meta = g_CapturedImageMetaData;
        meta.instrument = QStringLiteral("Instrument: VANTOR S");
        meta.serialNumber = QStringLiteral("Serial number: ") + readConfig("NIMBO", "Serial", "");
        meta.version = QStringLiteral("Version: v") + readConfig("NIMBO", "Version", "");
    }

    QAbstractButton *filterButtons[4] = {ui->BUTTON_FILTER_POSITION_0, ui->BUTTON_FILTER_POSITION_1,
                                         ui->BUTTON_FILTER_POSITION_2, ui->BUTTON_FILTER_POSITION_3};
    for (int slot = 0; slot < 4; ++slot) {
        const QString name = readConfig("Filter", QString::number(slot), "");
        filterButtons[slot]->setText(name.left(5));
        setMetaText(&TCapturedImageMetaData::filterCube, kSlotPosition[slot], QStringLiteral("Filter cube: ") + name);
    }

    const QString mode = readConfig("Camera", "Mode", "8");
    m_nCameraMode = mode.trimmed().toInt();
    {
        QMutexLocker lock(&capturedImageMetaDataLock());
        g_CapturedImageMetaData.cameraMode = QStringLiteral("Camera mode: ") + mode + QStringLiteral(" bit");
    }
    // The depth chosen in the settings (Mode's when none was chosen there).
    ui->LABEL_CAMERA_MODE->setText(QStringLiteral("%1 bit").arg(readConfig("Camera", "PreviousMode", "8").trimmed()));

    for (int p = 0; p < 4; ++p) {
        const QString group = QStringLiteral("Filter_%1").arg(p);
        const QString light = readConfig(group, "Light", "50");
        m_FilterSet[p] = readFilterSet(p);
        setMetaText(&TCapturedImageMetaData::light, p, QStringLiteral("Light: ") + light + QStringLiteral(" %"));
        setMetaText(&TCapturedImageMetaData::gain, p,
                    QStringLiteral("Gain: %1 dB").arg(GainLUT[m_FilterSet[p].gain][0]));
        setMetaText(&TCapturedImageMetaData::exposure, p,
                    QStringLiteral("Exposure: %1 ms").arg(ExposureLUT8[m_FilterSet[p].exposure][0]));
    }

    m_nColorIndex[0] = 7;
    for (int key = 1; key <= 3; ++key)
        m_nColorIndex[kSlotPosition[key]] = ReadColorIndexSetting("FilterColor", std::to_string(key),
                                                                  kDefaultColor[kSlotPosition[key]],
                                                                  configFile().toStdString());

    for (int lens = 1; lens <= 5; ++lens) {
        m_strMagnification[lens - 1] = readConfig("Lens", QString::number(lens), "").toUpper();
        m_strLensName[lens - 1] = readConfig("LensName", QString::number(lens), "");
    }
    if (m_nObjectivePosition >= 1 && m_nObjectivePosition <= 5)
        showObjective(m_nObjectivePosition);

    m_nCoarseSpeed = readConfigInt("Focus", "CoarseSpeed", "350") / 5;
    m_nFineSpeed = readConfigInt("Focus", "FineSpeed", "5") / 5;
    if (m_nFineSpeed <= 0)
        m_nFineSpeed = 1;
    m_nCoarseStep = qRound(readConfigInt("Focus", "CoarseStepSize", "1") * double(g_ConvertToStep));
    const double fine = std::max(readConfig("Focus", "FineStepSize", "0.05").trimmed().toDouble(), 0.05);
    m_nFineStep = qRound(fine * double(g_ConvertToStep));

    const int maxSpeed = readConfigInt("Setting_Misc", "Stage_MAXSPEED", "700");
    m_nStageMaxSpeed = maxSpeed >= 1 && maxSpeed <= 700 ? maxSpeed : 700;
    const int focusSpeed = readConfigInt("Setting_Misc", "Stage_FOCUSSPEED", "100");
    m_nStageFocusSpeed = focusSpeed >= 1 && focusSpeed <= 700 ? focusSpeed : 100;

    for (int memory = 1; memory <= 5; ++memory) {
        const int position = readConfigInt("FocusMemory", QString::number(memory), "-1");
        m_nMemoryPosition[memory - 1] = position;
        m_bMemoryStored[memory - 1] = position != -1;
        memoryButton(memory)->setChecked(position != -1);
        memoryButton(memory)->setEnabled(position != -1);
        const QString name = readConfig("FocusMemoryDesc", QString::number(memory), "");
        if (!name.isEmpty())
            memoryButton(memory)->setToolTip(QString::fromStdString(m_strToolTipFormat).arg(name));
    }

    ui->BUTTON_LENS_POS_ENABLE->setChecked(readConfigInt("LensPos", "Enable", "1") != 0);
    for (int lens = 1; lens <= 5; ++lens)
        m_nLensPosition[lens - 1] = readConfigInt("LensPos", QString::number(lens), "0");
    checkSetLensPositionState();
}

void ControlWidget::writeFilterSet()
{
    if (!hasFilterPosition())
        return;
    const int p = m_nFilterPosition;
    int light = m_FilterSet[p].light;
    // The cell-count page's tenths of a percent go back to the file as whole percent.
    if (p == 0 && m_bScaled)
        light = std::clamp(qRound(light / 10.0), 1, 100);
    const QString group = QStringLiteral("Filter_%1").arg(p);
    writeConfig(group, "Light", QString::number(light));
    writeConfig(group, "Gain", QString::number(m_FilterSet[p].gain));
    writeConfig(group, "Exposure", QString::number(m_FilterSet[p].exposure));
}

TFilterSet ControlWidget::currentFilterSet() const
{
    if (!hasFilterPosition())
        return TFilterSet{};
    TFilterSet set = m_FilterSet[m_nFilterPosition];
    if (m_nFilterPosition == 0 && m_bScaled)
        set.light = std::clamp(qRound(set.light / 10.0), 1, 100);
    return set;
}

void ControlWidget::slotUpdateCaptureImageMetaData()
{
    const int p = m_nObjectivePosition;
    if (p < 1 || p > 5)
        return;
    const QString key = QString::number(p);
    const QString brand = readConfig("LensType", key, "Quorva");
    const QString aperture = readConfig("LensNA", key, "1");
    const QString text = QStringLiteral("Objective: ") + brand + QLatin1Char(' ') + m_strMagnification[p - 1]
                         + QLatin1Char(' ') + QStringLiteral("NA %1").arg(aperture) + QLatin1Char(' ')
                         + m_strLensName[p - 1];
    if (!hasFilterPosition())
        return;
    QMutexLocker lock(&capturedImageMetaDataLock());
    g_CapturedImageMetaData.channel = m_nFilterPosition;
    g_CapturedImageMetaData.objective[m_nFilterPosition] = text;
}

int ControlWidget::currentFilterPositionForHotPixelCorrection() const
{
    return m_bFilterOutOfPosition ? -1 : m_nFilterPosition;
}

bool ControlWidget::checkLensAndFilterPosition()
{
    return m_Controller.checkLensAndFilterPosition();
}

int ControlWidget::focusMemoryPosition(int memory) const
{
    return memory >= 1 && memory <= 5 ? m_nMemoryPosition[memory - 1] : -1;
}

int ControlWidget::lensPosition(int objective) const
{
    return objective >= 1 && objective <= 5 ? m_nLensPosition[objective - 1] : 0;
}

// ---------------------------------------------------------------------------------------------
// Page states and enabling

void ControlWidget::setCurrentMenuState(int single, int multiColor, int zStack, int timeLapse, int cellCount, int growth)
{
    const int words[6] = {single, multiColor, zStack, timeLapse, cellCount, growth};
    std::copy(std::begin(words), std::end(words), std::begin(m_nPageState));
    labelRunScene();
}

// A run labels its pictures with what stands in the light path: the metadata names the cube and
// objective in place, and the turret log notes the label from now on (a recording's frames are
// labelled from it as of their exposure).
void ControlWidget::labelRunScene()
{
    if (!acquisitionRunning() || m_bFilterOutOfPosition || m_bObjectiveOutOfPosition)
        return;
    slotUpdateCaptureImageMetaData();
    g_turretLog.noteLabel(capturedImageMetaData().metaText());
}

bool ControlWidget::acquisitionRunning() const
{
    return m_nPageState[2] == 3 || m_nPageState[3] == 3 || m_nPageState[4] == 3;
}

bool ControlWidget::anyPageWord(int value) const
{
    return std::find(std::begin(m_nPageState), std::end(m_nPageState), value) != std::end(m_nPageState);
}

void ControlWidget::setUIControlEnabled(bool enable, bool turnOnLight)
{
    bool effective = enable;
    if (isQCTestMode())
        effective = true;
    else if (m_nState == CONTROL_STATE_OPENED)
        effective = false;
    if (effective && (m_bFilterOutOfPosition || m_bObjectiveOutOfPosition))
        return;

    setUIFilterControlEnabled(effective);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_LENS_MAGNIFICATION_BG, ui->LABEL_LENS_LEFT,
                                                       ui->LABEL_LENS_CURRENT, ui->LABEL_LENS_CURRENT_NAME,
                                                       ui->LABEL_LENS_RIGHT})
        w->setEnabled(effective);
    setUILightAndCameraWidgetEnabled(effective);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->BUTTON_FOCUS_COARSE_UP, ui->BUTTON_FOCUS_COARSE_DOWN,
                                                       ui->BUTTON_FOCUS_FINE_UP, ui->BUTTON_FOCUS_FINE_DOWN,
                                                       ui->SLIDER_FOCUS_COARSE, ui->SLIDER_FOCUS_FINE,
                                                       ui->BUTTON_FOCUS_MEMORY_ON})
        w->setEnabled(effective);
    for (int memory = 1; memory <= 5; ++memory)
        memoryButton(memory)->setEnabled(effective);

    if (effective) {
        on_BUTTON_FOCUS_MEMORY_ON_clicked();
        if (m_bLightOn)
            turnOnLight_Sub(turnOnLight);
        else
            turnOffLight();
    }

    for (QWidget *w : std::initializer_list<QWidget *>{ui->BUTTON_FINE_AF, ui->BUTTON_LENS_SET_POS,
                                                       ui->BUTTON_LENS_POS_ENABLE, ui->BUTTON_FOCUS_ORIGIN,
                                                       ui->PROGRESSBAR_FOCUS, ui->LABEL_POS})
        w->setEnabled(effective);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void ControlWidget::setUILightAndCameraWidgetEnabled(bool enable)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->LABEL_TITLE_LIGHT, ui->BUTTON_LIGHT_ON, ui->SLIDER_LIGHT, ui->LABEL_LIGHT, ui->BUTTON_LIGHT_DECREASE,
             ui->BUTTON_LIGHT_INCREASE, ui->LABEL_TITLE_GAIN, ui->LABEL_GAIN, ui->SLIDER_GAIN,
             ui->BUTTON_GAIN_DECREASE, ui->BUTTON_GAIN_INCREASE, ui->LABEL_TITLE_EXPOSURE, ui->SLIDER_EXPOSURE,
             ui->LABEL_EXPOSURE, ui->BUTTON_EXPOSURE_DECREASE, ui->BUTTON_EXPOSURE_INCREASE})
        w->setEnabled(enable);
}

void ControlWidget::setUIFilterControlEnabled(bool enable)
{
    QAbstractButton *buttons[4] = {ui->BUTTON_FILTER_POSITION_0, ui->BUTTON_FILTER_POSITION_1,
                                   ui->BUTTON_FILTER_POSITION_2, ui->BUTTON_FILTER_POSITION_3};
    const int current = hasFilterPosition() ? kFilterButton[m_nFilterPosition] : -1;
    for (int k = 0; k < 4; ++k) {
        if (enable) {
            if (current >= 0) {
                buttons[k]->setEnabled(k == current);
                buttons[k]->setFont(k == current ? m_BoldFont : m_NormalFont);
            } else {
                buttons[k]->setEnabled(true);
            }
            buttons[k]->setStyleSheet(filterStyle(k, true, "#454545"));
        } else {
            buttons[k]->setEnabled(false);
            if (current < 0)
                continue;
            buttons[k]->setFont(k == current ? m_BoldFont : m_NormalFont);
            buttons[k]->setStyleSheet(filterStyle(k, false, k == current ? "#017AFF" : "#454545"));
        }
    }
}

void ControlWidget::setPseudoColorButtonEnabled(bool enable)
{
    ui->BUTTON_PSEUDO_COLOR->setEnabled(enable);
}

void ControlWidget::slotSetGainExposureControlEnabled(bool enable)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->SLIDER_GAIN, ui->BUTTON_GAIN_DECREASE,
                                                       ui->BUTTON_GAIN_INCREASE, ui->SLIDER_EXPOSURE,
                                                       ui->BUTTON_EXPOSURE_DECREASE, ui->BUTTON_EXPOSURE_INCREASE})
        w->setEnabled(enable);
}

void ControlWidget::slotCameraModeChanged(int mode)
{
    m_nCameraMode = mode;
    ui->LABEL_CAMERA_MODE->setText(QStringLiteral("%1 bit").arg(mode));
}

// ---------------------------------------------------------------------------------------------
// Light

void ControlWidget::on_SLIDER_LIGHT_valueChanged(int value)
{
    const bool tenths = onCellCountPage(m_FineAF) && m_nFilterPosition == 0;
    ui->LABEL_LIGHT->setText(tenths ? QString::number(value / 10.0, 'f', 1) : QString::number(value));
    if (hasFilterPosition())
        m_FilterSet[m_nFilterPosition].light = value;
    if (isEnableSerialLog())
        qDebug().noquote() << Q_FUNC_INFO << value << ui->LABEL_LIGHT->text();
}

void ControlWidget::on_SLIDER_LIGHT_sliderReleased()
{
    if (!hasFilterPosition())
        return;
    const int light = m_FilterSet[m_nFilterPosition].light;
    setMetaText(&TCapturedImageMetaData::light, m_nFilterPosition, QStringLiteral("Light: %1 %").arg(light));
    m_Controller.setLEDPower(light);
}

void ControlWidget::stepSlider(QSlider *slider, int delta, void (ControlWidget::*released)())
{
    const int value = slider->value() + delta;
    if (value < slider->minimum() || value > slider->maximum())
        return;
    slider->setValue(value);
    (this->*released)();
}

void ControlWidget::on_BUTTON_LIGHT_INCREASE_clicked()
{
    stepSlider(ui->SLIDER_LIGHT, 1, &ControlWidget::on_SLIDER_LIGHT_sliderReleased);
}

void ControlWidget::on_BUTTON_LIGHT_DECREASE_clicked()
{
    stepSlider(ui->SLIDER_LIGHT, -1, &ControlWidget::on_SLIDER_LIGHT_sliderReleased);
}

void ControlWidget::on_BUTTON_LIGHT_ON_clicked()
{
    if (m_bLightOn) {
        m_bLightOn = false;
        turnOffLight();
    } else {
        m_bLightOn = true;
        turnOnLight_Sub(true);
    }
}

void ControlWidget::turnOnLight()
{
    turnOnLight_Sub(true);
}

void ControlWidget::turnOnLight_Sub(bool apply)
{
    if (apply)
        m_bLightWanted = true;
    if (m_bFilterOutOfPosition || m_bObjectiveOutOfPosition) {
        // Asked for while a turret turns (LIVE tapped just after a turn): the enabling that
        // follows the turret's report lights it, instead of taking the light for unwanted.
        if (apply && !acquisitionRunning())
            m_bLightOn = true;
        return;
    }
    if (!acquisitionRunning()) {
        m_bLightOn = true;
        setLightControls(true);
    }
    if (apply && hasFilterPosition()) {
        if (m_Controller.getFirmwareVer() > 2.5f)
            applyFineLightScale();
        m_Controller.setLightOnOff(true);
        // A Trans set held in tenths goes out as it is, also while a fine autofocus is current.
        const bool tenths = m_bScaled && m_nFilterPosition == 0;
        const bool unscaled = std::exchange(m_Controller.unscaledLedPower, m_Controller.unscaledLedPower || tenths);
        m_Controller.setLEDPower(m_FilterSet[m_nFilterPosition].light);
        m_Controller.unscaledLedPower = unscaled;
        m_Controller.sendLightNow(); // a frame taken after this sees the light
    }
    emit signalLEDState(true);
}

// The cell-count page sets the Trans light in tenths of a percent up to 10.0 %; elsewhere the
// slider counts whole percent. The set in use follows the page on the way in and out.
void ControlWidget::applyFineLightScale()
{
    if (m_nFilterPosition != 0)
        return;
    int value = -1;
    if (onCellCountPage(m_FineAF)) {
        if (!m_bToBeScaled)
            return;
        m_bToBeScaled = false;
        m_bScaled = true;
        value = std::min(ui->SLIDER_LIGHT->value() * 10, 100);
    } else {
        m_bToBeScaled = true;
        if (!m_bScaled)
            return;
        m_bScaled = false;
        value = qRound(ui->SLIDER_LIGHT->value() / 10.0);
    }
    setSliderValue(ui->SLIDER_LIGHT, value, &ControlWidget::on_SLIDER_LIGHT_valueChanged);
    m_FilterSet[0].light = ui->SLIDER_LIGHT->value();
    setMetaText(&TCapturedImageMetaData::light, 0, QStringLiteral("Light: %1 %").arg(m_FilterSet[0].light));
    if (isEnableSerialLog())
        qDebug().noquote() << Q_FUNC_INFO << g_CapturedImageMetaData.light[0] << ui->SLIDER_LIGHT->value();
}

void ControlWidget::turnOffLight()
{
    m_bLightWanted = false;
    if (!acquisitionRunning())
        m_bLightOn = false;
    switchLightOff(!acquisitionRunning());
}

// The light-on flag stays as it was, so that a later enabling switches the LED on again.
void ControlWidget::disableLightForOutOfFilterPositionOrPowerOffPopup()
{
    switchLightOff(true);
}

void ControlWidget::switchLightOff(bool lockControls)
{
    if (lockControls)
        setLightControls(false);
    m_Controller.setLightOnOff(false);
    emit signalLEDState(false);
}

void ControlWidget::setLightControls(bool on)
{
    ui->BUTTON_LIGHT_ON->setChecked(on);
    ui->BUTTON_LIGHT_DECREASE->setEnabled(on);
    ui->BUTTON_LIGHT_INCREASE->setEnabled(on);
    ui->SLIDER_LIGHT->setEnabled(on);
}

// ---------------------------------------------------------------------------------------------
// Gain and exposure

void ControlWidget::on_SLIDER_GAIN_valueChanged(int row)
{
    row = clampGainRow(row);
    if (hasFilterPosition())
        m_FilterSet[m_nFilterPosition].gain = row;
    std::copy(GainLUT[row], GainLUT[row] + 3, m_nCurrentGain);
    ui->LABEL_GAIN->setText(QString::number(m_nCurrentGain[0]));
}

void ControlWidget::on_SLIDER_GAIN_sliderReleased()
{
    setMetaText(&TCapturedImageMetaData::gain, m_nFilterPosition, QStringLiteral("Gain: %1 dB").arg(m_nCurrentGain[0]));
    emit changeGain(m_nCurrentGain[1], m_nCurrentGain[2]);
}

void ControlWidget::on_BUTTON_GAIN_INCREASE_clicked()
{
    stepSlider(ui->SLIDER_GAIN, 1, &ControlWidget::on_SLIDER_GAIN_sliderReleased);
}

void ControlWidget::on_BUTTON_GAIN_DECREASE_clicked()
{
    stepSlider(ui->SLIDER_GAIN, -1, &ControlWidget::on_SLIDER_GAIN_sliderReleased);
}

void ControlWidget::on_SLIDER_EXPOSURE_valueChanged(int row)
{
    row = clampExposureRow(row);
    if (hasFilterPosition())
        m_FilterSet[m_nFilterPosition].exposure = row;
    const int *entry = exposureTable(m_nCameraMode)[row];
    m_nCurrentExposure[0] = entry[1];
    m_nCurrentExposure[1] = entry[2];
    m_nCurrentExposure[2] = entry[0];
    ui->LABEL_EXPOSURE->setText(QString::number(m_nCurrentExposure[2]));
}

void ControlWidget::on_SLIDER_EXPOSURE_sliderReleased()
{
    setMetaText(&TCapturedImageMetaData::exposure, m_nFilterPosition,
                QStringLiteral("Exposure: %1 ms").arg(m_nCurrentExposure[2]));
    emit signalChangeExposure(m_nCurrentExposure[2], m_nCurrentExposure[0], m_nCurrentExposure[1]);
    emit signalChangeExposure(m_nCurrentExposure[2]);
}

void ControlWidget::on_BUTTON_EXPOSURE_INCREASE_clicked()
{
    stepSlider(ui->SLIDER_EXPOSURE, 1, &ControlWidget::on_SLIDER_EXPOSURE_sliderReleased);
}

void ControlWidget::on_BUTTON_EXPOSURE_DECREASE_clicked()
{
    stepSlider(ui->SLIDER_EXPOSURE, -1, &ControlWidget::on_SLIDER_EXPOSURE_sliderReleased);
}

void ControlWidget::setSliderValue(QSlider *slider, int value, void (ControlWidget::*handler)(int))
{
    // A slider already at the value emits nothing; its handler still takes the value.
    const int limited = std::clamp(value, slider->minimum(), slider->maximum());
    if (slider->value() == limited)
        (this->*handler)(limited);
    else
        slider->setValue(limited);
}

void ControlWidget::changeLightPower(int nLight, int nGain, int nExposure)
{
    struct Control
    {
        int value;
        QSlider *slider;
        void (ControlWidget::*released)();
    };
    const Control controls[3] = {{nLight, ui->SLIDER_LIGHT, &ControlWidget::on_SLIDER_LIGHT_sliderReleased},
                                 {nExposure, ui->SLIDER_EXPOSURE, &ControlWidget::on_SLIDER_EXPOSURE_sliderReleased},
                                 {nGain, ui->SLIDER_GAIN, &ControlWidget::on_SLIDER_GAIN_sliderReleased}};
    for (const Control &c : controls) {
        if (c.value < 0 || c.value == c.slider->value())
            continue;
        c.slider->setValue(c.value);
        (this->*c.released)();
    }
}

// ---------------------------------------------------------------------------------------------
// Filter cube, objective, live mode and pseudo colour

void ControlWidget::changedFilterPosition(int position)
{
    if (hasFilterPosition())
        writeFilterSet();
    if (position < 0 || position > 3) {
        m_bFilterOutOfPosition = true;
        setUIControlEnabled(false, true);
        disableLightForOutOfFilterPositionOrPowerOffPopup();
        return;
    }
    m_nFilterPosition = position;
    m_bFilterOutOfPosition = false;
    m_FilterSet[position] = readFilterSet(position);
    // The sensor starts over for the new cube as soon as its light is confirmed on (the enabling
    // below lights it), or else with the settings below.
    m_bRestartOnLight = true;
    m_bRestartedOnLight = false;

    if (g_CurrentMenu == MENU_FILE_MANAGER || g_CurrentMenu == MENU_POWER || g_CurrentMenu == MENU_SETTING) {
        setUIControlEnabled(false, true);
        disableLightForOutOfFilterPositionOrPowerOffPopup();
    } else if (acquisitionRunning()) {
        // The run's light follows the cube at the cube's own level, as live view's does.
        setUIControlEnabled(false, true);
        if (m_bLightWanted)
            turnOnLight_Sub(true);
    } else if (m_nState != CONTROL_STATE_LIVE) {
        setUIControlEnabled(false, true);
        disableLightForOutOfFilterPositionOrPowerOffPopup();
    } else {
        setUIControlEnabled(true, true);
        if (anyPageWord(1))
            turnOnLight_Sub(false);
    }

    m_nColorIndex[0] = 7;
    for (int key = 1; key <= 3; ++key)
        m_nColorIndex[kSlotPosition[key]] = ReadColorIndexSetting("FilterColor", std::to_string(key),
                                                                  kDefaultColor[kSlotPosition[key]],
                                                                  configFile().toStdString());

    const TFilterSet set = m_FilterSet[position];
    setSliderValue(ui->SLIDER_LIGHT, set.light, &ControlWidget::on_SLIDER_LIGHT_valueChanged);
    setSliderValue(ui->SLIDER_GAIN, set.gain, &ControlWidget::on_SLIDER_GAIN_valueChanged);
    setSliderValue(ui->SLIDER_EXPOSURE, set.exposure, &ControlWidget::on_SLIDER_EXPOSURE_valueChanged);

    if (!m_bRestartedOnLight) {
        const int *exposure = exposureRow(set.exposure);
        const int *gain = GainLUT[clampGainRow(set.gain)];
        emit signalChangeExposure(exposure[0], exposure[1], exposure[2]);
        emit changeGain(gain[1], gain[2]);
    }
    // Old dialect: the light goes out after this, and the sensor starts over once more then.
    m_bRestartOnLight = !m_bRestartedOnLight && m_Controller.isLightAwaited();
    emit changeFilterPosition(position);

    if (m_bObjectiveOutOfPosition) {
        setUIControlEnabled(false, true);
        disableLightForOutOfFilterPositionOrPowerOffPopup();
    } else if (m_bLiveMode || m_nState != CONTROL_STATE_STILL) {
        if (!acquisitionRunning()) {
            emit pseudoColorEnabled(m_bPseudoColor, position, m_nColorIndex[position]);
            if (m_bLiveMode)
                ui->BUTTON_PSEUDO_COLOR->setEnabled(position != 0);
        }
    } else {
        emit pseudoColorForVideoWidget(m_bPseudoColor, m_nColorIndex[position]);
        ui->BUTTON_PSEUDO_COLOR->setEnabled(true);
    }
    labelRunScene();
}

const int *ControlWidget::exposureRow(int row) const
{
    return exposureTable(m_nCameraMode)[clampExposureRow(row)];
}

// The light changed (on, off, another power, or a new cube's): the sensor starts over under it,
// so that the first frame after it is lit the same from its first row to its last.
void ControlWidget::slotLightConfirmed()
{
    const bool newCube = std::exchange(m_bRestartOnLight, false);
    if (!hasFilterPosition() || m_bFilterOutOfPosition)
        return;
    const TFilterSet &set = m_FilterSet[m_nFilterPosition];
    if (newCube) {
        const int *gain = GainLUT[clampGainRow(set.gain)];
        emit changeGain(gain[1], gain[2]); // before the exposure starts
        m_bRestartedOnLight = true;
    }
    const int *exposure = exposureRow(set.exposure);
    emit signalChangeExposure(exposure[0], exposure[1], exposure[2]);
}

void ControlWidget::changedLensPosition(int position)
{
    if (position < 1) {
        if (isQCTestMode()) {
            setUIControlEnabled(false, true);
        } else {
            m_bObjectiveOutOfPosition = true;
            setUIControlEnabled(false, true);
            disableLightForOutOfFilterPositionOrPowerOffPopup();
        }
        return;
    }
    m_bObjectiveOutOfPosition = false;
    m_nObjectivePosition = position;

    const bool lockedMenu = g_CurrentMenu == MENU_FILE_MANAGER || g_CurrentMenu == MENU_POWER
                            || g_CurrentMenu == MENU_SETTING;
    if (!lockedMenu && m_nState == CONTROL_STATE_LIVE) {
        setUIControlEnabled(true, true);
        if (anyPageWord(1))
            turnOnLight_Sub(false);
    } else {
        setUIControlEnabled(false, true);
    }

    showObjective(position);
    emit changeLensPosition(position);
    checkSetLensPositionState();

    if (m_bFilterOutOfPosition) {
        setUIControlEnabled(false, true);
        disableLightForOutOfFilterPositionOrPowerOffPopup();
    }
    labelRunScene();
}

void ControlWidget::showObjective(int position)
{
    if (position < 1 || position > 5)
        return;
    const int next = position % 5 + 1;
    const int previous = (position + 3) % 5 + 1;
    ui->LABEL_LENS_CURRENT->setText(m_strMagnification[position - 1]);
    ui->LABEL_LENS_LEFT->setText(m_strMagnification[next - 1]);
    ui->LABEL_LENS_RIGHT->setText(m_strMagnification[previous - 1]);
    const QString name = m_strLensName[position - 1].left(5);
    QFont font(QStringLiteral("DejaVu Sans"), 9);
    font.setStretch(QFontMetrics(font).horizontalAdvance(name) > ui->LABEL_LENS_CURRENT_NAME->width() ? 65 : 100);
    ui->LABEL_LENS_CURRENT_NAME->setFont(font);
    ui->LABEL_LENS_CURRENT_NAME->setText(name);
}

void ControlWidget::updateLensPosition()
{
    if (m_nObjectivePosition >= 1)
        emit changeLensPosition(m_nObjectivePosition);
}

void ControlWidget::applyPseudoColor(int position)
{
    emit pseudoColorEnabled(m_bPseudoColor, position, position >= 0 && position <= 3 ? m_nColorIndex[position] : 7);
}

void ControlWidget::setLiveMode(bool on)
{
    m_bLiveMode = on;
    if (on) {
        m_nState = CONTROL_STATE_LIVE;
        if (!m_bFilterOutOfPosition && !m_bObjectiveOutOfPosition) {
            applyPseudoColor(m_nFilterPosition);
            ui->BUTTON_PSEUDO_COLOR->setEnabled(m_nFilterPosition != 0);
        }
        return;
    }
    m_nStillImageFilterPosition = m_nFilterPosition;
    if (m_nState == CONTROL_STATE_OPENED) {
        ui->BUTTON_PSEUDO_COLOR->setEnabled(false);
    } else {
        m_nState = CONTROL_STATE_STILL;
        ui->BUTTON_PSEUDO_COLOR->setEnabled(true);
    }
}

void ControlWidget::on_BUTTON_PSEUDO_COLOR_clicked(bool checked)
{
    m_bPseudoColor = checked;
    if (m_bLiveMode) {
        applyPseudoColor(m_nFilterPosition);
        ui->BUTTON_PSEUDO_COLOR->setEnabled(m_nFilterPosition != 0);
    } else {
        applyPseudoColor(m_nStillImageFilterPosition);
        ui->BUTTON_PSEUDO_COLOR->setEnabled(true);
    }
}

void ControlWidget::on_BUTTON_SHOW_LOG_clicked()
{
    if (!m_pLogDlg)
        return;
    if (m_pLogDlg->isVisible())
        m_pLogDlg->close();
    else
        m_pLogDlg->show();
}

void ControlWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

// ---------------------------------------------------------------------------------------------
// Focus buttons, jog sliders and wheel

void ControlWidget::sendSpeed(int speed)
{
    if (newFirmware() && m_Controller.isStageSpeedByMaxAcc())
        m_Controller.setMotorMaxSpeed(m_nCurrentStep);
    else
        sendZ(QString::fromLatin1(newFirmware() ? "SLIDER SPEED %1" : "Z SPEED %1").arg(speed));
    m_nLastSpeed = speed;
}

void ControlWidget::pressFocusButton(int step, int speed)
{
    m_bFocusingEnabled = true;
    m_nCurrentStep = step;
    m_Controller.setMotorMovingStep(step);
    if (speed != m_nLastSpeed)
        sendSpeed(speed);
    if (newFirmware())
        sendZ(QStringLiteral("SLIDER %1").arg(step));
    m_Controller.SetFocusMoveByStep(true);
    m_FocusButtonTimer.start(kFocusRepeatMs);
}

void ControlWidget::on_BUTTON_FOCUS_COARSE_UP_pressed() { pressFocusButton(m_nCoarseStep, m_nCoarseSpeed); }
void ControlWidget::on_BUTTON_FOCUS_COARSE_DOWN_pressed() { pressFocusButton(-m_nCoarseStep, m_nCoarseSpeed); }
void ControlWidget::on_BUTTON_FOCUS_FINE_UP_pressed() { pressFocusButton(m_nFineStep, m_nFineSpeed); }
void ControlWidget::on_BUTTON_FOCUS_FINE_DOWN_pressed() { pressFocusButton(-m_nFineStep, m_nFineSpeed); }
void ControlWidget::on_BUTTON_FOCUS_COARSE_UP_released() { m_FocusButtonTimer.stop(); }
void ControlWidget::on_BUTTON_FOCUS_COARSE_DOWN_released() { m_FocusButtonTimer.stop(); }
void ControlWidget::on_BUTTON_FOCUS_FINE_UP_released() { m_FocusButtonTimer.stop(); }
void ControlWidget::on_BUTTON_FOCUS_FINE_DOWN_released() { m_FocusButtonTimer.stop(); }

void ControlWidget::slotPressedFocusingButton()
{
    if (!m_bFocusingEnabled)
        return;
    m_bFocusingEnabled = false;
    sendZ(QString::fromLatin1(newFirmware() ? "SLIDER %1" : "Z %1").arg(m_nCurrentStep));
}

void ControlWidget::slotFocusingEnabled() { m_bFocusingEnabled = true; }
void ControlWidget::slotFocusingWheel() { m_bFocusingEnabled = true; }
void ControlWidget::changedMotorSpeed() { m_nLastSpeed = -1; }

void ControlWidget::focusSliderPressed(QSlider *slider, int speed)
{
    m_nSliderPressValue = slider->value();
    sendZ(QString::fromLatin1(newFirmware() ? "SLIDER SPEED %1" : "Z SPEED %1").arg(speed));
    m_nLastSpeed = speed;
}

void ControlWidget::focusSliderMoved(QSlider *, int value)
{
    if (std::abs(value - m_nSliderPressValue) <= kJogThreshold || m_bJogStarted)
        return;
    m_bJogStarted = true;
    if (value < 1) {
        if (value == 0 || m_nJogState == 1)
            return;
        m_nJogState = 1;
        sendZ(QString::fromLatin1(newFirmware() ? "SLIDER BOTTOM" : "Z BOTTOM"));
    } else if (m_nJogState != 0) {
        m_nJogState = 0;
        sendZ(newFirmware() ? QStringLiteral("SLIDER TOP") : QStringLiteral("Z %1").arg(kOldDialectTop));
    }
}

void ControlWidget::focusSliderReleased(QSlider *slider)
{
    if (m_nJogState != 2) {
        m_nJogState = 2;
        sendZ(QStringLiteral("Z STOP"));
    }
    slider->setValue(0);
    m_bJogStarted = false;
}

void ControlWidget::on_SLIDER_FOCUS_COARSE_sliderPressed() { focusSliderPressed(ui->SLIDER_FOCUS_COARSE, m_nCoarseSpeed); }
void ControlWidget::on_SLIDER_FOCUS_COARSE_sliderMoved(int value) { focusSliderMoved(ui->SLIDER_FOCUS_COARSE, value); }
void ControlWidget::on_SLIDER_FOCUS_COARSE_sliderReleased() { focusSliderReleased(ui->SLIDER_FOCUS_COARSE); }
void ControlWidget::on_SLIDER_FOCUS_FINE_sliderPressed() { focusSliderPressed(ui->SLIDER_FOCUS_FINE, m_nFineSpeed); }
void ControlWidget::on_SLIDER_FOCUS_FINE_sliderMoved(int value) { focusSliderMoved(ui->SLIDER_FOCUS_FINE, value); }
void ControlWidget::on_SLIDER_FOCUS_FINE_sliderReleased() { focusSliderReleased(ui->SLIDER_FOCUS_FINE); }

bool ControlWidget::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    const bool focusSlider = watched == ui->SLIDER_FOCUS_COARSE || watched == ui->SLIDER_FOCUS_FINE;
    auto *valueSlider = qobject_cast<QSlider *>(watched);
    if (watched != ui->SLIDER_LIGHT && watched != ui->SLIDER_GAIN && watched != ui->SLIDER_EXPOSURE)
        valueSlider = nullptr;

    switch (event->type()) {
    case QEvent::Leave:
        if (focusSlider)
            focusSliderReleased(static_cast<QSlider *>(watched));
        break;
    case QEvent::Wheel: {
        if (!widget || !widget->isEnabled())
            return true;
        const int delta = qRound(static_cast<QWheelEvent *>(event)->angleDelta().y() / 8.0);
        if (focusSlider) {
            const bool coarse = watched == ui->SLIDER_FOCUS_COARSE;
            const int step = coarse ? m_nCoarseStep : m_nFineStep;
            const int speed = coarse ? m_nCoarseSpeed : m_nFineSpeed;
            if (delta != 0) {
                m_nCurrentStep = delta > 0 ? step : -step;
                m_bFocusingEnabled = true;
            }
            m_Controller.setMotorMovingStep(m_nCurrentStep);
            if (speed != m_nLastSpeed)
                sendSpeed(speed);
            m_Controller.SetFocusMoveByStep(false);
            QTimer::singleShot(100, this, &ControlWidget::slotPressedFocusingButton);
            return false;
        }
        if (watched == ui->SLIDER_LIGHT)
            QTimer::singleShot(100, this, &ControlWidget::on_SLIDER_LIGHT_sliderReleased);
        else if (watched == ui->SLIDER_GAIN)
            QTimer::singleShot(100, this, &ControlWidget::on_SLIDER_GAIN_sliderReleased);
        else if (watched == ui->SLIDER_EXPOSURE)
            QTimer::singleShot(100, this, &ControlWidget::on_SLIDER_EXPOSURE_sliderReleased);
        else
            return true;
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (valueSlider && valueSlider->isEnabled() && mouse->button() == Qt::LeftButton) {
            // A tap sets the value under the finger (the light only when it is not near already).
            const int span = valueSlider->maximum() - valueSlider->minimum() + 1;
            const int x = std::clamp(mouse->pos().x(), 0, std::max(valueSlider->width() - 1, 0));
            const int value = valueSlider->minimum() + span * x / std::max(valueSlider->width(), 1);
            if (valueSlider != ui->SLIDER_LIGHT || std::abs(value - valueSlider->value()) > 5)
                valueSlider->setValue(value);
            return false;
        }
        if (mouse->button() == Qt::RightButton && widget && widget->isEnabled()) {
            for (int memory = 1; memory <= 5; ++memory) {
                if (watched == memoryButton(memory)) {
                    nameFocusMemory(memory);
                    return true;
                }
            }
        }
        break;
    }
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Focus memories

QAbstractButton *ControlWidget::memoryButton(int memory) const
{
    QAbstractButton *buttons[5] = {ui->BUTTON_SET_1, ui->BUTTON_SET_2, ui->BUTTON_SET_3, ui->BUTTON_SET_4,
                                   ui->BUTTON_SET_5};
    return buttons[std::clamp(memory, 1, 5) - 1];
}

QString ControlWidget::focusMemoryName(int memory) const
{
    const QString name = readConfig("FocusMemoryDesc", QString::number(memory), "");
    return name.isEmpty() ? QStringLiteral("Position %1").arg(memory) : name;
}

void ControlWidget::writeFocusMemoryName(int memory, const QString &name)
{
    writeConfig("FocusMemoryDesc", QString::number(memory), name);
    memoryButton(memory)->setToolTip(QString::fromStdString(m_strToolTipFormat).arg(name));
}

void ControlWidget::nameFocusMemory(int memory)
{
    KeyboardDlg keyboard(this);
    keyboard.setText(focusMemoryName(memory));
    if (keyboard.exec() == 1) {
        QString name = keyboard.text().trimmed();
        if (name.isEmpty())
            name = QStringLiteral("Position %1").arg(memory);
        writeFocusMemoryName(memory, name);
    }
    activateWindow();
    memoryButton(memory)->setFocus();
}

void ControlWidget::on_BUTTON_FOCUS_MEMORY_ON_clicked()
{
    const bool setMode = ui->BUTTON_FOCUS_MEMORY_ON->isChecked();
    for (int memory = 1; memory <= 5; ++memory)
        memoryButton(memory)->setEnabled(setMode || m_bMemoryStored[memory - 1]);
}

void ControlWidget::setFocusMemorySetButtonChecked(bool checked)
{
    ui->BUTTON_FOCUS_MEMORY_ON->setChecked(checked);
}

void ControlWidget::setFocusMemorySpeedAndStepSize(int speed)
{
    m_nLastSpeed = -1;
    m_Controller.setMotorMovingStep(-m_nCoarseStep);
    m_Controller.setZCommandForSpeed(newFirmware() ? speed : m_nCoarseSpeed);
}

void ControlWidget::on_BUTTON_SET_1_clicked() { focusMemoryClicked(1); }
void ControlWidget::on_BUTTON_SET_2_clicked() { focusMemoryClicked(2); }
void ControlWidget::on_BUTTON_SET_3_clicked() { focusMemoryClicked(3); }
void ControlWidget::on_BUTTON_SET_4_clicked() { focusMemoryClicked(4); }
void ControlWidget::on_BUTTON_SET_5_clicked() { focusMemoryClicked(5); }

MessageDlg *ControlWidget::newProgressDialog(const QString &text, int buttons)
{
    closeProgressDialog();
    m_pMessageDlg = new MessageDlg(this);
    m_pMessageDlg->setObjectName(QStringLiteral("FocusProgress"));
    m_pMessageDlg->setMessage(text);
    m_pMessageDlg->setButtonVisibility(TMessageButtonVisibility(buttons));
    return m_pMessageDlg;
}

void ControlWidget::runProgressDialog(bool setMode)
{
    if (!m_pMessageDlg)
        return;
    m_pMessageDlg->setSignalMode(true);
    if (setMode) {
        m_bSetDialogOpen = true;
        connect(m_pMessageDlg, &MessageDlg::signalOKClicked, this, &ControlWidget::slotOKClicked);
    } else {
        m_bMoveDialogOpen = true;
    }
    connect(m_pMessageDlg, &MessageDlg::signalCANCELClicked, this, &ControlWidget::slotCANCELClicked);
    m_pMessageDlg->exec();
}

void ControlWidget::closeProgressDialog()
{
    if (!m_pMessageDlg)
        return;
    MessageDlg *dialog = m_pMessageDlg;
    m_pMessageDlg = nullptr;
    disconnect(dialog, nullptr, this, nullptr);
    dialog->reject();
    dialog->deleteLater();
}

void ControlWidget::clearSequenceMarks()
{
    m_bSetBottomPending = m_bMoveBottomPending = m_bOriginPending = m_bFinalMovePending = false;
}

void ControlWidget::showMessage(const QString &text)
{
    MessageDlg box(this);
    box.setMessage(text);
    box.setButtonVisibility(MSG_BUTTON_OK);
    box.exec();
}

bool ControlWidget::askOverwrite()
{
    MessageDlg box(this);
    box.setMessage(QStringLiteral("Overwrite the current position?"));
    box.setButtonVisibility(MSG_BUTTON_OK_CANCEL);
    return box.exec() == 1;
}

void ControlWidget::focusMemoryClicked(int memory)
{
    if (ui->BUTTON_FOCUS_MEMORY_ON->isChecked()) {
        if (m_bMemoryStored[memory - 1]) {
            memoryButton(memory)->setChecked(true);
            if (!askOverwrite()) {
                ui->BUTTON_FOCUS_MEMORY_ON->setChecked(false);
                on_BUTTON_FOCUS_MEMORY_ON_clicked();
                return;
            }
        }
        m_nCurrentMemory = memory;
        movingFocusMemorySetPosition();
    } else {
        m_nCurrentMemory = memory;
        QString label = readConfig("FocusMemoryDesc", QString::number(memory), "");
        if (label.isEmpty())
            label = QString::number(memory);
        newProgressDialog(QStringLiteral("Moving to position \"%1\"").arg(label), MSG_BUTTON_CANCEL);
        m_bMoveFinished = false; // a new run: Cancel must stop the stage again
        setFocusMemorySpeedAndStepSize(kMemorySpeed);
        if (newFirmware()) {
            m_Controller.setFocusMemoryIsMoving(true);
            QTimer::singleShot(500, this, &ControlWidget::slotMoveFocusMemory);
        } else {
            m_bMoveBottomPending = true;
            sendZ(QStringLiteral("Z BOTTOM"));
            m_SettleWatch.start([this](std::optional<int> bottom) {
                if (!m_bMoveBottomPending)
                    return;
                m_bMoveBottomPending = false;
                if (bottom)
                    slotFocusMemoryIsBottom();
                else
                    slotCANCELClicked();
            }, true);
        }
        runProgressDialog(false);
    }
    finishFocusMemoryRun(memory);
}

void ControlWidget::finishFocusMemoryRun(int memory)
{
    memoryButton(memory)->setChecked(m_bMemoryStored[memory - 1]);
    m_nCurrentMemory = -1;
    ui->BUTTON_FOCUS_MEMORY_ON->setChecked(false);
    on_BUTTON_FOCUS_MEMORY_ON_clicked();
}

void ControlWidget::movingFocusMemorySetPosition()
{
    newProgressDialog(QStringLiteral("Checking the current position ..."), MSG_BUTTON_NONE);
    if (newFirmware()) {
        const std::optional<int> position = m_Controller.getCurrentMotorPosition();
        if (!position) {
            refuseFocusMemoryStore();
            return;
        }
        m_nSavedPosition = *position;
        setFocusMemorySpeedAndStepSize(kMemorySpeed);
        m_Controller.setFocusMemoryIsStarted(true);
        QTimer::singleShot(500, this, &ControlWidget::slotStartFocusMemory);
    } else {
        // The old dialect answers moves as they start: read where the stage stands, drive to the
        // limit and read again once it stands there.
        setFocusMemorySpeedAndStepSize(kMemorySpeed);
        m_bSetBottomPending = true;
        m_SettleWatch.start([this](std::optional<int> start) {
            if (!start) {
                completeStoreAtBottom(std::nullopt);
                return;
            }
            m_nSavedPosition = *start;
            sendZ(QStringLiteral("Z BOTTOM"));
            m_SettleWatch.start([this](std::optional<int> bottom) { completeStoreAtBottom(bottom); }, true);
        }, true);
    }
    runProgressDialog(true);
}

void ControlWidget::slotStartFocusMemory()
{
    if (!m_pMessageDlg || !m_bSetDialogOpen)
        return; // stopped meanwhile
    m_bSetBottomPending = true;
    if (driveToLowerLimit()) {
        m_nSavedPosition = 0;
        completeStoreAtBottom(m_Controller.getCurrentMotorPosition());
    }
}

// True when the stage already stands at the lower limit; otherwise starts the drive there, whose
// end arrives as a positioning completion.
bool ControlWidget::driveToLowerLimit()
{
    if (m_Controller.CheckMotorPosition(MOVE_LIMIT_BOTTOM))
        return true;
    m_Controller.setMotorPositioningCheck(true);
    sendZ(QStringLiteral("Z BOTTOM"));
    return false;
}

void ControlWidget::completeStoreAtBottom(std::optional<int> bottom)
{
    if (!m_bSetBottomPending)
        return;
    m_bSetBottomPending = false;
    if (!bottom) {
        refuseFocusMemoryStore();
        return;
    }
    m_nSavedPosition -= *bottom;
    sendZ(QStringLiteral("Z RESET"));
    slotCheckCurrentFocusPosition(-m_nSavedPosition);
}

void ControlWidget::refuseFocusMemoryStore()
{
    m_Controller.setFocusMemoryIsStarted(false);
    m_bSetDialogOpen = false;
    clearSequenceMarks();
    m_SettleWatch.cancel();
    closeProgressDialog();
    showMessage(QStringLiteral("<p><b>Error!</b><br/><br/>The focus stage did not report its position.<br/>"
                               "The position was not saved.</p>"));
}

void ControlWidget::slotCheckCurrentFocusPosition(int position)
{
    if (m_nCurrentMemory < 1)
        return;
    setFocusMemorySpeedAndStepSize(m_nStageMaxSpeed);
    m_bFinalMovePending = true;
    const int height = -position;
    m_nMemoryPosition[m_nCurrentMemory - 1] = height;
    moveUpToFocusMemory(height);
}

// The last move of a store or recall: up from the lower limit by the memory's height.
void ControlWidget::moveUpToFocusMemory(int height)
{
    m_Controller.setCurrentFocusMemoryPosition(height);
    if (newFirmware()) {
        m_Controller.setMotorPositioningCheck(true);
        m_Controller.setMotorMaxSpeed(height);
    }
    sendZ(QStringLiteral("Z %1").arg(height));
    if (!newFirmware())
        m_SettleWatch.start([this](std::optional<int>) { slotMovedFocusMemoryPosition(); }, true);
}

void ControlWidget::slotMoveFocusMemory()
{
    if (!m_pMessageDlg || !m_bMoveDialogOpen)
        return; // cancelled meanwhile
    m_bMoveBottomPending = true;
    if (driveToLowerLimit())
        slotMotorPositioningCompleted();
}

void ControlWidget::slotFocusMemoryIsBottom()
{
    if (m_nCurrentMemory < 1 || !m_bMoveDialogOpen)
        return;
    const int height = m_nMemoryPosition[m_nCurrentMemory - 1];
    m_bFinalMovePending = true;
    moveUpToFocusMemory(height);
}

void ControlWidget::slotMovedFocusMemoryPosition()
{
    // On the old dialect the board's answer comes as the move starts; the watch reports the end.
    if (!m_bFinalMovePending || m_SettleWatch.isActive())
        return;
    m_bFinalMovePending = false;
    m_SettleWatch.cancel();
    const int memory = m_nCurrentMemory;
    if (memory < 1)
        return;

    if (m_bSetDialogOpen) {
        closeProgressDialog();
        KeyboardDlg keyboard(this);
        keyboard.setText(focusMemoryName(memory));
        QString name = focusMemoryName(memory);
        if (keyboard.exec() == 1 && !keyboard.text().trimmed().isEmpty())
            name = keyboard.text().trimmed();
        writeFocusMemoryName(memory, name);
        newProgressDialog(QStringLiteral("<p><b>Focus Position Saved</b><br/><br/>The current position (%1) has been"
                                         "<br/>saved to position %2.</p>")
                              .arg(name.toHtmlEscaped(), QString::number(memory)),
                          MSG_BUTTON_OK);
        m_pMessageDlg->setSignalMode(true);
        connect(m_pMessageDlg, &MessageDlg::signalOKClicked, this, &ControlWidget::slotOKClicked);
        m_pMessageDlg->exec();
        return;
    }
    closeMoveDialog();
}

void ControlWidget::closeMoveDialog()
{
    if (!m_pMessageDlg)
        return;
    if (m_bMoveDialogOpen) {
        m_bMoveDialogOpen = false;
        disconnect(m_pMessageDlg, &MessageDlg::signalCANCELClicked, this, &ControlWidget::slotCANCELClicked);
    }
    m_bMoveFinished = true;
    closeProgressDialog();
}

void ControlWidget::slotOKClicked()
{
    if (!m_bSetDialogOpen)
        return;
    m_bSetDialogOpen = false;
    const int memory = m_nCurrentMemory;
    if (memory >= 1) {
        writeConfig("FocusMemory", QString::number(memory), QString::number(m_nMemoryPosition[memory - 1]));
        m_bMemoryStored[memory - 1] = m_nMemoryPosition[memory - 1] != -1;
    }
    closeProgressDialog();
    activateWindow();
    if (memory >= 1)
        memoryButton(memory)->setFocus();
}

void ControlWidget::slotCANCELClicked()
{
    if (m_bSetDialogOpen) {
        m_bSetDialogOpen = false;
        m_Controller.setFocusMemoryIsStarted(false);
        stopZMotor();
    } else if (m_bMoveDialogOpen) {
        m_Controller.setFocusMemoryIsMoving(false);
        if (!m_bMoveFinished) {
            m_bMoveDialogOpen = false;
            m_bMoveFinished = true;
            stopZMotor();
        }
    }
    // Nothing of the stopped run may move the stage any more.
    clearSequenceMarks();
    m_SettleWatch.cancel();
    m_Controller.setMotorPositioningCheck(false);
    closeProgressDialog();
}

// ---------------------------------------------------------------------------------------------
// Origin and completion dispatch

void ControlWidget::on_BUTTON_FOCUS_ORIGIN_clicked()
{
    newProgressDialog(QStringLiteral("Moving to origin ..."), MSG_BUTTON_CANCEL);
    m_nLastSpeed = -1;
    m_bMoveFinished = false;
    m_Controller.setZCommandForSpeed(kMemorySpeed);
    if (newFirmware()) {
        m_Controller.setFocusMemoryIsMoving(true);
        QTimer::singleShot(500, this, &ControlWidget::slotMoveFocusOrigin);
    } else {
        m_bOriginPending = true;
        sendZ(QStringLiteral("Z BOTTOM"));
        m_SettleWatch.start([this](std::optional<int>) { finishOrigin(); }, true);
    }
    runProgressDialog(false);
}

void ControlWidget::slotMoveFocusOrigin()
{
    if (!m_pMessageDlg || !m_bMoveDialogOpen)
        return;
    m_bOriginPending = true;
    if (driveToLowerLimit())
        finishOrigin();
}

void ControlWidget::finishOrigin()
{
    if (!m_bOriginPending)
        return;
    m_bOriginPending = false;
    m_SettleWatch.cancel();
    sendZ(QStringLiteral("Z RESET"));
    closeMoveDialog();
}

void ControlWidget::slotMotorPositioningCompleted()
{
    if (m_bFinalMovePending) {
        slotMovedFocusMemoryPosition();
    } else if (m_bSetBottomPending) {
        completeStoreAtBottom(m_Controller.getCurrentMotorPosition());
    } else if (m_bMoveBottomPending) {
        m_bMoveBottomPending = false;
        sendZ(QStringLiteral("Z RESET"));
        setFocusMemorySpeedAndStepSize(m_nStageMaxSpeed);
        slotFocusMemoryIsBottom();
    } else if (m_bStartPositioningPending) {
        m_bStartPositioningPending = false;
        reportMoveEnd(m_Controller.lastPositioningConfirmed(), &ControlWidget::signalStartZPositioningCompleted);
    } else if (m_bCheckedMovePending) {
        m_bCheckedMovePending = false;
        reportMoveEnd(m_Controller.lastPositioningConfirmed(), &ControlWidget::signalMotorMoved);
    } else if (m_bParking) {
        m_bParking = false;
        emit signalParkingCompleted();
    } else if (m_bOriginPending) {
        finishOrigin();
    } else if (g_CurrentMenu == MENU_FINE_AF) {
        m_FineAF.slotMotorPositioningCompleted();
    }
}

// ---------------------------------------------------------------------------------------------
// Parfocal lens positions and the stage read-out

void ControlWidget::on_BUTTON_LENS_SET_POS_clicked()
{
    const std::optional<int> position = m_Controller.getCurrentMotorPosition();
    if (!position) {
        checkSetLensPositionState();
        showMessage(QStringLiteral("<p><b>Error!</b><br/><br/>The focus stage did not report its position.</p>"));
        return;
    }
    setCurrnetObjectivePosition(m_nObjectivePosition, *position);
}

void ControlWidget::setCurrnetObjectivePosition(int lens, int position)
{
    if (lens < 1 || lens > 5)
        return;
    const int micrometres = convertPOStoUM(position);
    if (micrometres < 1 || micrometres > 9999) {
        checkSetLensPositionState();
        showMessage(QStringLiteral("<p><b>Error!</b><br/><br/>The current position is not allowed.</p>"));
        return;
    }
    if (m_nLensPosition[lens - 1] > 0) {
        ui->BUTTON_LENS_SET_POS->setChecked(true);
        if (!askOverwrite())
            return;
    }
    m_nLensPosition[lens - 1] = position;
    writeConfig("LensPos", QString::number(lens), QString::number(position));
    showMessage(QStringLiteral("Position saved."));
}

void ControlWidget::checkSetLensPositionState()
{
    if (m_nObjectivePosition >= 1 && m_nObjectivePosition <= 5)
        ui->BUTTON_LENS_SET_POS->setChecked(m_nLensPosition[m_nObjectivePosition - 1] > 0);
}

void ControlWidget::on_BUTTON_LENS_POS_ENABLE_clicked()
{
    writeConfig("LensPos", "Enable", ui->BUTTON_LENS_POS_ENABLE->isChecked() ? "1" : "0");
}

void ControlWidget::setKnobSpeed()
{
    // The link sends them only to a board of the new dialect, also one that answers its version late.
    int coarse = m_nCoarseSpeed;
    int fine = m_nFineSpeed;
    if (readConfigInt("Focus", "Knob", "0") == 1)
        std::swap(coarse, fine);
    m_Controller.setCoarseKnobSpeed(coarse);
    m_Controller.setFineKnobSpeed(fine);
}

void ControlWidget::slotChangeStagePos(int nPos)
{
    int micrometres = convertPOStoUM(nPos);
    if (micrometres < 0 || micrometres >= 15000)
        return;
    if (micrometres > 10000) {
        micrometres = 10000;
        ui->PROGRESSBAR_FOCUS->setValue(ui->PROGRESSBAR_FOCUS->maximum());
    } else {
        ui->PROGRESSBAR_FOCUS->setValue(nPos);
    }
    ui->LABEL_POS->setText(QString::number(micrometres));
    if (m_nPageState[2] == 1)
        emit signalUpdatePos(micrometres);
    ui->PROGRESSBAR_FOCUS->repaint();
}

// ---------------------------------------------------------------------------------------------
// Page-driven moves and parking

void ControlWidget::enablePullingCommand(bool bEnable)
{
    if (bEnable)
        m_Controller.StartPulling();
    else
        m_Controller.StopPulling();
}

void ControlWidget::slotGetCurrentMotorPosition()
{
    sendZ(QStringLiteral("Z POS"));
}

void ControlWidget::slotSetMotorSpeedAndStartZPosition(int motorSpeed, int startZPosition)
{
    m_nLastSpeed = -1;
    sendZ(QStringLiteral("Z SPEED %1").arg(motorSpeed));
    if (newFirmware()) {
        m_bStartPositioningPending = true;
        m_Controller.setMotorPositioningCheck(true);
        m_Controller.setMotorMaxSpeed(startZPosition);
        sendZ(QStringLiteral("Z %1").arg(startZPosition));
    } else {
        // The old board answers at the start of the move or at its end: the watch waits until
        // the stage stands.
        m_Controller.setStartZStacking(false);
        sendZ(QStringLiteral("Z %1").arg(startZPosition));
        m_SettleWatch.start(
            [this](std::optional<int> at) { reportMoveEnd(at.has_value(), &ControlWidget::signalStartZPositioningCompleted); },
            true);
    }
}

void ControlWidget::reportMoveEnd(bool seen, void (ControlWidget::*end)())
{
    if (!seen)
        emit signalMotorMoveUnconfirmed();
    emit(this->*end)();
}

void ControlWidget::slotMovedStartPosition()
{
    emit signalMotorMovedStartPosition();
}

void ControlWidget::slotMoveMotorPosition(int step, bool bCheckPos)
{
    if (newFirmware() && bCheckPos) {
        m_bCheckedMovePending = true;
        m_Controller.setMotorPositioningCheck(true);
    }
    if (newFirmware())
        m_Controller.setMotorMaxSpeed(step);
    sendZ(QStringLiteral("Z %1").arg(step));
    if (!newFirmware() && bCheckPos)
        m_SettleWatch.start([this](std::optional<int> at) { reportMoveEnd(at.has_value(), &ControlWidget::signalMotorMoved); },
                            true);
}

void ControlWidget::slotStartZStacking()
{
    if (newFirmware()) {
        emit signalMotorMovedStartPosition();
        return;
    }
    // The old board's replies may come at the start of a move: the watch ends each move of the
    // stack instead of the replies.
    m_Controller.setStartZStacking(false);
    m_SettleWatch.start(
        [this](std::optional<int> at) { reportMoveEnd(at.has_value(), &ControlWidget::signalMotorMovedStartPosition); }, true);
}

void ControlWidget::slotEndZStacking()
{
    m_Controller.setStartZStacking(false);
    if (!newFirmware()) {
        m_SettleWatch.cancel();
        sendZ(QStringLiteral("Z STOP"));
    }
}

void ControlWidget::stopZMotor()
{
    sendZ(QStringLiteral("Z STOP"));
}

void ControlWidget::resetMotorPosition()
{
    sendZ(QStringLiteral("Z RESET"));
}

void ControlWidget::moveZBottomForParking()
{
    m_Controller.StopPulling();
    m_bParking = true;
    if (!m_Controller.isPortOpen()) {
        m_bParking = false;
        emit signalParkingCompleted(); // no board: nothing to park, the shutdown goes on
        return;
    }
    if (newFirmware()) {
        m_Controller.setZCommandForSpeed(kParkingSpeed);
        m_Controller.setMotorPositioningCheck(true);
        sendZ(QStringLiteral("Z BOTTOM"));
        // No answer to the move started no completion wait: wait here, within its cap, so that
        // the completion (and the shutdown) still comes.
        if (m_Controller.motorPositioningCheck())
            m_Controller.isMotorMovingFinished(-1);
        return;
    }
    // The old dialect answers at the start of the move: the watch waits until the stage stands
    // (or gives up), so the shutdown always goes on.
    m_Controller.setZCommandForSpeed(kParkingSpeed);
    sendZ(QStringLiteral("Z BOTTOM"));
    m_SettleWatch.start(
        [this](std::optional<int>) {
            m_bParking = false;
            emit signalParkingCompleted();
        },
        true);
}

// ---------------------------------------------------------------------------------------------
// Fine autofocus (the run itself is FineAFSequence's)

FineAFSequence::Setup ControlWidget::autoFocusSetup() const
{
    FineAFSequence::Setup setup;
    const int lens = std::clamp(m_nObjectivePosition, 1, 5);
    setup.magnification = m_strMagnification[lens - 1];
    setup.lensName = m_strLensName[lens - 1].trimmed();
    setup.objectivePosition = lens;
    setup.cameraBits = m_nCameraMode;
    setup.focusSpeed = m_nStageFocusSpeed;
    return setup;
}

void ControlWidget::on_BUTTON_FINE_AF_clicked()
{
    m_FineAF.runInteractive(autoFocusSetup());
}

void ControlWidget::runBackgroundAF()
{
    m_FineAF.runBackground(autoFocusSetup());
}

void ControlWidget::slotTimeLapseAF()
{
    m_FineAF.runTimeLapse(autoFocusSetup());
}

void ControlWidget::slotCellCountAF()
{
    m_FineAF.runCellCount(autoFocusSetup());
}

void ControlWidget::captureCompleted(uchar *frame, int bits)
{
    if (g_CurrentMenu == MENU_FINE_AF)
        m_FineAF.captureCompleted(frame, bits);
}

void ControlWidget::slotStillRefused()
{
    if (g_CurrentMenu == MENU_FINE_AF)
        m_FineAF.stillRefused();
}
