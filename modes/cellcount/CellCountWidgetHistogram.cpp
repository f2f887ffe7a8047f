// The Cell count page's histogram: the size bins of the last count for all, live or dead cells
// in numbers or concentration, the cluster map, and the size gate.
#include "CellCountWidget.h"

#include "CellCount_alg.h"
#include "CellCounter.h"
#include "Utilities.h"
#include "ui_CellCountWidget.h"

#include <QDebug>
#include <QPainter>
#include <QStyleOption>
#include <algorithm>
#include <cmath>

namespace {

// The histogram's bins always hold the nine cluster counts read from the same arrays.
constexpr int kMinBins = 10;
constexpr int kMaxBins = 100000;
constexpr int kColumnStep = 6; // pixels from one bar to the next
constexpr int kBarWidth = 4;
constexpr int kAxisEnd = 59;   // the axis runs from 0 to 60 µm: a bin of 60 µm or more is not drawn
constexpr int kGateY = 406;
constexpr int kGateLimit = 90;
constexpr int kRepeatMs = 150;

const char *const kCellTypes[3] = {"total", "live", "dead"};

void setPictures(QPushButton *button, const QString &normal, const QString &pressed, const QString &disabled)
{
    QString sheet = QString("QPushButton { border-image: url(:/UI/graph/%1); }").arg(normal);
    if (!pressed.isEmpty())
        sheet += QString(" QPushButton:pressed { border-image: url(:/UI/graph/%1); }").arg(pressed);
    sheet += QString(" QPushButton:disabled { border-image: url(:/UI/graph/%1); }").arg(disabled);
    // A new sheet re-polishes the button: each count sets the same one again.
    if (button->styleSheet() != sheet)
        button->setStyleSheet(sheet);
}

// Pictures "<stem>1.png", pressed "<stem>2.png", disabled "<stem>3.png".
void setPictureSet(QPushButton *button, const QString &stem)
{
    setPictures(button, stem + "1.png", stem + "2.png", stem + "3.png");
}

// A bar of height pixels over [x, x + 3] rising from row bottom - 1.
void bar(QPainter &painter, int x, int bottom, int height, const QColor &colour)
{
    if (height > 0)
        painter.fillRect(QRect(x, bottom - height, kBarWidth, height), colour);
}

} // namespace

void CellCountWidget::updateHistogram()
{
    m_strGateMin = QString::number(m_nGateMin);
    m_strGateMax = QString::number(m_nGateMax);
    ui->LABEL_MIN_CELL_SIZE->setText(m_strGateMin);
    ui->LABEL_MAX_CELL_SIZE->setText(m_strGateMax);
    moveGateMarkers();

    m_LiveBins.clear();
    m_DeadBins.clear();
    m_TotalBins.clear();
    std::fill(std::begin(m_ClusterCounts), std::end(m_ClusterCounts), 0);
    if (!m_pCellCounter && !m_pCellCountAlg)
        return;
    fillBinsFromEngine();

    m_TotalBins.resize(m_LiveBins.size());
    m_nMaxBinCount = 0;
    for (int i = 0; i < m_TotalBins.size(); ++i) {
        m_TotalBins[i] = m_LiveBins[i] + m_DeadBins[i];
        m_nMaxBinCount = std::max(m_nMaxBinCount, m_TotalBins[i]);
    }

    if (m_pCellCounter)
        m_pCellCounter->getConcentration(m_nMaxBinCount, float(m_nDilutionFactor), m_fMaxBinMantissa, m_nMaxBinExponent);
    else
        m_fMaxBinMantissa = frexp10(CellCount_alg::getConcentration(m_nMaxBinCount, float(m_nDilutionFactor), m_fVolume),
                                    m_nMaxBinExponent);
    ui->LABEL_UNITINFO->setText(QString::asprintf("(x10e%d/mL)", m_nMaxBinExponent));

    HistogramButtonState();
    // Painted with the result texts when the count returns to the event loop.
    update();
}

