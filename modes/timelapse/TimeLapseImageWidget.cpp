#include "TimeLapseImageWidget.h"

#include "Globals.h"
#include "ImReaderWriter.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SeriesStrip.h"
#include "SeriesVideoExporter.h"
#include "Utilities.h"
#include "ZStackImageWidget.h"
#include "ui_TimeLapseImageWidget.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace {

const char *const kTimelapseSection = "Setting_Timelapse";
const QSize kThumbnailSize(80, 60);

// The "Time" value of a metadata text; empty when it has none.
QString timeOfMeta(const QString &meta)
{
    QString value;
    getMetaInfoValue(meta, QStringLiteral("Time"), value);
    return value;
}

QString timeOfFile(const QString &path)
{
    QString meta;
    if (getImageMetaInfo(path.toStdString(), meta) != 1)
        return QString();
    return timeOfMeta(meta);
}

} // namespace

const QString TimeLapseImageWidget::kShowIntervalDefault = QStringLiteral("1.0 s");

TimeLapseImageWidget::TimeLapseImageWidget(QWidget *parent)
    : QWidget(parent)
    , m_pReader(std::make_unique<ImReaderWriter>())
    , ui(new Ui_TimeLapseImageWidget)
{
    m_ScaleBar.color = Qt::yellow;
    m_ScaleBar.fontSize = 10;
    // The export shows every image through this view, as the user sees it.
    m_pVideoExporter = new SeriesVideoExporter(
        {[this](int row, bool annotate) { loadImageByIndex(row, annotate); },
         [this](QImage &frame) { return ui->m_LGraphicsView->renderImageData(frame); }},
        this);
    setAttribute(Qt::WA_StyledBackground); // the main window's form gives the browser its background
    ui->setupUi(this);
    m_pStrip = std::make_unique<SeriesStrip>(
        ui->LISTWIDGET_IMAGE, ui->SLIDER_IMAGE_INDICATOR, ui->LABEL_IMAGE_NUMBER,
        SeriesStrip::ShowButtons{ui->BUTTON_SLIDESHOW_START, ui->BUTTON_SLIDESHOW_PAUSE, ui->BUTTON_SLIDESHOW_STOP});

    LGraphicsView *view = ui->m_LGraphicsView;
    setDisplayRegionSize(view->width(), view->height());
    m_SlideInterval = kFallbackSlideInterval;
    m_bResetView = true;
    m_bDragging = false;
    m_RegionPos = QPoint(640 - view->width() / 2, 512 - view->height() / 2);
    ui->m_NavigationWidget->setImageSize(LGraphicsView::kImageWidth, LGraphicsView::kImageHeight);

    QListWidget *list = ui->LISTWIDGET_IMAGE;
    list->setGridSize(QSize(100, 60));
    list->setAutoScroll(false);
    list->setAutoScrollMargin(0);
    list->setFrameShape(QFrame::NoFrame);
    list->setAttribute(Qt::WA_MouseTracking, false);
    list->setIconSize(kThumbnailSize);
    list->setMovement(QListView::Static);
    list->setWrapping(false); // one row: a longer series scrolls instead of wrapping out of sight
    ui->SLIDER_IMAGE_INDICATOR->setSingleStep(1);
    ui->SLIDER_IMAGE_INDICATOR->setPageStep(1);

    readSetting();
    makeSignalSlotConnection();

    ui->m_NavigationWidget->hide();
    view->m_bHighByte = false; // 16-bit images are scaled by 255/4094, not cut to their high byte
    view->setDefalutTextItemPos(QPointF(640.0, 930.0));
    m_SlideTimer.setTimerType(Qt::PreciseTimer);
    ui->BUTTON_VIDEO->hide();
    view->setEnableZoomFit(true);
}

TimeLapseImageWidget::~TimeLapseImageWidget()
{
    delete ui;
}

