#include "ImageViewerDlg.h"
#include "ui_ImageViewerDlg.h"

#include "ImageAttributeDialog.h"
#include "ImReaderWriter.h"
#include "ImageThumbnailReader.h"
#include "ScopedBusyCursor.h"
#include "VisibleText.h"

#include <QFontMetrics>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent>

ImageViewerDlg::ImageViewerDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , m_Samples(std::make_shared<ImReaderWriter>())
    , m_Decode(new QFutureWatcher<Decoded>(this))
    , m_NameMetrics(QFont("DejaVu Sans", 11))
    , ui(new Ui_ImageViewerDlg)
{
    ui->setupUi(this);
    ui->BUTTON_EXIT->raise();
    ui->BUTTON_SHOW_PREVIOUS_IMAGE->raise();
    ui->BUTTON_SHOW_NEXT_IMAGE->raise();
    ui->BUTTON_DETAIL->raise();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().width() / 2 - width() / 2, 0);
    m_ImageAttributeDialog = new ImageAttributeDialog(this);
    m_ImageAttributeDialog->close();
    connect(m_Decode, &QFutureWatcher<Decoded>::finished, this, &ImageViewerDlg::slotDecoded);
}

ImageViewerDlg::~ImageViewerDlg()
{
    delete ui;
}

void ImageViewerDlg::setCurrentFileInfoList(const QList<QFileInfo> &list)
{
    m_FileInfoList = list;
    if (list.size() < 2) {
        ui->BUTTON_SHOW_NEXT_IMAGE->setEnabled(false);
        ui->BUTTON_SHOW_PREVIOUS_IMAGE->setEnabled(false);
    }
}

void ImageViewerDlg::setCurrentIndex(const QFileInfo &info)
{
    for (int i = 0; i < m_FileInfoList.size(); ++i)
        if (m_FileInfoList[i].filePath() == info.filePath()) {
            m_CurrentIndex = i;
            return;
        }
}

// Every file goes through the readers of the thumbnails: TIFF from its samples, PNG, JPG and BMP
// through the reader of the analyses and tools, 8 and 16 bits as the viewer conversions show
// them, nothing over 64 megapixels. A file not shown for another reason than damaged data says
// so and why; a damaged one shows the damaged-file text.
void ImageViewerDlg::load(const QString &path, const QString &name)
{
    const QString fileName = VisibleText::escaped(name); // as the File manager's list shows it
    // A name that cannot be wider than the bar even in its widest characters is shown as it is,
    // without laying out its text.
    constexpr int nameWidth = 1100;
    const bool fits = qint64(fileName.size()) * m_NameMetrics.maxWidth() <= nameWidth;
    ui->LABEL_FILENAME->setText(fits ? fileName : m_NameMetrics.elidedText(fileName, Qt::ElideMiddle, nameWidth));
    // The record is read when the panel shows, not for every image stepped through.
    m_Path = path;
    if (m_ImageAttributeDialog->isVisible())
        m_ImageAttributeDialog->getPath(path.toUtf8().toStdString());
    m_Pixmap = QPixmap();
    m_bValidImage = true;
    m_Unshown.clear();
    update();
    if (!m_Busy) {
        m_Busy = std::make_unique<ScopedBusyCursor>();
        startDecode();
    }
    // Otherwise the decode under way ends first, and the file loaded last follows.
}

void ImageViewerDlg::startDecode()
{
    m_DecodedPath = m_Path;
    m_Decode->setFuture(QtConcurrent::run([samples = m_Samples, path = m_Path] {
        Decoded decoded;
        decoded.image = ImageThumbnailReader::readWith(path, QSize(), *samples, &decoded.unshown);
        return decoded;
    }));
}

void ImageViewerDlg::slotDecoded()
{
    if (m_DecodedPath != m_Path) {
        startDecode();
        return;
    }
    Decoded decoded = m_Decode->result();
    m_Unshown = decoded.unshown;
    m_bValidImage = !decoded.image.isNull();
    // Kept in its own format: painting converts it anyway, so a conversion here is a second pass.
    if (m_bValidImage)
        m_Pixmap = QPixmap::fromImage(std::move(decoded.image), Qt::NoFormatConversion);
    m_Busy.reset();
    update();
}

void ImageViewerDlg::loadCurrent()
{
    const QFileInfo &info = m_FileInfoList.at(m_CurrentIndex);
    load(info.filePath(), info.fileName());
}

void ImageViewerDlg::on_BUTTON_SHOW_PREVIOUS_IMAGE_clicked()
{
    const int count = m_FileInfoList.size();
    if (count == 0)
        return;
    m_CurrentIndex = m_CurrentIndex >= 1 ? (m_CurrentIndex - 1) % count : count - 1;
    loadCurrent();
}

void ImageViewerDlg::on_BUTTON_SHOW_NEXT_IMAGE_clicked()
{
    const int count = m_FileInfoList.size();
    if (count == 0)
        return;
    m_CurrentIndex = (m_CurrentIndex + 1) % count;
    loadCurrent();
}

void ImageViewerDlg::on_BUTTON_DETAIL_clicked()
{
    if (m_ImageAttributeDialog->isVisible()) {
        m_ImageAttributeDialog->close();
        return;
    }
    m_ImageAttributeDialog->getPath(m_Path.toUtf8().toStdString());
    m_ImageAttributeDialog->setGeometry(width() - m_ImageAttributeDialog->width(), ui->LABEL_FILENAME->height(),
                                        m_ImageAttributeDialog->width(), m_ImageAttributeDialog->height());
    m_ImageAttributeDialog->show();
}

void ImageViewerDlg::on_BUTTON_EXIT_clicked()
{
    m_bExit = true;
    reject();
}

void ImageViewerDlg::reject()
{
    if (!m_bExit)
        return;
    m_ImageAttributeDialog->close();
    ScriptableDialog::reject();
}

void ImageViewerDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_bValidImage) {
        if (!m_Pixmap.isNull())
            painter.drawPixmap(QRect(0, 56, 1280, 1024), m_Pixmap);
        return;
    }
    painter.setFont(QFont("DejaVu Sans", 12));
    painter.setPen(Qt::black);
    painter.drawText(QRect(50, 500, 1180, 50), Qt::AlignCenter, failureText());
}

QString ImageViewerDlg::failureText() const
{
    if (m_Unshown.isEmpty())
        return QStringLiteral("This file appears to be damaged or corrupted.");
    return QStringLiteral("This image cannot be shown: %1.").arg(m_Unshown);
}
