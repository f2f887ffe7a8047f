#include "MultiColorWidget.h"

#include "Globals.h"
#include "LSpinBox.h"
#include "MessageDlg.h"
#include "MultiColorModel.h"
#include "PageCursor.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ui_MultiColorWidget.h"

#include <QDebug>
#include <QHeaderView>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOption>
#include <cstring>

namespace {

constexpr int kFramePixels = 1280 * 1024;
// Channel indexes in the order of the buttons CH1, CH2, CH3, CH4.
constexpr std::array<int, 4> kButtonOrder{0, 3, 2, 1};
int g_autoRunStepMs = MultiColorWidget::kAutoRunStepMs;

QString readConfig(const char *section, const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, Paths::configFile().toStdString());
    return QString::fromStdString(value);
}

// Decimal integer of a setting; text that is no number gives 0.
int readNumber(const char *section, const char *key, const char *def)
{
    return readConfig(section, key, def).trimmed().toInt();
}

const char *captureLook(bool autosave)
{
    return autosave ? "QPushButton {border-image: url(:/UI/Common/capture_save.png);}"
                      "QPushButton:pressed {border-image: url(:/UI/Common/capture_save_p.png);}"
                      "QPushButton:disabled {border-image: url(:/UI/Common/capture_save_d.png);}"
                    : "QPushButton {border-image: url(:/UI/Common/capture.png);}"
                      "QPushButton:pressed {border-image: url(:/UI/Common/capture_p.png);}"
                      "QPushButton:disabled {border-image: url(:/UI/Common/capture_d.png);}";
}

} // namespace

MultiColorWidget::MultiColorWidget(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint)
    , ui(new Ui_MultiColorWidget)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
    ui->setupUi(this);
    m_nAutosave = 0;
    m_AutosaveFileName.clear();
    m_bSpinBoxSync = true;
    m_bApplyBlocked = false;
    m_nReleasedSpinBox = -1;
    m_bAutoRun = m_bAutoRunStop = m_bQuickSaving = false;
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->BUTTON_AUTORUN, ui->BUTTON_AUTORUN_STOP, ui->SPINBOX_AUTORUN, ui->lineprofile_mean_title_label,
             ui->LABEL_LINE_MEAN, ui->LABEL_AREA, ui->LABEL_ANGLE, ui->LABEL_MULTICOUNT, ui->LABEL_LENGTH,
             ui->COMB_LENGTH_UNIT, ui->COMB_AREA_UNIT, ui->LABEL_HIST_MEAN, ui->LABEL_HIST_STD, ui->LABEL_HIST_MIN,
             ui->LABEL_HIST_MAX, ui->total_length_title_label, ui->LABEL_LINE_LENGTH, ui->BUTTON_MEASURE_DELETE})
        w->hide();
    ui->BUTTON_ANNOTATE->setCheckable(true);
    ui->LABEL_AUTOSAVE->hide();
    ui->BUTTON_QUICK_SAVE->hide();
    setUIMode(UI_IMAGES_ANALYSIS);
    showhideHistogramCtrl(GRAPH_HISTOGRAM);
    initialize();
}

MultiColorWidget::~MultiColorWidget()
{
    // The main window is already half gone: nothing may reach it any more.
    const QSignalBlocker quiet(this);
    deallocatingMemory();
    delete ui;
    ui = nullptr;
}

void MultiColorWidget::initialize()
{
    m_SelectedKeys.clear();
    m_nSelectedIndex = 0;
    m_bTableIdle = true;
    m_Controls[0] = {ui->SLIDER_CH1_BRIGHTNESS, ui->SLIDER_CH1_CONTRAST, ui->SPINBOX_CH1_BRIGHTNESS,
                     ui->SPINBOX_CH1_CONTRAST, ui->BUTTON_THUMBNAIL_CH1, ui->LABEL_CH1, ui->LABEL_INTENSITY_VALUE_1};
    m_Controls[3] = {ui->SLIDER_CH2_BRIGHTNESS, ui->SLIDER_CH2_CONTRAST, ui->SPINBOX_CH2_BRIGHTNESS,
                     ui->SPINBOX_CH2_CONTRAST, ui->BUTTON_THUMBNAIL_CH2, ui->LABEL_CH2, ui->LABEL_INTENSITY_VALUE_2};
    m_Controls[2] = {ui->SLIDER_CH3_BRIGHTNESS, ui->SLIDER_CH3_CONTRAST, ui->SPINBOX_CH3_BRIGHTNESS,
                     ui->SPINBOX_CH3_CONTRAST, ui->BUTTON_THUMBNAIL_CH3, ui->LABEL_CH3, ui->LABEL_INTENSITY_VALUE_3};
    m_Controls[1] = {ui->SLIDER_CH4_BRIGHTNESS, ui->SLIDER_CH4_CONTRAST, ui->SPINBOX_CH4_BRIGHTNESS,
                     ui->SPINBOX_CH4_CONTRAST, ui->BUTTON_THUMBNAIL_CH4, ui->LABEL_CH4, ui->LABEL_INTENSITY_VALUE_4};
    allocatingMemory();

    m_bPseudoColor = m_bImageCaptured = m_bSavedBefore = m_bLEDOn = false;
    m_nCurrentState = MULTI_CHANNEL;
    ui->BUTTON_RESET->setEnabled(false);
    for (int c = 0; c < kChannels; ++c) {
        m_bChannelOn[c] = false;
        m_nBrightness[c] = 0;
        m_nLastApplied[c] = 0;
        m_nContrast[c] = 10;
        m_nChannelBits[c] = 8;
    }
    const char *names[] = {"None", "Line", "Angle", "Polygon", "Ellipse", "Rectangle", "Segment Line", "Freehand"};
    for (size_t i = 0; i < m_ToolName.size(); ++i)
        m_ToolName[i] = names[i];
    m_nCurrentTool = 0;
    setMeasurementResultTableHeader();
    readSetting();

    // Page coordinates of the thumbnails, taken with the side panels in their first layout.
    for (int c = 0; c < kChannels; ++c)
        m_ThumbnailFrameRect[c] = m_Controls[c].thumbnail->geometry().translated(ui->FRAME_CATEGORY_1->pos());
    m_PreviewImage = QImage(1280, 1024, QImage::Format_Indexed8);
    m_PreviewImage.fill(0);
    setLengthUnitCombobox();
    setAreaUnitCombobox();
    m_GraphPixmap = QPixmap(ui->LABEL_HISTOGRAM->geometry().size());
    ui->BUTTON_CSV_EXPORT->setEnabled(false);
    ui->BUTTON_HISTOGRAM_EXPORT->setEnabled(false);
    ui->STACKWIDGET_MEASUREMENT_TOOLS->setCurrentIndex(0);
    clearMeasuredInformation(true);
    setMeasurementControlEnabled(false);
    m_bShowAnnotation = true;
    connect(&m_MessageTimer, &QTimer::timeout, this, &MultiColorWidget::hideMessage);
}

