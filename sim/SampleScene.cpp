#include "SampleScene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr int Shift = 4;            // sub-pixel bits for OpenCV drawing
constexpr double ShiftScale = 1 << Shift;

float uniform(std::mt19937 &rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

SampleObject makeCell(std::mt19937 &rng, cv::Point2f centre, bool live)
{
    SampleObject cell;
    cell.kind = live ? SampleObject::LiveCell : SampleObject::DeadCell;
    cell.centre = centre;
    cell.radius = live ? uniform(rng, 5.5f, 9.0f) : uniform(rng, 3.5f, 5.5f);
    cell.aspect = uniform(rng, 0.78f, 1.0f);
    cell.angle = uniform(rng, 0.f, 180.f);
    cell.nucleusRadius = cell.radius * (live ? uniform(rng, 0.38f, 0.5f) : 0.7f);
    float shift = live ? cell.radius * 0.15f : 0.f;
    cell.nucleusOffset = cv::Point2f(uniform(rng, -shift, shift), uniform(rng, -shift, shift));
    cell.stain = uniform(rng, 0.7f, 1.3f);
    cell.tagged = live && uniform(rng, 0.f, 1.f) < 0.3f;
    return cell;
}

SampleObject makeDebris(std::mt19937 &rng, cv::Point2f centre)
{
    SampleObject debris;
    debris.kind = SampleObject::Debris;
    debris.centre = centre;
    debris.radius = uniform(rng, 0.8f, 3.0f);
    debris.stain = uniform(rng, 0.1f, 0.4f);
    const int corners = 5 + int(rng() % 4);
    for (int i = 0; i < corners; ++i) {
        float a = float(2 * M_PI) * (i + uniform(rng, -0.3f, 0.3f)) / corners;
        float r = debris.radius * uniform(rng, 0.5f, 1.0f);
        debris.outline.emplace_back(r * std::cos(a), r * std::sin(a));
    }
    return debris;
}

// Maps stage micrometres to fixed-point pixel coordinates of the drawing.
struct Mapping
{
    double scale;      // pixels per micrometre
    cv::Point2d origin; // pixel of the optical axis

    cv::Point px(cv::Point2f um) const
    {
        return cv::Point(int(std::lround((origin.x + um.x * scale) * ShiftScale)),
                         int(std::lround((origin.y + um.y * scale) * ShiftScale)));
    }
    cv::Size axes(float rUm, float aspect) const
    {
        double r = std::max(rUm * scale, 0.5) * ShiftScale;
        return cv::Size(int(std::lround(r)), int(std::lround(r * aspect)));
    }
};

void disc(cv::Mat &img, const Mapping &m, cv::Point2f centre, float rUm, float aspect, float angle, double value)
{
    cv::ellipse(img, m.px(centre), m.axes(rUm, aspect), angle, 0, 360, cv::Scalar(value), cv::FILLED, cv::LINE_AA, Shift);
}

void drawTrans(cv::Mat &img, const Mapping &m, const SampleObject &o, float resolutionUm)
{
    switch (o.kind) {
    case SampleObject::LiveCell: {
        // A refractile cell: a dark rim around a bright body with a brighter centre. The rim is a
        // fifth of the radius, but never narrower than the objective resolves: a real cell's edge
        // shows as a dark ring at least one resolution element wide, which is why it stays a
        // closed ring over the whole depth of field (a thinner one would wash out into the body).
        const float rim = std::max(o.radius * 0.2f, resolutionUm);
        disc(img, m, o.centre, o.radius, o.aspect, o.angle, 0.45);
        disc(img, m, o.centre, o.radius - rim, o.aspect, o.angle, 1.18);
        disc(img, m, o.centre + o.nucleusOffset, o.nucleusRadius, 1, 0, 1.4);
        break;
    }
    case SampleObject::DeadCell:
        disc(img, m, o.centre, o.radius, o.aspect, o.angle, 0.3);
        break;
    case SampleObject::Debris: {
        std::vector<cv::Point> pts;
        for (const cv::Point2f &p : o.outline)
            pts.push_back(m.px(o.centre + p));
        cv::fillPoly(img, std::vector<std::vector<cv::Point>>{pts}, cv::Scalar(0.55 + o.stain * 0.5), cv::LINE_AA, Shift);
        break;
    }
    }
}

void drawFluorescence(cv::Mat &img, const Mapping &m, const SampleObject &o, int filter)
{
    const bool live = o.kind == SampleObject::LiveCell;
    switch (filter) {
    case 1: // nuclear stain: every cell's nucleus, condensed and brighter in dead cells
        if (o.kind != SampleObject::Debris)
            disc(img, m, o.centre + o.nucleusOffset, o.nucleusRadius, live ? 1.f : 0.8f, o.angle, o.stain * (live ? 0.8 : 1.2));
        break;
    case 2: // cytoplasm of live cells, the nucleus darker; debris glows faintly
        if (live) {
            disc(img, m, o.centre, o.radius * 0.9f, o.aspect, o.angle, 0.55 * o.stain);
            disc(img, m, o.centre + o.nucleusOffset, o.nucleusRadius, 1, 0, 0.25 * o.stain);
        } else if (o.kind == SampleObject::Debris) {
            disc(img, m, o.centre, o.radius * 0.7f, 1, 0, o.stain * 0.5);
        }
        break;
    case 3: // a tagged subset of live cells
        if (o.tagged)
            disc(img, m, o.centre, o.radius * 0.9f, o.aspect, o.angle, 0.9 * o.stain);
        break;
    default:
        break;
    }
}

} // namespace

