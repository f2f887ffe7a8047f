#include "SingleWidget.h"

#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveOptionsDlg.h"
#include "ScaleBar.h"
#include "ScopedBusyCursor.h"
#include "SingleModel.h"
#include "ui_SingleWidget.h"

#include <QDebug>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOption>
#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

// Decimal integer of a setting; a missing value or text that is no number gives 0.
int readNumber(const char *section, const char *key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, Paths::configFile().toStdString());
    return QString::fromStdString(value).trimmed().toInt();
}

const QString kLengthUnits[3] = {QString::fromUtf8("µm"), "mm", "pixel"};
const QString kAreaUnits[3] = {QString::fromUtf8("µm^2"), "mm^2", "pixel^2"};

QString unitText(const QString (&units)[3], int unit)
{
    return unit >= 0 && unit < 3 ? units[unit] : QString();
}

// One decimal as the CSV table writes it (printf), so that table and file never differ.
QString oneDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return QString::fromLatin1(text);
}

} // namespace

SingleWidget::SingleWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_SingleWidget)
{
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the page its background
    ui->setupUi(this);
    initialize();
}

SingleWidget::~SingleWidget()
{
    delete m_pModel;
    delete ui;
}

void SingleWidget::initialize()
{
    allocatingMemory();
    m_bCaptured = m_bSaved = false;
    const char *names[] = {"None", "Line", "Angle", "Polygon", "Ellipse", "Rectangle", "Segment Line", "Freehand"};
    for (size_t i = 0; i < m_ToolName.size(); ++i)
        m_ToolName[i] = names[i];
    m_nCurrentTool = 0;
    setMeasurementResultTableHeader();
    readSetting();
    m_nLengthUnit = m_nAreaUnit = 0;
    for (int i = 0; i < 3; ++i) {
        ui->COMB_LENGTH_UNIT->addItem(kLengthUnits[i]);
        ui->COMB_AREA_UNIT->addItem(kAreaUnits[i]);
    }
    ui->COMB_LENGTH_UNIT->setCurrentIndex(0);
    ui->COMB_AREA_UNIT->setCurrentIndex(0);
    m_HistogramPixmap = QPixmap(ui->LABEL_HISTOGRAM->size());
    m_LineProfilePixmap = QPixmap(ui->LABEL_LINEPROFILE->size());

    ui->BUTTON_CSV_EXPORT->setEnabled(false);
    showToolPage(0);
    ui->TABWIDGET_HIST_MEASURERESULT->setCurrentIndex(0);
    ui->BUTTON_SAVE_BEFORE->setEnabled(false);
    for (QWidget *w : {static_cast<QWidget *>(ui->BUTTON_SAVE_AFTER), static_cast<QWidget *>(ui->BUTTON_LIVE),
                       static_cast<QWidget *>(ui->CHKBOX_SCALEBAR)})
        w->hide();
    clearMeasuredValues();
    setMeasurementControlEnabled(false);
}

void SingleWidget::allocatingMemory()
{
    if (!m_pModel)
        m_pModel = new SingleModel;
}

void SingleWidget::deallocatingMemory()
{
    m_bCaptured = m_bSaved = false;
    delete m_pModel;
    m_pModel = nullptr;
}

