#include "MultiColorWidget.h"

#include "Globals.h"
#include "KeyboardDlg.h"
#include "LSpinBox.h"
#include "MessageDlg.h"
#include "MultiColorModel.h"
#include "PageCursor.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveOptionsDlg.h"
#include "ScaleBar.h"
#include "ScopedBusyCursor.h"
#include "TCapturedImageMetaData.h"
#include "VideoWidget.h"
#include "ui_MultiColorWidget.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOption>
#include <QThreadPool>
#include <QWheelEvent>
#include <QtConcurrent>
#include <cmath>
#include <cstdio>
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
    ui->CHKBOX_SCALEBAR->raise(); // it sits on the category bar
    m_nAutosave = 0;
    m_AutosaveFileName.clear();
    m_bSpinBoxSync = true;
    m_bApplyBlocked = false;
    m_nHeldSpinBoxes = 0;
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
    // A file being written is finished first, so that leaving never cuts one. A write that
    // hangs past the bound goes on alone: its task owns everything it reads.
    if (!waitForAutoSaves(10000)) {
        qWarning() << "auto-save still running at exit";
        (void)m_pAutoSavePool.release();
    }
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
    m_pAutoSavePool = std::make_unique<QThreadPool>();
    m_pAutoSavePool->setMaxThreadCount(1); // one file at a time: names are chosen when written

    // Wheel and touch handling of the sixteen adjustment controls, sliders first.
    for (bool brightness : {true, false})
        for (int c : kButtonOrder)
            (brightness ? m_Controls[c].brightness : m_Controls[c].contrast)->installEventFilter(this);
    for (bool brightness : {true, false})
        for (int c : kButtonOrder)
            (brightness ? m_Controls[c].brightnessBox : m_Controls[c].contrastBox)->installEventFilter(this);
    for (int c = 0; c < kChannels; ++c) {
        const ChannelControls &k = m_Controls[c];
        connect(k.brightness, &QSlider::valueChanged, this, [this, c](int v) { sliderValueChanged(c, true, v); });
        connect(k.contrast, &QSlider::valueChanged, this, [this, c](int v) { sliderValueChanged(c, false, v); });
        connect(k.brightness, &QSlider::sliderReleased, this, [this, c] { applyBrightness(c); });
        connect(k.contrast, &QSlider::sliderReleased, this, [this, c] { applyContrast(c); });
        connect(k.thumbnail, &QPushButton::clicked, this, [this, c] { thumbnailClicked(c); });
    }

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

    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, &MultiColorWidget::tableContextMenu);

    for (bool brightness : {true, false})
        for (int c : kButtonOrder) {
            LSpinBox *box = brightness ? m_Controls[c].brightnessBox : m_Controls[c].contrastBox;
            connect(box, &LSpinBox::mouseButtonReleased, this,
                    [this, c, brightness](int value, bool) { spinBoxReleased(c, brightness, value); });
        }
    for (bool brightness : {true, false})
        for (int c : kButtonOrder)
            connect(brightness ? m_Controls[c].brightnessBox : m_Controls[c].contrastBox, &LSpinBox::mouseButtonPressed,
                    this, &MultiColorWidget::slotSPINBOX_MousePressed);
    connect(&m_MessageTimer, &QTimer::timeout, this, &MultiColorWidget::hideMessage);
    // A touch on the text field of a spin box opens the keyboard.
    for (bool brightness : {true, false})
        for (int c : kButtonOrder)
            if (auto *edit = (brightness ? m_Controls[c].brightnessBox : m_Controls[c].contrastBox)->findChild<QLineEdit *>())
                edit->installEventFilter(this);
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
    m_LineColor = colorTableEntry(readNumber(section, "LineColor", "1"));
    m_nFontThickness = readNumber(section, "FontThickness", "24");
    m_FontColor = colorTableEntry(readNumber(section, "FontColor", "1"));
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
    clearAnalysis();

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
    // Menu and panel are free before the panel's unlock hands out the taps made meanwhile.
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
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
    m_bFrameArrived = m_bStillRefused = false;
    emit capture();
    if (!m_bFrameArrived) {
        m_bAutoRun = false;
        returnToLive();
        if (m_bStillRefused) {
            MessageDlg dialog;
            dialog.setMessage(VideoWidget::kStillRefusedText);
            dialog.setButtonVisibility(MSG_BUTTON_OK);
            dialog.exec();
        }
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
    m_Unwritten.insert(++m_nCaptureSerial); // until its auto-save or a save has written it
    emit captured(true);
    emit saved(false);
    m_bAutosaveFailed = false;
    // Started before anything below lets a tap through (the state change frees the main menu),
    // so that a page left meanwhile finds the file already being written.
    if (m_nAutosave == 1)
        startAutoSave(channel, bits);

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
    if (g_CurrentMenu != MENU_MULTICOLOR) {
        m_bAutoRun = false; // the page was left during the state change: nothing more of it runs
        return;
    }
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
    m_Unwritten.clear();
    m_bChangedSinceSave = false;
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
    m_RowGeometry.clear();
    ui->BUTTON_CSV_EXPORT->setEnabled(false);
    if (m_pModel)
        m_pModel->clearMeasurementResult();
    resetMeasurementTool();
    clearAnalysis(); // the cleared image's histogram and values go with it
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
    ScaleBar::uncheckWithoutObjective(ui->CHKBOX_SCALEBAR, scaleBar);
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

// The analysis panel as it is before anything is measured: first tool page, no readout, no graph.
void MultiColorWidget::clearAnalysis()
{
    ui->STACKWIDGET_MEASUREMENT_TOOLS->setCurrentIndex(0);
    clearMeasuredInformation(true);
    setMeasurementControlEnabled(false);
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
    ui->LABEL_LENGTH->setText(lengthText(m_CurrentResult.length, unit));
}

void MultiColorWidget::on_COMB_AREA_UNIT_currentIndexChanged(int unit)
{
    if (m_CurrentResult.tool == TOOL_NONE || m_CurrentResult.tool == TOOL_DELETE)
        return;
    m_nAreaUnit = unit;
    ui->LABEL_AREA->setText(areaText(m_CurrentResult.area, unit));
}

// Numbers as the CSV file writes them (printf rounding), so that table and file agree.
static QString oneDecimal(double v, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return QString::fromLatin1(text);
}

// A converted value as the labels show it: 6 decimals in millimetres, else 1; "N/A" where the
// micrometre or millimetre value is unknown (no objective).
static QString unitText(float v, int unit)
{
    if (unit != 2 && (std::isnan(v) || v < 0))
        return "N/A";
    return oneDecimal(v, unit == 1 ? 6 : 1);
}

QString MultiColorWidget::lengthText(float pixels, int unit) const
{
    return unitText(MultiColorModel::length(pixels, unit, m_fPixelSize), unit);
}

QString MultiColorWidget::areaText(float pixels, int unit) const
{
    return unitText(MultiColorModel::area(pixels, unit, m_fPixelSize), unit);
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


// --- brightness and contrast ---------------------------------------------------------------------

void MultiColorWidget::sliderValueChanged(int c, bool brightness, int value)
{
    (brightness ? m_nBrightness : m_nContrast)[size_t(c)] = value;
    if (m_bSpinBoxSync)
        (brightness ? m_Controls[c].brightnessBox : m_Controls[c].contrastBox)->setValue(value);
}

void MultiColorWidget::slotSPINBOX_MousePressed(int, bool)
{
    m_bSpinBoxSync = false;
}

int MultiColorWidget::getEnableApplyTime(int channel, bool bBrightness) const
{
    const bool eight = channel >= 0 && channel < kChannels && m_nChannelBits[channel] == 8;
    int ms = m_nCurrentState == MULTI_TILE ? 3300 : m_nCurrentState == MULTI_OVERLAY ? 3500 : 2500;
    if (eight)
        ms = m_nCurrentState == MULTI_TILE ? 1600 : m_nCurrentState == MULTI_OVERLAY ? 2000 : 1200;
    if (!bBrightness)
        ms += eight ? 100 : 200;
    return ms;
}

void MultiColorWidget::spinBoxReleased(int c, bool brightness, int value)
{
    // The recomputation is slow: a release while an apply still blocks is held, and the box's
    // latest value is applied when the block ends, so every tap's step arrives.
    if (m_bApplyBlocked) {
        m_nHeldSpinBoxes |= 1u << (c + (brightness ? 0 : kChannels));
        return;
    }
    m_bApplyBlocked = true;
    QTimer::singleShot(getEnableApplyTime(c, brightness), this, &MultiColorWidget::enableApply);
    const ChannelControls &k = m_Controls[c];
    (brightness ? k.brightness : k.contrast)->setValue(value);
    applyAdjustment(c, brightness);
    m_bSpinBoxSync = true;
}

void MultiColorWidget::enableApply()
{
    m_bApplyBlocked = false;
    for (int bit = 0; bit < 2 * kChannels; ++bit) {
        if (!(m_nHeldSpinBoxes & (1u << bit)))
            continue;
        m_nHeldSpinBoxes &= ~(1u << bit);
        const int c = bit % kChannels;
        const bool brightness = bit < kChannels;
        const ChannelControls &k = m_Controls[c];
        spinBoxReleased(c, brightness, (brightness ? k.brightnessBox : k.contrastBox)->value());
        return; // the other held boxes follow when this apply's block ends
    }
}

void MultiColorWidget::keyboardEntry(int c, bool brightness)
{
    const ChannelControls &k = m_Controls[c];
    LSpinBox *box = brightness ? k.brightnessBox : k.contrastBox;
    if (!box->isEnabled())
        return;
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setText(box->text());
    if (keyboard.exec() != 1)
        return;
    const int value = keyboard.text().trimmed().toInt(); // no number counts as 0
    if (value < box->minimum() || value > box->maximum()) {
        MessageDlg dialog;
        dialog.setMsgType(MSG_INPUT_RANGE_EXCEEDED);
        dialog.exec();
        return;
    }
    if (value == box->value())
        return;
    (brightness ? k.brightness : k.contrast)->setValue(value);
    applyAdjustment(c, brightness);
}

bool MultiColorWidget::eventFilter(QObject *object, QEvent *event)
{
    if (event->type() != QEvent::Wheel && event->type() != QEvent::MouseButtonPress)
        return QWidget::eventFilter(object, event);
    for (int c = 0; c < kChannels; ++c) {
        const ChannelControls &k = m_Controls[c];
        for (bool brightness : {true, false}) {
            QObject *slider = brightness ? k.brightness : k.contrast;
            QObject *box = brightness ? k.brightnessBox : k.contrastBox;
            if (event->type() == QEvent::Wheel && (object == slider || object == box))
                return true;
            if (event->type() == QEvent::MouseButtonPress && object->parent() == box) {
                keyboardEntry(c, brightness);
                return true;
            }
        }
    }
    return QWidget::eventFilter(object, event);
}

void MultiColorWidget::applyAdjustment(int c, bool brightness)
{
    if (!m_pModel || c < 0 || c >= kChannels)
        return;
    QElapsedTimer timer;
    timer.start();
    {
        const ScopedBusyCursor busy;
        // The other adjustment, applied last, is computed afresh first so that this one builds on it.
        if (brightness && m_pModel->contrastApplied(c) && m_nLastApplied[c] == 2)
            m_pModel->setContrast(c, m_nContrast[c], true);
        if (!brightness && m_pModel->brightnessApplied(c) && m_nLastApplied[c] == 1)
            m_pModel->setBrightness(c, m_nBrightness[c], true);
        if (brightness)
            m_pModel->setBrightness(c, m_nBrightness[c], false);
        else
            m_pModel->setContrast(c, m_nContrast[c], false);
        const int bits = m_nChannelBits[c];
        m_pModel->makeOverlayImage(bits);
        const auto changed = brightness ? &MultiColorWidget::brightnessChanged : &MultiColorWidget::contrastChanged;
        const auto changedTile = brightness ? &MultiColorWidget::brightnessChangedTile : &MultiColorWidget::contrastChangedTile;
        void *shown = capturedImageFromModel(c, bits);
        uchar *shifted = m_pModel->imageShiftedData(c, bits);
        emit(this->*changed)(c, m_nChannelColor[c], shown, m_bPseudoColor, bits, shifted);
        emit(this->*changedTile)(c, m_nChannelColor[c], m_pModel->imageData(c, bits), m_bPseudoColor, c, bits);
        if (m_nCurrentState == MULTI_OVERLAY)
            emit overlayImageChanged(m_pModel->overlayImageData(bits), bits);
        else
            emit imageCaptured(c, m_nChannelColor[c], shown, m_bPseudoColor, bits, shifted); // re-measured too
        unsaved();
    }
    LSpinBox *box = brightness ? m_Controls[c].brightnessBox : m_Controls[c].contrastBox;
    box->setFocus(Qt::OtherFocusReason);
    box->clearFocus();
    m_nLastApplied[c] = brightness ? 1 : 2;
    qDebug().noquote() << QString("apply time : %1 ms").arg(timer.elapsed());
}

void MultiColorWidget::unsaved()
{
    m_bSavedBefore = false;
    markUnsaved();
    ui->BUTTON_RESET->setEnabled(true);
    ui->BUTTON_SAVE_BEFORE->show();
    ui->BUTTON_SAVE_AFTER->hide();
}

void MultiColorWidget::resetImageControl(int c)
{
    const ScopedBusyCursor busy;
    m_pModel->reset(c);
    emit signalResetImageTile(c, m_nChannelColor[c], m_pModel->imageData(c, m_nChannelBits[c]), m_bPseudoColor,
                              m_nChannelBits[c]);
}

void MultiColorWidget::on_BUTTON_RESET_clicked()
{
    bool any = false;
    for (int c : kButtonOrder) {
        if (!m_bChannelOn[c] || !m_pModel)
            continue;
        resetChannelValues(c);
        resetImageControl(c);
        any = true;
    }
    if (any) {
        if (m_nCurrentState == MULTI_OVERLAY) {
            m_pModel->makeOverlayImage(m_nCurrentBits);
            for (int c : kButtonOrder)
                if (holdsChannel(c))
                    emit brightnessChanged(c, m_nChannelColor[c], capturedImageFromModel(c, m_nChannelBits[c]),
                                           m_bPseudoColor, m_nChannelBits[c],
                                           m_pModel->imageShiftedData(c, m_nChannelBits[c]));
            emit overlayImageChanged(m_pModel->overlayImageData(m_nCurrentBits), m_nCurrentBits);
        } else {
            const int c = m_nSelectedIndex;
            emit imageCaptured(c, m_nChannelColor[c], capturedImageFromModel(c, m_nCurrentBits), m_bPseudoColor,
                               m_nCurrentBits, m_pModel->imageShiftedData(c, m_nCurrentBits));
        }
        m_nLastApplied.fill(0);
    }
    unsaved();
}

bool MultiColorWidget::isCaptured(int c) const
{
    if (c < 0 || c >= kChannels)
        return false;
    return m_bChannelOn[c] || (m_nCurrentState == MULTI_CHANNEL && holdsChannel(c));
}

bool MultiColorWidget::checkExistCapturedImage()
{
    if (std::any_of(m_bChannelOn.begin(), m_bChannelOn.end(), [](bool on) { return on; }))
        return true;
    MessageDlg dialog(true);
    dialog.setMessage("<p><b>Error!</b><br/><br/>At least one image must be selected.</p>");
    dialog.setButtonVisibility(MSG_BUTTON_OK);
    dialog.exec();
    return false;
}

void MultiColorWidget::thumbnailClicked(int c)
{
    if (!holdsChannel(c))
        return;
    if (m_nCurrentState == MULTI_CHANNEL) {
        if (c != m_nSelectedIndex)
            setDisplayImageState(MULTI_CHANNEL, c);
        return;
    }
    if (m_nCurrentState != MULTI_IDLE && m_nCurrentState != MULTI_OVERLAY)
        return;
    if (m_bChannelOn[c]) {
        m_bChannelOn[c] = false;
        if (!checkExistCapturedImage()) {
            m_bChannelOn[c] = true;
            return;
        }
        m_pModel->setSelectedImage(c, false);
        setChannelControlsEnabled(c, false);
        m_Controls[c].intensity->clear();
    } else {
        m_bChannelOn[c] = true;
        m_pModel->setSelectedImage(c, true);
        setChannelControlsEnabled(c, true);
    }
    update();
    if (m_nCurrentState == MULTI_OVERLAY) {
        const ScopedBusyCursor busy;
        m_pModel->makeOverlayImage(m_nCurrentBits);
        emit overlayImageChanged(m_pModel->overlayImageData(m_nCurrentBits), m_nCurrentBits);
    }
}

// --- saving and auto-save ------------------------------------------------------------------------

void MultiColorWidget::on_BUTTON_SAVE_BEFORE_clicked()
{
    emit signalMakeAnnotationImageData(true);
}

void MultiColorWidget::on_BUTTON_SAVE_AFTER_clicked()
{
    emit signalMakeAnnotationImageData(false);
}

void MultiColorWidget::slotSave(bool before, uchar *data, int size, bool, bool annotated)
{
    // The view hands one rendered 1280 x 1024 RGB frame; anything else is not saved.
    if (!data || size != kFramePixels * 3 || !m_pModel) {
        qDebug() << Q_FUNC_INFO << "===byte Error!!!!!" << size;
        return;
    }
    emit getScaleBarPoint();
    const bool overlay = m_nCurrentState == MULTI_OVERLAY;
    SaveOptionsDlg dialog(nullptr, m_bQuickSaving);
    dialog.setCurrentSaveOption(SAVE_OPTION_MULTICOLOR, m_bPseudoColor, overlay ? SUB_OPTION_OVERLAY_VIEW : SUB_OPTION_NONE);
    dialog.m_nViewIndex = overlay ? -1 : m_nSelectedIndex;
    dialog.setImageBits(m_nCurrentBits);
    dialog.setDrawingScaleBar(ui->BUTTON_MEASURE_SCALEBAR->isChecked(), m_nObjectiveLensPosition);
    dialog.m_ScaleBarPoint = m_ScaleBarPoint;
    bool held[kChannels] = {};
    for (int c = 0; c < kChannels; ++c) {
        if (!(held[c] = holdsChannel(c)))
            continue;
        if (m_nCurrentBits == 8) {
            dialog.setImageData8(c, m_pModel->imageData(c, 8));
            dialog.setImageData24(c, m_pModel->imageData(c, 24));
        } else {
            dialog.setImageData16(c, m_pModel->imageShiftedData(c, 16));
            dialog.setImageData48(c, m_pModel->imageShiftedData(c, 48));
        }
    }
    dialog.generateOverlayImageMetaData(held);
    m_pModel->makeOverlayImage(m_nCurrentBits);
    if (m_nCurrentBits == 8)
        dialog.setOverlayImageData24(m_pModel->overlayImageData(8));
    else
        dialog.setOverlayImageData48(m_pModel->overlayImageShiftedData(16));
    std::vector<uchar> annotation;
    if (annotated) {
        annotation.assign(data, data + size);
        dialog.setAnnotationImageData(annotation.data());
    }
    const int result = dialog.exec();
    if (result == 1) {
        if (before) {
            m_bSavedBefore = true;
            ui->BUTTON_SAVE_AFTER->setEnabled(true);
            ui->BUTTON_SAVE_AFTER->show();
            ui->BUTTON_SAVE_BEFORE->hide();
        }
        m_Unwritten.clear();
        m_bChangedSinceSave = false;
        emit saved(true);
    }
    if (m_nAutosave == 1 && m_bQuickSaving) {
        QString name;
        dialog.getFileNameFormat(name);
        showMessage(result == 1 ? QString("<p><b>Quick Save</b><br/>%1</p>").arg(name)
                                : QString("<p><b>Save Failed</b><br/>You are out of disk space.</p>"));
    }
}

void MultiColorWidget::on_BUTTON_QUICK_SAVE_clicked()
{
    if (m_nCurrentState < MULTI_LIVE || m_nCurrentState > MULTI_OVERLAY)
        return;
    ui->BUTTON_QUICK_SAVE->setEnabled(false);
    ui->BUTTON_QUICK_SAVE->repaint();
    m_bQuickSaving = true;
    if (m_nCurrentState == MULTI_LIVE)
        on_BUTTON_CAPTURE_clicked();
    else if (m_nCurrentState == MULTI_CHANNEL || m_nCurrentState == MULTI_OVERLAY)
        emit signalMakeAnnotationImageData(true);
    m_bQuickSaving = false;
    ui->BUTTON_QUICK_SAVE->setEnabled(true);
    ui->BUTTON_QUICK_SAVE->repaint();
}

void MultiColorWidget::startAutoSave(int channel, int bits)
{
    // Everything the task needs is taken now (the capture shared, which the model then leaves
    // as it is): it reads no field of the page or the model.
    const bool colour = m_bPseudoColor;
    const int depth = bits == 16 ? (colour ? 48 : 16) : (colour ? 24 : 8);
    auto job = std::make_shared<MultiColorAutoSave>(m_pModel->capturedImage(channel, depth), bits, colour, m_AutosavePath,
                                                    m_Controls[channel].name->text(), capturedImageMetaData().metaText());
    m_AutosaveFileName = job->fileName();
    m_AutoSaves.append({m_nCaptureSerial, QtConcurrent::run(m_pAutoSavePool.get(), [job] { return job->run(); })});
    auto *watcher = new QFutureWatcher<MultiColorAutoSave::Outcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        collectAutoSaves();
        watcher->deleteLater();
    });
    watcher->setFuture(m_AutoSaves.last().second);
}