void TimeLapseImageWidget::makeSignalSlotConnection()
{
    LGraphicsView *view = ui->m_LGraphicsView;
    connect(&m_SlideTimer, &QTimer::timeout, this, &TimeLapseImageWidget::updateSlide, Qt::UniqueConnection);
    connect(this, &TimeLapseImageWidget::changeCurrentIndex, this, &TimeLapseImageWidget::changedCurrentIndex,
            Qt::UniqueConnection);
    connect(view, &LGraphicsView::signalMouseZoomEvent, this, &TimeLapseImageWidget::slotMouseZoomEvent,
            Qt::UniqueConnection);
    connect(view, &LGraphicsView::changeScaleBarSetting, this, &TimeLapseImageWidget::signalChangeScaleBarSetting,
            Qt::UniqueConnection);
}

int TimeLapseImageWidget::slideInterval(const QString &text)
{
    const QString number = text.section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    const int ms = int(number.toFloat(&ok) * 1000.0f);
    // A setting that is no positive number would run the whole show in one blocking loop.
    return ok && ms > 0 ? ms : kFallbackSlideInterval;
}

void TimeLapseImageWidget::readSetting()
{
    const std::string file = Paths::configFile().toStdString();
    std::string interval;
    ReadPrivateProfileString(kTimelapseSection, "ShowInterval", kShowIntervalDefault.toStdString(), interval, file);
    const QString text = QString::fromStdString(interval).replace(QLatin1String("sec."), QLatin1String("s"));
    const int item = ui->COMBOBOX_SLIDESHOW_INTERVAL->findText(text);
    if (item >= 0)
        ui->COMBOBOX_SLIDESHOW_INTERVAL->setCurrentIndex(item);
    m_SlideInterval = slideInterval(text);

    ui->m_LGraphicsView->readStampFont();
}

// ---------------------------------------------------------------------------------------------
// The strip

QString TimeLapseImageWidget::itemPath(int row) const
{
    return ui->LISTWIDGET_IMAGE->item(row)->data(Qt::UserRole).toString();
}

void TimeLapseImageWidget::loadThumbnail(std::vector<ThumbnailInfo> &thumbnails, bool)
{
    m_pStrip->clear();
    ui->m_LGraphicsView->clearImageData();
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    if (thumbnails.empty()) {
        ui->LABEL_IMAGE_NUMBER->setText(QStringLiteral("0/%1").arg(list->count()));
    } else {
        for (const ThumbnailInfo &image : thumbnails) {
            auto *item = new QListWidgetItem(QIcon(image.thumbnail), QString());
            item->setSizeHint(kThumbnailSize);
            item->setData(Qt::UserRole, image.path);
            list->addItem(item);
        }
        const int n = int(thumbnails.size());
        m_bResetView = true;
        list->setBatchSize(n);
        ui->SLIDER_IMAGE_INDICATOR->setRange(0, n - 1);
        emit changeCurrentIndex(0);
        ui->m_LGraphicsView->zoomFit();
    }
    m_bResetView = false;
    setSlideShowButtonState(SlideShowReady);
}

void TimeLapseImageWidget::changedCurrentIndex(int index)
{
    if (m_pStrip->select(index))
        loadImageByIndex(index, true);
}

void TimeLapseImageWidget::on_BUTTON_IMAGE_LIST_LEFT_clicked()
{
    if (const int row = m_pStrip->previousRow(); row >= 0)
        emit changeCurrentIndex(row);
}

void TimeLapseImageWidget::on_BUTTON_IMAGE_LIST_RIGHT_clicked()
{
    if (const int row = m_pStrip->nextRow(); row >= 0)
        emit changeCurrentIndex(row);
}

void TimeLapseImageWidget::on_LISTWIDGET_IMAGE_itemClicked(QListWidgetItem *item)
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    emit changeCurrentIndex(list->row(item));
    list->scrollToItem(item, QAbstractItemView::PositionAtCenter);
}

void TimeLapseImageWidget::on_SLIDER_IMAGE_INDICATOR_valueChanged(int value)
{
    emit changeCurrentIndex(value);
}

// ---------------------------------------------------------------------------------------------
// The view

