#include "ZStackWidget.h"

#include "CameraAccess.h"
#include "DirectoryDialog.h"
#include "FullFocusThread.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "ImageSeriesFiles.h"
#include "ImageThumbnail.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "MediaPath.h"
#include "MergeFocusDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveNaming.h"
#include "SaveImageComposer.h"
#include "SaveOptionsDlg.h"
#include "ScaleBar.h"
#include "SeriesVideoExporter.h"
#include "TimeLapseProgressDlg.h"
#include "Utilities.h"
#include "ZStackPositionText.h"
#include "ui_ZStackWidget.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOption>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

const char *const kSection = "Setting_ZStack";
const QString kMicro = QString::fromUtf8("µm");
const QString kDistanceError = QStringLiteral(
    "<p><b>Error!</b><br/><br/>The distance cannot exceed 10mm.<br/>Please reset the positions.<br/> %1.</p>");
const QString kInvalidValues =
    QStringLiteral("<p><b>Error!</b><br/><br/>Invalid value(s).<br/>%1<br/>Set proper value(s) and try again.</p>");
const QString kInitializing = QStringLiteral("<p><b>Initializing ...</b></p>");
const QString kInProgress = QStringLiteral("<p><b>Z-stack imaging in progress ...</b><br/><br/>Do not touch the focus "
                                           "knobs.<br/>Moving to the start position.</p>");
const QString kMergeLimit =
    QStringLiteral("<p><b>Error!</b><br/><br/>The maximum number of images in the focus merging is 100.</p>");
const QString kStoppingMerge = QStringLiteral("<p><b>Stopping merge ...</b></p>");
const QString kSaveFailed =
    QStringLiteral("<p><b>Save failed.</b><br/><br/>%1 of %2 slices could not be written.</p>");

// Bytes one slice file takes besides its samples (TIFF header, tags, description), and the
// merged image a stack may add.
constexpr quint64 kFileOverhead = 4096;
constexpr quint64 kFramePixels = quint64(ZStackSliceWriter::kWidth) * ZStackSliceWriter::kHeight;

std::string configFile()
{
    return Paths::configFile().toStdString();
}

QString readConfig(const char *section, const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, configFile());
    return QString::fromStdString(value);
}

int toSteps(float micrometres)
{
    return int(micrometres * g_ConvertToStep);
}

// Why a range around the stage's position is refused: the heights it would take (micrometres)
// against the travel the focus counter covers from its origin.
QString travelText(double from, double to)
{
    return QString("The range %1 to %2 %3 leaves the focus travel<br/>(0 to %4 %3).")
        .arg(QString::number(from, 'f', 2), QString::number(to, 'f', 2), kMicro)
        .arg(ZStackWidget::kStageTopMicrometres);
}

// A folder name the stack can be made under: one path component, not "." or "..".
bool usableFolderName(const QString &name)
{
    const QString trimmed = name.trimmed();
    return !trimmed.isEmpty() && trimmed != "." && trimmed != ".." && !name.contains('/') && !name.contains('\\');
}

} // namespace

namespace {
int g_answerTimeoutMs = ZStackWidget::kAnswerTimeoutMs;
}

int ZStackWidget::answerTimeoutMs()
{
    return g_answerTimeoutMs;
}

void ZStackWidget::setAnswerTimeoutMs(int ms)
{
    g_answerTimeoutMs = ms > 0 ? ms : kAnswerTimeoutMs;
}

const QString ZStackWidget::kLoadingText = QStringLiteral("<p><b>Loading ...</b></p>");
const QString ZStackWidget::kMergingText = QStringLiteral("<p><b>Merging ...</b></p>");

const QString ZStackWidget::kStoppedAnsweringText = QStringLiteral(
    "<p><b>Error!</b><br/><br/>The stage or camera stopped answering.<br/>The Z-stack was stopped.</p>");
const QString ZStackWidget::kTurretMovedText = QStringLiteral(
    "<p><b>Warning!</b><br/><br/>The filter cube or the objective kept moving while a slice was taken.<br/>"
    "The Z-stack was stopped; the slices taken so far are kept.</p>");

ZStackWidget::ZStackWidget(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint)
    , ui(new Ui_ZStackWidget)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
    ui->setupUi(this);
    m_bFirstSlicePending = true;
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_CATEGORY_1, ui->LABEL_CATEGORY_2, ui->BUTTON_SAVE_AFTER,
                                                       ui->BUTTON_SAVE_BEFORE, ui->LABEL_AUTORUN, ui->SPINBOX_AUTORUN,
                                                       ui->CHECK_AUTORUN_SAVE})
        w->hide();
    ui->LABEL_POS_STAMP->clear();
    m_AnswerTimer.setSingleShot(true);
    connect(&m_AnswerTimer, &QTimer::timeout, this, &ZStackWidget::slotAnswerTimedOut);
    connect(&m_ProgressTimer, &QTimer::timeout, this, &ZStackWidget::slotUpdateProgressbar);
    initialize();
}

ZStackWidget::~ZStackWidget()
{
    delete m_pInitializingDlg.data();
    delete m_pProgressDlg.data();
    delete m_pLoadingDlg.data();
    delete m_pMergeProgressDlg.data();
    FullFocus_Free(); // a merge under way is stopped
    delete ui;
}

void ZStackWidget::initialize()
{
    m_bFirstTime = true;
    m_bStackHeld = m_bPseudoColor = m_bSaved = m_bLEDOn = false;
    clearZStackParameters();
    ui->RADIO_START_TO_END->setChecked(true);
    setStackingRange();
    ui->RADIOBUTTON_INTERVAL->setChecked(true);
    setImageAcquisition();

    ui->LABEL_ESTIMATE_DISTANCE->setText(QString("Distance (%1)").arg(kMicro));
    ui->RADIOBUTTON_INTERVAL->setText(QString("Interval (%1)").arg(kMicro));
    ui->RADIO_RANGE->setText(QString("Range from current position (%1)").arg(kMicro));
    // Lag time and stage speed come from the configuration file only.
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_STABLE_Z_SPEED_TITLE, ui->SPINBOX_STABLE_Z_SPEED,
                                                       ui->LABEL_STABLE_TIME_INTERVAL_TITLE,
                                                       ui->SPINBOX_STABLE_TIME_INTERVAL})
        w->hide();
    readSetting();

    ui->BUTTON_MODE1->setChecked(true);
    ui->BUTTON_MODE2->setChecked(false);
    ui->STACKEDWIDGET->setCurrentIndex(0);
    m_bMovingToStart = m_bReturning = false;

    for (QAbstractSpinBox *box : std::initializer_list<QAbstractSpinBox *>{
             ui->SPINBOX_RANGE_PLUS, ui->SPINBOX_RANGE_MINUS, ui->SPINBOX_STABLE_Z_SPEED,
             ui->SPINBOX_STABLE_TIME_INTERVAL, ui->SPINBOX_INTERVAL, ui->SPINBOX_IMAGE_NUMBER})
        box->findChild<QLineEdit *>()->installEventFilter(this);
    connect(ui->SPINBOX_INTERVAL, &LDoubleSpinBox::mouseButtonPressed, this,
            &ZStackWidget::slotSPINBOX_INTERVAL_mouseButtonPressed);

    if (!isQCTestMode()) {
        ui->CHKBOX_FULL_FOCUS->hide();
        ui->FRAME_HIDE_PARAM->hide();
    }
    ui->SPINBOX_MATCH_KERNEL->hide();
    ui->LABEL_MATCHING_SIZE->hide();
}

// ---------------------------------------------------------------------------------------------
// Settings

void ZStackWidget::readSetting()
{
    ui->SPINBOX_INTERVAL->setValue(readConfig(kSection, "Interval", "1.0").toDouble());
    ui->SPINBOX_IMAGE_NUMBER->setValue(readConfig(kSection, "ImageNumber", "10").toInt());
    ui->SPINBOX_STABLE_TIME_INTERVAL->setValue(readConfig(kSection, "StableTimeInterval", "0.1").toDouble());
    ui->SPINBOX_STABLE_Z_SPEED->setValue(readConfig(kSection, "StableZSpeed", "100").toInt());
    {
        // The range boxes report changes; loading them is no user change.
        const QSignalBlocker plus(ui->SPINBOX_RANGE_PLUS);
        const QSignalBlocker minus(ui->SPINBOX_RANGE_MINUS);
        ui->SPINBOX_RANGE_PLUS->setValue(readConfig(kSection, "Range_Plus", "100").toInt());
        ui->SPINBOX_RANGE_MINUS->setValue(readConfig(kSection, "Range_Minus", "100").toInt());
    }
    m_nMergeKernel = readConfig(kSection, "MatchingSize", "11").toInt();
    m_nMergeColor = readConfig(kSection, "MergeColor", "7").toInt();
    m_nImageBits = sanitizedCameraMode(readConfig("Camera", "Mode", "8").toInt());
    if (g_CurrentMenu == MENU_ZSTACK)
        emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
}

