#pragma once
#include "ScriptableDialog.h"
#include "nimbo_protocol_t.h"

#include <QString>
#include <string>

class QAbstractSpinBox;

namespace Ui {
class NewProtocolDlg;
}

// The full protocol editor: the protocol files of ProtocolDlg with one spin box for each of the
// 22 settings, read with this editor's own fall-backs and without the 220 limit. Load writes the
// shown values and makes the protocol the page's; Edit (not on DEFAULT) unlocks the values;
// Save as copies under a new name; Delete removes a protocol. No screen opens it yet.
class NewProtocolDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit NewProtocolDlg(const QString &name, QWidget *parent = nullptr);
    ~NewProtocolDlg() override;

    // Reads the file into the record (name and path stay) and shows it.
    void LoadProtocol(const std::string &path);
    // The shown values into the record.
    void UpdateProtocol();
    // The shown values to path; false unless every key was stored.
    bool WriteProtocol(const std::string &path);
    void DisplayProtocolList();
    // Editing makes the 22 values editable, viewing makes them read-only.
    void ProtocolButtonState(bool edit);

    const nimbo_protocol_t &protocol() const { return m_Protocol; }

private slots:
    void on_BUTTON_LOAD_clicked();
    void on_BUTTON_EDIT_clicked();
    void on_BUTTON_SAVE_AS_clicked();
    void on_BUTTON_DELETE_clicked();
    void on_BUTTON_CLOSE_clicked();
    void on_LIST_PROTOCOL_currentTextChanged(const QString &text);

private:
    // The control of the i-th key of ProtocolFile::keys().
    QAbstractSpinBox *control(size_t i) const;

    nimbo_protocol_t m_Protocol;
    Ui::NewProtocolDlg *ui;
};
