#pragma once
#include "Globals.h"
#include "ScriptableDialog.h"

#include <QString>

// The settings dialog: every configurable value of the instrument and the maintenance tools
// (software update, hot-pixel calibration, error report, Wi-Fi test), opened from the main menu.
class SetupDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit SetupDlg(QWidget *parent = nullptr);

    // Loads the dialog from the configuration file; a reload clears the saved and camera-mode flags.
    void readSetting();
    void writeSetting();
    void setLiveMode(bool bLive);
    void setCurrentMenu(TCurrentMenu menu);
    // OK wrote the settings.
    bool isSaved() const { return m_bSaved; }
    // OK confirmed a change of the camera bit depth.
    bool isChangedCameraMode() const { return m_bChangedCameraMode; }
    // Called after each run of the hot-pixel calibration, whatever its outcome.
    void completedHotPixelCorrection();

public slots:
    void updateCurrentDateTime(QString date, QString time);

signals:
    void liveMode(bool on);
    void lightOn();
    void lightOff();
    void signalShowHotPixelCorrectionDlg();
    void setVideoRunningState(bool run);
    void signalClosingSystem(int howto);

private slots:
    void on_BUTTON_OK_clicked();
    void on_BUTTON_CANCEL_clicked();

private:
    bool m_bSaved = false;
    bool m_bChangedCameraMode = false;
    bool m_bLiveMode = false;
    TCurrentMenu m_nCurrentMenu = MENU_MULTICOLOR;
};
