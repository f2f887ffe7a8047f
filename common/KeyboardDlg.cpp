#include "KeyboardDlg.h"

#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"
#include "ui_KeyboardDlg.h"

#include <QAction>
#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>
#include <cstdlib>

namespace {

// Sent to the edit line for the Delete key.
constexpr QChar kBackspaceMarker(3);
// The band along the top edge by which the keyboard is dragged.
constexpr int kDragBandHeight = 35;
const QString kUnacceptableCharacters = QStringLiteral("\\/:*?\"<>|");

// The leading number of a text, as C's strtol reads it (0 when there is none).
int leadingInt(const std::string &text)
{
    return int(std::strtol(text.c_str(), nullptr, 10));
}

} // namespace

KeyboardDlg::KeyboardDlg(QWidget *parent, bool fontControls, bool allowEmpty)
    : ScriptableDialog(parent, kPopupFlags)
    , m_bFontControls(fontControls)
    , m_bAllowEmpty(allowEmpty)
    , ui(new Ui_KeyboardDlg)
{
    ui->setupUi(this);
    addClearButton();
    connectCharacterKeys();
    init();
}

KeyboardDlg::~KeyboardDlg()
{
    delete ui;
}

// The edit line's clear button, shown while it holds text. Not QLineEdit's own: that one fades in
// and out through an animation that nothing owns, which deletes itself only after a later tick of
// the event loop; a keyboard closed within the fade leaves it behind when no tick follows.
void KeyboardDlg::addClearButton()
{
    QLineEdit *edit = ui->EDIT_TEXT;
    QAction *clear = edit->addAction(edit->style()->standardIcon(QStyle::SP_LineEditClearButton, nullptr, edit),
                                     QLineEdit::TrailingPosition);
    clear->setObjectName(QStringLiteral("ACTION_CLEAR_TEXT"));
    clear->setVisible(false);
    connect(clear, &QAction::triggered, edit, [edit] {
        edit->clear();
        emit edit->textEdited(QString());
    });
    connect(edit, &QLineEdit::textChanged, clear, [clear](const QString &text) { clear->setVisible(!text.isEmpty()); });
}

void KeyboardDlg::connectCharacterKeys()
{
    // Letter and digit keys type their own (lower-case) character.
    const QString keys = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    for (QChar c : keys) {
        auto *button = findChild<QAbstractButton *>(QStringLiteral("BUTTON_KEY_") + c.toUpper());
        if (button)
            connect(button, &QAbstractButton::clicked, this, [this, c] { ProcessKey(c); });
    }
}

void KeyboardDlg::init()
{
    initSetting();
    m_bDragging = false;
    centreOnPrimaryScreen();
    setShift(false);
    m_bDateTimeConvertFormat = false;
    m_bCheckUnacceptableNaming = false;
}

void KeyboardDlg::initSetting()
{
    for (QWidget *control : {static_cast<QWidget *>(ui->LABEL_COLOR), static_cast<QWidget *>(ui->COMB_ITEM_COLOR),
                             static_cast<QWidget *>(ui->LABEL_WIDTH), static_cast<QWidget *>(ui->COMB_ITEM_SIZE)})
        control->setVisible(m_bFontControls);
    m_nFontSize = 10;
    m_FontColor = Qt::black;
    if (!m_bFontControls)
        return;
    setUIFontThicknessComboBox();
    setUIFontColorComboBox();
    const std::string file = Paths::configFile().toStdString();
    std::string value;
    ReadPrivateProfileString("Setting_MultiColor", "FontThickness", "24", value, file);
    const int sizeIndex = ui->COMB_ITEM_SIZE->findText(QString::fromStdString(value));
    if (sizeIndex >= 0)
        ui->COMB_ITEM_SIZE->setCurrentIndex(sizeIndex);
    ReadPrivateProfileString("Setting_MultiColor", "FontColor", "1", value, file);
    // An index outside the table selects its nearest end.
    ui->COMB_ITEM_COLOR->setCurrentIndex(clampColorIndex(leadingInt(value)));
}

void KeyboardDlg::setUIFontThicknessComboBox()
{
    ui->COMB_ITEM_SIZE->clear();
    ui->COMB_ITEM_SIZE->addItems(g_FontSizeList);
}

void KeyboardDlg::setUIFontColorComboBox()
{
    addColorTableItems(ui->COMB_ITEM_COLOR);
}

void KeyboardDlg::setText(const QString &text)
{
    ui->EDIT_TEXT->setText(text);
    ui->EDIT_TEXT->setCursorPosition(ui->EDIT_TEXT->text().length());
}

QString KeyboardDlg::text() const
{
    return ui->EDIT_TEXT->text();
}

void KeyboardDlg::setDateTimeConvertFormatOn(bool on)
{
    m_bDateTimeConvertFormat = on;
}

void KeyboardDlg::setCheckUnacceptableNaming(bool on)
{
    m_bCheckUnacceptableNaming = on;
}