void MultiColorWidget::collectAutoSaves()
{
    while (!m_AutoSaves.isEmpty() && m_AutoSaves.first().second.isFinished()) {
        const auto done = m_AutoSaves.takeFirst();
        const MultiColorAutoSave::Outcome outcome = done.second.result();
        if (outcome.written)
            m_Unwritten.remove(done.first);
        autoSaved(outcome);
    }
}

void MultiColorWidget::settleAutoSaves(int timeoutMs)
{
    if (!m_AutoSaves.isEmpty()) {
        ScopedBusyCursor busy;
        m_pAutoSavePool->waitForDone(timeoutMs);
    }
    collectAutoSaves();
    bool held = false;
    for (int c = 0; c < kChannels; ++c)
        held = held || holdsChannel(c);
    if (held && m_AutoSaves.isEmpty() && m_Unwritten.isEmpty() && !m_bChangedSinceSave)
        emit saved(true);
}

void MultiColorWidget::autoSaved(const MultiColorAutoSave::Outcome &outcome)
{
    m_AutosavePath = outcome.folder;
    if (outcome.folderChanged) // remembered on this thread, like every other setting
        WritePrivateProfileString("Setting_MultiColor", "AutosavePath", m_AutosavePath.toStdString(),
                                  Paths::configFile().toStdString());
    if (outcome.written) {
        showMessage(QString("<p><b>Quick Save</b><br/>%1</p>").arg(outcome.fileName));
        return;
    }
    m_bAutosaveFailed = true;
    showMessage(outcome.noSpace ? "<p><b>Save Failed</b><br/>You are out of disk space.</p>"
                                : "<p><b>Save Failed</b><br/>The image could not be written.</p>");
}

