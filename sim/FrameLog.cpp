#include "FrameLog.h"

#include "SampleRenderer.h"

#include <random>

FrameLog::FrameLog(size_t capacity) : m_capacity(std::max<size_t>(capacity, 1))
{
}

const std::vector<cv::Point> &FrameLog::places()
{
    static const std::vector<cv::Point> points = [] {
        std::mt19937 rng(0xf1a9);
        std::vector<cv::Point> out;
        for (int i = 0; i < 2048; ++i)
            out.emplace_back(8 + int(rng() % (SampleRenderer::Width - 16)), 8 + int(rng() % (SampleRenderer::Height - 16)));
        return out;
    }();
    return points;
}

void FrameLog::add(const cv::Mat &frame12, int64_t beganUs, int64_t endedUs,
                   const VirtualInstrument::SteadyOptics &optics)
{
    Frame frame;
    frame.beganUs = beganUs;
    frame.endedUs = endedUs;
    frame.optics = optics;
    frame.samples.reserve(places().size());
    for (const cv::Point &p : places())
        frame.samples.push_back(frame12.at<uint16_t>(p));
    std::lock_guard<std::mutex> lock(m_mutex);
    frame.number = ++m_count;
    m_frames.push_back(std::move(frame));
    while (m_frames.size() > m_capacity)
        m_frames.pop_front();
}

std::vector<FrameLog::Frame> FrameLog::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_frames.begin(), m_frames.end()};
}

void FrameLog::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

const FrameLog::Frame *FrameLog::match(const std::vector<Frame> &frames, const std::vector<int> &values, int bits,
                                       double minAgreement, double *agreement)
{
    const Frame *best = nullptr;
    size_t bestAgreeing = 0;
    for (const Frame &frame : frames) {
        if (frame.samples.size() != values.size())
            continue;
        size_t agreeing = 0;
        for (size_t i = 0; i < values.size(); ++i)
            agreeing += (bits == 16 ? values[i] >> 4 : values[i]) == (bits == 16 ? frame.samples[i] : frame.samples[i] >> 4);
        if (agreeing > bestAgreeing) {
            bestAgreeing = agreeing;
            best = &frame;
        }
    }
    const double share = values.empty() ? 0.0 : double(bestAgreeing) / double(values.size());
    if (agreement)
        *agreement = share;
    return share >= minAgreement ? best : nullptr;
}
