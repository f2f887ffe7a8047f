#include "DiluionCalculatorDlg.h"

#include "DecimalText.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "ui_DiluionCalculatorDlg.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTextEdit>
#include <cmath>

namespace {

const QString kMantissaRange = QStringLiteral("(1.0 ~ 9.9)");
const QString kExponentRange = QStringLiteral("(0 ~ 9)");
const QString kVolumeRange = QStringLiteral("(0.01 ~ 1000)");

double numberIn(const QTextEdit *field)
{
    return DecimalText::leadingDouble(field->toPlainText().toStdString());
}

// mantissa x 10^exponent, formed in double precision and kept as float.
float concentration(double mantissa, double exponent)
{
    return float(mantissa * std::pow(10.0, exponent));
}

} // namespace

float round2(float value, float scale)
{
    const float scaled = value * scale;
    const double shifted = double(scaled) + (value < 0.0f ? -0.5 : 0.5);
    return float(int(shifted)) / scale;
}

DiluionCalculatorDlg::DiluionCalculatorDlg(QWidget *parent)
    : ScriptableDialog(parent)
    , ui(new Ui::DiluionCalculatorDlg)
{
    ui->setupUi(this);
    ui->LABEL_RESULT->hide();
    centreOnPrimaryScreen();
    setWindowFlags(Qt::FramelessWindowHint);
    m_pKeyTarget = ui->EDIT_DESIRED;
    m_ResultRect = ui->LABEL_RESULT->geometry().translated(10, 6);
    for (QTextEdit *field : fields()) {
        field->setFont(m_Font20);
        QPalette palette = field->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, QPalette::Base, QColor(0, 0, 0, 0));
        field->setPalette(palette);
        field->document()->setDefaultTextOption(QTextOption(Qt::AlignCenter));
        field->setCursorWidth(0);
        field->viewport()->installEventFilter(this);
    }
    ui->EDIT_CURRENT->setReadOnly(true);
    ui->EDIT_CURRENT_EXP->setReadOnly(true);
}

QList<QTextEdit *> DiluionCalculatorDlg::fields() const
{
    return {ui->EDIT_CURRENT, ui->EDIT_CURRENT_EXP, ui->EDIT_DESIRED, ui->EDIT_DESIRED_EXP, ui->EDIT_FINAL_VOLUME};
}

DiluionCalculatorDlg::~DiluionCalculatorDlg()
{
    delete ui;
}

void DiluionCalculatorDlg::setConcentration(float totalMantissa, int totalExponent, float liveMantissa,
                                            int liveExponent, float deadMantissa, int deadExponent)
{
    m_fTotalMantissa = totalMantissa;
    m_nTotalExponent = totalExponent;
    m_fLiveMantissa = liveMantissa;
    m_nLiveExponent = liveExponent;
    m_fDeadMantissa = deadMantissa;
    m_nDeadExponent = deadExponent;
    LoadConcentration();
}

void DiluionCalculatorDlg::LoadConcentration()
{
    switch (m_nSource) {
    case TOTAL:
        m_fCurrentMantissa = round2(m_fTotalMantissa, 10.0f);
        m_nCurrentExponent = m_nTotalExponent;
        break;
    case LIVE:
        m_fCurrentMantissa = round2(m_fLiveMantissa, 10.0f);
        m_nCurrentExponent = m_nLiveExponent;
        break;
    case DEAD:
        m_fCurrentMantissa = round2(m_fDeadMantissa, 10.0f);
        m_nCurrentExponent = m_nDeadExponent;
        break;
    default:
        m_fCurrentMantissa = 0.0f;
        m_nCurrentExponent = 0;
    }
    m_fCurrentConcentration = concentration(m_fCurrentMantissa, m_nCurrentExponent);
    // The length limits govern typing, not what is loaded here ("10.0", "-1.0").
    m_bLoading = true;
    ui->EDIT_CURRENT->setPlainText(QString::number(double(m_fCurrentMantissa), 'f', 1));
    ui->EDIT_CURRENT_EXP->setPlainText(QString::number(m_nCurrentExponent));
    m_bLoading = false;
}

void DiluionCalculatorDlg::ProcessKey(QChar key)
{
    const bool del = key == QChar(3);
    const int code = del ? int(Qt::Key_Backspace) : int(key.unicode());
    const QString text = del ? QString() : QString(key);
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QCoreApplication::sendEvent(m_pKeyTarget, &press);
    QCoreApplication::sendEvent(m_pKeyTarget, &release);
}

QString DiluionCalculatorDlg::resultText() const
{
    if (m_bDone)
        return QStringLiteral("Dilute %1 mL cell sample in %2 mL buffer.")
            .arg(QString::number(double(m_fSampleVolume), 'g', 6),
                 QString::number(double(m_fResultVolume - m_fSampleVolume), 'g', 6));
    if (m_bTooSmall)
        return QStringLiteral("Out of range: the calculated volume is < 0.001");
    if (m_bExceeds)
        return QStringLiteral("Desired concentration cannot exceed current concentration");
    return QString();
}

void DiluionCalculatorDlg::paintEvent(QPaintEvent *event)
{
    ScriptableDialog::paintEvent(event);
    QPainter painter(this);
    painter.setFont(m_Font12);
    painter.setPen(QColor(1, 122, 255));
    const QRectF area(m_ResultRect.left(), m_ResultRect.top(), m_ResultRect.right() - m_ResultRect.left() + 1,
                      m_ResultRect.bottom() - m_ResultRect.top() + 1);
    painter.drawText(area, resultText(), QTextOption());
}

bool DiluionCalculatorDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        for (QTextEdit *field : fields()) {
            if (watched == field->viewport()) {
                pickField(field);
                return true;
            }
        }
    }
    return ScriptableDialog::eventFilter(watched, event);
}

