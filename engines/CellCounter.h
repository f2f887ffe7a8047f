#pragma once
// The second counting engine: one object holds a frame set of one working mode, the size
// calibration and tag colours, the objects and histograms of the last count, and the focus values.
//
// The object finders describe the same members in their own words; the mapping, once:
//   images:   workingImage m_Image, thresholdImage m_Mask, frameImage m_GrayInput,
//             displayImage m_Work7, tagImage m_TagImage, colorImage m_ColorInput,
//             colorInputImage m_ColorSource, smallResultImage m_Display640,
//             largeResultImage m_Display1280;
//   channels: channel1-3Image m_Channel1-3, channel4Image m_Corrected,
//             channel5Image m_Corrected1, channel6Image m_FlatField,
//             shiftedChannel2/3Image m_Shifted2/3, channel1-3ThresholdImage m_Mask1-3,
//             overlayMaskImage m_OverlayMask, shiftedChannel3ThresholdImage m_ShiftedMask3,
//             referenceShiftMask m_Work1, movingShiftMask m_Work2;
//   values:   umPerPixel m_MicronsPerPixel, sizeSlope m_SizeGain, sizeOffset m_SizeOffset,
//             circleThickness m_CircleThickness, live/dead/thirdTagColor m_Live/Dead/ThirdColor,
//             foundCells m_FoundCells, foundNegativeControl m_NegativeControl, foundGFP m_FoundGFP,
//             live/dead/clusterHistogram m_Live/Dead/ClusterHistogram,
//             negativeControlHistogram m_NegativeControlHistogram, gfpHistogram m_GFPHistogram,
//             focusValues m_FocusValues, channel2/3ShiftX/Y m_ShiftX2/Y2/X3/Y3,
//             shiftMatrix m_ShiftMatrix, imageHeight/Width m_Height/m_Width, mode m_Mode;
//   TObj:     radius fRadius, size fSize, score nRoundness, greenIntensity fGreen,
//             redIntensity fRed, x nX, y nY, logGreenIntensity nGreenClass.
//
// Images keep blue-green-red byte order (mode 3 keeps red-green-blue tag colours). No operation
// throws: a refused or failed operation writes nothing and returns its failure value (a null
// picture, -1.0 for the timed ones, -1 for counts).
#include <opencv2/core.hpp>

#include <string>
#include <utility>
#include <vector>

namespace Quorvan {

// Window of the dark-edge focus measure.
enum FOCUS_WINDOW_SIZE : int { FOCUS_WINDOW_320X240 = 0, FOCUS_WINDOW_640X480 = 1 };
// Criterion of find_focus_value.
enum FOCUS_VALUE_CRITERIA : int { FOCUS_VALUE_DARK_EDGE = 0 };

// One object found by the engine.
struct TObj
{
    float fRadius = 0;    // radius of the object's circle, pixels
    float fSize = 0;      // calibrated diameter, micrometres
    int nRoundness = 0;   // roundness score in percent
    float fGreen = 0;     // cell counts: 1.0 marks a live cell; fluorescence: the green value
    float fRed = 0;       // cell counts: 1.0 marks a dead cell; fluorescence: the red value or -1.0
    int nX = 0;           // centre column
    int nY = 0;           // centre row
    int nGreenClass = 0;  // round(10 x log10(fGreen)): class 0-70 of the fluorescence histograms
};
static_assert(sizeof(TObj) == 32, "TObj is eight 4-byte words");

class CellCounter
{
public:
    static constexpr int SizeClasses = 91;       // live and dead size histograms, 0-90 micrometres
    static constexpr int ClusterClasses = 9;     // objects by cell number, 8 meaning 8 or more
    static constexpr int FluorescenceClasses = 71;

    // Mode 0, 1944 x 2592, 0.000495 mL, 0.99290782 micrometres per pixel.
    CellCounter();
    // Micrometres per pixel = pixelSize / magnification; 0 when either is not a positive number.
    CellCounter(int mode, int height, int width, float volume, float magnification, float pixelSize);
    virtual ~CellCounter();
    CellCounter(const CellCounter &) = delete;
    CellCounter &operator=(const CellCounter &) = delete;

