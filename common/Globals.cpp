#include "Globals.h"

#include <algorithm>

TCurrentMenu g_CurrentMenu = MENU_MULTICOLOR;
TExecMode g_ExecMode = EXEC_NORMAL;
TCapturedImageMetaData g_CapturedImageMetaData;

const float g_ConvertToStep = 51.2f;

const QVector<QColor> g_ColorTable = {
    QColor(255, 0, 0),   QColor(0, 255, 0),     QColor(0, 0, 255),       QColor(255, 255, 0),
    QColor(0, 255, 255), QColor(0, 0, 0),       QColor(255, 255, 255),   QColor(160, 160, 164),
};
const QStringList g_ColorNameList = {"R", "G", "B", "Y", "CY", "BK", "WH", "GR"};

QVector<QRgb> g_PseudoColorTable[kColorTableSize];

static const QString kFontFamily = QStringLiteral("DejaVu Sans");
QFont m_Font7(kFontFamily, 7);
QFont m_Font8(kFontFamily, 8);
QFont m_Font9(kFontFamily, 9);
QFont m_Font10(kFontFamily, 10);
QFont m_Font12(kFontFamily, 12);
QFont m_Font15(kFontFamily, 15);
QFont m_Font20(kFontFamily, 20);
QFont m_Font25(kFontFamily, 25);
QFont m_Font12_BOLD(kFontFamily, 12, QFont::Bold);

const QStringList g_FontSizeList = {"5",  "6",  "7",  "8",  "9",  "10", "11", "12",
                                    "14", "16", "18", "20", "22", "24", "26", "28",
                                    "32", "36", "40", "44", "48", "54", "60"};
const QStringList g_LineWidthList = {"1", "2", "3", "4", "5", "6", "7", "8"};

QString g_PreviouslySavedPath;
bool g_bSaveAsFolder = false;
bool g_bSaveWithMonochromeOrPseudoColor[2] = {true, false};
int g_TimeoutCount = 0;

int clampColorIndex(int index)
{
    return std::clamp(index, 0, kColorTableSize - 1);
}

QColor colorTableEntry(int index)
{
    return g_ColorTable.at(clampColorIndex(index));
}