bool MultiColorWidget::waitForAutoSaves(int timeoutMs)
{
    return !m_pAutoSavePool || m_pAutoSavePool->waitForDone(timeoutMs);
}

void MultiColorWidget::showMessage(const QString &text)
{
    ui->LABEL_AUTOSAVE->setText(text);
    ui->LABEL_AUTOSAVE->show();
    ui->LABEL_AUTOSAVE->raise();
    m_MessageTimer.start(2000);
}

// --- measurement results and the result table ----------------------------------------------------

namespace {
constexpr int kStatColumn = 3; // first statistics column; four per channel in CH order
const char *const kLengthUnits[] = {"\u00b5m", "mm", "pixel"};
const char *const kAreaUnits[] = {"\u00b5m^2", "mm^2", "pixel^2"};

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// A labelled value with its unit: "-" when the label is empty, "N/A" alone when unknown.
QString withUnit(const QString &label, const char *unit)
{
    if (label.isEmpty())
        return "-";
    return label == "N/A" ? label : QString("%1 %2").arg(label, QString::fromUtf8(unit));
}
} // namespace

bool MultiColorWidget::hasStatistics(int tool)
{
    return tool == TOOL_LINE || tool == TOOL_POLYGON || tool == TOOL_ELLIPSE || tool == TOOL_RECTANGLE;
}

