#include "VideoMakerDlg.h"

#include "DirectoryDialog.h"
#include "KeyboardDlg.h"
#include "MediaPath.h"
#include "MessageDlg.h"
#include "ui_VideoMakerDlg.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>

const QString VideoMakerDlg::kOverwriteText =
    QStringLiteral("<p><b>Warning!</b><br/><br/>File '%1' already exists. Overwrite?</p>");

VideoMakerDlg::VideoMakerDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , ui(new Ui_VideoMakerDlg)
{
    m_Param = EncodingParam();
    ui->setupUi(this);
    centreOnPrimaryScreen();
    initialize();
}

VideoMakerDlg::~VideoMakerDlg()
{
    delete ui;
}

void VideoMakerDlg::initialize()
{
    m_SavePath.clear();
    m_FileName.clear();
    m_Param = EncodingParam();
    const char *const qualities[] = {"Highest", "High", "Medium", "Low"};
    for (int i = 0; i < 4; ++i)
        ui->COMBOBOX_QUALITY->addItem(QString::fromLatin1(qualities[i]), i + 2);
    const char *const sizes[] = {"1280p", "960p", "640p", "320p"};
    const double factors[] = {1.0, 0.75, 0.5, 0.25};
    for (int i = 0; i < 4; ++i)
        ui->COMBOBOX_SIZE->addItem(QString::fromLatin1(sizes[i]), factors[i]);
    ui->EDIT_FILENAME->installEventFilter(this);
    if (QLineEdit *edit = ui->SPINBOX_FR->findChild<QLineEdit *>())
        edit->installEventFilter(this);
}

void VideoMakerDlg::showSavePath()
{
    // Only a leading "/media" is left out: the volumes' own names stay as they are.
    QString label = MediaPath::label(m_SavePath);
    if (m_SavePath.endsWith(QLatin1Char('/')) && !label.endsWith(QLatin1Char('/')))
        label += QLatin1Char('/');
    ui->LABEL_SAVE_PATH->setText(label);
}

void VideoMakerDlg::setDefaultParam(const QString &path, const EncodingParam &param)
{
    m_SavePath = path;
    m_FileName = QDir(path).dirName();
    m_Param = param;
    showSavePath();
    ui->EDIT_FILENAME->setText(m_FileName);
    ui->SPINBOX_FR->setValue(param.frameRate);
    const int quality = ui->COMBOBOX_QUALITY->findData(param.qscale);
    ui->COMBOBOX_QUALITY->setCurrentIndex(quality < 0 ? 0 : quality);
    const int size = ui->COMBOBOX_SIZE->findData(param.scale);
    ui->COMBOBOX_SIZE->setCurrentIndex(size < 0 ? 0 : size);
}

void VideoMakerDlg::getParam(QString &path, QString &fileName, EncodingParam &param) const
{
    path = m_SavePath;
    fileName = m_FileName;
    param = m_Param;
}

bool VideoMakerDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return ScriptableDialog::eventFilter(watched, event);
    if (watched == ui->EDIT_FILENAME) {
        editFileName();
        return true;
    }
    if (watched == ui->SPINBOX_FR->findChild<QLineEdit *>()) {
        on_SPINBOX_FR_clicked();
        return true;
    }
    return ScriptableDialog::eventFilter(watched, event);
}

void VideoMakerDlg::showMessage(int type)
{
    MessageDlg message;
    message.setMsgType(TMessageType(type));
    message.exec();
}

void VideoMakerDlg::on_SPINBOX_FR_clicked()
{
    if (!ui->SPINBOX_FR->isEnabled())
        return;
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setText(ui->SPINBOX_FR->text());
    if (keyboard.exec() != 1)
        return;
    // Text that is no number reads as 0, which the field's range turns into its lowest value.
    const int value = keyboard.text().trimmed().toInt();
    if (value < 0) {
        showMessage(MSG_NUMERALS_ONLY);
        return;
    }
    ui->SPINBOX_FR->setValue(value);
}

void VideoMakerDlg::editFileName()
{
    KeyboardDlg keyboard(nullptr, false, false);
    keyboard.setDateTimeConvertFormatOn(true);
    keyboard.setCheckUnacceptableNaming(true);
    keyboard.setText(ui->EDIT_FILENAME->text());
    if (keyboard.exec() != 1)
        return;
    m_FileName = keyboard.text();
    ui->EDIT_FILENAME->setText(m_FileName);
}

void VideoMakerDlg::on_BUTTON_SAVE_PATH_clicked()
{
    DirectoryDialog dialog;
    if (dialog.exec() != 1)
        return;
    m_SavePath = dialog.getSelectedPath() + QLatin1Char('/');
    showSavePath();
}

void VideoMakerDlg::on_BUTTON_APPLY_clicked()
{
    if (ui->LABEL_SAVE_PATH->text() == QLatin1String("/")) {
        showMessage(MSG_CURRENT_PATH_EMPTY);
        return;
    }
    const QString target = m_SavePath + QLatin1Char('/') + m_FileName + QStringLiteral(".mp4");
    if (QFileInfo::exists(target)) {
        MessageDlg message;
        message.setMessage(kOverwriteText.arg(m_FileName + QStringLiteral(".mp4")));
        message.setButtonVisibility(MSG_BUTTON_OK_CANCEL);
        if (message.exec() != 1)
            return;
    }
    m_Param.frameRate = ui->SPINBOX_FR->value();
    m_Param.qscale = ui->COMBOBOX_QUALITY->currentData().toInt();
    m_Param.scale = ui->COMBOBOX_SIZE->currentData().toDouble();
    accept();
}

void VideoMakerDlg::on_BUTTON_CANCEL_clicked()
{
    reject();
}
