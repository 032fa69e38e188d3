#include "gradient.h"

#include <algorithm>
#include <cmath>

namespace refplayer::engine {

namespace {

double toLinear(uint8_t v)
{
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

uint8_t fromLinear(double l)
{
    const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    return static_cast<uint8_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255));
}

class GradientShader final : public Shader {
public:
    GradientShader(const FillStyle& fill, const Matrix& world, const ColorTransform& color)
        : kind_(fill.kind), spread_(fill.spread), focal_(std::clamp(fill.focal, -0.98, 0.98))
    {
        toGradient_ = (world * fill.matrix).inverted();
        std::vector<std::pair<int, Rgba>> stops;
        for (const GradientStop& s : fill.stops)
            stops.emplace_back(s.ratio, color.apply(s.color));
        for (int i = 0; i < 256; ++i) {
            Rgba c;
            if (i <= stops.front().first) {
                c = stops.front().second;
            } else if (i >= stops.back().first) {
                c = stops.back().second;
            } else {
                size_t k = 1;
                while (k < stops.size() && stops[k].first < i)
                    ++k;
                const auto& [r0, c0] = stops[k - 1];
                const auto& [r1, c1] = stops[k];
                double t = r1 == r0 ? 1.0 : static_cast<double>(i - r0) / (r1 - r0);
                // t is within 0..1, so the mix stays between the two channels.
                auto mix = [t](uint8_t a, uint8_t b) { return static_cast<uint8_t>(std::lround(a + (b - a) * t)); };
                auto mixLinear = [t](uint8_t a, uint8_t b) {
                    return fromLinear(toLinear(a) + (toLinear(b) - toLinear(a)) * t);
                };
                if (fill.linearRgb)
                    c = Rgba{mixLinear(c0.r, c1.r), mixLinear(c0.g, c1.g), mixLinear(c0.b, c1.b), mix(c0.a, c1.a)};
                else
                    c = Rgba{mix(c0.r, c1.r), mix(c0.g, c1.g), mix(c0.b, c1.b), mix(c0.a, c1.a)};
            }
            lut_[i] = premultiply(c);
        }
    }

    void shadeRow(int y, int x, int count, uint32_t* out) const override
    {
        for (int i = 0; i < count; ++i) {
            Point p = toGradient_.apply(x + i + 0.5, y + 0.5);
            double t;
            if (kind_ == FillStyle::Kind::LinearGradient) {
                t = (p.x + 16384) / 32768;
            } else if (kind_ == FillStyle::Kind::FocalGradient && focal_ != 0) {
                // Distance along the ray from the focal point, as a fraction of
                // the way to the circle.
                double fx = focal_ * 16384;
                double dx = p.x - fx, dy = p.y;
                double len = std::sqrt(dx * dx + dy * dy);
                if (len < 1e-9) {
                    t = 0;
                } else {
                    double ux = dx / len;
                    double b = fx * ux;
                    double edge = -b + std::sqrt(b * b - (fx * fx - 16384.0 * 16384.0));
                    t = edge > 0 ? len / edge : 1;
                }
            } else {
                t = std::sqrt(p.x * p.x + p.y * p.y) / 16384;
            }
            out[i] = lut_[static_cast<int>(std::min(spreadPosition(t, spread_) * 255 + 0.5, 255.0))];
        }
    }

private:
    FillStyle::Kind kind_;
    uint8_t spread_;
    double focal_;
    Matrix toGradient_;
    uint32_t lut_[256];
};

}  // namespace

double spreadPosition(double t, uint8_t spread)
{
    if (!std::isfinite(t))
        return 0;  // a degenerate matrix's NaN too
    switch (spread) {
    case 1: {  // reflect: there and back, every other span mirrored
        const double m = std::fmod(std::fabs(t), 2.0);
        return m > 1 ? 2 - m : m;
    }
    case 2:  // repeat
        return t - std::floor(t);
    default:  // pad (and the reserved value)
        return std::clamp(t, 0.0, 1.0);
    }
}

std::unique_ptr<Shader> makeGradientShader(const FillStyle& fill, const Matrix& world, const ColorTransform& color)
{
    if (fill.stops.empty())
        return nullptr;
    return std::make_unique<GradientShader>(fill, world, color);
}

}  // namespace refplayer::engine