    // Calibration, tag colours and image access.
    void setSizeCalibration(float gain, float offset);
    void setCircleThickness(int thickness);
    // which: 1 dead, 2 live, 3 third colour; a, b, c as red, green, blue.
    void setTagColor(int which, unsigned char a, unsigned char b, unsigned char c);
    // Bytes of a 3-channel picture: 0 640 x 480, 1 1280 x 960, 2 2592 x 1944, else 0.
    static int getImageSize(int which);
    // The image that holds index in this mode; m_Image for any index the mode does not map.
    cv::Mat &getImage(int index);

    // Frames in and pictures out. The returned pixels belong to the engine and stay valid until
    // the next call of one of these or of a finder.
    void setImageData(unsigned char *data, int index, bool flip);
    unsigned char *getImageData(int imageId, bool flip, int outputSize);
    // The frame with the drawn circles (blue, green, red) itself, without the copy image 11 makes.
    const cv::Mat &tagImage() const { return m_TagImage; }
    // The tagged image of the next finder runs drawn straight into target, an unpadded
    // height x width x 3 array the caller keeps alive until it calls this again; null gives the
    // engine back its own image (as the last run before the target left it).
    void setTagImageTarget(unsigned char *target);
    unsigned char *getTaggedImageAfterSizeGating(bool drawTags, int minSize, int maxSize, int outputSize,
                                                 bool showChannel1, bool showChannel2, bool showChannel3);
    unsigned char *getOverlayImageData(bool drawTags, int outputSize, bool showChannel1, bool showChannel2,
                                       bool showChannel3, bool flip, bool useShiftedChannel2,
                                       bool useShiftedChannel3, int brightness1, int brightness2, int brightness3);

    // Shading correction and thresholds.
    // level 0 finds the level by iterative intermeans; the mask is median-filtered.
    void autoThreshold(int index, int level);
    void _autoThreshold(int index, cv::Mat &mask, int level);
    // Flat-field correction of image which against m_FlatField.
    void correctShading(int which);
    // Background-blend correction of image index into m_Corrected.
    void correctShading(int index, int ksize, double sigmaX, double sigmaY);
    // Moves channel 2 or 3 by dx columns and dy rows.
    void setPixelShiftOffset(int channel, int dx, int dy);
    // Mean and deviation of the first byte of a 3-byte-per-pixel buffer.
    void getAvgStdDev(unsigned char *data, float &mean, float &deviation, int width, int height);
    // Measures image index and keeps nothing.
    void setBlackBalance(int index, float value);

    // Results.
    // Cells per mL as mantissa x 10^exponent.
    void getConcentration(int count, float factor, float &mantissa, int &exponent);
    void getViability(int live, int dead, float &viability);
    float getAvgCellSize(int min, int max);
    // 0 live sizes, 1 dead sizes, 2 clusters; null otherwise.
    int *getHistogram(int which);
    int getFoundCells();
    std::vector<TObj> getFoundCellInformation();
    void getFoundCellInformation(TObj *out);
    int getFoundNegativeControl();
    std::vector<TObj> getFoundNegativeControlInformation();
    void getFoundNegativeControlInformation(TObj *out);
    int getFoundGFP();
    std::vector<TObj> getFoundGFPInformation();
    void getFoundGFPInformation(TObj *out);
    // Descending orders of (key, point) pairs.
    static bool compare_func1(std::pair<int, cv::Point> a, std::pair<unsigned char, cv::Point> b);
    static bool compare_func2(std::pair<float, cv::Point> a, std::pair<float, cv::Point> b);
    // Half away from zero, saturated to the int range (NaN gives 0).
    static int round(float x);

    // Seeds of one object's normalised distance map (single-channel 32-bit float): the points
    // whose value lies less than peakTolerance below the map's maximum, strongest first (equal
    // values row-major), none sharing the half-open window [x - windowRadius, x + windowRadius)
    // x [y - windowRadius, y + windowRadius) of a point kept before it. Empty for any other map.
    std::vector<std::pair<float, cv::Point>> getDistanceMap(cv::Mat distanceImage, float peakTolerance,
                                                            int windowRadius);
    // Bright local maxima of a single-channel image, which is smoothed in place (3 x 3 Gaussian):
    // none when its maximum is below minPeak; candidates within peakTolerance of it after min-max
    // normalisation, strongest first (equal keys row-major), window-suppressed as above; kept where
    // the mean of (smoothed AND mask) over [x - meanHalfSize, x + meanHalfSize) squared, clipped to
    // the image, is at least minMeanIntensity. Every value is 255.0. Empty, image untouched, for a
    // multi-channel image, a mask of another size or type, or a negative meanHalfSize.
    std::vector<std::pair<float, cv::Point>> getVorelLocalMaxima(cv::Mat image, cv::Mat mask, int minPeak,
                                                                 float peakTolerance, int windowRadius,
                                                                 float minMeanIntensity, int meanHalfSize,
                                                                 cv::Point reservedPoint);
    // One decimal where 10 x x > 999, else x.
    static float round3(float x);