void ZStackWidget::writeSetting()
{
    const std::string file = configFile();
    WriteSetting(kSection, "Interval", QString("%1").arg(ui->SPINBOX_INTERVAL->value()).toStdString(), file);
    WriteSetting(kSection, "ImageNumber", std::to_string(ui->SPINBOX_IMAGE_NUMBER->value()), file);
    WriteSetting(kSection, "Range_Plus", std::to_string(ui->SPINBOX_RANGE_PLUS->value()), file);
    WriteSetting(kSection, "Range_Minus", std::to_string(ui->SPINBOX_RANGE_MINUS->value()), file);
    NormalizePrivateProfile(file);
}

// ---------------------------------------------------------------------------------------------
// States and controls

void ZStackWidget::setCurrentState(TZStackState state)
{
    m_nCurrentState = state;
    changeState();
}

void ZStackWidget::changeState()
{
    const int state = m_nCurrentState;
    if (state < ZSTACK_IDLE || state > ZSTACK_STACKING) {
        emit changedState();
        return;
    }
    setUIControlEnabled(true);
    const bool stacking = state == ZSTACK_STACKING;
    const bool held = state == ZSTACK_COMPLETED;

    ui->BUTTON_Z_STACK_START->setEnabled(state == ZSTACK_LIVE);
    if (state == ZSTACK_LIVE || stacking)
        ui->BUTTON_Z_STACK_START->show();
    if (stacking)
        ui->BUTTON_Z_STACK_STOP->setEnabled(true);
    else
        ui->BUTTON_Z_STACK_STOP->hide();
    if (state <= ZSTACK_LIVE)
        ui->BUTTON_NEXT_Z_STACK->hide();
    else
        ui->BUTTON_NEXT_Z_STACK->setEnabled(true);
    if (state == ZSTACK_IDLE || held) {
        ui->BUTTON_LIVE->show();
        ui->BUTTON_LIVE->setEnabled(true);
    } else if (state == ZSTACK_LIVE) {
        ui->BUTTON_LIVE->setEnabled(false);
    }

    // Save before / after (never shown again once hidden at construction).
    if (stacking) {
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
    } else if (held || !m_bFirstTime) {
        const bool after = !held && m_bSaved;
        ui->BUTTON_SAVE_AFTER->setEnabled(after);
        ui->BUTTON_SAVE_BEFORE->setEnabled(!after);
        (after ? ui->BUTTON_SAVE_BEFORE : ui->BUTTON_SAVE_AFTER)->hide();
    } else {
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->hide();
    }

    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_STACK_IMAGE, ui->SLIDER_Z_STACK, ui->LABEL_POS_STAMP})
        w->setVisible(state >= ZSTACK_COMPLETED);
    for (QCheckBox *box : {ui->CHKBOX_SCALEBAR, ui->CHKBOX_ZPOSITION}) {
        box->setCheckable(held);
        box->setEnabled(held);
    }
    if (held) {
        if (g_CurrentMenu == MENU_ZSTACK)
            emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
        emit enableAnnotation(ui->CHKBOX_ZPOSITION->isChecked());
    }
    for (QWidget *w : std::initializer_list<QWidget *>{ui->BUTTON_SAVE_PATH, ui->CHECK_AUTORUN_SAVE, ui->BUTTON_LOAD_IMAGE,
                                                       ui->BUTTON_MODE1, ui->BUTTON_MODE2})
        w->setEnabled(!stacking);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->BUTTON_SAVE_IMAGE, ui->BUTTON_FULL_FOCUS, ui->BUTTON_SAVE_VIDEO})
        w->setEnabled(held);
    if (held) {
        setSpinboxState(false);
        setRadioButtonState(false);
        for (QWidget *w : std::initializer_list<QWidget *>{ui->SPINBOX_INTERVAL, ui->SPINBOX_IMAGE_NUMBER,
                                                           ui->LABEL_ESTIMATED_DISTANCE, ui->BUTTON_SET_START_POSITION,
                                                           ui->BUTTON_SET_END_POSITION})
            w->setEnabled(false);
    }
    emit changedState();
}

void ZStackWidget::setUIControlEnabled(bool on)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->BUTTON_Z_STACK_STOP, ui->BUTTON_NEXT_Z_STACK, ui->BUTTON_SAVE_BEFORE,
                                                       ui->BUTTON_SAVE_AFTER, ui->BUTTON_Z_STACK_START})
        w->setEnabled(on);
    setStackingRange();
    setImageAcquisition();
    ui->LABEL_ESTIMATED_DISTANCE->setEnabled(on);
    setSpinboxState(on);
    setRadioButtonState(on);
}

void ZStackWidget::setSpinboxState(bool on)
{
    ui->SPINBOX_STABLE_TIME_INTERVAL->setEnabled(on);
    ui->SPINBOX_STABLE_Z_SPEED->setEnabled(on);
    if (!on) {
        ui->SPINBOX_RANGE_PLUS->setEnabled(false);
        ui->SPINBOX_RANGE_MINUS->setEnabled(false);
    }
}

void ZStackWidget::setRadioButtonState(bool on)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->RADIOBUTTON_IMAGE_NUMBER, ui->RADIOBUTTON_INTERVAL,
                                                       ui->RADIO_START_TO_END, ui->RADIO_RANGE})
        w->setEnabled(on);
}

void ZStackWidget::setStackingRange()
{
    const bool range = ui->RADIO_RANGE->isChecked();
    if (ui->RADIO_START_TO_END->isChecked()) {
        ui->LABEL_ESTIMATED_DISTANCE->setText(QString::asprintf("%.2f", double(m_fDistance)));
        const bool live = m_nCurrentState == ZSTACK_LIVE;
        for (QPushButton *b : {ui->BUTTON_SET_START_POSITION, ui->BUTTON_SET_END_POSITION}) {
            b->setEnabled(live);
            b->setCheckable(live);
        }
    } else if (range) {
        requestPosition(3);
        for (QPushButton *b : {ui->BUTTON_SET_START_POSITION, ui->BUTTON_SET_END_POSITION}) {
            b->setEnabled(false);
            b->setCheckable(false);
        }
    }
    ui->SPINBOX_RANGE_PLUS->setEnabled(range);
    ui->SPINBOX_RANGE_MINUS->setEnabled(range);
}

void ZStackWidget::setImageAcquisition()
{
    if (ui->RADIOBUTTON_INTERVAL->isChecked()) {
        ui->SPINBOX_INTERVAL->setEnabled(true);
        ui->SPINBOX_IMAGE_NUMBER->setEnabled(false);
    } else if (ui->RADIOBUTTON_IMAGE_NUMBER->isChecked()) {
        ui->SPINBOX_INTERVAL->setEnabled(false);
        ui->SPINBOX_IMAGE_NUMBER->setEnabled(true);
    }
}

void ZStackWidget::clearZStackParameters()
{
    m_bStackHeld = false;
    m_bStartSet = m_bEndSet = false;
    m_nStartPosition = m_nEndPosition = 0;
    ui->BUTTON_SET_START_POSITION->setChecked(false);
    ui->BUTTON_SET_END_POSITION->setChecked(false);
    ui->LABEL_ESTIMATED_DISTANCE->clear();
}

// START needs the light on and the live image: a stack is never started from a still page.
void ZStackWidget::enableStartByLED()
{
    ui->BUTTON_Z_STACK_START->setEnabled(m_bLEDOn && m_nCurrentState == ZSTACK_LIVE);
}

void ZStackWidget::on_RADIO_START_TO_END_clicked()
{
    ui->RADIO_START_TO_END->setChecked(true);
    ui->RADIO_RANGE->setChecked(false);
    setStackingRange();
}

void ZStackWidget::on_RADIO_RANGE_clicked()
{
    ui->RADIO_START_TO_END->setChecked(false);
    m_bStartSet = m_bEndSet = false;
    ui->RADIO_RANGE->setChecked(true);
    setStackingRange();
}

void ZStackWidget::on_RADIOBUTTON_INTERVAL_clicked()
{
    ui->RADIOBUTTON_INTERVAL->setChecked(true);
    ui->RADIOBUTTON_IMAGE_NUMBER->setChecked(false);
    setImageAcquisition();
}

void ZStackWidget::on_RADIOBUTTON_IMAGE_NUMBER_clicked()
{
    ui->RADIOBUTTON_IMAGE_NUMBER->setChecked(true);
    ui->RADIOBUTTON_INTERVAL->setChecked(false);
    setImageAcquisition();
}

void ZStackWidget::on_SPINBOX_RANGE_PLUS_valueChanged(int)
{
    calcDistByInputRange();
}