SampleScene::SampleScene(uint32_t seed, cv::Size2f areaUm) : m_area(areaUm)
{
    std::mt19937 rng(seed);
    auto anywhere = [&] {
        return cv::Point2f(uniform(rng, -m_area.width / 2, m_area.width / 2),
                           uniform(rng, -m_area.height / 2, m_area.height / 2));
    };
    // About 350 cells per square millimetre, a fifth of them dead, a tenth of the live ones in
    // clumps of 3 to 8 touching cells; and debris.
    const float mm2 = m_area.area() / 1e6f;
    const int singles = int(300 * mm2);
    for (int i = 0; i < singles; ++i)
        m_objects.push_back(makeCell(rng, anywhere(), uniform(rng, 0.f, 1.f) > 0.2f));
    const int clumps = int(8 * mm2);
    for (int c = 0; c < clumps; ++c) {
        cv::Point2f at = anywhere();
        const int members = 3 + int(rng() % 6);
        for (int k = 0; k < members; ++k) {
            SampleObject cell = makeCell(rng, at, uniform(rng, 0.f, 1.f) > 0.1f);
            m_objects.push_back(cell);
            float a = uniform(rng, 0.f, float(2 * M_PI));
            at += cv::Point2f(std::cos(a), std::sin(a)) * (cell.radius * 1.7f);
        }
    }
    const int debris = int(120 * mm2);
    for (int i = 0; i < debris; ++i)
        m_objects.push_back(makeDebris(rng, anywhere()));
}

cv::Mat SampleScene::draw(int filter, double umPerPixel, cv::Size size, double resolutionUm) const
{
    const bool trans = filter == 0;
    cv::Mat img(size, CV_32FC1, cv::Scalar(trans ? 1.0 : 0.02));
    const Mapping m{1.0 / umPerPixel, cv::Point2d((size.width - 1) / 2.0, (size.height - 1) / 2.0)};
    const cv::Rect2f field(float(-m.origin.x * umPerPixel), float(-m.origin.y * umPerPixel),
                           float(size.width * umPerPixel), float(size.height * umPerPixel));
    for (const SampleObject &o : m_objects) {
        const float reach = o.radius * 1.5f + float(umPerPixel);
        if (o.centre.x + reach < field.x || o.centre.x - reach > field.x + field.width
            || o.centre.y + reach < field.y || o.centre.y - reach > field.y + field.height)
            continue;
        if (trans)
            drawTrans(img, m, o, float(resolutionUm));
        else
            drawFluorescence(img, m, o, filter);
    }
    if (trans) {
        // The lamp lights the middle of the field best.
        cv::Mat vignette(size, CV_32FC1);
        const double r2max = m.origin.x * m.origin.x + m.origin.y * m.origin.y;
        for (int y = 0; y < size.height; ++y) {
            float *row = vignette.ptr<float>(y);
            for (int x = 0; x < size.width; ++x) {
                double dx = x - m.origin.x, dy = y - m.origin.y;
                row[x] = float(1.0 - 0.18 * (dx * dx + dy * dy) / r2max);
            }
        }
        cv::multiply(img, vignette, img);
    }
    return img;
}