int MultiColorWidget::toolOfName(const QString &name)
{
    const char *names[] = {"None", "Line", "Angle", "Polygon", "Ellipse", "Rectangle", "Segment Line", "Freehand"};
    for (int t = 0; t < 8; ++t)
        if (name == names[t])
            return t;
    return TOOL_NONE;
}

bool MultiColorWidget::hasData(int filter) const
{
    if (filter < 0 || filter >= kChannels)
        return false;
    return m_bChannelOn[filter] || (m_nCurrentState == MULTI_CHANNEL && holdsChannel(filter));
}

// The overlay shows every channel; otherwise the one channel on screen.
bool MultiColorWidget::isShown(int filter) const
{
    return m_nCurrentState == MULTI_OVERLAY || filter == m_nSelectedIndex;
}

void MultiColorWidget::setOverlayMeasurementResult(TSMeasurementItem &item, int filterPosition)
{
    if (filterPosition >= 0 && filterPosition < kChannels)
        m_OverlayResult[filterPosition] = item;
}

void MultiColorWidget::setMeasurementResult(TSMeasurementItem &item, bool inserted)
{
    changeMeasurementResult(item);
    if (!inserted) {
        if (hasStatistics(item.tool))
            updateMeasurementResultTable(false);
        return;
    }
    if (item.tool >= TOOL_LINE && item.tool <= TOOL_FREE_HAND) {
        ui->BUTTON_CSV_EXPORT->setEnabled(true);
        setMeasurementResultTable();
    }
    markUnsaved();
}