void SingleWidget::readSetting()
{
    const char *section = "Setting_Single";
    m_nLineThickness = readNumber(section, "LineThickness", "0") + 1;
    m_nLineColorIndex = clampColorIndex(readNumber(section, "LineColor", "5"));
    m_LineColor = g_ColorTable[m_nLineColorIndex];
    m_nFontThickness = readNumber(section, "FontThickness", "5");
    m_nFontSize = (m_nFontThickness + 5) * 2;
    m_nFontColorIndex = clampColorIndex(readNumber(section, "FontColor", "3"));
    m_FontColor = g_ColorTable[m_nFontColorIndex];
    m_HistogramBarColor = colorTableEntry(readNumber(section, "HistogramBarColor", ""));
    m_LineProfileColor = colorTableEntry(readNumber(section, "LineProfileColor", ""));
    emit currentLineThicknessChanged(m_nLineThickness);
    emit currentLineColorChanged(m_LineColor);
    emit currentFontThicknessChanged(m_nFontSize);
    emit currentFontColorChanged(m_FontColor);

    m_nFilterColor[0] = 7; // the transmitted-light channel is always grey
    m_nFilterColor[3] = clampColorIndex(readNumber("FilterColor", "1", "1"));
    m_nFilterColor[2] = clampColorIndex(readNumber("FilterColor", "2", "0"));
    m_nFilterColor[1] = clampColorIndex(readNumber("FilterColor", "3", "2"));
    // Any camera mode but 16 is the 8-bit mode.
    slotChangeCameraMode(readNumber("Camera", "Mode", "8") == 16 ? 16 : 8);
}

void SingleWidget::slotChangeCameraMode(int bits)
{
    m_nBits = bits;
    const QString top = QString("%1").arg(bits == 16 ? 4095 : 255);
    ui->LABEL_HIST_MAX_INTENSITY->setText(top);
    ui->LABEL_LINE_MAX_INTENSITY->setText(top);
}

void SingleWidget::setCurrentObjectiveLensPosition(int nObjectiveLensPosition)
{
    if (!m_bCaptured)
        m_nObjectiveLensPosition = nObjectiveLensPosition;
}

void SingleWidget::captureCompleted(uchar *, int)
{
}

void SingleWidget::setPseudoColor(bool, int, int)
{
}

void SingleWidget::slotLEDState(bool)
{
}

void SingleWidget::slotWaitForVideoWidgetIsStarted()
{
}

void SingleWidget::slotWaitForVideoWidgetIsStopped()
{
}

// --- states ----------------------------------------------------------------------------------

void SingleWidget::setCurrentState(TSingleState state)
{
    m_nCurrentState = state;
    m_nCurrentTool = 0;
    changeState();
}

void SingleWidget::changeState()
{
    showToolPage(0);
    ui->TABWIDGET_HIST_MEASURERESULT->setCurrentIndex(0);
    clearMeasuredValues();
    switch (m_nCurrentState) {
    case SINGLE_IDLE:
        setMeasurementControlEnabled(false);
        ui->BUTTON_LIVE->setEnabled(true);
        ui->BUTTON_LIVE->show();
        ui->BUTTON_CAPTURE->setEnabled(false);
        ui->BUTTON_CAPTURE->hide();
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        ui->BUTTON_SAVE_BEFORE->show();
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->hide();
        ui->CHKBOX_SCALEBAR->hide();
        break;
    case SINGLE_LIVE:
        setMeasurementControlEnabled(false);
        ui->BUTTON_CAPTURE->setEnabled(false); // the live video's start would free it
        ui->BUTTON_CAPTURE->show();
        ui->BUTTON_SAVE_BEFORE->setEnabled(false);
        ui->BUTTON_SAVE_BEFORE->show();
        ui->BUTTON_SAVE_AFTER->setEnabled(false);
        ui->BUTTON_SAVE_AFTER->hide();
        ui->BUTTON_LIVE->hide();
        ui->CHKBOX_SCALEBAR->hide();
        break;
    case SINGLE_CAPTURED:
        setMeasurementControlEnabled(true);
        ui->BUTTON_LIVE->setEnabled(true);
        ui->BUTTON_LIVE->show();
        ui->CHKBOX_SCALEBAR->show();
        ui->BUTTON_CAPTURE->hide();
        // A captured image can be saved: the save button on show is usable.
        ui->BUTTON_SAVE_BEFORE->setEnabled(true);
        ui->BUTTON_SAVE_AFTER->setEnabled(true);
        m_nCurrentTool = 12;
        emit measurementToolChanged(12);
        setUIHistogramEnabled(true);
        setUILineProfileEnabled(false);
        break;
    }
    emit changedState();
}

