#include "SaveOptionsDlg.h"
#include "ScopedBusyCursor.h"

#include "CSVReaderWriter.h"
#include "FileIconProvider.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "KeyboardDlg.h"
#include "MediaMonitor.h"
#include "MediaPath.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveImageComposer.h"
#include "SaveNaming.h"
#include "SystemActions.h"
#include "Utilities.h"
#include "ui_SaveOptionsDlg.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <cstring>

namespace {

constexpr int kQuickSaveDelayMs = 500;
constexpr int kStepDelayMs = 100;       // OK to the run, the run to accept or reject
constexpr int kRemovedDiskDelayMs = 10;
constexpr int kFolderLoadTimeoutMs = 2000; // the browser comes back even if a load never reports

const QString kSavingInProgress = "<p><b>Saving in Progress ...</b></p>";
const QString kSaveIncomplete = "<p><b>Save Incomplete</b><br/><br/>%1 of %2 images could not be read.</p>";
const QStringList kImageFilters = {"*.tif", "*.tiff", "*.png", "*.jpg", "*.jpeg", "*.bmp"};
const QStringList kExtensions = {"tif", "png", "jpg", "bmp"};
// Rows of the pseudo-colour combo and the colour index of each (black and white are not offered).
const int kComboColors[] = {0, 1, 2, 3, 4, 7};
const char *const kComboTexts[] = {"R", "G", "B", "Y", "CY", "GR"};

int showMessage(TMessageType type)
{
    MessageDlg message;
    message.setMsgType(type);
    return message.exec();
}

void log(const char *text)
{
    if (isEnableSerialLog())
        qDebug().noquote() << text;
}

// Adds a single-precision product to a whole number of megabytes and truncates again.
int addMegabytes(int megabytes, float amount)
{
    return int(float(megabytes) + amount);
}

} // namespace

SaveOptionsDlg::SaveOptionsDlg(QWidget *parent, bool quickSave)
    : ScriptableDialog(parent, kPopupFlags)
    , m_bQuickSave(quickSave)
    , ui(new Ui_SaveOptionsDlg)
{
    ui->setupUi(this);
    initialize();
    readFilterName();
    if (!m_bQuickSave) {
        centreOnPrimaryScreen();
        return;
    }
    const QScreen *screen = QGuiApplication::primaryScreen();
    setGeometry(QRect(screen ? screen->geometry().topLeft() : QPoint(), QSize(1, 1)));
    QTimer::singleShot(kQuickSaveDelayMs, this, &SaveOptionsDlg::on_BUTTON_APPLY_clicked);
}

SaveOptionsDlg::~SaveOptionsDlg()
{
    // The model refers to the icon provider: let it go first.
    delete m_pModel;
    delete ui;
}

void SaveOptionsDlg::initialize()
{
    m_nSavedCount = m_nTotalCount = 1;
    m_ProgressImage.load(":/UI/SaveOptions/progress bar2.png");
    ui->EDIT_FILENAME->installEventFilter(this);
    fillColorCombo();
}

void SaveOptionsDlg::fillColorCombo()
{
    for (int row = 0; row < 6; ++row) {
        QPixmap swatch(40, 40);
        swatch.fill(g_ColorTable.at(kComboColors[row]));
        ui->COMB_FILTER_COLOR->addItem(QIcon(swatch), kComboTexts[row]);
    }
}

void SaveOptionsDlg::readFilterName()
{
    for (int key = 0; key < 4; ++key) {
        std::string name;
        ReadPrivateProfileString("Filter", std::to_string(key), "", name, Paths::configFile().toStdString());
        // The box of the same number as the key.
        channelBox(channelOfBox(key))->setText(QString::fromStdString(name).left(5));
    }
}

// Channel index to its box: 0, 1, 2, 3 to POSITION0, POSITION3, POSITION2, POSITION1 (and back).
int SaveOptionsDlg::channelOfBox(int position)
{
    return (4 - position) % 4;
}

QCheckBox *SaveOptionsDlg::channelBox(int channel) const
{
    QCheckBox *boxes[4] = {ui->CHKBOX_FILTER_POSITION0, ui->CHKBOX_FILTER_POSITION3, ui->CHKBOX_FILTER_POSITION2,
                           ui->CHKBOX_FILTER_POSITION1};
    return boxes[channel];
}

// --- option set-up ----------------------------------------------------------------------------

void SaveOptionsDlg::setColorRadios(bool monochrome)
{
    (monochrome ? ui->RADIO_COLOR_MONOCHROME : ui->RADIO_COLOR_PSEUDO_COLOR)->setChecked(true);
}

void SaveOptionsDlg::lock(QCheckBox *box)
{
    box->setChecked(true);
    box->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    box->setFocusPolicy(Qt::NoFocus);
}

