#include "SampleRenderer.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double Magnifications[SampleRenderer::ObjectiveCount] = {4, 10, 20, 40, 60};
constexpr double Apertures[SampleRenderer::ObjectiveCount] = {0.10, 0.25, 0.40, 0.65, 0.80};
// Parfocal error of each objective: its focus lies this many steps above the first one's.
constexpr double ParfocalSteps[SampleRenderer::ObjectiveCount] = {0, 410, 870, 1230, 1540};
constexpr double CameraPixelUm = SampleRenderer::CameraPixelUm;
constexpr double ReductionLens = 0.655;
constexpr double GreenUm = 0.55; // wavelength of the transmitted light
// Tilt of the focal plane, motor steps per micrometre across the field (about 3 and 2 um per mm).
constexpr double TiltX = 0.003 * SampleRenderer::StepsPerUm;
constexpr double TiltY = -0.002 * SampleRenderer::StepsPerUm;
// Blur of each cached level, pixels.
constexpr double LevelSigma[] = {0, 0.75, 1.5, 3, 6, 12, 24, 48};
constexpr double LevelScale = 16384;  // stored intensity 1.0
// Signal at full light, unity gain, intensity 1.0: 12-bit units per millisecond of exposure.
constexpr double TransRate = 400;
constexpr double FluorescenceRate = 40;
constexpr double ReadNoise = 3;       // 12-bit units at unity gain
constexpr double ElectronsPerUnit = 4; // shot noise: variance = signal x gain / ElectronsPerUnit
constexpr int CachedStacks = 4;
static_assert(SampleRenderer::MaxParts <= CachedStacks, "a mixed frame's stacks are all cached at once");
constexpr int HotPixelCount = 12;

int clampObjective(int objective)
{
    return std::clamp(objective, 1, SampleRenderer::ObjectiveCount) - 1;
}

// A blurred copy; large blurs are done at a reduced size, which looks the same and costs little.
cv::Mat blurred(const cv::Mat &sharp, double sigma)
{
    cv::Mat out;
    if (sigma <= 0)
        return sharp.clone();
    if (sigma <= 6) {
        cv::GaussianBlur(sharp, out, cv::Size(), sigma);
        return out;
    }
    const double factor = sigma / 3;
    cv::Mat small;
    cv::resize(sharp, small, cv::Size(), 1 / factor, 1 / factor, cv::INTER_AREA);
    cv::GaussianBlur(small, small, cv::Size(), std::sqrt(9.0 - 0.25), 0, cv::BORDER_REFLECT);
    cv::resize(small, out, sharp.size(), 0, 0, cv::INTER_LINEAR);
    return out;
}

struct XorShift
{
    uint32_t state;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

} // namespace

SampleRenderer::SampleRenderer(uint32_t seed) : m_scene(seed)
{
    std::mt19937 rng(seed ^ 0x5eed);
    std::normal_distribution<float> normal;
    m_gauss.resize(1 << 16);
    for (float &g : m_gauss)
        g = normal(rng);
    // Hot pixels away from the border, so that the live display shows them too.
    for (int i = 0; i < HotPixelCount; ++i)
        m_hotPixels.emplace_back(16 + int(rng() % (Width - 32)), 32 + int(rng() % (Height - 64)));
}

double SampleRenderer::magnification(int objective)
{
    return Magnifications[clampObjective(objective)];
}

double SampleRenderer::numericalAperture(int objective)
{
    return Apertures[clampObjective(objective)];
}

double SampleRenderer::parfocalSteps(int objective)
{
    return ParfocalSteps[clampObjective(objective)];
}

double SampleRenderer::micrometresPerPixel(int objective)
{
    return CameraPixelUm / (magnification(objective) * ReductionLens);
}

double SampleRenderer::resolutionUm(int objective)
{
    return 0.61 * GreenUm / numericalAperture(objective);
}

double SampleRenderer::blurSigma(int objective, double defocusSteps)
{
    // The diffraction-limited spot (green light) and the defocus cone, added in quadrature.
    const double spotUm = 0.21 * GreenUm / numericalAperture(objective);
    const double coneUm = std::abs(defocusSteps / StepsPerUm) * numericalAperture(objective) * 0.6;
    return std::hypot(spotUm, coneUm) / micrometresPerPixel(objective);
}

double SampleRenderer::trueFocusSteps(int objective, double xUm, double yUm) const
{
    return m_focusBase + parfocalSteps(objective) + TiltX * xUm + TiltY * yUm;
}

double SampleRenderer::trueFocusStepsAtPixel(int objective, double x, double y) const
{
    const double um = micrometresPerPixel(objective);
    return trueFocusSteps(objective, (x - (Width - 1) / 2.0) * um, (y - (Height - 1) / 2.0) * um);
}

const SampleRenderer::BlurStack &SampleRenderer::stackFor(int filter, int objective)
{
    auto it = std::find_if(m_stacks.begin(), m_stacks.end(),
                           [&](const BlurStack &s) { return s.filter == filter && s.objective == objective; });
    if (it != m_stacks.end()) {
        m_stacks.splice(m_stacks.begin(), m_stacks, it);
        return m_stacks.front();
    }
    BlurStack stack;
    stack.filter = filter;
    stack.objective = objective;
    const cv::Mat sharp = m_blank ? cv::Mat(Height, Width, CV_32FC1, cv::Scalar(filter == 0 ? 1.0 : 0.0))
                                  : m_scene.draw(filter, micrometresPerPixel(objective), cv::Size(Width, Height),
                                                 resolutionUm(objective));
    for (int i = 0; i < LevelCount; ++i)
        blurred(sharp, LevelSigma[i]).convertTo(stack.levels[i], CV_16UC1, LevelScale);
    m_stacks.push_front(std::move(stack));
    if (int(m_stacks.size()) > CachedStacks)
        m_stacks.pop_back();
    return m_stacks.front();
}

