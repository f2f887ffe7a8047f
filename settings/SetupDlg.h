#pragma once
#include "Globals.h"
#include "ScriptableDialog.h"
#include "WLANMonitor.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QAbstractSpinBox;
class Ui_SetupDlg;
struct PrivateProfileEntry;

// The settings panel at the right-hand edge of the screen: filter cubes, objectives, focus, camera
// mode, date and time, display and service values of the configuration file, and the maintenance
// buttons. The main window keeps one for its whole life and runs it modally at each press of its
// Setting button: readSetting, setLiveMode, setCurrentMenu, exec, then isChangedCameraMode and
// isSaved. Only OK and Cancel close it (Escape does not); OK writes every value in one atomic
// replacement of the configuration file.
class SetupDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit SetupDlg(QWidget *parent = nullptr);
    ~SetupDlg() override;

    // Fills every field from the configuration file and clears the flags of one opening.
    void readSetting();
    // Writes every field back in one replacement of the file, "%20" cleaned, disks synced; false
    // when the file could not be written (it is then unchanged).
    bool writeSetting();
    // The live view runs: the bit-depth radios can be switched, and OK writes [Camera] Mode too.
    void setLiveMode(bool bLive);
    // The screen that was current before the settings opened.
    void setCurrentMenu(TCurrentMenu menu);
    // signalClosingSystem's code for a restart after a software update (reboot(2)'s restart command).
    static constexpr int CLOSE_RESTART = 0x01234567;
    static constexpr int kChoiceListPointSize = 14; // text of the open choice lists
    static constexpr int kChoiceListPadding = 40;   // beside the widest entry: margins, icon, scroll bar

    // OK wrote the settings.
    bool isSaved() const { return m_bSaved; }
    // OK confirmed a change of the camera bit depth.
    bool isChangedCameraMode() const { return m_bChangedCameraMode; }
    // Called after each run of the hot-pixel calibration, whatever its outcome.
    void completedHotPixelCorrection();

    // The clock commands of OK for a date and time typed in the panel, as (program, arguments).
    static std::vector<std::pair<QString, QStringList>> clockCommands(int year, int month, int day, int hour,
                                                                      int minute);

    // The default gateway of the routing table ("route -n"), or empty when it has none.
    QString gateway();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;

signals:
    void signalClosingSystem(int howto);
    void signalShowHotPixelCorrectionDlg();
    void setVideoRunningState(bool run);

public slots:
    void updateCurrentDateTime(QString LocalDate, QString LocalTime);
    // The Wi-Fi monitor's report: state 1 with the adapter's name, 0 when none is left.
    void slotWLANDeviceChanged(int state, QString device);

private slots:
    void on_BUTTON_OK_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_BUTTON_SW_UPDATE_clicked();
    void on_BUTTON_CLEAR_clicked();
    void on_BUTTON_HOTPIXEL_CORRECTION_clicked();
    void on_BUTTON_ERROR_REPORT_clicked();
    void on_BUTTON_FOCUS_RESET_clicked();
    void on_BUTTON_POS_CLEAR_clicked();
    void on_CHKBOX_AUTO_SAVE_clicked();
    void on_BUTTON_SAVE_PATH_clicked();
    void on_BUTTON_EULA_clicked();
    void on_BUTTON_RESET_ALL_clicked();
    void on_BUTTON_WIFI_TEST_clicked();

private:
    void initialize();
    void setUIFilterColorComboBox(QComboBox *&combo);
    void setUILensComboBox();
    void setUIFineAFComboBox();
    void setUIFontThicknessComboBox();
    void setUIFontColorComboBox();
    void setUILineThicknessComboBox();
    void setUILineColorComboBox();

    // Keypad entry, one handler per field, run by the event filter.
    void EDIT_FILTER_POSITION_0_clicked();
    void EDIT_FILTER_POSITION_1_clicked();
    void EDIT_FILTER_POSITION_2_clicked();
    void EDIT_FILTER_POSITION_3_clicked();
    void EDIT_LENS_NAME_1_clicked();
    void EDIT_LENS_NAME_2_clicked();
    void EDIT_LENS_NAME_3_clicked();
    void EDIT_LENS_NAME_4_clicked();
    void EDIT_LENS_NAME_5_clicked();
    void SPINBOX_LENS_NA_1_clicked();
    void SPINBOX_LENS_NA_2_clicked();
    void SPINBOX_LENS_NA_3_clicked();
    void SPINBOX_LENS_NA_4_clicked();
    void SPINBOX_LENS_NA_5_clicked();
    void SPINBOX_DOF_FACTOR_clicked();
    void SPINBOX_ACCEL_clicked();
    void SPINBOX_REDUCTION_clicked();
    void SPINBOX_AF_OFFSET_clicked();
    void SPINBOX_CELL_SIZE_OFFSET_clicked();
    void SPINBOX_STAGE_MAX_SPEED_clicked();
    void SPINBOX_STAGE_FOCUS_SPEED_clicked();

    // The fields that open the keypad with their handlers: the name fields, then the spin boxes
    // (whose text areas receive the press).
    struct KeypadField
    {
        QWidget *field;
        void (SetupDlg::*handler)();
    };
    std::vector<KeypadField> keypadFields() const;
    // The shared steps of the keypad handlers.
    void enterText(QLineEdit *field, bool nameCheck);
    void enterNumber(QAbstractSpinBox *box, bool integer, bool refuseNegative);

    // The per-position fields, in position order.
    QList<QLineEdit *> filterFields() const;
    QList<QComboBox *> filterColorCombos() const;
    QList<QComboBox *> lensCombos() const;
    QList<QComboBox *> brandCombos() const;
    QList<QLineEdit *> lensNoteFields() const;
    QList<QDoubleSpinBox *> apertureBoxes() const;

    // Confirmation with OK and Cancel: true on OK.
    static bool confirm(const QString &text);
    static void showError(const QString &text);
    // Writes entries to the configuration file; a failure is said as OK says it.
    bool writeEntries(const std::vector<PrivateProfileEntry> &entries);
    // Shows the quick-save folder in LABEL_SAVE_PATH ("/media" left out).
    void showSavePath();
    // Every key written by OK, in order, reset-only keys first.
    std::vector<PrivateProfileEntry> settingEntries() const;
    // Sets the system clock from the date and time fields; false with a message when it fails.
    bool setSystemClock();

    bool m_bCanClose = false;
    bool m_bSaved = false;
    bool m_bDateTimeEdited = false;
    TCurrentMenu m_PreviousMenu = MENU_MULTICOLOR;
    QString m_SavePath;
    bool m_bLiveMode = false;
    int m_CameraMode = 8;
    bool m_bChangedCameraMode = false;
    bool m_bFactoryReset = false;
    WLANMonitor m_WLANMonitor;
    QString m_WLANDevice;
    Ui_SetupDlg *ui;
};