void MultiColorWidget::allocatingMemory()
{
    if (!m_pModel)
        m_pModel = new MultiColorModel;
}

void MultiColorWidget::deallocatingMemory()
{
    clear();
    delete m_pModel;
    m_pModel = nullptr;
}

void MultiColorWidget::readSetting()
{
    const char *section = "Setting_MultiColor";
    m_nLineThickness = readNumber(section, "LineThickness", "0") + 1;
    m_LineColor = colorTableEntry(readNumber(section, "LineColor", "5"));
    m_nFontThickness = readNumber(section, "FontThickness", "5");
    m_FontColor = colorTableEntry(readNumber(section, "FontColor", "3"));
    emit currentLineThicknessChanged(m_nLineThickness);
    emit currentLineColorChanged(m_LineColor);
    emit currentFontThicknessChanged(m_nFontThickness);
    emit currentFontColorChanged(m_FontColor);

    m_nAutosave = readNumber(section, "Autosave", "0");
    m_AutosavePath = readConfig(section, "AutosavePath", "");
    if (m_AutosavePath.trimmed().isEmpty())
        m_AutosavePath = "/media/VANTOR SSD/Quicksave/";
    ui->BUTTON_CAPTURE->setStyleSheet(captureLook(m_nAutosave != 0));
    if (!m_nAutosave)
        ui->BUTTON_QUICK_SAVE->hide();

    QLabel *const intensityNames[] = {ui->LABEL_INTENSITY_CH_1, ui->LABEL_INTENSITY_CH_2, ui->LABEL_INTENSITY_CH_3,
                                      ui->LABEL_INTENSITY_CH_4};
    for (int button = 0; button < kChannels; ++button) {
        const QString name = readConfig("Filter", std::to_string(button).c_str(), "").left(5);
        m_Controls[kButtonOrder[button]].name->setText(name);
        intensityNames[button]->setText(name);
    }
    setTableHeaderLabels();

    m_nChannelColor[0] = 7; // the transmitted-light channel is always grey
    m_nChannelColor[3] = clampColorIndex(readNumber("FilterColor", "1", "1"));
    m_nChannelColor[2] = clampColorIndex(readNumber("FilterColor", "2", "0"));
    m_nChannelColor[1] = clampColorIndex(readNumber("FilterColor", "3", "2"));
    for (int c : kButtonOrder)
        m_ChannelFrameColor[c] = g_ColorTable[m_nChannelColor[c]];

    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
    ui->BUTTON_MEASURE_SCALEBAR->setChecked(ui->CHKBOX_SCALEBAR->isChecked());
    // Any mode but 16 is the 8-bit camera mode.
    m_nCurrentBits = readNumber("Camera", "Mode", "8") == 16 ? 16 : 8;
    m_nChannelBits.fill(m_nCurrentBits);
    const QString top = m_nCurrentBits == 16 ? "4095" : "255";
    ui->LABEL_HIST_MAX_INTENSITY->setText(top);
    ui->LABEL_LINE_MAX_INTENSITY->setText(top);
    for (int c : kButtonOrder) {
        if (!m_bChannelOn[c] && !holdsChannel(c))
            continue;
        makeThumbnail(c);
        if (m_pModel)
            m_pModel->setImageData(c, nullptr, m_nChannelColor[c], 0);
    }
    switch (m_nCurrentState) {
    case MULTI_TILE:
        for (int c : kButtonOrder)
            if (holdsChannel(c))
                emit imageCapturedTile(c, m_nChannelColor[c], m_pModel->imageData(c, m_nCurrentBits), m_bPseudoColor, c,
                                       m_nCurrentBits);
        break;
    case MULTI_CHANNEL:
        if (holdsChannel(m_nSelectedIndex))
            emit imageCaptured(m_nSelectedIndex, m_nChannelColor[m_nSelectedIndex],
                               capturedImageFromModel(m_nSelectedIndex, m_nCurrentBits), m_bPseudoColor, m_nCurrentBits,
                               m_pModel->imageShiftedData(m_nSelectedIndex, m_nCurrentBits));
        break;
    case MULTI_OVERLAY:
        if (m_pModel) {
            m_pModel->makeOverlayImage(m_nCurrentBits);
            emit overlayImageChanged(m_pModel->overlayImageData(m_nCurrentBits), m_nCurrentBits);
        }
        break;
    default:
        break;
    }
}

// --- states --------------------------------------------------------------------------------------

void MultiColorWidget::setCurrentState(TMultiState state)
{
    m_nCurrentState = state;
    m_nCurrentTool = 0;
    changeState();
}