QString TimeLapseImageWidget::annotationText(const QString &time, const QString &lastTime, int number, int count)
{
    if (!time.isEmpty() && !lastTime.isEmpty())
        return QStringLiteral("%1 / %2  %3 / %4").arg(time, lastTime).arg(number).arg(count);
    return QStringLiteral("%1 / %2").arg(number).arg(count);
}

void TimeLapseImageWidget::loadImageByIndex(int index, bool annotate)
{
    const int count = ui->LISTWIDGET_IMAGE->count();
    if (index < 0 || index >= count)
        return;
    ImReaderWriter &image = *m_pReader;
    LGraphicsView *view = ui->m_LGraphicsView;
    const auto wholeFrame = [](const ImReaderWriter &file) {
        return file.width == quint32(LGraphicsView::kImageWidth) && file.height == quint32(LGraphicsView::kImageHeight);
    };
    // An 8-bit grey frame is read straight into the view's next frame, which shows it as it is.
    const auto intoView = [&](const ImReaderWriter &file) -> void * {
        return wholeFrame(file) && file.bitsPerSample == 8 && file.samplesPerPixel == 1 ? view->nextFrame8() : nullptr;
    };
    void *samples = nullptr;
    // The view reads a whole camera frame: anything else is not shown.
    if (!image.read(itemPath(index).toUtf8(), intoView, samples) || !wholeFrame(image))
        return; // the view keeps what it showed
    view->setPixmapTransform(image.orientation);
    view->setImageData(m_bPseudoColor ? m_PseudoColorIndex : 7, samples, image.bitsPerSample, image.samplesPerPixel,
                       m_bResetView);

    const QString meta = QString::fromUtf8(image.description);
    QString objective;
    getMetaInfoValue(meta, QStringLiteral("Objective"), objective);
    setObjective(objective);
    if (m_ScaleBar.show) {
        TSScaleBar bar = m_ScaleBar;
        bar.show = true;
        bar.resetPosition = false; // a reset was for the image it came with
        view->setScaleBar(bar);
    }

    if (annotate) {
        view->setAnnotationText(annotationText(timeOfMeta(meta), lastTime(itemPath(count - 1)), index + 1, count));
        view->showAnnotationText(m_bShowAnnotation);
    }
}

void TimeLapseImageWidget::setObjective(const QString &objective)
{
    const bool playing = m_SlideShowState == SlideShowPlaying;
    if (playing && !m_Objective.isNull() && objective == m_Objective)
        return;
    QString brand;
    float magnification = 0.0f;
    ZStackImageWidget::objectiveOf(objective, brand, magnification);
    ui->m_LGraphicsView->setObjectiveInfo(brand, magnification);
    m_Objective = playing ? objective : QString();
}

QString TimeLapseImageWidget::lastTime(const QString &path)
{
    const bool playing = m_SlideShowState == SlideShowPlaying;
    if (playing && path == m_LastTimePath)
        return m_LastTime;
    m_LastTime = timeOfFile(path);
    m_LastTimePath = playing ? path : QString();
    return m_LastTime;
}

void TimeLapseImageWidget::slotMouseZoomEvent()
{
    Navigation navigation;
    ui->m_LGraphicsView->getNavigation(navigation);
    ui->m_NavigationDraw->setNavigation(navigation);
}

void TimeLapseImageWidget::setDisplayRegionSize(int width, int height)
{
    m_RegionSize = QSize(width, height);
    m_RegionRect = QRect(ui->m_NavigationDraw->pos(), m_RegionSize);
    ui->m_NavigationWidget->setDisplaySize(width, height);
    LGraphicsView *view = ui->m_LGraphicsView;
    view->initNavigation(width, height);
    ui->m_NavigationDraw->resize(ui->m_NavigationDraw->width() + 1, ui->m_NavigationDraw->height() + 1);
    slotMouseZoomEvent();
}