    // Brightfield object finders. They threshold the grey frame at 95, take the dark outer
    // contours, and record each object as cells: split at its holes, its bright centres (grey
    // above brightThreshold inside the convex hull) or, when large (enclosing radius at least
    // clusterFactor x the frame's mean radius) and distanceSplit is set, at its distance-map seeds
    // (dead); kept whole otherwise, live by concave area (small objects) or by the centre circle
    // (centreRadiusFactor x radius) being brighter than liveIntensityRatio x the object's mean.
    // Objects whose mean grey exceeds maxMeanIntensity are dropped. The records then pass the
    // tally (isTallied) into counts, the live and dead size histograms and tag circles; avgSize is
    // the mean size counted, meanObjectIntensity the summed object means per record (0 for none).
    // They return the seconds taken, or -1.0, leaving the four outputs as they were, when the
    // frame holds no object, the mode lacks the images, the scale is not above 0 or the image
    // library fails. reserved and reserved2 are not read.
    double findObjects4(int minSize, int maxSize, int minRoundness, float clusterFactor, int maxMeanIntensity,
                        int brightThreshold, float concaveAreaLimit, float peakTolerance, int reserved,
                        float centreRadiusFactor, float liveIntensityRatio, int &liveCount, int &deadCount,
                        float &avgSize, float &meanObjectIntensity, bool distanceSplit, bool mergeStates,
                        int reserved2);
    // findObjects4 with the tag circles over the colour frame (channel 19) in modes 3 and 4.
    double findObjects3(int minSize, int maxSize, int minRoundness, float clusterFactor, int maxMeanIntensity,
                        int brightThreshold, float concaveAreaLimit, float peakTolerance, int reserved,
                        float centreRadiusFactor, float liveIntensityRatio, int &liveCount, int &deadCount,
                        float &avgSize, float &meanObjectIntensity, bool distanceSplit, bool mergeStates,
                        int reserved2);
    // findObjects3 without the centre circle: what it would test is dead. useChannel4 counts
    // channel 4 (modes 0, 3, 4) instead of the working image.
    double findObjects2(int minSize, int maxSize, int minRoundness, float clusterFactor, int maxMeanIntensity,
                        int brightThreshold, float concaveAreaLimit, float peakTolerance, int reserved,
                        int &liveCount, int &deadCount, float &avgSize, float &meanObjectIntensity,
                        bool distanceSplit, bool mergeStates, bool useChannel4, int reserved2);
    // The tally's choice: a record counts when its size, rounded half to even, lies in
    // [minSize, maxSize], its score is -1 or at least minRoundness, and it is marked (live or
    // dead) or the states are merged.
    static bool isTallied(const TObj &record, int minSize, int maxSize, int minRoundness, bool mergeStates);

    // Three-channel work (modes 1 and 2: channel 1 transmitted light, 2 green stain, 3 red stain,
    // 5 the shading-corrected channel 1). Outside those modes the operations refuse at once and
    // change nothing: the finders return -1.0, the red intensity gives -1.0 and 0.