bool MultiColorWidget::holdsChannel(int channel) const
{
    return m_pModel && m_pModel->isImageCaptured(channel);
}

void MultiColorWidget::showSaveButton(bool enabled)
{
    QPushButton *shown = m_bSavedBefore ? ui->BUTTON_SAVE_AFTER : ui->BUTTON_SAVE_BEFORE;
    QPushButton *hidden = m_bSavedBefore ? ui->BUTTON_SAVE_BEFORE : ui->BUTTON_SAVE_AFTER;
    shown->setEnabled(enabled);
    shown->show();
    hidden->hide();
}

void MultiColorWidget::setChannelControlsEnabled(int channel, bool on)
{
    const ChannelControls &c = m_Controls[channel];
    for (QWidget *w : std::initializer_list<QWidget *>{c.brightness, c.contrast, c.brightnessBox, c.contrastBox})
        w->setEnabled(on);
}

void MultiColorWidget::setUIControlEnabled(bool on)
{
    if (on) {
        ui->BUTTON_TILE_ON->setEnabled(true);
        ui->BUTTON_OVERLAY_ON->setEnabled(true);
    }
    for (int c = 0; c < kChannels; ++c)
        setChannelControlsEnabled(c, on);
}

void MultiColorWidget::scaleBarBlock(bool on)
{
    ui->BUTTON_MEASURE_SCALEBAR->setEnabled(on);
    ui->BUTTON_MEASURE_SCALEBAR->setCheckable(on);
    ui->CHKBOX_SCALEBAR->setEnabled(on);
    if (on) {
        ui->CHKBOX_SCALEBAR->show();
        on_CHKBOX_SCALEBAR_clicked();
        enableMeasurement();
    } else {
        ui->CHKBOX_SCALEBAR->hide();
    }
}

void MultiColorWidget::changeState()
{
    ui->STACKWIDGET_MEASUREMENT_TOOLS->setCurrentIndex(0);
    clearMeasuredInformation(true);
    setMeasurementControlEnabled(false);

    const auto thumbnailsCheckable = [this](bool on) {
        for (const ChannelControls &c : m_Controls)
            c.thumbnail->setCheckable(on);
    };
    switch (m_nCurrentState) {
    case MULTI_IDLE:
    case MULTI_LIVE: {
        const bool live = m_nCurrentState == MULTI_LIVE;
        ui->BUTTON_LIVE->setEnabled(true);
        ui->BUTTON_LIVE->setVisible(!live);
        ui->BUTTON_CAPTURE->setEnabled(false); // the video start enables it
        ui->BUTTON_CAPTURE->setVisible(live);
        ui->BUTTON_QUICK_SAVE->setEnabled(live);
        ui->BUTTON_AUTORUN->setEnabled(false);
        showSaveButton(false);
        const bool held = m_pModel && m_pModel->numberOfCapturedImage() > 0;
        for (QPushButton *b : {ui->BUTTON_TILE_ON, ui->BUTTON_OVERLAY_ON}) {
            b->setEnabled(held);
            b->setChecked(false);
        }
        ui->BUTTON_CLEAR->setEnabled(held);
        thumbnailsCheckable(false);
        ui->BUTTON_ANNOTATE->setEnabled(false);
        ui->BUTTON_ANNOTATE->setCheckable(false);
        setUIControlEnabled(false);
        scaleBarBlock(false);
        break;
    }
    case MULTI_CHANNEL:
        setUIControlEnabled(false);
        ui->BUTTON_LIVE->setEnabled(false); // the video stop enables it
        ui->BUTTON_LIVE->show();
        ui->BUTTON_CAPTURE->hide();
        ui->BUTTON_QUICK_SAVE->setEnabled(true);
        showSaveButton(false);
        for (QPushButton *b : {ui->BUTTON_TILE_ON, ui->BUTTON_OVERLAY_ON}) {
            b->setEnabled(true);
            b->setChecked(false);
        }
        thumbnailsCheckable(true);
        ui->BUTTON_ANNOTATE->setEnabled(true);
        ui->BUTTON_ANNOTATE->setCheckable(true);
        ui->BUTTON_ANNOTATE->setChecked(m_bShowAnnotation);
        ui->BUTTON_RESET->show();
        ui->BUTTON_CLEAR->setEnabled(true);
        if (m_nSelectedIndex >= 0 && m_nSelectedIndex < kChannels)
            setChannelControlsEnabled(m_nSelectedIndex, true);
        scaleBarBlock(true);
        break;
    case MULTI_TILE:
    case MULTI_OVERLAY: {
        const bool overlay = m_nCurrentState == MULTI_OVERLAY;
        ui->BUTTON_LIVE->show();
        ui->BUTTON_CAPTURE->hide();
        ui->BUTTON_QUICK_SAVE->setEnabled(true);
        showSaveButton(true);
        ui->BUTTON_TILE_ON->setEnabled(true);
        ui->BUTTON_OVERLAY_ON->setEnabled(true);
        ui->BUTTON_TILE_ON->setChecked(!overlay);
        ui->BUTTON_OVERLAY_ON->setChecked(overlay);
        thumbnailsCheckable(overlay);
        ui->BUTTON_ANNOTATE->setEnabled(overlay);
        ui->BUTTON_ANNOTATE->setCheckable(overlay);
        ui->BUTTON_ANNOTATE->setChecked(m_bShowAnnotation);
        setUIControlEnabled(false);
        for (int c : kButtonOrder) {
            if (!m_bChannelOn[c])
                continue;
            if (m_pModel)
                m_pModel->setSelectedImage(c, true);
            setChannelControlsEnabled(c, true);
        }
        ui->BUTTON_RESET->show();
        ui->BUTTON_CLEAR->setEnabled(true);
        scaleBarBlock(overlay);
        break;
    }
    }
    emit changedState();
}