void SaveOptionsDlg::setCurrentSaveOption(TSaveOption option, bool pseudoColor, TSubOption subOption)
{
    m_SaveOption = option;
    m_SubOption = subOption;
    setupBrowser(option);
    ui->COMB_FILTER_COLOR->hide();
    if (option < SAVE_OPTION_MULTICOLOR || option > SAVE_OPTION_ZSTACK_IMAGES) {
        clearBrowserSelection();
        return;
    }

    const QList<QCheckBox *> channels = {ui->CHKBOX_FILTER_POSITION0, ui->CHKBOX_FILTER_POSITION1,
                                         ui->CHKBOX_FILTER_POSITION2, ui->CHKBOX_FILTER_POSITION3};
    ui->RADIO_COLOR_MONOCHROME->setEnabled(false);
    ui->RADIO_COLOR_PSEUDO_COLOR->setEnabled(false);
    for (QCheckBox *box : channels + QList<QCheckBox *>{ui->CHKBOX_OVERLAY, ui->CHKBOX_SAVE_WITH_ANNOTATION})
        box->setEnabled(false);
    if (option != SAVE_OPTION_MULTICOLOR && option != SAVE_OPTION_CSV)
        for (QCheckBox *box : channels + QList<QCheckBox *>{ui->CHKBOX_OVERLAY})
            box->setChecked(false);

    const bool remembered = g_bSaveWithMonochromeOrPseudoColor[0];
    auto rememberedColor = [&] {
        ui->RADIO_COLOR_MONOCHROME->setEnabled(true);
        ui->RADIO_COLOR_PSEUDO_COLOR->setEnabled(true);
        setColorRadios(remembered);
    };
    auto rememberedFolder = [&] { ui->CHECKBOX_SAVE_AS_FOLDER->setChecked(g_bSaveAsFolder); };
    bool imageFrame = false;
    switch (option) {
    case SAVE_OPTION_MULTICOLOR:
        rememberedFolder();
        rememberedColor();
        if (m_bQuickSave && subOption == SUB_OPTION_NONE)
            setColorRadios(!pseudoColor);
        imageFrame = true;
        break;
    case SAVE_OPTION_ZSTACK:
    case SAVE_OPTION_TIMELAPSE:
    case SAVE_OPTION_TIMELAPSE_IMAGES:
    case SAVE_OPTION_ZSTACK_IMAGES:
    case SAVE_OPTION_TIMELAPSE_PATH:
    case SAVE_OPTION_ZSTACK_PATH:
        lock(ui->CHECKBOX_SAVE_AS_FOLDER);
        rememberedColor();
        ui->FRAME_COLOR->setVisible(option != SAVE_OPTION_TIMELAPSE_PATH && option != SAVE_OPTION_ZSTACK_PATH);
        ui->COMB_FILTER_COLOR->setVisible(option == SAVE_OPTION_TIMELAPSE_IMAGES || option == SAVE_OPTION_ZSTACK_IMAGES);
        break;
    case SAVE_OPTION_CSV:
        ui->CHECKBOX_SAVE_AS_FOLDER->hide();
        ui->FRAME_COLOR->hide();
        break;
    case SAVE_OPTION_SINGLE:
        rememberedFolder();
        rememberedColor();
        imageFrame = true;
        break;
    case SAVE_OPTION_CELLCOUNT:
        rememberedFolder();
        if (subOption == SUB_OPTION_CELLCOUNT_RENDERED) {
            ui->RADIO_COLOR_MONOCHROME->setEnabled(true);
            ui->RADIO_COLOR_PSEUDO_COLOR->setEnabled(true);
            setColorRadios(!pseudoColor);
        } else {
            ui->RADIO_COLOR_MONOCHROME->setEnabled(true);
            setColorRadios(true);
        }
        imageFrame = true;
        break;
    case SAVE_OPTION_GROWTH_MONITOR:
        lock(ui->CHECKBOX_SAVE_AS_FOLDER);
        imageFrame = true;
        break;
    }
    // Select All and Release All serve the image frame of options 0 and 5 only.
    const bool selectable = option == SAVE_OPTION_MULTICOLOR || option == SAVE_OPTION_CELLCOUNT;
    ui->BUTTON_CHANNEL_SELECTALL->setEnabled(selectable);
    ui->BUTTON_CHANNEL_RELEASEALL->setEnabled(selectable);
    ui->FRAME_IMAGE->setVisible(imageFrame);

    const bool results = option == SAVE_OPTION_CELLCOUNT || option == SAVE_OPTION_GROWTH_MONITOR;
    for (QCheckBox *box : channels + QList<QCheckBox *>{ui->CHKBOX_OVERLAY})
        box->setVisible(option == SAVE_OPTION_MULTICOLOR);
    ui->CHKBOX_SAVE_WITH_ANNOTATION->setVisible(option == SAVE_OPTION_MULTICOLOR || option == SAVE_OPTION_SINGLE);
    for (QCheckBox *box : {ui->CHKBOX_RAW, ui->CHKBOX_RESULT, ui->CHKBOX_SEGMENTATION}) {
        box->setVisible(results);
        box->setEnabled(results);
        box->setChecked(results);
    }
    ui->BUTTON_CHANNEL_SELECTALL->setVisible(option != SAVE_OPTION_SINGLE);
    ui->BUTTON_CHANNEL_RELEASEALL->setVisible(option != SAVE_OPTION_SINGLE);
    if (option == SAVE_OPTION_CELLCOUNT) {
        ui->CHKBOX_RESULT->setText("Tagged Image");
        ui->CHKBOX_SEGMENTATION->setText("Results (CSV)");
        const bool csv = subOption != SUB_OPTION_CELLCOUNT_RENDERED;
        ui->CHKBOX_SEGMENTATION->setEnabled(csv);
        ui->CHKBOX_SEGMENTATION->setChecked(csv);
    } else if (option == SAVE_OPTION_GROWTH_MONITOR) {
        ui->CHKBOX_RESULT->setText("Count");
        ui->CHKBOX_SEGMENTATION->setText("Segmentation");
        ui->CHKBOX_RAW->setEnabled(pseudoColor);
        ui->CHKBOX_RAW->setChecked(pseudoColor);
    }
    clearBrowserSelection();
}

void SaveOptionsDlg::setImageBits(int bits)
{
    m_nImageBits = bits;
    ui->COMBO_IMAGE_FORMAT->clear();
    if (m_SaveOption == SAVE_OPTION_CSV)
        ui->COMBO_IMAGE_FORMAT->addItem(".csv");
    else if (m_SaveOption >= SAVE_OPTION_TIMELAPSE_PATH && m_SaveOption <= SAVE_OPTION_ZSTACK_IMAGES)
        ui->COMBO_IMAGE_FORMAT->addItem(".tif");
    else if (bits == 16)
        ui->COMBO_IMAGE_FORMAT->addItem("*.tif");
    else
        ui->COMBO_IMAGE_FORMAT->addItems({"*.tif", "*.png", "*.jpg", "*.bmp"});
    ui->COMBO_IMAGE_FORMAT->setCurrentIndex(0);
}

void SaveOptionsDlg::setDrawingScaleBar(bool show, int objectivePosition)
{
    if (m_ScaleBar.m_ScaleBarInfo.noObjective)
        return;
    m_ScaleBar.setCurrentObjectiveLensPosition(objectivePosition);
    m_ScaleBar.slotShowScaleBar(show);
}

void SaveOptionsDlg::setFilterColorIndex(int colorIndex)
{
    // Black and white are not offered for pseudo colour: they and unknown values become grey.
    const bool offered = (colorIndex >= 0 && colorIndex <= 4) || colorIndex == 7;
    m_nFilterColorIndex = offered ? colorIndex : 7;
    ui->COMB_FILTER_COLOR->setCurrentIndex(m_nFilterColorIndex == 7 ? 5 : m_nFilterColorIndex);
}

// --- metadata texts ---------------------------------------------------------------------------

// The captured-image text: instrument, serial number, version, camera mode, then filter cube,
// objective, light, exposure and gain of the current channel, joined by ";". A cell-count save of
// channel 0 with firmware above 2.5 writes the light as a tenth of the stored value.
void SaveOptionsDlg::generateCapturedImageMetaData()
{
    TCapturedImageMetaData meta = ::capturedImageMetaData();
    const int c = qBound(0, meta.channel, TCapturedImageMetaData::kChannels - 1);
    if (m_SaveOption == SAVE_OPTION_CELLCOUNT && c == 0) {
        std::string firmware;
        ReadPrivateProfileString("NIMBO", "Firmware", "", firmware, Paths::configFile().toStdString());
        const QStringList parts = meta.light[c].split(':');
        if (firmwareVer(QString::fromStdString(firmware)) > 2.5f && parts.size() == 2) {
            const float light = QString(parts[1]).remove('%').trimmed().toFloat() / 10;
            meta.light[c] = "Light: " + QString::number(double(light), 'f', 1) + " %";
        }
    }
    m_CapturedImageMetaData = meta.metaText(c).toUtf8();
}

// The overlay text: the four common fields each followed by ";", then the five fields of every
// flagged channel, consecutive flagged channels separated by ";;" and every unflagged position
// between two of them adding a further ";;".
void SaveOptionsDlg::generateOverlayImageMetaData(const bool *flags)
{
    const TCapturedImageMetaData meta = ::capturedImageMetaData();
    QString text = QStringList{meta.instrument, meta.serialNumber, meta.version, meta.cameraMode, QString()}.join(';');
    const int count = int(std::count(flags, flags + 4, true));
    int written = 0;
    for (int p = 0; p < 4; ++p) {
        if (flags[p]) {
            ++written;
            text += QStringList{meta.filterCube[p], meta.objective[p], meta.light[p], meta.exposure[p], meta.gain[p]}
                        .join(';');
        }
        if (written > 0 && count > 1 && written < count)
            text += ";;";
    }
    m_OverlayImageMetaData = text.toUtf8();
}

