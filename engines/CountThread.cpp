#include "CountThread.h"

#include "CellCount_alg.h"

CountThread::CountThread(QObject *parent) : QThread(parent), m_Counter(new CellCount_alg)
{
}

CountThread::~CountThread()
{
    delete m_Counter;
    m_Counter = nullptr;
}

void CountThread::Init_NimboS_Counting(const unsigned char *grey, unsigned char *thresholdOut, unsigned char *tagOut,
                                       int *labels, int width, int height, _MainDeclusterCountInfo_NimboS *records,
                                       int outsideMinSize, int outsideMaxSize, int outsideThresholdOffset,
                                       int outsideKernelSize, double outsideGain, int insideMinSize,
                                       int insideMaxSize, int insideThresholdOffset, int mustDetectIntensity,
                                       int nrKernelSize, int postMinIntensity, int postMaxIntensity, float roundness,
                                       int minCellSize, int maxCellSize, double declusterTolerance,
                                       int clusterDistance, float intensityRatio, float centerRange,
                                       float wholeRange, int liveMinIntensity, bool numbers)
{
    m_Grey = grey;
    m_ThresholdOut = thresholdOut;
    m_TagOut = tagOut;
    m_Labels = labels;
    m_Width = width;
    m_Height = height;
    m_Records = records;
    m_OutsideMinSize = outsideMinSize;
    m_OutsideMaxSize = outsideMaxSize;
    m_OutsideThresholdOffset = outsideThresholdOffset;
    m_OutsideKernelSize = outsideKernelSize;
    m_OutsideGain = outsideGain;
    m_InsideMinSize = insideMinSize;
    m_InsideMaxSize = insideMaxSize;
    m_InsideThresholdOffset = insideThresholdOffset;
    m_MustDetectIntensity = mustDetectIntensity;
    m_NrKernelSize = nrKernelSize;
    m_PostMinIntensity = postMinIntensity;
    m_PostMaxIntensity = postMaxIntensity;
    m_Roundness = roundness;
    m_MinCellSize = minCellSize;
    m_MaxCellSize = maxCellSize;
    m_DeclusterTolerance = declusterTolerance;
    m_ClusterDistance = clusterDistance;
    m_IntensityRatio = intensityRatio;
    m_CenterRange = centerRange;
    m_WholeRange = wholeRange;
    m_LiveMinIntensity = liveMinIntensity;
    m_Numbers = numbers;
    m_Pending = true;
}

void CountThread::run()
{
    if (!m_Pending)
        return;
    // The counter catches its own failures and reports them as a result below 1.
    m_BlobCount = m_Counter->CellCounting_NimboS(
        m_Grey, m_ThresholdOut, m_TagOut, m_Labels, m_Width, m_Height, m_Records, m_OutsideMinSize,
        m_OutsideMaxSize, m_OutsideThresholdOffset, m_OutsideKernelSize, m_OutsideGain, m_InsideMinSize,
        m_InsideMaxSize, m_InsideThresholdOffset, m_MustDetectIntensity, m_NrKernelSize, m_PostMinIntensity,
        m_PostMaxIntensity, m_Roundness, m_MinCellSize, m_MaxCellSize, m_DeclusterTolerance, m_ClusterDistance,
        m_IntensityRatio, m_CenterRange, m_WholeRange, m_LiveMinIntensity);
    int total = 0, live = 0, dead = 0;
    CellCount_alg::ProcessTag_Filtering_NimboS(m_TagOut, m_Records, m_Width, m_Height, m_BlobCount, &total, &live,
                                               &dead, m_Numbers);
    emit NimboS_FinishCount(m_BlobCount, total, live, dead);
    m_Pending = false;
}
