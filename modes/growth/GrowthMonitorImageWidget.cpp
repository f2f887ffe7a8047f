#include "GrowthMonitorImageWidget.h"

#include "Globals.h"
#include "GrowthMonitor.h"
#include "ImReaderWriter.h"
#include "LGraphicsView.h"
#include "Navigation.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SeriesStrip.h"
#include "TimeLapseImageWidget.h"
#include "ui_GrowthMonitorImageWidget.h"

#include <QPainter>
#include <QStyleOption>

namespace {

const char *const kSection = "Setting_Growthmonitor";
const QSize kThumbnailSize(80, 60);

} // namespace

const QString GrowthMonitorImageWidget::kShowIntervalDefault = QStringLiteral("1.0 s");

GrowthMonitorImageWidget::GrowthMonitorImageWidget(QWidget *parent)
    : QWidget(parent)
    , m_pReader(std::make_unique<ImReaderWriter>())
    , ui(new Ui_GrowthMonitorImageWidget)
{
    m_ScaleBar.color = Qt::yellow;
    m_ScaleBar.fontSize = 10;
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the browser its background
    ui->setupUi(this);
    m_pStrip = std::make_unique<SeriesStrip>(
        ui->LISTWIDGET_IMAGE, ui->SLIDER_IMAGE_INDICATOR, ui->LABEL_IMAGE_NUMBER,
        SeriesStrip::ShowButtons{ui->BUTTON_SLIDESHOW_START, ui->BUTTON_SLIDESHOW_PAUSE, ui->BUTTON_SLIDESHOW_STOP});
    LGraphicsView *view = ui->m_LGraphicsView;
    setDisplayRegionSize(view->width(), view->height());
    m_bResetView = true;
    view->m_bHighByte = false; // 16-bit files are scaled by 255/4094, not cut to their high byte
    view->setEnableZoomFit(true);

    QListWidget *list = ui->LISTWIDGET_IMAGE;
    list->setGridSize(QSize(105, 60));
    list->setIconSize(kThumbnailSize);
    list->setMovement(QListView::Static);
    list->setAutoScroll(false);
    list->setAutoScrollMargin(0);
    list->setMouseTracking(false);
    ui->SLIDER_IMAGE_INDICATOR->setSingleStep(1);
    ui->SLIDER_IMAGE_INDICATOR->setPageStep(1);
    ui->BUTTON_DELETE_IMAGE->hide();
    m_SlideTimer.setTimerType(Qt::PreciseTimer);

    readSetting();
    makeSignalSlotConnection();
    m_CurrentImageType = IMAGE_SEGMENTATION;
    ui->BUTTON_IMAGE_SEGMENTATION->setChecked(true);
    setSlideShowButtonState(SlideShowReady);
}

GrowthMonitorImageWidget::~GrowthMonitorImageWidget()
{
    delete ui;
}

void GrowthMonitorImageWidget::makeSignalSlotConnection()
{
    LGraphicsView *view = ui->m_LGraphicsView;
    connect(&m_SlideTimer, &QTimer::timeout, this, &GrowthMonitorImageWidget::updateSlide, Qt::UniqueConnection);
    connect(this, &GrowthMonitorImageWidget::changeCurrentIndex, this, &GrowthMonitorImageWidget::changedCurrentIndex,
            Qt::UniqueConnection);
    connect(view, &LGraphicsView::signalMouseZoomEvent, this, &GrowthMonitorImageWidget::slotMouseZoomEvent,
            Qt::UniqueConnection);
    connect(view, &LGraphicsView::changeScaleBarSetting, this, &GrowthMonitorImageWidget::signalChangeScaleBarSetting,
            Qt::UniqueConnection);
}

void GrowthMonitorImageWidget::readSetting()
{
    std::string stored;
    ReadPrivateProfileString(kSection, "ShowInterval", kShowIntervalDefault.toStdString(), stored,
                             Paths::configFile().toStdString());
    const QString text = QString::fromStdString(stored).replace(QLatin1String("sec."), QLatin1String("s"));
    ui->COMBOBOX_SLIDESHOW_INTERVAL->setCurrentText(text);
    m_SlideInterval = TimeLapseImageWidget::slideInterval(text);
}

void GrowthMonitorImageWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

// ---------------------------------------------------------------------------------------------
// The strip

void GrowthMonitorImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &thumbnails, int listIndex)
{
    // A show of the old list does not go on through the new one.
    m_SlideTimer.stop();
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    m_pStrip->clear();
    ui->m_LGraphicsView->clearImageData();
    for (const ThumbnailInfo &image : thumbnails) {
        auto *item = new QListWidgetItem(QIcon(image.thumbnail), QString(), nullptr, QListWidgetItem::Type + image.kind);
        item->setSizeHint(QSize(95, 60));
        item->setData(Qt::UserRole, image.path);
        item->setData(Qt::UserRole + 10, image.sourcePath);
        list->addItem(item);
    }
    m_bResetView = true;
    const int n = list->count();
    if (n == 0) {
        ui->LABEL_IMAGE_NUMBER->setText(QStringLiteral("0/%1").arg(n));
    } else {
        list->setBatchSize(n);
        m_pStrip->setCount(n);
        emit changeCurrentIndex(listIndex >= 1 && listIndex < n ? listIndex : 0);
    }
    m_bResetView = false;
    setSlideShowButtonState(SlideShowReady);
}

void GrowthMonitorImageWidget::changedCurrentIndex(int index)
{
    if (m_pStrip->select(index))
        loadImageByIndex(index);
}

QString GrowthMonitorImageWidget::filePath(int row, TImageType type) const
{
    const QListWidgetItem *item = ui->LISTWIDGET_IMAGE->item(row);
    if (!item)
        return QString();
    if (type == IMAGE_RAW)
        return item->data(Qt::UserRole + 10).toString();
    return GrowthMonitor::getResultFilePath(item->data(Qt::UserRole).toString(), type, QString());
}

bool GrowthMonitorImageWidget::loadImageByIndex(int index)
{
    if (index < 0 || index >= ui->LISTWIDGET_IMAGE->count())
        return false;
    ImReaderWriter &image = *m_pReader;
    // The view shows whole camera frames of one or three samples; anything else is not shown.
    if (!image.read(QFile::encodeName(filePath(index, m_CurrentImageType))) || image.width != quint32(LGraphicsView::kImageWidth)
        || image.height != quint32(LGraphicsView::kImageHeight) || (image.samplesPerPixel != 1 && image.samplesPerPixel != 3))
        return false; // the view keeps what it showed
    ui->m_LGraphicsView->setImageData(m_bPseudoColor ? m_PseudoColorIndex : 7, image.data(image.bitsPerSample),
                                      image.bitsPerSample, image.samplesPerPixel, m_bResetView);
    return true;
}

void GrowthMonitorImageWidget::on_BUTTON_IMAGE_LIST_LEFT_clicked()
{
    if (const int row = m_pStrip->previousRow(); row >= 0)
        emit changeCurrentIndex(row);
}

void GrowthMonitorImageWidget::on_BUTTON_IMAGE_LIST_RIGHT_clicked()
{
    if (const int row = m_pStrip->nextRow(); row >= 0)
        emit changeCurrentIndex(row);
}

void GrowthMonitorImageWidget::on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item)
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    emit changeCurrentIndex(list->row(item));
    list->scrollToItem(item, QAbstractItemView::PositionAtCenter);
}

void GrowthMonitorImageWidget::on_SLIDER_IMAGE_INDICATOR_valueChanged(int value)
{
    emit changeCurrentIndex(value);
}

// ---------------------------------------------------------------------------------------------
// Image type

void GrowthMonitorImageWidget::changeImageType(TImageType type)
{
    if (type == m_CurrentImageType)
        return;
    m_CurrentImageType = type;
    ui->BUTTON_IMAGE_SEGMENTATION->setChecked(type == IMAGE_SEGMENTATION);
    ui->BUTTON_IMAGE_COUNT->setChecked(type == IMAGE_COUNT);
    ui->BUTTON_IMAGE_RAW->setChecked(type == IMAGE_RAW);
    loadImageByIndex(ui->LISTWIDGET_IMAGE->currentRow());
}

void GrowthMonitorImageWidget::typeButtonClicked(TImageType type)
{
    if (type == m_CurrentImageType) {
        // A tap on the checked button keeps it checked.
        QPushButton *button = type == IMAGE_RAW ? ui->BUTTON_IMAGE_RAW
                              : type == IMAGE_COUNT ? ui->BUTTON_IMAGE_COUNT
                                                    : ui->BUTTON_IMAGE_SEGMENTATION;
        button->setChecked(true);
        return;
    }
    changeImageType(type);
}

