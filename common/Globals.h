#pragma once
#include "TAnnotationTextInfo.h"
#include "TCapturedImageMetaData.h"
#include "ThumbnailInfo.h"

#include <QColor>
#include <QFont>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <QVector>

// Process-wide state shared by every page, panel and thread of the application.

// The screen shown now.
enum TCurrentMenu : int {
    MENU_MULTICOLOR = 0,
    MENU_ZSTACK = 1,
    MENU_TIMELAPSE = 2,
    MENU_CELLCOUNT = 3,
    MENU_GROWTH_MONITOR = 4,
    MENU_FILE_MANAGER = 5,
    MENU_SERIAL_FAILURE = 6, // start screen after a serial-link failure; never stored in g_CurrentMenu
    MENU_POWER = 7,          // power-off question
    MENU_SETTING = 8,        // settings dialog open
    MENU_FINE_AF = 9,        // fine autofocus running
};

// The start mode, chosen by the command-line argument.
enum TExecMode : int {
    EXEC_NORMAL = 0,
    EXEC_SERIAL_LOG = 1,
    EXEC_QC_TEST = 2, // serial logging is on as well
};

extern TCurrentMenu g_CurrentMenu;
// Set once by the main window before any thread starts; read through isQCTestMode/isEnableSerialLog.
extern TExecMode g_ExecMode;

// Metadata of the current acquisition, written into every saved image. The GUI thread updates it
// while saving tasks read it: other threads read it through capturedImageMetaData() (a copy taken
// under capturedImageMetaDataLock()), and the GUI thread writes under that lock too.
extern TCapturedImageMetaData g_CapturedImageMetaData;

extern const float g_ConvertToStep; // focus-motor steps per micrometre

// The eight annotation and display colours: red, green, blue, yellow, cyan, black, white, gray.
// Colour settings in the configuration file are indexes into it (see clampColorIndex).
constexpr int kColorTableSize = 8;
extern const QVector<QColor> g_ColorTable;
// Short texts of the colour combo boxes, in table order: R, G, B, Y, CY, BK, WH, GR.
extern const QStringList g_ColorNameList;

// Pseudo-colour ramps (256 opaque ARGB entries each after initializePseudoColorTable), in the
// index order of g_ColorTable.
extern QVector<QRgb> g_PseudoColorTable[kColorTableSize];

// Shared UI fonts, "DejaVu Sans".
extern QFont m_Font7, m_Font8, m_Font9, m_Font10, m_Font12, m_Font15, m_Font20, m_Font25;
extern QFont m_Font12_BOLD;

extern const QStringList g_FontSizeList;  // entries of every font-size combo box
extern const QStringList g_LineWidthList; // entries of every line-width combo box

extern QString g_PreviouslySavedPath;          // folder of the last successful save
extern bool g_bSaveAsFolder;                   // the save dialog's save-as-folder choice
extern bool g_bSaveWithMonochromeOrPseudoColor[2]; // monochrome, pseudo-colour
extern int g_TimeoutCount;                     // serial-link reply time-outs since start

// An index into g_ColorTable from anywhere (the configuration file, a combo box): out-of-range
// values are brought to the nearest end of the table.
int clampColorIndex(int index);
// The table colour of an index, clamped.
QColor colorTableEntry(int index);