void MultiColorWidget::markUnsaved()
{
    m_bChangedSinceSave = true;
    emit saved(false);
}

void MultiColorWidget::changeMeasurementResult(const TSMeasurementItem &item)
{
    clearMeasuredInformation(false);
    m_CurrentResult = item;
    // The tiles show no measurable image: a re-measure after an adjustment there updates the
    // table only, and the measured values and graph stay cleared as the tile state left them.
    if (m_nCurrentState == MULTI_TILE)
        return;
    switch (item.tool) {
    case TOOL_LINE:
    case TOOL_POLYGON:
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
    case TOOL_WHOLE_IMAGE: {
        if (item.tool != TOOL_WHOLE_IMAGE) {
            on_COMB_LENGTH_UNIT_currentIndexChanged(ui->COMB_LENGTH_UNIT->currentIndex());
            if (item.tool != TOOL_LINE)
                on_COMB_AREA_UNIT_currentIndexChanged(ui->COMB_AREA_UNIT->currentIndex());
        }
        ui->LABEL_HIST_MIN->setText(QString::number(item.minIntensity, 'f', 0));
        ui->LABEL_HIST_MAX->setText(QString::number(item.maxIntensity, 'f', 0));
        const bool overlay = m_nCurrentState == MULTI_OVERLAY;
        ui->LABEL_HIST_MEAN->setText(overlay ? "-" : QString::number(double(item.meanIntensity), 'f', 1));
        ui->LABEL_HIST_STD->setText(overlay ? "-" : QString::number(double(item.stdIntensity), 'f', 1));
        break;
    }
    case TOOL_ANGLE:
        ui->LABEL_ANGLE->setText(QString::number(double(item.angle), 'f', 1));
        break;
    case TOOL_SEGMENT_LINE:
    case TOOL_FREE_HAND:
        on_COMB_LENGTH_UNIT_currentIndexChanged(ui->COMB_LENGTH_UNIT->currentIndex());
        break;
    case TOOL_TEXT:
        on_BUTTON_MEASURE_SELECT_clicked();
        return;
    default:
        break;
    }
    if (item.tool == TOOL_LINE) {
        ui->LABEL_LINE_LENGTH->setText(QString::number(item.profile.size()));
        drawHistogram(false);
        drawLineProfile(true);
    } else if (item.tool == TOOL_POLYGON || item.tool == TOOL_ELLIPSE || item.tool == TOOL_RECTANGLE ||
               item.tool == TOOL_WHOLE_IMAGE) {
        drawHistogram(true);
    } else {
        drawHistogram(false);
        ui->LABEL_LINE_LENGTH->clear();
        ui->LABEL_LINE_MEAN->clear();
        drawLineProfile(false);
    }
}