void CellCountWidget::fillBinsFromEngine()
{
    m_bSecondEngineCounted = m_pCellCounter != nullptr;
    if (m_pCellCounter) {
        // The second engine's sizes are micrometres, 0 to 90.
        m_fBinSize = 1.0f;
        const int *clusters = m_pCellCounter->getHistogram(2);
        const int *live = m_pCellCounter->getHistogram(0);
        const int *dead = m_pCellCounter->getHistogram(1);
        std::copy(clusters, clusters + 9, m_ClusterCounts);
        m_LiveBins = QVector<int>(live, live + Quorvan::CellCounter::SizeClasses);
        m_DeadBins = QVector<int>(dead, dead + Quorvan::CellCounter::SizeClasses);
        return;
    }
    const float umPerPixel = m_fCMOSPixelSize / m_fTotalMagnification;
    m_fBinSize = umPerPixel;
    m_nBinCount = nimboBinCount(float(m_WorkingProtocol.nMaxCellSize), m_fCellSizeOffset, umPerPixel);
    QVector<int> live(m_nBinCount, 0), dead(m_nBinCount, 0), clusters(m_nBinCount, 0);
    CellCount_alg::getHistogram(m_nBlobCount, m_pBlobs.get(), live.data(), dead.data(), clusters.data(), m_nBinCount);
    m_LiveBins = live;
    m_DeadBins = dead;
    std::copy(clusters.begin(), clusters.begin() + 9, m_ClusterCounts);
    if (isEnableSerialLog())
        for (int i = 0; i < m_nBinCount; ++i) {
            const float size = float(i) * umPerPixel;
            qDebug() << i << size << int(size) << dead[i] << live[i];
        }
}

int CellCountWidget::nimboBinCount(float maxSize, float cellSizeOffset, float umPerPixel)
{
    const double span = (double(maxSize) + double(cellSizeOffset)) / double(umPerPixel);
    // A negative, small or unusable maximum still gives the bins the cluster counts are read from.
    if (!std::isfinite(span))
        return kMinBins;
    return std::max(int(std::clamp(span, 0.0, double(kMaxBins))) + 10, kMinBins);
}

void CellCountWidget::setHistogramData(const QVector<int> &live, const QVector<int> &dead, const int clusters[9],
                                       float binSize, float cellSizeOffset, int largestBin, float largestMantissa)
{
    m_fMaxBinMantissa = largestMantissa;
    m_LiveBins = live;
    m_DeadBins = dead;
    m_TotalBins.resize(live.size());
    for (int i = 0; i < live.size(); ++i)
        m_TotalBins[i] = live[i] + (i < dead.size() ? dead[i] : 0);
    std::copy(clusters, clusters + 9, m_ClusterCounts);
    m_fBinSize = binSize;
    m_fCellSizeOffset = cellSizeOffset;
    m_nMaxBinCount = largestBin;
    m_bResultAvailable = true;
    m_nCountMode = 0;
    HistogramButtonState();
    update();
}

void CellCountWidget::HistogramButtonState()
{
    QString top, half, third1, third2;
    if (!m_bClusterMap) {
        ui->BUTTON_APPLY->setEnabled(true);
        ui->LABEL_CELL_SIZE_UM->show();
        ui->LABEL_GRAPH_X_0->show();
        ui->LABEL_GRAPH_X_6->show();
        QLabel *const x[6] = {ui->LABEL_GRAPH_X_1, ui->LABEL_GRAPH_X_2, ui->LABEL_GRAPH_X_3,
                              ui->LABEL_GRAPH_X_4, ui->LABEL_GRAPH_X_5, ui->LABEL_GRAPH_X_6};
        for (int i = 0; i < 6; ++i)
            x[i]->setText(QString::number((i + 1) * 10));
        if (m_nConcentrationOrNumber == 1) {
            setPictures(ui->BUTTON_CELL_CONCENTRATION_OR_NUMBER, "cell concentration1.png", QString(),
                        "cell concentration2.png");
            ui->LABEL_UNITINFO->show();
            top = QString::asprintf("%1.1f", double(m_fMaxBinMantissa));
            if (m_fMaxBinMantissa > 1.0f)
                half = QString::asprintf("%1.1f", double(m_fMaxBinMantissa / 2.0f));
        } else {
            setPictures(ui->BUTTON_CELL_CONCENTRATION_OR_NUMBER, "cell number1.png", QString(), "cell number2.png");
            ui->LABEL_UNITINFO->hide();
            top = QString::asprintf("%d", m_nMaxBinCount);
            if (m_nMaxBinCount > 1) {
                if (m_nMaxBinCount % 2 == 0) {
                    half = QString::number(m_nMaxBinCount / 2);
                } else if (m_nMaxBinCount % 3 == 0) {
                    third1 = QString::number(m_nMaxBinCount / 3);
                    third2 = QString::number(m_nMaxBinCount - m_nMaxBinCount / 3);
                }
            }
        }
    } else {
        ui->BUTTON_APPLY->setEnabled(false);
        for (QWidget *w : {static_cast<QWidget *>(ui->LABEL_CELL_SIZE_UM), static_cast<QWidget *>(ui->LABEL_UNITINFO),
                           static_cast<QWidget *>(ui->BUTTON_MINUS), static_cast<QWidget *>(ui->BUTTON_PLUS),
                           static_cast<QWidget *>(ui->FRAME_BAR), static_cast<QWidget *>(ui->BUTTON_MIN_CELL_SIZE_CONTROL),
                           static_cast<QWidget *>(ui->BUTTON_MAX_CELL_SIZE_CONTROL),
                           static_cast<QWidget *>(ui->LABEL_GRAPH_X_0), static_cast<QWidget *>(ui->LABEL_GRAPH_X_6)})
            w->hide();
        QLabel *const x[5] = {ui->LABEL_GRAPH_X_1, ui->LABEL_GRAPH_X_2, ui->LABEL_GRAPH_X_3, ui->LABEL_GRAPH_X_4,
                              ui->LABEL_GRAPH_X_5};
        const char *const texts[5] = {"1", "2", "3", "4", ">5"};
        for (int i = 0; i < 5; ++i)
            x[i]->setText(texts[i]);
        top = "100";
        half = "50";
        setPictures(ui->BUTTON_CELL_CONCENTRATION_OR_NUMBER, "cell cluster1.png", QString(), "cell cluster2.png");
    }
    ui->LABEL_MAX->setText(top);
    ui->LABEL_MID->setText(half);
    ui->LABEL_MID_1->setText(third1);
    ui->LABEL_MID_2->setText(third2);
    showGridLine(!m_bClusterMap);
}

