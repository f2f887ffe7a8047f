#include "CellCountImageWidget.h"

#include "CellCount.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ThumbnailList.h"
#include "Utilities.h"
#include "ui_CellCountImageWidget.h"

#include <QDebug>
#include <QPainter>
#include <QStyleOption>

namespace {

const char *const kSettingSection = "Setting_MultiColor";
constexpr int kGreyRamp = 7;

} // namespace

CellCountImageWidget::CellCountImageWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui_CellCountImageWidget)
{
    ui->setupUi(this);
    for (QWidget *w : {static_cast<QWidget *>(ui->BUTTON_IMAGE_LIST_DOWN), static_cast<QWidget *>(ui->BUTTON_IMAGE_LIST_UP),
                       static_cast<QWidget *>(ui->BUTTON_IMAGE_TYPE_LIST),
                       static_cast<QWidget *>(ui->BUTTON_IMAGE_TYPE_THUMBNAIL), static_cast<QWidget *>(ui->LISTWIDGET_IMAGE)})
        w->hide();

    ThumbnailList::setUp(ui->LISTWIDGET_IMAGE);

    ImageGraphicsView *view = ui->m_LGraphicsView;
    view->initNavigation(view->width(), view->height());
    Navigation navigation;
    view->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
    ui->m_NavigationDraw->resize(ui->m_NavigationDraw->width() + 1, ui->m_NavigationDraw->height() + 1);

    connect(this, &CellCountImageWidget::changeCurrentIndex, this, &CellCountImageWidget::changedCurrentIndex);
    connect(view, &LGraphicsView::signalMouseZoomEvent, this, &CellCountImageWidget::slotMouseZoomEvent);
    connect(view, &ImageGraphicsView::measurementResultChanged, this, &CellCountImageWidget::setMeasurementResult);
    connect(view, &LGraphicsView::changeScaleBarSetting, this, &CellCountImageWidget::signalChangeScaleBarSetting);
    m_bTagImage = true;
}

CellCountImageWidget::~CellCountImageWidget()
{
    delete ui;
}

void CellCountImageWidget::readSetting()
{
    const std::string file = Paths::configFile().toStdString();
    std::string thickness;
    ReadPrivateProfileString(kSettingSection, "LineThickness", "0", thickness, file);
    ui->m_LGraphicsView->setCurrentLineThickness(QString::fromStdString(thickness).trimmed().toInt() + 1);
    ui->m_LGraphicsView->setCurrentLineColor(g_ColorTable[ReadColorIndexSetting(kSettingSection, "LineColor", 1, file)]);
}

// ---------------------------------------------------------------------------------------------
// The list of the count's images

void CellCountImageWidget::clear()
{
    ThumbnailList::deleteItems(ui->LISTWIDGET_IMAGE);
    m_Images.clear();
    repaint();
}

void CellCountImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &thumbnails)
{
    ThumbnailList::deleteItems(ui->LISTWIDGET_IMAGE);
    ui->m_LGraphicsView->clearImageData();
    m_Images = thumbnails;
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    if (!thumbnails.empty()) {
        list->setBatchSize(int(thumbnails.size()));
        for (const ThumbnailInfo &image : thumbnails) {
            auto *item = new QListWidgetItem(QIcon(image.thumbnail), QString(), nullptr, image.kind);
            item->setData(Qt::ForegroundRole, QColor(255, 255, 255, 255));
            list->addItem(item);
        }
    }
    ui->BUTTON_IMAGE_TYPE_THUMBNAIL->setChecked(true);
    ui->BUTTON_IMAGE_TYPE_LIST->setChecked(false);
    changeViewMode(THUMBNAIL_MODE);
    emit changeCurrentIndex(int(thumbnails.size()) - 1);
}

void CellCountImageWidget::changeViewMode(ViewMode mode)
{
    m_ViewMode = mode;
    ThumbnailList::setMode(ui->LISTWIDGET_IMAGE, mode == THUMBNAIL_MODE);
}

void CellCountImageWidget::on_BUTTON_IMAGE_TYPE_THUMBNAIL_clicked()
{
    ui->BUTTON_IMAGE_TYPE_THUMBNAIL->setChecked(true);
    ui->BUTTON_IMAGE_TYPE_LIST->setChecked(false);
    changeViewMode(THUMBNAIL_MODE);
}

void CellCountImageWidget::on_BUTTON_IMAGE_TYPE_LIST_clicked()
{
    ui->BUTTON_IMAGE_TYPE_LIST->setChecked(true);
    ui->BUTTON_IMAGE_TYPE_THUMBNAIL->setChecked(false);
    changeViewMode(LIST_MODE);
}

