// Bitmap fills: the picture placed by the fill's matrix (one bitmap pixel is
// 20 twips at scale 1), tiled or with its edge pixels extended, sampled
// bilinearly or nearest. Sampling works on premultiplied pixels with integer
// weights, so the result does not depend on the platform's floating point
// beyond the matrix itself.
#include "bitmap.h"

#include "int_conv.h"

#include <cmath>

namespace refplayer::engine {

namespace {

class BitmapShader final : public Shader {
public:
    BitmapShader(const BitmapDef& bitmap, const Matrix& toBitmap, bool repeat, bool smooth, const ColorTransform& color)
        : px_(bitmap.pixels.data()), w_(bitmap.width), h_(bitmap.height), toBitmap_(toBitmap), repeat_(repeat),
          smooth_(smooth), color_(color), identity_(color.isIdentity())
    {
    }

    void shadeRow(int y, int x, int count, uint32_t* out) const override
    {
        for (int i = 0; i < count; ++i) {
            const Point p = toBitmap_.apply(x + i + 0.5, y + 0.5);
            uint32_t v;
            if (smooth_) {
                // Pixel centres sit at half-pixel positions.
                const double u = p.x - 0.5, t = p.y - 0.5;
                const double fu = std::floor(u), ft = std::floor(t);
                const uint32_t wx = weight(u - fu), wy = weight(t - ft);
                const int x0 = wrap(fu, w_), x1 = wrap(fu + 1, w_), y0 = wrap(ft, h_), y1 = wrap(ft + 1, h_);
                v = mix(at(x0, y0), at(x1, y0), at(x0, y1), at(x1, y1), wx, wy);
            } else {
                v = at(wrap(std::floor(p.x), w_), wrap(std::floor(p.y), h_));
            }
            out[i] = identity_ ? v : transform(v);
        }
    }

private:
    // A fraction 0..1 as 0..256.
    static uint32_t weight(double f)
    {
        return f >= 0 && f < 1 ? static_cast<uint32_t>(f * 256 + 0.5) : 0;
    }

    // A sample position (already floored) to a pixel index: tiled, or held to the edge.
    int wrap(double v, int size) const
    {
        if (!std::isfinite(v))
            return 0;  // a degenerate matrix: any pixel will do, the first is as good
        if (repeat_) {
            double m = std::fmod(v, static_cast<double>(size));
            if (m < 0)
                m += size;
            return num::truncClamp<int>(m, 0, size - 1);
        }
        return num::truncClamp<int>(v, 0, size - 1);
    }

    uint32_t at(int x, int y) const { return px_[static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x)]; }

    static uint32_t mix(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t wx, uint32_t wy)
    {
        const uint32_t w00 = (256 - wx) * (256 - wy), w10 = wx * (256 - wy), w01 = (256 - wx) * wy, w11 = wx * wy;
        uint32_t result = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t sum = ((a >> shift) & 0xFF) * w00 + ((b >> shift) & 0xFF) * w10 +
                                 ((c >> shift) & 0xFF) * w01 + ((d >> shift) & 0xFF) * w11;
            // The weights add to 65536, so each channel stays within 0..255
            // and no colour climbs above its alpha.
            result |= ((sum + 32768) >> 16) << shift;
        }
        return result;
    }

    // Colour transforms work on straight colour.
    uint32_t transform(uint32_t v) const
    {
        const uint32_t a = v >> 24;
        Rgba c{0, 0, 0, 0};
        if (a) {
            auto straight = [a](uint32_t ch) { return static_cast<uint8_t>(std::min<uint32_t>(255, (ch * 255 + a / 2) / a)); };
            c = Rgba{straight((v >> 16) & 0xFF), straight((v >> 8) & 0xFF), straight(v & 0xFF), static_cast<uint8_t>(a)};
        }
        return premultiply(color_.apply(c));
    }

    const uint32_t* px_;
    int w_, h_;
    Matrix toBitmap_;
    bool repeat_, smooth_;
    ColorTransform color_;
    bool identity_;
};

}  // namespace

std::unique_ptr<Shader> makeBitmapShader(const MovieDef& movie, const FillStyle& fill, const Matrix& world,
                                         const ColorTransform& color)
{
    const Character* c = movie.character(fill.bitmapId);
    if (!c || c->kind != Character::Kind::Bitmap)
        return nullptr;
    const auto& bitmap = static_cast<const BitmapDef&>(*c);
    if (!bitmap.usable() || bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.pixels.size() != static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height))
        return nullptr;
    return std::make_unique<BitmapShader>(bitmap, (world * fill.matrix).inverted(), fill.bitmapRepeat,
                                          fill.bitmapSmooth, color);
}

}  // namespace refplayer::engine
