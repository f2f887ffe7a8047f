#include "SetupDlg.h"

#include "CameraTables.h"
#include "DirectoryDialog.h"
#include "ErrorReportDlg.h"
#include "KeyboardDlg.h"
#include "LicenseAgreementDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SoftwareUpdateDlg.h"
#include "SystemActions.h"
#include "Utilities.h"
#include "ui_SetupDlg.h"

#include <QApplication>
#include <QDate>
#include <QDebug>
#include <QComboBox>
#include <QAbstractItemView>
#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPixmap>
#include <QStyledItemDelegate>

#include <cmath>
#include <cstdlib>
#include <locale>
#include <sstream>

namespace {

const QString kQuicksavePath = "/media/VANTOR SSD/Quicksave/";
const int kClockTimeoutMs = 30000;
const int kRouteTimeoutMs = 30000;
const int kDhcpTimeoutMs = 120000;
const int kPingTimeoutMs = 60000;
const int kNameLength = 30;
// The filter cubes of a new instrument, by turret position.
const QString kNotSaved = QStringLiteral("<p><b>Error!</b><br/><br/>The settings could not be saved.</p>");
const char *const kDefaultFilterNames[] = {"Trans", "GFP", "RFP", "DAPI"};

std::string configFile()
{
    return Paths::configFile().toStdString();
}

QString readKey(const char *section, const char *key, const char *def, const std::string &file = configFile())
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, file);
    return QString::fromStdString(value);
}

// The integer at the start of a text (blanks and a sign allowed, 0 when there is none), as C's
// strtol reads it, brought into the range of int.
int toInt(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const long value = std::strtol(bytes.constData(), nullptr, 10);
    return int(qBound<long>(INT_MIN, value, INT_MAX));
}

// The real number at the start of a text with "." as the decimal point whatever the locale; 0
// when there is none.
double toReal(const QString &text)
{
    std::istringstream in(text.trimmed().toStdString());
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    return in.fail() || !std::isfinite(value) ? 0.0 : value;
}

QString realText(double value)
{
    return QString::number(value, 'g', 6);
}

// Selects the item with exactly this text; a text that is no item leaves the combo as it was.
void selectText(QComboBox *combo, const QString &text)
{
    const int row = combo->findText(text);
    if (row >= 0)
        combo->setCurrentIndex(row);
}

// Focus memories 1 to 5 unset, with their default descriptions.
std::vector<PrivateProfileEntry> clearedFocusMemories()
{
    std::vector<PrivateProfileEntry> entries;
    for (int i = 1; i <= 5; ++i)
        entries.push_back({"FocusMemory", std::to_string(i), "-1"});
    for (int i = 1; i <= 5; ++i)
        entries.push_back({"FocusMemoryDesc", std::to_string(i), "Position " + std::to_string(i)});
    return entries;
}

void fillColorCombo(QComboBox *combo, int count)
{
    for (int i = 0; i < count; ++i) {
        QPixmap square(40, 40);
        square.fill(g_ColorTable[i]);
        combo->addItem(QIcon(square), g_ColorNameList[i]);
    }
}

} // namespace

SetupDlg::SetupDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags), ui(new Ui_SetupDlg)
{
    ui->setupUi(this);
    setGeometry(1542, 60, 378, 1020);
    m_bLiveMode = false;
    initialize();
    readSetting();
    m_bFactoryReset = false;
    // Choice lists open in text and rows large enough for a finger: each entry carries its font,
    // and a styled delegate follows the form's row height.
    const QFont listFont(QStringLiteral("DejaVu Sans"), kChoiceListPointSize);
    const QFontMetrics metrics(listFont);
    for (QComboBox *combo : findChildren<QComboBox *>()) {
        combo->setItemDelegate(new QStyledItemDelegate(combo));
        int widest = 0;
        for (int row = 0; row < combo->count(); ++row) {
            combo->setItemData(row, listFont, Qt::FontRole);
            widest = qMax(widest, metrics.horizontalAdvance(combo->itemText(row)));
        }
        combo->view()->setMinimumWidth(widest + kChoiceListPadding); // entries whole, not elided
    }
}

SetupDlg::~SetupDlg()
{
    if (m_WLANMonitor.isRunning())
        m_WLANMonitor.stop();
    delete ui;
}

// ---------------------------------------------------------------------------------------------
// Set-up and choice lists

void SetupDlg::initialize()
{
    ui->COMMON_SETTING_TOOLBOX->setCurrentIndex(0);
    ui->FEATURE_TOOLBOX->setCurrentIndex(0);
    ui->HOUR_SPINBOX->setRange(0, 23);
    ui->MINU_SPINBOX->setRange(0, 59);
    ui->HOUR_SPINBOX->setSingleStep(1);
    ui->MINU_SPINBOX->setSingleStep(1);

    setUIFilterColorComboBox(ui->COMB_CH2_FILTER_COLOR);
    setUIFilterColorComboBox(ui->COMB_CH3_FILTER_COLOR);
    setUIFilterColorComboBox(ui->COMB_CH4_FILTER_COLOR);
    setUILensComboBox();
    setUIFineAFComboBox();
    setUIFontThicknessComboBox();
    setUIFontColorComboBox();
    setUILineThicknessComboBox();
    setUILineColorComboBox();

    // Name fields open the keypad on a press; a touch on a spin box's number does (its arrows keep
    // stepping); a touch on the date and time hands them to the user.
    for (const KeypadField &keypad : keypadFields()) {
        if (!qobject_cast<QAbstractSpinBox *>(keypad.field)) {
            keypad.field->installEventFilter(this);
            continue;
        }
        for (QObject *child : keypad.field->children()) {
            if (auto *edit = qobject_cast<QLineEdit *>(child)) {
                edit->installEventFilter(this);
                break;
            }
        }
    }
    for (QWidget *field : {ui->YEAR_SPINBOX, ui->MONTH_SPINBOX, ui->DAY_SPINBOX, ui->HOUR_SPINBOX, ui->MINU_SPINBOX})
        field->installEventFilter(this);

    for (int row = 0; row < kExposureRows; ++row)
        ui->COMBO_HOTPIXEL_EX->addItem(QString::number(ExposureLUT8[row][0]), row);
    selectText(ui->COMBO_HOTPIXEL_EX, "3000");

    if (g_CurrentMenu == MENU_MULTICOLOR || g_CurrentMenu == MENU_ZSTACK)
        ui->FEATURE_TOOLBOX->setCurrentIndex(int(g_CurrentMenu));
    ui->LABEL_SLIDESHOW->hide();
    ui->SLIDESHOW_INTERVAL_COMBOBOX->hide();

    ui->SPINBOX_FOCUS_FINE_SPEED->setMinimum(5);
    ui->SPINBOX_FOCUS_FINE_SPEED->setSingleStep(5);
    ui->LABEL_FOCUS_FINE_SPEED->setText(QString("Fine focus speed (%1-100)").arg(5));
    const QString micrometre = QString::fromUtf8("\u00b5m");
    ui->LABEL_PLUS_MINUS->setText(QString::fromUtf8("\u00b1"));
    ui->LABEL_COARSE_RESOLUTION->setText(QString("Coarse focus resolution (1-100 %1)").arg(micrometre));
    ui->LABEL_FINE_RESOLUTION->setText(QString("Fine focus resolution (0.05-1.00 %1)").arg(micrometre));
}