void MultiColorWidget::setUIMode(TUIMode mode)
{
    QPushButton *const buttons[] = {ui->BUTTON_MODE1, ui->BUTTON_MODE2, ui->BUTTON_MODE3};
    const char *upper = "      IMAGES";
    const char *lower = "      ANALYSIS";
    switch (mode) {
    case UI_IMAGES_ANALYSIS:
        ui->FRAME_CATEGORY_3->hide();
        ui->FRAME_CATEGORY_1->show();
        ui->FRAME_CATEGORY_2->move(ui->FRAME_CATEGORY_2->x(), ui->FRAME_CATEGORY_3->y());
        ui->FRAME_CATEGORY_2->show();
        break;
    case UI_IMAGES_DATA:
        ui->FRAME_CATEGORY_2->hide();
        ui->FRAME_CATEGORY_1->show();
        ui->FRAME_CATEGORY_3->show();
        lower = "      DATA";
        break;
    case UI_ANALYSIS_DATA:
        ui->FRAME_CATEGORY_1->hide();
        ui->FRAME_CATEGORY_2->move(ui->FRAME_CATEGORY_2->x(), ui->FRAME_CATEGORY_1->y());
        ui->FRAME_CATEGORY_2->show();
        ui->FRAME_CATEGORY_3->show();
        upper = "      ANALYSIS";
        lower = "      DATA";
        break;
    default:
        return;
    }
    for (int i = 0; i < 3; ++i)
        buttons[i]->setChecked(i == int(mode));
    ui->LABEL_CATEGORY_1->setText(upper);
    ui->LABEL_CATEGORY_2->setText(lower);
}

void MultiColorWidget::on_BUTTON_MODE1_clicked()
{
    setUIMode(UI_IMAGES_ANALYSIS);
}

void MultiColorWidget::on_BUTTON_MODE2_clicked()
{
    setUIMode(UI_IMAGES_DATA);
}

void MultiColorWidget::on_BUTTON_MODE3_clicked()
{
    setUIMode(UI_ANALYSIS_DATA);
}

// --- live, capture and the hand-shakes ----------------------------------------------------------

void MultiColorWidget::setAutoRunStepMs(int ms)
{
    g_autoRunStepMs = ms > 0 ? ms : kAutoRunStepMs;
}

void MultiColorWidget::scheduleAutoRunStep(void (MultiColorWidget::*step)())
{
    QTimer::singleShot(g_autoRunStepMs, this, [this, step] {
        // Another screen owns the instrument now: the series ends there.
        if (g_CurrentMenu != MENU_MULTICOLOR) {
            m_bAutoRun = m_bAutoRunStop = false;
            return;
        }
        (this->*step)();
    });
}

void MultiColorWidget::on_BUTTON_LIVE_clicked()
{
    PageCursor::busy();
    ui->BUTTON_LIVE->setEnabled(false);
    emit signalEnableMainMenu(false);
    m_nCurrentState = MULTI_LIVE;
    m_bImageCaptured = false;
    emit liveMode(true);
    emit lightOn();
    changeState();
    if (m_bAutoRun)
        scheduleAutoRunStep(&MultiColorWidget::on_BUTTON_AUTORUN_clicked);
}

void MultiColorWidget::slotWaitForVideoWidgetIsStarted()
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    PageCursor::normal();
    if (m_bLEDOn) {
        ui->BUTTON_CAPTURE->setEnabled(true);
        ui->BUTTON_QUICK_SAVE->setEnabled(true);
        ui->BUTTON_AUTORUN->setEnabled(true);
    }
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void MultiColorWidget::slotWaitForVideoWidgetIsStopped()
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    PageCursor::normal();
    ui->BUTTON_LIVE->setEnabled(true);
    showSaveButton(true);
    emit signalEnableMainMenu(true);
}

void MultiColorWidget::slotLEDState(bool on)
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    m_bLEDOn = on;
    ui->BUTTON_CAPTURE->setEnabled(on);
    ui->BUTTON_QUICK_SAVE->setEnabled(on);
    ui->BUTTON_AUTORUN->setEnabled(on);
}

void MultiColorWidget::on_BUTTON_CAPTURE_clicked()
{
    PageCursor::busy();
    for (QPushButton *b : {ui->BUTTON_CAPTURE, ui->BUTTON_SAVE_AFTER, ui->BUTTON_SAVE_BEFORE, ui->BUTTON_RESET})
        b->setEnabled(false);
    setUIControlEnabled(false);
    emit signalEnableControlWidgetUI(false);
    emit signalEnableMainMenu(false);
    m_nCurrentState = MULTI_CHANNEL;
    emit liveMode(false);
    // The live video answers with captured() before it returns, unless it has no frame to give
    // (camera out of step, stalled or stopped): then nothing may stay locked.
    m_bFrameArrived = false;
    emit capture();
    if (!m_bFrameArrived) {
        m_bAutoRun = false;
        returnToLive();
    }
}

void MultiColorWidget::returnToLive()
{
    PageCursor::normal();
    m_nCurrentState = MULTI_LIVE;
    m_bImageCaptured = false;
    changeState();
    emit liveMode(true);
    emit lightOn();
    emit signalEnableControlWidgetUI(true);
    emit signalEnableMainMenu(true);
}