void ZStackWidget::on_SPINBOX_RANGE_MINUS_valueChanged(int)
{
    calcDistByInputRange();
}

void ZStackWidget::calcDistByInputRange()
{
    requestPosition(3);
}

void ZStackWidget::slotSPINBOX_INTERVAL_mouseButtonPressed(double value, bool)
{
    ui->SPINBOX_INTERVAL->setValue(std::floor(value));
}

void ZStackWidget::on_BUTTON_LIVE_clicked()
{
    setCursor(Qt::BusyCursor);
    emit signalEnableMainMenu(false);
    setUIControlEnabled(false);
    emit liveMode(true);
    emit lightOn();
    m_nCurrentState = ZSTACK_LIVE;
    if (m_bFirstTime)
        clearZStackParameters();
    changeState();
    ui->BUTTON_MODE1->setChecked(true);
    if (ui->STACKEDWIDGET->currentIndex() != 0)
        on_BUTTON_MODE1_clicked();
}

void ZStackWidget::on_BUTTON_NEXT_Z_STACK_clicked()
{
    setCursor(Qt::BusyCursor);
    emit signalEnableMainMenu(false);
    emit signalEnableControlWidgetUI(false);
    setUIControlEnabled(false);
    m_nCurrentState = ZSTACK_LIVE;
    changeState();
    on_BUTTON_MODE1_clicked();
    emit liveMode(true);
    emit lightOn();
}

void ZStackWidget::on_BUTTON_MODE1_clicked()
{
    ui->BUTTON_MODE1->setChecked(true);
    if (ui->STACKEDWIDGET->currentIndex() != 0) {
        ui->BUTTON_MODE2->setChecked(false);
        ui->STACKEDWIDGET->setCurrentIndex(0);
    }
}

void ZStackWidget::on_BUTTON_MODE2_clicked()
{
    ui->BUTTON_MODE2->setChecked(true);
    if (ui->STACKEDWIDGET->currentIndex() != 1) {
        ui->BUTTON_MODE1->setChecked(false);
        ui->STACKEDWIDGET->setCurrentIndex(1);
    }
}

// ---------------------------------------------------------------------------------------------
// Small slots

void ZStackWidget::setCurrentObjectiveLensPosition(int position)
{
    if (!m_bStackHeld)
        m_nObjectivePosition = position;
}

void ZStackWidget::setPseudoColor(bool on, int filterPosition, int colorIndex)
{
    m_bPseudoColor = on;
    m_nFilterPosition = filterPosition;
    m_nFilterColorIndex = colorIndex;
}

void ZStackWidget::slotLEDState(bool on)
{
    if (g_CurrentMenu != MENU_ZSTACK)
        return;
    m_bLEDOn = on;
    enableStartByLED();
}

void ZStackWidget::slotScaleBarCheckBoxState(TSScaleBar scaleBar)
{
    ScaleBar::uncheckWithoutObjective(ui->CHKBOX_SCALEBAR, scaleBar);
}

void ZStackWidget::on_CHKBOX_SCALEBAR_clicked()
{
    if (g_CurrentMenu == MENU_ZSTACK)
        emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
}

void ZStackWidget::on_CHKBOX_ZPOSITION_clicked()
{
    emit enableAnnotation(ui->CHKBOX_ZPOSITION->isChecked());
}

void ZStackWidget::on_SLIDER_Z_STACK_actionTriggered(int)
{
    m_bSliderMovedByUser = true;
}

void ZStackWidget::on_SLIDER_Z_STACK_valueChanged(int value)
{
    if (m_nCurrentState != ZSTACK_COMPLETED)
        return;
    if (m_bSliderMovedByUser)
        emit signalChangeCurrentThumbnailIndex(value);
    updatePositionStamp();
}

void ZStackWidget::slotChangedCurrentThumbnailIndex(int index)
{
    if (m_nCurrentState != ZSTACK_COMPLETED)
        return;
    if (index == ZStackPositionText::kMergedIndex) {
        ui->LABEL_POS_STAMP->setText(ZStackPositionText::kMerged);
        return;
    }
    m_bSliderMovedByUser = false;
    ui->SLIDER_Z_STACK->setValue(index);
    updatePositionStamp();
}

void ZStackWidget::slotDeleteThumbnail(int index)
{
    std::vector<ThumbnailInfo> &slices = m_ZStack.thumbnails();
    if (index < 0 || index >= int(slices.size()))
        return;
    slices.erase(slices.begin() + index);
    if (!slices.empty())
        ui->SLIDER_Z_STACK->setRange(0, int(slices.size()) - 1);
    updatePositionStamp();
}

void ZStackWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_ZSTACK || m_bPathDialogOpen)
        return;
    setCursor(Qt::ArrowCursor);
    if (m_bLEDOn)
        ui->BUTTON_Z_STACK_START->setEnabled(true);
    // Menu and panel are free before the panel's unlock hands out the taps made meanwhile.
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
}

void ZStackWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_ZSTACK || m_bPathDialogOpen)
        return;
    setCursor(Qt::ArrowCursor);
    ui->BUTTON_LIVE->setEnabled(true);
    ui->BUTTON_NEXT_Z_STACK->setEnabled(true);
    ui->BUTTON_SAVE_AFTER->setEnabled(m_bSaved);
    ui->BUTTON_SAVE_BEFORE->setEnabled(!m_bSaved);
    (m_bSaved ? ui->BUTTON_SAVE_BEFORE : ui->BUTTON_SAVE_AFTER)->hide();
    emit signalEnableMainMenu(true);
}

void ZStackWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

// ---------------------------------------------------------------------------------------------
// Keyboard entry into the spin boxes