QList<QLineEdit *> SetupDlg::filterFields() const
{
    return {ui->EDIT_FILTER_POSITION_0, ui->EDIT_FILTER_POSITION_1, ui->EDIT_FILTER_POSITION_2, ui->EDIT_FILTER_POSITION_3};
}

QList<QComboBox *> SetupDlg::filterColorCombos() const
{
    return {ui->COMB_CH2_FILTER_COLOR, ui->COMB_CH3_FILTER_COLOR, ui->COMB_CH4_FILTER_COLOR};
}

QList<QComboBox *> SetupDlg::lensCombos() const
{
    return {ui->COMBO_LENS_POSITION_0, ui->COMBO_LENS_POSITION_1, ui->COMBO_LENS_POSITION_2, ui->COMBO_LENS_POSITION_3,
            ui->COMBO_LENS_POSITION_4};
}

QList<QComboBox *> SetupDlg::brandCombos() const
{
    return {ui->COMBO_LENS_TYPE_0, ui->COMBO_LENS_TYPE_1, ui->COMBO_LENS_TYPE_2, ui->COMBO_LENS_TYPE_3, ui->COMBO_LENS_TYPE_4};
}

QList<QLineEdit *> SetupDlg::lensNoteFields() const
{
    return {ui->EDIT_LENS_NAME_1, ui->EDIT_LENS_NAME_2, ui->EDIT_LENS_NAME_3, ui->EDIT_LENS_NAME_4, ui->EDIT_LENS_NAME_5};
}

QList<QDoubleSpinBox *> SetupDlg::apertureBoxes() const
{
    return {ui->SPINBOX_LENS_NA_1, ui->SPINBOX_LENS_NA_2, ui->SPINBOX_LENS_NA_3, ui->SPINBOX_LENS_NA_4, ui->SPINBOX_LENS_NA_5};
}

void SetupDlg::setUIFilterColorComboBox(QComboBox *&combo)
{
    fillColorCombo(combo, 5);
}

void SetupDlg::setUILensComboBox()
{
    static const QStringList lenses = {"1.25X", "2X", "2.5X", "4X", "10X", "20X", "25X",
                                       "40X", "50X", "60X", "63X", "100X", "N/A"};
    static const QStringList brands = {"Quorva", "Olympus", "Zeiss"};
    const QList<QComboBox *> positions = lensCombos();
    const QList<QComboBox *> types = brandCombos();
    for (int i = 0; i < positions.size(); ++i) {
        positions[i]->addItems(lenses);
        types[i]->addItems(brands);
    }
}

// Editable so that a stored range that is none of the items shows as stored, read-only so that
// the user can only pick from the list.
void SetupDlg::setUIFineAFComboBox()
{
    QComboBox *combo = ui->COMBO_FOCUS_FINE_AF_RANGE;
    combo->setEditable(true);
    QLineEdit *edit = combo->lineEdit();
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignRight);
    edit->setFont(combo->font());
    edit->setStyleSheet("QLineEdit {background-color: rgb(62,58, 57); border-width: 0px; color: white;}"
                        "QLineEdit::disabled {background-color: rgb(62,58, 57); border-width: 0px; color: rgb(98,98,98);}");
    combo->clear();
    combo->addItems({"3", "5", "10", "20"});
    for (int i = 0; i < combo->count(); ++i)
        combo->setItemData(i, int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
}

void SetupDlg::setUIFontThicknessComboBox()
{
    ui->COMB_FONT_THICKNESS->clear();
    ui->COMB_FONT_THICKNESS->addItems(g_FontSizeList);
}

void SetupDlg::setUIFontColorComboBox()
{
    fillColorCombo(ui->COMB_FONT_COLOR, kColorTableSize);
}

void SetupDlg::setUILineThicknessComboBox()
{
    ui->COMB_LINE_THICKNESS->clear();
    ui->COMB_LINE_THICKNESS->addItems(g_LineWidthList);
}

void SetupDlg::setUILineColorComboBox()
{
    fillColorCombo(ui->COMB_LINE_COLOR, kColorTableSize);
}

// ---------------------------------------------------------------------------------------------
// Reading and writing the configuration file