// --- data ---------------------------------------------------------------------------------------

void SaveOptionsDlg::setChannelData(unsigned char **slot, int channel, unsigned char *data)
{
    if (channel < 0 || channel > 3)
        return;
    slot[channel] = data;
    if (m_SaveOption == SAVE_OPTION_MULTICOLOR) {
        channelBox(channel)->setEnabled(true);
        channelBox(channel)->setChecked(true);
    }
}

void SaveOptionsDlg::setImageData8(int channel, unsigned char *data) { setChannelData(m_pImage8, channel, data); }
void SaveOptionsDlg::setImageData24(int channel, unsigned char *data) { setChannelData(m_pImage24, channel, data); }
void SaveOptionsDlg::setImageData16(int channel, unsigned char *data) { setChannelData(m_pImage16, channel, data); }
void SaveOptionsDlg::setImageData48(int channel, unsigned char *data) { setChannelData(m_pImage48, channel, data); }

// An overlay handed over for option 0 is offered, ticked when the page showed the overlay.
void SaveOptionsDlg::offerOverlay(unsigned char *data)
{
    if (m_SaveOption != SAVE_OPTION_MULTICOLOR || !data)
        return;
    ui->CHKBOX_OVERLAY->setEnabled(true);
    if (unsigned(m_nViewIndex) > 3)
        ui->CHKBOX_OVERLAY->setChecked(true);
}

void SaveOptionsDlg::setOverlayImageData24(unsigned char *data)
{
    m_pOverlay24 = data;
    offerOverlay(data);
}

void SaveOptionsDlg::setOverlayImageData48(unsigned char *data)
{
    m_pOverlay48 = data;
    offerOverlay(data);
}

void SaveOptionsDlg::setAnnotationImageData(unsigned char *data)
{
    m_pAnnotation = data;
    if (!data)
        return;
    // The single page's annotated image is offered, unticked, so that the user can choose it.
    if (m_SaveOption == SAVE_OPTION_MULTICOLOR || m_SaveOption == SAVE_OPTION_SINGLE)
        ui->CHKBOX_SAVE_WITH_ANNOTATION->setEnabled(true);
    if (m_SaveOption == SAVE_OPTION_MULTICOLOR)
        ui->CHKBOX_SAVE_WITH_ANNOTATION->setChecked(true);
}

void SaveOptionsDlg::setCSVReaderWriter(CSVReaderWriter &csv)
{
    m_pCSVReaderWriter = &csv;
}

void SaveOptionsDlg::setLoadImagePathList(const QStringList &paths, const QStringList &names)
{
    m_ImagePathList = paths;
    m_ImageNameList = names;
    m_nTotalCount = paths.size();
    for (const QString &path : paths) {
        ImReaderWriter image;
        if (!image.read(path.toUtf8()) || image.samplesPerPixel != 3)
            continue;
        m_bColorImage = true;
        ui->RADIO_COLOR_MONOCHROME->setEnabled(false);
        ui->RADIO_COLOR_PSEUDO_COLOR->setEnabled(false);
        ui->COMB_FILTER_COLOR->setEnabled(false);
        break;
    }
}

void SaveOptionsDlg::getSaveFilePathInfo(QString &folder, QString &name, QString &extension) const
{
    folder = m_CurrentPath;
    name = m_FileName;
    extension = m_Extension;
}

void SaveOptionsDlg::getFileNameFormat(QString &out) const
{
    out = QString("%1.%2").arg(m_FileName, m_Extension);
}

// --- browser ------------------------------------------------------------------------------------

void SaveOptionsDlg::setupBrowser(TSaveOption option)
{
    delete m_pModel;
    m_pModel = new QFileSystemModel(this);
    const QString remembered = QDir::cleanPath(g_PreviouslySavedPath);
    // Only folders on the volumes: anything else (a pulled drive too) starts at "/media".
    if (!g_PreviouslySavedPath.isEmpty() && QFileInfo(remembered).isDir()
        && (MediaPath::isMediaRoot(remembered) || MediaPath::isBelowMedia(remembered))) {
        m_CurrentPath = remembered;
    } else {
        m_CurrentPath = QDir::cleanPath(Paths::media());
        g_PreviouslySavedPath = m_CurrentPath;
    }
    m_pModel->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    m_pModel->setNameFilters(option == SAVE_OPTION_CSV ? QStringList{"*.csv"} : kImageFilters);
    m_pModel->setNameFilterDisables(false);
    m_pModel->setReadOnly(false);
    m_pIconProvider = std::make_unique<FileIconProvider>();
    m_pModel->setIconProvider(m_pIconProvider.get());
    ui->LISTVIEW_BROWSER->setModel(m_pModel);
    connect(m_pModel, &QFileSystemModel::directoryLoaded, this, &SaveOptionsDlg::slotDirectoryLoaded);
    showFolder(m_CurrentPath);
}

void SaveOptionsDlg::showFolder(const QString &path)
{
    m_CurrentPath = path;
    if (m_pModel)
        ui->LISTVIEW_BROWSER->setRootIndex(m_pModel->setRootPath(path));
    ui->LABEL_CURRENT_PATH->setText(MediaPath::label(path));
    ui->BUTTON_CD_UP->setEnabled(!MediaPath::isMediaRoot(path));
}

void SaveOptionsDlg::clearBrowserSelection()
{
    ui->LISTVIEW_BROWSER->clearSelection();
    ui->LISTVIEW_BROWSER->clearFocus();
}

void SaveOptionsDlg::setBrowsingEnabled(bool on)
{
    for (QWidget *widget : {static_cast<QWidget *>(ui->BUTTON_APPLY), static_cast<QWidget *>(ui->BUTTON_CANCEL),
                            static_cast<QWidget *>(ui->EDIT_FILENAME), static_cast<QWidget *>(ui->BUTTON_NEW_FOLDER)})
        widget->setEnabled(on);
}

void SaveOptionsDlg::on_LISTVIEW_BROWSER_clicked(const QModelIndex &index)
{
    ui->EDIT_FILENAME->setText(SaveNaming::baseName(m_pModel->fileName(index)));
}

void SaveOptionsDlg::on_LISTVIEW_BROWSER_doubleClicked(const QModelIndex &index)
{
    const QString path = m_pModel->filePath(index);
    if (path == m_CurrentPath || !m_pModel->isDir(index))
        return;
    setCursor(Qt::BusyCursor);
    setBrowsingEnabled(false);
    showFolder(path);
    ui->EDIT_FILENAME->clear();
    // A folder the model has read already reports nothing: the controls come back at once; and
    // whatever the model does, they come back after a while.
    if (!m_pModel->canFetchMore(m_pModel->index(path)))
        slotDirectoryLoaded(path);
    QTimer::singleShot(kFolderLoadTimeoutMs, this, [this] { setBrowsingEnabled(true); });
    setCursor(Qt::ArrowCursor);
}

void SaveOptionsDlg::slotDirectoryLoaded(QString)
{
    clearBrowserSelection();
    setBrowsingEnabled(true);
    setCursor(Qt::ArrowCursor);
}