TSMeasurementItem MultiColorWidget::rowRecord(int filter, const TSMeasurementItem &source, bool statistics,
                                              std::array<QString, 4> &cells) const
{
    TSMeasurementItem record = source;
    if (statistics && hasData(filter) && isShown(filter)) {
        const double values[] = {record.minIntensity, record.maxIntensity, record.meanIntensity, record.stdIntensity};
        for (size_t i = 0; i < 4; ++i)
            cells[i] = oneDecimal(values[i]);
        return record;
    }
    cells.fill("-");
    record.minIntensity = record.maxIntensity = 0;
    record.meanIntensity = record.stdIntensity = 0;
    return record;
}

void MultiColorWidget::setMeasurementResultTable()
{
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    const TSMeasurementItem &result = m_CurrentResult;
    const QString name = m_ToolName[size_t(qBound(0, int(result.tool), 7))];
    const bool statistics = hasStatistics(toolOfName(name));

    // The row's own geometry, as its cells show it: 0 where a cell shows "-", NaN for "N/A".
    RowGeometry geometry;
    geometry.tool = result.tool;
    geometry.lengthUnit = m_nLengthUnit;
    geometry.areaUnit = m_nAreaUnit;
    geometry.angle = result.angle;
    const QString lengthLabel = ui->LABEL_LENGTH->text(), areaLabel = ui->LABEL_AREA->text();
    if (!lengthLabel.isEmpty())
        geometry.length = MultiColorModel::length(result.length, m_nLengthUnit, m_fPixelSize);
    if (result.tool != TOOL_ANGLE && !areaLabel.isEmpty())
        geometry.area = MultiColorModel::area(result.area, m_nAreaUnit, m_fPixelSize);

    const int row = table->rowCount();
    table->insertRow(row);
    QTableWidgetItem *first = cell(name);
    first->setData(Qt::UserRole, result.key);
    table->setItem(row, 0, first);
    table->setItem(row, 1, cell(withUnit(lengthLabel, kLengthUnits[qBound(0, m_nLengthUnit, 2)])));
    table->setItem(row, 2, cell(result.tool == TOOL_ANGLE ? QString("%1 deg").arg(oneDecimal(result.angle))
                                                          : withUnit(areaLabel, kAreaUnits[qBound(0, m_nAreaUnit, 2)])));
    TSMeasurementItem bare = result; // no statistics of its own
    std::array<TSMeasurementItem, kChannels> records;
    for (int button = 0; button < kChannels; ++button) {
        const int f = kButtonOrder[size_t(button)];
        std::array<QString, 4> cells;
        records[f] = rowRecord(f, statistics ? m_OverlayResult[f] : bare, statistics, cells);
        for (int i = 0; i < 4; ++i)
            table->setItem(row, kStatColumn + 4 * button + i, cell(cells[size_t(i)]));
    }
    m_RowGeometry[result.key] = geometry;
    writeCsvRow(row, result.key, records);
}

void MultiColorWidget::writeCsvRow(int row, uint key, std::array<TSMeasurementItem, kChannels> records)
{
    const RowGeometry geometry = m_RowGeometry.value(key);
    // The CSV line takes the row's own tool, length, area and angle; the records give only the
    // statistics, indexed CH1..CH4.
    TSMeasurementItem byButton[kChannels];
    for (int button = 0; button < kChannels; ++button) {
        TSMeasurementItem &r = byButton[button];
        r = records[size_t(kButtonOrder[size_t(button)])];
        r.tool = TMeasurementTool(geometry.tool);
        r.length = geometry.length;
        r.area = geometry.area;
        r.angle = geometry.angle;
    }
    m_pModel->setOverlayMeasurementResult(row + 1, byButton, geometry.lengthUnit, geometry.areaUnit, 0);
}

int MultiColorWidget::rowOfKey(uint key) const
{
    const QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    for (int row = 0; row < table->rowCount(); ++row)
        if (const QTableWidgetItem *item = table->item(row, 0))
            if (item->data(Qt::UserRole).toUInt() == key)
                return row;
    return -1;
}

bool MultiColorWidget::getSelectedItemData(int &row, uint &key) const
{
    row = -1;
    key = 0;
    const QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    for (int r = 0; r < table->rowCount(); ++r) {
        const QTableWidgetItem *item = table->item(r, 0);
        if (item && item->isSelected()) {
            row = r;
            key = item->data(Qt::UserRole).toUInt();
            return true;
        }
    }
    return false;
}

void MultiColorWidget::clearTableSelection()
{
    ui->TABLEWIDGET_MEASUREMENT_RESULT->clearSelection();
    ui->TABLEWIDGET_MEASUREMENT_RESULT->clearFocus();
}

void MultiColorWidget::slotChangeMeasurementResultTable(uint key, std::vector<TSMeasurementItem> &items)
{
    const int row = rowOfKey(key);
    if (row < 0 || items.size() < size_t(kChannels))
        return;
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    if (!hasStatistics(toolOfName(table->item(row, 0)->text())))
        return;
    std::array<TSMeasurementItem, kChannels> records;
    for (int button = 0; button < kChannels; ++button) {
        const int f = kButtonOrder[size_t(button)];
        std::array<QString, 4> cells;
        records[f] = rowRecord(f, items[size_t(f)], true, cells);
        for (int i = 0; i < 4; ++i)
            table->item(row, kStatColumn + 4 * button + i)->setText(cells[size_t(i)]);
    }
    writeCsvRow(row, key, records);
}