void SingleWidget::on_BUTTON_LIVE_clicked()
{
    const ScopedBusyCursor busy; // nothing answers the live request here: no cursor outlives it
    ui->BUTTON_LIVE->setEnabled(false);
    emit signalEnableMainMenu(false);
    emit liveMode(true);
    emit lightOn();
    m_bCaptured = m_bSaved = false;
    m_nCurrentState = SINGLE_LIVE;
    changeState();
}

void SingleWidget::on_BUTTON_CAPTURE_clicked()
{
    const ScopedBusyCursor busy;
    ui->BUTTON_CAPTURE->setEnabled(false);
    emit signalEnableMainMenu(false);
    emit signalEnableControlWidgetUI(false);
    m_nCurrentState = SINGLE_CAPTURED;
    emit liveMode(false);
    emit capture();
}

// --- controls --------------------------------------------------------------------------------

void SingleWidget::setMeasurementResultTableHeader()
{
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    const QStringList labels{"Tool", "Length", "Area", "Min.", "Max.", "Mean", "Std."};
    table->setColumnCount(labels.size());
    auto *header = new QHeaderView(Qt::Horizontal, table);
    header->setFont(m_Font9);
    header->setDefaultAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    table->setHorizontalHeader(header);
    table->setHorizontalHeaderLabels(labels);
    header->setSectionResizeMode(QHeaderView::Fixed);
    const int widths[] = {80, 100, 124, 50, 50, 56, 56};
    for (int c = 0; c < labels.size(); ++c)
        table->setColumnWidth(c, widths[c]);
    table->verticalHeader()->show();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void SingleWidget::setMeasurementControlEnabled(bool enabled)
{
    ui->STACKWIDGET_MEASUREMENT_TOOLS->setEnabled(enabled);
    ui->BUTTON_TOOL_LEFT->setEnabled(enabled);
    ui->BUTTON_TOOL_RIGHT->setEnabled(enabled);
    setMeasurementToolButtonFalse();
    for (QWidget *w : std::initializer_list<QWidget *>{
             ui->BUTTON_MEASURE_LINE, ui->BUTTON_MEASURE_ANGLE, ui->BUTTON_MEASURE_POLYGON, ui->BUTTON_MEASURE_ELLIPSE,
             ui->BUTTON_MEASURE_RECT, ui->BUTTON_MEASURE_SEGMENT, ui->BUTTON_MEASURE_FREEHAND,
             ui->BUTTON_MEASURE_MULTIPOINT, ui->BUTTON_TEXT_ANNOTATION, ui->COMB_LENGTH_UNIT, ui->COMB_AREA_UNIT,
             ui->LABEL_LENGTH, ui->LABEL_AREA, ui->LABEL_ANGLE, ui->LABEL_MULTICOUNT, ui->LABEL_X, ui->LABEL_Y,
             ui->LABEL_INTENSITY, ui->LABEL_HISTOGRAM, ui->LABEL_LINEPROFILE, ui->TABWIDGET_HIST_MEASURERESULT,
             ui->CHKBOX_SCALEBAR})
        w->setEnabled(enabled);
    setUIHistogramEnabled(enabled);
    setUILineProfileEnabled(enabled);
}

void SingleWidget::setUIHistogramEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_HIST_MEAN, ui->LABEL_HIST_STD, ui->LABEL_HIST_MIN,
                                                       ui->LABEL_HIST_MAX, ui->LABEL_HIST_INDICATOR,
                                                       ui->LABEL_HIST_MIN_INTENSITY, ui->LABEL_HIST_MAX_INTENSITY})
        w->setEnabled(enabled);
}