void SaveOptionsDlg::on_BUTTON_CD_UP_clicked()
{
    if (MediaPath::isMediaRoot(m_CurrentPath))
        return;
    const QString parent = QFileInfo(m_CurrentPath).path();
    showFolder(MediaPath::isBelowMedia(parent) ? parent : QDir::cleanPath(Paths::media()));
    ui->EDIT_FILENAME->clear();
    clearBrowserSelection();
}

void SaveOptionsDlg::slotRemovedDisk()
{
    showFolder(QDir::cleanPath(Paths::media()));
}

// The keyboard for a name: true with text when the user entered one.
bool SaveOptionsDlg::editName(QString &text, bool preset)
{
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setDateTimeConvertFormatOn(true);
    keyboard.setCheckUnacceptableNaming(true);
    if (preset)
        keyboard.setText(text);
    if (keyboard.exec() != QDialog::Accepted)
        return false;
    text = keyboard.text();
    return true;
}

bool SaveOptionsDlg::eventFilter(QObject *object, QEvent *event)
{
    if (object == ui->EDIT_FILENAME && event->type() == QEvent::MouseButtonPress) {
        QString text = ui->EDIT_FILENAME->text();
        if (editName(text, true))
            ui->EDIT_FILENAME->setText(text);
        return true;
    }
    return ScriptableDialog::eventFilter(object, event);
}

void SaveOptionsDlg::on_BUTTON_NEW_FOLDER_clicked()
{
    if (MediaPath::isMediaRoot(m_CurrentPath)) {
        showMessage(MSG_CURRENT_PATH_EMPTY);
        return;
    }
    if (MediaMonitor::freeDiskSpace(MediaPath::volumeOf(m_CurrentPath)) == 0) {
        showMessage(MSG_INSUFFICIENT_DISK_SPACE);
        return;
    }
    QString name;
    if (editName(name, false) && !name.isEmpty() && !createFolder(m_CurrentPath, name))
        showMessage(MSG_USB_REINSERT);
}

bool SaveOptionsDlg::createFolder(QString parent, QString &name)
{
    name = SaveNaming::freeFolderName(parent, name);
    if (QDir(parent).mkdir(name))
        return true;
    QTimer::singleShot(kRemovedDiskDelayMs, this, &SaveOptionsDlg::slotRemovedDisk);
    return false;
}

void SaveOptionsDlg::rename(QString &path)
{
    path = SaveNaming::freeFilePath(path);
}

// --- choices ------------------------------------------------------------------------------------

QList<QCheckBox *> SaveOptionsDlg::selectableBoxes() const
{
    if (m_SaveOption == SAVE_OPTION_CELLCOUNT || m_SaveOption == SAVE_OPTION_GROWTH_MONITOR)
        return {ui->CHKBOX_RAW, ui->CHKBOX_RESULT, ui->CHKBOX_SEGMENTATION};
    return {ui->CHKBOX_FILTER_POSITION0, ui->CHKBOX_FILTER_POSITION1, ui->CHKBOX_FILTER_POSITION2,
            ui->CHKBOX_FILTER_POSITION3, ui->CHKBOX_OVERLAY, ui->CHKBOX_SAVE_WITH_ANNOTATION};
}

void SaveOptionsDlg::on_BUTTON_CHANNEL_SELECTALL_clicked()
{
    for (QCheckBox *box : selectableBoxes())
        if (box->isEnabled())
            box->setChecked(true);
}

void SaveOptionsDlg::on_BUTTON_CHANNEL_RELEASEALL_clicked()
{
    for (QCheckBox *box : selectableBoxes())
        if (box->isEnabled())
            box->setChecked(false);
}

void SaveOptionsDlg::on_CHECKBOX_SAVE_AS_FOLDER_clicked()
{
    g_bSaveAsFolder = ui->CHECKBOX_SAVE_AS_FOLDER->isChecked();
}

void SaveOptionsDlg::on_RADIO_COLOR_MONOCHROME_clicked()
{
    g_bSaveWithMonochromeOrPseudoColor[0] = true;
    g_bSaveWithMonochromeOrPseudoColor[1] = false;
    ui->COMB_FILTER_COLOR->setEnabled(false);
}

void SaveOptionsDlg::on_RADIO_COLOR_PSEUDO_COLOR_clicked()
{
    g_bSaveWithMonochromeOrPseudoColor[0] = false;
    g_bSaveWithMonochromeOrPseudoColor[1] = true;
    ui->COMB_FILTER_COLOR->setEnabled(true);
}

void SaveOptionsDlg::on_CHKBOX_SAVE_WITH_ANNOTATION_clicked()
{
}

void SaveOptionsDlg::on_COMB_FILTER_COLOR_currentIndexChanged(int row)
{
    if (row >= 0)
        m_nFilterColorIndex = kComboColors[qMin(row, 5)];
}

// --- OK, Cancel, closing ------------------------------------------------------------------------

void SaveOptionsDlg::on_BUTTON_APPLY_clicked()
{
    setEnabled(false);
    if (m_bQuickSave) {
        m_FileName = QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss");
        m_CurrentPath = Paths::path("/media/VANTOR SSD/Quicksave/");
    } else {
        const QString name = ui->EDIT_FILENAME->text();
        if (name.isEmpty() || ui->LABEL_CURRENT_PATH->text() == "/") {
            showMessage(name.isEmpty() ? (ui->CHECKBOX_SAVE_AS_FOLDER->isChecked() ? MSG_TARGET_FOLDER_NOT_SELECTED
                                                                                   : MSG_ENTER_FILE_NAME)
                                       : MSG_CURRENT_PATH_EMPTY);
            setEnabled(true);
            return;
        }
        m_FileName = name;
    }
    m_Extension = kExtensions.value(ui->COMBO_IMAGE_FORMAT->currentIndex(), "tif");

    if (m_SaveOption == SAVE_OPTION_TIMELAPSE_PATH || m_SaveOption == SAVE_OPTION_ZSTACK_PATH) {
        QTimer::singleShot(kStepDelayMs, this, &SaveOptionsDlg::slotAccept);
        return;
    }
    log("==Start Saving");
    QTimer::singleShot(kStepDelayMs, this, &SaveOptionsDlg::slotStartSaving);
    // The run starts inside this box's modal loop and closes it.
    m_pSavingDlg = new MessageDlg;
    m_pSavingDlg->setMessage(kSavingInProgress);
    m_pSavingDlg->setButtonVisibility(MSG_BUTTON_NONE);
    m_pSavingDlg->exec();
    if (m_pSavingDlg)
        m_pSavingDlg->deleteLater();
}

void SaveOptionsDlg::on_BUTTON_CANCEL_clicked()
{
    log("==End Dialog");
    m_bCloseAllowed = true;
    QTimer::singleShot(kStepDelayMs, this, &SaveOptionsDlg::slotReject);
}

void SaveOptionsDlg::reject()
{
    if (m_bCloseAllowed)
        QDialog::reject();
}

void SaveOptionsDlg::slotAccept()
{
    accept();
}

void SaveOptionsDlg::slotReject()
{
    // Also ends a failed quick save, whose closing is not allowed otherwise.
    QDialog::reject();
}

