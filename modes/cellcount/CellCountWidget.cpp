// The Cell count page: construction, settings, states and the buttons around the count run.
#include "CellCountWidget.h"

#include "CellCount_alg.h"
#include "CellCounter.h"
#include "ConfigSetting.h"
#include "CountWorkFiles.h"
#include "DiluionCalculatorDlg.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "PageCursor.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ProtocolDlg.h"
#include "ProtocolFile.h"
#include "ScaleBar.h"
#include "Utilities.h"
#include "ui_CellCountWidget.h"

#include <QDebug>
#include <QEvent>
#include <QToolTip>
#include <climits>
#include <cstring>

namespace {

float readFloat(const char *section, const char *key, const char *def)
{
    return float(std::strtod(readConfigSetting(section, key, def).toStdString().c_str(), nullptr));
}

} // namespace

CellCountWidget::CellCountWidget(QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint)
    , ui(new Ui_CellCountWidget)
{
    m_WorkingProtocol.Init();
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
    m_bAFDone = false;
    m_bResultAvailable = false;

    ui->comboBox->hide();
    ui->CHKBOX_AF->setChecked(true);
    ui->CHKBOX_INTENSITY->setChecked(true);
    for (QWidget *w : {static_cast<QWidget *>(ui->SPINBOX_INTENSITY_MAX), static_cast<QWidget *>(ui->SPINBOX_INTENSITY_MIN),
                       static_cast<QWidget *>(ui->SPINBOX_RATIO), static_cast<QWidget *>(ui->LABEL_REQUIREMENTS)})
        w->hide();
    ui->BUTTON_MODE1->setChecked(true);
    ui->BUTTON_MODE2->setChecked(false);
    ui->STACKEDWIDGET->setCurrentIndex(0);

    m_TooltipAnchor = QPoint(0, 0);
    ui->CHKBOX_SCALEBAR->setChecked(false);
    ui->CHKBOX_SCALEBAR->hide();
    for (QWidget *w : {static_cast<QWidget *>(ui->FRAME_GRAPH_FRAME_ORG), static_cast<QWidget *>(ui->BUTTON_MINUS),
                       static_cast<QWidget *>(ui->BUTTON_PLUS), static_cast<QWidget *>(ui->FRAME_BAR),
                       static_cast<QWidget *>(ui->BUTTON_MIN_CELL_SIZE_CONTROL),
                       static_cast<QWidget *>(ui->BUTTON_MAX_CELL_SIZE_CONTROL), static_cast<QWidget *>(ui->BUTTON_APPLY)})
        w->hide();

    m_fCMOSPixelSize = 3.63f;
    m_fReductionLens = 0.655f;

    m_pImageData16.reset(new quint16[kPixels]());
    m_pImageData8Plane.reset(new unsigned char[kPixels]());
    m_pColorImage.reset(new unsigned char[size_t(kPixels) * 3]());
    m_pLabelImage.reset(new int[kPixels]());
    // One record per blob label, label 0 included.
    m_pBlobs.reset(new _MainDeclusterCountInfo_NimboS[CellCount_alg::kLabelLimit + 1]);
    m_pWorkFiles = std::make_unique<CountWorkFiles>();

    m_nBinCount = 0;
    m_fCellSizeOffset = 0;
    m_nPseudoColorIndex = 7;
    m_nFilterPosition = 0;

    m_MoveWatch.setSingleShot(true);
    connect(&m_MoveWatch, &QTimer::timeout, this, &CellCountWidget::slotMoveTimedOut);
    initialize();
}

CellCountWidget::~CellCountWidget()
{
    // A running count thread writes into the buffers below: it ends first.
    Counting_Free();
    // The last count's files are not lost with the page (nobody is told of a failure now).
    bool tagWritten = true;
    QString error;
    if (!m_pWorkFiles->write(tagWritten, error))
        qWarning() << "Cell count: work files not written:" << error;
    delete m_pStartDlg.data();
    delete m_pCountingDlg.data();
    delete m_pCellCountAlg;
    m_pCellCountAlg = nullptr;
    delete m_pCellCounter;
    m_pCellCounter = nullptr;
    m_pBlobs.reset();
    m_pLabelImage.reset();
    m_pImageData16.reset();
    m_pImageData8Plane.reset();
    m_pColorImage.reset();
    delete ui;
}