    // Channel-2 mask (level2) united with the channel-3 mask (level3) moved by (dx, dy); 0 picks a
    // level from the image. The third and fourth arguments are not read.
    void makeOverlayMaskImageData(int level2, int level3, int, int, int dx, int dy);
    // Evaluates the GFP list and histogram at class minClass: the objects at or above it are
    // circled on a black tag image and averaged; efficiency = positive / total x 100 (0 for none).
    double findGFPTransfectionEfficiency(int minClass, int &total, int &positive, float &efficiency,
                                         float &avgSize, float &avgGreen);
    // The class just above the top run of three occupied classes of a 71-class histogram; 0 for none.
    int findControlIntensity(int *histogram);
    // Two-colour count: objects of the overlay mask classed green or red by their mean channel-2
    // and shifted channel-3 values, sized on the channel-5 mask; channel-5 objects outside the
    // overlay are unstained. Clumps split at distance-map seeds unless noDistanceSplit is set.
    double findObjects(int minSize, int maxSize, int minRoundness, int maxMeanIntensity, float clusterFactor,
                       float peakTolerance, int windowRadius, int &greenCount, int &redCount, int &unstainedCount,
                       float &avgSize, bool reservedFlag, int noDistanceSplit);
    // Fluorescence sample: cells of the channel-5 mask measured by their summed channel-2 value,
    // filed by sampleType (0 negative control, 1 GFP, other: nowhere) with a 71-class histogram
    // of 10 x log10(sum + 1), copied to histogramOut (71 ints) when not null.
    double findObjects(int sampleType, int minSize, int maxSize, int minRoundness, int maxMeanIntensity,
                       float clusterFactor, float peakTolerance, int reserved, float &avgRadius, int *histogramOut,
                       float &avgIntensity, int noDistanceSplit);
    // Live/dead two-colour count: green-dominant objects above greenThreshold are live, the others
    // above redThreshold dead; writes the object list file kObjectListFile when asked.
    double findObjects(int minSize, int maxSize, float clusterFactor, int greenThreshold, int redThreshold,
                       float peakTolerance, int reserved, int &liveCount, int &deadCount, float &avgSize,
                       float &avgGreen, float &avgRed, float &avgLiveGreen, float &avgDeadRed, bool writeObjectList,
                       int noDistanceSplit);
    // The two-colour tally's class of a record: 0 not counted, 1 red (dead), 2 green (live),
    // 3 unstained (both values -1.0). Thresholds as for the live/dead count; pass -infinity for none.
    static int twoColourClass(const TObj &record, int minSize, int maxSize, float greenThreshold,
                              float redThreshold);
    // Quick count of the bright channel-2 objects of 3 to 60 micrometres; keeps no objects.
    double findObjects(int &count);
    // Mean summed shifted channel-3 value per cell of the channel-5 mask; avgRedIntensity is added
    // to on entry (see the definition).
    void getAvgRedIntensity(int dx, int dy, float &avgRedIntensity, int &objectCount);
    // Modes 3 and 4: marks the first object whose box holds (x, y) with state (0 none, 1 dead,
    // 2 live) or adds one there, then recounts and redraws the tag image over image channel.
    void setCellState(int channel, int x, int y, int state, int radius, int minSize, int maxSize, int score,
                      int &liveCount, int &deadCount, float &avgSize, bool mergeStates);
    // Replace the GFP list and its 71-class histogram; a null pointer refuses the call.
    void setFoundGFPInformation(TObj *objects, int count, int *histogram);
    void setFoundGFPInformation(std::vector<TObj> objects, int *histogram);
    // The offset that carries movingChannel onto referenceChannel, from at least 10 paired object
    // centres; dx and dy are left as they were when it cannot be estimated.
    void getPixelShiftOffset(int referenceChannel, int referenceLevel, int movingChannel, int movingLevel, int &dx,
                             int &dy);
    // The object list file of the live/dead count, one file name in the current folder.
    static constexpr const char *kObjectListFile = "\\Hard Disk\\obj_info.csv";

    // Focus values, image statistics, line profiles.
    void init_focus_value_vec();
    std::vector<double> get_focus_value_vec();
    void get_best_focus_index_with_value(int &index, double &value);
    // Per-channel means and deviations of image index as red, green, blue (grey: 0, 0, value).
    void avg(int index, float &first, float &second, float &third);
    void std(int index, float &first, float &second, float &third);
    // direction 0 middle row, 1 every pixel, 2 middle column, 3 none.
    std::vector<int> getLineIntensity(cv::Mat &image, int direction, int channel);
    void drawLineIntensity(std::string &name, cv::Mat &image, int direction, int channel);