void SaveOptionsDlg::closeProgressBox()
{
    if (!m_pSavingDlg)
        return;
    m_pSavingDlg->reject();
    m_pSavingDlg->deleteLater();
}

// --- saving run ---------------------------------------------------------------------------------

// A quick save goes into "Quicksave" on the SSD: the folder is made when missing, one level inside
// an existing SSD volume only.
bool SaveOptionsDlg::ensureQuicksaveFolder()
{
    if (QFileInfo(m_CurrentPath).isDir())
        return true;
    return QFileInfo(Paths::ssd()).isDir() && QDir(Paths::ssd()).mkdir("Quicksave");
}

void SaveOptionsDlg::slotStartSaving()
{
    if (m_bQuickSave)
        ensureQuicksaveFolder();
    TMessageType message = MSG_NO_SELECTED_IMAGE;
    if (!isAbleToSave(m_SaveOption, message)) {
        closeProgressBox();
        showMessage(message);
        setEnabled(true);
        // A quick save is never left open as an invisible modal dialog.
        if (m_bQuickSave)
            QTimer::singleShot(kStepDelayMs, this, &SaveOptionsDlg::slotReject);
        return;
    }
    m_bSaving = true;
    bool folderMade = true;
    bool saved = false;
    {
        ScopedBusyCursor busy; // one saving run
        if (ui->CHECKBOX_SAVE_AS_FOLDER->isChecked())
            folderMade = createFolder(m_CurrentPath, m_FileName);
        if (folderMade) {
            log("== saving process - 1");
            saved = runSaver();
            log("==saving process - 2");
        }
    }
    closeProgressBox();
    setEnabled(true);
    m_bSaved = m_bCloseAllowed = saved;
    if (saved) {
        g_PreviouslySavedPath = m_CurrentPath;
        if (!m_bQuickSave)
            showMessage(MSG_SAVE_COMPLETE);
        log("==saving process - end");
        QTimer::singleShot(kStepDelayMs, this, &SaveOptionsDlg::slotAccept);
        return;
    }
    m_bSaving = false;
    if (m_bQuickSave)
        QTimer::singleShot(kStepDelayMs, this, &SaveOptionsDlg::slotReject);
    else if (!folderMade)
        showMessage(MSG_USB_REINSERT);
    else
        showSaveFailed();
}

// Save Failed, or, when sources could not be read but the others were saved, how many were lost.
void SaveOptionsDlg::showSaveFailed()
{
    if (m_nUnreadable == 0) {
        showMessage(MSG_SAVE_FAILED);
        return;
    }
    MessageDlg message;
    message.setMessage(kSaveIncomplete.arg(m_nUnreadable).arg(m_nSources));
    message.setButtonVisibility(MSG_BUTTON_OK);
    message.exec();
}

// The saver of the option; options without one count as failed.
bool SaveOptionsDlg::runSaver()
{
    m_nUnreadable = m_nSources = 0;
    switch (m_SaveOption) {
    case SAVE_OPTION_MULTICOLOR:
        return savingMultiColor();
    case SAVE_OPTION_ZSTACK:
        return savingZStack();
    case SAVE_OPTION_TIMELAPSE:
        return savingTimeLapse();
    case SAVE_OPTION_CSV:
        return savingCSV();
    case SAVE_OPTION_SINGLE:
        return savingSingle();
    case SAVE_OPTION_CELLCOUNT:
        return savingCellCount();
    case SAVE_OPTION_GROWTH_MONITOR:
        return savingGrowthMonitor();
    case SAVE_OPTION_TIMELAPSE_IMAGES:
    case SAVE_OPTION_ZSTACK_IMAGES:
        return savingLoadImageList();
    default:
        return false;
    }
}

bool SaveOptionsDlg::savingCSV()
{
    m_nSavedCount = 0;
    m_nTotalCount = 1;
    if (!QFileInfo(m_CurrentPath).isDir()) {
        QTimer::singleShot(kRemovedDiskDelayMs, this, &SaveOptionsDlg::slotRemovedDisk);
        MessageDlg message;
        message.setMsgType(MSG_USB_REINSERT);
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
        return false;
    }
    if (!m_pCSVReaderWriter)
        return false;
    QString path = QString("%1/%2.csv").arg(m_CurrentPath, m_FileName);
    rename(path);
    const bool written = m_pCSVReaderWriter->write(path.toUtf8().constData());
    if (!written)
        showMessage(MSG_USB_NOT_DETECTED);
    SystemActions::instance().sync();
    if (written) {
        m_nSavedCount = 1;
        repaint();
    }
    return written;
}

// --- space check --------------------------------------------------------------------------------

void SaveOptionsDlg::setSavingTotalCount(QString folder, QStringList nameFilters, QDir::Filters filter)
{
    m_nTotalCount = int(QDir(folder).entryList(nameFilters, filter, QDir::NoSort).size());
}

bool SaveOptionsDlg::isAbleToSave(TSaveOption option, TMessageType &message)
{
    const bool pseudo = ui->RADIO_COLOR_PSEUDO_COLOR->isChecked();
    // Megabytes per image.
    int perImage = 0;
    if (option == SAVE_OPTION_TIMELAPSE_IMAGES || option == SAVE_OPTION_ZSTACK_IMAGES) {
        ImReaderWriter first;
        if (m_ImagePathList.isEmpty() || !first.read(m_ImagePathList.first().toUtf8())) {
            message = MSG_NO_IMAGE_FILES;
            return false;
        }
        const int samples = (pseudo || m_bColorImage) ? 3 : first.samplesPerPixel;
        perImage = first.bitsPerSample * samples / 8;
    } else if (option != SAVE_OPTION_CSV) {
        perImage = (pseudo ? 3 : 1) * (m_nImageBits == 16 ? 2 : 1);
    }
    const float image = float(perImage) * 1.25f;
    auto csvMegabytes = [this] { return m_pCSVReaderWriter ? qMax(1, int(m_pCSVReaderWriter->fileSize())) : 0; };

    int required = 0;
    switch (option) {
    case SAVE_OPTION_MULTICOLOR:
        for (QCheckBox *box : {ui->CHKBOX_FILTER_POSITION0, ui->CHKBOX_FILTER_POSITION1, ui->CHKBOX_FILTER_POSITION2,
                               ui->CHKBOX_FILTER_POSITION3})
            if (box->isChecked())
                required = addMegabytes(required, image);
        if (ui->CHKBOX_OVERLAY->isChecked())
            required = addMegabytes(required, 3.75f);
        if (ui->CHKBOX_SAVE_WITH_ANNOTATION->isChecked())
            required = addMegabytes(required, 3.75f);
        break;
    case SAVE_OPTION_ZSTACK:
    case SAVE_OPTION_TIMELAPSE:
        setSavingTotalCount(Paths::path(option == SAVE_OPTION_ZSTACK ? "/media/VANTOR SSD/.ZStack/"
                                                                     : "/media/VANTOR SSD/.TimeLapse/"),
                            {"Temp_*.raw"}, QDir::Files);
        required = int(image * float(m_nTotalCount));
        break;
    case SAVE_OPTION_CSV:
        required = csvMegabytes();
        break;
    case SAVE_OPTION_SINGLE:
        required = int(image);
        break;
    case SAVE_OPTION_CELLCOUNT:
        if (ui->CHKBOX_RAW->isChecked())
            required = int(image);
        if (ui->CHKBOX_RESULT->isChecked())
            required = addMegabytes(required, 3.75f);
        if (ui->CHKBOX_SEGMENTATION->isChecked() && m_pCSVReaderWriter)
            required = addMegabytes(required, float(csvMegabytes()));
        break;
    case SAVE_OPTION_GROWTH_MONITOR: {
        // Frames are found from their results or, when there are none, their counts.
        const QString work = Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
        setSavingTotalCount(work, {"*_result.tif"}, QDir::Files);
        if (m_nTotalCount == 0)
            setSavingTotalCount(work, {"*_count.tif"}, QDir::Files);
        const int total = m_nTotalCount;
        int ticked = 0;
        if (ui->CHKBOX_RAW->isChecked()) {
            required = int(image * float(total));
            ++ticked;
        }
        if (ui->CHKBOX_RESULT->isChecked()) {
            required = addMegabytes(required, float(total) * 3.75f);
            ++ticked;
        }
        if (ui->CHKBOX_SEGMENTATION->isChecked()) {
            required = addMegabytes(required, image * float(total));
            ++ticked;
        }
        m_nTotalCount = total * ticked;
        break;
    }
    case SAVE_OPTION_TIMELAPSE_IMAGES:
    case SAVE_OPTION_ZSTACK_IMAGES:
        required = int(image * float(m_ImagePathList.size()));
        break;
    default:
        break;
    }
    if (required == 0) {
        message = MSG_NO_SELECTED_IMAGE;
        return false;
    }
    const QString volume = MediaPath::volumeOf(m_CurrentPath);
    if (!QFileInfo(volume).isDir()) {
        QTimer::singleShot(kRemovedDiskDelayMs, this, &SaveOptionsDlg::slotRemovedDisk);
        message = MSG_USB_REINSERT;
        return false;
    }
    if (MediaMonitor::freeDiskSpace(volume) < quint64(required)) {
        message = MSG_INSUFFICIENT_DISK_SPACE;
        return false;
    }
    return true;
}

