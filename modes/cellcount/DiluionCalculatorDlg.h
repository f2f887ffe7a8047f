#pragma once
#include "ScriptableDialog.h"

#include <QList>
#include <QRect>
#include <QString>

class QTextEdit;

namespace Ui {
class DiluionCalculatorDlg;
}

// value rounded to the nearest multiple of 1 / scale, halves away from zero.
float round2(float value, float scale);

// The dilution calculator of the Cell count page: from the counted concentration C1 (total, live
// or dead cells of the last count, or typed in as "Custom"), the wanted concentration C2 and the
// final volume V it works out the sample volume V1 = V x C2 / C1 and the buffer V - V1, and
// paints the answer as one sentence. Concentrations are a mantissa and a power of ten per mL;
// everything is typed on the dialog's own keypad. Nothing is stored or handed back.
class DiluionCalculatorDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit DiluionCalculatorDlg(QWidget *parent = nullptr);
    ~DiluionCalculatorDlg() override;

    // The three results of the last count, as the page shows them; shows the selected source.
    void setConcentration(float totalMantissa, int totalExponent, float liveMantissa, int liveExponent,
                          float deadMantissa, int deadExponent);
    // Fills the current-concentration fields from the selected source (one decimal).
    void LoadConcentration();
    // One key of the keypad into the picked field; the code 3 deletes.
    void ProcessKey(QChar key);

    // The sentence the result panel shows (empty before a calculation or after a refusal).
    QString resultText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_BUTTON_KEY_0_clicked() { ProcessKey('0'); }
    void on_BUTTON_KEY_1_clicked() { ProcessKey('1'); }
    void on_BUTTON_KEY_2_clicked() { ProcessKey('2'); }
    void on_BUTTON_KEY_3_clicked() { ProcessKey('3'); }
    void on_BUTTON_KEY_4_clicked() { ProcessKey('4'); }
    void on_BUTTON_KEY_5_clicked() { ProcessKey('5'); }
    void on_BUTTON_KEY_6_clicked() { ProcessKey('6'); }
    void on_BUTTON_KEY_7_clicked() { ProcessKey('7'); }
    void on_BUTTON_KEY_8_clicked() { ProcessKey('8'); }
    void on_BUTTON_KEY_9_clicked() { ProcessKey('9'); }
    void on_BUTTON_KEY_DOT_clicked() { ProcessKey('.'); }
    void on_BUTTON_KEY_DEL_clicked() { ProcessKey(QChar(3)); }
    void on_BUTTON_CALCULATE_clicked();
    void on_BUTTON_CURRENT_CONCENTRATION_clicked();
    void on_BUTTON_BACK_clicked();
    void on_EDIT_CURRENT_selectionChanged();
    void on_EDIT_CURRENT_EXP_selectionChanged();
    void on_EDIT_DESIRED_selectionChanged();
    void on_EDIT_DESIRED_EXP_selectionChanged();
    void on_EDIT_FINAL_VOLUME_selectionChanged();
    void on_EDIT_CURRENT_textChanged();
    void on_EDIT_CURRENT_EXP_textChanged();
    void on_EDIT_DESIRED_textChanged();
    void on_EDIT_DESIRED_EXP_textChanged();
    void on_EDIT_FINAL_VOLUME_textChanged();

private:
    enum Source { TOTAL = 0, LIVE = 1, DEAD = 2, CUSTOM = 3 };

    // The five entry fields: current mantissa and exponent, desired mantissa and exponent, volume.
    QList<QTextEdit *> fields() const;
    // A touch on a field: empties it (a current field only in Custom), gives it the only cursor
    // and makes it the keypad's target.
    void pickField(QTextEdit *field);
    void selectionPicks(QTextEdit *field);
    // Removes the character just typed when the field holds more than maxLength.
    void limitLength(QTextEdit *field, int maxLength);
    // Shows the entry error, then empties and focuses the field.
    void refuse(QTextEdit *field, const QString &range);

    QTextEdit *m_pKeyTarget;
    float m_fTotalMantissa = 0.0f, m_fLiveMantissa = 0.0f, m_fDeadMantissa = 0.0f;
    int m_nTotalExponent = 0, m_nLiveExponent = 0, m_nDeadExponent = 0;
    int m_nSource = TOTAL;
    float m_fCurrentMantissa = 0.0f;
    int m_nCurrentExponent = 0;
    float m_fCurrentConcentration = 0.0f; // C1
    float m_fDesiredConcentration = 0.0f; // C2
    float m_fDesiredMantissa = 0.0f;
    float m_fDesiredExponent = 0.0f;
    float m_fFinalVolume = 0.0f;  // V, mL
    float m_fSampleVolume = 0.0f; // V1, mL
    float m_fResultVolume = 0.0f; // the V of the sentence
    bool m_bExceeds = false, m_bDone = false, m_bTooSmall = false;
    bool m_bLoading = false;
    QRect m_ResultRect;
    Ui::DiluionCalculatorDlg *ui;
};