    // Focus measures over 3-byte-per-pixel frames (plane 1 unless said otherwise). The timed
    // ones return seconds, or -1.0 when refused.
    double find_best_focus(int method, unsigned char *data, cv::Size imageSize, cv::Size windowSize,
                           double &focusValue);
    void find_best_focus_hist_distance(unsigned char *data, cv::Size imageSize, cv::Size windowSize,
                                       double &focusValue);
    void find_focus_variance(unsigned char *data, cv::Size imageSize, cv::Size windowSize, double &focusValue);
    // Pixels at levels 5 to 35 in the window; colorMode 1 plane 1, 3 luminance; -1 when refused.
    int find_fv_quorvan_dark_edge(cv::Mat &image, int colorMode, FOCUS_WINDOW_SIZE windowSize);
    double find_focus_value(unsigned char *data, int width, int height, double &focusValue,
                            FOCUS_VALUE_CRITERIA criteria, int colorMode, FOCUS_WINDOW_SIZE windowSize);

protected:
    void init();

    // Per-object steps of the object finders, in image coordinates unless said otherwise.
    using Contour = std::vector<cv::Point>;
    // The upright box of an object's area rectangle clipped to the image (an origin outside is
    // moved in, keeping the size, then the far side cut); empty when nothing is left.
    cv::Rect objectBox(const cv::RotatedRect &area) const;
    // Box-sized 0/255 mask of the contour filled, holes included; it costs the contour's own size.
    static cv::Mat objectMask(const Contour &contour, const cv::Rect &box);
    // objectMask with a disc of 0 over the enclosing circle of each hole of contour index.
    static cv::Mat holeClearedMask(const cv::Mat &objectMask, const std::vector<Contour> &contours,
                                   const std::vector<cv::Vec4i> &hierarchy, int index, const cv::Rect &box);
    // Seeds of a box-sized object mask: its distance map normalised to 0-255, by getDistanceMap.
    std::vector<std::pair<float, cv::Point>> objectSeeds(const cv::Mat &objectMask, float peakTolerance,
                                                         int windowRadius);
    // Calibrated size in micrometres of each of cells cells of an object of enclosing radius.
    float cellSize(float radius, int cells) const;

    std::vector<double> m_FocusValues;
    int m_Mode = 0;
    int m_Height = 0;
    int m_Width = 0;
    float m_Volume = 0;
    float m_MicronsPerPixel = 0;
    cv::Mat m_ShiftMatrix;
    int m_ShiftX2 = 0, m_ShiftY2 = 0;
    int m_ShiftX3 = 0, m_ShiftY3 = 0;
    int m_CircleThickness = 1;
    cv::Scalar m_LiveColor;
    cv::Scalar m_DeadColor;
    cv::Scalar m_ThirdColor;
    float m_SizeGain = 0;
    float m_SizeOffset = 0;
    std::vector<TObj> m_FoundCells;
    std::vector<int> m_LineProfile;
    std::vector<TObj> m_NegativeControl;
    std::vector<TObj> m_FoundGFP;
    int m_GFPHistogram[FluorescenceClasses] = {};
    int m_NegativeControlHistogram[FluorescenceClasses] = {};
    int m_LiveHistogram[SizeClasses] = {};
    int m_DeadHistogram[SizeClasses] = {};
    int m_ClusterHistogram[ClusterClasses] = {};