// --- progress -----------------------------------------------------------------------------------

void SaveOptionsDlg::paintEvent(QPaintEvent *event)
{
    ScriptableDialog::paintEvent(event);
    if (!m_bSaving || m_bSaved || m_nTotalCount <= 0)
        return;
    QPainter painter(this);
    painter.setFont(QFont("DejaVu Sans", 10));
    const int width = int(double(m_nSavedCount) / m_nTotalCount * 946);
    painter.drawPixmap(QRect(2, 540, width, 20), m_ProgressImage);
    // Thousands separated by commas whatever the process locale is.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(400, 540), QPoint(549, 559)), Qt::AlignCenter,
                     english.toString(m_nSavedCount) + " / " + english.toString(m_nTotalCount));
}

// --- savers -------------------------------------------------------------------------------------
//
// Every saver writes one file after another from one work buffer: pixels copied with the scale bar
// and the annotation line burnt in where they apply, loaded into an ImReaderWriter and written
// (TIFF with the metadata text, PNG, JPG or BMP by the extension); sync() and the progress after
// each file. A failed write shows "USB Drive Not Detected" and ends the saver at once: files
// written before it stay. Frames a saver needs but was not handed are found before the first file.

namespace {

constexpr int kFrameWidth = SaveImageComposer::Width;
constexpr int kFrameHeight = SaveImageComposer::Height;
const QString kImageError = "Image Error";

bool isWholeFrame(const ImReaderWriter &image)
{
    return image.width == quint32(kFrameWidth) && image.height == quint32(kFrameHeight);
}

} // namespace

// One file of a multicolour, single or cell-count save.
struct SaveOptionsDlg::PlannedImage
{
    QString path;                  // made free by rename before the write
    const unsigned char *pixels;   // the frame handed over; null when it was not
    bool colour;                   // RGB, else grey
    int bits;                      // per sample
    QByteArray text;               // metadata text
    bool marks = true;             // through drawScaleBar; else copied unchanged
};

SaveImageComposer SaveOptionsDlg::composer() const
{
    SaveImageComposer composer;
    composer.scaleBar = m_ScaleBar.m_ScaleBarInfo;
    composer.scaleBarPoint = m_ScaleBarPoint;
    composer.barAllowed = m_SaveOption == SAVE_OPTION_MULTICOLOR || m_SaveOption == SAVE_OPTION_ZSTACK
                          || m_SaveOption == SAVE_OPTION_TIMELAPSE || m_SaveOption == SAVE_OPTION_TIMELAPSE_IMAGES
                          || m_SaveOption == SAVE_OPTION_ZSTACK_IMAGES;
    composer.annotation = m_AnnotationTextInfo;
    composer.annotationLine = m_AnnotationLine;
    composer.pseudoColorIndex = m_nFilterColorIndex;
    composer.colorImage = m_bColorImage;
    return composer;
}

void SaveOptionsDlg::drawScaleBar(void *source, bool colour, int byteCount, void *destination)
{
    composer().drawScaleBar(source, colour, byteCount, destination);
}

void SaveOptionsDlg::makePseudoColorImage(void *source, int byteCount, unsigned char *destination)
{
    composer().makePseudoColorImage(source, byteCount, destination);
}

QString SaveOptionsDlg::basePath(bool folderForm) const
{
    return folderForm ? QString("%1/%2/%3").arg(m_CurrentPath, m_FileName, m_FileName)
                      : QString("%1/%2").arg(m_CurrentPath, m_FileName);
}

// The filter cube of a channel from [Filter], made fit for a file name.
QString SaveOptionsDlg::filterName(int channel) const
{
    std::string name;
    ReadPrivateProfileString("Filter", std::to_string(channelOfBox(channel)), "", name,
                             Paths::configFile().toStdString());
    return SaveNaming::fileNameOf(QString::fromStdString(name));
}

// The longest numbered name of a series (the highest number, the longest suffix) fits in one name.
bool SaveOptionsDlg::numberedNamesFit(const QString &base, int last, const QString &suffix) const
{
    if (SaveNaming::nameFits(SaveNaming::numberedPath(base, qMax(1, last), m_Extension, suffix)))
        return true;
    qWarning().noquote() << "Image Error: file name too long:" << base;
    return false;
}

bool SaveOptionsDlg::writeImage(ImReaderWriter &writer, const QString &path, const void *pixels, int bits,
                                int samples, const QByteArray &text, int orientation)
{
    return writeLoaded(writer, path, text,
                       writer.load(pixels, kFrameWidth, kFrameHeight, quint16(bits), quint16(samples), 1,
                                   samples == 3 ? 2 : 1, orientation));
}

// Writes the image the writer holds (when loaded), then syncs and counts it, or says it failed.
bool SaveOptionsDlg::writeLoaded(ImReaderWriter &writer, const QString &path, const QByteArray &text, bool loaded)
{
    const bool written = loaded && writer.write(path.toUtf8(), text);
    if (!written) {
        qWarning().noquote() << "Image write failed:" << path << writer.errorString();
        showMessage(MSG_USB_NOT_DETECTED);
        SystemActions::instance().sync();
        return false;
    }
    SystemActions::instance().sync();
    ++m_nSavedCount;
    repaint();
    return true;
}