void DiluionCalculatorDlg::pickField(QTextEdit *field)
{
    const bool current = field == ui->EDIT_CURRENT || field == ui->EDIT_CURRENT_EXP;
    if (!current || m_nSource == CUSTOM)
        field->clear();
    for (QTextEdit *other : fields())
        other->setCursorWidth(other == field ? 1 : 0);
    field->setFocus();
    field->moveCursor(QTextCursor::End);
    m_pKeyTarget = field;
}

// A selection made in a field (a long touch) picks it like a touch.
void DiluionCalculatorDlg::selectionPicks(QTextEdit *field)
{
    if (!m_bLoading && field->textCursor().hasSelection())
        pickField(field);
}

void DiluionCalculatorDlg::on_EDIT_CURRENT_selectionChanged() { selectionPicks(ui->EDIT_CURRENT); }
void DiluionCalculatorDlg::on_EDIT_CURRENT_EXP_selectionChanged() { selectionPicks(ui->EDIT_CURRENT_EXP); }
void DiluionCalculatorDlg::on_EDIT_DESIRED_selectionChanged() { selectionPicks(ui->EDIT_DESIRED); }
void DiluionCalculatorDlg::on_EDIT_DESIRED_EXP_selectionChanged() { selectionPicks(ui->EDIT_DESIRED_EXP); }
void DiluionCalculatorDlg::on_EDIT_FINAL_VOLUME_selectionChanged() { selectionPicks(ui->EDIT_FINAL_VOLUME); }

void DiluionCalculatorDlg::limitLength(QTextEdit *field, int maxLength)
{
    if (m_bLoading || field->toPlainText().size() <= maxLength)
        return;
    QTextCursor cursor = field->textCursor();
    cursor.deletePreviousChar();
    field->setTextCursor(cursor);
}

void DiluionCalculatorDlg::on_EDIT_CURRENT_textChanged() { limitLength(ui->EDIT_CURRENT, 3); }
void DiluionCalculatorDlg::on_EDIT_CURRENT_EXP_textChanged() { limitLength(ui->EDIT_CURRENT_EXP, 1); }
void DiluionCalculatorDlg::on_EDIT_DESIRED_textChanged() { limitLength(ui->EDIT_DESIRED, 3); }
void DiluionCalculatorDlg::on_EDIT_DESIRED_EXP_textChanged() { limitLength(ui->EDIT_DESIRED_EXP, 1); }
void DiluionCalculatorDlg::on_EDIT_FINAL_VOLUME_textChanged() { limitLength(ui->EDIT_FINAL_VOLUME, 4); }

void DiluionCalculatorDlg::on_BUTTON_CURRENT_CONCENTRATION_clicked()
{
    static const char *const captions[] = {"Total", "Live", "Dead", "Custom"};
    m_nSource = (m_nSource + 1) % 4;
    ui->BUTTON_CURRENT_CONCENTRATION->setText(captions[m_nSource]);
    ui->EDIT_CURRENT->setReadOnly(m_nSource != CUSTOM);
    ui->EDIT_CURRENT_EXP->setReadOnly(m_nSource != CUSTOM);
    LoadConcentration();
}

void DiluionCalculatorDlg::refuse(QTextEdit *field, const QString &range)
{
    MessageDlg box(true);
    box.setMessage("<p><b>Error!</b><br/><br/>Please enter a number.<br/>" + range + "</p>");
    box.exec();
    field->clear();
    field->setFocus();
    update();
}

void DiluionCalculatorDlg::on_BUTTON_CALCULATE_clicked()
{
    m_bExceeds = m_bDone = m_bTooSmall = false;
    if (m_nSource == CUSTOM) {
        const double mantissa = numberIn(ui->EDIT_CURRENT);
        if (mantissa < 1.0 || mantissa > 9.9)
            return refuse(ui->EDIT_CURRENT, kMantissaRange);
        if (ui->EDIT_CURRENT_EXP->toPlainText().isEmpty())
            return refuse(ui->EDIT_CURRENT_EXP, kExponentRange);
        m_nCurrentExponent = DecimalText::leadingInt(ui->EDIT_CURRENT_EXP->toPlainText().toStdString());
        m_fCurrentConcentration = concentration(mantissa, m_nCurrentExponent);
    }
    const double desired = numberIn(ui->EDIT_DESIRED);
    if (desired < 1.0 || desired > 9.9)
        return refuse(ui->EDIT_DESIRED, kMantissaRange);
    if (ui->EDIT_DESIRED_EXP->toPlainText().isEmpty())
        return refuse(ui->EDIT_DESIRED_EXP, kExponentRange);
    const double volume = numberIn(ui->EDIT_FINAL_VOLUME);
    if (volume < 0.01 || volume > 1000.0)
        return refuse(ui->EDIT_FINAL_VOLUME, kVolumeRange);

    m_fDesiredMantissa = float(desired);
    m_fDesiredExponent = float(numberIn(ui->EDIT_DESIRED_EXP));
    m_fDesiredConcentration = concentration(m_fDesiredMantissa, m_fDesiredExponent);
    m_fFinalVolume = float(volume);
    m_fResultVolume = m_fFinalVolume;
    if (m_fDesiredConcentration > m_fCurrentConcentration) {
        m_bExceeds = true;
    } else {
        m_fSampleVolume = round2(m_fFinalVolume * (m_fDesiredConcentration / m_fCurrentConcentration), 1000.0f);
        if (m_fSampleVolume >= 0.001f)
            m_bDone = true;
        else
            m_bTooSmall = true;
    }
    update();
}

void DiluionCalculatorDlg::on_BUTTON_BACK_clicked()
{
    reject();
}