void SetupDlg::readSetting()
{
    m_bChangedCameraMode = false;
    m_bCanClose = false;
    m_bSaved = false;
    m_bDateTimeEdited = false;
    // A factory reset reaches the OK of its own opening only.
    m_bFactoryReset = false;

    const QString version = readKey("NIMBO", "Version", "");
    const QString firmware = readKey("NIMBO", "Firmware", "");
    const QString osVersion = readKey("OS", "Version", "", Paths::path("/root/Microscope/Microscope.ini").toStdString());
    ui->SW_VERSION_LABEL->setText(version + " / " + firmware + " / " + osVersion);
    const float osNumber = firmwareVer(osVersion);
    ui->SW_SERIAL_LABEL->setText(readKey("NIMBO", "Serial", ""));

    // The depth last chosen here; a missing, empty or bad one reads as [Camera] Mode.
    m_CameraMode = toInt(readKey("Camera", "PreviousMode", "8"));
    (m_CameraMode == 16 ? ui->RADIO_16BIT : ui->RADIO_8BIT)->setChecked(true);
    ui->CHKBOX_SATURATED_PIXEL->setChecked(toInt(readKey("Camera", "SaturatedPixel", "0")) != 0);
    ui->CHKBOX_HOTPIXEL_ENABLED->setChecked(toInt(readKey("Camera", "HotPixelEnable", "0")) != 0);
    ui->SPINBOX_HOTPIXEL->setValue(toInt(readKey("Camera", "Threshold", "60")));
    ui->COMBO_HOTPIXEL_EX->setCurrentIndex(qMax(0, ui->COMBO_HOTPIXEL_EX->findData(toInt(readKey("Camera", "HotPixelEx", "31")))));

    const QList<QLineEdit *> filters = filterFields();
    for (int i = 0; i < filters.size(); ++i)
        filters[i]->setText(readKey("Filter", QByteArray::number(i), ""));
    const QList<QComboBox *> filterColors = filterColorCombos();
    const char *colorDefaults[] = {"1", "0", "2"};
    for (int i = 0; i < filterColors.size(); ++i)
        filterColors[i]->setCurrentIndex(toInt(readKey("FilterColor", QByteArray::number(i + 1), colorDefaults[i])));

    const QList<QComboBox *> lenses = lensCombos(), brands = brandCombos();
    const QList<QLineEdit *> notes = lensNoteFields();
    const QList<QDoubleSpinBox *> apertures = apertureBoxes();
    const char *apertureDefaults[] = {"0.13", "0.3", "0.4", "0.6", "1"};
    for (int i = 0; i < 5; ++i)
        selectText(lenses[i], readKey("Lens", QByteArray::number(i + 1), "").toUpper());
    for (int i = 0; i < 5; ++i)
        selectText(brands[i], readKey("LensType", QByteArray::number(i + 1), "Quorva"));
    for (int i = 0; i < 5; ++i)
        notes[i]->setText(readKey("LensName", QByteArray::number(i + 1), ""));
    for (int i = 0; i < 5; ++i)
        apertures[i]->setValue(toReal(readKey("LensNA", QByteArray::number(i + 1), apertureDefaults[i])));

    (toInt(readKey("Focus", "Knob", "0")) == 1 ? ui->RADIO_KNOB_MODE_2 : ui->RADIO_KNOB_MODE_1)->setChecked(true);
    ui->SPINBOX_FOCUS_COARSE_SPEED->setValue(toInt(readKey("Focus", "CoarseSpeed", "350")));
    ui->SPINBOX_FOCUS_FINE_SPEED->setValue(toInt(readKey("Focus", "FineSpeed", "5")));
    ui->SPINBOX_FOCUS_COARSE_STEP_SIZE->setValue(toInt(readKey("Focus", "CoarseStepSize", "1")));
    const float fineStep = float(toReal(readKey("Focus", "FineStepSize", "0.05")));
    ui->SPINBOX_FOCUS_FINE_STEP_SIZE->setValue(fineStep < 0.05f ? 0.05 : fineStep);
    ui->COMBO_FOCUS_FINE_AF_RANGE->setEditText(readKey("Focus", "FineAFRange", "5"));
    ui->SPINBOX_DOF_FACTOR->setValue(toReal(readKey("Focus", "DOF_Factor", "0.5")));

    ui->COMB_LINE_THICKNESS->setCurrentIndex(toInt(readKey("Setting_MultiColor", "LineThickness", "0")));
    ui->COMB_LINE_COLOR->setCurrentIndex(toInt(readKey("Setting_MultiColor", "LineColor", "1")));
    selectText(ui->COMB_FONT_THICKNESS, readKey("Setting_MultiColor", "FontThickness", "24"));
    ui->COMB_FONT_COLOR->setCurrentIndex(toInt(readKey("Setting_MultiColor", "FontColor", "1")));
    ui->CHKBOX_AUTO_SAVE->setChecked(toInt(readKey("Setting_MultiColor", "Autosave", "0")) != 0);
    m_SavePath = readKey("Setting_MultiColor", "AutosavePath", "");
    if (m_SavePath.trimmed().isEmpty())
        m_SavePath = kQuicksavePath;
    showSavePath();
    on_CHKBOX_AUTO_SAVE_clicked();

    ui->SPINBOX_REDUCTION_RATIO->setValue(toReal(readKey("ScaleBar", "ReductionLensMagnification", "0.655")));
    ui->SPINBOX_STABLE_TIME_INTERVAL->setValue(toReal(readKey("Setting_ZStack", "StableTimeInterval", "0.1")));
    ui->SPINBOX_STABLE_Z_SPEED->setValue(toInt(readKey("Setting_ZStack", "StableZSpeed", "100")));
    ui->SPINBOX_LENS_POS_DELAY->setValue(toReal(readKey("LensPos", "Delay", "0.5")));
    ui->SPINBOX_LENS_POS_SPEED->setValue(toInt(readKey("LensPos", "Speed", "700")));
    ui->CHKBOX_SHOW_WELCOME->setChecked(toInt(readKey("Setting_Misc", "ShowStartDlg", "1")) != 0);
    ui->SPINBOX_ACCEL->setValue(toInt(readKey("Setting_Misc", "Accel", "700")));
    ui->SPINBOX_REDUCTION->setValue(toReal(readKey("Setting_Misc", "Reduction", "1")));
    ui->SPINBOX_AF_OFFSET->setValue(toInt(readKey("Setting_Misc", "AF_Offset", "20")));
    ui->SPINBOX_CELL_SIZE_OFFSET->setValue(toReal(readKey("Setting_Misc", "CellSize_Offset", "5")));
    const int maxSpeed = toInt(readKey("Setting_Misc", "Stage_MAXSPEED", "700"));
    ui->SPINBOX_STAGE_MAX_SPEED->setValue(maxSpeed < 1 || maxSpeed > 700 ? 700 : maxSpeed);
    ui->SPINBOX_STAGE_FOCUS_SPEED->setValue(toInt(readKey("Setting_Misc", "Stage_FOCUSSPEED", "100")));

    // The stage speed of Z-stacks is set by the firmware from 2.5.1 on.
    const bool stableZ = firmware.isEmpty() || firmwareVer(firmware) <= 2.5f;
    ui->LABEL_STABLE_Z_SPEED_TITLE->setVisible(stableZ);
    ui->SPINBOX_STABLE_Z_SPEED->setVisible(stableZ);

    const bool qc = isQCTestMode();
    for (QWidget *widget : {static_cast<QWidget *>(ui->SPINBOX_LENS_POS_DELAY), static_cast<QWidget *>(ui->SPINBOX_LENS_POS_SPEED),
                            static_cast<QWidget *>(ui->BUTTON_POS_CLEAR), static_cast<QWidget *>(ui->LABEL_POS_CLEAR),
                            static_cast<QWidget *>(ui->LABEL_POS_DELAY), static_cast<QWidget *>(ui->LABEL_POS_SPEED)})
        widget->setVisible(qc);
    // Both sides in single precision, so that an image of version 2.1 (or 2.1.0) qualifies.
    const bool wifi = qc && osNumber >= 2.1f;
    ui->BUTTON_WIFI_TEST->setVisible(wifi);
    if (wifi) {
        connect(&m_WLANMonitor, &WLANMonitor::signalDetectDevice, this, &SetupDlg::slotWLANDeviceChanged,
                Qt::UniqueConnection);
        m_WLANMonitor.setMonitoring(true);
        m_WLANMonitor.start(QThread::InheritPriority);
    }

    const bool service = isEnableSerialLog();
    for (QWidget *widget : {static_cast<QWidget *>(ui->BUTTON_RESET_ALL), static_cast<QWidget *>(ui->FRAME_HIDE_PARAM),
                            static_cast<QWidget *>(ui->LABEL_HOTPIXEL), static_cast<QWidget *>(ui->SPINBOX_HOTPIXEL),
                            static_cast<QWidget *>(ui->LABEL_HOTPIXEL_EX), static_cast<QWidget *>(ui->COMBO_HOTPIXEL_EX)})
        widget->setVisible(service);
}