bool SaveOptionsDlg::writePlanned(const QList<PlannedImage> &images)
{
    for (const PlannedImage &image : images)
        if (!image.pixels) {
            qWarning().noquote() << kImageError << "- no frame for" << image.path;
            return false;
        }
    std::vector<unsigned char> buffer(static_cast<size_t>(SaveImageComposer::frameBytes(16, true)));
    ImReaderWriter writer;
    for (const PlannedImage &image : images) {
        const int bytes = SaveImageComposer::frameBytes(image.bits, image.colour);
        if (image.marks)
            drawScaleBar(const_cast<unsigned char *>(image.pixels), image.colour, bytes, buffer.data());
        else
            std::memcpy(buffer.data(), image.pixels, size_t(bytes));
        QString path = image.path;
        rename(path);
        if (!writeImage(writer, path, buffer.data(), image.bits, image.colour ? 3 : 1, image.text))
            return false;
    }
    return true;
}

bool SaveOptionsDlg::savingMultiColor()
{
    const QString base = basePath(ui->CHECKBOX_SAVE_AS_FOLDER->isChecked());
    const bool pseudo = ui->RADIO_COLOR_PSEUDO_COLOR->isChecked();
    const bool sixteen = m_nImageBits == 16;
    const TCapturedImageMetaData meta = ::capturedImageMetaData();
    QList<PlannedImage> images;
    for (int channel = 0; channel < 4; ++channel) {
        if (!channelBox(channel)->isChecked())
            continue;
        unsigned char *const *frames = pseudo ? (sixteen ? m_pImage48 : m_pImage24) : (sixteen ? m_pImage16 : m_pImage8);
        images.append({QString("%1_%2.%3").arg(base, filterName(channel), m_Extension), frames[channel], pseudo,
                       m_nImageBits, meta.metaText(channel).toUtf8()});
    }
    if (ui->CHKBOX_OVERLAY->isChecked())
        images.append({QString("%1_Overlay.%2").arg(base, m_Extension), sixteen ? m_pOverlay48 : m_pOverlay24, true,
                       m_nImageBits, m_OverlayImageMetaData});
    if (ui->CHKBOX_SAVE_WITH_ANNOTATION->isChecked() && m_pAnnotation) {
        const bool channelView = unsigned(m_nViewIndex) <= 3;
        const QString label = channelView ? filterName(m_nViewIndex) : QString("Overlay");
        const QByteArray text = channelView ? meta.metaText(m_nViewIndex).toUtf8() : m_OverlayImageMetaData;
        images.append({QString("%1_%2_Annotation.%3").arg(base, label, m_Extension), m_pAnnotation, true, 8, text, false});
    }
    m_nSavedCount = 0;
    m_nTotalCount = images.size();
    return writePlanned(images);
}

bool SaveOptionsDlg::savingSingle()
{
    const QString path = basePath(ui->CHECKBOX_SAVE_AS_FOLDER->isChecked()) + '.' + m_Extension;
    const bool sixteen = m_nImageBits == 16;
    PlannedImage image{path, nullptr, true, m_nImageBits, m_CapturedImageMetaData};
    if (ui->CHKBOX_SAVE_WITH_ANNOTATION->isChecked()) {
        image.pixels = m_pAnnotation;
        image.bits = 8;
    } else if (ui->RADIO_COLOR_PSEUDO_COLOR->isChecked()) {
        image.pixels = sixteen ? m_pImage48[0] : m_pImage24[0];
    } else {
        image.pixels = sixteen ? m_pImage16[0] : m_pImage8[0];
        image.colour = false;
    }
    m_nSavedCount = 0;
    m_nTotalCount = 1;
    return writePlanned({image});
}

void SaveOptionsDlg::loadRAWFiles(QString folder, QStringList nameFilters, QDir::Filters filter, bool rebuildNames)
{
    m_RawFileList.clear();
    const QDir dir(folder);
    for (const QString &nameFilter : nameFilters) {
        const QStringList entries = dir.entryList({nameFilter}, filter, QDir::Name);
        if (!rebuildNames) {
            for (const QString &entry : entries)
                m_RawFileList << folder + entry;
            continue;
        }
        const QString extension = nameFilter.indexOf(".raw", 1) > 0 ? ".raw"
                                  : nameFilter.indexOf(".tif", 1) > 0 ? ".tif" : QString();
        if (extension.isEmpty())
            continue;
        for (int k = 0; k < entries.size(); ++k)
            m_RawFileList << QString("%1Temp_%2%3").arg(folder, QString::number(k).rightJustified(6, '0'), extension);
    }
}

bool SaveOptionsDlg::savingZStack()
{
    return savingSeries(Paths::path("/media/VANTOR SSD/.ZStack/"), ui->CHECKBOX_SAVE_AS_FOLDER->isChecked());
}

bool SaveOptionsDlg::savingTimeLapse()
{
    return savingSeries(Paths::path("/media/VANTOR SSD/.TimeLapse/"), true);
}

// The work files of a z-stack or time-lapse run, in index order, each read by its own name and
// written as number index + 1. A work file that cannot be read is passed over; the others are
// saved and the run then reports how many were lost.
bool SaveOptionsDlg::savingSeries(const QString &workFolder, bool folderForm)
{
    ui->CHKBOX_SAVE_WITH_ANNOTATION->hide();
    const bool pseudo = ui->RADIO_COLOR_PSEUDO_COLOR->isChecked();
    const int bits = m_nImageBits == 8 ? 8 : 16;
    loadRAWFiles(workFolder, {"Temp_*.raw"}, QDir::Files, false);
    const QString base = basePath(folderForm);
    m_nSources = m_nTotalCount = m_RawFileList.size();
    m_nSavedCount = 0;
    if (!numberedNamesFit(base, m_nTotalCount))
        return false;
    const int greyBytes = SaveImageComposer::frameBytes(bits, false);
    // Every frame is composed straight into the writer's one buffer.
    ImReaderWriter reader, writer;
    const bool loaded = writer.load(std::vector<unsigned char>(size_t(SaveImageComposer::frameBytes(bits, pseudo))).data(),
                                    kFrameWidth, kFrameHeight, quint16(bits), pseudo ? 3 : 1, 1, pseudo ? 2 : 1, 1);
    const SaveImageComposer frames = composer();
    for (int i = 0; i < m_RawFileList.size(); ++i) {
        const QString &file = m_RawFileList.at(i);
        if (QFileInfo(file).size() != greyBytes || !reader.read(file.toUtf8()) || reader.bitsPerSample != bits) {
            qWarning().noquote() << "Work file not read:" << file << reader.errorString();
            ++m_nUnreadable;
            continue;
        }
        if (loaded)
            frames.composeSeriesFrame(reader.data(bits), bits, pseudo, writer.data(bits));
        m_nSavedCount = i;
        if (!writeLoaded(writer, SaveNaming::numberedPath(base, i + 1, m_Extension), m_CapturedImageMetaData, loaded))
            return false;
    }
    return m_nUnreadable == 0;
}