void CellCountImageWidget::on_BUTTON_IMAGE_LIST_UP_clicked()
{
    ThumbnailList::scroll(ui->LISTWIDGET_IMAGE, m_ViewMode == THUMBNAIL_MODE, -1);
}

void CellCountImageWidget::on_BUTTON_IMAGE_LIST_DOWN_clicked()
{
    ThumbnailList::scroll(ui->LISTWIDGET_IMAGE, m_ViewMode == THUMBNAIL_MODE, 1);
}

void CellCountImageWidget::on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item)
{
    emit changeCurrentIndex(ui->LISTWIDGET_IMAGE->row(item));
}

void CellCountImageWidget::changedCurrentIndex(int index)
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    if (index < 0 || index >= list->count()) {
        qDebug() << Q_FUNC_INFO << " == error";
        return;
    }
    list->scrollToItem(list->item(index), QAbstractItemView::EnsureVisible);
    list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    loadImageByIndex(index, true);
}

// ---------------------------------------------------------------------------------------------
// The view

QString CellCountImageWidget::imagePathOf(int index) const
{
    const QListWidgetItem *item = ui->LISTWIDGET_IMAGE->item(index);
    const char *suffix = item && item->type() == 1 ? ".raw" : m_bTagImage ? "_TAG.tif" : ".tif";
    return QString::asprintf("%sTemp_%06d%s", CellCount::rawDataPath().toUtf8().constData(), index, suffix);
}

QImage CellCountImageWidget::heldImage(int index) const
{
    const QListWidgetItem *item = ui->LISTWIDGET_IMAGE->item(index);
    if (!item || item->type() == 1 || index >= int(m_Images.size()))
        return QImage();
    const ThumbnailInfo &images = m_Images[size_t(index)];
    return m_bTagImage ? images.image : images.frameImage;
}

void CellCountImageWidget::loadImageByIndex(int index, bool reset)
{
    // Only a camera frame is shown: anything else is left out like an unreadable file.
    const auto cameraFrame = [](quint32 width, quint32 height) {
        return width == quint32(LGraphicsView::kImageWidth) && height == quint32(LGraphicsView::kImageHeight);
    };
    const QImage held = heldImage(index);
    ImReaderWriter image;
    void *data = nullptr;
    int bits = 8, channels = 1;
    ImageGraphicsView *view = ui->m_LGraphicsView;
    QImage shared; // the held tagged image, shown without a copy
    if (!held.isNull()) {
        if (!cameraFrame(quint32(held.width()), quint32(held.height())))
            return;
        if (held.format() == QImage::Format_RGB888)
            shared = held;
        else
            data = const_cast<uchar *>(held.constBits());
    } else {
        if (!image.read(imagePathOf(index).toUtf8()) || !cameraFrame(image.width, image.height))
            return;
        bits = image.bitsPerSample;
        channels = image.samplesPerPixel;
        data = image.data(bits);
    }
    const int colorIndex = m_bPseudoColor ? clampColorIndex(m_nPseudoColorIndex) : kGreyRamp;
    if (reset)
        view->deleteAllAnnotation();
    if (!shared.isNull())
        view->setFrameImage(shared, reset);
    else
        view->setImageData(colorIndex, data, bits, channels, reset);
}

void CellCountImageWidget::setPseudoColor(bool on, int, int colorIndex)
{
    m_bPseudoColor = on;
    m_nPseudoColorIndex = colorIndex;
    const int row = ui->LISTWIDGET_IMAGE->currentRow();
    if (g_CurrentMenu == MENU_CELLCOUNT && isVisible() && row >= 0 && row < ui->LISTWIDGET_IMAGE->count())
        loadImageByIndex(row, false);
}

void CellCountImageWidget::slotShowTagImage(bool tagged, bool show)
{
    m_bTagImage = tagged;
    if (show)
        emit changeCurrentIndex(ui->LISTWIDGET_IMAGE->currentRow());
}

void CellCountImageWidget::setScaleBar(TSScaleBar scaleBar)
{
    m_ScaleBar = scaleBar;
    if (g_CurrentMenu == MENU_CELLCOUNT)
        ui->m_LGraphicsView->setScaleBar(m_ScaleBar);
}

void CellCountImageWidget::setCurrentMeasurementTool(int tool)
{
    ui->m_LGraphicsView->setCurrentMeasurementTool(tool);
}

void CellCountImageWidget::slotGetCurrentImageData()
{
    QImage image;
    ui->m_LGraphicsView->getImageData(image);
    emit generateImageData(image.copy());
}

void CellCountImageWidget::slotMouseZoomEvent()
{
    Navigation navigation;
    ui->m_LGraphicsView->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
}

void CellCountImageWidget::setMeasurementResult(TSMeasurementItem &item, bool)
{
    emit measurementResultChanged(item);
}

void CellCountImageWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
