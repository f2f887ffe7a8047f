#pragma once
#include "MainDeclusterCountInfo_NimboS.h"

#include <QThread>

class CellCount_alg;

// Runs one count of the own counter (CellCount_alg::CellCounting_NimboS and the tag step) off the
// GUI thread and reports the counts by NimboS_FinishCount. The caller keeps the buffers alive and
// leaves them alone until the signal arrives.
class CountThread : public QThread
{
    Q_OBJECT

public:
    explicit CountThread(QObject *parent = nullptr);
    ~CountThread() override;

    // Stores the counter's 28 arguments, in its order, and the tag step's numbers flag.
    void Init_NimboS_Counting(const unsigned char *grey, unsigned char *thresholdOut, unsigned char *tagOut,
                              int *labels, int width, int height, _MainDeclusterCountInfo_NimboS *records,
                              int outsideMinSize, int outsideMaxSize, int outsideThresholdOffset,
                              int outsideKernelSize, double outsideGain, int insideMinSize, int insideMaxSize,
                              int insideThresholdOffset, int mustDetectIntensity, int nrKernelSize,
                              int postMinIntensity, int postMaxIntensity, float roundness, int minCellSize,
                              int maxCellSize, double declusterTolerance, int clusterDistance, float intensityRatio,
                              float centerRange, float wholeRange, int liveMinIntensity, bool numbers);

signals:
    // The counter's result (blob count, or below 1 for none), then the counted, live and dead cells.
    void NimboS_FinishCount(int nOriginalTotalNum, int nFilteredTotalNum, int nLive_num, int nDead_num);

protected:
    void run() override;

private:
    CellCount_alg *m_Counter;
    bool m_Pending = false;
    int m_BlobCount = 0;

    const unsigned char *m_Grey = nullptr;
    unsigned char *m_ThresholdOut = nullptr;
    unsigned char *m_TagOut = nullptr;
    int *m_Labels = nullptr;
    int m_Width = 0, m_Height = 0;
    _MainDeclusterCountInfo_NimboS *m_Records = nullptr;
    int m_OutsideMinSize = 0, m_OutsideMaxSize = 0, m_OutsideThresholdOffset = 0, m_OutsideKernelSize = 0;
    double m_OutsideGain = 0.0; // kept whole: a gain of 4.5 stays 4.5
    int m_InsideMinSize = 0, m_InsideMaxSize = 0, m_InsideThresholdOffset = 0, m_MustDetectIntensity = 0;
    int m_NrKernelSize = 0, m_PostMinIntensity = 0, m_PostMaxIntensity = 0;
    float m_Roundness = 0.0f;
    int m_MinCellSize = 0, m_MaxCellSize = 0;
    double m_DeclusterTolerance = 0.0;
    int m_ClusterDistance = 0;
    float m_IntensityRatio = 0.0f, m_CenterRange = 0.0f, m_WholeRange = 0.0f;
    int m_LiveMinIntensity = 0;
    bool m_Numbers = false;
};
