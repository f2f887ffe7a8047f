#include "ProtocolDlg.h"

#include "CellCount.h"
#include "ProtocolEditorSupport.h"
#include "ProtocolFile.h"
#include "ui_ProtocolDlg.h"

#include <QPushButton>

using Support = ProtocolEditorSupport;

QString convertDeclusteringLevelToString(int level)
{
    switch (level) {
    case 10: return QStringLiteral("Low");
    case 30: return QStringLiteral("Medium");
    case 100: return QStringLiteral("High");
    default: return QStringLiteral("None");
    }
}

int convertDeclusteringLevelToInt(const QString &text)
{
    if (text == QLatin1String("Low"))
        return 10;
    if (text == QLatin1String("Medium"))
        return 30;
    if (text == QLatin1String("High"))
        return 100;
    return 0;
}

ProtocolDlg::ProtocolDlg(const QString &name, QWidget *parent)
    : ScriptableDialog(parent)
    , ui(new Ui::ProtocolDlg)
{
    m_Protocol.Init();
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    centreOnPrimaryScreen();
    ui->LIST_PROTOCOL->verticalScrollBar()->setStyleSheet("QScrollBar:vertical { width: 20px; }");

    // Noise reduction, declustering and the outer threshold are kept and written, never shown.
    for (const char *row : {"NOISE_REDUCTION", "DECLUSTERING_LEVEL", "THRESHOLD"}) {
        for (const char *form : {"LABEL_%1", "BUTTON_%1_UP", "BUTTON_%1_DOWN"})
            findChild<QWidget *>(QString(form).arg(row))->hide();
    }

    const QString usable = ProtocolFile::isUsableName(name) ? name : ProtocolFile::defaultName;
    const std::string path = ProtocolFile::pathOf(usable);
    LoadProtocol(path);
    m_Protocol.path = path;
    m_Protocol.name = usable;
    m_CommittedName = m_Protocol.name;
    m_CommittedPath = m_Protocol.path;
    DisplayProtocolList();
    ProtocolButtonState(false);
}

ProtocolDlg::~ProtocolDlg()
{
    delete ui;
}

void ProtocolDlg::LoadProtocol(const std::string &path)
{
    ProtocolFile::read(path, m_Protocol, ProtocolFile::Reader::Count);
    showValues();
}

bool ProtocolDlg::WriteProtocol(const std::string &path)
{
    return ProtocolFile::write(path, m_Protocol);
}

void ProtocolDlg::DisplayProtocolList()
{
    Support::fillList(ui->LIST_PROTOCOL, m_Protocol.name);
}

void ProtocolDlg::ProtocolButtonState(bool enabled)
{
    for (QPushButton *button : findChildren<QPushButton *>()) {
        if (button->objectName().endsWith("_UP") || button->objectName().endsWith("_DOWN"))
            button->setEnabled(enabled);
    }
}

void ProtocolDlg::GetProtocol_Vesk(protocol_t &)
{
}

void ProtocolDlg::showValues()
{
    const nimbo_protocol_t &p = m_Protocol;
    ui->LABEL_DILUTION_FACTOR->setText(QString::number(p.nDilutionFactor));
    ui->LABEL_NOISE_REDUCTION->setText(CellCount::convertDigitalFilteringToString(p.nNRKernelSize));
    ui->LABEL_LIVE_CELL_DETECTION->setText(CellCount::convertLiveCellSensitivity(p.nMustDetectIntensity));
    ui->LABEL_ROUNDNESS->setText(QString::number(double(p.fRoundness), 'f', 0));
    ui->LABEL_MIN_CELL_SIZE->setText(QString::number(p.nMinCellSize));
    ui->LABEL_MAX_CELL_SIZE->setText(QString::number(p.nMaxCellSize));
    ui->LABEL_DECLUSTERING_LEVEL->setText(QString::number(p.dDeclusterTolerance * 10.0, 'f', 0));
    ui->LABEL_THRESHOLD->setText(QString::number(p.nOutsideThresholdOffset));
}

void ProtocolDlg::on_LIST_PROTOCOL_currentTextChanged(const QString &text)
{
    m_Protocol.name = text;
    m_Protocol.path = ProtocolFile::pathOf(text);
    LoadProtocol(m_Protocol.path);
    ProtocolButtonState(false);
}

void ProtocolDlg::on_BUTTON_EDIT_clicked()
{
    if (m_Protocol.name == ProtocolFile::defaultName) {
        Support::showMessage(Support::msgDefaultRefused);
        return;
    }
    ProtocolButtonState(true);
}

void ProtocolDlg::on_BUTTON_LOAD_clicked()
{
    if (!WriteProtocol(m_Protocol.path)) {
        Support::showMessage(Support::msgNotSaved);
        return;
    }
    m_CommittedName = m_Protocol.name;
    m_CommittedPath = m_Protocol.path;
    Support::setCurrentProtocolName(m_Protocol.name);
    update();
    Support::showMessage(Support::msgSavedAndLoaded);
    ProtocolButtonState(false);
}

void ProtocolDlg::on_BUTTON_SAVE_AS_clicked()
{
    const auto write = [this](const std::string &path) { return WriteProtocol(path); };
    if (Support::saveCopy(ui->LIST_PROTOCOL->count(), m_Protocol.name, write))
        DisplayProtocolList();
}

