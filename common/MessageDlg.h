#pragma once
#include "ScriptableDialog.h"

#include <QTimer>

class QKeyEvent;
class Ui_MessageDlg;

// The preset messages of MessageDlg::setMsgType.
enum TMessageType : int {
    MSG_SERIAL_DISRUPTED = 0,           // icon, no button
    MSG_LENS_FILTER_NOT_IN_POSITION = 1,
    MSG_LEAVE_WITHOUT_SAVING = 2,       // OK and Cancel
    MSG_SHUT_DOWN = 3,                  // OK and Cancel
    MSG_ENTER_FILE_NAME = 4,
    MSG_TARGET_FOLDER_NOT_SELECTED = 5,
    MSG_INSUFFICIENT_DISK_SPACE = 6,
    MSG_COPY_FOLDER_INTO_ITSELF = 7,
    MSG_CURRENT_PATH_EMPTY = 8,
    MSG_USB_NOT_DETECTED = 9,
    MSG_USB_REINSERT = 10,
    MSG_SAVE_FAILED = 11,
    MSG_SAVE_COMPLETE = 12,
    MSG_NO_SELECTED_IMAGE = 13,
    MSG_MIXED_CAMERA_MODES = 14,
    MSG_INPUT_RANGE_EXCEEDED = 15,
    MSG_DELETE_DATA = 16,               // OK and Cancel
    MSG_ZSTACK_DISTANCE_TOO_SHORT = 17,
    MSG_ZSTACK_SET_INTERVAL = 18,
    MSG_ZSTACK_SET_COUNT = 19,
    MSG_ZSTACK_COUNT_TOO_SMALL = 20,
    MSG_ZSTACK_IN_PROGRESS = 21,
    MSG_NUMERALS_ONLY = 22,
    MSG_POSITION_NOT_SET = 23,
    MSG_EXPOSURE_EXCEEDS_INTERVAL = 24,
    MSG_TOTAL_TIME_TOO_SHORT = 25,
    MSG_INTERVAL_BELOW_10S = 26,
    MSG_INTERVAL_BELOW_1MIN_WITH_AF = 27,
    MSG_DELETE_FILES = 28,              // OK and Cancel
    MSG_INVALID_FILE_NAME_CHARS = 29,
    MSG_INVALID_NAME_CHARS = 30,
    MSG_NAME_IN_USE = 31,
    MSG_VIDEO_MODE_ERROR = 32,          // icon, no button
    MSG_CAMERA_SYNC_DISRUPTED = 33,     // icon, no button
    MSG_NO_OBJECTIVE_LENS = 34,
    MSG_SSD_NOT_DETECTED = 35,
    MSG_TIMELAPSE_TOO_MANY_IMAGES = 36,
    MSG_ZSTACK_TOO_MANY_IMAGES = 37,
    MSG_FINEAF_NOT_SUPPORTED = 38,
    MSG_DOF_FAILED = 39,
    MSG_NO_IMAGE_FILES = 40,
    MSG_LAST_IMAGE_NOT_DELETABLE = 41,
    MSG_TYPE_COUNT = 42
};

// Which of the two buttons a MessageDlg shows.
enum TMessageButtonVisibility : int {
    MSG_BUTTON_NONE = 0,
    MSG_BUTTON_OK = 1,        // OK alone, centred
    MSG_BUTTON_OK_CANCEL = 2,
    MSG_BUTTON_CANCEL = 3,    // Cancel alone, centred
};

// The one message box of the application: a preset message (setMsgType) or a free rich text
// (setMessage + setButtonVisibility), run with exec() (1 after OK, 0 after Cancel; see
// ScriptableDialog for how tests script it).
//
// Signal mode (setSignalMode(true)) is for "Stop" boxes of running sequences: the owner creates
// the box on the heap, connects signalOKClicked/signalCANCELClicked, and runs exec(); the buttons
// only emit, and the owner closes the box when its work ends or is stopped, which ends exec().
//
// The box stays on top, bypasses the window manager, swallows every key (Escape and Enter do
// nothing) and re-raises itself every second until enableZOrderTimer(false).
class MessageDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit MessageDlg(QWidget *parent = nullptr);
    // okOnly: Cancel hidden and OK centred before any type is set.
    explicit MessageDlg(bool okOnly, QWidget *parent = nullptr);
    ~MessageDlg() override;

    // The preset text of the type, its icon and its buttons. A type outside the table keeps the
    // text and hides both buttons.
    void setMsgType(TMessageType type);
    // A free rich text; buttons are left as they are.
    void setMessage(QString message);
    void setButtonVisibility(TMessageButtonVisibility visibility);
    void setButtonText(QString okText, QString cancelText);
    void setSignalMode(bool on);
    // Shows (or hides) the "Don't show this dialog again" box and sets its checked state.
    void setCheckBoxState(bool visible, bool checked);
    void enableZOrderTimer(bool on);

    // The preset text of a type (empty outside the table).
    static QString presetText(TMessageType type);

signals:
    void signalOKClicked();
    void signalCANCELClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void slotWindowZOrderTimer();
    void on_BUTTON_OK_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_CEHCKBOX_clicked();

private:
    QTimer m_ZOrderTimer;
    Ui_MessageDlg *ui;
    bool m_bSignalMode = false;
    bool m_bCheckBoxChecked = false; // the user's last answer in the check box
};