std::vector<PrivateProfileEntry> SetupDlg::settingEntries() const
{
    std::vector<PrivateProfileEntry> entries;
    auto put = [&entries](const char *section, const QString &key, const QString &value) {
        entries.push_back({section, key.toStdString(), value.toStdString()});
    };
    auto flag = [](const QAbstractButton *box) { return QString(box->isChecked() ? "1" : "0"); };

    if (m_bFactoryReset) {
        put("LensPos", "Enable", "1");
        put("ScaleBar", "ScaleBarColor", QString::number(ui->COMB_FONT_COLOR->currentIndex()));
        put("ScaleBar", "ScaleBarFont", ui->COMB_FONT_THICKNESS->currentText());
        put("ScaleBar", "ScaleBarPosition", "2");
        for (const auto &key : {std::make_pair("MatchingSize", "11"), std::make_pair("Interval", "1.0"),
                                std::make_pair("ImageNumber", "10"), std::make_pair("Range_Plus", "100"),
                                std::make_pair("Range_Minus", "100")})
            put("Setting_ZStack", key.first, key.second);
        put("Setting_Timelapse", "Correction", "0");
        put("Setting_Timelapse", "CorrectionFreq", "1");
        put("Setting_Timelapse", "ScanRange", "5");
        put("Setting_ZStack", "MergeColor", "7");
    }

    const QString depth = ui->RADIO_8BIT->isChecked() ? "8" : ui->RADIO_16BIT->isChecked() ? "16" : "";
    if (!depth.isEmpty()) {
        if (m_bLiveMode)
            put("Camera", "Mode", depth);
        put("Camera", "PreviousMode", depth);
    }
    put("Camera", "SaturatedPixel", flag(ui->CHKBOX_SATURATED_PIXEL));
    put("Camera", "HotPixelEnable", flag(ui->CHKBOX_HOTPIXEL_ENABLED));

    const QList<QLineEdit *> filters = filterFields();
    for (int i = 0; i < 4; ++i)
        put("Filter", QString::number(i), filters[i]->text());
    const QList<QComboBox *> filterColors = filterColorCombos();
    for (int i = 0; i < 3; ++i)
        put("FilterColor", QString::number(i + 1), QString::number(filterColors[i]->currentIndex()));

    const QList<QComboBox *> lenses = lensCombos(), brands = brandCombos();
    const QList<QLineEdit *> notes = lensNoteFields();
    const QList<QDoubleSpinBox *> apertures = apertureBoxes();
    for (int i = 0; i < 5; ++i)
        put("Lens", QString::number(i + 1), lenses[i]->currentText());
    for (int i = 0; i < 5; ++i)
        put("LensType", QString::number(i + 1), brands[i]->currentText());
    for (int i = 0; i < 5; ++i)
        put("LensName", QString::number(i + 1), notes[i]->text());
    for (int i = 0; i < 5; ++i)
        put("LensNA", QString::number(i + 1), realText(apertures[i]->value()));

    if (ui->RADIO_KNOB_MODE_1->isChecked())
        put("Focus", "Knob", "0");
    else if (ui->RADIO_KNOB_MODE_2->isChecked())
        put("Focus", "Knob", "1");
    put("Focus", "CoarseSpeed", QString::number(ui->SPINBOX_FOCUS_COARSE_SPEED->value()));
    put("Focus", "FineSpeed", QString::number(ui->SPINBOX_FOCUS_FINE_SPEED->value()));
    put("Focus", "CoarseStepSize", QString::number(ui->SPINBOX_FOCUS_COARSE_STEP_SIZE->value()));
    put("Focus", "FineStepSize", realText(ui->SPINBOX_FOCUS_FINE_STEP_SIZE->value()));
    put("Focus", "FineAFRange", ui->COMBO_FOCUS_FINE_AF_RANGE->currentText());
    put("Focus", "DOF_Factor", realText(ui->SPINBOX_DOF_FACTOR->value()));

    put("Setting_Misc", "Accel", QString::number(ui->SPINBOX_ACCEL->value()));
    put("Setting_Misc", "Reduction", realText(ui->SPINBOX_REDUCTION->value()));
    put("Setting_Misc", "AF_Offset", QString::number(ui->SPINBOX_AF_OFFSET->value()));
    put("Setting_Misc", "CellSize_Offset", realText(ui->SPINBOX_CELL_SIZE_OFFSET->value()));
    put("Setting_Misc", "Stage_MAXSPEED", QString::number(ui->SPINBOX_STAGE_MAX_SPEED->value()));
    put("Setting_Misc", "Stage_FOCUSSPEED", QString::number(ui->SPINBOX_STAGE_FOCUS_SPEED->value()));

    put("Setting_MultiColor", "LineThickness", QString::number(ui->COMB_LINE_THICKNESS->currentIndex()));
    put("Setting_MultiColor", "LineColor", QString::number(ui->COMB_LINE_COLOR->currentIndex()));
    put("Setting_MultiColor", "FontThickness", ui->COMB_FONT_THICKNESS->currentText());
    put("Setting_MultiColor", "FontColor", QString::number(ui->COMB_FONT_COLOR->currentIndex()));
    put("Setting_MultiColor", "Autosave", flag(ui->CHKBOX_AUTO_SAVE));
    put("Setting_MultiColor", "AutosavePath", m_SavePath);

    put("Setting_ZStack", "StableTimeInterval", realText(ui->SPINBOX_STABLE_TIME_INTERVAL->value()));
    put("Setting_ZStack", "StableZSpeed", QString::number(ui->SPINBOX_STABLE_Z_SPEED->value()));
    put("ScaleBar", "ReductionLensMagnification", realText(ui->SPINBOX_REDUCTION_RATIO->value()));
    put("LensPos", "Delay", realText(ui->SPINBOX_LENS_POS_DELAY->value()));
    put("LensPos", "Speed", QString::number(ui->SPINBOX_LENS_POS_SPEED->value()));
    put("Setting_Misc", "ShowStartDlg", flag(ui->CHKBOX_SHOW_WELCOME));
    return entries;
}