// ---------------------------------------------------------------------------------------------
// Drawing

QRect CellCountWidget::plotArea() const
{
    const QRect graph = ui->FRAME_GRAPH->geometry();
    return graph.translated(ui->FRAME_GRAPH_FRAME_ORG->pos());
}

void CellCountWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (!m_bResultAvailable || m_nCountMode != 0 || ui->STACKEDWIDGET->currentIndex() != 0
        || !ui->FRAME_HISTOGRAM->isVisible())
        return;
    const QRect plot = plotArea();
    // Bars end inside the plotting frame, whatever the pixel pitch of the bins.
    painter.setClipRect(plot);
    if (m_bClusterMap)
        paintClusterMap(painter, plot);
    else
        paintSizeBars(painter, plot);
}

void CellCountWidget::paintSizeBars(QPainter &painter, const QRect &plot)
{
    if (m_nMaxBinCount < 1)
        return;
    const int height = plot.height() - 2;
    const int bottom = plot.bottom();
    const double s = double(height) / double(m_nMaxBinCount);
    const int x0 = int(plot.left() - 2.0);
    int first = 0; // the first bin above zero after the offset
    for (int i = 1; i < m_LiveBins.size(); ++i) {
        float size = float(i) * m_fBinSize;
        int column = i;
        if (m_fCellSizeOffset != 0.0f) {
            size -= m_fCellSizeOffset;
            if (size <= 0.0f)
                continue;
            if (first == 0) {
                first = i;
                continue;
            }
            column = first == 1 ? i : i - first;
        }
        if (int(size) > kAxisEnd)
            break;
        const int x = x0 + kColumnStep * column;
        const int live = m_LiveBins[i], dead = m_DeadBins.value(i);
        const int deadHeight = m_TotalBins.value(i) == m_nMaxBinCount ? int(std::floor(dead * s)) : int(std::ceil(dead * s));
        const int liveHeight = int(std::ceil(live * s));
        switch (m_nCellType) {
        case 2:
            if (dead > 0)
                bar(painter, x, bottom, deadHeight, QColor(255, 0, 0));
            break;
        case 1:
            if (live > 0)
                bar(painter, x, bottom, liveHeight, QColor(0, 255, 0));
            break;
        default: {
            const int deadPart = dead > 0 ? deadHeight : 0;
            if (dead > 0)
                bar(painter, x, bottom, deadPart, QColor(255, 0, 0));
            if (live > 0)
                bar(painter, x, bottom - deadPart, liveHeight, QColor(0, 255, 0));
            break;
        }
        }
    }
}

void CellCountWidget::paintClusterMap(QPainter &painter, const QRect &plot)
{
    int sum = 0;
    for (int k = 1; k <= 8; ++k)
        sum += m_ClusterCounts[k];
    if (sum == 0)
        return;
    for (int k = 1; k <= 8; ++k)
        m_ClusterPercent[k - 1] = float(m_ClusterCounts[k]) / float(sum) * 100.0f;
    const int height = plot.height() - 2;
    const double w = ui->LABEL_GRAPH_X_2->x() - ui->LABEL_GRAPH_X_1->x();
    const int b = int(0.5 * w + 1.0);
    const int base = int((plot.left() - 3) - 0.25 * w + 1.0);
    for (int j = 1; j <= 5; ++j) {
        float p = m_ClusterPercent[j - 1];
        if (j == 5)
            p += m_ClusterPercent[5] + m_ClusterPercent[6] + m_ClusterPercent[7];
        if (!(p > 0.0f))
            continue;
        const int h = p <= 0.5f ? 1 : p < 1.0f ? 2 : int(double(height) / 100.0 * double(p));
        const int x = int(base + j * w);
        if (h > 0)
            painter.fillRect(QRect(x, plot.bottom() - h, b, h), QColor(0, 0, 255));
    }
}

