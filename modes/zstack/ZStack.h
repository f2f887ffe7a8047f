#pragma once
#include "ThumbnailInfo.h"

#include <QObject>
#include <vector>

// One focus series: its start and end on the focus axis (micrometres), the slice interval or the
// number of slices, the signed motor step between two slices, the slices taken so far and their
// thumbnails. The Z-stack page fills it before a run, asks canStart whether the parameters make a
// series, and then drives the stage from step and imageNumber.
class ZStack : public QObject
{
    Q_OBJECT
public:
    // Result codes of canStart; the page adds its own (1, 2, 9, 10).
    enum Result : int {
        OK = 0,
        NO_INTERVAL = 3,     // interval chosen and zero
        NO_IMAGE_NUMBER = 4, // image number chosen and zero
        BAD_DISTANCE = 5,    // equal ends, interval not fitting, fewer than 2 slices, or no motor step
        TOO_FEW_IMAGES = 6,  // image number chosen and below 2
        TOO_MANY_IMAGES = 8, // more than kMaxImages slices
    };
    static constexpr int kMaxImages = 1000;

    explicit ZStack(QObject *parent = nullptr);
    ~ZStack() override;

    // Stores the parameters as given; sign follows start and end. Nothing is checked here.
    void setZStackParameter(float start, float end, float interval, bool intervalOn, int imageNumber, bool imageNumberOn);
    // Checks the parameters in a fixed order (the first failure decides) and, on OK, derives the
    // missing one of interval and image number, the motor step, and clears count and thumbnails.
    // bits is the page's image depth; it does not change the result.
    int canStart(int bits);

    float start() const { return m_fStart; }
    float end() const { return m_fEnd; }
    float interval() const { return m_fInterval; }
    int imageNumber() const { return m_nImageNumber; }
    int count() const { return m_nCount; }
    int step() const { return m_nStep; }
    int sign() const { return m_nSign; }
    bool intervalOn() const { return m_bIntervalOn; }
    bool imageNumberOn() const { return m_bImageNumberOn; }
    // The real spacing of two slices: the motor step in micrometres, without sign.
    float stepMicrometres() const;

    std::vector<ThumbnailInfo> &thumbnails() { return m_Thumbnails; }
    void increaseCount() { ++m_nCount; }
    void pushThumbnail(const ThumbnailInfo &info);
    void clearThumbnails();
    // The end of a stack: nothing to do for the model.
    void completed() {}

    // Removes the temporary stack folder "/media/VANTOR SSD/.ZStack/" and makes it again: 1, or
    // -1 when it could not be removed (nothing is made then).
    static int deleteRawData();

private:
    std::vector<ThumbnailInfo> m_Thumbnails;
    float m_fStart = 0.0f;
    float m_fEnd = 0.0f;
    float m_fInterval = 0.0f;
    bool m_bIntervalOn = true;
    int m_nImageNumber = 0;
    bool m_bImageNumberOn = false;
    int m_nStep = 0;
    int m_nCount = 0;
    int m_nSign = 1;
};
