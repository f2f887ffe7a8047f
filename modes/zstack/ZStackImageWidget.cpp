#include "ZStackImageWidget.h"

#include "Globals.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "SeriesVideoExporter.h"
#include "ThumbnailList.h"
#include "Utilities.h"
#include "ZStackPositionText.h"
#include "ui_ZStackImageWidget.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOption>

namespace {

// A slice or merged file the view can show: the frame geometry the view is built for.
bool readFrame(const QByteArray &path, ImReaderWriter &image)
{
    return image.read(path) && image.width == quint32(LGraphicsView::kImageWidth)
           && image.height == quint32(LGraphicsView::kImageHeight);
}

} // namespace

const QString ZStackImageWidget::kDeleteFailedText =
    QStringLiteral("<p><b>Error!</b><br/><br/>The file could not be deleted.</p>");

ZStackImageWidget::ZStackImageWidget(QWidget *parent)
    : QWidget(parent)
    , m_pReader(std::make_unique<ImReaderWriter>())
    , ui(new Ui_ZStackImageWidget)
{
    m_pVideoExporter = new SeriesVideoExporter(
        {[this](int row, bool annotate) {
             if (row == ZStackPositionText::kMergedIndex)
                 loadImageByFullFocus();
             else
                 loadImageByIndex(row, annotate);
         },
         [this](QImage &frame) { return ui->m_LGraphicsView->renderImageData(frame); }},
        this);
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the browser its background
    ui->setupUi(this);
    readSetting();

    QListWidget *list = ui->LISTWIDGET_IMAGE;
    ThumbnailList::setUp(list);

    LGraphicsView *view = ui->m_LGraphicsView;
    view->initNavigation(view->width(), view->height());
    ui->m_NavigationDraw->setGeometry(ui->m_NavigationDraw->geometry().adjusted(0, 0, 1, 1));
    Navigation navigation;
    view->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);

    connect(this, &ZStackImageWidget::changeCurrentIndex, this, &ZStackImageWidget::changedCurrentIndex);
    connect(view, &LGraphicsView::signalMouseZoomEvent, this, &ZStackImageWidget::slotMouseZoomEvent);
    connect(view, &LGraphicsView::changeScaleBarSetting, this, &ZStackImageWidget::signalChangeScaleBarSetting);

    m_FullFocusImagePath.clear();
    m_bResetView = true;
    view->m_bHighByte = false; // 16-bit slices are scaled, not cut to their high byte
    view->setDefalutTextItemPos(QPointF(750, 930));

    m_ListUpButtonRect = ui->BUTTON_IMAGE_LIST_UP->geometry();
    m_ListWidgetRect = list->geometry();
}

ZStackImageWidget::~ZStackImageWidget()
{
    delete ui;
}

void ZStackImageWidget::readSetting()
{
    m_bObjectiveSet = false; // the camera's pixel size may have changed too
    ui->m_LGraphicsView->readStampFont();
}

// ---------------------------------------------------------------------------------------------
// The strip

void ZStackImageWidget::deleteItems()
{
    ThumbnailList::deleteItems(ui->LISTWIDGET_IMAGE);
}

void ZStackImageWidget::clear()
{
    deleteItems();
    repaint();
}

void ZStackImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &thumbnails)
{
    deleteItems();
    ui->m_LGraphicsView->clearImageData();
    m_bObjectiveSet = false;
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    if (!thumbnails.empty()) {
        list->setBatchSize(int(thumbnails.size()));
        for (const ThumbnailInfo &slice : thumbnails) {
            auto *item = new QListWidgetItem(QIcon(slice.thumbnail), QString());
            item->setData(Qt::UserRole, slice.path);
            item->setData(Qt::ForegroundRole, QColor(255, 255, 255, 255));
            list->addItem(item);
        }
    }
    ui->BUTTON_IMAGE_TYPE_THUMBNAIL->setChecked(true);
    ui->BUTTON_IMAGE_TYPE_LIST->setChecked(false);
    changeViewMode(THUMBNAIL_MODE);

    // The first slice of a new series is shown at 100 %; later ones keep the user's zoom.
    m_bResetView = true;
    emit changeCurrentIndex(0);
    m_bResetView = false;
}

void ZStackImageWidget::changeViewMode(ViewMode mode)
{
    m_ViewMode = mode;
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    const bool thumbnails = mode == THUMBNAIL_MODE;
    ThumbnailList::setMode(list, thumbnails);
    // One grid row a scroll step in thumbnails, one item in the list.
    list->setVerticalScrollMode(thumbnails ? QAbstractItemView::ScrollPerPixel : QAbstractItemView::ScrollPerItem);
}

void ZStackImageWidget::on_BUTTON_IMAGE_TYPE_THUMBNAIL_clicked()
{
    ui->BUTTON_IMAGE_TYPE_LIST->setChecked(false);
    ui->BUTTON_IMAGE_TYPE_THUMBNAIL->setChecked(true);
    changeViewMode(THUMBNAIL_MODE);
}