    cv::Mat m_ColorSource;   // index 19: the whole 3-channel frame (modes 3, 4)
    cv::Mat m_Image;         // index 0: the counting image
    cv::Mat m_Channel1;      // index 1 (modes 1, 2)
    cv::Mat m_Channel2;      // index 2
    cv::Mat m_Channel3;      // index 3
    cv::Mat m_FlatField;     // index 6: shading reference
    cv::Mat m_Corrected;     // index 4: shading-corrected counting image
    cv::Mat m_Corrected1;    // index 5: shading-corrected channel 1
    cv::Mat m_Work1;
    cv::Mat m_Work2;
    cv::Mat m_Shifted2;      // channel 2 moved by its pixel shift
    cv::Mat m_Shifted3;      // channel 3 moved by its pixel shift
    cv::Mat m_Work3;
    cv::Mat m_ShiftedMask3;  // channel-3 mask moved by the overlay shift
    cv::Mat m_Mask;          // 0/255 mask of image 0 or 4
    cv::Mat m_Mask1;         // mask of image 1 or 5
    cv::Mat m_Mask2;         // mask of image 2
    cv::Mat m_Mask3;         // mask of image 3
    cv::Mat m_OverlayMask;   // channel-2 mask plus shifted channel-3 mask
    cv::Mat m_Work4;
    cv::Mat m_ColorInput;    // the 3-channel frame as handed over; full-size result picture
    cv::Mat m_Display640;    // 640 x 480 result picture
    cv::Mat m_Display1280;   // 1280 x 960 result picture
    cv::Mat m_TagImage;      // the frame with the drawn circles
    cv::Mat m_OwnTagImage;   // the engine's own while m_TagImage is a caller's target
    bool m_bTagTarget = false;
    cv::Mat m_Work5;
    cv::Mat m_Work6;
    cv::Mat m_GrayInput;     // the 8-bit frame as handed over (mode 5)
    cv::Mat m_Work7;         // mode 5's result picture

private:
    // The three brightfield finders' values and their differences.
    struct FinderSettings
    {
        int minSize, maxSize, minRoundness;
        float clusterFactor;
        int maxMeanIntensity, brightThreshold;
        float concaveAreaLimit, peakTolerance;
        float centreRadiusFactor, liveIntensityRatio;
        bool distanceSplit, mergeStates;
        bool colourTag;   // modes 3 and 4: the circles go over the colour frame
        bool useChannel4; // the grey levels and threshold come from channel 4
        bool circleTest;  // false: what the centre circle would decide is dead
    };
    double findBrightfieldObjects(const FinderSettings &settings, int &liveCount, int &deadCount, float &avgSize,
                                  float &meanObjectIntensity);
    // Records one object (steps after its mean) into m_FoundCells and m_ClusterHistogram.
    void recordObject(const FinderSettings &settings, const std::vector<Contour> &contours,
                      const std::vector<cv::Vec4i> &hierarchy, int index, const cv::Mat &grey, float meanRadius,
                      float &intensitySum);

    // The three-channel finders' shared steps.
    struct TwoColourSettings
    {
        float clusterFactor, peakTolerance;
        bool split;
        float emptyWindowDiameter; // size-window diameter when it holds no channel-5 object
        float minIntensity;        // a cell whose green and red means are both below it is dropped
    };
    struct Tally
    {
        int green = 0, red = 0, unstained = 0;
        float sizeSum = 0, greenSum = 0, redSum = 0, liveGreenSum = 0, deadRedSum = 0;
    };
    // Modes 1 and 2 with every frame-sized image in place and, when needsScale, a usable scale.
    bool hasChannelImages(bool needsScale) const;
    // Empties m_FoundCells and zeroes the live, dead and cluster histograms.
    void clearCount();
    // Mean enclosing radius of the outer contours of mask whose calibrated diameter lies in
    // [minSize, maxSize]; returns how many were taken, or -1 when the mask has no contour.
    int meanRadius(const cv::Mat &mask, float minSize, float maxSize, float &mean) const;
    // The start of the two-colour finders: cleared results, the channel-5 mask, matched = overlay
    // AND channel-5 mask, and the mean radii of the matched objects up to maxSize and of all
    // overlay objects; false when either has none.
    bool startTwoColour(int maxSize, cv::Mat &matched, float &matchedRadius, float &allRadius);
    // The fluorescent objects of the overlay mask into m_FoundCells and m_ClusterHistogram.
    // True when a clump reached the seed search.
    bool findFluorescentObjects(const TwoColourSettings &settings, float matchedRadius, float allRadius);
    // Counts m_FoundCells by colour (thresholds as for the live/dead count) into the histograms
    // and the black tag image.
    Tally tallyColours(int minSize, int maxSize, float greenThreshold, float redThreshold, int *redHistogram);
    // The unstained objects of the channel-5 mask outside matched.
    void findUnstainedObjects(const cv::Mat &matched, int minRoundness, int maxMeanIntensity, float clusterFactor,
                              float peakTolerance, int windowRadius, bool split, float matchedRadius);
    void writeObjectList() const;
    double fluorescenceSample(int sampleType, int minSize, int maxSize, int minRoundness, int maxMeanIntensity,
                              float clusterFactor, float peakTolerance, float &avgRadius, int *histogramOut,
                              float &avgIntensity, bool split);

    // Scales picture into the result picture of outputSize (0 640 x 480, 1 1280 x 960, any other
    // value: picture itself), flips that when asked and returns its pixels.
    unsigned char *resultPicture(cv::Mat &picture, bool flip, int outputSize);
};

} // namespace Quorvan
