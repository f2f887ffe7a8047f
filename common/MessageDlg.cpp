#include "MessageDlg.h"

#include "ui_MessageDlg.h"

#include <QKeyEvent>

namespace {

const char *const kPresetTexts[MSG_TYPE_COUNT] = {
    /*  0 */ "<p><b>Error!</b><br/><br/>Serial communication has been disrupted. Unplug the power cord and reconnect. If the problem persists, contact your local distributor",
    /*  1 */ "<p><b>Error!</b><br/><br/>The objective lens or filter cube is not in position.<br/>Check the position of the objective lens and filter cube.</p>",
    /*  2 */ "<p><b>Warning!</b><br/><br/>If you leave this window without saving, the data will be lost.<br/>Press OK to continue or Cancel to stay.</p>",
    /*  3 */ "<p><b>System Shut Down</b><br/><br/>Are you sure you want to shut down the system now?</p>",
    /*  4 */ "<p><b>Enter file name.</b><br/><br/></p>",
    /*  5 */ "<p><b>Target Folder Not Selected</b><br/><br/>Select a target folder to save file(s).</p>",
    /*  6 */ "<p><b>Insufficient Disk Space</b><br/><br/>You are out of disk space.<br/>Delete old or unnecessary files.</p>",
    /*  7 */ "<p><b>Error!</b><br/><br/>You cannot copy a folder into itself.<br/>The destination folder is inside the source folder.</p>",
    /*  8 */ "<p><b>Error!</b><br/><br/>The current path is empty. Select a path and try again.</p>",
    /*  9 */ "<p><b>USB Drive Not Detected</b><br/><br/>Insert a USB drive and try again.</p>",
    /* 10 */ "<p><b>USB Drive Not Detected</b><br/><br/>Reinsert a USB drive and try again.</p>",
    /* 11 */ "<p><b>Save Failed</b><br/><br/>Try again.</p>",
    /* 12 */ "<p><b>Save Complete</b><br/><br/>Your data was saved successfully.</p>",
    /* 13 */ "<p><b>Error!</b><br/><br/>There is no selected image.</p>",
    /* 14 */ "<p><b>Error!</b><br/><br/>Images in Multicolor mode may not be captured with different camera modes. Press Clear and start over.</p>",
    /* 15 */ "<p><b>Error!</b><br/><br/>Input value range exceeded.</p>",
    /* 16 */ "<p><b>Warning!</b><br/><br/>This data will be permanently deleted.<br/>Are you sure you want to delete this data?</p>",
    /* 17 */ "<p><b>Error!</b><br/><br/>The distance between the start and stop position must be greater than the image acquisition interval.</p>",
    /* 18 */ "<p><b>Error!</b><br/><br/>Set the image acquisition interval.</p>",
    /* 19 */ "<p><b>Error!</b><br/><br/>Set the number of images to be captured.</p>",
    /* 20 */ "<p><b>Error!</b><br/><br/>The number of images must be greater than 1.</p>",
    /* 21 */ "<p><b>Z-stack imaging in progress ...</b><br/><br/>Do not touch the focus knobs.<br/>To stop stacking images, press Stop.</p>",
    /* 22 */ "<p><b>Use numerals only.</b></p>",
    /* 23 */ "<p><b>Error!</b><br/><br/>The position parameter is not set.</p>",
    /* 24 */ "<p><b>Error!</b><br/><br/><p>Exposure time cannot exceed interval time.<br/>Or your exposure time is much longer.<br/>Use a longer interval or shorter exposure time.</p>",
    /* 25 */ "<p><b>Error!</b><br/><br/>Total imaging time must be greater than the minimum time interval.</p>",
    /* 26 */ "<p><b>Error!</b><br/><br/>The minimum time interval cannot be less than 10 seconds.</p>",
    /* 27 */ "<p><b>Error!</b><br/><br/>When using focus drift correction, the minimum time interval cannot be less than 1 minute.</p>",
    /* 28 */ "<p><b>Warning!</b><br/><br/>The selected file(s) will be permanently deleted.<br/>Are you sure you want to delete?</p>",
    /* 29 */ "<p><b>Error!</b><br/><br/>File and folder names cannot contain the following characters:<br/><br/> \\ / : * ? \" &lt; &gt; | </p>",
    /* 30 */ "<p><b>Error!</b><br/><br/>Names cannot contain the following characters:<br/><br/> \\ / : * ? \" &lt; &gt; | </p>",
    /* 31 */ "<p><b>Error!</b><br/><br/>This name is already in use in this folder. Enter a different name.</p>",
    /* 32 */ "<p><b>Video Display Error!</b><br/><br/>Could not set video mode.</p>",
    /* 33 */ "<p><b>Error!</b><br/><br/>Camera synchronization has been disrupted. Unplug the power cord and reconnect. If the problem persists, contact your local distributor",
    /* 34 */ "<p><b>No Objective Lens Installed</b><br/><br/>The current position is empty.<br/>Select an objective lens to be able to place a scale bar.</p>",
    /* 35 */ "<p><b>Error!</b><br/><br/>Your SSD drive is somehow not detected. Please turn off and on the instrument, and try again. If the problem persists, contact your local distributor",
    /* 36 */ "<p><b>Error!</b><br/><br/>The maximum number of images that can be acquired in<br/>one time lapse sequence is 10,000.<br/>Adjust the parameters and try again.</p>",
    /* 37 */ "<p><b>Error!</b><br/><br/>The maximum number of images that can be acquired in<br/>one z stack sequence is 1,000.<br/>Adjust the parameters and try again.</p>",
    /* 38 */ "<p><b>Error!</b><br/><br/>The selected objective lens does not support FineAF.<br/>Please try again.</p>",
    /* 39 */ "<p><b>Error!</b><br/><br/>DOF calculation failed.<br/>Please try again.</p>",
    /* 40 */ "<p><b>Error!</b><br/><br/>Cannot find image files.<br/>Please try again.</p>",
    /* 41 */ "<p><b>Error!</b><br/><br/>The last image can not be deleted.</p>",
};

// Both buttons sit on one row; only their x positions change with the layout.
constexpr int kLeftX = 129;
constexpr int kCentreX = 210;
constexpr int kRightX = 290;

} // namespace