bool ZStackWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (g_CurrentMenu == MENU_ZSTACK && event->type() == QEvent::MouseButtonPress) {
        for (QAbstractSpinBox *box : std::initializer_list<QAbstractSpinBox *>{
                 ui->SPINBOX_RANGE_PLUS, ui->SPINBOX_RANGE_MINUS, ui->SPINBOX_STABLE_Z_SPEED,
                 ui->SPINBOX_STABLE_TIME_INTERVAL, ui->SPINBOX_INTERVAL, ui->SPINBOX_IMAGE_NUMBER}) {
            if (watched == box->findChild<QLineEdit *>()) {
                editSpinBox(box);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ZStackWidget::editSpinBox(QAbstractSpinBox *box)
{
    if (!box->isEnabled() || !box->isVisible())
        return;
    KeyboardDlg keyboard(nullptr, false);
    QString text = box->text();
    keyboard.setText(text);
    if (keyboard.exec() != 1)
        return;
    bool ok = false;
    const double value = keyboard.text().trimmed().toDouble(&ok);
    if (!ok)
        return;
    if (value < 0) {
        showMessage(MSG_NUMERALS_ONLY);
        return;
    }
    if (auto *real = qobject_cast<QDoubleSpinBox *>(box))
        real->setValue(value);
    else if (auto *whole = qobject_cast<QSpinBox *>(box))
        whole->setValue(int(std::min(value, 2147483647.0)));
}

// ---------------------------------------------------------------------------------------------
// Messages

void ZStackWidget::showMessage(int type)
{
    MessageDlg message;
    message.setMsgType(TMessageType(type));
    message.exec();
}

void ZStackWidget::showText(const QString &text)
{
    MessageDlg message;
    message.setMessage(text);
    message.setButtonVisibility(MSG_BUTTON_OK);
    message.exec();
}

int ZStackWidget::messageTypeOf(int code)
{
    switch (code) {
    case NO_DISK_SPACE: return MSG_INSUFFICIENT_DISK_SPACE;
    case POSITION_NOT_SET: return MSG_POSITION_NOT_SET;
    case ZStack::NO_INTERVAL: return MSG_ZSTACK_SET_INTERVAL;
    case ZStack::NO_IMAGE_NUMBER: return MSG_ZSTACK_SET_COUNT;
    case ZStack::BAD_DISTANCE: return MSG_ZSTACK_DISTANCE_TOO_SHORT;
    case ZStack::TOO_FEW_IMAGES: return MSG_ZSTACK_COUNT_TOO_SMALL;
    case ZStack::TOO_MANY_IMAGES: return MSG_ZSTACK_TOO_MANY_IMAGES;
    case NO_SAVE_VOLUME: return MSG_USB_REINSERT;
    case NO_SAVE_PATH: return MSG_TARGET_FOLDER_NOT_SELECTED;
    default: return -1;
    }
}

// Two set positions too far apart are forgotten. (A range is checked whole at START.)
void ZStackWidget::showDistanceError()
{
    m_fDistance = 0.0f;
    showText(kDistanceError.arg("START TOEND"));
    m_bStartSet = m_bEndSet = false;
    ui->LABEL_ESTIMATED_DISTANCE->clear();
    ui->BUTTON_SET_START_POSITION->setChecked(false);
    ui->BUTTON_SET_END_POSITION->setChecked(false);
}

// ---------------------------------------------------------------------------------------------
// Save place

void ZStackWidget::setSavePath(const QString &path, const QString &folder, const QString &extension)
{
    m_SavePath = path;
    m_FolderName = folder;
    m_FileExtension = extension;
    showStackFolder(folder);
}

// The label names the folder the next stack numbers from, and once a stack has made its own
// folder, that one.
void ZStackWidget::showStackFolder(const QString &name)
{
    m_StackName = name;
    ui->LABEL_SAVE_PATH->setText(QString("%1/%2").arg(MediaPath::label(m_SavePath), name));
}

QString ZStackWidget::stackFolder() const
{
    return QString("%1/%2").arg(m_SavePath, m_StackName);
}

void ZStackWidget::on_BUTTON_SAVE_PATH_clicked()
{
    const bool stopVideo = m_nCurrentState != ZSTACK_COMPLETED;
    if (stopVideo) {
        m_bPathDialogOpen = true;
        emit setVideoRunningState(false);
    }
    {
        SaveOptionsDlg dialog(nullptr, false);
        dialog.setCurrentSaveOption(SAVE_OPTION_ZSTACK_PATH, true, SUB_OPTION_NONE);
        dialog.setImageBits(m_nImageBits);
        if (dialog.exec() == 1) {
            QString path, name, extension;
            dialog.getSaveFilePathInfo(path, name, extension);
            setSavePath(path, name, extension);
        }
    }
    if (stopVideo) {
        emit setVideoRunningState(true);
        m_bPathDialogOpen = false;
    }
}

bool ZStackWidget::createFolder(const QString &parentPath, QString &folderName)
{
    folderName = SaveNaming::freeFolderName(parentPath, folderName);
    if (!QDir(parentPath).mkdir(folderName))
        return false;
    clearDirtyMemory();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Checks

bool ZStackWidget::canStart()
{
    if (Paths::fixedPath(m_SavePath).trimmed().isEmpty()) {
        m_nErrorCode = NO_SAVE_PATH;
        return false;
    }
    const QString root = MediaPath::volumeOf(m_SavePath);
    if (!MediaPath::isBelowMedia(root) || !QFileInfo(root).isDir() || !QFileInfo(m_SavePath).isDir()
        || !usableFolderName(m_FolderName)) {
        m_nErrorCode = NO_SAVE_VOLUME;
        return false;
    }
    return checkFreeDiskSpace(root, false, m_ZStack.imageNumber());
}

bool ZStackWidget::checkFreeDiskSpace(const QString &path, bool color, int count)
{
    // Each slice: its samples and the file's own bytes; a stack may add one merged colour image.
    const quint64 perImage = kFramePixels * quint64(m_nImageBits == 16 ? 2 : 1) * (color ? 3 : 1) + kFileOverhead;
    const quint64 needed = perImage * quint64(std::max(count, 0)) + kFramePixels * 3 + kFileOverhead;
    const quint64 free = MediaMonitor::freeDiskSpace(path) * 1000000ull;
    if (free >= needed)
        return true;
    m_nErrorCode = NO_DISK_SPACE;
    return false;
}

bool ZStackWidget::checkRangeBeforeScan()
{
    const int p = m_nPolledPosition;
    const int plus = ui->SPINBOX_RANGE_PLUS->value();
    const int minus = ui->SPINBOX_RANGE_MINUS->value();
    if (plus + p > kStageTopMicrometres || minus > p)
        return false;
    m_nSavedPosition = toSteps(float(p));
    m_nStartPosition = int(float(p) * g_ConvertToStep - float(minus) * g_ConvertToStep);
    m_nEndPosition = int(float(p) * g_ConvertToStep + float(plus) * g_ConvertToStep);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Positions

void ZStackWidget::on_BUTTON_SET_START_POSITION_clicked()
{
    requestPosition(0);
}

void ZStackWidget::on_BUTTON_SET_END_POSITION_clicked()
{
    requestPosition(1);
}

void ZStackWidget::requestPosition(int request)
{
    m_nMotorRequest = request;
    armAnswerTimer(answerTimeoutMs());
    emit signalGetCurrentMotorPosition();
    askPositionAgainIfUnanswered(request);
}

// The old board answers one queued command per reply, and a position query's answer can be used
// up by sending the next one: a query still unanswered after a while is asked again (a query
// moves nothing), until the answer comes or the answer timer gives up.
void ZStackWidget::askPositionAgainIfUnanswered(int request)
{
    QTimer::singleShot(kPositionReaskMs, this, [this, request] {
        if (m_nMotorRequest != request || m_nCurrentState == ZSTACK_STACKING || !m_AnswerTimer.isActive())
            return;
        emit signalGetCurrentMotorPosition();
        askPositionAgainIfUnanswered(request);
    });
}

void ZStackWidget::armAnswerTimer(int ms)
{
    m_AnswerTimer.start(ms);
}

void ZStackWidget::slotSetCurrentMotorPosition(int position)
{
    // Answers asked for by others (the panel's own reads, the time-lapse page) are not ours.
    const int request = m_nMotorRequest;
    if (request < 0)
        return;
    m_nMotorRequest = -1;
    m_AnswerTimer.stop();

    switch (request) {
    case 0:
    case 1: {
        if (request == 0) {
            m_nStartPosition = position;
            m_bStartSet = true;
            ui->BUTTON_SET_START_POSITION->setChecked(true);
        } else {
            m_nEndPosition = position;
            m_bEndSet = true;
            ui->BUTTON_SET_END_POSITION->setChecked(true);
        }
        if (!(m_bStartSet && m_bEndSet))
            return;
        const float distance = float(std::abs(m_nStartPosition - m_nEndPosition)) / g_ConvertToStep;
        ui->LABEL_ESTIMATED_DISTANCE->setText(QString::asprintf("%.2f", double(distance)));
        if (int(distance) > kMaxDistanceMicrometres) {
            showDistanceError();
            return;
        }
        enableStartByLED();
        m_fDistance = distance;
        return;
    }
    case 3: {
        // The user may still be typing the other side of the range: the height is shown as
        // typed, and the range is checked whole at START.
        m_nSavedPosition = position;
        m_nStartPosition = int(float(position) - float(ui->SPINBOX_RANGE_MINUS->value()) * g_ConvertToStep);
        m_nEndPosition = int(float(position) + float(ui->SPINBOX_RANGE_PLUS->value()) * g_ConvertToStep);
        m_fDistance = float(ui->SPINBOX_RANGE_PLUS->value() + ui->SPINBOX_RANGE_MINUS->value());
        ui->LABEL_ESTIMATED_DISTANCE->setText(QString::asprintf("%.2f", double(m_fDistance)));
        enableStartByLED();
        return;
    }
    case 2:
        if (m_bStop) {
            m_bReturnStarted = true; // the stage has not moved: nothing to return from
            completedZStacking();
            return;
        }
        if (ui->RADIO_RANGE->isChecked()) {
            // The range is taken around where the stage stands now, to the step, so that the
            // stage returns exactly there.
            m_nSavedPosition = position;
            m_nStartPosition = int(float(position) - float(ui->SPINBOX_RANGE_MINUS->value()) * g_ConvertToStep);
            m_nEndPosition = m_nStartPosition + m_ZStack.step() * (m_ZStack.imageNumber() - 1);
        }
        m_bMovingToStart = true;
        m_nPendingMove = MOVE_TO_START;
        armAnswerTimer(answerTimeoutMs());
        emit signalSetMotorSpeedAndStartZPosition(readConfig("Setting_Misc", "Stage_FOCUSSPEED", "100").toInt(),
                                                  m_nStartPosition - position);
        return;
    case 4:
        m_bReturning = true;
        m_nPendingMove = MOVE_RETURN;
        armAnswerTimer(answerTimeoutMs());
        emit signalMoveMotorPosition(m_nSavedPosition - position, true);
        return;
    default:
        return;
    }
}

void ZStackWidget::slotAnswerTimedOut()
{
    if (m_nCurrentState != ZSTACK_STACKING) {
        m_nMotorRequest = -1; // an answer arriving later is not taken for this request
        return;
    }
    // The board or the camera went silent: no return move is tried, the run ends as a stop.
    m_bTimedOut = m_bStop = true;
    m_bReturnStarted = true;
    m_nMotorRequest = -1;
    m_nPendingMove = MOVE_NONE;
    m_bAwaitingFrame = false;
    m_bEndAfterMove = false;
    if (m_pProgressDlg)
        disconnect(m_pProgressDlg, &MessageDlg::signalOKClicked, this, &ZStackWidget::slotOKClicked);
    completedZStacking();
}

// ---------------------------------------------------------------------------------------------
// The run

void ZStackWidget::on_BUTTON_Z_STACK_START_clicked()
{
    if (ui->RADIO_RANGE->isChecked() && !checkRangeBeforeScan()) {
        showText(kInvalidValues.arg(travelText(m_nPolledPosition - ui->SPINBOX_RANGE_MINUS->value(),
                                               m_nPolledPosition + ui->SPINBOX_RANGE_PLUS->value())));
        return;
    }
    setCursor(Qt::WaitCursor);
    ui->BUTTON_Z_STACK_START->setEnabled(false);
    emit signalEnableMainMenu(false);
    emit signalEnableControlWidgetUI(false);

    m_nErrorCode = -1;
    QTimer::singleShot(1000, this, &ZStackWidget::slotCalculrateIntervalOrImageNumber);
    m_pInitializingDlg = new MessageDlg;
    m_pInitializingDlg->setMessage(kInitializing);
    m_pInitializingDlg->setButtonVisibility(MSG_BUTTON_NONE);
    m_pInitializingDlg->exec();
    if (m_pInitializingDlg)
        m_pInitializingDlg->deleteLater();
    setCursor(Qt::ArrowCursor);

    if (m_nErrorCode != 0) {
        const int type = messageTypeOf(m_nErrorCode);
        if (type >= 0)
            showMessage(type);
        emit signalEnableMainMenu(true);
        emit signalEnableControlWidgetUI(true);
        m_bAutoRun = false;
        if (m_nCurrentState == ZSTACK_LIVE)
            enableStartByLED();
        return;
    }

    m_bStop = m_bTimedOut = m_bTurretMoved = false;
    setCurrentState(ZSTACK_STACKING);
    ui->LABEL_POS_STAMP->clear();
    m_MergedPath.clear();
    m_bStackStartPending = true;
    QTimer::singleShot(500, this, &ZStackWidget::slotZStacking);
    m_bFirstSlicePending = true;
    m_pProgressDlg = new MessageDlg;
    m_pProgressDlg->setMessage(kInProgress);
    m_pProgressDlg->setButtonText("Stop", "Cancel");
    m_pProgressDlg->setSignalMode(true);
    m_pProgressDlg->setButtonVisibility(MSG_BUTTON_OK); // Stop from the start
    connect(m_pProgressDlg, &MessageDlg::signalOKClicked, this, &ZStackWidget::slotOKClicked);
    m_pProgressDlg->exec();
    if (m_pProgressDlg)
        m_pProgressDlg->deleteLater();

    // What the user must know about the stack just taken.
    if (m_bTimedOut)
        showText(kStoppedAnsweringText);
    else if (m_bTurretMoved)
        showText(kTurretMovedText);
    else if (m_nFailedSlices > 0)
        showText(kSaveFailed.arg(m_nFailedSlices).arg(m_ZStack.count()));
}

void ZStackWidget::slotCalculrateIntervalOrImageNumber()
{
    m_ZStack.setZStackParameter(float(m_nStartPosition) / g_ConvertToStep, float(m_nEndPosition) / g_ConvertToStep,
                                float(ui->SPINBOX_INTERVAL->value()), ui->RADIOBUTTON_INTERVAL->isChecked(),
                                ui->SPINBOX_IMAGE_NUMBER->value(), ui->RADIOBUTTON_IMAGE_NUMBER->isChecked());
    m_nErrorCode = m_ZStack.canStart(m_nImageBits);
    if (!(m_bStartSet && m_bEndSet) && ui->RADIO_START_TO_END->isChecked())
        m_nErrorCode = POSITION_NOT_SET;
    else if (m_nErrorCode == 0 && canStart()) {
        // Each stack numbers from the chosen name: cells, cells(1), cells(2) ...
        QString made = m_FolderName;
        if (createFolder(m_SavePath, made))
            showStackFolder(made);
        else
            m_nErrorCode = NO_SAVE_VOLUME;
    }
    if (m_pInitializingDlg) {
        m_pInitializingDlg->close();
        m_pInitializingDlg->deleteLater();
    }
}

void ZStackWidget::slotZStacking()
{
    m_bStackStartPending = false;
    if (m_bStop) { // stopped before anything moved
        m_bReturnStarted = true;
        completedZStacking();
        return;
    }
    emit signalEnablePullingCommand(false);
    m_bSaved = false;
    m_bFirstTime = false;
    emit saved(false);
    if (m_ZStack.imageNumberOn())
        ui->SPINBOX_INTERVAL->setValue(double(m_ZStack.interval()));
    else
        ui->SPINBOX_IMAGE_NUMBER->setValue(m_ZStack.imageNumber());
    writeSetting();

    const bool down = m_ZStack.sign() < 0;
    ui->SLIDER_Z_STACK->setInvertedAppearance(down);
    ui->SLIDER_Z_STACK->setInvertedControls(down);
    ui->SLIDER_Z_STACK->setRange(0, m_ZStack.imageNumber() - 1);
    ui->SLIDER_Z_STACK->setValue(0);
    ui->SLIDER_Z_STACK->repaint();
    m_bSliderMovedByUser = false;

    m_nFailedSlices = 0;
    m_bMergeFed = ui->CHKBOX_FULL_FOCUS->isChecked();
    if (m_bMergeFed)
        createFullFocusThread(); // merging while acquiring: each slice goes in as it is taken
    else
        FullFocus_Free();
    m_bReturnStarted = m_bReturning = m_bEndAfterMove = m_bAwaitingFrame = false;
    m_nPendingMove = MOVE_NONE;
    m_RunClock.start();
    requestPosition(2);
}

void ZStackWidget::slotStartZPositioningCompleted()
{
    if (m_nPendingMove != MOVE_TO_START)
        return;
    m_bMovingToStart = false;
    if (stoppedAfterMove())
        return;
    m_nPendingMove = MOVE_START_ACK;
    armAnswerTimer(answerTimeoutMs());
    emit signalStartZStacking();
}

void ZStackWidget::slotMotorMovedStartPosition()
{
    if (m_nPendingMove != MOVE_START_ACK || stoppedAfterMove())
        return;
    ui->BUTTON_Z_STACK_STOP->setEnabled(true);
    captureSlice();
}

void ZStackWidget::captureSlice()
{
    delay(int(ui->SPINBOX_STABLE_TIME_INTERVAL->value() * 1000.0));
    delay(100);
    m_Retakes.reset();
    takeSlice();
}

void ZStackWidget::takeSlice()
{
    m_bAwaitingFrame = true;
    m_bStillRefused = false;
    armAnswerTimer(stillWaitLimitMs() + 1000);
    emit capture();
    if (m_bStillRefused && m_bAwaitingFrame)
        sliceRefused();
}

// A turret moved while the slice was exposed: the camera answered, so the answer timer stops. The
// slice is taken again at the same height once the turret had time to stand; a turret that keeps
// moving ends the stack as Stop does, with the slices taken so far and the stage returned.
void ZStackWidget::sliceRefused()
{
    m_AnswerTimer.stop();
    if (m_Retakes.take()) {
        qInfo() << "Z-stack: slice" << m_ZStack.count() << "refused, a turret moved; taken again";
        QTimer::singleShot(StillRetakes::kPauseMs, this, [this] {
            if (m_nCurrentState == ZSTACK_STACKING && m_bAwaitingFrame && !m_bStop)
                takeSlice();
        });
        return;
    }
    qWarning() << "Z-stack: a turret kept moving while slice" << m_ZStack.count() << "was taken; the stack ends";
    m_bAwaitingFrame = false;
    m_bTurretMoved = m_bStop = true;
    if (m_pProgressDlg)
        disconnect(m_pProgressDlg, &MessageDlg::signalOKClicked, this, &ZStackWidget::slotOKClicked);
    endStack();
}

void ZStackWidget::captureCompleted(uchar *frame, int bits)
{
    // Frames taken for the panel (autofocus) or another page pass by.
    if (g_CurrentMenu != MENU_ZSTACK || m_bStop || !m_bAwaitingFrame)
        return;
    m_bAwaitingFrame = false;
    m_AnswerTimer.stop();
    emit captured(true);
    m_nImageBits = bits;
    if (m_SliceWriter.setFrame(frame, bits)) {
        if (m_bMergeFed && m_pFullFocusThread && ui->CHKBOX_FULL_FOCUS->isChecked()
            && m_pFullFocusThread->loadedCount() < kMaxMergeSlices)
            m_pFullFocusThread->set_load_image(const_cast<uchar *>(m_SliceWriter.frame8()), kFrameWidth,
                                               kFrameHeight);
        writeSlice();
    }
    else
        ++m_nFailedSlices;

    if (m_bFirstSlicePending && m_pProgressDlg) {
        m_bFirstSlicePending = false;
        m_pProgressDlg->setMsgType(MSG_ZSTACK_IN_PROGRESS);
        m_pProgressDlg->repaint();
    }
    if (m_ZStack.count() >= m_ZStack.imageNumber()) {
        completedZStacking();
    } else if (m_nCurrentState == ZSTACK_STACKING) {
        m_nPendingMove = MOVE_STEP;
        armAnswerTimer(answerTimeoutMs());
        emit signalMoveMotorPosition(m_ZStack.step(), true);
    }
}

// The Z position of a slice in micrometres, from the real motor steps: 0 at the lowest slice of a
// start-to-end stack, 0 at the saved position of a range stack.
float ZStackWidget::slicePosition(int index) const
{
    const int position = m_nStartPosition + m_ZStack.step() * index;
    int reference = std::min(m_nStartPosition, m_nStartPosition + m_ZStack.step() * (m_ZStack.imageNumber() - 1));
    if (ui->RADIO_RANGE->isChecked())
        reference = m_nSavedPosition;
    return float(position - reference) / g_ConvertToStep;
}

void ZStackWidget::writeSlice()
{
    const int index = m_ZStack.count();
    const float z = slicePosition(index);
    const QString path = ZStackSliceWriter::slicePath(m_SavePath, m_StackName, index, m_FileExtension);
    const QString text = ZStackSliceWriter::metaText(capturedImageMetaData().metaText(), z);
    if (m_SliceWriter.write(path, text)) {
        ThumbnailInfo info;
        info.thumbnail = m_SliceWriter.thumbnail(g_PseudoColorTable[m_bPseudoColor ? clampColorIndex(m_nFilterColorIndex) : 7]);
        info.path = path;
        m_ZStack.pushThumbnail(info);
    } else {
        ++m_nFailedSlices;
        qWarning() << "Z-stack slice not written:" << m_SliceWriter.errorString();
    }
    m_ZStack.increaseCount();
    ui->SLIDER_Z_STACK->setValue(m_ZStack.count());
    m_bSliderMovedByUser = false;
    updateLiveStamp(z);
}

void ZStackWidget::updateLiveStamp(float z)
{
    ui->LABEL_POS_STAMP->setText(QString("%1 %2 / %3 %4  %5 / %6")
                                     .arg(QString::number(double(z), 'f', 1), kMicro,
                                          QString::number(double(m_fDistance), 'f', 1), kMicro)
                                     .arg(m_ZStack.count())
                                     .arg(m_ZStack.imageNumber()));
}

void ZStackWidget::slotMotorMoved()
{
    if (g_CurrentMenu != MENU_ZSTACK)
        return;
    if (m_nPendingMove == MOVE_RETURN) {
        m_nPendingMove = MOVE_NONE;
        m_bReturning = false;
        m_AnswerTimer.stop();
        completedZStacking();
        m_nMotorRequest = -1;
        return;
    }
    if (m_nPendingMove != MOVE_STEP || stoppedAfterMove())
        return;
    captureSlice();
}

// The panel could not see a move of the run end: the board went silent (or the stage never
// stood still), so the stage is not where the next slice needs it. The run ends as the answer
// time-out ends it, before the move's reported end could take the next slice.
void ZStackWidget::slotMotorMoveUnconfirmed()
{
    if (g_CurrentMenu == MENU_ZSTACK && m_nCurrentState == ZSTACK_STACKING && m_nPendingMove != MOVE_NONE)
        slotAnswerTimedOut();
}

// A move of the run has ended: true when the run is stopped; a Stop that waited for this move
// ends the run now.
bool ZStackWidget::stoppedAfterMove()
{
    m_nPendingMove = MOVE_NONE;
    m_AnswerTimer.stop();
    if (m_bEndAfterMove) {
        m_bEndAfterMove = false;
        completedZStacking();
        return true;
    }
    return m_bStop;
}

void ZStackWidget::slotOKClicked()
{
    m_bAutoRun = false;
    if (!m_pProgressDlg)
        return;
    disconnect(m_pProgressDlg, &MessageDlg::signalOKClicked, this, &ZStackWidget::slotOKClicked);
    m_bStop = true;
    endStack();
}

void ZStackWidget::on_BUTTON_Z_STACK_STOP_clicked()
{
    slotOKClicked();
}

// Ends a stopped run once nothing is under way: a move in flight is waited for (its end is never
// taken for the return's), a pending position answer ends the run when it comes.
void ZStackWidget::endStack()
{
    if (m_nCurrentState != ZSTACK_STACKING || m_bReturnStarted || m_bStackStartPending)
        return; // a stack about to begin ends as it begins
    if (movePending()) {
        m_bEndAfterMove = true;
        return;
    }
    if (m_nMotorRequest == 2)
        return;
    completedZStacking();
}

void ZStackWidget::completedZStacking()
{
    // A loaded stack has no stage position to return to.
    if (ui->RADIO_RANGE->isChecked() && !m_bReturnStarted && !m_bLoading) {
        m_bReturnStarted = true;
        requestPosition(4);
        return;
    }
    m_AnswerTimer.stop();
    m_nMotorRequest = -1;
    m_nPendingMove = MOVE_NONE;
    m_bMovingToStart = m_bReturning = m_bAwaitingFrame = m_bEndAfterMove = false;
    m_nLastRunMs = m_RunClock.isValid() ? m_RunClock.elapsed() : 0;
    emit signalEnablePullingCommand(true);
    if (m_pProgressDlg) {
        m_pProgressDlg->close();
        m_pProgressDlg->deleteLater();
    }
    std::vector<ThumbnailInfo> &slices = m_ZStack.thumbnails();
    if (slices.empty() && !m_bLoading && !m_StackName.isEmpty())
        QDir().rmdir(stackFolder()); // a run that kept no slice leaves no folder (a folder with files stays)
    ui->SLIDER_Z_STACK->setRange(0, std::max(0, int(slices.size()) - 1));
    m_bStackHeld = true;
    emit signalEndZStacking();
    emit lightOff();
    emit liveMode(false);

    m_ZStack.completed();
    emit completed(slices);
    ui->SLIDER_Z_STACK->setValue(0);
    m_bSliderMovedByUser = false;
    m_nCurrentState = ZSTACK_COMPLETED;
    emit captured(true);
    emit saved(false);
    changeState();
    updatePositionStamp(); // the stamp follows the slice the browser shows
    if (m_bTimedOut)
        emit signalEnableControlWidgetUI(true); // the user may need the panel to see what went wrong
    if (!m_bLoading) // a load wrote nothing
        clearDirtyMemory();

    const bool mergeNow = m_bMergeFed && !m_bLoading && m_pFullFocusThread && ui->CHKBOX_FULL_FOCUS->isChecked();
    m_bMergeFed = false;
    const int sliceCount = int(slices.size());
    if (mergeNow && sliceCount > kMaxMergeSlices) {
        FullFocus_Free();
        ThumbnailInfo none;
        emit completedFullFocus(false, none);
        showText(kMergeLimit);
    } else if (mergeNow && sliceCount >= 2) {
        // The merge reports completedFullFocus itself.
        m_MergedPath = QStringLiteral("%1/%2/%3").arg(m_SavePath, m_StackName, m_StackName);
        startFullFocusThread();
        runMergeProgress(sliceCount);
    } else {
        FullFocus_Free();
        ThumbnailInfo merged;
        ImReaderWriter mergedImage;
        const bool found = m_bLoading && !m_MergedPath.isEmpty() && mergedImage.read(m_MergedPath.toUtf8());
        if (found) {
            merged.thumbnail = ImageThumbnail::make(mergedImage, g_PseudoColorTable[7], QSize(132, 100));
            merged.path = m_MergedPath;
        }
        emit completedFullFocus(found, merged);
    }
}

// ---------------------------------------------------------------------------------------------
// The held stack: position stamp, annotation texts, saving it elsewhere, loading one

void ZStackWidget::updatePositionStamp()
{
    const std::vector<ThumbnailInfo> &slices = m_ZStack.thumbnails();
    const int n = int(slices.size());
    if (n == 0)
        return;
    const int c = ui->SLIDER_Z_STACK->value();
    const QString current = c >= 0 && c < n ? ZStackPositionText::ofFile(slices[size_t(c)].path) : QString();
    const QString first = ZStackPositionText::ofFile(slices.front().path);
    const QString last = ZStackPositionText::ofFile(slices.back().path);
    const bool full = !current.isEmpty() && !first.isEmpty() && !last.isEmpty();
    ui->LABEL_POS_STAMP->setText(
        ZStackPositionText::text(full ? current : QString(), ZStackPositionText::span(first, last), c + 1, n));
}

void ZStackWidget::makeAnnotationList(const std::vector<ThumbnailInfo> &slices, QStringList &out)
{
    out.clear();
    if (slices.empty())
        return;
    const int n = int(slices.size());
    const QString span = ZStackPositionText::span(ZStackPositionText::ofFile(slices.front().path),
                                                  ZStackPositionText::ofFile(slices.back().path));
    for (int i = 0; i < n; ++i)
        out << ZStackPositionText::text(ZStackPositionText::ofFile(slices[size_t(i)].path), span, i + 1, n);
}

void ZStackWidget::prepareSaveDialog(SaveOptionsDlg &dialog, int option)
{
    dialog.setCurrentSaveOption(TSaveOption(option), true, SUB_OPTION_NONE);
    dialog.setImageBits(m_nImageBits);
    dialog.setFilterColorIndex(m_nFilterColorIndex);
    dialog.setDrawingScaleBar(ui->CHKBOX_SCALEBAR->isChecked(), m_nObjectivePosition);
    dialog.m_ScaleBarPoint = m_ScaleBarPoint;
    dialog.m_AnnotationTextInfo = m_AnnotationTextInfo;
}

void ZStackWidget::on_BUTTON_SAVE_IMAGE_clicked()
{
    const std::vector<ThumbnailInfo> &slices = m_ZStack.thumbnails();
    QStringList paths;
    for (const ThumbnailInfo &slice : slices)
        paths << slice.path;
    if (paths.isEmpty()) {
        showMessage(MSG_NO_SELECTED_IMAGE);
        return;
    }
    QStringList texts;
    makeAnnotationList(slices, texts);
    // The browser answers at once: the copies below are its current bar and text.
    emit getScaleBarPoint();
    emit getAnnotationTextInfo();
    {
        SaveOptionsDlg dialog(nullptr, false);
        prepareSaveDialog(dialog, SAVE_OPTION_ZSTACK_IMAGES);
        dialog.setLoadImagePathList(paths, texts);
        dialog.exec();
    }
    emit saved(true);
}

void ZStackWidget::on_BUTTON_SAVE_VIDEO_clicked()
{
    if (SeriesVideoExporter::checkEncoderAndSpace(int(m_ZStack.thumbnails().size())))
        emit saveVideo();
}

int ZStackWidget::runStackSaveDialog(bool quickSave)
{
    emit getScaleBarPoint();
    emit getAnnotationTextInfo();
    SaveOptionsDlg dialog(nullptr, quickSave);
    prepareSaveDialog(dialog, SAVE_OPTION_ZSTACK);
    dialog.generateCapturedImageMetaData();
    return dialog.exec();
}

void ZStackWidget::on_BUTTON_SAVE_BEFORE_clicked()
{
    if (runStackSaveDialog(false) != 1)
        return;
    m_bSaved = true;
    m_bFirstTime = false;
    emit saved(true);
    ui->BUTTON_SAVE_BEFORE->hide();
}

void ZStackWidget::on_BUTTON_SAVE_AFTER_clicked()
{
    runStackSaveDialog(false);
}

void ZStackWidget::slotAutoSave()
{
    const int remaining = ui->SPINBOX_AUTORUN->value();
    if (remaining < 2) {
        m_bAutoRun = false;
        return;
    }
    if (ui->CHECK_AUTORUN_SAVE->isChecked() && (!m_bAutoRun || runStackSaveDialog(true) != 1))
        return;
    ui->SPINBOX_AUTORUN->setValue(remaining - 1);
    if (m_bAutoRun)
        QTimer::singleShot(3000, this, &ZStackWidget::on_BUTTON_NEXT_Z_STACK_clicked);
}

void ZStackWidget::on_BUTTON_LOAD_IMAGE_clicked()
{
    const bool stopVideo = m_nCurrentState != ZSTACK_COMPLETED;
    if (stopVideo) {
        m_bPathDialogOpen = true;
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
        m_bPathDialogOpen = false;
    }
    if (accepted)
        loadStack(folder);
}

void ZStackWidget::loadStack(const QString &folder)
{
    m_LoadList = ImageSeriesFiles::tiffFiles(folder);
    if (m_LoadList.isEmpty()) {
        showMessage(MSG_NO_IMAGE_FILES);
        return;
    }
    setCursor(Qt::WaitCursor);
    emit lightOff();
    // The slider runs upward: inverted when the stack was stored from its top down.
    bool inverted = false;
    if (m_LoadList.size() >= 2) {
        const QString first = ZStackPositionText::ofFile(m_LoadList[0].absoluteFilePath());
        const QString second = ZStackPositionText::ofFile(m_LoadList[1].absoluteFilePath());
        inverted = !first.isEmpty() && !second.isEmpty()
                   && ZStackPositionText::micrometres(first) > ZStackPositionText::micrometres(second);
    }
    ui->SLIDER_Z_STACK->setInvertedAppearance(inverted);
    ui->SLIDER_Z_STACK->setInvertedControls(inverted);
    setCursor(Qt::ArrowCursor);

    m_MergedPath.clear();
    m_bLoadAbort = false;
    QTimer::singleShot(500, this, &ZStackWidget::slotLoadImages);
    m_pLoadingDlg = new TimeLapseProgressDlg;
    m_pLoadingDlg->setMessage(kLoadingText);
    m_pLoadingDlg->setSignalMode(true);
    m_pLoadingDlg->setTotalCount(m_LoadList.size());
    connect(m_pLoadingDlg, &TimeLapseProgressDlg::signalOKClicked, this, &ZStackWidget::slotStopClicked);
    m_pLoadingDlg->exec();
    if (m_pLoadingDlg)
        m_pLoadingDlg->deleteLater();
}

void ZStackWidget::slotLoadImages()
{
    m_ZStack.clearThumbnails();
    m_pLoadReader = std::make_unique<ImReaderWriter>();
    for (int i = 0; i < m_LoadList.size() && !m_bLoadAbort; ++i) {
        const QFileInfo &file = m_LoadList[i];
        if (file.absoluteFilePath().endsWith(QLatin1String("_merged.tif")))
            m_MergedPath = file.absoluteFilePath();
        else if (ThumbnailInfo slice; ImageSeriesFiles::loadFrame(file, *m_pLoadReader, QSize(132, 100), slice))
            m_ZStack.pushThumbnail(slice);
        if (m_pLoadingDlg) {
            m_pLoadingDlg->setCurrentCount(i + 1);
            qProcessEvents(); // lets Stop through
        }
    }
    m_pLoadReader.reset();
    if (m_pLoadingDlg) {
        m_pLoadingDlg->close();
        m_pLoadingDlg->deleteLater();
    }
    // A loaded stack ends like a taken one.
    m_bLoading = true;
    completedZStacking();
    m_bLoading = false;
}

void ZStackWidget::slotStopClicked()
{
    m_bLoadAbort = true;
}

// ---------------------------------------------------------------------------------------------
// The extended-focus merge of the held stack (or of the stack just taken, in the QC test mode)

void ZStackWidget::on_BUTTON_FULL_FOCUS_clicked()
{
    const int n = int(m_ZStack.thumbnails().size());
    if (n > kMaxMergeSlices) {
        showText(kMergeLimit);
        return;
    }
    if (n == 0) {
        showMessage(40);
        return;
    }
    {
        MergeFocusDlg dialog;
        dialog.setDefaultParam(m_nMergeKernel, m_nFilterColorIndex, n);
        if (dialog.exec() != QDialog::Accepted)
            return;
        dialog.getParam(m_nMergeKernel, m_nMergeColor);
    }
    QTimer::singleShot(200, this, &ZStackWidget::slotRunFullFocus);
    runMergeProgress(n);
}

// The modal merge progress: ticks at the estimate's pace, Stop ends the merge. The merge's end
// closes it; when it returns the thread is freed.
void ZStackWidget::runMergeProgress(int total)
{
    m_nProgressTick = 0;
    m_ProgressTimer.start(MergeFocusDlg::secondsPerSlice(m_nMergeKernel) * 1000);
    m_pMergeProgressDlg = new TimeLapseProgressDlg;
    m_pMergeProgressDlg->setCurrentCount(0);
    m_pMergeProgressDlg->setTotalCount(total);
    m_pMergeProgressDlg->setSignalMode(true);
    connect(m_pMergeProgressDlg, &TimeLapseProgressDlg::signalOKClicked, this, &ZStackWidget::slotStopMergingClicked);
    m_pMergeProgressDlg->setMessage(kMergingText);
    const QPointer<ZStackWidget> self(this);
    m_pMergeProgressDlg->exec();
    if (!self)
        return; // the window closed while the box was open: the page's end stopped the merge
    m_ProgressTimer.stop();
    if (m_pMergeProgressDlg)
        m_pMergeProgressDlg->deleteLater();
    // A box that went before the merge's end (the application ending) leaves no merge running
    // and no page disabled behind it.
    FullFocus_Free();
    setEnabled(true);
}

void ZStackWidget::slotRunFullFocus()
{
    if (!m_pMergeProgressDlg)
        return; // the progress box has already gone: nobody waits for this merge
    if (loadImagesforFullFocus()) {
        startFullFocusThread();
        return;
    }
    m_ProgressTimer.stop();
    if (m_pMergeProgressDlg) {
        m_pMergeProgressDlg->close();
        m_pMergeProgressDlg->deleteLater();
    }
    showText(QStringLiteral("Merge focus Failed."));
}

bool ZStackWidget::loadImagesforFullFocus()
{
    createFullFocusThread();
    const std::vector<ThumbnailInfo> &slices = m_ZStack.thumbnails();
    if (slices.empty())
        return false;
    ImReaderWriter image;
    cv::Mat grey8(kFrameHeight, kFrameWidth, CV_8UC1);
    for (const ThumbnailInfo &slice : slices) {
        if (!image.read(QFile::encodeName(slice.path)))
            return false;
        if (image.width != quint32(kFrameWidth) || image.height != quint32(kFrameHeight)
            || (image.samplesPerPixel != 1 && image.samplesPerPixel != 3)) {
            qDebug() << "===Image Data Error!";
            return false;
        }
        const bool sixteen = image.bitsPerSample == 16;
        void *data = image.data(sixteen ? 16 : 8);
        if (!data) {
            qDebug() << "===Image Data Error!";
            return false;
        }
        const int depth = sixteen ? CV_16U : CV_8U;
        cv::Mat plane(kFrameHeight, kFrameWidth, CV_MAKETYPE(depth, int(image.samplesPerPixel)), data);
        if (image.samplesPerPixel == 3)
            cv::cvtColor(plane, plane, cv::COLOR_RGB2GRAY);
        if (sixteen)
            plane.convertTo(grey8, CV_8U, 255.0 / 4094.0);
        else
            plane.copyTo(grey8);
        m_pFullFocusThread->set_load_image(grey8.data, kFrameWidth, kFrameHeight);
    }
    const QDir folder = QFileInfo(slices.front().path).absoluteDir();
    m_MergedPath = QStringLiteral("%1/%2").arg(folder.absolutePath(), folder.dirName());
    return true;
}

void ZStackWidget::createFullFocusThread()
{
    FullFocus_Free();
    m_pFullFocusThread = new FullFocusThread;
    m_pFullFocusThread->free_load_image();
    connect(m_pFullFocusThread, &FullFocusThread::FinishFullCocus, this, &ZStackWidget::slot_FinishFullFocus);
    connect(m_pFullFocusThread, &QThread::finished, m_pFullFocusThread, &QObject::deleteLater);
}

void ZStackWidget::startFullFocusThread()
{
    if (!m_pFullFocusThread)
        return;
    setEnabled(false);
    WritePrivateProfileString(kSection, "MatchingSize", QString("%1").arg(m_nMergeKernel).toStdString(), configFile());
    WritePrivateProfileString(kSection, "MergeColor", QString("%1").arg(m_nMergeColor).toStdString(), configFile());
    m_pFullFocusThread->set_param(m_nMergeKernel, ui->SPINBOX_NR_KERNEL_MEDIAN->value(),
                                  ui->SPINBOX_NR_KERNEL_MEAN->value(), ui->SPINBOX_SOBEL_EDGE->value(),
                                  ui->CHKBOX_SR->isChecked(), float(ui->SPINBOX_SCALE_FACTOR->value()),
                                  ui->SPINBOX_PATCH_SIZE->value(), ui->SPINBOX_PATCH_MOVING->value(),
                                  ui->SPINBOX_FREQ_WEIGHT->value());
    m_pFullFocusThread->start(QThread::InheritPriority);
    m_pFullFocusThread->setPriority(QThread::HighestPriority);
}

void ZStackWidget::FullFocus_Free()
{
    if (!m_pFullFocusThread)
        return;
    FullFocusThread *thread = m_pFullFocusThread;
    m_pFullFocusThread = nullptr;
    disconnect(thread, nullptr, this, nullptr);
    delete thread; // stops a merge under way
}

void ZStackWidget::slotUpdateProgressbar()
{
    if (m_pMergeProgressDlg && m_nProgressTick < m_pMergeProgressDlg->getTotalCount())
        m_pMergeProgressDlg->setCurrentCount(++m_nProgressTick);
}

void ZStackWidget::slotStopMergingClicked()
{
    if (!m_pMergeProgressDlg || !m_pFullFocusThread)
        return;
    disconnect(m_pFullFocusThread, &FullFocusThread::FinishFullCocus, this, &ZStackWidget::slot_FinishFullFocus);
    disconnect(m_pMergeProgressDlg, &TimeLapseProgressDlg::signalOKClicked, this, &ZStackWidget::slotStopMergingClicked);
    m_ProgressTimer.stop();
    m_pMergeProgressDlg->setMessage(kStoppingMerge);
    m_pMergeProgressDlg->repaint();
    if (m_pFullFocusThread->isRunning()) {
        m_pFullFocusThread->requestInterruption();
        m_pFullFocusThread->wait();
    }
    FullFocus_Free();
    m_pMergeProgressDlg->close();
    m_pMergeProgressDlg->deleteLater();
    setEnabled(true);
}

void ZStackWidget::slot_FinishFullFocus(bool bSuccess)
{
    m_ProgressTimer.stop();
    if (m_pMergeProgressDlg)
        m_pMergeProgressDlg->setCurrentCount(m_pMergeProgressDlg->getTotalCount());
    setCursor(Qt::ArrowCursor);

    // The result is taken before anything below can run a nested event loop.
    cv::Mat grey(kFrameHeight, kFrameWidth, CV_8UC1);
    bool haveResult = false;
    if (bSuccess && m_pFullFocusThread) {
        m_pFullFocusThread->wait(); // the signal comes at the very end of run()
        haveResult = m_pFullFocusThread->get_result_image(grey.data);
    }

    ThumbnailInfo entry;
    bool written = false;
    if (haveResult) {
        const QString file = QString::asprintf("%s_merged.%s", qPrintable(m_MergedPath), "tif");
        ImReaderWriter image;
        bool loaded;
        if (m_nMergeColor == MergeFocusDlg::kMonochrome) {
            loaded = image.load(grey.data, kFrameWidth, kFrameHeight, 8, 1, 1, 1, 1);
        } else {
            std::vector<uchar> rgb(size_t(SaveImageComposer::frameBytes(8, true)));
            makePseudoColorImage(grey.data, int(rgb.size()), rgb.data(), 8, 1, m_nMergeColor);
            loaded = image.load(rgb.data(), kFrameWidth, kFrameHeight, 8, 3, 1, 2, 1);
        }
        // The thumbnail comes from the file as written: a file that does not read back is a failure.
        ImReaderWriter back;
        if (loaded && image.write(QFile::encodeName(file), capturedImageMetaData().metaText().toUtf8())
            && back.read(QFile::encodeName(file))) {
            entry.thumbnail = ImageThumbnail::make(back, g_PseudoColorTable[7], QSize(132, 100));
            entry.path = file;
            written = !entry.thumbnail.isNull();
            m_MergedPath = file;
        }
    }
    m_bMergeWritten = written;
    if (!written)
        showText(QStringLiteral("Failed to create full focused image."));
    emit completedFullFocus(written, entry);
    if (m_pMergeProgressDlg) {
        m_pMergeProgressDlg->close();
        m_pMergeProgressDlg->deleteLater();
    }
    setEnabled(true);
}

void ZStackWidget::makePseudoColorImage(const void *source, int byteCount, uchar *destination, int bits,
                                        int colourOn, int colourIndex) const
{
    if (bits == -1)
        bits = m_nImageBits;
    if (colourOn == -1)
        colourOn = m_nFilterPosition;
    if (colourIndex == -1)
        colourIndex = m_nFilterColorIndex;
    SaveImageComposer composer;
    composer.pseudoColorIndex = colourOn && colourIndex >= 0 && colourIndex <= 4 ? colourIndex : 7;
    const int frame = SaveImageComposer::frameBytes(bits == 16 ? 16 : 8, true);
    if (byteCount >= frame) {
        composer.makePseudoColorImage(source, frame, destination);
        return;
    }
    std::vector<uchar> whole(size_t(frame), 0);
    composer.makePseudoColorImage(source, frame, whole.data());
    std::memcpy(destination, whole.data(), size_t(std::max(0, byteCount)));
}

TimeLapseProgressDlg *ZStackWidget::mergeProgress() const
{
    return m_pMergeProgressDlg;
}

FullFocusThread *ZStackWidget::fullFocusThread() const
{
    return m_pFullFocusThread;
}