void ZStackImageWidget::on_BUTTON_IMAGE_TYPE_LIST_clicked()
{
    ui->BUTTON_IMAGE_TYPE_LIST->setChecked(true);
    ui->BUTTON_IMAGE_TYPE_THUMBNAIL->setChecked(false);
    changeViewMode(LIST_MODE);
}

void ZStackImageWidget::scrollList(int direction)
{
    ThumbnailList::scroll(ui->LISTWIDGET_IMAGE, m_ViewMode == THUMBNAIL_MODE, direction);
}

void ZStackImageWidget::on_BUTTON_IMAGE_LIST_UP_clicked()
{
    scrollList(-1);
}

void ZStackImageWidget::on_BUTTON_IMAGE_LIST_DOWN_clicked()
{
    scrollList(1);
}

void ZStackImageWidget::on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item)
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    emit changeCurrentIndex(list->row(item));
    list->scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void ZStackImageWidget::changedCurrentIndex(int index)
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    if (QListWidgetItem *item = list->item(index))
        list->scrollToItem(item, QAbstractItemView::EnsureVisible);
    list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    if (index < 0)
        list->clearSelection();
    loadImageByIndex(index, true);
}

// ---------------------------------------------------------------------------------------------
// The view

void ZStackImageWidget::setTileSelected(bool selected)
{
    ui->LABEL_IMAGE->setStyleSheet(selected ? "color: rgb(210,210,210);" : "color: rgb(130,130,130);");
    ui->LABEL_IMAGE_BOX->setStyleSheet(selected ? "QLabel{ border: 1px solid rgb(1,122,255); }"
                                                : "QLabel{ border: 1px solid rgb(130,130,130); }");
}

void ZStackImageWidget::loadImageByIndex(int row, bool annotate)
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    const int count = list->count();
    if (row < 0 || row >= count)
        return;
    m_bFullFocusShown = false;
    ui->BUTTON_DELETE_IMAGE->setEnabled(true);
    setTileSelected(false);

    ImReaderWriter &image = *m_pReader;
    if (!readFrame(list->item(row)->data(Qt::UserRole).toString().toUtf8(), image))
        return; // the view keeps what it showed
    LGraphicsView *view = ui->m_LGraphicsView;
    view->setPixmapTransform(image.orientation);
    view->setImageData(m_bPseudoColor ? m_nPseudoColorIndex : 7, image.data(image.bitsPerSample), image.bitsPerSample,
                       image.samplesPerPixel, m_bResetView);

    const QString meta = QString::fromUtf8(image.description);
    QString objective;
    getMetaInfoValue(meta, QStringLiteral("Objective"), objective);
    setObjective(objective);
    if (m_ScaleBar.show) {
        TSScaleBar bar = m_ScaleBar;
        bar.show = true;
        bar.useViewPixelSize = true; // the bar's length follows this slice's objective
        bar.resetPosition = false;   // a reset was for the slice it came with
        view->setScaleBar(bar);
    }

    if (annotate) {
        const QString first = positionOfRow(0), last = positionOfRow(count - 1);
        view->setAnnotationText(ZStackPositionText::text(ZStackPositionText::ofMetaText(meta),
                                                         ZStackPositionText::span(first, last), row + 1, count));
        view->showAnnotationText(m_bShowAnnotation);
    }
}

// The objective a slice was taken with ("Olympus 10X NA 0.25 ..."): maker and magnification give
// the view its pixel size. The camera settings behind it are read again only when the objective
// changes, or after readSetting or a new series.
void ZStackImageWidget::setObjective(const QString &objective)
{
    if (m_bObjectiveSet && objective == m_Objective)
        return;
    QString brand;
    float magnification = 0.0f;
    objectiveOf(objective, brand, magnification);
    ui->m_LGraphicsView->setObjectiveInfo(brand, magnification);
    m_Objective = objective;
    m_bObjectiveSet = true;
}

// The "Z Position" of a row's file, read once and kept with its item: every slice shown needs
// the first and the last one for the span.
QString ZStackImageWidget::positionOfRow(int row)
{
    QListWidgetItem *item = ui->LISTWIDGET_IMAGE->item(row);
    if (!item)
        return QString();
    QVariant position = item->data(kPositionRole);
    if (!position.isValid()) {
        position = ZStackPositionText::ofFile(item->data(Qt::UserRole).toString());
        item->setData(kPositionRole, position);
    }
    return position.toString();
}

void ZStackImageWidget::objectiveOfMeta(const QString &meta, QString &brand, float &magnification)
{
    QString objective;
    getMetaInfoValue(meta, QStringLiteral("Objective"), objective);
    objectiveOf(objective, brand, magnification);
}

void ZStackImageWidget::objectiveOf(const QString &objective, QString &brand, float &magnification)
{
    const QStringList parts = objective.trimmed().split(QLatin1Char(' '));
    brand.clear();
    magnification = 0.0f;
    if (parts.size() > 2) {
        brand = parts[0];
        magnification = parts[1].chopped(parts[1].isEmpty() ? 0 : 1).trimmed().toFloat();
    }
}

// ---------------------------------------------------------------------------------------------
// The merged image

