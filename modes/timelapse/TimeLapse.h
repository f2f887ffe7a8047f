#pragma once
#include "TTimeLapseIntervalType.h"
#include "ThumbnailInfo.h"

#include <QObject>
#include <vector>

// The plan of one time-lapse series: total time, interval, how many frames that makes, how many
// have been taken, and the thumbnails of the frames saved so far. The page fills it at Run, asks
// canRun, counts frames into it and hands its thumbnails to the browser.
class TimeLapse : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxFrames = 10000;

    explicit TimeLapse(QObject *parent = nullptr);
    ~TimeLapse() override;

    // Stores the plan (interval in units of type) and resets both counters.
    void setTimelapseParameters(int hours, int minutes, int seconds, float interval, TTimeLapseIntervalType type,
                                int exposure);
    // 0 when the plan can run; else the start code of the first failing check (1, 3, 7, 5).
    // Fixes totalCount (both ends counted) once the timing checks pass.
    int canRun(int bitDepth, bool pseudoColor);
    // The longest a frame takes from its capture tick until it is saved and shown, in ms: the
    // frame in flight at the request ends, the still is exposed and read (two frame periods of the
    // sensor at that depth), then it is saved and shown (longer in pseudo colour). The next frame's
    // light may come on meanwhile: it then stays on, lit for longer than its lead.
    static int frameMs(int exposure, int bitDepth, bool pseudoColor);

    int hours() const { return m_nHours; }
    int minutes() const { return m_nMinutes; }
    int seconds() const { return m_nSeconds; }
    int totalTime() const { return m_nTotalTime; } // seconds
    float interval() const { return m_fInterval; } // seconds
    TTimeLapseIntervalType intervalType() const { return m_IntervalType; }
    int exposure() const { return m_nExposure; } // ms
    int count() const { return m_nCount; }
    int totalCount() const { return m_nTotalCount; }
    void increaseCount() { ++m_nCount; }
    void setTotalCount(int total) { m_nTotalCount = total; }

    std::vector<ThumbnailInfo> &thumbnails() { return m_Thumbnails; }
    void pushThumbnail(ThumbnailInfo &info) { m_Thumbnails.push_back(info); }
    void clearThumbnails() { m_Thumbnails.clear(); }

    // Empties the raw-frame folder "/media/VANTOR SSD/.TimeLapse/" (removed and made again):
    // 1 on success, -1 when it could not be removed (nothing is made again then).
    int deleteRawData();

private:
    int m_nHours = 0;
    int m_nMinutes = 0;
    int m_nSeconds = 0;
    int m_nTotalTime = 0;
    float m_fInterval = 0.0f;
    TTimeLapseIntervalType m_IntervalType = TIMELAPSE_INTERVAL_SECOND;
    int m_nTotalCount = 0;
    int m_nCount = 0;
    int m_nExposure = 0;
    std::vector<ThumbnailInfo> m_Thumbnails;
};