void SingleWidget::setUILineProfileEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_LINE_LENGTH, ui->LABEL_LINE_MEAN,
                                                       ui->LABEL_LINE_MIN_INTENSITY, ui->LABEL_LINE_MAX_INTENSITY})
        w->setEnabled(enabled);
}

void SingleWidget::clearMeasuredValues()
{
    ui->LABEL_MULTICOUNT->clear();
    m_HistogramPixmap.fill(Qt::black);
    ui->LABEL_HISTOGRAM->setPixmap(m_HistogramPixmap);
    m_LineProfilePixmap.fill(Qt::black);
    ui->LABEL_LINEPROFILE->setPixmap(m_LineProfilePixmap);
    for (QLabel *label : {ui->LABEL_HIST_MEAN, ui->LABEL_HIST_STD, ui->LABEL_HIST_MIN, ui->LABEL_HIST_MAX,
                          ui->LABEL_LINE_LENGTH, ui->LABEL_LINE_MEAN, ui->LABEL_LENGTH, ui->LABEL_ANGLE,
                          ui->LABEL_AREA, ui->LABEL_X, ui->LABEL_Y, ui->LABEL_INTENSITY})
        label->clear();
}

void SingleWidget::setMeasurementToolButtonFalse()
{
    for (QPushButton *b : {ui->BUTTON_MEASURE_LINE, ui->BUTTON_MEASURE_ANGLE, ui->BUTTON_MEASURE_POLYGON,
                           ui->BUTTON_MEASURE_ELLIPSE, ui->BUTTON_MEASURE_RECT, ui->BUTTON_MEASURE_SEGMENT,
                           ui->BUTTON_MEASURE_FREEHAND, ui->BUTTON_MEASURE_MULTIPOINT, ui->BUTTON_TEXT_ANNOTATION})
        b->setChecked(false);
}

void SingleWidget::resetMeasurementTool()
{
    m_nCurrentTool = 0;
    emit measurementToolChanged(0);
}

void SingleWidget::chooseTool(QPushButton *button, int tool, bool toggles, bool histogram, bool lineProfile)
{
    setMeasurementToolButtonFalse();
    if (toggles && m_nCurrentTool == tool) {
        resetMeasurementTool();
        return;
    }
    button->setChecked(true);
    if (m_nCurrentTool == tool)
        return;
    m_nCurrentTool = tool;
    clearMeasuredValues();
    setUIHistogramEnabled(histogram);
    setUILineProfileEnabled(lineProfile);
    emit measurementToolChanged(tool);
}

void SingleWidget::on_BUTTON_MEASURE_LINE_clicked() { chooseTool(ui->BUTTON_MEASURE_LINE, 1, true, false, true); }
void SingleWidget::on_BUTTON_MEASURE_ANGLE_clicked() { chooseTool(ui->BUTTON_MEASURE_ANGLE, 2, false, false, false); }
void SingleWidget::on_BUTTON_MEASURE_POLYGON_clicked() { chooseTool(ui->BUTTON_MEASURE_POLYGON, 3, false, true, false); }
void SingleWidget::on_BUTTON_MEASURE_ELLIPSE_clicked() { chooseTool(ui->BUTTON_MEASURE_ELLIPSE, 4, false, true, false); }
void SingleWidget::on_BUTTON_MEASURE_RECT_clicked() { chooseTool(ui->BUTTON_MEASURE_RECT, 5, false, true, false); }
void SingleWidget::on_BUTTON_MEASURE_SEGMENT_clicked() { chooseTool(ui->BUTTON_MEASURE_SEGMENT, 6, false, false, false); }
void SingleWidget::on_BUTTON_MEASURE_FREEHAND_clicked() { chooseTool(ui->BUTTON_MEASURE_FREEHAND, 7, false, false, false); }
void SingleWidget::on_BUTTON_MEASURE_MULTIPOINT_clicked() { chooseTool(ui->BUTTON_MEASURE_MULTIPOINT, 8, false, false, false); }
void SingleWidget::on_BUTTON_TEXT_ANNOTATION_clicked() { chooseTool(ui->BUTTON_TEXT_ANNOTATION, 9, true, false, false); }

