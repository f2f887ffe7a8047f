// The Growth monitor page's settings and results: the [Setting_Growth] keys, the result table with
// its check marks, the bar graph, deleting checked results with their images and the CSV export.
#include "GrowthMonitorWidget.h"

#include "ConfigSetting.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveOptionsDlg.h"
#include "Utilities.h"
#include "ui_GrowthMonitorWidget.h"

#include <QFile>
#include <QHeaderView>
#include <cstdlib>

namespace {

const char *const kSection = "Setting_Growth";

int readInt(const char *section, const char *key, const char *def)
{
    return int(std::strtol(readConfigSetting(section, key, def).toUtf8().constData(), nullptr, 10));
}

double readDouble(const char *section, const char *key, const char *def)
{
    return std::strtod(readConfigSetting(section, key, def).toUtf8().constData(), nullptr);
}

QTableWidgetItem *cell(const QString &text, Qt::Alignment alignment)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(int(alignment | Qt::AlignVCenter));
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace

void GrowthMonitorWidget::readSetting()
{
    m_nCameraBits = readInt("Camera", "Mode", "8");
    m_fCMOSPixelSize = float(readDouble("ScaleBar", "CMOSPixelSize", "3.63"));
    m_fReductionLensMagnification = float(readDouble("ScaleBar", "ReductionLensMagnification", "0.655"));
    const int type = readInt(kSection, "Threshold_Type", "0");
    ui->COMB_THRESHOLD->setCurrentIndex(type);
    if (type == 1)
        ui->SPINBOX_THRESHOLD->setValue(readInt(kSection, "Threshold_Value", "0"));
    ui->COMB_BACKGROUND->setCurrentIndex(readInt(kSection, "Background", "0"));
    ui->CHKBOX_DILATE->setChecked(readInt(kSection, "Dilate", "0") != 0);
    ui->SPINBOX_MIN_OBJ_SIZE->setValue(readInt(kSection, "MinObjSize", "5"));
    ui->SPINBOX_WATERSHED->setValue(readDouble(kSection, "Watershed", "0.2"));
    if (g_CurrentMenu == MENU_GROWTH_MONITOR)
        on_CHKBOX_SCALEBAR_clicked();
}

void GrowthMonitorWidget::writeSetting()
{
    auto entry = [](const char *key, const QString &value) {
        return PrivateProfileEntry{kSection, key, value.toStdString()};
    };
    const bool written = WritePrivateProfileBatch(
        {entry("Threshold_Type", QString::number(ui->COMB_THRESHOLD->currentIndex())),
         entry("Threshold_Value", QString::number(ui->SPINBOX_THRESHOLD->value())),
         entry("Background", QString::number(ui->COMB_BACKGROUND->currentIndex())),
         entry("Dilate", ui->CHKBOX_DILATE->isChecked() ? QStringLiteral("1") : QStringLiteral("0")),
         entry("MinObjSize", QString::number(ui->SPINBOX_MIN_OBJ_SIZE->value())),
         entry("Watershed", QString::number(ui->SPINBOX_WATERSHED->value(), 'g'))},
        Paths::configFile().toStdString());
    if (!written)
        qWarning("Growth monitor: the settings could not be written");
}

void GrowthMonitorWidget::on_COMB_THRESHOLD_currentIndexChanged(int index)
{
    ui->SPINBOX_THRESHOLD->setReadOnly(index == 0);
}

// ---------------------------------------------------------------------------------------------
// Table and graph

void GrowthMonitorWidget::setResultTableHeader()
{
    QTableWidget *table = ui->TABLEWIDGET_RESULT;
    table->setColumnCount(5);
    table->setHorizontalHeaderLabels({QStringLiteral(" "), QStringLiteral("File"), QStringLiteral("Confluency(%)"),
                                      QStringLiteral("Count"), QStringLiteral("Threshold")});
    QHeaderView *header = table->horizontalHeader();
    header->setFont(m_Font9);
    header->setDefaultAlignment(Qt::AlignCenter);
    const int widths[5] = {22, 175, 100, 50, 70};
    for (int column = 0; column < 5; ++column)
        table->setColumnWidth(column, widths[column]);
    table->verticalHeader()->setVisible(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void GrowthMonitorWidget::updateTable()
{
    QTableWidget *table = ui->TABLEWIDGET_RESULT;
    table->clearContents();
    table->setRowCount(0);
    m_GrowthMonitor.csvReaderWriter().erase();
    const std::vector<ThumbnailInfo> records = m_GrowthMonitor.thumbnails();
    for (int i = 0; i < int(records.size()); ++i) {
        const ThumbnailInfo &record = records[size_t(i)];
        QTableWidgetItem *check = cell(QString(), Qt::AlignRight);
        check->setCheckState(Qt::Unchecked);
        table->insertRow(i);
        table->setItem(i, 0, check);
        table->setItem(i, 1, cell(GrowthMonitor::displayPath(record.sourcePath), Qt::AlignLeft));
        table->setItem(i, 2, cell(QString::number(double(record.value), 'g'), Qt::AlignRight));
        table->setItem(i, 3, cell(QString::number(record.count), Qt::AlignRight));
        table->setItem(i, 4, cell(QString::number(record.threshold), Qt::AlignRight));
        m_GrowthMonitor.setConfluencyResult(record);
    }
}

void GrowthMonitorWidget::showGraph(std::vector<float> series)
{
    m_GraphSeries = series;
    GraphFrame *graph = ui->GRAPH;
    graph->beginAddSamples();
    graph->addSamples(series, QColor(0, 0, 255, 255));
    graph->endAddSamples();
    graph->repaint();
}

void GrowthMonitorWidget::updateGraph()
{
    std::vector<float> series{0.0f};
    for (const ThumbnailInfo &record : m_GrowthMonitor.thumbnails())
        series.push_back(record.value);
    showGraph(std::move(series));
}

void GrowthMonitorWidget::updateResult()
{
    updateGraph();
    updateTable();
}

void GrowthMonitorWidget::clearResult(bool all)
{
    ui->LABEL_RESULT_VALUE->clear();
    ui->LABEL_RESULT_COUNT_VALUE->clear();
    if (!all)
        return;
    m_GrowthMonitor.clearThumbnails();
    m_nNextFrameNumber = 0; // a new list; its run empties the work folder first
    ui->TABLEWIDGET_RESULT->clearContents();
    ui->TABLEWIDGET_RESULT->setRowCount(0);
    showGraph({0.0f});
}

void GrowthMonitorWidget::clearGrowthMonitorParameters()
{
    m_FileList.clear();
}

// ---------------------------------------------------------------------------------------------
// Table and browser follow each other

void GrowthMonitorWidget::on_TABLEWIDGET_RESULT_cellDoubleClicked(int row, int column)
{
    if (column >= 1 && row < ui->TABLEWIDGET_RESULT->rowCount())
        emit signalChangeCurrentThumbnailIndex(row);
}

void GrowthMonitorWidget::slotChangedCurrentThumbnailIndex(int index)
{
    if (m_nCurrentState != GROWTH_RESULT)
        return;
    QTableWidget *table = ui->TABLEWIDGET_RESULT;
    table->clearSelection();
    if (index >= 0 && index < table->rowCount()) {
        table->selectRow(index);
        table->scrollToItem(table->item(index, 1), QAbstractItemView::EnsureVisible);
    }
}

// ---------------------------------------------------------------------------------------------
// Delete and export

void GrowthMonitorWidget::on_BUTTON_TABLE_DELETE_clicked()
{
    QTableWidget *table = ui->TABLEWIDGET_RESULT;
    std::set<int> rows;
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0) && table->item(row, 0)->checkState() == Qt::Checked)
            rows.insert(row);
    if (rows.empty()) {
        MessageDlg message;
        message.setMsgType(MSG_NO_SELECTED_IMAGE);
        message.exec();
        return;
    }
    slotDeletedItemIndex(rows);
}

void GrowthMonitorWidget::slotDeletedItemIndex(std::set<int> rows)
{
    const std::vector<ThumbnailInfo> records = m_GrowthMonitor.thumbnails();
    m_GrowthMonitor.clearThumbnails();
    QStringList removals;
    for (int i = 0; i < int(records.size()); ++i) {
        ThumbnailInfo record = records[size_t(i)];
        if (rows.count(i) == 0) {
            m_GrowthMonitor.pushThumbnail(record);
            continue;
        }
        removals << GrowthMonitor::getResultFilePath(record.path, IMAGE_SEGMENTATION, QString())
                 << GrowthMonitor::getResultFilePath(record.path, IMAGE_COUNT, QString());
    }
    emit completed(m_GrowthMonitor.thumbnails(), 0);
    updateGraph();
    updateTable();
    for (const QString &path : removals)
        QFile::remove(path);
}

void GrowthMonitorWidget::on_BUTTON_CSV_EXPORT_clicked()
{
    SaveOptionsDlg dialog(nullptr, false);
    dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true, SUB_OPTION_NONE);
    dialog.setImageBits(m_nCameraBits);
    dialog.setCSVReaderWriter(m_GrowthMonitor.csvReaderWriter());
    dialog.exec();
}