bool SetupDlg::writeSetting()
{
    return WritePrivateProfileBatch(settingEntries(), configFile());
}

void SetupDlg::showSavePath()
{
    ui->LABEL_SAVE_PATH->setText(m_SavePath.startsWith("/media") ? QString(m_SavePath).remove("/media") : m_SavePath);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void SetupDlg::setLiveMode(bool bLive)
{
    ui->RADIO_8BIT->setEnabled(bLive);
    ui->RADIO_16BIT->setEnabled(bLive);
    m_bLiveMode = bLive;
}

void SetupDlg::setCurrentMenu(TCurrentMenu menu)
{
    m_PreviousMenu = menu;
}

void SetupDlg::completedHotPixelCorrection() {}

void SetupDlg::reject()
{
    if (m_bCanClose)
        QDialog::reject();
}

void SetupDlg::on_BUTTON_CANCEL_clicked()
{
    m_bSaved = false;
    m_bChangedCameraMode = false;
    m_bCanClose = true;
    close();
}

bool SetupDlg::confirm(const QString &text)
{
    MessageDlg box(nullptr);
    box.setMessage(text);
    box.setButtonVisibility(MSG_BUTTON_OK_CANCEL);
    return box.exec() == 1;
}

bool SetupDlg::writeEntries(const std::vector<PrivateProfileEntry> &entries)
{
    const bool written = WritePrivateProfileBatch(entries, configFile());
    if (!written)
        showError(kNotSaved);
    return written;
}

void SetupDlg::showError(const QString &text)
{
    MessageDlg box(true, nullptr);
    box.setMessage(text);
    box.exec();
}

void SetupDlg::on_BUTTON_OK_clicked()
{
    if (m_bDateTimeEdited
        && !QDate(ui->YEAR_SPINBOX->value(), ui->MONTH_SPINBOX->value(), ui->DAY_SPINBOX->value()).isValid()) {
        showError("<p><b>Error!</b><br/><br/>The date is not valid.</p>");
        return;
    }
    const int depth = ui->RADIO_16BIT->isChecked() ? 16 : 8;
    if (!m_bLiveMode && m_PreviousMenu == MENU_MULTICOLOR && depth != m_CameraMode) {
        if (!confirm("<p><b>Warning!</b><br/><br/>If you change the camera mode, the data will be lost.<br/>"
                     "Press OK to continue or Cancel to stay.</p>"))
            return;
        m_bChangedCameraMode = true;
    }

    QApplication::setOverrideCursor(Qt::BusyCursor);
    setEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);

    const QList<QLineEdit *> filters = filterFields();
    for (int i = 0; i < filters.size(); ++i) {
        if (filters[i]->text().isEmpty())
            filters[i]->setText(kDefaultFilterNames[i]);
    }

    const bool clockSet = !m_bDateTimeEdited || setSystemClock();
    const bool written = writeSetting();
    QApplication::restoreOverrideCursor();
    if (!written) {
        setEnabled(true);
        showError(kNotSaved);
        return;
    }
    m_bFactoryReset = false;
    if (!clockSet)
        showError("<p><b>Error!</b><br/><br/>The system clock could not be set.</p>");
    m_bSaved = true;
    m_bCanClose = true;
    close();
}