void SingleWidget::showToolPage(int index)
{
    if (index >= 0 && index < ui->STACKWIDGET_MEASUREMENT_TOOLS->count())
        ui->STACKWIDGET_MEASUREMENT_TOOLS->setCurrentIndex(index);
}

void SingleWidget::on_BUTTON_TOOL_LEFT_clicked()
{
    showToolPage(ui->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex() - 1);
}

void SingleWidget::on_BUTTON_TOOL_RIGHT_clicked()
{
    showToolPage(ui->STACKWIDGET_MEASUREMENT_TOOLS->currentIndex() + 1);
}

// --- results ---------------------------------------------------------------------------------

float SingleWidget::convertedLength(float pixels, int unit) const
{
    if ((unit == 0 || unit == 1) && !(m_fPixelSize > 0.0f))
        return std::nanf("");
    return SingleModel::length(pixels, unit, m_fPixelSize);
}

float SingleWidget::convertedArea(float pixels, int unit) const
{
    if ((unit == 0 || unit == 1) && !(m_fPixelSize > 0.0f))
        return std::nanf("");
    return SingleModel::area(pixels, unit, m_fPixelSize);
}

QString SingleWidget::figureText(float value, int unit)
{
    switch (unit) {
    case 0:
    case 1:
        return std::isnan(value) || value < 0 ? QString("N/A") : QString("%1").arg(double(value), 0, 'f', unit == 0 ? 3 : 6);
    case 2:
        return QString("%1").arg(double(value), 0, 'f', 1);
    default:
        return QString();
    }
}

void SingleWidget::showLength()
{
    const QString text = figureText(convertedLength(m_Measurement.length, m_nLengthUnit), m_nLengthUnit);
    if (!text.isNull())
        ui->LABEL_LENGTH->setText(text);
}

void SingleWidget::showArea()
{
    const QString text = figureText(convertedArea(m_Measurement.area, m_nAreaUnit), m_nAreaUnit);
    if (!text.isNull())
        ui->LABEL_AREA->setText(text);
}

void SingleWidget::on_COMB_LENGTH_UNIT_currentIndexChanged(int index)
{
    if (m_nCurrentTool == 0)
        return;
    m_nLengthUnit = index;
    showLength();
}

void SingleWidget::on_COMB_AREA_UNIT_currentIndexChanged(int index)
{
    if (m_nCurrentTool == 0)
        return;
    m_nAreaUnit = index;
    showArea();
}

void SingleWidget::setMeasurementResult(TSMeasurementItem &_measurementResult)
{
    m_Measurement = _measurementResult;
    const int tool = m_Measurement.tool;
    const auto showStatistics = [this] {
        ui->LABEL_HIST_MIN->setText(QString("%1").arg(m_Measurement.minIntensity, 0, 'f', 0));
        ui->LABEL_HIST_MAX->setText(QString("%1").arg(m_Measurement.maxIntensity, 0, 'f', 0));
        ui->LABEL_HIST_MEAN->setText(oneDecimal(m_Measurement.meanIntensity));
        ui->LABEL_HIST_STD->setText(oneDecimal(m_Measurement.stdIntensity));
    };
    switch (tool) {
    case TOOL_LINE:
    case TOOL_SEGMENT_LINE:
    case TOOL_FREE_HAND:
        showLength();
        break;
    case TOOL_ANGLE:
        ui->LABEL_ANGLE->setText(oneDecimal(m_Measurement.angle));
        break;
    case TOOL_POLYGON:
    case TOOL_ELLIPSE:
    case TOOL_RECTANGLE:
        showArea();
        showStatistics();
        showLength(); // the outline's perimeter
        break;
    case TOOL_MULTI_COUNT:
        ui->LABEL_MULTICOUNT->setText(QString("%1").arg(m_Measurement.count));
        break;
    case TOOL_WHOLE_IMAGE:
        showStatistics();
        break;
    default:
        break;
    }

    if (tool == TOOL_LINE) {
        ui->LABEL_LINE_LENGTH->setText(QString("%1").arg(m_Measurement.profile.size()));
        ui->LABEL_LINE_MEAN->setText(oneDecimal(m_Measurement.meanIntensity));
        drawLineProfile(true);
        drawHistogram(false);
    } else if (tool == TOOL_POLYGON || tool == TOOL_ELLIPSE || tool == TOOL_RECTANGLE || tool == TOOL_WHOLE_IMAGE) {
        drawHistogram(true);
    } else {
        drawHistogram(false);
        ui->LABEL_LINE_LENGTH->clear();
        ui->LABEL_LINE_MEAN->clear();
        drawLineProfile(false);
    }

    if (tool >= TOOL_LINE && tool <= TOOL_FREE_HAND) {
        ui->BUTTON_CSV_EXPORT->setEnabled(true);
        setMeasurementResultTable();
    }
}