void MultiColorWidget::captureCompleted(uchar *frame, int bits)
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    m_bFrameArrived = true;
    const int channel = m_nCurrentFilterPosition;
    const bool known = channel >= 0 && channel < kChannels;
    if (!known || !m_pModel || !m_pModel->setImageData(channel, frame, m_nChannelColor[channel], bits)) {
        // Kept nothing: the page's depths stay those of the channels held.
        PageCursor::normal();
        MessageDlg dialog;
        dialog.setMsgType(known ? MSG_MIXED_CAMERA_MODES : MSG_LENS_FILTER_NOT_IN_POSITION);
        dialog.exec();
        m_bAutoRun = false;
        returnToLive();
        return;
    }
    m_nSelectedIndex = channel;
    m_nChannelBits[channel] = bits;
    m_nCurrentBits = bits;
    emit captured(true);
    m_bAutosaveFailed = false;

    m_pModel->makeOverlayImage(bits);
    m_bImageCaptured = true;
    m_bChannelOn[channel] = true;
    m_nLastApplied[channel] = 0;
    resetChannelValues(channel);
    m_pModel->reset(channel);

    const int range = bits == 16 ? 4094 : 255;
    if (bits == 8) {
        std::memcpy(m_PreviewImage.bits(), frame, kFramePixels);
    } else if (bits == 16) {
        uchar *preview = m_PreviewImage.bits();
        for (int i = 0; i < kFramePixels; ++i)
            preview[i] = frame[2 * i]; // the high byte of each camera word
    }
    makeThumbnail(channel);
    if (bits == 8 || bits == 16)
        for (const ChannelControls &c : m_Controls) {
            c.brightness->setRange(-range, range);
            c.brightnessBox->setRange(-range, range);
        }

    m_bSavedBefore = false;
    emit lightOff();
    emit imageCapturedTile(channel, m_nChannelColor[channel], m_pModel->imageData(channel, bits), m_bPseudoColor, channel,
                           bits);
    emit imageCaptured(channel, m_nChannelColor[channel], capturedImageFromModel(channel, bits), m_bPseudoColor, bits,
                       m_pModel->imageShiftedData(channel, bits));
    emit imageDisplayStateChanged(MULTI_CHANNEL);
    changeState();
    m_MessageTimer.start(2000);
    if (m_nAutosave == 1 && m_bQuickSaving)
        on_BUTTON_LIVE_clicked();
    if (m_bAutoRun)
        scheduleAutoRunStep(&MultiColorWidget::on_BUTTON_LIVE_clicked);
}

void MultiColorWidget::resetChannelValues(int channel)
{
    const ChannelControls &c = m_Controls[channel];
    m_nBrightness[channel] = 0;
    m_nContrast[channel] = 10;
    c.brightness->setValue(0);
    c.contrast->setValue(10);
    c.brightnessBox->setValue(c.brightness->value());
    c.contrastBox->setValue(c.contrast->value());
}

void *MultiColorWidget::capturedImageFromModel(int channel, int bits)
{
    return m_pModel && (bits == 8 || bits == 16) ? m_pModel->imageData(channel, bits) : nullptr;
}

int MultiColorWidget::convertChannelToFilter(int button)
{
    return button >= 0 && button < kChannels ? kButtonOrder[size_t(button)] : 0;
}

void MultiColorWidget::makeThumbnail(int channel)
{
    if (channel >= 0 && channel < kChannels) {
        QImage preview = m_PreviewImage.copy();
        preview.setColorTable(g_PseudoColorTable[clampColorIndex(m_nChannelColor[channel])]);
        const QPixmap small = QPixmap::fromImage(preview).scaled(34, 34, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QIcon icon;
        icon.addPixmap(small, QIcon::Normal, QIcon::Off);
        m_Controls[channel].thumbnail->setIcon(icon);
    }
    update();
}

void MultiColorWidget::setDisplayImageState(int state, int selectedIndex)
{
    if (selectedIndex < 0 || selectedIndex >= kChannels)
        return;
    m_nSelectedIndex = selectedIndex;
    m_nCurrentState = TMultiState(state);
    emit imageCaptured(selectedIndex, m_nChannelColor[selectedIndex], capturedImageFromModel(selectedIndex, m_nCurrentBits),
                       m_bPseudoColor, m_nCurrentBits,
                       m_pModel ? m_pModel->imageShiftedData(selectedIndex, m_nCurrentBits) : nullptr);
    changeState();
}

void MultiColorWidget::on_BUTTON_TILE_ON_clicked()
{
    setUIControlEnabled(false);
    m_nCurrentState = MULTI_TILE;
    emit lightOff();
    emit liveMode(false);
    emit signalEnableControlWidgetUI(false);
    emit imageDisplayStateChanged(MULTI_TILE);
    changeState();
}

void MultiColorWidget::on_BUTTON_OVERLAY_ON_clicked()
{
    PageCursor::busy();
    setUIControlEnabled(false);
    if (m_pModel)
        m_pModel->makeOverlayImage(m_nCurrentBits);
    m_nCurrentState = MULTI_OVERLAY;
    emit lightOff();
    emit liveMode(false);
    emit signalEnableControlWidgetUI(false);
    emit imageDisplayStateChanged(MULTI_OVERLAY);
    emit overlayImageChanged(m_pModel ? m_pModel->overlayImageData(m_nCurrentBits) : nullptr, m_nCurrentBits);
    changeState();
    PageCursor::normal();
}

void MultiColorWidget::on_BUTTON_CLEAR_clicked()
{
    MessageDlg dialog;
    dialog.setMsgType(MSG_DELETE_DATA);
    if (dialog.exec() == 1)
        clear();
}

void MultiColorWidget::clear()
{
    emit captured(false);
    m_bSavedBefore = false;
    emit saved(false);
    m_bImageCaptured = false;
    ui->BUTTON_SAVE_AFTER->setEnabled(false);
    ui->BUTTON_SAVE_BEFORE->setEnabled(false);
    if (m_pModel)
        m_pModel->clear();
    emit signalClearCapturedImage();
    ui->BUTTON_MEASURE_SCALEBAR->setChecked(false);
    emit signalShowScaleBar(false);
    ui->BUTTON_TILE_ON->setEnabled(false);
    ui->BUTTON_OVERLAY_ON->setEnabled(false);
    const QIcon empty(":/UI/Multicolor/thumbnail.png");
    for (int c = 0; c < kChannels; ++c) {
        m_bChannelOn[c] = false;
        m_nLastApplied[c] = 0;
        m_Controls[c].thumbnail->setIcon(empty);
        m_Controls[c].thumbnail->setCheckable(false);
        resetChannelValues(c);
    }
    ui->BUTTON_ANNOTATE->setEnabled(false);
    ui->BUTTON_ANNOTATE->setCheckable(false);
    setUIControlEnabled(false);
    ui->BUTTON_RESET->setEnabled(false);
    ui->BUTTON_CLEAR->setEnabled(false);
    ui->CHKBOX_SCALEBAR->setChecked(false);
    ui->CHKBOX_SCALEBAR->hide();
    ui->TABLEWIDGET_MEASUREMENT_RESULT->clearContents();
    ui->TABLEWIDGET_MEASUREMENT_RESULT->setRowCount(0);
    ui->BUTTON_CSV_EXPORT->setEnabled(false);
    if (m_pModel)
        m_pModel->clearMeasurementResult();
    resetMeasurementTool();
    update();
}

void MultiColorWidget::on_BUTTON_AUTORUN_clicked()
{
    const int count = ui->SPINBOX_AUTORUN->value();
    if (count >= 1 && !m_bAutoRunStop) {
        qDebug() << Q_FUNC_INFO << count;
        ui->SPINBOX_AUTORUN->setValue(count - 1);
        m_bAutoRun = true;
    } else {
        m_bAutoRun = m_bAutoRunStop = false; // the series ends with this last capture
    }
    on_BUTTON_CAPTURE_clicked();
}

void MultiColorWidget::on_BUTTON_AUTORUN_STOP_clicked()
{
    if (!m_bAutoRun)
        return;
    m_bAutoRun = false;
    m_bAutoRunStop = true;
}

void MultiColorWidget::hideMessage()
{
    if (!ui->LABEL_AUTOSAVE->isVisible())
        return;
    ui->LABEL_AUTOSAVE->hide();
    m_MessageTimer.stop();
}

void MultiColorWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (!ui->FRAME_CATEGORY_1->isVisible())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    for (int c : kButtonOrder) {
        if (!m_bChannelOn[c])
            continue;
        painter.setPen(QPen(m_ChannelFrameColor[c], 3));
        painter.drawRect(m_ThumbnailFrameRect[c]);
    }
}

