#pragma once
#include "ScriptableDialog.h"
#include "nimbo_protocol_t.h"
#include "protocol_t.h"

#include <QString>
#include <string>

namespace Ui {
class ProtocolDlg;
}

// The declustering setting's captions (10 "Low", 30 "Medium", 100 "High", else "None") and back.
QString convertDeclusteringLevelToString(int level);
int convertDeclusteringLevelToInt(const QString &text);

// The protocol dialog of the Cell count page: lists the protocol files, shows the selected
// protocol's dilution factor, live-cell detection, roundness and cell sizes with step buttons
// (edit mode only), and commits a protocol with "Save && Load" (its file and the configuration's
// current protocol). "Save as" copies under a new name, "Delete" removes a protocol; DEFAULT can
// be saved but neither edited nor deleted. The exit button returns the committed protocol, which
// the page then takes as currentProtocol().
class ProtocolDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    // name: the page's current protocol; a name that cannot be stored is taken as DEFAULT.
    explicit ProtocolDlg(const QString &name, QWidget *parent = nullptr);
    ~ProtocolDlg() override;

    // Reads the file into the working record (its name and path stay) and shows the values.
    void LoadProtocol(const std::string &path);
    // Writes the working record's settings to path; false unless every key was stored.
    bool WriteProtocol(const std::string &path);
    // Refills the list and selects the working record's name again.
    void DisplayProtocolList();
    // Edit mode enables the sixteen step buttons, view mode disables them.
    void ProtocolButtonState(bool enabled);
    // The second engine takes its settings from its own file: nothing to fill here.
    void GetProtocol_Vesk(protocol_t &protocol);

    const nimbo_protocol_t &currentProtocol() const { return m_Protocol; }

private slots:
    void on_LIST_PROTOCOL_currentTextChanged(const QString &text);
    void on_BUTTON_LOAD_clicked();
    void on_BUTTON_EDIT_clicked();
    void on_BUTTON_SAVE_AS_clicked();
    void on_BUTTON_DELETE_clicked();
    void on_BUTTON_HOME_clicked();
    void on_BUTTON_DILUTION_FACTOR_UP_clicked();
    void on_BUTTON_DILUTION_FACTOR_DOWN_clicked();
    void on_BUTTON_LIVE_CELL_DETECTION_UP_clicked();
    void on_BUTTON_LIVE_CELL_DETECTION_DOWN_clicked();
    void on_BUTTON_ROUNDNESS_UP_clicked();
    void on_BUTTON_ROUNDNESS_DOWN_clicked();
    void on_BUTTON_MIN_CELL_SIZE_UP_clicked();
    void on_BUTTON_MIN_CELL_SIZE_DOWN_clicked();
    void on_BUTTON_MAX_CELL_SIZE_UP_clicked();
    void on_BUTTON_MAX_CELL_SIZE_DOWN_clicked();
    void on_BUTTON_NOISE_REDUCTION_UP_clicked();
    void on_BUTTON_NOISE_REDUCTION_DOWN_clicked();
    void on_BUTTON_DECLUSTERING_LEVEL_UP_clicked();
    void on_BUTTON_DECLUSTERING_LEVEL_DOWN_clicked();
    void on_BUTTON_THRESHOLD_UP_clicked();
    void on_BUTTON_THRESHOLD_DOWN_clicked();

private:
    void showValues();

    nimbo_protocol_t m_Protocol;
    QString m_CommittedName;
    std::string m_CommittedPath;
    Ui::ProtocolDlg *ui;
};