void SingleWidget::setMeasurementResultTable()
{
    // Table and CSV row come from the same converted figures, so that they always agree.
    TSMeasurementItem converted = m_Measurement;
    converted.length = convertedLength(m_Measurement.length, m_nLengthUnit);
    converted.area = convertedArea(m_Measurement.area, m_nAreaUnit);
    const QString tool = m_ToolName[size_t(m_Measurement.tool)];
    const QString area = m_Measurement.tool == TOOL_ANGLE
                             ? oneDecimal(m_Measurement.angle)
                             : QString("%1 %2").arg(figureText(converted.area, m_nAreaUnit), unitText(kAreaUnits, m_nAreaUnit));
    const QStringList cells{tool,
                            QString("%1 %2").arg(figureText(converted.length, m_nLengthUnit),
                                                 unitText(kLengthUnits, m_nLengthUnit)),
                            area,
                            oneDecimal(m_Measurement.minIntensity),
                            oneDecimal(m_Measurement.maxIntensity),
                            oneDecimal(m_Measurement.meanIntensity),
                            oneDecimal(m_Measurement.stdIntensity)};
    QTableWidget *table = ui->TABLEWIDGET_MEASUREMENT_RESULT;
    const int row = table->rowCount();
    table->insertRow(row);
    for (int c = 0; c < cells.size(); ++c) {
        auto *item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, c, item);
    }
    if (m_pModel)
        m_pModel->setMeasurementResult(converted, m_nLengthUnit, m_nAreaUnit);
}

void SingleWidget::drawHistogram(bool draw)
{
    m_HistogramPixmap.fill(Qt::black);
    const int largest = m_Measurement.histogramMaxCount;
    if (draw && largest >= 1 && !m_Measurement.histogram.empty()) {
        const double w = ui->LABEL_HISTOGRAM->width();
        const double h = ui->LABEL_HISTOGRAM->height();
        const double stepX = (w - 2) / maxIntensity();
        const double scaleY = (h - 1) / largest;
        QPainter painter(&m_HistogramPixmap);
        painter.setPen(QPen(m_HistogramBarColor, std::max(1, int(stepX))));
        painter.setOpacity(0.9);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const int bins = std::min(int(m_Measurement.histogram.size()), maxIntensity() + 1);
        for (int i = 0; i < bins; ++i) {
            const int count = m_Measurement.histogram[size_t(i)];
            if (count > 0)
                painter.drawLine(QPointF(i * stepX, h - 1), QPointF(i * stepX, h - 1 - count * scaleY));
        }
    }
    ui->LABEL_HISTOGRAM->setPixmap(m_HistogramPixmap);
}