void ZStackImageWidget::loadFullThumbnail(bool bFullFocus, ThumbnailInfo &image)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->LABEL_IMAGE, ui->LABEL_IMAGE_BOX, ui->BUTTON_IMAGE})
        w->setVisible(bFullFocus);
    if (!bFullFocus) {
        ui->BUTTON_IMAGE_LIST_UP->setGeometry(m_ListUpButtonRect);
        ui->LISTWIDGET_IMAGE->setGeometry(m_ListWidgetRect);
        return;
    }
    m_FullFocusImagePath = image.path.toUtf8();
    ui->BUTTON_IMAGE->setIcon(QIcon(image.thumbnail));
    ui->BUTTON_IMAGE->setIconSize(image.thumbnail.size());
    const int shift = ui->LABEL_IMAGE_BOX->height() + 20;
    ui->BUTTON_IMAGE_LIST_UP->setGeometry(m_ListUpButtonRect.translated(0, shift));
    ui->LISTWIDGET_IMAGE->setGeometry(m_ListWidgetRect.adjusted(0, shift, 0, 0));
    loadImageByFullFocus();
}

void ZStackImageWidget::loadImageByFullFocus()
{
    m_bFullFocusShown = true;
    ui->BUTTON_DELETE_IMAGE->setEnabled(false);
    setTileSelected(true);
    emit changeCurrentIndex(ZStackPositionText::kMergedIndex); // no slice is shown: the list and the page say so
    ImReaderWriter &image = *m_pReader;
    if (!readFrame(m_FullFocusImagePath, image))
        return;
    LGraphicsView *view = ui->m_LGraphicsView;
    view->setImageData(7, image.data(image.bitsPerSample), image.bitsPerSample, image.samplesPerPixel, m_bResetView);
    view->showAnnotationText(false);
}

void ZStackImageWidget::on_BUTTON_IMAGE_clicked()
{
    loadImageByFullFocus();
}

// ---------------------------------------------------------------------------------------------
// Deleting a slice

void ZStackImageWidget::showMessage(int type)
{
    MessageDlg message;
    message.setMsgType(TMessageType(type));
    message.exec();
}

int ZStackImageWidget::confirm(int type)
{
    MessageDlg message;
    message.setMsgType(TMessageType(type));
    return message.exec();
}

void ZStackImageWidget::on_BUTTON_DELETE_IMAGE_clicked()
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    const int row = list->currentRow();
    if (row < 0 || row >= list->count()) {
        showMessage(MSG_NO_SELECTED_IMAGE);
        return;
    }
    if (list->count() == 1) {
        showMessage(MSG_LAST_IMAGE_NOT_DELETABLE);
        return;
    }
    if (confirm(MSG_DELETE_DATA) != 1)
        return;
    // A slice stays in the strip and the stack while its file remains.
    const QString path = list->item(row)->data(Qt::UserRole).toString();
    if (!QFile::remove(path) && QFileInfo::exists(path)) {
        MessageDlg message;
        message.setMessage(kDeleteFailedText);
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
        return;
    }
    const bool lastRow = row == list->count() - 1;
    delete list->takeItem(row);
    emit changeCurrentIndex(lastRow ? row - 1 : row);
    emit deleteThumbnail(row);
}

// ---------------------------------------------------------------------------------------------
// Settings from the page and the panel

void ZStackImageWidget::setPseudoColor(bool on, int, int colorIndex)
{
    m_bPseudoColor = on;
    m_nPseudoColorIndex = clampColorIndex(colorIndex);
}

void ZStackImageWidget::setScaleBar(TSScaleBar scaleBar)
{
    m_ScaleBar = scaleBar;
    if (g_CurrentMenu != MENU_ZSTACK)
        return;
    m_ScaleBar.useViewPixelSize = true;
    ui->m_LGraphicsView->setScaleBar(m_ScaleBar);
}

void ZStackImageWidget::slotGetScaleBarPoint()
{
    QPointF point(0, 0);
    ui->m_LGraphicsView->getScaleBarPoint(point);
    emit setScaleBarPoint(point);
}

void ZStackImageWidget::slotEnableAnnotation(bool bShow)
{
    m_bShowAnnotation = bShow;
    if (!m_bFullFocusShown)
        ui->m_LGraphicsView->showAnnotationText(bShow);
}

void ZStackImageWidget::slotGetAnnotationTextInfo()
{
    TAnnotationTextInfo info;
    ui->m_LGraphicsView->getAnnotationTextInfo(info);
    emit setAnnotationTextInfo(info);
}

void ZStackImageWidget::slotSaveVideo()
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    QStringList paths;
    for (int row = 0; row < list->count(); ++row)
        paths << list->item(row)->data(Qt::UserRole).toString();
    // The export shows every slice in the view; what was shown before comes back after it.
    m_pVideoExporter->exportSeries(paths, m_bFullFocusShown ? ZStackPositionText::kMergedIndex : list->currentRow(),
                                   m_bShowAnnotation);
}

void ZStackImageWidget::slotMouseZoomEvent()
{
    Navigation navigation;
    ui->m_LGraphicsView->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
}

void ZStackImageWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