void MultiColorWidget::updateMeasurementResultTable(bool all)
{
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    int selected;
    uint selectedKey;
    if (!all && !getSelectedItemData(selected, selectedKey))
        return;
    for (int row = all ? 0 : selected; row < (all ? table->rowCount() : selected + 1); ++row) {
        const QTableWidgetItem *item = table->item(row, 0);
        const int tool = item ? toolOfName(item->text()) : TOOL_NONE;
        const uint key = item ? item->data(Qt::UserRole).toUInt() : 0;
        if (hasStatistics(tool) && key != 0)
            emit recalcMeasurementItem(key, TMeasurementTool(tool));
    }
}

void MultiColorWidget::changeMeasurementItem(bool askView)
{
    if (askView)
        emit getSelectedDiagramItemKeyList();
    int row;
    uint key;
    if (getSelectedItemData(row, key) && !(askView && m_SelectedKeys.isEmpty())) {
        emit signalCalcMeasurementItem(key, TMeasurementTool(toolOfName(
                                                ui->TABLEWIDGET_MEASUREMENT_RESULT->item(row, 0)->text())));
        return;
    }
    clearTableSelection();
    slotUpdateImageHistogram();
}

void MultiColorWidget::slotUpdateImageHistogram()
{
    const int tool = m_nCurrentTool;
    emit measurementToolChanged(TOOL_WHOLE_IMAGE);
    m_nCurrentTool = tool;
    if (tool != TOOL_NONE && tool != TOOL_WHOLE_IMAGE)
        emit measurementToolChanged(tool);
}

void MultiColorWidget::slotSetSelectedDiagramItemKeyList(QVector<uint> &keys)
{
    m_SelectedKeys = keys;
}

void MultiColorWidget::on_TABLEWIDGET_MEASUREMENT_RESULT_cellClicked(int row, int)
{
    if (m_nCurrentTool != TOOL_NONE)
        on_BUTTON_MEASURE_SELECT_clicked();
    const QTableWidgetItem *item = ui->TABLEWIDGET_MEASUREMENT_RESULT->item(row, 0);
    const uint key = item ? item->data(Qt::UserRole).toUInt() : 0;
    if (key == 0)
        return;
    emit setCurrentSelectedItem(key);
    changeMeasurementItem(false);
}

void MultiColorWidget::slotChangeCurrentSelectedItem(uint key, bool selected, bool inserted)
{
    if (inserted && !ui->BUTTON_ANNOTATE->isChecked()) {
        m_bShowAnnotation = !m_bShowAnnotation;
        emit showAnnotation(m_bShowAnnotation);
        ui->BUTTON_ANNOTATE->setChecked(true);
    }
    int selectedRow;
    uint selectedKey;
    getSelectedItemData(selectedRow, selectedKey);
    const int row = rowOfKey(key);
    if (row < 0)
        return;
    if (!selected) {
        clearTableSelection();
        return;
    }
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    if (row != selectedRow || inserted) {
        table->selectRow(row);
        table->scrollToItem(table->item(row, 0));
    }
    if (!inserted)
        changeMeasurementItem(true);
}

void MultiColorWidget::removeResultRow(int row)
{
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    if (hasStatistics(toolOfName(table->item(row, 0)->text()))) {
        drawHistogram(false);
        drawLineProfile(false);
    }
    m_RowGeometry.remove(table->item(row, 0)->data(Qt::UserRole).toUInt());
    table->removeRow(row);
    m_pModel->csvReaderWriter().removeCSVData(row + 1);
    clearTableSelection();
}

void MultiColorWidget::slotDeletedItem(uint key)
{
    const int row = rowOfKey(key);
    if (row >= 0)
        removeResultRow(row);
}

void MultiColorWidget::tableContextMenu(QPoint point)
{
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    int row;
    uint key;
    if (table->rowCount() < 1 || !getSelectedItemData(row, key))
        return;
    QMenu menu(this);
    menu.setFont(m_Font8);
    QAction *remove = menu.addAction("Delete");
    if (menu.exec(table->viewport()->mapToGlobal(point)) != remove)
        return;
    emit deleteItem(key);
    removeResultRow(row);
}

void MultiColorWidget::on_BUTTON_TABLE_CLEAR_clicked()
{
    MessageDlg dialog;
    dialog.setMsgType(MSG_DELETE_DATA);
    if (dialog.exec() != 1)
        return;
    emit deleteItem(0);
    ui->TABLEWIDGET_MEASUREMENT_RESULT->clearContents();
    ui->TABLEWIDGET_MEASUREMENT_RESULT->setRowCount(0);
    m_RowGeometry.clear();
    ui->BUTTON_CSV_EXPORT->setEnabled(false);
    m_pModel->clearMeasurementResult();
    slotUpdateImageHistogram();
}

void MultiColorWidget::setCurrentImagePositionAndIntensity(QPoint point, int value, int filter)
{
    ui->LABEL_X->setText(QString::number(point.x()));
    ui->LABEL_Y->setText(QString::number(point.y()));
    if (hasData(filter))
        m_Controls[filter].intensity->setText(QString::number(value));
}

// --- histogram and line profile ------------------------------------------------------------------

QColor MultiColorWidget::graphColor(int filter) const
{
    if (filter == 0)
        return Qt::lightGray;
    const QColor color = g_ColorTable[clampColorIndex(m_nChannelColor[size_t(qBound(0, filter, 3))])];
    return color == QColor(Qt::blue) ? QColor(1, 122, 255) : color; // pure blue hardly shows on black
}

int MultiColorWidget::shownBits() const
{
    return m_nCurrentBits == 16 ? 16 : 8;
}

