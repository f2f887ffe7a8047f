#pragma once
#include "VirtualInstrument.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// The frames the simulated camera delivered, for tests that trace a written picture back to its
// exposure: per frame when it was exposed (monotonic clock), what stood in the light path all the
// while, and a fingerprint of its pixels (its 12-bit samples at fixed places of the upright image,
// where every frame's own noise tells it from its neighbours). The oldest frames give way once
// capacity is reached. Thread-safe.
class FrameLog
{
public:
    struct Frame
    {
        uint64_t number = 0;   // 1 for the first frame logged
        int64_t beganUs = 0;   // its exposure
        int64_t endedUs = 0;
        VirtualInstrument::SteadyOptics optics;
        std::vector<uint16_t> samples; // at places()
    };

    explicit FrameLog(size_t capacity = 4096);

    void add(const cv::Mat &frame12, int64_t beganUs, int64_t endedUs, const VirtualInstrument::SteadyOptics &optics);
    std::vector<Frame> frames() const;
    void clear();

    // The fingerprint's places (x, y in the upright image), the same for every frame.
    static const std::vector<cv::Point> &places();

    // The frame a picture shows: its values at places() (8-bit pictures hold the sample >> 4,
    // 16-bit ones the sample << 4). The frame that agrees at the most places, or null when none
    // agrees at least at the share minAgreement; agreement receives the best share.
    static const Frame *match(const std::vector<Frame> &frames, const std::vector<int> &values, int bits,
                              double minAgreement, double *agreement = nullptr);

private:
    size_t m_capacity;
    uint64_t m_count = 0;
    mutable std::mutex m_mutex;
    std::deque<Frame> m_frames;
};