std::vector<std::pair<QString, QStringList>> SetupDlg::clockCommands(int year, int month, int day, int hour, int minute)
{
    return {{"date", {QString("--set=%1/%2/%3 %4:%5:00").arg(month).arg(day).arg(year).arg(hour).arg(minute)}},
            {"hwclock", {"--systohc"}}};
}

bool SetupDlg::setSystemClock()
{
    bool ok = true;
    for (const auto &command : clockCommands(ui->YEAR_SPINBOX->value(), ui->MONTH_SPINBOX->value(), ui->DAY_SPINBOX->value(),
                                              ui->HOUR_SPINBOX->value(), ui->MINU_SPINBOX->value())) {
        const ProcessResult result = SystemActions::instance().run(command.first, command.second, kClockTimeoutMs);
        if (!result.ok()) {
            qWarning() << command.first << command.second << "failed:" << result.exitCode << result.errors;
            ok = false;
        }
    }
    return ok;
}

void SetupDlg::updateCurrentDateTime(QString LocalDate, QString LocalTime)
{
    if (m_bDateTimeEdited)
        return;
    ui->HOUR_SPINBOX->setValue(LocalTime.left(2).toInt());
    ui->MINU_SPINBOX->setValue(LocalTime.right(2).toInt());
    ui->YEAR_SPINBOX->setValue(LocalDate.left(4).toInt());
    ui->MONTH_SPINBOX->setValue(LocalDate.mid(5, 2).toInt());
    ui->DAY_SPINBOX->setValue(LocalDate.right(2).toInt());
}

// ---------------------------------------------------------------------------------------------
// Wi-Fi test (QC test mode)

void SetupDlg::slotWLANDeviceChanged(int state, QString device)
{
    if (state == 0)
        m_WLANDevice.clear();
    else if (state == 1)
        m_WLANDevice = device;
}

QString SetupDlg::gateway()
{
    const ProcessResult routes = SystemActions::instance().run("route", {"-n"}, kRouteTimeoutMs);
    const QStringList lines = QString::fromLocal8Bit(routes.output).split('\n');
    // Two heading lines, then one route a line: Destination, Gateway, Genmask, Flags, ... Iface.
    for (int i = 2; i < lines.size(); ++i) {
        if (!lines[i].contains("UG"))
            continue;
        QStringList fields = lines[i].split(' ');
        fields.removeLast(); // the interface name, after the last blank, is not needed
        fields.removeAll(QString());
        if (fields.size() >= 3)
            return fields[1];
    }
    return QString();
}

void SetupDlg::on_BUTTON_WIFI_TEST_clicked()
{
    QString message = "WiFi was not connected";
    if (!m_WLANDevice.isEmpty()) {
        SystemActions &actions = SystemActions::instance();
        QApplication::setOverrideCursor(Qt::BusyCursor);
        const ProcessResult dhcp = actions.run("dhclient", {m_WLANDevice}, kDhcpTimeoutMs);
        if (dhcp.started && !dhcp.timedOut) {
            const QString gw = gateway();
            qDebug() << "gateway :" << gw;
            // A reply, not ping's heading line (printed whether or not the gateway answers), tells
            // that the network is reached.
            const QByteArray reply = "bytes from";
            if (!gw.isEmpty() && actions.runUntilOutput("ping", {gw}, kPingTimeoutMs, reply).output.contains(reply))
                message = "WiFi connected";
        }
        QApplication::restoreOverrideCursor();
    }
    showError(message);
}

// ---------------------------------------------------------------------------------------------
// Buttons

void SetupDlg::on_BUTTON_RESET_ALL_clicked()
{
    if (!confirm("<p><b>Warning!</b><br/><br/>This will restore the VANTOR S to its factory settings.<br/>"
                 "Do you want to proceed?</p>"))
        return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setEnabled(false);

    ui->RADIO_8BIT->setChecked(true);
    ui->CHKBOX_SATURATED_PIXEL->setChecked(false);
    ui->CHKBOX_HOTPIXEL_ENABLED->setChecked(false);
    ui->SPINBOX_HOTPIXEL->setValue(60);
    selectText(ui->COMBO_HOTPIXEL_EX, "3000");
    for (int i = 0; i < 4; ++i)
        filterFields()[i]->setText(kDefaultFilterNames[i]);
    const int factoryColors[] = {1, 0, 2};
    for (int i = 0; i < 3; ++i)
        filterColorCombos()[i]->setCurrentIndex(factoryColors[i]);
    const QList<QComboBox *> lenses = lensCombos(), brands = brandCombos();
    const QList<QLineEdit *> notes = lensNoteFields();
    const QList<QDoubleSpinBox *> apertures = apertureBoxes();
    const char *magnifications[] = {"4X", "10X", "20X", "40X", "N/A"};
    const double factoryApertures[] = {0.13, 0.3, 0.4, 0.6, 1.0};
    for (int i = 0; i < 5; ++i) {
        selectText(lenses[i], magnifications[i]);
        selectText(brands[i], "Quorva");
        notes[i]->clear();
        apertures[i]->setValue(factoryApertures[i]);
    }
    on_BUTTON_FOCUS_RESET_clicked();
    ui->SPINBOX_DOF_FACTOR->setValue(0.5);
    ui->COMB_LINE_THICKNESS->setCurrentIndex(0);
    ui->COMB_LINE_COLOR->setCurrentIndex(1);
    selectText(ui->COMB_FONT_THICKNESS, "24");
    ui->COMB_FONT_COLOR->setCurrentIndex(1);
    ui->CHKBOX_AUTO_SAVE->setChecked(false);
    on_CHKBOX_AUTO_SAVE_clicked();
    m_SavePath = kQuicksavePath;
    showSavePath();
    selectText(ui->SLIDESHOW_INTERVAL_COMBOBOX, "1.0 s");
    ui->SPINBOX_REDUCTION_RATIO->setValue(0.655);
    ui->SPINBOX_STABLE_TIME_INTERVAL->setValue(0.1);
    ui->SPINBOX_STABLE_Z_SPEED->setValue(100);
    ui->SPINBOX_LENS_POS_DELAY->setValue(0.5);
    ui->SPINBOX_LENS_POS_SPEED->setValue(700);
    ui->CHKBOX_SHOW_WELCOME->setChecked(true);
    ui->SPINBOX_ACCEL->setValue(700);
    ui->SPINBOX_REDUCTION->setValue(1.0);
    ui->SPINBOX_AF_OFFSET->setValue(20);
    ui->SPINBOX_CELL_SIZE_OFFSET->setValue(5.0);
    ui->SPINBOX_STAGE_MAX_SPEED->setValue(700);
    ui->SPINBOX_STAGE_FOCUS_SPEED->setValue(100);

    QApplication::restoreOverrideCursor();
    setEnabled(true);
    if (isQCTestMode()) {
        std::vector<PrivateProfileEntry> entries = {{"LicenseAgreement", "Accepted", "0"}};
        const std::vector<PrivateProfileEntry> memories = clearedFocusMemories();
        entries.insert(entries.end(), memories.begin(), memories.end());
        writeEntries(entries);
    }
    m_bFactoryReset = true;
}

