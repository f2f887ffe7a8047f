#pragma once
#include "ScriptableDialog.h"

#include <QColor>
#include <QPoint>

class QKeyEvent;
class QMouseEvent;
class Ui_KeyboardDlg;

// The on-screen keyboard: every text or number the user types is entered here.
//
// Usual use: construct, setText with the current value, switch on the date-time file-name form
// and/or the naming check as needed, exec() (1 after a valid Enter, 0 after Exit; see
// ScriptableDialog for scripting), then text() (and getFontSizeColor for annotation texts).
// Enter refuses an empty entry (unless allowed) and, with the naming check, any of \ / : * ? " < > |
// with a message; the keyboard then stays open. The dialog can be dragged by its top band.
class KeyboardDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    // fontControls: show the colour and size combos (annotation texts); allowEmpty: Enter accepts
    // an empty or blank entry.
    explicit KeyboardDlg(QWidget *parent = nullptr, bool fontControls = false, bool allowEmpty = false);
    ~KeyboardDlg() override;

    void setText(const QString &text);
    QString text() const; // untrimmed
    // The date-time key inserts "yyyyMMdd_hhmmss" when on, Qt's text date form when off.
    void setDateTimeConvertFormatOn(bool on);
    void setCheckUnacceptableNaming(bool on);
    // The size and colour chosen at the last Enter with font controls; otherwise 10 and black.
    void getFontSizeColor(int &size, QColor &color);

    // True when the text holds a character that names cannot contain.
    static bool containsUnacceptableCharacter(const QString &text);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void on_BUTTON_KEY_SHIFT_L_clicked();
    void on_BUTTON_KEY_SHIFT_R_clicked();
    void on_BUTTON_KEY_ENTER_clicked();
    void on_BUTTON_KEY_SPACE_clicked();
    void on_BUTTON_ADD_DATETIME_clicked();
    void on_BUTTON_KEY_COMMA_clicked();
    void on_BUTTON_EXIT_clicked();
    void on_BUTTON_KEY_UNDERBAR_clicked();
    void on_BUTTON_KEY_BAR_clicked();
    void on_BUTTON_KEY_DEL_clicked();

private:
    void init();
    void addClearButton();
    void initSetting();
    void ProcessKey(QChar c);
    void setUIFontThicknessComboBox();
    void setUIFontColorComboBox();
    void connectCharacterKeys();
    void setShift(bool on);

    bool m_bShift = false;
    bool m_bDragging = false;
    QPoint m_PressPos;
    QPoint m_CurrentPos;
    bool m_bDateTimeConvertFormat = false;
    bool m_bFontControls = false;
    int m_nFontSize = 10;
    QColor m_FontColor;
    bool m_bAllowEmpty = false;
    bool m_bCheckUnacceptableNaming = false;
    Ui_KeyboardDlg *ui;
};