void SampleRenderer::blockBlend(const SampleView &view, std::vector<int> &level, std::vector<float> &weight) const
{
    const int bw = Width / Block, bh = Height / Block;
    level.resize(size_t(bw * bh));
    weight.resize(level.size());
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            const double focus = trueFocusStepsAtPixel(view.objective, bx * Block + Block / 2.0, by * Block + Block / 2.0);
            const double sigma = std::min(blurSigma(view.objective, view.stageSteps - focus), LevelSigma[LevelCount - 1]);
            int i = 0;
            while (i < LevelCount - 2 && sigma > LevelSigma[i + 1])
                ++i;
            const size_t b = size_t(by * bw + bx);
            level[b] = i;
            weight[b] = float((sigma - LevelSigma[i]) / (LevelSigma[i + 1] - LevelSigma[i]));
        }
    }
}

void SampleRenderer::setBlankField(bool blank)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (blank != m_blank)
        m_stacks.clear(); // the cached stacks show the other field
    m_blank = blank;
}

void SampleRenderer::render(const SampleView &view, cv::Mat &frame12)
{
    render(std::vector<SampleView>{view}, frame12);
}

void SampleRenderer::render(const std::vector<SampleView> &views, cv::Mat &frame12)
{
    frame12.create(Height, Width, CV_16UC1);
    std::vector<SampleView> parts = views;
    if (parts.empty())
        parts.push_back(SampleView{0, 1, 0, 0, 1, 0.0});
    std::stable_sort(parts.begin(), parts.end(), [](const SampleView &a, const SampleView &b) { return a.light > b.light; });
    // A dark part adds nothing; the first stays, for a frame that is dark all through.
    while (parts.size() > 1 && (int(parts.size()) > MaxParts || parts.back().light <= 0))
        parts.pop_back();
    const SampleView &view = parts.front();
    const double gain = std::max(view.gain, 0.0);

    // Per part: its blur stack, its per-block level and weight, and its signal per stored unit.
    struct Part
    {
        const BlurStack *stack = nullptr;
        std::vector<int> level;
        std::vector<float> weight;
        float perUnit = 0;
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    std::array<Part, MaxParts> drawn;
    const int partCount = int(parts.size());
    for (int p = 0; p < partCount; ++p) {
        const int filter = std::clamp(parts[size_t(p)].filter, 0, 3);
        const int objective = clampObjective(parts[size_t(p)].objective) + 1;
        // At most MaxParts stacks are asked for, fewer than are cached: none evicts another.
        drawn[size_t(p)].stack = &stackFor(filter, objective);
        blockBlend(SampleView{filter, objective, view.stageSteps}, drawn[size_t(p)].level, drawn[size_t(p)].weight);
        drawn[size_t(p)].perUnit = float((filter == 0 ? TransRate : FluorescenceRate) * std::max(view.exposureMs, 0.0)
                                         * std::clamp(parts[size_t(p)].light, 0.0, 1.0) * gain / LevelScale);
    }

    // Noise sigma by signal level (12-bit units).
    std::vector<float> sigma(MaxValue + 1);
    for (int s = 0; s <= MaxValue; ++s)
        sigma[size_t(s)] = m_noise ? float(std::sqrt(ReadNoise * ReadNoise * gain * gain
                                                     + std::max(0, s - BlackLevel) * gain / ElectronsPerUnit))
                                   : 0.f;
    const uint64_t frameNumber = ++m_frameNumber;
    const int blocksPerRow = Width / Block;

    cv::parallel_for_(cv::Range(0, Height / Block), [&](const cv::Range &range) {
        std::array<float, Block> signal;
        for (int by = range.start; by < range.end; ++by) {
            XorShift rng{uint32_t(frameNumber * 2654435761u + uint32_t(by) * 40503u) | 1u};
            for (int y = by * Block; y < (by + 1) * Block; ++y) {
                uint16_t *out = frame12.ptr<uint16_t>(y);
                for (int bx = 0; bx < blocksPerRow; ++bx) {
                    const size_t b = size_t(by * blocksPerRow + bx);
                    signal.fill(float(BlackLevel));
                    for (int p = 0; p < partCount; ++p) {
                        const Part &part = drawn[size_t(p)];
                        const uint16_t *lo = part.stack->levels[size_t(part.level[b])].ptr<uint16_t>(y) + bx * Block;
                        const uint16_t *hi = part.stack->levels[size_t(part.level[b]) + 1].ptr<uint16_t>(y) + bx * Block;
                        const float w = part.weight[b];
                        const float a = part.perUnit * (1 - w), c = part.perUnit * w;
                        for (int x = 0; x < Block; ++x)
                            signal[size_t(x)] += lo[x] * a + hi[x] * c;
                    }
                    uint16_t *dst = out + bx * Block;
                    for (int x = 0; x < Block; ++x) {
                        float v = signal[size_t(x)];
                        const int s = std::min(int(v), int(MaxValue));
                        v += sigma[size_t(s)] * m_gauss[rng.next() >> 16];
                        dst[x] = uint16_t(std::clamp(int(v + 0.5f), 0, int(MaxValue)));
                    }
                }
            }
        }
    });

    const int hot = std::clamp(int(BlackLevel + (1200 + 40 * view.exposureMs) * gain), 0, int(MaxValue));
    for (const cv::Point &p : m_hotPixels)
        frame12.at<uint16_t>(p) = uint16_t(hot);
}
