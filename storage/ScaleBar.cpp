#include "ScaleBar.h"

#include "DecimalText.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "Utilities.h"

#include <QAbstractButton>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

namespace {

std::string configFile()
{
    return Paths::configFile().toStdString();
}

std::string readKey(const char *section, const std::string &key, const char *def)
{
    std::string value;
    ReadPrivateProfileString(section, key, def, value, configFile());
    return value;
}

// The decimal number at the start of a text, as strtod reads it but independent of the process
// locale (a German locale must not turn "3.63" into 3); 0 when the text starts with no number.
double leadingNumber(const std::string &text)
{
    return DecimalText::leadingDouble(text);
}

int leadingInt(const std::string &text)
{
    return int(std::strtol(text.c_str(), nullptr, 10));
}

} // namespace

ScaleBar::ScaleBar(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<TSScaleBar>("TSScaleBar");
    m_CMOSPixelSize = float(leadingNumber(readKey("ScaleBar", "CMOSPixelSize", "3.63")));
    m_ReductionLensMagnification = float(leadingNumber(readKey("ScaleBar", "ReductionLensMagnification", "0.655")));
}

// The lens at a position: its magnification ("10X": the value without its last character),
// corrected for the maker's tube length and the camera adapter. "N/A", an empty position or a
// magnification that reads as 0 mean no objective: pixel size -1, never the previous lens's.
void ScaleBar::applyLens(int position)
{
    const float m = objectiveMagnification(position);
    const float size = m > 0 ? objectivePixelSize(QString(), m, m_ReductionLensMagnification, m_CMOSPixelSize) : 0.0f;
    if (size > 0) {
        m_ScaleBarInfo.noObjective = false;
        m_PixelSize = size;
    } else {
        m_ScaleBarInfo.noObjective = true;
        m_PixelSize = -1;
    }
}

float ScaleBar::objectiveMagnification(int position)
{
    const std::string key = QString::number(position).toStdString();
    const std::string value = position < 1 ? std::string() : readKey("Lens", key, "");
    if (value == "N/A" || value.empty())
        return 0.0f;
    const float m = float(leadingNumber(value.substr(0, value.size() - 1)));
    const QString maker = QString::fromStdString(readKey("LensType", key, "Quorva"));
    if (maker == "Olympus")
        return float(double(m) * (200.0 / 180.0));
    if (maker == "Zeiss")
        return float(double(m) * (200.0 / 165.0));
    return m;
}

void ScaleBar::readScaleBarKeys()
{
    const std::string file = configFile();
    m_ScaleBarInfo.color = colorTableEntry(ReadColorIndexSetting("ScaleBar", "ScaleBarColor", 0, file));
    m_ScaleBarInfo.lineWidth = 4;
    // 0 asks for the bar without its length text; a negative size or no number falls back to 10.
    const std::string fontText = readKey("ScaleBar", "ScaleBarFont", "10");
    char *rest = nullptr;
    const long font = std::strtol(fontText.c_str(), &rest, 10);
    m_ScaleBarInfo.fontSize = rest != fontText.c_str() && font >= 0 && font <= 1000 ? int(font) : 10;
    switch (leadingInt(readKey("ScaleBar", "ScaleBarSize", "0"))) {
    case 0:
        m_ScaleBarInfo.lengthUm = 10;
        break;
    case 1:
        m_ScaleBarInfo.lengthUm = 50;
        break;
    case 2:
        m_ScaleBarInfo.lengthUm = 100;
        break;
    default:
        break; // an unknown size keeps the length it had
    }
    m_ScaleBarInfo.corner = std::clamp(leadingInt(readKey("ScaleBar", "ScaleBarPosition", "2")), 0, 3);
    // Without a pixel size there is no length in pixels: the bar is marked as not drawable and
    // keeps its last (never negative) length.
    if (m_PixelSize > 0)
        m_ScaleBarInfo.lengthPixels = float(m_ScaleBarInfo.lengthUm) / m_PixelSize;
    else
        m_ScaleBarInfo.noObjective = true;
}

void ScaleBar::setCurrentObjectiveLensPosition(int nCurrentObjectiveLensPosition)
{
    if (nCurrentObjectiveLensPosition < 1)
        return;
    m_CurrentObjectiveLensPosition = nCurrentObjectiveLensPosition;
    applyLens(nCurrentObjectiveLensPosition);
    emit signalPixelSizeChanged(m_PixelSize);
}

void ScaleBar::slotShowScaleBar(bool flag)
{
    m_ScaleBarInfo.show = flag;
    readScaleBarKeys();
    emit signalShowScaleBar(m_ScaleBarInfo);
}

void ScaleBar::readSetting()
{
    if (m_bReadLensSetting)
        applyLens(m_CurrentObjectiveLensPosition);
    readScaleBarKeys();
    if (m_bReadLensSetting)
        emit signalPixelSizeChanged(m_PixelSize);
    emit signalShowScaleBar(m_ScaleBarInfo);
}

void ScaleBar::uncheckWithoutObjective(QAbstractButton *box, const TSScaleBar &scaleBar)
{
    if (!box->isChecked() || !scaleBar.noObjective)
        return;
    box->setChecked(false);
    MessageDlg message;
    message.setMsgType(MSG_NO_OBJECTIVE_LENS);
    message.exec();
}