void MultiColorWidget::setCurrentFilterPosition(int position)
{
    m_nCurrentFilterPosition = position;
}

void MultiColorWidget::setCurrentObjectiveLensPosition(int position)
{
    if (!m_bImageCaptured)
        m_nObjectiveLensPosition = position;
}

void MultiColorWidget::slotCurrentPixelSize(float pixelSize)
{
    m_fPixelSize = pixelSize;
}

void MultiColorWidget::slotSetScaleBarPoint(QPointF point)
{
    m_ScaleBarPoint = point;
}

void MultiColorWidget::setPseudoColor(bool on, int, int)
{
    m_bPseudoColor = on;
    if (g_CurrentMenu != MENU_MULTICOLOR || !m_pModel)
        return;
    for (int c : kButtonOrder)
        if (holdsChannel(c))
            emit imageCapturedTile(c, m_nChannelColor[c], m_pModel->imageData(c, m_nChannelBits[c]), on, m_nSelectedIndex,
                                   m_nChannelBits[c]);
    if (m_nCurrentState == MULTI_CHANNEL && holdsChannel(m_nSelectedIndex))
        emit imageCaptured(m_nSelectedIndex, m_nChannelColor[m_nSelectedIndex],
                           capturedImageFromModel(m_nSelectedIndex, m_nCurrentBits), m_bPseudoColor, m_nCurrentBits,
                           m_pModel->imageShiftedData(m_nSelectedIndex, m_nCurrentBits));
}

void MultiColorWidget::slotChangeCameraMode(int bits)
{
    // A channel already held keeps the depth it was captured with.
    if (m_nSelectedIndex >= 0 && m_nSelectedIndex < kChannels && !holdsChannel(m_nSelectedIndex))
        m_nChannelBits[m_nSelectedIndex] = bits;
    const QString top = bits == 16 ? "4095" : "255";
    ui->LABEL_HIST_MAX_INTENSITY->setText(top);
    ui->LABEL_LINE_MAX_INTENSITY->setText(top);
}

void MultiColorWidget::on_CHKBOX_SCALEBAR_clicked()
{
    if (g_CurrentMenu != MENU_MULTICOLOR)
        return;
    emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
    ui->BUTTON_MEASURE_SCALEBAR->setChecked(ui->CHKBOX_SCALEBAR->isChecked());
}

void MultiColorWidget::slotScaleBarCheckBoxState(TSScaleBar scaleBar)
{
    if (!ui->CHKBOX_SCALEBAR->isChecked() || !scaleBar.noObjective)
        return;
    ui->CHKBOX_SCALEBAR->setChecked(false);
    MessageDlg dialog;
    dialog.setMsgType(MSG_NO_OBJECTIVE_LENS);
    dialog.exec();
}

// --- measurement tools, read-outs and graph controls ---------------------------------------------

void MultiColorWidget::setMeasurementToolButtonFalse()
{
    for (QPushButton *b : {ui->BUTTON_MEASURE_SELECT, ui->BUTTON_MEASURE_LINE, ui->BUTTON_MEASURE_ANGLE,
                           ui->BUTTON_MEASURE_POLYGON, ui->BUTTON_MEASURE_RECT, ui->BUTTON_MEASURE_ELLIPSE,
                           ui->BUTTON_MEASURE_FREEHAND, ui->BUTTON_MEASURE_SEGMENT, ui->BUTTON_TEXT_ANNOTATION,
                           ui->BUTTON_MEASURE_DELETE})
        b->setChecked(false);
}