// The stored images of a run, each written again as a numbered copy with the scale bar and its
// annotation line, keeping its depth, orientation and metadata text. 16-bit files hold plain
// intensities: they go back to the camera layout first, so that the writer gives them back.
bool SaveOptionsDlg::savingLoadImageList()
{
    ui->CHKBOX_SAVE_WITH_ANNOTATION->hide();
    const QString base = basePath(true);
    const bool pseudo = ui->RADIO_COLOR_PSEUDO_COLOR->isChecked();
    m_nSources = m_nTotalCount = m_ImagePathList.size();
    m_nSavedCount = 0;
    if (!numberedNamesFit(base, m_nTotalCount))
        return false;
    const size_t largest = size_t(SaveImageComposer::frameBytes(16, true));
    std::vector<unsigned char> out(largest), coloured(largest);
    ImReaderWriter reader, writer;
    for (int i = 0; i < m_ImagePathList.size(); ++i) {
        const QString &file = m_ImagePathList.at(i);
        if (!reader.read(file.toUtf8()) || !isWholeFrame(reader)) {
            qWarning().noquote() << kImageError << "- image not read:" << file << reader.errorString();
            return false;
        }
        m_AnnotationLine = m_ImageNameList.value(i);
        const int bits = reader.bitsPerSample;
        const bool colour = pseudo || m_bColorImage || reader.samplesPerPixel == 3;
        const int bytes = SaveImageComposer::frameBytes(bits, colour);
        void *frame = reader.data(bits);
        if (colour && reader.samplesPerPixel != 3) {
            makePseudoColorImage(frame, bytes, coloured.data());
            frame = coloured.data();
        }
        if (bits == 16)
            SaveImageComposer::toCameraLayout(static_cast<quint16 *>(frame), bytes / 2);
        drawScaleBar(frame, colour, bytes, out.data());
        m_AnnotationLine.clear();
        if (!writeImage(writer, SaveNaming::numberedPath(base, i + 1, m_Extension), out.data(), bits, colour ? 3 : 1,
                        reader.description, reader.orientation))
            return false;
    }
    return true;
}

bool SaveOptionsDlg::savingCellCount()
{
    const QString base = basePath(ui->CHECKBOX_SAVE_AS_FOLDER->isChecked());
    const bool sixteen = m_nImageBits == 16;
    const bool rendered = m_SubOption == SUB_OPTION_CELLCOUNT_RENDERED;
    QList<PlannedImage> images;
    if (ui->CHKBOX_RAW->isChecked()) {
        const bool colour = rendered && ui->RADIO_COLOR_PSEUDO_COLOR->isChecked();
        unsigned char *frame = colour ? (sixteen ? m_pImage48[0] : m_pImage24[0]) : (sixteen ? m_pImage16[0] : m_pImage8[0]);
        images.append({QString("%1.%2").arg(base, m_Extension), frame, colour, m_nImageBits, m_CapturedImageMetaData});
    }
    if (ui->CHKBOX_RESULT->isChecked()) {
        PlannedImage tagged{QString("%1_TAG.%2").arg(base, m_Extension), nullptr, true, 8, m_CapturedImageMetaData};
        // The rendered image comes with sub-option 3 only; the tagged overlay with the others.
        if (m_pAnnotation)
            tagged.pixels = rendered ? m_pAnnotation : nullptr;
        else if (!rendered)
            tagged.pixels = m_pOverlay24 ? m_pOverlay24 : m_pOverlay48;
        if (!m_pAnnotation && !m_pOverlay24)
            tagged.bits = 16;
        images.append(tagged);
    }
    const bool table = m_SubOption == SUB_OPTION_CELLCOUNT_RESULT && ui->CHKBOX_SEGMENTATION->isChecked();
    if (table && !m_pCSVReaderWriter) {
        qWarning().noquote() << kImageError << "- no results table";
        return false;
    }
    m_nSavedCount = 0;
    m_nTotalCount = images.size() + (table ? 1 : 0);
    if (!writePlanned(images))
        return false;
    if (!table)
        return true;
    QString path = base + ".csv";
    rename(path);
    const bool written = m_pCSVReaderWriter->write(path.toUtf8().constData());
    if (!written)
        showMessage(MSG_USB_NOT_DETECTED);
    SystemActions::instance().sync();
    if (written) {
        ++m_nSavedCount;
        repaint();
    }
    return written;
}

// For every analysed frame of the growth monitor's work folder, in this order: the segmentation
// image ("_result"), the count image ("_count") and the raw frame (the stem alone), as ticked. The
// files are copied as they are; 16-bit ones go back to the camera layout so that the writer keeps
// their intensities. A source that cannot be read is passed over and reported at the end.
bool SaveOptionsDlg::savingGrowthMonitor()
{
    ui->CHKBOX_SAVE_WITH_ANNOTATION->hide();
    const bool segmentation = ui->CHKBOX_SEGMENTATION->isChecked();
    const bool count = ui->CHKBOX_RESULT->isChecked();
    const bool raw = ui->CHKBOX_RAW->isChecked();
    const QString folder = Paths::path("/media/VANTOR SSD/.GrowthMonitor/");
    QStringList results, counts;
    if (segmentation || (raw && !count)) {
        loadRAWFiles(folder, {"*_result.tif"}, QDir::Files, false);
        results = m_RawFileList;
    }
    if (count || (raw && !segmentation && results.isEmpty())) {
        loadRAWFiles(folder, {"*_count.tif"}, QDir::Files, false);
        counts = m_RawFileList;
    }
    if (segmentation && count && results.size() != counts.size()) {
        qWarning() << "Growth monitor: result and count files differ:" << results.size() << counts.size();
        return false;
    }
    const bool rawFromResults = !results.isEmpty();
    const QStringList &stems = rawFromResults ? results : counts;
    const QString tag = rawFromResults ? "_result.tif" : "_count.tif";
    struct Kind
    {
        bool ticked;
        const QStringList *sources;
        QString suffix;
    };
    const Kind kinds[3] = {{segmentation, &results, "_segmentation"}, {count, &counts, "_count"}, {raw, &stems, ""}};
    const int n = stems.size();
    const QString base = basePath(true);
    m_nSavedCount = 0;
    m_nSources = m_nTotalCount = n * int(segmentation + count + raw);
    if (!numberedNamesFit(base, n, segmentation ? "_segmentation" : "_count"))
        return false;
    ImReaderWriter reader, writer;
    for (int i = 0; i < n; ++i) {
        for (const Kind &kind : kinds) {
            if (!kind.ticked)
                continue;
            QString source = kind.sources->at(i);
            if (kind.suffix.isEmpty())
                source = source.left(source.size() - tag.size()) + ".tif";
            if (!reader.read(source.toUtf8()) || !isWholeFrame(reader)) {
                qWarning().noquote() << "===Image Read Error!" << source << reader.errorString();
                ++m_nUnreadable;
                continue;
            }
            const int bits = reader.bitsPerSample;
            if (bits == 16)
                SaveImageComposer::toCameraLayout(reader.buffer16.get(), int(reader.sampleCount));
            if (!writeImage(writer, SaveNaming::numberedPath(base, i + 1, m_Extension, kind.suffix), reader.data(bits),
                            bits, reader.samplesPerPixel, m_CapturedImageMetaData))
                return false;
        }
    }
    return m_nUnreadable == 0;
}