void SetupDlg::on_BUTTON_CLEAR_clicked()
{
    if (!confirm("Are you sure you want to clear the set focus positions?"))
        return;
    writeEntries(clearedFocusMemories());
}

void SetupDlg::on_BUTTON_POS_CLEAR_clicked()
{
    if (!confirm("Are you sure you want to clear the parforcality settings?"))
        return;
    std::vector<PrivateProfileEntry> entries;
    for (int i = 1; i <= 5; ++i)
        entries.push_back({"LensPos", std::to_string(i), "0"});
    writeEntries(entries);
}

void SetupDlg::on_BUTTON_FOCUS_RESET_clicked()
{
    ui->RADIO_KNOB_MODE_1->setChecked(true);
    ui->SPINBOX_FOCUS_COARSE_SPEED->setValue(500);
    ui->SPINBOX_FOCUS_FINE_SPEED->setValue(5);
    ui->SPINBOX_FOCUS_COARSE_STEP_SIZE->setValue(10);
    ui->SPINBOX_FOCUS_FINE_STEP_SIZE->setValue(0.05);
    ui->COMBO_FOCUS_FINE_AF_RANGE->setEditText("5");
}

void SetupDlg::on_BUTTON_HOTPIXEL_CORRECTION_clicked()
{
    // The correction dialog reads its values from the file: it opens only on what was written.
    if (writeEntries({{"Camera", "Threshold", std::to_string(ui->SPINBOX_HOTPIXEL->value())},
                      {"Camera", "HotPixelEx", ui->COMBO_HOTPIXEL_EX->currentData().toString().toStdString()}}))
        emit signalShowHotPixelCorrectionDlg();
}

void SetupDlg::on_BUTTON_SW_UPDATE_clicked()
{
    setEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    SoftwareUpdateDlg dialog(nullptr);
    dialog.exec();
    if (dialog.softwareUpdated())
        emit signalClosingSystem(CLOSE_RESTART);
    setEnabled(true);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void SetupDlg::on_BUTTON_ERROR_REPORT_clicked()
{
    ErrorReportDlg dialog(nullptr);
    dialog.exec();
}

void SetupDlg::on_BUTTON_EULA_clicked()
{
    LicenseAgreementDlg dialog(false, nullptr);
    dialog.exec();
}

void SetupDlg::on_CHKBOX_AUTO_SAVE_clicked()
{
    const bool on = ui->CHKBOX_AUTO_SAVE->isChecked();
    ui->LABEL_SAVE_PATH->setEnabled(on);
    ui->BUTTON_SAVE_PATH->setEnabled(on);
}

void SetupDlg::on_BUTTON_SAVE_PATH_clicked()
{
    emit setVideoRunningState(false);
    DirectoryDialog chooser(nullptr);
    const int result = chooser.exec();
    emit setVideoRunningState(true);
    if (result != 1)
        return;
    // The file holds the instrument's own path, whatever the sandbox.
    m_SavePath = Paths::fixedPath(chooser.getSelectedPath()) + "/";
    showSavePath();
}

// ---------------------------------------------------------------------------------------------
// Keypad entry

std::vector<SetupDlg::KeypadField> SetupDlg::keypadFields() const
{
    return {{ui->EDIT_FILTER_POSITION_0, &SetupDlg::EDIT_FILTER_POSITION_0_clicked},
            {ui->EDIT_FILTER_POSITION_1, &SetupDlg::EDIT_FILTER_POSITION_1_clicked},
            {ui->EDIT_FILTER_POSITION_2, &SetupDlg::EDIT_FILTER_POSITION_2_clicked},
            {ui->EDIT_FILTER_POSITION_3, &SetupDlg::EDIT_FILTER_POSITION_3_clicked},
            {ui->EDIT_LENS_NAME_1, &SetupDlg::EDIT_LENS_NAME_1_clicked},
            {ui->EDIT_LENS_NAME_2, &SetupDlg::EDIT_LENS_NAME_2_clicked},
            {ui->EDIT_LENS_NAME_3, &SetupDlg::EDIT_LENS_NAME_3_clicked},
            {ui->EDIT_LENS_NAME_4, &SetupDlg::EDIT_LENS_NAME_4_clicked},
            {ui->EDIT_LENS_NAME_5, &SetupDlg::EDIT_LENS_NAME_5_clicked},
            {ui->SPINBOX_LENS_NA_1, &SetupDlg::SPINBOX_LENS_NA_1_clicked},
            {ui->SPINBOX_LENS_NA_2, &SetupDlg::SPINBOX_LENS_NA_2_clicked},
            {ui->SPINBOX_LENS_NA_3, &SetupDlg::SPINBOX_LENS_NA_3_clicked},
            {ui->SPINBOX_LENS_NA_4, &SetupDlg::SPINBOX_LENS_NA_4_clicked},
            {ui->SPINBOX_LENS_NA_5, &SetupDlg::SPINBOX_LENS_NA_5_clicked},
            {ui->SPINBOX_DOF_FACTOR, &SetupDlg::SPINBOX_DOF_FACTOR_clicked},
            {ui->SPINBOX_ACCEL, &SetupDlg::SPINBOX_ACCEL_clicked},
            {ui->SPINBOX_REDUCTION, &SetupDlg::SPINBOX_REDUCTION_clicked},
            {ui->SPINBOX_AF_OFFSET, &SetupDlg::SPINBOX_AF_OFFSET_clicked},
            {ui->SPINBOX_CELL_SIZE_OFFSET, &SetupDlg::SPINBOX_CELL_SIZE_OFFSET_clicked},
            {ui->SPINBOX_STAGE_MAX_SPEED, &SetupDlg::SPINBOX_STAGE_MAX_SPEED_clicked},
            {ui->SPINBOX_STAGE_FOCUS_SPEED, &SetupDlg::SPINBOX_STAGE_FOCUS_SPEED_clicked}};
}

bool SetupDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (g_CurrentMenu != MENU_SETTING)
        return QDialog::eventFilter(watched, event);
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (press) {
        for (const KeypadField &keypad : keypadFields()) {
            const bool spinBox = qobject_cast<QAbstractSpinBox *>(keypad.field);
            if ((spinBox ? watched->parent() : watched) == keypad.field) {
                (this->*keypad.handler)();
                break;
            }
        }
    }
    const QObject *dateTime[] = {ui->HOUR_SPINBOX, ui->MINU_SPINBOX, ui->DAY_SPINBOX, ui->MONTH_SPINBOX, ui->YEAR_SPINBOX};
    if ((press || event->type() == QEvent::Wheel) && std::find(std::begin(dateTime), std::end(dateTime), watched) != std::end(dateTime))
        m_bDateTimeEdited = true;
    return false;
}

