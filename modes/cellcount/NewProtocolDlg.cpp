#include "NewProtocolDlg.h"

#include "ProtocolEditorSupport.h"
#include "ProtocolFile.h"
#include "ui_NewProtocolDlg.h"

#include <QDoubleSpinBox>
#include <QScrollBar>
#include <QSpinBox>

using Support = ProtocolEditorSupport;

namespace {
// The controls in the order of ProtocolFile::keys().
const char *const kControls[] = {
    "Dilution_Factor_spinBox",          "OutSide_ThOffset_spinBox",     "OutSide_MinSize_spinBox",
    "OutSide_MaxSize_spinBox",          "NR_kernelSize_spinBox",        "OutSide_Enhance_kernelSize_spinBox",
    "OutSide_Enhance_Gain_spinBox",     "InSide_ThOffset_spinBox",      "InSide_MinSize_spinBox",
    "InSide_MaxSize_spinBox",           "InSide_MustDetect_Intensity_spinBox", "BlobMinIntensity_spinBox",
    "BlobMaxIntensity_spinBox",         "Roundness_spinBox",            "Result_MinSize_spinBox",
    "Result_MaxSize_spinBox",           "DeCluster_tolerance_spinBox",  "Cluster_distance_spinBox",
    "Viability_CenterRange_spinBox",    "Viability_WholeRange_spinBox", "Viability_IntensityRatio_spinBox",
    "Live_MinIntensity_spinBox",
};
} // namespace

NewProtocolDlg::NewProtocolDlg(const QString &name, QWidget *parent)
    : ScriptableDialog(parent)
    , ui(new Ui::NewProtocolDlg)
{
    static_assert(std::size(kControls) == 22, "one control per protocol key");
    m_Protocol.Init();
    ui->setupUi(this);
    centreOnPrimaryScreen();
    setWindowFlags(Qt::FramelessWindowHint);
    ui->LIST_PROTOCOL->verticalScrollBar()->setStyleSheet("QScrollBar:vertical { width: 26px; }");
    const QString usable = ProtocolFile::isUsableName(name) ? name : ProtocolFile::defaultName;
    const std::string path = ProtocolFile::pathOf(usable);
    LoadProtocol(path);
    m_Protocol.path = path;
    m_Protocol.name = usable;
    DisplayProtocolList();
    ProtocolButtonState(false);
}

NewProtocolDlg::~NewProtocolDlg()
{
    delete ui;
}

QAbstractSpinBox *NewProtocolDlg::control(size_t i) const
{
    return findChild<QAbstractSpinBox *>(kControls[i]);
}

void NewProtocolDlg::LoadProtocol(const std::string &path)
{
    ProtocolFile::read(path, m_Protocol, ProtocolFile::Reader::Editor);
    const auto &keys = ProtocolFile::keys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const double value = keys[i].value(m_Protocol);
        if (auto *whole = qobject_cast<QSpinBox *>(control(i)))
            whole->setValue(int(value)); // a value out of range shows at the nearest bound
        else
            static_cast<QDoubleSpinBox *>(control(i))->setValue(value);
    }
}

void NewProtocolDlg::UpdateProtocol()
{
    const auto &keys = ProtocolFile::keys();
    for (size_t i = 0; i < keys.size(); ++i) {
        if (auto *whole = qobject_cast<QSpinBox *>(control(i)))
            keys[i].setValue(m_Protocol, whole->value());
        else
            keys[i].setValue(m_Protocol, static_cast<QDoubleSpinBox *>(control(i))->value());
    }
}

bool NewProtocolDlg::WriteProtocol(const std::string &path)
{
    UpdateProtocol();
    return ProtocolFile::write(path, m_Protocol);
}

void NewProtocolDlg::DisplayProtocolList()
{
    Support::fillList(ui->LIST_PROTOCOL, m_Protocol.name);
}

void NewProtocolDlg::ProtocolButtonState(bool edit)
{
    for (size_t i = 0; i < std::size(kControls); ++i)
        control(i)->setReadOnly(!edit);
}

void NewProtocolDlg::on_LIST_PROTOCOL_currentTextChanged(const QString &text)
{
    m_Protocol.name = text;
    m_Protocol.path = ProtocolFile::pathOf(text);
    LoadProtocol(m_Protocol.path);
    ProtocolButtonState(false);
}

void NewProtocolDlg::on_BUTTON_LOAD_clicked()
{
    if (!WriteProtocol(m_Protocol.path)) {
        Support::showMessage(Support::msgNotSaved);
        return;
    }
    Support::setCurrentProtocolName(m_Protocol.name);
    update();
    Support::showMessage(Support::msgLoaded);
    ProtocolButtonState(false);
}

void NewProtocolDlg::on_BUTTON_EDIT_clicked()
{
    if (m_Protocol.name == ProtocolFile::defaultName) {
        Support::showMessage(Support::msgDefaultRefused);
        return;
    }
    ProtocolButtonState(true);
}

void NewProtocolDlg::on_BUTTON_SAVE_AS_clicked()
{
    const auto write = [this](const std::string &path) { return WriteProtocol(path); };
    if (Support::saveCopy(ui->LIST_PROTOCOL->count(), m_Protocol.name, write))
        DisplayProtocolList();
}

void NewProtocolDlg::on_BUTTON_DELETE_clicked()
{
    if (Support::showMessage(Support::msgConfirmDelete, true) != 1)
        return;
    if (m_Protocol.name == ProtocolFile::defaultName) {
        Support::showMessage(Support::msgDefaultRefused);
        return;
    }
    if (!Support::removeProtocolFile(m_Protocol.path))
        return;
    m_Protocol.name = ProtocolFile::defaultName;
    m_Protocol.path = ProtocolFile::pathOf(ProtocolFile::defaultName);
    DisplayProtocolList();
    LoadProtocol(m_Protocol.path);
    update();
}

void NewProtocolDlg::on_BUTTON_CLOSE_clicked()
{
    close();
}