void MultiColorWidget::chooseMeasurementTool(QPushButton *button, int tool, bool clearReadout)
{
    setMeasurementToolButtonFalse();
    button->setChecked(true);
    if (m_nCurrentTool == tool)
        return;
    m_nCurrentTool = tool;
    if (clearReadout)
        clearMeasuredInformation(true);
    emit measurementToolChanged(tool);
}

void MultiColorWidget::on_BUTTON_MEASURE_SELECT_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_SELECT, TOOL_NONE, false); }
void MultiColorWidget::on_BUTTON_MEASURE_LINE_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_LINE, TOOL_LINE, true); }
void MultiColorWidget::on_BUTTON_MEASURE_ANGLE_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_ANGLE, TOOL_ANGLE, true); }
void MultiColorWidget::on_BUTTON_MEASURE_POLYGON_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_POLYGON, TOOL_POLYGON, true); }
void MultiColorWidget::on_BUTTON_MEASURE_ELLIPSE_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_ELLIPSE, TOOL_ELLIPSE, true); }
void MultiColorWidget::on_BUTTON_MEASURE_RECT_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_RECT, TOOL_RECTANGLE, true); }
void MultiColorWidget::on_BUTTON_MEASURE_SEGMENT_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_SEGMENT, TOOL_SEGMENT_LINE, true); }
void MultiColorWidget::on_BUTTON_MEASURE_FREEHAND_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_FREEHAND, TOOL_FREE_HAND, true); }
void MultiColorWidget::on_BUTTON_TEXT_ANNOTATION_clicked() { chooseMeasurementTool(ui->BUTTON_TEXT_ANNOTATION, TOOL_TEXT, true); }
void MultiColorWidget::on_BUTTON_MEASURE_DELETE_clicked() { chooseMeasurementTool(ui->BUTTON_MEASURE_DELETE, TOOL_DELETE, false); }

void MultiColorWidget::on_BUTTON_MEASURE_SCALEBAR_clicked()
{
    ui->CHKBOX_SCALEBAR->setChecked(ui->BUTTON_MEASURE_SCALEBAR->isChecked());
    emit signalShowScaleBar(ui->BUTTON_MEASURE_SCALEBAR->isChecked());
    chooseMeasurementTool(ui->BUTTON_MEASURE_SELECT, TOOL_NONE, false);
}

void MultiColorWidget::on_BUTTON_TOOL_LEFT_clicked()
{
    ui->STACKWIDGET_MEASUREMENT_TOOLS->setCurrentIndex(ui->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex() - 1);
}

void MultiColorWidget::on_BUTTON_TOOL_RIGHT_clicked()
{
    ui->STACKWIDGET_MEASUREMENT_TOOLS->setCurrentIndex(ui->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex() + 1);
}

void MultiColorWidget::on_BUTTON_ANNOTATE_clicked()
{
    m_bShowAnnotation = !m_bShowAnnotation;
    emit showAnnotation(m_bShowAnnotation);
}

void MultiColorWidget::enableMeasurement()
{
    setMeasurementControlEnabled(true);
    ui->BUTTON_MEASURE_SELECT->setChecked(true);
    m_nCurrentTool = TOOL_WHOLE_IMAGE;
    emit measurementToolChanged(TOOL_WHOLE_IMAGE);
}

void MultiColorWidget::resetMeasurementTool()
{
    m_nCurrentTool = TOOL_NONE;
    emit measurementToolChanged(TOOL_NONE);
}

void MultiColorWidget::setMeasurementControlEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->STACKWIDGET_MEASUREMENT_TOOLS, ui->BUTTON_TOOL_LEFT, ui->BUTTON_TOOL_RIGHT, ui->BUTTON_MEASURE_LINE,
             ui->BUTTON_MEASURE_ANGLE, ui->BUTTON_MEASURE_POLYGON, ui->BUTTON_MEASURE_ELLIPSE, ui->BUTTON_MEASURE_RECT,
             ui->BUTTON_MEASURE_SEGMENT, ui->BUTTON_MEASURE_FREEHAND, ui->BUTTON_TEXT_ANNOTATION, ui->LABEL_LENGTH,
             ui->COMB_LENGTH_UNIT, ui->LABEL_AREA, ui->COMB_AREA_UNIT, ui->LABEL_ANGLE, ui->LABEL_MULTICOUNT,
             ui->LABEL_X, ui->LABEL_Y, ui->LABEL_INTENSITY_VALUE_1, ui->LABEL_INTENSITY_VALUE_2,
             ui->LABEL_INTENSITY_VALUE_3, ui->LABEL_INTENSITY_VALUE_4})
        w->setEnabled(enabled);
    setUIHistogramEnabled(enabled);
    setUILineProfileEnabled(enabled);
    setMeasurementToolButtonFalse();
    ui->BUTTON_ANNOTATE->setEnabled(enabled);
    ui->BUTTON_ANNOTATE->setCheckable(enabled);
}

void MultiColorWidget::clearMeasuredInformation(bool all)
{
    if (all)
        for (QLabel *l : {ui->LABEL_X, ui->LABEL_Y, ui->LABEL_INTENSITY_VALUE_1, ui->LABEL_INTENSITY_VALUE_2,
                          ui->LABEL_INTENSITY_VALUE_3, ui->LABEL_INTENSITY_VALUE_4})
            l->clear();
    for (QLabel *l : {ui->LABEL_MULTICOUNT, ui->LABEL_HISTOGRAM, ui->LABEL_HIST_MEAN, ui->LABEL_HIST_STD,
                      ui->LABEL_HIST_MIN, ui->LABEL_HIST_MAX, ui->LABEL_LINE_LENGTH, ui->LABEL_LINE_MEAN,
                      ui->LABEL_LENGTH, ui->LABEL_ANGLE, ui->LABEL_AREA})
        l->clear();
    ui->BUTTON_HISTOGRAM_EXPORT->setEnabled(false);
}