void CellCountWidget::initialize()
{
    const QString um = QString::fromUtf8("µm");
    ui->LABEL_MIN_UM->setText(um);
    ui->LABEL_MAX_UM->setText(um);
    ui->LABEL_CELL_SIZE_UM->setText(QString::fromUtf8("Cell size (µm)"));

    m_nCountMode = 1;
    m_nStartError = CELLCOUNT_ERR_NONE;
    m_bLiveDead = true;

    m_DisplayImage = QImage(kWidth, kHeight, QImage::Format_Indexed8);
    m_DisplayImage.setColorTable(g_PseudoColorTable[7].isEmpty() ? QVector<QRgb>() : g_PseudoColorTable[7]);
    m_DisplayImage.fill(0);
    m_pImageData8 = m_DisplayImage.bits();

    m_bPseudoColor = false;
    m_bSaved = false;
    m_bFirstTime = true;
    m_bLEDOn = false;

    readSetting();

    m_nSelectedGate = 0;
    m_nCellType = 0;
    m_nConcentrationOrNumber = 0;
    m_bClusterMap = false;
    m_nMaxBinCount = 1;
    m_nCurrentThumbnailIndex = -1;
    m_fMaxBinMantissa = 1.0f;
    HistogramButtonState(); // the axis labels and pictures of these defaults

    const float firmware = firmwareVer(readConfigSetting("NIMBO", "Firmware", ""));
    ui->BUTTON_REQUIREMENTS->setStyleSheet(firmware > 2.5f
                                               ? "QPushButton { border-image: url(:/UI/Requirements.png); }"
                                               : "QPushButton { border-image: url(:/UI/Requirements_Far right.png); }");
    ui->CHECK_AUTO_TEST->hide();
    if (isQCTestMode())
        ui->CHECK_AUTO_TEST->show();
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

void CellCountWidget::readSetting()
{
    // Only the 8-bit and the 16-bit camera modes exist.
    m_nCameraBits = readConfigSetting("Camera", "Mode", "8").toInt() == 16 ? 16 : 8;
    m_fCMOSPixelSize = readFloat("ScaleBar", "CMOSPixelSize", "3.63");
    m_fReductionLens = readFloat("ScaleBar", "ReductionLensMagnification", "0.655");
    m_fCellSizeOffset = readFloat("Setting_Misc", "CellSize_Offset", "5");
    // A name edited by hand that is not usable loads DEFAULT: the page and the second engine use
    // the name actually loaded.
    m_CellCount.LoadProtocol(readConfigSetting("Protocol Name", "Name", "DEFAULT"));
    m_strProtocolName = m_CellCount.protocol().name;
    ui->LABEL_PROTOCOL->setText(m_strProtocolName);
    if (isCurrentMenu())
        on_CHKBOX_SCALEBAR_clicked();
}

bool CellCountWidget::isCurrentMenu() const
{
    return g_CurrentMenu == MENU_CELLCOUNT;
}

void CellCountWidget::setCurrentState(TCellCountState state)
{
    m_nCurrentState = state;
    changeState();
}

void CellCountWidget::setTheFirstTime(bool bFirstTime)
{
    clearResult();
    m_bFirstTime = bFirstTime;
}

// ---------------------------------------------------------------------------------------------
// States

void CellCountWidget::setUIControlEnabled(bool enable)
{
    ui->BUTTON_NEXT_COUNT->setEnabled(enable);
    ui->BUTTON_SAVE_BEFORE->setEnabled(enable);
    ui->BUTTON_SAVE_AFTER->setEnabled(enable);
}

void CellCountWidget::setCountUIControlEnabled()
{
    switch (m_nCurrentState) {
    case CELLCOUNT_IDLE:
    case CELLCOUNT_LIVE:
        ui->BUTTON_CAPTURE->setEnabled(m_nCurrentState == CELLCOUNT_LIVE);
        if (m_nCurrentState == CELLCOUNT_LIVE)
            ui->BUTTON_PROTOCOL->setEnabled(true);
        ui->BUTTON_DILUTION_CALC->setEnabled(false);
        ui->BUTTON_TAG->setEnabled(false);
        ui->BUTTON_TAG->setCheckable(false);
        break;
    case CELLCOUNT_RESULT: {
        const bool counted = m_nCountMode != 1;
        ui->BUTTON_CAPTURE->setEnabled(false);
        ui->BUTTON_DILUTION_CALC->setEnabled(counted);
        ui->BUTTON_TAG->setCheckable(counted);
        ui->BUTTON_TAG->setEnabled(counted);
        break;
    }
    case CELLCOUNT_COUNTING:
        break;
    }
}

void CellCountWidget::changeState()
{
    switch (m_nCurrentState) {
    case CELLCOUNT_IDLE:
        setUIControlEnabled(false);
        if (m_bFirstTime) {
            ui->BUTTON_SAVE_AFTER->setEnabled(false);
            ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        }
        ui->BUTTON_SAVE_AFTER->setVisible(!m_bFirstTime && m_bSaved);
        ui->BUTTON_SAVE_BEFORE->setVisible(m_bFirstTime || !m_bSaved);
        ui->BUTTON_LIVE->setVisible(m_bFirstTime);
        if (!m_bFirstTime)
            ui->BUTTON_NEXT_COUNT->setEnabled(true);
        ui->BUTTON_NEXT_COUNT->setVisible(!m_bFirstTime);
        ui->BUTTON_COUNT->hide();
        ui->CHKBOX_SCALEBAR->hide();
        setCountUIControlEnabled();
        break;
    case CELLCOUNT_LIVE:
        setUIControlEnabled(true);
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->setVisible(m_bSaved);
        ui->BUTTON_SAVE_BEFORE->setVisible(!m_bSaved);
        ui->BUTTON_LIVE->hide();
        ui->BUTTON_COUNT->show();
        ui->BUTTON_NEXT_COUNT->hide();
        ui->CHKBOX_SCALEBAR->hide();
        setCountUIControlEnabled();
        break;
    case CELLCOUNT_RESULT:
        setUIControlEnabled(true);
        ui->BUTTON_SAVE_BEFORE->show();
        ui->BUTTON_SAVE_AFTER->hide();
        ui->BUTTON_COUNT->hide();
        ui->BUTTON_NEXT_COUNT->show();
        if (isCurrentMenu())
            on_CHKBOX_SCALEBAR_clicked();
        setCountUIControlEnabled();
        break;
    case CELLCOUNT_COUNTING:
        setUIControlEnabled(true);
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        break;
    }
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit changedState();
}

// ---------------------------------------------------------------------------------------------
// Slots of the main window

void CellCountWidget::setPseudoColor(bool on, int filterPosition, int colorIndex)
{
    m_bPseudoColor = on;
    m_nFilterPosition = filterPosition;
    m_nPseudoColorIndex = colorIndex;
}

void CellCountWidget::changedExposure(int exposure)
{
    if (isCurrentMenu())
        m_nExposure = exposure;
}

void CellCountWidget::slotLEDState(bool on)
{
    if (!isCurrentMenu())
        return;
    m_bLEDOn = on;
    if (m_nCurrentState != CELLCOUNT_LIVE)
        return;
    ui->BUTTON_CAPTURE->setEnabled(on);
    if (ui->BUTTON_MODE1->isChecked())
        ui->BUTTON_COUNT->setEnabled(on);
    ui->BUTTON_NEXT_COUNT->setEnabled(on);
}

void CellCountWidget::slotWaitForVideoWidgetIsStarted()
{
    if (!isCurrentMenu())
        return;
    PageCursor::normal();
    if (m_bLEDOn && m_nCurrentState == CELLCOUNT_LIVE) {
        ui->BUTTON_CAPTURE->setEnabled(true);
        if (ui->BUTTON_MODE1->isChecked())
            ui->BUTTON_COUNT->setEnabled(true);
        ui->BUTTON_NEXT_COUNT->setEnabled(true);
    }
    // Menu and panel are free before the panel's unlock hands out the taps made meanwhile.
    emit signalEnableMainMenu(true);
    emit signalEnableControlWidgetUI(true);
}

void CellCountWidget::slotWaitForVideoWidgetIsStopped()
{
    if (!isCurrentMenu())
        return;
    PageCursor::normal();
    ui->BUTTON_LIVE->setEnabled(true);
    if (m_nCurrentState == CELLCOUNT_LIVE) {
        ui->BUTTON_CAPTURE->setEnabled(true);
        if (ui->BUTTON_MODE1->isChecked())
            ui->BUTTON_COUNT->setEnabled(true);
        ui->BUTTON_NEXT_COUNT->setEnabled(true);
    } else if (m_nCurrentState == CELLCOUNT_RESULT) {
        QPushButton *shown = m_bSaved ? ui->BUTTON_SAVE_AFTER : ui->BUTTON_SAVE_BEFORE;
        QPushButton *hidden = m_bSaved ? ui->BUTTON_SAVE_BEFORE : ui->BUTTON_SAVE_AFTER;
        shown->setEnabled(true);
        shown->show();
        hidden->hide();
    }
    emit signalEnableMainMenu(true);
}

void CellCountWidget::slotScaleBarCheckBoxState(TSScaleBar scaleBar)
{
    ScaleBar::uncheckWithoutObjective(ui->CHKBOX_SCALEBAR, scaleBar);
}

void CellCountWidget::slotChangedCurrentThumbnailIndex(int index)
{
    const std::vector<ThumbnailInfo> &thumbnails = m_CellCount.thumbnails();
    if (index >= 0 && size_t(index) < thumbnails.size()) {
        m_nCurrentThumbnailIndex = index;
        m_nCountMode = thumbnails[size_t(index)].kind;
    }
    emit measurementToolChanged(m_nCountMode == 1 ? 10 : 0);
}

void CellCountWidget::setMeasurementResult(TSMeasurementItem &item)
{
    if (int(item.tool) == 10) // the point-count tool of manually captured frames
        ui->LABEL_MANUAL_COUNT->setText(QString::number(item.count));
}

// ---------------------------------------------------------------------------------------------
// Buttons

void CellCountWidget::on_BUTTON_LIVE_clicked()
{
    PageCursor::busy();
    emit signalEnableMainMenu(false);
    setUIControlEnabled(false);
    qProcessEvents(QEventLoop::ExcludeUserInputEvents);
    emit liveMode(true);
    emit lightOn();
    if (m_nFilterPosition != 0) {
        // Row 0 of gain and exposure for the next time the Trans cube comes in.
        const std::string file = Paths::configFile().toStdString();
        WriteSetting("Filter_0", "Gain", "0", file);
        WriteSetting("Filter_0", "Exposure", "0", file);
    } else {
        emit lightPower(-1, 0, 0);
    }
    m_nCurrentState = CELLCOUNT_LIVE;
    changeState();
}

void CellCountWidget::on_BUTTON_MODE1_clicked()
{
    ui->BUTTON_MODE1->setChecked(true);
    if (ui->STACKEDWIDGET->currentIndex() != 0) {
        ui->BUTTON_COUNT->setEnabled(true);
        ui->BUTTON_MODE2->setChecked(false);
        ui->STACKEDWIDGET->setCurrentIndex(0);
    }
}

void CellCountWidget::on_BUTTON_MODE2_clicked()
{
    ui->BUTTON_MODE2->setChecked(true);
    if (ui->STACKEDWIDGET->currentIndex() != 1) {
        ui->BUTTON_COUNT->setEnabled(false);
        ui->BUTTON_MODE1->setChecked(false);
        ui->STACKEDWIDGET->setCurrentIndex(1);
    }
}

void CellCountWidget::on_BUTTON_TAG_clicked()
{
    emit showTagImage(ui->BUTTON_TAG->isChecked(), true);
}

void CellCountWidget::on_BUTTON_PROTOCOL_clicked()
{
    ProtocolDlg dialog(m_strProtocolName);
    dialog.exec();
    if (ui->comboBox->currentIndex() == 1) {
        dialog.GetProtocol_Vesk(m_ProtocolVesk);
        // The second engine reads its own file of the chosen name: the name stays.
        if (m_ProtocolVesk.name.isEmpty())
            m_ProtocolVesk.name = dialog.currentProtocol().name;
        m_strProtocolName = m_ProtocolVesk.name;
    } else {
        m_CellCount.protocol() = dialog.currentProtocol();
        m_strProtocolName = m_CellCount.protocol().name;
    }
    ui->LABEL_PROTOCOL->setText(m_strProtocolName);
}

void CellCountWidget::on_BUTTON_DILUTION_CALC_clicked()
{
    DiluionCalculatorDlg dialog;
    dialog.setConcentration(m_fTotalMantissa, m_nTotalExponent, m_fLiveMantissa, m_nLiveExponent, m_fDeadMantissa,
                            m_nDeadExponent);
    dialog.exec();
}

void CellCountWidget::on_CHKBOX_SCALEBAR_clicked()
{
    if (isCurrentMenu())
        emit signalShowScaleBar(ui->CHKBOX_SCALEBAR->isChecked());
}

void CellCountWidget::slotShowTooltip()
{
    const QPoint at = ui->LABEL_REQUIREMENTS->parentWidget()->mapToGlobal(m_TooltipAnchor) - QPoint(0, 10);
    QToolTip::showText(at, "<img src=':UI/RequirementsToolTip.png'/>", nullptr, QRect(), INT_MAX);
}

void CellCountWidget::slotHideTooltip()
{
    QToolTip::showText(QPoint(0, 0), QString());
}

// The count's files are on the disk before the user is anywhere else.
void CellCountWidget::hideEvent(QHideEvent *event)
{
    flushWorkFiles();
    QWidget::hideEvent(event);
}

bool CellCountWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (isCurrentMenu() && watched == ui->BUTTON_REQUIREMENTS && m_nCurrentState != CELLCOUNT_COUNTING) {
        if (event->type() == QEvent::Enter) {
            PageCursor::busy(Qt::WhatsThisCursor);
            return true;
        }
        if (event->type() == QEvent::Leave) {
            PageCursor::normal();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CellCountWidget::LoadImages()
{
    static const char *const names[8] = {":/UI/graph/graph_background.png", ":/UI/graph/graph.png",
                                         ":/UI/graph/cell size.png",        ":/UI/graph/bar.png",
                                         ":/UI/graph/cellsize_um.png",      ":/UI/graph/cell size - clustermap.png",
                                         ":/UI/graph/min.max.png",          ":/UI/graph/cell cluster1.png"};
    for (int i = 0; i < 8; ++i)
        m_GraphPixmaps[i].load(names[i]);
}

// ---------------------------------------------------------------------------------------------
// Result panel

void CellCountWidget::showResultFrame(bool show)
{
    ui->FRAME_RESULT->setVisible(show);
    ui->FRAME_HISTOGRAM->setVisible(show);
    QLabel *caption = ui->LABEL_CATEGORY_2;
    const int top = show ? ui->FRAME_HISTOGRAM->y() - caption->height() - 1
                         : ui->LABEL_CATEGORY_1->geometry().bottom() + 4;
    caption->move(caption->x(), top);
}

void CellCountWidget::clearResult()
{
    m_bResultAvailable = false;
    for (QLabel *label : {ui->LABEL_MANUAL_COUNT, ui->LABEL_TOTAL, ui->LABEL_LIVE, ui->LABEL_DEAD, ui->LABEL_VIABILITY,
                          ui->LABEL_AVG, ui->LABEL_TOTAL_NUM, ui->LABEL_LIVE_NUM, ui->LABEL_DEAD_NUM, ui->LABEL_DILUTION})
        label->clear();
    showResultFrame(false);
}

void CellCountWidget::showGridLine(bool show)
{
    for (QWidget *line : {ui->line_1, ui->line_2, ui->line_3, ui->line_4, ui->line_5, ui->line_6})
        line->setVisible(show);
}