bool MultiColorWidget::beginGraph(TGraphMode mode, bool show)
{
    if (mode == GRAPH_HISTOGRAM)
        setUIHistogramEnabled(show);
    else
        setUILineProfileEnabled(show);
    const QSize size = ui->LABEL_HISTOGRAM->size();
    if (m_GraphPixmap.size() != size)
        m_GraphPixmap = QPixmap(size);
    m_GraphPixmap.fill(Qt::black);
    if (!show) {
        ui->LABEL_HISTOGRAM->setPixmap(m_GraphPixmap);
        return false;
    }
    showhideHistogramCtrl(mode);
    return true;
}

std::vector<std::pair<const TSMeasurementItem *, QColor>> MultiColorWidget::graphCurves() const
{
    std::vector<std::pair<const TSMeasurementItem *, QColor>> curves;
    if (m_nCurrentState != MULTI_OVERLAY) {
        curves.emplace_back(&m_CurrentResult, graphColor(m_nSelectedIndex));
        return curves;
    }
    for (int f : kButtonOrder)
        if (m_bChannelOn[f])
            curves.emplace_back(&m_OverlayResult[f], graphColor(f));
    return curves;
}

void MultiColorWidget::drawHistogram(bool show)
{
    if (!beginGraph(GRAPH_HISTOGRAM, show))
        return;
    const int w = m_GraphPixmap.width(), h = m_GraphPixmap.height();
    const double xScale = double(w - 2) / (shownBits() == 16 ? 4095 : 255);
    const auto curves = graphCurves();
    int largest = 0;
    for (const auto &curve : curves)
        largest = std::max(largest, curve.first->histogramMaxCount);
    if (largest < 1)
        return;
    const double yScale = double(h - 1) / largest;
    QPainter painter(&m_GraphPixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setOpacity(0.9);
    for (const auto &curve : curves) {
        const std::vector<int> &counts = curve.first->histogram;
        if (counts.size() < 2)
            continue;
        QPolygonF polygon;
        for (size_t j = 0; j < counts.size(); ++j)
            polygon << QPointF(j * xScale, std::max(0.0, h - 1 - counts[j] * yScale));
        polygon << QPointF(polygon.last().x(), h - 1) << QPointF(polygon.first().x(), h - 1);
        painter.setBrush(curve.second);
        painter.drawPolygon(polygon, Qt::OddEvenFill);
    }
    painter.end();
    ui->LABEL_HISTOGRAM->setPixmap(m_GraphPixmap);
}

void MultiColorWidget::drawLineProfile(bool show)
{
    if (!beginGraph(GRAPH_LINE_PROFILE, show))
        return;
    const int w = m_GraphPixmap.width(), h = m_GraphPixmap.height();
    const double yScale = double(h - 1) / (shownBits() == 16 ? 4095 : 255);
    const auto lines = graphCurves();
    size_t n = 0;
    for (const auto &line : lines)
        n = std::max(n, line.first->profile.size());
    if (n < 2)
        return;
    const double xStep = double(w - 1) / double(n - 1);
    QPainter painter(&m_GraphPixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(0.9);
    for (const auto &line : lines) {
        QPolygonF points;
        const std::vector<int> &profile = line.first->profile;
        for (size_t j = 0; j < profile.size(); ++j)
            points << QPointF(j * xStep, h - profile[j] * yScale);
        painter.setPen(QPen(line.second, 1));
        painter.drawPolyline(points);
    }
    painter.end();
    ui->LABEL_HISTOGRAM->setPixmap(m_GraphPixmap);
}

// --- exports -------------------------------------------------------------------------------------

CSVReaderWriter MultiColorWidget::resultCsv() const
{
    CSVReaderWriter csv = m_pModel->csvReaderWriter();
    QByteArray header = "Tool,Length,Area/Angle";
    for (int f : kButtonOrder) {
        const QString name = m_Controls[f].name->text();
        for (const char *column : {"Min(%1)", "Max(%1)", "Mean(%1)", "Std(%1)"})
            header += ',' + CSVReaderWriter::field(QString(column).arg(name));
    }
    csv.setHeader(header);
    return csv;
}

CSVReaderWriter MultiColorWidget::graphCsv() const
{
    const bool profile = m_bLineProfileShown;
    CSVReaderWriter csv;
    QByteArray header = "Num";
    for (int f : kButtonOrder)
        header += ',' + CSVReaderWriter::field(QString("Intensity(%1)").arg(m_Controls[f].name->text()));
    csv.setHeader(header);
    std::array<const std::vector<int> *, kChannels> columns{}; // CH order; null where not taking part
    size_t n = 0;
    for (int button = 0; button < kChannels; ++button) {
        const int f = kButtonOrder[size_t(button)];
        if (!hasData(f) || !isShown(f))
            continue;
        columns[size_t(button)] = profile ? &m_OverlayResult[f].profile : &m_OverlayResult[f].histogram;
        n = std::max(n, columns[size_t(button)]->size());
    }
    for (size_t j = 0; j < n; ++j) {
        QByteArray line = QByteArray::number(qulonglong(j));
        for (const std::vector<int> *column : columns)
            line += ',' + QByteArray::number(column && column->size() > j ? (*column)[j] : 0);
        csv.fillCSVData(line);
    }
    return csv;
}

void MultiColorWidget::runCsvSave(CSVReaderWriter &csv)
{
    SaveOptionsDlg dialog(nullptr, false);
    dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true, SUB_OPTION_NONE);
    dialog.setImageBits(shownBits());
    dialog.setCSVReaderWriter(csv);
    dialog.exec();
}

void MultiColorWidget::on_BUTTON_CSV_EXPORT_clicked()
{
    CSVReaderWriter csv = resultCsv();
    runCsvSave(csv);
}

void MultiColorWidget::on_BUTTON_HISTOGRAM_EXPORT_clicked()
{
    CSVReaderWriter csv = graphCsv();
    runCsvSave(csv);
}