void KeyboardDlg::getFontSizeColor(int &size, QColor &color)
{
    size = m_nFontSize;
    color = m_FontColor;
}

bool KeyboardDlg::containsUnacceptableCharacter(const QString &text)
{
    for (QChar c : kUnacceptableCharacters)
        if (text.contains(c))
            return true;
    return false;
}

void KeyboardDlg::ProcessKey(QChar c)
{
    if (m_bShift)
        c = c.toUpper();
    const bool backspace = c == kBackspaceMarker;
    const int key = backspace ? int(Qt::Key_Backspace) : int(c.unicode());
    const QString text = backspace ? QString() : QString(c);
    // Delivered at once, exactly as a real key press and release.
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(ui->EDIT_TEXT, &press);
    QCoreApplication::sendEvent(ui->EDIT_TEXT, &release);
    ui->EDIT_TEXT->setFocus();
}

void KeyboardDlg::setShift(bool on)
{
    m_bShift = on;
    ui->BUTTON_KEY_COMMA->setText(on ? "," : ".");
    ui->BUTTON_KEY_UNDERBAR->setVisible(on);
    ui->BUTTON_KEY_BAR->setVisible(!on);
    ui->BUTTON_KEY_SHIFT_L->setChecked(on);
    ui->BUTTON_KEY_SHIFT_R->setChecked(on);
}

void KeyboardDlg::on_BUTTON_KEY_SHIFT_L_clicked()
{
    setShift(!m_bShift);
}

void KeyboardDlg::on_BUTTON_KEY_SHIFT_R_clicked()
{
    setShift(!m_bShift);
}

void KeyboardDlg::on_BUTTON_KEY_SPACE_clicked()
{
    ProcessKey(' ');
}

void KeyboardDlg::on_BUTTON_KEY_COMMA_clicked()
{
    ProcessKey(m_bShift ? ',' : '.');
}

void KeyboardDlg::on_BUTTON_KEY_UNDERBAR_clicked()
{
    ProcessKey('_');
}

void KeyboardDlg::on_BUTTON_KEY_BAR_clicked()
{
    ProcessKey('-');
}

void KeyboardDlg::on_BUTTON_KEY_DEL_clicked()
{
    ProcessKey(kBackspaceMarker);
}

void KeyboardDlg::on_BUTTON_ADD_DATETIME_clicked()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = m_bDateTimeConvertFormat ? now.toString("yyyyMMdd_hhmmss") : now.toString(Qt::TextDate);
    setText(ui->EDIT_TEXT->text() + stamp);
}

void KeyboardDlg::on_BUTTON_EXIT_clicked()
{
    reject();
}

void KeyboardDlg::on_BUTTON_KEY_ENTER_clicked()
{
    if (m_bFontControls) {
        const int colorIndex = ui->COMB_ITEM_COLOR->currentIndex();
        if (colorIndex >= 0 && colorIndex < kColorTableSize)
            m_FontColor = g_ColorTable[colorIndex];
        m_nFontSize = ui->COMB_ITEM_SIZE->currentText().toInt();
    }
    const QString entry = ui->EDIT_TEXT->text().trimmed();
    if (!m_bAllowEmpty && entry.isEmpty()) {
        MessageDlg message(this);
        message.setMessage("<p><b>Error!</b><br/><br/>Please enter text.</p>");
        message.setButtonVisibility(MSG_BUTTON_OK);
        message.exec();
        return;
    }
    if (m_bCheckUnacceptableNaming && containsUnacceptableCharacter(entry)) {
        MessageDlg message(this);
        message.setMsgType(MSG_INVALID_NAME_CHARS);
        message.exec();
        return;
    }
    accept();
}

void KeyboardDlg::keyPressEvent(QKeyEvent *event)
{
    // Printable and editing keys go to the edit line; of the rest only keypad Enter acts.
    if (event->key() == Qt::Key_Enter)
        on_BUTTON_KEY_ENTER_clicked();
    event->accept();
}

void KeyboardDlg::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->localPos().toPoint();
    if (pos.x() >= 0 && pos.x() < width() && pos.y() >= 0 && pos.y() < kDragBandHeight) {
        m_bDragging = true;
        m_PressPos = pos;
    }
}

void KeyboardDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_bDragging)
        return;
    m_CurrentPos = event->localPos().toPoint();
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize area = screen ? screen->geometry().size() : QSize(width(), height());
    const QPoint corner = pos();
    int left = qMax(0, m_CurrentPos.x() - m_PressPos.x() + corner.x());
    if (left + width() > area.width())
        left = area.width() - width();
    int top = qMax(0, m_CurrentPos.y() - m_PressPos.y() + corner.y());
    if (top + height() > area.height())
        top = area.height() - height();
    move(left, top);
}

void KeyboardDlg::mouseReleaseEvent(QMouseEvent *)
{
    m_bDragging = false;
}
