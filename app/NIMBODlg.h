#pragma once
#include "Globals.h"
#include "TSScaleBar.h"

#include <QDialog>
#include <QString>
#include <QVector>

#include <array>
#include <functional>
#include <memory>

class DateTimer;
class HotPixelCalibration;
class MediaMonitor;
class QAbstractButton;
class ScaleBar;
class SetupDlg;
class Ui_NIMBODlg;

// The one window of the application: a frameless full-screen dialog that builds every page, the
// control panel, the live video and the image views through its form, wires them together once,
// switches the screens of the main menu, runs the start-up sequence and every way a run ends
// (power-off, restart, exit to the shell). Everything runs on the GUI thread.
class NIMBODlg : public QDialog
{
    Q_OBJECT

public:
    // What the window does when it closes (the vocabulary of the reboot command codes).
    static constexpr int CLOSE_EXIT_TO_SHELL = 1;
    static constexpr int CLOSE_RESTART = 0x01234567;
    static constexpr int CLOSE_POWER_OFF = 0x4321FEDC;
    // The bound of Qt's pixmap cache: painted icons and style sheet pictures.
    static constexpr int kPixmapCacheLimitKB = 10240;

    // One connection made by the wiring, as made and whether it took.
    struct Connection
    {
        QString sender;
        QString signal;   // normalised signature
        QString receiver;
        QString method;   // normalised signature
        Qt::ConnectionType type = Qt::AutoConnection;
        bool ok = false;
    };

    NIMBODlg(TCurrentMenu menu, TExecMode mode, QWidget *parent = nullptr);
    ~NIMBODlg() override;

    void initialize(TCurrentMenu menu);
    // The end of a run that cannot go through the window (the display is gone): the camera is
    // stopped and closed and the serial port closed, which removes its lock file.
    void releaseInstrument();

    // Read access for the tests and the screenshots.
    Ui_NIMBODlg *form() const { return ui.get(); }
    DateTimer &dateTimer() const { return *m_pDateTimer; }
    SetupDlg &setupDlg() const { return *m_pSetupDlg; }
    MediaMonitor &mediaMonitor() const { return *m_pMediaMonitor; }
    ScaleBar &scaleBar() const { return *m_pScaleBar; }
    const QVector<Connection> &connections() const { return m_Connections; }
    QStringList failedConnections() const;
    int closeCode() const { return m_nCloseCode; }
    bool isClosing() const { return m_bClosing; }
    bool isCaptured() const { return m_bCaptured; }
    bool isSaved() const { return m_bSaved; }
    TCurrentMenu previousMenu() const { return m_PreviousMenu; }

public slots:
    void reject() override;

private slots:
    void initialStart();

    // Main menu.
    void on_BUTTON_POWER_clicked();
    void on_BUTTON_MULTI_COLOR_MENU_clicked();
    void on_BUTTON_Z_STACK_MENU_clicked();
    void on_BUTTON_TIME_LAPSE_MENU_clicked();
    void on_BUTTON_COUNT_MENU_clicked();
    void on_BUTTON_MONITOR_MENU_clicked();
    void on_BUTTON_FILEMANAGER_clicked();
    void on_BUTTON_SETTING_MENU_clicked();

    // Pages, panel, views and models.
    void setSubWidgetState();
    void setCheckedMainMenuButton(bool enabled);
    void slotEnableControlWidgetUI(bool enable);
    void setCaptured(bool captured);
    void setSaved(bool saved);
    void updateCurrentDateTime(QString date, QString time);
    void slotSetVideoRunningState(bool run);
    void setMultiColorImageData(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits, uchar *shiftedData);
    void changeFilterImageData(int channel, int pseudoColor, void *data, bool bPseudoColor, int bits, uchar *shiftedData);
    void slotMultiColorImageDisplayState(int state);
    void slotSetOverlayImageData(uchar *data, int bits);
    void slotMouseZoomEvent();
    void slotShowHideNavigation(bool bShow);
    void slotSetScaleBar(TSScaleBar scaleBar);
    void slotChangeScaleBarSetting(bool resetPosition, int nPostionIndex);
    void slotGetScaleBarPoint();

    // The end of a run.
    void slotWaitForVideoWidgetIsStopped();
    void slotParkingCompleted();
    void slotCloseSystem(int howto);

    // Hot-pixel calibration, asked for by the settings dialog.
    void slotShowHotPixelCorrectionDlg();

private:
    // What the window needs of each of the five mode pages (menus 0 to 4).
    struct ModePage
    {
        QAbstractButton *button = nullptr;
        QWidget *page = nullptr;
        std::function<int()> state;
        std::function<void(int)> setState;
        std::function<void()> firstTimeReset; // a fresh entry that is not a return from the file manager
        std::function<void()> videoStarted;   // the page's slotWaitForVideoWidgetIsStarted
        std::function<void()> videoStopped;   // the page's slotWaitForVideoWidgetIsStopped
        std::function<void()> readSetting;    // its image widget, then the page
    };

    void makeSignalSlotConnection();
    void describePages();
    bool link(QObject *sender, const char *signal, QObject *receiver, const char *method,
              Qt::ConnectionType type = Qt::AutoConnection);
    void linkAll(QObject *sender, const char *signal, std::initializer_list<QObject *> receivers,
                 const char *method, Qt::ConnectionType type = Qt::AutoConnection);

    void switchToMode(TCurrentMenu menu);
    void setWidgetVisibility();
    void setWidgetEnabled(bool enabled);
    void lockMainMenu() { setCheckedMainMenuButton(false); }
    void unlockMainMenu() { setCheckedMainMenuButton(true); }
    void startVideoFor(const ModePage &page);
    void stopVideoFor(const ModePage &page);
    void stopVideoThenContinue();
    void beginClose(int howto);
    void closeRun();
    void runStartUpDialogs();
    static bool isModeMenu(int menu) { return menu >= MENU_MULTICOLOR && menu <= MENU_GROWTH_MONITOR; }

    bool m_bClosing = false;
    bool m_bCleanedUp = false; // the clean-up of the close road has run
    bool m_bEnded = false;     // the final step (power-off, exit, reboot) has been taken
    std::unique_ptr<DateTimer> m_pDateTimer;
    std::unique_ptr<SetupDlg> m_pSetupDlg;
    std::unique_ptr<MediaMonitor> m_pMediaMonitor;
    bool m_bCaptured = false;
    bool m_bSaved = false;
    std::unique_ptr<ScaleBar> m_pScaleBar;
    int m_nCloseCode = 0;
    std::unique_ptr<HotPixelCalibration> m_pHotPixelCalibration; // holds the running dialog
    TCurrentMenu m_PreviousMenu = MENU_MULTICOLOR;
    std::array<int, 5> m_nRememberedState{};
    bool m_bVideoStoppedHere = false;
    std::unique_ptr<Ui_NIMBODlg> ui;

    std::array<ModePage, 5> m_Pages;
    QVector<Connection> m_Connections;
    bool m_bSetupDlgConnected = false;
};
