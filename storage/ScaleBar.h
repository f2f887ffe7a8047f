#pragma once
#include "TSScaleBar.h"

#include <QObject>

class QAbstractButton;

// Turns the objective in use into a pixel size (micrometres per camera pixel) and the [ScaleBar]
// settings of the configuration file into the TSScaleBar record the views draw from.
// Configuration: [ScaleBar] CMOSPixelSize and ReductionLensMagnification (read at construction),
// ScaleBarColor, ScaleBarFont, ScaleBarSize, ScaleBarPosition; [Lens] and [LensType] per turret
// position. GUI thread only.
class ScaleBar : public QObject
{
    Q_OBJECT
public:
    explicit ScaleBar(QObject *parent = nullptr);

    // Re-reads the lens of the current position (unless m_bReadLensSetting is false) and the
    // scale-bar keys, then emits signalPixelSizeChanged (only when the lens was read) and
    // signalShowScaleBar.
    void readSetting();

    // Read and set directly by the main window, the save dialog and the savers.
    TSScaleBar m_ScaleBarInfo;
    float m_CMOSPixelSize = 3.63f;
    float m_ReductionLensMagnification = 0.655f;
    float m_PixelSize = 0;                   // -1 when no objective; 0 until a position arrives
    int m_CurrentObjectiveLensPosition = 0;  // turret position, 1 and up
    bool m_bReadLensSetting = true;

    // The magnification of the objective at a turret position ("10X" gives 10), corrected for
    // the maker's tube length ([LensType] "Olympus" 200/180, "Zeiss" 200/165); 0 for none.
    static float objectiveMagnification(int position);
    // A page's scale-bar box cannot stay ticked for a bar without an objective: it is unticked and
    // the user told why (message 34).
    static void uncheckWithoutObjective(QAbstractButton *box, const TSScaleBar &scaleBar);

public slots:
    // Pixel size of the objective at a turret position (1 and up; lower values are ignored).
    void setCurrentObjectiveLensPosition(int nCurrentObjectiveLensPosition);
    // Sets show, re-reads the scale-bar keys and sends the record.
    void slotShowScaleBar(bool flag);

signals:
    void signalPixelSizeChanged(float pixelsize);
    void signalShowScaleBar(TSScaleBar scaleBar);

private:
    void applyLens(int position);
    void readScaleBarKeys();
};