void SetupDlg::enterText(QLineEdit *field, bool nameCheck)
{
    const QString old = field->text();
    KeyboardDlg keyboard(nullptr, false, !nameCheck);
    keyboard.setCheckUnacceptableNaming(nameCheck);
    keyboard.setText(old);
    if (keyboard.exec())
        field->setText(keyboard.text().left(kNameLength));
    else
        field->setText(old);
}

void SetupDlg::enterNumber(QAbstractSpinBox *box, bool integer, bool refuseNegative)
{
    if (!box->isEnabled())
        return;
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setText(box->text());
    if (keyboard.exec() != 1)
        return;
    const QString text = keyboard.text();
    double value = integer ? text.toInt(nullptr, 10) : text.toDouble();
    if (!std::isfinite(value))
        value = 0;
    if (value < 0 && refuseNegative) {
        MessageDlg message(nullptr);
        message.setMsgType(MSG_NUMERALS_ONLY);
        message.exec();
        return;
    }
    if (auto *spin = qobject_cast<QSpinBox *>(box))
        spin->setValue(int(value));
    else if (auto *real = qobject_cast<QDoubleSpinBox *>(box))
        real->setValue(value);
}

void SetupDlg::EDIT_FILTER_POSITION_0_clicked() { enterText(ui->EDIT_FILTER_POSITION_0, true); }
void SetupDlg::EDIT_FILTER_POSITION_1_clicked() { enterText(ui->EDIT_FILTER_POSITION_1, true); }
void SetupDlg::EDIT_FILTER_POSITION_2_clicked() { enterText(ui->EDIT_FILTER_POSITION_2, true); }
void SetupDlg::EDIT_FILTER_POSITION_3_clicked() { enterText(ui->EDIT_FILTER_POSITION_3, true); }
void SetupDlg::EDIT_LENS_NAME_1_clicked() { enterText(ui->EDIT_LENS_NAME_1, false); }
void SetupDlg::EDIT_LENS_NAME_2_clicked() { enterText(ui->EDIT_LENS_NAME_2, false); }
void SetupDlg::EDIT_LENS_NAME_3_clicked() { enterText(ui->EDIT_LENS_NAME_3, false); }
void SetupDlg::EDIT_LENS_NAME_4_clicked() { enterText(ui->EDIT_LENS_NAME_4, false); }
void SetupDlg::EDIT_LENS_NAME_5_clicked() { enterText(ui->EDIT_LENS_NAME_5, false); }
void SetupDlg::SPINBOX_LENS_NA_1_clicked() { enterNumber(ui->SPINBOX_LENS_NA_1, false, true); }
void SetupDlg::SPINBOX_LENS_NA_2_clicked() { enterNumber(ui->SPINBOX_LENS_NA_2, false, true); }
void SetupDlg::SPINBOX_LENS_NA_3_clicked() { enterNumber(ui->SPINBOX_LENS_NA_3, false, true); }
void SetupDlg::SPINBOX_LENS_NA_4_clicked() { enterNumber(ui->SPINBOX_LENS_NA_4, false, true); }
void SetupDlg::SPINBOX_LENS_NA_5_clicked() { enterNumber(ui->SPINBOX_LENS_NA_5, false, true); }
void SetupDlg::SPINBOX_DOF_FACTOR_clicked() { enterNumber(ui->SPINBOX_DOF_FACTOR, false, true); }
void SetupDlg::SPINBOX_ACCEL_clicked() { enterNumber(ui->SPINBOX_ACCEL, true, true); }
void SetupDlg::SPINBOX_REDUCTION_clicked() { enterNumber(ui->SPINBOX_REDUCTION, false, true); }
void SetupDlg::SPINBOX_AF_OFFSET_clicked() { enterNumber(ui->SPINBOX_AF_OFFSET, true, false); }
void SetupDlg::SPINBOX_CELL_SIZE_OFFSET_clicked() { enterNumber(ui->SPINBOX_CELL_SIZE_OFFSET, false, false); }
void SetupDlg::SPINBOX_STAGE_MAX_SPEED_clicked() { enterNumber(ui->SPINBOX_STAGE_MAX_SPEED, true, false); }
void SetupDlg::SPINBOX_STAGE_FOCUS_SPEED_clicked() { enterNumber(ui->SPINBOX_STAGE_FOCUS_SPEED, true, false); }
