#pragma once
#include "FocusResult.h"
#include "TFineAFErrTable.h"

#include <QObject>
#include <QString>
#include <opencv2/core.hpp>

#include <memory>
#include <vector>

class ImMeasurer;

// The calculator of the fine autofocus: plans a symmetric scan around the current stage height
// with a step derived from the objective's depth of field, scores the frame taken at each height
// and picks the sharpest one. It moves nothing itself (FineAFSequence drives the stage and the
// camera), so the search can be fed frames from anywhere.
//
// Use: setFineAFParameter, canStart, then for each height from startPos() to endPos() in steps of
// step(): increaseCount and setFocusValueAtMotorPosition; finally GetAFMotorPosion2.
class FineAF : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFrameWidth = 1280;
    static constexpr int kFrameHeight = 1024;

    explicit FineAF(QObject *parent = nullptr);
    ~FineAF() override;

    // The inputs of the next plan: objective magnification text ("10X"), its name (kept only),
    // the stage position at the centre of the scan, numerical aperture and camera pixel size
    // (micrometres). Empties the focus curve.
    void setFineAFParameter(const QString &magnification, const QString &lensName, int centre, float na,
                            float pixelSize);
    // Plans the scan for range r (2r + 1 heights). FINEAF_ERR_DOF for optics without a usable
    // depth of field, a step of 0 or less, or fewer than 2 heights; otherwise FINEAF_NO_ERROR.
    // The camera bit depth does not enter the plan. Reads "Focus"/"DOF_Factor" (default 0.5).
    TFineAFErrTable canStart(int bits, int range);

    int interval() const { return m_interval; }
    int imageNumber() const { return m_imageNumber; }
    int count() const { return m_count; }
    void increaseCount() { ++m_count; }
    // The scan starts over with the same plan: no point scored, no height counted.
    void restartScan()
    {
        m_curve.clear();
        m_count = 0;
    }
    int startPos() const { return m_startPos; }
    int endPos() const { return m_endPos; }
    int curPos() const { return m_centrePos; }
    int step() const { return m_step; }
    int magnification() const { return m_magnification; }
    QString lensName() const { return m_lensName; }
    float depthOfField() const { return m_dof; }

    // Scores one 1280 x 1024 frame taken at motorPosition and appends the point to the curve.
    // A 16-bit frame (camera layout) is scored on its upper byte.
    void setFocusValueAtMotorPosition(unsigned char *frame, int bits, int motorPosition, bool cellCount);
    // The best point: the first of the highest scores, its 1-based index in scan order and its
    // score. False (outputs unchanged) with fewer than 2 points; false (outputs set) when every
    // point scored the same.
    bool GetAFMotorPosion2(int &position, int &index, double &value) const;
    bool GetAFMotorPosion(int &position) const;
    // As GetAFMotorPosion2, but the position lies between steps (bestPointBetweenSteps). The cell
    // count focuses this way, since its count must repeat.
    bool GetAFMotorPositionBetweenSteps(int &position, int &index, double &value) const;

    // The rules on any curve in scan order. bestPointBetweenSteps gives the index and score of the
    // best point, and as position the vertex of the parabola through it and its two neighbours,
    // held between them, so that the height found does not depend on where the scan started; a
    // best point at either end of the scan is taken as it is.
    static bool bestPoint(const std::vector<FocusResult> &curve, int &position, int &index, double &value);
    static bool bestPointBetweenSteps(const std::vector<FocusResult> &curve, int &position, int &index,
                                      double &value);
    const std::vector<FocusResult> &focusCurve() const { return m_curve; }

    // Diagnostics: scores as setFocusValueAtMotorPosition and also writes the frame as a TIFF into
    // "/media/VANTOR SSD/testTime/<folderNumber>"; deleteRawData empties "/media/VANTOR SSD/FineAF/"
    // (1 on success, -1 otherwise).
    void setFocusValueAtMotorPosition2(unsigned char *frame, int bits, int motorPosition, bool cellCount,
                                       int folderNumber);
    int deleteRawData();

private:
    // The 8-bit image the measurer scores: the frame itself, or the work image for 16 bits.
    unsigned char *eightBitFrame(unsigned char *frame, int bits);
    double score(unsigned char *frame, int bits, bool cellCount);

    int m_magnification = 0;
    QString m_lensName;
    int m_centrePos = 0;
    float m_na = 0.0f;
    float m_pixelSize = 0.0f;
    float m_dof = 0.0f;

    int m_startPos = 0;
    int m_endPos = 0;
    int m_interval = 0;
    int m_imageNumber = 0;
    int m_count = 0;
    int m_step = 0;

    std::vector<FocusResult> m_curve;
    std::unique_ptr<ImMeasurer> m_measurer;
    cv::Mat m_work8; // upper bytes of a 16-bit frame
};