void MultiColorWidget::setLengthUnitCombobox()
{
    m_nLengthUnit = 0;
    const QSignalBlocker quiet(ui->COMB_LENGTH_UNIT);
    ui->COMB_LENGTH_UNIT->clear();
    ui->COMB_LENGTH_UNIT->addItems({QString::fromUtf8("µm"), "mm", "pixel"});
}

void MultiColorWidget::setAreaUnitCombobox()
{
    m_nAreaUnit = 0;
    const QSignalBlocker quiet(ui->COMB_AREA_UNIT);
    ui->COMB_AREA_UNIT->clear();
    ui->COMB_AREA_UNIT->addItems({QString::fromUtf8("µm^2"), "mm^2", "pixel^2"});
}

void MultiColorWidget::on_COMB_LENGTH_UNIT_currentIndexChanged(int unit)
{
    if (m_CurrentResult.tool == TOOL_NONE || m_CurrentResult.tool == TOOL_DELETE)
        return;
    m_nLengthUnit = unit;
    const float v = MultiColorModel::length(m_CurrentResult.length, unit, m_fPixelSize);
    const int decimals = unit == 1 ? 6 : 1;
    ui->LABEL_LENGTH->setText(unit != 2 && v < 0 ? "N/A" : QString::number(double(v), 'f', decimals));
}

void MultiColorWidget::on_COMB_AREA_UNIT_currentIndexChanged(int unit)
{
    if (m_CurrentResult.tool == TOOL_NONE || m_CurrentResult.tool == TOOL_DELETE)
        return;
    m_nAreaUnit = unit;
    const float v = MultiColorModel::area(m_CurrentResult.area, unit, m_fPixelSize);
    const int decimals = unit == 1 ? 6 : 1;
    ui->LABEL_AREA->setText(unit != 2 && v < 0 ? "N/A" : QString::number(double(v), 'f', decimals));
}

void MultiColorWidget::setMeasurementResultTableHeader()
{
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    table->setColumnCount(19);
    auto *header = new QHeaderView(Qt::Horizontal, table);
    header->setFont(m_Font9);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setSectionResizeMode(QHeaderView::Fixed);
    table->setHorizontalHeader(header);
    setTableHeaderLabels();
    table->verticalHeader()->show();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void MultiColorWidget::setTableHeaderLabels()
{
    QStringList labels{"Tool", "Length", "Area/Angle"};
    for (int c : kButtonOrder) {
        const QString name = m_Controls[c].name->text();
        labels << QString("Min.(%1)").arg(name) << QString("Max.(%1)").arg(name) << QString("Mean(%1)").arg(name)
               << QString("Std.(%1)").arg(name);
    }
    ui->TABLEWIDGET_MEASUREMENT_RESULT->setHorizontalHeaderLabels(labels);
}

void MultiColorWidget::setUIHistogramEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->LABEL_HIST_MEAN, ui->LABEL_HIST_STD, ui->LABEL_HIST_MIN, ui->LABEL_HIST_MAX, ui->LABEL_HIST_INDICATOR,
             ui->LABEL_HIST_MIN_INTENSITY, ui->LABEL_HIST_MAX_INTENSITY, ui->BUTTON_HISTOGRAM_EXPORT})
        w->setEnabled(enabled);
    m_bHistogramShown = enabled;
    m_bLineProfileShown = !enabled;
}

void MultiColorWidget::setUILineProfileEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->LABEL_HIST_MEAN, ui->LABEL_HIST_STD, ui->LABEL_HIST_MIN, ui->LABEL_HIST_MAX, ui->LABEL_LINE_LENGTH,
             ui->LABEL_LINE_MEAN, ui->LABEL_LINE_MIN_INTENSITY, ui->LABEL_LINE_MAX_INTENSITY,
             ui->BUTTON_HISTOGRAM_EXPORT})
        w->setEnabled(enabled);
    m_bLineProfileShown = enabled;
    m_bHistogramShown = !enabled;
}

void MultiColorWidget::showhideHistogramCtrl(TGraphMode mode)
{
    const bool histogram = mode == GRAPH_HISTOGRAM;
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_LINE_MAX_INTENSITY, ui->LABEL_LINE_MIN_INTENSITY})
        w->setVisible(!histogram);
    if (histogram) {
        ui->total_length_title_label->hide();
        ui->LABEL_LINE_LENGTH->hide();
    }
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_HIST_INDICATOR, ui->LABEL_HIST_MIN_INTENSITY,
                                                       ui->LABEL_HIST_MAX_INTENSITY})
        w->setVisible(histogram);
}

// --- results, tables and saving: filled in with the result table --------------------------------

void MultiColorWidget::changeMeasurementItem(bool) {}
void MultiColorWidget::updateMeasurementResultTable(bool) {}
void MultiColorWidget::setMeasurementResult(TSMeasurementItem &, bool) {}
void MultiColorWidget::setOverlayMeasurementResult(TSMeasurementItem &, int) {}
void MultiColorWidget::setCurrentImagePositionAndIntensity(QPoint, int, int) {}
void MultiColorWidget::slotUpdateImageHistogram() {}
void MultiColorWidget::slotSave(bool, uchar *, int, bool, bool) {}
void MultiColorWidget::slotChangeCurrentSelectedItem(uint, bool, bool) {}
void MultiColorWidget::slotDeletedItem(uint) {}
void MultiColorWidget::slotChangeMeasurementResultTable(uint, std::vector<TSMeasurementItem> &) {}
void MultiColorWidget::slotSetSelectedDiagramItemKeyList(QVector<uint> &) {}