MessageDlg::MessageDlg(QWidget *parent)
    : ScriptableDialog(parent, kPopupFlags)
    , ui(new Ui_MessageDlg)
{
    ui->setupUi(this);
    centreOnPrimaryScreen();
    ui->LABEL_ERROR_ICON->hide();
    ui->CEHCKBOX->hide();
    setModal(true);
    connect(&m_ZOrderTimer, &QTimer::timeout, this, &MessageDlg::slotWindowZOrderTimer);
    m_ZOrderTimer.start(1000);
}

MessageDlg::MessageDlg(bool okOnly, QWidget *parent)
    : MessageDlg(parent)
{
    if (okOnly)
        setButtonVisibility(MSG_BUTTON_OK);
}

MessageDlg::~MessageDlg()
{
    m_ZOrderTimer.stop();
    delete ui;
}

QString MessageDlg::presetText(TMessageType type)
{
    if (type < 0 || type >= MSG_TYPE_COUNT)
        return QString();
    return QString::fromUtf8(kPresetTexts[type]);
}

void MessageDlg::setMsgType(TMessageType type)
{
    if (type < 0 || type >= MSG_TYPE_COUNT) {
        setButtonVisibility(MSG_BUTTON_NONE);
        return;
    }
    ui->message_label->setText(presetText(type));
    switch (type) {
    case MSG_SERIAL_DISRUPTED:
    case MSG_VIDEO_MODE_ERROR:
    case MSG_CAMERA_SYNC_DISRUPTED:
        // No button: only the owner can close these.
        ui->LABEL_ERROR_ICON->show();
        setButtonVisibility(MSG_BUTTON_NONE);
        break;
    case MSG_LEAVE_WITHOUT_SAVING:
    case MSG_SHUT_DOWN:
    case MSG_DELETE_DATA:
    case MSG_DELETE_FILES:
        setButtonVisibility(MSG_BUTTON_OK_CANCEL);
        break;
    default:
        setButtonVisibility(MSG_BUTTON_OK);
        break;
    }
}

void MessageDlg::setMessage(QString message)
{
    ui->message_label->setText(message);
    ui->message_label->update();
}

void MessageDlg::setButtonVisibility(TMessageButtonVisibility visibility)
{
    auto place = [](QWidget *button, int x) {
        button->move(x, button->y());
        button->show();
    };
    switch (visibility) {
    case MSG_BUTTON_NONE:
        ui->BUTTON_OK->hide();
        ui->BUTTON_CANCEL->hide();
        break;
    case MSG_BUTTON_OK:
        place(ui->BUTTON_OK, kCentreX);
        ui->BUTTON_CANCEL->hide();
        break;
    case MSG_BUTTON_OK_CANCEL:
        place(ui->BUTTON_OK, kLeftX);
        place(ui->BUTTON_CANCEL, kRightX);
        break;
    case MSG_BUTTON_CANCEL:
        ui->BUTTON_OK->hide();
        place(ui->BUTTON_CANCEL, kCentreX);
        break;
    default:
        break;
    }
}

void MessageDlg::setButtonText(QString okText, QString cancelText)
{
    ui->BUTTON_OK->setText(okText);
    ui->BUTTON_CANCEL->setText(cancelText);
}

void MessageDlg::setSignalMode(bool on)
{
    m_bSignalMode = on;
}

void MessageDlg::setCheckBoxState(bool visible, bool checked)
{
    ui->CEHCKBOX->setVisible(visible);
    ui->CEHCKBOX->setChecked(checked);
}

void MessageDlg::enableZOrderTimer(bool on)
{
    if (on)
        m_ZOrderTimer.start(1000);
    else
        m_ZOrderTimer.stop();
}

void MessageDlg::keyPressEvent(QKeyEvent *event)
{
    event->accept(); // the box closes only by its buttons or its owner
}

void MessageDlg::slotWindowZOrderTimer()
{
    activateWindow();
    raise();
}

void MessageDlg::on_BUTTON_OK_clicked()
{
    if (m_bSignalMode)
        emit signalOKClicked();
    else
        accept();
}

void MessageDlg::on_BUTTON_CANCEL_clicked()
{
    if (m_bSignalMode)
        emit signalCANCELClicked();
    else
        reject();
}

void MessageDlg::on_CEHCKBOX_clicked()
{
    m_bCheckBoxChecked = ui->CEHCKBOX->isChecked();
}