// ---------------------------------------------------------------------------------------------
// Buttons

void CellCountWidget::setCellTypePicture(bool on)
{
    setPictureSet(ui->BUTTON_CELL_TYPE, QString("%1 %2 ").arg(kCellTypes[m_nCellType], on ? "on" : "off"));
}

void CellCountWidget::on_BUTTON_CELL_TYPE_clicked()
{
    if (m_bClusterMap) {
        m_bClusterMap = false;
        setPictureSet(ui->BUTTON_CLUSTERMAP, "clustermap off ");
        setCellTypePicture(true);
        HistogramButtonState();
    } else {
        m_nCellType = (m_nCellType + 1) % 3;
        setCellTypePicture(true);
    }
    repaint();
}

void CellCountWidget::on_BUTTON_CLUSTERMAP_clicked()
{
    if (m_bClusterMap)
        return;
    m_bClusterMap = true;
    setPictureSet(ui->BUTTON_CLUSTERMAP, "clustermap on ");
    setCellTypePicture(false);
    HistogramButtonState();
    repaint();
}

void CellCountWidget::on_BUTTON_CELL_CONCENTRATION_OR_NUMBER_clicked()
{
    if (m_bClusterMap)
        return;
    m_nConcentrationOrNumber = m_nConcentrationOrNumber == 0 ? 1 : 0;
    HistogramButtonState();
}

// ---------------------------------------------------------------------------------------------
// The size gate (its controls stay hidden)

void CellCountWidget::moveGateMarkers()
{
    ui->BUTTON_MIN_CELL_SIZE_CONTROL->move(4 * m_nGateMin + 282, kGateY);
    ui->BUTTON_MAX_CELL_SIZE_CONTROL->move(4 * m_nGateMax + 286, kGateY);
}

void CellCountWidget::on_BUTTON_MIN_CELL_SIZE_CONTROL_clicked()
{
    m_nSelectedGate = 0;
    ui->BUTTON_MIN_CELL_SIZE_CONTROL->setStyleSheet("border-image: url(:/UI/graph/red.png);");
    ui->BUTTON_MAX_CELL_SIZE_CONTROL->setStyleSheet("border-image: url(:/UI/graph/gray.png);");
}

void CellCountWidget::on_BUTTON_MAX_CELL_SIZE_CONTROL_clicked()
{
    m_nSelectedGate = 1;
    ui->BUTTON_MIN_CELL_SIZE_CONTROL->setStyleSheet("border-image: url(:/UI/graph/gray.png);");
    ui->BUTTON_MAX_CELL_SIZE_CONTROL->setStyleSheet("border-image: url(:/UI/graph/red.png);");
}

void CellCountWidget::on_BUTTON_MINUS_clicked()
{
    if (m_nSelectedGate == 0) {
        if (m_nGateMin < 2)
            return;
        --m_nGateMin;
    } else {
        if (m_nGateMin >= m_nGateMax - 1)
            return;
        --m_nGateMax;
    }
    m_strGateMin = QString::number(m_nGateMin);
    m_strGateMax = QString::number(m_nGateMax);
    moveGateMarkers();
    repaint();
}

void CellCountWidget::on_BUTTON_PLUS_clicked()
{
    if (m_nSelectedGate == 0) {
        if (m_nGateMin + 1 >= m_nGateMax)
            return;
        ++m_nGateMin;
    } else {
        if (m_nGateMax > kGateLimit - 1)
            return;
        ++m_nGateMax;
    }
    m_strGateMin = QString::number(m_nGateMin);
    m_strGateMax = QString::number(m_nGateMax);
    moveGateMarkers();
    repaint();
}

// The repeat timers run while an arrow is held; nothing is connected to them.
void CellCountWidget::on_BUTTON_MINUS_pressed()
{
    m_MinusTimer.start(kRepeatMs);
}

void CellCountWidget::on_BUTTON_MINUS_released()
{
    m_MinusTimer.stop();
}

void CellCountWidget::on_BUTTON_PLUS_pressed()
{
    m_PlusTimer.start(kRepeatMs);
}

void CellCountWidget::on_BUTTON_PLUS_released()
{
    m_PlusTimer.stop();
}