void ProtocolDlg::on_BUTTON_DELETE_clicked()
{
    if (m_Protocol.name == ProtocolFile::defaultName) {
        Support::showMessage(Support::msgDefaultRefused);
        return;
    }
    if (Support::showMessage(Support::msgConfirmDelete, true) != 1)
        return;
    if (!Support::removeProtocolFile(m_Protocol.path))
        return;
    m_Protocol.path = ProtocolFile::pathOf(ProtocolFile::defaultName);
    m_Protocol.name = ProtocolFile::defaultName;
    m_CommittedName = m_Protocol.name;
    m_CommittedPath = m_Protocol.path;
    DisplayProtocolList();
    LoadProtocol(m_Protocol.path);
    update();
}

void ProtocolDlg::on_BUTTON_HOME_clicked()
{
    m_Protocol.name = m_CommittedName;
    m_Protocol.path = m_CommittedPath;
    LoadProtocol(m_CommittedPath);
    close();
}

// --- step buttons: each changes the working record and its label at once ---

void ProtocolDlg::on_BUTTON_DILUTION_FACTOR_UP_clicked()
{
    int &v = m_Protocol.nDilutionFactor;
    if (v > 99)
        return;
    v += v <= 9 ? 1 : 10;
    showValues();
}

void ProtocolDlg::on_BUTTON_DILUTION_FACTOR_DOWN_clicked()
{
    int &v = m_Protocol.nDilutionFactor;
    if (v < 2)
        return;
    v -= v < 11 ? 1 : 10;
    showValues();
}

// Up raises the sensitivity: 220 ("0"), then 171 ("1") down to 155 ("9") in steps of 2.
void ProtocolDlg::on_BUTTON_LIVE_CELL_DETECTION_UP_clicked()
{
    int &v = m_Protocol.nMustDetectIntensity;
    if (v < 156)
        return;
    v = v == 220 ? 171 : v - 2;
    showValues();
}

void ProtocolDlg::on_BUTTON_LIVE_CELL_DETECTION_DOWN_clicked()
{
    int &v = m_Protocol.nMustDetectIntensity;
    if (v > 219)
        return;
    v = v == 171 ? 220 : v + 2;
    showValues();
}

void ProtocolDlg::on_BUTTON_ROUNDNESS_UP_clicked()
{
    if (!(m_Protocol.fRoundness < 100.0f))
        return;
    m_Protocol.fRoundness += 10.0f;
    showValues();
}

void ProtocolDlg::on_BUTTON_ROUNDNESS_DOWN_clicked()
{
    if (!(m_Protocol.fRoundness > 0.0f))
        return;
    m_Protocol.fRoundness -= 10.0f;
    showValues();
}

void ProtocolDlg::on_BUTTON_MIN_CELL_SIZE_UP_clicked()
{
    if (m_Protocol.nMinCellSize >= m_Protocol.nMaxCellSize - 1)
        return;
    ++m_Protocol.nMinCellSize;
    showValues();
}

void ProtocolDlg::on_BUTTON_MIN_CELL_SIZE_DOWN_clicked()
{
    if (m_Protocol.nMinCellSize < 2)
        return;
    --m_Protocol.nMinCellSize;
    showValues();
}

void ProtocolDlg::on_BUTTON_MAX_CELL_SIZE_UP_clicked()
{
    if (m_Protocol.nMaxCellSize > 59)
        return;
    ++m_Protocol.nMaxCellSize;
    showValues();
}

void ProtocolDlg::on_BUTTON_MAX_CELL_SIZE_DOWN_clicked()
{
    if (m_Protocol.nMinCellSize + 1 >= m_Protocol.nMaxCellSize)
        return;
    --m_Protocol.nMaxCellSize;
    showValues();
}

void ProtocolDlg::on_BUTTON_NOISE_REDUCTION_UP_clicked()
{
    if (m_Protocol.nNRKernelSize > 6)
        return;
    m_Protocol.nNRKernelSize += 2;
    showValues();
}

void ProtocolDlg::on_BUTTON_NOISE_REDUCTION_DOWN_clicked()
{
    if (m_Protocol.nNRKernelSize < 2)
        return;
    m_Protocol.nNRKernelSize -= 2;
    showValues();
}

void ProtocolDlg::on_BUTTON_DECLUSTERING_LEVEL_UP_clicked()
{
    double &v = m_Protocol.dDeclusterTolerance;
    if (!(v < 1.0) || QString::number(v, 'f', 1) == QLatin1String("1.0"))
        return;
    v += 0.1;
    showValues();
}

void ProtocolDlg::on_BUTTON_DECLUSTERING_LEVEL_DOWN_clicked()
{
    double &v = m_Protocol.dDeclusterTolerance;
    if (!(v > 0.0) || QString::number(v, 'f', 1) == QLatin1String("0.0"))
        return;
    v -= 0.1;
    showValues();
}

void ProtocolDlg::on_BUTTON_THRESHOLD_UP_clicked()
{
    if (m_Protocol.nOutsideThresholdOffset > 34)
        return;
    m_Protocol.nOutsideThresholdOffset += 5;
    showValues();
}

void ProtocolDlg::on_BUTTON_THRESHOLD_DOWN_clicked()
{
    if (m_Protocol.nOutsideThresholdOffset < -9)
        return;
    m_Protocol.nOutsideThresholdOffset -= 5;
    showValues();
}