void SingleWidget::drawLineProfile(bool draw)
{
    m_LineProfilePixmap.fill(Qt::black);
    const int n = int(m_Measurement.profile.size());
    if (draw && n >= 2) {
        const double w = ui->LABEL_LINEPROFILE->width();
        const double h = ui->LABEL_LINEPROFILE->height();
        const double stepX = (w - 1) / (n - 1);
        const double scaleY = (h - 1) / maxIntensity();
        QPolygonF line;
        line.reserve(n);
        for (int i = 0; i < n; ++i)
            line << QPointF(i * stepX, h - m_Measurement.profile[size_t(i)] * scaleY);
        QPainter painter(&m_LineProfilePixmap);
        painter.setPen(QPen(m_LineProfileColor, 1));
        painter.setOpacity(0.9);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.drawPolyline(line);
    }
    ui->LABEL_LINEPROFILE->setPixmap(m_LineProfilePixmap);
}

void SingleWidget::setCurrentImagePositionAndIntensity(QPoint _pt, int _intensity)
{
    ui->LABEL_X->setText(QString("%1").arg(_pt.x()));
    ui->LABEL_Y->setText(QString("%1").arg(_pt.y()));
    ui->LABEL_INTENSITY->setText(QString("%1").arg(_intensity));
}

// --- saving ----------------------------------------------------------------------------------

void SingleWidget::on_BUTTON_SAVE_BEFORE_clicked()
{
    emit signalMakeAnnotationImageData(true);
}

void SingleWidget::on_BUTTON_SAVE_AFTER_clicked()
{
    emit signalMakeAnnotationImageData(false);
}

void SingleWidget::slotSave(bool before, uchar *data)
{
    if (!data || !m_pModel) {
        qDebug() << "SingleWidget::slotSave: no image to save";
        return;
    }
    m_pModel->setAnnotatedImageData(data);
    SaveOptionsDlg dialog(nullptr, false);
    dialog.setCurrentSaveOption(SAVE_OPTION_SINGLE, true, SUB_OPTION_NONE);
    dialog.setImageBits(m_nBits);
    dialog.setDrawingScaleBar(ui->CHKBOX_SCALEBAR->isChecked(), m_nObjectiveLensPosition);
    dialog.generateCapturedImageMetaData();
    if (m_nBits == 16) {
        dialog.setImageData16(0, m_pModel->imageData(16));
        dialog.setImageData48(0, m_pModel->imageData(48));
    } else {
        dialog.setImageData8(0, m_pModel->imageData(8));
        dialog.setImageData24(0, m_pModel->imageData(24));
    }
    dialog.setAnnotationImageData(m_pModel->annotatedImageData());
    if (dialog.exec() == 1 && before) {
        m_bSaved = true;
        emit saved(true);
        ui->BUTTON_SAVE_BEFORE->hide();
        ui->BUTTON_SAVE_AFTER->show();
    }
}

void SingleWidget::on_BUTTON_CSV_EXPORT_clicked()
{
    if (!m_pModel)
        return;
    SaveOptionsDlg dialog(nullptr, false);
    dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true, SUB_OPTION_NONE);
    dialog.setImageBits(m_nBits);
    dialog.setCSVReaderWriter(m_pModel->csvReaderWriter());
    dialog.exec();
}

void SingleWidget::on_BUTTON_TABLE_CLEAR_clicked()
{
    ui->TABLEWIDGET_MEASUREMENT_RESULT->clearContents();
    ui->TABLEWIDGET_MEASUREMENT_RESULT->setRowCount(0);
    ui->BUTTON_CSV_EXPORT->setEnabled(false);
    if (m_pModel)
        m_pModel->clearMeasurementResult();
}

void SingleWidget::slotScaleBarCheckBoxState(TSScaleBar scaleBar)
{
    ScaleBar::uncheckWithoutObjective(ui->CHKBOX_SCALEBAR, scaleBar);
}

void SingleWidget::on_CHKBOX_SCALEBAR_clicked()
{
}

void SingleWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