void GrowthMonitorImageWidget::on_BUTTON_IMAGE_COUNT_clicked()
{
    typeButtonClicked(IMAGE_COUNT);
}

void GrowthMonitorImageWidget::on_BUTTON_IMAGE_SEGMENTATION_clicked()
{
    typeButtonClicked(IMAGE_SEGMENTATION);
}

void GrowthMonitorImageWidget::on_BUTTON_IMAGE_RAW_clicked()
{
    typeButtonClicked(IMAGE_RAW);
}

// ---------------------------------------------------------------------------------------------
// The slide show

void GrowthMonitorImageWidget::setSlideShowButtonState(SlideShowState state)
{
    m_pStrip->setShowButtons(state);
    m_SlideShowState = state;
}

void GrowthMonitorImageWidget::on_COMBOBOX_SLIDESHOW_INTERVAL_currentIndexChanged(const QString &text)
{
    m_SlideInterval = TimeLapseImageWidget::slideInterval(text);
}

void GrowthMonitorImageWidget::on_BUTTON_SLIDESHOW_START_clicked()
{
    WritePrivateProfileString(kSection, "ShowInterval", ui->COMBOBOX_SLIDESHOW_INTERVAL->currentText().toStdString(),
                              Paths::configFile().toStdString());
    setSlideShowButtonState(SlideShowPlaying);
    m_SlideTimer.start(m_SlideInterval);
}

void GrowthMonitorImageWidget::on_BUTTON_SLIDESHOW_PAUSE_clicked()
{
    setSlideShowButtonState(SlideShowPaused);
    m_SlideTimer.stop();
}

void GrowthMonitorImageWidget::on_BUTTON_SLIDESHOW_STOP_clicked()
{
    setSlideShowButtonState(SlideShowStopped);
    m_SlideTimer.stop();
    if (QListWidgetItem *first = ui->LISTWIDGET_IMAGE->item(0))
        emit ui->LISTWIDGET_IMAGE->itemClicked(first);
}

void GrowthMonitorImageWidget::updateSlide()
{
    if (const int next = m_pStrip->nextRow(); next >= 0) {
        emit changeCurrentIndex(next);
        return;
    }
    m_SlideTimer.stop();
    setSlideShowButtonState(SlideShowReady);
    emit changeCurrentIndex(0);
}

// ---------------------------------------------------------------------------------------------
// View, navigator, scale bar, colour

void GrowthMonitorImageWidget::setDisplayRegionSize(int width, int height)
{
    LGraphicsView *view = ui->m_LGraphicsView;
    view->initNavigation(width, height);
    Navigation navigation;
    view->getNavigation(navigation);
    ui->m_NavigationDraw->setGeometry(ui->m_NavigationDraw->geometry().adjusted(0, 0, 1, 1));
    ui->m_NavigationDraw->setNavigation(navigation);
}

void GrowthMonitorImageWidget::slotMouseZoomEvent()
{
    Navigation navigation;
    ui->m_LGraphicsView->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
}

void GrowthMonitorImageWidget::setScaleBar(TSScaleBar scaleBar)
{
    m_ScaleBar = scaleBar;
    if (g_CurrentMenu == MENU_GROWTH_MONITOR)
        ui->m_LGraphicsView->setScaleBar(m_ScaleBar);
}

void GrowthMonitorImageWidget::setPseudoColor(bool on, int, int colorIndex)
{
    m_bPseudoColor = on;
    m_PseudoColorIndex = clampColorIndex(colorIndex);
}

// ---------------------------------------------------------------------------------------------
// Deleting checked images: built for a list with check marks; the page deletes through its table.

void GrowthMonitorImageWidget::on_BUTTON_DELETE_IMAGE_clicked()
{
    slotDeleteSelectedItem();
}

void GrowthMonitorImageWidget::slotDeleteSelectedItem()
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    std::set<int> rows;
    for (int row = list->count() - 1; row >= 0; --row) {
        QListWidgetItem *item = list->item(row);
        if (item->data(Qt::CheckStateRole).toInt() == Qt::Checked) {
            list->setItemWidget(item, nullptr);
            rows.insert(row);
        }
    }
    emit deletedItemIndex(rows);
}