// The own pan only moves the hidden mini-map's region.
void TimeLapseImageWidget::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->localPos().toPoint();
    if (m_RegionRect.contains(pos)) {
        m_bDragging = true;
        m_PressPos = pos;
    }
    QWidget::mousePressEvent(event);
}

void TimeLapseImageWidget::mouseReleaseEvent(QMouseEvent *event)
{
    m_bDragging = false;
    QWidget::mouseReleaseEvent(event);
}

void TimeLapseImageWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_bDragging) {
        m_MovePos = event->localPos().toPoint();
        const QPoint shifted = m_RegionPos + (m_PressPos - m_MovePos);
        m_RegionPos = QPoint(qBound(0, shifted.x(), qMax(0, LGraphicsView::kImageWidth - m_RegionSize.width())),
                             qBound(0, shifted.y(), qMax(0, LGraphicsView::kImageHeight - m_RegionSize.height())));
        m_PressPos = m_MovePos;
        repaint();
        ui->m_NavigationWidget->setCurrentPosition(m_RegionPos.x(), m_RegionPos.y());
    }
    QWidget::mouseMoveEvent(event);
}

void TimeLapseImageWidget::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

void TimeLapseImageWidget::drawScaleBar(QPainter &painter)
{
    if (!m_ScaleBar.show || m_ScaleBar.noObjective)
        return;
    const float length = m_ScaleBar.lengthPixels;
    QPointF start;
    switch (m_ScaleBar.corner) {
    case 0: start = m_ScaleBar.topLeft + QPointF(200, 0); break;
    case 1: start = m_ScaleBar.topRight - QPointF(length, 0); break;
    case 2: start = m_ScaleBar.bottomLeft + QPointF(200, -140); break;
    default: start = m_ScaleBar.bottomRight - QPointF(length, 140); break;
    }
    painter.setPen(QPen(m_ScaleBar.color, m_ScaleBar.lineWidth));
    painter.drawLine(start, start + QPointF(length, 0));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), qMax(1, m_ScaleBar.fontSize)));
    painter.drawText(QPointF(start.x() + length / 2 - 20, start.y() + 20),
                     QStringLiteral("%1 %2").arg(m_ScaleBar.lengthUm).arg(QStringLiteral("µm")));
}

// ---------------------------------------------------------------------------------------------
// Deleting an image

void TimeLapseImageWidget::on_BUTTON_DELETE_IMAGE_clicked()
{
    QListWidget *list = ui->LISTWIDGET_IMAGE;
    const int row = list->currentRow();
    auto show = [](int type) {
        MessageDlg message;
        message.setMsgType(TMessageType(type));
        return message.exec();
    };
    if (row < 0 || row >= list->count()) {
        show(MSG_NO_SELECTED_IMAGE);
        return;
    }
    if (list->count() == 1) {
        show(MSG_LAST_IMAGE_NOT_DELETABLE);
        return;
    }
    if (show(MSG_DELETE_DATA) != 1)
        return;
    // An image stays in the strip and the series while its file remains.
    const QString path = itemPath(row);
    if (!QFile::remove(path) && QFileInfo::exists(path)) {
        MessageDlg message;
        message.setMessage(ZStackImageWidget::kDeleteFailedText);
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
        return;
    }
    const bool lastRow = row == list->count() - 1;
    delete list->takeItem(row);
    ui->SLIDER_IMAGE_INDICATOR->blockSignals(true);
    ui->SLIDER_IMAGE_INDICATOR->setRange(0, list->count() - 1);
    ui->SLIDER_IMAGE_INDICATOR->blockSignals(false);
    emit changeCurrentIndex(lastRow ? row - 1 : row);
    emit deleteThumbnail(row);
}

// ---------------------------------------------------------------------------------------------
// The slide show

