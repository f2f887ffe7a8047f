#pragma once
#include "TSMeasurementItem.h"
#include "TSScaleBar.h"
#include "TSingleState.h"

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <array>

class QPushButton;
class SingleModel;
class Ui_SingleWidget;

// The Single mode's control page: one live view, one capture, one measurement at a time with its
// histogram or line profile, a result table with CSV export, and saving of the image before or
// after annotation. Its model is SingleModel, its image area SingleImageWidget; requests to the
// instrument leave as signals. GUI thread only.
class SingleWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SingleWidget(QWidget *parent = nullptr);
    ~SingleWidget() override;

    TSingleState currentState() const { return m_nCurrentState; }
    // Stores the state, sets no tool and shows the state's controls.
    void setCurrentState(TSingleState state);
    // No tool, announced with measurementToolChanged(0).
    void resetMeasurementTool();
    void allocatingMemory();
    void deallocatingMemory();

    Ui_SingleWidget *form() const { return ui; }
    SingleModel *model() const { return m_pModel; }
    int currentMeasurementTool() const { return m_nCurrentTool; }
    bool isSaved() const { return m_bSaved; }
    const QPixmap &histogramPicture() const { return m_HistogramPixmap; }
    const QPixmap &lineProfilePicture() const { return m_LineProfilePixmap; }

public slots:
    // Nothing answers a capture request in this system, and the page follows neither the
    // pseudo-colour switch, the LED nor the live video.
    void captureCompleted(uchar *data, int bits);
    void setPseudoColor(bool on, int filterPosition, int filterColorIndex);
    void slotLEDState(bool on);
    void slotWaitForVideoWidgetIsStarted();
    void slotWaitForVideoWidgetIsStopped();

    void setCurrentFilterPosition(int nFilterPosition) { m_nCurrentFilterPosition = nFilterPosition; }
    // Kept while no image is captured: a captured image keeps the objective it was taken with.
    void setCurrentObjectiveLensPosition(int nObjectiveLensPosition);
    void slotCurrentPixelSize(float pixelsize) { m_fPixelSize = pixelsize; }
    // 8 or 16 bits: the axis ends of the histogram and the profile read 255 or 4095.
    void slotChangeCameraMode(int bits);
    void readSetting();
    void setMeasurementResult(TSMeasurementItem &_measurementResult);
    void setCurrentImagePositionAndIntensity(QPoint _pt, int _intensity);
    // The image view's rendering (before or after annotation) arrives: the save dialog runs.
    void slotSave(bool before, uchar *data);
    void slotScaleBarCheckBoxState(TSScaleBar scaleBar);

signals:
    void signalEnableMainMenu(bool enable);
    void signalEnableControlWidgetUI(bool enable);
    void changedState();
    void measurementToolChanged(int tool);
    void currentLineThicknessChanged(int thickness);
    void currentLineColorChanged(QColor color);
    void currentFontThicknessChanged(int pointSize);
    void currentFontColorChanged(QColor color);
    void capture();
    void lightOn();
    void saved(bool saved);
    void liveMode(bool on);
    void signalMakeAnnotationImageData(bool _before);
    // Declared for the main window's wiring; the page does not send them.
    void showMeasurementResult();
    void hideMeasurementResult();
    void showScaleBar(TSScaleBar scaleBar);
    void clearMeasurementDrawing();
    void imageCaptured(int pseudoColorIndex, uchar *data, bool bPseudoColor, int bits);
    void lightOff();
    void captured(bool captured);
    void signalShowScaleBar(bool show);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void on_BUTTON_LIVE_clicked();
    void on_BUTTON_CAPTURE_clicked();
    void on_BUTTON_SAVE_BEFORE_clicked();
    void on_BUTTON_SAVE_AFTER_clicked();
    void on_BUTTON_TOOL_LEFT_clicked();
    void on_BUTTON_TOOL_RIGHT_clicked();
    void on_BUTTON_MEASURE_LINE_clicked();
    void on_BUTTON_MEASURE_ANGLE_clicked();
    void on_BUTTON_MEASURE_POLYGON_clicked();
    void on_BUTTON_MEASURE_ELLIPSE_clicked();
    void on_BUTTON_MEASURE_RECT_clicked();
    void on_BUTTON_MEASURE_SEGMENT_clicked();
    void on_BUTTON_MEASURE_FREEHAND_clicked();
    void on_BUTTON_MEASURE_MULTIPOINT_clicked();
    void on_BUTTON_TEXT_ANNOTATION_clicked();
    void on_COMB_LENGTH_UNIT_currentIndexChanged(int index);
    void on_COMB_AREA_UNIT_currentIndexChanged(int index);
    void on_BUTTON_CSV_EXPORT_clicked();
    void on_BUTTON_TABLE_CLEAR_clicked();
    void on_CHKBOX_SCALEBAR_clicked();

private:
    void initialize();
    void changeState();
    void setMeasurementResultTableHeader();
    void setMeasurementResultTable();
    void setMeasurementControlEnabled(bool enabled);
    void setUIHistogramEnabled(bool enabled);
    void setUILineProfileEnabled(bool enabled);
    void clearMeasuredValues();
    // Every tool button unchecked; then the button's tool chosen (toggles: pressed again, no tool).
    void chooseTool(QPushButton *button, int tool, bool toggles, bool histogram, bool lineProfile);
    void setMeasurementToolButtonFalse();
    void showToolPage(int index);
    void drawHistogram(bool draw);
    void drawLineProfile(bool draw);
    int maxIntensity() const { return m_nBits == 16 ? 4095 : 255; }

    // A measured figure in the unit; not a number when it cannot be known (micrometres or
    // millimetres without an objective).
    float convertedLength(float pixels, int unit) const;
    float convertedArea(float pixels, int unit) const;
    // The label text of a converted figure: 3, 6 and 1 decimals for units 0, 1, 2, "N/A" for an
    // unknown or negative micrometre or millimetre figure; null for another unit.
    static QString figureText(float value, int unit);
    void showLength();
    void showArea();

    Ui_SingleWidget *ui = nullptr;
    SingleModel *m_pModel = nullptr;
    std::array<QString, 8> m_ToolName;
    int m_nCurrentTool = 0;
    TSMeasurementItem m_Measurement;
    TSingleState m_nCurrentState = SINGLE_IDLE;
    int m_nLineThickness = 1;
    QColor m_LineColor;
    int m_nLineColorIndex = 5;
    int m_nFontSize = 20;
    int m_nFontThickness = 5;
    QColor m_FontColor;
    int m_nFontColorIndex = 3;
    QColor m_HistogramBarColor;
    QColor m_LineProfileColor;
    QPixmap m_HistogramPixmap;
    QPixmap m_LineProfilePixmap;
    bool m_bCaptured = false;
    bool m_bSaved = false;
    std::array<int, 4> m_nFilterColor{7, 2, 0, 1};
    float m_fPixelSize = -1.0f;
    int m_nBits = 8;
    int m_nCurrentFilterPosition = 0;
    int m_nObjectiveLensPosition = 0;
    int m_nLengthUnit = 0;
    int m_nAreaUnit = 0;
};
