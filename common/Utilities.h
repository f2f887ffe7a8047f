#pragma once
#include "AlphanumLess.h"
#include "Globals.h"

#include <QColor>
#include <QEventLoop>
#include <QString>
#include <QVector>
#include <functional>
#include <string>

class QComboBox;

// Work folders. createTemporaryPath makes one missing folder whose parent exists (one level
// only); deleteTemporaryPath empties a folder that directly holds at least one (non-hidden) file
// by removing it and making it again. Both report nothing.
void createTemporaryPath(QString path);
void deleteTemporaryPath(QString path);

// Waits ms milliseconds of wall-clock (monotonic) time without pumping events; 0 or less returns
// at once.
void delay(int ms);

// Processes the pending events of the GUI thread once, but only when given no flag (all events);
// any flag, such as ExcludeUserInputEvents, makes it return at once.
void qProcessEvents(QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

bool isQCTestMode();      // start mode 2
bool isEnableSerialLog(); // start mode 1 or 2

// A focus position in motor steps as whole micrometres (rounded).
int convertPOStoUM(int position);

// The ImageDescription text of a TIFF file, opened as every TIFF is (TiffFile: a regular file
// only, never waiting, its directory bounded): 1 when read, else 0 with text empty, as for a
// damaged file.
int getImageMetaInfo(const std::string &file, QString &text);

// The value of one "Key: value" (or "Key = value") item of a metadata text whose items are
// separated by ";". True when a non-empty value was found.
bool getMetaInfoValue(const QString &meta, QString key, QString &value);

// The index of the list entry nearest to colour in hue, saturation and value (hue weighs most);
// 0 for an empty list.
int GetNearestColorLabelIndex(const QColor &color, const QVector<QColor> &list);

// Reads a colour setting (an index into g_ColorTable) from an INI file, clamped to the table;
// text that is not a number gives defaultIndex.
int ReadColorIndexSetting(const std::string &section, const std::string &key, int defaultIndex,
                          const std::string &file);

// Waits until the kernel holds no unwritten file data (Dirty and Writeback of the memory report of
// SystemActions are 0), syncing through SystemActions between looks; gives up after timeoutMs and
// returns false. meminfo replaces that report (an empty text ends the wait).
bool clearDirtyMemory(int timeoutMs = 5000, const std::function<QByteArray()> &meminfo = {});

// The first line of "ffmpeg -version" of the instrument's video encoder
// "/root/Microscope/FFmpeg/ffmpeg"; empty when the program is missing or gives no output.
QString getFFmpegVersion();

// A dotted firmware version as a comparable number: 2.3.1 gives 2.31, 1.10.2 gives 1.102, 2.6
// gives 2.6; 0.0 for an empty text or one that is not a number.
float firmwareVer(QString version);

// Fills g_PseudoColorTable with its eight 256-entry ramps (again from scratch when called twice).
void initializePseudoColorTable();

// Adds the eight g_ColorTable colours to a colour combo box: their short names with 40 x 40 swatches.
void addColorTableItems(QComboBox *combo);

// Micrometres per camera pixel behind an objective: the magnification, corrected for the maker's
// tube length ("Olympus" 200/180, "Zeiss" 200/165, others 1) and the camera adapter's
// magnification; 0 when the corrected magnification is not positive.
float objectivePixelSize(const QString &maker, float magnification, float adapterMagnification, float cmosPixelSize);