void TimeLapseImageWidget::setSlideShowButtonState(SlideShowState state)
{
    m_pStrip->setShowButtons(state);
    const bool enable = state != SlideShowPlaying;
    m_SlideShowState = state;
    for (QWidget *w : std::initializer_list<QWidget *>{ui->BUTTON_IMAGE_LIST_LEFT, ui->BUTTON_IMAGE_LIST_RIGHT,
                                                       ui->BUTTON_DELETE_IMAGE, ui->COMBOBOX_SLIDESHOW_INTERVAL})
        w->setEnabled(enable);
    emit signalEnableMainMenu(enable);
    emit setEnableControlState(enable);
}

void TimeLapseImageWidget::on_COMBOBOX_SLIDESHOW_INTERVAL_currentIndexChanged(const QString &text)
{
    m_SlideInterval = slideInterval(text);
}

void TimeLapseImageWidget::on_BUTTON_SLIDESHOW_START_clicked()
{
    WritePrivateProfileString(kTimelapseSection, "ShowInterval",
                              ui->COMBOBOX_SLIDESHOW_INTERVAL->currentText().toStdString(),
                              Paths::configFile().toStdString());
    m_Objective.clear(); // settings and files may have changed while the show was paused
    m_LastTimePath.clear();
    setSlideShowButtonState(SlideShowPlaying);
    m_SlideElapsed.start();
    m_SlideTimer.start(m_SlideInterval > 0 ? m_SlideInterval : kFallbackSlideInterval);
}

void TimeLapseImageWidget::updateSlide()
{
    if (const int next = m_pStrip->nextRow(); next >= 0) {
        emit changeCurrentIndex(next);
        return;
    }
    m_SlideTimer.stop();
    qDebug() << Q_FUNC_INFO << "slide show ended after" << m_SlideElapsed.elapsed() << "ms";
    setSlideShowButtonState(SlideShowReady);
    emit changeCurrentIndex(0);
}

void TimeLapseImageWidget::on_BUTTON_SLIDESHOW_PAUSE_clicked()
{
    setSlideShowButtonState(SlideShowPaused);
    m_SlideTimer.stop();
}

void TimeLapseImageWidget::on_BUTTON_SLIDESHOW_STOP_clicked()
{
    setSlideShowButtonState(SlideShowStopped);
    m_SlideTimer.stop();
    if (QListWidgetItem *first = ui->LISTWIDGET_IMAGE->item(0))
        emit ui->LISTWIDGET_IMAGE->itemClicked(first);
}

// ---------------------------------------------------------------------------------------------
// Settings from the page and the panel, and the video

void TimeLapseImageWidget::setPseudoColor(bool on, int, int colorIndex)
{
    m_bPseudoColor = on;
    m_PseudoColorIndex = clampColorIndex(colorIndex);
}

void TimeLapseImageWidget::setScaleBar(TSScaleBar scaleBar)
{
    m_ScaleBar = scaleBar;
    if (g_CurrentMenu != MENU_TIMELAPSE)
        return; // the next image display applies it
    m_ScaleBar.useViewPixelSize = true;
    ui->m_LGraphicsView->setScaleBar(m_ScaleBar);
}

void TimeLapseImageWidget::slotGetScaleBarPoint()
{
    QPointF point(0, 0);
    ui->m_LGraphicsView->getScaleBarPoint(point);
    emit setScaleBarPoint(point);
}

void TimeLapseImageWidget::slotEnableAnnotation(bool bShow)
{
    m_bShowAnnotation = bShow;
    ui->m_LGraphicsView->showAnnotationText(bShow);
}

void TimeLapseImageWidget::slotGetAnnotationTextInfo()
{
    TAnnotationTextInfo info;
    ui->m_LGraphicsView->getAnnotationTextInfo(info);
    emit setAnnotationTextInfo(info);
}

void TimeLapseImageWidget::slotSaveVideo()
{
    QStringList paths;
    for (int row = 0; row < ui->LISTWIDGET_IMAGE->count(); ++row)
        paths << itemPath(row);
    m_pVideoExporter->exportSeries(paths, ui->LISTWIDGET_IMAGE->currentRow(), m_bShowAnnotation);
}

void TimeLapseImageWidget::on_BUTTON_VIDEO_clicked()
{
    slotSaveVideo();
}
